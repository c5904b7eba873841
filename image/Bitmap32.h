// The picture raster: Width x Height colour words $AARRGGBB, row-major, top
// row first (in memory the bytes run blue, green, red, alpha, the layout of
// QImage::Format_ARGB32, so the view can wrap it without copying).
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "common/Status.h"
#include "linear/ClipMask.h"

namespace vinsk {

// Large rasters are placed on 2 MiB boundaries and offered transparent huge
// pages: filling a fresh picture then costs a few hundred page faults instead
// of tens of thousands.
template <typename T>
struct TRasterAllocator {
    using value_type = T;
    TRasterAllocator() = default;
    template <typename U>
    TRasterAllocator(const TRasterAllocator<U>&) noexcept {}
    T* allocate(std::size_t n);
    void deallocate(T* p, std::size_t n) noexcept;
    template <typename U>
    bool operator==(const TRasterAllocator<U>&) const noexcept { return true; }
};

void* AllocateRasterStorage(std::size_t bytes);
void FreeRasterStorage(void* p, std::size_t bytes) noexcept;

template <typename T>
T* TRasterAllocator<T>::allocate(std::size_t n)
{
    if (n > std::size_t(-1) / sizeof(T))
        throw std::bad_array_new_length();
    return static_cast<T*>(AllocateRasterStorage(n * sizeof(T)));
}

template <typename T>
void TRasterAllocator<T>::deallocate(T* p, std::size_t n) noexcept
{
    FreeRasterStorage(p, n * sizeof(T));
}

class TBitmap32 {
public:
    static constexpr std::uint32_t DefaultOuterColor = 0xFFFFFFFFu;

    std::int32_t Width() const { return FWidth; }
    std::int32_t Height() const { return FHeight; }
    bool Empty() const { return FWidth <= 0 || FHeight <= 0 || FBits.empty(); }

    // New size with every pixel 0; 0 x 0 releases the storage.
    void SetSize(std::int32_t width, std::int32_t height);
    void Release() { SetSize(0, 0); }

    std::uint32_t OuterColor() const { return FOuterColor; }
    void SetOuterColor(std::uint32_t c) { FOuterColor = c; }

    // Reads outside the raster give the outer colour; writes outside are ignored.
    std::uint32_t PixelS(std::int32_t x, std::int32_t y) const
    {
        return Inside(x, y) ? FBits[Index(x, y)] : FOuterColor;
    }
    void SetPixelS(std::int32_t x, std::int32_t y, std::uint32_t c)
    {
        if (Inside(x, y))
            FBits[Index(x, y)] = c;
    }

    bool Inside(std::int32_t x, std::int32_t y) const
    {
        return x >= 0 && y >= 0 && x < FWidth && y < FHeight;
    }

    // Unchecked access for whole-raster passes.
    std::uint32_t* Bits() { return FBits.data(); }
    const std::uint32_t* Bits() const { return FBits.data(); }
    std::uint32_t* ScanLine(std::int32_t y) { return FBits.data() + static_cast<std::size_t>(y) * FWidth; }
    const std::uint32_t* ScanLine(std::int32_t y) const
    {
        return FBits.data() + static_cast<std::size_t>(y) * FWidth;
    }

    void Swap(TBitmap32& other) noexcept;

    // The levels of 255 as loaded, once the dark subtraction has recorded
    // them (bit c for the byte c of a colour word: 0 blue, 1 green, 2 red),
    // so that a clipped level the dark lowers stays clipped. A new size
    // forgets them.
    const TClipMask& Clipped() const { return FClipped; }
    TClipMask& Clipped() { return FClipped; }

private:
    std::size_t Index(std::int32_t x, std::int32_t y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) + static_cast<std::size_t>(x);
    }

    std::int32_t FWidth = 0;
    std::int32_t FHeight = 0;
    std::uint32_t FOuterColor = DefaultOuterColor;
    std::vector<std::uint32_t, TRasterAllocator<std::uint32_t>> FBits;
    TClipMask FClipped;
};

inline std::uint32_t ColorA(std::uint32_t c) { return c >> 24; }
inline std::uint32_t ColorR(std::uint32_t c) { return (c >> 16) & 0xFFu; }
inline std::uint32_t ColorG(std::uint32_t c) { return (c >> 8) & 0xFFu; }
inline std::uint32_t ColorB(std::uint32_t c) { return c & 0xFFu; }
inline std::uint32_t Color32(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return (a << 24) | (r << 16) | (g << 8) | b;
}

struct PixelValue {
    std::int32_t R = 0;
    std::int32_t G = 0;
    std::int32_t B = 0;
    std::int32_t A = 0;
};

// "[x, y] = [A:a, R:r, G:g, B:b]"
std::string PixelReadoutText(std::int32_t x, std::int32_t y, const PixelValue& v);

// Reads (x, y) with the safe read and writes the read-out text to the read-out panel.
PixelValue PixelReadout(const TBitmap32& bmp, std::int32_t x, std::int32_t y, TStatusPanels& status);

} // namespace vinsk
