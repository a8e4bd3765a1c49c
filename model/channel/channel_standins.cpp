// Stand-ins for the channel, sediment and constituent services, until they are
// built: a piece whose feature the project leaves off does nothing; a service a
// run needs stops it with a clear message.
#include "model/channel/channel_services.h"
#include "model/feature_standin.h"
#include "model/model_state.h"

namespace {
bool channel_constituents_given(const model_state &s) {
    return s.project.chan_con_trans || s.project.nutrients;
}
}  // namespace

void step_channel_constituents(model_state &s) {
    if (channel_constituents_given(s)) report_feature_not_available("channel constituents");
}

void route_channel_constituents(model_state &s) {
    if (channel_constituents_given(s))
        report_feature_not_available("channel constituent routing");
}

double overland_constituent_transport(model_state &, double) {
    report_feature_not_available("overland constituent transport");
    return 0.0;
}

int channel_lake_below_second_level(const model_state &) {
    report_feature_not_available("channel lakes");
    return 0;
}
