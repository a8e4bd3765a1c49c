// Services of the model's own calibration modes that the framework calls: the
// SCE-UA and Monte Carlo entries of the command line, the calibration results of
// one run, their sizing before the time loop, and the grid partition set-up.
#pragma once

#include <string>
#include <vector>

#include "model/core/arrays.h"

struct model_state;
struct observation_set;

// Filled during a calibration run with the peaks and volumes per event and
// location, read by the objective after run_model returns.
struct calibration_results {
    int event_count = 0;
    int values_per_event = 0;             // hydrograph locations + 1 (the outlet)
    std::vector<double> peaks;            // event_count * values_per_event + 1 entries
    std::vector<double> volumes;          // same layout as peaks
    std::vector<double> location_peak;    // running peak per location, 1..L
    std::vector<double> location_volume;  // running volume per location, 1..L
    int events_recorded = 0;              // last event whose values were stored
};

// The objective of both calibration modes: replacement list file, project file,
// x[1..n], the observations and n.
using objective_fn = double (*)(const std::string &replace_list_file,
                                const std::string &project_file, const double *x,
                                observation_set &observations, int n);

// "-c": SCE-UA calibration with the given SCE input file; 1 after the search
// and its report, 0 when no search could be made (the message is printed).
int run_sce_calibration(const std::string &input_file);

// "-m": Monte Carlo calibration with batch_count runs; 1 after a report, else 0
// (the message is printed).
int run_montecarlo_calibration(int batch_count, const std::string &input_file);

// Runs the whole model for the candidate x[1..n] and scores it.
double calibration_objective(const std::string &replace_list_file, const std::string &project_file,
                             const double *x, observation_set &observations, int n);

// Sizes the run's calibration_results before the time loop; nothing unless the
// run is a calibration run.
void alloc_calibration_results(model_state &state);

// Splits the grid into parts when the part count of parallel_layout is above 1.
void setup_partitions(int cols, int cell_count, int rows, const array_2d<int> &cell_number_grid);
