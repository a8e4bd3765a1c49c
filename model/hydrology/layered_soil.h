// Green and Ampt infiltration through three soil layers, the Havercamp functions
// of one soil column, and the initial soil water of the Richards columns. The
// infiltration piece calls the kernel; the Richards set-up calls the others.
#pragma once

#include <array>

#include "model/core/model_state.h"
#include "model/core/soil_rows.h"

// Front-layer parameters of the layered kernel for a cumulative depth F (cm):
// the effective conductivity (cm/h), the suction (cm) and the deficit of the layer
// that holds the wetting front, and that layer (1, 2 or 3).
struct layered_front {
    double conductivity = 0.0, suction = 0.0, deficit = 0.0;
    int layer = 1;
};
layered_front layered_front_parameters(const soil_layer_record &row, double f_cm);

// Cumulative depth x (cm) after t hours of ponded infiltration from F (cm):
// the root of x - F - S ln((x + S) / (F + S)) = K t, by Newton steps kept inside
// a bracket [F, upper] with bisection where a step leaves it; |residual| < 1e-4.
// False (x = F) when no root is found within the iteration cap.
bool layered_green_ampt_depth(double f_cm, double s_cm, double k, double t, double &x);

// Layered Green and Ampt over every cell with ponded water.
void infiltrate_layered_soil(model_state &state, double dt);

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

// Sets up every Richards cell's column from its soil row and prints the initial
// water of the root zone and the column (m3) into the summary file.
void initial_soil_water(model_state &state);
