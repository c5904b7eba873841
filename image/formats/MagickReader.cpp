// Pictures read through GraphicsMagick: Photo CD (pcd), Dr. Halo (cut) and
// Alias/Wavefront (rla). The library decodes from memory with the coder
// chosen by name; it never guesses the format from the content, never opens
// a file and never starts a program.
#include <magick/api.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

void Silent(const ExceptionType, const char*, const char*) {}

// Decoding needs no file and no program, so every request is refused: a
// delegate or a file named inside a picture can never be reached.
MagickPassFail RefuseAccess(const ConfirmAccessMode, const char*, ExceptionInfo*) { return MagickFail; }

void InitializeMagickOnce()
{
    static const bool initialized = [] {
        ExceptionInfo exception;
        GetExceptionInfo(&exception);
        // The program keeps its own signal handling.
        const MagickPassFail status = InitializeMagickEx(nullptr, MAGICK_OPT_NO_SIGNAL_HANDER, &exception);
        DestroyExceptionInfo(&exception);
        if (status == MagickFail)
            return false;
        (void)SetErrorHandler(Silent);
        (void)SetWarningHandler(Silent);
        (void)SetLogEventMask("none");
        (void)MagickSetConfirmAccessHandler(RefuseAccess);
        // The pixel cache stays in memory: no temporary files, no mappings.
        (void)SetMagickResourceLimit(DiskResource, 0);
        (void)SetMagickResourceLimit(MapResource, 0);
        return true;
    }();
    if (!initialized)
        Fail("GraphicsMagick could not be initialised");
}

// The library's limits are process-wide; decodes take turns so that each one
// runs under its own limits.
std::mutex& MagickMutex()
{
    static std::mutex m;
    return m;
}

struct TSize {
    std::int64_t Width;
    std::int64_t Height;
};

// Working memory beside the pixels: the coders' buffers and the library's own.
constexpr std::uint64_t MagickMargin = 64ull << 20;

// The library holds a pixel and a colour-map index per pixel.
constexpr std::uint64_t MagickPixelBytes = sizeof(PixelPacket) + sizeof(IndexPacket);

void ApplyLimits(const TDecodeLimits& limits)
{
    const auto pixels = static_cast<magick_int64_t>(limits.Room() / 4);
    (void)SetMagickResourceLimit(WidthResource, limits.MaxSide);
    (void)SetMagickResourceLimit(HeightResource, limits.MaxSide);
    (void)SetMagickResourceLimit(PixelsResource, pixels);
    (void)SetMagickResourceLimit(MemoryResource, static_cast<magick_int64_t>(limits.Room()));
    // OpenMP's thread count is per calling thread, so it is set on each call.
    (void)SetMagickResourceLimit(ThreadsResource, 1);
}

// The library's picture and our raster exist together while the pixels are
// copied: both must fit within the raster limit. Refused here with our
// message; the library's memory limit holds it to that should a coder
// allocate more than it declared.
void LimitMemoryFor(TSize size, const TDecodeLimits& limits)
{
    CheckWorkingMemory(size.Width, size.Height, MagickPixelBytes, MagickMargin, limits);
    const auto raster = static_cast<std::uint64_t>(size.Width) * static_cast<std::uint64_t>(size.Height) * 4;
    (void)SetMagickResourceLimit(MemoryResource, static_cast<magick_int64_t>(limits.Room() + MagickMargin - raster));
}

class TException {
public:
    TException() { GetExceptionInfo(&FInfo); }
    ~TException() { DestroyExceptionInfo(&FInfo); }
    TException(const TException&) = delete;
    TException& operator=(const TException&) = delete;
    ExceptionInfo* operator->() { return &FInfo; }
    ExceptionInfo* Get() { return &FInfo; }

private:
    ExceptionInfo FInfo;
};

struct TImageDeleter {
    void operator()(Image* image) const { DestroyImageList(image); }
};
using TImagePtr = std::unique_ptr<Image, TImageDeleter>;

struct TImageInfoDeleter {
    void operator()(ImageInfo* info) const { DestroyImageInfo(info); }
};
using TImageInfoPtr = std::unique_ptr<ImageInfo, TImageInfoDeleter>;

// "CODER:" forces the coder, but only while no readable file has the whole
// name; a name component longer than any file system allows (255 bytes)
// guarantees that, so the content is never sniffed.
const std::string& Placeholder()
{
    static const std::string name(300, 'x');
    return name;
}

std::string ForcedName(const char* coder) { return std::string(coder) + ':' + Placeholder(); }

[[noreturn]] void FailWith(const char* coder, ExceptionInfo* exception)
{
    std::string text = std::string(coder) + " error: ";
    text += exception->reason != nullptr ? exception->reason : "the picture could not be decoded";
    // The library often names the file here, which is only the placeholder
    // (perhaps cut short).
    const std::string description = exception->description != nullptr ? exception->description : "";
    if (!description.empty() && description.find(Placeholder().substr(0, 32)) == std::string::npos)
        text += " (" + description + ")";
    Fail(text);
}

enum class TMode { Ping, Read };

TImagePtr RunCoder(const char* coder, TBytes data, TMode mode)
{
    const std::string name = ForcedName(coder);
    TImageInfoPtr info(CloneImageInfo(nullptr));
    if (!info)
        Fail("not enough memory for GraphicsMagick");
    std::strncpy(info->filename, name.c_str(), sizeof info->filename - 1);
    std::strncpy(info->magick, coder, sizeof info->magick - 1);
    TException exception;
    TImagePtr image(mode == TMode::Ping ? PingBlob(info.get(), data.data(), data.size(), exception.Get())
                                        : BlobToImage(info.get(), data.data(), data.size(), exception.Get()));
    if (image)
        GetImageException(image.get(), exception.Get());
    // Warnings too: they report damaged data that the coder papered over.
    if (!image || exception->severity != UndefinedException)
        FailWith(coder, exception.Get());
    if (std::strcmp(image->magick, coder) != 0)
        Fail(std::string(coder) + " error: the picture was decoded as " + image->magick);
    return image;
}

void ToRaster(Image* image, TBitmap32& out, const TDecodeLimits& limits)
{
    if (!IsRGBColorspace(image->colorspace) && TransformColorspace(image, RGBColorspace) != MagickPass)
        Fail("GraphicsMagick could not convert the picture to RGB");
    const std::int64_t width = image->columns;
    const std::int64_t height = image->rows;
    TBitmap32 bmp;
    AllocateRaster(bmp, width, height, limits);
    TException exception;
    for (std::int64_t y = 0; y < height; ++y) {
        const PixelPacket* p = AcquireImagePixels(image, 0, y, image->columns, 1, exception.Get());
        if (p == nullptr)
            Fail(std::string("GraphicsMagick could not give the pixels: ") +
                 (exception->reason != nullptr ? exception->reason : "unknown problem"));
        std::uint32_t* dst = bmp.ScanLine(static_cast<std::int32_t>(y));
        for (std::int64_t x = 0; x < width; ++x, ++p) {
            // Opacity is inverted alpha; without a matte channel it means nothing.
            const std::uint32_t alpha = image->matte ? ScaleToByte(MaxRGB - p->opacity, MaxRGB) : 255;
            dst[x] = Color32(alpha, ScaleToByte(p->red, MaxRGB), ScaleToByte(p->green, MaxRGB),
                             ScaleToByte(p->blue, MaxRGB));
        }
    }
    out.Swap(bmp);
}

// The declared size comes from `declaredSize`, or from a ping when that is
// null; it is held against the limits and `checkStructure` sees the file
// before any pixel is decoded.
void DecodeThroughMagick(const char* coder, TBytes data, TBitmap32& out, const TDecodeLimits& limits,
                         TSize (*declaredSize)(TBytes), void (*checkStructure)(TBytes, TSize))
{
    if (data.empty())
        FailTruncated();
    TSize size{0, 0};
    if (declaredSize != nullptr) {
        size = declaredSize(data);
        CheckRasterSize(size.Width, size.Height, limits);
    }
    InitializeMagickOnce();
    std::lock_guard<std::mutex> lock(MagickMutex());
    ApplyLimits(limits);
    if (declaredSize == nullptr) {
        TImagePtr ping = RunCoder(coder, data, TMode::Ping);
        size = {static_cast<std::int64_t>(ping->columns), static_cast<std::int64_t>(ping->rows)};
        CheckRasterSize(size.Width, size.Height, limits);
    }
    LimitMemoryFor(size, limits);
    if (checkStructure != nullptr)
        checkStructure(data, size);
    TImagePtr image = RunCoder(coder, data, TMode::Read);
    if (static_cast<std::int64_t>(image->columns) != size.Width ||
        static_cast<std::int64_t>(image->rows) != size.Height)
        Fail(std::string(coder) + " error: the decoded size differs from the declared size");
    ToRaster(image.get(), out, limits);
}

constexpr std::size_t PcdSector = 0x800;

// The coder's ping decodes the whole picture, so the size is taken from the
// header: the base resolution is 768 x 512, portrait when turned a quarter.
TSize PcdSize(TBytes data)
{
    if (data.size() < 3 * PcdSector)
        FailTruncated();
    // An overview file is a contact sheet that the library lays out with
    // fonts, not a picture.
    if (std::memcmp(data.data(), "PCD_OPA", 7) == 0)
        Fail("Photo CD overview files are not supported");
    if (std::memcmp(data.data() + PcdSector, "PCD", 3) != 0)
        Fail("not a Photo CD picture (no PCD signature)");
    const unsigned rotation = data[0xE02] & 0x03;
    if (rotation == 1 || rotation == 3)
        return {512, 768};
    return {768, 512};
}

// The coder reads each line up to its closing run and ignores the line's
// length word after the first line; a line that codes more or fewer bytes
// than the first would shift every later line. So every line is checked.
void CheckCutLines(TBytes data, TSize size)
{
    TByteReader r(data, 6);
    std::int64_t firstLineBytes = -1;
    for (std::int64_t y = 0; y < size.Height; ++y) {
        const std::uint16_t length = r.U16LE();
        TByteReader line(r.Take(length));
        std::int64_t bytes = 0;
        while (true) {
            if (line.AtEnd())
                Fail("CUT line " + std::to_string(y + 1) + " is longer than its length word");
            const std::uint8_t count = line.U8();
            const unsigned n = count & 0x7F;
            if (n == 0)
                break;
            const std::size_t coded = (count & 0x80) ? 1 : n;
            if (coded > line.Remaining())
                Fail("CUT line " + std::to_string(y + 1) + " is longer than its length word");
            line.Skip(coded);
            bytes += n;
        }
        if (!line.AtEnd())
            Fail("CUT line " + std::to_string(y + 1) + " is shorter than its length word");
        if (firstLineBytes < 0)
            firstLineBytes = bytes;
        else if (bytes != firstLineBytes)
            Fail("CUT line " + std::to_string(y + 1) + " codes " + std::to_string(bytes) + " bytes, the first " +
                 std::to_string(firstLineBytes));
    }
}

constexpr std::size_t RlaHeaderSize = 740;

// The coder neither notices a scanline cut short nor a channel whose runs do
// not give exactly one row: it leaves pixels unset or moves them to the next
// channel. It also puts scanline y at row y modulo the width, so a picture
// taller than wide loses rows, and it maps fewer than three colour channels
// onto red and green. So all of that is refused here.
void CheckRlaScanlines(TBytes data, TSize size)
{
    if (size.Height > size.Width)
        Fail("RLA pictures taller than wide (" + std::to_string(size.Width) + " x " + std::to_string(size.Height) +
             ") are not supported");
    TByteReader header(data, 20);
    const std::uint16_t colour = header.U16BE();
    const std::uint16_t matte = header.U16BE();
    // The coder reads no colour channels as three.
    if (colour != 0 && colour != 3)
        Fail("RLA pictures with " + std::to_string(colour) + " colour channels are not supported");
    const unsigned channels = 3u + matte;
    const std::size_t dataStart = RlaHeaderSize + 4 * static_cast<std::size_t>(size.Height);
    for (std::int64_t i = 0; i < size.Height; ++i) {
        TByteReader table(data, RlaHeaderSize + 4 * static_cast<std::size_t>(i));
        const std::uint32_t offset = table.U32BE();
        if (offset < dataStart)
            Fail("RLA scanline " + std::to_string(i + 1) + " starts inside the header");
        TByteReader scanline(data, offset);
        for (unsigned c = 0; c < channels; ++c) {
            const std::uint16_t length = scanline.U16BE();
            TByteReader coded(scanline.Take(length));
            std::int64_t values = 0;
            bool whole = true;
            while (whole && !coded.AtEnd()) {
                // A signed count: n >= 0 repeats the next byte n + 1 times,
                // n < 0 is followed by -n literal bytes.
                const auto n = static_cast<std::int8_t>(coded.U8());
                const std::size_t bytes = n < 0 ? static_cast<std::size_t>(-n) : 1;
                whole = bytes <= coded.Remaining();
                if (whole) {
                    coded.Skip(bytes);
                    values += n < 0 ? -n : n + 1;
                }
            }
            if (!whole || values != size.Width)
                Fail("RLA scanline " + std::to_string(i + 1) + " does not code a row of " +
                     std::to_string(size.Width) + " pixels in channel " + std::to_string(c + 1));
        }
    }
}

} // namespace

void DecodePcd(TBytes data, TBitmap32& out, const TDecodeLimits& limits)
{
    DecodeThroughMagick("PCD", data, out, limits, PcdSize, nullptr);
}

void DecodeCut(TBytes data, TBitmap32& out, const TDecodeLimits& limits)
{
    DecodeThroughMagick("CUT", data, out, limits, nullptr, CheckCutLines);
}

void DecodeRla(TBytes data, TBitmap32& out, const TDecodeLimits& limits)
{
    DecodeThroughMagick("RLA", data, out, limits, nullptr, CheckRlaScanlines);
}

} // namespace vinsk::formats
