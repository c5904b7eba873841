#include "DecodeCases.h"

namespace vinsk::test {

namespace fmt = vinsk::formats;

namespace {

constexpr std::uint32_t Black = 0xFF000000u;
constexpr std::uint32_t White = 0xFFFFFFFFu;
constexpr std::uint32_t C1 = 0xFF102030u;
constexpr std::uint32_t C2 = 0xFFA0B0C0u;
constexpr std::uint32_t C3 = 0xFF405060u;
constexpr std::uint32_t Red = 0xFFFF0000u;

constexpr std::uint32_t Grey(std::uint32_t v) { return 0xFF000000u | (v << 16) | (v << 8) | v; }
constexpr std::uint32_t Clear(std::uint32_t c) { return c & 0x00FFFFFFu; }

// One icon directory entry and its data.
struct TIcoEntry {
    std::uint8_t Width;
    std::uint8_t Height;
    std::uint16_t Bits;
    TFileBytes Data;
};

TFileBytes Ico(const std::vector<TIcoEntry>& entries)
{
    TWriter w;
    w.U16LE(0).U16LE(1).U16LE(static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(entries.size());
    for (const TIcoEntry& e : entries) {
        w.U8(e.Width).U8(e.Height).U8(0).U8(0).U16LE(1).U16LE(e.Bits);
        w.U32LE(static_cast<std::uint32_t>(e.Data.size())).U32LE(offset);
        offset += static_cast<std::uint32_t>(e.Data.size());
    }
    for (const TIcoEntry& e : entries)
        w.Bytes(e.Data);
    return w.Take();
}

// The DIB of an icon entry: the header counts colour and mask rows.
TFileBytes IconDib(std::int32_t width, std::int32_t height, std::uint16_t bits, const std::vector<std::uint32_t>& palette,
                   const TFileBytes& colorRows, const TFileBytes& maskRows)
{
    TWriter w;
    w.U32LE(40).U32LE(width).U32LE(2 * height).U16LE(1).U16LE(bits).U32LE(0).U32LE(0).U32LE(0).U32LE(0);
    w.U32LE(static_cast<std::uint32_t>(palette.size())).U32LE(0);
    for (std::uint32_t c : palette)
        w.U8(c).U8(c >> 8).U8(c >> 16).U8(0);
    return w.Bytes(colorRows).Bytes(maskRows).Take();
}

TFileBytes PsdSections(std::uint32_t layerSectionLength, const TFileBytes& layerSection)
{
    return TWriter().U32BE(0).U32BE(0).U32BE(layerSectionLength).Bytes(layerSection).Take();
}

TFileBytes Cat(std::initializer_list<TFileBytes> parts)
{
    TWriter w;
    for (const TFileBytes& p : parts)
        w.Bytes(p);
    return w.Take();
}

std::vector<TDecodeCase> MakeCases()
{
    std::vector<TDecodeCase> v;
    auto add = [&](std::string name, std::string ext, TDecodeFn fn, TFileBytes bytes, int w, int h,
                   std::vector<std::uint32_t> pixels, std::size_t slack = 0, int tolerance = 0) {
        v.push_back({std::move(name), std::move(ext), fn, std::move(bytes), w, h, std::move(pixels), tolerance, slack});
    };

    // Windows bitmaps. Rows are stored bottom-up unless the height is negative
    // and padded to 4 bytes; the last row's padding may be missing.
    add("bmp1", "bmp", fmt::DecodeBmp, Bmp(40, 3, 2, 1, 0, {C1, C2}, {0xA0, 0, 0, 0, 0x60, 0, 0, 0}), 3, 2,
        {C1, C2, C2, C2, C1, C2}, 3);
    add("bmp4_short_palette", "bmp", fmt::DecodeBmp, Bmp(40, 3, 1, 4, 0, {C1, C2, C3}, {0x21, 0x00, 0, 0}, {}, 3), 3, 1,
        {C3, C2, C1}, 2);
    add("bmp8_top_down", "dib", fmt::DecodeBmp, Bmp(40, 2, -2, 8, 0, {C1, C2, C3}, {2, 0, 0, 0, 1, 1, 0, 0}, {}, 3), 2,
        2, {C3, C1, C2, C2}, 2);
    add("bmp16_555", "bmp", fmt::DecodeBmp, Bmp(40, 2, 1, 16, 0, {}, {0x00, 0x7C, 0x15, 0x00}), 2, 1,
        {Red, 0xFF0000ADu});
    add("bmp16_565_fields", "bmp", fmt::DecodeBmp,
        Bmp(40, 2, 1, 16, 3, {}, {0xE0, 0x07, 0x10, 0x00}, {0xF800, 0x07E0, 0x001F}), 2, 1,
        {0xFF00FF00u, 0xFF000084u});
    add("bmp24", "bmp", fmt::DecodeBmp,
        Bmp(40, 2, 2, 24, 0, {},
            {0x30, 0x20, 0x10, 0xC0, 0xB0, 0xA0, 0, 0, 0x60, 0x50, 0x40, 0x00, 0x00, 0xFF, 0, 0}),
        2, 2, {C3, Red, C1, C2}, 2);
    add("bmp32_keeps_fourth_byte", "bmp", fmt::DecodeBmp,
        Bmp(40, 2, 1, 32, 0, {}, {0x0A, 0x14, 0x1E, 0x28, 0xFF, 0xFF, 0xFF, 0x00}), 2, 1,
        {0x281E140Au, 0x00FFFFFFu});
    add("bmp32_v5_alpha_mask", "bmp", fmt::DecodeBmp,
        Bmp(124, 1, 1, 32, 3, {}, {0x01, 0x02, 0x03, 0x80}, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}), 1, 1,
        {0x80030201u});
    add("bmp32_fields_without_alpha", "bmp", fmt::DecodeBmp,
        Bmp(40, 1, 1, 32, 3, {}, {0x11, 0x22, 0x33, 0x44}, {0x000000FF, 0x0000FF00, 0x00FF0000}), 1, 1,
        {0xFF112233u});
    add("bmp_os2_core", "bmp", fmt::DecodeBmp, Bmp(12, 2, 1, 8, 0, {C1, C2}, {1, 0, 0, 0}), 2, 1, {C2, C1}, 2);
    // Run-length: a run of 3, end of line, an absolute run of 3 with its pad, end of bitmap.
    add("rle8", "rle", fmt::DecodeBmp,
        Bmp(40, 3, 2, 8, 1, {C1, C2, C3}, {3, 1, 0, 0, 0, 3, 2, 0, 1, 0, 0, 1}, {}, 3), 3, 2,
        {C3, C1, C2, C2, C2, C2});
    // A delta jumps to the top row; skipped pixels show palette entry 0.
    add("rle8_delta", "rle", fmt::DecodeBmp, Bmp(40, 4, 2, 8, 1, {C1, C2}, {0, 2, 2, 1, 2, 1, 0, 1}, {}, 2), 4, 2,
        {C1, C1, C2, C2, C1, C1, C1, C1});
    add("rle4", "bmp", fmt::DecodeBmp, Bmp(40, 5, 1, 4, 2, {C1, C2, C3}, {5, 0x12, 0, 1}, {}, 3), 5, 1,
        {C2, C3, C2, C3, C2});

    // Icons: the larger entry is shown; mask bit 1 means transparent.
    add("ico_4bit_mask", "ico", fmt::DecodeIco,
        Ico({{1, 1, 32, IconDib(1, 1, 32, {}, {0x00, 0x00, 0xFF, 0xFF}, {0, 0, 0, 0})},
             {2, 2, 4, IconDib(2, 2, 4, {C1, C2}, {0x10, 0, 0, 0, 0x01, 0, 0, 0}, {0x80, 0, 0, 0, 0x00, 0, 0, 0})}}),
        2, 2, {C1, C2, Clear(C2), C1});
    add("ico_32bit_alpha", "ico", fmt::DecodeIco,
        Ico({{2, 1, 32,
              IconDib(2, 1, 32, {}, {0x30, 0x20, 0x10, 0x80, 0xC0, 0xB0, 0xA0, 0xFF}, {0x40, 0, 0, 0})}}),
        2, 1, {0x80102030u, Clear(C2)});
    add("ico_32bit_zero_alpha_uses_mask", "ico", fmt::DecodeIco,
        Ico({{2, 1, 32,
              IconDib(2, 1, 32, {}, {0x30, 0x20, 0x10, 0x00, 0xC0, 0xB0, 0xA0, 0x00}, {0x80, 0, 0, 0})}}),
        2, 1, {Clear(C1), C2});
    add("ico_png_entry", "ico", fmt::DecodeIco,
        Ico({{2, 1, 32, MakePng({2, 1, {0x80102030u, Clear(C2)}}, TPngKind::Rgba8)}}), 2, 1,
        {0x80102030u, Clear(C2)});

    // Truevision.
    add("tga24_bottom_up", "tga", fmt::DecodeTga,
        Cat({TgaHeader(0, 0, 2, 0, 0, 0, 2, 2, 24, 0),
             {0x30, 0x20, 0x10, 0xC0, 0xB0, 0xA0, 0x60, 0x50, 0x40, 0x00, 0x00, 0xFF}}),
        2, 2, {C3, Red, C1, C2});
    add("tga32_top_down_alpha", "icb", fmt::DecodeTga,
        Cat({TgaHeader(0, 0, 2, 0, 0, 0, 2, 1, 32, 0x28), {0x30, 0x20, 0x10, 0x40, 0x00, 0x00, 0xFF, 0x00}}), 2, 1,
        {0x40102030u, 0x00FF0000u});
    // A run of 4 crosses into the second row, then a raw packet of 2.
    add("tga_rle24_across_rows", "vst", fmt::DecodeTga,
        Cat({TgaHeader(0, 0, 10, 0, 0, 0, 3, 2, 24, 0x20),
             {0x83, 0x30, 0x20, 0x10, 0x01, 0xC0, 0xB0, 0xA0, 0x60, 0x50, 0x40}}),
        3, 2, {C1, C1, C1, C1, C2, C3});
    add("tga_colour_map_with_id", "vda", fmt::DecodeTga,
        Cat({TgaHeader(3, 1, 1, 1, 2, 24, 2, 1, 8, 0x20), {'a', 'b', 'c'},
             {0xC0, 0xB0, 0xA0, 0x60, 0x50, 0x40}, {1, 2}}),
        2, 1, {C2, C3});
    add("tga_grey_right_to_left", "win", fmt::DecodeTga,
        Cat({TgaHeader(0, 0, 3, 0, 0, 0, 2, 2, 8, 0x30), {10, 20, 30, 40}}), 2, 2,
        {Grey(20), Grey(10), Grey(40), Grey(30)});
    add("tga16", "tga", fmt::DecodeTga, Cat({TgaHeader(0, 0, 2, 0, 0, 0, 2, 1, 16, 0x20), {0x00, 0x7C, 0x1F, 0x80}}),
        2, 1, {Red, 0xFF0000FFu});
    add("tga_rle_grey", "tga", fmt::DecodeTga,
        Cat({TgaHeader(0, 0, 11, 0, 0, 0, 4, 1, 8, 0x20), {0x81, 0x80, 0x01, 0x00, 0xFF}}), 4, 1,
        {Grey(128), Grey(128), Grey(0), Grey(255)});

    // Paintbrush. Runs are 0xC0 | count, value; a run may continue into the next line.
    {
        TWriter palette;
        palette.U8(0x0C).Bytes({0, 0, 0, 0x10, 0x20, 0x30, 0xA0, 0xB0, 0xC0, 0x40, 0x50, 0x60}).Zeros(252 * 3);
        add("pcx8_palette", "pcx", fmt::DecodePcx,
            Cat({PcxHeader(5, 1, 8, 3, 2, 1, 4), {0x01, 0x02, 0x03, 0xC2, 0x00, 0xC2, 0x03, 0x00}, palette.Take()}),
            3, 2, {C1, C2, C3, Black, C3, C3});
    }
    add("pcx24_planes", "pcx", fmt::DecodePcx,
        Cat({PcxHeader(5, 1, 8, 2, 1, 3, 2), {0x10, 0xA0, 0x20, 0xB0, 0x30, 0xC1, 0xC0}}), 2, 1, {C1, C2});
    add("pcx1_mono", "pcx", fmt::DecodePcx, Cat({PcxHeader(5, 1, 1, 10, 1, 1, 2), {0x80, 0x40}}), 10, 1,
        {White, Black, Black, Black, Black, Black, Black, Black, Black, White});
    {
        std::vector<std::uint32_t> pal(16, Black);
        pal[5] = C1;
        pal[10] = C2;
        add("pcx_ega_bit_planes", "pcc", fmt::DecodePcx,
            Cat({PcxHeader(5, 1, 1, 2, 1, 4, 1, pal), {0x80, 0x40, 0x80, 0x40}}), 2, 1, {C1, C2});
        pal[1] = C1;
        pal[3] = C3;
        add("pcx2_cga", "scr", fmt::DecodePcx, Cat({PcxHeader(5, 1, 2, 3, 1, 1, 1, pal), {0xC1, 0xD0}}), 3, 1,
            {C3, C1, Black});
    }
    add("pcx32_uncompressed", "pcx", fmt::DecodePcx,
        Cat({PcxHeader(5, 0, 8, 1, 1, 4, 1), {0xC5, 0x20, 0x30, 0x80}}), 1, 1, {0x80C52030u});
    add("pcx4_v3_default_palette", "pcx", fmt::DecodePcx, Cat({PcxHeader(3, 1, 4, 2, 1, 1, 1), {0x5A}}), 2, 1,
        {0xFFAA00AAu, 0xFF55FF55u});

    // SGI: channel planes of rows, bottom row first.
    add("sgi_rgb_verbatim", "rgb", fmt::DecodeSgi,
        Cat({SgiHeader(0, 1, 3, 2, 2, 3),
             {0x10, 0xA0, 0x40, 0xFF, 0x20, 0xB0, 0x50, 0x00, 0x30, 0xC0, 0x60, 0x00}}),
        2, 2, {C3, Red, C1, C2});
    add("sgi_grey_rle", "bw", fmt::DecodeSgi,
        Cat({SgiHeader(1, 1, 2, 3, 1, 1), TWriter().U32BE(520).U32BE(6).Take(), {0x82, 0x10, 0x20, 0x01, 0x30, 0x00}}),
        3, 1, {Grey(0x10), Grey(0x20), Grey(0x30)});
    add("sgi16_grey_rounded", "sgi", fmt::DecodeSgi,
        Cat({SgiHeader(0, 2, 2, 3, 1, 1), {0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF}}), 3, 1, {Grey(1), Grey(254), Grey(255)});
    add("sgi16_rgba_rle", "rgba", fmt::DecodeSgi,
        Cat({SgiHeader(1, 2, 3, 1, 1, 4),
             TWriter().U32BE(544).U32BE(550).U32BE(556).U32BE(562).U32BE(6).U32BE(6).U32BE(6).U32BE(6).Take(),
             {0x00, 0x81, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x81, 0x80, 0x80, 0x00, 0x00},
             {0x00, 0x81, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x81, 0x7F, 0x7F, 0x00, 0x00}}),
        1, 1, {0x7FFF8001u});
    add("sgi_grey_alpha", "sgi", fmt::DecodeSgi, Cat({SgiHeader(0, 1, 3, 2, 1, 2), {0x10, 0x20, 0x80, 0xFF}}), 2, 1,
        {0x80101010u, 0xFF202020u});

    // Photoshop: the merged image after the three length-prefixed sections.
    add("psd_rgb_raw", "psd", fmt::DecodePsd,
        Cat({PsdHeader(3, 1, 2, 8, 3), PsdSections(0, {}), {0x00, 0x00}, {0x10, 0xA0, 0x20, 0xB0, 0x30, 0xC0}}), 2, 1,
        {C1, C2});
    add("psd_grey16_packbits", "pdd", fmt::DecodePsd,
        Cat({PsdHeader(1, 1, 2, 16, 1), PsdSections(0, {}), {0x00, 0x01, 0x00, 0x05}, {0x03, 0x00, 0xFF, 0xFF, 0x00}}),
        2, 1, {Grey(1), Grey(254)});
    // A negative layer count makes the fourth channel the transparency.
    add("psd_merged_alpha", "psd", fmt::DecodePsd,
        Cat({PsdHeader(4, 1, 1, 8, 3), PsdSections(6, TWriter().U32BE(2).U16BE(0xFFFF).Take()),
             {0x00, 0x01, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02},
             {0x00, 0x10, 0x00, 0x20, 0x00, 0x30, 0x00, 0x80}}),
        1, 1, {0x80102030u});
    add("psd_extra_channel_is_selection", "psd", fmt::DecodePsd,
        Cat({PsdHeader(4, 1, 1, 8, 3), PsdSections(0, {}), {0x00, 0x01, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02},
             {0x00, 0x10, 0x00, 0x20, 0x00, 0x30, 0x00, 0x80}}),
        1, 1, {C1});

    // Portable anymaps. Slack: trailing digits of the last ASCII sample still parse.
    add("pbm_ascii", "pbm", fmt::DecodePnm, TWriter().Text("P1\n# made by hand\n3 2\n1 0 1\n011\n").Take(), 3, 2,
        {Black, White, Black, White, Black, Black}, 1);
    add("pgm_ascii_maxval_1000", "pgm", fmt::DecodePnm, TWriter().Text("P2\n3 1\n1000\n0 500 1000\n").Take(), 3, 1,
        {Grey(0), Grey(128), Grey(255)}, 4);
    add("ppm_ascii", "ppm", fmt::DecodePnm, TWriter().Text("P3 2 1 255 16 32 48 160 176 192").Take(), 2, 1, {C1, C2},
        2);
    add("pbm_binary", "pbm", fmt::DecodePnm, TWriter().Text("P4\n10 1\n").Bytes({0x80, 0x40}).Take(), 10, 1,
        {Black, White, White, White, White, White, White, White, White, Black});
    add("pgm16_rounded", "pgm", fmt::DecodePnm,
        TWriter().Text("P5\n3 1\n65535\n").Bytes({0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF}).Take(), 3, 1,
        {Grey(1), Grey(254), Grey(255)});
    add("ppm_binary", "ppm", fmt::DecodePnm,
        TWriter().Text("P6\n2 1\n255\n").Bytes({0x10, 0x20, 0x30, 0xA0, 0xB0, 0xC0}).Take(), 2, 1, {C1, C2});

    // Dr. Halo: lines of runs, 0x80 | count then one value, or count then the
    // values; without its palette file a picture shows its indices as grey.
    add("cut8_grey", "cut", fmt::DecodeCut,
        Cut(3, 2, 0, {{0x03, 0x10, 0x80, 0xFF}, {0x82, 0x40, 0x01, 0x20}}), 3, 2,
        {Grey(0x10), Grey(0x80), Grey(0xFF), Grey(0x40), Grey(0x40), Grey(0x20)});

    // Alias/Wavefront: scanlines bottom first, each channel run-length coded
    // with a signed count (n >= 0: n + 1 copies, n < 0: -n literal bytes).
    add("rla_rgb", "rla", fmt::DecodeRla,
        Rla(RlaHeader(3, 2, 3, 0), {{RlaRun(3, 0xA0), RlaLiteral({0x01, 0x02, 0x03}), RlaRun(3, 0xFF)},
                                    {RlaLiteral({0x10, 0x40, 0x70}), RlaLiteral({0x20, 0x50, 0x80}),
                                     RlaLiteral({0x30, 0x60, 0x90})}}),
        3, 2, {C1, 0xFF405060u, 0xFF708090u, 0xFFA001FFu, 0xFFA002FFu, 0xFFA003FFu});
    add("rla_matte", "rla", fmt::DecodeRla,
        Rla(RlaHeader(2, 2, 3, 1), {{RlaRun(2, 0x10), RlaRun(2, 0x20), RlaRun(2, 0x30), RlaLiteral({0xFF, 0x40})},
                                    {RlaRun(2, 0xA0), RlaRun(2, 0xB0), RlaRun(2, 0xC0), RlaLiteral({0x00, 0x80})}}),
        2, 2, {Clear(C2), 0x80A0B0C0u, C1, 0x40102030u});

    // Through the libraries.
    const TSourceImage four{2, 2, {C1, C2, C3, Red}};
    add("png_rgb", "png", fmt::DecodePng, MakePng(four, TPngKind::Rgb8), 2, 2, four.Pixels);
    add("png_rgba", "png", fmt::DecodePng, MakePng({2, 1, {0x80102030u, Clear(C2)}}, TPngKind::Rgba8), 2, 1,
        {0x80102030u, Clear(C2)});
    add("png_grey16_rounded", "png", fmt::DecodePng, MakePngGrey16(3, 1, {255, 65280, 65535}), 3, 1,
        {Grey(1), Grey(254), Grey(255)});
    add("png_palette_transparency", "png", fmt::DecodePng,
        MakePng({2, 1, {0x40102030u, C2}}, TPngKind::PaletteWithAlpha), 2, 1, {0x40102030u, C2});
    {
        TSourceImage grid{9, 9, {}};
        for (std::uint32_t y = 0; y < 9; ++y)
            for (std::uint32_t x = 0; x < 9; ++x)
                grid.Pixels.push_back(0xFF000000u | (x * 20) << 16 | (y * 20) << 8 | (x + y) * 10);
        add("png_interlaced", "png", fmt::DecodePng, MakePng(grid, TPngKind::Rgb8Interlaced), 9, 9, grid.Pixels);
    }
    {
        // Flat 8 x 8 blocks survive quality 100 without subsampling nearly exactly.
        TSourceImage blocks{16, 16, {}};
        TSourceImage greys{16, 8, {}};
        TSourceImage inks{16, 8, {}};
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                blocks.Pixels.push_back(y < 8 ? (x < 8 ? C1 : C2) : (x < 8 ? C3 : Red));
                if (y < 8) {
                    greys.Pixels.push_back(x < 8 ? Grey(0x40) : Grey(0xC0));
                    inks.Pixels.push_back(x < 8 ? Red : 0xFF804000u);
                }
            }
        add("jpeg_rgb", "jpg", fmt::DecodeJpeg, MakeJpeg(blocks, TJpegKind::Rgb), 16, 16, blocks.Pixels, 2, 4);
        add("jpeg_progressive", "jpeg", fmt::DecodeJpeg, MakeJpeg(blocks, TJpegKind::Progressive), 16, 16,
            blocks.Pixels, 2, 4);
        add("jpeg_grey", "jpe", fmt::DecodeJpeg, MakeJpeg(greys, TJpegKind::Grey), 16, 8, greys.Pixels, 2, 2);
        add("jpeg_inverted_cmyk", "jfif", fmt::DecodeJpeg, MakeJpeg(inks, TJpegKind::InvertedCmyk), 16, 8,
            inks.Pixels, 2, 4);
        add("tiff_jpeg", "tif", fmt::DecodeTiff, MakeTiff(blocks, TTiffKind::Rgb8Jpeg), 16, 16, blocks.Pixels, 0, 4);
    }
    add("tiff_rgb", "tif", fmt::DecodeTiff, MakeTiff(four, TTiffKind::Rgb8), 2, 2, four.Pixels);
    add("tiff_bottom_left_origin", "tiff", fmt::DecodeTiff, MakeTiff(four, TTiffKind::Rgb8BottomLeft), 2, 2,
        four.Pixels);
    // Premultiplied inside libtiff and back: a step of rounding each way.
    add("tiff_rgba", "tif", fmt::DecodeTiff,
        MakeTiff({2, 1, {0x80C86432u, C2}}, TTiffKind::RgbaUnassociated), 2, 1, {0x80C86432u, C2}, 0, 2);
    // The directory comes last here; without its next-directory link the
    // picture is still whole.
    add("tiff_grey16_rounded", "tif", fmt::DecodeTiff, MakeTiffGrey16(3, 1, {255, 65280, 65535}), 3, 1,
        {Grey(1), Grey(254), Grey(255)}, 4);
    add("tiff_lzw_fax", "fax", fmt::DecodeTiff, MakeTiff(four, TTiffKind::Rgb8Lzw), 2, 2, four.Pixels);
    add("tiff_deflate", "tiff", fmt::DecodeTiff, MakeTiff(four, TTiffKind::Rgb8Deflate), 2, 2, four.Pixels);
    return v;
}

} // namespace

TFileBytes Bmp(std::uint32_t headerSize, std::int32_t width, std::int32_t height, std::uint16_t bits,
               std::uint32_t compression, const std::vector<std::uint32_t>& palette, const TFileBytes& pixels,
               const std::vector<std::uint32_t>& masks, std::uint32_t colorsUsed)
{
    const bool core = headerSize == 12;
    const std::size_t maskBytes = (headerSize == 40 && compression == 3) ? 12 : 0;
    const std::size_t paletteBytes = palette.size() * (core ? 3 : 4);
    const std::uint32_t offset = static_cast<std::uint32_t>(14 + headerSize + maskBytes + paletteBytes);
    TWriter w;
    w.Text("BM").U32LE(offset + static_cast<std::uint32_t>(pixels.size())).U32LE(0).U32LE(offset);
    w.U32LE(headerSize);
    if (core) {
        w.U16LE(width).U16LE(height).U16LE(1).U16LE(bits);
    } else {
        w.U32LE(static_cast<std::uint32_t>(width)).U32LE(static_cast<std::uint32_t>(height)).U16LE(1).U16LE(bits);
        w.U32LE(compression).U32LE(static_cast<std::uint32_t>(pixels.size())).U32LE(2835).U32LE(2835);
        w.U32LE(colorsUsed).U32LE(0);
        std::size_t written = 40;
        for (std::size_t i = 0; i < masks.size() && headerSize > 40; ++i, written += 4)
            w.U32LE(masks[i]);
        w.Zeros(headerSize - written);
        if (maskBytes != 0)
            for (std::size_t i = 0; i < 3; ++i)
                w.U32LE(masks[i]);
    }
    for (std::uint32_t c : palette) {
        w.U8(c).U8(c >> 8).U8(c >> 16);
        if (!core)
            w.U8(0);
    }
    return w.Bytes(pixels).Take();
}

TFileBytes TgaHeader(std::uint8_t idLength, std::uint8_t mapType, std::uint8_t imageType, std::uint16_t mapFirst,
                     std::uint16_t mapLength, std::uint8_t mapBits, std::uint16_t width, std::uint16_t height,
                     std::uint8_t depth, std::uint8_t descriptor)
{
    return TWriter()
        .U8(idLength)
        .U8(mapType)
        .U8(imageType)
        .U16LE(mapFirst)
        .U16LE(mapLength)
        .U8(mapBits)
        .U16LE(0)
        .U16LE(0)
        .U16LE(width)
        .U16LE(height)
        .U8(depth)
        .U8(descriptor)
        .Take();
}

TFileBytes PcxHeader(std::uint8_t version, std::uint8_t encoding, std::uint8_t bits, std::uint16_t width,
                     std::uint16_t height, std::uint8_t planes, std::uint16_t bytesPerLine,
                     const std::vector<std::uint32_t>& palette16)
{
    TWriter w;
    w.U8(0x0A).U8(version).U8(encoding).U8(bits);
    // The window starts at (5, 7) to show that only its extent matters.
    w.U16LE(5).U16LE(7).U16LE(5 + width - 1).U16LE(7 + height - 1).U16LE(72).U16LE(72);
    for (std::size_t i = 0; i < 16; ++i) {
        const std::uint32_t c = i < palette16.size() ? palette16[i] : 0;
        w.U8(c >> 16).U8(c >> 8).U8(c);
    }
    w.U8(0).U8(planes).U16LE(bytesPerLine).U16LE(1);
    w.Zeros(128 - w.Size());
    return w.Take();
}

TFileBytes SgiHeader(std::uint8_t storage, std::uint8_t bpc, std::uint16_t dimension, std::uint16_t xsize,
                     std::uint16_t ysize, std::uint16_t zsize)
{
    TWriter w;
    w.U16BE(474).U8(storage).U8(bpc).U16BE(dimension).U16BE(xsize).U16BE(ysize).U16BE(zsize);
    w.U32BE(0).U32BE(bpc == 1 ? 255 : 65535).U32BE(0).Text("test picture").Zeros(80 - 12).U32BE(0);
    w.Zeros(512 - w.Size());
    return w.Take();
}

TFileBytes PsdHeader(std::uint16_t channels, std::uint32_t height, std::uint32_t width, std::uint16_t depth,
                     std::uint16_t mode)
{
    return TWriter().Text("8BPS").U16BE(1).Zeros(6).U16BE(channels).U32BE(height).U32BE(width).U16BE(depth).U16BE(mode).Take();
}

TFileBytes Cut(std::uint16_t width, std::uint16_t height, std::uint16_t reserved, const std::vector<TFileBytes>& lines)
{
    TWriter w;
    w.U16LE(width).U16LE(height).U16LE(reserved);
    // Each line: its length in bytes, its runs, and the closing 0.
    for (const TFileBytes& runs : lines)
        w.U16LE(static_cast<std::uint32_t>(runs.size() + 1)).Bytes(runs).U8(0);
    return w.Take();
}

TFileBytes RlaHeader(std::int16_t width, std::int16_t height, std::uint16_t colourChannels,
                     std::uint16_t matteChannels, std::uint16_t storage, const std::string& channelSpace)
{
    TWriter w;
    // The window and the active window: left, right, bottom, top.
    for (int i = 0; i < 2; ++i)
        w.U16BE(0).U16BE(static_cast<std::uint16_t>(width - 1)).U16BE(0).U16BE(static_cast<std::uint16_t>(height - 1));
    w.U16BE(1).U16BE(storage).U16BE(colourChannels).U16BE(matteChannels).U16BE(0).U16BE(0xFFFE);
    w.Text("2.2").Zeros(13);      // gamma
    w.Zeros(4 * 24).U32BE(0);     // primaries, white point, job number
    w.Text("test picture").Zeros(128 - 12).Zeros(128 + 64 + 32 + 32 + 20 + 24 + 8);
    w.Text(channelSpace).Zeros(32 - channelSpace.size());
    w.U16BE(0).Zeros(12 + 32);    // field, time, filter
    w.U16BE(8).U16BE(0).U16BE(8).U16BE(0).U16BE(0).Zeros(32 + 36).U32BE(0);
    return w.Take();
}

TFileBytes Rla(const TFileBytes& header, const std::vector<std::vector<TFileBytes>>& scanlines)
{
    // The offset table follows the header, one 32-bit offset per scanline.
    std::uint32_t offset = static_cast<std::uint32_t>(header.size() + 4 * scanlines.size());
    TWriter table;
    TWriter body;
    for (const auto& channels : scanlines) {
        table.U32BE(offset);
        for (const TFileBytes& coded : channels) {
            body.U16BE(static_cast<std::uint32_t>(coded.size())).Bytes(coded);
            offset += static_cast<std::uint32_t>(2 + coded.size());
        }
    }
    return Cat({header, table.Take(), body.Take()});
}

TFileBytes RlaRun(int count, std::uint8_t value) { return {static_cast<std::uint8_t>(count - 1), value}; }

TFileBytes RlaLiteral(const TFileBytes& values)
{
    return TWriter().U8(static_cast<std::uint8_t>(-static_cast<int>(values.size()))).Bytes(values).Take();
}

const std::vector<TDecodeCase>& DecodeCases()
{
    static const std::vector<TDecodeCase> cases = MakeCases();
    return cases;
}

} // namespace vinsk::test
