// Tile-drain exchange between grid cells and pipe nodes: where a cell's water
// table stands above the water surface of a connected pipe node, groundwater
// enters the pipe. Called by the pipe-network piece of the time loop after every
// pipe-network step; the next step takes the water from the cells' aquifer and
// puts it into the nodes.
#include <cstddef>

#include "model/channel/channel_services.h"
#include "model/core/model_state.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

constexpr double tile_threshold = 0.0001;  // m of head below which nothing enters

}  // namespace

int pipe_exchange(model_state &s) {
    superlink_network &p = s.superlinks;
    for (int j = 1; j <= p.num_junctions; ++j) p.junc_inflow[at(j)] = 0.0;
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)]; ++k) p.Q_node[at(k)][at(l)] = 0.0;
    if (p.gpi_cell_count < 1) return 0;
    for (int c = 1; c <= p.gpi_cell_count; ++c)
        for (int i = 1; i <= p.gpi_npipes[at(c)]; ++i) p.gpi_rate[at(c)][at(i)] = 0.0;

    // Head of the water table of cell g over the water surface of node k of superlink l.
    auto head_over = [&](int g, int k, int l) {
        const double table = s.water_table_elevation[at(g)];
        return table - (p.slink_node_Zinv[at(k)][at(l)] + p.slink_node_depth[at(k)][at(l)]);
    };
    auto usable = [&](int g, int k, int l) {
        return g >= 1 && !s.water_table_elevation.empty() && at(g) <= s.water_table_elevation.last() &&
               l >= 1 && l <= p.num_superlinks && k >= 1 && k <= p.link_node_count[at(l)];
    };

    bool difference = false;
    for (int c = 1; c <= p.gpi_cell_count && !difference; ++c)
        for (int i = 1; i <= p.gpi_npipes[at(c)]; ++i) {
            const int g = p.gpi_gnum[at(c)][at(i)], l = p.gpi_link[at(c)][at(i)];
            const int k = p.gpi_node[at(c)][at(i)];
            if (usable(g, k, l) && head_over(g, k, l) != 0.0) {
                difference = true;
                break;
            }
        }
    if (!difference) return 0;

    if (s.superlink_tile_flow.empty()) return 0;
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)]; ++k) s.superlink_tile_flow[at(k)][at(l)] = 0.0;

    // Each connection's rate is kept for the next step, which takes that water
    // from the connection's cell.
    for (int c = 1; c <= p.gpi_cell_count; ++c)
        for (int i = 1; i <= p.gpi_npipes[at(c)]; ++i) {
            const int g = p.gpi_gnum[at(c)][at(i)], l = p.gpi_link[at(c)][at(i)];
            const int k = p.gpi_node[at(c)][at(i)];
            if (!usable(g, k, l)) continue;
            const double dh = head_over(g, k, l);
            if (!(dh > 0.0 && dh > tile_threshold)) continue;
            const double D = p.diameter[at(k)][at(l)], L = p.dx[at(k)][at(l)];
            const double K = p.superlink_pipe_conductivity[at(k)][at(l)];
            const double q = p.gpi_pct[at(c)][at(i)] * (dh * (D * 3.14159 * K / 1000.0));
            p.gpi_rate[at(c)][at(i)] = q * L;
            if (!s.tile_cell_flow.empty() && at(g) <= s.tile_cell_flow.last())
                s.tile_cell_flow[at(g)] += q * L;
            s.superlink_tile_flow[at(k)][at(l)] += q * L;
        }
    return 1;
}
