#include "image/formats/Picture.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <system_error>
#include <utility>

#include "image/formats/Decoders.h"
#include "image/formats/LightPlane.h"
#include "image/FrameCalibration.h"

namespace vinsk {

namespace {

using formats::TBytes;
using TDecoder = void (*)(TBytes, TBitmap32&, const formats::TDecodeLimits&);
using TLinearDecoder = void (*)(TBytes, TBitmap32&, TPictureExtras*, const formats::TDecodeLimits&);

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

// The registered readers that can also keep linear samples.
struct TLinearReader {
    TDecoder Plain;
    TLinearDecoder Linear;
};

const TLinearReader LinearReaders[] = {
    {formats::DecodePng, formats::DecodePng}, {formats::DecodeTiff, formats::DecodeTiff},
    {formats::DecodePnm, formats::DecodePnm}, {formats::DecodeSgi, formats::DecodeSgi},
    {formats::DecodePsd, formats::DecodePsd}, {formats::DecodeJpeg, formats::DecodeJpeg},
};

// Read beside the registered formats; looked up only when no registered
// extension matches, and listed after them.
struct TAddedFormat {
    const char* Extension;
    const char* Description;
    TLinearDecoder Decoder;
};

constexpr TAddedFormat AddedFormats[] = {
    {"fits", "FITS images", formats::DecodeFits},
    {"fit", "FITS images", formats::DecodeFits},
    {"fts", "FITS images", formats::DecodeFits},
    {"fz", "Tile-compressed FITS images", formats::DecodeFits},
    {"cr2", "Camera RAW images", formats::DecodeRaw},
    {"cr3", "Camera RAW images", formats::DecodeRaw},
    {"nef", "Camera RAW images", formats::DecodeRaw},
    {"arw", "Camera RAW images", formats::DecodeRaw},
    {"dng", "Camera RAW images", formats::DecodeRaw},
    {"orf", "Camera RAW images", formats::DecodeRaw},
    {"raf", "Camera RAW images", formats::DecodeRaw},
    {"rw2", "Camera RAW images", formats::DecodeRaw},
    {"pef", "Camera RAW images", formats::DecodeRaw},
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

const TAddedFormat* FindAddedFormat(const std::string& extension)
{
    const std::string key = Lower(extension);
    for (const TAddedFormat& f : AddedFormats)
        if (key == f.Extension)
            return &f;
    return nullptr;
}

[[noreturn]] void FailFor(const std::string& path, const std::string& problem)
{
    throw EPictureError("Cannot load " + path + ": " + problem);
}

// The refusal of a load that would not fit beside what is held.
[[noreturn]] void FailForRoom(const std::string& path, const TMemoryHeld& held, const std::string& what,
                              std::uint64_t need)
{
    throw EPictureNoRoom("Cannot load " + path + ": " + held.Together + what + " need " + NeedText(need) +
                         "; the limit is " + LimitText(MemoryBudget));
}

std::function<void(const std::string&)>& ReadSeam()
{
    static std::function<void(const std::string&)> seam;
    return seam;
}

// The bytes of a picture file, copied into private anonymous memory. Only
// the file's data is read: its holes stay untouched zero pages, so a picture
// padded with gigabytes of sparse nothing costs no more than the picture.
// A copy, not a mapping of the file: a mapped file that another program
// shortens kills the reader with SIGBUS at the first page it touches.
class TFileImage {
public:
    TFileImage() = default;
    TFileImage(const TFileImage&) = delete;
    TFileImage& operator=(const TFileImage&) = delete;
    ~TFileImage()
    {
        if (FMemory != nullptr)
            ::munmap(FMemory, FSize);
    }

    TBytes Bytes() const { return TBytes(static_cast<const std::uint8_t*>(FMemory), FSize); }

    void* FMemory = nullptr;
    std::size_t FSize = 0;
    std::uint64_t FCopied = 0; // bytes read into memory, the holes left out
};

class TFd {
public:
    explicit TFd(int fd) : Fd(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    const int Fd;
};

constexpr const char* FileChanged = "The file changed while it was read";

// Reads [from, to) of the file into the image at the same offsets.
void ReadRange(const std::string& path, int fd, TFileImage& image, off_t from, off_t to)
{
    auto* bytes = static_cast<std::uint8_t*>(image.FMemory);
    while (from < to) {
        const ssize_t got = ::pread(fd, bytes + from, static_cast<std::size_t>(to - from), from);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            FailFor(path, std::strerror(errno));
        if (got == 0)
            FailFor(path, FileChanged);
        from += got;
        image.FCopied += static_cast<std::uint64_t>(got);
    }
}

void ReadWholeFile(const std::string& path, TFileImage& image, const TMemoryHeld& held)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec)
        FailFor(path, ec.message());
    if (!std::filesystem::is_regular_file(status))
        FailFor(path, "not a regular file");
    const TFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (file.Fd < 0 || ::fstat(file.Fd, &st) != 0)
        FailFor(path, std::strerror(errno));
    const auto size = static_cast<std::uintmax_t>(st.st_size);
    if (size == 0)
        FailFor(path, "the file is empty");
    if (size > MaxFileBytes)
        FailFor(path, "the file is larger than 4 GiB");
    if (ReadSeam())
        ReadSeam()(path);

    // Reserved, not committed: only the pages the data is read into count.
    void* memory = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED)
        FailFor(path, "not enough memory to read the file");
    image.FMemory = memory;
    image.FSize = static_cast<std::size_t>(size);
    // The data's extents first: their copy is refused before it is made
    // when it alone would take the load past the budget.
    const auto end = static_cast<off_t>(size);
    std::vector<std::pair<off_t, off_t>> extents;
    std::uint64_t dataBytes = 0;
    for (off_t at = 0; at < end;) {
        off_t data = ::lseek(file.Fd, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // a hole to the end, or the file shrank: fstat below tells
        if (data < 0)
            data = at; // no hole search here: all of it is data
        if (data >= end)
            break;
        off_t hole = ::lseek(file.Fd, data, SEEK_HOLE);
        if (hole < 0 || hole > end)
            hole = end;
        extents.emplace_back(data, hole);
        dataBytes += static_cast<std::uint64_t>(hole - data);
        at = hole;
    }
    if (dataBytes + held.Bytes > MemoryBudget) {
        if (!held.Together.empty())
            FailForRoom(path, held, "", dataBytes + held.Bytes);
        FailFor(path, "reading the file needs " + NeedText(dataBytes) + " of memory; the limit is " +
                          LimitText(MemoryBudget));
    }
    for (const auto& [from, to] : extents)
        ReadRange(path, file.Fd, image, from, to);
    if (::fstat(file.Fd, &st) != 0 || static_cast<std::uintmax_t>(st.st_size) < size)
        FailFor(path, FileChanged);
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
    auto add = [&](const char* extension, const char* description) {
        const std::string pattern = std::string("*.") + extension;
        if (!all.empty())
            all += ';';
        all += pattern;
        entries += '|';
        entries += description;
        entries += " (" + pattern + ")|" + pattern;
    };
    for (auto it = std::rbegin(Registrations); it != std::rend(Registrations); ++it)
        add(it->Extension, it->Description);
    for (const TAddedFormat& f : AddedFormats)
        add(f.Extension, f.Description);
    return "All (" + all + ")|" + all + entries;
}

const std::vector<TPictureFormat>& AddedPictureFormats()
{
    static const std::vector<TPictureFormat> formats = [] {
        std::vector<TPictureFormat> v;
        for (const TAddedFormat& f : AddedFormats)
            v.push_back({f.Extension, f.Description});
        return v;
    }();
    return formats;
}

namespace {

// Reads the file with the reader its extension chooses; extras nullptr:
// the raster alone, as the registered readers have always delivered it.
void Load(const std::string& path, TBitmap32& out, TPictureExtras* extras, const TMemoryHeld& held)
{
    const std::string extension = ExtensionOf(path);
    const TRegistration* reg = FindRegistration(extension);
    TDecoder plain = nullptr;
    TLinearDecoder linear = nullptr;
    if (reg != nullptr) {
        if (reg->Decoder == nullptr)
            FailFor(path, std::string("reading ") + reg->Description + " is not supported");
        plain = reg->Decoder;
        if (extras != nullptr)
            for (const TLinearReader& r : LinearReaders)
                if (r.Plain == plain)
                    linear = r.Linear;
    } else if (const TAddedFormat* added = FindAddedFormat(extension)) {
        linear = added->Decoder;
    } else {
        throw EPictureError("Unknown picture file extension (." + extension + ")");
    }

    TFileImage file;
    ReadWholeFile(path, file, held);
    formats::TDecodeLimits limits;
    limits.Held = file.FCopied + held.Bytes;
    limits.Together = held.Together;
    TBitmap32 bmp;
    TPictureExtras got;
    try {
        if (linear != nullptr)
            linear(file.Bytes(), bmp, extras ? &got : nullptr, limits);
        else
            plain(file.Bytes(), bmp, limits);
    } catch (const EPictureNoRoom& e) {
        throw EPictureNoRoom("Cannot load " + path + ": " + e.what());
    } catch (const EPictureError& e) {
        FailFor(path, e.what());
    } catch (const std::bad_alloc&) {
        FailFor(path, "not enough memory");
    }
    TTransfer transfer;
    if (extras != nullptr) {
        transfer = ChooseTransfer(extras->Choice, got.Declared, reg == nullptr);
        if (MakesLightPlane(bmp, got.Linear, transfer, extras->AsFrame)) {
            // The light counts in the budget with everything the load holds.
            const std::uint64_t need = file.FCopied + held.Bytes + RasterBytes(bmp) + got.Linear.Bytes() +
                                       LightPlaneBytes(bmp, got.Linear);
            if (need > MemoryBudget) {
                if (!held.Together.empty())
                    FailForRoom(path, held, " as light", need);
                FailFor(path, "the picture as light needs " + NeedText(need) + "; the limit is " +
                                  LimitText(MemoryBudget));
            }
            try {
                MakeLightPlane(bmp, got.Linear, transfer, extras->AsFrame);
            } catch (const std::bad_alloc&) {
                FailFor(path, "not enough memory");
            }
        }
    }
    // Keep the caller's outer colour; only the pixels are new.
    bmp.SetOuterColor(out.OuterColor());
    out.Swap(bmp);
    if (extras != nullptr) {
        extras->Linear.Swap(got.Linear);
        extras->Setup = got.Setup;
        extras->Transfer = transfer;
        extras->Declared = got.Declared;
        extras->HoldsLight = reg == nullptr;
    }
}

} // namespace

bool PictureReadsBesideOthers(const std::string& path)
{
    const std::string extension = ExtensionOf(path);
    if (FindRegistration(extension) == nullptr)
        if (const TAddedFormat* added = FindAddedFormat(extension); added != nullptr && added->Decoder == formats::DecodeFits)
            return formats::FitsReentrant();
    return true;
}

void SetPictureReadSeam(std::function<void(const std::string&)> seam) { ReadSeam() = std::move(seam); }

void LoadPicture(const std::string& path, TBitmap32& out) { Load(path, out, nullptr, {}); }

void LoadPicture(const std::string& path, TBitmap32& out, TPictureExtras& extras) { Load(path, out, &extras, {}); }

void LoadPicture(const std::string& path, TBitmap32& out, TPictureExtras& extras, const TMemoryHeld& held)
{
    Load(path, out, &extras, held);
}

void LoadPictureInPlaceOf(const std::string& path, TBitmap32& out, TPictureExtras& extras, const TMemoryHeld& held,
                          const std::function<bool()>& release)
{
    if (held.Bytes == 0) {
        Load(path, out, &extras, {});
        return;
    }
    try {
        Load(path, out, &extras, held);
        return;
    } catch (const EPictureNoRoom&) {
        if (!release())
            throw;
    }
    // A failed load leaves `out` and `extras` as they were: the same request again.
    try {
        Load(path, out, &extras, {});
    } catch (const EPictureError& e) {
        throw EPictureError(std::string(e.what()) + " (the open picture was closed to make room for it)");
    }
}

} // namespace vinsk
