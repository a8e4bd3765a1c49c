// Observed peaks and volumes of a calibration, the HMLE score and the other
// statistics of a run, the register of logged runs and the two per-run logs.
// Read by the calibration objective after every run of both calibration modes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/core/arrays.h"

// A peak or volume takes part in the statistics when its weight is above this.
inline constexpr double observation_weight_threshold = 1e-6;

// One logged run: its four statistics and a copy of its parameters x[0..n].
struct logged_run {
    double hmle = 0.0;
    double error = 0.0;   // root of the summed squared errors
    double peak = 0.0;    // largest simulated peak of the weighted points
    double volume = 0.0;  // largest simulated volume of the weighted points
    std::vector<double> x;
    int n = 0;
};

// An index entry of one ordered list: the statistic and the run it belongs to.
struct registry_entry {
    double value = 0.0;
    std::size_t run = 0;  // index into run_registry::runs
};

// Every logged run in logging order, and one list per statistic ordered by value
// (a value that is not a number orders last; equal values keep logging order).
struct run_registry {
    std::vector<logged_run> runs;
    std::vector<registry_entry> by_hmle, by_error, by_peak, by_volume;
};

struct observation_set {
    array_1d<double> observed_peak;    // 1..N
    array_1d<double> observed_volume;
    array_1d<double> peak_weight;
    array_1d<double> volume_weight;
    int observation_count = 0;         // N
    double volume_scale = 1.0;         // largest observed peak / largest observed volume
    run_registry registry;
};

// Reads the observation file (no run prefix): N on line 1, then per observation
// peak, peak weight, volume, volume weight. 1 when read, -1 otherwise (the file is
// closed on every path). A weighted observed value at or below 0 is refused.
int read_observation_file(observation_set &set, const std::string &file_name);

// Number of peaks and volumes whose weight is above the threshold.
int weighted_point_count(const observation_set &set);

void compute_volume_scale(observation_set &set);

// HMLE of one run against the observations (lower is better); appends one block
// to "<run>_hmle.dat". -1.0 when no point is weighted.
double compute_hmle(int run, observation_set &set, const std::vector<double> &peaks,
                    const std::vector<double> &volumes);
double compute_rmse(observation_set &set, const std::vector<double> &peaks,
                    const std::vector<double> &volumes);
double max_simulated_peak(const observation_set &set, const std::vector<double> &peaks);
double max_simulated_volume(const observation_set &set, const std::vector<double> &volumes);

// Appends one run (x[1..n] copied) and its four index entries to the registry.
void register_run(run_registry &registry, const double *x, int n, double hmle, double error,
                  double peak, double volume);

// Computes and registers the run's statistics and appends the observation table
// to "<run>_obs.log".
void log_calibration_run(const std::vector<double> &peaks, const std::vector<double> &volumes,
                         observation_set &set, int run, int n, const double *x);

// Releases the four arrays and the registry.
void destroy_observation_set(observation_set &set);
