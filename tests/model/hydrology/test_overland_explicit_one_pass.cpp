// The explicit scheme's one pass per sub-step, where its checks fail: a sub-step
// that a face fails is taken back and answered by the separate sweeps, so the
// step-control messages, the reduced steps and the depths are those of the
// kernel before its restructuring (bench/reference). And the bed slopes per cell
// that the set-up keeps: only where evapotranspiration or erosion reads them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench/reference/overland_explicit_reference.h"
#include "model/hydrology/overland_explicit.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

// Uniform numbers in [0, 1) from a fixed seed.
struct draws {
    unsigned state;
    double operator()() {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    }
};

// A rough 9 x 11 plane with pits, deep water in a band: long steps make faces
// fail every check kind, and the step is divided until it may be no more.
void deep_band(model_state &m, unsigned) {
    make_grid(
        m, 9, 11, 10.0,
        [](int r, int c) { return 50.0 - 0.3 * r - 0.2 * c + 0.15 * ((r * 7 + c * 3) % 5); }, 0.03,
        0.002, 0.02);
    for (int i = 1; i <= m.cell_count; ++i)
        m.depth[at(i)] = (i % 11 > 3 && i % 11 < 8) ? 0.5 + 0.01 * (i % 7) : 0.001 * (i % 3);
}

// An 8 x 9 grid of random ground with pools on a fifth of the cells: with the
// water added between steps, faces also fail in later sub-steps of a reduced step.
void random_pools(model_state &m, unsigned seed) {
    draws u{seed * 2654435761u};
    std::vector<double> bumps(90);
    for (double &b : bumps) b = 10.0 * u();
    const double roughness = 0.01 + 0.05 * u();
    make_grid(
        m, 8, 9, 10.0,
        [&](int r, int c) { return 50.0 - 0.5 * r - 0.3 * c + (seed % 3) * bumps[at(r * 9 + c - 10)]; },
        roughness, 0.0, 0.02);
    for (int i = 1; i <= m.cell_count; ++i) m.depth[at(i)] = u() < 0.2 ? 0.2 * u() : 0.0;
}

class ExplicitOnePass : public overland_test {};

TEST_F(ExplicitOnePass, FailedSubStepsAreAnsweredAsBefore) {
    struct run_case {
        const char *name;
        void (*make)(model_state &, unsigned);
        unsigned seed;
    };
    const run_case cases[] = {
        {"deep band", deep_band, 0},
        {"random pools 15", random_pools, 15},
        {"random pools 30", random_pools, 30},
        {"random pools 36", random_pools, 36},
    };
    // The kernel before took a cut step's sub-steps over the whole grid.
    const bool local = explicit_local_substeps(false);
    std::string all;
    for (const run_case &rc : cases) {
        SCOPED_TRACE(rc.name);
        reset_process_globals();
        auto now_state = std::make_unique<model_state>(), before_state = std::make_unique<model_state>();
        model_state &now = *now_state, &before = *before_state;
        for (model_state *m : {&now, &before}) {
            rc.make(*m, rc.seed);
            m->quiet_card = 0;
            m->quiet = 0;
        }
        draws u{rc.seed + 1u};
        for (int step = 0; step < 10; ++step) {
            // The band: two long steps, then short ones until the reduced step ends.
            const double dt = rc.make == deep_band ? (step < 2 ? 100.0 : 5.0) : 10.0 + 100.0 * u();
            double q_now = 0.0, q_before = 0.0;
            const std::string now_text = printed([&] { q_now = route_overland_explicit(now, dt); });
            const std::string before_text =
                printed([&] { q_before = reference::route_overland_explicit(before, dt); });
            ASSERT_EQ(now_text, before_text) << "step " << step;
            ASSERT_NEAR(q_now, q_before, 1e-12 * std::fabs(q_before) + 1e-15) << "step " << step;
            EXPECT_EQ(now.explicit_control.reduced_step, before.explicit_control.reduced_step);
            EXPECT_EQ(now.explicit_control.reduced_count, before.explicit_control.reduced_count);
            all += now_text;
            for (int i = 1; i <= now.cell_count; ++i) {
                const double added = rc.make == deep_band || u() >= 0.1 ? 0.0 : 0.05 * u();
                now.depth[at(i)] += added;
                before.depth[at(i)] += added;
            }
        }
        for (int i = 1; i <= now.cell_count; ++i) {
            EXPECT_NEAR(now.depth[at(i)], before.depth[at(i)],
                        1e-12 * std::fabs(before.depth[at(i)]) + 1e-15)
                << "cell " << i;
            EXPECT_NEAR(now.discharge_x[at(i)], before.discharge_x[at(i)],
                        1e-12 * std::fabs(before.discharge_x[at(i)]) + 1e-14);
            EXPECT_NEAR(now.discharge_y[at(i)], before.discharge_y[at(i)],
                        1e-12 * std::fabs(before.discharge_y[at(i)]) + 1e-14);
        }
        // The one pass keeps no depth changes per cell.
        EXPECT_TRUE(now.depth_change.empty());
        EXPECT_EQ(error_record.code, 0);
    }
    // The grids really fail faces: steps divided, down to where they may not be.
    EXPECT_NE(all.find("Changing overland time step"), std::string::npos);
    EXPECT_NE(all.find("Outflow Exceeded Water Depth"), std::string::npos);
    EXPECT_NE(all.find("continuing with current time step"), std::string::npos);
    EXPECT_NE(all.find("Resetting time step"), std::string::npos);
    explicit_local_substeps(local);
}

// A cut step takes its sub-steps around the faces that fail: on a plane of thin
// water (slope 0.01, 1 mm, passing at 20 s) one deep cell would give more than it
// holds. The water stays on the grid to the last digits, and the cells away from
// the deep one (beyond the margin of three cells around its faces) take the same depths whether it holds 0.5 or 0.6 m: their faces
// keep the transfers of the whole step.
TEST_F(ExplicitOnePass, CutStepTakesSubStepsOnlyAroundTheFailingFaces) {
    std::vector<double> far[2];
    for (int variant = 0; variant < 2; ++variant) {
        reset_process_globals();
        auto run_state = std::make_unique<model_state>();
        model_state &m = *run_state;
        make_grid(m, 9, 40, 10.0, [](int r, int c) { return 50.0 - 0.1 * r - 0.02 * c; }, 0.05, 0.0, 0.01);
        for (int i = 1; i <= m.cell_count; ++i) m.depth[at(i)] = 0.001;
        m.depth[at(cell(40, 5, 5))] = variant == 0 ? 0.5 : 0.6;
        m.quiet_card = m.quiet = 0;
        const double before = grid_volume(m);
        double q = 0.0;
        const std::string text = printed([&] { q = route_overland_explicit(m, 20.0); });
        EXPECT_NE(text.find("Changing overland time step"), std::string::npos) << text;
        EXPECT_LT(m.explicit_control.reduced_step, 20.0 / 3.0 + 1e-9);
        EXPECT_NEAR(grid_volume(m) + q * 20.0, before, 1e-13 * before);
        for (int r = 1; r <= 9; ++r)
            for (int c = 11; c <= 40; ++c) far[variant].push_back(m.depth[at(cell(40, r, c))]);
        EXPECT_EQ(error_record.code, 0);
    }
    EXPECT_EQ(far[0], far[1]);
}

TEST_F(ExplicitOnePass, BedSlopesStayWhereAProcessReadsThem) {
    struct option_case {
        const char *name;
        int scheme;
        void (*set)(model_state &);
        bool kept;
    };
    const option_case cases[] = {
        {"alternating directions, event", 2, [](model_state &) {}, false},
        {"explicit, event", 1, [](model_state &) {}, false},
        {"alternating directions, long-term", 2, [](model_state &m) { m.long_term = 1; }, true},
        {"predictor-corrector, erosion", 3, [](model_state &m) { m.project.soil_erosion = 1; }, true},
    };
    for (const option_case &c : cases) {
        SCOPED_TRACE(c.name);
        reset_process_globals();
        model_state m;
        m.cell_count = 6;
        m.overland_scheme = c.scheme;
        c.set(m);
        allocate_cell_arrays(m);
        ASSERT_EQ(error_record.fatal, 0);
        release_setup_arrays(m);
        EXPECT_EQ(!m.x_slope.empty(), c.kept);
        EXPECT_EQ(!m.y_slope.empty(), c.kept);
    }
}

}  // namespace
