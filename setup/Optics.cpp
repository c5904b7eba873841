#include "setup/Optics.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "common/MathFaults.h"
#include "common/NumText.h"

namespace vinsk {

namespace {

// Ten times the arc-seconds and arc-minutes in a radian: the factor ten with
// the later division by 10 leaves one decimal.
constexpr long double K_s = 2062648.0624709635L;
constexpr long double K_m = 34377.467707849391L;

// nearest(x) / 10, stored.
double Tenths(long double x)
{
    return StoreD(static_cast<long double>(Round(x)) / 10.0L);
}

// nearest(atan(size / focal) x k) / 10: the angle an extent covers.
double AngleTenths(double size, double focal, long double k)
{
    return Tenths(Checked(std::atan(FDiv(size, focal)) * k));
}

// nearest(sqrt(a^2 + b^2) x 10) / 10.
double DiagonalTenths(double a, double b)
{
    const long double a2 = Checked(static_cast<long double>(a) * a);
    const long double b2 = Checked(static_cast<long double>(b) * b);
    return Tenths(Checked(FSqrt(Checked(a2 + b2)) * 10.0L));
}

// nearest(10 x angle / speed) / 10: arc-minutes over arc-seconds per second
// give minutes.
double MinutesTenths(double angle, double speed)
{
    return Tenths(FDiv(Checked(10.0L * angle), speed));
}

// nearest(100 x t / part): a whole percentage.
std::int64_t Percent(double t, double part)
{
    return Round(FDiv(Checked(100.0L * t), part));
}

// Runs one step; an arithmetic fault shows the fallback text instead and
// leaves whatever the step had not yet assigned.
template <typename Step>
void Guarded(std::string& label, const char* fallback, Step step)
{
    try {
        label = step();
    } catch (const EMathError&) {
        label = fallback;
    }
}

} // namespace

TOpticsTexts OpticsTexts(const TExperiment& e, char decimalSep)
{
    auto F = [decimalSep](long double v) { return FloatText(v, decimalSep); };
    auto exposure = [&F](double minutes) {
        return F(minutes) + " min  (" + F(Checked(60.0L * minutes)) + " s)";
    };

    TOpticsTexts out;
    double A = 0, B = 0, D = 0, T = 0;

    Guarded(out.Label10, "width:", [&] {
        A = AngleTenths(e.PixelWidth, e.FocalLength, K_s);
        return "width:     " + F(A);
    });
    Guarded(out.Label11, "height:", [&] {
        B = AngleTenths(e.PixelHeight, e.FocalLength, K_s);
        return "height:    " + F(B);
    });
    Guarded(out.Label12, "diagonal:", [&] {
        D = DiagonalTenths(A, B);
        return "diagonal: " + F(D);
    });

    Guarded(out.Label22, "width:", [&] {
        A = AngleTenths(e.SensorWidth, e.FocalLength, K_m);
        return "width:     " + F(A);
    });
    Guarded(out.Label23, "height:", [&] {
        B = AngleTenths(e.SensorHeight, e.FocalLength, K_m);
        return "height:    " + F(B);
    });
    Guarded(out.Label24, "diagonal:", [&] {
        D = DiagonalTenths(A, B);
        return "diagonal: " + F(D);
    });

    Guarded(out.Label27, "width:", [&] {
        A = MinutesTenths(A, e.MountSpeed);
        return "width:       " + exposure(A);
    });
    Guarded(out.Label26, "height:", [&] {
        B = MinutesTenths(B, e.MountSpeed);
        return "height:       " + exposure(B);
    });
    Guarded(out.Label25, "diagonal:", [&] {
        D = DiagonalTenths(A, B);
        return "diagonal: " + exposure(D);
    });

    Guarded(out.Label30, "angle:", [&] {
        T = 0;
        // Exposure x speed is the angle in arc-seconds; over 6 it is ten
        // times the arc-minutes.
        T = Tenths(FDiv(Checked(static_cast<long double>(e.ExposureTime) * e.MountSpeed), 6.0L));
        return "angle:       " + F(T) + "  (" + F(Checked(60.0L * T)) + " \")";
    });

    // The sensor angles are recomputed first; they stay even when the
    // percentage fails.
    Guarded(out.Label33, "ratio of the width [%]:", [&] {
        A = AngleTenths(e.SensorWidth, e.FocalLength, K_m);
        return "ratio of the width [%]: " + F(Percent(T, A));
    });
    Guarded(out.Label31, "ratio of the height [%]: ", [&] {
        B = AngleTenths(e.SensorHeight, e.FocalLength, K_m);
        return "ratio of the height [%]: " + F(Percent(T, B));
    });
    Guarded(out.Label32, "ratio of the diagonal [%]:", [&] {
        D = DiagonalTenths(A, B);
        return "ratio of the diagonal [%]: " + F(Percent(T, D));
    });
    return out;
}

std::string ExposureNoteText(long double exposureSeconds, char decimalSep)
{
    try {
        const long double minutes = static_cast<long double>(Round(FDiv(exposureSeconds, 6.0L))) / 10.0L;
        return "(i. e. " + FloatText(minutes, decimalSep) + " min.)";
    } catch (const EMathError&) {
        return "i. e. ??? min";
    }
}

const std::array<TSetupField, 9>& SetupFields()
{
    static const std::array<TSetupField, 9> fields{{
        {"RxSpinEdit1", "Star to mount distance [m]:", "Distance artificial star - mount [m]", 1.0L,
         &TExperiment::StarDistance},
        {"RxSpinEdit2", "Pixel size (width x height) [um]:", "Width of the pixel [um]", 0.000001L,
         &TExperiment::PixelWidth},
        {"RxSpinEdit3", "", "Height of the pixel [um]", 0.000001L, &TExperiment::PixelHeight},
        {"RxSpinEdit4", "Senzor size (width x height) [mm]:", "Width of the sensor  [mm]", 0.001L,
         &TExperiment::SensorWidth},
        {"RxSpinEdit5", "", "Height of the sensor  [mm]", 0.001L, &TExperiment::SensorHeight},
        {"RxSpinEdit6", "Lens focal lenght [mm]:", "Focal length of the lens [mm]", 0.001L,
         &TExperiment::FocalLength},
        {"RxSpinEdit7", "Lens diameter [mm]:", "Diameter of the lens [mm]", 0.001L, &TExperiment::LensDiameter},
        {"RxSpinEdit8", "Exposition time [s]:", "Length of the exposition [s]", 1.0L, &TExperiment::ExposureTime},
        {"RxSpinEdit9", "Mounts speed [\"/s]:", "Mount speed (siderial is 15\"/s)", 1.0L, &TExperiment::MountSpeed},
    }};
    return fields;
}

void SetParamFromFieldText(TExperiment& e, int fieldIndex, const std::string& text, char decimalSep)
{
    const auto& fields = SetupFields();
    if (fieldIndex < 0 || fieldIndex >= static_cast<int>(fields.size()))
        throw std::out_of_range("Setup field index out of range");
    const TSetupField& field = fields[static_cast<std::size_t>(fieldIndex)];
    e.*field.Param = StoreD(Checked(TextToFloatOrZero(text, decimalSep) * field.Factor));
}

} // namespace vinsk
