#include "setup/ProfileText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>

using namespace vinsk;

namespace {

struct SetRow {
    const char* name;
    const char* before;
    const char* section;
    const char* key;
    const char* after;
};

void PrintTo(const SetRow& r, std::ostream* os) { *os << r.name; }

class ProfileSetRows : public ::testing::TestWithParam<SetRow> {};

TEST_P(ProfileSetRows, WritesOneKey)
{
    const SetRow& row = GetParam();
    TProfileText ini(row.before);
    ini.Set(row.section, row.key, "400");
    EXPECT_EQ(ini.Text(), row.after);
}

INSTANTIATE_TEST_SUITE_P(
    ProfileText, ProfileSetRows,
    ::testing::Values(
        SetRow{"emptyFile", "", "Lens", "Focal", "[Lens]\r\nFocal=400\r\n"},
        SetRow{"replaceInPlaceKeepingSpelling", "[lens]\r\n; focal\r\n  FOCAL =  12  \r\nDiameter=40\r\n", "Lens",
               "Focal", "[lens]\r\n; focal\r\nFOCAL=400\r\nDiameter=40\r\n"},
        SetRow{"onlyFirstOfDuplicates", "[Lens]\nFocal=1\nFocal=2\n[LENS]\nFocal=3\n", "Lens", "Focal",
               "[Lens]\nFocal=400\nFocal=2\n[LENS]\nFocal=3\n"},
        SetRow{"missingKeyBeforeBlankSeparator", "[Lens]\nDiameter=40\n\n\n[Mount]\nDistance=10\n", "Lens",
               "Focal", "[Lens]\nDiameter=40\nFocal=400\n\n\n[Mount]\nDistance=10\n"},
        SetRow{"missingKeyInLastSectionWithoutLineEnd", "[Lens]\r\nDiameter=40", "Lens", "Focal",
               "[Lens]\r\nDiameter=40\r\nFocal=400\r\n"},
        SetRow{"missingSectionAppendedAfterBlank", "; my notes\n[Mount]\nDistance=10", "Lens", "Focal",
               "; my notes\n[Mount]\nDistance=10\n\n[Lens]\nFocal=400\n"},
        SetRow{"keyAboveAllSectionsIsNotInSection", "Focal=1\n[Lens]\n", "Lens", "Focal",
               "Focal=1\n[Lens]\nFocal=400\n"},
        SetRow{"keyOfOtherSectionUntouched", "[Mount]\nFocal=1\n", "Lens", "Focal",
               "[Mount]\nFocal=1\n\n[Lens]\nFocal=400\n"},
        SetRow{"bracketsWithBlanksAndComment", " [ Lens ] ;x\nFocal=1\n", "Lens", "Focal",
               " [ Lens ] ;x\nFocal=400\n"},
        SetRow{"lineWithoutEqualsIsNoKey", "[Lens]\nFocal\n", "Lens", "Focal", "[Lens]\nFocal\nFocal=400\n"}),
    [](const ::testing::TestParamInfo<SetRow>& info) { return std::string(info.param.name); });

TEST(ProfileText, GetTrimsUnquotesAndCuts)
{
    const std::string longValue(3000, '7');
    TProfileText ini("[S]\r\na = \t 1.5 \t\r\nb=\"q\"\r\nc='\r\nd=\r\ne=" + longValue + "\r\n");
    EXPECT_EQ(ini.Get("s", "A"), "1.5");
    EXPECT_EQ(ini.Get("S", "b"), "q");
    EXPECT_EQ(ini.Get("S", "c"), "'");
    EXPECT_EQ(ini.Get("S", "d"), "");
    EXPECT_EQ(ini.Get("S", "e"), std::string(2047, '7'));
    EXPECT_EQ(ini.Get("S", "f"), std::nullopt);
    EXPECT_EQ(ini.Get("T", "a"), std::nullopt);
}

TEST(ProfileText, ArbitraryBytesSurviveUnchanged)
{
    // Whatever the bytes, parsing and writing back without a change is exact,
    // and a Set never loses any of them.
    std::mt19937 rng(12345);
    const char alphabet[] = {'[', ']', '=', '\r', '\n', ' ', '\t', '\0', 'a', 'A', '"', ';', '\xff', '\x80'};
    for (int round = 0; round < 300; ++round) {
        std::string content(rng() % 200, ' ');
        for (auto& c : content)
            c = alphabet[rng() % sizeof alphabet];
        TProfileText ini(content);
        EXPECT_EQ(ini.Text(), content);
        (void)ini.Get("a", "a");
        ini.Set("a", "a", "1");
        EXPECT_GE(ini.Text().size(), content.size());
        EXPECT_EQ(TProfileText(ini.Text()).Get("A", "A"), "1");
    }
}

} // namespace
