// The SCE-UA optimiser's record and its settings: creation and release, the SCE
// input file, the settings check with its warnings, and the data form that the
// partition balancing sets up without files. Called by the "-c" entry and by the
// partition balancing before a search.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "model/core/file_opener.h"
#include "model/calibration/sce_optimizer.h"
#include "model/core/line_reader.h"

namespace {

constexpr std::size_t file_name_limit = 1023;

void write_report(sce_optimizer &opt, const char *format, std::va_list args) {
    if (opt.report_on && opt.report_file) std::vfprintf(opt.report_file, format, args);
}

bool size_parameter_arrays(sce_optimizer &opt) {
    const long long n = opt.n;
    return alloc_1d_double(opt.initial, n) == 0 && alloc_1d_double(opt.lower, n) == 0 &&
           alloc_1d_double(opt.upper, n) == 0 && alloc_1d_double(opt.best, n + 1) == 0 &&
           alloc_1d_double(opt.maxima, n) == 0 && alloc_1d_double(opt.minima, n) == 0 &&
           alloc_1d_double(opt.means, n) == 0;
}

bool parameter_count_ok(int n) {
    if (n >= 1 && n <= sce_parameter_limit) return true;
    std::printf(" **ERROR** THE NUMBER OF PARAMETERS %d IS NOT A VALID CHOICE (1 TO %d)\n", n,
                sce_parameter_limit);
    return false;
}

// First token of the next line into name; false when it is too long to hold.
bool read_file_name(std::FILE *input, std::string &name, int line_number) {
    std::string line;
    read_line(line, input);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // CRLF line end
    next_token(name, line);
    if (name.size() <= file_name_limit) return true;
    std::printf("Error: the file name on line %d of the SCE input file is longer than %zu "
                "characters.\n",
                line_number, file_name_limit);
    name.clear();
    return false;
}

}  // namespace

void sce_report_both(sce_optimizer &opt, const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    std::vprintf(format, args);
    write_report(opt, format, copy);
    va_end(copy);
    va_end(args);
}

void sce_report(sce_optimizer &opt, const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    write_report(opt, format, args);
    va_end(args);
}

namespace {

// The per-parameter arrays of the optimiser.
void release_sce_arrays(sce_optimizer &opt) {
    opt.initial.release();
    opt.lower.release();
    opt.upper.release();
    opt.best.release();
    opt.maxima.release();
    opt.minima.release();
    opt.means.release();
}

}  // namespace

void sce_init(sce_optimizer &opt) {
    // Every reference, flag, file handle and count starts cleared; files still
    // open belong to the caller's earlier use and are not closed here.
    opt.log_file = nullptr;
    opt.report_file = nullptr;
    opt.observations.reset();
    opt.log_off = 0;
    opt.project_file.clear();
    opt.input_file.clear();
    opt.replace_list_file.clear();
    opt.observation_file.clear();
    opt.report_on = 0;
    opt.calibration = 0;
    opt.input_valid = 0;
    opt.data_objective = nullptr;
    opt.calibration_objective = nullptr;
    opt.n = opt.max_trials = opt.kstop = opt.seed = 0;
    opt.complex_count = opt.complex_size = opt.subcomplex_size = opt.evolution_steps = 0;
    opt.min_complex_count = opt.start_at_initial = opt.print_population = opt.use_options = 0;
    opt.min_change = 0.0;
    opt.data_a.clear();
    opt.data_b.clear();
    opt.data_count = 0;
    release_sce_arrays(opt);
    opt.generator_state = 0;
}

void sce_free(sce_optimizer &opt) {
    release_sce_arrays(opt);
    close_calibration_file(opt.report_file, "sce_output.dat");
    opt.report_file = nullptr;
    opt.report_on = 0;
    close_calibration_file(opt.log_file, "log_file.txt");
    opt.log_file = nullptr;
    if (opt.observations) destroy_observation_set(*opt.observations);
    opt.observations.reset();
}

int SCEIN(sce_optimizer &opt, std::FILE *input) {
    if (opt.calibration) {
        const bool names_ok = read_file_name(input, opt.project_file, 1) &
                              read_file_name(input, opt.replace_list_file, 2) &
                              read_file_name(input, opt.observation_file, 3);
        if (!names_ok) return -1;
    }
    // The first line: six integers and the change limit, each a whole token (an
    // integer beyond an int's range is refused, not wrapped).
    int *const integers[7] = {&opt.max_trials, &opt.kstop,       nullptr, &opt.complex_count,
                              &opt.seed,       &opt.use_options, &opt.n};
    if (opt.input_file.empty()) opt.input_file = input_file_name(input);
    const std::string file_name = opt.input_file;
    for (int k = 0; k < 7; ++k) {
        char token[64] = {};
        if (std::fscanf(input, "%63s", token) != 1) {
            std::printf("Error in your input file. The first line must have 7 parameters.\n");
            std::printf("  (file %s)\n", file_name.c_str());
            return -1;
        }
        const bool whole = integers[k] ? whole_token_int(token, *integers[k])
                                       : whole_token_double(token, opt.min_change);
        if (!whole) {
            std::printf("Error in your input file %s: value %d of the first line, \"%s\", is not "
                        "%s.\n",
                        file_name.c_str(), k + 1, token,
                        integers[k] ? "a whole number within an integer's range" : "a number");
            return -1;
        }
    }
    // The option line is always read; it counts only with use_options 1.
    if (std::fscanf(input, "%d %d %d %d %d %d", &opt.complex_size, &opt.subcomplex_size,
                    &opt.evolution_steps, &opt.min_complex_count, &opt.start_at_initial,
                    &opt.print_population) < 6) {
        // Values that are missing keep what they had.
    }
    if (!parameter_count_ok(opt.n)) return -1;
    if (!size_parameter_arrays(opt)) return -1;
    if (!std::isfinite(opt.min_change)) {
        std::printf("Error in your input file. The change limit of the first line is not a finite number.\n");
        std::printf("  (file %s)\n", file_name.c_str());
        return -1;
    }
    for (int i = 1; i <= opt.n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (std::fscanf(input, "%lf %lf %lf", &opt.initial[k], &opt.lower[k], &opt.upper[k]) < 3) {
            // A short triple keeps 0 for what is missing; the bounds check refuses it.
        }
        if (!std::isfinite(opt.initial[k]) || !std::isfinite(opt.lower[k]) || !std::isfinite(opt.upper[k])) {
            std::printf("Error in your input file. The initial value or a bound of parameter %d is "
                        "not a finite number.\n",
                        i);
            std::printf("  (file %s, parameter line %d)\n", file_name.c_str(), i);
            return -1;
        }
    }
    if (opt.seed == 0) opt.seed = 3737;
    return 0;
}

int sce_check_settings(sce_optimizer &opt) {
    const int n = opt.n;
    int warnings = 0;
    if (opt.use_options != 1) {
        opt.complex_size = 2 * n + 1;
        opt.subcomplex_size = n + 1;
        opt.evolution_steps = opt.complex_size;
        opt.min_complex_count = opt.complex_count;
        opt.start_at_initial = 0;
        opt.print_population = 0;
    }
    if (opt.complex_count < 1 || opt.complex_count > sce_population_limit - 1) {
        sce_report_both(opt, " **ERROR** NUMBER OF COMPLEXES IN INITIAL POPULATION %d IS NOT A VALID CHOICE\n",
                        opt.complex_count);
        return -1;
    }
    if (!parameter_count_ok(n)) return -1;
    // Equal or crossed bounds would leave the random points nowhere to go.
    for (int i = 1; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (!(opt.lower[k] < opt.upper[k])) {
            sce_report_both(opt, " **ERROR** THE LOWER BOUND %lf OF PARAMETER %d IS NOT BELOW ITS UPPER BOUND %lf\n",
                            opt.lower[k], i, opt.upper[k]);
            if (!opt.input_file.empty()) std::printf("  (file %s)\n", opt.input_file.c_str());
            return -1;
        }
    }
    if (opt.kstop < 0 || opt.kstop > 19) {
        sce_report_both(opt, " **WARNING** THE NUMBER OF SHUFFLING LOOPS IN WHICH THE CRITERION VALUE\n");
        sce_report_both(opt, " MUST CHANGE SHOULD BE GREATER THAN 0 AND LESS THAN 10. kstop = %d WAS\n", opt.kstop);
        sce_report_both(opt, " WAS SPECIFIED.  BUT kstop = 5 WILL BE USED INSTEAD.\n");
        opt.kstop = 5;
        ++warnings;
    }
    if (opt.min_complex_count < 1 || opt.min_complex_count > opt.complex_count) {
        sce_report_both(opt, " **WARNING** THE MINIMUM NUMBER OF COMPLEXES %d IS NOT A VALID CHOICE.\n",
                        opt.min_complex_count);
        sce_report_both(opt, " SET IT TO DEFAULT\n");
        opt.min_complex_count = opt.complex_count;
        ++warnings;
    }
    if (opt.complex_size < 2 || opt.complex_size > sce_population_limit / opt.complex_count) {
        sce_report_both(opt, " **WARNING** THE NUMBER OF POINTS IN A COMPLEX %d IS NOT\n", opt.complex_size);
        sce_report_both(opt, " A VALID CHOICE, SET IT TO DEFAULT\n");
        opt.complex_size = 2 * n + 1;
        ++warnings;
    }
    if (opt.subcomplex_size < 2 || opt.subcomplex_size > opt.complex_size ||
        opt.subcomplex_size > sce_subcomplex_limit) {
        sce_report_both(opt, " **WARNING** THE NUMBER OF POINTS IN A SUB-COMPLEX %d IS NOT\n",
                        opt.subcomplex_size);
        sce_report_both(opt, " A VALID CHOICE, SET IT TO DEFAULT\n");
        opt.subcomplex_size = n + 1;
        ++warnings;
    }
    if (opt.evolution_steps < 1) {
        sce_report_both(opt, " **WARNING** THE NUMBER OF EVOLUTION STEPS TAKEN IN EACH COMPLEX\n");
        sce_report_both(opt, " BEFORE SHUFFLING %d IS NOT A VALID CHOICE, SET IT TO DEFAULT\n",
                        opt.evolution_steps);
        opt.evolution_steps = opt.complex_size;
        ++warnings;
    }
    if (static_cast<long long>(opt.complex_size) * opt.complex_count > sce_population_limit) {
        sce_report_both(opt, " **WARNING** THE NUMBER OF POINTS IN INITIAL POPULATION %d EXCEED\n",
                        opt.complex_size * opt.complex_count);
        sce_report_both(opt, " THE POPULATION LIMIT.  SET NGS TO 2, AND NPG, NPS AND NSPL TO DEFAULTS\n");
        opt.complex_count = 2;
        opt.complex_size = 2 * n + 1;
        opt.subcomplex_size = n + 1;
        opt.evolution_steps = 2 * n + 1;
        ++warnings;
    }
    if (warnings > 0) sce_report_both(opt, " *** TOTAL NUMBER OF WARNING MESSAGES IS %d\n", warnings);
    return warnings;
}

void sce_read_input(sce_optimizer &opt, std::FILE *input) {
    // The input is read before the report file is opened, so that a refused
    // input leaves the report of an earlier search in place.
    if (SCEIN(opt, input) == -1) {
        opt.input_valid = 0;
        return;
    }
    opt.report_on = 1;
    opt.report_file = open_calibration_file("sce_output.dat");
    if (!opt.report_file) {
        std::printf("Error: Can't open output file %s\n", "sce_output.dat");
        opt.report_on = 0;
        opt.input_valid = 0;
        return;
    }
    opt.input_valid = sce_check_settings(opt) >= 0 ? 1 : 0;
}

void sce_setup(sce_optimizer &opt, int n, int seed, double min_change, const double *initial,
               const double *lower, const double *upper) {
    opt.n = n;
    opt.seed = seed;
    opt.min_change = min_change;
    opt.max_trials = 10000;
    opt.kstop = 500;
    opt.complex_count = 30;
    opt.use_options = 0;
    opt.calibration = 0;
    opt.project_file.clear();
    opt.input_file.clear();
    opt.replace_list_file.clear();
    opt.observation_file.clear();
    opt.input_valid = 0;
    if (!parameter_count_ok(n) || !size_parameter_arrays(opt)) return;
    for (int i = 1; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        opt.initial[k] = initial[k];
        opt.lower[k] = lower[k];
        opt.upper[k] = upper[k];
    }
    opt.input_valid = sce_check_settings(opt) >= 0 ? 1 : 0;
}

void sce_set_data(sce_optimizer &opt, int count, const double *data_a, const double *data_b) {
    opt.data_count = count > 0 ? count : 0;
    const std::size_t entries = static_cast<std::size_t>(opt.data_count) + 1;
    opt.data_a.assign(entries, 0.0);
    opt.data_b.assign(entries, 0.0);
    for (std::size_t k = 1; k < entries; ++k) {
        opt.data_a[k] = data_a[k];
        opt.data_b[k] = data_b[k];
    }
}

void sce_best_point(const sce_optimizer &opt, double *destination) {
    for (int i = 1; i <= opt.n; ++i)
        destination[i] = opt.best[static_cast<std::size_t>(i)];
}
