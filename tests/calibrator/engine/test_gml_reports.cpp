// Tests of the GML progress reports: composite sensitivities by hand, the
// no-effect check, the sensitivity file sections, the iteration header and the
// parameter value file with its number forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/reports.h"
#include "engine_fixture.h"
#include "test_gml_problem.h"

using gml_test::file_text;
using gml_test::problem;

namespace {

struct sensitivity_case {
    problem p;
    double_matrix j;
    double_matrix prior;
    sensitivity_case() {
        p.parameter("a", 1.0, -10, 10);
        p.parameter("k", 1.0, -2, 2, "log");
        p.observation("o1", 0.0, 0.0, 1.0);
        p.observation("o2", 0.0, 0.0, 0.5);
        p.observation("o3", 0.0, 0.0, 0.0);
        j = dmatrix(1, 3, 1, 2);
        j(1, 1) = 1.0;
        j(2, 1) = 2.0;
        j(3, 1) = 100.0;  // weight 0: never counted
    }
    ~sensitivity_case() { free_dmatrix(j, 1, 3, 1, 2); }
};

}  // namespace

TEST(GmlSensitivity, CompositeSensitivityOverWeightedObservations) {
    sensitivity_case s;
    // sqrt((1 x 1)^2 + (0.5 x 2)^2) / 2 terms.
    EXPECT_NEAR(composite_sensitivity(s.p.cd, s.j, s.prior, 1, nullptr), std::sqrt(2.0) / 2.0, 1e-15);
    EXPECT_EQ(composite_sensitivity(s.p.cd, s.j, s.prior, 2, nullptr), 0.0);
    const std::string other = "none_here";
    EXPECT_EQ(composite_sensitivity(s.p.cd, s.j, s.prior, 1, &other), 0.0);
}

TEST(GmlSensitivity, ZeroColumnMeansNoEffectAndFreezesForTheUpgrade) {
    sensitivity_case s;
    std::FILE *record = std::tmpfile();
    testing::internal::CaptureStdout();
    check_parameter_effect(s.p.cd, s.j, s.prior, record);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.p.cd.parameters[1].frozen_for_upgrade, 0);
    EXPECT_EQ(s.p.cd.parameters[2].frozen_for_upgrade, 1);
    EXPECT_EQ(s.p.cd.frozen_for_upgrade_count, 1);
    EXPECT_EQ(file_text(record), "   Parameter \"k\" has no effect on observations.\n");
    EXPECT_EQ(out, "   Parameter \"k\" has no effect on observations.\n");
    std::fclose(record);
}

TEST(GmlSensitivity, SensitivityFileSections) {
    sensitivity_case s;
    observation_group_data empty;
    empty.group_name = "silent";
    s.p.cd.observation_groups.push_back(empty);
    s.p.cd.observation_group_count = 2;
    s.p.cd.observations[3].group = "silent";
    file_names names;
    names.case_name = "case1";
    std::FILE *f = std::tmpfile();
    testing::internal::CaptureStdout();
    check_parameter_effect(s.p.cd, s.j, s.prior, nullptr);
    testing::internal::GetCapturedStdout();
    write_sensitivities(s.p.cd, s.j, s.prior, names, 1, f, 0);
    const std::string during = file_text(f);
    EXPECT_EQ(during,
              "                        PARAMETER SENSITIVITIES: CASE case1\n\n\n"
              " OPTIMISATION ITERATION NO.\t1 ----->\n"
              " Parameter name    Group          Current value    Sensitivity       \n"
              "a\tgrp\t1.000000\t0.707107\n"
              "k\tgrp\t10.000000\t0.000000\n\n\n");
    write_sensitivities(s.p.cd, s.j, s.prior, names, 2, f, 1);
    const std::string all = file_text(f);
    const std::string completion = all.substr(during.size());
    EXPECT_EQ(completion.rfind(" OPTIMISATION ITERATION NO.\t2", 0), std::string::npos);
    EXPECT_NE(completion.find("                        COMPLETION OF OPTIMISATION PROCESS\n\n"),
              std::string::npos);
    EXPECT_NE(completion.find(" Composite sensitivities for observation group \"silent\" ----->\n\n"
                              "\n No observations/prior_info with non-zero weight belong to this group.\n\n"),
              std::string::npos)
        << completion;
    EXPECT_NE(completion.find(" Composite sensitivities for all observations/prior info ----->\n\n"
                              " Number of observations with non-zero weight =\t2\n"),
              std::string::npos);
    std::fclose(f);
}

TEST(GmlReports, IterationHeaderOfEstimation) {
    problem p;
    p.cd.observation_groups[1].group_phi = 2.5;
    std::FILE *f = std::tmpfile();
    write_iteration_header(f, p.cd, 3, 17, 0.0, 0.0, 2.5);
    EXPECT_EQ(file_text(f),
              "\nOPTIMIZATION ITERATION NO.\t\t\t\t: 3\n"
              "Model Calls so far\t\t\t\t\t: 17\n"
              "Starting objective function value for this iteration\t: 2.500000E+00\n"
              "Contribution to phi from observation group 'obsgrp'\t= 2.500000E+00\n\n");
    std::fclose(f);
    p.cd.mode = "cmaes";
    std::FILE *g = std::tmpfile();
    write_iteration_header(g, p.cd, 3, 17, 0.0, 0.0, 2.5);
    EXPECT_EQ(file_text(g), "");
    std::fclose(g);
}

TEST(GmlParameterValueFile, SixSignificantDigitsOrExponentForm) {
    EXPECT_EQ(parameter_value_text(0.5), "0.500000");
    EXPECT_EQ(parameter_value_text(0.1), "0.100000");
    EXPECT_EQ(parameter_value_text(123.456), "123.456000");
    EXPECT_EQ(parameter_value_text(-2.0), "-2.000000");
    EXPECT_EQ(parameter_value_text(0.0), "0.000000");
    EXPECT_EQ(parameter_value_text(1e-7), "1.000000E-07");
    EXPECT_EQ(parameter_value_text(-0.0123456), "-1.234560E-02");
    EXPECT_EQ(parameter_value_text(2.5e20), "2.500000E+20");
}

TEST(GmlParameterValueFile, RewriteIsCutToItsNewLength) {
    problem p;
    p.parameter("a", 1.0, -1e30, 1e30);
    p.parameter("b", 2.0, -1e30, 1e30, "log");
    testsupport::scratch_dir d;
    const std::string name = (d.path() / "case.par").string();
    std::FILE *f = std::fopen(name.c_str(), "w");
    ASSERT_NE(f, nullptr);
    write_parameter_value_file(f, p.cd, {0.0, 123456.5, 3.0});
    write_parameter_value_file(f, p.cd, {0.0, 1.5, 1.0});
    std::fclose(f);
    EXPECT_EQ(testsupport::read_file(name), "1.500000\n10.000000\n");
}
