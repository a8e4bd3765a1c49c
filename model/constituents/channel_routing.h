// Channel constituent routing and its source terms, called by the two channel
// constituent pieces once per constituent.
#pragma once

struct model_state;
struct channel_network;

// Where the water of a face goes: node (n, l) of a routed link, lake `lake`, or
// nowhere (the outlet).
struct face_end {
    int lake = 0, n = 0, l = 0;
};
// The first routed node or lake met going down the links from link d: node 1 of
// a routed link, or the lake of a lake link or of a link a lake took over; weir
// and structure links pass their water straight on.
face_end chain_end(const channel_network &net, int d);

// Takes a removal (its interval share `taken`) from the mass m and from its
// accumulator: a removal larger than m takes only m and clears the accumulator.
// Returns what was taken.
double take_removal(double taken, double &accumulator, double &m);
// Takes a term of either sign (its interval share `taken`) from its accumulator
// into the mass m: a negative term larger in size than m takes only -m and
// clears the accumulator. Returns what was taken.
double take_term(double taken, double &accumulator, double &m);
// Makes the routing's work storage on the first call; false after a failure.
bool prepare_channel_wq(model_state &state);
// Decay mass of every routed node for constituent k over dt seconds.
void channel_constituent_decay(model_state &state, int k, double dt);
// Mass exchanged between the channel nodes and the aquifer for constituent k.
void channel_gw_mass_exchange(model_state &state, int k, double dt);
// Net source rate of node (n, l) for constituent k over an interval of dt
// seconds, drawn from its accumulators into the step terms; outlet marks the
// outlet node.
double node_mass_sources(model_state &state, int k, int n, int l, int outlet, double dt);
// Routes constituent k through the network over one interval of dt seconds with
// the source rates in chan.wq_rate; 0, or -1 after the sub-step floor stopped the run.
int channel_wq_route(model_state &state, int k, double dt);
