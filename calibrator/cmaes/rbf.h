// Cubic radial-basis-function interpolant with a linear tail, the fitness
// surrogate of the "cmaesrbf" method, and the "rbf" self-test of varnock.
#pragma once
#include <cstdint>
#include <cstdio>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Smallest number of centres for which the fit in N dimensions can be regular:
// the screening count (int)(N x 0.5 x (N + 1)), but at least N + 1.
int rbf_centre_count(int N);

// Fits s(x) = sum_i w_i r_i^3 + sum_k a_k x_k + a_0 through the n centres
// (rows 1..n, columns 1..N of `centres`) and their values. `coefficients`
// (1-based, n + N + 1 entries) receives w_1..w_n, a_1..a_N, a_0. Returns 0, or 1
// when fewer than N + 1 centres are given or the system has a row of zeros (the
// coefficients are then all 0). N is the adjustable_count of `cd`.
calib_status rbf_fit(const double_matrix &centres, const double_vector &values, double_vector &coefficients,
              int n, const control_data &cd);
calib_status rbf_fit_dim(const double_matrix &centres, const double_vector &values,
                  double_vector &coefficients, int n, int N);

// s(point) for a fit through n centres; point is 1-based with N coordinates.
double rbf_evaluate(const double_vector &coefficients, const double_matrix &centres,
                    const double_vector &point, int n, const control_data &cd);
double rbf_evaluate_dim(const double_vector &coefficients, const double_matrix &centres,
                        const double_vector &point, int n, int N);

// Uniform draw in (0, 0.99999988] of the shuffled minimal standard generator;
// a state of 0 or below restarts it from the negated state (1 when below 1).
double rand_uniform_shuffled(int32_t *state);

// sin(x) sin(y).
double rbf_test_function(double x, double y);

// Reads the self-test seed: one whole number from 0 to 4294967295 (an "ld"
// suffix is allowed). Returns 0, or 1 when the input holds no such number.
calib_status rbf_read_seed(std::FILE *in, uint32_t &seed);
// Places the 100 test centres from the seed into rows 1..100, columns 1 and 2,
// with their test-function values; writes each as "%lf\t%lf\n" to `out` when given.
void rbf_place_test_centres(uint32_t seed, double_matrix &centres, double_vector &values,
                            std::FILE *out);

// MODE "rbf": prompts for a seed, places 100 centres in the unit square, writes
// them to "centers.txt" and fits the surrogate through them. Always in two
// dimensions. Returns the status of the fit, or 1 when the seed is refused.
// (calibration_main reaches it through calibrator/engine/cmaes_entry.h.)
calib_status rbf_self_test(int argc, char *argv[], control_data &cd);
// The same test with the 103 x 103 system assembled in place.
calib_status rbf_self_test_inline(int argc, char *argv[], control_data &cd);
