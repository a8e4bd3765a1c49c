// Stand-ins for the calibration modes, until they are built: a mode that is asked
// for stops with a clear message; a plain run is not affected.
#include "model/calibration/calibration_services.h"
#include "model/feature_standin.h"
#include "model/globals.h"
#include "model/model_state.h"

void run_sce_calibration(const std::string &) {
    report_feature_not_available("SCE-UA calibration (-c)");
}

int run_montecarlo_calibration(int, const std::string &) {
    report_feature_not_available("Monte Carlo calibration (-m)");
    return 0;
}

double calibration_objective(const std::string &, const std::string &, const double *,
                             observation_set &, int) {
    report_feature_not_available("the calibration objective");
    return 0.0;
}

void alloc_calibration_results(model_state &s) {
    if (s.calibration_run) report_feature_not_available("calibration results");
}

void setup_partitions(int, int, int, const array_2d<int> &) {
    // One part, always so in this system: nothing to split.
    if (parallel_layout.partition_count > 1) report_feature_not_available("grid partitions");
}
