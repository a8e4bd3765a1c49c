// The alternating-direction explicit schemes: hand-computed face discharges, the
// sweep check and its edge values, the halving of the sub-step down to its floor,
// still water, a closed flat basin, the outlet drain and the mass balance of one
// call of each scheme, lakes and stream cells.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_boundaries.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

class OverlandAde : public overland_test {
protected:
    overland_grid grid() {
        overland_grid g;
        EXPECT_TRUE(overland_grid_of(s, g));
        return g;
    }
    row_ref<const double> depths() { return {s.depth.data(), s.depth.last()}; }
};

TEST_F(OverlandAde, FaceDischargeTakesTheFullDepthDownhillAndTheDepthAboveRetentionUphill) {
    // Cell 1 above cell 2 by 0.1 m over 10 m, retention 0.002 m.
    make_grid(s, 1, 2, 10.0, [](int, int c) { return c == 1 ? 100.1 : 100.0; }, 0.04, 0.002);
    overland_grid g = grid();
    s.depth[1] = 0.05;
    s.depth[2] = 0.01;
    ade_sweep_b(g, depths(), 1.0);
    const double sf = (100.15 - 100.01) / 10.0;
    EXPECT_NEAR(s.discharge_x[1], (1 / 0.04) * std::pow(0.048, 2.0 / 3.0) * std::sqrt(sf) * 0.05 * 10.0,
                1e-12);
    // Reversed: water on cell 2 standing above cell 1 flows back with d^(5/3) and the
    // roughness of cell 1.
    s.depth[1] = 0.0;
    s.depth[2] = 0.3;
    ade_sweep_b(g, depths(), 1.0);
    const double sr = (100.3 - 100.1) / 10.0;
    EXPECT_NEAR(s.discharge_x[1], -(1 / 0.04) * std::pow(0.298, 5.0 / 3.0) * std::sqrt(sr) * 10.0, 1e-12);
}

TEST_F(OverlandAde, WithoutRetentionBothDirectionsAreTheManningFaceDischarge) {
    make_grid(s, 2, 1, 20.0, [](int r, int) { return r == 1 ? 10.0 : 10.2; }, 0.05);
    overland_grid g = grid();
    s.depth[1] = 0.4;  // level 10.4 above 10.25
    s.depth[2] = 0.05;
    ade_sweep_a(g, depths(), 1.0);
    const double sf = 0.15 / 20.0;
    EXPECT_NEAR(s.discharge_y[1], std::pow(0.4, 5.0 / 3.0) * std::sqrt(sf) * 20.0 / 0.05, 1e-12);
    s.depth[1] = 0.05;  // level 10.05 below 10.25
    ade_sweep_a(g, depths(), 1.0);
    EXPECT_NEAR(s.discharge_y[1], -std::pow(0.05, 5.0 / 3.0) * std::sqrt(0.2 / 20.0) * 20.0 / 0.05, 1e-12);
}

TEST_F(OverlandAde, EqualWaterSurfacesExchangeNothing) {
    make_grid(s, 1, 2, 10.0, [](int, int c) { return c == 1 ? 100.5 : 100.0; }, 0.04);
    overland_grid g = grid();
    s.depth[1] = 0.25;
    s.depth[2] = 0.75;
    ade_sweep_b(g, depths(), 1.0);
    EXPECT_EQ(s.discharge_x[1], 0.0);
}

TEST_F(OverlandAde, SweepCheckLiftsTinyNegativeDepthsAndStopsAtLargerOnes) {
    make_grid(s, 1, 2, 10.0, [](int, int) { return 1.0; }, 0.04);
    overland_grid g = grid();
    row_ref<const int> left(s.left.data(), s.left.last());
    row_ref<const double> q(s.discharge_x.data(), s.discharge_x.last());

    // A depth of 0.001 that would fall to -5e-7: lifted to zero, the sweep goes on,
    // the water added is booked.
    s.depth[1] = 0.001;
    s.depth[2] = 0.0;
    s.discharge_x[1] = (0.001 + 5e-7) * 100.0;  // m3/s over 1 s and 100 m2
    EXPECT_EQ(ade_check_sweep(g, q, left, 1.0), 0);
    EXPECT_EQ(s.depth[1], 0.0);
    EXPECT_NEAR(s.negative_depth_volume, 5e-7 * 100.0, 1e-12);

    // Falling to -2e-6 fails the sweep.
    s.depth[1] = 0.001;
    s.depth[2] = 0.0;
    s.discharge_x[1] = (0.001 + 2e-6) * 100.0;
    EXPECT_EQ(ade_check_sweep(g, q, left, 1.0), 2);

    // Below a 0.001 s sub-step any negative depth stops with result 1.
    s.depth[1] = 0.0;
    s.discharge_x[1] = 1.0;
    EXPECT_EQ(ade_check_sweep(g, q, left, 0.0005), 1);
}

TEST_F(OverlandAde, SweepCheckAllowsAChangeOfHalfTheDepth) {
    make_grid(s, 1, 2, 10.0, [](int, int) { return 1.0; }, 0.04);
    overland_grid g = grid();
    row_ref<const int> left(s.left.data(), s.left.last());
    row_ref<const double> q(s.discharge_x.data(), s.discharge_x.last());
    s.depth[1] = 0.5;
    s.depth[2] = 1.0;
    s.discharge_x[1] = 0.25 * 100.0;  // exactly half of cell 1's depth leaves; cell 2 gains a quarter
    EXPECT_EQ(ade_check_sweep(g, q, left, 1.0), 0);
    // More than half fails, unless the sub-step is 0.01 s or shorter.
    s.depth[1] = 0.5;
    s.depth[2] = 1.0;
    s.discharge_x[1] = 0.26 * 100.0;
    EXPECT_EQ(ade_check_sweep(g, q, left, 1.0), 2);
    s.depth[1] = 0.5;
    s.depth[2] = 1.0;
    s.discharge_x[1] = 0.26 * 100.0 / 0.008;
    EXPECT_EQ(ade_check_sweep(g, q, left, 0.008), 0);
}

TEST_F(OverlandAde, SubStepHalvesUntilTheSweepsPassAndTheWaterBalances) {
    // A deep pool beside a dry steep cell: the full step fails the check.
    make_grid(s, 1, 3, 10.0, [](int, int c) { return 10.0 - 0.5 * c; }, 0.03, 0.0, 0.05);
    s.depth[1] = 0.8;
    const double before = grid_volume(s);
    const double q = route_overland_ade(s, 30.0);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_GE(q, 0.0);
    EXPECT_NEAR(grid_volume(s) + q * 30.0 - s.negative_depth_volume, before, 1e-12 * before);
    for (int i = 1; i <= 3; ++i) EXPECT_GE(s.depth[at(i)], 0.0);
}

TEST_F(OverlandAde, WaterLiftedInAFailedAttemptIsNotBooked) {
    // One row: a thin film on the steep, smooth cell 1 drains to just below zero in
    // the full step (lifted, 5e-7 m), then cell 3 gains 0.8 of its depth and fails
    // the check. Over two half steps nothing goes below zero, so the call books no
    // lifted water and its balance closes without it.
    make_grid(s, 1, 3, 10.0, [](int, int c) { return c == 1 ? 20.0 : (c == 2 ? 9.0 : 8.9); }, 0.05);
    s.roughness.full()[1] = 0.001;
    const double d1 = 0.0005, d2 = 0.0434, d3 = 0.002;
    const auto start = [&] {
        s.depth[1] = d1;
        s.depth[2] = d2;
        s.depth[3] = d3;
    };
    const double sf = ((20.0 + d1) - (9.0 + d2)) / 10.0;
    const double q1 = (1 / 0.001) * std::pow(d1, 2.0 / 3.0) * std::sqrt(sf) * d1 * 10.0;
    const double dt = (d1 + 5e-7) * 100.0 / q1;
    // The full step alone: cell 1 is lifted (and booked), then the sweep fails at cell 3.
    start();
    overland_grid g = grid();
    ade_sweep_b(g, depths(), dt);
    EXPECT_EQ(ade_check_sweep(g, {s.discharge_x.data(), s.discharge_x.last()}, {s.left.data(), s.left.last()}, dt),
              2);
    EXPECT_EQ(s.depth[1], 0.0);
    EXPECT_NEAR(s.negative_depth_volume, 5e-7 * 100.0, 1e-9);
    // The call: the failed full step's lifting is not booked.
    start();
    s.negative_depth_volume = 0.0;
    const double before = grid_volume(s);
    const double q = route_overland_ade(s, dt);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_GT(s.ade_state.swept_cells, 2 * 3);  // the step was redone
    EXPECT_GT(s.depth[1], 0.0);
    EXPECT_EQ(s.negative_depth_volume, 0.0);
    EXPECT_NEAR(grid_volume(s) + q * dt, before, 1e-13 * before);
}

TEST_F(OverlandAde, SubStepBelowAThousandthOfASecondStopsTheRun) {
    // A failing sweep at every step length: halving from 1 s reaches 0.0009765625 s.
    make_grid(s, 1, 2, 10.0, [](int, int c) { return c == 1 ? 100.0 : 0.0; }, 0.001);
    s.depth[1] = 5.0;
    double q = 0.0;
    const std::string out = printed([&] { q = route_overland_ade(s, 1.0); });
    EXPECT_EQ(q, -1.0);
    EXPECT_EQ(out,
              "The ADE overland routing time step is getting really small\n"
              "less than 1/100 of a second\n"
              "Reduce the model time step by a factor of 2 and try again.\n"
              "Program stopped.\n"
              "\n");  // the reporter's line feed
    EXPECT_EQ(error_record.fatal, 1);
    // The depths are those of the start of the step.
    EXPECT_EQ(s.depth[1], 5.0);
    EXPECT_EQ(s.depth[2], 0.0);
}

TEST_F(OverlandAde, StillWaterOverUnevenGroundStaysStillInBothSchemes) {
    for (int scheme : {2, 3}) {
        make_grid(s, 3, 3, 8.0, [](int r, int c) { return 100.0 + 0.125 * (r + c - 2) + (r == 2 ? 0.25 : 0.0); },
                  0.04);
        s.outlet_slope = 0.0;
        for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] = 101.5 - s.elevation[at(i)];
        for (int step = 0; step < 50; ++step) {
            if (scheme == 2) route_overland_ade(s, 10.0);
            else route_overland_ade_pc(s, 10.0);
        }
        for (int i = 1; i <= s.cell_count; ++i)
            EXPECT_EQ(s.elevation[at(i)] + s.depth[at(i)], 101.5) << "scheme " << scheme << " cell " << i;
    }
}

TEST_F(OverlandAde, ClosedFlatBasinKeepsItsWaterInBothSchemes) {
    for (int scheme : {2, 3}) {
        make_grid(s, 4, 4, 10.0, [](int, int) { return 50.0; }, 0.03);
        s.outlet_slope = 0.0;
        for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] = 0.05 + 0.01 * (i % 3);
        const double before = grid_volume(s);
        double out = 0.0;
        for (int step = 0; step < 2000; ++step) {
            out += scheme == 2 ? route_overland_ade(s, 2.0) : route_overland_ade_pc(s, 2.0);
            s.ade_state.sweep_order = s.ade_state.sweep_order == 1 ? 2 : 1;
        }
        EXPECT_EQ(out, 0.0);
        EXPECT_NEAR(grid_volume(s), before, 1e-9 * before) << "scheme " << scheme;
        const double mean = before / (s.cell_count * 100.0);
        for (int i = 1; i <= s.cell_count; ++i)
            EXPECT_NEAR(s.depth[at(i)], mean, 2.5e-3) << "scheme " << scheme << " cell " << i;
    }
}

TEST_F(OverlandAde, OneCallBalancesGridWaterAndOutletVolumeInBothSchemes) {
    for (int scheme : {2, 3}) {
        make_grid(s, 5, 6, 20.0, [](int r, int c) { return 30.0 - 0.05 * r - 0.03 * c + 0.02 * ((r * c) % 3); },
                  0.035, 0.001, 0.02);
        for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] = 0.002 * (i % 7);
        for (int call = 0; call < 20; ++call) {
            const double before = grid_volume(s);
            const double q = scheme == 2 ? route_overland_ade(s, 10.0) : route_overland_ade_pc(s, 10.0);
            s.ade_state.sweep_order = s.ade_state.sweep_order == 1 ? 2 : 1;
            EXPECT_GE(q, 0.0);
            EXPECT_NEAR(grid_volume(s) + q * 10.0 - s.negative_depth_volume, before, 1e-12 * before + 1e-15)
                << "scheme " << scheme << " call " << call;
            s.negative_depth_volume = 0.0;
        }
    }
}

TEST_F(OverlandAde, PredictorCorrectorDrainsTheOutletOncePerCall) {
    // One cell and its drain: the call takes Q dt from the cell, once.
    make_grid(s, 1, 1, 10.0, [](int, int) { return 5.0; }, 0.05, 0.0, 0.04);
    s.depth[1] = 0.1;
    const double q = std::pow(0.1, 5.0 / 3.0) / 0.05 * std::sqrt(0.04) * 10.0;
    EXPECT_NEAR(route_overland_ade_pc(s, 1.0), q, 1e-12);
    EXPECT_NEAR(s.depth[1], 0.1 - q / 100.0, 1e-12);
}

TEST_F(OverlandAde, OutletDrainNeverTakesMoreThanTheWater) {
    make_grid(s, 1, 1, 10.0, [](int, int) { return 5.0; }, 0.05, 0.0, 0.04);
    s.depth[1] = 0.1;
    EXPECT_NEAR(route_overland_ade(s, 1000.0), 0.1 * 100.0 / 1000.0, 1e-12);
    EXPECT_EQ(s.depth[1], 0.0);
    s.depth[1] = 0.1;
    EXPECT_NEAR(route_overland_ade_pc(s, 1000.0), 0.1 * 100.0 / 1000.0, 1e-12);
    EXPECT_EQ(s.depth[1], 0.0);
}

TEST_F(OverlandAde, LandWaterRunsIntoAnOverlandLakeAndTheLakeBooksIt) {
    // Cell 2 of three is a lake at 99.5 m; cells 1 and 3 are land above it.
    make_grid(s, 1, 3, 10.0, [](int, int c) { return c == 2 ? 99.0 : 100.0; }, 0.04);
    s.outlet_slope = 0.0;
    s.overland_lake_on = 1;
    s.overland_lake_count = 1;
    alloc_1d_int(s.overland_lake_id, 3);
    s.overland_lake_id[2] = 1;
    s.lakes.resize(2);
    s.lakes[1].elevation = 99.5;
    s.depth[1] = 0.02;
    s.depth[3] = 0.02;
    const double land_before = (s.depth[1] + s.depth[3]) * 100.0;
    route_overland_ade(s, 5.0);
    const double land_after = (s.depth[1] + s.depth[3]) * 100.0;
    EXPECT_LT(land_after, land_before);
    EXPECT_NEAR(s.lakes[1].inflow_volume, land_before - land_after, 1e-12);
    EXPECT_EQ(s.depth[2], 0.0);  // the lake cell keeps its depth
}

TEST_F(OverlandAde, LakeAtRestStaysAtRest) {
    // Cells 2 and 3 of four are one lake at 99.5 m over 99 m ground; the dry land
    // cells 1 and 4 stand at 100 m. Nothing may move, however many calls.
    make_grid(s, 1, 4, 10.0, [](int, int c) { return c == 2 || c == 3 ? 99.0 : 100.0; }, 0.04);
    s.outlet_slope = 0.0;
    s.overland_lake_on = 1;
    s.overland_lake_count = 1;
    alloc_1d_int(s.overland_lake_id, 4);
    s.overland_lake_id[2] = s.overland_lake_id[3] = 1;
    s.lakes.resize(2);
    s.lakes[1].elevation = 99.5;
    s.lakes[1].volume = 100.0;
    double outflow = 0.0;
    for (int call = 0; call < 50; ++call) outflow += route_overland_ade(s, 5.0);
    EXPECT_EQ(outflow, 0.0);
    EXPECT_EQ(s.lakes[1].inflow_volume, 0.0);
    EXPECT_EQ(s.lakes[1].elevation, 99.5);
    EXPECT_EQ(s.lakes[1].volume, 100.0);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(s.depth[i], 0.0) << i;
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(OverlandAde, StreamCellTakesLandWaterIntoItsExchangeSums) {
    // Cell 2 holds a channel with its water surface at 99.8 m.
    make_grid(s, 1, 2, 10.0, [](int, int c) { return c == 1 ? 100.0 : 99.0; }, 0.04);
    s.outlet_slope = 0.0;
    s.outlet_cell = 1;
    s.chan_explicit = 1;
    s.non_ortho_channels = 1;
    s.stream_cell_count = 1;
    alloc_1d_int(s.stream_cell_id, 2);
    s.stream_cell_id[2] = 1;
    for (auto *a : {&s.stream_cell_level, &s.stream_net_exchange, &s.stream_inflow_sum, &s.stream_outflow_sum})
        alloc_1d_double(*a, 1);
    s.stream_cell_level[1] = 99.8;
    s.depth[1] = 0.01;
    route_overland_ade(s, 2.0);
    const double lost = (0.01 - s.depth[1]) * 100.0;
    EXPECT_GT(lost, 0.0);
    EXPECT_NEAR(s.stream_inflow_sum[1], lost, 1e-12);
    EXPECT_NEAR(s.stream_net_exchange[1], lost, 1e-12);
    EXPECT_EQ(s.stream_outflow_sum[1], 0.0);
}

}  // namespace
