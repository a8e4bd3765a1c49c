// Stand-in for the hydro-meteorological reader until it is built: it is reached
// only by a project that needs it, which stops with the message that the feature
// is not available.
#include "model/feature_standin.h"
#include "model/input/soil_input_services.h"
#include "model/model_state.h"

int scan_hmet_file(model_state &, int) {
    report_feature_not_available("reading the hydro-meteorological file");
    return -1;
}
