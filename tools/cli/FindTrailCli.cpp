#include "tools/cli/FindTrailCli.h"

#include <exception>

namespace vinsk::cli {

std::string CheckPointsText(const TTrailPoints& p)
{
    auto xy = [](const TIntPoint& q) { return std::to_string(q.X) + "," + std::to_string(q.Y); };
    return "--start " + xy(p.Start) + " --stop " + xy(p.Stop) + " --inline " + xy(p.InLine);
}

TFoundPoints FindCheckPoints(const TCliOptions& o)
{
    TFoundPoints r;
    try {
        TVinskState s;
        LoadPictures(o, s);
        r.LinearDropped = s.Status.Linear;
        std::optional<TRasterSamples> raster;
        std::optional<TLinearSamples> linear;
        TStartSide side = TStartSide::Auto;
        if (o.StartSide) {
            side = *o.StartSide;
        } else if (o.Settings) {
            TCliResult unused;
            side = LoadSettings(*o.Settings, s.Experiment, '.', unused).StartSide;
        }
        const TTrailSearch search =
            FindTrail(PictureSamples(s.Image.Bitmap, s.Image.Linear, raster, linear), o.Channel, side);
        if (search.Points) {
            r.Points = *search.Points;
            return r;
        }
        r.Error = search.Message;
    } catch (const std::exception& e) {
        r.Error = e.what();
    }
    r.ExitCode = 1;
    return r;
}

void UseCheckPoints(TCliOptions& o, const TTrailPoints& p)
{
    o.CheckPoints = {static_cast<long double>(p.Start.X),  static_cast<long double>(p.Start.Y),
                     static_cast<long double>(p.Stop.X),   static_cast<long double>(p.Stop.Y),
                     static_cast<long double>(p.InLine.X), static_cast<long double>(p.InLine.Y)};
}

} // namespace vinsk::cli
