// Stand-ins for the services of later features that the surface-input readers
// call: the Sacramento parameter file. A project that needs it stops with a
// clear message that the feature is not available.
#include <cstdio>
#include <string>

#include "model/feature_standin.h"
#include "model/input/surface_inputs.h"
#include "model/model_state.h"

void read_sacramento_input(std::FILE *, const std::string &, model_state &) {
    report_feature_not_available("reading the Sacramento parameter file");
}

