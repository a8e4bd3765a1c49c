// Channel lakes carrying a constituent on a hand-built network: a channel into
// a lake that drains through a structure into a second channel. The mass that
// comes in (channel exchange, overland inflow, rain on the lake) equals what is
// stored, what left at the outlet, what decayed and what the aquifer took, to
// 1e-9 of it; the single terms against hand values; the lake's source rules and
// the hand-over of nodes a lake takes over or gives back.
#include <gtest/gtest.h>

#include <cmath>

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/constituents/channel_routing.h"
#include "model/constituents/lake_constituents.h"
#include "model/core/globals.h"
#include "model/input/channel_file.h"
#include "model/input/input_readers.h"
#include "model/core/model_state.h"
#include "model/output/contaminant_summaries.h"

namespace {

constexpr double day = 86400.0;

// Link 1: 3 nodes of 10 m into lake link 2 (lake 1, 100 m3); link 3 a structure
// below the lake; link 4: 2 nodes of 10 m, the outlet. One constituent of type
// 1; every routed node holds 2 m2 of water; the lake lies on cell 1.
void make_network(model_state &s) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    net.link_count = 4;
    net.max_node_count = 3;
    net.lake_count = 1;
    for (array_1d<int> *a : {&net.link_type, &net.node_count, &net.comp_node_count, &net.ds_link,
                             &net.link_lake})
        ASSERT_TRUE(chan_make(*a, 4, "link"));
    ASSERT_TRUE(chan_make(net.dx, 4, "dx"));
    const int type[] = {0, link_trapezoid, link_lake, link_structure, link_trapezoid};
    const int nodes[] = {0, 3, 1, 2, 2};
    for (int l = 1; l <= 4; ++l) {
        net.link_type[l] = type[l];
        net.node_count[l] = net.comp_node_count[l] = nodes[l];
        net.ds_link[l] = l < 4 ? l + 1 : 0;
        net.dx[l] = 10.0;
    }
    net.link_lake[2] = 1;
    net.lakes.resize(2);
    channel_lake &lake = net.lakes[1];
    lake.link = 2;
    lake.volume = lake.initial_volume = 100.0;
    lake.loss = 1;
    lake.search_count = lake.flooded_cells = 1;
    lake.search = {{0, 0}, {1, 1}};
    ASSERT_EQ(alloc_2d_int(s.cell_number_grid, 2, 2), 0);
    s.cell_number_grid[1][1] = 1;
    s.cell_count = 1;
    s.channel_lake_rain_mass.assign(2, 0.0);

    ASSERT_TRUE(chan_make(w.area, 3, 4, "area"));
    for (array_3d<double> *x : {&w.chan_node_conc, &w.chan_node_mass, &w.chan_disp_coef,
                                &w.chan_decay_coef, &w.chan_mass, &w.chan_qlat_mass, &w.chan_gw_mass})
        ASSERT_TRUE(chan_make(*x, 1, 3, 4, "node"));
    for (array_2d<double> *x :
         {&w.lake_conc, &w.lake_mass, &w.lake_decay_coef, &w.lake_chan_inflow_mass,
          &w.lake_ov_inflow_mass, &w.lake_point_mass, &w.lake_decay_mass, &w.lake_precip_mass,
          &w.lake_gw_mass, &w.lake_chan_outflow_mass, &w.lake_chan_exchange_mass})
        ASSERT_TRUE(chan_make(*x, 1, 1, "lake"));
    ASSERT_TRUE(chan_make(w.lake_mass_initial, 1, "initial"));
    allocate_constituent_arrays(1, s, 1, 0);
    s.constituent_type[1] = 1;
    s.chan_con_trans = 1;
    s.lake_loss_flag = 1;
    s.time_tolerance_days = 0.01 / day;
    s.now_days = 2450000.0;
    // The pieces act every 10 s, the length of each interval the tests run.
    s.channel_clock.last = s.channel_constituent_clock.last = s.now_days;
    s.channel_clock.next = s.channel_constituent_clock.next = s.now_days + 10.0 / day;
    sync_constituent_slots(s);
    ASSERT_TRUE(prepare_channel_wq(s));
    for (int l : {1, 4})
        for (int n = 1; n <= nodes[l]; ++n) w.area[n][l] = w.wq_previous_area[n][l] = 2.0;
}

void put_lake(model_state &s, double c) {
    s.chan.lake_conc[1][1] = c;
    s.chan.lake_mass[1][1] = c * s.channels.lakes[1].volume;
    s.chan.lake_mass_initial[1] = s.chan.lake_mass[1][1] / 1000.0;
}

// Both channel constituent pieces over one interval of dt seconds, with face
// volumes q dt through every face of links 1 and 4, into the lake and out of it.
// Returns c Q dt at the outlet node (link 4, node 2) for the interval.
double interval(model_state &s, double dt, double q_in, double q_out) {
    s.now_days += dt / day;
    s.channel_clock.next = s.now_days + dt / day;
    channel_work &w = s.chan;
    for (int n = 1; n <= 3; ++n) w.face_volume[n][1] = q_in * dt;
    w.face_volume[1][3] = w.face_volume[2][3] = q_out * dt;
    w.face_volume[1][4] = q_out * dt;
    // What the channel piece keeps of its last step for the outlet slot.
    s.channel_step_outlet_volume = q_out * dt;
    const double outlet_mass = w.chan_node_conc[1][2][4] * q_out * dt;
    w.face_volume[2][4] = q_out * dt;
    s.channels.lakes[1].volume += (q_in - q_out) * dt;
    step_channel_constituents(s);
    route_channel_constituents(s);
    return outlet_mass;
}

TEST(LakeConstituents, MassThroughAChannelLakeIsKeptWithItsSourcesAndSinks) {
    model_state s;
    make_network(s);
    channel_work &w = s.chan;
    s.constituent_sources_on = 1;  // decay of nodes and lakes
    s.precip_conc[1] = 2.0;
    const double k_lake = 2e-4, k_node = 1e-4;
    w.lake_decay_coef[1][1] = k_lake;
    for (int l : {1, 4})
        for (int n = 1; n <= s.channels.node_count[l]; ++n) w.chan_decay_coef[1][n][l] = k_node;
    put_lake(s, 5.0);  // 500
    for (int n = 1; n <= 3; ++n) {
        w.chan_node_conc[1][n][1] = 1.0;
        w.chan_node_mass[1][n][1] = 20.0;
    }
    const double m0 = 500.0 + 60.0;
    w.wq_channel_mass_initial[1] = 60.0;  // what the routing starts from
    double in = 0.0, c_q_dt = 0.0;
    const double dt = 10.0;
    for (int i = 0; i < 40; ++i) {
        // Sources of the interval: exchange with the land at node 1, overland mass
        // into the lake, 3 m3 of rain on the lake, 0.5 m3 into the aquifer.
        w.chan_qlat_mass[1][1][1] += 3.0;
        w.lake_ov_inflow_mass[1][1] += 1.5;
        s.channel_lake_rain_mass[1] = 3.0;
        w.lake_gw_volume[1] = -0.5;
        in += 3.0 + 1.5 + 6.0;
        if (i == 0) {
            // First interval against hand values: decay at the start concentration
            // and the volume after the channel step (100.1 m3), the aquifer loss
            // at the lake's concentration; inflow at the channel's concentration
            // (1, less its decay) and outflow at the lake's (5, within 1 percent).
            c_q_dt += interval(s, dt, 0.05, 0.04);
            const channel_work::mass_terms r = run_channel_account(s, 1).terms;
            // (The interval in seconds comes from Julian days: 1e-5 relative.)
            EXPECT_NEAR(r.lake_decay * 1000.0, 5.0 * 100.1 * k_lake * dt, 1e-5);
            EXPECT_NEAR(r.lake_groundwater * 1000.0, -0.5 * 5.0, 1e-12);
            EXPECT_NEAR(r.lake_rain * 1000.0, 6.0, 1e-12);
            EXPECT_NEAR(w.lake_chan_inflow_mass[1][1], 0.05 * dt * 1.0, 0.5 * 2e-3);
            EXPECT_NEAR(w.lake_chan_outflow_mass[1][1], 0.04 * dt * 5.0, 0.04 * dt * 5.0 * 0.01);
            continue;
        }
        c_q_dt += interval(s, dt, 0.05, 0.04);
    }
    ASSERT_EQ(error_record.code, 0);
    const channel_work::mass_terms r = run_channel_account(s, 1).terms;
    EXPECT_NEAR(r.lake_rain * 1000.0, 40 * 6.0, 1e-9);
    EXPECT_NEAR(r.lake_overland * 1000.0, 40 * 1.5, 1e-9);
    EXPECT_NEAR(r.exchange * 1000.0, 40 * 3.0, 1e-9);
    EXPECT_LT(r.lake_groundwater, 0.0);
    EXPECT_GT(r.lake_decay, 0.0);
    EXPECT_GT(r.decay, 0.0);
    // The mass out of the outlet is the sum of c Q dt there.
    EXPECT_GT(r.outlet, 0.0);
    EXPECT_NEAR(r.outlet * 1000.0, c_q_dt, 1e-9 * c_q_dt);
    // The lake link's own node carries nothing; the lake's concentration is its
    // mass over its volume.
    EXPECT_EQ(w.chan_node_mass[1][1][2], 0.0);
    EXPECT_NEAR(w.lake_conc[1][1], w.lake_mass[1][1] / s.channels.lakes[1].volume, 1e-12);
    const double stored = channel_constituent_mass(s, 1) + lake_constituent_mass(s, 1);
    const double gone = (r.outlet + r.decay + r.lake_decay - r.lake_groundwater - r.clipped) * 1000.0;
    EXPECT_NEAR(m0 + in, stored + gone, 1e-9 * (m0 + in));
    // The global block's sources and the channel and lake lines agree.
    EXPECT_NEAR(global_mass_sources(s, 1).precipitation, r.lake_rain, 1e-15);
    EXPECT_NEAR(global_mass_sources(s, 1).groundwater, r.lake_groundwater, 1e-15);
    finish_channel_constituent_balances(s);
    EXPECT_LT(std::fabs(w.wq_mass_error[1]), 1e-9);
}

TEST(LakeConstituents, AnEmptyLakeKeepsItsMassAtConcentrationZero) {
    model_state s;
    make_network(s);
    channel_work &w = s.chan;
    s.channels.lakes[1].volume = 0.0;
    w.wq_lake_volume0[1] = 0.0;
    w.lake_mass[1][1] = 5.0;
    w.lake_conc[1][1] = 1.0;
    s.now_days += 10.0 / day;
    s.channel_clock.next = s.now_days + 10.0 / day;
    route_channel_constituents(s);
    EXPECT_EQ(w.lake_conc[1][1], 0.0);
    EXPECT_EQ(w.lake_mass[1][1], 5.0);
}

TEST(LakeConstituents, LakeSourcesTakeNoMoreThanTheLakeHolds) {
    struct row {
        double exchange, decay, rate, refused;
    };
    // The lake holds 10 and gathers 4 of rain; over 10 s.
    const row rows[] = {
        {-3.0, 2.0, (4.0 - 3.0 - 2.0) / 10.0, 0.0},  // all terms taken
        {-20.0, 2.0, -10.0 / 10.0, 6.0},             // exchange takes only 14, decay nothing
        {0.0, 30.0, -10.0 / 10.0, 0.0},              // decay takes the 14 it finds
    };
    for (const row &x : rows) {
        model_state s;
        make_network(s);
        s.constituent_sources_on = 1;
        channel_work &w = s.chan;
        w.lake_mass[1][1] = 10.0;
        w.lake_precip_mass[1][1] = 4.0;
        w.lake_chan_exchange_mass[1][1] = x.exchange;
        w.lake_decay_mass[1][1] = x.decay;
        s.now_days += 10.0 / day;
        EXPECT_NEAR(lake_mass_sources(s, 1, 1, 10.0), x.rate, 1e-12) << x.exchange;
        EXPECT_NEAR(w.wq_step[1].lake_refused, x.refused, 1e-12);
        EXPECT_EQ(w.lake_precip_mass[1][1], 0.0);
        EXPECT_EQ(w.lake_chan_exchange_mass[1][1], 0.0);
        // What the rate removes over the interval is what the step terms book.
        const channel_work::mass_terms &t = w.wq_step[1];
        EXPECT_NEAR(t.lake_rain + t.lake_exchange - t.lake_decay, x.rate * 10.0, 1e-12);
    }
}

TEST(LakeConstituents, AquiferExchangeTakesTheLakeConcentrationAndHonoursTheCodes) {
    struct row {
        double volume;
        int code;
        double mass;
    };
    // Lake at concentration 3; with groundwater codes only a lake cell (7) exchanges;
    // the aquifer brings no constituent.
    const row rows[] = {{-2.0, 7, -6.0}, {-2.0, 4, 0.0}, {2.0, 7, 0.0}};
    for (const row &x : rows) {
        model_state s;
        make_network(s);
        put_lake(s, 3.0);
        s.groundwater_on = 1;
        ASSERT_EQ(alloc_1d_int(s.gw_boundary_code, 1), 0);
        s.gw_boundary_code[1] = x.code;
        s.chan.lake_gw_volume[1] = x.volume;
        lake_gw_mass_exchange(s, 1);
        EXPECT_NEAR(s.chan.lake_gw_mass[1][1], x.mass, 1e-12) << x.code;
        // The last constituent clears the volume of an exchanging cell.
        EXPECT_EQ(s.chan.lake_gw_volume[1], x.code == 7 ? 0.0 : x.volume);
    }
}

TEST(LakeConstituents, NodesALakeTakesJoinItAndNodesItGivesBackTakeItsConcentration) {
    model_state s;
    make_network(s);
    channel_work &w = s.chan;
    put_lake(s, 4.0);
    w.chan_node_mass[1][3][1] = 7.0;
    w.chan_node_conc[1][3][1] = 0.35;
    lake_node_handover(s);  // first call: notes the open nodes
    s.channels.comp_node_count[1] = 2;
    w.area[3][1] = 0.0;
    lake_node_handover(s);
    EXPECT_EQ(w.chan_node_mass[1][3][1], 0.0);
    EXPECT_NEAR(w.lake_mass[1][1], 407.0, 1e-12);
    EXPECT_NEAR(w.wq_step[1].lake_in, 7.0, 1e-12);
    // Given back with 1.5 m2 x 10 m of water at the lake's concentration 4.
    s.channels.comp_node_count[1] = 3;
    w.area[3][1] = 1.5;
    lake_node_handover(s);
    EXPECT_NEAR(w.chan_node_mass[1][3][1], 60.0, 1e-12);
    EXPECT_NEAR(w.chan_node_conc[1][3][1], 4.0, 1e-12);
    EXPECT_NEAR(w.lake_mass[1][1], 347.0, 1e-12);
    EXPECT_EQ(w.wq_previous_area[3][1], 1.5);
}

TEST(ChannelPointInputs, FileInflowsBringTheirConcentrationAndSinksTakeTheNodes) {
    struct row {
        double q, c_point, mass;
    };
    // Node 2 of link 1 holds 20 at concentration 1 (20 m3); over 10 s.
    const row rows[] = {
        {0.1, 3.0, 3.0},     // 1 m3 at 3
        {-0.1, 3.0, -1.0},   // 1 m3 taken at the node's concentration
        {-5.0, 3.0, -20.0},  // 50 m3 asked for, the node's 20 taken
        {5e-7, 3.0, 0.0},    // below the routing's threshold of 1e-6 m3/s
    };
    for (const row &x : rows) {
        model_state s;
        make_network(s);
        channel_work &w = s.chan;
        ASSERT_TRUE(chan_make(w.chan_point_Q, 3, 4, "q") && chan_make(w.chan_point_conc, 1, 3, 4, "c"));
        w.chan_point_Q[2][1] = x.q;
        w.chan_point_conc[1][2][1] = x.c_point;
        w.chan_node_conc[1][2][1] = 1.0;
        w.chan_node_mass[1][2][1] = 20.0;
        s.now_days += 10.0 / day;
        const double rate = node_mass_sources(s, 1, 2, 1, 0, 10.0);
        EXPECT_NEAR(rate * 10.0, x.mass, 1e-12) << x.q;
        EXPECT_NEAR(w.wq_step[1].point, x.mass, 1e-12) << x.q;
    }
}

}  // namespace
