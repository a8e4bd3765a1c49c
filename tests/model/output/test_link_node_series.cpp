// Tests of the link/node series files: the header fields and widths, the header
// values of a run, the step blocks of the channel network with lake and structure
// links and every value kind, the pipe-network block, and the opening rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/model/framework_test_support.h"
#include "model/core/calendar.h"
#include "model/core/globals.h"
#include "model/output/link_node_series.h"
#include "model/core/model_state.h"
#include "model/output/output_writers.h"
#include "tests/model/output_test_support.h"

namespace {

using namespace outputtest;

class LinkNodeSeries : public frameworktest::globals_reset {
protected:
    frameworktest::in_scratch_dir dir;
    model_state s;
};

template <class F>
std::vector<std::string> lines_written(F fn) {
    std::FILE *f = std::fopen("series.txt", "w");
    fn(f);
    std::fclose(f);
    return testsupport::split_lines(read_text("series.txt"));
}

TEST_F(LinkNodeSeries, HeaderOfADayAtFifteenMinutes) {
    // TIMESTEP 30 s and HYD_FREQ 15 min give an interval of 30 steps.
    s.time_step = 30.0;
    s.hydrograph_interval_steps = 30;
    s.total_time = 1440;
    EXPECT_EQ(linknode_time_step(s), 15);
    EXPECT_EQ(linknode_output_times(s), 96);
    const std::vector<std::string> l = lines_written([&](std::FILE *f) {
        write_linknode_header(f, linknode_stream_flow, 7, linknode_time_step(s),
                              linknode_output_times(s), 5, 3, 2004, 8, 30);
    });
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0], "KORVA_LINKNODE_STREAM_FLOW");
    EXPECT_EQ(l[1], "NUM_LINKS     7");
    EXPECT_EQ(l[2], "TIME_STEP     15");
    EXPECT_EQ(l[3], "NUM_TS        96");
    EXPECT_EQ(l[4], "START_TIME     5  3 2004  8 30  0");
}

TEST_F(LinkNodeSeries, IntervalBelowOneMinuteGivesATimeStepOfOne) {
    s.time_step = 10.0;
    s.hydrograph_interval_steps = 3;  // 30 seconds
    s.total_time = 90;
    EXPECT_EQ(linknode_time_step(s), 1);
    EXPECT_EQ(linknode_output_times(s), 90);
    s.hydrograph_interval_steps = 0;
    EXPECT_EQ(linknode_time_step(s), 1);
    // 100 s intervals: trunc(1.67) = 1 minute
    s.hydrograph_interval_steps = 10;
    EXPECT_EQ(linknode_time_step(s), 1);
    s.hydrograph_interval_steps = 13;  // 130 s = 2.17 min
    EXPECT_EQ(linknode_time_step(s), 2);
    EXPECT_EQ(linknode_output_times(s), 45);
}

TEST_F(LinkNodeSeries, TitlesOfEveryKindAndNoneOutside) {
    EXPECT_STREQ(linknode_title(0), "KORVA_LINKNODE_STREAM_DEPTH");
    EXPECT_STREQ(linknode_title(2), "KORVA_LINKNODE_FLOOD_STREAM_DEPTH");
    EXPECT_STREQ(linknode_title(5), "KORVA_LINKNODE_SUPERLINK_TILE_FLOW");
    EXPECT_STREQ(linknode_title(6), "KORVA_LINKNODE_NO2");
    EXPECT_STREQ(linknode_title(15), "KORVA_LINKNODE_DO");
    EXPECT_EQ(linknode_title(16), nullptr);
    EXPECT_EQ(linknode_title(-1), nullptr);
    const std::vector<std::string> l = lines_written(
        [](std::FILE *f) { write_linknode_header(f, 16, 1, 1, 1, 1, 1, 2000, 0, 0); });
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0], "NUM_LINKS     1");
}

TEST_F(LinkNodeSeries, FlowBlockWithLakeAndStructureLinks) {
    channel_network net;
    make_network(net);
    const array_2d<double> none;
    const std::vector<std::string> l = lines_written([&](std::FILE *f) {
        write_linknode_step(f, 4, net, net.qp, none, linknode_value_plain, {});
    });
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0], "TS    4");
    // The two nodes of link 1: as many values as the count says.
    EXPECT_EQ(l[1], "2   1  1.62500   1  1.75000   ");
    EXPECT_EQ(l[2], "0  -999.999   ");      // a lake link in a flow file
    EXPECT_EQ(l[3], "-2  4.62500   ");      // structure: its first node's flow
    EXPECT_EQ(l[4], "");                    // the block ends with a blank line
}

TEST_F(LinkNodeSeries, DepthBlockSubtractsTheBedAndLakesShowTheirValue) {
    channel_network net;
    make_network(net);
    const std::vector<double> lake_levels = {0.0, 12.5};
    const std::vector<std::string> l = lines_written([&](std::FILE *f) {
        write_linknode_step(f, 1, net, net.yp, net.bel, linknode_value_difference, lake_levels);
    });
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[1], "2   1  0.25000   1  0.50000   ");
    EXPECT_EQ(l[2], "-1 12.50000   ");
    EXPECT_EQ(l[3], "0  -999.999   ");  // a structure outside the flow file
}

TEST_F(LinkNodeSeries, VelocityBlockDividesByAreaAndADryNodeIsStill) {
    channel_network net;
    make_network(net);
    array_2d<double> area;
    area.obtain(3, 3);
    area[1][1] = 0.5;
    area[2][1] = 0.0;  // dry node
    const std::vector<std::string> l = lines_written([&](std::FILE *f) {
        write_linknode_step(f, 2, net, net.qp, area, linknode_value_ratio, {});
    });
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[1], "2   1  3.25000   1  0.00000   ");
}

TEST_F(LinkNodeSeries, CountIsTheNodesAsReadAndEqualsTheValuesThatFollow) {
    // A trapezoid link of four points (MAXNODES 4) has three computational nodes;
    // a lake has since taken the third one over.
    channel_network net;
    net.link_count = 1;
    net.max_node_count = 4;
    net.link_type.obtain(1);
    net.node_count.obtain(1);
    net.comp_node_count.obtain(1);
    net.og_node_count.obtain(1);
    net.link_type[1] = 1;
    net.node_count[1] = 4;
    net.og_node_count[1] = 3;
    net.comp_node_count[1] = 2;
    net.qp.obtain(4, 1);
    for (int n = 1; n <= 4; ++n) net.qp[n][1] = 0.5 * n;
    const array_2d<double> none;
    const std::vector<std::string> l = lines_written([&](std::FILE *f) {
        write_linknode_step(f, 1, net, net.qp, none, linknode_value_plain, {});
    });
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[1], "3   1  0.50000   1  1.00000   0  -999.999   ");
    // Read as a consumer would: the count, then that many flag-value pairs.
    std::istringstream in(l[1]);
    int count = 0;
    ASSERT_TRUE(in >> count);
    int pairs = 0, flag = 0;
    double value = 0.0;
    while (in >> flag >> value) ++pairs;
    EXPECT_EQ(pairs, count);
}

TEST_F(LinkNodeSeries, PipeBlockHasNodeCountAndValues) {
    array_1d<int> nodes;
    nodes.obtain(2);
    nodes[1] = 1;
    nodes[2] = 2;
    array_2d<double> v;
    v.obtain(2, 2);
    v[1][1] = 0.5;
    v[1][2] = 1.0;
    v[2][2] = 2.0;
    const std::vector<std::string> l =
        lines_written([&](std::FILE *f) { write_linknode_step_simple(f, 9, 2, nodes, v); });
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "TS    9");
    EXPECT_EQ(l[1], "1   1  0.50000   ");
    EXPECT_EQ(l[2], "2   1  1.00000   1  2.00000   ");
}

TEST_F(LinkNodeSeries, HeadersGoIntoTheOpenChannelFilesButNotVelocity) {
    make_network(s.channels);
    s.time_step = 60.0;
    s.hydrograph_interval_steps = 15;
    s.total_time = 600;
    // The header gives the run's start as set up (not the START_TIME card's).
    s.grid.start_hour = 7;
    s.start_days = julian_day(2010, 12, 31, 23, 5, 0.0);
    s.chan_explicit = 1;
    s.chan_depth_out_file = std::fopen("depth.lnd", "w");
    s.chan_velocity_out_file = std::fopen("vel.lnd", "w");
    s.flood_stream_file = std::fopen("flood.lnd", "w");
    write_linknode_headers(s);
    std::fclose(s.chan_depth_out_file);
    std::fclose(s.chan_velocity_out_file);
    std::fclose(s.flood_stream_file);
    s.chan_depth_out_file = s.chan_velocity_out_file = s.flood_stream_file = nullptr;
    EXPECT_EQ(read_text("depth.lnd"),
              "KORVA_LINKNODE_STREAM_DEPTH\nNUM_LINKS     3\nTIME_STEP     15\nNUM_TS        40\n"
              "START_TIME    31 12 2010 23  5  0\n");
    EXPECT_EQ(read_text("vel.lnd"), "");
    EXPECT_EQ(read_text("flood.lnd").rfind("KORVA_LINKNODE_FLOOD_STREAM_DEPTH\n", 0), 0u);
}

TEST_F(LinkNodeSeries, PipeHeadersCountThePipeLinks) {
    s.storm_sewer_on = 1;
    s.superlinks.num_superlinks = 4;
    s.time_step = 60.0;
    s.hydrograph_interval_steps = 5;
    s.total_time = 60;
    s.pipe_head_file = std::fopen("head.lnd", "w");
    write_linknode_headers(s);
    std::fclose(s.pipe_head_file);
    s.pipe_head_file = nullptr;
    const std::vector<std::string> l = testsupport::split_lines(read_text("head.lnd"));
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0], "KORVA_LINKNODE_SUPERLINK_HEAD");
    EXPECT_EQ(l[1], "NUM_LINKS     4");
    EXPECT_EQ(l[3], "NUM_TS        12");
}

TEST_F(LinkNodeSeries, SeriesFileOpensPlainAndAFailureIsReported) {
    s.time_step = 60.0;
    s.hydrograph_interval_steps = 1;
    s.total_time = 3;
    file_prefix_on = 1;  // the plain open never takes the run prefix
    file_prefix_number = 2;
    std::FILE *slot = nullptr;
    open_linknode_series_file(s, slot, "no2.conc", linknode_first_species, 5);
    ASSERT_NE(slot, nullptr);
    std::fclose(slot);
    // Its header waits for write_linknode_headers, once the start of the run is set.
    EXPECT_EQ(read_text("no2.conc"), "");
    EXPECT_EQ(error_record.code, 0);
    open_linknode_series_file(s, slot, "missing_dir/no3.conc", linknode_first_species + 1, 5);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(error_record.code, 59);
    EXPECT_STREQ(error_record.text2, "missing_dir/no3.conc");
}

TEST_F(LinkNodeSeries, NutrientSpeciesOutputsOpenUnderTheirNames) {
    s.nutrients_on = 1;
    s.project.nutrient_cards = std::make_unique<nutrient_card_record>();
    s.project.nutrient_cards->overland_output[1].on = 1;  // no3
    s.project.nutrient_cards->overland_output[1].file = "ovno3";
    s.project.nutrient_cards->stream_output[0].on = 1;    // no2
    s.project.nutrient_cards->stream_output[0].file = "stno2";
    s.nutrient_summary_file = std::fopen("ntr.sum", "w");
    s.datasets_on = 1;
    open_constituent_outputs(s);
    write_linknode_headers(s);
    std::fclose(s.nutrient_summary_file);
    s.nutrient_summary_file = nullptr;
    ASSERT_EQ(error_record.code, 0);
    for (auto &f : s.dataset_files) f.close();
    for (auto &species : s.species_series_files)
        for (auto &f : species) f.close();
    EXPECT_NE(read_text("ovno3.mass").find("NAME OV_no3_mass\n"), std::string::npos);
    EXPECT_NE(read_text("ovno3.conc").find("OBJID 1027\n"), std::string::npos);
    EXPECT_EQ(read_text("stno2.dcdt").rfind("KORVA_LINKNODE_NO2\n", 0), 0u);
    const std::string sum = read_text("ntr.sum");
    EXPECT_NE(sum.find("Opening file: stno2.conc\n"), std::string::npos);
    EXPECT_NE(sum.find("Opening file: ovno3.dmdt\n"), std::string::npos);
}

}  // namespace
