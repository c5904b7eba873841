// The Setup tab's values as tests compare them: whole lists, in the order
// the tab and the settings file hold them, so that one comparison covers
// every field and a failure shows them all.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "setup/Optics.h"
#include "setup/SettingsFile.h"

namespace vinsk::test {

// Label10 ... Label32 in the order the tab lays them out.
inline std::vector<std::string> LabelTexts(const TOpticsTexts& t)
{
    return {t.Label10, t.Label11, t.Label12, t.Label22, t.Label23, t.Label24, t.Label27,
            t.Label26, t.Label25, t.Label30, t.Label33, t.Label31, t.Label32};
}

// The nine parameters in their fields' order, RxSpinEdit1 ... RxSpinEdit9.
inline std::vector<double> ParameterValues(const TExperiment& e)
{
    std::vector<double> values;
    for (const TSetupField& f : SetupFields())
        values.push_back(e.*f.Param);
    return values;
}

// A settings load's values, each in its field's unit, in the file's reading
// order (RxSpinEdit1, RxSpinEdit9, RxSpinEdit3, ...).
inline void ExpectLoadedValues(const TSettingsLoad& load, const std::array<double, 9>& expected)
{
    const char* names[] = {"RxSpinEdit1", "RxSpinEdit9", "RxSpinEdit3", "RxSpinEdit2", "RxSpinEdit5",
                           "RxSpinEdit4", "RxSpinEdit6", "RxSpinEdit7", "RxSpinEdit8"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_STREQ(load.Values[i].FieldName, names[i]);
        EXPECT_DOUBLE_EQ(load.Values[i].Value, expected[i]) << names[i];
    }
}

} // namespace vinsk::test
