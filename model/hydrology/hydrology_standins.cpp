// Stand-ins for the initial conditions and the hydrology time-step pieces, until
// they are built: a piece whose feature the project leaves off does nothing; one
// that the run needs stops it with a clear message.
#include "model/card_records.h"
#include "model/feature_standin.h"
#include "model/hydrology/hydrology_services.h"
#include "model/model_state.h"

void exchange_plux_maps(model_state &s) {
    if (s.project.plux.given) report_feature_not_available("the PLUX map exchange");
}

void olake_extent(model_state &) { report_feature_not_available("overland lakes over the terrain"); }

void update_lake_extent(model_state &) {
    report_feature_not_available("the extent of channel lakes");
}
