// One time step of the pipe network with the superlink scheme: the surface
// exchange at the inlets, the condensation of every superlink into relations
// between its end flows and the heads of its two super-junctions, the junction
// system solved by LU decomposition, the back-substitution of flows and depths,
// the outlets and the console mass-balance report. Called by the pipe-network
// piece of the time loop at every pipe-network time.
#include "model/pipes/superlink_step.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/model_state.h"
#include "model/core/water_flows.h"
#include "model/hydrology/groundwater.h"
#include "model/pipes/pipe_geometry.h"
#include "model/pipes/superlink_network.h"

namespace {

constexpr double g = 9.81;
constexpr double min_node_depth = 0.0001;
// The depth a node is held at when its solution leaves it empty or below (m).
constexpr double empty_node_depth = 0.0000001;

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

struct section {
    double A = 0.0, P = 0.0, T = 0.0;
};

section geometry(const superlink_network &p, int k, int l, double y) {
    section s;
    superlink_pipe_geometry(p.sec_type[at(k)][at(l)], p.diameter[at(k)][at(l)], y,
                            p.width[at(k)][at(l)], s.A, s.P, s.T);
    return s;
}

// File names and the messages of a file that cannot be created, in slot order.
struct output_file {
    const char *directory, *base, *failure;
};
constexpr output_file output_files[superlink_file_count] = {
    {"slink", "head.out", "Can't open head file 'head.out'\n"},
    {"slink", "flow.print", "Can't open file 'flow.print'\n"},
    {"slink", "head.print", "Can't open file 'head.print'\n"},
    {"debug", "matrix.out", "Can't open matrix file 'matrix.out'\n"},
    {"debug", "debug.out", "Can't open debug file 'debug.out'\n"},
    {"debug", "debug2.out", "Can't open debug2 file 'debug2.out'\n"},
    {"debug", "debug3.out", "Can't open file 'debug3.out'\n"},
    {"debug", "mass.out", "Can't open mass file 'mass.out'\n"},
};

// Creates the eight files; in a calibration series the run prefix goes on the
// base name inside the directory. False after the message of the first failure.
bool create_output_files(superlink_step_state &w) {
    w.close_files();
    for (int i = 0; i < superlink_file_count; ++i) {
        const output_file &o = output_files[i];
        const std::string name = std::string(o.directory) + "/" + run_file_name(o.base, "w");
        std::FILE *f = open_output_file(name, "w");
        if (!f) {
            std::printf("%s", o.failure);
            return false;
        }
        w.files[at(i)] = f;
    }
    std::fprintf(w.files[debug_debug_out],
                 "      us_gam  us_mu   us_kap  ds_gam   ds_mu  ds_kap  us_alpha us_beta us_chi "
                 "ds_alpha ds_beta  ds_chi Dstar\n");
    std::fprintf(w.files[debug_debug2_out], "  U      V       W        X       Y       Z\n");
    std::fflush(w.files[debug_debug_out]);
    std::fflush(w.files[debug_debug2_out]);
    return true;
}

bool state_allocated(const superlink_step_state &w, const superlink_network &p) {
    return !w.Q.empty() && w.Q.cols() >= at(p.num_superlinks) &&
           w.Q.rows() >= at(p.max_slink_pipes + 1) && w.junctions == p.num_junctions &&
           !w.fixed_head.empty();
}

bool cell_in(const model_state &s, int c) {
    return c >= 1 && c <= s.cell_count && !s.depth.empty() && at(c) <= s.depth.last();
}

// The grid cell of node k of superlink l, 0 when the map does not hold it.
int node_cell(const model_state &s, int k, int l) {
    const auto &map = s.superlink_node_gnum;
    return !map.empty() && at(k) <= map.rows() && at(l) <= map.cols() ? map[at(k)][at(l)] : 0;
}

}  // namespace

double superlink_pipe_water(const superlink_network &p, int k, int l, double y) {
    const double D = p.diameter[at(k)][at(l)];
    const double slot = y > D ? 0.01 * D * (y - D) : 0.0;
    return (geometry(p, k, l, std::min(y, D)).A + slot) * p.dx[at(k)][at(l)];
}

namespace {

// The water in the network (m3): its pipes at their mean depths (a full one
// with the narrow slot above its crown), the plan areas of its nodes and of its
// junctions that are not fixed heads. With `area`, each pipe's section water
// (m2) is kept there.
double network_water(const superlink_network &p, array_2d<double> *area = nullptr) {
    double v = 0.0;
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        const int N = p.link_node_count[L];
        double below = 0.0;  // the depth of node k - 1
        for (int k = 1; k <= N + 1; ++k) {
            const std::size_t K = at(k);
            const double h = std::max(p.slink_node_depth[K][L], 0.0);
            v += p.As[K][L] * h;
            if (k >= 2) {
                const double pipe = superlink_pipe_water(p, k - 1, l, 0.5 * (below + h));
                if (area) (*area)[K - 1][L] = pipe / p.dx[K - 1][L];
                v += pipe;
            }
            below = h;
        }
    }
    for (int j = 1; j <= p.num_junctions; ++j)
        if (p.junc_fixed_head[at(j)] != 1)
            v += std::max(p.junc_head[at(j)] - p.junc_Zinv[at(j)], 0.0) * p.junc_area[at(j)];
    return v;
}

// Step 1.3 to 1.5: heads at the inverts, shallow still water in every pipe.
void set_initial_state(model_state &s, superlink_step_state &w) {
    superlink_network &p = s.superlinks;
    w.slink_dried_cells = 0;
    w.slink_water_added = 0;
    w.slink_captured_total = w.slink_tile_total = w.slink_surcharge_total = 0.0;
    w.slink_cell_outlet_total = w.slink_channel_outlet_total = 0.0;
    w.scheme_made = w.bounds_added = w.longest_step = w.shortest_step = 0.0;
    w.guard_warned = false;
    w.cut_steps = w.steps = 0;
    for (int j = 1; j <= p.num_junctions; ++j) {
        if (p.junc_fixed_head[at(j)] == 1) w.fixed_head[at(j)] = p.junc_Zinv[at(j)];
        p.junc_inflow[at(j)] = 0.0;
        p.junc_head[at(j)] =
            p.junc_fixed_head[at(j)] == 1 ? w.fixed_head[at(j)] : p.junc_Zinv[at(j)];
    }
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const int N = p.link_node_count[at(l)];
        w.Q_us[at(l)] = w.Q_ds[at(l)] = 0.0;
        p.slink_us_Zinv[at(l)] = p.slink_node_Zinv[1][at(l)];
        p.slink_ds_Zinv[at(l)] = p.slink_node_Zinv[at(N + 1)][at(l)];
        for (int k = 1; k <= N + 1; ++k) {
            w.A[at(k)][at(l)] = w.l_veloc[at(k)][at(l)] = w.top_width[at(k)][at(l)] = 0.0;
            w.Q[at(k)][at(l)] = 0.0;
            p.Q_node[at(k)][at(l)] = 0.0;
            p.slink_node_depth[at(k)][at(l)] = min_node_depth;
            w.Cl[at(k)][at(l)] = 1.0;
        }
    }
    w.held = network_water(p);
    p.slink_volume_start += w.held;
}

// Whether junction j takes surface water in this step: an inlet (types 1 to 9, no
// fixed head) whose head does not stand above its ground, on a cell of the grid
// where the water flows.
bool junction_takes(const model_state &s, int j) {
    const superlink_network &p = s.superlinks;
    const int t = p.junction_kind[at(j)];
    return t >= 1 && t <= 9 && p.junc_fixed_head[at(j)] != 1 && p.junc_head[at(j)] <= p.junc_ground_elev[at(j)] &&
           s.flow_to_superlink[0][at(j)] > 0.0 && cell_in(s, int_at(s.junction_cell, j));
}

// Whether node k (2..N) of superlink l takes surface water in this step: an inlet
// whose water surface does not stand above its ground, on a cell where water flows.
bool node_takes(const model_state &s, int k, int l) {
    const superlink_network &p = s.superlinks;
    const int t = p.inlet_type[at(k)][at(l)];
    return t >= 1 && t <= 9 &&
           p.slink_node_Zinv[at(k)][at(l)] + p.slink_node_depth[at(k)][at(l)] <= p.node_ground_elev[at(k)][at(l)] &&
           std::fabs(s.flow_to_superlink[at(k)][at(l)]) > 0.0 && cell_in(s, node_cell(s, k, l));
}

// The second half of an inlet's take, t / 9 of a cell's water per minute over half
// the step (over the whole step where no first half was taken), added to `inflow`
// (m3/s) with the first half's `first` (m3); also the available and taken volumes
// and the dried-cell count.
void capture(model_state &s, superlink_step_state &w, int t, int cell, double dt, double first, double &inflow) {
    const double area = s.cell_size * s.cell_size;
    double &d = s.depth[at(cell)];
    w.slink_available += d * area + first;
    const double v = inlet_capture_volume(t, d, s.cell_size, w.first_half_taken ? 0.5 * dt : dt);
    inflow = (first + v) / dt;
    w.slink_captured_total += first + v;
    w.slink_taken += first + v;
    d -= v / area;
    if (d < 0.000001) ++w.slink_dried_cells;
}

// Spill of a surcharged inlet: `excess` metres of head over `plan_area` leave it
// as a negative inflow; spill_onto_cells puts the water onto its cell.
void spill(superlink_step_state &w, double excess, double plan_area, double dt, double &inflow) {
    ++w.slink_water_added;
    inflow = -excess * plan_area / dt;
    w.slink_spilled += -inflow * dt;
}

// An inlet that took its first half but whose cell's water no longer flows after
// the routing: that half is its inflow (m3/s) in the step.
void take_first_half_alone(superlink_step_state &w, double first, double dt, double &inflow) {
    inflow = first / dt;
    w.slink_available += first;
    w.slink_captured_total += first;
    w.slink_taken += first;
}

void junction_inlets(model_state &s, superlink_step_state &w, double dt) {
    superlink_network &p = s.superlinks;
    for (int j = 1; j <= p.num_junctions; ++j) {
        const int t = p.junction_kind[at(j)];
        const int cell = int_at(s.junction_cell, j);
        double &inflow = p.junc_inflow[at(j)];
        // A junction that is no fixed head spills when its head stands above
        // the ground, as a node does; types 1 to 9 also take surface water.
        if (t < 0 || t > 9 || p.junc_fixed_head[at(j)] == 1) {
            inflow = 0.0;
            continue;
        }
        const double H = p.junc_head[at(j)], ground = p.junc_ground_elev[at(j)];
        if (H <= ground) {
            const double first = w.junction_first_half[at(j)];
            if (junction_takes(s, j)) {
                capture(s, w, t, cell, dt, first, inflow);
            } else {
                take_first_half_alone(w, first, dt, inflow);
            }
        } else {
            spill(w, H - ground, p.junc_area[at(j)], dt, inflow);
        }
    }
}

void node_inlets(model_state &s, superlink_step_state &w, double dt) {
    superlink_network &p = s.superlinks;
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const int N = p.link_node_count[at(l)];
        for (int k = 2; k <= N; ++k) {
            const int t = p.inlet_type[at(k)][at(l)];
            if (t < 0 || t > 9) continue;
            const int cell = node_cell(s, k, l);
            double &inflow = p.Q_node[at(k)][at(l)];
            const double surface = p.slink_node_Zinv[at(k)][at(l)] + p.slink_node_depth[at(k)][at(l)];
            const double ground = p.node_ground_elev[at(k)][at(l)];
            if (surface <= ground) {
                const double first = w.node_first_half[at(k)][at(l)];
                if (node_takes(s, k, l)) {
                    capture(s, w, t, cell, dt, first, inflow);
                } else {
                    take_first_half_alone(w, first, dt, inflow);
                }
            } else {
                spill(w, surface - ground, p.As[at(k)][at(l)], dt, inflow);
            }
        }
    }
}

// The spills of this step go onto their cells. The network gives no more than
// it holds with what its inlets took in the step: when the surcharged heads ask
// for more, every spill gives its share of that.
void spill_onto_cells(model_state &s, superlink_step_state &w, double dt) {
    if (!(w.slink_spilled > 0.0)) return;
    superlink_network &p = s.superlinks;
    const double available = std::max(w.held + w.slink_taken, 0.0);
    const double share = w.slink_spilled > available ? available / w.slink_spilled : 1.0;
    const double area = s.cell_size * s.cell_size;
    auto pour = [&](int cell, double &inflow) {
        if (!(inflow < 0.0)) return;
        if (!cell_in(s, cell)) {
            inflow = 0.0;
            return;
        }
        inflow *= share;
        const double v = -inflow * dt;
        w.slink_surcharge_total += v;
        w.spilled_step += v;
        s.depth[at(cell)] += v / area;
    };
    for (int j = 1; j <= p.num_junctions; ++j) pour(int_at(s.junction_cell, j), p.junc_inflow[at(j)]);
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 2; k <= p.link_node_count[at(l)]; ++k) {
            const int t = p.inlet_type[at(k)][at(l)];
            if (t < 0 || t > 9) continue;
            const int cell = node_cell(s, k, l);
            pour(cell, p.Q_node[at(k)][at(l)]);
        }
}

// Tile inflow: the rate of every grid-pipe connection that the last exchange
// found is taken from the aquifer of its cell in this step, which lowers the
// cell's water table. A cell gives no more than its saturated water above the
// pipe's water surface (and the aquifer's floor); a fixed-head cell, like a
// run without an aquifer, gives none.
void tile_inflow(model_state &s, superlink_step_state &w, double dt) {
    superlink_network &p = s.superlinks;
    if (!p.tile_drain || p.gpi_rate.empty() || s.groundwater_on != 1) return;
    if (s.water_table_elevation.empty() || s.gw_porosity.empty() || s.aquifer_bottom.empty())
        return;
    for (int c = 1; c <= p.gpi_cell_count; ++c)
        for (int i = 1; i <= p.gpi_npipes[at(c)]; ++i) {
            const double rate = p.gpi_rate[at(c)][at(i)];
            const int cell = p.gpi_gnum[at(c)][at(i)], l = p.gpi_link[at(c)][at(i)];
            const int k = p.gpi_node[at(c)][at(i)];
            if (!(rate > 0.0) || cell < 1 || at(cell) > s.water_table_elevation.last() ||
                at(cell) > s.gw_porosity.last() || at(cell) > s.aquifer_bottom.last())
                continue;
            if (!s.gw_boundary_code.empty() && at(cell) <= s.gw_boundary_code.last()) {
                const int code = s.gw_boundary_code[at(cell)];
                if (code == 2 || code == 5) continue;
            }
            double &table = s.water_table_elevation[at(cell)];
            const double surface = p.slink_node_Zinv[at(k)][at(l)] + p.slink_node_depth[at(k)][at(l)];
            const double floor = std::max(surface, s.aquifer_bottom[at(cell)] + 0.001);
            // The table falls as the aquifer's storage curve says (its solve's).
            const double held = aquifer_water_below(s, cell, table) - aquifer_water_below(s, cell, floor);
            const double v = std::min(rate * dt, std::max(held, 0.0));
            if (!(v > 0.0)) continue;
            table = table_after_taking(s, cell, table, v);
            s.gw_stored_volume -= v;
            s.gw_tile_volume += v;
            p.Q_node[at(k)][at(l)] += v / dt;
            note_tile_intake(s, k, l, v);
            w.slink_tile_total += v;
            w.tile_step += v;
        }
}

// Steps 6.2 to 6.5 for superlink l: pipe state and momentum coefficients, from
// the state the sub-step starts from. The sections are taken no shallower than
// the depth floor of 0.1 mm, so that a drained pipe keeps an area; the floor
// lays no water (the continuity rows store the depths as they are).
void condense_momentum(superlink_network &p, superlink_step_state &w, int l, double dt) {
    const std::size_t L = at(l);
    const int N = p.link_node_count[L];
    auto h = [&](int k) { return std::max(p.slink_node_depth[at(k)][L], min_node_depth); };

    for (int k = 1; k <= N; ++k) {
        const std::size_t K = at(k);
        const double y = (h(k) + h(k + 1)) * 0.5;
        const double D = p.diameter[K][L];
        w.ldepth[K][L] = y;
        section sec;
        if (D <= y) {
            // A full pipe: its full section with a narrow slot for the storage term.
            sec = geometry(p, k, l, D);
            sec.T = 0.01 * D;
        } else {
            sec = geometry(p, k, l, y);
        }
        w.A[K][L] = sec.A;
        w.wet_per[K][L] = sec.P;
        w.top_width[K][L] = sec.T;
        w.l_veloc[K][L] = sec.A > 0.0 ? w.Q[K][L] / sec.A : 0.0;
        w.hyd_R[K][L] = superlink_hydraulic_radius(sec.A, sec.P);
        w.Ac[K][L] = sec.A;
    }
    w.A_us[L] = geometry(p, 1, l, h(1)).A;
    w.A_ds[L] = geometry(p, N, l, h(N + 1)).A;

    w.n_veloc[1][L] = w.l_veloc[1][L];
    for (int k = 2; k <= N; ++k) {
        const double Lk = p.dx[at(k)][L], Lm = p.dx[at(k - 1)][L];
        const double sum = Lk + Lm;
        w.n_veloc[at(k)][L] =
            sum > 0.0 ? (w.l_veloc[at(k)][L] * Lk + w.l_veloc[at(k - 1)][L] * Lm) / sum : 0.0;
    }
    w.n_veloc[at(N + 1)][L] = w.l_veloc[at(N)][L];

    for (int k = 1; k <= N; ++k) {
        const std::size_t K = at(k);
        const double vk = w.n_veloc[K][L], vn = w.n_veloc[K + 1][L];
        const double a = vk > 0.0 ? -vk : 0.0;
        const double c = vn < 0.0 ? vn : 0.0;
        const double Q = w.Q[K][L], Lk = p.dx[K][L], A = w.A[K][L], n = p.M_n[K][L];
        const double aq = std::fabs(Q);
        const double friction_den = A * std::pow(w.hyd_R[K][L], 4.0 / 3.0);
        const double friction = friction_den > 0.0 ? g * n * n * aq * Lk / friction_den : 0.0;
        const double cl = w.Cl[K][L], ac = w.Ac[K][L];
        const double loss_den = cl * cl * ac * ac;
        const double loss = loss_den > 0.0 ? aq * A / loss_den : 0.0;
        w.a[K][L] = a;
        w.c[K][L] = c;
        w.b[K][L] = Lk / dt + friction + loss - a - c;
        // The friction and loss terms per unit of flow, for the later passes.
        w.resistance[K][L] = (friction_den > 0.0 ? g * n * n * Lk / friction_den : 0.0) +
                             (loss_den > 0.0 ? A / loss_den : 0.0);
        w.P[K][L] = Q * Lk / dt + g * A * p.S0[K][L] * Lk;
        w.storage_width[K][L] = w.top_width[K][L];
    }
}

// Steps 6.6 and 6.7 for superlink l: the continuity coefficients with the
// pipes' storage widths, and both recurrences.
void condense_continuity(superlink_network &p, superlink_step_state &w, int l, double dt) {
    const std::size_t L = at(l);
    const int N = p.link_node_count[L];
    auto h = [&](int k) { return p.slink_node_depth[at(k)][L]; };
    for (int k = 1; k <= N + 1; ++k) {
        const std::size_t K = at(k);
        const double here = k <= N ? w.storage_width[K][L] * p.dx[K][L] * 0.5 : 0.0;
        const double before = k >= 2 ? w.storage_width[K - 1][L] * p.dx[K - 1][L] * 0.5 : 0.0;
        const double storage = here + before + p.As[K][L];
        w.E[K][L] = storage / dt;
        w.D[K][L] = (storage * h(k)) / dt + p.Q_node[K][L];
    }

    // Forward recurrence: Q_k = U_k h_(k+1) + V_k + W_k h_1. The upwind term
    // of pipe 1 takes the flow into node 1 from its junction, Q_1 + E_1 h_1 -
    // D_1, as the backward recurrence does, so that both recurrences keep the
    // water of the end nodes and describe one system.
    {
        const double a = w.a[1][L], c = w.c[1][L], gA = g * w.A[1][L];
        const double T = a + w.b[1][L] + c;
        w.T[1][L] = T;
        w.U[1][L] = (w.E[2][L] * c - gA) / T;
        w.V[1][L] = (w.P[1][L] - w.D[2][L] * c + w.D[1][L] * a) / T;
        w.W[1][L] = (gA - w.E[1][L] * a) / T;
    }
    for (int k = 2; k <= N; ++k) {
        const std::size_t K = at(k);
        const double a = w.a[K][L], b = w.b[K][L], c = w.c[K][L], gA = g * w.A[K][L];
        const double G = (gA - w.E[K][L] * a) / (w.U[K - 1][L] - w.E[K][L]);
        const double T = (b + a + c) - G;
        w.T[K][L] = T;
        w.U[K][L] = (w.E[K + 1][L] * c - gA) / T;
        w.V[K][L] = (w.D[K][L] * a + w.P[K][L] - c * w.D[K + 1][L] - (w.V[K - 1][L] + w.D[K][L]) * G) / T;
        w.W[K][L] = -(G / T) * w.W[K - 1][L];
    }
    // Backward recurrence: Q_k = X_k h_k + Y_k + Z_k h_(N+1). Likewise the
    // upwind term of pipe N takes the flow out of node N + 1 into its junction,
    // Q_N - E_(N+1) h_(N+1) + D_(N+1).
    {
        const std::size_t K = at(N);
        const double a = w.a[K][L], c = w.c[K][L], gA = g * w.A[K][L];
        const double O = a + w.b[K][L] + c;
        w.O[K][L] = O;
        w.X[K][L] = (gA - w.E[K][L] * a) / O;
        w.Y[K][L] = (w.D[K][L] * a + w.P[K][L] - c * w.D[K + 1][L]) / O;
        w.Z[K][L] = (w.E[K + 1][L] * c - gA) / O;
    }
    for (int k = N - 1; k >= 1; --k) {
        const std::size_t K = at(k);
        const double a = w.a[K][L], b = w.b[K][L], c = w.c[K][L], gA = g * w.A[K][L];
        const double Kk = gA - c * w.E[K + 1][L];
        const double M = w.X[K + 1][L] + w.E[K + 1][L];
        const double O = b + a + c + Kk / M;
        w.O[K][L] = O;
        w.X[K][L] = (gA - w.E[K][L] * a) / O;
        w.Y[K][L] = (a * w.D[K][L] + w.P[K][L] - c * w.D[K + 1][L] - Kk * (w.D[K + 1][L] - w.Y[K + 1][L]) / M) / O;
        w.Z[K][L] = Kk * w.Z[K + 1][L] / (M * O);
    }
}

// Normal and critical depth of flow q at pipe k, their iterations started from
// the values yn and yc hold (the last sub-step's); false after a stop (the
// rectangular section's iteration warning is no stop).
bool end_depths(const superlink_network &p, int k, int l, double q, double &yn, double &yc) {
    const std::size_t K = at(k), L = at(l);
    const int type = p.sec_type[K][L];
    const double D = p.diameter[K][L], width = p.width[K][L];
    const int normal = superlink_norm_calc(type, D, width, p.M_n[K][L], std::fabs(q),
                                           std::fabs(p.S0[K][L]), yn, yn);
    if (normal != 0 && type != 3) return false;
    return superlink_crit_calc(type, D, width, std::fabs(q), yc, yc) == 0;
}

// The normal and critical depths of the end flows every superlink starts a
// sub-step with (the end conditions of all its attempts take them); false
// after a stop.
bool substep_end_depths(const superlink_network &p, superlink_step_state &w) {
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        const int N = p.link_node_count[L];
        if (N < 1) continue;
        if (!end_depths(p, 1, l, w.Q_us[L], w.us_yn[L], w.us_yc[L])) return false;
        if (!end_depths(p, N, l, w.Q_ds[L], w.ds_yn[L], w.ds_yc[L])) return false;
    }
    return true;
}

// Step 6.8: the end conditions of superlink l, with the end depths of its sub-step.
void end_conditions(superlink_network &p, superlink_step_state &w, int l) {
    const std::size_t L = at(l);
    const int N = p.link_node_count[L];
    const double Hus = p.junc_head[at(p.slink_us_junc[L])];
    const double Hds = p.junc_head[at(p.slink_ds_junc[L])];
    double yn = w.us_yn[L], yc = w.us_yc[L];
    const double qu = w.Q_us[L];
    if (qu >= 0.0 || yc <= Hus - p.slink_us_Zinv[L]) {
        w.us_gam[L] = 0.0;
        w.us_mu[L] = 1.0;
        w.us_kap[L] = -p.slink_us_Zinv[L];
    } else {
        w.us_mu[L] = w.us_kap[L] = 0.0;
        w.us_gam[L] = std::fabs(qu) < 1e-11 ? 0.0 : std::min(yc, yn) / qu;
    }

    const double qd = w.Q_ds[L];
    yn = w.ds_yn[L];
    yc = w.ds_yc[L];
    if (qd <= 0.0 || yc <= Hds - p.slink_ds_Zinv[L]) {
        w.ds_mu[L] = 1.0;
        w.ds_kap[L] = -p.slink_ds_Zinv[L];
        // The exit loss's velocity head: a nearly dry end node takes the flow
        // at no less than its critical area (else the head of a trickle through
        // a film of water would draw its junction dry).
        const double cl = w.Cl[at(N + 1)][L];
        const double ad = std::max(w.A_ds[L], yc > 0.0 ? geometry(p, N, l, std::min(yc, p.diameter[at(N)][L])).A : 0.0);
        const double den = 2.0 * cl * cl * ad * ad * g;
        w.ds_gam[L] = std::fabs(den) > 1e-9 ? std::fabs(qd) / den : 0.0;
    } else {
        w.ds_mu[L] = w.ds_kap[L] = 0.0;
        w.ds_gam[L] = std::fabs(qd) < 1e-11 ? 0.0 : std::min(yc, yn) / qd;
    }
}

// Step 6.9: the end flows as linear functions of the two heads.
void flow_coefficients(superlink_step_state &w, int l, int N) {
    const std::size_t L = at(l), n = at(N);
    const double X1 = w.X[1][L], Y1 = w.Y[1][L], Z1 = w.Z[1][L];
    const double UN = w.U[n][L], VN = w.V[n][L], WN = w.W[n][L];
    const double gu = w.us_gam[L], mu_u = w.us_mu[L], ku = w.us_kap[L];
    const double gd = w.ds_gam[L], mu_d = w.ds_mu[L], kd = w.ds_kap[L];
    const double Dstar = (1.0 - X1 * gu) * (1.0 - UN * gd) - (Z1 * gd) * (WN * gu);
    w.Dstar[L] = Dstar;
    w.us_alpha[L] = (Z1 * gd * WN * mu_u + (1.0 - UN * gd) * X1 * mu_u) / Dstar;
    w.us_beta[L] = (gd * Z1 * UN * mu_d + (1.0 - gd * UN) * Z1 * mu_d) / Dstar;
    w.us_chi[L] = (gd * Z1 * (kd * UN + WN * ku + VN) + (1.0 - gd * UN) * (Z1 * kd + X1 * ku + Y1)) / Dstar;
    w.ds_alpha[L] = (WN * X1 * gu * mu_u + (1.0 - X1 * gu) * WN * mu_u) / Dstar;
    w.ds_beta[L] = (WN * gu * Z1 * mu_d + (1.0 - X1 * gu) * UN * mu_d) / Dstar;
    w.ds_chi[L] = (gu * WN * (Z1 * kd + X1 * ku + Y1) + (UN * kd + WN * ku + VN) * (1.0 - X1 * gu)) / Dstar;
}

void end_flows(const superlink_network &p, superlink_step_state &w, int l) {
    const std::size_t L = at(l);
    const double Hus = p.junc_head[at(p.slink_us_junc[L])];
    const double Hds = p.junc_head[at(p.slink_ds_junc[L])];
    w.Q_us[L] = w.us_alpha[L] * Hus + w.us_beta[L] * Hds + w.us_chi[L];
    w.Q_ds[L] = w.ds_alpha[L] * Hus + w.ds_beta[L] * Hds + w.ds_chi[L];
}

// The flows between superlink l's end nodes and its junctions as linear
// functions of the two heads, flow = alpha H_us + beta H_ds + chi. The end nodes
// keep water like the interior ones: node 1 is fed by its junction with
// Q_us + (E_1 h_1 - D_1), node N + 1 gives its junction Q_ds - (E_(N+1) h_(N+1) -
// D_(N+1)), and each end depth follows from its end condition. Without these
// terms the water the end nodes store would enter no continuity equation.
struct junction_flow {
    double us_alpha, us_beta, us_chi, ds_alpha, ds_beta, ds_chi;
};
junction_flow junction_flows(const superlink_network &p, const superlink_step_state &w, int l) {
    const std::size_t L = at(l), last = at(p.link_node_count[L] + 1);
    const double Eu = w.E[1][L], Du = w.D[1][L], Ed = w.E[last][L], Dd = w.D[last][L];
    const double fu = 1.0 + Eu * w.us_gam[L], fd = 1.0 - Ed * w.ds_gam[L];
    return {fu * w.us_alpha[L] + Eu * w.us_mu[L],
            fu * w.us_beta[L],
            fu * w.us_chi[L] + Eu * w.us_kap[L] - Du,
            fd * w.ds_alpha[L],
            fd * w.ds_beta[L] - Ed * w.ds_mu[L],
            fd * w.ds_chi[L] - Ed * w.ds_kap[L] + Dd};
}

// Step 7: one continuity row per super-junction, with the flows between the
// junctions and the end nodes of their superlinks.
void assemble_junction_system(const superlink_network &p, superlink_step_state &w, double dt) {
    const int J = p.num_junctions;
    junction_sparse &F = w.system;
    clear_junction_system(F);
    for (int i = 1; i <= J; ++i) {
        if (p.junc_fixed_head[at(i)] == 1) {
            add_junction_entry(F, i, i, 1.0);
            w.rhs[at(i)] = w.fixed_head[at(i)];
        } else {
            const double storage = p.junc_area[at(i)] / dt;
            add_junction_entry(F, i, i, storage);
            w.rhs[at(i)] = storage * p.junc_head[at(i)] + p.junc_inflow[at(i)];
        }
    }
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        const int us = p.slink_us_junc[L], ds = p.slink_ds_junc[L];
        const junction_flow f = junction_flows(p, w, l);
        // Parallel superlinks add their entries.
        if (p.junc_fixed_head[at(ds)] != 1) {
            if (us != ds) add_junction_entry(F, ds, us, -f.ds_alpha);
            add_junction_entry(F, ds, ds, -f.ds_beta);
            w.rhs[at(ds)] += f.ds_chi;
        }
        if (us != ds && p.junc_fixed_head[at(us)] != 1) {
            add_junction_entry(F, us, ds, f.us_beta);
            add_junction_entry(F, us, us, f.us_alpha);
            w.rhs[at(us)] -= f.us_chi;
        }
    }
}

// A node gives no more water than it holds: where the solution drains a node
// below its empty depth, the flow out of it is cut by what it lacks and the
// node (or junction) that flow went to receives that much less, the water
// staying where it was: a sweep down the superlink for the flows that leave
// nodes downstream, one up it for those that leave upstream. `short_of` m3 that
// node 1 does not receive from its junction start the first sweep. What the end
// nodes lack, their junctions do not receive. Elsewhere the bounds hold the
// depths; their water is returned (m3).
double hold_nodes(superlink_network &p, superlink_step_state &w, int l, double dt, double short_of) {
    const std::size_t L = at(l);
    const int N = p.link_node_count[L];
    auto depth = [&](int k) -> double & { return p.slink_node_depth[at(k)][L]; };
    auto storage = [&](int k) { return w.E[at(k)][L] * dt; };
    double lacking = short_of;  // m3 the node before did not hold, so did not give
    for (int k = 1; k <= N + 1; ++k) {
        if (lacking > 0.0 && storage(k) > 0.0) {
            (k == 1 ? w.us_junction_flow[L] : w.Q[at(k - 1)][L]) -= lacking / dt;
            depth(k) -= lacking / storage(k);
        }
        const double out = k <= N ? w.Q[at(k)][L] : w.ds_junction_flow[L];
        lacking = depth(k) < 0.0 && out > 0.0 && storage(k) > 0.0 ? storage(k) * (empty_node_depth - depth(k)) : 0.0;
        if (lacking > 0.0) depth(k) = empty_node_depth;
    }
    if (lacking > 0.0) {
        w.ds_junction_flow[L] -= lacking / dt;
        w.junction_short[at(p.slink_ds_junc[L])] += lacking;
    }
    lacking = 0.0;
    for (int k = N + 1; k >= 1; --k) {
        if (lacking > 0.0 && storage(k) > 0.0) {
            w.Q[at(k)][L] += lacking / dt;
            depth(k) -= lacking / storage(k);
        }
        const double up = k >= 2 ? -w.Q[at(k - 1)][L] : -w.us_junction_flow[L];
        lacking = depth(k) < 0.0 && up > 0.0 && storage(k) > 0.0 ? storage(k) * (empty_node_depth - depth(k)) : 0.0;
        if (lacking > 0.0) depth(k) = empty_node_depth;
    }
    if (lacking > 0.0) {
        w.us_junction_flow[L] += lacking / dt;
        w.junction_short[at(p.slink_us_junc[L])] += lacking;
    }
    double added = 0.0;
    for (int k = 1; k <= N + 1; ++k) {
        double &h = depth(k);
        const double bounded =
            k == 1 || k == N + 1
                ? (h > 0.0 ? h : empty_node_depth)
                : bounded_node_depth(h, p.diameter[at(k)][L], p.node_ground_elev[at(k)][L] - p.slink_node_Zinv[at(k)][L]);
        if (bounded == h) continue;
        if (h > 0.0 || h < -10.0 * p.diameter[at(std::min(k, N))][L]) ++w.wild_depths;  // not a trace below empty
        h = bounded;
        // The water the bound adds is what the node now holds beyond what its
        // flows brought it (its continuity row's residual, which does not lean
        // on the depth the solution asked for).
        const double in = k == 1 ? w.us_junction_flow[L] : w.Q[at(k - 1)][L];
        const double out = k == N + 1 ? w.ds_junction_flow[L] : w.Q[at(k)][L];
        added += storage(k) * (h - w.h_start[at(k)][L]) - dt * (in - out + p.Q_node[at(k)][L]);
    }
    w.Q_us[L] = w.Q[1][L];
    w.Q_ds[L] = w.Q[at(N)][L];
    return added;
}

// Step 10 for superlink l: end flows and depths from the new heads, then the
// interior depths and flows from the recurrences, as the linear system solved
// them; then the depth bounds, whose water (each node's change of depth times
// the storage its continuity row gave it) is returned (m3).
double back_substitute(superlink_network &p, superlink_step_state &w, int l, double dt) {
    const std::size_t L = at(l);
    const int N = p.link_node_count[L];
    const double Hus = p.junc_head[at(p.slink_us_junc[L])];
    const double Hds = p.junc_head[at(p.slink_ds_junc[L])];
    end_flows(p, w, l);
    double &h1 = p.slink_node_depth[1][L];
    double &hN1 = p.slink_node_depth[at(N + 1)][L];
    h1 = w.us_gam[L] * w.Q_us[L] + w.us_mu[L] * Hus + w.us_kap[L];
    hN1 = w.ds_gam[L] * w.Q_ds[L] + w.ds_mu[L] * Hds + w.ds_kap[L];
    w.Q[1][L] = w.Q_us[L];
    w.Q[at(N)][L] = w.Q_ds[L];
    const std::size_t last = at(N + 1);
    w.us_junction_flow[L] = w.Q_us[L] + w.E[1][L] * h1 - w.D[1][L];
    w.ds_junction_flow[L] = w.Q_ds[L] - (w.E[last][L] * hN1 - w.D[last][L]);
    for (int k = N; k >= 2; --k) {
        const std::size_t K = at(k);
        const double hk = (w.Q[K][L] - w.Y[K][L] - hN1 * w.Z[K][L]) / w.X[K][L];
        p.slink_node_depth[K][L] = hk;
        if (k > 2) w.Q[K - 1][L] = w.W[K - 1][L] * h1 + w.U[K - 1][L] * hk + w.V[K - 1][L];
    }
    return hold_nodes(p, w, l, dt, 0.0);
}

// An outlet junction with a place for its water: a fixed head of kind 999 (into
// the channel node of its cell) or 888 onto a cell of the grid.
bool outlet_with_place(const model_state &s, int j) {
    const superlink_network &p = s.superlinks;
    const int kind = p.junction_kind[at(j)];
    if (p.junc_fixed_head[at(j)] != 1) return false;
    return kind == 999 || (kind == 888 && cell_in(s, int_at(s.junction_cell, j)));
}

// The ends of every superlink at a fixed head that is no outlet with a place
// for its water are closed: such a head takes and gives no water.
void close_dead_ends(const model_state &s, superlink_step_state &w) {
    const superlink_network &p = s.superlinks;
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const int us = p.slink_us_junc[at(l)], ds = p.slink_ds_junc[at(l)];
        w.us_closed[at(l)] = p.junc_fixed_head[at(us)] == 1 && !outlet_with_place(s, us);
        w.ds_closed[at(l)] = p.junc_fixed_head[at(ds)] == 1 && !outlet_with_place(s, ds);
    }
}

// A closed end of superlink l: no flow between its end node and its junction.
// The end node keeps its own continuity, E h - D = flow from (into) the pipe, so
// its depth follows from the end flow alone.
void close_ends(superlink_step_state &w, int l, int N) {
    const std::size_t L = at(l), last = at(N + 1);
    if (w.us_closed[L] && w.E[1][L] > 0.0) {
        w.us_gam[L] = -1.0 / w.E[1][L];
        w.us_mu[L] = 0.0;
        w.us_kap[L] = w.D[1][L] / w.E[1][L];
    }
    if (w.ds_closed[L] && w.E[last][L] > 0.0) {
        w.ds_gam[L] = 1.0 / w.E[last][L];
        w.ds_mu[L] = 0.0;
        w.ds_kap[L] = w.D[last][L] / w.E[last][L];
    }
}

// Step 11 over one sub-step: the flows of the superlink ends at the outlets
// (m3/s, what leaves the network). An outlet hands on what its end node gives
// it and draws nothing back from its channel or cell: an end that would draw
// water is closed and false returned, so that the sub-step is solved again.
bool outlet_flows(const model_state &s, superlink_step_state &w, double &outflow) {
    const superlink_network &p = s.superlinks;
    bool open = true;
    outflow = 0.0;
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        if (p.link_node_count[L] < 1) continue;
        const int us = p.slink_us_junc[L], ds = p.slink_ds_junc[L];
        if (!w.ds_closed[L] && p.junc_fixed_head[at(ds)] == 1) {
            if (w.ds_junction_flow[L] < 0.0) {
                w.ds_closed[L] = 1;
                open = false;
            }
            outflow += w.ds_junction_flow[L];
        }
        if (!w.us_closed[L] && p.junc_fixed_head[at(us)] == 1) {
            if (w.us_junction_flow[L] > 0.0) {
                w.us_closed[L] = 1;
                open = false;
            }
            outflow -= w.us_junction_flow[L];
        }
    }
    return open;
}

// Step 11 at the step's end: the outlets hand on the water their superlink ends
// gave them in the step, to the channels (999) or onto the junction's cell (888).
void outlets(model_state &s, superlink_step_state &w, double dt) {
    superlink_network &p = s.superlinks;
    const double area = s.cell_size * s.cell_size;
    for (int j = 1; j <= p.num_junctions; ++j) {
        p.junc_outflow[at(j)] = 0.0;
        const double v = w.outlet_volume[at(j)];
        if (!(v > 0.0) || !outlet_with_place(s, j)) continue;
        w.out_step += v;
        p.slink_volume_out += v;
        if (p.junction_kind[at(j)] == 999) {
            p.junc_outflow[at(j)] = v / dt;
            w.slink_channel_outlet_total += v;
        } else {
            s.depth[at(int_at(s.junction_cell, j))] += v / area;
            w.slink_cell_outlet_total += v;
        }
    }
    // The channel step takes the outflow of the channel outlets at their nodes.
    array_1d<double> &channel = s.chan.outlet_flow;
    for (int j = 1; j <= p.num_junctions; ++j)
        if (!channel.empty() && at(j) <= channel.last()) channel[at(j)] = p.junc_outflow[at(j)];
}

// The network's balance over the run, from the water ledger: in, what its inlets
// and the tile drains gave it; out, what it spilled or gave onto cells and what
// its channel outlets offered (the channel step takes that at their nodes).
void report(const superlink_network &p, const superlink_step_state &w, const water_ledger &ledger) {
    using n = ledger_node;
    const double volume_in = ledger.moved(n::surface, n::pipes) + ledger.moved(n::aquifer, n::pipes);
    const double out = ledger.moved(n::pipes, n::surface) + w.slink_channel_outlet_total;
    std::printf("SUPERLINK Mass Balance Report\n");
    std::printf("Total Volume In: %6.2lf  Total Volume Out: %6.2f  \nOutflow Volume to surcharged "
                "inlets: %6.2f\n",
                volume_in, out, w.slink_surcharge_total);
    std::printf("Volume Start: %6.2lf  Volume End: %6.2f\n", p.slink_volume_start,
                p.slink_volume_end);
    if (volume_in > 0.0) {
        // Water the bounds added (the ledger's from the pipe depth bounds) is no input: it shows here.
        const double in = p.slink_volume_start + volume_in;
        std::printf("Mass Balance Error: %6.2lf%%\n",
                    error_as_printed((in - (out + p.slink_volume_end)) / in * 100.0, 2));
    } else {
        std::printf("Balance: cannot calculate, no water input.\n");
    }
    std::printf("Dried Cells: %d  Water Added: %d\n", w.slink_dried_cells, w.slink_water_added);
    if (w.slink_available > 0.0)
        std::printf("Available Gutter Volume Taken: %4.1f%%\n ",
                    (1.0 - (w.slink_available - w.slink_taken) / w.slink_available) * 100.0);
    else
        std::printf("Available Gutter Volume Taken: none available\n");
    std::printf("Total tile flow taken: %8.2lf\n", ledger.moved(ledger_node::aquifer, ledger_node::pipes));
    std::fflush(stdout);
}

int stop_step(int result) {
    raise_printed_error();
    return result;
}

}  // namespace

void superlink_step_state::close_files() {
    for (std::FILE *&f : files) close_run_file(f);
}

bool allocate_superlink_step_state(superlink_step_state &w, const superlink_network &p) {
    const long long rows = p.max_slink_pipes + 2, cols = p.num_superlinks + 1;
    const long long m = std::max(p.superlink_max_dim, std::max(p.num_junctions, p.num_superlinks));
    for (array_2d<double> *a :
         {&w.ldepth, &w.A, &w.top_width, &w.wet_per, &w.hyd_R, &w.l_veloc, &w.Q, &w.Ac, &w.a,
          &w.b, &w.c, &w.P, &w.T, &w.U, &w.V, &w.W, &w.O, &w.X, &w.Y, &w.Z, &w.n_veloc, &w.E,
          &w.D, &w.Cl, &w.step_Q, &w.storage_width, &w.resistance, &w.area_start, &w.area_now, &w.h_start, &w.Q_start,
          &w.Q_trial, &w.node_first_half})
        if (alloc_2d_double(*a, rows, cols, "superlink step state") != 0) return false;
    for (array_1d<double> *a :
         {&w.Q_us, &w.Q_ds, &w.A_us, &w.A_ds, &w.us_gam, &w.us_mu, &w.us_kap, &w.ds_gam,
          &w.ds_mu, &w.ds_kap, &w.us_alpha, &w.us_beta, &w.us_chi, &w.ds_alpha, &w.ds_beta,
          &w.ds_chi, &w.Dstar, &w.us_junction_flow, &w.ds_junction_flow, &w.fixed_head, &w.rhs,
          &w.step_us_flow, &w.step_ds_flow, &w.Q_us_start, &w.Q_ds_start, &w.H_start, &w.outlet_volume, &w.junction_short,
          &w.us_yn, &w.us_yc, &w.ds_yn, &w.ds_yc, &w.junction_first_half})
        if (alloc_1d_double(*a, m) != 0) return false;
    for (array_1d<int> *a : {&w.us_closed, &w.ds_closed})
        if (alloc_1d_int(*a, m) != 0) return false;
    const int J = p.num_junctions;
    lay_junction_pattern(w.system, J, p.slink_us_junc.data(), p.slink_ds_junc.data(),
                         p.num_superlinks);
    w.solver = junction_solver{};
    w.junctions = J;
    return true;
}

// The solved heads x[1..J] as the junction heads.
static void take_junction_heads(superlink_network &p, const double *x) {
    for (int i = 1; i <= p.num_junctions; ++i) p.junc_head[at(i)] = x[i];
}

// The junction heads held at their inverts, once the superlinks have taken the
// solved heads; returns the water the bound adds (m3): the junction's area times
// the raise, and the water a head left below its invert does not count as.
static double bound_junction_heads(superlink_network &p) {
    double added = 0.0;
    for (int i = 1; i <= p.num_junctions; ++i) {
        const double invert = p.junc_Zinv[at(i)], x = p.junc_head[at(i)];
        const double H = bounded_junction_head(x, invert);
        p.junc_head[at(i)] = H;
        if (p.junc_fixed_head[at(i)] != 1)
            added += p.junc_area[at(i)] * (std::max(H - invert, 0.0) - (x - invert));
    }
    return added;
}

// Solves the assembled junction system into the junction heads: sparse, or
// densely when the sparse factorisation meets a small pivot. 0, or -1 after
// the singular-matrix or an allocation message.
static int solve_junction_system(superlink_network &p, superlink_step_state &w) {
    const int J = p.num_junctions;
    junction_sparse &F = w.system;
    for (int i = 1; i <= J; ++i) F.rhs[at(i)] = w.rhs[at(i)];
    const int sparse = w.dense_only ? 1 : solve_junction_sparse(F);
    if (sparse < 0) return -1;
    if (sparse == 0) {
        take_junction_heads(p, F.rhs.data());
        return 0;
    }
    if (w.solver.a.empty() && make_junction_solver(w.solver, J) != 0) return -1;
    for (int i = 1; i <= J; ++i) {
        for (int j = 1; j <= J; ++j) w.solver.a[at(i)][at(j)] = junction_entry(F, i, j);
        w.solver.b[at(i)] = w.rhs[at(i)];
    }
    if (ludcmp(w.solver, J) != 0) return -1;
    ludcmp_solve(w.solver, J);
    take_junction_heads(p, w.solver.b.data());
    return 0;
}

namespace {

// The passes of one sub-step (the first with the top widths of the start, the
// others with the secant widths of the last pass) and the halvings of a step.
constexpr int max_passes = 5;
constexpr int max_halvings = 6;
// A sub-step keeps its continuity when the water its solution holds differs
// from what it started with, took, gave and its bounds placed by no more than
// this share of the water it moved (plus rounding).
constexpr double continuity_share = 1e-3;
// A sub-step may change a pipe's flow by this share of the flow; one that changes
// it by more is halved, and the half kept once it lies within this share of half
// way along the longer trial's change (the longer step followed the flow's path;
// one too long swings from step to step, the flows overshooting and coming back).
constexpr double flow_change_limit = 0.25;
// Each flow is judged as if it were at least half the network's largest flow and
// a millilitre a second (m3/s): a small flow may change by a quarter of that.
constexpr double judged_share_of_largest = 0.5, smallest_flow = 1e-6;

// The state the sub-step starts from: heads below their inverts raised to them
// (their water counts as none either way), kept for its passes; returns the
// water the network holds then (m3).
double start_substep(superlink_network &p, superlink_step_state &w) {
    for (int j = 1; j <= p.num_junctions; ++j)
        if (p.junc_fixed_head[at(j)] != 1) p.junc_head[at(j)] = std::max(p.junc_head[at(j)], p.junc_Zinv[at(j)]);
    const double start = network_water(p, &w.area_start);
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        const int N = p.link_node_count[L];
        for (int k = 1; k <= N + 1; ++k) {
            w.h_start[at(k)][L] = p.slink_node_depth[at(k)][L];
            w.Q_start[at(k)][L] = w.Q[at(k)][L];
        }
        w.Q_us_start[L] = w.Q_us[L];
        w.Q_ds_start[L] = w.Q_ds[L];
    }
    for (int j = 1; j <= p.num_junctions; ++j) w.H_start[at(j)] = p.junc_head[at(j)];
    return start;
}

// Back to the state the sub-step started from.
void restore_substep(superlink_network &p, superlink_step_state &w) {
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        for (int k = 1; k <= p.link_node_count[L] + 1; ++k) {
            p.slink_node_depth[at(k)][L] = w.h_start[at(k)][L];
            w.Q[at(k)][L] = w.Q_start[at(k)][L];
        }
        w.Q_us[L] = w.Q_us_start[L];
        w.Q_ds[L] = w.Q_ds_start[L];
    }
    for (int j = 1; j <= p.num_junctions; ++j) p.junc_head[at(j)] = w.H_start[at(j)];
}

// The secant storage widths between the start and the last pass: each pipe's
// change of section water over the change of its mean depth (the top width
// where the depth did not move), so that the continuity rows store the water
// the sections hold at the new depths.
void secant_widths(const superlink_network &p, superlink_step_state &w) {
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        for (int k = 1; k <= p.link_node_count[L]; ++k) {
            const std::size_t K = at(k);
            const double y0 = 0.5 * (w.h_start[K][L] + w.h_start[K + 1][L]);
            const double y1 = 0.5 * (std::max(p.slink_node_depth[K][L], 0.0) + std::max(p.slink_node_depth[K + 1][L], 0.0));
            const double dy = y1 - y0;
            if (std::fabs(dy) > 1e-9 * std::max(p.diameter[K][L], 1e-3))
                w.storage_width[K][L] = (w.area_now[K][L] - w.area_start[K][L]) / dy;
        }
    }
}

// The momentum rows of the next pass: friction and loss with the mean of the
// start's and the last pass's flow magnitudes (with the start's alone the long
// steps' flows swing from step to step).
void mean_resistance(const superlink_network &p, superlink_step_state &w, double dt) {
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        for (int k = 1; k <= p.link_node_count[L]; ++k) {
            const std::size_t K = at(k);
            const double q = 0.5 * (std::fabs(w.Q_start[K][L]) + std::fabs(w.Q[K][L]));
            w.b[K][L] = p.dx[K][L] / dt + w.resistance[K][L] * q - w.a[K][L] - w.c[K][L];
        }
    }
}

// The flows into the network from its cells and the aquifer in this step (m3/s,
// spills negative), and their magnitudes.
void step_inflow(const superlink_network &p, double &net, double &gross) {
    net = gross = 0.0;
    for (int j = 1; j <= p.num_junctions; ++j) {
        net += p.junc_inflow[at(j)];
        gross += std::fabs(p.junc_inflow[at(j)]);
    }
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)] + 1; ++k) {
            net += p.Q_node[at(k)][at(l)];
            gross += std::fabs(p.Q_node[at(k)][at(l)]);
        }
}

// Whether the sub-step just solved follows its pipes' flows: no flow changes by
// more than flow_change_limit of the largest of its start and end flows, half
// the network's largest flow and smallest_flow; or, with `trial` (the end flows
// of the sub-step twice as long from the same start, in Q_trial), every flow
// that does lies within that share of half way to the trial's. Otherwise the
// flows are kept in Q_trial as the trial of the half step.
bool follows_flows(const superlink_network &p, superlink_step_state &w, bool trial) {
    double largest = 0.0;
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)]; ++k)
            largest = std::max({largest, std::fabs(w.Q_start[at(k)][at(l)]), std::fabs(w.Q[at(k)][at(l)])});
    bool follows = true;
    for (int l = 1; l <= p.num_superlinks && follows; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)]; ++k) {
            const double q0 = w.Q_start[at(k)][at(l)], q1 = w.Q[at(k)][at(l)];
            const double allowed = flow_change_limit * std::max({std::fabs(q0), std::fabs(q1),
                                                                 judged_share_of_largest * largest, smallest_flow});
            const bool off_path = !trial || std::fabs(q1 - 0.5 * (q0 + w.Q_trial[at(k)][at(l)])) > allowed;
            if (std::fabs(q1 - q0) > allowed && off_path) follows = false;
        }
    if (follows) return true;
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)]; ++k) w.Q_trial[at(k)][at(l)] = w.Q[at(k)][at(l)];
    return false;
}

// What one attempt at a sub-step did (m3): the water the bounds added, the
// continuity error of its solution, and whether that error is within its share.
struct substep_result {
    double added = 0.0, error = 0.0;
    bool kept = false;
};

// A junction that is no fixed head gives no water it does not hold: what its
// superlinks did not give it falls from its head, and where its head then lies
// below its invert, the ends that draw water from it take that much less, each
// in proportion to its draw, and their nodes hold to what they receive (a few
// rounds, as a superlink's last node may then leave another junction short).
// Returns the water the bounds added on the way (m3).
double hold_junctions(superlink_network &p, superlink_step_state &w, double dt) {
    double added = 0.0;
    for (int round = 0; round < 4; ++round) {
        bool again = false;
        for (int j = 1; j <= p.num_junctions; ++j) {
            double &short_of = w.junction_short[at(j)];
            if (short_of > 0.0 && p.junc_fixed_head[at(j)] != 1 && p.junc_area[at(j)] > 0.0)
                p.junc_head[at(j)] -= short_of / p.junc_area[at(j)];
            short_of = 0.0;
        }
        for (int j = 1; j <= p.num_junctions; ++j) {
            if (p.junc_fixed_head[at(j)] == 1) continue;
            const double missing = p.junc_area[at(j)] * (p.junc_Zinv[at(j)] - p.junc_head[at(j)]);
            if (!(missing > 0.0)) continue;
            double draw = 0.0;
            for (int l = 1; l <= p.num_superlinks; ++l) {
                if (p.link_node_count[at(l)] < 1) continue;
                if (p.slink_us_junc[at(l)] == j) draw += std::max(w.us_junction_flow[at(l)], 0.0);
                if (p.slink_ds_junc[at(l)] == j) draw += std::max(-w.ds_junction_flow[at(l)], 0.0);
            }
            const double cut = std::min(missing, draw * dt);
            if (!(cut > 0.0)) continue;
            p.junc_head[at(j)] += cut / p.junc_area[at(j)];
            for (int l = 1; l <= p.num_superlinks; ++l) {
                const std::size_t L = at(l);
                const int N = p.link_node_count[L];
                if (N < 1) continue;
                if (p.slink_us_junc[L] == j && w.us_junction_flow[L] > 0.0) {
                    added += hold_nodes(p, w, l, dt, cut * w.us_junction_flow[L] / draw);
                    again = true;
                }
                if (p.slink_ds_junc[L] == j && w.ds_junction_flow[L] < 0.0) {
                    // Flowing back into the superlink's last node: that node receives less.
                    const double v = cut * -w.ds_junction_flow[L] / draw;
                    const std::size_t last = at(N + 1);
                    w.ds_junction_flow[L] += v / dt;
                    double &h = p.slink_node_depth[last][L];
                    const double storage = w.E[last][L] * dt;
                    if (storage > 0.0) h -= v / storage;
                    if (h < 0.0) {
                        added += storage * (empty_node_depth - h);
                        h = empty_node_depth;
                    }
                }
            }
        }
        if (!again) break;
    }
    return added + bound_junction_heads(p);
}

// One attempt at a sub-step of `sub` seconds from the kept start state, which
// holds `start` m3: the momentum rows and end conditions once, then up to
// max_passes solves of the continuity rows with storage widths updated to the
// secants of the last pass and friction and loss taken at the mean of the old
// and the last pass's flows (and again where an outlet end had to be closed):
// at least two, and more while each pass at least halves the continuity error
// (all of them for the shortest sub-step, the `last_chance`). False after a stop.
bool attempt_substep(model_state &s, superlink_step_state &w, double sub, double start, double inflow,
                     double gross_inflow, bool last_chance, substep_result &r) {
    superlink_network &p = s.superlinks;
    for (int l = 1; l <= p.num_superlinks; ++l) {
        if (p.link_node_count[at(l)] < 1) continue;
        condense_momentum(p, w, l, sub);
        end_conditions(p, w, l);
    }
    close_dead_ends(s, w);
    double last_error = 0.0;
    for (int pass = 1, closures = 0; pass <= max_passes; ++pass) {
        restore_substep(p, w);
        for (int l = 1; l <= p.num_superlinks; ++l) {
            const int N = p.link_node_count[at(l)];
            if (N < 1) continue;
            condense_continuity(p, w, l, sub);
            close_ends(w, l, N);
            flow_coefficients(w, l, N);
        }
        assemble_junction_system(p, w, sub);
        r.added = 0.0;
        w.wild_depths = 0;
        if (solve_junction_system(p, w) != 0) {
            // The junction system has no solution for the network as given.
            std::fprintf(stderr, "  (pipe network of the files %s and %s, time step %d)\n",
                         s.storm_sewer_name.c_str(), s.grid_pipe_name.c_str(), p.superlink_step_count + 1);
            return false;
        }
        double moved = 0.0;
        for (int l = 1; l <= p.num_superlinks; ++l) {
            const int N = p.link_node_count[at(l)];
            if (N < 1) continue;
            r.added += back_substitute(p, w, l, sub);
            for (int k = 1; k <= N + 1; ++k)
                moved += w.E[at(k)][at(l)] * sub * std::fabs(p.slink_node_depth[at(k)][at(l)] - w.h_start[at(k)][at(l)]);
        }
        r.added += hold_junctions(p, w, sub);
        for (int j = 1; j <= p.num_junctions; ++j)
            if (p.junc_fixed_head[at(j)] != 1)
                moved += p.junc_area[at(j)] * std::fabs(p.junc_head[at(j)] - w.H_start[at(j)]);
        double outflow = 0.0;
        if (!outlet_flows(s, w, outflow) && closures++ < 2 * p.num_superlinks) {
            --pass;  // the same widths with the end closed
            continue;
        }
        const double now = network_water(p, &w.area_now);
        r.error = now - start - r.added - sub * (inflow - outflow);
        moved += sub * (gross_inflow + std::fabs(outflow));
        // A depth beyond its bounds is no solution of this sub-step: it is cut.
        r.kept = pass > 1 &&
                 std::fabs(r.error) + std::fabs(r.added) <= continuity_share * moved + 1e-10 * (now + start) + 1e-12 &&
                 w.wild_depths == 0;
        if (w.wild_depths > 0 && !last_chance) break;
        // A pass that does not at least halve the error will not reach its share
        // soon: the sub-step is cut.
        if (r.kept || pass == max_passes || (pass > 2 && !last_chance && std::fabs(r.error) > 0.5 * last_error)) break;
        last_error = std::fabs(r.error);
        secant_widths(p, w);
        mean_resistance(p, w, sub);
    }
    return true;
}

}  // namespace

double bounded_node_depth(double h, double D, double below_ground) {
    if (h > std::max(below_ground, 0.0) + 10.0 * D || h < -10.0 * D) h = 0.0;
    if (h <= 0.0) h = empty_node_depth;
    return h;
}

double bounded_junction_head(double x, double invert) {
    return x - invert < -0.001 ? invert : x;
}

double inlet_capture_volume(int t, double d, double cell_size, double dt) {
    const double share = static_cast<double>(t) / 9.0;
    const double per_step = dt == inlet_capture_minute ? share : 1.0 - std::pow(1.0 - share, dt / inlet_capture_minute);
    return per_step * d * cell_size * cell_size;
}

double pipe_network_water(const model_state &s) {
    const superlink_network &p = s.superlinks;
    return (p.superlink_step_count > 0 ? p.slink_volume_end : network_water(p)) + s.superlink_work.first_half_pending;
}

void take_inlet_first_half(model_state &s, double dt) {
    superlink_network &p = s.superlinks;
    superlink_step_state &w = s.superlink_work;
    // The first step's inlets see no routed flow yet: its inlets take the whole
    // step's share after the routing.
    if (p.superlink_step_count == 0 || !state_allocated(w, p) || s.flow_to_superlink.empty()) return;
    const double area = s.cell_size * s.cell_size;
    double total = 0.0;
    auto take = [&](int t, int cell, double &first) {
        double &d = s.depth[at(cell)];
        first = inlet_capture_volume(t, std::max(d, 0.0), s.cell_size, 0.5 * dt);
        d -= first / area;
        total += first;
    };
    for (int j = 1; j <= p.num_junctions; ++j) {
        w.junction_first_half[at(j)] = 0.0;
        if (junction_takes(s, j))
            take(p.junction_kind[at(j)], int_at(s.junction_cell, j), w.junction_first_half[at(j)]);
    }
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)] + 1; ++k) {
            w.node_first_half[at(k)][at(l)] = 0.0;
            if (k >= 2 && k <= p.link_node_count[at(l)] && node_takes(s, k, l))
                take(p.inlet_type[at(k)][at(l)], node_cell(s, k, l), w.node_first_half[at(k)][at(l)]);
        }
    w.first_half_pending = total;
    w.first_half_taken = true;
    s.water.move(ledger_node::surface, ledger_node::pipes, total);
}

// The sub-step of `sub` seconds that was kept: its flows join the step's means
// and its outlets' water their volumes.
static void keep_substep(const superlink_network &p, superlink_step_state &w, double sub, double dt) {
    const double f = sub / dt;
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        const int N = p.link_node_count[L];
        if (N < 1) continue;
        for (int k = 1; k <= N; ++k) w.step_Q[at(k)][L] += f * w.Q[at(k)][L];
        w.step_us_flow[L] += f * w.us_junction_flow[L];
        w.step_ds_flow[L] += f * w.ds_junction_flow[L];
        const int us = p.slink_us_junc[L], ds = p.slink_ds_junc[L];
        if (!w.ds_closed[L] && p.junc_fixed_head[at(ds)] == 1) w.outlet_volume[at(ds)] += sub * w.ds_junction_flow[L];
        if (!w.us_closed[L] && p.junc_fixed_head[at(us)] == 1) w.outlet_volume[at(us)] -= sub * w.us_junction_flow[L];
    }
}

int superlink_step(model_state &s, double dt) {
    superlink_network &p = s.superlinks;
    superlink_step_state &w = s.superlink_work;
    const bool first = p.superlink_step_count == 0;
    if (first && !create_output_files(w)) return stop_step(-9);
    if ((first || !state_allocated(w, p)) && !allocate_superlink_step_state(w, p))
        return stop_step(-1);
    if (first) set_initial_state(s, w);

    w.slink_available = w.slink_taken = 0.0;
    // The first half of the take is posted already; the network takes it in now.
    const double first_half = w.first_half_pending;
    w.first_half_pending = 0.0;
    if (!w.first_half_taken) {
        for (int j = 1; j <= p.num_junctions; ++j) w.junction_first_half[at(j)] = 0.0;
        for (int l = 1; l <= p.num_superlinks; ++l)
            for (int k = 1; k <= p.link_node_count[at(l)] + 1; ++k) w.node_first_half[at(k)][at(l)] = 0.0;
    }
    w.slink_spilled = w.spilled_step = w.tile_step = w.out_step = 0.0;
    junction_inlets(s, w, dt);
    node_inlets(s, w, dt);
    w.first_half_taken = false;
    spill_onto_cells(s, w, dt);
    tile_inflow(s, w, dt);

    double added = 0.0;
    double inflow = 0.0, gross_inflow = 0.0;
    step_inflow(p, inflow, gross_inflow);
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const std::size_t L = at(l);
        w.step_us_flow[L] = w.step_ds_flow[L] = 0.0;
        for (int k = 1; k <= p.link_node_count[L]; ++k) w.step_Q[at(k)][L] = 0.0;
    }
    for (int j = 1; j <= p.num_junctions; ++j) w.outlet_volume[at(j)] = 0.0;

    // Sub-steps: the whole step, halved while a solution does not keep its
    // continuity or does not follow its pipes' flows (at most max_halvings
    // times), and doubled again after one that passes.
    double done = 0.0, sub = dt, shortest = dt, error = 0.0;
    const double shortest_allowed = std::ldexp(dt, -max_halvings) * (1.0 + 1e-9);
    while (done < dt * (1.0 - 1e-12)) {
        sub = std::min(sub, dt - done);
        const double start = start_substep(p, w);
        if (!substep_end_depths(p, w)) return stop_step(-1);
        substep_result r;
        bool trial = false;  // whether Q_trial holds the end flows of the sub-step twice as long
        for (;;) {
            if (!attempt_substep(s, w, sub, start, inflow, gross_inflow, sub <= shortest_allowed, r))
                return stop_step(-1);
            if (r.kept) {
                r.kept = follows_flows(p, w, trial);
                trial = !r.kept;
            } else {
                trial = false;
            }
            if (r.kept || sub <= shortest_allowed) break;
            restore_substep(p, w);
            sub *= 0.5;
            if (!s.quiet_card)
                std::printf(" *Changing pipe network time step to %4.2lf seconds...\n", sub);
        }
        keep_substep(p, w, sub, dt);
        added += r.added;
        error += r.error;
        done += sub;
        shortest = std::min(shortest, sub);
        if (r.kept) sub *= 2.0;
    }
    ++w.steps;
    if (shortest < dt * (1.0 - 1e-9)) ++w.cut_steps;
    if (w.shortest_step == 0.0 || shortest < w.shortest_step) w.shortest_step = shortest;
    w.longest_step = std::max(w.longest_step, dt);

    const double onto_cells = w.slink_cell_outlet_total;
    outlets(s, w, dt);
    const double kept = network_water(p);
    w.scheme_made += error;
    w.bounds_added += added;
    water_ledger &ledger = s.water;
    ledger.move(ledger_node::surface, ledger_node::pipes, w.slink_taken - first_half);
    ledger.move(ledger_node::pipes, ledger_node::surface, w.spilled_step);
    ledger.move(ledger_node::aquifer, ledger_node::pipes, w.tile_step);
    ledger.move(ledger_node::pipes, ledger_node::surface, w.slink_cell_outlet_total - onto_cells);
    ledger.move(ledger_node::pipe_depth_bounds, ledger_node::pipes, added);
    w.held = kept;
    p.slink_volume_end = kept;
    p.slink_volume_in = w.slink_tile_total + w.slink_captured_total;
    // The report is printed and the run goes on: a run never waits for a key.
    report(p, w, ledger);
    return 0;
}
