// Tests of the start-up services: parameter kinds and counts, tie ratios and the
// refusal of bad ties, and the tables of template and instruction files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibrator/engine/start_up_services.h"
#include "engine_fixture.h"

using engine_test::in_scratch_dir;

namespace {

parameter_data parameter(const std::string &name, const std::string &transform, double value,
                         const std::string &parent = "") {
    parameter_data p;
    p.name = name;
    p.transform = transform;
    p.value = value;
    p.parent_name = parent;
    return p;
}

control_data with_parameters(std::initializer_list<parameter_data> list) {
    control_data cd;
    cd.parameters.assign(1, parameter_data{});
    for (const parameter_data &p : list) cd.parameters.push_back(p);
    cd.parameter_count = static_cast<int>(list.size());
    return cd;
}

calib_status quiet_tie_ratios(control_data &cd, std::string &printed) {
    const int old = set_reading_pause_ms(0);
    testing::internal::CaptureStdout();
    const calib_status s = set_tie_ratios(cd);
    printed = testing::internal::GetCapturedStdout();
    set_reading_pause_ms(old);
    return s;
}

}  // namespace

TEST(ParameterKinds, FixedTiedAndEverythingElse) {
    control_data cd = with_parameters({parameter("a", "none", 1), parameter("b", "fixed", 1),
                                       parameter("c", "tied", 1, "a"), parameter("d", "log", 0),
                                       parameter("e", "relative", 1)});
    int kind = -1;
    parameter_kind(cd, 1, kind);
    EXPECT_EQ(kind, 0);
    parameter_kind(cd, 2, kind);
    EXPECT_EQ(kind, 1);
    parameter_kind(cd, 3, kind);
    EXPECT_EQ(kind, 2);
    parameter_kind(cd, 5, kind);
    EXPECT_EQ(kind, 0);
    cd.frozen_count = 7;
    EXPECT_EQ(count_parameter_kinds(cd), 0);
    EXPECT_EQ(cd.adjustable_count, 3);
    EXPECT_EQ(cd.fixed_count, 1);
    EXPECT_EQ(cd.tied_count, 1);
    EXPECT_EQ(cd.frozen_count, 0);
}

TEST(TieRatios, ParentInLogUnitsIsTakenNatively) {
    // Parent stored as 1 (10 natively), tied value 2: ratio 0.2.
    control_data cd = with_parameters({parameter("p", "log", 1.0), parameter("t", "tied", 2.0, "p")});
    count_parameter_kinds(cd);
    std::string printed;
    ASSERT_EQ(quiet_tie_ratios(cd, printed), 0) << printed;
    EXPECT_EQ(cd.parameters[2].parent_index, 1);
    EXPECT_DOUBLE_EQ(cd.parameters[2].tie_ratio, 0.2);
    EXPECT_EQ(cd.parameters[1].parent_index, 0);
    EXPECT_DOUBLE_EQ(cd.parameters[1].tie_ratio, 1.0);
    cd.parameters[1].value = 2.0;  // parent moves to 100
    recompute_tied_values(cd);
    EXPECT_DOUBLE_EQ(cd.parameters[2].value, 20.0);
}

TEST(TieRatios, FirstParameterOfTheParentNameIsTheParent) {
    control_data cd = with_parameters({parameter("t", "tied", 6.0, "p"), parameter("p", "none", 3.0),
                                       parameter("p", "none", 2.0)});
    count_parameter_kinds(cd);
    std::string printed;
    ASSERT_EQ(quiet_tie_ratios(cd, printed), 0) << printed;
    EXPECT_EQ(cd.parameters[1].parent_index, 2);
    EXPECT_DOUBLE_EQ(cd.parameters[1].tie_ratio, 2.0);
}

TEST(TieRatios, BadParentsAreRefused) {
    struct bad_case {
        control_data cd;
        const char *expected;
    };
    bad_case cases[] = {
        {with_parameters({parameter("a", "none", 1), parameter("t", "tied", 1, "nosuch")}),
         "names the parent \"nosuch\", which is not a parameter"},
        {with_parameters({parameter("a", "fixed", 1), parameter("t", "tied", 1, "a")}), "\"a\" is fixed"},
        {with_parameters({parameter("a", "tied", 1, "t"), parameter("t", "tied", 1, "a")}), "is tied"},
        {with_parameters({parameter("a", "none", 0), parameter("t", "tied", 1, "a")}),
         "whose value is 0"},
    };
    for (bad_case &c : cases) {
        count_parameter_kinds(c.cd);
        std::string printed;
        EXPECT_EQ(quiet_tie_ratios(c.cd, printed), 1) << c.expected;
        EXPECT_NE(printed.find(c.expected), std::string::npos) << printed;
    }
}

class FileTables : public in_scratch_dir {
protected:
    control_data with_files(int templates, int instructions) {
        control_data cd;
        cd.template_count = templates;
        cd.instruction_count = instructions;
        cd.templates.assign(1, template_file_data{});
        cd.instruction_files.assign(1, instruction_file_data{});
        for (int k = 1; k <= templates; ++k) {
            template_file_data t;
            t.template_name = "t" + std::to_string(k) + ".tpl";
            write(t.template_name, "ptf #\n");
            cd.templates.push_back(t);
        }
        for (int k = 1; k <= instructions; ++k) {
            instruction_file_data i;
            i.instruction_name = "i" + std::to_string(k) + ".ins";
            write(i.instruction_name, "pif #\n");
            cd.instruction_files.push_back(i);
        }
        return cd;
    }
};

TEST_F(FileTables, TwentyFiveFilesOfEachKindAreOpened) {
    control_data cd = with_files(25, 25);
    template_file_table templates;
    instruction_file_table instructions;
    EXPECT_EQ(open_template_files(cd, templates), 0);
    EXPECT_EQ(open_instruction_files(cd, instructions), 0);
    for (int k = 1; k <= 25; ++k) {
        EXPECT_NE(templates.files[k], nullptr);
        EXPECT_NE(instructions.files[k], nullptr);
    }
    EXPECT_EQ(templates.files[0], nullptr);
    close_template_files(cd, templates);
    close_instruction_files(cd, instructions);
    EXPECT_EQ(templates.files[25], nullptr);
}

TEST_F(FileTables, TwentySixTemplatesAreRefused) {
    control_data cd = with_files(26, 1);
    template_file_table templates;
    testing::internal::CaptureStdout();
    EXPECT_EQ(open_template_files(cd, templates), 1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed,
              "\nCurrently, the Varnock does not support more than 25 template files.\n"
              "Please recompile the code to accomodate the unusually large number of template files.\n\n");
    EXPECT_EQ(templates.files[1], nullptr);
}

TEST_F(FileTables, TwentySixInstructionFilesAreRefused) {
    control_data cd = with_files(0, 26);
    instruction_file_table instructions;
    testing::internal::CaptureStdout();
    EXPECT_EQ(open_instruction_files(cd, instructions), 1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("more than 25 instruction files"), std::string::npos);
}

TEST_F(FileTables, MissingFileIsNamed) {
    control_data cd = with_files(2, 0);
    cd.templates[2].template_name = "absent.tpl";
    template_file_table templates;
    testing::internal::CaptureStdout();
    EXPECT_EQ(open_template_files(cd, templates), 1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Cannot open template file absent.tpl"), std::string::npos) << printed;
    close_template_files(cd, templates);
}

TEST(OutOfMemory, ReportsAndFails) {
    const int old = set_reading_pause_ms(0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(report_out_of_memory(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Not enough memory to allocate buffer\n");
    set_reading_pause_ms(old);
}
