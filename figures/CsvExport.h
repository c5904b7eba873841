// The chart's points as a semicolon-separated table.
#pragma once

#include <stdexcept>
#include <string>

#include "figures/ChartModel.h"

namespace vinsk {

// "bottom caption; left caption", then "x; y" for every point in the
// chart's order; every line ends with CR LF.
std::string ChartCsvText(const TChartModel& chart, char decimalSep);

// The file layer's "Cannot create file <name>", with the system's error
// number for callers that add the reason.
class ECreateFileError : public std::runtime_error {
public:
    ECreateFileError(const std::string& message, int error) : std::runtime_error(message), Error(error) {}
    int Error; // errno, 0 when unknown
};

// Writes ChartCsvText to fileName, creating or replacing it as a whole. Throws
// ECreateFileError("Cannot create file " + fileName) when it cannot.
void SaveChartCsv(const TChartModel& chart, const std::string& fileName, char decimalSep);

} // namespace vinsk
