// Brightness along the trail to the periodic error of the drive in arc
// seconds: a sample brighter than the series' mean counts as a positive
// error, a fainter one as a negative error.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/TrailState.h"
#include "common/Status.h"
#include "setup/Experiment.h"

namespace vinsk {

inline constexpr long double ArcSecondsPerRadian = 206264.80624709636L;

// Angle of one sampling step in arc seconds for the trail START-STOP,
// raised to 1.0 when smaller.
double StepAngle(TIntPoint start, TIntPoint stop, const TExperiment& experiment);

// Converts y in place and posts the measurement error of the result on the
// prompt panel; returns the text posted, if any. A zero focal length fails
// with EZeroDivide (EInvalidOp if the pixel size is zero too).
std::optional<std::string> BrightnessToPE(std::vector<double>& y, const TTrailState& trail, const TExperiment& experiment,
                    TStatusPanels& status, char decimalSep);

// "Measurement error: +/-" + |Round(e * 10) / 10| + "%" on the prompt panel with
// e = 100 * mean(pe), only when |e| > 0.1; otherwise the panel keeps its text.
// Returns the text posted, if any.
std::optional<std::string> PostMeasurementError(const std::vector<double>& pe, TStatusPanels& status, char decimalSep);

} // namespace vinsk
