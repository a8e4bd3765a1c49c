// Node discharges of the channel network from the water surfaces: Manning flow on
// the water-surface slope, joins to the link below or a lake, weir links,
// structure links and the outlet boundary. Called by ex_flow_route every pass.
#pragma once

#include "model/core/arrays.h"

struct model_state;

// Inputs of one discharge evaluation: the node depths and conveyances to use and
// the array that receives the discharges ([node][link]).
struct discharge_arrays {
    const array_2d<double> *depth = nullptr;
    const array_2d<double> *conv = nullptr;
    array_2d<double> *q = nullptr;
};

// Weir-link discharge from the upstream and downstream water surfaces hu, hd over
// crest c with free coefficient cf, width w and submerged coefficient cs.
double weir_link_flow(double hu, double hd, double c, double cf, double w, double cs);

// Discharge of every node of every link. 0, or -1 after a fatal error (message
// printed, code 4000).
int channel_outlet_and_structures(model_state &state, const discharge_arrays &a);

// The discharges of the nodes of routed link l alone (and of the outlet when l is
// the last link): what channel_outlet_and_structures makes for that link. 0, or -1
// after a fatal error.
int routed_link_discharges(model_state &state, const discharge_arrays &a, int l);
// The discharge from the last node of link l into the link or lake below it alone.
void join_discharge(model_state &state, const discharge_arrays &a, int l);
