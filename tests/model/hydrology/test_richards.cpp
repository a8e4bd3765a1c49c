// Richards step in the soil columns against external truth: Haverkamp's sand
// under a steady flux (unit-gradient head), ponded infiltration against
// Parlange's sorptivity and the late rate Ks, the column water balance with its
// booked clip, the surface states and the failure floor, the tridiagonal solver
// against a dense solve, and the profile laid above a water table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "model/hydrology/layered_soil.h"
#include "model/hydrology/richards.h"
#include "model/core/soil_hydraulics.h"
#include "model/hydrology/soil_water_services.h"
#include "model/input/soil_inputs.h"
#include "tests/model/hydrology/green_ampt_test_support.h"

namespace {

using namespace soiltest;

// Haverkamp's sand: theta = tr + (ts - tr) alpha / (alpha + |h|^beta),
// K = Ks A / (A + |h|^B).
constexpr double ts = 0.287, tr = 0.075, alpha = 1.611e6, beta = 3.96;
constexpr double ks = 33.98, big_a = 1.175e6, big_b = 4.74;
const double scale_head = std::pow(alpha, 1.0 / beta);

double sand_theta(double h) { return tr + (ts - tr) * alpha / (alpha + std::pow(std::fabs(h), beta)); }
double sand_k(double h) { return ks * big_a / (big_a + std::pow(std::fabs(h), big_b)); }

// Own-file Havercamp table of one soil: three layers of `depth` cm at `dz` cm.
std::string sand_table(double depth, double dz, double theta_i) {
    char layer[256];
    std::snprintf(layer, sizeof layer, "%.4f %.3f %.3f %.4f 0.08 0.15 %.3f %.6g %.4f %.10f %.4f\n",
                  ks, ts, tr, theta_i, depth, big_a, big_b, scale_head, beta);
    char spacing[96];
    std::snprintf(spacing, sizeof spacing, "%.4f %.4f %.4f 0.1\n", dz, dz, dz);
    return std::string("1\n0\n1\n") + spacing + layer + layer + layer;
}

// A Richards run state of one cell set up through the soil set-up from `table`.
std::unique_ptr<model_state> sand_column(const std::string &table, int form = curve_havercamp) {
    auto s = make_state(1, 4);
    s->richards_c_option = form;
    s->richards_k_option = 1;  // arithmetic, weight 1: the node above
    s->richards_weight = 1.0;
    s->richards_upper_option = 3;
    s->richards_iter_max = 1;
    s->richards_dtheta_max = 0.0025;
    s->soil_moist_depth_cm = 10.0;
    s->soil_index[1] = 1;
    s->soil_layer_name = "sand.tab";
    s->soil_layer_file = std::tmpfile();
    std::fputs(table.c_str(), s->soil_layer_file);
    std::rewind(s->soil_layer_file);
    setup_richards_soil(*s);
    std::fclose(s->soil_layer_file);
    s->soil_layer_file = nullptr;
    return s;
}

struct balance {
    double taken = 0.0, storage = 0.0, bottom = 0.0, clip = 0.0, evaporated = 0.0;
};
balance totals(const model_state &s, double water0) {
    balance b;
    b.taken = s.cumulative_infiltration[1] * 100.0;
    b.storage = richards_column_water(s, 1) - water0;
    b.bottom = s.richards_bottom_flux[1] * 100.0;
    b.clip = s.richards_clip[1] * 100.0;
    b.evaporated = s.richards_evaporation[1] * 100.0;
    return b;
}
void expect_conserved(const balance &b) {
    const double residual = b.taken - b.evaporated - b.bottom + b.clip - b.storage;
    EXPECT_LE(std::fabs(residual), 1e-9 * std::max(1.0, std::fabs(b.taken)))
        << "taken " << b.taken << " storage " << b.storage << " bottom " << b.bottom;
}

TEST(RichardsStep, SteadyFluxSettlesAtTheUnitGradientHead) {
    auto s = sand_column(sand_table(20.0, 1.0, 0.10));
    ASSERT_FALSE(error_record.fatal);
    ASSERT_EQ(s->richards_cell_nodes[1], 61);
    const double q = 0.1 * ks, dt = 300.0;
    const double water0 = richards_column_water(*s, 1);
    for (int call = 0; call < 24 * 12; ++call) {
        s->depth[1] += q * dt / 3600.0 / 100.0;
        richards_step(*s, dt);
        ASSERT_FALSE(error_record.fatal);
    }
    // K(h) = 0.1 Ks: |h|^B = 9 A, h = -30.33 cm; theta(h) = 0.2204.
    for (int node : {30, 45, 59}) {
        EXPECT_NEAR(s->richards_head[1][node], -30.33, 0.01 * 30.33) << node;
        EXPECT_NEAR(s->richards_theta[1][node], 0.2204, 0.01 * 0.2204) << node;
    }
    EXPECT_NEAR(-std::pow(9.0 * big_a, 1.0 / big_b), -30.33, 0.005);
    EXPECT_NEAR(sand_theta(-30.33), 0.2204, 5e-5);
    const balance b = totals(*s, water0);
    EXPECT_NEAR(b.taken, q * 24.0, 1e-9);
    expect_conserved(b);
    EXPECT_LT(std::fabs(b.clip), 1e-3 * b.taken);
    EXPECT_NEAR(s->depth[1], 0.0, 1e-12);
}

// Parlange's sorptivity S^2 = integral over theta of (ts + theta - 2 ti) D dtheta,
// that is the integral over h from hi to 0 of (ts + theta(h) - 2 ti) K(h) dh.
double parlange_sorptivity(double hi) {
    const double ti = sand_theta(hi);
    const int n = 200000;
    double sum = 0.0;
    for (int k = 0; k < n; ++k) {
        const double h = hi * (1.0 - (k + 0.5) / n);
        sum += (ts + sand_theta(h) - 2.0 * ti) * sand_k(h);
    }
    return std::sqrt(sum * -hi / n);
}

TEST(RichardsStep, PondedInfiltrationFollowsSorptivityThenKs) {
    const double ti = 0.10;
    auto s = sand_column(sand_table(10.0, 0.25, ti));
    ASSERT_FALSE(error_record.fatal);
    const double hi = havercamp_head_from_moisture(ti, ts, tr, scale_head, beta);
    const double sorptivity = parlange_sorptivity(hi);
    EXPECT_GT(sorptivity, 1.0);
    const double water0 = richards_column_water(*s, 1);
    const double dt = 3.6;  // 0.001 h
    double t = 0.0;
    for (int call = 0; call < 5; ++call) {
        s->depth[1] = 0.01;  // a 1 cm pond held over the step
        richards_step(*s, dt);
        ASSERT_FALSE(error_record.fatal);
        t += dt / 3600.0;
    }
    const double early = s->cumulative_infiltration[1] * 100.0;
    // Philip's two terms with the gravity term between Ks / 3 and 2 Ks / 3.
    const double lower = sorptivity * std::sqrt(t) + ks * t / 3.0;
    const double upper = sorptivity * std::sqrt(t) + 2.0 * ks * t / 3.0;
    EXPECT_GT(early, 0.9 * lower);
    EXPECT_LT(early, 1.1 * upper);
    expect_conserved(totals(*s, water0));
    EXPECT_EQ(s->richards_surface_state[1], 2);

    // Late: over the second hour of a deep column the rate is within 10 % of Ks.
    auto deep = sand_column(sand_table(60.0, 1.0, ti));
    const double deep0 = richards_column_water(*deep, 1);
    double f1 = 0.0;
    for (int call = 0; call < 240; ++call) {
        deep->depth[1] = 0.01;
        richards_step(*deep, 30.0);
        ASSERT_FALSE(error_record.fatal);
        if (call == 119) f1 = deep->cumulative_infiltration[1] * 100.0;
    }
    const double rate = deep->cumulative_infiltration[1] * 100.0 - f1;
    EXPECT_GT(rate, ks);
    EXPECT_LT(rate, 1.1 * ks);
    expect_conserved(totals(*deep, deep0));
}

TEST(RichardsStep, PondDrainsIntoTheColumnAndTheSurfaceReturnsToFlux) {
    auto s = sand_column(sand_table(20.0, 1.0, 0.10));
    const double water0 = richards_column_water(*s, 1);
    s->depth[1] = 0.02;  // 2 cm at once, then nothing
    for (int call = 0; call < 12; ++call) {
        richards_step(*s, 300.0);
        ASSERT_FALSE(error_record.fatal);
    }
    EXPECT_EQ(s->depth[1], 0.0);
    EXPECT_EQ(s->richards_surface_state[1], 1);
    const balance b = totals(*s, water0);
    EXPECT_NEAR(b.taken, 2.0, 1e-12);
    expect_conserved(b);
    EXPECT_LT(std::fabs(b.clip), 1e-3 * b.taken);
    // The front has not reached the bottom, which drains at unit gradient, K(hi).
    const double hi = havercamp_head_from_moisture(0.10, ts, tr, scale_head, beta);
    EXPECT_NEAR(b.bottom, sand_k(hi) * 1.0, 0.05 * sand_k(hi));
}

TEST(RichardsStep, BrooksCoreyColumnWithFixedBottomConserves) {
    // Brooks and Corey loam, own-file form 1: Ks, phi, tr, ti, wp, fc, depth,
    // lambda, bubbling head (stored as minus its size).
    const std::string layer = "1.3 0.43 0.03 0.12 0.08 0.2 15 0.25 11.1\n";
    auto s = sand_column("1\n0\n1\n1 1 1 0.1\n" + layer + layer + layer, curve_brooks_corey);
    ASSERT_FALSE(error_record.fatal);
    s->richards_bottom_fixed = 1;
    const double bottom_head = s->richards_head[1][s->richards_cell_nodes[1]];
    const double water0 = richards_column_water(*s, 1);
    for (int call = 0; call < 20; ++call) {
        s->depth[1] += 0.003;
        richards_step(*s, 600.0);
        ASSERT_FALSE(error_record.fatal);
    }
    EXPECT_EQ(s->richards_head[1][s->richards_cell_nodes[1]], bottom_head);
    const balance b = totals(*s, water0);
    EXPECT_GT(b.taken, 1.0);
    expect_conserved(b);
}

TEST(RichardsStep, RelativeMoistureAboveEightyThreePercentIsSkipped) {
    for (const double relative : {83.0, 83.1}) {
        auto s = sand_column(sand_table(10.0, 1.0, 0.10));
        alloc_1d_double(s->relative_soil_moisture, s->cell_count);
        s->relative_soil_moisture[1] = relative;
        s->depth[1] = 0.001;
        richards_step(*s, 60.0);
        if (relative == 83.0) {
            EXPECT_GT(s->cumulative_infiltration[1], 0.0);
            EXPECT_LT(s->depth[1], 0.001);
        } else {
            EXPECT_EQ(s->cumulative_infiltration[1], 0.0);
            EXPECT_EQ(s->depth[1], 0.001);
        }
    }
}

TEST(RichardsStep, EvaporationFromADrySurfaceAndFromANoColumnCell) {
    // Moister than field capacity (0.15) at the start, the sand drains below it within
    // the hour, and the stress factor then holds the ET below the demand: one call of
    // an hour gives what sixty calls of a minute give (ET, drainage, root zone).
    const auto dried = [](int calls) {
        auto s = sand_column(sand_table(10.0, 1.0, 0.20));
        s->richards_et_flag[1] = 1;
        s->richards_et_rate[1] = 0.01 / 3600.0;  // 0.01 cm/h
        const double water0 = richards_column_water(*s, 1);
        for (int call = 0; call < calls; ++call) richards_step(*s, 3600.0 / calls);
        return std::make_pair(std::move(s), totals(*s, water0));
    };
    auto [s, b] = dried(1);
    const balance minutes = dried(60).second;
    EXPECT_LT(b.evaporated, 0.0095);
    EXPECT_NEAR(b.evaporated, minutes.evaporated, 0.005 * minutes.evaporated);
    EXPECT_NEAR(b.bottom, minutes.bottom, 0.005 * minutes.bottom);
    EXPECT_LT(s->root_zone_moisture[1], 0.15);
    expect_conserved(b);
    EXPECT_NEAR(b.storage, -b.evaporated - b.bottom + b.clip, 1e-12);

    // Without a column only the ponded water evaporates (the surface's ET), never below 0.
    s->richards_no_column[1] = 1;
    s->depth[1] = 0.00004;  // 0.004 cm
    richards_step(*s, 3600.0);
    EXPECT_EQ(s->depth[1], 0.0);
    EXPECT_NEAR(s->richards_evaporation[1] * 100.0, b.evaporated, 1e-12);
    EXPECT_NEAR(s->water.net(ledger_node::surface, ledger_node::atmosphere), 0.00004 * s->cell_size * s->cell_size, 1e-12);
}

TEST(RichardsStep, AColumnThatCannotBeSolvedStopsTheRunNamingTheCell) {
    // An impermeable saturated soil: no row of the system has a pivot.
    const std::string layer = "0 0.40 0.05 0.40 0.1 0.2 5 1e6 4 30 3\n";
    auto s = sand_column("1\n0\n1\n1 1 1 0.1\n" + layer + layer + layer);
    ASSERT_FALSE(error_record.fatal);
    s->depth[1] = 0.01;
    testing::internal::CaptureStdout();
    richards_step(*s, 60.0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(error_record.fatal);
    EXPECT_NE(out.find("grid cell 1"), std::string::npos) << out;
}

TEST(RichardsStep, SubstepKeptWhenTheLargestChangeEqualsTheLimit) {
    // With no water and a resting column the largest change is the floor 1e-4:
    // the sub-step grows by the limit over it.
    auto s = sand_column(sand_table(10.0, 1.0, 0.076));
    s->richards_last_substep[1] = 0.0001;
    s->richards_dtheta_max = 0.0001;
    richards_step(*s, 0.36);  // 0.0001 h: one sub-step
    EXPECT_DOUBLE_EQ(s->richards_last_substep[1], 0.0001);
}

TEST(SolveTridiagonal, AgreesWithADenseSolve) {
    const int n = 6;
    std::vector<double> sub = {0, 0, -1, -0.5, -2, -1, -0.3};
    std::vector<double> diag = {0, 4, 3, 5, 6, 2.5, 3};
    std::vector<double> sup = {0, -1.5, -1, -2, -1, -0.7, 0};
    std::vector<double> rhs = {0, 1, -2, 3, 0.5, 4, -1};
    // Dense Gauss-Jordan with partial pivoting on the same matrix.
    double a[6][7] = {};
    for (int i = 1; i <= n; ++i) {
        a[i - 1][i - 1] = diag[i];
        if (i > 1) a[i - 1][i - 2] = sub[i];
        if (i < n) a[i - 1][i] = sup[i];
        a[i - 1][6] = rhs[i];
    }
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        for (int k = 0; k < 7; ++k) std::swap(a[c][k], a[p][k]);
        for (int r = 0; r < n; ++r) {
            if (r == c) continue;
            const double f = a[r][c] / a[c][c];
            for (int k = 0; k < 7; ++k) a[r][k] -= f * a[c][k];
        }
    }
    ASSERT_EQ(solve_tridiagonal(n, sub.data(), diag.data(), sup.data(), rhs.data()), 0);
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(rhs[i], a[i - 1][6] / a[i - 1][i - 1], 1e-12);

    // A zero pivot is reported with its row.
    std::vector<double> d2 = {0, 1, 1, 1}, s2 = {0, 0, 1, 0}, u2 = {0, 1, 0, 0}, r2 = {0, 1, 1, 1};
    EXPECT_EQ(solve_tridiagonal(3, s2.data(), d2.data(), u2.data(), r2.data()), 2);
}

TEST(SolveColumn, SolvesEveryLengthAndReportsAZeroPivot) {
    // Random diagonally dominant systems of 1 to 9 rows (odd and even middles):
    // the residual of the solution vanishes and it equals the one-way solve's.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.1, 2.0);
    for (int n = 1; n <= 9; ++n) {
        std::vector<double> sub(n + 1), diag(n + 1), sup(n + 1), rhs(n + 1);
        for (int i = 1; i <= n; ++i) {
            sub[i] = -u(rng);
            sup[i] = -u(rng);
            diag[i] = -sub[i] - sup[i] + u(rng);
            rhs[i] = u(rng) - 1.0;
        }
        std::vector<double> d1 = diag, x1 = rhs, d2 = diag, x2 = rhs;
        ASSERT_EQ(solve_column(n, sub.data(), d1.data(), sup.data(), x1.data()), 0);
        ASSERT_EQ(solve_tridiagonal(n, sub.data(), d2.data(), sup.data(), x2.data()), 0);
        for (int i = 1; i <= n; ++i) {
            const double ax = diag[i] * x1[i] + (i > 1 ? sub[i] * x1[i - 1] : 0.0) +
                              (i < n ? sup[i] * x1[i + 1] : 0.0);
            EXPECT_NEAR(ax, rhs[i], 1e-13) << "n " << n << " row " << i;
            EXPECT_NEAR(x1[i], x2[i], 1e-13 * std::fabs(x2[i])) << "n " << n << " row " << i;
        }
    }
    // Row 2 of this system has a zero pivot whichever way it is eliminated.
    std::vector<double> d = {0, 1, 1, 1}, s = {0, 0, 1, 0}, p = {0, 1, 0, 0}, r = {0, 1, 1, 1};
    EXPECT_EQ(solve_column(3, s.data(), d.data(), p.data(), r.data()), 2);
}

// A loam soil row for the profile: layers of 10, 20 and 30 cm at spacings 2, 4, 5.
std::unique_ptr<model_state> profile_column() {
    const std::string l1 = "1.3 0.43 0.03 0.2 0.08 0.2 10 0.25 11.1\n";
    const std::string l2 = "1.3 0.43 0.03 0.2 0.08 0.2 20 0.25 11.1\n";
    const std::string l3 = "1.3 0.43 0.03 0.2 0.08 0.2 30 0.25 11.1\n";
    auto s = make_state(1, 4);
    alloc_1d_double(s->elevation, 1);
    alloc_1d_double(s->unsat_exchange_depth, 1);
    alloc_1d_double(s->water_table_elevation, 1);
    alloc_1d_int(s->gw_boundary_code, 1);
    s->richards_c_option = curve_brooks_corey;
    s->soil_index[1] = 1;
    s->soil_layer_name = "loam.tab";
    s->soil_layer_file = std::tmpfile();
    const std::string table = "1\n0\n1\n2 4 5 0.1\n" + l1 + l2 + l3;
    std::fputs(table.c_str(), s->soil_layer_file);
    std::rewind(s->soil_layer_file);
    setup_richards_soil(*s);
    std::fclose(s->soil_layer_file);
    s->soil_layer_file = nullptr;
    s->elevation[1] = 100.0;
    return s;
}

TEST(UnsatProfile, WaterTableInLayerTwoAndAboveTheGround) {
    auto s = profile_column();
    ASSERT_FALSE(error_record.fatal);
    ASSERT_EQ(s->richards_cell_nodes[1], 5 + 5 + 6 + 1);
    const double h3 = s->richards_head[1][3];
    // Water table 22.0002 cm down: 5 nodes of 2 cm, 3 of 4 cm, and a 0.0002 cm
    // rest thinner than 4 / 10000 merged into the node above; the bottom node.
    s->water_table_elevation[1] = 100.0 - 0.220002;
    unsat_profile_cell(*s, 1);
    ASSERT_EQ(s->richards_cell_nodes[1], 9);
    for (int j = 1; j <= 5; ++j) EXPECT_EQ(s->richards_dz[1][j], 2.0);
    EXPECT_EQ(s->richards_dz[1][6], 4.0);
    EXPECT_NEAR(s->richards_dz[1][8], 4.0002, 1e-9);
    EXPECT_EQ(s->richards_head[1][3], h3);  // nodes that existed keep their state
    EXPECT_EQ(s->richards_no_column[1], 0);

    // Lower the table to 40 cm: nodes 9.. are new and hydrostatic.
    const double before = richards_column_water(*s, 1);
    s->water_table_elevation[1] = 99.6;
    unsat_profile_cell(*s, 1);
    ASSERT_EQ(s->richards_cell_nodes[1], 13);  // 10 + 20 cm, 10 cm of layer 3, bottom
    EXPECT_NEAR(s->richards_dz[1][8], 4.0, 1e-12);
    EXPECT_NEAR(s->richards_dz[1][12], 5.0, 1e-12);
    EXPECT_NEAR(s->richards_head[1][9], -(40.0 - 24.0), 1e-9);
    EXPECT_NEAR(s->richards_head[1][11], -(40.0 - 32.5), 1e-9);
    brooks_corey_curve c{0.43, 0.03, -11.1, 0.25};
    EXPECT_NEAR(s->richards_theta[1][11], bc_moisture_from_head(-7.5, c), 1e-12);
    EXPECT_NEAR(s->unsat_exchange_depth[1], before - richards_column_water(*s, 1), 1e-12);

    // Above the ground: one saturated node of the layer-1 spacing.
    s->water_table_elevation[1] = 100.3;
    unsat_profile_cell(*s, 1);
    EXPECT_EQ(s->richards_cell_nodes[1], 1);
    EXPECT_NEAR(s->richards_head[1][1], 0.5 * 2.0 + 30.0, 1e-9);
    EXPECT_EQ(s->richards_theta[1][1], 0.43);
    EXPECT_EQ(s->richards_no_column[1], 1);

    // River and fixed-head cells are left, with no exchange.
    s->gw_boundary_code[1] = 5;
    s->unsat_exchange_depth[1] = 7.0;
    s->water_table_elevation[1] = 99.0;
    unsat_profile_above_water_table(*s);
    EXPECT_EQ(s->richards_cell_nodes[1], 1);
    EXPECT_EQ(s->unsat_exchange_depth[1], 0.0);
}

}  // namespace
