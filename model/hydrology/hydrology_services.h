// Hydrology steps that run_model calls: the initial conditions before the time
// loop, and the time-step pieces of the hydrology processes that the loop's table
// of pieces calls every turn (each acts only when its process clock is due).
#pragma once

struct model_state;

// Initial conditions, before the time loop.
void check_initial_lake_levels(model_state &state);
void read_initial_channel_depths(model_state &state);
void read_plux_exchange_maps(model_state &state);
void compute_initial_overland_volume(model_state &state);

// Time-step pieces of the hydrology processes.
void advance_clock(model_state &state);
void read_precip_event(model_state &state);
void init_event(model_state &state);
void read_radar_precip(model_state &state);
void apply_rainfall(model_state &state);
void apply_point_inflows(model_state &state);
void step_infiltration(model_state &state);
void step_longterm_hydromet(model_state &state);
void step_sacramento(model_state &state);
void step_evapotranspiration(model_state &state);
void step_overland_flow(model_state &state);
void step_overland_constituents(model_state &state);
void step_superlink_coupling(model_state &state);
void step_groundwater(model_state &state);
void update_overland_lakes(model_state &state);
void step_channel_routing(model_state &state);
void track_peak_discharge(model_state &state);
void print_progress(model_state &state);
void check_simulation_end(model_state &state);
void exchange_plux_maps(model_state &state);
void finish_event(model_state &state);

// Takes up to `wanted` m3 of the Sacramento runoff that has not yet reached a
// channel or the outlet; returns the volume taken.
double take_sacramento_runoff(model_state &state, double wanted);

// Grid processes that the routing pieces call.
// One groundwater step of dt seconds; the net volume the exchange terms added to
// the aquifer (m3). soil_in receives the water that the surface and unsaturated
// exchange terms moved from the soil into the aquifer over the step (m3, signed).
double groundwater_step(model_state &state, double dt, double &soil_in);
// The same, with the exchange in each direction, cell by cell: soil_in the water
// that moved from the soil into the aquifer, soil_out what the aquifer gave up to
// the soil (m3, neither negative).
double groundwater_step(model_state &state, double dt, double &soil_in, double &soil_out);
// Grows or shrinks every overland lake to its volume.
void olake_extent(model_state &state);
// Updates the extent of the channel-network lakes.
void update_lake_extent(model_state &state);
