// The run state of the channel-file harnesses: a 3 x 4 grid of 10 m cells, all
// inside the watershed, ground elevation 100 + cell number, console echo off.
#pragma once
#include "model/arrays.h"
#include "model/model_state.h"

inline void set_up_channel_state(model_state &s) {
    s.grid_rows = 3;
    s.grid_cols = 4;
    s.cell_size = 10.0;
    s.quiet = 1;
    alloc_2d_int(s.cell_number_grid, 4, 5);
    int g = 0;
    for (int r = 1; r <= 3; ++r) {
        for (int c = 1; c <= 4; ++c) s.cell_number_grid[r][c] = ++g;
    }
    s.cell_count = 12;
    alloc_1d_double(s.elevation, 12);
    for (int i = 1; i <= 12; ++i) s.elevation[i] = 100.0 + i;
}
