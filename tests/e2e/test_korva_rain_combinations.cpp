// Runs the bundled valley under every combination of rain source (uniform, gauge
// file, radar grid), channels, Green and Ampt infiltration and retention: each run
// must go past the end of its rain to a normal end and close its event balance
// (rain = discharge + surface + channels + infiltration). Also: a constant stream
// point source is printed as rate x duration and balanced.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;

namespace {

using valley::cell_area;
using valley::cells;
using valley::summary_value;

constexpr double rain_volume = 0.030 * 0.75 * cells * cell_area;  // 30 mm/h for 45 min
const std::string uniform_cards = "PRECIP_UNIF\nRAIN_INTENSITY 30\nRAIN_DURATION 45\n";

enum class rain_kind { uniform, gauge, radar };

// Replaces the first occurrence of `from` in text; the test fails when it is missing.
void replace(std::string &text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

// A map in the layout of the example's mask with one value in every cell.
std::string uniform_map(const std::string &mask, const std::string &value) {
    std::string out;
    std::size_t pos = 0;
    for (int line = 0; line < 6; ++line) {
        const std::size_t end = mask.find('\n', pos);
        out += mask.substr(pos, end - pos + 1);
        pos = end + 1;
    }
    for (int r = 0; r < 80; ++r) {
        for (int c = 0; c < 60; ++c) out += value + (c < 59 ? " " : "\n");
    }
    return out;
}

// Ks 0.5 cm/h, capillary head 10 cm, porosity 0.4, initial moisture 0.2.
void write_soils(const scratch_dir &d) {
    const std::string mask = d.read("valley.mask");
    d.write("ks.map", uniform_map(mask, "0.5"));
    d.write("psi.map", uniform_map(mask, "10"));
    d.write("phi.map", uniform_map(mask, "0.4"));
    d.write("theta.map", uniform_map(mask, "0.2"));
}
const std::string soil_cards =
    "GREEN_AMPT\nCONDUCTIVITY ks.map\nCAPILLARY psi.map\nPOROSITY phi.map\nMOISTURE theta.map\n";

std::string rain_cards(const scratch_dir &d, rain_kind kind) {
    switch (kind) {
    case rain_kind::uniform: return uniform_cards;
    case rain_kind::gauge:
        // 30 mm/h from 14:00, the last record ends the rain at 14:45.
        d.write("storm.gag", "EVENT storm\nNRGAG 1\nNRPDS 2\nCOORD 900 1200\n"
                             "RATES 2021 7 12 14 00 30\nRATES 2021 7 12 14 45 0\n");
        return "PRECIP_FILE storm.gag\nRAIN_THIESSEN\n";
    case rain_kind::radar:
        // One radar cell over the whole grid: 30 mm/h is 30 / 25.4 inches per hour.
        d.write("r1.asc", "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 3000\n"
                          "nodata_value -9999\n1.1811023622047244\n");
        d.write("r0.asc", "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 3000\n"
                          "nodata_value -9999\n0\n");
        d.write("storm.gag", "EVENT radar storm\nNRGAG files\nNRPDS 2\n"
                             "RADAR 2021 7 12 14 00 r1.asc\nRADAR 2021 7 12 14 45 r0.asc\n");
        return "PRECIP_FILE storm.gag\n";
    }
    return uniform_cards;
}

struct run_result {
    int status = -1;
    std::string summary, log;
    double rain = NAN, infiltrated = NAN, discharge = NAN, surface = NAN, channels = 0.0,
           error = NAN, sources = NAN, sinks = NAN;
};

run_result run(const scratch_dir &d, const std::string &project) {
    d.write("run.prj", project);
    run_result r;
    const testsupport::program_result p = d.run(KORVA_EXE, {"run.prj"});
    r.status = p.exit_status;
    r.log = p.out;
    r.summary = d.read("valley.sum");
    r.rain = summary_value(r.summary, "volume of total rainfall:");
    r.infiltrated = summary_value(r.summary, "volume of infiltrated water:");
    r.discharge = summary_value(r.summary, "volume of discharge:");
    r.surface = summary_value(r.summary, "volume remaining on surface:");
    const double ch = summary_value(r.summary, "final volume in channels (cu. m):");
    if (!std::isnan(ch)) r.channels = ch;
    r.error = summary_value(r.summary, "mass conservation error:");
    r.sources = summary_value(r.summary, "volume from stream point sources:");
    r.sinks = summary_value(r.summary, "volume to stream point sinks:");
    return r;
}

// The example's project with the rain, channel, infiltration and retention choices.
std::string project(const scratch_dir &d, rain_kind kind, bool channels, bool infiltration,
                    bool retention, int minutes) {
    std::string text = d.read(channels ? "valley.prj" : "valley_overland.prj");
    replace(text, uniform_cards, rain_cards(d, kind));
    replace(text, "TOT_TIME 360\n", "TOT_TIME " + std::to_string(minutes) + "\n");
    if (!retention) replace(text, "RETENTION 0.5\n", "");
    if (infiltration) {
        write_soils(d);
        text += soil_cards;
    }
    return text;
}

void expect_event_balance(const run_result &r) {
    ASSERT_EQ(r.status, 0) << r.log.substr(r.log.size() > 2000 ? r.log.size() - 2000 : 0);
    EXPECT_NE(r.summary.find("KORVA EVENT RUNOFF SIMULATION SUMMARY"), std::string::npos);
    EXPECT_NEAR(r.rain, rain_volume, 1e-4 * rain_volume);
    const double out = r.discharge + r.surface + r.channels + r.infiltrated;
    EXPECT_NEAR(out, r.rain, 1e-3 * r.rain);
    EXPECT_NEAR(r.error, 0.0, 1e-3);  // percent
}

using combination = std::tuple<rain_kind, bool, bool, bool>;

class RainCombinations : public ::testing::TestWithParam<combination> {};

TEST_P(RainCombinations, RunsPastTheRainAndClosesItsBalance) {
    const auto [kind, channels, infiltration, retention] = GetParam();
    scratch_dir d;
    valley::copy_example(d);
    const run_result r = run(d, project(d, kind, channels, infiltration, retention, 90));
    expect_event_balance(r);
    // The last progress line lies past the rain's end at 45 minutes.
    const std::size_t last = r.log.rfind("elapsed time");
    ASSERT_NE(last, std::string::npos);
    EXPECT_GT(std::strtod(r.log.c_str() + last + 12, nullptr), 45.0);
    if (infiltration) {
        EXPECT_GT(r.infiltrated, 0.2 * r.rain);
    } else {
        EXPECT_EQ(r.infiltrated, 0.0);
    }
}

std::string combination_name(const ::testing::TestParamInfo<combination> &info) {
    const auto [kind, channels, infiltration, retention] = info.param;
    const char *names[] = {"Uniform", "Gauge", "Radar"};
    return std::string(names[static_cast<int>(kind)]) + (channels ? "Channels" : "Overland") +
           (infiltration ? "Infiltration" : "") + (retention ? "Retention" : "");
}

INSTANTIATE_TEST_SUITE_P(AllSources, RainCombinations,
                         ::testing::Combine(::testing::Values(rain_kind::uniform, rain_kind::gauge,
                                                              rain_kind::radar),
                                            ::testing::Bool(), ::testing::Bool(), ::testing::Bool()),
                         combination_name);

// The example with Green and Ampt soils and its channels runs its whole six hours.
TEST(UniformRainWithInfiltration, BundledValleyRunsItsWholeSixHours) {
    scratch_dir d;
    valley::copy_example(d);
    const run_result r = run(d, project(d, rain_kind::uniform, true, true, true, 360));
    expect_event_balance(r);
    EXPECT_EQ(r.log.find("Rainfall for this event has ended."), std::string::npos);
    EXPECT_NE(r.log.find("elapsed time   360.00"), std::string::npos);
    EXPECT_GT(r.infiltrated, 0.5 * r.rain);
    EXPECT_GT(r.discharge, 0.0);
}

// A constant point source of 0.5 m3/s at a channel node: its volume is printed and
// the event and run balances count it.
TEST(StreamPointSource, VolumeIsRateTimesDurationAndBalances) {
    scratch_dir d;
    valley::copy_example(d);
    d.write("inflow.ts", "KORVA_TS\nspring\nABSOLUTE\n2021 7 12 0 0 0.5\n2021 7 13 0 0 0.5\nEND_TS\n");
    std::string chn = d.read("valley.chn");
    replace(chn, "NODE 10\n", "NODE 10\nPOINTSOURCE spring\n");
    d.write("valley.chn", chn);
    std::string text = project(d, rain_kind::uniform, true, false, true, 90);
    replace(text, "CHANNEL_INPUT", "TIME_SERIES_FILE inflow.ts\nCHANNEL_INPUT");
    const run_result r = run(d, text);
    ASSERT_EQ(r.status, 0) << r.log.substr(r.log.size() > 2000 ? r.log.size() - 2000 : 0);
    // Channel steps of 5 s; the last progress line gives the end to within a step or two.
    const std::size_t last = r.log.rfind("elapsed time");
    const double minutes = std::strtod(r.log.c_str() + last + 12, nullptr);
    EXPECT_NEAR(r.sources, 0.5 * minutes * 60.0, 0.5 * 10.0);
    EXPECT_EQ(r.sinks, 0.0);
    EXPECT_NEAR(r.discharge + r.surface + r.channels, r.rain + r.sources, 0.3);
    EXPECT_NEAR(r.error, 0.0, 1e-6);
    const double surface_error =
        summary_value(r.summary, "Mass balance error of surface components =");
    EXPECT_NEAR(surface_error, 0.0, 1e-6);
}

}  // namespace
