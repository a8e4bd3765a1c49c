// Channel constituent routing and its source terms, called by the two channel
// constituent pieces once per constituent.
#pragma once

struct model_state;

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
