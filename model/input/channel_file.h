// Reader of the channel input file: the card form ("korva_chan" on the first
// line) with its header, sizing, connectivity, detail, break-point and lake
// passes, and the finishing steps that the numeric form shares. Called once per
// run by the channel set-up.
#pragma once

#include <cstdio>
#include <string>

#include "model/core/arrays.h"

struct model_state;
struct channel_network;

// Card codes of the channel input file and of the grid-stream file.
namespace chan_card {
enum : int {
    alpha = 1, beta = 2, theta = 3, dx = 4, links = 5, maxnodes = 6, connect = 7, link = 8,
    nodes = 9, trapezoid = 10, subsurface_trapezoid = 11, trap_erode = 12, breakpoint = 13,
    break_erode = 14, lake = 15, mlake = 16, structure = 17, structtype = 18, mannings_n = 19,
    max_erosion = 20, gw_bed_conductivity = 21, gw_bed_thickness = 22, dispersion_coeff = 23,
    decay_coeff = 24, num_outlets = 25, node = 26, elev = 27, xsec = 28, bottom_width = 29,
    bankfull_depth = 30, side_slope = 31, x1 = 32, npairs = 33, streamcells = 34, cellij = 35,
    numnodes = 36, linknode = 37, numstructs = 38, upinvert = 39, downinvert = 40,
    inlet_disch_coeff = 42, rev_flow_disch_coeff = 44, slope = 45, length = 46, width = 47,
    height = 48, diameter = 50, rough_coeff = 51, a_value = 52, b_value = 53, minwse = 54,
    initwse = 55, maxwse = 56, numpts = 57, crest_length = 58, crest_low_elev = 59,
    crest_low_loc = 60, discharge_coeff_forward = 61, discharge_coeff_reverse = 62,
    left_slope = 63, right_slope = 64, pointsource = 65, num_interp = 66, pumpto = 67,
    unknown = 68,
};
}  // namespace chan_card

// Card code of the line's first word (matched whole, in any case): 1..67, 68 for
// a word that is not a card or an empty line. The word is removed from the line.
int chan_card_code(std::string &line);

// Reads the channel input file (open; left open) into state.channels, in the card
// form or, when the first word is not the card-form marker, the numeric form.
// Returns the lake-loss flag (1 when the file holds an MLAKE card). Failures print
// their message and leave code 4000 in the error record.
int read_chan_input(std::FILE *file, model_state &state);

// ---- shared with the numeric form ----

// Allocation helpers: a failure prints "Error allocating memory for variable %s\n"
// and stores code 4000 (false). Counts below 1 are raised to 1.
bool chan_make(array_1d<int> &a, long long n, const char *name);
bool chan_make(array_1d<double> &a, long long n, const char *name);
bool chan_make(array_2d<int> &a, long long r, long long c, const char *name);
bool chan_make(array_2d<double> &a, long long r, long long c, const char *name);
bool chan_make(array_3d<double> &a, long long n1, long long n2, long long n3, const char *name);

// Per-link arrays (link_count + 1 entries, zeroed).
bool make_link_arrays(channel_network &net);
// Per-node arrays of every link ([node][link], zeroed); with gw also Krb and Mrb.
bool make_node_arrays(channel_network &net, bool gw);
// Computational node counts and the bed of each computational node (the mean of
// the bed elevations at its two bounding points); water surface at the bed.
void set_computational_nodes(channel_network &net);
// Copies of the link count, computational node counts, types, upstream counts and
// upstream lists as read.
bool copy_network_as_read(channel_network &net);
// A message for a fatal input error, then code 4000 and the reporter.
void chan_input_stop();
// LINKS and MAXNODES of at least 1; otherwise a message naming the card and stop.
bool check_network_size(const channel_network &net);
// Manning's n of link `link` of at least 1e-08; otherwise the roughness message and stop.
bool check_manning_n(double n, int link);
