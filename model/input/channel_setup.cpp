// Channel set-up of the input reading: reads the channel input file, makes the
// routing work arrays, applies the channel hotstart, reads the hydrograph
// locations, checks the sediment options, ties the network to the grid cells and
// the pipe network, and prepares the Sacramento weights and channel constituents.
// read_input_data calls setup_channels once per run.
#include "model/input/channel_setup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/value_bounds.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/input/aquatic_env.h"
#include "model/input/channel_file.h"
#include "model/input/constituent_params.h"
#include "model/input/input_readers.h"
#include "model/input/watershed_mask.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"
#include "model/core/value_bounds.h"

namespace {

// An exchange between the channels and the aquifer is simulated.
bool exchange_on(const model_state &s) { return s.stream_loss != 0 || s.groundwater_on != 0; }

// With the aquifer simulated, a channel exchanges water with it only in the cells
// of GW_BOUNDFILE code 4: the channel cells of other codes are counted and warned
// about once, since their exchange is zero whatever the heads.
void warn_uncoded_stream_cells(model_state &s) {
    const channel_network &net = s.channels;
    const grid_stream_data &g = net.gst;
    const array_1d<int> &code = s.chan.gw_code_copy;
    if (!s.groundwater_on || code.empty() || net.Krb.empty() || g.entry_count.empty()) return;
    int uncoded = 0, first = 0;
    for (int i = 1; i <= g.cell_count; ++i) {
        bool routed_entry = false;
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            const int l = g.gst_link[i][j];
            routed_entry = routed_entry || (l >= 1 && l <= net.link_count && net.link_type[l] != link_lake &&
                                            net.link_type[l] != link_structure && net.link_type[l] != link_weir);
        }
        const int c = g.entry_count[i] >= 1 ? g.gst_gnum[i][1] : 0;
        if (!routed_entry || c < 1 || static_cast<std::size_t>(c) > code.last() || code[c] == 4) continue;
        if (++uncoded == 1) first = c;
    }
    if (uncoded == 0) return;
    std::printf("Warning: %d channel cells (the first is cell %d) carry a GW_BOUNDFILE code other than 4;\n"
                "their channels exchange no water with the aquifer. Give the channel cells code 4 for the "
                "stream-aquifer exchange.\n",
                uncoded, first);
    count_warning();
}

bool make_node_array(model_state &s, array_2d<double> &a, const char *name) {
    return chan_make(a, s.channels.max_node_count, s.channels.link_count, name);
}

void end_of_list(const std::string &name) {
    std::printf("End of file reached in file %s, exiting\n", name.c_str());
    chan_input_stop();
}

// A (link, node) of a location list, checked against the network.
bool location_ok(const model_state &s, int link, int node, const char *what,
                 const std::string &file_name) {
    const channel_network &net = s.channels;
    // Only computational nodes carry a state; the last point of a routed link only
    // bounds its last node.
    if (link >= 1 && link <= net.link_count && node >= 1 && node <= net.comp_node_count[link])
        return true;
    std::printf("Error: the %s at link %d, node %d is not a node of the channel network.\n", what,
                link, node);
    std::printf("  (file %s)\n", file_name.c_str());
    chan_input_stop();
    return false;
}

// Row and column of every cell of the cell-number grid (entries 1..N).
void cell_positions(const model_state &s, std::vector<int> &row, std::vector<int> &col) {
    row.assign(static_cast<std::size_t>(s.cell_count) + 1, 0);
    col.assign(static_cast<std::size_t>(s.cell_count) + 1, 0);
    if (s.cell_number_grid.empty()) return;
    for (std::size_t r = 0; r <= s.cell_number_grid.rows(); ++r)
        for (std::size_t c = 0; c <= s.cell_number_grid.cols(); ++c) {
            const int g = s.cell_number_grid[r][c];
            if (g >= 1 && g <= s.cell_count && row[static_cast<std::size_t>(g)] == 0) {
                row[static_cast<std::size_t>(g)] = static_cast<int>(r);
                col[static_cast<std::size_t>(g)] = static_cast<int>(c);
            }
        }
}

bool make_gst_companions(model_state &s) {
    channel_work &w = s.chan;
    const grid_stream_data &g = s.channels.gst;
    const long long rows = g.cell_count, cols = g.max_entries;
    if (!chan_make(w.gst_row, rows, cols, "gst_row") || !chan_make(w.gst_col, rows, cols, "gst_col"))
        return false;
    if (exchange_on(s) || s.chan_con_trans) {
        if (!chan_make(w.gst_qriv, rows, cols, "gst_qriv") ||
            !chan_make(w.gst_Vp, rows, cols, "gst_Vp") ||
            !chan_make(w.gst_qriv_vol, rows, cols, "gst_qriv_vol"))
            return false;
    }
    std::vector<int> row, col;
    cell_positions(s, row, col);
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            const int c = g.gst_gnum[i][j];
            if (c < 1 || c > s.cell_count) continue;
            w.gst_row[i][j] = row[static_cast<std::size_t>(c)];
            w.gst_col[i][j] = col[static_cast<std::size_t>(c)];
        }
    return true;
}

void sacramento_sum_stop() {
    std::printf("Problem, sum of the topographic indices in all channel-containing grids is "
                "<=0.0\n");
    std::printf("Program terminated\n");
    chan_input_stop();
}

double topo_of(const model_state &s, int c) {
    if (s.topo_index.empty() || c < 1 || static_cast<std::size_t>(c) > s.topo_index.last())
        return 0.0;
    return s.topo_index[c];
}

// The unnormalised Sacramento weight of a channel cell: its topographic index, or
// 1 without TOPO_INDEX, so that the base flow then reaches the channels uniformly.
double sac_weight_of(const model_state &s, int c) {
    return s.topo_index.empty() ? 1.0 : topo_of(s, c);
}

}  // namespace

// ---------------------------------------------------------------------------

void init_channel_sediment(model_state &s) {
    if (s.chan_sediment_on != 1) return;
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    const long long nodes = net.max_node_count, links = net.link_count;
    const long long classes = s.erosion.size_class_count;
    if (!make_node_array(s, w.new_bel, "new_bel") ||
        !chan_make(w.ch_wash_vol, nodes, links, classes, "ch_wash_vol") ||
        !chan_make(w.ch_sand_vol, nodes, links, classes, "ch_sand_vol") ||
        !chan_make(w.qlat_sed, nodes, links, classes, "qlat_sed") ||
        !chan_make(w.qlat_tot_sed, nodes, links, classes, "qlat_tot_sed"))
        return;
    const double porosity = s.project.sed_porosity;
    w.total_initial_sediment = 0.0;
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = net.link_type[l];
        for (int n = 1; n <= net.max_node_count; ++n) w.new_bel[n][l] = net.bel[n][l];
        if (type != link_trapezoid_erode && type != link_breakpoint_erode) continue;
        for (int n = 1; n <= net.comp_node_count[l]; ++n) {
            double v = 0.0;
            if (type == link_trapezoid_erode) {
                v = (1.0 - porosity) * net.max_eros[n][l] * net.bottom[n][l] * s.cell_size;
            } else {
                const int e = net.erode_index[l], t = net.table_num[n][l];
                if (e < 1 || t < 1 || t > net.table_count) continue;
                const int np = net.table_pairs[t], nl = net.table_interp[t];
                const double width = std::fabs(net.xbp_lnn[e][n][np] - net.xbp_lnn[e][n][1]);
                v = (1.0 - porosity) * net.dx[l] *
                    (width * (nl * net.table_dy[t] + net.max_eros[n][l]) - net.xarea[t][nl]);
                net.ch_sand_vol0[e][n] = v;
            }
            w.ch_sand_vol[n][l][0] = v;
            w.total_initial_sediment += v;
        }
    }
}

void read_channel_hotstart(model_state &s) {
    if (!s.read_chan_hotstart_on) return;
    std::FILE *f = open_run_file(s.read_chan_hotstart_name, "r");
    if (!f) {
        std::printf("Can't open channel hotstart file named %s\n", s.read_chan_hotstart_name.c_str());
        chan_input_stop();
        return;
    }
    channel_network &net = s.channels;
    std::string line;
    int line_number = 0;
    while (read_line(line, f)) {
        ++line_number;
        int link = 0, node = 0;
        double depth = 0.0, q = 0.0;
        // Every line the run wrote is "link node depth discharge"; a blank or short
        // record is passed over, but a line of other text (or of bytes that are no
        // text) is no channel state.
        if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
        const bool text = std::all_of(line.begin(), line.end(), [](char ch) {
            const unsigned char u = static_cast<unsigned char>(ch);
            return (u >= 0x20 && u < 0x7f) || u == '\t' || u == '\r' || u == '\n';
        });
        const int fields = std::sscanf(line.c_str(), "%d %d %lf %lf", &link, &node, &depth, &q);
        if (text && fields >= 1 && fields < 4) continue;
        if (!text || fields != 4) {
            std::printf("Error: line %d of the channel hotstart file %s is not a line of link, "
                        "node, depth and discharge.\n",
                        line_number, s.read_chan_hotstart_name.c_str());
            std::fclose(f);
            chan_input_stop();
            return;
        }
        if (!std::isfinite(depth) || !std::isfinite(q)) {
            std::printf("Error: the channel hotstart file %s gives link %d, node %d a depth or "
                        "discharge that is not a finite number.\n",
                        s.read_chan_hotstart_name.c_str(), link, node);
            std::fclose(f);
            chan_input_stop();
            return;
        }
        if (!within_bounds(depth, bounds::depth) || !within_bounds(q, bounds::channel_discharge)) {
            std::printf("Error: line %d of the channel hotstart file %s gives link %d, node %d the "
                        "depth %g and discharge %g; a depth is %s, a discharge %s.\n",
                        line_number, s.read_chan_hotstart_name.c_str(), link, node, depth, q,
                        bounds::depth.text, bounds::channel_discharge.text);
            std::fclose(f);
            chan_input_stop();
            return;
        }
        if (link < 1 || link > net.link_count || node < 1 || node > net.comp_node_count[link])
            continue;
        net.yp[node][link] = net.bel[node][link] + depth;
        net.qp[node][link] = q;
    }
    std::fclose(f);
}

void read_hydrograph_locations(model_state &s) {
    if (!s.in_hyd_location_on || !s.hyd_location_file) return;
    std::FILE *f = s.hyd_location_file;
    int count = 0;
    if (std::fscanf(f, "%d", &count) != 1) {
        end_of_list(s.in_hyd_location_name);
        return;
    }
    if (count < 0) {
        std::printf("Error: the hydrograph location file %s gives %d locations.\n",
                    s.in_hyd_location_name.c_str(), count);
        chan_input_stop();
        return;
    }
    s.hyd_location_link.assign(static_cast<std::size_t>(count) + 2, 0);
    s.hyd_location_node.assign(static_cast<std::size_t>(count) + 2, 0);
    for (int k = 1; k <= count; ++k) {
        int link = 0, node = 0;
        if (std::fscanf(f, "%d %d", &link, &node) != 2) {
            end_of_list(s.in_hyd_location_name);
            return;
        }
        if (!location_ok(s, link, node, "hydrograph location", s.in_hyd_location_name)) return;
        s.hyd_location_link[static_cast<std::size_t>(k)] = link;
        s.hyd_location_node[static_cast<std::size_t>(k)] = node;
    }
    s.hyd_location_count = count;
}

void read_sed_hydrograph_locations(model_state &s) {
    channel_work &w = s.chan;
    if (!s.chan_sediment_on || !w.sed_location_file) return;
    std::FILE *f = w.sed_location_file;
    const std::string &name = s.project.in_sed_loc.name;
    int count = 0;
    if (std::fscanf(f, "%d", &count) != 1 || count < 0) {
        end_of_list(name);
        return;
    }
    w.sed_location_link.assign(static_cast<std::size_t>(count) + 1, 0);
    w.sed_location_node.assign(static_cast<std::size_t>(count) + 1, 0);
    for (int k = 1; k <= count; ++k) {
        int link = 0, node = 0;
        if (std::fscanf(f, "%d %d", &link, &node) != 2) {
            end_of_list(name);
            return;
        }
        if (!location_ok(s, link, node, "sediment hydrograph location", name)) return;
        w.sed_location_link[static_cast<std::size_t>(k)] = link;
        w.sed_location_node[static_cast<std::size_t>(k)] = node;
    }
    w.sed_location_count = count;
    if (w.sed_location_out_file) {
        std::fprintf(w.sed_location_out_file, "%d\n", count);
        for (int k = 1; k <= count; ++k)
            std::fprintf(w.sed_location_out_file, "%4d %4d\n",
                         w.sed_location_link[static_cast<std::size_t>(k)],
                         w.sed_location_node[static_cast<std::size_t>(k)]);
    }
}

void read_channel_cell_maps(model_state &s) {
    if (!s.chan_explicit || s.non_ortho_channels) return;
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    if (!s.links_file || !s.nodes_file) {
        std::printf("Error: channels without NON_ORTHO_CHANNELS need the LINKS and NODES maps.\n");
        chan_input_stop();
        return;
    }
    if (!chan_make(w.cell_link, s.cell_count, "cell_link") ||
        !chan_make(w.cell_node, s.cell_count, "cell_node"))
        return;
    array_1d<double> none1, none2;
    echo_input(s, "reading channel link map from file: %s\n", s.links_name.c_str());
    read_grid_map(s.links_file, s.links_name, grid_map_cells_int, &s.grid_north, &s.grid_south,
                  &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols, s.cell_number_grid,
                  none1, none2, w.cell_link, s.grid_rows, s.grid_cols);
    if (error_record.fatal) return;
    echo_input(s, "reading channel node map from file: %s\n", s.nodes_name.c_str());
    read_grid_map(s.nodes_file, s.nodes_name, grid_map_cells_int, &s.grid_north, &s.grid_south,
                  &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols, s.cell_number_grid,
                  none1, none2, w.cell_node, s.grid_rows, s.grid_cols);
    if (error_record.fatal) return;
    int channel_cells = 0;
    for (int c = 1; c <= s.cell_count; ++c) {
        const int l = w.cell_link[c], n = w.cell_node[c];
        if (l == 0) continue;
        if (l < 0 || l > net.link_count || n < 1 || n > net.comp_node_count[l]) {
            std::printf("Error: grid cell %d has link %d and node %d in the LINKS and NODES maps, "
                        "which is not a node of the channel network.\n",
                        c, l, n);
            chan_input_stop();
            return;
        }
        ++channel_cells;
    }
    grid_stream_data &g = net.gst;
    g.cell_count = channel_cells;
    g.max_entries = 1;
    const long long rows = channel_cells;
    if (!chan_make(g.entry_count, rows, "gst_numnodes") ||
        !chan_make(g.gst_link, rows, 1, "gst_link") || !chan_make(g.gst_node, rows, 1, "gst_node") ||
        !chan_make(g.gst_gnum, rows, 1, "gst_gnum") || !chan_make(g.gst_pct, rows, 1, "gst_pct") ||
        !chan_make(g.gst_sac_weight, rows, 1, "gst_sac_weight") ||
        !chan_make(g.gst_Vlat, rows, 1, "gst_Vlat"))
        return;
    int i = 0;
    for (int c = 1; c <= s.cell_count; ++c) {
        if (w.cell_link[c] == 0) continue;
        ++i;
        g.entry_count[i] = 1;
        g.gst_link[i][1] = w.cell_link[c];
        g.gst_node[i][1] = w.cell_node[c];
        g.gst_gnum[i][1] = c;
        g.gst_pct[i][1] = 1.0;
    }
    make_gst_companions(s);
}

void setup_gridstream_cells(model_state &s) {
    if (!s.non_ortho_channels) return;
    channel_network &net = s.channels;
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = net.link_type[l];
        if (type == link_structure || type == link_lake) continue;
        if (net.dx[l] < 0.0001) {
            std::printf("\nYour channel node spacing is %f in link %d\n", net.dx[l], l);
            std::printf("You must specify a realistic value.  Program terminated.\n");
            chan_input_stop();
            return;
        }
    }
    if (!make_gst_companions(s)) return;
    // The stream cells that the overland schemes couple to the channels.
    const grid_stream_data &g = net.gst;
    if (!chan_make(s.stream_cell_id, s.cell_count, "stream_cell_id") ||
        !chan_make(s.stream_cell_level, g.cell_count, "stream_cell_level") ||
        !chan_make(s.stream_net_exchange, g.cell_count, "stream_net_exchange") ||
        !chan_make(s.stream_inflow_sum, g.cell_count, "stream_inflow_sum") ||
        !chan_make(s.stream_outflow_sum, g.cell_count, "stream_outflow_sum"))
        return;
    s.stream_cell_count = g.cell_count;
    for (int i = 1; i <= g.cell_count; ++i) {
        if (g.entry_count[i] < 1) continue;
        const int c = g.gst_gnum[i][1];
        if (c < 1 || c > s.cell_count) continue;
        s.stream_cell_id[c] = i;
        if (!s.elevation.empty() && static_cast<std::size_t>(c) <= s.elevation.last())
            s.stream_cell_level[i] = s.elevation[c];
    }
}

namespace {

// The channel link and node of the first grid-stream entry of the grid cell on
// which super-junction k stands (its own row and column); 0 and 0 when that cell
// holds no channel node.
void channel_node_under_junction(const model_state &s, int k, int &link, int &node) {
    const superlink_network &p = s.superlinks;
    link = node = 0;
    const int cell = cell_at(s.cell_number_grid, s.grid_rows, s.grid_cols,
                             int_at(p.junction_row, k), int_at(p.junction_col, k));
    if (cell == 0) return;
    const grid_stream_data &g = s.channels.gst;
    for (int i = 1; i <= g.cell_count; ++i) {
        if (int_at(g.entry_count, i) < 1 || g.gst_gnum[i][1] != cell) continue;
        link = g.gst_link[i][1];
        node = g.gst_node[i][1];
        return;
    }
}

}  // namespace

void link_superlink_outlets(model_state &s) {
    if (!s.storm_sewer_on) return;
    superlink_network &p = s.superlinks;
    channel_work &w = s.chan;
    const long long j = p.num_junctions;
    if (!chan_make(w.outlet_node, j, "outlet_node") || !chan_make(w.outlet_link, j, "outlet_link") ||
        !chan_make(w.outlet_flow, j, "outlet_flow") || !chan_make(w.outlet_level, j, "outlet_level"))
        return;
    auto value = [](const array_1d<int> &a, int k) {
        return (a.empty() || static_cast<std::size_t>(k) > a.last()) ? 0 : a[k];
    };
    for (int k = 1; k <= p.num_junctions; ++k) {
        if (value(p.junction_kind, k) != 999) continue;
        // The network file names no channel node: an outlet drains into the
        // channel node on its own grid cell.
        if (value(p.junction_channel_node, k) == 0 && value(p.junction_channel_link, k) == 0 &&
            !p.junction_channel_node.empty() && !p.junction_channel_link.empty() &&
            static_cast<std::size_t>(k) <= p.junction_channel_node.last() &&
            static_cast<std::size_t>(k) <= p.junction_channel_link.last())
            channel_node_under_junction(s, k, p.junction_channel_link[k], p.junction_channel_node[k]);
        const int node = value(p.junction_channel_node, k);
        const int link = value(p.junction_channel_link, k);
        w.outlet_node[k] = node;
        w.outlet_link[k] = link;
        if (node != 0 && link != 0) continue;
        if (node == 0) std::printf("Superlink outlet channel node not found, at superjunction %d\n", k);
        if (link == 0) std::printf("Superlink outlet channel link not found, at superjunction %d\n", k);
        std::printf("Check your superlink input file to insure that superlink outlets\n");
        std::printf("terminate on stream arcs.\n");
        chan_input_stop();
        return;
    }
}

void compute_sacramento_weights(model_state &s) {
    if (!s.sacramento_on || s.channels.link_count < 1) return;
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    if (!chan_make(w.sac_cell_weight, s.cell_count, "sac_cell_weight")) return;
    w.sac_channel_cells = 0;
    w.sac_weight_total = 0.0;
    if (!s.non_ortho_channels) {
        double sum = 0.0;
        for (int c = 1; c <= s.cell_count; ++c) {
            if (w.cell_link.empty() || w.cell_link[c] <= 0) continue;
            ++w.sac_channel_cells;
            sum += sac_weight_of(s, c);
        }
        if (sum <= 0.0) {
            sacramento_sum_stop();
            return;
        }
        for (int c = 1; c <= s.cell_count; ++c) {
            if (w.cell_link.empty() || w.cell_link[c] <= 0) continue;
            w.sac_cell_weight[c] = sac_weight_of(s, c) / sum;
            w.sac_weight_total += w.sac_cell_weight[c];
        }
        // Orthogonal channel cells are one grid-stream entry each: the entry takes
        // its cell's weight, which is where the lateral inflow reads it.
        grid_stream_data &g = net.gst;
        if (!g.gst_sac_weight.empty())
            for (int i = 1; i <= g.cell_count; ++i) {
                const int c = g.gst_gnum[i][1];
                g.gst_sac_weight[i][1] = c >= 1 && c <= s.cell_count ? w.sac_cell_weight[c] : 0.0;
            }
        return;
    }
    grid_stream_data &g = net.gst;
    std::vector<char> seen(static_cast<std::size_t>(s.cell_count) + 1, 0);
    double total_length = 0.0, index_sum = 0.0;
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            total_length += g.gst_pct[i][j] * net.dx[g.gst_link[i][j]];
            const int c = g.gst_gnum[i][j];
            if (c < 1 || c > s.cell_count || seen[static_cast<std::size_t>(c)]) continue;
            seen[static_cast<std::size_t>(c)] = 1;
            ++w.sac_channel_cells;
            w.sac_cell_weight[c] = sac_weight_of(s, c);
            index_sum += w.sac_cell_weight[c];
        }
    if (index_sum <= 0.0) {
        sacramento_sum_stop();
        return;
    }
    for (int c = 1; c <= s.cell_count; ++c)
        if (w.sac_cell_weight[c] > 1e-10) w.sac_cell_weight[c] /= index_sum;
    double sum = 0.0;
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            const int c = g.gst_gnum[i][j];
            const double length = g.gst_pct[i][j] * net.dx[g.gst_link[i][j]];
            const double cw = (c >= 1 && c <= s.cell_count) ? w.sac_cell_weight[c] : 0.0;
            const double weight = total_length > 0.0 ? length / total_length * cw : 0.0;
            if (weight <= 0.0) {
                std::printf("Problem, gst_sac_weight <=0.0\n");
                chan_input_stop();
                return;
            }
            g.gst_sac_weight[i][j] = weight;
            sum += weight;
        }
    double check = 0.0;
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            g.gst_sac_weight[i][j] /= sum;
            check += g.gst_sac_weight[i][j];
        }
    if (!s.quiet) std::printf("Sac Weights: %lf\n", check);
    w.sac_weight_total = check;
    if (std::fabs(check - 1.0) > 1e-09) {
        std::printf("Problem, summation of the Sacramento weights is not equal to 1.0.\n");
        std::printf("Program terminated.\n");
        chan_input_stop();
    }
}

void setup_channel_constituents(model_state &s) {
    if (!s.chan_con_trans) return;
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    const long long nc = static_cast<long long>(s.constituent_type.count());
    const long long nodes = net.max_node_count, links = net.link_count, lakes = net.lake_count;
    w.constituent_count = static_cast<int>(nc);
    array_3d<double> *per_node[] = {&w.chan_node_conc, &w.chan_node_mass,      &w.q_node_mass,
                                    &w.chan_point_mass_flux, &w.conc_qlat,     &w.chan_qlat_mass,
                                    &w.chan_point_conc,  &w.chan_decay_coef,   &w.chan_disp_coef,
                                    &w.chan_disp,        &w.chan_mass,         &w.chan_gw_mass};
    const char *per_node_names[] = {"chan_node_conc", "chan_node_mass", "q_node_mass",
                                    "chan_point_mass_flux", "conc_qlat", "chan_qlat_mass",
                                    "chan_point_conc", "chan_decay_coef", "chan_disp_coef",
                                    "chan_disp", "chan_mass", "chan_gw_mass"};
    if (!make_node_array(s, w.chan_point_Q, "chan_point_Q")) return;
    for (std::size_t k = 0; k < 12; ++k)
        if (!chan_make(*per_node[k], nc, nodes, links, per_node_names[k])) return;
    if (exchange_on(s) && !chan_make(w.qriv_mass, nc, nodes, links, "qriv_mass")) return;
    if (lakes > 0) {
        array_2d<double> *per_lake[] = {&w.lake_conc, &w.lake_mass, &w.lake_decay_coef,
                                        &w.lake_chan_inflow_mass, &w.lake_ov_inflow_mass,
                                        &w.lake_point_mass, &w.lake_decay_mass,
                                        &w.lake_precip_mass, &w.lake_gw_mass,
                                        &w.lake_chan_outflow_mass, &w.lake_chan_exchange_mass};
        for (array_2d<double> *a : per_lake)
            if (!chan_make(*a, nc, lakes, "lake constituents")) return;
    }
    if (!chan_make(w.face_volume, nodes, links, "face_volume") ||
        !chan_make(w.wq_previous_area, nodes, links, "wq_previous_area"))
        return;
    const grid_stream_data &g = net.gst;
    if (s.ov_con_trans_mode && s.chan_explicit && g.cell_count > 0 &&
        !chan_make(w.wq_exchange_volume, g.cell_count, g.max_entries, "wq_exchange_volume"))
        return;
    if (!chan_make(w.lake_mass_initial, nc, "lake_mass_initial") ||
        !chan_make(w.lake_mass_total, nc, "lake_mass_total"))
        return;

    // The point inputs are optional: without the card there is nothing to open.
    w.con_input.file = s.chan_con_input_name.empty() ? nullptr : open_run_file(s.chan_con_input_name, "r");
    if (!w.con_input.file && !s.chan_con_input_name.empty()) {
        std::printf("Can't open %s to read channel contaminant file \n", s.chan_con_input_name.c_str());
        std::printf("There will be no point inputs to the channel file \n");
    }
    w.con_output.file = open_run_file(s.constituent_output_name, "w");
    if (!w.con_output.file) {
        std::printf("Can't open %s to write channel contam data \n",
                    s.constituent_output_name.c_str());
        chan_input_stop();
        return;
    }
    if (w.con_input.file) {
        std::FILE *f = w.con_input.file;
        int count = 0;
        if (std::fscanf(f, "%d \n", &count) != 1 || count < 0) count = 0;
        for (int p = 1; p <= count; ++p) {
            int node = 0, link = 0;
            double q = 0.0;
            if (std::fscanf(f, "%d %d %lf\n", &node, &link, &q) != 3 || !std::isfinite(q)) {
                end_of_list(s.chan_con_input_name);
                return;
            }
            if (!location_ok(s, link, node, "channel point input", s.chan_con_input_name)) return;
            w.chan_point_Q[node][link] = q;
            for (int k = 1; k <= nc; ++k) {
                double c = 0.0;
                if (std::fscanf(f, "%lf", &c) != 1 || !std::isfinite(c)) {
                    end_of_list(s.chan_con_input_name);
                    return;
                }
                if (!within_bounds(c, bounds::concentration)) {
                    std::printf("Error: channel point input %d of %s (node %d, link %d): the "
                                "concentration %g of contaminant %d lies outside %s\n",
                                p, s.chan_con_input_name.c_str(), node, link, c, k,
                                bounds::concentration.text);
                    chan_input_stop();
                    return;
                }
                w.chan_point_conc[k][node][link] = c;
            }
            int ch = 0;
            while ((ch = std::fgetc(f)) != EOF && ch != '\n') {
            }
        }
    }
    // Initial constituent state.
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = net.link_type[l];
        if (type == link_structure || type == link_weir) continue;
        for (int k = 1; k <= nc; ++k) {
            if (type == link_lake) {
                const int lake = net.link_lake[l];
                if (lake < 1 || lake > net.lake_count) continue;
                const double volume = net.lakes[static_cast<std::size_t>(lake)].volume;
                w.lake_conc[k][lake] = s.init_chan_conc;
                w.lake_mass[k][lake] = s.init_chan_conc * volume;
                w.lake_mass_initial[k] += s.init_chan_conc * volume / 1000.0;
                w.lake_mass_total[k] += s.init_chan_conc * volume / 1000.0;
                w.lake_decay_coef[k][lake] = s.chan_decay_coef / 86400.0;
                continue;
            }
            for (int n = 1; n <= net.comp_node_count[l]; ++n) {
                w.chan_decay_coef[k][n][l] = s.chan_decay_coef / 86400.0;
                w.chan_disp_coef[k][n][l] = s.chan_disp_coef;
                if (w.area[n][l] > 1e-16) w.chan_node_conc[k][n][l] = s.init_chan_conc;
            }
        }
    }
}

namespace {

// Structure links the routing cannot carry: one without a link below it passes
// nothing (its downstream surface would be its upstream one), and a weir element
// whose crest or a culvert whose upstream invert lies below the bed of the node
// above it drains that node below empty. All are refused here, before the run.
bool structure_links_ok(const model_state &s) {
    const channel_network &net = s.channels;
    for (int l = 1; l <= net.link_count; ++l) {
        if (net.link_type[l] != link_structure) continue;
        if (net.ds_link[l] == 0) {
            std::printf("Error: structure link %d is the outlet of the channel network (its "
                        "CONNECT card names no\ndownstream link). A hydraulic structure needs "
                        "a link below it to carry its flow;\nadd an outlet channel link "
                        "downstream of link %d.\n",
                        l, l);
            chan_input_stop();
            return false;
        }
        if (net.num_structs.empty() || net.us_count[l] < 1) continue;
        const int u = net.uslinks[l][1];
        const int ut = net.link_type[u];
        if (ut == link_lake || ut == link_taken_by_lake || ut == link_structure || ut == link_weir)
            continue;
        const int un = net.comp_node_count[u];
        if (un < 1) continue;
        const double bed = net.bel[un][u];
        for (int k = net.first_struct[l]; k <= net.last_struct[l]; ++k) {
            if (k < 1 || k > net.structure_count) continue;
            const hydraulic_structure &e = net.structures[static_cast<std::size_t>(k)];
            if (!(e.upstream_invert < bed)) continue;
            if (e.type == 1) {
                std::printf("Error: the weir of structure link %d (structure %d) has its crest "
                            "(CREST_LOW_ELEV) at %.4f,\nbelow the bed elevation %.4f of the last "
                            "node (node %d) of upstream link %d.\nThe weir crest must not lie "
                            "below that bed; edit the crest elevation of link %d.\n",
                            l, k, e.upstream_invert, bed, un, u, l);
            } else if (e.type >= 3 && e.type <= 5) {
                std::printf("Error: the culvert of structure link %d (structure %d) has its "
                            "upstream invert (UPINVERT) at %.4f,\nbelow the bed elevation %.4f of "
                            "the last node (node %d) of upstream link %d.\nThe upstream invert "
                            "must not lie below that bed; edit the invert of link %d.\n",
                            l, k, e.upstream_invert, bed, un, u, l);
            } else {
                continue;
            }
            chan_input_stop();
            return false;
        }
    }
    return true;
}

}  // namespace

void check_channel_limits(model_state &s) {
    const channel_network &net = s.channels;
    if (s.chan_explicit && !(s.max_courant_number > 0.0)) {
        std::printf("Error: the MAX_COURANT_NUMBER of the channel routing must be above 0; "
                    "it is %g.\n",
                    s.max_courant_number);
        chan_input_stop();
        return;
    }
    if (!structure_links_ok(s)) return;
    if (!s.groundwater_on || net.Mrb.empty()) return;
    for (int l = 1; l <= net.link_count; ++l) {
        const int t = net.link_type[l];
        if (t == link_weir || t == link_lake || t == link_structure) continue;
        for (int n = 1; n <= net.comp_node_count[l]; ++n) {
            if (net.Mrb[n][l] > 0.0) continue;
            // M_RIVER / K_RIVER fill in only when no link of the channel file has its
            // own bed cards: the advice names the card that helps in each case.
            std::printf("Error: the river bed thickness at link %d node %d is %g m; the "
                        "channel-aquifer\nexchange needs a thickness above 0.\n",
                        l, n, net.Mrb[n][l]);
            bool cards_on_links = false;
            for (int k = 1; !net.link_mrb.empty() && k <= net.link_count &&
                            static_cast<std::size_t>(k) <= net.link_mrb.last();
                 ++k)
                cards_on_links = cards_on_links || net.link_mrb[k] > 0.0;
            if (cards_on_links)
                std::printf("Add GW_BED_THICKNESS (and GW_BED_CONDUCTIVITY) to link %d in the "
                            "channel input file %s:\nonce one link there carries them, every "
                            "link needs its own, and the project cards\nM_RIVER and K_RIVER are "
                            "not used.\n",
                            l, s.channel_input_name.c_str());
            else
                std::printf("Give M_RIVER a thickness above 0 in the project file, or "
                            "GW_BED_THICKNESS to link %d\nin the channel input file %s.\n",
                            l, s.channel_input_name.c_str());
            chan_input_stop();
            return;
        }
    }
}

// ---------------------------------------------------------------------------

void setup_channels(model_state &s) {
    if (!s.channel_input_file) return;
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    echo_input(s, "reading channel input data from file %s\n", s.channel_input_name.c_str());
    s.lake_loss_flag = read_chan_input(s.channel_input_file, s);
    if (error_record.fatal) return;
    check_channel_limits(s);
    if (error_record.fatal) return;

    if (!make_node_array(s, w.yp_max_flood, "yp_max_flood")) return;
    if (s.chan_sediment_setup == 1) s.chan_sediment_on = 1;
    if (s.chan_sediment_on == 1 && s.project.soil_erosion_value == 2) s.chan_con_trans = 1;

    init_channel_sediment(s);
    if (error_record.fatal) return;

    if (net.lake_count > 0) {
        w.total_lake_volume = 0.0;
        for (int k = 1; k <= net.lake_count; ++k)
            w.total_lake_volume += net.lakes[static_cast<std::size_t>(k)].volume;
    }
    if (s.groundwater_on && !s.gw_boundary_code.empty()) {
        if (!chan_make(w.gw_code_copy, s.cell_count, "gw_code_copy")) return;
        for (int c = 1; c <= s.cell_count && static_cast<std::size_t>(c) <= s.gw_boundary_code.last();
             ++c)
            w.gw_code_copy[c] = s.gw_boundary_code[c];
    }

    if (!make_node_array(s, w.chan_depth, "chan_depth") || !make_node_array(s, w.area, "area") ||
        !make_node_array(s, w.area_old, "area_old") || !make_node_array(s, w.conv, "conv") ||
        !make_node_array(s, w.dconv, "dconv") || !make_node_array(s, w.stdummy, "stdummy") ||
        !make_node_array(s, w.topw, "topw"))
        return;
    read_channel_hotstart(s);
    if (error_record.fatal) return;

    if (s.nutrients_on) {
        setup_stream_nutrients(s);
        if (error_record.fatal) return;
        setup_stream_constituents(s);
        if (error_record.fatal) return;
    }

    if ((exchange_on(s) || s.chan_con_trans) && !make_node_array(s, w.qriv, "qriv")) return;
    if (net.lake_count > 0 && exchange_on(s) &&
        !chan_make(w.cell_lake_exchange, s.cell_count, "cell_lake_exchange"))
        return;

    if (s.erosion.soil_erosion) {
        bool erodible = false;
        for (int l = 1; l <= net.link_count; ++l)
            erodible = erodible || net.link_type[l] == link_trapezoid_erode;
        if (!erodible) {
            // On the error stream, after what the console has been given so far, so
            // that a log of both streams ends with the reason.
            std::fflush(stdout);
            std::fprintf(stderr, "\nError: overland erosion (SOIL_EROSION) is on with channel routing, but the "
                                 "channel input file\nhas no erodible trapezoidal link (TRAP_ERODE). Sediment "
                                 "is routed only in TRAP_ERODE links:\nchange the link type of the channel "
                                 "links from TRAPEZOID to TRAP_ERODE (with MAX_EROSION)\nand run again.\n\n");
            std::fflush(stderr);
            chan_input_stop();
            return;
        }
    } else {
        s.chan_sediment_on = 0;
    }

    read_hydrograph_locations(s);
    if (error_record.fatal) return;
    read_sed_hydrograph_locations(s);
    if (error_record.fatal) return;
    w.outlet_link_count = 0;
    for (int l = 1; l <= net.link_count; ++l)
        if (net.ds_link[l] == 0) ++w.outlet_link_count;

    if (!chan_make(w.con_vect, net.max_node_count, net.link_count, "con_vect") ||
        !make_node_array(s, w.qlat, "qlat"))
        return;
    read_channel_cell_maps(s);
    if (error_record.fatal) return;
    setup_gridstream_cells(s);
    if (error_record.fatal) return;
    warn_uncoded_stream_cells(s);
    link_superlink_outlets(s);
    if (error_record.fatal) return;
    if (net.link_count > 0 && !s.non_ortho_channels) {
        cconnect(s);
        if (error_record.fatal) return;
    }
    compute_sacramento_weights(s);
    if (error_record.fatal) return;
    setup_channel_constituents(s);
}
