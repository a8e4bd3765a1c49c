// Seepage between channel nodes and the aquifer (per node q_gw and per entry
// rate) through the wetted perimeter of each node's section, and through the
// beds of channel lakes (per lake cell). Called by ex_flow_route and, through
// section_table_lookup, by the groundwater piece.
#include "model/channel/channel_seepage.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "model/channel/channel_services.h"
#include "model/channel/cross_sections.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"

namespace {
// Bed conductivities are read in cm/h; every seepage rate takes them in m/s.
double bed_conductivity_m_per_s(double cm_per_hour) { return cm_per_hour / 100.0 / 3600.0; }

bool skipped_type(int t) {
    return t == link_weir || t == link_lake || t == link_structure || t == link_taken_by_lake;
}

template <class T>
bool covers(const array_1d<T> &a, int cells) {
    return !a.empty() && a.last() >= static_cast<std::size_t>(cells);
}

// Grid cell of listed position t of a lake, 0 outside the watershed.
int lake_cell(const model_state &s, const channel_lake &lake, int t) {
    if (t < 1 || static_cast<std::size_t>(t) >= lake.search.size() || s.cell_number_grid.empty())
        return 0;
    const auto rc = lake.search[static_cast<std::size_t>(t)];
    if (rc[0] < 0 || rc[1] < 0) return 0;
    const std::size_t row = static_cast<std::size_t>(rc[0]), col = static_cast<std::size_t>(rc[1]);
    if (row > s.cell_number_grid.rows() || col > s.cell_number_grid.cols()) return 0;
    const int c = s.cell_number_grid[row][col];
    return c >= 1 && c <= s.cell_count ? c : 0;
}

// The cells a lake covers now: its first flooded positions of the search list.
int lake_cells(const channel_lake &lake) { return std::min(lake.flooded_cells, lake.search_count); }

bool losing_lake(const channel_network &net, int k) {
    return k >= 1 && k <= net.lake_count && static_cast<std::size_t>(k) < net.lakes.size() &&
           net.lakes[static_cast<std::size_t>(k)].loss != 0;
}
}  // namespace

void lake_bed_rates(model_state &s) {
    channel_network &net = s.channels;
    array_1d<double> &rate = s.chan.cell_lake_exchange;
    if (!s.lake_loss_flag || net.lake_count < 1 || !covers(rate, s.cell_count)) return;
    // Cells under no losing lake exchange nothing; a cell that a lake gives back
    // starts from 0 when it is flooded again.
    const bool mapped = covers(s.cell_channel_lake, s.cell_count);
    for (int c = 1; c <= s.cell_count; ++c)
        if (!mapped || !losing_lake(net, s.cell_channel_lake[c])) rate[c] = 0.0;
    // The head of the aquifer: the groundwater model's, or without it the water
    // table as read. Without either there is nothing to exchange with.
    if (!covers(s.water_table_elevation, s.cell_count) || !covers(s.elevation, s.cell_count)) {
        for (int c = 1; c <= s.cell_count; ++c) rate[c] = 0.0;
        return;
    }
    const bool gw = s.groundwater_on != 0;
    const bool coded = gw && covers(s.gw_boundary_code, s.cell_count);
    for (int k = 1; k <= net.lake_count; ++k) {
        if (!losing_lake(net, k)) continue;
        const channel_lake &lake = net.lakes[static_cast<std::size_t>(k)];
        const double t = lake.bed_thickness;  // MLAKE (m)
        if (!(t > 0.0)) {
            std::printf("The bed thickness (MLAKE) of lake %d must be above 0 (%g m).\n", k, t);
            raise_printed_error();
            return;
        }
        // The bed conductivity is the channel file's bed conductivity of the
        // lake's link (GW_BED_CONDUCTIVITY there, or the project's K_RIVER), in
        // cm/h like that of the channel beds. The seepage per unit bed area (m/s)
        // times the cell size is the rate that the exchange volumes (rate x dt x
        // cell size) take.
        const int l = lake.link;
        const bool has_k = !net.Krb.empty() && l >= 1 && l <= net.link_count;
        const double K = has_k ? bed_conductivity_m_per_s(net.Krb[1][l]) : 0.0;
        const double per_metre_of_head = K / t * s.cell_size;
        for (int j = 1; j <= lake_cells(lake); ++j) {
            const int c = lake_cell(s, lake, j);
            if (c == 0) continue;
            const double H = s.water_table_elevation[c];
            const double bottom = s.elevation[c];  // the lake bed of this cell
            double &r = rate[c];
            // With coded exchange only lake cells (code 7) exchange, wet or dry,
            // as the lake constituents take mass only through those.
            if (coded && s.gw_boundary_code[c] != 7) {
                r = 0.0;
            } else if (!gw || lake.wse <= bottom) {
                // Drainage toward the aquifer head from the lake's level (its bed
                // when it is dry over the cell); with the head at or below the
                // bed the rate keeps its value.
                const double level = lake.wse > bottom ? lake.wse : bottom;
                if (H - bottom > 1e-16) r = (H - level) * per_metre_of_head;
            } else {
                r = (H - lake.wse) * per_metre_of_head;
            }
        }
    }
}

void book_lake_bed_volumes(model_state &s, double dt) {
    channel_network &net = s.channels;
    const array_1d<double> &rate = s.chan.cell_lake_exchange;
    if (!s.lake_loss_flag || net.lake_count < 1 || !covers(rate, s.cell_count) || !(dt > 0.0))
        return;
    const bool aquifer = s.groundwater_on != 0 && covers(s.lake_loss_volume, s.cell_count);
    const bool tracer = covers(s.chan.lake_gw_volume, s.cell_count);
    const double dx = s.cell_size;
    for (int k = 1; k <= net.lake_count; ++k) {
        if (!losing_lake(net, k)) continue;
        channel_lake &lake = net.lakes[static_cast<std::size_t>(k)];
        double gain = 0.0, loss = 0.0;
        for (int j = 1; j <= lake_cells(lake); ++j) {
            const int c = lake_cell(s, lake, j);
            if (c == 0) continue;
            const double v = rate[c] * dt * dx;
            if (v > 0.0)
                gain += v;
            else
                loss -= v;
        }
        // The beds give at most what the lake holds and gains in the step: the
        // losses are scaled down together, so the volume moved is the volume booked.
        const double available = std::max(lake.volume, 0.0) + gain;
        const double scale = loss > available ? available / loss : 1.0;
        for (int j = 1; j <= lake_cells(lake); ++j) {
            const int c = lake_cell(s, lake, j);
            if (c == 0) continue;
            double v = rate[c] * dt * dx;
            if (v < 0.0) v *= scale;
            if (v == 0.0) continue;
            lake.volume += v;
            if (v > 0.0)
                lake.volume_in += v;
            else
                lake.volume_out -= v;
            if (aquifer) {
                s.lake_loss_volume[c] += v;  // the groundwater step takes it from the aquifer
            } else {
                s.water.move(ledger_node::deep_aquifer, ledger_node::channel_lakes, v);
            }
            if (tracer) s.chan.lake_gw_volume[c] += v;
        }
    }
}

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
    lake_bed_rates(s);
    if (error_record.fatal) return 0;
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
                // Seepage per unit length (m2/s): under a unit gradient to a deep
                // table, or through the bed of thickness tb (m) from the head above it.
                const double K = bed_conductivity_m_per_s(net.Krb[n][l]);
                const double tb = net.Mrb[n][l];
                if (!gw || H <= bed) {
                    rate = depth > 1e-6 ? -K * P : 0.0;
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
