// The restructured overland kernels against the kernels as they were before
// (bench/reference): on random wet, dry and mixed grids with holes in the mask,
// dikes, retention, stream cells and wetlands, 100 steps of each scheme give the
// same depths and face discharges within 1e-12 relative (or 1e-15 m absolute).
// Grids with one retention depth for every cell hand it to the kernels as that
// one depth (no per-cell array) and to the references as an array.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "bench/reference/overland_ade_reference.h"
#include "bench/reference/overland_explicit_reference.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_boundaries.h"
#include "model/hydrology/overland_explicit.h"
#include "model/core/model_state.h"

namespace {

using std::size_t;

enum class wetness { wet, dry, mixed };

struct grid_case {
    const char *name;
    wetness water;
    bool holes, dikes, streams, wetlands;
    double dt;
    double uniform_retention = -1.0;  // m; below zero: retention varies per cell
};

// The inputs every copy shares.
struct fixed_inputs {
    int rows = 0, cols = 0, cells = 0;
    double dx = 10.0;
    std::vector<double> z, r, n, sx, sy, stream_level;
    std::vector<int> right, down, left, up, dike, stream_id, wetland_id;
    std::vector<wetland_record> wetlands;
    std::vector<double> start_depth;
    int stream_count = 0;
};

// The arrays one kernel changes.
struct moving_state {
    std::vector<double> h, dh, qx, qy, net, in, out;
    double negative_volume = 0.0;
    explicit_step_control control;
    ade_scheme_state ade;
};

template <class T>
row_ref<T> view(std::vector<T> &v) {
    return {v.data(), v.size() - 1};
}
template <class T>
row_ref<const T> cview(const std::vector<T> &v) {
    return {v.data(), v.size() - 1};
}

fixed_inputs random_inputs(const grid_case &gc, unsigned seed, int rows = 17, int cols = 23) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    fixed_inputs f;
    f.rows = rows;
    f.cols = cols;
    std::vector<std::vector<int>> number(static_cast<size_t>(f.rows) + 2,
                                         std::vector<int>(static_cast<size_t>(f.cols) + 2, 0));
    for (int r = 1; r <= f.rows; ++r)
        for (int c = 1; c <= f.cols; ++c)
            if (!gc.holes || u(rng) > 0.12) number[size_t(r)][size_t(c)] = ++f.cells;
    const size_t m = size_t(f.cells) + 1;
    for (auto *a : {&f.z, &f.r, &f.n, &f.sx, &f.sy, &f.start_depth}) a->assign(m, 0.0);
    for (auto *a : {&f.right, &f.down, &f.left, &f.up, &f.dike, &f.stream_id, &f.wetland_id})
        a->assign(m, 0);
    for (int r = 1; r <= f.rows; ++r) {
        for (int c = 1; c <= f.cols; ++c) {
            const int i = number[size_t(r)][size_t(c)];
            if (i == 0) continue;
            const size_t k = size_t(i);
            // A rough tilted plane with pits: faces run both ways.
            f.z[k] = 100.0 - 0.08 * r - 0.05 * c + 0.12 * u(rng);
            f.r[k] = u(rng) < 0.3 ? 0.004 * u(rng) : 0.0;
            if (gc.uniform_retention >= 0.0) f.r[k] = gc.uniform_retention;
            f.n[k] = 0.02 + 0.1 * u(rng);
            f.right[k] = number[size_t(r)][size_t(c) + 1];
            f.left[k] = number[size_t(r)][size_t(c) - 1];
            f.down[k] = number[size_t(r) + 1][size_t(c)];
            f.up[k] = number[size_t(r) - 1][size_t(c)];
            if (gc.dikes && u(rng) < 0.15) f.dike[k] = 1 + static_cast<int>(15 * u(rng));
            const bool wet = gc.water == wetness::wet || (gc.water == wetness::mixed && u(rng) < 0.5);
            f.start_depth[k] = wet ? 0.001 + 0.05 * u(rng) : 0.0;
            if (gc.streams && c == 12) f.stream_id[k] = ++f.stream_count;
            if (gc.wetlands && r >= 5 && r <= 8 && c >= 3 && c <= 9) f.wetland_id[k] = r < 7 ? 1 : 2;
        }
    }
    for (int i = 1; i <= f.cells; ++i) {
        const size_t k = size_t(i);
        if (f.right[k]) f.sx[k] = (f.z[k] - f.z[size_t(f.right[k])]) / f.dx;
        if (f.down[k]) f.sy[k] = (f.z[k] - f.z[size_t(f.down[k])]) / f.dx;
    }
    f.stream_level.assign(size_t(f.stream_count) + 1, 0.0);
    for (int i = 1; i <= f.cells; ++i)
        if (f.stream_id[size_t(i)])
            f.stream_level[size_t(f.stream_id[size_t(i)])] = f.z[size_t(i)] + 0.02 - 0.04 * u(rng);
    // Wetland records: layer depth, seepage, transition depth, vegetation, roughness.
    f.wetlands.resize(3);
    for (size_t w = 1; w <= 2; ++w) {
        auto &v = f.wetlands[w].values;
        v[1] = 0.01 * static_cast<double>(w);
        v[2] = 1e-4;
        v[3] = w == 1 ? 0.02 : 0.0;
        v[4] = 2e-3;
        v[6] = 0.15;
    }
    return f;
}

moving_state start_state(const fixed_inputs &f) {
    moving_state m;
    const size_t n = size_t(f.cells) + 1, sc = size_t(f.stream_count) + 1;
    m.h = f.start_depth;
    m.dh.assign(n, 0.0);
    m.qx.assign(n, 0.0);
    m.qy.assign(n, 0.0);
    m.net.assign(sc, 0.0);
    m.in.assign(sc, 0.0);
    m.out.assign(sc, 0.0);
    return m;
}

// `scalar_retention`: a uniform retention goes to the grid as its one depth.
overland_grid grid_of(const fixed_inputs &f, moving_state &m, const grid_case &gc,
                      bool scalar_retention = false) {
    overland_grid g;
    g.cells = f.cells;
    g.dx = f.dx;
    g.h = view(m.h);
    g.dh = view(m.dh);
    g.qx = view(m.qx);
    g.qy = view(m.qy);
    g.z = cview(f.z);
    if (scalar_retention && gc.uniform_retention >= 0.0)
        g.r_uniform = gc.uniform_retention;
    else
        g.r = cview(f.r);
    g.n = cview(f.n);
    g.sx = cview(f.sx);
    g.sy = cview(f.sy);
    g.right = cview(f.right);
    g.down = cview(f.down);
    g.left = cview(f.left);
    g.up = cview(f.up);
    g.outlet = f.cells;
    g.outlet_slope = 0.02;
    g.dikes_on = gc.dikes;
    g.dike = cview(f.dike);
    if (gc.streams) {
        g.stream_on = 1;
        g.channel_explicit = 1;
        g.stream_count = f.stream_count;
        g.stream_id = cview(f.stream_id);
        g.stream_level = cview(f.stream_level);
        g.stream_net = view(m.net);
        g.stream_in = view(m.in);
        g.stream_out = view(m.out);
    }
    if (gc.wetlands) {
        g.wetlands_on = 1;
        g.wetland_id = cview(f.wetland_id);
        g.wetlands = f.wetlands.data();
        g.wetland_last = 2;
    }
    g.quiet = 1;
    g.negative_depth_volume = &m.negative_volume;
    return g;
}

void expect_same(const std::vector<double> &got, const std::vector<double> &want, double absolute,
                 const char *what, const grid_case &gc, int scheme) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 1; i < got.size(); ++i) {
        const double tolerance = std::fmax(absolute, 1e-12 * std::fabs(want[i]));
        ASSERT_NEAR(got[i], want[i], tolerance)
            << what << " of cell " << i << ", grid " << gc.name << ", scheme " << scheme;
    }
}

const grid_case cases[] = {
    {"wet", wetness::wet, false, false, false, false, 2.0},
    {"wet with holes and dikes", wetness::wet, true, true, false, false, 2.0},
    {"dry", wetness::dry, true, true, false, false, 2.0},
    {"mixed with holes and dikes", wetness::mixed, true, true, false, false, 2.0},
    {"mixed, long steps", wetness::mixed, true, false, false, false, 30.0},
    {"mixed with stream cells", wetness::mixed, true, true, true, false, 2.0},
    {"mixed with wetlands", wetness::mixed, true, true, false, true, 2.0},
    {"wet, one retention depth", wetness::wet, false, false, false, false, 2.0, 0.002},
    {"mixed with holes and dikes, one retention depth", wetness::mixed, true, true, false, false, 2.0, 0.003},
    {"mixed with stream cells, one retention depth", wetness::mixed, true, true, true, false, 2.0, 0.002},
    {"mixed with wetlands, one retention depth", wetness::mixed, true, true, false, true, 2.0, 0.002},
    {"mixed, no retention", wetness::mixed, true, false, false, false, 2.0, 0.0},
};

TEST(OverlandKernelEquality, EverySchemeMatchesItsReferenceOverHundredSteps) {
    // The reference takes a cut step's sub-steps over the whole grid.
    const bool local = explicit_local_substeps(false);
    unsigned seed = 7;
    for (const grid_case &gc : cases) {
        for (int scheme = 1; scheme <= 3; ++scheme) {
            const fixed_inputs f = random_inputs(gc, seed++);
            moving_state now = start_state(f), before = start_state(f);
            overland_grid g_now = grid_of(f, now, gc, true), g_before = grid_of(f, before, gc);
            // The predictor-corrector has no step control: it keeps to short steps.
            const double dt = scheme == 3 ? std::fmin(gc.dt, 2.0) : gc.dt;
            for (int step = 0; step < 100; ++step) {
                double q_now, q_before;
                if (scheme == 1) {
                    q_now = explicit_route(g_now, now.control, dt);
                    q_before = reference::explicit_route(g_before, before.control, dt);
                } else {
                    q_now = ade_route(g_now, now.ade, scheme, dt);
                    q_before = reference::ade_route(g_before, before.ade, scheme, dt);
                    now.ade.sweep_order = before.ade.sweep_order = now.ade.sweep_order == 1 ? 2 : 1;
                }
                ASSERT_NEAR(q_now, q_before, 1e-12 * std::fabs(q_before) + 1e-15)
                    << "outlet, grid " << gc.name << ", scheme " << scheme << ", step " << step;
                // Keep the grid from draining dry: a little rain on every land cell.
                for (int i = 1; i <= f.cells; ++i) {
                    now.h[size_t(i)] += 2e-6 * dt;
                    before.h[size_t(i)] += 2e-6 * dt;
                }
                ASSERT_EQ(error_record.code, 0) << "grid " << gc.name << ", scheme " << scheme;
            }
            expect_same(now.h, before.h, 1e-15, "depth", gc, scheme);
            const double dx = f.dx;  // discharges in m3/s: 1e-15 m over a cell face
            expect_same(now.qx, before.qx, 1e-15 * dx, "x discharge", gc, scheme);
            expect_same(now.qy, before.qy, 1e-15 * dx, "y discharge", gc, scheme);
            EXPECT_NEAR(now.negative_volume, before.negative_volume, 1e-12 * before.negative_volume + 1e-13);
            EXPECT_EQ(now.control.reduced_step, before.control.reduced_step);
            if (gc.streams) {
                expect_same(now.net, before.net, 1e-12, "stream net exchange", gc, scheme);
                expect_same(now.in, before.in, 1e-12, "stream inflow", gc, scheme);
            }
        }
    }
    explicit_local_substeps(local);
}

// The grids really exercise the paths: a wet grid moves water on every scheme, and
// the long steps of the mixed grid make the explicit scheme divide its step.
TEST(OverlandKernelEquality, TheRandomGridsMoveWaterAndReduceSteps) {
    const fixed_inputs f = random_inputs(cases[4], 99);
    moving_state m = start_state(f);
    overland_grid g = grid_of(f, m, cases[4]);
    explicit_route(g, m.control, cases[4].dt);
    EXPECT_LT(m.control.reduced_step, cases[4].dt);
    double moved = 0.0;
    for (int i = 1; i <= f.cells; ++i) moved += std::fabs(m.qx[size_t(i)]) + std::fabs(m.qy[size_t(i)]);
    EXPECT_GT(moved, 0.0);
}

// With sub-steps local to the failing faces the random grids (holes, dikes, one
// retention depth or none) keep their water over a hundred 30 s steps: what they
// hold plus what left by the outlet is what they held plus the rain on them.
TEST(OverlandKernelEquality, LocalSubStepsKeepTheWaterOfTheRandomGrids) {
    int differ = 0;  // grids whose depths differ from cuts over the whole grid
    unsigned seed = 41;
    for (const grid_case &gc : cases) {
        if (gc.streams || gc.wetlands) continue;
        const fixed_inputs f = random_inputs(gc, seed++);
        moving_state m = start_state(f), whole = start_state(f);
        overland_grid g = grid_of(f, m, gc), g_whole = grid_of(f, whole, gc);
        const double area = f.dx * f.dx;
        double water = 0.0, out = 0.0, now = 0.0;
        for (int i = 1; i <= f.cells; ++i) water += m.h[size_t(i)] * area;
        for (int step = 0; step < 100; ++step) {
            out += explicit_route(g, m.control, 30.0) * 30.0;
            const bool local = explicit_local_substeps(false);
            explicit_route(g_whole, whole.control, 30.0);
            explicit_local_substeps(local);
            for (int i = 1; i <= f.cells; ++i) m.h[size_t(i)] += 2e-6 * 30.0, whole.h[size_t(i)] += 2e-6 * 30.0;
            water += 2e-6 * 30.0 * area * f.cells;
        }
        for (int i = 1; i <= f.cells; ++i) now += m.h[size_t(i)] * area;
        EXPECT_NEAR(now + out, water, 1e-12 * water) << gc.name;
        differ += m.h != whole.h;
        EXPECT_EQ(error_record.code, 0) << gc.name;
    }
    EXPECT_GT(differ, 0);
}

// A plane tilted toward its last row and toward its middle column, where the
// flow gathers on its way to the outlet at the foot of that column (the plane of
// the whole-run timings, smaller and wetter): long steps make scheme 2 fail its
// check in the same few cells call after call.
fixed_inputs gathering_plane(int rows, int cols, double depth) {
    fixed_inputs f;
    f.rows = rows;
    f.cols = cols;
    f.cells = rows * cols;
    const size_t m = size_t(f.cells) + 1;
    for (auto *a : {&f.z, &f.r, &f.n, &f.sx, &f.sy, &f.start_depth}) a->assign(m, 0.0);
    for (auto *a : {&f.right, &f.down, &f.left, &f.up, &f.dike, &f.stream_id, &f.wetland_id})
        a->assign(m, 0);
    const int mid = (cols + 1) / 2;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            const int i = (r - 1) * cols + c;
            const size_t k = size_t(i);
            f.z[k] = 100.0 + 0.01 * (rows - r) * f.dx + 0.005 * std::abs(c - mid) * f.dx;
            f.n[k] = 0.05;
            f.right[k] = c < cols ? i + 1 : 0;
            f.left[k] = c > 1 ? i - 1 : 0;
            f.down[k] = r < rows ? i + cols : 0;
            f.up[k] = r > 1 ? i - cols : 0;
            f.start_depth[k] = depth;
        }
    }
    f.stream_level.assign(1, 0.0);
    f.wetlands.resize(1);
    return f;
}

// Scheme 2 skips the attempts that the patch of suspect cells proves to fail; the
// results must be those of running every attempt in full, to the last bit: depths,
// both discharges, the outlet flow of every call and the lifted water, over grids
// whose steps fail and are redone (long steps, deep water, holes, dikes, retention).
TEST(OverlandKernelEquality, SkippedAttemptsOfSchemeTwoLeaveTheResultsAsTheFullAttempts) {
    struct shortcut_case {
        const char *name;
        int grid;  // 0: gathering plane, else random_inputs of cases[grid - 1]
        double depth_factor, dt, rain;
        int calls;
    };
    const shortcut_case table[] = {
        {"gathering plane, 30 s", 0, 1.0, 30.0, 2e-5, 40},
        {"gathering plane, 10 s, 4x depths", 0, 4.0, 10.0, 8e-6, 40},
        {"wet, 30 s, 4x depths", 1, 4.0, 30.0, 2e-6, 30},
        {"mixed with holes and dikes, 30 s", 4, 1.0, 30.0, 2e-6, 40},
        {"wet with holes and dikes, 30 s, 4x depths", 2, 4.0, 30.0, 2e-6, 40},
    };
    unsigned seed = 41;
    for (const shortcut_case &sc : table) {
        const grid_case &gc = cases[sc.grid == 0 ? 0 : sc.grid - 1];
        fixed_inputs f = sc.grid == 0 ? gathering_plane(40, 41, 0.004) : random_inputs(gc, seed++, 40, 50);
        for (double &d : f.start_depth) d *= sc.depth_factor;
        moving_state on = start_state(f), off = start_state(f);
        overland_grid g_on = grid_of(f, on, gc), g_off = grid_of(f, off, gc);
        if (sc.grid == 0) {
            g_on.outlet = g_off.outlet = f.cells - f.cols / 2;  // foot of the middle column
            // The plane has no retention: the grid with the shortcut takes it as
            // one depth for every cell, as a run without a retention map does.
            g_on.r = row_ref<const double>(nullptr, 0);
            g_on.r_uniform = 0.0;
        }
        off.ade.attempt_shortcut = false;
        for (int call = 0; call < sc.calls; ++call) {
            const double q_on = ade_route(g_on, on.ade, 2, sc.dt);
            const double q_off = ade_route(g_off, off.ade, 2, sc.dt);
            ASSERT_EQ(q_on, q_off) << sc.name << ", call " << call;
            ASSERT_EQ(error_record.code, 0) << sc.name;
            on.ade.sweep_order = off.ade.sweep_order = on.ade.sweep_order == 1 ? 2 : 1;
            for (int i = 1; i <= f.cells; ++i) {
                on.h[size_t(i)] += sc.rain * sc.dt;
                off.h[size_t(i)] += sc.rain * sc.dt;
            }
            for (int i = 1; i <= f.cells; ++i) {
                ASSERT_EQ(on.h[size_t(i)], off.h[size_t(i)]) << sc.name << ", call " << call << ", cell " << i;
                ASSERT_EQ(on.qx[size_t(i)], off.qx[size_t(i)]) << sc.name << ", call " << call << ", cell " << i;
                ASSERT_EQ(on.qy[size_t(i)], off.qy[size_t(i)]) << sc.name << ", call " << call << ", cell " << i;
            }
            ASSERT_EQ(on.negative_volume, off.negative_volume) << sc.name << ", call " << call;
        }
        // The case is one where attempts fail, and the shortcut skipped some of them.
        EXPECT_GT(off.ade.swept_cells, 2LL * f.cells * sc.calls) << sc.name;
        EXPECT_GT(on.ade.skipped_attempts, 0) << sc.name;
        EXPECT_EQ(off.ade.skipped_attempts, 0) << sc.name;
    }
}

}  // namespace
