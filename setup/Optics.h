// The optics calculator of the Setup tab and the nine Setup fields.
#pragma once

#include <array>
#include <string>

#include "setup/Experiment.h"

namespace vinsk {

// The thirteen "Statistic:" label texts, in the panel's order.
struct TOpticsTexts {
    std::string Label10, Label11, Label12; // angle per pixel: width, height, diagonal
    std::string Label22, Label23, Label24; // angle per sensor
    std::string Label27, Label26, Label25; // max. exposure time: width, height, diagonal
    std::string Label30;                   // exposure angle
    std::string Label33, Label31, Label32; // ratio of width, height, diagonal
};

// Runs the thirteen guarded steps on the parameters.
TOpticsTexts OpticsTexts(const TExperiment& e, char decimalSep);

// Label16: "(i. e. " + minutes + " min.)" from the exposure field's value in
// seconds, or "i. e. ??? min" when the arithmetic fails.
std::string ExposureNoteText(long double exposureSeconds, char decimalSep);

// One Setup field: component name, caption, hint, and the factor that turns
// the field's value into its parameter.
struct TSetupField {
    const char* Name;    // "RxSpinEdit1" ... "RxSpinEdit9"
    const char* Caption; // label left of the field ("" for a right-hand field)
    const char* Hint;
    long double Factor;  // parameter = field value x Factor
    double TExperiment::*Param;
};

// RxSpinEdit1 ... RxSpinEdit9 in component-number order.
const std::array<TSetupField, 9>& SetupFields();

// The change handler's arithmetic: the field's current text (unparsable
// text reads as 0) times the factor, stored as the parameter. A product
// beyond the double range throws EOverflow and leaves the parameter as it was.
void SetParamFromFieldText(TExperiment& e, int fieldIndex /*0..8*/, const std::string& text, char decimalSep);

} // namespace vinsk
