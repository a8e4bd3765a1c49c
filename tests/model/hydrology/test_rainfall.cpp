// Tests of the precipitation pieces: record rates over hand-computed intervals,
// inverse-distance weights and nearest gauges worked by hand, the rain volume of
// uniform and gauge rain over the grid, canopy interception, lakes and the date
// check. The pieces run on a run state set up here, turn by turn.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "model/core/calendar.h"
#include "model/core/errors.h"
#include "model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/process_clocks.h"
#include "model/hydrology/rainfall.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;

// Cells numbered in row order over the mask ('1' inside), north 0, west 0.
void set_grid(model_state &s, const std::vector<std::string> &mask, double dx) {
    s.grid_rows = static_cast<int>(mask.size());
    s.grid_cols = static_cast<int>(mask[0].size());
    s.cell_size = dx;
    alloc_2d_int(s.cell_number_grid, s.grid_rows + 1, s.grid_cols + 1);
    int n = 0;
    for (int i = 1; i <= s.grid_rows; ++i)
        for (int j = 1; j <= s.grid_cols; ++j)
            if (mask[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)] == '1')
                s.cell_number_grid[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = ++n;
    s.cell_count = n;
    alloc_1d_double(s.depth, n);
    alloc_1d_double(s.rain_rate, n);
}

precip_event gauge_event(int gauges, int records) {
    precip_event e;
    e.gauges = gauges;
    e.records = records;
    e.gauge_x.assign(static_cast<std::size_t>(gauges) + 1, 0.0);
    e.gauge_y.assign(static_cast<std::size_t>(gauges) + 1, 0.0);
    e.dates.assign(static_cast<std::size_t>(records) + 1, precip_date{});
    e.values.assign((static_cast<std::size_t>(records) + 1) * static_cast<std::size_t>(gauges) + 1, 0.0);
    return e;
}

precip_date at(int y, int mo, int d, int h, int mi) {
    precip_date p;
    p.year = y;
    p.month = mo;
    p.day = d;
    p.hour = h;
    p.minute = mi;
    return p;
}

// One turn of the time loop as far as rain goes: the clock, the precipitation
// pieces, and the overland step's advance of the rain clock.
void rain_turn(model_state &s) {
    advance_clock(s);
    read_precip_event(s);
    read_radar_precip(s);
    apply_rainfall(s);
    if (clock_due(s, s.rain_clock)) take_clock_step(s, s.rain_clock);
}

class RainfallTest : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }
    in_scratch_dir dir_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Record rates

TEST(RecordRates, AccumulationsBecomeRatesOverTheirIntervals) {
    precip_event e = gauge_event(1, 3);
    e.accum = 1;
    e.dates[1] = at(2000, 7, 1, 10, 0);
    e.dates[2] = at(2000, 7, 1, 11, 0);
    e.dates[3] = at(2000, 7, 1, 12, 0);
    e.value(1, 1) = 0.0;
    e.value(2, 1) = 5.0;
    e.value(3, 1) = 12.0;
    ASSERT_EQ(convert_records_to_rates(e), 0);
    EXPECT_DOUBLE_EQ(e.value(1, 1), 5.0);
    EXPECT_DOUBLE_EQ(e.value(2, 1), 7.0);
}

TEST(RecordRates, GaugeDepthsOverMonthEndsAndLongGaps) {
    precip_event e = gauge_event(2, 4);
    e.gages = 1;
    e.dates[1] = at(2001, 1, 31, 23, 0);   // 2 h to the next record, across the month end
    e.dates[2] = at(2001, 2, 1, 1, 0);
    e.dates[3] = at(2004, 2, 28, 12, 0);   // leap February: 48 h to 1 March 12:00
    e.dates[4] = at(2004, 3, 1, 12, 0);
    e.value(2, 1) = 4.0;
    e.value(2, 2) = 1.0;
    e.value(4, 1) = 24.0;
    e.dates[2] = at(2001, 2, 1, 1, 0);
    // Record 2 to 3 is three years long: a warning, and depth 0.
    std::string out = frameworktest::capture_stdout([&] { ASSERT_EQ(convert_records_to_rates(e), 0); });
    EXPECT_NE(out.find("WARNING: you have a long delta t in your precip file"), std::string::npos);
    EXPECT_DOUBLE_EQ(e.value(1, 1), 2.0);   // 4 mm in 2 h
    EXPECT_DOUBLE_EQ(e.value(1, 2), 0.5);
    EXPECT_DOUBLE_EQ(e.value(3, 1), 0.5);   // 24 mm in 48 h
}

TEST(RecordRates, ThirtyMinuteRecordsAndRadarShift) {
    precip_event e = gauge_event(1, 2);
    e.gages = 1;
    e.dates[1] = at(1999, 3, 3, 23, 45);
    e.dates[2] = at(1999, 3, 4, 0, 15);
    e.value(2, 1) = 3.0;
    ASSERT_EQ(convert_records_to_rates(e), 0);
    EXPECT_DOUBLE_EQ(e.value(1, 1), 6.0);

    precip_event r = gauge_event(1, 3);
    r.radar = 1;
    r.value(1, 1) = 1.0;
    r.value(2, 1) = 2.0;
    r.value(3, 1) = 3.0;
    ASSERT_EQ(convert_records_to_rates(r), 0);
    EXPECT_DOUBLE_EQ(r.value(1, 1), 2.0);
    EXPECT_DOUBLE_EQ(r.value(2, 1), 3.0);

    precip_event rates = gauge_event(1, 2);
    rates.rates = 1;
    rates.value(1, 1) = 8.0;
    ASSERT_EQ(convert_records_to_rates(rates), 0);
    EXPECT_DOUBLE_EQ(rates.value(1, 1), 8.0);
}

TEST(RecordRates, RepeatedTimeOfDepthRecordsIsRefused) {
    reset_process_globals();
    precip_event e = gauge_event(1, 2);
    e.gages = 1;
    e.dates[1] = at(2000, 1, 1, 0, 0);
    e.dates[2] = at(2000, 1, 1, 0, 0);
    e.value(2, 1) = 1.0;
    int result = 0;
    capture_stdout([&] { result = convert_records_to_rates(e); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error_record.fatal, 1);
    reset_process_globals();
}

// ---------------------------------------------------------------------------
// Spreading

TEST(GaugeSpreading, InverseDistanceSquaredOnThreeGauges) {
    // One cell of 100 m whose centre is (50, -50); gauges 300, 400 and 500 m away.
    model_state s;
    set_grid(s, {"1"}, 100.0);
    precip_event e = gauge_event(3, 1);
    e.gauge_x = {0.0, 350.0, 50.0, -250.0};
    e.gauge_y = {0.0, -50.0, 350.0, -450.0};
    e.value(1, 1) = 10.0;
    e.value(1, 2) = 20.0;
    e.value(1, 3) = 30.0;
    ASSERT_EQ(spread_radar_rain(1, e, s.cell_number_grid, s.rain_rate, 1, 1, 100.0, 0.0, 0.0), 0);
    // (10/300^2 + 20/400^2 + 30/500^2) / (1/300^2 + 1/400^2 + 1/500^2)
    EXPECT_NEAR(s.rain_rate[1], 16.671001300390, 1e-9);
}

TEST(GaugeSpreading, CloseGaugeGivesItsValueAndOneGaugeEverywhere) {
    model_state s;
    set_grid(s, {"11"}, 100.0);
    precip_event e = gauge_event(2, 1);
    e.gauge_x = {0.0, 60.0, 1000.0};  // gauge 1 is 10 m from the first centre
    e.gauge_y = {0.0, -50.0, -50.0};
    e.value(1, 1) = 7.0;
    e.value(1, 2) = 1.0;
    ASSERT_EQ(spread_radar_rain(1, e, s.cell_number_grid, s.rain_rate, 1, 2, 100.0, 0.0, 0.0), 0);
    EXPECT_DOUBLE_EQ(s.rain_rate[1], 7.0);
    // Second centre (150, -50): 90 m from gauge 1 (closer than dx) gives 7 too.
    EXPECT_DOUBLE_EQ(s.rain_rate[2], 7.0);

    precip_event one = gauge_event(1, 1);
    one.gauge_x[1] = 1.0e7;  // far away: with one gauge no distance is used
    one.value(1, 1) = 4.0;
    ASSERT_EQ(spread_radar_rain(1, one, s.cell_number_grid, s.rain_rate, 1, 2, 100.0, 0.0, 0.0), 0);
    EXPECT_DOUBLE_EQ(s.rain_rate[2], 4.0);
}

TEST(GaugeSpreading, NoGaugeIsRefused) {
    reset_process_globals();
    model_state s;
    set_grid(s, {"1"}, 100.0);
    precip_event none = gauge_event(0, 1);
    int result = 0;
    capture_stdout([&] {
        result = spread_radar_rain(1, none, s.cell_number_grid, s.rain_rate, 1, 1, 100.0, 0.0, 0.0);
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error_record.fatal, 1);
    reset_process_globals();
    array_1d<int> nearest;
    alloc_1d_int(nearest, 1);
    capture_stdout([&] {
        result = find_neighbor(none, s.cell_number_grid, nearest, 1, 1, 0.0, 0.0, 100.0);
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error_record.fatal, 1);
    reset_process_globals();
}

TEST(GaugeSpreading, NearestGaugeTiesKeepTheLowerNumber) {
    model_state s;
    set_grid(s, {"101"}, 100.0);  // centres (50, -50) and (250, -50)
    precip_event e = gauge_event(3, 1);
    e.gauge_x = {0.0, 150.0, 150.0, 260.0};
    e.gauge_y = {0.0, 50.0, -150.0, -50.0};
    e.value(1, 1) = 1.0;
    e.value(1, 2) = 2.0;
    e.value(1, 3) = 3.0;
    array_1d<int> nearest;
    alloc_1d_int(nearest, 2);
    ASSERT_EQ(find_neighbor(e, s.cell_number_grid, nearest, 1, 3, 0.0, 0.0, 100.0), 0);
    EXPECT_EQ(nearest[1], 1);  // gauges 1 and 2 both sqrt(2) * 100 m away
    EXPECT_EQ(nearest[2], 3);
    spread_station_values(e, nearest, s.rain_rate, 2, 1);
    EXPECT_DOUBLE_EQ(s.rain_rate[1], 1.0);
    EXPECT_DOUBLE_EQ(s.rain_rate[2], 3.0);
}

// ---------------------------------------------------------------------------
// Rain over the grid

TEST_F(RainfallTest, UniformRainVolumeIsIntensityTimesDurationTimesArea) {
    model_state s;
    set_grid(s, {"111", "011"}, 30.0);
    s.uniform_rain_on = 1;
    s.rain_intensity = 36.0;  // mm/h
    s.rain_duration = 30.0;   // minutes
    s.time_step = 60.0;
    s.grid.start_year = 2010;
    s.grid.start_time_given = 1;
    s.start_days = julian_day(2010, 6, 1, 8, 0, 0.0);
    setup_precipitation(s);
    setup_start_time(s);
    ASSERT_EQ(error_record.fatal, 0);
    for (int turn = 0; turn < 60; ++turn) rain_turn(s);
    const double depth = 36.0 * 0.5 / 1000.0;  // 18 mm
    // Step lengths come from Julian-day clock times, good to about 1e-4 s.
    for (int k = 1; k <= s.cell_count; ++k) EXPECT_NEAR(s.depth[static_cast<std::size_t>(k)], depth, 1e-8);
    EXPECT_NEAR(s.event_rain_volume, depth * 5 * 30.0 * 30.0, 1e-5);
    EXPECT_NEAR(s.global_rain_volume, s.event_rain_volume, 1e-12);
    EXPECT_EQ(s.precip_state, 3);
    EXPECT_DOUBLE_EQ(s.rain_rate[1], 0.0);
    EXPECT_EQ(s.rain_steps_with_rain, 30);
    EXPECT_NEAR(s.rain_began_minutes, 0.0, 1e-6);  // the first rain step began at the start
}

TEST_F(RainfallTest, ChannelConstituentSlotsStartWithTheChannelSlot) {
    for (int transport : {0, 1}) {
        model_state s;
        set_grid(s, {"11"}, 10.0);
        s.uniform_rain_on = 1;
        s.rain_intensity = 10.0;
        s.rain_duration = 10.0;
        s.time_step = 60.0;
        s.grid.start_year = 2010;
        s.grid.start_time_given = 1;
        s.start_days = julian_day(2010, 6, 1, 8, 0, 0.0);
        s.chan_con_trans = transport;
        setup_precipitation(s);
        setup_start_time(s);
        ASSERT_EQ(error_record.fatal, 0);
        // With channel transport the routing, decay, outlet and groundwater slots
        // are due with the first channel step; without it they stay unset.
        const double next = transport ? s.channel_clock.next : 0.0;
        EXPECT_EQ(s.channel_constituent_clock.next, next);
        EXPECT_EQ(s.constituent_slots.decay.next, next);
        EXPECT_EQ(s.constituent_slots.groundwater.next, next);
        if (transport) {
            EXPECT_EQ(s.channel_constituent_clock.last, s.channel_clock.last);
        }
    }
}

TEST_F(RainfallTest, GaugeRecordsRainUntilTheLastRecord) {
    // GAGES depths of 2 mm at 10:10 and 3 mm at 10:30 for the two intervals from
    // 10:00: 12 mm/h for 10 min, then 9 mm/h for 20 min; then no rain.
    dir_.dir().write("storm.gag",
                     "EVENT test storm\nNRGAG 1\nNRPDS 3\nCOORD 0 0\n"
                     "GAGES 2003 8 1 10 00 0.0\nGAGES 2003 8 1 10 10 2.0\nGAGES 2003 8 1 10 30 3.0\n");
    model_state s;
    set_grid(s, {"11"}, 10.0);
    s.gauge_file_on = 1;
    s.thiessen_on = 1;
    s.precip_name = "storm.gag";
    s.precip_file = std::fopen("storm.gag", "r");
    s.time_step = 60.0;
    capture_stdout([&] {
        setup_precipitation(s);
        setup_start_time(s);
    });
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.now_days, julian_day(2003, 8, 1, 10, 0, 0.0));
    std::vector<double> rates;
    capture_stdout([&] {
        for (int turn = 0; turn < 45; ++turn) {
            rain_turn(s);
            rates.push_back(s.rain_rate[1]);
        }
    });
    ASSERT_EQ(error_record.fatal, 0);
    // Turn k rains over the minute that ends in it: nothing falls before 10:00.
    EXPECT_DOUBLE_EQ(rates[0], 0.0);
    EXPECT_DOUBLE_EQ(rates[1], 12.0);
    EXPECT_DOUBLE_EQ(rates[10], 12.0);
    EXPECT_DOUBLE_EQ(rates[11], 9.0);
    EXPECT_DOUBLE_EQ(rates[30], 9.0);
    EXPECT_DOUBLE_EQ(rates[31], 0.0);
    EXPECT_EQ(s.precip_state, 0);
    EXPECT_NEAR(s.depth[2], 0.005, 1e-9);  // 2 mm + 3 mm
    EXPECT_NEAR(s.event_rain_volume, 0.005 * 2 * 100.0, 1e-7);
    EXPECT_NEAR(s.event_rain_volume, (s.depth[1] + s.depth[2]) * 100.0, 1e-12);
    EXPECT_EQ(s.event_number, 1);
    std::fclose(s.precip_file);
    s.precip_file = nullptr;
}

TEST_F(RainfallTest, RecordTimesBetweenTurnsAreNotPassedOver) {
    // Records every 5 minutes with a 45 s step: no turn falls on 10:05.
    dir_.dir().write("storm.gag",
                     "EVENT odd\nNRGAG 1\nNRPDS 3\nCOORD 0 0\n"
                     "RATES 2003 8 1 10 00 6.0\nRATES 2003 8 1 10 05 3.0\nRATES 2003 8 1 10 10 0.0\n");
    model_state s;
    set_grid(s, {"1"}, 10.0);
    s.gauge_file_on = 1;
    s.precip_name = "storm.gag";
    s.precip_file = std::fopen("storm.gag", "r");
    s.time_step = 45.0;
    capture_stdout([&] {
        setup_precipitation(s);
        setup_start_time(s);
        for (int turn = 0; turn < 20; ++turn) rain_turn(s);
    });
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.precip_state, 0);
    EXPECT_DOUBLE_EQ(s.rain_rate[1], 0.0);
    // 6 mm/h for 7 turns (to 10:05:15), 3 mm/h for 7 turns (to 10:10:30), 45 s each.
    EXPECT_NEAR(s.depth[1], (7 * 6.0 + 7 * 3.0) * 45.0 / 3.6e6, 1e-9);
    std::fclose(s.precip_file);
    s.precip_file = nullptr;
}

TEST_F(RainfallTest, LakeCellsPassTheirRainToTheLake) {
    model_state s;
    set_grid(s, {"11"}, 10.0);
    s.overland_lake_on = 1;
    alloc_1d_int(s.overland_lake_id, 2);
    s.overland_lake_id[2] = 1;
    s.lakes.assign(2, lake_record{});
    s.rain_rate[1] = 36.0;
    s.rain_rate[2] = 36.0;
    s.precip_state = 1;
    s.time_tolerance_days = 1.1574074074074074e-07;
    s.now_days = 100.0;
    s.rain_clock.next = 100.0;
    s.rain_clock.last = 100.0 - 60.0 / 86400.0;
    apply_rainfall(s);
    EXPECT_NEAR(s.depth[1], 36.0 * 60.0 / 3.6e6, 1e-11);
    EXPECT_DOUBLE_EQ(s.depth[2], 0.0);
    EXPECT_NEAR(s.lakes[1].rain_volume, 36.0 * 60.0 / 3.6e6 * 100.0, 1e-9);
    EXPECT_NEAR(s.water.moved(ledger_node::atmosphere, ledger_node::overland_lakes), s.lakes[1].rain_volume, 1e-15);
    EXPECT_EQ(s.lake_update_flag, 1);
    // The lake cell keeps its rate, so a rate set once per event (uniform rain)
    // still reaches the lake in the next step.
    EXPECT_DOUBLE_EQ(s.rain_rate[2], 36.0);
    EXPECT_DOUBLE_EQ(s.step_rain_rate[2], 0.0);
    s.now_days = s.rain_clock.next = 100.0 + 60.0 / 86400.0;
    s.rain_clock.last = 100.0;
    apply_rainfall(s);
    EXPECT_NEAR(s.lakes[1].rain_volume, 36.0 * 60.0 / 3.6e6 * 100.0, 1e-9);
    EXPECT_NEAR(s.water.moved(ledger_node::atmosphere, ledger_node::overland_lakes), 2.0 * s.lakes[1].rain_volume, 1e-12);
    EXPECT_DOUBLE_EQ(s.depth[2], 0.0);
}

TEST_F(RainfallTest, CanopyOverALakeIsBookedOnce) {
    model_state s;
    set_grid(s, {"1"}, 10.0);
    s.overland_lake_on = 1;
    alloc_1d_int(s.overland_lake_id, 1);
    s.overland_lake_id[1] = 1;
    s.lakes.assign(2, lake_record{});
    s.interception_on = 1;
    alloc_1d_double(s.interception_capacity, 1);
    alloc_1d_double(s.interception_coefficient, 1);
    s.interception_capacity[1] = 0.5;
    s.month = 8;
    s.rain_rate[1] = 60.0;  // 1 mm in the minute
    s.precip_state = 1;
    s.time_tolerance_days = 1.1574074074074074e-07;
    s.now_days = 3.0;
    s.rain_clock.next = 3.0;
    s.rain_clock.last = 3.0 - 60.0 / 86400.0;
    apply_rainfall(s);
    // 0.5 mm caught, 0.5 mm to the lake: together the 1 mm that fell on 100 m2.
    EXPECT_NEAR(s.interception_total, 0.05, 1e-12);
    EXPECT_NEAR(s.lakes[1].rain_volume, 0.05, 1e-9);
    EXPECT_NEAR(s.interception_total + s.water.moved(ledger_node::atmosphere, ledger_node::overland_lakes), 0.1, 1e-9);
}

TEST_F(RainfallTest, NotANumberDepthStopsTheRun) {
    model_state s;
    set_grid(s, {"11"}, 10.0);
    s.rain_rate[2] = std::nan("");
    s.precip_state = 1;
    s.time_tolerance_days = 1.1574074074074074e-07;
    s.now_days = 5.0;
    s.rain_clock.next = 5.0;
    s.rain_clock.last = 5.0 - 60.0 / 86400.0;
    const std::string out = capture_stdout([&] { apply_rainfall(s); });
    EXPECT_NE(out.find("h NaN in main()- point 1, grid cell 2\n"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

// ---------------------------------------------------------------------------
// Canopy interception

TEST(CanopyInterception, SeasonalFactors) {
    EXPECT_DOUBLE_EQ(interception_season_factor(1, 30.0), 4.0);
    EXPECT_DOUBLE_EQ(interception_season_factor(4, 30.0), 2.5);
    EXPECT_DOUBLE_EQ(interception_season_factor(4, 37.0), 4.0);
    EXPECT_DOUBLE_EQ(interception_season_factor(5, 45.0), 3.0);
    EXPECT_DOUBLE_EQ(interception_season_factor(6, 45.0), 2.0);
    EXPECT_DOUBLE_EQ(interception_season_factor(8, 45.0), 1.0);
    EXPECT_DOUBLE_EQ(interception_season_factor(10, 10.0), 2.5);
    EXPECT_DOUBLE_EQ(interception_season_factor(12, 50.0), 4.0);
}

TEST(CanopyInterception, StoreFillsBeforeRainReachesTheGround) {
    // July (factor 1): capacity 2 mm, coefficient 0.5, 6 mm/h in 10-minute steps
    // of 1 mm each.
    array_1d<double> rate, net, store, capacity, coefficient;
    for (auto *a : {&rate, &net, &store, &capacity, &coefficient}) alloc_1d_double(*a, 1);
    array_1d<int> no_lakes;
    rate[1] = 6.0;
    capacity[1] = 2.0;
    coefficient[1] = 0.5;
    double total = 0.0;
    const double dx = 10.0;
    canopy_interception(1, 7, 40.0, rate, net, store, capacity, coefficient, &total, 0, no_lakes, 600.0, dx);
    EXPECT_DOUBLE_EQ(net[1], 0.0);
    EXPECT_DOUBLE_EQ(store[1], 1.0);
    canopy_interception(1, 7, 40.0, rate, net, store, capacity, coefficient, &total, 0, no_lakes, 600.0, dx);
    EXPECT_DOUBLE_EQ(net[1], 0.0);  // exactly full: nothing passes yet
    EXPECT_DOUBLE_EQ(store[1], 2.0);
    canopy_interception(1, 7, 40.0, rate, net, store, capacity, coefficient, &total, 0, no_lakes, 600.0, dx);
    EXPECT_DOUBLE_EQ(net[1], 3.0);  // half of the excess passes: 0.5 mm in 10 min
    EXPECT_DOUBLE_EQ(store[1], 2.5);
    // 2.5 mm caught on 100 m2 is 0.25 m3; with the net rain it makes the 3 mm fallen.
    EXPECT_NEAR(total, 0.25, 1e-15);
    EXPECT_NEAR(total + net[1] * 600.0 / 3.6e6 * dx * dx, 3.0 / 1000.0 * dx * dx, 1e-15);

    // December at 40 degrees: factor 4 divides capacity and coefficient.
    store[1] = 0.0;
    rate[1] = 12.0;  // 2 mm in the step
    canopy_interception(1, 12, 40.0, rate, net, store, capacity, coefficient, &total, 0, no_lakes, 600.0, dx);
    // room 0.5 mm, excess 1.5 mm of which 1/8 is caught.
    EXPECT_NEAR(store[1], 0.5 + 1.5 / 8.0, 1e-15);
    EXPECT_NEAR(net[1], 1.5 * 6.0 * (1.0 - 0.125), 1e-12);

    rate[1] = -1.0;
    canopy_interception(1, 7, 40.0, rate, net, store, capacity, coefficient, &total, 0, no_lakes, 600.0, dx);
    EXPECT_DOUBLE_EQ(net[1], 0.0);
}

TEST_F(RainfallTest, InterceptedRainDoesNotReachTheDepth) {
    model_state s;
    set_grid(s, {"1"}, 10.0);
    s.interception_on = 1;
    alloc_1d_double(s.interception_capacity, 1);
    alloc_1d_double(s.interception_coefficient, 1);
    s.interception_capacity[1] = 1.0;
    s.month = 7;
    s.latitude = 30.0;
    s.rain_rate[1] = 6.0;  // 0.1 mm a minute
    s.precip_state = 1;
    s.time_tolerance_days = 1.1574074074074074e-07;
    s.rain_clock.interval = 60.0 / 86400.0;
    s.now_days = 10.0;
    s.rain_clock.last = s.now_days - s.rain_clock.interval;
    s.rain_clock.next = s.now_days;
    for (int step = 0; step < 15; ++step) {
        apply_rainfall(s);
        take_clock_step(s, s.rain_clock);
        s.now_days = s.rain_clock.next;
    }
    // The first 10 minutes fill the 1 mm store; 5 minutes of 0.1 mm reach the ground.
    EXPECT_NEAR(s.interception_store[1], 1.0, 1e-12);
    EXPECT_NEAR(s.depth[1], 0.0005, 1e-12);
    EXPECT_NEAR(s.interception_total + s.event_rain_volume, 1.5e-3 * 100.0, 1e-12);
}

// ---------------------------------------------------------------------------
// Date check and maxima

TEST(GageHmetDates, FullDatesAgainstBothEnds) {
    std::string out;
    int r = 0;
    out = capture_stdout([&] { r = check_gage_hmet_dates(2000, 5, 2, 6, 2000, 1, 1, 0, 2000, 12, 31, 23); });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(out, "");
    out = capture_stdout([&] { r = check_gage_hmet_dates(1999, 5, 2, 6, 2000, 1, 1, 0, 2001, 12, 31, 23); });
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("Raingage Data starts in 1999, hydromet data doesn't start until 2000."),
              std::string::npos);
    // An earlier hour on the first day, in a period of several years.
    out = capture_stdout([&] { r = check_gage_hmet_dates(2000, 3, 1, 5, 2000, 3, 1, 6, 2003, 1, 1, 0); });
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("while the hmet data begins on hour 6 day 1 of month 3 in year 2000"),
              std::string::npos);
    out = capture_stdout([&] { r = check_gage_hmet_dates(2003, 1, 1, 1, 2000, 3, 1, 6, 2003, 1, 1, 0); });
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("while the hmet data ends on hour 0 day 1 of month 1 in year 2003"),
              std::string::npos);
    // The ends themselves are inside.
    EXPECT_EQ(check_gage_hmet_dates(2000, 3, 1, 6, 2000, 3, 1, 6, 2003, 1, 1, 0), 1);
    EXPECT_EQ(check_gage_hmet_dates(2003, 1, 1, 0, 2000, 3, 1, 6, 2003, 1, 1, 0), 1);
}

TEST(GageHmetDates, MonthAndDayMessagesAtEitherEnd) {
    std::string out;
    int r = 1;
    out = capture_stdout([&] { r = check_gage_hmet_dates(2000, 2, 9, 0, 2000, 3, 1, 0, 2003, 1, 1, 0); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out,
              "\nRaingage Data starts in month 2 of 2000 while hmet data starts in\n"
              "month 3 of 2000\n");
    out = capture_stdout([&] { r = check_gage_hmet_dates(2003, 4, 1, 0, 2000, 3, 1, 0, 2003, 1, 1, 0); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out,
              "\nRaingage Data starts in month 4 of 2003 while hmet data ends in\n"
              "month 1 of 2003\n");
    out = capture_stdout([&] { r = check_gage_hmet_dates(2000, 3, 2, 0, 2000, 3, 5, 0, 2003, 1, 1, 0); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out,
              "\nRaingage data starts on day 2 of month 3 in year 2000\n"
              "while the hmet data begins on day 5 of month 3 in year 2000\n");
    out = capture_stdout([&] { r = check_gage_hmet_dates(2003, 1, 7, 0, 2000, 3, 5, 0, 2003, 1, 1, 0); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out,
              "\nRaingage data starts on day 7 of month 1 in year 2003\n"
              "while the hmet data ends on day 1 of month 1 in year 2003\n");
    out = capture_stdout([&] { r = check_gage_hmet_dates(2004, 1, 1, 0, 2000, 3, 5, 0, 2003, 1, 1, 0); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out,
              "\nRaingage Data starts in 2004, hydromet data ends in 2003.\n"
              "Program terminating.  Check your dates.\n");
}

TEST(TrackMaxGrid, StrictlyLargerReplaces) {
    array_1d<double> value, max;
    alloc_1d_double(value, 3);
    alloc_1d_double(max, 3);
    value[1] = 2.0;
    value[2] = -1.0;
    value[3] = 5.0;
    max[3] = 5.0;
    track_max_grid(3, value, max);
    EXPECT_DOUBLE_EQ(max[1], 2.0);
    EXPECT_DOUBLE_EQ(max[2], 0.0);
    EXPECT_DOUBLE_EQ(max[3], 5.0);
}
