// The step-convergence matrix, the twin of the combination matrix: a small case per scheme that
// steps in time, run at its ordinary step, a tenth and a twentieth of it (step_convergence.h).
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "e2e/step_convergence.h"

namespace {
using namespace project_text;

// A plane of 30 cells of 10 m in a row, slope 0.005, n 0.1, 100 mm/h for 50 min (it reaches
// equilibrium near 42 min), 80 min run. At 30 s the ADE schemes need sub-steps and must say so;
// every run closes its balance by hand: the rain is 100 mm/h x 3000 m2 x 50 min = 250 m3.
TEST(StepConvergence, OverlandSchemesGiveAtTheirStepWhatATenthOfItGives) {
    const struct { const char *scheme; double step; bool cut; } rows[] = {
        {"explicit", 20, false}, {"ade", 20, false}, {"ade-pc", 20, false}, {"ade", 30, true}, {"ade-pc", 30, true}};
    for (const auto &r : rows) {
        const std::string tag = r.scheme + std::string(" ") + number(r.step);
        auto write = [&](const testsupport::scratch_dir &dir, double step) {
            dir.write("g.msk", grid_of(1, 30, 10.0, [](int, int) { return std::string("1"); }));
            dir.write("g.ele", grid_of(1, 30, 10.0, [](int, int c) { return number(100.0 + 0.05 * (30 - c)); }));
            dir.write("project.prj", "KORVAPROJECT\nWATERSHED_MASK g.msk\nELEVATION g.ele\nSUMMARY g.sum\nOUTLET_HYDRO g.otl\n"
                                     "SIG_OUTLET_HYDRO g.sig\n"
                                     "ROWS 1\nCOLS 30\nGRIDSIZE 10\nSTART_DATE 2000 1 1\nSTART_TIME 0 0\nTOT_TIME 80\nHYD_FREQ 1\n"
                                     "MAP_FREQ 600\nOUTROW 1\nOUTCOL 30\nOUTSLOPE 0.005\nMANNING_N 0.1\nPRECIP_UNIF\nRAIN_INTENSITY 100\n"
                                     "RAIN_DURATION 50\nQUIET\nOVERTYPE " + std::string(r.scheme) + "\nTIMESTEP " + number(step) + "\n");
        };
        const auto runs = step_convergence::expect_converges(write, r.step, "g.sig", "g.sum", "volume of discharge:", tag);
        for (const auto &run : runs) {
            const double rain = value_after(run.summary, "volume of total rainfall:");
            EXPECT_NEAR(rain, 250.0, 0.05) << tag;
            EXPECT_NEAR(rain, value_after(run.summary, "volume of discharge:") + value_after(run.summary, "volume remaining on surface:"), 0.1) << tag;
        }
        long cut = -1, steps = -1;  // the summary's count of cut steps and of steps
        double shortest = 0.0;
        const std::string &sum = runs[0].summary;
        const std::size_t at = sum.find("Overland steps cut:");
        EXPECT_TRUE(at != std::string::npos &&
                    std::sscanf(sum.c_str() + at, "Overland steps cut: %ld of %ld, shortest step %lf", &cut, &steps, &shortest) == 3) << tag;
        EXPECT_TRUE(!r.cut || (cut > 0 && shortest < r.step)) << tag << " " << cut << " " << shortest;
    }
}

// A plane of 60 x 61 cells of 10 m, slope 0.01 down the rows and 0.005 towards the centre
// column, n 0.05, 30 mm/h for 30 min, 40 min run, outlet at the foot of the centre column: at
// 5 s the centre column's faces fail their checks and take sub-steps of their own (the rest of
// the grid its whole steps). The rain is 0.015 m x 366000 m2 = 5490 m3.
TEST(StepConvergence, ExplicitPlaneCutWhereItsCentreColumnNeedsIt) {
    auto write = [](const testsupport::scratch_dir &dir, double step) {
        dir.write("g.msk", grid_of(60, 61, 10.0, [](int, int) { return std::string("1"); }));
        dir.write("g.ele", grid_of(60, 61, 10.0, [](int r, int c) { return number(100.0 + 0.1 * (60 - r) + 0.05 * std::abs(c - 31)); }));
        dir.write("project.prj", "KORVAPROJECT\nWATERSHED_MASK g.msk\nELEVATION g.ele\nSUMMARY g.sum\nOUTLET_HYDRO g.otl\nSIG_OUTLET_HYDRO g.sig\n"
                                 "ROWS 60\nCOLS 61\nGRIDSIZE 10\nSTART_DATE 2000 1 1\nSTART_TIME 0 0\nTOT_TIME 40\nHYD_FREQ 1\n"
                                 "MAP_FREQ 600\nOUTROW 60\nOUTCOL 31\nOUTSLOPE 0.01\nMANNING_N 0.05\nPRECIP_UNIF\nRAIN_INTENSITY 30\n"
                                 "RAIN_DURATION 30\nQUIET\nOVERTYPE explicit\nTIMESTEP " + number(step) + "\n");
    };
    const auto runs = step_convergence::expect_converges(write, 5.0, "g.sig", "g.sum", "volume of discharge:", "plane");
    for (const auto &run : runs)
        EXPECT_NEAR(value_after(run.summary, "volume of discharge:") + value_after(run.summary, "volume remaining on surface:"),
                    5490.0, 0.1);
    long cut = 0, steps = 0;
    const std::size_t at = runs[0].summary.find("Overland steps cut:");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(std::sscanf(runs[0].summary.c_str() + at, "Overland steps cut: %ld of %ld", &cut, &steps), 2);
    EXPECT_GT(cut, 100);
    EXPECT_EQ(steps, 480);  // 40 min of 5 s steps
}

}  // namespace
