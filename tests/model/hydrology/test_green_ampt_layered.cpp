// Layered Green and Ampt: one uniform soil reproduces the implicit solution at
// any step count, hand-computed effective conductivities of the deeper layers,
// the deficit of a saturated layer, the water balance and the Newton solve.
#include <gtest/gtest.h>

#include <cmath>

#include "model/hydrology/layered_soil.h"
#include "tests/model/hydrology/green_ampt_test_support.h"

namespace {

using namespace soiltest;

// Sets layer L (1..3) of soil row k: conductivity (cm/h), suction (cm), porosity,
// initial moisture and, for layers 1 and 2, depth (cm).
void set_layer(model_state &s, int k, int layer, double ks, double psi, double phi,
               double theta, double depth) {
    auto &v = s.soil_layers[static_cast<std::size_t>(k)].values;
    v[layer_conductivity_field + layer - 1] = ks;
    v[layer_capillary_field + layer - 1] = psi;
    v[layer_porosity_field + layer - 1] = phi;
    v[layer_moisture_field + layer - 1] = theta;
    if (layer < 3) v[layer_depth_field + layer - 1] = depth;
}

std::unique_ptr<model_state> uniform_silt_loam() {
    auto s = make_state(1, 3);
    for (int layer = 1; layer <= 3; ++layer)
        set_layer(*s, 4, layer, silt_ks_cm_h, silt_psi_cm, 0.5, 0.5 - silt_dtheta, 1.0);
    s->soil_index[1] = 4;
    return s;
}

double ponded_hour(int steps) {
    auto s = uniform_silt_loam();
    const double dt = 3600.0 / steps;
    for (int k = 0; k < steps; ++k) {
        s->depth[1] = 5.0;  // kept ponded
        infiltrate_layered_soil(*s, dt);
    }
    return s->cumulative_infiltration[1] * 100.0;
}

TEST(LayeredGreenAmpt, UniformSoilReproducesTheImplicitSolutionAtAnyStepCount) {
    const double s_cm = silt_psi_cm * silt_dtheta;
    const double reference = implicit_green_ampt(silt_ks_cm_h, s_cm, 1.0);
    // Every step solves the implicit equation from its own start to a residual
    // below 1e-4 cm, so the hour's error is at most one residual per step over
    // the slope x / (x + S) of the equation (the front crosses the 1 cm layers,
    // which are all the same soil).
    const double per_step = 1e-4 / (reference / (reference + s_cm));
    for (int steps : {1, 3, 7, 60, 360}) {
        SCOPED_TRACE(steps);
        EXPECT_NEAR(ponded_hour(steps), reference, steps * per_step);
    }
    // One step of an hour: the equation of the hour itself to its residual.
    const double f = ponded_hour(1);
    EXPECT_LT(std::fabs(f - s_cm * std::log(1.0 + f / s_cm) - silt_ks_cm_h), 1e-4);
}

TEST(LayeredGreenAmpt, FrontInTheSecondLayerUsesTheSeriesConductivity) {
    model_state s;
    set_layer(s, 1, 1, 1.0, 10.0, 0.4, 0.3, 10.0);  // deficit 0.1: holds 1 cm
    set_layer(s, 1, 2, 0.5, 20.0, 0.4, 0.3, 10.0);
    set_layer(s, 1, 3, 0.25, 30.0, 0.4, 0.2, 0.0);
    const soil_layer_record &row = s.soil_layers[1];
    layered_front f = layered_front_parameters(row, 0.5);
    EXPECT_EQ(f.layer, 1);
    EXPECT_DOUBLE_EQ(f.conductivity, 1.0);
    EXPECT_DOUBLE_EQ(f.suction, 10.0);
    // F = 1.5 cm: 0.5 cm in layer 2, front 5 cm into it: (10 + 5) / (10/1 + 5/0.5).
    f = layered_front_parameters(row, 1.5);
    EXPECT_EQ(f.layer, 2);
    EXPECT_NEAR(f.conductivity, 0.75, 1e-12);
    EXPECT_DOUBLE_EQ(f.suction, 20.0);
    EXPECT_NEAR(f.deficit, 0.1, 1e-12);
    // F = 2.4 cm: layers 1 and 2 hold 2 cm, 0.4 cm at deficit 0.2 is 2 cm into
    // layer 3: (10 + 10 + 2) / (10/1 + 10/0.5 + 2/0.25) = 22 / 38.
    f = layered_front_parameters(row, 2.4);
    EXPECT_EQ(f.layer, 3);
    EXPECT_NEAR(f.conductivity, 22.0 / 38.0, 1e-12);
    EXPECT_NEAR(f.deficit, 0.2, 1e-12);
}

TEST(LayeredGreenAmpt, SaturatedLayerUsesAHundredthOfItsPorosity) {
    model_state s;
    set_layer(s, 1, 1, 1.0, 10.0, 0.4, 0.4, 10.0);
    const layered_front f = layered_front_parameters(s.soil_layers[1], 0.0);
    EXPECT_NEAR(f.deficit, 0.004, 1e-15);
}

TEST(LayeredGreenAmpt, ImpermeableSecondLayerStopsTheFront) {
    auto s = make_state(1, 3);
    set_layer(*s, 2, 1, 2.0, 10.0, 0.4, 0.3, 5.0);  // holds 0.5 cm
    set_layer(*s, 2, 2, 0.0, 10.0, 0.4, 0.3, 50.0);
    set_layer(*s, 2, 3, 2.0, 10.0, 0.4, 0.3, 0.0);
    s->soil_index[1] = 2;
    for (int k = 0; k < 200; ++k) {
        s->depth[1] = 1.0;
        infiltrate_layered_soil(*s, 600.0);
    }
    // The front stops once it has entered layer 2.
    EXPECT_LT(s->cumulative_infiltration[1] * 100.0, 0.5 + 0.6);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST(LayeredGreenAmpt, WaterBalanceOfTheStep) {
    auto s = uniform_silt_loam();
    s->depth[1] = 0.004;  // 0.4 cm, less than an hour's capacity
    double before = s->depth[1];
    for (int k = 0; k < 30; ++k) infiltrate_layered_soil(*s, 120.0);
    EXPECT_EQ(s->depth[1], 0.0);
    EXPECT_NEAR(s->cumulative_infiltration[1], before, 1e-15);
    // A ponded step: the ponded water falls by what the soil took.
    s->depth[1] = 0.5;
    before = s->depth[1] + s->cumulative_infiltration[1];
    infiltrate_layered_soil(*s, 600.0);
    EXPECT_NEAR(s->depth[1] + s->cumulative_infiltration[1], before, 1e-14);
    EXPECT_NEAR(s->infiltration_rate[1],
                (s->cumulative_infiltration[1] * 100.0 - 0.4) / (600.0 / 3600.0), 1e-9);
}

TEST(LayeredGreenAmpt, DryCellAndBadSoilIndex) {
    auto s = uniform_silt_loam();
    s->depth[1] = 0.9e-10;
    s->infiltration_rate[1] = 3.0;
    infiltrate_layered_soil(*s, 60.0);
    EXPECT_EQ(s->infiltration_rate[1], 0.0);
    EXPECT_EQ(s->cumulative_infiltration[1], 0.0);

    s->depth[1] = 0.01;
    s->soil_index[1] = 151;
    testing::internal::CaptureStdout();
    infiltrate_layered_soil(*s, 60.0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("soil index 151 of grid cell 1"), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
    clear_error_state();
}

TEST(LayeredGreenAmpt, NewtonSolveMeetsItsResidualOverAWideRange) {
    for (double f0 : {0.0, 0.5, 20.0}) {
        for (double s_cm : {1e-3, 5.0, 500.0}) {
            for (double kt : {1e-6, 0.3, 50.0}) {
                double x = 0.0;
                ASSERT_TRUE(layered_green_ampt_depth(f0, s_cm, kt, 1.0, x));
                const double g = x - f0 - s_cm * std::log((x + s_cm) / (f0 + s_cm)) - kt;
                EXPECT_LT(std::fabs(g), 1e-4) << f0 << " " << s_cm << " " << kt;
                EXPECT_GE(x, f0);
            }
        }
    }
    double x = 0.0;
    ASSERT_TRUE(layered_green_ampt_depth(1.0, 0.0, 0.5, 2.0, x));  // no suction: K t
    EXPECT_DOUBLE_EQ(x, 2.0);
    ASSERT_TRUE(layered_green_ampt_depth(1.0, 5.0, 0.0, 2.0, x));  // no conductivity
    EXPECT_DOUBLE_EQ(x, 1.0);
}

TEST(LayeredGreenAmpt, SolveThatCannotMeetItsResidualStopsTheRunNamingTheCell) {
    // An unbounded conductivity leaves no finite depth whose residual is below
    // 1e-4 cm: the capped iteration gives up instead of looping or inventing one.
    const double unbounded = HUGE_VAL;
    double x = 0.0;
    EXPECT_FALSE(layered_green_ampt_depth(0.0, 10.0, unbounded, 1.0, x));

    auto s = make_state(2, 3);
    for (int k = 1; k <= 2; ++k) {
        for (int layer = 1; layer <= 3; ++layer)
            set_layer(*s, k, layer, silt_ks_cm_h, silt_psi_cm, 0.5, 0.5 - silt_dtheta, 1.0);
    }
    set_layer(*s, 2, 1, unbounded, silt_psi_cm, 0.5, 0.5 - silt_dtheta, 1.0);
    s->soil_index[1] = 1;
    s->soil_index[2] = 2;
    s->depth[1] = s->depth[2] = 0.05;
    testing::internal::CaptureStdout();
    infiltrate_layered_soil(*s, 60.0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("layered Green and Ampt iteration did not converge, grid cell 2"),
              std::string::npos)
        << out;
    EXPECT_EQ(error_record.fatal, 1);  // reported as code 4000, a fatal error
    EXPECT_GT(s->cumulative_infiltration[1], 0.0);  // the cell before it was served
    EXPECT_DOUBLE_EQ(s->depth[2], 0.05);            // the failed cell keeps its water
    clear_error_state();
}

}  // namespace
