// Node counts of the soil column of a soil row, from its layer depths and node
// spacings (the soil readers size the Richards columns by them), and a column laid
// down to its water table with hydrostatic heads.
#include "model/core/soil_rows.h"

#include <algorithm>
#include <cmath>

#include "model/core/soil_hydraulics.h"

std::array<int, 4> richards_layer_node_counts(const soil_layer_record &row) {
    std::array<int, 4> counts{};
    for (int layer = 1; layer <= 3; ++layer) {
        const double depth = row.values[layer_depth_field + layer - 1];
        const double dz = row.values[richards_spacing_field + layer - 1];
        if (depth > 0.0 && dz > 0.0)
            counts[layer] = std::max(1, static_cast<int>(std::lround(depth / dz)));
    }
    return counts;
}

int richards_column_nodes(const soil_layer_record &row) {
    const std::array<int, 4> counts = richards_layer_node_counts(row);
    const int layers = counts[1] + counts[2] + counts[3];
    return layers > 0 ? layers + 1 : 0;
}

void hydrostatic_nodes(model_state &s, int i, int from, int form) {
    const int n = s.richards_cell_nodes[i];
    const double depth = (s.elevation[i] - s.water_table_elevation[i]) * 100.0;
    double centre = 0.0;
    for (int j = 1; j <= n; ++j) {
        const double dz = s.richards_dz[i][j];
        centre += j == n ? 0.0 : 0.5 * dz;
        if (j >= from || j == n) {
            s.richards_head[i][j] = j == n ? 0.0 : -(depth - centre);
            moisture_from_head(s, i, j, form);
        }
        centre += j == n ? 0.0 : 0.5 * dz;
    }
}

int lay_column_to_table(model_state &s, int i) {
    const soil_layer_record &row = s.soil_layers[static_cast<std::size_t>(s.soil_index[i])];
    const auto &v = row.values;
    const double ground = s.elevation[i], table = s.water_table_elevation[i];
    const bool flag_saturated = !s.saturated_cell.empty();
    if (table >= ground) {
        const double dz = v[richards_spacing_field];
        s.richards_cell_nodes[i] = 1;
        s.richards_dz[i][1] = dz;
        s.richards_head[i][1] = 0.5 * dz + (table - ground) * 100.0;
        s.richards_theta[i][1] = s.richards_theta_s[i][1];
        if (!s.richards_no_column.empty()) s.richards_no_column[i] = 1;
        if (flag_saturated) s.saturated_cell[i] = 1;
        return 0;
    }
    // Nodes 1..n-1 fill the soil from the surface to the water table at each
    // layer's spacing; node n, the bottom node, has its centre at the table.
    const std::array<int, 4> counts = richards_layer_node_counts(row);
    const int most = std::max(2, std::min(richards_column_nodes(row),
                                          static_cast<int>(s.richards_head.cols())));
    const double depth = (ground - table) * 100.0;
    const auto spacing_of = [&](int node) {
        const int layer = node <= counts[1] ? 1 : (node <= counts[1] + counts[2] ? 2 : 3);
        return v[richards_spacing_field + layer - 1];
    };
    double top = 0.0;
    int n = 0;
    while (top < depth && n < most - 1) {
        ++n;
        const double spacing = spacing_of(n);
        double dz = spacing;
        if (top + dz >= depth || n == most - 1) dz = depth - top;
        if (dz < spacing / 10000.0 && n > 1) {
            --n;  // too thin: merged with the node above
            s.richards_dz[i][n] += dz;
            top = depth;
            break;
        }
        s.richards_dz[i][n] = dz;
        top += dz;
    }
    ++n;
    s.richards_dz[i][n] = spacing_of(n);
    s.richards_cell_nodes[i] = n;
    if (!s.richards_no_column.empty()) s.richards_no_column[i] = 0;
    if (flag_saturated) s.saturated_cell[i] = 0;
    return n;
}
