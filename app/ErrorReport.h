// The general error report: what a command did not handle itself ends the
// command and is shown in an error box titled with the program's name.
#pragma once

#include <QString>

namespace vinsk {

// The message as shown: a full stop is appended when its last character
// sorts after the full stop (a letter, a digit, "?").
QString ErrorReportText(const QString& message);

// The program file's name without its extension.
QString ApplicationTitle();

} // namespace vinsk
