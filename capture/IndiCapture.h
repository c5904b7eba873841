// One exposure taken through an INDI server, with the RA motor's count at
// its start recorded, so that the picture carries the worm's phase.
//
// The INDI client library calls back on a thread of its own: everything
// here keeps the library's values in its own state under a lock, and the
// caller learns of progress through a TCaptureEvents queue that it reads
// on its own thread (the window never sees a call from the library's one).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vinsk {

inline constexpr int DefaultIndiPort = 7624;

struct TIndiAddress {
    std::string Host = "localhost";
    int Port = DefaultIndiPort;
};

// "host", "host:port", ":port"; false for an empty host name or a port
// outside 1 .. 65535.
bool ParseIndiAddress(std::string_view text, TIndiAddress& out);

// The server's devices by what their drivers say they are.
struct TIndiDevices {
    bool Ok = false;
    std::string Message; // why the list could not be had
    std::vector<std::string> Cameras;
    std::vector<std::string> Mounts;
};
TIndiDevices ListIndiDevices(const TIndiAddress& address, double timeoutSeconds = 5);

// One CURRENTSTEPPERS update: the client's steady clock when it arrived
// (seconds) and the RA motor's count.
struct TMotorSample {
    double Time = 0;
    long long Count = 0;
};

// The motor's count at `t` interpolated between the samples either side of
// it, and half their difference as its uncertainty; nothing unless one
// sample lies at or before t and one after it.
struct TMotorAtStart {
    long long Count = 0;
    double Sigma = 0;
    TMotorSample Before, After;
};
std::optional<TMotorAtStart> MotorAt(const std::vector<TMotorSample>& samples, double t);

struct TCaptureEvent {
    enum class TKind { Status, Progress, Motor };
    TKind Kind = TKind::Status;
    std::string Text;        // Status: what the capture is doing
    double SecondsLeft = 0;  // Progress: the camera's countdown
    long long MotorCount = 0; // Motor: the latest RA count
};

// A queue that the capture fills from any thread and the caller empties.
class TCaptureEvents {
public:
    void Push(TCaptureEvent e);
    // Everything queued so far, oldest first.
    std::vector<TCaptureEvent> TakeAll();
    // Waits up to `seconds` for an event.
    std::optional<TCaptureEvent> WaitOne(double seconds);

private:
    std::mutex M;
    std::condition_variable C;
    std::deque<TCaptureEvent> Q;
};

struct TCaptureRequest {
    TIndiAddress Server;
    std::string Camera;
    std::string Mount;
    double Seconds = 0;    // the exposure, > 0
    std::string OutPath;   // .fits, .fit, .fts or .fits.fz
    long long StepsPerWorm = 0; // [Drive] StepsPerWorm; 0: not written
    int MotorSamplesBefore = 2; // CURRENTSTEPPERS updates to see before starting
    double Timeout = 10;   // s, for each wait on the server beyond the exposure
};

struct TCaptureResult {
    bool Ok = false;
    std::string Message; // the refusal or failure; empty on success
    TMotorAtStart Motor;
    long long Steps360 = 0;
    int Hemisphere = 0;  // +1, -1; 0: unknown
    std::string MountText; // VNSKMNT
    std::vector<TMotorSample> Samples; // every CURRENTSTEPPERS update seen
    bool NotTracking = false; // refused because the mount was not tracking
};

// Switches the mount's tracking on (TELESCOPE_TRACK_STATE.TRACK_ON) and
// waits until its driver says it tracks; the message says why not. Only on
// the user's word: the capture itself never starts the tracking.
struct TIndiOutcome {
    bool Ok = false;
    std::string Message;
};
TIndiOutcome StartIndiTracking(const TIndiAddress& server, const std::string& mount, double timeoutSeconds = 10);

// Takes the exposure and writes OutPath whole, or leaves no file. `cancel`
// may be set from any thread: the camera's exposure is then aborted.
TCaptureResult CaptureThroughIndi(const TCaptureRequest& r, TCaptureEvents* events = nullptr,
                                  const std::atomic<bool>* cancel = nullptr);

} // namespace vinsk
