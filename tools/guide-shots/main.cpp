// Draws the pictures of the user's guide from the real window, driven offscreen
// through the committed samples, so that they show what the program shows
// today. Each picture is grabbed from the widget the guide talks about.
//
//   vinsk-guide-shots --source DIR --out DIR [--committed DIR] [--guide FILE]
//
// --source   the project folder (samples/ is read from it)
// --out      where the pictures are written
// --committed  the pictures as committed: those whose decoded pixels differ
//            from the new ones are listed as changed (a size change counts)
// --guide    the guide: every picture it shows must have been produced
//
// Exit 0 when every picture was produced and is not empty; 1 otherwise.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QDoubleSpinBox>
#include <QTemporaryDir>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "IndiServer.h"
#include "app/Unit1.h"
#include "app/capture/CaptureDialog.h"
#include "app/dialogs/Dialogs.h"
#include "app/drive/DriveChart.h"
#include "app/drive/DrivePage.h"
#include "app/widgets/ImageView.h"
#include "app/widgets/RadioGroup.h"
#include "app/widgets/SpinEdits.h"
#include "tools/sample-gen/PhysicalTrail.h"

namespace {

using namespace vinsk;

// Answers the file dialogs from a queue and keeps the messages, so that
// nothing waits for a person.
class TShotDialogs : public TDialogs {
public:
    void Answer(const QString& file) { FAnswers.push_back(file); }
    void MessageBox(TMessageKind, const QString&, const QString& text) override { Messages.push_back(text); }
    std::optional<TFileChoice> OpenFile(const TFileDialog& d) override { return Next(d); }
    std::optional<TFileChoice> SaveFile(const TFileDialog& d) override { return Next(d); }
    std::optional<TFileChoice> OpenPicture(const TFileDialog& d) override { return Next(d); }
    // No shot asks a question; one that does is a change to look at.
    bool Question(const QString&, const QString& text) override
    {
        Messages.push_back(text);
        return false;
    }
    std::optional<int> Choose(const QString&, const QString& text, const QStringList&, int) override
    {
        Messages.push_back(text);
        return std::nullopt;
    }

    QStringList Messages;
    QStringList Unexpected;

private:
    std::optional<TFileChoice> Next(const TFileDialog& d)
    {
        if (FAnswers.empty()) {
            Unexpected << d.Name;
            return std::nullopt;
        }
        TFileChoice c{FAnswers.front(), 1};
        FAnswers.pop_front();
        return c;
    }
    std::deque<QString> FAnswers;
};

class TShots {
public:
    TShots(QString source, QString out) : FSource(std::move(source)), FOut(std::move(out))
    {
        FWindow = std::make_unique<TVinsk_main>(FDialogs);
        // A fixed size, so that the pictures change only when the window does.
        FWindow->resize(1000, 640);
        FWindow->show();
        Settle();
    }

    QString Sample(const char* name) const { return FSource + QStringLiteral("/samples/") + QLatin1String(name); }

    template <typename T = QWidget>
    T* Get(const char* name)
    {
        T* w = FWindow->findChild<T*>(QLatin1String(name));
        if (!w)
            Fail(QStringLiteral("no control %1").arg(QLatin1String(name)));
        return w;
    }

    void Fail(const QString& why)
    {
        std::fprintf(stderr, "guide-shots: %s\n", qPrintable(why));
        FFailed = true;
    }
    bool Failed() const { return FFailed; }
    const QStringList& Produced() const { return FProduced; }
    TShotDialogs& Dialogs() { return FDialogs; }
    QWidget* Window() { return FWindow.get(); }

    void Trigger(const char* action)
    {
        if (auto* a = Get<QAction>(action))
            a->trigger();
        Settle();
    }
    // Events until `done` holds; a failure named `what` after `ms`.
    bool WaitFor(const std::function<bool()>& done, int ms, const QString& what)
    {
        if (QTest::qWaitFor(done, ms))
            return true;
        Fail(what);
        return false;
    }

    // Until the Drive tab's worker has delivered its result.
    void WaitForDrive()
    {
        auto* page = Get<TDrivePage>("TabSheet4");
        if (!page)
            return;
        for (int i = 0; i < 6000 && page->Busy(); ++i) {
            QThread::msleep(10);
            QApplication::processEvents();
        }
        if (page->Busy())
            Fail(QStringLiteral("the drive analysis did not finish"));
        Settle();
    }

    void Settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }

    void ShowTab(QWidget* w)
    {
        for (QWidget* p = w; p; p = p->parentWidget())
            if (p->objectName().startsWith(QLatin1String("TabSheet")))
                Get<QTabWidget>("PageControl1")->setCurrentWidget(p);
        Settle();
    }
    void Click(const char* name)
    {
        auto* b = Get<QAbstractButton>(name);
        if (!b)
            return;
        ShowTab(b);
        QTest::mouseClick(b, Qt::LeftButton);
        Settle();
    }
    void ClickAnswering(const char* name, const QString& file)
    {
        FDialogs.Answer(file);
        Click(name);
    }
    void Type(const char* name, const QString& text)
    {
        auto* e = Get<TSpinEditBase>(name);
        if (!e)
            return;
        ShowTab(e);
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
        Settle();
    }
    void Choose(const char* group, int index)
    {
        auto* g = Get<TRadioGroup>(group);
        if (!g)
            return;
        ShowTab(g);
        QAbstractButton* b = g->Item(index);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->height() / 2, b->height() / 2));
        Settle();
    }
    // A check point placed as a user does (its button, a press on the
    // picture), then moved to the exact pixel through its edits.
    void PlacePoint(int kind, int x, int y)
    {
        static const char* buttons[3] = {"BitBtn4", "BitBtn5", "BitBtn9"};
        Click(buttons[kind]);
        QWidget* viewport = Get<TImageView>("Image1")->viewport();
        const QPoint at(10 + 10 * kind, 10);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), QPointF(viewport->mapToGlobal(at)), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), QPointF(viewport->mapToGlobal(at)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &release);
        Settle();
        Type(QStringLiteral("RxSpinEdit%1").arg(10 + 2 * kind).toLatin1().constData(), QString::number(x));
        Type(QStringLiteral("RxSpinEdit%1").arg(11 + 2 * kind).toLatin1().constData(), QString::number(y));
    }
    void PlacePoints(QPoint start, QPoint stop, QPoint inLine)
    {
        PlacePoint(0, start.x(), start.y());
        PlacePoint(1, stop.x(), stop.y());
        PlacePoint(2, inLine.x(), inLine.y());
    }

    // Grabs a widget, or a part of it, into out/<name>.png.
    void Shot(const QString& name, QWidget* w, QRect part = QRect())
    {
        if (!w)
            return Fail(name + QStringLiteral(": nothing to grab"));
        ShowTab(w);
        // No text cursor in the picture: it blinks.
        if (QWidget* f = QApplication::focusWidget())
            f->clearFocus();
        Settle();
        const QImage img = w->grab(part.isNull() ? QRect(QPoint(0, 0), w->size()) : part).toImage();
        Save(name, img);
    }
    void Save(const QString& name, const QImage& img)
    {
        if (img.isNull() || img.width() < 8 || img.height() < 8)
            return Fail(name + QStringLiteral(": the grab is empty"));
        const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
        // Window parts of few colours keep them exactly in a palette, which
        // keeps the files small; a grab that shows a photograph stays RGB.
        QSet<QRgb> colours;
        for (int y = 0; y < rgb.height() && colours.size() <= 256; ++y)
            for (int x = 0; x < rgb.width() && colours.size() <= 256; ++x)
                colours.insert(rgb.pixel(x, y));
        const QImage stored = colours.size() <= 256
            ? rgb.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither)
            : rgb;
        bool varied = false;
        const QRgb first = rgb.pixel(0, 0);
        for (int y = 0; y < rgb.height() && !varied; ++y)
            for (int x = 0; x < rgb.width() && !varied; ++x)
                varied = rgb.pixel(x, y) != first;
        if (!varied)
            return Fail(name + QStringLiteral(": the grab is one colour"));
        const QString path = FOut + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!stored.save(path, "PNG", 9))
            return Fail(name + QStringLiteral(": cannot write ") + path);
        FProduced << name + QStringLiteral(".png");
    }

    // The part of the image view's viewport that shows the picture's rows
    // top to bottom (image pixels).
    void ShotOfRows(const QString& name, int pictureWidth, int top, int bottom)
    {
        auto* view = Get<TImageView>("Image1");
        if (!view)
            return;
        ShowTab(view);
        const float scale = view->Scale();
        const int y0 = static_cast<int>(view->OffsetVert() + static_cast<float>(top) * scale);
        const int y1 = static_cast<int>(view->OffsetVert() + static_cast<float>(bottom) * scale);
        const int x0 = std::max(0, static_cast<int>(view->OffsetHorz()));
        const int x1 = std::min(view->viewport()->width(),
                                static_cast<int>(view->OffsetHorz() + static_cast<float>(pictureWidth) * scale));
        Shot(name, view->viewport(), QRect(x0, y0, x1 - x0, y1 - y0));
    }

private:
    QString FSource, FOut;
    TShotDialogs FDialogs;
    std::unique_ptr<TVinsk_main> FWindow;
    QStringList FProduced;
    bool FFailed = false;
};

// The trail sample's check points, as samples/checkpoints.txt gives them.
const QPoint TrailStart(40, 180), TrailStop(520, 150), TrailInLine(279, 153);

void SetupShots(TShots& s)
{
    QWidget* tab = s.Get("TabSheet1");
    s.Shot(QStringLiteral("setup-400mm"), tab);
    // The worked example: a shorter lens lets two worm periods fit.
    s.Type("RxSpinEdit6", QStringLiteral("300"));
    s.Type("RxSpinEdit8", QStringLiteral("960"));
    s.Shot(QStringLiteral("setup-300mm"), tab);
    s.Type("RxSpinEdit6", QStringLiteral("400"));
    s.Type("RxSpinEdit8", QStringLiteral("480"));
}

void ImageShots(TShots& s)
{
    s.ClickAnswering("BitBtn1", s.Sample("trail.ini"));
    s.ClickAnswering("BitBtn3", s.Sample("trail.png"));
    QWidget* tab = s.Get("TabSheet2");
    s.Shot(QStringLiteral("image-open"), tab);
    s.ClickAnswering("BitBtn10", s.Sample("trail-dark.png"));
    s.ClickAnswering("BitBtn12", s.Sample("trail-flat.png"));
    QWidget* panel = s.Get("Panel2");
    QWidget* flatDark = s.Get("FlatDarkButton");
    if (panel && flatDark)
        s.Shot(QStringLiteral("image-calibrated"), panel,
               QRect(0, 0, panel->width(), flatDark->mapTo(panel, QPoint(0, flatDark->height())).y() + 6));
    s.PlacePoints(TrailStart, TrailStop, TrailInLine);
    s.ShotOfRows(QStringLiteral("image-points"), 560, 110, 215);
}

void GraphShots(TShots& s, const QString& prefix)
{
    QWidget* tab = s.Get("TabSheet3");
    const char* names[4] = {"profile", "error", "estimation", "spectrum"};
    s.Click("BitBtn6");
    for (int figure = 0; figure < 4; ++figure) {
        s.Choose("RadioGroup2", figure);
        s.Shot(prefix + QLatin1String(names[figure]), tab);
    }
    s.Choose("RadioGroup2", 1);
}

void BadPlacementShots(TShots& s)
{
    // IN-LINE six pixels above the crest: the circle leaves the trail.
    s.Type("RxSpinEdit15", QString::number(TrailInLine.y() - 6));
    s.ShotOfRows(QStringLiteral("image-bad-inline"), 560, 110, 215);
    s.Click("BitBtn6");
    s.Choose("RadioGroup2", 1);
    s.Shot(QStringLiteral("graph-bad-inline"), s.Get("TabSheet3"));
    s.Type("RxSpinEdit15", QString::number(TrailInLine.y()));
}

void FindTrailShots(TShots& s)
{
    s.Click("FindTrailButton");
    s.ShotOfRows(QStringLiteral("image-find-trail"), 560, 110, 215);
}

// The physically rendered sample: two periods of a 100 s worm.
void DriveShots(TShots& s)
{
    s.ClickAnswering("BitBtn1", s.Sample("physical.ini"));
    s.ClickAnswering("BitBtn3", s.Sample("physical.png"));
    s.Click("FindTrailButton");
    auto* page = s.Get("TabSheet4");
    if (!page)
        return;
    s.ShowTab(page);
    s.WaitForDrive();
    const char* names[4] = {"error", "spectrum", "cycles", "pec"};
    for (int figure = 0; figure < 4; ++figure) {
        s.Choose("DriveFigure", figure);
        s.WaitForDrive();
        s.Shot(QStringLiteral("drive-") + QLatin1String(names[figure]), page);
    }
    s.Choose("DriveFigure", 0);
    s.Shot(QStringLiteral("drive-inputs"), s.Get("DriveInputs"));
}

// A real mount's guide log on the Drive tab, in place of the trail.
void GuideLogShots(TShots& s)
{
    s.Dialogs().Answer(s.Sample("guide-logs/performance_dataset04.txt"));
    s.Trigger("AnalyseGuideLog1");
    s.WaitForDrive();
    s.Shot(QStringLiteral("drive-guide-log"), s.Get("TabSheet4"));
}

// The capture dialog during an exposure, against the simulated mount and
// camera of the private INDI server the capture tests use.
void CaptureShots(TShots& s)
{
    test::TIndiServer server;
    if (!server.Error().empty())
        return s.Fail(QStringLiteral("no INDI server: ") + QString::fromStdString(server.Error()));
    if (!server.ConnectMount() || !server.StartTracking())
        return s.Fail(QStringLiteral("the simulated mount did not start tracking"));
    TCaptureDefaults defaults;
    defaults.Seconds = 10;
    defaults.Folder = QString::fromStdString(server.Dir());
    TCaptureDialog d(s.Window(), defaults, &s.Dialogs());
    d.show();
    d.Server->setText(QStringLiteral("127.0.0.1:%1").arg(server.Port()));
    QTest::mouseClick(d.Refresh, Qt::LeftButton);
    if (!s.WaitFor([&] { return d.Camera->count() > 0 && d.Mount->count() > 0; }, 20000,
                   QStringLiteral("the INDI server listed no devices")))
        return;
    QTest::mouseClick(d.Start, Qt::LeftButton);
    if (s.WaitFor([&] { return d.Progress->value() > 100 && d.Motor->text().startsWith(QStringLiteral("RA motor")); },
                  30000, QStringLiteral("the exposure did not start: ") + d.Message->text()))
        s.Shot(QStringLiteral("capture-exposing"), &d);
    QTest::mouseClick(d.Abort, Qt::LeftButton);
    s.WaitFor([&] { return d.Start->isEnabled(); }, 30000, QStringLiteral("the exposure did not end"));
}

// Runs of the same mount as the physical sample, before and after a
// correction: rendered, opened and analysed with the worm at `phaseDeg` at
// START, and saved as reports where `report` names one.
void OpenRun(TShots& s, const QString& png, double a1, double a2, double phaseDeg, std::uint64_t seed,
             const QString& date, const QString& report = QString())
{
    tools::TPhysicalOptions o;
    const double start = phaseDeg * 3.14159265358979323846 / 180;
    o.Terms = {{a1, 100, start}, {a2, 50, 2 * start + 0.7}};
    o.Seed = seed;
    tools::WritePhysicalPng(png.toStdString(), tools::RenderPhysicalTrail(o));
    // The table dates a PNG by its modification time.
    QFile f(png);
    if (f.open(QIODevice::ReadWrite))
        f.setFileTime(QDateTime::fromString(date, Qt::ISODate), QFileDevice::FileModificationTime);
    f.close();
    s.ClickAnswering("BitBtn3", png);
    s.Click("FindTrailButton");
    auto* page = s.Get("TabSheet4");
    s.ShowTab(page);
    if (auto* period = s.Get<QDoubleSpinBox>("DriveWormPeriod"))
        period->setValue(100);
    if (auto* phase = s.Get<QDoubleSpinBox>("DriveWormPhase"))
        phase->setValue(phaseDeg);
    s.Settle();
    s.WaitForDrive();
    if (!report.isEmpty()) {
        s.Dialogs().Answer(report);
        if (auto* save = s.Get<QAction>("SaveDriveReport1"))
            save->trigger();
    }
}

void RunsShots(TShots& s)
{
    QTemporaryDir dir;
    // The rendered runs' exposure (the physical sample's settings hold another).
    s.Type("RxSpinEdit8", QStringLiteral("297.4"));
    const auto file = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
    OpenRun(s, file("before.png"), 5, 1.5, 0, 1, QStringLiteral("2026-12-07T21:00:00Z"), file("before.json"));
    OpenRun(s, file("second.png"), 5, 1.5, 90, 4, QStringLiteral("2026-12-07T21:30:00Z"), file("second.json"));
    // A correction of the wrong sign doubles the error.
    OpenRun(s, file("inverted.png"), 10, 3, 0, 3, QStringLiteral("2026-12-07T23:00:00Z"));
    s.Choose("DriveFigure", DriveFigureRuns);
    s.Dialogs().Answer(file("before.json"));
    if (auto* add = s.Get<QAction>("AddDriveRun1"))
        add->trigger();
    s.WaitForDrive();
    s.Shot(QStringLiteral("drive-runs-inverted"), s.Get("TabSheet4"));
    // Three runs of the mount before the correction, and their average.
    OpenRun(s, file("third.png"), 5, 1.5, 200, 5, QStringLiteral("2026-12-07T22:00:00Z"));
    s.Dialogs().Answer(file("second.json"));
    if (auto* add = s.Get<QAction>("AddDriveRun1"))
        add->trigger();
    s.WaitForDrive();
    s.Shot(QStringLiteral("drive-runs"), s.Get("TabSheet4"));
    s.Choose("DriveFigure", 0);
    // The pictures after these take their worm period and phase themselves.
    if (auto* period = s.Get<QDoubleSpinBox>("DriveWormPeriod"))
        period->setValue(0);
    if (auto* phase = s.Get<QDoubleSpinBox>("DriveWormPhase"))
        phase->setValue(-1);
}

// Pixels as decoded; a different size counts as a change.
bool SamePixels(const QString& a, const QString& b)
{
    QImage x(a), y(b);
    if (x.isNull() || y.isNull() || x.size() != y.size())
        return false;
    return x.convertToFormat(QImage::Format_RGB32) == y.convertToFormat(QImage::Format_RGB32);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString source, out, committed, guide;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--source"))
            source = args[i + 1];
        else if (args[i] == QLatin1String("--out"))
            out = args[i + 1];
        else if (args[i] == QLatin1String("--committed"))
            committed = args[i + 1];
        else if (args[i] == QLatin1String("--guide"))
            guide = args[i + 1];
        else {
            std::fprintf(stderr, "guide-shots: unknown option %s\n", qPrintable(args[i]));
            return 2;
        }
    }
    if (source.isEmpty() || out.isEmpty() || args.size() % 2 == 0) {
        std::fprintf(stderr, "usage: vinsk-guide-shots --source DIR --out DIR [--committed DIR] [--guide FILE]\n");
        return 2;
    }
    QDir().mkpath(out);

    TShots s(source, out);
    SetupShots(s);
    ImageShots(s);
    GraphShots(s, QStringLiteral("graph-"));
    BadPlacementShots(s);
    FindTrailShots(s);
    DriveShots(s);
    RunsShots(s);
    GuideLogShots(s);
    CaptureShots(s);

    if (!s.Dialogs().Messages.isEmpty())
        for (const QString& m : s.Dialogs().Messages)
            s.Fail(QStringLiteral("the window refused: ") + m);
    for (const QString& d : s.Dialogs().Unexpected)
        s.Fail(QStringLiteral("unexpected dialog ") + d);

    bool ok = !s.Failed();
    const QSet<QString> produced(s.Produced().begin(), s.Produced().end());
    if (!guide.isEmpty()) {
        QFile f(guide);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "guide-shots: cannot read %s\n", qPrintable(guide));
            ok = false;
        } else {
            const QString text = QString::fromUtf8(f.readAll());
            QRegularExpression shown(QStringLiteral(R"(\(images/([A-Za-z0-9_.-]+\.png)\))"));
            for (auto it = shown.globalMatch(text); it.hasNext();) {
                const QString name = it.next().captured(1);
                if (!produced.contains(name)) {
                    std::fprintf(stderr, "guide-shots: the guide shows %s, which no shot produces\n", qPrintable(name));
                    ok = false;
                }
            }
        }
    }
    if (!committed.isEmpty()) {
        int changed = 0;
        for (const QString& name : s.Produced()) {
            const QString old = committed + QLatin1Char('/') + name;
            if (!QFileInfo::exists(old)) {
                std::printf("new:     %s\n", qPrintable(name));
                ++changed;
            } else if (!SamePixels(old, out + QLatin1Char('/') + name)) {
                std::printf("changed: %s\n", qPrintable(name));
                ++changed;
            }
        }
        for (const QString& name : QDir(committed).entryList({QStringLiteral("*.png")}, QDir::Files))
            if (!produced.contains(name)) {
                std::printf("gone:    %s\n", qPrintable(name));
                ++changed;
            }
        std::printf("%d of %lld pictures differ from the committed ones\n", changed,
                    static_cast<long long>(s.Produced().size()));
    }
    return ok ? 0 : 1;
}
