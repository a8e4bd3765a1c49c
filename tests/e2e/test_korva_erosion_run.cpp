// Runs korva on the bundled valley with soil erosion on and its channel links
// made erodible trapezoids: rain splashes and washes soil off the hillslopes, the
// stream cells hand it to the channels, which carry sand and wash load to the
// outlet. Checks that the run ends normally, writes its outlet sediment file, and
// that the overland and channel sediment balances of the summary close.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;
using testsupport::split_lines;

namespace {

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string padded(const std::string &head, std::size_t width, const std::string &tail) {
    std::string line = head;
    line.resize(width, ' ');
    return line + tail + "\n";
}

// The valley's mask with every value 1: one erosion index for the whole grid.
std::string uniform_index_map(const std::string &mask) {
    std::string out;
    for (const std::string &line : split_lines(mask)) {
        if (line.find(':') != std::string::npos) {
            out += line + "\n";
            continue;
        }
        out += replace_all(line, "0", "1") + "\n";
    }
    return out;
}

class ValleyErosion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new scratch_dir;
        valley::copy_example(*dir);
        std::string chn = dir->read("valley.chn");
        chn = replace_all(chn, "\nTRAPEZOID\n", "\nTRAP_ERODE\n");
        chn = replace_all(chn, "SIDE_SLOPE 1.0\n", "SIDE_SLOPE 1.0\nMAX_EROSION 0.3\n");
        dir->write("valley.chn", chn);
        dir->write("erosion.idx", uniform_index_map(dir->read("valley.mask")));
        dir->write("valley.cmt",
                   "KORVA_INDEX_MAP_TABLES\nINDEX_MAP erosion.idx \"E\"\nSEDIMENTS\nNUM_SED 2\nID\n" +
                       padded("1     silt", 44, "0.01 2.65 silt.out") +
                       padded("2     sand", 44, "0.5 2.65 sand.out") +
                       "SOIL_EROSION_PROPS \"E\"\nNUM_IDS 1\nNUM_SED 2\nID\n" +
                       padded("1", 86, "60 2e-5 0 1 0 0 0 1 0.5 0.5"));
        std::string prj = dir->read("valley.prj");
        prj = replace_all(prj, "TOT_TIME 360", "TOT_TIME 50");
        prj = replace_all(prj, "TIMESTEP 5\n", "TIMESTEP 10\n");
        prj += "MAPPING_TABLE valley.cmt\nSOIL_EROSION 1\nOUTLET_SED_FLUX valley.sed\n"
               "WATER_TEMP 20\nSAND_SIZE 0.0625\nSED_POROSITY 0.4\n";
        dir->write("valley.prj", prj);
        result = new testsupport::program_result(dir->run(KORVA_EXE, {"valley.prj"}));
    }
    static void TearDownTestSuite() {
        delete result;
        delete dir;
    }
    static scratch_dir *dir;
    static testsupport::program_result *result;
};
scratch_dir *ValleyErosion::dir = nullptr;
testsupport::program_result *ValleyErosion::result = nullptr;

TEST_F(ValleyErosion, RunsToItsEndAndWritesTheOutletSedimentFile) {
    ASSERT_EQ(result->exit_status, 0)
        << result->out.substr(result->out.size() > 3000 ? result->out.size() - 3000 : 0);
    EXPECT_EQ(result->out.find("not available in this build"), std::string::npos);
    // One line per 5-minute hydrograph step: time and the outlet sediment rate.
    int lines = 0;
    double largest = 0.0;
    for (const std::string &line : split_lines(dir->read("valley.sed"))) {
        double t = 0.0, rate = 0.0;
        if (std::sscanf(line.c_str(), "%lf %lf", &t, &rate) != 2) continue;
        ++lines;
        EXPECT_GE(rate, 0.0) << line;
        if (rate > largest) largest = rate;
    }
    EXPECT_EQ(lines, 11);
    EXPECT_GT(largest, 0.0);
}

TEST_F(ValleyErosion, OverlandAndChannelSedimentBalancesClose) {
    ASSERT_EQ(result->exit_status, 0);
    const std::string summary = dir->read("valley.sum");
    EXPECT_NE(summary.find("Quantities of sediment moved on overland flow plane:"), std::string::npos);
    const double overall = valley::summary_value(summary, "Overall mass conservation error:");
    EXPECT_LT(std::fabs(overall), 1e-6) << summary;
    const double detached = valley::summary_value(summary, "detached by splash and flow:");
    const double to_channels = valley::summary_value(summary, "carried into the channels:");
    EXPECT_GT(detached, 0.0);
    EXPECT_GT(to_channels, 0.0);
    for (const char *label : {"sand mass conservation error:", "wash load mass conservation error:",
                              "total mass conservation error:"})
        EXPECT_LT(std::fabs(valley::summary_value(summary, label)), 1e-6) << label;
    EXPECT_GT(valley::summary_value(summary, "sand from the land:") +
                  valley::summary_value(summary, "wash load from the land:"),
              0.0);
}

}  // namespace
