#include "drive/DriveLight.h"

#include "common/NumText.h"

namespace vinsk {

void NameTransfer(TDriveResult& r, const TTransfer& t)
{
    r.Transfer = t;
    if (t.Source == "jpeg-default")
        r.Notes.push_back("The JPEG declares no tone curve: it was read as sRGB ([Drive] Transfer or --transfer "
                          "choose another)");
}

void NameFlatOffset(TDriveResult& r, bool fromDark)
{
    if (fromDark)
        r.Notes.push_back("The flat's offset was taken from the dark frame (a flat-dark frame gives the flat's own: "
                          "--flat-dark, or Flat dark on the Image tab)");
}

std::string TransferLine(const TDriveResult& r, char decimalSep)
{
    if (!r.Transfer || r.Transfer->IsLinear())
        return {};
    const TTransfer& t = *r.Transfer;
    const std::string curve = t.Curve == TToneCurve::Srgb ? "sRGB" : "gamma " + FloatText(t.Gamma, decimalSep);
    return "Light: stored values read through the " + curve + " curve (" + t.Source + ")";
}

std::string RepairedLine(const TDriveResult& r)
{
    if (!r.Repaired || r.Repaired->empty())
        return {};
    const std::size_t n = r.Repaired->size();
    return std::to_string(n) + (n == 1 ? " step" : " steps") + " repaired (cosmic rays, hot pixels or a streak)";
}

} // namespace vinsk
