// Water between grid cells and their channel nodes for one channel step (weir
// inflow over the bank and overbank exchange), the cell-to-node table and the
// running maximum of a node quantity. Called by the channel piece and set-up.
#pragma once

#include "model/core/arrays.h"

struct model_state;

// Weir inflow of an overland depth h over a reach of length dx * share (m3/s).
double bank_weir_flow(double h, double dx, double share);
// Submergence factor of the overbank exchange at submergence ratio r.
double submergence_factor(double r);

// Volume moved into the channels over dt seconds (m3, a loss from the channels
// counts negative); fills qlat and lowers or raises the overland depths.
double lateral_inflow_step(model_state &state, double cell_size, double dt);

// Raises every maximum below its node value to that value.
void track_max_values(const model_state &state, const array_2d<double> &value,
                      array_2d<double> &maximum);
