// Channel sediment transport: Yang's concentration by hand and at its branch
// points, the break-point lookup, and the sand and wash bookkeeping of a small
// erodible trapezoid link (whole-store moves, upstream flow, a dry outlet, mass
// balance over many steps).
#include <gtest/gtest.h>

#include <cmath>

#include "model/core/arrays.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/sediment/channel_sediment.h"
#include "tests/model/channel/routing_network.h"
#include "tests/model/sediment/sediment_test_support.h"

namespace {

constexpr double nu = 1e-6, d = 0.5e-3;
// Fall velocity of 0.5 mm sand (16.1865 for (G - 1) g), Van Rijn's form from 0.1 to 1 mm.
const double w = 10.0 * nu / d * (std::sqrt(1.0 + 0.01 * 16.1865 * d * d * d / (nu * nu)) - 1.0);

TEST(YangSandConcentration, OneNodeByHand) {
    // V = 1.5 m/s, S = 0.002, R = 0.5 m: u* = 0.099045 m/s, Re* = 49.52, c = 1.52923 + 0.66
    // (Yang's published constant); the concentration worked out by hand is 2124.77 ppm.
    const double ustar = std::sqrt(9810.0 * 0.5 * 0.002 / 1000.0);
    EXPECT_NEAR(yang_sand_concentration(1.5, 0.002, ustar, w, d, nu), 2124.770804, 1e-3);
    EXPECT_NEAR(w, 0.0721588, 1e-7);
}

TEST(YangSandConcentration, ShearReynoldsBranches) {
    const struct {
        double re, v_over_w;
        bool moves;
    } cases[] = {
        {1.19999, 200.0, false},  // below 1.2: no transport whatever the velocity
        {1.2, 200.0, true},       // 1.2 takes the logarithmic form, c = 131.0
        {1.2, 130.9, false},
        {69.9, 2.07, true},       // c = 2.061
        {69.9, 2.05, false},
        {70.0, 2.0, false},       // c = 2.05
        {70.0, 2.1, true},
    };
    for (const auto &c : cases) {
        const double ustar = c.re * nu / d;
        const double ct = yang_sand_concentration(c.v_over_w * w, 0.001, ustar, w, d, nu);
        EXPECT_EQ(ct > 0.0, c.moves) << c.re << " " << c.v_over_w;
    }
}

// One erodible trapezoid link of three nodes, the network's outlet, with a wash
// class (0.01 mm) and a sand class (0.5 mm).
struct erodible_link : ::testing::Test {
    model_state s;
    void SetUp() override {
        clear_error_state();
        routing_test::trapezoid_link(s, 3, 10.0, 2.0, 1.0, 0.03, 0.002, 10.0, 0.5);
        channel_network &net = s.channels;
        net.link_type[1] = link_trapezoid_erode;
        net.ds_link[1] = 0;
        s.cell_count = 3;
        sediment_test::make_record(s, {0.01, 0.5}, {2.65, 2.65}, {0.5, 0.5}, 0.0625, 0.0);
        channel_work &cw = s.chan;
        for (array_3d<double> *a : {&cw.ch_sand_vol, &cw.ch_wash_vol, &cw.qlat_sed, &cw.qlat_tot_sed})
            alloc_3d_double(*a, 3, 1, 2);
        alloc_2d_double(cw.new_bel, 3, 1, "new_bel");
        for (int n = 1; n <= 3; ++n) {
            net.qp[n][1] = 1.0;
            cw.ch_sand_vol[n][1][0] = 1000.0;
        }
    }
    double store(int n) { return s.chan.ch_sand_vol[n][1][0]; }
    double total_sand() { return store(1) + store(2) + store(3); }
};

TEST_F(erodible_link, ACapacityAboveTheStoreMovesTheWholeStore) {
    s.chan.ch_sand_vol[1][1][0] = 1e-7;
    const double before = total_sand();
    channel_sediment_transport(s, 60.0, 10.0);
    EXPECT_EQ(store(1), 0.0);
    double out = 0.0;
    for (int k = 0; k <= 1; ++k) out += s.sediment.outlet_sand_rate[k] * 60.0;
    EXPECT_GT(out, 0.0);
    EXPECT_NEAR(total_sand() + out, before, 1e-9 * before);
}

TEST_F(erodible_link, NegativeFlowMovesSandUpstream) {
    channel_network &net = s.channels;
    net.qp[1][1] = 0.0;
    net.qp[2][1] = -1.0;
    net.qp[3][1] = -1.0;
    const double before = total_sand();
    channel_sediment_transport(s, 60.0, 10.0);
    // Node 2 takes sand from node 3; node 1, without flow, keeps its own.
    EXPECT_GT(store(2), 1000.0);
    EXPECT_EQ(store(1), 1000.0);
    // The outlet always moves its own store out, whatever the sign of its flow.
    const double out = (s.sediment.outlet_sand_rate[0] + s.sediment.outlet_sand_rate[1]) * 60.0;
    EXPECT_GT(out, 0.0);
    EXPECT_NEAR(total_sand() + out, before, 1e-9 * before);
}

TEST_F(erodible_link, ADryOutletReportsNoWash) {
    channel_network &net = s.channels;
    s.chan.ch_wash_vol[3][1][1] = 2.0;
    s.chan.ch_wash_vol[3][1][0] = 2.0;
    net.yp[3][1] = net.bel[3][1];
    channel_sediment_transport(s, 60.0, 10.0);
    EXPECT_EQ(s.sediment.outlet_wash_rate[0], 0.0);
    EXPECT_EQ(s.sediment.outlet_wash_rate[1], 0.0);
    // A dry node turns its wash into bed sand.
    EXPECT_EQ(s.chan.ch_wash_vol[3][1][1], 0.0);
}

TEST_F(erodible_link, WaterRunningBackCarriesNoWashOut) {
    s.channels.qp[3][1] = -1.0;
    s.chan.ch_wash_vol[3][1][1] = 2.0;
    channel_sediment_transport(s, 60.0, 10.0);
    EXPECT_EQ(s.sediment.outlet_wash_rate[1], 0.0);
    EXPECT_EQ(s.chan.ch_wash_vol[3][1][1], 2.0);
}

TEST_F(erodible_link, OutletWashLeavesWithTheFractionOfTheReachThatFlowsOut) {
    // f = Q T / (dx A), A = b h + z h^2 = 1.25 m2: 1 * 5 / (10 * 1.25) = 0.4.
    s.chan.ch_wash_vol[3][1][1] = 2.0;
    channel_sediment_transport(s, 5.0, 10.0);
    EXPECT_NEAR(s.sediment.outlet_wash_rate[1], 0.8 / 5.0, 1e-12);
    EXPECT_NEAR(s.sediment.outlet_wash_rate[0], 0.8 / 5.0, 1e-12);
}

TEST_F(erodible_link, SandAndWashAreConservedOverManyStepsWithLateralInput) {
    const double T = 30.0;
    const double initial = total_sand();
    double lateral_sand = 0.0, lateral_wash = 0.0, left_sand = 0.0, left_wash = 0.0;
    for (int step = 1; step <= 50; ++step) {
        for (int n = 1; n <= 3; ++n) {
            s.chan.qlat_sed[n][1][1] = 0.01 * n;
            s.chan.qlat_sed[n][1][2] = 0.02;
            lateral_wash += 0.01 * n;
            lateral_sand += 0.02;
        }
        s.step_number = step;
        channel_sediment_transport(s, T, 10.0);
        ASSERT_EQ(error_record.fatal, 0);
        for (int k = 0; k <= 1; ++k) left_sand += s.sediment.outlet_sand_rate[k] * T;
        left_wash += s.sediment.outlet_wash_rate[1] * T;
        book_channel_sediment_step(s, T);
    }
    const double wash = channel_wash_store(s);
    EXPECT_NEAR(initial + lateral_sand, total_sand() + left_sand, 1e-9 * initial);
    EXPECT_NEAR(lateral_wash, wash + left_wash, 1e-9 * lateral_wash);
    EXPECT_NEAR(s.sediment.outlet_sand_total, left_sand, 1e-9 * left_sand);
    EXPECT_NEAR(s.sediment.outlet_wash_total, left_wash, 1e-9 * left_wash);
    EXPECT_NEAR(wash, s.chan.ch_wash_vol[1][1][0] + s.chan.ch_wash_vol[2][1][0] + s.chan.ch_wash_vol[3][1][0], 1e-12);
}

TEST_F(erodible_link, FluxTableRowsReachTheFlatNodeRows) {
    // Without a sediment-flux output the table is never made.
    channel_sediment_transport(s, 60.0, 10.0);
    EXPECT_TRUE(s.chan.qsmax.empty());
    s.project.max_sed_flux.given = 1;
    s.cell_count = 2;
    channel_sediment_transport(s, 60.0, 10.0);
    // max(N, (L + 1) S) + 1 rows: max(2, 6) + 1.
    ASSERT_FALSE(s.chan.qsmax.empty());
    EXPECT_EQ(s.chan.qsmax.rows(), 7u);
    s.non_ortho_channels = 1;
    channel_sediment_transport(s, 60.0, 10.0);
    // Row l S + n of the outlet holds its sand rate (column 0).
    EXPECT_GT(s.chan.qsmax[6][0], 0.0);
}

TEST_F(erodible_link, ANotANumberWashStopsTheRun) {
    s.chan.ch_wash_vol[2][1][0] = std::nan("");
    channel_sediment_transport(s, 60.0, 10.0);
    EXPECT_EQ(error_record.fatal, 1);
    clear_error_state();
}

TEST_F(erodible_link, BedLevelFollowsTheStore) {
    channel_network &net = s.channels;
    for (int n = 1; n <= 3; ++n) net.max_eros[n][1] = 0.5;
    s.sediment.porosity = 0.4;
    for (int n = 1; n <= 3; ++n) net.qp[n][1] = 0.0;
    // Full layer (1 - p) L b dx = 6 m3; half of it leaves the bed half a layer low.
    s.chan.ch_sand_vol[1][1][0] = 3.0;
    // A store of 12 m3 over a 10 m cell: A_s = 2 m2, z = 1: (sqrt(4 + 8) - 2) / 2.
    s.chan.ch_sand_vol[2][1][0] = 12.0;
    channel_sediment_transport(s, 60.0, 10.0);
    EXPECT_NEAR(s.chan.new_bel[1][1], net.bel[1][1] - 0.25, 1e-12);
    EXPECT_NEAR(s.chan.new_bel[2][1], net.bel[2][1] + (std::sqrt(12.0) - 2.0) / 2.0, 1e-12);
}

TEST_F(erodible_link, BreakPointLookupInterpolatesAndClampsToTheTable) {
    channel_network &net = s.channels;
    net.table_count = 1;
    alloc_1d_double(net.table_dy, 1);
    alloc_1d_int(net.table_interp, 1);
    alloc_2d_double(net.xarea, 1, 2, "xarea");
    alloc_2d_double(net.xp, 1, 2, "xp");
    net.table_dy[1] = 0.5;
    net.table_interp[1] = 2;
    net.xarea[1][1] = 1.0;
    net.xarea[1][2] = 3.0;
    net.xp[1][1] = 4.0;
    net.xp[1][2] = 6.0;
    net.table_num[1][1] = 1;
    const struct {
        double h, area, perimeter;
    } cases[] = {{0.25, std::pow(0.5, 5.0 / 3.0), 4.0 * std::pow(0.5, 5.0 / 3.0)},
                 {0.75, 2.0, 5.0},
                 {1.0, 3.0, 6.0},  // the top level itself, read inside the table
                 {1.5, 5.0, 8.0}};
    for (const auto &c : cases) {
        double a = 0.0, p = 0.0;
        EXPECT_EQ(channel_sediment_interp(net, 1, 1, c.h, a, p), 0);
        EXPECT_NEAR(a, c.area, 1e-12) << c.h;
        EXPECT_NEAR(p, c.perimeter, 1e-12) << c.h;
    }
    double a = 1.0, p = 1.0;
    net.table_num[1][1] = 0;
    EXPECT_EQ(channel_sediment_interp(net, 1, 1, 0.75, a, p), -1);
    EXPECT_EQ(a, 0.0);
}

}  // namespace
