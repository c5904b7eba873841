// The drive analysis of a 5,000-step trail on a 6000 x 4000 picture against
// the plotting run of the error figure on the same trail and check points.
// Each iteration times both, one after the other, in processor time of this
// thread, so that other processes on the machine disturb both alike; the
// fastest iteration of each counts. Goal: the analysis within 3 x the
// plotting run, with the worm period given and estimated.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <benchmark/benchmark.h>

#include "bench/CoreHost.h"
#include "drive/DriveAnalysis.h"
#include "figures/PlotRun.h"
#include "tools/sample-gen/PhysicalTrail.h"

namespace {

using namespace vinsk;
using namespace vinsk::tools;
using vinsk::bench::TCoreHost;

double ThreadMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

// A physically rendered trail of about 5,000 px across the picture: the
// bars' mount (5" at 479 s, 1.5" at 239.5 s), two worm cycles.
struct TScene {
    TVinskState State;
    TDriveInput Input;
    TCoreHost Host;

    TScene()
    {
        TPhysicalOptions o;
        o.Width = 6000;
        o.Height = 4000;
        o.StartX = 500;
        o.StartY = 2000;
        o.StopX = 5500;
        o.StopY = 2100;
        o.Sag = 60;
        o.Terms = {{5, 479, 0}, {1.5, 239.5, 0.7}};
        o.ExposureS = 2 * 479;
        const TPhysicalTrail trail = RenderPhysicalTrail(o);
        const TRgbImage rgb = PhysicalToRgb8(trail);
        TBitmap32& bmp = State.Image.Bitmap;
        bmp.SetSize(rgb.Width, rgb.Height);
        for (std::int32_t y = 0; y < rgb.Height; ++y) {
            const std::uint8_t* p = rgb.Row(y);
            std::uint32_t* row = bmp.ScanLine(y);
            for (std::int32_t x = 0; x < rgb.Width; ++x, p += 3)
                row[x] = Color32(255, p[0], p[1], p[2]);
        }
        State.Experiment.ExposureTime = trail.Truth.ExposureS;
        const double dx = o.StopX - o.StartX, dy = o.StopY - o.StartY, chord = std::hypot(dx, dy);
        const double points[6] = {std::round(trail.Truth.StartX), std::round(trail.Truth.StartY),
                                  std::round(trail.Truth.EndX),   std::round(trail.Truth.EndY),
                                  std::round(o.StartX + dx / 2 + o.Sag * dy / chord),
                                  std::round(o.StartY + dy / 2 - o.Sag * dx / chord)};
        for (int i = 0; i < 6; ++i)
            Host.Edits[static_cast<std::size_t>(i)] = points[i];
        Host.Choices.Figure = FigurePeriodicError;
        Input.Start = {points[0], points[1]};
        Input.Stop = {points[2], points[3]};
        Input.InLine = {points[4], points[5]};
        Input.Setup = State.Experiment;
    }
};

TScene& Scene()
{
    static TScene s;
    return s;
}

// range(0): 1 with the worm period given, 0 estimated.
void BM_DriveAgainstPlot(benchmark::State& state)
{
    TScene& s = Scene();
    TDriveInput in = s.Input;
    in.Settings.WormPeriod = state.range(0) ? 479 : 0;
    const TRasterSamples samples(s.State.Image.Bitmap);
    double plot = std::numeric_limits<double>::max(), drive = plot;
    std::size_t steps = 0, positions = 0;
    for (auto _ : state) {
        double t0 = ThreadMs();
        RunPlot(s.State, s.Host);
        plot = std::min(plot, ThreadMs() - t0);
        t0 = ThreadMs();
        const TDriveResult r = AnalyseDrive(samples, in);
        drive = std::min(drive, ThreadMs() - t0);
        if (r.Refused) {
            state.SkipWithError(r.Message.c_str());
            return;
        }
        if (r.WormSource == TWormSource::None) {
            state.SkipWithError("no worm period");
            return;
        }
        steps = r.Flux.size();
        positions = s.State.Chart.Points.size();
    }
    state.counters["plot_ms"] = plot;
    state.counters["drive_ms"] = drive;
    state.counters["ratio"] = drive / plot;
    state.counters["steps"] = static_cast<double>(steps);
    state.counters["positions"] = static_cast<double>(positions);
}
BENCHMARK(BM_DriveAgainstPlot)->ArgName("period_given")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
