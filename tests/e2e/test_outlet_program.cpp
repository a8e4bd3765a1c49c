// Runs the real `main` program in a temporary working directory.
#include <gtest/gtest.h>

#include "support/run_program.h"

using testsupport::scratch_dir;

TEST(OutletProgram, WritesFlowLinesFromWorkingDirectoryFiles) {
    scratch_dir d;
    d.write("kestrup_cal_1982.otl", "0.000 0.000\n15.000 12.500\n30.000 8.125\n45.000 7.000\n");
    d.write("dates_for_sim_outlet_hydrograph.txt", "05/01/1982 00:00\n05/01/1982 00:15\n05/01/1982 00:30\n");
    auto r = d.run(OUTLET_EXE, {"ignored", "arguments"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(d.read("sim_flows_ssf.txt"),
              "sim_flows   05/01/1982     00:00           0.00000000\n"
              "sim_flows   05/01/1982     00:15          12.50000000\n"
              "sim_flows   05/01/1982     00:30           8.12500000\n");
}

TEST(OutletProgram, OutputIsTruncatedOnEachRun) {
    scratch_dir d;
    d.write("kestrup_cal_1982.otl", "0 1\n");
    d.write("dates_for_sim_outlet_hydrograph.txt", "a b\n");
    d.write("sim_flows_ssf.txt", "old line 1\nold line 2\nold line 3\n");
    EXPECT_EQ(d.run(OUTLET_EXE).exit_status, 0);
    EXPECT_EQ(d.read("sim_flows_ssf.txt"), "sim_flows   a     b           1.00000000\n");
}

TEST(OutletProgram, MissingInputsNameTheFile) {
    scratch_dir d;
    auto r = d.run(OUTLET_EXE);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("kestrup_cal_1982.otl"), std::string::npos);
    EXPECT_FALSE(d.exists("sim_flows_ssf.txt"));

    d.write("kestrup_cal_1982.otl", "0 1\n");
    r = d.run(OUTLET_EXE);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("dates_for_sim_outlet_hydrograph.txt"), std::string::npos);
}

// A run that fails keeps the result of the earlier one as it was.
TEST(OutletProgram, ShortHydrographFailsAndKeepsTheEarlierResult) {
    scratch_dir d;
    d.write("kestrup_cal_1982.otl", "0 1\n15 2\n");
    d.write("dates_for_sim_outlet_hydrograph.txt", "a b\nc d\ne f\n");
    d.write("sim_flows_ssf.txt", "earlier\n");
    auto r = d.run(OUTLET_EXE);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("kestrup_cal_1982.otl"), std::string::npos);
    EXPECT_EQ(d.read("sim_flows_ssf.txt"), "earlier\n");
    EXPECT_FALSE(d.exists("sim_flows_ssf.txt.part"));
}

TEST(OutletProgram, HydrographLineWithOnlyATimeIsRefused) {
    scratch_dir d;
    d.write("kestrup_cal_1982.otl", "0 1\n15\n30 3\n");
    d.write("dates_for_sim_outlet_hydrograph.txt", "a b\nc d\n");
    auto r = d.run(OUTLET_EXE);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("main: kestrup_cal_1982.otl: line 2: holds one value"), std::string::npos)
        << r.err;
}

// Numbers that are not finite are refused with the file and line; CRLF inputs
// give the lines of LF ones.
TEST(OutletProgram, NonFiniteValuesAreRefusedAndCrlfReadsAsLf) {
    const char *cases[][3] = {  // hydrograph, dates, message ("": the lines of a b / c d)
        {"0 1\n15 nan\n", "a b\nc d\n", "main: kestrup_cal_1982.otl: line 2: \"nan\" is not a number"},
        {"0 1\ninf 2\n", "a b\nc d\n", "main: kestrup_cal_1982.otl: line 2: \"inf\" is not a number"},
        {"0 1\n", "\n\n", "main: dates_for_sim_outlet_hydrograph.txt: holds no date and time pair"},
        {"0 1\r\n15 2\r\n", "a b\r\nc d\r\n", ""}};
    for (const auto &c : cases) {
        scratch_dir d;
        d.write("kestrup_cal_1982.otl", c[0]);
        d.write("dates_for_sim_outlet_hydrograph.txt", c[1]);
        auto r = d.run(OUTLET_EXE);
        EXPECT_TRUE(r.exit_status == (*c[2] ? 1 : 0) && r.err.find(c[2]) != std::string::npos) << r.err;
        EXPECT_EQ(d.read("sim_flows_ssf.txt") == "sim_flows   a     b           1.00000000\n"
                                                 "sim_flows   c     d           2.00000000\n", !*c[2]);
    }
}
