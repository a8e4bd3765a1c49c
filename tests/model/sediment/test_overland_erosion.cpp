// Overland erosion: fall velocities, splash classes, capacities by hand, the
// detachment limits and the soil balance of a rained-on tilted row of cells.
#include <gtest/gtest.h>

#include <cmath>

#include "model/channel/channel_services.h"
#include "model/sediment/overland_erosion.h"
#include "tests/model/sediment/sediment_test_support.h"

namespace {

TEST(GrainFallVelocity, VanRijnStokesUpToATenthOfAMillimetreZankeToOneAboveItTheSquareRootForm) {
    // nu = 1e-6 m2/s, (G - 1) g = 16.1865; Van Rijn (1984), evaluated by hand.
    const struct {
        double d_mm, w;
    } cases[] = {{0.05, 2.248e-3}, {0.1, 8.993e-3}, {0.5, 0.07216}, {1.0, 0.11762}, {2.0, 0.19792}};
    for (const auto &c : cases)
        EXPECT_NEAR(grain_fall_velocity(c.d_mm / 1000.0, 16.1865, 1e-6), c.w, c.w * 5e-4) << c.d_mm;
}

TEST(SplashCoefficients, ARateOnAClassBoundaryTakesTheHigherClass) {
    const struct {
        double rate, alpha, beta;
    } cases[] = {{0.0, 2.69e-8, 1.6896},  {9.99, 2.69e-8, 1.6896}, {10.0, 3.75e-8, 1.5545},
                 {50.0, 6.12e-8, 1.4242}, {99.9, 6.12e-8, 1.4242}, {100.0, 1.175e-7, 1.2821}};
    for (const auto &c : cases) {
        double a = 0.0, b = 0.0;
        splash_coefficients(c.rate, a, b);
        EXPECT_DOUBLE_EQ(a, c.alpha) << c.rate;
        EXPECT_DOUBLE_EQ(b, c.beta) << c.rate;
    }
}

struct capacity_case : ::testing::Test {
    model_state s;
    void SetUp() override {
        s.cell_count = 1;
        sediment_test::make_record(s, {0.5}, {2.65}, {0.6}, 0.0625, 0.0);
    }
};

TEST_F(capacity_case, EngelundHansenIsTheUnitWidthRateTimesWidthStepAndFraction) {
    // V = 1 m/s, h = 1 m, S = 0.001, G = 2.65, d = 0.5 mm: 3.7085e-4 m2/s.
    const double v = overland_transport_capacity(1, s.sediment, 1, 0.001, 1.0, 1.0, 5.0, 10.0, 0, 0, 0, 0);
    EXPECT_NEAR(v, 3.7085e-4 * 10.0 * 5.0 * 0.6, 5e-8);
}

TEST_F(capacity_case, StreamPowerFormsByHand) {
    // h = 0.1 m, q = 0.05 m2/s (V = 0.5), S = 0.02, a = 0.002, b = 1.5, c = 0.002, E = 0.8.
    const double h = 0.1, q = 0.05, S = 0.02, a = 0.002, b = 1.5, c = 0.002, E = 0.8;
    const double dt = 2.0, dx = 10.0;
    const double vs = 0.01, F = (vs - c) / vs, tau = 9792.342 * h * S, omega = tau * 0.5;
    const double scale = E * F * dt * dx / 2645.23;
    const struct {
        int method;
        double rate;
    } cases[] = {{2, 25500.0 * 1000.0 * std::pow(S, 1.6667) * std::pow(q, 2.035)},
                 {3, a * std::pow(omega, b)},
                 {4, a * std::pow(omega, 1.5 * b)},
                 {5, a * std::pow(vs, b)},
                 {6, a * std::pow(tau, b)},
                 {0, 1.0},
                 {7, 1.0}};
    for (const auto &k : cases)
        EXPECT_NEAR(overland_transport_capacity(k.method, s.sediment, 1, S, h, q, dt, dx, a, b, c, E),
                    k.rate * scale, std::fabs(k.rate * scale) * 1e-12)
            << k.method;
}

TEST_F(capacity_case, NoCapacityWithoutFlowDepthOrAboveTheCriticalStreamValue) {
    EXPECT_EQ(overland_transport_capacity(2, s.sediment, 1, 0.02, 0.1, 9e-7, 1, 10, 1, 1, 0, 1), 0.0);
    EXPECT_EQ(overland_transport_capacity(2, s.sediment, 1, 0.02, 0.0, 0.05, 1, 10, 1, 1, 0, 1), 0.0);
    // |V S| = 0.01 below c = 0.011.
    EXPECT_EQ(overland_transport_capacity(2, s.sediment, 1, 0.02, 0.1, 0.05, 1, 10, 1, 1, 0.011, 1), 0.0);
}

TEST_F(capacity_case, SplashByHandMovesLooseSoilIntoSuspensionByShares) {
    sediment_record &r = s.sediment;
    sediment_test::make_record(s, {0.01, 0.5}, {2.65, 2.65}, {0.25, 0.75}, 0.0625, 4.0);
    EXPECT_EQ(rain_splash_detachment(r, 1, 0.0, 0.0, 60.0, 10.0, 10.0), 0.0);  // no rain, no splash
    // i = 50 mm/h, bare soil (h = 0): D = 60 * 6.12e-8 * 50^1.4242 * 10 * 100 / 2645.23.
    const double d = 60.0 * 6.12e-8 * std::pow(50.0, 1.4242) * 10.0 * 100.0 / 2645.23;
    EXPECT_NEAR(rain_splash_detachment(r, 1, 50.0, 0.0, 60.0, 10.0, 10.0), d, 1e-15);
    EXPECT_NEAR(r.suspended[1][1], 0.25 * d, 1e-15);
    EXPECT_NEAR(r.suspended[1][2], 0.75 * d, 1e-15);
    EXPECT_NEAR(r.deposited[1][1] + r.deposited[1][2] + d, 4.0, 1e-12);
    EXPECT_DOUBLE_EQ(r.detachment_share[1][2], 0.75);
    // Water deeper than the drop diameter damps the splash: exp(1 - h / D_m).
    const double dm = 0.00124 * std::pow(50.0, 0.182);
    EXPECT_NEAR(splash_damping(50.0, 3.0 * dm), std::exp(-2.0), 1e-15);
}

TEST_F(capacity_case, ADetachmentLargerThanTheLooseSoilMovesNothing) {
    sediment_record &r = s.sediment;
    sediment_test::make_record(s, {0.5}, {2.65}, {1.0}, 0.0625, 1e-9);
    EXPECT_EQ(rain_splash_detachment(r, 1, 100.0, 0.0, 60.0, 60.0, 30.0), 0.0);
    EXPECT_EQ(flow_detachment(r, 1, 0.2, 0.05, 2e-5, 1.0, 0.0, 60.0, 30.0), 0.0);
    EXPECT_EQ(r.deposited[1][1], 1e-9);
    EXPECT_EQ(r.suspended[1][1], 0.0);
    // No loose soil at all: every share is 0.
    sediment_test::make_record(s, {0.5}, {2.65}, {1.0}, 0.0625, 0.0);
    rain_splash_detachment(r, 1, 100.0, 0.0, 60.0, 60.0, 30.0);
    EXPECT_EQ(r.detachment_share[1][1], 0.0);
}

TEST_F(capacity_case, FlowDetachmentByHand) {
    sediment_record &r = s.sediment;
    sediment_test::make_record(s, {0.5}, {2.65}, {1.0}, 0.0625, 10.0);
    // A = 2e-5, B = 1.5, h = 0.05, S = 0.01, dt = 5, dx = 10.
    const double d = 2e-5 * std::pow(9792.342 * 0.05 * 0.01, 1.5) * 5.0 * 100.0 / 2645.23;
    EXPECT_NEAR(flow_detachment(r, 1, 0.05, 0.01, 2e-5, 1.5, 0.0, 5.0, 10.0), d, 1e-18);
    EXPECT_NEAR(r.suspended[1][1], d, 1e-18);
}

// A rained-on tilted row draining through its last cell, the outlet.
struct tilted_row : ::testing::Test {
    model_state s;
    void SetUp() override {
        sediment_test::make_row(s, 6, 10.0, 0.02, 0.004, 0.002);
        sediment_test::make_record(s, {0.01, 0.05, 0.3}, {2.65, 2.65, 2.65}, {0.3, 0.3, 0.4}, 0.0625,
                                   0.5);
        s.sediment.transport_option = 2;
        for (int i = 1; i <= 6; ++i) {
            s.sediment.transport_factor[static_cast<std::size_t>(i)] = 1.0;
            s.step_rain_rate[static_cast<std::size_t>(i)] = 40.0;
        }
        s.outlet_cell = 6;
        s.outlet_slope = 0.02;
        s.outlet_discharge = 0.002;
    }
};

TEST_F(tilted_row, SoilIsConservedAndWhatLeavesIsTheOutletTotal) {
    const double before = sediment_test::soil_total(s);
    for (int step = 1; step <= 40; ++step) {
        s.step_number = step;
        overland_erosion(s, 5.0, 10.0, 1e-6);
    }
    double out = 0.0, detached = 0.0;
    for (int k = 1; k <= 3; ++k) {
        out += s.sediment.outlet_volume[static_cast<std::size_t>(k)];
        detached += s.sediment.detached_volume[static_cast<std::size_t>(k)];
    }
    EXPECT_GT(detached, 0.0);
    EXPECT_GT(out, 0.0);
    EXPECT_NEAR(sediment_test::soil_total(s) - before, -out, 1e-9 * before);
    // The outlet rate of the last step is its volume over the step.
    EXPECT_GT(s.sediment.outlet_rate[1] + s.sediment.outlet_rate[2] + s.sediment.outlet_rate[3], 0.0);
}

TEST_F(tilted_row, ACapacityAboveAllTheSoilEmptiesTheSourceIntoTheTarget) {
    // Loose soil only in cell 1, a fast flow and no rain: cell 1's whole soil moves.
    sediment_record &r = s.sediment;
    for (int i = 1; i <= 6; ++i) {
        s.step_rain_rate[static_cast<std::size_t>(i)] = 0.0;
        for (int k = 1; k <= 3; ++k) r.deposited[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] = 0.0;
        s.depth[static_cast<std::size_t>(i)] = 0.02;
        s.discharge_x[static_cast<std::size_t>(i)] = i < 6 ? 0.5 : 0.0;
    }
    r.suspended[1][3] = 1e-6;
    s.outlet_discharge = 0.0;
    s.step_number = 17;
    overland_erosion(s, 5.0, 10.0, 1e-6);
    EXPECT_EQ(r.suspended[1][3], 0.0);
    EXPECT_EQ(r.deposited[1][3], 0.0);
    EXPECT_EQ(r.emptied_step, 17);
    EXPECT_NEAR(sediment_test::soil_total(s), 1e-6, 1e-18);
}

TEST_F(tilted_row, ADryCellSettlesAllItsSuspendedSoilInTheXStage) {
    sediment_record &r = s.sediment;
    for (int i = 1; i <= 6; ++i) {
        s.step_rain_rate[static_cast<std::size_t>(i)] = 0.0;
        s.depth[static_cast<std::size_t>(i)] = 0.0;
        s.discharge_x[static_cast<std::size_t>(i)] = 0.0;
    }
    r.suspended[2][1] = 0.3;
    const double loose = r.deposited[2][1];
    s.outlet_discharge = 0.0;
    overland_erosion(s, 5.0, 10.0, 1e-6);
    EXPECT_EQ(r.suspended[2][1], 0.0);
    EXPECT_NEAR(r.deposited[2][1], loose + 0.3, 1e-15);
}

TEST_F(tilted_row, NegativeFlowCarriesSoilToTheWest) {
    sediment_record &r = s.sediment;
    for (int i = 1; i <= 6; ++i) {
        s.step_rain_rate[static_cast<std::size_t>(i)] = 0.0;
        for (int k = 1; k <= 3; ++k) r.deposited[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] = 0.0;
        s.depth[static_cast<std::size_t>(i)] = 0.02;
        s.discharge_x[static_cast<std::size_t>(i)] = i < 6 ? -0.5 : 0.0;
    }
    r.suspended[4][3] = 1e-6;
    s.outlet_discharge = 0.0;
    overland_erosion(s, 5.0, 10.0, 1e-6);
    EXPECT_EQ(r.suspended[4][3] + r.deposited[4][3], 0.0);
    EXPECT_NEAR(r.suspended[3][3] + r.deposited[3][3], 1e-6, 1e-18);
}

}  // namespace
