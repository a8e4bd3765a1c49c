// Reader of the control file into the control_data record: the control
// settings, groups, parameters, observations, model command, file pairs, prior
// information and regularisation values. Called once by calibration_main.
#pragma once
#include <string>

#include "calibrator/engine/control_data.h"

// Reads the control file named by argv[1] (".pst" appended when the name holds
// no "."). Every value is checked; a failure prints a message naming the file
// and the section and returns 1.
calib_status read_control_file(control_data &cd, int argc, char *argv[]);

// Reads the control file text `text` (read from `file_name`, used in messages).
calib_status read_control_text(control_data &cd, const std::string &text,
                               const std::string &file_name);

// When the largest and smallest non-zero observation weights differ by more
// than a double resolves once squared (1/sqrt(epsilon)), the text that names both
// observations and their weights, for the message of a failed factorisation of
// the normal matrix; "" otherwise. read_control_file leaves it with nr_set_input_note.
std::string weight_span_note(const control_data &cd, const std::string &file_name);
