// Test helpers shared by the unit tests: the text a routine prints on standard
// output or standard error, and a small DRELM map with 10 m cells.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace testsupport {

// Runs fn and returns everything it printed on standard output.
template <class F>
std::string printed(F &&fn) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Runs fn and returns everything it printed on standard error.
template <class F>
std::string printed_err(F &&fn) {
    std::fflush(stderr);
    testing::internal::CaptureStderr();
    fn();
    std::fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

// A DRELM map of rows x cols of 10 m cells with the south-west corner at (0, 0);
// `values` holds the rows of values after the header.
inline std::string map_text(int rows, int cols, const std::string &values) {
    char head[256];
    std::snprintf(head, sizeof head,
                  "north: %.1f\nsouth: 0.0\neast: %.1f\nwest: 0.0\nrows: %d\ncols: %d\n",
                  rows * 10.0, cols * 10.0, rows, cols);
    return head + values;
}

}  // namespace testsupport
