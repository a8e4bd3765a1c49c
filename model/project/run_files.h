// The run files: every input and output file named by the project file is opened
// once, before any input is read, into its own slot of model_state, and every slot
// is closed once by the run's clean-up. Called by run_model.
#pragma once
#include <string>

struct model_state;

// Opens the run files in their fixed order; the first failure leaves its code
// (4, or 48 to 51) with label and name in error_record and ends the pass.
void open_project_files(model_state &ms);

// Opens the ".conc" and ".mass" outlet files of every nutrient species whose
// hydrograph output is on (called by open_project_files).
void open_nutrient_hydrograph_files(model_state &ms);

// Opens the outlet inflow file (Q7_INPUT) and writes its three header lines; a file
// that cannot be opened is skipped, and its rows with it.
void write_outlet_inflow_header(model_state &ms, const std::string &file_name);

// Closes every open stream of the run (the file slots, the nutrient files, the
// nutrient summary, the outlet inflow file and the point-output stream) and sets
// each to none. Safe to call on a run that failed at any point, and twice.
void close_run_files(model_state &ms);

// Number of streams of the run that are open now (for tests and checks).
int open_run_file_count(const model_state &ms);
