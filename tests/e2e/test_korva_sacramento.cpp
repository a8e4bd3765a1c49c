// End-to-end long-term run with soil-moisture accounting: the bundled long-term
// example (a five-cell cross under thirty hours of weather and one storm) with a
// Sacramento parameter file, once with a channel down its middle column weighted
// by the topographic index and once without either. The accounting's balance closes, its base flow
// leaves the lower zone, and its summary lines agree with its totals; under each
// soil scheme the stores alone own the infiltrated water.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/valley_example.h"
#include "support/run_program.h"

namespace {

std::filesystem::path longterm_dir() {
    return std::filesystem::path(TEST_DATA_DIR).parent_path().parent_path() / "examples" / "longterm";
}

const char *map_header = "north: 300\nsouth: 0\neast: 300\nwest: 0\nrows: 3\ncols: 3\n";

// Capacities and rates per hour; the lower free water starts half full.
const char *sacramento_file = "KORVA_SACRAMENTO\n"
                              "NUM_BASINS 1\nBASIN 1\n"
                              "UZTWM 40\nUZFWM 30\nUZK 0.2\nZPERC 30\nREXP 2.0\n"
                              "LZTWM 120\nLZFSM 30\nLZFPM 90\nLZSK 0.02\nLZPK 0.005\n"
                              "PFREE 0.3\nSAVED 0\n"
                              "UZTWC 0.3\nUZFWC 0.1\nLZTWC 0.5\nLZFSC 0.5\nLZFPC 0.5\n";

// One trapezoid link down column 2, one computational node per cell, its bed
// 0.5 m below the ground.
const char *channel_file = "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES 4\n"
                           "CONNECT 1 0 0\nLINK 1\nDX 100.0\nNODES 4\nTRAPEZOID\n"
                           "MANNINGS_N 0.035\nNODE 1\nELEV 9.8\nXSEC\nBOTTOM_WIDTH 2.0\n"
                           "BANKFULL_DEPTH 0.5\nSIDE_SLOPE 1.0\nNODE 2\nELEV 9.6\nNODE 3\n"
                           "ELEV 9.4\nNODE 4\nELEV 9.2\n";

void write_project(const testsupport::scratch_dir &d, bool channel, bool topo) {
    for (const auto &entry : std::filesystem::directory_iterator(longterm_dir()))
        if (entry.is_regular_file())
            d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
    std::string project = testsupport::read_file(longterm_dir() / "longterm.prj");
    project += "SACRAMENTO longterm.sac\n";
    // The channel cells' weights come from the topographic index, or are uniform.
    if (topo) project += "TOPO_INDEX\n";
    if (channel)
        project += "CHAN_EXPLIC\nLINKS longterm.lnk\nNODES longterm.nod\n"
                   "CHANNEL_INPUT longterm.chn\n";
    d.write("longterm.prj", project);
    d.write("longterm.sac", sacramento_file);
    d.write("longterm.chn", channel_file);
    d.write("longterm.lnk", std::string(map_header) + "0 1 0\n0 1 0\n0 1 0\n");
    d.write("longterm.nod", std::string(map_header) + "0 1 0\n0 2 0\n0 3 0\n");
}

double after(const std::string &text, const std::string &label, std::size_t from = 0) {
    const std::size_t at = text.find(label, from);
    if (at == std::string::npos) return NAN;
    return std::strtod(text.c_str() + at + label.size(), nullptr);
}

TEST(KorvaSacramento, LongTermRunWithAChannelClosesTheBalance) {
    const struct {
        bool channel, topo;
        const char *what;
    } variants[] = {{true, true, "channel and TOPO_INDEX"},
                    {true, false, "channel, uniform weights"},
                    {false, false, "neither channel nor TOPO_INDEX"}};
    for (const auto &v : variants) {
        SCOPED_TRACE(v.what);
        const bool channel = v.channel;
        testsupport::scratch_dir d;
        write_project(d, channel, v.topo);
        const auto r = d.run(KORVA_EXE, {"longterm.prj"});
        ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.find("not available"), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("End of hmet_QAR file encountered after 30 lines"), std::string::npos);

        const std::string summary = d.read("longterm.sum");
        EXPECT_NE(summary.find("Sacramento soil moisture accounting was used.\n"),
                  std::string::npos);
        const double residual =
            after(summary, "Sacramento simulation total residual water balance:");
        ASSERT_FALSE(std::isnan(residual)) << summary;
        EXPECT_LT(std::fabs(residual), 1e-6);
        const double base_flow = after(summary, "volume of base flow from Sacramento:");
        ASSERT_FALSE(std::isnan(base_flow)) << summary;
        EXPECT_GT(base_flow, 0.0);  // into the channels, or at the outlet without one

        // The block's own balance in mm: start + rain - AET - runoff = final.
        const double start = after(summary, "Initial subsurface storage(mm):");
        const double rain = after(summary, "Input rainfall (mm):");
        const double aet = after(summary, "AET calculated by Sacramento (mm):");
        const double pet = after(summary, "PET calculated by KORVA (mm):");
        const double runoff = after(summary, "Subsurface runoff (mm):");
        const double final_storage = after(summary, "Final volume of subsurface water (mm):");
        // 0.3 x 40 + 0.1 x 30 + 0.5 x (120 + 30 + 90) mm at the start.
        EXPECT_NEAR(start, 135.0, 1e-3);
        EXPECT_GT(rain, 0.0);
        EXPECT_GT(aet, 0.0);
        EXPECT_LE(aet, pet + 1e-3);
        EXPECT_GT(runoff, 0.0);
        EXPECT_NEAR(start + rain - aet - runoff - final_storage, 0.0, 2e-3);
        EXPECT_NEAR(after(summary, "Residual (neg. means mass created (mm):"), 0.0, 1e-3);
        // The runoff in mm over the 5 x 10^4 m2 is the volume handed to the
        // channels; the discharge is the mean of two steps, so the last half step
        // is still to come.
        EXPECT_LE(base_flow, runoff / 1000.0 * 5.0e4 + 0.1);
        // The whole base flow reaches the channel cells: it is part of the lateral
        // inflow (up to the last channel step).
        if (channel) {
            const double lateral = after(summary, "volume of lateral inflow:");
            EXPECT_GE(lateral, base_flow - 1.0) << summary;
            EXPECT_NEAR(after(summary, "Mass input + original mass:"),  // the event's input
                        after(summary, "volume of total rainfall:") + base_flow +
                            after(summary, "initial volume in channels:"), 0.2);
        }
        // Infiltration is the stores' input, counted once; the balances close.
        const std::size_t m3 = summary.find("expressed as volumes (m^3)");
        EXPECT_NEAR(after(summary, "volume of infil water SAC receives:"),
                    after(summary, "Input rainfall (m3):", m3), 0.05);
        for (const char *error : {"mass conservation error:", "surface components =",
                                  "Overall mass balance error =",
                                  "Single layer soil moisture mass balance ="})
            EXPECT_LT(std::fabs(after(summary, error)), 0.1) << error << summary;
    }
}

// Each scheme's whole system without a channel (surface, soil as printed, stores; the
// stores' runoff leaves at the outlet or is in transit) closes. Green and Ampt runs as a 10 h event.
TEST(KorvaSacramento, TheStoresOwnTheInfiltratedWaterUnderEveryScheme) {
    const std::string redist = "INF_REDIST\nSOIL_MOIST_DEPTH 0.4\nTOP_LAYER_DEPTH 0.1\n";
    for (const std::string &scheme :
         {redist, std::string("GREEN_AMPT\nTOT_TIME 600\n"),
          std::string("INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP longterm.idx\n"
                      "SOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 0.3\n")}) {
        SCOPED_TRACE(scheme);
        testsupport::scratch_dir d;
        write_project(d, false, false);
        std::string p = d.read("longterm.prj");
        p.replace(p.find(redist), redist.size(), scheme);
        if (scheme[0] == 'G')
            for (const char *card : {"LONG_TERM\n", "HMET_QAR longterm.qar\n", "ET_CALC_DEARDORFF\n"})
                p.erase(p.find(card), std::string(card).size());
        d.write("longterm.prj", p);
        const std::string layer = "0.5 0.43 0.03 0.15 0.05 0.20 10 0.25 11.1\n";
        d.write("soil.tab", "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer);
        const auto r = d.run(KORVA_EXE, {"longterm.prj"});
        ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
        const std::string sum = d.read("longterm.sum");
        const std::size_t g = sum.find("GLOBAL MASS BALANCE"), m3 = sum.find("(m^3)");
        ASSERT_NE(m3, std::string::npos);
        const auto line = [&](const char *l, std::size_t at) { return std::fmax(0.0, after(sum, l, at)); };
        const double rain = line("Total precipitation:", g), aet = line("AET calculated by Sacramento (m3):", m3);
        EXPECT_NEAR(rain, 950.0, 0.01);  // the storm's 19 mm on 5 cells of 10^4 m2
        EXPECT_NEAR(line("Input rainfall (m3):", m3), line("Total infiltration:", g), 0.01);
        const double in = rain + line("Initial soil water volume:", g) + line("Initial subsurface storage (m3):", m3);
        const double out = line("Final surface volume:", g) + line("Final soil water volume:", g) +
                           line("Final volume of subsurface water (m3):", m3) + line("Total evaporation:", g) +
                           aet + line("Total discharge:", g) + line("Final Sacramento runoff in transit:", g);
        EXPECT_NEAR(in, out, 0.05) << sum;
        EXPECT_LT(std::fabs(after(sum, "Overall mass balance error =", g)), 0.01);
        EXPECT_LE(aet + line("Total evaporation:", g), line("PET calculated by KORVA (m3):", m3) + 0.01);
    }
}

// Nine days over the valley (70 cells of 20 m): 10 mm/h of rain on 3/1 12:00, 4 mm/h of
// snow at 21 F on 3/2 10:00-15:00 (its event runs on dry to 18:00) with one warm record
// (15:00), a thaw at 36 F on 3/4-3/5, 20 mm/h of rain on 3/8 12:00-14:00 at 50 F.
TEST(KorvaSacramento, ALongTermRunIsOneSimulationThroughItsDrySpells) {
    for (const bool channel : {true, false}) {
        SCOPED_TRACE(channel ? "channel" : "no channel");
        testsupport::scratch_dir d;
        d.copy_case("combination_valley");
        d.copy_case("longterm_thaw");
        if (channel) d.write("run.prj", d.read("run.prj") + "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT chan.chn\n");
        ASSERT_EQ(d.run(KORVA_EXE, {"run.prj"}, 300).exit_status, 0);
        const std::string sum = d.read("run.sum");
        std::istringstream weather(d.read("lt.qar")), otl(d.read("run.otl")), hours(d.read("evap_out"));
        double melt = 0.0, in, rh, sky, kn, f, direct, global;  // mm by the energy balance, 3/2 15:00 to the storm
        for (int y, m, day, h; weather >> y >> m >> day >> h >> in >> rh >> sky >> kn >> f >> direct >> global;) {
            const double t = (f - 32.0) / 1.8, ea = rh / 100.0 * 2.749e8 * std::exp(-4278.6 / (t + 242.8)), u = kn * 0.514444 * 0.72e-3;
            const double q = 4.956e-9 * std::pow(t + 273.15, 4) - 27.0 + 600.0 * u * (ea - 6.11 + 0.00061 * in * 33.8639 * t);
            if (day * 100 + h >= 215 && day * 100 + h < 812) melt += std::fmax(0.0, q / 8.0);  // cal/cm2 over 80 cal/g
        }
        std::vector<double> q;  // hourly from 3/1 0:00; the base flow carries the run to the end of its weather, 3/10 0:00
        for (double t, v; otl >> t >> v;) q.push_back(v);
        ASSERT_EQ(q.size(), 9u * 24u + 1u);
        double volume = 0.0;
        for (std::size_t k = 1; k < q.size(); ++k) {
            EXPECT_TRUE(k == 1 || q[k] > 0.0) << "hour " << k;  // the stores drain hour by hour from the first
            EXPECT_LE(q[k], 20.0 / 3.6e6 * 28000.0 + q[179]);  // at most the storm over its base flow
            volume += 0.5 * (q[k] + q[k - 1]) * 3600.0;
        }
        for (std::size_t k : {12u, 34u, 180u}) EXPECT_LE(q[k], 1.02 * q[k - 1] + 1e-5) << "event start, hour " << k;
        // Outlet volume = the stores' runoff that left + the surface runoff of the events and the thaw.
        double surface = after(sum, "Total precipitation:") + after(sum, "Subsurface runoff (m3):") -
                         (channel ? after(sum, "Final channel volume:") : 0.0);
        for (const char *out : {"Total infiltration:", "Total evaporation:", "Final Sacramento runoff in transit:",
                                "Final snow volume:", "Final surface volume:"})
            surface -= after(sum, out);
        EXPECT_NEAR(volume, after(sum, "Total discharge:"), 0.02 * volume);  // hourly lines
        EXPECT_NEAR(after(sum, "Total discharge:"), surface, 0.01 * volume);
        // Snowfall (20 mm) = the melt by hand + the snow the storm found; the melt went into the soil, not the air.
        EXPECT_NEAR(20.0, melt + after(sum, "inital liquid-equiv. volume of snow:", sum.find("Event began on 03/08")) / 28.0, 0.3);
        double evaporated = 0.0, infiltrated = 0.0, cm[4];  // mm, by the hourly lines of the same hours
        for (std::string line; std::getline(hours, line);) {
            int day = 0, h = 0;
            if (std::sscanf(line.c_str(), "2021/3/%d %d:00 %lf %lf %lf %lf", &day, &h, cm, cm + 1, cm + 2, cm + 3) == 6 &&
                day * 100 + h >= 215 && day * 100 + h < 812)
                evaporated += cm[2] * 10.0, infiltrated += cm[3] * 10.0;
        }
        EXPECT_GT(infiltrated, 0.95 * melt);  // the stream cells' melt runs into the channel
        EXPECT_LT(evaporated, 0.02 * melt);
    }
}

}  // namespace
