// Tests of the network checks of the channel reader: node spacing of routed
// links, and downstream links and upstream lists that must form one tree
// draining to an outlet.
#include <string>

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
