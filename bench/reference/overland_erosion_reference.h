// The overland erosion step as it stood before its loops were restructured
// (same interface as overland_erosion in model/channel/channel_services.h, in
// namespace reference). For the equality test and the benchmark only.
#pragma once

struct model_state;

namespace reference {

void overland_erosion(model_state &state, double dt, double cell_size, double viscosity);

}  // namespace reference
