// Seepage between the channel network and the aquifer below it, per node and
// per grid-stream entry. Called by ex_flow_route at every sub-step and by the
// groundwater piece.
#pragma once

struct model_state;

// Wetted perimeter of node (n, l) at wetted depth y; -1 after a bad table number
// (message printed, code 4000).
double seepage_perimeter(model_state &state, int n, int l, double y);

// Exchange of one step: 0 nothing computed or nothing gains, 1 some node gains
// from the aquifer, 2 none gains but some wet node loses.
int stream_aquifer_exchange(model_state &state);
