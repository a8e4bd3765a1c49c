// End-to-end tests of varnock runs that fail part way: a GML estimation whose
// model output cannot be read, or a control file that is refused, ends with
// status 1 after its message and leaves the error stream clean.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/run_program.h"
#include "varnock_case.h"

using testsupport::scratch_dir;
using varnock_e2e::contains;
using varnock_e2e::line_case;
using varnock_e2e::replaced;

namespace {

// The line case with ten iterations allowed, so the GML driver sets up its
// working arrays before the first model run.
std::string iterating_case(const scratch_dir &d) {
    return replaced(line_case(d), "none 0 0.01", "none 10 0.01");
}

}  // namespace

TEST(VarnockFailedEstimation, UnreadableOutputEndsWithStatusOneAndNothingOnTheErrorStream) {
    scratch_dir d;
    d.write("line.pst", iterating_case(d));
    // The third output line holds 11 characters, so columns 40 to 55 are missing.
    d.write("model.ins", "pif $\nl1 [y1]4:15\nl1 [y2]4:15\nl1 [y3]40:55\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "(observation y3): the line has fewer than 40 columns.")) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(VarnockFailedEstimation, FailedModelCommandInAJacobianRunEndsWithStatusOne) {
    scratch_dir d;
    d.write("line.pst", iterating_case(d));
    // The first run succeeds; the second (the first Jacobian run) writes nothing.
    d.write("model.sh",
            "n=$(cat count 2>/dev/null || echo 0); n=$((n+1)); echo $n > count\n"
            "if [ $n -ge 2 ]; then exit 3; fi\n"
            "awk '/^a/ {a=$3} /^b/ {b=$3} END {for (x = 1; x <= 3; x++) printf \"y%d %.6f\\n\", x, "
            "a + b * x}' model.in > model.out\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "Calculating Jacobian matrix")) << r.out;
    EXPECT_TRUE(contains(r.out, "the model run failed.")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(d.read("count"), "2\n");
}

TEST(VarnockRefusedControlFile, ParameterValueOutsideItsBoundsIsRefusedBeforeAnyRun) {
    scratch_dir d;
    d.write("line.pst", replaced(line_case(d), "a none relative 1.0 -10.0 10.0",
                                 "a none relative 20.0 -10.0 10.0"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "Error in control file line.pst, section \"parameter data\": the value "
                                "of parameter \"a\" lies outside its bounds."))
        << r.out;
    EXPECT_FALSE(d.exists("model.in"));
    EXPECT_FALSE(d.exists("line.rec"));
}

// An observation outside every observation group would enter the Jacobian but
// not phi: without y3 the line through y1 and y2 (a = 2, b = 1.5) is exact, yet
// the upgrades would chase y3 while phi ignored it.
TEST(VarnockRefusedControlFile, ObservationOutsideEveryGroupIsRefusedBeforeAnIteration) {
    scratch_dir d;
    d.write("line.pst", replaced(iterating_case(d), "y3 7.5 0.5 obsgrp", "y3 7.5 0.5 obsgrq"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "Observation \"y3\" names the group \"obsgrq\", which is not an observation group."))
        << r.out;
    EXPECT_FALSE(d.exists("model.in"));
}

namespace {

// The iterating line case with one prior equation `prior` (label pi1).
std::string case_with_prior(const scratch_dir &d, const std::string &prior) {
    std::string control = replaced(iterating_case(d), "2 3 1 0 1", "2 3 1 1 2");
    control = replaced(control, "obsgrp\n* observation data", "obsgrp\nregul\n* observation data");
    return control + prior + "\n";  // the case ends with the prior information header
}

}  // namespace

TEST(VarnockRefusedControlFile, PriorInformationNeedsAKnownGroupAndKnownParameters) {
    {
        scratch_dir d;
        d.write("line.pst", case_with_prior(d, "pi1 1.0 * a = 1.5 1.0 regul"));
        auto r = d.run(VARNOCK_EXE, {"line.pst"});
        // The prior row [1 0] with weight 1 joins the normal equations:
        // [3.25 3.75; 3.75 7.25] [a b]' = [11.875 19.125]', so a = 14.375 / 9.5
        // and b = 17.625 / 9.5.
        ASSERT_EQ(r.exit_status, 0) << r.out;
        double a = 0.0, b = 0.0;
        ASSERT_EQ(std::sscanf(d.read("line.par").c_str(), "%lf %lf", &a, &b), 2);
        EXPECT_NEAR(a, 14.375 / 9.5, 1e-4);
        EXPECT_NEAR(b, 17.625 / 9.5, 1e-4);
    }
    {
        scratch_dir d;
        d.write("line.pst", case_with_prior(d, "pi1 1.0 * a = 1.5 1.0 regulx"));
        auto r = d.run(VARNOCK_EXE, {"line.pst"});
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_TRUE(contains(r.out, "Prior information \"pi1\" names the group \"regulx\", which is not an "
                                    "observation group."))
            << r.out;
        EXPECT_FALSE(d.exists("model.in"));
    }
    {
        scratch_dir d;
        d.write("line.pst", case_with_prior(d, "pi1 1.0 * a + 2.0 * log(c) = 1.5 1.0 regul"));
        auto r = d.run(VARNOCK_EXE, {"line.pst"});
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_TRUE(contains(r.out, "Prior information \"pi1\" names \"c\", which is not a parameter.")) << r.out;
        EXPECT_FALSE(d.exists("model.in"));
    }
}
