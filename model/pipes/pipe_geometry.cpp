// Pipe section geometry, normal depth (Manning) and critical depth of circular,
// arch and rectangular sections. Called by the pipe-network step for every pipe
// and for the two ends of every superlink.
#include "model/pipes/pipe_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double pi_section = 3.1415926;  // the value the sections are written with
constexpr double gravity = 9.81;
constexpr double no_flow = 1e-12;  // flows and slopes below this count as zero
constexpr double depth_tolerance = 1e-8;

// Wet part of a circle of diameter D at 0 < y < D: area, perimeter, top width
// and the sine of the half angle.
struct circle_segment {
    double A, P, T, sin_theta;
};

circle_segment circle_at(double D, double y) {
    const double r = 0.5 * D;
    const double theta = std::acos((r - y) / r);
    const double s = std::sin(theta);
    return {r * r * theta - r * (r - y) * s, theta * D, s * D, s};
}

// Whether a Newton iteration on a depth has converged to depth_tolerance with its
// last step `step` after the step `before` (0 before the second): the step was
// that small, or the steps fall fast enough to leave less than that to go (falling
// at least by their ratio r = step / before from here, what is left is at most
// step r / (1 - r)).
bool newton_converged(double step, double before) {
    const double s = std::fabs(step), b = std::fabs(before);
    if (s <= depth_tolerance) return true;
    if (!(s < 0.5 * b)) return false;
    const double r = s / b;
    return s * r / (1.0 - r) <= depth_tolerance;
}

// Keeps a Newton iterate inside (0, D]: a step to or below zero halves the
// depth instead, a step beyond the crown stops at it.
double keep_in_section(double y_new, double y, double D) {
    if (!(y_new > 0.0)) return 0.5 * y;
    return std::min(y_new, D);
}

void arch_not_supported(const char *routine) {
    std::printf("arch culverts not yet supported in subroutine %s() \n", routine);
    std::printf("program terminated\n");
}

// Circular normal depth: Newton on the Manning flow from a quarter of the
// diameter (or from `start` inside the section, and from the quarter again when
// that does not converge); a flow beyond what the part-full pipe carries gives the full depth.
int circular_normal_depth(double D, double n, double Q, double S, double &yn, double start) {
    const double k = std::sqrt(S) / n;
    double y = start > 0.0 && start < D ? start : 0.25 * D, before = 0.0;
    for (int pass = 1; pass <= 1000; ++pass) {
        const circle_segment c = circle_at(D, y);
        const double radius_23 = std::cbrt(c.A / c.P);
        const double q = k * c.A * radius_23 * radius_23;
        // dQ/dy = k A^(2/3) P^(-2/3) (5/3 T - 2/3 R dP/dy), dP/dy = 2 / sin(theta).
        const double dp_dy = 2.0 / c.sin_theta;
        const double slope =
            k * radius_23 * radius_23 * (5.0 / 3.0 * c.T - 2.0 / 3.0 * (c.A / c.P) * dp_dy);
        double y_new = y + (Q - q) / slope;
        if (!std::isfinite(y_new) || y_new >= D) {
            yn = D;
            return 0;
        }
        y_new = keep_in_section(y_new, y, D);
        if (newton_converged(y_new - y, before)) {
            yn = y_new;
            return 0;
        }
        before = y_new - y;
        y = y_new;
    }
    // From another start than the cold one: that start again.
    if (start > 0.0 && start < D && start != 0.25 * D) return circular_normal_depth(D, n, Q, S, yn, 0.0);
    std::printf("no convergence in culvert normal depth routine\n");
    std::printf("program terminated.\n");
    return -1;
}

// Rectangular normal depth: the fixed-point form of Manning's equation for an
// open rectangle, from half the height.
int rectangular_normal_depth(double D, double w, double n, double Q, double S, double &yn) {
    const double k = std::sqrt(S) / n;
    double y = 0.5 * D;
    for (int update = 1; update <= 251; ++update) {
        yn = y;
        const double A = w * y, P = w + 2.0 * y;
        const double radius_23 = std::cbrt(A / P);
        double y_new =
            y + (Q - k * A * radius_23 * radius_23) / (k * (2.0 * A / P + w / P + w * w));
        y_new = keep_in_section(y_new, y, D);
        if (std::fabs(y_new - y) <= depth_tolerance) return 0;
        y = y_new;
    }
    yn = y;
    std::printf("WARNING NO CONVERGENCE IN NORMCALC!!!\n");
    std::printf("AFTER 250 ITERATIONS.  PROGRAM WILL\n");
    std::printf("FAIL.  CHECK OUTLET SLOPE.  MUST BE\n");
    std::printf("POSITIVE AND SUBCRITICAL.\n");
    return -1;
}

// Circular critical depth: Newton in x = r - y on A sqrt(A / T) = Q / sqrt(g),
// from just below the centre (or from `start` inside the section, and from the
// centre again when that does not converge), every iterate kept 0.001 inside
// the section.
int circular_critical_depth(double D, double Q, double &yc, double start) {
    const double r = 0.5 * D;
    const double target = Q / std::sqrt(gravity);
    double x = start > 0.0 && start < D ? r - start : 0.001;  // y = r - 0.001
    double before = 0.0;
    for (int pass = 1; pass <= 10000; ++pass) {
        const double y = r - x;
        const circle_segment c = circle_at(D, y);
        const double root = std::sqrt(c.A / c.T);
        const double f = c.A * root - target;
        // df/dy = 3/2 sqrt(A T) - 1/2 A sqrt(A / T) dT/dy / T, dT/dy = 4 x / T.
        const double df_dy = 1.5 * root * c.T - 0.5 * c.A * root * (4.0 * x / c.T) / c.T;
        double y_new = y - f / df_dy;
        if (!(y_new <= D)) y_new = D - 0.001;  // also a step that is not a number
        if (y_new < 0.0) y_new = 0.001;
        const double x_new = r - y_new;
        const double step = x_new - x;
        x = x_new;
        if (newton_converged(step, before)) {
            yc = r - x;
            return 0;
        }
        before = step;
    }
    if (start > 0.0 && start < D && start != r - 0.001) return circular_critical_depth(D, Q, yc, 0.0);
    std::printf("no convergence in culvert critical depth routine\n");
    std::printf("program terminated.\n");
    return -1;
}

}  // namespace

void superlink_pipe_geometry(int type, double D, double y, double w, double &A, double &P,
                             double &T) {
    switch (type) {
    case 1:
        if (y < 0.0) {
            A = P = T = 0.0;
        } else if (y >= D) {
            A = D * (pi_section * D) * 0.25;
            P = pi_section * D;
            T = 0.0;
        } else {
            const circle_segment c = circle_at(D, y);
            A = c.A;
            P = c.P;
            T = c.T;
        }
        return;
    case 2: {
        if (y <= 0.0) {
            A = P = T = 0.0;
            return;
        }
        const double r = y >= D ? 1.0 : y / D;
        const double r2 = r * r, r3 = r2 * r, r4 = r3 * r;
        // The fitted polynomials go below zero near the invert (r below about 0.03).
        A = std::max(0.0,
                     (0.450552317 * r2 + 0.850625935 * r - 0.0265118802 - 0.48046422 * r3) * D * w);
        const double radius_over_d =
            1.1666329 * r - 0.0382820242 - 1.32389992 * r2 + 1.04200851 * r3 - 0.526837711 * r4;
        P = (A > 0.0 && radius_over_d > 0.0) ? A / (D * radius_over_d) : 0.0;
        T = std::max(0.0, (3.13077957 * r + 0.656758295 - 9.66782176 * r2 + 11.9256017 * r3 -
                           5.88560436 * r4) *
                              w);
        return;
    }
    case 3:
        if (y < 0.0) {
            A = 0.0;
            P = w;
            T = w;
        } else if (y >= D) {
            A = D * w;
            P = 2.0 * D + 2.0 * w;
            T = 0.0;
        } else {
            A = y * w;
            P = 2.0 * y + w;
            T = w;
        }
        return;
    default:
        return;
    }
}

double superlink_hydraulic_radius(double A, double P) {
    return (A > 0.0 && P > 0.0) ? A / P : 0.0;
}

int superlink_norm_calc(int type, double D, double w, double n, double Q, double S, double &yn, double start) {
    if (type < 1 || type > 3) return 0;
    if (type == 2) {
        arch_not_supported("superlink_norm_calc");
        return -1;
    }
    Q = std::fabs(Q);
    S = std::fabs(S);
    if (Q < no_flow) {
        yn = 0.0;
        return 0;
    }
    if (S < no_flow) {
        yn = D;
        return 0;
    }
    return type == 1 ? circular_normal_depth(D, n, Q, S, yn, start)
                     : rectangular_normal_depth(D, w, n, Q, S, yn);
}

int superlink_crit_calc(int type, double D, double w, double Q, double &yc, double start) {
    if (type < 1 || type > 3) return 0;
    if (type == 2) {
        arch_not_supported("superlink_crit_calc");
        return -1;
    }
    Q = std::fabs(Q);
    if (Q < no_flow) {
        yc = 0.0;
        return 0;
    }
    if (type == 1) return circular_critical_depth(D, Q, yc, start);
    const double q = Q / w;
    yc = std::pow(q * q / gravity, 0.3333333333333);
    return 0;
}
