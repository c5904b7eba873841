#include "app/chart/PlotFrame.h"

#include <QVBoxLayout>
#include <qcustomplot.h>

namespace vinsk {

TPlotFrame MakePlotFrame(QWidget* owner, const QString& plotName)
{
    TPlotFrame f;
    f.Plot = new QCustomPlot(owner);
    f.Plot->setObjectName(plotName);
    f.Plot->setCursor(Qt::CrossCursor);
    f.Plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(f.Plot);

    f.Plot->plotLayout()->insertRow(0);
    f.Title = new QCPTextElement(f.Plot, QString(), QFont(QStringLiteral("Arial"), 12, QFont::Bold));
    f.Plot->plotLayout()->addElement(0, 0, f.Title);
    for (QCPAxis* axis : {f.Plot->xAxis, f.Plot->yAxis}) {
        axis->setLabelFont(QFont(QStringLiteral("Arial"), 10));
        axis->setTickLabelFont(QFont(QStringLiteral("Arial"), 9));
    }
    return f;
}

} // namespace vinsk
