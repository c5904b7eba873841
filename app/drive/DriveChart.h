// The chart of the Drive tab: four figures of one drive analysis (the
// drift-free error, its spectrum on a period axis, the cycles on the worm
// phase, the PEC fit) and a fifth of several runs' mean cycles, a snap to the nearest spectral peak under the mouse,
// and the figure as PNG, SVG or PDF bytes.
//
// QCustomPlot's header stays inside DriveChart.cpp.
#pragma once

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

#include "drive/DriveAnalysis.h"

class QCustomPlot;
class QCPItemTracer;

namespace vinsk {

enum TDriveFigure : int {
    DriveFigureError = 0,
    DriveFigureSpectrum = 1,
    DriveFigureCycles = 2,
    DriveFigurePec = 3,
    DriveFigureRuns = 4
};

// One curve of the Runs figure: a run's mean cycle, or the runs' average,
// one value a degree of worm phase.
struct TRunCurve {
    QString Name;
    std::vector<double> Values;
    bool Average = false;
};

// A vertical marker of the spectrum at P/i.
struct TDriveMarker {
    double Period = 0;
    QString Label; // "P", "P/2", ...
};

class TDriveChart : public QWidget {
    Q_OBJECT

public:
    explicit TDriveChart(QWidget* parent = nullptr);
    ~TDriveChart() override;

    // Draws a figure of the result; without a result, or with a refused
    // one, the chart is empty. decimalSep is used on the axes' numbers.
    void Show(std::shared_ptr<const TDriveResult> result, int figure, bool showDrift, char decimalSep);
    int Figure() const { return FFigure; }
    // An empty chart with the reason there is no result as its title.
    void ShowNothing(const QString& reason);
    // The error's unit on the axes, for the next Show: arc seconds, or
    // "px" for a guide log without a pixel scale.
    void SetUnit(const QString& unit) { FUnit = unit; }
    // The curves the Runs figure draws, and why there are none when empty.
    void SetRuns(std::vector<TRunCurve> curves, const QString& none);

    // The harmonic markers of the spectrum as drawn, and the labels' places
    // (plot coordinates) in the same order.
    const std::vector<TDriveMarker>& Markers() const { return FMarkers; }
    std::vector<QRectF> MarkerLabelRects() const;

    // The spectral peak nearest to a point of the plot widget, by its
    // distance along the period axis; -1 without peaks or on other figures.
    int NearestPeak(QPointF plotPos) const;
    // Where peak `index` is drawn, in plot widget coordinates.
    QPointF PeakPosition(int index) const;

    QWidget* PlotWidget() const;

    // The figure laid out afresh for the picture, whatever the window's
    // size: PNG and SVG of `size` pixels, drawn at twice the scale of the
    // screen from 1600 pixels wide so that the text stays readable; the PDF
    // one A4 landscape page, every text at 9 pt or more.
    QByteArray PngBytes(QSize size) const;
    QByteArray SvgBytes(QSize size) const;
    QByteArray PdfBytes() const;

signals:
    // The mouse moved over, or clicked near, the peak of this index in the
    // result's peak list.
    void PeakSnapped(int index);

private:
    void Clear();
    void ShowError(const TDriveResult& r, bool showDrift);
    void ShowSpectrum(const TDriveResult& r);
    void ShowCycles(const TDriveResult& r);
    void ShowPec(const TDriveResult& r);
    void ShowRuns();
    void ShowNote(const QString& text);
    void PlaceMarkerLabels();
    void Snap(QPointF plotPos);

    QCustomPlot* FPlot = nullptr;
    QCPItemTracer* FTracer = nullptr;
    std::shared_ptr<const TDriveResult> FResult;
    int FFigure = DriveFigureError;
    char FSep = '.';
    QString FUnit = QStringLiteral("″");
    std::vector<TDriveMarker> FMarkers;
    std::vector<TRunCurve> FRuns;
    QString FNoRuns;
};

} // namespace vinsk
