// Runs korva on the channel-free bundled example with a pipe network of two
// super-junctions and one superlink of two pipes under the valley: the run reads
// both pipe files and places the network on the grid, and a network with a pipe
// of an unknown section stops the run while it is read.
#include <gtest/gtest.h>

#include <string>

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

testsupport::program_result run_with_pipes(const scratch_dir &d, const std::string &net) {
    valley::copy_example(d);
    d.write("valley.net", net);
    d.write("valley.gpi", grid_pipe);
    d.write("valley_overland.prj",
            d.read("valley_overland.prj") + "STORM_SEWER valley.net\nGRID_PIPE valley.gpi\n");
    return d.run(KORVA_EXE, {"valley_overland.prj"});
}

TEST(KorvaPipeNetwork, BothFilesAreReadAndTheNetworkPlacedBeforeTheRun) {
    scratch_dir d;
    const auto r = run_with_pipes(d, network);
    EXPECT_NE(
        r.out.find(
            "Finished reading gridpipe file.\nread superlink pipe file, 2 junctions, 1 links\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("could not be read"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("outside\nthe watershed mask"), std::string::npos) << r.out;
    // The run goes on to its first pipe-network step, which is not built yet.
    EXPECT_NE(r.out.find("Error: the pipe network is not available in this build.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.exit_status, 1);
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
