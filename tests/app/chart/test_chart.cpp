// The chart adapter: state, series order, clicks, axes, and saving.
#include <gtest/gtest.h>

#include <stdexcept>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <qcustomplot.h>

#include "ChartTestUtil.h"
#include "tests/support/MetafileCheck.h"
#include "app/chart/Chart1.h"

namespace vinsk {
namespace {

QCustomPlot& Plot(TChart1& chart)
{
    return *static_cast<QCustomPlot*>(chart.PlotWidget());
}

TEST(Chart1, StartsWithThePeriodicErrorCaptionsAndOneRedSeries)
{
    TChart1 chart;
    EXPECT_EQ(chart.objectName(), "Chart1");
    EXPECT_EQ(chart.Title(), "Periodic error");
    EXPECT_EQ(chart.BottomCaption(), "Time [s]");
    EXPECT_EQ(chart.LeftCaption(), "PE [\"]");
    EXPECT_EQ(chart.Count(), 0);
    EXPECT_FALSE(chart.BottomLogarithmic());
    QCustomPlot& plot = Plot(chart);
    ASSERT_EQ(plot.graphCount(), 1);
    auto* series = chart.findChild<QCPGraph*>("Series1");
    ASSERT_EQ(series, plot.graph(0));
    EXPECT_EQ(series->pen().color(), QColor(Qt::red));
    EXPECT_EQ(series->scatterStyle().shape(), QCPScatterStyle::ssNone);
    EXPECT_FALSE(plot.legend->visible());
    EXPECT_EQ(plot.cursor().shape(), Qt::CrossCursor);
}

TEST(Chart1, SeriesIsAscendingWithEqualXInTheOrderGiven)
{
    TChart1 chart;
    chart.SetPoints({{3, 1}, {1, 2}, {3, 3}, {1, 4}, {2, 5}});
    const std::vector<TChartPoint> want{{1, 2}, {1, 4}, {2, 5}, {3, 1}, {3, 3}};
    ASSERT_EQ(chart.Count(), 5);
    auto data = Plot(chart).graph(0)->data();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(chart.Point(i), want[static_cast<std::size_t>(i)]);
        EXPECT_EQ(data->at(i)->key, want[static_cast<std::size_t>(i)].X);
        EXPECT_EQ(data->at(i)->value, want[static_cast<std::size_t>(i)].Y);
    }
}

TEST(Chart1, ClickOnTheLineReportsThePointIndex)
{
    TChart1 chart;
    ShowChart(chart);
    // A trail walked right to left arrives in ascending coordinate.
    std::vector<TChartPoint> points;
    for (int i = 0; i < 11; ++i)
        points.push_back({-50.0 + 10 * i, (i % 3) * 2.0});
    chart.SetPoints(points);
    QSignalSpy spy(&chart, &TChart1::ClickSeries);
    for (int index : {0, 6, 10}) {
        QTest::mouseClick(chart.PlotWidget(), Qt::LeftButton, {}, chart.PointPosition(index).toPoint());
        ASSERT_FALSE(spy.isEmpty()) << index;
        EXPECT_EQ(spy.takeLast().at(0).toInt(), index);
    }
    // Far from the line: no report.
    QTest::mouseClick(chart.PlotWidget(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(spy.isEmpty());
}

TEST(Chart1, MarginKeepsTheEndPointsInsideThePlotArea)
{
    TChart1 chart;
    ShowChart(chart);
    chart.SetPoints({{0, -3}, {5, 4}, {10, 1}});
    const QRect area = Plot(chart).axisRect()->rect();
    for (int i = 0; i < 3; ++i) {
        const QPointF p = chart.PointPosition(i);
        EXPECT_GT(p.x(), area.left() + 2);
        EXPECT_LT(p.x(), area.right() - 2);
        EXPECT_GT(p.y(), area.top() + 2);
        EXPECT_LT(p.y(), area.bottom() - 2);
    }
}

TEST(Chart1, SinglePointAndEqualValuesGetAUsableRange)
{
    TChart1 chart;
    chart.SetPoints({{4, 7}});
    EXPECT_LT(Plot(chart).xAxis->range().lower, 4);
    EXPECT_GT(Plot(chart).xAxis->range().upper, 4);
    EXPECT_LT(Plot(chart).yAxis->range().lower, 7);
    EXPECT_GT(Plot(chart).yAxis->range().upper, 7);
}

// A spectrum starts at 0 Hz. On a logarithmic axis that point cannot show,
// and the line towards it must not come in from the plot's edge.
TEST(Chart1, LogarithmicAxisStartsAtTheSmallestPositiveX)
{
    TChart1 chart;
    ShowChart(chart);
    std::vector<TChartPoint> points{{0, 4}};
    for (int i = 1; i <= 20; ++i)
        points.push_back({0.5 * i, 1.0 + (i % 4)});
    chart.SetPoints(points);
    chart.SetBottomLogarithmic(true);
    QCustomPlot& plot = Plot(chart);
    EXPECT_TRUE(chart.BottomLogarithmic());
    EXPECT_EQ(plot.xAxis->scaleType(), QCPAxis::stLogarithmic);
    EXPECT_TRUE(plot.xAxis->ticker().dynamicCast<QCPAxisTickerLog>());
    EXPECT_DOUBLE_EQ(plot.xAxis->range().lower, 0.5);
    EXPECT_GT(plot.xAxis->range().upper, 10);

    const QImage shot = Shot(chart);
    const QRect area = plot.axisRect()->rect();
    const int firstX = static_cast<int>(chart.PointPosition(1).x());
    EXPECT_EQ(Count(shot, QRect(QPoint(area.left(), area.top()), QPoint(firstX - 3, area.bottom())), IsRed), 0);
    EXPECT_GT(CountRed(shot), 50);

    // The hidden point does not stretch the value axis either.
    points[0].Y = 1000;
    chart.SetPoints(points);
    EXPECT_LT(plot.yAxis->range().upper, 100);

    chart.SetBottomLogarithmic(false);
    EXPECT_EQ(plot.xAxis->scaleType(), QCPAxis::stLinear);
    EXPECT_FALSE(plot.xAxis->ticker().dynamicCast<QCPAxisTickerLog>());
    EXPECT_LT(plot.xAxis->range().lower, 0);
    EXPECT_GT(plot.yAxis->range().upper, 1000);
}

TEST(Chart1, LogarithmicAxisWithoutPositivePointsStillDraws)
{
    TChart1 chart;
    ShowChart(chart);
    chart.SetPoints({{0, 1}, {0, 2}});
    chart.SetBottomLogarithmic(true);
    EXPECT_GT(Plot(chart).xAxis->range().lower, 0);
    EXPECT_FALSE(Shot(chart).isNull());
}

TEST(Chart1, ZoomLastsUntilTheNextPlot)
{
    TChart1 chart;
    ShowChart(chart);
    chart.SetPoints({{0, 0}, {100, 10}});
    QCustomPlot& plot = Plot(chart);
    const QCPRange fitted = plot.xAxis->range();
    const QPointF centre = plot.axisRect()->rect().center();
    QWheelEvent wheel(centre, plot.mapToGlobal(centre), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&plot, &wheel);
    EXPECT_LT(plot.xAxis->range().size(), fitted.size() * 0.9);
    chart.SetPoints({{0, 0}, {100, 10}});
    EXPECT_DOUBLE_EQ(plot.xAxis->range().lower, fitted.lower);
    EXPECT_DOUBLE_EQ(plot.xAxis->range().upper, fitted.upper);
}

TEST(Chart1, ShowTakesAWholeFigure)
{
    TChart1 chart;
    TChartModel m;
    m.Title = "Periodic error spectrum";
    m.BottomCaption = "Frequence [Hz]";
    m.LeftCaption = "Power density [-]";
    m.Points = {{0, 5}, {0.1, 2}, {0.2, 1}};
    m.BottomLogarithmic = true;
    chart.Show(m);
    EXPECT_EQ(chart.Title(), "Periodic error spectrum");
    EXPECT_EQ(chart.BottomCaption(), "Frequence [Hz]");
    EXPECT_EQ(chart.LeftCaption(), "Power density [-]");
    EXPECT_EQ(chart.Count(), 3);
    EXPECT_TRUE(chart.BottomLogarithmic());
}

TEST(Chart1, SaveBmpWritesAWindowsBitmapOfTheChartSize)
{
    TChart1 chart;
    ShowChart(chart);
    chart.SetPoints({{0, 0}, {1, 3}, {2, 1}});
    QTemporaryDir dir;
    const QString path = dir.filePath("graph.csv"); // the extension does not decide the format
    chart.SaveBmp(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(2), "BM");
    const QImage image(path, "BMP");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), chart.PlotWidget()->size());
    EXPECT_GT(CountRed(image), 50);
}

TEST(Chart1, MetafilesHoldTheCaptionsAndTheClippedRedLine)
{
    TChart1 chart;
    ShowChart(chart);
    chart.SetPoints({{0, 0}, {1, 3}, {2, 1}});
    QTemporaryDir dir;
    chart.SaveEmf(dir.filePath("g.emf"));
    chart.SaveWmf(dir.filePath("g.wmf"));
    const test::TPlayed emf = test::PlayEmf(test::ReadFileBytes(dir.filePath("g.emf").toStdString()));
    const test::TPlayed wmf = test::PlayWmf(test::ReadFileBytes(dir.filePath("g.wmf").toStdString()));
    for (const test::TPlayed* f : {&emf, &wmf}) {
        EXPECT_TRUE(f->Faults.empty()) << f->Faults.front();
        EXPECT_EQ(f->Width, static_cast<std::uint32_t>(chart.PlotWidget()->width()));
        EXPECT_EQ(f->Height, static_cast<std::uint32_t>(chart.PlotWidget()->height()));
        std::map<std::u16string, std::int32_t> angle;
        for (const auto& t : f->Texts)
            angle[t.Text] = t.Escapement;
        ASSERT_TRUE(angle.count(u"Periodic error"));
        ASSERT_TRUE(angle.count(u"Time [s]"));
        ASSERT_TRUE(angle.count(u"PE [\"]"));
        for (const auto& t : f->Texts) {
            EXPECT_EQ(t.Align, 24u); // by the baseline Qt gives
            EXPECT_TRUE(t.Transparent);
        }
        EXPECT_EQ(angle[u"Time [s]"], 0);
        EXPECT_EQ(angle[u"PE [\"]"], 900);
        bool clippedRed = false;
        for (std::size_t i = 0; i < f->LinePens.size(); ++i)
            clippedRed = clippedRed || (f->LinePens[i] == 0x000000FFu && f->LineClipped[i]);
        EXPECT_TRUE(clippedRed);
    }
}

TEST(Chart1, SavingOverAnExistingFileReplacesIt)
{
    TChart1 chart;
    QTemporaryDir dir;
    const QString path = dir.filePath("old.emf");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
    old.close();
    chart.SaveEmf(path);
    const test::TPlayed emf = test::PlayEmf(test::ReadFileBytes(path.toStdString()));
    EXPECT_TRUE(emf.Faults.empty());
}

TEST(Chart1, FailedSaveReportsTheFileAndLeavesNothing)
{
    TChart1 chart;
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken"));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    using TSave = void (TChart1::*)(const QString&) const;
    for (TSave save : {&TChart1::SaveBmp, &TChart1::SaveWmf, &TChart1::SaveEmf}) {
        for (const QString& path : {dir.filePath("missing/graph.bmp"), dir.filePath("taken")}) {
            try {
                (chart.*save)(path);
                ADD_FAILURE() << "no error for " << path.toStdString();
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), "Cannot create file " + path.toStdString());
            }
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    EXPECT_TRUE(QFileInfo(dir.filePath("taken")).isDir());
    EXPECT_TRUE(QDir(dir.filePath("taken")).isEmpty());
}

} // namespace
} // namespace vinsk
