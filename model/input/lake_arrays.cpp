// Per-cell arrays of the lakes and of the vegetation-model exchange, made by
// allocate_cell_arrays with the other per-cell arrays before the inputs are read;
// the overland-lake update also makes its work storage here on a first call.
#include <algorithm>

#include "model/input/input_readers.h"
#include "model/core/model_state.h"

int make_overland_lake_work(model_state &s) {
    overland_lake_work &w = s.olake_work;
    const int n = s.cell_count;
    if (w.cells == n && !w.side_mask.empty()) return 0;
    const int limit = n / 8;
    // The candidate lists take up to four entries of one cell before their limit
    // is tested, so they hold at least four.
    const int list = std::max(limit, 4);
    if (alloc_1d_int(w.side_mask, n) != 0 || alloc_1d_int(w.candidate_cell, list) != 0 ||
        alloc_1d_double(w.candidate_level, list) != 0 || alloc_1d_int(w.group_count, list) != 0 ||
        alloc_1d_int(w.group_sum, list) != 0 || alloc_1d_double(w.release_key, n) != 0 ||
        alloc_1d_int(w.member_cells, n) != 0 || alloc_1d_int(w.joined, list) != 0)
        return -1;
    w.cells = n;
    w.list_size = limit;
    return 0;
}

void allocate_lake_cell_arrays(model_state &s) {
    if (s.overland_lake_on) make_overland_lake_work(s);
    // Channel lakes are known only once the channel file is read; their change
    // flags are made with the other cell arrays of channel routing.
    if (s.chan_explicit || s.chan_mesh) alloc_1d_int(s.lake_change_flag, s.cell_count);
}

void allocate_exchange_cell_arrays(model_state &s) {
    if (s.hxt_on && s.plux_on) alloc_1d_double(s.plux_map_values, s.cell_count);
}
