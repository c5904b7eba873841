// FITS header cards split as cfitsio splits them, and the checks that keep
// malformed headers away from cfitsio, over every seed the fuzzer keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "image/formats/FitsCards.h"
#include "image/formats/Picture.h"

namespace vinsk::formats::fits {
namespace {

struct TCardCase {
    std::string Card; // padded to 80 columns
    std::string Key;
    bool Indicator;
    EValueKind Kind;
    std::string Token;
    std::string Text;
};

void PrintTo(const TCardCase& c, std::ostream* os) { *os << c.Card; }

class FitsCards : public ::testing::TestWithParam<TCardCase> {};

TEST_P(FitsCards, SplitIntoKeyAndValue)
{
    const TCardCase& c = GetParam();
    std::string card = c.Card;
    card.resize(CardBytes, ' ');
    const TFitsCard r = ReadCard(card.data());
    EXPECT_EQ(r.Key, c.Key);
    EXPECT_EQ(r.Indicator, c.Indicator);
    EXPECT_EQ(r.Kind, c.Kind);
    EXPECT_EQ(r.Token, c.Token);
    EXPECT_EQ(r.Text(), c.Text);
}

using K = EValueKind;

INSTANTIATE_TEST_SUITE_P(
    Fits, FitsCards,
    ::testing::Values(
        TCardCase{"NAXIS1  =                  512 / pixels", "NAXIS1", true, K::Other, "512", "512"},
        // cfitsio takes the value also without the blank after "=".
        TCardCase{"ZVAL1   =32", "ZVAL1", true, K::Other, "32", "32"},
        // Quoted text after a value is no part of the number: the check must
        // see "0", a tile size cfitsio divides by.
        TCardCase{"ZTILE1  =                    0 '4'", "ZTILE1", true, K::Other, "0 '4'", "0 '4'"},
        // A slash inside a string is no comment; doubled quotes are one.
        TCardCase{"OBJECT  = 'M 31 / O''Hara '  / c", "OBJECT", true, K::String, "'M 31 / O''Hara '", "M 31 / O'Hara"},
        // A doubled quote at the end does not close the string.
        TCardCase{"BAYERPAT= 'RGGB''", "BAYERPAT", true, K::String,
                  "'RGGB''" + std::string(CardBytes - 17, ' '), "RGGB'"},
        TCardCase{"CPLX    = (1.5, -2) / pair", "CPLX", true, K::Complex, "(1.5, -2)", "(1.5, -2)"},
        TCardCase{"EXPTIME =              / no value", "EXPTIME", true, K::None, "", ""},
        TCardCase{"HISTORY   ZTILE1 = 'x'", "HISTORY", false, K::None, "", ""}),
    [](const auto& info) { return "Card" + std::to_string(info.index); });

// What the reader makes of every seed the fuzzer keeps: the checks and the
// card reading must go on giving each seed its verdict. A new seed needs its
// row here.
struct TSeedVerdict {
    std::string Seed;
    std::string Verdict; // the refusal, or the picture's size
};

TEST(FitsSeeds, EachKeepsItsVerdict)
{
    const std::vector<TSeedVerdict> verdicts = {
        {"b16_unsigned", "4 x 3"},
        {"b32_scaled", "4 x 3"},
        {"bayer", "2 x 1"},
        {"blocksize_zero_after_equals", "the header's ZVAL1 (BLOCKSIZE) must be a whole number from 1 up"},
        {"blocksize_zero_before_quoted_text", "the header's ZVAL1 (BLOCKSIZE) must be a whole number from 1 up"},
        {"damaged_table", "the header holds a byte that is not text"},
        {"equals_inside_keyword_field", "the header holds a keyword with a blank inside its name"},
        {"f32", "4 x 3"},
        {"header_bytes_not_text", "the header holds a byte that is not text"},
        {"header_keys", "4 x 3"},
        {"huge_bayer_offset", "the header holds a byte that is not text"},
        {"huge_tile_descriptor", "a compressed tile lies outside the file's data"},
        {"integer_too_long", "the header's ZNAXIS2 holds a malformed value"},
        {"keyword_with_blank_inside", "the header holds a keyword with a blank inside its name"},
        {"malformed_integer_value", "the header's ZVAL2 holds a malformed value"},
        {"rgb", "2 x 1"},
        {"rice_stream_runs_past_tile", "a compressed tile is damaged"},
        {"rice_without_zval1", "the compressed image's header is incomplete"},
        {"rice_zval1_zero_unnamed", "the header's ZNAXIS1 has no value"},
        {"short_last_record", "4 x 3"},
        {"tile_compressed", "4 x 3"},
        {"tile_size_without_value_indicator", "the header's ZTILE1 has no value"},
        {"tile_size_zero_before_quoted_text", "the header's ZTILE1 must be a whole number from 1 up"},
        {"tile_table_past_end", "the file is truncated"},
        {"value_without_blank", "the header's ZVAL2 holds a malformed value"},
        {"zero_tile", "the header's ZTILE2 must be a whole number from 1 up"},
    };
    const std::filesystem::path folder = std::filesystem::path(VINSK_SOURCE_DIR) / "fuzz" / "corpus" / "fits";
    std::set<std::string> seen;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string seed = entry.path().filename().string();
        seen.insert(seed);
        const auto row = std::find_if(verdicts.begin(), verdicts.end(), [&](const auto& v) { return v.Seed == seed; });
        if (row == verdicts.end()) {
            ADD_FAILURE() << "the seed " << seed << " has no verdict";
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // The fuzz target's limits.
        TDecodeLimits limits;
        limits.Budget = 16u << 20;
        TBitmap32 bmp;
        TPictureExtras extras;
        std::string verdict;
        try {
            DecodeFits(TBytes(bytes.data(), bytes.size()), bmp, &extras, limits);
            verdict = std::to_string(bmp.Width()) + " x " + std::to_string(bmp.Height());
        } catch (const EPictureError& e) {
            verdict = e.what();
        }
        EXPECT_EQ(verdict, row->Verdict) << seed;
    }
    for (const TSeedVerdict& v : verdicts)
        EXPECT_TRUE(seen.count(v.Seed)) << "no seed " << v.Seed;
}

} // namespace
} // namespace vinsk::formats::fits
