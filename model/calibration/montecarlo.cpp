// The Monte Carlo sampler: its input file, uniform draws from the standard
// generator, one scored model run per draw with its log line, and the report of
// the best set on the console and in "best.out". Called by the "-m" entry.
#include "model/calibration/montecarlo.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "model/calibration/calibration_objective.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"

namespace {

constexpr std::size_t file_name_limit = 199;

// First token of the next line into name; false when it is too long to hold.
bool read_file_name(std::FILE *input, std::string &name, int line_number) {
    std::string line;
    read_line(line, input);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // CRLF line end
    next_token(name, line);
    if (name.size() <= file_name_limit) return true;
    std::printf("Error: the file name on line %d of the Monte Carlo input file is longer than "
                "%zu characters.\n",
                line_number, file_name_limit);
    name.clear();
    return false;
}

// Next value of the standard generator on the scale 0 .. 32767.
int next_sample() {
    return static_cast<int>(std::floor(std::rand() / (RAND_MAX + 1.0) * 32768.0));
}

}  // namespace

montecarlo::montecarlo(int runs, const std::string &input_file) : run_count(runs) {
    layout = &parallel_layout;
    montecarlo::montecarlo_read_input(input_file);
    const unsigned long long now = static_cast<unsigned long long>(std::time(nullptr));
    std::srand(static_cast<unsigned>((static_cast<unsigned long long>(layout->process_rank) + now) &
                                     0xffffffffULL));
    log_number = layout->log_file_number;
    // The observations are read first: a log of runs that will not be made is
    // not opened (nor emptied).
    if (input_valid) alloc_1d_double(best_x, n);
    observations.reset(new (std::nothrow) observation_set);
    observations_read =
        observations && input_valid && read_observation_file(*observations, observation_file) == 1;
    if (!layout->suppress_output) {
        char name[64];
        std::snprintf(name, sizeof name, "log_file_p%d.log", log_number);
        const bool runs_follow = input_valid && observations_read && run_count > 0;
        log_file = runs_follow ? open_calibration_file(name) : nullptr;
        active = 1;
        if (!log_file && runs_follow) {
            std::printf("Error: unable to create the output file %s\n", name);
            input_valid = 0;
        }
    } else {
        active = 0;
    }
}

montecarlo::~montecarlo() {
    if (log_file) close_calibration_file(log_file, "log_file_p" + std::to_string(log_number) + ".log");
    if (observations) destroy_observation_set(*observations);
}

void montecarlo::montecarlo_read_input(const std::string &input_file) {
    input_valid = 0;
    input_name = input_file;
    std::FILE *input = std::fopen(input_file.c_str(), "r");
    if (!input) {
        std::printf("Error: unable to open the Monte Carlo input file %s\n", input_file.c_str());
        return;
    }
    const bool names_ok = read_file_name(input, project_file, 1) &
                          read_file_name(input, replace_list_file, 2) &
                          read_file_name(input, observation_file, 3);
    std::string line;
    read_line(line, input);
    next_int(line, n);
    if (!names_ok || n < 1) {
        if (names_ok)
            std::printf("Error: the Monte Carlo input file %s gives %d parameters on line 4; at "
                        "least one is needed.\n",
                        input_file.c_str(), n);
        n = 0;
        std::fclose(input);
        return;
    }
    // The bound lines are taken first, so that a count beyond the file sizes nothing.
    std::vector<std::array<double, 2>> bounds;
    for (int i = 1; i <= n; ++i) {
        std::array<double, 2> pair{};
        const bool read = read_line(line, input) != 0;
        // Both bounds must be given, each a whole finite number.
        std::string token;
        bool both = read;
        for (double &bound : pair)
            both = both && next_token(token, line) && whole_token_double(token, bound) &&
                   std::isfinite(bound);
        if (!both) {
            std::printf("Error: line %d of the Monte Carlo input file %s %s; it must hold the lower and "
                        "upper bound of parameter %d of %d.\n",
                        4 + i, input_file.c_str(),
                        read ? "holds a bound that is not a finite number, or one bound only"
                             : "is missing",
                        i, n);
            n = 0;
            std::fclose(input);
            return;
        }
        // Equal bounds fix the parameter; crossed ones give no range to draw from.
        if (pair[1] < pair[0]) {
            std::printf("Error: line %d of the Monte Carlo input file %s gives the upper bound %g "
                        "below the lower bound %g of parameter %d.\n",
                        4 + i, input_file.c_str(), pair[1], pair[0], i);
            n = 0;
            std::fclose(input);
            return;
        }
        bounds.push_back(pair);
    }
    std::fclose(input);
    if (alloc_1d_double(lower, n) != 0 || alloc_1d_double(upper, n) != 0 ||
        alloc_1d_double(x, n) != 0) {
        std::printf("Error: unable to allocate the %d parameters of the Monte Carlo input file %s\n", n,
                    input_file.c_str());
        n = 0;
        return;
    }
    for (std::size_t k = 1; k <= bounds.size(); ++k) {
        lower[k] = bounds[k - 1][0];
        upper[k] = bounds[k - 1][1];
    }
    input_valid = 1;
}

void montecarlo::montecarlo_draw() {
    for (int i = 0; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (!active || i == 0) {
            x[k] = 0.0;
            continue;
        }
        const double r = next_sample();
        x[k] = lower[k] + (r * 3.0517578125e-5) * (upper[k] - lower[k]);
    }
}

int montecarlo::montecarlo_run() {
    if (!input_valid) return 0;
    if (!observations_read) {
        std::printf("Error: unable to open the observation file for reading or problem while "
                    "reading it.\n");
        return 0;
    }
    if (run_count <= 0) {
        std::printf("No Monte Carlo run was made: the run count is %d.\n", run_count);
        return 0;
    }
    if (check_calibration_start(*observations, observation_file, replace_list_file) != 0) return 0;
    int scored = 0;
    for (int r = 1; r <= run_count; ++r) {
        montecarlo_draw();
        const double f = objective(replace_list_file, project_file, x.data(), *observations, n);
        montecarlo_log_run(f);
        scored += std::isfinite(f) && f < failed_run_score;
        // A score that is not a number counts as the worst: it is kept only
        // until a run scores a number.
        if (r == 1 || f < best_value || (std::isnan(best_value) && !std::isnan(f))) {
            best_value = f;
            for (int i = 1; i <= n; ++i) best_x[static_cast<std::size_t>(i)] = x[static_cast<std::size_t>(i)];
        }
    }
    return calibration_has_scored_runs(scored, input_name) ? 1 : 0;
}

void montecarlo::montecarlo_log_run(double value) {
    if (!active || !log_file) return;
    std::fprintf(log_file, "%lf:  ", value);
    for (int i = 1; i <= n; ++i) std::fprintf(log_file, "%lf ", x[static_cast<std::size_t>(i)]);
    std::fprintf(log_file, "\n");
    std::fflush(log_file);
}

void montecarlo::montecarlo_report_best() {
    std::fflush(stdout);
    if (!active) return;
    std::printf("\n\nBest objective function value: %lf\nParameters:\n ", best_value);
    for (int i = 1; i <= n; ++i) std::printf("%lf ", best_x[static_cast<std::size_t>(i)]);
    std::printf("\n");
    std::FILE *file = open_calibration_file("best.out");
    if (!file) {
        // The results are lost with the console: the run ends with status 1.
        std::printf("Warning: Unable to open the best.out file. Only printing results to stdout.\n");
        calibration_output_failed = 1;
        return;
    }
    std::fprintf(file, "%lf:  ", best_value);
    for (int i = 1; i <= n; ++i) std::fprintf(file, "%lf ", best_x[static_cast<std::size_t>(i)]);
    std::fprintf(file, "\n");
    close_calibration_file(file, "best.out");
}

int run_montecarlo_calibration(int batch_count, const std::string &input_file) {
    const int divisor = parallel_layout.montecarlo_divisor > 0 ? parallel_layout.montecarlo_divisor : 1;
    montecarlo sampler(batch_count / divisor, input_file);
    sampler.objective = calibration_objective;
    if (sampler.montecarlo_run() == 0) return 0;
    sampler.montecarlo_report_best();
    return 1;
}
