// Overland boundary cells and embankment weirs: fixed heads, heads from a time
// series, free outflow with hand-computed losses, and weir transfers with their
// limits, on hand-built grids.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "model/core/globals.h"
#include "model/hydrology/overland_boundaries.h"
#include "model/hydrology/overland_explicit.h"
#include "model/core/series.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

class OverlandBoundaries : public overland_test {
protected:
    // Boundary type and value of every cell of the grid.
    void boundaries(int cells) {
        alloc_1d_int(s.ov_boundary_type, cells);
        alloc_1d_double(s.ov_boundary_value2, cells);
    }
    row_ref<const int> types() { return {s.ov_boundary_type.data(), s.ov_boundary_type.last()}; }
    row_ref<double> values() { return {s.ov_boundary_value2.data(), s.ov_boundary_value2.last()}; }
    boundary_totals apply(double dt) {
        overland_grid g;
        EXPECT_TRUE(overland_grid_of(s, g));
        boundary_totals t;
        overland_boundary_flux(g, types(), row_ref<const double>(values().data(), values().last()), dt, t);
        return t;
    }
};

TEST_F(OverlandBoundaries, FixedHeadSetsTheDepthAndBooksTheVolume) {
    make_grid(s, 1, 3, 10.0, [](int, int c) { return 100.0 - c; }, 0.04);
    boundaries(3);
    s.ov_boundary_type[1] = 2;
    s.ov_boundary_value2[1] = 99.3;  // 0.3 m above the ground of 99
    s.depth[1] = 0.1;
    s.ov_boundary_type[2] = 2;
    s.ov_boundary_value2[2] = 97.5;  // below the ground of 98: depth 0
    s.depth[2] = 0.2;
    const boundary_totals t = apply(60.0);
    EXPECT_NEAR(s.depth[1], 0.3, 1e-12);
    EXPECT_EQ(s.depth[2], 0.0);
    EXPECT_NEAR(t.fixed_head_inflow, 0.2 * 100.0, 1e-12);
    EXPECT_NEAR(t.fixed_head_outflow, 0.2 * 100.0, 1e-12);
    EXPECT_EQ(t.free_outflow, 0.0);
    EXPECT_EQ(s.depth[3], 0.0);  // type 0 is left alone
}

TEST_F(OverlandBoundaries, FreeOutflowLosesOneManningOutflowPerOpenSide) {
    // A single cell has four open sides; a corner of a 2 x 2 grid two.
    make_grid(s, 2, 2, 10.0, [](int, int) { return 10.0; }, 0.05);
    boundaries(4);
    s.ov_boundary_type[1] = 1;
    s.ov_boundary_value2[1] = 0.01;  // slope
    s.depth[1] = 0.2;
    const double per_side = (std::sqrt(0.01) * std::pow(0.2, 1.666667) * 10.0 / 0.05) * 5.0 / 100.0;
    const boundary_totals t = apply(5.0);
    EXPECT_NEAR(s.depth[1], 0.2 - 2.0 * per_side, 1e-12);
    EXPECT_NEAR(t.free_outflow, 2.0 * per_side * 100.0, 1e-12);
}

TEST_F(OverlandBoundaries, FreeOutflowEmptiesACellThatWouldGoBelowZero) {
    make_grid(s, 1, 1, 10.0, [](int, int) { return 10.0; }, 0.01);
    boundaries(1);
    s.ov_boundary_type[1] = 1;
    s.ov_boundary_value2[1] = 0.5;
    s.depth[1] = 0.05;
    const boundary_totals t = apply(600.0);
    EXPECT_EQ(s.depth[1], 0.0);
    EXPECT_NEAR(t.free_outflow, 0.05 * 100.0, 1e-12);
}

TEST_F(OverlandBoundaries, HeadsFromTimeSeriesOneFollowTheSeries) {
    make_grid(s, 1, 2, 10.0, [](int, int) { return 10.0; }, 0.05);
    boundaries(2);
    s.ov_boundary_type[2] = 3;
    auto series = std::make_unique<time_series>();
    series->name = "head";
    series->times = {2450000.0, 2450001.0};
    series->values = {10.2, 10.6};
    series->count = 2;
    add_time_series_id(1, series.get());
    time_series_list.push_back(std::move(series));
    update_boundary_heads(2, types(), values(), 2450000.5);
    EXPECT_NEAR(s.ov_boundary_value2[2], 10.4, 1e-12);
    EXPECT_EQ(s.ov_boundary_value2[1], 0.0);
    apply(1.0);
    EXPECT_NEAR(s.depth[2], 0.4, 1e-12);
}

class OverlandWeirs : public overland_test {
protected:
    // Two cells side by side across a dike (cell 1 right side, cell 2 left side)
    // with one weir record from cell 1 toward the right.
    void weir_pair(double crest, double width) {
        make_grid(s, 1, 2, 10.0, [](int, int) { return 100.0; }, 0.05);
        s.outlet_slope = 0.0;
        alloc_1d_int(s.dike_code, 2);
        s.dike_on = 1;
        s.dike_code[1] = 2;
        s.dike_code[2] = 8;
        s.lowspot_on = 1;
        s.lowspot_count = 1;
        s.lowspots.resize(2);
        s.lowspots[1].row = 1;
        s.lowspots[1].col = 1;
        s.lowspots[1].direction = 2;
        s.lowspots[1].fraction = width;
        s.lowspots[1].elevation = crest;
    }
    void run_weirs(double dt) {
        overland_grid g;
        ASSERT_TRUE(overland_grid_of(s, g));
        weir_flux(g, dt);
    }
};

TEST_F(OverlandWeirs, WeirDischargeIsTheHandComputedCrestFlow) {
    weir_pair(100.3, 0.5);
    s.depth[1] = 0.5;  // level 100.5, head 0.2 over the crest
    s.depth[2] = 0.1;
    run_weirs(1.0);
    const double q = 0.5 * std::pow(0.2, 1.5) * 1.48 * 10.0;
    EXPECT_NEAR(s.lowspots[1].work, q, 1e-12);
    EXPECT_NEAR(s.depth[1], 0.5 - q / 100.0, 1e-12);
    EXPECT_NEAR(s.depth[2], 0.1 + q / 100.0, 1e-12);
}

TEST_F(OverlandWeirs, LevelsWithinAMillimetreMoveNothing) {
    weir_pair(100.0, 1.0);
    s.depth[1] = 0.5;
    s.depth[2] = 0.4995;
    run_weirs(10.0);
    EXPECT_EQ(s.depth[1], 0.5);
    EXPECT_EQ(s.depth[2], 0.4995);
    EXPECT_EQ(s.lowspots[1].work, 0.0);
}

TEST_F(OverlandWeirs, CrestAboveBothLevelsMovesNothing) {
    weir_pair(101.0, 1.0);
    s.depth[1] = 0.5;
    run_weirs(10.0);
    EXPECT_EQ(s.depth[1], 0.5);
}

TEST_F(OverlandWeirs, TransferNeverReversesTheLevelsOrDrainsBelowTheCrest) {
    // A long step: the crest formula alone would move far more than the water.
    weir_pair(100.2, 1.5);
    s.depth[1] = 0.6;  // level 100.6
    s.depth[2] = 0.0;  // level 100.0
    run_weirs(3600.0);
    // Half the level difference (0.3 m) is the limit here, below the 0.4 m above the crest.
    EXPECT_NEAR(s.depth[1], 0.3, 1e-12);
    EXPECT_NEAR(s.depth[2], 0.3, 1e-12);
    EXPECT_NEAR(s.lowspots[1].work, 0.3 * 100.0 / 3600.0, 1e-12);

    // With the crest near the top, the water above the crest is the limit.
    s.lowspots[1].elevation = 100.55;
    s.depth[1] = 0.6;
    s.depth[2] = 0.0;
    run_weirs(3600.0);
    EXPECT_NEAR(s.depth[1], 0.55, 1e-12);
    EXPECT_NEAR(s.depth[2], 0.05, 1e-12);
}

TEST_F(OverlandWeirs, WeirAcrossTheMaskEdgeIsSkipped) {
    weir_pair(100.0, 1.0);
    s.lowspots[1].direction = 1;  // toward the row above: outside the mask
    s.depth[1] = 0.5;
    run_weirs(10.0);
    EXPECT_EQ(s.depth[1], 0.5);
}

TEST_F(OverlandWeirs, SchemePassesWaterOverTheDikeOnlyThroughTheWeir) {
    weir_pair(100.3, 0.5);
    s.depth[1] = 0.5;
    const double before = grid_volume(s);
    route_overland_explicit(s, 1.0);
    // The dike closes the face; the weir moves its crest flow.
    const double q = 0.5 * std::pow(0.2, 1.5) * 1.48 * 10.0;
    EXPECT_NEAR(s.depth[2], q / 100.0, 1e-12);
    EXPECT_NEAR(grid_volume(s), before, 1e-12);
}

}  // namespace
