// Runs korva on the bundled valley with soil erosion on and its channel links
// made erodible trapezoids: rain splashes and washes soil off the hillslopes, the
// stream cells hand it to the channels, which carry sand and wash load to the
// outlet. Checks that the run ends normally, writes its outlet sediment file, and
// that the overland and channel sediment balances of the summary close; a shorter
// run writes the net erosion/deposition volume as a data set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e/project_text.h"
#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;
using testsupport::split_lines;

namespace {

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string padded(const std::string &head, std::size_t width, const std::string &tail) {
    std::string line = head;
    line.resize(width, ' ');
    return line + tail + "\n";
}

// The valley's mask with every value 1: one erosion index for the whole grid.
std::string uniform_index_map(const std::string &mask) {
    std::string out;
    for (const std::string &line : split_lines(mask)) {
        if (line.find(':') != std::string::npos) {
            out += line + "\n";
            continue;
        }
        out += replace_all(line, "0", "1") + "\n";
    }
    return out;
}

// The valley made an erosion project: erodible channel links, one erosion index
// for the whole grid, two soil classes (silt and sand, half each) and the
// sediment cards, run for `minutes` with `extra` cards added.
void write_erosion_valley(const scratch_dir &d, const std::string &minutes,
                          const std::string &extra) {
    valley::copy_example(d);
    std::string chn = d.read("valley.chn");
    chn = replace_all(chn, "\nTRAPEZOID\n", "\nTRAP_ERODE\n");
    chn = replace_all(chn, "SIDE_SLOPE 1.0\n", "SIDE_SLOPE 1.0\nMAX_EROSION 0.3\n");
    d.write("valley.chn", chn);
    d.write("erosion.idx", uniform_index_map(d.read("valley.mask")));
    d.write("valley.cmt",
            "KORVA_INDEX_MAP_TABLES\nINDEX_MAP erosion.idx \"E\"\nSEDIMENTS\nNUM_SED 2\nID\n" +
                padded("1     silt", 44, "0.01 2.65 silt.out") +
                padded("2     sand", 44, "0.5 2.65 sand.out") +
                "SOIL_EROSION_PROPS \"E\"\nNUM_IDS 1\nNUM_SED 2\nID\n" +
                padded("1", 86, "60 2e-5 0 1 0 0 0 1 0.5 0.5"));
    std::string prj = d.read("valley.prj");
    prj = replace_all(prj, "TOT_TIME 360", "TOT_TIME " + minutes);
    prj = replace_all(prj, "TIMESTEP 5\n", "TIMESTEP 10\n");
    prj += "MAPPING_TABLE valley.cmt\nSOIL_EROSION 1\nOUTLET_SED_FLUX valley.sed\n"
           "WATER_TEMP 20\nSAND_SIZE 0.0625\nSED_POROSITY 0.4\n" + extra;
    d.write("valley.prj", prj);
}

class ValleyErosion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new scratch_dir;
        write_erosion_valley(*dir, "50", "");
        result = new testsupport::program_result(dir->run(KORVA_EXE, {"valley.prj"}));
    }
    static void TearDownTestSuite() {
        delete result;
        delete dir;
    }
    static scratch_dir *dir;
    static testsupport::program_result *result;
};
scratch_dir *ValleyErosion::dir = nullptr;
testsupport::program_result *ValleyErosion::result = nullptr;

TEST_F(ValleyErosion, RunsToItsEndAndWritesTheOutletSedimentFile) {
    ASSERT_EQ(result->exit_status, 0)
        << result->out.substr(result->out.size() > 3000 ? result->out.size() - 3000 : 0);
    EXPECT_EQ(result->out.find("not available in this build"), std::string::npos);
    // One line per 5-minute hydrograph step: time and the outlet sediment rate.
    int lines = 0;
    double largest = 0.0;
    for (const std::string &line : split_lines(dir->read("valley.sed"))) {
        double t = 0.0, rate = 0.0;
        if (std::sscanf(line.c_str(), "%lf %lf", &t, &rate) != 2) continue;
        ++lines;
        EXPECT_GE(rate, 0.0) << line;
        if (rate > largest) largest = rate;
    }
    EXPECT_EQ(lines, 11);
    EXPECT_GT(largest, 0.0);
}

TEST_F(ValleyErosion, OverlandAndChannelSedimentBalancesClose) {
    ASSERT_EQ(result->exit_status, 0);
    const std::string summary = dir->read("valley.sum");
    EXPECT_NE(summary.find("Quantities of sediment moved on overland flow plane:"), std::string::npos);
    const double overall = valley::summary_value(summary, "Overall mass conservation error:");
    EXPECT_LT(std::fabs(overall), 1e-6) << summary;
    const double detached = valley::summary_value(summary, "detached by splash and flow:");
    const double to_channels = valley::summary_value(summary, "carried into the channels:");
    EXPECT_GT(detached, 0.0);
    EXPECT_GT(to_channels, 0.0);
    for (const char *label : {"sand mass conservation error:", "wash load mass conservation error:",
                              "total mass conservation error:"})
        EXPECT_LT(std::fabs(valley::summary_value(summary, label)), 1e-6) << label;
    EXPECT_GT(valley::summary_value(summary, "sand from the land:") +
                  valley::summary_value(summary, "wash load from the land:"),
              0.0);
}

// The classes are echoed as read and the summary's blocks follow the table (silt, then sand) by name.
TEST_F(ValleyErosion, EchoesTheClassesAndNamesTheSummaryBlocksInTableOrder) {
    ASSERT_EQ(result->exit_status, 0);
    EXPECT_NE(result->out.find("sediment class 1: 1 silt, diameter 0.01 mm, specific gravity 2.65, wash load"), std::string::npos);
    EXPECT_NE(result->out.find("sediment class 2: 2 sand, diameter 0.5 mm, specific gravity 2.65, sand"), std::string::npos);
    const std::string summary = dir->read("valley.sum");
    const auto silt = summary.find("Sediment Size     1 1 silt, 0.01 mm"), sand = summary.find("Sediment Size     2 2 sand, 0.5 mm");
    ASSERT_NE(silt, std::string::npos);
    EXPECT_NE(sand, std::string::npos);
    EXPECT_LT(silt, sand);
}

// Refused erosion inputs, each named with its file and row, the reason last in a log of both streams:
// a SEDIMENTS row read with its columns swapped (gravity first), class fractions that do not make the
// soil, and erodible links missing from the channel file (named as the channel file names them).
TEST(ValleyErosionRefusals, ImpossibleInputsAreRefusedWithTheirReasonLastInTheLog) {
    const struct { std::string from, to, file, message; } rows[] = {
        {"0.5 2.65 sand.out", "2.65 0.5 sand.out", "valley.cmt",
         "Error: row 2 of the SEDIMENTS table in mapping table file valley.cmt gives a diameter of 2.65 mm and a specific gravity of 0.5"},
        {"1 0.5 0.5", "1 0.5 0.6", "valley.cmt", "Error: row 1 of the SOIL_EROSION_PROPS table in mapping table file valley.cmt gives class fractions that sum to 1.1"},
        {"\nTRAP_ERODE\n", "\nTRAPEZOID\n", "valley.chn", "Error: overland erosion (SOIL_EROSION) is on with channel routing, but the channel input file\nhas no erodible trapezoidal link (TRAP_ERODE)"},
    };
    for (const auto &r : rows) {
        scratch_dir d;
        write_erosion_valley(d, "20", "");
        d.write(r.file, replace_all(d.read(r.file), r.from, r.to));
        const auto run = d.run("/bin/sh", {"-c", std::string("'") + KORVA_EXE + "' valley.prj > log.txt 2>&1"});
        EXPECT_EQ(run.exit_status, 1) << r.message;
        const std::string log = d.read("log.txt");
        const auto at = log.find(r.message);
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_EQ(log.rfind("Error:"), at) << log;  // after the start-up lines, before the run time only
        EXPECT_GT(at, log.find("finished reading project file")) << log;
        EXPECT_LT(at, log.rfind("Run time:")) << log;
    }
}

// The same project for 20 minutes with the net erosion/deposition volume written
// as an ASCII data set every 5 minutes (every 30 steps of 10 s).
TEST(ValleyErosionMaps, NetSedimentVolumeDataSetHoldsTheLooseSoilOfEveryMapStep) {
    scratch_dir d;
    write_erosion_valley(d, "20", "MAP_TYPE 1\nMAP_FREQ 5\nNET_SED_VOLUME valley.net\n");
    const testsupport::program_result r = d.run(KORVA_EXE, {"valley.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    const std::vector<std::string> l = split_lines(d.read("valley.net"));
    ASSERT_GE(l.size(), 8u);
    EXPECT_EQ(l[3], "OBJID 1018");
    EXPECT_EQ(l[4], "ND 4800");  // 80 rows x 60 columns
    EXPECT_EQ(l[6], "NAME sediment volume");
    EXPECT_EQ(l.back(), "ENDDS");
    // Every cell starts with 1 cm of loose soil at porosity 0.4:
    // 0.6 x 0.01 m x 900 m2 = 5.4 m3 per cell, 19958.4 m3 over the 3696 cells.
    const double initial = 0.6 * 0.01 * valley::cell_area * valley::cells;
    std::vector<double> times, totals, lowest;
    for (std::size_t at = 7; at < l.size() && l[at].rfind("TS 1 ", 0) == 0;) {
        times.push_back(std::stod(l[at].substr(5)));
        int inside = 0;
        for (std::size_t k = 1; k <= 4800; ++k) inside += std::stoi(l[at + k]);
        EXPECT_EQ(inside, 3696);
        double total = 0.0, low = 1e30;
        for (std::size_t k = 4801; k <= 9600; ++k) {
            const double v = std::stod(l[at + k]);
            EXPECT_GE(v, 0.0);
            total += v;
            if (std::stoi(l[at + k - 4800]) == 1 && v < low) low = v;
        }
        totals.push_back(total);
        lowest.push_back(low);
        at += 9601;
    }
    // Steps 1, 31, 61 and 91 (10 s, then every 5 minutes) and the run's last turn,
    // step 120, at its end time.
    ASSERT_EQ(times.size(), 5u);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(times[k], 10.0 / 60.0 + 5.0 * k, 1e-6) << k;
    EXPECT_NEAR(times[4], 20.0, 1e-6);
    // After the first 10 s the loose soil is the starting layer less what stays
    // lifted. One step of splash at 30 mm/h lifts at most
    // 60 x 3.75e-8 x 30^1.5545 x 10 s x 900 m2 / 2645.23 = 1.514e-3 m3 per cell,
    // 5.60 m3 in all (flow detachment under a 0.08 mm film is far less); later
    // the hillslopes have lost loose soil.
    EXPECT_LT(totals[0], initial);
    EXPECT_GT(totals[0], initial - 6.0);
    EXPECT_LT(lowest[3], 5.4 - 1e-6);
}

}  // namespace

// One erodible rectangular link (10 m wide, n 0.03, bed slope 0.0005, 1 km) carrying a steady 10 m3/s
// over a bed of 0.5 mm sand at 20 degrees: over the last hour of 8 the outlet passes the sand at Yang's
// capacity as he published it (1973), evaluated here by hand at Manning's normal depth with the fall
// velocity of Van Rijn (1984) and nu = 1.004e-6 m2/s: 0.000621 m3/s (u* d / nu = 35.5).
TEST(ErodibleLink, SteadyFlowCarriesSandAtYangsPublishedCapacity) {
    using project_text::grid_of;
    using project_text::number;
    const double b = 10.0, n = 0.03, s0 = 0.0005, q = 10.0, d = 0.5e-3, nu = 1.004e-6, g = 9.81;
    double lo = 0.0, hi = 5.0;
    for (int i = 0; i < 100; ++i) (b * (lo + hi) / 2 * std::pow(b * (lo + hi) / 2 / (b + lo + hi), 2.0 / 3.0) * std::sqrt(s0) / n < q ? lo : hi) = (lo + hi) / 2;
    const double y = lo, r = b * y / (b + 2 * y), v = q / (b * y), ustar = std::sqrt(g * r * s0);
    const double w = 10.0 * nu / d * (std::sqrt(1.0 + 0.01 * 1.65 * g * d * d * d / (nu * nu)) - 1.0);
    const double crit = 2.5 / (std::log10(ustar * d / nu) - 0.06) + 0.66, lw = std::log10(w * d / nu), lu = std::log10(ustar / w);
    const double ppm = std::pow(10.0, 5.435 - 0.286 * lw - 0.457 * lu + (1.799 - 0.409 * lw - 0.314 * lu) * std::log10(v * s0 / w - crit * s0));
    const double capacity = ppm * q / 2.65e6;  // m3/s of sand
    EXPECT_NEAR(capacity, 0.000621, 0.000002);
    scratch_dir dir;
    for (const char *f : {"g.msk", "g.lnk", "g.idx"}) dir.write(f, grid_of(1, 10, 100.0, [](int, int) { return std::string("1"); }));
    dir.write("g.nod", grid_of(1, 10, 100.0, [](int, int k) { return std::to_string(k); }));
    dir.write("g.ele", grid_of(1, 10, 100.0, [&](int, int k) { return number(105.0 - s0 * 100.0 * (k - 0.5)); }));
    std::string chn = "KORVA_CHAN\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 1\nMAXNODES 11\nCONNECT 1 0 0\nLINK 1\nNODES 11\nDX 100\n"
                      "MANNINGS_N 0.03\nTRAP_ERODE\n";
    for (int k = 1; k <= 11; ++k)
        chn += "NODE " + std::to_string(k) + "\nMAX_EROSION 1\n" + (k == 1 ? "XSEC\nBOTTOM_WIDTH 10\nBANKFULL_DEPTH 5\nSIDE_SLOPE 0\nPOINTSOURCE inflow\n" : "") +
               "ELEV " + number(100.0 - s0 * 100.0 * (k - 1)) + "\n";
    dir.write("g.chn", chn);
    dir.write("inflow.ts", "KORVA_TS\ninflow\nABSOLUTE\n1999 12 31 0 0 10\n2000 1 3 0 0 10\nEND_TS\n");
    dir.write("g.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP g.idx \"E\"\nSEDIMENTS\nNUM_SED 1\nNAME DIAMETER SPECIFIC_GRAVITY FILE\n" +
                           padded("sand", 44, "0.5 2.65 sand.out") + "SOIL_EROSION_PROPS \"E\"\nNUM_IDS 1\nNUM_SED 1\nID\n" +
                           padded("1", 86, "60 2e-5 0 1 0 0 0 1 1.0"));
    dir.write("g.prj", "KORVAPROJECT\nWATERSHED_MASK g.msk\nELEVATION g.ele\nSUMMARY g.sum\nOUTLET_HYDRO g.otl\nROWS 1\nCOLS 10\n"
                       "GRIDSIZE 100\nTIMESTEP 10\nST_TIME_STEP 10\nTOT_TIME 480\nHYD_FREQ 1\nMAP_FREQ 6000\nMAP_TYPE 3\nOUTROW 1\nOUTCOL 10\n"
                       "OUTSLOPE 0.0005\nMANNING_N 0.035\nPRECIP_UNIF\nRAIN_INTENSITY 0.0001\nRAIN_DURATION 1\nSTART_DATE 2000 1 1\n"
                       "START_TIME 0 0\nQUIET\nOVERTYPE explicit\nCHAN_EXPLIC\nTIME_SERIES_FILE inflow.ts\nLINKS g.lnk\nNODES g.nod\n"
                       "CHANNEL_INPUT g.chn\nMAPPING_TABLE g.cmt\nSOIL_EROSION 1\nOUTLET_SED_FLUX g.sed\nWATER_TEMP 20\nSAND_SIZE 0.5\n"
                       "SED_POROSITY 0.4\n");
    const auto run = dir.run(KORVA_EXE, {"g.prj"});
    ASSERT_EQ(run.exit_status, 0) << run.out;
    int rows = 0;
    for (const std::string &line : split_lines(dir.read("g.sed"))) {
        double t = 0.0, rate = 0.0;
        if (std::sscanf(line.c_str(), "%lf %lf", &t, &rate) != 2 || t < 420.0) continue;
        ++rows;
        EXPECT_NEAR(rate, capacity, 0.05 * capacity) << line;
    }
    EXPECT_GE(rows, 60);
}
