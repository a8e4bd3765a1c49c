// Shared by the end-to-end runs on a small plane of 3 x 3 cells of 10 m: the text
// of a grid map whose cell values a function gives.
#pragma once

#include <string>

#include "project_text.h"

namespace small_plane {

constexpr int rows = 3, cols = 3;
constexpr double dx = 10.0;

// The map header of the plane, then value(row, column) for every cell, rows from the north.
template <class F>
std::string grid(F value) {
    return project_text::grid_of(rows, cols, dx, value);
}

}  // namespace small_plane
