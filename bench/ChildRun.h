// A program run as a child process for the benchmarks that time a whole
// process: its wall and processor times and its peak resident memory, from
// the kernel's account of the child.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace vinsk::bench {

struct TChildRun {
    bool Ok = false;    // started, and exited with 0
    double Wall = 0;    // seconds, starting the process included
    double Cpu = 0;     // user + system seconds
    long PeakKiB = 0;   // ru_maxrss
};

// Runs argv[0] (looked up on PATH) with its standard output sent to
// /dev/null.
inline TChildRun RunChild(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    TChildRun r;
    pid_t pid = 0;
    const auto started = std::chrono::steady_clock::now();
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return r;
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid)
        return r;
    r.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    r.Cpu = seconds(use.ru_utime) + seconds(use.ru_stime);
    r.PeakKiB = use.ru_maxrss;
    return r;
}

} // namespace vinsk::bench
