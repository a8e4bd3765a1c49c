// The explicit overland scheme as it stood before its hot loops were restructured
// (same interface as model/hydrology/overland_explicit.h, in namespace
// reference). For the equality tests and the benchmarks only.
#pragma once

struct model_state;
struct overland_grid;
struct explicit_step_control;

namespace reference {

double explicit_route(overland_grid &g, explicit_step_control &control, double dt);
double route_overland_explicit(model_state &state, double dt);

}  // namespace reference
