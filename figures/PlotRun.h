// The plotting run: samples the trail, computes the chosen figure, puts it
// on the chart model and writes the statistics of the raw periodic error.
// The window and the command-line tool each own a TVinskState and supply a
// TPlotHost for what only they can read or show.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "analysis/Sampling.h"
#include "analysis/Statistics.h"
#include "analysis/TrailGeometry.h"
#include "analysis/TrailState.h"
#include "common/Status.h"
#include "figures/ChartModel.h"
#include "image/ImageState.h"
#include "setup/Experiment.h"

namespace vinsk {

// Item indices of the figure choice; any index other than 0, 2, 3 plots the
// periodic error.
enum TFigure : int {
    FigureLineProfile = 0,
    FigurePeriodicError = 1,
    FigureErrorEstimation = 2,
    FigureSpectrum = 3,
};

struct TFigureCaptions {
    const char* Title;
    const char* LeftCaption;
    const char* BottomCaption;
};

// Title and axis captions of a figure index.
TFigureCaptions FigureCaptions(int figure);

inline constexpr const char* CheckPointsMissingMessage = "Must be defined all 3 check points!";
inline constexpr const char* LogAxisRefusalMessage = "Logarithmic Axis Min and Max values should be >= 0";

// The chart refusing a logarithmic bottom axis over negative x.
class EChartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The Graph tab's choices, read afresh by every run.
struct TGraphChoices {
    int Figure = FigureLineProfile;
    int Channel = ChannelAvg;
    bool AverageLine = false;
    double AverageWidth = 2;
    bool LogScale = false;
};

struct TVinskState {
    TExperiment Experiment;
    TImageState Image;
    TTrailState Trail;
    TStatusPanels Status;
    TChartModel Chart;
    TStatisticTexts Statistics;
    char DecimalSeparator = '.';
};

class TPlotHost {
public:
    virtual ~TPlotHost() = default;
    // Number of check-point markers on the image view.
    virtual int LayerCount() const = 0;
    virtual TCheckPointEdits ReadCheckPointEdits() const = 0;
    virtual TGraphChoices ReadChoices() const = 0;
    // A refusal: an "Error" message box with one OK button.
    virtual void ShowError(const std::string& message) = 0;
    virtual void ActivateGraphTab() = 0;
    // Unticks "&Logaritmic scale" without plotting: RunPlot itself runs
    // the nested plot that the untick stands for.
    virtual void ClearLogBox() = 0;
};

// What a plotting run tells besides the state it changed.
struct TPlotResult {
    // The last measurement error the run posted on the prompt panel; none
    // when the error was too small to post or the run stopped before.
    std::optional<std::string> MeasurementError;
};

// One complete plotting run. Fewer than three markers, or check points whose
// walk is longer than MaxWalkPositions of the picture: ShowError and
// nothing else. Arithmetic faults throw EMathError where they occur; the
// chart's title, captions and points change only once the figure is
// computed, the statistics only at the very end. A refused logarithmic axis
// throws EChartError after the points are plotted, the axis left linear.
TPlotResult RunPlot(TVinskState& state, TPlotHost& host);

// "Point value: [x, y]" of the chart point at index (ascending x order).
std::string PointValueText(const TChartModel& chart, std::size_t index, char decimalSep);

// Click on a plotted point: its value on the read-out panel.
void PostPointValue(TVinskState& state, std::size_t index);

} // namespace vinsk
