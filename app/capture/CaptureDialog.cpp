#include "app/capture/CaptureDialog.h"

#include "app/dialogs/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace vinsk {

TCaptureDialog::TCaptureDialog(QWidget* parent, const TCaptureDefaults& defaults, TDialogs* dialogs)
    : QDialog(parent), FDefaults(defaults), FDialogs(dialogs)
{
    setObjectName(QStringLiteral("CaptureDialog"));
    setWindowTitle(QStringLiteral("Capture through INDI"));
    auto* form = new QFormLayout;
    Server = new QLineEdit(QStringLiteral("localhost:7624"), this);
    Server->setObjectName(QStringLiteral("CaptureServer"));
    Refresh = new QPushButton(QStringLiteral("&Devices"), this);
    Refresh->setObjectName(QStringLiteral("CaptureRefresh"));
    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(Server);
    serverRow->addWidget(Refresh);
    form->addRow(QStringLiteral("Server:"), serverRow);
    Camera = new QComboBox(this);
    Camera->setObjectName(QStringLiteral("CaptureCamera"));
    Camera->setEditable(true);
    form->addRow(QStringLiteral("Camera:"), Camera);
    Mount = new QComboBox(this);
    Mount->setObjectName(QStringLiteral("CaptureMount"));
    Mount->setEditable(true);
    form->addRow(QStringLiteral("Mount:"), Mount);
    Seconds = new QDoubleSpinBox(this);
    Seconds->setObjectName(QStringLiteral("CaptureSeconds"));
    Seconds->setRange(0.1, 86400);
    Seconds->setDecimals(1);
    Seconds->setValue(defaults.Seconds);
    Seconds->setSuffix(QStringLiteral(" s"));
    form->addRow(QStringLiteral("Exposure:"), Seconds);
    Folder = new QLineEdit(defaults.Folder.isEmpty() ? QDir::homePath() : defaults.Folder, this);
    Folder->setObjectName(QStringLiteral("CaptureFolder"));
    form->addRow(QStringLiteral("Folder:"), Folder);
    FileName = new QLineEdit(QStringLiteral("trail.fits"), this);
    FileName->setObjectName(QStringLiteral("CaptureFileName"));
    form->addRow(QStringLiteral("File name:"), FileName);
    FindTrail = new QCheckBox(QStringLiteral("Find &trail afterwards"), this);
    FindTrail->setObjectName(QStringLiteral("CaptureFindTrail"));
    FindTrail->setChecked(true);
    form->addRow(QString(), FindTrail);

    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("CaptureProgress"));
    Progress->setRange(0, 1000);
    Progress->setValue(0);
    TimeLeft = new QLabel(this);
    TimeLeft->setObjectName(QStringLiteral("CaptureTimeLeft"));
    Motor = new QLabel(this);
    Motor->setObjectName(QStringLiteral("CaptureMotor"));
    Message = new QLabel(this);
    Message->setObjectName(QStringLiteral("CaptureMessage"));
    Message->setWordWrap(true);
    Start = new QPushButton(QStringLiteral("&Start"), this);
    Start->setObjectName(QStringLiteral("CaptureStart"));
    Start->setDefault(true);
    Abort = new QPushButton(QStringLiteral("&Abort"), this);
    Abort->setObjectName(QStringLiteral("CaptureAbort"));
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("CaptureClose"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Start);
    buttons->addWidget(Abort);
    buttons->addWidget(close);

    auto* v = new QVBoxLayout(this);
    v->addLayout(form);
    v->addWidget(Progress);
    v->addWidget(TimeLeft);
    v->addWidget(Motor);
    v->addWidget(Message);
    v->addLayout(buttons);

    FTimer = new QTimer(this);
    FTimer->setInterval(100);
    connect(FTimer, &QTimer::timeout, this, &TCaptureDialog::Poll);
    connect(Refresh, &QPushButton::clicked, this, &TCaptureDialog::RefreshDevices);
    connect(Start, &QPushButton::clicked, this, [this] { StartCapture(false); });
    connect(Abort, &QPushButton::clicked, this, [this] { FCancel = true; });
    connect(close, &QPushButton::clicked, this, &TCaptureDialog::reject);
    SetRunning(false);
}

TCaptureDialog::~TCaptureDialog()
{
    // Every wait of the capture is bounded, and the cancel ends the exposure.
    FCancel = true;
    if (FWorker.joinable())
        FWorker.join();
    if (FLister.joinable())
        FLister.join();
}

bool TCaptureDialog::FindTrailAfterwards() const
{
    return FindTrail->isChecked();
}

void TCaptureDialog::reject()
{
    // Closing during an exposure aborts it first.
    if (Running()) {
        FCancel = true;
        return;
    }
    QDialog::reject();
}

void TCaptureDialog::SetRunning(bool running)
{
    for (QWidget* w : std::initializer_list<QWidget*>{Server, Refresh, Camera, Mount, Seconds, Folder, FileName, Start})
        w->setEnabled(!running);
    Abort->setEnabled(running);
}

void TCaptureDialog::RefreshDevices()
{
    TIndiAddress a;
    if (!ParseIndiAddress(Server->text().trimmed().toStdString(), a)) {
        Message->setText(QStringLiteral("The server is HOST or HOST:PORT"));
        return;
    }
    if (FLister.joinable() || Running())
        return;
    Refresh->setEnabled(false);
    Message->setText(QStringLiteral("Asking the server for its devices…"));
    FListed = false;
    FLister = std::thread([this, a] {
        FDevices = ListIndiDevices(a);
        FListed = true;
    });
    FTimer->start();
}

void TCaptureDialog::StartCapture(bool startTracking)
{
    TCaptureRequest r;
    if (!ParseIndiAddress(Server->text().trimmed().toStdString(), r.Server)) {
        Message->setText(QStringLiteral("The server is HOST or HOST:PORT"));
        return;
    }
    r.Camera = Camera->currentText().trimmed().toStdString();
    r.Mount = Mount->currentText().trimmed().toStdString();
    r.Seconds = Seconds->value();
    r.StepsPerWorm = FDefaults.StepsPerWorm;
    FPath = QDir(Folder->text().trimmed()).filePath(FileName->text().trimmed());
    r.OutPath = FPath.toStdString();
    FCancel = false;
    FDone = false;
    FEvents.TakeAll();
    Progress->setValue(0);
    TimeLeft->clear();
    Motor->clear();
    Message->clear();
    SetRunning(true);
    FWorker = std::thread([this, r, startTracking] {
        if (startTracking) {
            FEvents.Push({TCaptureEvent::TKind::Status, "Starting the mount's tracking", 0, 0});
            const TIndiOutcome t = StartIndiTracking(r.Server, r.Mount, r.Timeout);
            if (!t.Ok) {
                FResult = {};
                FResult.Message = t.Message;
                FDone = true;
                return;
            }
        }
        FResult = CaptureThroughIndi(r, &FEvents, &FCancel);
        FDone = true;
    });
    FTimer->start();
}

void TCaptureDialog::Poll()
{
    if (FLister.joinable() && FListed) {
        FLister.join();
        Refresh->setEnabled(!Running());
        if (!FDevices.Ok) {
            Message->setText(QString::fromStdString(FDevices.Message));
        } else {
            const QString camera = Camera->currentText(), mount = Mount->currentText();
            Camera->clear();
            Mount->clear();
            for (const std::string& c : FDevices.Cameras)
                Camera->addItem(QString::fromStdString(c));
            for (const std::string& m : FDevices.Mounts)
                Mount->addItem(QString::fromStdString(m));
            if (!camera.isEmpty() && Camera->findText(camera) >= 0)
                Camera->setCurrentText(camera);
            if (!mount.isEmpty() && Mount->findText(mount) >= 0)
                Mount->setCurrentText(mount);
            Message->setText(FDevices.Cameras.empty() || FDevices.Mounts.empty()
                                 ? QStringLiteral("The server has %1 cameras and %2 mounts")
                                       .arg(FDevices.Cameras.size())
                                       .arg(FDevices.Mounts.size())
                                 : QString());
        }
    }
    for (const TCaptureEvent& e : FEvents.TakeAll()) {
        switch (e.Kind) {
        case TCaptureEvent::TKind::Status:
            Message->setText(QString::fromStdString(e.Text));
            break;
        case TCaptureEvent::TKind::Progress: {
            const double total = Seconds->value();
            const double left = std::max(0.0, e.SecondsLeft);
            Progress->setValue(static_cast<int>(std::lround(1000 * std::clamp(1 - left / total, 0.0, 1.0))));
            TimeLeft->setText(QStringLiteral("%1 s left").arg(std::ceil(left)));
            break;
        }
        case TCaptureEvent::TKind::Motor:
            Motor->setText(QStringLiteral("RA motor %1").arg(e.MotorCount));
            break;
        }
    }
    if (Running() && FDone)
        Finish();
    if (!Running() && !FLister.joinable())
        FTimer->stop();
}

void TCaptureDialog::Finish()
{
    FWorker.join();
    SetRunning(false);
    if (!FResult.Ok) {
        // Starting the tracking is the user's choice: asked, never done unasked.
        if (FResult.NotTracking && FDialogs &&
            FDialogs->Question(QStringLiteral("Capture through INDI"),
                               QStringLiteral("The mount \"%1\" is not tracking. Start its tracking and take the picture?")
                                   .arg(Mount->currentText().trimmed()))) {
            StartCapture(true);
            return;
        }
        Message->setText(QString::fromStdString(FResult.Message));
        return;
    }
    Progress->setValue(1000);
    Motor->setText(QStringLiteral("RA motor at the start %1").arg(FResult.Motor.Count));
    accept();
}

} // namespace vinsk
