// Alternating-direction explicit overland schemes (OVERTYPE "ade", scheme 2, and
// "ade-pc", scheme 3 with predictor-corrector): one direction at a time, face
// discharges from the water-surface slope. Called by step_overland_flow.
#pragma once

#include "model/core/arrays.h"

struct model_state;
struct overland_grid;
struct ade_scheme_state;  // held in the run state

// Face discharges (m3/s) of one direction from the depths `depth`: the down
// sweep (y discharges over the down table, dike bit 4) and the right sweep (x
// discharges over the right table, dike bit 2). Faces from a land cell into a
// lake are limited to the land's water above retention over `dt`.
void ade_sweep_a(overland_grid &g, row_ref<const double> depth, double dt);
void ade_sweep_b(overland_grid &g, row_ref<const double> depth, double dt);

// Applies one sweep's face discharges `q` (with the upstream table) for
// `step` seconds: 0 when every cell was updated, 1 or 2 when the update stopped
// at a failing cell (1: a negative depth below a 0.001 s step). A depth that
// falls to between -1e-6 and 0 is lifted to 0 and the water added is booked.
int ade_check_sweep(overland_grid &g, row_ref<const double> q, row_ref<const int> upstream,
                    double step);

// One call of scheme 2 or 3 for dt seconds. Result: the mean outlet discharge
// of the step (m3/s), 0.0 when explicit channel routing takes the outlet, or
// -1.0 when the step became too small (code 4000 set and reported).
double ade_route(overland_grid &g, ade_scheme_state &state, int scheme, double dt);

// The schemes on the run state's arrays (the signature every scheme shares).
double route_overland_ade(model_state &state, double dt);     // scheme 2
double route_overland_ade_pc(model_state &state, double dt);  // scheme 3

// In a build with KORVA_WORK_COUNTS (the benchmarks' whole runs), the run log's
// line on the work of a run with an ADE scheme: sweeps per step (2 when no step
// was cut into sub-steps or redone). Nothing for a run with another scheme,
// under SUPER_QUIET, in a calibration or in other builds.
void print_ade_work(const model_state &state);
