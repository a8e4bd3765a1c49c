// Runs korva on a small uniform-rain event whose outputs cannot be written: an
// output name that is a directory, and outputs that go to a full device
// (/dev/full), for every kind of output; each run must end with status 1 and a
// message naming the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

// 3 x 3 cells of 30 m sloping south; 10 mm/h for 30 minutes of a 60-minute run.
std::string project(const std::string &summary, const std::string &outlet,
                    const std::string &extra_cards) {
    return "KORVAPROJECT\n"
           "WATERSHED_MASK basin.mask\n"
           "ELEVATION basin.elv\n"
           "SUMMARY " + summary + "\n"
           "OUTLET_HYDRO " + outlet + "\n"
           "ROWS 3\nCOLS 3\nGRIDSIZE 30\nTOT_TIME 60\n"
           "START_DATE 2020 6 1\nSTART_TIME 12 0\nTIMESTEP 30\nHYD_FREQ 5\nMAP_FREQ 15\n" +
           extra_cards +
           "OVERTYPE explicit\n"
           "OUTROW 3\nOUTCOL 2\nOUTSLOPE 0.001\nMANNING_N 0.035\n"
           "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n";
}

void write_grids(const scratch_dir &d) {
    const std::string head = "north: 90\nsouth: 0\neast: 90\nwest: 0\nrows: 3\ncols: 3\n";
    d.write("basin.mask", head + "1 1 1\n1 1 1\n1 1 1\n");
    d.write("basin.elv", head + "3 3 3\n2 2 2\n1 1 1\n");
}

struct output_case {
    const char *what;
    const char *summary;
    const char *outlet;
    const char *cards;
    const char *blocked;  // the output that cannot be written
    const char *message;  // what the run prints about it
};

// Every kind of output: the summary and outlet hydrograph (written through the
// run), a data set, a per-time map, and the files written at the end of the run.
const output_case output_kinds[] = {
    {"summary", "BLOCKED", "run.otl", "", "BLOCKED", "BLOCKED"},
    {"outlet hydrograph", "run.sum", "BLOCKED", "", "BLOCKED", "BLOCKED"},
    {"data set", "run.sum", "run.otl", "MAP_TYPE 2\nDEPTH BLOCKED\n", "BLOCKED", "BLOCKED"},
    {"per-time map", "run.sum", "run.otl", "MAP_TYPE 0\nDEPTH depth.txt\n", "depth/depth.01",
     "depth/depth.01"},
    {"pre-processor hydrograph", "run.sum", "run.otl", "ZEP_HYDRO BLOCKED\n", "BLOCKED",
     "BLOCKED"},
    {"overland hotstart", "run.sum", "run.otl", "WRITE_OV_HOTSTART BLOCKED\n", "BLOCKED",
     "BLOCKED"},
};

scratch_dir &prepare(scratch_dir &d, const output_case &c) {
    write_grids(d);
    std::filesystem::create_directories(d.path() / "depth");
    d.write("basin.prj", project(c.summary, c.outlet, c.cards));
    return d;
}

TEST(KorvaFailedWrites, TheRunsWriteEveryOutputWhenNothingIsBlocked) {
    // The same projects with a writable name end normally: the failures below
    // come from the blocked output alone.
    for (const output_case &c : output_kinds) {
        scratch_dir d;
        prepare(d, c);
        const auto r = d.run(KORVA_EXE, {"basin.prj"});
        EXPECT_EQ(r.exit_status, 0) << c.what << "\n" << r.out;
        EXPECT_TRUE(d.exists(c.blocked)) << c.what;
    }
}

TEST(KorvaFailedWrites, OutputNamedLikeADirectoryEndsWithStatusOne) {
    for (const output_case &c : output_kinds) {
        scratch_dir d;
        prepare(d, c);
        std::filesystem::create_directories(d.path() / c.blocked);
        const auto r = d.run(KORVA_EXE, {"basin.prj"});
        EXPECT_EQ(r.exit_status, 1) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.what << "\n" << r.out;
    }
}

TEST(KorvaFailedWrites, OutputOnAFullDeviceEndsWithStatusOneNamingTheFile) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    for (const output_case &c : output_kinds) {
        scratch_dir d;
        prepare(d, c);
        std::filesystem::create_symlink("/dev/full", d.path() / c.blocked);
        const auto r = d.run(KORVA_EXE, {"basin.prj"});
        EXPECT_EQ(r.exit_status, 1) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find(std::string("Error: unable to write the output file ") + c.message +
                             "\n"),
                  std::string::npos)
            << c.what << "\n" << r.out;
    }
}

}  // namespace

namespace {

// A run stopped by SIGTERM while it waits on an input (a named pipe that no one
// writes) removes its staged results and its lock marker; the results that an
// earlier run left stay as they were.
TEST(KorvaFailedWrites, StopSignalRemovesTheStagedFilesAndKeepsTheEarlierResults) {
    scratch_dir d;
    write_grids(d);
    d.write("basin.prj", project("run.sum", "run.otl", "GREEN_AMPT\nMOISTURE moist.map\n"));
    d.write("run.sum", "earlier summary\n");
    const std::string script =
        "mkfifo moist.map && { \"" KORVA_EXE "\" basin.prj > korva.txt & pid=$!; i=0; "
        "while [ ! -e run.sum.part ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done; "
        "kill -TERM $pid; wait $pid; echo \"status $?\"; }";
    const auto r = d.run("/bin/sh", {"-c", script});
    EXPECT_NE(r.out.find("status 143"), std::string::npos) << r.out << r.err;
    for (const char *left : {"run.sum.part", "run.otl.part", ".korva-run.lock", "run.otl"})
        EXPECT_FALSE(d.exists(left)) << left;
    EXPECT_EQ(d.read("run.sum"), "earlier summary\n");
}

}  // namespace
