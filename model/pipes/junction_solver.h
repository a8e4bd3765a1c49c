// Storage and LU solver of the dense junction system of the pipe-network step:
// 1-based vectors of doubles and ints, a 1-based matrix of doubles, the LU
// decomposition with implicit partial pivoting and its substitution.
#pragma once

#include <cassert>
#include <cstddef>
#include <memory>

#include "model/core/arrays.h"

// A 1-based nrow x ncol matrix of doubles: a table of row starts over one data
// block of nrow * ncol + 1 doubles, element [r][c] (c = 1..ncol) at
// (r - 1) * ncol + c of the block.
class superlink_dense_matrix {
public:
    row_ref<double> operator[](std::size_t r) {
        assert(rows_ && r >= 1 && r <= nrow_);
        return row_ref<double>(rows_[r], ncol_);
    }
    row_ref<const double> operator[](std::size_t r) const {
        assert(rows_ && r >= 1 && r <= nrow_);
        return row_ref<const double>(rows_[r], ncol_);
    }
    bool empty() const { return !block_; }
    std::size_t rows() const { return nrow_; }
    std::size_t cols() const { return ncol_; }

private:
    friend superlink_dense_matrix superlink_matrix(long long nrow, long long ncol);
    std::unique_ptr<double *[]> rows_;
    std::unique_ptr<double[]> block_;
    std::size_t nrow_ = 0, ncol_ = 0;
};

// The three lines of a solver failure (text in the middle), on the error stream.
void junction_solver_message(const char *text);

// Vector of n doubles, 1..n, zeroed; empty after "allocation failure in vector()".
array_1d<double> superlink_vector(long long n);
// Vector of n ints, 1..n, zeroed; empty after "allocation failure in ivector()".
array_1d<int> superlink_ivector(long long n);
// Matrix of nrow x ncol doubles, zeroed; empty after "allocation failure 1 in
// matrix()" (row table) or "allocation failure 2 in matrix()" (data block).
superlink_dense_matrix superlink_matrix(long long nrow, long long ncol);

// The system the step solves once a turn: the matrix (replaced by its LU
// factors), the row permutation, the sign of the permutation, the right-hand
// side (replaced by the solution) and the row scales of the pivot search.
struct junction_solver {
    superlink_dense_matrix a;
    array_1d<int> permutation;
    array_1d<double> b;
    array_1d<double> scale;
    double parity = 1.0;
};

// Storage for a system of order n; 0, or -1 after an allocation message.
int make_junction_solver(junction_solver &solver, int n);

// Factorises solver.a (order n) in place and fills the permutation and parity;
// 0, or -1 after the singular-matrix message (a row without a non-zero value).
// A zero pivot that remains after pivoting becomes 1e-20.
int ludcmp(junction_solver &solver, int n);

// Solves with the factors for the right-hand side in solver.b; the solution
// replaces it.
void ludcmp_solve(junction_solver &solver, int n);
