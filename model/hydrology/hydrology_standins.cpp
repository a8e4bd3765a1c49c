// Stand-ins for the initial conditions and the hydrology time-step pieces, until
// they are built: a piece whose feature the project leaves off does nothing; one
// that the run needs stops it with a clear message.
#include "model/card_records.h"
#include "model/feature_standin.h"
#include "model/hydrology/hydrology_services.h"
#include "model/model_state.h"

namespace {
bool groundwater_given(const model_state &s) {
    return s.project.gw_simulation && s.project.water_table.given;
}
}  // namespace

void read_initial_channel_depths(model_state &s) {
    if (s.grid.channel_scheme == channel_explicit) report_feature_not_available("channel routing");
}

void step_infiltration(model_state &s) {
    if (s.grid.infiltration_scheme != infiltration_none)
        report_feature_not_available("infiltration");
}

void step_longterm_hydromet(model_state &s) {
    if (s.project.long_term) report_feature_not_available("long-term hydro-meteorology");
}

void step_sacramento(model_state &s) {
    if (s.project.sacramento.given)
        report_feature_not_available("Sacramento soil-moisture accounting");
}

void step_evapotranspiration(model_state &s) {
    if (s.grid.infiltration_scheme == infiltration_redistribution)
        report_feature_not_available("evapotranspiration");
}

void step_overland_flow(model_state &) { report_feature_not_available("overland flow routing"); }

void step_overland_constituents(model_state &s) {
    if (s.project.ov_con_trans) report_feature_not_available("overland constituent transport");
}

void step_superlink_coupling(model_state &s) {
    if (s.project.storm_sewer.given) report_feature_not_available("the pipe network");
}

void step_groundwater(model_state &s) {
    if (groundwater_given(s)) report_feature_not_available("groundwater");
}

void update_overland_lakes(model_state &s) {
    if (s.project.overland_lake_map.given) report_feature_not_available("overland lakes");
}

void step_channel_routing(model_state &s) {
    if (s.grid.channel_scheme == channel_explicit) report_feature_not_available("channel routing");
}

void exchange_plux_maps(model_state &s) {
    if (s.project.plux.given) report_feature_not_available("the PLUX map exchange");
}

