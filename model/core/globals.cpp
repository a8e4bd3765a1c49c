// The model's process-wide records and their resets. The run driver's clean-up
// calls clear_run_lists after every run; tests call reset_process_globals.
#include "model/core/globals.h"

#include "model/core/file_opener.h"

error_record_type error_record;
warning_tally_type warning_tally;

std::vector<replace_param> replace_param_list;
int replace_params_on = 0;
int replace_line_index = 0;

int calibration_output_failed = 0;
int calibration_run_quiet = 0;
std::string last_input_echo;

int file_prefix_on = 0;
int file_prefix_number = 0;

parallel_layout_record parallel_layout;

std::vector<std::unique_ptr<time_series>> time_series_list;
std::vector<std::unique_ptr<elevation_series>> elevation_series_list;
std::vector<time_series_id_entry> time_series_id_list;
std::vector<std::unique_ptr<pump>> pump_list;

void clear_run_lists() {
    // Every list that a run fills is emptied here so that the next run in the same
    // process starts as a separate process would. Add new lists to this block.
    std::vector<replace_param>().swap(replace_param_list);
    clear_replace_list_files();
    replace_line_index = 0;
    free_time_series();
    free_series_lists();
}

void reset_process_globals() {
    clear_run_lists();
    error_record = error_record_type{};
    warning_tally = warning_tally_type{};
    replace_params_on = 0;
    file_prefix_on = 0;
    file_prefix_number = 0;
    calibration_output_failed = 0;
    calibration_run_quiet = 0;
    last_input_echo.clear();
    parallel_layout = parallel_layout_record{};
    forget_output_files();
}
