// Tests of the finite-difference Jacobian: the perturbation rules at and away
// from bounds, the rotating partial column list, the run count, and whole
// Jacobians of a shell model whose derivatives are known exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibrator/engine/control_file.h"
#include "calibrator/engine/instruction_files.h"
#include "calibrator/engine/jacobian.h"
#include "calibrator/engine/model_run.h"
#include "calibrator/engine/stop_tests.h"
#include "calibrator/engine/template_files.h"
#include "engine_fixture.h"
#include "test_gml_problem.h"

using gml_test::problem;

namespace {

parameter_data param(double value, double lower, double upper, const std::string &transform = "none") {
    parameter_data p;
    p.value = value;
    p.lower_bound = lower;
    p.upper_bound = upper;
    p.transform = transform;
    return p;
}

}  // namespace

TEST(GmlPerturbation, TwoPointStepsUpAndTurnsDownAtTheUpperBound) {
    EXPECT_DOUBLE_EQ(two_point_perturbation(param(5.0, 0.0, 10.0)), 5.05);
    EXPECT_DOUBLE_EQ(two_point_perturbation(param(5.0, 0.0, 5.02)), 4.95);
    parameter_data at_top = param(10.0, 9.95, 10.0);
    at_top.at_upper_bound = 1;
    EXPECT_DOUBLE_EQ(two_point_perturbation(at_top), 9.95);
    EXPECT_DOUBLE_EQ(two_point_perturbation(param(0.0, -1.0, 1.0)), 0.01);
}

TEST(GmlPerturbation, LogParameterStepsOnItsNativeValue) {
    EXPECT_DOUBLE_EQ(two_point_perturbation(param(2.0, 0.0, 3.0, "log")), std::log10(101.0));
    parameter_data at_top = param(2.0, 0.0, 2.0, "log");
    at_top.at_upper_bound = 1;
    EXPECT_DOUBLE_EQ(two_point_perturbation(at_top), std::log10(99.0));
}

TEST(GmlPerturbation, PerturbationNeverLeavesTightBounds) {
    // Up is blocked by the upper bound and one step down passes the lower one.
    const double p1 = two_point_perturbation(param(5.0, 4.99, 5.01));
    EXPECT_DOUBLE_EQ(p1, 4.99);
    double a = 0.0, b = 0.0;
    parameter_data tight = param(1.0, 0.995, 1.005);
    three_point_perturbations(tight, a, b);
    EXPECT_GE(a, 0.995);
    EXPECT_LE(a, 1.005);
    EXPECT_GE(b, 0.995);
    EXPECT_LE(b, 1.005);
}

TEST(GmlPerturbation, ThreePointPairs) {
    double p1 = 0.0, p2 = 0.0;
    three_point_perturbations(param(1.0, 0.0, 10.0), p1, p2);
    EXPECT_DOUBLE_EQ(p1, 1.01);
    EXPECT_DOUBLE_EQ(p2, 0.99);
    parameter_data top = param(1.0, 0.0, 1.0);
    top.at_upper_bound = 1;
    three_point_perturbations(top, p1, p2);
    EXPECT_DOUBLE_EQ(p1, 0.99);
    EXPECT_DOUBLE_EQ(p2, 0.98);
    parameter_data bottom = param(1.0, 1.0, 5.0);
    bottom.at_lower_bound = 1;
    three_point_perturbations(bottom, p1, p2);
    EXPECT_DOUBLE_EQ(p1, 1.01);
    EXPECT_DOUBLE_EQ(p2, 1.02);
    // Near the upper bound both points go down.
    three_point_perturbations(param(1.0, 0.0, 1.005), p1, p2);
    EXPECT_DOUBLE_EQ(p1, 0.99);
    EXPECT_DOUBLE_EQ(p2, 0.98);
}

TEST(GmlPartialJacobian, ColumnsRotateThroughTheAdjustableParameters) {
    problem p;
    for (const char *n : {"a", "b", "c", "d"}) p.parameter(n, 1, 0, 2);
    p.cd.partial_jacobian = 1;
    p.cd.partial_jacobian_columns = 2;
    EXPECT_FALSE(partial_jacobian_applies(p.cd, 1));
    EXPECT_TRUE(partial_jacobian_applies(p.cd, 2));
    int cursor = 0;
    auto it2 = partial_jacobian_column_list(p.cd, cursor);
    auto it3 = partial_jacobian_column_list(p.cd, cursor);
    auto it4 = partial_jacobian_column_list(p.cd, cursor);
    EXPECT_EQ(it2, (std::vector<int>{-999, 1, 2}));
    EXPECT_EQ(it3, (std::vector<int>{-999, 3, 4}));
    EXPECT_EQ(it4, (std::vector<int>{-999, 1, 2}));
    // The conditional form applies only while phi_ratio is at or below the ratio.
    p.cd.partial_jacobian_conditional = 1;
    p.cd.partial_jacobian_ratio = 0.5;
    p.cd.phi_ratio = 0.6;
    EXPECT_FALSE(partial_jacobian_applies(p.cd, 3));
    p.cd.phi_ratio = 0.5;
    EXPECT_TRUE(partial_jacobian_applies(p.cd, 3));
}

TEST(GmlPartialJacobian, RunCountByDerivativeForm) {
    problem p("switch");
    for (const char *n : {"a", "b", "c"}) p.parameter(n, 1, 0, 2);
    int count = 0;
    count_jacobian_runs(p.cd, 0, {}, 1, count);
    EXPECT_EQ(count, 3);
    count_jacobian_runs(p.cd, 1, {}, 1, count);
    EXPECT_EQ(count, 6);
    count_jacobian_runs(p.cd, 0, {-999, 2}, 2, count);
    EXPECT_EQ(count, 1);
}

namespace {

// y_k = a + b x_k + c x_k^2 + d^2 at x = 1, 2, 3 with c tied to a (c = 2 a). Every run's
// model.in is appended to inputs.log.
class GmlJacobianRuns : public engine_test::in_scratch_dir {
protected:
    void set_up_case(const std::string &form, const std::string &method, double d_value,
                     double d_lower, double d_upper) {
        write("model.sh",
              "cat model.in >> inputs.log\n"
              "awk '{v[$1]=$2} END {for (x = 1; x <= 3; x++) printf \"%.15g\\n\", "
              "v[\"a\"] + v[\"b\"] * x + v[\"c\"] * x * x + v[\"d\"] * v[\"d\"]}' model.in > model.out\n");
        write("model.tpl", "ptf #\na #a   #\nb #b   #\nc #c   #\nd #d   #\n");
        write("model.ins", "pif $\nl1 !y1!\nl1 !y2!\nl1 !y3!\n");
        const std::string text =
            "pcf\n" + engine_test::control_section("estimation", 4, 3, 1, 0, 1, 1, 1, 1) +
            "* parameter groups\n"
            "grp relative 0.01 0.0 " + form + " 2.0 " + method + "\n"
            "* parameter data\n"
            "a none relative 1.0 -10.0 10.0 grp 1.0 0.0 1\n"
            "b none relative 2.0 -10.0 10.0 grp 1.0 0.0 1\n"
            "c tied relative 2.0 -10.0 10.0 grp 1.0 0.0 1\n"
            "d none relative " + std::to_string(d_value) + " " + std::to_string(d_lower) + " " +
            std::to_string(d_upper) + " grp 1.0 0.0 1\n"
            "c a\n"
            "* observation groups\nobsgrp\n* observation data\n"
            "y1 1.0 1.0 obsgrp\ny2 1.0 1.0 obsgrp\ny3 1.0 1.0 obsgrp\n"
            "* model command line\nsh model.sh\n"
            "* model input/output\nmodel.tpl model.in\nmodel.ins model.out\n"
            "* prior information\n";
        ASSERT_EQ(read_control_text(cd, text, "case.pst"), 0);
        ASSERT_EQ(open_template_files(cd, templates), 0);
        ASSERT_EQ(scan_template_files(cd, templates), 0);
        ASSERT_EQ(open_instruction_files(cd, instructions), 0);
        ASSERT_EQ(count_parameter_kinds(cd), 0);
        ASSERT_EQ(set_tie_ratios(cd), 0);
        adjustable = ivector(1, cd.adjustable_count);
        list_adjustable_parameters(cd, adjustable);
        jacobian = dmatrix(1, 3, 1, cd.adjustable_count);
        for (int k = 1; k <= 3; ++k) {
            for (int c = 1; c <= cd.adjustable_count; ++c) jacobian(k, c) = -1.0;
        }
        ASSERT_EQ(run_model_once(cd, names, 0, templates, instructions, false), 0);
        std::remove("inputs.log");
    }
    void TearDown() override {
        close_template_files(cd, templates);
        close_instruction_files(cd, instructions);
        free_dmatrix(jacobian, 1, 3, 1, cd.adjustable_count);
        free_ivector(adjustable, 1, cd.adjustable_count);
        in_scratch_dir::TearDown();
    }
    calib_status jacobian_of(int switched = 0) {
        int cursor = 0;
        return calculate_jacobian(cd, adjustable, names, jacobian, calls, switched, templates,
                                  instructions, 1, cursor);
    }

    control_data cd;
    file_names names;
    template_file_table templates;
    instruction_file_table instructions;
    int_vector adjustable;
    double_matrix jacobian;
    int calls = 0;
};

}  // namespace

TEST_F(GmlJacobianRuns, TwoPointDerivativesOfALinearModelAreExact) {
    set_up_case("always_2", "outside_pts", 3.0, -10.0, 10.0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(jacobian_of(), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls, 3);
    EXPECT_NE(out.find("Calculating Jacobian matrix: running model 3 times ...\n"), std::string::npos);
    EXPECT_NE(out.find("3 runs completed.\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b"), std::string::npos);
    for (int k = 1; k <= 3; ++k) {
        const double x = k;
        // Column 1 is a, which carries its tied c = 2 a: dy/da = 1 + 2 x^2.
        EXPECT_NEAR(jacobian(k, 1), 1.0 + 2.0 * x * x, 1e-6);
        EXPECT_NEAR(jacobian(k, 2), x, 1e-6);
        // d^2 forward-differenced with step 0.03 from 3: 2 d + 0.03.
        EXPECT_NEAR(jacobian(k, 3), 6.03, 1e-6);
    }
}

// The model reads b with 8 digits: 2.0000000496 goes out as 2.0000000E+00 and
// its 1 % step 2.0200000501 as 2.0200001E+00, so the slope x needs the written
// change 0.0200001 (the unrounded 0.0200000005 would give x times 1.000005).
TEST_F(GmlJacobianRuns, DerivativesDivideByTheChangeTheModelReceived) {
    set_up_case("always_2", "outside_pts", 3.0, -10.0, 10.0);
    cd.parameters[2].value = 2.0000000496;
    testing::internal::CaptureStdout();
    EXPECT_EQ(jacobian_of(), 0);
    testing::internal::GetCapturedStdout();
    for (int k = 1; k <= 3; ++k) EXPECT_NEAR(jacobian(k, 2), k, 1e-9 * k);
}

TEST_F(GmlJacobianRuns, TiedParameterIsWrittenWithItsPerturbedParent) {
    set_up_case("always_2", "outside_pts", 3.0, -10.0, 10.0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(jacobian_of(), 0);
    testing::internal::GetCapturedStdout();
    const std::string log = read("inputs.log");
    // The first run perturbs a from 1 to 1.01; c = 2 a follows to 2.02.
    EXPECT_EQ(log.substr(0, log.find("d ")),
              "a 1.0100000E+00\nb 2.0000000E+00\nc 2.0200000E+00\n");
}

TEST_F(GmlJacobianRuns, ParabolicIsExactForAQuadraticWhereOutsidePointsAreNot) {
    // d sits on its upper bound 3: both points lie below it (2.97, 2.94).
    set_up_case("always_3", "parabolic", 3.0, -10.0, 3.0);
    cd.parameters[4].at_upper_bound = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(jacobian_of(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls, 6);
    EXPECT_NEAR(jacobian(2, 3), 6.0, 1e-6);
    // The same with outside points: the chord slope (2.97 + 2.94).
    cd.parameter_groups[1].derivative_method = "outside_pts";
    testing::internal::CaptureStdout();
    EXPECT_EQ(jacobian_of(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_NEAR(jacobian(2, 3), 5.91, 1e-6);
}

TEST_F(GmlJacobianRuns, SwitchGroupsUseThreePointsOnceSwitched) {
    set_up_case("switch", "outside_pts", 3.0, -10.0, 10.0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(jacobian_of(1), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls, 6);
    EXPECT_NEAR(jacobian(1, 3), 6.0, 1e-6);  // central difference of d^2
}

TEST_F(GmlJacobianRuns, BestFitMethodIsRefused) {
    set_up_case("always_3", "best_fit", 3.0, -10.0, 10.0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(jacobian_of(), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("The varnock does not support the 'best_fit' method\n"
                       "of three point derivatives calculation.\n\n"),
              std::string::npos);
    EXPECT_EQ(calls, 0);
}

TEST_F(GmlJacobianRuns, ParameterPinnedBetweenEqualBoundsGetsAZeroColumn) {
    set_up_case("always_2", "outside_pts", 0.0, 0.0, 0.0);
    cd.parameters[4].at_upper_bound = 1;
    cd.parameters[4].at_lower_bound = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(jacobian_of(), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Warning: parameter \"d\" cannot be perturbed within its bounds"),
              std::string::npos)
        << out;
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(jacobian(k, 3), 0.0);
        EXPECT_TRUE(std::isfinite(jacobian(k, 1)));
    }
}
