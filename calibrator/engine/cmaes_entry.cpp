// Stand-in for the driver of MODE "cmaes" and "cmaesrbf" until the evolutionary
// search is built; calibration_main calls it through cmaes_entry.h.
#include "calibrator/engine/cmaes_entry.h"

calib_status run_cmaes(int /*argc*/, char * /*argv*/[], control_data &cd, file_names /*names*/,
                       std::FILE * /*record*/, std::FILE * /*sensitivity*/, std::FILE * /*matrix*/,
                       std::FILE * /*parameter_values*/, template_file_table & /*templates*/,
                       instruction_file_table & /*instructions*/, double &best_fitness) {
    best_fitness = 0.0;
    std::printf("\nThe calibration method \"%s\" is not available in this build.\n", cd.mode.c_str());
    return 1;
}
