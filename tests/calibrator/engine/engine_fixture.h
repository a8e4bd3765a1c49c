// Test helpers of the calibration engine: a fixture that runs each test inside a
// fresh working directory, a trap for the program ends of the stop file, and the
// control file of a small straight-line model y = a + b x.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/start_up_services.h"
#include "support/run_program.h"

namespace engine_test {

// Each test runs in its own scratch directory (the engine reads and writes files
// in the working directory) and without the reading pause.
class in_scratch_dir : public testing::Test {
protected:
    void SetUp() override {
        previous_dir_ = std::filesystem::current_path();
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        previous_pause_ = set_reading_pause_ms(0);
    }
    void TearDown() override {
        set_reading_pause_ms(previous_pause_);
        EXPECT_EQ(chdir(previous_dir_.c_str()), 0);
    }
    void write(const std::string &name, const std::string &text) const { dir_.write(name, text); }
    std::string read(const std::string &name) const { return dir_.read(name); }
    bool exists(const std::string &name) const { return dir_.exists(name); }

    testsupport::scratch_dir dir_;

private:
    std::filesystem::path previous_dir_;
    int previous_pause_ = 0;
};

struct program_end {
    int status;
};

[[noreturn]] inline void throw_program_end(int status) { throw program_end{status}; }

// Runs `action`; true when it ended the program through nr_exit, with the status.
template <typename Action>
bool ends_program(Action action, int &status) {
    nr_exit_handler previous = set_nr_exit_handler(throw_program_end);
    bool ended = false;
    try {
        action();
    } catch (const program_end &e) {
        ended = true;
        status = e.status;
    }
    set_nr_exit_handler(previous);
    return ended;
}

// The 39 control values with the given MODE, counts and iteration limit.
inline std::string control_section(const std::string &mode, int parameters, int observations,
                                   int parameter_groups, int priors, int observation_groups,
                                   int templates, int instructions, int max_iterations = 0) {
    return "* control data\n"
           "norestart " + mode + "\n" +
           std::to_string(parameters) + " " + std::to_string(observations) + " " +
           std::to_string(parameter_groups) + " " + std::to_string(priors) + " " +
           std::to_string(observation_groups) + "\n" +
           std::to_string(templates) + " " + std::to_string(instructions) +
           " single point 1 0 0\n"
           "5.0 2.0 0.3 0.03 10\n"
           "3.0 3.0 0.001 0\n"
           "0.1\n"
           "none " + std::to_string(max_iterations) + " 0.01 3 3 0.01 3\n"
           "1 1 1\n"
           "0 0 0.5 2 0.0\n";
}

// The straight-line model y = a + b x at x = 1, 2, 3: a shell script that reads
// model.in (written from model.tpl) and writes model.out (read by model.ins).
inline const char *line_model_script =
    "awk '/^a/ {a=$3} /^b/ {b=$3} END {for (x = 1; x <= 3; x++) printf \"y%d %.6f\\n\", x, a + b * x}' "
    "model.in > model.out\n";
inline const char *line_model_template = "ptf #\na = #a       #\nb = #b       #\n";
inline const char *line_model_instructions = "pif $\nl1 [y1]4:15\nl1 [y2]4:15\nl1 [y3]4:15\n";

// A whole control file for the straight-line model with a = 1 and b = 2.
inline std::string line_model_control(const std::string &mode = "estimation",
                                      const std::string &command = "sh model.sh") {
    return "pcf\n" + control_section(mode, 2, 3, 1, 0, 1, 1, 1) +
           "* parameter groups\n"
           "grp relative 0.01 0.0 switch 2.0 parabolic\n"
           "* parameter data\n"
           "a none relative 1.0 -10.0 10.0 grp 1.0 0.0 1\n"
           "b none relative 2.0 -10.0 10.0 grp 1.0 0.0 1\n"
           "* observation groups\n"
           "obsgrp\n"
           "* observation data\n"
           "y1 3.5 1.0 obsgrp\n"
           "y2 5.0 1.0 obsgrp\n"
           "y3 7.5 0.5 obsgrp\n"
           "* model command line\n" +
           command + "\n"
           "* model input/output\n"
           "model.tpl model.in\n"
           "model.ins model.out\n"
           "* prior information\n";
}

}  // namespace engine_test
