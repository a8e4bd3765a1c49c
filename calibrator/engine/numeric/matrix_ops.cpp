// Dense products, sums and transposes of 1-based double matrices and vectors,
// and the inverse and multi-column solve built on the LU routines. Called by the
// GML upgrade, the parameter statistics, the Jacobian and the RBF surrogate.
#include <cstdio>

#include "calibrator/engine/numeric/numeric.h"

void dmmult(const double_matrix &a, int a_rows, int a_cols, const double_matrix &b, int b_rows,
            int b_cols, double_matrix &r) {
    if (a_cols != b_rows) {
        std::fprintf(stderr, "a_cols <> b_rows (%d,%d): dmmult\n", a_cols, b_rows);
        std::fflush(stderr);
        nr_exit(1);
    }
    for (int i = 1; i <= a_rows; ++i) {
        for (int j = 1; j <= b_cols; ++j) {
            double sum = 0.0;
            for (int k = 1; k <= a_cols; ++k) {
                sum += a(i, k) * b(k, j);
            }
            r(i, j) = sum;
        }
    }
}

void dmvmult(const double_matrix &a, int rows, int cols, const double_vector &x, double_vector &y) {
    for (int i = 1; i <= rows; ++i) {
        double sum = 0.0;
        for (int j = 1; j <= cols; ++j) {
            sum += a(i, j) * x[j];
        }
        y[i] = sum;
    }
}

void dmtranspose(const double_matrix &a, int rows, int cols, double_matrix &b) {
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            b(j, i) = a(i, j);
        }
    }
}

void dmscale(const double_matrix &a, int rows, int cols, double factor, double_matrix &b) {
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            b(i, j) = factor * a(i, j);
        }
    }
}

void dmadd(const double_matrix &a, const double_matrix &b, int rows, int cols, double_matrix &r) {
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            r(i, j) = a(i, j) + b(i, j);
        }
    }
}

void dvsub(const double_vector &a, const double_vector &b, int n, double_vector &c) {
    for (int i = 1; i <= n; ++i) {
        c[i] = a[i] - b[i];
    }
}

namespace {

// Factors A and, when it is regular, solves for every column of the right-hand
// side `b` (the unit vectors when b is empty) into x. Returns false, writing
// nothing, when A has a zero row.
bool lu_solve_columns(double_matrix &a, int n, const double_matrix *b, int k, double_matrix &x) {
    int_vector permutation = ivector(1, n);
    double_vector column = dvector(1, n);
    int parity = 1;
    short singular = 0;
    lu_decompose(a, n, permutation, parity, singular);
    if (singular == 0) {
        for (int j = 1; j <= k; ++j) {
            for (int i = 1; i <= n; ++i) {
                column[i] = b != nullptr ? (*b)(i, j) : (i == j ? 1.0 : 0.0);
            }
            lu_solve(a, n, permutation, column);
            for (int i = 1; i <= n; ++i) {
                x(i, j) = column[i];
            }
        }
    }
    free_dvector(column, 1, n);
    free_ivector(permutation, 1, n);
    return singular == 0;
}

}  // namespace

void dminverse(double_matrix &a, int n, double_matrix &b) { lu_solve_columns(a, n, nullptr, n, b); }

void dminverse_status(double_matrix &a, int n, double_matrix &b, short &status) {
    if (!lu_solve_columns(a, n, nullptr, n, b)) {
        status = 1;
    }
}

void dmsolve(double_matrix &a, int n, const double_matrix &b, int k, double_matrix &x) {
    lu_solve_columns(a, n, &b, k, x);
}

void dmsolve_status(double_matrix &a, int n, const double_matrix &b, int k, double_matrix &x,
                    short &status) {
    if (!lu_solve_columns(a, n, &b, k, x)) {
        status = 1;
    }
}
