// Helpers of the GML unit tests: a calibration problem built in memory
// (parameters, observations with their model values, one parameter group and
// one observation group), and a reader of what a routine wrote to a file.
#pragma once
#include <cstdio>
#include <string>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/start_up_services.h"

namespace gml_test {

struct problem {
    control_data cd;

    explicit problem(const std::string &derivative_form = "always_2",
                     const std::string &method = "outside_pts") {
        cd.mode = "estimation";
        cd.lambda = 0.0;
        cd.lambda_factor = 2.0;
        cd.lambda_limit = 10;
        cd.phi_ratio_sufficient = 0.3;
        cd.phi_reduction_lambda = 0.01;
        cd.parameter_groups.assign(1, parameter_group_data{});
        parameter_group_data g;
        g.group_name = "grp";
        g.derivative_form = derivative_form;
        g.derivative_method = method;
        cd.parameter_groups.push_back(g);
        cd.parameter_group_count = 1;
        cd.observation_groups.assign(2, observation_group_data{});
        cd.observation_groups[1].group_name = "obsgrp";
        cd.observation_group_count = 1;
        cd.parameters.assign(1, parameter_data{});
        cd.observations.assign(1, observation_data{});
        cd.prior_information.assign(1, prior_information_data{});
    }

    parameter_data &parameter(const std::string &name, double value, double lower, double upper,
                              const std::string &transform = "none") {
        parameter_data p;
        p.name = name;
        p.transform = transform;
        p.value = value;
        p.lower_bound = lower;
        p.upper_bound = upper;
        p.group = "grp";
        cd.parameters.push_back(p);
        cd.parameter_count = static_cast<int>(cd.parameters.size()) - 1;
        count_parameter_kinds(cd);
        return cd.parameters.back();
    }

    observation_data &observation(const std::string &name, double measured, double model,
                                  double weight = 1.0) {
        observation_data o;
        o.name = name;
        o.measured = measured;
        o.model_value = {model, model, model};
        o.weight = weight;
        o.group = "obsgrp";
        cd.observations.push_back(o);
        cd.observation_count = static_cast<int>(cd.observations.size()) - 1;
        return cd.observations.back();
    }
};

// "o1", "o2", ...: built with snprintf because g++ 12 misreports the
// concatenation of a literal and std::to_string at -O3.
inline std::string numbered(const char *prefix, int k) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%d", prefix, k);
    return text;
}

// Everything written to `f` so far.
inline std::string file_text(std::FILE *f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) text.push_back(static_cast<char>(c));
    return text;
}

}  // namespace gml_test
