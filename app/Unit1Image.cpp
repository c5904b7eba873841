// The Image tab: the picture with its calibration, the check points and
// their markers, and the zoom.
#include "app/Unit1.h"

#include <QFile>
#include <QFileInfo>

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/widgets/ImageView.h"
#include "app/widgets/Markers.h"
#include "app/widgets/Shape.h"
#include "app/widgets/SpinEdits.h"
#include "findtrail/FindTrail.h"
#include "graphics/ViewMath.h"
#include "image/Calibration.h"
#include "image/FrameCalibration.h"
#include "drive/Runs.h"
#include "image/formats/Picture.h"

namespace vinsk {

namespace {

struct TPointKind {
    const char* Button;
    const char* Caption;
    QColor Colour;
    const char* Hint;
    const char* Prompt;
};

const TPointKind PointKinds[CheckPointKindCount] = {
    {"BitBtn4", "&Star point", Qt::blue, "Set start point", "Select START point"},
    {"BitBtn5", "S&top point", Qt::red, "Set stop point", "Select STOP point"},
    {"BitBtn9", "I&n line point", QColor(0, 128, 0), "", "Select point in the LINE"},
};

// The hourglass over the view while a command works, the cross after it,
// also when the command fails.
class TBusyCursor {
public:
    explicit TBusyCursor(QWidget* w) : FWidget(w) { FWidget->setCursor(Qt::WaitCursor); }
    ~TBusyCursor() { FWidget->setCursor(Qt::CrossCursor); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    QWidget* FWidget;
};

// Places a marker with its centre on the image pixel (x, y).
void PlaceMarker(TImageLayer* layer, std::int32_t x, std::int32_t y)
{
    layer->SetLocation(QRectF(static_cast<qreal>(x) - MarkerCentre, static_cast<qreal>(y) - MarkerCentre,
                              layer->BitmapWidth(), layer->BitmapHeight()));
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption, const QString& hint = QString())
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    if (!hint.isEmpty())
        b->setToolTip(hint);
    return b;
}

} // namespace

QWidget* TVinsk_main::BuildImageTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabSheet2"));

    Image1 = new TImageView(tab);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->SetBitmap(&FState.Image.Bitmap);

    auto* panel = new QFrame(tab);
    panel->setObjectName(QStringLiteral("Panel2"));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFixedWidth(185);
    auto* v = new QVBoxLayout(panel);
    v->setContentsMargins(6, 6, 6, 6);
    v->setSpacing(4);

    BitBtn3 = NewButton(panel, "BitBtn3", QStringLiteral("Open i&mage"));
    v->addWidget(BitBtn3);

    auto calibrationRow = [&](QPushButton*& button, const char* name, const char* caption, const char* hint,
                              TShape*& shape, const char* shapeName, QColor brush, QColor pen, const char* shapeHint) {
        button = NewButton(panel, name, QLatin1String(caption), QLatin1String(hint));
        shape = new TShape(brush, pen, panel);
        shape->setObjectName(QLatin1String(shapeName));
        shape->setToolTip(QLatin1String(shapeHint));
        shape->setFixedSize(16, 16);
        // The button keeps its width whether the indicator shows or not.
        QSizePolicy sp = shape->sizePolicy();
        sp.setRetainSizeWhenHidden(true);
        shape->setSizePolicy(sp);
        shape->hide();
        auto* row = new QHBoxLayout;
        row->addWidget(button, 1);
        row->addWidget(shape);
        v->addLayout(row);
    };
    calibrationRow(BitBtn10, "BitBtn10", "&Dark image", "Apply dark image", Shape1, "Shape1", Qt::black, Qt::white,
                   "The DARK is applied.");
    calibrationRow(BitBtn12, "BitBtn12", "&Flat image", "Apply  flat image", Shape2, "Shape2", Qt::white, Qt::black,
                   "The FLAT is applied.");
    // Beside the flat, for the drive's light: the flat's own offset.
    FlatDarkButton = NewButton(panel, "FlatDarkButton", QStringLiteral("Flat dar&k"),
                               QStringLiteral("The flat's own dark (bias) frame, before the flat: the drive analysis "
                                              "divides by the flat less it (without one, less the dark)"));
    // Lined up with the buttons above, whose indicators it has none of.
    auto* flatDarkRow = new QHBoxLayout;
    flatDarkRow->addWidget(FlatDarkButton, 1);
    flatDarkRow->addSpacing(16);
    v->addLayout(flatDarkRow);

    v->addSpacing(8);
    Label34 = new QLabel(QStringLiteral("&Zoom: 100%"), panel);
    Label34->setObjectName(QStringLiteral("Label34"));
    v->addWidget(Label34);
    sbScale = new QScrollBar(Qt::Horizontal, panel);
    sbScale->setObjectName(QStringLiteral("sbScale"));
    sbScale->setToolTip(QStringLiteral("Zoom image value"));
    sbScale->setRange(MinZoom, MaxZoom);
    sbScale->setSingleStep(1);
    sbScale->setPageStep(1);
    sbScale->setValue(100);
    Label34->setBuddy(sbScale);
    v->addWidget(sbScale);

    struct TRatio {
        const char* Name;
        const char* Caption;
        int Tag;
    };
    const TRatio ratios[5] = {{"SpeedButton4", "1:3", 33},
                              {"SpeedButton1", "1:2", 50},
                              {"SpeedButton2", "1:1", 100},
                              {"SpeedButton3", "2:1", 200},
                              {"SpeedButton5", "3:1", 300}};
    auto* ratioRow = new QHBoxLayout;
    ratioRow->setSpacing(1);
    for (std::size_t i = 0; i < 5; ++i) {
        auto* b = new QToolButton(panel);
        b->setObjectName(QLatin1String(ratios[i].Name));
        b->setText(QLatin1String(ratios[i].Caption));
        b->setProperty("Tag", ratios[i].Tag);
        b->setAutoRaise(true);
        b->setCursor(Qt::PointingHandCursor);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        if (ratios[i].Tag == 100) {
            QFont f = b->font();
            f.setBold(true);
            b->setFont(f);
        }
        ratioRow->addWidget(b);
        RatioButtons[i] = b;
    }
    v->addLayout(ratioRow);
    SpeedButton6 = new QToolButton(panel);
    SpeedButton6->setObjectName(QStringLiteral("SpeedButton6"));
    SpeedButton6->setText(QStringLiteral("Fit Image to the window"));
    SpeedButton6->setToolTip(QStringLiteral("Fit Image to the window"));
    SpeedButton6->setAutoRaise(true);
    SpeedButton6->setCursor(Qt::PointingHandCursor);
    SpeedButton6->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    v->addWidget(SpeedButton6);

    const char* editNames[3][2] = {
        {"RxSpinEdit10", "RxSpinEdit11"}, {"RxSpinEdit12", "RxSpinEdit13"}, {"RxSpinEdit14", "RxSpinEdit15"}};
    const char* crossNames[3] = {"Label35", "Label37", "Label38"};
    QPushButton** pointButtons[3] = {&BitBtn4, &BitBtn5, &BitBtn9};
    for (std::size_t k = 0; k < CheckPointKindCount; ++k) {
        v->addSpacing(8);
        const TPointKind& kind = PointKinds[k];
        QPushButton* b = NewButton(panel, kind.Button, QLatin1String(kind.Caption), QLatin1String(kind.Hint));
        QPalette pal = b->palette();
        pal.setColor(QPalette::ButtonText, kind.Colour);
        b->setPalette(pal);
        *pointButtons[k] = b;
        v->addWidget(b);
        auto* row = new QHBoxLayout;
        for (std::size_t c = 0; c < 2; ++c) {
            auto* e = new TIntSpinEdit(panel);
            e->setObjectName(QLatin1String(editNames[k][c]));
            e->setToolTip(c == 0 ? QStringLiteral("Width") : QStringLiteral("Heigh"));
            e->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            PointEdits[k][c] = e;
        }
        row->addWidget(PointEdits[k][0], 1);
        auto* x = new QLabel(QStringLiteral("x"), panel);
        x->setObjectName(QLatin1String(crossNames[k]));
        row->addWidget(x);
        row->addWidget(PointEdits[k][1], 1);
        v->addLayout(row);
    }

    // Below the check points it places, so the panel above keeps its order.
    v->addSpacing(8);
    FindTrailButton = NewButton(panel, "FindTrailButton", QStringLiteral("F&ind trail"),
                                QStringLiteral("Find the star trail and place START, STOP and IN-LINE on it"));
    v->addWidget(FindTrailButton);

    v->addStretch(1);
    BitBtn6 = NewButton(panel, "BitBtn6", QStringLiteral("Next >> Plot &Graph"), QStringLiteral("Plot the graph of the PE"));
    v->addWidget(BitBtn6);

    auto* layout = new QHBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Image1, 1);
    layout->addWidget(panel);

    Wire(BitBtn3, &QPushButton::clicked, &TVinsk_main::OpenimageClick);
    Wire(BitBtn10, &QPushButton::clicked, &TVinsk_main::BitBtn10Click);
    Wire(BitBtn12, &QPushButton::clicked, &TVinsk_main::BitBtn12Click);
    Wire(FlatDarkButton, &QPushButton::clicked, &TVinsk_main::FlatDarkButtonClick);
    Wire(BitBtn4, &QPushButton::clicked, &TVinsk_main::BitBtn4Click);
    Wire(BitBtn5, &QPushButton::clicked, &TVinsk_main::BitBtn5Click);
    Wire(BitBtn9, &QPushButton::clicked, &TVinsk_main::BitBtn9Click);
    Wire(FindTrailButton, &QPushButton::clicked, &TVinsk_main::FindTrailClick);
    Wire(Image1, &TImageView::MouseDown, &TVinsk_main::Image1MouseDown);
    Wire(Image1, &TImageView::MouseMove, &TVinsk_main::ImageMouseMove);
    Wire(Image1, &TImageView::MouseUp, &TVinsk_main::Image1MouseUp);
    Wire(PointEdits[0][0], &TIntSpinEdit::Change, &TVinsk_main::RxSpinEdit10Change);
    Wire(PointEdits[0][1], &TIntSpinEdit::Change, &TVinsk_main::RxSpinEdit10Change);
    Wire(PointEdits[1][0], &TIntSpinEdit::Change, &TVinsk_main::RxSpinEdit12Change);
    Wire(PointEdits[1][1], &TIntSpinEdit::Change, &TVinsk_main::RxSpinEdit12Change);
    Wire(PointEdits[2][0], &TIntSpinEdit::Change, &TVinsk_main::RxSpinEdit14Change);
    Wire(PointEdits[2][1], &TIntSpinEdit::Change, &TVinsk_main::RxSpinEdit14Change);
    Wire(sbScale, &QScrollBar::valueChanged, &TVinsk_main::sbScaleChange);
    for (QToolButton* b : RatioButtons)
        Wire(b, &QToolButton::clicked, &TVinsk_main::SpeedButton4Click);
    Wire(SpeedButton6, &QToolButton::clicked, &TVinsk_main::chFitClick);
    Wire(BitBtn6, &QPushButton::clicked, &TVinsk_main::ShowGraph);

    OPD.Filter = QString::fromStdString(PictureOpenFilter());
    return tab;
}

std::int32_t TVinsk_main::ImageX(int viewX) const
{
    return ViewToImage(viewX, Image1->OffsetHorz(), sbScale->value());
}

std::int32_t TVinsk_main::ImageY(int viewY) const
{
    return ViewToImage(viewY, Image1->OffsetVert(), sbScale->value());
}

void TVinsk_main::UpdateIndicators()
{
    Shape2->setVisible(FState.Image.FlatApplied);
    Shape1->setVisible(FState.Image.DarkApplied);
}

void TVinsk_main::OpenimageClick()
{
    const std::optional<TFileChoice> choice = FDialogs.OpenPicture(OPD);
    if (!choice)
        return;
    OPD.FilterIndex = choice->FilterIndex;
    OpenPictureFile(choice->FileName);
}

void TVinsk_main::OpenPictureFile(const QString& fileName)
{
    // Decoded before anything is touched: a file that fails to load leaves
    // the markers, the picture, the flags and the zoom as they were.
    TBitmap32 picture;
    TPictureExtras extras;
    extras.Choice = TabSheet4->Settings().Transfer;
    {
        TBusyCursor busy(Image1->viewport());
        // The open picture counts beside the new one; when both do not fit,
        // it goes first if it can.
        LoadPictureInPlaceOf(fileName.toStdString(), picture, extras, HeldForNewPicture(FState.Image),
                             [this] { return ReleasePicture(); });
    }
    Image1->ClearLayers();
    picture.SetOuterColor(FState.Image.Bitmap.OuterColor());
    FState.Image.Bitmap.Swap(picture);
    // The previous picture's samples go with it.
    FState.Image.Linear.Swap(extras.Linear);
    extras.Linear.Release();
    FState.Image.Transfer = extras.Transfer;
    FState.Status.Linear = LinearPlaneNote(FState.Image.Linear);
    ForgetFrames(FState.Image);
    UpdateIndicators();
    Image1->Changed();
    chFitClick();
    FState.Status.Panels[PanelImageSize] = "Image size: " + std::to_string(FState.Image.Bitmap.Width()) + "/" +
                              std::to_string(FState.Image.Bitmap.Height());
    SyncStatus();
    FPictureName = QFileInfo(fileName).fileName().toStdString();
    FPictureModified = FileModifiedUtc(QFile::encodeName(fileName).toStdString());
    FExposureStart = extras.Setup.ExposureStart;
    TabSheet4->NewExposure();
    OfferFileValues(extras.Setup);
}

bool TVinsk_main::ReleasePicture()
{
    if (!PictureReleasable(FState.Image))
        return false;
    Image1->ClearLayers();
    FState.Image.Bitmap.Release();
    FState.Image.Linear.Release();
    FState.Status.Linear = LinearPlaneNote(FState.Image.Linear);
    ForgetFrames(FState.Image);
    UpdateIndicators();
    Image1->Changed();
    FState.Status.Panels[PanelImageSize].clear();
    SyncStatus();
    FPictureName.clear();
    FPictureModified.clear();
    FExposureStart.clear();
    return true;
}

void TVinsk_main::BitBtn10Click()
{
    ApplyFrame("dark", DarkRefusal, ApplyDarkFrame);
}

void TVinsk_main::BitBtn12Click()
{
    ApplyFrame("flat", FlatRefusal, ApplyFlatFrame);
}

void TVinsk_main::FlatDarkButtonClick()
{
    ApplyFrame("flat dark", FlatDarkRefusal, ApplyFlatDarkFrame);
}

// Dark and flat share their course: refusal, picture dialog, load, apply.
void TVinsk_main::ApplyFrame(const char* frameName, std::optional<std::string> (*refusal)(const TImageState&),
                             void (*apply)(TImageState&, const TBitmap32&, const TLinearPlane&, TStatusPanels&))
{
    if (const auto message = refusal(FState.Image)) {
        FDialogs.ErrorBox(QString::fromStdString(*message));
        return;
    }
    const std::optional<TFileChoice> choice = FDialogs.OpenPicture(OPD);
    if (!choice)
        return;
    OPD.FilterIndex = choice->FilterIndex;
    TBusyCursor busy(Image1->viewport());
    TBitmap32 frame;
    TPictureExtras extras;
    // The frame is read through the curve the picture's setting chooses.
    extras.Choice = TabSheet4->Settings().Transfer;
    extras.AsFrame = true;
    LoadPicture(choice->FileName.toStdString(), frame, extras, HeldForFrame(FState.Image, frameName));
    apply(FState.Image, frame, extras.Linear, FState.Status);
    UpdateIndicators();
    Image1->Changed();
}

void TVinsk_main::BitBtn4Click()
{
    FState.Status.Panels[PanelPrompt] = PointKinds[PointStart].Prompt;
    FState.PlacingMode = PointStart;
}

void TVinsk_main::BitBtn5Click()
{
    if (Image1->LayerCount() < 1) {
        FDialogs.ErrorBox(QStringLiteral("You muss define START point first!"));
        return;
    }
    FState.Status.Panels[PanelPrompt] = PointKinds[PointStop].Prompt;
    FState.PlacingMode = PointStop;
}

void TVinsk_main::BitBtn9Click()
{
    if (Image1->LayerCount() < 2) {
        FDialogs.ErrorBox(QStringLiteral("You muss define START and STOP point first!"));
        return;
    }
    FState.Status.Panels[PanelPrompt] = PointKinds[PointInLine].Prompt;
    FState.PlacingMode = PointInLine;
}

void TVinsk_main::Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    FImageButtonDown = true;
    const std::int32_t ix = ImageX(x);
    const std::int32_t iy = ImageY(y);
    PixelReadout(FState.Image.Bitmap, ix, iy, FState.Status);
    FStartStopByHand = button == Qt::LeftButton &&
                       (FState.PlacingMode == PointStart || FState.PlacingMode == PointStop);
    if (button == Qt::LeftButton)
        PlaceArmedPoint(ix, iy);
}

void TVinsk_main::PlaceArmedPoint(std::int32_t ix, std::int32_t iy)
{
    if (FState.PlacingMode == NoPlacing)
        return;
    // A point is placed only when it is the next one due; an existing one is
    // moved by dragging instead.
    if (Image1->LayerCount() == 0) {
        CreateMarker(ix, iy, FState.PlacingMode);
        FState.PlacingMode = NoPlacing;
        FState.Status.Panels[PanelPrompt].clear();
    }
    if (Image1->LayerCount() == 1 && FState.PlacingMode == PointStop) {
        CreateMarker(ix, iy, PointStop);
        FState.PlacingMode = NoPlacing;
        FState.Status.Panels[PanelPrompt].clear();
    }
    if (Image1->LayerCount() == 2 && FState.PlacingMode == PointInLine) {
        CreateMarker(ix, iy, PointInLine);
        FState.PlacingMode = NoPlacing;
        FState.Status.Panels[PanelPrompt].clear();
    }
}

void TVinsk_main::ImageMouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, int x, int y)
{
    if (FState.PlacingMode == NoPlacing || !FImageButtonDown || Image1->LayerCount() <= FState.PlacingMode)
        return;
    const std::int32_t ix = ImageX(x);
    const std::int32_t iy = ImageY(y);
    {
        TViewUpdate update(Image1);
        TImageLayer* layer = Image1->Layer(FState.PlacingMode);
        PlaceMarker(layer, ix, iy);
        SetPointEdits(FState.PlacingMode, ix, iy);
    }
    Image1->LayersChanged();
}

void TVinsk_main::Image1MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    FImageButtonDown = false;
    NoteStartSide();
    FState.Status.Panels[PanelPrompt].clear();
    FState.PlacingMode = NoPlacing;
}

void TVinsk_main::SwapPointsClick()
{
    if (Image1->LayerCount() < 2) {
        FDialogs.ErrorBox(QStringLiteral("Place START and STOP first: there is nothing to swap."));
        return;
    }
    const TCheckPointEdits e = ReadCheckPointEdits();
    const auto x0 = static_cast<std::int32_t>(e[0]), y0 = static_cast<std::int32_t>(e[1]);
    const auto x1 = static_cast<std::int32_t>(e[2]), y1 = static_cast<std::int32_t>(e[3]);
    {
        TViewUpdate update(Image1);
        PlaceMarker(Image1->Layer(PointStart), x1, y1);
        SetPointEdits(PointStart, x1, y1);
        PlaceMarker(Image1->Layer(PointStop), x0, y0);
        SetPointEdits(PointStop, x0, y0);
    }
    Image1->LayersChanged();
    TabSheet4->SetStartSide(StartSideOf(x1, y1, x0, y0));
}

void TVinsk_main::NoteStartSide()
{
    if (!FStartStopByHand || Image1->LayerCount() < 2)
        return;
    FStartStopByHand = false;
    const TCheckPointEdits e = ReadCheckPointEdits();
    TabSheet4->SetStartSide(StartSideOf(static_cast<double>(e[0]), static_cast<double>(e[1]),
                                        static_cast<double>(e[2]), static_cast<double>(e[3])));
}

void TVinsk_main::FindTrailClick()
{
    if (FState.Image.Bitmap.Empty()) {
        FDialogs.ErrorBox(QStringLiteral("Image is not loaded. You must image load first!"));
        return;
    }
    TTrailSearch search;
    {
        TBusyCursor busy(Image1->viewport());
        std::optional<TRasterSamples> raster;
        std::optional<TLinearSamples> linear;
        search = FindTrail(PictureSamples(FState.Image.Bitmap, FState.Image.Linear, raster, linear),
                           ReadChoices().Channel, TabSheet4->Settings().StartSide);
    }
    if (!search.Points) {
        FDialogs.ErrorBox(QString::fromStdString(search.Message));
        return;
    }
    // As the user would: each point's button arms it and a press on the
    // image places it, then the release disarms; the old markers go first.
    Image1->ClearLayers();
    const TTrailPoints& p = *search.Points;
    const std::pair<TCheckPointKind, TIntPoint> points[] = {
        {PointStart, p.Start}, {PointStop, p.Stop}, {PointInLine, p.InLine}};
    for (const auto& [kind, at] : points) {
        FState.PlacingMode = kind;
        PixelReadout(FState.Image.Bitmap, at.X, at.Y, FState.Status);
        PlaceArmedPoint(at.X, at.Y);
    }
    FState.Status.Panels[PanelPrompt].clear();
    FState.PlacingMode = NoPlacing;
}

void TVinsk_main::ShapeMouseDown(TImageLayer*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    FMarkerDragging = true;
}

void TVinsk_main::ShapeMouseMove(TImageLayer* sender, Qt::KeyboardModifiers, int x, int y)
{
    if (!FMarkerDragging)
        return;
    const std::int32_t ix = ImageX(x);
    const std::int32_t iy = ImageY(y);
    PlaceMarker(sender, ix, iy);
    if (const std::int32_t kind = KindOfMarkerTag(sender->Tag()); kind >= 0)
        SetPointEdits(kind, ix, iy);
}

void TVinsk_main::ShapeMouseUp(TImageLayer*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    FMarkerDragging = false;
}

void TVinsk_main::CreateMarker(std::int32_t x, std::int32_t y, std::int32_t kind)
{
    {
        TViewUpdate update(Image1);
        TImageLayer* layer = Image1->AddLayer();
        Wire(layer, &TImageLayer::MouseDown, &TVinsk_main::ShapeMouseDown);
        Wire(layer, &TImageLayer::MouseMove, &TVinsk_main::ShapeMouseMove);
        Wire(layer, &TImageLayer::MouseUp, &TVinsk_main::ShapeMouseUp);
        layer->SetTag(MarkerTag(kind));
        layer->SetBitmap(MarkerImage(kind));
        PlaceMarker(layer, x, y);
        layer->SetScaled(true);
        SetPointEdits(kind, x, y);
    }
    Image1->LayersChanged();
}

void TVinsk_main::SetPointEdits(int kind, std::int32_t x, std::int32_t y)
{
    SetOff([&] {
        PointEdits[static_cast<std::size_t>(kind)][0]->SetValue(x);
        PointEdits[static_cast<std::size_t>(kind)][1]->SetValue(y);
    });
}

void TVinsk_main::MoveMarkerToEdits(int kind)
{
    if (Image1->LayerCount() <= kind)
        return;
    const std::int32_t vx = PointEdits[static_cast<std::size_t>(kind)][0]->Value();
    const std::int32_t vy = PointEdits[static_cast<std::size_t>(kind)][1]->Value();
    {
        TViewUpdate update(Image1);
        TImageLayer* layer = Image1->Layer(kind);
        PlaceMarker(layer, vx, vy);
    }
    Image1->LayersChanged();
}

void TVinsk_main::RxSpinEdit10Change() { MoveMarkerToEdits(PointStart); }
void TVinsk_main::RxSpinEdit12Change() { MoveMarkerToEdits(PointStop); }
void TVinsk_main::RxSpinEdit14Change() { MoveMarkerToEdits(PointInLine); }

void TVinsk_main::sbScaleChange(int position)
{
    Image1->SetScale(ZoomScale(position));
    Label34->setText(QStringLiteral("Zoom: %1%").arg(position));
}

void TVinsk_main::SpeedButton4Click()
{
    if (const QObject* s = sender())
        SetOff([&] { sbScale->setValue(s->property("Tag").toInt()); });
}

void TVinsk_main::chFitClick()
{
    // The view must have its real width when the fit comes from another page.
    LayOutPage(TabSheet2);
    const std::int32_t zoom = ClampZoom(FitZoom(Image1->width(), FState.Image.Bitmap.Width()));
    SetOff([&] { sbScale->setValue(zoom); });
}

} // namespace vinsk
