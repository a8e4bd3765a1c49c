// Sediment-bound constituent mass: the Engelund-Hansen capacity by hand,
// settling rates (Stokes at 0.1 mm, the cap at 1 / dt), a dry cell that keeps
// its mass and a tiny detachment taken wholly from the loose soil.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/sediment/sediment_bound.h"
#include "tests/model/sediment/sediment_test_support.h"

namespace {

TEST(EngelundHansenCapacity, PublishedCaseByHand) {
    // V = 1 m/s, h = 1 m, S = 0.001, G = 2.65, d = 0.5 mm: 3.7085e-4 m2/s.
    EXPECT_NEAR(engelund_hansen_capacity(1.0, 1.0, 0.001, 0.5, 2.65, 1.0), 3.7085e-4, 5e-9);
    EXPECT_NEAR(engelund_hansen_capacity(1.0, 0.25, -0.001, 0.5, 2.65, 1.0), 0.25 * 3.7085e-4, 2e-9);
    EXPECT_EQ(engelund_hansen_capacity(1.0, 1.0, 0.001, 0.5, 1.0, 1.0), 0.0);  // no submerged weight
}

TEST(OvTransportCapacity, MethodsByHand) {
    bound_species sp;
    sp.diameter = 0.5;
    sp.specific_gravity = 2.65;
    sp.factor = 1.3;
    // q = 0.05 m2/s, h = 0.1 m (V = 0.5), S = 0.02, c = 0, a = 0.002, b = 1.5, E = 0.8, dx = 10.
    const double q = 0.05, h = 0.1, S = 0.02, a = 0.002, b = 1.5, E = 0.8, dx = 10.0;
    const double tau = 9792.342 * h * S, omega = tau * 0.5;
    const struct {
        int method;
        double value;
    } cases[] = {
        {1, engelund_hansen_capacity(0.5, 0.4, S, 0.5, 2.65, h) * 1.3 * 998200.0 / 100.0 * E},
        {2, 25500.0 * std::pow(S, 1.6667) * std::pow(q, 2.035) / (dx * 1.102e-6) * E},
        {3, a * std::pow(omega, b) * 1000.0 / dx * E},
        {5, a * std::pow(0.01, b) * E},
        {6, a * std::pow(tau, b) * 1000.0 / dx * E},
        {9, E},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(ov_transport_capacity(c.method, q, h, S, 0.0, a, b, E, dx, &sp, 0.4), c.value,
                    std::fabs(c.value) * 1e-12)
            << c.method;
    EXPECT_EQ(ov_transport_capacity(2, 5e-7, h, S, 0.0, a, b, E, dx, &sp, 0.4), 0.0);
}

TEST(SettlingVelocity, StokesAtATenthOfAMillimetreOverTheDepth) {
    double rate[2] = {0.0, 0.0};
    bound_species sp;
    sp.diameter = 0.1;
    sp.specific_gravity = 2.65;
    sp.settling_rate = rate;
    settling_velocity(sp, 1, 0.5, 1e-6);
    EXPECT_NEAR(rate[1], 1.65 * 9.81 * 1e-8 / 18e-6 / 0.5, 1e-12);
}

// Two cells in a row, one particle-bound species per class.
struct bound_cells : ::testing::Test {
    model_state s;
    std::vector<double> h0{0.0, 0.0, 0.0}, h1{0.0, 0.0, 0.0}, qx{0.0, 0.0, 0.0}, qy{0.0, 0.0, 0.0};
    std::vector<double> sx{0.0, 0.01, 0.01}, sy{0.0, 0.0, 0.0}, rain{0.0, 0.0, 0.0};
    std::vector<int> right{0, 2, 0}, down{0, 0, 0};
    std::vector<double> mass{0.0, 5.0, 5.0}, capacity{0.0, 0.0, 0.0}, eroded{0.0, 0.0, 0.0};
    std::vector<double> rate{0.0, 7.0, 7.0}, second{0.0, 3.0, 3.0};
    std::vector<bound_species> species;
    bound_flow flow;
    void SetUp() override {
        s.cell_count = 2;
        sediment_test::make_record(s, {0.05}, {2.65}, {1.0}, 0.0625, 0.2);
        bound_species sp;
        sp.soil_class = 1;
        sp.diameter = 0.05;
        sp.specific_gravity = 2.65;
        sp.factor = 1.0;
        sp.water_mass = mass.data();
        sp.capacity = capacity.data();
        sp.eroded_mass = eroded.data();
        sp.settling_rate = rate.data();
        sp.second_value = second.data();
        species.push_back(sp);
        flow = bound_flow{2, h0.data(), h1.data(), qx.data(), qy.data(), sx.data(), sy.data(),
                          rain.data(), right.data(), down.data()};
    }
};

TEST_F(bound_cells, ADryCellWithoutRainKeepsItsMassAndSettlesNothing) {
    ov_sediment_bound_mass(s.sediment, flow, species, 2, 1, 10.0, 60.0, 1e-6, 1.0);
    EXPECT_EQ(mass[1], 5.0);
    EXPECT_EQ(rate[1], 0.0);
    EXPECT_EQ(second[1], 0.0);
    EXPECT_EQ(s.sediment.deposited[1][1], 0.2);
}

TEST_F(bound_cells, ASettlingRateAboveOneOverTheStepIsCut) {
    // 1 mm of water: w / h = 2.248e-3 / 0.001 = 2.25 /s, above 1 / 60.
    h0[1] = h1[1] = 0.001;
    ov_sediment_bound_mass(s.sediment, flow, species, 2, 0, 10.0, 60.0, 1e-6, 1.0);
    EXPECT_DOUBLE_EQ(rate[1], 1.0 / 60.0);
    // Deep water keeps the settling rate of the grains: 2.248e-3 / 2.
    h0[1] = h1[1] = 2.0;
    ov_sediment_bound_mass(s.sediment, flow, species, 2, 0, 10.0, 60.0, 1e-6, 1.0);
    EXPECT_NEAR(rate[1], 1.65 * 9.81 * 2.5e-9 / 18e-6 / 2.0, 1e-12);
}

TEST_F(bound_cells, ATinyDetachmentIsTakenWhollyFromTheLooseSoilShares) {
    // Still water, no rain, a shear below the critical value: D = 0 < 1e-9.
    h0[1] = h1[1] = 0.01;
    qx[1] = 1e-9;
    s.sediment.critical_shear[1] = 100.0;
    ov_sediment_bound_mass(s.sediment, flow, species, 2, 1, 10.0, 60.0, 1e-6, 1.0);
    EXPECT_EQ(eroded[1], 0.0);
    EXPECT_EQ(s.sediment.eroded[1][1], 0.0);      // nothing from the parent soil
    EXPECT_EQ(s.sediment.deposited[1][1], 0.2);
    EXPECT_DOUBLE_EQ(s.sediment.detachment_share[1][1], 1.0);
}

TEST_F(bound_cells, RainOnABareCellSplashesByHand) {
    rain[1] = 20.0;
    s.sediment.splash_coeff[1] = 0.0;  // not positive: 800
    ov_sediment_bound_mass(s.sediment, flow, species, 2, 1, 10.0, 60.0, 1e-6, 1.0);
    // D_r = 800 * 3.75e-8 * 20^1.5545 * 1000 * 60 * 100; loose soil 0.2 < D_r, so
    // ratio = 0.2 / D_r and the rest comes from the parent soil.
    const double dr = 800.0 * 3.75e-8 * std::pow(20.0, 1.5545) * 1000.0 * 60.0 * 100.0;
    EXPECT_NEAR(eroded[1], dr, dr * 1e-12);
    EXPECT_NEAR(s.sediment.eroded[1][1], dr - 0.2, dr * 1e-12);
    EXPECT_DOUBLE_EQ(rate[1], 1.0 / 60.0);  // rained on without depth: all settles
}

}  // namespace
