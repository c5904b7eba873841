#include "figures/CsvExport.h"

#include <fstream>
#include <stdexcept>

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
    const std::string text = ChartCsvText(chart, decimalSep);
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("Cannot create file " + fileName);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out)
        throw std::runtime_error("Cannot write file " + fileName);
}

} // namespace vinsk
