// Tests of the 1-based vector and matrix allocators, their free twins and the
// fatal error routine of the numerical library.
#include <gtest/gtest.h>

#include <string>

#include "calibrator/engine/numeric/nr_arrays.h"
#include "tests/calibrator/engine/numeric/fatal_trap.h"

using numeric_test::ends_fatally;
using numeric_test::nr_error_text;

TEST(NumericVectors, RangeOneToThreeGivesThreeZeroedElements) {
    double_vector v = dvector(1, 3);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.low, 1);
    EXPECT_EQ(v.high, 3);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(v[i], 0.0);
    }
    v[1] = 1.5;
    v[2] = -2.0;
    v[3] = 7.0;
    // Element `low` is the first of the block and the others follow it.
    EXPECT_EQ(&v[1], v.block);
    EXPECT_EQ(&v[3], v.block + 2);
    EXPECT_EQ(v(2), -2.0);
    free_dvector(v, 1, 3);
    EXPECT_TRUE(v.empty());
}

TEST(NumericVectors, LowIndexOtherThanOne) {
    int_vector v = ivector(-2, 2);
    for (int i = -2; i <= 2; ++i) {
        v[i] = 10 * i;
    }
    EXPECT_EQ(&v[-2], v.block);
    EXPECT_EQ(v[-2], -20);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[2], 20);
    free_ivector(v, -2, 2);

    double_vector zero_based = dvector(0, 4);
    zero_based[0] = 3.0;
    zero_based[4] = 4.0;
    EXPECT_EQ(zero_based.block[0], 3.0);
    EXPECT_EQ(zero_based.block[4], 4.0);
    free_dvector(zero_based, 0, 4);
}

TEST(NumericVectors, EmptyRangeIsAllowedAndFreeingTwiceIsHarmless) {
    double_vector v = dvector(1, 0);
    EXPECT_FALSE(v.empty());
    free_dvector(v, 1, 0);
    free_dvector(v, 1, 0);
    EXPECT_TRUE(v.empty());
}

TEST(NumericMatrices, RowsFollowEachOtherInOneBlock) {
    double_matrix m = dmatrix(1, 2, 1, 3);
    double value = 1.0;
    for (int i = 1; i <= 2; ++i) {
        for (int j = 1; j <= 3; ++j) {
            EXPECT_EQ(m(i, j), 0.0);
            m(i, j) = value;
            value += 1.0;
        }
    }
    // Row 2 starts directly after the last element of row 1.
    EXPECT_EQ(&m(2, 1), &m(1, 3) + 1);
    const double *first = &m(1, 1);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(first[k], k + 1.0);
    }
    EXPECT_EQ(m[2][3], 6.0);
    m[1][2] = -5.0;
    EXPECT_EQ(m(1, 2), -5.0);
    free_dmatrix(m, 1, 2, 1, 3);
    EXPECT_TRUE(m.empty());
}

TEST(NumericMatrices, ChosenLowIndices) {
    double_matrix m = dmatrix(0, 1, 5, 6);
    m(0, 5) = 1.0;
    m(0, 6) = 2.0;
    m(1, 5) = 3.0;
    m(1, 6) = 4.0;
    EXPECT_EQ(&m(1, 5), &m(0, 6) + 1);
    EXPECT_EQ(*m.rows[0], 1.0);
    EXPECT_EQ(m.rows[1][1], 4.0);
    free_dmatrix(m, 0, 1, 5, 6);
}

TEST(NumericMatrices, EmptyShapesAllocateAndFree) {
    double_matrix no_rows = dmatrix(1, 0, 1, 4);
    double_matrix no_columns = dmatrix(1, 3, 1, 0);
    EXPECT_FALSE(no_rows.empty());
    EXPECT_FALSE(no_columns.empty());
    free_dmatrix(no_rows, 1, 0, 1, 4);
    free_dmatrix(no_columns, 1, 3, 1, 0);
    EXPECT_TRUE(no_rows.empty());
    EXPECT_TRUE(no_columns.empty());
}

TEST(NumericFatalErrors, NrErrorWritesThreeLinesAndEndsWithStatusOne) {
    int status = 0;
    std::string text;
    ASSERT_TRUE(ends_fatally([] { nr_error("something went wrong"); }, status, text));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, nr_error_text("something went wrong"));
}

TEST(NumericFatalErrors, DefaultHandlerEndsTheProcess) {
    EXPECT_EXIT(nr_error("choldc failed"), testing::ExitedWithCode(1),
                "Numerical Recipes run-time error\\.\\.\\.\ncholdc failed\n"
                "\\.\\.\\.now exiting to system\\.\\.\\.");
}

TEST(NumericFatalErrors, ReversedRangesAreAllocationFailures) {
    int status = 0;
    std::string text;
    ASSERT_TRUE(ends_fatally([] { (void)dvector(5, 2); }, status, text));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, nr_error_text("allocation failure in dvector()"));

    ASSERT_TRUE(ends_fatally([] { (void)ivector(1, -3); }, status, text));
    EXPECT_EQ(text, nr_error_text("allocation failure in ivector()"));

    ASSERT_TRUE(ends_fatally([] { (void)dmatrix(3, 1, 1, 2); }, status, text));
    EXPECT_EQ(text, nr_error_text("allocation failure 1 in matrix()"));

    // A reversed column range leaves the data block without a size.
    ASSERT_TRUE(ends_fatally([] { (void)dmatrix(1, 2, 4, 1); }, status, text));
    EXPECT_EQ(text, nr_error_text("allocation failure 2 in matrix()"));
}

TEST(NumericFatalErrors, RestoringTheDefaultHandler) {
    nr_exit_handler previous = set_nr_exit_handler(numeric_test::throw_fatal_exit);
    EXPECT_EQ(set_nr_exit_handler(nullptr), &numeric_test::throw_fatal_exit);
    set_nr_exit_handler(previous);
    EXPECT_EXIT(nr_exit(3), testing::ExitedWithCode(3), "");
}
