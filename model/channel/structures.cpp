// Hydraulic structure elements of a structure link: weir elements, culverts (six
// flow types with barrel geometry, critical depth and Brent's root finder).
// Called by channel_outlet_and_structures for every routing pass.
#include "model/channel/structures.h"

#include <cmath>
#include <cstdio>

#include "model/channel/channel_network.h"
#include "model/core/errors.h"
#include "model/core/globals.h"

namespace {
constexpr double two_g = 19.62;
constexpr double pi_short = 3.14159;
constexpr double pi_long = 3.1415926;


// Barrel height D and width B of an element by kind.
void barrel_size(const hydraulic_structure &e, double &D, double &B) {
    if (e.type == 3) {
        D = e.shape1;
        B = e.shape1;
    } else {
        B = e.shape1;
        D = e.shape2;
    }
}

// Area, hydraulic radius and discharge of a partly full long barrel:
// Q = A sqrt(dh / (1/2g + n^2 L / R^(4/3))).
double long_barrel_flow(int kind, double D, double B, double n, double L, double depth, double dh,
                        double &area) {
    const barrel_props p = barrel_geometry(kind, D, B, depth);
    area = p.area;
    if (p.area <= 0.0 || p.perimeter <= 0.0 || dh <= 0.0) return 0.0;
    const double R = p.area / p.perimeter;
    return p.area * std::sqrt(dh / (1.0 / two_g + n * n * L / std::pow(R, 4.0 / 3.0)));
}

double full_area(int kind, double D, double B) {
    if (kind == 3) return pi_long * D * D / 4.0;
    if (kind == 4) return 0.788 * B * D;
    return B * D;
}

double full_radius(int kind, double D, double B) {
    if (kind == 3) return D / 4.0;
    if (kind == 4) return 0.299 * D;
    return B * D / (2.0 * (B + D));
}
}  // namespace

barrel_props barrel_geometry(int kind, double D, double B, double y) {
    barrel_props p;
    if (kind == 3) {
        if (y <= 0.0 || D <= 0.0) return p;
        if (y >= D) {
            p.area = pi_long * D * D / 4.0;
            p.perimeter = pi_long * D;
            return p;
        }
        const double r = D / 2.0;
        const double theta = std::acos((r - y) / r);
        p.area = r * r * theta - (r - y) * r * std::sin(theta);
        p.perimeter = D * theta;
        p.top_width = D * std::sin(theta);
        return p;
    }
    if (kind == 4) {
        if (y <= 0.0 || D <= 0.0) return p;
        const double q = y >= D ? 1.0 : y / D;
        p.area = (0.850625935 * q - 0.0265118802 + 0.450552317 * q * q - 0.48046422 * q * q * q) *
                 D * B;
        const double radius = (1.04200851 * q * q * q + 1.1666329 * q - 0.0382820242 -
                               1.32389992 * q * q - 0.526837711 * q * q * q * q) *
                              D;
        p.perimeter = radius > 0.0 ? p.area / radius : 0.0;
        p.top_width = B * (11.9256017 * q * q * q + 3.13077957 * q + 0.656758295 -
                           9.66782176 * q * q - 5.88560436 * q * q * q * q);
        return p;
    }
    // Box.
    if (y <= 0.0) {
        p.perimeter = B;
        p.top_width = B;
        return p;
    }
    if (y >= D) {
        p.area = B * D;
        p.perimeter = 2.0 * B + 2.0 * D;
        return p;
    }
    p.area = y * B;
    p.perimeter = 2.0 * y + B;
    p.top_width = B;
    return p;
}

double zbrent(const std::function<double(double)> &f, double x1, double x2, double tol,
              int &iterations) {
    constexpr int max_iter = 100;
    constexpr double eps = 3e-08;
    double a = x1, b = x2, c = x2, d = 0.0, e = 0.0;
    double fa = f(a), fb = f(b);
    iterations = 0;
    if ((fa > 0.0 && fb > 0.0) || (fa < 0.0 && fb < 0.0)) {
        std::printf("Root must be bracketed in ZBRENT\n");
        return 0.0;
    }
    double fc = fb;
    for (int iter = 1; iter <= max_iter; ++iter) {
        iterations = iter;
        if ((fb > 0.0 && fc > 0.0) || (fb < 0.0 && fc < 0.0)) {
            c = a;
            fc = fa;
            e = d = b - a;
        }
        if (std::fabs(fc) < std::fabs(fb)) {
            a = b;
            b = c;
            c = a;
            fa = fb;
            fb = fc;
            fc = fa;
        }
        const double tol1 = 2.0 * eps * std::fabs(b) + 0.5 * tol;
        const double xm = 0.5 * (c - b);
        if (std::fabs(xm) <= tol1 || fb == 0.0) return b;
        if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
            const double s = fb / fa;
            double p, q;
            if (a == c) {
                p = 2.0 * xm * s;
                q = 1.0 - s;
            } else {
                const double qq = fa / fc, r = fb / fc;
                p = s * (2.0 * xm * qq * (qq - r) - (b - a) * (r - 1.0));
                q = (qq - 1.0) * (r - 1.0) * (s - 1.0);
            }
            if (p > 0.0) q = -q;
            p = std::fabs(p);
            const double min1 = 3.0 * xm * q - std::fabs(tol1 * q);
            const double min2 = std::fabs(e * q);
            if (2.0 * p < (min1 < min2 ? min1 : min2)) {
                e = d;
                d = p / q;
            } else {
                d = xm;
                e = d;
            }
        } else {
            d = xm;
            e = d;
        }
        a = b;
        fa = fb;
        b += std::fabs(d) > tol1 ? d : (xm >= 0.0 ? std::fabs(tol1) : -std::fabs(tol1));
        fb = f(b);
    }
    // Out of iterations: the last iterate is the best estimate there is.
    std::printf("Maximum number of iterations exceeded in ZBRENT\n");
    return b;
}

double crit_calc(double Q, double D) {
    const double lo = 0.001, hi = D - 0.001;
    if (Q <= 0.0 || hi <= lo) return lo;
    // Critical flow: A^3 / T = Q^2 / g. Newton on the depth.
    const double target = Q * Q / 9.81;
    double y = lo;
    for (int iter = 0; iter < 1000; ++iter) {
        const double r = D / 2.0;
        const double root = std::sqrt(y * (D - y));
        const double T = 2.0 * root;
        const double theta = std::acos((r - y) / r);
        const double A = r * r * theta - (r - y) * r * std::sin(theta);
        const double dT = (D - 2.0 * y) / root;
        const double f = A * A * A / T - target;
        const double df = 3.0 * A * A - A * A * A * dT / (T * T);
        double next = df != 0.0 ? y - f / df : hi;
        if (next < lo) next = lo;
        if (next > hi) next = hi;
        if (std::fabs(next - y) <= 1e-08) return next;
        y = next;
    }
    std::printf("no convergence in culvert critical depth routine\n");
    std::printf("program terminated.\n");
    raise_printed_error();
    return -1.0;
}

double weir_element_flow(const hydraulic_structure &e, double h1, double h2) {
    const double c = e.upstream_invert, L = e.length;
    if (h1 < c && h2 < c) return 0.0;
    const double cw = h1 > h2 ? e.forward_coeff : e.reverse_coeff;
    const double hi = h1 > h2 ? h1 : h2, lo = h1 > h2 ? h2 : h1;
    double q;
    if ((2.0 / 3.0) * (hi - c) > lo - c)
        q = cw * (2.0 / 3.0) * L * std::sqrt(two_g * std::pow(hi - c, 3.0) / 3.0);
    else if (hi - lo >= 0.01)
        q = cw * L * (lo - c) * std::sqrt(two_g * (hi - lo));
    else
        q = cw * L * (lo - c) * std::sqrt(1962.0) * (hi - lo);
    return h1 <= h2 ? -q : q;
}

int culv_flow(hydraulic_structure &e, int number, double h1, double h4, culvert_result &out) {
    out = culvert_result{};
    const double L = e.length;
    if (L < 0.0001) {
        std::printf("Problem in culv_flow (ex_flow_route).  The culvert barrel length\n");
        std::printf("in culvert number %d is 0.0.  This is not possible. Program terminated.\n",
                    number);
        raise_printed_error();
        return -1;
    }
    const int kind = e.type;
    double D = 0.0, B = 0.0;
    barrel_size(e, D, B);
    out.D = D;
    if (D <= 0.0 || B <= 0.0) return 0;  // no barrel, no flow
    double up = e.upstream_invert, down = e.downstream_invert, slope = e.slope;
    if (down >= 0.0001)
        slope = (up - down) / L;
    else
        down = up - L * slope;

    double hw = h1, tw = h4, sign = 1.0, ce = e.forward_coeff;
    if (!(h1 > h4)) {
        hw = h4;
        tw = h1;
        const double t = up;
        up = down;
        down = t;
        slope = -slope;
        sign = -1.0;
        ce = e.reverse_coeff;
    }
    if (hw < up || hw < down) return 0;
    // Water must stand over the inlet for the barrel to take any: the outlet-side
    // forms below do not fall to zero as the headwater drops to the inlet invert,
    // and would draw a dry upstream node below empty.
    if (hw - up < 0.01) return 0;

    const double governing = slope > 0.01 ? up : down;
    const double r = (hw - governing) / D;
    const double crown = down + D;
    const double n = e.roughness;
    const double c_in = e.inlet_coeff;
    double q = 0.0;
    int type = 0;

    if (L > 40.0 * D && slope < 0.01) {
        if (r < 1.5) {
            if (tw > down && tw < crown) {
                type = 3;
                q = long_barrel_flow(kind, D, B, n, L, 0.5 * (0.7 * (hw - up) + (tw - down)),
                                     hw - tw, out.area);
            }
            if (tw <= down + 1e-06) {
                type = 2;
                q = long_barrel_flow(kind, D, B, n, L, 0.5 * (hw - up), hw - tw, out.area);
            }
        } else if (r > 1.5) {
            out.area = pi_short * D * D / 4.0;
            if (kind != 3) out.area = full_area(kind, D, B);
            const double dh = tw <= down + 0.5 * D ? hw - (down + 0.5 * D) : hw - tw;
            type = tw <= down + 0.5 * D ? 6 : 4;
            q = long_barrel_flow(kind, D, B, n, L, D, dh, out.area);
            if (kind == 3) out.area = pi_short * D * D / 4.0;
        }
    } else if (r > 1.0 && tw >= down + D) {
        // Submerged outlet: full barrel against the tailwater.
        type = 4;
        const double A = full_area(kind, D, B);
        const double R = full_radius(kind, D, B);
        const double F = L > 15.0 ? 1.0 + two_g * ce * ce * n * n * L / std::pow(R, 4.0 / 3.0) : 1.0;
        out.area = A;
        out.head = hw - tw;
        q = ce * A * std::sqrt(2.0 * 9.81 * (hw - tw) / F);
    } else if (r < 1.5) {
        double head = hw - up;
        if (tw < 0.7 * head + down) {
            type = slope > 0.01 ? 1 : 2;
            if (type == 2) head = hw - down;
            if (head < 0.01) {
                type = 0;
            } else if (kind == 3) {
                const double cd = c_in >= 0.01 ? (1.0 - r / 1.5) * ce + r * c_in / 1.5 : ce;
                bool failed_depth = false;
                auto residual = [&](double trial) {
                    const double yc = crit_calc(trial, D);
                    if (yc < 0.0) failed_depth = true;
                    const double ac = barrel_geometry(3, D, D, yc).area;
                    const double h = head - yc > 0.0 ? head - yc : 0.0;
                    return trial - cd * ac * std::sqrt(two_g * h);
                };
                const double q0 = head < D ? cd * barrel_geometry(3, D, D, head).area *
                                                 std::sqrt(two_g) * std::sqrt(head / 3.0)
                                           : cd * barrel_geometry(3, D, D, D).area *
                                                 std::sqrt(two_g) * std::sqrt(0.4 * head);
                int iterations = 0;
                q = zbrent(residual, 1e-4, q0, 1e-4, iterations);
                if (failed_depth) return -1;
                const double yc = crit_calc(q, D);
                if (yc < 0.0) return -1;
                out.area = barrel_geometry(3, D, D, yc).area;
                out.head = head - yc;
            } else if (kind == 5) {
                const double yc = 2.0 * head / 3.0;
                q = c_in * B * yc * std::sqrt(two_g) * std::sqrt(head - yc);
                out.area = B * yc;
                out.head = head - yc;
            } else {
                type = 0;  // arch barrels have no inlet-control form
            }
        } else if (tw < crown) {
            type = 3;
            out.area = barrel_geometry(kind, D, B, tw - down).area;
            out.head = hw - tw;
            q = c_in * out.area * std::sqrt(two_g * (hw - tw));
        }
    } else if (tw < crown) {
        // Inlet (orifice) control against full flow; the orifice head is taken
        // above the middle of the inlet opening.
        const double A = full_area(kind, D, B);
        const double q6 = ce * A * std::sqrt(two_g * (hw - crown > 0.0 ? hw - crown : 0.0));
        const double h5 = hw - (up + 0.5 * D) > 0.0 ? hw - (up + 0.5 * D) : 0.0;
        const double q5 = ce * A * std::sqrt(two_g) * std::sqrt(h5);
        out.area = A;
        if (q5 < q6) {
            type = 5;
            q = q5;
            out.head = h5;
        } else {
            type = 6;
            q = q6;
            out.head = hw - crown;
        }
    }
    out.flow_type = type;
    out.discharge = type == 0 ? 0.0 : sign * q;
    return 0;
}

int culvert_element_flow(hydraulic_structure &e, int number, double h1, double h2, double &q) {
    q = 0.0;
    double D = 0.0, B = 0.0;
    barrel_size(e, D, B);
    e.inlet_coeff = 1.07;
    culvert_result first, second, real;
    if (culv_flow(e, number, e.upstream_invert + 1.5 * D, 0.0, first) != 0) return -1;
    if (culv_flow(e, number, e.upstream_invert + 1.49 * D, 0.0, second) != 0) return -1;
    const double denominator = second.area * std::sqrt(two_g * (second.head > 0.0 ? second.head : 0.0));
    double c_in = denominator > 0.0 ? first.discharge / denominator : 0.99;
    if (c_in > 1.0) c_in = 0.99;
    e.inlet_coeff = c_in;
    if (culv_flow(e, number, h1, h2, real) != 0) return -1;
    q = real.discharge;
    return 0;
}
