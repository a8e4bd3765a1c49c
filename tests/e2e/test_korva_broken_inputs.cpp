// Runs korva on a small uniform-rain event with one input broken at a time: a
// project-file number, a grid map cell and the precipitation file. Each run must
// end with status 1 and the message that names the broken input.
#include <gtest/gtest.h>

#include <string>

#include "broken_case.h"
#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

const std::string head = "north: 90\nsouth: 0\neast: 90\nwest: 0\nrows: 3\ncols: 3\n";

const std::string good_project =
    "KORVAPROJECT\n"
    "WATERSHED_MASK basin.mask\n"
    "ELEVATION basin.elv\n"
    "SUMMARY run.sum\n"
    "OUTLET_HYDRO run.otl\n"
    "ROWS 3\nCOLS 3\nGRIDSIZE 30\nTOT_TIME 60\n"
    "START_DATE 2020 6 1\nSTART_TIME 12 0\nTIMESTEP 30\nHYD_FREQ 5\nMAP_FREQ 15\n"
    "OVERTYPE explicit\n"
    "OUTROW 3\nOUTCOL 2\nOUTSLOPE 0.001\nMANNING_N 0.035\n"
    "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n";

const broken_case cases[] = {
    {"slope not a number", "OUTSLOPE 0.001", "OUTSLOPE NaN", "", "",
     "Error: card OUTSLOPE: the value \"NaN\" is not a finite number\n"},
    {"time overflowing an integer", "START_TIME 12 0", "START_TIME 14 12345678901234567890", "",
     "", "Error: card START_TIME: the value \"12345678901234567890\" is not an integer\n"},
    {"total time without a value", "TOT_TIME 60", "TOT_TIME", "", "",
     "Error: card TOT_TIME has no value\n"},
    {"elevation cell that is text", "", "", "basin.elv", "3 3 3\n2 abc 2\n1 1 1\n",
     "Error: map basin.elv, row 2, column 2: \"abc\" is not a finite number\n"},
    {"mask value of twenty digits", "", "", "basin.mask", "1 1 1\n1 1 1\n1 1 99999999999999999999\n",
     "Error: unreadable value at row 3, column 3 of map: basin.mask\n"},
    {"empty precipitation file", "PRECIP_UNIF\nRAIN_INTENSITY 10\nRAIN_DURATION 30\n",
     "PRECIP_FILE rain.gag\n", "rain.gag", "",
     "Error: the precipitation file rain.gag holds no event that can be read.\n"},
    {"groundwater time step of 0", "MANNING_N 0.035", "MANNING_N 0.035\nGW_TIMESTEP 0", "", "",
     "Error: card GW_TIMESTEP: the value \"0\" lies outside its range (more than 0, at most "
     "86400)\n"},
    {"outlet row left out", "OUTROW 3\n", "", "", "",
     "Error: the project file has no card OUTROW; the row of the outlet cell is required (1 or "
     "more).\n"},
    {"location count past an integer", "MANNING_N 0.035",
     "MANNING_N 0.035\nIN_THETA_LOCATION t.txt\nOUT_THETA_LOCATION t.out", "t.txt",
     "99999999999\n1 1\n", "Error: file t.txt gives 99999999999 soil-moisture locations\n"},
};

// A card word of 100,000 characters is warned about by its first 40 and its length.
TEST(KorvaBrokenInputs, ALongUnknownCardIsQuotedByItsStart) {
    scratch_dir d;
    d.write("basin.mask", head + "1 1 1\n1 1 1\n1 1 1\n");
    d.write("basin.elv", head + "3 3 3\n2 2 2\n1 1 1\n");
    d.write("basin.prj", good_project + std::string(100000, 'x') + "\n");
    const auto r = d.run(KORVA_EXE, {"basin.prj"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("Warning: unknown card found in the project file: " + std::string(40, 'x') +
                         "... (100000 characters)\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find(std::string(41, 'x')), std::string::npos);
    EXPECT_FALSE(d.exists(".korva-run.lock"));  // a run that ended leaves no lock marker
}

TEST(KorvaBrokenInputs, EachBrokenInputEndsTheRunWithStatusOneAndItsMessage) {
    {
        scratch_dir d;
        d.write("basin.mask", head + "1 1 1\n1 1 1\n1 1 1\n");
        d.write("basin.elv", head + "3 3 3\n2 2 2\n1 1 1\n");
        d.write("basin.prj", good_project);
        const auto r = d.run(KORVA_EXE, {"basin.prj"});
        ASSERT_EQ(r.exit_status, 0) << r.out;  // the unbroken run ends normally
    }
    for (const broken_case &c : cases) {
        scratch_dir d;
        d.write("basin.mask", head + "1 1 1\n1 1 1\n1 1 1\n");
        d.write("basin.elv", head + "3 3 3\n2 2 2\n1 1 1\n");
        const std::string file = c.file;
        if (!file.empty()) d.write(file, (file.rfind("basin.", 0) == 0 ? head : "") + c.text);
        expect_refused(d, "basin.prj", good_project, c);
    }
}

}  // namespace
