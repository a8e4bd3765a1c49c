// Break-point cross-sections of one link turned into per-node property tables.
// The card-form reader calls interp_breakpoint_xsecs when the last pair of a
// link's last section has been read; the tables themselves are built by the
// cross-section routines.
#include "model/input/breakpoint_tables.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/channel/cross_sections.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"

namespace {

// Lowest and highest elevation of a section (the lowest search starts from
// 10000000.0 as the tables always have).
void elevation_range(const breakpoint_section &sec, int npairs, double &low, double &high) {
    low = 10000000.0;
    high = sec.y[1];
    for (int i = 1; i <= npairs; ++i) {
        const double y = sec.y[static_cast<std::size_t>(i)];
        if (y < low) low = y;
        if (y > high) high = y;
    }
}

// Checks the level count and the depth step of table t; false after a stop.
bool levels_ok(const breakpoint_section &sec, int npairs, int ninterp, int t, int link) {
    if (ninterp < 1 || ninterp > 30000) {
        std::printf("\n\nError: The number of interpolation points [%d] for table %d in link %d "
                    "is invalid. (Range is 1-30000.) \n",
                    ninterp, t, link);
        raise_printed_error();
        return false;
    }
    double low = 0.0, high = 0.0;
    elevation_range(sec, npairs, low, high);
    const double step = (high - low) / ninterp;
    if (step < 0.0001 || step > 1.0) {
        std::printf("\n\nError: The interpolation distance [%6.5lf] produced by the number of "
                    "interpolation points [%d]\nfor table %d in link %d is invalid. (Range is "
                    "0.0001 to 1.0)\n",
                    step, ninterp, t, link);
        raise_printed_error();
        return false;
    }
    return true;
}

bool table_in_range(const channel_network &net, int t, int link) {
    if (t >= 1 && t <= net.table_count) return true;
    std::printf("\n\nError: link %d needs more break-point tables than were counted.\n", link);
    raise_printed_error();
    return false;
}

// Stores the section's stations and elevations as table t's break points.
void store_points(channel_network &net, int t, const breakpoint_section &sec, int npairs) {
    net.table_pairs[t] = npairs;
    for (int i = 1; i <= npairs; ++i) {
        net.xbp[t][i] = sec.x[static_cast<std::size_t>(i)];
        net.ybp[t][i] = sec.y[static_cast<std::size_t>(i)];
    }
}

// Elevation of the section as read at station xs, by linear interpolation.
double elevation_at(const breakpoint_section &sec, double xs) {
    const int n = sec.npairs;
    for (int i = 1; i < n; ++i) {
        const double x1 = sec.x[static_cast<std::size_t>(i)];
        const double x2 = sec.x[static_cast<std::size_t>(i) + 1];
        if (xs < std::min(x1, x2) || xs > std::max(x1, x2)) continue;
        const double y1 = sec.y[static_cast<std::size_t>(i)];
        const double y2 = sec.y[static_cast<std::size_t>(i) + 1];
        if (x2 == x1) return y2;
        return y1 + (y2 - y1) * (xs - x1) / (x2 - x1);
    }
    return xs <= sec.x[1] ? sec.y[1] : sec.y[static_cast<std::size_t>(n)];
}

// Erodible link: every node gets its own resampled section and table.
int erodible_tables(model_state &s, int link, std::vector<breakpoint_section> &sections,
                    int &counter) {
    channel_network &net = s.channels;
    const int e = net.erode_index[link];
    for (int n = 1; n <= net.node_count[link]; ++n) {
        // The node's own section, else the nearest one before it, else the first.
        const breakpoint_section *sec = &sections.front();
        for (const breakpoint_section &c : sections)
            if (c.node <= n) sec = &c;
        const int t = ++counter;
        if (!table_in_range(net, t, link)) return -1;
        const int np = sec->npairs, k = sec->ninterp;
        if (!levels_ok(*sec, np, k, t, link)) return -1;
        store_points(net, t, *sec, np);
        net.table_interp[t] = k;
        double xmin = sec->x[1], xmax = sec->x[1];
        for (int i = 1; i <= np; ++i) {
            xmin = std::min(xmin, sec->x[static_cast<std::size_t>(i)]);
            xmax = std::max(xmax, sec->x[static_cast<std::size_t>(i)]);
        }
        const double step = (xmax - xmin) / (np - 1);
        for (int i = 1; i <= np; ++i) {
            const double xs = i == np ? xmax : xmin + (i - 1) * step;
            net.xbp_lnn[e][n][i] = xs;
            net.ybp_lnn[e][n][i] = elevation_at(*sec, xs);
        }
        net.table_num[n][link] = t;
        xsec_property_tables(s, net.extra_tables, link, n);
        if (error_record.fatal) return -1;
    }
    return 0;
}

// Table tb for a node between section tables ta and tc, weight w toward tc.
void interpolate_table(channel_network &net, int ta, int tc, int tb, double w) {
    const int nl = net.table_interp[ta];
    const int np = net.table_pairs[ta];
    net.table_interp[tb] = nl;
    net.table_pairs[tb] = np;
    net.table_dy[tb] = (1.0 - w) * net.table_dy[ta] + w * net.table_dy[tc];
    net.table_ymin[tb] = (1.0 - w) * net.table_ymin[ta] + w * net.table_ymin[tc];
    for (int i = 1; i <= np; ++i) {
        net.xbp[tb][i] = (1.0 - w) * net.xbp[ta][i] + w * net.xbp[tc][i];
        net.ybp[tb][i] = (1.0 - w) * net.ybp[ta][i] + w * net.ybp[tc][i];
    }
    array_2d<double> *rows[] = {&net.xarea, &net.xtw, &net.xk, &net.xp, &net.xi1, &net.xdkda};
    for (array_2d<double> *r : rows) {
        if (r->empty()) continue;
        for (int k = 0; k <= nl; ++k) (*r)[tb][k] = (1.0 - w) * (*r)[ta][k] + w * (*r)[tc][k];
    }
}

// Plain break-point link: one section for all nodes, or tables built at the
// section nodes and interpolated at the nodes between them.
int plain_tables(model_state &s, int link, std::vector<breakpoint_section> &sections,
                 int &counter) {
    channel_network &net = s.channels;
    const int count = static_cast<int>(sections.size());
    for (int j = 1; j < count; ++j) {
        if (sections[static_cast<std::size_t>(j)].node <= sections[static_cast<std::size_t>(j) - 1].node) {
            std::printf("\n\nError: the break-point cross-sections of link %d must lie on "
                        "increasing nodes (node %d follows node %d).\n",
                        link, sections[static_cast<std::size_t>(j)].node,
                        sections[static_cast<std::size_t>(j) - 1].node);
            raise_printed_error();
            return -1;
        }
    }
    int pairs = sections.front().npairs, levels = sections.front().ninterp;
    for (int j = 1; j < count; ++j) {
        const breakpoint_section &a = sections[static_cast<std::size_t>(j) - 1];
        const breakpoint_section &b = sections[static_cast<std::size_t>(j)];
        if (a.npairs != b.npairs) {
            std::printf("\n\nWARNING!!!! When using two break-point cross-sections the number of "
                        "pairs \n            must be equal, which they are not for link %d.\n\n",
                        link);
            if (b.npairs > a.npairs)
                std::printf("  ---> Disregarding the last %d pairs of the second cross-section. "
                            "<---\n\n",
                            b.npairs - a.npairs);
            else
                std::printf("  ---> Disregarding the last %d pairs of the first cross-section. "
                            "<---\n\n",
                            a.npairs - b.npairs);
        }
        if (a.ninterp != b.ninterp)
            std::printf("\nUsing the greater of the two number of interpolation points \nfor "
                        "both cross-section in link %d.\n",
                        link);
        pairs = std::min(pairs, b.npairs);
        levels = std::max(levels, b.ninterp);
    }
    const int first = sections.front().node;
    const int base = counter;
    auto table_of = [&](int n) { return base + std::clamp(n, first, sections.back().node) - first + 1; };
    for (const breakpoint_section &sec : sections) {
        const int t = table_of(sec.node);
        if (!table_in_range(net, t, link)) return -1;
        if (!levels_ok(sec, pairs, levels, t, link)) return -1;
        store_points(net, t, sec, pairs);
        if (build_section_table(net, t, sec.x.data(), sec.y.data(), pairs, levels, net.kconv[link],
                                net.extra_tables, link, true) != 0)
            return -1;
    }
    for (int j = 1; j < count; ++j) {
        const int na = sections[static_cast<std::size_t>(j) - 1].node;
        const int nc = sections[static_cast<std::size_t>(j)].node;
        for (int n = na + 1; n < nc; ++n) {
            if (!table_in_range(net, table_of(n), link)) return -1;
            interpolate_table(net, table_of(na), table_of(nc), table_of(n),
                              static_cast<double>(n - na) / (nc - na));
        }
    }
    for (int n = 1; n <= net.node_count[link]; ++n) net.table_num[n][link] = table_of(n);
    counter = base + sections.back().node - first + 1;
    return 0;
}

}  // namespace

int breakpoint_table_count(int type, int node_count, int first_section_node,
                           int last_section_node) {
    if (type == link_breakpoint_erode) return node_count;
    if (first_section_node < 1) return 1;
    return last_section_node - first_section_node + 1;
}

int interp_breakpoint_xsecs(model_state &state, int link, std::vector<breakpoint_section> &sections,
                            int &table_counter) {
    if (sections.empty()) return -1;
    if (state.channels.link_type[link] == link_breakpoint_erode)
        return erodible_tables(state, link, sections, table_counter);
    return plain_tables(state, link, sections, table_counter);
}
