// One model run (write the inputs, run the model command, read the outputs,
// look at the stop file) and the objective functions computed from its results:
// measurement, prior information and regularisation phi.
#pragma once
#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// The stop file through which a user ends a running calibration.
inline constexpr const char *stop_file_name = "varnock.stp";

// Runs the model command line through the command interpreter and waits for it.
// An interpreter that cannot run, a non-zero exit status of the model command
// and a command ended by a signal are each a failed model run: a message
// naming the command, and status 1.
calib_status run_model_command(const control_data &cd);

// Removes every model output file named in the instruction/output pairs (a
// file that is not there is fine); status 1 when one cannot be removed.
calib_status remove_model_output_files(const control_data &cd);

// Removes the model output files, writes every model input file with the
// values of `value_kind`, runs the model, reads every output file into
// model_value[value_kind] and, when `check_stop` is set, looks at the stop file.
calib_status run_model_once(control_data &cd, const file_names &names, int value_kind,
                            template_file_table &templates, instruction_file_table &instructions,
                            bool check_stop);

// Sum of squared weighted residuals of value kind 0 or 1; sets every group_phi.
calib_status measurement_phi(control_data &cd, int value_kind, double &phi);

// Prior information objective (estimation): adds each equation's squared
// weighted residual to its group's group_phi and to `result`.
calib_status prior_information_phi(control_data &cd, const double_matrix &prior, double &result);

// Regularisation objective without the weight factor in `result`; the groups
// holding prior equations carry their share times the weight factor squared.
calib_status regularisation_phi(control_data &cd, const double_matrix &prior, double &result);

// Looks at "varnock.stp": 1 ends the program, 2 and 3 are refused and end it
// too (status 0 each); anything else removes the file and returns 0.
calib_status check_stop_file();
