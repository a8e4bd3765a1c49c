// The routing pieces of a turn on a hand-built run state: the choice of the
// overland scheme, the overland step with its clock, guards, outflow booking and
// end of rain, and the clocks and totals of the groundwater and channel pieces.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_explicit.h"
#include "model/hydrology/groundwater_coupling.h"
#include "model/hydrology/overland_pieces.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

constexpr double day = 86400.0;

class OverlandPieces : public overland_test {
protected:
    // A sloping 2 x 3 grid with a rain clock of 30 s that is due now.
    void SetUp() override {
        overland_test::SetUp();
        make_grid(s, 2, 3, 10.0, [](int r, int c) { return 20.0 - 0.1 * r - 0.2 * c; }, 0.04, 0.0, 0.02);
        s.time_tolerance_days = 0.01 / day;
        s.now_days = 2450000.0;
        s.rain_clock.interval = 30.0 / day;
        s.rain_clock.last = s.now_days - 30.0 / day;
        s.rain_clock.next = s.now_days;
        s.overland_scheme = 0;  // no OVERTYPE card
        s.keep_running = 1;
    }
};

TEST(OverlandSchemeChoice, OvertypeCodesSelectTheirSchemes) {
    EXPECT_EQ(choose_overland_scheme(1), &route_overland_explicit);
    EXPECT_EQ(choose_overland_scheme(2), &route_overland_ade);
    EXPECT_EQ(choose_overland_scheme(3), &route_overland_ade_pc);
    EXPECT_EQ(choose_overland_scheme(0), &route_overland_ade);  // the default without the card
}

TEST_F(OverlandPieces, NothingHappensBeforeTheRainClockIsDue) {
    s.rain_clock.next = s.now_days + 10.0 / day;
    s.depth[1] = 0.05;
    step_overland_flow(s);
    EXPECT_EQ(s.depth[1], 0.05);
    EXPECT_EQ(s.rain_clock.next, s.now_days + 10.0 / day);
    EXPECT_EQ(s.overland_route, nullptr);
}

TEST_F(OverlandPieces, DueStepRoutesBooksTheOutflowOnceAndAdvancesTheClock) {
    for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] = 0.01;
    s.depth[6] = 0.05;
    const double before = grid_volume(s);
    const double dt = (s.now_days - s.rain_clock.last) * day;  // 30 s as the clock holds it
    step_overland_flow(s);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(s.overland_route, &route_overland_ade);
    EXPECT_GT(s.outlet_discharge, 0.0);
    EXPECT_NEAR(dt, 30.0, 1e-5);
    EXPECT_NEAR(s.outflow_volume, s.outlet_discharge * dt, 1e-12);
    EXPECT_NEAR(s.water.net(ledger_node::surface, ledger_node::outlet), s.outflow_volume, 1e-15);
    EXPECT_NEAR(grid_volume(s) + s.outflow_volume - s.negative_depth_volume, before, 1e-12);
    EXPECT_EQ(s.rain_clock.last, s.now_days);
    EXPECT_EQ(s.rain_clock.next, s.now_days + 30.0 / day);
    EXPECT_EQ(s.ade_state.sweep_order, 2);  // flipped after the ADE call
    EXPECT_EQ(s.overland_routing_switch, 1);
    EXPECT_EQ(s.flow_present_switch, 1);
}

TEST_F(OverlandPieces, ChannelStepDoesNotBookTheOverlandOutletAgain) {
    s.depth[6] = 0.05;
    step_overland_flow(s);
    const double booked = s.outflow_volume;
    ASSERT_GT(booked, 0.0);
    s.channel_clock.interval = 30.0 / day;
    s.channel_clock.last = s.now_days - 30.0 / day;
    s.channel_clock.next = s.now_days;
    step_channel_routing(s);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(s.outflow_volume, booked);
    EXPECT_EQ(s.channel_clock.last, s.now_days);
    EXPECT_EQ(s.channel_step_count, 1);
}

TEST_F(OverlandPieces, DryGridRunsNoSchemeAndSendsNothingToTheOutlet) {
    s.outlet_discharge = 3.0;  // left over from an earlier step
    s.depth[2] = 1e-16;        // exactly 1e-16 counts as dry
    step_overland_flow(s);
    EXPECT_EQ(s.overland_route, nullptr);
    EXPECT_EQ(s.overland_routing_switch, 0);
    EXPECT_EQ(s.outlet_discharge, 0.0);
    EXPECT_EQ(s.outflow_volume, 0.0);
    EXPECT_EQ(s.rain_clock.last, s.now_days);
}

TEST_F(OverlandPieces, DepthThatIsNotANumberStopsTheRun) {
    s.depth[4] = std::numeric_limits<double>::quiet_NaN();
    const std::string out = printed([&] { step_overland_flow(s); });
    EXPECT_EQ(out.rfind("h NaN in main()- point 3, grid cell 4\n", 0), 0u) << out;
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(s.rain_clock.next, s.now_days);  // the clock does not advance
}

TEST_F(OverlandPieces, OverlandLakeCellsNeverSwitchRoutingOn) {
    s.overland_lake_on = 1;
    s.overland_lake_count = 1;
    alloc_1d_int(s.overland_lake_id, s.cell_count);
    s.overland_lake_id[3] = 1;
    s.lakes.resize(2);
    s.lakes[1].elevation = 20.0;
    s.depth[3] = 0.5;
    EXPECT_TRUE(survey_overland_cells(s));
    EXPECT_EQ(s.overland_routing_switch, 0);
    s.depth[1] = 0.001;
    EXPECT_TRUE(survey_overland_cells(s));
    EXPECT_EQ(s.overland_routing_switch, 1);
}

TEST_F(OverlandPieces, EndOfRainWithChannelRoutingEndsTheEventRun) {
    s.chan_explicit = 1;
    s.event_rain_volume = 100.0;
    s.rainborne_constituent_flag = 0;
    const std::string out = printed([&] { step_overland_flow(s); });
    EXPECT_EQ(out, "Rainfall for this event has ended.\n");
    EXPECT_EQ(s.keep_running, 0);
}

TEST_F(OverlandPieces, RainStillFallingKeepsTheRunGoing) {
    s.chan_explicit = 1;
    s.event_rain_volume = 100.0;
    s.rainborne_constituent_flag = 1;
    const std::string out = printed([&] { step_overland_flow(s); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(s.keep_running, 1);
}

TEST_F(OverlandPieces, ExplicitSchemeIsChosenByItsCode) {
    s.overland_scheme = 1;
    s.depth[1] = 0.02;
    step_overland_flow(s);
    EXPECT_EQ(s.overland_route, &route_overland_explicit);
    EXPECT_EQ(s.ade_state.sweep_order, 1);  // the explicit scheme keeps its own order
    EXPECT_EQ(s.explicit_control.sweep_flag, 1);
}

TEST_F(OverlandPieces, MaximumDepthsFollowTheDeepestState) {
    s.flood_grid_on = 1;
    s.depth[1] = 0.3;
    step_overland_flow(s);
    ASSERT_FALSE(s.max_depth.empty());
    for (int i = 1; i <= s.cell_count; ++i) EXPECT_EQ(s.max_depth[at(i)], s.depth[at(i)]);
    const double deepest = s.max_depth[1];
    s.depth[1] = 0.0;
    s.now_days = s.rain_clock.next;
    step_overland_flow(s);
    EXPECT_EQ(s.max_depth[1], deepest);
}

class GroundwaterPiece : public overland_test {
protected:
    void SetUp() override {
        overland_test::SetUp();
        make_grid(s, 1, 2, 10.0, [](int, int) { return 10.0; }, 0.04);
        s.time_tolerance_days = 0.01 / day;
        s.now_days = 2450000.0;
        s.gw_clock.interval = 3600.0 / day;
        s.gw_clock.last = s.now_days - 3600.0 / day;
        s.gw_clock.next = s.now_days;
        for (auto *a : {&s.water_table_elevation, &s.aquifer_bottom.full(), &s.gw_porosity.full()})
            alloc_1d_double(*a, 2);
        alloc_1d_int(s.gw_boundary_code, 2);
        for (int i = 1; i <= 2; ++i) {
            s.water_table_elevation[at(i)] = 8.0;
            s.aquifer_bottom.full()[at(i)] = 3.0;
            s.gw_porosity.full()[at(i)] = 0.3;
        }
    }
};

TEST_F(GroundwaterPiece, SwitchOtherThanOneDoesNothing) {
    s.groundwater_on = 2;
    step_groundwater(s);
    EXPECT_EQ(s.gw_clock.next, s.now_days);
    EXPECT_EQ(s.saturated_storage_total, 0.0);
}

TEST_F(GroundwaterPiece, GreenAmptRunAdvancesTheClockAndTotalsWithoutTheSolver) {
    s.groundwater_on = 1;
    s.inf_green_ampt = 1;
    step_groundwater(s);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(error_record.fatal, 0);  // the solver stand-in was not reached
    // (8 - 3) m x 0.3 x 100 cm for each of the two cells.
    EXPECT_NEAR(s.saturated_storage_total, 2 * 150.0, 1e-9);
    EXPECT_NEAR(s.total_storage, 300.0, 1e-9);
    EXPECT_EQ(s.gw_clock.last, s.now_days);
    EXPECT_EQ(s.gw_clock.next, s.now_days + 3600.0 / day);
}

TEST_F(GroundwaterPiece, StreamCellSeepageOfThePreviousStepIsPostedInItsDirection) {
    s.groundwater_on = 1;
    s.stream_loss = 1;
    s.gw_boundary_code[1] = 4;
    s.gw_boundary_code[2] = 4;
    alloc_1d_double(s.channel_seepage_volume, 2);
    s.channel_seepage_volume[1] = 2.5;
    s.channel_seepage_volume[2] = -1.5;
    step_groundwater(s);
    EXPECT_DOUBLE_EQ(s.water.moved(ledger_node::aquifer, ledger_node::channels), 2.5);
    EXPECT_DOUBLE_EQ(s.water.moved(ledger_node::channels, ledger_node::aquifer), 1.5);
}

TEST_F(GroundwaterPiece, ExchangeVolumesAreBookedOnceWhenNoAquiferStepTakesThem) {
    // Green and Ampt and the layered soil run no aquifer step, so nothing else
    // clears the volumes: three groundwater steps must book them once.
    s.groundwater_on = 1;
    s.stream_loss = 1;
    s.chan_explicit = 1;
    s.exchange_ended = 1;  // no channel-node exchange in this test
    s.lake_loss_flag = 1;
    s.gw_boundary_code[1] = 4;
    s.gw_boundary_code[2] = 7;
    alloc_1d_double(s.channel_seepage_volume, 2);
    alloc_1d_double(s.lake_loss_volume, 2);
    for (int scheme = 1; scheme <= 2; ++scheme) {
        s.inf_green_ampt = scheme == 1;
        s.inf_layered = scheme == 2;
        s.water.clear();
        s.channel_seepage_volume[1] = 2.5;
        s.channel_seepage_volume[2] = -1.5;
        s.lake_loss_volume[2] = -4.0;
        for (int k = 1; k <= 3; ++k) {
            s.gw_clock.last = s.now_days - 3600.0 / day;
            s.gw_clock.next = s.now_days;
            step_groundwater(s);
            ASSERT_EQ(error_record.code, 0);
        }
        const water_ledger &w = s.water;
        EXPECT_DOUBLE_EQ(w.moved(ledger_node::aquifer, ledger_node::channels), 2.5) << "scheme " << scheme;
        EXPECT_DOUBLE_EQ(w.moved(ledger_node::channels, ledger_node::aquifer), 1.5) << "scheme " << scheme;
        EXPECT_DOUBLE_EQ(w.moved(ledger_node::channel_lakes, ledger_node::aquifer), 4.0) << "scheme " << scheme;
        EXPECT_EQ(w.moved(ledger_node::aquifer, ledger_node::channel_lakes), 0.0) << "scheme " << scheme;
        EXPECT_EQ(s.channel_seepage_volume[1], 0.0);
        EXPECT_EQ(s.channel_seepage_volume[2], 0.0);
        EXPECT_EQ(s.lake_loss_volume[2], 0.0);
    }
}

TEST_F(GroundwaterPiece, OrthogonalNodeThatWouldLoseMoreThanItHoldsEndsEmpty) {
    // Link 1 of two nodes, dx 10 m, over cells 1 and 2. Node 1 holds 0.2 m2 x 10 m
    // = 2 m3 and would lose 3 m3 in the step; node 2 gains 0.5 m3.
    const double dt = 60.0;
    s.channels.link_count = 1;
    alloc_1d_int(s.channels.node_count, 1);
    alloc_1d_double(s.channels.dx, 1);
    s.channels.node_count[1] = 2;
    s.channels.dx[1] = 10.0;
    for (auto *a : {&s.chan.area, &s.chan.qriv}) alloc_2d_double(*a, 2, 1, "node");
    alloc_2d_int(s.chan.con_vect, 2, 1);
    s.chan.con_vect[1][1] = 1;
    s.chan.con_vect[2][1] = 2;
    s.chan.area[1][1] = 0.2;
    s.chan.area[2][1] = 0.1;
    s.chan.qriv[1][1] = -3.0 / (dt * 10.0);
    s.chan.qriv[2][1] = 0.5 / (dt * 10.0);
    alloc_1d_double(s.channel_seepage_volume, 2);
    s.channel_seepage_volume[1] = 1.0;
    ASSERT_TRUE(exchange_channel_nodes(s, 2, dt));
    EXPECT_EQ(s.chan.area[1][1], 0.0);
    EXPECT_NEAR(s.channel_seepage_volume[1], 1.0 - 2.0, 1e-12);  // only the 2 m3 it held
    EXPECT_NEAR(s.chan.area[2][1], 0.1 + 0.05, 1e-12);
    EXPECT_NEAR(s.channel_seepage_volume[2], 0.5, 1e-12);
    // Result 1 clears the seepage volume of every node's cell.
    ASSERT_TRUE(exchange_channel_nodes(s, 1, dt));
    EXPECT_EQ(s.channel_seepage_volume[1], 0.0);
    EXPECT_EQ(s.channel_seepage_volume[2], 0.0);
}

TEST(OverlandLakePiece, RainAndOverlandInflowRaiseTheLakeAndAreCleared) {
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    reset_process_globals();
    // 20 x 20 cells of 10 m on 105 m; a lake of two cells on 100 m at 100.2 m.
    make_grid(s, 20, 20, 10.0, [](int, int) { return 105.0; }, 0.05);
    s.overland_lake_on = 1;
    s.overland_lake_count = 1;
    s.lakes.assign(2, lake_record{});
    alloc_1d_int(s.overland_lake_id, s.cell_count);
    alloc_1d_int(s.overland_lake_id_copy, s.cell_count);
    for (int c : {cell(20, 5, 5), cell(20, 5, 6)}) {
        s.elevation[at(c)] = 100.0;
        s.overland_lake_id[at(c)] = s.overland_lake_id_copy[at(c)] = 1;
    }
    lake_record &lake = s.lakes[1];
    lake.initial_elevation = lake.elevation = 100.2;
    lake.cell_count = 2;
    lake.volume = 999.0;  // the piece forms the volume from the map first
    lake.rain_volume = 20.0;
    lake.inflow_volume = 10.0;
    s.lake_update_flag = 1;
    update_overland_lakes(s);
    EXPECT_EQ(error_record.code, 0);
    // 40 m3 on the map at 100.2 m, then 30 m3 over 200 m2.
    EXPECT_NEAR(lake.elevation, 100.2 + 30.0 / 200.0, 1e-12);
    EXPECT_NEAR(lake.volume, 70.0, 1e-9);
    EXPECT_NEAR(s.overland_lake_flow_in, 30.0, 1e-12);
    EXPECT_EQ(lake.rain_volume, 0.0);
    EXPECT_EQ(lake.inflow_volume, 0.0);
    EXPECT_EQ(s.lake_update_flag, 0);
    reset_process_globals();
}

TEST(ChannelPiece, ClockAdvancesByItsIntervalWithoutRouting) {
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    reset_process_globals();
    s.time_tolerance_days = 0.01 / day;
    s.now_days = 2450000.0;
    s.channel_step_seconds = 20.0;
    s.channel_clock.interval = 20.0 / day;
    s.channel_clock.last = s.now_days - 5e-07;
    s.channel_clock.next = s.now_days;
    step_channel_routing(s);
    EXPECT_EQ(s.channel_clock.last, s.now_days);
    EXPECT_EQ(s.channel_clock.next, s.now_days + 20.0 / day);
    EXPECT_EQ(s.channel_step_count, 1);
    reset_process_globals();
}

}  // namespace
