#include "app/chart/Chart1.h"
#include "app/chart/PlotFrame.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include <QBuffer>
#include <qcustomplot.h>

#include "app/metafile/MetafileDevice.h"
#include "common/AtomicFile.h"

namespace vinsk {
namespace {

// Room around the data, so the first and last points are not under an axis.
constexpr double Margin = 0.025;

// Through the same whole-file save as the CSV text: the file appears, or is
// replaced, only when completely written.
void WriteBytes(const QString& path, std::string_view bytes)
{
    SaveWholeFile(path.toStdString(), bytes);
}

void WriteBytes(const QString& path, const std::vector<std::uint8_t>& bytes)
{
    WriteBytes(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

struct TSpan {
    double Lo = 0;
    double Hi = 0;
};

// A range with the margin added; an empty span is opened up first.
QCPRange Padded(TSpan s, bool logarithmic)
{
    if (logarithmic) {
        if (s.Hi <= s.Lo) {
            s.Lo /= 2;
            s.Hi *= 2;
        }
        const double f = std::pow(s.Hi / s.Lo, Margin);
        return {s.Lo / f, s.Hi * f};
    }
    if (s.Hi <= s.Lo) {
        const double d = s.Lo == 0 ? 1 : std::abs(s.Lo) * 0.1;
        s.Lo -= d;
        s.Hi += d;
    }
    const double d = (s.Hi - s.Lo) * Margin;
    return {s.Lo - d, s.Hi + d};
}

} // namespace

TChart1::TChart1(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Chart1"));
    const TPlotFrame frame = MakePlotFrame(this, QStringLiteral("Chart1Plot"));
    FPlot = frame.Plot;
    FTitle = frame.Title;

    // Above the axes: a click near an axis goes to the axis on a lower
    // layer, so points close to the edge of the plot could not be clicked.
    FPlot->addLayer(QStringLiteral("series"), FPlot->layer(QStringLiteral("axes")), QCustomPlot::limAbove);
    FSeries = FPlot->addGraph();
    FSeries->setLayer(QStringLiteral("series"));
    FSeries->setObjectName(QStringLiteral("Series1"));
    FSeries->setName(QStringLiteral("Series1"));
    FSeries->setPen(QPen(Qt::red, 2));
    // Segments instead of one joined polyline: a 2-pixel antialiased
    // polyline of thousands of points takes over ten times as long to draw.
    // Metafiles keep their polylines.
    FPlot->setPlottingHint(QCP::phFastPolylines, true);
    FSeries->setLineStyle(QCPGraph::lsLine);
    FSeries->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    FSeries->removeFromLegend();
    FPlot->legend->setVisible(false);

    connect(FPlot, &QCustomPlot::plottableClick, this,
            [this](QCPAbstractPlottable* plottable, int dataIndex, QMouseEvent*) {
                if (plottable == FSeries && dataIndex >= 0 && dataIndex < Count())
                    emit ClickSeries(dataIndex);
            });

    SetTitle(QString::fromUtf8(InitialChartTitle));
    SetBottomCaption(QString::fromUtf8(InitialBottomCaption));
    SetLeftCaption(QString::fromUtf8(InitialLeftCaption));
    FitAxes();
}

TChart1::~TChart1() = default;

void TChart1::SetTitle(const QString& title)
{
    FTitle->setText(title);
    FPlot->replot(QCustomPlot::rpQueuedReplot);
}

QString TChart1::Title() const
{
    return FTitle->text();
}

void TChart1::SetBottomCaption(const QString& caption)
{
    FPlot->xAxis->setLabel(caption);
    FPlot->replot(QCustomPlot::rpQueuedReplot);
}

QString TChart1::BottomCaption() const
{
    return FPlot->xAxis->label();
}

void TChart1::SetLeftCaption(const QString& caption)
{
    FPlot->yAxis->setLabel(caption);
    FPlot->replot(QCustomPlot::rpQueuedReplot);
}

QString TChart1::LeftCaption() const
{
    return FPlot->yAxis->label();
}

void TChart1::SetPoints(std::vector<TChartPoint> points)
{
    SortChartPoints(points);
    FPoints = std::move(points);
    QVector<QCPGraphData> data;
    data.reserve(static_cast<qsizetype>(FPoints.size()));
    for (const TChartPoint& p : FPoints)
        data.append(QCPGraphData(p.X, p.Y));
    FSeries->data()->set(data, true);
    FitAxes();
}

void TChart1::SetBottomLogarithmic(bool on)
{
    if (on) {
        FPlot->xAxis->setScaleType(QCPAxis::stLogarithmic);
        FPlot->xAxis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
    } else {
        FPlot->xAxis->setScaleType(QCPAxis::stLinear);
        FPlot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    }
    FitAxes();
}

bool TChart1::BottomLogarithmic() const
{
    return FPlot->xAxis->scaleType() == QCPAxis::stLogarithmic;
}

void TChart1::Show(const TChartModel& model)
{
    SetTitle(QString::fromStdString(model.Title));
    SetBottomCaption(QString::fromStdString(model.BottomCaption));
    SetLeftCaption(QString::fromStdString(model.LeftCaption));
    SetPoints(model.Points);
    SetBottomLogarithmic(model.BottomLogarithmic);
}

// On a logarithmic axis the points at X <= 0 cannot show. The line towards
// such a point is drawn from outside the plot, so the range starts exactly
// at the smallest positive X and that line stays clipped away.
void TChart1::FitAxes()
{
    const bool log = BottomLogarithmic();
    TSpan x{INFINITY, -INFINITY};
    TSpan y{INFINITY, -INFINITY};
    bool hidden = false;
    for (const TChartPoint& p : FPoints) {
        if (!std::isfinite(p.X) || !std::isfinite(p.Y))
            continue;
        if (log && p.X <= 0) {
            hidden = true;
            continue;
        }
        x = {std::min(x.Lo, p.X), std::max(x.Hi, p.X)};
        y = {std::min(y.Lo, p.Y), std::max(y.Hi, p.Y)};
    }
    if (x.Lo > x.Hi) {
        FPlot->xAxis->setRange(log ? QCPRange(1, 10) : QCPRange(0, 1));
        FPlot->yAxis->setRange(0, 1);
    } else {
        QCPRange xr = Padded(x, log);
        if (hidden)
            xr.lower = x.Lo;
        FPlot->xAxis->setRange(xr);
        FPlot->yAxis->setRange(Padded(y, false));
    }
    FPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TChart1::SaveBmp(const QString& path) const
{
    const QImage image = FPlot->toPixmap(std::max(FPlot->width(), 1), std::max(FPlot->height(), 1)).toImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP"))
        throw EFileWriteError("Cannot create file " + path.toStdString());
    WriteBytes(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

namespace {

metafile::TMetafile Record(QCustomPlot& plot)
{
    const int w = std::max(plot.width(), 1);
    const int h = std::max(plot.height(), 1);
    metafile::TMetafileDevice device(w, h);
    QCPPainter painter(&device);
    painter.setMode(QCPPainter::pmVectorized);
    plot.toPainter(&painter, w, h);
    painter.end();
    return device.Metafile();
}

} // namespace

void TChart1::SaveWmf(const QString& path) const
{
    WriteBytes(path, metafile::WmfBytes(Record(*FPlot)));
}

void TChart1::SaveEmf(const QString& path) const
{
    WriteBytes(path, metafile::EmfBytes(Record(*FPlot)));
}

QWidget* TChart1::PlotWidget() const
{
    return FPlot;
}

QPointF TChart1::PointPosition(int index) const
{
    FPlot->replot(); // lays the axes out for the current size
    const TChartPoint& p = Point(index);
    return FSeries->coordsToPixels(p.X, p.Y);
}

} // namespace vinsk
