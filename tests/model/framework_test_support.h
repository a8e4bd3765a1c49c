// Shared helpers of the framework unit tests: capture of what a routine prints on
// standard output, and a guard that runs a test inside a scratch directory.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "model/core/globals.h"
#include "support/captured_output.h"
#include "support/run_program.h"

namespace frameworktest {

// Runs fn and returns everything it printed on standard output.
template <class F>
std::string capture_stdout(F &&fn) {
    return testsupport::printed(fn);
}

// Makes a fresh scratch directory the working directory for its lifetime.
class in_scratch_dir {
public:
    in_scratch_dir() : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir_.path());
    }
    ~in_scratch_dir() { std::filesystem::current_path(old_); }
    in_scratch_dir(const in_scratch_dir &) = delete;
    in_scratch_dir &operator=(const in_scratch_dir &) = delete;
    const testsupport::scratch_dir &dir() const { return dir_; }

private:
    testsupport::scratch_dir dir_;
    std::filesystem::path old_;
};

// Every test starts and ends with the process-wide records at their start state.
class globals_reset : public testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }
};

}  // namespace frameworktest
