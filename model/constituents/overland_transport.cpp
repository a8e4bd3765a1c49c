// Overland transport of every constituent together (the sediment-bound scheme):
// the step's inputs and losses, the sediment-bound mass of the particle-bound
// species, then one pass across the faces with the left neighbours and one
// across those with the upper neighbours, each a predictor and a corrector of
// advection, dispersion, decay and uptake. Called by the overland-constituents piece.
#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "model/channel/channel_services.h"
#include "model/constituents/constituent_transport.h"
#include "model/core/errors.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"
#include "model/sediment/sediment_bound.h"

namespace tt = transport_table;

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

constexpr double dry_depth = 1e-16;
// Uptake acts only where the predicted film is deeper than this (m).
constexpr double uptake_depth = 1e-5;

double cell_or_zero(const array_1d<double> &a, int i) {
    return a.empty() || at(i) > a.last() ? 0.0 : a[at(i)];
}

bool sized(array_2d<double> &a, int rows, int cols, const char *name) {
    if (!a.empty() && a.rows() >= at(rows) && a.cols() >= at(cols)) return true;
    return alloc_2d_double(a, rows, cols, name) == 0;
}
bool sized(array_1d<double> &a, int n) {
    if (!a.empty() && a.last() >= at(n)) return true;
    return alloc_1d_double(a, n) == 0;
}

// The work rows of the run, made on the first call (and again for a larger grid).
bool make_work(model_state &s) {
    model_state::bound_transport_work &w = s.bound_work;
    const int n = s.cell_count, nc = s.constituent_count;
    const struct {
        array_2d<double> *a;
        const char *name;
    } rows[] = {{&w.disp_flux, "ov_dispx"},       {&w.adv_flux, "qy_cell_mass"},
                {&w.mass_star, "mstar"},          {&w.conc_star, "conc_star"},
                {&w.change, "ov_change"},         {&w.decay, "ov_decay"},
                {&w.uptake, "ov_uptake_mass"},    {&w.capacity, "ov_capacity"},
                {&w.eroded_mass, "ov_eroded_mass"}, {&w.settling_rate, "ov_settling_rate"},
                {&w.second_value, "ov_settling_mass"}};
    for (const auto &r : rows)
        if (!sized(*r.a, nc, n, r.name)) return false;
    for (array_1d<double> *a : {&w.start_depth, &w.predicted_depth})
        if (!sized(*a, n)) return false;
    for (array_1d<double> *a : {&w.decay_total, &w.uptake_total, &w.infil_total})
        if (!sized(*a, nc)) return false;
    return true;
}

// The constituent rows of one species.
struct species_rows {
    double *conc, *mass, *disp, *decay, *release, *sat, *pool;
};
species_rows rows_of(model_state &s, int k) {
    return {constituent_row(s, tt::concentration, k), constituent_row(s, tt::mass, k),
            constituent_row(s, tt::dispersion_coef, k), constituent_row(s, tt::decay_coef, k),
            constituent_row(s, tt::release_rate, k),    constituent_row(s, tt::saturation_conc, k),
            constituent_row(s, tt::land_pool, k)};
}

// The particle-bound species of the run: constituents above the dissolved
// count, species j tied to soil class j with its factor. Without a class or a
// positive factor for each of them, every constituent is transported dissolved.
int set_bound_species(model_state &s) {
    model_state::bound_transport_work &w = s.bound_work;
    w.species.clear();
    const int nc = s.constituent_count;
    const int f = s.bound_dissolved_count;
    if (f < 0 || f >= nc) return nc;
    const int count = nc - f;
    const sediment_record &r = s.sediment;
    if (count > r.class_count || static_cast<std::size_t>(count) > s.bound_species_factor.size() ||
        r.classes.size() <= at(count) || r.deposited.empty() || r.suspended.empty() ||
        r.eroded.empty())
        return nc;
    for (int j = 1; j <= count; ++j)
        if (!(s.bound_species_factor[at(j - 1)] > 0.0)) return nc;
    for (int j = 1; j <= count; ++j) {
        const int k = f + j;
        bound_species sp;
        sp.soil_class = j;
        sp.diameter = r.classes[at(j)].diameter;
        sp.specific_gravity = r.classes[at(j)].specific_gravity;
        sp.factor = s.bound_species_factor[at(j - 1)];
        sp.water_mass = constituent_row(s, tt::mass, k);
        sp.capacity = w.capacity[at(k)].data();
        sp.eroded_mass = w.eroded_mass[at(k)].data();
        sp.settling_rate = w.settling_rate[at(k)].data();
        sp.second_value = w.second_value[at(k)].data();
        w.species.push_back(sp);
    }
    return f;
}

// Soil volume (m3) of a particle-bound mass.
double bound_volume(const bound_species &sp, double mass) {
    return mass / (sp.factor * bound_mass_factor);
}

// Everything one call works with.
struct transport_call {
    model_state &s;
    model_state::bound_transport_work &w;
    int n, nc, dissolved;
    double dt, dx, area, outflow_volume;
    double outlet_mass = 0.0;

    const bound_species *bound(int k) const {
        return k > dissolved ? &w.species[at(k - dissolved - 1)] : nullptr;
    }

    // Step 2: what the cells gave to the channels, and the mass the infiltrated
    // water carried into the soil.
    void take_losses() {
        const grid_stream_data &g = s.channels.gst;
        if (s.chan_explicit && !g.gst_Vlat.empty() && !s.previous_depth.empty())
            for (int i = 1; i <= g.cell_count; ++i)
                for (int j = 1; j <= g.entry_count[at(i)]; ++j) {
                    const int c = g.gst_gnum[at(i)][at(j)];
                    if (c < 1 || c > n) continue;
                    double &h = s.previous_depth[at(c)];
                    h = std::max(h - g.gst_Vlat[at(i)][at(j)] / area, 0.0);
                }
        for (int k = 1; k <= nc; ++k) {
            species_rows r = rows_of(s, k);
            if (s.chan_explicit) {
                double *lateral = constituent_row(s, tt::lateral_mass, k);
                // A positive accumulator went into the channel; a negative one
                // is mass the channel gave back with its water, which the cell takes.
                for (int i = 1; i <= n; ++i) {
                    const double taken = std::min(lateral[i], std::max(r.mass[i], 0.0));
                    if (!(taken > 0.0 || taken < 0.0)) continue;
                    r.mass[i] -= taken;
                    lateral[i] -= taken;
                    s.ov_qlat_dmt[k] += taken;
                }
            }
            if (k > dissolved || s.constituent_infiltration_volume.empty()) continue;
            for (int i = 1; i <= n; ++i) {
                const double v = cell_or_zero(s.constituent_infiltration_volume, i);
                const double m = std::min(r.conc[i] * v, std::max(r.mass[i], 0.0));
                if (!(m > 0.0)) continue;
                r.mass[i] -= m;
                s.ov_infil_dmt[k] += m;
                w.infil_total[at(k)] += m;
            }
        }
    }

    // Step 3: the depth at the start of transport, the rain mass booked, and
    // the concentrations over that depth. A cell dry at the start holds no
    // dissolved mass: what it held left with its water into the soil, and a
    // particle-bound species settles on the soil surface. Returns the sum of the
    // positive loose-soil stores of the particle-bound classes.
    double start_state() {
        for (int i = 1; i <= n; ++i) w.start_depth[at(i)] = water_before_transport(s, i, dt) / area;
        sediment_record &sed = s.sediment;
        double stores = 0.0;
        for (int k = 1; k <= nc; ++k) {
            species_rows r = rows_of(s, k);
            const double *rain_mass = constituent_row(s, tt::rain_mass, k);
            const bound_species *sp = bound(k);
            double lifted = 0.0;  // negative masses lifted to 0
            for (int i = 1; i <= n; ++i) {
                // The sources piece has put the rain-borne mass into the water.
                s.ov_precip_dmt[k] += rain_mass[i];
                const double h = w.start_depth[at(i)];
                if (h <= dry_depth) {
                    if (sp) {
                        // The particles settle where the water left them, as
                        // settling in the water is booked.
                        sed.deposited[at(i)][at(sp->soil_class)] += bound_volume(*sp, std::max(r.mass[i], 0.0));
                        sed.suspended[at(i)][at(sp->soil_class)] = 0.0;
                        if (r.mass[i] > 0.0) s.ov_decay_dmt[k] += r.mass[i];
                    } else if (r.mass[i] > 0.0) {
                        s.ov_infil_dmt[k] += r.mass[i];
                        w.infil_total[at(k)] += r.mass[i];
                    }
                    if (r.mass[i] < 0.0) lifted -= r.mass[i];
                    r.mass[i] = r.conc[i] = 0.0;
                } else if (r.mass[i] < 0.0) {
                    lifted -= r.mass[i];
                    r.mass[i] = r.conc[i] = 0.0;
                } else {
                    r.conc[i] = r.mass[i] / (h * area);
                }
                if (sp && sed.deposited[at(i)][at(sp->soil_class)] > 0.0)
                    stores += sed.deposited[at(i)][at(sp->soil_class)];
            }
            post_mass(s, k, ledger_node::mass_cleanup, ledger_node::surface, lifted);
        }
        return stores;
    }

    // Step 4: detachment, carrying capacity and settling of the particle-bound
    // species over the step.
    void sediment_bound_step(double stores) {
        if (w.species.empty()) return;
        const array_1d<double> &rain = s.net_rain_rate.empty() ? s.rain_rate : s.net_rain_rate;
        bound_flow flow;
        flow.cells = n;
        flow.depth_start = w.start_depth.data();
        flow.depth_end = s.depth.data();
        flow.qx = s.discharge_x.data();
        flow.qy = s.discharge_y.data();
        flow.sx = s.x_slope.data();
        flow.sy = s.y_slope.data();
        flow.rain = rain.empty() ? nullptr : rain.data();
        flow.right = s.right.data();
        flow.down = s.down.data();
        if (!flow.qx || !flow.qy || !flow.sx || !flow.sy || !flow.right || !flow.down) return;
        ov_sediment_bound_mass(s.sediment, flow, w.species, s.sediment.transport_option,
                               s.erosion.soil_erosion, dx, dt, s.sediment.viscosity, stores);
    }

    // The mass the land pool gives the water over the step towards the
    // saturation concentration at concentration c, no more than the pool. A
    // dissolved species is released into the water standing on the cell, h its
    // mean depth over the pass: (saturation - c) x release rate x h x dx2 x dt.
    // A particle-bound species is lifted as soil, per mass of water.
    double uptake(const species_rows &r, const bound_species *sp, int i, double c, double h) const {
        if (!(r.sat[i] > c) || !(r.pool[i] > 0.0)) return 0.0;
        double u = (r.sat[i] - c) * r.release[i] * area * dt;
        if (sp)
            u /= bound_mass_factor * sp->factor;
        else
            u *= h;
        return std::min(std::max(u, 0.0), r.pool[i]);
    }

    // Whether the pool gives to cell i in this pass: in the first pass only, where
    // the water the pass leaves is deep enough to take it.
    bool releases(bool first, const bound_species *sp, double h) const {
        return first && h > (sp ? uptake_depth : dry_depth);
    }

    double decay_rate(const species_rows &r, const bound_species *sp, int i) const {
        return sp ? sp->settling_rate[at(i)] : r.decay[i];
    }

    // Face fluxes of species k into every cell from its upstream neighbour
    // (left, respectively upper) from the concentrations c over the depths h.
    void face_fluxes(bool x, int k, const double *c, const double *h, const double *disp) {
        const array_1d<int> &from = x ? s.left : s.up;
        const array_1d<double> &q = x ? s.discharge_x : s.discharge_y;
        row_ref<double> df = w.disp_flux[at(k)], af = w.adv_flux[at(k)];
        for (int i = 1; i <= n; ++i) {
            df[at(i)] = af[at(i)] = 0.0;
            const int j = from[at(i)];
            if (j == 0) continue;
            df[at(i)] = disp[i] * std::min(h[i], h[j]) * (c[j] - c[i]);
            const double flow = q.empty() ? 0.0 : q[at(j)];
            if (flow > 0.0) af[at(i)] = flow * c[j];
            else if (flow < 0.0) af[at(i)] = flow * c[i];
        }
    }

    // Mass that the faces brought into cell i over the step.
    double face_change(bool x, int k, int i) const {
        const int out = (x ? s.right : s.down)[at(i)];
        const double d = w.disp_flux[at(k)][at(i)] - (out ? w.disp_flux[at(k)][at(out)] : 0.0);
        const double a = w.adv_flux[at(k)][at(i)] - (out ? w.adv_flux[at(k)][at(out)] : 0.0);
        return (d + a) * dt;
    }

    // One directional pass: the predicted depths, then per species a predictor
    // and a corrector whose mean change the cell takes; the start depths become
    // the predicted ones.
    void pass(bool x, bool first) {
        const array_1d<int> &from = x ? s.left : s.up;
        const array_1d<int> &to = x ? s.right : s.down;
        const array_1d<double> &q = x ? s.discharge_x : s.discharge_y;
        double *h0 = w.start_depth.data(), *hp = w.predicted_depth.data();
        for (int i = 1; i <= n; ++i) {
            const int j = from[at(i)];
            const double in = j && !q.empty() ? q[at(j)] : 0.0;
            const double out = to[at(i)] && !q.empty() ? q[at(i)] : 0.0;
            const double infil = cell_or_zero(s.constituent_infiltration_volume, i);
            hp[i] = std::max(h0[i] + ((in - out) * dt - 0.5 * infil) / area, 0.0);
        }
        sediment_record &sed = s.sediment;
        for (int k = 1; k <= nc; ++k) {
            species_rows r = rows_of(s, k);
            const bound_species *sp = bound(k);
            double *ms = w.mass_star[at(k)].data(), *cs = w.conc_star[at(k)].data();
            double *dm = w.change[at(k)].data(), *dk = w.decay[at(k)].data();
            double *up = w.uptake[at(k)].data();
            face_fluxes(x, k, r.conc, h0, r.disp);
            // Each of the two passes takes half the step's decay (and settling),
            // so that a step of both passes decays the water as exp(-k dt).
            for (int i = 1; i <= n; ++i) {
                dk[i] = decay_rate(r, sp, i) * std::max(r.mass[i], 0.0) * dt * 0.5;
                dm[i] = face_change(x, k, i) - dk[i];
                ms[i] = r.mass[i] + dm[i];
                up[i] = 0.0;
                if (hp[i] <= dry_depth) {
                    cs[i] = 0.0;
                    continue;
                }
                if (releases(first, sp, hp[i]))
                    up[i] = uptake(r, sp, i, r.conc[i], 0.5 * (h0[i] + hp[i]));
                ms[i] += up[i];
                cs[i] = ms[i] > 0.0 ? ms[i] / (hp[i] * area) : 0.0;
            }
            face_fluxes(x, k, cs, hp, r.disp);
            for (int i = 1; i <= n; ++i) {
                const double decay_c = decay_rate(r, sp, i) * std::max(ms[i], 0.0) * dt * 0.5;
                const double change = 0.5 * (dm[i] + face_change(x, k, i) - decay_c);
                const double hc = 0.5 * (h0[i] + hp[i]);
                double gain = 0.0;
                if (releases(first, sp, hp[i])) {
                    const double mc = r.mass[i] + change;
                    const double cc = hc > dry_depth && mc > 0.0 ? mc / (hc * area) : 0.0;
                    gain = std::min(0.5 * (up[i] + uptake(r, sp, i, cc, hc)), std::max(r.pool[i], 0.0));
                }
                double decayed = 0.5 * (dk[i] + decay_c);
                double m = r.mass[i] + change + gain;
                // A negative mass is clipped; the mass that creates comes off the decay.
                if (m < 0.0) {
                    decayed += m;
                    m = 0.0;
                }
                r.mass[i] = m;
                // The mass has taken the whole pass's flux change, so it sits in
                // the water the pass leaves behind (the predicted depth), not in
                // the mean of the depths before and after.
                r.conc[i] = hp[i] > dry_depth ? m / (hp[i] * area) : 0.0;
                s.ov_decay_dmt[k] += decayed;
                w.decay_total[at(k)] += decayed;
                if (gain > 0.0) {
                    r.pool[i] -= gain;
                    s.ov_uptake_dmt[k] += gain;
                    w.uptake_total[at(k)] += gain;
                }
                if (!sp) continue;
                const std::size_t c = at(sp->soil_class);
                // Settled particles join the loose soil; those taken up leave it.
                const double settled = bound_volume(*sp, decayed), lifted = bound_volume(*sp, gain);
                sed.suspended[at(i)][c] = std::max(sed.suspended[at(i)][c] - settled + lifted, 0.0);
                sed.deposited[at(i)][c] += settled - lifted;
                if (sed.deposited[at(i)][c] < 0.0) {
                    sed.eroded[at(i)][c] -= sed.deposited[at(i)][c];
                    sed.deposited[at(i)][c] = 0.0;
                }
            }
        }
        // The next pass starts from the water this pass leaves: its predicted
        // depths have taken this direction's flows.
        for (int i = 1; i <= n; ++i) h0[i] = hp[i];
        leave_through_outlet();
    }

    // Without channels, half the step's outlet volume leaves in each pass with
    // the outlet cell's water.
    void leave_through_outlet() {
        const int o = s.outlet_cell;
        if (s.chan_explicit || o < 1 || o > n || !(outflow_volume > 0.0)) return;
        sediment_record &sed = s.sediment;
        for (int k = 1; k <= nc; ++k) {
            species_rows r = rows_of(s, k);
            const double out = std::min(0.5 * outflow_volume * r.conc[o], std::max(r.mass[o], 0.0));
            r.mass[o] -= out;
            s.ov_out_dmt[k] += out;
            outlet_mass += out;
            if (const bound_species *sp = bound(k)) {
                const std::size_t c = at(sp->soil_class);
                sed.suspended[at(o)][c] = bound_volume(*sp, r.mass[o]);
                if (!sed.outlet_volume.empty() && c <= sed.outlet_volume.last())
                    sed.outlet_volume[c] += bound_volume(*sp, out);
            }
        }
        w.start_depth[at(o)] = std::max(w.start_depth[at(o)] - outflow_volume / (2.0 * area), 0.0);
    }

    // Step 7: every concentration over the depth the water has now.
    void final_concentrations() {
        for (int k = 1; k <= nc; ++k) {
            species_rows r = rows_of(s, k);
            for (int i = 1; i <= n; ++i) {
                const double h = cell_or_zero(s.depth, i);
                r.conc[i] = h > dry_depth && r.mass[i] > 0.0 ? r.mass[i] / (h * area) : 0.0;
            }
        }
    }
};

}  // namespace

double water_before_transport(const model_state &s, int i, double dt) {
    const double area = s.cell_size * s.cell_size;
    const array_1d<double> &rain = s.net_rain_rate.empty() ? s.rain_rate : s.net_rain_rate;
    const double rain_volume = cell_or_zero(rain, i) / 3600000.0 * dt * area;
    const double point_volume =
        s.ov_point_source_on && !s.point_inflow.empty() ? cell_or_zero(s.point_inflow, i) * dt : 0.0;
    return std::max(cell_or_zero(s.previous_depth, i), 0.0) * area + rain_volume + point_volume;
}

double overland_constituent_transport(model_state &s, double dt) {
    const int n = s.cell_count, nc = s.constituent_count;
    if (n < 1 || nc < 1 || !(dt > 0.0) || s.depth.empty()) return 0.0;
    if (!make_work(s)) {
        std::printf("Error: unable to allocate the work arrays of the overland constituent "
                    "transport.\n");
        raise_printed_error();
        return 0.0;
    }
    model_state::bound_transport_work &w = s.bound_work;
    for (array_1d<double> *a : {&w.decay_total, &w.uptake_total, &w.infil_total})
        for (int k = 0; k <= nc; ++k) (*a)[at(k)] = 0.0;
    const int dissolved = set_bound_species(s);
    const double dx = s.cell_size;
    const double outflow = s.chan_explicit ? 0.0 : s.constituent_outflow_volume;
    for (int k = 1; k <= nc; ++k) release_lake_mass(s, k);
    transport_call call{s, w, n, nc, dissolved, dt, dx, dx * dx, outflow};
    call.take_losses();
    call.sediment_bound_step(call.start_state());
    const bool x_first = s.constituent_sweep_order != 2;
    call.pass(x_first, true);
    call.pass(!x_first, false);
    call.final_concentrations();
    for (int k = 1; k <= dissolved; ++k) move_lake_cell_mass(s, k);
    return call.outlet_mass;
}

void clear_overland_constituent_accumulators(model_state &s) {
    const int n = s.cell_count;
    // What a cell owed the channels beyond the mass it held, the channel nodes
    // have already taken: that mass is made here, and booked so.
    const bool owed = constituent_channel_inflow_node(s) == ledger_node::cells_to_channels;
    for (int k = 1; k <= s.constituent_count; ++k)
        for (int table : {tt::rain_mass, tt::lateral_mass}) {
            double *row = constituent_row(s, table, k);
            double left = 0.0;
            for (int i = 1; i <= n; ++i) {
                left += row[i];
                row[i] = 0.0;
            }
            if (owed && table == tt::lateral_mass)
                post_mass(s, k, ledger_node::mass_cleanup, ledger_node::cells_to_channels, left);
        }
    array_1d<double> &v = s.constituent_infiltration_volume;
    for (int i = 1; !v.empty() && i <= n && at(i) <= v.last(); ++i) v[at(i)] = 0.0;
}
