// Reference copy of the overland kernel as it stood before its hot loops were
// restructured; kept unchanged so that the equality tests and the benchmarks can
// compare the restructured kernel with it. Not linked into the programs.
// Explicit overland flow scheme: for every cell the unit discharge across its
// right and down faces by Manning's law, with a step control that divides the
// step by 3 when a face fails the celerity (Courant number), height or depth check. Called by
// step_overland_flow for scheme 1 (through route_overland_explicit).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "model/hydrology/overland_boundaries.h"
#include "model/core/model_state.h"
#include "model/core/errors.h"
#include "model/hydrology/overland_explicit_chunks.h"
#include "bench/reference/overland_explicit_reference.h"

namespace reference {

namespace {

constexpr double five_thirds = 5.0 / 3.0;
constexpr double outlet_exponent = 1.666667;
constexpr double smallest_step = 0.005;   // s: no reduction below this step
constexpr int max_reductions = 5;         // per call
constexpr int calls_with_reduced_step = 4;
constexpr double max_face_courant = 1.0;  // the celerity check's limit

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// One direction of a sweep: x uses the right face, y the down face.
struct direction {
    char name;                      // 'x' or 'y'
    int dike_bit;                   // bit of the cell's dike code that closes the face
    row_ref<const int> neighbour;
    row_ref<const double> slope;
    row_ref<double> q;
};

direction x_direction(overland_grid &g) { return {'x', 2, g.right, g.sx, g.qx}; }
direction y_direction(overland_grid &g) { return {'y', 4, g.down, g.sy, g.qy}; }

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
        d = k_wetland ? g.h[at(k)] - w.layer_depth : g.h[at(k)] - g.r[at(k)];
    }
    if (d <= 0.0) {
        if (sf >= 0.0) return sf * g.h[at(i)] * w.seepage;
        return k_wetland ? sf * g.h[at(k)] * w.seepage : 0.0;
    }
    if (!k_wetland) return manning(sf, d, g.n[at(k)]);
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
    const double depth = sf > 0.0 ? g.h[at(land)] - g.r[at(land)] : water - g.z[at(land)];
    if (!(depth > 0.0)) return 0.0;
    double q = manning(sf, depth, g.n[at(land)]);  // land -> stream positive
    return i_stream ? -q : q;
}

// A standing-water face moves at most a quarter of its level gap in one sub-step
// (overland_boundaries.h), and so does every face once the step control has
// given up (`hold_all`).
inline double limit_to_level_gap(const overland_grid &g, int i, int k, double transfer, bool hold_all = false) {
    const double gap = (g.z[at(i)] + g.h[at(i)]) - (g.z[at(k)] + g.h[at(k)]);
    const double limit = level_gap_share * std::fabs(gap);
    if (std::isnan(transfer) || std::fabs(transfer) <= limit ||
        !(hold_all || standing_face(gap, g.z[at(i)] - g.z[at(k)], std::max(g.h[at(i)], g.h[at(k)]))))
        return transfer;
    return transfer >= 0.0 ? limit : -limit;
}

// True when a face of flowing water moves more than a third of its level gap.
inline bool beyond_level_gap(const overland_grid &g, int i, int k, double transfer) {
    const double gap = (g.z[at(i)] + g.h[at(i)]) - (g.z[at(k)] + g.h[at(k)]);
    return std::fabs(transfer) > explicit_flowing_share * std::fabs(gap) &&
           !standing_face(gap, g.z[at(i)] - g.z[at(k)], std::max(g.h[at(i)], g.h[at(k)]));
}

struct explicit_call {
    overland_grid &g;
    explicit_step_control &c;
    const bool stream_variant;
    double work;                    // working step (s)
    int reductions = 0;
    bool continue_anyway = false;
    bool failure_reported = false;
    double step = 0.0;
    bool stopped = false;
    bool gap_only = false;  // the lake variant: only the level-gap check
    double drained = 0.0;   // the outlet's drain in the accepted sub-steps (m)
};

// The outlet's drain over a sub-step by its law at the sub-step's start (m).
double outlet_loss(const overland_grid &g, double depth, double step) {
    if (g.channel_explicit || g.outlet <= 0 || !(depth > 0.0) || !(g.outlet_slope > 0.0)) return 0.0;
    return step * std::sqrt(g.outlet_slope) * std::pow(depth, outlet_exponent) / (g.n[at(g.outlet)] * g.dx);
}

bool may_divide_step(const explicit_call &call) {
    return call.work > smallest_step && call.reductions < max_reductions;
}

// Divides the working step by three; false when it may be divided no more.
bool divide_step(explicit_call &call) {
    if (!may_divide_step(call)) return false;
    if (!call.g.quiet) std::printf(" *Changing overland time step to %4.2lf seconds...\n", call.work / 3.0);
    call.work /= 3.0;
    call.c.reduced_step = call.work;
    call.c.reduced_count = calls_with_reduced_step;
    ++call.reductions;
    return true;
}

// The outlet face's Courant number; at the limit the step is divided by three.
bool reduce_for_outlet(explicit_call &call, double depth, double step) {
    const double u = depth > 0.0 ? five_thirds * outlet_loss(call.g, depth, step) / depth : 0.0;
    if (u < max_face_courant || !may_divide_step(call)) return false;
    if (!call.g.quiet) {
        if (!call.failure_reported) std::printf("\n");
        call.failure_reported = true;
        std::printf("  ]outlet:_U_%2.4lf dt:%4.2lf j:%d\n    -> Cell Exceded Celerity Check\n", u, step, call.g.outlet);
    }
    return divide_step(call);
}

// The outlet drains at the start of each sub-step; true when the call restarts.
bool drain_at_substep_start(explicit_call &call, double step) {
    overland_grid &g = call.g;
    if (g.channel_explicit || g.outlet <= 0) return false;
    double &h = g.h[at(g.outlet)];
    if (!call.continue_anyway && reduce_for_outlet(call, h, step)) return true;
    const double loss = std::min(outlet_loss(g, h, step), h);
    h -= loss;
    call.drained += loss;
    return false;
}

// The face check; true when the call must restart from the saved depths.
bool check_face(explicit_call &call, const direction &dir, int i, int k, double q,
                double step, bool beyond_gap) {
    overland_grid &g = call.g;
    const double big_h = q * step / g.dx;
    // The celerity check: the face's Courant number, the kinematic celerity
    // 5/3 |q| / d of the donor cell's depth d times step / dx, below its limit, and
    // the depth moved across the face below 6 cm (where the level-gap limit would
    // otherwise hold back the flow of a long step).
    const double donor_depth = big_h > 0.0 ? g.h[at(i)] : g.h[at(k)];
    const bool stream_face_here = call.stream_variant && (is_stream_cell(g, i) || is_stream_cell(g, k));
    const double u = big_h != 0.0 && donor_depth > 0.0 && !stream_face_here
                         ? five_thirds * std::fabs(big_h) / donor_depth
                         : 0.0;
    // The donor must hold the water it gives; that is checked first, since a face
    // that would empty its donor also fails the Courant number.
    int kind = 0;
    const int donor = big_h > 0.0 ? i : k;
    const double rest = big_h > 0.0 ? g.h[at(i)] - big_h : g.h[at(k)] + big_h;
    if (call.gap_only)
        kind = beyond_gap ? 4 : 0;
    else if (big_h != 0.0 && rest < -0.0001 && !is_stream_cell(g, donor))
        kind = 3;
    else if (u >= max_face_courant || std::fabs(big_h) >= 0.06)
        kind = 1;
    else if (std::fabs(big_h) > 0.1)
        kind = 2;
    else if (beyond_gap)
        kind = 4;
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
// restart after a step reduction.
bool sweep(explicit_call &call, const direction &dir, double step) {
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
            q = wetland_face(g, dir.slope[at(i)], i, k);
        } else if (g.h[at(i)] < g.r[at(i)]) {
            q = 0.0;
        } else {
            double sf = face_slope(g, dir.slope[at(i)], i, k);
            if (std::fabs(sf) < 1e-20) sf = 1e-20;
            const double d = (sf >= 0.0 ? g.h[at(i)] : g.h[at(k)]) - g.r[at(i)];
            q = d > 0.0 ? manning(sf, d, g.n[at(i)]) : 0.0;
        }
        double transfer = q * step / g.dx;
        bool beyond_gap = false;
        if (!(call.stream_variant && (is_stream_cell(g, i) || is_stream_cell(g, k)))) {
            transfer = limit_to_level_gap(g, i, k, transfer, call.continue_anyway);
            q = transfer * g.dx / step;
            beyond_gap = beyond_level_gap(g, i, k, transfer);
        }
        dir.q[at(i)] = q;
        if (dir.name == 'y' && std::isnan(transfer))
            std::printf("uh oh...   dhh[%d]: %lf\n", i, transfer);
        g.dh[at(i)] -= transfer;
        g.dh[at(k)] += transfer;
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

// Base and stream-cell variants: sub-steps of the working step until dt is
// covered, redone from the saved depths after every reduction.
void route_with_substeps(explicit_call &call, double dt) {
    overland_grid &g = call.g;
    explicit_step_control &c = call.c;
    for (;;) {
        for (int i = 1; i <= g.cells; ++i) {
            g.h[at(i)] = c.saved_depth[at(i)];
            g.dh[at(i)] = 0.0;
        }
        if (call.stream_variant) {
            for (int s = 1; s <= g.stream_count; ++s) {
                g.stream_net[at(s)] = c.saved_stream[0][at(s)];
                g.stream_in[at(s)] = c.saved_stream[1][at(s)];
                g.stream_out[at(s)] = c.saved_stream[2][at(s)];
            }
        }
        double elapsed = 0.0;
        bool restart = false;
        call.drained = 0.0;
        for (;;) {
            // The last sub-step covers only what is left of dt.
            const double step = std::min(call.work, dt - elapsed);
            if (drain_at_substep_start(call, step)) {
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
            elapsed += step;
            if (std::fabs(elapsed - dt) < 0.0001 || elapsed > dt) break;
        }
        if (!restart) return;
    }
}

// Lake-variant face between a land cell and a lake cell: land water above its
// retention flows into a lower lake; a lake standing higher moves nothing here
// (the lake-extent update takes in the cells it reaches). The transfer is limited
// to the land cell's water above retention, and the lake gains exactly what the
// land cell loses. Result: the unit discharge, positive from i toward k.
double lake_face(overland_grid &g, int i, int k, double dt) {
    const bool i_lake = is_lake_cell(g, i);
    const int land = i_lake ? k : i;
    const int lake = i_lake ? i : k;
    double sf = (g.z[at(land)] + g.h[at(land)] - lake_level(g, lake)) / g.dx + 1e-20;
    if (std::fabs(sf) < 1e-20) sf = 1e-20;
    const double depth = g.h[at(land)] - g.r[at(land)];
    if (sf <= 0.0 || !(depth > 0.0)) return 0.0;
    double q;
    if (g.wetlands_on && g.wetland_id[at(land)] > 0) {
        const wetland_face_values w = wetland_values(g, g.wetland_id[at(land)]);
        const double above = g.h[at(land)] - w.layer_depth;
        q = above > 0.0 ? manning(sf, above, w.roughness) + w.layer_depth * sf * w.seepage
                        : sf * g.h[at(land)] * w.seepage;
    } else {
        q = manning(sf, depth, g.n[at(land)]);
    }
    double transfer = std::min(q * dt / g.dx, depth);  // depth leaving the land cell
    if (!(transfer > 0.0)) return 0.0;
    g.dh[at(land)] -= transfer;
    add_lake_inflow(g, lake, transfer * g.dx * g.dx);
    q = transfer * g.dx / dt;
    return i_lake ? -q : q;
}

// Lake variant: one sweep of a sub-step; the faces between land cells keep to the
// level-gap rule, checked without the other checks. True when the call must restart.
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
                q = wetland_face(g, dir.slope[at(i)], i, k);
            } else {
                double sf = face_slope(g, dir.slope[at(i)], i, k);
                if (std::fabs(sf) < 1e-20) sf = 1e-20;
                const int upwind = sf >= 0.0 ? i : k;
                const double d = g.h[at(upwind)] - g.r[at(upwind)];
                q = d > 0.0 ? manning(sf, d, g.n[at(i)]) : 0.0;
            }
            const double transfer = limit_to_level_gap(g, i, k, q * step / g.dx);
            q = transfer * g.dx / step;
            g.dh[at(i)] -= transfer;
            g.dh[at(k)] += transfer;
            if (beyond_level_gap(g, i, k, transfer) && check_face(call, dir, i, k, q, step, true)) return true;
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

// Lake variant: sub-steps of the working step, each the x sweep and its changes,
// then the y sweep and its changes; redone from the saved depths and lake inflows
// after every reduction.
void route_with_lakes(explicit_call &call, double dt) {
    overland_grid &g = call.g;
    call.gap_only = true;
    std::vector<double> inflow(at(g.lake_count) + 1, 0.0);
    for (int l = 1; l <= g.lake_count; ++l) inflow[at(l)] = g.lakes[l].inflow_volume;
    for (bool first_attempt = true;; first_attempt = false) {
        for (int i = 1; !first_attempt && i <= g.cells; ++i) {
            g.h[at(i)] = call.c.saved_depth[at(i)];
            g.dh[at(i)] = 0.0;
        }
        for (int l = 1; !first_attempt && l <= g.lake_count; ++l) g.lakes[l].inflow_volume = inflow[at(l)];
        double elapsed = 0.0;
        bool restart = false;
        call.drained = 0.0;
        while (!restart) {
            const double step = std::min(call.work, dt - elapsed);
            if (drain_at_substep_start(call, step)) {
                restart = true;
                break;
            }
            restart = lake_sweep(call, x_direction(g), step);
            if (!restart) apply_to_land(g);
            restart = restart || lake_sweep(call, y_direction(g), step);
            if (restart) break;
            apply_to_land(g);
            elapsed += step;
            if (std::fabs(elapsed - dt) < 0.0001 || elapsed > dt) break;
        }
        if (call.stopped)
            for (int l = 1; l <= g.lake_count; ++l) g.lakes[l].inflow_volume = inflow[at(l)];
        if (call.stopped || !restart) return;
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
}

}  // namespace

double explicit_route(overland_grid &g, explicit_step_control &c, double dt) {
    prepare_saved_arrays(g, c);
    if (c.saved_depth.empty() || !(dt > 0.0)) return 0.0;

    // Step control at entry.
    c.sweep_flag = (c.sweep_flag + 1) % 2;
    for (int i = 1; i <= g.cells; ++i) {
        g.dh[at(i)] = 0.0;
        g.qx[at(i)] = 0.0;
        g.qy[at(i)] = 0.0;
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
    for (int i = 1; i <= g.cells; ++i) c.saved_depth[at(i)] = g.h[at(i)];
    if (g.stream_on) {
        for (int s = 1; s <= g.stream_count; ++s) {
            c.saved_stream[0][at(s)] = g.stream_net[at(s)];
            c.saved_stream[1][at(s)] = g.stream_in[at(s)];
            c.saved_stream[2][at(s)] = g.stream_out[at(s)];
        }
    }

    if (g.lakes_on && !g.stream_on) {
        route_with_lakes(call, dt);
    } else {
        route_with_substeps(call, dt);
    }
    if (call.stopped) {
        for (int i = 1; i <= g.cells; ++i) g.h[at(i)] = c.saved_depth[at(i)];
        return 0.0;
    }

    if (g.weirs_on) weir_flux(g, dt);

    // The outlet drained at the start of each sub-step; the step hands on its mean.
    const double result = call.drained * g.dx * g.dx / dt;

    for (int i = 1; i <= g.cells; ++i) {
        g.qx[at(i)] *= g.dx;
        g.qy[at(i)] *= g.dx;
    }
    return result;
}

double route_overland_explicit(model_state &s, double dt) {
    overland_grid g;
    if (!overland_grid_of(s, g)) return 0.0;
    // This kernel keeps depth changes per cell in every variant.
    if (s.depth_change.empty() && alloc_1d_double(s.depth_change, s.cell_count) != 0) return 0.0;
    g.dh = row_ref<double>(s.depth_change.data(), s.depth_change.last());
    return explicit_route(g, s.explicit_control, dt);
}

}  // namespace reference
