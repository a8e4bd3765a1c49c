// The routing pieces of a turn (step_overland_flow, step_overland_constituents,
// step_superlink_coupling, update_overland_lakes, step_channel_routing; declared
// in hydrology_services.h) and the helpers they share; the groundwater piece has
// its own file (groundwater_coupling.cpp). run_model calls the pieces through its
// table of pieces.
#pragma once

struct model_state;

// Every overland scheme is called through this signature: one call routes the
// grid for dt seconds and returns the outlet discharge (m3/s).
using overland_route_fn = double (*)(model_state &, double dt);

// The scheme of an OVERTYPE code: 1 explicit, 3 ADE predictor-corrector, every
// other code (0 when the card is absent, 2 "ade") the ADE scheme.
overland_route_fn choose_overland_scheme(int scheme_code);
// True when the run's overland scheme (its route, else its OVERTYPE code) is the
// explicit one, the only user of the bed slopes and the depth changes per cell.
bool explicit_overland_scheme(const model_state &state);

// Rule 3 of the overland step: sets the routing switch when a cell outside the
// lakes and channel lakes holds water and the flow-present switch when such a
// cell has a discharge; a depth that is not a number stops the run (false).
bool survey_overland_cells(model_state &state, bool after_routing = false);

// Water on the surface outside the lakes: the sum of depth x dx x dx over the
// cells that are not overland-lake cells (with overland lakes) and not
// channel-lake cells (with channel routing and no overland lakes), m3.
double overland_surface_volume(const model_state &state);
