// Runs korva where the soil meets the aquifer, on a valley of 10 x 7 cells of 20 m
// draining to a river column, and closes a hand balance over every store and flow
// the run summary prints: the root zone gives and takes the exchange as the table
// moves, wells book what they took, the floor's water has its own line, and the
// root zone's drainage is recharge. Groundwater under other infiltration is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/valley_example.h"
#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

using valley::summary_value;

constexpr int rows = 10, cols = 7;

std::string map(double (*value)(int r, int c), bool whole = false) {
    std::string text = "north: 200.0\nsouth: 0.0\neast: 140.0\nwest: 0.0\nrows: 10\ncols: 7\n";
    char v[32];
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            std::snprintf(v, sizeof v, whole ? "%.0f%c" : "%.4f%c", value(r, c), c < cols ? ' ' : '\n');
            text += v;
        }
    }
    return text;
}

double ground(int r, int c) { return 15.4 - 0.4 * (r - 1) + 0.6 * std::abs(c - 4); }

std::string row(const char *id, const char *values) {
    std::string line = std::string(id) + "     row";
    line.resize(86, ' ');
    return line + values + "\n";
}

// The value of the last line that carries the label (NAN when none does): the
// run's report follows the event summaries.
double last_value(const std::string &text, const std::string &label) {
    const std::size_t at = text.rfind(label);
    return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + label.size(), nullptr);
}
double line_or_zero(const std::string &text, const std::string &label) {
    const double v = last_value(text, label);
    return std::isnan(v) ? 0.0 : v;
}

struct soil_aquifer_case {
    const char *name;
    const char *infiltration;  // the infiltration cards (and their tables below)
    double table_depth;        // m below the ground
    bool thin_aquifer;         // the bottom 0.1 m below the table, else at 0 m
    const char *well_rate;     // m3/s of the well at row 5, column 2 ("" for none)
    bool river;                // the middle column is a river (boundary code 2)
};

const char *const redist =
    "INF_REDIST\nSOIL_MOIST_DEPTH 1.0\nTOP_LAYER_DEPTH 0.1\n";
const char *const richards =
    "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP one.idx\nSOIL_LAYER_INPUT_FILE soil.tab\n"
    "SOIL_MOIST_DEPTH 0.3\nAQUIFER_DELTA_Z 0.1\n";

const soil_aquifer_case cases[] = {
    // The river drains the aquifer: the table falls and the root zone gives.
    {"RedistributionOverADrainedTable", redist, 1.5, false, "", true},
    // Injection raises the table: the aquifer gives the root zone its share.
    {"RedistributionOverARisingTable", redist, 1.5, false, "-0.02", false},
    // A well draws its cell down to the aquifer's floor 0.1 m below the table.
    {"RichardsOverAThinPumpedAquifer", richards, 0.5, true, "0.0005", false},
    {"RedistributionOverAPumpedAquifer", redist, 1.2, false, "0.005", true},
};

class SoilAquifer : public ::testing::TestWithParam<soil_aquifer_case> {};

// The case whose maps are being written.
soil_aquifer_case now;

double one(int, int) { return 1.0; }
double table(int r, int c) { return ground(r, c) - now.table_depth; }
double bottom(int r, int c) { return now.thin_aquifer ? table(r, c) - 0.1 : 0.0; }
double well_id(int r, int c) { return r == 5 && c == 2 ? 1.0 : 0.0; }
double boundary(int, int c) { return now.river && c == 4 ? 2.0 : 1.0; }

void write_valley(const scratch_dir &d, const soil_aquifer_case &k) {
    now = k;
    d.write("mask.asc", map(one, true));
    d.write("elev.asc", map(ground));
    d.write("wt.asc", map(table));
    d.write("bot.asc", map(bottom));
    d.write("one.idx", map(one, true));
    d.write("wells.idx", map(well_id, true));
    d.write("bound.asc", map(boundary, true));
    const std::string layer = "0.5 0.43 0.03 0.15 0.05 0.20 10 0.25 11.1\n";
    d.write("soil.tab", "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer);
    const bool well = k.well_rate[0] != '\0';
    std::string cmt = "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"one.idx\" \"All\"\n";
    if (well) cmt += "INDEX_MAP \"wells.idx\" \"Wells\"\n";
    cmt += "ROUGHNESS \"All\"\nNUM_IDS 1\nID DESCRIPTION MANNING_N\n" + row("1", "0.05") +
           "GREEN_AMPT_INFILTRATION \"All\"\nNUM_IDS 1\n"
           "ID DESCRIPTION KS PSI POROSITY PORE_INDEX RESIDUAL FIELD_CAPACITY\n" +
           row("1", "0.5 10.0 0.45 0.25 0.03 0.25") +
           "GREEN_AMPT_INITIAL_SOIL_MOISTURE \"All\"\nNUM_IDS 1\nID DESCRIPTION MOISTURE\n" +
           row("1", "0.20");
    if (well)
        cmt += "WELL_TABLE \"Wells\"\nNUM_IDS 1\nID DESCRIPTION KIND RATE UNUSED\n" +
               row("1", (std::string("0 ") + k.well_rate + " 0").c_str());
    d.write("run.cmt", cmt);
    d.write("run.prj",
            std::string("KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n"
                        "MAPPING_TABLE run.cmt\nSUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 10\n"
                        "COLS 7\nGRIDSIZE 20\nTIMESTEP 5\nHYD_FREQ 1\nMAP_FREQ 60\nOUTROW 10\n"
                        "OUTCOL 4\nOUTSLOPE 0.02\nOVERTYPE explicit\nQUIET\n"
                        "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 360\nPRECIP_UNIF\n"
                        "RAIN_INTENSITY 40\nRAIN_DURATION 30\n") +
                k.infiltration +
                "GW_SIMULATION\nWATER_TABLE wt.asc\nAQUIFER_BOTTOM bot.asc\n"
                "GW_BOUNDFILE bound.asc\nGW_UNIF_HYCOND 50\nGW_UNIF_POROSITY 0.3\n"
                "GW_TIMESTEP 60\nGW_LSOR_CON 1e-8\n" +
                (well ? "USE_WELLS\n" : ""));
}

TEST_P(SoilAquifer, EveryPrintedStoreAndFlowCloses) {
    const soil_aquifer_case &k = GetParam();
    scratch_dir d;
    write_valley(d, k);
    const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string s = d.read("run.sum");
    const double rain = last_value(s, "Total precipitation:");
    EXPECT_NEAR(rain, 0.04 / 2.0 * rows * cols * 400.0, 0.01);  // 40 mm/h for 30 min

    // The aquifer's block: its inputs are its exchange lines, and its volumes
    // differ by them, the boundaries, the floor's water and what left it.
    const double into_gw = last_value(s, "Sat/unsat. trickery (into gw) =");
    const double recharge = last_value(s, "Recharge volume =");
    const double inputs = last_value(s, "Total inputs =");
    const double bounds = last_value(s, "Flux across head boundaries =");
    const double floor = last_value(s, "Added by the aquifer floor =");
    const double pumped = last_value(s, "Pumping volume =");
    const double leaked = last_value(s, "Leakage to deep aquifer =");
    EXPECT_NEAR(inputs, into_gw + recharge, 0.011);
    EXPECT_NEAR(last_value(s, "Volume in groundwater at end ="),
                last_value(s, "Volume in groundwater at start =") + inputs + bounds + floor - pumped -
                    leaked,
                0.03);

    // The whole system over the printed global lines: what percolated into the
    // fixed-head cells leaves through their boundary.
    const double in = last_value(s, "Initial surface volume:") + last_value(s, "Initial soil water volume:") +
                      last_value(s, "Initial groundwater volume:") + rain +
                      last_value(s, "Groundwater across bounds:") +
                      last_value(s, "Water added by the aquifer floor:") +
                      last_value(s, "Water added by the overland clean-up:");
    const double out = last_value(s, "Final surface volume:") + last_value(s, "Final soil water volume:") +
                       last_value(s, "Final groundwater volume:") + last_value(s, "Total evaporation:") +
                       last_value(s, "Total discharge:") + last_value(s, "Total pumping:") +
                       last_value(s, "Deep recharge:") + last_value(s, "Total recharge:") - recharge;
    EXPECT_LT(std::fabs(in - out), 0.005 * rain) << "in " << in << " out " << out << "\n" << s;
    EXPECT_LT(std::fabs(last_value(s, "Overall mass balance error =")), 0.01);
    // The soil gave or took the exchange: its own balance closes on its lines.
    if (k.infiltration == redist) {
        EXPECT_GT(std::fabs(into_gw), 1.0);
        EXPECT_NEAR(last_value(s, "Final soil water volume:"),
                    last_value(s, "Initial soil water volume:") + last_value(s, "Total infiltration:") -
                        last_value(s, "Total recharge:") - into_gw,
                    0.01 + 0.001 * rain);
        EXPECT_LT(std::fabs(last_value(s, "Single layer soil moisture mass balance =")), 0.01);
    }
    // The rising table gave the root zone water; the falling one took it down.
    if (k.table_depth == 1.5) {
        if (k.river) {
            EXPECT_GT(into_gw, 1.0);
        } else {
            EXPECT_LT(into_gw, -1.0);
        }
    }
    if (k.thin_aquifer) {
        // 0.0005 m3/s for 6 h asked 10.8 m3; the cell's 0.1 m gave far less, and said so.
        EXPECT_GT(pumped, 0.0);
        EXPECT_LT(pumped, 10.8 * 0.8);
        EXPECT_NE(r.out.find("Warning: the well of grid cell 30 has drawn the aquifer down to its floor"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(s.find("-The well of grid cell 30 has drawn the aquifer down"), std::string::npos);
    } else if (k.well_rate[0] != '\0') {
        EXPECT_NEAR(pumped, std::atof(k.well_rate) * 21600.0, 0.01);
        EXPECT_EQ(line_or_zero(s, "Added by the aquifer floor ="), 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Valley, SoilAquifer, ::testing::ValuesIn(cases),
                         [](const auto &run) { return std::string(run.param.name); });

// The aquifer is solved only under the root zone of redistribution or the Richards
// columns: any other project is refused before it runs, naming the card.
TEST(SoilAquifer, GroundwaterUnderOtherInfiltrationIsRefusedNamingTheCard) {
    struct refused {
        const char *cards, *given;
    } const projects[] = {{"GREEN_AMPT\n", "GREEN_AMPT"},
                          {"INF_LAYERED_SOIL\nSOIL_TYPE_MAP one.idx\nSOIL_LAYER_INPUT_FILE soil.tab\n",
                           "INF_LAYERED_SOIL"},
                          {"", "no infiltration card"}};
    for (const refused &p : projects) {
        scratch_dir d;
        write_valley(d, {"", p.cards, 1.5, false, "0.0005", false});
        const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
        EXPECT_EQ(r.exit_status, 1) << p.given;
        EXPECT_NE(r.out.find("Error: GW_SIMULATION needs the infiltration card INF_REDIST (Green and "
                             "Ampt with redistribution) or INF_RICHARDS (Richards' equation); the "
                             "project gives " +
                             std::string(p.given) + ".\n"),
                  std::string::npos)
            << r.out;
        EXPECT_FALSE(d.exists("run.otl")) << p.given;
    }
}

// The long-term example with its root zone above field capacity: what drains out
// of the root zone is recharge in the event and the run, the balances close, and
// evap_out's drainage column is the hour's rate, adding up to the recharge.
TEST(SoilAquifer, RootZoneDrainageIsRechargeAndEvapOutGivesItsHourlyRate) {
    scratch_dir d;
    for (const auto &entry :
         std::filesystem::directory_iterator(valley::example_dir().parent_path() / "longterm"))
        d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
    std::string cmt = d.read("longterm.cmt");
    const std::size_t at = cmt.find("0.25", cmt.find("GREEN_AMPT_INITIAL_SOIL_MOISTURE"));
    ASSERT_NE(at, std::string::npos);
    d.write("longterm.cmt", cmt.replace(at, 4, "0.40"));
    const testsupport::program_result r = d.run(KORVA_EXE, {"longterm.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string s = d.read("longterm.sum");
    const double recharge = last_value(s, "Total recharge:");
    EXPECT_GT(recharge, 100.0);
    const double in = last_value(s, "Initial soil water volume:") + last_value(s, "Initial surface volume:") +
                      last_value(s, "Total precipitation:");
    const double out = last_value(s, "Final soil water volume:") + last_value(s, "Final surface volume:") +
                       last_value(s, "Total evaporation:") + last_value(s, "Total discharge:") + recharge;
    EXPECT_NEAR(in, out, 0.02);
    EXPECT_LT(std::fabs(last_value(s, "Overall mass balance error =")), 0.01);
    EXPECT_LT(std::fabs(last_value(s, "Single layer soil moisture mass balance =")), 0.01);
    EXPECT_GT(summary_value(s, "volume ground water recharge:"), 0.0);
    EXPECT_LT(summary_value(s, "volume ground water recharge:"), recharge + 0.05);
    // Column 7 of evap_out, cm/h over five cells of 10^4 m2 and one-hour lines: every
    // hour, the one after the last record too (to the rounding of 30 lines, 0.025 m3 each).
    double drained = 0.0, last = 0.0;
    for (const std::string &line : testsupport::split_lines(d.read("evap_out"))) {
        char date[32], hour[16];
        double v[5];
        if (std::sscanf(line.c_str(), "%31s %15s %lf %lf %lf %lf %lf", date, hour, &v[0], &v[1], &v[2],
                        &v[3], &v[4]) == 7) {
            last = v[4] / 100.0 * 5.0e4;
            drained += last;
        }
    }
    EXPECT_GT(last, 1.0);
    EXPECT_NEAR(drained, recharge, 0.75);
}

}  // namespace
