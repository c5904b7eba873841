#include "drive/FilePhase.h"

namespace vinsk {

TPhaseInput PhaseWithFileValues(TPhaseInput p, const TFileSetupValues& v)
{
    if (v.MotorStart) {
        p.HaveMotorStart = true;
        p.MotorStart = *v.MotorStart;
    }
    if (v.StepsPerWorm)
        p.StepsPerWorm = *v.StepsPerWorm;
    if (v.Hemisphere)
        p.Hemisphere = *v.Hemisphere;
    return p;
}

} // namespace vinsk
