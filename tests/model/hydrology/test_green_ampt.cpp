// Plain Green and Ampt kernel: the ponded silt loam against the implicit solution,
// the dry-cell and small-water edges, area reduction, mass balance and the guard
// on an impossible rate.
#include <gtest/gtest.h>

#include "model/hydrology/green_ampt.h"
#include "tests/model/hydrology/green_ampt_test_support.h"

namespace {

using namespace soiltest;

TEST(GreenAmptKernel, ImplicitReferenceOfThePondedSiltLoam) {
    // F - S ln(1 + F/S) = K t with S = 16.7 x 0.340 cm and K = 0.65 cm/h.
    EXPECT_NEAR(implicit_green_ampt(silt_ks_cm_h, silt_psi_cm * silt_dtheta, 1.0), 3.1669,
                5e-4);
}

TEST(GreenAmptKernel, PondedSiltLoamWithinATenthOfAPercentAtMinuteSteps) {
    auto s = make_state(2, 1);
    set_soil(*s, silt_ks_cm_h, silt_psi_cm, 0.5, 0.5 - silt_dtheta);
    const double dt = 60.0;
    for (int step = 0; step < 60; ++step) {
        for (int i = 1; i <= 2; ++i) s->depth[i] = 1.0;  // kept ponded
        infiltrate_green_ampt(*s, dt);
    }
    const double reference = implicit_green_ampt(silt_ks_cm_h, silt_psi_cm * silt_dtheta, 1.0);
    const double f_cm = s->cumulative_infiltration[1] * 100.0;
    EXPECT_NEAR(f_cm, reference, 0.001 * reference);
    EXPECT_DOUBLE_EQ(s->cumulative_infiltration[2], s->cumulative_infiltration[1]);
    // The last rate is the capacity near K (1 + S / F).
    const double capacity = silt_ks_cm_h * (1.0 + silt_psi_cm * silt_dtheta / reference);
    EXPECT_NEAR(s->infiltration_rate[1], capacity, 0.01 * capacity);
}

TEST(GreenAmptKernel, CoarseStepsStayCloseToo) {
    auto s = make_state(1, 1);
    set_soil(*s, silt_ks_cm_h, silt_psi_cm, 0.5, 0.5 - silt_dtheta);
    for (int step = 0; step < 6; ++step) {
        s->depth[1] = 1.0;
        infiltrate_green_ampt(*s, 600.0);
    }
    const double reference = implicit_green_ampt(silt_ks_cm_h, silt_psi_cm * silt_dtheta, 1.0);
    EXPECT_NEAR(s->cumulative_infiltration[1] * 100.0, reference, 0.01 * reference);
}

TEST(GreenAmptKernel, DryCellInfiltratesNothing) {
    auto s = make_state(1, 1);
    set_soil(*s, 1.0, 10.0, 0.4, 0.2);
    s->depth[1] = 0.9e-10;
    s->infiltration_rate[1] = 5.0;
    infiltrate_green_ampt(*s, 60.0);
    EXPECT_EQ(s->infiltration_rate[1], 0.0);
    EXPECT_EQ(s->cumulative_infiltration[1], 0.0);
    EXPECT_EQ(s->depth[1], 0.9e-10);
}

TEST(GreenAmptKernel, CapacityAboveTheWaterTakesAllOfIt) {
    auto s = make_state(1, 1);
    set_soil(*s, 5.0, 20.0, 0.45, 0.1);
    s->depth[1] = 1e-4;  // 0.1 mm against a capacity of centimetres per hour
    infiltrate_green_ampt(*s, 60.0);
    EXPECT_EQ(s->depth[1], 0.0);
    EXPECT_DOUBLE_EQ(s->cumulative_infiltration[1], 1e-4);
    EXPECT_DOUBLE_EQ(s->infiltration_rate[1], 1e-4 / 60.0 * 360000.0);
}

TEST(GreenAmptKernel, AreaReductionScalesTheRate) {
    auto s = make_state(2, 1);
    s->project.area_reduction.given = 1;
    alloc_1d_double(s->area_reduction, 2);
    s->area_reduction[1] = 0.0;
    s->area_reduction[2] = 0.5;
    set_soil(*s, silt_ks_cm_h, silt_psi_cm, 0.5, 0.5 - silt_dtheta);
    s->depth[1] = s->depth[2] = 1.0;
    infiltrate_green_ampt(*s, 60.0);
    EXPECT_EQ(s->cumulative_infiltration[1], 0.0);
    EXPECT_EQ(s->depth[1], 1.0);

    auto full = make_state(1, 1);
    set_soil(*full, silt_ks_cm_h, silt_psi_cm, 0.5, 0.5 - silt_dtheta);
    full->depth[1] = 1.0;
    infiltrate_green_ampt(*full, 60.0);
    EXPECT_DOUBLE_EQ(s->cumulative_infiltration[2], 0.5 * full->cumulative_infiltration[1]);
}

TEST(GreenAmptKernel, WaterIsMovedNotMade) {
    auto s = make_state(3, 1);
    set_soil(*s, 2.0, 11.0, 0.45, 0.15);
    const double initial[] = {0.0, 0.02, 0.001, 0.0};
    for (int i = 1; i <= 3; ++i) s->depth[i] = initial[i];
    for (int step = 0; step < 50; ++step) infiltrate_green_ampt(*s, 30.0);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_GE(s->depth[i], 0.0);
        EXPECT_NEAR(s->depth[i] + s->cumulative_infiltration[i], initial[i], 1e-15);
    }
}

TEST(GreenAmptKernel, ZeroStepChangesNothing) {
    auto s = make_state(1, 1);
    set_soil(*s, 2.0, 11.0, 0.45, 0.15);
    s->depth[1] = 0.01;
    infiltrate_green_ampt(*s, 0.0);
    EXPECT_EQ(s->depth[1], 0.01);
    EXPECT_EQ(s->cumulative_infiltration[1], 0.0);
}

TEST(GreenAmptKernel, ImpossibleRateStopsTheRunNamingTheCell) {
    auto s = make_state(2, 1);
    set_soil(*s, 1.0, 10.0, 0.4, 0.2);
    s->soil_ksat.full()[2] = -1e-5;  // no rate can be formed
    s->depth[1] = s->depth[2] = 0.01;
    testing::internal::CaptureStdout();
    infiltrate_green_ampt(*s, 60.0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("grid cell 2"), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
    clear_error_state();
}

TEST(GreenAmptKernel, CapacityFormula) {
    // At F = 0 the explicit solution over dt is (K dt + sqrt(K^2 dt^2 + 8 K dt S)) / (2 dt).
    const double k = 1e-6, s_m = 0.05, dt = 100.0;
    const double expected = (k * dt + std::sqrt(k * k * dt * dt + 8.0 * k * dt * s_m)) / (2 * dt);
    EXPECT_DOUBLE_EQ(green_ampt_capacity(k, s_m, 0.0, dt), expected);
    // A negative drive counts as none: the capacity is K.
    EXPECT_DOUBLE_EQ(green_ampt_capacity(k, -1.0, 0.0, dt), k);
}

}  // namespace
