// Runs korva on a small uniform-rain event that asks for map and end-of-run
// outputs: a binary depth data set, per-time ASCII depth maps, the pre-processor
// hydrograph file and the overland hotstart, and checks them against the run.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"

using testsupport::scratch_dir;
using testsupport::split_lines;

namespace {

// 3 x 3 cells of 30 m sloping south; 10 mm/h for 30 minutes of a 60-minute run.
std::string project(const std::string &map_cards) {
    return "KORVAPROJECT\n"
           "WATERSHED_MASK basin.mask\n"
           "ELEVATION basin.elv\n"
           "SUMMARY run.sum\n"
           "OUTLET_HYDRO run.otl\n"
           "ROWS 3\nCOLS 3\nGRIDSIZE 30\nTOT_TIME 60\n"
           "START_DATE 2020 6 1\nSTART_TIME 12 0\nTIMESTEP 30\nHYD_FREQ 5\nMAP_FREQ 15\n" +
           map_cards +
           "OVERTYPE explicit\n"
           "OUTROW 3\nOUTCOL 2\nOUTSLOPE 0.001\nMANNING_N 0.035\n"
           "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n";
}

void write_grids(const scratch_dir &d) {
    const std::string head = "north: 90\nsouth: 0\neast: 90\nwest: 0\nrows: 3\ncols: 3\n";
    d.write("basin.mask", head + "1 1 1\n1 1 1\n1 1 1\n");
    d.write("basin.elv", head + "3 3 3\n2 2 2\n1 1 1\n");
}

double project_value(const std::string &text, const std::string &label) {
    const std::size_t at = text.find(label);
    return at == std::string::npos ? -1.0 : std::strtod(text.c_str() + at + label.size(), nullptr);
}

std::int32_t le_int32(const std::string &b, std::size_t at) {
    std::uint32_t u = 0;
    for (int k = 3; k >= 0; --k)
        u = (u << 8) | static_cast<unsigned char>(b.at(at + static_cast<std::size_t>(k)));
    return static_cast<std::int32_t>(u);
}

TEST(KorvaOutputs, BinaryDepthDataSetZepFileAndHotstart) {
    scratch_dir d;
    write_grids(d);
    d.write("basin.prj", project("MAP_TYPE 2\nDEPTH depth.bin\nZEP_HYDRO run.zep\n"
                                 "WRITE_OV_HOTSTART ov.hot\n"));
    const auto r = d.run(KORVA_EXE, {"basin.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;

    // Map steps 1, 31, 61 and 91 (a map interval of 30 steps of 30 s), and the
    // run's last turn, step 120 at its end time: 0.5, 15.5, 30.5, 45.5 and 60 minutes.
    const std::string bin = d.read("depth.bin");
    const std::size_t cells = 9, steps = 5;
    ASSERT_EQ(bin.size(), 100 + steps * (14 + 10 * cells) + 4);
    const std::uint64_t last_time = (static_cast<std::uint64_t>(le_int32(bin, 100 + 4 * (14 + 10 * cells) + 10)) << 32) |
                                    static_cast<std::uint32_t>(le_int32(bin, 100 + 4 * (14 + 10 * cells) + 6));
    EXPECT_NEAR(std::bit_cast<double>(last_time), 60.0, 1e-6);
    EXPECT_EQ(le_int32(bin, 0), 3000);
    EXPECT_EQ(le_int32(bin, 36), 1010);
    EXPECT_EQ(bin.substr(60, 6), std::string("depth\0", 6));
    EXPECT_EQ(le_int32(bin, 100), 200);
    EXPECT_EQ(le_int32(bin, bin.size() - 4), 210);

    // The pre-processor file carries every outlet line's discharge.
    const std::vector<std::string> otl = split_lines(d.read("run.otl"));
    const std::vector<std::string> zep = split_lines(d.read("run.zep"));
    ASSERT_GE(zep.size(), 6u);
    EXPECT_EQ(zep[0], "KORVAHA_ZEP_HYDROGRAPH_FILE");
    EXPECT_EQ(zep[1], "0");
    EXPECT_EQ(zep[2], "20200601");
    EXPECT_EQ(zep[3], "1200");
    EXPECT_EQ(zep[4], "10");
    EXPECT_EQ(std::stoul(zep[5]), otl.size());
    std::vector<double> outlet, copied;
    for (const std::string &line : otl) {
        std::istringstream in(line);
        double t = 0, q = 0;
        in >> t >> q;
        outlet.push_back(q);
    }
    for (std::size_t k = 6; k < zep.size(); ++k) {
        std::istringstream in(zep[k]);
        double q = 0;
        while (in >> q) copied.push_back(q);
    }
    ASSERT_EQ(copied.size(), outlet.size());
    for (std::size_t k = 0; k < outlet.size(); ++k) EXPECT_NEAR(copied[k], outlet[k], 5e-4) << k;

    // Overland hotstart: a DRELM map of the nine final depths.
    const std::vector<std::string> hot = split_lines(d.read("ov.hot"));
    ASSERT_EQ(hot.size(), 9u);
    EXPECT_EQ(hot[0], "north:     90.00");

    // The run's balance closes: rain on 8100 m2 of 5 mm is 40.5 m3.
    const std::string sum = d.read("run.sum");
    const std::size_t at = sum.find("Total precipitation:");
    ASSERT_NE(at, std::string::npos) << sum;
    EXPECT_EQ(sum.find("40.50\n", at), at + 48 + 9);  // value right-aligned from column 49
    EXPECT_NE(sum.find("Mass balance error of surface components =               0.000000 percent\n"),
              std::string::npos);
}

TEST(KorvaOutputs, PerTimeDepthMapsGoIntoTheDepthDirectory) {
    scratch_dir d;
    write_grids(d);
    d.write("depth/keep", "");
    d.write("basin.prj", project("MAP_TYPE 0\nDEPTH depth.txt\n"));
    const auto r = d.run(KORVA_EXE, {"basin.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("opening file depth/depth.01\n"), std::string::npos);
    for (const char *name : {"depth/depth.01", "depth/depth.05"}) {
        const std::vector<std::string> l = split_lines(d.read(name));
        ASSERT_EQ(l.size(), 9u) << name;
        EXPECT_EQ(l[0], "ncols \t3");
        EXPECT_EQ(l[5], "NODATA_value -9999.99");
    }
    EXPECT_FALSE(d.exists("depth/depth.06"));  // the fifth is the end of the run
    EXPECT_FALSE(d.exists("depth.txt"));
}

// The restart the guide gives: WRITE_OV_HOTSTART's file is read back by
// OV_INIT_DEPTH with the water it held; a DEPTH map (a GIS grid) is refused.
TEST(KorvaOutputs, HotstartFileRestartsWithItsWaterAndDepthMapsAreNotHotstarts) {
    scratch_dir d;
    write_grids(d);
    d.write("depth/keep", "");
    d.write("basin.prj", project("MAP_TYPE 0\nDEPTH depth.txt\nWRITE_OV_HOTSTART ov.hot\n"));
    ASSERT_EQ(d.run(KORVA_EXE, {"basin.prj"}).exit_status, 0);
    const double left = project_value(d.read("run.sum"), "volume remaining on surface:");
    ASSERT_GT(left, 0.1);
    d.write("again.prj", project("OV_INIT_DEPTH ov.hot\n"));
    ASSERT_EQ(d.run(KORVA_EXE, {"again.prj"}).exit_status, 0);
    EXPECT_NEAR(project_value(d.read("run.sum"), "initial volume of overland flow:"), left, 0.05);
    d.write("maps.prj", project("OV_INIT_DEPTH depth/depth.03\n"));
    const auto r = d.run(KORVA_EXE, {"maps.prj"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.out.find("Error: unable to read the header of map: depth/depth.03\n"), std::string::npos) << r.out;
}

TEST(KorvaOutputs, MissingDepthDirectoryRefusesTheRunAtSetUp) {
    scratch_dir d;
    write_grids(d);
    d.write("basin.prj", project("MAP_TYPE 0\nDEPTH depth.txt\n"));
    const auto r = d.run(KORVA_EXE, {"basin.prj"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.out.find("Error: card DEPTH: the folder depth for its output file depth/depth.01 "
                         "does not exist.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Running...."), std::string::npos) << r.out;
}

}  // namespace
