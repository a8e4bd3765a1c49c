// Grid partition balancing: the imbalance of a split worked by hand, and a split
// of a small mask into two parts checked against every possible split.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "model/calibration/calibration_services.h"
#include "model/calibration/partitions.h"
#include "model/framework_test_support.h"

namespace {

using frameworktest::capture_stdout;

class Partitions : public frameworktest::globals_reset {};

TEST_F(Partitions, ImbalanceByHandForTwoParts) {
    const double cells[] = {0, 3, 5, 2, 4};
    double work[5] = {};
    struct split_case {
        double w1, w2, imbalance;
    };
    // Equal weights: F = (0.5, 1); part 1 takes lines 1-2 (8 cells), part 2 lines
    // 3-4, of which line 4 does not count (2 cells): 8 - 2 = 6.
    // Weights 1 and 3: F = (0.25, 1); part 1 line 1 (3), part 2 lines 2-4 (7): 4.
    // Weights 3 and 1: F = (0.75, 1); part 1 lines 1-3 (10), part 2 line 4 (0): 10.
    for (const split_case c : {split_case{1, 1, 6}, split_case{1, 3, 4}, split_case{3, 1, 10}}) {
        const double w[] = {0, c.w1, c.w2};
        EXPECT_DOUBLE_EQ(partition_imbalance(w, 2, cells, work, 4), c.imbalance) << c.w1 << " " << c.w2;
        EXPECT_DOUBLE_EQ(std::max(work[1], work[2]) - std::min(work[1], work[2]), c.imbalance);
    }
    int parts[5] = {};
    const double w[] = {0, 1, 3};
    assign_partition_lines(w, 2, 4, parts);
    EXPECT_EQ(std::vector<int>(parts + 1, parts + 5), (std::vector<int>{1, 2, 2, 2}));
}

TEST_F(Partitions, OnePartDoesNothing) {
    array_2d<int> map;
    alloc_2d_int(map, 4, 4);
    map[1][1] = 1;
    setup_partitions(3, 1, 3, map);
    EXPECT_TRUE(parallel_layout.row_cell_counts.empty());
    EXPECT_TRUE(parallel_layout.row_split_flags.empty());
}

TEST_F(Partitions, TwoPartsSplitTheRowsAsEvenlyAsPossible) {
    // Rows of 1, 4, 4, 2, 3, 1 active cells in 6 rows x 4 columns (border around).
    const int counts[] = {0, 1, 4, 4, 2, 3, 1};
    const int rows = 6, cols = 4;
    array_2d<int> map;
    alloc_2d_int(map, rows + 1, cols + 1);
    int cell = 0;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= counts[r]; ++c) map[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = ++cell;
    parallel_layout.partition_count = 2;
    capture_stdout([&] { setup_partitions(cols, cell, rows, map); });

    parallel_layout_record &p = parallel_layout;
    for (int r = 1; r <= rows; ++r) EXPECT_DOUBLE_EQ(p.row_cell_counts[static_cast<std::size_t>(r)], counts[r]);
    EXPECT_DOUBLE_EQ(p.col_cell_counts[1], 6.0);
    EXPECT_DOUBLE_EQ(p.col_cell_counts[4], 2.0);

    // Rows 1..5 count (row 6 is the last line): loads 1, 4, 4, 2, 3. Part 1 takes
    // a first run of rows; the splits after row 2 or row 3 leave 5 against 9 (or 9
    // against 5), the best possible spread of 4. The row flags mark part 1.
    double first = 0.0, second = 0.0;
    for (int r = 1; r < rows; ++r) {
        const int k = map[static_cast<std::size_t>(r)][1];
        (p.row_split_flags[static_cast<std::size_t>(k)] == 1 ? first : second) += counts[r];
        for (int c = 2; c <= std::min(counts[r], cols - 1); ++c)
            EXPECT_EQ(p.row_split_flags[static_cast<std::size_t>(map[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)])],
                      p.row_split_flags[static_cast<std::size_t>(k)]);
    }
    EXPECT_DOUBLE_EQ(std::abs(first - second), 4.0);

    // Columns 1..3 count: 6, 4, 3 cells; column 1 alone against columns 2-3 (6
    // against 7) is the best split. The line array holds the columns' parts.
    EXPECT_EQ(p.line_ints[1], 1);
    EXPECT_EQ(p.line_ints[2], 2);
    EXPECT_EQ(p.line_ints[3], 2);
    for (int r = 1; r < rows; ++r)
        for (int c = 1; c < cols; ++c) {
            const int k = map[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
            if (k > 0) {
                EXPECT_EQ(p.col_split_flags[static_cast<std::size_t>(k)], c == 1 ? 1 : 0) << r << " " << c;
            }
        }
}

}  // namespace
