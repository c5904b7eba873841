#include "app/drive/DriveChart.h"
#include "app/chart/PlotFrame.h"

#include <QBuffer>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSvgGenerator>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/NumText.h"

namespace vinsk {
namespace {

constexpr double Margin = 0.03;
const QColor ErrorColour(31, 119, 180);
const QColor FitColour(0, 90, 200);
const QColor ResidualColour(214, 39, 40);
const QColor DriftColour(90, 90, 90);
const QColor MarkerColour(0, 140, 70);
const QColor RepairedColour(230, 120, 0);

QString Number(double v, char sep)
{
    return QString::fromStdString(GeneralText(v, 6, sep));
}

// Ticks of a logarithmic period axis that read as plain numbers: 1-2-5 in
// each decade over short ranges, 1 and 3 over medium ones, powers of ten
// beyond; the other integers of each decade as sub-ticks.
class TPeriodTicker : public QCPAxisTicker {
public:
    char Sep = '.';

protected:
    QVector<double> createTickVector(double, const QCPRange& range) override
    {
        QVector<double> ticks;
        if (range.lower <= 0 || range.upper <= range.lower)
            return ticks;
        const double decades = std::log10(range.upper / range.lower);
        std::vector<double> mantissas{1};
        if (decades <= 2.5)
            mantissas = {1, 2, 5};
        else if (decades <= 4.5)
            mantissas = {1, 3};
        for (int e = static_cast<int>(std::floor(std::log10(range.lower))) - 1;
             e <= static_cast<int>(std::ceil(std::log10(range.upper))); ++e)
            for (double m : mantissas)
                ticks.append(m * std::pow(10.0, e));
        return ticks;
    }
    QVector<double> createSubTickVector(int, const QVector<double>& ticks) override
    {
        QVector<double> sub;
        if (ticks.isEmpty())
            return sub;
        const int first = static_cast<int>(std::floor(std::log10(ticks.first()))) - 1;
        const int last = static_cast<int>(std::ceil(std::log10(ticks.last()))) + 1;
        for (int e = first; e <= last; ++e)
            for (int m = 1; m <= 9; ++m) {
                const double v = m * std::pow(10.0, e);
                if (!ticks.contains(v))
                    sub.append(v);
            }
        return sub;
    }
    QString getTickLabel(double tick, const QLocale&, QChar, int) override { return Number(tick, Sep); }
};

// Plain numbers on a linear axis, with the window's decimal separator.
class TLinearTicker : public QCPAxisTicker {
public:
    char Sep = '.';

protected:
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision) override
    {
        QString s = QCPAxisTicker::getTickLabel(tick, locale, formatChar, precision);
        if (Sep != '.')
            s.replace(QLatin1Char('.'), QLatin1Char(Sep));
        return s;
    }
};

struct TSpan {
    double Lo = INFINITY, Hi = -INFINITY;
    void Add(double v)
    {
        if (std::isfinite(v)) {
            Lo = std::min(Lo, v);
            Hi = std::max(Hi, v);
        }
    }
    QCPRange Padded() const
    {
        if (Lo > Hi)
            return {0, 1};
        const double d = Hi > Lo ? (Hi - Lo) * Margin : (Lo == 0 ? 1 : std::abs(Lo) * 0.1);
        return {Lo - d, Hi + d};
    }
};

QCPGraph* AddLine(QCustomPlot* plot, const QVector<double>& x, const QVector<double>& y, const QPen& pen,
                  const QString& name)
{
    QCPGraph* g = plot->addGraph();
    g->setName(name);
    g->setPen(pen);
    g->setLineStyle(QCPGraph::lsLine);
    g->setData(x, y, true);
    return g;
}

void Fit(const QVector<double>& x, const QVector<double>& y, TSpan& xs, TSpan& ys)
{
    for (double v : x)
        xs.Add(v);
    for (double v : y)
        ys.Add(v);
}

} // namespace

TDriveChart::TDriveChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("DriveChart"));
    const TPlotFrame frame = MakePlotFrame(this, QStringLiteral("DriveChartPlot"));
    FPlot = frame.Plot;
    // Thick lines as segments: a joined antialiased polyline of thousands of
    // points draws slowly.
    FPlot->setPlottingHint(QCP::phFastPolylines, true);
    frame.Title->setObjectName(QStringLiteral("DriveChartTitle"));
    // No text below 9 pt, which is what the PDF prints at.
    FPlot->legend->setFont(QFont(QStringLiteral("Arial"), 9));
    FPlot->legend->setBrush(QBrush(QColor(255, 255, 255, 215)));
    FPlot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);

    connect(FPlot, &QCustomPlot::afterLayout, this, &TDriveChart::PlaceMarkerLabels);
    connect(FPlot, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) { Snap(e->position()); });
    connect(FPlot, &QCustomPlot::mousePress, this, [this](QMouseEvent* e) { Snap(e->position()); });
    Clear();
}

TDriveChart::~TDriveChart() = default;

QWidget* TDriveChart::PlotWidget() const
{
    return FPlot;
}

void TDriveChart::Clear()
{
    FPlot->clearGraphs();
    FPlot->clearItems();
    FTracer = nullptr;
    FMarkers.clear();
    FPlot->legend->setVisible(false);
    FPlot->xAxis->setScaleType(QCPAxis::stLinear);
    auto linear = QSharedPointer<TLinearTicker>::create();
    linear->Sep = FSep;
    FPlot->xAxis->setTicker(linear);
    auto linearY = QSharedPointer<TLinearTicker>::create();
    linearY->Sep = FSep;
    FPlot->yAxis->setTicker(linearY);
    FPlot->xAxis->setRange(0, 1);
    FPlot->yAxis->setRange(0, 1);
}

void TDriveChart::Show(std::shared_ptr<const TDriveResult> result, int figure, bool showDrift, char decimalSep)
{
    FResult = std::move(result);
    FFigure = figure;
    FSep = decimalSep;
    Clear();
    static const char* const titles[] = {"Drift-free periodic error", "Spectrum of the error",
                                         "Cycles on the worm phase", "PEC fit and residual",
                                         "Runs on the worm phase"};
    auto* title = static_cast<QCPTextElement*>(FPlot->plotLayout()->element(0, 0));
    title->setText(QString::fromLatin1(titles[std::clamp(figure, 0, 4)]));
    if (figure == DriveFigureRuns) {
        // Saved runs show without an analysis of the picture.
        ShowRuns();
        FPlot->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    if (!FResult || FResult->Refused() || FResult->T.empty()) {
        FPlot->xAxis->setLabel(QString());
        FPlot->yAxis->setLabel(QString());
        FPlot->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    switch (figure) {
    case DriveFigureSpectrum:
        ShowSpectrum(*FResult);
        break;
    case DriveFigureCycles:
        ShowCycles(*FResult);
        break;
    case DriveFigurePec:
        ShowPec(*FResult);
        break;
    default:
        ShowError(*FResult, showDrift);
        break;
    }
    FPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TDriveChart::ShowNothing(const QString& reason)
{
    FResult.reset();
    Clear();
    // In lines that the chart's first size holds whole; the title does not wrap itself.
    QString title, line;
    for (const QString& word : reason.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > 48) {
            title += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    static_cast<QCPTextElement*>(FPlot->plotLayout()->element(0, 0))->setText(title + line);
    FPlot->xAxis->setLabel(QString());
    FPlot->yAxis->setLabel(QString());
    FPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TDriveChart::ShowNote(const QString& text)
{
    auto* note = new QCPItemText(FPlot);
    note->setObjectName(QStringLiteral("DriveChartNote"));
    note->position->setType(QCPItemPosition::ptAxisRectRatio);
    note->position->setCoords(0.5, 0.5);
    note->setPositionAlignment(Qt::AlignCenter);
    note->setFont(QFont(QStringLiteral("Arial"), 10));
    note->setText(text);
}

void TDriveChart::ShowError(const TDriveResult& r, bool showDrift)
{
    FPlot->xAxis->setLabel(QStringLiteral("Time [s]"));
    FPlot->yAxis->setLabel(QStringLiteral("Error [%1]").arg(FUnit));
    const QVector<double> t(r.T.begin(), r.T.end());
    const QVector<double> e(r.Error.begin(), r.Error.end());
    TSpan xs, ys;
    Fit(t, e, xs, ys);
    AddLine(FPlot, t, e, QPen(ErrorColour, 1.2), QStringLiteral("Drift-free error"));
    if (showDrift && r.RemovedDrift.size() == r.T.size()) {
        const QVector<double> d(r.RemovedDrift.begin(), r.RemovedDrift.end());
        QPen pen(DriftColour, 1.5, Qt::DashLine);
        AddLine(FPlot, t, d, pen, QStringLiteral("Removed drift"));
        Fit(t, d, xs, ys);
        FPlot->legend->setVisible(true);
    }
    // The steps bridged for light that was not the star's, on the error.
    if (r.Repaired && !r.T.empty() && r.Error.size() == r.T.size()) {
        QVector<double> rt, re;
        for (const double at : *r.Repaired) {
            const auto it = std::lower_bound(r.T.begin(), r.T.end(), at);
            if (at < r.T.front() || it == r.T.end())
                continue;
            rt.append(at);
            re.append(r.Error[static_cast<std::size_t>(it - r.T.begin())]);
        }
        if (!rt.isEmpty()) {
            QCPGraph* g = AddLine(FPlot, rt, re, QPen(RepairedColour, 1.5), QStringLiteral("Repaired steps"));
            g->setLineStyle(QCPGraph::lsNone);
            g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 7));
        }
    }
    for (const double b : r.CycleStarts) {
        auto* line = new QCPItemStraightLine(FPlot);
        line->setObjectName(QStringLiteral("DriveCycleBoundary"));
        line->setPen(QPen(QColor(150, 150, 150), 1, Qt::SolidLine));
        line->point1->setCoords(b, 0);
        line->point2->setCoords(b, 1);
    }
    FPlot->xAxis->setRange(xs.Padded());
    QCPRange yr = ys.Padded();
    if (FPlot->legend->visible())
        yr.upper += (yr.upper - yr.lower) * 0.25; // room for the legend
    FPlot->yAxis->setRange(yr);
}

void TDriveChart::ShowSpectrum(const TDriveResult& r)
{
    FPlot->xAxis->setLabel(QStringLiteral("Period [s]"));
    FPlot->yAxis->setLabel(QStringLiteral("Amplitude [%1]").arg(FUnit));
    FPlot->xAxis->setScaleType(QCPAxis::stLogarithmic);
    auto ticker = QSharedPointer<TPeriodTicker>::create();
    ticker->Sep = FSep;
    FPlot->xAxis->setTicker(ticker);

    QVector<double> p, a;
    TSpan xs, ys;
    for (std::size_t i = 0; i < r.SpectrumPeriod.size() && i < r.SpectrumAmplitude.size(); ++i)
        if (r.SpectrumPeriod[i] > 0 && std::isfinite(r.SpectrumPeriod[i])) {
            p.append(r.SpectrumPeriod[i]);
            a.append(r.SpectrumAmplitude[i]);
            xs.Add(r.SpectrumPeriod[i]);
            ys.Add(r.SpectrumAmplitude[i]);
        }
    AddLine(FPlot, p, a, QPen(ErrorColour, 1.2), QStringLiteral("Amplitude"))->setData(p, a, false);

    QVector<double> pp, pa;
    for (const TDrivePeak& k : r.Peaks) {
        pp.append(k.Period);
        pa.append(k.Amplitude);
        ys.Add(k.Amplitude);
    }
    QCPGraph* peaks = AddLine(FPlot, pp, pa, QPen(ResidualColour), QStringLiteral("Peaks"));
    peaks->setData(pp, pa, false);
    peaks->setLineStyle(QCPGraph::lsNone);
    peaks->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, ResidualColour, Qt::white, 7));

    if (xs.Lo > xs.Hi) {
        FPlot->xAxis->setRange(1, 10);
    } else {
        const double f = std::pow(std::max(xs.Hi / xs.Lo, 1.5), Margin);
        FPlot->xAxis->setRange(xs.Lo / f, xs.Hi * f);
    }
    ys.Add(0);
    QCPRange yr = ys.Padded();
    // Room above the highest peak for the harmonic labels.
    yr.upper += (yr.upper - yr.lower) * 0.22;
    FPlot->yAxis->setRange(yr);

    if (r.WormPeriod > 0)
        for (int i = 1; i <= 10; ++i) {
            const double period = r.WormPeriod / i;
            if (period < FPlot->xAxis->range().lower || period > FPlot->xAxis->range().upper)
                continue;
            TDriveMarker m{period, i == 1 ? QStringLiteral("P") : QStringLiteral("P/%1").arg(i)};
            auto* line = new QCPItemStraightLine(FPlot);
            line->setObjectName(QStringLiteral("DriveHarmonicLine"));
            line->setPen(QPen(MarkerColour, 1, Qt::DashLine));
            line->point1->setCoords(period, 0);
            line->point2->setCoords(period, 1);
            auto* label = new QCPItemText(FPlot);
            label->setObjectName(QStringLiteral("DriveHarmonicLabel"));
            label->setText(m.Label);
            label->setFont(QFont(QStringLiteral("Arial"), 9));
            label->setColor(MarkerColour.darker(130));
            label->setBrush(QBrush(QColor(255, 255, 255, 230)));
            label->setPadding(QMargins(1, 0, 1, 0));
            label->setPositionAlignment(Qt::AlignTop | Qt::AlignHCenter);
            label->position->setTypeX(QCPItemPosition::ptPlotCoords);
            label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
            label->position->setCoords(period, 0.01);
            FMarkers.push_back(m);
        }

    FTracer = new QCPItemTracer(FPlot);
    FTracer->setObjectName(QStringLiteral("DrivePeakTracer"));
    FTracer->setStyle(QCPItemTracer::tsCircle);
    FTracer->setSize(13);
    FTracer->setPen(QPen(Qt::black, 1.5));
    FTracer->setVisible(false);
    FTracer->position->setType(QCPItemPosition::ptPlotCoords);
}

// The labels of P/i crowd together towards P/10 on a logarithmic axis: each
// takes the first row, from the top, where it clears the label before it.
void TDriveChart::PlaceMarkerLabels()
{
    if (FFigure != DriveFigureSpectrum || FMarkers.empty())
        return;
    std::vector<QCPItemText*> labels;
    for (int i = 0; i < FPlot->itemCount(); ++i)
        if (auto* t = qobject_cast<QCPItemText*>(FPlot->item(i)); t && t->objectName() == QLatin1String("DriveHarmonicLabel"))
            labels.push_back(t);
    const double height = FPlot->axisRect()->height();
    if (height <= 0)
        return;
    std::vector<std::vector<std::pair<double, double>>> rows; // the spans taken in each row, px
    const double lineHeight = QFontMetricsF(labels.empty() ? font() : labels.front()->font()).height() + 1;
    for (QCPItemText* label : labels) {
        const double x = FPlot->xAxis->coordToPixel(label->position->key());
        const double half = QFontMetricsF(label->font()).horizontalAdvance(label->text()) / 2 + 3;
        std::size_t row = 0;
        auto clashes = [&](const std::vector<std::pair<double, double>>& spans) {
            return std::any_of(spans.begin(), spans.end(),
                               [&](const auto& s) { return x - half < s.second && s.first < x + half; });
        };
        while (row < rows.size() && clashes(rows[row]))
            ++row;
        if (row == rows.size())
            rows.emplace_back();
        rows[row].emplace_back(x - half, x + half);
        label->position->setCoords(label->position->key(), (2 + row * lineHeight) / height);
    }
}

std::vector<QRectF> TDriveChart::MarkerLabelRects() const
{
    std::vector<QRectF> rects;
    FPlot->replot();
    for (int i = 0; i < FPlot->itemCount(); ++i)
        if (auto* t = qobject_cast<QCPItemText*>(FPlot->item(i)); t && t->objectName() == QLatin1String("DriveHarmonicLabel"))
            rects.emplace_back(t->topLeft->pixelPosition(), t->bottomRight->pixelPosition());
    return rects;
}

void TDriveChart::SetRuns(std::vector<TRunCurve> curves, const QString& none)
{
    FRuns = std::move(curves);
    FNoRuns = none;
    if (FFigure == DriveFigureRuns)
        Show(FResult, FFigure, false, FSep);
}

void TDriveChart::ShowRuns()
{
    FPlot->xAxis->setLabel(QStringLiteral("Worm phase [°], the first run's"));
    FPlot->yAxis->setLabel(QStringLiteral("Error [″]"));
    if (FRuns.empty()) {
        ShowNote(FNoRuns);
        return;
    }
    TSpan ys;
    int n = 0;
    for (const TRunCurve& c : FRuns) {
        QVector<double> x, y;
        for (std::size_t k = 0; k <= c.Values.size() && !c.Values.empty(); ++k) {
            // Closed at 360 degrees, so the curve spans the whole turn.
            x.append(static_cast<double>(k) * 360 / c.Values.size());
            y.append(c.Values[k % c.Values.size()]);
            ys.Add(y.back());
        }
        const QPen pen = c.Average ? QPen(Qt::black, 3) : QPen(QColor::fromHsv((n++ * 97 + 200) % 360, 200, 210), 1.5);
        AddLine(FPlot, x, y, pen, c.Name);
    }
    FPlot->legend->setVisible(true);
    FPlot->xAxis->setRange(0, 360);
    FPlot->yAxis->setRange(ys.Padded());
}

void TDriveChart::ShowCycles(const TDriveResult& r)
{
    FPlot->xAxis->setLabel(QStringLiteral("Worm phase [s]"));
    FPlot->yAxis->setLabel(QStringLiteral("Error [%1]").arg(FUnit));
    if (r.CycleCount <= 0 || r.WormPeriod <= 0 || r.Phase.size() != r.Error.size()) {
        ShowNote(r.WormPeriod > 0 ? QStringLiteral("The record holds less than one worm period")
                                  : QStringLiteral("No worm period: give one, or record two cycles or more"));
        return;
    }
    TSpan ys;
    const int last = *std::max_element(r.Cycle.begin(), r.Cycle.end());
    const bool legend = last < 10;
    for (int c = 0; c <= last; ++c) {
        QVector<double> ph, e;
        for (std::size_t i = 0; i < r.Phase.size(); ++i)
            if (r.Cycle[i] == c) {
                ph.append(r.Phase[i]);
                e.append(r.Error[i]);
                ys.Add(r.Error[i]);
            }
        if (ph.isEmpty())
            continue;
        const QColor colour = QColor::fromHsv((c * 360 / (last + 1) + 200) % 360, 170, 210);
        const QString name = c < r.CycleCount ? QStringLiteral("Cycle %1").arg(c + 1)
                                              : QStringLiteral("Cycle %1 (part)").arg(c + 1);
        QCPGraph* g = AddLine(FPlot, ph, e, QPen(colour, 1), name);
        if (!legend)
            g->removeFromLegend();
    }
    const QVector<double> mp(r.MeanCyclePhase.begin(), r.MeanCyclePhase.end());
    const QVector<double> me(r.MeanCycleError.begin(), r.MeanCycleError.end());
    AddLine(FPlot, mp, me, QPen(Qt::black, 3), QStringLiteral("Mean cycle"));
    FPlot->legend->setVisible(true);
    FPlot->xAxis->setRange(0, r.WormPeriod);
    FPlot->yAxis->setRange(ys.Padded());
}

void TDriveChart::ShowPec(const TDriveResult& r)
{
    FPlot->xAxis->setLabel(QStringLiteral("Time [s]"));
    FPlot->yAxis->setLabel(QStringLiteral("Error [%1]").arg(FUnit));
    if (r.WormPeriod <= 0 || r.PecFit.size() != r.T.size() || r.PecError.size() != r.T.size() ||
        r.PecResidual.size() != r.T.size()) {
        ShowNote(QStringLiteral("No worm period: no PEC fit"));
        return;
    }
    const QVector<double> t(r.T.begin(), r.T.end()), e(r.PecError.begin(), r.PecError.end()),
        fit(r.PecFit.begin(), r.PecFit.end()), res(r.PecResidual.begin(), r.PecResidual.end());
    TSpan xs, ys;
    Fit(t, e, xs, ys);
    Fit(t, res, xs, ys);
    AddLine(FPlot, t, e, QPen(QColor(160, 160, 160), 1), QStringLiteral("Error less the fit's drift"));
    AddLine(FPlot, t, fit, QPen(FitColour, 2.2), QStringLiteral("PEC fit, %1 harmonics").arg(r.PecCos.size()));
    AddLine(FPlot, t, res, QPen(ResidualColour, 1), QStringLiteral("Residual"));
    FPlot->legend->setVisible(true);
    FPlot->xAxis->setRange(xs.Padded());
    QCPRange yr = ys.Padded();
    yr.upper += (yr.upper - yr.lower) * 0.2; // room for the legend
    FPlot->yAxis->setRange(yr);
}

int TDriveChart::NearestPeak(QPointF plotPos) const
{
    if (FFigure != DriveFigureSpectrum || !FResult || FResult->Refused() || FResult->Peaks.empty())
        return -1;
    int best = -1;
    double bestDistance = INFINITY;
    for (std::size_t i = 0; i < FResult->Peaks.size(); ++i) {
        const double d = std::abs(FPlot->xAxis->coordToPixel(FResult->Peaks[i].Period) - plotPos.x());
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

QPointF TDriveChart::PeakPosition(int index) const
{
    FPlot->replot();
    const TDrivePeak& p = FResult->Peaks.at(static_cast<std::size_t>(index));
    return {FPlot->xAxis->coordToPixel(p.Period), FPlot->yAxis->coordToPixel(p.Amplitude)};
}

void TDriveChart::Snap(QPointF plotPos)
{
    const int index = NearestPeak(plotPos);
    if (index < 0 || !FTracer)
        return;
    const TDrivePeak& p = FResult->Peaks[static_cast<std::size_t>(index)];
    FTracer->position->setCoords(p.Period, p.Amplitude);
    FTracer->setVisible(true);
    FPlot->replot(QCustomPlot::rpQueuedReplot);
    emit PeakSnapped(index);
}

namespace {

// The size the figure is laid out at for a picture of `size` pixels.
QSize LayoutSize(QSize size)
{
    const double scale = std::max(1.0, size.width() / 800.0);
    return QSize(std::max(1, qRound(size.width() / scale)), std::max(1, qRound(size.height() / scale)));
}

} // namespace

QByteArray TDriveChart::PngBytes(QSize size) const
{
    const QSize layout = LayoutSize(size);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QCPPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(double(size.width()) / layout.width(), double(size.height()) / layout.height());
        FPlot->toPainter(&painter, layout.width(), layout.height());
    }
    // Back to the on-screen layout.
    FPlot->replot(QCustomPlot::rpQueuedReplot);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_RGB32).save(&buffer, "PNG"))
        return {};
    return bytes;
}

QByteArray TDriveChart::SvgBytes(QSize size) const
{
    const QSize layout = LayoutSize(size);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setResolution(96); // the screen's, so the text has the PNG's size
    svg.setSize(layout);
    svg.setViewBox(QRect(QPoint(0, 0), layout));
    svg.setTitle(static_cast<QCPTextElement*>(FPlot->plotLayout()->element(0, 0))->text());
    {
        QCPPainter painter(&svg);
        painter.setMode(QCPPainter::pmVectorized);
        FPlot->toPainter(&painter, layout.width(), layout.height());
    }
    FPlot->replot(QCustomPlot::rpQueuedReplot);
    // The generator gives the size in millimetres; readers take pixels as
    // they stand.
    static const QRegularExpression millimetres(QStringLiteral("width=\"[0-9.]+mm\" height=\"[0-9.]+mm\""));
    const QString text = QString::fromUtf8(bytes);
    const QRegularExpressionMatch m = millimetres.match(text);
    if (!m.hasMatch())
        return bytes;
    return (text.left(m.capturedStart()) + QStringLiteral("width=\"%1\" height=\"%2\"").arg(size.width()).arg(size.height()) +
            text.mid(m.capturedEnd()))
        .toUtf8();
}

QByteArray TDriveChart::PdfBytes() const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        // A4 landscape at a point per unit, so that the fonts' points are
        // the paper's.
        QPdfWriter pdf(&buffer);
        pdf.setResolution(72);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
                                      QPageLayout::Millimeter));
        pdf.setTitle(static_cast<QCPTextElement*>(FPlot->plotLayout()->element(0, 0))->text());
        const QRect area = pdf.pageLayout().paintRectPixels(72);
        QCPPainter painter(&pdf);
        painter.setMode(QCPPainter::pmVectorized);
        painter.setMode(QCPPainter::pmNoCaching);
        FPlot->toPainter(&painter, area.width(), area.height());
        painter.end();
    }
    FPlot->replot(QCustomPlot::rpQueuedReplot);
    return bytes;
}

} // namespace vinsk
