// Sources and sinks of the overland constituents, run by the overland sources
// piece at their own slots: rain-borne mass, release from the land pool, the
// first-order loss and the mass exchanged with the channel nodes.
#include <algorithm>

#include "model/channel/channel_network.h"
#include "model/constituents/constituent_transport.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"

namespace tt = transport_table;

int constituent_lake_of_cell(const model_state &s, int i) {
    if (s.channel_lake_count <= 0 || s.cell_channel_lake.empty() || s.chan.lake_conc.empty())
        return 0;
    if (i < 1 || static_cast<std::size_t>(i) > s.cell_channel_lake.last()) return 0;
    return s.cell_channel_lake[static_cast<std::size_t>(i)];
}

double *constituent_row(model_state &s, int table, int k) {
    return table_value(k, s.transport_tables[static_cast<std::size_t>(table)]);
}

namespace {
double at_or_zero(const array_1d<double> &a, int i) {
    return a.empty() || static_cast<std::size_t>(i) > a.last() ? 0.0
                                                              : a[static_cast<std::size_t>(i)];
}
}  // namespace

void rain_constituent_mass(model_state &s, int k, double dx, double dt) {
    const array_1d<double> &rain = s.net_rain_rate.empty() ? s.rain_rate : s.net_rain_rate;
    double *conc = constituent_row(s, tt::concentration, k);
    double *mass = constituent_row(s, tt::mass, k);
    double *acc = constituent_row(s, tt::rain_mass, k);
    double *snow = constituent_row(s, tt::snow_mass, k);
    array_1d<double> &snowfall = s.constituent_snowfall;
    const double area = dx * dx;
    double into_snow = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        // What fell as snow lies in the snow pack with its mass.
        const double fallen = at_or_zero(snowfall, i);
        if (fallen > 0.0 && k == s.constituent_count) snowfall[static_cast<std::size_t>(i)] = 0.0;
        if (constituent_lake_of_cell(s, i) >= 1) continue;
        const double rate = at_or_zero(rain, i) / 3600000.0;
        double added = s.precip_conc[k] * rate * area * dt;
        if (fallen > 0.0) {
            const double held = std::min(added, s.precip_conc[k] * fallen * area);
            snow[i] += held;
            into_snow += held;
            added -= held;
        }
        mass[i] += added;
        acc[i] += added;
        const double h = at_or_zero(s.previous_depth, i) + rate * dt;
        if (h > 1e-16) conc[i] = mass[i] / (h * area);
    }
    post_mass(s, k, ledger_node::atmosphere, ledger_node::snow, into_snow);
}

void release_snow_constituents(model_state &s, int i, double melt, double part) {
    if (!s.ov_con_trans_mode || i < 1 || i > s.cell_count) return;
    const double area = s.cell_size * s.cell_size;
    // The melt joins the water the transport starts its next step from.
    if (!s.previous_depth.empty()) s.previous_depth[static_cast<std::size_t>(i)] += melt;
    const double h = s.depth[static_cast<std::size_t>(i)];
    for (int k = 1; k <= s.constituent_count; ++k) {
        double &held = constituent_row(s, tt::snow_mass, k)[i];
        if (!(held > 0.0)) continue;
        const double given = part >= 1.0 ? held : held * part;
        held -= given;
        double &mass = constituent_row(s, tt::mass, k)[i];
        mass += given;
        if (h > 1e-16) constituent_row(s, tt::concentration, k)[i] = mass / (h * area);
        post_mass(s, k, ledger_node::snow, ledger_node::surface, given);
    }
}

void ov_pool_release(model_state &s, int k, double dx, double dt) {
    const double *conc = constituent_row(s, tt::concentration, k);
    const double *sat = constituent_row(s, tt::saturation_conc, k);
    const double *rate = constituent_row(s, tt::release_rate, k);
    double *pool = constituent_row(s, tt::land_pool, k);
    double *acc = constituent_row(s, tt::release_accumulator, k);
    for (int i = 1; i <= s.cell_count; ++i) {
        const double h = s.depth[static_cast<std::size_t>(i)];
        if (constituent_lake_of_cell(s, i) >= 1 || h < 1e-16) continue;
        const double hp = at_or_zero(s.previous_depth, i);
        double flux = (sat[i] - conc[i]) * rate[i] * (hp + h) * 0.5 * dx * dx * dt;
        if (flux < 0.0) flux = 0.0;
        if (flux > pool[i]) flux = pool[i];
        acc[i] += flux;
        pool[i] -= flux;
    }
}

void ov_first_order_loss(model_state &s, int k, double dx, double dt) {
    const double *conc = constituent_row(s, tt::concentration, k);
    const double *decay = constituent_row(s, tt::decay_coef, k);
    double *acc = constituent_row(s, tt::loss_accumulator, k);
    for (int i = 1; i <= s.cell_count; ++i) {
        const double h = s.depth[static_cast<std::size_t>(i)];
        if (constituent_lake_of_cell(s, i) >= 1 || h < 1e-16) continue;
        const double hp = at_or_zero(s.previous_depth, i);
        acc[i] += decay[i] * conc[i] * (hp + h) * 0.5 * dx * dx * dt;
        const double available = conc[i] * dx * dx * std::min(hp, h);
        if (acc[i] > available) acc[i] = available;
    }
}

void stream_exchange_mass(model_state &s, int k, const array_2d<double> &volumes) {
    const channel_network &net = s.channels;
    const grid_stream_data &g = net.gst;
    channel_work &w = s.chan;
    if (g.entry_count.empty() || volumes.empty()) return;
    // Without channel constituents the mass only leaves the cells.
    const bool nodes = !w.chan_node_conc.empty() && k <= static_cast<int>(w.chan_node_conc.extent1());
    const double *conc = constituent_row(s, tt::concentration, k);
    double *lateral = constituent_row(s, tt::lateral_mass, k);
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            const int l = g.gst_link[i][j], n = g.gst_node[i][j], c = g.gst_gnum[i][j];
            if (l < 1 || l > net.link_count || c < 1 || c > s.cell_count) continue;
            const int type = net.link_type[l];
            if (type == link_lake || type == link_structure || type == link_taken_by_lake) continue;
            const double v = volumes[i][j];
            const double node_conc = nodes ? w.chan_node_conc[k][n][l] : 0.0;
            const double m = v >= 0.0 ? v * conc[c] : v * node_conc;
            if (nodes) w.chan_qlat_mass[k][n][l] += m;
            lateral[c] += m;
        }
}
