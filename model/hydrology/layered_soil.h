// Green and Ampt infiltration through three soil layers, called by the
// infiltration piece.
#pragma once

#include <array>

#include "model/core/model_state.h"
#include "model/core/soil_hydraulics.h"
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
