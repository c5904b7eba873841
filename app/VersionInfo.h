// The program's version texts, read once at start-up from the version record
// embedded in the executable.
#pragma once

#include <QString>

namespace vinsk {

struct TVersionTexts {
    QString FileVersionText;    // "1.1.7.15"
    QString ProductVersionText; // "1.1"
};

inline constexpr const char* VersionRecordPath = ":/vinsk/VersionRecord";

// Reads "FileVersion=" and "ProductVersion=" lines; a missing record or
// value gives an empty text.
TVersionTexts ReadVersionTexts(const QString& path = QString::fromLatin1(VersionRecordPath));

} // namespace vinsk
