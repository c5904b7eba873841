// The frame the chart widgets share: a QCustomPlot filling its owner,
// dragged and zoomed with the mouse, a bold title row above the axes, and
// the fonts the figures are drawn with.
#pragma once

#include <QString>

class QWidget;
class QCustomPlot;
class QCPTextElement;

namespace vinsk {

struct TPlotFrame {
    QCustomPlot* Plot = nullptr;
    QCPTextElement* Title = nullptr;
};

TPlotFrame MakePlotFrame(QWidget* owner, const QString& plotName);

} // namespace vinsk
