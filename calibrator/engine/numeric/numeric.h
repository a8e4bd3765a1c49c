// Dense linear algebra on the 1-based vectors and matrices of nr_arrays.h:
// products, inverses, LU, Cholesky, Gauss-Jordan, SVD, Jacobi eigenvalues and
// index sorting. Called by the GML engine, its statistics and the RBF surrogate.
#pragma once
#include "calibrator/engine/numeric/nr_arrays.h"

// All routines index from 1. The caller allocates every result, and a result
// never shares storage with an input unless the routine says it works in place.

// --- Dense operations -------------------------------------------------------

// R (a_rows x b_cols) = A B. When a_cols differs from b_rows, writes
// "a_cols <> b_rows (%d,%d): dmmult\n" to the error stream and ends with status 1.
void dmmult(const double_matrix &a, int a_rows, int a_cols, const double_matrix &b, int b_rows,
            int b_cols, double_matrix &r);
// y (rows) = A x.
void dmvmult(const double_matrix &a, int rows, int cols, const double_vector &x, double_vector &y);
// B (cols x rows) = A transposed.
void dmtranspose(const double_matrix &a, int rows, int cols, double_matrix &b);
// B = factor A (B may be A).
void dmscale(const double_matrix &a, int rows, int cols, double factor, double_matrix &b);
// R = A + B (R may be A or B).
void dmadd(const double_matrix &a, const double_matrix &b, int rows, int cols, double_matrix &r);
// c = a - b over 1..n (c may be a or b).
void dvsub(const double_vector &a, const double_vector &b, int n, double_vector &c);

// B = A inverse, column by column from the LU factors; A is overwritten by its
// factors. When A is singular B is left untouched.
void dminverse(double_matrix &a, int n, double_matrix &b);
// The same; sets status to 1 when A is singular, otherwise leaves it as it was.
void dminverse_status(double_matrix &a, int n, double_matrix &b, short &status);
// X (n x k) = A inverse B, one right-hand column at a time; A is overwritten by
// its factors. When A is singular X is left untouched.
void dmsolve(double_matrix &a, int n, const double_matrix &b, int k, double_matrix &x);
// The same with the singular status of dminverse_status.
void dmsolve_status(double_matrix &a, int n, const double_matrix &b, int k, double_matrix &x,
                    short &status);

// --- Factorisations and solvers ---------------------------------------------

// In-place Cholesky A = L L' of a symmetric positive definite matrix. Reads the
// upper triangle; writes L below the diagonal of A and its diagonal into `diagonal`.
// A pivot sum that is not above 0 ends the process with "choldc failed".
void choldc(double_matrix &a, int n, double_vector &diagonal);
// Solves A x = b with the factors of choldc (x may be b).
void chol_solve(const double_matrix &a, int n, const double_vector &diagonal, const double_vector &b,
                double_vector &x);

// LU decomposition with implicit row scaling and partial pivoting, in place.
// Row interchanges go into `permutation`, +1 or -1 into `parity`. A row of zeros
// sets status to 1 and ends the routine (status is never cleared). A zero pivot
// is replaced by 1e-20 so that the factorisation goes on.
void lu_decompose(double_matrix &a, int n, int_vector &permutation, int &parity, short &status);
// Solves A x = b in place in b with the factors and permutation of lu_decompose.
void lu_solve(const double_matrix &a, int n, const int_vector &permutation, double_vector &b);
// One step of iterative improvement of x for A x = b: the residual is formed in
// extended precision, solved with the factors, and subtracted from x.
void lu_improve(const double_matrix &a, const double_matrix &factors, int n,
                const int_vector &permutation, const double_vector &b, double_vector &x);

// Gauss-Jordan elimination with full pivoting: A becomes its inverse and the m
// columns of B the solutions. A singular matrix ends the process with
// "gaussj: Singular Matrix".
void gaussj(double_matrix &a, int n, double_matrix &b, int m);

// Singular value decomposition A (m x n) = U diag(w) V'; U replaces A. More
// than 30 iterations for one singular value end the process with
// "no convergence in 30 dsvdcmp iterations".
void dsvdcmp(double_matrix &a, int m, int n, double_vector &w, double_matrix &v);
// sqrt(a^2 + b^2) without overflow or destructive underflow.
double safe_hypot(double a, double b);
// Solves A x = b with the decomposition; singular values that are exactly 0
// count as infinite (their components are 0).
void svd_back_substitute(const double_matrix &u, const double_vector &w, const double_matrix &v, int m,
                         int n, const double_vector &b, double_vector &x);

// --- Eigenvalues and sorting ------------------------------------------------

// Eigenvalues (into d) and eigenvectors (columns of v) of a symmetric matrix by
// cyclic Jacobi rotations; `rotations` receives their count. The elements of A
// above the diagonal are destroyed. More than 50 sweeps end the process with
// "Too many iterations in routine jacobi".
void jacobi(double_matrix &a, int n, double_vector &d, double_matrix &v, int &rotations);
// Sorts d into descending order and moves the columns of v along with it.
void eigen_sort(double_vector &d, double_matrix &v, int n);
// Fills index(1..n) so that values[index[1]] <= values[index[2]] <= ...
void indexx(int n, const double_vector &values, int_vector &index);
