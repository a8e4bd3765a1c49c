// Readers of the groundwater, Sacramento, interception, overland-lake, retention
// and roughness inputs (steps 11 to 16 of read_input_data, in that order), and the
// services of later features that they call. Each fills per-cell arrays of the
// run state in metres and seconds and reports through error_record.
#pragma once

#include <cstdio>
#include <string>

#include "model/core/arrays.h"
#include "model/core/cell_arrays.h"

struct model_state;

// The six readers are declared with the others in model/input/input_readers.h:
// read_groundwater_inputs, open_sacramento_input, read_interception,
// read_overland_lakes, read_retention, read_roughness.

// The per-cell array guard and the groundwater work arrays that the readers use
// are declared in model/core/cell_arrays.h.

// ---- services of later features ----
// Sacramento parameter file (open, closed by the caller) into the basin record
// sac_basin, with the topographic index when TOPO_INDEX is given; code 4000 on
// failure.
void read_sacramento_input(std::FILE *file, const std::string &file_name, model_state &state);
