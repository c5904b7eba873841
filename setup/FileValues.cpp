#include "setup/FileValues.h"

#include <charconv>
#include <string_view>

#include "common/NumText.h"
#include "setup/Optics.h"

namespace vinsk {

std::string FileValuesQuestion(const TFileSetupValues& v, char sep)
{
    std::vector<std::string> parts;
    if (v.ExposureSeconds)
        parts.push_back("Exposition " + FloatText(*v.ExposureSeconds, sep) + " s");
    if (v.PixelWidthUm || v.PixelHeightUm) {
        const double w = v.PixelWidthUm.value_or(*v.PixelHeightUm);
        const double h = v.PixelHeightUm.value_or(*v.PixelWidthUm);
        std::string text = "pixel " + FloatText(w, sep);
        if (h != w)
            text += " x " + FloatText(h, sep);
        parts.push_back(text + " \xC2\xB5m");
    }
    if (v.FocalMm)
        parts.push_back("focal length " + FloatText(*v.FocalMm, sep) + " mm");
    if (v.ApertureMm)
        parts.push_back("aperture " + FloatText(*v.ApertureMm, sep) + " mm");
    if (v.MotorStart)
        parts.push_back("RA motor " + std::to_string(*v.MotorStart) +
                        (v.StepsPerWorm ? " of " + std::to_string(*v.StepsPerWorm) + " steps per worm" : std::string()));
    else if (v.StepsPerWorm)
        parts.push_back(std::to_string(*v.StepsPerWorm) + " steps per worm");
    if (v.Hemisphere)
        parts.push_back(std::string("hemisphere ") + (*v.Hemisphere > 0 ? "north" : "south"));
    std::string text = "Use the values from the file?";
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? " " : ", ") + parts[i];
    return text;
}

std::string UnusableFileValuesText(const TFileSetupValues& v, const TExperiment& e, char sep)
{
    std::string text;
    for (const TUnusableFileValue& u : v.Unusable)
        for (const TSetupField& f : SetupFields()) {
            if (u.FieldName != f.Name)
                continue;
            const std::string unit = u.FieldName == "RxSpinEdit8"   ? "s"
                                     : u.FieldName == "RxSpinEdit2" || u.FieldName == "RxSpinEdit3" ? "\xC2\xB5m"
                                                                                                     : "mm";
            text += (text.empty() ? "" : "\n") + u.Key + " in the header is not a usable number: kept " +
                    FloatText(static_cast<long double>(e.*f.Param) / f.Factor, sep) + " " + unit;
        }
    return text;
}

std::vector<TSettingsValue> FileValuesForFields(const TFileSetupValues& v)
{
    std::vector<TSettingsValue> out;
    // A file naming one pixel side means square pixels.
    const std::optional<double> w = v.PixelWidthUm ? v.PixelWidthUm : v.PixelHeightUm;
    const std::optional<double> h = v.PixelHeightUm ? v.PixelHeightUm : v.PixelWidthUm;
    if (h)
        out.push_back({"RxSpinEdit3", *h});
    if (w)
        out.push_back({"RxSpinEdit2", *w});
    if (v.FocalMm)
        out.push_back({"RxSpinEdit6", *v.FocalMm});
    if (v.ApertureMm)
        out.push_back({"RxSpinEdit7", *v.ApertureMm});
    if (v.ExposureSeconds)
        out.push_back({"RxSpinEdit8", *v.ExposureSeconds});
    return out;
}

void SetExactParams(TExperiment& e, const TSettingsValue* values, std::size_t count)
{
    const auto& fields = SetupFields();
    for (const TSettingsValue* v = values; v != values + count; ++v)
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (std::string_view(fields[i].Name) == v->FieldName) {
                char text[64];
                const auto end = std::to_chars(text, text + sizeof text, v->Value).ptr;
                SetParamFromFieldText(e, static_cast<int>(i), std::string(text, end), '.');
            }
}

void SetExactParams(TExperiment& e, const std::vector<TSettingsValue>& values)
{
    SetExactParams(e, values.data(), values.size());
}

} // namespace vinsk
