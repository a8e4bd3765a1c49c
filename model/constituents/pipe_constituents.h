// The dissolved constituents the pipe network carries with its water: the mass
// its inlets take with the surface water, its well-mixed nodes and junctions, and
// the mass its spills and outlets give back to the cells or to the channels.
// Called by the pipe-network piece after every pipe step; the channel routing
// takes the mass that the channel outlets hand it.
#pragma once

#include "model/core/arrays.h"

struct model_state;

// The pipe network's share of the constituents, in the run state. The water of
// each node and junction is the water the step's flows put there (m3), the mass
// weights of the mixing: every node mixes what it held with what it received in
// the step and gives its outflows that mixture.
struct pipe_constituent_state {
    bool ready = false;
    array_2d<double> node_water;     // [node][superlink] m3
    array_1d<double> junction_water;  // per super-junction, m3
    array_3d<double> node_mass;      // [constituent][node][superlink] g
    array_2d<double> junction_mass;  // [constituent][super-junction] g
    // [constituent][super-junction] g: what a channel outlet has handed on and
    // the channel routing has not yet taken (still the network's).
    array_2d<double> outlet_mass;
    // This step: each node's tile inflow (m3), and the work of the mixing.
    array_2d<double> tile_volume;
    array_2d<double> node_conc, node_base, node_denominator;
    array_1d<double> junction_conc, junction_base, junction_denominator, junction_outlet, junction_sum;
};

// Tile inflow of v m3 into node k of superlink l in the current pipe step.
void note_tile_intake(model_state &state, int k, int l, double v);

// The mass of the water the inlets have just taken as the first half of the next
// pipe step's take (superlink_step_state's first halves), before the overland
// transport of the step of dt seconds: it leaves the cells at the concentration of
// the water that transport starts from (with the step's rain, whose mass joins
// the cells first) and enters the inlets' nodes and junctions.
void take_first_half_mass(model_state &state, double dt);

// Carries every constituent through the network with the flows of the pipe step
// of dt seconds that has just ended, and books the mass that crossed its edge.
void carry_pipe_constituents(model_state &state, double dt);

// Mass of constituent k (kg) the network holds, with what its channel outlets
// handed on and the channels have not yet taken.
double pipe_constituent_mass(const model_state &state, int k);

// The mass of constituent k (g) channel outlet j has handed on since the last
// call; the caller gives it to the outlet's channel node.
double take_pipe_outlet_mass(model_state &state, int k, int j);
