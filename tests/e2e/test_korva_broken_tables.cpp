// Runs korva on the small plane with one table input broken at a time: pipe
// network and grid-pipe files, mapping and stream mapping tables, the well table,
// soil tables, the aquatic environment file, the overland lake file and the
// output folders. The sound files run to the end; each broken one ends the run
// at set-up with status 1 and the message that names it.
#include <gtest/gtest.h>

#include <string>

#include "small_plane.h"
#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

using project_text::row;
using project_text::with;

const std::string ones = small_plane::grid([](int, int) { return std::string("1"); });
const std::string net = "SJUNC 1 105 100 1 5 5 25 1 1\nSJUNC 2 104 99 1 0 25 5 3 3\n"
                        "CONNECT 1 1 2\nSLINK 1 1\nNODE 1 105 100 0.5 0 5 25 1 1\n"
                        "NODE 2 104 99 0.5 0 25 5 3 3\nPIPE 1 1 0.6 0 0.005 0.013 28 0\n";
const std::string gpi = "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 2 2\nNUMPIPES 1\nSPIPE 1 1 1.0\n";
const std::string sed = std::string("1     sand").append(34, ' ') + "0.5 2.65 sand.out\n";
const std::string mapping = "KORVA_INDEX_MAP_TABLES\nINDEX_MAP e.idx \"E\"\nSEDIMENTS\nNUM_SED 1\n"
                            "ID\n" + sed + "SOIL_EROSION_PROPS \"E\"\nNUM_IDS 1\nNUM_SED 1\nID\n" +
                            row("1", "1 2 3 4 5 6 7 8 1.0") + "WELL_TABLE \"E\"\nNUM_IDS 1\nID\n" +
                            row("1", "0 -0.001 0") + "CONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n"
                            "\"t\" \"E\" \"t.out\"\nPRECIP_CONC 1\nNUM_IDS 1\nID\n" +
                            row("1", "0 0 0 0 0 0");
const std::string stream = "KORVA_STREAM_INDEX_MAP_TABLES\nST_INDEX_MAP s.smp \"S\"\n"
                           "ROUGHNESS \"S\"\nNUM_IDS 1\nID\n" + row("1", "0.03");
const std::string layer = "1.3 0.43 0.03 0.11 0.05 0.2 10 0.25 11.1\n";
const std::string richards = "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer;
const std::string env = "AQUATIC_ENV_QVL10\nOV_MAP e.idx\nST_MAP none\nNUM_IDS 1\nID 1\nDEFAULT\n";

const char *pipes = "STORM_SEWER p.net\nGRID_PIPE p.gpi\n";
const char *tables = "MAPPING_TABLE m.cmt\nSOIL_EROSION 1\nOUTLET_SED_FLUX sed.otl\nWATER_TEMP 20\n"
                     "OV_CON_TRANS\n";
const char *soil = "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP e.idx\n"
                   "SOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 10\n";
const std::string wells = std::string(tables) + soil + "AQUIFER_DELTA_Z 0.1\nGW_SIMULATION\n"
                          "WATER_TABLE wt.map\nAQUIFER_BOTTOM bot.map\nGW_BOUNDFILE e.idx\n"
                          "GW_UNIF_HYCOND 5\nGW_UNIF_POROSITY 0.3\nGW_TIMESTEP 60\nUSE_WELLS\n";
const std::string well_levels = wells + "GW_WELL_LEVEL wl.out\nOUT_WELL_LOCATION wl.txt\n";
const char *nutrients = "NUTRIENTS\nAQ_ENV env.aq\nNTR_SUM ntr.sum\n";
const char *lakes = "OVERLAND_LAKE_MAP e.idx\nOVERLAND_LAKE_FILE lakes.dat\n";

struct broken_table {
    const char *cards;
    std::string file, text;  // written over the sound file ("-": removed; file empty: none)
    const char *message;     // empty: the run ends normally
};

const broken_table cases[] = {
    {pipes, "", "", ""},
    {pipes, "slink/.keep", "-",
     "card STORM_SEWER: the folder slink for its output file slink/head.out does not exist."},
    {pipes, "p.gpi", "PIPECELLS 1\n", "Error in the grid-pipe file p.gpi, line 1: it does not begin"},
    {pipes, "p.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 2 2\nNUMPIPES 999999999\nSPIPE 1 1 1.0\n",
     "NUMPIPES 999999999 of grid-pipe cell 1, but the file holds 1 SPIPE cards."},
    {pipes, "p.net", with(net, "105 100 1 5", "105 -99999999 1 5"),
     "super-junction 1 has an elevation beyond 10000 m of the datum."},
    {tables, "", "", ""},
    {tables, "m.cmt", with(mapping, "NUM_SED 1", "NUM_SED 999999999"),
     "NUM_SED 999999999 of the SEDIMENTS table in mapping table file m.cmt is more classes"},
    {tables, "m.cmt", with(mapping, "0.5 2.65", "nan 2.65"),
     "row 1 of the SEDIMENTS table in mapping table file m.cmt needs two values"},
    {tables, "m.cmt", with(mapping, "5 6 7 8 1.0", "5 6 inf 8 1.0"),
     "row 1 of the SOIL_EROSION_PROPS table in mapping table file m.cmt: value 7"},
    {tables, "m.cmt", with(mapping, "SEDIMENTS\nNUM_SED 1\nID\n" + sed, ""),
     "missing in the .cmt file.\n  (mapping table file m.cmt: SOIL_EROSION needs its SEDIMENTS table"},
    {wells.c_str(), "m.cmt", with(mapping, "-0.001", "inf"),
     "row 1 of the WELL_TABLE table in mapping table file m.cmt: value 2"},
    {well_levels.c_str(), "wl.txt", "99999999999\n1 1\n",
     "the well location file wl.txt gives 99999999999 locations, more than its lines hold."},
    {tables, "m.cmt", with(mapping, "PRECIP_CONC 1", "PRECIP_CONC nan"),
     "Error in reading the precip concentration of constituent #1"},
    {"ST_MAPPING_TABLE st.cmt\n", "", "", ""},
    {"ST_MAPPING_TABLE st.cmt\n", "st.cmt", "", "file st.cmt: it does not begin with"},
    {"ST_MAPPING_TABLE st.cmt\n", "st.cmt", "ROUGHNESS\n", "file st.cmt: it does not begin with"},
    {"ST_MAPPING_TABLE st.cmt\n", "st.cmt", with(stream, "NUM_IDS 1", "NUM_IDS 2"),
     "the ROUGHNESS table in mapping table file st.cmt ends after 1"},
    {"ST_MAPPING_TABLE st.cmt\n", "st.cmt", "-", "Unable to open Mapping Table file: st.cmt"},
    {"ST_MAPPING_TABLE st.cmt\n", "s.smp", "-", "Unable to open stream map file s.smp"},
    {soil, "", "", ""},
    {soil, "soil.tab", "1\n0\n1\n1 2 2 0.1\n" + layer + layer + "1 1 1 1 1 1 2147483648 1 1\n",
     "entry 1 of the Richards soil table soil.tab: its layer depths over their node spacings give"},
    {soil, "soil.tab", "1\n2000000000\n", "its second count 2000000000 is above 9999"},
    {"INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_MOIST_DEPTH 10\n", "", "",
     "Unable to open soil type file.\n  (File: none given; the card SOIL_TYPE_MAP names it)"},
    {nutrients, "", "", "the Nitrite (NO2-) constituent has no input mode"},  // the file is read
    {nutrients, "env.aq", with(env, "NUM_IDS 1", "NUM_IDS 999999999"),
     "NUM_IDS 999999999 in the aquatic environment file env.aq is more ids than its 1 ID lines"},
    {lakes, "", "", ""},
    {lakes, "lakes.dat", "KORVA_OVERLAND_LAKE_FILE\nLAKE 1 nan 0\n",
     "LAKE card 1 of the overland lake input data file lakes.dat does not hold"},
    {"DEPTH depth\nMAP_TYPE 0\nMAP_FREQ 5\n", "", "",
     "Error: card DEPTH: the folder depth for its output file depth/depth.01 does not exist."},
};

TEST(KorvaBrokenTables, EachBrokenTableEndsTheRunAtSetUpWithStatusOneAndItsMessage) {
    for (const broken_table &c : cases) {
        scratch_dir d;
        for (const char *name : {"mask.map", "e.idx", "wt.map"}) d.write(name, ones);
        d.write("elev.map", small_plane::grid([](int r, int) { return std::to_string(100 - r); }));
        d.write("bot.map", small_plane::grid([](int, int) { return std::string("50"); }));
        for (const auto &[name, text] : {std::pair<std::string, std::string>{"p.net", net},
                                         {"p.gpi", gpi}, {"m.cmt", mapping}, {"st.cmt", stream},
                                         {"s.smp", "STREAM_MAP\nNLINKS 0\nMAXNODES 0\n"},
                                         {"soil.tab", richards}, {"env.aq", env},
                                         {"lakes.dat", "KORVA_OVERLAND_LAKE_FILE\nLAKE 1 99.5 0\n"},
                                         {"slink/.keep", ""}, {"debug/.keep", ""}})
            if (name != c.file) d.write(name, text);
        if (!c.file.empty() && c.text != "-") d.write(c.file, c.text);
        d.write("run.prj",
                "KORVAPROJECT\nWATERSHED_MASK mask.map\nELEVATION elev.map\nMANNING_N 0.05\n"
                "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 3\nCOLS 3\nGRIDSIZE 10\n"
                "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 10\nTIMESTEP 10\nHYD_FREQ 5\n"
                "MAP_FREQ 60\nOUTROW 3\nOUTCOL 2\nOUTSLOPE 0.02\nOVERTYPE explicit\nPRECIP_UNIF\n"
                "RAIN_INTENSITY 10\nRAIN_DURATION 5\n" + std::string(c.cards));
        const auto r = d.run(KORVA_EXE, {"run.prj"});
        EXPECT_EQ(r.exit_status, *c.message ? 1 : 0) << c.cards << c.file << "\n" << r.out;
        const std::string log = d.exists("ntr.sum") ? d.read("ntr.sum") : "";
        EXPECT_NE((r.out + r.err + log).find(c.message), std::string::npos) << c.message << r.out;
    }
}

}  // namespace
