// A coded per-cell map gives back every value bit for bit: uniform, a few
// classes (with -0.0, 0.0 and NaN apart), the 256 values a code can hold, and
// 257 values, which stay as they are; expanded again it is the array it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

#include "model/cell_map.h"

namespace {

std::uint64_t bits(double v) {
    std::uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

TEST(CellMap, CodedValuesAreTheFilledBits) {
    const struct {
        const char *name;
        std::function<double(std::size_t)> value;
        bool coded;
    } cases[] = {
        {"uniform", [](std::size_t) { return 0.3; }, true},
        {"classes",
         [](std::size_t i) {
             const double v[] = {0.0, -0.0, NAN, 1e-300, 0.45};
             return v[i * 7 % 5];
         },
         true},
        {"256 values", [](std::size_t i) { return 0.1 * static_cast<double>(i % 256); }, true},
        {"257 values", [](std::size_t i) { return 0.1 * static_cast<double>(i % 257); }, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        cell_map m;
        const std::size_t n = 3000;
        ASSERT_TRUE(m.full().obtain(n));
        for (std::size_t i = 1; i <= n; ++i) m.full()[i] = c.value(i);
        ASSERT_TRUE(m.compress());
        EXPECT_EQ(m.coded(), c.coded);
        ASSERT_EQ(m.last(), n);
        for (std::size_t i = 1; i <= n; ++i) ASSERT_EQ(bits(m[i]), bits(c.value(i))) << i;
        const array_1d<double> &again = m.full();
        EXPECT_FALSE(m.coded());
        for (std::size_t i = 1; i <= n; ++i) ASSERT_EQ(bits(again[i]), bits(c.value(i))) << i;
    }
}

}  // namespace
