// Portable anymaps (ppm, pgm, pbm): P1 to P6, ASCII and binary, maximum
// values up to 65535. Any of the six is read whatever the extension.
#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

bool IsSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

class TPnmText {
public:
    explicit TPnmText(TByteReader& r) : FReader(r) {}

    // Skips blanks and comments; fails at the end of the data.
    void SkipBlanks()
    {
        while (true) {
            const std::uint8_t c = FReader.U8();
            if (c == '#') {
                while (!FReader.AtEnd() && FReader.U8() != '\n') {
                }
            } else if (!IsSpace(c)) {
                FReader.Seek(FReader.Pos() - 1);
                return;
            }
        }
    }

    std::uint32_t Number(const char* what)
    {
        SkipBlanks();
        std::uint8_t c = FReader.U8();
        if (!IsDigit(c))
            Fail(std::string("the ") + what + " is not a number");
        std::uint64_t v = 0;
        while (true) {
            v = v * 10 + (c - '0');
            if (v > 0xFFFFFFFFu)
                Fail(std::string("the ") + what + " is too large");
            if (FReader.AtEnd())
                break;
            c = FReader.U8();
            if (!IsDigit(c)) {
                FReader.Seek(FReader.Pos() - 1);
                break;
            }
        }
        return static_cast<std::uint32_t>(v);
    }

    // One P1 sample: a single 0 or 1, blanks between samples optional.
    std::uint32_t Bit()
    {
        SkipBlanks();
        const std::uint8_t c = FReader.U8();
        if (c != '0' && c != '1')
            Fail("a bitmap sample is not 0 or 1");
        return c - '0';
    }

private:
    TByteReader& FReader;
};

} // namespace

void DecodePnm(TBytes data, TBitmap32& out, const TDecodeLimits& limits) { DecodePnm(data, out, nullptr, limits); }

void DecodePnm(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    TByteReader r(data);
    if (data.size() < 2 || data[0] != 'P' || data[1] < '1' || data[1] > '6')
        Fail("not a portable anymap (no P1 to P6 signature)");
    const int kind = data[1] - '0';
    r.Skip(2);
    TPnmText text(r);
    const std::uint32_t width = text.Number("width");
    const std::uint32_t height = text.Number("height");
    const bool bitmap = kind == 1 || kind == 4;
    const std::uint32_t maxValue = bitmap ? 1 : text.Number("maximum value");
    if (maxValue == 0 || maxValue > 65535)
        Fail("the maximum value " + std::to_string(maxValue) + " is outside 1 to 65535");
    const unsigned samples = (kind == 3 || kind == 6) ? 3 : 1;
    // Samples above 8 bits are also kept as they are, linear.
    const bool keep = extras != nullptr && maxValue > 255;
    CheckPictureSize(width, height, keep ? samples * 2u : 0u, limits);

    const bool binary = kind >= 4;
    if (binary) {
        // Exactly one blank separates the header from the samples.
        if (!IsSpace(r.U8()))
            Fail("the header does not end in a blank");
    }
    const unsigned sampleBytes = maxValue > 255 ? 2 : 1;
    const std::uint64_t pixels = std::uint64_t{width} * height;
    std::uint64_t need = 0;
    if (kind == 4)
        need = (std::uint64_t{width} + 7) / 8 * height;
    else if (binary)
        need = pixels * samples * sampleBytes;
    else
        need = pixels * samples; // at least one character per sample
    if (need > r.Remaining())
        FailTruncated();

    TBitmap32 bmp;
    AllocateRaster(bmp, width, height, limits);
    TLinearPlane plane;
    if (keep) {
        AllocatePlane16(plane, width, height, static_cast<int>(samples), 16);
        plane.SetSaturationLevel(static_cast<float>(maxValue));
    }
    std::uint16_t* kept = plane.U16();
    auto sample = [&]() -> std::uint32_t {
        std::uint32_t v = 0;
        if (!binary)
            v = text.Number("sample");
        else if (sampleBytes == 1)
            v = r.U8();
        else
            v = r.U16BE();
        if (keep)
            *kept++ = static_cast<std::uint16_t>(v);
        return ScaleToByte(v, maxValue);
    };
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint32_t* dst = bmp.ScanLine(static_cast<std::int32_t>(y));
        if (kind == 4) {
            TBytes row = r.Take((width + 7) / 8);
            for (std::uint32_t x = 0; x < width; ++x)
                dst[x] = ((row[x / 8] >> (7 - x % 8)) & 1) ? 0xFF000000u : 0xFFFFFFFFu;
            continue;
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            if (kind == 1) {
                dst[x] = text.Bit() ? 0xFF000000u : 0xFFFFFFFFu; // 1 is black
            } else if (samples == 1) {
                const std::uint32_t v = sample();
                dst[x] = Opaque(v, v, v);
            } else {
                const std::uint32_t red = sample();
                const std::uint32_t green = sample();
                const std::uint32_t blue = sample();
                dst[x] = Opaque(red, green, blue);
            }
        }
    }
    if (keep)
        extras->Linear.Swap(plane);
    out.Swap(bmp);
}

} // namespace vinsk::formats
