// End-to-end tests of varnock runs that fail part way: a GML estimation whose
// model output cannot be read, or a control file that is refused, ends with
// status 1 after its message and leaves the error stream clean.
#include <gtest/gtest.h>

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
