// The grid map reader as it stood before it read its lines in blocks and parsed
// numbers in place (same interface as model/core/grid_map.h, in namespace reference).
// For the equality tests and the benchmarks only.
#pragma once
#include <cstdio>
#include <string>

#include "model/core/arrays.h"
#include "model/core/grid_map.h"

namespace reference {

void read_grid_map(std::FILE *file, const std::string &file_name, int mode, double *north,
                   double *south, double *east, double *west, int *rows, int *cols,
                   array_2d<int> &mask_grid, array_1d<double> &first_values,
                   array_1d<double> &second_values, array_1d<int> &cell_ints,
                   int expected_rows, int expected_cols);

}  // namespace reference
