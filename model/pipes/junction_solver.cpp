// The junction system of the pipe-network step: 1-based storage of its matrix,
// right-hand side and permutation, Crout's LU decomposition with implicit partial
// pivoting and the forward and back substitution. Called by the pipe-network step.
#include "model/pipes/junction_solver.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

void junction_solver_message(const char *text) {
    std::fprintf(stderr, "Numerical Recipes run-time error...\n");
    std::fprintf(stderr, "%s\n", text);
    std::fprintf(stderr, "...now exiting to system...\n");
    std::fflush(stderr);
}

namespace {

// A zeroed 1-based vector of n elements, or an empty one after `failure`.
template <class T>
array_1d<T> vector_of(long long n, const char *failure) {
    array_1d<T> v;
    const auto last = static_cast<unsigned long long>(n);
    if (n < 0 || last >= std::numeric_limits<std::size_t>::max() / sizeof(T) ||
        !v.obtain(static_cast<std::size_t>(last))) {
        junction_solver_message(failure);
        return v;
    }
    allocated_bytes += (static_cast<std::size_t>(last) + 1) * sizeof(T);
    return v;
}

}  // namespace

array_1d<double> superlink_vector(long long n) {
    return vector_of<double>(n, "allocation failure in vector()");
}

array_1d<int> superlink_ivector(long long n) {
    return vector_of<int>(n, "allocation failure in ivector()");
}

superlink_dense_matrix superlink_matrix(long long nrow, long long ncol) {
    superlink_dense_matrix m;
    constexpr std::size_t most = std::numeric_limits<std::size_t>::max();
    if (nrow < 0 || static_cast<unsigned long long>(nrow) >= most / sizeof(double *)) {
        junction_solver_message("allocation failure 1 in matrix()");
        return m;
    }
    const auto rows = static_cast<std::size_t>(nrow);
    m.rows_.reset(new (std::nothrow) double *[rows + 1]());
    if (!m.rows_) {
        junction_solver_message("allocation failure 1 in matrix()");
        return m;
    }
    const auto cols = static_cast<std::size_t>(ncol < 0 ? 0 : ncol);
    if (ncol < 0 || (cols != 0 && rows > (most / sizeof(double) - 1) / cols)) {
        m.rows_.reset();
        junction_solver_message("allocation failure 2 in matrix()");
        return m;
    }
    m.block_.reset(new (std::nothrow) double[rows * cols + 1]());
    if (!m.block_) {
        m.rows_.reset();  // the row table goes with the block
        junction_solver_message("allocation failure 2 in matrix()");
        return m;
    }
    allocated_bytes += (rows + 1) * sizeof(double *) + (rows * cols + 1) * sizeof(double);
    for (std::size_t r = 1; r <= rows; ++r) m.rows_[r] = m.block_.get() + (r - 1) * cols;
    m.nrow_ = rows;
    m.ncol_ = cols;
    return m;
}

int make_junction_solver(junction_solver &solver, int n) {
    solver.a = superlink_matrix(n, n);
    if (solver.a.empty()) return -1;
    solver.permutation = superlink_ivector(n);
    if (solver.permutation.empty()) return -1;
    solver.b = superlink_vector(n);
    if (solver.b.empty()) return -1;
    solver.scale = superlink_vector(n);
    if (solver.scale.empty()) return -1;
    solver.parity = 1.0;
    return 0;
}

int ludcmp(junction_solver &solver, int n) {
    superlink_dense_matrix &a = solver.a;
    array_1d<double> &scale = solver.scale;
    array_1d<int> &perm = solver.permutation;
    solver.parity = 1.0;
    for (int i = 1; i <= n; ++i) {
        double big = 0.0;
        for (int j = 1; j <= n; ++j) big = std::fmax(big, std::fabs(a[i][j]));
        if (big == 0.0) {
            junction_solver_message("Singular matrix in routine ludcmp");
            return -1;
        }
        scale[i] = 1.0 / big;
    }
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i < j; ++i) {
            double sum = a[i][j];
            for (int k = 1; k < i; ++k) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
        }
        double big = 0.0;
        int pivot = j;
        for (int i = j; i <= n; ++i) {
            double sum = a[i][j];
            for (int k = 1; k < j; ++k) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
            const double merit = scale[i] * std::fabs(sum);
            if (merit >= big) {  // on a tie the later row wins
                big = merit;
                pivot = i;
            }
        }
        if (pivot != j) {
            for (int k = 1; k <= n; ++k) {
                const double t = a[pivot][k];
                a[pivot][k] = a[j][k];
                a[j][k] = t;
            }
            solver.parity = -solver.parity;
            scale[pivot] = scale[j];
        }
        perm[j] = pivot;
        if (a[j][j] == 0.0) a[j][j] = 1e-20;
        if (j != n) {
            const double inverse = 1.0 / a[j][j];
            for (int i = j + 1; i <= n; ++i) a[i][j] *= inverse;
        }
    }
    return 0;
}

void ludcmp_solve(junction_solver &solver, int n) {
    const superlink_dense_matrix &a = solver.a;
    array_1d<double> &b = solver.b;
    int first = 0;  // first non-zero element met in the forward sweep
    for (int i = 1; i <= n; ++i) {
        const int ip = solver.permutation[i];
        double sum = b[ip];
        b[ip] = b[i];
        if (first != 0) {
            for (int k = first; k < i; ++k) sum -= a[i][k] * b[k];
        } else if (sum != 0.0) {
            first = i;
        }
        b[i] = sum;
    }
    for (int i = n; i >= 1; --i) {
        double sum = b[i];
        for (int k = i + 1; k <= n; ++k) sum -= a[i][k] * b[k];
        b[i] = sum / a[i][i];
    }
}
