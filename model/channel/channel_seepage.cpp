// Seepage between channel nodes and the aquifer (per node q_gw and per entry
// rate) through the wetted perimeter of each node's section. Called by
// ex_flow_route and, through section_table_lookup, by the groundwater piece.
#include "model/channel/channel_seepage.h"

#include <cmath>
#include <cstdio>

#include "model/channel/channel_services.h"
#include "model/channel/cross_sections.h"
#include "model/errors.h"
#include "model/model_state.h"

namespace {
bool skipped_type(int t) {
    return t == link_weir || t == link_lake || t == link_structure || t == link_taken_by_lake;
}
}  // namespace

double seepage_perimeter(model_state &s, int n, int l, double y) {
    const channel_network &net = s.channels;
    const int t = net.link_type[l];
    const double b = net.bottom[n][l], z = net.sslope[n][l];
    if (t == 8 || t == 13 || t == 20 || t == 21) {
        section_props p;
        int beyond = 0;
        if (table_props_from_depth(net, net.table_num[n][l], y, p, beyond) != 0) {
            std::fprintf(stderr, "Error in section: Request for table beyond max. table number.\n");
            raise_printed_error();
            return -1.0;
        }
        return p.perimeter;
    }
    double p = 2.0 * y * z + b;
    if ((t == 9 || t == 14) && y > net.bankfull_dep[n][l])
        p += 2.0 * (y - net.bankfull_dep[n][l]) * net.sslope2[n][l];
    return p;
}

int stream_aquifer_exchange(model_state &s) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    grid_stream_data &g = net.gst;
    if (!s.stream_loss || w.qriv.empty() || g.entry_count.empty() || net.Krb.empty()) return 0;
    const bool gw = s.groundwater_on != 0 && !s.water_table_elevation.empty();
    const bool coded = gw && !w.gw_code_copy.empty() && s.chan_explicit;
    auto entry_ok = [&](int l, int n) {
        return l >= 1 && l <= net.link_count && !skipped_type(net.link_type[l]) && n >= 1 &&
               n <= net.comp_node_count[l];
    };
    bool work = false;
    for (int i = 1; i <= g.cell_count && !work; ++i)
        for (int j = 1; j <= g.entry_count[i] && !work; ++j) {
            const int l = g.gst_link[i][j], n = g.gst_node[i][j], c = g.gst_gnum[i][j];
            if (!entry_ok(l, n)) continue;
            const double depth = w.chan_depth[n][l];
            if (!gw) {
                work = depth > 1e-16;
                continue;
            }
            if (c < 1 || c > s.cell_count) continue;
            const double H = s.water_table_elevation[c];
            const double wse = net.bel[n][l] + depth;
            work = H > wse || (H <= net.bel[n][l] && depth > 1e-6) || (H > net.bel[n][l] && H <= wse);
        }
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= net.max_node_count; ++n) w.qriv[n][l] = 0.0;
    if (!w.gst_qriv.empty())
        for (int i = 1; i <= g.cell_count; ++i)
            for (int j = 1; j <= g.entry_count[i]; ++j) w.gst_qriv[i][j] = 0.0;
    if (!work) return 0;

    int result = 0;
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            const int l = g.gst_link[i][j], n = g.gst_node[i][j], c = g.gst_gnum[i][j];
            if (!entry_ok(l, n)) continue;
            const double depth = w.chan_depth[n][l];
            const double bed = net.bel[n][l], wse = bed + depth;
            const bool has_cell = c >= 1 && c <= s.cell_count;
            const double H = gw && has_cell ? s.water_table_elevation[c] : -1e30;
            double yw = depth > 1e-6 ? depth : 0.0;
            if (gw && H > wse) yw = H - bed;
            const double P = seepage_perimeter(s, n, l, yw);
            if (P < 0.0) return 0;
            double rate = 0.0;
            if (coded && has_cell && w.gw_code_copy[c] != 4) {
                rate = 0.0;
            } else {
                const double K = net.Krb[n][l] / 3600.0;
                const double tb = net.Mrb[n][l];
                if (!gw || H <= bed) {
                    rate = depth > 1e-6 ? K / (-100.0) * P : 0.0;
                } else if (!(tb > 0.0)) {
                    std::printf("The river bed thickness at link %d node %d must be above 0 "
                                "(%g m).\n",
                                l, n, tb);
                    raise_printed_error();
                    return 0;
                } else if (s.elevation[c] > H || wse <= H) {
                    rate = (H - wse) * (K / tb) * P;
                }
            }
            if (!w.gst_qriv.empty()) w.gst_qriv[i][j] = rate;
            w.qriv[n][l] += rate * g.gst_pct[i][j];
            if (w.qriv[n][l] > 0.0)
                result = 1;
            else if (result != 1 && w.qriv[n][l] != 0.0 && depth > 0.0)
                result = 2;
        }
    return result;
}

int section_table_lookup(model_state &s) { return stream_aquifer_exchange(s); }
