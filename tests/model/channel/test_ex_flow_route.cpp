// The explicit routing step on hand-built links: uniform flow at normal depth,
// volume kept through a flood wave and through halved sub-steps, local sub-steps
// of a tree, wave speed in a wide channel, discharge rules, the outlet slope check and the refused limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "model/channel/ex_flow_route.h"
#include "model/channel/link_discharge.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "routing_network.h"

namespace {

using routing_test::channel_volume;
using routing_test::trapezoid_link;

struct run_totals {
    double inflow = 0.0, outflow = 0.0;
};

// Runs steps of dt seconds for the given time with the inflow at node 1 given
// by rate(t).
template <class F>
bool route_for(model_state &s, double seconds, double dt, double c_lim, F rate, run_totals &t) {
    for (double now = 0.0; now < seconds - 1e-9; now += dt) {
        const double q = rate(now);
        s.chan.chan_point_Q[1][1] = q;
        if (ex_flow_route_step(s, dt, c_lim) < 0) return false;
        t.inflow += q * dt;
        t.outflow += s.routed_outflow_volume;
    }
    return true;
}

TEST(RoutingStep, UniformFlowSettlesAtNormalDepth) {
    clear_error_state();
    model_state s;
    // Node spacing and step well inside the explicit scheme's diffusion limit
    // dx^2 / (2 D), D = Q / (2 T S).
    trapezoid_link(s, 30, 500.0, 5.0, 2.0, 0.025, 0.001, 100.0, 0.5);
    run_totals t;
    ASSERT_TRUE(route_for(s, 8.0 * 3600.0, 30.0, 0.9, [](double) { return 20.0; }, t));
    // Normal depth of 20 m3/s: 1.7163 m; the outlet passes the inflow.
    EXPECT_NEAR(s.chan.chan_depth[15][1], 1.7163, 0.002);
    EXPECT_NEAR(s.chan.chan_depth[28][1], 1.7163, 0.002);
    EXPECT_NEAR(s.outlet_discharge, 20.0, 0.05);
}

TEST(RoutingStep, VolumeKeptThroughFloodWave) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 40, 200.0, 5.0, 2.0, 0.03, 0.002, 50.0, 0.2);
    const double v0 = channel_volume(s);
    run_totals t;
    auto hydrograph = [](double now) {
        const double peak = 1800.0;
        return 1.0 + 30.0 * std::exp(-std::pow((now - peak) / 600.0, 2.0));
    };
    ASSERT_TRUE(route_for(s, 3.0 * 3600.0, 30.0, 0.7, hydrograph, t));
    const double v1 = channel_volume(s);
    EXPECT_NEAR(v1 - v0, t.inflow - t.outflow, 1e-8 * t.inflow);
    EXPECT_GT(t.outflow, 0.5 * t.inflow);
}

TEST(RoutingStep, HalvedSubStepsKeepVolume) {
    clear_error_state();
    model_state s;
    // A steep shallow link with a large Courant limit: the first node runs dry
    // within a sub-step, which then is halved.
    trapezoid_link(s, 10, 10.0, 2.0, 1.0, 0.03, 0.01, 20.0, 0.05);
    const double v0 = channel_volume(s);
    run_totals t;
    ASSERT_TRUE(route_for(s, 600.0, 60.0, 50.0, [](double) { return 0.0; }, t));
    EXPECT_EQ(error_record.fatal, 0);
    for (int k = 1; k <= 10; ++k) EXPECT_GE(s.chan.area[k][1], 0.0);
    EXPECT_NEAR(channel_volume(s) - v0, -t.outflow, 1e-9 * v0);
    EXPECT_LT(channel_volume(s), v0);
}

// Shallow steep trees of 15 links (draining to an outlet on its slope, or one that
// passes its inflow through) fed at a leaf, under a Courant limit so large that
// faces ask for more than their nodes hold: no area falls below 0, no water is
// made by lifting beyond rounding, and the network's volume changes by inflow less outflow.
TEST(RoutingStep, TreesAskedForMoreThanTheyHoldKeepVolume) {
    for (const int head_bound : {0, 1}) {
        clear_error_state();
        model_state s;
        routing_test::tree_network(s, 15, 5, 10.0, 0.01, 0.05);
        s.head_bound = head_bound;
        const double v0 = channel_volume(s);
        run_totals t;
        ASSERT_TRUE(route_for(s, 1200.0, 60.0, 50.0, [](double now) { return now < 300.0 ? 2.0 : 0.0; }, t));
        EXPECT_EQ(error_record.fatal, 0);
        for (int l = 1; l <= 15; ++l)
            for (int k = 1; k <= 5; ++k) EXPECT_GE(s.chan.area[k][l], 0.0) << head_bound << " " << l << " " << k;
        EXPECT_LT(s.chan.negative_area_volume, 1e-12 * v0) << head_bound;  // rounding at most
        EXPECT_NEAR(channel_volume(s) - v0, t.inflow - t.outflow, 1e-9 * (v0 + t.inflow)) << head_bound;
        EXPECT_GT(t.outflow, 0.2 * v0) << head_bound;
    }
}

// A tree of 63 links whose outlet reaches need far shorter sub-steps than its
// headwaters, fed 2 l/s per metre for 4 h, with local sub-steps and with one
// sub-step for all: both gather the inflow (50.4 m3/s by hand) within 1 %, keep
// volume by hand, leave smooth water surfaces and give the same outlet flow
// (within 1.5 %, on the steep rising limb); no join swings, so the discharge
// never falls downstream along a link more than with one sub-step for all.
TEST(RoutingStep, LocalSubStepsOfATreeGatherItsInflowLikeOneSubStepForAll) {
    double outlet[2][240], drop[2] = {0.0, 0.0};
    for (const int one : {0, 1}) {
        clear_error_state();
        model_state s;
        routing_test::tree_network(s, 63, 5, 80.0, 0.002, 0.5);
        channel_network &net = s.channels;
        net.one_sub_step_for_all = one == 1;
        const double v0 = channel_volume(s);
        double in = 0.0, out = 0.0;
        bool levels = false;
        for (int k = 0; k < 240; ++k) {
            for (int l = 1; l <= 63; ++l)
                for (int n = 1; n <= 5; ++n) s.chan.qlat[n][l] = 0.002;
            ASSERT_EQ(ex_flow_route_step(s, 60.0, 0.45), 0);
            in += 63 * 5 * 80.0 * 0.002 * 60.0;
            out += s.routed_outflow_volume;
            outlet[one][k] = s.outlet_discharge;
            for (int l = 1; l <= 63; ++l)
                for (int n = 1; n <= 4; ++n) drop[one] = std::max(drop[one], net.qp[n][l] - net.qp[n + 1][l]);
            for (std::size_t l = 1; l < net.link_level.size(); ++l) levels = levels || net.link_level[l] > 0;
        }
        EXPECT_EQ(levels, one == 0);
        EXPECT_NEAR(channel_volume(s) - v0, in - out, 1e-9 * in) << one;
        EXPECT_NEAR(s.outlet_discharge, 50.4, 0.504) << one;
        for (int l = 1; l <= 63; ++l)
            for (int n = 2; n <= 4; ++n)
                EXPECT_LT(std::fabs(net.yp[n - 1][l] - 2.0 * net.yp[n][l] + net.yp[n + 1][l]), 0.05) << l << " " << n;
    }
    for (int k = 0; k < 240; ++k) EXPECT_NEAR(outlet[0][k], outlet[1][k], 0.015 * outlet[1][k] + 0.01) << k;
    EXPECT_LT(drop[0], 1.1 * drop[1] + 0.1);
}

TEST(RoutingStep, WaveTravelsAtFiveThirdsOfVelocity) {
    clear_error_state();
    model_state s;
    // Wide rectangle: kinematic celerity 5/3 of the flow velocity.
    const double b = 200.0, n = 0.03, S = 0.001, y0 = 1.0;
    trapezoid_link(s, 100, 1000.0, b, 0.0, n, S, 200.0, y0);
    const double R = b * y0 / (b + 2 * y0);
    const double q0 = (1.0 / n) * b * y0 * std::pow(R, 2.0 / 3.0) * std::sqrt(S);
    const double v = q0 / (b * y0);
    run_totals t;
    ASSERT_TRUE(route_for(s, 7200.0, 30.0, 0.9, [&](double) { return q0; }, t));
    const double base = s.chan.chan_depth[50][1];
    EXPECT_NEAR(base, y0, 0.01);
    // A small rise of the inflow; time when it is half-way at two stations.
    const double rise = 0.05 * q0;
    double t1 = -1.0, t2 = -1.0;
    const int k1 = 20, k2 = 60;
    const double d1 = s.chan.chan_depth[k1][1], d2 = s.chan.chan_depth[k2][1];
    const double dy = std::pow(1.05, 0.6) * y0 - y0;  // depth rise of 5 % more flow
    for (double now = 0.0; now < 20.0 * 3600.0 && t2 < 0.0; now += 30.0) {
        s.chan.chan_point_Q[1][1] = q0 + rise;
        ASSERT_GE(ex_flow_route_step(s, 30.0, 0.9), 0);
        if (t1 < 0.0 && s.chan.chan_depth[k1][1] - d1 > 0.5 * dy) t1 = now;
        if (t2 < 0.0 && s.chan.chan_depth[k2][1] - d2 > 0.5 * dy) t2 = now;
    }
    ASSERT_GT(t1, 0.0);
    ASSERT_GT(t2, t1);
    const double celerity = (k2 - k1) * 1000.0 / (t2 - t1);
    EXPECT_NEAR(celerity / v, 5.0 / 3.0, 0.12);
}

TEST(RoutingStep, ZeroStepOnlyClearsLateralInflow) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 5, 100.0, 5.0, 2.0, 0.025, 0.001, 10.0, 0.5);
    s.chan.qlat[3][1] = 0.2;
    const double v0 = channel_volume(s);
    ASSERT_EQ(ex_flow_route_step(s, 0.0, 0.9), 0);
    EXPECT_DOUBLE_EQ(s.chan.qlat[3][1], 0.0);
    EXPECT_DOUBLE_EQ(s.routed_outflow_volume, 0.0);
    EXPECT_DOUBLE_EQ(channel_volume(s), v0);
}

TEST(RoutingStep, LateralInflowEntersTheChannel) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 5, 100.0, 5.0, 2.0, 0.025, 0.001, 10.0, 0.3);
    const double v0 = channel_volume(s);
    s.chan.qlat[2][1] = 0.01;  // m2/s over 100 m: 1 m3/s
    ASSERT_EQ(ex_flow_route_step(s, 60.0, 0.9), 0);
    EXPECT_NEAR(channel_volume(s) - v0, 60.0 - s.routed_outflow_volume, 1e-9);
}

TEST(RoutingStep, PipeOutletFlowEntersItsNodeAndIsBooked) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 10, 100.0, 5.0, 2.0, 0.025, 0.001, 10.0, 0.3);
    // Super-junction 2 discharges 1.5 m3/s into node 4; junction 1 is no outlet.
    s.superlinks.num_junctions = 2;
    alloc_1d_int(s.chan.outlet_node, 2);
    alloc_1d_int(s.chan.outlet_link, 2);
    alloc_1d_double(s.chan.outlet_flow, 2);
    s.chan.outlet_node[2] = 4;
    s.chan.outlet_link[2] = 1;
    s.chan.outlet_flow[2] = 1.5;
    s.chan.outlet_flow[1] = 9.0;  // no channel node: ignored
    const double v0 = channel_volume(s);
    double out = 0.0;
    for (int n = 0; n < 10; ++n) {
        ASSERT_EQ(ex_flow_route_step(s, 60.0, 0.9), 0);
        out += s.routed_outflow_volume;
    }
    EXPECT_NEAR(s.chan.pipe_outlet_volume, 1.5 * 600.0, 1e-9);
    EXPECT_NEAR(channel_volume(s) - v0, 1.5 * 600.0 - out, 1e-8);
}

TEST(RoutingStep, RefusesCourantLimitAndNegativeOutletSlope) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 5, 100.0, 5.0, 2.0, 0.025, 0.001, 10.0, 0.3);
    EXPECT_EQ(ex_flow_route_step(s, 60.0, 0.0), -1);
    EXPECT_EQ(error_record.fatal, 1);
    clear_error_state();
    s.channels.bel[5][1] = s.channels.bel[4][1] + 0.1;
    s.channels.yp[5][1] = s.channels.bel[5][1] + 0.3;
    EXPECT_EQ(ex_flow_route_step(s, 60.0, 0.9), -1);
    EXPECT_EQ(error_record.fatal, 1);
    clear_error_state();
}

TEST(LinkDischarge, EqualSurfacesGiveNoFlowAndFlatOutletNone) {
    clear_error_state();
    model_state s;
    trapezoid_link(s, 4, 100.0, 5.0, 2.0, 0.025, 0.0, 10.0, 0.5);
    discharge_arrays a{&s.chan.chan_depth, &s.chan.conv, &s.channels.qp};
    ASSERT_EQ(channel_outlet_and_structures(s, a), 0);
    for (int k = 1; k <= 4; ++k) EXPECT_DOUBLE_EQ(s.channels.qp[k][1], 0.0);
    // A water surface falling by 0.1 m over 100 m: Q = K sqrt(0.001); the
    // reverse slope takes the lower node's conveyance.
    s.chan.chan_depth[2][1] = 0.4;
    ASSERT_EQ(channel_outlet_and_structures(s, a), 0);
    EXPECT_NEAR(s.channels.qp[1][1], s.chan.conv[1][1] * std::sqrt(0.001), 1e-12);
    EXPECT_NEAR(s.channels.qp[2][1], -s.chan.conv[3][1] * std::sqrt(0.001), 1e-12);
}

}  // namespace
