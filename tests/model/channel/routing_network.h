// Small channel networks built by hand in a run state for the routing tests.
#pragma once

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/input/channel_file.h"
#include "model/core/model_state.h"

namespace routing_test {

// One prismatic trapezoid link of nx nodes, spacing dx, bed falling by slope per
// metre from bed0, every node at depth y0.
inline void trapezoid_link(model_state &s, int nx, double dx, double b, double z, double n,
                           double slope, double bed0, double y0) {
    channel_network &net = s.channels;
    net.link_count = 1;
    net.max_node_count = nx;
    net.max_upstream = 1;
    make_link_arrays(net);
    make_node_arrays(net, true);
    channel_work &w = s.chan;
    for (auto *a : {&w.area, &w.area_old, &w.chan_depth, &w.conv, &w.dconv, &w.topw, &w.qlat,
                    &w.chan_point_Q, &w.yp_max_flood, &w.stdummy})
        chan_make(*a, nx, 1, "test");
    net.link_type[1] = link_trapezoid;
    net.node_count[1] = nx;
    net.comp_node_count[1] = nx;
    net.dx[1] = dx;
    net.manning_n[1] = n;
    net.kconv[1] = 1.0 / n;
    for (int k = 1; k <= nx; ++k) {
        net.bel[k][1] = bed0 - slope * dx * (k - 1);
        net.bottom[k][1] = b;
        net.sslope[k][1] = z;
        net.bankfull_dep[k][1] = 10.0;
        net.yp[k][1] = net.bel[k][1] + y0;
    }
    int beyond = 0;
    ex_section(s, 2, beyond);
    ex_section(s, 1, beyond);
}

// A binary tree of `links` links of `nodes` nodes each, spacing dx, draining to the
// last link (the outlet). Link i sits at place j = links + 1 - i of the tree: the
// links at places 2j and 2j + 1 flow into it. Beds fall by `slope` per metre
// towards the outlet; every node starts at depth y0. Links at places divisible by
// 7 are trapezoids with a floodplain (bankfull 0.8 y0), every third place a
// rectangle, the rest trapezoids with side slope 1.5.
inline void tree_network(model_state &s, int links, int nodes, double dx, double slope,
                         double y0) {
    channel_network &net = s.channels;
    net.link_count = links;
    net.max_node_count = nodes;
    net.max_upstream = 2;
    make_link_arrays(net);
    make_node_arrays(net, true);
    channel_work &w = s.chan;
    for (auto *a : {&w.area, &w.area_old, &w.chan_depth, &w.conv, &w.dconv, &w.topw, &w.qlat,
                    &w.chan_point_Q, &w.yp_max_flood, &w.stdummy})
        chan_make(*a, nodes, links, "test");
    auto link_at = [links](int j) { return links + 1 - j; };
    for (int i = 1; i <= links; ++i) {
        const int j = links + 1 - i;
        int level = 0;
        for (int k = j; k > 1; k /= 2) ++level;
        const bool floodplain = j % 7 == 0;
        net.link_type[i] = floodplain ? link_floodplain : link_trapezoid;
        net.node_count[i] = nodes;
        net.comp_node_count[i] = nodes;
        net.dx[i] = dx;
        net.manning_n[i] = 0.03 + 0.002 * (j % 5);
        net.kconv[i] = 1.0 / net.manning_n[i];
        net.ds_link[i] = j > 1 ? link_at(j / 2) : 0;
        for (int c = 2 * j; c <= 2 * j + 1 && c <= links; ++c)
            net.uslinks[i][++net.us_count[i]] = link_at(c);
        for (int k = 1; k <= nodes; ++k) {
            // Distance along the flow path from this node to the end of the outlet link.
            const double along = (level * nodes + (nodes - k) + 1) * dx;
            net.bel[k][i] = 100.0 + slope * along;
            net.bottom[k][i] = 4.0 + (j % 3 == 0 ? 2.0 : 0.0) + 0.01 * level;
            net.sslope[k][i] = j % 3 == 0 ? 0.0 : 1.5;
            net.sslope2[k][i] = 8.0;
            net.bankfull_dep[k][i] = floodplain ? 0.8 * y0 : 10.0;
            net.yp[k][i] = net.bel[k][i] + y0;
        }
    }
    int beyond = 0;
    ex_section(s, 2, beyond);
    ex_section(s, 1, beyond);
}

inline double channel_volume(const model_state &s) {
    double v = 0.0;
    const channel_network &net = s.channels;
    for (int l = 1; l <= net.link_count; ++l)
        for (int k = 1; k <= net.comp_node_count[l]; ++k) v += s.chan.area[k][l] * net.dx[l];
    return v;
}

}  // namespace routing_test
