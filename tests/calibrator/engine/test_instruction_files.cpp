// Tests of the instruction interpreter on hand-written model output files:
// markers, line advances, "w" and "t", fixed and free reads, line ends, and the
// refusal of instructions that cannot be carried out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibrator/engine/instruction_files.h"
#include "calibrator/engine/start_up_services.h"
#include "engine_fixture.h"

using engine_test::in_scratch_dir;

namespace {

class Instructions : public in_scratch_dir {
protected:
    void SetUp() override {
        in_scratch_dir::SetUp();
        cd.observations.assign(1, observation_data{});
        cd.instruction_files.assign(1, instruction_file_data{});
    }
    void TearDown() override {
        close_instruction_files(cd, table);
        in_scratch_dir::TearDown();
    }

    void add_observations(std::initializer_list<const char *> names) {
        for (const char *n : names) {
            observation_data o;
            o.name = n;
            o.model_value = {-999.0, -999.0, -999.0};
            cd.observations.push_back(o);
        }
        cd.observation_count = static_cast<int>(cd.observations.size()) - 1;
    }

    // Writes the instruction and output files, opens and checks the instruction
    // file, then reads the output as value kind `kind`.
    calib_status run(const std::string &instructions, const std::string &output, int kind = 0) {
        write("model.ins", instructions);
        write("model.out", output);
        if (cd.instruction_count == 0) {
            instruction_file_data i;
            i.instruction_name = "model.ins";
            i.output_name = "model.out";
            cd.instruction_files.push_back(i);
            cd.instruction_count = 1;
            if (open_instruction_files(cd, table) != 0) return 1;
        }
        testing::internal::CaptureStdout();
        calib_status s = check_instruction_files(cd, table);
        if (s == 0) s = read_model_output_file(cd, file_names{}, 1, kind, table);
        printed = testing::internal::GetCapturedStdout();
        return s;
    }

    double value(int k, int kind = 0) const { return cd.observations[k].model_value[kind]; }

    control_data cd;
    instruction_file_table table;
    std::string printed;
};

}  // namespace

TEST_F(Instructions, LineAdvanceAndFixedReadsOnConsecutiveLines) {
    add_observations({"h1", "h2"});
    ASSERT_EQ(run("pif $\nl1 [h1]1:10\nl1 [h2]1:10\n", "     12.25\n    -3.5e1\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 12.25);
    EXPECT_DOUBLE_EQ(value(2), -35.0);
}

TEST_F(Instructions, FixedReadTakesExactlyItsColumns) {
    add_observations({"a", "b", "c"});
    // Columns 1-4, 5-8 and 9-12 of one line hold three numbers without blanks.
    ASSERT_EQ(run("pif $\nl2 [a]1:4 [b]5:8 [c]9:12\n", "header\n1.252.50-3.0\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 1.25);
    EXPECT_DOUBLE_EQ(value(2), 2.5);
    EXPECT_DOUBLE_EQ(value(3), -3.0);
}

TEST_F(Instructions, FixedReadsOnLinesWithMoreColumns) {
    add_observations({"q1", "q2"});
    ASSERT_EQ(run("pif $\nl1 [q1]1:6\nl1 [q2]1:6\n", "  1.0    2.0\n  3.0    4.0\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 1.0);
    EXPECT_DOUBLE_EQ(value(2), 3.0);
}

TEST_F(Instructions, LastColumnPastTheLineEndReadsToTheEnd) {
    add_observations({"v"});
    ASSERT_EQ(run("pif $\nl1 [v]3:40\n", "x 7.5\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 7.5);
}

TEST_F(Instructions, PrimaryMarkerThenWhitespaceThenFreeRead) {
    add_observations({"q1"});
    ASSERT_EQ(run("pif $\n$RESULTS$ w !q1!\n", "first line\nno value\nRESULTS   42.5 later\n"), 0)
        << printed;
    EXPECT_DOUBLE_EQ(value(1), 42.5);
}

TEST_F(Instructions, SecondaryMarkerSearchesOnFromTheCursor) {
    add_observations({"flow", "stage"});
    const std::string out =
        "station A flow= 1.0 stage= 2.0\n"
        "station B flow= 3.0 stage= 4.0\n";
    ASSERT_EQ(run("pif @\n@station B@ @flow=@ !flow! @stage=@ !stage!\n", out), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 3.0);
    EXPECT_DOUBLE_EQ(value(2), 4.0);
}

TEST_F(Instructions, MarkerThenLineAdvanceCountsFromTheFoundLine) {
    add_observations({"x"});
    const std::string out = "a\nTABLE\n skip\n  9.75\nz\n";
    // The line break goes to the line after TABLE; l2 goes one line further.
    ASSERT_EQ(run("pif $\n$TABLE$\nl2 [x]1:8\n", out), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 9.75);
}

TEST_F(Instructions, FreeReadOfExponentForm) {
    add_observations({"v"});
    ASSERT_EQ(run("pif $\nl1 !v!\n", "   -1.5E+02 m3/s\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), -150.0);
}

TEST_F(Instructions, WhitespaceSkipsOneWordAtATime) {
    add_observations({"third"});
    ASSERT_EQ(run("pif $\nl1 w w !third!\n", "one two 3.5 four\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 3.5);
}

TEST_F(Instructions, TabMovesTheCursorForward) {
    add_observations({"v"});
    ASSERT_EQ(run("pif $\nl1 t5 !v!\n", "abcde12.5x\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 12.5);
}

TEST_F(Instructions, ObservationNamesMatchInEitherCase) {
    add_observations({"FLOW1", "stage1"});
    ASSERT_EQ(run("pif $\nl1 !flow1! w !STAGE1!\n", "1.5 2.5\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 1.5);
    EXPECT_DOUBLE_EQ(value(2), 2.5);
}

TEST_F(Instructions, EqualNamesGoToTheFirstObservation) {
    // "q" written as is matches observation 3; its upper-case form matches the
    // earlier observation 2, which wins as the first match.
    // Observations 3 and 4 can then never be read, which the start-up check
    // refuses; a read without that check shows where the value goes.
    add_observations({"a", "Q", "q", "q"});
    EXPECT_EQ(run("pif $\nl1 !q! w !a!\n", "4.5 1.5\n"), 1);
    EXPECT_NE(printed.find("Error: observation \"q\" of the control file is read by no instruction file.\n"),
              std::string::npos)
        << printed;
    table.parsed = {};
    testing::internal::CaptureStdout();
    ASSERT_EQ(read_model_output_file(cd, file_names{}, 1, 0, table), 0);
    printed = testing::internal::GetCapturedStdout();
    EXPECT_DOUBLE_EQ(value(2), 4.5);
    EXPECT_DOUBLE_EQ(value(3), -999.0);
    EXPECT_DOUBLE_EQ(value(4), -999.0);
    EXPECT_DOUBLE_EQ(value(1), 1.5);
}

TEST_F(Instructions, ThousandsOfObservationsReadInOrder) {
    std::vector<std::string> names;
    std::string instructions = "pif $\n";
    std::string output;
    for (int k = 1; k <= 5000; ++k) {
        names.push_back("obs" + std::to_string(k));
        instructions += "l1 !" + names.back() + "!\n";
        output += std::to_string(k * 0.5) + "\n";
    }
    for (const std::string &n : names) add_observations({n.c_str()});
    ASSERT_EQ(run(instructions, output), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 0.5);
    EXPECT_DOUBLE_EQ(value(2500), 1250.0);
    EXPECT_DOUBLE_EQ(value(5000), 2500.0);
}

TEST_F(Instructions, CarriageReturnsInTheOutputReadTheSame) {
    add_observations({"h1", "h2"});
    ASSERT_EQ(run("pif $\nl1 [h1]1:10\nl1 [h2]1:10\n", "       1.0\r\n       2.0\r\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 1.0);
    EXPECT_DOUBLE_EQ(value(2), 2.0);
}

TEST_F(Instructions, CarriageReturnsInTheInstructionsReadTheSame) {
    add_observations({"h1", "h2"});
    ASSERT_EQ(run("pif $\r\nl1 [h1]1:10\r\nl1 [h2]1:10\r\n", "       1.0\n       2.0\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 1.0);
    EXPECT_DOUBLE_EQ(value(2), 2.0);
}

TEST_F(Instructions, ValueKindSelectsTheEntry) {
    add_observations({"v"});
    ASSERT_EQ(run("pif $\nl1 !v!\n", "4.0\n", 2), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1, 2), 4.0);
    EXPECT_DOUBLE_EQ(value(1, 0), -999.0);
    EXPECT_DOUBLE_EQ(value(1, 1), -999.0);
}

TEST_F(Instructions, ObservationThatNoInstructionReadsIsRefusedBeforeAnyRead) {
    // A truncated instruction file would otherwise score "b" against the value
    // of an earlier run.
    add_observations({"a", "b"});
    ASSERT_EQ(run("pif $\nl1 !a! w !b!\n", "1 2\n"), 0) << printed;
    EXPECT_EQ(run("pif $\nl1 !a!\n", "5\n"), 1);
    EXPECT_EQ(printed, "\nError: observation \"b\" of the control file is read by no instruction file.\n"
                       "  (instruction files: model.ins)\n");
    EXPECT_DOUBLE_EQ(value(1), 1.0);
    EXPECT_DOUBLE_EQ(value(2), 2.0);
}

TEST_F(Instructions, AmpersandAndOtherCharactersDoNothing) {
    add_observations({"v"});
    ASSERT_EQ(run("pif $\nl1 & !v!\n", "6.5\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 6.5);
}

TEST_F(Instructions, SemiFixedReadIsRefused) {
    add_observations({"v"});
    EXPECT_EQ(run("pif $\nl1 (v)1:5\n", "1.0\n"), 1);
    EXPECT_EQ(printed,
              "Semi-fixed observations are currently not supported with the calibration varnock.\n"
              "Modify the instruction file(s) accordingly and rerun the varnock.\n");
}

TEST_F(Instructions, ParenthesisInsideANameIsPartOfTheName) {
    add_observations({"q(1)"});
    ASSERT_EQ(run("pif $\nl1 !q(1)!\n", "2.0\n"), 0) << printed;
    EXPECT_DOUBLE_EQ(value(1), 2.0);
}

struct refused_case {
    const char *instructions;
    const char *output;
    const char *expected;
};

class InstructionRefusals : public Instructions, public testing::WithParamInterface<refused_case> {};

TEST_P(InstructionRefusals, StopWithAMessageNamingTheFile) {
    add_observations({"h1"});
    const refused_case &c = GetParam();
    EXPECT_EQ(run(c.instructions, c.output), 1);
    EXPECT_NE(printed.find(c.expected), std::string::npos) << printed;
    EXPECT_NE(printed.find("model.ins"), std::string::npos) << printed;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstructionRefusals,
    testing::Values(
        refused_case{"pfi $\nl1 !h1!\n", "1\n", "model.ins is not a valid instruction file"},
        refused_case{"pif\nl1 !h1!\n", "1\n", "model.ins is not a valid instruction file"},
        refused_case{"pif  \nl1 !h1!\n", "1\n", "model.ins is not a valid instruction file"},
        refused_case{"pif $\n$MISSING$ !h1!\n", "a\nb\n",
                     "(observation h1): the search text \"MISSING\" was not found"},
        refused_case{"pif $\nl1 w !h1!\n", "lastword", "(observation h1): \"w\" found nothing left"},
        refused_case{"pif $\nl3 !h1!\n", "1\n2\n", "(observation h1): the line advance l3 goes past the end"},
        refused_case{"pif $\nl1 !nosuch!\n", "1\n", "\"nosuch\" is not an observation"},
        refused_case{"pif $\nl0 !h1!\n", "1\n", "at least l1"},
        refused_case{"pif $\nl1 [h1]0:5\n", "1\n", "first column of \"h1\" is below 1"},
        refused_case{"pif $\nl1 [h1]5:3\n", "1\n", "last column of \"h1\" is before"},
        refused_case{"pif $\nl1 [h1]1\n", "1\n", "needs columns of the form a:b"},
        refused_case{"pif $\nl1\n!h1!\n", "1\n", "\"l1\" must be a whole number followed by a blank"},
        refused_case{"pif $\nlx !h1!\n", "1\n", "\"lx\" must be a whole number"},
        refused_case{"pif $\n$open !h1!\n", "1\n", "no closing marker"},
        refused_case{"pif $\nl1 [h1\n", "1\n", "no closing \"]\""},
        refused_case{"pif $\nl1 !h1 \n", "1\n", "no closing \"!\""},
        refused_case{"pif $\nl1 !h1!\n", "text\n", "(observation h1): no number at \"text\""},
        refused_case{"pif $\nl1 [h1]1:4\n", "ab\n", "hold \"ab\", not a number"},
        refused_case{"pif $\nl1 [h1]9:12\n", "1.0\n", "fewer than 9 columns"},
        refused_case{"pif $\nl1 t20 !h1!\n", "1.0\n", "\"t20\" goes past the end"}));

TEST_F(Instructions, MissingOutputFileIsAFailedRun) {
    add_observations({"h1"});
    write("model.ins", "pif $\nl1 !h1!\n");
    instruction_file_data i;
    i.instruction_name = "model.ins";
    i.output_name = "never_written.out";
    cd.instruction_files.push_back(i);
    cd.instruction_count = 1;
    ASSERT_EQ(open_instruction_files(cd, table), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_model_output_file(cd, file_names{}, 1, 0, table), 1);
    printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Cannot open model output file never_written.out"), std::string::npos)
        << printed;
}

struct non_finite_case {
    const char *instructions;
    const char *output;
    const char *shown;  // the value as the message quotes it
};

class NonFiniteValues : public Instructions, public testing::WithParamInterface<non_finite_case> {};

TEST_P(NonFiniteValues, FailTheRunAndAreNeverStored) {
    add_observations({"h1", "h2"});
    const non_finite_case &c = GetParam();
    EXPECT_EQ(run(c.instructions, c.output), 1);
    EXPECT_NE(printed.find(std::string("(observation h2): the model output value \"") + c.shown +
                           "\" is not a finite number.\n"),
              std::string::npos)
        << printed;
    EXPECT_TRUE(table.non_finite_value);
    EXPECT_DOUBLE_EQ(value(1), 1.5);
    EXPECT_DOUBLE_EQ(value(2), -999.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NonFiniteValues,
    testing::Values(non_finite_case{"pif $\nl1 !h1! !h2!\n", "1.5 -inf\n", "-inf"},
                    non_finite_case{"pif $\nl1 !h1! !h2!\n", "1.5 inf\n", "inf"},
                    non_finite_case{"pif $\nl1 !h1! !h2!\n", "1.5 NaN\n", "NaN"},
                    non_finite_case{"pif $\nl1 !h1! !h2!\n", "1.5 -Infinity 3\n", "-Infinity"},
                    non_finite_case{"pif $\nl1 !h1! !h2!\n", "1.5 1e999\n", "1e999"},
                    non_finite_case{"pif $\nl1 [h1]1:4 [h2]5:10\n", "1.5   nan\n", "nan"},
                    non_finite_case{"pif $\nl1 [h1]1:4 [h2]5:10\n", "1.5 -1e400\n", "-1e400"}));

TEST_F(Instructions, TextThatIsNoNumberIsNotCountedAsANonFiniteValue) {
    add_observations({"h1"});
    EXPECT_EQ(run("pif $\nl1 !h1!\n", "info\n"), 1);
    EXPECT_FALSE(table.non_finite_value);
    EXPECT_NE(printed.find("no number at \"info\""), std::string::npos) << printed;
}
