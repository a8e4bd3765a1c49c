// The Richards step against the step as it was before its node powers were
// shared and its solve's divisions hoisted (bench/reference): on planes of
// random Brooks and Corey and Havercamp columns, with dry and ponded tops, rain
// and a free or fixed (water-table) bottom, 100 steps give the same heads,
// moistures and surface depths within 1e-12 relative.
#include <gtest/gtest.h>

#include <cmath>

#include "bench/reference/richards_reference.h"
#include "model/core/errors.h"
#include "model/hydrology/richards.h"
#include "model/hydrology/soil_water_services.h"
#include "tests/model/hydrology/richards_plane.h"

namespace {

void expect_close(double a, double b, const char *what, int i, int j) {
    ASSERT_LE(std::fabs(a - b), 1e-12 * std::max(std::fabs(b), 1e-3)) << what << " cell " << i << " node " << j;
}

TEST(RichardsEquality, HundredStepsMatchTheReferenceStep) {
    for (const int form : {curve_brooks_corey, curve_havercamp})
        for (const bool fixed_bottom : {false, true}) {
            SCOPED_TRACE(testing::Message() << "form " << form << " fixed bottom " << fixed_bottom);
            auto now = richards_plane::plane(40, form, 11u + form, fixed_bottom);
            auto before = richards_plane::plane(40, form, 11u + form, fixed_bottom);
            ASSERT_FALSE(error_record.fatal);
            for (int step = 0; step < 100; ++step) {
                for (int i = 1; i <= now->cell_count; i += 3) {  // rain on a third of the cells
                    now->depth[i] += 0.0004;
                    before->depth[i] += 0.0004;
                }
                richards_step(*now, 120.0);
                reference::richards_step(*before, 120.0);
                ASSERT_FALSE(error_record.fatal);
            }
            for (int i = 1; i <= now->cell_count; ++i) {
                expect_close(now->depth[i], before->depth[i], "depth", i, 0);
                for (int j = 0; j <= now->richards_cell_nodes[i]; ++j) {
                    expect_close(now->richards_head[i][j], before->richards_head[i][j], "head", i, j);
                    expect_close(now->richards_theta[i][j], before->richards_theta[i][j], "theta", i, j);
                }
            }
        }
}

}  // namespace
