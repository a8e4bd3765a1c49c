// Lateral inflow from overland cells to channel nodes, overbank exchange, the
// cell-to-node table, the running maximum and the channel seepage.
#include <gtest/gtest.h>

#include <cmath>

#include "model/channel/channel_seepage.h"
#include "model/channel/lateral_inflow.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "routing_network.h"

namespace {

using routing_test::trapezoid_link;

// One link of three nodes at bed 10 m, each node in its own cell (cells 1..3),
// cells of 100 m with ground 11 m.
void three_cells(model_state &s, double y0) {
    trapezoid_link(s, 3, 100.0, 4.0, 1.0, 0.03, 0.0, 10.0, y0);
    s.cell_count = 3;
    chan_make(s.depth, 3, "depth");
    chan_make(s.elevation, 3, "elevation");
    grid_stream_data &g = s.channels.gst;
    g.cell_count = 3;
    chan_make(g.entry_count, 3, "n");
    chan_make(g.gst_link, 3, 1, "l");
    chan_make(g.gst_node, 3, 1, "n");
    chan_make(g.gst_gnum, 3, 1, "c");
    chan_make(g.gst_pct, 3, 1, "p");
    chan_make(g.gst_Vlat, 3, 1, "v");
    for (int i = 1; i <= 3; ++i) {
        g.entry_count[i] = 1;
        g.gst_link[i][1] = 1;
        g.gst_node[i][1] = i;
        g.gst_gnum[i][1] = i;
        g.gst_pct[i][1] = 1.0;
        s.elevation[i] = 11.0;
        for (int k = 1; k <= 3; ++k) s.channels.bankfull_dep[k][1] = 1.0;
    }
}

TEST(LateralInflow, WeirInflowOverTheBank) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.2);
    s.depth[2] = 0.05;
    const double q = 2.0 * 100.0 * (2.0 / 3.0) * std::sqrt(6.54) * std::pow(0.05, 1.5);
    EXPECT_NEAR(bank_weir_flow(0.05, 100.0, 1.0), q, 1e-12);
    const double moved = lateral_inflow(s, 100.0, 60.0);
    EXPECT_NEAR(moved, q * 60.0, 1e-9);
    EXPECT_NEAR(s.chan.qlat[2][1], q / 100.0, 1e-12);
    EXPECT_NEAR(s.depth[2], 0.05 - q * 60.0 / 1e4, 1e-12);
    EXPECT_DOUBLE_EQ(s.chan.qlat[1][1], 0.0);
}

TEST(LateralInflow, DryTinyNegativeAndEmptyingCells) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.2);
    s.depth[1] = 0.0;
    s.depth[2] = -0.000005;
    s.depth[3] = 0.02;  // 0.2 m3 on a 10 m cell: less than one step of weir flow
    const double moved = lateral_inflow(s, 10.0, 60.0);
    EXPECT_DOUBLE_EQ(s.depth[1], 0.0);
    EXPECT_DOUBLE_EQ(s.depth[2], 0.0);
    EXPECT_DOUBLE_EQ(s.depth[3], 0.0);
    EXPECT_NEAR(moved, 0.02 * 100.0, 1e-12);
    EXPECT_NEAR(s.chan.qlat[3][1] * 100.0 * 60.0, 2.0, 1e-12);
}

TEST(LateralInflow, MarkedNegativeDepthMovesNothing) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.2);
    s.depth[1] = -0.01;
    EXPECT_DOUBLE_EQ(lateral_inflow(s, 10.0, 60.0), 0.0);
    EXPECT_DOUBLE_EQ(s.depth[1], -0.01);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST(LateralInflow, SubmergenceFactor) {
    EXPECT_DOUBLE_EQ(submergence_factor(0.75), 1.0);
    EXPECT_DOUBLE_EQ(submergence_factor(0.5), 1.0);
    EXPECT_NEAR(submergence_factor(1.0), 0.0, 1e-12);
    EXPECT_NEAR(submergence_factor(0.875), 1.0 - 1024.0 * std::pow(0.125, 5.0), 1e-12);
}

TEST(LateralInflow, OverbankFlowOntoADryCellKeepsVolume) {
    clear_error_state();
    model_state s;
    three_cells(s, 1.3);  // 0.3 m above the bank top at 11 m
    s.overbank_flow = 1;
    const double d = 0.3;
    const double q = std::sqrt(6.54 * d) * (2.0 * 100.0 / 3.0) * d;
    const double moved = lateral_inflow(s, 100.0, 5.0);
    // Three cells each take the weir flow of 0.3 m head from their node.
    EXPECT_NEAR(moved, -3.0 * q * 5.0, 1e-9);
    EXPECT_NEAR(s.depth[1], q * 5.0 / 1e4, 1e-12);
    EXPECT_NEAR(s.chan.qlat[1][1], -q / 100.0, 1e-12);
}

TEST(LateralInflow, OverbankOntoCellLimitedByWaterAboveBank) {
    clear_error_state();
    model_state s;
    three_cells(s, 1.01);  // 1 cm above the bank
    s.overbank_flow = 1;
    const double moved = lateral_inflow(s, 100.0, 3600.0);
    // The node can give at most the water above the bank: (A(1.01) - A(1.0)) dx.
    const double a_hi = 4.0 * 1.01 + 1.01 * 1.01, a_lo = 4.0 * 1.0 + 1.0;
    EXPECT_NEAR(moved, -3.0 * (a_hi - a_lo) * 100.0, 1e-9);
}

TEST(Cconnect, SkipsCellsOutsideTheGrid) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.2);
    chan_make(s.chan.con_vect, 3, 1, "con_vect");
    chan_make(s.chan.cell_link, 3, "cell_link");
    chan_make(s.chan.cell_node, 3, "cell_node");
    for (int c = 1; c <= 3; ++c) {
        s.chan.cell_link[c] = 1;
        s.chan.cell_node[c] = 4 - c;
    }
    s.channels.gst.gst_gnum[2][1] = 99;  // beyond the cell count
    cconnect(s);
    EXPECT_EQ(s.chan.con_vect[3][1], 1);
    EXPECT_EQ(s.chan.con_vect[2][1], 0);
    EXPECT_EQ(s.chan.con_vect[1][1], 3);
}

TEST(TrackMax, RaisesOnlyLowerMaximaOfTheDepths) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.2);
    s.chan.yp_max_flood[1][1] = 50.0;
    s.chan.yp_max_flood[3][1] = 0.1;
    track_max_channel(s);
    EXPECT_DOUBLE_EQ(s.chan.yp_max_flood[1][1], 50.0);
    // The maximum is a depth (surface less bed), not the water-surface elevation.
    EXPECT_NEAR(s.chan.yp_max_flood[2][1], s.channels.yp[2][1] - s.channels.bel[2][1], 1e-12);
    EXPECT_LT(s.chan.yp_max_flood[2][1], s.channels.bel[2][1]);
    // A falling depth leaves the maximum where it was.
    const double peak = s.chan.yp_max_flood[2][1];
    s.chan.chan_depth[2][1] = 0.5 * peak;
    track_max_channel(s);
    EXPECT_DOUBLE_EQ(s.chan.yp_max_flood[2][1], peak);
}

TEST(ChannelSeepage, DeepWaterTableLoss) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.5);
    s.stream_loss = 1;
    chan_make(s.chan.qriv, 3, 1, "qriv");
    chan_make(s.chan.gst_qriv, 3, 1, "gst_qriv");
    for (int k = 1; k <= 3; ++k) {
        s.channels.Krb[k][1] = 3.6;  // cm/h
        s.channels.Mrb[k][1] = 1.0;
    }
    s.chan.chan_depth[3][1] = 1e-6;  // counts as dry
    EXPECT_EQ(stream_aquifer_exchange(s), 2);
    // Loss K / 100 per metre of wetted perimeter: 0.001 / 100 * (4 + 2 * 0.5).
    EXPECT_NEAR(s.chan.qriv[1][1], -1e-5 * 5.0, 1e-15);
    EXPECT_DOUBLE_EQ(s.chan.qriv[3][1], 0.0);
}

TEST(ChannelSeepage, AllDryGivesNothing) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.0);
    s.stream_loss = 1;
    chan_make(s.chan.qriv, 3, 1, "qriv");
    s.chan.qriv[1][1] = 7.0;
    EXPECT_EQ(stream_aquifer_exchange(s), 0);
    EXPECT_DOUBLE_EQ(s.chan.qriv[1][1], 0.0);
}

TEST(ChannelSeepage, WaterTableAboveTheSurfaceFeedsTheChannel) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.5);
    s.stream_loss = 1;
    s.groundwater_on = 1;
    chan_make(s.water_table_elevation, 3, "wt");
    chan_make(s.chan.qriv, 3, 1, "qriv");
    for (int k = 1; k <= 3; ++k) {
        s.channels.Krb[k][1] = 3.6;
        s.channels.Mrb[k][1] = 2.0;
        s.water_table_elevation[k] = 10.0;  // at the bed: deep-loss rule
    }
    s.water_table_elevation[2] = 11.5;  // 1 m above the water surface
    EXPECT_EQ(stream_aquifer_exchange(s), 1);
    // (H - wse) K / t P in m2/s, wetted to the water table: P = 4 + 2 * 1.5 m,
    // K = 3.6 cm/h = 1e-5 m/s, t = 2 m.
    EXPECT_NEAR(s.chan.qriv[2][1], 1.0 * (1e-5 / 2.0) * 7.0, 1e-17);
    EXPECT_LT(s.chan.qriv[1][1], 0.0);
}

TEST(ChannelSeepage, RefusesBedWithoutThickness) {
    clear_error_state();
    model_state s;
    three_cells(s, 0.5);
    s.stream_loss = 1;
    s.groundwater_on = 1;
    chan_make(s.water_table_elevation, 3, "wt");
    chan_make(s.chan.qriv, 3, 1, "qriv");
    for (int k = 1; k <= 3; ++k) {
        s.channels.Krb[k][1] = 3.6;
        s.water_table_elevation[k] = 11.0;  // above the bed: the thickness divides
    }
    EXPECT_EQ(stream_aquifer_exchange(s), 0);
    EXPECT_EQ(error_record.fatal, 1);
    clear_error_state();
}

}  // namespace
