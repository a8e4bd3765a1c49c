// The groundwater piece (step_groundwater, declared in hydrology_services.h) and
// the channel-node exchange it shares with the channel routing.
#pragma once

struct model_state;

// The channel nodes and cells after a channel-groundwater exchange of result 1
// or 2 over dt seconds: node areas take the exchange (result 2) and the cells'
// seepage volumes the water moved; result 1 clears the seepage volumes. False
// after a node area below 0 (non-orthogonal channels).
bool exchange_channel_nodes(model_state &state, int result, double dt);
