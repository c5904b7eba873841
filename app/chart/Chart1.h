// The figure chart of the Graph tab: one title line, the two axis captions,
// a bottom axis that can be logarithmic, and one red line series, Series1,
// without marks or legend. A click on the line reports the clicked point's
// index in the series' order. The chart renders itself into BMP, WMF and EMF
// files at its on-screen size.
//
// The plot itself is a QCustomPlot child filling the widget; its header stays
// inside Chart1.cpp.
#pragma once

#include <vector>

#include <QPointF>
#include <QString>
#include <QWidget>

#include "figures/ChartModel.h"

class QCustomPlot;
class QCPGraph;
class QCPTextElement;

namespace vinsk {

class TChart1 : public QWidget {
    Q_OBJECT

public:
    explicit TChart1(QWidget* parent = nullptr);
    ~TChart1() override;

    void SetTitle(const QString& title);
    QString Title() const;
    void SetBottomCaption(const QString& caption);
    QString BottomCaption() const;
    void SetLeftCaption(const QString& caption);
    QString LeftCaption() const;

    // Replaces the series. Points are kept in ascending X, equal X in the
    // order given; the axes are fitted afresh, dropping any zoom or pan.
    void SetPoints(std::vector<TChartPoint> points);
    int Count() const { return static_cast<int>(FPoints.size()); }
    const TChartPoint& Point(int index) const { return FPoints.at(static_cast<std::size_t>(index)); }

    // Whether a logarithmic axis is allowed is the caller's decision; points
    // at X <= 0 are then left out of the visible range.
    void SetBottomLogarithmic(bool on);
    bool BottomLogarithmic() const;

    // Title, captions, points and axis of a figure in one go.
    void Show(const TChartModel& model);

    // Each throws EFileWriteError("Cannot create file " + path) when the
    // file cannot be written; an existing file is then left as it was and
    // no partial file remains.
    void SaveBmp(const QString& path) const;
    void SaveWmf(const QString& path) const;
    void SaveEmf(const QString& path) const;

    // The plot widget, which receives the mouse.
    QWidget* PlotWidget() const;
    // Where point index is drawn, in PlotWidget() coordinates.
    QPointF PointPosition(int index) const;

signals:
    // The user clicked on the line near the point with this index.
    void ClickSeries(int valueIndex);

private:
    void FitAxes();

    QCustomPlot* FPlot = nullptr;
    QCPGraph* FSeries = nullptr;
    QCPTextElement* FTitle = nullptr;
    std::vector<TChartPoint> FPoints;
};

} // namespace vinsk
