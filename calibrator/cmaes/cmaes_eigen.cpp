// Eigendecomposition of the CMA-ES covariance matrix: Householder reduction to
// tridiagonal form, the QL algorithm with implicit shifts, and its check. Run
// lazily from sampling (and forced after a resume) by cmaes_UpdateEigensystem.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "calibrator/cmaes/cmaes.h"

namespace {

std::size_t uz(int i) { return static_cast<std::size_t>(i); }

// Most QL iterations spent on one eigenvalue; convergence takes a handful.
int ql_iteration_cap = 100;

// Reduces the symmetric matrix V (n x n, full) to tridiagonal form by
// Householder transformations; d receives the diagonal, e the sub-diagonal
// (e[0] = 0), V the accumulated orthogonal transformation.
void eigen_householder(int n, cmaes_population &V, double *d, double *e) {
    for (int j = 0; j < n; ++j) {
        d[j] = V[uz(n - 1)][uz(j)];
    }
    for (int i = n - 1; i > 0; --i) {
        double scale = 0.0;
        double h = 0.0;
        for (int k = 0; k < i; ++k) {
            scale += std::fabs(d[k]);
        }
        if (scale == 0.0) {
            e[i] = d[i - 1];
            for (int j = 0; j < i; ++j) {
                d[j] = V[uz(i - 1)][uz(j)];
                V[uz(i)][uz(j)] = 0.0;
                V[uz(j)][uz(i)] = 0.0;
            }
        } else {
            for (int k = 0; k < i; ++k) {
                d[k] /= scale;
                h += d[k] * d[k];
            }
            double f = d[i - 1];
            double g = std::sqrt(h);
            if (f > 0) {
                g = -g;
            }
            e[i] = scale * g;
            h -= f * g;
            d[i - 1] = f - g;
            for (int j = 0; j < i; ++j) {
                e[j] = 0.0;
            }
            for (int j = 0; j < i; ++j) {
                f = d[j];
                V[uz(j)][uz(i)] = f;
                g = e[j] + V[uz(j)][uz(j)] * f;
                for (int k = j + 1; k <= i - 1; ++k) {
                    g += V[uz(k)][uz(j)] * d[k];
                    e[k] += V[uz(k)][uz(j)] * f;
                }
                e[j] = g;
            }
            f = 0.0;
            for (int j = 0; j < i; ++j) {
                e[j] /= h;
                f += e[j] * d[j];
            }
            const double hh = f / (h + h);
            for (int j = 0; j < i; ++j) {
                e[j] -= hh * d[j];
            }
            for (int j = 0; j < i; ++j) {
                f = d[j];
                g = e[j];
                for (int k = j; k <= i - 1; ++k) {
                    V[uz(k)][uz(j)] -= (f * e[k] + g * d[k]);
                }
                d[j] = V[uz(i - 1)][uz(j)];
                V[uz(i)][uz(j)] = 0.0;
            }
        }
        d[i] = h;
    }
    // Accumulate the transformations.
    for (int i = 0; i < n - 1; ++i) {
        V[uz(n - 1)][uz(i)] = V[uz(i)][uz(i)];
        V[uz(i)][uz(i)] = 1.0;
        const double h = d[i + 1];
        if (h != 0.0) {
            for (int k = 0; k <= i; ++k) {
                d[k] = V[uz(k)][uz(i + 1)] / h;
            }
            for (int j = 0; j <= i; ++j) {
                double g = 0.0;
                for (int k = 0; k <= i; ++k) {
                    g += V[uz(k)][uz(i + 1)] * V[uz(k)][uz(j)];
                }
                for (int k = 0; k <= i; ++k) {
                    V[uz(k)][uz(j)] -= g * d[k];
                }
            }
        }
        for (int k = 0; k <= i; ++k) {
            V[uz(k)][uz(i + 1)] = 0.0;
        }
    }
    for (int j = 0; j < n; ++j) {
        d[j] = V[uz(n - 1)][uz(j)];
        V[uz(n - 1)][uz(j)] = 0.0;
    }
    V[uz(n - 1)][uz(n - 1)] = 1.0;
    e[0] = 0.0;
}

// QL with implicit shifts on the tridiagonal (d, e) of eigen_householder;
// d becomes the eigenvalues and V's columns the eigenvectors.
void eigen_ql(int n, double *d, double *e, cmaes_population &V) {
    for (int i = 1; i < n; ++i) {
        e[i - 1] = e[i];
    }
    e[n - 1] = 0.0;
    double f = 0.0;
    double tst1 = 0.0;
    const double eps = 2.22e-16;
    for (int l = 0; l < n; ++l) {
        tst1 = std::max(tst1, std::fabs(d[l]) + std::fabs(e[l]));
        int m = l;
        while (m < n - 1 && !(std::fabs(e[m]) <= eps * tst1)) {
            ++m;
        }
        if (m > l) {
            int iterations = 0;
            do {
                if (++iterations > ql_iteration_cap) {
                    cmaes_fatal("cmaes_t:Eigen(): QL algorithm did not converge");
                }
                double g = d[l];
                double p = (d[l + 1] - g) / (2.0 * e[l]);
                double r = std::hypot(p, 1.0);
                if (p < 0) {
                    r = -r;
                }
                d[l] = e[l] / (p + r);
                d[l + 1] = e[l] * (p + r);
                const double dl1 = d[l + 1];
                double h = g - d[l];
                for (int i = l + 2; i < n; ++i) {
                    d[i] -= h;
                }
                f += h;
                p = d[m];
                double c = 1.0;
                double c2 = c;
                double c3 = c;
                const double el1 = e[l + 1];
                double s = 0.0;
                double s2 = 0.0;
                for (int i = m - 1; i >= l; --i) {
                    c3 = c2;
                    c2 = c;
                    s2 = s;
                    g = c * e[i];
                    h = c * p;
                    r = std::hypot(p, e[i]);
                    e[i + 1] = s * r;
                    s = e[i] / r;
                    c = p / r;
                    p = c * d[i] - s * g;
                    d[i + 1] = h + s * (c * g + s * d[i]);
                    for (int k = 0; k < n; ++k) {
                        h = V[uz(k)][uz(i + 1)];
                        V[uz(k)][uz(i + 1)] = s * V[uz(k)][uz(i)] + c * h;
                        V[uz(k)][uz(i)] = c * V[uz(k)][uz(i)] - s * h;
                    }
                }
                p = -s * s2 * c3 * el1 * e[l] / dl1;
                e[l] = s * p;
                d[l] = c * p;
            } while (std::fabs(e[l]) > eps * tst1);
        }
        d[l] += f;
        e[l] = 0.0;
    }
}

}  // namespace

int cmaes_SetEigenIterationCap(int cap) {
    const int previous = ql_iteration_cap;
    ql_iteration_cap = cap;
    return previous;
}

void cmaes_Eigen(int N, const cmaes_population &C, double *diag, cmaes_population &Q, double *rgtmp) {
    if (rgtmp == nullptr) {
        cmaes_fatal("cmaes_t:Eigen(): input parameter double *rgtmp must be non-NULL");
    }
    if (N < 1) {
        return;
    }
    for (int i = 0; i < N; ++i) {
        for (int j = 0; j <= i; ++j) {
            Q[uz(i)][uz(j)] = Q[uz(j)][uz(i)] = C[uz(i)][uz(j)];
        }
    }
    eigen_householder(N, Q, diag, rgtmp);
    eigen_ql(N, diag, rgtmp, Q);
    // Ascending eigenvalues, moving the eigenvector columns with them.
    for (int i = 0; i < N - 1; ++i) {
        int k = i;
        for (int j = i + 1; j < N; ++j) {
            if (diag[j] < diag[k]) {
                k = j;
            }
        }
        if (k != i) {
            std::swap(diag[i], diag[k]);
            for (int r = 0; r < N; ++r) {
                std::swap(Q[uz(r)][uz(i)], Q[uz(r)][uz(k)]);
            }
        }
    }
}

int eigen_check(int N, const cmaes_population &C, const double *diag, const cmaes_population &Q) {
    int findings = 0;
    for (int i = 0; i < N; ++i) {
        for (int j = 0; j < N; ++j) {
            double cc = 0.0;
            double dd = 0.0;
            for (int k = 0; k < N; ++k) {
                cc += diag[k] * Q[uz(i)][uz(k)] * Q[uz(j)][uz(k)];
                dd += Q[uz(i)][uz(k)] * Q[uz(j)][uz(k)];
            }
            const double cij = i >= j ? C[uz(i)][uz(j)] : C[uz(j)][uz(i)];
            const double scale = std::sqrt(C[uz(i)][uz(i)] * C[uz(j)][uz(j)]);
            if (std::fabs(cc - cij) / scale > 1e-10 && std::fabs(cc - cij) > 3e-14) {
                std::string where = cmaes_format("%d %d: %.17e %.17e, %e", i, j, cc, cij, cc - cij);
                cmaes_error_message("cmaes_t:Eigen(): imprecise result detected ", where.c_str());
                ++findings;
            }
            if (std::fabs(dd - (i == j ? 1.0 : 0.0)) > 1e-10) {
                std::string where = cmaes_format("%d %d %.17e ", i, j, dd);
                cmaes_error_message("cmaes_t:Eigen(): imprecise result detected (Q not orthog.)",
                                    where.c_str());
                ++findings;
            }
        }
    }
    return findings;
}

void cmaes_UpdateEigensystem(cmaes_t &t, int force) {
    const int N = t.sp.N;
    timings_update(t.eigenTimings);
    if (!force) {
        if (t.flgEigensysIsUptodate) {
            return;
        }
        if (t.genOfEigensysUpdate + t.sp.updatecov > t.gen) {
            return;
        }
        const double fraction = t.sp.maxTimeFractionForEigendecompostion;
        if (fraction < 1 && fraction * t.eigenTimings.totaltime < t.eigenTimings.tictoctime_total &&
            t.eigenTimings.tictoctime_total > 0.0002) {
            return;
        }
    }
    timings_tic(t.eigenTimings);
    cmaes_Eigen(N, t.C, t.rgD.data(), t.B, t.rgdTmp.data());
    timings_toc(t.eigenTimings);

    t.minEW = *std::min_element(t.rgD.begin(), t.rgD.end());
    t.maxEW = *std::max_element(t.rgD.begin(), t.rgD.end());
    if (t.flgCheckEigen) {
        eigen_check(N, t.C, t.rgD.data(), t.B);
    }
    // Rounding can leave an eigenvalue at or below zero once C is badly
    // conditioned. minEW keeps the raw value, so the condition-number stop
    // fires; the axis lengths take the smallest value the precision allows so
    // that sampling and the update stay finite until then.
    const double floor_value = std::max(t.maxEW / t.dMaxSignifKond, DBL_MIN);
    for (int i = 0; i < N; ++i) {
        const double ew = t.rgD[uz(i)] > 0 ? t.rgD[uz(i)] : floor_value;
        t.rgD[uz(i)] = std::sqrt(ew);
    }
    t.flgEigensysIsUptodate = 1;
    t.genOfEigensysUpdate = t.gen;
}
