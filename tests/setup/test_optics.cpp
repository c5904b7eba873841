#include "setup/Optics.h"

#include <gtest/gtest.h>

#include <ostream>

#include "common/MathFaults.h"
#include "tests/support/SetupValues.h"

using namespace vinsk;

namespace {

struct OpticsRow {
    const char* name;
    TExperiment e;
    TOpticsTexts expected;
};

void PrintTo(const OpticsRow& r, std::ostream* os) { *os << r.name; }

TExperiment With(double TExperiment::*param, double value)
{
    TExperiment e;
    e.*param = value;
    return e;
}

const TOpticsTexts Initial{
    "width:     2.9",
    "height:    2.9",
    "diagonal: 4.1",
    "width:     190.6",
    "height:    127.1",
    "diagonal: 229.1",
    "width:       12.7 min  (762 s)",
    "height:       8.5 min  (510 s)",
    "diagonal: 15.3 min  (918 s)",
    "angle:       120  (7200 \")",
    "ratio of the width [%]: 63",
    "ratio of the height [%]: 94",
    "ratio of the diagonal [%]: 52",
};

TOpticsTexts Changed(TOpticsTexts t, std::string TOpticsTexts::*label, const char* text)
{
    t.*label = text;
    return t;
}

class OpticsTextsRows : public ::testing::TestWithParam<OpticsRow> {};

TEST_P(OpticsTextsRows, AllThirteenLabels)
{
    const OpticsRow& row = GetParam();
    EXPECT_EQ(test::LabelTexts(OpticsTexts(row.e, '.')), test::LabelTexts(row.expected));
}

TExperiment HalfToEven()
{
    return TExperiment{.ExposureTime = 15, .MountSpeed = 1};
}

// A tiny sensor and an exposure angle near the 64-bit limit: the width
// percentage overflows nearest, while the diagonal must use the recomputed
// width angle (5), not the exposure-time figure (0.3) still held before.
TExperiment PercentOverflow()
{
    return TExperiment{.SensorWidth = 0.000582, .SensorHeight = 0.001164, .ExposureTime = 2.4e18, .MountSpeed = 15};
}

INSTANTIATE_TEST_SUITE_P(
    Optics, OpticsTextsRows,
    ::testing::Values(
        OpticsRow{"initial", TExperiment{}, Initial},
        OpticsRow{"focal0",
                  With(&TExperiment::FocalLength, 0),
                  {"width:", "height:", "diagonal: 0", "width:", "height:", "diagonal: 0",
                   "width:       0 min  (0 s)", "height:       0 min  (0 s)", "diagonal: 0 min  (0 s)",
                   "angle:       120  (7200 \")", "ratio of the width [%]:", "ratio of the height [%]: ",
                   "ratio of the diagonal [%]:"}},
        OpticsRow{"speed0",
                  With(&TExperiment::MountSpeed, 0),
                  {"width:     2.9", "height:    2.9", "diagonal: 4.1", "width:     190.6", "height:    127.1",
                   "diagonal: 229.1", "width:", "height:", "diagonal: 229.1 min  (13746 s)",
                   "angle:       0  (0 \")", "ratio of the width [%]: 0", "ratio of the height [%]: 0",
                   "ratio of the diagonal [%]: 0"}},
        // nearest beyond the 64-bit range fails like a division by zero.
        OpticsRow{"speedTiny",
                  With(&TExperiment::MountSpeed, 1e-300),
                  {"width:     2.9", "height:    2.9", "diagonal: 4.1", "width:     190.6", "height:    127.1",
                   "diagonal: 229.1", "width:", "height:", "diagonal: 229.1 min  (13746 s)",
                   "angle:       0  (0 \")", "ratio of the width [%]: 0", "ratio of the height [%]: 0",
                   "ratio of the diagonal [%]: 0"}},
        OpticsRow{"sensorWidth0",
                  With(&TExperiment::SensorWidth, 0),
                  {"width:     2.9", "height:    2.9", "diagonal: 4.1", "width:     0", "height:    127.1",
                   "diagonal: 127.1", "width:       0 min  (0 s)", "height:       8.5 min  (510 s)",
                   "diagonal: 8.5 min  (510 s)", "angle:       120  (7200 \")", "ratio of the width [%]:",
                   "ratio of the height [%]: 94", "ratio of the diagonal [%]: 94"}},
        OpticsRow{"exposure0",
                  With(&TExperiment::ExposureTime, 0),
                  Changed(Changed(Changed(Changed(Initial, &TOpticsTexts::Label30, "angle:       0  (0 \")"),
                                          &TOpticsTexts::Label33, "ratio of the width [%]: 0"),
                                  &TOpticsTexts::Label31, "ratio of the height [%]: 0"),
                          &TOpticsTexts::Label32, "ratio of the diagonal [%]: 0")},
        OpticsRow{"halfToEven",
                  HalfToEven(),
                  {"width:     2.9", "height:    2.9", "diagonal: 4.1", "width:     190.6", "height:    127.1",
                   "diagonal: 229.1", "width:       190.6 min  (11436 s)", "height:       127.1 min  (7626 s)",
                   "diagonal: 229.1 min  (13746 s)", "angle:       0.2  (12 \")", "ratio of the width [%]: 0",
                   "ratio of the height [%]: 0", "ratio of the diagonal [%]: 0"}},
        OpticsRow{"percentOverflow",
                  PercentOverflow(),
                  {"width:     2.9", "height:    2.9", "diagonal: 4.1", "width:     5", "height:    10",
                   "diagonal: 11.2", "width:       0.3 min  (18 s)", "height:       0.7 min  (42 s)",
                   "diagonal: 0.8 min  (48 s)", "angle:       6E17  (3.6E19 \")", "ratio of the width [%]:",
                   "ratio of the height [%]: 6E18", "ratio of the diagonal [%]: 5.35714285714286E18"}}),
    [](const ::testing::TestParamInfo<OpticsRow>& info) { return std::string(info.param.name); });

TEST(OpticsTexts, LocaleSeparator)
{
    const TOpticsTexts t = OpticsTexts(TExperiment{}, ',');
    EXPECT_EQ(t.Label10, "width:     2,9");
    EXPECT_EQ(t.Label27, "width:       12,7 min  (762 s)");
    EXPECT_EQ(t.Label30, "angle:       120  (7200 \")");
}

struct NoteRow {
    long double seconds;
    const char* text;
};

void PrintTo(const NoteRow& r, std::ostream* os) { *os << static_cast<double>(r.seconds) << " s"; }

class ExposureNoteRows : public ::testing::TestWithParam<NoteRow> {};

TEST_P(ExposureNoteRows, Text)
{
    EXPECT_EQ(ExposureNoteText(GetParam().seconds, '.'), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Optics, ExposureNoteRows,
                         ::testing::Values(NoteRow{480, "(i. e. 8 min.)"}, NoteRow{0, "(i. e. 0 min.)"},
                                           NoteRow{15, "(i. e. 0.2 min.)"}, NoteRow{45, "(i. e. 0.8 min.)"},
                                           NoteRow{-90, "(i. e. -1.5 min.)"}, NoteRow{1e30L, "i. e. ??? min"}));

struct FieldRow {
    int field;
    const char* text;
    double TExperiment::*param;
    double expected;
};

void PrintTo(const FieldRow& r, std::ostream* os) { *os << "RxSpinEdit" << r.field + 1 << " '" << r.text << "'"; }

class FieldTextRows : public ::testing::TestWithParam<FieldRow> {};

TEST_P(FieldTextRows, SetsOnlyItsParameter)
{
    const FieldRow& row = GetParam();
    TExperiment e;
    SetParamFromFieldText(e, row.field, row.text, '.');
    EXPECT_DOUBLE_EQ(e.*row.param, row.expected);
    TExperiment rest = e;
    rest.*row.param = TExperiment{}.*row.param;
    EXPECT_EQ(test::ParameterValues(rest), test::ParameterValues(TExperiment{}));
}

INSTANTIATE_TEST_SUITE_P(
    Optics, FieldTextRows,
    ::testing::Values(FieldRow{0, "25", &TExperiment::StarDistance, 25},
                      FieldRow{1, "6.5", &TExperiment::PixelWidth, 0.0000065},
                      FieldRow{2, "5.74", &TExperiment::PixelHeight, 0.00000574},
                      FieldRow{3, "23.5", &TExperiment::SensorWidth, 0.0235},
                      FieldRow{4, "15.6", &TExperiment::SensorHeight, 0.0156},
                      FieldRow{5, "4", &TExperiment::FocalLength, 0.004},
                      FieldRow{6, "80", &TExperiment::LensDiameter, 0.08},
                      FieldRow{7, "-30", &TExperiment::ExposureTime, -30},
                      FieldRow{8, " 7.5 ", &TExperiment::MountSpeed, 7.5},
                      // An emptied or unparsable field reads as 0.
                      FieldRow{5, "", &TExperiment::FocalLength, 0},
                      FieldRow{1, "5,7", &TExperiment::PixelWidth, 0},
                      FieldRow{8, "abc", &TExperiment::MountSpeed, 0}));

TEST(SetParamFromFieldText, OutOfDoubleRangeOverflowsAndKeepsTheParameter)
{
    TExperiment e;
    EXPECT_THROW(SetParamFromFieldText(e, 0, "1e400", '.'), EOverflow);
    EXPECT_EQ(e.StarDistance, 10);
    EXPECT_THROW(SetParamFromFieldText(e, 9, "1", '.'), std::out_of_range);
}

TEST(SetupFields, NamesAndParametersInComponentOrder)
{
    const auto& f = SetupFields();
    const char* names[] = {"RxSpinEdit1", "RxSpinEdit2", "RxSpinEdit3", "RxSpinEdit4", "RxSpinEdit5",
                           "RxSpinEdit6", "RxSpinEdit7", "RxSpinEdit8", "RxSpinEdit9"};
    double TExperiment::*params[] = {&TExperiment::StarDistance, &TExperiment::PixelWidth,
                                     &TExperiment::PixelHeight,  &TExperiment::SensorWidth,
                                     &TExperiment::SensorHeight, &TExperiment::FocalLength,
                                     &TExperiment::LensDiameter, &TExperiment::ExposureTime,
                                     &TExperiment::MountSpeed};
    for (std::size_t i = 0; i < f.size(); ++i) {
        EXPECT_STREQ(f[i].Name, names[i]);
        EXPECT_TRUE(f[i].Param == params[i]) << names[i];
    }
    EXPECT_STREQ(f[3].Caption, "Senzor size (width x height) [mm]:");
    EXPECT_STREQ(f[3].Hint, "Width of the sensor  [mm]");
    EXPECT_STREQ(f[5].Caption, "Lens focal lenght [mm]:");
    EXPECT_STREQ(f[8].Hint, "Mount speed (siderial is 15\"/s)");
}

} // namespace
