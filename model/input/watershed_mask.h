// The first readers of the input driver: the watershed mask with the numbering of
// the cells, the tile-drain pipe network, the elevations with the outlet cell, the
// dike map, wetlands and the overland boundary table (declared in input_readers.h).
// The pieces below are their arithmetic, shared with the tests.
#pragma once

#include "model/core/arrays.h"

struct model_state;

// Grid-size check of one direction: GRIDSIZE against the extent of the map over
// its cell count, both as (value + 0.001) * 10 truncated toward zero. The count
// must be above 0.
bool grid_size_agrees(double dx, double extent, int count);

// Replaces every non-zero entry of the bordered grid [0..rows+1][0..cols+1] by the
// next cell number, in row order from 1; the cell count.
int number_mask_cells(array_2d<int> &grid, int rows, int cols);

// Cell number at (row, col) when the position lies inside 1..rows x 1..cols,
// else 0.
int cell_at(const array_2d<int> &grid, int rows, int cols, int row, int col);

// Steps of the tile-drain reader after read_superlink_file has filled the pipe
// network: the tile-drain arrays, the console line, the size limits (codes 99,
// 100, 101) and the cell of every junction and pipe node. A position outside the
// grid or the mask stops the run with its message.
void place_tile_drain_network(model_state &state);
