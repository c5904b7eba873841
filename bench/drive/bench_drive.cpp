// The drive analysis of a 5,000-step trail on a 6000 x 4000 picture against
// the plotting run of the error figure on the same trail and check points.
// Each iteration times both, one after the other, in processor time of this
// thread, so that other processes on the machine disturb both alike; the
// fastest of 40 iterations of each counts (with 20, the plotting run's
// fastest moved by a sixth with where the allocator had put the analysis's
// memory). Goal: the analysis within 3 x the plotting run, with the worm
// period given and estimated.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include <benchmark/benchmark.h>

#include "bench/CoreHost.h"
#include "drive/DriveAnalysis.h"
#include "figures/PlotRun.h"
#include "tests/support/RenderedTrail.h"
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
        SetPath(o, {6000, 4000, 500, 2000, 5500, 2100, 60});
        o.Terms = {{5, 479, 0}, {1.5, 239.5, 0.7}};
        o.ExposureS = 2 * 479;
        TRendered scene = Render(o);
        State.Image.Bitmap = std::move(scene.Bitmap);
        Input = scene.Input;
        State.Experiment = Input.Setup;
        // The plotting run reads the same check points from the edits.
        const double points[6] = {Input.Start.X, Input.Start.Y, Input.Stop.X,
                                  Input.Stop.Y,  Input.InLine.X, Input.InLine.Y};
        for (int i = 0; i < 6; ++i)
            Host.Edits[static_cast<std::size_t>(i)] = points[i];
        Host.Choices.Figure = FigurePeriodicError;
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
        if (r.Refused()) {
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
BENCHMARK(BM_DriveAgainstPlot)->ArgName("period_given")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(40);

} // namespace
