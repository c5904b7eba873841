#include "app/drive/DrivePage.h"

#include "drive/DriveLight.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFont>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "app/drive/DriveChart.h"
#include "app/drive/RunsBox.h"
#include "app/widgets/RadioGroup.h"
#include "app/widgets/WheelGuard.h"
#include "common/AtomicFile.h"
#include "common/NumText.h"
#include "drive/FilePhase.h"
#include "drive/PecFiles.h"
#include "guidelog/GuideLogReport.h"

namespace vinsk {
namespace {

constexpr int PanelWidth = 262;

// One arc second of the worm wheel's full turn per tooth and mount speed.
constexpr double ArcsecPerTurn = 1296000;

// The export dialog's entries' extensions, in TDriveExport's order.
const QStringList ExportExtensions = {QStringLiteral("png"), QStringLiteral("svg"), QStringLiteral("pdf"),
                                      QStringLiteral("csv"), QStringLiteral("json"), QStringLiteral("txt"),
                                      QStringLiteral("txt"), QStringLiteral("pec"), QStringLiteral("pec")};

const QString NoResult = QStringLiteral("There is no drive analysis to save: analyse the drive first.");

// A dash for a value there is none of.
QString Fixed(double v, int decimals, char sep)
{
    if (!std::isfinite(v))
        return QStringLiteral("–");
    return QString::fromStdString(FixedText(v, decimals, sep));
}

QString Signed(double v, int decimals, char sep)
{
    const QString s = Fixed(v, decimals, sep);
    return std::isfinite(v) && !s.startsWith(QLatin1Char('-')) ? QLatin1Char('+') + s : s;
}

// Table cells that sort by their number, not by their text.
class TNumberItem : public QTableWidgetItem {
public:
    TNumberItem(const QString& text, double key) : QTableWidgetItem(text) { setData(Qt::UserRole, key); }
    bool operator<(const QTableWidgetItem& other) const override
    {
        return data(Qt::UserRole).toDouble() < other.data(Qt::UserRole).toDouble();
    }
};

QLabel* ResultLabel(QWidget* parent, const char* name, QVBoxLayout* v)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setWordWrap(true);
    v->addWidget(l);
    return l;
}

QString DirectionText(TStartSide side)
{
    switch (side) {
    case TStartSide::Left: return QStringLiteral("START at the left end: time runs left to right");
    case TStartSide::Right: return QStringLiteral("START at the right end: time runs right to left");
    case TStartSide::Top: return QStringLiteral("START at the top end: time runs top to bottom");
    case TStartSide::Bottom: return QStringLiteral("START at the bottom end: time runs bottom to top");
    case TStartSide::Auto: break;
    }
    return QString();
}

} // namespace

TDrivePage::TDrivePage(TDriveHost& host, QWidget* parent) : QWidget(parent), FHost(host)
{
    setObjectName(QStringLiteral("TabSheet4"));

    FChart = new TDriveChart(this);
    FChart->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    FReadout = new QLabel(this);
    FReadout->setObjectName(QStringLiteral("DriveReadout"));
    FReadout->setContentsMargins(6, 2, 6, 2);
    FReadout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    FSource = new QLabel(this);
    FSource->setObjectName(QStringLiteral("DriveSource"));
    FSource->setContentsMargins(6, 2, 6, 2);
    FSource->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FSource->hide();
    left->addWidget(FSource);
    left->addWidget(FChart, 1);
    // Under the chart while the Runs figure shows.
    FRuns = new TRunsBox(FHost, this);
    FRuns->hide();
    left->addWidget(FRuns);
    FDirection = new QLabel(this);
    FDirection->setObjectName(QStringLiteral("DriveDirection"));
    FDirection->setContentsMargins(6, 2, 6, 0);
    left->addWidget(FDirection);
    left->addWidget(FReadout);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel4"));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFixedWidth(PanelWidth);
    BuildPanel(panel);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(left, 1);
    layout->addWidget(panel);

    FWatcher = new QFutureWatcher<TDriveRun>(this);
    connect(FWatcher, &QFutureWatcher<TDriveRun>::finished, this, [this] { FHost.Run([this] { Finished(); }); });
    connect(FChart, &TDriveChart::PeakSnapped, this, &TDrivePage::PeakSnapped);
    connect(FRuns, &TRunsBox::Changed, this, [this] { FChart->SetRuns(FRuns->Curves(), FRuns->NoCurves()); });
    FChart->SetRuns(FRuns->Curves(), FRuns->NoCurves());

    FSaveDialog.Name = QStringLiteral("DriveSaveDialog");
    FSaveDialog.Title = QStringLiteral("Save the drive analysis");
    FSaveDialog.Filter = QStringLiteral("PNG picture (*.png)|*.png|SVG picture (*.svg)|*.svg|PDF document (*.pdf)|*.pdf|"
                                        "CSV series (*.csv)|*.csv|JSON report (*.json)|*.json|PEC table (*.txt)|*.txt|"
                                        "EQMOD PEC file (*.txt)|*.txt|Celestron PEC file (*.pec)|*.pec|"
                                        "Celestron PEC file, 3600\u2033 table (*.pec)|*.pec");
    FSaveDialog.DefaultExt = QStringLiteral("png");
    // A name typed bare gets the extension of the type chosen at the end.
    FSaveDialog.EntryExts = ExportExtensions;
    FSaveDialog.FilterIndex = DriveExportPng;
    FSaveDialog.OverwritePrompt = true;
    FGuideLogDialog.Name = QStringLiteral("GuideLogDialog");
    FGuideLogDialog.Title = QStringLiteral("Analyse a guide log");
    FGuideLogDialog.Filter = QStringLiteral("Guide logs (*.txt *.csv *.log)|*.txt;*.csv;*.log");
    FPeakToPeak->setText(QStringLiteral("No result yet"));
    UpdateActions();
}

TDrivePage::~TDrivePage()
{
    // The worker owns nothing of the window; let it finish before the
    // watcher goes.
    FWatcher->disconnect(this);
    FWatcher->waitForFinished();
}

void TDrivePage::BuildPanel(QWidget* panel)
{
    auto* scroll = new QScrollArea(panel);
    scroll->setObjectName(QStringLiteral("DriveScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* outer = new QVBoxLayout(panel);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("DrivePanelContent"));
    scroll->setWidget(content);
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(6, 6, 6, 6);
    v->setSpacing(3);

    FAnalyse = new QPushButton(QStringLiteral("Anal&yse drive"), content);
    FAnalyse->setObjectName(QStringLiteral("DriveAnalyse"));
    FAnalyse->setToolTip(QStringLiteral("Analyse the mount's drive along the trail"));
    FBusy = new QProgressBar(content);
    FBusy->setObjectName(QStringLiteral("DriveBusy"));
    FBusy->setRange(0, 0); // an indicator without a measure
    FBusy->setTextVisible(false);
    FBusy->setFixedSize(60, 12);
    FBusy->setToolTip(QStringLiteral("Analysing…"));
    auto* row = new QHBoxLayout;
    row->addWidget(FAnalyse, 1);
    row->addWidget(FBusy);
    v->addLayout(row);
    // Keeps its place when hidden, so the panel does not jump.
    QSizePolicy keep = FBusy->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    FBusy->setSizePolicy(keep);
    FBusy->hide();

    FMessage = new QLabel(content);
    FMessage->setObjectName(QStringLiteral("DriveMessage"));
    FMessage->setWordWrap(true);
    FMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FMessage->hide();
    v->addWidget(FMessage);

    FFigure = new TRadioGroup(QStringLiteral(" Figure "),
                              {QStringLiteral("Error"), QStringLiteral("Spectrum"), QStringLiteral("Cycles"),
                               QStringLiteral("PEC fit"), QStringLiteral("Runs")},
                              2, content);
    FFigure->setObjectName(QStringLiteral("DriveFigure"));
    FFigure->NameItems();
    FFigure->SetItemIndex(DriveFigureError);
    v->addWidget(FFigure);
    FShowDrift = new QCheckBox(QStringLiteral("Show the removed drift"), content);
    FShowDrift->setObjectName(QStringLiteral("DriveShowDrift"));
    v->addWidget(FShowDrift);

    v->addSpacing(4);
    auto* heading = new QLabel(QStringLiteral("Drive:"), content);
    heading->setObjectName(QStringLiteral("DriveHeading"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    v->addWidget(heading);
    FPeakToPeak = ResultLabel(content, "DrivePeakToPeak", v);
    FRms = ResultLabel(content, "DriveRms", v);
    FMax = ResultLabel(content, "DriveMax", v);
    FDrift = ResultLabel(content, "DriveDrift", v);
    FRate = ResultLabel(content, "DriveRate", v);
    FLongest = ResultLabel(content, "DriveLongest", v);
    FWorm = ResultLabel(content, "DriveWorm", v);
    FSpread = ResultLabel(content, "DriveSpread", v);
    FResidual = ResultLabel(content, "DriveResidual", v);
    FScale = ResultLabel(content, "DriveScale", v);
    FScale->setToolTip(QStringLiteral("The scale the analysis used, from the Setup values with every decimal "
                                      "given (the Setup fields show one)"));
    FPhase = ResultLabel(content, "DrivePhase", v);

    FPeaks = new QTableWidget(0, 4, content);
    FPeaks->setObjectName(QStringLiteral("DrivePeaks"));
    // Short headers for the narrow panel; the units in their tool tips and
    // in the copied rows.
    const QString heads[4][2] = {{QStringLiteral("Period"), QStringLiteral("Period [s]")},
                                 {QStringLiteral("Amp."), QStringLiteral("Amplitude [″]")},
                                 {QStringLiteral("P-P"), QStringLiteral("P-P [″]")},
                                 {QStringLiteral("Harm."), QStringLiteral("Harmonic")}};
    for (int c = 0; c < 4; ++c) {
        auto* head = new QTableWidgetItem(heads[c][0]);
        head->setToolTip(heads[c][1]);
        FPeaks->setHorizontalHeaderItem(c, head);
    }
    FPeaks->verticalHeader()->hide();
    FPeaks->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    FPeaks->horizontalHeader()->setMinimumSectionSize(30);
    FPeaks->verticalHeader()->setDefaultSectionSize(QFontMetrics(FPeaks->font()).height() + 4);
    FPeaks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FPeaks->setSelectionBehavior(QAbstractItemView::SelectRows);
    FPeaks->setSortingEnabled(true);
    FPeaks->setMinimumHeight(110);
    FPeaks->setToolTip(QStringLiteral("Peaks of the spectrum; Ctrl+C copies the selected rows"));
    auto* copy = new QAction(QStringLiteral("&Copy rows"), FPeaks);
    copy->setObjectName(QStringLiteral("DriveCopyPeaks"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    FPeaks->addAction(copy);
    FPeaks->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, &TDrivePage::CopyRows);
    v->addWidget(FPeaks, 1);

    auto* inputs = new QGroupBox(QStringLiteral(" Inputs "), content);
    inputs->setObjectName(QStringLiteral("DriveInputs"));
    auto* form = new QFormLayout(inputs);
    form->setContentsMargins(4, 4, 4, 4);
    form->setVerticalSpacing(3);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    FWormPeriod = new QDoubleSpinBox(inputs);
    FWormPeriod->setObjectName(QStringLiteral("DriveWormPeriod"));
    FWormPeriod->setRange(0, MaxDriveWormPeriod);
    FWormPeriod->setDecimals(3);
    FWormPeriod->setSuffix(QStringLiteral(" s"));
    FWormPeriod->setSpecialValueText(QStringLiteral("estimate"));
    FWormPeriod->setToolTip(QStringLiteral("The worm period; 0 estimates it from the trail"));
    form->addRow(QStringLiteral("Worm period:"), FWormPeriod);

    FTeeth = new QSpinBox(inputs);
    FTeeth->setObjectName(QStringLiteral("DriveTeeth"));
    FTeeth->setRange(0, 100000);
    FTeeth->setSpecialValueText(QStringLiteral("–"));
    FTeeth->setToolTip(QStringLiteral("Teeth of the worm wheel"));
    FFromTeeth = new QPushButton(QStringLiteral("Set period"), inputs);
    FFromTeeth->setMinimumWidth(0);
    FFromTeeth->setObjectName(QStringLiteral("DriveFromTeeth"));
    FFromTeeth->setToolTip(QStringLiteral("Worm period = 1,296,000″ / (mount speed × teeth)"));
    auto* teeth = new QHBoxLayout;
    teeth->addWidget(FTeeth, 1);
    teeth->addWidget(FFromTeeth);
    form->addRow(QStringLiteral("Teeth:"), teeth);

    FTolerance = new QDoubleSpinBox(inputs);
    FTolerance->setObjectName(QStringLiteral("DriveTolerance"));
    FTolerance->setRange(0.01, 3600);
    FTolerance->setDecimals(2);
    FTolerance->setSingleStep(0.1);
    FTolerance->setValue(1);
    FTolerance->setSuffix(QStringLiteral(" ″"));
    FTolerance->setToolTip(QStringLiteral("Peak-to-peak error allowed in one exposure"));
    form->addRow(QStringLiteral("Tolerance:"), FTolerance);

    FDetrend = new QComboBox(inputs);
    FDetrend->setObjectName(QStringLiteral("DriveDetrend"));
    for (TDetrend d : {TDetrend::None, TDetrend::Line, TDetrend::Quadratic, TDetrend::Harmonic}) {
        QString name = QString::fromLatin1(DetrendName(d));
        name[0] = name[0].toUpper();
        FDetrend->addItem(name, static_cast<int>(d));
    }
    FDetrend->setCurrentIndex(3);
    FDetrend->setToolTip(QStringLiteral("Drift removal. Harmonic: the drift line fitted with the worm's harmonics"));
    form->addRow(QStringLiteral("Drift:"), FDetrend);

    FHarmonics = new QSpinBox(inputs);
    FHarmonics->setObjectName(QStringLiteral("DriveHarmonics"));
    FHarmonics->setRange(1, MaxDriveHarmonics);
    FHarmonics->setValue(5);
    FHarmonics->setToolTip(QStringLiteral("PEC harmonics: harmonics of the worm period in the PEC fit"));
    form->addRow(QStringLiteral("Harmonics:"), FHarmonics);

    FHalfWidth = new QDoubleSpinBox(inputs);
    FHalfWidth->setObjectName(QStringLiteral("DriveHalfWidth"));
    FHalfWidth->setRange(0, MaxDriveHalfWidth);
    FHalfWidth->setDecimals(1);
    FHalfWidth->setSuffix(QStringLiteral(" px"));
    FHalfWidth->setSpecialValueText(QStringLiteral("Auto"));
    FHalfWidth->setToolTip(QStringLiteral("Half-width of the cross-section that sums the light; Auto: 3 σ of the trail"));
    form->addRow(QStringLiteral("Half-width:"), FHalfWidth);

    for (QAbstractSpinBox* box : std::initializer_list<QAbstractSpinBox*>{FWormPeriod, FTeeth, FTolerance, FHarmonics, FHalfWidth}) {
        // A value counts once typed out (Enter or leaving the field), not per keystroke.
        box->setKeyboardTracking(false);
        box->setMinimumWidth(50);
    }

    FChannel = new TRadioGroup(QStringLiteral(" Channel "),
                               {QStringLiteral("R"), QStringLiteral("G"), QStringLiteral("B"), QStringLiteral("Avg")}, 4,
                               inputs);
    FChannel->setObjectName(QStringLiteral("DriveChannel"));
    FChannel->NameItems();
    FChannel->SetItemIndex(std::clamp(FHost.GraphChannel(), 0, 3));
    form->addRow(FChannel);
    FFollowGraph = new QCheckBox(QStringLiteral("As on the Graph tab"), inputs);
    FFollowGraph->setObjectName(QStringLiteral("DriveFollowGraph"));
    FFollowGraph->setChecked(true);
    form->addRow(FFollowGraph);
    v->addWidget(inputs);

    // What ties the PEC curve to the mount's worm: one exposure's phase, and
    // the mount's motor.
    auto* mount = new QGroupBox(QStringLiteral(" Mount and phase "), content);
    mount->setObjectName(QStringLiteral("DriveMount"));
    auto* mform = new QFormLayout(mount);
    mform->setContentsMargins(4, 4, 4, 4);
    mform->setVerticalSpacing(3);
    mform->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    FWormPhase = new QDoubleSpinBox(mount);
    FWormPhase->setObjectName(QStringLiteral("DriveWormPhase"));
    FWormPhase->setRange(-1, 359.9);
    FWormPhase->setDecimals(1);
    FWormPhase->setSuffix(QStringLiteral("°"));
    FWormPhase->setSpecialValueText(QStringLiteral("not given"));
    FWormPhase->setValue(-1);
    FWormPhase->setToolTip(QStringLiteral("The worm's phase when the exposure started, 0° at the mount's PEC index"));
    mform->addRow(QStringLiteral("Worm at START:"), FWormPhase);
    FMotorStart = new QSpinBox(mount);
    FMotorStart->setObjectName(QStringLiteral("DriveMotorStart"));
    FMotorStart->setRange(-1, 2147483647);
    FMotorStart->setSpecialValueText(QStringLiteral("not given"));
    FMotorStart->setValue(-1);
    FMotorStart->setToolTip(QStringLiteral("The RA motor's step count when the exposure started"));
    mform->addRow(QStringLiteral("Motor at START:"), FMotorStart);
    FStepsPerWorm = new QSpinBox(mount);
    FStepsPerWorm->setObjectName(QStringLiteral("DriveStepsPerWorm"));
    FStepsPerWorm->setRange(0, 2147483647);
    FStepsPerWorm->setSpecialValueText(QStringLiteral("–"));
    FStepsPerWorm->setToolTip(QStringLiteral("The RA motor's steps per turn of the worm"));
    mform->addRow(QStringLiteral("Steps per worm:"), FStepsPerWorm);
    FHemisphere = new QComboBox(mount);
    FHemisphere->setObjectName(QStringLiteral("DriveHemisphere"));
    FHemisphere->addItem(QStringLiteral("North"), 1);
    FHemisphere->addItem(QStringLiteral("South"), -1);
    FHemisphere->setToolTip(QStringLiteral("North: the RA motor's count rises while it tracks"));
    mform->addRow(QStringLiteral("Hemisphere:"), FHemisphere);
    FInvert = new QCheckBox(QStringLiteral("Invert the correction"), mount);
    FInvert->setObjectName(QStringLiteral("DriveInvert"));
    FInvert->setToolTip(QStringLiteral("Flip the sign in the PEC files, for a driver that counts the other way"));
    mform->addRow(FInvert);
    for (QAbstractSpinBox* box : std::initializer_list<QAbstractSpinBox*>{FWormPhase, FMotorStart, FStepsPerWorm}) {
        box->setKeyboardTracking(false);
        box->setMinimumWidth(50);
    }
    v->addWidget(mount);

    FExport = new QPushButton(QStringLiteral("E&xport…"), content);
    FExport->setObjectName(QStringLiteral("DriveExport"));
    FExport->setToolTip(QStringLiteral("Save the chart, the series, the report or the PEC table"));
    v->addWidget(FExport);
    // The pictures' size, whatever the window's: a field here, as the file
    // dialog offers none.
    auto sizeBox = [content](const char* name, int value, const QString& tip) {
        auto* box = new QSpinBox(content);
        box->setObjectName(QLatin1String(name));
        box->setRange(100, 10000);
        box->setValue(value);
        box->setSuffix(QStringLiteral(" px"));
        box->setToolTip(tip);
        box->setMinimumWidth(50);
        return box;
    };
    FExportWidth = sizeBox("DriveExportWidth", 1600, QStringLiteral("Width of the PNG and SVG pictures"));
    FExportHeight = sizeBox("DriveExportHeight", 1000, QStringLiteral("Height of the PNG and SVG pictures"));
    auto* size = new QHBoxLayout;
    auto* sizeLabel = new QLabel(QStringLiteral("Picture:"), content);
    sizeLabel->setToolTip(QStringLiteral("Size of the PNG and SVG pictures; the PDF is an A4 page"));
    size->addWidget(sizeLabel);
    size->addWidget(FExportWidth, 1);
    size->addWidget(new QLabel(QStringLiteral("×"), content));
    size->addWidget(FExportHeight, 1);
    v->addLayout(size);
    WheelOnlyWithFocus(content);

    auto guarded = [this](auto method) { return [this, method] { FHost.Run([this, method] { (this->*method)(); }); }; };
    // A field the user changed replaces its value; the others keep theirs
    // at full precision.
    auto changed = [this](auto field, auto member) {
        return [this, field, member] {
            FHost.Run([this, field, member] {
                FSettings.*member = field->value();
                Request(false);
            });
        };
    };
    connect(FAnalyse, &QPushButton::clicked, this, guarded(&TDrivePage::AnalyseClick));
    connect(FExport, &QPushButton::clicked, this, [this] { FHost.Run([this] { ExportClick(); }); });
    connect(FFigure, &TRadioGroup::Click, this, guarded(&TDrivePage::ShowFigure));
    connect(FShowDrift, &QCheckBox::toggled, this, guarded(&TDrivePage::ShowFigure));
    connect(FFromTeeth, &QPushButton::clicked, this, guarded(&TDrivePage::TeethClick));
    connect(FWormPeriod, &QDoubleSpinBox::valueChanged, this, changed(FWormPeriod, &TDriveSettings::WormPeriod));
    connect(FTolerance, &QDoubleSpinBox::valueChanged, this, changed(FTolerance, &TDriveSettings::Tolerance));
    connect(FHalfWidth, &QDoubleSpinBox::valueChanged, this, changed(FHalfWidth, &TDriveSettings::HalfWidth));
    connect(FHarmonics, &QSpinBox::valueChanged, this, changed(FHarmonics, &TDriveSettings::Harmonics));
    connect(FDetrend, &QComboBox::currentIndexChanged, this, [this] {
        FHost.Run([this] {
            FSettings.Detrend = static_cast<TDetrend>(FDetrend->currentData().toInt());
            Request(false);
        });
    });
    connect(FChannel, &TRadioGroup::Click, this, guarded(&TDrivePage::ChannelClick));
    const auto phaseChanged = [this] { FHost.Run([this] { InputsChanged(); }); };
    connect(FWormPhase, &QDoubleSpinBox::valueChanged, this, phaseChanged);
    connect(FMotorStart, &QSpinBox::valueChanged, this, [this] {
        FHost.Run([this] {
            FMotorStartSigma = std::numeric_limits<double>::quiet_NaN();
            InputsChanged();
        });
    });
    connect(FStepsPerWorm, &QSpinBox::valueChanged, this, [this] {
        FHost.Run([this] {
            FSettings.StepsPerWorm = FStepsPerWorm->value();
            InputsChanged();
        });
    });
    connect(FHemisphere, &QComboBox::currentIndexChanged, this, [this] {
        FHost.Run([this] {
            FSettings.Hemisphere = FHemisphere->currentData().toInt();
            InputsChanged();
        });
    });
    connect(FFollowGraph, &QCheckBox::toggled, this, guarded(&TDrivePage::GraphChannelChanged));
}

TDriveSettings TDrivePage::Settings() const
{
    return FSettings;
}

void TDrivePage::SetSettings(const TDriveSettings& s)
{
    FSettings = s;
    {
        const QSignalBlocker b1(FWormPeriod), b2(FTolerance), b3(FDetrend), b4(FHarmonics), b5(FHalfWidth);
        FWormPeriod->setValue(s.WormPeriod);
        FTolerance->setValue(s.Tolerance);
        FDetrend->setCurrentIndex(std::max(0, FDetrend->findData(static_cast<int>(s.Detrend))));
        FHarmonics->setValue(s.Harmonics);
        FHalfWidth->setValue(s.HalfWidth);
        const QSignalBlocker b6(FStepsPerWorm), b7(FHemisphere);
        FStepsPerWorm->setValue(static_cast<int>(std::clamp<long long>(s.StepsPerWorm, 0, 2147483647)));
        FHemisphere->setCurrentIndex(s.Hemisphere < 0 ? 1 : 0);
    }
    InputsChanged();
}

void TDrivePage::SetStartSide(TStartSide side)
{
    if (side != TStartSide::Auto)
        FSettings.StartSide = side;
}

TPhaseInput TDrivePage::Phase() const
{
    TPhaseInput p;
    if (FWormPhase->value() >= 0)
        p.WormPhaseDeg = FWormPhase->value();
    if (FMotorStart->value() >= 0) {
        p.HaveMotorStart = true;
        p.MotorStart = FMotorStart->value();
        p.MotorStartSigma = FMotorStartSigma;
    }
    p.StepsPerWorm = FSettings.StepsPerWorm;
    p.Hemisphere = FSettings.Hemisphere;
    return p;
}

void TDrivePage::TakeFilePhase(const TFileSetupValues& values)
{
    const TPhaseInput p = PhaseWithFileValues(Phase(), values);
    {
        const QSignalBlocker b1(FMotorStart), b2(FStepsPerWorm), b3(FHemisphere);
        if (p.HaveMotorStart) {
            FMotorStart->setValue(static_cast<int>(std::clamp<long long>(p.MotorStart, 0, 2147483647)));
            FMotorStartSigma = p.MotorStartSigma;
        }
        FSettings.StepsPerWorm = p.StepsPerWorm;
        FStepsPerWorm->setValue(static_cast<int>(std::clamp<long long>(p.StepsPerWorm, 0, 2147483647)));
        FSettings.Hemisphere = p.Hemisphere;
        FHemisphere->setCurrentIndex(p.Hemisphere < 0 ? 1 : 0);
    }
    InputsChanged();
}

void TDrivePage::NewExposure()
{
    const QSignalBlocker b1(FWormPhase), b2(FMotorStart);
    FWormPhase->setValue(-1);
    FMotorStart->setValue(-1);
    FMotorStartSigma = std::numeric_limits<double>::quiet_NaN();
}

TChannel TDrivePage::Channel() const
{
    return static_cast<TChannel>(std::clamp(FChannel->ItemIndex(), 0, 3));
}

TDrivePage::TInputKey TDrivePage::InputKey()
{
    TInputKey key;
    if (ShowsGuideLog()) {
        // Only what the analysis of positions reads: the picture, its
        // points and the photometry's inputs change nothing here.
        key.Ok = true;
        key.GuideLog = FGuideLog;
        key.Input.Settings = Settings();
        key.Input.Settings.HalfWidth = 0;
        key.Input.Settings.StartSide = TStartSide::Auto;
        key.Input.Settings.Transfer = {};
        return key;
    }
    key.Ok = FHost.ReadDriveInput(key.Input, key.PictureChange, key.Refusal);
    if (key.Ok)
        key.Refusal.clear();
    key.Input.Channel = Channel();
    key.Input.Settings = Settings();
    key.Input.Phase = Phase();
    return key;
}

bool TDrivePage::Busy() const
{
    return FRunning || FPending;
}

void TDrivePage::AnalyseClick()
{
    if (ShowsGuideLog()) {
        FGuideLog = {};
        FGuideSeries.reset();
        ShowSource();
    }
    Request(true);
}

bool TDrivePage::GuideLogClick()
{
    const std::optional<TFileChoice> choice = FHost.Dialogs().OpenFile(FGuideLogDialog);
    if (!choice)
        return false;
    const std::string path = choice->FileName.toStdString();
    const std::string name = std::filesystem::path(path).filename().string();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        FHost.Dialogs().ErrorBox(QString::fromStdString("Cannot open " + path + ": " + std::strerror(errno)));
        return false;
    }
    // One pass over the log for its sections; the chosen one is read again
    // off this thread with the analysis.
    const TGuideSectionList list = ListGuideSections(in);
    if (list.Refused()) {
        FHost.Dialogs().ErrorBox(QString::fromStdString(name + ": " + list.Message));
        return false;
    }
    int section = 1;
    if (list.Sections.size() > 1) {
        QStringList lines;
        int longest = 0;
        for (std::size_t i = 0; i < list.Sections.size(); ++i) {
            const TGuideSection& s = list.Sections[i];
            lines << QString::fromStdString(GuideSectionLine(s, static_cast<int>(list.Sections.size())) +
                                            (s.Begins.empty() ? std::string() : ", begins " + s.Begins));
            if (s.Duration > list.Sections[static_cast<std::size_t>(longest)].Duration)
                longest = static_cast<int>(i);
        }
        const std::optional<int> chosen = FHost.Dialogs().Choose(
            QStringLiteral("Guide log sections"),
            QString::fromStdString("Which guiding section of " + name + " to analyse?"), lines, longest);
        if (!chosen || *chosen < 0 || *chosen >= lines.size())
            return false;
        section = list.Sections[static_cast<std::size_t>(*chosen)].Number;
    }
    ShowGuideLog(choice->FileName, section);
    return true;
}

void TDrivePage::ShowGuideLog(const QString& path, int section)
{
    FGuideLog.Path = path.toStdString();
    FGuideLog.Name = std::filesystem::path(FGuideLog.Path).filename().string();
    FGuideLog.Section = section;
    FGuideLog.Load = ++FGuideLogLoads;
    FGuideSeries.reset();
    ShowSource();
    Request(true);
}

void TDrivePage::ShowSource()
{
    const bool log = ShowsGuideLog();
    FSource->setText(log ? QString::fromStdString("Source: guide log " + FGuideLog.Name + ", section " +
                                                  std::to_string(FGuideLog.Section))
                         : QString());
    FSource->setVisible(log);
    // The photometry along a trail has no part in a log's positions.
    for (QWidget* w : std::initializer_list<QWidget*>{FHalfWidth, FChannel, FFollowGraph})
        w->setEnabled(!log);
}

void TDrivePage::InputsChanged()
{
    if (!isVisible()) {
        UpdateActions(); // showEvent tells whether anything changed meanwhile
        return;
    }
    const TInputKey key = InputKey();
    if (key == (Busy() ? FRunningKey : FShownKey) && !FPending)
        return;
    Request(false);
}

void TDrivePage::GraphChannelChanged()
{
    if (!FFollowGraph->isChecked())
        return;
    const int channel = std::clamp(FHost.GraphChannel(), 0, 3);
    if (FChannel->ItemIndex() != channel) {
        FChannel->SetItemIndex(channel);
        InputsChanged();
    }
}

void TDrivePage::ChannelClick()
{
    // The user's own choice stops following the Graph tab.
    {
        const QSignalBlocker block(FFollowGraph);
        FFollowGraph->setChecked(false);
    }
    Request(false);
}

void TDrivePage::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    FHost.Run([this] { InputsChanged(); });
}

void TDrivePage::Request(bool explicitClick)
{
    FExplicitPending = FExplicitPending || explicitClick;
    if (FRunning) {
        // Superseded: the running result is dropped when it arrives.
        FPending = true;
        UpdateBusy();
        return;
    }
    Launch();
}

void TDrivePage::Launch()
{
    FPending = false;
    const bool explicitClick = std::exchange(FExplicitPending, false);
    const TInputKey key = InputKey();
    if (!key.Ok) {
        const QString refusal = QString::fromStdString(key.Refusal);
        FShownKey = key;
        ClearResult(refusal);
        ShowMessage(refusal, true);
        UpdateBusy();
        if (explicitClick)
            FHost.Dialogs().ErrorBox(refusal);
        return;
    }
    const TDriveInput& input = key.Input;
    FRunningKey = key;
    FExplicitRunning = explicitClick;
    FRunning = true;
    if (ShowsGuideLog()) {
        LaunchGuideLog(key);
        return;
    }
    std::shared_ptr<const TDrivePicture> picture = FHost.PictureSnapshot();
    // One analysis at a time: the spectrum's FFT planner is not thread-safe.
    FWatcher->setFuture(QtConcurrent::run([input, picture]() -> TDriveRun {
        TDriveRun run;
        TDriveResult& r = run.Result;
        try {
            r = AnalysePicture(picture->Bitmap, picture->Linear, input);
            if (!r.Refused()) {
                NameTransfer(r, picture->Transfer);
                NameFlatOffset(r, picture->FlatOffsetFromDark);
            }
            if (!picture->LinearDropped.empty())
                r.Notes.insert(r.Notes.begin(), picture->LinearDropped);
        } catch (const std::exception& e) {
            r = Refused<TDriveResult>(RefusalOf(e));
        }
        return run;
    }));
    UpdateBusy();
}

void TDrivePage::LaunchGuideLog(const TInputKey& key)
{
    // The section is read once per choice; a change of the inputs analyses
    // the series kept.
    std::shared_ptr<const TGuideSeries> series = FGuideSeries;
    const TGuideLogChoice log = key.GuideLog;
    const TDriveSettings settings = key.Input.Settings;
    FWatcher->setFuture(QtConcurrent::run([log, series, settings]() mutable -> TDriveRun {
        TDriveRun run;
        TDriveResult& r = run.Result;
        try {
            if (!series) {
                std::ifstream in(log.Path, std::ios::binary);
                if (!in) {
                    r = Refused<TDriveResult>(
                        Refuse(TRefusalReason::CannotOpen, "Cannot open " + log.Path + ": " + std::strerror(errno)));
                    return run;
                }
                TGuideLogOptions options;
                options.Section = log.Section;
                auto read = std::make_shared<TGuideSeries>(ReadGuideLog(in, options));
                if (read->Refused()) {
                    r = Refused<TDriveResult>(Refuse(read->Reason, log.Name + ": " + read->Message));
                    return run;
                }
                series = std::move(read);
            }
            run.Series = series;
            r = AnalyseGuideSeries(*series, settings);
        } catch (const std::exception& e) {
            r = Refused<TDriveResult>(RefusalOf(e));
        }
        return run;
    }));
    UpdateBusy();
}

void TDrivePage::Finished()
{
    FRunning = false;
    if (FPending) {
        Launch();
        return;
    }
    TDriveRun run = FWatcher->result();
    TDriveResult& result = run.Result;
    FShownKey = FRunningKey;
    if (run.Series && FRunningKey.GuideLog == FGuideLog)
        FGuideSeries = run.Series;
    UpdateBusy();
    if (result.Refused()) {
        // The last analysis holds no more; the line says why there is no new one.
        ClearResult(QString::fromStdString(result.Message));
        ShowMessage(QString::fromStdString(result.Message), true);
        if (FExplicitRunning)
            FHost.Dialogs().ErrorBox(QString::fromStdString(result.Message));
    } else {
        result.PictureName = FHost.PictureName();
        result.PictureModified = FHost.PictureModified();
        result.ExposureStart = FHost.ExposureStart();
        FResult = std::make_shared<const TDriveResult>(std::move(result));
        FShownSeries = run.Series;
        FShownGuideLog = FRunningKey.GuideLog;
        ShowResult();
    }
    UpdateActions();
    emit ResultShown();
}

void TDrivePage::UpdateBusy()
{
    FBusy->setVisible(Busy());
    UpdateActions();
}

bool TDrivePage::ResultHolds()
{
    // A hidden tab does not run on a change: its result may be out of date.
    return FResult && !Busy() && InputKey() == FShownKey;
}

void TDrivePage::UpdateActions()
{
    const bool holds = ResultHolds();
    FExport->setEnabled(holds);
    for (QAction* a : FExportActions)
        a->setEnabled(holds);
}

void TDrivePage::AddExportAction(QAction* action)
{
    FExportActions.push_back(action);
    action->setEnabled(ResultHolds());
}

void TDrivePage::ClearResult(const QString& reason)
{
    FResult.reset();
    FShownSeries.reset();
    FRuns->SetCurrent(nullptr);
    FShownPeaks.clear();
    FReadout->clear();
    FPeakToPeak->setText(QStringLiteral("No result yet"));
    for (QLabel* l : {FRms, FMax, FDrift, FRate, FLongest, FWorm, FSpread, FResidual, FScale, FPhase, FDirection})
        l->clear();
    FDrift->setToolTip(QString());
    FPeaks->setRowCount(0);
    FNoResult = reason;
    FChart->ShowNothing(reason);
    UpdateActions();
}

void TDrivePage::ShowMessage(const QString& text, bool refusal)
{
    FMessage->setText(text);
    FMessage->setStyleSheet(refusal ? QStringLiteral("color: #b00000;") : QString());
    FMessage->setVisible(!text.isEmpty());
}

void TDrivePage::ShowResult()
{
    const TDriveResult& r = *FResult;
    FRuns->SetCurrent(FResult.get());
    const char sep = FHost.DecimalSeparator();
    FReadout->clear();
    QStringList notes;
    if (const std::string light = TransferLine(r, sep); !light.empty())
        notes << QString::fromStdString(light);
    if (const std::string repaired = RepairedLine(r); !repaired.empty())
        notes << QString::fromStdString(repaired);
    for (const std::string& n : r.Notes)
        notes << QString::fromStdString(n);
    if (r.WormSource == TWormSource::None && !r.WormNote.empty())
        notes << QString::fromStdString(r.WormNote);
    ShowMessage(notes.join(QLatin1Char('\n')), false);

    // A log without a pixel scale gives its error in guide-camera pixels.
    const TGuideSeries* log = FShownSeries.get();
    const QString arcsec = log && log->InPixels ? QStringLiteral(" px") : QStringLiteral("″");
    FPeakToPeak->setText(QStringLiteral("P-P: ") + Fixed(r.Stats.PeakToPeak, 2, sep) +
                         (std::isfinite(r.Stats.PeakToPeakSigma)
                              ? QStringLiteral(" ± ") + Fixed(r.Stats.PeakToPeakSigma, 2, sep)
                              : QString()) +
                         arcsec);
    FRms->setText(QStringLiteral("RMS: ") + Fixed(r.Stats.Rms, 2, sep) + arcsec);
    FMax->setText(QStringLiteral("Max+ / Max−: ") + Signed(r.Stats.MaxPlus, 2, sep) + QStringLiteral(" / ") +
                  Signed(r.Stats.MaxMinus, 2, sep) + arcsec);
    FDrift->setText(!std::isfinite(r.Drift)
                        ? QStringLiteral("Drift: not removed")
                        : QStringLiteral("Drift: ") + Signed(r.Drift, 4, sep) +
                              (std::isfinite(r.DriftSigma) ? QStringLiteral(" ± ") + Fixed(r.DriftSigma, 4, sep)
                                                           : QString()) +
                              arcsec + QStringLiteral("/s (") + Signed(r.DriftPercent, 3, sep) + QStringLiteral(" %)"));
    FDrift->setToolTip(std::isfinite(r.DriftSigma)
                           ? QStringLiteral("± one standard deviation from the trail's noise, the worm period taken "
                                            "as exact")
                           : QString());
    FRate->setText(QStringLiteral("Largest rate: ") + Fixed(r.Stats.MaxRate, 3, sep) + arcsec + QStringLiteral("/s"));
    FLongest->setText(QStringLiteral("Longest exposure within ") + Fixed(r.Stats.Tolerance, 2, sep) + arcsec +
                      QStringLiteral(": ") + Fixed(r.Stats.LongestExposure, 1, sep) + QStringLiteral(" s"));
    FWorm->setText(r.WormPeriod > 0 ? QStringLiteral("Worm period: ") + Fixed(r.WormPeriod, 2, sep) +
                                          QStringLiteral(" s (") + QLatin1String(WormSourceName(r.WormSource)) +
                                          QLatin1Char(')')
                                    : QStringLiteral("Worm period: none"));
    FSpread->setText(QStringLiteral("Cycle spread: ") +
                     (r.CycleCount > 0 ? Fixed(r.CycleSpreadRms, 2, sep) + arcsec + QStringLiteral(" RMS over ") +
                                             QString::number(r.CycleCount) +
                                             (r.CycleCount == 1 ? QStringLiteral(" cycle") : QStringLiteral(" cycles"))
                                       : QStringLiteral("–")));
    FResidual->setText(QStringLiteral("Residual after PEC: ") + Fixed(r.PecResidualRms, 2, sep) + arcsec +
                       QStringLiteral(" RMS"));
    // The Setup values in their fields' units, every decimal given.
    const TExperiment& e = r.Setup;
    auto value = [sep](double v, long double factor) {
        return QString::fromStdString(FloatText(static_cast<double>(v / factor), sep));
    };
    FScale->setText(QStringLiteral("Scale: ") + Fixed(r.ArcsecPerStep, 4, sep) + QStringLiteral("″ per step, from pixel ") +
                    value(e.PixelWidth, 1e-6L) + QStringLiteral(" × ") + value(e.PixelHeight, 1e-6L) +
                    QStringLiteral(" µm, focal length ") + value(e.FocalLength, 1e-3L) +
                    QStringLiteral(" mm, distance ") + value(e.StarDistance, 1) + QStringLiteral(" m, mount speed ") +
                    value(e.MountSpeed, 1) + QStringLiteral("″/s, exposure ") + value(e.ExposureTime, 1) +
                    QStringLiteral(" s"));
    if (log) {
        const TGuideSection& s = log->Section;
        FScale->setText(
            (log->InPixels ? QStringLiteral("No pixel scale in the log: the error is in guide-camera pixels")
                           : QStringLiteral("Scale: ") + Fixed(s.PixelScale, 3, sep) + QStringLiteral("″ per pixel")) +
            (std::isfinite(s.DecDeg) ? QStringLiteral(", Dec ") + Fixed(s.DecDeg, 1, sep) + QStringLiteral("°") : QString()) +
            (s.MountDriver.empty() ? QString() : QStringLiteral(", ") + QString::fromStdString(s.MountDriver) +
                                                     QStringLiteral(" driver")) +
            QStringLiteral("; ") + QString::number(log->Time.size()) + QStringLiteral(" frames"));
    }
    FPhase->setText(QString::fromStdString(PhaseText(r.PhaseInput)));
    // A wrong direction turns the time axis round: say which way it runs.
    const TDriveInput in = InputKey().Input;
    FDirection->setText(log ? QString() : DirectionText(StartSideOf(in.Start.X, in.Start.Y, in.Stop.X, in.Stop.Y)));
    FillTable();
    ShowFigure();
}

void TDrivePage::ShowFigure()
{
    FChart->SetUnit(FShownSeries && FShownSeries->InPixels ? QStringLiteral("px") : QStringLiteral("″"));
    FRuns->setVisible(FFigure->ItemIndex() == DriveFigureRuns);
    if (FResult || FFigure->ItemIndex() == DriveFigureRuns)
        FChart->Show(FResult, FFigure->ItemIndex(), FShowDrift->isChecked(), FHost.DecimalSeparator());
    else
        FChart->ShowNothing(FNoResult);
    FShowDrift->setEnabled(FFigure->ItemIndex() == DriveFigureError);
    if (FFigure->ItemIndex() != DriveFigureSpectrum)
        FReadout->clear();
}

void TDrivePage::FillTable()
{
    const char sep = FHost.DecimalSeparator();
    FPeaks->setSortingEnabled(false);
    FPeaks->clearContents();
    FPeaks->setRowCount(static_cast<int>(FResult->Peaks.size()));
    for (std::size_t i = 0; i < FResult->Peaks.size(); ++i) {
        const TDrivePeak& p = FResult->Peaks[i];
        const int row = static_cast<int>(i);
        FPeaks->setItem(row, 0, new TNumberItem(Fixed(p.Period, 1, sep), p.Period));
        auto* amplitude = new TNumberItem(Fixed(p.Amplitude, 2, sep), p.Amplitude);
        if (std::isfinite(p.AmplitudeSigma))
            amplitude->setToolTip(QStringLiteral("± ") + Fixed(p.AmplitudeSigma, 2, sep) +
                                  QStringLiteral("″, one standard deviation from the trail's noise"));
        FPeaks->setItem(row, 1, amplitude);
        FPeaks->setItem(row, 2, new TNumberItem(Fixed(p.PeakToPeak, 2, sep), p.PeakToPeak));
        // Unlabelled peaks sort after the harmonics.
        FPeaks->setItem(row, 3, new TNumberItem(QString::fromStdString(p.Label), p.Harmonic > 0 ? p.Harmonic : 1000));
    }
    FPeaks->setSortingEnabled(true);
}

void TDrivePage::CopyRows()
{
    QList<int> rows;
    for (const QModelIndex& i : FPeaks->selectionModel()->selectedRows())
        rows << i.row();
    if (rows.isEmpty())
        for (int r = 0; r < FPeaks->rowCount(); ++r)
            rows << r;
    std::sort(rows.begin(), rows.end());
    QString text;
    for (int c = 0; c < FPeaks->columnCount(); ++c)
        text += (c ? QStringLiteral("\t") : QString()) + FPeaks->horizontalHeaderItem(c)->toolTip();
    text += QLatin1Char('\n');
    for (int r : rows) {
        for (int c = 0; c < FPeaks->columnCount(); ++c)
            text += (c ? QStringLiteral("\t") : QString()) + (FPeaks->item(r, c) ? FPeaks->item(r, c)->text() : QString());
        text += QLatin1Char('\n');
    }
    QApplication::clipboard()->setText(text);
}

void TDrivePage::TeethClick()
{
    const int teeth = FTeeth->value();
    const double speed = FHost.MountSpeed();
    if (teeth <= 0 || !(speed > 0)) {
        ShowMessage(QStringLiteral("Give the number of teeth of the worm wheel and a mount speed above 0"), true);
        return;
    }
    FWormPeriod->setValue(ArcsecPerTurn / (speed * teeth));
}

void TDrivePage::PeakSnapped(int index)
{
    if (!FResult || index < 0 || static_cast<std::size_t>(index) >= FResult->Peaks.size())
        return;
    const TDrivePeak& p = FResult->Peaks[static_cast<std::size_t>(index)];
    const char sep = FHost.DecimalSeparator();
    FReadout->setText(QStringLiteral("Period ") + Fixed(p.Period, 1, sep) + QStringLiteral(" s, amplitude ") +
                      Fixed(p.Amplitude, 2, sep) + QStringLiteral("″, P-P ") + Fixed(p.PeakToPeak, 2, sep) +
                      QStringLiteral("″"));
}

void TDrivePage::ExportClick(int preselect)
{
    if (!ResultHolds()) {
        FHost.Dialogs().ErrorBox(NoResult);
        return;
    }
    if (preselect > 0)
        FSaveDialog.FilterIndex = preselect;
    const std::optional<TFileChoice> choice = FHost.Dialogs().SaveFile(FSaveDialog);
    if (!choice)
        return;
    // The name's own extension, when it names an offered type, is the
    // user's last word on the type.
    const QFileInfo name(choice->FileName);
    const QString ext = name.suffix().toLower();
    const qsizetype typed = ExportExtensions.indexOf(ext);
    const bool ownExtension =
        choice->FilterIndex >= 1 && choice->FilterIndex <= ExportExtensions.size() &&
        ExportExtensions[choice->FilterIndex - 1] == ext; // two types share .txt, two .pec
    const int format = typed >= 0 && !ownExtension ? static_cast<int>(typed) + 1 : choice->FilterIndex;
    FSaveDialog.FilterIndex = format;
    // Offered again without its extension, so that another type chosen
    // next time does not meet the old one's.
    FSaveDialog.FileName = name.completeBaseName();
    Export(format, choice->FileName);
}

void TDrivePage::Export(int format, const QString& fileName)
{
    if (!FResult) {
        FHost.Dialogs().ErrorBox(NoResult);
        return;
    }
    QByteArray bytes;
    switch (format) {
    case DriveExportSvg:
    case DriveExportPdf:
    case DriveExportPng:
        bytes = format == DriveExportSvg ? FChart->SvgBytes(QSize(FExportWidth->value(), FExportHeight->value()))
                : format == DriveExportPdf ? FChart->PdfBytes()
                                           : FChart->PngBytes(QSize(FExportWidth->value(), FExportHeight->value()));
        break;
    case DriveExportCsv:
        bytes = QByteArray::fromStdString(DriveCsv(*FResult));
        break;
    case DriveExportJson:
        bytes = QByteArray::fromStdString(FShownSeries ? GuideLogJson(*FResult, *FShownSeries, FShownGuideLog.Name)
                                                       : DriveJson(*FResult));
        break;
    case DriveExportPec:
        if (FResult->WormPeriod <= 0) {
            FHost.Dialogs().ErrorBox(QStringLiteral("There is no worm period, so there is no PEC table to save."));
            return;
        }
        bytes = QByteArray::fromStdString(PecTableText(*FResult));
        break;
    case DriveExportEqmod:
    case DriveExportCelestron:
    case DriveExportCelestron3600: {
        TPecFileOptions o;
        o.Invert = FInvert->isChecked();
        o.CelestronWormArcsec = format == DriveExportCelestron3600 ? 3600 : 7200;
        o.Version = FHost.ProgramVersion();
        o.PictureName = FShownSeries ? FShownGuideLog.Name : FHost.PictureName();
        const TPecFile f = format == DriveExportEqmod
                               ? EqmodPecFile(*FResult, FResult->PhaseInput, o)
                               : CelestronPecFile(*FResult, FResult->PhaseInput, FResult->Setup.MountSpeed, o);
        if (f.Refused()) {
            FHost.Dialogs().ErrorBox(QString::fromStdString(f.Message));
            return;
        }
        if (!f.Warning.empty())
            ShowMessage(QString::fromStdString(f.Warning), false);
        bytes = QByteArray::fromStdString(f.Text);
        break;
    }
    default:
        throw std::runtime_error("Unknown export");
    }
    // The old file stays as it was unless the whole new one is written.
    const std::string path = fileName.toStdString();
    if (bytes.isEmpty()) // the chart could not be drawn into the format
        throw EFileWriteError("Cannot create file " + path);
    SaveWholeFile(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace vinsk

namespace vinsk {

void TDrivePage::AddRunClick()
{
    FFigure->SetItemIndex(DriveFigureRuns);
    ShowFigure();
    FRuns->AddClick();
}

void TDrivePage::SaveAverageClick()
{
    FRuns->SaveAverageClick(FInvert->isChecked(), FHost.ProgramVersion());
}

} // namespace vinsk
