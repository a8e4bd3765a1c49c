// The process-wide records: what the end-of-run clean-up empties and what the
// full reset restores, so that a series of runs starts like separate processes.
#include <gtest/gtest.h>

#include "model/core/globals.h"
#include "tests/model/framework_test_support.h"

namespace {

class Globals : public frameworktest::globals_reset {};

TEST_F(Globals, StartState) {
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_TRUE(replace_param_list.empty());
    EXPECT_EQ(replace_params_on, 0);
    EXPECT_EQ(replace_line_index, 0);
    EXPECT_EQ(file_prefix_on, 0);
    EXPECT_EQ(file_prefix_number, 0);
    EXPECT_EQ(parallel_layout.process_rank, 0);
    EXPECT_EQ(parallel_layout.process_count, 1);
    EXPECT_EQ(parallel_layout.partition_count, 1);
    EXPECT_EQ(parallel_layout.montecarlo_divisor, 1);
    EXPECT_EQ(parallel_layout.suppress_output, 0);
    EXPECT_EQ(parallel_layout.log_file_number, 0);
}

TEST_F(Globals, EndOfRunEmptiesTheListsAndKeepsTheSwitches) {
    replace_param p;
    p.tag = "[A]";
    replace_param_list.push_back(p);
    replace_line_index = 4;
    replace_params_on = 1;
    file_prefix_on = 1;
    error_record.fatal = 1;
    clear_run_lists();
    EXPECT_TRUE(replace_param_list.empty());
    EXPECT_EQ(replace_line_index, 0);
    // The switch and the prefix stay set for the rest of a calibration series.
    EXPECT_EQ(replace_params_on, 1);
    EXPECT_EQ(file_prefix_on, 1);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(Globals, FullResetRestoresEverything) {
    replace_param p;
    p.tag = "[A]";
    replace_param_list.push_back(p);
    replace_params_on = 1;
    file_prefix_on = 1;
    file_prefix_number = 3;
    error_record.code = 59;
    error_record.fatal = 1;
    error_record.int1 = 8;
    error_record.text2[0] = 'x';
    parallel_layout.grid_rows = 10;
    ASSERT_EQ(alloc_1d_double(parallel_layout.line_doubles, 4), 0);
    reset_process_globals();
    EXPECT_TRUE(replace_param_list.empty());
    EXPECT_EQ(replace_params_on, 0);
    EXPECT_EQ(file_prefix_on, 0);
    EXPECT_EQ(file_prefix_number, 0);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(error_record.int1, 0);
    EXPECT_EQ(error_record.text2[0], '\0');
    EXPECT_EQ(parallel_layout.grid_rows, 0);
    EXPECT_TRUE(parallel_layout.line_doubles.empty());
}

}  // namespace
