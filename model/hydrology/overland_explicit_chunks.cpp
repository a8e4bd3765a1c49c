// The explicit scheme's chunk loops four cells at a time in AVX2, chosen at run
// time: the operations of the two-at-a-time loops of overland_explicit.cpp lane by
// lane (no multiply-add is fused), so the depths and discharges are the same bits.
#include "model/hydrology/overland_explicit_chunks.h"

#include <algorithm>
#include <cstddef>

#include "model/hydrology/overland_boundaries.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#if defined(__x86_64__)

namespace {

#define EXPLICIT_AVX2 __attribute__((target("avx2")))

// a where mask is set, else b.
EXPLICIT_AVX2 inline __m256d choose(__m256d mask, __m256d a, __m256d b) {
    return _mm256_or_pd(_mm256_and_pd(mask, a), _mm256_andnot_pd(mask, b));
}

// True when the four numbers k are k0, k0 + 1, k0 + 2, k0 + 3: the values they
// name are then read by a plain load (gathers are slow on some processors).
EXPLICIT_AVX2 inline bool consecutive(__m128i k) {
    const __m128i run = _mm_add_epi32(_mm_shuffle_epi32(k, 0), _mm_setr_epi32(0, 1, 2, 3));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(k, run)) == 0xffff;
}

EXPLICIT_AVX2 inline __m256d gather(const double *v, __m128i k) {
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), v, k, all, 8);
}

// standing_face (overland_boundaries.h) of four faces from their level gaps and
// ground drops, with the same operations: 1 where the face stands, else 0.
EXPLICIT_AVX2 inline __m256d stands_of(__m256d gap, __m256d drop, __m256d hi, __m256d hk) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d depth = choose(_mm256_cmp_pd(hi, hk, _CMP_LT_OS), hk, hi);  // std::max(hi, hk)
    const __m256d d = _mm256_andnot_pd(sign, drop), zero = _mm256_setzero_pd();
    const __m256d flat = _mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(standing_depth_share), depth), d);
    const __m256d edge = _mm256_add_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.5), d), _mm256_set1_pd(standing_tolerance)),
        choose(_mm256_cmp_pd(flat, zero, _CMP_GT_OS), flat, zero));
    return _mm256_and_pd(_mm256_cmp_pd(_mm256_andnot_pd(sign, gap), edge, _CMP_LE_OS), _mm256_set1_pd(1.0));
}

// Lanes of a 32-bit mask widened to 64 bits.
EXPLICIT_AVX2 inline __m256d wide(__m128i m) { return _mm256_castsi256_pd(_mm256_cvtepi32_epi64(m)); }

}  // namespace

namespace {

bool detect_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

const bool has_avx2 = detect_avx2();
bool use_avx2 = has_avx2;

}  // namespace

bool explicit_chunks_avx2() { return use_avx2; }

bool explicit_chunks_use_avx2(bool on) {
    use_avx2 = on && has_avx2;
    return use_avx2;
}

EXPLICIT_AVX2 int explicit_faces_avx2(const explicit_chunk_inputs &a, const double *rb, int start,
                                      int len, explicit_chunk &k) {
    const double *from = a.from, *z = a.z;
    const __m256d zero = _mm256_setzero_pd(), sign = _mm256_set1_pd(-0.0);
    const __m256d vdx = _mm256_set1_pd(a.dx), vinv = _mm256_set1_pd(a.inv_dx);
    const __m256d tiny = _mm256_set1_pd(1e-30), flat = _mm256_set1_pd(1e-20);
    const __m256d quarter = _mm256_set1_pd(level_gap_share), one = _mm256_set1_pd(1.0);
    const __m128i none = _mm_setzero_si128(), lanes = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i closed_slot = _mm_set1_epi32(static_cast<int>(a.mask + 1));
    const __m128i slot_mask = _mm_set1_epi32(static_cast<int>(a.mask));
    int c = 0;
    for (; c + 4 <= len; c += 4) {
        const int i = start + c;
        const __m128i kx = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a.right + i));
        const __m128i ky = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a.down + i));
        __m128i closed_x = _mm_cmpeq_epi32(kx, none), closed_y = _mm_cmpeq_epi32(ky, none);
        if (a.dike) {
            const __m128i code = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a.dike + i));
            closed_x = _mm_or_si128(closed_x, _mm_cmpgt_epi32(_mm_and_si128(code, _mm_set1_epi32(2)), none));
            closed_y = _mm_or_si128(closed_y, _mm_cmpgt_epi32(_mm_and_si128(code, _mm_set1_epi32(4)), none));
        }
        // An open right face leads to i + 1; a closed face reads the cell's own values.
        const __m256d open_x = _mm256_xor_pd(wide(closed_x), _mm256_castsi256_pd(_mm256_set1_epi64x(-1)));
        const __m256d open_y = _mm256_xor_pd(wide(closed_y), _mm256_castsi256_pd(_mm256_set1_epi64x(-1)));
        const __m256d hi = _mm256_loadu_pd(from + i), zi = _mm256_loadu_pd(z + i);
        const __m256d ri = _mm256_loadu_pd(rb + c);
        const __m256d hx = choose(open_x, _mm256_loadu_pd(from + i + 1), hi);
        const __m256d zx = choose(open_x, _mm256_loadu_pd(z + i + 1), zi);
        const __m128i own_cells = _mm_add_epi32(_mm_set1_epi32(i), lanes);
        const __m128i jy = _mm_or_si128(_mm_and_si128(closed_y, own_cells), _mm_andnot_si128(closed_y, ky));
        __m256d hy, zy;
        if (consecutive(jy)) {
            const int j0 = _mm_cvtsi128_si32(jy);
            hy = _mm256_loadu_pd(from + j0);
            zy = _mm256_loadu_pd(z + j0);
        } else {
            hy = gather(from, jy);
            zy = gather(z, jy);
        }
        const __m128i slots =
            _mm_or_si128(_mm_and_si128(closed_y, closed_slot), _mm_andnot_si128(closed_y, _mm_and_si128(ky, slot_mask)));
        _mm_store_si128(reinterpret_cast<__m128i *>(k.slot + c), slots);
        // The four cells' ring slots are read before their down transfers are
        // written: no open down face may end among them.
        const __m128i beyond = _mm_or_si128(closed_y, _mm_cmpgt_epi32(ky, _mm_set1_epi32(i + 3)));
        k.ring_apart[c / 4] = _mm_movemask_epi8(beyond) == 0xffff;

        _mm256_store_pd(k.own + c, hi);
        _mm256_store_pd(k.fx.hk + c, hx);
        _mm256_store_pd(k.fy.hk + c, hy);
        __m256d sx = _mm256_add_pd(_mm256_sub_pd(_mm256_div_pd(_mm256_sub_pd(zi, zx), vdx),
                                                 _mm256_mul_pd(_mm256_sub_pd(hx, hi), vinv)),
                                   tiny);
        __m256d sy = _mm256_add_pd(_mm256_sub_pd(_mm256_div_pd(_mm256_sub_pd(zi, zy), vdx),
                                                 _mm256_mul_pd(_mm256_sub_pd(hy, hi), vinv)),
                                   tiny);
        sx = choose(_mm256_cmp_pd(_mm256_andnot_pd(sign, sx), flat, _CMP_LT_OS), flat, sx);
        sy = choose(_mm256_cmp_pd(_mm256_andnot_pd(sign, sy), flat, _CMP_LT_OS), flat, sy);
        _mm256_store_pd(k.fx.sf + c, sx);
        _mm256_store_pd(k.fy.sf + c, sy);
        const __m256d level = _mm256_add_pd(zi, hi);
        const __m256d gap_x = _mm256_sub_pd(level, _mm256_add_pd(zx, hx));
        _mm256_store_pd(k.fx.limit + c, _mm256_mul_pd(quarter, _mm256_andnot_pd(sign, gap_x)));
        _mm256_store_pd(k.fx.stands + c, stands_of(gap_x, _mm256_sub_pd(zi, zx), hi, hx));
        const __m256d gap_y = _mm256_sub_pd(level, _mm256_add_pd(zy, hy));
        _mm256_store_pd(k.fy.limit + c, _mm256_mul_pd(quarter, _mm256_andnot_pd(sign, gap_y)));
        _mm256_store_pd(k.fy.stands + c, stands_of(gap_y, _mm256_sub_pd(zi, zy), hi, hy));
        const __m256d wet = _mm256_cmp_pd(hi, ri, _CMP_NLT_US);  // !(hi < ri)
        const __m256d need_x = _mm256_and_pd(open_x, wet), need_y = _mm256_and_pd(open_y, wet);
        _mm256_store_pd(k.fx.need + c, _mm256_and_pd(need_x, one));
        _mm256_store_pd(k.fy.need + c, _mm256_and_pd(need_y, one));
        // A face flowing away from i takes i's depth above retention, one flowing
        // toward i its neighbour's.
        const __m256d d_own = _mm256_sub_pd(hi, ri);
        const __m256d away_x = _mm256_cmp_pd(sx, zero, _CMP_GE_OS);
        const __m256d away_y = _mm256_cmp_pd(sy, zero, _CMP_GE_OS);
        const __m256d dx_face = choose(away_x, d_own, _mm256_sub_pd(hx, ri));
        const __m256d dy_face = choose(away_y, d_own, _mm256_sub_pd(hy, ri));
        const __m256d first = choose(need_x, dx_face, dy_face);
        _mm256_store_pd(k.arg_first + c, _mm256_and_pd(_mm256_cmp_pd(first, zero, _CMP_GT_OS), first));
        _mm256_store_pd(k.arg_y + c, _mm256_and_pd(_mm256_cmp_pd(dy_face, zero, _CMP_GT_OS), dy_face));
        const int two = _mm256_movemask_pd(
            _mm256_andnot_pd(_mm256_and_pd(away_x, away_y), _mm256_and_pd(need_x, need_y)));
        _mm_store_si128(reinterpret_cast<__m128i *>(k.second + c),
                        _mm_and_si128(_mm_srlv_epi32(_mm_set1_epi32(two), lanes), _mm_set1_epi32(1)));
    }
    return c;
}

EXPLICIT_AVX2 void explicit_transfers_avx2(explicit_chunk_direction &d, const double *p,
                                           const double *own, const double *n, int len,
                                           double step_over_dx, double dx_over_step, bool &fail,
                                           bool &nan, long long &held) {
    // The bounds of the two-at-a-time loop (see chunk_transfers).
    constexpr double celerity = 5.0 / 3.0 / explicit_max_face_courant * (1.0 + 1e-9), shortage = -0.0001 + 1e-12;
    const __m256d zero = _mm256_setzero_pd(), sign = _mm256_set1_pd(-0.0);
    const __m256d sod = _mm256_set1_pd(step_over_dx), dos = _mm256_set1_pd(dx_over_step);
    const __m256d cel = _mm256_set1_pd(celerity), sho = _mm256_set1_pd(shortage),
                  hei = _mm256_set1_pd(0.06 * (1.0 - 1e-9)), gap_bound = _mm256_set1_pd(explicit_flowing_share / level_gap_share * (1.0 - 1e-9));
    __m256d failing = zero, not_number = zero;
    for (int c = 0; c + 4 <= len; c += 4) {
        const __m256d sf = _mm256_load_pd(d.sf + c);
        const __m256d root = _mm256_sqrt_pd(_mm256_andnot_pd(sign, sf));
        const __m256d pc = _mm256_loadu_pd(p + c);
        const __m256d m = _mm256_mul_pd(_mm256_div_pd(root, _mm256_loadu_pd(n + c)), pc);
        const __m256d signed_m = choose(_mm256_cmp_pd(sf, zero, _CMP_GE_OS), m, _mm256_xor_pd(m, sign));
        const __m256d flows = _mm256_and_pd(_mm256_cmp_pd(pc, zero, _CMP_GT_OS),
                                            _mm256_cmp_pd(_mm256_load_pd(d.need + c), zero, _CMP_NEQ_UQ));
        __m256d q = _mm256_and_pd(flows, signed_m);
        __m256d t = _mm256_mul_pd(q, sod);
        const __m256d limit = _mm256_load_pd(d.limit + c);
        const __m256d stands = _mm256_cmp_pd(_mm256_load_pd(d.stands + c), zero, _CMP_NEQ_UQ);
        const __m256d beyond = _mm256_cmp_pd(_mm256_andnot_pd(sign, t), limit, _CMP_GT_OS);
        const __m256d clip = _mm256_and_pd(stands, beyond);
        // A flowing face beyond the limit fails the check.
        failing = _mm256_or_pd(failing, _mm256_andnot_pd(stands, _mm256_cmp_pd(_mm256_andnot_pd(sign, t),
                                                                             _mm256_mul_pd(limit, gap_bound), _CMP_GT_OS)));
        const __m256d clipped = choose(_mm256_cmp_pd(t, zero, _CMP_GE_OS), limit, _mm256_xor_pd(limit, sign));
        q = choose(clip, _mm256_mul_pd(clipped, dos), q);
        t = choose(clip, clipped, t);
        held += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(clip)));
        const __m256d rest = choose(_mm256_cmp_pd(t, zero, _CMP_GT_OS), _mm256_sub_pd(_mm256_loadu_pd(own + c), t),
                                    _mm256_add_pd(_mm256_load_pd(d.hk + c), t));
        const __m256d donor = choose(_mm256_cmp_pd(t, zero, _CMP_GT_OS), _mm256_loadu_pd(own + c),
                                     _mm256_load_pd(d.hk + c));
        failing = _mm256_or_pd(failing, _mm256_and_pd(_mm256_cmp_pd(t, zero, _CMP_NEQ_UQ),
                                                      _mm256_cmp_pd(_mm256_mul_pd(_mm256_andnot_pd(sign, t), cel),
                                                                    donor, _CMP_GE_OS)));
        failing = _mm256_or_pd(failing, _mm256_cmp_pd(_mm256_andnot_pd(sign, t), hei, _CMP_GE_OS));
        failing = _mm256_or_pd(failing, _mm256_and_pd(_mm256_cmp_pd(t, zero, _CMP_NEQ_UQ),
                                                      _mm256_cmp_pd(rest, sho, _CMP_LT_OS)));
        not_number = _mm256_or_pd(not_number, _mm256_cmp_pd(t, t, _CMP_UNORD_Q));
        _mm256_store_pd(d.t + c, t);
        _mm256_store_pd(d.q + c, q);
    }
    fail |= _mm256_movemask_pd(failing) != 0;
    nan |= _mm256_movemask_pd(not_number) != 0;
}

EXPLICIT_AVX2 void explicit_apply_avx2(const explicit_chunk &k, int start, int len, int vector_len,
                                       double *ring, std::size_t mask, double *to, double *save,
                                       double *qx, double *qy, double q_scale, bool x_first,
                                       double &from_left) {
    const __m256d zero = _mm256_setzero_pd(), scale = _mm256_set1_pd(q_scale);
    int c = 0;
    while (c < len) {
        const int i = start + c;
        const std::size_t self = static_cast<std::size_t>(i) & mask;
        if (c + 4 <= vector_len && k.ring_apart[c / 4] && self + 3 <= mask) {
            const __m256d from_up = _mm256_loadu_pd(ring + self);  // the down sweep's transfers in
            _mm256_storeu_pd(ring + self, zero);
            const __m256d tx = _mm256_load_pd(k.fx.t + c), ty = _mm256_load_pd(k.fy.t + c);
            // The transfer of each cell's left face: the previous lane's.
            const __m256d left = _mm256_blend_pd(_mm256_permute4x64_pd(tx, _MM_SHUFFLE(2, 1, 0, 3)),
                                                 _mm256_set1_pd(from_left), 1);
            const __m256d change =
                x_first ? _mm256_sub_pd(_mm256_add_pd(_mm256_sub_pd(_mm256_add_pd(zero, left), tx), from_up), ty)
                        : _mm256_sub_pd(_mm256_add_pd(_mm256_sub_pd(_mm256_add_pd(zero, from_up), ty), left), tx);
            const __m256d own = _mm256_load_pd(k.own + c);
            if (save) _mm256_storeu_pd(save + i, own);
            _mm256_storeu_pd(to + i, _mm256_add_pd(own, change));
            const __m128i slots = _mm_load_si128(reinterpret_cast<const __m128i *>(k.slot + c));
            if (consecutive(slots)) {
                _mm256_storeu_pd(ring + _mm_cvtsi128_si32(slots), ty);
            } else {
                for (int l = 0; l < 4; ++l) ring[k.slot[c + l]] = k.fy.t[c + l];
            }
            _mm256_storeu_pd(qx + i, _mm256_mul_pd(_mm256_load_pd(k.fx.q + c), scale));
            _mm256_storeu_pd(qy + i, _mm256_mul_pd(_mm256_load_pd(k.fy.q + c), scale));
            from_left = k.fx.t[c + 3];
            c += 4;
            continue;
        }
        // Four cells (or the last few) one at a time, as the scalar loop takes them.
        for (const int end = std::min(c + 4, len); c < end; ++c) {
            const std::size_t cell = static_cast<std::size_t>(start + c);
            const double up = ring[cell & mask];
            ring[cell & mask] = 0.0;
            const double tx = k.fx.t[c], ty = k.fy.t[c];
            const double change = x_first ? (((0.0 + from_left) - tx) + up) - ty
                                          : (((0.0 + up) - ty) + from_left) - tx;
            if (save) save[cell] = k.own[c];
            to[cell] = k.own[c] + change;
            ring[k.slot[c]] = ty;
            qx[cell] = k.fx.q[c] * q_scale;
            qy[cell] = k.fy.q[c] * q_scale;
            from_left = tx;
        }
    }
}

#undef EXPLICIT_AVX2

#else

bool explicit_chunks_avx2() { return false; }
bool explicit_chunks_use_avx2(bool) { return false; }
int explicit_faces_avx2(const explicit_chunk_inputs &, const double *, int, int, explicit_chunk &) { return 0; }
void explicit_transfers_avx2(explicit_chunk_direction &, const double *, const double *, const double *, int,
                             double, double, bool &, bool &, long long &) {}
void explicit_apply_avx2(const explicit_chunk &, int, int, int, double *, std::size_t, double *, double *,
                         double *, double *, double, bool, double &) {}

#endif
