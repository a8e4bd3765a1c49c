// The restructured overland erosion step against the step of before
// (bench/reference): 100 steps on a random plane for every transport formula
// leave the same soil in every cell, the same outputs and outlet totals, within
// 1e-12 relative.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "bench/reference/overland_erosion_reference.h"
#include "model/channel/channel_services.h"
#include "tests/model/sediment/sediment_test_support.h"

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

constexpr int cols = 12, rows = 10, cells = cols * rows, classes = 3;

// A plane of rows x cols cells, each with its right and down neighbours (none
// past the edges; a few faces closed), random erosion parameters, three classes
// and every per-cell output kept.
void make_plane(model_state &s, int method) {
    std::mt19937_64 rng(4300 + static_cast<unsigned>(method));
    std::uniform_real_distribution<double> u(0.0, 1.0);
    sediment_test::make_row(s, cells, 30.0, 0.0, 0.0, 0.0);
    sediment_test::make_record(s, {0.01, 0.1, 0.5}, {2.65, 2.4, 2.65}, {0.5, 0.3, 0.2}, 0.0625, 2.0);
    sediment_record &r = s.sediment;
    r.transport_option = method;
    for (array_2d<double> *a : {&r.ov_qsmax, &r.ov_qsvol, &r.ov_qsconc})
        alloc_2d_double(*a, cells, classes, "test");
    for (int i = 1; i <= cells; ++i) {
        const std::size_t c = at(i);
        const int col = (i - 1) % cols, row = (i - 1) / cols;
        s.right[c] = col + 1 < cols && u(rng) > 0.05 ? i + 1 : 0;
        s.down[c] = row + 1 < rows && u(rng) > 0.05 ? i + cols : 0;
        s.x_slope[c] = 0.04 * (u(rng) - 0.3);
        s.y_slope[c] = 0.04 * (u(rng) - 0.3);
        r.splash_coeff[c] = u(rng) < 0.2 ? 0.0 : 100.0 * u(rng);  // 0: the default
        r.detachment_coeff[c] = 4e-5 * u(rng);
        r.shear_exponent[c] = u(rng) < 0.5 ? 1.0 : 0.8 + 0.6 * u(rng);
        r.transport_coeff[c] = 0.01 * u(rng);
        r.transport_exponent[c] = 0.5 + u(rng);
        r.critical_stream_power[c] = u(rng) < 0.5 ? 0.0 : 0.01 * u(rng);
        r.transport_factor[c] = u(rng);
        const double f0 = u(rng), f1 = (1.0 - f0) * u(rng);
        const double f[classes] = {f0, f1, 1.0 - f0 - f1};
        for (int k = 1; k <= classes; ++k) {
            r.fraction[c][at(k)] = f[k - 1];
            r.deposited[c][at(k)] = u(rng) < 0.1 ? 0.0 : f[k - 1] * 5.0 * u(rng);
        }
    }
    s.outlet_cell = cells - cols / 2;
    s.outlet_slope = 0.01;
}

// The water of one step: dry, nearly dry, thin and deep cells, still and slow
// faces, flow both ways, and rain of a few rates (one rate on most cells).
void water_of_step(model_state &s, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double depths[] = {0.0, 1e-17, 1e-5, 1e-3};
    const double rates[] = {0.0, 5.0, 30.0, 30.0, 30.0, 75.0, 150.0};
    for (int i = 1; i <= cells; ++i) {
        const std::size_t c = at(i);
        const int kind = static_cast<int>(u(rng) * 6.0);
        s.depth[c] = kind < 4 ? depths[kind] : 0.3 * u(rng);
        for (double *q : {&s.discharge_x[c], &s.discharge_y[c]}) {
            const double pick = u(rng);
            *q = pick < 0.15 ? 0.0 : pick < 0.25 ? 1e-5 * (u(rng) - 0.5) : 2.0 * (u(rng) - 0.3) * s.depth[c];
        }
        s.step_rain_rate[c] = rates[static_cast<int>(u(rng) * 7.0)];
    }
    s.outlet_discharge = u(rng) < 0.2 ? 0.0 : 0.5 * u(rng);
}

// |a - b| within 1e-12 of the larger, or of `scale` for values that are what
// is left after most of a cell's soil moved.
void expect_close(double a, double b, double scale, const char *what, int i, int k) {
    const double bound = 1e-12 * std::max({std::fabs(a), std::fabs(b), scale});
    EXPECT_LE(std::fabs(a - b), bound) << what << " cell " << i << " class " << k;
}

// One step of both with the same water (drawn for `now`) and step length dt.
void step_both(model_state &now, model_state &before, std::mt19937_64 &rng, int step, double dt) {
    water_of_step(now, rng);
    for (array_1d<double> model_state::*a : {&model_state::depth, &model_state::discharge_x,
                                             &model_state::discharge_y, &model_state::step_rain_rate})
        for (int i = 1; i <= cells; ++i) (before.*a)[at(i)] = (now.*a)[at(i)];
    before.outlet_discharge = now.outlet_discharge;
    now.step_number = before.step_number = step;
    overland_erosion(now, dt, 30.0, 1e-6);
    reference::overland_erosion(before, dt, 30.0, 1e-6);
}

// Steps whose length alternates between two values that differ in the last
// digits, with a third length now and then: the capacities of the first formula
// (whose class terms hold dt) and the soil stay those of the step of before.
TEST(OverlandErosionEquality, FirstFormulaFollowsAStepLengthThatChanges) {
    model_state now, before;
    make_plane(now, 1);
    make_plane(before, 1);
    std::mt19937_64 rng(91);
    const double lengths[] = {5.0000131130218506, 4.9999728798866272, 5.0000131130218506,
                              4.9999728798866272, 2.5};
    for (int step = 1; step <= 50; ++step) {
        step_both(now, before, rng, step, lengths[step % 5]);
        for (int i = 1; i <= cells; ++i) {
            const std::size_t c = at(i);
            expect_close(now.sediment.x_capacity[c], before.sediment.x_capacity[c], 0.0, "x capacity", i, step);
            expect_close(now.sediment.y_capacity[c], before.sediment.y_capacity[c], 0.0, "y capacity", i, step);
            for (int k = 1; k <= classes; ++k)
                expect_close(now.sediment.deposited[c][at(k)], before.sediment.deposited[c][at(k)], 1.0,
                             "deposited", i, k);
        }
    }
}

TEST(OverlandErosionEquality, EveryFormulaLeavesTheSoilOfTheStepOfBeforeOnARandomPlane) {
    for (int method = 1; method <= 6; ++method) {
        model_state now, before;
        make_plane(now, method);
        make_plane(before, method);
        std::mt19937_64 rng(7 + static_cast<unsigned>(method));
        for (int step = 1; step <= 100; ++step) step_both(now, before, rng, step, 5.0);
        const sediment_record &a = now.sediment, &b = before.sediment;
        EXPECT_EQ(a.emptied_step, b.emptied_step) << method;
        for (int i = 1; i <= cells; ++i) {
            const std::size_t c = at(i);
            double soil = 0.0;
            for (int k = 1; k <= classes; ++k) soil += b.suspended[c][at(k)] + b.deposited[c][at(k)];
            expect_close(a.x_capacity[c], b.x_capacity[c], 0.0, "x capacity", i, 0);
            expect_close(a.y_capacity[c], b.y_capacity[c], 0.0, "y capacity", i, 0);
            for (int k = 0; k <= classes; ++k) {
                const std::size_t j = at(k);
                if (k > 0) {
                    expect_close(a.suspended[c][j], b.suspended[c][j], soil, "suspended", i, k);
                    expect_close(a.deposited[c][j], b.deposited[c][j], soil, "deposited", i, k);
                    expect_close(a.detachment_share[c][j], b.detachment_share[c][j], 1.0, "share", i, k);
                }
                expect_close(a.ov_qsmax[c][j], b.ov_qsmax[c][j], 0.0, "ov_qsmax", i, k);
                expect_close(a.ov_qsvol[c][j], b.ov_qsvol[c][j], soil, "ov_qsvol", i, k);
                expect_close(a.ov_qsconc[c][j], b.ov_qsconc[c][j], soil, "ov_qsconc", i, k);
            }
        }
        double out = 0.0;
        for (int k = 1; k <= classes; ++k) {
            out += b.outlet_volume[at(k)];
            expect_close(a.outlet_volume[at(k)], b.outlet_volume[at(k)], 0.0, "outlet volume", method, k);
            expect_close(a.outlet_rate[at(k)], b.outlet_rate[at(k)], 0.0, "outlet rate", method, k);
            expect_close(a.detached_volume[at(k)], b.detached_volume[at(k)], 0.0, "detached", method, k);
        }
        EXPECT_GT(out, 0.0) << method;  // soil left through the outlet
    }
}

}  // namespace
