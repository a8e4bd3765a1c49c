// The Monte Carlo sampler of the "-m" mode: parameter sets drawn uniformly inside
// their bounds, each scored by one model run, logged, and the best reported.
// run_montecarlo_calibration is called by the command line.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "model/core/arrays.h"
#include "model/calibration/calibration_services.h"
#include "model/calibration/observations.h"
#include "model/core/globals.h"

class montecarlo {
public:
    // Reads the input and the observations, seeds the standard generator and opens
    // the log "log_file_p<n>.log".
    montecarlo(int run_count, const std::string &input_file);
    ~montecarlo();
    montecarlo(const montecarlo &) = delete;
    montecarlo &operator=(const montecarlo &) = delete;

    virtual void montecarlo_read_input(const std::string &input_file);
    virtual void montecarlo_draw();

    // 1 after the runs, 0 when no run could be made.
    int montecarlo_run();
    void montecarlo_log_run(double value);
    void montecarlo_report_best();

    int active = 0;
    int log_number = 0;
    parallel_layout_record *layout = nullptr;
    std::unique_ptr<observation_set> observations;
    int observations_read = 0;         // 1 when the observation file was read
    std::FILE *log_file = nullptr;
    std::string input_name;  // the Monte Carlo input file, named by the messages
    std::string project_file;
    std::string replace_list_file;
    std::string observation_file;
    int run_count = 0;
    int n = 0;
    array_1d<double> lower, upper;     // 1..n
    int input_valid = 0;
    array_1d<double> x;                // current set, x[0] = 0
    array_1d<double> best_x;
    double best_value = 0.0;
    objective_fn objective = nullptr;
};
