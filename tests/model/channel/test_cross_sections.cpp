// Tests of the cross-section geometry: trapezoid, rectangle and floodplain
// formulas against hand values, dK/dy against a central difference, the table
// lookups at and between levels and beyond the table, ex_section in both modes
// with its round trip and its stops, the property tables of a break-point node
// and the bed update of an erodible section.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/channel/cross_sections.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/channel_file.h"
#include "model/core/model_state.h"
#include "support/captured_output.h"

namespace {

using testsupport::printed;
using testsupport::printed_err;

const double root2 = std::sqrt(2.0);

// ---- formulas ----

TEST(SectionFormulas, TrapezoidAtOneMetre) {
    const section_props p = trapezoid_from_depth(3.0, 1.0, 1.0, 20.0);
    EXPECT_DOUBLE_EQ(p.area, 4.0);
    EXPECT_DOUBLE_EQ(p.top_width, 5.0);
    EXPECT_DOUBLE_EQ(p.perimeter, 3.0 + 2.0 * root2);
    EXPECT_NEAR(p.conveyance, 20.0 * 4.0 * std::pow(4.0 / (3.0 + 2.0 * root2), 2.0 / 3.0), 1e-12);
    EXPECT_NEAR(trapezoid_depth_from_area(3.0, 1.0, 4.0), 1.0, 1e-14);
}

TEST(SectionFormulas, RectangleUsesAreaOverWidth) {
    const section_props p = trapezoid_from_depth(4.0, 0.0, 0.75, 30.0);
    EXPECT_DOUBLE_EQ(p.area, 3.0);
    EXPECT_DOUBLE_EQ(p.perimeter, 5.5);
    EXPECT_DOUBLE_EQ(p.top_width, 4.0);
    EXPECT_DOUBLE_EQ(trapezoid_depth_from_area(4.0, 0.0, 3.0), 0.75);
    EXPECT_DOUBLE_EQ(trapezoid_depth_from_area(0.0, 0.0, 1.0), -1.0);  // no width
    EXPECT_DOUBLE_EQ(trapezoid_depth_from_area(0.0, 0.0, 0.0), 0.0);
}

TEST(SectionFormulas, DryTrapezoidHasNoConveyance) {
    const section_props p = trapezoid_from_depth(0.0, 2.0, 0.0, 30.0);
    EXPECT_EQ(p.conveyance, 0.0);
    EXPECT_FALSE(std::isnan(p.dconv));
}

TEST(SectionFormulas, TrapezoidDerivativeMatchesCentralDifference) {
    const double h = 1e-6;
    for (double y : {0.3, 1.0, 2.5}) {
        const double fd = (trapezoid_from_depth(2.0, 1.5, y + h, 25.0).conveyance -
                           trapezoid_from_depth(2.0, 1.5, y - h, 25.0).conveyance) /
                          (2 * h);
        EXPECT_NEAR(trapezoid_from_depth(2.0, 1.5, y, 25.0).dconv, fd, 1e-5 * fd) << y;
    }
}

TEST(SectionFormulas, FloodplainAboveBankfull) {
    // Main channel b 2, z 1, bankfull 1; floodplain side slope 10.
    const section_props p = floodplain_from_depth(2.0, 1.0, 1.0, 10.0, 1.5, 20.0);
    const double tbf = 4.0, abf = 3.0, pbf = 2.0 + 2.0 * root2;
    EXPECT_DOUBLE_EQ(p.top_width, tbf + 2.0 * 10.0 * 0.5);
    EXPECT_DOUBLE_EQ(p.area, abf + 0.5 * 0.5 * (tbf + 14.0));
    EXPECT_DOUBLE_EQ(p.perimeter, pbf + 2.0 * 0.5 * std::sqrt(101.0));
    EXPECT_NEAR(p.conveyance, 20.0 * std::pow(p.area, 1.666667) / std::pow(p.perimeter, 0.666667),
                1e-12);
    const section_props q = floodplain_from_depth(2.0, 1.0, 1.0, 10.0, 0.5, 20.0);
    EXPECT_DOUBLE_EQ(q.area, trapezoid_from_depth(2.0, 1.0, 0.5, 20.0).area);
}

// ---- a network built by hand ----

class Sections : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }

    // One link of `type` with `nodes` computational nodes; dx 10, n 0.05.
    void make(int type, int nodes) {
        channel_network &n = s.channels;
        n.link_count = 1;
        n.max_node_count = nodes + 1;
        ASSERT_TRUE(make_link_arrays(n));
        ASSERT_TRUE(make_node_arrays(n, false));
        n.link_type[1] = type;
        n.node_count[1] = nodes + 1;
        n.comp_node_count[1] = nodes;
        n.dx[1] = 10.0;
        n.kconv[1] = 20.0;
        for (int k = 1; k <= nodes + 1; ++k) {
            n.bel[k][1] = 100.0 - k;
            n.bottom[k][1] = 3.0;
            n.sslope[k][1] = 1.0;
            n.bankfull_dep[k][1] = 1.0;
            n.sslope2[k][1] = 5.0;
        }
        channel_work &w = s.chan;
        for (array_2d<double> *a : {&w.area, &w.chan_depth, &w.topw, &w.conv, &w.dconv})
            ASSERT_TRUE(chan_make(*a, n.max_node_count, 1, "state"));
    }
    // Table 1 from the trapezoid b 3, z 1, 2 m deep, in `levels` levels; every
    // node uses it.
    void trapezoid_table(int levels) {
        channel_network &n = s.channels;
        n.table_count = 1;
        n.max_pairs = 4;
        n.max_interp = levels;
        ASSERT_TRUE(chan_make(n.xbp, 1, 4, "xbp") && chan_make(n.ybp, 1, 4, "ybp"));
        ASSERT_TRUE(chan_make(n.table_pairs, 1, "p") && chan_make(n.table_interp, 1, "i") &&
                    chan_make(n.table_dy, 1, "dy") && chan_make(n.table_ymin, 1, "ym"));
        for (array_2d<double> *a : {&n.xarea, &n.xtw, &n.xk, &n.xp})
            ASSERT_TRUE(chan_make(*a, 1, levels, "rows"));
        const double x[] = {0, 0, 2, 5, 7}, y[] = {0, 2, 0, 0, 2};
        for (int i = 1; i <= 4; ++i) {
            n.xbp[1][i] = x[i];
            n.ybp[1][i] = y[i];
        }
        n.table_pairs[1] = 4;
        ASSERT_EQ(build_section_table(n, 1, x, y, 4, levels, n.kconv[1], 0, 1, false), 0);
        for (int k = 1; k <= n.max_node_count; ++k) n.table_num[k][1] = 1;
    }
    int mode(int m) {
        int beyond = 0;
        ex_section(s, m, beyond);
        return beyond;
    }
    model_state s;
};

TEST_F(Sections, TrapezoidModesRoundTrip) {
    make(link_trapezoid, 3);
    channel_network &n = s.channels;
    const double depths[] = {0.0, 0.4, 1.0, 2.3};
    for (int k = 1; k <= 3; ++k) n.yp[k][1] = n.bel[k][1] + depths[k];
    mode(2);
    ASSERT_FALSE(error_record.fatal);
    EXPECT_DOUBLE_EQ(s.chan.area[2][1], 4.0);
    EXPECT_DOUBLE_EQ(s.chan.topw[2][1], 5.0);
    for (int k = 1; k <= 3; ++k) n.yp[k][1] = 0.0;
    mode(1);
    ASSERT_FALSE(error_record.fatal);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_NEAR(s.chan.chan_depth[k][1], depths[k], 1e-12);
        EXPECT_NEAR(n.yp[k][1], n.bel[k][1] + depths[k], 1e-12);
    }
}

TEST_F(Sections, RectangleModeOneDividesByTheWidth) {
    make(link_trapezoid, 1);
    s.channels.sslope[1][1] = 0.0;
    s.chan.area[1][1] = 1.5;
    mode(1);
    ASSERT_FALSE(error_record.fatal);
    EXPECT_DOUBLE_EQ(s.chan.chan_depth[1][1], 0.5);
    EXPECT_NEAR(s.chan.conv[1][1], 20.0 * 1.5 * std::pow(1.5 / 4.0, 2.0 / 3.0), 1e-12);
}

TEST_F(Sections, SmallNegativeAreaIsZeroLargerStops) {
    make(link_trapezoid, 1);
    s.chan.area[1][1] = -0.00005;
    mode(1);
    EXPECT_FALSE(error_record.fatal);
    EXPECT_EQ(s.chan.chan_depth[1][1], 0.0);
    EXPECT_EQ(s.chan.area[1][1], 0.0);
    s.chan.area[1][1] = -0.0002;
    const std::string out = printed([&] { mode(1); });
    EXPECT_TRUE(error_record.fatal);
    EXPECT_NE(out.find("In ex_section - 1\nprogram stopped for negative area, node 1, link 1\n"),
              std::string::npos);
}

TEST_F(Sections, NegativeDepthStops) {
    make(link_trapezoid_erode, 1);
    s.channels.yp[1][1] = s.channels.bel[1][1] - 0.1;
    const std::string out = printed([&] { mode(2); });
    EXPECT_TRUE(error_record.fatal);
    EXPECT_NE(out.find("In ex_section - 2\nprogram stopped for negative depth, node 1, link 1\n"),
              std::string::npos);
}

TEST_F(Sections, SlotTypesAreRefused) {
    make(link_trapezoid_slot, 1);
    const std::string out = printed([&] { mode(1); });
    EXPECT_TRUE(error_record.fatal);
    EXPECT_NE(out.find("Change all link type 10 to link type 1.  Exiting.\n"), std::string::npos);
}

TEST_F(Sections, FloodplainModesRoundTrip) {
    make(link_floodplain, 2);
    channel_network &n = s.channels;
    n.yp[1][1] = n.bel[1][1] + 0.6;  // in the main channel
    n.yp[2][1] = n.bel[2][1] + 1.7;  // on the floodplain
    mode(2);
    ASSERT_FALSE(error_record.fatal);
    mode(1);
    ASSERT_FALSE(error_record.fatal);
    EXPECT_NEAR(s.chan.chan_depth[1][1], 0.6, 1e-12);
    EXPECT_NEAR(s.chan.chan_depth[2][1], 1.7, 1e-12);
}

TEST_F(Sections, TableMatchesTheTrapezoidAtLevelsAndRoundTrips) {
    make(link_breakpoint, 3);
    trapezoid_table(4);
    channel_network &n = s.channels;
    const double depths[] = {0.0, 0.2, 1.0, 1.3};  // below the first level, at, between
    for (int k = 1; k <= 3; ++k) n.yp[k][1] = n.bel[k][1] + depths[k];
    EXPECT_EQ(mode(2), 0);
    ASSERT_FALSE(error_record.fatal);
    EXPECT_NEAR(s.chan.area[2][1], 4.0, 1e-12);
    EXPECT_NEAR(s.chan.topw[2][1], 5.0, 1e-12);
    EXPECT_NEAR(s.chan.conv[2][1], trapezoid_from_depth(3, 1, 1.0, 20.0).conveyance, 1e-9);
    // Between levels 1.0 and 1.5 the area is interpolated linearly.
    EXPECT_NEAR(s.chan.area[3][1], 4.0 + 0.6 * (6.75 - 4.0), 1e-12);
    for (int k = 1; k <= 3; ++k) n.yp[k][1] = 0.0;
    EXPECT_EQ(mode(1), 0);
    for (int k = 1; k <= 3; ++k) EXPECT_NEAR(s.chan.chan_depth[k][1], depths[k], 1e-12) << k;
}

TEST_F(Sections, TableEdges) {
    make(link_breakpoint, 1);
    trapezoid_table(4);
    const channel_network &n = s.channels;
    double y = 0, k = 0;
    int beyond = 0;
    // An area exactly at a level, at the top level, zero, and above the table.
    table_depth_from_area(n, 1, n.xarea[1][3], y, k, beyond);
    EXPECT_DOUBLE_EQ(y, 1.5);
    table_depth_from_area(n, 1, n.xarea[1][4], y, k, beyond);
    EXPECT_DOUBLE_EQ(y, 2.0);
    EXPECT_EQ(beyond, 0);
    table_depth_from_area(n, 1, 0.0, y, k, beyond);
    EXPECT_EQ(y, 0.0);
    EXPECT_EQ(k, 0.0);
    table_depth_from_area(n, 1, 10.0 + 3.75, y, k, beyond);  // A[4] = 10, A[3] = 6.75
    EXPECT_EQ(beyond, 1);
    EXPECT_NEAR(y, 2.0 + 3.75 * 0.5 / 3.25, 1e-12);
    section_props p;
    beyond = 0;
    table_props_from_depth(n, 1, 2.0, p, beyond);
    EXPECT_EQ(beyond, 0);
    EXPECT_NEAR(p.area, 10.0, 1e-12);
    table_props_from_depth(n, 1, 2.5, p, beyond);
    EXPECT_EQ(beyond, 1);
    EXPECT_NEAR(p.area, 10.0 + (10.0 - 6.75), 1e-12);
    EXPECT_EQ(table_props_from_depth(n, 1, 0.5, p, beyond), 0);
    EXPECT_EQ(table_props_from_depth(n, 0, 0.5, p, beyond), -1);
    EXPECT_EQ(table_props_from_depth(n, 2, 0.5, p, beyond), -1);
}

TEST_F(Sections, BadTableNumbersStop) {
    make(link_breakpoint, 1);
    trapezoid_table(2);
    s.channels.yp[1][1] = s.channels.bel[1][1] + 0.5;
    s.channels.table_num[1][1] = 2;
    std::string err = printed_err([&] { mode(2); });
    EXPECT_TRUE(error_record.fatal);
    EXPECT_EQ(err, "Error in section: Request for table beyond max. table number.\n");
    reset_process_globals();
    s.channels.table_num[1][1] = 0;
    err = printed_err([&] { mode(2); });
    EXPECT_TRUE(error_record.fatal);
    EXPECT_NE(err.find("node 1 of link 1 has no cross-section table"), std::string::npos);
}

TEST_F(Sections, ExtraTablesHoldMomentAndDerivative) {
    make(link_breakpoint, 1);
    trapezoid_table(4);
    channel_network &n = s.channels;
    ASSERT_TRUE(chan_make(n.xi1, 1, 4, "xi1") && chan_make(n.xdkda, 1, 4, "xdkda"));
    const double x[] = {0, 0, 2, 5, 7}, y[] = {0, 2, 0, 0, 2};
    ASSERT_EQ(build_section_table(n, 1, x, y, 4, 4, 20.0, 1, 1, false), 0);
    const auto W = n.xtw[1], A = n.xarea[1], K = n.xk[1];
    EXPECT_NEAR(n.xi1[1][1], W[1] * 0.25 / 2.0, 1e-12);
    EXPECT_NEAR(n.xi1[1][3], W[1] * 0.5 * 1.0 + W[2] * 0.5 * 0.5, 1e-12);
    EXPECT_NEAR(n.xdkda[1][1], (K[2] - K[1]) / (A[2] - A[1]), 1e-12);
    EXPECT_NEAR(n.xdkda[1][4], (K[4] - K[3]) / (A[4] - A[3]), 1e-12);
    EXPECT_NEAR(n.xdkda[1][2],
                0.5 * ((K[2] - K[1]) / (A[2] - A[1]) + (K[3] - K[2]) / (A[3] - A[2])), 1e-12);
}

// ---- erodible sections ----

class ErodibleSection : public Sections {
protected:
    // One BREAK_ERODE link of 2 computational nodes; each node's own table from
    // the trapezoid points, level step 0.5 m.
    void SetUp() override {
        Sections::SetUp();
        make(link_breakpoint_erode, 2);
        channel_network &n = s.channels;
        n.erodible_bp_count = 1;
        n.erode_index[1] = 1;
        n.table_count = 3;
        n.max_pairs = 4;
        n.max_interp = 4;
        ASSERT_TRUE(chan_make(n.xbp, 3, 4, "xbp") && chan_make(n.ybp, 3, 4, "ybp"));
        ASSERT_TRUE(chan_make(n.table_pairs, 3, "p") && chan_make(n.table_interp, 3, "i") &&
                    chan_make(n.table_dy, 3, "dy") && chan_make(n.table_ymin, 3, "ym"));
        for (array_2d<double> *a : {&n.xarea, &n.xtw, &n.xk, &n.xp})
            ASSERT_TRUE(chan_make(*a, 3, 4, "rows"));
        ASSERT_TRUE(chan_make(n.xbp_lnn, 1, 3, 4, "xbp_lnn") &&
                    chan_make(n.ybp_lnn, 1, 3, 4, "ybp_lnn") &&
                    chan_make(n.max_yp, 1, 3, "max_yp") &&
                    chan_make(n.ch_sand_vol0, 1, 3, "ch_sand_vol0"));
        const double x[] = {0, 0, 2, 5, 7}, y[] = {0, 2, 0, 0, 2};
        for (int k = 1; k <= 3; ++k) {
            n.table_num[k][1] = k;
            n.table_pairs[k] = 4;
            n.table_interp[k] = 4;
            n.bel[k][1] = 0.0;
            for (int i = 1; i <= 4; ++i) {
                n.xbp_lnn[1][k][i] = x[i];
                n.ybp_lnn[1][k][i] = y[i];
            }
            xsec_property_tables(s, 0, 1, k);
            n.max_yp[1][k] = 1.0;  // reached 1 m above the bed
        }
        ASSERT_TRUE(chan_make(s.chan.ch_sand_vol, 3, 1, 1, "ch_sand_vol"));
        s.project.sed_porosity = 0.4;
    }
};

TEST_F(ErodibleSection, TablesFromTheResampledPoints) {
    ASSERT_FALSE(error_record.fatal);
    EXPECT_NEAR(s.channels.xarea[2][2], 4.0, 1e-12);
    EXPECT_NEAR(s.channels.xp[2][2], 3.0 + 2.0 * root2, 1e-12);
}

TEST_F(ErodibleSection, NoVolumeChangeLeavesThePointsAlone) {
    xsec_update(s);
    ASSERT_FALSE(error_record.fatal);
    for (int i = 1; i <= 4; ++i) EXPECT_DOUBLE_EQ(s.channels.ybp_lnn[1][1][i], i == 2 || i == 3 ? 0.0 : 2.0);
    EXPECT_DOUBLE_EQ(s.channels.bel[1][1], 0.0);
}

TEST_F(ErodibleSection, DepositionRaisesTheBedByTheVolume) {
    // 1.2 m3 of sand at porosity 0.4 is 2 m3 of bed over the 10 m reach.
    s.chan.ch_sand_vol[1][1][0] = 1.2;
    xsec_update(s);
    ASSERT_FALSE(error_record.fatal);
    const channel_network &n = s.channels;
    // The two bed points (the lowest, weight 0) rise by dz, the bank points stay.
    const double dz = n.ybp_lnn[1][1][2];
    EXPECT_GT(dz, 0.0);
    EXPECT_DOUBLE_EQ(n.ybp_lnn[1][1][3], dz);
    EXPECT_DOUBLE_EQ(n.ybp_lnn[1][1][1], 2.0);
    // Volume moved: the trapezoid between the raised and the old bed, times dx.
    const double moved = 10.0 * (0.5 * 2.0 * dz + 3.0 * dz + 0.5 * 2.0 * dz);
    EXPECT_NEAR(moved, 2.0, 2.0 * 1e-05);
    EXPECT_NEAR(n.bel[1][1], dz, 1e-15);
    EXPECT_DOUBLE_EQ(n.ch_sand_vol0[1][1], 1.2);
    // Node 2 had no change.
    EXPECT_DOUBLE_EQ(n.ybp_lnn[1][2][2], 0.0);
    // The table follows the raised bed: 1 m of depth now holds less area.
    EXPECT_LT(n.xarea[1][2], 4.0);
}

TEST_F(ErodibleSection, ImpossibleBedChangeStops) {
    s.chan.ch_sand_vol[1][1][0] = 60.0;  // 100 m3 of bed: far more than 1 m of depth
    const std::string out = printed([&] { xsec_update(s); });
    EXPECT_TRUE(error_record.fatal);
    EXPECT_NE(out.find("In xsec_update - 3\n"), std::string::npos);
}

TEST_F(ErodibleSection, WorkVectorsFollowTheLargestSection) {
    // A later, larger section on node 3: 9 points, built after the 4-point ones.
    channel_network &n = s.channels;
    ASSERT_TRUE(chan_make(n.xbp_lnn, 1, 3, 9, "xbp_lnn") && chan_make(n.ybp_lnn, 1, 3, 9, "ybp_lnn"));
    n.max_pairs = 9;
    for (int i = 1; i <= 9; ++i) {
        n.xbp_lnn[1][3][i] = i - 1.0;
        n.ybp_lnn[1][3][i] = std::fabs(i - 5.0) * 0.5;
    }
    n.table_pairs[3] = 9;
    xsec_property_tables(s, 0, 1, 3);
    ASSERT_FALSE(error_record.fatal);
    // V of side slope 2 and 2 m deep: at level 1 (0.5 m) A = z y^2.
    EXPECT_NEAR(n.xarea[3][1], 2.0 * 0.25, 1e-12);
}

}  // namespace
