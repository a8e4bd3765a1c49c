// End-to-end runs of korva with a tracer in a channel lake: rain of a given
// concentration on a 5 x 5 plane whose channel feeds a lake that starts with
// 1000 units per m3 and decays at 10 per day. The channel and lake balance of
// the run summary closes, and the lake's initial and rain-borne masses agree with
// hand values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "channel_lake_plane.h"
#include "project_text.h"
#include "support/run_program.h"

namespace {

using project_text::value_after;

using testsupport::scratch_dir;

// The plane of 10 m cells draining to column 3; a channel of three computational
// nodes down rows 1..3 into a lake on (5,3) at 10.1 m (10 m3) that floods its
// listed cells; 50 mm/h of rain for 30 minutes, two hours in all.
void write_project(const scratch_dir &d, const std::string &extra) {
    channel_lake_plane::write(d);
    d.write("p.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
                     "OUTLET_HYDRO p.otl\nROWS 5\nCOLS 5\nGRIDSIZE 10\nTOT_TIME 120\n"
                     "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 10\nHYD_FREQ 5\nMAP_FREQ 60\n"
                     "OUTROW 5\nOUTCOL 3\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\n"
                     "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT p.chn\n"
                     "PRECIP_UNIF\nRAIN_INTENSITY 50\nRAIN_DURATION 30\n"
                     "CHAN_CON_TRANS\nINIT_CHAN_CONC 1000\nCHAN_DECAY_COEF 10\n" + extra);
}

// A mapping table of one tracer over the whole plane with rain of `rain` per m3.
void write_tracer_table(const scratch_dir &d, const char *rain) {
    d.write("c.idx", channel_lake_plane::map([](int, int) { return std::string("1"); }));
    std::string id = "1";
    id.resize(86, ' ');
    d.write("p.cmt", std::string("KORVA_INDEX_MAP_TABLES\nINDEX_MAP c.idx \"L\"\nCONTAMINANT_TRANSPORT\n"
                                 "NUM_CONTAM 1\n\"Tracer\" \"L\" \"tracer.out\"\nPRECIP_CONC ") +
                         rain + "\nNUM_IDS 1\nID\n" + id + "0 0 0 0 0 0\n");
}

TEST(KorvaLakeConstituents, ChannelLakeProjectWithChannelTransportRunsToItsEnd) {
    // Channel transport alone names no constituent: the lake project runs through
    // the channel constituent pieces to the end of its event.
    scratch_dir d;
    write_project(d, "SUMMARY p.sum\n");
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Lake 1 is taking cell 18 with depth "), std::string::npos) << r.out;
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out.find("not available"), std::string::npos) << r.out;
}

TEST(KorvaLakeConstituents, TracerBalanceOfChannelsAndLakeCloses) {
    scratch_dir d;
    write_tracer_table(d, "500");
    write_project(d, "SUMMARY p.sum\nMAPPING_TABLE p.cmt\nOV_CON_TRANS\n");
    const auto r = d.run(KORVA_EXE, {"p.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.err, "");
    // The run's own transport summaries (the event summary before them has blocks
    // with the same headings).
    const std::string whole = d.read("p.sum");
    const std::size_t run_part = whole.rfind("*************   Overland Transport Summaries");
    ASSERT_NE(run_part, std::string::npos) << whole;
    const std::string sum = whole.substr(run_part);
    const std::size_t ch = sum.find("Channel Contaminant Transport Summary for Contaminant");
    const std::size_t lk = sum.find("Lake Contaminant Transport Summary for Constituent");
    ASSERT_NE(ch, std::string::npos) << sum;
    ASSERT_NE(lk, std::string::npos) << sum;
    auto channel = [&](const char *label) { return value_after(sum, label, ch); };
    auto lake = [&](const char *label) { return value_after(sum, label, lk); };

    // 1000 x 10 m3 in kg (/ 1000).
    EXPECT_NEAR(lake("Initial mass in lakes"), 10.0, 0.005);
    // Rain at 500 on the lake: the first lake cell for the whole 30 minutes
    // (2.5 m3), at most one more cell as long.
    const double rain = lake("Mass from precipitation");
    EXPECT_GE(rain, 500.0 * 2.5 / 1000.0 - 0.005);
    EXPECT_LE(rain, 500.0 * 5.0 / 1000.0 + 0.005);
    EXPECT_GT(lake("Mass from the channels"), 0.0);
    EXPECT_GT(lake("Mass decayed"), 0.0);
    EXPECT_NEAR(lake("Final mass in lakes"), value_after(sum, "Final Mass in lake 1 =", lk), 0.005);
    // Every term as printed (to 0.01 kg): what came in is what is stored, left,
    // or decayed.
    const double in = channel("Initial mass in channels") + channel("Mass from the overland") +
                      channel("Mass from point sources") + channel("Mass from groundwater") +
                      channel("Mass added by the clean-up") + lake("Initial mass in lakes") +
                      lake("Mass from the overland") + rain + lake("Mass from groundwater");
    const double out = channel("Final mass in channels") + channel("Mass out of the outlet") +
                       channel("Mass decayed") + lake("Final mass in lakes") + lake("Mass decayed");
    EXPECT_NEAR(in, out, 0.06);
    EXPECT_LT(std::fabs(value_after(sum, "Channel contam mass balance error", ch)), 1e-6);
    // The rain on the lake is the run's rain-borne mass beyond the overland's.
    const std::size_t global = sum.find("Contaminant Transport Global Summary");
    const std::size_t ov = sum.find("Overland Contaminant Transport Summary");
    EXPECT_NEAR(value_after(sum, "Mass from precipitation", global),
                value_after(sum, "Mass from precipitation", ov) + rain, 0.015);
    // The overland water's mass reaches the channel or the lake, none infiltrates.
    const auto land = [&](const char *label) { return value_after(sum, label, ov); };
    EXPECT_EQ(land("Mass infiltrated"), 0.0);
    EXPECT_NEAR(land("Mass into the lakes"), lake("Mass from the overland"), 0.005);
    EXPECT_NEAR(land("Mass into the channels"), channel("Mass from the overland"), 0.005);
    EXPECT_NEAR(land("Mass from precipitation"), land("Final mass on overland") +
                    land("Mass into the channels") + land("Mass into the lakes"), 0.015);
    EXPECT_NEAR(value_after(sum, "Final mass", global), land("Final mass on overland") +
                    channel("Final mass in channels") + lake("Final mass in lakes"), 0.015);
}

TEST(KorvaLakeConstituents, ChannelWaterStartsWithItsInitialConcentrationAndDecays) {
    // A trace of rain; the channel starts 1 m deep at 100 per m3, decaying at 24 per day.
    scratch_dir d;
    d.write("depth.txt", "11.8\n11.6\n11.4\n11.2\n");
    write_tracer_table(d, "0");
    write_project(d, "SUMMARY p.sum\nMAPPING_TABLE p.cmt\nOV_CON_TRANS\nINITIAL_DEPTH depth.txt\n"
                     "RAIN_INTENSITY 1e-9\nTOT_TIME 10\nINIT_CHAN_CONC 100\nCHAN_DECAY_COEF 24\n");
    ASSERT_EQ(d.run(KORVA_EXE, {"p.prj"}).exit_status, 0);
    const std::string sum = d.read("p.sum");
    // Initial mass = 100 x the channel water (kg), in the event's and the run's summary.
    const std::size_t run = sum.rfind("Channel Contaminant Transport Summary for");
    for (std::size_t at : {sum.find("Channel Contaminant Transport Summary for"), run})
        EXPECT_NEAR(value_after(sum, "Initial mass in channels", at),
                    0.1 * value_after(sum, "Initial channel volume:"), 0.006) << sum;
    // Water of one age: after 10 minutes the channel holds 100 exp(-k t) per m3.
    const double c = 100.0 * std::exp(-24.0 / 86400.0 * 600.0), m = value_after(sum, "Final mass in channels", run);
    // The summary prints the mass to 0.01 kg: that rounding is allowed beside 1 %.
    const double v = value_after(sum, "Final channel volume:");
    EXPECT_NEAR(1000.0 * m / v, c, 0.01 * c + 1000.0 * 0.005 / v);
}

}  // namespace
