// Node discharges of the channel network for the routing passes: diffusive-wave
// Manning flow between nodes, joins to the link below or a lake, weir links,
// structure links and the outlet. Called by ex_flow_route (ex_flow_route.cpp).
#include "model/channel/link_discharge.h"

#include <cmath>
#include <cstdio>

#include "model/channel/structures.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "model/core/series.h"

namespace {

bool routed_downstream_type(int t) {
    // Every link type that has its own nodes and sections takes the slope rule.
    return t == link_trapezoid || t == link_subsurface_trapezoid || t == link_breakpoint ||
           t == link_breakpoint_erode || t == link_trapezoid_erode || t == link_breakpoint_table ||
           t == link_floodplain || t == link_trapezoid_erode2;
}

double slope_flow(double s, double k_up, double k_down) {
    return s >= 0.0 ? k_up * std::sqrt(s) : -k_down * std::sqrt(-s);
}

double lake_wse(const channel_network &net, int link) {
    const int lake = net.link_lake[link];
    if (lake < 1 || lake > net.lake_count) return 0.0;
    return net.lakes[static_cast<std::size_t>(lake)].wse;
}

// Water surface at the last node of the first upstream link of l (its lake's
// level when that link is a lake); false when l has no upstream link.
bool upstream_surface(const model_state &s, const discharge_arrays &a, int l, double &h) {
    const channel_network &net = s.channels;
    if (net.us_count[l] < 1) return false;
    const int u = net.uslinks[l][1];
    if (net.link_type[u] == link_lake || net.link_type[u] == link_taken_by_lake) {
        h = lake_wse(net, u);
        return true;
    }
    const int n = net.comp_node_count[u] > 0 ? net.comp_node_count[u] : 1;
    h = net.bel[n][u] + (*a.depth)[n][u];
    return true;
}

double node_surface(const model_state &s, const discharge_arrays &a, int n, int l) {
    return s.channels.bel[n][l] + (*a.depth)[n][l];
}

int structure_link(model_state &s, const discharge_arrays &a, int l) {
    channel_network &net = s.channels;
    array_2d<double> &q = *a.q;
    double h1 = 0.0;
    const bool has_upstream = upstream_surface(s, a, l, h1);
    const int d = net.ds_link[l];
    const double h2 = d >= 1 ? node_surface(s, a, 1, d) : h1;
    double total = 0.0, release = 0.0;
    if (has_upstream && !net.num_structs.empty() && net.num_structs[l] > 0) {
        for (int k = net.first_struct[l]; k <= net.last_struct[l]; ++k) {
            if (k < 1 || k > net.structure_count) continue;
            hydraulic_structure &e = net.structures[static_cast<std::size_t>(k)];
            switch (e.type) {
            case 1: total += weir_element_flow(e, h1, h2); break;
            case 3:
            case 4:
            case 5: {
                double qc = 0.0;
                if (culvert_element_flow(e, k, h1, h2, qc) != 0) return -1;
                total += qc;
                break;
            }
            case 6: total += elevation_series_value(e.elevation, h1); break;
            case 7: {
                const double r = time_series_value(e.series, s.now_days);
                release += r;
                total += r;
                break;
            }
            case 8: total += elevation_series_step_value(e.elevation, h1); break;
            default: break;
            }
            if (error_record.fatal) return -1;
        }
    }
    q[1][l] = total;
    if (q.rows() >= 2) q[2][l] = total;
    const std::size_t links = static_cast<std::size_t>(net.link_count) + 1;
    for (std::vector<double> *v : {&net.release_rate, &net.structure_rate, &net.release_asked, &net.release_made})
        if (v->size() != links) v->assign(links, 0.0);
    net.release_rate[static_cast<std::size_t>(l)] = release;
    net.structure_rate[static_cast<std::size_t>(l)] = total;
    return 0;
}

int weir_link(model_state &s, const discharge_arrays &a, int l) {
    const channel_network &net = s.channels;
    array_2d<double> &q = *a.q;
    double hu = 0.0;
    const int d = net.ds_link[l];
    if (!upstream_surface(s, a, l, hu) || d < 1) {
        q[1][l] = 0.0;
        if (q.rows() >= 2) q[2][l] = 0.0;
        return 0;
    }
    const int u = net.uslinks[l][1];
    const double crest = net.bel[1][l];
    const int un = net.comp_node_count[u] > 0 ? net.comp_node_count[u] : 1;
    if (net.link_type[u] != link_lake && crest < net.bel[un][u]) {
        std::printf("\nWeir crest elevation in link %d must be greater than the bed elevation\n", l);
        std::printf("at the second to the last node of of link %d.  Edit the weir crest\n", u);
        std::printf("elevation on link %d\n\n", l);
        raise_printed_error();
        return -1;
    }
    const double hd = node_surface(s, a, 1, d);
    const double flow = weir_link_flow(hu, hd, crest, net.kconv[l], net.sslope[1][l], net.bottom[1][l]);
    q[1][l] = flow;
    if (q.rows() >= 2) q[2][l] = flow;
    return 0;
}

int outlet_node(model_state &s, const discharge_arrays &a, int l) {
    channel_network &net = s.channels;
    array_2d<double> &q = *a.q;
    const int n = net.comp_node_count[l];
    if (n < 1) return 0;
    // The node above the outlet: the previous node, or for a one-node link the
    // last node of its upstream link.
    int an = n - 1, al = l;
    if (n == 1) {
        if (net.us_count[l] < 1) {
            q[n][l] = 0.0;
            return 0;
        }
        al = net.uslinks[l][1];
        an = net.comp_node_count[al];
        if (an < 1 || net.link_type[al] == link_lake || net.link_type[al] == link_taken_by_lake) {
            q[n][l] = 0.0;
            return 0;
        }
    }
    if (s.head_bound) {
        double flow = s.chan.qlat[n][l] * net.dx[l] + q[an][al];
        if ((s.stream_loss || s.lake_loss_flag) && !s.chan.qriv.empty())
            flow += s.chan.qriv[n][l] * net.dx[l];
        q[n][l] = flow;
        return 0;
    }
    const double slope = (net.bel[an][al] - net.bel[n][l]) / net.dx[l];
    if (slope < 0.0) {
        std::printf("The Outlet slope is negative.  Make sure that the bed\n");
        std::printf("elevation of the most downstream node is lower than\n");
        std::printf("the bed elevation of the node just upstream from it.\n");
        std::printf("Program stopped.\n");
        raise_printed_error();
        return -1;
    }
    q[n][l] = (*a.conv)[n][l] * std::sqrt(slope);
    return 0;
}

// The discharge from the last node of link l into the link or lake below it.
void join_flow(model_state &s, const discharge_arrays &a, int l) {
    const channel_network &net = s.channels;
    array_2d<double> &q = *a.q;
    const array_2d<double> &K = *a.conv;
    const int nx = net.comp_node_count[l];
    if (nx < 1) return;
    const int d = net.ds_link[l];
    if (d >= 1) {
        const int dt = net.link_type[d];
        const double h = node_surface(s, a, nx, l);
        if (routed_downstream_type(dt)) {
            const double sl = (h - node_surface(s, a, 1, d)) / ((net.dx[l] + net.dx[d]) * 0.5);
            q[nx][l] = slope_flow(sl, K[nx][l], K[1][d]);
        } else if (dt == link_structure || dt == link_weir) {
            q[nx][l] = q[1][d];
        } else if (dt == link_lake || dt == link_taken_by_lake) {
            const double sl = (h - lake_wse(net, d)) / (2.0 * net.dx[l]);
            q[nx][l] = sl > 0.0 ? K[nx][l] * std::sqrt(sl) : 0.0;
        }
    }
}

void ordinary_link(model_state &s, const discharge_arrays &a, int l) {
    const channel_network &net = s.channels;
    array_2d<double> &q = *a.q;
    const array_2d<double> &K = *a.conv;
    const int nx = net.comp_node_count[l];
    if (nx < 1) return;
    join_flow(s, a, l);
    // The nodes of a link are one column of the [node][link] arrays.
    const std::size_t step = q.cols() + 1, kstep = K.cols() + 1, bstep = net.bel.cols() + 1,
                      ystep = a.depth->cols() + 1;
    double *qc = q.data() + l;
    const double *kc = K.data() + l, *bc = net.bel.data() + l, *yc = a.depth->data() + l;
    const double dx = net.dx[l];
    auto at = [](std::size_t n, std::size_t stride) { return n * stride; };
    double below = bc[at(static_cast<std::size_t>(nx), bstep)] + yc[at(static_cast<std::size_t>(nx), ystep)];
    double k_below = kc[at(static_cast<std::size_t>(nx), kstep)];
    for (std::size_t n = static_cast<std::size_t>(nx) - 1; n >= 1; --n) {
        const double here = bc[at(n, bstep)] + yc[at(n, ystep)];
        const double k_here = kc[at(n, kstep)];
        qc[at(n, step)] = slope_flow((here - below) / dx, k_here, k_below);
        below = here;
        k_below = k_here;
    }
}

}  // namespace

double weir_link_flow(double hu, double hd, double c, double cf, double w, double cs) {
    double sign = 1.0, hi = hu, lo = hd;
    if (hu < hd) {
        sign = -1.0;
        hi = hd;
        lo = hu;
    }
    if (hi < c) return 0.0;
    // Below the crest the lower side does not hold back the flow.
    if (lo <= c) return sign * cf * w * (2.0 / 3.0) * std::sqrt(19.62 / 3.0) * std::pow(hi - c, 1.5);
    if (hi - lo <= 0.25)
        return 4.0 * sign * w * std::sqrt(19.62) * (lo - c) * std::sqrt(0.25 * (hi - lo));
    if ((2.0 / 3.0) * (hi - c) > lo - c)
        return sign * cf * w * (2.0 / 3.0) * std::sqrt(19.62 / 3.0) * std::pow(hi - c, 1.5);
    return sign * w * cs * std::sqrt(19.62) * std::sqrt((hi - lo) * (lo - c));
}

int channel_outlet_and_structures(model_state &s, const discharge_arrays &a) {
    channel_network &net = s.channels;
    const int last = net.link_count;
    for (int l = last; l >= 1; --l) {
        const int t = net.link_type[l];
        if (t == link_lake || t == link_taken_by_lake) continue;
        if (t == link_structure) {
            if (structure_link(s, a, l) != 0) return -1;
            continue;
        }
        if (t == link_weir) {
            if (weir_link(s, a, l) != 0) return -1;
            continue;
        }
        ordinary_link(s, a, l);
        if (net.ds_link[l] == 0 && l == last && outlet_node(s, a, l) != 0) return -1;
    }
    return 0;
}

void join_discharge(model_state &state, const discharge_arrays &a, int l) { join_flow(state, a, l); }

int routed_link_discharges(model_state &state, const discharge_arrays &a, int l) {
    ordinary_link(state, a, l);
    if (state.channels.ds_link[l] == 0 && l == state.channels.link_count) return outlet_node(state, a, l);
    return 0;
}
