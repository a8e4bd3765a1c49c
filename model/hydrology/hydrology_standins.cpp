// Stand-ins for the initial conditions and the hydrology time-step pieces, until
// they are built: a piece whose feature the project leaves off does nothing; one
// that the run needs stops it with a clear message.
#include "model/card_records.h"
#include "model/feature_standin.h"
#include "model/hydrology/hydrology_services.h"
#include "model/model_state.h"

double groundwater_step(model_state &, double, double &) {
    report_feature_not_available("the groundwater solver");
    return 0.0;
}
