// The channel routing step as it stood before its hot loops were restructured
// (same interface as ex_flow_route_step in model/channel/ex_flow_route.h, in
// namespace reference). For the equality test and the benchmark only.
#pragma once

struct model_state;
struct discharge_arrays;

namespace reference {

int ex_flow_route_step(model_state &state, double dt, double c_lim);
double weir_link_flow(double hu, double hd, double c, double cf, double w, double cs);
int channel_outlet_and_structures(model_state &state, const discharge_arrays &arrays);

}  // namespace reference
