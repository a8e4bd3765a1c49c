// Powers x^(2/3) and x^(5/3) of the Manning terms, rounded once from a value
// accurate to about 2^-75, with std::pow's result near a rounding midpoint, so
// that they equal std::pow bit for bit; an AVX2 path for arrays chosen at run time.
#include "model/core/thirds_powers.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define THIRDS_POWERS_X86 1
#endif

// Every product and sum below is rounded on its own: the vector and scalar paths
// give the same bits only if no multiply-add is fused behind our back (the build
// passes -ffp-contract=off as well).
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

// The method, for x = 2^(3j) m with m in [1, 8) (scaling by 2^(2j) or 2^(5j)
// afterwards is exact):
// - r ~ m^(-1/3) from a first guess made on the bits of m (3.4 %) and two
//   steps of fourth order r += r w (1/3 + 2 w/9 + 14 w^2/81), w = 1 - m r^3,
//   which need no division (errors 1.4e-5, then a few 2^-53);
// - y0 = m r ~ m^(2/3) with an error of a few 2^-53, then one Newton step for
//   y^3 = m^2 in double-double: the residual y0^3 - m^2 formed from exact
//   products (fma), divided by 3 y0^2 as a product with r^4 / 3;
// - the exponents are the doubles nearest 2/3 and 5/3, 2/3 - 1/(3 2^53) and
//   5/3 + 1/(3 2^52); x^(e + eta) = x^e (1 + eta ln x) within 2^-90, and
//   eta ln x needs ln x only to about 1e-6: the exponent of x plus a
//   polynomial in the significand (2.6e-7, so 2^-75 in the result);
// - x^(5/3) = m y in double-double with the same corrections;
// - the high part plus the sum of the small terms is rounded once; when what the
//   rounding leaves is within a small margin of half a unit (or the result is a
//   power of two), the argument goes to std::pow, whose own error may round such
//   a value the other way.
// Zero, subnormal, infinite, NaN and negative arguments, and those whose x^(5/3)
// would leave the normal range, go to std::pow.

namespace {

constexpr double two_thirds = 2.0 / 3.0;
constexpr double five_thirds = 5.0 / 3.0;
constexpr double third = 1.0 / 3.0;
// (1 - w)^(-1/3) = 1 + w/3 + 2 w^2/9 + 14 w^3/81 + O(w^4).
constexpr double root_c2 = 2.0 / 9.0;
constexpr double root_c3 = 14.0 / 81.0;
// fl(2/3) - 2/3 and fl(5/3) - 5/3.
constexpr double eta_two = -1.0 / (3.0 * 9007199254740992.0);
constexpr double eta_five = 2.0 / (3.0 * 9007199254740992.0);
constexpr double ln2 = 0.6931471805599453;

constexpr std::uint64_t significand_bits = 0x000FFFFFFFFFFFFFull;
constexpr std::uint64_t exponent_bits = 0x7FF0000000000000ull;
constexpr double ulp_of_one = 2.220446049250313e-16;  // 2^-52
// The library's pow is within 0.5 + about 0.01 + 4e-5 |y ln x| units of the
// exact power (its logarithm good to about 2^-68, its exponential a little over
// half a unit); where the exact value lies closer than twice that to a midpoint,
// its rounding is taken instead of ours (about 4 % of arguments of the kernels).
constexpr double margin_base = 0.02;
constexpr double margin_per_ln = 1.5e-4;
constexpr std::uint64_t one_bits = 0x3FF0000000000000ull;
// High word of the first guess of m^(-1/3): magic - (high word of m) / 3.
constexpr std::uint64_t guess_magic = 0x553EF100ull;
constexpr std::uint64_t divide_by_three = 0xAAAAAAABull;  // (n * this) >> 33 = n / 3
constexpr std::uint64_t third_of_small = 43691;           // (n * this) >> 17 = n / 3, n < 2^17
// 2^52 + 1023 as a double: its low bits hold a biased exponent.
constexpr std::uint64_t magic_exponent_bits = 0x4330000000000000ull;
constexpr double magic_exponent = 4503599627371519.0;

// ln(1.5 + t) for t in [-0.5, 0.5), error below 2.6e-7 (Chebyshev fit, degree 7).
constexpr double ln_poly[8] = {0.405465287205812,    0.6666665600887424,   -0.2222450825499352,
                               0.09877903506571042,  -0.04893241608371006, 0.02606958727599867,
                               -0.01740502340448435, 0.01000928961783366};

// Ranges of the bits of x handled by the fast path (positive and normal; for
// x^(5/3) also 2^-600 <= x < 2^603, so that the result stays normal).
constexpr std::int64_t two_low = 0x0010000000000000ll;
constexpr std::int64_t two_high = 0x7FF0000000000000ll;
constexpr std::int64_t five_low = 423ll << 52;
constexpr std::int64_t five_high = 1626ll << 52;

inline double from_bits(std::uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

inline std::uint64_t bits_of(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

inline bool in_range(double x, std::int64_t low, std::int64_t high) {
    const std::int64_t b = static_cast<std::int64_t>(bits_of(x));
    return b >= low && b < high;
}

// The library's power for the arguments handed to it. `repeat_pow` keeps the
// last argument and its result, so that a run of equal arguments (the depths of a
// plane under uniform rain, whose powers may all lie near a midpoint) makes one
// call: the same function of the same bits, so the same result.
struct plain_pow {
    double e;
    double operator()(double x) const { return std::pow(x, e); }
};

struct repeat_pow {
    double e;
    std::uint64_t last_bits = one_bits;  // 1^e = 1 exactly
    double last = 1.0;
    double operator()(double x) {
        const std::uint64_t b = bits_of(x);
        if (b != last_bits) {
            last = std::pow(x, e);
            last_bits = b;
        }
        return last;
    }
};

// ---- Scalar path: the operations of the vector path one lane at a time ----

struct scalar_parts {
    double hi, lo;          // x^(2/3) or x^(5/3) before scaling = hi + lo
    std::uint64_t scale_q;  // floor((biased exponent + 3) / 3)
    double ln_x;
};

// The common work for one positive normal x; five selects x^(5/3).
[[gnu::always_inline]] inline scalar_parts scalar_core(double x, bool five) {
    const std::uint64_t b = bits_of(x);
    const std::uint64_t e = b >> 52;
    const std::uint64_t q = ((e + 3) * third_of_small) >> 17;
    const std::uint64_t rest = e + 3 - 3 * q;
    const double m = from_bits((b & significand_bits) | ((rest + 1023) << 52));

    const std::uint64_t high = bits_of(m) >> 32;
    double r = from_bits((guess_magic - ((high * divide_by_three) >> 33)) << 32);
    for (int step = 0; step < 2; ++step) {
        double u = r * r;
        u = u * r;
        const double w = std::fma(-u, m, 1.0);
        const double p = std::fma(std::fma(w, root_c3, root_c2), w, third);
        const double rw = r * w;
        r = std::fma(rw, p, r);
    }
    const double y0 = m * r;
    const double p_hi = y0 * y0;
    const double p_lo = std::fma(y0, y0, -p_hi);
    const double t_hi = y0 * p_hi;
    const double t_lo = std::fma(y0, p_hi, -t_hi);
    const double s_hi = m * m;
    const double s_lo = std::fma(m, m, -s_hi);
    const double residual = (t_hi - s_hi) + std::fma(y0, p_lo, t_lo - s_lo);
    const double r2 = r * r;
    const double c = (r2 * r2) * third;
    const double d = residual * c;  // y0 - m^(2/3)

    const double f = from_bits((b & significand_bits) | one_bits);
    const double s = f - 1.5;
    double p = ln_poly[7];
    for (int i = 6; i >= 0; --i) p = std::fma(p, s, ln_poly[i]);
    const double k = from_bits(e | magic_exponent_bits) - magic_exponent;
    const double ln_x = std::fma(k, ln2, p);

    if (!five) {
        const double lo = std::fma(y0, ln_x * eta_two, -d);
        return {y0, lo, q, ln_x};
    }
    const double z_hi = m * y0;
    const double z_lo = std::fma(m, y0, -z_hi);
    const double a = std::fma(-m, d, z_lo);
    const double lo = std::fma(z_hi, ln_x * eta_five, a);
    return {z_hi, lo, q, ln_x};
}

// hi + lo rounded, or 0 when it lies so near the midpoint between two doubles
// that the library's pow may round the other way (or is a power of two, where
// the spacing of the doubles changes).
[[gnu::always_inline]] inline double scalar_rounded(const scalar_parts &v) {
    const double sum = v.hi + v.lo;
    const double left = v.lo - (sum - v.hi);  // exactly hi + lo - sum
    const double ulp = from_bits(bits_of(sum) & exponent_bits) * ulp_of_one;
    const double margin = std::fma(std::fabs(v.ln_x), margin_per_ln, margin_base);
    const double limit = (0.5 - margin) * ulp;
    if (std::fabs(left) > limit || (bits_of(sum) & significand_bits) == 0) return 0.0;
    return sum;
}

template <class Library = plain_pow>
[[gnu::always_inline]] inline double scalar_two_thirds(double x, Library &&library = {two_thirds}) {
    if (!in_range(x, two_low, two_high)) return library(x);
    const scalar_parts v = scalar_core(x, false);
    const double sum = scalar_rounded(v);
    if (sum == 0.0) return library(x);
    return sum * from_bits((2 * v.scale_q + 339) << 52);
}

template <class Library = plain_pow>
[[gnu::always_inline]] inline double scalar_five_thirds(double x, Library &&library = {five_thirds}) {
    if (!in_range(x, five_low, five_high)) return library(x);
    const scalar_parts v = scalar_core(x, true);
    const double sum = scalar_rounded(v);
    if (sum == 0.0) return library(x);
    return sum * from_bits((5 * v.scale_q - 687) << 52);
}

#ifdef THIRDS_POWERS_X86

// The scalar path compiled for processors with fma, where std::fma is one
// instruction rather than a library call.
__attribute__((target("fma"))) double two_thirds_fma(double x) { return scalar_two_thirds(x); }
__attribute__((target("fma"))) double five_thirds_fma(double x) { return scalar_five_thirds(x); }
__attribute__((target("fma"))) double two_thirds_fma(double x, repeat_pow &library) {
    return scalar_two_thirds(x, library);
}
__attribute__((target("fma"))) double five_thirds_fma(double x, repeat_pow &library) {
    return scalar_five_thirds(x, library);
}

// ---- Vector path: four lanes in AVX2 with fma ----

#define THIRDS_AVX2 __attribute__((target("avx2,fma")))

// The bits of four x in, x^(2/3) (five false) or x^(5/3) before scaling out as
// hi + lo, with the scale's exponent quotient q.
THIRDS_AVX2 inline void vector_core(__m256i b, bool five, __m256d &hi, __m256d &lo, __m256i &q,
                                    __m256d &ln_out) {
    const __m256i significand = _mm256_set1_epi64x(static_cast<long long>(significand_bits));
    const __m256d vthird = _mm256_set1_pd(third);
    const __m256i e = _mm256_srli_epi64(b, 52);
    const __m256i e3 = _mm256_add_epi64(e, _mm256_set1_epi64x(3));
    q = _mm256_srli_epi64(_mm256_mul_epu32(e3, _mm256_set1_epi64x(third_of_small)), 17);
    const __m256i q3 = _mm256_add_epi64(q, _mm256_add_epi64(q, q));
    const __m256i rest = _mm256_sub_epi64(e3, q3);
    const __m256i frac = _mm256_and_si256(b, significand);
    const __m256i m_bits =
        _mm256_or_si256(frac, _mm256_slli_epi64(_mm256_add_epi64(rest, _mm256_set1_epi64x(1023)), 52));
    const __m256d m = _mm256_castsi256_pd(m_bits);

    const __m256i high = _mm256_srli_epi64(m_bits, 32);
    const __m256i third_high = _mm256_srli_epi64(_mm256_mul_epu32(high, _mm256_set1_epi64x(divide_by_three)), 33);
    __m256d r = _mm256_castsi256_pd(
        _mm256_slli_epi64(_mm256_sub_epi64(_mm256_set1_epi64x(guess_magic), third_high), 32));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d c3 = _mm256_set1_pd(root_c3), c2 = _mm256_set1_pd(root_c2);
    for (int step = 0; step < 2; ++step) {
        __m256d u = _mm256_mul_pd(r, r);
        u = _mm256_mul_pd(u, r);
        const __m256d w = _mm256_fnmadd_pd(u, m, one);
        const __m256d p = _mm256_fmadd_pd(_mm256_fmadd_pd(w, c3, c2), w, vthird);
        const __m256d rw = _mm256_mul_pd(r, w);
        r = _mm256_fmadd_pd(rw, p, r);
    }
    const __m256d y0 = _mm256_mul_pd(m, r);
    const __m256d p_hi = _mm256_mul_pd(y0, y0);
    const __m256d p_lo = _mm256_fmsub_pd(y0, y0, p_hi);
    const __m256d t_hi = _mm256_mul_pd(y0, p_hi);
    const __m256d t_lo = _mm256_fmsub_pd(y0, p_hi, t_hi);
    const __m256d s_hi = _mm256_mul_pd(m, m);
    const __m256d s_lo = _mm256_fmsub_pd(m, m, s_hi);
    const __m256d residual = _mm256_add_pd(_mm256_sub_pd(t_hi, s_hi),
                                           _mm256_fmadd_pd(y0, p_lo, _mm256_sub_pd(t_lo, s_lo)));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d c = _mm256_mul_pd(_mm256_mul_pd(r2, r2), vthird);
    const __m256d d = _mm256_mul_pd(residual, c);

    const __m256d f = _mm256_castsi256_pd(_mm256_or_si256(frac, _mm256_set1_epi64x(one_bits)));
    const __m256d s = _mm256_sub_pd(f, _mm256_set1_pd(1.5));
    __m256d p = _mm256_set1_pd(ln_poly[7]);
    for (int i = 6; i >= 0; --i) p = _mm256_fmadd_pd(p, s, _mm256_set1_pd(ln_poly[i]));
    const __m256d k = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(e, _mm256_set1_epi64x(magic_exponent_bits))),
        _mm256_set1_pd(magic_exponent));
    const __m256d ln_x = _mm256_fmadd_pd(k, _mm256_set1_pd(ln2), p);
    ln_out = ln_x;

    if (!five) {
        hi = y0;
        lo = _mm256_fmsub_pd(y0, _mm256_mul_pd(ln_x, _mm256_set1_pd(eta_two)), d);
        return;
    }
    const __m256d z_hi = _mm256_mul_pd(m, y0);
    const __m256d z_lo = _mm256_fmsub_pd(m, y0, z_hi);
    const __m256d a = _mm256_fnmadd_pd(m, d, z_lo);
    hi = z_hi;
    lo = _mm256_fmadd_pd(z_hi, _mm256_mul_pd(ln_x, _mm256_set1_pd(eta_five)), a);
}

// hi + lo rounded into sum; result the 4-bit mask of the lanes that
// scalar_rounded would hand to the library.
THIRDS_AVX2 inline int near_midpoint(__m256d hi, __m256d lo, __m256d ln_x, __m256d &sum) {
    sum = _mm256_add_pd(hi, lo);
    const __m256d left = _mm256_sub_pd(lo, _mm256_sub_pd(sum, hi));
    const __m256i sum_bits = _mm256_castpd_si256(sum);
    const __m256d ulp = _mm256_mul_pd(
        _mm256_castsi256_pd(_mm256_and_si256(sum_bits, _mm256_set1_epi64x(static_cast<long long>(exponent_bits)))),
        _mm256_set1_pd(ulp_of_one));
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d margin = _mm256_fmadd_pd(_mm256_andnot_pd(sign, ln_x), _mm256_set1_pd(margin_per_ln),
                                           _mm256_set1_pd(margin_base));
    const __m256d limit = _mm256_mul_pd(_mm256_sub_pd(_mm256_set1_pd(0.5), margin), ulp);
    const __m256d near = _mm256_cmp_pd(_mm256_andnot_pd(sign, left), limit, _CMP_GT_OQ);
    const __m256i power_of_two = _mm256_cmpeq_epi64(
        _mm256_and_si256(sum_bits, _mm256_set1_epi64x(static_cast<long long>(significand_bits))),
        _mm256_setzero_si256());
    return _mm256_movemask_pd(_mm256_or_pd(near, _mm256_castsi256_pd(power_of_two)));
}

// Lanes of b outside [low, high) as signed 64-bit numbers: a 4-bit mask.
THIRDS_AVX2 inline int lanes_outside(__m256i b, std::int64_t low, std::int64_t high) {
    const __m256i above = _mm256_cmpgt_epi64(b, _mm256_set1_epi64x(low - 1));
    const __m256i below = _mm256_cmpgt_epi64(_mm256_set1_epi64x(high), b);
    return 0xF & ~_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_and_si256(above, below)));
}

THIRDS_AVX2 void two_thirds_avx2(const double *x, double *y, std::size_t n) {
    repeat_pow library{two_thirds};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d xv = _mm256_loadu_pd(x + i);
        const __m256i b = _mm256_castpd_si256(xv);
        __m256d hi, lo, ln_x;
        __m256i q;
        vector_core(b, false, hi, lo, q, ln_x);
        const __m256i scale_bits = _mm256_slli_epi64(
            _mm256_add_epi64(_mm256_add_epi64(q, q), _mm256_set1_epi64x(339)), 52);
        __m256d sum;
        const int outside = lanes_outside(b, two_low, two_high) | near_midpoint(hi, lo, ln_x, sum);
        const __m256d result = _mm256_mul_pd(sum, _mm256_castsi256_pd(scale_bits));
        _mm256_storeu_pd(y + i, result);
        if (outside != 0) {
            alignas(32) double lanes[4];
            _mm256_store_pd(lanes, xv);
            for (int l = 0; l < 4; ++l)
                if (outside & (1 << l)) y[i + static_cast<std::size_t>(l)] = library(lanes[l]);
        }
    }
    for (; i < n; ++i) y[i] = two_thirds_fma(x[i], library);
}

THIRDS_AVX2 void five_thirds_avx2(const double *x, double *y, std::size_t n) {
    repeat_pow library{five_thirds};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d xv = _mm256_loadu_pd(x + i);
        const __m256i b = _mm256_castpd_si256(xv);
        __m256d hi, lo, ln_x;
        __m256i q;
        vector_core(b, true, hi, lo, q, ln_x);
        __m256d sum;
        const int outside = lanes_outside(b, five_low, five_high) | near_midpoint(hi, lo, ln_x, sum);
        const __m256i q5 = _mm256_add_epi64(_mm256_slli_epi64(q, 2), q);
        const __m256i scale_bits = _mm256_slli_epi64(_mm256_sub_epi64(q5, _mm256_set1_epi64x(687)), 52);
        const __m256d result = _mm256_mul_pd(sum, _mm256_castsi256_pd(scale_bits));
        _mm256_storeu_pd(y + i, result);
        if (outside != 0) {
            alignas(32) double lanes[4];
            _mm256_store_pd(lanes, xv);
            for (int l = 0; l < 4; ++l)
                if (outside & (1 << l)) y[i + static_cast<std::size_t>(l)] = library(lanes[l]);
        }
    }
    for (; i < n; ++i) y[i] = five_thirds_fma(x[i], library);
}

#undef THIRDS_AVX2

struct processor {
    bool fma, avx2;
};

processor detect() {
    __builtin_cpu_init();
    return {__builtin_cpu_supports("fma") != 0,
            __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0};
}

const processor cpu = detect();

#endif  // THIRDS_POWERS_X86

}  // namespace

double pow_two_thirds_portable(double x) { return scalar_two_thirds(x); }
double pow_five_thirds_portable(double x) { return scalar_five_thirds(x); }

void pow_two_thirds_n_portable(const double *x, double *y, std::size_t n) {
    repeat_pow library{two_thirds};
    for (std::size_t i = 0; i < n; ++i) y[i] = scalar_two_thirds(x[i], library);
}

void pow_five_thirds_n_portable(const double *x, double *y, std::size_t n) {
    repeat_pow library{five_thirds};
    for (std::size_t i = 0; i < n; ++i) y[i] = scalar_five_thirds(x[i], library);
}

#ifdef THIRDS_POWERS_X86

bool thirds_powers_vector_path() { return cpu.avx2; }

double pow_two_thirds(double x) { return cpu.fma ? two_thirds_fma(x) : scalar_two_thirds(x); }
double pow_five_thirds(double x) { return cpu.fma ? five_thirds_fma(x) : scalar_five_thirds(x); }

void pow_two_thirds_n(const double *x, double *y, std::size_t n) {
    if (cpu.avx2) two_thirds_avx2(x, y, n);
    else pow_two_thirds_n_portable(x, y, n);
}

void pow_five_thirds_n(const double *x, double *y, std::size_t n) {
    if (cpu.avx2) five_thirds_avx2(x, y, n);
    else pow_five_thirds_n_portable(x, y, n);
}

#else

bool thirds_powers_vector_path() { return false; }

double pow_two_thirds(double x) { return scalar_two_thirds(x); }
double pow_five_thirds(double x) { return scalar_five_thirds(x); }

void pow_two_thirds_n(const double *x, double *y, std::size_t n) { pow_two_thirds_n_portable(x, y, n); }
void pow_five_thirds_n(const double *x, double *y, std::size_t n) { pow_five_thirds_n_portable(x, y, n); }

#endif
