// The soil-water pieces of the time loop: the infiltration piece acts only when
// its clock is due, integrates over the time since its last run, books the step's
// infiltration in the totals, runs the kernels of the settings, and skips a dry
// spell of the redistribution scheme; the ET, meteorology and accounting pieces
// act only under their switches.
#include <gtest/gtest.h>

#include <string>

#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/soil_water_pieces.h"
#include "tests/model/hydrology/green_ampt_test_support.h"

namespace {

using namespace soiltest;

constexpr double day = 86400.0;

void set_clock(model_state &s, double now_days, double last, double next, double interval) {
    s.now_days = now_days;
    s.time_tolerance_days = 0.01 / day;
    s.infiltration_clock.last = last;
    s.infiltration_clock.next = next;
    s.infiltration_clock.interval = interval;
}

TEST(InfiltrationPiece, ActsOnlyWhenItsClockIsDue) {
    auto s = make_state(1, 1);
    set_soil(*s, silt_ks_cm_h, silt_psi_cm, 0.5, 0.5 - silt_dtheta);
    s->depth[1] = 0.05;
    set_clock(*s, 100.0, 100.0 - 60.0 / day, 100.0 + 30.0 / day, 60.0 / day);
    step_infiltration(*s);
    EXPECT_EQ(s->depth[1], 0.05);
    EXPECT_EQ(s->infiltration_clock.next, 100.0 + 30.0 / day);

    // Due within the tolerance: it integrates over the 60 s since its last run.
    s->infiltration_clock.next = 100.0 + 0.005 / day;
    step_infiltration(*s);
    auto reference = make_state(1, 1);
    set_soil(*reference, silt_ks_cm_h, silt_psi_cm, 0.5, 0.5 - silt_dtheta);
    reference->depth[1] = 0.05;
    infiltrate_green_ampt(*reference, 60.0);
    EXPECT_NEAR(s->cumulative_infiltration[1], reference->cumulative_infiltration[1], 1e-12);
    EXPECT_EQ(s->infiltration_clock.last, 100.0);
    EXPECT_EQ(s->infiltration_clock.next, 100.0 + 60.0 / day);
}

TEST(InfiltrationPiece, BooksTheStepInTheTotals) {
    auto s = make_state(2, 1);
    set_soil(*s, 2.0, 10.0, 0.45, 0.2);
    s->depth[1] = 0.01;
    s->depth[2] = 0.002;
    double now = 10.0;
    const double interval = 120.0 / day;
    set_clock(*s, now, now - interval, now, interval);
    for (int k = 0; k < 20; ++k) {
        step_infiltration(*s);
        now += interval;
        s->now_days = now;
    }
    const double f = s->cumulative_infiltration[1] + s->cumulative_infiltration[2];
    EXPECT_NEAR(s->infiltration_depth_total, f, 1e-15);
    EXPECT_NEAR(s->infiltration_volume_total, f * 100.0, 1e-12);
    EXPECT_NEAR(s->infiltration_volume_total + (s->depth[1] + s->depth[2]) * 100.0,
                (0.01 + 0.002) * 100.0, 1e-12);
    EXPECT_EQ(s->previous_infiltration[1], s->cumulative_infiltration[1]);
}

TEST(InfiltrationPiece, KernelsOfTheSettings) {
    model_state s;
    s.inf_green_ampt = 1;
    s.inf_layered = 1;
    infiltration_kernels k = choose_infiltration_kernels(s);
    ASSERT_EQ(k.count, 2);  // both run in the same step
    EXPECT_EQ(k.run[0], &infiltrate_green_ampt);
    s.inf_redist = 1;
    k = choose_infiltration_kernels(s);
    ASSERT_EQ(k.count, 1);  // redistribution alone
    EXPECT_EQ(k.run[0], &infiltrate_green_ampt_redist);
    model_state none;
    EXPECT_EQ(choose_infiltration_kernels(none).count, 0);
}

TEST(InfiltrationPiece, RedistributionCountsItsCallsAndSkipsADrySpell) {
    auto s = make_state(1, 2);
    set_soil(*s, silt_ks_cm_h, silt_psi_cm, 0.5, 0.2);
    s->soil_residual[1] = 0.05;
    s->soil_pore_index[1] = 0.3;
    s->event_number = 1;
    s->event_start_times = {0.0, 5.0, 9.0};
    s->rain_clock.interval = 60.0 / day;
    s->redist_wet_period = 1;
    set_clock(*s, 2.0, 2.0 - 60.0 / day, 2.0, 60.0 / day);
    step_infiltration(*s);
    EXPECT_EQ(s->redist_call_count, 1);
    EXPECT_EQ(s->redist_wet_period, 0);
    EXPECT_DOUBLE_EQ(s->infiltration_clock.next, 5.0 + 60.0 / day);

    // An active event keeps the step going.
    s->event_active = 1;
    s->now_days = s->infiltration_clock.next;
    step_infiltration(*s);
    EXPECT_EQ(s->redist_call_count, 2);
    EXPECT_DOUBLE_EQ(s->infiltration_clock.next, s->now_days + 60.0 / day);
}

TEST(InfiltrationPiece, NoSchemeDoesNothing) {
    auto s = make_state(1, 0);
    s->now_days = 1.0;
    s->infiltration_clock.next = 1.0;
    step_infiltration(*s);
    EXPECT_EQ(s->infiltration_clock.next, 1.0);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST(SoilWaterPieces, LaterProcessesActOnlyUnderTheirSwitches) {
    auto s = make_state(1, 1);
    s->now_days = 3.0;
    s->time_tolerance_days = 0.01 / day;
    s->et_clock.next = s->hydromet_clock.next = s->sacramento_clock.next = 3.0;
    step_evapotranspiration(*s);  // only with redistribution
    step_longterm_hydromet(*s);   // only in long-term runs
    step_sacramento(*s);          // only with soil-moisture accounting
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s->et_clock.next, 3.0);
    EXPECT_EQ(s->hydromet_clock.next, 3.0);
    EXPECT_EQ(s->sacramento_clock.next, 3.0);
}

TEST(SoilWaterPieces, SoilMoistureOfACell) {
    auto s = make_state(2, 2);
    s->root_zone_depth[1] = 40.0;
    s->root_zone_water[1] = 10.0;
    s->soil_porosity[2] = 0.42;
    EXPECT_DOUBLE_EQ(cell_soil_moisture(*s, 1), 0.25);
    EXPECT_DOUBLE_EQ(cell_soil_moisture(*s, 2), 0.42);  // no root zone: saturated cell
}

}  // namespace
