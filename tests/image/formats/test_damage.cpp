// Truncated, corrupt, hostile and oversize files give an error naming the
// problem and leave the raster as it was.
#include <gtest/gtest.h>

#include <functional>

#include "DecodeCases.h"
#include "image/formats/Picture.h"

namespace vinsk::test {
namespace {

namespace fmt = vinsk::formats;

constexpr std::uint32_t Sentinel = 0x12345678u;

TBitmap32 SentinelRaster()
{
    TBitmap32 bmp;
    bmp.SetSize(1, 1);
    bmp.SetPixelS(0, 0, Sentinel);
    return bmp;
}

void ExpectUntouched(const TBitmap32& bmp)
{
    EXPECT_EQ(bmp.Width(), 1);
    EXPECT_EQ(bmp.Height(), 1);
    EXPECT_EQ(bmp.PixelS(0, 0), Sentinel);
}

// Every prefix shorter than what the reader needs must fail cleanly.
class Truncated : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(Truncated, EveryShortPrefixFails)
{
    const TDecodeCase& c = GetParam();
    ASSERT_GT(c.Bytes.size(), c.Slack);
    for (std::size_t length = 0; length < c.Bytes.size() - c.Slack; ++length) {
        TBitmap32 bmp = SentinelRaster();
        try {
            c.Decode(fmt::TBytes(c.Bytes.data(), length), bmp, {});
            ADD_FAILURE() << "a prefix of " << length << " of " << c.Bytes.size() << " bytes decoded";
        } catch (const EPictureError& e) {
            EXPECT_STRNE(e.what(), "");
        }
        ExpectUntouched(bmp);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Truncated, ::testing::ValuesIn(DecodeCases()),
                         [](const auto& info) { return info.param.Name; });

struct TDamageCase {
    std::string Name;
    TDecodeFn Decode;
    TFileBytes Bytes;
    std::string Message; // part of the error text
};

void PrintTo(const TDamageCase& c, std::ostream* os) { *os << c.Name; }

const TDecodeCase& Case(const std::string& name)
{
    for (const TDecodeCase& c : DecodeCases())
        if (c.Name == name)
            return c;
    throw std::invalid_argument("no decode case " + name);
}

// A valid file with some bytes changed.
TFileBytes Patched(const std::string& name, std::size_t at, std::initializer_list<std::uint8_t> bytes)
{
    TFileBytes b = Case(name).Bytes;
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}

TFileBytes Cat(std::initializer_list<TFileBytes> parts)
{
    TWriter w;
    for (const TFileBytes& p : parts)
        w.Bytes(p);
    return w.Take();
}

// A PNG of the given size: signature and header only, written by libpng.
TFileBytes PngOfSize(std::uint32_t width, std::uint32_t height)
{
    TFileBytes png = MakePng({1, 1, {0xFF000000u}}, TPngKind::Rgb8);
    // IHDR data start at 16: width, height big-endian. Its CRC is then wrong,
    // so recompute it over the chunk type and data.
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= png[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i)
        png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return png;
}

// A JPEG whose frame header declares the given size.
TFileBytes JpegOfSize(std::uint16_t width, std::uint16_t height)
{
    TFileBytes jpeg = Case("jpeg_grey").Bytes;
    for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<std::uint8_t>(width);
            break;
        }
    return jpeg;
}

// The progressive picture with its frame header declaring the given size,
// cut short after its first scan's header.
TFileBytes ProgressiveJpegOfSize(std::uint16_t width, std::uint16_t height)
{
    TFileBytes jpeg = Case("jpeg_progressive").Bytes;
    for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC2) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<std::uint8_t>(width);
        } else if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
            jpeg.resize(i + 20);
            break;
        }
    return jpeg;
}

// A little-endian TIFF of grey in one strip; by default the strip is the
// single byte after the directory.
TFileBytes TiffGrey(std::uint32_t width, std::uint32_t height, std::uint16_t bits = 8,
                    std::uint32_t stripOffset = 8 + 2 + 8 * 12 + 4, std::uint32_t stripBytes = 1)
{
    TWriter w;
    w.Text("II").U16LE(42).U32LE(8).U16LE(8);
    auto tag = [&w](std::uint16_t id, std::uint16_t type, std::uint32_t value) {
        w.U16LE(id).U16LE(type).U32LE(1);
        if (type == 3)
            w.U16LE(value).U16LE(0);
        else
            w.U32LE(value);
    };
    tag(256, 4, width);
    tag(257, 4, height);
    tag(258, 3, bits);
    tag(259, 3, 1);
    tag(262, 3, 1);
    tag(273, 4, stripOffset);
    tag(278, 4, height);
    tag(279, 4, stripBytes);
    w.U32LE(0).U8(0);
    return w.Take();
}

// A Dr. Halo line of `width` zero pixels in runs of at most 127.
TFileBytes CutRunsOf(std::size_t width)
{
    TFileBytes runs;
    for (std::size_t left = width; left > 0;) {
        const std::size_t n = std::min<std::size_t>(left, 127);
        runs.push_back(static_cast<std::uint8_t>(0x80 | n));
        runs.push_back(0);
        left -= n;
    }
    return runs;
}

std::vector<TDamageCase> DamageCases()
{
    const std::string limit = "is above the limit of 30000 x 30000 pixels";
    const std::string memory = "needs more than 2 GiB of memory";
    return {
        // Windows bitmaps.
        {"bmp_signature", fmt::DecodeBmp, Patched("bmp24", 0, {'X'}), "no BM signature"},
        {"bmp_bit_depth", fmt::DecodeBmp, Patched("bmp24", 28, {3}), "unsupported bit depth 3"},
        {"bmp_header_size", fmt::DecodeBmp, Patched("bmp24", 14, {8}), "unknown bitmap header size 8"},
        {"bmp_offset_past_end", fmt::DecodeBmp, Patched("bmp24", 10, {0xFF, 0xFF}), "truncated"},
        {"bmp_offset_into_header", fmt::DecodeBmp, Patched("bmp24", 10, {20}), "points into the header"},
        {"bmp_zero_width", fmt::DecodeBmp, Patched("bmp24", 18, {0}), "not positive"},
        {"bmp_zero_height", fmt::DecodeBmp, Patched("bmp24", 22, {0}), "has no pixels"},
        {"bmp_rle8_on_4_bits", fmt::DecodeBmp, Patched("rle4", 30, {1}), "does not fit 4-bit"},
        {"bmp_rle_top_down", fmt::DecodeBmp, Patched("rle8", 22, {0xFE, 0xFF, 0xFF, 0xFF}),
         "top-down bitmap cannot be run-length"},
        {"bmp_jpeg_inside", fmt::DecodeBmp, Patched("bmp24", 30, {4}), "not supported"},
        {"bmp_unknown_compression", fmt::DecodeBmp, Patched("bmp24", 30, {9}), "unknown compression 9"},
        {"bmp_rle_absolute_run_past_end", fmt::DecodeBmp, Bmp(40, 4, 1, 8, 1, {0xFF000000u}, {0, 40, 1, 2}),
         "truncated"},
        // Declares 1.6 GB of pixels with 4 bytes of data: refused before allocation.
        {"bmp_huge_with_no_data", fmt::DecodeBmp, Bmp(40, 20000, 20000, 24, 0, {}, {1, 2, 3, 4}), "truncated"},
        {"bmp_wide", fmt::DecodeBmp, Bmp(40, 30001, 1, 24, 0, {}, {}), limit},
        {"bmp_large", fmt::DecodeBmp, Bmp(40, 30000, -20000, 24, 0, {}, {}), memory},

        // Icons.
        {"ico_reserved", fmt::DecodeIco, Patched("ico_32bit_alpha", 0, {1}), "not a Windows icon"},
        {"ico_type", fmt::DecodeIco, Patched("ico_32bit_alpha", 2, {3}), "not a Windows icon"},
        {"ico_empty", fmt::DecodeIco, TWriter().U16LE(0).U16LE(1).U16LE(0).Take(), "holds no image"},
        {"ico_entry_past_end", fmt::DecodeIco, Patched("ico_32bit_alpha", 18, {0xF0}), "truncated"},
        {"ico_top_down", fmt::DecodeIco, Patched("ico_32bit_alpha", 22 + 8, {0xFE, 0xFF, 0xFF, 0xFF}),
         "cannot be top-down"},
        {"ico_rle", fmt::DecodeIco, Patched("ico_4bit_mask", 86 + 16, {2}), "cannot be run-length"},
        {"ico_wide", fmt::DecodeIco, Patched("ico_32bit_alpha", 22 + 4, {0x31, 0x75}), limit},

        // Truevision.
        {"tga_image_type", fmt::DecodeTga, Patched("tga24_bottom_up", 2, {5}), "unsupported image type 5"},
        {"tga_map_missing", fmt::DecodeTga, Patched("tga_colour_map_with_id", 1, {0}), "has no colour map"},
        {"tga_depth", fmt::DecodeTga, Patched("tga24_bottom_up", 16, {12}), "unsupported pixel depth 12"},
        {"tga_map_entry", fmt::DecodeTga, Patched("tga_colour_map_with_id", 7, {8}), "colour map entry size 8"},
        {"tga_zero_width", fmt::DecodeTga, Patched("tga24_bottom_up", 12, {0, 0}), "has no pixels"},
        {"tga_wide", fmt::DecodeTga, TgaHeader(0, 0, 2, 0, 0, 0, 30001, 1, 24, 0), limit},
        {"tga_large", fmt::DecodeTga, TgaHeader(0, 0, 10, 0, 0, 0, 30000, 20000, 24, 0), memory},
        {"tga_rle_too_short_for_size", fmt::DecodeTga, Cat({TgaHeader(0, 0, 10, 0, 0, 0, 20000, 20000, 24, 0), {0xFF, 1, 2, 3}}),
         "truncated"},

        // Paintbrush.
        {"pcx_maker", fmt::DecodePcx, Patched("pcx24_planes", 0, {0x0B}), "not a ZSoft Paintbrush"},
        {"pcx_layout", fmt::DecodePcx, Patched("pcx24_planes", 65, {2}), "unsupported layout of 2 planes of 8 bits"},
        {"pcx_short_lines", fmt::DecodePcx, Patched("pcx1_mono", 66, {1}), "line length 1 is too short"},
        {"pcx_inverted_window", fmt::DecodePcx, Patched("pcx24_planes", 8, {0}), "has no pixels"},
        {"pcx_palette_missing", fmt::DecodePcx, Patched("pcx8_palette", 136, {0x0B}), "palette is missing"},
        {"pcx_wide", fmt::DecodePcx, PcxHeader(5, 1, 8, 30001, 1, 3, 30002), limit},
        {"pcx_large", fmt::DecodePcx, PcxHeader(5, 1, 8, 30000, 20000, 3, 30000), memory},

        // SGI.
        {"sgi_magic", fmt::DecodeSgi, Patched("sgi_rgb_verbatim", 1, {0xDB}), "bad magic"},
        {"sgi_bytes_per_channel", fmt::DecodeSgi, Patched("sgi_rgb_verbatim", 3, {3}), "unsupported SGI storage"},
        {"sgi_colour_map", fmt::DecodeSgi, Patched("sgi_rgb_verbatim", 107, {1}), "colour-map pictures"},
        {"sgi_no_channels", fmt::DecodeSgi, Patched("sgi_rgb_verbatim", 11, {0}), "has no channels"},
        {"sgi_row_past_end", fmt::DecodeSgi, Patched("sgi_grey_rle", 512, {0x10}), "truncated"},
        {"sgi_row_overrun", fmt::DecodeSgi, Patched("sgi_grey_rle", 520, {0x84}), "longer than"},
        {"sgi_row_short", fmt::DecodeSgi, Patched("sgi_grey_rle", 523, {0x00}), "shorter than"},
        {"sgi_wide", fmt::DecodeSgi, SgiHeader(0, 1, 2, 30001, 1, 1), limit},
        {"sgi_large", fmt::DecodeSgi, SgiHeader(1, 1, 3, 30000, 20000, 1), memory},

        // Photoshop.
        {"psd_signature", fmt::DecodePsd, Patched("psd_rgb_raw", 0, {'7'}), "no 8BPS signature"},
        {"psd_version", fmt::DecodePsd, Patched("psd_rgb_raw", 5, {2}), "version 2 is not supported"},
        {"psd_cmyk", fmt::DecodePsd, Patched("psd_rgb_raw", 25, {4}), "colour mode 4"},
        {"psd_depth", fmt::DecodePsd, Patched("psd_rgb_raw", 23, {32}), "depth of 32 bits"},
        {"psd_zip", fmt::DecodePsd, Patched("psd_rgb_raw", 39, {2}), "ZIP"},
        {"psd_rgb_one_channel", fmt::DecodePsd, Patched("psd_rgb_raw", 13, {1}), "with 1 channels"},
        {"psd_section_past_end", fmt::DecodePsd, Patched("psd_rgb_raw", 30, {0x10}), "truncated"},
        {"psd_packed_row_too_short", fmt::DecodePsd, Patched("psd_merged_alpha", 47, {1}), "shorter than"},
        {"psd_packed_row_overrun", fmt::DecodePsd, Patched("psd_grey16_packbits", 42, {0x04}), "longer than"},
        {"psd_wide", fmt::DecodePsd, PsdHeader(3, 1, 30001, 8, 3), limit},
        {"psd_large", fmt::DecodePsd, PsdHeader(3, 20000, 30000, 8, 3), memory},

        // Portable anymaps.
        {"pnm_signature", fmt::DecodePnm, TWriter().Text("P7\n1 1\n255\n").Take(), "no P1 to P6 signature"},
        {"pnm_width", fmt::DecodePnm, TWriter().Text("P2 x 1 255 0").Take(), "width is not a number"},
        {"pnm_maxval_zero", fmt::DecodePnm, TWriter().Text("P2 1 1 0 0").Take(), "outside 1 to 65535"},
        {"pnm_maxval_large", fmt::DecodePnm, TWriter().Text("P5 1 1 65536 ").U16BE(0).Take(), "outside 1 to 65535"},
        {"pnm_number_overflow", fmt::DecodePnm, TWriter().Text("P2 99999999999 1 255 0").Take(), "too large"},
        {"pnm_bit", fmt::DecodePnm, TWriter().Text("P1 2 1 1 2").Take(), "not 0 or 1"},
        {"pnm_no_blank", fmt::DecodePnm, TWriter().Text("P5 1 1 255X").Take(), "does not end in a blank"},
        {"pnm_wide", fmt::DecodePnm, TWriter().Text("P6 30001 1 255\n").Take(), limit},
        {"pnm_large", fmt::DecodePnm, TWriter().Text("P6 30000 20000 255\n").Take(), memory},

        // Dr. Halo, through GraphicsMagick.
        {"cut_reserved", fmt::DecodeCut, Patched("cut8_grey", 4, {1}), "CUT error: Improper image header"},
        {"cut_line_length", fmt::DecodeCut, Patched("cut8_grey", 6, {9}), "CUT error: Improper image header"},
        {"cut_lines_not_the_width", fmt::DecodeCut, Cut(4, 1, 0, {{0x83, 0x10}}), "CUT error: Improper image header"},
        {"cut_line_short", fmt::DecodeCut, Patched("cut8_grey", 15, {0x81}), "CUT line 2 codes 2 bytes, the first 3"},
        {"cut_line_long", fmt::DecodeCut, Patched("cut8_grey", 15, {0x83}), "CUT line 2 codes 4 bytes, the first 3"},
        {"cut_length_word_short", fmt::DecodeCut, Patched("cut8_grey", 13, {4}), "CUT line 2 is longer than"},
        {"cut_length_word_long", fmt::DecodeCut, Cat({Patched("cut8_grey", 13, {6}), {0}}),
         "CUT line 2 is shorter than"},
        {"cut_png_inside", fmt::DecodeCut, Case("png_rgb").Bytes, "CUT error: Improper image header"},
        {"cut_wide", fmt::DecodeCut, Cut(30001, 1, 0, {CutRunsOf(30001)}), limit},
        {"cut_large", fmt::DecodeCut, Cut(30000, 20000, 0, {CutRunsOf(30000)}), memory},
        // Within the raster limit, but not with the library's own copy beside it.
        {"cut_large_with_the_library", fmt::DecodeCut, Cut(30000, 17895, 0, {CutRunsOf(30000)}), memory},

        // Alias/Wavefront, through GraphicsMagick.
        {"rla_storage", fmt::DecodeRla, Cat({RlaHeader(3, 2, 3, 0, 1), Case("rla_rgb").Bytes}),
         "RLA error: Improper image header"},
        {"rla_channel_space", fmt::DecodeRla, Cat({RlaHeader(3, 2, 3, 0, 0, "xyz"), Case("rla_rgb").Bytes}),
         "RLA error: Color type not supported"},
        {"rla_offset_past_end", fmt::DecodeRla, Patched("rla_rgb", 740, {0x10}), "truncated"},
        {"rla_offset_into_header", fmt::DecodeRla, Patched("rla_rgb", 744, {0, 0, 0, 0}),
         "RLA scanline 2 starts inside the header"},
        // The red channel of the bottom scanline: a run of 4 and of 2 in a row of 3.
        {"rla_run_past_row", fmt::DecodeRla, Patched("rla_rgb", 750, {3}), "scanline 1 does not code a row of 3"},
        {"rla_run_short_of_row", fmt::DecodeRla, Patched("rla_rgb", 750, {1}), "scanline 1 does not code a row of 3"},
        {"rla_literal_past_length", fmt::DecodeRla, Patched("rla_rgb", 754, {0xFB}), "in channel 2"},
        {"rla_one_colour_channel", fmt::DecodeRla, Patched("rla_rgb", 21, {1}), "with 1 colour channels"},
        {"rla_png_inside", fmt::DecodeRla, Case("png_rgb").Bytes, "RLA error: Unexpected end-of-file"},
        {"rla_taller_than_wide", fmt::DecodeRla,
         Rla(RlaHeader(1, 2, 3, 0),
             {{RlaRun(1, 1), RlaRun(1, 2), RlaRun(1, 3)}, {RlaRun(1, 4), RlaRun(1, 5), RlaRun(1, 6)}}),
         "RLA pictures taller than wide (1 x 2) are not supported"},
        {"rla_wide", fmt::DecodeRla, RlaHeader(30001, 1, 3, 0), limit},
        {"rla_large", fmt::DecodeRla, RlaHeader(30000, 20000, 3, 0), memory},
        {"rla_large_with_the_library", fmt::DecodeRla, RlaHeader(23170, 23170, 3, 0), memory},

        // Through the libraries.
        {"png_garbage", fmt::DecodePng, TWriter().Text("not a PNG file at all").Take(), "PNG error"},
        {"png_header_crc", fmt::DecodePng, Patched("png_rgb", 29, {0x00, 0x00}), "PNG error"},
        {"png_wide", fmt::DecodePng, PngOfSize(30001, 1), limit},
        {"png_large", fmt::DecodePng, PngOfSize(30000, 20000), memory},
        {"jpeg_garbage", fmt::DecodeJpeg, TWriter().Text("not a JPEG file").Take(), "JPEG error"},
        {"jpeg_wide", fmt::DecodeJpeg, JpegOfSize(30001, 1), limit},
        {"jpeg_large", fmt::DecodeJpeg, JpegOfSize(30000, 20000), memory},
        // All its coefficients beside a raster of almost 2 GiB: refused when
        // decoding starts, and never "Backing store not supported".
        {"jpeg_progressive_beyond_memory", fmt::DecodeJpeg, ProgressiveJpegOfSize(23170, 23170),
         "JPEG error: the picture needs more memory than allowed"},
        {"jpeg_progressive_truncated", fmt::DecodeJpeg, ProgressiveJpegOfSize(64, 64), "truncated"},
        {"jpeg_many_scans", fmt::DecodeJpeg, MakeJpeg(TSourceImage{8, 8, std::vector<std::uint32_t>(64, 0xFF808080u)},
                                                      TJpegKind::ManyScans),
         "more than 300 scans"},
        {"tiff_garbage", fmt::DecodeTiff, TWriter().Text("II*\0garbage").Take(), "TIFF error"},
        // Found by fuzzing: reading a strip that lies past the end of the file.
        {"tiff_strip_past_end", fmt::DecodeTiff, TiffGrey(3, 1, 16, 0x863, 6), "TIFF error"},
        {"tiff_wide", fmt::DecodeTiff, TiffGrey(30001, 1), limit},
        {"tiff_large", fmt::DecodeTiff, TiffGrey(30000, 20000), memory},
    };
}

class Damaged : public ::testing::TestWithParam<TDamageCase> {};

TEST_P(Damaged, FailsWithTheProblemAndKeepsTheRaster)
{
    const TDamageCase& c = GetParam();
    TBitmap32 bmp = SentinelRaster();
    try {
        c.Decode(fmt::TBytes(c.Bytes.data(), c.Bytes.size()), bmp, {});
        ADD_FAILURE() << "decoded";
    } catch (const EPictureError& e) {
        EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
    }
    ExpectUntouched(bmp);
}

INSTANTIATE_TEST_SUITE_P(Files, Damaged, ::testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return info.param.Name; });

// Flipped bytes all over a compressed stream: whatever comes out, the reader
// either decodes or reports, and never reads outside the file.
TEST(DamagedLibraries, CorruptCompressedDataIsReported)
{
    TFileBytes jpeg = Case("jpeg_rgb").Bytes;
    // Past the headers, into the entropy-coded data of the only scan.
    for (std::size_t i = jpeg.size() - 200; i < jpeg.size() - 2; i += 3)
        jpeg[i] = static_cast<std::uint8_t>(jpeg[i] ^ 0x5A);
    TBitmap32 bmp = SentinelRaster();
    EXPECT_THROW(fmt::DecodeJpeg(fmt::TBytes(jpeg.data(), jpeg.size()), bmp, {}), EPictureError);
    ExpectUntouched(bmp);
}

// Data cut short by a marker inside a JPEG-compressed TIFF: libjpeg only
// warns and fills the rest with grey, and the TIFF reader refuses as the .jpg
// reader does.
TEST(DamagedLibraries, JpegInsideTiffCutShortIsReported)
{
    const TFileBytes intact = Case("tiff_jpeg").Bytes;
    std::size_t sos = 0;
    for (std::size_t i = 0; i + 1 < intact.size() && sos == 0; ++i)
        if (intact[i] == 0xFF && intact[i + 1] == 0xDA)
            sos = i;
    ASSERT_NE(sos, 0u);
    // Past the scan header, into the entropy-coded data.
    for (std::size_t at = sos + 16; at < sos + 40; at += 8) {
        TFileBytes tiff = intact;
        tiff[at] = 0xFF;
        tiff[at + 1] = 0xD9;
        TBitmap32 bmp = SentinelRaster();
        try {
            fmt::DecodeTiff(fmt::TBytes(tiff.data(), tiff.size()), bmp, {});
            ADD_FAILURE() << "decoded with a marker at " << at - sos;
        } catch (const EPictureError& e) {
            EXPECT_NE(std::string(e.what()).find("TIFF error: "), std::string::npos) << e.what();
        }
        ExpectUntouched(bmp);
    }
}

TEST(DamageThroughLoadPicture, MessageNamesTheFileAndTheProblem)
{
    const std::string path = TempPath("too wide.bmp");
    WriteFile(path, Bmp(40, 30001, 1, 24, 0, {}, {}));
    TBitmap32 bmp = SentinelRaster();
    try {
        LoadPicture(path, bmp);
        ADD_FAILURE() << "decoded";
    } catch (const EPictureError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot load " + path +
                                             ": the declared size 30001 x 1 is above the limit of 30000 x 30000 pixels");
    }
    ExpectUntouched(bmp);
}

} // namespace
} // namespace vinsk::test
