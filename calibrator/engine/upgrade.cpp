// Marquardt upgrade vectors from the scaled normal equations, their optimum
// length, and Broyden updates of the Jacobian. The GML drivers call them for
// every lambda trial; the bounds handling calls the reduced members.
#include "calibrator/engine/upgrade.h"

#include <cmath>
#include <vector>

#include "calibrator/engine/numeric/numeric.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/template_files.h"

namespace {

// Values (or previous values) of the adjustable parameters, 1-based in parameter order.
std::vector<double> adjustable_values(const control_data &cd, bool previous) {
    std::vector<double> p(1, 0.0);
    for (int q = 1; q <= cd.parameter_count; ++q) {
        int kind = 0;
        parameter_kind(cd, q, kind);
        if (kind != 0) continue;
        p.push_back(previous ? cd.parameters[q].previous_value : cd.parameters[q].value);
    }
    return p;
}

// Prior matrix times p for every prior equation (1-based; 0 without a matrix).
std::vector<double> prior_times(const control_data &cd, const double_matrix &prior,
                                const std::vector<double> &p) {
    std::vector<double> y(static_cast<std::size_t>(cd.prior_count) + 1, 0.0);
    if (prior.empty()) return y;
    const int columns = static_cast<int>(p.size()) - 1;
    for (int k = 1; k <= cd.prior_count; ++k) {
        double sum = 0.0;
        for (int j = 1; j <= columns; ++j) sum += prior(k, j) * p[j];
        y[k] = sum;
    }
    return y;
}

// total += factor J' Q J over `rows` rows and n columns, Q diagonal.
void add_normal(const double_matrix &j, const double_vector &q, int rows, int n, double factor,
                double_matrix &total) {
    std::vector<double> scaled(static_cast<std::size_t>(n) + 1, 0.0);
    for (int k = 1; k <= rows; ++k) {
        const double wk = q[k] * factor;
        for (int a = 1; a <= n; ++a) scaled[a] = j(k, a) * wk;
        for (int a = 1; a <= n; ++a) {
            const double t = scaled[a];
            for (int b = a; b <= n; ++b) total(a, b) += t * j(k, b);
        }
    }
    for (int a = 1; a <= n; ++a) {
        for (int b = 1; b < a; ++b) total(a, b) = total(b, a);
    }
}

// rhs += factor J' Q r over `rows` rows and n columns.
void add_gradient(const double_matrix &j, const double_vector &q, const std::vector<double> &r,
                  int rows, int n, double factor, std::vector<double> &rhs) {
    for (int k = 1; k <= rows; ++k) {
        const double t = q[k] * r[k] * factor;
        for (int a = 1; a <= n; ++a) rhs[a] += j(k, a) * t;
    }
}

// Residuals of the rows of an estimation Jacobian: observations, then priors
// against `prior_values`.
std::vector<double> estimation_residuals(const control_data &cd, int rows,
                                         const std::vector<double> &prior_values) {
    std::vector<double> r(static_cast<std::size_t>(rows) + 1, 0.0);
    const int o = cd.observation_count;
    for (int k = 1; k <= rows; ++k) {
        if (k <= o) {
            r[k] = cd.observations[k].measured - cd.observations[k].model_value[0];
        } else {
            r[k] = cd.prior_information[k - o].prior_value - prior_values[k - o];
        }
    }
    return r;
}

// Solves the symmetric positive definite system m x = b (n x n) by Cholesky.
void cholesky_solve(double_matrix &m, int n, const std::vector<double> &b, std::vector<double> &x) {
    double_vector diagonal = dvector(1, n);
    double_vector rhs = dvector(1, n);
    double_vector solution = dvector(1, n);
    for (int a = 1; a <= n; ++a) rhs[a] = b[a];
    choldc(m, n, diagonal);
    chol_solve(m, n, diagonal, rhs, solution);
    x.assign(static_cast<std::size_t>(n) + 1, 0.0);
    for (int a = 1; a <= n; ++a) x[a] = solution[a];
    free_dvector(solution, 1, n);
    free_dvector(rhs, 1, n);
    free_dvector(diagonal, 1, n);
}

// Steps 2 to 7 of the scaled Marquardt upgrade on `rows` x n columns. The
// scaling S = diag(N)^-1/2 gives S N S a unit diagonal. Parameter j is damped
// by lambda times the geometric mean of its own N(j, j) and the smallest
// N(k, k): (N + lambda D) u = J' Q r with D(j, j) = sqrt(N(j, j) min N), that
// is lambda sqrt(min N / N(j, j)) added to diagonal j of S N S.
// The two dampings this lies between each fail a kind of problem. Lambda
// min N on every parameter (lambda / max S^2 times S^2: a damping in the
// parameters' own units) damps the least sensitive parameter by lambda
// relative to its sensitivity and the most sensitive hardly at all; on sums
// of exponentials with rates of different size the iteration then crawls for
// hundreds of iterations. Lambda N(j, j) on parameter j (Marquardt's, the
// same relative damping for all) lets a parameter whose column is small at
// the start, because another parameter is far off, take a long first step:
// out to where the model no longer responds to it, or along a valley towards
// a limit at infinity.
void scaled_upgrade(const double_matrix &j, int rows, int n, const std::vector<double> &prior_values,
                    const double_vector &weights, const control_data &cd, double_vector &u) {
    if (n < 1) return;
    double_matrix normal = dmatrix(1, n, 1, n);
    add_normal(j, weights, rows, n, 1.0, normal);
    std::vector<double> s(static_cast<std::size_t>(n) + 1, 0.0);
    double smallest = normal(1, 1);
    for (int a = 1; a <= n; ++a) {
        s[a] = std::sqrt(std::pow(normal(a, a), -1.0));
        smallest = std::fmin(smallest, normal(a, a));
    }
    double_matrix m = dmatrix(1, n, 1, n);
    for (int a = 1; a <= n; ++a) {
        for (int b = 1; b <= n; ++b) m(a, b) = s[a] * normal(a, b) * s[b];
        m(a, a) += cd.lambda * std::sqrt(smallest * s[a] * s[a]);
    }
    const std::vector<double> r = estimation_residuals(cd, rows, prior_values);
    std::vector<double> rhs(static_cast<std::size_t>(n) + 1, 0.0);
    add_gradient(j, weights, r, rows, n, 1.0, rhs);
    for (int a = 1; a <= n; ++a) rhs[a] *= s[a];
    std::vector<double> x;
    cholesky_solve(m, n, rhs, x);
    for (int a = 1; a <= n; ++a) u[a] = s[a] * x[a];
    free_dmatrix(m, 1, n, 1, n);
    free_dmatrix(normal, 1, n, 1, n);
}

// The optimum-length factor of u on `rows` x n columns: the least-squares step
// length along the predicted change J u; `upgrade` is kept when J u is zero.
void optimum_length(const double_matrix &j, int rows, int n, const std::vector<double> &prior_values,
                    const control_data &cd, double_vector &u) {
    const int o = cd.observation_count;
    double numerator = 0.0;
    double denominator = 0.0;
    for (int k = 1; k <= rows; ++k) {
        double d = 0.0;
        for (int a = 1; a <= n; ++a) d += j(k, a) * u[a];
        double weight = 0.0;
        double residual = 0.0;
        if (k <= o) {
            weight = cd.observations[k].weight;
            residual = cd.observations[k].measured - cd.observations[k].model_value[0];
        } else {
            weight = cd.prior_information[k - o].weight;
            residual = cd.prior_information[k - o].prior_value - prior_values[k - o];
        }
        numerator += std::pow(weight, 2) * residual * d;
        denominator += std::pow(weight * d, 2);
    }
    if (!(denominator > 0.0) || !std::isfinite(numerator / denominator)) return;
    const double factor = numerator / denominator;
    for (int a = 1; a <= n; ++a) u[a] *= factor;
}

// Rank-one update J += e s' / (s' s) over `rows` rows; skipped when s' s is 0.
void rank_one_update(double_matrix &j, int rows, int n, const std::vector<double> &s,
                     const std::vector<double> &change) {
    double ss = 0.0;
    for (int a = 1; a <= n; ++a) ss += s[a] * s[a];
    if (!(ss > 0.0)) return;
    std::vector<double> defect(static_cast<std::size_t>(rows) + 1, 0.0);
    for (int k = 1; k <= rows; ++k) {
        double y = 0.0;
        for (int a = 1; a <= n; ++a) y += j(k, a) * s[a];
        defect[k] = change[k] - y;
    }
    for (int k = 1; k <= rows; ++k) {
        const double e = defect[k] / ss;
        for (int a = 1; a <= n; ++a) j(k, a) += e * s[a];
    }
}

// Regularised normal equations on n columns, solved into u.
void regularised_upgrade(const double_matrix &j, const double_vector &observation_weights,
                         const double_matrix &prior, const double_vector &prior_weights,
                         const control_data &cd, int n, const std::vector<double> &p,
                         double_vector &u) {
    if (n < 1) return;
    const int o = cd.observation_count;
    const int r = cd.prior_count;
    const double wf2 = cd.weight_factor * cd.weight_factor;
    double_matrix normal = dmatrix(1, n, 1, n);
    add_normal(j, observation_weights, o, n, 1.0, normal);
    if (r > 0 && !prior.empty()) add_normal(prior, prior_weights, r, n, wf2, normal);
    for (int a = 1; a <= n; ++a) normal(a, a) += cd.lambda;

    std::vector<double> ro(static_cast<std::size_t>(o) + 1, 0.0);
    for (int k = 1; k <= o; ++k) {
        ro[k] = cd.observations[k].measured - cd.observations[k].model_value[0];
    }
    std::vector<double> rhs(static_cast<std::size_t>(n) + 1, 0.0);
    add_gradient(j, observation_weights, ro, o, n, 1.0, rhs);
    if (r > 0 && !prior.empty()) {
        std::vector<double> rp(static_cast<std::size_t>(r) + 1, 0.0);
        for (int k = 1; k <= r; ++k) {
            double y = 0.0;
            for (int a = 1; a <= n; ++a) y += prior(k, a) * p[a];
            rp[k] = cd.prior_information[k].prior_value - y;
        }
        add_gradient(prior, prior_weights, rp, r, n, wf2, rhs);
    }
    std::vector<double> x;
    cholesky_solve(normal, n, rhs, x);
    for (int a = 1; a <= n; ++a) u[a] = x[a];
    free_dmatrix(normal, 1, n, 1, n);
}

std::vector<double> as_vector(const double_vector &v, int n) {
    std::vector<double> out(static_cast<std::size_t>(n) + 1, 0.0);
    for (int a = 1; a <= n; ++a) out[a] = v[a];
    return out;
}

}  // namespace

calib_status upgrade_vector(const double_matrix &jacobian, const double_matrix &prior,
                            const double_vector &weights, const control_data &cd,
                            double_vector &upgrade) {
    const int a_count = cd.adjustable_count;
    const std::vector<double> p = adjustable_values(cd, false);
    const std::vector<double> prior_values = prior_times(cd, prior, p);
    for (int a = 1; a <= a_count; ++a) upgrade[a] = 0.0;
    scaled_upgrade(jacobian, cd.observation_count + cd.prior_count, a_count, prior_values, weights,
                   cd, upgrade);
    return 0;
}

calib_status optimum_upgrade_length(const double_matrix &jacobian, const double_matrix &prior,
                                    const double_vector & /*weights*/, const control_data &cd,
                                    double_vector &upgrade) {
    const std::vector<double> p = adjustable_values(cd, false);
    const std::vector<double> prior_values = prior_times(cd, prior, p);
    optimum_length(jacobian, cd.observation_count + cd.prior_count, cd.adjustable_count,
                   prior_values, cd, upgrade);
    return 0;
}

calib_status upgrade_vector_subset(const double_matrix &reduced_jacobian,
                                   const double_vector &prior_values, int rows, int n,
                                   const double_vector &weights, const control_data &cd,
                                   double_vector &reduced_upgrade) {
    for (int a = 1; a <= n; ++a) reduced_upgrade[a] = 0.0;
    scaled_upgrade(reduced_jacobian, rows, n, as_vector(prior_values, cd.prior_count), weights, cd,
                   reduced_upgrade);
    return 0;
}

calib_status optimum_upgrade_length_frozen(const double_matrix &reduced_jacobian,
                                           const double_vector &prior_values,
                                           const double_vector & /*weights*/, const control_data &cd,
                                           double_vector &reduced_upgrade, int n) {
    optimum_length(reduced_jacobian, cd.observation_count + cd.prior_count, n,
                   as_vector(prior_values, cd.prior_count), cd, reduced_upgrade);
    return 0;
}

calib_status broyden_update(const control_data &cd, double_matrix &jacobian,
                            const double_matrix &prior) {
    const int n = cd.adjustable_count;
    const int o = cd.observation_count;
    const int rows = o + cd.prior_count;
    const std::vector<double> now = adjustable_values(cd, false);
    const std::vector<double> before = adjustable_values(cd, true);
    std::vector<double> s(static_cast<std::size_t>(n) + 1, 0.0);
    for (int a = 1; a <= n; ++a) s[a] = now[a] - before[a];
    const std::vector<double> prior_now = prior_times(cd, prior, now);
    const std::vector<double> prior_before = prior_times(cd, prior, before);
    std::vector<double> change(static_cast<std::size_t>(rows) + 1, 0.0);
    for (int k = 1; k <= rows; ++k) {
        if (k <= o) {
            change[k] = cd.observations[k].model_value[1] - cd.observations[k].model_value[0];
        } else {
            change[k] = prior_now[k - o] - prior_before[k - o];
        }
    }
    rank_one_update(jacobian, rows, n, s, change);
    return 0;
}

calib_status upgrade_vector_regularised(const double_matrix &jacobian,
                                        const double_vector &observation_weights,
                                        const double_matrix &prior,
                                        const double_vector &prior_weights,
                                        const control_data &cd, double_vector &upgrade) {
    const int n = cd.adjustable_count;
    for (int a = 1; a <= n; ++a) upgrade[a] = 0.0;
    regularised_upgrade(jacobian, observation_weights, prior, prior_weights, cd, n,
                        adjustable_values(cd, false), upgrade);
    return 0;
}

calib_status upgrade_vector_subset_regularised(const double_matrix &reduced_jacobian,
                                               const double_vector &observation_weights,
                                               const double_matrix &reduced_prior,
                                               const double_vector &prior_weights,
                                               const control_data &cd,
                                               double_vector &reduced_upgrade, int /*o*/,
                                               int /*r*/, int b, int c,
                                               const double_vector &values) {
    const int n = cd.adjustable_count - b - c;
    for (int a = 1; a <= n; ++a) reduced_upgrade[a] = 0.0;
    regularised_upgrade(reduced_jacobian, observation_weights, reduced_prior, prior_weights, cd, n,
                        as_vector(values, n), reduced_upgrade);
    return 0;
}

calib_status broyden_update_regularised(const control_data &cd, double_matrix &jacobian) {
    const int n = cd.adjustable_count;
    const int o = cd.observation_count;
    const std::vector<double> now = adjustable_values(cd, false);
    const std::vector<double> before = adjustable_values(cd, true);
    std::vector<double> s(static_cast<std::size_t>(n) + 1, 0.0);
    for (int a = 1; a <= n; ++a) s[a] = now[a] - before[a];
    std::vector<double> change(static_cast<std::size_t>(o) + 1, 0.0);
    for (int k = 1; k <= o; ++k) {
        change[k] = cd.observations[k].model_value[1] - cd.observations[k].model_value[0];
    }
    rank_one_update(jacobian, o, n, s, change);
    return 0;
}

double predicted_change_size(const double_matrix &jacobian, const double_vector &weights, int rows,
                             int n, const double_vector &step) {
    double sum = 0.0;
    for (int k = 1; k <= rows; ++k) {
        double d = 0.0;
        for (int a = 1; a <= n; ++a) d += jacobian(k, a) * step[a];
        sum += weights[k] * d * d;
    }
    return std::sqrt(sum);
}

double shortened_step_fraction(const double_matrix &jacobian, const double_vector &weights,
                               const control_data &cd, int n, const double_vector &step,
                               double starting_phi, double step_phi) {
    if (!std::isfinite(step_phi)) return 0.25;
    // Slope of phi at the start along the step: -2 (J step)' Q r, over the observations.
    double slope = 0.0;
    for (int k = 1; k <= cd.observation_count; ++k) {
        double d = 0.0;
        for (int a = 1; a <= n; ++a) d += jacobian(k, a) * step[a];
        slope -= 2.0 * weights[k] * (cd.observations[k].measured - cd.observations[k].model_value[0]) * d;
    }
    const double curvature = step_phi - starting_phi - slope;
    double fraction = 0.5;
    if (slope < 0.0 && curvature > 0.0) fraction = -slope / (2.0 * curvature);
    return fraction < 0.1 ? 0.1 : (fraction > 0.5 ? 0.5 : fraction);
}

double predicted_phi_reduction(const double_matrix &jacobian, const double_vector &weights,
                               const control_data &cd, int n, const double_vector &step) {
    double reduction = 0.0;
    for (int k = 1; k <= cd.observation_count; ++k) {
        double d = 0.0;
        for (int a = 1; a <= n; ++a) d += jacobian(k, a) * step[a];
        const double r = cd.observations[k].measured - cd.observations[k].model_value[0];
        reduction += weights[k] * (r * r - (r - d) * (r - d));
    }
    return reduction;
}

void nearest_written_values(const double_matrix &jacobian, const double_vector &weights, int rows, int n,
                            const std::vector<char> &movable, const std::vector<char> &is_log,
                            std::vector<double> &values) {
    std::vector<int> column;
    for (int a = 1; a <= n; ++a) {
        if (movable[static_cast<std::size_t>(a)] != 0) column.push_back(a);
    }
    const std::size_t m = column.size();
    if (m == 0) return;
    // N = J' Q J over the movable columns, then N = L L' in place (lower part).
    std::vector<double> l(m * m, 0.0);
    for (int k = 1; k <= rows; ++k) {
        for (std::size_t a = 0; a < m; ++a) {
            const double t = weights[k] * jacobian(k, column[a]);
            for (std::size_t b = 0; b <= a; ++b) l[a * m + b] += t * jacobian(k, column[b]);
        }
    }
    for (std::size_t a = 0; a < m; ++a) {
        for (std::size_t b = 0; b <= a; ++b) {
            double sum = l[a * m + b];
            for (std::size_t k = 0; k < b; ++k) sum -= l[a * m + k] * l[b * m + k];
            if (a == b) {
                if (!(sum > 0.0) || !std::isfinite(sum)) return;
                l[a * m + a] = std::sqrt(sum);
            } else {
                l[a * m + b] = sum / l[b * m + b];
            }
        }
    }
    // With R = L', the predicted change of a rounding error e is |R e|; the
    // last column is rounded first, each one before it to the number nearest
    // its value less what the errors already made can be offset by it.
    std::vector<double> rounded(m, 0.0);
    std::vector<double> error(m, 0.0);
    for (std::size_t k = m; k-- > 0;) {
        double offset = 0.0;
        for (std::size_t j = k + 1; j < m; ++j) offset += l[j * m + k] * error[j];
        const double target = values[static_cast<std::size_t>(column[k])] - offset / l[k * m + k];
        const bool lg = is_log[static_cast<std::size_t>(column[k])] != 0;
        rounded[k] = lg ? std::log10(value_as_written(std::pow(10.0, target))) : value_as_written(target);
        if (!std::isfinite(rounded[k])) return;
        error[k] = rounded[k] - values[static_cast<std::size_t>(column[k])];
    }
    for (std::size_t k = 0; k < m; ++k) values[static_cast<std::size_t>(column[k])] = rounded[k];
}
