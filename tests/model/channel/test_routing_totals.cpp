// Volume totals of the routing step: the volume past each hydrograph location,
// the water booked when areas are lifted to 0, the running maximum water surface
// of erodible break-point links and the per-entry base-flow inflow.
#include <gtest/gtest.h>

#include <cmath>

#include "model/channel/ex_flow_route.h"
#include "model/channel/lateral_inflow.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "routing_network.h"

namespace {

using routing_test::trapezoid_link;

double volume_below(const model_state &s, int from) {
    double v = 0.0;
    for (int k = from; k <= s.channels.comp_node_count[1]; ++k)
        v += s.chan.area[k][1] * s.channels.dx[1];
    return v;
}

void two_locations(model_state &s, int node_a, int node_b) {
    s.in_hyd_location_on = 1;
    s.hyd_location_count = 2;
    s.hyd_location_link.assign(4, 0);
    s.hyd_location_node.assign(4, 0);
    s.hyd_location_link[1] = 1;
    s.hyd_location_node[1] = node_a;
    s.hyd_location_link[2] = 1;
    s.hyd_location_node[2] = node_b;
}

TEST(RoutingTotals, HydrographPointVolumesCloseTheBalanceBelowThem) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 20, 200.0, 5.0, 2.0, 0.03, 0.002, 50.0, 0.3);
    two_locations(s, 8, 20);
    const double below0 = volume_below(s, 9);
    double outflow = 0.0, inflow = 0.0;
    for (int step = 0; step < 60; ++step) {
        const double q = step < 20 ? 15.0 : 2.0;
        s.chan.chan_point_Q[1][1] = q;
        ASSERT_GE(ex_flow_route_step(s, 60.0, 0.7), 0);
        outflow += s.routed_outflow_volume;
        inflow += q * 60.0;
    }
    ASSERT_EQ(s.chan.hyd_point_volume.size(), 3u);
    // The discharge of node 8 feeds node 9: what passed it fills nodes 9..20 or
    // left at the outlet.
    const double past = s.chan.hyd_point_volume[1];
    EXPECT_GT(past, 0.1 * inflow);
    EXPECT_NEAR(below0 + past, volume_below(s, 9) + outflow, 1e-9 * inflow);
    // The last node's discharge is the outlet's.
    EXPECT_NEAR(s.chan.hyd_point_volume[2], outflow, 1e-9 * inflow);
}

TEST(RoutingTotals, PointsOffOrOutsideTheNetworkKeepNothing) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 5, 100.0, 3.0, 1.0, 0.03, 0.001, 20.0, 0.4);
    two_locations(s, 3, 9);  // node 9 does not exist
    s.hyd_location_link[2] = 1;
    ASSERT_GE(ex_flow_route_step(s, 60.0, 0.7), 0);
    ASSERT_EQ(s.chan.hyd_point_volume.size(), 3u);
    EXPECT_GT(s.chan.hyd_point_volume[1], 0.0);
    EXPECT_DOUBLE_EQ(s.chan.hyd_point_volume[2], 0.0);

    model_state off;
    trapezoid_link(off, 5, 100.0, 3.0, 1.0, 0.03, 0.001, 20.0, 0.4);
    two_locations(off, 3, 4);
    off.in_hyd_location_on = 0;
    ASSERT_GE(ex_flow_route_step(off, 60.0, 0.7), 0);
    EXPECT_TRUE(off.chan.hyd_point_volume.empty());
}

TEST(RoutingTotals, DrainingLinkBalanceHoldsWithLiftedAreas) {
    clear_error_state();
    model_state s;
    // Steep shallow link draining with a large Courant limit: sub-steps are halved
    // and nodes run dry; water made by lifting areas to 0 is booked.
    trapezoid_link(s, 10, 10.0, 2.0, 1.0, 0.03, 0.01, 20.0, 0.05);
    const double v0 = volume_below(s, 1);
    double outflow = 0.0;
    for (int step = 0; step < 10; ++step) {
        ASSERT_GE(ex_flow_route_step(s, 60.0, 50.0), 0);
        outflow += s.routed_outflow_volume;
    }
    EXPECT_GE(s.chan.negative_area_volume, 0.0);
    EXPECT_LE(s.chan.negative_area_volume, 10 * 10.0 * 1e-8 * 1000.0);
    for (int k = 1; k <= 10; ++k) EXPECT_GE(s.chan.area[k][1], 0.0);
    EXPECT_NEAR(volume_below(s, 1), v0 - outflow + s.chan.negative_area_volume, 1e-12 * v0);
}

TEST(RoutingTotals, ErodibleBreakPointLinksKeepTheirHighestWaterSurface) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 3, 100.0, 3.0, 1.0, 0.03, 0.001, 20.0, 0.5);
    channel_network &net = s.channels;
    net.link_type[1] = link_breakpoint_erode;
    net.erode_index[1] = 1;
    net.erodible_bp_count = 1;
    ASSERT_TRUE(chan_make(net.max_yp, 1, 3, "max_yp"));
    net.max_yp[1][2] = 25.0;
    net.yp[1][1] = 20.7;
    track_max_erodible_levels(s);
    EXPECT_DOUBLE_EQ(net.max_yp[1][1], 20.7);
    EXPECT_DOUBLE_EQ(net.max_yp[1][2], 25.0);  // higher than the surface now
    EXPECT_DOUBLE_EQ(net.max_yp[1][3], net.yp[3][1]);
    // Other link types are left alone.
    net.link_type[1] = link_trapezoid;
    net.yp[1][1] = 30.0;
    track_max_erodible_levels(s);
    EXPECT_DOUBLE_EQ(net.max_yp[1][1], 20.7);
}

TEST(RoutingTotals, BaseFlowEntersAtEveryEntryByItsWeight) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 2, 100.0, 3.0, 1.0, 0.03, 0.001, 20.0, 0.2);
    s.cell_count = 2;
    chan_make(s.depth, 2, "depth");
    chan_make(s.elevation, 2, "elevation");
    grid_stream_data &g = s.channels.gst;
    g.cell_count = 2;
    chan_make(g.entry_count, 2, "n");
    for (auto *a : {&g.gst_link, &g.gst_node, &g.gst_gnum}) chan_make(*a, 2, 1, "e");
    for (auto *a : {&g.gst_pct, &g.gst_sac_weight, &g.gst_Vlat}) chan_make(*a, 2, 1, "e");
    for (int i = 1; i <= 2; ++i) {
        g.entry_count[i] = 1;
        g.gst_link[i][1] = 1;
        g.gst_node[i][1] = i;
        g.gst_gnum[i][1] = i;
        g.gst_pct[i][1] = 1.0;
        s.elevation[i] = 21.0;
    }
    g.gst_sac_weight[1][1] = 0.25;
    g.gst_sac_weight[2][1] = 0.75;
    s.sac_discharge = 2.0;  // m3/s; the cells are dry
    s.sac_owed_volume = 150.0;  // m3 the stores have given off
    s.sacramento_on = 1;
    const double moved = lateral_inflow(s, 10.0, 60.0);
    EXPECT_NEAR(moved, 2.0 * 60.0, 1e-12);
    EXPECT_NEAR(s.chan.qlat[1][1], 0.5 / 100.0, 1e-15);
    EXPECT_NEAR(s.chan.qlat[2][1], 1.5 / 100.0, 1e-15);
    EXPECT_DOUBLE_EQ(s.depth[1], 0.0);
    EXPECT_NEAR(s.sac_owed_volume, 30.0, 1e-12);
    // The next minute only the 30 m3 still owed arrive, in the same shares.
    s.chan.qlat[1][1] = s.chan.qlat[2][1] = 0.0;
    EXPECT_NEAR(lateral_inflow(s, 10.0, 60.0), 30.0, 1e-12);
    EXPECT_NEAR(s.chan.qlat[2][1], 0.75 * 30.0 / 60.0 / 100.0, 1e-15);
    EXPECT_NEAR(s.water.moved(ledger_node::sacramento_transit, ledger_node::channels), 150.0, 1e-12);

    s.sacramento_on = 0;
    s.chan.qlat[1][1] = s.chan.qlat[2][1] = 0.0;
    EXPECT_DOUBLE_EQ(lateral_inflow(s, 10.0, 60.0), 0.0);
    EXPECT_DOUBLE_EQ(s.chan.qlat[1][1], 0.0);
}

}  // namespace
