// Runs a small valley (10 x 7 cells of 20 m) under a pairwise covering set of the
// model's processes: infiltration, overland scheme, channels (plain, with a weir and
// culvert, with a lake), groundwater (no-flow, river, fixed head, well), an overland
// lake, pipes, erosion, a tracer, and event, long-term, snow and soil-moisture
// accounting runs (also one with snow and a thaw before a second event). Every run must end normally (or be refused with a message), keep
// every printed balance error within 0.5 %, close a hand balance of the global block
// over every store and flow it prints, match its hydrograph to its discharge, and
// write no NaN or infinity.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

enum factor { infiltration, overland, channel, groundwater, overland_lake, pipes, erosion, tracer,
              run_kind, factor_count };

// The levels of each factor, in the order of the enum above.
const std::array<std::vector<std::string>, factor_count> levels = {{
    {"none", "green_ampt", "redistribution", "layered", "richards"},
    {"explicit", "ade"},
    {"none", "plain", "structure", "lake", "grid_stream"},
    {"none", "no_flow", "river", "fixed_head", "well"},
    {"no", "yes"},
    {"no", "yes"},
    {"no", "yes"},
    {"no", "yes"},
    {"event", "long_term", "snow", "sacramento", "thaw"},
}};

using combination = std::array<int, factor_count>;

const std::string &level(const combination &c, factor f) { return levels[f][c[f]]; }

std::string name_of(const combination &c) {
    std::string name;
    for (int f = 0; f < factor_count; ++f) name += (f ? "/" : "") + levels[f][c[f]];
    return name;
}

// The aquifer and the long-term runs need a soil that redistributes its water; the
// soil-moisture accounting keeps its own deep stores in place of an aquifer.
bool runs(const combination &c) {
    const std::string &inf = level(c, infiltration);
    const bool redistributes = inf == "redistribution" || inf == "richards";
    if (level(c, groundwater) != "none" && !redistributes) return false;
    if (level(c, run_kind) != "event" && !redistributes) return false;
    // The channel through stream cells runs once, in a plain event under Green and Ampt.
    if (level(c, channel) == "grid_stream" &&
        name_of(c) != "green_ampt/explicit/grid_stream/none/no/no/no/no/event")
        return false;
    const bool accounting = level(c, run_kind) == "sacramento" || level(c, run_kind) == "thaw";
    return !(accounting && level(c, groundwater) != "none");
}

// A greedy pairwise covering set of the combinations that run: each new row covers
// the most pairs of levels not yet covered (the first such row in counting order).
std::vector<combination> covering_set() {
    std::vector<combination> all;
    combination c{};
    for (;;) {
        if (runs(c)) all.push_back(c);
        int f = factor_count - 1;
        while (f >= 0 && ++c[f] == static_cast<int>(levels[f].size())) c[f--] = 0;
        if (f < 0) break;
    }
    auto key = [](int f, int a, int g, int b) { return ((f * 8 + a) * 16 + g) * 8 + b; };
    std::set<int> wanted;
    for (const combination &r : all)
        for (int f = 0; f < factor_count; ++f)
            for (int g = f + 1; g < factor_count; ++g) wanted.insert(key(f, r[f], g, r[g]));
    std::vector<combination> rows;
    while (!wanted.empty()) {
        std::size_t best = 0, best_count = 0;
        for (std::size_t i = 0; i < all.size(); ++i) {
            std::size_t n = 0;
            for (int f = 0; f < factor_count; ++f)
                for (int g = f + 1; g < factor_count; ++g)
                    n += wanted.count(key(f, all[i][f], g, all[i][g]));
            if (n > best_count) best = i, best_count = n;
        }
        rows.push_back(all[best]);
        for (int f = 0; f < factor_count; ++f)
            for (int g = f + 1; g < factor_count; ++g) wanted.erase(key(f, all[best][f], g, all[best][g]));
    }
    return rows;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A mapping-table row: the id and description, values from character 87.
std::string row(const std::string &id, const std::string &values) {
    std::string line = id;
    line.resize(86, ' ');
    return line + values + "\n";
}

std::string table(const std::string &name, const std::string &columns, const std::string &values) {
    return name + " \"All\"\nNUM_IDS 1\nID DESCRIPTION " + columns + "\n" + row("1     row", values);
}

// The boundary codes of the aquifer: the middle column carries `code`.
std::string boundary_map(int code) {
    std::string text = "north: 200.0\nsouth: 0.0\neast: 140.0\nwest: 0.0\nrows: 10\ncols: 7\n";
    for (int r = 0; r < 10; ++r) text += "1 1 1 " + std::to_string(code) + " 1 1 1\n";
    return text;
}

// Writes the project of combination c into d (the valley's files are copied first).
void write_project(const scratch_dir &d, const combination &c) {
    d.copy_case("combination_valley");
    std::filesystem::create_directories(d.path() / "slink");
    std::filesystem::create_directories(d.path() / "debug");
    const std::string &run = level(c, run_kind), &inf = level(c, infiltration),
                      &chan = level(c, channel), &gw = level(c, groundwater);
    const bool long_term = run != "event";
    std::string prj = "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMAPPING_TABLE run.cmt\n"
                      "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 10\nCOLS 7\nGRIDSIZE 20\nTIMESTEP 5\n"
                      "HYD_FREQ 1\nMAP_FREQ 15\nOUTROW 10\nOUTCOL 4\nOUTSLOPE 0.02\nQUIET\nOVERTYPE " +
                      level(c, overland) + "\n";
    std::string cmt = "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"one.idx\" \"All\"\n" +
                      table("ROUGHNESS", "MANNING_N", "0.05");
    if (long_term) {
        const bool snow = run == "snow" || run == "thaw";
        prj += std::string("LONG_TERM\nHMET_QAR ") + (snow ? "cold.qar" : "weather.qar") +
               "\nET_CALC_DEARDORFF\nLATITUDE 40.0\nLONGITUDE 105.0\nGMT -7\nPRECIP_FILE " +
               (run == "thaw" ? "thaw.gag" : snow ? "cold_storm.gag" : "storm.gag") + "\nRAIN_THIESSEN\nEVENT_MIN_Q 0.0001\n";
        // The snow of the cold storm thaws from 17:00; a second storm falls on the thawed ground.
        d.write("thaw.gag", d.read("cold_storm.gag") + "EVENT late\nNRGAG 1\nNRPDS 2\nCOORD 70.0 100.0\n"
                                                        "RATES 2021 7 13 03 00 20.0\nRATES 2021 7 13 03 30 0.0\n");
        cmt += table("EVAPOTRANSPIRATION",
                     "ALBEDO WILTING_POINT VEG_HEIGHT TRANSMISSION CANOPY_RESISTANCE",
                     "0.2 0.10 0.3 0.5 70");
        if (run == "sacramento" || run == "thaw") prj += "SACRAMENTO run.sac\n";
    } else {
        prj += "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 90\nPRECIP_UNIF\nRAIN_INTENSITY 40\n"
               "RAIN_DURATION 30\n";
    }
    if (inf == "green_ampt" || inf == "redistribution") {
        cmt += table("GREEN_AMPT_INFILTRATION", "KS PSI POROSITY PORE_INDEX RESIDUAL FIELD_CAPACITY",
                     "0.5 10.0 0.45 0.25 0.03 0.25") +
               table("GREEN_AMPT_INITIAL_SOIL_MOISTURE", "MOISTURE", "0.20");
        prj += inf == "green_ampt" ? "GREEN_AMPT\n" : "INF_REDIST\nSOIL_MOIST_DEPTH 1.0\nTOP_LAYER_DEPTH 0.1\n";
    } else if (inf == "layered") {
        prj += "INF_LAYERED_SOIL\nSOIL_TYPE_MAP one.idx\nSOIL_LAYER_INPUT_FILE layers.tab\n";
    } else if (inf == "richards") {
        prj += "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP one.idx\n"
               "SOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 0.3\n";
        if (gw != "none") prj += "AQUIFER_DELTA_Z 0.1\n";
    }
    if (chan != "none") {
        const std::string suffix = chan == "lake" ? "_lake" : chan == "structure" ? "_weir" : "";
        prj += "CHAN_EXPLIC\nLINKS links" + suffix + ".asc\nNODES nodes" + suffix +
               ".asc\nCHANNEL_INPUT chan" + suffix + ".chn\n";
        // valley.gst: the cells of the middle column hold nodes 1 to 5 of link 1, then of link 2.
        if (chan == "grid_stream") prj += "NON_ORTHO_CHANNELS\nSTREAM_CELL valley.gst\n";
        if (level(c, erosion) == "yes") {
            const std::string name = "chan" + suffix + ".chn";
            d.write(name, replace_all(replace_all(d.read(name), "\nTRAPEZOID\n", "\nTRAP_ERODE\n"),
                                      "SIDE_SLOPE 1.0\n", "SIDE_SLOPE 1.0\nMAX_EROSION 0.3\n"));
        }
    }
    if (gw != "none") {
        d.write("bound.asc", boundary_map(gw == "river" ? 2 : gw == "fixed_head" ? 5 : 1));
        prj += "GW_SIMULATION\nWATER_TABLE wt.asc\nAQUIFER_BOTTOM bot.asc\nGW_BOUNDFILE bound.asc\n"
               "GW_UNIF_HYCOND 5\nGW_UNIF_POROSITY 0.3\nGW_TIMESTEP 60\nGW_LSOR_CON 1e-8\n";
        if (gw == "well") {
            prj += "USE_WELLS\nOUT_WELL_LOCATION wells.txt\nGW_WELL_LEVEL wells.lev\n";
            cmt = replace_all(cmt, "INDEX_MAP \"one.idx\" \"All\"\n",
                              "INDEX_MAP \"one.idx\" \"All\"\nINDEX_MAP \"wells.idx\" \"Wells\"\n");
            cmt += "WELL_TABLE \"Wells\"\nNUM_IDS 1\nID DESCRIPTION KIND RATE UNUSED\n" +
                   row("1     row", "0 0.0005 0");
        }
    }
    if (level(c, overland_lake) == "yes") prj += "OVERLAND_LAKE_MAP olake.asc\nOVERLAND_LAKE_FILE olake.dat\n";
    if (level(c, pipes) == "yes") {
        // Into the channel where there is one to take it, else spilled onto the land.
        prj += chan == "plain" || chan == "structure" ? "STORM_SEWER pipes_channel.net\nGRID_PIPE pipes.gpi\n"
                                                      : "STORM_SEWER pipes_spill.net\nGRID_PIPE pipes_spill.gpi\n";
    }
    if (level(c, tracer) == "yes") {
        // Rain-borne, and released from a land pool of 0.2 kg per cell towards 2000 g/m3.
        cmt += "CONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n\"tracer\" \"All\" \"tracer.out\"\nPRECIP_CONC 1000\n"
               "NUM_IDS 1\nID\n" + row("1", "24 2000 0 0 0 0");
        prj += chan != "none" ? "OV_CON_TRANS\nCHAN_CON_TRANS\nOV_MASS_LOAD 0.2\n" : "OV_CON_TRANS\nOV_MASS_LOAD 0.2\n";
    }
    if (level(c, erosion) == "yes") {
        std::string silt = "1     silt", sand = "2     sand";
        silt.resize(44, ' ');
        sand.resize(44, ' ');
        cmt += "SEDIMENTS\nNUM_SED 2\nID\n" + silt + "0.01 2.65 silt.out\n" + sand + "0.5 2.65 sand.out\n" +
               "SOIL_EROSION_PROPS \"All\"\nNUM_IDS 1\nNUM_SED 2\nID\n" + row("1", "60 2e-5 0 1 0 0 0 1 0.5 0.5");
        prj += "SOIL_EROSION 1\nOUTLET_SED_FLUX run.sed\nWATER_TEMP 20\nSAND_SIZE 0.0625\nSED_POROSITY 0.4\n";
    }
    d.write("run.prj", prj);
    d.write("run.cmt", cmt);
}

// "label: value" lines of `text` from the line holding `from` to the line holding
// `to` (or the first blank line), in order.
void block_lines(const std::string &text, const std::string &from, const std::string &to,
                 std::vector<std::pair<std::string, double>> &out) {
    const std::size_t start = text.find(from);
    if (start == std::string::npos) return;
    std::istringstream in(text.substr(start));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (to.empty() ? line.empty() : line.find(to) != std::string::npos) break;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || line.find('=') != std::string::npos) continue;
        std::string label = line.substr(0, colon);
        while (!label.empty() && label.back() == ' ') label.pop_back();
        char *end = nullptr;
        const double v = std::strtod(line.c_str() + colon + 1, &end);
        if (end != line.c_str() + colon + 1) out.emplace_back(label, v);
    }
}

// The lines of the summary's global block (from its heading to the overall
// error), then those of the soil-moisture accounting stores in cubic metres.
std::vector<std::pair<std::string, double>> global_lines(const std::string &summary) {
    std::vector<std::pair<std::string, double>> out;
    block_lines(summary, "GLOBAL MASS BALANCE CALCULATIONS", "Overall mass balance error", out);
    if (!out.empty()) block_lines(summary, "fluxes expressed as volumes (m^3):", "", out);
    return out;
}

// How each line of the global block enters the balance of the whole watershed:
// +1 water that enters it or a store at the start, -1 water that leaves it or a store
// at the end, 0 water moving between two of its stores.
const std::map<std::string, int> &global_roles() {
    static const std::map<std::string, int> roles = {
        {"Initial surface volume", 1},
        {"Initial channel volume", 1},
        {"Initial soil water volume", 1},
        {"Initial soil volume over the G&A depth", 1},
        {"Initial groundwater volume", 1},
        {"Initial overland lake volume", 1},
        {"Initial snow volume", 1},
        {"Initial perennial lake volume", 1},
        {"Initial pipe network volume", 1},
        {"Water added by the pipe depth bounds", 1},
        {"Water added by the aquifer floor", 1},
        {"Total precipitation", 1},
        {"Groundwater across bounds", 1},
        {"Seepage from the water table", 1}, {"Seepage to the water table", -1},
        {"Overland point sources", 1},
        {"Channel point sources", 1},
        {"Water added by the overland clean-up", 1},
        {"Water added by lifting channel areas", 1},
        {"Final surface volume", -1},
        {"Final overland lake volume", -1},
        {"Final channel volume", -1},
        {"Final soil water volume", -1},
        {"Final groundwater volume", -1},
        {"Final snow volume", -1},
        {"Final perennial lake volume", -1},
        {"Final pipe network volume", -1},
        {"Final Sacramento runoff in transit", -1},
        {"Lake evaporation", -1},
        {"Total evaporation", -1},
        {"Direct evaporation", 0}, {"Percolation into head-boundary cells", -1}, {"Rain on perennial lakes", 0},
        {"Total discharge", -1},
        {"Total pumping", -1},
        {"Deep recharge", -1},
        {"Total infiltration", 0},
        {"Total exfiltration", 0},
        {"Total recharge", 0},
        {"Drained through the column bottoms", -1},
        {"Water added by the moisture limits", 1},
        {"Downward flux from the unsaturated zone", 0},
        {"Lateral inflow into channels", 0},
        {"Groundwater to rivers", 0},
        {"Rivers to groundwater", 0},
        {"Groundwater to lakes", 0},
        {"Lakes to groundwater", 0},
        {"Flows into lakes", 0},
        {"Tile drains, aquifer to pipes", 0},
        {"Flows from lakes", 0},
        {"Taken by pipe inlets", 0},
        // The pipes' continuity error: it shows in the overall error.
        {"Pipe water the scheme made (lost if negative)", 0},
        {"Spilled from pipes onto the land", 0},
        {"Pipe outflow into channels", 0},
        // The soil-moisture accounting stores hold the infiltrated water; their
        // runoff reaches the channels or the outlet and shows in the discharge.
        {"Initial subsurface storage (m3)", 1},
        {"Input rainfall (m3)", 0},
        {"PET calculated by KORVA (m3)", 0},
        {"AET calculated by Sacramento (m3)", -1},
        {"Subsurface runoff (m3)", 0},
        {"Recharge to deep g.w. (m3)", -1},
        {"Final volume of subsurface water (m3)", -1},
        {"Residual (neg. means mass created (m3)", 0},
    };
    return roles;
}

// Each printed balance: its heading, the label of its error (percent, with its
// decimals), half the last digit of its volume lines, and its terms "+label|-label|":
// + enters it (or a store at its start), - leaves it (or a store at its end); its
// other lines are totals of these or flows within it. The surface balance reads
// the global block's lines.
struct balance_block {
    const char *from, *error;
    int decimals;
    double rounding;
    const char *terms;
};
const balance_block surface_block = {"", "Mass balance error of surface components =", 6, 0.005,
    "+Initial surface volume|+Initial channel volume|+Initial overland lake volume|+Initial perennial lake volume|"
    "+Total precipitation|+Groundwater to rivers|+Groundwater to lakes|+Overland point sources|+Channel point sources|"
    "+Spilled from pipes onto the land|+Pipe outflow into channels|+Water added by the overland clean-up|"
    "+Water added by lifting channel areas|+Subsurface runoff (m3)|+Seepage from the water table|"
    "-Seepage to the water table|-Final surface volume|-Final overland lake volume|-Final channel volume|"
    "-Final snow volume|-Final perennial lake volume|-Final Sacramento runoff in transit|-Total infiltration|"
    "-Direct evaporation|-Total discharge|-Rivers to groundwater|-Lakes to groundwater|-Lake evaporation|"
    "-Taken by pipe inlets|"};
const balance_block other_blocks[] = {
    {"GROUNDWATER CALCULATIONS", "Mass Balance error", 2, 0.005,
     "+Volume in groundwater at start|-Volume in groundwater at end|+Total inputs|+Flux across head boundaries|"
     "+Added by the aquifer floor|-Leakage to deep aquifer|-Pumping volume|-Taken by tile drains|"
     "-Groundwater to rivers|-Groundwater to lakes|"},
    {"Note: all volumes in cubic meters.", "mass conservation error", 6, 0.05,
     "+initial volume in lakes|+initial volume of overland flow|+initial volume in channels|"
     "+inital liquid-equiv. volume of snow|+volume of total rainfall|-volume of interception|"
     "+volume of base flow from Sacramento|-volume of direct evaporation|-volume of infiltrated water|"
     "-volume of discharge|+volume of gw to chan|-volume of water from chan to gw|+volume of gw to lakes|"
     "-volume of water from lakes to gw|+volume from stream point sources|-volume to stream point sinks|"
     "+volume from lake point sources|-volume to lake point sinks|-volume of lake evaporation|"
     "+volume from overland point sources|+volume in across the open boundary|"
     "-volume out across the open boundary|+volume added lifting channel areas|-volume remaining in lakes|"
     "-volume remaining on surface|-final volume in channels (cu. m)|-final volume of snow (cu. m)|"
     "+mass cleanup error from overland|"},
};

// What leaves less what enters, from `lines`, is the printed `error` of what entered.
void expect_closed(const balance_block &b, const std::vector<std::pair<std::string, double>> &lines,
                   double error, const std::string &shown) {
    double into = 0.0, out = 0.0;
    const std::string terms = std::string("|") + b.terms;
    for (const auto &[label, v] : lines) {
        if (terms.find("|+" + label + "|") != std::string::npos) into += v;
        if (terms.find("|-" + label + "|") != std::string::npos) out += v;
    }
    const double resolution = 0.5 * std::pow(10.0, -b.decimals) / 100.0 * into;
    EXPECT_NEAR(out - into, error / 100.0 * into, lines.size() * b.rounding + resolution) << shown;
}

// Every printing of a block (each event's) closed from its own lines: from its
// heading to the empty line after its error (a line whose value has no colon
// before it holds it as its last word).
void close_block(const std::string &text, const balance_block &b) {
    for (std::size_t at = text.find(b.from); at != std::string::npos; at = text.find(b.from, at + 1)) {
        std::istringstream in(text.substr(at));
        std::vector<std::pair<std::string, double>> lines;
        std::string line;
        double error = NAN;
        for (std::getline(in, line); std::getline(in, line) && !(line.empty() && !std::isnan(error));) {
            std::size_t mark = line.rfind(b.error, 0) == 0 ? std::strlen(b.error) : line.find_first_of(":=");
            if (mark == std::string::npos) mark = line.find_last_of(' ');
            if (mark == std::string::npos) continue;
            const char *p = line.c_str() + mark + (line[mark] == ':' || line[mark] == '=' || line[mark] == ' ');
            while (*p == ' ' || *p == ':' || *p == '=') ++p;
            char *end = nullptr;
            const double v = std::strtod(p, &end);
            if (end == p) continue;
            std::string label = line.substr(0, mark);
            while (!label.empty() && label.back() == ' ') label.pop_back();
            if (line.rfind(b.error, 0) == 0) error = v;
            else lines.emplace_back(label, v);
        }
        ASSERT_FALSE(std::isnan(error)) << b.from;
        expect_closed(b, lines, error, text.substr(at, 3000));
    }
}

// The number that follows the last word `marker` on each line that holds `phrase`.
std::vector<double> numbers_on_lines(const std::string &text, const std::string &phrase) {
    std::vector<double> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t at = line.find(phrase);
        if (at == std::string::npos) continue;
        const char *p = line.c_str() + at + phrase.size();
        while (*p && !(std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || *p == '.')) ++p;
        char *end = nullptr;
        const double v = std::strtod(p, &end);
        if (end != p) out.push_back(v);
    }
    return out;
}

// Trapezoidal integral (m3) of an outlet hydrograph; its first column is in minutes
// for an event run and in decimal years for a long-term run.
double hydrograph_volume(const std::string &otl, bool long_term) {
    std::istringstream in(otl);
    double t0 = NAN, q0 = 0.0, t, q, volume = 0.0;
    while (in >> t >> q) {
        EXPECT_GE(q, 0.0) << "a negative outlet discharge";
        const double seconds = long_term ? t * 365.0 * 86400.0 : t * 60.0;
        if (!std::isnan(t0)) volume += 0.5 * (q + q0) * (seconds - t0);
        t0 = seconds;
        q0 = q;
    }
    return volume;
}


class KorvaCombinations : public ::testing::TestWithParam<combination> {};

TEST_P(KorvaCombinations, RunClosesEveryBalance) {
    const combination &c = GetParam();
    {
        scratch_dir d;
        write_project(d, c);
        std::set<std::string> inputs;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(d.path()))
            inputs.insert(std::filesystem::relative(entry.path(), d.path()).string());
        const testsupport::program_result p = d.run(KORVA_EXE, {"run.prj"}, 300);
        const std::string all_output = p.out + p.err;
        if (p.exit_status != 0) {
            EXPECT_EQ(p.exit_status, 1) << "a run that does not end";
            EXPECT_NE(all_output.find(".prj"), std::string::npos) << all_output;
            ADD_FAILURE() << "refused: " << all_output.substr(all_output.size() > 1500 ? all_output.size() - 1500 : 0);
            return;
        }
        for (const std::string &line : testsupport::split_lines(all_output))
            EXPECT_NE(line.rfind("Error", 0), 0u) << line;
        const std::string summary = d.read("run.sum");

        // Every printed balance error, in percent.
        for (const char *phrase : {"mass conservation error:", "Mass Balance error =", "mass balance error ",
                                   "Overall mass balance error =", "Mass balance error of surface components =",
                                   "Single layer soil moisture mass balance =", "Contam mass balance error",
                                   "conservation error:"}) {
            for (double e : numbers_on_lines(summary, phrase)) EXPECT_LE(std::fabs(e), 0.5) << phrase;
        }

        // The hand balance of the global block.
        const auto lines = global_lines(summary);
        ASSERT_FALSE(lines.empty()) << "no global block";
        double in = 0.0, out = 0.0, rain = NAN;
        for (const auto &[label, v] : lines) {
            EXPECT_TRUE(std::isfinite(v)) << label;
            const auto role = global_roles().find(label);
            if (role == global_roles().end()) {
                ADD_FAILURE() << "a line of the global block the hand balance does not know: " << label;
                continue;
            }
            if (role->second > 0) in += v;
            if (role->second < 0) out += v;
            if (label == "Total precipitation") rain = v;
        }
        ASSERT_GT(rain, 0.0);
        const double overall = numbers_on_lines(summary, "Overall mass balance error =").at(0);
        EXPECT_NEAR(out - in, overall / 100.0 * in, 0.005 * lines.size() + 5e-9 * in)
            << summary.substr(summary.find("GLOBAL MASS BALANCE"));
        // The surface share of the same lines, and every other block by its own lines
        // (the event block of a pipe run is closed by the pipe network's own tests).
        expect_closed(surface_block, lines, numbers_on_lines(summary, surface_block.error).at(0), summary);
        for (const balance_block &b : other_blocks)
            if (std::string(b.error) != "mass conservation error" || level(c, pipes) == "no") close_block(summary, b);

        // The closing lists name the processes the run simulated, and no input it did not read.
        EXPECT_EQ(summary.find("A ZEP Project File was used."), std::string::npos);
        for (const auto &[line, on] : {std::pair{"Groundwater flow in the", level(c, groundwater) != "none"},
                                       {"Pumping wells.", level(c, groundwater) == "well"},
                                       {"Storm-sewer pipe network", level(c, pipes) == "yes"}})
            EXPECT_EQ(summary.find(line) != std::string::npos, on) << line;

        // The tracer's global block closes by hand over every line it prints; what
        // the snow holds at the end is its water at the rain's concentration.
        const std::size_t g = summary.find("Contaminant Transport Global Summary");
        if (level(c, tracer) == "yes" && g != std::string::npos) {
            const auto kg = [&](const char *label) {
                const std::size_t at = summary.find(label, g);
                return at == std::string::npos ? 0.0 : std::strtod(summary.c_str() + at + std::strlen(label), nullptr);
            };
            const double mass_in = kg("Initial mass ") + kg("Mass from point sources") + kg("Mass from precipitation") +
                              kg("Mass from groundwater") + kg("Mass exfiltrated") + kg("Mass added by the clean-up");
            const double mass_out = kg("Final mass ") + kg("Mass to groundwater") + kg("Mass infiltrated") +
                               kg("Mass out of the outlet") + kg("Mass decayed") + kg("Mass out by other paths");
            EXPECT_NEAR(mass_in, mass_out, 0.005 * mass_in + 0.06) << summary.substr(g);
            if (level(c, run_kind) == "snow") {
                EXPECT_NEAR(kg("Final mass in snow"), numbers_on_lines(summary, "Final snow volume").back(), 0.02);
            }
        }

        // The outlet hydrograph holds the discharge the summary prints.
        double discharge = NAN;
        for (const auto &[label, v] : lines)
            if (label == "Total discharge") discharge = v;
        EXPECT_NEAR(hydrograph_volume(d.read("run.otl"), level(c, run_kind) != "event"), discharge,
                    0.01 * rain + 0.02 * discharge);
        // A long-term run ends once its last event's outflow falls below EVENT_MIN_Q (0.0001 m3/s),
        // at the latest an hour after its last record (7/13 6:00, day 194).
        const std::vector<std::string> otl = testsupport::split_lines(d.read("run.otl"));
        double t = 0.0, q = 0.0;
        if (level(c, run_kind) != "event" && std::sscanf(otl.back().c_str(), "%lf %lf", &t, &q) == 2) {
            const double weather_end = 2021.0 + (194.0 * 1440.0 + 7.0 * 60.0) / 525600.0;
            EXPECT_LE(t, weather_end + 1e-7);
            EXPECT_TRUE(t > weather_end - 1e-7 || q <= 0.0002) << "ended at " << t << " with the outlet flowing";
        }

        // No output holds a value that is not a number.
        for (const auto &entry : std::filesystem::recursive_directory_iterator(d.path())) {
            const std::string file = std::filesystem::relative(entry.path(), d.path()).string();
            if (!entry.is_regular_file() || inputs.count(file)) continue;
            std::istringstream words(d.read(file));
            std::string w;
            while (words >> w) {
                for (char &ch : w) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                if (!w.empty() && (w[0] == '-' || w[0] == '+')) w.erase(0, 1);
                EXPECT_TRUE(w != "nan" && w != "inf" && w != "infinity") << file << " holds " << w;
            }
        }
    }
}

std::string row_name(const ::testing::TestParamInfo<combination> &row) {
    std::string name;
    bool upper = true;
    for (char ch : name_of(row.param)) {
        if (ch == '_' || ch == '/') {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(ch))) : ch;
        upper = false;
    }
    return name;
}

// Each row a test of its own, named by its levels, so that the runs go side by side.
INSTANTIATE_TEST_SUITE_P(Pairwise, KorvaCombinations, ::testing::ValuesIn(covering_set()), row_name);

}  // namespace
