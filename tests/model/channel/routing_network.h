// Small channel networks built by hand in a run state for the routing tests.
#pragma once

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/input/channel_file.h"
#include "model/model_state.h"

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

inline double channel_volume(const model_state &s) {
    double v = 0.0;
    const channel_network &net = s.channels;
    for (int l = 1; l <= net.link_count; ++l)
        for (int k = 1; k <= net.comp_node_count[l]; ++k) v += s.chan.area[k][l] * net.dx[l];
    return v;
}

}  // namespace routing_test
