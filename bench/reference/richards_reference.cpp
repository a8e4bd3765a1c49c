// The Richards step and the Brooks and Corey functions as they were before the
// node powers were shared (one power per node for the conductivity, capacity and
// moisture) and the tridiagonal solve's divisions hoisted, with the sub-step control
// of today's step (the surface supply of the flux state, the saturated-top ponding
// and the local-error cut): the benchmark and the equality test compare the current
// step with it.
#include "bench/reference/richards_reference.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/hydrology/evapotranspiration.h"
#include "model/hydrology/layered_soil.h"
#include "model/core/soil_hydraulics.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/model_state.h"

namespace reference {

// Its own curve record, so that calls with it find the copies below.
struct brooks_corey_curve {
    double theta_s = 0.0, theta_r = 0.0, hb = 0.0, lambda = 0.0;
};
int solve_tridiagonal(int n, const double *sub, double *diag, const double *super, double *rhs);
namespace {

// Saturations this close to 0 are held there so that heads stay finite.
constexpr double smallest_saturation = 1e-6;

double saturation(double theta, double theta_s, double theta_r) {
    const double span = theta_s - theta_r;
    if (!(span > 0.0)) return 1.0;
    return std::clamp((theta - theta_r) / span, 0.0, 1.0);
}

// Parabola factor c of the junction region: Se = 1 - (c h)^2.
double parabola_factor(const brooks_corey_curve &c) {
    const double sc = junction_saturation(c.lambda);
    return std::sqrt(1.0 - sc) / (c.hb * std::pow(sc, -1.0 / c.lambda));
}

brooks_corey_curve node_curve(const model_state &s, int cell, int node) {
    brooks_corey_curve c;
    c.theta_s = s.richards_theta_s[cell][node];
    c.theta_r = s.richards_theta_r[cell][node];
    c.hb = s.richards_bubbling[cell][node];
    c.lambda = s.richards_lambda[cell][node];
    return c;
}

}  // namespace

double junction_saturation(double lambda) { return lambda > 0.0 ? 2.0 / (2.0 + lambda) : 1.0; }

double junction_moisture(double theta_s, double lambda) {
    if (!(lambda > 0.0)) return theta_s;
    const double inv = 1.0 / lambda;
    return 2.0 * theta_s * inv / (2.0 * inv + 1.0);
}

double junction_head(double hb, double lambda) {
    if (!(lambda > 0.0)) return hb;
    return hb * std::pow(junction_saturation(lambda), -1.0 / lambda);
}

double bc_moisture_from_head(double head, const brooks_corey_curve &c) {
    if (head >= 0.0 || !(c.lambda > 0.0) || c.hb == 0.0) return c.theta_s;
    const double span = c.theta_s - c.theta_r;
    if (head <= junction_head(c.hb, c.lambda))
        return c.theta_r + span * std::pow(c.hb / head, c.lambda);
    const double ch = parabola_factor(c) * head;
    return c.theta_r + span * (1.0 - ch * ch);
}

double bc_head_from_moisture(double theta, const brooks_corey_curve &c) {
    const double se = saturation(theta, c.theta_s, c.theta_r);
    if (se >= 1.0 || !(c.lambda > 0.0)) return 0.0;
    const double sc = junction_saturation(c.lambda);
    if (se > sc)
        return c.hb * std::sqrt(1.0 - se) * std::pow(sc, -1.0 / c.lambda) / std::sqrt(1.0 - sc);
    return c.hb / std::pow(std::max(se, smallest_saturation), 1.0 / c.lambda);
}

void bc_conductivity_capacity(double head, const brooks_corey_curve &c, double &kr,
                              double &capacity) {
    if (head >= 0.0 || !(c.lambda > 0.0) || c.hb == 0.0) {
        kr = 1.0;
        capacity = 0.0;
        return;
    }
    const double span = c.theta_s - c.theta_r;
    if (head <= junction_head(c.hb, c.lambda)) {
        const double ratio = head / c.hb;
        kr = std::pow(ratio, -(3.0 * c.lambda + 2.0));
        capacity = -std::pow(ratio, -(c.lambda + 1.0)) * span * c.lambda / c.hb;
        return;
    }
    const double se = saturation(bc_moisture_from_head(head, c), c.theta_s, c.theta_r);
    kr = std::pow(se, 3.0 + 2.0 / c.lambda);
    const double f = parabola_factor(c);
    capacity = -2.0 * span * f * f * head;
}

double havercamp_moisture_from_head(double head, double theta_s, double theta_r, double hb,
                                    double n) {
    if (head >= 0.0 || !(hb > 0.0)) return theta_s;
    return theta_r + (theta_s - theta_r) / (1.0 + std::pow(std::fabs(head) / hb, n));
}

double havercamp_head_from_moisture(double theta, double theta_s, double theta_r, double hb,
                                    double n) {
    const double se = saturation(theta, theta_s, theta_r);
    if (se >= 1.0 || !(n > 0.0)) return 0.0;
    return -hb * std::pow(1.0 / std::max(se, smallest_saturation) - 1.0, 1.0 / n);
}

void head_from_moisture(model_state &s, int cell, int node, int form) {
    const double theta = s.richards_theta[cell][node];
    if (form == curve_havercamp) {
        s.richards_head[cell][node] = havercamp_head_from_moisture(
            theta, s.richards_theta_s[cell][node], s.richards_theta_r[cell][node],
            s.havercamp_alpha[cell][node], s.havercamp_beta[cell][node]);
        return;
    }
    s.richards_head[cell][node] = bc_head_from_moisture(theta, node_curve(s, cell, node));
}

void moisture_from_head(model_state &s, int cell, int node, int form) {
    const double head = s.richards_head[cell][node];
    if (form == curve_havercamp) {
        s.richards_theta[cell][node] = havercamp_moisture_from_head(
            head, s.richards_theta_s[cell][node], s.richards_theta_r[cell][node],
            s.havercamp_alpha[cell][node], s.havercamp_beta[cell][node]);
        return;
    }
    s.richards_theta[cell][node] = bc_moisture_from_head(head, node_curve(s, cell, node));
}

void soil_hydraulic_properties(model_state &s, int cell) {
    const int nodes = s.richards_cell_nodes.empty() ? s.richards_node_count
                                                    : s.richards_cell_nodes[cell];
    for (int j = 1; j <= nodes; ++j)
        bc_conductivity_capacity(s.richards_head[cell][j], node_curve(s, cell, j),
                                 s.richards_kr[cell][j], s.richards_capacity[cell][j]);
    if (nodes >= 1) {
        s.richards_kr[cell][0] = s.richards_kr[cell][1];
        s.richards_capacity[cell][0] = s.richards_capacity[cell][1];
    }
}




namespace {

constexpr double dry_surface = 1e-10;            // cm of ponded water
constexpr double smallest_substep = 1e-6;        // h; below it the run stops
constexpr double remainder_tolerance = 1e-8;     // h
constexpr double switch_step_cap = 0.02;         // h after a boundary switch
constexpr double ponded_step = 1.0 / 720.0;      // h, first sub-step under a pond
constexpr double ponded_step_limit = 0.001;      // h
constexpr double skip_relative_moisture = 83.0;  // percent
constexpr double failed_head = -10000000.0;      // cm
constexpr double failed_head_saturation = 0.95;
constexpr int ponded_iteration_cap = 5;
constexpr double converged_percent = 0.1;
constexpr double top_saturation = 0.999999;
constexpr double residual_margin = 1e-6;  // of theta_s - theta_r
constexpr double smallest_dtheta = 0.0001;
constexpr double pivot_fraction = 1e-13;
constexpr double overshoot_fraction = 0.1;
constexpr double error_share = 0.02;
constexpr double smallest_cut = 0.2, error_safety = 0.9;
constexpr double shortest_cut_step = 1e-5;  // h


struct settings {
    int form = curve_brooks_corey;
    int geometric = 1;     // RICHARDS_K_OPTION 2 (default) or anything but 1
    int upper = 1;         // RICHARDS_UPPER_OPTION
    int iter_max = 1;
    int fixed_bottom = 0;
    double weight = 1.0, dtheta_max = 0.0025;
};

settings settings_of(const model_state &s) {
    settings k;
    k.form = s.richards_c_option == curve_havercamp ? curve_havercamp : curve_brooks_corey;
    k.geometric = s.richards_k_option == 1 ? 0 : 1;
    k.upper = s.richards_upper_option;
    k.iter_max = std::max(1, s.richards_iter_max);
    k.fixed_bottom = s.richards_bottom_fixed;
    k.weight = s.richards_weight;
    k.dtheta_max = s.richards_dtheta_max > 0.0 ? s.richards_dtheta_max : 0.0025;
    return k;
}

// Moisture of node j of cell i at head h, by the curve form.
double node_moisture(const model_state &s, int i, int j, double h, int form) {
    const double ts = s.richards_theta_s[i][j], tr = s.richards_theta_r[i][j];
    if (form == curve_havercamp)
        return havercamp_moisture_from_head(h, ts, tr, s.havercamp_alpha[i][j],
                                            s.havercamp_beta[i][j]);
    brooks_corey_curve c;
    c.theta_s = ts;
    c.theta_r = tr;
    c.hb = s.richards_bubbling[i][j];
    c.lambda = s.richards_lambda[i][j];
    return bc_moisture_from_head(h, c);
}

void column_functions(model_state &s, int i, int form) {
    if (form == curve_havercamp) soil_column_helper(s, i);
    else reference::soil_hydraulic_properties(s, i);
}

// Pointers into one cell's node rows (index 0 the surface).
struct column {
    int n = 0;
    double *h, *theta, *kr, *cap, *dz, *ks, *ts, *tr, *source, *flux, *h_start, *theta_start;
};

column column_of(model_state &s, int i) {
    column c;
    c.n = s.richards_cell_nodes[i];
    c.h = s.richards_head[i].data();
    c.theta = s.richards_theta[i].data();
    c.kr = s.richards_kr[i].data();
    c.cap = s.richards_capacity[i].data();
    c.dz = s.richards_dz[i].data();
    c.ks = s.richards_ks[i].data();
    c.ts = s.richards_theta_s[i].data();
    c.tr = s.richards_theta_r[i].data();
    c.source = s.richards_source[i].data();
    c.flux = s.richards_flux[i].data();
    c.h_start = s.richards_head_start[i].data();
    c.theta_start = s.richards_theta_start[i].data();
    return c;
}

// What one attempt at a sub-step came to.
enum class attempt_result { accepted, failed, pond_empties, too_long };

struct substep_outcome {
    double taken = 0.0, evaporated = 0.0, bottom = 0.0, clip = 0.0;  // cm; evaporated from the soil
    double largest_dtheta = smallest_dtheta;
    double error = 0.0;
};

struct surface_supply {
    double rate = 0.0;
    bool may_pond = true;
};

// Interface conductivities K(1..n) of the column (cm/h).
void interface_conductivities(const column &c, const double *kr, int state, const settings &k,
                              double *kk) {
    const auto mean = [&](double above, double below) {
        if (k.geometric) return std::sqrt(above * below);
        return k.weight * above + (1.0 - k.weight) * below;
    };
    for (int j = 2; j <= c.n; ++j) kk[j] = mean(kr[j - 1], kr[j]) * c.ks[j];
    if (state == 1) {
        kk[1] = 0.0;
    } else if (k.upper == 2) {
        kk[1] = c.ks[1];
    } else if (k.upper == 3) {
        kk[1] = mean(1.0, kr[1]) * c.ks[1];
    } else {
        kk[1] = kr[1] * c.ks[1];
    }
}

// The larger at each node of half the step times the change of its moisture rate
// from the start state (kr_start, h_start) to the end state, and the step times the
// change of its rate at the end heads from the solve's conductivities `solved` to
// the end state's; the largest over the nodes.
double local_error(const column &c, const double *kr_start, const double *solved, int state,
                   const settings &k, double step, double *a, double *b) {
    interface_conductivities(c, kr_start, state, k, a);
    interface_conductivities(c, c.kr, state, k, b);
    const auto flux = [&](const double *kk, const double *h, int j) {
        const double above = j == 1 ? c.h[0] : h[j - 1];
        return kk[j] - (h[j] - above) * kk[j] / (0.5 * (c.dz[j - 1] + c.dz[j]));
    };
    double largest = 0.0;
    for (int j = 1; j <= c.n - 1; ++j) {
        const double start = flux(a, c.h_start, j) - flux(a, c.h_start, j + 1);
        const double end = flux(b, c.h, j) - flux(b, c.h, j + 1);
        const double held = flux(solved, c.h, j) - flux(solved, c.h, j + 1);
        largest = std::max(largest, std::max(0.5 * std::fabs(end - start), std::fabs(end - held)) / c.dz[j]);
    }
    return step * largest;
}

// Evapotranspiration of one sub-step from the root-zone nodes (nodes down to
// the root depth, the one crossing it included, at least the top node): each
// node gives the soil demand (cm/h) in proportion to its share of the root zone
// and its stress factor at the sub-step start, never more than half the water it
// holds above its lowest moisture. The withdrawal joins the node sources; the
// depth taken (cm) is returned.
double root_zone_withdrawal(const model_state &s, int i, const column &c, double demand,
                            double step) {
    if (!(demand > 0.0) || c.n < 2) return 0.0;
    const double root_cm =
        s.richards_column_depth.empty() ? 0.0 : s.richards_column_depth[i] * 100.0;
    int last = 1;
    double depth = c.dz[1];
    while (last < c.n - 1 && depth < root_cm) depth += c.dz[++last];
    if (!(depth > 0.0)) return 0.0;
    const bool deardorff = s.et_deardorff != 0;
    double taken = 0.0;
    for (int j = 1; j <= last; ++j) {
        const double theta = c.theta_start[j];
        const double f = et_stress_factor(deardorff, theta, s.richards_theta_fc[i][j],
                                          s.richards_theta_wp[i][j], c.tr[j]);
        const double low = c.tr[j] + residual_margin * (c.ts[j] - c.tr[j]);
        const double room = std::max(0.0, 0.5 * (theta - low) * c.dz[j] / step);
        const double sink = std::min(demand * f * c.dz[j] / depth, room);  // cm/h
        if (!(sink > 0.0)) continue;
        c.source[j] -= sink / c.dz[j];
        taken += sink * step;
    }
    return taken;
}

// One sub-step of cell i's column under the surface state, with surface water
// s_cm and the soil's ET demand et (cm/h). On acceptance the column holds the new
// heads and moistures.
attempt_result attempt_substep(model_state &s, int i, const column &c, const settings &k,
                               int state, double s_cm, const surface_supply &supply, double et,
                               double step, substep_outcome &out) {
    const int n = c.n, rows = n - 1;
    double *sub = s.richards_sub.data(), *diag = s.richards_diag.data();
    double *sup = s.richards_super.data(), *rhs = s.richards_rhs.data();
    double *iterate = s.richards_iterate.data(), *kk = s.richards_k.data();
    const bool dry = s_cm <= dry_surface;

    // Boundary: the surface head (ponded states) or the top source (flux state).
    for (int j = 1; j <= n; ++j) c.source[j] = 0.0;
    if (state == 1) {
        c.h[0] = -0.5 * c.dz[1];
        c.source[1] = supply.rate / c.dz[1];
    } else {
        c.h[0] = (!dry || c.h_start[1] >= 0.0) ? s_cm - 0.5 * c.dz[1] : -0.5 * c.dz[1];
    }
    const double withdrawn = dry ? root_zone_withdrawal(s, i, c, et, step) : 0.0;
    const int cap = state == 1 ? k.iter_max : std::min(k.iter_max, ponded_iteration_cap);

    for (int iteration = 1;; ++iteration) {
        for (int j = 0; j <= n; ++j) iterate[j] = c.h[j];
        interface_conductivities(c, c.kr, state, k, kk);
        // A column saturated throughout with a closed top and a free bottom has no
        // storage to drain from: its top node takes the capacity of the secant of
        // its curve over the top node's thickness.
        double top_cap = c.cap[1];
        if (state == 1 && !k.fixed_bottom) {
            bool storage = false;
            for (int j = 1; j <= rows && !storage; ++j) storage = c.cap[j] > 0.0;
            if (!storage)
                top_cap = (c.ts[1] - node_moisture(s, i, 1, -c.dz[1], k.form)) / c.dz[1];
        }
        // Rows whose solved head crosses zero are solved once more with the secant
        // capacity of that crossing, so that the node fills or drains by the fluxes.
        bool resolved = false;
        for (;;) {
            for (int j = 1; j <= rows; ++j) {
                const double ddn = 0.5 * (c.dz[j - 1] + c.dz[j]);
                const double dup = 0.5 * (c.dz[j + 1] + c.dz[j]);
                const double capj = j == 1 ? top_cap : c.cap[j];
                const double cj = capj / step;
                sub[j] = -kk[j] / (c.dz[j] * ddn);
                sup[j] = -kk[j + 1] / (c.dz[j] * dup);
                diag[j] = kk[j] / (c.dz[j] * ddn) + cj + kk[j + 1] / (c.dz[j] * dup);
                rhs[j] = kk[j] / c.dz[j] + cj * iterate[j] - kk[j + 1] / c.dz[j] + c.source[j] -
                         (c.theta[j] - c.theta_start[j]) / step;
            }
            rhs[1] -= sub[1] * c.h[0];
            if (k.fixed_bottom) {
                rhs[rows] -= sup[rows] * c.h[n];
            } else {
                diag[rows] += sup[rows];
            }
            sup[rows] = 0.0;
            if (solve_tridiagonal(rows, sub, diag, sup, rhs) != 0) return attempt_result::failed;
            for (int j = 1; j <= rows; ++j) {
                const double x = rhs[j];
                if (std::isnan(x) || !std::isfinite(x)) return attempt_result::failed;
                if (x < failed_head && c.theta_start[j] > failed_head_saturation * c.ts[j])
                    return attempt_result::failed;
            }
            if (resolved) break;
            bool crossing = false;
            for (int j = 1; j <= rows; ++j) {
                const double old = iterate[j], now = rhs[j];
                if ((old >= 0.0) == (now >= 0.0)) continue;
                const double th_now = node_moisture(s, i, j, now, k.form);
                const double th_old = node_moisture(s, i, j, old, k.form);
                const double secant = (th_now - th_old) / (now - old);
                if (!(secant > 0.0)) continue;
                if (j == 1) top_cap = secant;
                else c.cap[j] = secant;
                crossing = true;
            }
            if (!crossing) break;
            resolved = true;
        }

        // Fluxes through the interfaces with the new heads (positive downward).
        const double h_bottom = k.fixed_bottom ? c.h[n] : rhs[rows];
        for (int j = 1; j <= n; ++j) {
            const double above = j == 1 ? c.h[0] : rhs[j - 1];
            const double here = j == n ? h_bottom : rhs[j];
            const double ddn = 0.5 * (c.dz[j - 1] + c.dz[j]);
            c.flux[j] = kk[j] - (here - above) * kk[j] / ddn;
        }
        if (state != 1 && c.flux[1] * step > s_cm && c.flux[1] > 0.0)
            return attempt_result::pond_empties;

        double change = 0.0;
        out.largest_dtheta = smallest_dtheta;
        out.clip = 0.0;
        for (int j = 1; j <= rows; ++j) {
            const double dtheta =
                ((c.flux[j] - c.flux[j + 1]) / c.dz[j] + c.source[j]) * step;
            out.largest_dtheta = std::max(out.largest_dtheta, std::fabs(dtheta));
            const double wet = c.theta_start[j] + dtheta;
            // Under the flux boundary more water than the top node holds ponds it.
            if (j == 1 && state == 1 && (wet - c.ts[1]) * c.dz[1] > dry_surface)
                return attempt_result::failed;
            const double solved = rhs[j];
            if (j == 1 && state == 1 && supply.may_pond && s_cm > dry_surface &&
                wet >= top_saturation * c.ts[1] && solved >= 0.0 &&
                supply.rate > c.ks[1] * (1.0 - (solved - (s_cm - 0.5 * c.dz[1])) / (0.5 * (c.dz[0] + c.dz[1]))))
                return attempt_result::failed;
            change = std::max(change,
                              std::fabs(solved - iterate[j]) / std::max(std::fabs(solved), 1.0));
            const double low = c.tr[j] + residual_margin * (c.ts[j] - c.tr[j]);
            // A step whose linear capacities overshoot saturation or the residual by
            // more than a tenth of the change limit is too long for the curve.
            if (wet - c.ts[j] > overshoot_fraction * k.dtheta_max ||
                low - wet > overshoot_fraction * k.dtheta_max)
                return attempt_result::too_long;
            double theta = wet;
            double head = 0.0;
            bool from_head = false;
            if (solved >= 0.0 && wet >= c.ts[j]) {
                from_head = true;  // saturated: the solved head holds
            } else if (j == 1 && state == 1 && wet >= top_saturation * c.ts[1]) {
                from_head = true;
            }
            if (from_head) {
                head = solved;
                theta = node_moisture(s, i, j, solved, k.form);
            } else {
                theta = std::clamp(wet, low, c.ts[j]);
            }
            out.clip += (theta - wet) * c.dz[j];
            c.theta[j] = theta;
            if (from_head) c.h[j] = head;
            else reference::head_from_moisture(s, i, j, k.form);
        }
        if (!k.fixed_bottom) {  // free drainage: the last node copies its upper neighbour
            c.h[n] = c.h[rows];
            c.theta[n] = c.theta[rows];
        }
        column_functions(s, i, k.form);
        if (change * 100.0 <= converged_percent || iteration >= cap) break;
    }
    out.taken = state == 1 ? std::min(s_cm, supply.rate * step) : c.flux[1] * step;
    out.error = local_error(c, s.richards_kr_start.data(), kk, state, k, step, sub, diag);
    out.evaporated = withdrawn;
    out.bottom = c.flux[n] * step;
    return attempt_result::accepted;
}

void save_start(const column &c) {
    for (int j = 0; j <= c.n; ++j) {
        c.h_start[j] = c.h[j];
        c.theta_start[j] = c.theta[j];
    }
}

void restore_start(model_state &s, int i, const column &c, int form) {
    for (int j = 0; j <= c.n; ++j) {
        c.h[j] = c.h_start[j];
        c.theta[j] = c.theta_start[j];
    }
    column_functions(s, i, form);
}

bool skipped(const model_state &s, int i) {
    if (!s.relative_soil_moisture.empty() && s.relative_soil_moisture[i] > skip_relative_moisture)
        return true;
    return s.non_ortho_channels && !s.stream_cell_id.empty() && s.stream_cell_id[i] > 0;
}

// Root-zone moisture of cell i from its current column.
void update_root_zone(model_state &s, int i, const column &c) {
    if (s.root_zone_moisture.empty() || s.richards_column_depth.empty()) return;
    const double root_cm = s.richards_column_depth[i] * 100.0;
    double water = 0.0, thickness = 0.0;
    for (int j = 1; j <= c.n && thickness < root_cm; ++j) {
        water += c.theta[j] * c.dz[j];
        thickness += c.dz[j];
    }
    s.root_zone_moisture[i] = thickness > 0.0 ? std::max(0.0, water / thickness) : 0.0;
}

struct cell_totals {
    double taken = 0.0, evaporated = 0.0, bottom = 0.0, clip = 0.0;  // cm
    double pond_evaporated = 0.0;                                     // cm
};

// Cell i over `hours`; false when the run must stop.
bool richards_cell(model_state &s, int i, const settings &k, double hours, cell_totals &t) {
    column c = column_of(s, i);
    double s_cm = s.depth[i] * 100.0;
    // The ET demand (cm/h) takes ponded water first; the soil gives the rest.
    const double demand =
        !s.richards_et_flag.empty() && s.richards_et_flag[i] ? s.richards_et_rate[i] * 3600.0 : 0.0;
    const double pond = std::min(s_cm, demand * hours);
    s_cm -= pond;
    t.pond_evaporated += pond;
    const double et = s_cm <= dry_surface ? std::max(0.0, demand - pond / hours) : 0.0;
    for (int j = 0; j <= c.n; ++j) s.richards_theta_prev[i][j] = c.theta[j];

    double step = s.richards_last_substep[i];
    if (!(step > 0.0) || step > hours) step = hours;
    if (step > ponded_step_limit && c.h[0] > 0.0) step = ponded_step;

    if (s.richards_no_column[i] || c.n < 2) {  // only the ponded water evaporates
        s.depth[i] = s_cm / 100.0;
        return true;
    }

    int &state = s.richards_surface_state[i];
    if (state < 1 || state > 3) state = 1;
    double remaining = hours;
    while (remaining > 1e-16) {
        const double planned = step;
        const bool last = step > remaining || remaining - step < remainder_tolerance;
        if (last) step = remaining;
        const double tried = step;
        save_start(c);
        for (int j = 0; j <= c.n; ++j) s.richards_kr_start[j] = c.kr[j];
        const int state_before = state;
        bool switched = false;
        substep_outcome out;
        for (;;) {
            const bool emptying = switched && state == 1;
            const surface_supply supply{emptying ? s_cm / step : s_cm / remaining, !switched};
            const attempt_result r =
                attempt_substep(s, i, c, k, state, s_cm, supply, et, step, out);
            if (r == attempt_result::accepted) {
                const double allowed = error_share * out.largest_dtheta;
                if (out.error <= allowed || emptying || step <= shortest_cut_step) break;
                restore_start(s, i, c, k.form);
                step *= std::max(smallest_cut, error_safety * std::sqrt(allowed / out.error));
                continue;
            }
            restore_start(s, i, c, k.form);
            if (r == attempt_result::pond_empties && !switched) {
                state = 1;  // the pond runs dry within the sub-step: take all of it
                switched = true;
                continue;
            }
            if (r == attempt_result::failed && state == 1 && !switched) {
                state = 2;
                switched = true;
                continue;
            }
            step *= 0.5;
            if (step < smallest_substep) {
                std::printf("Richards equation: the sub-step fell below %g h without a sound "
                            "solution, grid cell %d\n",
                            smallest_substep, i);
                raise_printed_error();
                return false;
            }
        }
        s_cm -= out.taken;
        if (s_cm < 0.0) s_cm = 0.0;  // the flux state takes exactly what there was
        t.taken += out.taken;
        t.evaporated += out.evaporated;
        t.bottom += out.bottom;
        t.clip += out.clip;

        // The surface state for the next sub-step.
        if (state != 1) {
            if (s_cm <= dry_surface) state = 1;
            else if (c.flux[1] <= 0.0) state = 2;
            else if (out.taken >= s_cm) state = 3;
        }
        remaining -= step;
        const bool cut = step < tried;
        double next = step * k.dtheta_max / out.largest_dtheta;
        if (out.error > 0.0)
            next = std::min(next, step * error_safety *
                                      std::sqrt(error_share * out.largest_dtheta / out.error));
        // A remainder step that went smoothly does not shrink the step kept.
        if (last && !cut && next >= step) next = std::max(next, planned);
        if (switched || state != state_before || state == 3) next = std::min(next, switch_step_cap);
        step = next;
    }
    s.richards_last_substep[i] = step;
    if (state != 1) c.h[0] = s_cm - 0.5 * c.dz[1];
    s.depth[i] = s_cm / 100.0;
    update_root_zone(s, i, c);
    return true;
}

}  // namespace

int solve_tridiagonal(int n, const double *sub, double *diag, const double *super, double *rhs) {
    if (n < 1) return 0;
    const auto sound = [](double pivot, double scale) {
        return std::isfinite(pivot) && std::fabs(pivot) > pivot_fraction * std::fabs(scale);
    };
    double scale = diag[1];
    if (!sound(diag[1], scale) || diag[1] == 0.0) return 1;
    for (int j = 2; j <= n; ++j) {
        scale = diag[j];
        const double factor = sub[j] / diag[j - 1];
        diag[j] -= factor * super[j - 1];
        rhs[j] -= factor * rhs[j - 1];
        if (!sound(diag[j], scale) || diag[j] == 0.0) return j;
    }
    rhs[n] /= diag[n];
    for (int j = n - 1; j >= 1; --j) rhs[j] = (rhs[j] - super[j] * rhs[j + 1]) / diag[j];
    return 0;
}

double richards_column_water(const model_state &s, int i) {
    const int n = s.richards_cell_nodes[i];
    double water = 0.0;
    for (int j = 1; j <= n - 1; ++j) water += s.richards_theta[i][j] * s.richards_dz[i][j];
    return water;
}

double richards_step(model_state &s, double dt) {
    if (!(dt > 0.0) || s.richards_head.empty()) return 0.0;
    const settings k = settings_of(s);
    const double hours = dt / 3600.0;
    const double area = s.cell_size * s.cell_size;
    // What leaves a column through its bottom recharges the aquifer when the
    // groundwater model runs, and leaves the model as percolation otherwise.
    const bool to_aquifer = s.groundwater_on && !s.deep_percolation.empty() &&
                            s.deep_percolation.last() >= static_cast<std::size_t>(s.cell_count);
    double added = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        if (skipped(s, i)) continue;
        cell_totals t;
        if (!richards_cell(s, i, k, hours, t)) return added;
        s.cumulative_infiltration[i] += t.taken / 100.0;
        s.infiltration_rate[i] = t.taken / hours;
        s.richards_evaporation[i] += t.evaporated / 100.0;
        s.richards_bottom_flux[i] += t.bottom / 100.0;
        s.richards_clip[i] += t.clip / 100.0;
        s.richards_bottom_total += t.bottom / 100.0;
        if (to_aquifer) s.deep_percolation[i] += t.bottom;
        s.richards_clip_total += t.clip / 100.0;
        // The ET that left the columns.
        s.richards_et_volume += t.evaporated / 100.0 * area;
        s.hour_et_depth += (t.evaporated + t.pond_evaporated) / 100.0;
        added += t.taken / 100.0;
    }
    return added;
}

}  // namespace reference
