// Soil hydraulic functions of the Richards columns: moisture from head and head
// from moisture (Brooks and Corey with its parabolic junction near saturation, or
// Havercamp), and the Brooks and Corey conductivity and capacity along a column.
// Used by the initial soil water and the Richards and groundwater code.
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
// A node whose moisture lies on the power law of its Brooks and Corey curve:
// true, with the base Se (held at 1e-6 and above) and the exponent 1 / lambda
// whose power q gives its head, conductivity and capacity at once. False for a
// saturated node or one in the parabolic junction.
bool bc_power_law_base(const model_state &state, int cell, int node, double &base,
                       double &exponent);
// Head, conductivity and capacity of such a node from q = base^(1 / lambda).
void bc_node_from_power(model_state &state, int cell, int node, double base, double q);
