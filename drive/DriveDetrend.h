// The drift's removal, the fourth stage: least-squares fits of a polynomial,
// or of a line jointly with harmonics of the worm period, the uncertainties
// of the joint fit's coefficients from the photometry's noise, and the
// drift-free error.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "drive/DriveAnalysis.h"
#include "drive/DriveSeries.h"
#include "drive/DriveStage.h"

namespace vinsk::drive {

// Columns: 1, tau, [tau^2], then cos/sin of K harmonics of P, tau = (t - mid) / half.
constexpr int MaxK = 50;

struct TIncrementNoise;

struct TFit {
    int Degree = 1, K = 0;
    long double P = 0, T0 = 0, Mid = 0, Half = 1;
    std::vector<long double> Coef;
    long double Rss = 0;
    std::shared_ptr<const TIncrementNoise> Noise; // for the uncertainties, when asked for
    bool Ok = false;

    int Columns() const { return Degree + 1 + 2 * K; }
    // cos and sin of i w for i = 1..K, w = 2 pi (t - T0) / P, by the angle
    // addition recurrence from one reduced angle. In double: the extended
    // format's sine reduces every argument the slow way, and made the fits
    // the costliest part of the analysis; the basis needs no more than
    // double's sixteen digits.
    void Harmonics(double t, double* c, double* s) const
    {
        double turns = (t - static_cast<double>(T0)) / static_cast<double>(P);
        turns -= std::floor(turns);
        const double w = static_cast<double>(2 * Pi) * turns, c1 = std::cos(w), s1 = std::sin(w);
        double ci = c1, si = s1;
        for (int i = 1; i <= K; ++i) {
            c[i] = ci;
            s[i] = si;
            const double cn = ci * c1 - si * s1;
            si = si * c1 + ci * s1;
            ci = cn;
        }
    }
    void Row(double t, double* a) const
    {
        const double tau = (t - static_cast<double>(Mid)) / static_cast<double>(Half);
        double p = 1;
        for (int d = 0; d <= Degree; ++d, p *= tau)
            a[d] = p;
        if (K == 0)
            return; // no period: its angle would be a NaN, slow in the sine
        double c[MaxK + 1], s[MaxK + 1];
        Harmonics(t, c, s);
        for (int i = 1; i <= K; ++i) {
            a[Degree + 2 * i - 1] = c[i];
            a[Degree + 2 * i] = s[i];
        }
    }
    long double Poly(long double t) const
    {
        const long double tau = (t - Mid) / Half;
        long double p = 1, s = 0;
        for (int d = 0; d <= Degree; ++d, p *= tau)
            s += Coef[d] * p;
        return s;
    }
    // In double: a handful of terms of the size of the error, evaluated at
    // every step.
    long double Periodic(long double t) const
    {
        double c[MaxK + 1], s[MaxK + 1];
        double sum = 0;
        Harmonics(static_cast<double>(t), c, s);
        for (int i = 1; i <= K; ++i)
            sum += static_cast<double>(Coef[Degree + 2 * i - 1]) * c[i] + static_cast<double>(Coef[Degree + 2 * i]) * s[i];
        return sum;
    }
    long double PeriodicRate(long double t) const
    {
        double c[MaxK + 1], s[MaxK + 1];
        long double sum = 0;
        Harmonics(static_cast<double>(t), c, s);
        for (int i = 1; i <= K; ++i)
            sum += 2 * Pi * i / P * (-Coef[Degree + 2 * i - 1] * s[i] + Coef[Degree + 2 * i] * c[i]);
        return sum;
    }
    // The amplitude of harmonic i.
    long double Amplitude(int i) const { return hypotl(Coef[Degree + 2 * i - 1], Coef[Degree + 2 * i]); }
    // The slope of the polynomial at the record's middle, per second.
    long double Slope() const { return Degree >= 1 ? Coef[1] / Half : 0; }
};

// What the uncertainties of a fit to the increments need: the light of the
// steps left out at the two ends enters the time scale of every step.
struct TDriftNoiseContext {
    long double Exposure = 0;     // s
    std::size_t StepsOutside = 0; // steps of the walk outside the fitted ones
};

// Kept from a fit to the increments for its uncertainties.
struct TIncrementNoise {
    int M = 0;                       // columns without the intercept
    std::vector<double> A, W, Dt;    // per increment: its columns, weight and time step
    std::vector<long double> Normal; // the normal matrix, M x M
    long double Lrv = std::numeric_limits<long double>::quiet_NaN(); // long-run variance per step
    TDriftNoiseContext Context;
};

// Per sample of a series: 1 when the increment into it carries light that
// was bridged (a step whose light was not the star's), which then has no
// weight in a fit to the increments nor in their noise. Empty: none.
using TBridged = std::vector<unsigned char>;

// Least squares through the normal equations: the columns (powers of tau in
// -1..1, cosines and sines) are of one size and nearly orthogonal, so the
// products sum in double without loss that matters, and the small system
// is solved in the extended format. The residual follows from the same
// sums: e.e - c.(A'e).
TFit FitSeries(const std::vector<double>& t, const std::vector<double>& e, int degree, int k, long double period);

// Means of blocks of consecutive samples, about `count` of them (all the
// samples when they are fewer).
// With `bridged`, `bridgedOut` marks the means whose increment from the
// previous mean spans a bridged increment.
void BlockMeans(const std::vector<double>& t, const std::vector<double>& e, std::size_t count, std::vector<double>& tOut,
                std::vector<double>& eOut, const TBridged* bridged = nullptr, TBridged* bridgedOut = nullptr);

// The covariances of two coefficients of a fit to the increments (columns j
// and l, 0 the line's, 2i - 1 and 2i the cosine and sine of harmonic i), from
// the photometry's noise with the worm period taken as exact: {jj, ll, jl}.
// A coefficient is a linear sum of the increments, sum c_i de_i. Each
// increment's noise is the step's own, eps_i, less its share dt_i / T of the
// whole walk's noise (the times are fractions of the total light), so the
// coefficient's noise is
//   sum_fitted (c_i - kappa) eps_i - kappa sum_outside eps_j,
//   kappa = sum c_i dt_i / T.
// Over 12 noise draws of ten rendered trails the drift's uncertainty came
// within a fifth of its scatter.
std::array<long double, 3> Covariances(const TFit& f, int j, int l);

// The drift's standard deviation (per second).
long double SlopeSigma(const TFit& f);

// The standard deviation of harmonic i's amplitude: its variance along the
// direction of its (cosine, sine) coefficients.
long double AmplitudeSigma(const TFit& f, int i);

// The model (line plus K harmonics of the period) fitted to the error's
// increments from step to step. The error is a running sum of the light, so
// the photometry's noise makes it a random walk whose neighbours share
// almost all their noise, pinned at the trail's two ends by the total; the
// increments carry independent noise, which is what least squares assumes.
// Fitted to the error itself, the walk's slow wander moved the drift by 5 to
// 9 % of a 0.01"/s drift and the period by up to half a per cent.
//
// Each increment is weighted by the inverse of its time step, which is the
// least-squares fit of the rate: the time steps come from the same light as
// the increments (a step with more light lasts longer and gains less on the
// nominal rate), and unweighted, that shared noise biased the drift by the
// light's relative variance times the mount speed, a quarter of the drift
// on an undersampled trail. Weighted, the drift term rests on the sums of
// the increments and of the time steps, which the pinned ends hold.
//
// The intercept, which the increments cannot see, makes the model's mean
// the error's mean; Rss is the weighted residual of the increments.
//
// Increments marked in `bridged` are left out: their light was made up from
// the neighbours', and counted, it would pull the fit and lower the noise.
TFit FitIncrements(const std::vector<double>& t, const std::vector<double>& e, int k, long double period,
                   const TDriftNoiseContext* noise = nullptr, int degree = 1, const TBridged* bridged = nullptr);

// The joint fit's polynomial: a line, and a quadratic once the record holds
// two worm cycles. A steady change of the light (a dimming lamp, dew) bends
// the error into a parabola that a line leaves behind; below two cycles a
// parabola is too like the worm's own harmonics to be told from them.
int JointDegree(long double record, long double period);

// The note when a slow bend outweighs the worm's periodic error.
extern const char* const SlowErrorNote;

// Light that changes in time (a dimming lamp, dew) bends the error into a
// parabola, and it also makes the time scale, which is made from the light,
// run unevenly: the worm's cycles come out squeezed at one end, which no
// polynomial takes out. When the joint fit's parabola (degree 2, two worm
// cycles, k harmonics) is the bend that the light's own change along the
// trail would make, it is taken for that change of the light, and each step's time is put back where that
// light would have put it; the error loses the bend, and the note says so
// when the bend outweighed the worm. r's Time, PE and Repaired and the
// series move with it; true when they moved. A bend that
// is the mount's own would move the times by its size over the mount
// speed: a second or so for the largest, beside worm periods of minutes.
bool Unbend(const TFit& joint, const TExperiment& e, TDriveResult& r, TSeries& series, int k,
            const TBridged* bridged);

// The stage: the drift removed as the settings ask (the harmonic fit falls
// back to a line without two worm cycles), into r's T, Error, DetrendUsed,
// Drift, DriftPercent, DriftSigma and Notes.
struct TDetrended {
    TRefusal Refusal; // when refused, nothing is valid
    // The joint fit of the line and K harmonics (not Ok without a period):
    // the drift, the harmonics' amplitudes and the PEC curve come from it.
    TFit Harmonic;
    TDriftNoiseContext Noise;
    const TBridged* Bridged = nullptr; // the series', for every further joint fit
};
TDetrended RemoveDrift(const std::vector<double>& t, const std::vector<double>& pe, long double period,
                       const TDriveSettings& set, const TExperiment& e, TDriveResult& r,
                       const TBridged* bridged = nullptr);

} // namespace vinsk::drive
