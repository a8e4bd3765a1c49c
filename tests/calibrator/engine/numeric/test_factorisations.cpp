// Tests of LU decomposition with solve and iterative improvement, Cholesky
// factorisation and Gauss-Jordan elimination against exact results.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibrator/engine/numeric/numeric.h"
#include "tests/calibrator/engine/numeric/fatal_trap.h"
#include "tests/calibrator/engine/numeric/matrix_helpers.h"

using numeric_test::ends_fatally;
using numeric_test::hilbert;
using numeric_test::nr_error_text;
using numeric_test::owned_matrix;
using numeric_test::owned_vector;

namespace {

// Owns a 1-based int vector for the length of a test.
struct owned_ints {
    int_vector v;
    int n;
    explicit owned_ints(int size) : v(ivector(1, size)), n(size) {}
    ~owned_ints() { free_ivector(v, 1, n); }
    owned_ints(const owned_ints &) = delete;
    owned_ints &operator=(const owned_ints &) = delete;
};

double max_error_from_ones(const owned_vector &x) {
    double worst = 0.0;
    for (int i = 1; i <= x.n; ++i) {
        worst = std::fmax(worst, std::fabs(x[i] - 1.0));
    }
    return worst;
}

}  // namespace

TEST(LuDecomposition, SwapsRowsOfTheExchangeMatrix) {
    owned_matrix a{{0, 1}, {1, 0}};
    owned_ints permutation(2);
    int parity = 0;
    short status = 0;
    lu_decompose(a.m, 2, permutation.v, parity, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(parity, -1);
    EXPECT_EQ(permutation.v[1], 2);
    EXPECT_EQ(permutation.v[2], 2);
    EXPECT_EQ(a(1, 1), 1.0);
    EXPECT_EQ(a(1, 2), 0.0);
    EXPECT_EQ(a(2, 1), 0.0);
    EXPECT_EQ(a(2, 2), 1.0);
}

TEST(LuDecomposition, FactorsReproduceThePermutedMatrix) {
    owned_matrix original{{2, 1, 1}, {4, -6, 0}, {-2, 7, 2}};
    owned_matrix a(original);
    owned_ints permutation(3);
    int parity = 0;
    short status = 0;
    lu_decompose(a.m, 3, permutation.v, parity, status);
    ASSERT_EQ(status, 0);
    // Apply the recorded interchanges to the original, then compare with L U.
    owned_matrix permuted(original);
    for (int i = 1; i <= 3; ++i) {
        int p = permutation.v[i];
        for (int j = 1; j <= 3; ++j) {
            double held = permuted(i, j);
            permuted(i, j) = permuted(p, j);
            permuted(p, j) = held;
        }
    }
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) {
            double sum = 0.0;
            for (int k = 1; k <= 3; ++k) {
                double l = k < i ? a(i, k) : (k == i ? 1.0 : 0.0);
                double u = k <= j ? a(k, j) : 0.0;
                sum += l * u;
            }
            EXPECT_NEAR(sum, permuted(i, j), 1e-14);
        }
    }
    // The determinant is the parity times the product of U's diagonal: -16.
    EXPECT_NEAR(parity * a(1, 1) * a(2, 2) * a(3, 3), -16.0, 1e-12);
}

TEST(LuDecomposition, ZeroRowSetsStatusAndStops) {
    owned_matrix a{{1, 2, 3}, {0, 0, 0}, {4, 5, 6}};
    owned_ints permutation(3);
    int parity = 0;
    short status = 0;
    lu_decompose(a.m, 3, permutation.v, parity, status);
    EXPECT_EQ(status, 1);
    // The routine ended before any elimination.
    EXPECT_EQ(a(3, 1), 4.0);
    EXPECT_EQ(permutation.v[1], 0);
}

TEST(LuDecomposition, ZeroPivotIsReplacedAndFactorisationGoesOn) {
    // Rank one without a zero row: the second pivot vanishes exactly.
    owned_matrix a{{1, 2}, {2, 4}};
    owned_ints permutation(2);
    int parity = 0;
    short status = 0;
    lu_decompose(a.m, 2, permutation.v, parity, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(a(2, 2), 1.0e-20);
}

TEST(LuSolve, SolvesWithPermutation) {
    owned_matrix a{{2, 1, 1}, {4, -6, 0}, {-2, 7, 2}};
    owned_ints permutation(3);
    int parity = 0;
    short status = 0;
    lu_decompose(a.m, 3, permutation.v, parity, status);
    // x = (1, 1, 2): b = (5, -2, 9).
    owned_vector b{5, -2, 9};
    lu_solve(a.m, 3, permutation.v, b.v);
    EXPECT_NEAR(b[1], 1.0, 1e-14);
    EXPECT_NEAR(b[2], 1.0, 1e-14);
    EXPECT_NEAR(b[3], 2.0, 1e-14);
    // Leading zeros of the right-hand side.
    owned_vector e{0, 0, 1};
    lu_solve(a.m, 3, permutation.v, e.v);
    owned_matrix original{{2, 1, 1}, {4, -6, 0}, {-2, 7, 2}};
    for (int i = 1; i <= 3; ++i) {
        double row = 0.0;
        for (int j = 1; j <= 3; ++j) {
            row += original(i, j) * e[j];
        }
        EXPECT_NEAR(row, i == 3 ? 1.0 : 0.0, 1e-14);
    }
}

TEST(LuImprove, RefinesAnIllConditionedSolution) {
    // 27720 times the 6 x 6 Hilbert matrix has integer elements, so with
    // x = (1, ..., 1) the right-hand side is exact too; the condition number is
    // about 1.5e7.
    const int n = 6;
    owned_matrix a = hilbert(n);
    owned_vector b(n);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            a(i, j) = std::round(27720.0 * a(i, j));
            b[i] += a(i, j);
        }
    }
    owned_matrix factors(a);
    owned_ints permutation(n);
    int parity = 0;
    short status = 0;
    lu_decompose(factors.m, n, permutation.v, parity, status);
    ASSERT_EQ(status, 0);
    owned_vector x(n);
    for (int i = 1; i <= n; ++i) {
        x[i] = b[i];
    }
    lu_solve(factors.m, n, permutation.v, x.v);
    double before = max_error_from_ones(x);
    EXPECT_GT(before, 1e-13);  // the plain solve really is inexact
    lu_improve(a.m, factors.m, n, permutation.v, b.v, x.v);
    lu_improve(a.m, factors.m, n, permutation.v, b.v, x.v);
    double after = max_error_from_ones(x);
    EXPECT_LT(after, before / 10.0);
    EXPECT_LT(after, 1e-12);
}

TEST(LuImprove, NearlySingularTwoByTwo) {
    // det = 1 with elements near 1e7: condition number about 4e14. With
    // x = (3, -2) every element of b is an exact integer.
    const double big = 1.0e7;
    owned_matrix a{{big, big + 1}, {big - 1, big}};
    owned_vector b{3 * big - 2 * (big + 1), 3 * (big - 1) - 2 * big};
    owned_matrix factors(a);
    owned_ints permutation(2);
    int parity = 0;
    short status = 0;
    lu_decompose(factors.m, 2, permutation.v, parity, status);
    owned_vector x{b[1], b[2]};
    lu_solve(factors.m, 2, permutation.v, x.v);
    auto error = [&] { return std::fmax(std::fabs(x[1] - 3.0), std::fabs(x[2] + 2.0)); };
    double before = error();
    EXPECT_GT(before, 1e-3);
    for (int pass = 0; pass < 4; ++pass) {
        lu_improve(a.m, factors.m, 2, permutation.v, b.v, x.v);
    }
    double after = error();
    EXPECT_LT(after, before / 100.0);
    EXPECT_LT(after, 1e-4);
}

TEST(Cholesky, KnownFactor) {
    owned_matrix a{{4, 12, -16}, {12, 37, -43}, {-16, -43, 98}};
    owned_vector diagonal(3);
    choldc(a.m, 3, diagonal.v);
    EXPECT_NEAR(diagonal[1], 2.0, 1e-15);
    EXPECT_NEAR(diagonal[2], 1.0, 1e-15);
    EXPECT_NEAR(diagonal[3], 3.0, 1e-15);
    EXPECT_NEAR(a(2, 1), 6.0, 1e-15);
    EXPECT_NEAR(a(3, 1), -8.0, 1e-15);
    EXPECT_NEAR(a(3, 2), 5.0, 1e-15);
    // The upper triangle is read, not written.
    EXPECT_EQ(a(1, 2), 12.0);
    EXPECT_EQ(a(1, 3), -16.0);
    EXPECT_EQ(a(2, 3), -43.0);
}

TEST(Cholesky, OnlyTheUpperTriangleIsRead) {
    owned_matrix a{{4, 12, -16}, {99, 37, -43}, {99, 99, 98}};
    owned_vector diagonal(3);
    choldc(a.m, 3, diagonal.v);
    EXPECT_NEAR(a(3, 2), 5.0, 1e-15);
    EXPECT_NEAR(diagonal[3], 3.0, 1e-15);
}

TEST(Cholesky, SolveMatchesKnownSolution) {
    owned_matrix a{{4, 12, -16}, {12, 37, -43}, {-16, -43, 98}};
    owned_vector diagonal(3);
    choldc(a.m, 3, diagonal.v);
    // x = (1, -2, 0.5): b = A x.
    owned_vector b{4 - 24 - 8, 12 - 74 - 21.5, -16 + 86 + 49};
    owned_vector x(3);
    chol_solve(a.m, 3, diagonal.v, b.v, x.v);
    EXPECT_NEAR(x[1], 1.0, 1e-12);
    EXPECT_NEAR(x[2], -2.0, 1e-12);
    EXPECT_NEAR(x[3], 0.5, 1e-12);
}

TEST(Cholesky, NotPositiveDefiniteEndsTheProgram) {
    int status = 0;
    std::string text;
    ASSERT_TRUE(ends_fatally(
        [] {
            owned_matrix a{{1, 2}, {2, 1}};
            owned_vector d(2);
            choldc(a.m, 2, d.v);
        },
        status, text));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, nr_error_text("choldc failed"));

    // A pivot sum that is not a number is refused too.
    ASSERT_TRUE(ends_fatally(
        [] {
            owned_matrix a{{std::nan(""), 0}, {0, 1}};
            owned_vector d(2);
            choldc(a.m, 2, d.v);
        },
        status, text));
    EXPECT_EQ(text, nr_error_text("choldc failed"));
}

TEST(GaussJordan, InverseAndSolutions) {
    owned_matrix a = hilbert(3);
    // Right-hand sides: H (1,1,1) and H (1,-1,2).
    owned_matrix h = hilbert(3);
    owned_matrix b(3, 2);
    for (int i = 1; i <= 3; ++i) {
        b(i, 1) = h(i, 1) + h(i, 2) + h(i, 3);
        b(i, 2) = h(i, 1) - h(i, 2) + 2 * h(i, 3);
    }
    gaussj(a.m, 3, b.m, 2);
    owned_matrix expected{{9, -36, 30}, {-36, 192, -180}, {30, -180, 180}};
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) {
            EXPECT_NEAR(a(i, j), expected(i, j), 1e-10 * std::fabs(expected(i, j)));
        }
    }
    EXPECT_NEAR(b(1, 1), 1.0, 1e-11);
    EXPECT_NEAR(b(2, 1), 1.0, 1e-11);
    EXPECT_NEAR(b(3, 1), 1.0, 1e-11);
    EXPECT_NEAR(b(1, 2), 1.0, 1e-11);
    EXPECT_NEAR(b(2, 2), -1.0, 1e-11);
    EXPECT_NEAR(b(3, 2), 2.0, 1e-11);
}

TEST(GaussJordan, PivotsOffTheDiagonal) {
    owned_matrix a{{0, 2, 0}, {0, 0, 4}, {5, 0, 0}};
    owned_matrix b(3, 0);
    gaussj(a.m, 3, b.m, 0);
    // The inverse of this permutation-scaled matrix is its scaled transpose.
    EXPECT_NEAR(a(1, 3), 0.2, 1e-15);
    EXPECT_NEAR(a(2, 1), 0.5, 1e-15);
    EXPECT_NEAR(a(3, 2), 0.25, 1e-15);
    EXPECT_EQ(a(1, 1), 0.0);
    EXPECT_EQ(a(2, 2), 0.0);
    EXPECT_EQ(a(3, 3), 0.0);
}

TEST(GaussJordan, SingularMatrixEndsTheProgram) {
    int status = 0;
    std::string text;
    ASSERT_TRUE(ends_fatally(
        [] {
            owned_matrix a{{1, 2}, {2, 4}};
            owned_matrix b(2, 1);
            gaussj(a.m, 2, b.m, 1);
        },
        status, text));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, nr_error_text("gaussj: Singular Matrix"));

    ASSERT_TRUE(ends_fatally(
        [] {
            owned_matrix a{{0, 0}, {0, 0}};
            owned_matrix b(2, 1);
            gaussj(a.m, 2, b.m, 1);
        },
        status, text));
    EXPECT_EQ(text, nr_error_text("gaussj: Singular Matrix"));
}
