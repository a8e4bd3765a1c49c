// Records of the channel network and of the pipe network held in the run state.
// The channel input readers fill them; routing and the writers read them. Only the
// counts exist so far; the readers that build the networks add their fields.
#pragma once

struct channel_network {
    int link_count = 0;      // links, numbered from 1
    int max_node_count = 0;  // largest node count of any link
};

struct superlink_network {
    int num_junctions = 0;    // super-junctions
    int num_superlinks = 0;
    int max_slink_pipes = 0;  // largest number of nodes in one superlink
    int tile_drain = 0;       // tile-drain flow is simulated
};
