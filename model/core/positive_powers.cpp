// Powers of positive bases for arrays: ln x by a reduction to [sqrt(1/2),
// sqrt(2)) and an odd series in s = f / (2 + f), exp by a reduction to
// |r| <= ln2 / 2 and a rational form, both branch-free, so that the loop runs
// four lanes wide on processors with AVX2 (chosen at run time).
#include "model/core/positive_powers.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace {

// ln 2 split so that k ln2_hi is exact for |k| < 2^20.
constexpr double ln2_hi = 6.93147180369123816490e-01;
constexpr double ln2_lo = 1.90821492927058770002e-10;
constexpr double inv_ln2 = 1.44269504088896338700e+00;
// Coefficients of ln((1 + s) / (1 - s)) = 2 s + s (lg1 z + lg2 z^2 + ...), z = s^2.
constexpr double lg1 = 6.666666666666735130e-01, lg2 = 3.999999999940941908e-01,
                 lg3 = 2.857142874366239149e-01, lg4 = 2.222219843214978396e-01,
                 lg5 = 1.818357216161805012e-01, lg6 = 1.531383769920937332e-01,
                 lg7 = 1.479819860511658591e-01;
// Coefficients of the rational form of exp on |r| <= ln2 / 2.
constexpr double p1 = 1.66666666666666019037e-01, p2 = -2.77777777770155933842e-03,
                 p3 = 6.61375632143793436117e-05, p4 = -1.65339022054652515390e-06,
                 p5 = 4.13813679705723846039e-08;
// Adding 1.5 2^52 rounds a value below 2^51 to an integer, held in the low bits.
constexpr double round_shift = 6755399441055744.0;
// 2^52 + 1023 as a double: its low bits hold a biased exponent.
constexpr std::uint64_t exponent_magic_bits = 0x4330000000000000ull;
constexpr double exponent_magic = 4503599627371519.0;
constexpr std::uint64_t significand_bits = 0x000FFFFFFFFFFFFFull;
constexpr std::uint64_t one_bits = 0x3FF0000000000000ull;
// Added to the significand, carries into the exponent when m >= sqrt(2).
constexpr std::uint64_t root_two_carry = 0x00095F6400000000ull;
constexpr std::uint64_t carry_bit = 0x0010000000000000ull;
// Exponents that keep the power and the steps inside the normal range.
constexpr double largest_exponent = 700.0;
constexpr double smallest_base = 2.2250738585072014e-308;
constexpr double largest_base = 1.7976931348623157e308;

// x^y, or -1 where the arguments leave the range of the method.
inline double power_or_flag(double x, double y) {
    // ln x: x = 2^k m, m in [sqrt(1/2), sqrt(2)), f = m - 1.
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    const std::uint64_t frac = bits & significand_bits;
    const std::uint64_t carry = (frac + root_two_carry) & carry_bit;
    const double m = std::bit_cast<double>(frac | (carry ^ one_bits));
    const std::uint64_t biased = (bits >> 52) + (carry >> 52);
    const double k = std::bit_cast<double>(exponent_magic_bits | biased) - exponent_magic;
    const double f = m - 1.0;
    const double s = f / (2.0 + f);
    const double z = s * s, w = z * z;
    const double r_even = w * (lg2 + w * (lg4 + w * lg6));
    const double r_odd = z * (lg1 + w * (lg3 + w * (lg5 + w * lg7)));
    const double hfsq = 0.5 * f * f;
    const double ln_x = k * ln2_hi - ((hfsq - (s * (hfsq + r_odd + r_even) + k * ln2_lo)) - f);

    // exp(t): t = n ln2 + r, exp(r) = 1 + r + r c / (2 - c), result 2^n exp(r).
    const double t = y * ln_x;
    const bool inside = (x >= smallest_base) & (x <= largest_base) & (std::fabs(t) <= largest_exponent);
    // Selections by bit masks: the compiler keeps them branch-free.
    const std::uint64_t keep = 0 - static_cast<std::uint64_t>(inside);
    const double tt = std::bit_cast<double>(std::bit_cast<std::uint64_t>(t) & keep);
    const double shifted = tt * inv_ln2 + round_shift;
    const double nd = shifted - round_shift;
    const double hi = tt - nd * ln2_hi, lo = nd * ln2_lo;
    const double r = hi - lo;
    const double rr = r * r;
    const double c = r - rr * (p1 + rr * (p2 + rr * (p3 + rr * (p4 + rr * p5))));
    const double e = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
    const std::uint64_t scale_bits = (std::bit_cast<std::uint64_t>(shifted) + 1023u) << 52;
    const double power = e * std::bit_cast<double>(scale_bits);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(power) & keep) |
                                 (std::bit_cast<std::uint64_t>(-1.0) & ~keep));
}

}  // namespace

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void positive_powers(const double *x, const double *y, double *out, int n) {
    for (int i = 0; i < n; ++i) out[i] = power_or_flag(x[i], y[i]);
    for (int i = 0; i < n; ++i)
        if (out[i] < 0.0) out[i] = std::pow(x[i], y[i]);
}
