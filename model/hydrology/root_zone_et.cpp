// Evapotranspiration taken from ponded water and the one- or two-layer root zone
// of the redistribution scheme, with gravity drainage of the root zone into its
// bottom-flux store. Called by the evapotranspiration piece at its interval.
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/hydrology/evapotranspiration.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/cell_arrays.h"
#include "model/core/model_state.h"

namespace {

constexpr double tiny = 1e-16;

// Gravity drainage (cm) of dt seconds at moisture m.
double drainage(double m, double ks, double res, double phi, double pore_index, double dt) {
    const double se = (m - res) / (phi - res);
    return ks * std::pow(se, 2.0 + 3.0 / pore_index) * dt * 100.0;
}

}  // namespace

double et_stress_factor(bool deardorff, double w, double fc, double wp, double res) {
    double f = 0.0;
    if (deardorff) {
        if (w > res) f = fc > 0.0 ? w / fc : 1.0;
    } else if (w >= fc) {
        f = 1.0;
    } else if (w > wp) {
        f = (w - wp) / (fc - wp);
    }
    return f > 1.0 ? 1.0 : f;
}

void set_richards_et_demand(model_state &s) {
    const int n = s.cell_count;
    if (!ensure_cell_array(s.richards_et_rate, n) || !ensure_cell_array(s.richards_et_flag, n)) {
        print_allocation_failure("richards_et_rate");
        raise_printed_error();
        return;
    }
    const bool have_pet = s.long_term && !s.potential_et.empty();
    const bool have_snow = s.snow_flag && !s.snow_store.empty();
    for (int i = 1; i <= n; ++i) {
        const bool snow_lying = have_snow && !(s.snow_store[i] < tiny);
        const bool on = have_pet && !(s.rain_rate[i] > tiny) && !snow_lying &&
                        !lake_or_channel_cell(s, i);
        s.richards_et_flag[i] = on ? 1 : 0;
        s.richards_et_rate[i] = on ? s.potential_et[i] : 0.0;
    }
}

double soil_et_withdrawal(model_state &s, double dt) {
    const int n = s.cell_count;
    // The bottom flux is summed for the hourly lines of long-term runs only.
    if (!ensure_cell_array(s.ponded_evaporation, n) ||
        (s.long_term && !ensure_cell_array(s.root_zone_bottom_flux, n))) {
        print_allocation_failure("root_zone_bottom_flux");
        raise_printed_error();
        return 0.0;
    }
    const double top = s.top_layer_depth_cm;
    const bool deardorff = s.et_deardorff != 0;
    const bool have_pet = !s.potential_et.empty();
    const bool have_snow = !s.snow_store.empty();
    // Field capacity only where a table gave it (0 otherwise); the wilting point
    // is read only for a cell with a demand, so that a run without ET leaves it untouched.
    double *bottom_flux = s.root_zone_bottom_flux.empty() ? nullptr : s.root_zone_bottom_flux.data();
    // What leaves the root zone downward (cm; negative: what the soil below gives
    // up for the ET of a flagged cell) recharges the aquifer at its next step when
    // the groundwater model runs, and leaves the model as percolation otherwise.
    const bool to_aquifer = s.groundwater_on && !s.deep_percolation.empty() &&
                            s.deep_percolation.last() >= static_cast<std::size_t>(n);
    const double area = s.cell_size * s.cell_size;
    const double *field_capacity = s.soil_sixth.empty() ? nullptr : s.soil_sixth.data();
    double removed = 0.0;
    // cm summed over the cells: evaporated from the ponds and from the root zone,
    // and drained below the model (negative: drawn from below for the ET).
    double pond_evaporated = 0.0, soil_evaporated = 0.0, drained_out = 0.0;

    for (int i = 1; i <= n; ++i) {
        if (lake_or_channel_cell(s, i)) continue;
        const double depth = s.root_zone_depth[i];
        const bool two = depth > top;
        const double l1 = two ? top : depth, l2 = two ? depth - top : 0.0;
        const double phi = s.soil_porosity[i], res = s.soil_residual[i];
        const double fc = field_capacity ? field_capacity[i] : 0.0;
        const double win = s.step_infiltration_depth[i] * 100.0;
        double &wu = s.root_upper_water[i];
        double &wl = s.root_lower_water[i];
        double unsummed = 0.0;
        double &bottom = bottom_flux ? bottom_flux[i] : unsummed;
        const auto drain = [&](double cm) {
            bottom += cm;
            if (to_aquifer)
                s.deep_percolation[i] += cm;
            else
                drained_out += cm;
        };

        // Demand of the step, first from ponded water.
        double demand = 0.0;
        const bool snow_lying = s.snow_flag && have_snow && !(s.snow_store[i] < tiny);
        if (s.long_term && have_pet && s.rain_rate[i] <= tiny && !snow_lying) {
            const double e = s.potential_et[i] * dt;
            const double p = s.depth[i] * 100.0;
            if (p > 1e-14) {
                const double taken = e <= p ? e : p;
                s.depth[i] = e <= p ? s.depth[i] - e / 100.0 : 0.0;
                s.ponded_evaporation[i] += taken;
                pond_evaporated += taken;
                removed += taken / 100.0;
                demand = e - taken;
            } else {
                demand = e;
            }
        }

        // With soil-moisture accounting the infiltrated water and the soil's ET
        // belong to the Sacramento stores; the root zone keeps its water.
        if (s.sacramento_on) {
            s.step_infiltration_depth[i] = 0.0;
            continue;
        }

        double et1 = 0.0, et2 = 0.0;
        if (demand > tiny) {
            const double wp = s.wilting_point[i];
            double f1 = 1.0, f2 = two ? 1.0 : 0.0;
            if (!(depth < tiny)) {
                f1 = et_stress_factor(deardorff, wu, l1 * fc, l1 * wp, l1 * res);
                f2 = two ? et_stress_factor(deardorff, wl, l2 * fc, l2 * wp, l2 * res) : 0.0;
                if (two) {
                    f1 *= l1 / depth;
                    f2 *= l2 / depth;
                }
            }
            et1 = f1 * demand;
            et2 = f2 * demand;
            // Neither layer gives water below its residual moisture; the upper one
            // may use the step's infiltration. A reduction stops at no ET.
            const double x = l1 * res - (wu - et1);
            if (x > 0.0 && x > win) et1 = std::fmax(0.0, et1 - (x - win));
            const double y = l2 * res - (wl - et2);
            if (two && y > 0.0) et2 = std::fmax(0.0, et2 - y);
            removed += (et1 + et2) / 100.0;
            soil_evaporated += et1 + et2;
        }

        if (s.saturated_cell[i] == 1) {
            drain(-(et1 + et2));
            s.flagged_cell_et_total += (et1 + et2) / 100.0;
            continue;
        }
        if (depth < tiny) {
            s.saturated_cell[i] = 1;
            drain(-(et1 + et2));
            s.flagged_cell_et_total += (et1 + et2) / 100.0;
            drain(win);
        } else {
            const double ks = s.soil_ksat[i], lam = s.soil_pore_index[i];
            const double s1 = wu / l1;
            double d1 = 0.0;
            if (s1 >= phi)
                d1 = win;
            else if (s1 > fc)
                d1 = drainage(s1, ks, res, phi, lam, dt);
            double d2 = 0.0;
            if (two) {
                const double s2 = wl / l2;
                if (s2 >= phi)
                    d2 = d1;
                else if (s2 > fc)
                    d2 = drainage(s2, ks, res, phi, lam, dt);
            }
            // Storages kept between residual and saturation; the difference drains.
            wu = win + wu - d1 - et1;
            const double m1 = wu / l1;
            if (m1 > phi) {
                d1 += (m1 - phi) * l1;
                wu = l1 * phi;
            } else if (m1 < res) {
                d1 -= (res - m1) * l1;
                wu = l1 * res;
            }
            s.root_zone_water[i] = wu;
            if (two) {
                wl = d1 + wl - d2 - et2;
                const double m2 = wl / l2;
                if (m2 > phi) {
                    wl = l2 * phi;
                    d2 += (m2 - phi) * l2;
                } else if (m2 < res) {
                    d2 -= (res - m2) * l2;
                    wl = l2 * res;
                }
                s.root_zone_water[i] += wl;
            }
            drain(two ? d2 : d1);
        }
        s.root_zone_infiltration_total += win / 100.0;
        s.step_infiltration_depth[i] = 0.0;
    }
    water_ledger &w = s.water;
    w.move(ledger_node::surface, ledger_node::atmosphere, pond_evaporated / 100.0 * area);
    w.move(ledger_node::root_zone, ledger_node::atmosphere, soil_evaporated / 100.0 * area);
    w.move(ledger_node::root_zone, ledger_node::deep_aquifer, drained_out / 100.0 * area);
    return removed;
}
