// Reference copy of the overland erosion step as it stood before its loops were
// restructured (a library pow per flowing face, the settling fractions, carry
// and capacity per face through general helpers); kept unchanged so that the
// equality test and the benchmark can compare the two. Not linked into the
// programs.
#include "bench/reference/overland_erosion_reference.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "model/core/model_state.h"
#include "model/sediment/overland_erosion.h"

namespace reference {

namespace {

// The settling fraction of the current cell per class (the run state no longer
// keeps this work array; sized on the first call).
array_1d<double> settling_fraction;

double transport_capacity(int method, const sediment_record &r, int cell, double S, double h,
                          double q, double dt, double dx, double a, double b, double c, double E);

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

template <class T>
bool covers(const array_1d<T> &a, int n) {
    return !a.empty() && a.last() >= at(n);
}

bool make_work(array_1d<double> &a, int n) { return covers(a, n) || alloc_1d_double(a, n) == 0; }

double value_or(const array_1d<double> &a, int i, double fallback) {
    return covers(a, i) ? a[at(i)] : fallback;
}
double positive_or(const array_1d<double> &a, int i, double fallback) {
    const double v = value_or(a, i, 0.0);
    return v > 0.0 ? v : fallback;
}

// Moves volume d from the loose soil of a cell into suspension by the detachment
// shares, which are written first (0 for every class when there is no loose soil).
double detach(sediment_record &r, int cell, double d, bool strictly_less) {
    const std::size_t i = at(cell);
    const row_ref<double> dep = r.deposited[i], sus = r.suspended[i], share = r.detachment_share[i];
    const std::size_t nc = at(r.class_count);
    double total = 0.0;
    for (std::size_t k = 1; k <= nc; ++k) total += dep[k];
    for (std::size_t k = 1; k <= nc; ++k) share[k] = total > 0.0 ? dep[k] / total : 0.0;
    if (!(d > 0.0) || total <= 0.0) return 0.0;
    if (strictly_less ? !(d < total) : !(d <= total)) return 0.0;
    const bool book = !r.detached_volume.empty() && r.detached_volume.last() >= nc;
    for (std::size_t k = 1; k <= nc; ++k) {
        const double m = d * share[k];
        dep[k] -= m;
        sus[k] += m;
        if (book) r.detached_volume[k] += m;
    }
    return d;
}

// Where the soil that leaves a source goes: a target cell, or (target 0) out of
// the grid through the outlet, booked per class.
struct transfer_sink {
    int target = 0;
    array_1d<double> *outlet = nullptr;  // per class (m3), target 0 only
};

// The target's rows (or the outlet's per-class totals) that take what leaves.
struct receiver {
    double *suspended = nullptr, *deposited = nullptr, *outlet = nullptr;
    void take(std::size_t k, double m, bool loose) const {
        if (suspended)
            (loose ? deposited : suspended)[k] += m;
        else if (outlet)
            outlet[k] += m;
    }
};

receiver receiver_of(sediment_record &r, const transfer_sink &sink) {
    receiver v;
    if (sink.target > 0) {
        v.suspended = r.suspended[at(sink.target)].data();
        v.deposited = r.deposited[at(sink.target)].data();
    } else if (sink.outlet && covers(*sink.outlet, r.class_count)) {
        v.outlet = sink.outlet->data();
    }
    return v;
}

// The two forms of the message of a share that is not a number.
enum class share_message { pt1, pt4 };

void check_share(double share, int k, int cell, share_message form) {
    if (!std::isnan(share)) return;
    if (form == share_message::pt1)
        std::printf("PT 1 soil class%2d=NaN at grid %ld\n", k, static_cast<long>(cell));
    else
        std::printf("PT 4 soil class%2d=NaN at grid %2d\n", k, cell);
    std::fflush(stdout);
}

// Carries up to |capacity| m3 from the source: suspended soil first, then loose
// soil; a capacity above all of it empties the source (step recorded). Amounts
// leaving go, divided by dt, into the source's ov_qsmax row when it is kept.
void carry(sediment_record &r, int source, const transfer_sink &sink, double capacity, double dt,
           int step, share_message nan_deposited) {
    const std::size_t s = at(source), nc = at(r.class_count);
    const row_ref<double> sus = r.suspended[s], dep = r.deposited[s];
    double *rates = r.ov_qsmax.empty() ? nullptr : r.ov_qsmax[s].data();
    const receiver to = receiver_of(r, sink);
    double ss = 0.0, sd = 0.0;
    for (std::size_t k = 1; k <= nc; ++k) {
        ss += sus[k];
        sd += dep[k];
    }
    const double tc = std::fabs(capacity);
    // No capacity: with finite suspended soil present nothing would move (every
    // share of 0 is 0).
    if (tc == 0.0 && ss > 0.0 && sd >= 0.0 && std::isfinite(ss)) return;
    auto leave = [&](std::size_t k, double m) {
        if (rates) rates[k] += m / dt;
    };
    if (tc > ss + sd) {
        for (std::size_t k = 1; k <= nc; ++k) {
            const double m = sus[k] + dep[k];
            to.take(k, m, false);
            leave(k, m);
            sus[k] = 0.0;
            dep[k] = 0.0;
        }
        r.emptied_step = step;
        return;
    }
    if (tc > ss) {
        for (std::size_t k = 1; k <= nc; ++k) {
            const double m = sus[k];
            to.take(k, m, false);
            leave(k, m);
            sus[k] = 0.0;
        }
        if (sd == 0.0) return;
        for (std::size_t k = 1; k <= nc; ++k) {
            const double share = dep[k] / sd;
            check_share(share, static_cast<int>(k), source, nan_deposited);
            const double m = share * (tc - ss);
            dep[k] -= m;
            to.take(k, m, true);
            leave(k, m);
        }
        return;
    }
    if (ss == 0.0) return;
    for (std::size_t k = 1; k <= nc; ++k) {
        const double share = sus[k] / ss;
        check_share(share, static_cast<int>(k), source, share_message::pt1);
        const double m = share * tc;
        sus[k] -= m;
        to.take(k, m, false);
        leave(k, m);
    }
}

// Suspended soil of a cell that settles into its loose soil by the fractions of
// the work vector.
void settle(sediment_record &r, int cell) {
    const row_ref<double> sus = r.suspended[at(cell)], dep = r.deposited[at(cell)];
    const double *fraction = settling_fraction.data();
    for (std::size_t k = 1; k <= at(r.class_count); ++k) {
        const double m = fraction[k] * sus[k];
        sus[k] -= m;
        dep[k] += m;
    }
}

// Below this argument exp(x) < 2^-54, so that 1 - exp(x) rounds to 1 exactly:
// the fraction is 1 without forming exp, which would underflow on nearly dry cells.
constexpr double all_settles_below = -40.0;

void settling_fractions(sediment_record &r, double h, double v, double dx, double without_flow) {
    double *fraction = settling_fraction.data();
    const double *w = r.settling_velocity.data();
    const bool flowing = h > 0.0 && v > 0.0;
    const double scale = flowing ? dx / (v * h) : 0.0;
    for (std::size_t k = 1; k <= at(r.class_count); ++k) {
        const double x = -w[k] * scale;
        fraction[k] = flowing ? (x < all_settles_below ? 1.0 : 1.0 - std::exp(x)) : without_flow;
    }
}

// One direction of the transport stage for cell i and neighbour j across their
// face: the face's flow and slope, the upstream cell's depth and parameters.
struct direction_arrays {
    const int *neighbour;
    const double *flow;     // m3/s across the face to the neighbour
    const double *slope;    // ground slope towards the neighbour
    double *capacity;       // per cell, of the source
    bool settle_at_source;  // x: at the source, all settles without flow
};

// Per-cell inputs of the transport stage (entries 1..N).
struct transport_inputs {
    const double *depth, *a, *b, *c, *E;
    int method;
    int step;
};

void transport_direction(sediment_record &r, const transport_inputs &in, const direction_arrays &d,
                         int i, double dt, double dx) {
    const int j = d.neighbour[i];
    if (j < 1) return;
    const double q = d.flow[i];
    const int s = q < 0.0 ? j : i, t = q < 0.0 ? i : j;
    const double hs = in.depth[s];
    // The capacity of a still or dry face is 0 before its slope is needed.
    const double unit_q = q / dx;
    double tc = 0.0;
    if (!(std::fabs(unit_q) < 1e-6 || hs <= 1e-16)) {
        const double S = d.slope[i] - (in.depth[j] - in.depth[i]) / dx + 1e-20;
        tc = transport_capacity(in.method, r, s, S, hs, unit_q, dt, dx, in.a[s], in.b[s],
                                         in.c[s], in.E[s]);
    }
    d.capacity[s] = tc;
    carry(r, s, transfer_sink{t, nullptr}, tc, dt, in.step,
          d.settle_at_source ? share_message::pt1 : share_message::pt4);
    const double v = hs > 0.0 ? std::fabs(q / (hs * dx)) : 0.0;
    if (d.settle_at_source) {
        settling_fractions(r, hs, v, dx, 1.0);
        settle(r, s);
    } else {
        settling_fractions(r, hs, v, dx, 0.0);
        settle(r, t);
    }
}

// The soil that the outlet cell's outflow carries off the grid: capacity with
// the outlet slope, limited by what the cell holds.
void outlet_sediment(model_state &st, int method, double dt, double dx) {
    sediment_record &r = st.sediment;
    for (int k = 1; k <= r.class_count; ++k) r.outlet_rate[at(k)] = 0.0;
    const int o = st.outlet_cell;
    if (st.chan_explicit || o < 1 || o > st.cell_count) return;
    const double q = st.outlet_discharge;
    const double tc = transport_capacity(
        method, r, o, st.outlet_slope, st.depth[at(o)], q / dx, dt, dx,
        value_or(r.transport_coeff, o, 0.0), value_or(r.transport_exponent, o, 0.0),
        value_or(r.critical_stream_power, o, 0.0), value_or(r.transport_factor, o, 0.0));
    if (!(q > 0.0) || tc == 0.0) return;
    array_1d<double> &step_out = r.outlet_rate;  // holds the volumes until divided below
    carry(r, o, transfer_sink{0, &step_out}, tc, dt, st.step_number, share_message::pt1);
    for (int k = 1; k <= r.class_count; ++k) {
        r.outlet_volume[at(k)] += step_out[at(k)];
        step_out[at(k)] /= dt;
    }
}

void write_outputs(sediment_record &r, int cells) {
    const int nc = r.class_count;
    for (int i = 1; i <= cells; ++i) {
        const std::size_t c = at(i);
        if (!r.ov_qsmax.empty()) {
            double sum = 0.0;
            for (int k = 1; k <= nc; ++k) sum += r.ov_qsmax[c][at(k)];
            r.ov_qsmax[c][0] = sum;
        }
        if (!r.ov_qsvol.empty()) {
            double sum = 0.0;
            for (std::size_t k = 0; k <= r.ov_qsvol.cols(); ++k) r.ov_qsvol[c][k] = 0.0;
            for (int k = 1; k <= nc; ++k) {
                r.ov_qsvol[c][at(k)] = r.deposited[c][at(k)] + r.eroded[c][at(k)];
                sum += r.ov_qsvol[c][at(k)];
            }
            r.ov_qsvol[c][0] = sum;
        }
        if (!r.ov_qsconc.empty()) {
            double sum = 0.0;
            for (std::size_t k = 0; k <= r.ov_qsconc.cols(); ++k) r.ov_qsconc[c][k] = 0.0;
            for (int k = 1; k <= nc; ++k) {
                r.ov_qsconc[c][at(k)] = r.suspended[c][at(k)];
                sum += r.suspended[c][at(k)];
            }
            r.ov_qsconc[c][0] = sum;
        }
    }
}

void check_values(const sediment_record &r, int cells) {
    for (int i = 1; i <= cells; ++i) {
        const std::size_t c = at(i);
        const row_ref<const double> sus = r.suspended[c], ero = r.eroded[c], dep = r.deposited[c];
        bool printed = false;
        for (int k = 1; k <= r.class_count; ++k) {
            if (std::isnan(sus[at(k)])) {
                std::printf("PT 3 suspended soil particle %2d=Nan at grid %d\n", k, i);
                printed = true;
            }
            if (std::isnan(ero[at(k)])) {
                std::printf("PT 3 eroded soil particle %2d=Nan at grid %d\n", k, i);
                printed = true;
            }
            if (std::isnan(dep[at(k)])) {
                std::printf("PT 3 deposited soil particle %2d=Nan at grid %d\n", k, i);
                printed = true;
            }
        }
        if (printed) std::fflush(stdout);
    }
}

bool erosion_work_ready(model_state &st) {
    sediment_record &r = st.sediment;
    const int n = st.cell_count, nc = r.class_count;
    if (!make_work(r.x_capacity, n) || !make_work(r.y_capacity, n)) return false;
    if (covers(r.settling_velocity, nc) && covers(settling_fraction, nc)) return true;
    if (!make_work(r.settling_velocity, nc) || !make_work(settling_fraction, nc)) return false;
    for (int k = 1; k <= nc; ++k) {
        const double d = r.classes[at(k)].diameter / 1000.0;
        r.settling_velocity[at(k)] = grain_fall_velocity(d, 16.1865, r.viscosity > 0.0 ? r.viscosity : 1e-6);
    }
    return true;
}


// exp(1 - h / dm) for h > dm, 0 where it would underflow to 0 (below -746), else 1.
double damping(double dm, double h) {
    if (!(h > dm)) return 1.0;
    const double x = 1.0 - h / dm;
    return x < -746.0 ? 0.0 : std::exp(x);
}

// The powers of one rain intensity that splash needs (formed once for a run of
// cells with the same rate).
struct splash_powers {
    double rain = 0.0;         // mm/h, > 0
    double alpha = 0.0, beta = 0.0;
    double drop = 0.0;         // median drop diameter D_m (m)
    double intensity = 0.0;    // i^beta
};

splash_powers powers_of(double i) {
    splash_powers p;
    p.rain = i;
    splash_coefficients(i, p.alpha, p.beta);
    p.drop = 0.00124 * std::pow(i, 0.182);
    p.intensity = std::pow(i, p.beta);
    return p;
}

double splash_detachment(sediment_record &r, int cell, const splash_powers &p, double h,
                         double splash_coeff, double dt, double dx) {
    const double d = damping(p.drop, h) * splash_coeff * p.alpha * p.intensity * dt * dx * dx /
                     sediment_density;
    return detach(r, cell, d, false);
}

// x^B; B = 1 (the default exponent) gives x itself, as the library's pow does.
double power_of(double x, double B) { return B == 1.0 ? x : std::pow(x, B); }

double transport_capacity(int method, const sediment_record &r, int cell, double S,
                                   double h, double q, double dt, double dx, double a, double b,
                                   double c, double E) {
    if (std::fabs(q) < 1e-6 || h <= 1e-16) return 0.0;
    const double V = q / h;
    const double vs = std::fabs(V * S);
    if (c > vs || vs <= 0.0) return 0.0;
    const double F = (vs - c) / vs;
    const double tau = unit_weight_water * h * std::fabs(S);
    const double omega = tau * std::fabs(V);
    if (method == 1) {
        double rate = 0.0;
        const double grade = std::pow(h * std::fabs(S), 1.5);
        const row_ref<const double> fraction = r.fraction[at(cell)];
        for (int k = 1; k <= r.class_count; ++k) {
            const sediment_class &cl = r.classes[at(k)];
            const double g1 = cl.specific_gravity - 1.0;
            const double d = cl.diameter / 1000.0;
            if (g1 == 0.0 || d <= 0.0) continue;
            rate += fraction[at(k)] * 0.05 * dx * V * V * grade /
                    (g1 * g1 * d * std::sqrt(9.81));
        }
        return rate * dt;
    }
    double rate = 1.0;
    switch (method) {
    case 2: rate = 25500.0 * 1000.0 * std::pow(std::fabs(S), 1.6667) * std::pow(std::fabs(q), 2.035); break;
    case 3: rate = a * std::pow(omega, b); break;
    case 4: rate = a * std::pow(std::pow(omega, 1.5), b); break;
    case 5: rate = a * std::pow(vs, b); break;
    case 6: rate = a * std::pow(tau, b); break;
    default: break;
    }
    return rate * E * F * dt * dx / sediment_density;
}

double detach_by_flow(sediment_record &r, int cell, double h, double S, double A, double B,
                       double /*critical*/, double dt, double dx) {
    if (!(h > 0.0) || !(S > 0.0)) return 0.0;
    const double d = A * power_of(unit_weight_water * h * S, B) * dt * dx * dx / sediment_density;
    return detach(r, cell, d, true);
}

}  // namespace

void overland_erosion(model_state &st, double dt, double dx, double /*viscosity*/) {
    sediment_record &r = st.sediment;
    const int n = st.cell_count, nc = r.class_count;
    if (n < 1 || nc < 1 || !(dt > 0.0) || r.deposited.empty() || r.detachment_share.empty()) return;
    if (!covers(st.depth, n) || !covers(st.discharge_x, n) || !covers(st.discharge_y, n) ||
        !covers(st.right, n) || !covers(st.down, n) || !covers(st.x_slope, n) ||
        !covers(st.y_slope, n))
        return;
    for (const array_1d<double> *a : {&r.transport_coeff, &r.transport_exponent,
                                      &r.critical_stream_power, &r.transport_factor})
        if (!covers(*a, n)) return;
    if (!erosion_work_ready(st)) return;
    const int method = r.transport_option;

    // Detachment.
    const double *depth = st.depth.data(), *qxs = st.discharge_x.data(), *qys = st.discharge_y.data();
    const double *sx0 = st.x_slope.data(), *sy0 = st.y_slope.data();
    const int *right = st.right.data(), *down = st.down.data();
    const bool rain_given = covers(st.step_rain_rate, n);
    splash_powers powers;  // of the last rate met; uniform rain forms them once
    for (int i = 1; i <= n; ++i) {
        const double h = depth[i];
        const double rain = rain_given ? st.step_rain_rate[at(i)] : 0.0;
        if (rain > 0.0) {
            if (rain != powers.rain) powers = powers_of(rain);
            splash_detachment(r, i, powers, h, positive_or(r.splash_coeff, i, 60.0), dt, dx);
        }
        // Flow detachment where water flows (the slopes only there).
        const double qx = qxs[i], qy = qys[i];
        if (!(qx * qx + qy * qy > 0.0 && h > 0.0)) continue;
        const int jx = right[i], jy = down[i];
        const double sx = jx > 0 ? sx0[i] - (depth[jx] - h) / dx + 1e-20 : 0.0;
        const double sy = jy > 0 ? sy0[i] - (depth[jy] - h) / dx + 1e-20 : 0.0;
        const double slope = std::sqrt(sx * sx + sy * sy);
        if (slope > 0.0) {
            const double critical = std::fmax(value_or(r.critical_shear, i, 0.0), 0.0);
            detach_by_flow(r, i, h, slope, positive_or(r.detachment_coeff, i, 2e-5),
                            positive_or(r.shear_exponent, i, 1.0), critical, dt, dx);
        }
    }

    // Transport and settling, x then y, cell by cell.
    const transport_inputs in{depth, r.transport_coeff.data(), r.transport_exponent.data(),
                              r.critical_stream_power.data(), r.transport_factor.data(), method,
                              st.step_number};
    const direction_arrays x{right, qxs, sx0, r.x_capacity.data(), true};
    const direction_arrays y{down, qys, sy0, r.y_capacity.data(), false};
    for (int i = 1; i <= n; ++i) {
        if (!r.ov_qsmax.empty())
            for (std::size_t k = 0; k <= r.ov_qsmax.cols(); ++k) r.ov_qsmax[at(i)][k] = 0.0;
        transport_direction(r, in, x, i, dt, dx);
        transport_direction(r, in, y, i, dt, dx);
    }
    outlet_sediment(st, method, dt, dx);

    if (!r.ov_qsmax.empty() || !r.ov_qsvol.empty() || !r.ov_qsconc.empty()) write_outputs(r, n);
    check_values(r, n);
}

}  // namespace reference
