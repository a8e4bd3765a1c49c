// The Richards step as it was before its restructuring (see the .cpp).
#pragma once

struct model_state;

namespace reference {
double richards_step(model_state &state, double dt);
}  // namespace reference
