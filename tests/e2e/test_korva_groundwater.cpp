// Runs korva with groundwater under Richards or redistribution infiltration on a
// small tilted plane under a storm, and checks that the run summary's aquifer
// balance closes: the soil exchange enters once (exfiltration is part of it),
// and the volumes at the start and end differ by the inputs and the flux across
// head boundaries. A channel run that ends early once its rain has run off
// still closes its event and reports its final volumes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "channel_lake_plane.h"
#include "project_text.h"
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
    double soil_start, richards_error, overall_error;
};

// Runs the plane with the infiltration cards given and the table `table_depth`
// m (plus 0.05 m per column to the east) below the ground, and reads the aquifer
// block of the run summary. `east_code` is the boundary code of the east column.
aquifer_block run_plane(const std::string &infiltration, double table_depth, double step_of_depth,
                        const std::string &gw_cards = "GW_UNIF_HYCOND 5\nGW_UNIF_POROSITY 0.3\n",
                        int east_code = 1) {
    scratch_dir d;
    d.write("mask.map", grid([](int, int) { return std::string("1"); }));
    d.write("elev.map", grid([](int r, int) { return number(100.0 - 0.02 * r * dx); }));
    d.write("wt.map", grid([&](int r, int c) {
                return number(100.0 - 0.02 * r * dx - table_depth - step_of_depth * c);
            }));
    d.write("bot.map", grid([](int, int) { return std::string("80.0"); }));
    d.write("bound.map", grid([&](int, int c) { return std::to_string(c == cols ? east_code : 1); }));
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
            + gw_cards + "GW_TIMESTEP 60\nGW_LSOR_CON 1e-8\n");
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
            summary_value(a, "Mass Balance error ="),
            summary_value(summary, "Initial soil water volume:"),
            summary_value(summary, "Richard equation mass balance error"),
            summary_value(summary, "Overall mass balance error =")};
}

// The printed lines close among themselves and the error is below 0.01 percent;
// the soil exchange enters once (exfiltration, what the aquifer gave up to the
// soil, is at least the net exchange out of the aquifer).
void expect_closed(const aquifer_block &b) {
    ASSERT_FALSE(std::isnan(b.error));
    EXPECT_LT(std::fabs(b.error), 0.01);
    EXPECT_GE(b.exfiltration, std::max(0.0, -b.into_gw) - 0.011);
    EXPECT_NEAR(b.inputs, b.into_gw + b.recharge, 0.011);
    EXPECT_NEAR(b.end, b.start + b.inputs + b.bounds, 0.05);
}

// Richards columns over a table 0.20 to 0.30 m down: no head cells, a fixed-head east
// column over a conductive aquifer, and the conductivity and porosity from the columns.
TEST(GroundwaterRun, RichardsColumnsEndAtTheTableAndEveryBalanceCloses) {
    const std::string richards = "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP soil.map\n"
                                 "SOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 10\nAQUIFER_DELTA_Z 0.1\n";
    const aquifer_block plain = run_plane(richards, 0.15, 0.05);
    const aquifer_block fixed = run_plane(richards, 0.15, 0.05, "GW_UNIF_HYCOND 3000\nGW_UNIF_POROSITY 0.3\n", 5);
    const aquifer_block cards = run_plane(richards, 0.15, 0.05, "GW_UNIF_HYCOND 1.3\nGW_UNIF_POROSITY 0.43\n");
    const aquifer_block columns = run_plane(richards, 0.15, 0.05, "");
    for (const aquifer_block *b : {&plain, &fixed, &cards}) {
        if (b != &fixed) expect_closed(*b);  // by the fixed-head cells the floor adds inputs
        EXPECT_LT(std::fabs(b->error), 0.01);
        EXPECT_LE(b->soil_start, 0.43 * rows * cols * dx * dx * 0.25);  // theta_s x the soil above the table
        EXPECT_LT(std::max(std::fabs(b->richards_error), std::fabs(b->overall_error)), 1.0);
    }
    // No head cells: nothing crosses a head boundary; the aquifer gains what reached the table.
    EXPECT_NEAR(plain.bounds, 0.0, 0.01);
    EXPECT_GT(plain.into_gw + plain.recharge, 10.0);
    EXPECT_LE(plain.end - plain.start, plain.into_gw + plain.recharge + 0.01);
    // The fixed-head column drains its neighbours (the balance closes on what its faces passed).
    EXPECT_LT(fixed.bounds, -1.0);
    // The columns' KS 1.3 cm/h and THETAS 0.43 act as the equal uniform cards.
    EXPECT_EQ(columns.end, cards.end);
    // Without RICHARDS_C_OPTION the columns take the Brooks and Corey curves throughout.
    std::string no_option = richards;
    no_option.erase(no_option.find("RICHARDS_C_OPTION brooks\n"), 25);
    EXPECT_EQ(run_plane(no_option, 0.15, 0.05).end, plain.end);
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

// A 5 x 5 plane of 10 m cells draining to a channel down column 3 (two links,
// explicit routing); a short storm, then a long dry tail, so that the run ends
// early once the surface is dry. The table lies 1.5 m below the ground over a
// bottom at 0 m; redistribution infiltration with the groundwater model.
TEST(GroundwaterRun, RunThatEndsWhenTheRainHasRunOffReportsItsFinalVolumes) {
    scratch_dir d;
    using channel_lake_plane::map;
    d.write("mask.asc", map([](int, int) { return std::string("1"); }));
    d.write("elev.asc", map([](int r, int c) { return number(channel_lake_plane::ground(r, c)); }));
    const std::string soil_and_aquifer = channel_lake_plane::write_soil_and_aquifer(d, 1.5);
    d.write("links.asc", map([](int r, int c) {
                return std::string(c != 3 ? "0" : r <= 3 ? "1" : "2");
            }));
    d.write("nodes.asc", map([](int r, int c) {
                return c != 3 ? std::string("0") : std::to_string(r <= 3 ? r : r - 3);
            }));
    const std::string section = "XSEC\nBOTTOM_WIDTH 2.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 1.0\n";
    d.write("p.chn", "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 2\nMAXNODES 4\n"
                     "CONNECT 1 2 0\nCONNECT 2 0 1 1\n"
                     "LINK 1\nDX 10.0\nNODES 4\nTRAPEZOID\nMANNINGS_N 0.035\nNODE 1\nELEV 10.8\n" +
                         section +
                         "NODE 2\nELEV 10.6\nNODE 3\nELEV 10.4\nNODE 4\nELEV 10.2\n"
                         "LINK 2\nDX 10.0\nNODES 3\nTRAPEZOID\nMANNINGS_N 0.035\nNODE 1\nELEV 10.2\n" +
                         section + "NODE 2\nELEV 10.0\nNODE 3\nELEV 9.8\n");
    d.write("p.prj",
            "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
            "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 5\nCOLS 5\nGRIDSIZE 10\nTOT_TIME 600\n"
            "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 10\nHYD_FREQ 5\nMAP_FREQ 60\n"
            "OUTROW 5\nOUTCOL 3\nOUTSLOPE 0.01\nOVERTYPE explicit\n"
            "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT p.chn\n"
            "PRECIP_UNIF\nRAIN_INTENSITY 50\nRAIN_DURATION 15\n" +
                soil_and_aquifer);
    const testsupport::program_result r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string summary = d.read("p.sum");
    ASSERT_NE(r.out.find("Rainfall for this event has ended."), std::string::npos) << r.out;
    // The early end closes the event like the end of the simulated period.
    const std::size_t event = summary.find("KORVA EVENT RUNOFF SIMULATION SUMMARY");
    ASSERT_NE(event, std::string::npos) << summary;
    EXPECT_EQ(summary.find("KORVA EVENT RUNOFF SIMULATION SUMMARY", event + 1), std::string::npos);
    EXPECT_NEAR(summary_value(summary, "mass conservation error:"), 0.0, 1e-4);

    // 50 mm/h for 15 minutes on 2500 m2; 25 cells of 100 m2 with a mean ground of
    // 11.0 m hold 9.5 m of aquifer at porosity 0.3 above the bottom.
    EXPECT_NEAR(summary_value(summary, "Total precipitation:"), 31.25, 0.005);
    const std::size_t block = summary.find("GROUNDWATER CALCULATIONS \n\n");
    ASSERT_NE(block, std::string::npos) << summary;
    const std::string a = summary.substr(block);
    const double start = summary_value(a, "Volume in groundwater at start =");
    const double end = summary_value(a, "Volume in groundwater at end =");
    EXPECT_NEAR(start, 25 * 100.0 * 9.5 * 0.3, 0.005);
    EXPECT_NEAR(end, start + summary_value(a, "Total inputs =") +
                         summary_value(a, "Flux across head boundaries ="),
                0.011);
    EXPECT_LT(std::fabs(summary_value(a, "Mass Balance error =")), 0.01);

    // The run report's final volumes are the state at the early end: the
    // aquifer's, the soil's that took the infiltration, and the channel water
    // under a hundredth of the rain that let the run end.
    EXPECT_NEAR(summary_value(a, "Final groundwater volume:"), end, 0.005);
    const double soil = summary_value(a, "Final soil water volume:");
    EXPECT_GT(soil, summary_value(a, "Initial soil water volume:") + 25.0);
    EXPECT_LT(std::fabs(summary_value(a, "Single layer soil moisture mass balance =")), 0.05);
    const double channel = summary_value(a, "Final channel volume:");
    EXPECT_GT(channel, 0.0);
    EXPECT_LT(channel, 0.01 * 31.25);
    EXPECT_LT(std::fabs(summary_value(a, "Overall mass balance error =")), 0.01);
}

// The combination valley (10 x 7 cells of 20 m, a channel down column 4; 40 mm/h
// for 30 min on 70 cells of 400 m2) over redistribution and the groundwater model,
// the table `stream` m below the stream cells' ground and `land` m below the others.
void write_stream_valley(scratch_dir &d, double stream, double land, const std::string &cards = "") {
    d.copy_case("combination_valley");
    const std::string head = "north: 200.0\nsouth: 0.0\neast: 140.0\nwest: 0.0\nrows: 10\ncols: 7\n";
    std::istringstream ground(d.read("elev.asc"));
    std::string line, wt = head;
    double z = 0.0;
    for (int k = 0; k < 6; ++k) std::getline(ground, line);
    for (int k = 0; k < 70 && ground >> z; ++k) wt += number(z - (k % 7 == 3 ? stream : land)) + (k % 7 == 6 ? "\n" : " ");
    d.write("wt.asc", wt);
    std::string codes = head;
    while (codes.size() < head.size() + 140) codes += "1 1 1 4 1 1 1\n";
    d.write("bound.asc", codes);
    const auto table = [](const std::string &name, const std::string &columns, const std::string &values) {
        return name + " \"All\"\nNUM_IDS 1\nID DESCRIPTION " + columns + "\n1     row" + std::string(77, ' ') +
               values + "\n";
    };
    d.write("run.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"one.idx\" \"All\"\n" + table("ROUGHNESS", "MANNING_N", "0.05") +
                           table("GREEN_AMPT_INFILTRATION", "KS PSI POROSITY PORE_INDEX RESIDUAL FIELD_CAPACITY",
                                 "0.5 10.0 0.45 0.25 0.03 0.25") +
                           table("GREEN_AMPT_INITIAL_SOIL_MOISTURE", "MOISTURE", "0.20"));
    d.write("run.prj",
            "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMAPPING_TABLE run.cmt\nSUMMARY run.sum\n"
            "OUTLET_HYDRO run.otl\nROWS 10\nCOLS 7\nGRIDSIZE 20\nTIMESTEP 5\nHYD_FREQ 1\nMAP_FREQ 15\nOUTROW 10\n"
            "OUTCOL 4\nOUTSLOPE 0.02\nQUIET\nOVERTYPE explicit\nSTART_DATE 2021 7 12\nSTART_TIME 14 0\n"
            "TOT_TIME 180\nPRECIP_UNIF\nRAIN_INTENSITY 40\nRAIN_DURATION 30\nINF_REDIST\nSOIL_MOIST_DEPTH 1.0\n"
            "TOP_LAYER_DEPTH 0.1\nCHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT chan.chn\n"
            "K_RIVER 20\nM_RIVER 0.5\nGW_SIMULATION\nWATER_TABLE wt.asc\nAQUIFER_BOTTOM bot.asc\n"
            "GW_BOUNDFILE bound.asc\nGW_UNIF_HYCOND 5\nGW_UNIF_POROSITY 0.3\nGW_TIMESTEP 60\nGW_LSOR_CON 1e-8\n" +
                cards);
}

// A stream fed by its aquifer (stream cells, table 0.2 m above the channel bed).
// The run ends with the channel's last inflow not yet taken from the aquifer; by
// hand every printed store and flow closes.
TEST(GroundwaterRun, StreamFedByTheAquiferClosesAtTheRunEnd) {
    scratch_dir d;
    write_stream_valley(d, 0.1, 0.5);
    const testsupport::program_result p = d.run(KORVA_EXE, {"run.prj"}, 300);
    ASSERT_EQ(p.exit_status, 0) << p.out << p.err;
    const std::string summary = d.read("run.sum"), g = summary.substr(summary.find("GLOBAL MASS BALANCE"));
    auto v = [&](const char *label) { return summary_value(g, label); };
    const double rain = v("Total precipitation:"), gained = v("Groundwater to rivers:");
    EXPECT_NEAR(rain, 560.0, 0.005);
    EXPECT_GT(gained, 100.0);
    EXPECT_NEAR(v("Initial soil water volume:") + v("Initial groundwater volume:") + rain,
                v("Final surface volume:") + v("Final channel volume:") + v("Final soil water volume:") +
                    v("Final groundwater volume:") + v("Total discharge:"),
                0.02);
    // The rain and the stream's gain went into the soil, the outlet, or are still there.
    EXPECT_NEAR(rain + gained,
                v("Final surface volume:") + v("Final channel volume:") + v("Total infiltration:") + v("Total discharge:"),
                0.02);
    EXPECT_NEAR(summary_value(summary, "Volume in groundwater at end ="), v("Final groundwater volume:"), 0.005);
    EXPECT_LT(std::fabs(summary_value(summary, "Mass Balance error =")), 0.005);
}

// The same valley with a tile line of five 0.3 m pipes under four land cells of
// column 1 draining into the channel, every land table 0.7 m under the ground,
// within the 1.0 m soil-moisture depth, where the aquifer stores with the soil's
// porosity (0.45; the aquifer's 0.3 below), no cell exchanging with the stream.
// Truth: the aquifer's water by hand
// from the table the run ends with, and its balance from its own lines.
TEST(GroundwaterRun, TileDrainedAquiferEndsWithTheWaterOfItsTable) {
    scratch_dir d;
    write_stream_valley(d, 1.5, 0.7, "STORM_SEWER tile.net\nGRID_PIPE tile.gpi\n");
    std::string codes = "north: 200.0\nsouth: 0.0\neast: 140.0\nwest: 0.0\nrows: 10\ncols: 7\n";
    for (int r = 0; r < 10; ++r) codes += "1 1 1 1 1 1 1\n";  // no exchange with the stream
    d.write("bound.asc", codes);
    std::string net = "SJUNC 1 11.2 9.7 1.0 999 70 70 4 7\nSJUNC 2 12.4 10.2 1.0 0 30 70 2 7\nSJUNC 3 14.4 12.2 1.0 0 30 "
                      "170 2 2\nCONNECT 1 2 1\nCONNECT 2 3 2\nSLINK 1 2\nNODE 1 12.4 10.2 0.5 0 30 70 2 7\nNODE 2 11.8 "
                      "9.95 0.5 0 50 70 3 7\nNODE 3 11.2 9.7 0.5 0 70 70 4 7\nPIPE 1 1 0.3 0.0 0.0125 0.013 20.0 0.0\n"
                      "PIPE 2 1 0.3 0.0 0.0125 0.013 20.0 0.0\nSLINK 2 5\n", gpi = "GRIDPIPEFILE\nPIPECELLS 4\n";
    for (int k = 1; k <= 6; ++k) net += "NODE " + std::to_string(k) + " " + number(14.8 - 0.4 * k) + " " +
                                        number(12.6 - 0.4 * k) + " 0.5 0 30 " + number(190 - 20 * k) + " 2 " + std::to_string(k + 1) + "\n";
    for (int k = 1; k <= 5; ++k) net += "PIPE " + std::to_string(k) + " 1 0.3 0.0 0.02 0.013 20.0 2.0\n";
    for (int k = 2; k <= 5; ++k) gpi += "CELLIJ 2 " + std::to_string(k + 1) + "\nNUMPIPES 1\nSPIPE 2 " + std::to_string(k) + " 1.0\n";
    d.write("tile.net", net), d.write("tile.gpi", gpi), d.write("slink/.keep", ""), d.write("debug/.keep", "");
    const testsupport::program_result p = d.run(KORVA_EXE, {"run.prj"}, 300);
    ASSERT_EQ(p.exit_status, 0) << p.out << p.err;
    const std::string summary = d.read("run.sum");
    auto a = [&](const char *label) { return summary_value(summary, label); };
    const double drained = a("Taken by tile drains =");
    EXPECT_GT(drained, 300.0) << summary;
    std::istringstream table(d.read("hotstart_file")), ground(d.read("elev.asc")), bottom(d.read("bot.asc"));
    std::string line;
    for (std::istringstream *map : {&table, &ground, &bottom})
        for (int k = 0; k < 6; ++k) std::getline(*map, line);
    double h = 0.0, z = 0.0, b = 0.0, water = 0.0;
    for (int k = 0; k < 70 && table >> h && ground >> z && bottom >> b; ++k)
        water += 400.0 * (0.3 * (std::min(h, z - 1.0) - b) + 0.45 * std::max(std::min(h, z) - (z - 1.0), 0.0));
    EXPECT_NEAR(a("Volume in groundwater at end ="), water, 0.01) << summary;
    EXPECT_NEAR(a("Volume in groundwater at end ="),
                a("Volume in groundwater at start =") + a("Total inputs =") + a("Flux across head boundaries =") +
                    a("Added by the aquifer floor =") - a("Groundwater to rivers =") - drained,
                0.001 * drained) << summary;
}

// The stream valley at model and groundwater steps that divide each other or not
// (the first row the reference): the aquifer and the stream it feeds keep pace
// with the model time, within 5 %, and the aquifer's block closes by hand.
TEST(GroundwaterRun, GroundwaterStepKeepsPaceWhateverTheModelStep) {
    const struct { int model, gw; } steps[] = {{5, 300}, {5, 6}, {7, 300}};
    double gained = NAN, inputs = NAN;
    for (const auto &w : steps) {
        SCOPED_TRACE(std::to_string(w.model) + " s, groundwater " + std::to_string(w.gw) + " s");
        scratch_dir d;
        write_stream_valley(d, 0.1, 0.5);
        std::string prj = d.read("run.prj");
        prj.replace(prj.find("\nTIMESTEP 5\n"), 12, "\nTIMESTEP " + std::to_string(w.model) + "\n");
        d.write("run.prj", prj.replace(prj.find("GW_TIMESTEP 60\n"), 15, "GW_TIMESTEP " + std::to_string(w.gw) + "\n"));
        ASSERT_EQ(d.run(KORVA_EXE, {"run.prj"}, 300).exit_status, 0);
        const std::string sum = d.read("run.sum");
        auto v = [&](const char *label) { return summary_value(sum, label); };
        if (std::isnan(gained)) gained = v("Groundwater to rivers ="), inputs = v("Total inputs =");
        EXPECT_NEAR(v("Groundwater to rivers ="), gained, 0.05 * std::fabs(gained));
        EXPECT_NEAR(v("Total inputs ="), inputs, 0.05 * std::fabs(inputs));
        EXPECT_NEAR(v("Volume in groundwater at end ="),
                    v("Volume in groundwater at start =") + v("Total inputs =") - v("Groundwater to rivers ="), 0.011);
    }
}

// The same valley, its last link one node at an outlet that passes its inflow
// through, the stream gaining from the aquifer and losing to it: rain and the
// stream's net gain infiltrated, left, or are still on the land and in the channel.
TEST(GroundwaterRun, OneNodeOutletLinkPassesItsAquiferExchangeThrough) {
    for (const double stream : {0.1, 1.5}) {
        SCOPED_TRACE(stream);
        scratch_dir d;
        write_stream_valley(d, stream, stream == 0.1 ? 0.5 : 1.5, "HEAD_BOUND\nBOUND_DEPTH 0.2\n");
        const std::string head = "north: 200.0\nsouth: 0.0\neast: 140.0\nwest: 0.0\nrows: 10\ncols: 7\n";
        std::string links = head, nodes = head, chn = "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 2\n"
            "MAXNODES 10\nCONNECT 1 2 0\nCONNECT 2 0 1 1\nLINK 1\nDX 20.0\nNODES 10\nTRAPEZOID\nMANNINGS_N 0.035\n";
        const std::string section = "XSEC\nBOTTOM_WIDTH 2.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 1.0\n";
        for (int r = 1; r <= 10; ++r) {
            links += r < 10 ? "0 0 0 1 0 0 0\n" : "0 0 0 2 0 0 0\n";
            nodes += "0 0 0 " + std::to_string(r < 10 ? r : 1) + " 0 0 0\n";
            chn += "NODE " + std::to_string(r) + "\nELEV " + number(13.3 - 0.4 * (r - 1)) + "\n" + (r == 1 ? section : "");
        }
        d.write("links.asc", links), d.write("nodes.asc", nodes);
        d.write("chan.chn", chn + "LINK 2\nDX 20.0\nNODES 2\nTRAPEZOID\nMANNINGS_N 0.035\nNODE 1\nELEV 9.700\n" +
                                section + "NODE 2\nELEV 9.300\n");
        const testsupport::program_result p = d.run(KORVA_EXE, {"run.prj"}, 300);
        ASSERT_EQ(p.exit_status, 0) << p.out << p.err;
        const std::string summary = d.read("run.sum"), g = summary.substr(summary.find("GLOBAL MASS BALANCE"));
        auto v = [&](const char *label) { return summary_value(g, label); };
        EXPECT_GT(v("Groundwater to rivers:") + v("Rivers to groundwater:"), 50.0);
        // The aquifer's block closes from its own lines, the exchange with the stream among them.
        auto a = [&](const char *label) { return summary_value(summary, label); };
        EXPECT_NEAR(a("Volume in groundwater at end ="),
                    a("Volume in groundwater at start =") + a("Total inputs =") + a("Flux across head boundaries =") +
                        a("Added by the aquifer floor =") - a("Leakage to deep aquifer =") - a("Groundwater to rivers ="),
                    0.05);
        EXPECT_NEAR(v("Total precipitation:") + v("Groundwater to rivers:") - v("Rivers to groundwater:"),
                    v("Total infiltration:") + v("Total discharge:") + v("Final surface volume:") +
                        v("Final channel volume:"),
                    0.02);
    }
}

}  // namespace
