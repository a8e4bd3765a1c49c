// Marquardt parameter upgrade of one lambda trial from the scaled normal
// equations, its rescaling to the least-squares optimum length, and the rank-one
// Broyden update of the Jacobian between finite-difference evaluations, with
// reduced and regularised members. Called by the GML drivers and the bounds.
#pragma once
#include <vector>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// The weight matrix of the drivers is diagonal; these routines take its
// diagonal: `weights`(i) is the squared weight of row i (observations 1..O,
// then the prior equations O+1..O+R).

// Upgrade over all adjustable parameters (estimation): J is (O + R) x A, the
// prior matrix R x A (empty when R is 0).
calib_status upgrade_vector(const double_matrix &jacobian, const double_matrix &prior,
                            const double_vector &weights, const control_data &cd,
                            double_vector &upgrade);

// Rescales `upgrade` to the length that minimises phi along it. When the
// predicted change J u is zero the upgrade is kept as it is.
calib_status optimum_upgrade_length(const double_matrix &jacobian, const double_matrix &prior,
                                    const double_vector &weights, const control_data &cd,
                                    double_vector &upgrade);

// The same two on a reduced Jacobian of `rows` x n columns (the free
// parameters); `prior_values`(k) is the prior matrix times all adjustable
// values for equation k; `values`(j) the value of free parameter j.
calib_status upgrade_vector_subset(const double_matrix &reduced_jacobian,
                                   const double_vector &prior_values, int rows, int n,
                                   const double_vector &weights, const control_data &cd,
                                   double_vector &reduced_upgrade);
calib_status optimum_upgrade_length_frozen(const double_matrix &reduced_jacobian,
                                           const double_vector &prior_values,
                                           const double_vector &weights, const control_data &cd,
                                           double_vector &reduced_upgrade, int n);

// Rank-one update of every row of the (O + R) x A Jacobian from the step
// value - previous_value and the change of the model values (kind 1 - kind 0).
// A step of length zero leaves the Jacobian unchanged.
calib_status broyden_update(const control_data &cd, double_matrix &jacobian,
                            const double_matrix &prior);

// Regularisation members: J is the O x A observation Jacobian, `observation_weights`
// (O) and `prior_weights` (R) the squared weights, X the R x A prior matrix.
calib_status upgrade_vector_regularised(const double_matrix &jacobian,
                                        const double_vector &observation_weights,
                                        const double_matrix &prior,
                                        const double_vector &prior_weights,
                                        const control_data &cd, double_vector &upgrade);
// On n = A - b - c free columns; `values`(j) is the value of free parameter j.
calib_status upgrade_vector_subset_regularised(const double_matrix &reduced_jacobian,
                                               const double_vector &observation_weights,
                                               const double_matrix &reduced_prior,
                                               const double_vector &prior_weights,
                                               const control_data &cd,
                                               double_vector &reduced_upgrade, int o, int r,
                                               int b, int c, const double_vector &values);
calib_status broyden_update_regularised(const control_data &cd, double_matrix &jacobian);

// Shortening a step along its direction. `step`(j) is the change of adjustable
// parameter j; rows 1..`rows` of J are weighted by `weights`.
// The size of the step as the weighted length of the model change it predicts, |W^1/2 J step|.
double predicted_change_size(const double_matrix &jacobian, const double_vector &weights, int rows,
                             int n, const double_vector &step);
// The fraction of `step` at which phi is lowest on the parabola through the
// iteration's starting phi, its slope along the step (from J and the residuals
// of value kind 0) and the phi the whole step gave, kept within 0.1 to 0.5;
// 0.25 when the whole step gave no finite phi.
double shortened_step_fraction(const double_matrix &jacobian, const double_vector &weights,
                               const control_data &cd, int n, const double_vector &step,
                               double starting_phi, double step_phi);
// The fall of the observations' share of phi that the linear model J predicts
// for `step` from the model values of kind 0.
double predicted_phi_reduction(const double_matrix &jacobian, const double_vector &weights,
                               const control_data &cd, int n, const double_vector &step);

// The values a trial writes, nearest its intended values in the change of the
// model outputs that the linear model J predicts. `values`(j) holds the stored
// values of the columns after the step (log10 of the native value where
// `is_log`(j)); the columns with `movable`(j) set are replaced by numbers as
// the template writes them (value_as_written), chosen one column at a time
// from the last with the columns not yet rounded moved to make up for the
// rounding already done: the nearest-plane rounding of the normal matrix
// J' Q J. Nothing changes when that matrix is not positive definite.
void nearest_written_values(const double_matrix &jacobian, const double_vector &weights, int rows, int n,
                            const std::vector<char> &movable, const std::vector<char> &is_log,
                            std::vector<double> &values);
