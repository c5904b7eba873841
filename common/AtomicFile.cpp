#include "common/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace vinsk {

namespace {

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

} // namespace

TAtomicSave::~TAtomicSave()
{
    if (!TempPath.empty())
        ::unlink(TempPath.c_str());
}

bool TAtomicSave::Open(std::string* content)
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
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // Opening for writing is what refuses a read-only file.
    TFileDescriptor fd(::open(Target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0 || (content != nullptr && !ReadAll(fd.Get(), *content)))
        return false;
    Existing = st;
    return true;
}

std::string EFileWriteError::WithCause() const
{
    return std::string(what()) + (Error != 0 ? std::string(": ") + std::strerror(Error) : std::string());
}

bool TAtomicSave::Commit(std::string_view content) { return Write(content) && Place(); }

bool TAtomicSave::Write(std::string_view content)
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
    return ::fsync(fd.Get()) == 0 && fd.Close();
}

bool TAtomicSave::Place()
{
    if (::rename(TempPath.c_str(), Target.c_str()) != 0)
        return false;
    TempPath.clear();
    std::filesystem::path dir = std::filesystem::path(Target).parent_path();
    if (dir.empty())
        dir = ".";
    TFileDescriptor dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0)
        ::fsync(dirFd.Get()); // the rename is done; this only hastens it to disk
    return true;
}

void TAtomicSaveSet::Add(const std::string& path, std::string_view content)
{
    auto save = std::make_unique<TAtomicSave>(path);
    if (!save->Open(nullptr) || !save->Write(content))
        throw EFileWriteError("Cannot create file " + path, errno);
    Saves.emplace_back(path, std::move(save));
}

void TAtomicSaveSet::Commit()
{
    for (auto& [path, save] : Saves)
        if (!save->Place())
            throw EFileWriteError("Cannot create file " + path, errno);
    Saves.clear();
}

void SaveWholeFile(const std::string& path, std::string_view content)
{
    TAtomicSave save(path);
    if (!save.Open(nullptr) || !save.Commit(content)) {
        // Taken before the temporary file is removed.
        const int error = errno;
        throw EFileWriteError("Cannot create file " + path, error);
    }
}

} // namespace vinsk
