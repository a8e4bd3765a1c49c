// Stand-ins for the values of later features that the time-series lines and the
// event summary read (the constituent summary); the sediment summary is the
// sediment code's own.
// Their features stop a run at reading time until they are built, so these are
// reached only by a project that needs them.
#include <cstdio>

#include "model/feature_standin.h"
#include "model/event_summary.h"
#include "model/hydrographs.h"
#include "model/model_state.h"
#include "model/sediment/sediment_outputs.h"

void write_transport_event_summary(model_state &s) {
    if (s.ov_con_trans_mode || s.chan_con_trans) {
        report_feature_not_available("the constituent event summary");
        return;
    }
    if (s.erosion.soil_erosion) write_sediment_event_summary(s, s.summary_file);
}
