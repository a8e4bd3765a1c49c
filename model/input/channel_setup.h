// Channel set-up after the channel input file is read: routing work arrays,
// channel sediment, hotstart, hydrograph locations, option checks, the ties of
// the network to the grid cells and the pipe network, Sacramento weights and the
// channel constituents. setup_channels (declared with the other readers) is step
// 24 of the input reading; the steps are exposed for tests.
#pragma once

#include <cstdio>

struct model_state;

// Limits the routing needs, checked before the run starts: a Courant limit above
// 0 for explicit routing, structure links with a link below them and weir
// crests not below the bed of the node above, and with the groundwater model a
// river-bed thickness above 0 at every routed node (the seepage divides by it).
// Code 4000 otherwise.
void check_channel_limits(model_state &state);
void init_channel_sediment(model_state &state);
// Channel hotstart: records "link node depth discharge", the layout of the
// end-of-run writer; records outside the network are passed over.
void read_channel_hotstart(model_state &state);
void read_hydrograph_locations(model_state &state);
void read_sed_hydrograph_locations(model_state &state);
// Orthogonal channels: the LINKS and NODES maps into the per-cell link and node
// numbers, and one grid-stream entry (link, node, cell, share 1) per channel cell.
void read_channel_cell_maps(model_state &state);
void setup_gridstream_cells(model_state &state);
void link_superlink_outlets(model_state &state);
void compute_sacramento_weights(model_state &state);
void setup_channel_constituents(model_state &state);
