// Channel constituent routing on a hand-built uniform channel: the centroid of a
// pulse travels at Q / A, mass is kept through shortened and halved sub-steps,
// decay in still water follows m0 exp(-k t), and the outlet node gives up the
// mass gathered for it and no more.
#include <gtest/gtest.h>

#include <cmath>

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/constituents/channel_routing.h"
#include "model/input/channel_file.h"
#include "model/input/input_readers.h"
#include "model/core/globals.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"

namespace {

constexpr double day = 86400.0;

// One link of `nodes` nodes, spacing dx, flow area a everywhere, one constituent.
void make_channel(model_state &s, int nodes, double dx, double a) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    net.link_count = 1;
    net.max_node_count = nodes;
    ASSERT_TRUE(chan_make(net.link_type, 1, "t") && chan_make(net.node_count, 1, "n") &&
                chan_make(net.comp_node_count, 1, "c") && chan_make(net.dx, 1, "dx") &&
                chan_make(net.ds_link, 1, "ds"));
    net.link_type[1] = 1;
    net.node_count[1] = net.comp_node_count[1] = nodes;
    net.dx[1] = dx;
    ASSERT_TRUE(chan_make(w.area, nodes, 1, "area"));
    for (array_3d<double> *x : {&w.chan_node_conc, &w.chan_node_mass, &w.chan_disp_coef,
                                &w.chan_decay_coef, &w.chan_mass, &w.chan_qlat_mass, &w.chan_gw_mass})
        ASSERT_TRUE(chan_make(*x, 1, nodes, 1, "x"));
    s.cell_count = 1;
    allocate_constituent_arrays(1, s, 1, 0);
    s.constituent_type[1] = 1;
    s.chan_con_trans = 1;
    ASSERT_TRUE(prepare_channel_wq(s));
    for (int n = 1; n <= nodes; ++n) w.area[n][1] = w.wq_previous_area[n][1] = a;
    s.time_tolerance_days = 0.01 / day;
    s.now_days = 2450000.0;
}

void put(model_state &s, int n, double c) {
    s.chan.chan_node_conc[1][n][1] = c;
    s.chan.chan_node_mass[1][n][1] = c * s.chan.area[n][1] * s.channels.dx[1];
}

double total(const model_state &s) {
    double m = 0.0;
    for (int n = 1; n <= s.channels.max_node_count; ++n) m += s.chan.chan_node_mass[1][n][1];
    return m;
}

double centroid(const model_state &s) {
    double m = 0.0, x = 0.0;
    for (int n = 1; n <= s.channels.max_node_count; ++n) {
        m += s.chan.chan_node_mass[1][n][1];
        x += n * s.channels.dx[1] * s.chan.chan_node_mass[1][n][1];
    }
    return x / m;
}

// One due routing interval of dt seconds with discharge q through every face
// (the last face excepted, as at the outlet the mass leaves through the sources).
void route(model_state &s, double dt, double q) {
    s.now_days += dt / day;
    s.channel_constituent_clock.last = s.now_days - dt / day;
    s.channel_constituent_clock.next = s.now_days;
    s.channel_clock.next = s.now_days + dt / day;
    for (int n = 1; n <= s.channels.max_node_count; ++n) s.chan.face_volume[n][1] = q * dt;
    route_channel_constituents(s);
}

TEST(ChannelRouting, PulseCentroidTravelsAtTheMeanVelocity) {
    model_state s;
    make_channel(s, 200, 10.0, 2.0);
    for (int n = 21; n <= 40; ++n) put(s, n, 1.0);
    const double m0 = total(s), x0 = centroid(s);
    for (int i = 0; i < 30; ++i) route(s, 20.0, 1.0);  // Q / A = 0.5 m/s over 600 s
    EXPECT_NEAR(centroid(s) - x0, 300.0, 0.02 * 300.0);
    // Mass is kept but for what the lifting of small undershoots added, which is booked.
    const double lifted = mass_ledger(s, 1).moved(ledger_node::mass_cleanup, ledger_node::channels) * 1000.0;
    EXPECT_LT(lifted, 1e-5 * m0);
    EXPECT_NEAR(total(s), m0 + lifted, 1e-12 * m0);
    EXPECT_EQ(error_record.code, 0);
}

// 200 sub-steps of 0.1 s at Courant 0.5, each with its corrector: a pulse's variance
// grows by Q / A x dx x t as upwind faces spread it (by half with the predictor alone).
TEST(ChannelRouting, EverySubStepOfALongCallRunsTheCorrector) {
    model_state s;
    make_channel(s, 400, 1.0, 1.0);
    for (int n = 21; n <= 40; ++n) put(s, n, 1.0);
    auto variance = [&s] {
        double xx = 0.0;
        for (int n = 1; n <= 400; ++n) xx += n * n * s.chan.chan_node_mass[1][n][1];
        return xx / total(s) - centroid(s) * centroid(s);
    };
    const double v0 = variance();
    route(s, 20.0, 5.0);
    EXPECT_NEAR(variance() - v0, 100.0, 0.01);
}

TEST(ChannelRouting, TinyNodeVolumeForcesHalvedSubStepsAndKeepsTheMass) {
    model_state s;
    make_channel(s, 30, 10.0, 2.0);
    for (int n = 1; n <= 10; ++n) put(s, n, 3.0);
    s.chan.area[12][1] = s.chan.wq_previous_area[12][1] = 0.002;  // 0.02 m3 held
    const double m0 = total(s);
    for (int i = 0; i < 5; ++i) route(s, 20.0, 0.5);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_NEAR(total(s), m0 + mass_ledger(s, 1).moved(ledger_node::mass_cleanup, ledger_node::channels) * 1000.0, 1e-9 * m0);
    for (int n = 1; n <= 30; ++n) EXPECT_GE(s.chan.chan_node_mass[1][n][1], -1e-6) << n;
}

TEST(ChannelRouting, DecayInStillWaterFollowsTheExponential) {
    model_state s;
    make_channel(s, 3, 10.0, 1.0);
    s.constituent_sources_on = 1;
    const double k = 1e-4;
    for (int n = 1; n <= 3; ++n) {
        put(s, n, 2.0);
        s.chan.chan_decay_coef[1][n][1] = k;
    }
    const double m0 = total(s);
    for (int i = 0; i < 100; ++i) {
        channel_constituent_decay(s, 1, 10.0);
        route(s, 10.0, 0.0);
    }
    EXPECT_NEAR(total(s), m0 * std::exp(-k * 1000.0), 0.01 * m0 * std::exp(-k * 1000.0));
    EXPECT_NEAR(mass_ledger(s, 1).moved(ledger_node::channels, ledger_node::transformation) * 1000.0, m0 - total(s), 1e-9 * m0);
}

TEST(ChannelRouting, OutletGivesUpTheGatheredMassAndNoMore) {
    struct row {
        double pending, left, booked;
    };
    // The outlet node holds 2 x 1 x 10 = 20.
    for (const row &r : {row{5.0, 15.0, 5.0}, row{50.0, 0.0, 20.0}}) {
        model_state s;
        make_channel(s, 2, 10.0, 1.0);
        put(s, 2, 2.0);
        s.chan.wq_outlet_pending[1] = r.pending;
        route(s, 10.0, 0.0);
        EXPECT_NEAR(s.chan.chan_node_mass[1][2][1], r.left, 1e-12);
        EXPECT_NEAR(mass_ledger(s, 1).moved(ledger_node::channels, ledger_node::outlet) * 1000.0, r.booked, 1e-9);
    }
}

}  // namespace
