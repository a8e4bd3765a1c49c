// Progress reports of the GML drivers beyond the start-up and results sections:
// the iteration headers, the re-calculated weight factor, the composite
// sensitivities with the no-effect check, the sensitivity file and the
// parameter value file. Called by the GML drivers once per iteration and at the end.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Writes the same text to the screen and, when `record` is open, to the run record.
void report_both(std::FILE *record, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Iteration header: "estimation" mode uses `total_phi` only; regularisation
// mode also the measurement and regularisation phi. Other modes write nothing.
void print_iteration_header(const control_data &cd, int iteration, int model_calls,
                            double measurement_phi_value, double regularisation_phi_value,
                            double total_phi);
void write_iteration_header(std::FILE *record, const control_data &cd, int iteration,
                            int model_calls, double measurement_phi_value,
                            double regularisation_phi_value, double total_phi);

// Re-calculated regularisation weight factor and the new starting phi.
void print_weight_factor(const control_data &cd, double new_phi);
void write_weight_factor(std::FILE *record, const control_data &cd, double new_phi);

// Composite sensitivity of Jacobian column `column`: the square root of the
// sum of (weight x J(k, column))^2 over the observations of weight above 0 and
// the prior equations (estimation: prior rows of J; regularisation: the prior
// matrix times the weight factor), divided by the number of terms. With
// `group` not null only the members of that observation group count. No term
// gives 0.
double composite_sensitivity(const control_data &cd, const double_matrix &jacobian,
                             const double_matrix &prior, int column, const std::string *group);

// Stores every adjustable parameter's composite sensitivity and marks those
// below 1e-8 as without effect (frozen_for_upgrade), with a message.
calib_status check_parameter_effect(control_data &cd, const double_matrix &jacobian,
                                    const double_matrix &prior, std::FILE *record);

// One section of the sensitivity file: during the iterations (`completion` 0)
// the iteration's sensitivities, at completion (1) those per observation group
// and over all observations.
calib_status write_sensitivities(control_data &cd, const double_matrix &jacobian,
                                 const double_matrix &prior, const file_names &names,
                                 int iteration, std::FILE *sensitivity, int completion);

// Rewrites the parameter value file from its start with one line per
// parameter: the native value of `values[p]` (1-based over all parameters).
// Values that "%lf" would show with fewer than six significant digits (or with
// an unwieldy number of digits) are written in exponent form. The file is cut
// after the last line.
void write_parameter_value_file(std::FILE *parameter_values, const control_data &cd,
                                const std::vector<double> &values);

// One line of the observation table of a run record: name, measured value,
// calculated value and residual (these three to the precision of the measured
// value as written), weight and group.
void write_observation_row(std::FILE *record, const observation_data &o, double calculated);

// One number of the parameter value file as written by the routine above.
std::string parameter_value_text(double native);
