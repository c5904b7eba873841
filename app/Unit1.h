// The main window: three tab sheets (Setup, Image, Graph), the menus and the
// status bar. It holds the program state and binds the commands of the core
// to the controls. Split by tab: Unit1.cpp (frame), Unit1Setup.cpp,
// Unit1Image.cpp, Unit1Graph.cpp.
#pragma once

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "app/VersionInfo.h"
#include "app/dialogs/Dialogs.h"
#include "app/drive/DrivePage.h"
#include "figures/PlotRun.h"
#include "setup/FileValues.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QScrollBar;
class QStatusBar;
class QTabWidget;
class QToolButton;

namespace vinsk {

class TFloatSpinEdit;
class TIntSpinEdit;
class TImageLayer;
class TImageView;
class TChart1;
class TRadioGroup;
class TShape;

inline constexpr std::int32_t NoPlacing = 255;

// What the window's commands work on: the program state shared with the
// plotting run, and the placing of check points.
struct TWindowState : TVinskState {
    // The check point (TCheckPointKind) that the next left press on the
    // image places, or NoPlacing.
    std::int32_t PlacingMode = NoPlacing;
};

// The window is also the plotting run's host: it reads the Graph tab's
// controls and shows the run's refusals.
class TVinsk_main : public QMainWindow, public TPlotHost, public TDriveHost {
    Q_OBJECT
public:
    // The dialogs are not owned and must outlive the window.
    explicit TVinsk_main(TDialogs& dialogs, QWidget* parent = nullptr);
    ~TVinsk_main() override;

    const TWindowState& State() const { return FState; }
    const TVersionTexts& Version() const { return FVersion; }
    bool MarkerDragging() const { return FMarkerDragging; }

    // Runs a command: what it throws ends it and is shown by the general
    // error report; the status bar follows the state afterwards either way.
    // A handler that the command itself sets off (a value set on a field, the
    // zoom bar moved by code) runs inside it: its fault is kept for the
    // command, ends it where the command set the handler off (SetOff), and
    // is reported once. It is not thrown through Qt's own frames, which are
    // not built for exceptions.
    void RunCommand(const std::function<void()>& command);

    // Commands shared by buttons and menu items.
    void OpenFile();
    void SaveFile();
    void OpenimageClick();
    // Loads the picture as Open image does, with the file's values offered.
    void OpenPictureFile(const QString& fileName);
    // Image > Capture through INDI…
    void CaptureClick();
    void CaclValue();

private:
    // Runs code that sets off handlers; a fault in one of them ends the
    // command here.
    template <typename Code>
    void SetOff(Code code)
    {
        code();
        RethrowNestedFault();
    }
    void RethrowNestedFault();

    // Connects a control's signal to a handler that runs as a command.
    template <typename Sender, typename Signal, typename... Args>
    void Wire(Sender* sender, Signal signal, void (TVinsk_main::*handler)(Args...));

    // Frame
    void FormCreate();
    void BuildMenus();
    void BuildStatusBar();
    void SetTabOrder();
    void SyncStatus();
    // Lays out a page that is not showing, as it would be if it showed.
    void LayOutPage(QWidget* page);
    void ReportError(const QString& message);
    void Exit1Click();
    void About1Click();
    void BitBtn7Click();

    // Setup tab
    QWidget* BuildSetupTab();
    void SetupFieldChange(int index);
    void RxSpinEdit1Change();
    void RxSpinEdit2Change();
    void RxSpinEdit3Change();
    void RxSpinEdit4Change();
    void RxSpinEdit5Change();
    void RxSpinEdit6Change();
    void RxSpinEdit7Change();
    void RxSpinEdit8Change();
    void RxSpinEdit9Change();

    // Image tab
    QWidget* BuildImageTab();
    void UpdateIndicators();
    void BitBtn10Click();
    void BitBtn12Click();
    void FlatDarkButtonClick();
    // Lets the open picture go, as before any was opened, when nothing but
    // its file's contents is lost; returns whether it did.
    bool ReleasePicture();
    void ApplyFrame(const char* frameName, std::optional<std::string> (*refusal)(const TImageState&),
                    void (*apply)(TImageState&, const TBitmap32&, const TLinearPlane&, TStatusPanels&));
    // After a picture loads: one question listing the Setup values its file
    // carries; on Yes they go through the Setup fields as a settings load's do.
    void OfferFileValues(const TFileSetupValues& values);
    // Each value through its Setup field, in the order given: the field shows
    // it with one decimal and, if that text is new, its handler runs.
    void SetSetupFields(const TSettingsValue* values, std::size_t count);
    // The same values, every decimal kept, for the drive analysis.
    void SetDriveSetup(const TSettingsValue* values, std::size_t count);
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn9Click();
    void FindTrailClick();
    void Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void ImageMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    void Image1MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // What a left press at an image point does while a point is armed.
    void PlaceArmedPoint(std::int32_t x, std::int32_t y);
    void ShapeMouseDown(TImageLayer* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void ShapeMouseMove(TImageLayer* sender, Qt::KeyboardModifiers shift, int x, int y);
    void ShapeMouseUp(TImageLayer* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void CreateMarker(std::int32_t x, std::int32_t y, std::int32_t kind);
    void MoveMarkerToEdits(int kind);
    void SetPointEdits(int kind, std::int32_t x, std::int32_t y);
    void RxSpinEdit10Change();
    void RxSpinEdit12Change();
    void RxSpinEdit14Change();
    void sbScaleChange(int position);
    void SpeedButton4Click();
    void chFitClick();
    std::int32_t ImageX(int viewX) const;
    std::int32_t ImageY(int viewY) const;

    // Graph tab
    QWidget* BuildGraphTab();
    void ShowGraph();
    void ShowFigure(bool redrawChart);
    void CheckBox2Click();
    void RxSpinEdit16Change();
    void Chart1ClickSeries(int valueIndex);
    void BitBtn11Click();

    // TPlotHost
    int LayerCount() const override;
    TCheckPointEdits ReadCheckPointEdits() const override;
    TGraphChoices ReadChoices() const override;
    void ShowError(const std::string& message) override;
    void ActivateGraphTab() override;
    void ClearLogBox() override;

    // Drive tab (Unit1Drive.cpp)
    void BuildDriveTab();
    void DriveInputsChanged();
    void AnalyseDrive1Click();
    void AnalyseGuideLog1Click();
    void SaveDrive1Click(int format);
    // START and STOP change places (IN-LINE stays), and the side START is on
    // becomes the one Find trail keeps.
    void SwapPointsClick();
    // After a press that placed or moved START or STOP by hand.
    void NoteStartSide();
    // TDriveHost
    bool ReadDriveInput(TDriveInput& input, std::uint64_t& pictureChange, std::string& refusal) override;
    std::shared_ptr<const TDrivePicture> PictureSnapshot() override;
    int GraphChannel() const override;
    double MountSpeed() const override;
    char DecimalSeparator() const override;
    TDialogs& Dialogs() override;
    void Run(const std::function<void()>& command) override;
    std::string ProgramVersion() const override;
    std::string PictureName() const override;
    std::string PictureModified() const override { return FPictureModified; }
    std::string ExposureStart() const override { return FExposureStart; }

    TDialogs& FDialogs;
    TWindowState FState;
    TVersionTexts FVersion;
    bool FImageButtonDown = false;
    bool FStartStopByHand = false; // the press placed or moves START or STOP
    std::string FPictureName;      // the opened picture's file name
    std::string FPictureModified, FExposureStart; // its time, for the drive report
    // The note on unread settings values last posted to status panel 1.
    std::string FSettingsNote;
    bool FMarkerDragging = false;
    bool FInCommand = false;
    std::exception_ptr FNestedFault; // the first fault of a set-off handler

    TFileDialog OpenDialog1;
    TFileDialog SaveDialog1;
    TFileDialog OPD;
    TFileDialog SavePictureDialog1;
    // Set once a plotting run got past its check of the markers.
    bool FFigureDue = false;

    // Frame
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QStatusBar* StatusBar = nullptr;
    std::array<QLabel*, StatusPanelCount> StatusPanels{};
    QLabel* StatusLinear = nullptr; // what became of the picture's linear samples
    QAction* Exit1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Openimage1 = nullptr;
    QAction* Openimage2 = nullptr;
    QAction* ApplyDark1 = nullptr;
    QAction* ApplyFlat1 = nullptr;
    QAction* FindTrail1 = nullptr;
    QAction* CaptureIndi1 = nullptr;
    QAction* PlotGraph1 = nullptr;
    QAction* Saveresults1 = nullptr;
    QAction* About1 = nullptr;

    // Setup tab
    std::array<TFloatSpinEdit*, 9> SetupEdits{}; // RxSpinEdit1 ... RxSpinEdit9
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label22 = nullptr;
    QLabel* Label23 = nullptr;
    QLabel* Label24 = nullptr;
    QLabel* Label25 = nullptr;
    QLabel* Label26 = nullptr;
    QLabel* Label27 = nullptr;
    QLabel* Label30 = nullptr;
    QLabel* Label31 = nullptr;
    QLabel* Label32 = nullptr;
    QLabel* Label33 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn7 = nullptr;

    // Image tab
    TImageView* Image1 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* BitBtn10 = nullptr;
    QPushButton* BitBtn12 = nullptr;
    QPushButton* FlatDarkButton = nullptr;
    TShape* Shape1 = nullptr;
    TShape* Shape2 = nullptr;
    QLabel* Label34 = nullptr;
    QScrollBar* sbScale = nullptr;
    std::array<QToolButton*, 5> RatioButtons{}; // SpeedButton4, 1, 2, 3, 5
    QToolButton* SpeedButton6 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* BitBtn9 = nullptr;
    QPushButton* FindTrailButton = nullptr;
    std::array<std::array<TIntSpinEdit*, 2>, 3> PointEdits{}; // RxSpinEdit10 ... RxSpinEdit15
    QPushButton* BitBtn6 = nullptr;

    // Graph tab
    TChart1* Chart1 = nullptr;
    QPushButton* BitBtn8 = nullptr;
    TRadioGroup* RadioGroup2 = nullptr;
    TRadioGroup* RadioGroup1 = nullptr;
    QCheckBox* chLog = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QLabel* Label36 = nullptr;
    TIntSpinEdit* RxSpinEdit16 = nullptr;
    QLabel* Label40 = nullptr;
    QLabel* Label42 = nullptr;
    QLabel* Label43 = nullptr;
    QPushButton* BitBtn11 = nullptr;

    // Drive tab
    TDrivePage* TabSheet4 = nullptr;
    std::uint64_t FPictureChange = 0; // counts the picture's changes
    std::shared_ptr<TDrivePicture> FDriveSnapshot; // what the drive analysis reads
    std::uint64_t FDriveSnapshotChange = 0;
    // The Setup values the drive analysis reads: each with every decimal it
    // was given, typed, loaded from a settings file or taken from a picture's
    // header, whichever came last; the fields keep one decimal of a loaded
    // value, a 1 % scale error for the drive.
    TExperiment FDriveSetup;
};

template <typename Sender, typename Signal, typename... Args>
void TVinsk_main::Wire(Sender* sender, Signal signal, void (TVinsk_main::*handler)(Args...))
{
    connect(sender, signal, this, [this, handler](Args... args) {
        RunCommand([&] { (this->*handler)(args...); });
    });
}

} // namespace vinsk
