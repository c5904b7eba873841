// A private INDI server for tests and the guide's pictures: indiserver with
// the EQMod mount driver (switched to simulation) and the CCD simulator, on
// a free loopback port, a socket path and a HOME of its own. The server and
// its drivers are stopped by process id when the object goes, whatever
// happened in between.
#pragma once

#include <string>

#include <sys/types.h>

namespace vinsk::test {

inline constexpr const char* SimMount = "EQMod Mount";
inline constexpr const char* SimCamera = "CCD Simulator";

class TIndiServer {
public:
    TIndiServer();
    ~TIndiServer();
    TIndiServer(const TIndiServer&) = delete;
    TIndiServer& operator=(const TIndiServer&) = delete;

    // Empty when the server runs, else why it does not.
    const std::string& Error() const { return Failure; }
    int Port() const { return PortNumber; }
    const std::string& Dir() const { return Folder; }

    // The mount in simulation and connected; false on a timeout.
    bool ConnectMount();
    bool StartTracking();
    // Sets "Device.PROPERTY.ELEMENT=value" through indi_setprop, retrying
    // until the property exists (up to `seconds`).
    bool Set(const std::string& assignment, double seconds = 10);
    // "Device.PROPERTY.ELEMENT" through indi_getprop; empty when not read.
    std::string Get(const std::string& name);

    // Stops the server and its drivers now.
    void Kill();

    // A loopback port that nothing listens on.
    static int FreePort();

private:
    pid_t Pid = -1;
    int PortNumber = 0;
    std::string Folder;
    std::string Failure;
};

// The threads of this process, from /proc.
int ThreadCount();

} // namespace vinsk::test
