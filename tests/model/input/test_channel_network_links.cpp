// Tests of the network checks of the channel reader and set-up: node spacing of
// routed links, downstream links and upstream lists that must form one tree
// draining to an outlet, and cell maps and locations that name computational nodes.
#include <string>

#include "model/input/channel_setup.h"
#include "tests/model/input/channel_test_files.h"

namespace {

using channeltest::channel_files;
using channeltest::two_link_card_file;

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

class ChannelNetworkLinks : public channel_files {};

TEST_F(ChannelNetworkLinks, ConsistentTreeIsAccepted) {
    read(two_link_card_file());
    EXPECT_FALSE(failed());
    EXPECT_EQ(s.channels.ds_link[1], 2);
    EXPECT_EQ(s.channels.ds_link[2], 0);
    EXPECT_EQ(s.channels.uslinks[2][1], 1);
}

TEST_F(ChannelNetworkLinks, NodeSpacingMustBeAboveZero) {
    const std::string first = "LINK 1\nDX 10.0\n";
    for (const std::string dx : {"DX 0.0\n", "DX -10.0\n", ""}) {
        clear_error_state();
        const std::string out = read(replaced(two_link_card_file(), first, "LINK 1\n" + dx));
        EXPECT_TRUE(failed()) << dx;
        EXPECT_NE(out.find("the node spacing (DX) of link 1 is"), std::string::npos) << out;
    }
}

TEST_F(ChannelNetworkLinks, DownstreamLinkMustListItsUpstreamLink) {
    // Link 1 drains into link 2, which names no upstream link: the water of
    // link 1 would never reach link 2.
    const std::string out =
        read(replaced(two_link_card_file(), "CONNECT 2 0 1 1\n", "CONNECT 2 0 0\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("link 1 drains into link 2, but link 2 does not list link 1"),
              std::string::npos)
        << out;
}

TEST_F(ChannelNetworkLinks, ListedUpstreamLinkMustDrainThere) {
    // Link 2 lists link 1 upstream, but link 1 is an outlet of its own.
    const std::string out =
        read(replaced(two_link_card_file(), "CONNECT 1 2 0\n", "CONNECT 1 0 0\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("link 2 lists link 1 upstream, but link 1 does not drain into link 2"),
              std::string::npos)
        << out;
}

TEST_F(ChannelNetworkLinks, LinkDrainingIntoItselfIsRefused) {
    const std::string out =
        read(replaced(two_link_card_file(), "CONNECT 2 0 1 1\n", "CONNECT 2 2 1 1\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("link 2 drains into link 2"), std::string::npos) << out;
}

TEST_F(ChannelNetworkLinks, LoopWithoutOutletIsRefused) {
    // Each link lists the other upstream and drains into it: consistent lists,
    // but no water ever leaves the network.
    const std::string out = read(replaced(two_link_card_file(), "CONNECT 1 2 0\n",
                                          "CONNECT 1 2 1 2\n"));
    EXPECT_TRUE(failed()) << out;
    clear_error_state();
    const std::string loop = replaced(replaced(two_link_card_file(), "CONNECT 1 2 0\n",
                                               "CONNECT 1 2 1 2\n"),
                                      "CONNECT 2 0 1 1\n", "CONNECT 2 1 1 1\n");
    const std::string out2 = read(loop);
    EXPECT_TRUE(failed());
    EXPECT_NE(out2.find("the downstream links from link 1 form a loop"), std::string::npos)
        << out2;
}

}  // namespace

namespace {

std::string map_of(const std::string &values) {
    return "north: 30.0\nsouth: 0.0\neast: 40.0\nwest: 0.0\nrows: 3\ncols: 4\n" + values;
}

// Link 1 has NODES 4, so three computational nodes; its fourth point only bounds
// node 3 and holds no water. A cell or a hydrograph location on it would lose its
// water or report a state that is never computed.
class ChannelNodeReferences : public channel_files {};

TEST_F(ChannelNodeReferences, CellMapsNameOnlyComputationalNodes) {
    read(two_link_card_file());
    ASSERT_FALSE(failed());
    ASSERT_EQ(s.channels.comp_node_count[1], 3);
    s.chan_explicit = 1;
    s.links_file = file("links.map", map_of("1 1 1 0\n0 0 0 0\n0 0 0 0\n"));
    s.nodes_file = file("nodes.map", map_of("1 2 3 0\n0 0 0 0\n0 0 0 0\n"));
    printed([&] { read_channel_cell_maps(s); });
    EXPECT_FALSE(failed());

    clear_error_state();
    s.links_file = file("links4.map", map_of("1 1 1 1\n0 0 0 0\n0 0 0 0\n"));
    s.nodes_file = file("nodes4.map", map_of("1 2 3 4\n0 0 0 0\n0 0 0 0\n"));
    const std::string out = printed([&] { read_channel_cell_maps(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("grid cell 4 has link 1 and node 4"), std::string::npos) << out;
}

TEST_F(ChannelNodeReferences, HydrographLocationOnTheLastPointIsRefused) {
    read(two_link_card_file());
    ASSERT_FALSE(failed());
    s.in_hyd_location_on = 1;
    s.in_hyd_location_name = "hyd.loc";
    s.hyd_location_file = file("hyd.loc", "2\n1 3\n2 2\n");
    printed([&] { read_hydrograph_locations(s); });
    EXPECT_FALSE(failed());
    EXPECT_EQ(s.hyd_location_count, 2);

    clear_error_state();
    s.hyd_location_file = file("last.loc", "1\n2 3\n");
    const std::string out = printed([&] { read_hydrograph_locations(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("hydrograph location at link 2, node 3 is not a node"), std::string::npos)
        << out;
}

}  // namespace
