// Alternating-direction explicit overland schemes: scheme 2 sweeps one direction
// at a time with sub-steps halved until every cell passes its check; scheme 3
// (predictor-corrector) averages the face discharges of the current and the
// predicted depths in one pass. Called by step_overland_flow for schemes 2 and 3.
#include "model/hydrology/overland_ade.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/overland_boundaries.h"
#include "model/core/cell_arrays.h"
#include "model/core/model_state.h"
#include "model/core/thirds_powers.h"

namespace {

constexpr double two_thirds = 2.0 / 3.0;
constexpr double five_thirds = 5.0 / 3.0;
constexpr double smallest_substep = 0.001;  // s
constexpr double ade_max_courant = 0.5;

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

struct ade_direction {
    row_ref<const int> neighbour;  // down or right
    row_ref<const int> upstream;   // up or left
    int dike_bit;
    row_ref<double> q;
};

ade_direction down_direction(overland_grid &g) { return {g.down, g.up, 4, g.qy}; }
ade_direction right_direction(overland_grid &g) { return {g.right, g.left, 2, g.qx}; }

// Level of a cell in the sweeps: the lake's or the stream's water surface, else
// the ground plus the depth.
inline double cell_level(const overland_grid &g, row_ref<const double> depth, int c) {
    if (is_lake_cell(g, c)) return lake_level(g, c);
    if (is_stream_cell(g, c)) return g.stream_level[at(g.stream_id[at(c)])];
    return g.z[at(c)] + depth[at(c)];
}

// Wetland face (either cell in a wetland; the record of i when i is a wetland
// cell, else that of k): seepage within the wetland layer, layer seepage plus
// Manning flow above it, blended with the linear vegetation flow below the
// transition depth. Face discharge in m3/s, positive from i toward k.
double ade_wetland_face(const overland_grid &g, row_ref<const double> depth, int i, int k,
                        double sf) {
    const int id = g.wetland_id[at(i)] > 0 ? g.wetland_id[at(i)] : g.wetland_id[at(k)];
    const wetland_face_values w = wetland_values(g, id);
    const double water = sf > 0.0 ? depth[at(i)] : depth[at(k)];
    if (!(water > 0.0)) return 0.0;
    if (water <= w.layer_depth) return sf * water * w.seepage * g.dx;
    const double above = water - w.layer_depth;
    const double seep = w.layer_depth * sf * w.seepage * g.dx;
    const double manning = (sf > 0.0 ? 1.0 : -1.0) * std::sqrt(std::fabs(sf)) / w.roughness *
                           std::pow(above, five_thirds) * g.dx;
    if (!(w.transition_depth > 0.0) || above > w.transition_depth) return manning + seep;
    const double linear = above * sf * w.vegetation * g.dx;
    const double share = above / w.transition_depth;
    return manning * share + (1.0 - share) * linear + seep;
}

// Face between a land cell and a lake or stream cell (levels of cell_level).
// Land water above retention flows into a lower lake or stream; a stream above
// the land's ground spills onto it by the depth above that ground; a higher lake
// moves nothing here (the lake-extent update takes in the cells it reaches).
// Flow into a lake is limited to the land's water above retention over dt and,
// where the lake stands above the land's ground, to the face law integrated over
// dt down to the lake's level (depth_to_lake_level).
double ade_water_body_face(const overland_grid &g, row_ref<const double> depth, int i, int k,
                           double sf, double dt) {
    const bool i_body = is_lake_cell(g, i) || is_stream_cell(g, i);
    const int land = i_body ? k : i;
    const int body = i_body ? i : k;
    const double toward_body = i_body ? -sf : sf;  // slope from land to the water body
    const double dx = g.dx;
    double q;
    if (toward_body > 0.0) {
        const double d = depth[at(land)] - retention_at(g, land);
        if (!(d > 0.0)) return 0.0;
        q = std::sqrt(toward_body) / roughness_at(g, land) * std::pow(d, five_thirds) * dx;
        if (is_lake_cell(g, body) && dt > 0.0) {
            const double area = dx * dx, level = lake_level(g, body);
            if (g.z[at(land)] < level)
                q = depth_to_lake_level(toward_body * dx, q * dt / area) * area / dt;
            q = std::min(q, d * area / dt);
        }
    } else {
        if (is_lake_cell(g, body)) return 0.0;
        const double d = cell_level(g, depth, body) - g.z[at(land)];
        if (!(d > 0.0)) return 0.0;
        q = -std::sqrt(-toward_body) / roughness_at(g, land) * std::pow(d, five_thirds) * dx;
    }
    return i_body ? -q : q;
}

void ade_sweep(overland_grid &g, row_ref<const double> depth, const ade_direction &dir, double dt) {
    for (int i = 1; i <= g.cells; ++i) {
        const int k = dir.neighbour[at(i)];
        double q = 0.0;
        if (k != 0 && !(g.dikes_on && (g.dike[at(i)] & dir.dike_bit))) {
            const bool i_body = is_lake_cell(g, i) || is_stream_cell(g, i);
            const bool k_body = is_lake_cell(g, k) || is_stream_cell(g, k);
            const double sf = (cell_level(g, depth, i) - cell_level(g, depth, k)) / g.dx;
            if (sf == 0.0 || (i_body && k_body)) {
                q = 0.0;
            } else if (i_body || k_body) {
                q = ade_water_body_face(g, depth, i, k, sf, dt);
            } else if (g.wetlands_on && (g.wetland_id[at(i)] > 0 || g.wetland_id[at(k)] > 0)) {
                q = ade_wetland_face(g, depth, i, k, sf);
            } else if (sf > 0.0) {
                const double d = depth[at(i)] - retention_at(g, i);
                if (depth[at(i)] > retention_at(g, i))
                    q = (1.0 / roughness_at(g, i)) * std::pow(d, two_thirds) * std::sqrt(sf) * depth[at(i)] *
                        g.dx;
            } else {
                const double d = depth[at(k)] - retention_at(g, k);
                if (depth[at(k)] > retention_at(g, k))
                    q = -(1.0 / roughness_at(g, i)) * std::pow(d, two_thirds) * std::sqrt(-sf) * d * g.dx;
            }
        }
        dir.q[at(i)] = q;
    }
}

// The level-gap limit of a face (overland_boundaries.h) as a discharge: a
// standing-water face (standing_face of its level gap `gap` and ground drop
// `drop`) is held to a quarter of its level gap, |gap| times gap_factor of the
// cell area and (sub-)step (`depth`: the deeper cell's); a face of flowing water is beyond the limit (the
// sub-step is halved) when it moves more than half its level gap: a sweep moves
// one direction only, so the limit of its diffusion number is twice the explicit
// scheme's.
constexpr double ade_flowing_share = 1.0 / 3.0;
inline double gap_factor(double area, double step) { return level_gap_share * area / step; }
inline double gap_limited(double q, double gap, double drop, double depth, double factor, bool &beyond) {
    const double limit = std::fabs(gap) * factor;
    if (!standing_face(gap, drop, depth)) {
        beyond |= std::fabs(q) > limit * (ade_flowing_share / level_gap_share);
        return q;
    }
    return q > limit ? limit : (q < -limit ? -limit : q);
}

// gap_limited over the faces of one direction formed from `depth` by ade_sweep;
// faces of lakes and streams keep their own rules. Result: the faces held;
// `beyond` is set when a face of flowing water is beyond its limit.
long long limit_faces_to_level_gaps(overland_grid &g, row_ref<const double> depth, const ade_direction &dir,
                                    double step, bool &beyond) {
    const double factor = gap_factor(g.dx * g.dx, step);
    long long held = 0;
    for (int i = 1; i <= g.cells; ++i) {
        const int k = dir.neighbour[at(i)];
        if (k == 0 || dir.q[at(i)] == 0.0) continue;
        if (is_lake_cell(g, i) || is_stream_cell(g, i) || is_lake_cell(g, k) || is_stream_cell(g, k)) continue;
        const double q = dir.q[at(i)];
        dir.q[at(i)] = gap_limited(q, (g.z[at(i)] + depth[at(i)]) - (g.z[at(k)] + depth[at(k)]),
                                   g.z[at(i)] - g.z[at(k)], std::max(depth[at(i)], depth[at(k)]), factor, beyond);
        held += dir.q[at(i)] != q && q == q;
    }
    return held;
}

// Net inflow (m3/s) of cell i through its upstream face and its own face.
inline double net_inflow(row_ref<const double> q, row_ref<const int> upstream, int i) {
    return q[at(upstream[at(i)])] - q[at(i)];
}

// A lake or stream cell keeps its depth: its net inflow goes to the lake's
// accumulated inflow or to the stream cell's exchange sums. True when the cell
// was such a cell.
bool book_water_body(overland_grid &g, row_ref<const double> q, row_ref<const int> upstream, int i,
                     double step) {
    if (is_lake_cell(g, i)) {
        add_lake_inflow(g, i, net_inflow(q, upstream, i) * step);
        return true;
    }
    if (!is_stream_cell(g, i)) return false;
    const std::size_t sc = at(g.stream_id[at(i)]);
    const double faces[2] = {q[at(upstream[at(i)])] * step, -q[at(i)] * step};  // into the stream
    for (double v : faces) {
        g.stream_net[sc] += v;
        if (v > 0.0) g.stream_in[sc] += v;
        else g.stream_out[sc] -= v;
    }
    return true;
}

// Applies a sweep without checks (lake variants and scheme 3).
void apply_unchecked(overland_grid &g, row_ref<const double> q, row_ref<const int> upstream,
                     double step) {
    const double area = g.dx * g.dx;
    for (int i = 1; i <= g.cells; ++i) {
        if (book_water_body(g, q, upstream, i, step)) continue;
        g.h[at(i)] += net_inflow(q, upstream, i) * step / area;
    }
}

// The outlet drain for `step` seconds from `depth`, the outlet cell's depth,
// never more than the water present; result the discharge (m3/s).
double drain_outlet_depth(overland_grid &g, double &depth, double step) {
    const std::size_t o = at(g.outlet);
    const double d = depth;
    if (!(d > 0.0) || !(g.outlet_slope > 0.0)) return 0.0;
    const double area = g.dx * g.dx;
    const double q = std::pow(d, five_thirds) * (1.0 / roughness_at(g, o)) * std::sqrt(g.outlet_slope) * g.dx;
    const double loss = q * step / area;
    if (loss <= d) {
        depth -= loss;
        return q;
    }
    depth = 0.0;
    return d * area / step;
}

// The outlet drain of the depths `depth` (see drain_outlet_depth).
double drain_outlet(overland_grid &g, row_ref<double> depth, double step) {
    if (g.channel_explicit || g.outlet <= 0) return 0.0;
    return drain_outlet_depth(g, depth[at(g.outlet)], step);
}

// After a pass without checks: a depth a little below zero is lifted to zero
// (booked); one clearly below zero means the step is too long for the grid.
bool depths_sound(overland_grid &g) {
    for (int i = 1; i <= g.cells; ++i) {
        const double d = g.h[at(i)];
        if (d >= 0.0) continue;
        if (d > -1e-6) {
            if (g.negative_depth_volume) *g.negative_depth_volume += -d * g.dx * g.dx;
            g.h[at(i)] = 0.0;
            continue;
        }
        std::printf("Overland depth %lf m below zero in grid cell %d after the overland step.\n"
                    "Reduce the model time step and try again.\n",
                    d, i);
        raise_printed_error();
        return false;
    }
    return true;
}

// As depths_sound, without the message: false when a depth is clearly below zero.
bool depths_lifted(overland_grid &g) {
    for (int i = 1; i <= g.cells; ++i) {
        const double d = g.h[at(i)];
        if (d >= 0.0) continue;
        if (!(d > -1e-6)) return false;
        if (g.negative_depth_volume) *g.negative_depth_volume += -d * g.dx * g.dx;
        g.h[at(i)] = 0.0;
    }
    return true;
}

void save_stream_sums(overland_grid &g, ade_scheme_state &st) {
    for (int s = 1; s <= g.stream_count; ++s) {
        st.saved_stream[0][at(s)] = g.stream_net[at(s)];
        st.saved_stream[1][at(s)] = g.stream_in[at(s)];
        st.saved_stream[2][at(s)] = g.stream_out[at(s)];
    }
}

void restore_stream_sums(overland_grid &g, ade_scheme_state &st) {
    for (int s = 1; s <= g.stream_count; ++s) {
        g.stream_net[at(s)] = st.saved_stream[0][at(s)];
        g.stream_in[at(s)] = st.saved_stream[1][at(s)];
        g.stream_out[at(s)] = st.saved_stream[2][at(s)];
    }
}

row_ref<const double> view(row_ref<double> a) { return {a.data(), a.last()}; }
row_ref<double> view(array_1d<double> &a) { return {a.data(), a.last()}; }

// Half the sub-step `sub` after a failed attempt, said on the console as the
// explicit scheme says its cuts (unless QUIET).
double cut_substep(const overland_grid &g, double sub) {
    if (!g.quiet) std::printf(" *Changing overland time step to %4.2lf seconds...\n", 0.5 * sub);
    return 0.5 * sub;
}

// Books an accepted call of dt seconds in sub-steps of `sub` that held `held` faces.
void record_ade_call(overland_grid &g, double dt, double sub, long long held) {
    record_overland_call(g, dt, sub);
    if (g.steps) g.steps->held_faces += held;
}

// ---- The base case in one pass per sweep ----
// Without lakes, stream cells and wetlands every face is the Manning face below,
// and over tables numbered row by row (each cell's neighbour in a direction comes
// after it, its upstream neighbour before it) a sweep and the application of its
// discharges can share one pass in cell order: when cell i is updated, the face
// of its upstream neighbour is already known and no face still to come reads the
// depth of i. The values and their order of evaluation are those of the general
// sweep and check, with the powers d^(2/3) of thirds_powers.h (the library's pow
// but where that is one unit off), so the results are the same but for such
// last-bit differences.

bool base_case(const overland_grid &g) { return !g.lakes_on && !g.stream_on && !g.wetlands_on; }

// -1 unless the tables are ordered (each cell's neighbour in a direction comes
// after it, its upstream neighbour before it); else the largest distance in cell
// numbers between a cell and a neighbour (about a row over tables numbered row by
// row).
int ordered_tables_gap(const overland_grid &g) {
    const int *right = g.right.data(), *down = g.down.data();
    const int *left = g.left.data(), *up = g.up.data();
    bool ordered = true;
    int gap = 0;
    for (int i = 1; i <= g.cells; ++i) {
        ordered &= (right[i] == 0 || right[i] > i) & (down[i] == 0 || down[i] > i) & (left[i] < i) &
                   (up[i] < i);
        gap = std::max({gap, right[i] - i, down[i] - i, up[i] == 0 ? 0 : i - up[i],
                        left[i] == 0 ? 0 : i - left[i]});
    }
    return ordered ? gap : -1;
}

// ordered_tables_gap, checked again only for other tables.
int checked_tables_gap(const overland_grid &g, ade_scheme_state &st) {
    const int *tables[4] = {g.right.data(), g.down.data(), g.left.data(), g.up.data()};
    if (!std::equal(tables, tables + 4, st.tables) || st.tables_cells != g.cells) {
        st.tables_gap = ordered_tables_gap(g);
        std::copy(tables, tables + 4, st.tables);
        st.tables_cells = g.cells;
    }
    return st.tables_gap;
}

// Arrays of the base face, as raw pointers for the hot loops.
struct base_arrays {
    const double *z, *r, *n;  // r, n: null when every cell has retention r_uniform, roughness n_uniform
    const int *dike;
    double dx;
    double r_uniform, n_uniform;
};

base_arrays base_arrays_of(const overland_grid &g) {
    return {g.z.data(), g.r.data(), g.n.data(), g.dikes_on ? g.dike.data() : nullptr, g.dx,
            g.r_uniform, g.n_uniform};
}

// Faces are computed a chunk at a time: the depths above retention of the chunk's
// wet faces are gathered first (a closed or dry face takes dry_filler, whose
// power is not used), their powers taken in one array call, then the discharges
// formed.
constexpr int face_chunk = 256;
// Not 1: a power of two is handed to the library's pow, which is slower.
constexpr double dry_filler = 0.5;

// What the gathering pass leaves per face of a chunk.
struct face_terms {
    double above[face_chunk];         // upwind depth above retention (dry_filler if dry)
    double slope[face_chunk];         // |sf|
    double depth_factor[face_chunk];  // whole depth of i downhill, depth above retention uphill
    double sign[face_chunk];          // 1 from i to k, -1 from k to i, 0 no flow
    double gap[face_chunk];           // water surface of i less that of k
    double drop[face_chunk];          // ground of i less that of k
    double deeper[face_chunk];        // the larger depth of i and k
};

// Where the depth of cell i lies in the depths a face pass reads: element i of an
// array of every cell, or slot (i - 1) & mask of a ring of mask + 1 slots (a power
// of two, a multiple of face_chunk) that holds a window of cells. A chunk of faces
// starts at a cell 1 + m face_chunk, so its cells lie in consecutive slots.
template <bool ring> inline int depth_slot(int i, int mask) { return ring ? (i - 1) & mask : i; }

// Gathering of faces j0 .. len - 1 of a chunk that starts at cell `first`, one
// face at a time, with the depths d (see depth_slot). Cell element 0 of every
// array is present, so a missing neighbour (0) is read like any other before its
// face is set to 0 (its values are not used).
template <bool ring>
void gather_faces(const base_arrays &a, const double *d, int mask, const int *next, int dike_bit,
                  int first, int j0, int len, face_terms &t) {
    const double *z = a.z, *r = a.r;
    for (int j = j0; j < len; ++j) {
        const int i = first + j, k = next[i];
        const bool open = k != 0 && !(a.dike && (a.dike[i] & dike_bit));
        const double di = d[depth_slot<ring>(i, mask)], dk = d[depth_slot<ring>(k, mask)];
        const double gap = (z[i] + di) - (z[k] + dk);
        const double sf = gap / a.dx;
        t.gap[j] = gap;
        t.drop[j] = z[i] - z[k];
        t.deeper[j] = std::max(di, dk);
        const bool downhill = sf > 0.0;
        const double water = downhill ? di : dk;
        const double retention = r ? (downhill ? r[i] : r[k]) : a.r_uniform;
        const double above_retention = water - retention;
        const bool wet = open && sf != 0.0 && water > retention;
        t.above[j] = wet ? above_retention : dry_filler;
        t.slope[j] = downhill ? sf : -sf;
        t.depth_factor[j] = downhill ? di : above_retention;
        t.sign[j] = wet ? (downhill ? 1.0 : -1.0) : 0.0;
    }
}

// Discharges of faces j0 .. len - 1 from the gathered terms and their powers,
// each held to its level gap by `factor` where it stands (see gap_limited).
// Result: the faces held; `beyond` as gap_limited sets it.
long long finish_faces(const double *n, double dx, int j0, int len, const face_terms &t, double factor,
                       double *out, bool &beyond) {
    long long held = 0;
    for (int j = j0; j < len; ++j) {
        const double q = ((((1.0 / n[j]) * t.above[j]) * std::sqrt(t.slope[j])) * t.depth_factor[j]) * dx;
        const double flow = t.sign[j] != 0.0 ? t.sign[j] * q : 0.0;
        out[j] = gap_limited(flow, t.gap[j], t.drop[j], t.deeper[j], factor, beyond);
        held += out[j] != flow && flow == flow;
    }
    return held;
}

#if defined(__x86_64__)
// The same two passes four faces at a time in AVX2, chosen at run time. The
// operations are those of the scalar passes lane by lane (sums, products,
// divisions and square roots round alike in both forms; no multiply-add is
// fused), so the discharges are the same to the last bit. Results: the number of
// faces done, a multiple of four; the scalar passes do the rest.
#define OVERLAND_AVX2 __attribute__((target("avx2")))

// v[k] of four cell numbers (the masked form, with every lane on, starts from
// defined zeros).
OVERLAND_AVX2 inline __m256d gather(const double *v, __m128i k) {
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), v, k, all, 8);
}

// True when the four numbers k are k0, k0 + 1, k0 + 2, k0 + 3 (neighbours along
// a row of the grid): their values are then read by a plain load, the same values
// as a gather's, which is slow on some processors.
OVERLAND_AVX2 inline bool consecutive(__m128i k) {
    const __m128i run = _mm_add_epi32(_mm_shuffle_epi32(k, 0), _mm_setr_epi32(0, 1, 2, 3));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(k, run)) == 0xffff;
}

template <bool ring>
OVERLAND_AVX2 int gather_faces_avx2(const base_arrays &a, const double *d, int mask, const int *next,
                                     int dike_bit, int first, int len, face_terms &t) {
    const __m128i first_slot = _mm_set1_epi32(1), slot_mask = _mm_set1_epi32(mask);
    const __m256d dx = _mm256_set1_pd(a.dx), zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    const __m256d minus_one = _mm256_set1_pd(-1.0), sign_bit = _mm256_set1_pd(-0.0);
    const __m128i no_cell = _mm_setzero_si128(), bit = _mm_set1_epi32(dike_bit);
    const __m256d r_uniform = _mm256_set1_pd(a.r_uniform);
    int j = 0;
    for (; j + 4 <= len; j += 4) {
        const int i = first + j;
        const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i *>(next + i));
        __m128i closed = _mm_cmpeq_epi32(k, no_cell);
        if (a.dike) {
            const __m128i dikes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a.dike + i));
            closed = _mm_or_si128(closed, _mm_xor_si128(_mm_cmpeq_epi32(_mm_and_si128(dikes, bit), no_cell),
                                                        _mm_set1_epi32(-1)));
        }
        const __m256d open = _mm256_castsi256_pd(_mm256_xor_si256(_mm256_cvtepi32_epi64(closed),
                                                                  _mm256_set1_epi64x(-1)));
        const __m256d di = _mm256_loadu_pd(d + depth_slot<ring>(i, mask));
        const __m256d zi = _mm256_loadu_pd(a.z + i);
        const __m256d ri = a.r ? _mm256_loadu_pd(a.r + i) : r_uniform;
        const __m128i slots = ring ? _mm_and_si128(_mm_sub_epi32(k, first_slot), slot_mask) : k;
        __m256d dk, zk, rk;
        if (consecutive(k)) {
            const int k0 = _mm_cvtsi128_si32(k);
            dk = ring && !consecutive(slots) ? gather(d, slots) : _mm256_loadu_pd(d + depth_slot<ring>(k0, mask));
            zk = _mm256_loadu_pd(a.z + k0);
            rk = a.r ? _mm256_loadu_pd(a.r + k0) : r_uniform;
        } else {
            dk = gather(d, slots);
            zk = gather(a.z, k);
            rk = a.r ? gather(a.r, k) : r_uniform;
        }
        const __m256d gap = _mm256_sub_pd(_mm256_add_pd(zi, di), _mm256_add_pd(zk, dk));
        _mm256_storeu_pd(t.gap + j, gap);
        _mm256_storeu_pd(t.drop + j, _mm256_sub_pd(zi, zk));
        _mm256_storeu_pd(t.deeper + j, _mm256_blendv_pd(di, dk, _mm256_cmp_pd(di, dk, _CMP_LT_OQ)));
        const __m256d sf = _mm256_div_pd(gap, dx);
        const __m256d downhill = _mm256_cmp_pd(sf, zero, _CMP_GT_OQ);
        const __m256d water = _mm256_blendv_pd(dk, di, downhill);
        const __m256d retention = _mm256_blendv_pd(rk, ri, downhill);
        const __m256d above_retention = _mm256_sub_pd(water, retention);
        const __m256d wet = _mm256_and_pd(_mm256_and_pd(open, _mm256_cmp_pd(sf, zero, _CMP_NEQ_UQ)),
                                          _mm256_cmp_pd(water, retention, _CMP_GT_OQ));
        _mm256_storeu_pd(t.above + j, _mm256_blendv_pd(_mm256_set1_pd(dry_filler), above_retention, wet));
        _mm256_storeu_pd(t.slope + j, _mm256_blendv_pd(_mm256_xor_pd(sf, sign_bit), sf, downhill));
        _mm256_storeu_pd(t.depth_factor + j, _mm256_blendv_pd(above_retention, di, downhill));
        _mm256_storeu_pd(t.sign + j, _mm256_and_pd(wet, _mm256_blendv_pd(minus_one, one, downhill)));
    }
    return j;
}

OVERLAND_AVX2 int finish_faces_avx2(const double *n, double dx, int len, const face_terms &t,
                                     double factor, double *out, long long &held, bool &beyond) {
    const __m256d one = _mm256_set1_pd(1.0), vdx = _mm256_set1_pd(dx), zero = _mm256_setzero_pd();
    const __m256d vfactor = _mm256_set1_pd(factor), sign_bit = _mm256_set1_pd(-0.0);
    const __m256d half = _mm256_set1_pd(0.5), tolerance = _mm256_set1_pd(standing_tolerance);
    const __m256d depth_share = _mm256_set1_pd(standing_depth_share);
    const __m256d vflowing = _mm256_set1_pd(ade_flowing_share / level_gap_share);
    // 1 / n of the last four roughnesses, taken again while the same four bit
    // patterns repeat (the same quotients; a roughness map is mostly runs of equal
    // values).
    __m256i last_n = _mm256_set1_epi64x(-1);
    __m256d inverse_n = _mm256_div_pd(one, _mm256_castsi256_pd(last_n));
    int j = 0;
    for (; j + 4 <= len; j += 4) {
        const __m256i roughness = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(n + j));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi64(roughness, last_n)) != -1) {
            inverse_n = _mm256_div_pd(one, _mm256_castsi256_pd(roughness));
            last_n = roughness;
        }
        __m256d q = _mm256_mul_pd(inverse_n, _mm256_loadu_pd(t.above + j));
        q = _mm256_mul_pd(q, _mm256_sqrt_pd(_mm256_loadu_pd(t.slope + j)));
        q = _mm256_mul_pd(q, _mm256_loadu_pd(t.depth_factor + j));
        q = _mm256_mul_pd(q, vdx);
        const __m256d sign = _mm256_loadu_pd(t.sign + j);
        const __m256d flow = _mm256_and_pd(_mm256_cmp_pd(sign, zero, _CMP_NEQ_UQ), _mm256_mul_pd(sign, q));
        // gap_limited lane by lane.
        const __m256d size = _mm256_andnot_pd(sign_bit, _mm256_loadu_pd(t.gap + j));
        // standing_face: the depth allowance counts only where it exceeds the ground drop.
        const __m256d drop = _mm256_andnot_pd(sign_bit, _mm256_loadu_pd(t.drop + j));
        const __m256d flat = _mm256_sub_pd(_mm256_mul_pd(depth_share, _mm256_loadu_pd(t.deeper + j)), drop);
        const __m256d edge = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(half, drop), tolerance),
                                           _mm256_max_pd(flat, zero));
        const __m256d stands = _mm256_cmp_pd(size, edge, _CMP_LE_OQ);
        const __m256d limit = _mm256_mul_pd(size, vfactor);
        const __m256d low = _mm256_xor_pd(limit, sign_bit);
        const __m256d above = _mm256_and_pd(stands, _mm256_cmp_pd(flow, limit, _CMP_GT_OQ));
        const __m256d below = _mm256_and_pd(stands, _mm256_cmp_pd(flow, low, _CMP_LT_OQ));
        const __m256d lifted = _mm256_blendv_pd(flow, low, below);
        _mm256_storeu_pd(out + j, _mm256_blendv_pd(lifted, limit, above));
        held += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(_mm256_or_pd(above, below))));
        const __m256d over = _mm256_cmp_pd(_mm256_andnot_pd(sign_bit, flow), _mm256_mul_pd(limit, vflowing), _CMP_GT_OQ);
        beyond |= _mm256_movemask_pd(_mm256_andnot_pd(stands, over)) != 0;
    }
    return j;
}

// The depths of cells first + j0 .. first + len - 1 as the checked sweep forms
// them, four at a time: h = from + (q[upstream] - q) step / area, q holding the
// discharges of the chunk, and the depths before in `save` unless it is null.
// Stops before four cells of which one goes below zero or changes by more than
// half its depth (the checks of sweep_and_check, which then takes those four).
// Result: the first cell not done (relative to first).
OVERLAND_AVX2 int checked_depths_avx2(const double *from, double *h, double *save, const double *q,
                                       const int *upstream, int first, int j0, int len, double step,
                                       double area) {
    const __m256d vstep = _mm256_set1_pd(step), varea = _mm256_set1_pd(area), zero = _mm256_setzero_pd();
    const __m256d half = _mm256_set1_pd(0.5), thousandth = _mm256_set1_pd(0.001);
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
    const bool change_checked = step > 0.01;
    int j = j0;
    for (; j + 4 <= len; j += 4) {
        const int i = first + j;
        const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i *>(upstream + i));
        const __m256d q_up = consecutive(up) ? _mm256_loadu_pd(q + _mm_cvtsi128_si32(up)) : gather(q, up);
        const __m256d change = _mm256_div_pd(_mm256_mul_pd(_mm256_sub_pd(q_up, _mm256_loadu_pd(q + i)), vstep), varea);
        const __m256d before = _mm256_loadu_pd(from + i);
        const __m256d depth = _mm256_add_pd(before, change);
        __m256d flag = _mm256_cmp_pd(depth, zero, _CMP_LT_OQ);
        if (change_checked)
            flag = _mm256_or_pd(flag, _mm256_and_pd(_mm256_cmp_pd(_mm256_and_pd(change, magnitude),
                                                                  _mm256_mul_pd(half, before), _CMP_GT_OQ),
                                                    _mm256_cmp_pd(before, thousandth, _CMP_GT_OQ)));
        if (_mm256_movemask_pd(flag) != 0) break;
        if (save) _mm256_storeu_pd(save + i, before);
        _mm256_storeu_pd(h + i, depth);
    }
    return j;
}

// out[j] = base[j] + (q[upstream[i]] - q[i]) step / area for cells i = first + j,
// j = 0 .. len - 1, four at a time. Result: the first j not done.
OVERLAND_AVX2 int add_net_inflow_avx2(const double *base, double *out, const double *q, const int *upstream,
                                       int first, int len, double step, double area) {
    const __m256d vstep = _mm256_set1_pd(step), varea = _mm256_set1_pd(area);
    int j = 0;
    for (; j + 4 <= len; j += 4) {
        const int i = first + j;
        const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i *>(upstream + i));
        const __m256d q_up = consecutive(up) ? _mm256_loadu_pd(q + _mm_cvtsi128_si32(up)) : gather(q, up);
        const __m256d change = _mm256_div_pd(_mm256_mul_pd(_mm256_sub_pd(q_up, _mm256_loadu_pd(q + i)), vstep), varea);
        _mm256_storeu_pd(out + j, _mm256_add_pd(_mm256_loadu_pd(base + j), change));
    }
    return j;
}

// Raises `top` to the celerities 5/3 |q| / d of four faces (see first_substep)
// that exceed it, lane by lane, with the scalar loop's operations (the same
// quotients; 0 where a face has no neighbour or no water).
OVERLAND_AVX2 inline __m256d raise_to_celerities(__m256d top, const double *flow, const double *h,
                                                  const int *next, int i) {
    const __m256d zero = _mm256_setzero_pd(), rate = _mm256_set1_pd(five_thirds);
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
    const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i *>(next + i));
    const __m256d q = _mm256_loadu_pd(flow + i);
    const __m256d hk = consecutive(k) ? _mm256_loadu_pd(h + _mm_cvtsi128_si32(k)) : gather(h, k);
    const __m256d d = _mm256_blendv_pd(hk, _mm256_loadu_pd(h + i), _mm256_cmp_pd(q, zero, _CMP_GT_OQ));
    const __m256d open = _mm256_castsi256_pd(
        _mm256_xor_si256(_mm256_cvtepi32_epi64(_mm_cmpeq_epi32(k, _mm_setzero_si128())), _mm256_set1_epi64x(-1)));
    const __m256d use = _mm256_and_pd(open, _mm256_cmp_pd(d, zero, _CMP_GT_OQ));
    const __m256d c = _mm256_and_pd(use, _mm256_div_pd(_mm256_mul_pd(rate, _mm256_and_pd(q, magnitude)), d));
    return _mm256_blendv_pd(top, c, _mm256_cmp_pd(c, top, _CMP_GT_OQ));
}

// The largest celerity of the faces of cells 1 .. the largest multiple of four not
// above `cells` in both directions, in one pass over the depths, four cells at a
// time. The largest of the same values whatever the order, a value that is not a
// number never taken. Result: the number of cells done; `fastest` holds their
// largest celerity, else 0.
OVERLAND_AVX2 int fastest_celerity_avx2(const double *down_q, const int *down, const double *right_q,
                                         const int *right, const double *h, int cells, double &fastest) {
    __m256d top = _mm256_setzero_pd();
    int i = 1;
    for (; i + 3 <= cells; i += 4) {
        top = raise_to_celerities(top, down_q, h, down, i);
        top = raise_to_celerities(top, right_q, h, right, i);
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, top);
    fastest = 0.0;
    for (double c : lanes) fastest = c > fastest ? c : fastest;
    return i - 1;
}

#undef OVERLAND_AVX2

bool detect_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

const bool faces_avx2 = detect_avx2();
#else
const bool faces_avx2 = false;
#endif

// Face discharges (m3/s) of cells first .. first + len - 1 toward their
// neighbours in `next` by the depths d (see depth_slot), into out[0 .. len): the
// base branch of ade_sweep with the same operations in the same order (0 for a
// closed face), each held to its level gap by `factor` where it stands (see
// gap_limited). Result: the faces held; `beyond` as gap_limited sets it.
template <bool ring>
long long base_faces(const base_arrays &a, const double *d, int mask, const int *next, int dike_bit,
                     int first, int len, double factor, double *out, bool &beyond) {
    face_terms t;
    int j = 0;
#if defined(__x86_64__)
    if (faces_avx2) j = gather_faces_avx2<ring>(a, d, mask, next, dike_bit, first, len, t);
#endif
    gather_faces<ring>(a, d, mask, next, dike_bit, first, j, len, t);
    pow_two_thirds_n(t.above, t.above, static_cast<std::size_t>(len));
    // A uniform roughness is read from a block of its value.
    alignas(32) double uniform_n[face_chunk];
    if (!a.n) std::fill(uniform_n, uniform_n + len, a.n_uniform);
    const double *n = a.n ? a.n + first : uniform_n;
    j = 0;
    long long held = 0;
#if defined(__x86_64__)
    if (faces_avx2) j = finish_faces_avx2(n, a.dx, len, t, factor, out, held, beyond);
#endif
    return held + finish_faces(n, a.dx, j, len, t, factor, out, beyond);
}

// out[j] = base[j] + (q[upstream[i]] - q[i]) step / area for the cells i = first + j
// of a chunk (out may be base).
void add_net_inflow(const double *base, double *out, const double *q, const int *upstream, int first,
                    int len, double step, double area) {
    int j = 0;
#if defined(__x86_64__)
    if (faces_avx2) j = add_net_inflow_avx2(base, out, q, upstream, first, len, step, area);
#endif
    for (; j < len; ++j) {
        const int i = first + j;
        out[j] = base[j] + (q[upstream[i]] - q[i]) * step / area;
    }
}

// One sweep of scheme 2 from the depths `from` (the saved depths for the first
// sweep of an attempt, else h) followed by its check, in one pass over chunks of
// faces. A face reads the depths of its cell and of the neighbour after it, which
// this sweep has not yet written when the chunk's faces are computed before its
// depths are applied. The depths and discharges are applied and checked cell by
// cell in cell order, as before, so a failing cell stops the pass at the same
// place with the same depths. With `save` (from being h) the depths before the
// sweep are copied there on the way, all of them also when the pass stops.
// Result as ade_check_sweep; `swept` gains the cells updated; `failed_cell` is
// the cell that stopped the pass, if one did; `held` the standing faces held.
int sweep_and_check(overland_grid &g, const double *from, double *save, const ade_direction &dir,
                    double step, long long &swept, int &failed_cell, long long &held) {
    const base_arrays a = base_arrays_of(g);
    const int *next = dir.neighbour.data(), *upstream = dir.upstream.data();
    double *q = dir.q.data(), *h = g.h.data();
    const double area = g.dx * g.dx, factor = gap_factor(area, step);
    for (int first = 1; first <= g.cells; first += face_chunk) {
        const int len = std::min(face_chunk, g.cells - first + 1);
        bool beyond = false;
        held += base_faces<false>(a, from, 0, next, dir.dike_bit, first, len, factor, q + first, beyond);
        // A failing cell stops the pass. The discharges of the rest of its chunk
        // are this sweep's: the attempt is thrown away and the next one forms
        // every discharge before it reads it.
        const auto stop = [&](int i, int code) {
            if (save) std::copy(h + i + 1, h + g.cells + 1, save + i + 1);
            swept += i;
            failed_cell = i;
            return code;
        };
        // A face of flowing water beyond its level-gap limit stops it before the chunk.
        if (beyond) return stop(first - 1, 2);
        int j = 0;
        while (j < len) {
            int end = len;  // the cells up to here in the order and form of the scalar loop
#if defined(__x86_64__)
            if (faces_avx2) {
                j = checked_depths_avx2(from, h, save, q, upstream, first, j, len, step, area);
                end = std::min(len, j + 4);
            }
#endif
            for (; j < end; ++j) {
                const int i = first + j;
                const double before = from[i];
                if (save) save[i] = before;
                const double change = (q[upstream[i]] - q[i]) * step / area;
                h[i] = before + change;
                if (h[i] < 0.0) {
                    if (step < smallest_substep) return stop(i, 1);
                    if (h[i] <= -1e-06) return stop(i, 2);
                    if (g.negative_depth_volume) *g.negative_depth_volume += -h[i] * area;
                    h[i] = 0.0;
                }
                if (std::fabs(change) > 0.5 * before && before > 0.001 && step > 0.01) return stop(i, 2);
            }
        }
    }
    swept += g.cells;
    return 0;
}

// The first sub-step of scheme 2: the step, halved until no face's Courant number
// (kinematic celerity 5/3 |q| / d of the donor cell's depth d, from the face
// discharges of the last step, times sub-step / dx) reaches ade_max_courant.
double first_substep(overland_grid &g, double dt) {
    double fastest = 0.0;  // the largest 5/3 |q| / d (m2/s)
    const double *h = g.h.data();
    int done = 0;
#if defined(__x86_64__)
    if (faces_avx2) done = fastest_celerity_avx2(g.qy.data(), g.down.data(), g.qx.data(), g.right.data(), h, g.cells, fastest);
#endif
    for (const ade_direction &dir : {down_direction(g), right_direction(g)}) {
        const double *flow = dir.q.data();
        const int *next = dir.neighbour.data();
        // Without branches (a missing neighbour is cell 0, whose depth is read and
        // not used): the donor's depth and the face's celerity, 0 where there is none.
        for (int i = done + 1; i <= g.cells; ++i) {
            const double q = flow[i];
            const double d = q > 0.0 ? h[i] : h[next[i]];
            const double c = next[i] != 0 && d > 0.0 ? five_thirds * std::fabs(q) / d : 0.0;
            fastest = c > fastest ? c : fastest;
        }
    }
    // The face discharges are in m3/s: per unit width they are q / dx.
    double sub = dt;
    while (fastest * sub >= ade_max_courant * g.dx * g.dx && sub >= 2.0 * smallest_substep) sub *= 0.5;
    return sub;
}

// ---- Attempts proved to fail on a patch of cells ----
// Within one sweep every face discharge comes from the depths before the sweep,
// so the new depth of a cell, and whether it fails its check, depends only on the
// depths before the sweep of the cell and of its two neighbours in the sweep's
// direction. An attempt of scheme 2 can then be followed exactly on a small patch
// of cells: a cell's depth stays the one the full sweeps form for as long as its
// neighbours' do, so the exact part of the patch loses a row of cells at its border
// per down sweep and a column per right sweep (a missing neighbour, off the grid,
// never spoils it). When a cell of the exact part fails, the full attempt at that
// sub-step would fail too (at that cell or at one before it), so it is skipped and
// the sub-step halved at once. The patch surrounds the cells that failed in recent
// calls; attempts that are not proved to fail run in full with every check, so
// the results are those of running every attempt.

constexpr int patch_radius = 8;  // cells each way from a suspect
constexpr int patch_side = 2 * patch_radius + 1;
constexpr int patch_capacity = ade_scheme_state::max_suspects * patch_side * patch_side;
constexpr int outside_patch = -1;

// Puts `cell` first among the suspects (the last one drops out when the list is full).
void remember_suspect(ade_scheme_state &st, int cell) {
    int *s = st.suspects;
    int *found = std::find(s, s + st.suspect_count, cell);
    if (found == s + st.suspect_count) {
        if (st.suspect_count < ade_scheme_state::max_suspects) ++st.suspect_count;
        found = s + st.suspect_count - 1;
    }
    std::copy_backward(s, found, found + 1);
    s[0] = cell;
    st.patch_cells = 0;  // the patch is built again for the new list
}

// A base face exactly as base_faces forms it (gather_faces, the power of
// thirds_powers.h, finish_faces), for cell i and its neighbour k (not 0) with
// depths di and dk, limited to the level gap over the sub-step as sweep_and_check
// limits it.
inline double patch_face(const base_arrays &a, int i, int k, double di, double dk, int dike_bit, double sub,
                         bool &beyond) {
    const bool open = !(a.dike && (a.dike[i] & dike_bit));
    const double sf = ((a.z[i] + di) - (a.z[k] + dk)) / a.dx;
    const bool downhill = sf > 0.0;
    const double water = downhill ? di : dk;
    const double retention = a.r ? (downhill ? a.r[i] : a.r[k]) : a.r_uniform;
    const double above_retention = water - retention;
    if (!(open && sf != 0.0 && water > retention)) return 0.0;
    const double slope = downhill ? sf : -sf;
    const double depth_factor = downhill ? di : above_retention;
    const double q =
        ((((1.0 / (a.n ? a.n[i] : a.n_uniform)) * pow_two_thirds(above_retention)) * std::sqrt(slope)) * depth_factor) * a.dx;
    return gap_limited((downhill ? 1.0 : -1.0) * q, (a.z[i] + di) - (a.z[k] + dk), a.z[i] - a.z[k],
                       std::max(di, dk), gap_factor(a.dx * a.dx, sub), beyond);
}

// Index of `cell` among the patch's sorted cells 1 .. count, else outside_patch.
int patch_index(const int *cells, int count, int cell) {
    const int *found = std::lower_bound(cells + 1, cells + count + 1, cell);
    return found != cells + count + 1 && *found == cell ? static_cast<int>(found - cells) : outside_patch;
}

// Builds the patch around the suspects: for each, the cells reached by up to
// patch_radius steps up or down and then up to patch_radius steps left or right
// (fewer at the edges of the grid). False when the work arrays cannot be had.
bool build_patch(const overland_grid &g, ade_scheme_state &st) {
    array_1d<int> *ints[] = {&st.patch_cell,    &st.patch_exact,   &st.patch_known,  &st.patch_link[0],
                             &st.patch_link[1], &st.patch_link[2], &st.patch_link[3]};
    for (array_1d<int> *a : ints)
        if (!ensure_cell_array(*a, patch_capacity)) return false;
    if (!ensure_cell_array(st.patch_depth, patch_capacity) || !ensure_cell_array(st.patch_face, patch_capacity))
        return false;
    const int *right = g.right.data(), *down = g.down.data(), *left = g.left.data(), *up = g.up.data();
    int *cells = st.patch_cell.data();
    int count = 0;
    const auto add_row = [&](int c) {
        cells[++count] = c;
        for (int k = left[c], m = 0; k != 0 && m < patch_radius; k = left[k], ++m) cells[++count] = k;
        for (int k = right[c], m = 0; k != 0 && m < patch_radius; k = right[k], ++m) cells[++count] = k;
    };
    for (int s = 0; s < st.suspect_count; ++s) {
        const int c = st.suspects[s];
        if (c < 1 || c > g.cells) continue;
        add_row(c);
        for (int k = up[c], m = 0; k != 0 && m < patch_radius; k = up[k], ++m) add_row(k);
        for (int k = down[c], m = 0; k != 0 && m < patch_radius; k = down[k], ++m) add_row(k);
    }
    std::sort(cells + 1, cells + count + 1);
    count = static_cast<int>(std::unique(cells + 1, cells + count + 1) - cells) - 1;
    const int *tables[4] = {right, down, left, up};
    for (int t = 0; t < 4; ++t) {
        int *link = st.patch_link[t].data();
        link[0] = 0;
        for (int p = 1; p <= count; ++p) {
            const int k = tables[t][cells[p]];
            link[p] = k == 0 ? 0 : patch_index(cells, count, k);
        }
    }
    st.patch_cells = count;
    return true;
}

// Follows the attempt at sub-step `sub` from the depths `from` on the patch, with
// the arithmetic and checks of sweep_and_check and the outlet drain, for as long as
// part of the patch stays exact. True when a cell of the exact part fails: the
// full attempt would fail.
bool patch_attempt_fails(overland_grid &g, ade_scheme_state &st, const double *from, bool down_first,
                         double sub, double dt) {
    const base_arrays a = base_arrays_of(g);
    const int count = st.patch_cells;
    const int *cells = st.patch_cell.data();
    int *exact = st.patch_exact.data(), *known = st.patch_known.data();
    double *d = st.patch_depth.data(), *q = st.patch_face.data();
    const double area = g.dx * g.dx;
    const int outlet = !g.channel_explicit && g.outlet > 0 ? patch_index(cells, count, g.outlet) : outside_patch;
    for (int p = 1; p <= count; ++p) {
        d[p] = from[cells[p]];
        exact[p] = 1;
    }
    exact[0] = known[0] = 1;  // a missing neighbour, whose face is closed
    q[0] = 0.0;
    // Per direction: the neighbour's and the upstream neighbour's table, the dike bit.
    const int down_tables[2] = {1, 3}, right_tables[2] = {0, 2};
    const int *order[2] = {down_first ? down_tables : right_tables, down_first ? right_tables : down_tables};
    double elapsed = 0.0;
    while (elapsed < dt) {
        if (outlet != outside_patch && exact[outlet]) drain_outlet_depth(g, d[outlet], sub);
        for (const int *tables : order) {
            const int *next = st.patch_link[tables[0]].data(), *upstream = st.patch_link[tables[1]].data();
            const int dike_bit = tables[0] == 1 ? 4 : 2;
            // A face is known when its two cells are exact; its value goes in q.
            for (int p = 1; p <= count; ++p) {
                const int k = next[p];
                known[p] = exact[p] && k != outside_patch && exact[k];
                bool beyond = false;
                if (known[p]) q[p] = k == 0 ? 0.0 : patch_face(a, cells[p], cells[k], d[p], d[k], dike_bit, sub, beyond);
                if (beyond) return true;
            }
            // A depth stays exact when both faces of the cell are known.
            int updated = 0;
            for (int p = 1; p <= count; ++p) {
                const int u = upstream[p];
                if (!known[p] || u == outside_patch || !known[u]) {
                    exact[p] = 0;
                    continue;
                }
                ++updated;
                const double before = d[p];
                const double change = (q[u] - q[p]) * sub / area;
                double h = before + change;
                if (h < 0.0) {
                    if (sub < smallest_substep || h <= -1e-06) return true;
                    h = 0.0;
                }
                if (std::fabs(change) > 0.5 * before && before > 0.001 && sub > 0.01) return true;
                d[p] = h;
            }
            st.swept_cells += updated;
            if (updated == 0) return false;
        }
        elapsed += sub;
    }
    return false;
}

// Scheme 2 in the base case: as route_substeps, each sweep with its check in one
// pass; the first sweep of a call saves the depths on its way, and a later
// attempt starts from the saved depths without copying them back first. An
// attempt that the patch of suspect cells proves to fail is not run. Lifted
// negative depths are booked for the accepted attempt only. The outlet drains at
// the start of each sub-step, from the depth its sweeps start from, so the water
// the outlet cell holds does not depend on the sub-step (draining after the
// sweeps left it I x sub-step / area fuller, released as a spike whenever the
// sub-step changed).
double route_substeps_base(overland_grid &g, ade_scheme_state &st, double dt) {
    const double booked = g.negative_depth_volume ? *g.negative_depth_volume : 0.0;
    double *saved = st.saved_depth.data();
    bool first_attempt = true;
    const ade_direction first = st.sweep_order == 2 ? down_direction(g) : right_direction(g);
    const ade_direction second = st.sweep_order == 2 ? right_direction(g) : down_direction(g);
    bool patch_ready = false;
    const bool drains = !g.channel_explicit && g.outlet > 0;
    double sub = first_substep(g, dt);
    for (;;) {
        if (sub < smallest_substep) {
            if (!first_attempt) std::copy(saved + 1, saved + g.cells + 1, g.h.data() + 1);
            if (g.negative_depth_volume) *g.negative_depth_volume = booked;
            std::printf("The ADE overland routing time step is getting really small\n");
            std::printf("less than 1/100 of a second\n");
            std::printf("Reduce the model time step by a factor of 2 and try again.\n");
            std::printf("Program stopped.\n");
            raise_printed_error();
            return -1.0;
        }
        if (st.attempt_shortcut && st.suspect_count > 0) {
            if (!patch_ready || st.patch_cells == 0) patch_ready = build_patch(g, st);
            // Worth it only where the patch is small beside the grid.
            if (patch_ready && st.patch_cells <= g.cells / 4 &&
                patch_attempt_fails(g, st, first_attempt ? g.h.data() : saved, st.sweep_order == 2, sub, dt)) {
                ++st.skipped_attempts;
                sub = cut_substep(g, sub);
                continue;
            }
        }
        if (g.negative_depth_volume) *g.negative_depth_volume = booked;
        double elapsed = 0.0, outlet_sum = 0.0;
        double *start = first_attempt ? g.h.data() : saved;
        const double *from = start;
        double *save = first_attempt ? saved : nullptr;
        first_attempt = false;
        // The first sub-step drains the outlet from the depths the attempt starts
        // from; the saved depths keep the outlet's depth before the drain.
        const double outlet_start = drains ? start[g.outlet] : 0.0;
        bool failed = false;
        int failed_cell = 0;
        long long held = 0;
        while (elapsed < dt && !failed) {
            if (drains) outlet_sum += drain_outlet_depth(g, elapsed == 0.0 ? start[g.outlet] : g.h[at(g.outlet)], sub);
            failed = sweep_and_check(g, from, save, first, sub, st.swept_cells, failed_cell, held) != 0;
            if (elapsed == 0.0 && drains) saved[g.outlet] = outlet_start;
            from = g.h.data();
            save = nullptr;
            failed = failed || sweep_and_check(g, from, nullptr, second, sub, st.swept_cells, failed_cell, held) != 0;
            if (failed) break;
            elapsed += sub;
        }
        if (!failed) {
            record_ade_call(g, dt, sub, held);
            return outlet_sum * sub / dt;
        }
        remember_suspect(st, failed_cell);
        sub = cut_substep(g, sub);
    }
}

// Slots of the ring of predicted depths for tables whose neighbours lie at most
// `gap` cells apart (see route_predictor_corrector_base).
int predictor_slots(int gap) {
    int slots = face_chunk;
    while (slots < gap + 3 * face_chunk) slots *= 2;
    return slots;
}

// Scheme 3 in the base case: per direction the predictor (face discharges from h,
// predicted depths) and the corrector (the face discharges of the predicted
// depths averaged with the predictor's and applied to h) in one pass over chunks
// of cells, the corrector a little more than `gap` cells behind the predictor.
// The values and their order are those of a whole predictor pass followed by a
// whole corrector pass:
// - the predictor discharges are kept in the direction's discharge array; the
//   corrector reads that of cell i just before it writes the averaged one there,
//   and that of the upstream cell (before i) after it has written the averaged
//   one there; the predictor reads the discharge of the upstream cell before the
//   corrector reaches it. Element 0, the face of a missing upstream cell, is never
//   written and stays 0.
// - the predictor reads depths of h the corrector has not yet reached, and the
//   corrector of a chunk waits until every depth its faces read is predicted (the
//   outlet's drained as soon as it is).
// - the predicted depths live in a ring of slots (st.predictor_depth) that holds
//   every cell from the corrector's chunk up to the last predicted one.
void route_predictor_corrector_base(overland_grid &g, ade_scheme_state &st, double dt, int gap,
                                    long long &held, bool &negative, bool &beyond) {
    const base_arrays a = base_arrays_of(g);
    const double area = g.dx * g.dx, factor = gap_factor(area, dt);
    double *h = g.h.data();
    double *ring = st.predictor_depth.data();
    const int mask = predictor_slots(gap) - 1;
    const ade_direction first = st.sweep_order == 2 ? right_direction(g) : down_direction(g);
    const ade_direction second = st.sweep_order == 2 ? down_direction(g) : right_direction(g);
    const bool drains = !g.channel_explicit && g.outlet > 0;
    negative = false;
    double faces[face_chunk];
    for (const ade_direction *dir : {&first, &second}) {
        const int *next = dir->neighbour.data(), *upstream = dir->upstream.data();
        const int dike_bit = dir->dike_bit;
        double *q = dir->q.data();
        int predicted = 1, corrected = 1;  // the first cells not yet predicted, corrected
        while (corrected <= g.cells) {
            if (predicted <= g.cells) {
                const int start = predicted, len = std::min(face_chunk, g.cells - start + 1);
                held += base_faces<false>(a, h, 0, next, dike_bit, start, len, factor, q + start, beyond);
                add_net_inflow(h + start, ring + depth_slot<true>(start, mask), q, upstream, start, len, dt, area);
                predicted = start + len;
                if (drains && g.outlet >= start && g.outlet < predicted)
                    drain_outlet_depth(g, ring[depth_slot<true>(g.outlet, mask)], dt);
            }
            // Every corrector chunk whose faces read only predicted depths.
            while (corrected <= g.cells &&
                   (predicted > g.cells || corrected + face_chunk - 1 + gap < predicted)) {
                const int start = corrected, len = std::min(face_chunk, g.cells - start + 1);
                held += base_faces<true>(a, ring, mask, next, dike_bit, start, len, factor, faces, beyond);
                // The upstream discharge of a cell is averaged before the cell's own.
                for (int j = 0; j < len; ++j) q[start + j] = 0.5 * (q[start + j] + faces[j]);
                add_net_inflow(h + start, h + start, q, upstream, start, len, dt, area);
                for (int j = 0; j < len; ++j) negative |= h[start + j] < 0.0;
                corrected = start + len;
            }
        }
        st.swept_cells += g.cells;
    }
}

// Scheme 2 with sub-steps: the whole step is redone from the saved depths with
// half the sub-step whenever a sweep fails its check. Lifted negative depths are
// booked for the accepted attempt only.
double route_substeps(overland_grid &g, ade_scheme_state &st, double dt) {
    const double booked = g.negative_depth_volume ? *g.negative_depth_volume : 0.0;
    for (int i = 1; i <= g.cells; ++i) st.saved_depth[at(i)] = g.h[at(i)];
    if (g.stream_on) save_stream_sums(g, st);
    const ade_direction first = st.sweep_order == 2 ? down_direction(g) : right_direction(g);
    const ade_direction second = st.sweep_order == 2 ? right_direction(g) : down_direction(g);
    double sub = first_substep(g, dt);
    for (;;) {
        if (sub < smallest_substep) {
            for (int i = 1; i <= g.cells; ++i) g.h[at(i)] = st.saved_depth[at(i)];
            if (g.stream_on) restore_stream_sums(g, st);
            if (g.negative_depth_volume) *g.negative_depth_volume = booked;
            std::printf("The ADE overland routing time step is getting really small\n");
            std::printf("less than 1/100 of a second\n");
            std::printf("Reduce the model time step by a factor of 2 and try again.\n");
            std::printf("Program stopped.\n");
            raise_printed_error();
            return -1.0;
        }
        for (int i = 1; i <= g.cells; ++i) g.h[at(i)] = st.saved_depth[at(i)];
        if (g.stream_on) restore_stream_sums(g, st);
        if (g.negative_depth_volume) *g.negative_depth_volume = booked;
        double elapsed = 0.0, outlet_sum = 0.0;
        bool failed = false;
        long long held = 0;
        while (elapsed < dt) {
            outlet_sum += drain_outlet(g, g.h, sub);
            for (const ade_direction *dir : {&first, &second}) {
                ade_sweep(g, view(g.h), *dir, sub);
                bool beyond = false;
                held += limit_faces_to_level_gaps(g, view(g.h), *dir, sub, beyond);
                st.swept_cells += g.cells;
                if (beyond || ade_check_sweep(g, view(dir->q), dir->upstream, sub) != 0) {
                    failed = true;
                    break;
                }
            }
            if (failed) break;
            elapsed += sub;
        }
        if (!failed) {
            record_ade_call(g, dt, sub, held);
            return outlet_sum * sub / dt;
        }
        sub = cut_substep(g, sub);
    }
}

// Scheme 2 with lakes: one pass of the full dt without checks.
double route_lake_pass(overland_grid &g, ade_scheme_state &st, double dt) {
    const ade_direction first = st.sweep_order == 2 ? down_direction(g) : right_direction(g);
    const ade_direction second = st.sweep_order == 2 ? right_direction(g) : down_direction(g);
    for (const ade_direction *dir : {&first, &second}) {
        ade_sweep(g, view(g.h), *dir, dt);
        apply_unchecked(g, view(dir->q), dir->upstream, dt);
        st.swept_cells += g.cells;
    }
    record_ade_call(g, dt, dt, 0);
    const double q = drain_outlet(g, g.h, dt);
    return depths_sound(g) ? q : -1.0;
}

// Scheme 3: per direction a predictor from the current depths, the face
// discharges averaged with those of the predicted depths, then the corrector.
// The outlet is drained by the caller, before the pass.
void route_predictor_corrector(overland_grid &g, ade_scheme_state &st, double dt, long long &held,
                               bool &beyond) {
    const double area = g.dx * g.dx;
    row_ref<double> hp = view(st.predictor_depth);
    row_ref<double> qp = view(st.predictor_discharge);
    const ade_direction first = st.sweep_order == 2 ? right_direction(g) : down_direction(g);
    const ade_direction second = st.sweep_order == 2 ? down_direction(g) : right_direction(g);
    for (const ade_direction *dir : {&first, &second}) {
        ade_sweep(g, view(g.h), *dir, dt);
        held += limit_faces_to_level_gaps(g, view(g.h), *dir, dt, beyond);
        for (int i = 1; i <= g.cells; ++i) {
            const bool body = is_lake_cell(g, i) || is_stream_cell(g, i);
            hp[at(i)] = g.h[at(i)] + (body ? 0.0 : net_inflow(view(dir->q), dir->upstream, i) * dt / area);
        }
        drain_outlet(g, hp, dt);
        for (int i = 1; i <= g.cells; ++i) qp[at(i)] = dir->q[at(i)];
        ade_sweep(g, view(hp), *dir, dt);
        held += limit_faces_to_level_gaps(g, view(hp), *dir, dt, beyond);
        for (int i = 1; i <= g.cells; ++i) dir->q[at(i)] = 0.5 * (qp[at(i)] + dir->q[at(i)]);
        apply_unchecked(g, view(dir->q), dir->upstream, dt);
        st.swept_cells += g.cells;
    }
}

// Scheme 3 in sub-steps of its predictor-corrector pass, the first as long as
// scheme 2's Courant number allows (first_substep): the call is redone from
// the depths at its start with half the sub-step while a depth falls clearly
// below zero (a little below zero is lifted and booked, for the accepted attempt
// only) or a face of flowing water is beyond its level-gap limit. The outlet
// drains at the start of each sub-step, from the depth the last one left (as in
// scheme 2): its water then never depends on the sub-step's length, and a change
// of sub-step releases no spike. The result is the mean outlet discharge of the call. With lakes, whose
// inflows are booked as the pass goes, one pass of dt with no retry.
double route_predictor_corrector_substeps(overland_grid &g, ade_scheme_state &st, double dt, int gap) {
    if (g.lakes_on) {
        long long held = 0;
        bool beyond = false;  // no retry here
        const double q = drain_outlet(g, g.h, dt);
        route_predictor_corrector(g, st, dt, held, beyond);
        record_ade_call(g, dt, dt, held);
        return depths_sound(g) ? q : -1.0;
    }
    const double booked = g.negative_depth_volume ? *g.negative_depth_volume : 0.0;
    double *h = g.h.data(), *saved = st.saved_depth.data();
    std::copy(h + 1, h + g.cells + 1, saved + 1);
    if (g.stream_on) save_stream_sums(g, st);
    const int order = st.sweep_order;
    // The first sub-step keeps the Courant number of scheme 2's.
    for (double sub = first_substep(g, dt);; sub = cut_substep(g, sub)) {
        if (sub < smallest_substep) {
            std::printf("The ADE-PC overland step would need sub-steps below %.4lf s to keep every\n"
                        "depth above zero and every face within its level-gap limit.\n"
                        "Reduce TIMESTEP (now %.4lf s) and try again.\n",
                        smallest_substep, dt);
            raise_printed_error();
            return -1.0;
        }
        double elapsed = 0.0, outlet_sum = 0.0, q = 0.0;
        long long held = 0;
        bool sound = true;
        st.sweep_order = order;
        while (elapsed < dt * (1.0 - 1e-12) && sound) {
            const double step = std::min(sub, dt - elapsed);
            bool negative = true, beyond = false;
            q = drain_outlet(g, g.h, step);
            if (gap >= 0) route_predictor_corrector_base(g, st, step, gap, held, negative, beyond);
            else route_predictor_corrector(g, st, step, held, beyond);
            sound = !beyond && (!negative || depths_lifted(g));
            outlet_sum += q * step;
            elapsed += step;
            // Sub-steps alternate their directions as calls do.
            st.sweep_order = 3 - st.sweep_order;
        }
        st.sweep_order = order;
        if (sound) {
            record_ade_call(g, dt, sub, held);
            return sub < dt ? outlet_sum / dt : q;
        }
        std::copy(saved + 1, saved + g.cells + 1, h + 1);
        if (g.stream_on) restore_stream_sums(g, st);
        if (g.negative_depth_volume) *g.negative_depth_volume = booked;
    }
}

}  // namespace

void ade_sweep_a(overland_grid &g, row_ref<const double> depth, double dt) {
    ade_sweep(g, depth, down_direction(g), dt);
}

void ade_sweep_b(overland_grid &g, row_ref<const double> depth, double dt) {
    ade_sweep(g, depth, right_direction(g), dt);
}

int ade_check_sweep(overland_grid &g, row_ref<const double> q, row_ref<const int> upstream,
                    double step) {
    const double area = g.dx * g.dx;
    for (int i = 1; i <= g.cells; ++i) {
        if (book_water_body(g, q, upstream, i, step)) continue;
        const double before = g.h[at(i)];
        const double change = net_inflow(q, upstream, i) * step / area;
        g.h[at(i)] = before + change;
        if (g.h[at(i)] < 0.0) {
            if (step < smallest_substep) return 1;
            if (g.h[at(i)] <= -1e-06) return 2;
            if (g.negative_depth_volume) *g.negative_depth_volume += -g.h[at(i)] * area;
            g.h[at(i)] = 0.0;
        }
        if (std::fabs(change) > 0.5 * before && before > 0.001 && step > 0.01) return 2;
    }
    return 0;
}

double ade_route(overland_grid &g, ade_scheme_state &st, int scheme, double dt) {
    if (!(dt > 0.0)) return 0.0;
    if (g.stream_on) {
        for (auto &a : st.saved_stream)
            if (a.empty() || a.last() != at(g.stream_count)) alloc_1d_double(a, g.stream_count);
    }
    const int gap = base_case(g) ? checked_tables_gap(g, st) : -1;
    const bool base = gap >= 0;
    // Both schemes keep the depths at the start of the call; scheme 3 also its
    // predicted depths (in the base case a ring of slots) and, outside the base
    // case, its predictor discharges.
    if (!ensure_cell_array(st.saved_depth, g.cells)) return 0.0;
    if (scheme == 3 && !ensure_cell_array(st.predictor_depth, base ? predictor_slots(gap) - 1 : g.cells))
        return 0.0;
    if (scheme == 3 && !base && !ensure_cell_array(st.predictor_discharge, g.cells)) return 0.0;
    ++st.calls;
    double result;
    if (scheme == 3)
        result = route_predictor_corrector_substeps(g, st, dt, gap);
    else if (g.lakes_on) result = route_lake_pass(g, st, dt);
    else result = base ? route_substeps_base(g, st, dt) : route_substeps(g, st, dt);
    if (result < 0.0) return result;

    if (g.weirs_on) weir_flux(g, dt);
    return g.channel_explicit ? 0.0 : result;
}

double route_overland_ade(model_state &s, double dt) {
    overland_grid g;
    if (!overland_grid_of(s, g)) return 0.0;
    return ade_route(g, s.ade_state, 2, dt);
}

double route_overland_ade_pc(model_state &s, double dt) {
    overland_grid g;
    if (!overland_grid_of(s, g)) return 0.0;
    return ade_route(g, s.ade_state, 3, dt);
}

void print_ade_work([[maybe_unused]] const model_state &s) {
#ifdef KORVA_WORK_COUNTS
    const ade_scheme_state &st = s.ade_state;
    if (st.calls == 0 || s.quiet || s.calibration_run || s.cell_count < 1) return;
    const double per_step =
        static_cast<double>(st.swept_cells) / (static_cast<double>(st.calls) * s.cell_count);
    std::printf("ADE overland sweeps: %.2f per step over %d cells in %lld steps\n", per_step,
                s.cell_count, st.calls);
#endif
}
