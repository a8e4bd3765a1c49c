// The groundwater piece (step_groundwater, declared in hydrology_services.h) and
// the channel-node exchange it shares with the channel routing.
#pragma once

struct model_state;

// The channel nodes and cells after a channel-groundwater exchange of result 1
// or 2 over dt seconds: node areas take the exchange (result 2) and the cells'
// seepage volumes the water moved; result 1 clears the seepage volumes. False
// after a node area below 0 (non-orthogonal channels).
bool exchange_channel_nodes(model_state &state, int result, double dt);

// The exchange of the channels and channel lakes with the aquifer that has moved
// their water and that the aquifer takes at its next step (m3; positive from the
// aquifer), on the cells the aquifer solves and on its fixed-head cells.
struct pending_aquifer_exchange {
    double seepage = 0.0, lake = 0.0, fixed_head = 0.0;
};
pending_aquifer_exchange pending_exchange_of(const model_state &state);
// Posts what the channels and lakes exchanged since `before` was taken.
void post_aquifer_exchange(model_state &state, const pending_aquifer_exchange &before);

// At the end of the run the aquifer gives (or takes) what the channels and lakes
// have exchanged with it since its last step, which its next step would have
// taken: the volumes go into the exchange totals and out of its stored water.
void settle_aquifer_exchange(model_state &state);
