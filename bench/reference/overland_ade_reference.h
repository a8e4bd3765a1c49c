// The alternating-direction overland schemes as they stood before their hot loops
// were restructured (same interface as model/hydrology/overland_ade.h, in
// namespace reference). For the equality tests and the benchmarks only.
#pragma once

#include "model/core/arrays.h"

struct model_state;
struct overland_grid;
struct ade_scheme_state;

namespace reference {

void ade_sweep_a(overland_grid &g, row_ref<const double> depth, double dt);
void ade_sweep_b(overland_grid &g, row_ref<const double> depth, double dt);
int ade_check_sweep(overland_grid &g, row_ref<const double> q, row_ref<const int> upstream,
                    double step);
double ade_route(overland_grid &g, ade_scheme_state &state, int scheme, double dt);
double route_overland_ade(model_state &state, double dt);
double route_overland_ade_pc(model_state &state, double dt);

}  // namespace reference
