// korva on a valley of 10 x 7 cells of 20 m with a superlink of 1, 2 or 5 pipes (outlets 888, 999, a closed
// end; inlet types; TIMESTEP 5 to 60 s; event and long-term; with and without channels and infiltration), and
// tile drains under the aquifer example. Truth: hand balances of the printed figures (the pipes give back what
// they took; surface, valley and aquifer close to 0.1 % of the rain and equal the printed errors).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "project_text.h"
#include "support/run_program.h"
#include "valley_example.h"

namespace {

using project_text::grid_of;
enum outlet_kind { onto_land = 888, into_channel = 999, closed_end = 0 };
struct pipe_case {
    const char *name;
    int pipes, outlet, inlet, step, channels, infiltration, long_term;
};

std::string table(const char *name, const char *columns, const char *values) {
    return std::string(name) + " \"All\"\nNUM_IDS 1\nID DESCRIPTION " + columns + "\n1     row" +
           std::string(77, ' ') + values + "\n";
}

template <class... T>
std::string fmt(const char *format, T... v) {
    char text[512];
    std::snprintf(text, sizeof text, format, v...);
    return text;
}

void write_project(const testsupport::scratch_dir &d, const pipe_case &t) {
    for (const char *name : {"mask.asc", "one.idx"}) d.write(name, grid_of(10, 7, 20.0, [](int, int) { return std::string("1"); }));
    d.write("elev.asc", grid_of(10, 7, 20.0, [](int r, int c) { return fmt("%.1f", 10 + 0.4 * (10 - r) + 0.6 * std::abs(c - 4)); }));
    // Junction 2 (row 3, column 2) drains through nodes down column 2 to junction 1 at row 7.
    const int col = t.outlet == into_channel ? 4 : 2, n = t.pipes;
    const double top = 12.5, bottom = t.outlet == into_channel ? 9.7 : 10.9;
    std::string net = fmt("SJUNC 1 %.1f %.1f 1.0 %d 70 70 %d 7\nSJUNC 2 14.0 12.5 1.0 %d 30 150 2 3\nCONNECT 1 2 1\n"
                          "SLINK 1 %d\n", bottom + 1.5, bottom, t.outlet, col, t.inlet, n), pipes;
    for (int k = 1; k <= n + 1; ++k) {
        const double f = (k - 1.0) / n, z = top + (bottom - top) * f;
        net += fmt("NODE %d %.3f %.3f 0.5 %d 0 0 %d %ld\n", k, z + 1.5, z, k == 1 || k == n + 1 ? 0 : t.inlet,
                   k == n + 1 ? col : 2, 3 + std::lround(4 * f));
        if (k <= n) pipes += fmt("PIPE %d 1 0.3 0.0 %.5f 0.013 %.2f 0.0\n", k, (top - bottom) / 80.0, 80.0 / n);
    }
    d.write("pipes.net", net + pipes);
    d.write("pipes.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 3 4\nNUMPIPES 1\nSPIPE 1 1 1.0\n");
    d.write("slink/.keep", ""), d.write("debug/.keep", "");
    d.write("run.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"one.idx\" \"All\"\n" + table("ROUGHNESS", "MANNING_N", "0.05") +
                           table("EVAPOTRANSPIRATION", "ALBEDO WILTING_POINT VEG_HEIGHT TRANSMISSION CANOPY_RESISTANCE",
                                 "0.2 0.10 0.3 0.5 70") +
                           table("GREEN_AMPT_INFILTRATION", "KS PSI POROSITY PORE_INDEX RESIDUAL FIELD_CAPACITY",
                                 "0.5 10.0 0.45 0.25 0.03 0.25") +
                           table("GREEN_AMPT_INITIAL_SOIL_MOISTURE", "MOISTURE", "0.20"));
    std::string prj = "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nSUMMARY run.sum\nOUTLET_HYDRO run.otl\n"
                      "ROWS 10\nCOLS 7\nGRIDSIZE 20\nHYD_FREQ 60\nMAP_FREQ 15\nOUTROW 10\nOUTCOL 4\nOUTSLOPE 0.02\n"
                      "OVERTYPE explicit\nQUIET\nSTART_DATE 2021 7 12\nSTORM_SEWER pipes.net\nGRID_PIPE pipes.gpi\n"
                      "TIMESTEP " + std::to_string(t.step) + (t.infiltration ? "\nMAPPING_TABLE run.cmt\n" : "\nMANNING_N 0.05\n");
    if (t.long_term) {
        std::string weather;
        for (int h = 1; h <= 30; ++h) weather += fmt("2021 7 %d %d 29.92 80 3 5 55 0.0 0.0\n", 12 + h / 24, h % 24);
        d.write("weather.qar", weather);
        d.write("storm.gag", "EVENT storm\nNRGAG 1\nNRPDS 3\nCOORD 70.0 100.0\nRATES 2021 7 12 14 00 30.0\n"
                             "RATES 2021 7 12 14 30 20.0\nRATES 2021 7 12 15 00 0.0\n");
        prj += "START_TIME 1 0\nLONG_TERM\nHMET_QAR weather.qar\nET_CALC_DEARDORFF\nLATITUDE 40.0\nLONGITUDE 105.0\n"
               "GMT -7\nPRECIP_FILE storm.gag\nRAIN_THIESSEN\nEVENT_MIN_Q 0.0001\nINF_REDIST\nSOIL_MOIST_DEPTH 0.4\n"
               "TOP_LAYER_DEPTH 0.1\n";
    } else {
        prj += std::string("START_TIME 14 0\nTOT_TIME 120\nPRECIP_UNIF\nRAIN_INTENSITY 40\nRAIN_DURATION 30\n") +
               (t.infiltration ? "GREEN_AMPT\n" : "");
    }
    if (t.channels) {  // two trapezoidal links of 6 nodes down column 4
        d.write("links.asc", grid_of(10, 7, 20.0, [](int r, int c) { return std::to_string(c == 4 ? 1 + (r > 5) : 0); }));
        d.write("nodes.asc", grid_of(10, 7, 20.0, [](int r, int c) { return std::to_string(c == 4 ? (r - 1) % 5 + 1 : 0); }));
        std::string chn = "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 2\nMAXNODES 6\nCONNECT 1 2 0\nCONNECT 2 0 1 1\n";
        for (int k = 1; k <= 12; ++k)  // links 1 and 2 of 6 nodes each
            chn += (k % 6 == 1 ? fmt("LINK %d\nDX 20.0\nNODES 6\nTRAPEZOID\nMANNINGS_N 0.035\n", 1 + k / 6) : "") +
                   fmt("NODE %d\nELEV %.3f\n", (k - 1) % 6 + 1, 13.3 - 0.4 * (k - 1 - (k > 6))) +
                   (k % 6 == 1 ? "XSEC\nBOTTOM_WIDTH 2.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 1.0\n" : "");
        d.write("chan.chn", chn);
        prj += "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT chan.chn\n";
    }
    d.write("run.prj", prj);
}

// The value after the last `label` of a text (the summary's totals come last); 0 when missing.
double value(const std::string &text, const std::string &label) {
    const std::size_t at = text.rfind(label);
    return at == std::string::npos ? 0.0 : std::strtod(text.c_str() + at + label.size(), nullptr);
}
// The sum of every totals line that starts with `prefix`.
double lines(const std::string &sum, const std::string &prefix) {
    double total = 0.0;
    for (std::size_t at = sum.find("SIMULATION TOTALS"); (at = sum.find("\n" + prefix, at)) != std::string::npos; ++at)
        total += std::strtod(sum.c_str() + sum.find(':', at) + 1, nullptr);
    return total;
}

class PipeBalance : public ::testing::TestWithParam<pipe_case> {};

TEST_P(PipeBalance, NetworkGivesBackWhatItTookAndEveryBalanceClosesByHand) {
    const pipe_case &t = GetParam();
    testsupport::scratch_dir d;
    write_project(d, t);
    const auto r = d.run(KORVA_EXE, {"run.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string s = d.read("run.sum");
    const double rain = value(s, "Total precipitation:"), tolerance = 0.001 * rain;
    ASSERT_GT(rain, 500.0) << s;
    EXPECT_NE(s.find("SIMULATION SUMMARY"), std::string::npos);  // the event summary
    // The pipes: Out + End <= In + Start + added, End >= 0, nothing added; the summary agrees.
    const double in = value(r.out, "Total Volume In:"), out = value(r.out, "Total Volume Out:");
    const double end = value(r.out, "Volume End:"), added = value(s, "Water added by the pipe depth bounds:");
    EXPECT_GT(in, 1.0) << r.out;
    EXPECT_GE(end, 0.0);
    // What the scheme's own solution made is printed apart; it and the bounds stay small.
    const double made = value(s, "Pipe water the scheme made (lost if negative):");
    EXPECT_NEAR(out + end, in + value(r.out, "Volume Start:") + added + made, 0.02);
    EXPECT_LE(std::fabs(made), 0.02 * in);
    EXPECT_LE(std::fabs(added), 0.02 * in);
    EXPECT_NEAR(value(s, "Taken by pipe inlets:"), in, 0.01);
    EXPECT_NEAR(value(s, "Final pipe network volume:"), end, 0.01);
    const double spilled = value(s, "Spilled from pipes onto the land:"), to_channels = value(s, "Pipe outflow into channels:");
    EXPECT_EQ(to_channels > 0.5 * in, t.outlet == into_channel);
    EXPECT_NEAR(spilled + to_channels, out, 0.01 + 0.002 * out);
    // Surface: its stores, the rain and the pipes' water against what left it.
    const double infiltration = value(s, "Total infiltration:"), discharge = value(s, "Total discharge:");
    const double s_in = value(s, "Initial surface volume:") + value(s, "Initial channel volume:") + rain + spilled + to_channels;
    const double s_out = value(s, "Final surface volume:") + value(s, "Final channel volume:") + discharge + infiltration + in;
    if (!t.long_term) {  // (a long-term surface also loses ponded water to the air)
        EXPECT_NEAR(s_out, s_in, tolerance) << s;
        EXPECT_NEAR(value(s, "surface components ="), 100.0 * (s_out - s_in) / s_in, 0.1);
    }
    // The valley: every store printed at the start and the end, the pipes with them.
    const bool soil = s.find("\nFinal soil water volume:") != std::string::npos;
    const double v_in = lines(s, "Initial ") + rain;
    const double v_out = lines(s, "Final ") + discharge + value(s, "Total evaporation:") + value(s, "Total recharge:") +
                         (soil ? 0.0 : infiltration);
    EXPECT_NEAR(v_out, v_in, tolerance) << s;
    EXPECT_NEAR(value(s, "Overall mass balance error ="), 100.0 * (v_out - v_in) / v_in, 0.1) << s;
}

// name, pipes, outlet, inlet type, TIMESTEP, channels, infiltration, long-term
const pipe_case cases[] = {
    {"spill_1pipe_dt60", 1, onto_land, 5, 60, 0, 0, 0}, {"spill_2pipes_dt60", 2, onto_land, 5, 60, 0, 0, 0},
    {"spill_2pipes_dt5", 2, onto_land, 5, 5, 0, 0, 0}, {"spill_5pipes_dt20_ga", 5, onto_land, 9, 20, 0, 1, 0},
    {"spill_2pipes_inlet1", 2, onto_land, 1, 20, 0, 0, 0}, {"closed_2pipes_dt60", 2, closed_end, 5, 60, 0, 0, 0},
    {"closed_5pipes_dt5_ga", 5, closed_end, 9, 5, 0, 1, 0}, {"closed_1pipe_dt20", 1, closed_end, 1, 20, 1, 0, 0},
    {"channel_2pipes_dt5_ga", 2, into_channel, 5, 5, 1, 1, 0}, {"channel_2pipes_dt60", 2, into_channel, 5, 60, 1, 0, 0},
    {"channel_1pipe_dt20", 1, into_channel, 9, 20, 1, 0, 0}, {"channel_5pipes_dt60_ga", 5, into_channel, 1, 60, 1, 1, 0},
    {"channel_2pipes_longterm", 2, into_channel, 5, 5, 1, 1, 1}, {"spill_5pipes_longterm", 5, onto_land, 5, 20, 0, 1, 1}};
INSTANTIATE_TEST_SUITE_P(Networks, PipeBalance, ::testing::ValuesIn(cases),
                         [](const auto &param) { return std::string(param.param.name); });

// Rain of 1 kg/m3 of a tracer that nothing adds to or takes from: every store and
// every flow, the pipes' with them, hold 1 kg per m3, and every printed tracer
// block closes by hand from its own lines (printed to 0.01 kg).
TEST(KorvaPipeTracer, PipesCarryTheTracerOfTheirWater) {
    const pipe_case runs[] = {{"channel", 2, into_channel, 5, 5, 1, 0, 0}, {"spill", 2, onto_land, 9, 20, 0, 0, 0}};
    for (const pipe_case &t : runs) {
        testsupport::scratch_dir d;
        write_project(d, t);
        d.write("run.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"one.idx\" \"All\"\n" + table("ROUGHNESS", "MANNING_N", "0.05") +
                               "CONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n\"tracer\" \"All\" \"tracer.out\"\nPRECIP_CONC 1000\n"
                               "NUM_IDS 1\nID\n1" + std::string(85, ' ') + "0 0 0 0 0 0\n");
        std::string prj = d.read("run.prj");
        prj.replace(prj.find("MANNING_N 0.05"), 14, "MAPPING_TABLE run.cmt");
        d.write("run.prj", prj + (t.channels ? "OV_CON_TRANS\nCHAN_CON_TRANS\n" : "OV_CON_TRANS\n"));
        const auto r = d.run(KORVA_EXE, {"run.prj"});
        ASSERT_EQ(r.exit_status, 0) << t.name << r.out << r.err;
        const std::string s = d.read("run.sum");
        // The run's overland block, and the global one after it.
        const std::size_t at = s.rfind("Overland Contaminant Transport Summary");
        const std::string ov = s.substr(at, s.find("Contam mass balance error", at) - at);
        const std::string global = s.substr(s.rfind("Global Summary"));
        auto m = [&](const std::string &label) {
            const bool in_global = label == "Mass out of the outlet" || label.rfind("Final mass  ", 0) == 0 ||
                                   label == "Final mass in pipes";
            return value(in_global ? global : ov, label);
        };
        const double taken = value(s, "Taken by pipe inlets:"), given = value(s, "Spilled from pipes onto the land:");
        ASSERT_GT(taken, 20.0) << t.name << s;
        EXPECT_EQ(given > 1.0, t.outlet == onto_land) << t.name << s;
        const struct {
            const char *mass, *water;
        } pairs[] = {{"Mass into the pipes", "Taken by pipe inlets:"}, {"Mass from the pipes", "Spilled from pipes onto the land:"},
                     {"Final mass on overland", "Final surface volume:"}, {"Mass into the channels", "Lateral inflow into channels:"},
                     {"Final mass in pipes", "Final pipe network volume:"}, {"Mass out of the outlet", "Total discharge:"}};
        for (const auto &p : pairs)  // kg against m3
            EXPECT_NEAR(m(p.mass), value(s, p.water), 0.02 + 0.003 * value(s, p.water)) << t.name << ": " << p.mass << "\n" << s;
        EXPECT_NEAR(m("Mass from precipitation") + m("Mass from the pipes"),
                    m("Final mass on overland") + m("Mass into the channels") + m("Mass into the pipes") + m("Mass out of the watershed"),
                    0.03) << t.name;
        EXPECT_NEAR(m("Mass from precipitation"), m("Final mass  ") + m("Mass out of the outlet"), 0.02) << t.name;
        if (!t.channels) continue;
        const std::string ch = s.substr(s.rfind("Channel Contaminant Transport Summary"));
        auto c = [&](const char *label) { return value(ch, label); };
        EXPECT_NEAR(c("Mass from the pipes"), value(s, "Pipe outflow into channels:"), 0.02 + 0.003 * taken) << t.name;
        EXPECT_NEAR(c("Mass from the overland") + c("Mass from the pipes"), c("Final mass in channels") + c("Mass out of the outlet"),
                    0.02) << t.name;
    }
}

TEST(KorvaTileDrains, DrainsTakeTheirWaterFromTheAquiferAndNoneAboveTheTable) {
    // The middle node drains the centre cell, whose table stands 2 m under its ground of 19 m.
    for (const double z : {15.7, 17.5}) {
        testsupport::scratch_dir d;
        for (const auto &e : std::filesystem::directory_iterator(valley::example_dir() / "../aquifer_well"))
            d.write(e.path().filename().string(), testsupport::read_file(e.path()));
        const char *pipe = "0.3 0.0 0.005 0.013 60.0 0.5";
        d.write("plain.net", fmt("SJUNC 1 19.6 %.1f 1.0 0 90 150 5 2\nSJUNC 2 18.4 %.1f 1.0 888 90 30 5 8\nCONNECT 1 1 2\n"
                                 "SLINK 1 2\nNODE 1 19.6 %.1f 0.5 0 90 150 5 2\nNODE 2 19.0 %.1f 0.5 0 90 90 5 5\nNODE 3 "
                                 "18.4 %.1f 0.5 0 90 30 5 8\nPIPE 1 1 %s\nPIPE 2 1 %s\n",
                                 z + 0.3, z - 0.3, z + 0.3, z, z - 0.3, pipe, pipe));
        d.write("plain.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 6 6\nNUMPIPES 1\nSPIPE 1 2 1.0\n");
        d.write("slink/.keep", ""), d.write("debug/.keep", "");
        d.write("aquifer_well.prj", d.read("aquifer_well.prj") + "STORM_SEWER plain.net\nGRID_PIPE plain.gpi\n");
        const auto r = d.run(KORVA_EXE, {"aquifer_well.prj"});
        ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
        const std::string s = d.read("aquifer_well.sum");
        const double tile = value(r.out, "Total tile flow taken:");
        EXPECT_TRUE(z < 17.0 ? tile > 50.0 : tile == 0.0) << tile;
        EXPECT_NEAR(value(s, "Taken by tile drains ="), tile, 0.01);
        EXPECT_NEAR(value(r.out, "Total Volume In:"), tile, 0.01);  // no inlets
        // The network hands on what it drained and what its depth floor laid (booked).
        EXPECT_NEAR(value(r.out, "Total Volume Out:") + value(r.out, "Volume End:"),
                    tile + value(s, "Water added by the pipe depth bounds:") +
                        value(s, "Pipe water the scheme made (lost if negative):"),
                    0.02);
        // The aquifer ends with its start and gains, less what the well and the drains took.
        EXPECT_NEAR(value(s, "Volume in groundwater at end ="), value(s, "Volume in groundwater at start =") +
                        value(s, "Total inputs =") - value(s, "Pumping volume =") - tile,
                    0.001 * value(s, "volume of total rainfall:")) << s;
    }
}

}  // namespace
