// Whole runs of a small valley whose two channel links are joined by a structure
// link of a weir and a culvert: the state files hold the computational nodes, a
// second run in the same process, as calibration makes, repeats the first, and a
// weir crest below the channel bed above it stops the run before it starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/project/run_model.h"
#include "tests/support/run_program.h"

namespace {

const char *grid_header = "north: 600\nsouth: 0\neast: 300\nwest: 0\nrows: 6\ncols: 3\n";

// Six rows of 100 m falling 0.5 m a row; the middle column carries link 1 (rows
// 1-3) and link 3 (rows 4-6), each of four points bounding three nodes.
void write_project(testsupport::scratch_dir &d, const std::string &extra_cards) {
    const std::string h = grid_header;
    d.write("mask.asc", h + "1 1 1\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n");
    d.write("elev.asc", h + "12.5 12 12.5\n12 11.5 12\n11.5 11 11.5\n11 10.5 11\n10.5 10 10.5\n"
                            "10 9.5 10\n");
    d.write("rough.asc", h + "0.05 0.05 0.05\n0.05 0.05 0.05\n0.05 0.05 0.05\n0.05 0.05 0.05\n"
                             "0.05 0.05 0.05\n0.05 0.05 0.05\n");
    d.write("links.asc", h + "0 1 0\n0 1 0\n0 1 0\n0 3 0\n0 3 0\n0 3 0\n");
    d.write("nodes.asc", h + "0 1 0\n0 2 0\n0 3 0\n0 1 0\n0 2 0\n0 3 0\n");
    const std::string section = "XSEC\nBOTTOM_WIDTH 4.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 1.0\n";
    d.write("chan.chn",
            "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 3\nMAXNODES 4\nCONNECT 1 2 0\n"
            "CONNECT 2 3 1 1\nCONNECT 3 0 1 2\n"
            "LINK 1\nDX 100.0\nNODES 4\nTRAPEZOID\nMANNINGS_N 0.035\nNODE 1\nELEV 11.25\n" +
                section +
                "NODE 2\nELEV 10.75\nNODE 3\nELEV 10.25\nNODE 4\nELEV 9.75\n"
                "LINK 2\nSTRUCTURE\nNUMSTRUCTS 2\nSTRUCTTYPE WEIR\nCREST_LENGTH 4.0\n"
                "CREST_LOW_ELEV 10.2\nDISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n"
                "STRUCTTYPE ROUND_CULVERT\nLENGTH 10.0\nUPINVERT 10.0\nDOWNINVERT 9.9\n"
                "DIAMETER 0.5\nROUGH_COEFF 0.013\nINLET_DISCH_COEFF 0.6\nREV_FLOW_DISCH_COEFF 0.6\n"
                "LINK 3\nDX 100.0\nNODES 4\nTRAPEZOID\nMANNINGS_N 0.035\nNODE 1\nELEV 9.75\n" +
                section + "NODE 2\nELEV 9.25\nNODE 3\nELEV 8.75\nNODE 4\nELEV 8.25\n");
    d.write("p.prj",
            "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nROUGHNESS rough.asc\n"
            "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 6\nCOLS 3\nGRIDSIZE 100\nTOT_TIME 120\n"
            "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 5\nHYD_FREQ 5\nMAP_FREQ 60\n"
            "OUTROW 6\nOUTCOL 2\nOUTSLOPE 0.005\nOVERTYPE explicit\nQUIET\nPRECIP_UNIF\n"
            "RAIN_INTENSITY 40\nRAIN_DURATION 30\nCHAN_EXPLIC\nLINKS links.asc\n"
            "NODES nodes.asc\nCHANNEL_INPUT chan.chn\nCHAN_DISCHARGE p.cq\n"
            "CHAN_VELOCITY p.cv\nWRITE_CHAN_HOTSTART p.hot\n" +
                extra_cards);
}

class StructureRuns : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        old_dir = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
    }
    void TearDown() override {
        std::filesystem::current_path(old_dir);
        reset_process_globals();
    }
    std::string run(const std::string &project) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        run_model(project, nullptr);
        testing::internal::GetCapturedStderr();
        return testing::internal::GetCapturedStdout();
    }
    testsupport::scratch_dir dir;
    std::filesystem::path old_dir;
};

TEST_F(StructureRuns, StateFilesHoldTheComputationalNodesOnly) {
    write_project(dir, "");
    const std::string out = run("p.prj");
    ASSERT_EQ(error_record.fatal, 0) << out;
    // Three nodes of each channel link, the two of the structure; no record for
    // the fourth point that bounds a channel link.
    const std::vector<std::string> hot = testsupport::split_lines(dir.read("p.hot"));
    ASSERT_EQ(hot.size(), 8u) << dir.read("p.hot");
    int link = 0, node = 0;
    double depth = 0.0, q = 0.0;
    ASSERT_EQ(std::sscanf(hot[2].c_str(), "%d %d %lf %lf", &link, &node, &depth, &q), 4);
    EXPECT_EQ(link, 1);
    EXPECT_EQ(node, 3);
    EXPECT_GT(depth, 0.0);
    ASSERT_EQ(std::sscanf(hot[3].c_str(), "%d %d", &link, &node), 2);
    EXPECT_EQ(link, 2);
    // Every channel line of the velocity series has as many values as its count.
    int lines = 0;
    for (const std::string &line : testsupport::split_lines(dir.read("p.cv"))) {
        if (line.empty() || line.rfind("TS", 0) == 0 || line.rfind("-2", 0) == 0 ||
            line.rfind("0  -999.999", 0) == 0)
            continue;
        std::istringstream in(line);
        int count = 0, flag = 0, pairs = 0;
        double value = 0.0;
        ASSERT_TRUE(in >> count) << line;
        while (in >> flag >> value) ++pairs;
        EXPECT_EQ(count, 3) << line;
        EXPECT_EQ(pairs, count) << line;
        ++lines;
    }
    EXPECT_GT(lines, 0);
}

TEST_F(StructureRuns, SecondRunRepeatsTheFirstAndTheHotstartReadsBack) {
    write_project(dir, "");
    const std::string first_out = run("p.prj");
    ASSERT_EQ(error_record.fatal, 0) << first_out;
    const std::string hydrograph = dir.read("p.otl"), summary = dir.read("p.sum"),
                      flows = dir.read("p.cq"), hotstart = dir.read("p.hot");
    ASSERT_FALSE(hydrograph.empty());

    const std::string second_out = run("p.prj");
    ASSERT_EQ(error_record.fatal, 0) << second_out;
    EXPECT_EQ(dir.read("p.otl"), hydrograph);
    EXPECT_EQ(dir.read("p.sum"), summary);
    EXPECT_EQ(dir.read("p.cq"), flows);
    EXPECT_EQ(dir.read("p.hot"), hotstart);

    // A run that starts from the written state and stops after its first step
    // writes it back (still depths would be 0 without the hotstart).
    std::filesystem::rename("p.hot", "start.hot");
    write_project(dir, "READ_CHAN_HOTSTART start.hot\n");
    std::string prj = dir.read("p.prj");
    prj.replace(prj.find("TOT_TIME 120"), 12, "TOT_TIME 0");
    prj.replace(prj.find("RAIN_INTENSITY 40"), 17, "RAIN_INTENSITY 0.001");
    dir.write("p.prj", prj);
    const std::string third_out = run("p.prj");
    ASSERT_EQ(error_record.fatal, 0) << third_out;
    const std::vector<std::string> again = testsupport::split_lines(dir.read("p.hot"));
    const std::vector<std::string> before = testsupport::split_lines(hotstart);
    ASSERT_EQ(again.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        int l1 = 0, n1 = 0, l2 = 0, n2 = 0;
        double d1 = 0, q1 = 0, d2 = 0, q2 = 0;
        ASSERT_EQ(std::sscanf(before[i].c_str(), "%d %d %lf %lf", &l1, &n1, &d1, &q1), 4);
        ASSERT_EQ(std::sscanf(again[i].c_str(), "%d %d %lf %lf", &l2, &n2, &d2, &q2), 4);
        EXPECT_EQ(l1, l2);
        EXPECT_EQ(n1, n2);
        if (l1 != 2) {
            EXPECT_NEAR(d2, d1, 3e-3) << before[i];  // within one routing step
        }
    }
}

TEST_F(StructureRuns, WeirCrestBelowTheUpstreamBedStopsBeforeRouting) {
    // The last node of link 1 has bed (10.25 + 9.75) / 2 = 10; a crest at 9.8
    // would draw that node below empty.
    write_project(dir, "");
    std::string chan = dir.read("chan.chn");
    chan.replace(chan.find("CREST_LOW_ELEV 10.2"), 19, "CREST_LOW_ELEV 9.8");
    dir.write("chan.chn", chan);
    const std::string out = run("p.prj");
    EXPECT_NE(error_record.fatal, 0);
    EXPECT_NE(out.find("the weir of structure link 2 (structure 1) has its crest (CREST_LOW_ELEV) "
                       "at 9.8000,\nbelow the bed elevation 10.0000 of the last node (node 3) "
                       "of upstream link 1."),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("getting really small"), std::string::npos) << out;
}

}  // namespace
