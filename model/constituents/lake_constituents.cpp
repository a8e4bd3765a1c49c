// Constituents of the channel lakes, called by the two channel constituent
// pieces and by the channel constituent routing: lake source terms, the
// exchange with the aquifer, rain-borne mass, the lake update of each accepted
// sub-step, and the channel and lake balances of the run summary.
#include "model/constituents/lake_constituents.h"
#include "model/core/mass_ledger.h"

#include <algorithm>

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/constituents/channel_routing.h"
#include "model/constituents/constituent_transport.h"
#include "model/output/contaminant_summaries.h"
#include "model/core/model_state.h"

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }



// Cell of the lake's listed position t (0 outside the watershed).
int listed_cell(const model_state &s, const channel_lake &lake, int t) {
    if (t < 1 || at(t) >= lake.search.size() || s.cell_number_grid.empty()) return 0;
    const auto rc = lake.search[at(t)];
    if (rc[0] < 0 || rc[1] < 0 || at(rc[0]) > s.cell_number_grid.rows() ||
        at(rc[1]) > s.cell_number_grid.cols())
        return 0;
    const int c = s.cell_number_grid[at(rc[0])][at(rc[1])];
    return c >= 1 && c <= s.cell_count ? c : 0;
}

}  // namespace

int lake_of_link(const channel_network &net, int l) {
    if (l < 1 || l > net.link_count) return 0;
    const int t = net.link_type[l];
    if (t != link_lake && t != link_taken_by_lake) return 0;
    const int j = net.link_lake.empty() ? 0 : net.link_lake[l];
    return j >= 1 && j <= net.lake_count ? j : 0;
}

bool lake_constituents_on(const model_state &s) {
    return s.channels.lake_count > 0 && !s.chan.lake_conc.empty() && !s.chan.lake_mass.empty();
}

double lake_mass_sources(model_state &s, int k, int j, double dt) {
    channel_work &w = s.chan;
    channel_work::mass_terms &step = w.wq_step[at(k)];
    const double last = s.channel_constituent_clock.last;
    double m = w.lake_mass[k][j];
    const double m_start = m;
    // Each term its interval share, taken from its accumulator; a negative share
    // larger than what the lake holds takes only that, and the rest is refused.
    // A refused claim of the aquifer is mass that never left: nothing to book.
    auto draw = [&](double &acc, double &total, bool book_refused = true) {
        const double share = pool_depth_ratio(dt, s.now_days, s.time_tolerance_days, last, acc);
        const double taken = take_term(share, acc, m);
        if (book_refused) step.lake_refused += taken - share;
        total += taken;
        return taken;
    };
    double net = draw(w.lake_precip_mass[k][j], step.lake_rain);
    net += draw(w.lake_ov_inflow_mass[k][j], step.lake_overland);
    net += draw(w.lake_chan_exchange_mass[k][j], step.lake_exchange);
    if (s.lake_loss_flag) net += draw(w.lake_gw_mass[k][j], step.lake_groundwater, false);
    if (s.constituent_sources_on) {
        double &acc = w.lake_decay_mass[k][j];
        const double decay =
            take_removal(pool_depth_ratio(dt, s.now_days, s.time_tolerance_days, last, acc), acc, m);
        step.lake_decay += decay;
        net -= decay;
    }
    if (!(dt > 0.0)) return 0.0;
    if (m_start + net < 0.0) return -m_start / dt;
    return net / dt;
}

void lake_gw_mass_exchange(model_state &s, int k) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    if (!lake_constituents_on(s) || w.lake_gw_volume.empty()) return;
    const bool coded = s.groundwater_on && !s.gw_boundary_code.empty();
    for (int j = 1; j <= net.lake_count && at(j) < net.lakes.size(); ++j) {
        const channel_lake &lake = net.lakes[at(j)];
        if (!lake.loss) continue;
        const int cells = std::min(lake.flooded_cells, lake.search_count);
        for (int t = 1; t <= cells; ++t) {
            const int c = listed_cell(s, lake, t);
            if (c == 0 || at(c) > w.lake_gw_volume.last()) continue;
            if (coded && at(c) <= s.gw_boundary_code.last() && s.gw_boundary_code[at(c)] != 7)
                continue;
            // The aquifer carries no constituent: water from it brings none, water
            // into it takes the lake's concentration.
            const double flux = w.lake_gw_volume[at(c)];
            if (flux < 0.0) w.lake_gw_mass[k][j] += flux * w.lake_conc[k][j];
            if (k == s.constituent_count) w.lake_gw_volume[at(c)] = 0.0;
        }
    }
}

void lake_rain_mass(model_state &s, int k) {
    channel_work &w = s.chan;
    if (!lake_constituents_on(s) || at(k) > s.precip_conc.count()) return;
    const double conc = s.precip_conc[k];
    for (int j = 1; j <= s.channels.lake_count && at(j) < s.channel_lake_rain_mass.size(); ++j)
        w.lake_precip_mass[k][j] += s.channel_lake_rain_mass[at(j)] * conc;
}

void lake_wq_update(model_state &s, int k, double h) {
    channel_work &w = s.chan;
    channel_work::mass_terms &step = w.wq_step[at(k)];
    for (int j = 1; j <= s.channels.lake_count; ++j) {
        const double in = w.wq_lake_in[at(j)], out = w.wq_lake_out[at(j)];
        w.lake_chan_inflow_mass[k][j] += in;
        w.lake_chan_outflow_mass[k][j] += out;
        step.lake_in += in;
        step.lake_out += out;
        double &m = w.wq_lake_mass0[at(j)];
        m += in - out + w.wq_lake_rate[at(j)] * h;
        const double v = w.wq_lake_volume[at(j)];
        w.wq_lake_conc0[at(j)] = v > 1e-16 ? m / v : 0.0;
    }
}

void lake_node_handover(model_state &s) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    if (!lake_constituents_on(s)) return;
    const int L = net.link_count, nc = s.constituent_count;
    const bool first = w.wq_open_nodes.size() != at(L) + 1;
    if (first) w.wq_open_nodes.assign(at(L) + 1, 0);
    for (int l = 1; l <= L; ++l) {
        const int now = routed_link(net.link_type[l]) ? routed_node_count(net, l) : 0;
        int &before = w.wq_open_nodes[at(l)];
        if (first) before = now;
        if (now == before) continue;
        int j = lake_of_link(net, l);
        if (j == 0) j = chain_end(net, net.ds_link[l]).lake;
        for (int n = std::min(now, before) + 1; j >= 1 && n <= std::max(now, before); ++n) {
            const double volume = w.area[n][l] * net.dx[l];
            for (int k = 1; k <= nc; ++k) {
                channel_work::mass_terms &step = w.wq_step[at(k)];
                double &m = w.chan_node_mass[k][n][l];
                if (now < before) {
                    // Taken over: the node's mass joins the lake.
                    w.lake_mass[k][j] += m;
                    w.lake_chan_inflow_mass[k][j] += m;
                    step.lake_in += m;
                    m = 0.0;
                    w.chan_node_conc[k][n][l] = 0.0;
                } else {
                    // Given back: the node's water leaves the lake with its concentration.
                    const double c = w.lake_conc[k][j];
                    double given = c * volume;
                    if (given > w.lake_mass[k][j]) given = std::max(0.0, w.lake_mass[k][j]);
                    w.lake_mass[k][j] -= given;
                    w.lake_chan_outflow_mass[k][j] += given;
                    step.lake_out += given;
                    m = given;
                    w.chan_node_conc[k][n][l] = volume > 1e-16 ? given / volume : 0.0;
                }
            }
            if (now > before) w.wq_previous_area[n][l] = w.area[n][l];
        }
        before = now;
    }
}

double channel_constituent_mass(const model_state &s, int k) {
    const channel_network &net = s.channels;
    const channel_work &w = s.chan;
    double m = 0.0;
    if (w.chan_node_mass.empty()) return m;
    for (int l = 1; l <= net.link_count; ++l) {
        if (!routed_link(net.link_type[l])) continue;
        for (int n = 1; n <= routed_node_count(net, l); ++n) m += w.chan_node_mass[k][n][l];
    }
    return m;
}

double lake_constituent_mass(const model_state &s, int k) {
    if (!lake_constituents_on(s)) return 0.0;
    double m = 0.0;
    for (int j = 1; j <= s.channels.lake_count; ++j) m += s.chan.lake_mass[k][j];
    return m;
}

void finish_channel_constituent_balances(model_state &s) {
    channel_work &w = s.chan;
    if (!s.chan_con_trans || w.wq_step.empty()) return;
    const int nc = std::min(s.constituent_count, static_cast<int>(w.wq_step.size()) - 1);
    const std::size_t size = at(nc) + 1;
    w.wq_mass_error.assign(size, 0.0);
    for (int k = 1; k <= nc; ++k) {
        const channel_mass_account a = run_channel_account(s, k);
        const double channel = a.channel_final, lakes = a.lake_final;
        // A mass the aquifer took is an outflow, not a negative input.
        w.wq_mass_error[at(k)] = channel_balance(a).percent();
        if (at(k) <= s.GLOBAL_MASS_FINAL.count()) {
            double overland = 0.0;
            if (s.ov_con_trans_mode && at(k) <= s.OV_MASS_FINAL.count())
                overland = s.OV_MASS_FINAL[k] + s.OV_LAND_MASS_FINAL[k] +
                           overland_lake_constituent_mass(s, k) / 1000.0;
            s.GLOBAL_MASS_FINAL[k] = overland + channel + lakes;
        }
    }
}

void move_lake_cell_mass(model_state &s, int k) {
    const int n = s.cell_count;
    const bool overland_lakes = s.overland_lake_on && s.overland_lake_count > 0 &&
                                !s.overland_lake_id.empty() && s.overland_lake_id.last() >= at(n);
    const bool channel_lakes = s.channels.lake_count > 0 && !s.cell_channel_lake.empty() &&
                               s.cell_channel_lake.last() >= at(n);
    if (!overland_lakes && !channel_lakes) return;
    if (overland_lakes && (s.overland_lake_mass.empty() || s.overland_lake_mass.rows() < at(k)) &&
        alloc_2d_double(s.overland_lake_mass, s.constituent_count, s.overland_lake_count,
                        "overland_lake_mass") != 0)
        return;
    double *mass = constituent_row(s, transport_table::mass, k);
    double *conc = constituent_row(s, transport_table::concentration, k);
    array_2d<double> &into_channel_lake = s.chan.lake_ov_inflow_mass;
    double to_overland_lakes = 0.0, on_way_to_lakes = 0.0, to_channel_lakes = 0.0;
    for (int i = 1; i <= n; ++i) {
        const int ol = overland_lakes ? s.overland_lake_id[at(i)] : 0;
        const int cl = channel_lakes ? s.cell_channel_lake[at(i)] : 0;
        if ((ol < 1 || ol > s.overland_lake_count) && (cl < 1 || cl > s.channels.lake_count))
            continue;
        const double m = mass[i];
        mass[i] = conc[i] = 0.0;
        if (!(m > 0.0)) continue;
        if (ol >= 1 && ol <= s.overland_lake_count) {
            s.overland_lake_mass[at(k)][at(ol)] += m;
            to_overland_lakes += m;
        } else if (!into_channel_lake.empty() && at(k) <= into_channel_lake.rows() &&
                   at(cl) <= into_channel_lake.cols()) {
            into_channel_lake[at(k)][at(cl)] += m;
            on_way_to_lakes += m;
        } else {
            to_channel_lakes += m;  // lakes that keep no account of it
        }
    }
    post_mass(s, k, ledger_node::surface, ledger_node::overland_lakes, to_overland_lakes);
    post_mass(s, k, ledger_node::surface, ledger_node::cells_to_lakes, on_way_to_lakes);
    post_mass(s, k, ledger_node::surface, ledger_node::channel_lakes, to_channel_lakes);
}

double overland_lake_constituent_mass(const model_state &s, int k) {
    const array_2d<double> &m = s.overland_lake_mass;
    if (m.empty() || at(k) > m.rows()) return 0.0;
    double total = 0.0;
    for (int j = 1; j <= s.overland_lake_count && at(j) <= m.cols(); ++j) total += m[at(k)][at(j)];
    return total;
}

void release_lake_mass(model_state &s, int k) {
    const array_2d<double> &held = s.overland_lake_mass;
    const bool lakes = !held.empty() && at(k) <= held.rows() && !s.overland_lake_id.empty();
    double *mass = constituent_row(s, transport_table::mass, k);
    for (int w = 1; w <= s.lowspot_count && at(w) < s.lowspots.size(); ++w) {
        lowspot_record &rec = s.lowspots[at(w)];
        if (!(rec.lake_release > 0.0)) continue;
        const int from = rec.release_lake_cell, to = rec.release_cell;
        const bool cells = from >= 1 && from <= s.cell_count && to >= 1 && to <= s.cell_count;
        const int lake = lakes && cells ? s.overland_lake_id[at(from)] : 0;
        if (lake >= 1 && lake <= s.overland_lake_count && at(lake) <= held.cols()) {
            // The lake's volume does not yet count this step's outflow.
            double &m = s.overland_lake_mass[at(k)][at(lake)];
            const double volume = s.lakes[at(lake)].volume;
            const double given = volume > 0.0 ? std::min(m, m * rec.lake_release / volume) : m;
            m -= given;
            mass[to] += given;
            s.ov_from_lake_dmt[k] += given;
        }
        if (k == s.constituent_count) rec.lake_release = 0.0;
    }
}
