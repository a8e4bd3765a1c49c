// Lateral inflow from overland cells to channel nodes (weir flow over the bank,
// overbank exchange both ways), cconnect for the channel set-up and the running
// maximum of the channel depths. Called by the channel piece.
#include "model/channel/lateral_inflow.h"

#include <cmath>
#include <cstdio>

#include "model/channel/channel_services.h"
#include "model/channel/cross_sections.h"
#include "model/core/errors.h"
#include "model/core/model_state.h"

namespace {

bool skipped_type(int t) {
    return t == link_weir || t == link_lake || t == link_structure || t == link_taken_by_lake;
}

void report_negative(int c, int l, int n) {
    std::printf("overland flow depth is negative in lateral_inflow(), grid cell %d, link %d, "
                "node %d\n",
                c, l, n);
}

// Flow area of node (n, l) when its water surface stands at level e.
double area_at(model_state &s, int n, int l, double e) {
    channel_network &net = s.channels;
    const double keep = net.yp[n][l];
    net.yp[n][l] = e;
    int beyond = 0;
    ex_section(s, 2, beyond);
    const double a = s.chan.area[n][l];
    net.yp[n][l] = keep;
    return a;
}

}  // namespace

double bank_weir_flow(double h, double dx, double share) {
    if (h <= 0.0) return 0.0;
    return 2.0 * dx * share * (2.0 / 3.0) * std::sqrt(6.54) * std::pow(h, 1.5);
}

double submergence_factor(double r) {
    return r >= 0.75 ? 1.0 - 1024.0 * std::pow(r - 0.75, 5.0) : 1.0;
}

double lateral_inflow_step(model_state &s, double cell_size, double dt) {
    channel_network &net = s.channels;
    grid_stream_data &g = net.gst;
    channel_work &w = s.chan;
    if (net.link_count < 1 || w.qlat.empty() || g.entry_count.empty() || !(dt > 0.0)) return 0.0;
    const double cell_area = cell_size * cell_size;
    const bool lakes = net.lake_count > 0 && !s.cell_channel_lake.empty();
    // The entries that take lateral inflow.
    auto takes = [&](int i, int j) {
        const int l = g.gst_link[i][j], n = g.gst_node[i][j], c = g.gst_gnum[i][j];
        if (l < 1 || l > net.link_count || n < 1 || n > net.max_node_count) return false;
        if (c < 1 || c > s.cell_count || skipped_type(net.link_type[l])) return false;
        return !(lakes && (s.cell_channel_lake[c] >= 1 || n > net.comp_node_count[l]));
    };
    // Sacramento base flow enters at every entry that takes inflow in proportion
    // to its weight; the channels take no more than the stores have given off.
    const bool points = s.sacramento_on && !g.gst_sac_weight.empty();
    auto sac_weight = [&](int i, int j) {
        return static_cast<std::size_t>(i) <= g.gst_sac_weight.rows() &&
                       static_cast<std::size_t>(j) <= g.gst_sac_weight.cols()
                   ? g.gst_sac_weight[i][j]
                   : 0.0;
    };
    double weights = 0.0;
    for (int i = 1; points && i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j)
            if (takes(i, j)) weights += sac_weight(i, j);
    const double due = points && weights > 0.0 ? s.sac_discharge * dt : 0.0;
    double taken = std::fmax(0.0, std::fmin(due, s.sac_owed_volume));
    const double share = due > 0.0 ? taken / due / weights : 0.0;
    s.sac_owed_volume -= taken;
    const double due_taken = taken;
    double total = 0.0;
    for (int i = 1; i <= g.cell_count; ++i) {
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            if (!takes(i, j)) continue;
            const int l = g.gst_link[i][j], n = g.gst_node[i][j], c = g.gst_gnum[i][j];
            const double dx = net.dx[l], f = g.gst_pct[i][j];
            if (due > 0.0) {
                const double qp = sac_weight(i, j) * s.sac_discharge * share;
                w.qlat[n][l] += qp / dx;
                total += qp * dt;
                taken -= qp * dt;
            }
            double &h = s.depth[c];
            const double bank = net.bel[n][l] + net.bankfull_dep[n][l];
            const double hc = net.yp[n][l];
            double q = 0.0;
            bool skip_rest = false;
            if (!s.overbank_flow || hc <= bank) {
                if (h < 0.0) {
                    if (h >= -1e-05) {
                        h = 0.0;
                    } else {
                        report_negative(c, l, n);
                        skip_rest = true;
                    }
                } else if (h > 0.0) {
                    q = bank_weir_flow(h, dx, f);
                    if (h * cell_area - q * dt < 0.0) q = h * cell_area / dt;
                }
            } else {
                const double ground = s.elevation[c];
                const double ho = ground + h;
                double d = 0.0, r = 0.0;
                int dir = 0;  // 1 into the channel, -1 onto the cell
                if (ho > bank && ho > hc) {
                    dir = 1;
                    d = ho - hc;
                    r = h > 0.0 ? (hc - ground) / h : 0.0;
                } else if (ho > bank && ho < hc) {
                    dir = -1;
                    d = hc - ho;
                    r = hc - ground > 0.0 ? h / (hc - ground) : 0.0;
                } else if (ho <= bank) {
                    dir = -1;
                    d = hc - bank;
                    r = 0.0;
                }
                if (dir != 0 && d > 0.0) {
                    q = std::sqrt(6.54 * d) * (2.0 * f * dx * submergence_factor(r) / 3.0) * d;
                    if (dir > 0) {
                        if (h * cell_area - q * dt < 0.0) q = h * cell_area / dt;
                    } else {
                        const double lowered = area_at(s, n, l, hc - d);
                        const double full = area_at(s, n, l, hc);
                        int beyond = 0;
                        ex_section(s, 2, beyond);
                        const double available = (full - lowered) * dx;
                        if (q * dt > available) q = available / dt;
                        q = -q;
                    }
                }
            }
            if (skip_rest) break;
            if (q == 0.0) continue;
            const double after = h - q * dt / cell_area;
            if (after < -1e-05) {
                report_negative(c, l, n);
                break;
            }
            h = after < 0.0 ? 0.0 : after;
            w.qlat[n][l] += q / dx;
            total += q * dt;
            if (!g.gst_Vlat.empty()) g.gst_Vlat[i][j] += q * dt;
            if (!w.wq_exchange_volume.empty()) w.wq_exchange_volume[i][j] += q * dt;
        }
    }
    // What entries that take no lateral inflow would have had stays owed.
    if (taken > 0.0) s.sac_owed_volume += taken;
    const double delivered = due > 0.0 ? due_taken - taken : 0.0;
    s.water.move(ledger_node::sacramento_transit, ledger_node::channels, delivered);
    s.water.move(ledger_node::surface, ledger_node::channels, total - delivered);
    return total;
}

double lateral_inflow(model_state &s, double cell_size, double channel_dt) {
    return lateral_inflow_step(s, cell_size, channel_dt);
}

void cconnect(model_state &s) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    grid_stream_data &g = net.gst;
    if (w.con_vect.empty() || w.cell_link.empty() || g.entry_count.empty()) return;
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            const int c = g.gst_gnum[i][j];
            if (c > s.cell_count || c < 0) {
                std::printf("Warning in cconnect, vect>GNUM\n");
                count_warning();
                continue;  // no such cell: nothing to connect
            }
            if (c == 0 || static_cast<std::size_t>(c) > w.cell_link.last()) continue;
            const int l = w.cell_link[c], n = w.cell_node[c];
            if (l < 1 || l > net.link_count || n < 1 || n > net.max_node_count) continue;
            w.con_vect[n][l] = c;
        }
}

void track_max_values(const model_state &s, const array_2d<double> &value,
                      array_2d<double> &maximum) {
    const channel_network &net = s.channels;
    if (value.empty() || maximum.empty()) return;
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= net.comp_node_count[l]; ++n)
            if (maximum[n][l] < value[n][l]) maximum[n][l] = value[n][l];
}

// The flood-stream output reads yp_max_flood as depths: the running maximum is
// kept of the node depths, not of the water-surface elevations.
void track_max_channel(model_state &s) { track_max_values(s, s.chan.chan_depth, s.chan.yp_max_flood); }

// Erodible break-point links keep the highest water surface of each node, which
// the bed update reads back as the depth of the section to be reshaped.
void track_max_erodible_levels(model_state &s) {
    channel_network &net = s.channels;
    if (net.max_yp.empty() || net.erode_index.empty()) return;
    for (int l = 1; l <= net.link_count; ++l) {
        if (net.link_type[l] != link_breakpoint_erode) continue;
        const int e = net.erode_index[l];
        if (e < 1 || static_cast<std::size_t>(e) > net.max_yp.rows()) continue;
        for (int n = 1; n <= net.comp_node_count[l] && static_cast<std::size_t>(n) <= net.max_yp.cols();
             ++n)
            if (net.max_yp[e][n] < net.yp[n][l]) net.max_yp[e][n] = net.yp[n][l];
    }
}
