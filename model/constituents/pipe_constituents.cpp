// The constituents of the pipe network's water: the mass the inlets take from
// their cells with the surface water, mixed in every node and junction with the
// water the step's flows bring, and the mass the spills and the outlets give back
// to the cells or to the channels. Called by the pipe-network piece after every
// pipe step, with the flows that step solved.
#include "model/constituents/pipe_constituents.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "model/channel/channel_services.h"
#include "model/constituents/constituent_transport.h"
#include "model/core/errors.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"
#include "model/output/contaminant_summaries.h"
#include "model/pipes/superlink_step.h"

namespace tt = transport_table;

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// The depth every node starts at (the network's first step lays it), and the cap
// and the relative tolerance of the mixing iteration.
constexpr double start_depth = 0.0001;
constexpr int max_sweeps = 5000;
constexpr double sweep_tolerance = 1e-13;

bool cell_ok(const model_state &s, int c) { return c >= 1 && c <= s.cell_count; }

int node_cell(const model_state &s, int k, int l) {
    const auto &map = s.superlink_node_gnum;
    return !map.empty() && at(k) <= map.rows() && at(l) <= map.cols() ? map[at(k)][at(l)] : 0;
}

// The water each node and junction holds now (m3), for the next step's mixing:
// a node its plan area's water and half of each pipe beside it at the pipe's
// mean depth, a junction that is no fixed head its plan area's; `start` takes
// every node at the depth the network starts at.
void measure_water(model_state &s, bool start) {
    const superlink_network &p = s.superlinks;
    pipe_constituent_state &m = s.pipe_mass;
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const int N = p.link_node_count[at(l)];
        auto h = [&](int k) { return start ? start_depth : std::max(p.slink_node_depth[at(k)][at(l)], 0.0); };
        for (int k = 1; k <= N + 1; ++k) {
            double v = p.As[at(k)][at(l)] * h(k);
            if (k >= 2) v += 0.5 * superlink_pipe_water(p, k - 1, l, 0.5 * (h(k - 1) + h(k)));
            if (k <= N) v += 0.5 * superlink_pipe_water(p, k, l, 0.5 * (h(k) + h(k + 1)));
            m.node_water[at(k)][at(l)] = v;
        }
    }
    for (int j = 1; j <= p.num_junctions; ++j)
        m.junction_water[at(j)] = start || p.junc_fixed_head[at(j)] == 1
                                      ? 0.0
                                      : std::max(p.junc_head[at(j)] - p.junc_Zinv[at(j)], 0.0) * p.junc_area[at(j)];
}

bool allocate(model_state &s) {
    const superlink_network &p = s.superlinks;
    pipe_constituent_state &m = s.pipe_mass;
    const long long rows = p.max_slink_pipes + 2, cols = p.num_superlinks + 1;
    const long long J = std::max(p.num_junctions, 1), K = s.constituent_count;
    for (array_2d<double> *a : {&m.node_water, &m.tile_volume, &m.node_conc, &m.node_base, &m.node_denominator})
        if (alloc_2d_double(*a, rows, cols, "pipe constituents") != 0) return false;
    for (array_1d<double> *a : {&m.junction_water, &m.junction_conc, &m.junction_base,
                                &m.junction_denominator, &m.junction_outlet, &m.junction_sum})
        if (alloc_1d_double(*a, J) != 0) return false;
    if (alloc_3d_double(m.node_mass, K, rows, cols) != 0) return false;
    for (array_2d<double> *a : {&m.junction_mass, &m.outlet_mass})
        if (alloc_2d_double(*a, K, J, "pipe constituents") != 0) return false;
    // The network starts at its floor depth, holding no constituent.
    measure_water(s, true);
    m.ready = true;
    return true;
}

// The water of one step (m3) from the flows the pipe step solved.
struct step_water {
    const superlink_network &p;
    const superlink_step_state &w;
    pipe_constituent_state &m;
    double dt;
    int count(int l) const { return p.link_node_count[at(l)]; }
    // Into node k from upstream (junction or pipe k - 1), and out of node k
    // downstream (pipe k or junction), each of either sign.
    // The step's mean flows: a step cut into sub-steps carried their water.
    double up(int k, int l) const { return (k == 1 ? w.step_us_flow[at(l)] : w.step_Q[at(k - 1)][at(l)]) * dt; }
    double down(int k, int l) const {
        return (k == count(l) + 1 ? w.step_ds_flow[at(l)] : w.step_Q[at(k)][at(l)]) * dt;
    }
    // The exchange of node k and of junction j with its cell: taken when
    // positive, spilled when negative (the tile inflow is apart).
    double cell_exchange(int k, int l) const {
        return k <= count(l) ? p.Q_node[at(k)][at(l)] * dt - m.tile_volume[at(k)][at(l)] : 0.0;
    }
    double tile(int k, int l) const { return k <= count(l) ? m.tile_volume[at(k)][at(l)] : 0.0; }
    // What of a node's and a junction's take its first half took before the
    // routing, with its mass (take_first_half_mass).
    double first_half(int k, int l) const {
        return w.node_first_half.empty() ? 0.0 : w.node_first_half[at(k)][at(l)];
    }
    double junction_first_half(int j) const {
        return w.junction_first_half.empty() ? 0.0 : w.junction_first_half[at(j)];
    }
    double junction_exchange(int j) const { return p.junc_inflow[at(j)] * dt; }
    double node_in(int k, int l) const {
        return std::max(up(k, l), 0.0) + std::max(-down(k, l), 0.0) + std::max(cell_exchange(k, l), 0.0) +
               tile(k, l);
    }
    double node_out(int k, int l) const {
        return std::max(-up(k, l), 0.0) + std::max(down(k, l), 0.0) + std::max(-cell_exchange(k, l), 0.0);
    }
};

// The volumes the outlets gave in the step: the channel outlets their recorded
// flows, the outlets onto cells the rest of what left, each in proportion to
// what its superlinks offered it (all outlets give the same share).
void outlet_volumes(const model_state &s, const step_water &f) {
    const superlink_network &p = f.p;
    array_1d<double> &out = f.m.junction_outlet;
    double channel = 0.0, offered = 0.0;
    for (int j = 1; j <= p.num_junctions; ++j) {
        out[at(j)] = 0.0;
        if (p.junction_kind[at(j)] == 999) {
            out[at(j)] = std::max(p.junc_outflow[at(j)], 0.0) * f.dt;
            channel += out[at(j)];
        }
    }
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const int j = p.slink_ds_junc[at(l)];
        if (p.junction_kind[at(j)] != 888 || !cell_ok(s, int_at(s.junction_cell, j))) continue;
        const double v = std::max(f.down(f.count(l) + 1, l), 0.0);
        out[at(j)] += v;
        offered += v;
    }
    const double share = offered > 0.0 ? std::max(f.w.out_step - channel, 0.0) / offered : 0.0;
    for (int j = 1; j <= p.num_junctions; ++j)
        if (p.junction_kind[at(j)] == 888) out[at(j)] *= share;
}

// What junction j received and gave in the step: `in` true for the inflows.
double junction_water_flow(const step_water &f, int j, bool in) {
    double v = in ? std::max(f.junction_exchange(j), 0.0)
                  : std::max(-f.junction_exchange(j), 0.0) + f.m.junction_outlet[at(j)];
    for (int l = 1; l <= f.p.num_superlinks; ++l) {
        const int N = f.count(l);
        if (f.p.slink_ds_junc[at(l)] == j) v += std::max((in ? 1.0 : -1.0) * f.down(N + 1, l), 0.0);
        if (f.p.slink_us_junc[at(l)] == j) v += std::max((in ? -1.0 : 1.0) * f.up(1, l), 0.0);
    }
    return v;
}

// Every node and junction mixes what it held with what it received; the
// mixture's concentration is its mass over that water, or over what it gave
// where its flows gave more than it had (it then gives all its mass).
void mixing_denominators(const step_water &f) {
    pipe_constituent_state &m = f.m;
    for (int l = 1; l <= f.p.num_superlinks; ++l)
        for (int k = 1; k <= f.count(l) + 1; ++k)
            m.node_denominator[at(k)][at(l)] =
                std::max(m.node_water[at(k)][at(l)] + f.node_in(k, l), f.node_out(k, l));
    for (int j = 1; j <= f.p.num_junctions; ++j)
        m.junction_denominator[at(j)] =
            std::max(m.junction_water[at(j)] + junction_water_flow(f, j, true), junction_water_flow(f, j, false));
}

// Mass of constituent k that node (n, l) receives from its neighbours at the
// present concentrations (g).
double node_inflow_mass(const step_water &f, int n, int l) {
    const pipe_constituent_state &m = f.m;
    const int N = f.count(l);
    const double u = f.up(n, l), d = f.down(n, l);
    double in = 0.0;
    if (u > 0.0) in += u * (n == 1 ? m.junction_conc[at(f.p.slink_us_junc[at(l)])] : m.node_conc[at(n - 1)][at(l)]);
    if (d < 0.0) in -= d * (n == N + 1 ? m.junction_conc[at(f.p.slink_ds_junc[at(l)])] : m.node_conc[at(n + 1)][at(l)]);
    return in;
}

// The junctions' inflow masses at the present concentrations, on their bases.
void junction_sums(const step_water &f) {
    pipe_constituent_state &m = f.m;
    for (int j = 1; j <= f.p.num_junctions; ++j) m.junction_sum[at(j)] = m.junction_base[at(j)];
    for (int l = 1; l <= f.p.num_superlinks; ++l) {
        const double d = f.down(f.count(l) + 1, l), u = f.up(1, l);
        if (d > 0.0) m.junction_sum[at(f.p.slink_ds_junc[at(l)])] += d * m.node_conc[at(f.count(l) + 1)][at(l)];
        if (u < 0.0) m.junction_sum[at(f.p.slink_us_junc[at(l)])] -= u * m.node_conc[1][at(l)];
    }
}

// Takes `volume` m3 of a cell's water with its constituent k (g): the water has
// left already; its mass leaves at the cell's concentration, no more than the
// cell holds.
double take_from_cell(model_state &s, int k, int cell, double volume) {
    if (!cell_ok(s, cell) || !(volume > 0.0)) return 0.0;
    double &mass = constituent_row(s, tt::mass, k)[cell];
    const double conc = std::max(constituent_row(s, tt::concentration, k)[cell], 0.0);
    const double g = std::clamp(conc * volume, 0.0, std::max(mass, 0.0));
    mass -= g;
    post_mass(s, k, ledger_node::surface, ledger_node::pipes, g);
    return g;
}

// Gives a cell `grams` of constituent k with the water the network gave it; its
// concentration becomes that of the water its mass is in.
void give_to_cell(model_state &s, int k, int cell, double grams) {
    if (!cell_ok(s, cell) || !(grams > 0.0)) return;
    double &mass = constituent_row(s, tt::mass, k)[cell];
    mass += grams;
    const double h = s.previous_depth.empty() ? s.depth[at(cell)] : s.previous_depth[at(cell)];
    if (h > 1e-16) constituent_row(s, tt::concentration, k)[cell] = mass / (h * s.cell_size * s.cell_size);
    post_mass(s, k, ledger_node::pipes, ledger_node::surface, grams);
}

// The water the cells' constituent mass is in (the depth of the last transport)
// follows what the network took from the cells and gave them in the step.
void move_cell_water(model_state &s, const step_water &f) {
    if (s.previous_depth.empty()) return;
    const superlink_network &p = f.p;
    const double area = s.cell_size * s.cell_size;
    auto move = [&](int cell, double v) {
        if (cell_ok(s, cell)) s.previous_depth[at(cell)] = std::max(s.previous_depth[at(cell)] - v / area, 0.0);
    };
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int n = 1; n <= f.count(l) + 1; ++n) move(node_cell(s, n, l), f.cell_exchange(n, l) - f.first_half(n, l));
    for (int j = 1; j <= p.num_junctions; ++j) {
        const int cell = int_at(s.junction_cell, j);
        move(cell, f.junction_exchange(j) - f.junction_first_half(j));
        if (p.junction_kind[at(j)] == 888) move(cell, -f.m.junction_outlet[at(j)]);
    }
}

// Mixes constituent k through the network for the step, then moves its mass
// along the flows at the mixed concentrations, so that every gram one store
// gives another store receives.
void carry_constituent(model_state &s, const step_water &f, int k) {
    const superlink_network &p = f.p;
    pipe_constituent_state &m = f.m;
    const int L = p.num_superlinks, J = p.num_junctions;
    for (int l = 1; l <= L; ++l)
        for (int n = 1; n <= f.count(l) + 1; ++n) {
            const double W = m.node_water[at(n)][at(l)], M = m.node_mass[at(k)][at(n)][at(l)];
            m.node_base[at(n)][at(l)] =
                M + take_from_cell(s, k, node_cell(s, n, l), f.cell_exchange(n, l) - f.first_half(n, l));
            m.node_conc[at(n)][at(l)] = W > 0.0 ? M / W : 0.0;
        }
    for (int j = 1; j <= J; ++j) {
        const double W = m.junction_water[at(j)], M = m.junction_mass[at(k)][at(j)];
        m.junction_base[at(j)] =
            M + take_from_cell(s, k, int_at(s.junction_cell, j), f.junction_exchange(j) - f.junction_first_half(j));
        m.junction_conc[at(j)] = W > 0.0 ? M / W : 0.0;
    }
    // Gauss-Seidel sweeps, along the superlinks and back in turn.
    double change = 0.0, scale = 0.0;
    int sweep = 0;
    for (; sweep < max_sweeps; ++sweep) {
        change = scale = 0.0;
        const bool forward = sweep % 2 == 0;
        auto settle = [&](double &c, double number) {
            change = std::max(change, std::fabs(number - c));
            scale = std::max(scale, number);
            c = number;
        };
        for (int i = 1; i <= L; ++i) {
            const int l = forward ? i : L + 1 - i, N = f.count(l);
            for (int q = 1; q <= N + 1; ++q) {
                const int n = forward ? q : N + 2 - q;
                const double den = m.node_denominator[at(n)][at(l)];
                settle(m.node_conc[at(n)][at(l)],
                       den > 0.0 ? (m.node_base[at(n)][at(l)] + node_inflow_mass(f, n, l)) / den : 0.0);
            }
        }
        junction_sums(f);
        for (int j = 1; j <= J; ++j) {
            const double den = m.junction_denominator[at(j)];
            settle(m.junction_conc[at(j)], den > 0.0 ? m.junction_sum[at(j)] / den : 0.0);
        }
        if (change <= sweep_tolerance * scale) break;
    }
    if (sweep == max_sweeps) {
        std::printf("Error: the mixing of %s in the pipe network did not settle in %d sweeps "
                    "(largest change %g g/m3)\n",
                    contaminant_display_name(s, k).c_str(), max_sweeps, change);
        raise_printed_error();
    }
    // The masses after the step; a store left below zero by the iteration's
    // last rounding is lifted to zero and the mass booked.
    double lifted = 0.0;
    auto keep = [&](double &mass, double value) {
        if (value < 0.0) lifted -= value;
        mass = std::max(value, 0.0);
    };
    for (int l = 1; l <= L; ++l)
        for (int n = 1; n <= f.count(l) + 1; ++n) {
            const double c = m.node_conc[at(n)][at(l)];
            keep(m.node_mass[at(k)][at(n)][at(l)],
                 m.node_base[at(n)][at(l)] + node_inflow_mass(f, n, l) - c * f.node_out(n, l));
            const double spilled = std::max(-f.cell_exchange(n, l), 0.0);
            give_to_cell(s, k, node_cell(s, n, l), c * spilled);
        }
    junction_sums(f);
    for (int j = 1; j <= J; ++j) {
        const double c = m.junction_conc[at(j)];
        keep(m.junction_mass[at(k)][at(j)], m.junction_sum[at(j)] - c * junction_water_flow(f, j, false));
        const double spilled = std::max(-f.junction_exchange(j), 0.0);
        const int cell = int_at(s.junction_cell, j);
        give_to_cell(s, k, cell, c * spilled);
        const double out = m.junction_outlet[at(j)], g = c * out;
        if (!(g > 0.0)) continue;
        if (p.junction_kind[at(j)] == 888) {
            give_to_cell(s, k, cell, g);
        } else if (s.chan_con_trans && !s.chan.chan_node_conc.empty()) {
            m.outlet_mass[at(k)][at(j)] += g;  // the channel routing takes it at the outlet's node
        } else {
            post_mass(s, k, ledger_node::pipes, ledger_node::channels, g);
        }
    }
    post_mass(s, k, ledger_node::mass_cleanup, ledger_node::pipes, lifted);
}

}  // namespace

void take_first_half_mass(model_state &s, double dt) {
    pipe_constituent_state &m = s.pipe_mass;
    const superlink_step_state &w = s.superlink_work;
    if (!s.ov_con_trans_mode || s.constituent_count < 1 || !m.ready || !w.first_half_taken) return;
    // The step's rain brings its mass now, so that the water taken holds it.
    add_rainborne_constituent_mass(s);
    const superlink_network &p = s.superlinks;
    const double area = s.cell_size * s.cell_size;
    // The mass leaves at the concentration of the water the transport would start
    // from, and that water (the depth of the last transport) gives up the volume.
    auto take = [&](int cell, double v, auto &&mass_of) {
        if (!(v > 0.0) || !cell_ok(s, cell)) return;
        const double water = water_before_transport(s, cell, dt);
        for (int k = 1; k <= s.constituent_count; ++k) {
            double &mass = constituent_row(s, tt::mass, k)[cell];
            const double g = water > 0.0 ? std::clamp(mass * v / water, 0.0, std::max(mass, 0.0)) : 0.0;
            mass -= g;
            mass_of(k) += g;
            post_mass(s, k, ledger_node::surface, ledger_node::pipes, g);
        }
        if (!s.previous_depth.empty())
            s.previous_depth[at(cell)] = std::max(s.previous_depth[at(cell)] - v / area, 0.0);
    };
    for (int j = 1; j <= p.num_junctions; ++j)
        take(int_at(s.junction_cell, j), w.junction_first_half[at(j)],
             [&](int k) -> double & { return m.junction_mass[at(k)][at(j)]; });
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int n = 2; n <= p.link_node_count[at(l)]; ++n)
            take(node_cell(s, n, l), w.node_first_half[at(n)][at(l)],
                 [&](int k) -> double & { return m.node_mass[at(k)][at(n)][at(l)]; });
}

void note_tile_intake(model_state &s, int k, int l, double v) {
    pipe_constituent_state &m = s.pipe_mass;
    if (m.ready && at(k) <= m.tile_volume.rows() && at(l) <= m.tile_volume.cols()) m.tile_volume[at(k)][at(l)] += v;
}

void carry_pipe_constituents(model_state &s, double dt) {
    if (!s.ov_con_trans_mode || s.constituent_count < 1 || !(dt > 0.0)) return;
    pipe_constituent_state &m = s.pipe_mass;
    if (!m.ready && !allocate(s)) {
        raise_printed_error();
        return;
    }
    const step_water f{s.superlinks, s.superlink_work, m, dt};
    outlet_volumes(s, f);
    mixing_denominators(f);
    move_cell_water(s, f);
    for (int k = 1; k <= s.constituent_count; ++k) carry_constituent(s, f, k);
    // The mixing of the next step starts from the water the network now holds.
    measure_water(s, false);
    const superlink_network &p = s.superlinks;
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int n = 1; n <= f.count(l) + 1; ++n) m.tile_volume[at(n)][at(l)] = 0.0;
}

double pipe_constituent_mass(const model_state &s, int k) {
    const pipe_constituent_state &m = s.pipe_mass;
    if (!m.ready || k < 1 || at(k) > m.node_mass.extent1()) return 0.0;
    const superlink_network &p = s.superlinks;
    double g = 0.0;
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int n = 1; n <= p.link_node_count[at(l)] + 1; ++n) g += m.node_mass[at(k)][at(n)][at(l)];
    for (int j = 1; j <= p.num_junctions; ++j) g += m.junction_mass[at(k)][at(j)] + m.outlet_mass[at(k)][at(j)];
    return g / 1000.0;
}

double take_pipe_outlet_mass(model_state &s, int k, int j) {
    pipe_constituent_state &m = s.pipe_mass;
    if (!m.ready || k < 1 || at(k) > m.outlet_mass.rows() || j < 1 || at(j) > m.outlet_mass.cols()) return 0.0;
    const double g = m.outlet_mass[at(k)][at(j)];
    m.outlet_mass[at(k)][at(j)] = 0.0;
    return g;
}
