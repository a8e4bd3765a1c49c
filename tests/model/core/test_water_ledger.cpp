#include "model/core/water_ledger.h"

#include <gtest/gtest.h>

namespace {

using n = ledger_node;

// A storm by hand: 100 m3 of rain, 30 infiltrate, 5 evaporate from the ponds,
// 40 reach the channels and 25 of them leave through the outlet; then the soil
// gives 2 back to the surface (a negative posting). Every store's net is its
// change by hand, and all nets together are what crossed the boundary.
TEST(WaterLedger, StormClosesOverStoresAndOutside) {
    water_ledger w;
    w.move(n::atmosphere, n::surface, 100.0);
    w.move(n::surface, n::front_soil, 30.0);
    w.move(n::surface, n::atmosphere, 5.0);
    w.move(n::surface, n::channels, 40.0);
    w.move(n::channels, n::outlet, 25.0);
    w.move(n::surface, n::front_soil, -2.0);
    EXPECT_DOUBLE_EQ(w.net_into(n::surface), 100.0 - 30.0 - 5.0 - 40.0 + 2.0);
    EXPECT_DOUBLE_EQ(w.net_into(n::front_soil), 28.0);
    EXPECT_DOUBLE_EQ(w.net_into(n::channels), 15.0);
    EXPECT_DOUBLE_EQ(w.moved(n::front_soil, n::surface), 2.0);
    EXPECT_DOUBLE_EQ(w.net(n::surface, n::front_soil), 28.0);
    double stores = 0.0, outside = 0.0;
    for (std::size_t k = 0; k < ledger_node_count; ++k) {
        const auto node = static_cast<ledger_node>(k);
        (is_ledger_store(node) ? stores : outside) += w.net_into(node);
    }
    EXPECT_DOUBLE_EQ(stores, 100.0 - 5.0 - 25.0);
    EXPECT_DOUBLE_EQ(stores + outside, 0.0);
}

// An event reads its share as the difference from its mark, per direction.
TEST(WaterLedger, EventShareIsTheDifferenceFromItsMark) {
    water_ledger w;
    w.move(n::aquifer, n::channels, 7.0);
    w.move(n::wells, n::aquifer, -3.0);  // pumping: 3 from the aquifer to the wells
    const ledger_totals start = w.mark();
    w.move(n::aquifer, n::channels, 4.0);
    w.move(n::channels, n::aquifer, 1.5);
    w.move(n::aquifer, n::wells, 2.0);
    EXPECT_DOUBLE_EQ(w.moved_since(start, n::aquifer, n::channels), 4.0);
    EXPECT_DOUBLE_EQ(w.net_since(start, n::aquifer, n::channels), 2.5);
    EXPECT_DOUBLE_EQ(w.moved_since(start, n::aquifer, n::wells), 2.0);
    EXPECT_DOUBLE_EQ(w.moved(n::aquifer, n::wells), 5.0);
    EXPECT_DOUBLE_EQ(w.net(n::aquifer, n::channels), 9.5);
    w.set_start(n::aquifer, 1000.0);
    w.clear();
    EXPECT_DOUBLE_EQ(w.moved(n::aquifer, n::channels), 0.0);
    EXPECT_DOUBLE_EQ(w.start(n::aquifer), 0.0);
    EXPECT_STREQ(ledger_node_name(n::sacramento_transit), "Sacramento runoff in transit");
}

}  // namespace
