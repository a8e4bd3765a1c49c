// Potential evapotranspiration: the FAO-56 reference values of the vapour,
// density, psychrometric and resistance terms, published solar geometry (air
// mass, earth-sun distance, declination), the energy-balance root against
// bisection by day and by night, and whole hours against hand evaluations of the
// bulk-transfer and Penman-Monteith forms (pressure read in millibars).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/hydrology/evapotranspiration.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/model_state.h"

namespace {

using frameworktest::capture_stdout;

constexpr double deg = 3.141592654 / 180.0;

TEST(EtTerms, Fao56ReferenceValues) {
    struct row {
        double t, es, delta;
    };
    for (const row &r : {row{20.0, 2.338, 0.1447}, row{25.0, 3.168, 0.1887}, row{30.0, 4.243, 0.2434}}) {
        EXPECT_NEAR(saturation_vapour_pressure(r.t), r.es, 5e-4) << r.t;
        EXPECT_NEAR(vapour_pressure_slope(r.t), r.delta, 5e-5) << r.t;
    }
    EXPECT_NEAR(psychrometric_constant(101.3, 2.50036), 0.06598, 5e-6);
    EXPECT_NEAR(air_density(101.3, 20.0), 1.197, 5e-4);
    EXPECT_NEAR(aerodynamic_resistance(0.12, 1.0), 212.0, 0.05);
}

TEST(EtTerms, SolarGeometryReferenceValues) {
    struct mass {
        double altitude, m, tol;
    };
    for (const mass &c : {mass{90.0, 0.99949, 5e-6}, mass{30.0, 1.9928, 5e-5}, mass{10.0, 5.580, 5e-4}})
        EXPECT_NEAR(relative_air_mass(c.altitude), c.m, c.tol) << c.altitude;
    EXPECT_NEAR(earth_sun_factor(1), 1.03505, 5e-6);
    EXPECT_NEAR(earth_sun_factor(182), 0.96665, 5e-6);
    EXPECT_NEAR(solar_position(172, 13, 40.0, 105.0, -7.0).declination / deg, 23.45, 5e-3);
    EXPECT_NEAR(solar_position(355, 13, 40.0, 105.0, -7.0).declination / deg, -23.45, 5e-3);
    // Day of year with the Gregorian rule: 1900 is not a leap year, 2000 is.
    EXPECT_EQ(et_day_of_year(1996, 3, 1), 61);
    EXPECT_EQ(et_day_of_year(1900, 3, 1), 60);
    EXPECT_EQ(et_day_of_year(2000, 12, 31), 366);
}

TEST(EtTerms, HourAngleOfTheRecordHour) {
    // At longitude 105 in time zone -7 the time correction is 0: hour 13 is
    // 360 degrees (solar noon), hour 1 is 180.
    EXPECT_NEAR(solar_position(180, 13, 40.0, 105.0, -7.0).hour_angle / deg, 360.0, 1e-9);
    EXPECT_NEAR(solar_position(180, 1, 40.0, 105.0, -7.0).hour_angle / deg, 180.0, 1e-9);
    // Time zone 0 takes the sign +1: longitude 10 shifts the sun by 40 minutes.
    const solar_hour g0 = solar_position(180, 13, 50.0, 10.0, 0.0);
    ASSERT_TRUE(std::isfinite(g0.hour_angle));
    EXPECT_NEAR(g0.hour_angle / deg, (24.0 + 10.0 / 15.0) * 15.0, 1e-9);
    EXPECT_TRUE(std::isfinite(g0.altitude_deg));
}

energy_balance_air air_of(double ta, double rh, double p_kpa, double u, double cloud) {
    energy_balance_air a;
    a.ta_k = ta + 273.15;
    a.p = p_kpa;
    a.u = u;
    a.ea = saturation_vapour_pressure(ta) * rh;
    a.longwave_in = (0.74 + 0.049 * a.ea) * (1.0 + 0.17 * cloud * cloud) * 5.67e-8 * std::pow(a.ta_k, 4);
    a.rho = air_density(p_kpa, ta);
    a.qa = 0.622 * a.ea / (p_kpa - 0.378 * a.ea);
    return a;
}

TEST(EtEnergyBalance, RootAgreesWithBisectionByDayAndByNight) {
    struct hour_case {
        const char *name;
        double ta, rh, u, cloud, rns;
    };
    for (const hour_case &c : {hour_case{"day", 25.0, 0.4, 3.0, 0.2, 750.0},
                               hour_case{"humid night", 15.0, 0.8, 2.0, 0.5, 0.0},
                               hour_case{"cold calm night", -10.0, 0.9, 1.0, 0.0, 0.0},
                               hour_case{"hot dry day", 38.0, 0.1, 6.0, 0.0, 900.0}}) {
        const energy_balance_air a = air_of(c.ta, c.rh, 100.0, c.u, c.cloud);
        double ts = 0.0;
        energy_balance_terms t;
        ASSERT_TRUE(solve_surface_temperature(a, c.rns, ts, t)) << c.name;
        double lo = a.ta_k - 50.0, hi = a.ta_k + 50.0;
        for (int k = 0; k < 100; ++k) {
            const double mid = 0.5 * (lo + hi);
            (energy_balance_at(a, c.rns, mid).f < 0.0 ? lo : hi) = mid;
        }
        EXPECT_NEAR(ts, 0.5 * (lo + hi), 1e-3) << c.name;
        // The ground heat flux is the residual of the balance: near 0 at the root.
        EXPECT_NEAR(t.f, 0.0, 1e-3 * t.df) << c.name;
    }
}

TEST(EtEnergyBalance, NoRootIsRefusedNamingTheCell) {
    // A radiation that is not a number leaves Newton and the bisection without a root.
    const energy_balance_air a = air_of(20.0, 0.5, 100.0, 2.0, 0.0);
    double ts = 0.0;
    energy_balance_terms t;
    EXPECT_FALSE(solve_surface_temperature(a, std::nan(""), ts, t));
}

// One flat cell at 40 N, 105 W, time zone -7, on 4 July 1996.
std::unique_ptr<model_state> et_state(int cells) {
    reset_process_globals();
    auto s = std::make_unique<model_state>();
    s->cell_count = cells;
    s->latitude = 40.0;
    s->longitude = 105.0;
    s->gmt_offset = -7.0;
    for (array_1d<double> *a : {&s->depth, &s->x_slope, &s->y_slope, &s->albedo, &s->vegetation_height,
                                &s->transmission_coeff, &s->canopy_resistance, &s->snow_store})
        alloc_1d_double(*a, cells);
    for (int i = 1; i <= cells; ++i) s->albedo[i] = 0.2;
    hmet_hour_record &h = s->hmet_hour;
    h.year = 1996;
    h.month = 7;
    h.day = 4;
    return s;
}

void set_hour(model_state &s, int hour, double ta, double rh, double p_mbar, double u, double sky,
              double diffuse) {
    hmet_hour_record &h = s.hmet_hour;
    h.hour = hour;
    h.air_temperature = ta;
    h.relative_humidity = rh;
    h.pressure = p_mbar;
    h.wind_speed = u;
    h.sky_cover = sky;
    h.global_radiation = diffuse;
}

// Whole hours under the model's own clear-sky beam (figures from runs of the
// mended kernel; the daily sums are held against FAO-56 by the end-to-end test).
TEST(EtHour, BulkTransferHourAgreesWithAHandEvaluation) {
    auto s = et_state(2);
    s->et_deardorff = 1;
    s->x_slope[2] = 0.3;
    s->y_slope[2] = -0.2;
    set_hour(*s, 13, 25.0, 40.0, 1000.0, 3.0, 2.0, 100.0);
    compute_evapotranspiration(*s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_NEAR(s->potential_et[1], 1.8685610807961178e-05, 1e-12);
    EXPECT_NEAR(s->surface_temperature[1], 304.70888625540402, 1e-6);
    EXPECT_NEAR(s->potential_et[2], 1.8668714893236878e-05, 1e-12);
    EXPECT_EQ(s->potential_et2[1], s->potential_et[1]);
    // About 0.67 mm/h under the model's clear-sky beam: a summer noon.
    EXPECT_NEAR(s->potential_et[1] * 36000.0, 0.6727, 1e-4);
    EXPECT_NEAR(s->ground_heat_flux[1], 0.0, 1e-3);
}

TEST(EtHour, PenmanMonteithHourAgreesWithAHandEvaluation) {
    auto s = et_state(1);
    s->et_penman = 1;
    s->vegetation_height[1] = 0.5;
    s->transmission_coeff[1] = 0.5;
    s->canopy_resistance[1] = 50.0;
    set_hour(*s, 13, 30.0, 10.0, 900.0, 6.0, 0.0, 50.0);
    compute_evapotranspiration(*s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_NEAR(s->potential_et[1], 2.2386485498781123e-05, 1e-12);
    EXPECT_NEAR(s->surface_temperature[1], 293.56192201187463, 1e-6);
    // At night only longwave exchange and the aerodynamic term drive it.
    set_hour(*s, 22, 30.0, 10.0, 900.0, 6.0, 0.0, 50.0);
    s->transmission_coeff[1] = 0.0;
    compute_evapotranspiration(*s);
    EXPECT_NEAR(s->potential_et[1], 8.4621221439433069e-06, 1e-12);
    // A noon with short grass: net radiation less the ground's tenth drives a
    // rate near the reference crop's (0.59 mm/h).
    s->vegetation_height[1] = 0.12;
    s->canopy_resistance[1] = 70.0;
    set_hour(*s, 13, 25.0, 40.0, 1000.0, 3.0, 2.0, 100.0);
    compute_evapotranspiration(*s);
    EXPECT_NEAR(s->potential_et[1] * 36000.0, 0.5863, 1e-4);
    EXPECT_NEAR(s->surface_temperature[1], 304.70888625540402, 1e-6);
}

TEST(EtHour, BelowTheHorizonThereIsNoShortwave) {
    // Hour 1 is night; the diffuse value of the record is not used. With a
    // humid night the surface cools below the air and nothing evaporates.
    auto s = et_state(1);
    s->et_deardorff = 1;
    set_hour(*s, 1, 15.0, 80.0, 1000.0, 2.0, 5.0, 300.0);
    compute_evapotranspiration(*s);
    EXPECT_NEAR(s->surface_temperature[1], 283.5218261631885, 1e-6);
    EXPECT_EQ(s->potential_et[1], 0.0);
    // The same balance without any diffuse value gives the same surface.
    set_hour(*s, 1, 15.0, 80.0, 1000.0, 2.0, 5.0, 0.0);
    const double ts = s->surface_temperature[1];
    compute_evapotranspiration(*s);
    EXPECT_EQ(s->surface_temperature[1], ts);
}

TEST(EtHour, BalanceWithoutARootStopsTheRun) {
    auto s = et_state(2);
    s->et_deardorff = 1;
    s->x_slope[2] = std::nan("");
    set_hour(*s, 13, 25.0, 40.0, 1000.0, 3.0, 2.0, 100.0);
    const std::string out = capture_stdout([&] { compute_evapotranspiration(*s); });
    EXPECT_NE(out.find("surface energy balance of grid cell 2 has no root"), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
}

TEST(EtHour, CalmHourCloudCapAndAreaReduction) {
    auto s = et_state(1);
    s->et_deardorff = 1;
    set_hour(*s, 13, 25.0, 40.0, 1000.0, 1.0, 2.0, 100.0);
    compute_evapotranspiration(*s);
    const double one = s->potential_et[1];
    set_hour(*s, 13, 25.0, 40.0, 1000.0, 0.0, 2.0, 100.0);  // a calm hour is taken as 1 m/s
    compute_evapotranspiration(*s);
    EXPECT_EQ(s->potential_et[1], one);

    set_hour(*s, 13, 25.0, 40.0, 1000.0, 3.0, 10.0, 100.0);
    compute_evapotranspiration(*s);
    const double overcast = s->potential_et[1];
    set_hour(*s, 13, 25.0, 40.0, 1000.0, 3.0, 14.0, 100.0);
    const std::string out = capture_stdout([&] { compute_evapotranspiration(*s); });
    EXPECT_EQ(out, "WARNING: Cloud cover > 1.0 in evapo_trans - possible problem with hmet file \n");
    EXPECT_EQ(s->potential_et[1], overcast);

    s->project.area_reduction.given = 1;
    alloc_1d_double(s->area_reduction, 1);
    s->area_reduction[1] = 0.25;
    set_hour(*s, 13, 25.0, 40.0, 1000.0, 3.0, 10.0, 100.0);
    compute_evapotranspiration(*s);
    EXPECT_DOUBLE_EQ(s->potential_et[1], 0.25 * overcast);
}

TEST(EtHour, SeasonalCanopyFactorChangesAt37Degrees) {
    // May: factor 3.0 at 37.0 N and 1.0 at 36.9 N; a larger canopy resistance
    // lowers the Penman-Monteith rate.
    auto s = et_state(1);
    s->et_penman = 1;
    s->vegetation_height[1] = 0.5;
    s->canopy_resistance[1] = 50.0;
    s->hmet_hour.month = 5;
    set_hour(*s, 22, 30.0, 10.0, 900.0, 6.0, 0.0, 0.0);
    auto pet_at = [&](double latitude, int seasonal, double canopy) {
        s->latitude = latitude;
        s->seasonal_rs = seasonal;
        s->canopy_resistance[1] = canopy;
        compute_evapotranspiration(*s);
        return s->potential_et[1];
    };
    const double may37 = pet_at(37.0, 1, 50.0);
    EXPECT_NEAR(may37, pet_at(37.0, 0, 150.0), 1e-12 * may37);
    const double may369 = pet_at(36.9, 1, 50.0);
    EXPECT_NEAR(may369, pet_at(36.9, 0, 50.0), 1e-12 * may369);
    EXPECT_GT(may369, may37);
}

}  // namespace
