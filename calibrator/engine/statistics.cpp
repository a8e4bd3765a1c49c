// Covariance and correlation of the estimated parameters and the Student t
// table of the confidence limits. The GML drivers call the matrix routines after
// their last iteration; the run record writer calls the t value.
#include "calibrator/engine/statistics.h"

#include <cmath>

#include "calibrator/engine/numeric/numeric.h"

namespace {

// A pivot of the unit-diagonal scaled normal matrix below this is taken as a
// matrix that is singular to working precision (for example two parameters
// with identical effect on every observation).
constexpr double singular_pivot = 1.0e-12;

}  // namespace

// Number of observations and prior equations whose weight is above 0.
int weighted_count(const control_data &cd) {
    int count = 0;
    for (int i = 1; i <= cd.observation_count; ++i) {
        if (cd.observations[i].weight > 0.0) {
            ++count;
        }
    }
    for (int k = 1; k <= cd.prior_count; ++k) {
        if (cd.prior_information[k].weight > 0.0) {
            ++count;
        }
    }
    return count;
}

namespace {

// total += factor J' Q J for a rows x a_count matrix J and the diagonal weight
// matrix Q held as its diagonal q[1..rows]. The products are summed over the
// rows in order, without forming Q or J' Q.
void add_normal_product(const double_matrix &j, const double_vector &q, int rows, int a_count,
                        double factor, double_matrix &total) {
    if (rows < 1 || a_count < 1) {
        return;
    }
    double_matrix product = dmatrix(1, a_count, 1, a_count);
    for (int k = 1; k <= rows; ++k) {
        const double weight = q[k];
        for (int r = 1; r <= a_count; ++r) {
            const double weighted = j(k, r) * weight;
            for (int c = 1; c <= a_count; ++c) {
                product(r, c) += weighted * j(k, c);
            }
        }
    }
    for (int r = 1; r <= a_count; ++r) {
        for (int c = 1; c <= a_count; ++c) {
            total(r, c) += factor * product(r, c);
        }
    }
    free_dmatrix(product, 1, a_count, 1, a_count);
}

// True when the normal matrix cannot be inverted meaningfully: a variance that
// is not positive, or a vanishing pivot once every parameter is scaled to unit
// variance (so that the test does not depend on the parameters' units).
bool normal_matrix_is_singular(const double_matrix &normal, int a_count) {
    for (int j = 1; j <= a_count; ++j) {
        if (!(normal(j, j) > 0.0) || !std::isfinite(normal(j, j))) {
            return true;
        }
    }
    double_matrix scaled = dmatrix(1, a_count, 1, a_count);
    for (int r = 1; r <= a_count; ++r) {
        for (int c = 1; c <= a_count; ++c) {
            scaled(r, c) = normal(r, c) / std::sqrt(normal(r, r) * normal(c, c));
        }
    }
    int_vector permutation = ivector(1, a_count);
    int parity = 1;
    short status = 0;
    lu_decompose(scaled, a_count, permutation, parity, status);
    bool singular = status != 0;
    for (int j = 1; j <= a_count && !singular; ++j) {
        if (!(std::fabs(scaled(j, j)) >= singular_pivot)) {
            singular = true;
        }
    }
    free_ivector(permutation, 1, a_count);
    free_dmatrix(scaled, 1, a_count, 1, a_count);
    return singular;
}

// Steps common to both forms: inverts the normal matrix into the covariance and
// scales it by the estimated error variance, or zeroes it and sets the flag.
void covariance_from_normal(double_matrix &normal, double phi, double_matrix &covariance,
                            const control_data &cd, int &singular) {
    const int a_count = cd.adjustable_count;
    for (int r = 1; r <= a_count; ++r) {
        for (int c = 1; c <= a_count; ++c) {
            covariance(r, c) = 0.0;
        }
    }
    singular = covariance_computed;
    if (normal_matrix_is_singular(normal, a_count)) {
        singular = covariance_singular;
        return;
    }
    short status = 0;
    dminverse_status(normal, a_count, covariance, status);
    if (status != 0) {
        singular = covariance_singular;
        return;
    }
    int m = weighted_count(cd);
    if (m <= a_count) {
        singular = covariance_no_degrees_of_freedom;
    } else {
        double variance = phi / static_cast<double>(m - a_count);
        for (int r = 1; r <= a_count && singular == covariance_computed; ++r) {
            for (int c = 1; c <= a_count; ++c) {
                covariance(r, c) *= variance;
                if (!std::isfinite(covariance(r, c))) {
                    singular = covariance_singular;
                    break;
                }
            }
        }
    }
    if (singular != covariance_computed) {
        for (int r = 1; r <= a_count; ++r) {
            for (int c = 1; c <= a_count; ++c) {
                covariance(r, c) = 0.0;
            }
        }
    }
}

struct t_point {
    int degrees_of_freedom;
    double t;
};

// Two-sided 95 percent points of Student's t distribution.
constexpr t_point two_sided_95[] = {
    {1, 12.706}, {2, 4.303},  {3, 3.182},  {4, 2.776},  {5, 2.571},   {6, 2.447},   {7, 2.365},
    {8, 2.306},  {9, 2.262},  {10, 2.228}, {11, 2.201}, {12, 2.179},  {13, 2.16},   {14, 2.145},
    {15, 2.131}, {16, 2.12},  {17, 2.11},  {18, 2.101}, {19, 2.093},  {20, 2.086},  {21, 2.08},
    {22, 2.074}, {23, 2.069}, {24, 2.064}, {25, 2.06},  {26, 2.056},  {27, 2.052},  {28, 2.048},
    {29, 2.045}, {30, 2.042}, {40, 2.021}, {60, 2.0},   {120, 1.98},  {9999999, 1.96},
};

}  // namespace

calib_status parameter_covariance(const double_matrix &jacobian, const double_vector &weights,
                                  double phi, double_matrix &covariance, const control_data &cd,
                                  int &singular) {
    const int a_count = cd.adjustable_count;
    const int rows = cd.observation_count + cd.prior_count;
    double_matrix normal = dmatrix(1, a_count, 1, a_count);
    add_normal_product(jacobian, weights, rows, a_count, 1.0, normal);
    covariance_from_normal(normal, phi, covariance, cd, singular);
    free_dmatrix(normal, 1, a_count, 1, a_count);
    return 0;
}

calib_status parameter_covariance_regularised(const double_matrix &jacobian,
                                              const double_vector &observation_weights,
                                              const double_matrix &prior_matrix,
                                              const double_vector &prior_weights, double phi,
                                              double_matrix &covariance, const control_data &cd,
                                              int &singular) {
    const int a_count = cd.adjustable_count;
    double_matrix normal = dmatrix(1, a_count, 1, a_count);
    add_normal_product(jacobian, observation_weights, cd.observation_count, a_count, 1.0, normal);
    add_normal_product(prior_matrix, prior_weights, cd.prior_count, a_count,
                       cd.weight_factor * cd.weight_factor, normal);
    covariance_from_normal(normal, phi, covariance, cd, singular);
    free_dmatrix(normal, 1, a_count, 1, a_count);
    return 0;
}

calib_status correlation_matrix(const double_matrix &covariance, double_matrix &correlation,
                                const control_data &cd) {
    const int a_count = cd.adjustable_count;
    for (int i = 1; i <= a_count; ++i) {
        for (int j = 1; j <= a_count; ++j) {
            double product = covariance(i, i) * covariance(j, j);
            correlation(i, j) = product > 0.0 ? covariance(i, j) / std::sqrt(product) : 0.0;
        }
    }
    return 0;
}

calib_status student_t_two_sided_95(int degrees_of_freedom, double &t) {
    constexpr int count = static_cast<int>(sizeof two_sided_95 / sizeof two_sided_95[0]);
    if (degrees_of_freedom < two_sided_95[0].degrees_of_freedom ||
        degrees_of_freedom > two_sided_95[count - 1].degrees_of_freedom) {
        return 0;
    }
    for (int k = 0; k < count; ++k) {
        if (two_sided_95[k].degrees_of_freedom == degrees_of_freedom) {
            t = two_sided_95[k].t;
            return 0;
        }
        if (two_sided_95[k].degrees_of_freedom > degrees_of_freedom) {
            const t_point &below = two_sided_95[k - 1];
            const t_point &above = two_sided_95[k];
            double fraction = static_cast<double>(degrees_of_freedom - below.degrees_of_freedom) /
                              static_cast<double>(above.degrees_of_freedom - below.degrees_of_freedom);
            t = below.t + fraction * (above.t - below.t);
            return 0;
        }
    }
    return 0;
}
