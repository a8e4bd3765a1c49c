// Tests of the channel link/node series step: one block per output time into
// each open file, numbered from 0, with depths, discharges and velocities of the
// routed nodes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/channel/channel_network.h"
#include "model/output/hydrographs.h"
#include "model/core/model_state.h"
#include "support/run_program.h"

namespace {

// One trapezoid link of 3 NODES points (2 routed nodes) and one lake link.
void small_network(model_state &s) {
    channel_network &net = s.channels;
    net.link_count = 2;
    net.max_node_count = 3;
    net.link_type.obtain(2);
    net.node_count.obtain(2);
    net.comp_node_count.obtain(2);
    net.link_lake.obtain(2);
    net.link_type[1] = link_trapezoid;
    net.node_count[1] = 3;
    net.comp_node_count[1] = 2;
    net.link_type[2] = link_lake;
    net.node_count[2] = 1;
    net.comp_node_count[2] = 1;
    net.link_lake[2] = 1;
    net.lake_count = 1;
    net.lakes.resize(2);
    net.lakes[1].wse = 12.25;
    net.yp.obtain(3, 2);
    net.bel.obtain(3, 2);
    net.qp.obtain(3, 2);
    s.chan.area.obtain(3, 2);
    net.bel[1][1] = 10.0;
    net.bel[2][1] = 9.5;
    net.yp[1][1] = 10.75;  // 0.75 m deep
    net.yp[2][1] = 9.5;    // dry
    net.qp[1][1] = 3.0;
    net.qp[2][1] = 0.0;
    s.chan.area[1][1] = 1.5;
    s.chan.area[2][1] = 0.0;
    // The third point of the link is not a routed node; whatever it holds is not
    // written.
    net.yp[3][1] = 0.0;
    net.bel[3][1] = 9.0;
}

class ChannelSeries : public ::testing::Test {
protected:
    std::FILE *open(const std::string &name) {
        return std::fopen((dir.path() / name).c_str(), "w");
    }
    testsupport::scratch_dir dir;
};

TEST_F(ChannelSeries, BlocksOfDepthDischargeAndVelocityNumberedFromZero) {
    model_state s;
    small_network(s);
    s.chan_depth_out_file = open("depth");
    s.chan_discharge_out_file = open("flow");
    s.chan_velocity_out_file = open("velocity");
    write_channel_series_step(s);
    s.channels.yp[2][1] = 9.75;
    s.channels.qp[2][1] = 0.5;
    s.chan.area[2][1] = 2.0;
    write_channel_series_step(s);
    EXPECT_EQ(s.channel_series_blocks, 2);
    for (std::FILE *f : {s.chan_depth_out_file, s.chan_discharge_out_file, s.chan_velocity_out_file})
        std::fclose(f);

    const std::vector<std::string> depth = testsupport::split_lines(dir.read("depth"));
    ASSERT_EQ(depth.size(), 8u);
    EXPECT_EQ(depth[0], "TS    0");
    // Two routed nodes; the third position is no node of the link.
    EXPECT_EQ(depth[1], "2   1  0.75000   1  0.00000   ");
    EXPECT_EQ(depth[2], "-1 12.25000   ");  // the lake shows its water surface
    EXPECT_EQ(depth[3], "");
    EXPECT_EQ(depth[4], "TS    1");
    EXPECT_EQ(depth[5], "2   1  0.75000   1  0.25000   ");

    const std::vector<std::string> flow = testsupport::split_lines(dir.read("flow"));
    ASSERT_GE(flow.size(), 6u);
    EXPECT_EQ(flow[1], "2   1  3.00000   1  0.00000   ");
    EXPECT_EQ(flow[2], "0  -999.999   ");  // a lake has no flow value
    EXPECT_EQ(flow[5], "2   1  3.00000   1  0.50000   ");

    // Velocity = discharge / area; the dry node is still.
    const std::vector<std::string> v = testsupport::split_lines(dir.read("velocity"));
    ASSERT_GE(v.size(), 6u);
    EXPECT_EQ(v[1], "2   1  2.00000   1  0.00000   ");
    EXPECT_EQ(v[5], "2   1  2.00000   1  0.25000   ");
}

TEST_F(ChannelSeries, OnlyTheOpenFilesAreWritten) {
    model_state s;
    small_network(s);
    write_channel_series_step(s);  // no file open: nothing, no count
    EXPECT_EQ(s.channel_series_blocks, 0);
    s.chan_discharge_out_file = open("flow");
    write_channel_series_step(s);
    std::fclose(s.chan_discharge_out_file);
    s.chan_discharge_out_file = nullptr;
    EXPECT_EQ(s.channel_series_blocks, 1);
    EXPECT_FALSE(dir.exists("depth"));
    EXPECT_EQ(testsupport::split_lines(dir.read("flow"))[0], "TS    0");
}

}  // namespace
