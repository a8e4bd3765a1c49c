// LU decomposition with solve and iterative improvement, Cholesky factorisation
// and solve, and Gauss-Jordan elimination on 1-based double matrices. Called by
// the GML upgrade, the inverses of matrix_ops.cpp and the RBF surrogate fit.
#include <cmath>

#include "calibrator/engine/numeric/numeric.h"

namespace {

// Stands in for an exactly zero pivot so that the factorisation goes on.
constexpr double tiny_pivot = 1.0e-20;

}  // namespace

void lu_decompose(double_matrix &a, int n, int_vector &permutation, int &parity, short &status) {
    // Implicit scaling: each row is measured against its largest magnitude.
    double_vector row_scale = dvector(1, n);
    parity = 1;
    for (int i = 1; i <= n; ++i) {
        double largest = 0.0;
        for (int j = 1; j <= n; ++j) {
            double magnitude = std::fabs(a(i, j));
            if (magnitude > largest) {
                largest = magnitude;
            }
        }
        if (largest == 0.0) {
            status = 1;
            free_dvector(row_scale, 1, n);
            return;
        }
        row_scale[i] = 1.0 / largest;
    }
    // Crout's method, column by column.
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i < j; ++i) {
            double sum = a(i, j);
            for (int k = 1; k < i; ++k) {
                sum -= a(i, k) * a(k, j);
            }
            a(i, j) = sum;
        }
        double largest = 0.0;
        int pivot_row = j;
        for (int i = j; i <= n; ++i) {
            double sum = a(i, j);
            for (int k = 1; k < j; ++k) {
                sum -= a(i, k) * a(k, j);
            }
            a(i, j) = sum;
            double figure_of_merit = row_scale[i] * std::fabs(sum);
            if (figure_of_merit >= largest) {
                largest = figure_of_merit;
                pivot_row = i;
            }
        }
        if (pivot_row != j) {
            for (int k = 1; k <= n; ++k) {
                double held = a(pivot_row, k);
                a(pivot_row, k) = a(j, k);
                a(j, k) = held;
            }
            parity = -parity;
            row_scale[pivot_row] = row_scale[j];
        }
        permutation[j] = pivot_row;
        if (a(j, j) == 0.0) {
            a(j, j) = tiny_pivot;
        }
        if (j != n) {
            double inverse_pivot = 1.0 / a(j, j);
            for (int i = j + 1; i <= n; ++i) {
                a(i, j) *= inverse_pivot;
            }
        }
    }
    free_dvector(row_scale, 1, n);
}

void lu_solve(const double_matrix &a, int n, const int_vector &permutation, double_vector &b) {
    // Forward substitution, unscrambling the permutation as it goes; the work
    // starts at the first non-zero element of b.
    int first_nonzero = 0;
    for (int i = 1; i <= n; ++i) {
        int swapped = permutation[i];
        double sum = b[swapped];
        b[swapped] = b[i];
        if (first_nonzero != 0) {
            for (int j = first_nonzero; j < i; ++j) {
                sum -= a(i, j) * b[j];
            }
        } else if (sum != 0.0) {
            first_nonzero = i;
        }
        b[i] = sum;
    }
    for (int i = n; i >= 1; --i) {
        double sum = b[i];
        for (int j = i + 1; j <= n; ++j) {
            sum -= a(i, j) * b[j];
        }
        b[i] = sum / a(i, i);
    }
}

void lu_improve(const double_matrix &a, const double_matrix &factors, int n,
                const int_vector &permutation, const double_vector &b, double_vector &x) {
    double_vector residual = dvector(1, n);
    for (int i = 1; i <= n; ++i) {
        long double sum = -static_cast<long double>(b[i]);
        for (int j = 1; j <= n; ++j) {
            sum += static_cast<long double>(a(i, j)) * static_cast<long double>(x[j]);
        }
        residual[i] = static_cast<double>(sum);
    }
    lu_solve(factors, n, permutation, residual);
    for (int i = 1; i <= n; ++i) {
        x[i] -= residual[i];
    }
    free_dvector(residual, 1, n);
}

void choldc(double_matrix &a, int n, double_vector &diagonal) {
    for (int i = 1; i <= n; ++i) {
        for (int j = i; j <= n; ++j) {
            double sum = a(i, j);
            for (int k = i - 1; k >= 1; --k) {
                sum -= a(i, k) * a(j, k);
            }
            if (i == j) {
                // Written as "not above" so that a pivot sum that is not a
                // number is refused too.
                if (!(sum > 0.0)) {
                    nr_error("choldc failed");
                }
                diagonal[i] = std::sqrt(sum);
            } else {
                a(j, i) = sum / diagonal[i];
            }
        }
    }
}

void chol_solve(const double_matrix &a, int n, const double_vector &diagonal, const double_vector &b,
                double_vector &x) {
    for (int i = 1; i <= n; ++i) {
        double sum = b[i];
        for (int k = i - 1; k >= 1; --k) {
            sum -= a(i, k) * x[k];
        }
        x[i] = sum / diagonal[i];
    }
    for (int i = n; i >= 1; --i) {
        double sum = x[i];
        for (int k = i + 1; k <= n; ++k) {
            sum -= a(k, i) * x[k];
        }
        x[i] = sum / diagonal[i];
    }
}

void gaussj(double_matrix &a, int n, double_matrix &b, int m) {
    int_vector column_of_step = ivector(1, n);
    int_vector row_of_step = ivector(1, n);
    int_vector pivoted = ivector(1, n);
    auto fail = [&]() {
        free_ivector(pivoted, 1, n);
        free_ivector(row_of_step, 1, n);
        free_ivector(column_of_step, 1, n);
        nr_error("gaussj: Singular Matrix");
    };
    for (int step = 1; step <= n; ++step) {
        // Full pivoting: the largest element among the rows and columns not yet used.
        double largest = 0.0;
        int pivot_row = 0;
        int pivot_column = 0;
        for (int j = 1; j <= n; ++j) {
            if (pivoted[j] == 1) {
                continue;
            }
            for (int k = 1; k <= n; ++k) {
                if (pivoted[k] == 0) {
                    if (std::fabs(a(j, k)) >= largest) {
                        largest = std::fabs(a(j, k));
                        pivot_row = j;
                        pivot_column = k;
                    }
                } else if (pivoted[k] > 1) {
                    fail();
                }
            }
        }
        if (pivot_column == 0) {
            fail();  // nothing comparable left (every candidate is not a number)
        }
        ++pivoted[pivot_column];
        // The pivot is moved onto the diagonal by a row swap; the columns are
        // unscrambled at the end.
        if (pivot_row != pivot_column) {
            for (int l = 1; l <= n; ++l) {
                double held = a(pivot_row, l);
                a(pivot_row, l) = a(pivot_column, l);
                a(pivot_column, l) = held;
            }
            for (int l = 1; l <= m; ++l) {
                double held = b(pivot_row, l);
                b(pivot_row, l) = b(pivot_column, l);
                b(pivot_column, l) = held;
            }
        }
        row_of_step[step] = pivot_row;
        column_of_step[step] = pivot_column;
        if (a(pivot_column, pivot_column) == 0.0) {
            fail();
        }
        double inverse_pivot = 1.0 / a(pivot_column, pivot_column);
        a(pivot_column, pivot_column) = 1.0;
        for (int l = 1; l <= n; ++l) {
            a(pivot_column, l) *= inverse_pivot;
        }
        for (int l = 1; l <= m; ++l) {
            b(pivot_column, l) *= inverse_pivot;
        }
        for (int row = 1; row <= n; ++row) {
            if (row == pivot_column) {
                continue;
            }
            double factor = a(row, pivot_column);
            a(row, pivot_column) = 0.0;
            for (int l = 1; l <= n; ++l) {
                a(row, l) -= a(pivot_column, l) * factor;
            }
            for (int l = 1; l <= m; ++l) {
                b(row, l) -= b(pivot_column, l) * factor;
            }
        }
    }
    for (int step = n; step >= 1; --step) {
        if (row_of_step[step] != column_of_step[step]) {
            for (int k = 1; k <= n; ++k) {
                double held = a(k, row_of_step[step]);
                a(k, row_of_step[step]) = a(k, column_of_step[step]);
                a(k, column_of_step[step]) = held;
            }
        }
    }
    free_ivector(pivoted, 1, n);
    free_ivector(row_of_step, 1, n);
    free_ivector(column_of_step, 1, n);
}
