// Tests of the dense products, sums, transposes, inverses and multi-column
// solves of the numerical library against hand-computed and exact values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibrator/engine/numeric/numeric.h"
#include "tests/calibrator/engine/numeric/fatal_trap.h"
#include "tests/calibrator/engine/numeric/matrix_helpers.h"

using numeric_test::ends_fatally;
using numeric_test::hilbert;
using numeric_test::owned_matrix;
using numeric_test::owned_vector;

TEST(DenseProducts, MatrixTimesMatrix) {
    owned_matrix a{{1, 2, 3}, {4, 5, 6}};
    owned_matrix b{{7, 8}, {9, 10}, {11, 12}};
    owned_matrix r(2, 2);
    dmmult(a.m, 2, 3, b.m, 3, 2, r.m);
    EXPECT_EQ(r(1, 1), 58.0);
    EXPECT_EQ(r(1, 2), 64.0);
    EXPECT_EQ(r(2, 1), 139.0);
    EXPECT_EQ(r(2, 2), 154.0);
}

TEST(DenseProducts, MismatchedShapesEndTheProgram) {
    owned_matrix a(2, 3);
    owned_matrix b(2, 2);
    owned_matrix r(2, 2);
    int status = 0;
    std::string text;
    ASSERT_TRUE(ends_fatally([&] { dmmult(a.m, 2, 3, b.m, 2, 2, r.m); }, status, text));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, "a_cols <> b_rows (3,2): dmmult\n");
}

TEST(DenseProducts, MatrixTimesVector) {
    owned_matrix a{{2, -1, 0}, {1, 3, 4}};
    owned_vector x{1, 2, 3};
    owned_vector y(2);
    dmvmult(a.m, 2, 3, x.v, y.v);
    EXPECT_EQ(y[1], 0.0);
    EXPECT_EQ(y[2], 19.0);
}

TEST(DenseProducts, TransposeScaleAddSubtract) {
    owned_matrix a{{1, 2, 3}, {4, 5, 6}};
    owned_matrix t(3, 2);
    dmtranspose(a.m, 2, 3, t.m);
    for (int i = 1; i <= 2; ++i) {
        for (int j = 1; j <= 3; ++j) {
            EXPECT_EQ(t(j, i), a(i, j));
        }
    }

    owned_matrix scaled(2, 3);
    dmscale(a.m, 2, 3, -0.5, scaled.m);
    EXPECT_EQ(scaled(1, 1), -0.5);
    EXPECT_EQ(scaled(2, 3), -3.0);
    dmscale(a.m, 2, 3, 2.0, a.m);  // in place
    EXPECT_EQ(a(2, 2), 10.0);

    owned_matrix b{{1, 1, 1}, {-1, -1, -1}};
    owned_matrix sum(2, 3);
    dmadd(a.m, b.m, 2, 3, sum.m);
    EXPECT_EQ(sum(1, 1), 3.0);
    EXPECT_EQ(sum(2, 3), 11.0);

    owned_vector p{5, 7, 9};
    owned_vector q{1, 2, 3};
    owned_vector d(3);
    dvsub(p.v, q.v, 3, d.v);
    EXPECT_EQ(d[1], 4.0);
    EXPECT_EQ(d[2], 5.0);
    EXPECT_EQ(d[3], 6.0);
}

namespace {

void expect_matrix_near(const owned_matrix &actual, const owned_matrix &expected, double relative) {
    for (int i = 1; i <= expected.rows; ++i) {
        for (int j = 1; j <= expected.cols; ++j) {
            EXPECT_NEAR(actual(i, j), expected(i, j), relative * std::fabs(expected(i, j)) + 1e-12)
                << "element (" << i << ", " << j << ")";
        }
    }
}

}  // namespace

TEST(MatrixInverse, HilbertThreeByThreeIsExactIntegers) {
    owned_matrix h = hilbert(3);
    owned_matrix inverse(3, 3);
    dminverse(h.m, 3, inverse.m);
    owned_matrix expected{{9, -36, 30}, {-36, 192, -180}, {30, -180, 180}};
    expect_matrix_near(inverse, expected, 1e-11);
}

TEST(MatrixInverse, HilbertFourByFourIsExactIntegers) {
    owned_matrix h = hilbert(4);
    owned_matrix inverse(4, 4);
    short status = 0;
    dminverse_status(h.m, 4, inverse.m, status);
    EXPECT_EQ(status, 0);
    owned_matrix expected{{16, -120, 240, -140},
                          {-120, 1200, -2700, 1680},
                          {240, -2700, 6480, -4200},
                          {-140, 1680, -4200, 2800}};
    expect_matrix_near(inverse, expected, 1e-9);
}

TEST(MatrixInverse, ProductWithOriginalIsIdentity) {
    owned_matrix a{{4, -2, 1}, {3, 6, -4}, {2, 1, 8}};
    owned_matrix work(a);
    owned_matrix inverse(3, 3);
    dminverse(work.m, 3, inverse.m);
    owned_matrix product(3, 3);
    dmmult(a.m, 3, 3, inverse.m, 3, 3, product.m);
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) {
            EXPECT_NEAR(product(i, j), i == j ? 1.0 : 0.0, 1e-14);
        }
    }
}

TEST(MatrixInverse, ZeroRowLeavesTheResultUntouchedAndSetsStatus) {
    owned_matrix a{{1, 2}, {0, 0}};
    owned_matrix inverse{{-7, -7}, {-7, -7}};
    short status = 0;
    dminverse_status(a.m, 2, inverse.m, status);
    EXPECT_EQ(status, 1);
    for (int i = 1; i <= 2; ++i) {
        for (int j = 1; j <= 2; ++j) {
            EXPECT_EQ(inverse(i, j), -7.0);
        }
    }
    owned_matrix b{{0, 0}, {3, 1}};
    dminverse(b.m, 2, inverse.m);
    EXPECT_EQ(inverse(1, 1), -7.0);
}

TEST(MatrixInverse, StatusIsLeftAsItWasForARegularMatrix) {
    owned_matrix a{{2, 0}, {0, 4}};
    owned_matrix inverse(2, 2);
    short status = 1;  // left over from an earlier failure: not cleared
    dminverse_status(a.m, 2, inverse.m, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(inverse(1, 1), 0.5);
    EXPECT_EQ(inverse(2, 2), 0.25);
}

TEST(MatrixSolve, ParabolaThroughThreePoints) {
    // a x^2 + b x + c through (0.99, f2), (1, f0), (1.01, f1) of f = 3x^2 - 2x + 5,
    // rows in that order; the slope at 1 is 2a + b = 4.
    auto f = [](double x) { return 3 * x * x - 2 * x + 5; };
    const double xs[3] = {0.99, 1.0, 1.01};
    owned_matrix a(3, 3);
    owned_matrix rhs(3, 1);
    for (int i = 1; i <= 3; ++i) {
        a(i, 1) = xs[i - 1] * xs[i - 1];
        a(i, 2) = xs[i - 1];
        a(i, 3) = 1.0;
        rhs(i, 1) = f(xs[i - 1]);
    }
    owned_matrix x(3, 1);
    dmsolve(a.m, 3, rhs.m, 1, x.m);
    EXPECT_NEAR(x(1, 1), 3.0, 1e-8);
    EXPECT_NEAR(x(2, 1), -2.0, 1e-8);
    EXPECT_NEAR(x(3, 1), 5.0, 1e-8);
    EXPECT_NEAR(2 * x(1, 1) * 1.0 + x(2, 1), 4.0, 1e-8);
}

TEST(MatrixSolve, SeveralRightHandColumnsAndSingularStatus) {
    owned_matrix a{{2, 1}, {1, 3}};
    owned_matrix rhs{{3, 1}, {4, -2}};
    owned_matrix x(2, 2);
    short status = 0;
    dmsolve_status(a.m, 2, rhs.m, 2, x.m, status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(x(1, 1), 1.0, 1e-15);
    EXPECT_NEAR(x(2, 1), 1.0, 1e-15);
    EXPECT_NEAR(x(1, 2), 1.0, 1e-15);
    EXPECT_NEAR(x(2, 2), -1.0, 1e-15);

    owned_matrix singular{{0, 0}, {1, 1}};
    owned_matrix untouched{{9, 9}, {9, 9}};
    dmsolve_status(singular.m, 2, rhs.m, 2, untouched.m, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(untouched(2, 2), 9.0);
}
