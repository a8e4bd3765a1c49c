// Tests of one model run and its objective functions: measurement phi by hand,
// prior information and regularisation phi, the model command, and the stop file.
#include <gtest/gtest.h>

#include <cstdlib>

#include <string>

#include "calibrator/engine/control_file.h"
#include "calibrator/engine/instruction_files.h"
#include "calibrator/engine/model_run.h"
#include "calibrator/engine/template_files.h"
#include "engine_fixture.h"

using engine_test::ends_program;
using engine_test::in_scratch_dir;

namespace {

observation_data observation(const std::string &name, double measured, double model, double weight,
                             const std::string &group) {
    observation_data o;
    o.name = name;
    o.measured = measured;
    o.model_value = {model, model, model};
    o.weight = weight;
    o.group = group;
    return o;
}

control_data with_groups(std::initializer_list<const char *> groups) {
    control_data cd;
    cd.observation_groups.assign(1, observation_group_data{});
    for (const char *g : groups) {
        observation_group_data grp;
        grp.group_name = g;
        grp.group_phi = 123.0;  // stale value that every computation must replace
        cd.observation_groups.push_back(grp);
    }
    cd.observation_group_count = static_cast<int>(groups.size());
    cd.observations.assign(1, observation_data{});
    cd.parameters.assign(1, parameter_data{});
    cd.prior_information.assign(1, prior_information_data{});
    return cd;
}

void add(control_data &cd, const observation_data &o) {
    cd.observations.push_back(o);
    cd.observation_count = static_cast<int>(cd.observations.size()) - 1;
}

}  // namespace

TEST(MeasurementPhi, WeightsApplyToTheResidualBeforeSquaring) {
    control_data cd = with_groups({"obs1"});
    add(cd, observation("a", 10.0, 11.0, 1.0, "obs1"));
    add(cd, observation("b", 20.0, 18.0, 0.5, "obs1"));
    double phi = -1.0;
    EXPECT_EQ(measurement_phi(cd, 0, phi), 0);
    EXPECT_DOUBLE_EQ(cd.observation_groups[1].group_phi, 2.0);
    EXPECT_DOUBLE_EQ(phi, 2.0);
}

TEST(MeasurementPhi, ZeroWeightAndUnknownGroupContributeNothing) {
    control_data cd = with_groups({"g1", "g2"});
    add(cd, observation("a", 1.0, 4.0, 2.0, "g1"));        // (3 x 2)^2 = 36
    add(cd, observation("b", 1.0, 100.0, 0.0, "g1"));      // weight 0
    add(cd, observation("c", 5.0, 4.0, 3.0, "g2"));        // 9
    add(cd, observation("d", 5.0, 4.0, 3.0, "nogroup"));   // no such group
    double phi = 0.0;
    measurement_phi(cd, 0, phi);
    EXPECT_DOUBLE_EQ(cd.observation_groups[1].group_phi, 36.0);
    EXPECT_DOUBLE_EQ(cd.observation_groups[2].group_phi, 9.0);
    EXPECT_DOUBLE_EQ(phi, 45.0);
}

TEST(MeasurementPhi, KindOneUsesTheTrialValuesAndKindTwoAddsNothing) {
    control_data cd = with_groups({"g"});
    add(cd, observation("a", 1.0, 1.0, 1.0, "g"));
    cd.observations[1].model_value[1] = 3.0;
    double phi = 0.0;
    measurement_phi(cd, 1, phi);
    EXPECT_DOUBLE_EQ(phi, 4.0);
    EXPECT_DOUBLE_EQ(cd.observations[1].model_value[0], 1.0);
    measurement_phi(cd, 2, phi);
    EXPECT_DOUBLE_EQ(phi, 0.0);
    EXPECT_DOUBLE_EQ(cd.observation_groups[1].group_phi, 0.0);
}

namespace {

// One adjustable parameter p1 at 3 and the prior equation 1.0 x p1 = 2 of
// weight 1 in group "regul".
control_data prior_problem(double_matrix &prior) {
    control_data cd = with_groups({"obs", "regul"});
    add(cd, observation("o", 1.0, 2.0, 1.0, "obs"));
    parameter_data p;
    p.name = "p1";
    p.transform = "none";
    p.value = 3.0;
    cd.parameters.push_back(p);
    cd.parameter_count = 1;
    cd.adjustable_count = 1;
    prior_information_data pi;
    pi.label = "pi1";
    pi.term_count = 1;
    pi.factors = {0.0, 1.0};
    pi.term_parameters[1] = "p1";
    pi.prior_value = 2.0;
    pi.weight = 1.0;
    pi.group = "regul";
    cd.prior_information.push_back(pi);
    cd.prior_count = 1;
    prior = dmatrix(1, 1, 1, 1);
    prior(1, 1) = 1.0;
    return cd;
}

}  // namespace

TEST(PriorPhi, EstimationAddsToTheGroupAndTheResult) {
    double_matrix prior;
    control_data cd = prior_problem(prior);
    double phi = 0.0;
    measurement_phi(cd, 0, phi);
    double prior_phi = 0.0;
    EXPECT_EQ(prior_information_phi(cd, prior, prior_phi), 0);
    EXPECT_DOUBLE_EQ(prior_phi, 1.0);
    EXPECT_DOUBLE_EQ(cd.observation_groups[2].group_phi, 1.0);
    EXPECT_DOUBLE_EQ(cd.observation_groups[1].group_phi, 1.0);
    free_dmatrix(prior, 1, 1, 1, 1);
}

TEST(PriorPhi, RegularisationCarriesTheWeightFactorInTheGroup) {
    double_matrix prior;
    control_data cd = prior_problem(prior);
    cd.weight_factor = 2.0;
    double phi = 0.0;
    measurement_phi(cd, 0, phi);
    double regul = 0.0;
    EXPECT_EQ(regularisation_phi(cd, prior, regul), 0);
    EXPECT_DOUBLE_EQ(regul, 1.0);
    EXPECT_DOUBLE_EQ(cd.observation_groups[2].group_phi, 4.0);
    EXPECT_DOUBLE_EQ(cd.observation_groups[1].group_phi, 1.0);
    free_dmatrix(prior, 1, 1, 1, 1);
}

TEST(PriorPhi, LogParametersEnterWithTheirLogarithm) {
    double_matrix prior;
    control_data cd = prior_problem(prior);
    cd.parameters[1].transform = "log";
    cd.parameters[1].value = 1.0;  // 10 natively
    double result = 0.0;
    prior_information_phi(cd, prior, result);
    EXPECT_DOUBLE_EQ(result, 1.0);  // (2 - 1)^2
    free_dmatrix(prior, 1, 1, 1, 1);
}

class StopFile : public in_scratch_dir {};

TEST_F(StopFile, NoFileIsNoRequest) { EXPECT_EQ(check_stop_file(), 0); }

TEST_F(StopFile, CodeOneEndsTheProgramSilently) {
    write(stop_file_name, "1\n");
    int status = -1;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ends_program([] { check_stop_file(); }, status));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(status, 0);
}

TEST_F(StopFile, CodesTwoAndThreeAreRefusedAndEndTheProgram) {
    write(stop_file_name, "2");
    int status = -1;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ends_program([] { check_stop_file(); }, status));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n\nThe varnock does not currently support\n"
              "ceasing execution with a full parameter statistics printout.\n\n");
    EXPECT_EQ(status, 0);
    write(stop_file_name, " 3 ");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ends_program([] { check_stop_file(); }, status));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n\nThe varnock does not currently support pausing execution.\n\n");
    EXPECT_EQ(status, 0);
}

TEST_F(StopFile, OtherContentIsRemovedAndIgnored) {
    for (const char *content : {"7\n", "", "stop\n"}) {
        write(stop_file_name, content);
        EXPECT_EQ(check_stop_file(), 0) << content;
        EXPECT_FALSE(exists(stop_file_name)) << content;
    }
}

class ModelCommand : public in_scratch_dir {};

TEST_F(ModelCommand, WholeCommandLineRunsWithItsArguments) {
    control_data cd;
    cd.model_command = "sh write.sh first second";
    write("write.sh", "echo \"$1-$2\" > args.txt\n");
    EXPECT_EQ(run_model_command(cd), 0);
    EXPECT_EQ(read("args.txt"), "first-second\n");
}

TEST_F(ModelCommand, NonZeroExitIsAFailedRun) {
    control_data cd;
    cd.model_command = "exit 3";
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_model_command(cd), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nThe model command \"exit 3\" ended with exit status 3: the model run failed "
              "and its output files are not read.\n");
}

class OneModelRun : public in_scratch_dir {
protected:
    calib_status start(const std::string &command) {
        write("case.pst", engine_test::line_model_control("estimation", command));
        write("model.sh", engine_test::line_model_script);
        write("model.tpl", engine_test::line_model_template);
        write("model.ins", engine_test::line_model_instructions);
        char program[] = "varnock";
        char name[] = "case.pst";
        char *argv[] = {program, name, nullptr};
        calib_status s = read_control_file(cd, 2, argv);
        if (s == 0) s = open_template_files(cd, templates);
        if (s == 0) s = scan_template_files(cd, templates);
        if (s == 0) s = open_instruction_files(cd, instructions);
        if (s == 0) s = check_instruction_files(cd, instructions);
        return s;
    }
    void TearDown() override {
        close_template_files(cd, templates);
        close_instruction_files(cd, instructions);
        in_scratch_dir::TearDown();
    }
    control_data cd;
    template_file_table templates;
    instruction_file_table instructions;
};

TEST_F(OneModelRun, StraightLineModelGivesTheHandComputedPhi) {
    ASSERT_EQ(start("sh model.sh"), 0);
    ASSERT_EQ(run_model_once(cd, file_names{}, 0, templates, instructions, true), 0);
    EXPECT_EQ(read("model.in"), "a = 1.0000000E+00\nb = 2.0000000E+00\n\n");
    EXPECT_DOUBLE_EQ(cd.observations[1].model_value[0], 3.0);
    EXPECT_DOUBLE_EQ(cd.observations[2].model_value[0], 5.0);
    EXPECT_DOUBLE_EQ(cd.observations[3].model_value[0], 7.0);
    double phi = 0.0;
    measurement_phi(cd, 0, phi);
    // (3.5 - 3)^2 + 0 + ((7.5 - 7) x 0.5)^2
    EXPECT_DOUBLE_EQ(phi, 0.3125);
}

TEST_F(OneModelRun, TrialValuesGoToTheirOwnKind) {
    ASSERT_EQ(start("sh model.sh"), 0);
    ASSERT_EQ(run_model_once(cd, file_names{}, 0, templates, instructions, false), 0);
    cd.parameters[1].perturbed_value_1 = 1.5;
    cd.parameters[2].perturbed_value_1 = 2.0;
    ASSERT_EQ(run_model_once(cd, file_names{}, 1, templates, instructions, false), 0);
    EXPECT_DOUBLE_EQ(cd.observations[1].model_value[1], 3.5);
    EXPECT_DOUBLE_EQ(cd.observations[1].model_value[0], 3.0);
}

TEST_F(OneModelRun, ModelThatWritesNothingIsAFailedRun) {
    ASSERT_EQ(start("true"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_model_once(cd, file_names{}, 0, templates, instructions, false), 1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Cannot open model output file model.out"), std::string::npos) << printed;
}

TEST_F(OneModelRun, OutputOfAnEarlierRunIsNotReadAgain) {
    // The model writes its output on the first call only; the second run must
    // fail instead of reading the first run's values.
    ASSERT_EQ(start("[ -f done ] || { touch done; sh model.sh; }"), 0);
    ASSERT_EQ(run_model_once(cd, file_names{}, 0, templates, instructions, false), 0);
    EXPECT_DOUBLE_EQ(cd.observations[1].model_value[0], 3.0);
    cd.parameters[1].perturbed_value_1 = 1.5;
    cd.parameters[2].perturbed_value_1 = 2.0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_model_once(cd, file_names{}, 1, templates, instructions, false), 1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Cannot open model output file model.out"), std::string::npos) << printed;
    EXPECT_FALSE(exists("model.out"));
}

TEST_F(OneModelRun, OutputFileThatCannotBeRemovedFailsTheRun) {
    ASSERT_EQ(start("sh model.sh"), 0);
    // A directory in place of the output file cannot be removed as a file.
    ASSERT_EQ(std::system("mkdir model.out && touch model.out/keep"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_model_once(cd, file_names{}, 0, templates, instructions, false), 1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Cannot remove model output file model.out before the model run"),
              std::string::npos)
        << printed;
    EXPECT_FALSE(exists("model.in"));
}

TEST_F(OneModelRun, StopFileIsConsultedOnlyWhenAsked) {
    ASSERT_EQ(start("sh model.sh"), 0);
    write(stop_file_name, "1\n");
    ASSERT_EQ(run_model_once(cd, file_names{}, 0, templates, instructions, false), 0);
    EXPECT_TRUE(exists(stop_file_name));
    int status = -1;
    EXPECT_TRUE(ends_program([&] { run_model_once(cd, file_names{}, 0, templates, instructions, true); },
                             status));
    EXPECT_EQ(status, 0);
}
