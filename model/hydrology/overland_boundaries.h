// The grid that the overland schemes route over (a view of the run state's
// per-cell arrays), and the overland boundary cells and embankment weirs that
// step_overland_flow and both overland schemes apply around the routing.
#pragma once

#include <cstddef>

#include "model/core/arrays.h"

struct model_state;
struct lowspot_record;
struct wetland_record;
struct lake_record;
struct overland_step_record;

// Per-cell data of one overland routing call. Arrays are 1-based over the cells
// 1..cells (entry 0 unused and zero); optional parts are empty views when their
// switch is off. Built from the run state by overland_grid_of; tests may fill
// one directly.
struct overland_grid {
    int cells = 0;               // N
    double dx = 0.0;             // cell size (m)
    row_ref<double> h{nullptr, 0};       // depth (m)
    row_ref<double> dh{nullptr, 0};      // depth change of one sweep pair (m)
    row_ref<const double> z{nullptr, 0}; // ground elevation (m)
    row_ref<const double> r{nullptr, 0}; // retention depth (m); empty when uniform
    double r_uniform = 0.0;              // the retention depth of every cell when r is empty
    row_ref<const double> n{nullptr, 0}; // Manning roughness; empty when uniform
    double n_uniform = 0.0;              // the roughness of every cell when n is empty
    row_ref<const double> sx{nullptr, 0}, sy{nullptr, 0};  // bed slopes to the right and down
    row_ref<double> qx{nullptr, 0}, qy{nullptr, 0};        // discharge across the right and down faces
    row_ref<const int> right{nullptr, 0}, down{nullptr, 0};
    row_ref<const int> left{nullptr, 0}, up{nullptr, 0};
    const array_2d<int> *cell_grid = nullptr;  // cell number of each grid position

    int outlet = 0;              // outlet cell (0: none)
    double outlet_slope = 0.0;   // OUTSLOPE
    int channel_explicit = 0;    // explicit channel routing takes the outlet

    int dikes_on = 0;
    row_ref<const int> dike{nullptr, 0};   // per cell: bits 1 top, 2 right, 4 bottom, 8 left

    int weirs_on = 0;
    int weir_count = 0;
    lowspot_record *weirs = nullptr;       // records 1..weir_count

    int lakes_on = 0;
    row_ref<const int> lake_id{nullptr, 0};  // per cell: overland lake number, 0 outside
    lake_record *lakes = nullptr;            // records 1..lake_count
    int lake_count = 0;

    int stream_on = 0;                       // stream-cell coupling with the channels
    int stream_count = 0;
    row_ref<const int> stream_id{nullptr, 0};        // per cell: stream-cell number, 0 on land
    row_ref<const double> stream_level{nullptr, 0};  // per stream cell: water surface (m)
    row_ref<double> stream_net{nullptr, 0}, stream_in{nullptr, 0}, stream_out{nullptr, 0};

    int wetlands_on = 0;
    row_ref<const int> wetland_id{nullptr, 0};
    const wetland_record *wetlands = nullptr;  // records 0..largest id
    std::size_t wetland_last = 0;              // largest valid wetland index

    int quiet = 0;                           // QUIET card: no step-control messages
    double *negative_depth_volume = nullptr; // water added by lifting depths to zero (m3)
    overland_step_record *steps = nullptr;   // the run's record of the step control
};

// Level-gap limit of the faces. Where the friction slope goes to zero the
// diffusive wave's diffusivity q / (2 Sf) grows without bound, and an explicit
// face that moves more than a quarter of its level gap in a (sub-)step overshoots
// (its diffusion number q dt / (2 Sf dx^2) passes 1/8): a still pool would slosh
// instead of levelling. Water is standing where its surface drop `gap` across a
// face is not beyond half the ground drop plus standing_tolerance plus a
// twentieth of the deeper cell's depth `depth` (a pool over sloping ground, deep
// water on flat ground, water at rest): such a face is held to that
// quarter (counted for the summary), which levels a pool without holding back
// flowing water. Any other face carries flowing water: the step control shortens
// the step until it keeps to its scheme's share of the gap (a flowing face next
// to the limit of stability alternates from step to step).
constexpr double standing_tolerance = 0.001;  // m
constexpr double standing_depth_share = 0.05;
constexpr double level_gap_share = 0.25;
inline bool standing_face(double gap, double ground_drop, double depth) {
    const double g = gap < 0.0 ? -gap : gap, d = ground_drop < 0.0 ? -ground_drop : ground_drop;
    const double flat = standing_depth_share * depth - d;  // deep water on ground flatter than that
    return g <= (0.5 * d + standing_tolerance) + (flat > 0.0 ? flat : 0.0);
}
// Books one routing call of `step` seconds that ran sub-steps of at least
// `shortest` seconds (the step itself when it was not divided).
void record_overland_call(overland_grid &g, double step, double shortest);

// Wetland values that the faces use, converted at reading.
struct wetland_face_values {
    double layer_depth = 0.0;      // m
    double seepage = 0.0;          // per s
    double transition_depth = 0.0; // m
    double vegetation = 0.0;       // per s
    double roughness = 0.0;        // Manning n
};
wetland_face_values wetland_values(const overland_grid &g, int wetland);

// Builds the view of the run state's overland arrays, allocating the discharges
// when they are still empty (the explicit scheme makes the depth changes of the
// variants that need them).
// False, with a message and code 4000, when an input array the schemes need is
// missing.
bool overland_grid_of(model_state &state, overland_grid &g);

// True when the cell belongs to an overland lake of the view.
inline bool is_lake_cell(const overland_grid &g, int cell) {
    return g.lakes_on && g.lake_id[static_cast<std::size_t>(cell)] > 0;
}
inline bool is_stream_cell(const overland_grid &g, int cell) {
    return g.stream_on && g.stream_id[static_cast<std::size_t>(cell)] > 0;
}
// Retention depth of a cell (m): the cell's own, or the one depth of every cell.
inline double retention_at(const overland_grid &g, int cell) {
    return g.r.data() ? g.r[static_cast<std::size_t>(cell)] : g.r_uniform;
}
// Manning roughness of a cell: the cell's own, or the one roughness of every cell.
inline double roughness_at(const overland_grid &g, int cell) {
    return g.n.data() ? g.n[static_cast<std::size_t>(cell)] : g.n_uniform;
}
// Water-surface elevation of a lake cell's lake.
double lake_level(const overland_grid &g, int cell);
// Adds a volume (m3, signed) to the accumulated inflow of a lake cell's lake.
void add_lake_inflow(overland_grid &g, int cell, double volume);

// Depth that a land cell gives in `step` seconds to a lake whose level stands
// above the cell's ground, `gap` metres below the cell's water surface, when the
// face carries explicit_depth = q step / dx at the start of the step. The face
// law q = K sqrt(gap), its depth held over the step, gives d gap / dt = -q / dx:
// sqrt(gap) falls linearly and the gap closes after 2 gap / explicit_depth steps.
// Integrated so, the cell's surface falls at the rate of the law to the lake's
// level and no further, whatever the step; a short step gives the explicit depth.
inline double depth_to_lake_level(double gap, double explicit_depth) {
    if (!(gap > 0.0) || !(explicit_depth > 0.0)) return 0.0;
    if (explicit_depth >= 2.0 * gap) return gap;
    return explicit_depth - explicit_depth * explicit_depth / (4.0 * gap);
}

// Passes water over the embankment weirs for dt seconds. A transfer is limited
// to the donor's water above the crest and to half the level difference, so a
// weir never drains a cell below the crest or reverses the levels. Each record's
// discharge (m3/s) is stored in its working value.
void weir_flux(overland_grid &g, double dt);

// Volumes moved by the overland boundary cells (m3).
struct boundary_totals {
    double free_outflow = 0.0;
    double fixed_head_inflow = 0.0;
    double fixed_head_outflow = 0.0;
};

// Type-3 boundary cells take their head from time series id 1 at time `now`
// (Julian days).
void update_boundary_heads(int cells, row_ref<const int> type, row_ref<double> value, double now);

// Applies the boundary cells for dt seconds: fixed heads (types 2 and 3) set the
// depth to the head above the ground, free-outflow cells (type 1) lose a Manning
// outflow across each side that has no neighbour. The step's volumes are added
// to `totals` once at the end.
void overland_boundary_flux(const overland_grid &g, row_ref<const int> type,
                            row_ref<const double> value, double dt, boundary_totals &totals);
