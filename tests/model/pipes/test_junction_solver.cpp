// Tests of the junction solver: the storage layout and its allocation failures,
// the LU decomposition with its pivoting on a hand-worked 2 x 2 system, the
// inverse of the 3 x 3 Hilbert matrix (exact integers), the singular and the
// zero-pivot cases.
#include <gtest/gtest.h>

#include <string>

#include "model/pipes/junction_solver.h"
#include "support/captured_output.h"

namespace {

std::string three_lines(const std::string &text) {
    return "Numerical Recipes run-time error...\n" + text + "\n...now exiting to system...\n";
}

void fill(junction_solver &s, int n, std::initializer_list<double> values) {
    auto v = values.begin();
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) s.a[i][j] = *v++;
}

TEST(JunctionSolverStorage, RowsFollowEachOtherInOneZeroedBlock) {
    superlink_dense_matrix m = superlink_matrix(3, 4);
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m.rows(), 3u);
    EXPECT_EQ(m.cols(), 4u);
    // Element [r][c] lies (r - 1) * ncol + c doubles into the block.
    EXPECT_EQ(&m[2][1] - &m[1][1], 4);
    EXPECT_EQ(&m[3][4] - &m[1][0], 12);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) EXPECT_EQ(m[r][c], 0.0);
    array_1d<double> v = superlink_vector(5);
    array_1d<int> p = superlink_ivector(5);
    ASSERT_FALSE(v.empty());
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(v.last(), 5u);
    EXPECT_EQ(p[5], 0);
}

TEST(JunctionSolverStorage, FailedAllocationsGiveTheirThreeLinesAndNoStorage) {
    superlink_dense_matrix m;
    array_1d<double> v;
    array_1d<int> p;
    std::string err = testsupport::printed_err([&] { m = superlink_matrix(-1, 3); });
    EXPECT_EQ(err, three_lines("allocation failure 1 in matrix()"));
    EXPECT_TRUE(m.empty());
    err = testsupport::printed_err([&] { m = superlink_matrix(3, -1); });
    EXPECT_EQ(err, three_lines("allocation failure 2 in matrix()"));
    EXPECT_TRUE(m.empty());
    err = testsupport::printed_err([&] { v = superlink_vector(-2); });
    EXPECT_EQ(err, three_lines("allocation failure in vector()"));
    EXPECT_TRUE(v.empty());
    err = testsupport::printed_err([&] { p = superlink_ivector(-2); });
    EXPECT_EQ(err, three_lines("allocation failure in ivector()"));
    EXPECT_TRUE(p.empty());
}

TEST(JunctionSolver, TwoByTwoSwapsItsRowsOnTheTie) {
    junction_solver s;
    ASSERT_EQ(make_junction_solver(s, 2), 0);
    fill(s, 2, {2.0, 1.0, 4.0, 3.0});
    ASSERT_EQ(ludcmp(s, 2), 0);
    // Scaled pivots 2/2 and 4/4 tie; the later row wins.
    EXPECT_EQ(s.permutation[1], 2);
    EXPECT_EQ(s.permutation[2], 2);
    EXPECT_EQ(s.parity, -1.0);
    // L = [[1, 0], [0.5, 1]], U = [[4, 3], [0, -0.5]].
    EXPECT_EQ(s.a[1][1], 4.0);
    EXPECT_EQ(s.a[1][2], 3.0);
    EXPECT_EQ(s.a[2][1], 0.5);
    EXPECT_EQ(s.a[2][2], -0.5);
    s.b[1] = 3.0;
    s.b[2] = 7.0;
    ludcmp_solve(s, 2);
    EXPECT_DOUBLE_EQ(s.b[1], 1.0);
    EXPECT_DOUBLE_EQ(s.b[2], 1.0);
}

TEST(JunctionSolver, InverseOfTheHilbertMatrix) {
    const double inverse[3][3] = {{9, -36, 30}, {-36, 192, -180}, {30, -180, 180}};
    junction_solver s;
    ASSERT_EQ(make_junction_solver(s, 3), 0);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) s.a[i][j] = 1.0 / (i + j - 1);
    ASSERT_EQ(ludcmp(s, 3), 0);
    // Unit right-hand sides; those of columns 2 and 3 begin with zeros.
    for (int c = 1; c <= 3; ++c) {
        for (int i = 1; i <= 3; ++i) s.b[i] = i == c ? 1.0 : 0.0;
        ludcmp_solve(s, 3);
        for (int i = 1; i <= 3; ++i) EXPECT_NEAR(s.b[i], inverse[i - 1][c - 1], 1e-9) << i << c;
    }
}

TEST(JunctionSolver, ZeroRowIsSingularAndAZeroPivotIsKept) {
    junction_solver s;
    ASSERT_EQ(make_junction_solver(s, 3), 0);
    fill(s, 3, {1.0, 2.0, 3.0, 0.0, 0.0, 0.0, 4.0, 5.0, 6.0});
    int status = 0;
    const std::string err = testsupport::printed_err([&] { status = ludcmp(s, 3); });
    EXPECT_EQ(status, -1);
    EXPECT_EQ(err, three_lines("Singular matrix in routine ludcmp"));
    // [[1, 1], [1, 1]]: no zero row, but the second pivot vanishes.
    junction_solver t;
    ASSERT_EQ(make_junction_solver(t, 2), 0);
    fill(t, 2, {1.0, 1.0, 1.0, 1.0});
    const std::string quiet = testsupport::printed_err([&] { status = ludcmp(t, 2); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(t.a[2][2], 1e-20);
}

}  // namespace
