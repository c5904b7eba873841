#include "setup/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "common/AtomicFile.h"
#include "common/MathFaults.h"
#include "common/NumText.h"
#include "setup/Optics.h"
#include "setup/ProfileText.h"

namespace vinsk {

namespace {

constexpr const char* VersionSection = "VinskFile";
constexpr const char* VersionKey = "version";

// The nine values in writing and reading order; the file holds each in its
// field's unit.
struct TSettingsKey {
    const char* Section;
    const char* Key;
    int Field; // index into SetupFields()
    long double FileFactor;
};

constexpr std::array<TSettingsKey, 9> SettingsKeys{{
    {"Mount", "Distance", 0, 1.0L},
    {"Mount", "MountSpeed", 8, 1.0L},
    {"Camera", "HPixSize", 2, 1000000.0L},
    {"Camera", "WPixSize", 1, 1000000.0L},
    {"Camera", "HSensor", 4, 1000.0L},
    {"Camera", "WSensor", 3, 1000.0L},
    {"Lens", "Focal", 5, 1000.0L},
    {"Lens", "Diameter", 6, 1000.0L},
    {"Exposition", "time", 7, 1.0L},
}};

const TSetupField& FieldOf(const TSettingsKey& key)
{
    return SetupFields()[static_cast<std::size_t>(key.Field)];
}

double FileValue(const TExperiment& e, const TSettingsKey& key)
{
    return StoreD(Checked(e.*FieldOf(key).Param * key.FileFactor));
}

// A value that does not fit a double counts as no number, like any other
// text the field could not hold. Files travel between locales, and a single
// number cannot be misread whichever of point and comma it uses.
std::optional<double> ParseValue(const std::string& text, char decimalSep)
{
    const char separators[] = {decimalSep, '.', ','};
    long double v = 0;
    if (!TryTextToFloatSeparators(text, std::string_view(separators, sizeof separators), v))
        return std::nullopt;
    const double d = static_cast<double>(v);
    if (!std::isfinite(d))
        return std::nullopt;
    return d;
}

[[noreturn]] void CannotRead(const std::string& path, const std::string& problem)
{
    throw std::runtime_error("Cannot read settings file " + path + ": " + problem);
}

// Everything the file holds, or nothing when no file has the name. The type
// is checked before the file is opened, and it is opened without blocking,
// so a pipe, a device or a directory is refused instead of waited on or read
// for ever.
std::string ReadWholeFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        CannotRead(path, std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode))
        CannotRead(path, "not a regular file");
    if (st.st_size > static_cast<off_t>(MaxSettingsFileBytes))
        CannotRead(path, "larger than 1 MiB, far more than a settings file holds");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        CannotRead(path, std::strerror(errno));
    std::string content;
    char buffer[65536];
    int err = 0;
    bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (regular && content.size() <= MaxSettingsFileBytes) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            err = errno;
        if (got <= 0)
            break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (!regular)
        CannotRead(path, "not a regular file");
    if (err != 0)
        CannotRead(path, std::strerror(err));
    if (content.size() > MaxSettingsFileBytes)
        CannotRead(path, "larger than 1 MiB, far more than a settings file holds");
    return content;
}

} // namespace

void SaveSettingsFile(const std::string& path, const TExperiment& e, char decimalSep)
{
    SaveSettingsFile(path, e, TDriveSettings{}, decimalSep);
}

void SaveSettingsFile(const std::string& path, const TExperiment& e, const TDriveSettings& drive, char decimalSep)
{
    // Every figure first: a fault here leaves the file untouched.
    std::array<std::string, SettingsKeys.size()> texts;
    for (std::size_t i = 0; i < SettingsKeys.size(); ++i)
        texts[i] = FloatText(FileValue(e, SettingsKeys[i]), decimalSep);

    TAtomicSave save(path);
    std::string content;
    if (!save.Open(&content))
        throw EFileWriteError("Unable to write to " + path);
    TProfileText ini(content);
    ini.Set(VersionSection, VersionKey, SettingsFileVersion);
    for (std::size_t i = 0; i < SettingsKeys.size(); ++i)
        ini.Set(SettingsKeys[i].Section, SettingsKeys[i].Key, texts[i]);
    WriteDriveSection(ini, drive, decimalSep);
    if (!save.Commit(ini.Text()))
        throw EFileWriteError("Unable to write to " + path);
}

TSettingsLoad LoadSettingsText(const std::string& content, const TExperiment& current, char decimalSep)
{
    return LoadSettingsText(content, current, TDriveSettings{}, decimalSep);
}

TSettingsLoad LoadSettingsText(const std::string& content, const TExperiment& current,
                               const TDriveSettings& currentDrive, char decimalSep)
{
    const TProfileText ini(content);
    TSettingsLoad load;
    const auto version = ini.Get(VersionSection, VersionKey);
    load.VersionMismatch = version && *version != SettingsFileVersion;
    std::vector<std::pair<std::size_t, std::string>> unread; // line, key
    for (std::size_t i = 0; i < SettingsKeys.size(); ++i) {
        const TSettingsKey& key = SettingsKeys[i];
        const auto text = ini.Get(key.Section, key.Key);
        const auto value = text ? ParseValue(*text, decimalSep) : std::nullopt;
        load.Values[i].FieldName = FieldOf(key).Name;
        load.Values[i].Value = value ? *value : FileValue(current, key);
        if (text && !text->empty() && !value)
            unread.emplace_back(*ini.LineOf(key.Section, key.Key), key.Key);
    }
    load.Drive = ReadDriveSection(ini, currentDrive, decimalSep, &unread);
    std::sort(unread.begin(), unread.end());
    for (auto& [line, name] : unread)
        load.Unread.push_back(std::move(name));
    return load;
}

TSettingsLoad LoadSettingsFile(const std::string& path, const TExperiment& current, char decimalSep)
{
    return LoadSettingsFile(path, current, TDriveSettings{}, decimalSep);
}

TSettingsLoad LoadSettingsFile(const std::string& path, const TExperiment& current,
                               const TDriveSettings& currentDrive, char decimalSep)
{
    return LoadSettingsText(ReadWholeFile(path), current, currentDrive, decimalSep);
}

std::string UnreadSettingsText(const TSettingsLoad& load)
{
    if (load.Unread.empty())
        return {};
    std::string text = "Settings: " + std::to_string(load.Unread.size()) +
                       (load.Unread.size() == 1 ? " value" : " values") + " not read: ";
    for (std::size_t i = 0; i < load.Unread.size(); ++i)
        text += (i ? ", " : "") + load.Unread[i];
    return text;
}

} // namespace vinsk
