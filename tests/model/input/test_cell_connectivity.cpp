// Tests of the cell connectivity: neighbour tables of hand-drawn masks with holes
// and their invariants, the x and y slopes on a tilted plane and the edge rules,
// and every check of the dike low spots in its order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/cell_connectivity.h"
#include "model/input/input_services.h"
#include "model/input/watershed_mask.h"
#include "model/core/model_state.h"

namespace {

// A run state whose mask is drawn row by row ('#' inside, '.' outside).
class Connectivity : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }

    void draw(const std::vector<std::string> &rows, double dx = 10.0) {
        s.grid_rows = static_cast<int>(rows.size());
        s.grid_cols = static_cast<int>(rows[0].size());
        s.cell_size = dx;
        s.quiet = 1;
        alloc_2d_int(s.cell_number_grid, s.grid_rows + 1, s.grid_cols + 1);
        for (int i = 1; i <= s.grid_rows; ++i)
            for (int j = 1; j <= s.grid_cols; ++j)
                s.cell_number_grid[i][j] = rows[i - 1][j - 1] == '#' ? 1 : 0;
        s.cell_count = number_mask_cells(s.cell_number_grid, s.grid_rows, s.grid_cols);
        for (array_1d<int> *a : {&s.right, &s.down, &s.left, &s.up}) alloc_1d_int(*a, s.cell_count);
        alloc_1d_double(s.x_slope, s.cell_count);
        alloc_1d_double(s.y_slope, s.cell_count);
        alloc_1d_double(s.elevation, s.cell_count);
    }
    int cell(int r, int c) { return s.cell_number_grid[r][c]; }
    void connect() {
        testing::internal::CaptureStdout();
        build_cell_connectivity(s);
        out = testing::internal::GetCapturedStdout();
    }

    model_state s;
    std::string out;
};

TEST_F(Connectivity, NeighboursOfAMaskWithHoles) {
    draw({"##.#",
          "#.##",
          "####"});
    connect();
    ASSERT_EQ(s.cell_count, 10);
    // Row 1: cells 1 2 . 3; row 2: 4 . 5 6; row 3: 7 8 9 10.
    EXPECT_EQ(s.right[1], 2);
    EXPECT_EQ(s.right[2], 0);  // a hole to its right
    EXPECT_EQ(s.right[3], 0);  // the grid's edge
    EXPECT_EQ(s.left[3], 0);
    EXPECT_EQ(s.down[1], 4);
    EXPECT_EQ(s.down[2], 0);
    EXPECT_EQ(s.down[4], 7);
    EXPECT_EQ(s.up[8], 0);
    EXPECT_EQ(s.up[9], 5);
    EXPECT_EQ(s.down[9], 0);
    EXPECT_EQ(s.up[1], 0);
    EXPECT_EQ(s.left[7], 0);
    EXPECT_EQ(s.right[10], 0);
    EXPECT_EQ(out, "");  // quiet: the console line is suppressed
}

TEST_F(Connectivity, TablesAreMutualAndNumberEveryCell) {
    draw({"#.###.",
          "###.##",
          ".#####",
          "##.#.#"});
    connect();
    int nonzero = 0;
    for (int i = 1; i <= s.grid_rows; ++i)
        for (int j = 1; j <= s.grid_cols; ++j) nonzero += cell(i, j) != 0;
    EXPECT_EQ(s.cell_count, nonzero);
    for (int k = 1; k <= s.cell_count; ++k) {
        if (s.left[k]) {
            EXPECT_EQ(s.right[s.left[k]], k);
        }
        if (s.right[k]) {
            EXPECT_EQ(s.left[s.right[k]], k);
        }
        if (s.up[k]) {
            EXPECT_EQ(s.down[s.up[k]], k);
        }
        if (s.down[k]) {
            EXPECT_EQ(s.up[s.down[k]], k);
        }
    }
}

TEST_F(Connectivity, SingleCellHasNoNeighboursAndNoSlope) {
    draw({"...",
          ".#.",
          "..."});
    s.elevation[1] = 50.0;
    connect();
    compute_cell_slopes(s);
    EXPECT_EQ(s.right[1] + s.down[1] + s.left[1] + s.up[1], 0);
    EXPECT_DOUBLE_EQ(s.x_slope[1], 0.0);
    EXPECT_DOUBLE_EQ(s.y_slope[1], 0.0);
}

TEST_F(Connectivity, SlopesOfATiltedPlane) {
    // z = 100 - 0.2 c - 0.1 r with dx = 10: x slope 0.02, y slope 0.01 everywhere,
    // the last column and the last row taking their neighbours' values.
    draw({"#####",
          "#####",
          "#####",
          "#####"});
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 5; ++c) s.elevation[cell(r, c)] = 100.0 - 0.2 * c - 0.1 * r;
    connect();
    compute_cell_slopes(s);
    for (int k = 1; k <= s.cell_count; ++k) {
        EXPECT_NEAR(s.x_slope[k], 0.02, 1e-12) << "cell " << k;
        EXPECT_NEAR(s.y_slope[k], 0.01, 1e-12) << "cell " << k;
    }
}

TEST_F(Connectivity, RowOfThreeCopiesTheSlopeIntoTheLastCell) {
    draw({"###"}, 1.0);
    s.elevation[1] = 10.0;
    s.elevation[2] = 9.0;
    s.elevation[3] = 7.0;
    connect();
    compute_cell_slopes(s);
    EXPECT_DOUBLE_EQ(s.x_slope[1], 1.0);
    EXPECT_DOUBLE_EQ(s.x_slope[2], 2.0);
    EXPECT_DOUBLE_EQ(s.x_slope[3], 2.0);
    EXPECT_DOUBLE_EQ(s.y_slope[1], 0.0);
}

TEST_F(Connectivity, EdgeRulesFollowTheCellOrder) {
    // Cell 2 has a hole to its right and takes cell 1's x slope; cell 3, first of
    // its row part, has no right neighbour either and takes cell 2's.
    draw({"##.#",
          "#..#",
          "#..#"},
         2.0);
    // Cells: row 1: 1 2 . 3; row 2: 4 . . 5; row 3: 6 . . 7.
    const double z[8] = {0, 10, 8, 5, 9, 4, 6, 1};
    for (int k = 1; k <= 7; ++k) s.elevation[k] = z[k];
    connect();
    compute_cell_slopes(s);
    EXPECT_DOUBLE_EQ(s.x_slope[1], 1.0);   // (10 - 8) / 2
    EXPECT_DOUBLE_EQ(s.x_slope[2], 1.0);   // copied from cell 1
    EXPECT_DOUBLE_EQ(s.x_slope[3], 1.0);   // copied from cell 2
    EXPECT_DOUBLE_EQ(s.y_slope[1], 0.5);   // (10 - 9) / 2
    EXPECT_DOUBLE_EQ(s.y_slope[4], 1.5);   // (9 - 6) / 2
    EXPECT_DOUBLE_EQ(s.y_slope[6], 1.5);   // last of its column: from cell 4
    EXPECT_DOUBLE_EQ(s.y_slope[2], 0.0);   // no cell below or above
    EXPECT_DOUBLE_EQ(s.y_slope[5], 1.5);   // (4 - 1) / 2
    EXPECT_DOUBLE_EQ(s.y_slope[7], 1.5);   // from cell 5
}

// Two cells side by side, a dike between them (cell 1 right side, cell 2 left).
class LowSpots : public Connectivity {
protected:
    void SetUp() override {
        Connectivity::SetUp();
        draw({"##",
              ".."});
        s.dike_on = 1;
        s.lowspot_on = 1;
        s.lowspot_name = "basin.spots";
        alloc_1d_int(s.dike_code, 2);
        s.dike_code[1] = 2;
        s.dike_code[2] = 8;
        s.elevation[1] = 10.0;
        s.elevation[2] = 9.0;
        spot(1, 1, 2, 0.5, 10.5);
    }
    void spot(int row, int col, int direction, double fraction, double elevation) {
        s.lowspots.assign(2, lowspot_record{});
        s.lowspots[1] = {row, col, direction, fraction, elevation, 7.0};
        s.lowspot_count = 1;
    }
    bool fails() {
        reset_process_globals();
        connect();
        return error_record.fatal != 0;
    }
};

TEST_F(LowSpots, ValidLowSpotPassesAndItsWorkingValueIsReset) {
    EXPECT_FALSE(fails());
    EXPECT_DOUBLE_EQ(s.lowspots[1].work, 0.0);
}

TEST_F(LowSpots, FractionBoundsAreInclusive) {
    spot(1, 1, 2, 1.5, 10.5);
    EXPECT_FALSE(fails());
    spot(1, 1, 2, 0.0, 10.5);
    EXPECT_FALSE(fails());
    spot(1, 1, 2, 1.5000001, 10.5);
    EXPECT_TRUE(fails());
    EXPECT_NE(out.find("row 1 col 1 is unreasonable, with a value of 1.500000.  Acceptable\n"),
              std::string::npos);
    EXPECT_NE(out.find("  (low-spot file basin.spots, card LOWSPOT_FILE)\n"), std::string::npos);
}

TEST_F(LowSpots, InvalidDirectionIsRefused) {
    spot(1, 1, 3, 0.5, 10.5);
    EXPECT_TRUE(fails());
    EXPECT_EQ(out,
              "\nThe low spot flow direction specified in row 1 col 1 in the file basin.spots\n"
              "is not valid.  The only possible directions are: 1- top boundary, 2- right\n"
              "boundary, 4- bottom boundary, or 8- left boundary.\n"
              "Edit your lowspot file and try again.  Program terminated.\n"
              "\n");  // the reporter's line feed
}

TEST_F(LowSpots, PositionOutsideTheMaskIsAnError) {
    spot(2, 1, 1, 0.5, 10.5);  // a hole
    EXPECT_TRUE(fails());
    EXPECT_NE(out.find("is not in a grid cell of the watershed mask."), std::string::npos);
    spot(5, 9, 1, 0.5, 10.5);  // beyond the grid
    EXPECT_TRUE(fails());
}

TEST_F(LowSpots, CellWithoutADike) {
    s.dike_code[1] = 0;
    EXPECT_TRUE(fails());
    EXPECT_EQ(out,
              "\nYou have specified an overland flow dike in row 1 col 1\n"
              "There is no dike adjacent to this grid cell.  Program stopped.\n\n");
}

TEST_F(LowSpots, OtherSideOutOfTheWatershed) {
    spot(1, 1, 4, 0.5, 10.5);  // the cell below is a hole
    EXPECT_TRUE(fails());
    EXPECT_EQ(out,
              "\nYou have specified a low spot on the bottom boundary of the grid\n"
              "cell at row 1 col 1.  Either the side you have specified is not on\n"
              "an overland flow dike, or the cell on the other side is out of the\n"
              "watershed.  Check your low spot file.  Program terminated.\n\n");
}

TEST_F(LowSpots, ElevationEqualToTheCellPassesLowerStops) {
    spot(1, 1, 2, 0.5, 10.0);
    EXPECT_FALSE(fails());
    spot(1, 1, 2, 0.5, 9.5);
    EXPECT_TRUE(fails());
    EXPECT_NE(out.find("cell located at row 1 col 1 is 9.500000 m.  This elevation is lower than the\n"
                       "elevation of the grid cell, which is 10.000000 m."),
              std::string::npos);
}

TEST_F(LowSpots, OtherSideHigherThanTheLowSpot) {
    s.elevation[1] = 8.0;
    s.elevation[2] = 11.0;
    spot(1, 1, 2, 0.5, 10.0);
    EXPECT_TRUE(fails());
    EXPECT_NE(out.find("elevation of the grid cell on the other side of the dike, which is "
                       "11.000000 m.\n"),
              std::string::npos);
}

TEST_F(LowSpots, LowSpotAlongTheDikeIsRefused) {
    s.dike_code[2] = 1;  // the neighbour's dike runs along its top, not its left side
    EXPECT_TRUE(fails());
    EXPECT_NE(out.find("\nThe low spot you have specified in the grid at row 1  col 1 does not\n"
                       "cross the dike.  Rather, it runs _along_ the dike.  You specified flow\n"
                       "at this low spot across the right boundary of the cell, while the dike\n"
                       "is running in a different direction than along the right side of the cell.\n"
                       "Program terminated.\n"),
              std::string::npos);
}

TEST_F(LowSpots, NoValidationWithoutALowSpotFile) {
    s.lowspot_on = 0;
    s.dike_code[1] = 0;  // would fail
    EXPECT_FALSE(fails());
}

}  // namespace
