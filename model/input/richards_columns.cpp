// The start state of the Richards columns from the soil rows: every node's soil
// values, heads from the initial moisture, the interface conductivities at the
// layer boundaries, the column laid to the water table where there is one, and the
// initial water of the root zone and the column, printed into the summary file.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "model/core/model_state.h"
#include "model/core/soil_hydraulics.h"
#include "model/core/soil_rows.h"
#include "model/input/soil_inputs.h"

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
