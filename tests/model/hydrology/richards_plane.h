// Planes of Richards columns for the step's equality test and benchmark: each
// cell takes one of four random soils of three layers (Brooks and Corey or
// Havercamp curves, 10 to 30 cm layers at 1 to 3 cm nodes) and a random start:
// a dry top or a pond of up to 2 cm; every third cell has an ET demand. The state of every array the step changes
// can be kept and put back.
#pragma once

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/core/soil_hydraulics.h"
#include "model/input/soil_inputs.h"
#include "tests/model/hydrology/green_ampt_test_support.h"

namespace richards_plane {

inline std::string soil_table(int form, std::mt19937 &rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::string t = "4\n0\n";
    char line[320];
    for (int k = 1; k <= 4; ++k) {
        std::snprintf(line, sizeof line, "%d\n%.2f %.2f %.2f 0.1\n", k, 1.0 + 2.0 * u(rng),
                      1.0 + 2.0 * u(rng), 1.0 + 2.0 * u(rng));
        t += line;
        for (int l = 0; l < 3; ++l) {
            const double ks = 0.5 + 4.5 * u(rng), ts = 0.35 + 0.15 * u(rng), tr = 0.02 + 0.06 * u(rng);
            const double ti = tr + 0.03 + (ts - tr - 0.08) * u(rng), depth = 10.0 + 20.0 * u(rng);
            if (form == curve_havercamp)
                std::snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f 0.08 0.15 %.2f 1.175e6 %.3f %.4f %.3f\n",
                              ks, ts, tr, ti, depth, 4.0 + u(rng), 20.0 + 30.0 * u(rng), 2.0 + 2.0 * u(rng));
            else
                std::snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f 0.08 0.15 %.2f %.3f %.2f\n", ks, ts, tr,
                              ti, depth, 0.2 + 0.4 * u(rng), 5.0 + 25.0 * u(rng));
            t += line;
        }
    }
    return t;
}

inline std::unique_ptr<model_state> plane(int cells, int form, unsigned seed, bool fixed_bottom) {
    std::mt19937 rng(seed);
    auto s = soiltest::make_state(cells, 4);
    s->richards_c_option = form;
    s->richards_k_option = 2;
    s->richards_weight = 1.0;
    s->richards_upper_option = 1;
    s->richards_iter_max = 3;
    s->richards_dtheta_max = 0.0025;
    s->richards_bottom_fixed = fixed_bottom;
    s->soil_moist_depth_cm = 10.0;
    std::uniform_int_distribution<int> soil(1, 4);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 1; i <= cells; ++i) {
        s->soil_index[i] = soil(rng);
        s->depth[i] = u(rng) < 0.5 ? 0.0 : 0.02 * u(rng);
    }
    s->soil_layer_name = "plane.tab";
    s->soil_layer_file = std::tmpfile();
    std::fputs(soil_table(form, rng).c_str(), s->soil_layer_file);
    std::rewind(s->soil_layer_file);
    setup_richards_soil(*s);
    std::fclose(s->soil_layer_file);
    s->soil_layer_file = nullptr;
    // Every third cell has an ET demand of 0.02 cm/h from its top node.
    for (int i = 2; i <= cells && !s->richards_et_flag.empty(); i += 3) {
        s->richards_et_flag[i] = 1;
        s->richards_et_rate[i] = 0.02 / 100.0 / 3600.0;
    }
    return s;
}

// The arrays the step changes.
struct saved {
    std::vector<std::vector<double>> blocks;
    std::vector<double> depth, last_substep, infiltration;
    std::vector<int> surface_state;
};

inline std::vector<array_2d<double> *> changing(model_state &s) {
    return {&s.richards_head,   &s.richards_theta,       &s.richards_kr,         &s.richards_capacity,
            &s.richards_flux,   &s.richards_source,      &s.richards_head_start, &s.richards_theta_start,
            &s.richards_theta_prev};
}

inline saved keep(model_state &s) {
    saved k;
    for (array_2d<double> *a : changing(s))
        k.blocks.emplace_back(a->data(), a->data() + (a->rows() + 1) * (a->cols() + 1));
    k.depth.assign(s.depth.data(), s.depth.data() + s.depth.last() + 1);
    k.last_substep.assign(s.richards_last_substep.data(),
                          s.richards_last_substep.data() + s.richards_last_substep.last() + 1);
    k.surface_state.assign(s.richards_surface_state.data(),
                           s.richards_surface_state.data() + s.richards_surface_state.last() + 1);
    return k;
}

inline void put_back(model_state &s, const saved &k) {
    std::size_t b = 0;
    for (array_2d<double> *a : changing(s)) std::copy(k.blocks[b].begin(), k.blocks[b].end(), a->data()), ++b;
    std::copy(k.depth.begin(), k.depth.end(), s.depth.data());
    std::copy(k.last_substep.begin(), k.last_substep.end(), s.richards_last_substep.data());
    std::copy(k.surface_state.begin(), k.surface_state.end(), s.richards_surface_state.data());
}

}  // namespace richards_plane
