// The layout of a soil row (soil_layer_record) of the soil and Richards tables and
// the node counts of the column a row gives: what the soil readers size the
// columns by and what the infiltration and Richards set-up fill them from; and the
// layout of a column down to its water table, which the set-up and the groundwater
// coupling both make.
#pragma once

#include <array>

#include "model/core/model_state.h"

// Fields of a soil_layer_record row (layer L = 1, 2, 3): capillary head (cm) at
// L - 1, conductivity (cm/h) at 3 + L, porosity at 6 + L, initial moisture at
// 9 + L, layer depth (cm) at 21 + L (layers 1 and 2).
inline constexpr int layer_capillary_field = 0;
inline constexpr int layer_conductivity_field = 4;
inline constexpr int layer_porosity_field = 7;
inline constexpr int layer_moisture_field = 10;
inline constexpr int layer_depth_field = 22;
// Further fields of a Richards soil row (layer L): residual moisture at 18 + L,
// wilting point at 12 + L, field capacity at 15 + L (both forms), pore index at 24 + L, bubbling head (cm, negative) at 27 + L, the
// Havercamp A, B, scale head and exponent at 33 + L, 36 + L, 39 + L, 42 + L, the
// node spacing of the layer (cm) at 45 + L and the groundwater node spacing (m)
// at 49. Layer 3's depth is at 24.
inline constexpr int richards_residual_field = 19;
inline constexpr int richards_wilting_field = 13;
inline constexpr int richards_capacity_field = 16;
inline constexpr int richards_lambda_field = 25;
inline constexpr int richards_bubbling_field = 28;
inline constexpr int havercamp_a_field = 34;
inline constexpr int havercamp_b_field = 37;
inline constexpr int havercamp_alpha_field = 40;
inline constexpr int havercamp_beta_field = 43;
inline constexpr int richards_spacing_field = 46;
inline constexpr int richards_gw_spacing_field = 49;

// Nodes of each layer of a Richards soil row: the layer depth over its node
// spacing, rounded, at least 1 for a layer with depth and spacing; index 1..3.
std::array<int, 4> richards_layer_node_counts(const soil_layer_record &row);
// Nodes of the column of a row: the layers' nodes and one bottom node.
int richards_column_nodes(const soil_layer_record &row);

// Lays cell `cell`'s column down to its water table (the node layout only) and
// returns the node count n: nodes 1..n-1 fill the soil from the surface to the
// table at each layer's spacing, node n (the bottom node, of its layer's
// spacing) has its centre at the table. 0 when the water table is at or above
// the ground (one saturated node, no-column flag).
int lay_column_to_table(model_state &state, int cell);
// Heads of a column laid to its water table: nodes from `from` on take the
// hydrostatic head (water table - node centre) x 100 (cm) and its moisture,
// the bottom node head 0.
void hydrostatic_nodes(model_state &state, int cell, int from, int form);
