// Reports of the GML drivers: the start-up screen, the run record header with
// the parameter value file, and the final "OPTIMISATION RESULTS" section.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Start-up lines on the screen with the three objective functions.
void print_start_up(double measurement_phi_value, double regularisation_phi_value,
                    double total_phi, const control_data &cd, const std::string &case_name);

// "OPTIMIZATION RECORD" header of the run record; also writes every parameter's
// current value to the parameter value file (through write_parameter_value_file).
void write_record_header(std::FILE *record, std::FILE *parameter_values,
                         double measurement_phi_value, double regularisation_phi_value,
                         double total_phi, const control_data &cd);

// The "OPTIMISATION RESULTS" section. The matrices and eigenvalues are over the
// adjustable parameters and are read only when statistics were computed
// (max_iterations not 0 and `singular` 0).
void write_optimisation_results(std::FILE *record, double phi, const double_matrix &covariance,
                                const double_matrix &correlation,
                                const double_matrix &eigenvectors,
                                const double_vector &eigenvalues, const control_data &cd,
                                int singular);
