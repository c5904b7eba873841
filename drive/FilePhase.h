// The worm's phase that a picture's file carries (the VNSK header keys a
// capture through INDI writes), as the PEC files' phase inputs.
#pragma once

#include "drive/PecFiles.h"
#include "setup/FileValues.h"

namespace vinsk {

// `p` with each value the file holds in place of its own.
TPhaseInput PhaseWithFileValues(TPhaseInput p, const TFileSetupValues& v);

} // namespace vinsk
