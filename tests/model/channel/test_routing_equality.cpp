// The channel routing step against its reference copy (bench/reference): a long
// link, a tree of short links with floodplain and rectangular sections, a link
// that runs dry and has its sub-steps halved, and a tree whose outlet passes its
// inflow through; the Courant limits split the steps. Both run the same 100 steps
// with lateral and point inflows; the areas, depths, water surfaces, discharges
// and conveyances must agree within 1e-12 relative (1e-15 absolute).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>

#include "bench/reference/ex_flow_route_reference.h"
#include "model/channel/ex_flow_route.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "routing_network.h"

namespace {

struct routing_case {
    const char *name;
    std::function<void(model_state &)> build;
    double dt, c_lim;
    double lateral;  // m2/s at every node, varied along the network and in time
    double head;     // m3/s into the first node of link 1
    int head_bound;
};

void feed(model_state &s, const routing_case &c, int step) {
    const channel_network &net = s.channels;
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= net.comp_node_count[l]; ++n)
        s.chan.qlat[n][l] = c.lateral * (1.0 + 0.5 * std::sin(0.37 * n + 0.11 * l + 0.2 * step));
    s.chan.chan_point_Q[1][1] = c.head * (1.0 + 0.8 * std::sin(0.05 * step));
}

bool near(double a, double b) {
    return std::fabs(a - b) <= 1e-15 || std::fabs(a - b) <= 1e-12 * std::fabs(b);
}

int count_differences(const array_2d<double> &a, const array_2d<double> &b, const channel_network &net) {
    int bad = 0;
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= net.max_node_count; ++n)
        if (!near(a[n][l], b[n][l])) {
            if (bad < 3) std::printf("node %d link %d: %.17g %.17g\n", n, l, a[n][l], b[n][l]);
            ++bad;
        }
    return bad;
}

const routing_case cases[] = {
    {"long link", [](model_state &s) { routing_test::trapezoid_link(s, 2000, 100.0, 5.0, 2.0, 0.03, 0.001, 300.0, 0.6); },
     30.0, 0.5, 0.002, 5.0, 0},
    {"tree", [](model_state &s) { routing_test::tree_network(s, 400, 5, 80.0, 0.002, 0.5); },
     10.0, 0.3, 0.004, 2.0, 0},
    {"drying link", [](model_state &s) { routing_test::trapezoid_link(s, 10, 10.0, 2.0, 1.0, 0.03, 0.01, 20.0, 0.05); },
     60.0, 50.0, 0.0, 0.0, 0},
    {"tree with pass-through outlet", [](model_state &s) { routing_test::tree_network(s, 63, 5, 50.0, 0.003, 0.3); },
     30.0, 0.9, 0.001, 1.0, 1},
};

class RoutingEquality : public ::testing::TestWithParam<int> {};

TEST_P(RoutingEquality, SameStateAsTheReferenceAfterManySteps) {
    {
        const routing_case &c = cases[GetParam()];
        SCOPED_TRACE(c.name);
        clear_error_state();
        model_state now, before;
        c.build(now);
        c.build(before);
        now.head_bound = before.head_bound = c.head_bound;
        // The reference copy steps every link with the network's shortest sub-step.
        now.channels.one_sub_step_for_all = true;
        double out_now = 0.0, out_before = 0.0;
        for (int step = 0; step < 100; ++step) {
        feed(now, c, step);
        feed(before, c, step);
        ASSERT_EQ(ex_flow_route_step(now, c.dt, c.c_lim), 0);
        ASSERT_EQ(reference::ex_flow_route_step(before, c.dt, c.c_lim), 0);
        out_now += now.routed_outflow_volume;
        out_before += before.routed_outflow_volume;
        }
        EXPECT_EQ(error_record.fatal, 0);
        const channel_network &net = now.channels;
        EXPECT_EQ(count_differences(now.chan.area, before.chan.area, net), 0);
        EXPECT_EQ(count_differences(now.chan.chan_depth, before.chan.chan_depth, net), 0);
        EXPECT_EQ(count_differences(now.channels.yp, before.channels.yp, net), 0);
        EXPECT_EQ(count_differences(now.channels.qp, before.channels.qp, net), 0);
        EXPECT_EQ(count_differences(now.chan.conv, before.chan.conv, net), 0);
        EXPECT_TRUE(near(out_now, out_before)) << out_now << " " << out_before;
        EXPECT_TRUE(near(now.chan.negative_area_volume, before.chan.negative_area_volume));
        // The water moved: the comparison is not between two untouched states.
        EXPECT_GT(out_now, 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Networks, RoutingEquality, ::testing::Range(0, 4));

}  // namespace
