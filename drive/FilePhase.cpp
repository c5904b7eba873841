#include "drive/FilePhase.h"

#include <limits>

namespace vinsk {

TPhaseInput PhaseWithFileValues(TPhaseInput p, const TFileSetupValues& v)
{
    if (v.MotorStart) {
        p.HaveMotorStart = true;
        p.MotorStart = *v.MotorStart;
        p.MotorStartSigma = v.MotorStartSigma.value_or(std::numeric_limits<double>::quiet_NaN());
    }
    if (v.StepsPerWorm)
        p.StepsPerWorm = *v.StepsPerWorm;
    if (v.Hemisphere)
        p.Hemisphere = *v.Hemisphere;
    return p;
}

} // namespace vinsk
