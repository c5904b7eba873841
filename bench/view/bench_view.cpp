// Repainting the image view with a 6000 x 4000 picture, against a plain copy
// of as many pixels as the view shows: the least any repaint has to write.
// Goal: a repaint within 3 x that copy and within one frame (16.7 ms).
#include <QApplication>
#include <QImage>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "app/widgets/ImageView.h"
#include "graphics/ViewMath.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int PictureW = 6000;
constexpr int PictureH = 4000;
// About the size of the image view in the main window.
constexpr int ViewW = 592;
constexpr int ViewH = 480;

struct TFixture {
    vinsk::TBitmap32 Bitmap;
    std::unique_ptr<vinsk::TImageView> View;
    QImage CopyTarget;

    TFixture()
    {
        Bitmap.SetSize(PictureW, PictureH);
        for (int y = 0; y < PictureH; ++y) {
            std::uint32_t* line = Bitmap.ScanLine(y);
            for (int x = 0; x < PictureW; ++x)
                line[x] = 0xFF000000u | static_cast<std::uint32_t>((x * 7) & 0xFF) << 16 |
                          static_cast<std::uint32_t>((y * 3) & 0xFF) << 8 | static_cast<std::uint32_t>((x ^ y) & 0xFF);
        }
        View = std::make_unique<vinsk::TImageView>();
        View->resize(ViewW, ViewH);
        View->SetBitmap(&Bitmap);
        View->show();
        QApplication::processEvents();
        CopyTarget = QImage(View->viewport()->size(), QImage::Format_RGB32);
    }

    // Row by row from the middle of the picture, one pixel per view pixel.
    void CopyVisible()
    {
        const int w = CopyTarget.width();
        const int h = CopyTarget.height();
        const int x0 = (PictureW - w) / 2;
        const int y0 = (PictureH - h) / 2;
        for (int y = 0; y < h; ++y)
            std::memcpy(CopyTarget.scanLine(y), Bitmap.ScanLine(y0 + y) + x0, static_cast<std::size_t>(w) * 4);
        benchmark::DoNotOptimize(CopyTarget.constBits());
    }

    double CopyMs()
    {
        constexpr int n = 200;
        CopyVisible();
        const auto t0 = Clock::now();
        for (int i = 0; i < n; ++i)
            CopyVisible();
        return std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / n;
    }

    void Repaint() { View->viewport()->repaint(); }
};

TFixture& Fixture()
{
    static TFixture f;
    return f;
}

void Report(benchmark::State& state, double paintMs, double copyMs)
{
    state.counters["paint_ms"] = paintMs;
    state.counters["copy_ms"] = copyMs;
    state.counters["ratio"] = paintMs / copyMs;
}

// rebuild: the picture is taken anew from the raster for every repaint, as
// after scrolling; otherwise the repaint reuses the picture as last shown,
// as when a marker moves.
void PaintAt(benchmark::State& state, float scale, bool rebuild)
{
    TFixture& f = Fixture();
    f.View->SetScale(scale);
    // Scrolled to the middle, where the picture covers the view.
    f.View->horizontalScrollBar()->setValue(f.View->horizontalScrollBar()->maximum() / 2);
    f.View->verticalScrollBar()->setValue(f.View->verticalScrollBar()->maximum() / 2);
    const int middle = f.View->horizontalScrollBar()->value();
    const double copyMs = f.CopyMs();
    double total = 0;
    std::int64_t n = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (rebuild) {
            // Scrolling by one pixel: the shown picture is taken anew.
            QScrollBar* h = f.View->horizontalScrollBar();
            h->setValue(h->value() == middle ? middle + 1 : middle);
        }
        f.Repaint();
        total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        ++n;
    }
    Report(state, total / static_cast<double>(n), copyMs);
}

float FitScale()
{
    return vinsk::ZoomScale(vinsk::ClampZoom(vinsk::FitZoom(Fixture().View->width(), PictureW)));
}

void BM_PaintFit(benchmark::State& state)
{
    PaintAt(state, FitScale(), state.range(0) != 0);
}

void BM_Paint100(benchmark::State& state)
{
    PaintAt(state, 1.0f, state.range(0) != 0);
}

void BM_Paint300(benchmark::State& state)
{
    PaintAt(state, 3.0f, state.range(0) != 0);
}

// A zoom step as the scroll bar makes it: new scale, new offsets, repaint.
void BM_ZoomChange(benchmark::State& state)
{
    TFixture& f = Fixture();
    f.View->SetScale(1.0f);
    const double copyMs = f.CopyMs();
    double total = 0;
    std::int64_t n = 0;
    int zoom = 100;
    for (auto _ : state) {
        zoom = zoom >= 300 ? 100 : zoom + 1;
        const auto t0 = Clock::now();
        f.View->SetScale(vinsk::ZoomScale(zoom));
        f.Repaint();
        total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        ++n;
    }
    Report(state, total / static_cast<double>(n), copyMs);
}

BENCHMARK(BM_PaintFit)->ArgName("rebuild")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Paint100)->ArgName("rebuild")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Paint300)->ArgName("rebuild")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomChange)->Unit(benchmark::kMillisecond);

} // namespace
