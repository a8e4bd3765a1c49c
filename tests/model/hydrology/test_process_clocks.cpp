// Tests of the model clock and the process clocks: the due rule with its
// tolerance, the step of a due clock, a piece on a slower clock inside the time
// loop, the calendar and day of the year, the peak tracking, the progress line
// and every rule of the end test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "model/core/calendar.h"
#include "model/calibration/calibration_services.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/process_clocks.h"
#include "model/core/model_state.h"
#include "model/project/run_model.h"

namespace {

constexpr double tolerance = 1.1574074074074074e-07;  // 0.01 s in days

class Clocks : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.time_tolerance_days = tolerance;
        s.start_days = julian_day(2001, 6, 15, 0, 0, 0.0);
        s.now_days = s.start_days;
    }
    void TearDown() override { reset_process_globals(); }
    template <class F>
    std::string printed(F &&fn) {
        testing::internal::CaptureStdout();
        fn();
        return testing::internal::GetCapturedStdout();
    }
    model_state s;
};

TEST_F(Clocks, DueOnlyStrictlyWithinTheTolerance) {
    process_clock c;
    c.next = s.now_days;
    EXPECT_TRUE(clock_due(s, c));
    c.next = s.now_days + 0.5 * tolerance;
    EXPECT_TRUE(clock_due(s, c));
    c.next = s.now_days - 2.0 * tolerance;
    EXPECT_FALSE(clock_due(s, c));
    c.next = s.now_days + 60.0 / 86400.0;
    EXPECT_FALSE(clock_due(s, c));
    c.next = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(clock_due(s, c));
}

TEST_F(Clocks, DueClockStepsOverTheTimeSinceItsLastRun) {
    process_clock c;
    c.interval = 120.0 / 86400.0;
    c.last = s.now_days - 90.0 / 86400.0;
    c.next = s.now_days;
    EXPECT_NEAR(clock_step_seconds(s, c), 90.0, 1e-4);
    EXPECT_NEAR(take_clock_step(s, c), 90.0, 1e-4);
    EXPECT_EQ(c.last, s.now_days);
    EXPECT_EQ(c.next, s.now_days + c.interval);
}

TEST_F(Clocks, FirstTurnRunsAtTheStartTime) {
    s.time_step = 30.0;
    s.time_step_days = 30.0 / 86400.0;
    advance_clock(s);
    EXPECT_EQ(s.now_days, s.start_days);
    EXPECT_EQ(s.step_number, 0);
    EXPECT_DOUBLE_EQ(s.elapsed_minutes, 0.0);
    EXPECT_EQ(s.clock_calls, 1);
    EXPECT_EQ(s.year, 2001);
    EXPECT_EQ(s.month, 6);
    EXPECT_EQ(s.day, 15);
    EXPECT_EQ(s.day_of_year, 166);
    for (int k = 0; k < 3; ++k) advance_clock(s);
    EXPECT_EQ(s.step_number, 3);
    EXPECT_EQ(s.step_counter2, 3);
    EXPECT_DOUBLE_EQ(s.now_days, 3 * s.time_step_days + s.start_days);
    EXPECT_DOUBLE_EQ(s.elapsed_minutes, 1.5);
    EXPECT_EQ(s.minute, 1);
    EXPECT_EQ(s.second_int, 30);
}

// A 60-second process inside a loop of 30-second turns, with pieces injected into
// the run driver's loop.
std::vector<double> slow_steps;
int turns = 0;

void slow_piece(model_state &s) {
    if (!clock_due(s, s.rain_clock)) return;
    slow_steps.push_back(take_clock_step(s, s.rain_clock));
}
void stop_after_eight(model_state &s) {
    if (++turns == 8) s.keep_running = 0;
}

TEST_F(Clocks, SlowerProcessActsEverySecondTurnOverItsWholeInterval) {
    s.time_step = 30.0;
    s.time_step_days = 30.0 / 86400.0;
    s.rain_clock.interval = 60.0 / 86400.0;
    s.rain_clock.last = s.start_days - s.rain_clock.interval;
    s.rain_clock.next = s.start_days;
    s.keep_running = 1;
    slow_steps.clear();
    turns = 0;
    const time_step_piece pieces[] = {{"advance_clock", advance_clock},
                                      {"slow", slow_piece},
                                      {"stop", stop_after_eight}};
    EXPECT_TRUE(run_time_loop(s, pieces));
    ASSERT_EQ(slow_steps.size(), 4u);  // turns 1, 3, 5, 7
    for (double dt : slow_steps) EXPECT_NEAR(dt, 60.0, 1e-3);
}

TEST(DayOfYear, GregorianRule) {
    std::array<int, 13> days{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    EXPECT_EQ(day_of_year(2001, 1, 17, days), 17);
    EXPECT_EQ(day_of_year(2004, 3, 1, days), 61);
    EXPECT_EQ(days[2], 29);
    EXPECT_EQ(day_of_year(2003, 3, 1, days), 60);
    EXPECT_EQ(days[2], 28);
    EXPECT_EQ(day_of_year(2000, 3, 1, days), 61);  // divisible by 400
    EXPECT_EQ(day_of_year(2100, 3, 1, days), 60);  // a century, not a leap year
    EXPECT_EQ(day_of_year(1900, 3, 1, days), 60);
    EXPECT_EQ(day_of_year(1996, 12, 31, days), 366);
    EXPECT_FALSE(is_leap_year(1900));
    EXPECT_TRUE(is_leap_year(1904));
}

TEST_F(Clocks, EqualPeaksKeepTheFirstTime) {
    s.year = 2001;
    s.hour = 3;
    s.outlet_discharge = 4.0;
    track_peak_discharge(s);
    const double first = s.now_days;
    EXPECT_DOUBLE_EQ(s.peak_outlet_discharge, 4.0);
    s.now_days += 0.01;
    s.hour = 4;
    track_peak_discharge(s);
    EXPECT_EQ(s.peak_time_days, first);
    EXPECT_EQ(s.peak_calendar[3], 3);
    s.outlet_discharge = 4.5;
    track_peak_discharge(s);
    EXPECT_EQ(s.peak_time_days, s.now_days);
    EXPECT_EQ(s.peak_calendar[3], 4);
}

TEST_F(Clocks, CalibrationVolumeOnlyInTurnsOfTheChannelStep) {
    calibration_results r;
    r.location_peak.assign(2, 0.0);
    r.location_volume.assign(2, 0.0);
    s.calib_results = &r;
    s.calibration_run = 1;
    s.in_hyd_location_on = 1;
    s.chan_explicit = 1;
    s.hyd_location_count = 1;
    s.hyd_location_link = {0, 2};
    s.hyd_location_node = {0, 3};
    s.channels.link_count = 2;
    alloc_1d_int(s.channels.node_count, 2);
    s.channels.node_count[2] = 3;
    alloc_2d_double(s.channels.discharge, 3, 2, "q");
    s.channels.discharge[3][2] = 2.5;
    s.channel_step_seconds = 60.0;
    // A 60 s channel step over 30 s turns: the step ran in the first turn only.
    s.channel_clock.last = s.now_days;
    track_peak_discharge(s);
    s.now_days += 30.0 / 86400.0;
    track_peak_discharge(s);
    EXPECT_DOUBLE_EQ(r.location_volume[1], 150.0);
    EXPECT_DOUBLE_EQ(r.location_peak[1], 2.5);
}

TEST_F(Clocks, ProgressLineInCubicMetresAndFeet) {
    s.event_number = 1;
    s.elapsed_minutes = 90.0;
    s.year = 2001;
    s.month = 6;
    s.day = 15;
    s.hour = 1;
    s.minute = 30;
    s.second_int = 0;
    s.outlet_discharge = 1.5;
    s.rain_clock.last = s.now_days;  // the overland step ran
    EXPECT_EQ(printed([&] { print_progress(s); }),
              "event  1 elapsed time    90.00   6/15/2001 01:30:00 Qout=    1.50 cms\n");
    s.discharge_in_cfs = 1;
    EXPECT_EQ(printed([&] { print_progress(s); }),
              "event  1 elapsed time    90.00   6/15/2001 01:30:00 Qout=      53.0 cfs\n");
    s.quiet_card = 1;
    EXPECT_EQ(printed([&] { print_progress(s); }), "");
    s.quiet_card = 0;
    s.rain_clock.last = s.now_days - 1.0;  // no overland step in this turn
    EXPECT_EQ(printed([&] { print_progress(s); }), "");
}

TEST_F(Clocks, ProgressFollowsTheChannelClockWithChannels) {
    s.chan_explicit = 1;
    s.rain_clock.last = s.now_days;
    s.channel_clock.last = s.now_days - 1.0;
    EXPECT_EQ(printed([&] { print_progress(s); }), "");
    s.channel_clock.last = s.now_days;
    EXPECT_NE(printed([&] { print_progress(s); }), "");
}

TEST_F(Clocks, ChannelExtremesKeepTheFirstOfEqualNodes) {
    s.quiet = 1;
    s.channel_extremes_on = 1;
    s.rain_clock.last = s.now_days;
    channel_network &c = s.channels;
    c.link_count = 2;
    alloc_1d_int(c.node_count, 2);
    c.node_count[1] = 2;
    c.node_count[2] = 1;
    alloc_2d_double(c.water_surface, 2, 2, "wse");
    alloc_2d_double(c.bed_elevation, 2, 2, "bed");
    alloc_2d_double(c.discharge, 2, 2, "q");
    c.water_surface[1][1] = 11.0;  // Yp 1.0
    c.water_surface[2][1] = 12.0;  // Yp 2.0
    c.water_surface[1][2] = 12.0;  // Yp 2.0, later: not the maximum
    for (int n = 1; n <= 2; ++n)
        for (int l = 1; l <= 2; ++l) c.bed_elevation[n][l] = 10.0;
    c.discharge[1][1] = 3.0;
    c.discharge[2][1] = 0.5;
    c.discharge[1][2] = 0.5;
    EXPECT_EQ(printed([&] { print_progress(s); }),
              "    ==> Max Yp (N 2, L 1) = 2.000000\n"
              "    ==> Min Yp (N 1, L 1) = 1.000000\n"
              "    ==> Max Qp (N 1, L 1) = 3.000000\n"
              "    ==> Min Qp (N 2, L 1) = 0.500000\n");
}

TEST_F(Clocks, StopTimeEndsTheRun) {
    s.keep_running = 1;
    s.event_active = 1;
    s.end_time_on = 1;
    s.end_time_days = s.now_days - 0.001;
    s.long_term = 1;
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 0);
    EXPECT_EQ(s.end_of_run, 1);
    EXPECT_EQ(s.end_of_event, 1);
    EXPECT_EQ(s.event_active, 0);
}

TEST_F(Clocks, EventRunEndsInTheTurnAtItsEndTime) {
    s.keep_running = 1;
    s.simulation_end_time = s.now_days + 30.0 / 86400.0;  // one 30 s turn ahead
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 1);
    s.now_days = s.simulation_end_time - 0.5 * s.time_tolerance_days;  // a rounded turn time
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 0);
    EXPECT_EQ(s.end_of_event, 1);
    EXPECT_EQ(s.end_of_run, 0);
}

// A long-term run in its last event, the rain over, the outlet below 0.05 m3/s.
class LongTermEnd : public Clocks {
protected:
    void SetUp() override {
        Clocks::SetUp();
        s.long_term = 1;
        s.keep_running = 1;
        s.event_active = 1;
        s.precip_state = 3;
        s.event_number = 2;
        s.event_count = 2;
        s.outlet_discharge = 0.01;
        s.event_min_q = 0.0;  // below 0.00001: 0.05 is used
        s.cell_count = 2;
        s.cell_size = 10.0;
        alloc_1d_double(s.depth, 2);
    }
};

TEST_F(LongTermEnd, PeakAboveTheThresholdEndsTheLastEvent) {
    s.peak_outlet_discharge = 0.05;
    const std::string out = printed([&] { check_simulation_end(s); });
    EXPECT_EQ(out, "simulation ended normally at point 2\n");
    EXPECT_EQ(s.keep_running, 0);
    EXPECT_EQ(s.event_active, 0);
    EXPECT_EQ(s.end_of_event, 1);
}

TEST_F(LongTermEnd, WaterStillOnTheSurfaceKeepsTheEventGoing) {
    s.peak_outlet_discharge = 1.0;
    s.event_rain_volume = 100.0;
    s.event_start_surface_volume = 0.0;
    s.depth[1] = 0.06;  // 6 m3: more than 0.05 of the rain volume
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 1);
    EXPECT_EQ(s.event_active, 1);
    s.depth[1] = 0.04;
    printed([&] { check_simulation_end(s); });
    EXPECT_EQ(s.keep_running, 0);
}

TEST_F(LongTermEnd, ChannelsStillFlowingKeepTheEventGoing) {
    s.peak_outlet_discharge = 0.01;
    s.chan_explicit = 1;
    s.channels.link_count = 1;
    alloc_1d_int(s.channels.node_count, 1);
    s.channels.node_count[1] = 1;
    alloc_2d_double(s.channels.discharge, 1, 1, "q");
    s.channels.discharge[1][1] = 0.06;
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 1);
    EXPECT_EQ(s.event_active, 1);
    s.channels.discharge[1][1] = 0.05;
    EXPECT_EQ(printed([&] { check_simulation_end(s); }), "simulation ended normally at point 1\n");
    EXPECT_EQ(s.keep_running, 0);
}

TEST_F(LongTermEnd, EndOfTheWeatherEndsALastEventWithoutPeakOrDraining) {
    // No peak and no channels: the event goes on while there is weather ...
    s.peak_outlet_discharge = 0.01;
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 1);
    EXPECT_EQ(s.event_active, 1);
    // ... and ends once the weather has run out (end marker on the clock).
    s.hydromet_clock.next = -10.0;
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 0);
    EXPECT_EQ(s.event_active, 0);
    // Water still on the surface no longer holds it either.
    s.keep_running = s.event_active = 1;
    s.peak_outlet_discharge = 1.0;
    s.event_rain_volume = 100.0;
    s.depth[1] = 0.06;
    printed([&] { check_simulation_end(s); });
    EXPECT_EQ(s.keep_running, 0);
}

TEST_F(LongTermEnd, RainingOrInactiveEventsDoNotEnd) {
    s.peak_outlet_discharge = 1.0;
    s.precip_state = 1;
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 1);
    s.precip_state = 0;
    s.event_active = 0;
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 1);
}

TEST_F(LongTermEnd, EarlierEventEndsAndTheClocksSkipTheDrySpell) {
    s.event_number = 1;
    s.peak_outlet_discharge = 1.0;
    s.event_start_times = {s.start_days, s.start_days + 3.0};
    s.rain_clock.interval = 60.0 / 86400.0;
    EXPECT_EQ(printed([&] { check_simulation_end(s); }), "");  // not the last event
    EXPECT_EQ(s.keep_running, 1);
    EXPECT_EQ(s.event_active, 0);
    EXPECT_EQ(s.end_of_event, 1);
    // The next event's first rain step begins at its start.
    EXPECT_DOUBLE_EQ(s.rain_clock.next, s.start_days + 3.0 + s.rain_clock.interval);
    EXPECT_DOUBLE_EQ(s.rain_clock.last, s.start_days + 3.0);
    EXPECT_DOUBLE_EQ(s.channel_clock.next, s.rain_clock.next);
    EXPECT_DOUBLE_EQ(s.constituent_clock.last, s.rain_clock.last);
}

TEST_F(LongTermEnd, StatefulProcessesKeepTheirClocks) {
    s.event_number = 1;
    s.peak_outlet_discharge = 1.0;
    s.event_start_times = {s.start_days, s.start_days + 3.0};
    s.groundwater_on = 1;
    s.rain_clock.next = 7.0;
    check_simulation_end(s);
    EXPECT_EQ(s.end_of_event, 1);
    EXPECT_DOUBLE_EQ(s.rain_clock.next, 7.0);
}

TEST_F(LongTermEnd, EndOfTheMeteorologicalDataEndsTheRun) {
    s.outlet_discharge = 1.0;  // not below the threshold: the event is still on
    s.hydromet_clock.next = -10.0;
    check_simulation_end(s);
    EXPECT_EQ(s.keep_running, 0);  // with no water table or Sacramento either
    EXPECT_EQ(s.end_of_run, 1);
    EXPECT_EQ(s.end_of_event, 1);
}

}  // namespace
