// Cell connectivity of the watershed: the four neighbour tables through which
// every grid process finds the cell on each side, the validation of the dike low
// spots, and the x and y bed slopes. Called by run_model after the inputs are read.
#include "model/input/cell_connectivity.h"

#include <cstdio>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/input_services.h"
#include "model/input/watershed_mask.h"
#include "model/core/model_state.h"

namespace {

// Sides of a cell, one bit each.
constexpr int side_top = 1, side_right = 2, side_bottom = 4, side_left = 8;

const char *side_name(int d) {
    switch (d) {
    case side_top: return "top";
    case side_right: return "right";
    case side_bottom: return "bottom";
    default: return "left";
    }
}

// The dike bit of the neighbour's side that faces the cell.
int facing_side(int d) {
    switch (d) {
    case side_top: return side_bottom;
    case side_right: return side_left;
    case side_bottom: return side_top;
    default: return side_right;
    }
}

void print_elevation_head(int r, int c, double z) {
    std::printf("\nThe elevation of the overland flow dike low spot you specified in the grid\n");
    std::printf("cell located at row %d col %d is %f m.  This elevation is lower than the\n", r, c,
                z);
}

void print_along_dike(int r, int c, int d) {
    std::printf("\nThe low spot you have specified in the grid at row %d  col %d does not\n", r, c);
    std::printf("cross the dike.  Rather, it runs _along_ the dike.  You specified flow\n");
    switch (d) {
    case side_top:
        std::printf("at this low spot across the top boundary of the cell, while the dike\n");
        std::printf("is running in a different direction than along the top of the cell.\n");
        break;
    case side_right:
        std::printf("at this low spot across the right boundary of the cell, while the dike\n");
        std::printf("is running in a different direction than along the right side of the cell.\n");
        break;
    case side_bottom:
        std::printf("at this low spot across the bottom boundary of the cell, while the dike\n");
        std::printf("is running in a different direction than along the bottom of the cell.\n");
        break;
    default:
        std::printf("at this low spot across the left boundary of the cell, while the dike\n");
        std::printf("is running in a different direction than along the left side of the cell.\n");
        break;
    }
    std::printf("Program terminated.\n");
}

bool fail() {
    raise_printed_error();
    return false;
}

// Entry i of a per-cell int table, 0 when the table does not hold it.
int entry(const array_1d<int> &a, int i) {
    return (i >= 1 && !a.empty() && static_cast<std::size_t>(i) <= a.last()) ? a[i] : 0;
}

}  // namespace

void build_neighbor_tables(int rows, int cols, array_1d<int> &right, array_1d<int> &down,
                           array_1d<int> &up, array_1d<int> &left,
                           const array_2d<int> &grid) {
    if (grid.empty()) return;
    int k = 0;
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            if (grid[i][j] == 0) continue;
            ++k;
            if (right.empty() || static_cast<std::size_t>(k) > right.last()) return;
            right[k] = j < cols ? grid[i][j + 1] : 0;
            left[k] = j > 1 ? grid[i][j - 1] : 0;
            down[k] = i < rows ? grid[i + 1][j] : 0;
            up[k] = i > 1 ? grid[i - 1][j] : 0;
        }
    }
}

bool validate_lowspot(model_state &s, int k) {
    lowspot_record &spot = s.lowspots[static_cast<std::size_t>(k)];
    const int r = spot.row, c = spot.col, d = spot.direction;
    const double f = spot.fraction, z = spot.elevation;
    spot.work = 0.0;

    if (!(f >= 0.0 && f <= 1.5)) {
        std::printf("\nThe fraction of the grid-size specified for the lowspot in the grid at\n");
        std::printf("row %d col %d is unreasonable, with a value of %f.  Acceptable\n", r, c, f);
        std::printf(" values range from 0.0 to 1.5.  Change the value.  Program terminated.\n");
        std::printf("  (low-spot file %s, card LOWSPOT_FILE)\n", s.lowspot_name.c_str());
        return fail();
    }
    // A low spot must lie on a cell of the watershed.
    const int cell = cell_at(s.cell_number_grid, s.grid_rows, s.grid_cols, r, c);
    if (cell == 0) {
        std::printf("\nThe low spot you specified in row %d col %d in the file %s\n", r, c,
                    s.lowspot_name.c_str());
        std::printf("is not in a grid cell of the watershed mask.\n");
        std::printf("Edit your lowspot file and try again.  Program terminated.\n");
        return fail();
    }
    int other = 0;
    switch (d) {
    case side_top: other = entry(s.up, cell); break;
    case side_right: other = entry(s.right, cell); break;
    case side_bottom: other = entry(s.down, cell); break;
    case side_left: other = entry(s.left, cell); break;
    default:
        std::printf("\nThe low spot flow direction specified in row %d col %d in the file %s\n", r,
                    c, s.lowspot_name.c_str());
        std::printf("is not valid.  The only possible directions are: 1- top boundary, 2- right\n");
        std::printf("boundary, 4- bottom boundary, or 8- left boundary.\n");
        std::printf("Edit your lowspot file and try again.  Program terminated.\n");
        return fail();
    }
    if (entry(s.dike_code, cell) == 0) {
        std::printf("\nYou have specified an overland flow dike in row %d col %d\n", r, c);
        std::printf("There is no dike adjacent to this grid cell.  Program stopped.\n");
        return fail();
    }
    if (other == 0 || entry(s.dike_code, other) == 0) {
        std::printf("\nYou have specified a low spot on the %s boundary of the grid\n", side_name(d));
        std::printf("cell at row %d col %d.  Either the side you have specified is not on\n", r, c);
        std::printf("an overland flow dike, or the cell on the other side is out of the\n");
        std::printf("watershed.  Check your low spot file.  Program terminated.\n");
        return fail();
    }
    if (s.elevation[cell] > z) {
        print_elevation_head(r, c, z);
        std::printf("elevation of the grid cell, which is %f m.  This situation is impossible.\n",
                    s.elevation[cell]);
        std::printf("Please raise the low spot elevation to be greater than the grid cell elevation.\n");
        std::printf("Program terminated\n");
        return fail();
    }
    if (s.elevation[other] > z) {
        print_elevation_head(r, c, z);
        std::printf("elevation of the grid cell on the other side of the dike, which is %f m.\n",
                    s.elevation[other]);
        std::printf("This situation is impossible.  Please raise the low spot elevation to be\n");
        std::printf("greater than the grid cell elevation.\n");
        std::printf("Program terminated\n");
        return fail();
    }
    if ((entry(s.dike_code, other) & facing_side(d)) == 0) {
        print_along_dike(r, c, d);
        return fail();
    }
    return true;
}

void build_cell_connectivity(model_state &s) {
    if (!s.quiet && parallel_layout.process_rank == 0)
        std::printf("building cell to cell connectivity information\n");
    // The project's grid: the mask header was checked to agree with it.
    build_neighbor_tables(s.grid_rows, s.grid_cols, s.right, s.down, s.up, s.left,
                          s.cell_number_grid);
    if (!s.dike_on || !s.lowspot_on || s.lowspot_count < 1) return;
    if (s.lowspots.size() <= static_cast<std::size_t>(s.lowspot_count)) {
        std::printf("Error: the low-spot list holds fewer than its %d low spots.\n",
                    s.lowspot_count);
        raise_printed_error();
        return;
    }
    for (int k = 1; k <= s.lowspot_count; ++k)
        if (!validate_lowspot(s, k)) return;
}

void compute_cell_slopes(model_state &s) {
    const int n = s.cell_count;
    if (n < 1 || s.x_slope.empty() || s.y_slope.empty() || s.elevation.empty() ||
        s.right.empty() || s.down.empty())
        return;
    const double dx = s.cell_size;
    for (int i = 1; i <= n; ++i) {
        const int r = s.right[i];
        // A cell without a right neighbour keeps the slope of the cell before it.
        s.x_slope[i] = r != 0 ? (s.elevation[i] - s.elevation[r]) / dx : s.x_slope[i - 1];
    }
    for (int i = 1; i <= n; ++i) {
        const int d = s.down[i];
        if (d == 0) continue;
        s.y_slope[i] = (s.elevation[i] - s.elevation[d]) / dx;
        // The last cell of a column takes the slope of the cell above it.
        if (s.down[d] == 0) s.y_slope[d] = s.y_slope[i];
    }
}
