// Reference copy of the channel routing step as it stood before its hot loops
// were restructured; kept unchanged so that the equality test and the benchmark
// can compare the restructured step with it. Not linked into the programs.
// Explicit diffusive-wave routing of one channel step: lake capture and release
// of nodes, Courant-limited sub-steps with a predictor and a corrector pass,
// halving of a sub-step that empties a node, and the step's volume totals.
// Called once per channel step by step_channel_routing.
#include "bench/reference/ex_flow_route_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/channel/channel_services.h"
#include "model/channel/cross_sections.h"
#include "model/channel/link_discharge.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/channel_file.h"
#include "model/core/model_state.h"
#include "model/core/series.h"

namespace reference {

namespace {

bool routed(int t) {
    return t != link_weir && t != link_lake && t != link_structure && t != link_taken_by_lake;
}

bool exchange_in_step(const model_state &s) {
    return (s.stream_loss || s.lake_loss_flag) && !s.chan.qriv.empty();
}

bool fits(const array_2d<double> &a, const channel_network &net) {
    return !a.empty() && a.rows() == static_cast<std::size_t>(net.max_node_count) &&
           a.cols() == static_cast<std::size_t>(net.link_count);
}

// Work arrays of this run's network; remade when a run brings a different one.
bool prepare_work(model_state &s) {
    channel_network &net = s.channels;
    const long long nodes = net.max_node_count, links = net.link_count;
    if (!fits(net.area_iter, net) && !chan_make(net.area_iter, nodes, links, "area_iter")) return false;
    if (!fits(net.qp_iter, net) && !chan_make(net.qp_iter, nodes, links, "qp_iter")) return false;
    if (!fits(net.qp_start, net) && !chan_make(net.qp_start, nodes, links, "qp_start")) return false;
    if (!fits(net.outflow_share, net) && !chan_make(net.outflow_share, nodes, links, "outflow_share"))
        return false;
    if (!fits(s.chan.area_old, net) && !chan_make(s.chan.area_old, nodes, links, "area_old")) return false;
    if (!fits(s.chan.qlat, net) && !chan_make(s.chan.qlat, nodes, links, "qlat")) return false;
    if (exchange_in_step(s) && !fits(net.qriv_old, net) &&
        !chan_make(net.qriv_old, nodes, links, "qriv_old"))
        return false;
    if (net.lake_count > 0) {
        if (!fits(net.lake_cover, net) && !chan_make(net.lake_cover, nodes, links, "lake_cover"))
            return false;
        if (net.status_node.empty() || net.status_node.rows() != static_cast<std::size_t>(nodes) ||
            net.status_node.cols() != static_cast<std::size_t>(links)) {
            if (!chan_make(net.status_node, nodes, links, "status_node")) return false;
        }
    }
    return true;
}

channel_lake *lake_of(channel_network &net, int link) {
    const int k = net.link_lake[link];
    if (k < 1 || k > net.lake_count) return nullptr;
    return &net.lakes[static_cast<std::size_t>(k)];
}

void sections_from(model_state &s, array_2d<double> &area) {
    section_arrays a;
    a.area = &area;
    a.depth = &s.chan.chan_depth;
    a.wse = &s.channels.yp;
    a.topw = &s.chan.topw;
    a.conv = &s.chan.conv;
    a.dconv = &s.chan.dconv;
    int beyond = 0;
    ex_section_arrays(s.channels, 1, a, beyond);
}

// Lakes take over nodes whose reach they cover and give back nodes they left.
void lake_capture_and_release(model_state &s) {
    channel_network &net = s.channels;
    grid_stream_data &g = net.gst;
    const int L = net.link_count;
    for (int l = 1; l <= L; ++l) {
        const int t = net.link_type[l];
        if (t == link_weir || t == link_lake || t == link_structure) continue;
        for (int n = 1; n <= net.max_node_count; ++n) net.lake_cover[n][l] = 0.0;
    }
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            const int l = g.gst_link[i][j], n = g.gst_node[i][j], c = g.gst_gnum[i][j];
            if (l < 1 || l > L || n < 1 || n > net.max_node_count) continue;
            const int t = net.link_type[l];
            if (t == link_weir || t == link_lake || t == link_structure) continue;
            if (c < 1 || c > s.cell_count || s.cell_channel_lake.empty() ||
                static_cast<std::size_t>(c) > s.cell_channel_lake.last())
                continue;
            if (s.cell_channel_lake[c] == 1) net.lake_cover[n][l] += g.gst_pct[i][j];
            if (net.lake_cover[n][l] > 1.001)
                std::printf("Problem with the stream capturing routine, verify channel setup "
                            "[%d][%d]:%.10lf\n",
                            n, l, net.lake_cover[n][l]);
        }
    // Capture, from the downstream end of each link.
    for (int l = L - 1; l >= 1; --l) {
        const int t = net.link_type[l];
        if (!routed(t)) continue;
        const int d = net.ds_link[l];
        if (d < 1) continue;
        for (int n = net.comp_node_count[l]; n >= 1; --n) {
            const double f = net.lake_cover[n][l];
            if (!(f > 0.999 && f < 1.001) || net.status_node[n][l]) continue;
            const bool last = n == net.comp_node_count[l];
            const bool below_held =
                last ? (net.status_node[1][d] == 1 || net.link_type[d] == link_taken_by_lake ||
                        net.link_type[d] == link_lake)
                     : net.status_node[n + 1][l] == 1;
            if (!below_held) continue;
            channel_lake *lake = lake_of(net, d);
            net.status_node[n][l] = 1;
            const double v = s.chan.area[n][l] * net.dx[l];
            if (lake) {
                lake->volume += v;
                lake->volume_in += v;
            }
            s.chan.area[n][l] = 0.0;
            net.qp[n][l] = 0.0;
            net.yp[n][l] = 0.0;
            s.chan.chan_depth[n][l] = 0.0;
            net.comp_node_count[l] -= 1;
            std::printf("node taken: [%d][%d] lake_elev: %7.2lf, dslink:%d nx: %d\n", n, l,
                        lake ? lake->wse : 0.0, d, net.comp_node_count[l]);
            if (net.comp_node_count[l] == 0) {
                std::printf("***KORVA  has overtaken link: %d***\n", l);
                net.link_type[l] = link_taken_by_lake;
                net.link_lake[l] = net.link_lake[d];
                break;
            }
        }
    }
    // Release, from the upstream end.
    for (int l = 1; l <= L - 1; ++l) {
        const int t = net.link_type[l];
        if (t == link_weir || t == link_lake || t == link_structure) continue;
        if (t == link_taken_by_lake && net.lake_cover[1][l] > 1e-16) continue;
        const int d = net.ds_link[l];
        for (int n = net.comp_node_count[l] + 1; n <= net.og_node_count[l]; ++n) {
            if (net.status_node[n][l] != 1 || net.lake_cover[n][l] != 0.0) continue;
            if (n > 1 && net.status_node[n - 1][l] == 1) continue;
            channel_lake *lake = lake_of(net, l);
            if (!lake && d >= 1) lake = lake_of(net, d);
            net.status_node[n][l] = 0;
            if (net.comp_node_count[l] < net.og_node_count[l]) {
                net.comp_node_count[l] += 1;
                if (net.comp_node_count[l] == 1) {
                    net.link_lake[l] = 0;
                    net.link_type[l] = net.og_link_type[l];
                }
            }
            const double wse = lake ? lake->wse : net.bel[n][l];
            double depth = wse - net.bel[n][l];
            if (depth < 0.0) depth = n > 1 ? net.yp[n - 1][l] - net.bel[n][l] : 0.01;
            if (depth < 0.0) depth = 0.01;
            net.yp[n][l] = net.bel[n][l] + depth;
            int beyond = 0;
            ex_section(s, 2, beyond);
            const double v = s.chan.area[n][l] * net.dx[l];
            if (lake) {
                lake->volume -= v;
                lake->volume_out += v;
            }
            std::printf("node released:[%d][%d], elev:%.1lf, depth:%.3lf, lakeelev:%.1lf, "
                        "dslink:%d,nx: %d, nx1_og: %d\n",
                        n, l, net.yp[n][l], depth, wse, d, net.comp_node_count[l],
                        net.og_node_count[l]);
        }
    }
}

bool routed_node(const channel_network &net, int l) {
    return l >= 1 && routed(net.link_type[l]) && net.comp_node_count[l] >= 1;
}

// No face takes more out of a node over h than the node holds plus its outside
// inflows over h; the reduced discharge is what the fed node receives.
void limit_outflows(model_state &s, const array_2d<double> &area, array_2d<double> &q, double h) {
    channel_network &net = s.channels;
    array_2d<double> &share = net.outflow_share;
    const int L = net.link_count;
    const bool through = L >= 1 && net.ds_link[L] == 0 && s.head_bound;
    for (int l = 1; l <= L; ++l) {
        if (!routed_node(net, l)) continue;
        const int nx = net.comp_node_count[l], d = net.ds_link[l];
        for (int n = 1; n <= nx; ++n) {
            double out = 0.0;
            if (n < nx || routed_node(net, d) || (l == L && d == 0 && !through))
                out += std::max(q[n][l], 0.0);
            if (n > 1) {
                out += std::max(-q[n - 1][l], 0.0);
            } else {
                for (int k = 1; k <= net.us_count[l]; ++k) {
                    const int u = net.uslinks[l][k];
                    if (routed_node(net, u)) out += std::max(-q[net.comp_node_count[u]][u], 0.0);
                }
            }
            double outside = 0.0;
            if (!s.chan.chan_point_Q.empty() && std::fabs(s.chan.chan_point_Q[n][l]) > 1e-6)
                outside += s.chan.chan_point_Q[n][l];
            if (!net.stream_pointsource.empty() && net.stream_pointsource[n][l])
                outside += time_series_value(net.stream_pointsource[n][l], s.now_days);
            const double gain = s.chan.qlat[n][l] * net.dx[l] + outside;
            const double held = std::max(area[n][l] * net.dx[l], 0.0) + h * std::max(gain, 0.0);
            if ((through && l == L && n == nx) || out * h <= held)
                share[n][l] = 1.0;
            else
                share[n][l] = held / (out * h);
        }
    }
    int feed_n = 0, feed_l = 0;
    if (through && routed_node(net, L)) {
        feed_n = net.comp_node_count[L] - 1;
        feed_l = L;
        if (feed_n < 1 && net.us_count[L] >= 1 && routed_node(net, net.uslinks[L][1])) {
            feed_l = net.uslinks[L][1];
            feed_n = net.comp_node_count[feed_l];
        }
    }
    const double feed_before = feed_n >= 1 ? q[feed_n][feed_l] : 0.0;
    for (int l = 1; l <= L; ++l) {
        if (!routed_node(net, l)) continue;
        const int nx = net.comp_node_count[l], d = net.ds_link[l];
        for (int n = 1; n <= nx; ++n) {
            if (n < nx) {
                if (q[n][l] > 0.0)
                    q[n][l] *= share[n][l];
                else
                    q[n][l] *= share[n + 1][l];
            } else if (routed_node(net, d)) {
                if (q[n][l] > 0.0)
                    q[n][l] *= share[n][l];
                else
                    q[n][l] *= share[1][d];
            } else if (l == L && d == 0 && !through && q[n][l] > 0.0) {
                q[n][l] *= share[n][l];
            }
        }
    }
    if (feed_n >= 1) q[net.comp_node_count[L]][L] += q[feed_n][feed_l] - feed_before;
}

// Continuity update of `area` over one sub-step h with the discharges q.
void continuity(model_state &s, array_2d<double> &area, array_2d<double> &q, double h) {
    channel_network &net = s.channels;
    const int L = net.link_count;
    limit_outflows(s, area, q, h);
    const bool exchange = exchange_in_step(s);
    const bool points = !s.chan.chan_point_Q.empty();
    const bool series = !net.stream_pointsource.empty();
    for (int l = 1; l <= L; ++l) {
        if (!routed(net.link_type[l])) continue;
        const double dx = net.dx[l];
        const int nx = net.comp_node_count[l];
        for (int n = 1; n <= nx; ++n) {
            const double V = area[n][l] * dx;
            const bool outlet = l == L && n == nx && net.ds_link[l] == 0;
            double dV = 0.0;
            if (n == 1) {
                double in = 0.0;
                for (int k = 1; k <= net.us_count[l]; ++k) {
                    const int u = net.uslinks[l][k];
                    const int un = net.comp_node_count[u];
                    if (un >= 1 && net.link_type[u] != link_lake) in += q[un][u];
                }
                dV = h * (in + s.chan.qlat[n][l] * dx - q[1][l]);
            } else if (!(outlet && s.head_bound)) {
                dV = h * (s.chan.qlat[n][l] * dx + q[n - 1][l] - q[n][l]);
            }
            if (points && std::fabs(s.chan.chan_point_Q[n][l]) > 1e-6)
                dV += h * s.chan.chan_point_Q[n][l];
            if (series && net.stream_pointsource[n][l])
                dV += h * time_series_value(net.stream_pointsource[n][l], s.now_days);
            if (exchange) {
                double qgw = s.chan.qriv[n][l];
                if (V + dV + h * dx * qgw < 0.0 && qgw < 0.0)
                    qgw = dV >= 0.0 ? -V / (dx * h) : -(V + dV) / (dx * h);
                s.chan.qriv[n][l] = qgw;
                if (!(outlet && s.head_bound)) dV += h * dx * qgw;
            }
            area[n][l] = (V + dV) / dx;
        }
    }
}

void deliver_to_lake(channel_lake &lake, double v) {
    lake.volume += v;
    if (v >= 0.0)
        lake.volume_in += v;
    else
        lake.volume_out -= v;
}

void lake_bookkeeping(model_state &s, double h) {
    channel_network &net = s.channels;
    for (int l = 1; l <= net.link_count; ++l) {
        const int t = net.link_type[l];
        if (t != link_taken_by_lake && t != link_lake) continue;
        channel_lake *lake = lake_of(net, l);
        if (!lake) continue;
        if (t == link_lake && net.ds_link[l] >= 1) {
            const double v = net.qp[1][net.ds_link[l]] * h;
            lake->volume -= v;
            if (net.qp[1][net.ds_link[l]] <= 0.0)
                lake->volume_in -= v;
            else
                lake->volume_out += v;
        }
        for (int k = 1; k <= net.us_count[l]; ++k) {
            const int u = net.uslinks[l][k];
            const int ut = net.link_type[u];
            if (ut == link_taken_by_lake || (t == link_taken_by_lake && ut == link_lake)) continue;
            const int un = net.comp_node_count[u];
            if (un >= 1) deliver_to_lake(*lake, net.qp[un][u] * h);
        }
    }
}

// Seepage volumes of the sub-step per groundwater cell (positive into the aquifer).
void seepage_volumes(model_state &s, double h) {
    channel_network &net = s.channels;
    grid_stream_data &g = net.gst;
    channel_work &w = s.chan;
    if (w.gst_qriv.empty()) return;
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) {
            const int l = g.gst_link[i][j], n = g.gst_node[i][j], c = g.gst_gnum[i][j];
            if (l < 1 || l > net.link_count || !routed(net.link_type[l])) continue;
            if (n > net.comp_node_count[l]) {
                w.gst_qriv[i][j] = 0.0;
                continue;
            }
            const double start = net.qriv_old[n][l];
            w.gst_qriv[i][j] = std::fabs(start) >= 1e-16 ? w.gst_qriv[i][j] * (w.qriv[n][l] / start) : 0.0;
            const double v = net.dx[l] * w.gst_qriv[i][j] * h * g.gst_pct[i][j];
            if (c >= 1 && c <= s.cell_count && !s.channel_seepage_volume.empty())
                s.channel_seepage_volume[c] -= v;
        }
}

// Each hydrograph location (link, node) adds its discharge over the sub-step.
void hydrograph_point_volumes(model_state &s, double h) {
    const channel_network &net = s.channels;
    std::vector<double> &volume = s.chan.hyd_point_volume;
    const int count = s.hyd_location_count;
    if (count < 1) return;
    if (volume.size() < static_cast<std::size_t>(count) + 1)
        volume.resize(static_cast<std::size_t>(count) + 1, 0.0);
    for (int k = 1; k <= count; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        if (i >= s.hyd_location_link.size() || i >= s.hyd_location_node.size()) break;
        const int l = s.hyd_location_link[i], n = s.hyd_location_node[i];
        if (l < 1 || l > net.link_count || n < 1 || n > net.max_node_count) continue;
        volume[i] += net.qp[n][l] * h;
    }
}

// The volume that point inflows and time-series inflows gave to (or, with a
// negative rate, took from) the routed nodes over an accepted sub-step, booked in
// the run's source and sink totals.
void point_input_volumes(model_state &s, double h) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    const bool points = !w.chan_point_Q.empty();
    const bool series = !net.stream_pointsource.empty();
    if (!points && !series) return;
    auto book = [&w, h](double rate) {
        if (rate > 0.0)
            w.point_source_volume += rate * h;
        else
            w.point_sink_volume -= rate * h;
    };
    for (int l = 1; l <= net.link_count; ++l) {
        if (!routed(net.link_type[l])) continue;
        for (int n = 1; n <= net.comp_node_count[l]; ++n) {
            if (points && std::fabs(w.chan_point_Q[n][l]) > 1e-6) book(w.chan_point_Q[n][l]);
            if (series && net.stream_pointsource[n][l])
                book(time_series_value(net.stream_pointsource[n][l], s.now_days));
        }
    }
}

int stop_small_step() {
    std::printf("The channel routing time step is getting really small\n");
    std::printf("less than 1/1000 of a second\n");
    std::printf("Reduce the model time step by a factor of 2 and try again.\n");
    std::printf("Program stopped.\n");
    raise_printed_error();
    return -1;
}

}  // namespace

int ex_flow_route_step(model_state &s, double dt, double c_lim) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    const int L = net.link_count;
    int result = 0;
    double outlet_volume = 0.0;
    if (L < 1 || w.area.empty()) return 0;
    if (!(c_lim > 0.0)) {
        std::printf("The Courant number limit of the channel routing must be above 0 (%g).\n",
                    c_lim);
        raise_printed_error();
        return -1;
    }
    if (!prepare_work(s)) return -1;
    const bool exchange = exchange_in_step(s);
    if (net.lake_count > 0) lake_capture_and_release(s);

    double remaining = dt, h = dt;
    while (dt > 1e-16 && remaining > 1e-16) {
        double cmax = 0.0, dmax = 0.0;
        for (int l = 1; l <= L; ++l) {
            if (!routed(net.link_type[l])) continue;
            for (int n = 1; n <= net.comp_node_count[l]; ++n) {
                if (std::isnan(w.area[n][l])) {
                    std::printf("In ex_flow_route 1:  cross-sectional area is not a number at link "
                                "%d node %d\n",
                                l, n);
                    raise_printed_error();
                    return -1;
                }
                if (net.yp[n][l] < net.bel[n][l]) {
                    std::printf("in ex_flow_route 2, negative depth at link %d node %d\n", l, n);
                    std::printf("program stopped.\n");
                    raise_printed_error();
                    return -1;
                }
                const double depth = w.chan_depth[n][l] > 0.0 ? w.chan_depth[n][l] : 0.0;
                const double c = std::sqrt(9.81 * depth) * h / net.dx[l];
                if (c > cmax) cmax = c;
            }
            // Diffusion number D h / dx^2 of each face, D = |Q| / (2 T S), T = area / depth
            // of the upstream node (of the downstream one when that is dry), S the
            // water-surface slope (no more than half the drop over either pair of faces
            // the face belongs to), not below 1e-6.
            for (int n = 1; n < net.comp_node_count[l] && net.dx[l] > 0.0; ++n) {
                auto width = [&](int k) {
                    return w.area[k][l] > 0.0 && w.chan_depth[k][l] > 0.0 ? w.area[k][l] / w.chan_depth[k][l]
                                                                          : 0.0;
                };
                const double t = width(n) > 0.0 ? width(n) : width(n + 1);
                double drop = std::fabs(net.yp[n][l] - net.yp[n + 1][l]);
                if (n > 1) drop = std::min(drop, 0.5 * std::fabs(net.yp[n - 1][l] - net.yp[n + 1][l]));
                if (n + 1 < net.comp_node_count[l]) drop = std::min(drop, 0.5 * std::fabs(net.yp[n][l] - net.yp[n + 2][l]));
                const double slope = std::max(drop, 1e-6 * net.dx[l]) / net.dx[l];
                const double q = std::fabs(net.qp[n][l]);
                if (t > 0.0 && q > 0.0) {
                    const double d = q / (2.0 * t * slope) * h / (net.dx[l] * net.dx[l]);
                    if (d > dmax) dmax = d;
                }
            }
        }
        const double split = std::max(cmax / c_lim, dmax / 0.5);
        if (split >= 1.0) h /= static_cast<int>(split + 1.0);
        if (exchange) {
            result = section_table_lookup(s);
            if (error_record.fatal) return -1;
        }
        for (int l = 1; l <= L; ++l)
            for (int n = 1; n <= net.max_node_count; ++n) {
                w.area_old[n][l] = w.area[n][l];
                if (exchange) net.qriv_old[n][l] = w.qriv[n][l];
            }

        bool accepted = false;
        for (int attempt = 0; !accepted; ++attempt) {
            if (h < 0.001 || attempt > 64) return stop_small_step();
            for (int l = 1; l <= L; ++l)
                for (int n = 1; n <= net.max_node_count; ++n) {
                    if (attempt == 0)
                        net.qp_start[n][l] = net.qp[n][l];
                    else
                        net.qp[n][l] = net.qp_start[n][l];
                }
            remaining -= h;
            if (remaining <= 0.001) {
                h += remaining;
                remaining = 0.0;
            }
            double change = 1.0;
            bool negative = false;
            for (int pass = 1; change > 0.01 && pass <= 2 && !negative; ++pass) {
                for (int l = 1; l <= L; ++l)
                    for (int n = 1; n <= net.max_node_count; ++n) {
                        w.area[n][l] = w.area_old[n][l];
                        net.area_iter[n][l] = w.area_old[n][l];
                        if (exchange) w.qriv[n][l] = net.qriv_old[n][l];
                    }
                if (pass == 2) sections_from(s, net.area_iter);
                continuity(s, net.area_iter, net.qp, h);
                for (int l = 1; l <= L; ++l)
                    for (int n = 1; n <= net.max_node_count; ++n)
                        if (net.area_iter[n][l] < 0.0) net.area_iter[n][l] = 0.0;
                sections_from(s, net.area_iter);
                // The Courant number at the depths of the nodes the predictor fills.
                double filling = 0.0;
                for (int l = 1; l <= L; ++l) {
                    if (!routed(net.link_type[l]) || !(net.dx[l] > 0.0)) continue;
                    for (int n = 1; n <= net.comp_node_count[l]; ++n) {
                        if (!(net.area_iter[n][l] > 2.0 * w.area_old[n][l])) continue;
                        const double d = w.chan_depth[n][l] > 0.0 ? w.chan_depth[n][l] : 0.0;
                        filling = std::max(filling, std::sqrt(9.81 * d) * h / net.dx[l]);
                    }
                }
                if (filling > c_lim) {
                    negative = true;
                    break;
                }
                for (int l = 1; l <= L; ++l)
                    for (int n = 1; n <= net.max_node_count; ++n) net.qp_iter[n][l] = net.qp[n][l];
                discharge_arrays da{&w.chan_depth, &w.conv, &net.qp_iter};
                if (reference::channel_outlet_and_structures(s, da) != 0) return -1;
                for (int l = 1; l <= L; ++l) {
                    const int t = net.link_type[l];
                    if (t == link_lake || t == link_taken_by_lake) continue;
                    for (int n = 1; n <= net.max_node_count; ++n)
                        net.qp[n][l] = 0.5 * (net.qp[n][l] + net.qp_iter[n][l]);
                }
                if (exchange)
                    for (int l = 1; l <= L; ++l)
                        for (int n = 1; n <= net.max_node_count; ++n) w.qriv[n][l] = net.qriv_old[n][l];
                continuity(s, w.area, net.qp, h);
                change = 0.0;
                for (int l = 1; l <= L && !negative; ++l) {
                    if (!routed(net.link_type[l])) continue;
                    for (int n = 1; n <= net.comp_node_count[l]; ++n) {
                        if (!(w.area[n][l] >= -1e-8)) {
                            negative = true;
                            break;
                        }
                        const double dif = std::fabs(w.area[n][l] - net.area_iter[n][l]);
                        if (dif > change) change = dif;
                    }
                }
            }
            if (!negative) {
                accepted = true;
                break;
            }
            // A node ran dry: retry the sub-step at half its length.
            remaining += h;
            h *= 0.5;
            for (int l = 1; l <= L; ++l)
                for (int n = 1; n <= net.max_node_count; ++n) {
                    w.area[n][l] = w.area_old[n][l];
                    if (exchange) w.qriv[n][l] = net.qriv_old[n][l];
                }
            sections_from(s, w.area);
        }
        // An accepted sub-step can leave an area just below 0 (down to -1e-8);
        // lifting it to 0 creates water, which is booked.
        for (int l = 1; l <= L; ++l)
            for (int n = 1; n <= net.max_node_count; ++n)
                if (w.area[n][l] < 0.0) {
                    if (routed(net.link_type[l]) && n <= net.comp_node_count[l])
                        w.negative_area_volume -= w.area[n][l] * net.dx[l];
                    w.area[n][l] = 0.0;
                }
        sections_from(s, w.area);
        // A pass-through outlet gives off what its node took in over the sub-step.
        const int last_n = net.comp_node_count[L];
        if (s.head_bound && net.ds_link[L] == 0 && routed(net.link_type[L]) && last_n >= 2)
            net.qp[last_n][L] = w.qlat[last_n][L] * net.dx[L] + net.qp[last_n - 1][L] +
                                (exchange ? w.qriv[last_n][L] * net.dx[L] : 0.0);
        if (net.lake_count > 0) lake_bookkeeping(s, h);
        if (exchange) seepage_volumes(s, h);
        point_input_volumes(s, h);
        const int nx = net.comp_node_count[L];
        if (nx >= 1) {
            outlet_volume += net.qp[nx][L] * h;
            s.outlet_discharge = net.qp[nx][L];
        }
        if (s.in_hyd_location_on) hydrograph_point_volumes(s, h);
    }
    s.routed_outflow_volume = outlet_volume;
    for (int l = 1; l <= L; ++l)
        for (int n = 1; n <= net.max_node_count; ++n) w.qlat[n][l] = 0.0;
    return result;
}

}  // namespace reference
