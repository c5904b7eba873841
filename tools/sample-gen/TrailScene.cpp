#include "tools/sample-gen/TrailScene.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace vinsk::tools {

namespace {

constexpr double ArcSecondsPerRadian = 206264.80624709636;

// splitmix64: the same noise on every platform, unlike the standard
// library's distributions.
class TNoise {
public:
    explicit TNoise(std::uint64_t seed) : FState(seed) {}

    double Uniform() // in (0, 1)
    {
        return (static_cast<double>(Next() >> 11) + 0.5) * (1.0 / 9007199254740992.0);
    }

    double Normal()
    {
        if (FHaveSpare) {
            FHaveSpare = false;
            return FSpare;
        }
        const double r = std::sqrt(-2.0 * std::log(Uniform()));
        const double a = 2.0 * std::numbers::pi * Uniform();
        FSpare = r * std::sin(a);
        FHaveSpare = true;
        return r * std::cos(a);
    }

private:
    std::uint64_t Next()
    {
        std::uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::uint64_t FState;
    double FSpare = 0;
    bool FHaveSpare = false;
};

// Brightness ratio b / m that the analyser reads as the error e.
double RatioForError(double e, double k)
{
    return e > 0 ? 1.0 + e / k : 1.0 / (1.0 - e / k);
}

struct TArc {
    double Cx = 0, Cy = 0, R = 0;
    double StartAngle = 0, EndSpan = 0;
    bool Forward = true; // the arc runs from START with growing angle
};

double Span(double a, double from)
{
    double s = std::fmod(a - from, 2.0 * std::numbers::pi);
    return s < 0 ? s + 2.0 * std::numbers::pi : s;
}

TPoint InLinePoint(const TSceneOptions& o)
{
    const double dx = o.Stop.X - o.Start.X, dy = o.Stop.Y - o.Start.Y;
    const double len = std::hypot(dx, dy);
    if (len < 2)
        throw std::invalid_argument("START and STOP must lie at least two pixels apart");
    // The normal pointing to the left of START -> STOP in image coordinates.
    const double nx = dy / len, ny = -dx / len;
    TPoint p;
    p.X = static_cast<std::int32_t>(std::lround((o.Start.X + o.Stop.X) / 2.0 + o.Sag * nx));
    p.Y = static_cast<std::int32_t>(std::lround((o.Start.Y + o.Stop.Y) / 2.0 + o.Sag * ny));
    return p;
}

TArc ArcThrough(TPoint a, TPoint b, TPoint c)
{
    const double x1 = a.X, y1 = a.Y, x2 = b.X, y2 = b.Y, x3 = c.X, y3 = c.Y;
    const double g = 2.0 * (x1 * (y2 - y3) + x2 * (y3 - y1) + x3 * (y1 - y2));
    if (g == 0)
        throw std::invalid_argument("the trail needs a sag: the three check points lie on one line");
    const double s1 = x1 * x1 + y1 * y1, s2 = x2 * x2 + y2 * y2, s3 = x3 * x3 + y3 * y3;
    TArc arc;
    arc.Cx = (s1 * (y2 - y3) + s2 * (y3 - y1) + s3 * (y1 - y2)) / g;
    arc.Cy = (s1 * (x3 - x2) + s2 * (x1 - x3) + s3 * (x2 - x1)) / g;
    arc.R = std::hypot(x1 - arc.Cx, y1 - arc.Cy);
    arc.StartAngle = std::atan2(y1 - arc.Cy, x1 - arc.Cx);
    arc.EndSpan = Span(std::atan2(y2 - arc.Cy, x2 - arc.Cx), arc.StartAngle);
    const double inSpan = Span(std::atan2(y3 - arc.Cy, x3 - arc.Cx), arc.StartAngle);
    arc.Forward = inSpan < arc.EndSpan;
    return arc;
}

bool MajorIsX(const TSceneOptions& o)
{
    return std::abs(o.Stop.X - o.Start.X) > std::abs(o.Stop.Y - o.Start.Y);
}

// Time at which the star stood at major coordinate c.
double TimeAt(const TSceneOptions& o, double c)
{
    const bool mx = MajorIsX(o);
    const double c0 = mx ? o.Start.X : o.Start.Y;
    const double c1 = mx ? o.Stop.X : o.Stop.Y;
    const double f = std::clamp((c - c0) / (c1 - c0), 0.0, 1.0);
    return f * o.ExposureS;
}

std::uint8_t Level(double v)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0l, 255l));
}

std::uint16_t Level16(double v)
{
    return static_cast<std::uint16_t>(std::clamp(std::lround(v * 256.0), 0l, 65535l));
}

} // namespace

double MountError(const TSceneOptions& o, double t)
{
    const double w = 2.0 * std::numbers::pi * t / o.Period;
    return o.A1 * std::sin(w + o.Phase1) + o.A2 * std::sin(2.0 * w + o.Phase2);
}

TExpectedPE ExpectedPeriodicError(const TSceneOptions& o)
{
    if (o.Period <= 0 || o.ExposureS <= 0 || o.FocalMm <= 0 || o.PixelUm <= 0 || o.MountSpeed <= 0)
        throw std::invalid_argument("period, exposure, focal length, pixel size and speed must be positive");
    TExpectedPE r;
    r.InLine = InLinePoint(o);
    ArcThrough(o.Start, o.Stop, r.InLine); // refuses a straight trail

    const double dx = std::abs(o.Stop.X - o.Start.X), dy = std::abs(o.Stop.Y - o.Start.Y);
    const double pixel = o.PixelUm * 1e-6;
    // One sampling step along the trail, as seen by the camera.
    const double step = dx == 0 ? pixel : dy == 0 ? pixel : pixel / std::cos(std::atan(dy / dx));
    r.Alpha = std::max(1.0, std::atan(step / (o.FocalMm * 1e-3)) * ArcSecondsPerRadian);
    const double k = r.Alpha * o.MountSpeed;
    if (std::abs(o.A1) + std::abs(o.A2) >= 0.8 * k)
        throw std::invalid_argument("the periodic error is too large for this optics: keep |A1| + |A2| below " +
                                    std::to_string(0.8 * k));

    const std::int32_t d = static_cast<std::int32_t>(MajorIsX(o) ? dx : dy);
    r.Samples = d + 1;
    std::vector<double> e(static_cast<std::size_t>(r.Samples));
    for (std::int32_t i = 0; i < r.Samples; ++i)
        e[static_cast<std::size_t>(i)] = MountError(o, static_cast<double>(i) * o.ExposureS / d);

    // The offset that makes the mean of the ratios 1: the ratio grows with
    // the error, so bisection finds it.
    auto meanRatio = [&](double c) {
        double s = 0;
        for (double v : e)
            s += RatioForError(v + c, k);
        return s / static_cast<double>(e.size());
    };
    double lo = -0.5 * k, hi = 0.5 * k;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (meanRatio(mid) < 1.0 ? lo : hi) = mid;
    }
    r.Offset = 0.5 * (lo + hi);

    r.PE.resize(e.size());
    double sum = 0;
    for (std::size_t i = 0; i < e.size(); ++i) {
        r.PE[i] = e[i] + r.Offset;
        sum += r.PE[i];
        r.Min = std::min(r.Min, r.PE[i]);
        r.Max = std::max(r.Max, r.PE[i]);
    }
    const double mean = sum / static_cast<double>(e.size());
    double sq = 0;
    for (double v : r.PE)
        sq += (v - mean) * (v - mean);
    r.Sigma = std::sqrt(sq / static_cast<double>(e.size() - 1));
    return r;
}

TScene RenderScene(const TSceneOptions& o)
{
    if (o.Width <= 0 || o.Height <= 0 || o.Sigma <= 0)
        throw std::invalid_argument("the picture size and the trail width must be positive");
    TScene scene;
    scene.Expected = ExpectedPeriodicError(o);
    const TArc arc = ArcThrough(o.Start, o.Stop, scene.Expected.InLine);
    const double k = scene.Expected.Alpha * o.MountSpeed;
    const bool mx = MajorIsX(o);

    scene.Image = TRgbImage(o.Width, o.Height);
    scene.Dark = TRgbImage(o.Width, o.Height);
    scene.Flat = TRgbImage(o.Width, o.Height);
    if (o.Deep) {
        scene.Image16 = TRgb16Image(o.Width, o.Height);
        scene.Dark16 = TRgb16Image(o.Width, o.Height);
        scene.Flat16 = TRgb16Image(o.Width, o.Height);
    }
    TNoise noise(o.Seed);

    // Hot pixels: fixed-pattern, in the dark and the exposure alike, kept off
    // the trail so that the uncorrected exposure still samples cleanly.
    std::vector<std::array<double, 3>> hot;
    std::vector<std::size_t> hotAt;
    for (std::int32_t i = 0, tries = 0; i < o.HotPixels && tries < 100000; ++tries) {
        const auto x = static_cast<std::int32_t>(noise.Uniform() * o.Width);
        const auto y = static_cast<std::int32_t>(noise.Uniform() * o.Height);
        if (std::abs(std::hypot(x - arc.Cx, y - arc.Cy) - arc.R) < 8 * o.Sigma)
            continue;
        const double level = 120 + 120 * noise.Uniform();
        hot.push_back({level, level * (0.7 + 0.3 * noise.Uniform()), level * (0.7 + 0.3 * noise.Uniform())});
        hotAt.push_back(static_cast<std::size_t>(y) * static_cast<std::size_t>(o.Width) + static_cast<std::size_t>(x));
        ++i;
    }

    const double cx0 = (o.Width - 1) / 2.0, cy0 = (o.Height - 1) / 2.0;
    const double corner2 = cx0 * cx0 + cy0 * cy0;
    const std::array<double, 3> flatColor{0.95, 1.0, 0.9};
    const std::array<double, 3> sky{o.SkyLevel * o.SkyColor[0], o.SkyLevel * o.SkyColor[1],
                                    o.SkyLevel * o.SkyColor[2]};

    for (std::int32_t y = 0; y < o.Height; ++y) {
        std::uint8_t* img = scene.Image.Row(y);
        std::uint8_t* drk = scene.Dark.Row(y);
        std::uint8_t* flt = scene.Flat.Row(y);
        for (std::int32_t x = 0; x < o.Width; ++x) {
            const double vig = 1.0 - o.Vignetting * ((x - cx0) * (x - cx0) + (y - cy0) * (y - cy0)) / corner2;

            // The nearest point of the arc, or of its nearer end.
            const double ang = std::atan2(y - arc.Cy, x - arc.Cx);
            const double span = Span(ang, arc.StartAngle);
            const bool onArc = arc.Forward ? span <= arc.EndSpan : span >= arc.EndSpan;
            double qx, qy;
            if (onArc) {
                qx = arc.Cx + arc.R * std::cos(ang);
                qy = arc.Cy + arc.R * std::sin(ang);
            } else {
                const double ds = std::hypot(x - o.Start.X, y - o.Start.Y);
                const double de = std::hypot(x - o.Stop.X, y - o.Stop.Y);
                qx = ds <= de ? o.Start.X : o.Stop.X;
                qy = ds <= de ? o.Start.Y : o.Stop.Y;
            }
            const double d2 = (x - qx) * (x - qx) + (y - qy) * (y - qy);
            const double profile = std::exp(-d2 / (2 * o.Sigma * o.Sigma));
            double ratio = 0;
            if (profile > 1e-6) {
                const double t = TimeAt(o, mx ? qx : qy);
                ratio = RatioForError(MountError(o, t) + scene.Expected.Offset, k);
            }
            const double glow = o.DarkLevel + o.AmpGlow * std::exp(-x / (0.12 * o.Width));
            const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(o.Width) + static_cast<std::size_t>(x);
            const auto hit = std::find(hotAt.begin(), hotAt.end(), at);

            for (int c = 0; c < 3; ++c) {
                // The trail's centre carries the sky too, so the sum there is
                // exactly proportional to the ratio.
                const double centre = o.TrailLevel * o.StarColor[static_cast<std::size_t>(c)] * ratio;
                const double light = vig * (sky[static_cast<std::size_t>(c)] +
                                            std::max(0.0, centre - sky[static_cast<std::size_t>(c)]) * profile);
                double dark = glow;
                if (hit != hotAt.end())
                    dark += hot[static_cast<std::size_t>(hit - hotAt.begin())][static_cast<std::size_t>(c)];
                const double shot = std::sqrt(std::max(0.0, light) / o.ElectronsPerLevel) * noise.Normal();
                const double imageLevel = light + shot + dark + o.ReadNoise * noise.Normal();
                const double darkLevel = dark + o.DarkNoise * noise.Normal();
                const double flatLevel =
                    o.FlatLevel * flatColor[static_cast<std::size_t>(c)] * vig + o.FlatNoise * noise.Normal();
                img[3 * x + c] = Level(imageLevel);
                drk[3 * x + c] = Level(darkLevel);
                flt[3 * x + c] = Level(flatLevel);
                if (o.Deep) {
                    At(scene.Image16, x, y, c) = Level16(imageLevel);
                    At(scene.Dark16, x, y, c) = Level16(darkLevel);
                    At(scene.Flat16, x, y, c) = Level16(flatLevel);
                }
            }
        }
    }
    return scene;
}

} // namespace vinsk::tools
