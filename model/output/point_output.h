// The segment-flux output of the water-quality exchange (Q7_FLUXES): flows across
// the boundaries of the segments of a segment map, averaged over each hydrograph
// interval. Created by the run set-up once the inputs are read, fed every step and written by the
// time-series writer, freed by the run's clean-up (free_point_output).
#pragma once

#include <vector>

#include "model/core/arrays.h"

struct model_state;

struct point_output {
    int active = 0;
    array_1d<int> cell_segment;            // per cell: segment number, 0 for none
    int segment_max = 0;                   // largest segment number of the map
    std::vector<int> segment_active;       // 0..segment_max
    std::vector<double> accumulated;       // 0..segment_max: m3/s summed over steps
    // Link/node pairs of the channel network and the segment each belongs to.
    std::vector<int> pair_link, pair_node, pair_segment;
    int step_count = 0;                    // steps since the last row
    int first_row = 1;                     // the next row is the first
    double base_day = 0.0;
};

// Reads the segment map and the link/node-to-segment file, opens the flux file
// with its header. Codes 96 (warning: no segments), 97 and 98 (fatal).
void open_point_output(point_output &output, model_state &state);

// Creates and opens the segment-flux point output when the hydrograph-location
// record asks for it.
void create_point_output(model_state &state);
