// Runs korva on the bundled example with its channel network (two trapezoid
// links down the valley axis, explicit routing): rain runs off the hillslopes,
// enters the channel along the axis and leaves at the outlet. Checks the water
// balance with channel storage, the shape of the outlet hydrograph and the
// channel depth and discharge series against the outlet and the Manning rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;
using testsupport::split_lines;

namespace {

using valley::cell_area;
using valley::cells;
using valley::copy_example;
using valley::hydrograph;
using valley::point;
using valley::summary_value;

constexpr double rain_volume = 0.030 * 0.75 * cells * cell_area;  // 30 mm/h for 45 min


// A link/node series: header lines and, per block number, per link the node
// values ("1  value" pairs after the node count).
struct series {
    std::vector<std::string> header;
    std::map<int, std::vector<std::vector<double>>> blocks;
};

series read_series(const std::string &text) {
    series s;
    int block = -1;
    for (const std::string &line : split_lines(text)) {
        if (line.rfind("TS    ", 0) == 0) {
            block = std::atoi(line.c_str() + 6);
            s.blocks[block];
            continue;
        }
        if (block < 0) {
            s.header.push_back(line);
            continue;
        }
        if (line.empty()) continue;
        std::istringstream in(line);
        int nodes = 0;
        in >> nodes;
        std::vector<double> values;
        for (int k = 0; k < nodes; ++k) {
            int flag = 0;
            double v = 0.0;
            in >> flag >> v;
            values.push_back(v);
        }
        s.blocks[block].push_back(values);
    }
    return s;
}

class ValleyChannels : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new scratch_dir;
        copy_example(*dir);
        result = new testsupport::program_result(dir->run(KORVA_EXE, {"valley.prj"}));
    }
    static void TearDownTestSuite() {
        delete result;
        delete dir;
    }
    static scratch_dir *dir;
    static testsupport::program_result *result;
};
scratch_dir *ValleyChannels::dir = nullptr;
testsupport::program_result *ValleyChannels::result = nullptr;

TEST_F(ValleyChannels, RunReadsTheNetworkAndEndsNormally) {
    ASSERT_EQ(result->exit_status, 0)
        << result->out.substr(result->out.size() > 2000 ? result->out.size() - 2000 : 0);
    EXPECT_EQ(result->err, "");
    EXPECT_NE(result->out.find("reading channel input data from file valley.chn\n"), std::string::npos);
    EXPECT_NE(result->out.find("number of trapezoidal links:           2\n"), std::string::npos);
    EXPECT_EQ(result->out.find("not available in this build"), std::string::npos);
    EXPECT_NE(dir->read("valley.sum").find("Explicit diffusive-wave channel routing.\n"),
              std::string::npos);
}

TEST_F(ValleyChannels, RainEqualsOutflowPlusSurfaceAndChannelStorage) {
    const std::string summary = dir->read("valley.sum");
    const double rain = summary_value(summary, "volume of total rainfall:");
    const double discharge = summary_value(summary, "volume of discharge:");
    const double surface = summary_value(summary, "volume remaining on surface:");
    const double channel = summary_value(summary, "final volume in channels (cu. m):");
    const double lateral = summary_value(summary, "volume of lateral inflow:");
    const double initial = summary_value(summary, "initial volume in channels:");
    EXPECT_NEAR(rain, rain_volume, 0.1);
    EXPECT_EQ(initial, 0.0);
    // The channels still hold water six hours on: a real part of the balance.
    EXPECT_GT(channel, 10.0);
    // Volumes are printed to 0.1 m3; the balances close to that round-off.
    EXPECT_NEAR(rain, discharge + surface + channel, 0.3);
    // Everything that left the outlet came into the channels along the axis.
    EXPECT_NEAR(lateral, discharge + channel, 0.3);
    // The 0.5 mm of retention stays on every cell.
    EXPECT_GE(surface, 0.0005 * cells * cell_area - 0.1);
    EXPECT_NEAR(summary_value(summary, "mass conservation error:"), 0.0, 1e-5);
}

TEST_F(ValleyChannels, OutletHydrographRisesToOnePeakAndRecedes) {
    const std::vector<point> q = hydrograph(dir->read("valley.otl"));
    ASSERT_EQ(q.size(), 73u);
    EXPECT_EQ(q.front().discharge, 0.0);
    std::size_t peak = 0;
    for (std::size_t k = 0; k < q.size(); ++k)
        if (q[k].discharge > q[peak].discharge) peak = k;
    const double equilibrium = 0.030 / 3600.0 * cells * cell_area;  // i A = 27.72 m3/s
    EXPECT_LT(q[peak].discharge, equilibrium);
    EXPECT_GT(q[peak].discharge, 0.3 * equilibrium);
    EXPECT_GE(q[peak].minutes, 30.0);
    EXPECT_LE(q[peak].minutes, 90.0);
    const double slack = 0.01 * q[peak].discharge;
    for (std::size_t k = 1; k <= peak; ++k) EXPECT_GE(q[k].discharge, q[k - 1].discharge - slack) << k;
    for (std::size_t k = peak + 1; k < q.size(); ++k)
        EXPECT_LE(q[k].discharge, q[k - 1].discharge + slack) << k;
    EXPECT_LT(q.back().discharge, 0.02 * q[peak].discharge);
    // The trapezoids of the 5-minute lines hold the discharge volume.
    double volume = 0.0;
    for (std::size_t k = 1; k < q.size(); ++k)
        volume += 0.5 * (q[k].discharge + q[k - 1].discharge) * 300.0;
    const double discharge = summary_value(dir->read("valley.sum"), "volume of discharge:");
    EXPECT_NEAR(volume, discharge, 0.03 * discharge);
}

TEST_F(ValleyChannels, DepthAndDischargeSeriesHaveTheirHeadersAndOneBlockPerLine) {
    const series depth = read_series(dir->read("valley.cdp"));
    const series flow = read_series(dir->read("valley.cq"));
    const std::vector<std::string> depth_header = {
        "KORVA_LINKNODE_STREAM_DEPTH", "NUM_LINKS     2", "TIME_STEP     5", "NUM_TS        72",
        "START_TIME    12  7 2021 14  0  0"};
    EXPECT_EQ(depth.header, depth_header);
    ASSERT_FALSE(flow.header.empty());
    EXPECT_EQ(flow.header[0], "KORVA_LINKNODE_STREAM_FLOW");
    // Blocks 0..72, one per hydrograph line, each with the 40 routed nodes of
    // both links.
    ASSERT_EQ(depth.blocks.size(), 73u);
    ASSERT_EQ(flow.blocks.size(), 73u);
    EXPECT_EQ(depth.blocks.begin()->first, 0);
    for (const auto &[k, links] : depth.blocks) {
        ASSERT_EQ(links.size(), 2u) << k;
        EXPECT_EQ(links[0].size(), 40u) << k;
        EXPECT_EQ(links[1].size(), 40u) << k;
        for (const auto &nodes : links)
            for (double y : nodes) {
                EXPECT_GE(y, 0.0) << k;
                EXPECT_LT(y, 2.0) << k;  // the 2 m banks are never topped
            }
    }
    for (double y : depth.blocks.at(0)[1]) EXPECT_EQ(y, 0.0);
}

TEST_F(ValleyChannels, SeriesAgreeWithTheOutletAndTheManningRule) {
    const series depth = read_series(dir->read("valley.cdp"));
    const series flow = read_series(dir->read("valley.cq"));
    const std::vector<point> q = hydrograph(dir->read("valley.otl"));
    ASSERT_EQ(q.size(), 73u);
    ASSERT_EQ(flow.blocks.size(), 73u);
    for (int k = 4; k <= 72; k += 4) {
        const std::vector<double> &outlet_link = flow.blocks.at(k).at(1);
        ASSERT_EQ(outlet_link.size(), 40u);
        // The last node of the last link is the outlet.
        EXPECT_NEAR(outlet_link.back(), q[static_cast<std::size_t>(k)].discharge, 0.0011) << k;
        // Water is gathered all along the axis: discharge grows downstream, and
        // link 1 hands its flow to the head of link 2.
        for (std::size_t n = 1; n < outlet_link.size(); ++n)
            EXPECT_GE(outlet_link[n], outlet_link[n - 1] - 1e-4) << k << " " << n;
        EXPECT_GE(outlet_link.front(), flow.blocks.at(k).at(0).back() - 1e-4) << k;
        // The outlet takes normal flow at the 1 percent bed slope: Q = A R^(2/3)
        // S^(1/2) / n for the 8 m trapezoid with side slope 1 and n = 0.035, at
        // the outlet depth (the routing averages two passes, so within 2 percent).
        const double y = depth.blocks.at(k).at(1).back();
        const double area = (8.0 + y) * y;
        const double perimeter = 8.0 + 2.0 * y * std::sqrt(2.0);
        const double manning = area * std::pow(area / perimeter, 2.0 / 3.0) * 0.1 / 0.035;
        EXPECT_NEAR(outlet_link.back(), manning, 0.02 * manning + 1e-4) << k << " depth " << y;
    }
}

TEST_F(ValleyChannels, ChannelCarriesTheFlowFasterThanTheOverlandVariant) {
    scratch_dir d;
    copy_example(d);
    const auto r = d.run(KORVA_EXE, {"valley_overland.prj"});
    ASSERT_EQ(r.exit_status, 0);
    EXPECT_FALSE(d.exists("valley.cdp"));
    const std::vector<point> with = hydrograph(dir->read("valley.otl"));
    const std::vector<point> without = hydrograph(d.read("valley.otl"));
    ASSERT_EQ(with.size(), without.size());
    double peak_with = 0.0, peak_without = 0.0;
    for (std::size_t k = 0; k < with.size(); ++k) {
        peak_with = std::fmax(peak_with, with[k].discharge);
        peak_without = std::fmax(peak_without, without[k].discharge);
    }
    // The smooth channel of the axis drains the valley floor faster than the
    // overland sheet: a higher peak.
    EXPECT_GT(peak_with, peak_without);
}

// The combination valley with its channel: 40 mm/h for 30 min, 45 min with hotstart files,
// then 45 min more from them under a trace of rain. The restarted run's outlet line at
// time 0 is the outflow its channel starts with, the one the first run ended with.
TEST(KorvaHotstart, RestartedRunBeginsWithTheOutflowItWasLeftWith) {
    scratch_dir d;
    d.copy_case("combination_valley");
    d.copy_case("valley_restart");
    double end_q = 0.0, start_q = -1.0, t = 0.0;
    ASSERT_EQ(d.run(KORVA_EXE, {"first.prj"}).exit_status, 0);
    ASSERT_EQ(std::sscanf(split_lines(d.read("run.otl")).back().c_str(), "%lf %lf", &t, &end_q), 2);
    ASSERT_EQ(d.run(KORVA_EXE, {"restart.prj"}).exit_status, 0);
    ASSERT_EQ(std::sscanf(d.read("run.otl").c_str(), "%lf %lf", &t, &start_q), 2);
    EXPECT_GT(end_q, 0.01);
    EXPECT_NEAR(start_q, end_q, 0.0015);  // the file's three decimals
}

}  // namespace
