// Per-cell work arrays of the run state made on demand, used by the readers'
// set-up hooks and by the processes that allocate on their first step.
#pragma once

#include "model/core/arrays.h"

struct model_state;

// Makes a per-cell array hold N+1 zeroed entries unless it already does; false
// (with the allocator's message) when it cannot be had.
bool ensure_cell_array(array_1d<double> &values, int cell_count);
bool ensure_cell_array(array_1d<int> &values, int cell_count);

// The groundwater step's per-cell and line work arrays in the run state, sized by
// the cell count and the longest grid row or column; made once (by the cell-array
// hook of a groundwater run), kept for the run. False when they cannot be had.
bool allocate_groundwater_work(model_state &state);

// The work storage of the overland-lake update for the run's cell count (once per
// run; nothing when it is already made for that count). 0 on success.
int make_overland_lake_work(model_state &state);
