#include "Bitmap32.h"

#include <cstdlib>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vinsk {

namespace {
constexpr std::size_t HugePage = std::size_t(2) << 20;
}

void* AllocateRasterStorage(std::size_t bytes)
{
    if (bytes >= 2 * HugePage) {
        const std::size_t rounded = (bytes + HugePage - 1) / HugePage * HugePage;
        if (void* p = std::aligned_alloc(HugePage, rounded)) {
#if defined(MADV_HUGEPAGE)
            madvise(p, rounded, MADV_HUGEPAGE); // only advice: failure is harmless
#endif
            return p;
        }
        throw std::bad_alloc();
    }
    return ::operator new(bytes);
}

void FreeRasterStorage(void* p, std::size_t bytes) noexcept
{
    if (bytes >= 2 * HugePage)
        std::free(p);
    else
        ::operator delete(p);
}

void TBitmap32::SetSize(std::int32_t width, std::int32_t height)
{
    FClipped.Clear();
    if (width <= 0 || height <= 0) {
        FWidth = 0;
        FHeight = 0;
        decltype(FBits)().swap(FBits);
        return;
    }
    FBits.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
    FWidth = width;
    FHeight = height;
}

void TBitmap32::Swap(TBitmap32& other) noexcept
{
    std::swap(FWidth, other.FWidth);
    std::swap(FHeight, other.FHeight);
    std::swap(FOuterColor, other.FOuterColor);
    FBits.swap(other.FBits);
    FClipped.Swap(other.FClipped);
}

std::string PixelReadoutText(std::int32_t x, std::int32_t y, const PixelValue& v)
{
    std::string s;
    s.reserve(48);
    s += '[';
    s += std::to_string(x);
    s += ", ";
    s += std::to_string(y);
    s += "] = [A:";
    s += std::to_string(v.A);
    s += ", R:";
    s += std::to_string(v.R);
    s += ", G:";
    s += std::to_string(v.G);
    s += ", B:";
    s += std::to_string(v.B);
    s += ']';
    return s;
}

PixelValue PixelReadout(const TBitmap32& bmp, std::int32_t x, std::int32_t y, TStatusPanels& status)
{
    const std::uint32_t c = bmp.PixelS(x, y);
    PixelValue v;
    v.R = static_cast<std::int32_t>(ColorR(c));
    v.G = static_cast<std::int32_t>(ColorG(c));
    v.B = static_cast<std::int32_t>(ColorB(c));
    v.A = static_cast<std::int32_t>(ColorA(c));
    status.Panels[PanelReadout] = PixelReadoutText(x, y, v);
    return v;
}

} // namespace vinsk
