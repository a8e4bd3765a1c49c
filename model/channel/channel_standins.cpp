// Stand-ins for the channel, sediment and constituent services, until they are
// built: a piece whose feature the project leaves off does nothing; a service a
// run needs stops it with a clear message.
#include "model/channel/channel_services.h"
#include "model/feature_standin.h"
#include "model/model_state.h"

double overland_constituent_transport(model_state &, double) {
    report_feature_not_available("overland constituent transport");
    return 0.0;
}
