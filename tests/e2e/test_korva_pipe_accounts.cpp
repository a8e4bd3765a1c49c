// Runs korva on the bundled example with a small pipe network and checks what the
// run tells about it: an outlet into channels that the project does not route is
// refused naming its junction and file, a network whose inlets take no surface
// water is warned about, and the event summary prints the pipe lines its balance
// counts, so that its printed lines close by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;

namespace {

// Junction 1 (kind `k1`) on column 30, row 10 drains by two pipes to junction 2
// (kind 888, onto its cell) at row 20; the middle node has inlet type `t`.
std::string network(int k1, int t) {
    return "SJUNC 1 103.0 100.0 1.0 " + std::to_string(k1) + " 885.0 1785.0 30 10\n" +
           "SJUNC 2 102.0 99.0 1.0 888 885.0 1485.0 30 20\nCONNECT 1 1 2\nSLINK 1 2\n" +
           "NODE 1 103.0 100.0 0.5 0 885.0 1785.0 30 10\n" + "NODE 2 102.5 99.5 0.5 " +
           std::to_string(t) + " 885.0 1635.0 30 15\n" +
           "NODE 3 102.0 99.0 0.5 0 885.0 1485.0 30 20\n"
           "PIPE 1 1 0.6 0.0 0.0033 0.013 150.0 0.0\nPIPE 2 1 0.6 0.0 0.0033 0.013 150.0 0.0\n";
}

testsupport::program_result run_with(const scratch_dir &d, const std::string &net) {
    valley::copy_example(d);
    d.write("valley.net", net);
    d.write("valley.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 31 16\nNUMPIPES 1\nSPIPE 1 2 1.0\n");
    d.write("slink/.keep", "");
    d.write("debug/.keep", "");
    std::string project = d.read("valley_overland.prj");
    project.replace(project.find("TOT_TIME 360"), 12, "TOT_TIME 60");
    d.write("valley_overland.prj", project + "STORM_SEWER valley.net\nGRID_PIPE valley.gpi\n");
    return d.run(KORVA_EXE, {"valley_overland.prj"});
}

TEST(KorvaPipeAccounts, SetUpRefusesOutletsWithNowhereToGoAndWarnsOfInletsThatTakeNothing) {
    struct {
        int junction_kind, node_type, status;
        const char *message;
    } cases[] = {
        // 999 drains into channels; this project routes none.
        {999, 0, 1, "Error: super-junction 1 of the pipe network file valley.net is an outlet into the"},
        // Type 0 only spills: no inlet takes surface water.
        {0, 0, 0, "Warning: no inlet of the pipe network valley.net can take surface water"},
    };
    for (const auto &c : cases) {
        scratch_dir d;
        const auto r = run_with(d, network(c.junction_kind, c.node_type));
        EXPECT_EQ(r.exit_status, c.status) << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        if (c.status == 0) {
            EXPECT_NE(d.read("valley.sum").find(c.message), std::string::npos);
        }
    }
}

TEST(KorvaPipeAccounts, EventSummaryPrintsThePipeLinesItsBalanceCounts) {
    scratch_dir d;
    const auto r = run_with(d, network(5, 3));
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const std::string sum = d.read("valley.sum");
    auto v = [&](const char *label) { return valley::summary_value(sum, label); };
    const double taken = v("volume taken by pipe inlets:");
    const double given = v("volume from pipes onto the land:");
    EXPECT_GT(taken, 10.0) << sum;
    EXPECT_GT(given, 1.0) << sum;
    // Printed to 0.1 m3: the event's inputs and outputs from its own lines.
    const double in = v("volume of total rainfall:") + v("initial volume of overland flow:") + given;
    const double out = v("volume of infiltrated water:") + v("volume of discharge:") +
                       v("volume remaining on surface:") + taken + v("volume of direct evaporation:");
    EXPECT_NEAR(in, v("Mass input + original mass:"), 0.2) << sum;
    EXPECT_NEAR(out, v("Mass output + final mass:"), 0.3) << sum;
    // No volume line prints a signed zero.
    EXPECT_EQ(sum.find(" -0.00\n"), std::string::npos) << sum;
}

}  // namespace
