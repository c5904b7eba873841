// The main window driven as a user would: controls found by name, dialogs
// scripted, pictures generated here.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QPainter>
#include <QPainterPath>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "Harness.h"
#include "WindowFixture.h"
#include "app/ErrorReport.h"
#include "app/Unit1.h"
#include "app/widgets/ImageView.h"
#include "app/widgets/RadioGroup.h"
#include "app/widgets/SpinEdits.h"
#include "findtrail/FindTrail.h"

namespace vinsk {
namespace {

using namespace vinsk::test;

// --- Start-up and the Setup tab ---------------------------------------------

TEST_F(WindowTest, StartUpState)
{
    EXPECT_EQ(W->objectName(), QStringLiteral("Vinsk_main"));
    EXPECT_EQ(W->windowTitle(), QStringLiteral("Vinsk, ver. 1.1"));
    EXPECT_EQ(W->Version().FileVersionText, QStringLiteral("1.1.7.15"));
    EXPECT_EQ(W->size(), QSize(777, 571));
    EXPECT_EQ(Pages()->currentWidget()->objectName(), QStringLiteral("TabSheet1"));
    EXPECT_EQ(Pages()->tabText(0), QStringLiteral("&1. Setup"));
    EXPECT_EQ(Pages()->tabText(1), QStringLiteral("&2. Image"));
    EXPECT_EQ(Pages()->tabText(2), QStringLiteral("&3. Graph"));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(Panel(i).isEmpty()) << i;
    EXPECT_FALSE(W->MarkerDragging());

    const char* fields[] = {"10.0", "5.7", "5.7", "22.2", "14.8", "400.0", "40.0", "480.0", "15.0"};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit%1").arg(i + 1)), QLatin1String(fields[i])) << i;
    for (int i = 10; i <= 15; ++i)
        EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit%1").arg(i)), QStringLiteral("0")) << i;
    EXPECT_EQ(Label(QStringLiteral("Label16")), QStringLiteral("(i. e. 8 min.)"));
    EXPECT_EQ(Label(QStringLiteral("Label34")), QStringLiteral("&Zoom: 100%"));
    auto* sb = Get<QScrollBar>(QStringLiteral("sbScale"));
    EXPECT_EQ(sb->minimum(), 10);
    EXPECT_EQ(sb->maximum(), 400);
    EXPECT_EQ(sb->value(), 100);
    EXPECT_EQ(View()->Scale(), 1.0f);
    EXPECT_EQ(View()->LayerCount(), 0);
    EXPECT_FALSE(Get(QStringLiteral("Shape1"))->isVisibleTo(W.get()));
    EXPECT_FALSE(Get(QStringLiteral("Shape2"))->isVisibleTo(W.get()));
    EXPECT_EQ(W->State().PlacingMode, NoPlacing);

    // Graph tab
    EXPECT_EQ(Get<TRadioGroup>(QStringLiteral("RadioGroup2"))->ItemIndex(), 0);
    EXPECT_EQ(Get<TRadioGroup>(QStringLiteral("RadioGroup1"))->ItemIndex(), 3);
    EXPECT_EQ(Get<TRadioGroup>(QStringLiteral("RadioGroup2"))->title(), QStringLiteral(" &Figure "));
    EXPECT_FALSE(Get<QCheckBox>(QStringLiteral("chLog"))->isChecked());
    EXPECT_FALSE(Get<QCheckBox>(QStringLiteral("CheckBox2"))->isChecked());
    EXPECT_FALSE(Get(QStringLiteral("RxSpinEdit16"))->isEnabled());
    EXPECT_FALSE(Get(QStringLiteral("Label36"))->isEnabled());
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit16")), QStringLiteral("2"));
    EXPECT_EQ(Label(QStringLiteral("Label40")), QStringLiteral("Min/Max PE [\"]:  -0 / +0"));
    EXPECT_EQ(Label(QStringLiteral("Label42")), QStringLiteral("68% interval[\"]:  -0 / +0"));
    EXPECT_EQ(Label(QStringLiteral("Label43")), QStringLiteral("99% interval [\"]:  -0 / +0"));
    EXPECT_NE(Get(QStringLiteral("Chart1")), nullptr);

    // Hints that carry doubled blanks and misspellings.
    EXPECT_EQ(Get(QStringLiteral("BitBtn12"))->toolTip(), QStringLiteral("Apply  flat image"));
    EXPECT_EQ(Get(QStringLiteral("RxSpinEdit11"))->toolTip(), QStringLiteral("Heigh"));
    EXPECT_EQ(Get(QStringLiteral("RxSpinEdit4"))->toolTip(), QStringLiteral("Width of the sensor  [mm]"));
    EXPECT_EQ(Get<QPushButton>(QStringLiteral("BitBtn7"))->text(), QStringLiteral("Next >>  Open i&mage"));
}

TEST_F(WindowTest, MenusHoldEveryItem)
{
    const std::vector<std::pair<QString, std::vector<std::pair<const char*, const char*>>>> menus = {
        {QStringLiteral("&File"), {{"Exit1", "&Exit"}}},
        {QStringLiteral("Setup"), {{"Open1", "&Open experiment"}, {"Openimage1", "&Save experiment"}}},
        {QStringLiteral("Image"),
         {{"Openimage2", "Open i&mage"},
          {"CaptureIndi1", "&Capture through INDI…"},
          {"ApplyDark1", "Apply &Dark"},
          {"ApplyFlat1", "Apply &Flat"},
          {"FindTrail1", "F&ind trail"},
          {"SwapPoints1", "S&wap START and STOP"}}},
        {QStringLiteral("Graphs"), {{"PlotGraph1", "Plot &Graph"}, {"Saveresults1", "Save results"}}},
        {QStringLiteral("D&rive"),
         {{"AnalyseDrive1", "&Analyse drive"},
          {"AnalyseGuideLog1", "Analyse a &guide log…"},
          {"SwapPoints2", "S&wap START and STOP"},
          {"", ""},
          {"SaveDriveChart1", "Save the &chart (PNG, SVG, PDF)…"},
          {"SaveDriveSeries1", "Save the &series (CSV)…"},
          {"SaveDriveReport1", "Save the &report (JSON)…"},
          {"SaveDrivePec1", "Save the &PEC table…"},
          {"", ""},
          {"AddDriveRun1", "Add a saved r&un…"},
          {"SaveDriveAverage1", "Save the a&veraged PEC…"}}},
        {QStringLiteral("&Help"), {{"About1", "&About"}}},
    };
    const QList<QAction*> top = W->menuBar()->actions();
    ASSERT_EQ(top.size(), 6);
    for (std::size_t m = 0; m < menus.size(); ++m) {
        EXPECT_EQ(top[static_cast<qsizetype>(m)]->text(), menus[m].first);
        const QList<QAction*> items = top[static_cast<qsizetype>(m)]->menu()->actions();
        ASSERT_EQ(static_cast<std::size_t>(items.size()), menus[m].second.size());
        for (std::size_t i = 0; i < menus[m].second.size(); ++i) {
            EXPECT_EQ(items[static_cast<qsizetype>(i)]->objectName(), QLatin1String(menus[m].second[i].first));
            EXPECT_EQ(items[static_cast<qsizetype>(i)]->text(), QString::fromUtf8(menus[m].second[i].second));
        }
    }
}

TEST_F(WindowTest, WorkedExampleOnThePanel)
{
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"Label10", "width:     2.9"},
        {"Label11", "height:    2.9"},
        {"Label12", "diagonal: 4.1"},
        {"Label22", "width:     190.6"},
        {"Label23", "height:    127.1"},
        {"Label24", "diagonal: 229.1"},
        {"Label27", "width:       12.7 min  (762 s)"},
        {"Label26", "height:       8.5 min  (510 s)"},
        {"Label25", "diagonal: 15.3 min  (918 s)"},
        {"Label30", "angle:       120  (7200 \")"},
        {"Label33", "ratio of the width [%]: 63"},
        {"Label31", "ratio of the height [%]: 94"},
        {"Label32", "ratio of the diagonal [%]: 52"},
    };
    for (const auto& [name, text] : expected)
        EXPECT_EQ(Label(QLatin1String(name)), QString::fromUtf8(text)) << name;
}

TEST_F(WindowTest, TypingIntoTheEmptiedFocalFieldRecalculatesPerKeystroke)
{
    auto* focal = Get<TFloatSpinEdit>(QStringLiteral("RxSpinEdit6"));
    std::vector<double> seen;
    std::vector<QString> sensorWidth;
    QObject::connect(focal, &TFloatSpinEdit::Change, [&] {
        seen.push_back(W->State().Experiment.FocalLength);
        sensorWidth.push_back(Label(QStringLiteral("Label22")));
    });
    Type("RxSpinEdit6", QStringLiteral("400"));
    ASSERT_EQ(seen.size(), 4u); // emptied, 4, 40, 400
    EXPECT_EQ(seen[0], 0.0);
    EXPECT_DOUBLE_EQ(seen[1], 0.004);
    EXPECT_DOUBLE_EQ(seen[2], 0.04);
    EXPECT_DOUBLE_EQ(seen[3], 0.4);
    // The emptied field reads 0: the angle lines fall back, the diagonals show 0.
    EXPECT_EQ(sensorWidth[0], QStringLiteral("width:"));
    EXPECT_EQ(sensorWidth[3], QStringLiteral("width:     190.6"));
    EXPECT_EQ(Label(QStringLiteral("Label32")), QStringLiteral("ratio of the diagonal [%]: 52"));
}

TEST_F(WindowTest, EmptiedFocalFieldShowsFallbacks)
{
    Type("RxSpinEdit6", QString());
    EXPECT_EQ(W->State().Experiment.FocalLength, 0.0);
    EXPECT_EQ(Label(QStringLiteral("Label10")), QStringLiteral("width:"));
    EXPECT_EQ(Label(QStringLiteral("Label11")), QStringLiteral("height:"));
    EXPECT_EQ(Label(QStringLiteral("Label12")), QStringLiteral("diagonal: 0"));
    EXPECT_EQ(Label(QStringLiteral("Label24")), QStringLiteral("diagonal: 0"));
    EXPECT_EQ(Label(QStringLiteral("Label30")), QStringLiteral("angle:       120  (7200 \")"));
    EXPECT_EQ(Label(QStringLiteral("Label33")), QStringLiteral("ratio of the width [%]:"));
    EXPECT_EQ(Label(QStringLiteral("Label31")), QStringLiteral("ratio of the height [%]: "));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(WindowTest, ExposureFieldRewritesTheNote)
{
    Type("RxSpinEdit8", QStringLiteral("15"));
    EXPECT_EQ(W->State().Experiment.ExposureTime, 15.0);
    EXPECT_EQ(Label(QStringLiteral("Label16")), QStringLiteral("(i. e. 0.2 min.)"));
    // Only the exposure field writes the note.
    Type("RxSpinEdit9", QStringLiteral("1"));
    EXPECT_EQ(Label(QStringLiteral("Label30")), QStringLiteral("angle:       0.2  (12 \")"));
    EXPECT_EQ(Label(QStringLiteral("Label16")), QStringLiteral("(i. e. 0.2 min.)"));
}

TEST_F(WindowTest, SpinButtonsStepTheParameter)
{
    auto* e = Get<TFloatSpinEdit>(QStringLiteral("RxSpinEdit9"));
    e->setFocus();
    QTest::keyClick(e, Qt::Key_Up);
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit9")), QStringLiteral("16.0"));
    EXPECT_EQ(W->State().Experiment.MountSpeed, 16.0);
}

TEST(WindowLocale, FieldsAndFiguresUseTheLocaleSeparator)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TScriptedDialogs dialogs;
    QTemporaryDir dir;
    {
        TVinsk_main w(dialogs);
        EXPECT_EQ(w.State().DecimalSeparator, ',');
        EXPECT_EQ(w.findChild<TSpinEditBase*>(QStringLiteral("RxSpinEdit2"))->Text(), QStringLiteral("5,7"));
        EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("Label27"))->text(), QStringLiteral("width:       12,7 min  (762 s)"));
        // A settings file written under a point locale reads the same here.
        dialogs.Answer(WriteFile(dir.filePath(QStringLiteral("point.ini")), "[Camera]\nHPixSize=6.45\n[Exposition]\ntime=94.5\n"));
        w.findChild<QAction*>(QStringLiteral("Open1"))->trigger();
        EXPECT_EQ(w.findChild<TSpinEditBase*>(QStringLiteral("RxSpinEdit3"))->Text(), QStringLiteral("6,5"));
        EXPECT_DOUBLE_EQ(w.State().Experiment.ExposureTime, 94.5);
        EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("StatusPanel1"))->text(), QString());
    }
    QLocale::setDefault(QLocale::c());
}

// --- Settings file ----------------------------------------------------------

TEST_F(WindowTest, SavingWritesTheNineValues)
{
    const QString path = Dir.filePath(QStringLiteral("exp.ini"));
    Dialogs.Answer(path);
    ClickButton("BitBtn2");
    ASSERT_EQ(Dialogs.DialogsRun, std::vector<QString>{QStringLiteral("SaveDialog1")});
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(f.readAll());
    for (const char* line : {"[VinskFile]", "version=1.1", "Distance=10", "MountSpeed=15", "HPixSize=5.7", "WPixSize=5.7",
                             "HSensor=14.8", "WSensor=22.2", "Focal=400", "Diameter=40", "time=480"})
        EXPECT_TRUE(text.contains(QLatin1String(line))) << line;
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(WindowTest, LoadingGoesThroughTheFieldsWithTheVersionWarning)
{
    const QString path = Dir.filePath(QStringLiteral("other.ini"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[VinskFile]\nversion=1.10\n[Camera]\nHPixSize=6.45\nWSensor=22.2\n[Mount]\nDistance=12.34\n");
    f.close();
    Dialogs.Answer(path);
    ClickButton("BitBtn1");
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Warning);
    EXPECT_EQ(Dialogs.Messages[0].Caption, QStringLiteral("Warning"));
    EXPECT_EQ(Dialogs.Messages[0].Text,
              QStringLiteral("This is not VURiva or version of the VinskFile is not 1.1.\n\rCheck pleas input data."));
    // One decimal through the field, and the parameter from the field's text.
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit3")), QStringLiteral("6.5"));
    EXPECT_DOUBLE_EQ(W->State().Experiment.PixelHeight, 0.0000065);
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit1")), QStringLiteral("12.3"));
    EXPECT_DOUBLE_EQ(W->State().Experiment.StarDistance, 12.3);
    // A missing key keeps the field's value.
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit6")), QStringLiteral("400.0"));
    EXPECT_DOUBLE_EQ(W->State().Experiment.FocalLength, 0.4);
}

TEST_F(WindowTest, UnreadSettingsValuesAreNamedOnPanel1)
{
    auto write = [&](const char* name, const char* text) { return WriteFile(Dir.filePath(QLatin1String(name)), text); };
    Dialogs.Answer(write("bad.ini", "[Lens]\nFocal=4OO\n[Camera]\nHPixSize=3,8\n[Exposition]\ntime=94.5.\n"));
    ClickButton("BitBtn1");
    EXPECT_EQ(Panel(1), QStringLiteral("Settings: 2 values not read: Focal, time"));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit6")), QStringLiteral("400.0"));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit3")), QStringLiteral("3.8"));
    EXPECT_TRUE(Dialogs.Messages.empty());
    // A file read in full takes the note back; other texts of the panel stay.
    Dialogs.Answer(write("good.ini", "[Lens]\nFocal=135\n"));
    ClickButton("BitBtn1");
    EXPECT_EQ(Panel(1), QString());
    ClickButton("BitBtn4");
    Dialogs.Answer(Dir.filePath(QStringLiteral("good.ini")));
    Action("Open1")->trigger();
    EXPECT_EQ(Panel(1), QStringLiteral("Select START point"));
}

TEST_F(WindowTest, LoadingTheShownValuesChangesNothing)
{
    const QString path = Dir.filePath(QStringLiteral("same.ini"));
    Dialogs.Answer(path);
    ClickButton("BitBtn2");
    int changes = 0;
    for (int i = 1; i <= 9; ++i)
        QObject::connect(Get<TFloatSpinEdit>(QStringLiteral("RxSpinEdit%1").arg(i)), &TFloatSpinEdit::Change,
                         [&changes] { ++changes; });
    Dialogs.Answer(path);
    Action("Open1")->trigger();
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(WindowTest, LoadingNormalisesATypedValueWithMoreDecimals)
{
    Type("RxSpinEdit2", QStringLiteral("5.74"));
    EXPECT_DOUBLE_EQ(W->State().Experiment.PixelWidth, 0.00000574);
    const QString path = Dir.filePath(QStringLiteral("empty.ini")); // does not exist: no keys
    Dialogs.Answer(path);
    ClickButton("BitBtn1");
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit2")), QStringLiteral("5.7"));
    EXPECT_DOUBLE_EQ(W->State().Experiment.PixelWidth, 0.0000057);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(WindowTest, CancelledSettingsDialogsChangeNothing)
{
    Dialogs.Cancel();
    ClickButton("BitBtn1");
    Dialogs.Cancel();
    ClickButton("BitBtn2");
    EXPECT_EQ(Dialogs.DialogsRun, (std::vector<QString>{QStringLiteral("OpenDialog1"), QStringLiteral("SaveDialog1")}));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit6")), QStringLiteral("400.0"));
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(WindowTest, ASettingsPathThatIsNoFileReachesTheErrorReport)
{
    Dialogs.Answer(Dir.path());
    ClickButton("BitBtn1");
    ExpectErrorReport(QStringLiteral("Cannot read settings file ") + Dir.path() + QStringLiteral(": not a regular file."));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit6")), QStringLiteral("400.0"));
}

TEST_F(WindowTest, AFaultInANestedHandlerStopsTheWholeCommand)
{
    // A change handler that fails when the open command sets its field.
    QObject::connect(Get<TFloatSpinEdit>(QStringLiteral("RxSpinEdit1")), &TFloatSpinEdit::Change, W.get(),
                     [this] { W->RunCommand([] { throw std::runtime_error("nested fault"); }); });
    const QString path = Dir.filePath(QStringLiteral("nested.ini"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[VinskFile]\nversion=1.1\n[Mount]\nDistance=25\n[Lens]\nFocal=135\n");
    f.close();
    Dialogs.Answer(path);
    ClickButton("BitBtn1");
    // Reported once, by the command, and the values after the failing one
    // stay as they were.
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    ExpectErrorReport(QStringLiteral("nested fault."));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit1")), QStringLiteral("25.0"));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit6")), QStringLiteral("400.0"));
    EXPECT_DOUBLE_EQ(W->State().Experiment.FocalLength, 0.4);
    // Typing afterwards is a command of its own again, reported by itself.
    Type("RxSpinEdit1", QStringLiteral("30"));
    EXPECT_GT(Dialogs.Messages.size(), 1u);
    ExpectErrorReport(QStringLiteral("nested fault."));
}

TEST_F(WindowTest, UnwritableSettingsFileReachesTheErrorReport)
{
    const QString path = Dir.filePath(QStringLiteral("no/such/folder/exp.ini"));
    Dialogs.Answer(path);
    ClickButton("BitBtn2");
    ExpectErrorReport(QStringLiteral("Unable to write to ") + path + QLatin1Char('.'));
}

// --- Image tab: opening, calibration ----------------------------------------

TEST_F(WindowTest, OpeningAPictureFitsItAndShowsItsSize)
{
    QImage img = Picture(40, 30, 0xFF204060u);
    img.setPixel(3, 4, 0xFF111410u);
    OpenPicture(Save(QStringLiteral("small.png"), img));
    EXPECT_EQ(Dialogs.DialogsRun, std::vector<QString>{QStringLiteral("OPD")});
    EXPECT_EQ(W->State().Image.Bitmap.Width(), 40);
    EXPECT_EQ(W->State().Image.Bitmap.PixelS(3, 4), 0xFF111410u);
    EXPECT_EQ(Panel(0), QStringLiteral("Image size: 40/30"));
    EXPECT_EQ(Zoom(), 400); // far more than 400 % would fit
    EXPECT_EQ(Label(QStringLiteral("Label34")), QStringLiteral("Zoom: 400%"));
    EXPECT_EQ(View()->Scale(), 4.0f);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(WindowTest, FitUsesTheViewWidth)
{
    // A view 576 pixels wide and a picture 3008 wide: 18.15 gives 18.
    Pages()->setCurrentIndex(1);
    QApplication::processEvents();
    W->resize(W->width() + 576 - View()->width(), W->height());
    QApplication::processEvents();
    ASSERT_EQ(View()->width(), 576);
    const QString wide = Save(QStringLiteral("wide.bmp"), Picture(3008, 20, 0xFF808080u));
    OpenPicture(wide);
    EXPECT_EQ(Zoom(), 18);
    EXPECT_EQ(Label(QStringLiteral("Label34")), QStringLiteral("Zoom: 18%"));
    EXPECT_EQ(Panel(0), QStringLiteral("Image size: 3008/20"));

    // The same from the menu while the Setup tab shows.
    ClickButton("SpeedButton2");
    Pages()->setCurrentIndex(0);
    Dialogs.Answer(wide);
    Action("Openimage2")->trigger();
    EXPECT_EQ(Zoom(), 18);
}

TEST_F(WindowTest, FitFromTheMenuBeforeTheImageTabWasShown)
{
    Dialogs.Answer(Save(QStringLiteral("wide.bmp"), Picture(3008, 20, 0xFF808080u)));
    Action("Openimage2")->trigger();
    const int fitted = Zoom();
    Pages()->setCurrentIndex(1);
    QApplication::processEvents();
    ASSERT_GT(View()->width(), 400);
    EXPECT_EQ(fitted, static_cast<int>(std::nearbyint(View()->width() * 100.0L / 3008 - 1)));
}

TEST_F(WindowTest, NextOpenImageThenCancelShowsTheEmptyImageTab)
{
    Dialogs.Cancel();
    ClickButton("BitBtn7");
    EXPECT_EQ(Pages()->currentWidget()->objectName(), QStringLiteral("TabSheet2"));
    EXPECT_TRUE(W->State().Image.Bitmap.Empty());
    EXPECT_TRUE(Panel(0).isEmpty());
}

TEST_F(WindowTest, FailedOpenChangesNothing)
{
    OpenPicture(Save(QStringLiteral("first.png"), Picture(400, 300, 0xFF0A1E32u)));
    Dialogs.Answer(Save(QStringLiteral("dark.png"), Picture(400, 300, 0xFF010101u)));
    ClickButton("BitBtn10");
    ClickButton("SpeedButton3");
    ClickButton("BitBtn4");
    Click(Viewport(), QPoint(100, 100));
    ASSERT_EQ(View()->LayerCount(), 1);
    ASSERT_TRUE(W->State().Image.DarkApplied);
    const std::uint32_t pixel = W->State().Image.Bitmap.PixelS(0, 0);

    QFile bad(Dir.filePath(QStringLiteral("broken.png")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("\x89PNG\r\n\x1a\nthis is not a picture");
    bad.close();
    OpenPicture(bad.fileName());
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Caption, ApplicationTitle());
    QFile unknown(Dir.filePath(QStringLiteral("picture.xyz")));
    ASSERT_TRUE(unknown.open(QIODevice::WriteOnly));
    unknown.write("P6 1 1 255 abc");
    unknown.close();
    OpenPicture(unknown.fileName());
    ExpectErrorReport(QStringLiteral("Unknown picture file extension (.xyz)"));

    EXPECT_EQ(View()->LayerCount(), 1);
    EXPECT_EQ(W->State().Image.Bitmap.Width(), 400);
    EXPECT_EQ(W->State().Image.Bitmap.PixelS(0, 0), pixel);
    EXPECT_TRUE(W->State().Image.DarkApplied);
    EXPECT_TRUE(Get(QStringLiteral("Shape1"))->isVisible());
    EXPECT_EQ(Zoom(), 200);
    EXPECT_EQ(Panel(0), QStringLiteral("Image size: 400/300"));
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::CrossCursor);
}

TEST_F(WindowTest, CancelledOpenKeepsMarkersAndPicture)
{
    OpenPicture(Save(QStringLiteral("p.png"), Picture(400, 300, 0xFF0A1E32u)));
    ClickButton("BitBtn4");
    Click(Viewport(), QPoint(100, 100));
    Dialogs.Cancel();
    ClickButton("BitBtn3");
    EXPECT_EQ(View()->LayerCount(), 1);
    EXPECT_EQ(W->State().Image.Bitmap.Width(), 400);
}

TEST_F(WindowTest, PictureDialogKeepsTheChosenFileType)
{
    // The one picture dialog serves image, dark and flat: it opens again
    // with the file type the user left selected.
    Dialogs.Answer(Save(QStringLiteral("p.png"), Picture(20, 10, 0xFF0A1E32u)), 2);
    ClickButton("BitBtn3");
    Dialogs.Answer(Save(QStringLiteral("d.png"), Picture(20, 10, 0xFF000000u)), 5);
    ClickButton("BitBtn10");
    Dialogs.Cancel();
    ClickButton("BitBtn12");
    ASSERT_EQ(Dialogs.Shown.size(), 3u);
    EXPECT_EQ(Dialogs.Shown[0].FilterIndex, 1);
    EXPECT_EQ(Dialogs.Shown[1].FilterIndex, 2);
    EXPECT_EQ(Dialogs.Shown[2].FilterIndex, 5);
}

TEST_F(WindowTest, DarkThenFlatWithTheirRefusals)
{
    ClickButton("BitBtn10");
    ExpectRefusal(QStringLiteral("Image is not loaded. You must image load first!"));
    ClickButton("BitBtn12");
    ExpectRefusal(QStringLiteral("Image is not loaded. You must image load first!"));

    OpenPicture(Save(QStringLiteral("light.png"), Picture(20, 10, 0xFF0A1E32u))); // R 10, G 30, B 50
    ClickButton("BitBtn12");
    ExpectRefusal(QStringLiteral("Dark image is not applied. Load dark image first!"));

    // A dark frame of another size is refused and changes nothing.
    Dialogs.Answer(Save(QStringLiteral("narrow.png"), Picture(19, 10, 0xFF1E0A0Au)));
    ClickButton("BitBtn10");
    ExpectErrorReport(QStringLiteral("Dark image must have equal size!"));
    EXPECT_FALSE(W->State().Image.DarkApplied);
    EXPECT_EQ(W->State().Image.Bitmap.PixelS(5, 5), 0xFF0A1E32u);
    EXPECT_TRUE(Panel(1).isEmpty());
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::CrossCursor);

    const std::size_t before = Dialogs.Messages.size();
    Dialogs.Answer(Save(QStringLiteral("dark.png"), Picture(20, 10, 0xFF1E0A0Au))); // R 30, G 10, B 10
    ClickButton("BitBtn10");
    EXPECT_EQ(Dialogs.Messages.size(), before);
    EXPECT_EQ(W->State().Image.Bitmap.PixelS(5, 5), 0xFF001428u); // R 0 (never below), G 20, B 40
    EXPECT_EQ(Panel(1), QStringLiteral("Dark image  has been applied."));
    EXPECT_TRUE(Get(QStringLiteral("Shape1"))->isVisible());
    EXPECT_FALSE(Get(QStringLiteral("Shape2"))->isVisible());
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::CrossCursor);
    ClickButton("BitBtn10");
    ExpectRefusal(QStringLiteral("Dark image is already applied. Load new image first!"));

    Dialogs.Answer(Save(QStringLiteral("flat.png"), Picture(20, 10, 0xFF646464u)));
    ClickButton("BitBtn12");
    EXPECT_EQ(W->State().Image.Bitmap.PixelS(5, 5), 0xFF001428u); // a uniform flat changes nothing
    EXPECT_EQ(Panel(1), QStringLiteral("Flat image  has been applied."));
    EXPECT_TRUE(Get(QStringLiteral("Shape2"))->isVisible());
    EXPECT_EQ(Get(QStringLiteral("Shape2"))->toolTip(), QStringLiteral("The FLAT is applied."));
    ClickButton("BitBtn12");
    ExpectRefusal(QStringLiteral("Flat image is  applied. Load new image first!"));

    // A new picture allows both again.
    OpenPicture(Save(QStringLiteral("light2.png"), Picture(20, 10, 0xFF0A1E32u)));
    EXPECT_FALSE(Get(QStringLiteral("Shape1"))->isVisible());
    EXPECT_FALSE(Get(QStringLiteral("Shape2"))->isVisible());
    EXPECT_FALSE(W->State().Image.DarkApplied);
    EXPECT_FALSE(W->State().Image.FlatApplied);
    Dialogs.Answer(Save(QStringLiteral("dark.png"), Picture(20, 10, 0xFF1E0A0Au)));
    ClickButton("BitBtn10");
    EXPECT_TRUE(W->State().Image.DarkApplied);
}

// --- Check points -----------------------------------------------------------

class CheckPointTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        QImage img = Picture(800, 600, 0xFF203040u);
        img.setPixel(120, 45, 0xFF111410u);
        OpenPicture(Save(QStringLiteral("trail.png"), img));
    }
    void Place(const char* button, QPoint view)
    {
        ClickButton(button);
        Click(Viewport(), view);
    }
    QPoint Edits(int kind)
    {
        const int first = 10 + 2 * kind;
        return {TIntSpinEdit::TextToInt(EditText(QStringLiteral("RxSpinEdit%1").arg(first))),
                TIntSpinEdit::TextToInt(EditText(QStringLiteral("RxSpinEdit%1").arg(first + 1)))};
    }
};

TEST_F(CheckPointTest, PlacingThreePointsAt200Percent)
{
    SetZoom(200);
    ClickButton("BitBtn4");
    EXPECT_EQ(Panel(1), QStringLiteral("Select START point"));
    Press(Viewport(), QPoint(101, 50));
    EXPECT_EQ(View()->LayerCount(), 1);
    EXPECT_EQ(Edits(0), QPoint(50, 25)); // 50.5 rounds to the even 50
    EXPECT_EQ(Panel(2), QStringLiteral("[50, 25] = [A:255, R:32, G:48, B:64]"));
    Release(Viewport(), QPoint(101, 50));
    EXPECT_TRUE(Panel(1).isEmpty());

    Place("BitBtn5", QPoint(303, 50));
    EXPECT_EQ(Edits(1), QPoint(152, 25)); // 151.5 rounds to the even 152
    EXPECT_TRUE(Panel(1).isEmpty());
    Place("BitBtn9", QPoint(400, 300));
    EXPECT_EQ(Edits(2), QPoint(200, 150));
    EXPECT_TRUE(Panel(1).isEmpty());

    ASSERT_EQ(View()->LayerCount(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(View()->Layer(k)->Tag(), k + 1);
        const QPoint p = Edits(k);
        EXPECT_EQ(LayerLocation(k), QRectF(p.x() - 16, p.y() - 16, 33, 33)) << k;
    }
    // The marker's open centre lies on its point at this zoom.
    const QRectF r = View()->LayerViewRect(*View()->Layer(2));
    EXPECT_EQ(r.topLeft() + QPointF(16 * 2, 16 * 2), QPointF(400, 300));
    EXPECT_EQ(W->State().PlacingMode, NoPlacing);
}

TEST_F(CheckPointTest, PressAt100PercentReadsThePixel)
{
    SetZoom(100);
    Place("BitBtn4", QPoint(120, 45));
    EXPECT_EQ(Edits(0), QPoint(120, 45));
    EXPECT_EQ(Panel(2), QStringLiteral("[120, 45] = [A:255, R:17, G:20, B:16]"));
    // Unarmed presses only read: one past the last pixel is white.
    View()->horizontalScrollBar()->setValue(View()->horizontalScrollBar()->maximum());
    const int x = static_cast<int>(800 + View()->OffsetHorz());
    Click(Viewport(), QPoint(x, 10));
    EXPECT_EQ(Panel(2), QStringLiteral("[800, 10] = [A:255, R:255, G:255, B:255]"));
    EXPECT_EQ(View()->LayerCount(), 1);
}

TEST_F(CheckPointTest, ArmingOutOfOrderIsRefused)
{
    ClickButton("BitBtn5");
    ExpectRefusal(QStringLiteral("You muss define START point first!"));
    EXPECT_EQ(W->State().PlacingMode, NoPlacing);
    EXPECT_TRUE(Panel(1).isEmpty());
    SetZoom(100);
    Place("BitBtn4", QPoint(50, 50));
    ClickButton("BitBtn9");
    ExpectRefusal(QStringLiteral("You muss define START and STOP point first!"));
    EXPECT_EQ(W->State().PlacingMode, NoPlacing);
    EXPECT_EQ(Dialogs.Messages.size(), 2u);
}

TEST_F(CheckPointTest, RightPressPlacesNothingAndReleaseDisarms)
{
    SetZoom(100);
    ClickButton("BitBtn4");
    Press(Viewport(), QPoint(60, 70), Qt::RightButton);
    EXPECT_EQ(View()->LayerCount(), 0);
    EXPECT_EQ(Panel(2), QStringLiteral("[60, 70] = [A:255, R:32, G:48, B:64]"));
    EXPECT_EQ(Panel(1), QStringLiteral("Select START point"));
    Release(Viewport(), QPoint(60, 70), Qt::RightButton);
    EXPECT_TRUE(Panel(1).isEmpty());
    Click(Viewport(), QPoint(60, 70));
    EXPECT_EQ(View()->LayerCount(), 0);
}

TEST_F(CheckPointTest, DraggingAMarker)
{
    SetZoom(200);
    Place("BitBtn4", QPoint(101, 50)); // START (50, 25), marker over view 68..134, 18..84
    Press(Viewport(), QPoint(100, 50));
    EXPECT_TRUE(W->MarkerDragging());
    Drag(Viewport(), QPoint(141, 61)); // 70.5, 30.5: both to the even neighbour
    EXPECT_EQ(Edits(0), QPoint(70, 30));
    EXPECT_EQ(LayerLocation(0), QRectF(54, 14, 33, 33));
    // The marker keeps the mouse even where the pointer leaves it.
    Drag(Viewport(), QPoint(400, 300));
    EXPECT_EQ(Edits(0), QPoint(200, 150));
    Release(Viewport(), QPoint(400, 300));
    EXPECT_FALSE(W->MarkerDragging());
    Drag(Viewport(), QPoint(500, 300), Qt::NoButton);
    EXPECT_EQ(Edits(0), QPoint(200, 150));
}

TEST_F(CheckPointTest, DraggingWhileArmedMovesTheArmedPoint)
{
    SetZoom(100);
    Place("BitBtn4", QPoint(50, 50));
    ClickButton("BitBtn4");
    Press(Viewport(), QPoint(300, 200)); // START exists: nothing placed
    EXPECT_EQ(View()->LayerCount(), 1);
    EXPECT_EQ(Edits(0), QPoint(50, 50));
    Drag(Viewport(), QPoint(320, 210));
    EXPECT_EQ(Edits(0), QPoint(320, 210));
    EXPECT_EQ(LayerLocation(0), QRectF(304, 194, 33, 33));
    Release(Viewport(), QPoint(320, 210));
    EXPECT_EQ(W->State().PlacingMode, NoPlacing);
    Drag(Viewport(), QPoint(330, 220));
    EXPECT_EQ(Edits(0), QPoint(320, 210));
}

TEST_F(CheckPointTest, PressOnAMarkerWhileArmedPlacesAndDragsTheOlderMarker)
{
    SetZoom(200);
    Place("BitBtn4", QPoint(101, 50)); // START (50, 25)
    ClickButton("BitBtn5");
    Press(Viewport(), QPoint(101, 50)); // on the START marker
    ASSERT_EQ(View()->LayerCount(), 2);
    EXPECT_EQ(Edits(1), QPoint(50, 25));
    Drag(Viewport(), QPoint(141, 61));
    Release(Viewport(), QPoint(141, 61));
    EXPECT_EQ(Edits(0), QPoint(70, 30)); // START moved
    EXPECT_EQ(Edits(1), QPoint(50, 25)); // STOP stayed
    EXPECT_EQ(LayerLocation(1), QRectF(34, 9, 33, 33));
}

TEST_F(CheckPointTest, TypingCoordinatesMovesExistingMarkersOnly)
{
    SetZoom(100);
    Place("BitBtn4", QPoint(50, 60));
    Type("RxSpinEdit10", QStringLiteral("100"));
    EXPECT_EQ(LayerLocation(0), QRectF(84, 44, 33, 33));
    Type("RxSpinEdit11", QStringLiteral("-20"));
    EXPECT_EQ(LayerLocation(0), QRectF(84, -36, 33, 33));
    Type("RxSpinEdit14", QStringLiteral("7"));
    EXPECT_EQ(View()->LayerCount(), 1);
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit14")), QStringLiteral("7"));
    Type("RxSpinEdit10", QStringLiteral("x"));
    EXPECT_EQ(LayerLocation(0), QRectF(-16, -36, 33, 33));
}

TEST_F(CheckPointTest, OpeningRemovesMarkersButKeepsCoordinatesAndArming)
{
    SetZoom(100);
    Place("BitBtn4", QPoint(50, 60));
    Place("BitBtn5", QPoint(150, 60));
    ClickButton("BitBtn9");
    OpenPicture(Save(QStringLiteral("next.png"), Picture(800, 600, 0xFF000000u)));
    EXPECT_EQ(View()->LayerCount(), 0);
    EXPECT_EQ(Edits(1), QPoint(150, 60));
    EXPECT_EQ(W->State().PlacingMode, 2);
    // The armed IN-LINE is created as the first layer with its own kind.
    SetZoom(100);
    Click(Viewport(), QPoint(70, 80));
    ASSERT_EQ(View()->LayerCount(), 1);
    EXPECT_EQ(View()->Layer(0)->Tag(), 3);
    EXPECT_EQ(Edits(2), QPoint(70, 80));
}

// --- Zoom -------------------------------------------------------------------

TEST_F(WindowTest, RatioButtonsSetTheirZoom)
{
    ClickButton("SpeedButton2"); // already 100: nothing changes
    EXPECT_EQ(Label(QStringLiteral("Label34")), QStringLiteral("&Zoom: 100%"));
    const std::vector<std::pair<const char*, int>> buttons = {
        {"SpeedButton4", 33}, {"SpeedButton1", 50}, {"SpeedButton3", 200}, {"SpeedButton5", 300}, {"SpeedButton2", 100}};
    for (const auto& [name, zoom] : buttons) {
        ClickButton(name);
        EXPECT_EQ(Zoom(), zoom) << name;
        EXPECT_EQ(Label(QStringLiteral("Label34")), QStringLiteral("Zoom: %1%").arg(zoom));
        EXPECT_EQ(View()->Scale(), static_cast<float>(zoom / 100.0L)) << name;
    }
}

TEST_F(WindowTest, FitWithoutPictureReportsTheDivisionByZero)
{
    ClickButton("SpeedButton6");
    ExpectErrorReport(QStringLiteral("Floating point division by zero."));
    EXPECT_EQ(Zoom(), 100);
    EXPECT_EQ(Label(QStringLiteral("Label34")), QStringLiteral("&Zoom: 100%"));
}

TEST_F(WindowTest, ReadoutWithoutPictureIsWhite)
{
    Pages()->setCurrentIndex(1);
    Click(Viewport(), QPoint(10, 20));
    EXPECT_EQ(Panel(2), QStringLiteral("[10, 20] = [A:255, R:255, G:255, B:255]"));
}

// --- Finding the trail ------------------------------------------------------

// A bright arc on a dark, slightly noisy sky.
QImage TrailPicture()
{
    QImage img(800, 600, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const int v = 10 + (x * 7 + y * 13) % 3;
            img.setPixel(x, y, qRgb(v, v, v));
        }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(170, 170, 170), 3, Qt::SolidLine, Qt::FlatCap));
    QPainterPath arc(QPointF(70, 360));
    arc.quadTo(QPointF(320, 270), QPointF(580, 340));
    p.drawPath(arc);
    return img;
}

class FindTrailTest : public CheckPointTest {
protected:
    // What the finder itself makes of the picture the window holds.
    TTrailPoints Expected()
    {
        const TTrailSearch s = FindTrail(TRasterSamples(W->State().Image.Bitmap));
        EXPECT_TRUE(s.Points) << s.Message;
        return s.Points.value_or(TTrailPoints{});
    }
};

TEST_F(FindTrailTest, PlacesTheThreeMarkersAsClicksWouldAndTheyStayDraggable)
{
    OpenPicture(Save(QStringLiteral("arc.png"), TrailPicture()));
    SetZoom(100);
    Place("BitBtn4", QPoint(30, 30)); // an old START, to be replaced
    const TTrailPoints expected = Expected();
    EXPECT_NEAR(expected.Start.X, 70, 3);
    EXPECT_NEAR(expected.Stop.X, 580, 3);

    ClickButton("FindTrailButton");
    EXPECT_TRUE(Dialogs.Messages.empty());
    ASSERT_EQ(View()->LayerCount(), 3);
    const TIntPoint points[3] = {expected.Start, expected.Stop, expected.InLine};
    for (int k = 0; k < 3; ++k) {
        const QPoint p(points[k].X, points[k].Y);
        EXPECT_EQ(Edits(k), p) << k;
        EXPECT_EQ(View()->Layer(k)->Tag(), k + 1);
        EXPECT_EQ(LayerLocation(k), QRectF(p.x() - 16, p.y() - 16, 33, 33)) << k;
    }
    EXPECT_TRUE(Panel(1).isEmpty());
    EXPECT_TRUE(Panel(2).startsWith(QStringLiteral("[%1, %2] = ").arg(points[2].X).arg(points[2].Y))) << Panel(2).toStdString();
    EXPECT_EQ(W->State().PlacingMode, NoPlacing);

    // The STOP marker drags like a placed one.
    const QPoint stop(points[1].X, points[1].Y);
    Press(Viewport(), stop + QPoint(1, 0));
    EXPECT_TRUE(W->MarkerDragging());
    Drag(Viewport(), stop + QPoint(-9, 4));
    Release(Viewport(), stop + QPoint(-9, 4));
    EXPECT_EQ(Edits(1), stop + QPoint(-9, 4));

    // The Graph tab takes them as placed by hand.
    ClickButton("BitBtn6");
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_EQ(Pages()->currentWidget()->objectName(), QStringLiteral("TabSheet3"));
}

TEST_F(FindTrailTest, TheMenuItemDoesTheSameFromAnyTab)
{
    OpenPicture(Save(QStringLiteral("arc.png"), TrailPicture()));
    Pages()->setCurrentIndex(0);
    Action("FindTrail1")->trigger();
    ASSERT_EQ(View()->LayerCount(), 3);
    EXPECT_EQ(Edits(2), QPoint(Expected().InLine.X, Expected().InLine.Y));
}

TEST_F(FindTrailTest, RefusalsLeaveTheMarkersAlone)
{
    // The fixture's picture is one flat colour and a single dark pixel.
    SetZoom(100);
    Place("BitBtn4", QPoint(30, 30));
    ClickButton("FindTrailButton");
    ExpectRefusal(QStringLiteral("No star trail found: nothing stands out from the background"));
    EXPECT_EQ(View()->LayerCount(), 1);
    EXPECT_EQ(Edits(0), QPoint(30, 30));
}

TEST_F(WindowTest, FindTrailWithoutPictureIsRefused)
{
    Action("FindTrail1")->trigger();
    ExpectRefusal(QStringLiteral("Image is not loaded. You must image load first!"));
}

TEST_F(WindowTest, FindTrailTakesALetterNothingElseUses)
{
    // Every mnemonic a user can reach: tabs, menus, the Image menu's items
    // and every captioned control.
    QStringList captions;
    for (int i = 0; i < Pages()->count(); ++i)
        captions << Pages()->tabText(i);
    for (QAction* menu : W->menuBar()->actions()) {
        captions << menu->text();
        if (menu->text() == QLatin1String("Image"))
            for (QAction* item : menu->menu()->actions())
                captions << item->text();
    }
    for (QAbstractButton* b : W->findChildren<QAbstractButton*>())
        captions << b->text();
    for (QLabel* l : W->findChildren<QLabel*>())
        captions << l->text();
    for (QGroupBox* g : W->findChildren<QGroupBox*>())
        captions << g->title();
    int uses = 0;
    for (const QString& c : captions) {
        const qsizetype at = c.indexOf(QLatin1Char('&'));
        if (at >= 0 && at + 1 < c.size() && c[at + 1].toLower() == QLatin1Char('i'))
            ++uses;
    }
    EXPECT_EQ(uses, 2); // the button and the menu item
    EXPECT_EQ(Get<QPushButton>(QStringLiteral("FindTrailButton"))->text(), QStringLiteral("F&ind trail"));
}

// --- Menus ------------------------------------------------------------------

TEST_F(WindowTest, MenuItemsDoWhatTheirButtonsDoFromAnyTab)
{
    Pages()->setCurrentIndex(2);
    Action("ApplyDark1")->trigger();
    ExpectRefusal(QStringLiteral("Image is not loaded. You must image load first!"));
    Action("ApplyFlat1")->trigger();
    ExpectRefusal(QStringLiteral("Image is not loaded. You must image load first!"));

    Dialogs.Answer(Save(QStringLiteral("m.png"), Picture(30, 20, 0xFF0A0A0Au)));
    Action("Openimage2")->trigger();
    EXPECT_EQ(Panel(0), QStringLiteral("Image size: 30/20"));
    EXPECT_EQ(Pages()->currentIndex(), 2);

    Dialogs.Answer(Save(QStringLiteral("md.png"), Picture(30, 20, 0xFF050505u)));
    Action("ApplyDark1")->trigger();
    EXPECT_EQ(Panel(1), QStringLiteral("Dark image  has been applied."));
    Dialogs.Answer(Save(QStringLiteral("mf.png"), Picture(30, 20, 0xFF050505u)));
    Action("ApplyFlat1")->trigger();
    EXPECT_EQ(Panel(1), QStringLiteral("Flat image  has been applied."));

    const QString ini = Dir.filePath(QStringLiteral("menu.ini"));
    Dialogs.Answer(ini);
    Action("Openimage1")->trigger();
    EXPECT_TRUE(QFile::exists(ini));
    Type("RxSpinEdit6", QStringLiteral("200"));
    Dialogs.Answer(ini);
    Action("Open1")->trigger();
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit6")), QStringLiteral("400.0"));
    EXPECT_EQ(Dialogs.DialogsRun, (std::vector<QString>{QStringLiteral("OPD"), QStringLiteral("OPD"), QStringLiteral("OPD"),
                                                        QStringLiteral("SaveDialog1"), QStringLiteral("OpenDialog1")}));
    EXPECT_EQ(Dialogs.Messages.size(), 2u);
}

TEST_F(WindowTest, AltLettersOpenTheMenusOnEveryTab)
{
    auto* file = Get<QMenu>(QStringLiteral("File1"));
    const char* focused[3] = {"BitBtn1", "BitBtn3", "BitBtn8"};
    for (int tab = 0; tab < 3; ++tab) {
        Pages()->setCurrentIndex(tab);
        Get<QWidget>(QLatin1String(focused[tab]))->setFocus();
        // Every press, not every other one.
        for (int press = 0; press < 2; ++press) {
            QTest::keyClick(W.get(), Qt::Key_F, Qt::AltModifier);
            EXPECT_TRUE(file->isVisible()) << "tab " << tab << ", press " << press;
            QTest::keyClick(file, Qt::Key_Escape);
            EXPECT_FALSE(file->isVisible());
            W->activateWindow();
        }
    }
    EXPECT_TRUE(Dialogs.Messages.empty());

    // The colliding controls answer their plain letter inside their page.
    Pages()->setCurrentIndex(1);
    Get<QWidget>(QStringLiteral("BitBtn3"))->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F);
    ExpectRefusal(QStringLiteral("Image is not loaded. You must image load first!"));
    EXPECT_EQ(QApplication::focusWidget(), Get<QWidget>(QStringLiteral("BitBtn12")));
    // An edit field takes the letter as typing.
    Get<QWidget>(QStringLiteral("RxSpinEdit10"))->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F);
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    // Letters no menu title takes keep their Alt.
    QTest::keyClick(W.get(), Qt::Key_D, Qt::AltModifier);
    // A button's mnemonic clicks it after showing it pressed.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Dialogs.Messages.size() == 2; }, 5000));
    Pages()->setCurrentIndex(2);
    Get<QWidget>(QStringLiteral("BitBtn8"))->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F);
    EXPECT_EQ(QApplication::focusWidget(), Get<QWidget>(QStringLiteral("RadioGroup2_0")));
    EXPECT_EQ(Get<TRadioGroup>(QStringLiteral("RadioGroup2"))->title(), QStringLiteral(" &Figure "));
    EXPECT_EQ(Get<QAbstractButton>(QStringLiteral("BitBtn12"))->text(), QStringLiteral("&Flat image"));

    // File, Exit from the Image tab.
    Pages()->setCurrentIndex(1);
    Get<QWidget>(QStringLiteral("BitBtn3"))->setFocus();
    QTest::keyClick(W.get(), Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(file->isVisible());
    QTest::keyClick(file, Qt::Key_E);
    EXPECT_FALSE(W->isVisible());
}

TEST_F(WindowTest, ExitClosesAtOnce)
{
    Type("RxSpinEdit6", QStringLiteral("123"));
    Action("Exit1")->trigger();
    EXPECT_FALSE(W->isVisible());
    EXPECT_TRUE(Dialogs.Messages.empty());
}

} // namespace
} // namespace vinsk
