// Seepage between the channel network and the aquifer below it, per node and
// per grid-stream entry, and through the beds of channel lakes. Called by
// ex_flow_route at every sub-step and by the groundwater piece.
#pragma once

struct model_state;

// Wetted perimeter of node (n, l) at wetted depth y; -1 after a bad table number
// (message printed, code 4000).
double seepage_perimeter(model_state &state, int n, int l, double y);

// Exchange of one step: 0 nothing computed or nothing gains, 1 some node gains
// from the aquifer, 2 none gains but some wet node loses. With lake losses on it
// also sets the lake-bed rate of every cell (see lake_bed_rates); lakes do not
// enter the result.
int stream_aquifer_exchange(model_state &state);

// Lake-bed rate of every cell into chan.cell_lake_exchange (m2/s: the seepage
// per unit bed area times the cell size; positive from the aquifer into the
// lake; 0 for cells under no losing lake). A lake whose bed thickness is not
// above 0 prints a message and sets code 4000.
void lake_bed_rates(model_state &state);

// book_lake_bed_volumes, which moves the water of these rates, is one of the
// channel services (model/channel/channel_services.h).
