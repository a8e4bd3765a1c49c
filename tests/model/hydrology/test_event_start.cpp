// Tests of the initial conditions and the event start: the initial surface volume
// outside the lakes, the lake-level check, the redistribution state under a water
// table (wetted depth and its layer split), and init_event's clock rule, resets,
// clock moves and moisture clamps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/core/globals.h"
#include "model/hydrology/event_start.h"
#include "model/hydrology/lakes.h"
#include "model/hydrology/hydrology_services.h"
#include "model/core/model_state.h"
#include "support/captured_output.h"
#include "support/run_program.h"

namespace {

using testsupport::printed;

// Four cells of 10 m with grounds 100, 101, 102, 103 m.
class EventStart : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.cell_count = 4;
        s.cell_size = 10.0;
        s.quiet = 1;
        alloc_1d_double(s.elevation, 4);
        alloc_1d_double(s.depth, 4);
        for (int i = 1; i <= 4; ++i) s.elevation[i] = 99.0 + i;
        s.time_tolerance_days = 0.01 / 86400.0;
    }
    void TearDown() override { reset_process_globals(); }
    void lake_on_cells_2_and_3(double level) {
        s.overland_lake_on = 1;
        alloc_1d_int(s.overland_lake_id, 4);
        s.overland_lake_id[2] = s.overland_lake_id[3] = 1;
        s.overland_lake_count = 1;
        s.lakes.assign(2, lake_record{});
        s.lakes[1].initial_elevation = level;
        s.lakes[1].volume = 123.0;
    }
    model_state s;
};

TEST_F(EventStart, InitialSurfaceVolumeOfEveryCell) {
    for (int i = 1; i <= 4; ++i) s.depth[i] = 0.01 * i;
    compute_initial_overland_volume(s);
    EXPECT_NEAR(s.initial_overland_volume, (0.01 + 0.02 + 0.03 + 0.04) * 100.0, 1e-12);
}

TEST_F(EventStart, LakeCellsDoNotCountAsSurfaceWater) {
    for (int i = 1; i <= 4; ++i) s.depth[i] = 1.0;
    lake_on_cells_2_and_3(105.0);
    compute_initial_overland_volume(s);
    EXPECT_DOUBLE_EQ(s.initial_overland_volume, 200.0);
    EXPECT_DOUBLE_EQ(overland_lake_volume(s), 123.0);
}

TEST_F(EventStart, LakeLevelAtTheGroundPassesWithNoVolume) {
    lake_on_cells_2_and_3(102.0);  // cell 2 lies 1 m below, cell 3 exactly at the level
    check_initial_lake_levels(s);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.initial_lake_volume, 100.0);
}

TEST_F(EventStart, LakeLevelBelowALakeCellStopsTheRun) {
    lake_on_cells_2_and_3(101.5);  // cell 3 (102 m) lies above it
    const std::string out = printed([&] { check_initial_lake_levels(s); });
    // The reporter adds its own line feed after the message.
    EXPECT_EQ(out.rfind(
                  "\nWARNING: initial water surface elevation in lake 1 is 101.500000 which is\n"
              "less than the land surface elevation in grid cell 3, 102.000000.\n"
              "You should either raise your initial lake elevation or lower that grid\n"
                  "cell elevation.  Program stopped.\n",
                  0),
              0u);
    EXPECT_EQ(error_record.fatal, 1);
}

// ---- redistribution under a water table ----

class RedistributionStart : public EventStart {
protected:
    void SetUp() override {
        EventStart::SetUp();
        s.inf_redist = 1;
        s.water_table_on = 1;
        s.soil_moist_depth_cm = 100.0;
        s.top_layer_depth_cm = 20.0;
        for (auto *a : {&s.root_zone_depth, &s.root_zone_water, &s.root_upper_water,
                        &s.root_lower_water, &s.moisture_state.full(), &s.soil_porosity.full(),
                        &s.water_table_elevation, &s.unsat_exchange_depth, &s.redist_hiatus_depth})
            alloc_1d_double(*a, 4);
        alloc_1d_int(s.first_ponding_call, 4);
        for (auto *a : {&s.surfacing_mark, &s.redist_state, &s.redist_marks}) alloc_1d_byte(*a, 4);
        for (int i = 1; i <= 4; ++i) {
            s.moisture_state.full()[i] = 0.25;
            s.soil_porosity.full()[i] = 0.45;
            s.redist_state[i] = 2;
        }
        s.water_table_elevation[1] = 100.0 - 0.3;  // 0.3 m below the ground
        s.water_table_elevation[2] = 101.0 - 2.0;  // 2 m below
        s.water_table_elevation[3] = 102.0;        // at the ground
        s.water_table_elevation[4] = 103.0 - 0.1;
    }
};

TEST_F(RedistributionStart, WettedDepthFollowsTheWaterTable) {
    check_initial_lake_levels(s);
    EXPECT_NEAR(s.root_zone_depth[1], 30.0, 1e-9);
    EXPECT_DOUBLE_EQ(s.root_zone_depth[2], 100.0);
    EXPECT_DOUBLE_EQ(s.root_zone_depth[3], 0.0);
    EXPECT_DOUBLE_EQ(s.moisture_state[3], 0.45);
    EXPECT_EQ(s.surfacing_mark[3], 1);
    EXPECT_EQ(s.surfacing_mark[1], 0);
    EXPECT_EQ(s.surfacing_flag, 1);
    EXPECT_EQ(s.redist_state[1], 0);
}

TEST_F(RedistributionStart, WaterOfTheWettedZoneIsSplitAtTheLayerBoundary) {
    check_initial_lake_levels(s);
    // F = 30 cm, boundary 20 cm, moisture 0.25.
    EXPECT_NEAR(s.root_zone_water[1], 7.5, 1e-9);
    EXPECT_NEAR(s.root_upper_water[1], 5.0, 1e-9);
    EXPECT_NEAR(s.root_lower_water[1], 2.5, 1e-9);
    // F = 10 cm lies within the upper layer.
    EXPECT_NEAR(s.root_lower_water[4], 0.0, 1e-12);
    // Soil water: (7.5 + 25 + 0 + 2.5) cm over 100 m2 cells.
    EXPECT_NEAR(s.initial_soil_water_volume, (7.5 + 25.0 + 0.0 + 2.5) / 100.0 * 100.0, 1e-9);
    EXPECT_DOUBLE_EQ(s.start_soil_water_volume, s.initial_soil_water_volume);
    EXPECT_NEAR(s.unsaturated_storage_total, s.initial_soil_water_volume, 1e-9);
    EXPECT_DOUBLE_EQ(s.richards_soil_water_volume, s.unsaturated_storage_total);
}

// ---- init_event ----

class InitEvent : public EventStart {
protected:
    void SetUp() override {
        EventStart::SetUp();
        s.now_days = 2450000.5;
        s.start_days = s.now_days;
        s.event_start_time = s.now_days;
        s.rain_clock = {s.now_days + 0.5, s.now_days, 10.0 / 86400.0};
        s.infiltration_clock = {s.now_days - 1.0, s.now_days + 1.0, 60.0 / 86400.0};
        s.event_rain_volume = 77.0;
        s.outflow_volume = 5.0;
        s.peak_outlet_discharge = 3.0;
        s.water.move(ledger_node::atmosphere, ledger_node::canopy, 12.0);
        for (int i = 1; i <= 4; ++i) s.depth[i] = 0.1;
    }
};

TEST_F(InitEvent, NothingBeforeTheEventStart) {
    s.event_start_time = s.now_days + 1.0 / 1440.0;
    init_event(s);
    EXPECT_EQ(s.event_start_flag, 0);
    EXPECT_DOUBLE_EQ(s.event_rain_volume, 77.0);
}

TEST_F(InitEvent, ResetsTheEventAndMarksTheRunTotals) {
    const std::string out = printed([&] {
        s.quiet = 0;
        init_event(s);
    });
    EXPECT_EQ(out, "Initialized Arrays\nsimulation duration 0 minutes\n");
    EXPECT_EQ(s.event_start_flag, 1);
    EXPECT_EQ(s.event_rain_volume, 0.0);
    EXPECT_EQ(s.outflow_volume, 0.0);
    EXPECT_EQ(s.peak_outlet_discharge, 0.0);
    EXPECT_DOUBLE_EQ(s.event_initial_overland_volume, 40.0);
    EXPECT_DOUBLE_EQ(s.event_start_surface_volume, 40.0);
    EXPECT_DOUBLE_EQ(s.water.moved_since(s.event_marks.water, ledger_node::atmosphere, ledger_node::canopy), 0.0);
}

TEST_F(InitEvent, ClocksAreBroughtToTheEvent) {
    init_event(s);
    // The rain clock's later last time comes back to now.
    EXPECT_DOUBLE_EQ(s.rain_clock.last, s.now_days);
    // Infiltration takes the rain interval and the next rain time + interval.
    EXPECT_DOUBLE_EQ(s.infiltration_clock.interval, s.rain_clock.interval);
    EXPECT_DOUBLE_EQ(s.infiltration_clock.next, s.rain_clock.next + s.rain_clock.interval);
    EXPECT_DOUBLE_EQ(s.infiltration_clock.last, s.now_days);
}

TEST_F(InitEvent, EventRunEndsTotTimeMinutesAfterTheStart) {
    s.total_time = 1440;
    s.quiet = 0;
    const std::string out = printed([&] { init_event(s); });
    EXPECT_NE(out.find("simulation duration 1440 minutes\n"), std::string::npos);
    EXPECT_DOUBLE_EQ(s.simulation_end_time, s.start_days + 1.0);
}

TEST_F(InitEvent, LongTermRunKeepsTheEndOfItsRecord) {
    s.long_term = 1;
    s.total_time = 1440;
    s.simulation_end_time = s.start_days + 30.0;
    init_event(s);
    EXPECT_DOUBLE_EQ(s.simulation_end_time, s.start_days + 30.0);
}

TEST_F(InitEvent, RedistributionMoistureIsKeptInsideItsBounds) {
    s.long_term = 1;
    s.inf_redist = 1;
    for (auto *a : {&s.moisture_state.full(), &s.soil_residual.full(), &s.soil_porosity.full()})
        alloc_1d_double(*a, 4);
    for (int i = 1; i <= 4; ++i) {
        s.soil_residual.full()[i] = 0.05;
        s.soil_porosity.full()[i] = 0.45;
        s.moisture_state.full()[i] = 0.2;
    }
    s.moisture_state.full()[1] = 0.05;  // equal to thr
    s.moisture_state.full()[2] = 0.45;  // equal to phi
    const std::string out = printed([&] { init_event(s); });
    EXPECT_DOUBLE_EQ(s.moisture_state[1], 0.06);
    EXPECT_DOUBLE_EQ(s.moisture_state[2], 0.44);
    EXPECT_NE(out.find("cell: 1  thi: 0.050000  thr: 0.050000   phi: 0.450000\n"
                       "Problem initializing inf_redist in main loop, thi<thr at grid cell 1, "
                       "increasing it to 0.060000\n"),
              std::string::npos);
    EXPECT_NE(out.find("Problem initializing inf_redist in main loop, thi>phi at grid cell 2, "
                       "decreasing it to 0.440000\n"),
              std::string::npos);
    EXPECT_NEAR(s.relative_saturation_sum, (0.06 + 0.44 + 0.2 + 0.2) / 0.45, 1e-12);
}

}  // namespace

namespace {

// ---- initial channel depths ----

// Link 1 (trapezoid, 2 nodes), link 2 (lake, no lines), link 3 (trapezoid, 3
// nodes); every bed at 10 m.
class InitialChannelDepths : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        channel_network &net = s.channels;
        net.link_count = 3;
        net.max_node_count = 3;
        alloc_1d_int(net.link_type, 3);
        alloc_1d_int(net.node_count, 3);
        net.link_type[1] = link_trapezoid;
        net.link_type[2] = link_lake;
        net.link_type[3] = link_trapezoid;
        net.node_count[1] = 2;
        net.node_count[2] = 2;
        net.node_count[3] = 3;
        alloc_2d_double(net.yp, 3, 3, "yp");
        alloc_2d_double(net.bel, 3, 3, "bel");
        alloc_2d_double(s.chan.chan_depth, 3, 3, "chan_depth");
        for (int n = 1; n <= 3; ++n)
            for (int l = 1; l <= 3; ++l) net.bel[n][l] = 10.0;
        s.project.initial_depth.given = 1;
        s.project.initial_depth.name = (dir.path() / "depths.txt").string();
    }
    void TearDown() override { reset_process_globals(); }
    testsupport::scratch_dir dir;
    model_state s;
};

TEST_F(InitialChannelDepths, OneLinePerNodeOfTheRoutedLinksInOrder) {
    dir.write("depths.txt", "10.5\n10.25 extra words\n11\n10\n12.5\n");
    read_initial_channel_depths(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.chan.chan_depth[1][1], 0.5);
    EXPECT_DOUBLE_EQ(s.chan.chan_depth[2][1], 0.25);
    EXPECT_DOUBLE_EQ(s.chan.chan_depth[1][3], 1.0);
    EXPECT_DOUBLE_EQ(s.chan.chan_depth[2][3], 0.0);
    EXPECT_DOUBLE_EQ(s.chan.chan_depth[3][3], 2.5);
    EXPECT_DOUBLE_EQ(s.channels.yp[3][3], 12.5);
    EXPECT_EQ(s.chan.chan_depth[1][2], 0.0);  // the lake link reads nothing
    EXPECT_EQ(s.channel_has_water, 1);
}

TEST_F(InitialChannelDepths, LevelBelowTheBedGivesNoWater) {
    dir.write("depths.txt", "9\n9.5\n8\n10\n7\n");
    read_initial_channel_depths(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.chan.chan_depth[1][1], 0.0);
    EXPECT_DOUBLE_EQ(s.channels.yp[1][1], 10.0);
    EXPECT_EQ(s.channel_has_water, 0);
}

TEST_F(InitialChannelDepths, FixedOutletDepthAtTheLastNodeOfTheLastLink) {
    dir.write("depths.txt", "9\n9\n9\n9\n9\n");
    s.head_bound = 1;
    s.bound_depth = 0.75;
    read_initial_channel_depths(s);
    EXPECT_DOUBLE_EQ(s.chan.chan_depth[3][3], 0.75);
    EXPECT_DOUBLE_EQ(s.channels.yp[3][3], 10.75);
    EXPECT_EQ(s.channel_has_water, 1);
}

TEST_F(InitialChannelDepths, MissingLineIsAnError) {
    dir.write("depths.txt", "10.5\n10.5\n");
    const std::string out = printed([&] { read_initial_channel_depths(s); });
    EXPECT_NE(out.find("no water-surface elevation for node 1 of link 3"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

}  // namespace
