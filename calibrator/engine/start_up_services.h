// Start-up services of varnock: parameter kinds and tie ratios, the tables of
// open template and instruction files, the reading pause after an error message
// and the out-of-memory report. Run by calibration_main and used by every stage.
#pragma once
#include "calibrator/engine/control_data.h"

// Kind of parameter p (1-based): 1 "fixed", 2 "tied", otherwise 0 (adjustable).
calib_status parameter_kind(const control_data &cd, int p, int &kind);

// Sets adjustable_count, fixed_count and tied_count; zeroes frozen_count.
calib_status count_parameter_kinds(control_data &cd);

// Sets parent_index and tie_ratio of every parameter. A tied parameter whose
// parent is missing, fixed, tied or has the native value 0 is refused (status 1).
calib_status set_tie_ratios(control_data &cd);

// Native value of a stored parameter value: 10 to the power for "log" parameters.
double native_value(const parameter_data &p, double stored);

// Recomputes every tied parameter's `value` from its parent's `value`.
void recompute_tied_values(control_data &cd);

// Open every template (instruction) file for reading into its table entry; more
// than 25 files, or a file that cannot be opened, give status 1.
calib_status open_template_files(const control_data &cd, template_file_table &table);
calib_status open_instruction_files(const control_data &cd, instruction_file_table &table);
calib_status close_template_files(const control_data &cd, template_file_table &table);
calib_status close_instruction_files(const control_data &cd, instruction_file_table &table);
// Reads the whole of an open template or instruction file, from its start, into
// text; false for a null handle or a read error.
bool read_open_file(std::FILE *f, std::string &text);

// A short pause after an error message so that the console stays readable.
void pause_for_reading();
// Length of that pause in milliseconds (tests set it to 0); returns the old length.
int set_reading_pause_ms(int milliseconds);

// "Not enough memory to allocate buffer", the pause, status 1.
calib_status report_out_of_memory();
