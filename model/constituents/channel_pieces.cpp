// The two channel constituent pieces of the time loop: decay, outlet mass,
// groundwater exchange and the rain-borne mass of the lakes at their slots, then
// the routing of every constituent through the network and its lakes with the
// step's mass terms booked into the totals.
#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/constituents/channel_routing.h"
#include "model/constituents/lake_constituents.h"
#include "model/constituents/pipe_constituents.h"
#include "model/core/mass_ledger.h"
#include "model/core/errors.h"
#include "model/hydrology/process_clocks.h"
#include "model/core/model_state.h"

namespace {

void move_slot(model_state &s, process_clock &slot) {
    slot.last = s.now_days;
    slot.next = s.channel_clock.next;
}

bool ready(model_state &s) {
    if (!s.chan_con_trans || s.channels.link_count < 1 || s.chan.chan_node_conc.empty()) return false;
    return prepare_channel_wq(s);
}

// Posts every term of a step (g) to the ledger of constituent k.
void post_terms(model_state &s, int k, const channel_work::mass_terms &st) {
    using n = ledger_node;
    post_mass(s, k, n::cells_to_channels, n::channels, st.exchange);
    post_mass(s, k, n::aquifer, n::channels, st.groundwater);
    post_mass(s, k, n::point_sources, n::channels, st.point);
    post_mass(s, k, n::mass_cleanup, n::channels, st.clipped);
    post_mass(s, k, n::pipes, n::channels, st.pipes);
    post_mass(s, k, n::channels, n::outlet, st.outlet);
    post_mass(s, k, n::channels, n::transformation, st.decay);
    post_mass(s, k, n::channels, n::channel_lakes, st.lake_in);
    post_mass(s, k, n::channel_lakes, n::channels, st.lake_out);
    post_mass(s, k, n::cells_to_lakes, n::channel_lakes, st.lake_overland);
    post_mass(s, k, n::cells_to_channels, n::channel_lakes, st.lake_exchange);
    post_mass(s, k, n::atmosphere, n::channel_lakes, st.lake_rain);
    post_mass(s, k, n::aquifer, n::channel_lakes, st.lake_groundwater);
    post_mass(s, k, n::point_sources, n::channel_lakes, st.lake_point);
    post_mass(s, k, n::channel_lakes, n::transformation, st.lake_decay);
    post_mass(s, k, n::mass_cleanup, n::cells_to_lakes, st.lake_refused);
}

// The mass the pipe network's channel outlets handed on since the last routing
// enters their nodes over the routing interval, as their water does.
void pipe_outlet_sources(model_state &s, int k, double dt) {
    const superlink_network &p = s.superlinks;
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    if (!s.storm_sewer_on || !(dt > 0.0)) return;
    for (int j = 1; j <= p.num_junctions; ++j) {
        if (p.junction_kind[static_cast<std::size_t>(j)] != 999) continue;
        const int l = int_at(w.outlet_link, j), n = int_at(w.outlet_node, j);
        if (l < 1 || l > net.link_count || !routed_link(net.link_type[l]) || n < 1 ||
            n > routed_node_count(net, l))
            continue;
        const double g = take_pipe_outlet_mass(s, k, j);
        w.wq_rate[n][l] += g / dt;
        w.wq_step[static_cast<std::size_t>(k)].pipes += g;
    }
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
        const int L = net.link_count, last = routed_node_count(net, L);
        // The channel piece has already booked and cleared the routed volume; the
        // outlet volume of its last step is kept for this slot and taken once.
        const double v = s.channel_step_outlet_volume;
        if (v > 0.0 && last >= 1)
            for (int k = 1; k <= nc; ++k)
                s.chan.wq_outlet_pending[static_cast<std::size_t>(k)] +=
                    s.chan.chan_node_conc[k][last][L] * v;
        s.channel_step_outlet_volume = 0.0;
        s.constituent_outflow_volume = 0.0;
        move_slot(s, sl.channel_outlet);
    }
    const bool lakes = lake_constituents_on(s);
    const bool lake_gw = lakes && s.lake_loss_flag;
    if ((s.stream_loss || lake_gw) && clock_due(s, sl.groundwater)) {
        const double dt = (s.now_days - sl.groundwater.last) * 86400.0;
        for (int k = 1; k <= nc; ++k) {
            if (s.stream_loss) channel_gw_mass_exchange(s, k, dt);
            if (lake_gw) lake_gw_mass_exchange(s, k);
        }
        move_slot(s, sl.groundwater);
    }
    // The rain on the lakes since the last routing, if the routing is due in this
    // turn (it moves its own slot).
    if (lakes && clock_due(s, s.channel_constituent_clock)) {
        for (int k = 1; k <= nc; ++k) lake_rain_mass(s, k);
        for (double &v : s.channel_lake_rain_mass) v = 0.0;
    }
}

void route_channel_constituents(model_state &s) {
    if (!s.chan_con_trans || !clock_due(s, s.channel_constituent_clock) || !ready(s)) return;
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    const double dt = (s.now_days - s.channel_constituent_clock.last) * 86400.0;
    const int L = net.link_count;
    const bool lakes = lake_constituents_on(s);
    if (lakes) lake_node_handover(s);
    channel_exchange_mass(s);
    for (int k = 1; k <= s.constituent_count; ++k) {
        for (int l = L; l >= 1; --l) {
            if (!routed_link(net.link_type[l])) continue;
            for (int n = routed_node_count(net, l); n >= 1; --n)
                w.wq_rate[n][l] = node_mass_sources(s, k, n, l, l == L && n == routed_node_count(net, l), dt);
        }
        pipe_outlet_sources(s, k, dt);
        if (lakes)
            for (int j = 1; j <= net.lake_count; ++j)
                w.wq_lake_rate[static_cast<std::size_t>(j)] = lake_mass_sources(s, k, j, dt);
        if (channel_wq_route(s, k, dt) != 0) return;
        channel_work::mass_terms &st = w.wq_step[static_cast<std::size_t>(k)];
        post_terms(s, k, st);
        st = channel_work::mass_terms{};
    }
    for (int j = 1; lakes && j <= net.lake_count; ++j)
        w.wq_lake_volume0[static_cast<std::size_t>(j)] = net.lakes[static_cast<std::size_t>(j)].volume;
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
