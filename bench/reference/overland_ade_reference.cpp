// Reference copy of the overland kernel as it stood before its hot loops were
// restructured; kept unchanged so that the equality tests and the benchmarks can
// compare the restructured kernel with it. Not linked into the programs.
// Alternating-direction explicit overland schemes: scheme 2 sweeps one direction
// at a time with sub-steps halved until every cell passes its check; scheme 3
// (predictor-corrector) averages the face discharges of the current and the
// predicted depths in one pass. Called by step_overland_flow for schemes 2 and 3.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/overland_boundaries.h"
#include "model/core/model_state.h"
#include "bench/reference/overland_ade_reference.h"

namespace reference {

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
// Flow into a lake is limited to the land's water above retention over dt.
double ade_water_body_face(const overland_grid &g, row_ref<const double> depth, int i, int k,
                           double sf, double dt) {
    const bool i_body = is_lake_cell(g, i) || is_stream_cell(g, i);
    const int land = i_body ? k : i;
    const int body = i_body ? i : k;
    const double toward_body = i_body ? -sf : sf;  // slope from land to the water body
    const double dx = g.dx;
    double q;
    if (toward_body > 0.0) {
        const double d = depth[at(land)] - g.r[at(land)];
        if (!(d > 0.0)) return 0.0;
        q = std::sqrt(toward_body) / g.n[at(land)] * std::pow(d, five_thirds) * dx;
        if (is_lake_cell(g, body) && dt > 0.0) q = std::min(q, d * dx * dx / dt);
    } else {
        if (is_lake_cell(g, body)) return 0.0;
        const double d = cell_level(g, depth, body) - g.z[at(land)];
        if (!(d > 0.0)) return 0.0;
        q = -std::sqrt(-toward_body) / g.n[at(land)] * std::pow(d, five_thirds) * dx;
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
                const double d = depth[at(i)] - g.r[at(i)];
                if (depth[at(i)] > g.r[at(i)])
                    q = (1.0 / g.n[at(i)]) * std::pow(d, two_thirds) * std::sqrt(sf) * depth[at(i)] *
                        g.dx;
            } else {
                const double d = depth[at(k)] - g.r[at(k)];
                if (depth[at(k)] > g.r[at(k)])
                    q = -(1.0 / g.n[at(i)]) * std::pow(d, two_thirds) * std::sqrt(-sf) * d * g.dx;
            }
        }
        dir.q[at(i)] = q;
    }
}

// The level-gap limit of a face (overland_boundaries.h): a standing-water face
// is held to a quarter of its level gap `gap` (ground drop `drop`, the deeper
// cell's depth `depth`); a face of flowing water is never held, but beyond the
// limit (`beyond`) when it moves more than half its level gap in one sub-step.
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
// faces of lakes and streams keep their own rules. Result: the faces held.
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
        const double change = net_inflow(q, upstream, i) * step / area;
        g.dh[at(i)] = change;
        g.h[at(i)] += change;
    }
}

// The outlet drain for `step` seconds, never more than the water present;
// result the discharge (m3/s).
double drain_outlet(overland_grid &g, row_ref<double> depth, double step) {
    if (g.channel_explicit || g.outlet <= 0) return 0.0;
    const std::size_t o = at(g.outlet);
    const double d = depth[o];
    if (!(d > 0.0) || !(g.outlet_slope > 0.0)) return 0.0;
    const double area = g.dx * g.dx;
    const double q = std::pow(d, five_thirds) * (1.0 / g.n[o]) * std::sqrt(g.outlet_slope) * g.dx;
    const double loss = q * step / area;
    if (loss <= d) {
        depth[o] -= loss;
        return q;
    }
    depth[o] = 0.0;
    return d * area / step;
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

// Half the sub-step after a failed attempt, said as the explicit scheme says its cuts.
double cut_substep(const overland_grid &g, double sub) {
    if (!g.quiet) std::printf(" *Changing overland time step to %4.2lf seconds...\n", 0.5 * sub);
    return 0.5 * sub;
}

void record_ade_call(overland_grid &g, double dt, double sub, long long held) {
    record_overland_call(g, dt, sub);
    if (g.steps) g.steps->held_faces += held;
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

// The first sub-step of scheme 2: the step, halved until no face's Courant number
// (kinematic celerity 5/3 |q| / d of the donor cell's depth d, from the face
// discharges of the last step, times sub-step / dx) reaches ade_max_courant.
double first_substep(overland_grid &g, double dt) {
    double fastest = 0.0;  // the largest 5/3 |q| / d (m2/s)
    for (const ade_direction &dir : {down_direction(g), right_direction(g)})
        for (int i = 1; i <= g.cells; ++i) {
            const double q = dir.q[at(i)];
            const int k = dir.neighbour[at(i)];
            if (k == 0 || q == 0.0) continue;
            const double d = q > 0.0 ? g.h[at(i)] : g.h[at(k)];
            if (d > 0.0 && five_thirds * std::fabs(q) > fastest * d) fastest = five_thirds * std::fabs(q) / d;
        }
    // The face discharges are in m3/s: per unit width they are q / dx.
    double sub = dt;
    while (fastest * sub >= ade_max_courant * g.dx * g.dx && sub >= 2.0 * smallest_substep) sub *= 0.5;
    return sub;
}

// Scheme 2 with sub-steps: the whole step is redone from the saved depths with
// half the sub-step whenever a sweep fails its check.
double route_substeps(overland_grid &g, ade_scheme_state &st, double dt) {
    for (int i = 1; i <= g.cells; ++i) st.saved_depth[at(i)] = g.h[at(i)];
    if (g.stream_on) save_stream_sums(g, st);
    const ade_direction first = st.sweep_order == 2 ? down_direction(g) : right_direction(g);
    const ade_direction second = st.sweep_order == 2 ? right_direction(g) : down_direction(g);
    double sub = first_substep(g, dt);
    for (;;) {
        if (sub < smallest_substep) {
            for (int i = 1; i <= g.cells; ++i) g.h[at(i)] = st.saved_depth[at(i)];
            if (g.stream_on) restore_stream_sums(g, st);
            std::printf("The ADE overland routing time step is getting really small\n");
            std::printf("less than 1/100 of a second\n");
            std::printf("Reduce the model time step by a factor of 2 and try again.\n");
            std::printf("Program stopped.\n");
            raise_printed_error();
            return -1.0;
        }
        for (int i = 1; i <= g.cells; ++i) g.h[at(i)] = st.saved_depth[at(i)];
        if (g.stream_on) restore_stream_sums(g, st);
        double elapsed = 0.0, outlet_sum = 0.0;
        long long held = 0;
        bool failed = false;
        while (elapsed < dt) {
            outlet_sum += drain_outlet(g, g.h, sub);
            for (const ade_direction *dir : {&first, &second}) {
                ade_sweep(g, view(g.h), *dir, sub);
                bool beyond = false;
                held += limit_faces_to_level_gaps(g, view(g.h), *dir, sub, beyond);
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
    }
    const double q = drain_outlet(g, g.h, dt);
    record_ade_call(g, dt, dt, 0);
    return depths_sound(g) ? q : -1.0;
}

// Scheme 3: per direction a predictor from the current depths, the face
// discharges averaged with those of the predicted depths, then the corrector.
// The outlet is drained by the caller, before the pass.
void route_predictor_corrector(overland_grid &g, ade_scheme_state &st, double dt, long long &held,
                               bool &beyond) {
    if (st.predictor_depth.empty() || st.predictor_depth.last() != at(g.cells))
        alloc_1d_double(st.predictor_depth, g.cells);
    if (st.predictor_discharge.empty() || st.predictor_discharge.last() != at(g.cells))
        alloc_1d_double(st.predictor_discharge, g.cells);
    if (st.predictor_depth.empty() || st.predictor_discharge.empty()) return;
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
    }
}

// Scheme 3 in sub-steps, the first as long as scheme 2's Courant number allows:
// redone from the depths at the start of the call with half the sub-step while a
// depth falls clearly below zero or a face of flowing water is beyond its
// level-gap limit. With lakes one pass of dt with no retry.
double route_predictor_corrector_substeps(overland_grid &g, ade_scheme_state &st, double dt) {
    if (g.lakes_on) {
        long long held = 0;
        bool beyond = false;
        const double q = drain_outlet(g, g.h, dt);
        route_predictor_corrector(g, st, dt, held, beyond);
        record_ade_call(g, dt, dt, held);
        return depths_sound(g) ? q : -1.0;
    }
    const double booked = g.negative_depth_volume ? *g.negative_depth_volume : 0.0;
    for (int i = 1; i <= g.cells; ++i) st.saved_depth[at(i)] = g.h[at(i)];
    if (g.stream_on) save_stream_sums(g, st);
    const int order = st.sweep_order;
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
            bool beyond = false;
            q = drain_outlet(g, g.h, step);
            route_predictor_corrector(g, st, step, held, beyond);
            sound = !beyond && depths_lifted(g);
            outlet_sum += q * step;
            elapsed += step;
            st.sweep_order = 3 - st.sweep_order;
        }
        st.sweep_order = order;
        if (sound) {
            record_ade_call(g, dt, sub, held);
            return sub < dt ? outlet_sum / dt : q;
        }
        for (int i = 1; i <= g.cells; ++i) g.h[at(i)] = st.saved_depth[at(i)];
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
        g.dh[at(i)] = change;
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
    if (st.saved_depth.empty() || st.saved_depth.last() != at(g.cells))
        alloc_1d_double(st.saved_depth, g.cells);
    if (g.stream_on) {
        for (auto &a : st.saved_stream)
            if (a.empty() || a.last() != at(g.stream_count)) alloc_1d_double(a, g.stream_count);
    }
    if (st.saved_depth.empty()) return 0.0;

    double result;
    if (scheme == 3) result = route_predictor_corrector_substeps(g, st, dt);
    else if (g.lakes_on) result = route_lake_pass(g, st, dt);
    else result = route_substeps(g, st, dt);
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

}  // namespace reference
