// Singular value decomposition by Householder bidiagonalisation and implicit
// shifted QR iteration, its back substitution, and an overflow-safe hypotenuse.
// Part of the numerical library of the calibration program.
#include <cmath>

#include "calibrator/engine/numeric/numeric.h"

namespace {

constexpr int max_svd_iterations = 30;

// |a| with the sign of b.
double with_sign_of(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

}  // namespace

double safe_hypot(double a, double b) {
    double abs_a = std::fabs(a);
    double abs_b = std::fabs(b);
    if (abs_a > abs_b) {
        double ratio = abs_b / abs_a;
        return abs_a * std::sqrt(1.0 + ratio * ratio);
    }
    if (abs_b == 0.0) {
        return 0.0;
    }
    double ratio = abs_a / abs_b;
    return abs_b * std::sqrt(1.0 + ratio * ratio);
}

void dsvdcmp(double_matrix &a, int m, int n, double_vector &w, double_matrix &v) {
    double_vector super_diagonal = dvector(1, n);
    double g = 0.0;
    double scale = 0.0;
    double norm = 0.0;
    int l = 1;

    // Householder reduction to bidiagonal form: w holds the diagonal,
    // super_diagonal the elements above it (entry 1 is always 0).
    for (int i = 1; i <= n; ++i) {
        l = i + 1;
        super_diagonal[i] = scale * g;
        g = 0.0;
        double s = 0.0;
        scale = 0.0;
        if (i <= m) {
            for (int k = i; k <= m; ++k) {
                scale += std::fabs(a(k, i));
            }
            if (scale != 0.0) {
                for (int k = i; k <= m; ++k) {
                    a(k, i) /= scale;
                    s += a(k, i) * a(k, i);
                }
                double f = a(i, i);
                g = -with_sign_of(std::sqrt(s), f);
                double h = f * g - s;
                a(i, i) = f - g;
                for (int j = l; j <= n; ++j) {
                    double sum = 0.0;
                    for (int k = i; k <= m; ++k) {
                        sum += a(k, i) * a(k, j);
                    }
                    double factor = sum / h;
                    for (int k = i; k <= m; ++k) {
                        a(k, j) += factor * a(k, i);
                    }
                }
                for (int k = i; k <= m; ++k) {
                    a(k, i) *= scale;
                }
            }
        }
        w[i] = scale * g;
        g = 0.0;
        s = 0.0;
        scale = 0.0;
        if (i <= m && i != n) {
            for (int k = l; k <= n; ++k) {
                scale += std::fabs(a(i, k));
            }
            if (scale != 0.0) {
                for (int k = l; k <= n; ++k) {
                    a(i, k) /= scale;
                    s += a(i, k) * a(i, k);
                }
                double f = a(i, l);
                g = -with_sign_of(std::sqrt(s), f);
                double h = f * g - s;
                a(i, l) = f - g;
                for (int k = l; k <= n; ++k) {
                    super_diagonal[k] = a(i, k) / h;
                }
                for (int j = l; j <= m; ++j) {
                    double sum = 0.0;
                    for (int k = l; k <= n; ++k) {
                        sum += a(j, k) * a(i, k);
                    }
                    for (int k = l; k <= n; ++k) {
                        a(j, k) += sum * super_diagonal[k];
                    }
                }
                for (int k = l; k <= n; ++k) {
                    a(i, k) *= scale;
                }
            }
        }
        norm = std::fmax(norm, std::fabs(w[i]) + std::fabs(super_diagonal[i]));
    }

    // Accumulation of the right-hand transformations into V.
    for (int i = n; i >= 1; --i) {
        if (i < n) {
            if (g != 0.0) {
                // Two divisions avoid a possible underflow.
                for (int j = l; j <= n; ++j) {
                    v(j, i) = (a(i, j) / a(i, l)) / g;
                }
                for (int j = l; j <= n; ++j) {
                    double sum = 0.0;
                    for (int k = l; k <= n; ++k) {
                        sum += a(i, k) * v(k, j);
                    }
                    for (int k = l; k <= n; ++k) {
                        v(k, j) += sum * v(k, i);
                    }
                }
            }
            for (int j = l; j <= n; ++j) {
                v(i, j) = 0.0;
                v(j, i) = 0.0;
            }
        }
        v(i, i) = 1.0;
        g = super_diagonal[i];
        l = i;
    }

    // Accumulation of the left-hand transformations into U (in place of A).
    for (int i = (m < n ? m : n); i >= 1; --i) {
        l = i + 1;
        g = w[i];
        for (int j = l; j <= n; ++j) {
            a(i, j) = 0.0;
        }
        if (g != 0.0) {
            g = 1.0 / g;
            for (int j = l; j <= n; ++j) {
                double sum = 0.0;
                for (int k = l; k <= m; ++k) {
                    sum += a(k, i) * a(k, j);
                }
                double factor = (sum / a(i, i)) * g;
                for (int k = i; k <= m; ++k) {
                    a(k, j) += factor * a(k, i);
                }
            }
            for (int j = i; j <= m; ++j) {
                a(j, i) *= g;
            }
        } else {
            for (int j = i; j <= m; ++j) {
                a(j, i) = 0.0;
            }
        }
        a(i, i) += 1.0;
    }

    // Diagonalisation of the bidiagonal form: for each singular value from the
    // last, QR sweeps until its super-diagonal element is negligible.
    for (int k = n; k >= 1; --k) {
        for (int iteration = 1; iteration <= max_svd_iterations; ++iteration) {
            bool cancel = true;
            int split = k;
            for (split = k; split >= 1; --split) {
                // super_diagonal[1] is 0 by construction, so the walk always
                // stops at 1 at the latest.
                if (split == 1 || std::fabs(super_diagonal[split]) + norm == norm) {
                    cancel = false;
                    break;
                }
                if (std::fabs(w[split - 1]) + norm == norm) {
                    break;
                }
            }
            l = split;
            if (cancel) {
                // w[l - 1] is negligible: rotate super_diagonal[l] away.
                int nm = l - 1;
                double c = 0.0;
                double s = 1.0;
                for (int i = l; i <= k; ++i) {
                    double f = s * super_diagonal[i];
                    super_diagonal[i] = c * super_diagonal[i];
                    if (std::fabs(f) + norm == norm) {
                        break;
                    }
                    g = w[i];
                    double h = safe_hypot(f, g);
                    w[i] = h;
                    h = 1.0 / h;
                    c = g * h;
                    s = -f * h;
                    for (int j = 1; j <= m; ++j) {
                        double y = a(j, nm);
                        double z = a(j, i);
                        a(j, nm) = y * c + z * s;
                        a(j, i) = z * c - y * s;
                    }
                }
            }
            double z = w[k];
            if (l == k) {
                // Converged; singular values are made non-negative.
                if (z < 0.0) {
                    w[k] = -z;
                    for (int j = 1; j <= n; ++j) {
                        v(j, k) = -v(j, k);
                    }
                }
                break;
            }
            if (iteration == max_svd_iterations) {
                free_dvector(super_diagonal, 1, n);
                nr_error("no convergence in 30 dsvdcmp iterations");
            }
            // Shift from the bottom 2 x 2 minor.
            double x = w[l];
            int nm = k - 1;
            double y = w[nm];
            g = super_diagonal[nm];
            double h = super_diagonal[k];
            double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
            g = safe_hypot(f, 1.0);
            f = ((x - z) * (x + z) + h * ((y / (f + with_sign_of(g, f))) - h)) / x;
            // Next QR transformation.
            double c = 1.0;
            double s = 1.0;
            for (int j = l; j <= nm; ++j) {
                int i = j + 1;
                g = super_diagonal[i];
                y = w[i];
                h = s * g;
                g = c * g;
                z = safe_hypot(f, h);
                super_diagonal[j] = z;
                c = f / z;
                s = h / z;
                f = x * c + g * s;
                g = g * c - x * s;
                h = y * s;
                y *= c;
                for (int jj = 1; jj <= n; ++jj) {
                    x = v(jj, j);
                    z = v(jj, i);
                    v(jj, j) = x * c + z * s;
                    v(jj, i) = z * c - x * s;
                }
                z = safe_hypot(f, h);
                w[j] = z;
                if (z != 0.0) {
                    z = 1.0 / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x = c * y - s * g;
                for (int jj = 1; jj <= m; ++jj) {
                    y = a(jj, j);
                    z = a(jj, i);
                    a(jj, j) = y * c + z * s;
                    a(jj, i) = z * c - y * s;
                }
            }
            super_diagonal[l] = 0.0;
            super_diagonal[k] = f;
            w[k] = x;
        }
    }
    free_dvector(super_diagonal, 1, n);
}

void svd_back_substitute(const double_matrix &u, const double_vector &w, const double_matrix &v, int m,
                         int n, const double_vector &b, double_vector &x) {
    double_vector projected = dvector(1, n);
    for (int j = 1; j <= n; ++j) {
        double sum = 0.0;
        if (w[j] != 0.0) {
            for (int i = 1; i <= m; ++i) {
                sum += u(i, j) * b[i];
            }
            sum /= w[j];
        }
        projected[j] = sum;
    }
    for (int j = 1; j <= n; ++j) {
        double sum = 0.0;
        for (int jj = 1; jj <= n; ++jj) {
            sum += v(j, jj) * projected[jj];
        }
        x[j] = sum;
    }
    free_dvector(projected, 1, n);
}
