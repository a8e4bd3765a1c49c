// Explicit diffusive-wave routing of one channel step: Courant-limited sub-steps,
// predictor and corrector passes, halving of a failed sub-step, lakes taking over
// and giving back nodes. Called by the channel piece of the time loop.
#pragma once

struct model_state;

// The least water-surface slope the step control takes for the diffusion number
// of a face where every link takes one sub-step, and where links take sub-steps
// of their own (see ex_flow_route.cpp).
inline constexpr double channel_slope_floor = 1e-6;
inline constexpr double channel_local_slope_floor = 1e-5;

// One channel step of dt seconds with Courant limit c_lim. 0 without a
// groundwater exchange in the step, else its result (1 or 2); -1 after a fatal
// error (message printed, code 4000). The outlet volume of the step is left in
// routed_outflow_volume and the outlet discharge in outlet_discharge.
int ex_flow_route_step(model_state &state, double dt, double c_lim);
