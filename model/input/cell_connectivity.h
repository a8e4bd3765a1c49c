// Cell connectivity of the watershed: the four neighbour tables, the validation of
// the dike low spots against them, and the bed slopes toward the right and down
// neighbours. run_model calls build_cell_connectivity, then compute_cell_slopes
// (both declared in input_services.h).
#pragma once

#include "model/core/arrays.h"

struct model_state;

// Fills right, down, up and left (per cell, N+1 entries) from the cell-number grid
// over rows 1..rows and columns 1..cols: the neighbour's cell number, 0 outside the
// mask or beyond the grid's edge.
void build_neighbor_tables(int rows, int cols, array_1d<int> &right, array_1d<int> &down,
                           array_1d<int> &up, array_1d<int> &left,
                           const array_2d<int> &cell_number_grid);

// Checks low spot k of the run against the grid, the mask, the dikes and the
// elevations; false after its message, code 4000 and the report.
bool validate_lowspot(model_state &state, int k);
