// Green and Ampt with redistribution: ponding time under steady rain against
// Mein and Larson, rain below the conductivity, redistribution of the surface
// moisture in a hiatus, the second wetting front, the cells it skips, and the
// water balance of the ponded depth and the cumulative infiltration.
#include <gtest/gtest.h>

#include <vector>

#include "model/hydrology/green_ampt.h"
#include "tests/model/hydrology/green_ampt_test_support.h"

namespace {

using namespace soiltest;

constexpr double phi = 0.5, theta_i = 0.5 - silt_dtheta, theta_r = 0.05, lambda = 0.3;

std::unique_ptr<model_state> silt_loam(int cells) {
    auto s = make_state(cells, 2);
    set_soil(*s, silt_ks_cm_h, silt_psi_cm, phi, theta_i);
    for (int i = 1; i <= cells; ++i) {
        s->soil_residual.full()[i] = theta_r;
        s->soil_pore_index.full()[i] = lambda;
    }
    return s;
}

// One infiltration call after rain of `rate_cm_h` over dt seconds on every cell.
void rain_step(model_state &s, double rate_cm_h, double dt) {
    for (int i = 1; i <= s.cell_count; ++i) s.depth[i] += rate_cm_h / 100.0 / 3600.0 * dt;
    ++s.redist_call_count;
    infiltrate_green_ampt_redist(s, dt);
}

TEST(GreenAmptRedistribution, PondingTimeUnderSteadyRainIsMeinLarson) {
    auto s = silt_loam(1);
    const double r = 2.0, dt = 60.0;  // cm/h, s
    // Mein-Larson: Fp = psi dtheta / (r / Ks - 1), tp = Fp / r.
    const double fp = silt_psi_cm * silt_dtheta / (r / silt_ks_cm_h - 1.0);
    const double tp = fp / r * 3600.0;
    ASSERT_NEAR(tp, 4921.0, 1.0);
    double rained = 0.0;
    int ponded_call = 0;
    double theta_half_way = 0.0;
    for (int call = 1; call <= 120 && ponded_call == 0; ++call) {
        rain_step(*s, r, dt);
        rained += r / 100.0 / 3600.0 * dt;
        if (s->depth[1] > 0.0) ponded_call = call;
        if (call == static_cast<int>(tp / 2.0 / dt)) theta_half_way = s->surface_moisture[1];
    }
    ASSERT_GT(ponded_call, 0);
    EXPECT_NEAR(ponded_call * dt, tp, 2.0 * dt);
    EXPECT_NEAR(s->first_ponding_call[1] * dt, tp, 2.0 * dt);
    // Before ponding the whole rain went in, so F at ponding is Fp.
    EXPECT_NEAR(s->cumulative_infiltration[1] * 100.0, fp, 2.0 * r * dt / 3600.0);
    // The surface wets linearly toward saturation over the time to ponding.
    EXPECT_NEAR(theta_half_way, theta_i + 0.5 * silt_dtheta, 0.02);
    EXPECT_DOUBLE_EQ(s->surface_moisture[1], phi);
    EXPECT_NEAR(s->depth[1] + s->cumulative_infiltration[1], rained, 1e-14);
}

TEST(GreenAmptRedistribution, PondedFrontFollowsGreenAndAmpt) {
    auto s = silt_loam(1);
    double rained = 0.0;
    for (int call = 1; call <= 240; ++call) {
        rain_step(*s, 5.0, 60.0);
        rained += 5.0 / 100.0 / 3600.0 * 60.0;
    }
    // Ponded from early on: the rate approaches K (1 + S / F).
    const double f_cm = s->cumulative_infiltration[1] * 100.0;
    const double capacity = silt_ks_cm_h * (1.0 + silt_psi_cm * silt_dtheta / f_cm);
    EXPECT_NEAR(s->infiltration_rate[1], capacity, 0.02 * capacity);
    EXPECT_GT(s->depth[1], 0.0);
    EXPECT_NEAR(s->depth[1] + s->cumulative_infiltration[1], rained, 1e-13);
}

TEST(GreenAmptRedistribution, RainBelowConductivityAllInfiltrates) {
    auto s = silt_loam(1);
    double rained = 0.0;
    for (int call = 1; call <= 100; ++call) {
        rain_step(*s, 0.5 * silt_ks_cm_h, 60.0);
        rained += 0.5 * silt_ks_cm_h / 100.0 / 3600.0 * 60.0;
        ASSERT_EQ(s->depth[1], 0.0);
    }
    EXPECT_NEAR(s->cumulative_infiltration[1], rained, 1e-15);
    EXPECT_NEAR(s->infiltration_rate[1], 0.5 * silt_ks_cm_h, 1e-12);
    EXPECT_EQ(s->first_ponding_call[1], 0);
}

TEST(GreenAmptRedistribution, SurfaceDriesDuringAHiatus) {
    auto s = silt_loam(1);
    for (int call = 1; call <= 120; ++call) rain_step(*s, 5.0, 60.0);
    s->depth[1] = 0.0;  // the ponded water runs off
    const double f_after_rain = s->cumulative_infiltration[1];
    std::vector<double> theta;
    for (int call = 1; call <= 300; ++call) {
        rain_step(*s, 0.0, 60.0);
        theta.push_back(s->surface_moisture[1]);
    }
    EXPECT_EQ(s->cumulative_infiltration[1], f_after_rain);
    EXPECT_DOUBLE_EQ(s->redist_hiatus_depth[1], f_after_rain);
    EXPECT_LT(theta.back(), phi - 0.01);
    for (std::size_t k = 1; k < theta.size(); ++k) {
        EXPECT_LE(theta[k], theta[k - 1] + 1e-15);
        EXPECT_GE(theta[k], theta_i);
    }
    EXPECT_TRUE(s->redist_marks[1] & redist_mark_redistributed);
}

TEST(GreenAmptRedistribution, RenewedRainStartsASecondFront) {
    auto s = silt_loam(1);
    for (int call = 1; call <= 60; ++call) rain_step(*s, 5.0, 60.0);
    s->depth[1] = 0.0;
    for (int call = 1; call <= 240; ++call) rain_step(*s, 0.0, 60.0);
    const double theta_before = s->surface_moisture[1];
    ASSERT_LT(theta_before, phi);
    rain_step(*s, 5.0, 60.0);
    EXPECT_EQ(s->redist_state[1], 2);
    EXPECT_DOUBLE_EQ(s->surface_moisture_prev[1], phi);
    // With enough new water the new front passes the old profile: one front again.
    int calls = 0;
    while (s->redist_state[1] == 2 && calls < 2000) {
        rain_step(*s, 5.0, 60.0);
        ++calls;
    }
    EXPECT_EQ(s->redist_state[1], 1);
}

TEST(GreenAmptRedistribution, SkipsWetLakeAndSaturatedCells) {
    auto s = silt_loam(4);
    alloc_1d_double(s->relative_soil_moisture, 4);
    s->relative_soil_moisture[1] = 84.0;
    s->relative_soil_moisture[2] = 83.0;
    s->overland_lake_on = 1;
    alloc_1d_int(s->overland_lake_id, 4);
    s->overland_lake_id[3] = 1;
    s->saturated_cell[4] = 1;
    for (int i = 1; i <= 4; ++i) s->depth[i] = 0.01;
    s->redist_call_count = 1;
    infiltrate_green_ampt_redist(*s, 60.0);
    EXPECT_EQ(s->depth[1], 0.01);  // 84 percent: skipped
    EXPECT_LT(s->depth[2], 0.01);  // 83 percent: solved
    EXPECT_EQ(s->depth[3], 0.01);  // lake cell
    EXPECT_EQ(s->depth[4], 0.01);  // saturated: only its surface moisture
    EXPECT_EQ(s->surface_moisture[4], phi);
    EXPECT_EQ(s->cumulative_infiltration[4], 0.0);
}

TEST(GreenAmptRedistribution, FirstTwoCallsStartFromTheInitialMoisture) {
    auto s = silt_loam(1);
    s->surface_moisture[1] = 0.33;
    s->surface_moisture_prev[1] = 0.44;
    s->redist_call_count = 2;
    infiltrate_green_ampt_redist(*s, 60.0);  // dry: the moisture stays where it was set
    EXPECT_EQ(s->surface_moisture[1], theta_i);
    EXPECT_EQ(s->surface_moisture_prev[1], theta_i);
    s->surface_moisture[1] = 0.33;
    s->redist_call_count = 3;
    infiltrate_green_ampt_redist(*s, 60.0);
    EXPECT_EQ(s->surface_moisture[1], 0.33);
}

TEST(GreenAmptRedistribution, StepInfiltrationIsKeptForTheRootZone) {
    auto s = silt_loam(1);
    rain_step(*s, 3.0, 600.0);
    rain_step(*s, 3.0, 600.0);
    EXPECT_DOUBLE_EQ(s->step_infiltration_depth[1], s->cumulative_infiltration[1]);
}

TEST(GreenAmptRedistribution, RedistributionEquationSigns) {
    const double ks = cm_h_to_m_s(silt_ks_cm_h), psi = silt_psi_cm / 100.0;
    // No water above the initial moisture: nothing moves.
    EXPECT_EQ(redistribute_surface_moisture(theta_i, theta_i, theta_r, phi, lambda, ks, psi,
                                            0.02, 0.0, 60.0),
              theta_i);
    EXPECT_EQ(redistribute_surface_moisture(0.4, theta_i, theta_r, phi, lambda, ks, psi, 0.0,
                                            0.0, 60.0),
              0.4);
    // Without supply the surface dries; a supply well above Ks wets it.
    EXPECT_LT(redistribute_surface_moisture(0.4, theta_i, theta_r, phi, lambda, ks, psi, 0.02,
                                            0.0, 60.0),
              0.4);
    EXPECT_GT(redistribute_surface_moisture(0.4, theta_i, theta_r, phi, lambda, ks, psi, 0.02,
                                            20.0 * ks, 60.0),
              0.4);
    // Conductivity at saturation is Ks; the drive at a saturated surface is near psi.
    EXPECT_DOUBLE_EQ(redistribution_conductivity(ks, phi, theta_r, phi, lambda), ks);
    EXPECT_NEAR(redistribution_drive(psi, phi, theta_r, theta_r, phi, lambda), psi, 1e-15);
    EXPECT_DOUBLE_EQ(redistribution_drive(psi, 0.3, phi, theta_r, phi, lambda), psi);
}

}  // namespace
