// Brightness to periodic error, and the measurement error posting.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <vector>

#include "analysis/PeriodicError.h"
#include "common/MathFaults.h"

using namespace vinsk;

namespace {

using Series = std::vector<double>;

TTrailState Trail(TIntPoint start, TIntPoint stop)
{
    TTrailState t;
    t.StartPoint = start;
    t.StopPoint = stop;
    return t;
}

const TTrailState Horizontal = Trail({100, 200}, {300, 200});

struct AngleRow {
    const char* name;
    TIntPoint start, stop;
    double pixelHeight, focalLength;
    double alpha; // worked out to 40 digits from atan(p / f) * 206264.80624709636
};

void PrintTo(const AngleRow& r, std::ostream* os) { *os << r.name; }

class StepAngleTest : public testing::TestWithParam<AngleRow> {};

TEST_P(StepAngleTest, ArcSecondsPerStep)
{
    const AngleRow& r = GetParam();
    TExperiment e; // pixel width 5.7e-6
    e.PixelHeight = r.pixelHeight;
    e.FocalLength = r.focalLength;
    EXPECT_NEAR(StepAngle(r.start, r.stop, e), r.alpha, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Rows, StepAngleTest,
                         testing::Values(AngleRow{"horizontal: width", {0, 0}, {9, 0}, 1e-5, 0.4, 2.9392734888221707},
                                         AngleRow{"vertical: height", {0, 0}, {0, 9}, 1e-5, 0.4, 5.1566201551031133},
                                         AngleRow{"diagonal: sqrt 2 width", {0, 0}, {-7, 7}, 1e-5, 0.4, 4.1567604311346369},
                                         AngleRow{"0.1176 raised to 1", {0, 0}, {9, 0}, 5.7e-6, 10, 1.0}));

struct ConvertRow {
    const char* name;
    double focalLength;
    Series brightness, pe;
};

void PrintTo(const ConvertRow& r, std::ostream* os) { *os << r.name; }

class BrightnessToPETest : public testing::TestWithParam<ConvertRow> {};

TEST_P(BrightnessToPETest, Converts)
{
    const ConvertRow& r = GetParam();
    TExperiment e;
    e.FocalLength = r.focalLength;
    TStatusPanels st;
    Series y = r.brightness;
    BrightnessToPE(y, Horizontal, e, st, '.');
    ASSERT_EQ(y.size(), r.pe.size());
    for (std::size_t i = 0; i < y.size(); ++i)
        EXPECT_NEAR(y[i], r.pe[i], 1e-12 * (1 + std::abs(r.pe[i]))) << i;
}

// With the defaults one step is 2.93927348882217 arc seconds; the speed is 15.
INSTANTIATE_TEST_SUITE_P(
    Rows, BrightnessToPETest,
    testing::Values(ConvertRow{"1.1 and 0.9 of the mean", 0.4, {1.1, 0.9, 1.0}, {4.40891023323326, -4.89878914803695, 0}},
                    ConvertRow{"half and 1.5 of the mean", 0.4, {1, 3, 2}, {-44.0891023323326, 22.0445511661663, 0}},
                    ConvertRow{"black counts as 0.0001", 10, {0, 2}, {-9999.0 * 15, 15}},
                    ConvertRow{"constant becomes zero", 0.4, {117.25, 117.25}, {0, 0}},
                    ConvertRow{"empty", 0.4, {}, {}}));

TEST(BrightnessToPE, ZeroFocalLengthFailsBeforeConverting)
{
    TExperiment e;
    e.FocalLength = 0;
    TStatusPanels st;
    Series y{1, 2};
    EXPECT_THROW(BrightnessToPE(y, Horizontal, e, st, '.'), EZeroDivide);
    EXPECT_EQ(y, (Series{1, 2}));
    e.PixelWidth = 0;
    EXPECT_THROW(BrightnessToPE(y, Horizontal, e, st, '.'), EInvalidOp);
}

TEST(BrightnessToPE, PostsTheMeanErrorOfTheConversion)
{
    TExperiment e;
    e.FocalLength = 10; // one step is 1 arc second
    e.MountSpeed = 1;
    TStatusPanels st;
    // m = 2.25: -(2.25 - 1) and 3.5 / 2.25 - 1, mean -0.34722 -> 34.7 %
    Series y{1, 3.5};
    BrightnessToPE(y, Horizontal, e, st, ',');
    EXPECT_EQ(st.Panels[PanelPrompt], "Measurement error: +/-34,7%");
    y = {5, 5};
    BrightnessToPE(y, Horizontal, e, st, ',');
    EXPECT_EQ(st.Panels[PanelPrompt], "Measurement error: +/-34,7%"); // nothing to post
}

struct PostRow {
    Series pe;
    const char* panel;
};

void PrintTo(const PostRow& r, std::ostream* os) { *os << "-> \"" << r.panel << '"'; }

class PostMeasurementErrorTest : public testing::TestWithParam<PostRow> {};

TEST_P(PostMeasurementErrorTest, Panel1)
{
    TStatusPanels st;
    st.Panels[PanelPrompt] = "kept";
    PostMeasurementError(GetParam().pe, st, '.');
    EXPECT_EQ(st.Panels[PanelPrompt], GetParam().panel);
}

INSTANTIATE_TEST_SUITE_P(Rows, PostMeasurementErrorTest,
                         testing::Values(PostRow{{0.001, 0}, "kept"},                       // e = 0.05
                                         PostRow{{-0.005, 0}, "Measurement error: +/-0.2%"}, // e = -0.25, half to even
                                         PostRow{{0.01234}, "Measurement error: +/-1.2%"},   // e = 1.234
                                         PostRow{{0.05, -0.01}, "Measurement error: +/-2%"}, // e = 2
                                         PostRow{{0.000999}, "kept"},                       // e = 0.0999
                                         PostRow{{}, "kept"}));

} // namespace
