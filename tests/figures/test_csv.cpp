// The chart's points as CSV text and file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "figures/CsvExport.h"
#include "tests/support/FileSizeLimit.h"

using namespace vinsk;

namespace {

TEST(ChartCsvText, EmptySeriesIsTheHeaderAlone)
{
    EXPECT_EQ(ChartCsvText(TChartModel{}, '.'), "Time [s]; PE [\"]\r\n");
}

TEST(ChartCsvText, OneLinePerPointInAscendingX)
{
    TChartModel chart;
    chart.BottomCaption = "Coordinates [pix]";
    chart.LeftCaption = "Brightness [-]";
    chart.AddXY(300, 20.5);
    chart.AddXY(0.00001, -3);
    chart.AddXY(1e15, 1.0 / 3);
    EXPECT_EQ(ChartCsvText(chart, '.'),
              "Coordinates [pix]; Brightness [-]\r\n"
              "1E-5; -3\r\n"
              "300; 20.5\r\n"
              "1E15; 0.333333333333333\r\n");
}

TEST(ChartCsvText, LocaleSeparator)
{
    TChartModel chart;
    chart.AddXY(1.5e-6, 2.25);
    EXPECT_EQ(ChartCsvText(chart, ','), "Time [s]; PE [\"]\r\n1,5E-6; 2,25\r\n");
}

TEST(SaveChartCsv, WritesTheTextAndReplacesAnExistingFile)
{
    const auto path = std::filesystem::temp_directory_path() / "vinsk_test_chart.csv";
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(1000, 'x');
    }
    TChartModel chart;
    chart.AddXY(1, 2);
    SaveChartCsv(chart, path.string(), '.');
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "Time [s]; PE [\"]\r\n1; 2\r\n");
    in.close();
    std::filesystem::remove(path);
}

TEST(SaveChartCsv, AWriteFailingHalfwayKeepsTheOldFile)
{
    const auto dir = std::filesystem::temp_directory_path() / "vinsk_test_csv_halfway";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const auto path = dir / "old.csv";
    const std::string old = "old content\r\n";
    std::ofstream(path, std::ios::binary) << old;
    TChartModel chart;
    for (int i = 0; i < 2000; ++i)
        chart.AddXY(i, i * 0.5);

    std::string message;
    {
        const test::TFileSizeLimit limit(4096);
        try {
            SaveChartCsv(chart, path.string(), '.');
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
    }

    EXPECT_EQ(message, "Cannot create file " + path.string());
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    std::filesystem::remove_all(dir);
}

TEST(SaveChartCsv, UnwritablePathNamesTheFile)
{
    const std::string name = "/nonexistent-dir/x/out.csv";
    EXPECT_THAT([&] { SaveChartCsv(TChartModel{}, name, '.'); },
                testing::ThrowsMessage<std::runtime_error>(testing::StrEq("Cannot create file " + name)));
}

} // namespace
