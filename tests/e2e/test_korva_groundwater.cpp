// Runs korva with groundwater under Richards or redistribution infiltration on a
// small tilted plane under a storm, and checks that the run summary's aquifer
// balance closes: the soil exchange enters once (exfiltration is its negative),
// and the volumes at the start and end differ by the inputs and the flux across
// head boundaries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "small_plane.h"
#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

using small_plane::cols;
using small_plane::dx;
using small_plane::grid;
using small_plane::rows;

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

struct aquifer_block {
    double start, end, into_gw, exfiltration, recharge, inputs, bounds, error;
};

// Runs the plane with the infiltration cards given and the table `table_depth`
// m (plus 0.05 m per column to the east) below the ground, and reads the aquifer
// block of the run summary.
aquifer_block run_plane(const std::string &infiltration, double table_depth, double step_of_depth) {
    scratch_dir d;
    d.write("mask.map", grid([](int, int) { return std::string("1"); }));
    d.write("elev.map", grid([](int r, int) { return number(100.0 - 0.02 * r * dx); }));
    d.write("wt.map", grid([&](int r, int c) {
                return number(100.0 - 0.02 * r * dx - table_depth - step_of_depth * c);
            }));
    d.write("bot.map", grid([](int, int) { return std::string("80.0"); }));
    d.write("bound.map", grid([](int, int) { return std::string("1"); }));
    d.write("man.map", grid([](int, int) { return std::string("0.05"); }));
    d.write("soil.map", grid([](int, int) { return std::string("1"); }));
    for (const char *name : {"ks", "psi", "phi", "theta", "res", "pi"}) {
        const std::string value = std::string(name) == "ks"    ? "0.65"
                                  : std::string(name) == "psi" ? "16.7"
                                  : std::string(name) == "phi" ? "0.5"
                                  : std::string(name) == "theta" ? "0.16"
                                  : std::string(name) == "res"   ? "0.05"
                                                                 : "0.3";
        d.write(std::string(name) + ".map", grid([&](int, int) { return value; }));
    }
    // Brooks and Corey loam. Ks phi tr ti wp fc depth lambda hb.
    const std::string layer = "1.3 0.43 0.03 0.11 0.05 0.2 10 0.25 11.1\n";
    d.write("soil.tab", "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer);
    d.write("run.prj",
            "KORVAPROJECT\nWATERSHED_MASK mask.map\nELEVATION elev.map\nROUGHNESS man.map\n"
            "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 3\nCOLS 3\nGRIDSIZE 10\n"
            "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 60\nTIMESTEP 10\nHYD_FREQ 5\n"
            "MAP_FREQ 60\nOUTROW 3\nOUTCOL 2\nOUTSLOPE 0.02\nOVERTYPE explicit\nPRECIP_UNIF\n"
            "RAIN_INTENSITY 40\nRAIN_DURATION 30\n" + infiltration +
            "GW_SIMULATION\nWATER_TABLE wt.map\nAQUIFER_BOTTOM bot.map\nGW_BOUNDFILE bound.map\n"
            "GW_UNIF_HYCOND 5\nGW_UNIF_POROSITY 0.3\nGW_TIMESTEP 60\nGW_LSOR_CON 1e-8\n");
    const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string summary = d.read("run.sum");
    const std::size_t block = summary.find("GROUNDWATER CALCULATIONS \n\n");
    EXPECT_NE(block, std::string::npos) << summary;
    const std::string a = block == std::string::npos ? std::string() : summary.substr(block);
    return {summary_value(a, "Volume in groundwater at start ="),
            summary_value(a, "Volume in groundwater at end ="),
            summary_value(a, "Sat/unsat. trickery (into gw) ="),
            summary_value(a, "Exfiltration volume ="),
            summary_value(a, "Recharge volume ="),
            summary_value(a, "Total inputs ="),
            summary_value(a, "Flux across head boundaries ="),
            summary_value(a, "Mass Balance error =")};
}

// The printed lines close among themselves and the error is below 0.01 percent;
// the soil exchange enters once (exfiltration is its negative).
void expect_closed(const aquifer_block &b) {
    ASSERT_FALSE(std::isnan(b.error));
    EXPECT_LT(std::fabs(b.error), 0.01);
    EXPECT_NEAR(b.exfiltration, -b.into_gw, 0.011);
    EXPECT_NEAR(b.inputs, b.into_gw + b.recharge, 0.011);
    EXPECT_NEAR(b.end, b.start + b.inputs + b.bounds, 0.05);
}

TEST(GroundwaterRun, RichardsColumnsFeedAShallowTableAndTheAquiferBalanceCloses) {
    // The table 0.20 to 0.30 m below the ground: the wetting front reaches it.
    const aquifer_block b = run_plane("INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP soil.map\n"
                                      "SOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 10\n"
                                      "AQUIFER_DELTA_Z 0.1\n",
                                      0.15, 0.05);
    expect_closed(b);
    // The columns gave the table water: an input, and no exfiltration.
    EXPECT_GT(b.into_gw, 10.0);
    EXPECT_GT(b.end, b.start + 10.0);
}

TEST(GroundwaterRun, RedistributionOverADeeperTableClosesTheAquiferBalance) {
    // The table 1.1 to 1.3 m down, below the 100 cm limit everywhere: the soil
    // between the front and the limit takes water from the aquifer.
    const aquifer_block b = run_plane("INF_REDIST\nCONDUCTIVITY ks.map\nCAPILLARY psi.map\n"
                                      "POROSITY phi.map\nMOISTURE theta.map\nRESIDUAL_SAT res.map\n"
                                      "PORE_INDEX pi.map\nSOIL_MOIST_DEPTH 100\nTOP_LAYER_DEPTH 20\n",
                                      1.0, 0.1);
    expect_closed(b);
    EXPECT_GT(std::fabs(b.recharge), 0.1);
    EXPECT_GT(b.start, 4000.0);
}

}  // namespace
