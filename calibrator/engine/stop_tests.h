// Stop tests and lambda control of the GML iterations: the end-of-iteration
// stop test, the end test of one lambda search with the choice of its trial,
// the next Marquardt lambda, and the map from adjustable parameters to
// Jacobian columns. Called by the GML drivers, the Jacobian and the bounds.
#pragma once
#include <cstdio>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Sets `stop` to 1 when the optimisation is complete after iteration k (best
// iteration b, small-change counter, phi history 1..k, best and current phi),
// with the reason on the screen and in the run record; otherwise 0.
calib_status test_termination(std::FILE *record, int k, int b, int small_change_count,
                              const double_vector &phi_history, double best_phi, double phi,
                              const control_data &cd, int &stop, int model_calls);

// After trial c of a lambda search: `chosen` receives the trial to keep, or 0
// when the search should try another lambda. The reason goes to the screen and
// the run record. Trial c is compared with `neighbour`, the trial of the lambda
// next to its own on the side the search came from (0: trial c - 1; after the
// search turned upward from the first lambda, trial 1).
calib_status test_lambda_termination(std::FILE *record, double starting_phi, int c,
                                     const double_vector &trial_phis, const control_data &cd,
                                     int &chosen, int neighbour = 0);

// Chooses the next lambda (cd.lambda) from the trial just made; keeps the
// previous lambda and may set the reversal flag.
calib_status adjust_lambda(double first_lambda, double &previous_lambda, int &reversal,
                           double phi, const double_vector &trial_phis, int c, control_data &cd);

// Entry k (1..adjustable_count) = number of the k-th adjustable parameter.
calib_status list_adjustable_parameters(const control_data &cd, int_vector &list);

// Column of parameter `parameter` in the Jacobian; `position` is unchanged when
// the parameter is not adjustable.
calib_status adjustable_position(const control_data &cd, int parameter, const int_vector &list,
                                 int &position);

// The stop when no lambda trial of iteration k lowered phi, on the screen and
// in the run record: a minimum when the first upgrade predicted a relative phi
// reduction (`predicted_reduction`) of at most phi_reduction_stop; a minimum at
// the precision of the model input when the search ended on steps too short
// to change the parameter values as written (`at_written_precision`: the
// trials that changed them all raised phi); otherwise the lambda the search
// reached and whether the parameters are still at their starting values.
void report_no_lower_phi(std::FILE *record, int k, double lambda, bool at_start,
                         double predicted_reduction, bool at_written_precision,
                         const control_data &cd, int model_calls);
