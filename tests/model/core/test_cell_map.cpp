// A coded per-cell map gives back every value bit for bit (uniform, classes with -0.0, 0.0 and NaN
// apart, 256 values, and 257, which stay uncoded); expanded again it is the array it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "model/core/cell_map.h"

TEST(CellMap, CodedValuesAreTheFilledBits) {
    const struct {
        double (*value)(std::size_t);
        bool coded;
        double entry0;  // the unused entry 0, which keeps its own value
    } cases[] = {{[](std::size_t) { return 0.3; }, true, -7.5},
                 {[](std::size_t i) { const double v[] = {0.0, -0.0, NAN, 1e-300, 0.45}; return v[i % 5]; }, true, 0.45},
                 {[](std::size_t i) { return 0.1 * static_cast<double>(i % 256); }, true, 0.0},
                 {[](std::size_t i) { return 0.1 * static_cast<double>(i % 257); }, false, 2.0}};
    for (const auto &c : cases) {
        cell_map m;
        const std::size_t n = 3000;
        ASSERT_TRUE(m.full().obtain(n));
        for (std::size_t i = 1; i <= n; ++i) m.full()[i] = c.value(i);
        m.full()[0] = c.entry0;
        ASSERT_TRUE(m.compress());
        EXPECT_EQ(m.coded(), c.coded);
        EXPECT_EQ(m[0], c.entry0);
        for (int pass = 0; pass < 2; ++pass) {  // coded, then expanded again
            for (std::size_t i = 1; i <= n; ++i) {
                const double v = pass ? m.full()[i] : m[i], want = c.value(i);
                ASSERT_EQ(std::memcmp(&v, &want, sizeof v), 0) << i << " pass " << pass;
            }
        }
        EXPECT_FALSE(m.coded());
    }
}
