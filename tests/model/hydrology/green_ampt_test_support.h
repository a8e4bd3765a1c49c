// Shared set-up of the infiltration tests: a run state of a few cells with the
// soil arrays of the chosen scheme, uniform soil parameters and helpers that
// rain or pond water on the cells.
#pragma once

#include <cmath>
#include <memory>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/core/model_state.h"

namespace soiltest {

// Silt loam of the classic ponded-infiltration example.
inline constexpr double silt_ks_cm_h = 0.65;
inline constexpr double silt_psi_cm = 16.7;
inline constexpr double silt_dtheta = 0.340;

inline double cm_h_to_m_s(double v) { return v / 360000.0; }

// A run state of `cells` cells in one row, 10 m cells, with the arrays of the
// scheme (1 Green and Ampt, 2 redistribution, 3 layered soil, 4 Richards).
inline std::unique_ptr<model_state> make_state(int cells, int scheme) {
    clear_error_state();
    auto s = std::make_unique<model_state>();
    s->cell_count = cells;
    s->cell_size = 10.0;
    s->inf_green_ampt = scheme == 1;
    s->inf_redist = scheme == 2;
    s->inf_layered = scheme == 3;
    s->inf_richards = scheme == 4;
    s->quiet = 1;
    alloc_1d_double(s->depth, cells);
    s->rate_of_infil_on = 1;  // the infiltration rates kept, as for their map
    allocate_soil_cell_arrays(*s);
    return s;
}

// Uniform Green and Ampt soil: Ks (cm/h), suction (cm), porosity and initial moisture.
inline void set_soil(model_state &s, double ks_cm_h, double psi_cm, double phi, double theta_i) {
    for (int i = 1; i <= s.cell_count; ++i) {
        s.soil_ksat.full()[i] = cm_h_to_m_s(ks_cm_h);
        s.soil_capillary.full()[i] = psi_cm / 100.0;
        s.soil_porosity.full()[i] = phi;
        s.initial_moisture.full()[i] = theta_i;
        s.moisture_state.full()[i] = s.inf_green_ampt ? phi - theta_i : theta_i;
    }
}

// Implicit Green and Ampt cumulative infiltration (cm) after t hours of ponding:
// F - S ln(1 + F / S) = K t, by bisection (independent of the kernels).
inline double implicit_green_ampt(double k_cm_h, double s_cm, double t_h) {
    double lo = 0.0, hi = 1.0;
    auto g = [&](double f) { return f - s_cm * std::log(1.0 + f / s_cm) - k_cm_h * t_h; };
    while (g(hi) < 0.0) hi *= 2.0;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (g(mid) < 0.0 ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

}  // namespace soiltest
