// The user's guide quotes the program: its calculator panels and its
// vinsk-cli runs must be what the program prints today.
//
// In docs/guide.md, a comment "<!-- calculator: RxSpinEdit6=300 ... -->"
// (Setup fields as typed, the others at their initial values) comes before a
// ```text block holding the thirteen "Statistic:" lines; a comment
// "<!-- cli -->" comes before a ```console block of "$ command" lines, each
// followed by what it prints on standard output.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "setup/Optics.h"
#include "tests/support/SetupValues.h"

using namespace vinsk;
namespace fs = std::filesystem;

namespace {

struct TBlock {
    std::string Comment; // what follows "<!-- " up to " -->"
    int Line = 0;        // of the comment, 1-based
    std::vector<std::string> Lines;
};

std::vector<std::string> GuideLines()
{
    std::ifstream in(fs::path(VINSK_SOURCE_DIR) / "docs" / "guide.md");
    EXPECT_TRUE(in) << "docs/guide.md cannot be read";
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

// The fenced blocks that follow a comment beginning with `kind`.
std::vector<TBlock> Blocks(const std::string& kind, const std::string& fence)
{
    const std::vector<std::string> lines = GuideLines();
    std::vector<TBlock> blocks;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("<!-- " + kind, 0) != 0)
            continue;
        TBlock b;
        b.Line = static_cast<int>(i) + 1;
        const std::size_t end = lines[i].find(" -->");
        b.Comment = lines[i].substr(5, end == std::string::npos ? std::string::npos : end - 5);
        std::size_t j = i + 1;
        while (j < lines.size() && lines[j].empty())
            ++j;
        EXPECT_TRUE(j < lines.size() && lines[j] == fence)
            << "guide line " << b.Line << ": the comment is not followed by a " << fence << " block";
        for (++j; j < lines.size() && lines[j] != "```"; ++j)
            b.Lines.push_back(lines[j]);
        blocks.push_back(b);
        i = j;
    }
    return blocks;
}

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Guide, CalculatorPanelsAreWhatTheSetupTabShows)
{
    const std::vector<TBlock> blocks = Blocks("calculator:", "```text");
    ASSERT_GE(blocks.size(), 2u) << "the guide shows the initial optics and the worked example";
    for (const TBlock& b : blocks) {
        SCOPED_TRACE("guide line " + std::to_string(b.Line));
        TExperiment e;
        std::istringstream fields(b.Comment.substr(std::string("calculator:").size()));
        for (std::string setting; fields >> setting;) {
            const std::size_t eq = setting.find('=');
            ASSERT_NE(eq, std::string::npos) << setting;
            int index = -1;
            for (std::size_t f = 0; f < SetupFields().size(); ++f)
                if (setting.substr(0, eq) == SetupFields()[f].Name)
                    index = static_cast<int>(f);
            ASSERT_GE(index, 0) << "no Setup field " << setting;
            SetParamFromFieldText(e, index, setting.substr(eq + 1), '.');
        }
        EXPECT_EQ(b.Lines, test::LabelTexts(OpticsTexts(e, '.')));
    }
}

TEST(Guide, CommandLineRunsPrintWhatTheGuideShows)
{
    const std::vector<TBlock> blocks = Blocks("cli", "```console");
    ASSERT_GE(blocks.size(), 2u) << "the guide shows the figures' run and the drive run";
    const fs::path work = fs::temp_directory_path() / ("vinsk-guide-" + std::to_string(::getpid()));
    fs::create_directories(work);
    // A copy of the samples, dated as the guide shows them: a report names
    // its picture's modification time, and a checkout dates every file anew.
    fs::copy(fs::path(VINSK_SOURCE_DIR) / "samples", work / "samples", fs::copy_options::recursive);
    const std::chrono::sys_seconds noon = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} + std::chrono::hours{12};
    const auto dated = std::chrono::time_point_cast<fs::file_time_type::duration>(fs::file_time_type::clock::from_sys(noon));
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(work / "samples"))
        fs::last_write_time(e.path(), dated);
    int commands = 0;
    for (const TBlock& b : blocks) {
        for (std::size_t i = 0; i < b.Lines.size();) {
            ASSERT_EQ(b.Lines[i].rfind("$ ", 0), 0u)
                << "guide line " << b.Line << ": a console block starts with a command";
            const std::string command = b.Lines[i].substr(2);
            std::string shown;
            for (++i; i < b.Lines.size() && b.Lines[i].rfind("$ ", 0) != 0; ++i)
                shown += b.Lines[i] + "\n";
            SCOPED_TRACE("guide line " + std::to_string(b.Line) + ": " + command);
            // The guide's commands run in a scratch folder that sees the
            // project's samples, with the built programs first on the path.
            const fs::path script = work / "command.sh", out = work / "out.txt";
            std::ofstream(script) << command << "\n";
            const std::string run = "cd '" + work.string() + "' && PATH='" VINSK_BIN_DIR "':\"$PATH\" LC_ALL=C bash '" +
                                    script.string() + "' >'" + out.string() + "' 2>/dev/null";
            const int status = std::system(run.c_str());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the command failed";
            EXPECT_EQ(ReadAll(out), shown);
            ++commands;
        }
    }
    fs::remove_all(work);
    EXPECT_GE(commands, 2);
}

// The program's texts as a reader of its sources sees them: string literals
// written side by side are joined, as the compiler joins them.
std::string SourceTexts()
{
    std::string all;
    for (const char* folder : {"app", "common", "drive", "findtrail", "figures", "image", "setup", "tools/cli"}) {
        const fs::path root = fs::path(VINSK_SOURCE_DIR) / folder;
        if (!fs::exists(root))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.path().extension() == ".cpp" || entry.path().extension() == ".h")
                all += ReadAll(entry.path());
    }
    return std::regex_replace(all, std::regex("\"\\s+\""), "");
}

TEST(Guide, TroubleshootingQuotesTheProgramsOwnMessages)
{
    const std::vector<std::string> lines = GuideLines();
    const std::string sources = SourceTexts();
    const std::string ellipsis = "\u2026";
    int quoted = 0;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("## ", 0) == 0)
            inSection = lines[i].find("Troubleshooting") != std::string::npos;
        if (!inSection || lines[i].rfind("| `", 0) != 0)
            continue;
        // The first column: one or more messages in backticks; a message's
        // variable parts are written as an ellipsis.
        const std::string first = lines[i].substr(1, lines[i].find(" | ") - 1);
        for (std::size_t a = first.find('`'); a != std::string::npos; a = first.find('`', a + 1)) {
            const std::size_t b = first.find('`', a + 1);
            ASSERT_NE(b, std::string::npos) << "guide line " << i + 1;
            const std::string message = first.substr(a + 1, b - a - 1);
            a = b;
            ++quoted;
            std::size_t from = 0;
            for (std::size_t cut = message.find(ellipsis);; cut = message.find(ellipsis, from)) {
                const std::string part = message.substr(from, cut == std::string::npos ? std::string::npos : cut - from);
                // A message may be a shared prefix ("... found: ") and its reason.
                const std::size_t colon = part.find(": ");
                const bool found = sources.find(part) != std::string::npos ||
                                   (colon != std::string::npos &&
                                    sources.find(part.substr(0, colon + 2)) != std::string::npos &&
                                    sources.find(part.substr(colon + 2)) != std::string::npos);
                if (part.size() >= 6) {
                    EXPECT_TRUE(found) << "guide line " << i + 1 << ": no such text in the program: \"" << part << "\"";
                }
                if (cut == std::string::npos)
                    break;
                from = cut + ellipsis.size();
            }
        }
    }
    EXPECT_GE(quoted, 30) << "the troubleshooting tables";
}

} // namespace
