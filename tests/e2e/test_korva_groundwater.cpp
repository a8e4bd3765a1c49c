// Runs korva with Richards infiltration over a shallow water table on a small
// tilted plane under a storm, and checks that the run summary's aquifer balance
// closes: the soil water that reached the table is the aquifer's input, seen as
// negative exfiltration from the water table, and the volumes at the start and end
// differ by the inputs and the flux across head boundaries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

constexpr int rows = 3, cols = 3;
constexpr double dx = 10.0;

template <class F>
std::string grid(F value) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "north: %.1f\nsouth: 0.0\neast: %.1f\nwest: 0.0\nrows: %d\ncols: %d\n",
                  rows * dx, cols * dx, rows, cols);
    std::string text = line;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) text += value(r, c) + (c < cols ? " " : "\n");
    return text;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

// The value after the label, NAN when the label is missing.
double summary_value(const std::string &summary, const std::string &label) {
    const std::size_t at = summary.find(label);
    if (at == std::string::npos) return NAN;
    return std::strtod(summary.c_str() + at + label.size(), nullptr);
}

TEST(GroundwaterRun, RichardsColumnsFeedAShallowTableAndTheAquiferBalanceCloses) {
    scratch_dir d;
    d.write("mask.map", grid([](int, int) { return std::string("1"); }));
    d.write("elev.map", grid([](int r, int) { return number(100.0 - 0.02 * r * dx); }));
    // The table 0.20 to 0.30 m below the ground, lower to the east, so that the
    // wetting front reaches it and the aquifer moves water between cells.
    d.write("wt.map", grid([](int r, int c) { return number(100.0 - 0.02 * r * dx - 0.15 - 0.05 * c); }));
    d.write("bot.map", grid([](int, int) { return std::string("80.0"); }));
    d.write("bound.map", grid([](int, int) { return std::string("1"); }));
    d.write("man.map", grid([](int, int) { return std::string("0.05"); }));
    d.write("soil.map", grid([](int, int) { return std::string("1"); }));
    // Brooks and Corey loam. Ks phi tr ti wp fc depth lambda hb.
    const std::string layer = "1.3 0.43 0.03 0.11 0.05 0.2 10 0.25 11.1\n";
    d.write("soil.tab", "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer);
    d.write("run.prj",
            "KORVAPROJECT\nWATERSHED_MASK mask.map\nELEVATION elev.map\nROUGHNESS man.map\n"
            "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 3\nCOLS 3\nGRIDSIZE 10\n"
            "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 60\nTIMESTEP 10\nHYD_FREQ 5\n"
            "MAP_FREQ 60\nOUTROW 3\nOUTCOL 2\nOUTSLOPE 0.02\nOVERTYPE explicit\nPRECIP_UNIF\n"
            "RAIN_INTENSITY 40\nRAIN_DURATION 30\nINF_RICHARDS\nRICHARDS_C_OPTION brooks\n"
            "SOIL_TYPE_MAP soil.map\nSOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 10\n"
            "GW_SIMULATION\nWATER_TABLE wt.map\nAQUIFER_BOTTOM bot.map\nGW_BOUNDFILE bound.map\n"
            "GW_UNIF_HYCOND 5\nGW_UNIF_POROSITY 0.3\nGW_TIMESTEP 60\nGW_LSOR_CON 1e-8\n"
            "AQUIFER_DELTA_Z 0.1\n");
    const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string summary = d.read("run.sum");
    const std::size_t block = summary.find("GROUNDWATER CALCULATIONS \n\n");
    ASSERT_NE(block, std::string::npos) << summary;
    const std::string aquifer = summary.substr(block);
    const double start = summary_value(aquifer, "Volume in groundwater at start =");
    const double end = summary_value(aquifer, "Volume in groundwater at end =");
    const double into_gw = summary_value(aquifer, "Sat/unsat. trickery (into gw) =");
    const double exfiltration = summary_value(aquifer, "Exfiltration volume =");
    const double inputs = summary_value(aquifer, "Total inputs =");
    const double bounds = summary_value(aquifer, "Flux across head boundaries =");
    const double error = summary_value(aquifer, "Mass Balance error =");
    ASSERT_FALSE(std::isnan(error)) << aquifer;
    // The columns gave the table water, once: an input, and no exfiltration.
    EXPECT_GT(into_gw, 10.0) << aquifer;
    EXPECT_NEAR(exfiltration, -into_gw, 0.011) << aquifer;
    EXPECT_NEAR(inputs, into_gw, 0.011) << aquifer;
    EXPECT_GT(end, start + 10.0) << aquifer;
    EXPECT_LT(std::fabs(error), 0.01) << aquifer;
    // The printed lines agree with the error to their rounding.
    EXPECT_NEAR(end, start + inputs + bounds, 0.05) << aquifer;
}

}  // namespace
