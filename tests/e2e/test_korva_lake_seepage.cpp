// End-to-end run of korva with a channel lake that loses water through its bed
// to an aquifer 3 m below the ground: the aquifer gains exactly the lake water
// that the run books to it (with the recharge), and that is the water the lake
// gave, less what is still on its way at the end of the run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "channel_lake_plane.h"
#include "project_text.h"
#include "support/run_program.h"

namespace {

using project_text::number;
using project_text::value_after;

using testsupport::scratch_dir;

TEST(KorvaLakeSeepage, LakeWaterThatLeavesThroughTheBedIsWhatTheAquiferGains) {
    scratch_dir d;
    // 5 x 5 cells of 10 m draining to column 3; a channel of three computational
    // nodes down rows 1..3 feeds a lake that starts on (5,3) at 10.1 m and takes
    // (4,3) as it rises. The water table lies 3 m below the ground everywhere.
    // The soil's porosity equals the aquifer's, so that the aquifer stores what
    // it takes at one porosity whatever the depth of its table.
    const std::string soil_and_aquifer = channel_lake_plane::write_soil_and_aquifer(d, 3.0);
    // Bed of the lake: 3.6 cm/h (1e-5 m/s) over 1 m.
    channel_lake_plane::write(d, "GW_BED_CONDUCTIVITY 0.36\nGW_BED_THICKNESS 1.0\n",
                              "GW_BED_CONDUCTIVITY 3.6\nGW_BED_THICKNESS 1.0\nMLAKE 1.0\n");
    d.write("p.prj",
            "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
            "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 5\nCOLS 5\nGRIDSIZE 10\nTOT_TIME 120\n"
            "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 10\nHYD_FREQ 5\nMAP_FREQ 60\n"
            "OUTROW 5\nOUTCOL 3\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\n"
            "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT p.chn\n"
            "PRECIP_UNIF\nRAIN_INTENSITY 50\nRAIN_DURATION 130\n" +
                soil_and_aquifer);
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Simulating Lake Losses for Lake #1, Bed Thickness: 1.0 m"),
              std::string::npos)
        << r.out;
    const std::string summary = d.read("p.sum");

    // The lake stands above the aquifer all run: it only loses, and its own
    // balance (its outflow is the bed loss alone: it has no downstream link)
    // closes.
    const double lake_out = value_after(summary, "Flows from lakes:");
    const double to_aquifer = value_after(summary, "Lakes to groundwater:");
    EXPECT_EQ(value_after(summary, "Groundwater to lakes:"), 0.0);
    EXPECT_LE(std::fabs(value_after(summary, "Perennial lake mass bal error m^3=")), 0.005);
    // The lake covers its first cell (ground 10 m, table 7 m) all run, and 35 m3
    // would raise a lone 100 m2 cell's table by 1.2 m at porosity 0.3: at least
    // 1 m of head over 1 m of bed under that cell for the two hours,
    // 1e-5 m/s x 100 m2 x 7200 s.
    EXPECT_GT(to_aquifer, 7.2);
    // The aquifer has the lake's loss but for the water of the last steps, which
    // the next groundwater step would take: at most two steps of 60 s at the
    // run's mean rate.
    EXPECT_GE(lake_out - to_aquifer, -0.01);
    EXPECT_LE(lake_out - to_aquifer, 2.0 * lake_out / 120.0 + 0.01);
    // The event summary books the same volume.
    EXPECT_NEAR(value_after(summary, "volume from lakes to gw:"), to_aquifer, 0.051);

    // The aquifer's storage grew by its recharge and the lake water, no more.
    const std::size_t block = summary.find("GROUNDWATER CALCULATIONS \n\n");
    ASSERT_NE(block, std::string::npos) << summary;
    const std::string a = summary.substr(block);
    const double start = value_after(a, "Volume in groundwater at start =");
    const double end = value_after(a, "Volume in groundwater at end =");
    const double recharge = value_after(a, "Recharge volume =");
    const double inputs = value_after(a, "Total inputs =");
    EXPECT_NEAR(inputs, recharge + to_aquifer, 0.011);
    EXPECT_NEAR(value_after(a, "Flux across head boundaries ="), 0.0, 0.005);
    EXPECT_NEAR(end - start, inputs, 0.011);
    EXPECT_LT(std::fabs(value_after(a, "Mass Balance error =")), 0.01);
}

}  // namespace
