// The plotting run through a scripted host on a generated picture.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include "common/MathFaults.h"
#include "figures/CsvExport.h"
#include "figures/PlotRun.h"

using namespace vinsk;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

class FakeHost : public TPlotHost {
public:
    int layers = 3;
    TCheckPointEdits edits{100, 200, 300, 210, 200, 212};
    TGraphChoices choices;
    std::vector<std::string> errors;
    int tabActivations = 0;
    int logClears = 0;

    int LayerCount() const override { return layers; }
    TCheckPointEdits ReadCheckPointEdits() const override { return edits; }
    TGraphChoices ReadChoices() const override { return choices; }
    void ShowError(const std::string& message) override { errors.push_back(message); }
    void ActivateGraphTab() override { ++tabActivations; }
    void ClearLogBox() override
    {
        ++logClears;
        choices.LogScale = false;
    }
};

// Brightness waving along x with a period of 40 pixels; the three channels
// differ so that the channel choice matters.
TBitmap32 WavyPicture()
{
    TBitmap32 b;
    b.SetSize(400, 300);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x) {
            const auto g = static_cast<std::uint32_t>(100 + std::lround(50 * std::sin(2 * std::numbers::pi * x / 40)));
            b.SetPixelS(x, y, Color32(255, g, g + 20, g - 20));
        }
    return b;
}

class RunPlotTest : public testing::Test {
protected:
    RunPlotTest() { state.Image.Bitmap = WavyPicture(); }

    TVinskState state;
    FakeHost host;
};

struct FigureRow {
    int figure;
    const char* title;
    const char* left;
    const char* bottom;
    std::size_t points;
    double x0, x1; // abscissa of the first two points
    const char* csvHeader;
};

void PrintTo(const FigureRow& r, std::ostream* os) { *os << "figure " << r.figure; }

class FigureTest : public RunPlotTest, public testing::WithParamInterface<FigureRow> {};

TEST_P(FigureTest, TitleCaptionsPointsAndRawArraysAfterwards)
{
    const FigureRow& r = GetParam();
    host.choices.Figure = r.figure;
    RunPlot(state, host);
    EXPECT_TRUE(host.errors.empty());
    EXPECT_EQ(host.tabActivations, 1);
    EXPECT_EQ(state.Chart.Title, r.title);
    EXPECT_EQ(state.Chart.LeftCaption, r.left);
    EXPECT_EQ(state.Chart.BottomCaption, r.bottom);
    EXPECT_FALSE(state.Chart.BottomLogarithmic);
    ASSERT_EQ(state.Chart.Points.size(), r.points);
    for (std::size_t i = 1; i < r.points; ++i)
        EXPECT_LE(state.Chart.Points[i - 1].X, state.Chart.Points[i].X);
    if (r.figure != FigureErrorEstimation) {
        EXPECT_EQ(state.Chart.Points[0].X, r.x0);
        EXPECT_DOUBLE_EQ(state.Chart.Points[1].X, r.x1);
    }
    const std::string csv = ChartCsvText(state.Chart, '.');
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")), r.csvHeader);

    // Whatever was plotted, the arrays hold the sampling again.
    ASSERT_EQ(state.Trail.GraphX.size(), 201u);
    EXPECT_EQ(state.Trail.GraphX[200], 480.0);
    EXPECT_EQ(state.Trail.TrailPos[0], 100);
    EXPECT_NE(state.Statistics, TStatisticTexts{});
    EXPECT_EQ(state.Status.Panels[PanelReadout], "[300, 210] = [A:255, R:100, G:120, B:80]");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, FigureTest, testing::Values(
    FigureRow{0, "Line profile", "Brightness [-]", "Coordinates [pix]", 201, 100, 101, "Coordinates [pix]; Brightness [-]"},
    FigureRow{1, "Periodic error", "PE [\"]", "Time [s]", 201, 0, 2.4, "Time [s]; PE [\"]"},
    FigureRow{2, "Periodic error estimation", "Error rate [-]", "PE [\"]", 501, 0, 0, "PE [\"]; Error rate [-]"},
    FigureRow{3, "Periodic error spectrum", "Power density [-]", "Frequence [Hz]", 201, 0, 1 / 480.0, "Frequence [Hz]; Power density [-]"},
    FigureRow{9, "Periodic error", "PE [\"]", "Time [s]", 201, 0, 2.4, "Time [s]; PE [\"]"}));
// clang-format on

TEST_F(RunPlotTest, LineProfilePlotsBrightnessOverCoordinate)
{
    host.choices.Figure = FigureLineProfile;
    host.choices.Channel = ChannelG;
    // Walked right to left: the series still ascends in x.
    host.edits = {300, 210, 100, 200, 200, 212};
    RunPlot(state, host);
    const auto& p = state.Chart.Points;
    ASSERT_EQ(p.size(), 201u);
    EXPECT_EQ(p.front().X, 100);
    EXPECT_EQ(p.back().X, 300);
    // x = 100 is a multiple of the period plus 20: sin(pi) = 0, G = 100 + 20.
    EXPECT_EQ(p.front().Y, 120);
    EXPECT_EQ(PointValueText(state.Chart, 0, '.'), "Point value: [100, 120]");
}

TEST_F(RunPlotTest, FewerThanThreeMarkersRefusesAndChangesNothing)
{
    host.layers = 2;
    state.Trail.GraphX = {1, 2};
    state.Status.Panels[PanelReadout] = "before";
    for (int figure = 0; figure < 4; ++figure) {
        host.choices.Figure = figure;
        EXPECT_FALSE(RunPlot(state, host).MeasurementError) << figure;
    }
    EXPECT_EQ(host.errors, std::vector<std::string>(4, "Must be defined all 3 check points!"));
    EXPECT_EQ(host.tabActivations, 0);
    EXPECT_EQ(state.Chart.Title, "Periodic error");
    EXPECT_EQ(state.Chart.BottomCaption, "Time [s]");
    EXPECT_EQ(state.Chart.LeftCaption, "PE [\"]");
    EXPECT_TRUE(state.Chart.Points.empty());
    EXPECT_EQ(state.Statistics, TStatisticTexts{});
    EXPECT_EQ(state.Trail.GraphX, (std::vector<double>{1, 2}));
    EXPECT_EQ(state.Status.Panels[PanelReadout], "before");
}

// The walk may take 4 x (400 + 300) = 2800 positions on the test picture;
// one more is refused before anything is sized or sampled.
TEST_F(RunPlotTest, WalksLongerThanFourTimesThePictureBorderAreRefused)
{
    state.Trail.GraphX = {1, 2};
    const TCheckPointEdits tooLong[] = {
        {2147483647, 0, 0, 0, 5, 5},
        {-2147483648.0L, -2147483648.0L, 0, 0, 5, 5},
        {100, 200, 40000000, 210, 200, 212},
        {0, 100, 2800, 110, 1400, 150},
        {0, 0, 10, 2800, 5, 1400},
    };
    for (const TCheckPointEdits& e : tooLong) {
        host.edits = e;
        host.errors.clear();
        RunPlot(state, host);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_THAT(host.errors[0], testing::StartsWith("The check points are too far apart"));
        EXPECT_THAT(host.errors[0], testing::EndsWith("a picture of 400 x 300 pixels allows at most 2800."));
    }
    EXPECT_EQ(host.tabActivations, 0);
    EXPECT_TRUE(state.Chart.Points.empty());
    EXPECT_EQ(state.Trail.GraphX, (std::vector<double>{1, 2}));

    host.edits = {0, 100, 2799, 110, 1400, 150};
    host.errors.clear();
    RunPlot(state, host);
    EXPECT_TRUE(host.errors.empty());
    EXPECT_EQ(state.Trail.GraphX.size(), 2800u);
}

TEST_F(RunPlotTest, ReturnsTheMeasurementErrorItPosted)
{
    // An earlier confirmation on the prompt panel is not the run's result.
    state.Status.Panels[PanelPrompt] = "Flat image  has been applied.";
    host.choices.Figure = FigurePeriodicError;
    const TPlotResult r = RunPlot(state, host);
    ASSERT_TRUE(r.MeasurementError);
    EXPECT_THAT(*r.MeasurementError, testing::StartsWith("Measurement error: +/-"));
    EXPECT_EQ(*r.MeasurementError, state.Status.Panels[PanelPrompt]);
}

TEST_F(RunPlotTest, AverageLineSmoothsThePlotButNotTheStatistics)
{
    host.choices.Figure = FigurePeriodicError;
    RunPlot(state, host);
    const TStatisticTexts raw = state.Statistics;
    const auto rawPoints = state.Chart.Points;
    host.choices.AverageLine = true;
    host.choices.AverageWidth = 39; // one period plus one: the wave averages out
    RunPlot(state, host);
    EXPECT_EQ(state.Statistics, raw);
    ASSERT_EQ(state.Chart.Points.size(), rawPoints.size());
    double rawSpread = 0, smoothSpread = 0;
    for (std::size_t i = 100; i < rawPoints.size(); ++i) {
        rawSpread = std::max(rawSpread, std::fabs(rawPoints[i].Y));
        smoothSpread = std::max(smoothSpread, std::fabs(state.Chart.Points[i].Y));
    }
    EXPECT_GT(rawSpread, 10 * smoothSpread);
}

TEST_F(RunPlotTest, LogScaleOnTheEstimationUnticksAndReplotsOnce)
{
    host.choices.Figure = FigureErrorEstimation;
    host.choices.LogScale = true;
    RunPlot(state, host);
    EXPECT_EQ(host.logClears, 1);
    EXPECT_EQ(host.tabActivations, 2); // the outer run and the nested one
    EXPECT_FALSE(host.choices.LogScale);
    EXPECT_FALSE(state.Chart.BottomLogarithmic);
    EXPECT_EQ(state.Chart.Title, "Periodic error estimation");
    EXPECT_EQ(state.Chart.Points.size(), 501u);

    host.choices.Figure = FigurePeriodicError;
    RunPlot(state, host);
    EXPECT_FALSE(state.Chart.BottomLogarithmic);
}

TEST_F(RunPlotTest, LogScaleOnOtherFiguresMakesTheBottomAxisLogarithmic)
{
    host.choices.LogScale = true;
    for (int figure : {FigureLineProfile, FigurePeriodicError, FigureSpectrum}) {
        host.choices.Figure = figure;
        RunPlot(state, host);
        EXPECT_TRUE(state.Chart.BottomLogarithmic) << figure;
    }
    EXPECT_EQ(host.logClears, 0);
    host.choices.LogScale = false;
    RunPlot(state, host);
    EXPECT_FALSE(state.Chart.BottomLogarithmic);
}

TEST_F(RunPlotTest, LogScaleOverNegativeCoordinatesIsRefusedAfterPlotting)
{
    state.Statistics.Label40 = "kept";
    host.edits = {-50, 100, 150, 100, 50, 100};
    host.choices.Figure = FigureLineProfile;
    host.choices.LogScale = true;
    EXPECT_THAT([&] { RunPlot(state, host); },
                ThrowsMessage<EChartError>(StrEq("Logarithmic Axis Min and Max values should be >= 0")));
    EXPECT_EQ(state.Chart.Title, "Line profile");
    ASSERT_EQ(state.Chart.Points.size(), 201u);
    EXPECT_EQ(state.Chart.Points.front().X, -50);
    EXPECT_EQ(state.Chart.Points.front().Y, 255); // outside the picture
    EXPECT_FALSE(state.Chart.BottomLogarithmic);
    EXPECT_EQ(state.Statistics.Label40, "kept");
}

TEST_F(RunPlotTest, ZeroFocalLengthOnTheProfileFailsOnlyInTheStatistics)
{
    state.Statistics.Label42 = "kept";
    state.Experiment.FocalLength = 0;
    host.choices.Figure = FigureLineProfile;
    EXPECT_THROW(RunPlot(state, host), EZeroDivide);
    EXPECT_EQ(state.Chart.Title, "Line profile");
    EXPECT_EQ(state.Chart.Points.size(), 201u);
    EXPECT_EQ(state.Statistics.Label42, "kept");
}

// A fault before the points are replaced leaves the chart as the last
// successful run gave it; once past the sampling the bottom axis is linear.
struct FaultRow {
    const char* name;
    int figure;
    void (*spoil)(TVinskState&, FakeHost&);
    const char* message;
    bool axisLinear;
};

void PrintTo(const FaultRow& r, std::ostream* os) { *os << r.name; }

class FigureFaultTest : public RunPlotTest, public testing::WithParamInterface<FaultRow> {};

TEST_P(FigureFaultTest, ChartKeepsThePreviousFigure)
{
    host.choices.Figure = FigureLineProfile;
    host.choices.LogScale = true;
    RunPlot(state, host);
    const TChartModel before = state.Chart;
    const TStatisticTexts stats = state.Statistics;
    ASSERT_TRUE(before.BottomLogarithmic);

    host.choices.Figure = GetParam().figure;
    GetParam().spoil(state, host);
    EXPECT_THAT([&] { RunPlot(state, host); }, ThrowsMessage<EMathError>(StrEq(GetParam().message)));
    EXPECT_EQ(state.Chart.Title, before.Title);
    EXPECT_EQ(state.Chart.LeftCaption, before.LeftCaption);
    EXPECT_EQ(state.Chart.BottomCaption, before.BottomCaption);
    EXPECT_EQ(state.Chart.Points, before.Points);
    EXPECT_EQ(state.Chart.BottomLogarithmic, !GetParam().axisLinear);
    EXPECT_EQ(state.Statistics, stats);
    EXPECT_EQ(host.tabActivations, 2);
}

void UniformGrey(TVinskState& s, FakeHost&)
{
    for (int i = 0; i < 400 * 300; ++i)
        s.Image.Bitmap.Bits()[i] = 0xFF808080u;
}

void ZeroExposure(TVinskState& s, FakeHost&) { s.Experiment.ExposureTime = 0; }
void ZeroFocalLength(TVinskState& s, FakeHost&) { s.Experiment.FocalLength = 0; }
void StartOnStop(TVinskState&, FakeHost& h) { h.edits = {50, 60, 50, 60, 70, 80}; }

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, FigureFaultTest, testing::Values(
    FaultRow{"zero exposure on the spectrum", FigureSpectrum, ZeroExposure, "Floating point division by zero", true},
    FaultRow{"zero focal length on the error", FigurePeriodicError, ZeroFocalLength, "Floating point division by zero", true},
    FaultRow{"uniform picture on the estimation", FigureErrorEstimation, UniformGrey, "Floating point division by zero", true},
    FaultRow{"start on stop", FigurePeriodicError, StartOnStop, "Invalid floating point operation", false}));
// clang-format on

TEST_F(RunPlotTest, SampleArraysOfDifferentLengthAfterAFaultAreReadSafely)
{
    // The estimation fails after growing GraphX to 501; a circle of radius 0
    // then samples nothing, and the next run works on the arrays as left.
    UniformGrey(state, host);
    host.choices.Figure = FigureErrorEstimation;
    EXPECT_THROW(RunPlot(state, host), EZeroDivide);
    ASSERT_EQ(state.Trail.GraphX.size(), 501u);
    host.edits = {0, 0, 1, 0, 0, 1};
    host.choices.Figure = FigureLineProfile;
    host.choices.Channel = ChannelR; // 201 samples behind 501 abscissae
    RunPlot(state, host);
    EXPECT_EQ(state.Chart.Points.size(), 501u);
}

TEST(PointValueText, FullPrecisionUpTo15Digits)
{
    TChartModel chart;
    chart.AddXY(2.4, -4.898789148036954);
    chart.AddXY(0.00001, 0);
    EXPECT_EQ(PointValueText(chart, 1, '.'), "Point value: [2.4, -4.89878914803695]");
    EXPECT_EQ(PointValueText(chart, 0, ','), "Point value: [1E-5, 0]");
    TVinskState state;
    state.Chart = chart;
    state.DecimalSeparator = ',';
    PostPointValue(state, 1);
    EXPECT_EQ(state.Status.Panels[PanelReadout], "Point value: [2,4, -4,89878914803695]");
}

TEST(ChartModel, NewPointGoesAfterEqualX)
{
    TChartModel chart;
    chart.AddXY(2, 1);
    chart.AddXY(1, 2);
    chart.AddXY(2, 3);
    chart.AddXY(1, 4);
    EXPECT_EQ(chart.Points, (std::vector<TChartPoint>{{1, 2}, {1, 4}, {2, 1}, {2, 3}}));
    TChartModel bulk;
    bulk.SetPoints({2, 1, 2, 1}, {1, 2, 3, 4}, 4);
    EXPECT_EQ(bulk.Points, chart.Points);
}

TEST(ChartModel, NaNXGoesLastWhicheverWayThePointsArrive)
{
    const double nan = std::nan("");
    TChartModel added;
    for (const auto& [x, y] : std::vector<std::pair<double, double>>{{2, 1}, {nan, 2}, {1, 3}, {nan, 4}, {3, 5}})
        added.AddXY(x, y);
    TChartModel bulk;
    bulk.SetPoints({2, nan, 1, nan, 3}, {1, 2, 3, 4, 5}, 5);
    for (const TChartModel* m : {&added, &bulk}) {
        ASSERT_EQ(m->Points.size(), 5u);
        const std::vector<double> ys{3, 1, 5, 2, 4};
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(std::isnan(m->Points[i].X), i >= 3) << i;
            EXPECT_EQ(m->Points[i].Y, ys[i]) << i;
        }
    }
}

} // namespace
