// Test helper: turns the numerical library's process end into a C++ exception
// so that fatal paths can be checked in-process, and captures what they print.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "calibrator/engine/numeric/nr_arrays.h"

namespace numeric_test {

struct fatal_exit {
    int status;
};

[[noreturn]] inline void throw_fatal_exit(int status) { throw fatal_exit{status}; }

// Runs `action`, which must end through nr_exit. Returns true when it did, with
// its exit status and everything it wrote to the error stream.
template <typename Action>
bool ends_fatally(Action action, int &status, std::string &error_text) {
    nr_exit_handler previous = set_nr_exit_handler(throw_fatal_exit);
    bool ended = false;
    testing::internal::CaptureStderr();
    try {
        action();
    } catch (const fatal_exit &e) {
        ended = true;
        status = e.status;
    }
    error_text = testing::internal::GetCapturedStderr();
    set_nr_exit_handler(previous);
    return ended;
}

// The three lines that nr_error writes for `message`.
inline std::string nr_error_text(const std::string &message) {
    return "Numerical Recipes run-time error...\n" + message + "\n...now exiting to system...\n";
}

}  // namespace numeric_test
