// Per-cell arrays of the lakes and of the vegetation-model exchange, made by
// allocate_cell_arrays with the other per-cell arrays before the inputs are read.
#include "model/input/input_readers.h"
#include "model/core/model_state.h"

void allocate_lake_cell_arrays(model_state &s) {
    if (s.overland_lake_on) make_overland_lake_work(s);
    // Channel lakes are known only once the channel file is read; their change
    // flags are made with the other cell arrays of channel routing.
    if (s.chan_explicit || s.chan_mesh) alloc_1d_int(s.lake_change_flag, s.cell_count);
}

void allocate_exchange_cell_arrays(model_state &s) {
    if (s.hxt_on && s.plux_on) alloc_1d_double(s.plux_map_values, s.cell_count);
}
