#include "app/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>
#include <exception>
#include <new>
#include <utility>

#include "app/ErrorReport.h"
#include "app/u_about.h"
#include "app/widgets/Mnemonics.h"
#include "app/widgets/RadioGroup.h"
#include "app/widgets/SpinEdits.h"

namespace vinsk {

namespace {

// Status panels 0 and 1 at their narrowest.
constexpr int StatusPanelWidth = 150;

char LocaleDecimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 0x80)
        return static_cast<char>(point[0].unicode());
    return '.';
}

} // namespace

TVinsk_main::TVinsk_main(TDialogs& dialogs, QWidget* parent) : QMainWindow(parent), FDialogs(dialogs)
{
    setObjectName(QStringLiteral("Vinsk_main"));
    FState.DecimalSeparator = LocaleDecimalSeparator();

    OpenDialog1.Name = QStringLiteral("OpenDialog1");
    SaveDialog1.Name = QStringLiteral("SaveDialog1");
    OPD.Name = QStringLiteral("OPD");

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setDocumentMode(true);
    TabSheet1 = BuildSetupTab();
    TabSheet2 = BuildImageTab();
    TabSheet3 = BuildGraphTab();
    PageControl1->addTab(TabSheet1, QStringLiteral("&1. Setup"));
    PageControl1->addTab(TabSheet2, QStringLiteral("&2. Image"));
    PageControl1->addTab(TabSheet3, QStringLiteral("&3. Graph"));
    PageControl1->setCurrentIndex(0);
    setCentralWidget(PageControl1);

    BuildMenus();
    BuildStatusBar();
    SetTabOrder();
    BuildDriveTab();
    for (QWidget* page : {TabSheet1, TabSheet2, TabSheet3})
        GiveAltLettersToMenuBar(menuBar(), page);

    resize(777, 571);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    FormCreate();
}

TVinsk_main::~TVinsk_main() = default;

void TVinsk_main::FormCreate()
{
    CaclValue();
    FMarkerDragging = false;
    FVersion = ReadVersionTexts();
    setWindowTitle(QStringLiteral("Vinsk, ver. ") + FVersion.ProductVersionText);
}

void TVinsk_main::BuildMenus()
{
    auto item = [this](QMenu* menu, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    Exit1 = item(file, "Exit1", QStringLiteral("&Exit"));

    QMenu* setup = bar->addMenu(QStringLiteral("Setup"));
    setup->setObjectName(QStringLiteral("Setup1"));
    Open1 = item(setup, "Open1", QStringLiteral("&Open experiment"));
    Openimage1 = item(setup, "Openimage1", QStringLiteral("&Save experiment"));

    QMenu* image = bar->addMenu(QStringLiteral("Image"));
    image->setObjectName(QStringLiteral("Image2"));
    Openimage2 = item(image, "Openimage2", QStringLiteral("Open i&mage"));
    CaptureIndi1 = item(image, "CaptureIndi1", QStringLiteral("&Capture through INDI…"));
    ApplyDark1 = item(image, "ApplyDark1", QStringLiteral("Apply &Dark"));
    ApplyFlat1 = item(image, "ApplyFlat1", QStringLiteral("Apply &Flat"));
    FindTrail1 = item(image, "FindTrail1", QStringLiteral("F&ind trail"));

    QMenu* graphs = bar->addMenu(QStringLiteral("Graphs"));
    graphs->setObjectName(QStringLiteral("Graphs1"));
    PlotGraph1 = item(graphs, "PlotGraph1", QStringLiteral("Plot &Graph"));
    Saveresults1 = item(graphs, "Saveresults1", QStringLiteral("Save results"));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    About1 = item(help, "About1", QStringLiteral("&About"));

    Wire(Exit1, &QAction::triggered, &TVinsk_main::Exit1Click);
    Wire(Open1, &QAction::triggered, &TVinsk_main::OpenFile);
    Wire(Openimage1, &QAction::triggered, &TVinsk_main::SaveFile);
    Wire(Openimage2, &QAction::triggered, &TVinsk_main::OpenimageClick);
    Wire(ApplyDark1, &QAction::triggered, &TVinsk_main::BitBtn10Click);
    Wire(ApplyFlat1, &QAction::triggered, &TVinsk_main::BitBtn12Click);
    Wire(FindTrail1, &QAction::triggered, &TVinsk_main::FindTrailClick);
    Wire(CaptureIndi1, &QAction::triggered, &TVinsk_main::CaptureClick);
    Wire(PlotGraph1, &QAction::triggered, &TVinsk_main::ShowGraph);
    Wire(Saveresults1, &QAction::triggered, &TVinsk_main::BitBtn11Click);
    Wire(About1, &QAction::triggered, &TVinsk_main::About1Click);
}

void TVinsk_main::BuildStatusBar()
{
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    for (std::size_t i = 0; i < StatusPanelCount; ++i) {
        // The image-size and prompt panels have their own width (at least
        // their usual one, see SyncStatus); the read-out takes the rest.
        const bool fixed = i != PanelReadout;
        auto* panel = new QLabel(StatusBar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        if (fixed)
            panel->setFixedWidth(StatusPanelWidth);
        else // a long read-out must not widen the window
            panel->setMinimumWidth(1);
        StatusBar->addWidget(panel, fixed ? 0 : 1);
        StatusPanels[i] = panel;
    }
    // Beside the three panels, at the right end: the linear samples' note.
    StatusLinear = new QLabel(StatusBar);
    StatusLinear->setObjectName(QStringLiteral("StatusLinear"));
    StatusBar->addPermanentWidget(StatusLinear);
    setStatusBar(StatusBar);
}

void TVinsk_main::SetTabOrder()
{
    auto chain = [](std::initializer_list<QWidget*> order) {
        QWidget* previous = nullptr;
        for (QWidget* w : order) {
            if (previous)
                setTabOrder(previous, w);
            previous = w;
        }
    };
    chain({SetupEdits[0], SetupEdits[1], SetupEdits[2], SetupEdits[3], SetupEdits[4], SetupEdits[5], SetupEdits[6],
           SetupEdits[7], SetupEdits[8], BitBtn1, BitBtn2, BitBtn7});
    chain({BitBtn3, BitBtn10, BitBtn12, FlatDarkButton, sbScale, RatioButtons[0], RatioButtons[1], RatioButtons[2], RatioButtons[3],
           RatioButtons[4], SpeedButton6, BitBtn4, PointEdits[0][0], PointEdits[0][1], BitBtn5, PointEdits[1][0],
           PointEdits[1][1], BitBtn9, PointEdits[2][0], PointEdits[2][1], FindTrailButton, BitBtn6});
    chain({BitBtn8, RadioGroup2, RadioGroup1, chLog, CheckBox2, RxSpinEdit16, BitBtn11});
}

void TVinsk_main::RunCommand(const std::function<void()>& command)
{
    if (FInCommand) {
        // After a fault the command is ending: nothing more of it runs.
        if (FNestedFault)
            return;
        try {
            command();
        } catch (...) {
            FNestedFault = std::current_exception();
        }
        return;
    }
    FInCommand = true;
    FNestedFault = nullptr;
    try {
        command();
        // A set-off handler's fault that no SetOff passed on.
        RethrowNestedFault();
    } catch (const std::bad_alloc&) {
        FInCommand = false;
        // Never "std::bad_alloc": the command that ran out is the one just started.
        ReportError(QStringLiteral("Not enough memory to finish the command"));
    } catch (const std::exception& e) {
        FInCommand = false;
        ReportError(QString::fromUtf8(e.what()));
    } catch (...) {
        FInCommand = false;
        ReportError(QStringLiteral("Unknown error"));
    }
    FInCommand = false;
    FNestedFault = nullptr;
    SyncStatus();
}

void TVinsk_main::RethrowNestedFault()
{
    if (FNestedFault)
        std::rethrow_exception(std::exchange(FNestedFault, nullptr));
}

void TVinsk_main::LayOutPage(QWidget* page)
{
    // The tab control sizes and lays out only the page that shows, and a
    // hidden widget lays out its children only once it is shown.
    if (page->isVisible() || !page->layout())
        return;
    if (QWidget* shown = PageControl1->currentWidget(); shown && shown != page)
        page->setGeometry(shown->geometry());
    page->layout()->invalidate();
    page->layout()->activate();
    for (QWidget* w : page->findChildren<QWidget*>()) // parents before their children
        if (QLayout* l = w->layout()) {
            l->invalidate();
            l->activate();
        }
}

void TVinsk_main::ReportError(const QString& message)
{
    FDialogs.MessageBox(TMessageKind::Error, ApplicationTitle(), ErrorReportText(message));
}

void TVinsk_main::SyncStatus()
{
    for (std::size_t i = 0; i < StatusPanels.size(); ++i) {
        QLabel* panel = StatusPanels[i];
        const QString text = QString::fromStdString(FState.Status.Panels[i]);
        if (panel->text() == text)
            continue;
        panel->setText(text);
        panel->setToolTip(text);
        // The image-size and prompt panels hold results such as the
        // measurement error, which must be readable in any font: each is as
        // wide as its text needs, never narrower than its usual width.
        if (i != PanelReadout) {
            panel->setMinimumWidth(0); // the label's size hint includes its minimum
            panel->setFixedWidth(std::max(StatusPanelWidth, panel->sizeHint().width()));
        }
    }
    const QString linear = QString::fromStdString(FState.Status.Linear);
    if (StatusLinear->text() != linear)
        StatusLinear->setText(linear);
}

void TVinsk_main::Exit1Click()
{
    close();
}

void TVinsk_main::About1Click()
{
    TAboutBox::Execute(FVersion.FileVersionText, FVersion.ProductVersionText);
}

void TVinsk_main::BitBtn7Click()
{
    PageControl1->setCurrentWidget(TabSheet2);
    OpenimageClick();
}

} // namespace vinsk
