// Entry points of the evolutionary search: the driver of MODE "cmaes" and
// "cmaesrbf" and the RBF self-test of MODE "rbf", called by calibration_main.
#pragma once
#include <cstdio>

#include "calibrator/engine/control_data.h"

calib_status run_cmaes(int argc, char *argv[], control_data &cd, file_names names,
                       std::FILE *record, std::FILE *sensitivity, std::FILE *matrix,
                       std::FILE *parameter_values, template_file_table &templates,
                       instruction_file_table &instructions, double &best_fitness);

calib_status rbf_self_test(int argc, char *argv[], control_data &cd);
