// Tests of the restart file: an exact round trip of every item, the partial
// Jacobian settings taken from the file, and the refusal of missing, damaged
// and out-of-range files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "calibrator/engine/restart.h"
#include "engine_fixture.h"
#include "test_gml_problem.h"

using engine_test::ends_program;
using gml_test::problem;

namespace {

// The driver's quantities for a problem of 2 adjustable parameters, 3
// observations and 1 prior equation, with values that "%.6f" would not keep.
class GmlRestartFile : public engine_test::in_scratch_dir {
protected:
    void SetUp() override {
        in_scratch_dir::SetUp();
        p.parameter("a", 0.1, -10, 10);
        p.parameter("f", 1.0 / 3.0, -10, 10, "fixed");
        p.parameter("b", -2.5e17, -1e30, 1e30);
        for (int k = 1; k <= 3; ++k) {
            observation_data &o = p.observation(gml_test::numbered("o", k), 1.0, 1e-300 * k);
            o.model_value[1] = std::sqrt(2.0) * k;
        }
        p.cd.prior_information.push_back(prior_information_data{});
        p.cd.prior_count = 1;
        p.cd.max_iterations = 5;
        p.cd.partial_jacobian = 1;
        p.cd.partial_jacobian_ratio = 0.123456789012345678;
        p.cd.partial_jacobian_columns = 1;
        p.cd.lambda = std::acos(-1.0);
        p.cd.observation_groups[1].group_phi = 7.0 / 9.0;
        names.restart_name = "case.rst";
        allocate();
        for (int k = 1; k <= 4; ++k) {
            for (int c = 1; c <= 2; ++c) {
                jacobian(k, c) = k * 0.1 + c / 7.0;
                best(k, c) = -k * 1e-20 - c;
            }
        }
        iteration = 3;
        phi = 0.3;
        history[1] = 10.0 / 3.0;
        history[2] = 1.1;
        best_values = {0.0, 0.2, 1.0 / 3.0, 3e-12};
        for (int k = 1; k <= 3; ++k) best_model[k] = k / 3.0;
        best_phi = 1e-7 / 3.0;
        best_iteration = 1;
        switched = 1;
        largest = 0.0625;
        small = 2;
        last = 1e-9;
        base[1] = 0.7;
        base[2] = -0.7;
        calls = 41;
    }
    void TearDown() override {
        free_dmatrix(jacobian, 1, 4, 1, 2);
        free_dmatrix(best, 1, 4, 1, 2);
        free_dvector(history, 1, 5);
        free_dvector(best_model, 1, 3);
        free_dvector(base, 1, 2);
        in_scratch_dir::TearDown();
    }
    void allocate() {
        jacobian = dmatrix(1, 4, 1, 2);
        best = dmatrix(1, 4, 1, 2);
        history = dvector(1, 5);
        best_model = dvector(1, 3);
        base = dvector(1, 2);
    }
    restart_state state() {
        restart_state s;
        s.jacobian = &jacobian;
        s.best_jacobian = &best;
        s.iteration = &iteration;
        s.phi = &phi;
        s.phi_history = &history;
        s.best_values = &best_values;
        s.best_model_values = &best_model;
        s.best_phi = &best_phi;
        s.best_iteration = &best_iteration;
        s.switched = &switched;
        s.largest_relative_change = &largest;
        s.small_change_count = &small;
        s.last_relative_change = &last;
        s.base_values = &base;
        s.model_calls = &calls;
        s.jacobian_rows = 4;
        return s;
    }

    problem p;
    file_names names;
    double_matrix jacobian, best;
    double_vector history, best_model, base;
    std::vector<double> best_values;
    int iteration = 0, best_iteration = 0, switched = 0, small = 0, calls = 0;
    double phi = 0, best_phi = 0, largest = 0, last = 0;
};

}  // namespace

TEST_F(GmlRestartFile, EveryItemReadsBackExactly) {
    restart_state s = state();
    ASSERT_EQ(write_restart_file(s, p.cd, names), 0);
    // Item 7 holds the iteration counter and item 9 as many phis.
    const std::string text = read("case.rst");
    EXPECT_EQ(text.rfind("1\n0\n0.12345678901234568\n1\n", 0), 0u) << text;

    const control_data saved = p.cd;
    std::vector<double> expected_j;
    for (int k = 1; k <= 4; ++k) {
        for (int c = 1; c <= 2; ++c) {
            expected_j.push_back(jacobian(k, c));
            expected_j.push_back(best(k, c));
        }
    }
    const double expected_phi = phi, expected_best_phi = best_phi, expected_last = last;
    const std::vector<double> expected_best = best_values;
    // Clear everything, then read.
    for (int k = 1; k <= 4; ++k) {
        for (int c = 1; c <= 2; ++c) jacobian(k, c) = best(k, c) = 0.0;
    }
    phi = best_phi = last = largest = 0.0;
    iteration = best_iteration = switched = small = calls = 0;
    best_values.assign(4, 0.0);
    p.cd.partial_jacobian = 0;
    p.cd.partial_jacobian_ratio = 0.0;
    p.cd.lambda = 0.0;
    for (int k = 1; k <= 3; ++k) p.cd.observations[k].model_value = {0, 0, 0};
    p.cd.parameters[3].value = 0.0;
    p.cd.observation_groups[1].group_phi = 0.0;
    history[1] = history[2] = 0.0;

    ASSERT_EQ(read_restart_file(s, p.cd, names), 0);
    std::size_t i = 0;
    for (int k = 1; k <= 4; ++k) {
        for (int c = 1; c <= 2; ++c) {
            EXPECT_EQ(jacobian(k, c), expected_j[i++]);
            EXPECT_EQ(best(k, c), expected_j[i++]);
        }
    }
    EXPECT_EQ(iteration, 3);
    EXPECT_EQ(phi, expected_phi);
    EXPECT_EQ(history[1], 10.0 / 3.0);
    EXPECT_EQ(history[2], 1.1);
    EXPECT_EQ(best_values, expected_best);
    EXPECT_EQ(best_model[3], 1.0);
    EXPECT_EQ(best_phi, expected_best_phi);
    EXPECT_EQ(best_iteration, 1);
    EXPECT_EQ(switched, 1);
    EXPECT_EQ(largest, 0.0625);
    EXPECT_EQ(small, 2);
    EXPECT_EQ(last, expected_last);
    EXPECT_EQ(base[2], -0.7);
    EXPECT_EQ(calls, 41);
    EXPECT_EQ(p.cd.partial_jacobian, 1);
    EXPECT_EQ(p.cd.partial_jacobian_ratio, saved.partial_jacobian_ratio);
    EXPECT_EQ(p.cd.lambda, saved.lambda);
    EXPECT_EQ(p.cd.observations[2].model_value[0], 2e-300);
    EXPECT_EQ(p.cd.observations[2].model_value[1], std::sqrt(2.0) * 2);
    EXPECT_EQ(p.cd.parameters[3].value, -2.5e17);
    EXPECT_EQ(p.cd.observation_groups[1].group_phi, 7.0 / 9.0);
}

TEST_F(GmlRestartFile, MissingFileIsAFailure) {
    restart_state s = state();
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_restart_file(s, p.cd, names), 1);
    EXPECT_EQ(read_restart_file_regularised(s, p.cd, names), 1);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(out.size() % 2, 0u);
    EXPECT_EQ(out.substr(0, out.size() / 2), out.substr(out.size() / 2));
    out = out.substr(0, out.size() / 2);
    EXPECT_EQ(out, "\n\nError opening the restart file.\nPossibly previous run was not halted prematurely.\n\n");
}

TEST_F(GmlRestartFile, DamagedOrForeignFilesAreRefused) {
    restart_state s = state();
    ASSERT_EQ(write_restart_file(s, p.cd, names), 0);
    const std::string good = read("case.rst");
    testing::internal::CaptureStdout();
    write("case.rst", good.substr(0, good.size() - 4));
    EXPECT_EQ(read_restart_file(s, p.cd, names), 1);
    write("case.rst", "1\n0\nnot-a-number\n");
    EXPECT_EQ(read_restart_file(s, p.cd, names), 1);
    // The iteration counter must lie within the iteration limit.
    p.cd.max_iterations = 2;
    write("case.rst", good);
    EXPECT_EQ(read_restart_file(s, p.cd, names), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("The restart file case.rst cannot be used"), std::string::npos);
    EXPECT_NE(out.find("holds iteration 3"), std::string::npos);
}
