// End-to-end tests of one model run of varnock (MODE estimation with
// max_iterations 0) on the straight-line model y = a + b x run by a shell
// script: the input written from its template, the output read through its
// instruction file, phi by hand, the reports, the stop file and failed runs.
#include <gtest/gtest.h>

#include "support/run_program.h"
#include "varnock_case.h"

using testsupport::scratch_dir;
using testsupport::split_lines;
using varnock_e2e::contains;
using varnock_e2e::line_case;
using varnock_e2e::replaced;

TEST(VarnockSingleRun, WritesInputReadsOutputAndReportsPhi) {
    scratch_dir d;
    line_case(d);
    auto r = d.run(VARNOCK_EXE, {"./line.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(d.read("model.in"), "a = 1.0000000E+00\nb = 2.0000000E+00\n\n");
    EXPECT_EQ(d.read("model.out"), "y1 3.000000\ny2 5.000000\ny3 7.000000\n");
    // phi = (3.5 - 3)^2 + (5 - 5)^2 + ((7.5 - 7) x 0.5)^2 = 0.3125
    EXPECT_TRUE(contains(r.out, "Varnock is running in parameter estimation mode.\n\n"
                                "Varnock run record: case line\n\n"
                                "Model command line:\nsh model.sh\n\nRunning model ...\n\n"
                                "Sum of squared weighted residuals = 3.125000E-01\n"
                                "Contribution to phi from observation group 'obsgrp' = 3.125000E-01\n\n"))
        << r.out;
    EXPECT_EQ(d.read("line.par"), "1.000000\n2.000000\n");
    EXPECT_EQ(d.read("line.sen"), "");
    EXPECT_EQ(d.read("line.mtt"), "");

    const std::string rec = d.read("line.rec");
    EXPECT_EQ(rec.rfind("                            OPTIMIZATION RECORD\n\n"
                        "INITIAL CONDITIONS:\n"
                        "   Sum of squared weighted residuals = 3.125000E-01\n"
                        "   Contribution to phi from observation group 'obsgrp' = 3.125000E-01\n\n"
                        "      Current parameter values\n"
                        "      a               1.000000\n"
                        "      b               2.000000\n",
                        0),
              0u)
        << rec;
    EXPECT_TRUE(contains(rec, "Covariance matrix and parameter confidence intervals cannot be determined:\n"
                              "No optimisation iterations carried out so Jacobian never calculated..\n\n"
                              "Adjustable Parameters ----->\n\n"
                              "Parameter        Estimated\n"
                              "                 value\n"
                              "a                1.000000\n"
                              "b                2.000000\n\n\n\n"))
        << rec;
    // Measured 3.5 and 7.5: the calculated value and residual to one decimal.
    EXPECT_TRUE(contains(rec, "y1\t\t3.5\t3.0\t0.5\t1.000000\tobsgrp\n"))
        << rec;
    EXPECT_TRUE(contains(rec, "y3\t\t7.5\t7.0\t0.5\t0.500000\tobsgrp\n"))
        << rec;
    EXPECT_TRUE(contains(rec, "Sum of squared weighted residuals (ie phi)\t\t: 3.125000E-01\n"
                              "Contribution to phi from observation group 'obsgrp'\t= 3.125000E-01\n"))
        << rec;
    const auto lines = split_lines(rec);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "No optimisation iterations carried out so Jacobian never calculated.");
}

TEST(VarnockSingleRun, PriorInformationAddsToPhi) {
    scratch_dir d;
    std::string control = line_case(d);
    control = replaced(control, "2 3 1 0 1", "2 3 1 1 2");
    control = replaced(control, "obsgrp\n* observation data", "obsgrp\nregul\n* observation data");
    control += "pi1 1.0 * a = 1.5 2.0 regul\n";
    d.write("line.pst", control);
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    // Prior: ((1.5 - 1.0) x 2)^2 = 1; total 0.3125 + 1 = 1.3125.
    EXPECT_TRUE(contains(r.out, "Sum of squared weighted residuals = 1.312500E+00\n"
                                "Contribution to phi from observation group 'obsgrp' = 3.125000E-01\n"
                                "Contribution to phi from observation group 'regul' = 1.000000E+00\n"))
        << r.out;
}

TEST(VarnockSingleRun, LogFixedAndTiedParametersAreWrittenNatively) {
    scratch_dir d;
    std::string control = line_case(d);
    control = replaced(control, "2 3 1 0 1", "3 3 1 0 1");
    control = replaced(control, "a none relative 1.0 -10.0 10.0", "a fixed relative 1.0 -10.0 10.0");
    control = replaced(control, "b none relative 2.0 -10.0 10.0 grp 1.0 0.0 1\n",
                       "b log factor 2.0 0.1 10.0 grp 1.0 0.0 1\n"
                       "c tied relative 4.0 0.0 100.0 grp 1.0 0.0 1\n"
                       "c b\n");
    d.write("line.pst", control);
    d.write("model.tpl", "ptf #\na = #a       #\nb = #b       #\nc = #c #\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(d.read("model.in"), "a = 1.0000000E+00\nb = 2.0000000E+00\nc = 4.0000000E+00\n\n");
    EXPECT_EQ(d.read("line.par"), "1.000000\n2.000000\n4.000000\n");
    const std::string rec = d.read("line.rec");
    EXPECT_TRUE(contains(rec, "Parameter        Estimated\n                 value\n"
                              "b                2.000000\n\n\n\n"
                              "Tied parameters ----->\n\n"
                              "c                4.000000\n\n\n"
                              "Fixed parameters ----->\n\n"
                              "Parameter        Fixed value\n"
                              "a                1.000000\n\n\n"
                              "Observations ----->\n"))
        << rec;
}

TEST(VarnockSingleRun, OneWordCommandStillRuns) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "sh model.sh", "./model.sh"));
    d.write("model.sh", "#!/bin/sh\n" + d.read("model.sh"));
    ASSERT_EQ(std::system(("chmod +x " + (d.path() / "model.sh").string()).c_str()), 0);
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Sum of squared weighted residuals = 3.125000E-01\n")) << r.out;
}

TEST(VarnockStopFile, StaleStopFileIsRemovedAtStartUp) {
    scratch_dir d;
    line_case(d);
    d.write("varnock.stp", "1\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_TRUE(contains(d.read("line.rec"), "OPTIMISATION RESULTS"));
}

TEST(VarnockStopFile, CodeOneWrittenDuringTheRunStopsSilently) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "sh model.sh", "sh model.sh && echo 1 > varnock.stp"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(d.read("line.rec"), "");
    EXPECT_TRUE(d.exists("varnock.stp"));
}

TEST(VarnockStopFile, CodesTwoAndThreeAreRefusedButStillSucceed) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "sh model.sh", "sh model.sh && echo 2 > varnock.stp"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "\n\nThe varnock does not currently support\n"
                     "ceasing execution with a full parameter statistics printout.\n\n");
    d.write("line.pst", replaced(control, "sh model.sh", "sh model.sh && echo 3 > varnock.stp"));
    r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "\n\nThe varnock does not currently support pausing execution.\n\n");
}

TEST(VarnockStopFile, OtherCodesAreRemovedAndTheRunGoesOn) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "sh model.sh", "sh model.sh && echo 7 > varnock.stp"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_FALSE(d.exists("varnock.stp"));
    EXPECT_TRUE(contains(d.read("line.rec"), "OPTIMISATION RESULTS"));
}

// A model that fails (status 2) after writing an output file, as a model
// that refuses its input and leaves an earlier result in place: the run has
// failed, its output is not read and the earlier record stays.
TEST(VarnockFailedRuns, ModelThatFailsWithoutOutput) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "sh model.sh", "sh broken.sh"));
    d.write("broken.sh", "sh model.sh\nexit 2\n");
    d.write("line.rec", "earlier record\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "\nThe model command \"sh broken.sh\" ended with exit status 2: the model "
                                "run failed and its output files are not read.\n"))
        << r.out;
    EXPECT_FALSE(contains(r.out, "OPTIMISATION RESULTS")) << r.out;
    EXPECT_EQ(d.read("line.rec"), "earlier record\n");
}

TEST(VarnockFailedRuns, ModelThatWritesItsOutputOnlyOnceFailsTheNextRun) {
    // Estimation: the initial run writes model.out, the first Jacobian run
    // writes nothing and must not read the initial run's values again.
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(replaced(control, "none 0 0.01", "none 5 0.01"), "sh model.sh",
                                 "sh once.sh"));
    d.write("once.sh", "[ -f done ] && exit 0\ntouch done\nsh model.sh\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "Cannot open model output file model.out")) << r.out;
    EXPECT_TRUE(d.exists("done"));
    EXPECT_FALSE(d.exists("model.out"));
    EXPECT_FALSE(contains(d.read("line.rec"), "OPTIMISATION RESULTS"));
}

TEST(VarnockFailedRuns, StaleOutputFromAnEarlierSessionIsNotRead) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "sh model.sh", "true"));
    d.write("model.out", "y1 3.000000\ny2 5.000000\ny3 7.000000\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "Cannot open model output file model.out")) << r.out;
    EXPECT_FALSE(d.exists("model.out"));
}

TEST(VarnockFailedRuns, TemplateNamingNoParameterStopsBeforeTheModelRuns) {
    scratch_dir d;
    line_case(d);
    d.write("model.tpl", "ptf #\na = #a       #\nb = #bb      #\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "model.tpl is not a valid template file.\n")) << r.out;
    EXPECT_FALSE(d.exists("model.in"));
    EXPECT_FALSE(d.exists("line.rec"));
}

TEST(VarnockFailedRuns, InstructionForUnknownObservationStopsAtStartUp) {
    scratch_dir d;
    line_case(d);
    d.write("model.ins", "pif $\nl1 [y1]4:15\nl1 [y9]4:15\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "Error in instruction file model.ins, line 3: \"y9\" is not an observation"))
        << r.out;
    EXPECT_FALSE(d.exists("model.in"));
}

TEST(VarnockFailedRuns, SemiFixedInstructionIsAFailure) {
    scratch_dir d;
    line_case(d);
    d.write("model.ins", "pif $\nl1 (y1)4:15\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "Semi-fixed observations are currently not supported with the calibration varnock.\n"
                     "Modify the instruction file(s) accordingly and rerun the varnock.\n");
}

TEST(VarnockFailedRuns, TiedParameterWithMissingParent) {
    scratch_dir d;
    std::string control = line_case(d);
    control = replaced(control, "b none relative 2.0 -10.0 10.0 grp 1.0 0.0 1\n",
                       "b tied relative 2.0 -10.0 10.0 grp 1.0 0.0 1\nb nosuch\n");
    d.write("line.pst", control);
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "names the parent \"nosuch\", which is not a parameter")) << r.out;
    EXPECT_FALSE(d.exists("line.rec"));
}

TEST(VarnockFailedRuns, MalformedControlFileNamesTheSection) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "y2 5.0 1.0 obsgrp", "y2 5.0 heavy obsgrp"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "Error in control file line.pst, section \"observation data\": "
                                "expected a number for the weight of observation 2, found \"heavy\".\n"))
        << r.out;
}
