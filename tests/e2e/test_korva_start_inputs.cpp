// Runs korva on a small plane that starts from an overland hotstart map, and on
// the same plane with a stream mapping table, soil erosion and an overland
// contaminant: the initial overland volume is the sum of the hotstart depths
// times the cell area, and each of the other projects reads its inputs and goes
// on into the run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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
    std::snprintf(text, sizeof text, "%.4f", v);
    return text;
}

// Hotstart depth of the cell at (r, c): 0.005 m times its number in row order.
double hotstart_depth(int r, int c) { return 0.005 * ((r - 1) * cols + c); }

std::string table_row(int id, const std::string &values) {
    std::string line = std::to_string(id);
    line.resize(86, ' ');
    return line + values + "\n";
}

void write_plane(const scratch_dir &d) {
    d.write("mask.map", grid([](int, int) { return std::string("1"); }));
    d.write("elev.map", grid([](int r, int) { return number(100.0 - 0.01 * r * dx); }));
    d.write("man.map", grid([](int, int) { return std::string("0.05"); }));
    d.write("h.map", grid([](int r, int c) { return number(hotstart_depth(r, c)); }));
}

std::string project(const std::string &extra) {
    return "KORVAPROJECT\nWATERSHED_MASK mask.map\nELEVATION elev.map\nROUGHNESS man.map\n"
           "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 3\nCOLS 3\nGRIDSIZE 10\n"
           "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 10\nTIMESTEP 10\nHYD_FREQ 5\n"
           "MAP_FREQ 60\nOUTROW 3\nOUTCOL 2\nOUTSLOPE 0.01\nOVERTYPE explicit\nPRECIP_UNIF\n"
           "RAIN_INTENSITY 10\nRAIN_DURATION 5\n" +
           extra;
}

double summary_value(const std::string &summary, const std::string &label) {
    const std::size_t at = summary.find(label);
    if (at == std::string::npos) return NAN;
    return std::strtod(summary.c_str() + at + label.size(), nullptr);
}

}  // namespace

TEST(KorvaStartInputs, HotstartDepthsAreTheInitialOverlandVolume) {
    scratch_dir d;
    write_plane(d);
    d.write("run.prj", project("OV_INIT_DEPTH h.map\n"));
    const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    double expected = 0.0;
    for (int row = 1; row <= rows; ++row)
        for (int col = 1; col <= cols; ++col) expected += hotstart_depth(row, col) * dx * dx;
    const std::string summary = d.read("run.sum");
    EXPECT_NE(summary.find("reading overland hotstart map from file: h.map"), std::string::npos);
    // 22.5 m3, which the summary's one decimal holds exactly.
    EXPECT_NEAR(summary_value(summary, "initial volume of overland flow:"), expected,
                1e-9 * expected);
}

TEST(KorvaStartInputs, StreamTableSedimentAndContaminantProjectsReadTheirInputs) {
    scratch_dir d;
    write_plane(d);
    d.write("e.idx", grid([](int, int) { return std::string("1"); }));
    std::string sed = "1     sand";
    sed.resize(44, ' ');
    d.write("map.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP e.idx \"E\"\nSEDIMENTS\nNUM_SED 1\nID\n" +
                           sed + "0.5 2.65 sand.out\nSOIL_EROSION_PROPS \"E\"\nNUM_IDS 1\n" +
                           "NUM_SED 1\nID\n" + table_row(1, "1 2 3 4 5 6 7 8 1.0"));
    d.write("ids.smp", "STREAM_MAP\nNLINKS 0\nMAXNODES 0\n");
    d.write("st.cmt", "KORVA_STREAM_INDEX_MAP_TABLES\nST_INDEX_MAP ids.smp \"S\"\n"
                      "ROUGHNESS \"S\"\nNUM_IDS 1\nID\n" + table_row(1, "0.03"));
    struct {
        const char *cards;
        const char *read_echo;  // in the summary file
        int status;
    } cases[] = {
        {"ST_MAPPING_TABLE st.cmt\n", "", 0},
        {"MAPPING_TABLE map.cmt\nSOIL_EROSION 1\nOUTLET_SED_FLUX sed.otl\nWATER_TEMP 20\n",
         "Reading soil erosion properties table from mapping table file", 0},
        {"OV_CON_TRANS\n", "using uniform contaminant transport values", 0},
        {"MAPPING_TABLE map.cmt\nOV_CON_TRANS\nOV_DECAY_COEF 0.1\n",
         "map.cmt holds no CONTAMINANT_TRANSPORT table; OV_CON_TRANS uses the uniform values "
         "OV_DECAY_COEF 0.1, OV_DISP_COEF 0, OV_MASS_LOAD 0, OV_UPTAKE_RATE 0", 0},
    };
    for (const auto &k : cases) {
        d.write("run.prj", project(k.cards));
        const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
        EXPECT_EQ(r.exit_status, k.status) << k.cards << r.out;
        EXPECT_NE(d.read("run.sum").find(k.read_echo), std::string::npos) << k.cards;
    }
}
