// The soil-water pieces of the time loop: the infiltration piece acts only when
// its clock is due, integrates over the time since its last run, books the step's
// infiltration in the totals, runs the kernels of the settings, and skips a dry
// spell of the redistribution scheme; the ET, meteorology and accounting pieces
// act only under their switches. The root-zone withdrawal, snowmelt and the
// frozen-ground index against hand values and the root-zone water balance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/soil_water_pieces.h"
#include "model/hydrology/soil_water_services.h"
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
    s->soil_residual.full()[1] = 0.05;
    s->soil_pore_index.full()[1] = 0.3;
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
    s->soil_porosity.full()[2] = 0.42;
    EXPECT_DOUBLE_EQ(cell_soil_moisture(*s, 1), 0.25);
    EXPECT_DOUBLE_EQ(cell_soil_moisture(*s, 2), 0.42);  // no root zone: saturated cell
}

// A long-term redistribution state of `cells` cells: root zone of depth d (cm)
// under an upper layer of 10 cm, porosity 0.45, residual 0.05, field capacity
// 0.3, wilting point 0.1, Ks 1 cm/h, pore index 0.5, PET 1e-5 cm/s.
std::unique_ptr<model_state> root_zone_state(int cells, double d) {
    auto s = make_state(cells, 2);
    s->long_term = 1;
    s->top_layer_depth_cm = 10.0;
    alloc_1d_double(s->potential_et, cells);
    alloc_1d_double(s->rain_rate, cells);
    alloc_1d_double(s->soil_sixth, cells);  // a table's field capacity
    alloc_1d_double(s->root_zone_bottom_flux, cells);  // made with the long-term inputs
    for (int i = 1; i <= cells; ++i) {
        s->soil_porosity.full()[i] = 0.45;
        s->soil_residual.full()[i] = 0.05;
        s->soil_sixth[i] = 0.3;  // field capacity
        s->wilting_point[i] = 0.1;
        s->soil_ksat.full()[i] = cm_h_to_m_s(1.0);
        s->soil_pore_index.full()[i] = 0.5;
        s->root_zone_depth[i] = d;
        s->potential_et[i] = 1e-5;
    }
    return s;
}

void set_root_water(model_state &s, int i, double upper, double lower) {
    s.root_upper_water[i] = upper;
    s.root_lower_water[i] = lower;
    s.root_zone_water[i] = upper + lower;
}

TEST(RootZoneEt, PondingDeeperThanTheDemandLeavesTheSoilAlone) {
    auto s = root_zone_state(1, 40.0);
    set_root_water(*s, 1, 2.0, 6.0);  // below field capacity: no drainage
    s->depth[1] = 0.001;              // 0.1 cm of ponding, demand 0.036 cm
    const double removed = soil_et_withdrawal(*s, 3600.0);
    EXPECT_NEAR(removed, 0.00036, 1e-15);
    EXPECT_NEAR(s->depth[1], 0.001 - 0.00036, 1e-15);
    EXPECT_NEAR(s->ponded_evaporation[1], 0.036, 1e-15);
    EXPECT_EQ(s->root_upper_water[1], 2.0);
    EXPECT_EQ(s->root_lower_water[1], 6.0);
    EXPECT_EQ(s->root_zone_bottom_flux[1], 0.0);

    // Shallower ponding: the rest of the demand comes from the soil.
    s->depth[1] = 0.0001;
    const double second = soil_et_withdrawal(*s, 3600.0);
    EXPECT_EQ(s->depth[1], 0.0);
    EXPECT_NEAR(s->ponded_evaporation[1], 0.046, 1e-15);
    EXPECT_GT(second, 0.0001);
    EXPECT_LT(s->root_zone_water[1], 8.0);
}

TEST(RootZoneEt, StressFormsShareTheDemandBetweenTheLayers) {
    // Upper layer 10 cm with 2 cm (between wilting point 1 and field capacity
    // 3), lower layer 30 cm at field capacity (9 cm); demand 0.036 cm.
    struct stress_case {
        const char *name;
        int deardorff;
        double depth, et1, et2;
    };
    const std::vector<stress_case> cases = {
        {"wilting-point form", 0, 40.0, 0.036 * 0.5 * 10.0 / 40.0, 0.036 * 1.0 * 30.0 / 40.0},
        {"Deardorff form", 1, 40.0, 0.036 * (2.0 / 3.0) * 10.0 / 40.0, 0.036 * 1.0 * 30.0 / 40.0},
        {"one layer", 0, 10.0, 0.036 * 0.5, 0.0},
    };
    for (const stress_case &c : cases) {
        auto s = root_zone_state(1, c.depth);
        s->et_deardorff = c.deardorff;
        set_root_water(*s, 1, 2.0, 9.0);
        const double removed = soil_et_withdrawal(*s, 3600.0);
        EXPECT_NEAR(removed, (c.et1 + c.et2) / 100.0, 1e-15) << c.name;
        EXPECT_NEAR(s->root_upper_water[1], 2.0 - c.et1, 1e-13) << c.name;
        EXPECT_NEAR(s->root_lower_water[1], 9.0 - c.et2, 1e-13) << c.name;
        const double zone = c.depth > 10.0 ? 11.0 - c.et1 - c.et2 : 2.0 - c.et1;
        EXPECT_NEAR(s->root_zone_water[1], zone, 1e-13) << c.name;
    }
}

TEST(RootZoneEt, RootZoneWaterBalanceOfEveryStep) {
    // Inflow = change of root-zone water + ET + drainage to the bottom store, to
    // 1e-9 cm per cell and step, over wet, saturated, draining, residual-limited
    // and one-layer cells, for both stress forms.
    struct cell_case {
        double depth, upper, lower, infiltration_m;
    };
    const std::vector<cell_case> cells = {{40.0, 4.0, 12.0, 0.002}, {40.0, 4.5, 13.5, 0.01},
                                          {10.0, 0.6, 0.0, 0.0},    {40.0, 0.5, 1.5, 0.0005},
                                          {40.0, 3.5, 10.0, 0.0},   {40.0, 2.0, 13.0, 0.05},
                                          {25.0, 1.2, 2.0, 0.0}};
    for (int form = 0; form <= 1; ++form) {
        for (const cell_case &c : cells) {
            auto s = root_zone_state(1, c.depth);
            s->et_deardorff = form;
            set_root_water(*s, 1, c.upper, c.lower);
            double taken = 0.0;
            for (int step = 0; step < 5; ++step) {
                const double inflow = c.infiltration_m * 100.0;
                s->step_infiltration_depth[1] = c.infiltration_m;
                const double before = s->root_zone_water[1], bottom = s->root_zone_bottom_flux[1];
                const double et = soil_et_withdrawal(*s, 3600.0) * 100.0;
                const double change = s->root_zone_water[1] - before;
                const double drained = s->root_zone_bottom_flux[1] - bottom;
                EXPECT_NEAR(inflow, change + et + drained, 1e-9) << form << " " << c.upper;
                EXPECT_GE(et, 0.0);
                EXPECT_LE(et, 0.036 + 1e-15);
                EXPECT_GE(s->root_upper_water[1], 0.5 * std::fmin(c.depth, 10.0) / 10.0 - 1e-12);
                EXPECT_LE(s->root_upper_water[1], 0.45 * std::fmin(c.depth, 10.0) + 1e-12);
                EXPECT_EQ(s->step_infiltration_depth[1], 0.0);
                taken += et;
            }
            EXPECT_NEAR(s->root_zone_infiltration_total, 5.0 * c.infiltration_m, 1e-15);
            if (c.upper > 1.0) {
                EXPECT_GT(taken, 0.0) << form << " " << c.upper;
            }
        }
    }
}

TEST(RootZoneEt, RainSnowAndAnEmptyRootZone) {
    auto s = root_zone_state(3, 40.0);
    alloc_1d_double(s->snow_store, 3);
    for (int i = 1; i <= 3; ++i) set_root_water(*s, i, 2.0, 6.0);
    s->rain_rate[1] = 2.0;  // rain: no ET
    s->snow_flag = 1;
    s->snow_store[2] = 0.01;  // snow: no ET
    s->root_zone_depth[3] = 0.0;
    s->step_infiltration_depth[3] = 0.001;
    const double removed = soil_et_withdrawal(*s, 3600.0);
    EXPECT_EQ(s->root_zone_water[1], 8.0);
    EXPECT_EQ(s->root_zone_water[2], 8.0);
    // The empty root zone is flagged; its ET and infiltration go to the store.
    EXPECT_EQ(s->saturated_cell[3], 1);
    EXPECT_NEAR(removed, 0.036 / 100.0, 1e-15);
    EXPECT_NEAR(s->root_zone_bottom_flux[3], 0.1 - 0.036, 1e-15);
    EXPECT_NEAR(s->root_zone_infiltration_total, 0.001, 1e-15);
    // From then on the flagged cell loses its ET from the store and keeps its
    // infiltration of the step.
    s->step_infiltration_depth[3] = 0.002;
    soil_et_withdrawal(*s, 3600.0);
    EXPECT_NEAR(s->root_zone_bottom_flux[3], 0.1 - 0.072, 1e-15);
    EXPECT_EQ(s->step_infiltration_depth[3], 0.002);
    EXPECT_NEAR(s->flagged_cell_et_total, 0.072 / 100.0, 1e-15);
}

void set_weather(model_state &s, double t, double rh, double p_mbar, double u) {
    s.hmet_hour.air_temperature = t;
    s.hmet_hour.relative_humidity = rh;
    s.hmet_hour.pressure = p_mbar;
    s.hmet_hour.wind_speed = u;
}

TEST(Snowmelt, OneHourByHand) {
    // 5 degrees C, 80 %, 1000 mb, 2 m/s: U = 0.00144, ea = 6.9757 mb,
    // Qe = 0.74795, Qh = 2.6352, Ql = 2.66522 cal/cm2/h; melt = sum / 80 / 100 m.
    auto s = make_state(3, 2);
    alloc_1d_double(s->snow_store, 3);
    alloc_1d_double(s->rain_rate, 3);
    s->snow_store[1] = 0.1;
    s->snow_store[2] = 0.1;
    s->rain_rate[2] = 10.0;
    s->snow_store[3] = 1e-6;
    set_weather(*s, 5.0, 80.0, 1000.0, 2.0);
    EXPECT_EQ(snowmelt_energy_balance(*s, 3600.0, 0), 1);
    EXPECT_NEAR(s->snow_store[1], 0.1 - 0.0007560463550215161, 1e-12);
    EXPECT_NEAR(s->depth[1], 0.0007560463550215161, 1e-12);
    EXPECT_EQ(s->snow_store[2], s->snow_store[1]);  // no rain heat
    EXPECT_EQ(s->snow_store[3], 0.0);               // never below 0
    EXPECT_EQ(s->depth[3], 1e-6);

    // With rain heat, 10 mm/h at 5 degrees adds Qr = 5.
    s->snow_store[2] = 0.1;
    s->depth[2] = 0.0;
    snowmelt_energy_balance(*s, 3600.0, 1);
    EXPECT_NEAR(s->depth[2], 0.001381046355021516, 1e-12);

    // Cold air melts nothing; the last snow gone gives 0.
    set_weather(*s, -15.0, 50.0, 1000.0, 2.0);
    const double left = s->snow_store[1];
    EXPECT_EQ(snowmelt_energy_balance(*s, 3600.0, 0), 1);
    EXPECT_EQ(s->snow_store[1], left);
    s->snow_store[1] = s->snow_store[2] = 1e-9;
    set_weather(*s, 5.0, 80.0, 1000.0, 2.0);
    EXPECT_EQ(snowmelt_energy_balance(*s, 3600.0, 0), 0);
}

TEST(FrozenGroundIndex, DecaysAndGrowsWithTheCold) {
    auto s = make_state(3, 2);
    alloc_1d_double(s->frozen_ground_index, 3);
    alloc_1d_double(s->snow_store, 3);
    s->frozen_ground_index[1] = 10.0;
    s->frozen_ground_index[2] = 10.0;
    s->frozen_ground_index[3] = 0.1;
    s->snow_store[2] = 0.01;
    s->hmet_hour.air_temperature = 0.0;
    decay_cell_store(*s);
    EXPECT_EQ(s->frozen_ground_index[1], 0.99875 * 10.0);  // only decays at 0 degrees
    s->frozen_ground_index[1] = s->frozen_ground_index[2] = 10.0;
    s->hmet_hour.air_temperature = -12.0;
    decay_cell_store(*s);
    EXPECT_DOUBLE_EQ(s->frozen_ground_index[1], 0.99875 * 10.0 + 0.5);
    EXPECT_DOUBLE_EQ(s->frozen_ground_index[2], 0.99875 * 10.0 + 0.5 * std::exp(-0.4 * 0.08 * 1.0));
    s->frozen_ground_index[3] = 0.1;
    s->hmet_hour.air_temperature = 6.0;
    decay_cell_store(*s);
    EXPECT_DOUBLE_EQ(s->frozen_ground_index[1], std::fmax(0.0, 0.99875 * (0.99875 * 10.0 + 0.5) - 0.25));
    EXPECT_EQ(s->frozen_ground_index[3], 0.0);  // never below 0
}

}  // namespace
