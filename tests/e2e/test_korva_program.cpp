// Runs the real korva program in a temporary working directory: exit status and
// console text of the command-line modes, a missing or malformed project file,
// the run-time line of "out_time.dat", and a run that stops at the inputs.
#include <gtest/gtest.h>

#include <string>

#include "support/run_program.h"

using testsupport::scratch_dir;
using testsupport::split_lines;

namespace {

const std::string starting = "Serial version of KORVA starting...\n";

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// A project that passes the option checks and names every always-opened file.
const std::string small_project =
    "KORVAPROJECT\n"
    "# a small uniform-rain event\n"
    "WATERSHED_MASK basin.mask\n"
    "ELEVATION basin.elv\n"
    "SUMMARY run.sum\n"
    "OUTLET_HYDRO run.otl\n"
    "ROWS 3\n"
    "COLS 3\n"
    "GRIDSIZE 30\n"
    "TOT_TIME 60\n"
    "START_DATE 2020 6 1\n"
    "START_TIME 12 0\n"
    "TIMESTEP 30\n"
    "HYD_FREQ 5\n"
    "MAP_FREQ 60\n"
    "OUTROW 2\n"
    "OUTCOL 2\n"
    "OUTSLOPE 0.001\n"
    "MANNING_N 0.035\n"
    "PRECIP_UNIF\n"
    "RAIN_INTENSITY 10\n"
    "RAIN_DURATION 30\n";

TEST(KorvaProgram, NoArgumentsPrintsTheUsage) {
    scratch_dir d;
    auto r = d.run(KORVA_EXE);
    EXPECT_EQ(r.exit_status, 0);
    ASSERT_EQ(r.out.substr(0, starting.size()), starting);
    EXPECT_EQ(r.out.substr(starting.size(), 36), "\nUsage: korva [-option] [inputfile]\n");
    EXPECT_EQ(split_lines(r.out).size(), 34u);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(d.exists("out_time.dat"));
}

TEST(KorvaProgram, VersionWithAWordPrintsTheBanner) {
    scratch_dir d;
    auto r = d.run(KORVA_EXE, {"-v", "x"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out.substr(0, starting.size() + 36),
              starting + "\nKORVA Alpha version Tarvel 5.00f\n \n");
    EXPECT_TRUE(contains(r.out, "Intended for use with ZEP Version 8.1 or higher\n \n"));
    EXPECT_FALSE(d.exists("out_time.dat"));
}

TEST(KorvaProgram, OptionsThatDoNothing) {
    for (const auto &args : {std::vector<std::string>{"-b3", "x"},
                             std::vector<std::string>{"-h", "-b"},
                             std::vector<std::string>{"-s", "sens.in"}}) {
        scratch_dir d;
        auto r = d.run(KORVA_EXE, args);
        EXPECT_EQ(r.exit_status, 0) << args[0];
        EXPECT_EQ(r.out, starting) << args[0];
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(d.exists("out_time.dat"));
    }
}

TEST(KorvaProgram, UnknownOptionPrintsTheUsage) {
    scratch_dir d;
    auto r = d.run(KORVA_EXE, {"-x", "project.prj"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_TRUE(contains(r.out, "Usage: korva [-option] [inputfile]\n"));
    r = d.run(KORVA_EXE, {"-tv", "project.prj"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_TRUE(contains(r.out, "Usage: korva [-option] [inputfile]\n"));
}

TEST(KorvaProgram, MissingProjectFileEndsWithStatusOneAndItsRunTime) {
    scratch_dir d;
    auto r = d.run(KORVA_EXE, {"missing.prj"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "Error opening project file named: missing.prj\n");
    EXPECT_TRUE(contains(r.out, "\nError: The specified project file was not found.\n"));
    EXPECT_TRUE(contains(r.out, "Run time: "));
    auto lines = split_lines(d.read("out_time.dat"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 16), "total time (s): ");

    // Each run appends its own line.
    d.run(KORVA_EXE, {"missing.prj"});
    EXPECT_EQ(split_lines(d.read("out_time.dat")).size(), 2u);
}

TEST(KorvaProgram, SingleOptionWordIsTheProjectFile) {
    scratch_dir d;
    auto r = d.run(KORVA_EXE, {"-v"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "Error opening project file named: -v\n");
    EXPECT_TRUE(d.exists("out_time.dat"));
}

TEST(KorvaProgram, WrongHeaderIsRefused) {
    scratch_dir d;
    d.write("dos.prj", "KORVA PROJECT\r\nROWS 3\r\n");
    auto r = d.run(KORVA_EXE, {"dos.prj"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err,
              "File Does not Appear to be a Valid KORVA/TULM2D Project file\n"
              "Perhaps you Should Issue a 'dos2unix' Command if you are on a Unix machine?\n"
              "KORVA Terminating....\n");
    EXPECT_EQ(split_lines(d.read("out_time.dat")).size(), 1u);
}

TEST(KorvaProgram, InputsAreEchoedAndAMissingFeatureStopsClearly) {
    scratch_dir d;
    d.write("basin.prj", small_project);
    d.write("basin.mask", "north: 90\nsouth: 0\neast: 90\nwest: 0\nrows: 3\ncols: 3\n1 1 1\n1 1 1\n1 1 1\n");
    d.write("basin.elv", "north: 90\nsouth: 0\neast: 90\nwest: 0\nrows: 3\ncols: 3\n3 3 3\n2 2 2\n1 1 1\n");
    auto r = d.run(KORVA_EXE, {"basin.prj"});
    const std::string summary = d.read("run.sum");
    EXPECT_TRUE(contains(summary, "reading watershed mask from file: basin.mask\n"
                                  "number of grid cells in watershed: 9\n"
                                  "reading elevation map from file: basin.elv\n"
                                  "outlet is in grid cell: 5\n"))
        << summary;
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(d.exists("run.sum"));
    EXPECT_TRUE(d.exists("run.otl"));
    EXPECT_EQ(split_lines(d.read("out_time.dat")).size(), 1u);
}

}  // namespace

TEST(KorvaProgram, GridTooLargeToAllocateStopsBeforeTheMaskIsRead) {
    scratch_dir d;
    std::string project = small_project;
    project.replace(project.find("ROWS 3\n"), 7, "ROWS 2000000000\n");
    project.replace(project.find("COLS 3\n"), 7, "COLS 2000000000\n");
    d.write("basin.prj", project);
    d.write("basin.mask", "north: 90\nsouth: 0\neast: 90\nwest: 0\nrows: 3\ncols: 3\n1 1 1\n1 1 1\n1 1 1\n");
    d.write("basin.elv", "north: 90\nsouth: 0\neast: 90\nwest: 0\nrows: 3\ncols: 3\n3 3 3\n2 2 2\n1 1 1\n");
    auto r = d.run(KORVA_EXE, {"basin.prj"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "Error allocating memory for variable mask\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "Incorrect number of rows")) << r.out;
    EXPECT_EQ(split_lines(d.read("out_time.dat")).size(), 1u);
}
