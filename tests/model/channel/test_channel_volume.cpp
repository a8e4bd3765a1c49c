// Tests of the channel water volume: flow area times node spacing over the
// routed nodes, leaving out lakes, structures and nodes a lake has taken over.
#include <gtest/gtest.h>

#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "routing_network.h"

namespace {

using routing_test::trapezoid_link;

TEST(ChannelVolume, PrismaticTrapezoidHoldsAreaTimesLength) {
    clear_error_state();
    model_state s;
    // 5 nodes 20 m apart, bottom 4 m, side slope 2, 0.5 m deep: A = (4 + 2 * 0.5) 0.5.
    trapezoid_link(s, 5, 20.0, 4.0, 2.0, 0.03, 0.001, 100.0, 0.5);
    EXPECT_NEAR(channel_water_volume(s), 5 * 20.0 * 2.5, 1e-9);
    // A lake that takes over the last two nodes leaves three.
    s.channels.comp_node_count[1] = 3;
    EXPECT_NEAR(channel_water_volume(s), 3 * 20.0 * 2.5, 1e-9);
    EXPECT_FALSE(error_record.fatal);
}

TEST(ChannelVolume, DryAndNonRoutedLinksHoldNothing) {
    clear_error_state();
    model_state s;
    EXPECT_EQ(channel_water_volume(s), 0.0);  // no network
    trapezoid_link(s, 4, 10.0, 2.0, 0.0, 0.03, 0.001, 50.0, 0.0);
    EXPECT_EQ(channel_water_volume(s), 0.0);  // dry rectangle
    trapezoid_link(s, 4, 10.0, 2.0, 0.0, 0.03, 0.001, 50.0, 1.5);
    EXPECT_NEAR(channel_water_volume(s), 4 * 10.0 * 3.0, 1e-9);
    for (int type : {link_lake, link_structure, link_weir, link_taken_by_lake}) {
        s.channels.link_type[1] = type;
        EXPECT_EQ(channel_water_volume(s), 0.0) << type;
    }
}

}  // namespace
