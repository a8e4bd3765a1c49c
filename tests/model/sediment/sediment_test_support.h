// Small grids and sediment records built by hand in a run state for the
// erosion and sediment tests.
#pragma once

#include <vector>

#include "model/core/model_state.h"

namespace sediment_test {

// Classes of the given diameters (mm) and specific gravities, wash load first as
// the readers list them; every cell gets the class fractions and `loose` m3 of
// loose soil split by them.
inline void make_record(model_state &s, const std::vector<double> &diameters,
                        const std::vector<double> &gravities, const std::vector<double> &fractions,
                        double sand_size, double loose) {
    sediment_record &r = s.sediment;
    const int nc = static_cast<int>(diameters.size()), n = s.cell_count;
    r.class_count = nc;
    r.classes.assign(static_cast<std::size_t>(nc) + 1, sediment_class{});
    r.wash_count = r.sand_count = 0;
    for (int k = 1; k <= nc; ++k) {
        r.classes[static_cast<std::size_t>(k)].diameter = diameters[static_cast<std::size_t>(k - 1)];
        r.classes[static_cast<std::size_t>(k)].specific_gravity = gravities[static_cast<std::size_t>(k - 1)];
        ++(diameters[static_cast<std::size_t>(k - 1)] < sand_size ? r.wash_count : r.sand_count);
    }
    r.sand_size = sand_size;
    r.viscosity = 1e-6;
    for (array_2d<double> *a : {&r.fraction, &r.eroded, &r.suspended, &r.deposited, &r.detachment_share})
        alloc_2d_double(*a, n, nc, "test");
    for (array_1d<double> *a : {&r.splash_coeff, &r.detachment_coeff, &r.critical_shear, &r.shear_exponent,
                                &r.transport_coeff, &r.transport_exponent, &r.critical_stream_power,
                                &r.transport_factor})
        alloc_1d_double(*a, n);
    for (array_1d<double> *a : {&r.outlet_rate, &r.outlet_volume, &r.detached_volume, &r.event_start_soil,
                                &r.event_detached_mark, &r.outlet_sand_rate, &r.outlet_wash_rate})
        alloc_1d_double(*a, nc);
    for (int i = 1; i <= n; ++i)
        for (int k = 1; k <= nc; ++k) {
            r.fraction[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] = fractions[static_cast<std::size_t>(k - 1)];
            r.deposited[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] =
                fractions[static_cast<std::size_t>(k - 1)] * loose;
        }
}

// A row of n cells numbered west to east, each the right neighbour of the one
// before; ground slope `slope` towards the east, uniform depth h and discharge q
// (m3/s) across every right face but the last.
inline void make_row(model_state &s, int n, double dx, double slope, double h, double q) {
    s.cell_count = n;
    s.cell_size = dx;
    for (array_1d<double> *a : {&s.depth, &s.discharge_x, &s.discharge_y, &s.x_slope, &s.y_slope,
                                &s.step_rain_rate})
        alloc_1d_double(*a, n);
    alloc_1d_int(s.right, n);
    alloc_1d_int(s.down, n);
    for (int i = 1; i <= n; ++i) {
        const std::size_t c = static_cast<std::size_t>(i);
        s.right[c] = i < n ? i + 1 : 0;
        s.x_slope[c] = slope;
        s.depth[c] = h;
        s.discharge_x[c] = i < n ? q : 0.0;
    }
}

inline double soil_total(const model_state &s) {
    double v = 0.0;
    for (int i = 1; i <= s.cell_count; ++i)
        for (int k = 1; k <= s.sediment.class_count; ++k)
            v += s.sediment.deposited[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] +
                 s.sediment.suspended[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)];
    return v;
}

}  // namespace sediment_test
