// The Drive tab driven as a user would, on the committed physically rendered
// trail: the panel against the core's report, the peak read-out, the
// harmonic markers, refusals in the panel, superseded runs, reruns on
// showing the tab, and every export read back.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QSpinBox>
#include <QMenuBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTableWidget>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <array>

#include "WindowFixture.h"
#include "app/drive/DriveChart.h"
#include "app/drive/DrivePage.h"
#include "app/widgets/RadioGroup.h"
#include "drive/DriveLight.h"
#include "drive/Runs.h"
#include "image/formats/Picture.h"
#include "setup/SettingsFile.h"
#include "tests/support/RenderedTrail.h"
#include "tools/cli/CliDrive.h"
#include "tools/sample-gen/PhysicalTrail.h"
#include "tools/writers/DeepWriters.h"

namespace vinsk {
namespace {

using namespace vinsk::test;

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

using TPoints = std::array<std::array<int, 2>, 3>;

// The physical sample's check points, as samples/checkpoints.txt gives them.
TPoints SamplePoints()
{
    const QString text = QString::fromUtf8(FileBytes(QStringLiteral(VINSK_SOURCE_DIR "/samples/checkpoints.txt")));
    const QString block = text.mid(text.indexOf(QStringLiteral("## physical")));
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("check points: --start (\\d+),(\\d+) --stop (\\d+),(\\d+) --inline (\\d+),(\\d+)"))
            .match(block);
    EXPECT_TRUE(m.hasMatch());
    TPoints p{};
    for (int i = 0; i < 6; ++i)
        p[std::size_t(i / 2)][std::size_t(i % 2)] = m.captured(i + 1).toInt();
    return p;
}

const TPoints Points = SamplePoints();

// The first number in a label's text.
double NumberIn(const QString& text)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("[-+]?[0-9]+(\\.[0-9]+)?")).match(text);
    EXPECT_TRUE(m.hasMatch()) << text.toStdString();
    return m.captured(0).toDouble();
}

class DriveTest : public WindowTest {
protected:
    TDrivePage* Page() { return Get<TDrivePage>(QStringLiteral("TabSheet4")); }
    TDriveChart* DriveChart() { return Get<TDriveChart>(QStringLiteral("DriveChart")); }

    void LoadSample(bool markers = true)
    {
        OpenPicture(QStringLiteral(VINSK_SOURCE_DIR "/samples/physical.png"));
        Dialogs.Answer(QStringLiteral(VINSK_SOURCE_DIR "/samples/physical.ini"));
        ClickButton("BitBtn1");
        if (markers)
            PlaceMarkers(Points);
        ASSERT_TRUE(Dialogs.Messages.empty());
    }
    void PlaceMarkers(const TPoints& points)
    {
        const char* buttons[3] = {"BitBtn4", "BitBtn5", "BitBtn9"};
        for (int k = 0; k < 3; ++k) {
            ClickButton(buttons[k]);
            Click(Viewport(), QPoint(10 + 10 * k, 10));
            Type(QStringLiteral("RxSpinEdit%1").arg(10 + 2 * k).toLatin1().constData(), QString::number(points[std::size_t(k)][0]));
            Type(QStringLiteral("RxSpinEdit%1").arg(11 + 2 * k).toLatin1().constData(), QString::number(points[std::size_t(k)][1]));
        }
        ASSERT_EQ(View()->LayerCount(), 3);
    }
    // Waits for the worker; true when it is done.
    bool Settle()
    {
        return QTest::qWaitFor([this] { return !Page()->Busy(); }, 20000);
    }
    void ShowDriveTab()
    {
        Pages()->setCurrentWidget(Page());
        ASSERT_TRUE(Settle());
    }
    // What the core gives for the window's picture and the sample's
    // settings file, its values as vinsk-cli reads them, with the tab's inputs.
    TDriveResult Core(const TPoints& points = Points, TDriveSettings settings = {})
    {
        TDriveInput in;
        in.Start = {double(points[0][0]), double(points[0][1])};
        in.Stop = {double(points[1][0]), double(points[1][1])};
        in.InLine = {double(points[2][0]), double(points[2][1])};
        cli::TCliOptions options;
        options.Settings = VINSK_SOURCE_DIR "/samples/physical.ini";
        in.Setup = cli::ExactSetup(options, {}, '.');
        in.Settings = settings;
        TDriveResult r = AnalyseDrive(TRasterSamples(W->State().Image.Bitmap), in);
        if (!r.Refused()) {
            NameTransfer(r, W->State().Image.Transfer); // as the window names the picture's curve
            r.PictureName = "physical.png";             // and the picture, for a saved run
            r.PictureModified = FileModifiedUtc(VINSK_SOURCE_DIR "/samples/physical.png");
        }
        return r;
    }
    void SetSpin(const char* name, double value)
    {
        auto* box = Get<QDoubleSpinBox>(QLatin1String(name));
        box->setValue(value);
    }
    QString Readout() { return Label(QStringLiteral("DriveReadout")); }
};

TEST_F(DriveTest, FourthTabAndMenuTakeNoExistingMnemonic)
{
    EXPECT_EQ(Pages()->count(), 4);
    EXPECT_EQ(Pages()->tabText(3), QStringLiteral("&4. Drive"));
    EXPECT_EQ(Pages()->widget(3)->objectName(), QStringLiteral("TabSheet4"));

    // Letters after '&' of the controls the user reaches with Alt, outside
    // and inside the Drive tab and its menu.
    auto letter = [](const QString& text) {
        for (qsizetype i = 0; i + 1 < text.size(); ++i)
            if (text[i] == QLatin1Char('&')) {
                if (text[i + 1] == QLatin1Char('&'))
                    ++i;
                else
                    return text[i + 1].toUpper();
            }
        return QChar();
    };
    auto inDrive = [this](QWidget* w) { return w == Page() || Page()->isAncestorOf(w); };
    QSet<QChar> existing, drive;
    for (QWidget* w : W->findChildren<QWidget*>()) {
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            text = g->title();
        else if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy())
            text = l->text();
        if (const QChar c = letter(text); !c.isNull())
            (inDrive(w) ? drive : existing).insert(c);
    }
    for (int i = 0; i < Pages()->count(); ++i)
        (i == 3 ? drive : existing).insert(letter(Pages()->tabText(i)));
    for (QAction* a : W->menuBar()->actions())
        if (const QChar c = letter(a->text()); !c.isNull())
            (a->menu()->objectName() == QLatin1String("Drive1") ? drive : existing).insert(c);
    EXPECT_TRUE(existing.contains(QLatin1Char('D'))); // "&Dark image"
    EXPECT_FALSE(drive.isEmpty());
    for (QChar c : drive)
        EXPECT_FALSE(existing.contains(c)) << QString(c).toStdString();
}

TEST_F(DriveTest, PanelShowsTheCoreReportOfThePhysicalSample)
{
    LoadSample();
    QSignalSpy shown(Page(), &TDrivePage::ResultShown);
    // Showing the tab runs the analysis: the check points exist.
    ShowDriveTab();
    ASSERT_EQ(shown.count(), 1);
    const TDriveResult core = Core();
    ASSERT_FALSE(core.Refused()) << core.Message;
    ASSERT_EQ(core.WormSource, TWormSource::Estimated);
    const TDriveResult& shownResult = *Page()->Result();
    EXPECT_EQ(DriveJson(shownResult), DriveJson(core));
    EXPECT_NEAR(NumberIn(Label(QStringLiteral("DrivePeakToPeak"))), core.Stats.PeakToPeak, 0.005);
    EXPECT_TRUE(Label(QStringLiteral("DrivePeakToPeak"))
                    .endsWith(QStringLiteral(" ± ") + QString::number(core.Stats.PeakToPeakSigma, 'f', 2) +
                              QStringLiteral("″")));
    EXPECT_NEAR(NumberIn(Label(QStringLiteral("DriveRms"))), core.Stats.Rms, 0.005);
    EXPECT_NEAR(NumberIn(Label(QStringLiteral("DriveWorm"))), core.WormPeriod, 0.005);
    EXPECT_TRUE(Label(QStringLiteral("DriveWorm")).endsWith(QStringLiteral("(estimated)")));
    EXPECT_NEAR(NumberIn(Label(QStringLiteral("DriveResidual"))), core.PecResidualRms, 0.005);
    // The scale and the values it came from, as the settings file gives them.
    EXPECT_EQ(Label(QStringLiteral("DriveScale")),
              QStringLiteral("Scale: 2.8217″ per step, from pixel 5.7 × 5.7 µm, focal length 400 mm, distance 10 m, "
                             "mount speed 15″/s, exposure 289.806427824921 s"));
    EXPECT_FALSE(Get(QStringLiteral("DriveMessage"))->isVisible() &&
                 Get<QLabel>(QStringLiteral("DriveMessage"))->styleSheet().contains(QStringLiteral("b00000")));

    // The peak table: one row per peak, sortable by period as a number,
    // and the rows copy as text.
    auto* table = Get<QTableWidget>(QStringLiteral("DrivePeaks"));
    ASSERT_EQ(table->rowCount(), static_cast<int>(core.Peaks.size()));
    ASSERT_GE(table->rowCount(), 2);
    table->sortByColumn(0, Qt::AscendingOrder);
    for (int r = 1; r < table->rowCount(); ++r)
        EXPECT_LE(table->item(r - 1, 0)->data(Qt::UserRole).toDouble(), table->item(r, 0)->data(Qt::UserRole).toDouble());
    table->selectRow(0);
    Get<QAction>(QStringLiteral("DriveCopyPeaks"))->trigger();
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Period [s]\t")));
    EXPECT_EQ(lines[1].split(QLatin1Char('\t'))[0], table->item(0, 0)->text());

    // Switching tabs without a change runs nothing.
    Pages()->setCurrentIndex(0);
    ShowDriveTab();
    EXPECT_EQ(shown.count(), 1);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

// An 8-bit dark drops a 16-bit picture's samples: the panel says so beside
// the result, as the status bar does.
TEST_F(DriveTest, DroppedLinearSamplesAreNamedBesideTheResult)
{
    TBitmap32 sample;
    LoadPicture(VINSK_SOURCE_DIR "/samples/physical.png", sample);
    tools::TRgb16Image deep(sample.Width(), sample.Height());
    for (std::int32_t y = 0; y < sample.Height(); ++y)
        for (std::int32_t x = 0; x < sample.Width(); ++x)
            for (std::int32_t c = 0; c < 3; ++c)
                tools::At(deep, x, y, c) = static_cast<std::uint16_t>(((sample.PixelS(x, y) >> (16 - 8 * c)) & 0xFF) * 257);
    const QString path = Dir.filePath(QStringLiteral("physical16.png"));
    tools::WritePng16(path.toStdString(), deep);
    OpenPicture(path);
    Dialogs.Answer(QStringLiteral(VINSK_SOURCE_DIR "/samples/physical.ini"));
    ClickButton("BitBtn1");
    PlaceMarkers(Points);
    Dialogs.Answer(Save(QStringLiteral("dark8.png"), Picture(sample.Width(), sample.Height(), 0xFF000000u)));
    ClickButton("BitBtn10");
    ShowDriveTab();
    ASSERT_TRUE(Page()->Result());
    EXPECT_TRUE(Label(QStringLiteral("DriveMessage"))
                    .startsWith(QStringLiteral("Linear samples dropped: the dark frame has 8 bits per sample, the "
                                               "picture 16 bits\n")))
        << Label(QStringLiteral("DriveMessage")).toStdString();
}

TEST_F(DriveTest, InputsRerunAndANewerRequestSupersedesTheRunningOne)
{
    LoadSample();
    ShowDriveTab();
    QSignalSpy shown(Page(), &TDrivePage::ResultShown);
    // Two changes in a row: the first run's result is dropped.
    SetSpin("DriveTolerance", 2);
    EXPECT_TRUE(Page()->Busy());
    SetSpin("DriveTolerance", 3);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(shown.count(), 1);
    EXPECT_EQ(Page()->Result()->Stats.Tolerance, 3);
    TDriveSettings s;
    s.Tolerance = 3;
    EXPECT_EQ(DriveJson(*Page()->Result()), DriveJson(Core(Points, s)));

    // The worm period from the teeth helper: 1,296,000" / (15"/s x 180) = 480 s.
    Get<QSpinBox>(QStringLiteral("DriveTeeth"))->setValue(180);
    QTest::mouseClick(Get<QPushButton>(QStringLiteral("DriveFromTeeth")), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(Get<QDoubleSpinBox>(QStringLiteral("DriveWormPeriod"))->value(), 480);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Page()->Result()->WormSource, TWormSource::Given);
    EXPECT_EQ(Page()->Result()->WormPeriod, 480);

    // A change on another tab while this one is hidden runs when it shows.
    shown.clear();
    Pages()->setCurrentIndex(0);
    Type("RxSpinEdit8", QStringLiteral("250"));
    QApplication::processEvents();
    EXPECT_EQ(shown.count(), 0);
    ShowDriveTab();
    EXPECT_EQ(shown.count(), 1);
    EXPECT_NEAR(Page()->Result()->Exposure, 250, 1e-9);

    // The channel follows the Graph tab until the user picks one here.
    Pages()->setCurrentIndex(2);
    QTest::mouseClick(Get<TRadioGroup>(QStringLiteral("RadioGroup1"))->Item(1), Qt::LeftButton);
    EXPECT_EQ(Get<TRadioGroup>(QStringLiteral("DriveChannel"))->ItemIndex(), 1);
    ShowDriveTab();
    QTest::mouseClick(Get<TRadioGroup>(QStringLiteral("DriveChannel"))->Item(0), Qt::LeftButton);
    EXPECT_FALSE(Get<QCheckBox>(QStringLiteral("DriveFollowGraph"))->isChecked());
    Pages()->setCurrentIndex(2);
    QTest::mouseClick(Get<TRadioGroup>(QStringLiteral("RadioGroup1"))->Item(3), Qt::LeftButton);
    EXPECT_EQ(Get<TRadioGroup>(QStringLiteral("DriveChannel"))->ItemIndex(), 0);
    ASSERT_TRUE(Settle());
}

TEST_F(DriveTest, PeakSnapAndHarmonicMarkersOnTheSpectrum)
{
    LoadSample();
    ShowDriveTab();
    QTest::mouseClick(Get<TRadioGroup>(QStringLiteral("DriveFigure"))->Item(DriveFigureSpectrum), Qt::LeftButton);
    TDriveChart* chart = DriveChart();
    ASSERT_EQ(chart->Figure(), DriveFigureSpectrum);
    const TDriveResult& r = *Page()->Result();
    ASSERT_GT(r.WormPeriod, 0);

    // A marker at every P/i inside the axis, labelled, the labels apart.
    const auto& markers = chart->Markers();
    ASSERT_GE(markers.size(), 5u);
    for (std::size_t i = 0; i < markers.size(); ++i) {
        EXPECT_DOUBLE_EQ(markers[i].Period, r.WormPeriod / double(i + 1));
        EXPECT_EQ(markers[i].Label, i == 0 ? QStringLiteral("P") : QStringLiteral("P/%1").arg(i + 1));
    }
    const std::vector<QRectF> labels = chart->MarkerLabelRects();
    ASSERT_EQ(labels.size(), markers.size());
    for (std::size_t i = 0; i < labels.size(); ++i)
        for (std::size_t j = i + 1; j < labels.size(); ++j)
            EXPECT_FALSE(labels[i].intersects(labels[j])) << markers[i].Label.toStdString() << " "
                                                         << markers[j].Label.toStdString();

    // Hovering near a peak snaps to it, a click on one too. Peaks with a
    // neighbour within the offset are left out: either may win there.
    QWidget* plot = chart->PlotWidget();
    auto apart = [&](double px) {
        std::vector<int> k;
        for (std::size_t i = 0; i < r.Peaks.size(); ++i) {
            bool alone = true;
            for (std::size_t j = 0; j < r.Peaks.size(); ++j)
                alone = alone && (j == i || std::abs(chart->PeakPosition(int(j)).x() - chart->PeakPosition(int(i)).x()) > px);
            if (alone)
                k.push_back(int(i));
        }
        return k;
    };
    auto expected = [&](int k) {
        const TDrivePeak& p = r.Peaks[std::size_t(k)];
        return QStringLiteral("Period %1 s, amplitude %2″, P-P %3″")
            .arg(p.Period, 0, 'f', 1)
            .arg(p.Amplitude, 0, 'f', 2)
            .arg(p.PeakToPeak, 0, 'f', 2);
    };
    const std::vector<int> far = apart(12);
    ASSERT_FALSE(far.empty());
    QTest::mouseMove(plot, (chart->PeakPosition(far[0]) + QPointF(5, 30)).toPoint());
    EXPECT_EQ(Readout(), expected(far[0]));
    // Zoomed in on the worm's first two harmonics, every peak there stands apart.
    auto* custom = static_cast<QCustomPlot*>(plot);
    custom->xAxis->setRange(r.WormPeriod / 2.5, r.WormPeriod * 1.3);
    const std::vector<int> near = apart(3);
    ASSERT_GE(near.size(), 2u);
    for (int k : near) {
        QTest::mouseClick(plot, Qt::LeftButton, {}, (chart->PeakPosition(k) + QPointF(0, 20)).toPoint());
        EXPECT_EQ(Readout(), expected(k));
    }
    // Another figure drops the read-out.
    QTest::mouseClick(Get<TRadioGroup>(QStringLiteral("DriveFigure"))->Item(DriveFigureCycles), Qt::LeftButton);
    EXPECT_TRUE(Readout().isEmpty());
}

TEST_F(DriveTest, RefusalsShowInThePanelAndABoxOnlyOnAClick)
{
    auto* message = Get<QLabel>(QStringLiteral("DriveMessage"));
    ShowDriveTab();
    EXPECT_TRUE(message->isVisible());
    EXPECT_TRUE(message->text().contains(QStringLiteral("check points")));
    EXPECT_TRUE(Dialogs.Messages.empty());
    QTest::mouseClick(Get<QPushButton>(QStringLiteral("DriveAnalyse")), Qt::LeftButton);
    ExpectRefusal(message->text());

    // A trail the core refuses, the check points moved onto the dark sky:
    // the line says why, and the last analysis goes.
    Dialogs.Messages.clear();
    LoadSample();
    ShowDriveTab();
    const std::shared_ptr<const TDriveResult> good = Page()->Result();
    ASSERT_TRUE(good);
    EXPECT_FALSE(message->isVisible() && message->text().contains(QStringLiteral("check points")));
    const TPoints dark{{{40, 85}, {1580, 85}, {810, 80}}};
    PlaceMarkers(dark);
    const TDriveResult core = Core(dark);
    ASSERT_TRUE(core.Refused());
    ShowDriveTab();
    EXPECT_EQ(message->text().toStdString(), core.Message);
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_FALSE(Page()->Result());
    QTest::mouseClick(Get<TRadioGroup>(QStringLiteral("DriveFigure"))->Item(DriveFigurePec), Qt::LeftButton);
    EXPECT_EQ(static_cast<QCustomPlot*>(DriveChart()->PlotWidget())->graphCount(), 0);
    QTest::mouseClick(Get<QPushButton>(QStringLiteral("DriveAnalyse")), Qt::LeftButton);
    ASSERT_TRUE(Settle());
    ExpectRefusal(QString::fromStdString(core.Message));
}

// The core's result for a rendered trail of `cycles` worm cycles of 60 s.
TDriveResult RenderedResult(double cycles)
{
    tools::TPhysicalOptions o;
    o.Terms = {{8, 60, 0.3}};
    o.Sag = 0;
    o.ExposureS = 60 * cycles;
    const tools::TPhysicalTrail trail = tools::RenderPhysicalTrail(o);
    TDriveInput in;
    in.Setup = SetupOf(o, trail.Truth);
    in.Settings.WormPeriod = 60;
    in.Start = {std::round(trail.Truth.StartX), std::round(trail.Truth.StartY)};
    in.Stop = {std::round(trail.Truth.EndX), std::round(trail.Truth.EndY)};
    in.InLine = {std::round((trail.Truth.StartX + trail.Truth.EndX) / 2),
                 std::round((trail.Truth.StartY + trail.Truth.EndY) / 2)};
    return AnalyseDrive(TRasterSamples(Raster(trail)), in);
}

TEST(DriveChartTest, ThePecFigureDrawsTheSeriesOfTheResult)
{
    // Under two cycles the drift-free error comes from a plain line, not
    // the joint fit's: the figure once drew their difference as a ramp.
    for (const double cycles : {1.8, 2.5}) {
        auto r = std::make_shared<const TDriveResult>(RenderedResult(cycles));
        ASSERT_FALSE(r->Refused()) << r->Message;
        TDriveChart chart;
        chart.resize(800, 500);
        chart.Show(r, DriveFigurePec, false, '.');
        auto* plot = static_cast<QCustomPlot*>(chart.PlotWidget());
        ASSERT_EQ(plot->graphCount(), 3);
        const std::vector<double>* drawn[3] = {&r->PecError, &r->PecFit, &r->PecResidual};
        for (int g = 0; g < 3; ++g) {
            const QSharedPointer<QCPGraphDataContainer> data = plot->graph(g)->data();
            ASSERT_EQ(std::size_t(data->size()), drawn[g]->size()) << cycles;
            long double ss = 0;
            for (int i = 0; i < data->size(); ++i) {
                EXPECT_EQ(data->at(i)->value, (*drawn[g])[std::size_t(i)]) << cycles << " " << g;
                ss += data->at(i)->value * data->at(i)->value;
            }
            if (g == 2) { // the panel's "Residual after PEC"
                EXPECT_NEAR(double(sqrtl(ss / data->size())), r->PecResidualRms, 1e-12) << cycles;
            }
        }
        EXPECT_LT(r->PecResidualRms, 0.5) << cycles;
    }
}

TEST_F(DriveTest, EveryExportIsWrittenAndReadsBack)
{
    LoadSample();
    ShowDriveTab();
    const TDriveResult core = Core();
    // The pictures' size is the panel's, not the window's.
    const QSize pictureSize(1600, 1000);
    ASSERT_NE(DriveChart()->PlotWidget()->size(), pictureSize);
    auto save = [&](const QString& name, int filter) {
        const QString path = Dir.filePath(name);
        Dialogs.Answer(path, filter);
        QTest::mouseClick(Get<QPushButton>(QStringLiteral("DriveExport")), Qt::LeftButton);
        return path;
    };
    // What vinsk-cli --drive writes for the same picture, settings and points.
    cli::TCliOptions options;
    options.Image = VINSK_SOURCE_DIR "/samples/physical.png";
    options.Settings = VINSK_SOURCE_DIR "/samples/physical.ini";
    for (std::size_t i = 0; i < 6; ++i)
        options.CheckPoints[i] = Points[i / 2][i % 2];
    options.Csv = Dir.filePath(QStringLiteral("cli.csv")).toStdString();
    cli::TDriveOptions drive;
    drive.Drive = true;
    drive.Json = Dir.filePath(QStringLiteral("cli.json")).toStdString();
    std::FILE* sink = std::tmpfile();
    ASSERT_EQ(cli::RunDrive(options, drive, '.', sink, sink), 0);
    std::fclose(sink);
    const QByteArray cliCsv = FileBytes(QString::fromStdString(*options.Csv));
    const QByteArray cliJson = FileBytes(QString::fromStdString(*drive.Json));
    ASSERT_FALSE(cliJson.isEmpty());

    const QImage png(save(QStringLiteral("d.png"), DriveExportPng));
    EXPECT_EQ(png.size(), pictureSize);
    QSvgRenderer svg(FileBytes(save(QStringLiteral("d.svg"), DriveExportSvg)));
    EXPECT_TRUE(svg.isValid());
    EXPECT_EQ(svg.defaultSize(), pictureSize);
    const QByteArray pdf = FileBytes(save(QStringLiteral("d.pdf"), DriveExportPdf));
    EXPECT_TRUE(pdf.startsWith("%PDF"));
    EXPECT_TRUE(pdf.contains("/MediaBox [0 0 842.000000 595.000000]")) << "an A4 landscape page";
    EXPECT_EQ(FileBytes(save(QStringLiteral("d.csv"), DriveExportCsv)), cliCsv);
    EXPECT_EQ(FileBytes(save(QStringLiteral("d.json"), DriveExportJson)), cliJson);
    EXPECT_EQ(cliJson.toStdString(), DriveJson(core));
    EXPECT_EQ(FileBytes(save(QStringLiteral("d.txt"), DriveExportPec)).toStdString(), PecTableText(core));
    EXPECT_TRUE(Dialogs.Messages.empty());

    // From the menu on another tab: the dialog offers the menu's format.
    Pages()->setCurrentIndex(0);
    const QString json = Dir.filePath(QStringLiteral("m.json"));
    Dialogs.Answer(json, DriveExportJson);
    Action("SaveDriveReport1")->trigger();
    EXPECT_EQ(Dialogs.Shown.back().FilterIndex, DriveExportJson);
    EXPECT_EQ(FileBytes(json).toStdString(), DriveJson(core));
    const QString chart = Dir.filePath(QStringLiteral("m.png"));
    Dialogs.Answer(chart, DriveExportPng);
    Get<QSpinBox>(QStringLiteral("DriveExportWidth"))->setValue(900);
    Get<QSpinBox>(QStringLiteral("DriveExportHeight"))->setValue(1200);
    Action("SaveDriveChart1")->trigger();
    EXPECT_EQ(QImage(chart).size(), QSize(900, 1200));

    // A failed write leaves nothing behind and reaches the error report;
    // an existing file stays as it was.
    for (int filter = DriveExportPng; filter <= DriveExportPec; ++filter) {
        const QString path = Dir.filePath(QStringLiteral("no/such/folder/f%1").arg(filter));
        Dialogs.Answer(path, filter);
        Action("SaveDriveSeries1")->trigger();
        ExpectErrorReport(QStringLiteral("Cannot create file ") + path + QLatin1Char('.'));
        EXPECT_FALSE(QFile::exists(path));
    }
}

TEST_F(DriveTest, TheWrittenTypeIsTheDialogsOrTheTypedExtensions)
{
    LoadSample();
    ShowDriveTab();
    // What each type's file starts with.
    const char* const starts[] = {"\x89PNG", "<?xml", "%PDF", "t [s],", "{\n", "# Worm period"};
    const QStringList extensions = {"png", "svg", "pdf", "csv", "json", "txt"};
    auto written = [&](int type) {
        SCOPED_TRACE(type);
        const QString typed = Dialogs.Shown.empty() ? QString() : Dialogs.Shown.back().FileName;
        EXPECT_FALSE(typed.contains(QLatin1Char('.'))) << "offered with the old extension: " << typed.toStdString();
        return starts[type - 1];
    };
    for (int type = DriveExportPng; type <= DriveExportPec; ++type) {
        const QString ext = extensions[type - 1];
        const QString other = extensions[type % 6]; // another type's extension
        struct TRow {
            QString Typed, Written;
            int Type;
        };
        const TRow rows[] = {
            {QStringLiteral("bare%1").arg(type), QStringLiteral("bare%1.%2").arg(type).arg(ext), type},
            {QStringLiteral("own%1.%2").arg(type).arg(ext.toUpper()), QStringLiteral("own%1.%2").arg(type).arg(ext.toUpper()), type},
            {QStringLiteral("other%1.%2").arg(type).arg(other), QStringLiteral("other%1.%2").arg(type).arg(other), type % 6 + 1},
            {QStringLiteral("foreign%1.dat").arg(type), QStringLiteral("foreign%1.dat").arg(type), type},
        };
        for (const TRow& row : rows) {
            Dialogs.AnswerTyped(Dir.filePath(row.Typed), type);
            QTest::mouseClick(Get<QPushButton>(QStringLiteral("DriveExport")), Qt::LeftButton);
            const QByteArray bytes = FileBytes(Dir.filePath(row.Written));
            EXPECT_TRUE(bytes.startsWith(written(row.Type))) << row.Typed.toStdString() << " -> "
                                                            << row.Written.toStdString();
        }
    }
    EXPECT_EQ(Dialogs.Shown.back().FileName, QStringLiteral("other6"));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

// The user's direction and the exposure's phase: swapping exchanges START
// and STOP and makes their side the one Find trail keeps; the worm phase
// reaches the panel and the PEC files, and goes with its picture.
TEST_F(DriveTest, SwapKeepsTheSideAndThePhaseBelongsToOneExposure)
{
    LoadSample();
    ShowDriveTab();
    EXPECT_EQ(Label(QStringLiteral("DriveDirection")), QStringLiteral("START at the left end: time runs left to right"));
    EXPECT_EQ(Label(QStringLiteral("DrivePhase")), QStringLiteral("Phase: from START (no worm phase given)"));
    Dialogs.AnswerTyped(Dir.filePath(QStringLiteral("pec")), DriveExportCelestron);
    QTest::mouseClick(Get<QPushButton>(QStringLiteral("DriveExport")), Qt::LeftButton);
    ExpectRefusal(QStringLiteral("A Celestron PEC file needs the worm phase at START (0 at the mount's PEC index)"));
    EXPECT_FALSE(QFile::exists(Dir.filePath(QStringLiteral("pec.pec"))));

    SetSpin("DriveWormPhase", 100);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Label(QStringLiteral("DrivePhase")),
              QStringLiteral("Phase: the worm at 100.0 deg at START (0 at the PEC index)"));
    Dialogs.AnswerTyped(Dir.filePath(QStringLiteral("pec")), DriveExportCelestron);
    QTest::mouseClick(Get<QPushButton>(QStringLiteral("DriveExport")), Qt::LeftButton);
    EXPECT_TRUE(FileBytes(Dir.filePath(QStringLiteral("pec.pec"))).startsWith("88\n0\n"));

    Action("SwapPoints2")->trigger();
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit10")), QString::number(Points[1][0]));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit12")), QString::number(Points[0][0]));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit14")), QString::number(Points[2][0]));
    EXPECT_EQ(Page()->Settings().StartSide, TStartSide::Right);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Label(QStringLiteral("DriveDirection")), QStringLiteral("START at the right end: time runs right to left"));
    Action("FindTrail1")->trigger();
    EXPECT_GT(EditText(QStringLiteral("RxSpinEdit10")).toInt(), EditText(QStringLiteral("RxSpinEdit12")).toInt());

    OpenPicture(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail.png"));
    EXPECT_TRUE(std::isnan(Page()->Phase().WormPhaseDeg));
    EXPECT_EQ(Page()->Settings().StartSide, TStartSide::Right); // the mount's, not the picture's
}

TEST_F(DriveTest, AnotherPictureTakesTheResultAndTheExportsAway)
{
    LoadSample();
    ShowDriveTab();
    ASSERT_TRUE(Page()->Result());
    auto* plot = static_cast<QCustomPlot*>(DriveChart()->PlotWidget());
    ASSERT_GT(plot->graphCount(), 0);
    EXPECT_TRUE(Get<QPushButton>(QStringLiteral("DriveExport"))->isEnabled());
    EXPECT_TRUE(Action("SaveDriveReport1")->isEnabled());

    OpenPicture(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail.png"));
    ShowDriveTab();
    EXPECT_FALSE(Page()->Result());
    EXPECT_EQ(plot->graphCount(), 0);
    EXPECT_FALSE(Get<QPushButton>(QStringLiteral("DriveExport"))->isEnabled());
    for (const char* save : {"SaveDriveChart1", "SaveDriveSeries1", "SaveDriveReport1", "SaveDrivePec1"})
        EXPECT_FALSE(Action(save)->isEnabled()) << save;
    EXPECT_TRUE(Label(QStringLiteral("DriveRms")).isEmpty());
    EXPECT_EQ(Get<QTableWidget>(QStringLiteral("DrivePeaks"))->rowCount(), 0);
    EXPECT_TRUE(Label(QStringLiteral("DriveMessage")).startsWith(QStringLiteral("Place the three check points")));
    // The boxes keep the sample's points (1580,45 among them), outside the
    // smaller picture: no run on them.
    PlaceMarkers(Points);
    ShowDriveTab();
    EXPECT_FALSE(Page()->Result());
    EXPECT_EQ(Label(QStringLiteral("DriveMessage")),
              QStringLiteral("The check points lie outside the picture (560×320): place them again"));
    // Nor can a command write the old result.
    Page()->ExportClick(DriveExportJson);
    ExpectRefusal(QStringLiteral("There is no drive analysis to save: analyse the drive first."));
}

TEST_F(DriveTest, TheWheelChangesAFieldOnlyWithTheFocus)
{
    Pages()->setCurrentWidget(Page());
    auto* period = Get<QDoubleSpinBox>(QStringLiteral("DriveWormPeriod"));
    auto* detrend = Get<QComboBox>(QStringLiteral("DriveDetrend"));
    // A turn over the middle of the widget; whether the widget kept it. One
    // it leaves unaccepted Qt hands on to the parents, the scrolling panel
    // among them (a turn the mouse gives: Qt does not pass on one a test
    // sends).
    auto wheel = [](QWidget* w, int delta) {
        const QPointF at(w->width() / 2.0, w->height() / 2.0);
        QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &e);
        return e.isAccepted();
    };
    Get(QStringLiteral("DriveAnalyse"))->setFocus();
    EXPECT_FALSE(wheel(period, 120));
    EXPECT_FALSE(wheel(detrend, -120));
    EXPECT_EQ(period->value(), 0);
    EXPECT_EQ(detrend->currentIndex(), 3);
    period->setFocus();
    EXPECT_TRUE(wheel(period, 120));
    EXPECT_GT(period->value(), 0);
    ASSERT_TRUE(Settle());
}

TEST_F(DriveTest, SettingsRoundTripWithAndWithoutTheDriveSection)
{
    // Initial drive settings: the file is the one saved without the section.
    const QString plain = Dir.filePath(QStringLiteral("plain.ini"));
    Dialogs.Answer(plain);
    ClickButton("BitBtn2");
    const std::string reference = Dir.filePath(QStringLiteral("reference.ini")).toStdString();
    SaveSettingsFile(reference, W->State().Experiment, '.');
    EXPECT_EQ(FileBytes(plain), FileBytes(QString::fromStdString(reference)));
    EXPECT_FALSE(FileBytes(plain).contains("[Drive]"));

    // Changed drive inputs are saved, and load back at full precision.
    Pages()->setCurrentWidget(Page());
    SetSpin("DriveWormPeriod", 480);
    SetSpin("DriveTolerance", 1.5);
    Get<QSpinBox>(QStringLiteral("DriveHarmonics"))->setValue(7);
    SetSpin("DriveHalfWidth", 4);
    Get<QComboBox>(QStringLiteral("DriveDetrend"))->setCurrentIndex(1);
    ASSERT_TRUE(Settle());
    const QString drive = Dir.filePath(QStringLiteral("drive.ini"));
    Dialogs.Answer(drive);
    Action("Openimage1")->trigger();
    const QByteArray saved = FileBytes(drive);
    EXPECT_TRUE(saved.contains("[Drive]\r\nWormPeriod=480\r\nTolerance=1.5\r\nDetrend=line\r\nHarmonics=7\r\nHalfWidth=4\r\n"))
        << saved.toStdString();

    TDriveSettings initial;
    Page()->SetSettings(initial);
    ASSERT_TRUE(Settle());
    Dialogs.Answer(drive);
    Action("Open1")->trigger();
    TDriveSettings expected;
    expected.WormPeriod = 480;
    expected.Tolerance = 1.5;
    expected.Detrend = TDetrend::Line;
    expected.Harmonics = 7;
    expected.HalfWidth = 4;
    EXPECT_EQ(Page()->Settings(), expected);
    EXPECT_EQ(Get<QComboBox>(QStringLiteral("DriveDetrend"))->currentIndex(), 1);
    EXPECT_EQ(Get<QSpinBox>(QStringLiteral("DriveHarmonics"))->value(), 7);

    // A file without the section loads the Parts' values and leaves the
    // drive settings as they are.
    Dialogs.Answer(QStringLiteral(VINSK_SOURCE_DIR "/samples/physical.ini"));
    Action("Open1")->trigger();
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit8")), QStringLiteral("289.8"));
    EXPECT_EQ(Page()->Settings(), expected);

    // More decimals than a field shows survive a load and the next save.
    QFile file(Dir.filePath(QStringLiteral("fine.ini")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Drive]\r\nWormPeriod=479.1234\r\nTolerance=0.005\r\n");
    file.close();
    Dialogs.Answer(file.fileName());
    Action("Open1")->trigger();
    EXPECT_EQ(Page()->Settings().WormPeriod, 479.1234);
    EXPECT_EQ(Page()->Settings().Tolerance, 0.005);
    Dialogs.Answer(file.fileName());
    Action("Openimage1")->trigger();
    EXPECT_TRUE(FileBytes(file.fileName()).contains("WormPeriod=479.1234\r\nTolerance=0.005\r\n"));
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(Dialogs.Messages.empty());
}

} // namespace
} // namespace vinsk

namespace vinsk {
namespace {

// A saved run beside the analysis on show: the Runs figure draws both and
// their average, the table lists both, a file that is no run changes
// nothing, and the average saves as the core makes it.
TEST_F(DriveTest, SavedRunsJoinTheAnalysisOnTheRunsFigure)
{
    LoadSample();
    ShowDriveTab();
    ASSERT_TRUE(Page()->Result());
    const QString saved = Dir.filePath(QStringLiteral("before.json"));
    Dialogs.Answer(saved, DriveExportJson);
    Action("SaveDriveReport1")->trigger();
    const QString notRun = Dir.filePath(QStringLiteral("notes.json"));
    QFile f(notRun);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{\"notes\": []}");
    f.close();

    Dialogs.Answer(saved);
    Action("AddDriveRun1")->trigger();
    Dialogs.Answer(notRun);
    Action("AddDriveRun1")->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages.back().Text, notRun + QStringLiteral(" is not a drive report"));
    EXPECT_EQ(Get<TRadioGroup>(QStringLiteral("DriveFigure"))->ItemIndex(), DriveFigureRuns);
    EXPECT_TRUE(Get<QWidget>(QStringLiteral("DriveRuns"))->isVisible());
    EXPECT_EQ(Get<QTableWidget>(QStringLiteral("DriveRunsTable"))->rowCount(), 2);
    const auto* plot = static_cast<QCustomPlot*>(DriveChart()->PlotWidget());
    ASSERT_EQ(plot->graphCount(), 3);
    EXPECT_EQ(plot->graph(2)->name(), QStringLiteral("Average"));
    EXPECT_EQ(plot->graph(2)->pen().width(), 3);

    const TRunRead run = ReadRunReportFile(saved.toStdString());
    ASSERT_TRUE(run.Run);
    const std::vector<TRunReport> runs = {*run.Run, *run.Run};
    const TRunsAverage core = AverageRuns(runs, CompareRuns(runs, false));
    const QString pec = Dir.filePath(QStringLiteral("average.txt"));
    Dialogs.Answer(pec, 1);
    Action("SaveDriveAverage1")->trigger();
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(FileBytes(pec).toStdString(), PecTableText(core.Curve));
}

} // namespace
} // namespace vinsk
