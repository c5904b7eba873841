#include "IndiServer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vinsk::test {

namespace {

bool Listening(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

std::string ShellQuoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

int TIndiServer::FreePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

TIndiServer::TIndiServer()
{
    char dir[] = "/tmp/vinsk-indi-XXXXXX";
    if (!::mkdtemp(dir)) {
        Failure = "no temporary folder";
        return;
    }
    Folder = dir;
    PortNumber = FreePort();
    const std::string port = std::to_string(PortNumber);
    const std::string socketPath = Folder + "/indiserver.sock";
    const std::string log = Folder + "/server.log";
    Pid = ::fork();
    if (Pid == 0) {
        // A process group of its own, so that the drivers go with it.
        ::setpgid(0, 0);
        ::setenv("HOME", dir, 1);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execlp("indiserver", "indiserver", "-p", port.c_str(), "-u", socketPath.c_str(), "indi_eqmod_telescope",
                 "indi_simulator_ccd", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (Pid < 0) {
        Failure = "fork failed";
        return;
    }
    ::setpgid(Pid, Pid);
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (::waitpid(Pid, &status, WNOHANG) == Pid) {
            Pid = -1;
            Failure = "indiserver did not start (is indi-bin installed?)";
            return;
        }
        if (Listening(PortNumber))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Failure = "indiserver does not listen on port " + port;
}

TIndiServer::~TIndiServer()
{
    Kill();
    if (!Folder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(Folder, ec);
    }
}

void TIndiServer::Kill()
{
    if (Pid <= 0)
        return;
    ::kill(-Pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(Pid, nullptr, WNOHANG) == Pid) {
            // The drivers may outlive the server by a moment.
            ::kill(-Pid, SIGKILL);
            Pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(-Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
    Pid = -1;
}

bool TIndiServer::Set(const std::string& assignment, double seconds)
{
    const std::string command = "timeout 5 indi_setprop -p " + std::to_string(PortNumber) + " -t 2 " + ShellQuoted(assignment) +
                                " >/dev/null 2>&1";
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (std::system(command.c_str()) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return false;
}

bool TIndiServer::ConnectMount()
{
    return Set(std::string(SimMount) + ".SIMULATION.ENABLE=On") && Set(std::string(SimMount) + ".CONNECTION.CONNECT=On");
}

std::string TIndiServer::Get(const std::string& name)
{
    const std::string command = "timeout 5 indi_getprop -p " + std::to_string(PortNumber) + " -t 2 " + ShellQuoted(name) + " 2>/dev/null";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        ::pclose(p);
    }
    const std::size_t eq = out.find('=');
    if (eq == std::string::npos)
        return {};
    out = out.substr(eq + 1);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

bool TIndiServer::StartTracking()
{
    // The driver defines the property once connected; a switch sent before
    // that is lost, so the state is read back.
    const std::string track = std::string(SimMount) + ".TELESCOPE_TRACK_STATE.TRACK_ON";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
        if (Set(track + "=On") && Get(track) == "On")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return false;
}

int ThreadCount()
{
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)e;
        ++n;
    }
    return n;
}

} // namespace vinsk::test
