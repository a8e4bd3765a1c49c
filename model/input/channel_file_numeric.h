// Reader of the older numeric form of the channel input file: header numbers,
// per-link type and connectivity lines, and per-node lines in the layout of each
// link type. Called by read_chan_input when the first word is not "korva_chan".
#pragma once

#include <cstdio>

struct model_state;

// Reads the numeric form from the top of `file` into state.channels and runs the
// shared finishing steps. The layout, all numbers free-format:
//   long kind:  alpha beta theta dx w4 n v LINKS MAXNODES
//   short kind: dx v LINKS MAXNODES  (alpha, beta, theta, w4 = 1.0, n = 0.01)
// where dx is the node spacing of every link and n the Manning's n of every link
// (w4 and v are read and not used); the short kind is the one whose fifth line
// begins with two integers. Then per link "link type count" (count: upstream
// links, 0 to 3) followed by the connectivity "link downstream count u1 u2 spare"
// (count up to 2) or "link downstream count u1 u2 u3 spare" (count 3); then per
// link "link nodes" and one line per node in its type's layout. False after a
// failure (message printed, code 4000).
bool read_chan_numeric(std::FILE *file, model_state &state);
