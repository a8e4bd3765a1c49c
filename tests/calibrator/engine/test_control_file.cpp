// Tests of the control file reader: the positional layout into control_data,
// "log" and tied parameters, prior information, and the refusal of bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibrator/engine/control_file.h"
#include "engine_fixture.h"

using engine_test::control_section;
using engine_test::in_scratch_dir;
using engine_test::line_model_control;

namespace {

// Reads `text`; returns the status and leaves what was printed in `printed`.
calib_status read_text(control_data &cd, const std::string &text, std::string &printed) {
    const int old = set_reading_pause_ms(0);
    testing::internal::CaptureStdout();
    const calib_status s = read_control_text(cd, text, "case.pst");
    printed = testing::internal::GetCapturedStdout();
    set_reading_pause_ms(old);
    return s;
}

// A control file with one group, the given parameter lines (and tie lines),
// one observation, and `tail` after the model input/output section.
std::string one_group_file(int parameters, const std::string &parameter_lines, int priors = 0,
                           const std::string &tail = "", const std::string &mode = "estimation") {
    return "pcf\n" + control_section(mode, parameters, 1, 1, priors, 1, 1, 1) +
           "* parameter groups\n"
           "grp relative 0.01 0.0 always_2 2.0 outside_pts\n"
           "* parameter data\n" +
           parameter_lines +
           "* observation groups\n"
           "obsgrp\n"
           "* observation data\n"
           "h1 1.5 2.0 obsgrp\n"
           "* model command line\n"
           "model\n"
           "* model input/output\n"
           "in.tpl in.dat\n"
           "out.ins out.dat\n" +
           tail;
}

}  // namespace

TEST(ControlFileLayout, ReadsEverySectionOfTheLineModel) {
    control_data cd;
    std::string printed;
    ASSERT_EQ(read_text(cd, line_model_control(), printed), 0) << printed;
    EXPECT_EQ(cd.first_line, "pcf\n");
    EXPECT_EQ(cd.control_header, "* control data\n");
    EXPECT_EQ(cd.restart_switch, "norestart");
    EXPECT_EQ(cd.mode, "estimation");
    EXPECT_EQ(cd.parameter_count, 2);
    EXPECT_EQ(cd.observation_count, 3);
    EXPECT_EQ(cd.parameter_group_count, 1);
    EXPECT_EQ(cd.prior_count, 0);
    EXPECT_EQ(cd.observation_group_count, 1);
    EXPECT_EQ(cd.template_count, 1);
    EXPECT_EQ(cd.instruction_count, 1);
    EXPECT_EQ(cd.precision_word, "single");
    EXPECT_EQ(cd.decimal_point_word, "point");
    EXPECT_DOUBLE_EQ(cd.lambda, 5.0);
    EXPECT_DOUBLE_EQ(cd.lambda_factor, 2.0);
    EXPECT_DOUBLE_EQ(cd.phi_ratio_sufficient, 0.3);
    EXPECT_DOUBLE_EQ(cd.phi_reduction_lambda, 0.03);
    EXPECT_EQ(cd.lambda_limit, 10);
    EXPECT_DOUBLE_EQ(cd.phi_reduction_switch, 0.1);
    EXPECT_EQ(cd.control_word_a, "none");
    EXPECT_EQ(cd.max_iterations, 0);
    EXPECT_DOUBLE_EQ(cd.phi_reduction_stop, 0.01);
    EXPECT_EQ(cd.phi_stop_count, 3);
    EXPECT_EQ(cd.no_reduction_count, 3);
    EXPECT_DOUBLE_EQ(cd.relative_change_stop, 0.01);
    EXPECT_EQ(cd.relative_change_count, 3);
    EXPECT_EQ(cd.partial_jacobian, 0);
    EXPECT_DOUBLE_EQ(cd.partial_jacobian_ratio, 0.5);
    EXPECT_EQ(cd.partial_jacobian_columns, 2);

    ASSERT_EQ(cd.parameter_groups.size(), 2u);
    EXPECT_EQ(cd.parameter_groups[1].group_name, "grp");
    EXPECT_EQ(cd.parameter_groups[1].derivative_form, "switch");
    EXPECT_EQ(cd.parameter_groups[1].derivative_method, "parabolic");
    EXPECT_DOUBLE_EQ(cd.parameter_groups[1].increment_multiplier, 2.0);

    ASSERT_EQ(cd.parameters.size(), 3u);
    EXPECT_EQ(cd.parameters[2].name, "b");
    EXPECT_EQ(cd.parameters[2].transform, "none");
    EXPECT_DOUBLE_EQ(cd.parameters[2].value, 2.0);
    EXPECT_DOUBLE_EQ(cd.parameters[2].lower_bound, -10.0);
    EXPECT_DOUBLE_EQ(cd.parameters[2].upper_bound, 10.0);
    EXPECT_EQ(cd.parameters[2].group, "grp");
    EXPECT_EQ(cd.parameters[2].derivative_command, 1);

    ASSERT_EQ(cd.observations.size(), 4u);
    EXPECT_EQ(cd.observations[3].name, "y3");
    EXPECT_DOUBLE_EQ(cd.observations[3].measured, 7.5);
    EXPECT_DOUBLE_EQ(cd.observations[3].weight, 0.5);
    EXPECT_EQ(cd.observations[3].group, "obsgrp");

    EXPECT_EQ(cd.model_command, "sh model.sh");
    EXPECT_EQ(cd.templates[1].template_name, "model.tpl");
    EXPECT_EQ(cd.templates[1].input_name, "model.in");
    EXPECT_EQ(cd.instruction_files[1].instruction_name, "model.ins");
    EXPECT_EQ(cd.instruction_files[1].output_name, "model.out");
}

TEST(ControlFileLayout, SingularValueSectionIsReadAndIgnored) {
    const std::string plain = line_model_control();
    std::string with_svd = plain;
    with_svd.insert(with_svd.find("* parameter groups"), "* singular value decomposition\n1\n5 5e-7\n1\n");
    control_data a;
    control_data b;
    std::string printed;
    ASSERT_EQ(read_text(a, plain, printed), 0) << printed;
    ASSERT_EQ(read_text(b, with_svd, printed), 0) << printed;
    EXPECT_EQ(b.svd_mode, 1);
    EXPECT_EQ(b.svd_max_singular, 5);
    EXPECT_DOUBLE_EQ(b.svd_eigen_threshold, 5e-7);
    EXPECT_EQ(a.parameter_groups[1].group_name, b.parameter_groups[1].group_name);
    EXPECT_EQ(a.parameters[2].name, b.parameters[2].name);
    EXPECT_EQ(a.observations[3].name, b.observations[3].name);
    EXPECT_EQ(a.model_command, b.model_command);
}

TEST(ControlFileLayout, ValuesMayBeSpreadOverLinesFreely) {
    std::string text = line_model_control();
    // Put every control value on a line of its own: the reader is positional.
    const std::size_t start = text.find("norestart");
    const std::size_t end = text.find("* parameter groups");
    std::string values = text.substr(start, end - start);
    for (char &c : values) {
        if (c == ' ') c = '\n';
    }
    text.replace(start, end - start, values);
    control_data cd;
    std::string printed;
    ASSERT_EQ(read_text(cd, text, printed), 0) << printed;
    EXPECT_EQ(cd.lambda_limit, 10);
    EXPECT_EQ(cd.partial_jacobian_columns, 2);
}

TEST(ControlFileParameters, LogParameterIsStoredAsLogarithms) {
    control_data cd;
    std::string printed;
    ASSERT_EQ(read_text(cd, one_group_file(1, "k log factor 100 1 1000 grp 1 0 1\n"), printed), 0)
        << printed;
    EXPECT_DOUBLE_EQ(cd.parameters[1].value, 2.0);
    EXPECT_DOUBLE_EQ(cd.parameters[1].lower_bound, 0.0);
    EXPECT_DOUBLE_EQ(cd.parameters[1].upper_bound, 3.0);
}

TEST(ControlFileParameters, BoundFlagsCompareStoredValuesExactly) {
    control_data cd;
    std::string printed;
    ASSERT_EQ(read_text(cd, one_group_file(3,
                                           "p1 none relative 5 1 5 grp 1 0 1\n"
                                           "p2 none relative 4 4 4 grp 1 0 1\n"
                                           "p3 none relative 3 1 5 grp 1 0 1\n"),
                        printed),
              0)
        << printed;
    EXPECT_EQ(cd.parameters[1].at_upper_bound, 1);
    EXPECT_EQ(cd.parameters[1].at_lower_bound, 0);
    EXPECT_EQ(cd.parameters[2].at_upper_bound, 1);
    EXPECT_EQ(cd.parameters[2].at_lower_bound, 1);
    EXPECT_EQ(cd.parameters[3].at_upper_bound, 0);
    EXPECT_EQ(cd.parameters[3].at_lower_bound, 0);
}

TEST(ControlFileParameters, TieLinesFollowTheParameterLinesInOrder) {
    control_data cd;
    std::string printed;
    ASSERT_EQ(read_text(cd, one_group_file(4,
                                           "p1 none relative 1 0 10 grp 1 0 1\n"
                                           "t1 tied relative 2 0 10 grp 1 0 1\n"
                                           "p2 log factor 10 1 100 grp 1 0 1\n"
                                           "t2 tied relative 3 0 10 grp 1 0 1\n"
                                           "anything p1\n"
                                           "t2 p2\n"),
                        printed),
              0)
        << printed;
    EXPECT_EQ(cd.parameters[2].tie_line_name, "anything");
    EXPECT_EQ(cd.parameters[2].parent_name, "p1");
    EXPECT_EQ(cd.parameters[4].parent_name, "p2");
    EXPECT_EQ(cd.observations[1].name, "h1");
}

TEST(ControlFilePrior, TermsFactorsSignsAndLogNames) {
    control_data cd;
    std::string printed;
    const std::string text = one_group_file(
        2, "p1 none relative 1 0 10 grp 1 0 1\np2 log factor 10 1 100 grp 1 0 1\n", 1,
        "* prior information\npi1 1.0 * p1 - 2.0 * log(p2) = 0.0 1.0 prior\n");
    ASSERT_EQ(read_text(cd, text, printed), 0) << printed;
    const prior_information_data &pi = cd.prior_information[1];
    EXPECT_EQ(pi.label, "pi1");
    EXPECT_EQ(pi.term_count, 2);
    EXPECT_DOUBLE_EQ(pi.factors[1], 1.0);
    EXPECT_DOUBLE_EQ(pi.factors[2], -2.0);
    EXPECT_EQ(pi.term_parameters[1], "p1");
    EXPECT_EQ(pi.term_parameters[2], "p2");
    EXPECT_DOUBLE_EQ(pi.prior_value, 0.0);
    EXPECT_DOUBLE_EQ(pi.weight, 1.0);
    EXPECT_EQ(pi.group, "prior");
}

TEST(ControlFilePrior, RegularisationValuesFollowThePriorLines) {
    control_data cd;
    std::string printed;
    const std::string text = one_group_file(
        1, "p1 none relative 1 0 10 grp 1 0 1\n", 2,
        "* prior information\n"
        "pi1 1.0 * p1 = 2.0 1.0 regul\n"
        "pi2 3.0 * p1 + 1.5 * p1 = 2.0 0.5 regul\n"
        "* regularisation\n"
        "1.0 1.05 0.1\n"
        "2.5 1e-10 1e10\n"
        "1.3 1e-2\n",
        "regularisation");
    ASSERT_EQ(read_text(cd, text, printed), 0) << printed;
    EXPECT_EQ(cd.prior_information[2].term_count, 2);
    EXPECT_DOUBLE_EQ(cd.prior_information[2].factors[2], 1.5);
    EXPECT_DOUBLE_EQ(cd.phi_measurement_limit, 1.0);
    EXPECT_DOUBLE_EQ(cd.weight_factor_initial, 2.5);
    EXPECT_DOUBLE_EQ(cd.weight_factor, 2.5);
    EXPECT_DOUBLE_EQ(cd.weight_factor_tolerance, 1e-2);
}

TEST(ControlFilePrior, WithoutPriorInformationTheTrailingSectionsMayBeAbsent) {
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, one_group_file(1, "p1 none relative 1 0 10 grp 1 0 1\n"), printed), 0)
        << printed;
    EXPECT_EQ(cd.prior_count, 0);
    EXPECT_DOUBLE_EQ(cd.weight_factor, 0.0);
}

TEST(ControlFileCommand, TheWholeTrimmedLineIsTheCommand) {
    control_data cd;
    std::string printed;
    std::string text = line_model_control("estimation", "  run model.bat  --fast \t");
    ASSERT_EQ(read_text(cd, text, printed), 0) << printed;
    EXPECT_EQ(cd.model_command, "run model.bat  --fast");
    EXPECT_EQ(cd.templates[1].template_name, "model.tpl");
}

TEST(ControlFileCounts, SectionsWithNoEntriesAreCrossed) {
    // No template or instruction files and no observation groups.
    const std::string text = "pcf\n" + control_section("estimation", 1, 0, 1, 0, 0, 0, 0) +
                             "* parameter groups\ng relative 0.01 0 always_2 2 parabolic\n"
                             "* parameter data\np none relative 1 0 2 g 1 0 1\n"
                             "* observation groups\n"
                             "* observation data\n"
                             "* model command line\nmodel\n"
                             "* model input/output\n"
                             "* prior information\n";
    control_data cd;
    std::string printed;
    ASSERT_EQ(read_text(cd, text, printed), 0) << printed;
    EXPECT_EQ(cd.model_command, "model");
    EXPECT_EQ(cd.observation_count, 0);
}

TEST(ControlFileRefusals, ConversionFailureNamesTheSection) {
    std::string text = line_model_control();
    text.replace(text.find("y2 5.0"), 6, "y2 five");
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, text, printed), 1);
    EXPECT_NE(printed.find("section \"observation data\""), std::string::npos) << printed;
    EXPECT_NE(printed.find("\"five\""), std::string::npos) << printed;
}

TEST(ControlFileRefusals, WholeNumbersMustBeWhole) {
    std::string text = line_model_control();
    text.replace(text.find("0.03 10"), 7, "0.03 1.5");
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, text, printed), 1);
    EXPECT_NE(printed.find("control value 19 (lambda_limit)"), std::string::npos) << printed;
}

TEST(ControlFileRefusals, NegativeCountsAreRefused) {
    const std::string text = "pcf\n" + control_section("estimation", 2, -3, 1, 0, 1, 1, 1);
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, text, printed), 1);
    EXPECT_NE(printed.find("observation_count"), std::string::npos) << printed;
    EXPECT_NE(printed.find("negative"), std::string::npos) << printed;
}

TEST(ControlFileRefusals, PartialJacobianSwitchesMustBeZeroOrOne) {
    std::string text = line_model_control();
    text.replace(text.find("0 0 0.5 2 0.0"), 13, "2 0 0.5 2 0.0");
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, text, printed), 1);
    EXPECT_NE(printed.find("partial_jacobian must be 0 or 1"), std::string::npos) << printed;
}

TEST(ControlFileRefusals, LambdaSettingsThatCannotBeUsedAreRefused) {
    const struct {
        const char *settings, *message;
    } cases[] = {
        {"-1 2.0", "lambda (value 15) must be 0 or more"},
        {"-1e308 2.0", "lambda (value 15) must be 0 or more"},
        {"-1e-320 2.0", "lambda (value 15) must be 0 or more"},
        {"5.0 1e-320", "lambda_factor (value 16) is too small to divide by"},
        // 5 x 1e308 overflows at the first raised lambda; 5 x 1e30^10 by the tenth.
        {"5.0 1e308", "would pass 1e300"},
        {"5.0 1e30", "would pass 1e300"},
    };
    for (const auto &c : cases) {
        std::string text = line_model_control();
        text.replace(text.find("5.0 2.0 0.3 0.03 10"), 7, c.settings);
        control_data cd;
        std::string printed;
        EXPECT_EQ(read_text(cd, text, printed), 1) << c.settings;
        EXPECT_NE(printed.find(c.message), std::string::npos) << c.settings << "\n" << printed;
    }
}

TEST(ControlFileRefusals, CountLargerThanTheLinesPresent) {
    std::string text = line_model_control();
    text.replace(text.find("2 3 1 0 1"), 9, "2 4 1 0 1");
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, text, printed), 1);
    EXPECT_NE(printed.find("section \"observation data\""), std::string::npos) << printed;
}

TEST(ControlFileRefusals, CountSmallerThanTheLinesPresent) {
    std::string text = line_model_control();
    text.replace(text.find("2 3 1 0 1"), 9, "2 2 1 0 1");
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, text, printed), 1);
    EXPECT_NE(printed.find("section \"model command line\""), std::string::npos) << printed;
    EXPECT_NE(printed.find("found \"y3 7.5 0.5 obsgrp\""), std::string::npos) << printed;
}

TEST(ControlFileRefusals, LogParameterNeedsPositiveValueAndBounds) {
    for (const char *line : {"k log factor 0 1 1000 grp 1 0 1\n", "k log factor 10 -1 1000 grp 1 0 1\n",
                             "k log factor 10 1 0 grp 1 0 1\n"}) {
        control_data cd;
        std::string printed;
        EXPECT_EQ(read_text(cd, one_group_file(1, line), printed), 1) << line;
        EXPECT_NE(printed.find("\"log\" parameter \"k\""), std::string::npos) << printed;
    }
}

TEST(ControlFileRefusals, AdjustableValueMustLieWithinItsBounds) {
    // A value outside its bounds, or bounds the wrong way round, would be
    // estimated outside the bounds; the log form is compared as stored.
    const char *const refused[] = {"k none factor 20 -10 10 grp 1 0 1\n",
                                   "k none factor -10.5 -10 10 grp 1 0 1\n",
                                   "k none factor 1 10 -10 grp 1 0 1\n",
                                   "k log factor 2000 1 1000 grp 1 0 1\n"};
    for (const char *line : refused) {
        control_data cd;
        std::string printed;
        EXPECT_EQ(read_text(cd, one_group_file(1, line), printed), 1) << line;
        EXPECT_NE(printed.find("section \"parameter data\""), std::string::npos) << printed;
        EXPECT_NE(printed.find("parameter \"k\""), std::string::npos) << printed;
    }
    // Fixed and tied parameters do not move by their own bounds.
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, one_group_file(3,
                                           "p1 none relative 5 1 10 grp 1 0 1\n"
                                           "p2 fixed relative 50 1 10 grp 1 0 1\n"
                                           "p3 tied relative 50 10 1 grp 1 0 1\n"
                                           "p3 p1\n"),
                        printed),
              0)
        << printed;
}

TEST(ControlFileRefusals, WordsOfHundredCharactersAreRefused) {
    const std::string long_name(100, 'n');
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, one_group_file(1, long_name + " none relative 1 0 10 grp 1 0 1\n"), printed),
              1);
    EXPECT_NE(printed.find("longer than 99 characters"), std::string::npos) << printed;
    const std::string ok_name(99, 'n');
    EXPECT_EQ(read_text(cd, one_group_file(1, ok_name + " none relative 1 0 10 grp 1 0 1\n"), printed),
              0)
        << printed;
}

TEST(ControlFileRefusals, PriorTermWithoutStar) {
    control_data cd;
    std::string printed;
    const std::string text =
        one_group_file(1, "p1 none relative 1 0 10 grp 1 0 1\n", 1,
                       "* prior information\npi1 1.0 p1 * 2 = 0.0 1.0 prior\n");
    EXPECT_EQ(read_text(cd, text, printed), 1);
    EXPECT_EQ(printed.rfind("Error reading prior information", 0), 0u) << printed;
}

TEST(ControlFileRefusals, PriorLineWithMoreThanTenTerms) {
    std::string line = "pi1";
    for (int t = 1; t <= 11; ++t) line += std::string(t == 1 ? " " : " + ") + "1.0 * p1";
    line += " = 0.0 1.0 prior\n";
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, one_group_file(1, "p1 none relative 1 0 10 grp 1 0 1\n", 1,
                                           "* prior information\n" + line),
                        printed),
              1);
    EXPECT_NE(printed.find("11 terms; at most 10"), std::string::npos) << printed;
}

TEST(ControlFileRefusals, PriorLabelAndLogForm) {
    control_data cd;
    std::string printed;
    const std::string label(24, 'L');
    EXPECT_EQ(read_text(cd, one_group_file(1, "p1 none relative 1 0 10 grp 1 0 1\n", 1,
                                           "* prior information\n" + label + " 1.0 * p1 = 0 1 prior\n"),
                        printed),
              1);
    EXPECT_NE(printed.find("longer than 23 characters"), std::string::npos) << printed;
    EXPECT_EQ(read_text(cd, one_group_file(1, "p1 none relative 1 0 10 grp 1 0 1\n", 1,
                                           "* prior information\npi 1.0 * log(p1 = 0 1 prior\n"),
                        printed),
              1);
    EXPECT_NE(printed.find("log(NAME)"), std::string::npos) << printed;
}

TEST(ControlFileRefusals, MissingPriorOrRegularisationSection) {
    control_data cd;
    std::string printed;
    EXPECT_EQ(read_text(cd, one_group_file(1, "p1 none relative 1 0 10 grp 1 0 1\n", 1), printed), 1);
    EXPECT_NE(printed.find("section \"prior information\""), std::string::npos) << printed;
    EXPECT_EQ(read_text(cd, one_group_file(1, "p1 none relative 1 0 10 grp 1 0 1\n", 1,
                                           "* prior information\npi1 1.0 * p1 = 2.0 1.0 regul\n", "regularization"),
                        printed),
              1);
    EXPECT_NE(printed.find("section \"regularisation\""), std::string::npos) << printed;
}

// A prior factor of 1e308 makes phi infinite (as a value or weight beyond
// 1e50 would); a negative weight factor would reverse the regularisation.
TEST(ControlFileRefusals, PriorFactorAndWeightFactorOutOfRange) {
    const struct {
        const char *prior, *regularisation, *message;
    } cases[] = {
        {"pi1 1e308 * p1 = 2.0 1.0 regul\n", "", "the factor of term 1 of prior information line 1"},
        {"pi1 1.0 * p1 - 1e51 * p1 = 2.0 1.0 regul\n", "", "term 2 of prior information line 1 (line 26) is 1e+51; values beyond 1e50"},
        {"pi1 1.0 * p1 = 2.0 1.0 regul\n", "* regularisation\n1 1 0.1\n-1 1e-10 1e10\n1.3 1e-2\n",
         "regularisation value 4 (initial weight factor) must be 0 or more"},
    };
    for (const auto &c : cases) {
        control_data cd;
        std::string printed;
        EXPECT_EQ(read_text(cd, one_group_file(1, "p1 none relative 1 0 10 grp 1 0 1\n", 1,
                                               std::string("* prior information\n") + c.prior + c.regularisation,
                                               "regularization"), printed), 1);
        EXPECT_NE(printed.find(c.message), std::string::npos) << c.message << "\n" << printed;
    }
}

class ControlFileOpening : public in_scratch_dir {};

TEST_F(ControlFileOpening, NameWithoutPointGetsPstAppended) {
    write("case1.pst", line_model_control());
    control_data cd;
    char program[] = "varnock";
    char argument[] = "case1";
    char *argv[] = {program, argument, nullptr};
    EXPECT_EQ(read_control_file(cd, 2, argv), 0);
    EXPECT_EQ(cd.parameter_count, 2);
}

TEST_F(ControlFileOpening, NameWithPointIsOpenedUnchanged) {
    write("run.old.pst", line_model_control());
    write("case1.dat", line_model_control("scemua"));
    control_data a;
    control_data b;
    char program[] = "varnock";
    char first[] = "run.old.pst";
    char second[] = "case1.dat";
    char *argv_a[] = {program, first, nullptr};
    char *argv_b[] = {program, second, nullptr};
    EXPECT_EQ(read_control_file(a, 2, argv_a), 0);
    EXPECT_EQ(read_control_file(b, 2, argv_b), 0);
    EXPECT_EQ(b.mode, "scemua");
}

TEST_F(ControlFileOpening, PointInADirectoryNameDoesNotCount) {
    write("dir.v2/case1.pst", line_model_control());
    control_data cd;
    char program[] = "varnock";
    char argument[] = "dir.v2/case1";
    char *argv[] = {program, argument, nullptr};
    EXPECT_EQ(read_control_file(cd, 2, argv), 0);
}

TEST_F(ControlFileOpening, MissingFileIsReportedOnTheErrorStream) {
    control_data cd;
    char program[] = "varnock";
    char argument[] = "nothere";
    char *argv[] = {program, argument, nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_control_file(cd, 2, argv), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot open nothere.pst \n");
}

TEST(ControlFileRefusals, CommandAndFilePairLinesLackingAWordNameTheirLine) {
    // one_group_file: line 21 holds the model command, 23 the template line and
    // 24 the instruction line.
    struct refused {
        const char *from;
        const char *to;
        const char *expected;
    };
    const refused cases[] = {
        {"model\n", "\n",
         "line 22 should hold the model command line but holds the section header \"* model input/output\""},
        {"in.tpl in.dat\n", "in.tpl\n",
         "line 23 (template line 1) names the template file \"in.tpl\" but no model input file"},
        {"out.ins out.dat\n", "out.ins\n",
         "line 24 (instruction line 1) names the instruction file \"out.ins\" but no model output file"},
        {"in.tpl in.dat\n", "in.tpl in.dat extra\n",
         "line 23 (template line 1) holds 3 words; it must name one template file and one model input file"},
        {"out.ins out.dat\n", "",
         "line 24 (instruction line 1) should name the instruction file and the model output file but is a "
         "section header"},
    };
    for (const refused &c : cases) {
        std::string text = one_group_file(1, "k none factor 1 0 2 grp 1 0 1\n", 0, "* prior information\n");
        text.replace(text.find(c.from), std::string(c.from).size(), c.to);
        control_data cd;
        std::string printed;
        EXPECT_EQ(read_text(cd, text, printed), 1) << c.to;
        EXPECT_NE(printed.find(c.expected), std::string::npos) << printed;
    }
}

TEST(ControlFileLayout, FilePairsMayStandAfterBlankLines) {
    std::string text = one_group_file(1, "k none factor 1 0 2 grp 1 0 1\n", 0, "* prior information\n");
    text.replace(text.find("out.ins out.dat\n"), 16, "\n  \r\n  out.ins   out.dat\r\n");
    control_data cd;
    std::string printed;
    ASSERT_EQ(read_text(cd, text, printed), 0) << printed;
    EXPECT_EQ(cd.templates[1].template_name, "in.tpl");
    EXPECT_EQ(cd.templates[1].input_name, "in.dat");
    EXPECT_EQ(cd.instruction_files[1].instruction_name, "out.ins");
    EXPECT_EQ(cd.instruction_files[1].output_name, "out.dat");
}
