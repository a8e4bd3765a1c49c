// Reader of the grid-stream file, which ties grid cells to channel nodes for
// non-orthogonal channels: per stream cell its grid position and its entries
// (link, node, share of the cell). Called by the channel input reader.
#pragma once

#include <cstdio>

struct model_state;

// Reads the grid-stream file (open; rewound as needed, left open) into
// state.channels.gst. Failures print their message and store code 4000.
void read_grid_stream_file(std::FILE *file, model_state &state);
