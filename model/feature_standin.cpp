// Stand-in support for services that are not built yet; used by the stand-ins of
// the input, hydrology, channel, calibration and writer steps of a run.
#include "model/feature_standin.h"

#include <cstdio>

#include "model/errors.h"

void report_feature_not_available(const char *feature) {
    std::printf("Error: %s is not available in this build.\n", feature);
    std::fflush(stdout);
    raise_printed_error();
}
