// Entry of varnock: reads the control file, opens and scans the templates and
// instruction files, builds the output file names, opens the output files and
// hands the problem to the handler of the MODE. Called by main.
#pragma once
#include <cstdio>

#include "calibrator/engine/control_data.h"

calib_status calibration_main(int argc, char *argv[]);

// Builds the six output names from the case name: the last path component of
// argv[1] up to its first ".".
calib_status FilesNamesForWrite(char *argv[], file_names &names);

// Handler of MODE "scemua": does nothing.
calib_status run_scemua(int argc, char *argv[], control_data &cd, file_names names,
                        std::FILE *record, std::FILE *sensitivity, std::FILE *matrix,
                        std::FILE *parameter_values, template_file_table &templates,
                        instruction_file_table &instructions);
