// Runs korva on the bundled example with a pipe network of two super-junctions
// and one superlink of two pipes under the valley: the channel-free project with
// tile drains and an outlet onto the land runs to its end and its surface balance
// closes with the pipe exchange; the channel project hands its outlet's water to
// the channel; a pipe of an unknown section stops the run while it is read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;

namespace {

// Junctions at grid column 30 of rows 10 and 20, the middle node at row 15.
const std::string network =
    "SJUNC 1 103.0 100.0 1.0 5 885.0 1785.0 30 10\n"
    "SJUNC 2 102.0 99.0 1.0 0 885.0 1485.0 30 20\n"
    "CONNECT 1 1 2\n"
    "SLINK 1 2\n"
    "NODE 1 103.0 100.0 0.5 0 885.0 1785.0 30 10\n"
    "NODE 2 102.5 99.5 0.5 3 885.0 1635.0 30 15\n"
    "NODE 3 102.0 99.0 0.5 0 885.0 1485.0 30 20\n"
    "PIPE 1 1 0.6 0.0 0.0033 0.013 150.0 0.0\n"
    "PIPE 2 1 0.6 0.0 0.0033 0.013 150.0 0.0\n";

// The cell of the middle node: (i, j) = (31, 16) is row 15, column 30.
const std::string grid_pipe =
    "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 31 16\nNUMPIPES 1\nSPIPE 1 2 1.0\n";

// The project `prj` of the example, one hour long, with the two pipe files.
testsupport::program_result run_with_pipes(const scratch_dir &d, const std::string &net,
                                           const std::string &prj = "valley_overland.prj") {
    valley::copy_example(d);
    d.write("valley.net", net);
    d.write("valley.gpi", grid_pipe);
    d.write("slink/.keep", "");
    d.write("debug/.keep", "");
    std::string project = d.read(prj);
    project.replace(project.find("TOT_TIME 360"), 12, "TOT_TIME 60");
    d.write(prj, project + "STORM_SEWER valley.net\nGRID_PIPE valley.gpi\n");
    return d.run(KORVA_EXE, {prj});
}

// The value after `label` in the last report of the pipe network on the console.
double last_report_value(const std::string &out, const std::string &label) {
    const std::size_t at = out.rfind(label);
    if (at == std::string::npos) return NAN;
    return std::strtod(out.c_str() + at + label.size(), nullptr);
}

TEST(KorvaPipeNetwork, TileDrainedNetworkRunsToItsEndAndTheSurfaceBalanceCloses) {
    scratch_dir d;
    // Junction 2 puts its outflow onto its own cell; pipe 2 is a tile drain.
    std::string net = network;
    net.replace(net.find("1.0 0 885.0 1485.0"), 18, "1.0 888 885.0 1485.0");
    const std::size_t last_pipe = net.rfind("150.0 0.0\n");
    net.replace(last_pipe, 10, "150.0 0.5\n");
    const auto r = run_with_pipes(d, net);
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_NE(
        r.out.find(
            "Finished reading gridpipe file.\nread superlink pipe file, 2 junctions, 1 links\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("not available"), std::string::npos);
    EXPECT_NE(r.out.find("SUPERLINK Mass Balance Report\n"), std::string::npos);
    EXPECT_EQ(d.read("debug/debug2.out"), "  U      V       W        X       Y       Z\n");
    EXPECT_TRUE(d.exists("slink/head.out"));
    // The inlet took water from the land, and no water table feeds the tile drain.
    const double taken = last_report_value(r.out, "Total Volume In:");
    EXPECT_GT(taken, 10.0);
    EXPECT_EQ(last_report_value(r.out, "Total tile flow taken:"), 0.0);
    const std::string summary = d.read("valley.sum");
    EXPECT_NEAR(valley::summary_value(summary, "Taken by pipe inlets:"), taken, 0.01);
    EXPECT_GT(valley::summary_value(summary, "Spilled from pipes onto the land:"), 0.0);
    EXPECT_NEAR(valley::summary_value(summary, "Mass balance error of surface components ="), 0.0,
                1e-5)
        << summary;
    EXPECT_NEAR(valley::summary_value(summary, "mass conservation error:"), 0.0, 1e-4) << summary;
}

TEST(KorvaPipeNetwork, OutletIntoTheChannelHandsItsWaterToTheChannel) {
    scratch_dir d;
    // Junction 1 drains into the channel node on its cell (column 30, row 20);
    // junction 2, an inlet beside the channel, feeds it.
    const std::string net =
        "SJUNC 1 102.0 99.0 1.0 999 885.0 1485.0 30 20\n"
        "SJUNC 2 103.0 100.0 1.0 5 855.0 1785.0 29 10\n"
        "CONNECT 1 2 1\n"
        "SLINK 1 2\n"
        "NODE 1 103.0 100.0 0.5 0 855.0 1785.0 29 10\n"
        "NODE 2 102.5 99.5 0.5 0 885.0 1635.0 30 15\n"
        "NODE 3 102.0 99.0 0.5 0 885.0 1485.0 30 20\n"
        "PIPE 1 1 0.6 0.0 0.0033 0.013 150.0 0.0\n"
        "PIPE 2 1 0.6 0.0 0.0033 0.013 150.0 0.0\n";
    const auto r = run_with_pipes(d, net, "valley.prj");
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("not found"), std::string::npos) << r.out;
    // What left the pipes (total out less the spills) arrived in the channel, but
    // for the flow of the last pipe step, which the run ends before routing.
    const double out = last_report_value(r.out, "Total Volume Out:") -
                       last_report_value(r.out, "Outflow Volume to surcharged inlets:");
    EXPECT_GT(out, 10.0);
    const std::string summary = d.read("valley.sum");
    const double arrived = valley::summary_value(summary, "Pipe outflow into channels:");
    EXPECT_NEAR(arrived, out, 0.02 + 0.01 * out) << summary;
    EXPECT_NEAR(valley::summary_value(summary, "Mass balance error of surface components ="), 0.0,
                1e-5)
        << summary;
    EXPECT_NEAR(valley::summary_value(summary, "mass conservation error:"), 0.0, 1e-4) << summary;
}

TEST(KorvaPipeNetwork, UnknownPipeSectionStopsTheRunWhileReading) {
    scratch_dir d;
    std::string net = network;
    net.replace(net.find("PIPE 2 1 "), 9, "PIPE 2 4 ");
    const auto r = run_with_pipes(d, net);
    EXPECT_NE(
        r.out.find(
            "Error: pipe cross-section type not valid.\n"
            "Error: the pipe network in files valley.net and valley.gpi could not be read.\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("read superlink pipe file"), std::string::npos);
    EXPECT_EQ(r.exit_status, 1);
}

}  // namespace
