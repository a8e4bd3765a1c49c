// Soil hydraulic functions of the Richards columns (Brooks and Corey with its
// parabolic junction, Havercamp), called by the soil set-up that lays the Richards
// columns and by the Richards and groundwater steps.
#include "model/core/soil_hydraulics.h"

#include <algorithm>
#include <cmath>

#include "model/core/model_state.h"

namespace {

// What the powers of one Brooks and Corey curve need besides the head: the
// junction saturation Sc, Sc^(-1/lambda), the junction head hb Sc^(-1/lambda)
// and the parabola factor c of Se = 1 - (c h)^2. A column passes over its
// layers' curves again and again, so the constants of the last few curves are
// kept and formed again only for a bubbling head and pore index not among them.
struct curve_constants {
    double hb = 0.0, lambda = 0.0;
    double sc = 1.0, sc_power = 1.0, junction = 0.0, parabola = 0.0;
};
constexpr int kept_curves = 8;

const curve_constants &constants_of(const brooks_corey_curve &c) {
    thread_local curve_constants kept[kept_curves];
    thread_local int next = 0;
    for (const curve_constants &k : kept)
        if (c.hb == k.hb && c.lambda == k.lambda) return k;
    curve_constants &k = kept[next];
    next = (next + 1) % kept_curves;
    k.hb = c.hb;
    k.lambda = c.lambda;
    k.sc = junction_saturation(c.lambda);
    k.sc_power = c.lambda > 0.0 ? std::pow(k.sc, -1.0 / c.lambda) : 1.0;
    k.junction = c.lambda > 0.0 ? c.hb * k.sc_power : c.hb;
    k.parabola = std::sqrt(1.0 - k.sc) / k.junction;
    return k;
}

brooks_corey_curve node_curve(const model_state &s, int cell, int node) {
    brooks_corey_curve c;
    c.theta_s = s.richards_theta_s[cell][node];
    c.theta_r = s.richards_theta_r[cell][node];
    c.hb = s.richards_bubbling[cell][node];
    c.lambda = s.richards_lambda[cell][node];
    return c;
}

// Power-law relative conductivity ratio^-(3 lambda + 2) and capacity from
// p = ratio^-(lambda + 1), ratio = head / hb: one power serves both.
void power_law_functions(double ratio, double p, const brooks_corey_curve &c, double &kr,
                         double &capacity) {
    kr = p * p * p * ratio;
    capacity = -p * (c.theta_s - c.theta_r) * c.lambda / c.hb;
}

}  // namespace

double junction_saturation(double lambda) { return lambda > 0.0 ? 2.0 / (2.0 + lambda) : 1.0; }

double junction_moisture(double theta_s, double lambda) {
    if (!(lambda > 0.0)) return theta_s;
    const double inv = 1.0 / lambda;
    return 2.0 * theta_s * inv / (2.0 * inv + 1.0);
}

double junction_head(double hb, double lambda) {
    if (!(lambda > 0.0)) return hb;
    return hb * std::pow(junction_saturation(lambda), -1.0 / lambda);
}

double bc_moisture_from_head(double head, const brooks_corey_curve &c) {
    if (head >= 0.0 || !(c.lambda > 0.0) || c.hb == 0.0) return c.theta_s;
    const double span = c.theta_s - c.theta_r;
    const curve_constants &k = constants_of(c);
    if (head <= k.junction) return c.theta_r + span * std::pow(c.hb / head, c.lambda);
    const double ch = k.parabola * head;
    return c.theta_r + span * (1.0 - ch * ch);
}

double bc_head_from_moisture(double theta, const brooks_corey_curve &c) {
    const double se = relative_saturation(theta, c.theta_s, c.theta_r);
    if (se >= 1.0 || !(c.lambda > 0.0)) return 0.0;
    const curve_constants &k = constants_of(c);
    if (se > k.sc) return c.hb * std::sqrt(1.0 - se) * k.sc_power / std::sqrt(1.0 - k.sc);
    return c.hb / std::pow(std::max(se, smallest_saturation), 1.0 / c.lambda);
}

void bc_conductivity_capacity(double head, const brooks_corey_curve &c, double &kr,
                              double &capacity) {
    if (head >= 0.0 || !(c.lambda > 0.0) || c.hb == 0.0) {
        kr = 1.0;
        capacity = 0.0;
        return;
    }
    const curve_constants &k = constants_of(c);
    if (head <= k.junction) {
        const double ratio = head / c.hb;
        power_law_functions(ratio, std::pow(ratio, -(c.lambda + 1.0)), c, kr, capacity);
        return;
    }
    const double se = relative_saturation(bc_moisture_from_head(head, c), c.theta_s, c.theta_r);
    kr = std::pow(se, 3.0 + 2.0 / c.lambda);
    capacity = -2.0 * (c.theta_s - c.theta_r) * k.parabola * k.parabola * head;
}

double havercamp_moisture_from_head(double head, double theta_s, double theta_r, double hb,
                                    double n) {
    if (head >= 0.0 || !(hb > 0.0)) return theta_s;
    return theta_r + (theta_s - theta_r) / (1.0 + std::pow(std::fabs(head) / hb, n));
}

double havercamp_head_from_moisture(double theta, double theta_s, double theta_r, double hb,
                                    double n) {
    const double se = relative_saturation(theta, theta_s, theta_r);
    if (se >= 1.0 || !(n > 0.0)) return 0.0;
    return -hb * std::pow(1.0 / std::max(se, smallest_saturation) - 1.0, 1.0 / n);
}

void head_from_moisture(model_state &s, int cell, int node, int form) {
    const double theta = s.richards_theta[cell][node];
    if (form == curve_havercamp) {
        s.richards_head[cell][node] = havercamp_head_from_moisture(
            theta, s.richards_theta_s[cell][node], s.richards_theta_r[cell][node],
            s.havercamp_alpha[cell][node], s.havercamp_beta[cell][node]);
        return;
    }
    s.richards_head[cell][node] = bc_head_from_moisture(theta, node_curve(s, cell, node));
}

void moisture_from_head(model_state &s, int cell, int node, int form) {
    const double head = s.richards_head[cell][node];
    if (form == curve_havercamp) {
        s.richards_theta[cell][node] = havercamp_moisture_from_head(
            head, s.richards_theta_s[cell][node], s.richards_theta_r[cell][node],
            s.havercamp_alpha[cell][node], s.havercamp_beta[cell][node]);
        return;
    }
    s.richards_theta[cell][node] = bc_moisture_from_head(head, node_curve(s, cell, node));
}

void soil_hydraulic_properties(model_state &s, int cell) {
    const int nodes = s.richards_cell_nodes.empty() ? s.richards_node_count
                                                    : s.richards_cell_nodes[cell];
    for (int j = 1; j <= nodes; ++j)
        bc_conductivity_capacity(s.richards_head[cell][j], node_curve(s, cell, j),
                                 s.richards_kr[cell][j], s.richards_capacity[cell][j]);
    if (nodes >= 1) {
        s.richards_kr[cell][0] = s.richards_kr[cell][1];
        s.richards_capacity[cell][0] = s.richards_capacity[cell][1];
    }
}

void bc_node_functions(model_state &s, int cell, int node) {
    bc_conductivity_capacity(s.richards_head[cell][node], node_curve(s, cell, node),
                             s.richards_kr[cell][node], s.richards_capacity[cell][node]);
}

void bc_limits_of_column(const model_state &s, int cell, int nodes, const bc_column_limits &l) {
    const double *hb = s.richards_bubbling[cell].data(), *lambda = s.richards_lambda[cell].data();
    for (int j = 1; j <= nodes; ++j) {
        if (j > 1 && hb[j] == hb[j - 1] && lambda[j] == lambda[j - 1]) {  // the layer goes on
            l.exponent[j] = l.exponent[j - 1];
            l.sc[j] = l.sc[j - 1];
            l.junction[j] = l.junction[j - 1];
            continue;
        }
        brooks_corey_curve c;
        c.hb = hb[j];
        c.lambda = lambda[j];
        const curve_constants &k = constants_of(c);
        const bool power_law = lambda[j] > 0.0 && hb[j] != 0.0;
        l.exponent[j] = power_law ? 1.0 / lambda[j] : 0.0;
        l.sc[j] = power_law ? k.sc : -1.0;
        l.junction[j] = k.junction;
    }
}

void bc_power_law_nodes(model_state &s, int cell, const double *junction, const int *node,
                        const double *base, const double *q, int count) {
    double *head = s.richards_head[cell].data(), *kr = s.richards_kr[cell].data();
    double *capacity = s.richards_capacity[cell].data();
    for (int m = 0; m < count; ++m) {
        const int j = node[m];
        const brooks_corey_curve c = node_curve(s, cell, j);
        // On the power law q = Se^(1/lambda) gives the head hb / q and, as q^lambda
        // = Se, the conductivity's and capacity's power ratio^-(lambda + 1) = Se q.
        head[j] = c.hb / q[m];
        if (!(head[j] <= junction[j]))  // rounded across the junction
            bc_conductivity_capacity(head[j], c, kr[j], capacity[j]);
        else
            power_law_functions(head[j] / c.hb, base[m] * q[m], c, kr[j], capacity[j]);
    }
}

void havercamp_column(const double *head, double *kr, double *theta, double *capacity,
                      const double *theta_s, const double *theta_r, const double *hb,
                      const double *n, const double *a, const double *b, int nodes) {
    for (int j = 1; j <= nodes; ++j) {
        if (head[j] >= 0.0) {
            kr[j] = 1.0;
            capacity[j] = 0.0;
            theta[j] = theta_s[j];
            continue;
        }
        const double suction = std::fabs(head[j]);
        const double ab = a[j] + std::pow(suction, b[j]);
        kr[j] = ab > 0.0 ? a[j] / ab : 0.0;
        if (hb[j] > 0.0) {
            const double x = suction / hb[j];
            const double xn = std::pow(x, n[j]);
            capacity[j] = n[j] * (theta_s[j] - theta_r[j]) * std::pow(x, n[j] - 1.0) /
                          (hb[j] * (xn + 1.0) * (xn + 1.0));
        } else {
            capacity[j] = 0.0;
        }
    }
    if (nodes >= 1) {
        kr[0] = kr[1];
        capacity[0] = capacity[1];
    }
}

void soil_column_helper(model_state &s, int i) {
    const int nodes = s.richards_cell_nodes.empty() ? s.richards_node_count
                                                    : s.richards_cell_nodes[i];
    havercamp_column(s.richards_head[i].data(), s.richards_kr[i].data(),
                     s.richards_theta[i].data(), s.richards_capacity[i].data(),
                     s.richards_theta_s[i].data(), s.richards_theta_r[i].data(),
                     s.havercamp_alpha[i].data(), s.havercamp_beta[i].data(),
                     s.havercamp_a[i].data(), s.havercamp_b[i].data(), nodes);
}
