#include "tools/cli/CliCapture.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <thread>

#include "common/NumText.h"
#include "setup/Experiment.h"

namespace vinsk::cli {

namespace {

// Progress lines at most this often: a long exposure stays readable.
constexpr double ProgressEvery = 5; // s

bool EndsWith(const std::string& s, const char* tail)
{
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

} // namespace

bool IsCaptureOption(const std::string& a)
{
    return a == "--indi" || a == "--camera" || a == "--mount" || a == "--capture-seconds" || a == "--out";
}

std::optional<std::string> TakeCaptureOption(TCaptureOptions& options, const std::string& a, const std::string& v,
                                             char sep)
{
    TCaptureRequest& c = options.Request;
    if (a == "--indi") {
        if (!ParseIndiAddress(v, c.Server))
            return "--indi takes HOST or HOST:PORT, not '" + v + "'";
    } else if (a == "--camera") {
        c.Camera = v;
    } else if (a == "--mount") {
        c.Mount = v;
    } else if (a == "--capture-seconds") {
        long double s = 0;
        if ((!TryTextToFloat(v, sep, s) && !TryTextToFloat(v, '.', s)) || !(s > 0 && s <= 86400))
            return "--capture-seconds takes more than 0 and at most 86400 seconds, not '" + v + "'";
        c.Seconds = static_cast<double>(s);
    } else if (a == "--out") {
        if (!EndsWith(v, ".fits") && !EndsWith(v, ".fit") && !EndsWith(v, ".fts") && !EndsWith(v, ".fits.fz"))
            return "--out takes a .fits or .fits.fz file name, not '" + v + "'";
        c.OutPath = v;
    }
    return std::nullopt;
}

std::optional<std::string> CaptureUsageProblem(const std::set<std::string>& given, const TCaptureOptions& c)
{
    if (!c.Capture) {
        for (const char* option : {"--indi", "--camera", "--mount", "--capture-seconds", "--out"})
            if (given.count(option))
                return std::string(option) + " needs --capture";
        return std::nullopt;
    }
    if (given.count("--image"))
        return std::string("--capture takes the place of --image");
    for (const char* option : {"--camera", "--mount", "--capture-seconds", "--out"})
        if (!given.count(option))
            return std::string("--capture needs ") + option;
    // Alone, it only takes the picture.
    if (!given.count("--drive") && !given.count("--find-trail"))
        for (const std::string& a : given)
            if (a != "--capture" && a != "--settings" && a != "--steps-per-worm" && !IsCaptureOption(a))
                return a + " needs --drive or --find-trail with --capture";
    return std::nullopt;
}

int RunCapture(const TCaptureOptions& c, const TCliOptions& o, char sep, std::FILE* err,
               const std::atomic<bool>* cancel)
{
    TCaptureRequest r = c.Request;
    if (o.Settings) {
        try {
            TExperiment e;
            TCliResult ignored; // the analysis names the file's warnings
            const long long fromFile = LoadSettings(*o.Settings, e, sep, ignored).StepsPerWorm;
            if (r.StepsPerWorm == 0) // --steps-per-worm wins over [Drive]
                r.StepsPerWorm = fromFile;
        } catch (const std::exception& ex) {
            std::fprintf(err, "%s\n", ex.what());
            return 1;
        }
    }

    TCaptureEvents events;
    TCaptureResult result;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = CaptureThroughIndi(r, &events, cancel);
        done = true;
        events.Push({}); // wakes the loop below
    });
    long long motor = 0;
    bool haveMotor = false;
    double lastLine = -ProgressEvery;
    const auto start = std::chrono::steady_clock::now();
    while (!done) {
        const std::optional<TCaptureEvent> e = events.WaitOne(0.5);
        if (!e)
            continue;
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        switch (e->Kind) {
        case TCaptureEvent::TKind::Status:
            if (!e->Text.empty())
                std::fprintf(err, "%s\n", e->Text.c_str());
            break;
        case TCaptureEvent::TKind::Motor:
            motor = e->MotorCount;
            haveMotor = true;
            break;
        case TCaptureEvent::TKind::Progress:
            if (now - lastLine >= ProgressEvery) {
                lastLine = now;
                std::string line = FloatText(std::ceil(e->SecondsLeft), sep) + " s left";
                if (haveMotor)
                    line += ", RA motor " + std::to_string(motor);
                std::fprintf(err, "%s\n", line.c_str());
            }
            break;
        }
    }
    worker.join();
    if (!result.Ok) {
        std::fprintf(err, "%s\n", result.Message.c_str());
        return 1;
    }
    std::fprintf(err, "RA motor at the start %lld (uncertainty %s steps), written to %s\n", result.Motor.Count,
                 FloatText(result.Motor.Sigma, sep).c_str(), r.OutPath.c_str());
    return 0;
}

} // namespace vinsk::cli
