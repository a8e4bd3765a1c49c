// A roughness held by its distinct values (one, or two) routes the water of the full map, bit for bit.
#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_explicit.h"
#include "test_overland_grid.h"

using OverlandCodedRoughness = overlandtest::overland_test;

TEST_F(OverlandCodedRoughness, RoutesTheWaterOfTheFullMap) {
    for (auto route : {route_overland_explicit, route_overland_ade, route_overland_ade_pc})
        for (int values : {1, 2}) {
            auto runs = std::make_unique<model_state[]>(2);
            for (model_state *m = runs.get(); m != runs.get() + 2; ++m) {
                overlandtest::make_grid(*m, 9, 14, 10.0, [](int r, int c) { return 50 - 0.04 * r - 0.02 * c; }, 0.04, 0.001, 0.01);
                for (std::size_t i = 1; i <= 126; ++i)  // two values: 0.04 and 0.09 in every seventh cell
                    m->depth[i] = 0.002 * (i % 5), m->roughness.full()[i] = values == 2 && i % 7 == 3 ? 0.09 : 0.04;
            }
            ASSERT_TRUE(runs[1].roughness.compress() && (runs[1].roughness.uniform_value() != nullptr) == (values == 1));
            double out[2] = {0.0, 0.0};
            for (int call = 0; call < 40; ++call) out[call % 2] += route(runs[call % 2], 5.0);
            for (auto a : {&model_state::depth, &model_state::discharge_x, &model_state::discharge_y})
                EXPECT_EQ(std::memcmp((runs[0].*a).data(), (runs[1].*a).data(), 127 * sizeof(double)), 0) << values;
            EXPECT_TRUE(out[0] == out[1] && out[0] > 0.0);  // the same water reached the outlet
        }
}
