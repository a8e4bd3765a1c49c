// Explicit overland flow scheme: for every cell the unit discharge across its
// right and down faces by Manning's law, with a step control that divides the
// step by 3 when a face fails the celerity (Courant number), height or depth check. Called by
// step_overland_flow for scheme 1 (through route_overland_explicit).
#include "model/hydrology/overland_explicit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/core/errors.h"
#include "model/hydrology/overland_boundaries.h"
#include "model/hydrology/overland_explicit_chunks.h"
#include "model/core/model_state.h"
#include "model/core/thirds_powers.h"

namespace {

constexpr double five_thirds = 5.0 / 3.0;
constexpr double outlet_exponent = 1.666667;
constexpr double smallest_step = 0.005;   // s: no reduction below this step
constexpr int max_reductions = 5;         // per call
constexpr int calls_with_reduced_step = 4;
constexpr double max_face_courant = explicit_max_face_courant;

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// One direction of a sweep: x uses the right face, y the down face.
struct direction {
    char name;                      // 'x' or 'y'
    int dike_bit;                   // bit of the cell's dike code that closes the face
    row_ref<const int> neighbour;
    row_ref<double> q;
};

direction x_direction(overland_grid &g) { return {'x', 2, g.right, g.qx}; }
direction y_direction(overland_grid &g) { return {'y', 4, g.down, g.qy}; }

// Bed slope of face i -> k, positive downhill toward k: the same division as the
// slopes that the set-up keeps for other processes, so the values are the same.
inline double face_bed_slope(const overland_grid &g, int i, int k) {
    return (g.z[at(i)] - g.z[at(k)]) / g.dx;
}

// Manning unit discharge (m2/s) with sign: positive from the cell toward its
// neighbour.
inline double manning(double sf, double depth, double roughness) {
    const double q = std::sqrt(std::fabs(sf)) / roughness * std::pow(depth, five_thirds);
    return sf >= 0.0 ? q : -q;
}

// Friction slope of face i -> k from the bed slope and the depths.
inline double face_slope(const overland_grid &g, double bed_slope, int i, int k) {
    return bed_slope - (g.h[at(k)] - g.h[at(i)]) / g.dx + 1e-30;
}

// Face of a wetland cell i (record of i only; the neighbour's own record is not
// used). Flow from a non-wetland neighbour into i, which the wetland rules leave
// open, is Manning flow by the neighbour's depth above its retention.
double wetland_face(const overland_grid &g, double bed_slope, int i, int k) {
    const wetland_face_values w = wetland_values(g, g.wetland_id[at(i)]);
    const bool k_wetland = g.wetland_id[at(k)] > 0;
    double sf = face_slope(g, bed_slope, i, k);
    double d;
    if (std::fabs(sf) < 1e-20) {
        sf = 1e-20;
        d = g.h[at(i)] - w.layer_depth;
    } else if (sf >= 0.0) {
        d = g.h[at(i)] - w.layer_depth;
    } else {
        d = k_wetland ? g.h[at(k)] - w.layer_depth : g.h[at(k)] - retention_at(g, k);
    }
    if (d <= 0.0) {
        if (sf >= 0.0) return sf * g.h[at(i)] * w.seepage;
        return k_wetland ? sf * g.h[at(k)] * w.seepage : 0.0;
    }
    if (!k_wetland) return manning(sf, d, roughness_at(g, k));
    const double seep = w.layer_depth * sf * w.seepage;
    const double above = (sf >= 0.0 ? g.h[at(i)] : g.h[at(k)]) - w.layer_depth;
    const double qm = manning(sf, above, w.roughness);
    const double transition = w.transition_depth;
    // Above the transition depth (or without one) the flow is fully Manning.
    if (!(transition > 0.0) || above > transition) return qm + seep;
    const double ql = above * sf * w.vegetation;
    const double share = above / transition;
    return qm * share + (1.0 - share) * ql + seep;
}

// Face between a land cell and a stream cell: the stream cell's level is its
// water surface. Land water above retention flows into a lower stream; a stream
// standing above the land's ground spills onto it by the depth above that ground.
double stream_face(const overland_grid &g, int i, int k) {
    const bool i_stream = is_stream_cell(g, i);
    const int land = i_stream ? k : i;
    const int stream = i_stream ? i : k;
    const double land_level = g.z[at(land)] + g.h[at(land)];
    const double water = g.stream_level[at(g.stream_id[at(stream)])];
    double sf = (land_level - water) / g.dx;  // positive from land to stream
    if (std::fabs(sf) < 1e-20) return 0.0;
    const double depth = sf > 0.0 ? g.h[at(land)] - retention_at(g, land) : water - g.z[at(land)];
    if (!(depth > 0.0)) return 0.0;
    double q = manning(sf, depth, roughness_at(g, land));  // land -> stream positive
    return i_stream ? -q : q;
}

// A standing-water face moves at most a quarter of its level gap in one sub-step
// (overland_boundaries.h), and so does every face once the step control has
// given up (`hold_all`); `held` counts the faces held. Result: the transfer.
inline double limit_to_level_gap(const overland_grid &g, int i, int k, double transfer, long long &held,
                                 bool hold_all = false) {
    const double gap = (g.z[at(i)] + g.h[at(i)]) - (g.z[at(k)] + g.h[at(k)]);
    const double limit = level_gap_share * std::fabs(gap);
    if (std::isnan(transfer) || std::fabs(transfer) <= limit ||
        !(hold_all || standing_face(gap, g.z[at(i)] - g.z[at(k)], std::max(g.h[at(i)], g.h[at(k)]))))
        return transfer;
    ++held;
    return transfer >= 0.0 ? limit : -limit;
}

// True when a face of flowing water moves more than explicit_flowing_share of its
// level gap, the depths h given (by cell number).
inline bool beyond_level_gap(const overland_grid &g, const double *h, int i, int k, double transfer) {
    const double gap = (g.z[at(i)] + h[i]) - (g.z[at(k)] + h[k]);
    return std::fabs(transfer) > explicit_flowing_share * std::fabs(gap) &&
           !standing_face(gap, g.z[at(i)] - g.z[at(k)], std::max(h[i], h[k]));
}
inline bool beyond_level_gap(const overland_grid &g, int i, int k, double transfer) {
    return beyond_level_gap(g, g.h.data(), i, k, transfer);
}

// The celerity check's Courant number of a face that moves big_h (m) from the
// depths h: the kinematic celerity 5/3 |q| / d of the donor cell's depth d times
// step / dx (0 across a stream cell's face).
inline double face_courant(const double *h, int i, int k, double big_h, bool stream_face) {
    const double donor_depth = big_h > 0.0 ? h[i] : h[k];
    return big_h != 0.0 && donor_depth > 0.0 && !stream_face ? five_thirds * std::fabs(big_h) / donor_depth : 0.0;
}

// The face check's verdict on a face i -> k that moves big_h (m) from the depths h:
// 0 it passes; 1 its Courant number is at its limit or it moves 6 cm or more (where
// the level-gap limit would otherwise hold back the flow of a long step); 2 it
// changes a height by more than 10 cm; 3 its donor would not hold the water it
// gives (checked first, since a face that would empty its donor also fails the
// Courant number); 4 flowing water moves beyond its share of the level gap. The
// lake variant checks the level gap only.
inline int face_failure(const overland_grid &g, const double *h, int i, int k, double big_h, bool beyond_gap,
                        bool stream_face, bool gap_only) {
    if (gap_only) return beyond_gap ? 4 : 0;
    const double u = face_courant(h, i, k, big_h, stream_face);
    const int donor = big_h > 0.0 ? i : k;
    const double rest = big_h > 0.0 ? h[i] - big_h : h[k] + big_h;
    if (big_h != 0.0 && rest < -0.0001 && !is_stream_cell(g, donor)) return 3;
    if (u >= max_face_courant || std::fabs(big_h) >= 0.06) return 1;
    if (std::fabs(big_h) > 0.1) return 2;
    return beyond_gap ? 4 : 0;
}

struct explicit_call {
    overland_grid &g;
    explicit_step_control &c;
    const bool stream_variant;
    double work;                    // working step (s)
    int reductions = 0;
    bool continue_anyway = false;
    bool failure_reported = false;
    long long held = 0;  // standing-water faces held in the sub-steps of this attempt
    double step = 0.0;   // the step of the call (s)
    bool stopped = false;  // the run ends: the step control cannot meet the level-gap limit
    bool gap_only = false;  // the lake variant: only the level-gap check
    // The one pass: the survey of its last sub-step (pass_result), sound when it
    // ran and found no depth that is not a number.
    long long survey_wet = 0;
    bool survey_flows = false, survey_sound = false;
    double drained = 0.0;  // the outlet's drain in the accepted sub-steps (m)
};

// The outlet cell's drain over `step` seconds from `depth` by its free-outflow law,
// q = dx sqrt(S) h^(5/3) / n (m of depth). Like a face, it is taken from the depth
// at the start of the (sub-)step, and its Courant number 5/3 x drain / depth is held
// below the faces' limit by cutting the step.
double outlet_loss(const overland_grid &g, double depth, double step) {
    if (g.channel_explicit || g.outlet <= 0 || !(depth > 0.0) || !(g.outlet_slope > 0.0)) return 0.0;
    return step * std::sqrt(g.outlet_slope) * std::pow(depth, outlet_exponent) / (roughness_at(g, g.outlet) * g.dx);
}

// The drain taken: never more than the cell holds (a step within the outlet's
// Courant limit drains at most 3/5 of it; only a step past the limit, run on as a
// face would be, can reach the whole).
double outlet_taken(const overland_grid &g, double depth, double step) {
    return std::min(outlet_loss(g, depth, step), depth);
}

double outlet_courant(const overland_grid &g, double depth, double step) {
    return depth > 0.0 ? five_thirds * outlet_loss(g, depth, step) / depth : 0.0;
}

bool may_divide_step(const explicit_call &call) {
    return call.work > smallest_step && call.reductions < max_reductions;
}

// Divides the working step by three, for this call and the next few; false when
// it may be divided no more.
bool divide_step(explicit_call &call) {
    if (!may_divide_step(call)) return false;
    if (!call.g.quiet) std::printf(" *Changing overland time step to %4.2lf seconds...\n", call.work / 3.0);
    call.work /= 3.0;
    call.c.reduced_step = call.work;
    call.c.reduced_count = calls_with_reduced_step;
    ++call.reductions;
    return true;
}

// True when the outlet's Courant number over `step` reaches the limit and the
// working step was divided by three (with the cut's messages), or when the step
// may be divided no more and the drain would take more than the cell holds: the
// run then stops, naming the step it needs.
bool reduce_for_outlet(explicit_call &call, double depth, double step) {
    const double u = outlet_courant(call.g, depth, step);
    if (u < max_face_courant) return false;
    if (!may_divide_step(call)) {
        if (outlet_loss(call.g, depth, step) < depth) return false;  // it drains past the limit, as a face may
        const double needed = step / u;
        std::printf("The outlet cell %d drains more water than it holds even in steps of %.4lf s: it needs\n"
                    "steps of %.4lf s or less. Reduce TIMESTEP (now %.4lf s) to %.4lf s or less and try again.\n",
                    call.g.outlet, step, needed, call.step, needed);
        raise_printed_error();
        call.stopped = true;
        return true;
    }
    if (!call.g.quiet) {
        if (!call.failure_reported) std::printf("\n");
        call.failure_reported = true;
        std::printf("  ]outlet:_U_%2.4lf dt:%4.2lf j:%d\n    -> Cell Exceded Celerity Check\n", u, step, call.g.outlet);
    }
    return divide_step(call);
}

// The outlet drains at the start of a sub-step of the separate-sweep variants or
// of a fine region, from the depth the faces then start from; true when its
// Courant number asks for a shorter step (the call restarts) or stops the run.
bool drain_at_substep_start(explicit_call &call, double step) {
    overland_grid &g = call.g;
    if (g.channel_explicit || g.outlet <= 0) return false;
    double &h = g.h[at(g.outlet)];
    if (!call.continue_anyway && reduce_for_outlet(call, h, step)) return true;
    const double loss = outlet_taken(g, h, step);
    h -= loss;
    call.drained += loss;
    return false;
}

// The face check; true when the call must restart from the saved depths.
bool check_face(explicit_call &call, const direction &dir, int i, int k, double q,
                double step, bool beyond_gap = false) {
    overland_grid &g = call.g;
    const double big_h = q * step / g.dx;
    const bool stream_face_here = call.stream_variant && (is_stream_cell(g, i) || is_stream_cell(g, k));
    const double u = face_courant(g.h.data(), i, k, big_h, stream_face_here);
    const int donor = big_h > 0.0 ? i : k;
    const double rest = big_h > 0.0 ? g.h[at(i)] - big_h : g.h[at(k)] + big_h;
    const int kind = face_failure(g, g.h.data(), i, k, big_h, beyond_gap, stream_face_here, call.gap_only);
    if (kind == 0) return false;

    if (!g.quiet) {
        if (!call.failure_reported) std::printf("\n");
        call.failure_reported = true;
        if (kind == 1) {
            std::printf("  ]%c:_U_%2.4lf H%2.4lf Q:%4.2lf dt:%4.2lf j:%d\n", dir.name, u, big_h, q,
                        step, i);
            std::printf("    -> Cell Exceded Celerity Check\n");
        } else if (kind == 2) {
            std::printf("  ]%c:U%2.4lf _H_%2.4lf Q:%4.2lf dt:%4.2lf j:%d\n", dir.name, u, big_h, q,
                        step, i);
            std::printf("    -> Cell Exceeded Max Height Change\n");
        } else if (kind == 3) {
            std::printf("  ]%c: h+dh < 0.00   (h+dh=%lf)  j:%d\n", dir.name, rest, donor);
            std::printf("    -> Outflow Exceeded Water Depth\n");
        } else {
            std::printf("  ]%c:U%2.4lf H%2.4lf Q:%4.2lf dt:%4.2lf j:%d\n", dir.name, u, big_h, q, step, i);
            std::printf("    -> Cell Exceeded a Third of its Level Gap\n");
        }
    }
    if (divide_step(call)) return true;
    if (kind == 4 || call.gap_only) {
        // Flowing water past the stability limit even at the shortest step.
        const double gap = (g.z[at(i)] + g.h[at(i)]) - (g.z[at(k)] + g.h[at(k)]);
        const double needed = call.work * explicit_flowing_share * std::fabs(gap) / std::fabs(big_h);
        std::printf("Overland flow across the face of grid cell %d moves more than a third of its\n"
                    "level gap even in steps of %.4lf s: it needs steps of %.4lf s or less.\n"
                    "Reduce TIMESTEP (now %.4lf s) to %.4lf s or less and try again.\n",
                    i, call.work, needed, call.step, needed);
        raise_printed_error();
        call.stopped = true;
        return true;
    }
    if (call.work > smallest_step && !g.quiet)
        std::printf(" *Time step to small to divide, continuing with current time step\n");
    call.continue_anyway = true;
    return false;
}

// One sweep of the base and stream-cell variants; true when the call must
// restart after a step reduction. Without `book` the transfers are only
// checked, not added to the depth changes.
bool sweep(explicit_call &call, const direction &dir, double step, bool book = true) {
    overland_grid &g = call.g;
    for (int i = 1; i <= g.cells; ++i) {
        if (call.stream_variant && g.h[at(i)] < 0.0) {
            if (g.negative_depth_volume) *g.negative_depth_volume += -g.h[at(i)] * g.dx * g.dx;
            g.h[at(i)] = 0.0;
        }
        const int k = dir.neighbour[at(i)];
        if (k == 0 || (g.dikes_on && (g.dike[at(i)] & dir.dike_bit))) continue;

        double q;
        if (call.stream_variant && (is_stream_cell(g, i) || is_stream_cell(g, k))) {
            q = (is_stream_cell(g, i) && is_stream_cell(g, k)) ? 0.0 : stream_face(g, i, k);
        } else if (g.wetlands_on && g.wetland_id[at(i)] > 0) {
            q = wetland_face(g, face_bed_slope(g, i, k), i, k);
        } else if (g.h[at(i)] < retention_at(g, i)) {
            q = 0.0;
        } else {
            double sf = face_slope(g, face_bed_slope(g, i, k), i, k);
            if (std::fabs(sf) < 1e-20) sf = 1e-20;
            const double d = (sf >= 0.0 ? g.h[at(i)] : g.h[at(k)]) - retention_at(g, i);
            q = d > 0.0 ? manning(sf, d, roughness_at(g, i)) : 0.0;
        }
        double transfer = q * step / g.dx;
        bool beyond_gap = false;
        if (!(call.stream_variant && (is_stream_cell(g, i) || is_stream_cell(g, k)))) {
            transfer = limit_to_level_gap(g, i, k, transfer, call.held, call.continue_anyway);
            q = transfer * g.dx / step;
            beyond_gap = beyond_level_gap(g, i, k, transfer);
        }
        dir.q[at(i)] = q;
        if (dir.name == 'y' && std::isnan(transfer))
            std::printf("uh oh...   dhh[%d]: %lf\n", i, transfer);
        if (book) {
            g.dh[at(i)] -= transfer;
            g.dh[at(k)] += transfer;
        }
        if (!call.continue_anyway && check_face(call, dir, i, k, q, step, beyond_gap)) return true;
    }
    return false;
}

// Land-stream faces of one sub-step into the stream cells' exchange sums.
void book_stream_faces(overland_grid &g, double step) {
    for (int i = 1; i <= g.cells; ++i) {
        const int ks[2] = {g.right[at(i)], g.down[at(i)]};
        const double qs[2] = {g.qx[at(i)], g.qy[at(i)]};
        for (int f = 0; f < 2; ++f) {
            const int k = ks[f];
            if (k == 0 || is_stream_cell(g, i) == is_stream_cell(g, k)) continue;
            const int land = is_stream_cell(g, i) ? k : i;
            const std::size_t sc = at(g.stream_id[at(is_stream_cell(g, i) ? i : k)]);
            const double volume = std::fabs(qs[f] * step * g.dx);
            const double land_level = g.z[at(land)] + g.h[at(land)];
            if (land_level > g.stream_level[sc]) {
                g.stream_net[sc] += volume;
                g.stream_in[sc] += volume;
            } else if (land_level < g.stream_level[sc]) {
                g.stream_net[sc] -= volume;
                g.stream_out[sc] += volume;
            }
        }
    }
}

void apply_changes(overland_grid &g, bool skip_stream_cells) {
    for (int i = 1; i <= g.cells; ++i) {
        if (!(skip_stream_cells && is_stream_cell(g, i))) g.h[at(i)] += g.dh[at(i)];
        g.dh[at(i)] = 0.0;
    }
}

// A finished sub-step of `step` seconds into the step's face volumes; qx and qy
// hold q_scale times the face discharges in m3/s.
void add_face_volumes(overland_grid &g, explicit_step_control &c, double step, double q_scale) {
    if (!c.keep_step_flows) return;
    const double f = step * q_scale;
    for (int i = 1; i <= g.cells; ++i) {
        c.step_volume_x[at(i)] += g.qx[at(i)] * f;
        c.step_volume_y[at(i)] += g.qy[at(i)] * f;
    }
    ++c.substeps;
}

void clear_face_volumes(overland_grid &g, explicit_step_control &c) {
    if (!c.keep_step_flows) return;
    for (int i = 1; i <= g.cells; ++i) c.step_volume_x[at(i)] = c.step_volume_y[at(i)] = 0.0;
    c.substeps = 0;
}

// ---- The base variant in one pass per sub-step ----
// Over tables numbered row by row (the right neighbour of i is i + 1; the down
// neighbours lie after their cells and rise with the cell number) both sweeps of
// a sub-step share one pass in cell order, and each cell takes its new depth as
// soon as its own two faces are done: every face (i, k) has k > i, so no face of
// the pass reads a depth that the pass has already changed. Each cell's change is
// summed in the order of the two separate sweeps; the down face's transfer into a
// cell waits in a ring of slots (a little more than one row) until the cell is
// reached. The faces are computed in chunks of cells, gathered and tested without
// branches, with the powers d^(5/3) of a chunk in one call: one for each cell
// whose faces both flow away from it, one more for each face that takes the
// neighbour's depth. The discharge is taken back from the transfer only when the
// level-gap limit clips it. A sub-step in which a face may fail its check, or
// moves a transfer that is not a number, is taken back (rebuilt from the saved
// depths) and checked again by the separate sweeps, which report and answer it.

constexpr int chunk_cells = explicit_chunk_cells;

// y[c] = sqrt(|x[c]|) for c < n: the same correctly rounded values as std::sqrt,
// two at a time where the processor has the instruction (std::sqrt in a loop
// keeps the compiler from vectorising it, for the sake of errno).
inline void sqrt_abs_n(const double *x, double *y, int n) {
    int c = 0;
#if defined(__SSE2__)
    const __m128d sign = _mm_set1_pd(-0.0);
    for (; c + 2 <= n; c += 2)
        _mm_storeu_pd(y + c, _mm_sqrt_pd(_mm_andnot_pd(sign, _mm_loadu_pd(x + c))));
#endif
    for (; c < n; ++c) y[c] = std::sqrt(std::fabs(x[c]));
}

#if defined(__SSE2__)
// a where mask is set, else b.
inline __m128d choose(__m128d mask, __m128d a, __m128d b) {
    return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}
// std::max(a, b) two at a time (b where a < b, else a).
inline __m128d deeper(__m128d a, __m128d b) { return choose(_mm_cmplt_pd(a, b), b, a); }
#endif

// True when the tables allow the one pass; the check and the ring of slots are
// kept for the tables of the last call.
bool row_tables(const overland_grid &g, explicit_step_control &c) {
    if (c.tables_right == g.right.data() && c.tables_down == g.down.data() &&
        c.tables_cells == g.cells)
        return c.tables_fused != 0;
    const int *right = g.right.data(), *down = g.down.data();
    bool fused = g.cells >= 1;
    int last_down = 0, gap = 0;
    for (int i = 1; i <= g.cells; ++i) {
        const int k = down[i];
        fused &= right[i] == 0 || right[i] == i + 1;
        if (k == 0) continue;
        fused &= k > i && k <= g.cells && k > last_down;
        last_down = k;
        gap = std::max(gap, k - i);
    }
    std::size_t ring = 1;
    while (ring <= static_cast<std::size_t>(gap)) ring *= 2;
    // The last slot takes the transfers of closed faces.
    if (fused) c.pending.assign(ring + 1, 0.0);
    // The cell whose down face reaches each cell, for the fine region's edges.
    c.local_from_up.assign(fused ? at(g.cells) + 1 : 0, 0);
    for (int i = 1; fused && i <= g.cells; ++i)
        if (down[i] > 0) c.local_from_up[at(down[i])] = i;
    c.tables_right = g.right.data();
    c.tables_down = g.down.data();
    c.tables_cells = g.cells;
    c.tables_fused = fused ? 1 : 0;
    return fused;
}

// The variants that run the one pass: no stream cells, wetlands or lakes.
bool one_pass_variant(const overland_grid &g, explicit_step_control &c) {
    return !g.stream_on && !g.lakes_on && !g.wetlands_on && row_tables(g, c);
}

struct pass_arrays {
    const double *z, *r, *n;  // r, n: null when every cell has retention r_uniform, roughness n_uniform
    const int *right, *down, *dike;  // dike: null without dikes
    double *qx, *qy;
    double *ring;
    std::size_t mask;  // ring slots 0..mask, slot mask + 1 for closed faces
    double dx;
    double r_uniform, n_uniform;
    bool x_first;
    // When given: each face's transfer (m) per cell, and per chunk of
    // chunk_cells cells whether one of its faces may fail its check.
    double *tx = nullptr, *ty = nullptr;
    unsigned char *chunk_fail = nullptr;
};

struct pass_result {
    bool may_fail = false;      // a face may fail its check
    bool not_a_number = false;  // a transfer is not a number
    long long held = 0;         // standing-water faces held to a quarter of their level gap
    // The survey of the depths and discharges written, when asked for: the wet
    // cells (depth above 1e-16 m), a face discharge above 1e-16 in size, a depth
    // that is not a number.
    long long wet = 0;
    bool flows = false, depth_nan = false;
};

// The survey of one chunk's cells from i on, while they are in the cache.
inline void survey_chunk(const double *to, const double *qx, const double *qy, int len,
                         pass_result &result) {
    long long wet = 0;
    int flows = 0, nan = 0;
    for (int c = 0; c < len; ++c) {
        const double d = to[c];
        nan |= d != d;
        wet += d > 1e-16;
        flows |= (std::fabs(qx[c]) > 1e-16) | (std::fabs(qy[c]) > 1e-16);
    }
    result.wet += wet;
    result.flows |= flows != 0;
    result.depth_nan |= nan != 0;
}

using chunk_direction = explicit_chunk_direction;

// Transfers and discharges of one direction of a chunk from the powers `p`, from
// cell `first` (even) on; the check folded into the result. Vectorisable: no
// branches.
inline void chunk_transfers(chunk_direction &d, const double *p, const double *own,
                            const double *n, int first, int len, double step_over_dx,
                            double dx_over_step, pass_result &result) {
    // Conservative bounds, so that a face the separate sweeps would fail always
    // sends the sub-step to them (they compute the discharge a few units in the
    // last place differently).
    constexpr double celerity = five_thirds / max_face_courant * (1.0 + 1e-9), shortage = -0.0001 + 1e-12;
    constexpr double moved = 0.06 * (1.0 - 1e-9), gap_bound = explicit_flowing_share / level_gap_share * (1.0 - 1e-9);
    int fail = 0, nan = 0;
    long long held = 0;
    int c = first;
#if defined(__SSE2__)
    const __m128d zero = _mm_setzero_pd(), sign = _mm_set1_pd(-0.0);
    const __m128d sod = _mm_set1_pd(step_over_dx), dos = _mm_set1_pd(dx_over_step);
    const __m128d cel = _mm_set1_pd(celerity), sho = _mm_set1_pd(shortage), hei = _mm_set1_pd(moved);
    const __m128d bound = _mm_set1_pd(gap_bound);
    __m128d failing = zero, not_number = zero;
    for (; c + 2 <= len; c += 2) {
        const __m128d pc = _mm_loadu_pd(p + c);
        const __m128d m = _mm_mul_pd(_mm_div_pd(_mm_load_pd(d.root + c), _mm_loadu_pd(n + c)), pc);
        const __m128d sf = _mm_load_pd(d.sf + c);
        const __m128d signed_m = choose(_mm_cmpge_pd(sf, zero), m, _mm_xor_pd(m, sign));
        const __m128d flows =
            _mm_and_pd(_mm_cmpgt_pd(pc, zero), _mm_cmpneq_pd(_mm_load_pd(d.need + c), zero));
        __m128d q = _mm_and_pd(flows, signed_m);
        __m128d t = _mm_mul_pd(q, sod);
        const __m128d limit = _mm_load_pd(d.limit + c);
        const __m128d stands = _mm_cmpneq_pd(_mm_load_pd(d.stands + c), zero);
        const __m128d clip = _mm_and_pd(stands, _mm_cmpgt_pd(_mm_andnot_pd(sign, t), limit));
        // A flowing face beyond the limit fails the check.
        failing = _mm_or_pd(failing, _mm_andnot_pd(stands, _mm_cmpgt_pd(_mm_andnot_pd(sign, t), _mm_mul_pd(limit, bound))));
        const __m128d clipped = choose(_mm_cmpge_pd(t, zero), limit, _mm_xor_pd(limit, sign));
        q = choose(clip, _mm_mul_pd(clipped, dos), q);
        t = choose(clip, clipped, t);
        held += __builtin_popcount(static_cast<unsigned>(_mm_movemask_pd(clip)));
        const __m128d rest = choose(_mm_cmpgt_pd(t, zero), _mm_sub_pd(_mm_loadu_pd(own + c), t),
                                    _mm_add_pd(_mm_load_pd(d.hk + c), t));
        // Courant number 5/3 |t| / (donor depth) at or above the limit.
        const __m128d donor = choose(_mm_cmpgt_pd(t, zero), _mm_loadu_pd(own + c), _mm_load_pd(d.hk + c));
        failing = _mm_or_pd(failing, _mm_and_pd(_mm_cmpneq_pd(t, zero),
                                                _mm_cmpge_pd(_mm_mul_pd(_mm_andnot_pd(sign, t), cel), donor)));
        failing = _mm_or_pd(failing, _mm_cmpge_pd(_mm_andnot_pd(sign, t), hei));
        failing = _mm_or_pd(failing, _mm_and_pd(_mm_cmpneq_pd(t, zero), _mm_cmplt_pd(rest, sho)));
        not_number = _mm_or_pd(not_number, _mm_cmpunord_pd(t, t));
        _mm_store_pd(d.t + c, t);
        _mm_store_pd(d.q + c, q);
    }
    fail |= _mm_movemask_pd(failing);
    nan |= _mm_movemask_pd(not_number);
#endif
    // Every value is computed before it is chosen, so that the compiler can turn
    // the choices into selects (it keeps arithmetic that may raise a flag out of
    // a conditional arm).
    for (; c < len; ++c) {
        const double m = d.root[c] / n[c] * p[c];
        const double minus_m = -m;
        const double sf = d.sf[c];
        const double signed_m = sf >= 0.0 ? m : minus_m;
        const bool flows = (p[c] > 0.0) & (d.need[c] != 0.0);
        double q = flows ? signed_m : 0.0;
        double t = q * step_over_dx;
        const double limit = d.limit[c], minus_limit = -limit;
        const bool stands = d.stands[c] != 0.0;
        const bool clip = stands & (std::fabs(t) > limit);
        fail |= !stands & (std::fabs(t) > limit * gap_bound);
        const double clipped = t >= 0.0 ? limit : minus_limit;
        const double clipped_q = clipped * dx_over_step;
        q = clip ? clipped_q : q;
        t = clip ? clipped : t;
        held += clip;
        // The face check: Courant number, height change, and the donor's water.
        const double given = own[c] - t, taken = d.hk[c] + t;
        const double rest = t > 0.0 ? given : taken;
        const double donor = t > 0.0 ? own[c] : d.hk[c];
        fail |= ((t != 0.0) & (std::fabs(t) * celerity >= donor)) | (std::fabs(t) >= moved) |
                ((t != 0.0) & (rest < shortage));
        nan |= t != t;
        d.t[c] = t;
        d.q[c] = q;
    }
    result.may_fail |= fail != 0;
    result.not_a_number |= nan != 0;
    result.held += held;
}

// One sub-step of `step` seconds over all cells from the depths `from` into `to`
// (which may be `from`); the face discharges times `q_scale` into qx, qy. `save`,
// when given, takes the depths read.
template <bool dikes>
pass_result one_pass(const pass_arrays &a, int cells, const double *from, double *to,
                     double *save, double step, double q_scale, bool hold_all, bool survey) {
    pass_result result;
    const double dx = a.dx, inv_dx = 1.0 / dx, step_over_dx = step / dx, dx_over_step = dx / step;
    const double *z = a.z, *r = a.r, *n = a.n;
    const int *right = a.right, *down = a.down, *dike = a.dike;
    double *ring = a.ring;
    const std::size_t mask = a.mask;
    std::fill(ring, ring + mask + 2, 0.0);
    // Without a retention map every chunk reads this block of the one depth.
    alignas(32) double uniform_r[chunk_cells];
    if (!r) std::fill(uniform_r, uniform_r + chunk_cells, a.r_uniform);
    // Likewise the roughness.
    alignas(32) double uniform_n[chunk_cells];
    if (!n) std::fill(uniform_n, uniform_n + chunk_cells, a.n_uniform);

    const explicit_chunk_inputs in{from, z, right, down, dike, mask, dx, inv_dx};
    // The chunk loops four cells at a time (overland_explicit_chunks.cpp) where
    // the processor has AVX2.
    const bool vector = explicit_chunks_avx2();
    explicit_chunk k;
    chunk_direction &fx = k.fx, &fy = k.fy;
    double *own = k.own, *arg_first = k.arg_first, *arg_y = k.arg_y;
    int *second = k.second, *slot = k.slot;
    alignas(32) double zk_x[chunk_cells], zk_y[chunk_cells];
    alignas(32) double open_xs[chunk_cells], open_ys[chunk_cells];
    alignas(32) double arg_second[chunk_cells];
    alignas(32) double p_first[chunk_cells], p_second[chunk_cells], p_y[chunk_cells];
    double from_left = 0.0;  // transfer of the face (i - 1, i)
    for (int start = 1; start <= cells; start += chunk_cells) {
        const int len = std::min(chunk_cells, cells - start + 1);
        const double *hb = from + start;
        const bool failed_before = result.may_fail;
        if (a.chunk_fail) result.may_fail = false;
        // The cells that the four-at-a-time loop gathers and prepares (with
        // their slopes and power arguments): whole fours whose next cell exists.
        const int prepared = vector ? std::min(len, cells - start) & ~3 : 0;
        // Gather: the cell's and its neighbours' depths and elevations.
        for (int c = prepared; c < len; ++c) {
            const int i = start + c;
            const int kx = right[i], ky = down[i];
            const int code = dikes ? dike[i] : 0;
            const bool open_x = (kx != 0) & ((code & 2) == 0);
            const bool open_y = (ky != 0) & ((code & 4) == 0);
            const int jx = open_x ? kx : i, jy = open_y ? ky : i;
            fx.hk[c] = from[jx];
            fy.hk[c] = from[jy];
            zk_x[c] = z[jx];
            zk_y[c] = z[jy];
            open_xs[c] = open_x ? 1.0 : 0.0;
            open_ys[c] = open_y ? 1.0 : 0.0;
            own[c] = hb[c];
            slot[c] = open_y ? static_cast<int>(static_cast<std::size_t>(ky) & mask)
                             : static_cast<int>(mask + 1);
        }
        // The faces' slopes and level gaps, and the power arguments.
        {
            const double *rb = r ? r + start : uniform_r, *zb = z + start;
            int c = 0;
            // The four-at-a-time loop first, where it runs.
            if (prepared > 0) c = explicit_faces_avx2(in, rb, start, prepared, k);
#if defined(__SSE2__)
            {
                const __m128d zero = _mm_setzero_pd(), sign = _mm_set1_pd(-0.0);
                const __m128d vdx = _mm_set1_pd(dx), vinv = _mm_set1_pd(inv_dx);
                const __m128d tiny = _mm_set1_pd(1e-30), flat = _mm_set1_pd(1e-20);
                const __m128d quarter = _mm_set1_pd(level_gap_share), one = _mm_set1_pd(1.0);
                const __m128d half = _mm_set1_pd(0.5), tolerance = _mm_set1_pd(standing_tolerance);
                // standing_face two at a time: 1 where the face stands.
                const __m128d depth_share = _mm_set1_pd(standing_depth_share);
                const auto stands_of = [&](__m128d gap, __m128d drop, __m128d depth) {
                    const __m128d d = _mm_andnot_pd(sign, drop);
                    const __m128d excess = _mm_sub_pd(_mm_mul_pd(depth_share, depth), d);
                    const __m128d edge = _mm_add_pd(_mm_add_pd(_mm_mul_pd(half, d), tolerance),
                                                    choose(_mm_cmpgt_pd(excess, zero), excess, zero));
                    return _mm_and_pd(_mm_cmple_pd(_mm_andnot_pd(sign, gap), edge), one);
                };
                for (; c + 2 <= len; c += 2) {
                    const __m128d hi = _mm_load_pd(own + c), ri = _mm_loadu_pd(rb + c);
                    const __m128d zi = _mm_loadu_pd(zb + c);
                    const __m128d hx = _mm_load_pd(fx.hk + c), hy = _mm_load_pd(fy.hk + c);
                    const __m128d zx = _mm_load_pd(zk_x + c), zy = _mm_load_pd(zk_y + c);
                    __m128d sx = _mm_add_pd(_mm_sub_pd(_mm_div_pd(_mm_sub_pd(zi, zx), vdx),
                                                       _mm_mul_pd(_mm_sub_pd(hx, hi), vinv)),
                                            tiny);
                    __m128d sy = _mm_add_pd(_mm_sub_pd(_mm_div_pd(_mm_sub_pd(zi, zy), vdx),
                                                       _mm_mul_pd(_mm_sub_pd(hy, hi), vinv)),
                                            tiny);
                    sx = choose(_mm_cmplt_pd(_mm_andnot_pd(sign, sx), flat), flat, sx);
                    sy = choose(_mm_cmplt_pd(_mm_andnot_pd(sign, sy), flat), flat, sy);
                    _mm_store_pd(fx.sf + c, sx);
                    _mm_store_pd(fy.sf + c, sy);
                    const __m128d level = _mm_add_pd(zi, hi);
                    const __m128d gap_x = _mm_sub_pd(level, _mm_add_pd(zx, hx));
                    _mm_store_pd(fx.limit + c, _mm_mul_pd(quarter, _mm_andnot_pd(sign, gap_x)));
                    _mm_store_pd(fx.stands + c, stands_of(gap_x, _mm_sub_pd(zi, zx), deeper(hi, hx)));
                    const __m128d gap_y = _mm_sub_pd(level, _mm_add_pd(zy, hy));
                    _mm_store_pd(fy.limit + c, _mm_mul_pd(quarter, _mm_andnot_pd(sign, gap_y)));
                    _mm_store_pd(fy.stands + c, stands_of(gap_y, _mm_sub_pd(zi, zy), deeper(hi, hy)));
                    const __m128d wet = _mm_cmpnlt_pd(hi, ri);  // !(hi < ri)
                    const __m128d open_x = _mm_cmpneq_pd(_mm_load_pd(open_xs + c), zero);
                    const __m128d need_x = _mm_and_pd(open_x, wet);
                    const __m128d open_y = _mm_cmpneq_pd(_mm_load_pd(open_ys + c), zero);
                    const __m128d need_y = _mm_and_pd(open_y, wet);
                    _mm_store_pd(fx.need + c, _mm_and_pd(need_x, one));
                    _mm_store_pd(fy.need + c, _mm_and_pd(need_y, one));
                    const __m128d d_own = _mm_sub_pd(hi, ri);
                    const __m128d away_x = _mm_cmpge_pd(sx, zero), away_y = _mm_cmpge_pd(sy, zero);
                    const __m128d dx_face = choose(away_x, d_own, _mm_sub_pd(hx, ri));
                    const __m128d dy_face = choose(away_y, d_own, _mm_sub_pd(hy, ri));
                    const __m128d first = choose(need_x, dx_face, dy_face);
                    _mm_store_pd(arg_first + c, _mm_and_pd(_mm_cmpgt_pd(first, zero), first));
                    _mm_store_pd(arg_y + c, _mm_and_pd(_mm_cmpgt_pd(dy_face, zero), dy_face));
                    const int two = _mm_movemask_pd(
                        _mm_andnot_pd(_mm_and_pd(away_x, away_y), _mm_and_pd(need_x, need_y)));
                    second[c] = two & 1;
                    second[c + 1] = (two >> 1) & 1;
                }
            }
#endif
            for (; c < len; ++c) {
                const double hi = own[c], ri = rb[c], zi = zb[c];
                const double hx = fx.hk[c], hy = fy.hk[c], zx = zk_x[c], zy = zk_y[c];
                double sx = (zi - zx) / dx - (hx - hi) * inv_dx + 1e-30;
                double sy = (zi - zy) / dx - (hy - hi) * inv_dx + 1e-30;
                sx = std::fabs(sx) < 1e-20 ? 1e-20 : sx;
                sy = std::fabs(sy) < 1e-20 ? 1e-20 : sy;
                fx.sf[c] = sx;
                fy.sf[c] = sy;
                fx.limit[c] = level_gap_share * std::fabs((zi + hi) - (zx + hx));
                fy.limit[c] = level_gap_share * std::fabs((zi + hi) - (zy + hy));
                fx.stands[c] = standing_face((zi + hi) - (zx + hx), zi - zx, std::max(hi, hx)) ? 1.0 : 0.0;
                fy.stands[c] = standing_face((zi + hi) - (zy + hy), zi - zy, std::max(hi, hy)) ? 1.0 : 0.0;
                const bool wet = !(hi < ri);
                const bool need_x = (open_xs[c] != 0.0) & wet, need_y = (open_ys[c] != 0.0) & wet;
                fx.need[c] = need_x ? 1.0 : 0.0;
                fy.need[c] = need_y ? 1.0 : 0.0;
                // A face flowing away from i takes i's depth above retention, one
                // flowing toward i its neighbour's.
                const double d_own = hi - ri, d_x = hx - ri, d_y = hy - ri;
                const bool away_x = sx >= 0.0, away_y = sy >= 0.0;
                const double dx_face = away_x ? d_own : d_x;
                const double dy_face = away_y ? d_own : d_y;
                const double first = need_x ? dx_face : dy_face;
                arg_first[c] = first > 0.0 ? first : 0.0;
                arg_y[c] = dy_face > 0.0 ? dy_face : 0.0;
                second[c] = need_x & need_y & !(away_x & away_y);
            }
        }
        // Once the step control has given up every face is held to its level gap.
        if (hold_all) {
            std::fill(fx.stands, fx.stands + len, 1.0);
            std::fill(fy.stands, fy.stands + len, 1.0);
        }
        // The down faces that need a power of their own, packed.
        int m = 0;
        for (int c = 0; c < len; ++c) {
            arg_second[m] = arg_y[c];
            m += second[c];
        }
        pow_five_thirds_n(arg_first, p_first, static_cast<std::size_t>(len));
        const double *py = p_first;  // the down faces' powers
        if (m > 0) {
            pow_five_thirds_n(arg_second, p_second, static_cast<std::size_t>(m));
            for (int c = 0, j = 0; c < len; ++c) {
                p_y[c] = second[c] ? p_second[j] : p_first[c];
                j += second[c];
            }
            py = p_y;
        }
        const int fours = vector ? len & ~3 : 0;
        const double *nb = n ? n + start : uniform_n;
        if (vector) {
            explicit_transfers_avx2(fx, p_first, own, nb, fours, step_over_dx, dx_over_step,
                                    result.may_fail, result.not_a_number, result.held);
            explicit_transfers_avx2(fy, py, own, nb, fours, step_over_dx, dx_over_step,
                                    result.may_fail, result.not_a_number, result.held);
        }
        sqrt_abs_n(fx.sf + fours, fx.root + fours, len - fours);
        sqrt_abs_n(fy.sf + fours, fy.root + fours, len - fours);
        chunk_transfers(fx, p_first, own, nb, fours, len, step_over_dx, dx_over_step, result);
        chunk_transfers(fy, py, own, nb, fours, len, step_over_dx, dx_over_step, result);
        if (a.chunk_fail) {
            a.chunk_fail[(start - 1) / chunk_cells] = result.may_fail ? 1 : 0;
            result.may_fail |= failed_before;
        }
        if (a.tx) {
            std::copy(fx.t, fx.t + len, a.tx + start);
            std::copy(fy.t, fy.t + len, a.ty + start);
        }
        if (vector) {
            explicit_apply_avx2(k, start, len, prepared, ring, mask, to, save, a.qx, a.qy, q_scale,
                                a.x_first, from_left);
            if (survey) survey_chunk(to + start, a.qx + start, a.qy + start, len, result);
            continue;
        }
        // Apply: each cell's change in the order of the separate sweeps.
        for (int c = 0; c < len; ++c) {
            const int i = start + c;
            const std::size_t self = static_cast<std::size_t>(i) & mask;
            const double from_up = ring[self];  // the down sweep's transfer into i
            ring[self] = 0.0;
            const double tx = fx.t[c], ty = fy.t[c];
            const double change = a.x_first ? (((0.0 + from_left) - tx) + from_up) - ty
                                            : (((0.0 + from_up) - ty) + from_left) - tx;
            if (save) save[i] = own[c];
            to[i] = own[c] + change;
            ring[slot[c]] = ty;
            a.qx[i] = fx.q[c] * q_scale;
            a.qy[i] = fy.q[c] * q_scale;
            from_left = tx;
        }
        if (survey) survey_chunk(to + start, a.qx + start, a.qy + start, len, result);
    }
    return result;
}

pass_result run_pass(const pass_arrays &a, int cells, const double *from, double *to,
                     double *save, double step, double q_scale, bool hold_all = false,
                     bool survey = false) {
    return a.dike ? one_pass<true>(a, cells, from, to, save, step, q_scale, hold_all, survey)
                  : one_pass<false>(a, cells, from, to, save, step, q_scale, hold_all, survey);
}

// The arrays of the one pass over the grid of this call.
pass_arrays arrays_of(overland_grid &g, explicit_step_control &c) {
    return pass_arrays{g.z.data(),  g.r.data(),  g.n.data(),
                       g.right.data(), g.down.data(), g.dikes_on ? g.dike.data() : nullptr,
                       g.qx.data(), g.qy.data(), c.pending.data(),
                       c.pending.size() - 2, g.dx, g.r_uniform, g.n_uniform, c.sweep_flag == 0};
}

// ---- Sub-steps local to the cells that need them (the one pass) ----
// A step in which some faces fail their check at the whole step is taken in two
// parts. Every face that passes keeps the transfer that the pass computes for it
// at the whole step from the depths at the start. The cells of the faces that
// fail, with a margin of fine_margin cells around them, form the fine region: it
// runs the sub-steps of the step control (the same checks, messages and cuts)
// over its own faces only. A face between the fine region and the rest carries
// its whole-step transfer: the cell outside takes it with the pass, the cell
// inside in shares over its sub-steps (the last one the remainder), so every
// face's water leaves one cell and enters the other. Where the fine region would
// hold more than fine_share of the cells, the whole grid takes the sub-steps.
constexpr int fine_margin = 3;
bool local_substeps = true;
constexpr double fine_share = 0.25;

// The check of face i -> k that moved `t` (m) from the depths h, as check_face
// makes it for the base variant. Result: true when the face fails.
bool fails_check(const overland_grid &g, const double *h, int i, int k, double t) {
    return t != 0.0 && face_failure(g, h, i, k, t, beyond_level_gap(g, h, i, k, t), false, false) != 0;
}

// True when a standing face i -> k of the depths h was held to a quarter of its
// level gap in moving `t`.
bool held_to_gap(const overland_grid &g, const double *h, int i, int k, double t) {
    const double gap = (g.z[at(i)] + h[i]) - (g.z[at(k)] + h[k]);
    return t != 0.0 && std::fabs(t) == level_gap_share * std::fabs(gap) &&
           standing_face(gap, g.z[at(i)] - g.z[at(k)], std::max(h[i], h[k]));
}

// Face i -> k of the base variant over `step` seconds from the depths g.h, as
// the sweep computes it. Result: the transfer (m); q takes the unit discharge
// (m2/s), beyond_gap whether flowing water moves beyond its share of the gap.
double base_face(explicit_call &call, int i, int k, double step, double &q, bool &beyond_gap) {
    const overland_grid &g = call.g;
    q = 0.0;
    if (!(g.h[at(i)] < retention_at(g, i))) {
        double sf = face_slope(g, face_bed_slope(g, i, k), i, k);
        if (std::fabs(sf) < 1e-20) sf = 1e-20;
        const double d = (sf >= 0.0 ? g.h[at(i)] : g.h[at(k)]) - retention_at(g, i);
        q = d > 0.0 ? manning(sf, d, roughness_at(g, i)) : 0.0;
    }
    const double transfer = limit_to_level_gap(g, i, k, q * step / g.dx, call.held, call.continue_anyway);
    q = transfer * g.dx / step;
    beyond_gap = beyond_level_gap(g, i, k, transfer);
    return transfer;
}

inline bool open_face(const overland_grid &g, int i, int k, int dike_bit) {
    return k != 0 && !(g.dikes_on && (g.dike[at(i)] & dike_bit));
}

enum class local_outcome { done, whole_grid };

// The step of the call with the one pass, and with sub-steps in the fine region
// where faces fail at the whole step. Result: done when the call is finished (or
// stopped), whole_grid when the depths are back at the start of the call and the
// whole grid must take sub-steps of call.work (route_in_one_pass).
local_outcome route_locally(explicit_call &call, double dt) {
    overland_grid &g = call.g;
    explicit_step_control &c = call.c;
    const int cells = g.cells;
    const std::size_t n = at(cells) + 1;
    double *h = g.h.data(), *saved = c.saved_depth.data();
    const bool reduced = call.work < dt;  // a step reduced in an earlier call
    if (c.local_tx.size() != n) {
        for (std::vector<double> *v : {&c.local_tx, &c.local_ty, &c.local_source, &c.local_given, &c.local_change,
                                       &c.local_qx, &c.local_qy, &c.local_volume_x, &c.local_volume_y})
            v->assign(n, 0.0);
        c.local_fine.assign(n, 0);
        c.local_cells.clear();
        c.local_chunk_fail.assign(at(cells) / chunk_cells + 1, 0);
    }
    const pass_arrays whole = arrays_of(g, c);
    pass_arrays kept = whole;
    kept.tx = c.local_tx.data();
    kept.ty = c.local_ty.data();
    kept.chunk_fail = c.local_chunk_fail.data();
    const direction first = c.sweep_flag == 0 ? x_direction(g) : y_direction(g);
    const direction second = c.sweep_flag == 0 ? y_direction(g) : x_direction(g);
    clear_face_volumes(g, c);
    const auto accept = [&](const pass_result &r) {
        call.work = dt;
        call.held = r.held;
        call.survey_wet = r.wet;
        call.survey_flows = r.flows;
        call.survey_sound = !r.depth_nan;
        add_face_volumes(g, c, dt, 1.0);
        return local_outcome::done;
    };
    const auto back_to_start = [&]() {
        std::copy(saved + 1, saved + cells + 1, h + 1);
        return local_outcome::whole_grid;
    };
    // The outlet drains at the start of the step, so the faces see the drained
    // cell; where its own Courant number at the whole step reaches the limit, the
    // outlet takes the region's sub-steps (and drains at the start of each).
    const bool drains = !g.channel_explicit && g.outlet > 0;
    const std::size_t o = at(std::max(g.outlet, 0));
    const double d0 = drains ? h[o] : 0.0;
    const bool outlet_ok = !drains || outlet_courant(g, d0, dt) < max_face_courant;
    const double loss = drains && outlet_ok ? outlet_taken(g, d0, dt) : 0.0;
    const auto drain_whole_step = [&] {
        if (drains) h[o] = d0 - loss;
    };
    call.drained = loss;
    drain_whole_step();
    // A step reduced in an earlier call keeps the transfers at once: the pass is
    // likely to fail somewhere.
    pass_result r = run_pass(reduced || !outlet_ok ? kept : whole, cells, h, h, saved, dt, g.dx, false, true);
    if (drains) saved[o] = d0;
    if (!r.not_a_number && !r.may_fail && outlet_ok) return accept(r);
    if (!reduced && (r.may_fail || r.not_a_number)) {
        // The separate sweeps answer the check and report the first failure.
        std::copy(saved + 1, saved + cells + 1, h + 1);
        drain_whole_step();
        const bool faces_fail = sweep(call, first, dt, false) || sweep(call, second, dt, false);
        if (!faces_fail && outlet_ok)
            return accept(run_pass(whole, cells, h, h, nullptr, dt, g.dx, call.continue_anyway, true));
        if (call.stopped) return local_outcome::done;
        if (!faces_fail && !reduce_for_outlet(call, d0, dt)) return back_to_start();
        if (call.stopped) return local_outcome::done;
        std::copy(saved + 1, saved + cells + 1, h + 1);
        drain_whole_step();
        r = run_pass(kept, cells, h, h, nullptr, dt, g.dx, false, true);
    } else if (!outlet_ok && outlet_courant(g, d0, call.work) >= max_face_courant &&
               !reduce_for_outlet(call, d0, call.work)) {
        return back_to_start();  // only the outlet fails, and the step may not be cut further
    }
    if (call.stopped) return local_outcome::done;
    if (r.not_a_number) return back_to_start();

    // The fine region: the cells of the faces that fail, and the margin.
    std::vector<unsigned char> &fine = c.local_fine;
    std::vector<int> &list = c.local_cells;
    const double *tx = c.local_tx.data(), *ty = c.local_ty.data();
    const std::size_t most = static_cast<std::size_t>(fine_share * cells);
    for (int i : list) fine[at(i)] = 0;
    list.clear();
    const auto join = [&](int i) {
        if (!fine[at(i)]) {
            fine[at(i)] = 1;
            list.push_back(i);
        }
    };
    for (std::size_t ch = 0; ch < c.local_chunk_fail.size(); ++ch) {
        if (!c.local_chunk_fail[ch]) continue;
        const int end = std::min(cells, static_cast<int>((ch + 1) * chunk_cells));
        for (int i = static_cast<int>(ch * chunk_cells) + 1; i <= end; ++i) {
            const int kx = g.right[at(i)], ky = g.down[at(i)];
            if (open_face(g, i, kx, 2) && fails_check(g, saved, i, kx, tx[i])) join(i), join(kx);
            if (open_face(g, i, ky, 4) && fails_check(g, saved, i, ky, ty[i])) join(i), join(ky);
        }
    }
    if (!outlet_ok) join(g.outlet);
    if (list.empty()) return reduced ? accept(r) : back_to_start();
    for (std::size_t begin = 0, m = 0; m < fine_margin; ++m) {
        const std::size_t end = list.size();
        for (std::size_t j = begin; j < end && list.size() <= most; ++j) {
            const int i = list[j];
            for (int k : {g.right[at(i)], g.down[at(i)], g.left[at(i)], g.up[at(i)]})
                if (k > 0) join(k);
        }
        begin = end;
    }
    if (list.size() > most) {
        for (int i : list) fine[at(i)] = 0;
        list.clear();
        return back_to_start();
    }
    std::sort(list.begin(), list.end());

    // The whole-step water of the faces to the rest of the grid, and the standing
    // faces the pass held inside the region (the region's sub-steps count theirs).
    double *source = c.local_source.data(), *given = c.local_given.data(), *change = c.local_change.data();
    const int *from_up = c.local_from_up.data();
    long long held_inside = 0;
    for (int i : list) {
        double s = 0.0;
        const int kx = g.right[at(i)], ky = g.down[at(i)], jx = i - 1, jy = from_up[i];
        if (open_face(g, i, kx, 2)) {
            if (!fine[at(kx)]) s -= tx[i];
            else held_inside += held_to_gap(g, saved, i, kx, tx[i]);
        }
        if (open_face(g, i, ky, 4)) {
            if (!fine[at(ky)]) s -= ty[i];
            else held_inside += held_to_gap(g, saved, i, ky, ty[i]);
        }
        if (jx >= 1 && g.right[at(jx)] == i && !fine[at(jx)] && open_face(g, jx, i, 2)) s += tx[jx];
        if (jy > 0 && !fine[at(jy)] && open_face(g, jy, i, 4)) s += ty[jy];
        source[i] = s;
    }
    const long long held_outside = r.held - held_inside;

    // The region's sub-steps, redone from the depths at the start after a cut.
    double *qx = c.local_qx.data(), *qy = c.local_qy.data();
    double *vx = c.local_volume_x.data(), *vy = c.local_volume_y.data();
    int substeps = 0;
    const bool outlet_fine = drains && fine[o];
    for (;;) {
        for (int i : list) {
            h[i] = saved[i];
            given[i] = vx[i] = vy[i] = 0.0;
        }
        if (outlet_fine) call.drained = 0.0;
        call.held = 0;
        substeps = 0;
        double elapsed = 0.0;
        bool restart = false;
        for (;;) {
            const double step = std::min(call.work, dt - elapsed);
            const double after = elapsed + step;
            const bool last = std::fabs(after - dt) < 0.0001 || after > dt;
            if (outlet_fine && drain_at_substep_start(call, step)) {
                if (call.stopped) return local_outcome::done;
                restart = true;
                break;
            }
            for (int i : list) change[i] = 0.0;
            for (const direction *dir : {&first, &second}) {
                double *q_dir = dir->name == 'x' ? qx : qy;
                for (int i : list) {
                    const int k = dir->neighbour[at(i)];
                    if (!open_face(g, i, k, dir->dike_bit) || !fine[at(k)]) continue;
                    double q;
                    bool beyond_gap;
                    const double t = base_face(call, i, k, step, q, beyond_gap);
                    q_dir[i] = q;
                    // Only a face near a limit of the check is checked in full (the
                    // factor above 5/3 and the height below 6 cm cover the rounding
                    // of its discharge there).
                    const double moved = std::fabs(t), donor = t > 0.0 ? h[i] : h[k];
                    const bool near_limit = beyond_gap || moved >= 0.0599 || (moved != 0.0 && moved * 1.6667 >= donor);
                    if (near_limit && !call.continue_anyway && check_face(call, *dir, i, k, q, step, beyond_gap)) {
                        if (call.stopped) return local_outcome::done;
                        restart = true;
                        break;
                    }
                    change[i] -= t;
                    change[k] += t;
                }
                if (restart) break;
            }
            if (restart) break;
            const double fraction = step / dt;
            for (int i : list) {
                const double share = last ? source[i] - given[i] : source[i] * fraction;
                given[i] += share;
                h[i] += change[i] + share;
                vx[i] += qx[i] * step;
                vy[i] += qy[i] * step;
            }
            ++substeps;
            elapsed = after;
            if (last) break;
        }
        if (!restart) break;
    }

    // The region's faces hand on their last sub-step's discharge (m3/s), or the
    // water they moved over the step.
    add_face_volumes(g, c, dt, 1.0);
    for (int i : list) {
        const int kx = g.right[at(i)], ky = g.down[at(i)];
        if (open_face(g, i, kx, 2) && fine[at(kx)]) {
            g.qx[at(i)] = qx[i] * g.dx;
            if (c.keep_step_flows) c.step_volume_x[at(i)] = vx[i] * g.dx;
        }
        if (open_face(g, i, ky, 4) && fine[at(ky)]) {
            g.qy[at(i)] = qy[i] * g.dx;
            if (c.keep_step_flows) c.step_volume_y[at(i)] = vy[i] * g.dx;
        }
    }
    if (c.keep_step_flows) c.substeps = substeps;
    call.held += held_outside;
    call.survey_sound = false;
    return local_outcome::done;
}

// Sub-steps of the working step until dt is covered in one pass each, redone from
// the saved depths after every reduction. The first attempt starts from the
// depths as they are and saves them on the way; a restart reads the saved ones.
// The face discharges of the last sub-step are written in m3/s.
void route_in_one_pass(explicit_call &call, double dt) {
    overland_grid &g = call.g;
    explicit_step_control &c = call.c;
    const pass_arrays a = arrays_of(g, c);
    double *h = g.h.data(), *saved = c.saved_depth.data();
    const int cells = g.cells;
    const bool drains = !g.channel_explicit && g.outlet > 0;
    const std::size_t o = at(std::max(g.outlet, 0));
    for (bool first_attempt = true;; first_attempt = false) {
        clear_face_volumes(g, c);
        call.drained = 0.0;
        double elapsed = 0.0;
        int done = 0;  // sub-steps of this attempt behind us
        bool restart = false;
        long long held = 0;  // by the accepted sub-steps
        for (;;) {
            // The last sub-step covers only what is left of dt.
            const double step = std::min(call.work, dt - elapsed);
            const double after = elapsed + step;
            const bool last = std::fabs(after - dt) < 0.0001 || after > dt;
            const double q_scale = last ? g.dx : 1.0;
            double *from = done == 0 && !first_attempt ? saved : h;
            double *save = done == 0 && first_attempt ? saved : nullptr;
            // The outlet drains at the start of the sub-step, so the pass sees the
            // drained cell; the saved depths keep its depth before the drain.
            const double d0 = drains ? from[o] : 0.0;
            if (drains && !call.continue_anyway && reduce_for_outlet(call, d0, step)) {
                if (first_attempt && done == 0) std::copy(h + 1, h + cells + 1, saved + 1);
                restart = true;
                break;
            }
            const double loss = drains ? outlet_taken(g, d0, step) : 0.0;
            if (drains) from[o] = d0 - loss;
            pass_result r = run_pass(a, cells, from, h, save, step, q_scale, call.continue_anyway, last);
            if (drains && (from == saved || save)) saved[o] = d0;
            if (r.not_a_number || (r.may_fail && !call.continue_anyway)) {
                // Back to the depths at the start of this sub-step: the saved
                // depths and the sub-steps before it again.
                std::copy(saved + 1, saved + cells + 1, h + 1);
                double e = 0.0;
                for (int k = 0; k < done; ++k) {
                    const double s = std::min(call.work, dt - e);
                    if (drains) h[o] -= outlet_taken(g, h[o], s);
                    run_pass(a, cells, h, h, nullptr, s, 1.0, call.continue_anyway);
                    e += s;
                }
                if (drains) h[o] = d0 - loss;
                const direction first = c.sweep_flag == 0 ? x_direction(g) : y_direction(g);
                const direction second = c.sweep_flag == 0 ? y_direction(g) : x_direction(g);
                if (sweep(call, first, step, false) || sweep(call, second, step, false)) {
                    if (call.stopped) return;
                    restart = true;
                    break;
                }
                // Answered without a reduction: the sub-step as the pass makes it.
                r = run_pass(a, cells, h, h, nullptr, step, q_scale, call.continue_anyway, last);
            }
            call.drained += loss;
            held += r.held;
            if (last) {
                call.survey_wet = r.wet;
                call.survey_flows = r.flows;
                call.survey_sound = !r.depth_nan;
            }
            add_face_volumes(g, c, step, last ? 1.0 : g.dx);
            ++done;
            elapsed = after;
            if (last) break;
        }
        if (!restart) {
            call.held = held;  // the check sweeps' counts are not the step's
            return;
        }
        if (call.stopped) return;
    }
}

// A reduced step starts again from the depths the call began with.
void restore_saved_depths(overland_grid &g, const explicit_step_control &c) {
    for (int i = 1; i <= g.cells; ++i) {
        g.h[at(i)] = c.saved_depth[at(i)];
        g.dh[at(i)] = 0.0;
    }
}

// Base and stream-cell variants: sub-steps of the working step until dt is
// covered, redone from the saved depths after every reduction.
void route_with_substeps(explicit_call &call, double dt) {
    overland_grid &g = call.g;
    explicit_step_control &c = call.c;
    // The first attempt starts from the depths as they are (saved at entry, with
    // the depth changes zeroed); a restart copies the saved depths back.
    for (bool first_attempt = true;; first_attempt = false) {
        if (!first_attempt) restore_saved_depths(g, c);
        if (call.stream_variant) {
            for (int s = 1; s <= g.stream_count; ++s) {
                g.stream_net[at(s)] = c.saved_stream[0][at(s)];
                g.stream_in[at(s)] = c.saved_stream[1][at(s)];
                g.stream_out[at(s)] = c.saved_stream[2][at(s)];
            }
        }
        clear_face_volumes(g, c);
        double elapsed = 0.0;
        bool restart = false;
        call.held = 0;
        call.drained = 0.0;
        for (;;) {
            // The last sub-step covers only what is left of dt.
            const double step = std::min(call.work, dt - elapsed);
            if (drain_at_substep_start(call, step)) {
                if (call.stopped) return;
                restart = true;
                break;
            }
            const direction first = c.sweep_flag == 0 ? x_direction(g) : y_direction(g);
            const direction second = c.sweep_flag == 0 ? y_direction(g) : x_direction(g);
            if (sweep(call, first, step) || sweep(call, second, step)) {
                if (call.stopped) return;
                restart = true;
                break;
            }
            if (call.stream_variant) book_stream_faces(g, step);
            apply_changes(g, call.stream_variant);
            add_face_volumes(g, c, step, g.dx);
            elapsed += step;
            if (std::fabs(elapsed - dt) < 0.0001 || elapsed > dt) break;
        }
        if (!restart) return;
    }
}

// Lake-variant face between a land cell and a lake cell: land water above its
// retention flows into a lower lake; a lake standing higher moves nothing here
// (the lake-extent update takes in the cells it reaches). The transfer is limited
// to the land cell's water above retention and, where the lake stands above the
// land's ground, to the face law integrated over the step down to the lake's
// level (depth_to_lake_level); the lake gains exactly what the land cell loses.
// Result: the unit discharge, positive from i toward k.
double lake_face(overland_grid &g, int i, int k, double dt) {
    const bool i_lake = is_lake_cell(g, i);
    const int land = i_lake ? k : i;
    const int lake = i_lake ? i : k;
    const double level = lake_level(g, lake);
    double sf = (g.z[at(land)] + g.h[at(land)] - level) / g.dx + 1e-20;
    if (std::fabs(sf) < 1e-20) sf = 1e-20;
    const double depth = g.h[at(land)] - retention_at(g, land);
    if (sf <= 0.0 || !(depth > 0.0)) return 0.0;
    double q;
    if (g.wetlands_on && g.wetland_id[at(land)] > 0) {
        const wetland_face_values w = wetland_values(g, g.wetland_id[at(land)]);
        const double above = g.h[at(land)] - w.layer_depth;
        q = above > 0.0 ? manning(sf, above, w.roughness) + w.layer_depth * sf * w.seepage
                        : sf * g.h[at(land)] * w.seepage;
    } else {
        q = manning(sf, depth, roughness_at(g, land));
    }
    double transfer = q * dt / g.dx;  // depth leaving the land cell
    if (g.z[at(land)] < level) transfer = depth_to_lake_level(g.z[at(land)] + g.h[at(land)] - level, transfer);
    transfer = std::min(transfer, depth);
    if (!(transfer > 0.0)) return 0.0;
    g.dh[at(land)] -= transfer;
    add_lake_inflow(g, lake, transfer * g.dx * g.dx);
    q = transfer * g.dx / dt;
    return i_lake ? -q : q;
}

// Lake variant: one sweep of a sub-step of `step` seconds. The faces between
// land cells keep to the level-gap rule of the other variants, checked without
// the celerity, height and depth checks; true when the call must restart.
bool lake_sweep(explicit_call &call, const direction &dir, double step) {
    overland_grid &g = call.g;
    for (int i = 1; i <= g.cells; ++i) {
        const int k = dir.neighbour[at(i)];
        if (k == 0 || (g.dikes_on && (g.dike[at(i)] & dir.dike_bit))) continue;
        const bool i_lake = is_lake_cell(g, i), k_lake = is_lake_cell(g, k);
        double q = 0.0;
        if (i_lake && k_lake) {
            q = 0.0;
        } else if (i_lake || k_lake) {
            q = lake_face(g, i, k, step);
        } else {
            if (g.wetlands_on && g.wetland_id[at(i)] > 0) {
                q = wetland_face(g, face_bed_slope(g, i, k), i, k);
            } else {
                double sf = face_slope(g, face_bed_slope(g, i, k), i, k);
                if (std::fabs(sf) < 1e-20) sf = 1e-20;
                const int upwind = sf >= 0.0 ? i : k;
                const double d = g.h[at(upwind)] - retention_at(g, upwind);
                q = d > 0.0 ? manning(sf, d, roughness_at(g, i)) : 0.0;
            }
            const double transfer = limit_to_level_gap(g, i, k, q * step / g.dx, call.held);
            q = transfer * g.dx / step;
            g.dh[at(i)] -= transfer;
            g.dh[at(k)] += transfer;
            if (beyond_level_gap(g, i, k, transfer) && check_face(call, dir, i, k, q, step, true))
                return true;
        }
        dir.q[at(i)] = q;
    }
    return false;
}

void apply_to_land(overland_grid &g) {
    for (int i = 1; i <= g.cells; ++i) {
        if (!is_lake_cell(g, i)) g.h[at(i)] += g.dh[at(i)];
        g.dh[at(i)] = 0.0;
    }
}

// Lake variant: sub-steps of the working step until dt is covered, each the x
// sweep, its changes applied to the land cells, then the y sweep likewise; redone
// from the saved depths and lake inflows after every reduction.
void route_with_lakes(explicit_call &call, double dt) {
    overland_grid &g = call.g;
    explicit_step_control &c = call.c;
    call.gap_only = true;
    std::vector<double> inflow(at(g.lake_count) + 1, 0.0);
    for (int l = 1; l <= g.lake_count; ++l) inflow[at(l)] = g.lakes[l].inflow_volume;
    for (bool first_attempt = true;; first_attempt = false) {
        if (!first_attempt) restore_saved_depths(g, c);
        for (int l = 1; !first_attempt && l <= g.lake_count; ++l) g.lakes[l].inflow_volume = inflow[at(l)];
        clear_face_volumes(g, c);
        double elapsed = 0.0;
        bool restart = false;
        call.held = 0;
        call.drained = 0.0;
        for (;;) {
            const double step = std::min(call.work, dt - elapsed);
            if (drain_at_substep_start(call, step)) {
                restart = true;
                break;
            }
            if (lake_sweep(call, x_direction(g), step)) {
                restart = true;
                break;
            }
            apply_to_land(g);
            if (lake_sweep(call, y_direction(g), step)) {
                restart = true;
                break;
            }
            apply_to_land(g);
            add_face_volumes(g, c, step, g.dx);
            elapsed += step;
            if (std::fabs(elapsed - dt) < 0.0001 || elapsed > dt) break;
        }
        if (call.stopped) {
            for (int l = 1; l <= g.lake_count; ++l) g.lakes[l].inflow_volume = inflow[at(l)];
            return;
        }
        if (!restart) return;
    }
}

// Work arrays of the step control, sized for this grid.
void prepare_saved_arrays(overland_grid &g, explicit_step_control &c) {
    if (c.saved_depth.empty() || c.saved_depth.last() != at(g.cells))
        alloc_1d_double(c.saved_depth, g.cells);
    if (g.stream_on) {
        for (auto &a : c.saved_stream)
            if (a.empty() || a.last() != at(g.stream_count)) alloc_1d_double(a, g.stream_count);
    }
    // Without its volumes (a failed allocation) the step hands on the last sub-step's flows.
    for (array_1d<double> *a : {&c.step_volume_x, &c.step_volume_y})
        if (c.keep_step_flows && (a->empty() || a->last() != at(g.cells)) &&
            alloc_1d_double(*a, g.cells) != 0)
            c.keep_step_flows = 0;
}

}  // namespace

bool explicit_local_substeps(bool on) {
    const bool before = local_substeps;
    local_substeps = on;
    return before;
}

double explicit_route(overland_grid &g, explicit_step_control &c, double dt) {
    prepare_saved_arrays(g, c);
    if (c.saved_depth.empty() || !(dt > 0.0)) return 0.0;

    // Step control at entry. The one pass saves the depths on its way and writes
    // every face discharge; the other variants start from zeroed changes.
    c.sweep_flag = (c.sweep_flag + 1) % 2;
    const bool one_pass = one_pass_variant(g, c);
    if (!one_pass && g.dh.data() == nullptr) {
        std::printf("Overland flow routing needs the %s of every grid cell, which are missing.\n",
                    "depth changes");
        raise_printed_error();
        return 0.0;
    }
    for (int i = 1; !one_pass && i <= g.cells; ++i) {
        g.dh[at(i)] = 0.0;
        g.qx[at(i)] = 0.0;
        g.qy[at(i)] = 0.0;
        c.saved_depth[at(i)] = g.h[at(i)];
    }
    explicit_call call{g, c, g.stream_on != 0, dt};
    call.step = dt;
    if (c.reduced_count >= 1) {
        // A step reduced in an earlier call never runs longer than this call's step.
        call.work = std::min(c.reduced_step, dt);
        --c.reduced_count;
        c.reduced_in_use = 1;
    } else {
        if (c.reduced_in_use && !g.quiet)
            std::printf("Resetting time step to %4.2lf for overland flow...\n", dt);
        c.reduced_in_use = 0;
    }
    if (g.stream_on) {
        for (int s = 1; s <= g.stream_count; ++s) {
            c.saved_stream[0][at(s)] = g.stream_net[at(s)];
            c.saved_stream[1][at(s)] = g.stream_in[at(s)];
            c.saved_stream[2][at(s)] = g.stream_out[at(s)];
        }
    }

    c.substeps = 0;
    if (g.lakes_on && !g.stream_on) {
        route_with_lakes(call, dt);
    } else if (one_pass) {
        // The fine region grows through all four neighbour tables.
        const bool local = local_substeps && g.left.data() && g.up.data();
        if (!local || route_locally(call, dt) == local_outcome::whole_grid)
            route_in_one_pass(call, dt);
    } else {
        route_with_substeps(call, dt);
    }

    if (call.stopped) {
        std::copy(c.saved_depth.data() + 1, c.saved_depth.data() + g.cells + 1, g.h.data() + 1);
        return 0.0;
    }
    if (g.weirs_on) weir_flux(g, dt);
    record_overland_call(g, dt, call.work);
    // The survey of the one pass holds for the depths and discharges handed on,
    // with the outlet's drain taken into account below.
    c.survey_valid = one_pass && call.survey_sound && !g.weirs_on && !(c.keep_step_flows && c.substeps > 1);
    c.survey_wet = call.survey_wet;
    c.survey_flows = call.survey_flows;
    if (g.steps) g.steps->held_faces += call.held;

    // The outlet drained at the start of each sub-step (or of the whole step); the
    // step hands on the mean discharge of its drain.
    const double result = call.drained * g.dx * g.dx / dt;

    for (int i = 1; !one_pass && i <= g.cells; ++i) {
        g.qx[at(i)] *= g.dx;
        g.qy[at(i)] *= g.dx;
    }
    // A divided step hands on each face's mean discharge over the step: the last
    // sub-step's would not carry the water the step moved.
    for (int i = 1; c.keep_step_flows && c.substeps > 1 && i <= g.cells; ++i) {
        g.qx[at(i)] = c.step_volume_x[at(i)] / dt;
        g.qy[at(i)] = c.step_volume_y[at(i)] / dt;
    }
    return result;
}

double route_overland_explicit(model_state &s, double dt) {
    overland_grid g;
    if (!overland_grid_of(s, g)) return 0.0;
    // Only the variants with separate sweeps keep depth changes per cell.
    if (!one_pass_variant(g, s.explicit_control)) {
        array_1d<double> &dh = s.depth_change;
        if ((dh.empty() || dh.last() != at(g.cells)) && alloc_1d_double(dh, g.cells) != 0) {
            std::printf("Error allocating memory for variable %s\n", "overland depth changes");
            raise_printed_error();
            return 0.0;
        }
        g.dh = row_ref<double>(dh.data(), dh.last());
    }
    s.explicit_control.keep_step_flows = s.ov_con_trans_mode != 0;
    return explicit_route(g, s.explicit_control, dt);
}
