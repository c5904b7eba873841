// The Graph tab driven as a user would: every plot request, the statistics,
// the logarithmic axis, clicks on the chart, the export and the About box.
// The trail is the committed sample with its known periodic error.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPointer>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "WindowFixture.h"
#include "app/chart/Chart1.h"
#include "app/u_about.h"
#include "app/widgets/RadioGroup.h"
#include "figures/CsvExport.h"

namespace vinsk {
namespace {

using namespace vinsk::test;

using TPoints = std::vector<std::array<int, 2>>;

// samples/checkpoints.txt: the trail's START, STOP and IN-LINE.
const TPoints TrailPoints{{40, 180}, {520, 150}, {279, 153}};
constexpr int TrailSamples = 481;

const QString Missing = QStringLiteral("Must be defined all 3 check points!");

// The plotting run as the core does it, with the choices a test expects the
// window to pass on.
class TScriptedHost : public TPlotHost {
public:
    TScriptedHost(TCheckPointEdits edits, TGraphChoices choices) : FEdits(edits), FChoices(choices) {}
    int LayerCount() const override { return 3; }
    TCheckPointEdits ReadCheckPointEdits() const override { return FEdits; }
    TGraphChoices ReadChoices() const override { return FChoices; }
    void ShowError(const std::string&) override { ADD_FAILURE() << "refused"; }
    void ActivateGraphTab() override {}
    void ClearLogBox() override { FChoices.LogScale = false; }

private:
    TCheckPointEdits FEdits;
    TGraphChoices FChoices;
};

class GraphTest : public WindowTest {
protected:
    // Markers placed by clicks, then moved to the exact points by typing.
    void PlaceMarkers(const TPoints& points)
    {
        const char* buttons[3] = {"BitBtn4", "BitBtn5", "BitBtn9"};
        for (std::size_t k = 0; k < points.size(); ++k) {
            ClickButton(buttons[k]);
            Click(Viewport(), QPoint(10 + 10 * static_cast<int>(k), 10));
            SetPoint(static_cast<int>(k), points[k][0], points[k][1]);
        }
        ASSERT_EQ(View()->LayerCount(), static_cast<int>(points.size()));
    }
    void SetPoint(int kind, int x, int y)
    {
        Type(QStringLiteral("RxSpinEdit%1").arg(10 + 2 * kind).toLatin1().constData(), QString::number(x));
        Type(QStringLiteral("RxSpinEdit%1").arg(11 + 2 * kind).toLatin1().constData(), QString::number(y));
    }
    void LoadTrail(std::size_t markers = 3)
    {
        OpenPicture(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail.png"));
        Dialogs.Answer(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail-dark.png"));
        ClickButton("BitBtn10");
        Dialogs.Answer(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail-flat.png"));
        ClickButton("BitBtn12");
        Dialogs.Answer(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail.ini"));
        ClickButton("BitBtn1");
        PlaceMarkers(TPoints(TrailPoints.begin(), TrailPoints.begin() + static_cast<std::ptrdiff_t>(markers)));
        ASSERT_TRUE(Dialogs.Messages.empty());
    }

    TChart1* Chart() { return Get<TChart1>(QStringLiteral("Chart1")); }
    QCheckBox* Box(const char* name) { return Get<QCheckBox>(QLatin1String(name)); }
    // Check boxes and radio items take the click on their indicator.
    void Tick(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->height() / 2, b->height() / 2)); }
    void Tick(const char* name) { Tick(Get<QAbstractButton>(QLatin1String(name))); }
    void Choose(const char* group, int index) { Tick(Get<TRadioGroup>(QLatin1String(group))->Item(index)); }
    std::array<QString, 3> Statistics()
    {
        return {Label(QStringLiteral("Label40")), Label(QStringLiteral("Label42")), Label(QStringLiteral("Label43"))};
    }
    std::vector<TChartPoint> Shown()
    {
        std::vector<TChartPoint> points;
        for (int i = 0; i < Chart()->Count(); ++i)
            points.push_back(Chart()->Point(i));
        return points;
    }
    TCheckPointEdits Edits(const TPoints& points = TrailPoints)
    {
        TCheckPointEdits e{};
        for (std::size_t k = 0; k < 3; ++k)
            for (std::size_t c = 0; c < 2; ++c)
                e[2 * k + c] = points[k][c];
        return e;
    }
    // The window's last run must have left what the core gives from the
    // state before it.
    void ExpectCoreResult(const TVinskState& before, const TGraphChoices& choices)
    {
        TVinskState core = before;
        TScriptedHost host(Edits(), choices);
        RunPlot(core, host);
        EXPECT_EQ(Chart()->Title().toStdString(), core.Chart.Title);
        EXPECT_EQ(Chart()->LeftCaption().toStdString(), core.Chart.LeftCaption);
        EXPECT_EQ(Chart()->BottomCaption().toStdString(), core.Chart.BottomCaption);
        EXPECT_EQ(Chart()->BottomLogarithmic(), core.Chart.BottomLogarithmic);
        EXPECT_EQ(Shown(), core.Chart.Points);
        EXPECT_EQ(Statistics(), (std::array<QString, 3>{QString::fromStdString(core.Statistics.Label40),
                                                          QString::fromStdString(core.Statistics.Label42),
                                                          QString::fromStdString(core.Statistics.Label43)}));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Panel(i).toStdString(), core.Status.Panels[static_cast<std::size_t>(i)]) << "panel " << i;
    }
    QByteArray FileBytes(const QString& path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return f.readAll();
    }
};

// --- Plotting ---------------------------------------------------------------

struct TFigureRow {
    const char* Title;
    const char* Left;
    const char* Bottom;
    int Points;
};

const TFigureRow Figures[4] = {
    {"Line profile", "Brightness [-]", "Coordinates [pix]", TrailSamples},
    {"Periodic error", "PE [\"]", "Time [s]", TrailSamples},
    {"Periodic error estimation", "Error rate [-]", "PE [\"]", 501},
    {"Periodic error spectrum", "Power density [-]", "Frequence [Hz]", TrailSamples},
};

TEST_F(GraphTest, EveryFigureOfEveryChannel)
{
    LoadTrail();
    ClickButton("BitBtn8");
    for (int channel = 0; channel < 4; ++channel)
        for (int figure = 0; figure < 4; ++figure) {
            SCOPED_TRACE(testing::Message() << "figure " << figure << ", channel " << channel);
            Choose("RadioGroup1", channel);
            const TVinskState before = W->State();
            Choose("RadioGroup2", figure);
            const TFigureRow& row = Figures[figure];
            EXPECT_EQ(Chart()->Title(), QLatin1String(row.Title));
            EXPECT_EQ(Chart()->LeftCaption(), QLatin1String(row.Left));
            EXPECT_EQ(Chart()->BottomCaption(), QLatin1String(row.Bottom));
            EXPECT_EQ(Chart()->Count(), row.Points);
            TGraphChoices choices;
            choices.Figure = figure;
            choices.Channel = channel;
            ExpectCoreResult(before, choices);
        }
    EXPECT_TRUE(Dialogs.Messages.empty());
}

// The generator's error for this trail: min -11.53, max 6.57, sigma 6.035.
// The sensor noise widens the extremes a little; without the dark and flat
// correction or the settings they would be off by several arc seconds.
TEST_F(GraphTest, StatisticsOfTheSampleTrail)
{
    LoadTrail();
    ClickButton("BitBtn8");
    const QString minMax = Label(QStringLiteral("Label40"));
    ASSERT_TRUE(minMax.startsWith(QStringLiteral("Min/Max PE [\"]: "))) << minMax.toStdString();
    const QStringList mm = minMax.mid(16).split(QLatin1Char('/'));
    ASSERT_EQ(mm.size(), 2);
    EXPECT_NEAR(mm[0].toDouble(), -11.53, 1);
    EXPECT_NEAR(mm[1].toDouble(), 6.57, 1);
    const QString sigma = Label(QStringLiteral("Label42"));
    ASSERT_TRUE(sigma.startsWith(QStringLiteral("68% interval[\"]:  +/- "))) << sigma.toStdString();
    EXPECT_NEAR(sigma.mid(22).toDouble(), 6.035, 0.2);
    EXPECT_TRUE(Label(QStringLiteral("Label43")).startsWith(QStringLiteral("99% interval[\"]:  +/- ")));
    // The panel's tooltip holds the text too.
    EXPECT_TRUE(Panel(1).startsWith(QStringLiteral("Measurement error: +/-"))) << Panel(1).toStdString();
    EXPECT_EQ(Get<QLabel>(QStringLiteral("StatusPanel1"))->toolTip(), Panel(1));
}

TEST_F(GraphTest, StatusPanelsShowTheirWholeText)
{
    // A larger font than the panels' usual width was chosen for.
    QFont font = W->font();
    font.setPointSize(12);
    W->setFont(font);
    auto check = [&](const char* after) {
        QApplication::processEvents();
        for (int i = 0; i < 2; ++i) {
            auto* panel = Get<QLabel>(QStringLiteral("StatusPanel%1").arg(i));
            const QFontMetrics fm(panel->font());
            EXPECT_GE(panel->width(), 150) << after;
            // QLabel indents framed text by half an x.
            EXPECT_GE(panel->contentsRect().width(), fm.horizontalAdvance(panel->text()) + fm.horizontalAdvance('x') / 2)
                << after << ", panel " << i << ": " << panel->text().toStdString();
        }
        EXPECT_GT(Get<QLabel>(QStringLiteral("StatusPanel2"))->width(), 0) << after;
    };
    check("start");
    OpenPicture(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail.png"));
    check("open");
    Dialogs.Answer(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail-dark.png"));
    ClickButton("BitBtn10");
    EXPECT_EQ(Panel(1), QStringLiteral("Dark image  has been applied."));
    check("dark");
    Dialogs.Answer(QStringLiteral(VINSK_SOURCE_DIR "/samples/trail-flat.png"));
    ClickButton("BitBtn12");
    check("flat");
    ClickButton("BitBtn4");
    check("prompt");
    Click(Viewport(), QPoint(10, 10));
    EXPECT_EQ(Get<QLabel>(QStringLiteral("StatusPanel1"))->width(), 150) << "an empty panel keeps its usual width";
    PlaceMarkers(TrailPoints);
    ClickButton("BitBtn8");
    EXPECT_TRUE(Panel(1).startsWith(QStringLiteral("Measurement error: +/-"))) << Panel(1).toStdString();
    check("plot");
}

TEST_F(GraphTest, StatisticsLinesAreNeverCut)
{
    LoadTrail();
    // A focal length of a thousandth of a millimetre gives errors of millions
    // of arc seconds.
    Type("RxSpinEdit6", QStringLiteral("0.001"));
    ClickButton("BitBtn8");
    QApplication::processEvents();
    ASSERT_GT(Label(QStringLiteral("Label40")).size(), 30) << Label(QStringLiteral("Label40")).toStdString();
    auto* panel = Get<QWidget>(QStringLiteral("Panel3"));
    EXPECT_GE(panel->width(), 185);
    EXPECT_LE(panel->geometry().right(), Get<QWidget>(QStringLiteral("TabSheet3"))->width() - 1);
    for (const char* name : {"Label40", "Label42", "Label43"}) {
        auto* label = Get<QLabel>(QLatin1String(name));
        const QFontMetrics fm(label->font());
        EXPECT_GE(label->contentsRect().width(), fm.horizontalAdvance(label->text())) << label->text().toStdString();
        EXPECT_LE(label->geometry().right(), panel->contentsRect().right()) << name;
    }
}

TEST_F(GraphTest, EveryPlotCommandShowsTheGraphTab)
{
    LoadTrail();
    Pages()->setCurrentIndex(1);
    ClickButton("BitBtn6");
    EXPECT_EQ(Pages()->currentIndex(), 2);
    EXPECT_EQ(Chart()->Count(), TrailSamples);
    Pages()->setCurrentIndex(0);
    Action("PlotGraph1")->trigger();
    EXPECT_EQ(Pages()->currentIndex(), 2);
    EXPECT_EQ(Chart()->Title(), QStringLiteral("Line profile"));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(GraphTest, AverageLineSmoothsTheFigureButNotTheStatistics)
{
    LoadTrail();
    Choose("RadioGroup2", FigurePeriodicError);
    const std::vector<TChartPoint> raw = Shown();
    const auto statistics = Statistics();
    auto roughness = [](const std::vector<TChartPoint>& p) {
        double sum = 0;
        for (std::size_t i = 1; i < p.size(); ++i)
            sum += (p[i].Y - p[i - 1].Y) * (p[i].Y - p[i - 1].Y);
        return sum;
    };
    QWidget* width = Get(QStringLiteral("RxSpinEdit16"));
    QWidget* label = Get(QStringLiteral("Label36"));
    EXPECT_FALSE(width->isEnabled());
    EXPECT_FALSE(label->isEnabled());

    TVinskState before = W->State();
    Tick("CheckBox2");
    EXPECT_TRUE(width->isEnabled());
    EXPECT_TRUE(label->isEnabled());
    EXPECT_EQ(Statistics(), statistics);
    EXPECT_LT(roughness(Shown()), roughness(raw) / 2);
    TGraphChoices choices;
    choices.Figure = FigurePeriodicError;
    choices.AverageLine = true;
    ExpectCoreResult(before, choices);

    // Every keystroke in the width plots; the last one counts.
    before = W->State();
    Type("RxSpinEdit16", QStringLiteral("10"));
    choices.AverageWidth = 10;
    ExpectCoreResult(before, choices);
    EXPECT_EQ(Statistics(), statistics);

    Tick("CheckBox2");
    EXPECT_FALSE(width->isEnabled());
    EXPECT_FALSE(label->isEnabled());
    EXPECT_EQ(Shown(), raw);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(GraphTest, LogarithmicAxisAndTheEstimation)
{
    LoadTrail();
    Choose("RadioGroup2", FigureSpectrum);
    QCheckBox* log = Box("chLog");
    QSignalSpy clicks(log, &QCheckBox::clicked);
    QSignalSpy toggles(log, &QCheckBox::toggled);
    Tick(log);
    EXPECT_TRUE(Chart()->BottomLogarithmic());

    // The estimation unticks the box, and that untick plots the figure in a
    // nested run, with the box clear: no further click, one figure.
    const TVinskState before = W->State();
    Choose("RadioGroup2", FigureErrorEstimation);
    EXPECT_FALSE(log->isChecked());
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(toggles.count(), 2);
    EXPECT_FALSE(Chart()->BottomLogarithmic());
    EXPECT_EQ(Chart()->Count(), 501);
    TGraphChoices choices;
    choices.Figure = FigureErrorEstimation;
    choices.LogScale = true;
    ExpectCoreResult(before, choices);

    Choose("RadioGroup2", FigurePeriodicError);
    EXPECT_FALSE(Chart()->BottomLogarithmic());
    Tick(log);
    EXPECT_TRUE(Chart()->BottomLogarithmic());
    Tick(log);
    EXPECT_FALSE(Chart()->BottomLogarithmic());
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(GraphTest, LogarithmicProfileOverANegativeCoordinateIsRefused)
{
    LoadTrail();
    ClickButton("BitBtn8");
    const auto statistics = Statistics();
    SetPoint(0, -20, 180);
    Tick("chLog");
    ExpectErrorReport(QStringLiteral("Logarithmic Axis Min and Max values should be >= 0."));
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    // The new figure is on the chart, over a linear axis; the statistics
    // are those of the run before.
    EXPECT_EQ(Chart()->Title(), QStringLiteral("Line profile"));
    ASSERT_EQ(Chart()->Count(), 541);
    EXPECT_EQ(Chart()->Point(0).X, -20);
    EXPECT_FALSE(Chart()->BottomLogarithmic());
    EXPECT_TRUE(Box("chLog")->isChecked());
    EXPECT_EQ(Statistics(), statistics);
}

TEST_F(GraphTest, ArithmeticFaultsKeepWhatTheRunHadNotReached)
{
    LoadTrail();
    Choose("RadioGroup2", FigurePeriodicError);
    const std::vector<TChartPoint> error = Shown();
    const auto statistics = Statistics();
    Pages()->setCurrentIndex(0);
    Type("RxSpinEdit6", QStringLiteral("0")); // focal length

    ClickButton("BitBtn8");
    ExpectErrorReport(QStringLiteral("Floating point division by zero."));
    EXPECT_EQ(Pages()->currentIndex(), 2);
    EXPECT_EQ(Chart()->Title(), QStringLiteral("Periodic error"));
    EXPECT_EQ(Shown(), error);
    EXPECT_EQ(Statistics(), statistics);

    // The profile needs no conversion: it is plotted, and only the
    // statistics fail.
    Choose("RadioGroup2", FigureLineProfile);
    EXPECT_EQ(Dialogs.Messages.size(), 2u);
    ExpectErrorReport(QStringLiteral("Floating point division by zero."));
    EXPECT_EQ(Chart()->Title(), QStringLiteral("Line profile"));
    EXPECT_EQ(Chart()->Count(), TrailSamples);
    EXPECT_EQ(Statistics(), statistics);
}

TEST_F(GraphTest, TwoMarkersRefuseEveryPlotRequest)
{
    LoadTrail(2);
    Pages()->setCurrentIndex(1);
    const std::vector<std::pair<const char*, std::function<void()>>> requests{
        {"Next >> Plot Graph", [&] { QTest::mouseClick(Get<QAbstractButton>(QStringLiteral("BitBtn6")), Qt::LeftButton); }},
        {"menu", [&] { Action("PlotGraph1")->trigger(); }},
        {"Plot Graph", [&] { QTest::mouseClick(Get<QAbstractButton>(QStringLiteral("BitBtn8")), Qt::LeftButton); }},
        {"figure", [&] { Choose("RadioGroup2", FigureSpectrum); }},
        {"channel", [&] { Choose("RadioGroup1", ChannelR); }},
        {"log box", [&] { Tick("chLog"); }},
        {"average line", [&] { Tick("CheckBox2"); }},
        {"average width", [&] { QTest::keyClick(Get(QStringLiteral("RxSpinEdit16")), Qt::Key_Up); }},
    };
    std::size_t shown = 0;
    for (const auto& [what, request] : requests) {
        SCOPED_TRACE(what);
        request();
        ASSERT_EQ(Dialogs.Messages.size(), ++shown);
        ExpectRefusal(Missing);
        EXPECT_EQ(Pages()->currentIndex(), 1);
    }
    // Only a click plots: the run unticks the log box from code.
    Box("chLog")->setChecked(false);
    EXPECT_EQ(Dialogs.Messages.size(), shown);
    // The average line's controls follow the box even so.
    EXPECT_TRUE(Get(QStringLiteral("RxSpinEdit16"))->isEnabled());
    EXPECT_TRUE(Get(QStringLiteral("Label36"))->isEnabled());
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit16")), QStringLiteral("3"));
    EXPECT_EQ(Chart()->Count(), 0);
    EXPECT_EQ(Chart()->Title(), QStringLiteral("Periodic error"));
    EXPECT_EQ(Label(QStringLiteral("Label40")), QStringLiteral("Min/Max PE [\"]:  -0 / +0"));
}

// A trail walked right to left over one colour: the profile ascends in x
// and every brightness is (10 + 20 + 31) / 3.
TEST_F(GraphTest, ClickOnAPointShowsItsValue)
{
    OpenPicture(Save(QStringLiteral("even.png"), Picture(200, 100, 0xFF0A141Fu)));
    PlaceMarkers({{180, 50}, {20, 50}, {100, 46}});
    ClickButton("BitBtn8");
    ASSERT_EQ(Chart()->Count(), 161);
    QWidget* plot = Chart()->PlotWidget();
    QTest::mouseClick(plot, Qt::LeftButton, {}, Chart()->PointPosition(0).toPoint());
    EXPECT_EQ(Panel(2), QStringLiteral("Point value: [20, 20.3333333333333]"));
    QTest::mouseClick(plot, Qt::LeftButton, {}, Chart()->PointPosition(160).toPoint());
    EXPECT_EQ(Panel(2), QStringLiteral("Point value: [180, 20.3333333333333]"));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

// --- Export -----------------------------------------------------------------

TEST_F(GraphTest, ExportInEveryFormatKeepsTheChosenFilter)
{
    LoadTrail();
    Choose("RadioGroup2", FigurePeriodicError);
    const QSize size = Chart()->PlotWidget()->size();
    struct TSave {
        int Filter;
        const char* Name;
        QByteArray Signature; // leading bytes
        const char* NextExt;
    };
    // The format follows the filter, never the name's extension.
    const TSave saves[] = {
        {1, "a.csv", "BM", "BMP"},
        {2, "b.wmf", QByteArray("\xD7\xCD\xC6\x9A", 4), "WMF"},
        {3, "c", QByteArray("\x01\x00\x00\x00", 4), "EMF"},
        {4, "d.bmp", "Time [s]; PE [\"]\r\n", "CSV"},
        {5, "e.csv", "BM", "BMP"},
    };
    for (std::size_t i = 0; i < std::size(saves); ++i) {
        const TSave& s = saves[i];
        SCOPED_TRACE(s.Name);
        const QString path = Dir.filePath(QLatin1String(s.Name));
        Dialogs.Answer(path, s.Filter);
        if (i % 2 == 0) {
            ClickButton("BitBtn11");
        } else {
            Action("Saveresults1")->trigger();
        }
        ASSERT_TRUE(Dialogs.Messages.empty());
        const QByteArray bytes = FileBytes(path);
        EXPECT_TRUE(bytes.startsWith(s.Signature));
        if (s.Filter == 3) {
            EXPECT_EQ(bytes.mid(40, 4), QByteArray(" EMF"));
        }
        if (s.Filter == 4) {
            EXPECT_EQ(bytes.toStdString(), ChartCsvText(W->State().Chart, '.'));
        }
        if (s.Filter == 1 || s.Filter == 5) {
            QImageReader reader(path, "bmp");
            EXPECT_EQ(reader.read().size(), size);
        }
        // The dialog opens the next time as it was left.
        Dialogs.Cancel();
        ClickButton("BitBtn11");
        const TFileDialog& next = Dialogs.Shown.back();
        EXPECT_EQ(next.DefaultExt, QLatin1String(s.NextExt));
        EXPECT_EQ(next.FilterIndex, s.Filter);
    }
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files).size(), 5);
}

TEST_F(GraphTest, ANameTypedWithoutExtensionGetsTheFormatsOwn)
{
    LoadTrail();
    struct TSave {
        int Filter;
        const char* Typed;
        const char* Written;
        QByteArray Signature;
    };
    // After the EMF, "All files" starts with EMF as the default extension
    // but writes a bitmap.
    const TSave saves[] = {
        {4, "csv", "csv.CSV", "Time [s]; PE [\"]\r\n"},
        {3, "emf", "emf.EMF", QByteArray("\x01\x00\x00\x00", 4)},
        {5, "all", "all.BMP", "BM"},
        {2, "wmf", "wmf.WMF", QByteArray("\xD7\xCD\xC6\x9A", 4)},
        {4, "kept.txt", "kept.txt", "Time [s]; PE [\"]\r\n"},
    };
    for (const TSave& s : saves) {
        SCOPED_TRACE(s.Typed);
        Dialogs.AnswerTyped(Dir.filePath(QLatin1String(s.Typed)), s.Filter);
        ClickButton("BitBtn11");
        EXPECT_TRUE(FileBytes(Dir.filePath(QLatin1String(s.Written))).startsWith(s.Signature));
    }
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files).size(), 5);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(GraphTest, SaveDialogAndExportBeforeAnyPlot)
{
    Dialogs.Cancel();
    Action("Saveresults1")->trigger();
    const TFileDialog& d = Dialogs.Shown.at(0);
    EXPECT_EQ(d.Name, QStringLiteral("SavePictureDialog1"));
    EXPECT_EQ(d.Title, QStringLiteral("Save graph of the Periodic Error"));
    EXPECT_EQ(d.Filter, QStringLiteral("Bitmap picture (*.BMP)|*.bmp|Metafile picture (*.WMF)|*.wmf|"
                                       "Enhaced metafile picture (*.EMF)|*.emf|Excel CSV file (*.csv)|*.csv|"
                                       "All files (*.*)|*.*"));
    EXPECT_EQ(d.DefaultExt, QStringLiteral("BMP"));
    EXPECT_EQ(d.FilterIndex, 1);
    EXPECT_FALSE(d.OverwritePrompt);
    EXPECT_TRUE(QDir(Dir.path()).isEmpty());

    // From the Setup tab: the chart, never shown yet, has the size it shows with.
    const QString csv = Dir.filePath(QStringLiteral("empty.csv"));
    Dialogs.Answer(csv, 4);
    Action("Saveresults1")->trigger();
    EXPECT_EQ(FileBytes(csv), QByteArray("Time [s]; PE [\"]\r\n"));
    const QString bmp = Dir.filePath(QStringLiteral("empty.bmp"));
    Dialogs.Answer(bmp, 1);
    Action("Saveresults1")->trigger();
    EXPECT_EQ(Pages()->currentIndex(), 0);
    const QSize saved = QImage(bmp).size();
    Pages()->setCurrentIndex(2);
    QApplication::processEvents();
    EXPECT_EQ(saved, Chart()->PlotWidget()->size());
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(GraphTest, FailedSaveReachesTheErrorReport)
{
    for (int filter : {1, 2, 4}) {
        const QString path = Dir.filePath(QStringLiteral("no/such/folder/g%1").arg(filter));
        Dialogs.Answer(path, filter);
        ClickButton("BitBtn11");
        ExpectErrorReport(QStringLiteral("Cannot create file ") + path + QLatin1Char('.'));
        EXPECT_FALSE(QFile::exists(path));
    }
    EXPECT_EQ(Dialogs.Messages.size(), 3u);
}

// --- About box --------------------------------------------------------------

TEST_F(GraphTest, AboutBoxComesAndGoesOverTheShowingTab)
{
    Pages()->setCurrentIndex(2);
    for (int round = 0; round < 2; ++round) {
        QPointer<TAboutBox> box;
        QString caption;
        QString version;
        QTimer::singleShot(0, [&] {
            box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            caption = box->windowTitle();
            version = box->findChild<QLabel*>(QStringLiteral("Version"))->text();
            box->accept();
        });
        Action("About1")->trigger();
        EXPECT_EQ(caption, QStringLiteral("Vinsk, ver. 1.1")) << "round " << round;
        EXPECT_EQ(version, QStringLiteral("Version: 1.1.7.15"));
        EXPECT_TRUE(box.isNull()) << "the box outlives its showing";
        EXPECT_EQ(Pages()->currentIndex(), 2);
    }
    EXPECT_TRUE(Dialogs.Messages.empty());
}

} // namespace
} // namespace vinsk
