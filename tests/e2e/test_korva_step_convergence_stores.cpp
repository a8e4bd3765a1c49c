// Step convergence of the stores that step in time beside the overland flow: the
// channel routing and the Richards columns (both on the overland step), the aquifer
// (on its own step) and an overland lake fed by a nearly flat plane. Each case runs at
// its ordinary step, a tenth and a twentieth of it: the tenth agrees with the
// twentieth, and the ordinary step keeps the outlet volume, the case's own store line
// and every outlet hydrograph line within 3 % of the converged run. Every run closes its
// water balance by hand over the global block's stores and flows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "project_text.h"
#include "support/run_program.h"

namespace {

using project_text::grid_of;
using project_text::value_after;

struct store_case {
    const char *name, *step_card;
    double step, rain;  // s, mm/h
    const char *cards, *store_line;
    bool cut;  // converges only because the overland step control cuts the step
};
const store_case cases[] = {
    {"channel", "TIMESTEP", 5, 40, "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT chan.chn\n",
     "Final channel volume:", false},
    {"richards", "TIMESTEP", 5, 100, "INF_RICHARDS\nRICHARDS_C_OPTION brooks\n"
     "SOIL_TYPE_MAP one.idx\nSOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 0.3\n", "Total infiltration:", false},
    // At 40 mm/h a fifth of the rain runs off: the columns' error shows fourfold in the outlet volume.
    {"richards at 40 mm/h", "TIMESTEP", 5, 40, "INF_RICHARDS\nRICHARDS_C_OPTION brooks\n"
     "SOIL_TYPE_MAP one.idx\nSOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 0.3\n", "Total infiltration:", false},
    // The Havercamp curves of the same soil, which saturate their top node before the surface ponds.
    {"richards havercamp", "TIMESTEP", 5, 40, "INF_RICHARDS\nRICHARDS_C_OPTION havercamp\n"
     "SOIL_TYPE_MAP one.idx\nSOIL_LAYER_INPUT_FILE havercamp.tab\nSOIL_MOIST_DEPTH 0.3\n", "Total infiltration:", false},
    {"aquifer", "GW_TIMESTEP", 300, 100, "INF_REDIST\nSOIL_MOIST_DEPTH 1.0\nTOP_LAYER_DEPTH 0.1\n"
     "GW_SIMULATION\nWATER_TABLE wt.asc\nAQUIFER_BOTTOM bot.asc\nGW_BOUNDFILE bound.asc\nGW_UNIF_HYCOND 500\n"
     "GW_UNIF_POROSITY 0.3\nGW_LSOR_CON 1e-8\n", "Groundwater across bounds:", false},
    {"overland lake", "TIMESTEP", 30, 50, "OVERLAND_LAKE_MAP lake.asc\nOVERLAND_LAKE_FILE lake.dat\n",
     "Overland lake flows in m^3:", true},
    {"overland lake above its shore", "TIMESTEP", 10, 50, "OVERLAND_LAKE_MAP lake.asc\nOVERLAND_LAKE_FILE lake.dat\n",
     "Overland lake flows in m^3:", false},
};

// Signed terms of the hand balance: stores at the start and water in (+), stores at the end and water out (-).
const char *const balance_terms[] = {"+Initial surface volume:", "+Initial channel volume:", "+Initial soil water volume:",
    "+Initial groundwater volume:", "+Initial overland lake volume:", "+Total precipitation:", "+Groundwater across bounds:",
    "-Final surface volume:", "-Final channel volume:", "-Final soil water volume:", "-Final groundwater volume:",
    "-Final overland lake volume:", "-Total discharge:", "-Total evaporation:", "-Drained through the column bottoms:",
    "+Water added by the moisture limits:"};

bool name_is_richards(const store_case &c) { return std::string(c.name).rfind("richards", 0) == 0; }

struct run_result { double volume, store; std::vector<double> q; std::string summary; };

run_result run(const store_case &c, double step) {
    testsupport::scratch_dir d;
    d.copy_case("combination_valley");
    const std::string name = c.name;
    const auto cell = [](bool one) { return std::string(one ? "1" : "0"); };
    const auto table = [](const std::string &name_, const std::string &columns, const std::string &values) {
        return name_ + " \"All\"\nNUM_IDS 1\nID DESCRIPTION " + columns + "\n" + project_text::row("1     row", values);
    };
    std::string cmt = "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"one.idx\" \"All\"\n" + table("ROUGHNESS", "MANNING_N", "0.05");
    if (name == "aquifer")
        cmt += table("GREEN_AMPT_INFILTRATION", "KS PSI POROSITY PORE_INDEX RESIDUAL FIELD_CAPACITY",
                     "0.5 10.0 0.45 0.25 0.03 0.25") + table("GREEN_AMPT_INITIAL_SOIL_MOISTURE", "MOISTURE", "0.20");
    d.write("run.cmt", cmt);
    // The Richards and aquifer cases take the valley's middle column, which drains
    // through a fixed-head cell of the aquifer at the outlet.
    const std::string layer = "0.5 0.43 0.03 0.15 0.05 0.2 10 1.175e6 4.74 27.8 3.96\n";
    d.write("havercamp.tab", "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer);
    if (name_is_richards(c) || name == "aquifer")
        d.write("mask.asc", grid_of(10, 7, 20.0, [&](int, int col) { return cell(col == 4); }));
    d.write("bound.asc", grid_of(10, 7, 20.0, [](int r, int col) { return std::string(r == 10 && col == 4 ? "5" : "1"); }));
    // The lake plane: 20 x 20 cells of 10 m falling 0.05 % south and towards column 10 into a
    // lake on rows 19-20, columns 5-16 (ground 99 m, level 99.2 m); or a shore rising 0.03 m a
    // cell away from the lake, whose first six rings of cells lie below the lake's level.
    const auto in_lake = [](int r, int col) { return r >= 19 && col >= 5 && col <= 16; };
    const auto shore = [](int r, int col) { return 99.0 + 0.03 * (std::max(0, 19 - r) + std::max({0, 5 - col, col - 16})); };
    std::string grid = "ELEVATION elev.asc\nROWS 10\nCOLS 7\nGRIDSIZE 20\nOUTROW 10\nOUTCOL 4\nOUTSLOPE 0.02\n"
                       "MAPPING_TABLE run.cmt\n";
    if (name.rfind("overland lake", 0) == 0) {
        d.write("mask.asc", grid_of(20, 20, 10.0, [&](int, int) { return cell(true); }));
        d.write("lake.asc", grid_of(20, 20, 10.0, [&](int r, int col) { return cell(in_lake(r, col)); }));
        d.write("plane.asc", grid_of(20, 20, 10.0, [&](int r, int col) {
                    if (name != "overland lake") return project_text::number(shore(r, col));
                    return project_text::number(in_lake(r, col) ? 99.0 : 100.0 + 0.005 * (20 - r) + 0.005 * std::abs(col - 10));
                }));
        d.write("lake.dat", "KORVA_OVERLAND_LAKE_FILE\nLAKE 1 99.2 0\n");
        grid = "ELEVATION plane.asc\nROWS 20\nCOLS 20\nGRIDSIZE 10\nOUTROW 20\nOUTCOL 20\nOUTSLOPE 0.01\n"
               "MANNING_N 0.05\n";
        if (name != "overland lake") grid = project_text::with(grid, "OUTROW 20\nOUTCOL 20", "OUTROW 1\nOUTCOL 10");
    }
    const std::string steps = std::string(c.step_card) == "TIMESTEP" ? "" : "TIMESTEP 5\n";
    std::ostringstream prj;
    prj << "KORVAPROJECT\nWATERSHED_MASK mask.asc\n" << grid << c.cards << steps << c.step_card << ' ' << step << "\nRAIN_INTENSITY " << c.rain
        << "\nSUMMARY run.sum\nOUTLET_HYDRO run.otl\nHYD_FREQ 1\nMAP_FREQ 60\nQUIET\n"
           "OVERTYPE explicit\nSTART_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 60\nPRECIP_UNIF\nRAIN_DURATION 30\n";
    d.write("run.prj", prj.str());
    const auto r = d.run(KORVA_EXE, {"run.prj"});
    EXPECT_EQ(r.exit_status, 0) << c.name << " at " << step << " s\n" << r.out;
    run_result out{NAN, NAN, {}, d.read("run.sum")};
    out.volume = value_after(out.summary, "Total discharge:");
    out.store = value_after(out.summary, c.store_line);
    std::istringstream otl(d.read("run.otl"));
    for (double t, q; otl >> t >> q;) out.q.push_back(q);
    double balance = 0.0;
    for (const char *term : balance_terms) {
        const double v = value_after(out.summary, term + 1);
        if (!std::isnan(v)) balance += term[0] == '+' ? v : -v;
    }
    EXPECT_NEAR(balance, 0.0, 0.07) << c.name << " at " << step << " s\n" << out.summary;
    return out;
}

TEST(KorvaStepConvergence, StoresConvergeInTheirTimeStep) {
    for (const store_case &c : cases) {
        const run_result ordinary = run(c, c.step), tenth = run(c, c.step / 10), twentieth = run(c, c.step / 20);
        ASSERT_FALSE(tenth.q.empty()) << c.name;
        ASSERT_EQ(ordinary.q.size(), tenth.q.size()) << c.name;
        double peak = 0.0;
        for (double q : tenth.q) peak = std::max(peak, q);
        EXPECT_NEAR(tenth.volume, twentieth.volume, 0.005 * tenth.volume) << c.name;
        EXPECT_NEAR(tenth.store, twentieth.store, 0.005 * std::fabs(tenth.store) + 0.01) << c.name;
        EXPECT_NEAR(ordinary.volume, tenth.volume, 0.03 * tenth.volume) << c.name;
        EXPECT_NEAR(ordinary.store, tenth.store, 0.03 * std::fabs(tenth.store)) << c.name;
        for (const char *line : {"Final overland lake volume:", "Overland lake flows out m^3:"}) {  // lakes only
            if (const double v = value_after(tenth.summary, line); !std::isnan(v)) {
                EXPECT_NEAR(value_after(ordinary.summary, line), v, 0.03 * std::fabs(v) + 0.01) << c.name << ": " << line;
            }
        }
        for (std::size_t k = 0; k < tenth.q.size(); ++k)
            EXPECT_NEAR(ordinary.q[k], tenth.q[k], 0.03 * peak + 0.001) << c.name << ", line " << k + 1;
        EXPECT_EQ(ordinary.summary.find("Overland steps cut: 0 of") == std::string::npos, c.cut) << c.name;
        // The columns' sub-steps are cut where their error asks for it, and the summary says how often.
        if (name_is_richards(c)) {
            EXPECT_NE(ordinary.summary.find("Richards sub-steps cut: "), std::string::npos) << c.name;
        }
    }
}

}  // namespace
