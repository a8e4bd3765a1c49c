// Records of the channel network and of the pipe network held in the run state.
// The channel input readers fill them; routing and the writers read them. Only the
// counts exist so far; the readers that build the networks add their fields.
#pragma once

#include "model/arrays.h"

struct channel_network {
    int link_count = 0;      // links, numbered from 1
    int max_node_count = 0;  // largest node count of any link
    // ---- watershed ----
    // Read by the peak tracking, the progress report and the end test.
    array_1d<int> node_count;       // per link
    array_2d<double> water_surface; // [node][link] water-surface elevation (m)
    array_2d<double> bed_elevation; // [node][link] bed elevation (m)
    array_2d<double> discharge;     // [node][link] discharge (m3/s)
    // ---- end watershed ----
};

struct superlink_network {
    int num_junctions = 0;    // super-junctions
    int num_superlinks = 0;
    int max_slink_pipes = 0;  // largest number of nodes in one superlink
    int tile_drain = 0;       // tile-drain flow is simulated
    // ---- watershed ----
    // Positions read by read_superlink_file and placed on the grid by the input
    // driver: per super-junction 1..num_junctions its kind and grid row and
    // column; per superlink 1..num_superlinks its node count, and per node
    // [node][superlink] its grid row and column.
    array_1d<int> junction_kind, junction_row, junction_col;
    array_1d<int> link_node_count;
    array_2d<int> node_row, node_col;
    // ---- end watershed ----
};
