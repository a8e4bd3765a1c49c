// End-to-end runs of korva under gauge and uniform rain on a five-cell cross of
// 100 m cells: the rain volume of the run's mass balance against hand-computed
// totals, and a precipitation file with a record out of order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "support/run_program.h"

namespace {

using testsupport::scratch_dir;

const char *grid_header = "north: 300\nsouth: 0\neast: 300\nwest: 0\nrows: 3\ncols: 3\n";

void write_cross(const scratch_dir &d, const std::string &rain_cards) {
    d.write("mask.asc", std::string(grid_header) + "0 1 0\n1 1 1\n0 1 0\n");
    d.write("elev.asc", std::string(grid_header) + "10 10 10\n10 9 10\n10 8 10\n");
    d.write("rough.asc", std::string(grid_header) + "0.05 0.05 0.05\n0.05 0.05 0.05\n0.05 0.05 0.05\n");
    d.write("p.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nROUGHNESS rough.asc\n"
                     "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 3\nCOLS 3\nGRIDSIZE 100\nTOT_TIME 120\n"
                     "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 30\nHYD_FREQ 5\nMAP_FREQ 60\n"
                     "OUTROW 3\nOUTCOL 2\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\n" +
                         rain_cards);
}

// The number after a label of the summary file; NaN when the label is missing.
double summary_value(const std::string &summary, const std::string &label) {
    const std::size_t at = summary.find(label);
    if (at == std::string::npos) return std::nan("");
    return std::strtod(summary.c_str() + at + label.size(), nullptr);
}


}  // namespace

TEST(KorvaRain, GaugeRainByInverseDistance) {
    scratch_dir d;
    write_cross(d, "PRECIP_FILE storm.gag\nRAIN_INV_DISTANCE\n");
    // 2 and 4 mm in the first 10 minutes at the two gauges, 3 mm at both in the
    // next 20. Weighted by 1/d^2 the cells get 3.5455, 2.4545, 3.0, 3.5455 and
    // 2.4545 mm in the first interval (15 mm summed); 3 mm each in the second.
    d.write("storm.gag", "EVENT test storm\nNRGAG 2\nNRPDS 3\nCOORD 0 0\nCOORD 300 300\n"
                         "GAGES 2021 7 12 14 00 0 0\nGAGES 2021 7 12 14 10 2 4\n"
                         "GAGES 2021 7 12 14 30 3 3\n");
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("Precip. file contains 1 events, simulating first event only"), std::string::npos);
    const std::string summary = d.read("p.sum");
    // (15 + 5 x 3) mm over 10^4 m2 cells.
    EXPECT_NEAR(summary_value(summary, "Total precipitation:"), 300.0, 0.01) << summary;
}

TEST(KorvaRain, UniformRainVolume) {
    scratch_dir d;
    write_cross(d, "PRECIP_UNIF\nRAIN_INTENSITY 36\nRAIN_DURATION 30\n");
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    // 36 mm/h for half an hour on five cells of 10^4 m2.
    EXPECT_NEAR(summary_value(d.read("p.sum"), "Total precipitation:"), 900.0, 0.01);
}

TEST(KorvaRain, RecordOutOfOrderStopsTheRun) {
    scratch_dir d;
    write_cross(d, "PRECIP_FILE storm.gag\nRAIN_THIESSEN\n");
    d.write("storm.gag", "EVENT late\nNRGAG 1\nNRPDS 2\nCOORD 150 150\n"
                         "RATES 2021 7 12 14 00 5\nRATES 2021 7 12 13 59 0\n");
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.out.find("Which is earlier than the date/time on the previous line:  2021/7/12 14:00"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Running...."), std::string::npos);
}
