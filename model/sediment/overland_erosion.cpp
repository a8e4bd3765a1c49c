// Overland erosion and deposition, once per overland step after the overland
// routing (step_overland_flow): detachment by splash and flow, transport to the
// x and y neighbours with settling, the outlet's share, outputs and checks.
#include "model/sediment/overland_erosion.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "model/channel/channel_services.h"
#include "model/core/model_state.h"
#include "model/core/sediment_ledger.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

template <class T>
bool covers(const array_1d<T> &a, int n) {
    return !a.empty() && a.last() >= at(n);
}

bool make_work(array_1d<double> &a, int n) { return covers(a, n) || alloc_1d_double(a, n) == 0; }

double value_or(const array_1d<double> &a, int i, double fallback) {
    return covers(a, i) ? a[at(i)] : fallback;
}

// The number of soil classes: NC when it is fixed at compile time (so that the
// class loops of the per-cell work unroll), else the record's count (NC = 0).
template <int NC>
inline std::size_t classes_of(const sediment_record &r) {
    return NC > 0 ? static_cast<std::size_t>(NC) : at(r.class_count);
}

// Moves volume d from the loose soil of a cell into suspension by the detachment
// shares, which are written first (0 for every class when there is no loose soil).
template <int NC = 0>
[[gnu::always_inline]] inline double detach(sediment_record &r, int cell, double d,
                                           bool strictly_less) {
    const std::size_t i = at(cell);
    const row_ref<double> dep = r.deposited[i], sus = r.suspended[i], share = r.detachment_share[i];
    const std::size_t nc = classes_of<NC>(r);
    double total = 0.0;
    for (std::size_t k = 1; k <= nc; ++k) total += dep[k];
    // One division for all classes, unless the reciprocal of a tiny total overflows.
    const double per_total = total > 1e-300 ? 1.0 / total : 0.0;
    const bool moves = d > 0.0 && total > 0.0 && (strictly_less ? d < total : d <= total);
    double *booked = moves && !r.detached_volume.empty() && r.detached_volume.last() >= nc
                         ? r.detached_volume.data()
                         : nullptr;
    double *step =
        moves && !r.step_detached.empty() && r.step_detached.last() >= nc ? r.step_detached.data() : nullptr;
    // Each share is written and used in one pass (not read back from the row).
    for (std::size_t k = 1; k <= nc; ++k) {
        const double sh = !(total > 0.0) ? 0.0 : per_total > 0.0 ? dep[k] * per_total : dep[k] / total;
        share[k] = sh;
        if (!moves) continue;
        const double m = d * sh;
        dep[k] -= m;
        sus[k] += m;
        if (booked) booked[k] += m;
        if (step) step[k] += m;
    }
    return moves ? d : 0.0;
}

// Where the soil that leaves a source goes: the suspended (or, for loose soil,
// the loose) row of a target cell. Loose soil that a flow able to carry all of
// the source's soil sweeps into the target's water is counted in `lifted`.
struct cell_sink {
    double *suspended, *deposited, *lifted;
    void take(std::size_t k, double m, bool loose) const { (loose ? deposited : suspended)[k] += m; }
    void lift(std::size_t k, double m) const { lifted[k] += m; }
};

// Or out of the grid through the outlet, booked per class.
struct outlet_sink {
    double *outlet;
    void take(std::size_t k, double m, bool) const {
        if (outlet) outlet[k] += m;
    }
    void lift(std::size_t, double) const {}
};

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
template <int NC, class Sink>
[[gnu::always_inline]] inline void carry(sediment_record &r, int source, const Sink &to,
                                         double capacity, double dt, int step,
                                         share_message nan_deposited) {
    const std::size_t s = at(source), nc = classes_of<NC>(r);
    double *sus = r.suspended[s].data(), *dep = r.deposited[s].data();
    double ss = sus[1], sd = dep[1];  // (a record has at least one class here)
    for (std::size_t k = 2; k <= nc; ++k) {
        ss += sus[k];
        sd += dep[k];
    }
    const double tc = std::fabs(capacity);
    // No capacity: with finite suspended soil present nothing would move (every
    // share of 0 is 0).
    if (tc == 0.0 && ss > 0.0 && sd >= 0.0 && std::isfinite(ss)) return;
    double *rates = r.ov_qsmax.empty() ? nullptr : r.ov_qsmax[s].data();
    auto leave = [rates, dt](std::size_t k, double m) {
        if (rates) rates[k] += m / dt;
    };
    // Moves `amount` of the soil in `from` (its classes sum to `sum`) by the
    // classes' shares: one division for all classes where the sum is finite,
    // otherwise share by share with the message of a share that is not a number.
    auto move_shares = [&](double *from, double amount, double sum, bool loose, share_message form) {
        if (std::isfinite(sum)) {
            const double part = amount / sum;
            for (std::size_t k = 1; k <= nc; ++k) {
                const double m = from[k] * part;
                from[k] -= m;
                to.take(k, m, loose);
                leave(k, m);
            }
            return;
        }
        for (std::size_t k = 1; k <= nc; ++k) {
            const double share = from[k] / sum;
            check_share(share, static_cast<int>(k), source, form);
            const double m = share * amount;
            from[k] -= m;
            to.take(k, m, loose);
            leave(k, m);
        }
    };
    if (tc > ss + sd) {
        for (std::size_t k = 1; k <= nc; ++k) {
            const double m = sus[k] + dep[k];
            to.lift(k, dep[k]);
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
        move_shares(dep, tc - ss, sd, true, nan_deposited);
        return;
    }
    if (ss == 0.0) return;
    move_shares(sus, tc, ss, false, share_message::pt1);
}

// Below this argument exp(x) < 2^-54, so that 1 - exp(x) rounds to 1 exactly:
// the fraction is 1 without forming exp, which would underflow on nearly dry cells.
constexpr double all_settles_below = -40.0;

// The square root of x >= 0, correctly rounded as std::sqrt, by the processor's
// instruction: the compiler may otherwise call the library for errno's sake.
inline double root(double x) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(x)));
#else
    return std::sqrt(x);
#endif
}

// x^1.5 as x sqrt(x): within an ulp of the library's pow, at the cost of a sqrt.
inline double pow_three_halves(double x) { return x * root(x); }

// The square roots of v[0..nv) and the reciprocals of w[0..nw), in place, four
// or two at a time where the processor can: the same correctly rounded values
// as one at a time. The four-wide form sets how many of each it has done.
#if defined(__x86_64__)
bool detect_avx() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
}
const bool has_avx = detect_avx();

__attribute__((target("avx"))) void roots_and_reciprocals_by_four(double *v, std::size_t nv,
                                                                  double *w, std::size_t nw,
                                                                  std::size_t &jv, std::size_t &jw) {
    for (jv = 0; jv + 4 <= nv; jv += 4)
        _mm256_storeu_pd(v + jv, _mm256_sqrt_pd(_mm256_loadu_pd(v + jv)));
    const __m256d one = _mm256_set1_pd(1.0);
    for (jw = 0; jw + 4 <= nw; jw += 4)
        _mm256_storeu_pd(w + jw, _mm256_div_pd(one, _mm256_loadu_pd(w + jw)));
}
#endif

void roots_and_reciprocals(double *v, std::size_t nv, double *w, std::size_t nw) {
    std::size_t jv = 0, jw = 0;
#if defined(__x86_64__)
    if (has_avx) roots_and_reciprocals_by_four(v, nv, w, nw, jv, jw);
#endif
#if defined(__SSE2__)
    for (; jv + 2 <= nv; jv += 2) _mm_storeu_pd(v + jv, _mm_sqrt_pd(_mm_loadu_pd(v + jv)));
    const __m128d one = _mm_set1_pd(1.0);
    for (; jw + 2 <= nw; jw += 2) _mm_storeu_pd(w + jw, _mm_div_pd(one, _mm_loadu_pd(w + jw)));
#endif
    for (; jv < nv; ++jv) v[jv] = root(v[jv]);
    for (; jw < nw; ++jw) w[jw] = 1.0 / w[jw];
}

// 0.05 / ((G - 1)^2 d sqrt(g)) of a class in the first transport formula; 0 for
// a class without weight in water or without a diameter (it carries nothing).
double grade_coefficient(const sediment_class &cl) {
    const double g1 = cl.specific_gravity - 1.0;
    const double d = cl.diameter / 1000.0;
    if (g1 == 0.0 || d <= 0.0) return 0.0;
    return 0.05 / (g1 * g1 * d * std::sqrt(9.81));
}

// What every face of one step's transport stage shares, formed once per step.
struct transport_step {
    sediment_record &r;
    const double *depth, *a, *b, *c, *E;
    const double *fall;          // settling velocity per class (m/s)
    const double *weight;        // first formula: the cell's transport_weight
    // Per cell i, formed before the sweep (see water_terms): at 3i, 3i + 1 the
    // roots of h|S| of the x and y faces (h the source's depth), at 3i + 2 the
    // root of the squared slope of flow detachment; at 2i, 2i + 1 the
    // reciprocals of h|q| of the x and y faces.
    const double *roots, *per_hq;
    double *settled;  // per class: suspended soil that settled into the loose soil (m3)
    double dt, dx, per_dx, dx2;  // per_dx = 1 / dx, dx2 = dx^2
    int method, nc, step;
};

// The first formula's capacity of a face from source cell s (depth h, unit
// discharge q > 1e-6 in magnitude, friction slope S, per_h = 1 / h): the
// classes' rates sum_k f_k 0.05 dx V^2 (h S)^1.5 / ((G-1)^2 d sqrt(g)) dt, with
// the weighted class terms dx dt sum_k f_k / ... of the cell formed beforehand.
inline double first_formula_capacity(const transport_step &ts, int s, double S, double h, double q,
                                     double per_h, double root_hS) {
    const double V = q * per_h;
    const double vs = std::fabs(V * S);
    if (ts.c[s] > vs || vs <= 0.0) return 0.0;
    return V * V * (h * std::fabs(S) * root_hS) * ts.weight[s];  // (h S)^1.5
}

// One face of the transport stage: cell i and its neighbour j (x: right, y:
// down), q the flow across the face (m3/s, positive towards j), bed_slope the
// ground slope towards j. The upstream cell is the source: its capacity is
// stored and its soil carried to the other cell; then suspended soil settles,
// in the x stage at the source (all of it when nothing flows), in the y stage
// at the target (none of it when nothing flows).
template <bool x_stage, int NC>
void transport_face(const transport_step &ts, int i, int j, double q, double bed_slope,
                    double *capacity) {
    sediment_record &r = ts.r;
    const int s = q < 0.0 ? j : i, t = q < 0.0 ? i : j;
    const double hs = ts.depth[s];
    // 1 / h (for the speed) and 1 / |q| (for settling) from one division, unless
    // the product is too small for its reciprocal.
    const double aq = std::fabs(q), hq = hs * aq;
    const bool one_division = hq > 1e-200;
    const double per_hq = one_division ? ts.per_hq[2 * i + (x_stage ? 0 : 1)] : 0.0;
    // The capacity of a still or dry face is 0 before its slope is needed.
    const double unit_q = q * ts.per_dx;
    double tc = 0.0;
    if (!(std::fabs(unit_q) < 1e-6 || hs <= 1e-16)) {
        // The slope that drives the flow across this face: the ground slope of the
        // face from i to j plus the fall of the water depth from i to j, the water
        // surface slope the detachment takes. The capacity uses its magnitude, so it
        // serves either flow direction; the source's own ground slope would belong
        // to its other face when the water runs from j to i, and a depth rising
        // towards the target must lessen the slope, not steepen it.
        const double S = bed_slope - (ts.depth[j] - ts.depth[i]) * ts.per_dx + 1e-20;
        const double per_h = one_division ? aq * per_hq : 1.0 / hs;
        tc = ts.method == 1 ? first_formula_capacity(ts, s, S, hs, unit_q, per_h,
                                                                ts.roots[3 * i + (x_stage ? 0 : 1)])
                            : overland_transport_capacity(ts.method, r, s, S, hs, unit_q, ts.dt,
                                                          ts.dx, ts.a[s], ts.b[s], ts.c[s], ts.E[s]);
    }
    capacity[s] = tc;
    const cell_sink target{r.suspended[at(t)].data(), r.deposited[at(t)].data(), r.step_lifted.data()};
    carry<NC>(r, s, target, tc, ts.dt, ts.step, x_stage ? share_message::pt1 : share_message::pt4);
    // Settling over the cell's length at the speed v = |q| / (h dx): the class
    // with fall velocity w settles by 1 - exp(-w dx / (v h)) = 1 - exp(-w dx^2 / |q|).
    const bool flowing = hs > 0.0 && q != 0.0;
    const double still = x_stage ? 1.0 : 0.0;  // the fraction that settles when nothing flows
    const std::size_t at_cell = at(x_stage ? s : t);
    double *sus = r.suspended[at_cell].data(), *dep = r.deposited[at_cell].data();
    const double scale = !flowing ? 0.0 : one_division ? ts.dx2 * (hs * per_hq) : ts.dx2 / aq;
    const std::size_t nc = classes_of<NC>(r);
    for (std::size_t k = 1; k <= nc; ++k) {
        if (sus[k] == 0.0) continue;  // nothing to settle (a source that the flow emptied)
        const double x = -ts.fall[k] * scale;
        const double f = !flowing ? still : x < all_settles_below ? 1.0 : 1.0 - std::exp(x);
        const double m = f * sus[k];
        sus[k] -= m;
        dep[k] += m;
        ts.settled[k] += m;
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
    const double tc = overland_transport_capacity(
        method, r, o, st.outlet_slope, st.depth[at(o)], q / dx, dt, dx,
        value_or(r.transport_coeff, o, 0.0), value_or(r.transport_exponent, o, 0.0),
        value_or(r.critical_stream_power, o, 0.0), value_or(r.transport_factor, o, 0.0));
    if (!(q > 0.0) || tc == 0.0) return;
    array_1d<double> &step_out = r.outlet_rate;  // holds the volumes until divided below
    if (!covers(step_out, r.class_count)) return;
    const row_ref<double> sus = r.suspended[at(o)], dep = r.deposited[at(o)];
    for (int k = 1; k <= r.class_count; ++k) {
        r.step_out_suspended[at(k)] = sus[at(k)];
        r.step_out_loose[at(k)] = dep[at(k)];
    }
    carry<0>(r, o, outlet_sink{step_out.data()}, tc, dt, st.step_number, share_message::pt1);
    for (int k = 1; k <= r.class_count; ++k) {
        // What left came from the cell's water and from its loose soil.
        r.step_out_suspended[at(k)] -= sus[at(k)];
        r.step_out_loose[at(k)] -= dep[at(k)];
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

// Whether any of v[0..n) is not a number: eight at a time in two independent
// lanes where the processor can, so that the test is not one long chain of ors;
// an unordered comparison of two values is true when either is not a number.
bool holds_nan(const double *v, std::size_t n) {
    std::size_t j = 0;
#if defined(__SSE2__)
    __m128d u0 = _mm_setzero_pd(), u1 = u0;
    for (; j + 8 <= n; j += 8) {
        const __m128d x0 = _mm_loadu_pd(v + j), x1 = _mm_loadu_pd(v + j + 2);
        const __m128d x2 = _mm_loadu_pd(v + j + 4), x3 = _mm_loadu_pd(v + j + 6);
        u0 = _mm_or_pd(u0, _mm_cmpunord_pd(x0, x1));
        u1 = _mm_or_pd(u1, _mm_cmpunord_pd(x2, x3));
    }
    if (_mm_movemask_pd(_mm_or_pd(u0, u1)) != 0) return true;
#endif
    for (; j < n; ++j)
        if (std::isnan(v[j])) return true;
    return false;
}

void check_values(const sediment_record &r, int cells) {
    // One pass over the three blocks finds whether any value is not a number;
    // only then are the cells looked at one by one.
    bool any = false;
    for (const array_2d<double> *a : {&r.suspended, &r.eroded, &r.deposited})
        if (!a->empty()) any = any || holds_nan(a->data(), (a->rows() + 1) * (a->cols() + 1));
    if (!any) return;
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

// The first formula's per-cell weights sum_k f_k g_k dx dt (g_k the class's
// grade_coefficient) for dx and dt: one of the two sets kept, formed when
// neither was formed with this dx and dt; nullptr when memory runs out.
const double *transport_weights(sediment_record &r, int n, double dt, double dx) {
    for (int set = 0; set < 2; ++set)
        if (covers(r.transport_weight[set], n) && r.weight_dx[set] == dx && r.weight_dt[set] == dt)
            return r.transport_weight[set].data();
    const int set = r.weight_next;
    if (!make_work(r.transport_weight[set], n) || !make_work(r.grade_coefficient, r.class_count))
        return nullptr;
    const int nc = r.class_count;
    double *grade = r.grade_coefficient.data();
    for (int k = 1; k <= nc; ++k) grade[k] = grade_coefficient(r.classes[at(k)]) * dx * dt;
    double *weight = r.transport_weight[set].data();
    for (int i = 1; i <= n; ++i) {
        const double *fraction = r.fraction[at(i)].data();
        double w = 0.0;
        for (int k = 1; k <= nc; ++k)
            if (grade[k] != 0.0) w += fraction[k] * grade[k];
        weight[i] = w;
    }
    r.weight_dx[set] = dx;
    r.weight_dt[set] = dt;
    r.weight_next = 1 - set;
    return weight;
}

// The roots and reciprocals of the step that depend on the water alone (see
// transport_step): their arguments formed cell by cell, then the roots and
// reciprocals two at a time, apart from the sweep's chain of carries.
void water_terms(const model_state &st, double per_dx, double *roots, double *per_hq) {
    const int n = st.cell_count;
    const double *depth = st.depth.data(), *sx0 = st.x_slope.data(), *sy0 = st.y_slope.data();
    const double *qxs = st.discharge_x.data(), *qys = st.discharge_y.data();
    const int *right = st.right.data(), *down = st.down.data();
    // h |S| and h |q| of the face to neighbour j with slope S and flow q (positive
    // towards j); h is the depth of the upstream cell.
    auto face = [&](int i, int j, double S, double q, double *root_arg, double *hq) {
        const double hs = depth[q < 0.0 ? j : i];
        *root_arg = j > 0 ? hs * std::fabs(S) : 0.0;
        *hq = j > 0 ? hs * std::fabs(q) : 1.0;
    };
    for (int i = 1; i <= n; ++i) {
        const double h = depth[i];
        const int jx = right[i], jy = down[i];
        // The slopes of the faces (ground plus the fall of the water depth): the
        // same expressions as transport_face's and flow detachment's.
        const double sx = jx > 0 ? sx0[i] - (depth[jx] - h) * per_dx + 1e-20 : 0.0;
        const double sy = jy > 0 ? sy0[i] - (depth[jy] - h) * per_dx + 1e-20 : 0.0;
        double *rt = roots + 3 * at(i), *hq = per_hq + 2 * at(i);
        face(i, jx, sx, qxs[i], rt, hq);
        face(i, jy, sy, qys[i], rt + 1, hq + 1);
        rt[2] = sx * sx + sy * sy;
    }
    roots_and_reciprocals(roots + 3, 3 * at(n), per_hq + 2, 2 * at(n));
}

// The step's moves into each class's ledger.
void post_overland_step(model_state &st) {
    const sediment_record &r = st.sediment;
    using n = ledger_node;
    for (int k = 1; k <= r.class_count; ++k) {
        const std::size_t c = at(k);
        post_sediment(st, k, n::loose_soil, n::surface, r.step_detached[c] + r.step_lifted[c]);
        post_sediment(st, k, n::surface, n::loose_soil, r.step_settled[c]);
        post_sediment(st, k, n::surface, n::outlet, r.step_out_suspended[c]);
        post_sediment(st, k, n::loose_soil, n::outlet, r.step_out_loose[c]);
    }
}

bool erosion_work_ready(model_state &st) {
    sediment_record &r = st.sediment;
    const int n = st.cell_count, nc = r.class_count;
    if (!make_work(r.x_capacity, n) || !make_work(r.y_capacity, n) ||
        !make_work(r.face_roots, 3 * n + 2) || !make_work(r.face_reciprocals, 2 * n + 1))
        return false;
    for (array_1d<double> *a : {&r.step_detached, &r.step_lifted, &r.step_settled, &r.step_out_suspended,
                                &r.step_out_loose}) {
        if (!make_work(*a, nc)) return false;
        for (int k = 0; k <= nc; ++k) (*a)[at(k)] = 0.0;
    }
    if (covers(r.settling_velocity, nc) && covers(r.grade_coefficient, nc)) return true;
    if (!make_work(r.settling_velocity, nc) || !make_work(r.grade_coefficient, nc)) return false;
    for (int k = 1; k <= nc; ++k) {
        const double d = r.classes[at(k)].diameter / 1000.0;
        r.settling_velocity[at(k)] = grain_fall_velocity(d, 16.1865, r.viscosity > 0.0 ? r.viscosity : 1e-6);
    }
    return true;
}

}  // namespace

// Van Rijn's fall velocity of natural sand grains (Van Rijn 1984, Sediment
// transport part II, J. Hydraulic Engineering 110(11)): Stokes' law up to 0.1 mm,
// Zanke's form 10 nu / d (sqrt(1 + 0.01 D*^3) - 1) from 0.1 to 1 mm, with
// D*^3 = (G - 1) g d^3 / nu^2, and 1.1 sqrt((G - 1) g d) above 1 mm.
double grain_fall_velocity(double d, double submerged_g, double nu) {
    if (!(d > 0.0) || !(nu > 0.0) || !(submerged_g > 0.0)) return 0.0;
    if (d <= 0.0001) return submerged_g * d * d / (18.0 * nu);
    if (d > 0.001) return 1.1 * std::sqrt(submerged_g * d);
    const double dstar3 = submerged_g * d * d * d / (nu * nu);
    return 10.0 * nu / d * (std::sqrt(1.0 + 0.01 * dstar3) - 1.0);
}

void splash_coefficients(double i, double &alpha, double &beta) {
    if (i < 10.0) {
        alpha = 2.69e-8;
        beta = 1.6896;
    } else if (i < 50.0) {
        alpha = 3.75e-8;
        beta = 1.5545;
    } else if (i < 100.0) {
        alpha = 6.12e-8;
        beta = 1.4242;
    } else {
        alpha = 1.175e-7;
        beta = 1.2821;
    }
}

namespace {

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

// Flow detachment (see flow_detachment) with volume = dt dx^2 / 2645.23.
double detach_by_flow(sediment_record &r, int cell, double h, double S, double A, double B,
                      double volume) {
    if (!(h > 0.0) || !(S > 0.0)) return 0.0;
    return detach(r, cell, A * power_of(unit_weight_water * h * S, B) * volume, true);
}

}  // namespace

double splash_damping(double i, double h) { return damping(0.00124 * std::pow(i, 0.182), h); }

double overland_transport_capacity(int method, const sediment_record &r, int cell, double S,
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
        const row_ref<const double> fraction = r.fraction[at(cell)];
        double weight = 0.0;
        for (int k = 1; k <= r.class_count; ++k) {
            const double g = grade_coefficient(r.classes[at(k)]);
            if (g != 0.0) weight += fraction[at(k)] * g;
        }
        return V * V * pow_three_halves(h * std::fabs(S)) * weight * dx * dt;
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

double rain_splash_detachment(sediment_record &r, int cell, double i, double h, double splash_coeff,
                              double dt, double dx) {
    if (!(i > 0.0)) return 0.0;
    return splash_detachment(r, cell, powers_of(i), h, splash_coeff, dt, dx);
}

double flow_detachment(sediment_record &r, int cell, double h, double S, double A, double B,
                       double /*critical*/, double dt, double dx) {
    return detach_by_flow(r, cell, h, S, A, B, dt * dx * dx / sediment_density);
}

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
    const double *weight = method == 1 ? transport_weights(r, n, dt, dx) : nullptr;
    if (method == 1 && !weight) return;

    const double *depth = st.depth.data(), *qxs = st.discharge_x.data(), *qys = st.discharge_y.data();
    const double *sx0 = st.x_slope.data(), *sy0 = st.y_slope.data();
    const int *right = st.right.data(), *down = st.down.data();
    const double *rain_rate = covers(st.step_rain_rate, n) ? st.step_rain_rate.data() : nullptr;
    const double *splash = covers(r.splash_coeff, n) ? r.splash_coeff.data() : nullptr;
    const double *detach_coeff = covers(r.detachment_coeff, n) ? r.detachment_coeff.data() : nullptr;
    const double *shear_exp = covers(r.shear_exponent, n) ? r.shear_exponent.data() : nullptr;
    auto positive = [](const double *a, int i, double fallback) {
        return a && a[i] > 0.0 ? a[i] : fallback;
    };
    const double per_dx = 1.0 / dx, volume = dt * dx * dx / sediment_density;
    const transport_step ts{r,
                            depth,
                            r.transport_coeff.data(),
                            r.transport_exponent.data(),
                            r.critical_stream_power.data(),
                            r.transport_factor.data(),
                            r.settling_velocity.data(),
                            weight,
                            r.face_roots.data(),
                            r.face_reciprocals.data(),
                            r.step_settled.data(),
                            dt,
                            dx,
                            per_dx,
                            dx * dx,
                            method,
                            nc,
                            st.step_number};
    double *x_capacity = r.x_capacity.data(), *y_capacity = r.y_capacity.data();
    const double *roots = r.face_roots.data();
    water_terms(st, per_dx, r.face_roots.data(), r.face_reciprocals.data());

    // The sweep over the cells with NC soil classes (0: any number).
    auto sweep = [&]<int NC>(std::integral_constant<int, NC>) {
        splash_powers powers;  // of the last rate met; uniform rain forms them once
        auto detach_cell = [&](int i) {
            const double h = depth[i];
            const double rain = rain_rate ? rain_rate[i] : 0.0;
            if (rain > 0.0) {
                if (rain != powers.rain) powers = powers_of(rain);
                splash_detachment(r, i, powers, h, positive(splash, i, 60.0), dt, dx);
            }
            // Flow detachment where water flows (the slopes only there).
            const double qx = qxs[i], qy = qys[i];
            if (!(qx * qx + qy * qy > 0.0 && h > 0.0)) return;
            // The slope (the root of sx^2 + sy^2) is positive where its square is,
            // and h > 0 here: the volume of detach_by_flow without its tests.
            if (roots[3 * i + 2] > 0.0)
                detach<NC>(r, i,
                           positive(detach_coeff, i, 2e-5) *
                               power_of(unit_weight_water * h * roots[3 * i + 2],
                                        positive(shear_exp, i, 1.0)) *
                               volume,
                           true);
        };
        // Transport and settling, x then y, cell by cell. Every cell is detached,
        // in cell order, just before the first face that reaches it: the same soil
        // as detaching all cells first, with the independent work of detachment
        // beside the chain of the transport from cell to cell.
        int detached = 0;  // cells 1..detached are detached
        for (int i = 1; i <= n; ++i) {
            const int reach = std::min(std::max({i, right[i], down[i]}), n);
            while (detached < reach) detach_cell(++detached);
            if (!r.ov_qsmax.empty())
                for (std::size_t k = 0; k <= r.ov_qsmax.cols(); ++k) r.ov_qsmax[at(i)][k] = 0.0;
            if (right[i] > 0) transport_face<true, NC>(ts, i, right[i], qxs[i], sx0[i], x_capacity);
            if (down[i] > 0) transport_face<false, NC>(ts, i, down[i], qys[i], sy0[i], y_capacity);
        }
    };
    // Two and three classes are the common cases; their class loops unroll.
    switch (nc) {
    case 1: sweep(std::integral_constant<int, 1>{}); break;
    case 2: sweep(std::integral_constant<int, 2>{}); break;
    case 3: sweep(std::integral_constant<int, 3>{}); break;
    default: sweep(std::integral_constant<int, 0>{}); break;
    }
    outlet_sediment(st, method, dt, dx);
    post_overland_step(st);

    if (!r.ov_qsmax.empty() || !r.ov_qsvol.empty() || !r.ov_qsconc.empty()) write_outputs(r, n);
    check_values(r, n);
}
