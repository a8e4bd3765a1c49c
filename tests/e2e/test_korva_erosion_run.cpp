// Runs korva on the bundled valley with soil erosion on and its channel links
// made erodible trapezoids: rain splashes and washes soil off the hillslopes, the
// stream cells hand it to the channels, which carry sand and wash load to the
// outlet. Checks that the run ends normally, writes its outlet sediment file, and
// that the overland and channel sediment balances of the summary close; a shorter
// run writes the net erosion/deposition volume as a data set.
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

// The valley made an erosion project: erodible channel links, one erosion index
// for the whole grid, two soil classes (silt and sand, half each) and the
// sediment cards, run for `minutes` with `extra` cards added.
void write_erosion_valley(const scratch_dir &d, const std::string &minutes,
                          const std::string &extra) {
    valley::copy_example(d);
    std::string chn = d.read("valley.chn");
    chn = replace_all(chn, "\nTRAPEZOID\n", "\nTRAP_ERODE\n");
    chn = replace_all(chn, "SIDE_SLOPE 1.0\n", "SIDE_SLOPE 1.0\nMAX_EROSION 0.3\n");
    d.write("valley.chn", chn);
    d.write("erosion.idx", uniform_index_map(d.read("valley.mask")));
    d.write("valley.cmt",
            "KORVA_INDEX_MAP_TABLES\nINDEX_MAP erosion.idx \"E\"\nSEDIMENTS\nNUM_SED 2\nID\n" +
                padded("1     silt", 44, "0.01 2.65 silt.out") +
                padded("2     sand", 44, "0.5 2.65 sand.out") +
                "SOIL_EROSION_PROPS \"E\"\nNUM_IDS 1\nNUM_SED 2\nID\n" +
                padded("1", 86, "60 2e-5 0 1 0 0 0 1 0.5 0.5"));
    std::string prj = d.read("valley.prj");
    prj = replace_all(prj, "TOT_TIME 360", "TOT_TIME " + minutes);
    prj = replace_all(prj, "TIMESTEP 5\n", "TIMESTEP 10\n");
    prj += "MAPPING_TABLE valley.cmt\nSOIL_EROSION 1\nOUTLET_SED_FLUX valley.sed\n"
           "WATER_TEMP 20\nSAND_SIZE 0.0625\nSED_POROSITY 0.4\n" + extra;
    d.write("valley.prj", prj);
}

class ValleyErosion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new scratch_dir;
        write_erosion_valley(*dir, "50", "");
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

// The same project for 20 minutes with the net erosion/deposition volume written
// as an ASCII data set every 5 minutes (every 30 steps of 10 s).
TEST(ValleyErosionMaps, NetSedimentVolumeDataSetHoldsTheLooseSoilOfEveryMapStep) {
    scratch_dir d;
    write_erosion_valley(d, "20", "MAP_TYPE 1\nMAP_FREQ 5\nNET_SED_VOLUME valley.net\n");
    const testsupport::program_result r = d.run(KORVA_EXE, {"valley.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    const std::vector<std::string> l = split_lines(d.read("valley.net"));
    ASSERT_GE(l.size(), 8u);
    EXPECT_EQ(l[3], "OBJID 1018");
    EXPECT_EQ(l[4], "ND 4800");  // 80 rows x 60 columns
    EXPECT_EQ(l[6], "NAME sediment volume");
    EXPECT_EQ(l.back(), "ENDDS");
    // Every cell starts with 1 cm of loose soil at porosity 0.4:
    // 0.6 x 0.01 m x 900 m2 = 5.4 m3 per cell, 19958.4 m3 over the 3696 cells.
    const double initial = 0.6 * 0.01 * valley::cell_area * valley::cells;
    std::vector<double> times, totals, lowest;
    for (std::size_t at = 7; at < l.size() && l[at].rfind("TS 1 ", 0) == 0;) {
        times.push_back(std::stod(l[at].substr(5)));
        int inside = 0;
        for (std::size_t k = 1; k <= 4800; ++k) inside += std::stoi(l[at + k]);
        EXPECT_EQ(inside, 3696);
        double total = 0.0, low = 1e30;
        for (std::size_t k = 4801; k <= 9600; ++k) {
            const double v = std::stod(l[at + k]);
            EXPECT_GE(v, 0.0);
            total += v;
            if (std::stoi(l[at + k - 4800]) == 1 && v < low) low = v;
        }
        totals.push_back(total);
        lowest.push_back(low);
        at += 9601;
    }
    // Steps 1, 31, 61 and 91 (the run's last turn is step 120, at its end time):
    // 10 s, then every 5 minutes.
    ASSERT_EQ(times.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(times[k], 10.0 / 60.0 + 5.0 * k, 1e-6) << k;
    // After the first 10 s the loose soil is the starting layer less what stays
    // lifted. One step of splash at 30 mm/h lifts at most
    // 60 x 3.75e-8 x 30^1.5545 x 10 s x 900 m2 / 2645.23 = 1.514e-3 m3 per cell,
    // 5.60 m3 in all (flow detachment under a 0.08 mm film is far less); later
    // the hillslopes have lost loose soil.
    EXPECT_LT(totals[0], initial);
    EXPECT_GT(totals[0], initial - 6.0);
    EXPECT_LT(lowest[3], 5.4 - 1e-6);
}

}  // namespace
