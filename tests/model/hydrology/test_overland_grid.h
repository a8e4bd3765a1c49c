// Shared set-up of the overland tests: a run state holding a small rectangular
// watershed (every grid position inside the mask, cells numbered row by row) with
// its neighbour tables, bed slopes, roughness and retention, as the input readers
// leave them before the time loop.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "support/captured_output.h"

namespace overlandtest {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Cell number of row r, column c (both from 1) of a rows x cols grid.
inline int cell(int cols, int r, int c) { return (r - 1) * cols + c; }

// Fills the run state with a rows x cols grid of cell size dx, ground elevation
// z(row, col), uniform roughness and retention, all depths zero. The outlet is
// the last cell with the given outlet slope.
inline void make_grid(model_state &s, int rows, int cols, double dx,
                      const std::function<double(int, int)> &z, double roughness,
                      double retention = 0.0, double outlet_slope = 0.0) {
    const int n = rows * cols;
    s.cell_count = n;
    s.cell_size = dx;
    s.grid_rows = s.mask_rows = rows;
    s.grid_cols = s.mask_cols = cols;
    alloc_2d_int(s.cell_number_grid, rows + 1, cols + 1);
    for (auto *a : {&s.depth, &s.elevation, &s.roughness.full(), &s.retention_depth, &s.x_slope, &s.y_slope})
        alloc_1d_double(*a, n);
    for (auto *a : {&s.right, &s.down, &s.left, &s.up}) alloc_1d_int(*a, n);
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            const int i = cell(cols, r, c);
            s.cell_number_grid(at(r), at(c)) = i;
            s.elevation[at(i)] = z(r, c);
            s.roughness.full()[at(i)] = roughness;
            s.retention_depth[at(i)] = retention;
            s.right[at(i)] = c < cols ? cell(cols, r, c + 1) : 0;
            s.left[at(i)] = c > 1 ? cell(cols, r, c - 1) : 0;
            s.down[at(i)] = r < rows ? cell(cols, r + 1, c) : 0;
            s.up[at(i)] = r > 1 ? cell(cols, r - 1, c) : 0;
        }
    }
    // Bed slopes toward the right and down neighbours; an edge cell copies its
    // neighbour's, as the connectivity step does.
    for (int i = 1; i <= n; ++i) {
        const int k = s.right[at(i)];
        s.x_slope[at(i)] = k ? (s.elevation[at(i)] - s.elevation[at(k)]) / dx : s.x_slope[at(i - 1)];
    }
    for (int i = 1; i <= n; ++i) {
        const int d = s.down[at(i)];
        if (!d) continue;
        s.y_slope[at(i)] = (s.elevation[at(i)] - s.elevation[at(d)]) / dx;
        if (!s.down[at(d)]) s.y_slope[at(d)] = s.y_slope[at(i)];
    }
    s.outlet_cell = n;
    s.outlet_slope = outlet_slope;
    s.quiet_card = 1;
}

// Water on the grid (m3).
inline double grid_volume(const model_state &s) {
    double v = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) v += s.depth[at(i)] * s.cell_size * s.cell_size;
    return v;
}

// Runs fn and returns what it printed on standard output.
using testsupport::printed;

// Every test starts and ends with the process-wide records at their start state.
class overland_test : public testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }
    std::unique_ptr<model_state> state = std::make_unique<model_state>();
    model_state &s = *state;
};

}  // namespace overlandtest
