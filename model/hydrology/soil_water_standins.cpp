// Stand-ins for the later soil-water and meteorology processes until they are
// built. Each is reached only when a project switches its feature on, so it stops
// the run with the message that the feature is not available.
#include "model/feature_standin.h"
#include "model/hydrology/soil_water_services.h"
#include "model/model_state.h"

void sacramento_step(sacramento_basin &, double &, double, double &extra) {
    extra = 0.0;
    report_feature_not_available("Sacramento soil-moisture accounting");
}
