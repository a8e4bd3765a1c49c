// Statistics of the estimated parameters after the last GML iteration: the
// covariance and correlation matrices and the Student t value of the 95 percent
// confidence limits. Called by the GML drivers and the run record writer.
#pragma once
#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Values of the singular flag that the covariance routines leave behind.
enum covariance_outcome {
    covariance_computed = 0,
    // The normal matrix is singular to working precision; nothing is computed.
    covariance_singular = 1,
    // No more weighted observations and prior equations than adjustable
    // parameters, so the error variance cannot be estimated.
    covariance_no_degrees_of_freedom = 2,
};

// The number of observations and prior equations of weight above 0: m of the
// error variance phi / (m - A), and m - A the degrees of freedom of its Student t.
int weighted_count(const control_data &cd);

// Covariance (A x A) = phi / (m - A) times the inverse of J' Q J, with J the
// (O + R) x A Jacobian (observation rows, then prior rows), Q the diagonal
// weight matrix given by its diagonal (1..O + R, the squared weights) and m the number of observations and prior equations of weight
// above 0. `singular` receives a covariance_outcome; unless it is 0 the
// covariance is all zeros. Returns 0.
calib_status parameter_covariance(const double_matrix &jacobian, const double_vector &weights,
                                  double phi, double_matrix &covariance, const control_data &cd,
                                  int &singular);

// The same for regularisation: the normal matrix is J' Qo J + weight_factor^2 X' Qp X
// with J the O x A observation Jacobian, Qo the observation weights (1..O), X
// the R x A prior matrix and Qp the prior weights (1..R), both diagonals of
// squared weights.
calib_status parameter_covariance_regularised(const double_matrix &jacobian,
                                              const double_vector &observation_weights,
                                              const double_matrix &prior_matrix,
                                              const double_vector &prior_weights, double phi,
                                              double_matrix &covariance, const control_data &cd,
                                              int &singular);

// correlation(i, j) = covariance(i, j) / sqrt(covariance(i, i) covariance(j, j))
// over the adjustable parameters; 0 where a variance is not positive. Returns 0.
calib_status correlation_matrix(const double_matrix &covariance, double_matrix &correlation,
                                const control_data &cd);

// Two-sided 95 percent point of Student's t distribution for 1 to 9999999
// degrees of freedom, linearly interpolated between the tabulated ones. Outside
// that range `t` is left unchanged. Returns 0.
calib_status student_t_two_sided_95(int degrees_of_freedom, double &t);
