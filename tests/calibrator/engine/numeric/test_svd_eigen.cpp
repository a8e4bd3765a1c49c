// Tests of the singular value decomposition, the Jacobi eigen-solver with its
// descending sort, and the index sort, against analytical results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "calibrator/engine/numeric/numeric.h"
#include "tests/calibrator/engine/numeric/fatal_trap.h"
#include "tests/calibrator/engine/numeric/matrix_helpers.h"

using numeric_test::ends_fatally;
using numeric_test::nr_error_text;
using numeric_test::owned_matrix;
using numeric_test::owned_vector;

namespace {

const double pi = std::acos(-1.0);

struct owned_ints {
    int_vector v;
    int n;
    explicit owned_ints(int size) : v(ivector(1, size)), n(size) {}
    ~owned_ints() { free_ivector(v, 1, n); }
    owned_ints(const owned_ints &) = delete;
    owned_ints &operator=(const owned_ints &) = delete;
};

// Checks U diag(w) V' against the original matrix and the orthonormality of V
// and of the columns of U that belong to non-zero singular values.
void expect_valid_svd(const owned_matrix &original, const owned_matrix &u, const owned_vector &w,
                      const owned_matrix &v, double tolerance) {
    const int m = original.rows;
    const int n = original.cols;
    for (int i = 1; i <= m; ++i) {
        for (int j = 1; j <= n; ++j) {
            double sum = 0.0;
            for (int k = 1; k <= n; ++k) {
                sum += u(i, k) * w[k] * v(j, k);
            }
            EXPECT_NEAR(sum, original(i, j), tolerance) << "element (" << i << ", " << j << ")";
        }
    }
    for (int p = 1; p <= n; ++p) {
        EXPECT_GE(w[p], 0.0);
        for (int q = 1; q <= n; ++q) {
            double vv = 0.0;
            for (int k = 1; k <= n; ++k) {
                vv += v(k, p) * v(k, q);
            }
            EXPECT_NEAR(vv, p == q ? 1.0 : 0.0, tolerance);
            if (w[p] > tolerance && w[q] > tolerance) {
                double uu = 0.0;
                for (int k = 1; k <= m; ++k) {
                    uu += u(k, p) * u(k, q);
                }
                EXPECT_NEAR(uu, p == q ? 1.0 : 0.0, tolerance);
            }
        }
    }
}

std::vector<double> sorted_values(const owned_vector &w) {
    std::vector<double> values;
    for (int i = 1; i <= w.n; ++i) {
        values.push_back(w[i]);
    }
    std::sort(values.begin(), values.end());
    return values;
}

}  // namespace

TEST(SafeHypot, NeitherOverflowsNorUnderflows) {
    EXPECT_DOUBLE_EQ(safe_hypot(3.0, 4.0), 5.0);
    EXPECT_DOUBLE_EQ(safe_hypot(-5.0, 12.0), 13.0);
    EXPECT_EQ(safe_hypot(0.0, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(safe_hypot(3e200, 4e200), 5e200);
    EXPECT_DOUBLE_EQ(safe_hypot(3e-200, 4e-200), 5e-200);
    EXPECT_DOUBLE_EQ(safe_hypot(0.0, -2.5), 2.5);
}

TEST(SingularValues, WideTwoByThree) {
    // A A' = [[17, 8], [8, 17]] with eigenvalues 25 and 9: singular values 5, 3
    // and a third one of 0.
    owned_matrix original{{3, 2, 2}, {2, 3, -2}};
    owned_matrix u(original);
    owned_vector w(3);
    owned_matrix v(3, 3);
    dsvdcmp(u.m, 2, 3, w.v, v.m);
    std::vector<double> values = sorted_values(w);
    EXPECT_NEAR(values[0], 0.0, 1e-14);
    EXPECT_NEAR(values[1], 3.0, 1e-14);
    EXPECT_NEAR(values[2], 5.0, 1e-14);
    expect_valid_svd(original, u, w, v, 1e-13);
}

TEST(SingularValues, TallMatrixAndItsTranspose) {
    owned_matrix original{{3, 2}, {2, 3}, {2, -2}};
    owned_matrix u(original);
    owned_vector w(2);
    owned_matrix v(2, 2);
    dsvdcmp(u.m, 3, 2, w.v, v.m);
    std::vector<double> values = sorted_values(w);
    EXPECT_NEAR(values[0], 3.0, 1e-14);
    EXPECT_NEAR(values[1], 5.0, 1e-14);
    expect_valid_svd(original, u, w, v, 1e-13);
}

TEST(SingularValues, RandomMatricesReconstruct) {
    std::mt19937 generator(20240611u);
    std::uniform_real_distribution<double> uniform(-10.0, 10.0);
    const int shapes[][2] = {{6, 4}, {4, 6}, {5, 5}, {1, 3}, {3, 1}};
    for (const auto &shape : shapes) {
        owned_matrix original(shape[0], shape[1]);
        for (int i = 1; i <= shape[0]; ++i) {
            for (int j = 1; j <= shape[1]; ++j) {
                original(i, j) = uniform(generator);
            }
        }
        owned_matrix u(original);
        owned_vector w(shape[1]);
        owned_matrix v(shape[1], shape[1]);
        dsvdcmp(u.m, shape[0], shape[1], w.v, v.m);
        expect_valid_svd(original, u, w, v, 1e-11);
    }
}

TEST(SingularValues, BackSubstitutionGivesLeastSquaresAndMinimumNorm) {
    // Straight line through (0, 1), (1, 3), (2, 4), (3, 8): the least-squares
    // fit is y = 0.7 + 2.2 x.
    owned_matrix design{{1, 0}, {1, 1}, {1, 2}, {1, 3}};
    owned_vector y{1, 3, 4, 8};
    owned_vector w(2);
    owned_matrix v(2, 2);
    dsvdcmp(design.m, 4, 2, w.v, v.m);
    owned_vector x(2);
    svd_back_substitute(design.m, w.v, v.m, 4, 2, y.v, x.v);
    EXPECT_NEAR(x[1], 0.7, 1e-13);
    EXPECT_NEAR(x[2], 2.2, 1e-13);

    // Rank one [[1, 1], [1, 1]] x = (2, 2) with the zero singular value set to
    // exactly 0: the minimum-norm solution (1, 1).
    owned_matrix a{{1, 1}, {1, 1}};
    owned_vector b{2, 2};
    owned_vector w2(2);
    owned_matrix v2(2, 2);
    dsvdcmp(a.m, 2, 2, w2.v, v2.m);
    for (int i = 1; i <= 2; ++i) {
        if (w2[i] < 1e-12) {
            w2[i] = 0.0;
        }
    }
    owned_vector x2(2);
    svd_back_substitute(a.m, w2.v, v2.m, 2, 2, b.v, x2.v);
    EXPECT_NEAR(x2[1], 1.0, 1e-13);
    EXPECT_NEAR(x2[2], 1.0, 1e-13);
}

TEST(SingularValues, ValuesThatAreNotNumbersEndTheProgram) {
    int status = 0;
    std::string text;
    ASSERT_TRUE(ends_fatally(
        [] {
            owned_matrix a{{std::nan(""), 1.0}, {1.0, 2.0}};
            owned_vector w(2);
            owned_matrix v(2, 2);
            dsvdcmp(a.m, 2, 2, w.v, v.m);
        },
        status, text));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, nr_error_text("no convergence in 30 dsvdcmp iterations"));
}

TEST(JacobiEigen, TridiagonalMatrixEigenvaluesSortedDescending) {
    for (int n : {2, 5, 8}) {
        owned_matrix a(n, n);
        for (int i = 1; i <= n; ++i) {
            a(i, i) = 2.0;
            if (i > 1) {
                a(i, i - 1) = -1.0;
                a(i - 1, i) = -1.0;
            }
        }
        owned_matrix original(a);
        owned_vector d(n);
        owned_matrix v(n, n);
        int rotations = -1;
        jacobi(a.m, n, d.v, v.m, rotations);
        EXPECT_GT(rotations, 0);
        eigen_sort(d.v, v.m, n);
        for (int k = 1; k <= n; ++k) {
            // Descending: position k holds the eigenvalue of index n + 1 - k.
            double expected = 2.0 - 2.0 * std::cos((n + 1 - k) * pi / (n + 1));
            EXPECT_NEAR(d[k], expected, 1e-13) << "n = " << n << ", k = " << k;
        }
        for (int p = 1; p <= n; ++p) {
            for (int i = 1; i <= n; ++i) {
                double av = 0.0;
                for (int j = 1; j <= n; ++j) {
                    av += original(i, j) * v(j, p);
                }
                EXPECT_NEAR(av, d[p] * v(i, p), 1e-13);
            }
            for (int q = 1; q <= n; ++q) {
                double dot = 0.0;
                for (int i = 1; i <= n; ++i) {
                    dot += v(i, p) * v(i, q);
                }
                EXPECT_NEAR(dot, p == q ? 1.0 : 0.0, 1e-13);
            }
        }
        // The diagonal and lower triangle of A are kept.
        for (int i = 1; i <= n; ++i) {
            EXPECT_EQ(a(i, i), 2.0);
            if (i > 1) {
                EXPECT_EQ(a(i, i - 1), -1.0);
            }
        }
    }
}

TEST(JacobiEigen, RepeatedEigenvalues) {
    // [[2,1,1],[1,2,1],[1,1,2]] has eigenvalues 4, 1, 1; the eigenvector of 4 is
    // (1, 1, 1) / sqrt(3).
    owned_matrix a{{2, 1, 1}, {1, 2, 1}, {1, 1, 2}};
    owned_vector d(3);
    owned_matrix v(3, 3);
    int rotations = 0;
    jacobi(a.m, 3, d.v, v.m, rotations);
    eigen_sort(d.v, v.m, 3);
    EXPECT_NEAR(d[1], 4.0, 1e-14);
    EXPECT_NEAR(d[2], 1.0, 1e-14);
    EXPECT_NEAR(d[3], 1.0, 1e-14);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_NEAR(std::fabs(v(i, 1)), 1.0 / std::sqrt(3.0), 1e-14);
    }
}

TEST(JacobiEigen, DiagonalMatrixNeedsNoRotation) {
    owned_matrix a{{3, 0}, {0, -1}};
    owned_vector d(2);
    owned_matrix v(2, 2);
    int rotations = -1;
    jacobi(a.m, 2, d.v, v.m, rotations);
    EXPECT_EQ(rotations, 0);
    EXPECT_EQ(d[1], 3.0);
    EXPECT_EQ(d[2], -1.0);
    EXPECT_EQ(v(1, 1), 1.0);
    EXPECT_EQ(v(1, 2), 0.0);
}

TEST(JacobiEigen, ValuesThatAreNotNumbersEndTheProgram) {
    int status = 0;
    std::string text;
    ASSERT_TRUE(ends_fatally(
        [] {
            owned_matrix a{{1.0, std::nan("")}, {std::nan(""), 1.0}};
            owned_vector d(2);
            owned_matrix v(2, 2);
            int rotations = 0;
            jacobi(a.m, 2, d.v, v.m, rotations);
        },
        status, text));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, nr_error_text("Too many iterations in routine jacobi"));
}

TEST(EigenSort, DescendingWithColumnsMovedAlong) {
    owned_vector d{1, 3, 2};
    owned_matrix v{{11, 12, 13}, {21, 22, 23}, {31, 32, 33}};
    eigen_sort(d.v, v.m, 3);
    EXPECT_EQ(d[1], 3.0);
    EXPECT_EQ(d[2], 2.0);
    EXPECT_EQ(d[3], 1.0);
    // Column 2 (eigenvalue 3) first, then column 3 (2), then column 1 (1).
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(v(i, 1), i * 10 + 2.0);
        EXPECT_EQ(v(i, 2), i * 10 + 3.0);
        EXPECT_EQ(v(i, 3), i * 10 + 1.0);
    }
}

TEST(EigenSort, AmongEqualValuesTheLastFoundIsTaken) {
    owned_vector d{1, 5, 5};
    owned_matrix columns(3, 3);
    for (int j = 1; j <= 3; ++j) {
        for (int i = 1; i <= 3; ++i) {
            columns(i, j) = j;
        }
    }
    eigen_sort(d.v, columns.m, 3);
    EXPECT_EQ(d[1], 5.0);
    EXPECT_EQ(d[2], 5.0);
    EXPECT_EQ(d[3], 1.0);
    // Position 1 takes column 3, the last of the two equal values, and column 1
    // moves to position 3; position 2 keeps column 2.
    EXPECT_EQ(columns(1, 1), 3.0);
    EXPECT_EQ(columns(1, 2), 2.0);
    EXPECT_EQ(columns(1, 3), 1.0);
}

TEST(IndexSort, ThreeValues) {
    owned_vector values{3, 1, 2};
    owned_ints index(3);
    indexx(3, values.v, index.v);
    EXPECT_EQ(index.v[1], 2);
    EXPECT_EQ(index.v[2], 3);
    EXPECT_EQ(index.v[3], 1);
}

TEST(IndexSort, LargeRandomArraysWithTiesAreOrdered) {
    std::mt19937 generator(7u);
    std::uniform_int_distribution<int> few(0, 20);
    std::uniform_real_distribution<double> spread(-1e6, 1e6);
    for (int n : {1, 2, 7, 8, 50, 1000, 5000}) {
        for (int kind = 0; kind < 3; ++kind) {
            owned_vector values(n);
            for (int i = 1; i <= n; ++i) {
                values[i] = kind == 0 ? spread(generator) : kind == 1 ? few(generator) : -i;
            }
            owned_ints index(n);
            indexx(n, values.v, index.v);
            std::vector<int> seen(static_cast<size_t>(n) + 1, 0);
            for (int i = 1; i <= n; ++i) {
                ASSERT_GE(index.v[i], 1);
                ASSERT_LE(index.v[i], n);
                ++seen[static_cast<size_t>(index.v[i])];
                if (i > 1) {
                    EXPECT_LE(values[index.v[i - 1]], values[index.v[i]]);
                }
            }
            for (int i = 1; i <= n; ++i) {
                EXPECT_EQ(seen[static_cast<size_t>(i)], 1) << "index " << i << " of " << n;
            }
        }
    }
}

TEST(IndexSort, ValuesThatAreNotNumbersStayInRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int n = 40;
    owned_vector values(n);
    for (int i = 1; i <= n; ++i) {
        values[i] = i % 5 == 0 ? nan : static_cast<double>((i * 17) % 23);
    }
    owned_ints index(n);
    indexx(n, values.v, index.v);
    std::vector<int> seen(n + 1, 0);
    for (int i = 1; i <= n; ++i) {
        ASSERT_GE(index.v[i], 1);
        ASSERT_LE(index.v[i], n);
        ++seen[static_cast<size_t>(index.v[i])];
    }
    EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), 1), n);
}
