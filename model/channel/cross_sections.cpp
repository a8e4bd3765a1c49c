// Cross-section geometry of the channel nodes: trapezoid and floodplain
// formulas, break-point property tables and their lookups, and the bed update of
// erodible break-point sections. Called by the channel set-up (tables), the
// initial channel state and the routing (ex_section), and the end of a
// land-management event (xsec_update).
#include "model/channel/cross_sections.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "model/core/thirds_powers.h"

namespace {

constexpr int max_wet_stretches = 49;

// Prints the six lines of a section cut into too many wet stretches and stops.
void report_jagged_section(int link, bool lead_blank) {
    if (lead_blank) std::printf("\n\n");
    std::printf("There is a serious problem with a channel cross-section in\n");
    std::printf("link %d.  The cross-section interpolation routine has found\n", link);
    std::printf("that this cross-section is very jagged, with over 50 'islands'\n");
    std::printf("for certain depths.  Calculating cross-section properties in\n");
    std::printf("this case is very dubious.  Check your cross section, smooth\n");
    std::printf("it if necessary and try again.\n");
    raise_printed_error();
}

// Properties of the section x[1..n], y[1..n] at water level e: the wet stretches
// are the runs of points at or below e, their ends interpolated where the profile
// crosses e. -1 when the level cuts the section into more than 49 stretches.
int wet_section_at(const double *x, const double *y, int n, double e, double &area,
                   double &width, double &perimeter) {
    area = width = perimeter = 0.0;
    if (n < 1) return 0;
    int stretches = 0;
    bool wet = y[1] <= e;
    double left = x[1];
    if (wet) stretches = 1;
    for (int i = 1; i < n; ++i) {
        const double x1 = x[i], y1 = y[i], x2 = x[i + 1], y2 = y[i + 1];
        const bool wet2 = y2 <= e;
        if (wet && wet2) {
            area += 0.5 * (x2 - x1) * ((e - y1) + (e - y2));
            perimeter += std::hypot(x2 - x1, y2 - y1);
        } else if (wet && !wet2) {
            // Rises out of the water: the stretch closes at the crossing.
            const double xc = x1 + (e - y1) * (x2 - x1) / (y2 - y1);
            area += 0.5 * (xc - x1) * (e - y1);
            perimeter += std::hypot(xc - x1, e - y1);
            width += xc - left;
            wet = false;
        } else if (!wet && wet2) {
            // Falls into the water: a new stretch opens at the crossing.
            const double xc = x1 + (y1 - e) * (x2 - x1) / (y1 - y2);
            if (++stretches > max_wet_stretches) return -1;
            left = xc;
            area += 0.5 * (x2 - xc) * (e - y2);
            perimeter += std::hypot(x2 - xc, e - y2);
            wet = true;
        }
    }
    if (wet) width += x[n] - left;
    return 0;
}

double conveyance_of(double k, double a, double p) {
    if (a <= 0.0 || p <= 0.0) return 0.0;
    return k * a * pow_two_thirds(a / p);
}

// Stops a call of ex_section: the message is printed by the caller.
void stop_section() { raise_printed_error(); }

void negative_area_stop(const char *where, int node, int link) {
    std::printf("%s", where);
    std::printf("program stopped for negative area, node %d, link %d\n", node, link);
    stop_section();
}

void negative_depth_stop(const char *where, int node, int link) {
    std::printf("%s", where);
    std::printf("program stopped for negative depth, node %d, link %d\n", node, link);
    stop_section();
}

void zero_width_stop(int node, int link) {
    std::printf("In ex_section: the section of node %d, link %d has no width\n", node, link);
    stop_section();
}

// Checks the table number of a break-point node; prints and stops when bad.
bool table_ok(const channel_network &net, int t, int node, int link) {
    if (t > net.table_count) {
        std::fprintf(stderr, "Error in section: Request for table beyond max. table number.\n");
        stop_section();
        return false;
    }
    if (t <= 0) {
        std::fprintf(stderr, "Error in section: node %d of link %d has no cross-section table.\n",
                     node, link);
        stop_section();
        return false;
    }
    return true;
}

// ---- mode 1: area to depth ----

// Returns false after a stop.
bool trapezoid_mode1(channel_network &net, section_arrays &a, int n, int l) {
    double area = (*a.area)[n][l];
    if (area <= -0.0001) {
        negative_area_stop("In ex_section - 1\n", n, l);
        return false;
    }
    if (area < 0.0) {
        area = 0.0;
        (*a.area)[n][l] = 0.0;
    }
    const double b = net.bottom[n][l], z = net.sslope[n][l];
    double y = 0.0;
    if (area > 0.0) {
        y = trapezoid_depth_from_area(b, z, area);
        if (y < 0.0 && b <= 0.0 && z <= 0.0) {
            zero_width_stop(n, l);
            return false;
        }
        if (y > -0.0001 && y < 0.0) y = 0.0;
    }
    (*a.depth)[n][l] = y;
    (*a.wse)[n][l] = net.bel[n][l] + y;
    if (y > 0.0) {
        const double p = b + 2.0 * y * std::sqrt(1.0 + z * z);
        (*a.conv)[n][l] = conveyance_of(net.kconv[l], area, p);
    } else {
        (*a.conv)[n][l] = 0.0;
    }
    return true;
}

bool table_mode1(channel_network &net, section_arrays &a, int n, int l, int &beyond) {
    const double area = (*a.area)[n][l];
    if (area < 0.0) {
        negative_area_stop("In ex_section - 4\n", n, l);
        return false;
    }
    if (area == 0.0) {
        (*a.depth)[n][l] = 0.0;
        (*a.wse)[n][l] = net.bel[n][l];
        (*a.conv)[n][l] = 0.0;
        return true;
    }
    const int t = net.table_num[n][l];
    if (!table_ok(net, t, n, l)) return false;
    double y = 0.0, k = 0.0;
    table_depth_from_area(net, t, area, y, k, beyond);
    (*a.depth)[n][l] = y;
    (*a.wse)[n][l] = net.bel[n][l] + y;
    (*a.conv)[n][l] = k;
    return true;
}

// Floodplain conveyance of a stage with area a and perimeter p.
double floodplain_conveyance(double k, double a, double p) {
    if (a <= 0.0 || p <= 0.0) return 0.0;
    return k * std::pow(a, 1.666667) / std::pow(p, 0.666667);
}

bool floodplain_mode1(channel_network &net, section_arrays &a, int n, int l) {
    const double area = (*a.area)[n][l];
    if (area < 0.0) {
        std::printf("In ex_section - 5\n");
        std::printf("stopped for negative area, node %d, link %d\n", n, l);
        stop_section();
        return false;
    }
    const double b = net.bottom[n][l], z = net.sslope[n][l];
    const double ybf = net.bankfull_dep[n][l], zf = net.sslope2[n][l];
    const double tbf = b + 2.0 * z * ybf;
    const double abf = (b + z * ybf) * ybf;
    const double pbf = b + 2.0 * ybf * std::sqrt(1.0 + z * z);
    double y = 0.0, p = 0.0;
    if (area <= abf) {
        if (z == 0.0) {
            if (b <= 0.0) {
                if (area > 0.0) {
                    zero_width_stop(n, l);
                    return false;
                }
                y = 0.0;
            } else {
                y = area / b;
            }
        } else {
            const double disc = b * b + 4.0 * z * area;
            if (disc < 0.0) {
                std::printf("in ex_section - 1, negative square root at:\n");
                std::printf("link %ld node %ld.  Program stopped.\n", static_cast<long>(l),
                            static_cast<long>(n));
                stop_section();
                return false;
            }
            y = (std::sqrt(disc) - b) / (2.0 * z);
        }
        if (y < 0.0) {
            std::printf("in ex_section - 2, negative depth at:\n");
            std::printf("link %ld node %ld.  Program stopped.\n", static_cast<long>(l),
                        static_cast<long>(n));
            stop_section();
            return false;
        }
        p = b + 2.0 * y * std::sqrt(1.0 + z * z);
    } else {
        double ya = 0.0;
        if (zf == 0.0) {
            if (tbf <= 0.0) {
                zero_width_stop(n, l);
                return false;
            }
            ya = (area - abf) / tbf;
        } else {
            const double disc = tbf * tbf + 4.0 * zf * (area - abf);
            if (disc < 0.0) {
                std::printf("in ex_section - 3, negative square root at:\n");
                std::printf("link %ld node %ld.  Program stopped.\n", static_cast<long>(l),
                            static_cast<long>(n));
                stop_section();
                return false;
            }
            ya = (std::sqrt(disc) - tbf) / (2.0 * zf);
        }
        if (ya < 0.0) {
            std::printf("in ex_section - 4, negative yabf at:\n");
            std::printf("link %d node %d\n", l, n);
            stop_section();
            return false;
        }
        y = ybf + ya;
        if (y < 0.0) {
            std::printf("in ex_section - 4, negative depth at:\n");
            std::printf("link %d node %d.  Program stopped.\n", l, n);
            stop_section();
            return false;
        }
        p = pbf + 2.0 * ya * std::sqrt(1.0 + zf * zf);
    }
    (*a.depth)[n][l] = y;
    (*a.wse)[n][l] = net.bel[n][l] + y;
    (*a.conv)[n][l] = floodplain_conveyance(net.kconv[l], area, p);
    return true;
}

// ---- mode 2: water surface to area ----

void store_props(section_arrays &a, int n, int l, double y, const section_props &p) {
    (*a.depth)[n][l] = y;
    (*a.area)[n][l] = p.area;
    (*a.topw)[n][l] = p.top_width;
    (*a.conv)[n][l] = p.conveyance;
    (*a.dconv)[n][l] = p.dconv;
}

bool node_mode2(channel_network &net, section_arrays &a, int n, int l, int &beyond) {
    const int type = net.link_type[l];
    const double y = (*a.wse)[n][l] - net.bel[n][l];
    switch (type) {
    case link_trapezoid:
    case link_subsurface_trapezoid:
    case link_trapezoid_erode:
    case link_trapezoid_erode2:
        if (y < 0.0) {
            negative_depth_stop(type == link_trapezoid || type == link_subsurface_trapezoid
                                    ? "In ex_section - 1\n"
                                    : "In ex_section - 2\n",
                                n, l);
            return false;
        }
        store_props(a, n, l, y,
                    trapezoid_from_depth(net.bottom[n][l], net.sslope[n][l], y, net.kconv[l]));
        return true;
    case link_breakpoint_table:
    case link_breakpoint:
    case link_breakpoint_erode: {
        if (y < 0.0) {
            negative_depth_stop("In ex_section - 3\n", n, l);
            return false;
        }
        const int t = net.table_num[n][l];
        if (!table_ok(net, t, n, l)) return false;
        section_props p;
        table_props_from_depth(net, t, y, p, beyond);
        store_props(a, n, l, y, p);
        return true;
    }
    case link_floodplain:
        if (y < 0.0) {
            negative_depth_stop("In ex_section - 4\n", n, l);
            return false;
        }
        store_props(a, n, l, y,
                    floodplain_from_depth(net.bottom[n][l], net.sslope[n][l],
                                          net.bankfull_dep[n][l], net.sslope2[n][l], y,
                                          net.kconv[l]));
        return true;
    default: return true;
    }
}

bool refuse_slot_type(int type) {
    if (type == link_trapezoid_slot) {
        std::printf("In ex_section, trapezoidal section with Preissmann\n");
        std::printf("slot not supported (or needed) for explicit routing.\n");
        std::printf("Change all link type 10 to link type 1.  Exiting.\n");
        stop_section();
        return true;
    }
    if (type == link_breakpoint_slot) {
        std::printf("In ex_section, breakpoint section with Preissmann\n");
        std::printf("slot not supported (or needed) for explicit routing.\n");
        std::printf("Change all link type 11 to link type 8.  Exiting.\n");
        stop_section();
        return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Section formulas

section_props trapezoid_from_depth(double b, double z, double y, double k) {
    section_props p;
    const double side = std::sqrt(1.0 + z * z);
    p.top_width = b + 2.0 * z * y;
    p.area = (b + z * y) * y;
    p.perimeter = b + 2.0 * y * side;
    p.conveyance = conveyance_of(k, p.area, p.perimeter);
    if (p.perimeter > 0.0) {
        const double r = p.area / p.perimeter;
        p.dconv = k * ((5.0 / 3.0) * pow_two_thirds(r) * p.top_width -
                       (2.0 / 3.0) * pow_five_thirds(r) * 2.0 * side);
    }
    return p;
}

double trapezoid_depth_from_area(double b, double z, double a) {
    if (a <= 0.0) return 0.0;
    if (z == 0.0) return b > 0.0 ? a / b : -1.0;  // rectangle: y = A / b
    return (std::sqrt(b * b + 4.0 * z * a) - b) / (2.0 * z);
}

section_props floodplain_from_depth(double b, double z, double ybf, double zf, double y,
                                    double k) {
    section_props p;
    const double side = std::sqrt(1.0 + z * z);
    if (y <= ybf) {
        p.top_width = b + 2.0 * z * y;
        p.area = (b + z * y) * y;
        p.perimeter = b + 2.0 * y * side;
        if (p.perimeter > 0.0 && p.area > 0.0) {
            const double r = p.area / p.perimeter;
            p.conveyance = k * std::pow(p.area, 1.666667) / std::pow(p.perimeter, 0.666667);
            p.dconv = k * (1.66667 * p.top_width * std::pow(r, 0.6666667) -
                           1.33333 * side * std::pow(r, 1.6666667));
        }
        return p;
    }
    const double side_f = std::sqrt(1.0 + zf * zf);
    const double tbf = b + 2.0 * z * ybf;
    const double abf = (b + z * ybf) * ybf;
    const double pbf = b + 2.0 * ybf * side;
    const double ya = y - ybf;
    p.top_width = tbf + 2.0 * zf * ya;
    p.perimeter = pbf + 2.0 * ya * side_f;
    p.area = abf + 0.5 * ya * (tbf + p.top_width);
    if (p.perimeter > 0.0 && p.area > 0.0) {
        const double r = p.area / p.perimeter;
        p.conveyance = k * std::pow(p.area, 1.666667) / std::pow(p.perimeter, 0.666667);
        p.dconv = (5.0 / 3.0) * k * std::pow(r, 0.6666667) * p.top_width -
                  (4.0 / 3.0) * k * std::pow(r, 1.6666667) * side_f;
    }
    return p;
}

// ---------------------------------------------------------------------------
// Table lookups

int table_props_from_depth(const channel_network &net, int t, double y, section_props &out,
                           int &beyond) {
    out = section_props{};
    if (t <= 0 || t > net.table_count) return -1;
    const int nl = net.table_interp[t];
    const double dy = net.table_dy[t];
    if (nl < 1 || dy <= 0.0) return 0;
    const auto A = net.xarea[t], W = net.xtw[t], K = net.xk[t];
    if (y <= 0.0) return 0;
    if (y < dy) {
        const double f = pow_five_thirds(y / dy);
        out.area = A[1] * f;
        out.top_width = W[1] * f;
        out.conveyance = K[1] * f;
        out.dconv = K[1] / pow_five_thirds(dy) * pow_two_thirds(y);
        return 0;
    }
    const double top = nl * dy;
    if (y > top) {
        beyond = 1;
        const double s = (y - top) / dy;
        out.area = A[nl] + (A[nl] - A[nl - 1]) * s;
        out.top_width = W[nl] + (W[nl] - W[nl - 1]) * s;
        out.conveyance = K[nl] + (K[nl] - K[nl - 1]) * s;
        out.dconv = (K[nl] - K[nl - 1]) / dy;
        return 0;
    }
    // Between two levels; the index stays inside the table so that a depth of
    // exactly nl * dy reads level nl and nothing above it.
    int k = static_cast<int>(y / dy);
    if (k > nl - 1) k = nl - 1;
    if (k < 0) k = 0;
    const double f = (y - k * dy) / dy;
    out.area = A[k] + (A[k + 1] - A[k]) * f;
    out.top_width = W[k] + (W[k + 1] - W[k]) * f;
    out.conveyance = K[k] + (K[k + 1] - K[k]) * f;
    out.dconv = (K[k + 1] - K[k]) / dy;
    if (!net.xp.empty()) {
        const auto P = net.xp[t];
        out.perimeter = P[k] + (P[k + 1] - P[k]) * f;
    }
    return 0;
}

int table_depth_from_area(const channel_network &net, int t, double a, double &y, double &k,
                          int &beyond) {
    y = k = 0.0;
    if (t <= 0 || t > net.table_count) return -1;
    const int nl = net.table_interp[t];
    const double dy = net.table_dy[t];
    if (a <= 0.0 || nl < 1 || dy <= 0.0) return 0;
    const auto A = net.xarea[t], K = net.xk[t];
    if (a < A[1]) {
        y = A[1] > 0.0 ? dy * std::pow(a / A[1], 0.6) : 0.0;
        k = K[1] * pow_five_thirds(y / dy);
        return 0;
    }
    if (a > A[nl]) {
        beyond = 1;
        const double da = A[nl] - A[nl - 1];
        y = nl * dy + (da > 0.0 ? (a - A[nl]) * dy / da : 0.0);
        k = K[nl] + (K[nl] - K[nl - 1]) / dy * (y - nl * dy);
        return 0;
    }
    if (a == A[nl]) {
        y = nl * dy;
        k = K[nl];
        return 0;
    }
    int level = 1;
    for (int j = 1; j < nl; ++j)
        if (A[j] <= a && a < A[j + 1]) level = j;  // the last match wins
    const double da = A[level + 1] - A[level];
    y = level * dy + (da > 0.0 ? (a - A[level]) / (da / dy) : 0.0);
    k = K[level] + (K[level + 1] - K[level]) / dy * (y - level * dy);
    return 0;
}

// ---------------------------------------------------------------------------
// ex_section

void ex_section_arrays(channel_network &net, int mode, section_arrays &arrays, int &beyond_table) {
    beyond_table = 0;
    section_arrays a = arrays;
    if (!a.wse) a.wse = &net.yp;
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = net.link_type[l];
        if (refuse_slot_type(type)) return;
        const bool trapezoid = type == link_trapezoid || type == link_subsurface_trapezoid ||
                               type == link_trapezoid_erode || type == link_trapezoid_erode2;
        const bool table = type == link_breakpoint_table || type == link_breakpoint ||
                           type == link_breakpoint_erode;
        if (!trapezoid && !table && type != link_floodplain) continue;
        for (int n = 1; n <= net.comp_node_count[l]; ++n) {
            bool ok = true;
            if (mode == 1) {
                if (trapezoid)
                    ok = trapezoid_mode1(net, a, n, l);
                else if (table)
                    ok = table_mode1(net, a, n, l, beyond_table);
                else
                    ok = floodplain_mode1(net, a, n, l);
            } else {
                ok = node_mode2(net, a, n, l, beyond_table);
            }
            if (!ok) return;
        }
    }
}

namespace {

// Column l of a [node][link] array: element n at p[n * stride].
struct node_column {
    double *p;
    std::size_t stride;
    node_column(array_2d<double> &a, int l)
        : p(a.data() + static_cast<std::size_t>(l)), stride(a.cols() + 1) {}
    double &operator[](int n) const { return p[static_cast<std::size_t>(n) * stride]; }
};

// The conveyances k A (A / P)^(2/3) of trapezoid nodes, gathered over the links
// of one mode-1 update and made with one array call for the powers. Each is the
// product (k A) (A / P)^(2/3) that conveyance_of forms; no conveyance is read
// before flush, which runs at the end and before any stop.
class conveyance_batch {
public:
    conveyance_batch(section_work &w, std::size_t capacity) : w_(w) {
        if (w_.power_base.size() < capacity) {
            w_.power_base.resize(capacity);
            w_.power_factor.resize(capacity);
            w_.power_target.resize(capacity);
        }
    }
    void add(double *target, double k, double a, double p) {
        if (a <= 0.0 || p <= 0.0) {
            *target = 0.0;
            return;
        }
        w_.power_base[count_] = a / p;
        w_.power_factor[count_] = k * a;
        w_.power_target[count_] = target;
        ++count_;
    }
    // Two entries whose a and p are both above 0 (the caller has checked).
    void add_two(double *t0, double *t1, double f0, double f1, double r0, double r1) {
        w_.power_base[count_] = r0;
        w_.power_factor[count_] = f0;
        w_.power_target[count_] = t0;
        w_.power_base[count_ + 1] = r1;
        w_.power_factor[count_ + 1] = f1;
        w_.power_target[count_ + 1] = t1;
        count_ += 2;
    }
    void flush() {
        if (count_ == 0) return;
        double *r = w_.power_base.data();
        const double *f = w_.power_factor.data();
        double *const *t = w_.power_target.data();
        pow_two_thirds_n(r, r, count_);
        for (std::size_t i = 0; i < count_; ++i) *t[i] = f[i] * r[i];
        count_ = 0;
    }

private:
    section_work &w_;
    std::size_t count_ = 0;
};

// Mode 1 over the nodes of one trapezoid link, the arithmetic of trapezoid_mode1,
// in the parts asked for (conveyance_only reads the depths stored before). The
// conveyances go to the batch.
bool trapezoid_link_mode1(channel_network &net, section_arrays &a, int l, int first, int last,
                          section_parts parts, conveyance_batch &batch, bool pairs = true) {
    const node_column A(*a.area, l), Y(*a.depth, l), H(*a.wse, l), K(*a.conv, l);
    const node_column B(net.bottom, l), Z(net.sslope, l), E(net.bel, l);
    const double k = net.kconv[l];
    const double *side = a.side_factor ? a.side_factor->data() + l : nullptr;
    const std::size_t side_step = a.side_factor ? a.side_factor->cols() + 1 : 0;
    int n = first;
#if defined(__SSE2__)
    // Two nodes at a time where both hold water in a section with sloping sides
    // and come out above 0 deep with a wetted perimeter above 0 (the same
    // operations as below, in the same order); any other pair goes node by node.
    if (pairs && parts != section_parts::conveyance_only) {
        const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0), two = _mm_set1_pd(2.0),
                      four = _mm_set1_pd(4.0), kv = _mm_set1_pd(k);
        const bool all = parts == section_parts::all;
        for (; n + 1 <= last; n += 2) {
            const __m128d area = _mm_set_pd(A[n + 1], A[n]);
            const __m128d b = _mm_set_pd(B[n + 1], B[n]), z = _mm_set_pd(Z[n + 1], Z[n]);
            // area > 0 and z != 0 (z not a number fails too)
            const __m128d ok_in = _mm_and_pd(_mm_cmpgt_pd(area, zero),
                                             _mm_or_pd(_mm_cmplt_pd(z, zero), _mm_cmpgt_pd(z, zero)));
            const __m128d root = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(b, b), _mm_mul_pd(_mm_mul_pd(four, z), area)));
            const __m128d y = _mm_div_pd(_mm_sub_pd(root, b), _mm_mul_pd(two, z));
            __m128d ok = _mm_and_pd(ok_in, _mm_cmpgt_pd(y, zero));
            __m128d ratio = zero;
            if (all) {
                const __m128d f = side ? _mm_set_pd(side[static_cast<std::size_t>(n + 1) * side_step],
                                                    side[static_cast<std::size_t>(n) * side_step])
                                       : _mm_sqrt_pd(_mm_add_pd(one, _mm_mul_pd(z, z)));
                const __m128d perim = _mm_add_pd(b, _mm_mul_pd(_mm_mul_pd(two, y), f));
                ok = _mm_and_pd(ok, _mm_cmpgt_pd(perim, zero));
                ratio = _mm_div_pd(area, perim);
            }
            if (_mm_movemask_pd(ok) != 3) {
                if (!trapezoid_link_mode1(net, a, l, n, n + 1, parts, batch, false)) return false;
                continue;
            }
            const __m128d wse = _mm_add_pd(_mm_set_pd(E[n + 1], E[n]), y);
            _mm_storel_pd(&Y[n], y);
            _mm_storeh_pd(&Y[n + 1], y);
            _mm_storel_pd(&H[n], wse);
            _mm_storeh_pd(&H[n + 1], wse);
            if (!all) continue;
            double r[2], f[2];
            _mm_storeu_pd(r, ratio);
            _mm_storeu_pd(f, _mm_mul_pd(kv, area));
            batch.add_two(&K[n], &K[n + 1], f[0], f[1], r[0], r[1]);
        }
    }
#else
    (void)pairs;
#endif
    for (; n <= last; ++n) {
        const double area = A[n];
        const double b = B[n], z = Z[n];
        double y = 0.0;
        if (parts == section_parts::conveyance_only) {
            y = Y[n];
        } else {
            if (area < 0.0) {
                batch.flush();
                if (!trapezoid_mode1(net, a, n, l)) return false;
                continue;
            }
            if (area > 0.0) {
                y = trapezoid_depth_from_area(b, z, area);
                if (y < 0.0 && b <= 0.0 && z <= 0.0) {
                    batch.flush();
                    zero_width_stop(n, l);
                    return false;
                }
                if (y > -0.0001 && y < 0.0) y = 0.0;
            }
            Y[n] = y;
            H[n] = E[n] + y;
            if (parts == section_parts::depth_only) continue;
        }
        if (y > 0.0) {
            const double f = side ? side[static_cast<std::size_t>(n) * side_step] : std::sqrt(1.0 + z * z);
            batch.add(&K[n], k, area, b + 2.0 * y * f);
        } else {
            K[n] = 0.0;
        }
    }
    return true;
}

}  // namespace

void ex_section_area_to_depth(channel_network &net, section_arrays &arrays, section_parts parts) {
    section_arrays a = arrays;
    if (!a.wse) a.wse = &net.yp;
    int beyond = 0;
    const std::size_t nodes = static_cast<std::size_t>(net.max_node_count > 0 ? net.max_node_count : 0);
    const std::size_t links = static_cast<std::size_t>(net.link_count > 0 ? net.link_count : 0);
    conveyance_batch batch(net.work, parts == section_parts::depth_only ? 0 : nodes * links);
    const int count = a.links ? static_cast<int>(a.links->size()) : net.link_count;
    for (int i = 1; i <= count; ++i) {
        const int l = a.links ? (*a.links)[static_cast<std::size_t>(i - 1)] : i;
        const int type = net.link_type[l];
        const bool one = a.links && a.node_of;
        const int first = one ? (*a.node_of)[static_cast<std::size_t>(i - 1)] : 1;
        const int last = one ? first : net.comp_node_count[l];
        if (refuse_slot_type(type)) {
            batch.flush();
            return;
        }
        const bool trapezoid = type == link_trapezoid || type == link_subsurface_trapezoid ||
                               type == link_trapezoid_erode || type == link_trapezoid_erode2;
        const bool table = type == link_breakpoint_table || type == link_breakpoint ||
                           type == link_breakpoint_erode;
        if (trapezoid) {
            if (!trapezoid_link_mode1(net, a, l, first, last, parts, batch)) return;
            continue;
        }
        if (parts == section_parts::conveyance_only) continue;
        if (!table && type != link_floodplain) continue;
        for (int n = first; n <= last; ++n) {
            const bool ok = table ? table_mode1(net, a, n, l, beyond) : floodplain_mode1(net, a, n, l);
            if (!ok) {
                batch.flush();
                return;
            }
        }
    }
    batch.flush();
}

void ex_section(model_state &state, int mode, int &beyond_table) {
    section_arrays a;
    a.area = &state.chan.area;
    a.depth = &state.chan.chan_depth;
    a.wse = &state.channels.yp;
    a.topw = &state.chan.topw;
    a.conv = &state.chan.conv;
    a.dconv = &state.chan.dconv;
    beyond_table = 0;
    if (a.area->empty() || a.depth->empty() || a.topw->empty() || a.conv->empty() ||
        a.dconv->empty())
        return;  // no channel network in this run
    ex_section_arrays(state.channels, mode, a, beyond_table);
}

// ---------------------------------------------------------------------------
// Property tables

int build_section_table(channel_network &net, int t, const double *x, const double *y,
                        int npairs, int nlevels, double k, int extra, int link, bool lead_blank) {
    double ymin = y[1], ymax = y[1];
    for (int i = 2; i <= npairs; ++i) {
        if (y[i] < ymin) ymin = y[i];
        if (y[i] > ymax) ymax = y[i];
    }
    const double dy = (ymax - ymin) / nlevels;
    net.table_dy[t] = dy;
    net.table_ymin[t] = ymin;
    net.table_interp[t] = nlevels;
    auto A = net.xarea[t], W = net.xtw[t], P = net.xp[t], K = net.xk[t];
    A[0] = W[0] = P[0] = K[0] = 0.0;
    for (int lv = 1; lv <= nlevels; ++lv) {
        const double e = ymin + lv * dy;
        double area = 0.0, width = 0.0, perim = 0.0;
        if (wet_section_at(x, y, npairs, e, area, width, perim) != 0) {
            report_jagged_section(link, lead_blank);
            return -1;
        }
        A[lv] = area;
        W[lv] = width;
        P[lv] = perim;
        K[lv] = conveyance_of(k, area, perim);
    }
    if (extra && !net.xi1.empty() && !net.xdkda.empty()) {
        auto M = net.xi1[t], D = net.xdkda[t];
        M[0] = D[0] = 0.0;
        M[1] = W[1] * dy * dy / 2.0;
        for (int lv = 2; lv <= nlevels; ++lv) {
            const double ek = ymin + lv * dy;
            double m = 0.0;
            for (int j = 1; j < lv; ++j) m += W[j] * dy * (ek - (ymin + j * dy));
            M[lv] = m;
        }
        auto quotient = [&](int i, int j) {
            const double da = A[j] - A[i];
            return da != 0.0 ? (K[j] - K[i]) / da : 0.0;
        };
        if (nlevels == 1) {
            D[1] = quotient(0, 1);
        } else {
            D[1] = quotient(1, 2);
            D[nlevels] = quotient(nlevels - 1, nlevels);
            for (int lv = 2; lv < nlevels; ++lv)
                D[lv] = 0.5 * (quotient(lv - 1, lv) + quotient(lv, lv + 1));
        }
    }
    return 0;
}

void xsec_property_tables(model_state &state, int extra_tables, int link, int node) {
    channel_network &net = state.channels;
    if (link < 1 || link > net.link_count || node < 1 || node > net.max_node_count) return;
    const int t = net.table_num[node][link];
    if (t <= 0 || t > net.table_count) {
        std::fprintf(stderr, "Error in section: Request for table beyond max. table number.\n");
        raise_printed_error();
        return;
    }
    const int npairs = net.table_pairs[t];
    std::vector<double> &x = net.work.x, &y = net.work.y;
    const std::size_t need = static_cast<std::size_t>(net.max_pairs > npairs ? net.max_pairs : npairs) + 2;
    if (x.size() < need) {
        x.assign(need, 0.0);
        y.assign(need, 0.0);
    }
    const int e = net.erode_index[link];
    const bool erodible = net.link_type[link] == link_breakpoint_erode && e > 0 &&
                          !net.xbp_lnn.empty();
    for (int i = 1; i <= npairs; ++i) {
        x[static_cast<std::size_t>(i)] = erodible ? net.xbp_lnn[e][node][i] : net.xbp[t][i];
        y[static_cast<std::size_t>(i)] = erodible ? net.ybp_lnn[e][node][i] : net.ybp[t][i];
    }
    build_section_table(net, t, x.data(), y.data(), npairs, net.table_interp[t], net.kconv[link],
                        extra_tables, link, false);
}

// ---------------------------------------------------------------------------
// Bed update of erodible break-point sections

namespace {

// Moves the wet break points of one section by the weighted bed change dz; the
// volume moved per unit length and the moved wetted length are returned.
void move_section(const std::vector<double> &x, const std::vector<double> &y,
                  std::vector<double> &moved, int n, double ymin, double level, double dz,
                  bool deposition, double &volume, double &length) {
    const double height = level - ymin;
    for (int i = 1; i <= n; ++i) {
        const std::size_t u = static_cast<std::size_t>(i);
        moved[u] = y[u];
        if (y[u] > level) continue;
        double f = height > 0.0 ? (y[u] - ymin) / height : 0.0;
        if (f < 0.0) f = 0.0;
        const double w = deposition ? f : std::sqrt(f);
        moved[u] = y[u] + (1.0 - w) * dz;
    }
    volume = length = 0.0;
    for (int i = 1; i < n; ++i) {
        const std::size_t u = static_cast<std::size_t>(i);
        const double d1 = moved[u] - y[u], d2 = moved[u + 1] - y[u + 1];
        if (d1 == 0.0 && d2 == 0.0) continue;
        volume += 0.5 * (x[u + 1] - x[u]) * (d1 + d2);
        length += std::hypot(x[u + 1] - x[u], moved[u + 1] - moved[u]);
    }
}

// Bed update of node n of erodible link l (ordinal e); false after a stop.
bool update_node(model_state &state, int l, int n, int e, double porosity) {
    channel_network &net = state.channels;
    channel_work &w = state.chan;
    const int t = net.table_num[n][l];
    if (t <= 0 || t > net.table_count) {
        std::fprintf(stderr, "Error in section: Request for table beyond max. table number.\n");
        raise_printed_error();
        return false;
    }
    const int np = net.table_pairs[t];
    const int nl = net.table_interp[t];
    const double dy = net.table_dy[t];
    const double dxl = net.dx[l];
    std::vector<double> &x = net.work.x, &y = net.work.y, &moved = net.work.moved_y;
    const std::size_t need = static_cast<std::size_t>(net.max_pairs) + 2;
    if (x.size() < need) x.assign(need, 0.0);
    if (y.size() < need) y.assign(need, 0.0);
    if (moved.size() < need) moved.assign(need, 0.0);
    for (int i = 1; i <= np; ++i) {
        x[static_cast<std::size_t>(i)] = net.xbp_lnn[e][n][i];
        y[static_cast<std::size_t>(i)] = net.ybp_lnn[e][n][i];
    }
    const double depth = net.max_yp[e][n] - net.bel[n][l];
    if (depth < 0.0) {
        std::printf("In ex_section - 3\n");
        std::printf("program stopped for negative depth, node %d, link %d\n", n, l);
        raise_printed_error();
        return false;
    }
    int i = (dy > 0.0 ? static_cast<int>(depth / dy) : 0) + 1;
    if (i > nl) i = nl;
    // Sediment gained by the bed since the last update (deposition positive).
    const double store = w.ch_sand_vol[n][l][0];
    const double dv = (store - net.ch_sand_vol0[e][n]) / (1.0 - porosity);
    const double pi = net.xp[t][i];
    double dz = (pi > 0.0 && dxl > 0.0) ? dv / (pi * dxl) : 0.0;
    if (std::fabs(dz) > depth) {
        std::printf("In xsec_update - 3\n");
        std::printf("it is impossible that change of stream bed elevation is greater than maximum "
                    "water depth\n");
        raise_printed_error();
        return false;
    }
    double ymin = y[1];
    for (int k = 2; k <= np; ++k) ymin = std::min(ymin, y[static_cast<std::size_t>(k)]);
    const double level = ymin + i * dy;
    double a = 0.0, wd = 0.0, pr = 0.0;
    if (wet_section_at(x.data(), y.data(), np, level, a, wd, pr) != 0) {
        report_jagged_section(l, false);
        return false;
    }
    const bool deposition = dv >= 0.0;
    int iterations = 0;
    for (;;) {
        double volume = 0.0, length = 0.0;
        move_section(x, y, moved, np, ymin, level, dz, deposition, volume, length);
        volume *= dxl;
        ++iterations;
        if (dv == 0.0 || std::fabs((volume - dv) / dv) <= 1e-05) break;
        if (iterations >= 500 || length <= 0.0 || dxl <= 0.0) {
            std::printf("In xsec_update- \n");
            std::printf("program stopped for difficulty in convergence, node %d, link %d\n", n, l);
            raise_printed_error();
            return false;
        }
        dz += (dv - volume) / (dxl * length);
    }
    double new_min = moved[1];
    for (int k = 1; k <= np; ++k) {
        const std::size_t u = static_cast<std::size_t>(k);
        net.ybp_lnn[e][n][k] = moved[u];
        new_min = std::min(new_min, moved[u]);
    }
    net.bel[n][l] += new_min - ymin;
    net.ch_sand_vol0[e][n] = store;
    xsec_property_tables(state, net.extra_tables, l, n);
    return error_record.fatal == 0;
}

}  // namespace

void xsec_update_network(model_state &state, double porosity) {
    channel_network &net = state.channels;
    if (net.xbp_lnn.empty() || state.chan.ch_sand_vol.empty()) return;
    for (int l = 1; l <= net.link_count; ++l) {
        if (net.link_type[l] != link_breakpoint_erode) continue;
        const int e = net.erode_index[l];
        if (e <= 0) continue;
        for (int n = 1; n <= net.comp_node_count[l]; ++n)
            if (!update_node(state, l, n, e, porosity)) return;
    }
}

void xsec_update(model_state &state) { xsec_update_network(state, state.project.sed_porosity); }
