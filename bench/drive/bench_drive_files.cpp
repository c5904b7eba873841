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
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "setup/Experiment.h"
#include "setup/SettingsFile.h"
#include "tools/sample-gen/TrailScene.h"
#include "tools/writers/RgbImage.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace vinsk;
using namespace vinsk::tools;

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

struct TChild {
    bool Ok = false;
    double Seconds = 0; // wall
    double Cpu = 0;     // user + system
    long PeakKiB = 0;   // ru_maxrss
};

// Runs the program with its standard output and error sent to /dev/null.
TChild Run(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    TChild r;
    pid_t pid = 0;
    const auto started = std::chrono::steady_clock::now();
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return r;
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid)
        return r;
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.PeakKiB = use.ru_maxrss;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    r.Cpu = seconds(use.ru_utime) + seconds(use.ru_stime);
    return r;
}

// The three files decoded one after another; the wall time of the three.
TChild DecodeSerially(const TFiles& f)
{
    TChild all;
    all.Ok = true;
    for (const fs::path& p : {f.Picture, f.Dark, f.Flat}) {
        const TChild one = Run({"pngtopnm", p.string()});
        all.Ok = all.Ok && one.Ok;
        all.Seconds += one.Seconds;
        all.Cpu += one.Cpu;
        all.PeakKiB = std::max(all.PeakKiB, one.PeakKiB);
    }
    return all;
}

TChild DriveRun(const TFiles& f)
{
    std::vector<std::string> argv = {VINSK_CLI, "--drive", "--settings", f.Settings.string()};
    argv.insert(argv.end(), f.Points.begin(), f.Points.end());
    argv.insert(argv.end(), {"--image", f.Picture.string(), "--dark", f.Dark.string(), "--flat", f.Flat.string()});
    return Run(argv);
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
        const TChild s = DecodeSerially(f);
        const TChild d = DriveRun(f);
        if (!s.Ok || !d.Ok) {
            state.SkipWithError("a run failed");
            return;
        }
        serial = std::min(serial, s.Seconds);
        drive = std::min(drive, d.Seconds);
        serialCpu = std::min(serialCpu, s.Cpu);
        driveCpu = std::min(driveCpu, d.Cpu);
        peakKiB = std::max(peakKiB, d.PeakKiB);
        state.SetIterationTime(d.Seconds);
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
