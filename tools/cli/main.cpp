// vinsk-cli: the periodic error of a star-trail picture from the command line.
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cli/CliDrive.h"
#include "tools/cli/CliGuideLog.h"
#include "tools/cli/CliOptions.h"
#include "tools/cli/CliRun.h"
#include "tools/cli/CliRuns.h"
#include "tools/cli/FindTrailCli.h"
#include "tools/cli/Version.h"

namespace {

// Ctrl-C during a capture aborts the exposure and leaves no file.
std::atomic<bool> Interrupted{false};
extern "C" void Interrupt(int)
{
    Interrupted = true;
}

int CannotWriteStdout()
{
    std::fprintf(stderr, "Cannot write to standard output: %s\n", std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace vinsk::cli;
    std::setlocale(LC_ALL, "");
    const char* point = std::localeconv()->decimal_point;
    const char sep = point && point[0] ? point[0] : '.';

    TCliParse parse = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), sep);
    if (parse.Problem) {
        std::fprintf(stderr, "vinsk-cli: %s (see --help)\n", parse.Problem->c_str());
        return 2;
    }
    TCliCommand& c = parse.Command;
    if (c.Capture.Capture && c.Mode != ECliMode::Help && c.Mode != ECliMode::Version) {
        std::signal(SIGINT, Interrupt);
        const int code = RunCapture(c.Capture, c.Options, sep, stderr, &Interrupted);
        std::signal(SIGINT, SIG_DFL);
        // After a good capture the picture stays whatever the analysis does.
        if (code != 0 || c.Mode == ECliMode::Capture)
            return code;
    }
    switch (c.Mode) {
    case ECliMode::Help:
        if (std::fputs(CliUsage, stdout) < 0 || std::fclose(stdout) != 0)
            return CannotWriteStdout();
        return 0;
    case ECliMode::Version:
        if (std::printf("vinsk-cli %s\n", ProgramVersion) < 0 || std::fclose(stdout) != 0)
            return CannotWriteStdout();
        return 0;
    case ECliMode::FindTrail: {
        const TFoundPoints found = FindCheckPoints(c.Options);
        if (!found.LinearDropped.empty())
            std::fprintf(stderr, "%s\n", found.LinearDropped.c_str());
        if (found.ExitCode != 0) {
            std::fprintf(stderr, "%s\n", found.Error.c_str());
            return found.ExitCode;
        }
        if (std::printf("%s\n", CheckPointsText(found.Points).c_str()) < 0 || std::fclose(stdout) != 0)
            return CannotWriteStdout();
        return 0;
    }
    case ECliMode::GuideLog: {
        const int code = RunGuideLog(c.Options, c.Drive, sep, stdout, stderr);
        if (std::fclose(stdout) != 0 && code == 0)
            return CannotWriteStdout();
        return code;
    }
    case ECliMode::Runs: {
        const int code = RunRuns(c.Runs, c.Drive, sep, stdout, stderr);
        if (std::fclose(stdout) != 0 && code == 0)
            return CannotWriteStdout();
        return code;
    }
    case ECliMode::Figures:
    case ECliMode::Drive:
    case ECliMode::Capture:
        break;
    }
    if (c.FindPoints) {
        // The run loads the frames again and tells of dropped samples itself.
        const TFoundPoints found = FindCheckPoints(c.Options);
        if (found.ExitCode != 0) {
            std::fprintf(stderr, "%s\n", found.Error.c_str());
            return found.ExitCode;
        }
        std::fprintf(stderr, "%s\n", CheckPointsText(found.Points).c_str());
        UseCheckPoints(c.Options, found.Points);
    }

    const int code = c.Mode == ECliMode::Drive
                         ? RunDrive(c.Options, c.Drive, sep, stdout, stderr)
                         : WriteResult(c.Options, RunAnalysis(c.Options, sep), sep, stdout, stderr);
    // Whatever stdout still holds must reach its file, or the run failed.
    if (std::fclose(stdout) != 0 && code == 0)
        return CannotWriteStdout();
    return code;
}
