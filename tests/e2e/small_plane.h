// Shared by the end-to-end runs on a small plane of 3 x 3 cells of 10 m: the text
// of a grid map whose cell values a function gives.
#pragma once

#include <cstdio>
#include <string>

namespace small_plane {

constexpr int rows = 3, cols = 3;
constexpr double dx = 10.0;

// The map header of the plane, then value(row, column) for every cell, rows from the north.
template <class F>
std::string grid(F value) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "north: %.1f\nsouth: 0.0\neast: %.1f\nwest: 0.0\nrows: %d\ncols: %d\n",
                  rows * dx, cols * dx, rows, cols);
    std::string text = line;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) text += value(r, c) + (c < cols ? " " : "\n");
    return text;
}

}  // namespace small_plane
