// Helpers of the end-to-end tests of varnock: the straight-line case y = a + b x
// of tests/data/varnock_line with text replacements in its control file.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "support/run_program.h"

namespace varnock_e2e {

// Replaces the first `from` in `text` by `to`; fails the test when it is absent.
inline std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "no \"" << from << "\" in the control file";
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Copies the straight-line case into `d`; returns its control file text.
inline std::string line_case(const testsupport::scratch_dir &d) {
    d.copy_case("varnock_line");
    return d.read("line.pst");
}

inline bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

}  // namespace varnock_e2e
