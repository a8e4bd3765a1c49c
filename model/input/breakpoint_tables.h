// Break-point cross-sections of one link turned into per-node property tables:
// one section for all nodes, two or more sections with interpolated tables in
// between, or (erodible links) a resampled section and a table per node. Called
// by the channel file readers when a link's last section has been read.
#pragma once

#include <vector>

struct model_state;

// One cross-section as read: the node that carries it, its pair and level counts
// and the (station, elevation) pairs at x[1..npairs], y[1..npairs].
struct breakpoint_section {
    int node = 0;
    int npairs = 0;
    int ninterp = 0;
    std::vector<double> x, y;
};

// Builds the tables of link `link` (type 20 or 21) from its sections (at least
// one, in file order), numbering new tables from table_counter + 1 and setting
// table_num of every node 1..node count. 0 on success; -1 after a stop (message
// printed, code 4000).
int interp_breakpoint_xsecs(model_state &state, int link, std::vector<breakpoint_section> &sections,
                            int &table_counter);

// Tables that a link of this type and these section nodes needs: every node for an
// erodible link, the nodes from the first to the last section node otherwise.
int breakpoint_table_count(int type, int node_count, int first_section_node,
                           int last_section_node);
