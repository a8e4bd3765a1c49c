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
void allocate_exchange_cell_arrays(model_state &) {}
void allocate_lake_cell_arrays(model_state &) {}

void read_lowspot_file(std::FILE *, const std::string &, std::vector<lowspot_record> &,
                       int &count) {
    count = 0;
    report_feature_not_available("reading the low-spot file");
}
