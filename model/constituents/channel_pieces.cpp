// The two channel constituent pieces of the time loop: decay, outlet mass and
// groundwater exchange at their slots, then the routing of every constituent
// through the network with the step's mass terms booked into the totals.
#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/constituents/channel_routing.h"
#include "model/errors.h"
#include "model/feature_standin.h"
#include "model/hydrology/process_clocks.h"
#include "model/model_state.h"

namespace {

bool routed_link(int type) {
    return type != link_weir && type != link_lake && type != link_structure &&
           type != link_taken_by_lake;
}

int nodes_of(const channel_network &net, int l) {
    return net.comp_node_count.empty() ? net.node_count[l] : net.comp_node_count[l];
}

void move_slot(model_state &s, process_clock &slot) {
    slot.last = s.now_days;
    slot.next = s.channel_clock.next;
}

bool ready(model_state &s) {
    if (!s.chan_con_trans || s.channels.link_count < 1 || s.chan.chan_node_conc.empty()) return false;
    if (s.channels.lake_count > 0) {
        report_feature_not_available("channel lake constituents");
        return false;
    }
    return prepare_channel_wq(s);
}

}  // namespace

void step_channel_constituents(model_state &s) {
    if (!ready(s)) return;
    model_state::constituent_slot_clocks &sl = s.constituent_slots;
    const channel_network &net = s.channels;
    const int nc = s.constituent_count;
    if (s.constituent_sources_on && clock_due(s, sl.decay)) {
        const double dt = (s.now_days - sl.decay.last) * 86400.0;
        for (int k = 1; k <= nc; ++k)
            if (s.constituent_type[k] == 1) channel_constituent_decay(s, k, dt);
        move_slot(s, sl.decay);
    }
    if (clock_due(s, sl.channel_outlet)) {
        const int L = net.link_count, last = nodes_of(net, L);
        const double v = s.routed_outflow_volume;
        if (v > 0.0 && last >= 1)
            for (int k = 1; k <= nc; ++k)
                s.chan.wq_outlet_pending[static_cast<std::size_t>(k)] +=
                    s.chan.chan_node_conc[k][last][L] * v;
        s.constituent_outflow_volume = 0.0;
        move_slot(s, sl.channel_outlet);
    }
    if (s.stream_loss && clock_due(s, sl.groundwater)) {
        const double dt = (s.now_days - sl.groundwater.last) * 86400.0;
        for (int k = 1; k <= nc; ++k) channel_gw_mass_exchange(s, k, dt);
        move_slot(s, sl.groundwater);
    }
}

void route_channel_constituents(model_state &s) {
    if (!s.chan_con_trans || !clock_due(s, s.channel_constituent_clock) || !ready(s)) return;
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    const double dt = (s.now_days - s.channel_constituent_clock.last) * 86400.0;
    const int L = net.link_count;
    for (int k = 1; k <= s.constituent_count; ++k) {
        for (int l = L; l >= 1; --l) {
            if (!routed_link(net.link_type[l])) continue;
            for (int n = nodes_of(net, l); n >= 1; --n)
                w.wq_rate[n][l] = node_mass_sources(s, k, n, l, l == L && n == nodes_of(net, l), dt);
        }
        if (channel_wq_route(s, k, dt) != 0) return;
        channel_work::mass_terms &st = w.wq_step[static_cast<std::size_t>(k)];
        channel_work::mass_terms &run = w.wq_run[static_cast<std::size_t>(k)];
        channel_work::mass_terms &ev = w.wq_event[static_cast<std::size_t>(k)];
        for (channel_work::mass_terms *t : {&run, &ev}) {
            t->outlet += st.outlet / 1000.0;
            t->exchange += st.exchange / 1000.0;
            t->groundwater += st.groundwater / 1000.0;
            t->decay += st.decay / 1000.0;
            t->clipped += st.clipped / 1000.0;
        }
        s.GLOBAL_MASS_OUT[k] += st.outlet / 1000.0;
        s.GLOBAL_MASS_DECAY[k] += st.decay / 1000.0;
        s.GLOBAL_GW_MASS[k] += st.groundwater / 1000.0;
        st = channel_work::mass_terms{};
    }
    s.channel_constituent_clock.last = s.now_days;
    s.channel_constituent_clock.next = s.channel_clock.next;
    for (int l = 1; l <= L; ++l)
        for (int n = 1; n <= net.max_node_count; ++n) {
            w.wq_previous_area[n][l] = w.area[n][l];
            w.face_volume[n][l] = 0.0;
        }
    grid_stream_data &g = s.channels.gst;
    if (s.stream_loss && !w.gst_qriv_vol.empty())
        for (int i = 1; i <= g.cell_count; ++i)
            for (int j = 1; j <= g.entry_count[i]; ++j) w.gst_qriv_vol[i][j] = 0.0;
}
