// Powers of positive bases for arrays against the library's pow: within the
// stated units of the last place over the soil curves' range, and the library's
// own result for the arguments the method hands over.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "model/core/positive_powers.h"

TEST(PositivePowers, AgreeWithPowWithinTheStatedUnits) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> exponent(0.1, 12.0), digits(-12.0, 0.0);
    std::vector<double> x(4001), y(4001), out(4001);  // odd length: the vector tail too
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = std::pow(10.0, digits(rng));
        y[i] = exponent(rng);
    }
    positive_powers(x.data(), y.data(), out.data(), static_cast<int>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double exact = std::pow(x[i], y[i]);
        const double units = 2.0 + std::fabs(y[i] * std::log(x[i]));
        EXPECT_LE(std::fabs(out[i] - exact), units * std::numeric_limits<double>::epsilon() * exact)
            << x[i] << " ^ " << y[i];
    }
    // Zero, subnormal, infinite and NaN bases and powers beyond the normal range.
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> xs = {0.0, 1e-310, inf, std::nan(""), 0.5, 2.0, 1.0};
    std::vector<double> ys = {2.0, 0.5, 1.5, 2.0, 1100.0, 1100.0, 3.0};
    std::vector<double> got(xs.size());
    positive_powers(xs.data(), ys.data(), got.data(), static_cast<int>(xs.size()));
    for (std::size_t i = 0; i < xs.size(); ++i)
        EXPECT_TRUE(got[i] == std::pow(xs[i], ys[i]) || (std::isnan(got[i]) && std::isnan(xs[i])))
            << xs[i] << " ^ " << ys[i] << " gave " << got[i];
}
