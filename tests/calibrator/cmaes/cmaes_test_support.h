// Shared fixture of the CMA-ES tests: each test runs in its own temporary
// working directory (the optimiser writes its files there) with the fatal
// path turned into a catchable test object.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "calibrator/cmaes/cmaes_support.h"
#include "support/run_program.h"

namespace cmaes_test {

// Thrown by the test's exit handler in place of ending the process.
struct exit_called {
    int status;
};

inline void throwing_exit(int status) { throw exit_called{status}; }

class in_scratch_dir : public ::testing::Test {
protected:
    void SetUp() override {
        previous_dir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        previous_handler_ = set_cmaes_exit_handler(throwing_exit);
    }
    void TearDown() override {
        set_cmaes_exit_handler(previous_handler_);
        std::filesystem::current_path(previous_dir_);
    }
    void write(const std::string &name, const std::string &text) const { dir_.write(name, text); }
    std::string read(const std::string &name) const { return dir_.read(name); }
    bool exists(const std::string &name) const { return dir_.exists(name); }

    testsupport::scratch_dir dir_;

private:
    std::filesystem::path previous_dir_;
    cmaes_exit_handler previous_handler_ = nullptr;
};

}  // namespace cmaes_test

// Runs `statement`, which must end through the fatal path with status 1.
#define EXPECT_CMAES_FATAL(statement)                                          \
    do {                                                                       \
        int status_seen_ = -1;                                                 \
        try {                                                                  \
            statement;                                                         \
        } catch (const cmaes_test::exit_called &e) {                           \
            status_seen_ = e.status;                                           \
        }                                                                      \
        EXPECT_EQ(status_seen_, 1) << "expected the CMA-ES fatal path";        \
    } while (0)
