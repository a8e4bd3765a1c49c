// Constituent processes of the overland water and the channel network: the
// per-cell sources and sinks, the overland advection step and the helpers the
// constituent time-step pieces call (the pieces are in channel_services.h).
#pragma once

#include "model/core/arrays.h"

struct model_state;

// ---- sources and sinks (constituent_sources.cpp) ----
// Rain-borne mass of constituent k over all cells for a step of dt seconds.
void rain_constituent_mass(model_state &state, int k, double dx, double dt);
// The constituents in the snow of cell i leave with the share `part` of the snow
// that melted, as `melt` m of water, into the cell's overland water.
void release_snow_constituents(model_state &state, int i, double melt, double part);
// Release of constituent k from the land pool towards its saturation concentration.
void ov_pool_release(model_state &state, int k, double dx, double dt);
// First-order loss of constituent k from the overland water.
void ov_first_order_loss(model_state &state, int k, double dx, double dt);
// Mass of constituent k carried with the water exchanged between stream cells and
// their channel nodes since the last exchange.
void stream_exchange_mass(model_state &state, int k, const array_2d<double> &volumes);

// ---- overland transport (overland_advection.cpp) ----
// Interval share of an accumulated amount m: a * m / (b - c) when the step a is
// shorter than the process interval b - c by more than the tolerance, else m.
double pool_depth_ratio(double a, double b, double tolerance, double c, double m);
// Net source rate of cell i for constituent k over a step of dt seconds, drawn
// from the cell's accumulators into the step totals.
double soil_pool_transfer(model_state &state, int k, int i, int type_one, double dt);
// Books the mass that the infiltrated water of each cell carries away.
void constituent_accumulate(model_state &state, int k);

// One constituent's vectors (N+1 entries each) for overland_advection_step.
struct overland_constituent_vectors {
    double *conc = nullptr, *mass = nullptr, *disp = nullptr, *rate = nullptr;
};
// Advection and dispersion of constituent k over the grid for dt seconds, the x
// and y passes in the order of the sweep switch (1: x first, 2: y first).
void overland_advection_step(model_state &state, overland_constituent_vectors v, int sweep,
                             int k, double dt, double dx);

// The dissolved mass of constituent k on the cells of the lakes (overland and
// channel lakes) joins those lakes, with the water the flow gave them: it leaves
// the overland water as mass into the lakes. Called after each overland transport.
void move_lake_cell_mass(model_state &state, int k);
// The mass of constituent k that the water an overland lake gave over its low spots
// carried (at the lake's concentration) joins the land cells that took the water.
// Called before each overland transport; the last constituent clears the volumes.
void release_lake_mass(model_state &state, int k);

// Lake of cell i while lakes carry constituents, else 0.
int constituent_lake_of_cell(const model_state &state, int i);
// The water (m3) the overland transport of a step of dt seconds starts from in
// cell i: the depth of the last transport with the step's rain and point inflow.
double water_before_transport(const model_state &state, int i, double dt);
// Per-cell row of transport table `table` for constituent k (entries 1..N).
double *constituent_row(model_state &state, int table, int k);
