// The one reader of the model's text grid maps (six header lines, then the values
// row by row): fills a whole integer grid or the cells inside the watershed mask,
// packed by cell number. Called by the input readers and the map exchange.
#pragma once
#include <cstdio>
#include <string>

#include "model/core/arrays.h"
#include "model/core/value_bounds.h"

// Read modes of read_grid_map.
enum grid_map_mode : int {
    grid_map_cells_double = 1,   // reals, one row a line, into the first per-cell array
    grid_map_full_int = 2,       // integers, free layout, into the whole integer grid
    grid_map_cells_double2 = 3,  // reals, one row a line, into the second per-cell array
    grid_map_cells_int = 4,      // integers, free layout, into the per-cell integer array
};

// Reads one grid map from `file` (opened and closed by the caller). The corner
// coordinates and the header's rows and cols are written through their pointers.
// In mode 2 `mask_grid` is the destination ([1..rows][1..cols]); in the other modes
// it selects the mask cells (non-zero entries) whose values are stored, the k-th
// mask cell in row order at index k of the mode's per-cell array. Arrays that the
// mode does not use may be empty. The header's size is checked against the
// expected size before any value is stored; a header that does not parse, a size
// that differs, an end of file inside the values or a destination too small for
// the map print a message, store code 4000 (72 to 74 for the size) and report it.
void read_grid_map(std::FILE *file, const std::string &file_name, int mode, double *north,
                   double *south, double *east, double *west, int *rows, int *cols,
                   array_2d<int> &mask_grid, array_1d<double> &first_values,
                   array_1d<double> &second_values, array_1d<int> &cell_ints,
                   int expected_rows, int expected_cols);
// The same for a map of one physical quantity: with `range` given, a real value
// inside the mask that lies outside it is refused, naming its row and column.
void read_grid_map_within(std::FILE *file, const std::string &file_name, int mode, double *north,
                          double *south, double *east, double *west, int *rows, int *cols,
                          array_2d<int> &mask_grid, array_1d<double> &first_values,
                          array_1d<double> &second_values, array_1d<int> &cell_ints,
                          int expected_rows, int expected_cols, const value_bounds *range);

// The second line of a size refusal: what the header gives against what the model's
// grid (the watershed mask's) holds, naming the map.
void print_map_size_found(const std::string &file_name, int rows, int cols, int expected_rows,
                          int expected_cols);

// What a map's first six lines must be, for the refusal of a header that does not read.
inline constexpr const char *grid_map_header_layout =
    "six lines of a word and a number: north, south, east, west, rows, cols";
