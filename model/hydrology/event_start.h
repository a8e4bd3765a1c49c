// Initial conditions of a run and the start of every event: the initial soil-water,
// groundwater and lake state, the first read of the vegetation-model exchange
// maps, the initial surface water volume, and the init_event piece. The routines
// are declared with the other hydrology services in hydrology_services.h:
// check_initial_lake_levels, read_initial_channel_depths, read_plux_exchange_maps,
// compute_initial_overland_volume and init_event.
#pragma once

struct model_state;

// Run totals of the water between the aquifer (and the Sacramento base flow) and
// the channels and lakes: into them, and out of them (m3).
double surface_exchange_in(const model_state &state);
double surface_exchange_out(const model_state &state);

// Reads the incoming vegetation-model exchange maps that the cards switch on (soil
// moisture, roughness, Ksat) into the per-cell arrays; `pass` leads the message of
// a map that cannot be opened (1 before the loop, 2 at the end of an event).
void read_incoming_plux_maps(model_state &state, int pass);

// At the event start, once the channel areas are known: the constituent
// routing's previous areas take them, and at the first event of a run every wet
// node takes the initial channel concentration and its mass.
void start_channel_constituents(model_state &state);
