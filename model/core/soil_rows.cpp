// Node counts of the soil column of a soil row, from its layer depths and node
// spacings; the soil readers size the Richards columns by them.
#include "model/core/soil_rows.h"

#include <algorithm>
#include <cmath>

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
