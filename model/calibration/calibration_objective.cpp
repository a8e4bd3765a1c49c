// The calibration objective of both calibration modes: substitutes a candidate
// parameter vector into the input lines, runs the whole model once and scores the
// run by its HMLE; and the sizing of the run's calibration results, which run_model
// calls before the time loop.
#include "model/calibration/calibration_objective.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "model/core/replace_params.h"
#include "model/project/card_records.h"
#include "model/project/project_file.h"
#include "model/project/run_model.h"

namespace {

// Number of simulated values the run stored: every value of each recorded event.
long long recorded_values(const calibration_results &r) {
    if (r.peaks.empty() || r.volumes.empty() || r.events_recorded < 1 || r.values_per_event < 1)
        return 0;
    const long long events = std::min(r.events_recorded, r.event_count);
    return events * static_cast<long long>(r.values_per_event);
}

int rounded_int(double v) {
    if (!(v == v)) return 0;
    const double r = std::round(v);
    if (r >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (r <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(r);
}

int scored_runs = 0, failed_runs = 0;

}  // namespace

int scored_calibration_runs() { return scored_runs; }

int failed_calibration_runs() { return failed_runs; }

void clear_scored_calibration_runs() { scored_runs = failed_runs = 0; }

int check_parameter_bounds(const std::string &replace_list_file, const std::string &project_file,
                           const std::string &input_file, int first_line, int n,
                           const double *initial, const double *lower, const double *upper) {
    std::vector<double> x(static_cast<std::size_t>(n) + 1, 0.0);
    for (int i = 1; i <= n; ++i) {
        for (int bound = 0; bound < 2; ++bound) {
            std::copy(initial, initial + n + 1, x.begin());
            x[static_cast<std::size_t>(i)] = bound == 0 ? lower[i] : upper[i];
            replace_param_list.clear();
            read_replace_params(replace_list_file);
            const int tags = static_cast<int>(replace_param_list.size());
            for (int k = 1; k <= tags && k <= n; ++k) {
                replace_param &param = replace_param_list[static_cast<std::size_t>(k - 1)];
                param.double_value = x[static_cast<std::size_t>(k)];
                param.int_value = rounded_int(x[static_cast<std::size_t>(k)]);
            }
            const std::string tag =
                i <= tags ? replace_param_list[static_cast<std::size_t>(i - 1)].tag : "";
            replace_params_on = 1;
            clear_error_state();
            auto project = std::make_unique<project_params>();
            grid_params grid;
            rain_params rain;
            read_project_file(project_file, *project, grid, rain);
            const bool refused = error_record.fatal != 0 || grid.project_file_missing != 0;
            replace_params_on = 0;
            clear_run_lists();
            clear_error_state();
            if (!refused) continue;
            std::printf("Error: the %s bound %g of parameter %d (tag %s, line %d of the "
                        "calibration input file %s) is a value that the project file %s "
                        "refuses (see above); no calibration run is made.\n",
                        bound == 0 ? "lower" : "upper", x[static_cast<std::size_t>(i)], i,
                        tag.empty() ? "none" : tag.c_str(), first_line + i - 1,
                        input_file.c_str(), project_file.c_str());
            return -1;
        }
    }
    return 0;
}

bool calibration_has_scored_runs(int scored, const std::string &input_file) {
    if (scored > 0) return true;
    std::printf("Error: no model run of the calibration ended normally with a finite score (see "
                "the messages above); the calibration has no result.\n");
    std::printf("  (calibration input file %s: check its parameter ranges and the files it names)\n",
                input_file.c_str());
    return false;
}

int check_calibration_start(const observation_set &observations, const std::string &observation_file,
                            const std::string &replace_list_file) {
    if (weighted_point_count(observations) == 0) {
        std::printf("Error: the observation file %s holds no peak or volume with a weight above "
                    "1e-6; no calibration run is made.\n",
                    observation_file.c_str());
        return -1;
    }
    const int read = read_replace_params(replace_list_file);
    replace_param_list.clear();
    if (read != 0) {
        std::printf("Error: the replacement parameter list file %s cannot be read; no "
                    "calibration run is made.\n",
                    replace_list_file.c_str());
        return -1;
    }
    return 0;
}

void set_replacement_values(const double *x, int n) {
    const int tags = static_cast<int>(replace_param_list.size());
    if (tags != n)
        std::printf("Warning: the replacement parameter list holds %d tags for %d parameters; "
                    "%d values are substituted.\n",
                    tags, n, std::min(tags, std::max(n, 0)));
    for (int k = 1; k <= tags && k <= n; ++k) {
        replace_param &param = replace_param_list[static_cast<std::size_t>(k - 1)];
        param.double_value = x[k];
        param.int_value = rounded_int(x[k]);
    }
}

double calibration_objective(const std::string &replace_list_file, const std::string &project_file,
                             const double *x, observation_set &observations, int n) {
    calibration_results record;
    file_prefix_on = 1;
    file_prefix_number = parallel_layout.process_rank;

    replace_param_list.clear();
    read_replace_params(replace_list_file);
    set_replacement_values(x, n);
    replace_params_on = 1;

    last_input_echo.clear();
    run_model(project_file, &record);
    // The run's own lines went to its summary: a failed run names where it stopped.
    if (error_record.fatal != 0) ++failed_runs;
    if (error_record.fatal != 0)
        std::printf("  (model run of the project file %s%s%s)\n", project_file.c_str(),
                    last_input_echo.empty() ? "" : ", its last input step: ", last_input_echo.c_str());

    const int run = parallel_layout.process_rank;
    const long long have = recorded_values(record);
    if (have < observations.observation_count) {
        std::printf("Warning: the run gave %lld of the %d values that the observations are "
                    "compared with; it scores %g.\n",
                    have, observations.observation_count, failed_run_score);
        return failed_run_score;
    }
    if (error_record.fatal != 0) {  // values up to the error are not the run's result
        std::printf("Warning: the run ended with an error; it scores %g.\n", failed_run_score);
        return failed_run_score;
    }
    log_calibration_run(record.peaks, record.volumes, observations, run, n, x);
    const double value = compute_hmle(run, observations, record.peaks, record.volumes);
    record.peaks = {};
    record.volumes = {};
    if (std::isfinite(value)) ++scored_runs;
    return value;
}

void alloc_calibration_results(model_state &s) {
    if (!s.calibration_run) return;
    if (!s.calib_results) {
        s.own_calib_results.reset(new (std::nothrow) calibration_results);
        if (!s.own_calib_results) {
            std::printf("Error allocating memory for variable calibration results\n");
            return;
        }
        s.calib_results = s.own_calib_results.get();
    }
    calibration_results &r = *s.calib_results;
    const int locations = s.hyd_location_count > 0 ? s.hyd_location_count : 0;
    // A uniform-rain run leaves the count of the precipitation file at 0 but
    // simulates one event.
    r.event_count = s.event_count > 1 ? s.event_count : 1;
    r.values_per_event = locations + 1;
    r.events_recorded = 0;

    const std::size_t location_entries = static_cast<std::size_t>(locations) + 2;
    r.location_peak.assign(location_entries, 0.0);
    r.location_volume.assign(location_entries, 0.0);
    allocated_bytes += 2 * location_entries * sizeof(double);

    const std::size_t entries =
        static_cast<std::size_t>(r.event_count) * static_cast<std::size_t>(r.values_per_event) + 1;
    r.peaks.assign(entries, 0.0);
    r.volumes.assign(entries, 0.0);
    allocated_bytes += 2 * entries * sizeof(double);
}
