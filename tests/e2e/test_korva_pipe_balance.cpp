// Runs korva on a valley of 10 x 7 cells of 20 m with a pipe network of one
// superlink of 1, 2 or 5 pipes under it, over a table of outlets (onto the land,
// into the channel, a closed end), inlet types, time steps, event and long-term
// runs, with and without channels and infiltration. The truth is the hand
// balance of the printed figures: the network gives back no more than it took
// and never holds less than nothing, and the surface and overall balances,
// summed by hand from every store and flow the summary prints, close to 0.1 %
// of the rain and equal the printed errors. Tile drains under the aquifer
// example take their water from the aquifer, whose balance closes by hand; a
// structure link of three nodes is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "project_text.h"
#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;

namespace {

enum outlet_kind { onto_land, into_channel, closed_end };

struct pipe_case {
    const char *name;
    int pipes;          // pipes of the superlink
    outlet_kind outlet;
    int inlet;          // inlet type of the upstream junction and the interior nodes
    int step;           // TIMESTEP (s)
    bool channels, infiltration, long_term;
};

// Valley floor along column 4, falling 0.4 m a row to the outlet at row 10.
std::string elevation() {
    return project_text::grid_of(10, 7, 20.0, [](int r, int c) {
        return project_text::number(10.0 + 0.4 * (10 - r) + 0.6 * std::abs(c - 4));
    });
}

// One superlink from junction 2 (row 3, column 2) to junction 1 (row 7,
// column 4 on the channel, or column 2), its nodes on the cells between.
std::string network(const pipe_case &t) {
    const int kind = t.outlet == onto_land ? 888 : t.outlet == into_channel ? 999 : 0;
    const int out_col = t.outlet == into_channel ? 4 : 2;
    const double z_up = 12.5, z_down = t.outlet == into_channel ? 9.7 : 10.9;
    const double ground_down = z_down + 1.5, length = 80.0 / t.pipes;
    char line[160];
    std::string net;
    std::snprintf(line, sizeof line, "SJUNC 1 %.3f %.3f 1.0 %d %.1f 70.0 %d 7\n", ground_down,
                  z_down, kind, 20.0 * out_col - 10.0, out_col);
    net += line;
    std::snprintf(line, sizeof line, "SJUNC 2 14.000 12.500 1.0 %d 30.0 150.0 2 3\n", t.inlet);
    net += line;
    net += "CONNECT 1 2 1\n";
    std::snprintf(line, sizeof line, "SLINK 1 %d\n", t.pipes);
    net += line;
    for (int k = 1; k <= t.pipes + 1; ++k) {
        const double f = (k - 1.0) / t.pipes;
        const int row = 3 + static_cast<int>(std::lround(4.0 * f));
        const int col = k == t.pipes + 1 ? out_col : 2;
        const double z = z_up + (z_down - z_up) * f;
        const int type = k == 1 || k == t.pipes + 1 ? 0 : t.inlet;
        std::snprintf(line, sizeof line, "NODE %d %.3f %.3f 0.5 %d %.1f %.1f %d %d\n", k, z + 1.5, z,
                      type, 20.0 * col - 10.0, 210.0 - 20.0 * row, col, row);
        net += line;
    }
    for (int k = 1; k <= t.pipes; ++k) {
        std::snprintf(line, sizeof line, "PIPE %d 1 0.3 0.0 %.5f 0.013 %.2f 0.0\n", k,
                      (z_up - z_down) / 80.0, length);
        net += line;
    }
    return net;
}

const char *channel_file =
    "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 2\nMAXNODES 6\n"
    "CONNECT 1 2 0\nCONNECT 2 0 1 1\n"
    "LINK 1\nDX 20.0\nNODES 6\nTRAPEZOID\nMANNINGS_N 0.035\nNODE 1\nELEV 13.300\nXSEC\n"
    "BOTTOM_WIDTH 2.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 1.0\nNODE 2\nELEV 12.900\nNODE 3\n"
    "ELEV 12.500\nNODE 4\nELEV 12.100\nNODE 5\nELEV 11.700\nNODE 6\nELEV 11.300\n"
    "LINK 2\nDX 20.0\nNODES 6\nTRAPEZOID\nMANNINGS_N 0.035\nNODE 1\nELEV 11.300\nXSEC\n"
    "BOTTOM_WIDTH 2.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 1.0\nNODE 2\nELEV 10.900\nNODE 3\n"
    "ELEV 10.500\nNODE 4\nELEV 10.100\nNODE 5\nELEV 9.700\nNODE 6\nELEV 9.300\n";

// A mapping-table row of id 1: its values begin at column 87.
std::string row(const char *values) { return "1     row" + std::string(77, ' ') + values + "\n"; }

const std::string mapping_table =
    "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"one.idx\" \"All\"\nROUGHNESS \"All\"\nNUM_IDS 1\n"
    "ID DESCRIPTION MANNING_N\n" + row("0.05") +
    "EVAPOTRANSPIRATION \"All\"\nNUM_IDS 1\n"
    "ID DESCRIPTION ALBEDO WILTING_POINT VEG_HEIGHT TRANSMISSION CANOPY_RESISTANCE\n" +
    row("0.2 0.10 0.3 0.5 70") + "GREEN_AMPT_INFILTRATION \"All\"\nNUM_IDS 1\n"
    "ID DESCRIPTION KS PSI POROSITY PORE_INDEX RESIDUAL FIELD_CAPACITY\n" +
    row("0.5 10.0 0.45 0.25 0.03 0.25") +
    "GREEN_AMPT_INITIAL_SOIL_MOISTURE \"All\"\nNUM_IDS 1\nID DESCRIPTION MOISTURE\n" + row("0.20");

// Writes the project of case t into d.
void write_project(const scratch_dir &d, const pipe_case &t) {
    const auto all = [](int, int) { return std::string("1"); };
    d.write("mask.asc", project_text::grid_of(10, 7, 20.0, all));
    d.write("one.idx", project_text::grid_of(10, 7, 20.0, all));
    d.write("elev.asc", elevation());
    d.write("pipes.net", network(t));
    d.write("pipes.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 3 4\nNUMPIPES 1\nSPIPE 1 1 1.0\n");
    d.write("slink/.keep", "");
    d.write("debug/.keep", "");
    char line[64];
    std::snprintf(line, sizeof line, "TIMESTEP %d\n", t.step);
    std::string prj = std::string("KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n") +
                      "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 10\nCOLS 7\nGRIDSIZE 20\n" + line +
                      "HYD_FREQ 60\nMAP_FREQ 15\nOUTROW 10\nOUTCOL 4\nOUTSLOPE 0.02\n"
                      "OVERTYPE explicit\nQUIET\nSTART_DATE 2021 7 12\n";
    if (t.infiltration || t.long_term) {
        d.write("run.cmt", mapping_table);
        prj += "MAPPING_TABLE run.cmt\n";
    } else {
        prj += "MANNING_N 0.05\n";
    }
    if (t.long_term) {
        std::string weather;
        for (int h = 0; h < 30; ++h) {
            std::snprintf(line, sizeof line, "2021 7 %d %d 29.92 80 3 5 55 0.0 0.0\n", 12 + (h + 1) / 24,
                          (h + 1) % 24);
            weather += line;
        }
        d.write("weather.qar", weather);
        d.write("storm.gag", "EVENT storm\nNRGAG 1\nNRPDS 3\nCOORD 70.0 100.0\n"
                             "RATES 2021 7 12 14 00 30.0\nRATES 2021 7 12 14 30 20.0\n"
                             "RATES 2021 7 12 15 00 0.0\n");
        prj += "START_TIME 1 0\nLONG_TERM\nHMET_QAR weather.qar\nET_CALC_DEARDORFF\nLATITUDE 40.0\n"
               "LONGITUDE 105.0\nGMT -7\nPRECIP_FILE storm.gag\nRAIN_THIESSEN\nEVENT_MIN_Q 0.0001\n"
               "INF_REDIST\nSOIL_MOIST_DEPTH 0.4\nTOP_LAYER_DEPTH 0.1\n";
    } else {
        prj += "START_TIME 14 0\nTOT_TIME 120\nPRECIP_UNIF\nRAIN_INTENSITY 40\nRAIN_DURATION 30\n";
        if (t.infiltration) prj += "GREEN_AMPT\n";
    }
    if (t.channels) {
        const auto column_4 = [](int value_of_row(int)) {
            return [value_of_row](int r, int c) { return std::to_string(c == 4 ? value_of_row(r) : 0); };
        };
        d.write("links.asc", project_text::grid_of(10, 7, 20.0, column_4([](int r) { return r <= 5 ? 1 : 2; })));
        d.write("nodes.asc", project_text::grid_of(10, 7, 20.0, column_4([](int r) { return (r - 1) % 5 + 1; })));
        d.write("chan.chn", channel_file);
        prj += "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT chan.chn\n";
    }
    prj += "STORM_SEWER pipes.net\nGRID_PIPE pipes.gpi\n";
    d.write("run.prj", prj);
}

// The value after `label` in the last pipe report of the console.
double last_report(const std::string &out, const std::string &label) {
    const std::size_t at = out.rfind(label);
    return at == std::string::npos ? NAN : std::strtod(out.c_str() + at + label.size(), nullptr);
}

// The sum of the values of every summary line that starts with `prefix` after
// the simulation totals begin.
double sum_of_lines(const std::string &summary, const std::string &prefix) {
    double sum = 0.0;
    std::size_t at = summary.find("SIMULATION TOTALS");
    while ((at = summary.find("\n" + prefix, at)) != std::string::npos) {
        ++at;
        const std::size_t colon = summary.find(':', at);
        sum += std::strtod(summary.c_str() + colon + 1, nullptr);
    }
    return sum;
}

double line(const std::string &summary, const std::string &label) {
    const double v = project_text::value_after(summary, "\n" + label, summary.find("SIMULATION TOTALS"));
    return std::isnan(v) ? 0.0 : v;
}

class PipeBalance : public ::testing::TestWithParam<pipe_case> {};

TEST_P(PipeBalance, NetworkGivesBackWhatItTookAndEveryBalanceClosesByHand) {
    const pipe_case &t = GetParam();
    scratch_dir d;
    write_project(d, t);
    const auto r = d.run(KORVA_EXE, {"run.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string sum = d.read("run.sum");
    ASSERT_NE(sum.find("SIMULATION TOTALS"), std::string::npos) << sum;
    const double rain = line(sum, "Total precipitation:");
    ASSERT_GT(rain, 500.0) << sum;
    const double tolerance = 0.001 * rain;

    // The pipe network: its report, and the same figures in the summary.
    const double in = last_report(r.out, "Total Volume In:");
    const double out = last_report(r.out, "Total Volume Out:");
    const double start = last_report(r.out, "Volume Start:");
    const double end = last_report(r.out, "Volume End:");
    const double added = line(sum, "Water added by the pipe depth bounds:");
    EXPECT_GT(in, 1.0) << r.out;
    EXPECT_GE(end, 0.0);
    EXPECT_LE(out + end, in + start + added + 0.01);
    EXPECT_NEAR(out + end - in - start, added, tolerance);
    EXPECT_NEAR(added, 0.0, tolerance);
    EXPECT_NEAR(line(sum, "Taken by pipe inlets:"), in, 0.01);
    EXPECT_NEAR(line(sum, "Final pipe network volume:"), end, 0.01);
    const double spilled = line(sum, "Spilled from pipes onto the land:");
    const double to_channels = line(sum, "Pipe outflow into channels:");
    if (t.outlet == into_channel) {
        EXPECT_GT(to_channels, 0.5 * in);
    } else {
        EXPECT_EQ(to_channels, 0.0);
    }
    EXPECT_NEAR(spilled + to_channels, out, 0.01 + 0.002 * out);

    // Surface: stores at the start, rain and what the pipes gave, against the
    // stores at the end, what left the valley or went into the soil or the air,
    // and what the inlets took.
    const double surface_in = sum_of_lines(sum, "Initial surface") + sum_of_lines(sum, "Initial channel") +
                              rain + spilled + to_channels;
    const double infiltration = line(sum, "Total infiltration:");
    const double surface_out = line(sum, "Final surface volume:") + line(sum, "Final channel volume:") +
                               line(sum, "Total discharge:") + infiltration + in;
    if (!t.long_term) {
        EXPECT_NEAR(surface_out, surface_in, tolerance) << sum;
        EXPECT_NEAR(line(sum, "Mass balance error of surface components ="),
                    100.0 * (surface_out - surface_in) / surface_in, 100.0 * tolerance / rain);
    }

    // The whole valley: every store the summary prints at the start and the end,
    // the pipe network with them, against the rain and what left.
    const bool soil = sum.find("\nFinal soil water volume:") != std::string::npos;
    const double whole_in = sum_of_lines(sum, "Initial ") + rain;
    const double whole_out = sum_of_lines(sum, "Final ") + line(sum, "Total discharge:") +
                             line(sum, "Total evaporation:") + line(sum, "Total recharge:") +
                             (soil ? 0.0 : infiltration);
    EXPECT_NEAR(whole_out, whole_in, tolerance) << sum;
    EXPECT_NEAR(line(sum, "Overall mass balance error ="), 100.0 * (whole_out - whole_in) / whole_in,
                100.0 * tolerance / rain)
        << sum;
    if (t.long_term) {
        EXPECT_NE(sum.find("SIMULATION SUMMARY"), std::string::npos);
    }
}

// clang-format off
const pipe_case cases[] = {
    // name                  pipes outlet        inlet step  chan   infil  long
    {"spill_1pipe_dt60",        1, onto_land,    5,    60,  false, false, false},
    {"spill_2pipes_dt60",       2, onto_land,    5,    60,  false, false, false},
    {"spill_2pipes_dt5",        2, onto_land,    5,     5,  false, false, false},
    {"spill_5pipes_dt20",       5, onto_land,    9,    20,  false, true,  false},
    {"spill_2pipes_inlet1",     2, onto_land,    1,    20,  false, false, false},
    {"closed_2pipes_dt60",      2, closed_end,   5,    60,  false, false, false},
    {"closed_5pipes_dt5",       5, closed_end,   9,     5,  false, true,  false},
    {"closed_1pipe_dt20",       1, closed_end,   1,    20,  true,  false, false},
    {"channel_2pipes_dt5_ga",   2, into_channel, 5,     5,  true,  true,  false},
    {"channel_2pipes_dt60",     2, into_channel, 5,    60,  true,  false, false},
    {"channel_1pipe_dt20",      1, into_channel, 9,    20,  true,  false, false},
    {"channel_5pipes_dt60_ga",  5, into_channel, 1,    60,  true,  true,  false},
    {"channel_2pipes_longterm", 2, into_channel, 5,     5,  true,  true,  true},
    {"spill_5pipes_longterm",   5, onto_land,    5,    20,  false, true,  true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Networks, PipeBalance, ::testing::ValuesIn(cases),
                         [](const auto &param) { return std::string(param.param.name); });

// The aquifer example with a superlink of two tile drains (conductivity 0.5)
// under row 5; its middle node, `invert` m high, drains the centre cell.
testsupport::program_result run_tile_drains(const scratch_dir &d, double invert) {
    const auto example = valley::example_dir().parent_path() / "aquifer_well";
    for (const auto &entry : std::filesystem::directory_iterator(example))
        if (entry.is_regular_file())
            d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
    char net[640];
    std::snprintf(net, sizeof net,
                  "SJUNC 1 19.6 %.1f 1.0 0 90.0 150.0 5 2\nSJUNC 2 18.4 %.1f 1.0 888 90.0 30.0 5 8\n"
                  "CONNECT 1 1 2\nSLINK 1 2\nNODE 1 19.6 %.1f 0.5 0 90.0 150.0 5 2\n"
                  "NODE 2 19.0 %.1f 0.5 0 90.0 90.0 5 5\nNODE 3 18.4 %.1f 0.5 0 90.0 30.0 5 8\n"
                  "PIPE 1 1 0.3 0.0 0.005 0.013 60.0 0.5\nPIPE 2 1 0.3 0.0 0.005 0.013 60.0 0.5\n",
                  invert + 0.3, invert - 0.3, invert + 0.3, invert, invert - 0.3);
    d.write("plain.net", net);
    d.write("plain.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 6 6\nNUMPIPES 1\nSPIPE 1 2 1.0\n");
    d.write("slink/.keep", "");
    d.write("debug/.keep", "");
    d.write("aquifer_well.prj",
            d.read("aquifer_well.prj") + "STORM_SEWER plain.net\nGRID_PIPE plain.gpi\n");
    return d.run(KORVA_EXE, {"aquifer_well.prj"});
}

TEST(KorvaTileDrains, DrainsTakeTheirWaterFromTheAquiferAndNoneAboveTheTable) {
    // The water table stands 2 m below the ground of 19 m at the centre cell.
    for (const double invert : {15.7, 17.5}) {
        scratch_dir d;
        const auto r = run_tile_drains(d, invert);
        ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
        const std::string sum = d.read("aquifer_well.sum");
        const double tile = last_report(r.out, "Total tile flow taken:");
        const double rain = project_text::value_after(sum, "volume of total rainfall:");
        if (invert > 17.0) {
            EXPECT_EQ(tile, 0.0);
        } else {
            EXPECT_GT(tile, 50.0);
        }
        EXPECT_NEAR(project_text::value_after(sum, "Taken by tile drains ="), tile, 0.01);
        EXPECT_NEAR(line(sum, "Tile drains, aquifer to pipes:"), tile, 0.01);
        // The aquifer: it ends with its start, what it gained, less what the well
        // and the drains took.
        const double start = project_text::value_after(sum, "Volume in groundwater at start =");
        const double end = project_text::value_after(sum, "Volume in groundwater at end =");
        const double gained = project_text::value_after(sum, "Total inputs =");
        const double pumped = project_text::value_after(sum, "Pumping volume =");
        EXPECT_NEAR(end, start + gained - pumped - tile, 0.001 * rain) << sum;
        // The pipes, without inlets, passed on what the drains gave them.
        const double out = last_report(r.out, "Total Volume Out:");
        const double held = last_report(r.out, "Volume End:");
        EXPECT_NEAR(last_report(r.out, "Total Volume In:"), tile, 0.01);
        EXPECT_NEAR(out + held, tile, 0.01);
        EXPECT_NEAR(line(sum, "Spilled from pipes onto the land:"), out, 0.01);
    }
}

TEST(KorvaStructureLink, ThreeNodesAreRefusedNamingTheLinkAndTheCard) {
    scratch_dir d;
    write_project(d, {"", 2, into_channel, 5, 20, true, false, false});
    std::string chn = channel_file;
    chn.replace(chn.find("LINKS 2"), 7, "LINKS 3");
    chn.replace(chn.find("CONNECT 2 0 1 1\n"), 16, "CONNECT 2 3 1 1\nCONNECT 3 0 1 2\n");
    std::string link2 = chn.substr(chn.find("LINK 2\n"));
    chn.replace(chn.find("LINK 2\n"), link2.size(),
                "LINK 2\nSTRUCTURE\nNODES 3\nNUMSTRUCTS 1\nSTRUCTTYPE WEIR\nCREST_LENGTH 4.0\n"
                "CREST_LOW_ELEV 11.2\nDISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n" +
                    link2.replace(0, 6, "LINK 3"));
    d.write("chan.chn", chn);
    const auto r = d.run(KORVA_EXE, {"run.prj"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.out.find("Error in the channel input file: link 2 is a STRUCTURE link and has 2 "
                         "nodes, but its NODES card gives 3.\n"),
              std::string::npos)
        << r.out;
}

}  // namespace
