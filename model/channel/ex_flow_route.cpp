// Explicit diffusive-wave routing of one channel step: lake capture and release
// of nodes, Courant-limited sub-steps with a predictor and a corrector pass,
// halving of a sub-step that empties a node, and the step's volume totals.
// Called once per channel step by step_channel_routing.
#include "model/channel/ex_flow_route.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/channel/channel_services.h"
#include "model/channel/cross_sections.h"
#include "model/channel/link_discharge.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/channel_file.h"
#include "model/core/model_state.h"
#include "model/core/series.h"

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
    // sqrt(1 + z^2) of each side slope z, made again where z is not the one it
    // was made from.
    bool remade = false;
    if (!fits(net.side_factor, net) || !fits(net.side_factor_slope, net)) {
        if (!chan_make(net.side_factor, nodes, links, "side_factor") ||
            !chan_make(net.side_factor_slope, nodes, links, "side_factor"))
            return false;
        remade = true;
    }
    if (fits(net.sslope, net))
        for (long long n = 1; n <= nodes; ++n) {
            const double *z = net.sslope[static_cast<std::size_t>(n)].data();
            double *f = net.side_factor[static_cast<std::size_t>(n)].data();
            double *seen = net.side_factor_slope[static_cast<std::size_t>(n)].data();
            for (long long l = 1; l <= links; ++l)
                if (remade || !(seen[l] == z[l])) {
                    f[l] = std::sqrt(1.0 + z[l] * z[l]);
                    seen[l] = z[l];
                }
        }
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

bool same_shape(const array_2d<double> &a, const array_2d<double> &b) {
    return a.rows() == b.rows() && a.cols() == b.cols();
}

void sections_from(model_state &s, array_2d<double> &area,
                   section_parts parts = section_parts::all,
                   const std::vector<int> *links = nullptr, const std::vector<int> *nodes = nullptr) {
    section_arrays a;
    a.area = &area;
    a.depth = &s.chan.chan_depth;
    a.wse = &s.channels.yp;
    a.topw = &s.chan.topw;
    a.conv = &s.chan.conv;
    a.dconv = &s.chan.dconv;
    if (same_shape(s.channels.side_factor, s.channels.sslope)) a.side_factor = &s.channels.side_factor;
    a.links = links;
    a.node_of = nodes;
    ex_section_area_to_depth(s.channels, a, parts);
}

// The node arrays of the routing are [node][link]: a node's row holds every link.
// These run over nodes 1..max_node_count of links 1..link_count in memory order.
void copy_nodes(array_2d<double> &to, const array_2d<double> &from, const channel_network &net) {
    const std::size_t links = static_cast<std::size_t>(net.link_count);
    const std::size_t nodes = static_cast<std::size_t>(net.max_node_count);
    if (same_shape(to, from) && to.rows() >= nodes && to.cols() == links) {
        // Rows 1..nodes in one block; column 0 is unused in both.
        const std::size_t w = to.cols() + 1;
        std::memcpy(to.data() + w, from.data() + w, nodes * w * sizeof(double));
        return;
    }
    for (std::size_t n = 1; n <= nodes; ++n)
        for (std::size_t l = 1; l <= links; ++l) to[n][l] = from[n][l];
}

// The discharges of a pass: the mean of the predictor's (qp) and the corrector's
// (qp_iter) at every node of every link but lakes. With no lake link, rows
// 1..max_node_count as one block: column 0 is unused and holds the same value in
// both, which its mean keeps.
void average_discharges(channel_network &net, bool every_link) {
    const std::size_t links = static_cast<std::size_t>(net.link_count);
    const std::size_t nodes = static_cast<std::size_t>(net.max_node_count);
    if (every_link) {
        const std::size_t w = net.qp.cols() + 1;
        double *q = net.qp.data() + w;
        const double *qi = net.qp_iter.data() + w;
        for (std::size_t i = 0; i < nodes * w; ++i) q[i] = 0.5 * (q[i] + qi[i]);
        return;
    }
    for (std::size_t n = 1; n <= nodes; ++n) {
        double *q = net.qp[n].data();
        const double *qi = net.qp_iter[n].data();
        for (std::size_t l = 1; l <= links; ++l) {
            const int t = net.link_type[l];
            if (t != link_lake && t != link_taken_by_lake) q[l] = 0.5 * (q[l] + qi[l]);
        }
    }
}

// Whether any area of nodes 1..max_node_count is below 0, scanned as one block of
// rows (column 0 is unused; a value below 0 there only makes the caller look at
// links 1..link_count, which it does node by node).
bool any_below_zero(const array_2d<double> &area, const channel_network &net) {
    const std::size_t w = area.cols() + 1;
    const double *a = area.data() + w;
    for (std::size_t i = 0; i < static_cast<std::size_t>(net.max_node_count) * w; ++i)
        if (a[i] < 0.0) return true;
    return false;
}

// Flow depth at a node for the Courant number: the stored depth, 0 when not above 0.
double courant_depth(double d) { return d > 0.0 ? d : 0.0; }

// The largest gravity-wave Courant number sqrt(9.81 d) h / dx, at the depths d of
// the predictor of a sub-step h, over the routed nodes whose area the predictor more
// than doubles: the Courant number at the start of the sub-step knows only the
// depths it starts from, none at a dry node that an inflow is about to fill, while
// a node that keeps most of its water is held by that check already.
double filling_courant(const model_state &s, double h, const std::vector<int> *links = nullptr) {
    const channel_network &net = s.channels;
    const std::size_t ds = s.chan.chan_depth.cols() + 1, as = net.area_iter.cols() + 1,
                      os = s.chan.area_old.cols() + 1;
    double largest = 0.0;
    const int count = links ? static_cast<int>(links->size()) : net.link_count;
    for (int i = 1; i <= count; ++i) {
        const int l = links ? (*links)[static_cast<std::size_t>(i - 1)] : i;
        const double dx = net.dx[l];
        if (!routed(net.link_type[l]) || !(dx > 0.0)) continue;
        const double *dc = s.chan.chan_depth.data() + l, *ac = net.area_iter.data() + l,
                     *oc = s.chan.area_old.data() + l;
        double deepest = 0.0;
        for (std::size_t k = 1; k <= static_cast<std::size_t>(net.comp_node_count[l]); ++k)
            if (ac[k * as] > 2.0 * oc[k * os]) deepest = std::max(deepest, courant_depth(dc[k * ds]));
        largest = std::max(largest, std::sqrt(9.81 * deepest) * h / dx);
    }
    return largest;
}

// The explicit diffusive wave is stable while its diffusion number D h / dx^2
// stays below 1/2, D = |Q| / (2 T S) the wave's diffusivity (Q the face discharge,
// T the top width, S the water-surface slope of the face that drives Q: dQ/dS =
// Q / (2 S)). The bed slope does not enter: behind a weir or in any backwater the
// surface slope is a small fraction of the bed slope and D as many times larger, and a
// sub-step sized by the bed slope lets an odd-even mode of the node levels grow
// there. A still reach has S -> 0 and Q -> 0 together; S is not taken below
// diffusion_slope_floor there, so a pool does not call for an endless split of
// the step. A face flatter than the floor is given a smaller D than its own, and
// its levels may ripple by up to about the floor times the node spacing; the run
// counts the sub-steps the floor set (channel_work::floor_substeps) and its
// summary prints them. Where every link takes one sub-step (structures, weirs,
// lakes, the aquifer exchange) the floor lies below the friction slope of a deep
// slow pool (5 m deep at 0.1 m/s, n 0.035: 4e-6), which the step thus resolves;
// where links take sub-steps of their own (none of those) a face's own drop and
// its conveyance take local_slope_floor.
constexpr double diffusion_limit = 0.5;
constexpr double diffusion_slope_floor = channel_slope_floor;
constexpr double local_slope_floor = channel_local_slope_floor;

// The level drop that sets the diffusivity of face k (between nodes k and k + 1 of
// a link's column y, stride ys, nx nodes): the face's own drop, but not more than
// half the drop over either pair of faces it belongs to. An odd-even mode of the
// levels makes every face drop large and so its diffusivity small, and a sub-step
// sized by it keeps the mode alive (the predictor and corrector then carry
// discharges that swing from face to face and average to the through-flow); over
// two faces the mode cancels and the drop is that of the profile beneath it.
// Without the floor (the caller takes the larger of the two).
double face_drop(const double *y, std::size_t ys, std::size_t k, std::size_t nx) {
    double drop = std::fabs(y[k * ys] - y[(k + 1) * ys]);
    if (k > 1) drop = std::min(drop, 0.5 * std::fabs(y[(k - 1) * ys] - y[(k + 1) * ys]));
    if (k + 1 < nx) drop = std::min(drop, 0.5 * std::fabs(y[k * ys] - y[(k + 2) * ys]));
    return drop;
}

// The largest D / dx^2 (1/s) over the faces between the routed nodes of link l,
// with `two_faces` from face_drop (one sub-step for every link; the levels of
// local sub-steps bound each link by its conveyance as well, link_stiffness);
// `floored` tells whether the face that gives it is flatter than the floor.
// The width for the diffusivity is area / depth of the face's upper node (of its
// lower node when that one is dry): the mean width of the wet section, the top
// width of a rectangle and below it for sections that widen upwards, so the
// diffusivity is never taken too small. Without a division per face: the largest
// |Q| depth / (area drop) is kept as a fraction.
double link_diffusion_rate(const model_state &s, int l, bool two_faces = false, bool *floored = nullptr) {
    const channel_network &net = s.channels;
    const channel_work &w = s.chan;
    const double dx = net.dx[l];
    const int nx = net.comp_node_count[l];
    if (floored) *floored = false;
    if (!(dx > 0.0) || nx < 2) return 0.0;
    const std::size_t as = w.area.cols() + 1, ys = net.yp.cols() + 1, ds = w.chan_depth.cols() + 1,
                      qs = net.qp.cols() + 1;
    const double *ac = w.area.data() + l, *yc = net.yp.data() + l, *dc = w.chan_depth.data() + l,
                 *qc = net.qp.data() + l;
    const double floor_drop = (two_faces ? diffusion_slope_floor : local_slope_floor) * dx;
    double top = 0.0, bottom = 1.0;  // the largest |Q| depth / (area drop) = top / bottom
    bool top_floored = false;
    for (std::size_t k = 1; k < static_cast<std::size_t>(nx); ++k) {
        std::size_t at = k;
        if (!(ac[k * as] > 0.0 && dc[k * ds] > 0.0)) at = k + 1;
        const double a = ac[at * as], d = dc[at * ds];
        if (!(a > 0.0 && d > 0.0)) continue;
        const double own = two_faces ? face_drop(yc, ys, k, static_cast<std::size_t>(nx))
                                     : std::fabs(yc[k * ys] - yc[(k + 1) * ys]);
        const double drop = std::max(own, floor_drop);
        const double num = std::fabs(qc[k * qs]) * d, den = a * drop;
        if (num * bottom > top * den) top = num, bottom = den, top_floored = own < floor_drop;
    }
    if (floored) *floored = top_floored;
    // D / dx^2 = |Q| / (2 T (drop / dx) dx^2) = |Q| / (2 T drop dx)
    return top / (bottom * 2.0 * dx);
}

// Whether some face of link l may have a diffusion rate (link_diffusion_rate with
// two_faces) of
// `rate` or more: the same faces and terms, compared with the bound instead of
// with each other, with a margin far above their rounding. False means the
// link's rate lies below `rate`.
bool link_diffusion_reaches(const model_state &s, int l, double rate) {
    const channel_network &net = s.channels;
    const channel_work &w = s.chan;
    const double dx = net.dx[l];
    const int nx = net.comp_node_count[l];
    if (!(dx > 0.0) || nx < 2) return false;
    const std::size_t as = w.area.cols() + 1, ys = net.yp.cols() + 1, ds = w.chan_depth.cols() + 1,
                      qs = net.qp.cols() + 1;
    const double *ac = w.area.data() + l, *yc = net.yp.data() + l, *dc = w.chan_depth.data() + l,
                 *qc = net.qp.data() + l;
    const double floor_drop = diffusion_slope_floor * dx;
    const double bound = rate * 2.0 * dx * (1.0 - 1e-9);
    const std::size_t last = static_cast<std::size_t>(nx);
    // face_drop of each face, its terms carried from face to face: the half drop
    // over faces k - 1 and k of face k is the one over faces k and k + 1 of face
    // k - 1 (the same operands, so the same value); the levels and the area and
    // depth of node k + 1 are read once.
    double y1 = yc[ys], y2 = yc[2 * ys];
    double a1 = ac[as], d1 = dc[ds];
    double left = 0.0;  // half the drop over faces k - 1 and k (k > 1)
    bool reaches = false;
    for (std::size_t k = 1; k < last; ++k) {
        const double a2 = ac[(k + 1) * as], d2 = dc[(k + 1) * ds];
        double drop = std::fabs(y1 - y2);
        if (k > 1) drop = std::min(drop, left);
        double y3 = 0.0;
        if (k + 1 < last) {
            y3 = yc[(k + 2) * ys];
            left = 0.5 * std::fabs(y1 - y3);
            drop = std::min(drop, left);
        }
        const bool wet = a1 > 0.0 && d1 > 0.0;
        const double a = wet ? a1 : a2, d = wet ? d1 : d2;
        drop = std::max(drop, floor_drop);
        reaches |= a > 0.0 && d > 0.0 && std::fabs(qc[k * qs]) * d >= bound * (a * drop);
        y1 = y2, y2 = y3, a1 = a2, d1 = d2;
    }
    return reaches;
}

// The largest share of its water that a node of link l passes on per second,
// |Q| / (A dx) at its faces: a link taking sub-steps of its own keeps this below 1
// per sub-step, so a wave is not held back by the outflow limit of its nodes
// whatever the Courant limit.
double link_throughflow_rate(const model_state &s, int l) {
    const channel_network &net = s.channels;
    const int nx = net.comp_node_count[l];
    const double dx = net.dx[l];
    double top = 0.0;
    for (int n = 1; n <= nx; ++n) {
        const double a = s.chan.area[n][l] * dx, q = std::fabs(net.qp[n][l]);
        if (q > top * a) top = a > 0.0 ? q / a : 1e300;
    }
    return top;
}

// The diffusion rate D / dx^2 (1/s) of a face from the conveyance K of its nodes
// rather than from the discharge it last carried: Q = K sqrt(S) gives
// dQ/dS = K / (2 sqrt(S)), so D / dx^2 = K / (2 T sqrt(S) dx^2), large where the
// surface is flat whatever the discharge of the last sub-step (which may pass
// through 0 there). For the levels of local sub-steps: a link keeps its level
// through a cycle. T as in link_diffusion_rate, from node (n, l) or (m, k) when
// that one is dry; `dx` the face's length.
double face_stiffness(const model_state &s, int n, int l, int m, int k, double dx) {
    const channel_network &net = s.channels;
    const channel_work &w = s.chan;
    int an = n, al = l;
    if (!(w.area[n][l] > 0.0 && w.chan_depth[n][l] > 0.0)) an = m, al = k;
    const double a = w.area[an][al], depth = w.chan_depth[an][al];
    if (!(a > 0.0 && depth > 0.0) || !(dx > 0.0)) return 0.0;
    const double slope = std::max(std::fabs(net.yp[n][l] - net.yp[m][k]) / dx, local_slope_floor);
    const double K = std::max(w.conv[n][l], w.conv[m][k]);
    return K * depth / (2.0 * a * std::sqrt(slope) * dx * dx);
}

// The largest face_stiffness over the faces between the nodes of link l.
double link_stiffness(const model_state &s, int l) {
    const channel_network &net = s.channels;
    double top = 0.0;
    for (int n = 1; n < net.comp_node_count[l]; ++n) top = std::max(top, face_stiffness(s, n, l, n + 1, l, net.dx[l]));
    return top;
}

// face_stiffness of the join between the last node of link l and the first node
// of the link d below it, over the mean of their spacings.
double join_diffusion_rate(const model_state &s, int l, int d) {
    const channel_network &net = s.channels;
    const int nx = net.comp_node_count[l];
    if (nx < 1 || net.comp_node_count[d] < 1) return 0.0;
    return face_stiffness(s, nx, l, 1, d, 0.5 * (net.dx[l] + net.dx[d]));
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
                s.chan.to_lakes_volume += v;
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
                s.chan.from_lakes_volume += v;
            }
            std::printf("node released:[%d][%d], elev:%.1lf, depth:%.3lf, lakeelev:%.1lf, "
                        "dslink:%d,nx: %d, nx1_og: %d\n",
                        n, l, net.yp[n][l], depth, wse, d, net.comp_node_count[l],
                        net.og_node_count[l]);
        }
    }
}

// The routed channel node (n, l) that the outlet of super-junction k drains into;
// false for any other junction.
bool pipe_outlet_node(const model_state &s, int k, int &l, int &n) {
    const channel_work &w = s.chan;
    if (w.outlet_flow.empty() || static_cast<std::size_t>(k) > w.outlet_flow.last()) return false;
    l = int_at(w.outlet_link, k);
    n = int_at(w.outlet_node, k);
    const channel_network &net = s.channels;
    return l >= 1 && l <= net.link_count && routed(net.link_type[l]) && n >= 1 &&
           n <= net.comp_node_count[l];
}

// What a continuity update found over the routed nodes, link by link: the first
// area below -1e-8 or not a number (the sub-step fails), else the largest change
// of an area from its predictor value; and whether the update more than doubled
// the area of any node (filling_courant looks at those nodes only).
struct continuity_result {
    bool negative = false;
    double change = 0.0;
    bool filled = false;
};

// The inflows from outside the network for the continuity updates of one routing
// step (none of them changes within the step): the pipe-network outlets that
// drain into routed nodes with their flow, and the routed nodes that take a point,
// time-series or pipe-outlet inflow, link by link and node by node.
void gather_inflows(model_state &s) {
    channel_network &net = s.channels;
    std::vector<node_inflow> &pipes = s.chan.pipe_outlet_inflows;
    pipes.clear();
    for (int k = 1; k <= s.superlinks.num_junctions; ++k) {
        int pl = 0, pn = 0;
        if (pipe_outlet_node(s, k, pl, pn)) pipes.push_back({pl, pn, s.chan.outlet_flow[k]});
    }
    std::vector<node_inflow> &at = s.chan.inflow_nodes;
    at.clear();
    const bool points = !s.chan.chan_point_Q.empty();
    const bool series = !net.stream_pointsource.empty();
    if (!points && !series && pipes.empty()) return;
    for (int l = 1; l <= net.link_count; ++l) {
        if (!routed(net.link_type[l])) continue;
        for (int n = 1; n <= net.comp_node_count[l]; ++n) {
            bool taken = (points && std::fabs(s.chan.chan_point_Q[n][l]) > 1e-6) ||
                         (series && net.stream_pointsource[n][l]);
            for (const node_inflow &p : pipes) taken = taken || (p.link == l && p.node == n);
            if (taken) at.push_back({l, n, 0.0});
        }
    }
}

// The rate (m3/s) that reaches routed node (n, l) from outside the network by
// point, time-series and pipe-outlet inflows; `next` walks the entries of
// inflow_nodes in link and node order and is left at the entry of (n, l).
double outside_rate(const model_state &s, int n, int l, std::size_t &next) {
    const std::vector<node_inflow> &inflows = s.chan.inflow_nodes;
    while (next < inflows.size() &&
           (inflows[next].link < l || (inflows[next].link == l && inflows[next].node < n)))
        ++next;
    if (next >= inflows.size() || inflows[next].link != l || inflows[next].node != n) return 0.0;
    double rate = 0.0;
    if (!s.chan.chan_point_Q.empty() && std::fabs(s.chan.chan_point_Q[n][l]) > 1e-6)
        rate += s.chan.chan_point_Q[n][l];
    if (!s.channels.stream_pointsource.empty() && s.channels.stream_pointsource[n][l])
        rate += time_series_value(s.channels.stream_pointsource[n][l], s.now_days);
    for (const node_inflow &p : s.chan.pipe_outlet_inflows)
        if (p.link == l && p.node == n) rate += p.rate;
    return rate;
}

// One level of a cycle of local sub-steps (see local_cycle): the links that step
// (in link order) and the level of every link. The join below link u lies between
// u and its downstream link; it is stepped with the finer of the two, so a link of
// this level takes the joins to finer links as fixed (their volume has passed
// already) and makes the joins to coarser ones, whose nodes hold still meanwhile.
struct level_view {
    const std::vector<int> *links = nullptr;
    const std::vector<int> *level = nullptr;
    int at = 0;
    bool active(int l) const { return (*level)[static_cast<std::size_t>(l)] == at; }
    // The level that steps the join below link u (u's own with no link below).
    int join_level(const channel_network &net, int u) const {
        const int d = net.ds_link[u];
        const int lu = (*level)[static_cast<std::size_t>(u)];
        return d >= 1 ? std::min(lu, (*level)[static_cast<std::size_t>(d)]) : lu;
    }
    bool fixed(const channel_network &net, int u) const { return join_level(net, u) < at; }
};

// One link of a level over a sub-step h (see limit_level_outflows): what each node
// gives off through its faces, what it keeps for the fixed joins it feeds, and
// what it holds plus what reaches it from outside.
struct level_supply {
    const model_state &s;
    const double *qc, *ac, *lc;
    std::size_t qs, as, ls;
    int l, nx;
    double dx, h, back = 0.0, back_fixed = 0.0;
    bool own_outlet = false, last_face = false, last_fixed = false;

    level_supply(const model_state &st, const array_2d<double> &area, const array_2d<double> &q, double step,
                 int link, bool through, const level_view &v)
        : s(st), qc(q.data() + link), ac(area.data() + link), lc(st.chan.qlat.data() + link),
          qs(q.cols() + 1), as(area.cols() + 1), ls(st.chan.qlat.cols() + 1), l(link),
          nx(st.channels.comp_node_count[link]), dx(st.channels.dx[link]), h(step) {
        const channel_network &net = st.channels;
        const int L = net.link_count, d = net.ds_link[link];
        own_outlet = through && link == L;
        last_face = d >= 1 || (link == L && !through);
        last_fixed = d >= 1 && v.fixed(net, link);
        for (int k = 1; k <= net.us_count[link]; ++k) {
            const int u = net.uslinks[link][k];
            const double o = std::max(-q[net.comp_node_count[u]][u], 0.0);
            if (v.fixed(net, u))
                back_fixed += o;
            else
                back += o;
        }
    }

    // Node k's outflow (m3/s) and what it can supply over h (m3) less what it
    // keeps; `next` walks the outside inflows in link and node order.
    void demand(std::size_t k, std::size_t &next, double &out, double &held) const {
        const int n = static_cast<int>(k);
        const std::vector<node_inflow> &inflows = s.chan.inflow_nodes;
        out = k > 1 ? std::max(-qc[(k - 1) * qs], 0.0) : back;
        double kept = k > 1 ? 0.0 : back_fixed;
        if (n < nx || last_face) {
            const double o = std::max(qc[k * qs], 0.0);
            if (n == nx && last_fixed)
                kept += o;
            else
                out += o;
        }
        double gain = lc[k * ls] * dx;
        if (next < inflows.size() && inflows[next].link == l && inflows[next].node == n) {
            gain += outside_rate(s, n, l, next);
            ++next;
        }
        held = std::max(ac[k * as] * dx, 0.0) + h * std::max(gain, 0.0) - h * kept;
    }
    bool short_at(std::size_t k, double out, double held) const {
        return out * h > held && !(own_outlet && static_cast<int>(k) == nx);
    }
};

// Whether limit_level_outflows finds any node short, without making the shares;
// without `inner`, the inner nodes of links with three nodes or more and no
// outside inflow below node 1 are left to the caller (continuity checks them as
// it updates).
bool any_level_node_short(const model_state &s, const array_2d<double> &area, const array_2d<double> &q,
                          double h, const level_view &v, bool inner) {
    const channel_network &net = s.channels;
    const std::vector<node_inflow> &inflows = s.chan.inflow_nodes;
    const int L = net.link_count;
    const bool through = L >= 1 && net.ds_link[L] == 0 && s.head_bound;
    std::size_t next = 0;
    bool short_node = false;
    for (const int l : *v.links) {
        const level_supply link(s, area, q, h, l, through, v);
        while (next < inflows.size() && inflows[next].link < l) ++next;
        const std::size_t last = static_cast<std::size_t>(link.nx);
        auto node_short = [&link, &next](std::size_t k) {
            double out = 0.0, held = 0.0;
            link.demand(k, next, out, held);
            return link.short_at(k, out, held);
        };
        if (last < 1) continue;
        short_node |= node_short(1);
        // Plain: no outside inflow below node 1, as update_areas takes it.
        const bool plain = next >= inflows.size() || inflows[next].link != l;
        const bool ends_only = !inner && plain && last >= 3;
        for (std::size_t k = ends_only ? last : 2; k <= last; ++k) short_node |= node_short(k);
    }
    return short_node;
}

// limit_outflows over the links of one level: the faces it makes are limited as
// there; a fixed join's outflow is taken from what its node holds first, and a
// join's flow out of a node of a coarser link is not limited here (that node is
// checked when its own link steps).
void limit_level_outflows(model_state &s, const array_2d<double> &area, array_2d<double> &q, double h,
                          const level_view &v) {
    channel_network &net = s.channels;
    array_2d<double> &share = net.outflow_share;
    const std::vector<node_inflow> &inflows = s.chan.inflow_nodes;
    const int L = net.link_count;
    std::size_t next = 0;
    const bool through = L >= 1 && net.ds_link[L] == 0 && s.head_bound;
    const std::size_t qs = q.cols() + 1, ss = share.cols() + 1;
    bool limited = false;
    for (const int l : *v.links) {
        const level_supply link(s, area, q, h, l, through, v);
        double *sc = share.data() + l;
        while (next < inflows.size() && inflows[next].link < l) ++next;
        for (std::size_t k = 1; k <= static_cast<std::size_t>(link.nx); ++k) {
            double out = 0.0, held = 0.0;
            link.demand(k, next, out, held);
            if (link.short_at(k, out, held)) {
                sc[k * ss] = held > 0.0 ? held / (out * h) : 0.0;
                limited = true;
            } else {
                sc[k * ss] = 1.0;
            }
        }
    }
    if (!limited) return;
    const bool feeds = through && v.active(L) && net.comp_node_count[L] >= 2;
    const int feed_n = feeds ? net.comp_node_count[L] - 1 : 0;
    const double feed_before = feeds ? q[feed_n][L] : 0.0;
    for (const int l : *v.links) {
        const int nx = net.comp_node_count[l], d = net.ds_link[l];
        double *qc = q.data() + l;
        const double *sc = share.data() + l;
        for (std::size_t k = 1; k < static_cast<std::size_t>(nx); ++k)
            qc[k * qs] *= qc[k * qs] > 0.0 ? sc[k * ss] : sc[(k + 1) * ss];
        if (d >= 1) {
            if (!v.fixed(net, l))
                q[nx][l] *= q[nx][l] > 0.0 ? share[nx][l] : (v.active(d) ? share[1][d] : 1.0);
        } else if (l == L && !through && q[nx][l] > 0.0) {
            q[nx][l] *= share[nx][l];
        }
        for (int k = 1; k <= net.us_count[l]; ++k) {
            const int u = net.uslinks[l][k];
            const int un = net.comp_node_count[u];
            if (!v.active(u) && !v.fixed(net, u) && q[un][u] < 0.0) q[un][u] *= share[1][l];
        }
    }
    if (feeds) q[net.comp_node_count[L]][L] += q[feed_n][L] - feed_before;
}

// No face takes more out of a node over the sub-step h than the node holds at its
// start (areas `area`) plus what reaches it from outside the network over h. A
// node whose outflows (downstream faces with flow leaving it, upstream faces with
// flow running back) would take more has them all scaled down by the share it can
// supply, and each face passes its reduced discharge on to the node it feeds: what
// is held back stays in the node it would have left. A dry node thus gives
// nothing, whatever discharge its neighbours' levels ask of it. Faces from and to
// lakes, weirs and structures are left as they are. With a pass-through outlet the
// outlet discharge drops by what its feeding face was reduced.
bool routed_node(const channel_network &net, int l) {
    return l >= 1 && routed(net.link_type[l]) && net.comp_node_count[l] >= 1;
}

// Whether the link below l is a structure link with a scheduled release: a
// release is a rate from a series, whatever the level above it, so the face into
// it is limited like a face between routed nodes (the other structures' flows
// fall with the level above them and are left as they are).
bool release_below(const channel_network &net, int l) {
    const int d = net.ds_link[l];
    if (d < 1 || net.link_type[d] != link_structure || net.num_structs.empty() || net.num_structs[d] < 1) return false;
    for (int k = net.first_struct[d]; k <= net.last_struct[d]; ++k)
        if (k >= 1 && k <= net.structure_count && net.structures[static_cast<std::size_t>(k)].type == 7) return true;
    return false;
}

// One routed link's nodes over a sub-step h: what each gives off through its faces
// and what it holds plus what reaches it from outside. A link's nodes are one
// column of the [node][link] arrays.
struct link_supply {
    const model_state &s;
    const double *qc, *ac, *lc;
    std::size_t qs, as, ls;
    int l, nx;
    double dx, h, back = 0.0;
    bool own_outlet = false, last_face = false;

    link_supply(const model_state &st, const array_2d<double> &area, const array_2d<double> &q, double step,
                int link, bool through)
        : s(st), qc(q.data() + link), ac(area.data() + link), lc(st.chan.qlat.data() + link),
          qs(q.cols() + 1), as(area.cols() + 1), ls(st.chan.qlat.cols() + 1), l(link),
          nx(st.channels.comp_node_count[link]), dx(st.channels.dx[link]), h(step) {
        const channel_network &net = st.channels;
        const int L = net.link_count, d = net.ds_link[link];
        own_outlet = through && link == L;
        last_face = routed_node(net, d) || (link == L && d == 0 && !through) || release_below(net, link);
        // What runs back out of node 1 into the links above it.
        for (int k = 1; k <= net.us_count[link]; ++k) {
            const int u = net.uslinks[link][k];
            if (routed_node(net, u)) back += std::max(-q[net.comp_node_count[u]][u], 0.0);
        }
    }

    // Node k's outflow (m3/s) and what it can supply over h (m3); `next` walks the
    // outside inflows in link and node order. The node is short when out * h > held.
    void demand(std::size_t k, std::size_t &next, double &out, double &held) const {
        const int n = static_cast<int>(k);
        const std::vector<node_inflow> &inflows = s.chan.inflow_nodes;
        out = k > 1 ? std::max(-qc[(k - 1) * qs], 0.0) : back;
        if (n < nx || last_face) out += std::max(qc[k * qs], 0.0);
        double gain = lc[k * ls] * dx;
        if (next < inflows.size() && inflows[next].link == l && inflows[next].node == n) {
            gain += outside_rate(s, n, l, next);
            ++next;
        }
        held = std::max(ac[k * as] * dx, 0.0) + h * std::max(gain, 0.0);
    }
    bool short_at(std::size_t k, double out, double held) const {
        return out * h > held && !(own_outlet && static_cast<int>(k) == nx);
    }
};

// Whether limit_outflows finds any node short (the same test, node by node),
// without making the shares: most sub-steps have none. The inner nodes of a link
// without outside inflows go without a branch; without `inner` they are left to
// the caller (continuity checks them as it updates).
bool any_node_short(const model_state &s, const array_2d<double> &area, const array_2d<double> &q, double h,
                    bool inner = true) {
    const channel_network &net = s.channels;
    const std::vector<node_inflow> &inflows = s.chan.inflow_nodes;
    const int L = net.link_count;
    std::size_t next = 0;
    const bool through = L >= 1 && net.ds_link[L] == 0 && s.head_bound;
    bool short_node = false;
    for (int l = 1; l <= L; ++l) {
        if (!routed_node(net, l)) continue;
        const link_supply link(s, area, q, h, l, through);
        while (next < inflows.size() && inflows[next].link < l) ++next;
        auto node_short = [&link, &next](std::size_t k) {
            double out = 0.0, held = 0.0;
            link.demand(k, next, out, held);
            return link.short_at(k, out, held);
        };
        const std::size_t last = static_cast<std::size_t>(link.nx);
        short_node |= node_short(1);
        // Plain: no outside inflow below node 1 (a link fed at its first node only
        // is plain), as update_areas takes it.
        const bool plain = next >= inflows.size() || inflows[next].link != l;
        if (!plain || last < 3) {
            for (std::size_t k = 2; k <= last; ++k) short_node |= node_short(k);
            continue;
        }
        const double *qc = link.qc, *ac = link.ac, *lc = link.lc, dx = link.dx;
        const std::size_t qs = link.qs, as = link.as, ls = link.ls;
        for (std::size_t k = 2; inner && k < last; ++k) {
            const double out = std::max(-qc[(k - 1) * qs], 0.0) + std::max(qc[k * qs], 0.0);
            const double held = std::max(ac[k * as] * dx, 0.0) + h * std::max(lc[k * ls] * dx, 0.0);
            short_node |= out * h > held;
        }
        short_node |= node_short(last);
    }
    return short_node;
}

void limit_outflows(model_state &s, const array_2d<double> &area, array_2d<double> &q, double h) {
    if (!any_node_short(s, area, q, h)) return;
    channel_network &net = s.channels;
    array_2d<double> &share = net.outflow_share;
    const std::vector<node_inflow> &inflows = s.chan.inflow_nodes;
    const int L = net.link_count;
    std::size_t next = 0;
    const bool through = L >= 1 && net.ds_link[L] == 0 && s.head_bound;
    const std::size_t qs = q.cols() + 1, ss = share.cols() + 1;
    bool limited = false;
    for (int l = 1; l <= L; ++l) {
        if (!routed_node(net, l)) continue;
        const link_supply link(s, area, q, h, l, through);
        double *sc = share.data() + l;
        while (next < inflows.size() && inflows[next].link < l) ++next;
        for (std::size_t k = 1; k <= static_cast<std::size_t>(link.nx); ++k) {
            double out = 0.0, held = 0.0;
            link.demand(k, next, out, held);
            if (link.short_at(k, out, held)) {
                sc[k * ss] = held / (out * h);
                limited = true;
            } else {
                sc[k * ss] = 1.0;
            }
        }
    }
    if (!limited) return;
    // The face that feeds a pass-through outlet node: its outflow is that face's
    // discharge with the node's lateral and aquifer inflows, so it drops with it.
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
        double *qc = q.data() + l;
        const double *sc = share.data() + l;
        for (std::size_t k = 1; k < static_cast<std::size_t>(nx); ++k)
            qc[k * qs] *= qc[k * qs] > 0.0 ? sc[k * ss] : sc[(k + 1) * ss];
        if (routed_node(net, d)) {
            q[nx][l] *= q[nx][l] > 0.0 ? share[nx][l] : share[1][d];
        } else if (l == L && d == 0 && !through && q[nx][l] > 0.0) {
            q[nx][l] *= share[nx][l];
        } else if (q[nx][l] > 0.0 && release_below(net, l)) {
            // The structure link passes on what its face took.
            q[nx][l] *= share[nx][l];
            q[1][d] = q[nx][l];
            if (q.rows() >= 2) q[2][d] = q[nx][l];
        }
    }
    if (feed_n >= 1) q[net.comp_node_count[L]][L] += q[feed_n][feed_l] - feed_before;
}

// The continuity update of `area` with the discharges q as given (see continuity).
// With `inner_short`, the inner nodes of links of three nodes or more without
// outside inflow below node 1 are checked as the limiters check them while they are updated,
// and it is set when one of them is short.
continuity_result update_areas(model_state &s, array_2d<double> &area, const array_2d<double> &q, double h,
                               bool clamp, const array_2d<double> *predicted, const level_view *v,
                               bool *inner_short) {
    continuity_result result;
    channel_network &net = s.channels;
    const int L = net.link_count;
    const bool exchange = exchange_in_step(s);
    const bool points = !s.chan.chan_point_Q.empty();
    const bool series = !net.stream_pointsource.empty();
    const std::vector<node_inflow> &pipes = s.chan.pipe_outlet_inflows;
    const std::vector<node_inflow> &inflows = s.chan.inflow_nodes;
    std::size_t next = 0;  // the first entry of `inflows` not yet reached
    // Adds the outside inflows of node (n, l) to its change dV, in this order:
    // point, time series, pipe outlets, then the exchange with the aquifer.
    auto add_inflows = [&](int n, int l, double V, double dV, double dx, bool outlet) {
        if (points && std::fabs(s.chan.chan_point_Q[n][l]) > 1e-6) dV += h * s.chan.chan_point_Q[n][l];
        if (series && net.stream_pointsource[n][l])
            dV += h * time_series_value(net.stream_pointsource[n][l], s.now_days);
        for (const node_inflow &p : pipes)
            if (p.link == l && p.node == n) dV += h * p.rate;
        if (exchange) {
            double qgw = s.chan.qriv[n][l];
            if (V + dV + h * dx * qgw < 0.0 && qgw < 0.0)
                qgw = dV >= 0.0 ? -V / (dx * h) : -(V + dV) / (dx * h);
            s.chan.qriv[n][l] = qgw;
            if (!outlet) dV += h * dx * qgw;
        }
        return dV;
    };
    // A link's nodes are one column of the [node][link] arrays.
    const std::size_t as = area.cols() + 1, qs = q.cols() + 1, ls = s.chan.qlat.cols() + 1;
    const std::size_t ps = predicted ? predicted->cols() + 1 : 0;
    const int count = v ? static_cast<int>(v->links->size()) : L;
    bool filled = false;
    for (int i = 1; i <= count; ++i) {
        const int l = v ? (*v->links)[static_cast<std::size_t>(i - 1)] : i;
        if (!routed(net.link_type[l])) continue;
        const double dx = net.dx[l];
        const int nx = net.comp_node_count[l];
        if (nx < 1) continue;
        double *ac = area.data() + l;
        const double *qc = q.data() + l, *lc = s.chan.qlat.data() + l;
        const double *pc = predicted ? predicted->data() + l : nullptr;
        const bool pass_outlet = l == L && net.ds_link[l] == 0 && s.head_bound;
        while (next < inflows.size() && inflows[next].link < l) ++next;
        // The new area of node k from its change dV: stored, and checked by the corrector.
        auto finish = [&](std::size_t k, double a0, double V, double dV) {
            const double a = (V + dV) / dx;
            const double stored = clamp && a < 0.0 ? 0.0 : a;
            filled |= stored > 2.0 * a0;
            ac[k * as] = stored;
            if (pc) {
                // An area that is not a number fails the sub-step like one below 0.
                if (!(a >= -1e-8)) result.negative = true;
                const double dif = std::fabs(a - pc[k * ps]);
                if (!result.negative && dif > result.change) result.change = dif;
            }
        };
        auto has_inflow = [&](int n) {
            if (exchange) return true;
            if (next < inflows.size() && inflows[next].link == l && inflows[next].node == n) {
                ++next;
                return true;
            }
            return false;
        };
        // First node: the inflow from the last nodes of the upstream links.
        {
            const double a0 = ac[as], V = a0 * dx;
            double dV = 0.0;
            const bool outlet = nx == 1 && pass_outlet;
            double in = 0.0;
            for (int u_at = 1; u_at <= net.us_count[l]; ++u_at) {
                const int u = net.uslinks[l][u_at];
                const int un = net.comp_node_count[u];
                if (un >= 1 && net.link_type[u] != link_lake) in += q[un][u];
            }
            // A one-node outlet link that passes its inflow through keeps none of it.
            if (!outlet) dV = h * (in + lc[ls] * dx - qc[qs]);
            if (has_inflow(1)) dV = add_inflows(1, l, V, dV, dx, outlet);
            finish(1, a0, V, dV);
        }
        // Inner nodes (and the last unless the outlet passes its inflow through).
        const int last_inner = pass_outlet ? nx - 1 : nx;
        const bool plain = !exchange && (next >= inflows.size() || inflows[next].link != l);
        if (inner_short && plain && nx >= 3 && !(clamp && pc)) {
            // Straight-line: the new areas with the checks of the limiters and of
            // filling_courant, then the corrector's comparison in node order.
            bool short_node = false, filled_here = false;
            const std::size_t last = static_cast<std::size_t>(nx);
            std::size_t m = 2;
#if defined(__SSE2__)
            // Two nodes at a time, the same operations (max(0, x) as std::max(x, 0.0)).
            {
                const __m128d zero = _mm_setzero_pd(), hv = _mm_set1_pd(h), dxv = _mm_set1_pd(dx),
                              two = _mm_set1_pd(2.0), sign = _mm_set1_pd(-0.0);
                const __m128d keep_below = clamp ? _mm_castsi128_pd(_mm_set1_epi64x(-1)) : zero;
                int shorts = 0, fills = 0;
                for (; m + 1 < last; m += 2) {
                    const __m128d up = _mm_set_pd(qc[m * qs], qc[(m - 1) * qs]);
                    const __m128d down = _mm_set_pd(qc[(m + 1) * qs], qc[m * qs]);
                    const __m128d lateral = _mm_mul_pd(_mm_set_pd(lc[(m + 1) * ls], lc[m * ls]), dxv);
                    const __m128d a0 = _mm_set_pd(ac[(m + 1) * as], ac[m * as]);
                    const __m128d V = _mm_mul_pd(a0, dxv);
                    const __m128d out = _mm_add_pd(_mm_max_pd(zero, _mm_xor_pd(up, sign)), _mm_max_pd(zero, down));
                    const __m128d held = _mm_add_pd(_mm_max_pd(zero, V), _mm_mul_pd(hv, _mm_max_pd(zero, lateral)));
                    shorts |= _mm_movemask_pd(_mm_cmpgt_pd(_mm_mul_pd(out, hv), held));
                    const __m128d dV = _mm_mul_pd(hv, _mm_sub_pd(_mm_add_pd(lateral, up), down));
                    const __m128d a = _mm_div_pd(_mm_add_pd(V, dV), dxv);
                    const __m128d stored = _mm_andnot_pd(_mm_and_pd(keep_below, _mm_cmplt_pd(a, zero)), a);
                    fills |= _mm_movemask_pd(_mm_cmpgt_pd(stored, _mm_mul_pd(two, a0)));
                    _mm_storel_pd(&ac[m * as], stored);
                    _mm_storeh_pd(&ac[(m + 1) * as], stored);
                }
                short_node = shorts != 0;
                filled_here = fills != 0;
            }
#endif
            for (; m < last; ++m) {
                const double up = qc[(m - 1) * qs], down = qc[m * qs], lateral = lc[m * ls] * dx;
                const double a0 = ac[m * as], V = a0 * dx;
                const double out = std::max(-up, 0.0) + std::max(down, 0.0);
                short_node |= out * h > std::max(V, 0.0) + h * std::max(lateral, 0.0);
                const double a = (V + h * (lateral + up - down)) / dx;
                const double stored = clamp && a < 0.0 ? 0.0 : a;
                filled_here |= stored > 2.0 * a0;
                ac[m * as] = stored;
            }
            for (m = 2; pc && m < last; ++m) {
                const double a = ac[m * as];
                if (!(a >= -1e-8)) result.negative = true;
                const double dif = std::fabs(a - pc[m * ps]);
                if (!result.negative && dif > result.change) result.change = dif;
            }
            filled |= filled_here;
            *inner_short |= short_node;
            if (last_inner == nx) {
                const std::size_t k = static_cast<std::size_t>(nx);
                const double a0 = ac[k * as], V = a0 * dx;
                finish(k, a0, V, h * (lc[k * ls] * dx + qc[(k - 1) * qs] - qc[k * qs]));
            }
        } else {
            for (int n = 2; n <= last_inner; ++n) {
                const std::size_t k = static_cast<std::size_t>(n);
                const double a0 = ac[k * as], V = a0 * dx;
                double dV = h * (lc[k * ls] * dx + qc[(k - 1) * qs] - qc[k * qs]);
                if (has_inflow(n)) dV = add_inflows(n, l, V, dV, dx, false);
                finish(k, a0, V, dV);
            }
        }
        if (pass_outlet && nx >= 2) {
            const std::size_t k = static_cast<std::size_t>(nx);
            const double a0 = ac[k * as], V = a0 * dx;
            double dV = 0.0;
            if (has_inflow(nx)) dV = add_inflows(nx, l, V, dV, dx, true);
            finish(k, a0, V, dV);
        }
    }
    result.filled = filled;
    return result;
}

// Continuity update of `area` over one sub-step h with the discharges q, from the
// inflows of gather_inflows; q is first limited to what the nodes can supply
// (limit_outflows) and keeps the discharges the update used. With `v`, only the
// links of that level are updated. With `clamp`, new areas below 0 are stored as 0
// (the predictor); with `predicted`, the result compares the new areas with those
// (the corrector). `area` holds `start` at the nodes it updates: most sub-steps
// have no node short of what its faces ask, so without the exchange with the
// aquifer the update is made first with q as it is, its inner nodes checked as
// they go; where one is short, those nodes go back to `start` and the update is
// made again with the limited discharges, as the limiters would have had it.
continuity_result continuity(model_state &s, array_2d<double> &area, const array_2d<double> &start,
                             array_2d<double> &q, double h, bool clamp = false,
                             const array_2d<double> *predicted = nullptr, const level_view *v = nullptr) {
    if (!exchange_in_step(s)) {
        const bool ends = v ? any_level_node_short(s, area, q, h, *v, false) : any_node_short(s, area, q, h, false);
        if (!ends) {
            bool inner = false;
            const continuity_result r = update_areas(s, area, q, h, clamp, predicted, v, &inner);
            if (!inner) return r;
            const channel_network &net = s.channels;
            const std::size_t as = area.cols() + 1, ss = start.cols() + 1;
            const int count = v ? static_cast<int>(v->links->size()) : net.link_count;
            for (int i = 1; i <= count; ++i) {
                const int l = v ? (*v->links)[static_cast<std::size_t>(i - 1)] : i;
                if (!routed(net.link_type[l])) continue;
                for (std::size_t k = 1; k <= static_cast<std::size_t>(net.comp_node_count[l]); ++k)
                    area.data()[k * as + static_cast<std::size_t>(l)] = start.data()[k * ss + static_cast<std::size_t>(l)];
            }
        }
    }
    if (v)
        limit_level_outflows(s, area, q, h, *v);
    else
        limit_outflows(s, area, q, h);
    return update_areas(s, area, q, h, clamp, predicted, v, nullptr);
}

// Sets the areas below 0 to 0 at the nodes that a continuity update does not
// write: links that are not routed, and nodes beyond a link's node count.
void clamp_unrouted(array_2d<double> &area, const channel_network &net) {
    for (int l = 1; l <= net.link_count; ++l) {
        const int first = routed(net.link_type[l]) ? net.comp_node_count[l] + 1 : 1;
        for (int n = first; n <= net.max_node_count; ++n)
            if (area[n][l] < 0.0) area[n][l] = 0.0;
    }
}

void deliver_to_lake(channel_work &w, channel_lake &lake, double v) {
    lake.volume += v;
    if (v >= 0.0) {
        lake.volume_in += v;
        w.to_lakes_volume += v;
    } else {
        lake.volume_out -= v;
        w.from_lakes_volume -= v;
    }
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
            if (net.qp[1][net.ds_link[l]] <= 0.0) {
                lake->volume_in -= v;
                s.chan.to_lakes_volume -= v;
            } else {
                lake->volume_out += v;
                s.chan.from_lakes_volume += v;
            }
        }
        for (int k = 1; k <= net.us_count[l]; ++k) {
            const int u = net.uslinks[l][k];
            const int ut = net.link_type[u];
            if (ut == link_taken_by_lake || (t == link_taken_by_lake && ut == link_lake)) continue;
            const int un = net.comp_node_count[u];
            if (un >= 1) deliver_to_lake(s.chan, *lake, net.qp[un][u] * h);
        }
    }
}

// Seepage volumes of the sub-step per groundwater cell (positive from the aquifer
// into the channel, as the exchange rate).
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
                s.channel_seepage_volume[c] += v;
        }
}

// Each hydrograph location (link, node) adds the volume through its node over the
// sub-step, volume_of(n, l).
template <class F>
void hydrograph_point_volumes(model_state &s, F volume_of) {
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
        volume[i] += volume_of(n, l);
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
    for (int k = 1; k <= s.superlinks.num_junctions; ++k) {
        int l = 0, n = 0;
        if (pipe_outlet_node(s, k, l, n)) w.pipe_outlet_volume += w.outlet_flow[k] * h;
    }
    if (!points && !series) return;
    auto book = [&w, h](double rate) {
        if (rate > 0.0)
            w.point_source_volume += rate * h;
        else
            w.point_sink_volume -= rate * h;
    };
    // The nodes that take a point or time-series inflow, in link and node order.
    for (const node_inflow &at : w.inflow_nodes) {
        const int l = at.link, n = at.node;
        if (points && std::fabs(w.chan_point_Q[n][l]) > 1e-6) book(w.chan_point_Q[n][l]);
        if (series && net.stream_pointsource[n][l])
            book(time_series_value(net.stream_pointsource[n][l], s.now_days));
    }
}

// ---- local sub-steps ----
// Where some links need much shorter sub-steps than others (the deep, mild reaches
// near the outlet of a large network by their diffusion number), each link takes
// the shortest sub-step h times 2^level, the largest power of two its own Courant
// and diffusion numbers (and those of the joins at its ends) allow. A cycle of
// 2^top short sub-steps steps every link: after each short sub-step, the levels
// whose sub-steps end there step, finest first. A join between two levels is made
// by the finer side, the coarser link's node holding its level meanwhile; the
// coarser side then takes the volume that passed the join over its own sub-step,
// so what leaves one link enters the other. A node that would run dry or fill
// beyond the Courant limit sends the whole cycle back to one short sub-step of
// every link.

constexpr int deepest_level = 7;
// A link keeps its level through a whole cycle while the depths and slopes move:
// a longer sub-step than the shortest is taken only at half its limits.
constexpr double coarse_margin = 1.0;

bool local_type(int t) {
    return t == link_trapezoid || t == link_subsurface_trapezoid || t == link_breakpoint ||
           t == link_breakpoint_erode || t == link_trapezoid_erode || t == link_breakpoint_table ||
           t == link_floodplain || t == link_trapezoid_erode2;
}

// Networks of routed links only (no lake, weir or structure, no exchange with the
// aquifer within the step, no outlet that passes its inflow through) may take
// local sub-steps.
bool local_steps_allowed(const model_state &s, bool exchange) {
    const channel_network &net = s.channels;
    const int L = net.link_count;
    if (net.one_sub_step_for_all || exchange || s.head_bound || net.lake_count > 0 || L < 2) return false;
    for (int l = 1; l <= L; ++l)
        if (!local_type(net.link_type[l]) || net.comp_node_count[l] < 1 || !(net.dx[l] > 0.0)) return false;
    return true;
}

// Copies the nodes of the given links (all rows) from one [node][link] array to another.
void copy_links(array_2d<double> &to, const array_2d<double> &from, const std::vector<int> &links,
                const channel_network &net) {
    const std::size_t ts = to.cols() + 1, fs = from.cols() + 1;
    for (const int l : links) {
        double *t = to.data() + l;
        const double *f = from.data() + l;
        for (std::size_t n = 1; n <= static_cast<std::size_t>(net.max_node_count); ++n) t[n * ts] = f[n * fs];
    }
}

// The level of every link for the short sub-step h, from the links' demands at the
// sub-step `before` (the larger of their Courant and diffusion numbers over their
// limits); the levels are shifted so the finest is 0. Returns the top level that
// fits in `remaining` (0: no cycle, every level 0).
int assign_levels(model_state &s, const std::vector<double> &demand, double before, double h,
                  double remaining) {
    channel_network &net = s.channels;
    const int L = net.link_count;
    std::vector<int> &level = net.link_level;
    level.assign(static_cast<std::size_t>(L) + 1, 0);
    auto level_for = [](double x) {
        int q = 0;
        while (q < deepest_level && x * static_cast<double>(2 << q) < coarse_margin) ++q;
        return q;
    };
    const double scale = h / before;
    for (int l = 1; l <= L; ++l) level[static_cast<std::size_t>(l)] = level_for(demand[static_cast<std::size_t>(l)] * scale);
    for (int l = 1; l <= L; ++l) {
        const int d = net.ds_link[l];
        if (d < 1) continue;
        const int j = level_for(join_diffusion_rate(s, l, d) * h / diffusion_limit);
        // The nodes on both sides take the join's volume at their own sub-steps.
        int &lu = level[static_cast<std::size_t>(l)], &ld = level[static_cast<std::size_t>(d)];
        lu = std::min(lu, j);
        ld = std::min(ld, j);
    }
    int low = deepest_level, top = 0;
    for (int l = 1; l <= L; ++l) {
        low = std::min(low, level[static_cast<std::size_t>(l)]);
        top = std::max(top, level[static_cast<std::size_t>(l)]);
    }
    top -= low;
    while (top > 0 && h * static_cast<double>(1 << top) > remaining + 1e-9) --top;
    auto none = [&level] {
        std::fill(level.begin(), level.end(), 0);
        return 0;
    };
    if (top < 1) return none();
    // A cycle is taken only where it saves at least half the node updates of
    // every link at the short sub-step.
    double local_updates = 0.0, all_updates = 0.0;
    for (int l = 1; l <= L; ++l) {
        const int q = std::min(level[static_cast<std::size_t>(l)] - low, top);
        local_updates += net.comp_node_count[l] * static_cast<double>(1 << (top - q));
        all_updates += net.comp_node_count[l] * static_cast<double>(1 << top);
    }
    if (local_updates > 0.5 * all_updates) return none();
    // One list more: the links of a level beside finer ones (level_step).
    if (net.level_links.size() < static_cast<std::size_t>(deepest_level) + 2)
        net.level_links.resize(static_cast<std::size_t>(deepest_level) + 2);
    for (std::vector<int> &links : net.level_links) links.clear();
    for (int l = 1; l <= L; ++l) {
        int &q = level[static_cast<std::size_t>(l)];
        q = std::min(q - low, top);
        net.level_links[static_cast<std::size_t>(q)].push_back(l);
    }
    return top;
}

// One sub-step hq of the links of level `at` within a cycle: 1 when taken, 0 when
// a node ran dry or filled beyond the Courant limit, -1 after a fatal error.
int level_step(model_state &s, int at, double hq, double c_lim) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    const std::vector<int> &links = net.level_links[static_cast<std::size_t>(at)];
    const level_view v{&links, &net.link_level, at};
    std::vector<double> &passed = net.join_volume;
    // Each join of this level's links to a finer link carries the mean discharge
    // of the finer side's sub-steps.
    for (const int l : links) {
        if (net.ds_link[l] >= 1 && v.fixed(net, l))
            net.qp[net.comp_node_count[l]][l] = passed[static_cast<std::size_t>(l)] / hq;
        for (int k = 1; k <= net.us_count[l]; ++k) {
            const int u = net.uslinks[l][k];
            if (v.fixed(net, u)) net.qp[net.comp_node_count[u]][u] = passed[static_cast<std::size_t>(u)] / hq;
        }
    }
    // Calls f(n, u) for each join above a link of this level from a coarser link.
    auto coarser_above = [&](auto f) {
        for (const int l : links)
            for (int k = 1; k <= net.us_count[l]; ++k) {
                const int u = net.uslinks[l][k];
                if (!v.active(u) && !v.fixed(net, u)) f(net.comp_node_count[u], u);
            }
    };
    auto fixed_joins = [&](auto f) {
        for (const int l : links) {
            if (net.ds_link[l] >= 1 && v.fixed(net, l)) f(net.comp_node_count[l], l);
            for (int k = 1; k <= net.us_count[l]; ++k) {
                const int u = net.uslinks[l][k];
                if (v.fixed(net, u)) f(net.comp_node_count[u], u);
            }
        }
    };
    copy_links(w.area_old, w.area, links, net);
    double change = 1.0;
    bool negative = false;
    for (int pass = 1; change > 0.01 && pass <= 2 && !negative; ++pass) {
        if (pass > 1) copy_links(w.area, w.area_old, links, net);
        copy_links(net.area_iter, w.area_old, links, net);
        const bool filled = continuity(s, net.area_iter, w.area_old, net.qp, hq, true, nullptr, &v).filled;
        sections_from(s, net.area_iter, section_parts::all, &links);
        if (filled && filling_courant(s, hq, &links) > c_lim) return 0;
        copy_links(net.qp_iter, net.qp, links, net);
        coarser_above([&net](int n, int u) { net.qp_iter[n][u] = net.qp[n][u]; });
        const discharge_arrays da{&w.chan_depth, &w.conv, &net.qp_iter};
        for (const int l : links)
            if (routed_link_discharges(s, da, l) != 0) return -1;
        coarser_above([&s, &da](int, int u) { join_discharge(s, da, u); });
        fixed_joins([&net](int n, int u) { net.qp_iter[n][u] = net.qp[n][u]; });
        const std::size_t qs = net.qp.cols() + 1, is = net.qp_iter.cols() + 1;
        for (const int l : links) {
            double *q = net.qp.data() + l;
            const double *qi = net.qp_iter.data() + l;
            for (std::size_t n = 1; n <= static_cast<std::size_t>(net.max_node_count); ++n)
                q[n * qs] = 0.5 * (q[n * qs] + qi[n * is]);
        }
        coarser_above([&net](int n, int u) { net.qp[n][u] = 0.5 * (net.qp[n][u] + net.qp_iter[n][u]); });
        const continuity_result found = continuity(s, w.area, w.area_old, net.qp, hq, false, &net.area_iter, &v);
        negative = found.negative;
        change = found.change;
    }
    if (negative) return 0;
    // Until their next predictor, the sections of these links are read only where
    // a finer link beside them makes a join: their first node for a finer link
    // above, their last for a finer link below. Those nodes are brought up to the
    // new areas; the others are made again by the next predictor or at the end of
    // the cycle.
    if (at > 0) {
        std::vector<int> &ends = net.end_links, &ends_at = net.end_nodes;
        ends.clear();
        ends_at.clear();
        for (const int l : links) {
            const int nx = net.comp_node_count[l], d = net.ds_link[l];
            bool above = false;
            for (int k = 1; k <= net.us_count[l]; ++k)
                above = above || net.link_level[static_cast<std::size_t>(net.uslinks[l][k])] < at;
            if (above) ends.push_back(l), ends_at.push_back(1);
            if (d >= 1 && net.link_level[static_cast<std::size_t>(d)] < at && !(above && nx == 1))
                ends.push_back(l), ends_at.push_back(nx);
        }
        if (!ends.empty()) sections_from(s, w.area, section_parts::all, &ends, &ends_at);
    }
    // The volume through every face this level made; the joins to coarser links
    // keep theirs for the coarser side, the fixed ones start again.
    for (const int l : links) {
        const int nx = net.comp_node_count[l], d = net.ds_link[l];
        for (int n = 1; n < nx; ++n) net.face_sum[n][l] += net.qp[n][l] * hq;
        if (d < 1 || !v.fixed(net, l)) net.face_sum[nx][l] += net.qp[nx][l] * hq;
        if (d >= 1 && v.fixed(net, l)) passed[static_cast<std::size_t>(l)] = 0.0;
        if (d >= 1 && !v.fixed(net, l) && !v.active(d)) passed[static_cast<std::size_t>(l)] += net.qp[nx][l] * hq;
        for (int k = 1; k <= net.us_count[l]; ++k) {
            const int u = net.uslinks[l][k];
            if (v.fixed(net, u)) passed[static_cast<std::size_t>(u)] = 0.0;
        }
    }
    coarser_above([&net, &passed, hq](int n, int u) {
        net.face_sum[n][u] += net.qp[n][u] * hq;
        passed[static_cast<std::size_t>(u)] += net.qp[n][u] * hq;
    });
    return 1;
}

// A cycle of 2^top short sub-steps h of every link at its level: 1 when taken, 0
// when a level step failed (the network is back at the cycle's start), -1 after a
// fatal error.
int local_cycle(model_state &s, double h, int top, double c_lim) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    const long long nodes = net.max_node_count, L = net.link_count;
    for (array_2d<double> *a : {&net.area_cycle, &net.qp_cycle, &net.face_sum})
        if (!fits(*a, net) && !chan_make(*a, nodes, L, "local sub-steps")) return -1;
    copy_nodes(net.area_cycle, w.area, net);
    copy_nodes(net.qp_cycle, net.qp, net);
    const std::size_t width = net.face_sum.cols() + 1;
    std::fill(net.face_sum.data(), net.face_sum.data() + width * (static_cast<std::size_t>(nodes) + 1), 0.0);
    net.join_volume.assign(static_cast<std::size_t>(L) + 1, 0.0);
    for (int k = 1; k <= (1 << top); ++k)
        for (int q = 0; q <= top && k % (1 << q) == 0; ++q) {
            if (net.level_links[static_cast<std::size_t>(q)].empty()) continue;
            const int r = level_step(s, q, h * static_cast<double>(1 << q), c_lim);
            if (r == 1) continue;
            if (r == 0) {
                copy_nodes(w.area, net.area_cycle, net);
                copy_nodes(net.qp, net.qp_cycle, net);
                sections_from(s, w.area);
            }
            return r;
        }
    return 1;
}

// With the outlet passing its inflow through, the outlet node keeps none of it:
// what leaves is the lateral inflow of the node, the discharge of the face above
// it and its exchange with the aquifer, as the accepted sub-step moved them. The
// discharge of the corrector's average would carry the inflows of the sub-step
// before, and the outlet would then give off more or less than the node took in.
void pass_outlet_inflow(model_state &s) {
    channel_network &net = s.channels;
    const int L = net.link_count, nx = L >= 1 ? net.comp_node_count[L] : 0;
    if (!s.head_bound || L < 1 || net.ds_link[L] != 0 || !routed(net.link_type[L]) || nx < 1) return;
    double q = s.chan.qlat[nx][L] * net.dx[L];
    if (nx >= 2) {
        q += net.qp[nx - 1][L];
    } else {
        // A one-node link: what the last nodes of the links above gave it.
        for (int k = 1; k <= net.us_count[L]; ++k) {
            const int u = net.uslinks[L][k], un = net.comp_node_count[u];
            if (un >= 1 && net.link_type[u] != link_lake) q += net.qp[un][u];
        }
    }
    if (exchange_in_step(s)) q += s.chan.qriv[nx][L] * net.dx[L];
    net.qp[nx][L] = q;
}

// The release volumes of an accepted sub-step of length h: what the scheduled
// releases of each structure link asked for, and what they made: what the link
// passed less what its other elements gave, which falls short where the outflow
// limiter cut the face into the structure link (the link above did not hold it)
// or the sub-step began from such a cut. The first shortfall is warned about;
// the run's totals go to the summary.
void book_releases(model_state &s, double h) {
    channel_network &net = s.channels;
    if (net.release_rate.size() != static_cast<std::size_t>(net.link_count) + 1) return;
    for (int l = 1; l <= net.link_count; ++l) {
        const std::size_t i = static_cast<std::size_t>(l);
        const double asked = net.release_rate[i];
        if (net.link_type[l] != link_structure || !(asked > 0.0)) continue;
        const double others = net.structure_rate[i] - asked;
        const double made = std::clamp(net.qp[1][l] - others, 0.0, asked);
        net.release_asked[i] += asked * h;
        net.release_made[i] += made * h;
        if (made < asked * (1.0 - 1e-9) && !net.release_short_warned) {
            net.release_short_warned = true;
            std::printf("Warning: the scheduled release of structure link %d asks for %.4f m3/s, more than "
                        "the link above it holds;\nit passes %.4f m3/s and the run goes on (the summary "
                        "gives the release asked for and made).\n",
                        l, asked, made);
            count_warning();
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
    gather_inflows(s);
    bool every_link_averaged = same_shape(net.qp, net.qp_iter);
    for (int l = 1; l <= L && every_link_averaged; ++l)
        every_link_averaged = net.link_type[l] != link_lake && net.link_type[l] != link_taken_by_lake;

    // The conveyances of trapezoid nodes that an accepted sub-step leaves are read
    // only after the call (every sub-step recomputes them from its predictor areas
    // before its discharges; the exchange routine may read them, so not with it).
    // Between sub-steps they are left stale and made at the end of the call.
    bool conveyance_stale = false;
    auto settle_conveyance = [&] {
        if (conveyance_stale) sections_from(s, w.area, section_parts::conveyance_only);
        conveyance_stale = false;
    };
    const section_parts between = exchange ? section_parts::all : section_parts::depth_only;

    const bool local = local_steps_allowed(s, exchange);
    std::vector<double> demand(local ? static_cast<std::size_t>(L) + 1 : 0, 0.0);
    double remaining = dt, h = dt;
    while (dt > 1e-16 && remaining > 1e-16) {
        // The levels of local sub-steps read the conveyances of the areas now.
        if (local) settle_conveyance();
        double cmax = 0.0, dmax = 0.0;
        bool dmax_floored = false;
        const std::size_t as = w.area.cols() + 1, ys = net.yp.cols() + 1,
                          bs = net.bel.cols() + 1, ds = w.chan_depth.cols() + 1;
        for (int l = 1; l <= L; ++l) {
            if (!routed(net.link_type[l])) continue;
            const double *ac = w.area.data() + l, *yc = net.yp.data() + l,
                         *bc = net.bel.data() + l, *dc = w.chan_depth.data() + l;
            const double dx = net.dx[l];
            // sqrt(9.81 d) h / dx rises with d: the deepest node of a link has its
            // largest Courant number. A link without a node that stops the run is
            // scanned without a branch; the loop below finds the node that does.
            double deepest = 0.0;
            const std::size_t nx = static_cast<std::size_t>(net.comp_node_count[l]);
            bool stop = false;
            for (std::size_t k = 1; dx > 0.0 && k <= nx; ++k) {
                const double depth = courant_depth(dc[k * ds]);
                stop |= std::isnan(ac[k * as]) | (yc[k * ys] < bc[k * bs]);
                deepest = depth > deepest ? depth : deepest;
            }
            for (int n = 1; (stop || !(dx > 0.0)) && n <= net.comp_node_count[l]; ++n) {
                const std::size_t k = static_cast<std::size_t>(n);
                if (std::isnan(ac[k * as])) {
                    std::printf("In ex_flow_route 1:  cross-sectional area is not a number at link "
                                "%d node %d\n",
                                l, n);
                    settle_conveyance();
                    raise_printed_error();
                    return -1;
                }
                if (yc[k * ys] < bc[k * bs]) {
                    std::printf("in ex_flow_route 2, negative depth at link %d node %d\n", l, n);
                    std::printf("program stopped.\n");
                    settle_conveyance();
                    raise_printed_error();
                    return -1;
                }
                const double depth = courant_depth(dc[k * ds]);
                if (dx > 0.0) {
                    if (depth > deepest) deepest = depth;
                } else {
                    const double c = std::sqrt(9.81 * depth) * h / dx;
                    if (c > cmax) cmax = c;
                }
            }
            double c = 0.0;
            if (dx > 0.0) {
                c = std::sqrt(9.81 * deepest) * h / dx;
                if (c > cmax) cmax = c;
            }
            if (!local) continue;
            bool flat = false;
            const double d = link_diffusion_rate(s, l, false, &flat);
            if (d > dmax) dmax = d, dmax_floored = flat;
            demand[static_cast<std::size_t>(l)] =
                std::max({c / c_lim, std::max(d, link_stiffness(s, l)) * h / diffusion_limit,
                          link_throughflow_rate(s, l) * h});
        }
        // Without local sub-steps the diffusion number matters only where it asks
        // for more sub-steps than the Courant number, from the next whole number
        // up: the links whose faces may reach that rate are scanned in full.
        if (!local) {
            const double courant = cmax / c_lim;
            const double asks = courant >= 1.0 ? std::floor(courant) + 1.0 : 1.0;
            const double rate = asks * diffusion_limit / h;
            for (int l = 1; l <= L; ++l) {
                if (!routed(net.link_type[l]) || !link_diffusion_reaches(s, l, rate)) continue;
                bool flat = false;
                const double d = link_diffusion_rate(s, l, true, &flat);
                if (d > dmax) dmax = d, dmax_floored = flat;
            }
        }
        // The sub-step is split so that both the gravity-wave Courant number and the
        // diffusion number stay below their limits.
        const double split = std::max(cmax / c_lim, dmax * h / diffusion_limit);
        ++w.substeps;
        if (dmax_floored && split >= 1.0 && dmax * h / diffusion_limit > cmax / c_lim) ++w.floor_substeps;
        const double before = h;
        if (split >= 1.0) h /= static_cast<int>(split + 1.0);
        // Links that allow longer sub-steps take them (see local_cycle); a cycle
        // that fails leaves one short sub-step of every link to the step below.
        bool cycle = false;
        double span = h;
        const int top = local ? assign_levels(s, demand, before, h, remaining) : 0;
        if (top > 0) {
            const double count = static_cast<double>(1 << top);
            double hc = h;
            span = h * count;
            if (remaining - span <= 0.001) {
                hc = remaining / count;
                span = remaining;
            }
            settle_conveyance();
            const int r = local_cycle(s, hc, top, c_lim);
            if (r < 0) return -1;
            cycle = r == 1;
            if (cycle) {
                remaining = span < remaining ? remaining - span : 0.0;
            } else {
                span = h;
            }
        }
        if (!cycle) {
            if (exchange) {
                result = section_table_lookup(s);
                if (error_record.fatal) return -1;
            }
            copy_nodes(w.area_old, w.area, net);
            if (exchange) copy_nodes(net.qriv_old, w.qriv, net);

            bool accepted = false;
            for (int attempt = 0; !accepted; ++attempt) {
                if (h < 0.001 || attempt > 64) {
                    settle_conveyance();
                    return stop_small_step();
                }
                // A retry starts again from the discharges of the sub-step's start.
                if (attempt == 0)
                    copy_nodes(net.qp_start, net.qp, net);
                else
                    copy_nodes(net.qp, net.qp_start, net);
                remaining -= h;
                if (remaining <= 0.001) {
                    h += remaining;
                    remaining = 0.0;
                }
                double change = 1.0;
                bool negative = false;
                for (int pass = 1; change > 0.01 && pass <= 2 && !negative; ++pass) {
                    // Each attempt starts with the areas at the saved ones; a second pass
                    // starts from them again.
                    if (pass > 1) copy_nodes(w.area, w.area_old, net);
                    copy_nodes(net.area_iter, w.area_old, net);
                    if (exchange) copy_nodes(w.qriv, net.qriv_old, net);
                    // The second pass starts from the saved areas; their sections are not
                    // made here since the predictor below sets every value they would set.
                    const bool filled = continuity(s, net.area_iter, w.area_old, net.qp, h, true).filled;
                    clamp_unrouted(net.area_iter, net);
                    sections_from(s, net.area_iter);
                    conveyance_stale = false;
                    if (filled && filling_courant(s, h) > c_lim) {
                        negative = true;
                        break;
                    }
                    copy_nodes(net.qp_iter, net.qp, net);
                    discharge_arrays da{&w.chan_depth, &w.conv, &net.qp_iter};
                    if (channel_outlet_and_structures(s, da) != 0) return -1;
                    average_discharges(net, every_link_averaged);
                    if (exchange) copy_nodes(w.qriv, net.qriv_old, net);
                    const continuity_result found = continuity(s, w.area, w.area_old, net.qp, h, false, &net.area_iter);
                    negative = found.negative;
                    change = found.change;
                }
                if (!negative) {
                    accepted = true;
                    break;
                }
                // A node ran dry, or the depths the sub-step brings exceed the Courant
                // limit: retry the sub-step at half its length.
                remaining += h;
                h *= 0.5;
                copy_nodes(w.area, w.area_old, net);
                if (exchange) copy_nodes(w.qriv, net.qriv_old, net);
                sections_from(s, w.area, between);
                conveyance_stale = between == section_parts::depth_only;
            }
            span = h;
        }
        // An accepted sub-step can leave an area just below 0 (down to -1e-8);
        // lifting it to 0 creates water, which is booked.
        const bool below = any_below_zero(w.area, net);
        for (int l = 1; below && l <= L; ++l)
            for (int n = 1; n <= net.max_node_count; ++n)
                if (w.area[n][l] < 0.0) {
                    if (routed(net.link_type[l]) && n <= net.comp_node_count[l])
                        w.negative_area_volume -= w.area[n][l] * net.dx[l];
                    w.area[n][l] = 0.0;
                }
        const bool last = !(remaining > 1e-16);
        sections_from(s, w.area, last ? section_parts::all : between);
        conveyance_stale = !last && between == section_parts::depth_only;
        pass_outlet_inflow(s);
        if (!cycle) book_releases(s, span);
        if (net.lake_count > 0) lake_bookkeeping(s, span);
        if (exchange && net.lake_count > 0) book_lake_bed_volumes(s, span);
        if (exchange) seepage_volumes(s, span);
        point_input_volumes(s, span);
        // The volume through each face: over a cycle, what its sub-steps passed.
        auto face_volume_of = [&net, cycle, span](int n, int l) {
            return cycle && n <= net.comp_node_count[l] ? net.face_sum[n][l] : net.qp[n][l] * span;
        };
        if (!w.face_volume.empty())
            for (int l = 1; l <= L; ++l)
                for (int n = 1; n <= net.max_node_count; ++n) w.face_volume[n][l] += face_volume_of(n, l);
        const int nx = net.comp_node_count[L];
        if (nx >= 1) {
            outlet_volume += face_volume_of(nx, L);
            s.outlet_discharge = net.qp[nx][L];
        }
        if (s.in_hyd_location_on) hydrograph_point_volumes(s, face_volume_of);
    }
    settle_conveyance();
    s.routed_outflow_volume = outlet_volume;
    for (int n = 1; n <= net.max_node_count; ++n) {
        double *q = w.qlat[static_cast<std::size_t>(n)].data();
        for (int l = 1; l <= L; ++l) q[l] = 0.0;
    }
    return result;
}

int ex_flow_route(model_state &s) {
    const double since = s.now_days - s.channel_clock.last;
    const double dt = since > 1e-06 ? since * 86400.0 : s.channel_step_seconds;
    return ex_flow_route_step(s, dt, s.max_courant_number);
}
