// Overland schemes against the kinematic-wave solution of a plane under steady
// rain: a row of cells steep enough for the diffusive wave to stay kinematic.
// alpha = sqrt(S)/n, m = 5/3; q(t) = alpha (i t)^m up to the time of equilibrium
// te = (n L / (sqrt(S) i^(2/3)))^(3/5), then q = i L.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_explicit.h"
#include "model/hydrology/overland_pieces.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

constexpr double plane_length = 200.0;  // m
constexpr double bed_slope = 0.01;
constexpr double manning_n = 0.03;
constexpr double rain_rate = 50.0 / 3.6e6;  // 50 mm/h in m/s
constexpr double cell_dx = 5.0;
constexpr int cells = static_cast<int>(plane_length / cell_dx);

double analytic_q(double t) {
    const double alpha = std::sqrt(bed_slope) / manning_n;
    const double te = std::pow(manning_n * plane_length / (std::sqrt(bed_slope) * std::pow(rain_rate, 2.0 / 3.0)), 0.6);
    if (t >= te) return rain_rate * plane_length;
    return alpha * std::pow(rain_rate * t, 5.0 / 3.0);
}

// Outlet unit discharge (m2/s) at each whole minute of a run of `minutes`.
std::vector<double> plane_hydrograph(overland_route_fn scheme, double dt, int minutes) {
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    make_grid(s, 1, cells, cell_dx, [](int, int c) { return 10.0 - bed_slope * cell_dx * (c - 1); },
              manning_n, 0.0, bed_slope);
    std::vector<double> q(static_cast<std::size_t>(minutes) + 1, 0.0);
    const int steps_per_minute = static_cast<int>(60.0 / dt + 0.5);
    for (int minute = 1; minute <= minutes; ++minute) {
        double sum = 0.0;
        for (int k = 0; k < steps_per_minute; ++k) {
            for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] += rain_rate * dt;
            const double outlet = scheme(s, dt);
            EXPECT_EQ(error_record.code, 0);
            if (k == steps_per_minute - 1) sum = outlet;
            if (scheme != route_overland_explicit)
                s.ade_state.sweep_order = s.ade_state.sweep_order == 1 ? 2 : 1;
        }
        q[static_cast<std::size_t>(minute)] = sum / cell_dx;
    }
    return q;
}

TEST(OverlandKinematicPlane, AnalyticalValuesOfTheCase) {
    // The hand-computed values of the case: te = 1023 s, q_eq = 2.778e-3 m2/s,
    // q(600 s) = 1.142e-3 m2/s.
    const double te = std::pow(manning_n * plane_length / (std::sqrt(bed_slope) * std::pow(rain_rate, 2.0 / 3.0)), 0.6);
    EXPECT_NEAR(te, 1023.0, 1.0);
    EXPECT_NEAR(analytic_q(5000.0), 2.778e-3, 1e-6);
    EXPECT_NEAR(analytic_q(600.0), 1.142e-3, 1e-6);
}

struct scheme_case {
    const char *name;
    overland_route_fn scheme;
    double dt;
};

class OverlandKinematicScheme : public testing::TestWithParam<scheme_case> {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }
};

TEST_P(OverlandKinematicScheme, RisingLimbAndEquilibriumFollowTheKinematicWave) {
    const scheme_case c = GetParam();
    const std::vector<double> q = plane_hydrograph(c.scheme, c.dt, 60);
    // Rising limb, well before the time of equilibrium.
    for (int minute : {5, 10, 14}) {
        const double expected = analytic_q(minute * 60.0);
        EXPECT_NEAR(q[at(minute)], expected, 0.10 * expected) << c.name << " at minute " << minute;
    }
    // Equilibrium: the outflow equals the rain on the plane.
    for (int minute : {45, 60}) {
        const double expected = rain_rate * plane_length;
        EXPECT_NEAR(q[at(minute)], expected, 0.01 * expected) << c.name << " at minute " << minute;
    }
}

INSTANTIATE_TEST_SUITE_P(Schemes, OverlandKinematicScheme,
                         testing::Values(scheme_case{"explicit", route_overland_explicit, 2.0},
                                         scheme_case{"ade", route_overland_ade, 5.0},
                                         scheme_case{"ade-pc", route_overland_ade_pc, 2.0}),
                         [](const testing::TestParamInfo<scheme_case> &param) {
                             std::string name = param.param.name;
                             for (char &ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

}  // namespace
