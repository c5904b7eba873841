#include "figures/PlotRun.h"

#include <algorithm>
#include <vector>

#include "analysis/AverageLine.h"
#include "analysis/Estimation.h"
#include "analysis/PeriodicError.h"
#include "analysis/Sampling.h"
#include "analysis/Spectrum.h"
#include "common/NumText.h"

namespace vinsk {

TFigureCaptions FigureCaptions(int figure)
{
    switch (figure) {
    case FigureLineProfile:
        return {"Line profile", "Brightness [-]", "Coordinates [pix]"};
    case FigureErrorEstimation:
        return {"Periodic error estimation", "Error rate [-]", "PE [\"]"};
    case FigureSpectrum:
        return {"Periodic error spectrum", "Power density [-]", "Frequence [Hz]"};
    default:
        return {"Periodic error", "PE [\"]", "Time [s]"};
    }
}

namespace {

void Sample(TVinskState& s, const TPlotHost& host)
{
    SampleTrail(s.Trail, host.ReadCheckPointEdits(), s.Experiment.ExposureTime, s.Image.Bitmap, s.Status);
}

// Converts y to the periodic error; a posted measurement error is kept in
// the run's result.
void ToPE(TVinskState& s, std::vector<double>& y, TPlotResult& result)
{
    if (auto posted = BrightnessToPE(y, s.Trail, s.Experiment, s.Status, s.DecimalSeparator))
        result.MeasurementError = std::move(posted);
}

// The chosen figure: its values into y, its abscissa into GraphX.
void ComputeFigure(TVinskState& s, int figure, std::vector<double>& y, TPlotResult& result)
{
    TTrailState& t = s.Trail;
    switch (figure) {
    case FigureLineProfile: {
        const std::size_t n = std::min(t.GraphX.size(), t.TrailPos.size());
        std::copy_n(t.TrailPos.begin(), n, t.GraphX.begin());
        break;
    }
    case FigureErrorEstimation: {
        ToPE(s, y, result);
        const double mean = ArrayMean(y);
        const double variance = ArrayVariance(y, mean);
        EstimationCurve(t, mean, variance);
        y = t.GraphY;
        break;
    }
    case FigureSpectrum:
        ToPE(s, y, result);
        PESpectrum(y, t.GraphX, s.Experiment.ExposureTime);
        break;
    default:
        ToPE(s, y, result);
        break;
    }
}

} // namespace

TPlotResult RunPlot(TVinskState& state, TPlotHost& host)
{
    TPlotResult result;
    if (host.LayerCount() < 3) {
        host.ShowError(CheckPointsMissingMessage);
        return result;
    }
    // Refused before the sample arrays are sized by the walk.
    if (const auto refusal = WalkLengthRefusal(host.ReadCheckPointEdits(), state.Image.Bitmap.Width(),
                                               state.Image.Bitmap.Height())) {
        host.ShowError(*refusal);
        return result;
    }
    host.ActivateGraphTab();
    const TGraphChoices choices = host.ReadChoices();

    Sample(state, host);
    std::vector<double> y = BrightnessSeries(state.Trail, choices.Channel);
    if (choices.AverageLine)
        SmoothBrightness(y, choices.AverageWidth);
    state.Chart.BottomLogarithmic = false;

    ComputeFigure(state, choices.Figure, y, result);
    const TFigureCaptions captions = FigureCaptions(choices.Figure);
    state.Chart.Title = captions.Title;
    state.Chart.LeftCaption = captions.LeftCaption;
    state.Chart.BottomCaption = captions.BottomCaption;
    state.Chart.SetPoints(state.Trail.GraphX, y, y.size());

    if (choices.LogScale) {
        if (choices.Figure == FigureErrorEstimation) {
            // The estimation spreads to both sides of the mean: the box is
            // unticked, and that untick re-plots in full.
            host.ClearLogBox();
            if (auto nested = RunPlot(state, host).MeasurementError)
                result.MeasurementError = std::move(nested);
        } else {
            const auto& p = state.Chart.Points;
            if (!p.empty() && (p.front().X < 0 || p.back().X < 0))
                throw EChartError(LogAxisRefusalMessage);
            state.Chart.BottomLogarithmic = true;
        }
    }

    // The statistics always describe the raw periodic error, and the sample
    // arrays end up holding the sampling again.
    Sample(state, host);
    std::vector<double> raw = BrightnessSeries(state.Trail, choices.Channel);
    ToPE(state, raw, result);
    state.Statistics = PEStatistic(raw, state.DecimalSeparator);
    return result;
}

std::string PointValueText(const TChartModel& chart, std::size_t index, char decimalSep)
{
    const TChartPoint& p = chart.Points.at(index);
    return "Point value: [" + FloatText(p.X, decimalSep) + ", " + FloatText(p.Y, decimalSep) + "]";
}

void PostPointValue(TVinskState& state, std::size_t index)
{
    state.Status.Panels[PanelReadout] = PointValueText(state.Chart, index, state.DecimalSeparator);
}

} // namespace vinsk
