// The whole `vinsk-cli --drive` run on a 6000 x 4000 16-bit RGB PNG with its
// dark and flat frames, against decoding the three files one after another
// with pngtopnm (netpbm, on libpng). Both are child processes timed in wall
// time, since the run decodes its files at once on the machine's cores;
// each iteration times both, one after the other, and the fastest of each
// counts. Goal: the run within 0.7 x the serial decode. The run's peak
// resident memory (ru_maxrss) and both processor times are reported beside.
//
// The files are rendered by the sample generator when the benchmark starts
// (about a minute), into a folder removed at exit.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/ChildRun.h"
#include "setup/Experiment.h"
#include "setup/SettingsFile.h"
#include "tools/sample-gen/TrailScene.h"
#include "tools/writers/RgbImage.h"

namespace {

namespace fs = std::filesystem;
using namespace vinsk;
using namespace vinsk::tools;
using vinsk::bench::RunChild;
using vinsk::bench::TChildRun;

struct TFiles {
    fs::path Dir, Picture, Dark, Flat, Settings;
    std::vector<std::string> Points; // --start, --stop, --inline with their values

    TFiles()
    {
        Dir = fs::temp_directory_path() / ("vinsk-bench-drive-" + std::to_string(::getpid()));
        fs::create_directories(Dir);
        Picture = Dir / "trail.png";
        Dark = Dir / "trail-dark.png";
        Flat = Dir / "trail-flat.png";
        Settings = Dir / "trail.ini";
        TSceneOptions o;
        o.Width = 6000;
        o.Height = 4000;
        o.Start = {300, 2100};
        o.Stop = {5700, 1900};
        o.Sag = 60;
        o.ExposureS = 600;
        o.Period = 300;
        o.Deep = true;
        const TScene scene = RenderScene(o);
        WritePng16(Picture.string(), scene.Image16);
        WritePng16(Dark.string(), scene.Dark16);
        WritePng16(Flat.string(), scene.Flat16);
        TExperiment e;
        e.PixelWidth = o.PixelUm * 1e-6;
        e.PixelHeight = o.PixelUm * 1e-6;
        e.FocalLength = o.FocalMm * 1e-3;
        e.ExposureTime = o.ExposureS;
        e.MountSpeed = o.MountSpeed;
        SaveSettingsFile(Settings.string(), e, '.');
        auto point = [](std::int32_t x, std::int32_t y) { return std::to_string(x) + "," + std::to_string(y); };
        Points = {"--start", point(o.Start.X, o.Start.Y), "--stop", point(o.Stop.X, o.Stop.Y),
                  "--inline", point(scene.Expected.InLine.X, scene.Expected.InLine.Y)};
    }

    ~TFiles()
    {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
};

const TFiles& Files()
{
    static const TFiles f;
    return f;
}

// The three files decoded one after another; the wall time of the three.
TChildRun DecodeSerially(const TFiles& f)
{
    TChildRun all;
    all.Ok = true;
    for (const fs::path& p : {f.Picture, f.Dark, f.Flat}) {
        const TChildRun one = RunChild({"pngtopnm", p.string()});
        all.Ok = all.Ok && one.Ok;
        all.Wall += one.Wall;
        all.Cpu += one.Cpu;
        all.PeakKiB = std::max(all.PeakKiB, one.PeakKiB);
    }
    return all;
}

TChildRun DriveRun(const TFiles& f)
{
    std::vector<std::string> argv = {VINSK_CLI, "--drive", "--settings", f.Settings.string()};
    argv.insert(argv.end(), f.Points.begin(), f.Points.end());
    argv.insert(argv.end(), {"--image", f.Picture.string(), "--dark", f.Dark.string(), "--flat", f.Flat.string()});
    return RunChild(argv);
}

void BM_DriveRunAgainstSerialDecode(benchmark::State& state)
{
    const TFiles& f = Files();
    // Both once first, so that the files are in the page cache for either.
    if (!DecodeSerially(f).Ok) {
        state.SkipWithError("pngtopnm is missing or failed");
        return;
    }
    if (!DriveRun(f).Ok) {
        state.SkipWithError("vinsk-cli --drive failed");
        return;
    }
    double serial = std::numeric_limits<double>::max(), drive = serial, serialCpu = serial, driveCpu = serial;
    long peakKiB = 0;
    for (auto _ : state) {
        const TChildRun s = DecodeSerially(f);
        const TChildRun d = DriveRun(f);
        if (!s.Ok || !d.Ok) {
            state.SkipWithError("a run failed");
            return;
        }
        serial = std::min(serial, s.Wall);
        drive = std::min(drive, d.Wall);
        serialCpu = std::min(serialCpu, s.Cpu);
        driveCpu = std::min(driveCpu, d.Cpu);
        peakKiB = std::max(peakKiB, d.PeakKiB);
        state.SetIterationTime(d.Wall);
    }
    state.counters["serial_decode_s"] = serial;
    state.counters["drive_run_s"] = drive;
    state.counters["ratio"] = drive / serial;
    // Processor times beside: on a busy machine the wall times say less.
    state.counters["serial_decode_cpu_s"] = serialCpu;
    state.counters["drive_run_cpu_s"] = driveCpu;
    state.counters["drive_peak_MiB"] = static_cast<double>(peakKiB) / 1024;
}
BENCHMARK(BM_DriveRunAgainstSerialDecode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
