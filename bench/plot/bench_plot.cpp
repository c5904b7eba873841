// One plotting run as the user starts it, from "Plot &Graph" to the redrawn
// chart, on a 6000 x 4000 picture with a trail of 5000 positions, against the
// core's own run on the same state: what the window adds around the
// computation. Goal: the whole run within 1.5 x the core's and below 100 ms.
// The last two benchmarks split the window's share: the chart taking the
// figure, and the chart drawing it.
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>

#include "app/Unit1.h"
#include "app/chart/Chart1.h"
#include "app/widgets/ImageView.h"
#include "app/widgets/RadioGroup.h"
#include "app/widgets/SpinEdits.h"
#include "bench/CoreHost.h"
#include "bench/WindowBench.h"

namespace {

using namespace vinsk;
using namespace vinsk::bench;

constexpr int PictureW = 6000;
constexpr int PictureH = 4000;
// START and STOP 4999 pixels apart on x: 5000 positions, on a flat arc
// through the three points that stays inside the picture. The picture's
// brightness depends on x alone, so every walk over x samples the same
// waves.
constexpr int Points[3][2] = {{500, 100}, {5499, 200}, {3000, 200}};

// The window with the picture loaded and the three check points placed.
struct TFixture {
    QTemporaryDir Dir;
    TBenchDialogs Dialogs;
    std::unique_ptr<TVinsk_main> Window;
    QPushButton* PlotButton = nullptr;
    TRadioGroup* Figure = nullptr;
    TChart1* Chart = nullptr;
    QCustomPlot* Plot = nullptr;

    TFixture()
    {
        QImage picture(PictureW, PictureH, QImage::Format_RGB32);
        for (int y = 0; y < PictureH; ++y) {
            auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
            for (int x = 0; x < PictureW; ++x) {
                const int v = 120 + static_cast<int>(std::lround(40 * std::sin(2 * std::numbers::pi * x / 480.0)));
                line[x] = qRgb(v, v - 10, v - 20);
            }
        }
        Dialogs.Picture = Dir.filePath(QStringLiteral("trail.bmp"));
        if (!picture.save(Dialogs.Picture))
            throw std::runtime_error("cannot write the picture");

        Window = std::make_unique<TVinsk_main>(Dialogs);
        Window->show();
        QApplication::processEvents();
        Window->RunCommand([this] { Window->OpenimageClick(); });
        PlaceMarkers(*Window, Points);
        PlotButton = Window->findChild<QPushButton*>(QStringLiteral("BitBtn8"));
        Figure = Window->findChild<TRadioGroup*>(QStringLiteral("RadioGroup2"));
        Chart = Window->findChild<TChart1*>(QStringLiteral("Chart1"));
        Plot = static_cast<QCustomPlot*>(Chart->PlotWidget());
        PlotButton->click();
        QApplication::processEvents();
        if (Chart->Count() < 5000)
            throw std::runtime_error("the trail was not plotted");
    }

    // From the click to the chart drawn on the screen.
    double WindowRun()
    {
        const auto t0 = Clock::now();
        PlotButton->click();
        Plot->replot(QCustomPlot::rpImmediateRefresh);
        const double ms = Ms(Clock::now() - t0);
        QApplication::processEvents(); // whatever else was queued, untimed
        return ms;
    }

    TCoreHost Host(int figure) const
    {
        TCoreHost host;
        for (std::size_t i = 0; i < 6; ++i)
            host.Edits[i] = Points[i / 2][i % 2];
        host.Choices.Figure = figure;
        return host;
    }
};

TFixture& Fixture()
{
    static TFixture f;
    return f;
}

void BM_PlotRun(benchmark::State& state)
{
    TFixture& f = Fixture();
    const int figure = static_cast<int>(state.range(0));
    f.Figure->SetItemIndex(figure);
    TVinskState core = f.Window->State();
    TCoreHost host = f.Host(figure);
    double window = 0;
    double computation = 0;
    std::int64_t n = 0;
    for (auto _ : state) {
        window += f.WindowRun();
        const auto t0 = Clock::now();
        vinsk::RunPlot(core, host);
        computation += Ms(Clock::now() - t0);
        ++n;
    }
    const double w = window / static_cast<double>(n);
    const double c = computation / static_cast<double>(n);
    state.counters["window_ms"] = w;
    state.counters["core_ms"] = c;
    state.counters["ratio"] = w / c;
    state.counters["outside_share"] = (w - c) / w;
    state.counters["points"] = f.Chart->Count();
}

// The chart taking a figure: title, captions, points, axes.
void BM_ChartShow(benchmark::State& state)
{
    TFixture& f = Fixture();
    f.Figure->SetItemIndex(static_cast<int>(state.range(0)));
    f.PlotButton->click();
    const TChartModel model = f.Window->State().Chart;
    for (auto _ : state)
        f.Chart->Show(model);
    QApplication::processEvents();
}

// The chart drawing it onto the screen.
void BM_ChartReplot(benchmark::State& state)
{
    TFixture& f = Fixture();
    f.Figure->SetItemIndex(static_cast<int>(state.range(0)));
    f.PlotButton->click();
    for (auto _ : state)
        f.Plot->replot(QCustomPlot::rpImmediateRefresh);
}

BENCHMARK(BM_PlotRun)->ArgName("figure")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChartShow)->ArgName("figure")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChartReplot)->ArgName("figure")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

} // namespace
