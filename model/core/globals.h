// The model's process-wide records: the error record, the replacement-parameter
// list and its switches, the output-file prefix of a calibration series and the
// grid-decomposition record, with the resets used between runs and by tests.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "model/core/arrays.h"
#include "model/core/errors.h"
#include "model/core/replace_params.h"
#include "model/core/series.h"

// Decomposition of the grid into parts. This system runs one process with one
// part, so the arrays stay empty and the counts keep their defaults.
struct parallel_layout_record {
    int grid_rows = 0;
    int grid_cols = 0;
    int cell_count = 0;
    const array_2d<int> *cell_map = nullptr;  // cell-number grid of the run
    array_1d<double> row_cell_counts;        // per-row in-mask cells
    array_1d<double> col_cell_counts;        // per-column in-mask cells
    array_1d<int> row_split_flags;           // per-cell flags of the row split
    array_1d<int> col_split_flags;           // per-cell flags of the column split
    array_1d<double> line_doubles;           // work line arrays
    array_1d<int> line_ints;
    int process_rank = 0;
    int process_count = 1;
    int suppress_output = 0;
    int partition_count = 1;
    int montecarlo_divisor = 1;
    int log_file_number = 0;
};

extern error_record_type error_record;
extern warning_tally_type warning_tally;

// Replacement tags in reading order; emptied at the end of every run.
extern std::vector<replace_param> replace_param_list;
// Once set, every line read through read_line has its tags substituted.
extern int replace_params_on;
// 0-based line of the value file to use (REPLACE_LINE n sets n - 1).
extern int replace_line_index;

// Set by the calibration objective: files opened for writing are named "%d_%s".
// Set when a calibration mode could not write one of its own files (logs, results):
// the process then ends with status 1.
extern int calibration_output_failed;
// Set by each run of a calibration series: its project has the QUIET card, which
// also silences the calibration's progress line of the run.
extern int calibration_run_quiet;

// The last "reading ... from file" line of the run that is going, for the
// calibration modes, whose runs keep such lines off the console: a failed run
// names the input it stopped at. Emptied when a run begins.
extern std::string last_input_echo;

extern int file_prefix_on;
extern int file_prefix_number;

extern parallel_layout_record parallel_layout;

// Named series and pumps (model/series), in reading order (pumps newest first);
// emptied by clear_run_lists so that every run reads its own series.
extern std::vector<std::unique_ptr<time_series>> time_series_list;
extern std::vector<std::unique_ptr<elevation_series>> elevation_series_list;
extern std::vector<time_series_id_entry> time_series_id_list;  // newest first
extern std::vector<std::unique_ptr<pump>> pump_list;

// Empties every process-wide list that a run builds (replacement list, series
// lists) and resets the replacement line index; called by the end-of-run clean-up.
void clear_run_lists();

// Puts every process-wide record back to its state at process start (the lists
// emptied, error record cleared, switches and prefix off, one-part layout).
void reset_process_globals();
