// The Drive tab: the drive analysis of the trail on the chart (TDriveChart)
// and its side panel (results, peak table, inputs). The analysis runs on a
// worker thread on a copy of the picture; the last result stays on show
// until a newer one replaces it or a refusal says that none holds, and a
// newer request supersedes one that is still running. The exports are
// enabled only for a result that holds for the inputs as they stand.
#pragma once

#include <QFutureWatcher>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/dialogs/Dialogs.h"
#include "drive/DriveAnalysis.h"
#include "guidelog/GuideLog.h"
#include "setup/FileValues.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QAction;

namespace vinsk {

class TDriveChart;
class TRunsBox;

// What the worker reads: the picture and, for deep pictures, its linear samples.
struct TDrivePicture {
    TBitmap32 Bitmap;
    TLinearPlane Linear;
    std::string LinearDropped; // the status text when a frame dropped the linear samples
    TTransfer Transfer;        // how the picture's stored values were read as light
    bool FlatOffsetFromDark = false; // the flat's offset came from the dark frame
};
class TRadioGroup;

// What the tab needs of the window.
class TDriveHost {
public:
    virtual ~TDriveHost() = default;
    // The check points and the Setup values as they stand now, and the
    // number of the picture's last change. False, with the reason, when the
    // analysis cannot run yet. Cheap: called to tell whether anything changed.
    virtual bool ReadDriveInput(TDriveInput& input, std::uint64_t& pictureChange, std::string& refusal) = 0;
    // A copy of the picture (and its linear samples) that later edits leave
    // alone, made once per change.
    virtual std::shared_ptr<const TDrivePicture> PictureSnapshot() = 0;
    virtual int GraphChannel() const = 0; // the Graph tab's channel, 0 R ... 3 Avg
    virtual double MountSpeed() const = 0; // arc seconds per second, as the analysis reads it
    virtual char DecimalSeparator() const = 0;
    virtual TDialogs& Dialogs() = 0;
    // Runs a command through the window's guard.
    virtual void Run(const std::function<void()>& command) = 0;
    // For the PEC files' first line: the program's version and the picture's
    // file name.
    virtual std::string ProgramVersion() const = 0;
    virtual std::string PictureName() const = 0;
    // For the report, so that a saved run names its picture: the file's
    // modification time and the exposure's start its header gives.
    virtual std::string PictureModified() const { return {}; }
    virtual std::string ExposureStart() const { return {}; }
};

// Entries of the export dialog's filter, 1-based as the dialog reports them.
enum TDriveExport : int {
    DriveExportPng = 1,
    DriveExportSvg,
    DriveExportPdf,
    DriveExportCsv,
    DriveExportJson,
    DriveExportPec,
    DriveExportEqmod,
    DriveExportCelestron,     // a table over 7200 arc seconds
    DriveExportCelestron3600, // ... over 3600
};

class TDrivePage : public QWidget {
    Q_OBJECT
public:
    explicit TDrivePage(TDriveHost& host, QWidget* parent = nullptr);
    ~TDrivePage() override;

    TDriveSettings Settings() const;
    // Sets the inputs; analyses again when they changed.
    void SetSettings(const TDriveSettings& settings);
    // The side the star started from, as the user placed or swapped the
    // points; kept with the [Drive] settings.
    void SetStartSide(TStartSide side);
    // One exposure's phase reference and the mount's properties.
    TPhaseInput Phase() const;
    // Another picture: its phase is not the old one's.
    void NewExposure();
    // The phase keys a captured picture's file holds, taken on the user's Yes.
    void TakeFilePhase(const TFileSetupValues& values);

    // "Analyse drive": like an input change, but a refusal also shows a box.
    // Returns from a guide log to the trail.
    void AnalyseClick();
    // "Analyse a guide log…": asks for the log and, when it holds several,
    // the section, then analyses that in place of the trail. False when the
    // user cancelled or the log could not be read (a box says why).
    bool GuideLogClick();
    // A section (1-based) of the log at `path`, in place of the trail.
    void ShowGuideLog(const QString& path, int section);
    bool ShowsGuideLog() const { return !FGuideLog.Path.empty(); }
    // The picture, check points, Setup or the Graph tab's channel may have
    // changed: analyses at once when the tab shows, else when it is shown.
    void InputsChanged();
    // The Graph tab chose another channel.
    void GraphChannelChanged();
    // Asks for a file and writes the chosen export; `preselect` is the
    // filter entry offered first. A typed extension of one of the offered
    // types chooses that type; any other is kept and the chosen type written.
    void ExportClick(int preselect = 0);
    void Export(int format, const QString& fileName);
    // Actions elsewhere (the Drive menu's) that export: enabled with the
    // tab's own export button.
    void AddExportAction(QAction* action);
    // Whether the result on show holds for the inputs as they stand now.
    bool ResultHolds();
    // Enables the exports when the result on show holds.
    void UpdateActions();

    // The result on show: null before the first and after a refusal or a
    // change of the inputs that gave none; and whether a run is going.
    std::shared_ptr<const TDriveResult> Result() const { return FResult; }
    bool Busy() const;
    TDriveChart* Chart() const { return FChart; }

    // The Runs figure: a saved report added to the runs, and the runs'
    // averaged PEC saved.
    void AddRunClick();
    void SaveAverageClick();
    TRunsBox* Runs() const { return FRuns; }

signals:
    // A result (or refusal) replaced the one on show.
    void ResultShown();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void BuildPanel(QWidget* panel);
    void Request(bool explicitClick);
    void Launch();
    void Finished();
    void ShowResult();
    // No result holds: the chart shows the reason, the panel nothing.
    void ClearResult(const QString& reason);
    void UpdateBusy();
    void ShowFigure();
    void ShowMessage(const QString& text, bool refusal);
    void FillTable();
    void CopyRows();
    void TeethClick();
    void ChannelClick();
    void PeakSnapped(int index);
    TChannel Channel() const;
    // The inputs the window holds, compared whole to tell whether a hidden
    // tab missed a change.
    // A guide log's section shown in place of the trail; Load tells two
    // choices of the same file apart (it may have grown meanwhile).
    struct TGuideLogChoice {
        std::string Path;
        std::string Name; // the file's name, for the texts
        int Section = 0;
        std::uint64_t Load = 0;
        bool operator==(const TGuideLogChoice&) const = default;
    };
    struct TInputKey {
        bool Ok = false;
        std::string Refusal;
        std::uint64_t PictureChange = 0;
        TDriveInput Input;
        TGuideLogChoice GuideLog; // no path: the trail
        bool operator==(const TInputKey&) const = default;
    };
    // What a run gives: the result and, for a guide log, the series it
    // read, kept for the next run on the same section.
    struct TDriveRun {
        TDriveResult Result;
        std::shared_ptr<const TGuideSeries> Series;
    };
    void ShowSource();
    void LaunchGuideLog(const TInputKey& key);
    TInputKey InputKey();

    TDriveHost& FHost;
    TDriveChart* FChart = nullptr;
    QLabel* FReadout = nullptr;
    QPushButton* FAnalyse = nullptr;
    QProgressBar* FBusy = nullptr;
    QLabel* FMessage = nullptr;
    TRadioGroup* FFigure = nullptr;
    QCheckBox* FShowDrift = nullptr;
    QLabel* FPeakToPeak = nullptr;
    QLabel* FRms = nullptr;
    QLabel* FMax = nullptr;
    QLabel* FDrift = nullptr;
    QLabel* FRate = nullptr;
    QLabel* FLongest = nullptr;
    QLabel* FWorm = nullptr;
    QLabel* FSpread = nullptr;
    QLabel* FResidual = nullptr;
    QLabel* FScale = nullptr;
    QLabel* FPhase = nullptr;
    QLabel* FDirection = nullptr; // under the chart: which end is START
    QDoubleSpinBox* FWormPhase = nullptr;
    QSpinBox* FMotorStart = nullptr;
    QSpinBox* FStepsPerWorm = nullptr;
    QComboBox* FHemisphere = nullptr;
    QCheckBox* FInvert = nullptr;
    QTableWidget* FPeaks = nullptr;
    QDoubleSpinBox* FWormPeriod = nullptr;
    QSpinBox* FTeeth = nullptr;
    QPushButton* FFromTeeth = nullptr;
    QDoubleSpinBox* FTolerance = nullptr;
    QComboBox* FDetrend = nullptr;
    QSpinBox* FHarmonics = nullptr;
    QDoubleSpinBox* FHalfWidth = nullptr;
    TRadioGroup* FChannel = nullptr;
    QCheckBox* FFollowGraph = nullptr;
    QPushButton* FExport = nullptr;
    QSpinBox* FExportWidth = nullptr;  // px of the PNG and SVG pictures
    QSpinBox* FExportHeight = nullptr;
    std::vector<QAction*> FExportActions;
    TFileDialog FSaveDialog;
    // The inputs at full precision: the fields show them rounded.
    TDriveSettings FSettings;
    // The uncertainty of a motor count a captured picture recorded; it goes
    // with that count and not with one typed over it.
    double FMotorStartSigma = std::numeric_limits<double>::quiet_NaN();

    QFutureWatcher<TDriveRun>* FWatcher = nullptr;
    std::shared_ptr<const TDriveResult> FResult;
    QString FNoResult; // why there is none, for the chart's title
    bool FRunning = false;         // launched, its result not yet taken
    bool FPending = false;         // a request waits for the running one
    bool FExplicitPending = false; // ... and came from a click
    bool FExplicitRunning = false;
    TInputKey FRunningKey;
    TInputKey FShownKey; // the inputs of the result or refusal on show
    std::vector<int> FShownPeaks; // the table's rows: indices into the result's peaks

    QLabel* FSource = nullptr; // above the chart while a guide log is shown
    TFileDialog FGuideLogDialog;
    TGuideLogChoice FGuideLog;
    std::uint64_t FGuideLogLoads = 0;
    // The series read for FGuideLog, and the one of the result on show
    // (null for a trail) with its choice, for the report.
    std::shared_ptr<const TGuideSeries> FGuideSeries;
    std::shared_ptr<const TGuideSeries> FShownSeries;
    TGuideLogChoice FShownGuideLog;
    TRunsBox* FRuns = nullptr;
};

} // namespace vinsk
