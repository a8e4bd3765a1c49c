// Readers of the groundwater, Sacramento, interception, overland-lake, retention
// and roughness inputs (steps 11 to 16 of read_input_data, in that order), and the
// services of later features that they call. Each fills per-cell arrays of the
// run state in metres and seconds and reports through error_record.
#pragma once

#include <cstdio>
#include <string>

#include "model/core/arrays.h"

struct model_state;

// The six readers are declared with the others in model/input/input_readers.h:
// read_groundwater_inputs, open_sacramento_input, read_interception,
// read_overland_lakes, read_retention, read_roughness.

// Makes a per-cell array hold N+1 zeroed entries unless it already does; false
// (with the allocator's message) when it cannot be had.
bool ensure_cell_array(array_1d<double> &values, int cell_count);
bool ensure_cell_array(array_1d<int> &values, int cell_count);

// The groundwater step's per-cell and line work arrays in the run state, sized by
// the cell count and the longest grid row or column; made once (by the cell-array
// hook of a groundwater run), kept for the run. False when they cannot be had.
bool allocate_groundwater_work(model_state &state);

// ---- services of later features ----
// Sacramento parameter file (open, closed by the caller) into the basin record
// sac_basin, with the topographic index when TOPO_INDEX is given; code 4000 on
// failure.
void read_sacramento_input(std::FILE *file, const std::string &file_name, model_state &state);
