// Layered Green and Ampt infiltration (three layers, centimetres and hours), run by
// the infiltration piece; the Havercamp functions of one soil column and the
// initial soil water of the Richards columns, run by the Richards soil set-up.
#include "model/hydrology/layered_soil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/hydrology/richards.h"
#include "model/hydrology/soil_hydraulics.h"

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

void havercamp_column(const double *head, double *kr, double *theta, double *capacity,
                      const double *theta_s, const double *theta_r, const double *hb,
                      const double *n, const double *a, const double *b, int nodes) {
    for (int j = 1; j <= nodes; ++j) {
        if (head[j] >= 0.0) {
            kr[j] = 1.0;
            capacity[j] = 0.0;
            theta[j] = theta_s[j];
            continue;
        }
        const double suction = std::fabs(head[j]);
        const double ab = a[j] + std::pow(suction, b[j]);
        kr[j] = ab > 0.0 ? a[j] / ab : 0.0;
        if (hb[j] > 0.0) {
            const double x = suction / hb[j];
            const double xn = std::pow(x, n[j]);
            capacity[j] = n[j] * (theta_s[j] - theta_r[j]) * std::pow(x, n[j] - 1.0) /
                          (hb[j] * (xn + 1.0) * (xn + 1.0));
        } else {
            capacity[j] = 0.0;
        }
    }
    if (nodes >= 1) {
        kr[0] = kr[1];
        capacity[0] = capacity[1];
    }
}

void soil_column_helper(model_state &s, int i) {
    const int nodes = s.richards_cell_nodes.empty() ? s.richards_node_count
                                                    : s.richards_cell_nodes[i];
    havercamp_column(s.richards_head[i].data(), s.richards_kr[i].data(),
                     s.richards_theta[i].data(), s.richards_capacity[i].data(),
                     s.richards_theta_s[i].data(), s.richards_theta_r[i].data(),
                     s.havercamp_alpha[i].data(), s.havercamp_beta[i].data(),
                     s.havercamp_a[i].data(), s.havercamp_b[i].data(), nodes);
}

namespace {

// Layer (1..3) of node j for the layer node counts.
int node_layer(const std::array<int, 4> &counts, int j) {
    if (j <= counts[1]) return 1;
    if (j <= counts[1] + counts[2]) return 2;
    return 3;
}

// Thickness-weighted harmonic mean conductivity of two adjacent nodes.
double interface_conductivity(double dz1, double k1, double dz2, double k2) {
    if (!(k1 > 0.0) || !(k2 > 0.0)) return 0.0;
    return (dz1 + dz2) / (dz1 / k1 + dz2 / k2);
}

// Layer values of row into node j of cell i.
void set_node_from_layer(model_state &s, int i, int j, const soil_layer_record &row, int layer,
                         int form) {
    const auto &v = row.values;
    const int l = layer - 1;
    s.richards_ks[i][j] = v[layer_conductivity_field + l];
    s.richards_theta_s[i][j] = v[layer_porosity_field + l];
    s.richards_theta_r[i][j] = v[richards_residual_field + l];
    s.richards_theta[i][j] = v[layer_moisture_field + l];
    s.richards_dz[i][j] = v[richards_spacing_field + l];
    s.richards_theta_wp[i][j] = v[richards_wilting_field + l];
    s.richards_theta_fc[i][j] = v[richards_capacity_field + l];
    if (form == curve_havercamp) {
        s.havercamp_a[i][j] = v[havercamp_a_field + l];
        s.havercamp_b[i][j] = v[havercamp_b_field + l];
        s.havercamp_alpha[i][j] = v[havercamp_alpha_field + l];
        s.havercamp_beta[i][j] = v[havercamp_beta_field + l];
    } else {
        const double lambda = v[richards_lambda_field + l];
        const double hb = -std::fabs(v[richards_bubbling_field + l]);
        s.richards_lambda[i][j] = lambda;
        s.richards_bubbling[i][j] = hb;
        s.richards_junction_theta[i][j] = junction_moisture(s.richards_theta_s[i][j], lambda);
        s.richards_junction_head[i][j] = junction_head(hb, lambda);
    }
}

}  // namespace

void initial_soil_water(model_state &s) {
    const int form = s.richards_c_option == curve_havercamp ? curve_havercamp : curve_brooks_corey;
    const bool water_table = s.water_table_on && !s.water_table_elevation.empty();
    double root_total = 0.0, column_total = 0.0;
    const int columns = static_cast<int>(s.richards_head.cols());
    for (int i = 1; i <= s.cell_count; ++i) {
        const soil_layer_record &row = s.soil_layers[static_cast<std::size_t>(s.soil_index[i])];
        const auto &v = row.values;
        const std::array<int, 4> counts = richards_layer_node_counts(row);
        int nodes = std::min(richards_column_nodes(row), columns);
        const double l1 = v[layer_depth_field], l2 = v[layer_depth_field + 1];
        const double l3 = v[layer_depth_field + 2];
        const double depth = l1 + l2 + l3;
        s.richards_mean_ks[i] = depth > 0.0 ? (l1 * v[layer_conductivity_field] +
                                               l2 * v[layer_conductivity_field + 1] +
                                               l3 * v[layer_conductivity_field + 2]) /
                                                  depth
                                            : 0.0;
        for (int j = 0; j <= nodes; ++j) {
            set_node_from_layer(s, i, j, row, j == 0 ? 1 : node_layer(counts, j), form);
            head_from_moisture(s, i, j, form);
        }
        // Interface conductivities at the two layer boundaries.
        for (int boundary : {counts[1] + 1, counts[1] + counts[2] + 1}) {
            if (boundary < 2 || boundary > nodes) continue;
            const int above = boundary - 1;
            s.richards_ks[i][boundary] =
                interface_conductivity(s.richards_dz[i][above], s.richards_ks[i][above],
                                       s.richards_dz[i][boundary], s.richards_ks[i][boundary]);
        }
        s.richards_cell_nodes[i] = nodes;
        if (water_table && nodes >= 1) {
            // The column ends at the water table, in hydrostatic equilibrium with it.
            const int laid = lay_column_to_table(s, i);
            if (laid > 0) hydrostatic_nodes(s, i, 1, form);
            nodes = std::max(laid, 1);
        }
        s.richards_cell_nodes[i] = nodes;
        if (form == curve_havercamp)
            soil_column_helper(s, i);
        else
            soil_hydraulic_properties(s, i);

        // Root zone: the nodes down to the root depth, the node that crosses it included.
        const double root_cm = s.richards_column_depth.empty() ? 0.0
                                                               : s.richards_column_depth[i] * 100.0;
        double water = 0.0, thickness = 0.0;
        for (int j = 1; j <= nodes && thickness < root_cm; ++j) {
            water += s.richards_theta[i][j] * s.richards_dz[i][j];
            thickness += s.richards_dz[i][j];
        }
        s.root_zone_moisture[i] = thickness > 0.0 ? std::max(0.0, water / thickness) : 0.0;
        root_total += std::max(0.0, water);
        for (int j = 1; j < nodes; ++j)
            column_total += s.richards_theta[i][j] * s.richards_dz[i][j];
    }
    s.richards_root_zone_total = root_total;
    s.richards_column_total = column_total;
    const double area = s.cell_size * s.cell_size;
    if (s.summary_file) {
        std::fprintf(s.summary_file, "Inital volume of water in root zone= %lf \n \n",
                     root_total * area / 100.0);
        std::fprintf(s.summary_file, "Inital volume of water in soil column= %lf \n \n",
                     column_total * area / 100.0);
    }
}
