// vinsk-sample-gen: writes a star-trail exposure with a known periodic error,
// its dark and flat frames and a settings file, and prints the check points
// and what the analyser should find.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "setup/Experiment.h"
#include "setup/SettingsFile.h"
#include "tools/sample-gen/PhysicalTrail.h"
#include "tools/sample-gen/TrailScene.h"

using namespace vinsk;
using namespace vinsk::tools;

namespace {

const char* const Usage =
    "usage: vinsk-sample-gen --out DIR [options]\n"
    "Writes DIR/NAME.EXT (the exposure), DIR/NAME-dark.EXT, DIR/NAME-flat.EXT and\n"
    "DIR/NAME.ini (the experiment settings), then prints the check points and the\n"
    "periodic error the analyser should report.\n"
    "  --name NAME          file name stem (default trail)\n"
    "  --format FORMAT      png, jpg or tif (8 bits); png16 (16 bits); fits (16-bit\n"
    "                       FITS with EXPTIME, PIXSIZE1/2, XBINNING/YBINNING and\n"
    "                       FOCALLEN in the header); dng (a camera RAW with an\n"
    "                       RGGB pattern of twice the size, the exposure and\n"
    "                       focal length in its EXIF) (default png)\n"
    "  --size WxH           picture size (default 720x400)\n"
    "  --start X,Y          START check point (default 54,220)\n"
    "  --stop X,Y           STOP check point (default 666,196)\n"
    "  --sag PIXELS         bow of the arc off the chord, signed (default 16)\n"
    "  --sigma PIXELS       Gaussian width of the trail (default 3)\n"
    "  --pe A1,A2,PERIOD    error amplitudes in arc seconds and the period in\n"
    "                       seconds (default 8,3,40)\n"
    "  --phase P1,P2        phases in radians (default 0,1)\n"
    "  --optics PIXEL,FOCAL pixel size in um and focal length in mm (default 5.7,400)\n"
    "  --exposure SECONDS   exposure time (default 120)\n"
    "  --speed ARCSEC/S     mount speed (default 15)\n"
    "  --noise FACTOR       scales every noise (default 1)\n"
    "  --seed N             noise seed (default 1)\n"
    "\n"
    "usage: vinsk-sample-gen --physical --out DIR [options]\n"
    "Renders the trail as the camera records it (a point source moving at the\n"
    "mount's true rate through a Gaussian PSF) and writes DIR/NAME.png (8 or 16\n"
    "bits), DIR/NAME.ini and DIR/NAME-truth.txt (the error and its drift-free truth).\n"
    "  --name NAME --size WxH --start X,Y --stop X,Y --sag PIXELS --seed N  as above\n"
    "  --term A,PERIOD,PHASE  a periodic term in arc seconds, seconds, radians;\n"
    "                       repeat for more (default 5,100,0 and 1.5,50,0.7)\n"
    "  --drift ARCSEC/S     drift of the error (default 0.01)\n"
    "  --optics PIXEL,FOCAL --speed ARCSEC/S  as above (defaults 5.7,400 and 15)\n"
    "  --distance M         star distance (default 10)\n"
    "  --exposure SECONDS   exposure (default: the time from START to STOP)\n"
    "  --fwhm PX --crest LEVEL --background LEVEL --sigma-noise LEVEL --bits 8|16\n"
    "  --ring RADIUS        the star out of focus: a ring of RADIUS px (a disc\n"
    "                       dark inside 0.7 of it), blurred by the FWHM\n"
    "  --ring-end RADIUS    the ring's radius at the end of the exposure\n"
    "  --obstruction F      the ring's dark share of its radius (0: a flat disc)\n"
    "  --coma PX            a lopsided tail of PX beside the star\n"
    "  --dimming F          the lamp's light falls evenly by the share F\n"
    "                       over the exposure\n";

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "vinsk-sample-gen: %s\n", message.c_str());
    std::exit(2);
}

double Number(const std::string& text, const char* option)
{
    try {
        std::size_t used = 0;
        const double v = std::stod(text, &used);
        if (used == text.size())
            return v;
    } catch (const std::exception&) {
    }
    Fail(std::string("bad number '") + text + "' for " + option);
}

// "a<sep>b" into two numbers.
void Pair(const std::string& text, char sep, const char* option, double& a, double& b)
{
    const auto at = text.find(sep);
    if (at == std::string::npos)
        Fail(std::string("expected two numbers separated by '") + sep + "' for " + option);
    a = Number(text.substr(0, at), option);
    b = Number(text.substr(at + 1), option);
}

TPoint Point(const std::string& text, const char* option)
{
    double x = 0, y = 0;
    Pair(text, ',', option, x, y);
    return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
}

// Each "--option value" pair in turn: --out, --name and --seed here, the
// rest as handle(option, value, the option's text for messages), which
// returns false for an option it does not know; --help prints the usage and
// ends, and --physical (the mode) is passed. --out is required.
template <class F>
void ForEachOption(int argc, char** argv, std::string& out, std::string& name, std::uint64_t& seed, F handle)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        }
        if (a == "--physical")
            continue;
        if (i + 1 >= argc)
            Fail("missing value after " + a + " (see --help)");
        const std::string v = argv[++i];
        if (a == "--out")
            out = v;
        else if (a == "--name")
            name = v;
        else if (a == "--seed")
            seed = static_cast<std::uint64_t>(Number(v, argv[i - 1]));
        else if (!handle(a, v, argv[i - 1]))
            Fail("unknown option " + a + " (see --help)");
    }
    if (out.empty())
        Fail("--out DIR is required (see --help)");
}

} // namespace

int PhysicalMain(int argc, char** argv);

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--physical")
            return PhysicalMain(argc, argv);
    TSceneOptions o;
    std::string out, name = "trail", format = "png";
    ForEachOption(argc, argv, out, name, o.Seed, [&](const std::string& a, const std::string& v, const char* opt) {
        if (a == "--format") {
            if (v != "png" && v != "jpg" && v != "tif" && v != "png16" && v != "fits" && v != "dng")
                Fail("--format must be png, jpg, tif, png16, fits or dng");
            format = v;
        } else if (a == "--size") {
            double w = 0, h = 0;
            Pair(v, 'x', opt, w, h);
            o.Width = static_cast<std::int32_t>(w);
            o.Height = static_cast<std::int32_t>(h);
        } else if (a == "--start") {
            o.Start = Point(v, opt);
        } else if (a == "--stop") {
            o.Stop = Point(v, opt);
        } else if (a == "--sag") {
            o.Sag = Number(v, opt);
        } else if (a == "--sigma") {
            o.Sigma = Number(v, opt);
        } else if (a == "--pe") {
            const auto at = v.find(',');
            if (at == std::string::npos)
                Fail("--pe needs A1,A2,PERIOD");
            o.A1 = Number(v.substr(0, at), opt);
            Pair(v.substr(at + 1), ',', opt, o.A2, o.Period);
        } else if (a == "--phase") {
            Pair(v, ',', opt, o.Phase1, o.Phase2);
        } else if (a == "--optics") {
            Pair(v, ',', opt, o.PixelUm, o.FocalMm);
        } else if (a == "--exposure") {
            o.ExposureS = Number(v, opt);
        } else if (a == "--speed") {
            o.MountSpeed = Number(v, opt);
        } else if (a == "--noise") {
            const double f = Number(v, opt);
            o.ReadNoise *= f;
            o.DarkNoise *= f;
            o.FlatNoise *= f;
            o.ElectronsPerLevel /= f * f;
        } else {
            return false;
        }
        return true;
    });

    try {
        o.Deep = format == "png16" || format == "fits" || format == "dng";
        const TScene scene = RenderScene(o);
        const std::string stem = out + "/" + name;
        if (format == "png16") {
            format = "png";
            WritePng16(stem + ".png", scene.Image16);
            WritePng16(stem + "-dark.png", scene.Dark16);
            WritePng16(stem + "-flat.png", scene.Flat16);
        } else if (format == "fits") {
            // The header a camera driver writes: pixel size unbinned, binning 1.
            auto write = [&](const std::string& path, const TRgb16Image& img, bool light) {
                TFitsPicture pic = FitsFromImage16(img);
                if (light)
                    pic.NumberKeys = {{"EXPTIME", o.ExposureS}, {"PIXSIZE1", o.PixelUm}, {"PIXSIZE2", o.PixelUm},
                                      {"XBINNING", 1},          {"YBINNING", 1},       {"FOCALLEN", o.FocalMm}};
                WriteFits(path, pic);
            };
            write(stem + ".fits", scene.Image16, true);
            write(stem + "-dark.fits", scene.Dark16, false);
            write(stem + "-flat.fits", scene.Flat16, false);
        } else if (format == "dng") {
            WriteDng(stem + ".dng", scene.Image16, o.ExposureS, o.FocalMm);
            WriteDng(stem + "-dark.dng", scene.Dark16, o.ExposureS, o.FocalMm);
            WriteDng(stem + "-flat.dng", scene.Flat16, o.ExposureS, o.FocalMm);
        } else {
            // Its levels are light: a JPEG says so in its profile.
            WritePicture(stem + "." + format, scene.Image, true);
            WritePicture(stem + "-dark." + format, scene.Dark, true);
            WritePicture(stem + "-flat." + format, scene.Flat, true);
        }

        TExperiment e;
        e.PixelWidth = o.PixelUm * 1e-6;
        e.PixelHeight = o.PixelUm * 1e-6;
        e.FocalLength = o.FocalMm * 1e-3;
        e.ExposureTime = o.ExposureS;
        e.MountSpeed = o.MountSpeed;
        SaveSettingsFile(stem + ".ini", e, '.');

        const TExpectedPE& x = scene.Expected;
        std::printf("image %s.%s, dark %s-dark.%s, flat %s-flat.%s, settings %s.ini\n", stem.c_str(),
                    format.c_str(), stem.c_str(), format.c_str(), stem.c_str(), format.c_str(), stem.c_str());
        std::printf("--start %d,%d --stop %d,%d --inline %d,%d\n", o.Start.X, o.Start.Y, o.Stop.X, o.Stop.Y,
                    x.InLine.X, x.InLine.Y);
        std::printf("periodic error [\"]: %g sin(2 pi t / %g s + %g) + %g sin(4 pi t / %g s + %g) %c %.4f\n", o.A1,
                    o.Period, o.Phase1, o.A2, o.Period, o.Phase2, x.Offset < 0 ? '-' : '+', std::abs(x.Offset));
        std::printf("samples %d, step angle %.4f\", time step %.6g s\n", x.Samples, x.Alpha,
                    o.ExposureS / (x.Samples - 1));
        std::printf("expected min/max [\"]: %.2f/%.2f\n", x.Min, x.Max);
        std::printf("expected sigma [\"]: %.3f\n", x.Sigma);
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "vinsk-sample-gen: %s\n", ex.what());
        return 1;
    }
    return 0;
}

int PhysicalMain(int argc, char** argv)
{
    TPhysicalOptions o;
    std::string out, name = "physical";
    bool termsGiven = false;
    ForEachOption(argc, argv, out, name, o.Seed, [&](const std::string& a, const std::string& v, const char* opt) {
        double x = 0, y = 0;
        if (a == "--size") {
            Pair(v, 'x', opt, x, y);
            o.Width = static_cast<std::int32_t>(x);
            o.Height = static_cast<std::int32_t>(y);
        } else if (a == "--start") {
            Pair(v, ',', opt, o.StartX, o.StartY);
        } else if (a == "--stop") {
            Pair(v, ',', opt, o.StopX, o.StopY);
        } else if (a == "--sag") {
            o.Sag = Number(v, opt);
        } else if (a == "--term") {
            const auto at = v.find(',');
            if (at == std::string::npos)
                Fail("--term needs A,PERIOD,PHASE");
            TPeriodicTerm term;
            term.Amplitude = Number(v.substr(0, at), opt);
            Pair(v.substr(at + 1), ',', opt, term.Period, term.Phase);
            if (!termsGiven)
                o.Terms.clear();
            termsGiven = true;
            o.Terms.push_back(term);
        } else if (a == "--drift") {
            o.Drift = Number(v, opt);
        } else if (a == "--optics") {
            Pair(v, ',', opt, o.PixelWidthUm, o.FocalMm);
            o.PixelHeightUm = o.PixelWidthUm;
        } else if (a == "--speed") {
            o.MountSpeed = Number(v, opt);
        } else if (a == "--distance") {
            o.DistanceM = Number(v, opt);
        } else if (a == "--exposure") {
            o.ExposureS = Number(v, opt);
        } else if (a == "--fwhm") {
            o.Fwhm = Number(v, opt);
        } else if (a == "--crest") {
            o.Crest = Number(v, opt);
        } else if (a == "--background") {
            o.Background = Number(v, opt);
        } else if (a == "--sigma-noise") {
            o.Noise = Number(v, opt);
        } else if (a == "--ring") {
            o.RingRadius = Number(v, opt);
        } else if (a == "--ring-end") {
            o.RingRadiusEnd = Number(v, opt);
        } else if (a == "--obstruction") {
            o.Obstruction = Number(v, opt);
        } else if (a == "--coma") {
            o.Coma = Number(v, opt);
        } else if (a == "--dimming") {
            o.Dimming = Number(v, opt);
        } else if (a == "--bits") {
            o.Bits = static_cast<int>(Number(v, opt));
        } else {
            return false;
        }
        return true;
    });
    try {
        const TPhysicalTrail trail = RenderPhysicalTrail(o);
        const std::string stem = out + "/" + name;
        WritePhysicalPng(stem + ".png", trail);
        WritePhysicalTruth(stem + "-truth.txt", trail.Truth, o);
        TExperiment e;
        e.StarDistance = o.DistanceM;
        e.PixelWidth = o.PixelWidthUm * 1e-6;
        e.PixelHeight = o.PixelHeightUm * 1e-6;
        e.FocalLength = o.FocalMm * 1e-3;
        e.ExposureTime = trail.Truth.ExposureS;
        e.MountSpeed = o.MountSpeed;
        SaveSettingsFile(stem + ".ini", e, '.');
        const TPhysicalTruth& t = trail.Truth;
        std::printf("image %s.png, settings %s.ini, truth %s-truth.txt\n", stem.c_str(), stem.c_str(), stem.c_str());
        std::printf("star from %.2f,%.2f to %.2f,%.2f (%.1f px), exposure %.3f s, %.4f\"/px\n", t.StartX, t.StartY,
                    t.EndX, t.EndY, t.PathLength, t.ExposureS, t.Alpha);
        std::printf("true drift-free error: P-P %.3f\", RMS %.3f\" (%s)\n", t.PeakToPeak, t.Rms,
                    t.Periodic ? "periodic terms" : "error less its fitted line");
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "vinsk-sample-gen: %s\n", ex.what());
        return 1;
    }
    return 0;
}
