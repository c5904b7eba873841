// The Drive tab's time to result: from "Analyse drive" to the figure drawn,
// on a 6000 x 4000 picture with a trail of about 5000 steps, against the
// core's analysis of the same picture in the same run. Goal: the result on
// screen within 100 ms. The window adds the copy of the picture the worker
// reads (once per change of the picture), the thread hand-over and the
// chart; the second case pays the copy on every run, as after a new picture.
#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>

#include "app/Unit1.h"
#include "app/drive/DriveChart.h"
#include "app/drive/DrivePage.h"
#include "app/widgets/ImageView.h"
#include "app/widgets/SpinEdits.h"
#include "bench/WindowBench.h"

namespace {

using namespace vinsk;
using namespace vinsk::bench;

constexpr int PictureW = 6000;
constexpr int PictureH = 4000;
// START, STOP and IN-LINE of an arc that sags 150 px over 5000 px.
constexpr int Points[3][2] = {{500, 2000}, {5499, 2000}, {3000, 2150}};

// CPU time of the calling thread: the machine may be shared.
double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// A trail along the circle through the three points: a Gaussian cross
// profile (FWHM 3 px) whose light varies along it as a periodic error would
// make it, on a background of 12.
QImage TrailPicture()
{
    const double ax = Points[0][0], ay = Points[0][1], bx = Points[1][0], by = Points[1][1];
    const double cx = Points[2][0], cy = Points[2][1];
    const double d = 2 * (ax * (by - cy) + bx * (cy - ay) + cx * (ay - by));
    const double ux = ((ax * ax + ay * ay) * (by - cy) + (bx * bx + by * by) * (cy - ay) + (cx * cx + cy * cy) * (ay - by)) / d;
    const double uy = ((ax * ax + ay * ay) * (cx - bx) + (bx * bx + by * by) * (ax - cx) + (cx * cx + cy * cy) * (bx - ax)) / d;
    const double r = std::hypot(ax - ux, ay - uy);
    QImage picture(PictureW, PictureH, QImage::Format_RGB32);
    picture.fill(qRgb(12, 12, 12));
    const double sigma = 3 / 2.3548;
    for (int x = 400; x < 5600; ++x) {
        const double yc = uy + std::sqrt(std::max(0.0, r * r - (x - ux) * (x - ux)));
        const double light = 150 * (1 + 0.08 * std::sin(2 * std::numbers::pi * x / 480.0) +
                                    0.03 * std::sin(2 * std::numbers::pi * x / 240.0 + 0.7));
        const double fade = x < 500 ? std::exp(-(500 - x) / 4.0) : x > 5499 ? std::exp(-(x - 5499) / 4.0) : 1;
        for (int y = static_cast<int>(yc) - 8; y <= static_cast<int>(yc) + 8; ++y) {
            const double v = 12 + light * fade * std::exp(-(y - yc) * (y - yc) / (2 * sigma * sigma));
            const int level = static_cast<int>(std::lround(std::min(v, 254.0)));
            picture.setPixel(x, y, qRgb(level, level, level));
        }
    }
    return picture;
}

struct TFixture {
    QTemporaryDir Dir;
    TBenchDialogs Dialogs;
    std::unique_ptr<TVinsk_main> Window;
    TDrivePage* Page = nullptr;
    TImageView* View = nullptr;
    QCustomPlot* Plot = nullptr;
    QPushButton* Analyse = nullptr;

    TFixture()
    {
        Dialogs.Picture = Dir.filePath(QStringLiteral("trail.bmp"));
        if (!TrailPicture().save(Dialogs.Picture))
            throw std::runtime_error("cannot write the picture");
        Window = std::make_unique<TVinsk_main>(Dialogs);
        Window->show();
        QApplication::processEvents();
        Window->RunCommand([this] { Window->OpenimageClick(); });
        View = Window->findChild<TImageView*>(QStringLiteral("Image1"));
        PlaceMarkers(*Window, Points);
        Page = Window->findChild<TDrivePage*>(QStringLiteral("TabSheet4"));
        Plot = static_cast<QCustomPlot*>(Page->Chart()->PlotWidget());
        Analyse = Page->findChild<QPushButton*>(QStringLiteral("DriveAnalyse"));
        Window->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentWidget(Page);
        WaitIdle();
        if (!Page->Result() || Page->Result()->Refused())
            throw std::runtime_error("no result: " + (Page->Result() ? Page->Result()->Message : std::string()));
    }

    void WaitIdle()
    {
        while (Page->Busy())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    // From the click, or the change of the picture that the showing tab
    // follows, to the figure drawn.
    double WindowRun(bool newPicture)
    {
        const auto t0 = Clock::now();
        if (newPicture)
            View->Changed(); // the copy the worker reads is made afresh
        else
            Analyse->click();
        WaitIdle();
        Plot->replot(QCustomPlot::rpImmediateRefresh);
        return Ms(Clock::now() - t0);
    }

    TDriveInput Input() const
    {
        TDriveInput in;
        in.Start = {double(Points[0][0]), double(Points[0][1])};
        in.Stop = {double(Points[1][0]), double(Points[1][1])};
        in.InLine = {double(Points[2][0]), double(Points[2][1])};
        in.Setup = Window->State().Experiment;
        return in;
    }
};

TFixture& Fixture()
{
    static TFixture f;
    return f;
}

void Run(benchmark::State& state, bool newPicture)
{
    TFixture& f = Fixture();
    const TDriveInput input = f.Input();
    double window = 0, core = 0, coreCpu = 0;
    std::int64_t n = 0;
    for (auto _ : state) {
        window += f.WindowRun(newPicture);
        const auto t0 = Clock::now();
        const double c0 = ThreadCpuMs();
        const TDriveResult r = AnalyseDrive(TRasterSamples(f.Window->State().Image.Bitmap), input);
        coreCpu += ThreadCpuMs() - c0;
        core += Ms(Clock::now() - t0);
        benchmark::DoNotOptimize(r.Stats.Rms);
        ++n;
    }
    const double w = window / static_cast<double>(n), c = core / static_cast<double>(n);
    state.counters["window_ms"] = w;
    state.counters["core_ms"] = c;
    state.counters["core_cpu_ms"] = coreCpu / static_cast<double>(n);
    state.counters["ratio"] = w / c;
    state.counters["steps"] = static_cast<double>(f.Page->Result()->Flux.size());
}

void BM_DriveTimeToResult(benchmark::State& state)
{
    Run(state, false);
}

void BM_DriveTimeToResultNewPicture(benchmark::State& state)
{
    Run(state, true);
}

BENCHMARK(BM_DriveTimeToResult)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DriveTimeToResultNewPicture)->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace
