// Overland transport of one dissolved constituent at the constituent interval:
// upwind advection with the cell-to-cell flows and dispersion between neighbours,
// a predictor and a corrector per direction, and the per-cell source terms drawn
// from the accumulators. Called by the overland pools piece.
#include <algorithm>

#include "model/constituents/constituent_transport.h"
#include "model/core/model_state.h"

namespace tt = transport_table;

double pool_depth_ratio(double a, double b, double tolerance, double c, double m) {
    const double interval = b - c;
    if (a - interval < -tolerance) return a * m / interval;
    return m;
}

namespace {

// Takes the interval share of an accumulator, adds it to a step total and
// returns it.
double take_share(model_state &s, double dt, const process_clock &slot, double &acc,
                  checked_array<double> &step_total, int k) {
    const double share = pool_depth_ratio(dt, s.now_days, s.time_tolerance_days, slot.last, acc);
    acc -= share;
    step_total[k] += share;
    return share;
}

}  // namespace

double soil_pool_transfer(model_state &s, int k, int i, int type_one, double dt) {
    if (constituent_lake_of_cell(s, i) >= 1) return 0.0;
    const model_state::constituent_slot_clocks &slots = s.constituent_slots;
    double gains = 0.0, losses = 0.0;
    // Rain-borne mass is already in the water; it is only booked.
    take_share(s, dt, slots.rain, constituent_row(s, tt::rain_mass, k)[i], s.ov_precip_dmt, k);
    losses += take_share(s, dt, slots.accumulation, constituent_row(s, tt::accumulation_target, k)[i],
                         s.ov_infil_dmt, k);
    if (s.constituent_sources_on && type_one) {
        gains += take_share(s, dt, slots.release, constituent_row(s, tt::release_accumulator, k)[i],
                            s.ov_uptake_dmt, k);
        losses += take_share(s, dt, slots.loss, constituent_row(s, tt::loss_accumulator, k)[i],
                             s.ov_decay_dmt, k);
    }
    if (!s.chan_explicit) {
        if (i == s.outlet_cell)
            losses += take_share(s, dt, slots.outlet, s.ov_exit_mass[k], s.ov_out_dmt, k);
    } else {
        losses += take_share(s, dt, slots.exchange, constituent_row(s, tt::lateral_mass, k)[i],
                             s.ov_qlat_dmt, k);
    }
    return dt > 0.0 ? (gains - losses) / dt : 0.0;
}

void constituent_accumulate(model_state &s, int k) {
    if (s.constituent_infiltration_volume.empty()) return;
    const double *conc = constituent_row(s, tt::concentration, k);
    const double *mass = constituent_row(s, tt::mass, k);
    double *acc = constituent_row(s, tt::accumulation_target, k);
    for (int i = 1; i <= s.cell_count; ++i) {
        if (constituent_lake_of_cell(s, i) >= 1) continue;
        double &v = s.constituent_infiltration_volume[static_cast<std::size_t>(i)];
        const double h = s.depth[static_cast<std::size_t>(i)];
        if (mass[i] > 1e-16 && h < 1e-16 && v > 1e-16)
            acc[i] += mass[i];
        else
            acc[i] += conc[i] * v;
        if (k == s.constituent_count) v = 0.0;
    }
}

namespace {

// The grid, the constituent's vectors and the work vectors of one advection step.
struct advection_pass {
    model_state &s;
    overland_constituent_vectors v;
    int k;
    double dt, area;
    double *disp_flux, *adv_flux, *mstar, *cstar, *change;
    const double *h;

    int lake(int i) const { return constituent_lake_of_cell(s, i); }

    // Face fluxes into every cell from its upstream neighbour (left in x, up in
    // y) with the concentrations c; faces touching a lake book the crossing mass
    // against the lake (half a step, as predictor and corrector each carry half).
    void face_fluxes(bool x, const double *c) {
        const array_1d<int> &from = x ? s.left : s.up;
        const array_1d<double> &q = x ? s.discharge_x : s.discharge_y;
        for (int i = 1; i <= s.cell_count; ++i) {
            disp_flux[i] = 0.0;
            adv_flux[i] = 0.0;
            const int j = from[static_cast<std::size_t>(i)];
            if (j == 0) continue;
            const double flow = q.empty() ? 0.0 : q[static_cast<std::size_t>(j)];
            const int li = lake(i), lj = lake(j);
            if (li >= 1 && li == lj) continue;
            if (li >= 1 || lj >= 1) {
                const double cj = lj >= 1 ? s.chan.lake_conc[k][lj] : c[j];
                const double ci = li >= 1 ? s.chan.lake_conc[k][li] : c[i];
                const double f = flow > 0.0 ? flow * cj : (flow < 0.0 ? flow * ci : 0.0);
                adv_flux[i] = f;
                // Mass entering the lake raises its overland inflow.
                const double crossing = 0.5 * f * dt;
                if (li >= 1) s.chan.lake_ov_inflow_mass[k][li] += crossing;
                if (lj >= 1) s.chan.lake_ov_inflow_mass[k][lj] -= crossing;
                continue;
            }
            if (h[i] > 1e-16 && h[j] > 1e-16)
                disp_flux[i] = (c[j] - c[i]) * std::min(v.disp[i] * h[i], v.disp[j] * h[j]);
            if (flow > 0.0) adv_flux[i] = flow * c[j];
            else if (flow < 0.0) adv_flux[i] = flow * c[i];
        }
    }

    // Mass change of cell i over the step from the stored face fluxes.
    double mass_change(bool x, int i) const {
        const int out = (x ? s.right : s.down)[static_cast<std::size_t>(i)];
        const double d_out = out ? disp_flux[out] : 0.0, a_out = out ? adv_flux[out] : 0.0;
        return dt * (0.5 * v.rate[i] + (disp_flux[i] - d_out) + (adv_flux[i] - a_out));
    }

    double conc_of(int i, double m) const {
        return h[i] <= 1e-16 || m < 0.0 ? 0.0 : m / (area * h[i]);
    }

    void run(bool x) {
        face_fluxes(x, v.conc);
        for (int i = 1; i <= s.cell_count; ++i) {
            if (lake(i) >= 1) {
                mstar[i] = v.mass[i];
                cstar[i] = v.conc[i];
                change[i] = 0.0;
                continue;
            }
            change[i] = mass_change(x, i);
            mstar[i] = v.mass[i] + change[i];
            cstar[i] = conc_of(i, mstar[i]);
        }
        face_fluxes(x, cstar);
        for (int i = 1; i <= s.cell_count; ++i) {
            if (lake(i) >= 1) continue;
            v.mass[i] += 0.5 * (change[i] + mass_change(x, i));
            v.conc[i] = conc_of(i, v.mass[i]);
        }
    }
};

double *work_vector(array_1d<double> &a, int n) {
    if (a.empty() || a.last() < static_cast<std::size_t>(n)) alloc_1d_double(a, n);
    return a.data();
}

}  // namespace

void overland_advection_step(model_state &s, overland_constituent_vectors v, int sweep, int k,
                             double dt, double dx) {
    const int n = s.cell_count;
    model_state::overland_constituent_work &w = s.pool_work;
    advection_pass pass{s,
                        v,
                        k,
                        dt,
                        dx * dx,
                        work_vector(w.disp_flux, n),
                        work_vector(w.adv_flux, n),
                        work_vector(w.mass_star, n),
                        work_vector(w.conc_star, n),
                        work_vector(w.change, n),
                        s.depth.data()};
    const bool x_first = sweep != 2;
    pass.run(x_first);
    pass.run(!x_first);
}
