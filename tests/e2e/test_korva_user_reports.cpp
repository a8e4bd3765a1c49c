// End-to-end runs on what a user reads about a run: the summary's warning report
// after an unknown card, refusals of misplaced table columns and missing index maps
// (each naming its file), the channel series headers (the real start and the steps
// written) and the advice of the bed refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e/channel_lake_plane.h"
#include "support/run_program.h"

namespace {

using testsupport::scratch_dir;

const char *header = "north: 300\nsouth: 0\neast: 300\nwest: 0\nrows: 3\ncols: 3\n";

// A table row: id, description to character 86, values from `column`.
std::string row(int id, const std::string &values, std::size_t column = 87) {
    std::string text = std::to_string(id) + "     loam";
    text.resize(column - 1, ' ');
    return text + values + "\n";
}

// A five-cell cross of 100 m cells under 30 minutes of 36 mm/h, Green and Ampt
// soils from the mapping table a.cmt over soil.idx.
void write_cross(const scratch_dir &d, const std::string &extra_cards, std::size_t column = 87) {
    d.write("mask.asc", std::string(header) + "0 1 0\n1 1 1\n0 1 0\n");
    d.write("elev.asc", std::string(header) + "10 10 10\n10 9 10\n10 8 10\n");
    d.write("soil.idx", std::string(header) + "1 1 1\n1 1 1\n1 1 1\n");
    d.write("a.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"soil.idx\" \"Soils\"\n"
                     "GREEN_AMPT_INFILTRATION \"Soils\"\nNUM_IDS 1\nID DESCRIPTION KS PSI PHI\n" +
                         row(1, "1.09 11.0 0.453 0.32 0.041 0.19", column) +
                         "GREEN_AMPT_INITIAL_SOIL_MOISTURE \"Soils\"\nNUM_IDS 1\nID DESCRIPTION THETA\n" +
                         row(1, "0.15", column));
    d.write("a.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
                     "SUMMARY a.sum\nOUTLET_HYDRO a.otl\nROWS 3\nCOLS 3\nGRIDSIZE 100\nTOT_TIME 60\n"
                     "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 30\nHYD_FREQ 5\nMAP_FREQ 60\n"
                     "OUTROW 3\nOUTCOL 2\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\n"
                     "PRECIP_UNIF\nRAIN_INTENSITY 36\nRAIN_DURATION 30\nMAPPING_TABLE a.cmt\n" +
                         extra_cards);
}

struct report_case {
    const char *name;
    std::function<void(const scratch_dir &)> write;
    int status;
    std::vector<std::string> console;  // each printed, in this order
    std::vector<std::string> summary;  // each in the summary (status 0 only)
    const char *absent;                // printed nowhere
};

TEST(KorvaUserReports, EachRunSaysWhatWentWrongAndWhere) {
    const report_case cases[] = {
        {"misspelt and unknown cards run with a counted warning each",
         [](const scratch_dir &d) { write_cross(d, "GREEN_AMTP\nFOOBARBAZ 2\n"); }, 0,
         {"unknown card found in the project file: green_amtp\n  did you mean GREEN_AMPT?",
          "unknown card found in the project file: foobarbaz\n"},
         {"-The run printed 2 warnings on the console",
          " unknown card in the project file: green_amtp (did you mean GREEN_AMPT?)\n"
          " unknown card in the project file: foobarbaz\n"},
         "No Warnings."},
        {"a spelt card gives no warning", [](const scratch_dir &d) { write_cross(d, "GREEN_AMPT\n"); },
         0, {}, {"THE FOLLOWING WARNINGS ARE GIVEN:\nNo Warnings.\n"}, "unknown card"},
        {"values from character 85 are refused, not read from the middle of 1.09",
         [](const scratch_dir &d) { write_cross(d, "GREEN_AMPT\n", 85); }, 1,
         {"row 1 of the GREEN_AMPT_INFILTRATION table in mapping table file a.cmt: a number "
          "runs across characters 86 and 87; the values begin at character 87"},
         {}, "initial water content > phi"},
        {"a missing index map is named with its mapping table",
         [](const scratch_dir &d) {
             write_cross(d, "GREEN_AMPT\n");
             std::filesystem::remove(d.path() / "soil.idx");
         },
         1, {"unable to open the index map soil.idx, named by an INDEX_MAP line of mapping table file a.cmt "
             "for its GREEN_AMPT_INFILTRATION table\n"},
         {}, "INITIAL_SOIL_MOISTURE table"},  // one refusal, not one per table
    };
    for (const report_case &c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir d;
        c.write(d);
        const auto r = d.run(KORVA_EXE, {"a.prj"});
        EXPECT_EQ(r.exit_status, c.status) << r.out;
        std::size_t at = 0;
        for (const std::string &text : c.console) {
            at = r.out.find(text, at);
            EXPECT_NE(at, std::string::npos) << text << "\n" << r.out;
        }
        const std::string summary = c.status == 0 ? d.read("a.sum") : "";
        for (const std::string &text : c.summary) EXPECT_NE(summary.find(text), std::string::npos) << summary;
        if (c.absent) {
            EXPECT_EQ((r.out + summary).find(c.absent), std::string::npos) << c.absent;
        }
    }
}

// The project of the channel plane of channel_lake_plane.h, its start at 14:30.
std::string channel_project(const std::string &cards) {
    return "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
           "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 5\nCOLS 5\nGRIDSIZE 10\nTOT_TIME 600\n"
           "START_DATE 2021 7 12\nSTART_TIME 14 30\nTIMESTEP 10\nHYD_FREQ 5\nMAP_FREQ 60\n"
           "OUTROW 5\nOUTCOL 3\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\n"
           "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT p.chn\n" + cards;
}

// A gauge whose first record comes 20 minutes before START_TIME; Green and Ampt
// soils dry the surface, and the run ends once its channels drain.
TEST(KorvaUserReports, ChannelSeriesHeadersGiveTheFirstStepAndTheStepsWritten) {
    scratch_dir d;
    channel_lake_plane::write(d);
    channel_lake_plane::write_soil_and_aquifer(d, 3.0);  // for its soil maps
    d.write("p.gag", "EVENT a\nNRGAG 1\nNRPDS 2\nCOORD 25 25\nRATES 2021 7 12 14 10 40.0\n"
                     "RATES 2021 7 12 14 40 0.0\n");
    d.write("p.prj", channel_project("CHAN_DEPTH p.cdp\nCHAN_DISCHARGE p.cq\nPRECIP_FILE p.gag\nRAIN_THIESSEN\n"
                                     "GREEN_AMPT\nCONDUCTIVITY ks.asc\nCAPILLARY psi.asc\nPOROSITY phi.asc\n"
                                     "MOISTURE theta.asc\n"));
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(d.read("p.sum").find("Event began on 07/12/2021 at 14:10"), std::string::npos);
    for (const char *name : {"p.cdp", "p.cq"}) {
        const std::string series = d.read(name);
        int blocks = 0;
        for (const std::string &line : testsupport::split_lines(series)) blocks += line.rfind("TS ", 0) == 0;
        // 600 minutes at 5 promise steps 0 to 120; NUM_TS becomes the last step
        // written, as wide as the 120 it replaces.
        ASSERT_LT(blocks, 121) << name << ": the run did not end early";
        char expected[96];
        std::snprintf(expected, sizeof expected, "NUM_TS        %-3d\nSTART_TIME    12  7 2021 14 10  0\n",
                      blocks - 1);
        EXPECT_NE(series.find(expected), std::string::npos) << series.substr(0, 120);
    }
}

TEST(KorvaUserReports, BedThicknessRefusalNamesTheCardThatHelps) {
    const char *cases[][3] = {  // lake link's cards, project cards, advice
        {"GW_BED_CONDUCTIVITY 3.6\nGW_BED_THICKNESS 1.0\nMLAKE 1.0\n", "",
         "Add GW_BED_THICKNESS (and GW_BED_CONDUCTIVITY) to link 1 in the channel input file p.chn"},
        {"MLAKE 1.0\n", "M_RIVER 0\n",
         "Give M_RIVER a thickness above 0 in the project file, or GW_BED_THICKNESS to link 1"},
    };
    for (const auto &c : cases) {
        scratch_dir d;
        const std::string aquifer = channel_lake_plane::write_soil_and_aquifer(d, 3.0);
        channel_lake_plane::write(d, "", c[0]);
        d.write("p.prj", channel_project("PRECIP_UNIF\nRAIN_INTENSITY 50\nRAIN_DURATION 30\n" + aquifer + c[1]));
        const auto r = d.run(KORVA_EXE, {"p.prj"});
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_NE(r.out.find("the river bed thickness at link 1 node 1 is 0 m"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c[2]), std::string::npos) << r.out;
    }
}

}  // namespace
