// Link/node series files of the channel and pipe networks: the fixed header, one
// block per output time with a line per link and a value per node, and the
// opening of the grid data sets and species outputs right after the inputs are
// read (open_constituent_outputs and write_linknode_headers, declared in
// model/output/output_writers.h). Steps are written by the time-series writer.
#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "model/core/arrays.h"

struct model_state;
struct channel_network;

// Series kinds with a title line (0..15).
enum linknode_kind : int {
    linknode_stream_depth = 0,
    linknode_stream_flow = 1,
    linknode_flood_stream_depth = 2,
    linknode_superlink_flow = 3,
    linknode_superlink_head = 4,
    linknode_superlink_tile_flow = 5,
    linknode_first_species = 6,  // 6..15: NO2, NO3, NH4, ON, OP, DP, PO4, ALG, CBOD, DO
};

// Title line of kind k, or null outside 0..15.
const char *linknode_title(int kind);

// The header: the title line (none for a kind outside 0..15), NUM_LINKS,
// TIME_STEP, NUM_TS and START_TIME (day, month, year, hour, minute, 0). NUM_TS is
// padded with blanks to `times_width` characters (a header written again in place).
void write_linknode_header(std::FILE *f, int kind, int links, int time_step, int times, int day,
                           int month, int year, int hour, int minute, int times_width = 0);

// Header values of a run: the output time step in whole minutes (at least 1) and
// the number of output times in the simulated period.
int linknode_time_step(const model_state &state);
int linknode_output_times(const model_state &state);

// Opens `name` "w" with the plain library call (no quote removal, no run prefix)
// into `slot`; write_linknode_headers writes its header of `kind` once the start of
// the run is known. A file that cannot be opened sets code 59 with its name.
void open_linknode_series_file(model_state &state, std::FILE *&slot, const std::string &name,
                               int kind, int links);

// Value kinds of a link/node step.
enum linknode_value_kind : int {
    linknode_value_plain = 0,       // the first array's value (flow)
    linknode_value_difference = 1,  // first minus second (depth: surface less bed)
    linknode_value_ratio = 2,       // first over second (velocity: discharge over area)
};

// One block: "TS    %d\n", one line per link of the network, a blank line. Value
// arrays are [node][link]; `second` may be empty for the plain kind; lake links
// take `lake_values` by the link's lake number. Node positions 1..the network's
// largest node count are written, those beyond a link's own nodes as
// "0  -999.999   ". A ratio whose denominator is not positive gives 0.
void write_linknode_step(std::FILE *f, int counter, const channel_network &net,
                         const array_2d<double> &first, const array_2d<double> &second,
                         int kind, std::span<const double> lake_values);

// One block of the pipe-network files: "TS    %d\n", then per link its node count
// and "1  %6.5lf   " per node, values [node][link].
void write_linknode_step_simple(std::FILE *f, int counter, int links,
                                const array_1d<int> &node_count, const array_2d<double> &values);

// Opens the overland nutrient data sets and the channel nutrient series of every
// species whose output is on (NUTRIENTS).
void open_species_output_files(model_state &state);

// At the end of a run that wrote fewer channel series steps than their headers
// promise (an early end), NUM_TS of the depth and discharge series is written
// again in place with the number of its last block (TS 0 is the start, so a
// series of NUM_TS steps holds NUM_TS + 1 blocks).
void finish_linknode_headers(model_state &state);
