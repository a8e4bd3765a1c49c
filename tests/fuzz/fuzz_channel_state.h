// The run state of the channel-file harnesses: a 3 x 4 grid of 10 m cells, all
// inside the watershed, ground elevation 100 + cell number, console echo off.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz_support.h"
#include "model/core/arrays.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"

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

// One input of a channel-file harness: a fresh state, the input as "chan.dat" read
// by `reader`, the process-wide records reset before and after.
template <class Reader>
int fuzz_channel_reader(const std::uint8_t *data, std::size_t size, Reader reader) {
    reset_process_globals();
    {
        model_state state;
        set_up_channel_state(state);
        std::FILE *f = fuzzsupport::open_input("chan.dat", data, size);
        try {
            reader(f, state);
        } catch (const fuzzsupport::exit_requested &) {
        }
        std::fclose(f);
    }
    reset_process_globals();
    return 0;
}
