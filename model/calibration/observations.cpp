// Observations and scores of a calibration: the observation file reader, the HMLE
// statistic with its log "<run>_hmle.dat", the error, peak and volume statistics,
// the register of logged runs and the observation log "<run>_obs.log". Called by
// the mode entries (reading) and by the calibration objective after every run.
#include "model/calibration/observations.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>

#include "model/core/file_opener.h"
#include "model/core/line_reader.h"

namespace {

bool weighted(double weight) { return weight > observation_weight_threshold; }

// Observations 1..limit are compared: never past the end of a simulated list.
int compared_count(const observation_set &set, const std::vector<double> &a,
                   const std::vector<double> &b) {
    const std::size_t shortest = std::min(a.size(), b.size());
    const std::size_t available = shortest == 0 ? 0 : shortest - 1;
    const std::size_t n = set.observation_count > 0 ? static_cast<std::size_t>(set.observation_count) : 0;
    return static_cast<int>(std::min(n, available));
}

int compared_count(const observation_set &set, const std::vector<double> &a) {
    return compared_count(set, a, a);
}

std::string run_file(int run, const char *name) {
    char text[64];
    std::snprintf(text, sizeof text, "%d_%s", run, name);
    return text;
}

// Order of the registry lists: a value that is not a number counts as +infinity.
bool value_less(double a, double b) {
    const double x = std::isnan(a) ? HUGE_VAL : a;
    const double y = std::isnan(b) ? HUGE_VAL : b;
    return x < y;
}

void insert_ordered(std::vector<registry_entry> &list, double value, std::size_t run) {
    auto at = std::upper_bound(list.begin(), list.end(), value,
                               [](double v, const registry_entry &e) { return value_less(v, e.value); });
    list.insert(at, registry_entry{value, run});
}

// Largest observed peak (m3/s or cfs) and event volume (m3 or ft3) that an event
// can have: above the largest floods known. Beyond them the score's squares
// overflow.
constexpr double largest_observed_peak = 1e9;
constexpr double largest_observed_volume = 1e15;

bool refuse_unweighted_value(int i, const char *kind, double value, const std::string &file_name) {
    std::printf("Error: observation %d has a weighted %s of %lf; a weighted observed value "
                "must be above 0 (line %d of the observation file %s).\n",
                i, kind, value, i + 1, file_name.c_str());
    return false;
}

}  // namespace

int read_observation_file(observation_set &set, const std::string &file_name) {
    std::FILE *file = std::fopen(file_name.c_str(), "r");
    if (!file) {
        if (!file_name.empty()) std::printf("Error: unable to open the observation file %s\n", file_name.c_str());
        return -1;
    }
    std::string line;
    int n = 0;
    if (read_line(line, file)) next_int(line, n);
    if (n < 1 || n == INT_MAX) {
        std::printf("Error: line 1 of the observation file %s must hold the number of events "
                    "(1 or more).\n",
                    file_name.c_str());
        std::fclose(file);
        return -1;
    }
    // The lines are taken first, so that a count beyond the file sizes nothing.
    std::vector<std::array<double, 4>> rows;
    for (int i = 1; i <= n; ++i) {
        if (!read_line(line, file)) {
            std::printf("Error: the observation file %s ends before event %d of %d.\n",
                        file_name.c_str(), i, n);
            std::fclose(file);
            return -1;
        }
        std::array<double, 4> row{};
        // A missing value reads 0; text, nan or infinity is no value.
        bool all = true;
        std::string token;
        for (double &v : row) {
            next_token(token, line);
            if (!token.empty()) all = whole_token_double(token, v) && all;
        }
        if (!all || !std::all_of(row.begin(), row.end(), [](double v) { return std::isfinite(v); })) {
            std::printf("Error: line %d of the observation file %s holds a value that is not a "
                        "finite number.\n",
                        i + 1, file_name.c_str());
            std::fclose(file);
            return -1;
        }
        if (std::fabs(row[0]) > largest_observed_peak || std::fabs(row[2]) > largest_observed_volume) {
            std::printf("Error: line %d of the observation file %s holds a peak beyond %g or a "
                        "volume beyond %g, larger than any event.\n",
                        i + 1, file_name.c_str(), largest_observed_peak, largest_observed_volume);
            std::fclose(file);
            return -1;
        }
        if ((weighted(row[1]) && !(row[0] > 0.0) && !refuse_unweighted_value(i, "peak", row[0], file_name)) ||
            (weighted(row[3]) && !(row[2] > 0.0) && !refuse_unweighted_value(i, "volume", row[2], file_name))) {
            std::fclose(file);
            return -1;
        }
        rows.push_back(row);
    }
    std::fclose(file);
    if (alloc_1d_double(set.observed_peak, n) != 0 || alloc_1d_double(set.observed_volume, n) != 0 ||
        alloc_1d_double(set.peak_weight, n) != 0 || alloc_1d_double(set.volume_weight, n) != 0)
        return -1;
    for (int i = 1; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        const std::array<double, 4> &row = rows[k - 1];
        set.observed_peak[k] = row[0];
        set.peak_weight[k] = row[1];
        set.observed_volume[k] = row[2];
        set.volume_weight[k] = row[3];
    }
    set.observation_count = n;
    return 1;
}

int weighted_point_count(const observation_set &set) {
    int count = 0;
    for (int i = 1; i <= set.observation_count; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (weighted(set.peak_weight[k])) ++count;
        if (weighted(set.volume_weight[k])) ++count;
    }
    return count;
}

void compute_volume_scale(observation_set &set) {
    if (set.observation_count < 1) {
        set.volume_scale = 1.0;
        return;
    }
    double largest_peak = -1.0, largest_volume = -1.0;
    for (int i = 1; i <= set.observation_count; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        largest_peak = std::max(largest_peak, set.observed_peak[k]);
        largest_volume = std::max(largest_volume, set.observed_volume[k]);
    }
    // Without a positive largest volume (or peak) the ratio would divide by zero
    // or weight every volume by zero; the volumes are then taken unscaled.
    set.volume_scale =
        largest_volume > 0.0 && largest_peak > 0.0 ? largest_peak / largest_volume : 1.0;
}

double compute_hmle(int run, observation_set &set, const std::vector<double> &peaks,
                    const std::vector<double> &volumes) {
    std::FILE *log = std::fopen(run_file(run, "hmle.dat").c_str(), "a");
    compute_volume_scale(set);
    const double c = set.volume_scale;
    double hmle = -1.0;
    const int n = compared_count(set, peaks, volumes);
    int count = 0;
    double sum = 0.0;
    double sum_ln_w = 0.0;  // the product of the weights, taken as a sum of logarithms
    for (int i = 1; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (weighted(set.peak_weight[k])) {
            const double o = set.observed_peak[k], s = peaks[k];
            if (log) std::fprintf(log, "p:%lf, %lf  ", s, s - o);
            ++count;
            const double w = o * o;
            sum_ln_w += 2.0 * std::log(std::fabs(o));
            sum += w * (s - o) * (s - o);
        }
        if (weighted(set.volume_weight[k])) {
            const double o = set.observed_volume[k], s = volumes[k];
            if (log) std::fprintf(log, "v:%lf, %lf  ", s, s - o);
            ++count;
            const double oc = o * c;
            const double w = oc * oc;
            sum_ln_w += 2.0 * std::log(std::fabs(oc));
            sum += w * (s - o) * (s - o) * c * c;
            if (log) std::fprintf(log, "\n");
        }
    }
    if (count > 0) {
        const double top = sum / count;
        // The geometric mean of the weights: the count-th root of their product,
        // which itself would overflow for a few dozen observations near 100.
        const double bottom = std::exp(sum_ln_w / count);
        hmle = top / bottom;
        if (log) {
            std::fprintf(log, "Total Points: %d\n", count);
            std::fprintf(log, "top: %lf     bottom: %lf    hmle: %lf\n", top, bottom, hmle);
            std::fprintf(log, "-------------------------------------------------------------------------------\n");
        }
    }
    close_calibration_file(log, run_file(run, "hmle.dat"));
    return hmle;
}

double compute_rmse(observation_set &set, const std::vector<double> &peaks,
                    const std::vector<double> &volumes) {
    compute_volume_scale(set);
    const double c = set.volume_scale;
    const int n = compared_count(set, peaks, volumes);
    double sum = 0.0;
    for (int i = 1; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (weighted(set.peak_weight[k])) {
            const double d = peaks[k] - set.observed_peak[k];
            sum += d * d;
        }
        if (weighted(set.volume_weight[k])) {
            const double d = (volumes[k] - set.observed_volume[k]) * c;
            sum += d * d;
        }
    }
    return std::sqrt(sum);
}

namespace {

double largest_weighted(const array_1d<double> &weights, int n, const std::vector<double> &values) {
    double largest = -99999.999;
    for (int i = 1; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (weighted(weights[k]) && values[k] > largest) largest = values[k];
    }
    return largest;
}

}  // namespace

double max_simulated_peak(const observation_set &set, const std::vector<double> &peaks) {
    return largest_weighted(set.peak_weight, compared_count(set, peaks), peaks);
}

double max_simulated_volume(const observation_set &set, const std::vector<double> &volumes) {
    return largest_weighted(set.volume_weight, compared_count(set, volumes), volumes);
}

void register_run(run_registry &registry, const double *x, int n, double hmle, double error,
                  double peak, double volume) {
    logged_run run;
    run.hmle = hmle;
    run.error = error;
    run.peak = peak;
    run.volume = volume;
    run.n = n;
    if (x && n > 0) run.x.assign(x, x + n + 1);
    const std::size_t index = registry.runs.size();
    registry.runs.push_back(std::move(run));
    insert_ordered(registry.by_hmle, hmle, index);
    insert_ordered(registry.by_error, error, index);
    insert_ordered(registry.by_peak, peak, index);
    insert_ordered(registry.by_volume, volume, index);
}

void log_calibration_run(const std::vector<double> &peaks, const std::vector<double> &volumes,
                         observation_set &set, int run, int n, const double *x) {
    const double hmle = compute_hmle(run, set, peaks, volumes);
    const double error = compute_rmse(set, peaks, volumes);
    const double peak = max_simulated_peak(set, peaks);
    const double volume = max_simulated_volume(set, volumes);
    register_run(set.registry, x, n, hmle, error, peak, volume);

    std::FILE *log = std::fopen(run_file(run, "obs.log").c_str(), "a");
    if (!log) return;
    std::fprintf(log, "-------------------------------------------------------\n");
    std::fprintf(log, "Event    weight     peak       weight      volume\n");
    for (int i = 1; i <= set.observation_count; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        std::fprintf(log, "%-4d    %-4.2lf    %-8.2lf    %-4.2lf     %-10.2lf\n", i,
                     set.peak_weight[k], set.observed_peak[k], set.volume_weight[k],
                     set.observed_volume[k]);
    }
    std::fprintf(log, "\n\n");
    close_calibration_file(log, run_file(run, "obs.log"));
}

void destroy_observation_set(observation_set &set) {
    set.observed_peak.release();
    set.observed_volume.release();
    set.peak_weight.release();
    set.volume_weight.release();
    set.observation_count = 0;
    set.registry = run_registry{};
}
