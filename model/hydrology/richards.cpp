// Richards' equation in each cell's soil column: an implicit head-form step per
// sub-step, one tridiagonal system per column, a mass-conservative moisture
// update and an adaptive sub-step (bounded by the moisture change and by the
// step's local error; the cuts are counted for the summary), under a flux,
// ponded-head or draining surface.
// Run by the infiltration piece and, for the dry period, by the event start.
#include "model/hydrology/richards.h"

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
#include "model/core/positive_powers.h"

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
// The sub-step's local error (see local_error) may be this share of its largest
// moisture change; a longer error cuts the sub-step, by at most these factors per
// try, down to the shortest cut.
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

// Nodes a and b of cell i on one Brooks and Corey curve.
bool same_curve(const model_state &s, int i, int a, int b) {
    return s.richards_theta_s[i][a] == s.richards_theta_s[i][b] &&
           s.richards_theta_r[i][a] == s.richards_theta_r[i][b] &&
           s.richards_bubbling[i][a] == s.richards_bubbling[i][b] &&
           s.richards_lambda[i][a] == s.richards_lambda[i][b];
}

void column_functions(model_state &s, int i, int form) {
    if (form == curve_havercamp) soil_column_helper(s, i);
    else soil_hydraulic_properties(s, i);
}

// Pointers into one cell's node rows (index 0 the surface).
struct column {
    int n = 0;
    double *h, *theta, *kr, *cap, *dz, *ks, *ts, *tr, *source, *flux, *h_start, *theta_start;
    double *inv_dz, *inv_ddn;  // 1 / dz and 1 / the distance to the node above
    bc_column_limits curves;   // Brooks and Corey columns only
};

column column_of(model_state &s, int i, int form) {
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
    c.inv_dz = s.richards_inv_dz.data();
    c.inv_ddn = s.richards_inv_ddn.data();
    for (int j = 1; j <= c.n; ++j) {
        c.inv_dz[j] = 1.0 / c.dz[j];
        c.inv_ddn[j] = 1.0 / (0.5 * (c.dz[j - 1] + c.dz[j]));
    }
    c.curves = {s.richards_curve_exponent.data(), s.richards_curve_sc.data(),
                s.richards_curve_junction.data()};
    if (form != curve_havercamp) bc_limits_of_column(s, i, c.n, c.curves);
    return c;
}

// What one attempt at a sub-step came to.
enum class attempt_result { accepted, failed, pond_empties, too_long };

struct substep_outcome {
    double taken = 0.0, evaporated = 0.0, bottom = 0.0, clip = 0.0;  // cm; evaporated from the soil
    double largest_dtheta = smallest_dtheta;
    double error = 0.0;  // the local error estimate (moisture)
};

// The surface water that reaches the top node in a sub-step of the flux state:
// `rate` cm/h; `may_pond`: a saturated top node that cannot take it ponds the surface.
struct surface_supply {
    double rate = 0.0;
    bool may_pond = true;
};

// Interface conductivities K(1..n) of the column (cm/h) from the relative
// conductivities kr.
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

// Interface fluxes q(1..n) (cm/h, positive downward) of the conductivities kk and
// the heads h under the surface head `top`.
void interface_fluxes(const column &c, const double *kk, const double *h, double top, double *q) {
    for (int j = 1; j <= c.n; ++j) {
        const double above = j == 1 ? top : h[j - 1];
        q[j] = kk[j] - (h[j] - above) * kk[j] * c.inv_ddn[j];
    }
}

// The local error of the accepted sub-step, at each node the larger of two parts:
// the implicit step's own, first order in time (half the step times the change of
// the node's moisture rate from the start state to the end state), and what the
// solve misplaced by holding its conductivities `solved` where those of the end
// state hold (the step times the change of the rate at the end heads; with one
// iteration these are the start state's). The sources are the same in all three
// rates and drop out. The largest over the nodes. `start`: the start state's
// interface conductivities, or null to form them in a; b, qa, qb and qc are work rows.
double local_error(const model_state &s, const column &c, int state, const settings &k,
                   double step, const double *solved, const double *start, double *a, double *b,
                   double *qa, double *qb, double *qc) {
    if (start == nullptr) {
        interface_conductivities(c, s.richards_kr_start.data(), state, k, a);
        start = a;
    }
    interface_conductivities(c, c.kr, state, k, b);
    interface_fluxes(c, start, c.h_start, c.h[0], qa);
    interface_fluxes(c, b, c.h, c.h[0], qb);
    interface_fluxes(c, solved, c.h, c.h[0], qc);
    double largest = 0.0;
    for (int j = 1; j <= c.n - 1; ++j) {
        const double end = qb[j] - qb[j + 1];
        const double own = 0.5 * std::fabs(end - (qa[j] - qa[j + 1]));
        const double held = std::fabs(end - (qc[j] - qc[j + 1]));
        largest = std::max(largest, std::max(own, held) * c.inv_dz[j]);
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
    int *power_node = s.richards_power_node.data();
    double *power_base = s.richards_power_base.data(), *power = s.richards_power.data();
    double *power_exponent = s.richards_power_exponent.data();
    const bool dry = s_cm <= dry_surface;
    const double inverse_step = 1.0 / step;

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

    int iteration = 1;
    for (;; ++iteration) {
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
                const double capj = j == 1 ? top_cap : c.cap[j];
                const double cj = capj * inverse_step;
                const double down = kk[j] * (c.inv_dz[j] * c.inv_ddn[j]);
                const double up = kk[j + 1] * (c.inv_dz[j] * c.inv_ddn[j + 1]);
                sub[j] = -down;
                sup[j] = -up;
                diag[j] = down + cj + up;
                rhs[j] = kk[j] * c.inv_dz[j] + cj * iterate[j] - kk[j + 1] * c.inv_dz[j] +
                         c.source[j] - (c.theta[j] - c.theta_start[j]) * inverse_step;
            }
            rhs[1] -= sub[1] * c.h[0];
            if (k.fixed_bottom) {
                rhs[rows] -= sup[rows] * c.h[n];
            } else {
                diag[rows] += sup[rows];
            }
            sup[rows] = 0.0;
            if (solve_column(rows, sub, diag, sup, rhs) != 0) return attempt_result::failed;
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
            c.flux[j] = kk[j] - (here - above) * kk[j] * c.inv_ddn[j];
        }
        if (state != 1 && c.flux[1] * step > s_cm && c.flux[1] > 0.0)
            return attempt_result::pond_empties;

        double change = 0.0;
        int powers = 0;
        out.largest_dtheta = smallest_dtheta;
        out.clip = 0.0;
        for (int j = 1; j <= rows; ++j) {
            const double dtheta =
                ((c.flux[j] - c.flux[j + 1]) * c.inv_dz[j] + c.source[j]) * step;
            out.largest_dtheta = std::max(out.largest_dtheta, std::fabs(dtheta));
            const double wet = c.theta_start[j] + dtheta;
            // Under the flux boundary more water than the top node holds ponds it.
            if (j == 1 && state == 1 && (wet - c.ts[1]) * c.dz[1] > dry_surface)
                return attempt_result::failed;
            const double solved = rhs[j];
            // A saturated top node whose head would drive the supply in faster than a
            // pond of the surface water could ponds the surface too.
            if (j == 1 && state == 1 && supply.may_pond && s_cm > dry_surface &&
                wet >= top_saturation * c.ts[1] && solved >= 0.0 &&
                supply.rate > c.ks[1] * (1.0 - (solved - (s_cm - 0.5 * c.dz[1])) * c.inv_ddn[1]))
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
            // Brooks and Corey nodes take their conductivity and capacity here,
            // with the head; those on the power law are gathered and take theirs
            // from one power each, formed for all of them below.
            if (from_head) {
                c.h[j] = head;
                if (k.form != curve_havercamp) bc_node_functions(s, i, j);
            } else if (k.form == curve_havercamp) {
                head_from_moisture(s, i, j, k.form);
            } else if (bc_power_law_base(theta, c.ts[j], c.tr[j], c.curves.sc[j],
                                         power_base[powers])) {
                power_exponent[powers] = c.curves.exponent[j];
                power_node[powers++] = j;
            } else {
                head_from_moisture(s, i, j, k.form);
                bc_node_functions(s, i, j);
            }
        }
        positive_powers(power_base, power_exponent, power, powers);
        bc_power_law_nodes(s, i, c.curves.junction, power_node, power_base, power, powers);
        if (!k.fixed_bottom) {  // free drainage: the last node copies its upper neighbour
            c.h[n] = c.h[rows];
            c.theta[n] = c.theta[rows];
        }
        if (k.form == curve_havercamp) {
            column_functions(s, i, k.form);
        } else {
            // A draining last node of its upper neighbour's soil has its
            // conductivity and capacity too.
            if (!k.fixed_bottom && same_curve(s, i, n, rows)) {
                c.kr[n] = c.kr[rows];
                c.cap[n] = c.cap[rows];
            } else {
                bc_node_functions(s, i, n);
            }
            c.kr[0] = c.kr[1];
            c.cap[0] = c.cap[1];
        }
        if (change * 100.0 <= converged_percent || iteration >= cap) break;
    }
    out.taken = state == 1 ? std::min(s_cm, supply.rate * step) : c.flux[1] * step;
    // kk holds the conductivities of the last solve: after one, the start state's.
    out.error = local_error(s, c, state, k, step, kk, iteration == 1 ? kk : nullptr, sub, diag,
                            iterate, sup, rhs);
    out.evaporated = withdrawn;
    out.bottom = c.flux[n] * step;
    return attempt_result::accepted;
}

void save_start(model_state &s, const column &c) {
    for (int j = 0; j <= c.n; ++j) {
        c.h_start[j] = c.h[j];
        c.theta_start[j] = c.theta[j];
        s.richards_kr_start[j] = c.kr[j];
        s.richards_capacity_start[j] = c.cap[j];
    }
}

// The column as it was at the start of the sub-step, with the conductivities and
// capacities of those heads.
void restore_start(model_state &s, const column &c) {
    for (int j = 0; j <= c.n; ++j) {
        c.h[j] = c.h_start[j];
        c.theta[j] = c.theta_start[j];
        c.kr[j] = s.richards_kr_start[j];
        c.cap[j] = s.richards_capacity_start[j];
    }
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
    column c = column_of(s, i, k.form);
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
        save_start(s, c);
        const int state_before = state;
        bool switched = false;
        substep_outcome out;
        for (;;) {
            // The surface water of the flux state reaches the top node evenly over the
            // time left of the step, however the sub-steps divide it; a pond that runs
            // dry within the sub-step goes in at once.
            const bool emptying = switched && state == 1;
            const surface_supply supply{emptying ? s_cm / step : s_cm / remaining, !switched};
            const attempt_result r =
                attempt_substep(s, i, c, k, state, s_cm, supply, et, step, out);
            if (r == attempt_result::accepted) {
                const double allowed = error_share * out.largest_dtheta;
                if (out.error <= allowed || emptying || step <= shortest_cut_step) break;
                restore_start(s, c);  // too long for its error: shorter, as the error says
                step *= std::max(smallest_cut, error_safety * std::sqrt(allowed / out.error));
                continue;
            }
            restore_start(s, c);
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
        richards_substep_record &record = s.richards_substeps;
        ++record.substeps;
        const bool cut = step < tried;
        if (cut) {
            const double seconds = step * 3600.0;
            if (record.cut_substeps++ == 0 || seconds < record.shortest_cut) record.shortest_cut = seconds;
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
    // Each pivot is inverted once; diag keeps the inverses for the back
    // substitution, which then multiplies.
    diag[1] = 1.0 / diag[1];
    for (int j = 2; j <= n; ++j) {
        scale = diag[j];
        const double factor = sub[j] * diag[j - 1];
        diag[j] -= (sub[j] * super[j - 1]) * diag[j - 1];  // the product first: off the chain
        rhs[j] -= factor * rhs[j - 1];
        if (!sound(diag[j], scale) || diag[j] == 0.0) return j;
        diag[j] = 1.0 / diag[j];
    }
    rhs[n] *= diag[n];
    for (int j = n - 1; j >= 1; --j) rhs[j] = (rhs[j] - super[j] * rhs[j + 1]) * diag[j];
    return 0;
}

// Both ends towards the middle row m: the two chains of pivots, each a division
// per row, run side by side, so the solve waits for about half as many divisions
// in turn. Each pivot is inverted once and checked as solve_tridiagonal checks it.
int solve_column(int n, const double *sub, double *diag, const double *super, double *rhs) {
    if (n < 3) return solve_tridiagonal(n, sub, diag, super, rhs);
    const auto invert = [&](int j, double pivot) {
        const bool sound = std::isfinite(pivot) && pivot != 0.0 &&
                           std::fabs(pivot) > pivot_fraction * std::fabs(diag[j]);
        diag[j] = 1.0 / pivot;
        return sound;
    };
    const int m = (n + 1) / 2;
    // Rows above m are eliminated downward, rows below it upward.
    int bad = invert(1, diag[1]) ? (invert(n, diag[n]) ? 0 : n) : 1;
    for (int a = 2, b = n - 1; bad == 0 && (a < m || b > m); ++a, --b) {
        if (a < m) {
            rhs[a] -= (sub[a] * diag[a - 1]) * rhs[a - 1];
            if (!invert(a, diag[a] - (sub[a] * super[a - 1]) * diag[a - 1])) bad = a;
        }
        if (b > m) {
            rhs[b] -= (super[b] * diag[b + 1]) * rhs[b + 1];
            if (!invert(b, diag[b] - (super[b] * sub[b + 1]) * diag[b + 1])) bad = b;
        }
    }
    if (bad != 0) return bad;
    rhs[m] -= (sub[m] * diag[m - 1]) * rhs[m - 1] + (super[m] * diag[m + 1]) * rhs[m + 1];
    if (!invert(m, diag[m] - (sub[m] * super[m - 1]) * diag[m - 1] -
                       (super[m] * sub[m + 1]) * diag[m + 1]))
        return m;
    rhs[m] *= diag[m];
    for (int a = m - 1, b = m + 1; b <= n; --a, ++b) {  // n - m >= m - 1 rows below
        if (a >= 1) rhs[a] = (rhs[a] - super[a] * rhs[a + 1]) * diag[a];
        rhs[b] = (rhs[b] - sub[b] * rhs[b - 1]) * diag[b];
    }
    return 0;
}

double richards_column_water(const model_state &s, int i) {
    const int n = s.richards_cell_nodes[i];
    double water = 0.0;
    for (int j = 1; j <= n - 1; ++j) water += s.richards_theta[i][j] * s.richards_dz[i][j];
    return water;
}

double column_water_volume(const model_state &s) {
    if (s.richards_cell_nodes.empty() || s.richards_theta.empty()) return 0.0;
    double cm = 0.0;
    for (int c = 1; c <= s.cell_count; ++c) cm += richards_column_water(s, c);
    return cm / 100.0 * s.cell_size * s.cell_size;
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
    const bool sacramento = s.sacramento_on != 0;
    double added = 0.0;
    // cm summed over the cells, posted once the columns have stepped.
    double evaporated = 0.0, pond_evaporated = 0.0, drained_out = 0.0, clipped = 0.0;
    const auto post = [&] {
        water_ledger &w = s.water;
        w.move(ledger_node::soil_columns, ledger_node::atmosphere, evaporated / 100.0 * area);
        w.move(ledger_node::surface, ledger_node::atmosphere, pond_evaporated / 100.0 * area);
        w.move(ledger_node::soil_columns, ledger_node::deep_aquifer, drained_out / 100.0 * area);
        w.move(ledger_node::column_limits, ledger_node::soil_columns, clipped / 100.0 * area);
    };
    for (int i = 1; i <= s.cell_count; ++i) {
        if (skipped(s, i)) continue;
        cell_totals t;
        if (!richards_cell(s, i, k, hours, t)) {
            post();
            return added;
        }
        // With soil-moisture accounting the columns are no store of their own.
        if (!sacramento) {
            evaporated += t.evaporated;
            clipped += t.clip;
        }
        pond_evaporated += t.pond_evaporated;
        if (!to_aquifer && !sacramento) drained_out += t.bottom;
        s.cumulative_infiltration[i] += t.taken / 100.0;
        if (!s.infiltration_rate.empty()) s.infiltration_rate[i] = t.taken / hours;  // its map only
        s.richards_evaporation[i] += t.evaporated / 100.0;
        s.richards_bottom_flux[i] += t.bottom / 100.0;
        s.richards_clip[i] += t.clip / 100.0;
        s.richards_bottom_total += t.bottom / 100.0;
        if (to_aquifer) s.deep_percolation[i] += t.bottom;
        s.richards_clip_total += t.clip / 100.0;
        // The ET that left the columns, and that of ponded water, which left the surface.
        s.richards_et_volume += t.evaporated / 100.0 * area;
        // With soil-moisture accounting the columns only decide what infiltrates;
        // the soil's ET and what drains below are the accounting's.
        s.hour_et_depth += (t.evaporated + t.pond_evaporated) / 100.0;
        added += t.taken / 100.0;
    }
    post();
    return added;
}

void unsat_profile_cell(model_state &s, int i) {
    const int code = s.gw_boundary_code.empty() ? 0 : s.gw_boundary_code[i];
    if (code == 2 || code == 5) {
        s.unsat_exchange_depth[i] = 0.0;
        return;
    }
    const int form = s.richards_c_option == curve_havercamp ? curve_havercamp : curve_brooks_corey;
    const int old_nodes = s.richards_cell_nodes[i];
    const double before = richards_column_water(s, i);
    for (int j = 0; j <= old_nodes; ++j) {
        s.richards_profile_head[j] = s.richards_head[i][j];
        s.richards_profile_theta[j] = s.richards_theta[i][j];
    }
    const int n = lay_column_to_table(s, i);
    // Nodes that lay above the old bottom node keep their state; the others take
    // the hydrostatic head, and the bottom node the head of the table.
    if (n > 0) hydrostatic_nodes(s, i, std::max(old_nodes, 1), form);
    for (int j = 1; j <= std::min(old_nodes - 1, n - 1); ++j) {
        s.richards_head[i][j] = s.richards_profile_head[j];
        s.richards_theta[i][j] = s.richards_profile_theta[j];
    }
    column_functions(s, i, form);
    s.unsat_exchange_depth[i] = before - richards_column_water(s, i);
}

void unsat_profile_above_water_table(model_state &s) {
    for (int i = 1; i <= s.cell_count; ++i) unsat_profile_cell(s, i);
}
