// Soil hydraulic functions of the Richards columns: moisture from head and head
// from moisture (Brooks and Corey with its parabolic junction near saturation, or
// Havercamp), and the conductivity and capacity along a column by either curve.
// The soil set-up lays the columns' start state with them; the Richards and
// groundwater steps move it.
#pragma once

struct model_state;

// Brooks and Corey curve of one node: saturated and residual moisture, bubbling
// head hb (cm, negative) and pore index lambda. Between the junction head and
// saturation the curve is the parabola that meets the power law with its slope.
struct brooks_corey_curve {
    double theta_s = 0.0, theta_r = 0.0, hb = 0.0, lambda = 0.0;
};
// Junction saturation 2 / (2 + lambda), junction moisture 2 theta_s (1/lambda) /
// (2 (1/lambda) + 1) and junction head hb Sc^(-1/lambda).
double junction_saturation(double lambda);
double junction_moisture(double theta_s, double lambda);
double junction_head(double hb, double lambda);

double bc_moisture_from_head(double head, const brooks_corey_curve &c);
double bc_head_from_moisture(double theta, const brooks_corey_curve &c);
// Relative conductivity and capacity (d theta / d head, 1/cm) at a head.
void bc_conductivity_capacity(double head, const brooks_corey_curve &c, double &kr,
                              double &capacity);

// Havercamp curve: theta = theta_r + (theta_s - theta_r) / (1 + (|h| / hb)^n).
double havercamp_moisture_from_head(double head, double theta_s, double theta_r, double hb,
                                    double n);
double havercamp_head_from_moisture(double theta, double theta_s, double theta_r, double hb,
                                    double n);

// Curve forms of RICHARDS_C_OPTION.
inline constexpr int curve_brooks_corey = 1;
inline constexpr int curve_havercamp = 2;

// Node `node` of cell `cell` of the run state's Richards arrays: the head from the
// moisture, or the moisture from the head, by the curve form.
void head_from_moisture(model_state &state, int cell, int node, int form);
void moisture_from_head(model_state &state, int cell, int node, int form);
// Brooks and Corey relative conductivity and capacity of the nodes of a cell's
// column (its richards_cell_nodes nodes); entry 0 copies entry 1.
void soil_hydraulic_properties(model_state &state, int cell);
// Brooks and Corey relative conductivity and capacity of one node from its head.
void bc_node_functions(model_state &state, int cell, int node);

// Saturations this close to 0 are held there so that heads stay finite.
inline constexpr double smallest_saturation = 1e-6;

// Effective saturation (theta - theta_r) / (theta_s - theta_r) within [0, 1];
// 1 for a curve without span.
inline double relative_saturation(double theta, double theta_s, double theta_r) {
    const double span = theta_s - theta_r;
    if (!(span > 0.0)) return 1.0;
    const double se = (theta - theta_r) / span;
    return se < 0.0 ? 0.0 : (se > 1.0 ? 1.0 : se);
}

// What the nodes of a column on the power law of their Brooks and Corey curves
// need, per node 1..nodes: the exponent 1 / lambda, the junction saturation Sc
// (-1 for a curve without a power law: lambda not positive or hb zero) and the
// junction head. Formed once per column and step.
struct bc_column_limits {
    double *exponent, *sc, *junction;
};
void bc_limits_of_column(const model_state &state, int cell, int nodes,
                         const bc_column_limits &limits);

// True when a node of moisture theta lies on the power law of its curve (Sc as
// above), with base its saturation held at 1e-6 and above: q = base^(1 / lambda)
// then gives its head, conductivity and capacity at once.
inline bool bc_power_law_base(double theta, double theta_s, double theta_r, double sc,
                              double &base) {
    const double se = relative_saturation(theta, theta_s, theta_r);
    if (se >= 1.0 || se > sc) return false;
    base = se < smallest_saturation ? smallest_saturation : se;
    return true;
}

// Head, conductivity and capacity of the nodes node[0..count-1] of a column,
// each on the power law, from base[m] and q[m] = base[m]^(1 / lambda).
void bc_power_law_nodes(model_state &state, int cell, const double *junction, const int *node,
                        const double *base, const double *q, int count);

// Havercamp functions along one column, nodes 1..nodes (row pointers indexed from
// 0): a node with head >= 0 is saturated (kr 1, capacity 0, moisture theta_s);
// otherwise kr = A / (A + |h|^B) and capacity = n (theta_s - theta_r) x^(n-1) /
// (hb (x^n + 1)^2), x = |h| / hb. Entry 0 of kr and capacity copies entry 1.
void havercamp_column(const double *head, double *kr, double *theta, double *capacity,
                      const double *theta_s, const double *theta_r, const double *hb,
                      const double *n, const double *a, const double *b, int nodes);
// The Havercamp functions of cell `cell`'s Richards column in the run state
// (its richards_cell_nodes nodes).
void soil_column_helper(model_state &state, int cell);
