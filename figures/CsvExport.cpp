#include "figures/CsvExport.h"

#include "common/AtomicFile.h"
#include "common/NumText.h"

namespace vinsk {

std::string ChartCsvText(const TChartModel& chart, char decimalSep)
{
    std::string text = chart.BottomCaption + "; " + chart.LeftCaption + "\r\n";
    for (const TChartPoint& p : chart.Points)
        text += FloatText(p.X, decimalSep) + "; " + FloatText(p.Y, decimalSep) + "\r\n";
    return text;
}

void SaveChartCsv(const TChartModel& chart, const std::string& fileName, char decimalSep)
{
    // The old file stays as it was unless the whole new one is written.
    SaveWholeFile(fileName, ChartCsvText(chart, decimalSep));
}

} // namespace vinsk
