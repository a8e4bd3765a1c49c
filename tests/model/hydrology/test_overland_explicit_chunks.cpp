// The explicit scheme's chunk loops four cells at a time (AVX2) against its
// portable loops, bit for bit: depths, face discharges, outlet flows and reduced
// steps over many calls, on grids whose rows are narrower than four cells (down
// faces ending among the four), with holes in the mask (down neighbours that are
// not consecutive), rows of two cells between wide ones, dikes, retention, dry cells and steps long enough to fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "model/core/arrays.h"
#include "model/core/globals.h"
#include "model/hydrology/overland_explicit.h"
#include "model/hydrology/overland_explicit_chunks.h"
#include "model/core/model_state.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// Which grid positions hold cells: all, all but scattered holes, or every
// second row only its first two.
enum class layout { full, holes, short_rows };

struct grid_case {
    int rows, cols;
    layout mask;
    bool dikes;
    double depth;  // largest starting depth (m)
    double dt;
};

// Cells numbered row by row over the positions of a rows x cols grid that the
// layout keeps, on a rough plane falling right and down; depths, retention and
// dikes from the cell numbers.
void make_case(model_state &s, const grid_case &gc) {
    const double dx = 10.0;
    alloc_2d_int(s.cell_number_grid, gc.rows + 1, gc.cols + 1);
    int n = 0;
    for (int r = 1; r <= gc.rows; ++r)
        for (int c = 1; c <= gc.cols; ++c)
            if ((gc.mask != layout::holes || (r * 7 + c * 5) % 11 != 3) &&
                (gc.mask != layout::short_rows || r % 2 == 1 || c <= 2))
                s.cell_number_grid(at(r), at(c)) = ++n;
    s.cell_count = n;
    s.cell_size = dx;
    for (auto *a : {&s.depth, &s.elevation, &s.roughness.full(), &s.retention_depth, &s.x_slope, &s.y_slope})
        alloc_1d_double(*a, n);
    for (auto *a : {&s.right, &s.down, &s.left, &s.up}) alloc_1d_int(*a, n);
    if (gc.dikes) {
        alloc_1d_int(s.dike_code, n);
        s.dike_on = 1;
    }
    auto cell = [&](int r, int c) {
        if (r < 1 || c < 1 || r > gc.rows || c > gc.cols) return 0;
        return s.cell_number_grid(at(r), at(c));
    };
    for (int r = 1; r <= gc.rows; ++r) {
        for (int c = 1; c <= gc.cols; ++c) {
            const int i = cell(r, c);
            if (i == 0) continue;
            s.elevation[at(i)] = 100.0 - 0.05 * r - 0.03 * c + 0.02 * ((r * 3 + c * 7) % 5);
            s.roughness.full()[at(i)] = 0.03 + 0.01 * (i % 3);
            s.retention_depth[at(i)] = i % 4 == 0 ? 0.002 : 0.0;
            s.depth[at(i)] = i % 9 == 0 ? 0.0 : gc.depth * (0.2 + 0.1 * (i % 8));
            s.right[at(i)] = cell(r, c + 1);
            s.left[at(i)] = cell(r, c - 1);
            s.down[at(i)] = cell(r + 1, c);
            s.up[at(i)] = cell(r - 1, c);
            if (gc.dikes) s.dike_code[at(i)] = i % 7 == 0 ? 4 : i % 5 == 0 ? 2 : i % 13 == 0 ? 6 : 0;
        }
    }
    for (int i = 1; i <= n; ++i) {
        const int k = s.right[at(i)], d = s.down[at(i)];
        if (k != 0) s.x_slope[at(i)] = (s.elevation[at(i)] - s.elevation[at(k)]) / dx;
        if (d != 0) s.y_slope[at(i)] = (s.elevation[at(i)] - s.elevation[at(d)]) / dx;
    }
    s.outlet_cell = n;
    s.outlet_slope = 0.01;
    s.quiet_card = 1;
}

class ExplicitChunks : public testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override {
        explicit_chunks_use_avx2(true);
        reset_process_globals();
    }
};

TEST_F(ExplicitChunks, FourAtATimeGiveThePortableLoopsBits) {
    std::printf("four-at-a-time loops %s\n",
                explicit_chunks_use_avx2(true) ? "in use" : "not available (portable against itself)");
    const grid_case cases[] = {
        {40, 1, layout::full, false, 0.01, 5.0},  // every down face ends at the next cell
        {30, 2, layout::holes, true, 0.01, 5.0},  // or the second
        {25, 3, layout::full, true, 0.02, 5.0},
        {20, 5, layout::holes, false, 0.01, 5.0},
        {40, 12, layout::short_rows, false, 0.01, 5.0},  // down faces ending among four cells
        {40, 13, layout::short_rows, true, 0.01, 5.0},   // of a wide ring
        {17, 23, layout::holes, true, 0.01, 5.0},        // ring slots wrap inside groups of four
        {12, 130, layout::holes, true, 0.005, 5.0},      // chunks of 128 across rows
        {9, 11, layout::holes, true, 0.4, 30.0},         // deep water, long steps: failed sub-steps
        {8, 37, layout::full, false, 0.3, 20.0},
    };
    for (const grid_case &gc : cases) {
        SCOPED_TRACE(testing::Message() << gc.rows << " x " << gc.cols);
        auto vector_state = std::make_unique<model_state>(), portable_state = std::make_unique<model_state>();
        model_state &v = *vector_state, &p = *portable_state;
        make_case(v, gc);
        make_case(p, gc);
        int differing = 0;
        for (int call = 0; call < 25; ++call) {
            explicit_chunks_use_avx2(true);
            const double qv = route_overland_explicit(v, gc.dt);
            explicit_chunks_use_avx2(false);
            const double qp = route_overland_explicit(p, gc.dt);
            ASSERT_EQ(error_record.code, 0);
            differing += bits(qv) != bits(qp);
            differing += bits(v.explicit_control.reduced_step) != bits(p.explicit_control.reduced_step);
            for (int i = 1; i <= v.cell_count; ++i) {
                differing += bits(v.depth[at(i)]) != bits(p.depth[at(i)]);
                differing += bits(v.discharge_x[at(i)]) != bits(p.discharge_x[at(i)]);
                differing += bits(v.discharge_y[at(i)]) != bits(p.discharge_y[at(i)]);
                // A little rain, so that the grid keeps moving water.
                v.depth[at(i)] += 1e-5 * (i % 3);
                p.depth[at(i)] += 1e-5 * (i % 3);
            }
        }
        EXPECT_EQ(differing, 0);
        // The faces really moved water.
        int flowing = 0;
        for (int i = 1; i <= v.cell_count; ++i) flowing += v.discharge_x[at(i)] != 0.0 || v.discharge_y[at(i)] != 0.0;
        EXPECT_GT(flowing, v.cell_count / 2);
    }
}

}  // namespace
