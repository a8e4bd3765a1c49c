// Channel sediment transport of one channel step: sand moved at the capacity of
// the flow by Yang's unit-stream-power form, wash load carried with the water,
// lateral sediment from the land, and what leaves at the outlet. The channel
// piece (step_channel_routing) gathers the lateral sediment, calls
// channel_sediment_transport (declared in model/channel/channel_services.h) and
// books the outlet rates with the helpers below.
#pragma once

struct model_state;
struct channel_network;

// Flow area and wetted perimeter of the break-point section of node (node, link)
// at depth h, from its property table: power law below the first level, linear
// interpolation between levels, linear extrapolation above the top. 0 on
// success; -1 (area and perimeter 0) for a table number outside 1..table_count.
int channel_sediment_interp(const channel_network &net, int link, int node, double h,
                            double &area, double &perimeter);

// Yang's sand concentration (parts per million by weight) for a mean velocity
// |V|, slope S, shear velocity u* (m/s), fall velocity w (m/s), grain diameter
// d (m) and viscosity nu: 0 when Re* = u* d / nu is below 1.2 or |V| / w is
// below the critical dimensionless velocity.
double yang_sand_concentration(double velocity, double slope, double shear_velocity,
                               double fall_velocity, double d, double nu);

// The sediment that reached each channel node from the land in this step
// (qlat_sed, m3 per class): the suspended soil of every cell tied to a node,
// by the cell's share, taken from the cell. Stops (code 4000) with
// "qlat_sed is not a number, exiting." when a value is not a number; false then.
bool gather_lateral_sediment(model_state &state);

// After channel_sediment_transport: adds the outlet rates times the step to the
// outlet sand and wash totals and writes the per-cell output slots of the
// erodible trapezoid nodes.
void book_channel_sediment_step(model_state &state, double step_seconds);

// Sand and wash volume held in the channel nodes (m3, element 0 of each store).
double channel_sand_store(const model_state &state);
double channel_wash_store(const model_state &state);

// Event start: new_bel of every erodible trapezoid node back to its bed elevation.
void reset_erodible_beds(model_state &state);
