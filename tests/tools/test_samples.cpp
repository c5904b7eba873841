// The committed sample trails give what samples/checkpoints.txt says they
// should: the README's example commands stay true.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

struct SampleRow {
    const char* Name;      // the block "## name" in checkpoints.txt
    const char* Extension; // of its pictures
};

void PrintTo(const SampleRow& r, std::ostream* os)
{
    *os << r.Name << "." << r.Extension;
}

// What checkpoints.txt holds for one sample.
struct TRecorded {
    std::string CheckPoints; // "--start X,Y --stop X,Y --inline X,Y"
    double Min = NAN, Max = NAN, Sigma = NAN;
};

TRecorded Recorded(const std::string& name)
{
    std::ifstream in(fs::path(VINSK_SOURCE_DIR) / "samples" / "checkpoints.txt");
    TRecorded r;
    bool inBlock = false;
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0)
            inBlock = line.rfind("## " + name + " ", 0) == 0;
        if (!inBlock)
            continue;
        if (line.rfind("--start ", 0) == 0)
            r.CheckPoints = line;
        else if (std::regex_match(line, m, std::regex(R"re(expected min/max \["\]: (-?[0-9.]+)/(-?[0-9.]+))re"))) {
            r.Min = std::stod(m[1]);
            r.Max = std::stod(m[2]);
        } else if (std::regex_match(line, m, std::regex(R"re(expected sigma \["\]: ([0-9.]+))re")))
            r.Sigma = std::stod(m[1]);
    }
    return r;
}

class Samples : public ::testing::TestWithParam<SampleRow> {};

TEST_P(Samples, AnalyseToTheirRecordedPeriodicError)
{
    const SampleRow& row = GetParam();
    const TRecorded rec = Recorded(row.Name);
    ASSERT_FALSE(rec.CheckPoints.empty()) << "no block for " << row.Name << " in samples/checkpoints.txt";
    ASSERT_FALSE(std::isnan(rec.Sigma));

    const fs::path dir = fs::path(VINSK_SOURCE_DIR) / "samples";
    const std::string stem = (dir / row.Name).string();
    const fs::path out = fs::temp_directory_path() / ("vinsk-samples-" + std::to_string(::getpid()) + ".out");
    const std::string cmd = std::string("LC_ALL=C '") + VINSK_CLI + "' --image '" + stem + "." + row.Extension +
                            "' --dark '" + stem + "-dark." + row.Extension + "' --flat '" + stem + "-flat." +
                            row.Extension + "' --settings '" + stem + ".ini' " + rec.CheckPoints + " >'" +
                            out.string() + "' 2>&1";
    const int status = std::system(cmd.c_str());
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    fs::remove(out);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text.str();

    std::smatch m;
    const std::string s = text.str();
    ASSERT_TRUE(std::regex_search(s, m, std::regex(R"re(Min/Max PE \["\]: (-?[0-9.]+)/(-?[0-9.]+)\n)re"))) << s;
    EXPECT_NEAR(std::stod(m[1]), rec.Min, 1.5) << s;
    EXPECT_NEAR(std::stod(m[2]), rec.Max, 1.5) << s;
    ASSERT_TRUE(std::regex_search(s, m, std::regex(R"re(68% interval\["\]:  \+/- ([0-9.]+)\n)re"))) << s;
    EXPECT_NEAR(std::stod(m[1]), rec.Sigma, 0.05 * rec.Sigma + 0.1) << s;
}

INSTANTIATE_TEST_SUITE_P(Committed, Samples,
                         ::testing::Values(SampleRow{"trail", "png"}, SampleRow{"slant", "jpg"}),
                         [](const ::testing::TestParamInfo<SampleRow>& info) { return std::string(info.param.Name); });

} // namespace
