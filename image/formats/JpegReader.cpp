// JPEG pictures through libjpeg's decompression interface. Errors come back
// by longjmp to a frame without C++ objects, warnings are never printed.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <jpeglib.h>
#include <jerror.h>

#include "image/formats/ColourDeclarations.h"
#include "image/formats/ReaderUtil.h"

namespace vinsk::formats {

namespace {

// More scans than this only serve to make decoding take forever: real
// progressive pictures have a few dozen at most, and each scan costs a pass
// over all the coefficients.
constexpr int MaxScans = 300;

// libjpeg's working memory beside the raster: the raster and libjpeg's
// buffers together stay within the raster limit and this margin.
constexpr std::uint64_t WorkingMargin = 64ull << 20;

struct TJpegState {
    jpeg_decompress_struct Info;
    jpeg_error_mgr Errors;
    jpeg_progress_mgr Progress;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    bool Truncated;
    bool Corrupt;
    char CorruptMessage[JMSG_LENGTH_MAX];
    // What the file says of its tone curve, when the caller asks: the ICC
    // profile and the EXIF block, in malloc'd copies (the markers live in
    // libjpeg's pool, which decoding frees).
    bool Declarations;
    JOCTET* Icc;
    unsigned int IccLength;
    JOCTET* Exif;
    unsigned int ExifLength;
};

TJpegState* StateOf(j_common_ptr info) { return static_cast<TJpegState*>(info->client_data); }

void ErrorExit(j_common_ptr info)
{
    TJpegState* s = StateOf(info);
    if (info->err->msg_code == JERR_NO_BACKING_STORE)
        std::snprintf(s->Message, sizeof s->Message, "the picture needs more memory than allowed");
    else
        info->err->format_message(info, s->Message);
    std::longjmp(s->Jump, 1);
}

void EmitMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return; // trace messages
    TJpegState* s = StateOf(info);
    const int code = info->err->msg_code;
    if (code == JWRN_JPEG_EOF) {
        s->Truncated = true;
    } else if ((code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE || code == JWRN_MUST_RESYNC) && !s->Corrupt) {
        s->Corrupt = true;
        info->err->format_message(info, s->CorruptMessage);
    }
}

void OutputMessage(j_common_ptr) {}

// The scans the data hold, counted from the markers without decoding:
// segment by segment, with each scan's entropy-coded data skipped up to the
// next marker that is neither a stuffed byte nor a restart.
int CountScans(TBytes data)
{
    int scans = 0;
    std::size_t i = 2; // after SOI
    while (i + 3 < data.size()) {
        if (data[i] != 0xFF || data[i + 1] == 0xFF) { // stray or fill bytes
            ++i;
            continue;
        }
        const std::uint8_t marker = data[i + 1];
        if (marker == 0xD9) // EOI
            break;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
            i += 2;
            continue;
        }
        i += 2 + ((std::size_t{data[i + 2]} << 8) | data[i + 3]);
        if (marker != 0xDA)
            continue;
        ++scans;
        while (i + 1 < data.size() &&
               !(data[i] == 0xFF && data[i + 1] != 0x00 && (data[i + 1] < 0xD0 || data[i + 1] > 0xD7)))
            ++i;
    }
    return scans;
}

void Progress(j_common_ptr info)
{
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > MaxScans) {
        TJpegState* s = StateOf(info);
        std::snprintf(s->Message, sizeof s->Message, "the JPEG data have more than %d scans", MaxScans);
        std::longjmp(s->Jump, 1);
    }
}

// Everything that may longjmp happens here; its frame holds no C++ object.
// Returns false with s->Message set on a library error.
bool Decompress(TJpegState* s, TBytes data, TBitmap32* bmp, const TDecodeLimits* limits)
{
    if (setjmp(s->Jump) != 0)
        return false;
    jpeg_create_decompress(&s->Info);
    // Refused at once instead of after hundreds of passes; the progress
    // monitor stays for what the count cannot see.
    if (CountScans(data) > MaxScans) {
        std::snprintf(s->Message, sizeof s->Message, "the JPEG data have more than %d scans", MaxScans);
        return false;
    }
    s->Info.progress = &s->Progress;
    jpeg_mem_src(&s->Info, data.data(), static_cast<unsigned long>(data.size()));
    if (s->Declarations) {
        jpeg_save_markers(&s->Info, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&s->Info, JPEG_APP0 + 2, 0xFFFF);
    }
    jpeg_read_header(&s->Info, TRUE);
    if (s->Declarations) {
        if (!jpeg_read_icc_profile(&s->Info, &s->Icc, &s->IccLength))
            s->Icc = nullptr;
        for (jpeg_saved_marker_ptr m = s->Info.marker_list; m != nullptr; m = m->next)
            if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0 &&
                s->Exif == nullptr) {
                s->Exif = static_cast<JOCTET*>(std::malloc(m->data_length));
                if (s->Exif != nullptr) {
                    std::memcpy(s->Exif, m->data, m->data_length);
                    s->ExifLength = m->data_length;
                }
            }
    }
    CheckRasterSize(s->Info.image_width, s->Info.image_height, *limits);
    // A progressive picture keeps all its coefficients, several bytes per
    // pixel, besides the raster: more than the limit leaves is refused when
    // decoding starts, before either is allocated.
    const std::uint64_t raster = std::uint64_t{s->Info.image_width} * s->Info.image_height * 4;
    s->Info.mem->max_memory_to_use = static_cast<long>(limits->Room() - raster + WorkingMargin);

    const bool cmyk = s->Info.jpeg_color_space == JCS_CMYK || s->Info.jpeg_color_space == JCS_YCCK;
    s->Info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&s->Info);
    // A progressive picture is read whole by now: a truncated one is refused
    // before its raster is allocated.
    if (s->Truncated && jpeg_has_multiple_scans(&s->Info))
        return true;
    AllocateRaster(*bmp, s->Info.output_width, s->Info.output_height, *limits);
    // Photoshop writes CMYK inverted and says so in its Adobe marker.
    const bool inverted = s->Info.saw_Adobe_marker;
    JSAMPARRAY cmykRow =
        cmyk ? (*s->Info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&s->Info), JPOOL_IMAGE,
                                            s->Info.output_width * 4, 1)
             : nullptr;
    while (s->Info.output_scanline < s->Info.output_height) {
        const auto y = static_cast<std::int32_t>(s->Info.output_scanline);
        std::uint32_t* dst = bmp->ScanLine(y);
        if (!cmyk) {
            JSAMPROW row = reinterpret_cast<JSAMPROW>(dst);
            jpeg_read_scanlines(&s->Info, &row, 1);
            continue;
        }
        jpeg_read_scanlines(&s->Info, cmykRow, 1);
        const JSAMPLE* p = cmykRow[0];
        for (JDIMENSION x = 0; x < s->Info.output_width; ++x, p += 4) {
            std::uint32_t c = p[0], m = p[1], ye = p[2], k = p[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                ye = 255 - ye;
                k = 255 - k;
            }
            dst[x] = Opaque((c * k + 127) / 255, (m * k + 127) / 255, (ye * k + 127) / 255);
        }
    }
    if (s->Truncated || s->Corrupt)
        return true; // reported by the caller; the tables need not be read
    jpeg_finish_decompress(&s->Info);
    return true;
}

} // namespace

void DecodeJpeg(TBytes data, TBitmap32& out, const TDecodeLimits& limits) { DecodeJpeg(data, out, nullptr, limits); }

void DecodeJpeg(TBytes data, TBitmap32& out, TPictureExtras* extras, const TDecodeLimits& limits)
{
    TJpegState s;
    std::memset(&s, 0, sizeof s);
    s.Info.err = jpeg_std_error(&s.Errors);
    s.Info.client_data = &s;
    s.Errors.error_exit = ErrorExit;
    s.Errors.emit_message = EmitMessage;
    s.Errors.output_message = OutputMessage;
    s.Progress.progress_monitor = Progress;
    s.Declarations = extras != nullptr;

    TBitmap32 bmp;
    bool ok = false;
    struct TFree {
        TJpegState& S;
        ~TFree()
        {
            std::free(S.Icc);
            std::free(S.Exif);
        }
    } release{s};
    try {
        ok = Decompress(&s, data, &bmp, &limits);
    } catch (...) {
        jpeg_destroy_decompress(&s.Info);
        throw;
    }
    jpeg_destroy_decompress(&s.Info);
    if (!ok)
        Fail(std::string("JPEG error: ") + s.Message);
    if (s.Truncated)
        FailTruncated();
    if (s.Corrupt)
        Fail(std::string("the JPEG data are corrupt: ") + s.CorruptMessage);
    // The ICC profile, else EXIF's colour space; no camera writes a linear
    // JPEG, so without a declaration it is sRGB.
    if (extras != nullptr) {
        std::optional<TTransfer> declared;
        if (s.Icc != nullptr)
            declared = TransferOfIccProfile(std::span<const std::uint8_t>(s.Icc, s.IccLength));
        if (!declared && s.Exif != nullptr)
            declared = TransferOfExif(std::span<const std::uint8_t>(s.Exif, s.ExifLength));
        extras->Declared = declared ? *declared : TTransfer{TToneCurve::Srgb, 1, "jpeg-default"};
    }
    out.Swap(bmp);
}

} // namespace vinsk::formats
