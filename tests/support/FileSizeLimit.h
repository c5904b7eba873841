// Caps the size of the files this process writes while it lives, so that a
// save fails partway through, also for root, whom permissions do not stop.
#pragma once

#include <csignal>
#include <stdexcept>

#include <sys/resource.h>

namespace vinsk::test {

class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        if (getrlimit(RLIMIT_FSIZE, &FSaved) != 0)
            throw std::runtime_error("getrlimit failed");
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN); // a write past the cap fails instead
        rlimit small = FSaved;
        small.rlim_cur = bytes;
        if (setrlimit(RLIMIT_FSIZE, &small) != 0)
            throw std::runtime_error("setrlimit failed");
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
    ~TFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &FSaved);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FSaved{};
    void (*FOldHandler)(int) = nullptr;
};

} // namespace vinsk::test
