#include "capture/IndiCapture.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <tuple>

#include <fcntl.h>
#include <unistd.h>

#include <fitsio.h>
#include <libindi/baseclient.h>
#include <libindi/basedevice.h>


#if defined(__SANITIZE_ADDRESS__)
// The client library (1.9.9) keeps its devices and their properties in
// shared pointers that point at each other, so they outlive the client:
// its leaks are not this program's to report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libindiclient.so\n";
}
#endif

namespace vinsk {

namespace {

using TSteady = std::chrono::steady_clock;
using TWall = std::chrono::system_clock;

double Now()
{
    return std::chrono::duration<double>(TSteady::now().time_since_epoch()).count();
}

std::string Quoted(const std::string& s)
{
    return "\"" + s + "\"";
}

bool EndsWith(const std::string& s, std::string_view tail)
{
    if (s.size() < tail.size())
        return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        char c = s[s.size() - tail.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i])
            return false;
    }
    return true;
}

// The picture formats a camera sends that Vinsk writes as they are.
bool FitsName(const std::string& s)
{
    return EndsWith(s, ".fits") || EndsWith(s, ".fit") || EndsWith(s, ".fts") || EndsWith(s, ".fits.fz");
}

struct TDevice {
    bool HaveInfo = false;
    unsigned Interface = 0;
    std::string Exec;
    std::optional<bool> Connected;
};

// The library's values as they arrive, kept under one lock.
class TClient final : public INDI::BaseClient {
public:
    std::mutex M;
    std::condition_variable C;
    TCaptureEvents* Events = nullptr;
    std::string Camera, Mount;

    bool Lost = false;
    std::map<std::string, TDevice> Devices;
    // The mount.
    std::optional<bool> Tracking;
    long long Steps360 = 0;
    std::string MountType;
    int HemisphereSwitch = 0;
    double Latitude = 0;
    std::vector<TMotorSample> Samples;
    // The camera.
    bool HaveExposure = false;
    IPState ExposureState = IPS_IDLE;
    bool Armed = false;      // our exposure was sent
    double BusyTime = std::numeric_limits<double>::quiet_NaN();
    TWall::time_point BusyWall;
    bool Failed = false;     // the exposure turned Alert after it was sent
    double PixelX = 0, PixelY = 0, BinX = 1, BinY = 1;
    bool HaveBlob = false;
    std::string Blob, BlobFormat;

    void newProperty(INDI::Property p) override { Take(p, false); }
    void updateProperty(INDI::Property p) override { Take(p, true); }
    void serverDisconnected(int) override
    {
        std::lock_guard l(M);
        Lost = true;
        C.notify_all();
    }

    // Waits until `ready` holds, the connection is lost or `seconds` pass;
    // true when ready.
    template <class F>
    bool WaitFor(double seconds, F ready, const std::atomic<bool>* cancel = nullptr)
    {
        std::unique_lock l(M);
        const auto end = TSteady::now() + std::chrono::duration_cast<TSteady::duration>(std::chrono::duration<double>(seconds));
        while (!ready()) {
            if (Lost || (cancel && cancel->load()) || TSteady::now() >= end)
                return ready();
            // A short step, so that a cancel set without a notification is seen.
            C.wait_until(l, std::min(end, TSteady::now() + std::chrono::milliseconds(100)));
        }
        return true;
    }

private:
    static double Number(INDI::Property p, const char* element, double otherwise)
    {
        INDI::PropertyNumber n(p);
        if (auto* w = n.findWidgetByName(element))
            return w->getValue();
        return otherwise;
    }
    static std::optional<bool> On(INDI::Property p, const char* element)
    {
        INDI::PropertySwitch s(p);
        if (auto* w = s.findWidgetByName(element))
            return w->getState() == ISS_ON;
        return std::nullopt;
    }

    void Push(TCaptureEvent e)
    {
        if (Events)
            Events->Push(std::move(e));
    }

    void Take(INDI::Property p, bool update)
    {
        const double now = Now();
        const std::string dev = p.getDeviceName();
        const std::string name = p.getName();
        std::lock_guard l(M);
        if (name == "DRIVER_INFO") {
            INDI::PropertyText t(p);
            TDevice& d = Devices[dev];
            if (auto* w = t.findWidgetByName("DRIVER_INTERFACE"))
                d.Interface = static_cast<unsigned>(std::atoi(w->getText()));
            if (auto* w = t.findWidgetByName("DRIVER_EXEC"))
                d.Exec = w->getText();
            d.HaveInfo = true;
        } else if (name == "CONNECTION") {
            Devices[dev].Connected = On(p, "CONNECT");
        } else if (dev == Mount) {
            if (name == "TELESCOPE_TRACK_STATE") {
                Tracking = On(p, "TRACK_ON");
            } else if (name == "STEPPERS") {
                Steps360 = std::llround(Number(p, "RASteps360", 0));
            } else if (name == "MOUNTINFORMATION") {
                INDI::PropertyText t(p);
                if (auto* w = t.findWidgetByName("MOUNT_TYPE"))
                    MountType = w->getText();
            } else if (name == "HEMISPHERE") {
                HemisphereSwitch = On(p, "NORTH").value_or(false) ? 1 : On(p, "SOUTH").value_or(false) ? -1 : 0;
            } else if (name == "GEOGRAPHIC_COORD") {
                Latitude = Number(p, "LAT", 0);
            } else if (name == "CURRENTSTEPPERS" && update) {
                // Only updates: a definition repeats a count polled earlier.
                const double count = Number(p, "RAStepsCurrent", std::numeric_limits<double>::quiet_NaN());
                if (std::isfinite(count) && std::fabs(count) < 9e15) {
                    Samples.push_back({now, std::llround(count)});
                    Push({TCaptureEvent::TKind::Motor, {}, 0, Samples.back().Count});
                }
            }
        } else if (dev == Camera) {
            if (name == "CCD_EXPOSURE") {
                HaveExposure = true;
                ExposureState = p.getState();
                if (Armed) {
                    if (ExposureState == IPS_BUSY && std::isnan(BusyTime)) {
                        BusyTime = now;
                        BusyWall = TWall::now();
                    }
                    if (ExposureState == IPS_ALERT)
                        Failed = true;
                    if (ExposureState == IPS_BUSY)
                        Push({TCaptureEvent::TKind::Progress, {}, Number(p, "CCD_EXPOSURE_VALUE", 0), 0});
                }
            } else if (name == "CCD_INFO") {
                PixelX = Number(p, "CCD_PIXEL_SIZE_X", 0);
                PixelY = Number(p, "CCD_PIXEL_SIZE_Y", 0);
            } else if (name == "CCD_BINNING") {
                BinX = Number(p, "HOR_BIN", 1);
                BinY = Number(p, "VER_BIN", 1);
            } else if (name == "CCD1" && update && Armed && !std::isnan(BusyTime) && !HaveBlob) {
                INDI::PropertyBlob b(p);
                if (b.size() > 0 && b[0].getBlob() && b[0].getBlobLen() > 0) {
                    Blob.assign(static_cast<const char*>(b[0].getBlob()), static_cast<std::size_t>(b[0].getBlobLen()));
                    BlobFormat = b[0].getFormat();
                    HaveBlob = true;
                }
            }
        }
        C.notify_all();
    }
};

// Connects on construction; the library's thread ends with the object.
class TSession {
public:
    explicit TSession(const TIndiAddress& a, double timeout)
    {
        Client.setServer(a.Host.c_str(), static_cast<unsigned>(a.Port));
        const double t = std::max(1.0, timeout);
        Client.setConnectionTimeout(static_cast<uint32_t>(t), 0);
    }
    ~TSession()
    {
        if (Connected)
            Client.disconnectServer();
    }
    bool Connect()
    {
        Connected = Client.connectServer();
        return Connected;
    }
    TClient Client;

private:
    bool Connected = false;
};

std::string NoServer(const TIndiAddress& a)
{
    return "No INDI server answers at " + a.Host + ":" + std::to_string(a.Port);
}

std::string Lost()
{
    return "The connection to the INDI server was lost";
}

std::string UtcText(TWall::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t s = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&s, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return buf;
}

struct TKeys {
    std::string DateObs;
    double Exposure = 0;
    double PixelX = 0, PixelY = 0;
    TCaptureResult* R = nullptr;
    long long StepsPerWorm = 0;
};

bool HasKey(fitsfile* f, const char* key)
{
    int status = 0;
    char card[FLEN_CARD];
    fits_read_card(f, key, card, &status);
    return status == 0;
}

// The picture's header gains what it lacks of the standard keys, and
// Vinsk's own keys always (an older value of them would belong to another
// capture).
std::string AddKeys(const std::string& path, const TKeys& k)
{
    int status = 0;
    fitsfile* f = nullptr;
    if (fits_open_image(&f, path.c_str(), READWRITE, &status)) {
        ffcmsg();
        return "The camera's picture is not a readable FITS file";
    }
    char date[] = "DATE-OBS", exptime[] = "EXPTIME", xpix[] = "XPIXSZ", ypix[] = "YPIXSZ";
    if (!HasKey(f, date)) {
        char value[40];
        std::snprintf(value, sizeof value, "%s", k.DateObs.c_str());
        fits_update_key_str(f, date, value, "UTC start of the exposure, client clock", &status);
    }
    if (!HasKey(f, exptime))
        fits_update_key_dbl(f, exptime, k.Exposure, -15, "[s] exposure", &status);
    if (k.PixelX > 0 && !HasKey(f, xpix))
        fits_update_key_dbl(f, xpix, k.PixelX, -15, "[um] pixel width, binning included", &status);
    if (k.PixelY > 0 && !HasKey(f, ypix))
        fits_update_key_dbl(f, ypix, k.PixelY, -15, "[um] pixel height, binning included", &status);
    const TCaptureResult& r = *k.R;
    fits_update_key_lng(f, "VNSKMOT0", r.Motor.Count, "RA motor count at the exposure's start", &status);
    fits_update_key_dbl(f, "VNSKMERR", r.Motor.Sigma, -15, "its uncertainty, steps", &status);
    if (k.StepsPerWorm > 0)
        fits_update_key_lng(f, "VNSKSPW", k.StepsPerWorm, "RA motor steps per worm turn", &status);
    if (r.Steps360 > 0)
        fits_update_key_lng(f, "VNSKS360", r.Steps360, "RA motor steps per axis turn", &status);
    if (!r.MountText.empty()) {
        std::string mount = r.MountText.substr(0, 60);
        fits_update_key_str(f, "VNSKMNT", mount.data(), "mount driver and type", &status);
    }
    if (r.Hemisphere != 0) {
        char hemi[8];
        std::snprintf(hemi, sizeof hemi, "%s", r.Hemisphere > 0 ? "north" : "south");
        fits_update_key_str(f, "VNSKHEMI", hemi, "hemisphere", &status);
    }
    int closing = 0;
    fits_close_file(f, &closing);
    if (status || closing) {
        ffcmsg();
        return "The camera's picture could not be given its header keys";
    }
    return {};
}

// The picture in place whole, or nothing: written beside the target, its
// header completed there, then renamed over the target.
std::string WritePicture(const std::string& path, const std::string& bytes, const TKeys& k)
{
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return "Cannot create file " + path;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    std::string message = written ? AddKeys(temp, k) : "Unable to write to " + path;
    if (message.empty()) {
        // Readable by others as a file saved any other way.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(temp.c_str(), 0666 & ~mask);
        if (std::rename(temp.c_str(), path.c_str()) != 0)
            message = "Cannot create file " + path;
    }
    if (!message.empty())
        std::remove(temp.c_str());
    return message;
}

} // namespace

bool ParseIndiAddress(std::string_view text, TIndiAddress& out)
{
    TIndiAddress a;
    const std::size_t colon = text.rfind(':');
    std::string_view host = text.substr(0, colon);
    if (colon != std::string_view::npos) {
        const std::string_view port = text.substr(colon + 1);
        int p = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
        if (port.empty() || ec != std::errc() || end != port.data() + port.size() || p < 1 || p > 65535)
            return false;
        a.Port = p;
        if (host.empty())
            host = "localhost";
    }
    if (host.empty())
        return false;
    a.Host = std::string(host);
    out = a;
    return true;
}

std::optional<TMotorAtStart> MotorAt(const std::vector<TMotorSample>& samples, double t)
{
    // The samples arrive in time order; the last at or before t and the
    // first after it.
    const auto after = std::upper_bound(samples.begin(), samples.end(), t,
                                        [](double v, const TMotorSample& s) { return v < s.Time; });
    if (after == samples.begin() || after == samples.end())
        return std::nullopt;
    const TMotorSample& b = *std::prev(after);
    const TMotorSample& a = *after;
    TMotorAtStart m;
    m.Before = b;
    m.After = a;
    const long double span = static_cast<long double>(a.Time) - b.Time;
    const long double diff = static_cast<long double>(a.Count) - b.Count;
    const long double f = span > 0 ? (static_cast<long double>(t) - b.Time) / span : 0;
    m.Count = std::llround(b.Count + diff * f);
    m.Sigma = static_cast<double>(std::fabs(diff) / 2);
    return m;
}

void TCaptureEvents::Push(TCaptureEvent e)
{
    {
        std::lock_guard l(M);
        Q.push_back(std::move(e));
    }
    C.notify_all();
}

std::vector<TCaptureEvent> TCaptureEvents::TakeAll()
{
    std::lock_guard l(M);
    std::vector<TCaptureEvent> out(std::make_move_iterator(Q.begin()), std::make_move_iterator(Q.end()));
    Q.clear();
    return out;
}

std::optional<TCaptureEvent> TCaptureEvents::WaitOne(double seconds)
{
    std::unique_lock l(M);
    if (!C.wait_for(l, std::chrono::duration<double>(seconds), [&] { return !Q.empty(); }))
        return std::nullopt;
    TCaptureEvent e = std::move(Q.front());
    Q.pop_front();
    return e;
}

TIndiDevices ListIndiDevices(const TIndiAddress& address, double timeoutSeconds)
{
    TIndiDevices out;
    TSession s(address, timeoutSeconds);
    if (!s.Connect()) {
        out.Message = NoServer(address);
        return out;
    }
    TClient& c = s.Client;
    // Devices announce themselves one after the other; the list is complete
    // once a short while passes with no new one.
    std::size_t seen = 0;
    const double end = Now() + timeoutSeconds;
    while (Now() < end) {
        const bool settled = !c.WaitFor(0.5, [&] { return c.Devices.size() != seen; });
        std::lock_guard l(c.M);
        if (c.Lost) {
            out.Message = Lost();
            return out;
        }
        const bool allInfo = std::all_of(c.Devices.begin(), c.Devices.end(), [](const auto& d) { return d.second.HaveInfo; });
        if (settled && seen > 0 && allInfo)
            break;
        seen = c.Devices.size();
    }
    std::lock_guard l(c.M);
    for (const auto& [name, d] : c.Devices) {
        if (d.Interface & INDI::BaseDevice::CCD_INTERFACE)
            out.Cameras.push_back(name);
        if (d.Interface & INDI::BaseDevice::TELESCOPE_INTERFACE)
            out.Mounts.push_back(name);
    }
    out.Ok = true;
    return out;
}

TIndiOutcome StartIndiTracking(const TIndiAddress& server, const std::string& mount, double timeoutSeconds)
{
    TIndiOutcome out;
    TSession s(server, timeoutSeconds);
    TClient& c = s.Client;
    c.Mount = mount;
    if (!s.Connect()) {
        out.Message = NoServer(server);
        return out;
    }
    c.WaitFor(timeoutSeconds, [&] { return c.Tracking.has_value(); });
    {
        std::lock_guard l(c.M);
        if (c.Lost) {
            out.Message = Lost();
            return out;
        }
        if (!c.Tracking) {
            const auto d = c.Devices.find(mount);
            out.Message = d == c.Devices.end() ? "The INDI server has no device " + Quoted(mount)
                          : !d->second.Connected.value_or(false) ? "The mount " + Quoted(mount) + " is not connected"
                                                                 : Quoted(mount) + " has no tracking to start";
            return out;
        }
        if (*c.Tracking) {
            out.Ok = true;
            return out;
        }
    }
    // One of many: the other element goes off with it.
    INDI::PropertySwitch track = c.getDevice(mount.c_str()).getSwitch("TELESCOPE_TRACK_STATE");
    auto* on = track.isValid() ? track.findWidgetByName("TRACK_ON") : nullptr;
    if (!on) {
        out.Message = Quoted(mount) + " has no tracking to start";
        return out;
    }
    track.reset();
    on->setState(ISS_ON);
    c.sendNewSwitch(track);
    if (!c.WaitFor(timeoutSeconds, [&] { return c.Tracking.value_or(false); })) {
        std::lock_guard l(c.M);
        out.Message = c.Lost ? Lost() : "The mount " + Quoted(mount) + " did not start tracking";
        return out;
    }
    out.Ok = true;
    return out;
}

TCaptureResult CaptureThroughIndi(const TCaptureRequest& r, TCaptureEvents* events, const std::atomic<bool>* cancel)
{
    TCaptureResult out;
    auto fail = [&](std::string m) {
        out.Ok = false;
        out.Message = std::move(m);
        return out;
    };
    auto status = [&](std::string text) {
        if (events)
            events->Push({TCaptureEvent::TKind::Status, std::move(text), 0, 0});
    };
    if (!(r.Seconds > 0 && r.Seconds <= 86400))
        return fail("The exposure must last more than 0 s and at most a day");
    if (!FitsName(r.OutPath))
        return fail("The picture is written as FITS: give a .fits or .fits.fz file name");
    if (r.Camera.empty() || r.Mount.empty())
        return fail("Name the camera and the mount");

    TSession s(r.Server, r.Timeout);
    TClient& c = s.Client;
    c.Camera = r.Camera;
    c.Mount = r.Mount;
    c.Events = events;
    status("Connecting to " + r.Server.Host + ":" + std::to_string(r.Server.Port));
    if (!s.Connect())
        return fail(NoServer(r.Server));

    // Both devices must be there and be what they are named as.
    auto known = [&](const std::string& d) {
        auto it = c.Devices.find(d);
        return it != c.Devices.end() && it->second.HaveInfo && it->second.Connected.has_value();
    };
    c.WaitFor(r.Timeout, [&] { return known(r.Camera) && known(r.Mount); }, cancel);
    {
        std::lock_guard l(c.M);
        if (c.Lost)
            return fail(Lost());
        for (const auto& [name, what, bit] :
             {std::tuple{r.Camera, "camera", unsigned(INDI::BaseDevice::CCD_INTERFACE)},
              std::tuple{r.Mount, "mount", unsigned(INDI::BaseDevice::TELESCOPE_INTERFACE)}}) {
            if (!known(name))
                return fail("The INDI server has no device " + Quoted(name));
            if (!(c.Devices[name].Interface & bit))
                return fail(Quoted(name) + " is not a " + what);
        }
        if (!*c.Devices[r.Mount].Connected)
            return fail("The mount " + Quoted(r.Mount) + " is not connected");
    }
    // Starting the mount's tracking is the user's choice, never done here.
    if (!c.WaitFor(r.Timeout, [&] { return c.Tracking.has_value(); }, cancel) || !*c.Tracking) {
        std::lock_guard l(c.M);
        if (c.Lost)
            return fail(Lost());
        out.NotTracking = true;
        return fail("The mount " + Quoted(r.Mount) + " is not tracking: start its tracking first");
    }
    bool cameraConnected;
    {
        std::lock_guard l(c.M);
        cameraConnected = *c.Devices[r.Camera].Connected;
    }
    if (!cameraConnected) {
        status("Connecting the camera");
        c.connectDevice(r.Camera.c_str());
    }
    if (!c.WaitFor(r.Timeout, [&] { return *c.Devices[r.Camera].Connected && c.HaveExposure; }, cancel)) {
        std::lock_guard l(c.M);
        if (c.Lost)
            return fail(Lost());
        if (cancel && cancel->load())
            return fail("The exposure was aborted");
        return fail("The camera " + Quoted(r.Camera) + " could not be connected");
    }
    {
        std::lock_guard l(c.M);
        if (c.ExposureState == IPS_BUSY)
            return fail("The camera " + Quoted(r.Camera) + " is busy with another exposure");
    }
    c.setBLOBMode(B_ALSO, r.Camera.c_str(), "CCD1");

    // The start is interpolated between updates: one must have come before.
    status("Waiting for the mount's motor count");
    const std::size_t want = static_cast<std::size_t>(std::max(1, r.MotorSamplesBefore));
    if (!c.WaitFor(r.Timeout + 1.5 * want, [&] { return c.Samples.size() >= want; }, cancel)) {
        std::lock_guard l(c.M);
        if (c.Lost)
            return fail(Lost());
        if (cancel && cancel->load())
            return fail("The exposure was aborted");
        return fail("The mount " + Quoted(r.Mount) +
                    " publishes no RA motor count (CURRENTSTEPPERS): take the picture elsewhere and give the worm's phase");
    }

    status("Exposing");
    {
        std::lock_guard l(c.M);
        c.Armed = true;
    }
    c.sendNewNumber(r.Camera.c_str(), "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", r.Seconds);
    auto aborted = [&] { return cancel && cancel->load(); };
    auto abortExposure = [&] {
        c.sendNewSwitch(r.Camera.c_str(), "CCD_ABORT_EXPOSURE", "ABORT");
        return fail("The exposure was aborted");
    };
    if (!c.WaitFor(r.Timeout, [&] { return !std::isnan(c.BusyTime) || c.Failed; }, cancel)) {
        std::lock_guard l(c.M);
        if (c.Lost)
            return fail(Lost());
        if (aborted())
            return abortExposure();
        return fail("The camera " + Quoted(r.Camera) + " did not start the exposure");
    }
    // The picture: the exposure, its download, and a margin.
    c.WaitFor(r.Seconds + 3 * r.Timeout, [&] { return c.HaveBlob || c.Failed; }, cancel);
    {
        std::lock_guard l(c.M);
        if (c.Lost)
            return fail(Lost());
        if (aborted())
            return abortExposure();
        if (c.Failed)
            return fail("The camera " + Quoted(r.Camera) + " reported an error during the exposure");
        if (!c.HaveBlob)
            return fail("The camera " + Quoted(r.Camera) + " sent no picture");
    }
    // The update after the start, when the exposure was shorter than the
    // mount's polling.
    c.WaitFor(r.Timeout, [&] { return !c.Samples.empty() && c.Samples.back().Time > c.BusyTime; }, cancel);

    TKeys keys;
    std::string bytes, format;
    {
        std::lock_guard l(c.M);
        if (aborted())
            return fail("The exposure was aborted");
        std::optional<TMotorAtStart> m = MotorAt(c.Samples, c.BusyTime);
        if (!m)
            return fail(c.Lost ? Lost() : "The mount " + Quoted(r.Mount) + " stopped publishing its RA motor count");
        out.Motor = *m;
        out.Samples = c.Samples;
        out.Steps360 = c.Steps360;
        out.Hemisphere = c.HemisphereSwitch != 0 ? c.HemisphereSwitch : c.Latitude > 0 ? 1 : c.Latitude < 0 ? -1 : 0;
        const std::string exec = c.Devices[r.Mount].Exec;
        out.MountText = exec + (exec.empty() || c.MountType.empty() ? "" : " ") + c.MountType;
        keys.DateObs = UtcText(c.BusyWall);
        keys.PixelX = c.PixelX * std::max(1.0, c.BinX);
        keys.PixelY = c.PixelY * std::max(1.0, c.BinY);
        bytes.swap(c.Blob);
        format = c.BlobFormat;
    }
    if (format != ".fits" && format != ".fits.fz" && format != ".fit" && format != ".fz")
        return fail("The camera sent a " + format + " picture: set it to send FITS");
    keys.Exposure = r.Seconds;
    keys.R = &out;
    keys.StepsPerWorm = r.StepsPerWorm;
    std::string m = WritePicture(r.OutPath, bytes, keys);
    if (!m.empty())
        return fail(m);
    out.Ok = true;
    return out;
}

} // namespace vinsk
