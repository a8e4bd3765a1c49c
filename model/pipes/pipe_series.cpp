// One output time of the pipe-network series files (PIPE_HEAD, PIPE_TILE,
// PIPE_FLOW): the water-surface elevation of every node, the tile-drain inflow of
// every node and the flow of every pipe. Called by the time-series writer.
#include <cstddef>
#include <cstdio>

#include "model/output/hydrographs.h"
#include "model/output/link_node_series.h"
#include "model/core/model_state.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Node counts N + 1 and the heads of every node, formed at each output time.
bool form_node_heads(model_state &s) {
    const superlink_network &p = s.superlinks;
    superlink_step_state &w = s.superlink_work;
    if (w.head_node_count.empty() || w.node_head.empty()) {
        if (alloc_1d_int(w.head_node_count, p.num_superlinks) != 0 ||
            alloc_2d_double(w.node_head, p.max_slink_pipes + 1, p.num_superlinks, "node_head") != 0)
            return false;
    }
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const int nodes = p.link_node_count[at(l)] + 1;
        w.head_node_count[at(l)] = nodes;
        for (int k = 1; k <= nodes; ++k)
            w.node_head[at(k)][at(l)] = p.slink_node_Zinv[at(k)][at(l)] + p.slink_node_depth[at(k)][at(l)];
    }
    return true;
}

}  // namespace

void write_pipe_series_step(model_state &s) {
    if (!s.pipe_head_file && !s.pipe_tile_file && !s.pipe_flow_file) return;
    const superlink_network &p = s.superlinks;
    superlink_step_state &w = s.superlink_work;
    const int block = w.series_blocks;
    if (s.pipe_head_file && form_node_heads(s)) {
        write_linknode_step_simple(s.pipe_head_file, block, p.num_superlinks, w.head_node_count,
                                   w.node_head);
        std::fflush(s.pipe_head_file);
    }
    if (s.pipe_tile_file) {
        write_linknode_step_simple(s.pipe_tile_file, block, p.num_superlinks, p.link_node_count,
                                   s.superlink_tile_flow);
        std::fflush(s.pipe_tile_file);
    }
    if (s.pipe_flow_file) {
        write_linknode_step_simple(s.pipe_flow_file, block, p.num_superlinks, p.link_node_count,
                                   w.Q);
        std::fflush(s.pipe_flow_file);
    }
    w.series_blocks = block + 1;
}
