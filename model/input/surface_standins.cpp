// Stand-ins for the services of later features that the surface-input readers
// call: the well table. A project that needs
// them stops with a clear message that the feature is not available.
#include <cstdio>
#include <string>

#include "model/feature_standin.h"
#include "model/input/surface_inputs.h"
#include "model/model_state.h"

void load_table_wells(model_state &) {
    report_feature_not_available("placing the wells of the well table");
}
