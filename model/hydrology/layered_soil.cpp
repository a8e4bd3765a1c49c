// Layered Green and Ampt infiltration (three layers, centimetres and hours), run by
// the infiltration piece.
#include "model/hydrology/layered_soil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/hydrology/richards.h"
#include "model/core/soil_hydraulics.h"

namespace {

constexpr double dry_depth = 1e-10;        // m
constexpr double residual_limit = 0.0001;  // cm
constexpr int newton_cap = 100;
constexpr int bracket_cap = 200;

// Deficit of layer L (1..3): porosity - initial moisture, or 0.01 porosity when
// that is not positive.
double layer_deficit(const soil_layer_record &row, int layer) {
    const double phi = row.values[layer_porosity_field + layer - 1];
    const double d = phi - row.values[layer_moisture_field + layer - 1];
    return d > 0.0 ? d : 0.01 * phi;
}

// Resistance L / K of a layer thickness; an impermeable layer (K <= 0) blocks.
double resistance(double thickness, double k) {
    return k > 0.0 ? thickness / k : HUGE_VAL;
}

// x - F - S ln((x + S) / (F + S)) - K t, the negative of the residual.
double excess(double x, double f_cm, double s_cm, double kt) {
    return x - f_cm - s_cm * std::log((x + s_cm) / (f_cm + s_cm)) - kt;
}

}  // namespace

layered_front layered_front_parameters(const soil_layer_record &row, double f_cm) {
    const auto &v = row.values;
    const double l1 = v[layer_depth_field], l2 = v[layer_depth_field + 1];
    const double k1 = v[layer_conductivity_field], k2 = v[layer_conductivity_field + 1];
    const double k3 = v[layer_conductivity_field + 2];
    const double d1 = layer_deficit(row, 1), d2 = layer_deficit(row, 2);
    const double d3 = layer_deficit(row, 3);
    const double fill1 = l1 * d1, fill2 = l2 * d2;
    layered_front front;
    if (f_cm <= fill1) {
        front.conductivity = std::max(k1, 0.0);
        front.suction = v[layer_capillary_field];
        front.deficit = d1;
        front.layer = 1;
    } else if (f_cm <= fill1 + fill2) {
        const double z2 = (f_cm - fill1) / d2;
        const double r = resistance(l1, k1) + resistance(z2, k2);
        front.conductivity = std::isfinite(r) && r > 0.0 ? (l1 + z2) / r : 0.0;
        front.suction = v[layer_capillary_field + 1];
        front.deficit = d2;
        front.layer = 2;
    } else {
        const double z3 = (f_cm - fill1 - fill2) / d3;
        const double r = resistance(l1, k1) + resistance(l2, k2) + resistance(z3, k3);
        front.conductivity = std::isfinite(r) && r > 0.0 ? (l1 + l2 + z3) / r : 0.0;
        front.suction = v[layer_capillary_field + 2];
        front.deficit = d3;
        front.layer = 3;
    }
    return front;
}

bool layered_green_ampt_depth(double f_cm, double s_cm, double k, double t, double &x) {
    x = f_cm;
    const double kt = k * t;
    if (!(kt > 0.0)) return true;
    if (!(s_cm > 0.0)) {  // no suction: the front advances at K
        x = f_cm + kt;
        return true;
    }
    // Bracket: the excess is -K t at F and grows without bound.
    double lo = f_cm, hi = f_cm + std::max(kt, 0.1);
    int widen = 0;
    while (excess(hi, f_cm, s_cm, kt) < 0.0) {
        if (++widen > bracket_cap) return false;
        hi = f_cm + 2.0 * (hi - f_cm);
    }
    x = std::min(f_cm + 0.1, hi);
    for (int it = 0; it < newton_cap; ++it) {
        const double g = excess(x, f_cm, s_cm, kt);
        const double residual = -g;
        if (std::fabs(residual) < residual_limit) return true;
        if (g < 0.0) lo = x;
        else hi = x;
        // Newton: x <- x - R / (S / (x + S) - 1), with R the residual.
        const double slope = s_cm / (x + s_cm) - 1.0;
        double next = slope != 0.0 ? x - residual / slope : lo - 1.0;
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        x = next;
    }
    return std::fabs(excess(x, f_cm, s_cm, kt)) < residual_limit;
}

void infiltrate_layered_soil(model_state &s, double dt) {
    if (!(dt > 0.0)) return;
    const double t = dt / 3600.0;
    // The rate (cm/h) is kept only for its map output.
    double *rate = s.infiltration_rate.empty() ? nullptr : s.infiltration_rate.data();
    for (int i = 1; i <= s.cell_count; ++i) {
        double &h = s.depth[i];
        if (h < dry_depth) {
            if (rate) rate[i] = 0.0;
            continue;
        }
        const int soil = s.soil_index[i];
        if (soil < 1 || soil >= soil_layer_rows) {
            std::printf("soil index %d of grid cell %d is outside the soil table\n", soil, i);
            raise_printed_error();
            return;
        }
        const soil_layer_record &row = s.soil_layers[static_cast<std::size_t>(soil)];
        const double f_cm = s.cumulative_infiltration[i] * 100.0;
        const double h_cm = h * 100.0;
        const layered_front front = layered_front_parameters(row, f_cm);
        double x = f_cm;
        if (!layered_green_ampt_depth(f_cm, front.suction * front.deficit, front.conductivity,
                                      t, x)) {
            std::printf("layered Green and Ampt iteration did not converge, grid cell %d\n", i);
            raise_printed_error();
            return;
        }
        // The step takes x - F from the ponded water, or all of it when less is there.
        double taken = x - f_cm;
        if (taken >= h_cm) {
            taken = h_cm;
            h = 0.0;
        } else {
            h = (h_cm - taken) / 100.0;
        }
        s.cumulative_infiltration[i] = (f_cm + taken) / 100.0;
        if (rate) rate[i] = taken / t;
    }
}

