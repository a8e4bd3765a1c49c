// The powers x^(2/3) and x^(5/3): equal to the library's pow bit for bit over a
// million arguments, the library's value where it is not the nearest double
// (values to 25 digits), exact cubes as the rounded exponents give them, special
// and repeated arguments as pow gives them, vector and scalar paths alike.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "model/core/thirds_powers.h"

namespace {

constexpr double two = 2.0 / 3.0;
constexpr double five = 5.0 / 3.0;

std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

bool same_bits(double a, double b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

// Distance in units in the last place between two positive finite doubles.
double ulps_apart(double a, double b) {
    const std::uint64_t x = bits(a), y = bits(b);
    return static_cast<double>(x > y ? x - y : y - x);
}

// Arguments log-uniform over 1e-300..1e300 and, as many again, over the depths
// and hydraulic radii of the kernels, 1e-9..100 m.
std::vector<double> random_arguments(std::size_t n) {
    std::mt19937_64 gen(20261209);
    std::uniform_real_distribution<double> wide(std::log(1e-300), std::log(1e300));
    std::uniform_real_distribution<double> depths(std::log(1e-9), std::log(100.0));
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = std::exp(i % 2 ? wide(gen) : depths(gen));
    return x;
}

struct agreement {
    double equal_fraction;
    double largest_ulps;
};

agreement compare_with_pow(const std::vector<double> &x, const std::vector<double> &y, double e,
                           std::size_t first, std::size_t stride) {
    std::size_t equal = 0, count = 0;
    double largest = 0.0;
    for (std::size_t i = first; i < x.size(); i += stride, ++count) {
        const double p = std::pow(x[i], e);
        if (same_bits(p, y[i])) ++equal;
        else largest = std::max(largest, ulps_apart(p, y[i]));
    }
    return {static_cast<double>(equal) / static_cast<double>(count), largest};
}

TEST(ThirdsPowers, EqualToPowOverAMillionArguments) {
    const std::vector<double> x = random_arguments(1200000);
    std::vector<double> y2(x.size()), y5(x.size());
    pow_two_thirds_n(x.data(), y2.data(), x.size());
    pow_five_thirds_n(x.data(), y5.data(), x.size());
    const char *ranges[2] = {"1e-9..100", "1e-300..1e300"};
    for (std::size_t range = 0; range < 2; ++range) {
        const agreement a2 = compare_with_pow(x, y2, two, range, 2);
        const agreement a5 = compare_with_pow(x, y5, five, range, 2);
        std::printf("%-14s x^(2/3) equal to pow %.4f %%, largest difference %.0f ulp; "
                    "x^(5/3) %.4f %%, %.0f ulp\n",
                    ranges[range], 100.0 * a2.equal_fraction, a2.largest_ulps,
                    100.0 * a5.equal_fraction, a5.largest_ulps);
        EXPECT_GE(a2.equal_fraction, 0.9999) << ranges[range];
        EXPECT_GE(a5.equal_fraction, 0.9999) << ranges[range];
        EXPECT_LE(a2.largest_ulps, 1.0) << ranges[range];
        EXPECT_LE(a5.largest_ulps, 1.0) << ranges[range];
    }
}

// Arguments where the library's pow is one unit off the nearest double of
// x^fl(e) (to 25 digits from a 400-bit evaluation; the exact value lies a few
// thousandths of a unit from the midpoint): such values near a midpoint are left
// to the library, so the results are its results.
TEST(ThirdsPowers, NearAMidpointTheLibrarysRoundingIsKept) {
    struct row {
        bool five;
        double x, exact;
    };
    const row table[] = {
        {false, 0.6681567379193161, 0.7642795423754987213839827},
        {false, 0.07842024535152503, 0.1832112471979210205177912},
        {false, 3.62015750618648, 2.357680641083775840880017},
        {false, 0.00011977729835276703, 0.002429869829981118637910961},
        {true, 0.0017868334978626715, 0.00002631116891304682310516281},
        {true, 2.826741591467193, 5.651236921361987075205285},
        {true, 0.7654820544163311, 0.6405578477373407575079273},
        {true, 3.0902257834227496, 6.556172215052864960161123},
    };
    for (const row &t : table) {
        const double got = t.five ? pow_five_thirds(t.x) : pow_two_thirds(t.x);
        const double lib = std::pow(t.x, t.five ? five : two);
        EXPECT_EQ(bits(got), bits(lib)) << t.x;
        EXPECT_EQ(ulps_apart(lib, t.exact), 1.0) << t.x;  // the case is a real one
        const double four[4] = {t.x, t.x, t.x, t.x};  // a whole vector
        double vector_form[4];
        if (t.five) pow_five_thirds_n(four, vector_form, 4);
        else pow_two_thirds_n(four, vector_form, 4);
        for (double v : vector_form) EXPECT_EQ(bits(v), bits(lib)) << t.x;
    }
}

// Runs of equal arguments among those handed to the library (near a midpoint,
// zero, negative, NaN, the wet plane's depth 0.005, 1 first), interleaved with
// others and across the vector tails: every value by every array form equals
// std::pow bit for bit, so a result kept for a repeated argument is never that
// of another argument.
TEST(ThirdsPowers, RepeatedArgumentsAsPowGivesThem) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double a = 0.6681567379193161, b = 0.07842024535152503;  // near a midpoint for 2/3
    const double c = 2.826741591467193, d = 0.7654820544163311;    // near a midpoint for 5/3
    const std::vector<double> runs[] = {
        {1.0, 1.0, a, a, a, a, a, b, b, a, 1.0, a},
        {c, c, c, c, c, d, d, d, c, c, 0.5, c, d, c},
        {0.005, 0.005, 0.005, 0.005, 0.005, 0.005, 0.005, 0.0051, 0.005, 0.005, 0.005},
        {0.0, 0.0, -0.0, -0.0, 0.0, -1.0, -1.0, -8.0, -1.0, nan, nan, 0.0, 1e-310, 1e-310, 0.0},
        {a, c, a, c, b, d, b, d, a, a, c, c, 1.0, 0.0, a, c},
    };
    for (const std::vector<double> &run : runs) {
        for (std::size_t len = 1; len <= run.size(); ++len) {
            std::vector<double> v2(len), v5(len), s2(len), s5(len);
            std::vector<double> in_place(run.begin(), run.begin() + static_cast<long>(len));
            pow_two_thirds_n(run.data(), v2.data(), len);
            pow_five_thirds_n(run.data(), v5.data(), len);
            pow_two_thirds_n_portable(run.data(), s2.data(), len);
            pow_five_thirds_n_portable(run.data(), s5.data(), len);
            pow_five_thirds_n(in_place.data(), in_place.data(), len);
            for (std::size_t i = 0; i < len; ++i) {
                const double x = run[i], e2 = std::pow(x, two), e5 = std::pow(x, five);
                EXPECT_TRUE(same_bits(v2[i], e2)) << len << " " << i << " " << x;
                EXPECT_TRUE(same_bits(v5[i], e5)) << len << " " << i << " " << x;
                EXPECT_TRUE(same_bits(s2[i], e2)) << len << " " << i << " " << x;
                EXPECT_TRUE(same_bits(s5[i], e5)) << len << " " << i << " " << x;
                EXPECT_TRUE(same_bits(in_place[i], e5)) << len << " " << i << " " << x;
            }
        }
    }
}

// Cubes: the exponents are the doubles nearest 2/3 and 5/3, 2/3 - 1/(3 2^53) and
// 5/3 + 1/(3 2^52), so x^fl(e) = x^e (1 + (fl(e) - e) ln x) and a cube's power
// is not the integer power. x^(2/3): of 8, 4 (1 - ln 8 / (3 2^53)) = 4 - 3.1e-16,
// 0.69 of the unit 2^-51 below 4, so the double below 4; of 27, 9 - 1.10e-15,
// 0.62 of 2^-49: the double below 9; of 0.125, 0.25 + 1.9e-17, 0.35 of 2^-54:
// 0.25; of 3.375, 2.25 - 1.0e-16, 0.23 of 2^-51: 2.25. x^(5/3): of 8, 32 + 4.9e-15,
// 0.69 of 2^-47: the double above 32; of 27, 243 + 5.9e-14, 2.09 units of 2^-45:
// two doubles above 243; of 0.125, 2^-5 - 4.8e-18, 1.39 units of 2^-58: the
// double below 2^-5; of 3.375, 7.59375 + 6.8e-16, 0.77 of 2^-50: the double
// above. 1 gives 1.
TEST(ThirdsPowers, CubesAsTheRoundedExponentsGiveThem) {
    struct row {
        double x, two_thirds, five_thirds;
    };
    const row table[] = {
        {8.0, std::nextafter(4.0, 0.0), std::nextafter(32.0, 64.0)},
        {27.0, std::nextafter(9.0, 0.0), 243.0 + std::ldexp(1.0, -44)},
        {0.125, 0.25, std::nextafter(0.03125, 0.0)},
        {3.375, 2.25, std::nextafter(7.59375, 8.0)},
        {1.0, 1.0, 1.0},
    };
    for (const row &t : table) {
        EXPECT_EQ(bits(pow_two_thirds(t.x)), bits(t.two_thirds)) << t.x;
        EXPECT_EQ(bits(pow_five_thirds(t.x)), bits(t.five_thirds)) << t.x;
        EXPECT_EQ(bits(pow_two_thirds(t.x)), bits(std::pow(t.x, two))) << t.x;
        EXPECT_EQ(bits(pow_five_thirds(t.x)), bits(std::pow(t.x, five))) << t.x;
    }
}

// Zero, subnormal, infinite, NaN and negative arguments and the ends of the fast
// ranges, by every entry point, as pow gives them.
TEST(ThirdsPowers, SpecialArgumentsAsPowGivesThem) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double special[] = {0.0,
                              -0.0,
                              DBL_TRUE_MIN,
                              1e-310,
                              std::nextafter(DBL_MIN, 0.0),
                              DBL_MIN,
                              std::ldexp(1.0, -600),
                              std::nextafter(std::ldexp(1.0, -600), 0.0),
                              std::ldexp(1.0, -700),
                              std::nextafter(std::ldexp(1.0, 603), 0.0),
                              std::ldexp(1.0, 603),
                              std::ldexp(1.0, 700),
                              DBL_MAX,
                              inf,
                              -inf,
                              nan,
                              -1.0,
                              -8.0,
                              -1e-300};
    constexpr std::size_t n = sizeof special / sizeof special[0];
    double a2[n], a5[n], p2[n], p5[n];
    pow_two_thirds_n(special, a2, n);
    pow_five_thirds_n(special, a5, n);
    pow_two_thirds_n_portable(special, p2, n);
    pow_five_thirds_n_portable(special, p5, n);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = special[i], e2 = std::pow(x, two), e5 = std::pow(x, five);
        EXPECT_TRUE(same_bits(pow_two_thirds(x), e2)) << x;
        EXPECT_TRUE(same_bits(pow_five_thirds(x), e5)) << x;
        EXPECT_TRUE(same_bits(pow_two_thirds_portable(x), e2)) << x;
        EXPECT_TRUE(same_bits(pow_five_thirds_portable(x), e5)) << x;
        EXPECT_TRUE(same_bits(a2[i], e2)) << i << " " << x;
        EXPECT_TRUE(same_bits(a5[i], e5)) << i << " " << x;
        EXPECT_TRUE(same_bits(p2[i], e2)) << x;
        EXPECT_TRUE(same_bits(p5[i], e5)) << x;
    }
    EXPECT_EQ(pow_five_thirds(DBL_MAX), inf);
    EXPECT_EQ(pow_five_thirds(1e-310), 0.0);
}

// The vector path (when the processor has it), the scalar path and the single
// forms give the same bits, for every length (the vector tail) and in place.
TEST(ThirdsPowers, VectorAndScalarPathsGiveTheSameBits) {
    std::printf("vector path %s\n", thirds_powers_vector_path() ? "in use" : "not available");
    std::vector<double> x = random_arguments(200003);
    x[17] = 0.0;  // special lanes among ordinary ones
    x[18] = -2.0;
    x[40001] = std::numeric_limits<double>::infinity();
    std::vector<double> v2(x.size()), v5(x.size()), s2(x.size()), s5(x.size());
    pow_two_thirds_n(x.data(), v2.data(), x.size());
    pow_five_thirds_n(x.data(), v5.data(), x.size());
    pow_two_thirds_n_portable(x.data(), s2.data(), x.size());
    pow_five_thirds_n_portable(x.data(), s5.data(), x.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        differ += !same_bits(v2[i], s2[i]) + !same_bits(v5[i], s5[i]);
        if (i % 97 == 0) {
            differ += !same_bits(pow_two_thirds(x[i]), s2[i]) + !same_bits(pow_five_thirds(x[i]), s5[i]);
            differ += !same_bits(pow_two_thirds_portable(x[i]), s2[i]);
        }
    }
    EXPECT_EQ(differ, 0u);
    for (std::size_t len = 0; len <= 9; ++len) {
        std::vector<double> in_place(x.begin() + 100, x.begin() + 100 + static_cast<long>(len));
        pow_two_thirds_n(in_place.data(), in_place.data(), len);
        for (std::size_t i = 0; i < len; ++i) EXPECT_EQ(bits(in_place[i]), bits(s2[100 + i])) << len;
        in_place.assign(x.begin() + 200, x.begin() + 200 + static_cast<long>(len));
        pow_five_thirds_n(in_place.data(), in_place.data(), len);
        for (std::size_t i = 0; i < len; ++i) EXPECT_EQ(bits(in_place[i]), bits(s5[200 + i])) << len;
    }
}

}  // namespace
