// The calibration problem of the template and instruction harnesses: named
// parameters (one "log", one "tied") and observations, enough for the names
// that the seed files use.
#pragma once
#include <string>

#include "calibrator/engine/control_data.h"

inline control_data fuzz_problem() {
    control_data cd;
    cd.parameters.assign(1, parameter_data{});
    const char *parameters[] = {"a", "b", "k", "RCH1", "p1", "p2", "p3", "p4", "p5", "p10", "b1", "b2", "b3"};
    for (const char *name : parameters) {
        parameter_data p;
        p.name = name;
        p.transform = p.name == "k" ? "log" : p.name == "b3" ? "tied" : "none";
        p.value = 2.0;
        p.perturbed_value_1 = -1.5e-3;
        p.perturbed_value_2 = 1.0e300;
        cd.parameters.push_back(p);
    }
    cd.parameter_count = static_cast<int>(cd.parameters.size()) - 1;
    cd.observations.assign(1, observation_data{});
    const char *observations[] = {"y1", "y2", "y3", "h1", "h2", "o1", "o2", "o3", "o4", "o5",
                                  "a", "b", "c", "q", "Q", "v", "q(1)", "obs1", "obs2"};
    for (const char *name : observations) {
        observation_data o;
        o.name = name;
        o.group = "obsgrp";
        o.weight = 1.0;
        cd.observations.push_back(o);
    }
    cd.observation_count = static_cast<int>(cd.observations.size()) - 1;
    return cd;
}
