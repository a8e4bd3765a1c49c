// Explicit overland flow scheme (OVERTYPE "explicit"): Manning flow across every
// cell's right and down faces with a step control that divides the step when a
// face moves too much water. Called by step_overland_flow for scheme 1.
#pragma once

struct model_state;
struct overland_grid;
struct explicit_step_control;  // held in the run state

// One call of the scheme for dt seconds over the grid. Result: the overland
// outlet discharge (m3/s), or 0.0 when explicit channel routing takes the outlet.
// On return the face discharges are in m3/s: the last sub-step's, or with
// keep_step_flows the mean over a divided step.
double explicit_route(overland_grid &g, explicit_step_control &control, double dt);

// Switches the sub-steps local to the cells that need them on (the default) or
// off (a cut step takes its sub-steps over the whole grid), so that the two can
// be compared; result: the setting before.
bool explicit_local_substeps(bool on);

// The scheme on the run state's arrays (the signature every scheme shares).
double route_overland_explicit(model_state &state, double dt);
