// Channel sediment transport, once per channel step after the routing step
// (step_channel_routing): lateral sediment from the land, the sand pass at Yang's
// capacity, wash deposition on dry nodes, wash routing with the water, and the
// outlet rates that the channel piece books.
#include "model/sediment/channel_sediment.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "model/channel/channel_services.h"
#include "model/channel/cross_sections.h"
#include "model/core/errors.h"
#include "model/core/model_state.h"
#include "model/core/sediment_ledger.h"
#include "model/sediment/overland_erosion.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

bool erodible(int type) { return type == link_trapezoid_erode || type == link_breakpoint_erode; }

int nodes_of(const channel_network &net, int l) { return net.comp_node_count[at(l)]; }

// The last node of a link that has no downstream link: sediment leaves there.
bool is_outlet(const channel_network &net, int n, int l) {
    return n == nodes_of(net, l) && net.ds_link[at(l)] == 0;
}

// The node below (n, l): the next node of the link, or node 1 of the downstream link.
void next_node(const channel_network &net, int n, int l, int &tn, int &tl) {
    if (n < nodes_of(net, l)) {
        tn = n + 1;
        tl = l;
    } else {
        tn = 1;
        tl = net.ds_link[at(l)];
    }
}

double node_depth(const channel_network &net, int n, int l) {
    return net.yp[at(n)][at(l)] - net.bel[at(n)][at(l)];
}

// Flow area and wetted perimeter of node (n, l) at depth h by its link's type.
void node_section(model_state &s, int n, int l, double h, double &area, double &perimeter) {
    const channel_network &net = s.channels;
    const double b = net.bottom[at(n)][at(l)], z = net.sslope[at(n)][at(l)];
    area = perimeter = 0.0;
    switch (net.link_type[at(l)]) {
    case link_trapezoid_erode:
        area = b * h + z * h * h;
        perimeter = b + 2.0 * h * std::sqrt(1.0 + z * z);
        return;
    case link_breakpoint_erode: channel_sediment_interp(net, l, n, h, area, perimeter); return;
    case link_trapezoid:
    case link_subsurface_trapezoid:
    case link_trapezoid_erode2: {
        const section_props p = trapezoid_from_depth(b, z, std::max(h, 0.0), net.kconv[at(l)]);
        area = p.area;
        perimeter = p.perimeter;
        return;
    }
    case link_floodplain: {
        const section_props p = floodplain_from_depth(b, z, net.bankfull_dep[at(n)][at(l)],
                                                      net.sslope2[at(n)][at(l)], std::max(h, 0.0),
                                                      net.kconv[at(l)]);
        area = p.area;
        perimeter = p.perimeter;
        return;
    }
    case link_breakpoint_table:
    case link_breakpoint: {
        section_props p;
        int beyond = 0;
        if (table_props_from_depth(net, net.table_num[at(n)][at(l)], std::max(h, 0.0), p, beyond) == 0) {
            area = p.area;
            perimeter = p.perimeter;
        }
        return;
    }
    default:
        // Lakes, weirs and structures have no section: the routed area, no perimeter.
        if (!s.chan.area.empty()) area = s.chan.area[at(n)][at(l)];
        return;
    }
}

// Rows of qsmax: the node's own row (by the node-numbering switch) and the flat row.
struct flux_rows {
    array_2d<double> *table = nullptr;
    int own = 0, flat = 0;
    void add(int row, int column, double v) const {
        if (table && row >= 0 && static_cast<std::size_t>(row) <= table->rows()) (*table)[at(row)][at(column)] += v;
    }
    void set(int row, int column, double v) const {
        if (table && row >= 0 && static_cast<std::size_t>(row) <= table->rows()) (*table)[at(row)][at(column)] = v;
    }
};

flux_rows rows_of(model_state &s, int n, int l) {
    flux_rows r;
    if (s.chan.qsmax.empty()) return r;
    r.table = &s.chan.qsmax;
    r.flat = l * s.channels.max_node_count + n;
    r.own = s.non_ortho_channels ? r.flat
                                 : (s.chan.con_vect.empty() ? 0 : s.chan.con_vect[at(n)][at(l)]);
    return r;
}

bool flux_output_on(const model_state &s) {
    return s.project.max_sed_flux.given || s.project.in_sed_loc.given;
}

// Slope of the bed at the outlet node (n, l): from the node before it, or, on a
// one-node link, from the last node of its first upstream link.
double outlet_bed_slope(const channel_network &net, int n, int l) {
    const double dx = net.dx[at(l)];
    if (!(dx > 0.0)) return 0.0;
    if (n > 1) return std::fabs(net.bel[at(n - 1)][at(l)] - net.bel[at(n)][at(l)]) / dx;
    if (net.us_count[at(l)] < 1 || net.uslinks.empty()) return 0.0;
    const int u = net.uslinks[at(l)][1];
    if (u < 1 || u > net.link_count) return 0.0;
    return std::fabs(net.bel[at(nodes_of(net, u))][at(u)] - net.bel[at(n)][at(l)]) / dx;
}

struct sand_context {
    model_state &s;
    double T, d, nu, w;
    int W, S;
};

// Step 3 for node (n, l); false after a stop.
bool sand_node(sand_context &c, int n, int l) {
    model_state &s = c.s;
    channel_network &net = s.channels;
    channel_work &cw = s.chan;
    sediment_record &r = s.sediment;
    const bool outlet = is_outlet(net, n, l);
    int tn = 0, tl = 0;
    next_node(net, n, l, tn, tl);
    int fn = n, fl = l;
    const double q_node = net.qp[at(n)][at(l)];
    if (!outlet && q_node < 0.0) {
        std::swap(fn, tn);
        std::swap(fl, tl);
    }
    const double h = node_depth(net, fn, fl);
    auto sand = [&](int nn, int ll) { return cw.ch_sand_vol[at(nn)][at(ll)]; };
    // Lateral sand joins the node's store; a node too shallow to move sand still keeps it.
    for (int k = 1; k <= c.S; ++k) {
        const double v = cw.qlat_sed[at(n)][at(l)][at(c.W + k)];
        sand(n, l)[at(k)] += v;
        sand(n, l)[0] += v;
    }
    if (h < 1e-5) return true;

    double area = 0.0, perimeter = 0.0;
    node_section(s, fn, fl, h, area, perimeter);
    const double velocity = area > 0.0 ? net.qp[at(fn)][at(fl)] / area : 0.0;
    const double radius = perimeter > 0.0 ? area / perimeter : 0.0;
    const double dx = net.dx[at(l)];
    const double slope = outlet ? outlet_bed_slope(net, n, l)
                                : (dx > 0.0 ? std::fabs(net.yp[at(fn)][at(fl)] - net.yp[at(tn)][at(tl)]) / dx
                                            : 0.0);
    const double ustar = std::sqrt(9810.0 * radius * slope / 1000.0);
    const double ct = yang_sand_concentration(velocity, slope, ustar, c.w, c.d, c.nu);
    double qs = ct * 9810.0 * std::fabs(q_node) / 2.59965e10;
    if (std::isnan(qs)) {
        std::printf("bed load NaN\n");
        qs = 0.0;  // a capacity that is not a number moves nothing
    }
    const double vc = qs * c.T;
    row_ref<double> from = sand(fn, fl);
    const double va = std::max(from[0], 0.0);
    double sigma = 0.0;
    for (int k = 1; k <= c.S; ++k) sigma += from[at(k)];
    const flux_rows rows = rows_of(s, n, l);
    auto write_class = [&](int k, double rate) { rows.set(rows.flat, c.W + k, rate); };

    if (vc <= va) {
        if (outlet) {
            if (sigma < vc || sigma <= 0.0) {
                for (int k = 1; k <= c.S; ++k) {
                    const double v = from[at(k)];
                    r.outlet_sand_rate[at(k)] += v / c.T;
                    write_class(k, v / c.T);
                    from[at(k)] = 0.0;
                    from[0] -= v;
                }
                r.outlet_sand_rate[0] += (vc - sigma) / c.T;
                from[0] -= vc - sigma;
            } else {
                for (int k = 1; k <= c.S; ++k) {
                    const double rate = from[at(k)] * qs / sigma;
                    r.outlet_sand_rate[at(k)] += rate;
                    write_class(k, rate);
                    from[at(k)] -= rate * c.T;
                    from[0] -= rate * c.T;
                }
            }
        } else {
            row_ref<double> to = sand(tn, tl);
            if (sigma < vc || sigma <= 0.0) {
                for (int k = 1; k <= c.S; ++k) {
                    const double v = from[at(k)];
                    to[at(k)] += v;
                    to[0] += v;
                    from[at(k)] = 0.0;
                    from[0] -= v;
                    write_class(k, v / c.T);
                }
                to[0] += vc - sigma;
                from[0] -= vc - sigma;
            } else {
                for (int k = 1; k <= c.S; ++k) {
                    const double m = vc * from[at(k)] / sigma;
                    to[at(k)] += m;
                    to[0] += m;
                    from[at(k)] -= m;
                    from[0] -= m;
                    write_class(k, m / c.T);
                }
            }
        }
        rows.set(rows.own, 0, qs);
        return true;
    }
    if (outlet) {
        double moved = 0.0;
        for (int k = 1; k <= c.S; ++k) {
            const double v = from[at(k)];
            r.outlet_sand_rate[at(k)] += v / c.T;
            write_class(k, v / c.T);
            from[at(k)] = 0.0;
            moved += v;
        }
        if (va < moved) {
            std::printf("total volume of sand-size particles in channel is less than volume of "
                        "sand-size particles entering into channel at node %d link %d itime %d\n",
                        n, l, s.step_number);
            raise_printed_error();
            return false;
        }
        r.outlet_sand_rate[0] += (va - moved) / c.T;
        // A store below 0 is lifted to 0 as it empties.
        post_sediment(s, 0, ledger_node::mass_cleanup, ledger_node::channel_bed, va - from[0]);
        from[0] = 0.0;
        rows.set(rows.own, 0, va / c.T);
        return true;
    }
    row_ref<double> to = sand(tn, tl);
    for (int k = 1; k <= c.S; ++k) {
        const double v = from[at(k)];
        to[at(k)] += v;
        from[at(k)] = 0.0;
        write_class(k, v / c.T);
    }
    to[0] += from[0];
    from[0] = 0.0;
    rows.set(rows.own, 0, va / c.T);
    return true;
}

// Bed level of an erodible trapezoid node from its sand store.
void update_bed_level(model_state &s, int n, int l, double cell_size) {
    channel_network &net = s.channels;
    channel_work &cw = s.chan;
    if (cw.new_bel.empty() || node_depth(net, n, l) < 1e-5) return;
    const double p = s.sediment.porosity, layer = net.max_eros[at(n)][at(l)];
    const double b = net.bottom[at(n)][at(l)], z = net.sslope[at(n)][at(l)];
    const double store = cw.ch_sand_vol[at(n)][at(l)][0];
    const double full = (1.0 - p) * layer * b * net.dx[at(l)];
    const double bed = net.bel[at(n)][at(l)];
    if (store >= full && cell_size > 0.0 && p < 1.0) {
        const double as = store / cell_size / (1.0 - p);
        if (z > 0.0)
            cw.new_bel[at(n)][at(l)] = bed + (std::sqrt(b * b + 4.0 * z * as) - b) / (2.0 * z);
        else if (b > 0.0)
            cw.new_bel[at(n)][at(l)] = bed + as / b;
    } else if (full > 0.0) {
        cw.new_bel[at(n)][at(l)] = bed - layer * (1.0 - std::max(store, 0.0) / full);
    }
}

// Step 5 for node (n, l).
void wash_node(model_state &s, int n, int l, double T, int W) {
    channel_network &net = s.channels;
    channel_work &cw = s.chan;
    sediment_record &r = s.sediment;
    const double h = node_depth(net, n, l);
    const flux_rows rows = rows_of(s, n, l);
    const double q = net.qp[at(n)][at(l)];
    if (is_outlet(net, n, l)) {
        // The rates were cleared at the start of the call; a dry outlet adds nothing.
        if (h < 0.0001) return;
        double area = 0.0, perimeter = 0.0;
        node_section(s, n, l, h, area, perimeter);
        const double dx = net.dx[at(l)];
        // Water running back into the network carries no wash out of it.
        const double f = q > 0.0 && area > 0.0 && dx > 0.0 ? q * T / (dx * area) : 0.0;
        row_ref<double> wash = cw.ch_wash_vol[at(n)][at(l)];
        double left = 0.0;
        for (int k = 1; k <= W; ++k) {
            const double m = std::min(wash[at(k)] * f, wash[at(k)]);
            r.outlet_wash_rate[at(k)] += m / T;
            rows.set(rows.flat, k, m / T);
            left += m;
            wash[at(k)] -= m;
        }
        r.outlet_wash_rate[0] += left / T;
        rows.add(rows.own, 0, left / T);
        return;
    }
    if (h < 0.0001 || !erodible(net.link_type[at(l)]) || std::fabs(q) < 1e-5) return;
    int tn = 0, tl = 0;
    next_node(net, n, l, tn, tl);
    int fn = n, fl = l;
    if (q < 0.0) {
        std::swap(fn, tn);
        std::swap(fl, tl);
    }
    if (fl < 1 || tl < 1) return;
    double area = 0.0, perimeter = 0.0;
    node_section(s, fn, fl, node_depth(net, fn, fl), area, perimeter);
    const double dx = net.dx[at(fl)];
    if (!(area > 0.0) || !(dx > 0.0)) return;
    const double f = net.qp[at(fn)][at(fl)] * T / (dx * area);
    const bool to_wet = node_depth(net, tn, tl) >= 0.0001;
    row_ref<double> from = cw.ch_wash_vol[at(fn)][at(fl)];
    row_ref<double> to = cw.ch_wash_vol[at(tn)][at(tl)];
    for (int k = 1; k <= W; ++k) {
        const double x = from[at(k)] * f;
        if (std::isnan(x)) {
            std::printf("1- sed_vol=NaN, node= %d link= %d itime=%ld\n", n, l,
                        static_cast<long>(s.step_number));
            continue;
        }
        const double m = std::min(std::fabs(x), from[at(k)]);
        rows.add(rows.own, 0, m / T);
        if (s.non_ortho_channels) rows.set(rows.flat, k, m / T);
        if (to_wet) {
            from[at(k)] -= m;
            to[at(k)] += m;
        }
    }
}

bool make_flux_table(model_state &s) {
    if (!flux_output_on(s) || !s.chan.qsmax.empty()) return true;
    const channel_network &net = s.channels;
    const long long rows = std::max<long long>(s.cell_count, (static_cast<long long>(net.link_count) + 1) *
                                                                 net.max_node_count) +
                           1;
    return alloc_2d_double(s.chan.qsmax, rows, s.sediment.class_count, "qsmax") == 0;
}

}  // namespace

int channel_sediment_interp(const channel_network &net, int link, int node, double h,
                            double &area, double &perimeter) {
    area = perimeter = 0.0;
    const int t = net.table_num[at(node)][at(link)];
    if (t < 1 || t > net.table_count || net.xarea.empty() || net.xp.empty()) return -1;
    const double dy = net.table_dy[at(t)];
    const int levels = std::min<int>(net.table_interp[at(t)], static_cast<int>(net.xarea.cols()));
    if (!(dy > 0.0) || levels < 1 || !(h > 0.0)) return 0;
    const auto A = net.xarea[at(t)];
    const auto P = net.xp[at(t)];
    if (h < dy) {
        const double scale = std::pow(h, 5.0 / 3.0);
        const double base = std::pow(dy, 5.0 / 3.0);
        area = A[1] / base * scale;
        perimeter = P[1] / base * scale;
        return 0;
    }
    const double top = levels * dy;
    if (h > top) {
        const double e = (h - top) / dy;
        area = A[at(levels)] + (A[at(levels)] - A[at(levels - 1)]) * e;
        perimeter = P[at(levels)] + (P[at(levels)] - P[at(levels - 1)]) * e;
        return 0;
    }
    const int k = std::min(static_cast<int>(h / dy), levels - 1);
    const double e = (h - k * dy) / dy;
    area = A[at(k)] + (A[at(k + 1)] - A[at(k)]) * e;
    perimeter = P[at(k)] + (P[at(k + 1)] - P[at(k)]) * e;
    return 0;
}

double yang_sand_concentration(double velocity, double slope, double ustar, double w, double d,
                               double nu) {
    if (!(w > 0.0) || !(nu > 0.0) || !(d > 0.0)) return 0.0;
    const double re = ustar * d / nu;
    if (!(re >= 1.2)) return 0.0;
    // Yang's critical velocity over the fall velocity as he published it:
    // 2.5 / (log10(u* d / nu) - 0.06) + 0.66 below a shear Reynolds number of 70,
    // 2.05 from 70 on (the two meet at 70).
    const double crit = re < 70.0 ? 2.5 / (std::log10(re) - 0.06) + 0.66 : 2.05;
    const double v = std::fabs(velocity);
    if (v / w < crit) return 0.0;
    // crit is already the critical velocity over w: its stream-power term is crit S.
    const double stream = v * slope / w - crit * slope;
    if (!(stream > 0.0)) return 0.0;
    const double lw = std::log10(w * d / nu), lu = std::log10(ustar / w);
    return std::pow(10.0, 5.435 - 0.286 * lw - 0.457 * lu +
                              (1.799 - 0.409 * lw - 0.314 * lu) * std::log10(stream));
}

bool gather_lateral_sediment(model_state &s) {
    channel_network &net = s.channels;
    channel_work &cw = s.chan;
    sediment_record &r = s.sediment;
    grid_stream_data &g = net.gst;
    if (cw.qlat_sed.empty()) return true;
    const int nc = std::min<int>(r.class_count, static_cast<int>(cw.qlat_sed.extent3()));
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= net.max_node_count; ++n)
            for (int k = 1; k <= nc; ++k) cw.qlat_sed[at(n)][at(l)][at(k)] = 0.0;
    if (g.entry_count.empty() || r.suspended.empty()) return true;
    for (int i = 1; i <= g.cell_count; ++i) {
        for (int j = 1; j <= g.entry_count[at(i)]; ++j) {
            const int l = g.gst_link[at(i)][at(j)], n = g.gst_node[at(i)][at(j)];
            const int c = g.gst_gnum[at(i)][at(j)];
            if (l < 1 || l > net.link_count || n < 1 || n > nodes_of(net, l)) continue;
            if (c < 1 || c > s.cell_count || !erodible(net.link_type[at(l)])) continue;
            const double share = std::clamp(g.gst_pct[at(i)][at(j)], 0.0, 1.0);
            for (int k = 1; k <= nc; ++k) {
                const double m = r.suspended[at(c)][at(k)] * share;
                if (std::isnan(m)) {
                    std::printf("qlat_sed is not a number, exiting.\n");
                    raise_printed_error();
                    return false;
                }
                r.suspended[at(c)][at(k)] -= m;
                // Posted share by share (the stream cells are few), so that the
                // ledger's total is the sum of the shares in cell order.
                post_sediment(s, k, ledger_node::surface, ledger_node::channels, m);
                cw.qlat_sed[at(n)][at(l)][at(k)] += m;
                cw.qlat_tot_sed[at(n)][at(l)][at(k)] += m;
            }
        }
    }
    return true;
}

void channel_sediment_transport(model_state &s, double T, double cell_size) {
    channel_network &net = s.channels;
    channel_work &cw = s.chan;
    sediment_record &r = s.sediment;
    if (cw.ch_sand_vol.empty() || cw.ch_wash_vol.empty() || cw.qlat_sed.empty() || !(T > 0.0)) return;
    const int W = r.wash_count, S = r.sand_count;
    if (r.outlet_sand_rate.empty() || r.outlet_wash_rate.empty()) return;
    if (!make_flux_table(s)) {
        raise_printed_error();
        return;
    }
    for (std::size_t k = 0; k <= r.outlet_sand_rate.last(); ++k) r.outlet_sand_rate[k] = 0.0;
    for (std::size_t k = 0; k <= r.outlet_wash_rate.last(); ++k) r.outlet_wash_rate[k] = 0.0;
    if (!cw.qsmax.empty())
        std::fill(cw.qsmax.data(), cw.qsmax.data() + (cw.qsmax.rows() + 1) * (cw.qsmax.cols() + 1), 0.0);

    // Step 1: entry check.
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= nodes_of(net, l); ++n)
            if (std::isnan(cw.ch_wash_vol[at(n)][at(l)][0])) {
                std::printf("entry point wash_vol=NaN at node %d link %d itime %d\n", n, l,
                            s.step_number);
                raise_printed_error();
                return;
            }

    // Step 2: fall velocity of the sand size (quartz, (G - 1) g = 1.65 x 9.81).
    const double nu = r.viscosity > 0.0 ? r.viscosity : 1e-6;
    const double d = r.sand_size / 1000.0;
    const double w = grain_fall_velocity(d, 16.1865, nu);

    // Step 3: sand.
    sand_context c{s, T, d, nu, w, W, S};
    for (int l = 1; l <= net.link_count; ++l) {
        if (!erodible(net.link_type[at(l)])) continue;
        for (int n = 1; n <= nodes_of(net, l); ++n)
            if (!sand_node(c, n, l)) return;
    }
    for (int l = 1; l <= net.link_count; ++l)
        if (net.link_type[at(l)] == link_trapezoid_erode)
            for (int n = 1; n <= nodes_of(net, l); ++n) update_bed_level(s, n, l, cell_size);

    // Step 4: wash on dry nodes settles into the bed; lateral wash joins the rest.
    std::vector<double> settled(at(std::max(W, 0)) + 1, 0.0);  // per wash class, for the ledgers
    for (int l = 1; l <= net.link_count; ++l) {
        if (!erodible(net.link_type[at(l)])) continue;
        for (int n = 1; n <= nodes_of(net, l); ++n) {
            row_ref<double> wash = cw.ch_wash_vol[at(n)][at(l)];
            row_ref<double> sand = cw.ch_sand_vol[at(n)][at(l)];
            const bool dry = node_depth(net, n, l) <= 0.0;
            for (int k = 1; k <= W; ++k) {
                const double lateral = cw.qlat_sed[at(n)][at(l)][at(k)];
                if (dry) {
                    // The lateral wash of a dry node settles with the rest.
                    sand[0] += wash[at(k)] + lateral;
                    settled[at(k)] += wash[at(k)] + lateral;
                    wash[at(k)] = 0.0;
                } else {
                    wash[at(k)] += lateral;
                }
            }
            if (dry) wash[0] = 0.0;
        }
    }
    // The settled wash leaves its class for the bed material (ledger 0).
    for (int k = 1; k <= W; ++k) {
        post_sediment(s, k, ledger_node::channels, ledger_node::channel_bed, settled[at(k)]);
        post_sediment(s, 0, ledger_node::channels, ledger_node::channel_bed, settled[at(k)]);
    }

    // Step 5: wash routing.
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= nodes_of(net, l); ++n) wash_node(s, n, l, T, W);

    // Step 6: wash totals.
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= nodes_of(net, l); ++n) {
            row_ref<double> wash = cw.ch_wash_vol[at(n)][at(l)];
            double sum = 0.0;
            for (int k = 1; k <= W; ++k) sum += wash[at(k)];
            wash[0] = sum;
        }
}

void book_channel_sediment_step(model_state &s, double step_seconds) {
    sediment_record &r = s.sediment;
    channel_network &net = s.channels;
    channel_work &cw = s.chan;
    if (!r.outlet_sand_rate.empty() && !r.outlet_wash_rate.empty()) {
        // Element 0 of the sand rates is the part taken from the outlet's store
        // beyond its classes: it left too.
        for (int k = 0; k <= r.sand_count; ++k) r.outlet_sand_total += r.outlet_sand_rate[at(k)] * step_seconds;
        for (int k = 1; k <= r.wash_count; ++k) r.outlet_wash_total += r.outlet_wash_rate[at(k)] * step_seconds;
        // Sand class k is class wash_count + k of the ledgers; element 0 is the bed material.
        using n = ledger_node;
        post_sediment(s, 0, n::channel_bed, n::outlet, r.outlet_sand_rate[0] * step_seconds);
        for (int k = 1; k <= r.sand_count; ++k)
            post_sediment(s, r.wash_count + k, n::channels, n::outlet,
                          r.outlet_sand_rate[at(k)] * step_seconds);
        for (int k = 1; k <= r.wash_count; ++k)
            post_sediment(s, k, n::channels, n::outlet, r.outlet_wash_rate[at(k)] * step_seconds);
    }
    if (r.channel_bed_change.empty() || cw.con_vect.empty()) return;
    const double p = r.porosity;
    for (int l = 1; l <= net.link_count; ++l) {
        if (net.link_type[at(l)] != link_trapezoid_erode) continue;
        for (int n = 1; n <= nodes_of(net, l); ++n) {
            const int c = cw.con_vect[at(n)][at(l)];
            if (c < 1 || c > s.cell_count) continue;
            const double full = (1.0 - p) * net.bottom[at(n)][at(l)] * net.dx[at(l)] *
                                net.max_eros[at(n)][at(l)];
            r.channel_bed_change[at(c)] = cw.ch_sand_vol[at(n)][at(l)][0] - full;
            r.channel_wash_load[at(c)] = cw.ch_wash_vol[at(n)][at(l)][0];
        }
    }
}

double channel_sand_store(const model_state &s) {
    const channel_network &net = s.channels;
    const channel_work &cw = s.chan;
    double v = 0.0;
    if (cw.ch_sand_vol.empty()) return v;
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= nodes_of(net, l); ++n) v += cw.ch_sand_vol[at(n)][at(l)][0];
    return v;
}

double channel_wash_store(const model_state &s) {
    const channel_network &net = s.channels;
    const channel_work &cw = s.chan;
    double v = 0.0;
    if (cw.ch_wash_vol.empty()) return v;
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= nodes_of(net, l); ++n)
            for (int k = 1; k <= s.sediment.wash_count; ++k) v += cw.ch_wash_vol[at(n)][at(l)][at(k)];
    return v;
}

void reset_erodible_beds(model_state &s) {
    channel_network &net = s.channels;
    if (s.chan.new_bel.empty()) return;
    for (int l = 1; l <= net.link_count; ++l) {
        if (net.link_type[at(l)] != link_trapezoid_erode) continue;
        for (int n = 1; n <= net.max_node_count; ++n) s.chan.new_bel[at(n)][at(l)] = net.bel[at(n)][at(l)];
    }
}
