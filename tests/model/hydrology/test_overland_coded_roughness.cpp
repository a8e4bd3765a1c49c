// A roughness map held by its distinct values (one value, or several) routes the
// same water as the map held in full, bit for bit, in the three overland schemes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_explicit.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;
using router = double (*)(model_state &, double);

std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

void make_plane(model_state &s, bool two_values) {
    make_grid(s, 9, 14, 10.0, [](int r, int c) { return 50.0 - 0.04 * r - 0.02 * c; }, 0.04, 0.001, 0.01);
    for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] = 0.002 * (i % 5);
    if (two_values)
        for (int i = 3; i <= s.cell_count; i += 7) s.roughness.full()[at(i)] = 0.09;
}

using OverlandCodedRoughness = overland_test;

TEST_F(OverlandCodedRoughness, RoutesTheWaterOfTheFullMap) {
    const router schemes[] = {route_overland_explicit, route_overland_ade, route_overland_ade_pc};
    for (router route : schemes) {
        for (bool two_values : {false, true}) {
            SCOPED_TRACE(testing::Message() << "scheme " << (route == route_overland_explicit ? 1 : route == route_overland_ade ? 2 : 3)
                                            << (two_values ? ", two values" : ", one value"));
            reset_process_globals();
            auto full_state = std::make_unique<model_state>(), coded_state = std::make_unique<model_state>();
            model_state &f = *full_state, &c = *coded_state;
            make_plane(f, two_values);
            make_plane(c, two_values);
            ASSERT_TRUE(c.roughness.compress());
            ASSERT_EQ(c.roughness.uniform_value() != nullptr, !two_values);
            int differing = 0;
            double out = 0.0;
            for (int call = 0; call < 20; ++call) {
                const double qf = route(f, 5.0), qc = route(c, 5.0);
                ASSERT_EQ(error_record.code, 0);
                out += qf;
                differing += bits(qf) != bits(qc);
                for (int i = 1; i <= f.cell_count; ++i) {
                    differing += bits(f.depth[at(i)]) != bits(c.depth[at(i)]);
                    differing += bits(f.discharge_x[at(i)]) != bits(c.discharge_x[at(i)]);
                    differing += bits(f.discharge_y[at(i)]) != bits(c.discharge_y[at(i)]);
                }
            }
            EXPECT_EQ(differing, 0);
            EXPECT_GT(out, 0.0);  // water reached the outlet
        }
    }
}

}  // namespace
