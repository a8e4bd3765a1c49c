// Stand-ins for the readers that read_input_data calls, until each is built: a
// reader whose feature is off does nothing; one that the project needs stops the
// run with a clear message that the feature is not available.
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "model/feature_standin.h"
#include "model/input/input_readers.h"
#include "model/model_state.h"

// Per-cell arrays of the later processes: their readers' stand-ins stop a run
// that needs them, so nothing is allocated here.
void allocate_channel_cell_arrays(model_state &) {}
