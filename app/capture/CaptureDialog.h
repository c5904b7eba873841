// Image > Capture through INDI…: the trail exposure taken through an INDI
// server, with the mount's motor count at its start recorded in the picture.
//
// The capture runs on a thread of its own and the INDI library calls back on
// yet another; the dialog only reads their events from a queue on a timer, so
// no Qt call is ever made off the window's thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <QDialog>

#include "capture/IndiCapture.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vinsk {

class TDialogs;

struct TCaptureDefaults {
    double Seconds = 480;       // the Setup tab's exposure
    long long StepsPerWorm = 0; // [Drive] StepsPerWorm
    QString Folder;             // where the picture goes
};

class TCaptureDialog : public QDialog {
    Q_OBJECT
public:
    // `dialogs` asks whether to start the mount's tracking when it is off;
    // without it the dialog only says so.
    TCaptureDialog(QWidget* parent, const TCaptureDefaults& defaults, TDialogs* dialogs = nullptr);
    ~TCaptureDialog() override;

    // After Accepted: the picture written, and whether Find trail follows.
    QString PicturePath() const { return FPath; }
    bool FindTrailAfterwards() const;

    QLineEdit* Server = nullptr;
    QComboBox* Camera = nullptr;
    QComboBox* Mount = nullptr;
    QPushButton* Refresh = nullptr;
    QDoubleSpinBox* Seconds = nullptr;
    QLineEdit* Folder = nullptr;
    QLineEdit* FileName = nullptr;
    QCheckBox* FindTrail = nullptr;
    QProgressBar* Progress = nullptr;
    QLabel* TimeLeft = nullptr;
    QLabel* Motor = nullptr;
    QLabel* Message = nullptr; // the last error, or what the capture does
    QPushButton* Start = nullptr;
    QPushButton* Abort = nullptr;

protected:
    void reject() override;

private:
    void RefreshDevices();
    // With `startTracking`, the mount's tracking is switched on first: the
    // user said yes to it.
    void StartCapture(bool startTracking);
    void Poll();
    void Finish();
    void SetRunning(bool running);
    bool Running() const { return FWorker.joinable(); }

    TCaptureDefaults FDefaults;
    TDialogs* FDialogs = nullptr;
    TCaptureEvents FEvents;
    std::atomic<bool> FCancel{false};
    std::atomic<bool> FDone{false};
    TCaptureResult FResult;
    std::thread FWorker;
    std::thread FLister;
    std::atomic<bool> FListed{false};
    TIndiDevices FDevices;
    QTimer* FTimer = nullptr;
    QString FPath;
};

} // namespace vinsk
