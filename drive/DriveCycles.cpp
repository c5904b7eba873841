#include "drive/DriveCycles.h"

#include <algorithm>
#include <cmath>

#include "common/MathFaults.h"
#include "drive/DriveDetrend.h"

namespace vinsk::drive {

void CyclesAndPec(const std::vector<double>& tt, const std::vector<double>& pe, long double period,
                  const TDriveSettings& set, const TFit& harmonicFit, TDriveResult& r)
{
    const int K = set.Harmonics;
    r.CycleSpreadRms = NaN;
    r.PecResidualRms = NaN;
    if (period > 0) {
        const TFit& pec = harmonicFit;
        if (pec.Ok) {
            r.PecHarmonics = K;
            long double rss = 0;
            r.PecError.resize(tt.size());
            r.PecFit.resize(tt.size());
            r.PecResidual.resize(tt.size());
            for (std::size_t i = 0; i < tt.size(); ++i) {
                r.PecError[i] = static_cast<double>(pe[i] - pec.Poly(tt[i]));
                r.PecFit[i] = static_cast<double>(pec.Periodic(tt[i]));
                const double d = r.PecError[i] - r.PecFit[i];
                r.PecResidual[i] = d;
                rss += static_cast<long double>(d) * d;
            }
            r.PecResidualRms = StoreD(sqrtl(rss / tt.size()));
            // With two cycles the joint fit tells a slow bend from the worm:
            // a bend larger than the periodic part is most likely the light.
            if (pec.Degree == 2 && !r.PecFit.empty()) {
                const auto [lo, hi] = std::minmax_element(r.PecFit.begin(), r.PecFit.end());
                if (fabsl(pec.Coef[2]) > *hi - static_cast<long double>(*lo) &&
                    std::find(r.Notes.begin(), r.Notes.end(), SlowErrorNote) == r.Notes.end())
                    r.Notes.push_back(SlowErrorNote);
            }
            for (int i = 1; i <= K; ++i) {
                r.PecCos.push_back(StoreD(pec.Coef[pec.Degree + 2 * i - 1]));
                r.PecSin.push_back(StoreD(pec.Coef[pec.Degree + 2 * i]));
            }
            for (long double ph = 0; ph < period; ph += 1) {
                TPecRow row;
                row.Phase = static_cast<double>(ph);
                row.Error = StoreD(pec.Periodic(tt.front() + ph));
                row.Rate = StoreD(-pec.PeriodicRate(tt.front() + ph));
                r.Pec.push_back(row);
            }
        }
        for (long double b = tt.front() + period; b < tt.back(); b += period)
            r.CycleStarts.push_back(StoreD(b));
        if (r.Record >= period) {
            r.CycleCount = static_cast<int>(floorl(r.Record / period + 1e-9L));
            const int bins = static_cast<int>(std::clamp<long double>(roundl(period), 16, 720));
            std::vector<long double> sum(bins, 0);
            std::vector<std::size_t> cnt(bins, 0);
            r.Phase.resize(tt.size());
            r.Cycle.resize(tt.size());
            // Phases in double: a position within one period, at every step;
            // the extended format's floor and division made this loop as
            // slow as the spectrum.
            const double periodD = static_cast<double>(period);
            for (std::size_t i = 0; i < tt.size(); ++i) {
                const double rel = tt[i] - tt.front();
                const double c = std::floor(rel / periodD);
                r.Cycle[i] = static_cast<int>(c);
                r.Phase[i] = std::max(0.0, rel - c * periodD);
                const int bin = std::min(bins - 1, static_cast<int>(r.Phase[i] / periodD * bins));
                sum[bin] += r.Error[i];
                ++cnt[bin];
            }
            for (int k = 0; k < bins; ++k)
                if (cnt[k] > 0) {
                    r.MeanCyclePhase.push_back(StoreD((k + 0.5L) * period / bins));
                    r.MeanCycleError.push_back(StoreD(sum[k] / cnt[k]));
                }
            auto meanAt = [&](long double ph) {
                const auto& P = r.MeanCyclePhase;
                const auto& E = r.MeanCycleError;
                if (P.size() == 1)
                    return static_cast<long double>(E[0]);
                auto it = std::upper_bound(P.begin(), P.end(), static_cast<double>(ph));
                std::size_t hi = it == P.end() ? P.size() - 1 : static_cast<std::size_t>(it - P.begin());
                if (hi == 0)
                    hi = 1;
                const std::size_t lo = hi - 1;
                const long double w = (ph - P[lo]) / (P[hi] - static_cast<long double>(P[lo]));
                return E[lo] + std::clamp<long double>(w, -0.5L, 1.5L) * (E[hi] - static_cast<long double>(E[lo]));
            };
            std::vector<long double> cs(r.CycleCount, 0);
            std::vector<std::size_t> cc(r.CycleCount, 0);
            long double all = 0;
            std::size_t allN = 0;
            for (std::size_t i = 0; i < tt.size(); ++i) {
                if (r.Cycle[i] >= r.CycleCount)
                    continue;
                const long double d = r.Error[i] - meanAt(r.Phase[i]);
                cs[r.Cycle[i]] += d * d;
                ++cc[r.Cycle[i]];
                all += d * d;
                ++allN;
            }
            for (int c = 0; c < r.CycleCount; ++c)
                r.CycleRms.push_back(cc[c] ? StoreD(sqrtl(cs[c] / cc[c])) : NaN);
            if (allN > 0)
                r.CycleSpreadRms = StoreD(sqrtl(all / allN));
        }
    }
}

} // namespace vinsk::drive
