// Stand-ins for the values of later features that the time-series lines and the
// event summary read (sediment, link/node series, transport
// summaries).
// Their features stop a run at reading time until they are built, so these are
// reached only by a project that needs them.
#include <cstdio>

#include "model/feature_standin.h"
#include "model/event_summary.h"
#include "model/hydrographs.h"
#include "model/model_state.h"

void write_sediment_outlet_line(model_state &, double, int) {
    report_feature_not_available("the sediment outlet output");
}

void write_sediment_flux_line(model_state &) {}

void write_transport_event_summary(model_state &s) {
    if (s.ov_con_trans_mode || s.chan_con_trans || s.erosion.soil_erosion)
        report_feature_not_available("the constituent and sediment event summaries");
}
