// Runs korva on the small plane with one value at a time set beyond what its
// quantity can physically be (an elevation of 1e308, a moisture above 1, a rain
// of 2147483648 mm/h, a well pumping 1e308 m3/s, ...), with a required card left
// out, or with a count no file can hold: each run ends at set-up with status 1
// and a message naming the file or card. The sound projects run to the end.
#include <gtest/gtest.h>

#include <string>

#include "small_plane.h"
#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

using project_text::row;
using project_text::with;

// The grid's text with cell (1, 2) set to `value` and every other cell to `rest`.
std::string one_cell(const std::string &rest, const std::string &value) {
    return small_plane::grid([&](int r, int c) { return r == 1 && c == 2 ? value : rest; });
}

const std::string ones = small_plane::grid([](int, int) { return std::string("1"); });
const std::string mapping = "KORVA_INDEX_MAP_TABLES\nINDEX_MAP e.idx \"E\"\nWELL_TABLE \"E\"\n"
                            "NUM_IDS 1\nID\n" + row("1", "0 0.001 0") + "CONTAMINANT_TRANSPORT\n"
                            "NUM_CONTAM 1\n\"t\" \"E\" \"t.out\"\nPRECIP_CONC 1\nNUM_IDS 1\nID\n" +
                            row("1", "0 0 0 0 0 0");
const std::string layer = "1.3 0.43 0.03 0.11 0.05 0.2 10 0.25 11.1\n";
const std::string soil_table = "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer;
// The Havercamp form: A of the first layer -1 (A, B, alpha and beta are above 0).
const std::string havercamp_layer = "1.3 0.43 0.03 0.11 0.05 0.2 10 1.175e6 4.74 27.8 3.96\n";
const std::string havercamp_table = "1\n0\n1\n1 2 2 0.1\n" +
                                    with(havercamp_layer, "1.175e6", "-1") + havercamp_layer + havercamp_layer;
const std::string wells = "MAPPING_TABLE m.cmt\nINF_RICHARDS\nRICHARDS_C_OPTION brooks\n"
                          "SOIL_TYPE_MAP e.idx\nSOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 10\n"
                          "AQUIFER_DELTA_Z 0.1\nGW_SIMULATION\nWATER_TABLE wt.map\n"
                          "AQUIFER_BOTTOM bot.map\nGW_BOUNDFILE e.idx\nGW_UNIF_HYCOND 5\n"
                          "GW_UNIF_POROSITY 0.3\nGW_TIMESTEP 60\nUSE_WELLS\n";
const std::string ga = "GREEN_AMPT\nCONDUCTIVITY e.idx\nCAPILLARY e.idx\nPOROSITY e.idx\n";
// A Green and Ampt table of one soil: Ks, head, porosity, pore index, residual, field capacity.
std::string ga_table(const std::string &pore_index, const std::string &field_capacity) {
    return "KORVA_INDEX_MAP_TABLES\nINDEX_MAP e.idx \"E\"\nGREEN_AMPT_INFILTRATION \"E\"\nNUM_IDS 1\nID\n" +
           row("1", "1 10 0.4 " + pore_index + " 0.05 " + field_capacity) +
           "GREEN_AMPT_INITIAL_SOIL_MOISTURE \"E\"\nNUM_IDS 1\nID\n" + row("1", "0.2");
}
const std::string ga_mapped = "MAPPING_TABLE m.cmt\nGREEN_AMPT\n";
const std::string redist_mapped = "MAPPING_TABLE m.cmt\nINF_REDIST\n";

struct bound_case {
    std::string cards;       // added to the project
    const char *from, *to;   // an edit of the project (from empty: none)
    std::string file, text;  // written over the sound file ("/": a folder in its place)
    const char *message;     // empty: the run ends normally
};

const bound_case cases[] = {
    {"", "", "", "", "", ""},
    {"", "", "", "elev.map", one_cell("99", "1e308"),
     "map elev.map, row 1, column 2: \"1e308\" lies outside -11000 to 9000 m"},
    {"", "RAIN_INTENSITY 10", "RAIN_INTENSITY 2147483648", "", "",
     "card RAIN_INTENSITY: the value \"2147483648\" lies outside its range (0 to 2000 mm/h)"},
    {"", "RAIN_INTENSITY 10", "RAIN_INTENSITY 99999999999", "", "", "(0 to 2000 mm/h)"},
    {"", "START_TIME 14 0\n", "", "", "", "uniform precipitation using the START_DATE and START_TIME"},
    {"OV_INIT_DEPTH h.map\n", "", "", "h.map", one_cell("0", "1e308"),
     "gives depth 1e+308 at grid cell 2; depths must be 0 or more, at most 1000 m"},
    {"ROUGHNESS r.map\n", "MANNING_N 0.05\n", "", "r.map", one_cell("0.05", "1e308"),
     "the Manning n 1e+308 of grid cell 2 (ROUGHNESS r.map) lies outside 0 to 100"},
    {wells, "", "", "", "", ""},
    {wells, "", "", "wt.map", one_cell("99", "-1e308"),
     "map wt.map, row 1, column 2: \"-1e308\" lies outside -11000 to 9000 m"},
    {wells, "", "", "bot.map", one_cell("50", "1e308"), "map bot.map, row 1, column 2: \"1e308\""},
    {wells, "", "", "soil.tab", with(soil_table, "1 2 2 0.1", "1 1e308 2 0.1"),
     "soil.tab: value 2 of its node spacing line, 1e+308, lies outside 0 to 100000 cm"},
    {wells, "", "", "soil.tab", with(soil_table, "0.03 0.11", "0.03 1e308"),
     "soil 1 of the Richards soil table soil.tab: value 4 of its layer 1 line, 1e+308"},
    {wells, "", "", "m.cmt", with(mapping, "0 0.001 0", "0 1e308 0"),
     "WELL_TABLE table in mapping table file m.cmt: the rate 1e+308 lies outside -1000 to 1000"},
    {wells, "", "", "m.cmt", "/", "Unable to open Mapping Table file: m.cmt"},
    {wells + "OUT_WELL_LOCATION w.loc\nGW_WELL_LEVEL w.out\n", "", "", "w.loc", "2000000000\n1 2\n",
     "the well location file w.loc gives 2000000000 locations, more than its lines hold"},
    {wells + "IN_THETA_LOCATION t.loc\nOUT_THETA_LOCATION t.out\n", "", "", "t.loc", "2000000000 1\n1 2 1 1\n",
     "file t.loc gives 2000000000 soil-moisture locations"},
    {"MAPPING_TABLE m.cmt\nOV_CON_TRANS\n", "", "", "m.cmt", with(mapping, "NUM_CONTAM 1", "NUM_CONTAM 0"),
     "NUM_CONTAM 0 in mapping table file m.cmt names no contaminant"},
    {"OVERLAND_LAKE_MAP e.idx\nOVERLAND_LAKE_FILE lakes.dat\n", "", "", "lakes.dat",
     "KORVA_OVERLAND_LAKE_FILE\nLAKE 1 1e308 0\n", "lakes.dat: the elevation 1e+308 lies outside"},
    {ga + "MOISTURE e.idx\n", "", "", "", "", ""},
    {"TOP_LAYER_DEPTH 0\n", "", "", "", "", "card TOP_LAYER_DEPTH: the value \"0\" lies outside its range (more than 0)"},
    {"OV_CON_TRANS\nOV_DECAY_COEF -1e308\n", "", "", "", "", "card OV_DECAY_COEF: the value \"-1e308\" lies outside its range (0 to 10000 per day)"},
    {"OV_CON_TRANS\nINIT_CHAN_CONC 1e308\n", "", "", "", "", "card INIT_CHAN_CONC: the value \"1e308\" lies outside its range (0 to 1000000 g/m3)"},
    {"MAPPING_TABLE m.cmt\nOV_CON_TRANS\n", "", "", "m.cmt", with(mapping, "0 0 0 0 0 0", "0 0 0 -1e308 0 0"),
     "row 1 (id 1) of the CONTAMINANT_TRANSPORT table of contaminant 1 (t) in mapping table file m.cmt: the decay -1e+308 lies outside 0 to 10000 per day"},
    {"MAPPING_TABLE m.cmt\nOV_CON_TRANS\n", "", "", "m.cmt", with(mapping, "PRECIP_CONC 1", "PRECIP_CONC 1e308"),
     "the PRECIP_CONC 1e+308 of contaminant 1 (t) in mapping table file m.cmt lies outside 0 to 1000000 g/m3"},
    {ga, "", "", "", "", "GREEN_AMPT needs the initial soil moisture"},
    {redist_mapped, "", "", "m.cmt", ga_table("0.2", "0.3"), ""},
    {ga_mapped, "", "", "m.cmt", ga_table("0.2", "1e308"),
     "the field capacity of grid cell 1 is 1e+308, outside 0 to 1 (from mapping table file m.cmt)"},
    {ga_mapped, "", "", "m.cmt", ga_table("0.2", "-1"), "the field capacity of grid cell 1 is -1"},
    {redist_mapped, "", "", "m.cmt", ga_table("0", "0.3"),
     "the pore distribution index of grid cell 1 is 0, outside 0.01 to 10 (from mapping table file m.cmt)"},
    {redist_mapped, "", "", "m.cmt", ga_table("1e308", "0.3"), "the pore distribution index of grid cell 1 is 1e+308"},
    {wells, "", "", "soil.tab", with(soil_table, "0.2 10 0.25", "0.2 10 -1"),
     "soil 1 of the Richards soil table soil.tab: value 8 of its layer 1 line, -1, lies outside 0.01 to 10"},
    {wells, "RICHARDS_C_OPTION brooks", "RICHARDS_C_OPTION havercamp", "soil.tab", havercamp_table,
     "soil 1 of the Richards soil table soil.tab: value 8 of its layer 1 line, -1, lies outside 1e-12"},
    {"MAPPING_TABLE m.cmt\nINF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_MOIST_DEPTH 10\n", "", "", "", "",
     "mapping table file m.cmt has no RICHARDS_EQN_INFILTRATION_BROOKS or"},
};

TEST(KorvaPhysicalBounds, ValuesBeyondTheirQuantityEndTheRunAtSetUpNamingTheFileOrCard) {
    for (const bound_case &c : cases) {
        scratch_dir d;
        for (const char *name : {"mask.map", "e.idx"}) d.write(name, ones);
        d.write("elev.map", one_cell("99", "99"));
        d.write("wt.map", one_cell("99", "99"));
        d.write("bot.map", one_cell("50", "50"));
        d.write("soil.tab", soil_table);
        d.write("lakes.dat", "KORVA_OVERLAND_LAKE_FILE\nLAKE 1 99.5 0\n");
        if (c.file != "m.cmt") d.write("m.cmt", mapping);
        if (c.text == "/")
            d.write(c.file + "/.keep", "");
        else if (!c.file.empty())
            d.write(c.file, c.text);
        std::string project =
            "KORVAPROJECT\nWATERSHED_MASK mask.map\nELEVATION elev.map\nMANNING_N 0.05\n"
            "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 3\nCOLS 3\nGRIDSIZE 10\n"
            "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 10\nTIMESTEP 10\nHYD_FREQ 5\n"
            "MAP_FREQ 60\nOUTROW 3\nOUTCOL 2\nOUTSLOPE 0.02\nOVERTYPE explicit\nPRECIP_UNIF\n"
            "RAIN_INTENSITY 10\nRAIN_DURATION 5\n" + c.cards;
        if (*c.from) project = with(project, c.from, c.to);
        d.write("run.prj", project);
        const auto r = d.run(KORVA_EXE, {"run.prj"});
        EXPECT_EQ(r.exit_status, *c.message ? 1 : 0) << c.cards << c.file << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << c.message << "\n" << r.out;
    }
}

}  // namespace
