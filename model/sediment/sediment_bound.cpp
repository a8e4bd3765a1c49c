// Sediment-bound constituent mass of one overland constituent step: mean depths,
// detachment and carrying capacity of the particle-bound species of every wet or
// rained-on cell, and their settling rates. Called by the overland constituent
// transport when its sediment-bound scheme is selected.
#include "model/sediment/sediment_bound.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "model/core/model_state.h"
#include "model/sediment/overland_erosion.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

double cell_value(const array_1d<double> &a, int i) {
    return !a.empty() && at(i) <= a.last() ? a[at(i)] : 0.0;
}
double positive_or(const array_1d<double> &a, int i, double fallback) {
    const double v = cell_value(a, i);
    return v > 0.0 ? v : fallback;
}

// Detachment shares of the particle-bound classes of a cell; the sum of their
// divisors (loose soil over X_j 998200) is returned, the shares are 0 when it is not positive.
double bound_shares(sediment_record &r, const std::vector<bound_species> &species, int cell) {
    double sum = 0.0;
    for (const bound_species &sp : species)
        if (sp.factor > 0.0) sum += r.deposited[at(cell)][at(sp.soil_class)] / (sp.factor * bound_mass_factor);
    for (const bound_species &sp : species) {
        const double part = sp.factor > 0.0 ? r.deposited[at(cell)][at(sp.soil_class)] /
                                                  (sp.factor * bound_mass_factor)
                                            : 0.0;
        r.detachment_share[at(cell)][at(sp.soil_class)] = sum > 1e-16 ? part / sum : 0.0;
    }
    return sum;
}

}  // namespace

double engelund_hansen_capacity(double V, double fraction, double S, double d_mm, double G,
                                double h) {
    const double g1 = G - 1.0, d = d_mm / 1000.0;
    if (g1 == 0.0 || !(d > 0.0)) return 0.0;
    return 0.05 * fraction * V * V * std::pow(std::fabs(S) * h, 1.5) / (g1 * g1 * d * std::sqrt(9.81));
}

double ov_transport_capacity(int method, double q, double h, double S, double c, double a,
                             double b, double E, double dx, const bound_species *sp,
                             double fraction) {
    if (std::fabs(q) < 1e-6 || h <= 1e-16 || !(dx > 0.0)) return 0.0;
    const double V = q / h;
    const double vs = std::fabs(V * S);
    if (c > vs || vs <= 0.0) return 0.0;
    const double F = (vs - c) / vs;
    const double tau = unit_weight_water * h * std::fabs(S);
    const double omega = tau * std::fabs(V);
    switch (method) {
    case 1:
        if (!sp) return 0.0;
        return engelund_hansen_capacity(V, fraction, S, sp->diameter, sp->specific_gravity, h) *
               sp->factor * bound_mass_factor / (dx * dx) * E * F;
    case 2:
        return 25500.0 * std::pow(std::fabs(S), 1.6667) * std::pow(std::fabs(q), 2.035) /
               (dx * 1.102e-6) * E * F;
    case 3: return a * std::pow(omega, b) * 1000.0 / dx * E * F;
    case 4: return a * std::pow(std::pow(omega, 1.5), b) * 1000.0 / dx * E * F;
    case 5: return a * std::pow(vs, b) * E * F;
    case 6: return a * std::pow(tau, b) * 1000.0 / dx * E * F;
    default: return F * E * F;
    }
}

void settling_velocity(bound_species &sp, int cell, double h, double nu) {
    const double w = grain_fall_velocity(sp.diameter / 1000.0, (sp.specific_gravity - 1.0) * 9.81, nu);
    sp.settling_rate[at(cell)] = h > 0.0 ? w / h : 0.0;
}

void ov_erode_deposit(sediment_record &r, const bound_flow &fl, std::vector<bound_species> &species,
                      int i, int method, double dx, double dt, double positive_store_sum) {
    const double h = r.mean_depth[at(i)];
    const double qx = fl.qx[at(i)], qy = fl.qy[at(i)];
    const double q = std::sqrt((qx / dx) * (qx / dx) + (qy / dx) * (qy / dx));
    const double V = h > 0.0 ? std::sqrt((qx / (h * dx)) * (qx / (h * dx)) + (qy / (h * dx)) * (qy / (h * dx)))
                             : 0.0;
    const int jx = fl.right[at(i)], jy = fl.down[at(i)];
    const double sx = jx > 0 ? fl.sx[at(i)] - (r.mean_depth[at(jx)] - h) / dx + 1e-30 : 0.0;
    const double sy = jy > 0 ? fl.sy[at(i)] - (r.mean_depth[at(jy)] - h) / dx + 1e-30 : 0.0;
    const double S = std::sqrt(sx * sx + sy * sy);
    const double rain = fl.rain ? fl.rain[at(i)] : 0.0;
    if ((h <= 0.0 || V == 0.0) && !(rain > 0.0)) {
        for (bound_species &sp : species) sp.capacity[at(i)] = 0.0;
        return;
    }
    double M = 0.0;
    for (const bound_species &sp : species) M += sp.water_mass[at(i)];

    const double a = cell_value(r.transport_coeff, i), b = cell_value(r.transport_exponent, i);
    const double c = cell_value(r.critical_stream_power, i), E = cell_value(r.transport_factor, i);
    double T = 0.0, Cw = 0.0;
    if (method == 1) {
        for (bound_species &sp : species) {
            const double f = r.fraction[at(i)][at(sp.soil_class)];
            const double cap = ov_transport_capacity(1, q, h, S, c, a, b, E, dx, &sp, f);
            sp.capacity[at(i)] = cap;
            if (sp.factor > 0.0) T += cap * dx * dx * dt / (sp.factor * bound_mass_factor);
            Cw += f * cap;
        }
    } else {
        Cw = ov_transport_capacity(method, q, h, S, c, a, b, E, dx, nullptr, 0.0);
        T = Cw * dx * dx * dt / 2645230.0;
    }

    double Dr = 0.0;
    if (rain > 0.0) {
        double alpha = 0.0, beta = 0.0;
        splash_coefficients(rain, alpha, beta);
        Dr = splash_damping(rain, h) * positive_or(r.splash_coeff, i, 800.0) * alpha *
             std::pow(rain, beta) * 1000.0 * dt * dx * dx;
    }
    const double ratio_flow = h > 0.0 && Cw > 0.0 ? 1.0 - (M / (dx * dx * h)) * V / Cw : 1.0;
    double Df = 0.0;
    if (ratio_flow > 0.0 && h > 0.0) {
        // A shear below the critical value detaches nothing.
        const double excess = std::fmax(unit_weight_water * h * S - std::fmax(cell_value(r.critical_shear, i), 0.0), 0.0);
        Df = positive_or(r.detachment_coeff, i, 2e-5) * ratio_flow *
             std::pow(excess, positive_or(r.shear_exponent, i, 2.0)) * 1000.0 * dt * dx * dx;
    }
    const double D = Df + Dr;

    double loose = 0.0, Ws = 0.0, Wf = 0.0;
    if (positive_store_sum < 1e-16) {
        for (const bound_species &sp : species) r.detachment_share[at(i)][at(sp.soil_class)] = 0.0;
    } else {
        bound_shares(r, species, i);
    }
    for (const bound_species &sp : species) {
        const std::size_t k = at(sp.soil_class);
        loose += r.deposited[at(i)][k];
        Ws += r.detachment_share[at(i)][k] * sp.factor;
        Wf += r.fraction[at(i)][k] * sp.factor;
    }
    double ratio = 1.0;
    if (!(D < 1e-9)) {
        ratio = loose / D;
        if (ratio > 1.0) ratio = 1.0;
        if (ratio < 0.0) std::printf("dep_vol=%10.5e  erode_mass=%10.5e\n", loose, D);
    }
    for (bound_species &sp : species) {
        const std::size_t k = at(sp.soil_class);
        const double share = r.detachment_share[at(i)][k], f = r.fraction[at(i)][k];
        double eroded = 0.0;
        if (Ws > 0.0) eroded += share * ratio * sp.factor / Ws * D;
        double soil = 0.0;
        if (Wf > 0.0) soil = f * (1.0 - ratio) * sp.factor / Wf * D;
        eroded += soil;
        if (eroded < 0.0) std::printf("ov_cell_mass=%10.5e\n", eroded);
        sp.eroded_mass[at(i)] = eroded;
        if (1.0 - ratio > 0.0) {
            r.eroded[at(i)][k] += soil;
            r.deposited[at(i)][k] += soil;
        }
    }

    if (positive_store_sum > 1e-16) {
        const double sum = bound_shares(r, species, i);
        double r2 = ratio;
        if (T >= 1e-16) r2 = std::fmin(sum / T, 1.0);
        for (bound_species &sp : species) {
            const std::size_t k = at(sp.soil_class);
            const double blend = r.detachment_share[at(i)][k] * r2 + r.fraction[at(i)][k] * (1.0 - r2);
            sp.capacity[at(i)] = blend * (method == 1 ? sp.capacity[at(i)] : Cw);
        }
    } else if (method != 1) {
        for (bound_species &sp : species) sp.capacity[at(i)] = Cw;
    }
}

void ov_sediment_bound_mass(sediment_record &r, const bound_flow &fl, std::vector<bound_species> &species,
                            int method, int erosion_on, double dx, double dt, double nu,
                            double positive_store_sum) {
    const int n = fl.cells;
    if (n < 1 || !(dt > 0.0) || r.deposited.empty() || r.detachment_share.empty()) return;
    if (r.mean_depth.empty() || r.mean_depth.last() < at(n)) {
        if (alloc_1d_double(r.mean_depth, n) != 0) return;
    }
    for (int i = 1; i <= n; ++i) r.mean_depth[at(i)] = (fl.depth_start[at(i)] + fl.depth_end[at(i)]) * 0.5;
    for (int i = 1; i <= n; ++i) {
        const double h = r.mean_depth[at(i)];
        const bool rained = fl.rain && fl.rain[at(i)] > 0.0;
        if (h > 1e-16 || rained) {
            if (erosion_on) ov_erode_deposit(r, fl, species, i, method, dx, dt, positive_store_sum);
            for (bound_species &sp : species) {
                settling_velocity(sp, i, h, nu);
                // A rained-on cell without depth settles all it holds in the step.
                if (sp.settling_rate[at(i)] * dt > 1.0 || h <= 1e-16) sp.settling_rate[at(i)] = 1.0 / dt;
            }
        } else {
            for (bound_species &sp : species) {
                sp.settling_rate[at(i)] = 0.0;
                if (sp.second_value) sp.second_value[at(i)] = 0.0;
            }
        }
    }
}
