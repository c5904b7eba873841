#include "tools/sample-gen/PhysicalTrail.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vinsk::tools {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double ArcsecPerRad = 206264.80624709636;

// The path as a function of its arc length in pixels.
struct TPath {
    bool Line = true;
    double Sx = 0, Sy = 0, Ux = 1, Uy = 0; // line: start and unit direction
    double Cx = 0, Cy = 0, R = 0, Psi0 = 0, Sign = 1; // circle
    double Length = 0; // Start to Stop

    void At(double s, double& x, double& y, double& phi) const
    {
        if (Line) {
            x = Sx + s * Ux;
            y = Sy + s * Uy;
            phi = std::atan2(Uy, Ux);
            return;
        }
        const double psi = Psi0 + Sign * s / R;
        x = Cx + R * std::cos(psi);
        y = Cy + R * std::sin(psi);
        // d/ds of (cos, sin)(psi) is Sign (-sin, cos) / R
        phi = std::atan2(Sign * std::cos(psi), -Sign * std::sin(psi));
    }
};

TPath MakePath(const TPhysicalOptions& o)
{
    TPath p;
    const double dx = o.StopX - o.StartX, dy = o.StopY - o.StartY;
    const double chord = std::hypot(dx, dy);
    if (!(chord > 1))
        throw std::invalid_argument("the trail needs Start and Stop at least a pixel apart");
    p.Sx = o.StartX;
    p.Sy = o.StartY;
    p.Ux = dx / chord;
    p.Uy = dy / chord;
    if (o.Sag == 0 || std::abs(o.Sag) < 1e-9 * chord) {
        p.Length = chord;
        return p;
    }
    if (std::abs(o.Sag) >= chord / 2)
        throw std::invalid_argument("the sag must stay below half the chord");
    // Circle through Start and Stop whose arc lies Sag off the chord's middle,
    // on the side of the normal (Uy, -Ux) for positive Sag.
    const double h = std::abs(o.Sag), half = chord / 2;
    p.R = (half * half + h * h) / (2 * h);
    const double nx = o.Sag > 0 ? p.Uy : -p.Uy, ny = o.Sag > 0 ? -p.Ux : p.Ux; // towards the bow
    const double mx = o.StartX + dx / 2, my = o.StartY + dy / 2;
    p.Cx = mx - nx * (p.R - h);
    p.Cy = my - ny * (p.R - h);
    p.Line = false;
    p.Psi0 = std::atan2(o.StartY - p.Cy, o.StartX - p.Cx);
    const double psiEnd = std::atan2(o.StopY - p.Cy, o.StopX - p.Cx);
    double span = psiEnd - p.Psi0;
    while (span > Pi)
        span -= 2 * Pi;
    while (span < -Pi)
        span += 2 * Pi;
    p.Sign = span >= 0 ? 1 : -1;
    p.Length = std::abs(span) * p.R;
    return p;
}

// Arc seconds per pixel of path in the image direction phi.
double StepAngle(const TPhysicalOptions& o, double phi)
{
    const double f = o.FocalMm * 1e-3, d = o.DistanceM;
    const double v = f * d / (d - f);
    const double l = std::hypot(std::cos(phi) * o.PixelWidthUm * 1e-6, std::sin(phi) * o.PixelHeightUm * 1e-6);
    return std::atan(l / v) * ArcsecPerRad;
}

double Periodic(const std::vector<TPeriodicTerm>& terms, double t)
{
    double e = 0;
    for (const TPeriodicTerm& term : terms)
        e += term.Amplitude * std::sin(2 * Pi * t / term.Period + term.Phase);
    return e;
}

// The star's image less its Gaussian blur as weights on whole-pixel
// offsets within +-reach (summing to 1): the shape sampled on a fine grid,
// each point spread over its four nearest offsets.
struct TKernel {
    int Reach = 0;
    std::vector<double> W; // (2 Reach + 1)^2, row by row
};

TKernel MakeKernel(double radius, double obstruction, double coma)
{
    TKernel k;
    k.Reach = static_cast<int>(std::ceil(std::max(radius, coma))) + 1;
    const int side = 2 * k.Reach + 1;
    k.W.assign(static_cast<std::size_t>(side) * side, 0.0);
    auto add = [&](double x, double y, double w) {
        const double fx = std::floor(x), fy = std::floor(y), ax = x - fx, ay = y - fy;
        const int ix = static_cast<int>(fx) + k.Reach, iy = static_cast<int>(fy) + k.Reach;
        k.W[static_cast<std::size_t>(iy) * side + ix] += w * (1 - ax) * (1 - ay);
        k.W[static_cast<std::size_t>(iy) * side + ix + 1] += w * ax * (1 - ay);
        k.W[static_cast<std::size_t>(iy + 1) * side + ix] += w * (1 - ax) * ay;
        k.W[static_cast<std::size_t>(iy + 1) * side + ix + 1] += w * ax * ay;
    };
    const double h = 0.05;
    if (radius > 0) {
        for (double y = -radius; y <= radius; y += h)
            for (double x = -radius; x <= radius; x += h) {
                const double r = std::hypot(x, y);
                if (r <= radius && r >= obstruction * radius)
                    add(x, y, 1);
            }
    } else {
        add(0, 0, 1);
    }
    if (coma > 0) {
        // Half the light in a fan to one side, widening and fading outwards.
        std::vector<double> core = k.W;
        std::fill(k.W.begin(), k.W.end(), 0.0);
        double total = 0;
        for (double d = h; d <= coma; d += h)
            for (double u = -0.3 * d; u <= 0.3 * d; u += h)
                total += (1 - d / coma) / d;
        for (double d = h; d <= coma; d += h)
            for (double u = -0.3 * d; u <= 0.3 * d; u += h)
                add(0.8 * d - 0.6 * u, 0.6 * d + 0.8 * u, 0.5 * (1 - d / coma) / d / total);
        double sum = 0;
        for (double w : core)
            sum += w;
        for (std::size_t i = 0; i < core.size(); ++i)
            k.W[i] += 0.5 * core[i] / sum;
    }
    double sum = 0;
    for (double w : k.W)
        sum += w;
    for (double& w : k.W)
        w /= sum;
    return k;
}

} // namespace

double PhysicalPE(const TPhysicalOptions& o, double t)
{
    return Periodic(o.Terms, t) + o.Drift * t;
}

double TruthError(const TPhysicalTruth& truth, double t)
{
    return Periodic(truth.Terms, t) + truth.Drift * t - (truth.LineA + truth.LineB * t);
}

TPhysicalTrail RenderPhysicalTrail(const TPhysicalOptions& o)
{
    if (o.Width <= 0 || o.Height <= 0 || (o.Bits != 8 && o.Bits != 16))
        throw std::invalid_argument("the picture needs a size and 8 or 16 bits");
    if (!(o.Fwhm > 0) || !(o.MountSpeed > 0) || !(o.FocalMm > 0) || !(o.DistanceM * 1e3 > o.FocalMm))
        throw std::invalid_argument("the trail needs a positive FWHM, mount speed and focal length inside the distance");
    for (const TPeriodicTerm& term : o.Terms)
        if (!(term.Period > 0))
            throw std::invalid_argument("every periodic term needs a positive period");
    const TPath path = MakePath(o);

    TPhysicalTrail out;
    out.Width = o.Width;
    out.Height = o.Height;
    out.Bits = o.Bits;
    TPhysicalTruth& truth = out.Truth;
    truth.Terms = o.Terms;
    truth.Drift = o.Drift;
    truth.MountSpeed = o.MountSpeed;
    {
        double x, y, phi;
        path.At(0, x, y, phi);
        truth.Alpha = StepAngle(o, phi);
    }
    double exposure = o.ExposureS;
    if (exposure <= 0) {
        // The angle from Start to Stop, pixel by pixel.
        double angle = 0;
        const int n = static_cast<int>(std::ceil(path.Length));
        for (int i = 0; i < n; ++i) {
            const double s0 = path.Length * i / n, s1 = path.Length * (i + 1) / n;
            double x, y, phi;
            path.At((s0 + s1) / 2, x, y, phi);
            angle += StepAngle(o, phi) * (s1 - s0);
        }
        exposure = angle / o.MountSpeed;
    }
    truth.ExposureS = exposure;

    // Steps short enough that the image moves less than 0.05 px in each.
    double maxRate = o.MountSpeed + std::abs(o.Drift);
    for (const TPeriodicTerm& term : o.Terms)
        maxRate += std::abs(term.Amplitude) * 2 * Pi / term.Period;
    const double alphaMin = StepAngle(o, 0) < StepAngle(o, Pi / 2) ? StepAngle(o, 0) : StepAngle(o, Pi / 2);
    const double steps = std::ceil(exposure * maxRate / (0.04 * alphaMin));
    if (steps > 5e7)
        throw std::invalid_argument("the trail is too long to render");
    const long nSteps = static_cast<long>(steps);
    const double dt = exposure / static_cast<double>(nSteps);

    const double sigma = o.Fwhm / 2.3548200450309493;
    // Flux per second that gives the crest level at the nominal rate.
    const double flux = o.Crest * std::sqrt(2 * Pi) * sigma * o.MountSpeed / truth.Alpha;
    const int r = static_cast<int>(std::ceil(5 * sigma)) + 1;
    std::vector<double> img(static_cast<std::size_t>(o.Width) * o.Height, 0.0);
    std::vector<double> wx(2 * r + 1), wy(2 * r + 1);
    const double inv = 1 / (std::sqrt(2.0) * sigma);

    auto deposit = [&](double x, double y, double amount) {
        const int ix = static_cast<int>(std::lround(x)), iy = static_cast<int>(std::lround(y));
        for (int j = -r; j <= r; ++j) {
            wx[j + r] = 0.5 * (std::erf((ix + j + 0.5 - x) * inv) - std::erf((ix + j - 0.5 - x) * inv));
            wy[j + r] = 0.5 * (std::erf((iy + j + 0.5 - y) * inv) - std::erf((iy + j - 0.5 - y) * inv));
        }
        for (int j = -r; j <= r; ++j) {
            const int py = iy + j;
            if (py < 0 || py >= o.Height)
                continue;
            double* row = img.data() + static_cast<std::size_t>(py) * o.Width;
            const double a = amount * wy[j + r];
            for (int i = -r; i <= r; ++i) {
                const int px = ix + i;
                if (px >= 0 && px < o.Width)
                    row[px] += a * wx[i + r];
            }
        }
    };

    // A star out of focus: the light of each stretch of the exposure goes to
    // a buffer of its own, which then spreads through the star's shape at
    // that time into the picture.
    const bool shaped = o.RingRadius > 0 || o.Coma > 0;
    if (!(o.Dimming >= 0 && o.Dimming < 1))
        throw std::invalid_argument("the dimming must be a share from 0 to below 1");
    if (o.RingRadius < 0 || o.RingRadiusEnd < 0 || o.Coma < 0 || !(o.Obstruction >= 0 && o.Obstruction < 1))
        throw std::invalid_argument("the ring's radii and the coma must not be negative, the obstruction below 1");
    std::vector<double> stretch(shaped ? img.size() : 0, 0.0);
    int bx0 = o.Width, by0 = o.Height, bx1 = -1, by1 = -1;
    constexpr long Stretches = 40;
    auto spread = [&](double t) {
        if (bx1 < 0)
            return;
        const double radius = o.RingRadiusEnd > 0 ? o.RingRadius + (o.RingRadiusEnd - o.RingRadius) * t / exposure
                                                  : o.RingRadius;
        const TKernel k = MakeKernel(radius, o.Obstruction, o.Coma);
        const int side = 2 * k.Reach + 1;
        for (int y = by0; y <= by1; ++y)
            for (int x = bx0; x <= bx1; ++x) {
                double& a = stretch[static_cast<std::size_t>(y) * o.Width + x];
                if (a == 0)
                    continue;
                for (int j = -k.Reach; j <= k.Reach; ++j) {
                    const int py = y + j;
                    if (py < 0 || py >= o.Height)
                        continue;
                    for (int i = -k.Reach; i <= k.Reach; ++i) {
                        const int px = x + i;
                        if (px >= 0 && px < o.Width)
                            img[static_cast<std::size_t>(py) * o.Width + px] +=
                                a * k.W[static_cast<std::size_t>(j + k.Reach) * side + i + k.Reach];
                    }
                }
                a = 0;
            }
        bx0 = o.Width;
        by0 = o.Height;
        bx1 = by1 = -1;
    };
    if (shaped) {
        // deposit writes to img: while the star is shaped, that is the
        // stretch's buffer, and the picture waits in `stretch`
        img.swap(stretch);
    }

    // theta(t) - theta(0): the angle turned since the start.
    const double pe0 = PhysicalPE(o, 0);
    auto turned = [&](double t) { return o.MountSpeed * t + PhysicalPE(o, t) - pe0; };
    double s = 0, prevTurn = 0;
    for (long k = 0; k < nSteps; ++k) {
        const double t1 = dt * static_cast<double>(k + 1);
        const double turn = turned(t1);
        double x, y, phi;
        path.At(s, x, y, phi);
        // Half a step first, to place the deposit at the step's middle.
        const double dTheta = turn - prevTurn;
        const double sMid = s + 0.5 * dTheta / StepAngle(o, phi);
        path.At(sMid, x, y, phi);
        const double ds = dTheta / StepAngle(o, phi);
        deposit(x, y, flux * dt * (1 - o.Dimming * (t1 - 0.5 * dt) / exposure));
        if (shaped) {
            bx0 = std::max(0, std::min(bx0, static_cast<int>(x) - r - 1));
            by0 = std::max(0, std::min(by0, static_cast<int>(y) - r - 1));
            bx1 = std::min(o.Width - 1, std::max(bx1, static_cast<int>(x) + r + 1));
            by1 = std::min(o.Height - 1, std::max(by1, static_cast<int>(y) + r + 1));
            if ((k + 1) % ((nSteps + Stretches - 1) / Stretches) == 0 || k + 1 == nSteps) {
                img.swap(stretch);
                spread(t1 - 0.5 * exposure / Stretches);
                img.swap(stretch);
            }
        }
        s += ds;
        prevTurn = turn;
    }
    if (shaped)
        img.swap(stretch);
    truth.PathLength = s;
    {
        double x, y, phi;
        path.At(0, x, y, phi);
        truth.StartX = x;
        truth.StartY = y;
        path.At(s, x, y, phi);
        truth.EndX = x;
        truth.EndY = y;
    }

    // The drift-free truth: the periodic terms when the main term completes
    // two cycles, otherwise the error less its own best line (drift cannot be
    // told from less than two cycles).
    double mainPeriod = 0, mainAmp = -1;
    for (const TPeriodicTerm& term : o.Terms)
        if (std::abs(term.Amplitude) > mainAmp) {
            mainAmp = std::abs(term.Amplitude);
            mainPeriod = term.Period;
        }
    const int nTruth = 20000;
    truth.Periodic = mainPeriod > 0 && exposure >= 2 * mainPeriod;
    if (truth.Periodic) {
        truth.LineA = 0;
        truth.LineB = o.Drift;
    } else {
        double st = 0, se = 0, stt = 0, ste = 0;
        for (int i = 0; i <= nTruth; ++i) {
            const double t = exposure * i / nTruth, e = PhysicalPE(o, t);
            st += t;
            se += e;
            stt += t * t;
            ste += t * e;
        }
        const double n = nTruth + 1;
        truth.LineB = (n * ste - st * se) / (n * stt - st * st);
        truth.LineA = (se - truth.LineB * st) / n;
    }
    double lo = 1e300, hi = -1e300, sum = 0, sum2 = 0;
    for (int i = 0; i <= nTruth; ++i) {
        const double e = TruthError(truth, exposure * i / nTruth);
        lo = std::min(lo, e);
        hi = std::max(hi, e);
        sum += e;
        sum2 += e * e;
    }
    const double mean = sum / (nTruth + 1);
    truth.PeakToPeak = hi - lo;
    truth.Rms = std::sqrt(std::max(0.0, sum2 / (nTruth + 1) - mean * mean));

    // Background, noise (independent in each colour channel, as a camera's
    // channels are) and quantisation.
    std::mt19937_64 rng(o.Seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double top = o.Bits == 8 ? 255 : 65535;
    out.Levels.resize(3 * img.size());
    for (std::size_t i = 0; i < 3 * img.size(); ++i) {
        const double v = std::nearbyint(o.Background + img[i / 3] + o.Noise * noise(rng));
        out.Levels[i] = static_cast<std::uint16_t>(std::clamp(v, 0.0, top));
    }
    return out;
}

TRgbImage PhysicalToRgb8(const TPhysicalTrail& trail)
{
    TRgbImage img(trail.Width, trail.Height, 3);
    for (std::size_t i = 0; i < trail.Levels.size(); ++i) {
        const std::uint16_t v = trail.Levels[i];
        img.Pixels[i] = trail.Bits == 8 ? static_cast<std::uint8_t>(v) : static_cast<std::uint8_t>((v + 128u) / 257u);
    }
    return img;
}

void WritePhysicalPng(const std::string& path, const TPhysicalTrail& trail)
{
    if (trail.Bits == 8) {
        WritePng(path, PhysicalToRgb8(trail), 9);
        return;
    }
    TRgb16Image img(trail.Width, trail.Height, 3);
    img.Pixels = trail.Levels;
    WritePng16(path, img);
}

std::string PhysicalTruthText(const TPhysicalTruth& truth, const TPhysicalOptions& o, double step)
{
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s.precision(10);
    s << "# Physically rendered trail: the mount's error and what an analysis should recover\n";
    s << "exposure_s " << truth.ExposureS << "\n";
    s << "mount_speed_arcsec_per_s " << truth.MountSpeed << "\n";
    s << "alpha_arcsec_per_px " << truth.Alpha << "\n";
    s << "distance_m " << o.DistanceM << "\nfocal_mm " << o.FocalMm << "\npixel_um " << o.PixelWidthUm << " "
      << o.PixelHeightUm << "\n";
    s << "fwhm_px " << o.Fwhm << "\ncrest " << o.Crest << "\nbackground " << o.Background << "\nnoise " << o.Noise
      << "\nbits " << o.Bits << "\nseed " << o.Seed << "\n";
    s << "start_px " << truth.StartX << " " << truth.StartY << "\n";
    s << "end_px " << truth.EndX << " " << truth.EndY << "\n";
    s << "path_length_px " << truth.PathLength << "\n";
    for (const TPeriodicTerm& term : truth.Terms)
        s << "term amplitude " << term.Amplitude << " period " << term.Period << " phase " << term.Phase << "\n";
    s << "drift_arcsec_per_s " << truth.Drift << "\n";
    s << "truth " << (truth.Periodic ? "periodic terms" : "error less its fitted line") << "\n";
    s << "truth_line " << truth.LineA << " " << truth.LineB << "\n";
    s << "true_peak_to_peak " << truth.PeakToPeak << "\n";
    s << "true_rms " << truth.Rms << "\n";
    s << "# t [s]  PE [arcsec]  drift-free error [arcsec]\n";
    const long n = static_cast<long>(std::floor(truth.ExposureS / step));
    for (long i = 0; i <= n; ++i) {
        const double t = step * static_cast<double>(i);
        const double pe = Periodic(truth.Terms, t) + truth.Drift * t;
        s << t << " " << pe << " " << TruthError(truth, t) << "\n";
    }
    return s.str();
}

void WritePhysicalTruth(const std::string& path, const TPhysicalTruth& truth, const TPhysicalOptions& o)
{
    std::ofstream f(path, std::ios::binary);
    f << PhysicalTruthText(truth, o);
    f.close();
    if (!f)
        throw EWriteError("Cannot write " + path);
}

} // namespace vinsk::tools
