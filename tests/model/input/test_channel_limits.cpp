// Tests of the routing limits that the channel set-up checks before the run: the
// Courant limit of explicit routing and the river-bed thickness that the
// channel-aquifer exchange divides by.
#include <cstdio>
#include <string>

#include "model/input/channel_setup.h"
#include "model/input/input_readers.h"
#include "tests/model/input/channel_test_files.h"

namespace {

using channeltest::channel_files;
using channeltest::two_link_card_file;

// The two-link network with groundwater cards on link 1 only.
std::string network_with_bed(const std::string &thickness) {
    std::string text = two_link_card_file();
    const std::string at = "LINK 1\nDX 10.0\n";
    text.replace(text.find(at), at.size(),
                 at + "GW_BED_CONDUCTIVITY 0.5\nGW_BED_THICKNESS " + thickness + "\n");
    return text;
}

class ChannelLimits : public channel_files {};

TEST_F(ChannelLimits, CourantLimitMustBeAboveZero) {
    read(two_link_card_file());
    ASSERT_FALSE(failed());
    s.chan_explicit = 1;
    for (double limit : {0.0, -0.5}) {
        clear_error_state();
        s.max_courant_number = limit;
        const std::string out = printed([&] { check_channel_limits(s); });
        EXPECT_TRUE(failed()) << limit;
        EXPECT_NE(out.find("MAX_COURANT_NUMBER of the channel routing must be above 0"),
                  std::string::npos);
    }
    clear_error_state();
    s.max_courant_number = 1e-3;  // small but valid
    check_channel_limits(s);
    EXPECT_FALSE(failed());
    // Without explicit routing the limit is not used.
    s.chan_explicit = 0;
    s.max_courant_number = 0.0;
    check_channel_limits(s);
    EXPECT_FALSE(failed());
}

TEST_F(ChannelLimits, BedThicknessMustBeAboveZeroWithGroundwater) {
    read(network_with_bed("0.0"));
    ASSERT_FALSE(failed());
    s.chan_explicit = 1;
    s.max_courant_number = 0.2;
    // Link 2 has no groundwater cards and takes thickness 0 as well; link 1 is
    // found first.
    s.groundwater_on = 1;
    const std::string out = printed([&] { check_channel_limits(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("river bed thickness at link 1 node 1 is 0 m"), std::string::npos);
    // Without the groundwater model the thickness is never divided by.
    clear_error_state();
    s.groundwater_on = 0;
    check_channel_limits(s);
    EXPECT_FALSE(failed());
}

TEST_F(ChannelLimits, PositiveBedThicknessEverywhereIsAccepted) {
    read(network_with_bed("0.25"));
    ASSERT_FALSE(failed());
    s.chan_explicit = 1;
    s.max_courant_number = 0.2;
    s.groundwater_on = 1;
    // Each link's nodes take that link's own cards; link 2 has none, so its
    // thickness is given by hand.
    for (int n = 1; n <= s.channels.max_node_count; ++n)
        if (s.channels.Mrb[n][2] <= 0.0) s.channels.Mrb[n][2] = 0.5;
    check_channel_limits(s);
    EXPECT_FALSE(failed());
    EXPECT_DOUBLE_EQ(s.channels.Mrb[2][1], 0.25);
}

TEST_F(ChannelLimits, SetUpStopsBeforeRoutingOnABadCourantLimit) {
    s.channel_input_file = file("chan.dat", two_link_card_file());
    s.chan_explicit = 1;
    s.max_courant_number = 0.0;
    const std::string out = printed([&] { setup_channels(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("MAX_COURANT_NUMBER"), std::string::npos);
    // The set-up ended there: no routing work arrays were made.
    EXPECT_TRUE(s.chan.area.empty());
}

}  // namespace
