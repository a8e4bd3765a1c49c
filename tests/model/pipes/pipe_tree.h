// A dendritic pipe network for tests and benchmarks: junction j > 1 drains by a
// superlink of two 150 m pipes into junction j / 2, junction 1 puts its outflow
// onto its cell. Junction j lies on cell (j, 1) of a J x 2 grid of 10 m cells, the
// middle node of its superlink on (j, 2); every junction but the outlet is an
// inlet of type 5 under 5 mm of water; the cell of the middle node of superlink 1
// is joined to it.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

#include "model/core/arrays.h"
#include "model/input/watershed_mask.h"
#include "model/core/model_state.h"
#include "model/channel/channel_services.h"
#include "model/pipes/superlink_step.h"

namespace pipe_tree {

inline int level(int j) {
    int l = 0;
    while (j > 1) j /= 2, ++l;
    return l;
}

inline std::string network(int J) {
    std::string t;
    char line[160];
    auto invert = [](int j) { return 100.0 + 1.0 * level(j); };
    for (int j = 1; j <= J; ++j) {
        std::snprintf(line, sizeof line, "SJUNC %d %.1f %.1f 1.0 %d 0.0 %.1f %d %d\n", j,
                      invert(j) + 3.0, invert(j), j == 1 ? 888 : 5, 10.0 * j, 1, j);
        t += line;
    }
    for (int j = 2; j <= J; ++j) {
        const int l = j - 1, d = j / 2;
        const double top = invert(j), bottom = invert(d), mid = 0.5 * (top + bottom);
        std::snprintf(line, sizeof line, "CONNECT %d %d %d\nSLINK %d 2\n", l, j, d, l);
        t += line;
        const double z[3] = {top, mid, bottom};
        const int col[3] = {1, 2, 1}, row[3] = {j, j, d};
        for (int k = 0; k < 3; ++k) {
            std::snprintf(line, sizeof line, "NODE %d %.2f %.2f 0.0 0 0.0 0.0 %d %d\n", k + 1,
                          z[k] + 3.0, z[k], col[k], row[k]);
            t += line;
        }
        for (int k = 1; k <= 2; ++k) {
            std::snprintf(line, sizeof line, "PIPE %d 1 0.6 0.0 %.6f 0.013 150.0 0.0\n", k,
                          (top - bottom) / 300.0);
            t += line;
        }
    }
    return t;
}

// Reads the network of J junctions into s (files written in the current
// directory) and places its junctions and nodes on their cells; false on failure.
inline bool load(model_state &s, int J) {
    s.grid_rows = J;
    s.grid_cols = 2;
    alloc_2d_int(s.cell_number_grid, J + 1, 3);
    for (int i = 1; i <= J; ++i)
        for (int j = 1; j <= 2; ++j) s.cell_number_grid[i][j] = 1;
    s.cell_count = number_mask_cells(s.cell_number_grid, J, 2);
    s.cell_size = 10.0;
    s.storm_sewer_on = 1;
    for (const auto &[name, text] :
         {std::pair<const char *, std::string>{"tree.net", network(J)},
          {"tree.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 3 3\nNUMPIPES 1\nSPIPE 1 2 1.0\n"}}) {
        std::FILE *f = std::fopen(name, "w");
        if (!f) return false;
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    std::FILE *n = std::fopen("tree.net", "r");
    std::FILE *g = std::fopen("tree.gpi", "r");
    const int result = read_superlink_file(n, g, s);
    std::fclose(n);
    std::fclose(g);
    if (result != 0) return false;
    superlink_network &p = s.superlinks;
    const int L = p.num_superlinks, M = p.max_slink_pipes;
    alloc_1d_int(s.junction_cell, J);
    alloc_2d_int(s.superlink_node_gnum, M + 1, std::max(L, 1));
    alloc_2d_double(s.flow_to_superlink, M + 1, std::max(J, L), "flow_to_superlink");
    for (int j = 1; j <= J; ++j) s.junction_cell[j] = s.cell_number_grid[p.junction_row[j]][p.junction_col[j]];
    for (int l = 1; l <= L; ++l)
        for (int k = 1; k <= p.link_node_count[l]; ++k)
            s.superlink_node_gnum[k][l] = s.cell_number_grid[p.node_row[k][l]][p.node_col[k][l]];
    for (auto *a : {&s.depth, &s.discharge_x, &s.discharge_y, &s.water_table_elevation})
        alloc_1d_double(*a, s.cell_count);
    return true;
}

// One step as the coupling piece takes it, with 5 mm of water at every inlet.
inline int step(model_state &s, double dt) {
    superlink_network &p = s.superlinks;
    for (int j = 1; j <= p.num_junctions; ++j) {
        p.junc_inflow[j] = 0.0;
        s.depth[s.junction_cell[j]] = 0.005;
        s.flow_to_superlink[0][j] = 0.5;
    }
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[l] + 1; ++k) {
            p.Q_node[k][l] = 0.0;
        }
    const int result = superlink_step(s, dt);
    ++p.superlink_step_count;
    return result;
}

}  // namespace pipe_tree
