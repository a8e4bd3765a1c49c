// The overland-lake update as it stood before each lake visited only its own
// cells (same interface as olake_extent in model/hydrology/hydrology_services.h,
// in namespace reference). For the equality test and the benchmark only.
#pragma once

struct model_state;

namespace reference {

void olake_extent(model_state &state);

}  // namespace reference
