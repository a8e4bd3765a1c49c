// The instruction interpreter: walks a cursor through a model output file as an
// instruction file says and stores the values read in the observations. Checked
// once at start-up and run after every model run.
#pragma once
#include "calibrator/engine/control_data.h"

// Checks the header and parses the instructions of every open instruction file
// (names of observations, counts, columns, unterminated texts) once for the
// whole calibration; status 1 on a fault or when an observation of the control
// file is read by no instruction.
calib_status check_instruction_files(control_data &cd, instruction_file_table &table);

// Reads the output file of instruction file `instruction_number` and stores each
// value read in model_value[value_kind] of its observation. Status 1 when the
// output file cannot be read, an instruction cannot be carried out or a value
// is not a finite number (which also sets table.non_finite_value).
calib_status read_model_output_file(control_data &cd, file_names names, int instruction_number,
                                     int value_kind, instruction_file_table &table);
