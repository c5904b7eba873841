// The chart's points as a semicolon-separated table.
#pragma once

#include <string>

#include "figures/ChartModel.h"

namespace vinsk {

// "bottom caption; left caption", then "x; y" for every point in the
// chart's order; every line ends with CR LF.
std::string ChartCsvText(const TChartModel& chart, char decimalSep);

// Writes ChartCsvText to fileName, creating or replacing it as a whole. Throws
// EFileWriteError("Cannot create file " + fileName) when it cannot.
void SaveChartCsv(const TChartModel& chart, const std::string& fileName, char decimalSep);

} // namespace vinsk
