// The Gauss-Marquardt-Levenberg drivers of MODE "estimation" and
// "regularization"/"regularisation", called by calibration_main.
#pragma once
#include <cstdio>

#include "calibrator/engine/control_data.h"

// The refusals of the GML drivers that need neither a model run nor an output
// file: the settings, regularisation without prior information, and for "/r" a
// restart file that is missing or does not fit the problem (read into scratch
// storage). Called before the output files are opened, so that a refused run
// changes no file. Status 1 after the message.
calib_status check_gml_start(int argc, char *argv[], const control_data &cd,
                             const file_names &names);

// GML parameter estimation: an initial model run (none when restarting with
// "/r"), then per iteration a finite-difference Jacobian and a search over
// Marquardt lambdas, and at the end a last run with the best parameters, the
// statistics and the results section of the run record.
calib_status optimise_estimation(int argc, char *argv[], control_data &cd, file_names names,
                                 std::FILE *record, std::FILE *sensitivity, std::FILE *matrix,
                                 std::FILE *parameter_values, template_file_table &templates,
                                 instruction_file_table &instructions);

calib_status optimise_regularisation(int argc, char *argv[], control_data &cd, file_names names,
                                     std::FILE *record, std::FILE *sensitivity, std::FILE *matrix,
                                     std::FILE *parameter_values, template_file_table &templates,
                                     instruction_file_table &instructions);
