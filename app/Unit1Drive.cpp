// The Drive tab's place in the window: the tab and its menu, and what it
// reads of the other tabs (the check points, the calibrated picture, the
// Setup values and the Graph tab's channel).
#include "app/Unit1.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>

#include "analysis/TrailGeometry.h"
#include "app/widgets/ImageView.h"
#include "image/FrameCalibration.h"
#include "app/widgets/RadioGroup.h"
#include "app/widgets/SpinEdits.h"

namespace vinsk {

void TVinsk_main::BuildDriveTab()
{
    TabSheet4 = new TDrivePage(*this);
    PageControl1->addTab(TabSheet4, QStringLiteral("&4. Drive"));

    QMenuBar* bar = menuBar();
    auto* drive = new QMenu(QStringLiteral("D&rive"), bar);
    drive->setObjectName(QStringLiteral("Drive1"));
    auto item = [drive](const char* name, const QString& caption) {
        QAction* a = drive->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    QAction* analyse = item("AnalyseDrive1", QStringLiteral("&Analyse drive"));
    QAction* guideLog = item("AnalyseGuideLog1", QStringLiteral("Analyse a &guide log…"));
    QAction* swap = item("SwapPoints2", QStringLiteral("S&wap START and STOP"));
    drive->addSeparator();
    const std::pair<const char*, const char*> saves[] = {
        {"SaveDriveChart1", "Save the &chart (PNG, SVG, PDF)…"},
        {"SaveDriveSeries1", "Save the &series (CSV)…"},
        {"SaveDriveReport1", "Save the &report (JSON)…"},
        {"SaveDrivePec1", "Save the &PEC table…"},
    };
    const int formats[] = {DriveExportPng, DriveExportCsv, DriveExportJson, DriveExportPec};
    QAction* addRun = nullptr;
    QAction* saveAverage = nullptr;
    QMenu* help = bar->findChild<QMenu*>(QStringLiteral("Help1"));
    bar->insertMenu(help ? help->menuAction() : nullptr, drive);

    Wire(analyse, &QAction::triggered, &TVinsk_main::AnalyseDrive1Click);
    Wire(guideLog, &QAction::triggered, &TVinsk_main::AnalyseGuideLog1Click);
    Wire(swap, &QAction::triggered, &TVinsk_main::SwapPointsClick);
    // The same command on the Image menu, beside Find trail.
    if (QMenu* image = bar->findChild<QMenu*>(QStringLiteral("Image2"))) {
        QAction* a = image->addAction(QStringLiteral("S&wap START and STOP"));
        a->setObjectName(QStringLiteral("SwapPoints1"));
        Wire(a, &QAction::triggered, &TVinsk_main::SwapPointsClick);
    }
    for (std::size_t i = 0; i < std::size(saves); ++i) {
        QAction* a = item(saves[i].first, QString::fromUtf8(saves[i].second));
        const int format = formats[i];
        connect(a, &QAction::triggered, this, [this, format] { RunCommand([&] { SaveDrive1Click(format); }); });
        TabSheet4->AddExportAction(a);
    }
    drive->addSeparator();
    addRun = item("AddDriveRun1", QStringLiteral("Add a saved r&un…"));
    saveAverage = item("SaveDriveAverage1", QStringLiteral("Save the a&veraged PEC…"));
    connect(addRun, &QAction::triggered, this, [this] {
        RunCommand([this] {
            PageControl1->setCurrentWidget(TabSheet4);
            TabSheet4->AddRunClick();
        });
    });
    connect(saveAverage, &QAction::triggered, this, [this] { RunCommand([this] { TabSheet4->SaveAverageClick(); }); });
    // A change on another tab leaves the result on show out of date.
    connect(drive, &QMenu::aboutToShow, this, [this] { RunCommand([this] { TabSheet4->UpdateActions(); }); });

    // What the analysis reads of the other tabs; a change reruns it when
    // the tab shows, or when it is next shown.
    connect(Image1, &TImageView::PictureChanged, this, [this] {
        ++FPictureChange; // the copy is stale; the next run makes a new one
        RunCommand([this] { DriveInputsChanged(); });
    });
    for (auto& point : PointEdits)
        for (TIntSpinEdit* edit : point)
            connect(edit, &TIntSpinEdit::Change, this, [this] { RunCommand([this] { DriveInputsChanged(); }); });
    for (TFloatSpinEdit* edit : SetupEdits)
        connect(edit, &TFloatSpinEdit::Change, this, [this] { RunCommand([this] { DriveInputsChanged(); }); });
    connect(RadioGroup1, &TRadioGroup::Click, this, [this] { RunCommand([this] { TabSheet4->GraphChannelChanged(); }); });
}

void TVinsk_main::DriveInputsChanged()
{
    TabSheet4->InputsChanged();
}

void TVinsk_main::AnalyseDrive1Click()
{
    PageControl1->setCurrentWidget(TabSheet4);
    TabSheet4->AnalyseClick();
}

void TVinsk_main::AnalyseGuideLog1Click()
{
    if (TabSheet4->GuideLogClick())
        PageControl1->setCurrentWidget(TabSheet4);
}

void TVinsk_main::SaveDrive1Click(int format)
{
    TabSheet4->ExportClick(format);
}

bool TVinsk_main::ReadDriveInput(TDriveInput& input, std::uint64_t& pictureChange, std::string& refusal)
{
    pictureChange = FPictureChange;
    input.Setup = FDriveSetup;
    input.FlatApplied = FState.Image.FlatApplied;
    const TCheckPointEdits edits = ReadCheckPointEdits();
    std::tie(input.Start, input.Stop, input.InLine) = CheckPointsAs<TDrivePoint>(edits);
    if (FState.Image.Bitmap.Empty()) {
        refusal = "Open the picture of the trail on the Image tab, then place its three check points.";
        return false;
    }
    if (Image1->LayerCount() < 3) {
        refusal = "Place the three check points (START, STOP, IN-LINE) on the Image tab.";
        return false;
    }
    // The boxes keep their numbers when another picture opens.
    const int w = FState.Image.Bitmap.Width(), h = FState.Image.Bitmap.Height();
    for (std::size_t i = 0; i < edits.size(); i += 2)
        if (edits[i] < 0 || edits[i] >= w || edits[i + 1] < 0 || edits[i + 1] >= h) {
            refusal = "The check points lie outside the picture (" + std::to_string(w) + "\u00d7" + std::to_string(h) +
                      "): place them again";
            return false;
        }
    return true;
}

std::shared_ptr<const TDrivePicture> TVinsk_main::PictureSnapshot()
{
    // The worker reads its own copy: the picture may be replaced or
    // calibrated while it runs. One copy serves until the picture changes.
    if (!FDriveSnapshot || FDriveSnapshotChange != FPictureChange) {
        // A copy no worker holds any more takes the new pixels in its own
        // storage: a fresh 100 MB block costs page faults on every write.
        if (!FDriveSnapshot || FDriveSnapshot.use_count() != 1)
            FDriveSnapshot = std::make_shared<TDrivePicture>();
        FDriveSnapshot->Bitmap = FState.Image.Bitmap;
        FDriveSnapshot->Linear = FState.Image.Linear;
        FDriveSnapshot->Transfer = FState.Image.Transfer;
        FDriveSnapshot->FlatOffsetFromDark = FlatOffsetFromDark(FState.Image);
        // After a load the status names the samples kept; with none kept it
        // says which frame dropped them.
        FDriveSnapshot->LinearDropped = FState.Image.Linear.Empty() ? FState.Status.Linear : std::string();
        FDriveSnapshotChange = FPictureChange;
    }
    return FDriveSnapshot;
}

int TVinsk_main::GraphChannel() const
{
    return RadioGroup1->ItemIndex();
}

double TVinsk_main::MountSpeed() const
{
    return FDriveSetup.MountSpeed;
}

char TVinsk_main::DecimalSeparator() const
{
    return FState.DecimalSeparator;
}

TDialogs& TVinsk_main::Dialogs()
{
    return FDialogs;
}

void TVinsk_main::Run(const std::function<void()>& command)
{
    RunCommand(command);
}

std::string TVinsk_main::ProgramVersion() const
{
    return FVersion.FileVersionText.toStdString();
}

std::string TVinsk_main::PictureName() const
{
    return FPictureName;
}

} // namespace vinsk
