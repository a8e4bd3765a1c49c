// Run set-up between reading the project file and opening the run's files: turns
// the card values into the run's working settings, refuses contradictory option
// combinations, and writes the start-up header. Called by run_model.
#pragma once
#include <string>

struct model_state;

// Set once a run has read the PAUSE card and kept for the rest of the process: the
// break-point table reader waits for a key before a fatal stop while it is set.
extern int pause_on_exit;

// Reads the project file into the card records of ms and derives the run settings,
// the file names of the run and the mapping-table presence flags. Failures are
// codes in error_record (3 project file missing, 5 MAP_TYPE 4, 130 nutrient summary).
void read_run_parameters(const std::string &project_file, model_state &ms);

// Tests the option combinations in a fixed order and stores the code of the first
// failure; warning 39 is reported at once and the checks go on.
void check_project_options(model_state &ms);

// Writes the start-up header into the summary file (nothing when it is not open).
void print_startup_info(model_state &ms, const std::string &project_file);

// Number of model steps in an output interval of `minutes` at `time_step` seconds,
// truncated toward zero, never below 1 and clamped before the conversion so that a
// huge interval cannot overflow. Used for the hydrograph and map intervals.
int output_interval_steps(double minutes, double time_step);
