// The SCE-UA optimiser: its record, the input file and the settings check, the
// data form used by the partition balancing, the search, and the "-c" entry.
// run_sce_calibration is called by the command line; the data form by the
// partition balancing.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "model/core/arrays.h"
#include "model/calibration/calibration_services.h"
#include "model/calibration/observations.h"

// Objective of the data form: x[1..n], n, data A[1..count], data B[0..count]
// (work storage the objective may change), count.
using data_objective_fn = double (*)(const double *x, int n, const double *data_a, double *data_b,
                                     int count);

// Largest population and sub-complex a search may use, and the largest n.
inline constexpr int sce_population_limit = 1320;
inline constexpr int sce_subcomplex_limit = 50;
inline constexpr int sce_parameter_limit = 49;

struct sce_optimizer {
    std::FILE *log_file = nullptr;     // "log_file.txt", opened on first use
    int log_off = 0;                   // 1 after the log could not be opened
    std::string project_file;
    std::string input_file;  // the SCE input file, for the messages that refuse it
    std::string replace_list_file;
    std::string observation_file;
    int report_on = 0;
    std::FILE *report_file = nullptr;  // "sce_output.dat"
    int calibration = 0;               // 1: calibration objective and file names
    int input_valid = 0;
    data_objective_fn data_objective = nullptr;
    objective_fn calibration_objective = nullptr;
    int n = 0;
    int max_trials = 0;
    int kstop = 0;
    int seed = 0;
    int complex_count = 0;
    int complex_size = 0;
    int subcomplex_size = 0;
    int evolution_steps = 0;
    int min_complex_count = 0;
    int start_at_initial = 0;
    int print_population = 0;
    int use_options = 0;
    double min_change = 0.0;
    std::vector<double> data_b, data_a;  // count + 1 entries each
    int data_count = 0;
    array_1d<double> initial, lower, upper;  // 1..n
    array_1d<double> best;                   // n + 2 entries
    std::unique_ptr<observation_set> observations;
    array_1d<double> maxima, minima, means;  // per-parameter population statistics
    int generator_state = 0;
    double best_criterion = 0.0;  // smallest criterion evaluated so far (after the first)
};

void sce_init(sce_optimizer &opt);
void sce_free(sce_optimizer &opt);

// Opens the report, reads the input with SCEIN and checks the settings; the input
// is valid unless the report, the reading or the check failed.
void sce_read_input(sce_optimizer &opt, std::FILE *input);
// 0, or -1 (with a message) on a short option line, a parameter count outside
// 1..49 or a file name longer than the record holds.
int SCEIN(sce_optimizer &opt, std::FILE *input);
// Number of warnings, or -1 when the complex count, the parameter count or a pair
// of bounds cannot be used.
int sce_check_settings(sce_optimizer &opt);

// The data form: n parameters with the seed and change limit, x0, lower, upper 1..n.
void sce_setup(sce_optimizer &opt, int n, int seed, double min_change, const double *initial,
               const double *lower, const double *upper);
void sce_set_data(sce_optimizer &opt, int count, const double *data_a, const double *data_b);

// The search; the evaluation count (one more than the evaluations made), or -1.
int SCEUA(sce_optimizer &opt);
void sce_best_point(const sce_optimizer &opt, double *destination);

// Prints on the console and, when the report is on, in the report file.
void sce_report_both(sce_optimizer &opt, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
// Writes to the report file only, when the report is on.
void sce_report(sce_optimizer &opt, const char *format, ...) __attribute__((format(printf, 2, 3)));
