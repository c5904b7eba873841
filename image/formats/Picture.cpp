#include "image/formats/Picture.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "image/formats/Decoders.h"

namespace vinsk {

namespace {

using formats::TBytes;
using TDecoder = void (*)(TBytes, TBitmap32&, const formats::TDecodeLimits&);

struct TRegistration {
    const char* Extension;
    const char* Description;
    TDecoder Decoder; // nullptr: the format is listed but cannot be read
};

// In registration order; lookups walk it backwards.
constexpr TRegistration Registrations[] = {
    {"wmf", "Metafiles", nullptr},
    {"emf", "Enhanced Metafiles", nullptr},
    {"ico", "Icons", formats::DecodeIco},
    {"bmp", "Bitmaps", formats::DecodeBmp},
    {"jpeg", "JPEG Image File", formats::DecodeJpeg},
    {"jpg", "JPEG Image File", formats::DecodeJpeg},
    {"bmp", "Windows bitmaps", formats::DecodeBmp},
    {"ico", "Windows icons", formats::DecodeIco},
    {"wmf", "Windows metafiles", nullptr},
    {"emf", "Windows enhanced meta files", nullptr},
    {"jfif", "JFIF images", formats::DecodeJpeg},
    {"jpg", "JPG images", formats::DecodeJpeg},
    {"jpe", "JPE images", formats::DecodeJpeg},
    {"jpeg", "JPEG images", formats::DecodeJpeg},
    {"rle", "Run length encoded Windows bitmaps", formats::DecodeBmp},
    {"dib", "Device independant Windows bitmaps", formats::DecodeBmp},
    {"win", "Truevision images", formats::DecodeTga},
    {"vst", "Truevision images", formats::DecodeTga},
    {"vda", "Truevision images", formats::DecodeTga},
    {"tga", "Truevision images", formats::DecodeTga},
    {"icb", "Truevision images", formats::DecodeTga},
    {"tiff", "Macintosh TIFF images", formats::DecodeTiff},
    {"tif", "PC TIF images", formats::DecodeTiff},
    {"fax", "GFI fax images", formats::DecodeTiff},
    // Reading PostScript would mean running an interpreter on the file.
    {"eps", "Encapsulated Postscript images", nullptr},
    {"pcx", "ZSoft Paintbrush images", formats::DecodePcx},
    {"pcc", "ZSoft Paintbrush images", formats::DecodePcx},
    {"scr", "Word 5.x screen capture images", formats::DecodePcx},
    // GraphicsMagick has no RPF coder, and its RLA coder was never checked on RPF files.
    {"rpf", "Alias/Wavefront images", nullptr},
    {"rla", "Alias/Wavefront images", formats::DecodeRla},
    {"sgi", "SGI true color images", formats::DecodeSgi},
    {"rgb", "SGI true color images", formats::DecodeSgi},
    {"rgba", "SGI true color images with alpha", formats::DecodeSgi},
    {"bw", "SGI black/white images", formats::DecodeSgi},
    {"psd", "Photoshop images", formats::DecodePsd},
    {"pdd", "Photoshop images", formats::DecodePsd},
    {"ppm", "Portable pixel map images", formats::DecodePnm},
    {"pgm", "Portable gray map images", formats::DecodePnm},
    {"pbm", "Portable bitmap images", formats::DecodePnm},
    {"cel", "Autodesk images", nullptr},
    {"pic", "Autodesk images", nullptr},
    {"pcd", "Kodak Photo-CD images", formats::DecodePcd},
    {"cut", "Dr. Halo images", formats::DecodeCut},
    {"psp", "Paintshop Pro images", nullptr},
    {"png", "Portable network graphic images", formats::DecodePng},
};

// Larger files would not fit a raster within the limits anyway.
constexpr std::uintmax_t MaxFileBytes = 4ull << 30;

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The extension as typed, without the dot; empty when the name has none.
std::string ExtensionOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return path.substr(dot + 1);
}

const TRegistration* FindRegistration(const std::string& extension)
{
    const std::string key = Lower(extension);
    for (auto it = std::rbegin(Registrations); it != std::rend(Registrations); ++it)
        if (key == it->Extension)
            return &*it;
    return nullptr;
}

[[noreturn]] void FailFor(const std::string& path, const std::string& problem)
{
    throw EPictureError("Cannot load " + path + ": " + problem);
}

// Files up to this size are read; larger ones are mapped, so that only the
// pages a reader touches are loaded: a picture padded with gigabytes costs
// no more than the picture.
constexpr std::uintmax_t MaxReadBytes = 64ull << 20;

// The bytes of a picture file: read into memory, or mapped read-only.
class TFileImage {
public:
    TFileImage() = default;
    TFileImage(const TFileImage&) = delete;
    TFileImage& operator=(const TFileImage&) = delete;
    ~TFileImage()
    {
        if (FMapped != nullptr)
            ::munmap(FMapped, FMappedSize);
    }

    TBytes Bytes() const
    {
        return FMapped != nullptr ? TBytes(static_cast<const std::uint8_t*>(FMapped), FMappedSize)
                                  : TBytes(FRead.data(), FRead.size());
    }

    std::vector<std::uint8_t> FRead;
    void* FMapped = nullptr;
    std::size_t FMappedSize = 0;
};

void ReadWholeFile(const std::string& path, TFileImage& image)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec)
        FailFor(path, ec.message());
    if (!std::filesystem::is_regular_file(status))
        FailFor(path, "not a regular file");
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec)
        FailFor(path, ec.message());
    if (size == 0)
        FailFor(path, "the file is empty");
    if (size > MaxFileBytes)
        FailFor(path, "the file is larger than 4 GiB");

    if (size > MaxReadBytes) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            FailFor(path, std::strerror(errno));
        // Private and writable, as the read buffer is: a library that writes
        // into its input touches a copy of that page, never the file.
        void* map = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
        const int err = errno;
        ::close(fd);
        if (map == MAP_FAILED)
            FailFor(path, std::strerror(err));
        image.FMapped = map;
        image.FMappedSize = static_cast<std::size_t>(size);
        return;
    }

    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        FailFor(path, std::strerror(errno));
    std::vector<std::uint8_t>& data = image.FRead;
    try {
        data.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        FailFor(path, "not enough memory to read the file");
    }
    const std::size_t got = std::fread(data.data(), 1, data.size(), f);
    const bool readError = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (readError)
        FailFor(path, std::strerror(err));
    // A file that shrank while being read is decoded as far as it goes.
    data.resize(got);
}

} // namespace

const std::vector<TPictureFormat>& RegisteredPictureFormats()
{
    static const std::vector<TPictureFormat> formats = [] {
        std::vector<TPictureFormat> v;
        for (const TRegistration& r : Registrations)
            v.push_back({r.Extension, r.Description});
        return v;
    }();
    return formats;
}

std::string PictureOpenFilter()
{
    std::string all;
    std::string entries;
    for (auto it = std::rbegin(Registrations); it != std::rend(Registrations); ++it) {
        const std::string pattern = std::string("*.") + it->Extension;
        if (!all.empty())
            all += ';';
        all += pattern;
        entries += '|';
        entries += it->Description;
        entries += " (" + pattern + ")|" + pattern;
    }
    return "All (" + all + ")|" + all + entries;
}

void LoadPicture(const std::string& path, TBitmap32& out)
{
    const std::string extension = ExtensionOf(path);
    const TRegistration* reg = FindRegistration(extension);
    if (reg == nullptr)
        throw EPictureError("Unknown picture file extension (." + extension + ")");
    if (reg->Decoder == nullptr)
        FailFor(path, std::string("reading ") + reg->Description + " is not supported");

    TFileImage file;
    ReadWholeFile(path, file);
    TBitmap32 bmp;
    try {
        reg->Decoder(file.Bytes(), bmp, formats::TDecodeLimits{});
    } catch (const EPictureError& e) {
        FailFor(path, e.what());
    } catch (const std::bad_alloc&) {
        FailFor(path, "not enough memory");
    }
    // Keep the caller's outer colour; only the pixels are new.
    bmp.SetOuterColor(out.OuterColor());
    out.Swap(bmp);
}

} // namespace vinsk
