// Loading 6000 x 4000 pictures with LoadPicture against the command-line
// tools of the libraries that decode them, on the same files:
//   JPEG: djpeg -outfile /dev/null          (libjpeg-turbo-progs)
//   PNG:  pngtopnm FILE > /dev/null         (netpbm, on libpng)
//   TIFF: tiff2rgba -c none FILE OUT.tif    (libtiff-tools; it must write a
//         TIFF file, which adds that write to its time)
// The tools run as child processes; their time is the child's processor
// time (user + system, starting the process included), ours the process's.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/ChildRun.h"
#include "bench/imaging/Comparisons.h"
#include "image/formats/Picture.h"
#include "tools/writers/RgbImage.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int32_t W = 6000, H = 4000;

// A night-sky exposure: gradients, sensor noise, stars and one trail, so the
// files compress like photographs rather than like flat colour.
vinsk::tools::TRgbImage Photo()
{
    vinsk::tools::TRgbImage img(W, H);
    std::uint32_t s = 2463534242u;
    auto next = [&s] {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    };
    for (std::int32_t y = 0; y < H; ++y) {
        std::uint8_t* row = img.Row(y);
        const double dy = (y - 0.45 * H) / 60.0;
        for (std::int32_t x = 0; x < W; ++x) {
            const std::uint32_t r = next();
            const double sky = 12 + 20.0 * x / W + 10.0 * y / H;
            const double trail = 170 * std::exp(-std::pow(dy + 0.3 * std::sin(x / 900.0), 2));
            for (int c = 0; c < 3; ++c) {
                const double noise = static_cast<double>((r >> (8 * c)) & 7) - 3.5;
                double v = sky * (0.8 + 0.1 * c) + trail + noise;
                if (((r >> 24) & 0x3FF) == 0) // about one star in a thousand pixels
                    v += 120;
                row[3 * x + c] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    return img;
}

// The three files, written once for the whole run into a folder of their
// own, removed at exit.
struct TFiles {
    fs::path Dir, Jpeg, Png, Tiff, ToolOut;

    TFiles()
    {
        Dir = fs::temp_directory_path() / ("vinsk-bench-" + std::to_string(::getpid()));
        fs::create_directories(Dir);
        Jpeg = Dir / "photo.jpg";
        Png = Dir / "photo.png";
        Tiff = Dir / "photo.tif";
        // Where a tool must write a file: memory-backed when the system has it.
        ToolOut = (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : Dir) /
                  ("vinsk-bench-" + std::to_string(::getpid()) + "-out.tif");
        const auto img = Photo();
        vinsk::tools::WriteJpeg(Jpeg.string(), img, 90);
        vinsk::tools::WritePng(Png.string(), img, 6);
        vinsk::tools::WriteTiff(Tiff.string(), img, true);
    }

    ~TFiles()
    {
        std::error_code ec;
        fs::remove_all(Dir, ec);
        fs::remove(ToolOut, ec);
    }
};

const TFiles& Files()
{
    static const TFiles f;
    return f;
}

// The tool's processor time in seconds, or a negative value when it cannot
// be started or fails.
double RunTool(const std::vector<std::string>& argv)
{
    const vinsk::bench::TChildRun r = vinsk::bench::RunChild(argv);
    return r.Ok ? r.Cpu : -1;
}

void Load(benchmark::State& state, const fs::path& file)
{
    for (auto _ : state) {
        vinsk::TBitmap32 bmp;
        vinsk::LoadPicture(file.string(), bmp);
        benchmark::DoNotOptimize(bmp.Bits());
    }
    state.counters["MiB"] = static_cast<double>(fs::file_size(file)) / (1 << 20);
}

void Tool(benchmark::State& state, const std::vector<std::string>& argv)
{
    if (RunTool(argv) < 0) { // also warms the file cache as the loader's first run does
        state.SkipWithError((argv[0] + " is missing or failed").c_str());
        return;
    }
    for (auto _ : state) {
        const double t = RunTool(argv);
        if (t < 0) {
            state.SkipWithError((argv[0] + " failed").c_str());
            break;
        }
        state.SetIterationTime(t);
    }
}

void BM_LoadJpeg(benchmark::State& state) { Load(state, Files().Jpeg); }
void BM_Djpeg(benchmark::State& state) { Tool(state, {"djpeg", "-outfile", "/dev/null", Files().Jpeg.string()}); }
void BM_LoadPng(benchmark::State& state) { Load(state, Files().Png); }
void BM_Pngtopnm(benchmark::State& state) { Tool(state, {"pngtopnm", Files().Png.string()}); }
void BM_LoadTiff(benchmark::State& state) { Load(state, Files().Tiff); }
void BM_Tiff2rgba(benchmark::State& state)
{
    Tool(state, {"tiff2rgba", "-c", "none", Files().Tiff.string(), Files().ToolOut.string()});
}

BENCHMARK(BM_LoadJpeg)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Djpeg)->Unit(benchmark::kMillisecond)->UseManualTime()->Repetitions(3);
BENCHMARK(BM_LoadPng)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Pngtopnm)->Unit(benchmark::kMillisecond)->UseManualTime()->Repetitions(3);
BENCHMARK(BM_LoadTiff)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Tiff2rgba)->Unit(benchmark::kMillisecond)->UseManualTime()->Repetitions(3);

using vinsk::bench::TClock;
const vinsk::bench::TCompare jpeg("BM_LoadJpeg", TClock::Process, "BM_Djpeg", TClock::Manual, 1.15,
                                  "LoadPicture JPEG 6000 x 4000 / djpeg");
const vinsk::bench::TCompare png("BM_LoadPng", TClock::Process, "BM_Pngtopnm", TClock::Manual, 1.15,
                                 "LoadPicture PNG 6000 x 4000 / pngtopnm");
const vinsk::bench::TCompare tiff("BM_LoadTiff", TClock::Process, "BM_Tiff2rgba", TClock::Manual, 1.15,
                                  "LoadPicture TIFF (deflate) 6000 x 4000 / tiff2rgba");

} // namespace
