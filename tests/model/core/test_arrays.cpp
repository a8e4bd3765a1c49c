// The 1-based arrays: zeroing, layout, size refusals, the byte total, range
// checks, checked_array growth and its bad-range report, and double_table growth.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "model/core/arrays.h"
#include "model/core/globals.h"
#include "tests/model/framework_test_support.h"

namespace {

using frameworktest::capture_stdout;

class Arrays : public frameworktest::globals_reset {};

const char *const size_zero = "Error: Attempting to allocate array of size 0\n";

TEST_F(Arrays, OneDimensionalArraysAreZeroedFromIndexZero) {
    array_1d<double> a;
    const std::size_t before = allocated_bytes;
    ASSERT_EQ(alloc_1d_double(a, 5), 0);
    EXPECT_EQ(allocated_bytes - before, 6 * sizeof(double));
    EXPECT_EQ(a.last(), 5u);
    for (std::size_t i = 0; i <= 5; ++i) EXPECT_EQ(a[i], 0.0);
    a[5] = 2.5;
    EXPECT_EQ(a.data()[5], 2.5);

    array_1d<int> one;
    ASSERT_EQ(alloc_1d_int(one, 0), 0);
    EXPECT_FALSE(one.empty());
    EXPECT_EQ(one[0], 0);
}

TEST_F(Arrays, OneDimensionalRefusals) {
    array_1d<double> a;
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_1d_double(a, -1), -1); }), size_zero);
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_1d_double(a, -5), -1); }),
              "Error: Attempting to allocate array of negative size -5\n");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_1d_double(a, LLONG_MAX), -1); }),
              "Error: Attempting to allocate array too large to address\n");
    EXPECT_TRUE(a.empty());
}

TEST_F(Arrays, TwoDimensionalLayoutAndZeroing) {
    array_2d<double> a;
    const std::size_t before = allocated_bytes;
    ASSERT_EQ(alloc_2d_double(a, 3, 4, "depth"), 0);
    EXPECT_EQ(allocated_bytes - before, 4 * 5 * sizeof(double));
    EXPECT_EQ(a.rows(), 3u);
    EXPECT_EQ(a.cols(), 4u);
    for (std::size_t i = 0; i <= 3; ++i)
        for (std::size_t j = 0; j <= 4; ++j) EXPECT_EQ(a[i][j], 0.0);
    a[2][3] = 7.0;
    a(3, 4) = 9.0;
    EXPECT_EQ(a.data()[2 * 5 + 3], 7.0);
    EXPECT_EQ(a.data()[3 * 5 + 4], 9.0);

    array_2d<int> g;
    ASSERT_EQ(alloc_2d_int(g, 1, 1), 0);
    g[1][1] = -3;
    EXPECT_EQ(g.data()[3], -3);
    array_2d<unsigned char> b;
    ASSERT_EQ(alloc_2d_byte(b, 2, 2), 0);
    EXPECT_EQ(b[2][2], 0);
}

TEST_F(Arrays, TwoDimensionalRefusals) {
    array_2d<int> g;
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_2d_int(g, 0, 5), -1); }), size_zero);
    EXPECT_TRUE(g.empty());
    array_2d<double> a;
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_2d_double(a, 4, 0, "qp"), -1); }),
              std::string(size_zero) + "Error allocating memory for variable qp\n");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_2d_double(a, -2, 3, "qp"), -1); }),
              "Error: Attempting to allocate array of negative size -2\n"
              "Error allocating memory for variable qp\n");
    const std::size_t before = allocated_bytes;
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_2d_double(a, 1LL << 40, 1LL << 40, "big"), -1); }),
              "Error: Attempting to allocate array too large to address\n"
              "Error allocating memory for variable big\n");
    EXPECT_EQ(allocated_bytes, before);
    // A grid of ROWS and COLS 2e9: its byte count fits size_t but no single block.
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_2d_int(g, 2000000001, 2000000001), -1); }),
              "Error: Attempting to allocate array too large to address\n");
    EXPECT_TRUE(g.empty());
    EXPECT_EQ(allocated_bytes, before);
}

TEST_F(Arrays, VerboseAllocationForMrbNames) {
    array_2d<double> a;
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_2d_double(a, 2, 3, "Mrb"), 0); }),
              "0: frows=3, fcols=4, allocating main array\n"
              "0: success allocating main array\n"
              "0:doing memset...\n"
              "0: mallocing block of memory for arrays\n"
              "0: success, doing memset\n");
    EXPECT_EQ(a[2][3], 0.0);
    std::string out = capture_stdout([&] { EXPECT_EQ(alloc_2d_double(a, 1, 1, "Mrb_extra"), 0); });
    EXPECT_EQ(out.find("0: frows=2, fcols=2, allocating main array\n"), 0u);
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_2d_double(a, 1, 1, "Krb"), 0); }), "");
}

TEST_F(Arrays, ThreeDimensionalLayout) {
    array_3d<double> a;
    const std::size_t before = allocated_bytes;
    ASSERT_EQ(alloc_3d_double(a, 2, 3, 4), 0);
    EXPECT_EQ(allocated_bytes - before, 3 * 4 * 5 * sizeof(double));
    a[2][1][3] = 5.0;
    EXPECT_EQ(a.data()[((2 * 4) + 1) * 5 + 3], 5.0);
    EXPECT_EQ(a(0, 0, 0), 0.0);
    EXPECT_EQ(a(2, 3, 4), 0.0);
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_3d_double(a, 2, 0, 4), -1); }), size_zero);

    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_3d_double_named(a, 1, 1, 1, "conc"), 0); }),
              "Allocating 3D variable conc\n");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_3d_double_named(a, 0, 1, 1, "conc"), -1); }),
              std::string("Allocating 3D variable conc\n") + size_zero +
                  "Error allocating memory for variable conc\n");

    array_3d<int> q;
    ASSERT_EQ(alloc_3d_quad(q, 2, 5), 0);
    EXPECT_EQ(q.extent2(), 3u);
    q[2][3][5] = 11;
    EXPECT_EQ(q.data()[((2 * 4) + 3) * 6 + 5], 11);
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_3d_quad(q, 0, 5), -1); }), size_zero);
}

TEST_F(Arrays, PerLinkRowsGoOnAfterTheirSizeZeroMessage) {
    array_2d<const double *> rows;
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_stream_pointsource(rows, 3, 0), 0); }),
              std::string(size_zero) + "Error allocating memory for variable stream_pointsource\n");
    EXPECT_EQ(rows.rows(), 3u);
    EXPECT_EQ(rows[3][0], nullptr);
    array_2d<int> pumps;
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(alloc_stream_pumps(pumps, 2, 4), 0); }), "");
    EXPECT_EQ(pumps[2][4], 0);
}

#ifndef NDEBUG
TEST_F(Arrays, IndexesAreRangeCheckedInDebugBuilds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    array_1d<double> a;
    ASSERT_EQ(alloc_1d_double(a, 5), 0);
    EXPECT_DEATH(a[6] = 1.0, "");
    array_2d<double> b;
    ASSERT_EQ(alloc_2d_double(b, 2, 3, "b"), 0);
    EXPECT_DEATH(b[3][0] = 1.0, "");
    EXPECT_DEATH(b[1][4] = 1.0, "");
    array_3d<double> c;
    ASSERT_EQ(alloc_3d_double(c, 1, 1, 1), 0);
    EXPECT_DEATH(c[1][2][0] = 1.0, "");
    array_1d<int> empty;
    EXPECT_DEATH(empty[0] = 1, "");
}
#endif

TEST_F(Arrays, CheckedArrayFlagsOutOfRangeAccess) {
    std::string out = capture_stdout([] {
        checked_array<double> a("OV_MASS_OUT");
        ASSERT_EQ(grow_double_array(a, 3, 1.5), 0);
        EXPECT_EQ(a.count(), 3u);
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(a[i], 1.5);
        EXPECT_FALSE(a.bad_range());
        a[0] = 99.0;  // lands in scratch, not in element 0
        EXPECT_TRUE(a.bad_range());
        a[4] = 98.0;
        EXPECT_EQ(a[4], 0.0);
        EXPECT_EQ(a.data()[0], 0.0);
        EXPECT_EQ(a.name(), "OV_MASS_OUT");
    });
    EXPECT_EQ(out, "Error: bad range addressed in array\n");

    out = capture_stdout([] {
        checked_array<int> fine("constituent_type");
        ASSERT_EQ(grow_int_array_fill(fine, 2, 7), 0);
        EXPECT_EQ(fine[2], 7);
        checked_array<int> flagged;
        flagged[-1] = 1;
        checked_array<double> other;
        other[1] = 1.0;
    });
    EXPECT_EQ(out, "Error: bad range addressed in array\nError: bad range addressed in array\n");

    out = capture_stdout([] {
        checked_array<double> a;
        a[5] = 1.0;
        free_checked_array(a);
        EXPECT_FALSE(a.bad_range());
        EXPECT_TRUE(a.empty());
    });
    EXPECT_EQ(out, "Error: bad range addressed in array\n");
}

TEST_F(Arrays, CheckedArrayGrowthKeepsOldValues) {
    checked_array<double> a;
    ASSERT_EQ(resize_double_array(a, 2), 0);
    a[1] = 1.0;
    a[2] = 2.0;
    ASSERT_EQ(grow_double_array(a, 3, -1.0), 0);
    EXPECT_EQ(a.count(), 5u);
    EXPECT_EQ(a[1], 1.0);
    EXPECT_EQ(a[2], 2.0);
    for (int i = 3; i <= 5; ++i) EXPECT_EQ(a[i], -1.0);
    checked_array<int> b;
    ASSERT_EQ(grow_int_array(b, 4), 0);
    EXPECT_EQ(b.count(), 4u);
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(grow_int_array(b, -2), -1); }),
              "Error: Attempting to allocate array of negative size -2\n");
    EXPECT_EQ(b.count(), 4u);
    EXPECT_FALSE(a.bad_range());
    EXPECT_FALSE(b.bad_range());
}

TEST_F(Arrays, DoubleTableGrowth) {
    double_table t;
    EXPECT_EQ(table_value(1, t), nullptr);
    // No column count yet and -1: the count stays 0 and rows hold one double.
    ASSERT_EQ(resize_row_table(t, -1, 2), 0);
    EXPECT_EQ(t.columns(), 0);
    EXPECT_EQ(t.rows(), 2);
    ASSERT_NE(table_value(2, t), nullptr);
    table_value(2, t)[0] = 4.0;

    double_table m;
    ASSERT_EQ(grow_double_matrix(m, 3, 2, 0.5), 0);
    EXPECT_EQ(m.columns(), 3);
    ASSERT_EQ(grow_double_matrix(m, -1, 1, 2.5), 0);
    EXPECT_EQ(m.rows(), 3);
    for (int j = 1; j <= 3; ++j) {
        EXPECT_EQ(table_value(1, m)[j], 0.5);
        EXPECT_EQ(table_value(2, m)[j], 0.5);
        EXPECT_EQ(table_value(3, m)[j], 2.5);
    }
    // The column count, once set, is fixed: a wider request fills only the row.
    ASSERT_EQ(grow_double_matrix(m, 8, 1, 9.0), 0);
    EXPECT_EQ(m.columns(), 3);
    EXPECT_EQ(table_value(4, m)[3], 9.0);
    EXPECT_EQ(table_value(0, m), nullptr);
    EXPECT_EQ(table_value(5, m), nullptr);
    EXPECT_TRUE(m.owns_row(4));

    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(resize_row_table(m, -1, -3), -1); }),
              "Error: Attempting to allocate array of negative size -3\n");
    EXPECT_EQ(m.rows(), 4);
    free_double_table(m);
    EXPECT_EQ(m.rows(), 0);
    EXPECT_EQ(table_value(1, m), nullptr);
}

TEST_F(Arrays, PointerTableRowsStayTheCallers) {
    double rows[11][4] = {};
    double *given[11] = {nullptr};
    for (int k = 1; k <= 10; ++k) {
        rows[k][1] = k;
        given[k] = rows[k];
    }
    {
        double_table t;
        ASSERT_EQ(grow_double_matrix(t, 3, 1, 1.0), 0);
        ASSERT_EQ(grow_pointer_table(t, 3, given), 0);
        EXPECT_EQ(t.rows(), 11);
        for (int k = 1; k <= 10; ++k) {
            EXPECT_EQ(table_value(k + 1, t), rows[k]);
            EXPECT_FALSE(t.owns_row(k + 1));
        }
        EXPECT_TRUE(t.owns_row(1));
    }
    // The table is gone; the caller's rows are untouched.
    EXPECT_EQ(rows[10][1], 10.0);
}

}  // namespace
