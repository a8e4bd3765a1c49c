// End-to-end runs of korva with lakes: an overland lake in a bowl of 400 cells
// that takes the cells its rising water reaches, and a channel lake at the end of
// a short channel that floods its listed cells. Checks the run's rain against the
// hand value and the lake balances of the run report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "channel_lake_plane.h"
#include "project_text.h"
#include "support/run_program.h"

namespace {

using project_text::grid_of;
using project_text::number;
using project_text::value_after;

using testsupport::scratch_dir;
using testsupport::split_lines;

// Bowl: 20 x 20 cells of 10 m, ground 100 m + 0.02 m per step of Manhattan
// distance from row 10, column 10. The lake map holds the centre and its four
// neighbours at 100.03 m (3 + 4 x 1 = 7 m3).
double bowl(int r, int c) { return 100.0 + 0.02 * (std::abs(r - 10) + std::abs(c - 10)); }

// Water that a lake at level w holds when it covers every cell below w (m3).
double bowl_volume(double w) {
    double v = 0.0;
    for (int r = 1; r <= 20; ++r)
        for (int c = 1; c <= 20; ++c)
            if (bowl(r, c) < w) v += (w - bowl(r, c)) * 100.0;
    return v;
}

// A tracer in the rain at 1000 g/m3 (1 kg per m3) over the cells of mask.asc.
void write_tracer(const scratch_dir &d) {
    std::string id = "1";
    id.resize(86, ' ');
    d.write("p.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP mask.asc \"L\"\nCONTAMINANT_TRANSPORT\n"
                     "NUM_CONTAM 1\n\"Tracer\" \"L\" \"tracer.out\"\nPRECIP_CONC 1000\nNUM_IDS 1\nID\n" +
                         id + "0 0 0 0 0 0\n");
}

TEST(KorvaLakes, OverlandLakeFillsTheBowlAndItsBalanceCloses) {
    scratch_dir d;
    const auto one = [](int, int) { return std::string("1"); };
    d.write("mask.asc", grid_of(20, 20, 10.0, one));
    d.write("elev.asc", grid_of(20, 20, 10.0, [](int r, int c) { return number(bowl(r, c)); }));
    d.write("lake.asc", grid_of(20, 20, 10.0, [](int r, int c) {
                return std::string(std::abs(r - 10) + std::abs(c - 10) <= 1 ? "1" : "0");
            }));
    d.write("lakes.dat", "KORVA_OVERLAND_LAKE_FILE\nLAKE 1 100.03 0\n");
    write_tracer(d);
    d.write("p.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
                     "MAPPING_TABLE p.cmt\nOV_CON_TRANS\n"
                     "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 20\nCOLS 20\nGRIDSIZE 10\nTOT_TIME 120\n"
                     "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 30\nHYD_FREQ 5\nMAP_FREQ 60\n"
                     "OUTROW 20\nOUTCOL 20\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\n"
                     "OVERLAND_LAKE_MAP lake.asc\nOVERLAND_LAKE_FILE lakes.dat\nLAKE_OUTPUT lake.out\n"
                     "PRECIP_UNIF\nRAIN_INTENSITY 50\nRAIN_DURATION 60\n");
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.err, "");
    const std::string summary = d.read("p.sum");
    // 50 mm/h for an hour on 400 cells of 100 m2, the lake's cells included.
    EXPECT_NEAR(value_after(summary, "Total precipitation:"), 2000.0, 0.01);

    const double final_volume = value_after(summary, "Final overland lake volume:");
    const double in = value_after(summary, "Overland lake flows in m^3:");
    const double out = value_after(summary, "Overland lake flows out m^3:");
    const double error = value_after(summary, "Overland lake mass bal error m^3:");
    EXPECT_EQ(out, 0.0);
    EXPECT_NEAR(7.0 + in - out - final_volume, 0.0, 0.01);
    // Printed to 0.01 m3: the error is below the print's resolution and below
    // 1e-6 of the lake's volume.
    EXPECT_LE(std::fabs(error), 0.005);
    EXPECT_NEAR(value_after(summary, "Overall mass balance error ="), 0.0, 1e-6);
    const double surface = value_after(summary, "Final surface volume:");
    const double discharge = value_after(summary, "Total discharge:");
    EXPECT_NEAR(value_after(summary, "Initial overland lake volume:"), 7.0, 0.005);
    EXPECT_NEAR(7.0 + 2000.0, final_volume + surface + discharge, 0.02);

    // The lake series ends at the reported volume (its last line comes before the
    // run's last step, which adds some tens of litres). Its level lies far above
    // what the five cells of the map could hold, and the lake holds no more than
    // the bowl below that level.
    const std::vector<std::string> lines = split_lines(d.read("lake.out"));
    ASSERT_FALSE(lines.empty());
    double minutes = 0.0, level = 0.0, volume = 0.0;
    ASSERT_EQ(std::sscanf(lines.back().c_str(), "%lf %lf %lf", &minutes, &level, &volume), 3);
    EXPECT_NEAR(volume, final_volume, 0.2);
    EXPECT_GT(volume, 10.0 * (7.0 + 5.0 * 100.0 * (level - 100.03)));
    EXPECT_LE(volume, bowl_volume(level + 0.0005));
    EXPECT_GE(volume, 0.95 * bowl_volume(level - 0.0005));
    // The tracer follows the rain into the lake; the final masses count the lake.
    const std::size_t ov = summary.rfind("Overland Contaminant Transport Summary");
    const auto mass = [&](const char *label) { return value_after(summary, label, ov); };
    const double into_lake = mass("Mass into the lakes"), land = mass("Final mass on overland");
    EXPECT_EQ(mass("Mass infiltrated"), 0.0);
    EXPECT_NEAR(into_lake, mass("Final mass in overland lakes"), 0.005);
    EXPECT_NEAR(into_lake, in, 0.01);  // the water the lake took, at 1 kg per m3
    EXPECT_NEAR(2000.0, land + mass("Mass out of the watershed") + into_lake, 0.02);
    EXPECT_NEAR(value_after(summary, "Final mass", summary.find("Global Summary", ov)), land + into_lake, 0.015);
}

TEST(KorvaLakes, ChannelLakeTakesItsListedCellsAndItsBalanceCloses) {
    scratch_dir d;
    // 5 x 5 cells of 10 m draining to column 3; a channel of three computational
    // nodes down rows 1..3 feeds a lake whose cells, in flooding order, are
    // (5,3) 10.0 m, (4,3) 10.2 m, (5,2) and (5,4) 10.5 m, (4,2) and (4,4) 10.7 m.
    channel_lake_plane::write(d);
    d.write("p.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
                     "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 5\nCOLS 5\nGRIDSIZE 10\nTOT_TIME 120\n"
                     "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 10\nHYD_FREQ 5\nMAP_FREQ 60\n"
                     "OUTROW 5\nOUTCOL 3\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\n"
                     "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT p.chn\n"
                     "PRECIP_UNIF\nRAIN_INTENSITY 50\nRAIN_DURATION 30\nLAKE_OUTPUT lake.out\n");
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.err, "");
    // The lake starts on (5,3) with 0.1 m x 100 m2 and takes (4,3), cell 18.
    EXPECT_NE(r.out.find("Lake 1 is taking cell 18 with depth "), std::string::npos) << r.out;
    const std::string summary = d.read("p.sum");
    EXPECT_NEAR(value_after(summary, "Initial perennial lake volume:"), 10.0, 0.005);
    const double final_volume = value_after(summary, "Final perennial lake volume:");
    const double in = value_after(summary, "Flows into lakes:");
    EXPECT_GT(in, 10.0);
    EXPECT_EQ(value_after(summary, "Lake evaporation:"), 0.0);
    // The level over two cells is above the ground of (4,3): at least 10.2 m.
    EXPECT_GT(final_volume, 10.0 + 0.1 * 100.0);
    EXPECT_LE(std::fabs(value_after(summary, "Perennial lake mass bal error m^3=")), 0.005);

    // The overland flow reaches the lake's cells (the outlet cell among them) and
    // joins the lake, so the water on and above the ground closes: rain and the
    // lake's start against what the surface, channel and lake hold at the end.
    EXPECT_NEAR(value_after(summary, "Mass balance error of surface components ="), 0.0, 0.01);
    const double rain = value_after(summary, "Total precipitation:");
    EXPECT_NEAR(rain, 62.5, 0.005);  // 50 mm/h for half an hour on 25 cells of 100 m2
    const double held = value_after(summary, "Final surface volume:") +
                        value_after(summary, "Final channel volume:") + final_volume +
                        value_after(summary, "Total discharge:");
    EXPECT_NEAR(10.0 + rain, held, 0.02);

    // The single event's summary counts the channel lake as well: its start and end
    // volumes and the rain on it, so its balance closes too.
    EXPECT_NEAR(value_after(summary, "initial volume in lakes"), 10.0, 0.05);
    EXPECT_NEAR(value_after(summary, "volume remaining in lakes"), final_volume, 0.05);
    EXPECT_NEAR(value_after(summary, "volume of total rainfall:"), rain, 0.05);
    EXPECT_NEAR(value_after(summary, "mass conservation error:"), 0.0, 0.01);
    // The lake series: one line every 5 minutes from 0 to 120, the first at the start,
    // before any rain has fallen on the lake's cell.
    const std::vector<std::string> lines = split_lines(d.read("lake.out"));
    ASSERT_EQ(lines.size(), 25u);
    double minutes = 0.0, level = 0.0, volume = 0.0;
    ASSERT_EQ(std::sscanf(lines.front().c_str(), "%lf %lf %lf", &minutes, &level, &volume), 3);
    EXPECT_NEAR(volume, 10.0, 0.0005);
}

TEST(KorvaLakes, OverlandLakeAboveAWeirFallsToItsCrest) {
    // A strip of five 10 m cells: a lake on cells 1-2 (ground 99 m, level 100 m, 200 m3)
    // behind a dike whose low spot (crest 99.95 m) pours onto cell 3, which drains to the
    // outlet. The lake gives the 10 m3 above the crest and falls with them.
    scratch_dir d;
    for (const auto &[name, row] : {std::pair<const char *, const char *>{"mask.asc", "1 1 1 1 1"},
                                    {"elev.asc", "99.0 99.0 99.9 99.8 99.7"},
                                    {"lake.asc", "1 1 0 0 0"}, {"dike.asc", "0 2 8 0 0"}})
        d.write(name, std::string("north: 10.0\nsouth: 0.0\neast: 50.0\nwest: 0.0\nrows: 1\ncols: 5\n") + row + "\n");
    d.write("lakes.dat", "KORVA_OVERLAND_LAKE_FILE\nLAKE 1 100.0 0\n");
    d.write("spots.dat", "LOWSPOT\nSPOT 1 2 2 0.5 99.95\n");
    d.write("p.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
                     "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 1\nCOLS 5\nGRIDSIZE 10\nTOT_TIME 120\n"
                     "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 5\nHYD_FREQ 5\nMAP_FREQ 60\n"
                     "OUTROW 1\nOUTCOL 5\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\nOVERLAND_LAKE_MAP lake.asc\n"
                     "OVERLAND_LAKE_FILE lakes.dat\nDIKE_MAP dike.asc\nLOWSPOT_FILE spots.dat\nPRECIP_UNIF\n"
                     "RAIN_INTENSITY 10\nRAIN_DURATION 10\nMAPPING_TABLE p.cmt\nOV_CON_TRANS\n");
    write_tracer(d);
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const std::string summary = d.read("p.sum");
    const double rain = value_after(summary, "Total precipitation:");
    EXPECT_NEAR(rain, 500.0 * 0.01 / 6.0, 0.005);  // 10 mm/h for 10 minutes on 500 m2
    const double lake = value_after(summary, "Final overland lake volume:");
    EXPECT_GE(lake, 190.0 - 0.05);
    EXPECT_LT(lake, 199.0);
    EXPECT_NEAR(value_after(summary, "Initial overland lake volume:") + rain,
                lake + value_after(summary, "Final surface volume:") + value_after(summary, "Total discharge:"),
                0.03);
    // The lake's flows: the rain on its 200 m2 in (while it poured), what poured over the crest out.
    const double in = value_after(summary, "Overland lake flows in m^3:");
    EXPECT_NEAR(in, 200.0 * 0.01 / 6.0, 0.005);
    EXPECT_NEAR(200.0 + in - value_after(summary, "Overland lake flows out m^3:"), lake, 0.01);
    // The rain's tracer on the lake leaves it with its water, at the lake's
    // concentration (at most the mass into the lake over its volume).
    const std::size_t ov = summary.rfind("Overland Contaminant Transport Summary");
    const auto mass = [&](const char *label) { return value_after(summary, label, ov); };
    const double into = mass("Mass into the lakes"), from = mass("Mass from the overland lakes");
    EXPECT_GT(from, 0.0);
    EXPECT_LE(from, into * (200.0 - lake) / lake + 0.005);
    EXPECT_NEAR(mass("Final mass in overland lakes"), into - from, 0.015);
    EXPECT_NEAR(rain + from, mass("Final mass on overland") + mass("Mass out of the watershed") + into, 0.02);
}

}  // namespace
