// Working arrays and shared steps of the GML drivers: the adjustable list, the
// Jacobians, weights and prior matrix, the lambda-trial store and statistics,
// and the model run with its objective function. Set up once per driver call.
#pragma once
#include <cstdio>
#include <vector>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Which driver owns the workspace; the two share every step that differs
// only in how prior information enters.
enum class gml_mode { estimation, regularisation };

struct gml_workspace {
    gml_mode mode = gml_mode::estimation;
    int a = 0;       // adjustable_count
    int o = 0;       // observation_count
    int r = 0;       // prior_count
    int n = 0;       // parameter_count
    int l = 0;       // lambda_limit
    int rows = 0;    // Jacobian rows: O + R (estimation) or O (regularisation)

    int_vector adjustable;          // 1..A: parameter numbers
    double_matrix jacobian;         // rows x A
    double_matrix best_jacobian;    // rows x A
    double_vector weights;          // 1..rows: squared weights (diagonal of the weight matrix)
    double_vector prior_weights;    // 1..R: squared prior weights (regularisation)
    double_matrix prior;            // R x A, empty when R is 0
    std::vector<double> best_values;  // 1..N
    double_vector base_values;      // 1..A
    double_vector upgrade;          // 1..A
    // The lambda-trial store, grown by ensure_trial_store up to L trials.
    std::vector<double_vector> trial_upgrades;  // 1..trials held, each 1..A
    double_vector trial_phis;       // 1..trials held
    double_vector trial_lambdas;    // 1..trials held
    double_matrix trial_model_values;  // O x trials held
    double_vector best_trial_model_values;  // 1..O
    double_vector best_model_values;  // 1..O
    double_vector phi_history;      // 1..iterations made so far, at most max_iterations (empty when below 1)
    double_matrix covariance;       // A x A
    double_matrix correlation_input;
    double_matrix correlation;
    double_matrix eigenvectors;
    double_vector eigenvalues;      // 1..A
    // Set when the last phi was not a finite number because of a model value.
    bool phi_overflow_from_model = false;
};

// Allocates every array for the problem in `cd`; status 1 (after the
// out-of-memory report) when a trial upgrade vector cannot be had.
calib_status allocate_gml_workspace(gml_workspace &w, const control_data &cd, gml_mode mode);
void free_gml_workspace(gml_workspace &w);

// Grows the lambda-trial store (upgrades, phis, lambdas, model values) to hold
// trial c, at most lambda_limit trials: a large limit costs nothing until the
// trials are made.
void ensure_trial_store(gml_workspace &w, int c);

// Fills the prior rows of both Jacobians (estimation) and the prior matrix
// from the prior terms, and the weights.
void fill_prior_terms_and_weights(gml_workspace &w, const control_data &cd);

// A phi that is not a finite number: names the observation (a model value
// too far off: `phi_overflow_from_model` is set, a failed model run) or the
// prior information that makes it so, and returns 1.
calib_status report_phi_not_finite(gml_workspace &w, const control_data &cd, int value_kind,
                                   double phi);

// Objective function of value kind 0 or 1: measurement phi plus, with prior
// information, its prior (estimation) or regularisation share. `measurement`
// and `regularisation` receive the two parts; a phi that is not finite is
// status 1 (report_phi_not_finite).

calib_status gml_phi(gml_workspace &w, control_data &cd, int value_kind, double &phi,
                     double &measurement, double &regularisation);

// One model run of the drivers: the current values written, the outputs read
// as `value_kind`, the stop file consulted when `check_stop` is set.
calib_status gml_model_run(control_data &cd, const file_names &names, int value_kind,
                           template_file_table &templates, instruction_file_table &instructions,
                           bool check_stop);

// Copies the observation rows 1..O of one Jacobian into another.
void copy_observation_rows(const gml_workspace &w, const double_matrix &from, double_matrix &to);

// Every parameter's `value` into (from) a 1-based vector over all parameters.
void store_values(const control_data &cd, std::vector<double> &values);
void restore_values(control_data &cd, const std::vector<double> &values);
