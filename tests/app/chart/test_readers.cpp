// The exported metafiles as independent readers draw them: emf2svg-conv and
// rsvg-convert for EMF, wmf2gd (libwmf) for WMF. The rendered picture must
// show the red line and dark caption text where the chart has them.
#include <gtest/gtest.h>

#include <cmath>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include "ChartTestUtil.h"
#include "tests/support/MetafileCheck.h"
#include "app/chart/Chart1.h"

namespace vinsk {
namespace {

// Runs a reader; the output file is the proof, since emf2svg-conv exits
// with 0 even when it gives up.
::testing::AssertionResult RunReader(const char* program, const QStringList& args, const QString& output)
{
    if (!QFileInfo(QString::fromUtf8(program)).isExecutable())
        return ::testing::AssertionFailure() << "reader not installed: " << program
                                             << " (packages emf2svg, librsvg2-bin, libwmf-bin, fonts-urw-base35)";
    QProcess p;
    p.start(QString::fromUtf8(program), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return ::testing::AssertionFailure() << program << " failed: " << p.readAllStandardError().toStdString();
    if (QFileInfo(output).size() == 0)
        return ::testing::AssertionFailure() << program << " wrote nothing: "
                                             << p.readAllStandardError().toStdString();
    return ::testing::AssertionSuccess();
}

// The chart at 600 x 400 with a line and the three captions, and where its
// texts lie, as fractions of the picture.
struct TScene {
    TChart1 Chart;
    QRectF Title, Bottom, Left, Inside;

    TScene()
    {
        ShowChart(Chart);
        std::vector<TChartPoint> points;
        for (int i = 0; i <= 100; ++i)
            points.push_back({i * 4.8, 5 * std::sin(i / 8.0)});
        Chart.SetPoints(points);
        Shot(Chart);
        auto& plot = *static_cast<QCustomPlot*>(Chart.PlotWidget());
        const QRectF page(QPointF(0, 0), QSizeF(plot.size()));
        const QRect area = plot.axisRect()->rect();
        const QRect title = plot.plotLayout()->element(0, 0)->outerRect();
        const auto fraction = [&](const QRectF& r) {
            return QRectF(r.x() / page.width(), r.y() / page.height(), r.width() / page.width(),
                          r.height() / page.height());
        };
        // The captions sit centred on the outer edges of the axis margins.
        Title = fraction(QRectF(area.center().x() - 60, title.top(), 120, title.height()));
        Bottom = fraction(QRectF(area.center().x() - 40, page.height() - 20, 80, 20));
        Left = fraction(QRectF(0, area.center().y() - 30, 20, 60));
        Inside = fraction(QRectF(area.adjusted(4, 4, -4, -4)));
    }
};

QRect Scaled(const QRectF& f, const QImage& image)
{
    return QRectF(f.x() * image.width(), f.y() * image.height(), f.width() * image.width(),
                  f.height() * image.height())
        .toAlignedRect();
}

void ExpectChartDrawn(const TScene& scene, const QImage& image)
{
    ASSERT_FALSE(image.isNull());
    EXPECT_NEAR(double(image.width()) / image.height(), 1.5, 0.05);
    const double scale = image.width() / 600.0;
    EXPECT_GT(CountRed(image), 300 * scale) << "the red line";
    EXPECT_GT(Count(image, Scaled(scene.Title, image), IsDark), 40 * scale * scale) << "the title";
    EXPECT_GT(Count(image, Scaled(scene.Bottom, image), IsDark), 20 * scale * scale) << "the bottom caption";
    EXPECT_GT(Count(image, Scaled(scene.Left, image), IsDark), 20 * scale * scale) << "the left caption";
    // The plot area stays mostly white: a reader that fills everything fails.
    const QRect inside = Scaled(scene.Inside, image);
    const int white = Count(image, inside, [](const QColor& c) { return c.lightness() > 230; });
    EXPECT_GT(white, inside.width() * inside.height() * 8 / 10);
}

TEST(MetafileReaders, TheRegionsHoldTheChartInItsOwnBitmap)
{
    TScene scene;
    QTemporaryDir dir;
    scene.Chart.SaveBmp(dir.filePath("chart.bmp"));
    ExpectChartDrawn(scene, QImage(dir.filePath("chart.bmp")));
}

TEST(MetafileReaders, Emf2svgAndRsvgDrawTheEmf)
{
    TScene scene;
    QTemporaryDir dir;
    const QString emf = dir.filePath("chart.emf"), svg = dir.filePath("chart.svg"), png = dir.filePath("chart.png");
    scene.Chart.SaveEmf(emf);
    ASSERT_TRUE(RunReader(VINSK_EMF2SVG, {"-i", emf, "-o", svg}, svg));
    QFile svgFile(svg);
    ASSERT_TRUE(svgFile.open(QIODevice::ReadOnly));
    const QByteArray text = svgFile.readAll();
    EXPECT_TRUE(text.contains("</svg>")) << "emf2svg-conv stopped early";
    EXPECT_TRUE(text.contains("Periodic error"));
    EXPECT_TRUE(text.contains("Time [s]"));
    ASSERT_TRUE(RunReader(VINSK_RSVG, {"-b", "white", "-o", png, svg}, png));
    ExpectChartDrawn(scene, QImage(png));
}

TEST(MetafileReaders, Wmf2gdDrawsTheWmf)
{
    TScene scene;
    QTemporaryDir dir;
    const QString wmf = dir.filePath("chart.wmf"), png = dir.filePath("chart.png");
    scene.Chart.SaveWmf(wmf);
    ASSERT_TRUE(RunReader(VINSK_WMF2GD, {"-t", "png", "-o", png, wmf}, png));
    ExpectChartDrawn(scene, QImage(png));
}

} // namespace
} // namespace vinsk
