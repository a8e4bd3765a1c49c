// Services of the channel, sediment and constituent subsystem that the framework,
// the input readers and the hydrology pieces call: four time-step pieces of the
// constituents and the channel, pipe-network and erosion routines they reach.
// The arrays these routines work on live in the run state, so each takes it.
#pragma once

#include <cstdio>

#include "model/core/run_options.h"

struct model_state;

// Time-step pieces of the constituents (pieces 14, 15, 20 and 21 of a turn).
void step_overland_constituent_sources(model_state &state);
void step_overland_constituent_pools(model_state &state);
void step_channel_constituents(model_state &state);
void route_channel_constituents(model_state &state);
// Final overland masses and the overland mass balance error of every constituent.
void finish_constituent_balances(model_state &state);
// Final channel and lake masses and their balance error of every constituent, and
// the run's final global mass (model/constituents/lake_constituents.cpp).
void finish_channel_constituent_balances(model_state &state);

// Cross-section terms of every node of every routed link: mode 1 from the node
// areas, mode 2 from the water-surface elevations. Sets beyond_table to 1 when a
// node lay above the top of its property table (model/channel/cross_sections.h).
void ex_section(model_state &state, int mode, int &beyond_table);

// Channel and lake exchange with groundwater for one step; 0, 1 or 2.
int section_table_lookup(model_state &state);
// Moves the lake-bed exchange of dt seconds between each losing lake and the
// aquifer: rate x dt x cell size per lake cell into the lake's volume and its
// in/out totals, and the same volume into the cell's lake loss volume (taken by
// the next groundwater step) or, without the groundwater model, straight into
// the run's lake in/out totals; also into the lake constituents' per-cell
// volume. A lake gives at most what it holds (model/channel/channel_seepage.cpp).
void book_lake_bed_volumes(model_state &state, double dt);

// Overland-to-channel lateral inflow of one channel step; the volume moved (m3).
double lateral_inflow(model_state &state, double cell_size, double channel_dt);

// One channel step of explicit diffusive-wave routing; 0 without a groundwater
// exchange inside the step, else the exchange result (1 or 2); -1 after a failure.
int ex_flow_route(model_state &state);

// Wash load and bed load of the channel step (model/sediment/channel_sediment.h).
void channel_sediment_transport(model_state &state, double step_seconds, double cell_size);

// Running maximum of the channel depths or discharges of every node.
void track_max_channel(model_state &state);
// Highest water surface of every node of the erodible break-point links.
void track_max_erodible_levels(model_state &state);

// One step of the pipe network for dt seconds; 0 after a step.
int superlink_step(model_state &state, double dt);

// Water between grid cells and pipe nodes; 1 when an exchange was computed.
int pipe_exchange(model_state &state);

// Overland erosion of one overland step (model/sediment/overland_erosion.h).
void overland_erosion(model_state &state, double dt, double cell_size, double viscosity);

// Overland transport of every constituent together (the sediment-bound scheme)
// for dt seconds; the mass that left through the outlet (model/constituents).
double overland_constituent_transport(model_state &state, double dt);
// The rain-borne mass of every constituent when a rain event is in progress and
// the rain-borne slot is due; moves the slot to the next rain time.
void add_rainborne_constituent_mass(model_state &state);
// The mass that the water each stream cell gave to its channel nodes since the
// last exchange carries (cell concentration, or the node's for water coming
// back), when the exchange slot is due; moves the slot to the next rain time and
// clears the exchanged volumes unless `keep_volumes`. True when it acted.
bool add_stream_exchange_mass(model_state &state, bool keep_volumes);
void clear_stream_exchange_volumes(model_state &state);
// The mass of the water the stream cells gave to the nodes since the last channel
// constituent routing: into the nodes' lateral mass for this routing and into the
// cells' lateral accumulators for their next transport.
void channel_exchange_mass(model_state &state);
// Clears the per-cell accumulators that the sediment-bound transport consumed:
// rain and lateral masses and the infiltrated volumes.
void clear_overland_constituent_accumulators(model_state &state);
// Ends an overland constituent step: books the step totals of every constituent,
// / 1000, into the overland, event and run totals and clears them, flips the
// sweep order and copies each cell's depth into its previous depth.
void close_overland_constituent_step(model_state &state);

// Rebuilds the cross-section tables after a change of bed or roughness.
void xsec_update(model_state &state);

// Stores each channel cell's number in the per-node-and-link table con_vect.
void cconnect(model_state &state);

// Property tables of one break-point node.
void xsec_property_tables(model_state &state, int extra_tables, int link, int node);

// Reads the pipe network and the grid-pipe files (both open, left open) into
// state.superlinks (model/pipes/superlink_file.cpp): 0 on success, 9 when the
// network is too large to dimension, -1 on a pipe of an unknown section type, -9
// on any other refused input; every message is printed before the return.
int read_superlink_file(std::FILE *network_file, std::FILE *grid_pipe_file, model_state &state);

// Water held in the routed links (m3): the flow area times the node spacing over
// every node of the links that are not lakes or structures (with channel lakes,
// the nodes before the lake), for the dry-spell test of the channel step.
double channel_water_volume(const model_state &state);
// 1 when some channel lake's level lies below its second level value, else 0.
int channel_lake_below_second_level(const model_state &state);
