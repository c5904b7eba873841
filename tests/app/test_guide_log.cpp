// The Drive tab on a guiding program's log, reached through the Drive menu
// as a user reaches it: a real mount's log whose worm period is known, the
// outputs against vinsk-cli's, and the section choice.
#include <QDoubleSpinBox>
#include <QFile>
#include <QRegularExpression>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "WindowFixture.h"
#include "app/drive/DriveChart.h"
#include "app/drive/DrivePage.h"
#include "tools/cli/CliGuideLog.h"
#include "tools/cli/CliOptions.h"

namespace vinsk {
namespace {

using namespace vinsk::test;

const QString Dataset04 = QStringLiteral(VINSK_SOURCE_DIR "/samples/guide-logs/performance_dataset04.txt");

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What vinsk-cli writes for the same log, run in this process.
void RunCli(std::vector<std::string> args)
{
    const cli::TCliParse p = cli::ParseCommandLine(args, '.');
    ASSERT_FALSE(p.Problem) << *p.Problem;
    std::FILE* out = std::tmpfile();
    ASSERT_EQ(cli::RunGuideLog(p.Command.Options, p.Command.Drive, '.', out, out), 0);
    std::fclose(out);
}

class GuideLogTest : public WindowTest {
protected:
    TDrivePage* Page() { return Get<TDrivePage>(QStringLiteral("TabSheet4")); }
    // As the Drive menu's item does it, the file dialog answered.
    void Open(const QString& path)
    {
        Dialogs.Answer(path);
        Action("AnalyseGuideLog1")->trigger();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !Page()->Busy(); }, 20000));
    }
    bool PhotometryEnabled()
    {
        return Get(QStringLiteral("DriveHalfWidth"))->isEnabled() && Get(QStringLiteral("DriveChannel"))->isEnabled() &&
               Get(QStringLiteral("DriveFollowGraph"))->isEnabled();
    }
};

TEST_F(GuideLogTest, TheRealLogShowsTheMountsWormPeriodAndSavesWhatTheCommandLineWrites)
{
    Open(Dataset04);
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages[0].Text.toStdString();
    EXPECT_EQ(QtFilterList(Dialogs.Shown.back().Filter), QStringList{QStringLiteral("Guide logs (*.txt *.csv *.log)")});
    EXPECT_EQ(Pages()->currentWidget(), Page());
    ASSERT_TRUE(Page()->Result());
    EXPECT_EQ(Label(QStringLiteral("DriveSource")),
              QStringLiteral("Source: guide log performance_dataset04.txt, section 1"));
    // This mount family's worm turns in 382.95 s.
    const QRegularExpressionMatch worm =
        QRegularExpression(QStringLiteral("^Worm period: ([0-9.]+) s \\(estimated\\)$")).match(Label(QStringLiteral("DriveWorm")));
    ASSERT_TRUE(worm.hasMatch()) << Label(QStringLiteral("DriveWorm")).toStdString();
    EXPECT_NEAR(worm.captured(1).toDouble(), 382.95, 0.01 * 382.95);
    EXPECT_FALSE(PhotometryEnabled());

    // The report and the PEC table from the menu, byte for byte as vinsk-cli
    // writes them.
    const QString json = Dir.filePath(QStringLiteral("log.json")), pec = Dir.filePath(QStringLiteral("pec.txt"));
    Dialogs.Answer(json, DriveExportJson);
    Action("SaveDriveReport1")->trigger();
    Dialogs.Answer(pec, DriveExportPec);
    Action("SaveDrivePec1")->trigger();
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages[0].Text.toStdString();
    const QString cliJson = Dir.filePath(QStringLiteral("cli.json")), cliPec = Dir.filePath(QStringLiteral("cli.txt"));
    RunCli({"--guide-log", Dataset04.toStdString(), "--json", cliJson.toStdString(), "--pec", cliPec.toStdString()});
    EXPECT_EQ(FileBytes(json), FileBytes(cliJson));
    EXPECT_TRUE(FileBytes(json).contains("\"source\": \"guide_log\""));
    EXPECT_EQ(FileBytes(pec), FileBytes(cliPec));
    EXPECT_FALSE(FileBytes(pec).isEmpty());

    // A changed input analyses the section again; "Analyse drive" returns
    // to the trail, which has no picture here.
    Get<QDoubleSpinBox>(QStringLiteral("DriveWormPeriod"))->setValue(382.95);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Page()->Busy(); }, 20000));
    EXPECT_EQ(Page()->Result()->WormSource, TWormSource::Given);
    Action("AnalyseDrive1")->trigger();
    ExpectRefusal(QStringLiteral("Open the picture of the trail on the Image tab, then place its three check points."));
    EXPECT_FALSE(Page()->Result());
    EXPECT_FALSE(Get(QStringLiteral("DriveSource"))->isVisible());
    EXPECT_TRUE(PhotometryEnabled());
}

// A log without a pixel scale: the error in guide-camera pixels, said as
// such in the panel and on the chart's axis. The guiding program's own test
// finds a period of 483 +/- 5 s in it.
TEST_F(GuideLogTest, ALogWithoutAScaleShowsPixels)
{
    Open(QStringLiteral(VINSK_SOURCE_DIR "/samples/guide-logs/dataset01.csv"));
    ASSERT_TRUE(Page()->Result()) << Label(QStringLiteral("DriveMessage")).toStdString();
    EXPECT_NEAR(Page()->Result()->WormPeriod, 483, 5);
    EXPECT_TRUE(Label(QStringLiteral("DrivePeakToPeak")).endsWith(QStringLiteral(" px")))
        << Label(QStringLiteral("DrivePeakToPeak")).toStdString();
    auto* plot = static_cast<QCustomPlot*>(Get<TDriveChart>(QStringLiteral("DriveChart"))->PlotWidget());
    EXPECT_EQ(plot->yAxis->label().toStdString(), "Error [px]");
}

TEST_F(GuideLogTest, SeveralSectionsOfferAChoiceAndABrokenLogABox)
{
    // The real section, then its first 1000 frames as a second one.
    const QByteArray whole = FileBytes(Dataset04);
    const qsizetype cut = whole.indexOf("\n1001,");
    ASSERT_GT(cut, 0);
    const QString two = WriteFile(Dir.filePath(QStringLiteral("two.log")),
                                  whole + whole.left(cut + 1) + "Guiding Ends at 2017-02-07 22:00:00\n");
    Dialogs.Answer(two);
    Dialogs.AnswerChoice(std::nullopt);
    Action("AnalyseGuideLog1")->trigger();
    EXPECT_FALSE(Page()->Busy());
    EXPECT_FALSE(Page()->Result());
    Dialogs.AnswerChoice(1);
    Open(two);
    ASSERT_EQ(Dialogs.Choices.size(), 2u);
    const QStringList& lines = Dialogs.Choices[1];
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Section 1 of 2: 9369 s, 4286 frames, AstroPhysicsV2 driver")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Section 2 of 2: "))) << lines[1].toStdString();
    EXPECT_EQ(Dialogs.ChoicesCurrent[1], 0); // the longest
    ASSERT_TRUE(Page()->Result());
    EXPECT_EQ(Label(QStringLiteral("DriveSource")), QStringLiteral("Source: guide log two.log, section 2"));
    EXPECT_LT(Page()->Result()->Record, 0.3 * 9369);

    // Not a log: a box names the file, and the section on show stays.
    const QString bad = WriteFile(Dir.filePath(QStringLiteral("bad.log")), QByteArray("\x7f" "ELF\x02\x01\x00\x00", 8));
    Dialogs.Answer(bad);
    Action("AnalyseGuideLog1")->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_TRUE(LastMessage().Text.startsWith(QStringLiteral("bad.log: "))) << LastMessage().Text.toStdString();
    EXPECT_EQ(Label(QStringLiteral("DriveSource")), QStringLiteral("Source: guide log two.log, section 2"));
}

} // namespace
} // namespace vinsk
