// Deep pictures in the window: the Setup values their files carry, and what
// the status bar says about their linear samples.
#include "WindowFixture.h"
#include "setup/Optics.h"
#include "tools/writers/DeepWriters.h"

namespace vinsk::test {
namespace {

QString WriteFits(const QTemporaryDir& dir, const QString& name, std::vector<std::pair<std::string, double>> keys)
{
    tools::TFitsPicture p;
    p.Width = 8;
    p.Height = 6;
    p.Bitpix = 16;
    p.Values.assign(48, 300);
    p.Values[10] = 2000;
    p.NumberKeys = std::move(keys);
    const QString path = dir.filePath(name);
    tools::WriteFits(path.toStdString(), p);
    return path;
}

const std::vector<std::pair<std::string, double>> CameraKeys = {
    {"EXPTIME", 480}, {"PIXSIZE1", 3.76}, {"PIXSIZE2", 3.76}, {"XBINNING", 2}, {"YBINNING", 2}, {"FOCALLEN", 400}};

TEST_F(WindowTest, FileValuesFillTheSetupFieldsOnYes)
{
    Type("RxSpinEdit8", QStringLiteral("120"));
    Type("RxSpinEdit6", QStringLiteral("200"));
    Dialogs.AnswerQuestion(true);
    OpenPicture(WriteFits(Dir, QStringLiteral("night.fits"), CameraKeys));
    ASSERT_EQ(Dialogs.Questions.size(), 1u);
    EXPECT_EQ(Dialogs.Questions[0].Text,
              QStringLiteral("Use the values from the file? Exposition 480 s, pixel 7.52 \u00B5m, focal length 400 mm"));
    // As a settings load: one decimal shown, the parameter from that text,
    // the handlers run (the note and the calculator follow).
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit8")), QStringLiteral("480.0"));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit2")), QStringLiteral("7.5"));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit3")), QStringLiteral("7.5"));
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit6")), QStringLiteral("400.0"));
    EXPECT_EQ(W->State().Experiment.ExposureTime, 480.0);
    EXPECT_EQ(W->State().Experiment.PixelWidth, 0.0000075);
    EXPECT_EQ(W->State().Experiment.FocalLength, 0.4);
    EXPECT_EQ(Label(QStringLiteral("Label16")), QStringLiteral("(i. e. 8 min.)"));
    EXPECT_EQ(Label(QStringLiteral("Label10")), QStringLiteral("width:     3.9"));
    EXPECT_EQ(Panel(0), QStringLiteral("Image size: 8/6"));
    EXPECT_EQ(Label(QStringLiteral("StatusLinear")), QStringLiteral("Linear samples: 16 bits"));
    // The drive analysis takes them with every decimal, as if typed.
    TDriveInput in;
    std::uint64_t change = 0;
    std::string refusal;
    static_cast<TDriveHost&>(*W).ReadDriveInput(in, change, refusal);
    TExperiment typed = in.Setup;
    SetParamFromFieldText(typed, 1, "7.52", '.');
    SetParamFromFieldText(typed, 2, "7.52", '.');
    EXPECT_EQ(in.Setup.PixelWidth, typed.PixelWidth);
    EXPECT_EQ(in.Setup.PixelHeight, typed.PixelHeight);
    EXPECT_EQ(in.Setup.ExposureTime, 480.0);
}

TEST_F(WindowTest, FileValuesLeaveTheFieldsOnNo)
{
    Type("RxSpinEdit8", QStringLiteral("120"));
    Dialogs.AnswerQuestion(false);
    OpenPicture(WriteFits(Dir, QStringLiteral("night.fits"), CameraKeys));
    EXPECT_EQ(Dialogs.Questions.size(), 1u);
    EXPECT_EQ(EditText(QStringLiteral("RxSpinEdit8")), QStringLiteral("120"));
    EXPECT_EQ(W->State().Experiment.ExposureTime, 120.0);
    EXPECT_EQ(W->State().Experiment.PixelWidth, 0.0000057);
    // A file without such keys asks nothing (an unexpected question fails).
    OpenPicture(WriteFits(Dir, QStringLiteral("bare.fits"), {}));
    EXPECT_EQ(Dialogs.Questions.size(), 1u);
}

// A key that holds no number the field can use is named in the question,
// with the value its field keeps; alone, it is said in a warning.
TEST_F(WindowTest, UnusableFileValuesAreNamed)
{
    Type("RxSpinEdit8", QStringLiteral("120"));
    Dialogs.AnswerQuestion(true);
    OpenPicture(WriteFits(Dir, QStringLiteral("odd.fits"), {{"EXPTIME", -480}, {"FOCALLEN", 400}}));
    ASSERT_EQ(Dialogs.Questions.size(), 1u);
    EXPECT_EQ(Dialogs.Questions[0].Text, QStringLiteral("Use the values from the file? focal length 400 mm\n"
                                                        "EXPTIME in the header is not a usable number: kept 120 s"));
    EXPECT_EQ(W->State().Experiment.ExposureTime, 120.0);
    EXPECT_EQ(W->State().Experiment.FocalLength, 0.4);

    OpenPicture(WriteFits(Dir, QStringLiteral("odder.fits"), {{"APTDIA", 1e-310}}));
    EXPECT_EQ(Dialogs.Questions.size(), 1u);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Text, QStringLiteral("APTDIA in the header is not a usable number: kept 40 mm"));
}

TEST_F(WindowTest, DarkOfAnotherDepthDropsTheLinearSamples)
{
    tools::TRgb16Image light(20, 10);
    for (std::uint16_t& v : light.Pixels)
        v = 20000;
    const QString lightPath = Dir.filePath(QStringLiteral("light16.png"));
    tools::WritePng16(lightPath.toStdString(), light);
    OpenPicture(lightPath);
    ASSERT_FALSE(W->State().Image.Linear.Empty());
    EXPECT_EQ(Label(QStringLiteral("StatusLinear")), QStringLiteral("Linear samples: 16 bits"));

    Dialogs.Answer(Save(QStringLiteral("dark8.png"), Picture(20, 10, 0xFF0A0A0Au)));
    ClickButton("BitBtn10");
    // The raster is calibrated as always; the samples are gone, and the
    // status bar says why.
    EXPECT_EQ(W->State().Image.Bitmap.PixelS(3, 3), 0xFF444444u); // 78 - 10 in each channel
    EXPECT_EQ(Panel(1), QStringLiteral("Dark image  has been applied."));
    EXPECT_TRUE(W->State().Image.Linear.Empty());
    EXPECT_EQ(Label(QStringLiteral("StatusLinear")),
              QStringLiteral("Linear samples dropped: the dark frame has 8 bits per sample, the picture 16 bits"));

    // A new picture starts afresh.
    OpenPicture(lightPath);
    EXPECT_EQ(Label(QStringLiteral("StatusLinear")), QStringLiteral("Linear samples: 16 bits"));
}


// The flat's own dark, beside the flat: taken for the flat's offset in the
// light the drive reads, in place of the dark's; refused without a picture
// and after the flat; its letter taken by nothing else.
TEST_F(WindowTest, FlatDarkGivesTheFlatItsOwnOffset)
{
    auto* button = Get<QAbstractButton>(QStringLiteral("FlatDarkButton"));
    EXPECT_EQ(button->text(), QStringLiteral("Flat dar&k"));
    int uses = 0;
    for (QAbstractButton* b : W->findChildren<QAbstractButton*>())
        uses += b->text().contains(QLatin1String("&k"), Qt::CaseInsensitive) ? 1 : 0;
    for (QLabel* l : W->findChildren<QLabel*>())
        uses += l->text().contains(QLatin1String("&k"), Qt::CaseInsensitive) ? 1 : 0;
    EXPECT_EQ(uses, 1);

    ClickButton("FlatDarkButton");
    ExpectRefusal(QStringLiteral("Image is not loaded. You must image load first!"));

    for (const bool flatDark : {true, false}) {
        SCOPED_TRACE(flatDark ? "with a flat dark" : "without");
        OpenPicture(Save(QStringLiteral("light.png"), Picture(20, 10, 0xFF503C28u)));
        Dialogs.Answer(Save(QStringLiteral("dark.png"), Picture(20, 10, 0xFF0A0A0Au)));
        ClickButton("BitBtn10");
        if (flatDark) {
            Dialogs.Answer(Save(QStringLiteral("bias.png"), Picture(20, 10, 0xFF050505u)));
            ClickButton("FlatDarkButton");
            EXPECT_EQ(Panel(1), QStringLiteral("Flat dark image has been loaded: the flat's offset is taken from it."));
        }
        Dialogs.Answer(Save(QStringLiteral("flat.png"), Picture(20, 10, 0xFF646464u)));
        ClickButton("BitBtn12");
        // The 8-bit picture took samples of its raster, calibrated in light.
        const TImageState& image = W->State().Image;
        ASSERT_FALSE(image.Linear.Empty());
        EXPECT_EQ(image.Linear.Sample(3, 3, 0), 80.0f - 10.0f);
        EXPECT_EQ(image.FlatOffsetSource, flatDark ? TFlatOffsetSource::FlatDark : TFlatOffsetSource::Dark);
        ClickButton("FlatDarkButton");
        ExpectRefusal(QStringLiteral("Flat image is  applied. Load new image first!"));
    }
}

} // namespace
} // namespace vinsk::test
