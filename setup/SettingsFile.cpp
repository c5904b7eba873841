#include "setup/SettingsFile.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
// text the field could not hold.
std::optional<double> ParseValue(const std::optional<std::string>& text, char decimalSep)
{
    long double v = 0;
    if (!text || !TryTextToFloat(*text, decimalSep, v))
        return std::nullopt;
    const double d = static_cast<double>(v);
    if (!std::isfinite(d))
        return std::nullopt;
    return d;
}

// Everything the file holds, or nothing when it is missing or unreadable.
std::string ReadWholeFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream content;
    content << in.rdbuf();
    return in.bad() ? std::string() : std::move(content).str();
}

class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd = -1) : Fd(fd) {}
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor() { Close(); }
    int Get() const { return Fd; }
    bool Close()
    {
        if (Fd < 0)
            return true;
        const int rc = ::close(Fd);
        Fd = -1;
        return rc == 0;
    }

private:
    int Fd;
};

bool ReadAll(int fd, std::string& out)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (n == 0)
            return true;
        else if (errno != EINTR)
            return false;
    }
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n > 0)
            data.remove_prefix(static_cast<std::size_t>(n));
        else if (n < 0 && errno != EINTR)
            return false;
    }
    return true;
}

// Writes the new text beside the target and renames it over the target, so
// a failure at any point leaves the old file as it was.
class TAtomicSave {
public:
    explicit TAtomicSave(const std::string& path) : Path(path) {}

    ~TAtomicSave()
    {
        if (!TempPath.empty())
            ::unlink(TempPath.c_str());
    }

    // Reads the current content; false when the target cannot be replaced.
    bool Open(std::string& content)
    {
        struct stat st {};
        if (::lstat(Path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            // Saving through a link updates the file it points to.
            char* real = ::realpath(Path.c_str(), nullptr);
            if (real == nullptr)
                return false;
            Target = real;
            std::free(real);
        } else {
            Target = Path;
        }
        if (::stat(Target.c_str(), &st) != 0)
            return errno == ENOENT;
        if (!S_ISREG(st.st_mode))
            return false;
        // Opening for writing is what refuses a read-only file.
        TFileDescriptor fd(::open(Target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
        if (fd.Get() < 0 || !ReadAll(fd.Get(), content))
            return false;
        Existing = st;
        return true;
    }

    bool Commit(std::string_view content)
    {
        const std::filesystem::path target(Target);
        std::filesystem::path dir = target.parent_path();
        if (dir.empty())
            dir = ".";
        // Short enough for any file-name limit, whatever the target's name.
        std::string name = "." + target.filename().string().substr(0, 200) + ".XXXXXX";
        std::string pattern = (dir / name).string();
        TFileDescriptor fd(::mkstemp(pattern.data()));
        if (fd.Get() < 0)
            return false;
        TempPath = pattern;
        if (!WriteAll(fd.Get(), content))
            return false;
        if (Existing) {
            if (::fchmod(fd.Get(), Existing->st_mode & 07777) != 0)
                return false;
            // Only a privileged user can hand the file back to its owner.
            if (::fchown(fd.Get(), Existing->st_uid, Existing->st_gid) != 0 && errno != EPERM)
                return false;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            if (::fchmod(fd.Get(), 0666 & ~mask) != 0)
                return false;
        }
        if (::fsync(fd.Get()) != 0 || !fd.Close())
            return false;
        if (::rename(TempPath.c_str(), Target.c_str()) != 0)
            return false;
        TempPath.clear();
        TFileDescriptor dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dirFd.Get() >= 0)
            ::fsync(dirFd.Get()); // the rename is done; this only hastens it to disk
        return true;
    }

private:
    std::string Path;
    std::string Target;
    std::string TempPath;
    std::optional<struct stat> Existing;
};

} // namespace

void SaveSettingsFile(const std::string& path, const TExperiment& e, char decimalSep)
{
    // Every figure first: a fault here leaves the file untouched.
    std::array<std::string, SettingsKeys.size()> texts;
    for (std::size_t i = 0; i < SettingsKeys.size(); ++i)
        texts[i] = FloatText(FileValue(e, SettingsKeys[i]), decimalSep);

    TAtomicSave save(path);
    std::string content;
    if (!save.Open(content))
        throw std::runtime_error("Unable to write to " + path);
    TProfileText ini(content);
    ini.Set(VersionSection, VersionKey, SettingsFileVersion);
    for (std::size_t i = 0; i < SettingsKeys.size(); ++i)
        ini.Set(SettingsKeys[i].Section, SettingsKeys[i].Key, texts[i]);
    if (!save.Commit(ini.Text()))
        throw std::runtime_error("Unable to write to " + path);
}

TSettingsLoad LoadSettingsText(const std::string& content, const TExperiment& current, char decimalSep)
{
    const TProfileText ini(content);
    TSettingsLoad load;
    const auto version = ini.Get(VersionSection, VersionKey);
    load.VersionMismatch = version && *version != SettingsFileVersion;
    for (std::size_t i = 0; i < SettingsKeys.size(); ++i) {
        const TSettingsKey& key = SettingsKeys[i];
        const auto value = ParseValue(ini.Get(key.Section, key.Key), decimalSep);
        load.Values[i].FieldName = FieldOf(key).Name;
        load.Values[i].Value = value ? *value : FileValue(current, key);
    }
    return load;
}

TSettingsLoad LoadSettingsFile(const std::string& path, const TExperiment& current, char decimalSep)
{
    return LoadSettingsText(ReadWholeFile(path), current, decimalSep);
}

} // namespace vinsk
