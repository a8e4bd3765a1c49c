// Parameter bounds and freezing of one lambda trial: applies the upgrade to the
// adjustable parameters, cuts it at the bounds, freezes parameters pushed out
// from a bound they sat on and recomputes the upgrade of the others, then sets
// the tied parameters from their parents. Called by the GML drivers.
#pragma once
#include <cstdio>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Estimation: J is (O + R) x A, the prior matrix R x A, `weights` the squared
// weights of the O + R rows. On return `upgrade` holds the step applied to
// every parameter (0 for frozen ones once a recomputation ran).
calib_status limit_and_freeze(const double_matrix &jacobian, const double_matrix &prior,
                              const double_vector &weights, control_data &cd,
                              double_vector &upgrade, const int_vector &adjustable,
                              std::FILE *record);

// Regularisation twin: J is the O x A observation Jacobian with its own
// squared weights, the prior equations weighted by the weight factor.
calib_status limit_and_freeze_regularised(const double_matrix &jacobian,
                                          const double_vector &observation_weights,
                                          const double_matrix &prior,
                                          const double_vector &prior_weights, control_data &cd,
                                          double_vector &upgrade, const int_vector &adjustable,
                                          std::FILE *record);
