// The SCE-UA search: the initial population, the evolution of each complex by
// simplex steps on sub-complexes, the shuffling, the reduction of the complex
// count, the three stop tests, the report and the evaluation log. Called by the
// "-c" entry and by the partition balancing after the optimiser is set up.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "model/calibration/sce_optimizer.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/calibration/sce_random.h"

namespace {

constexpr int history_length = 20;
// Redraws of a random point before it is drawn uniformly inside the bounds.
constexpr int redraw_limit = 1000;

// Work storage of one search: points are rows of n + 1 doubles (entry 0 unused).
struct sce_work {
    int n = 0;
    std::vector<double> population, criteria;  // population rows 1..points
    std::vector<double> complex_points, complex_criteria;
    std::vector<double> sub_points, sub_criteria;
    std::vector<int> positions;                 // chosen complex positions, 1-based
    std::vector<double> history;                // best criterion of the last 20 loops, 1..20
    std::vector<double> unit_spread, range, deviation, centroid, trial;
    std::vector<std::size_t> order;
    std::vector<double> sorted_points, sorted_criteria;
    int evaluations = 1;                        // count of the next evaluation
    double range_index = 0.0;
    bool converged = false;
};

double *row(std::vector<double> &points, int n, int i) {
    return points.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(n + 1);
}

void log_evaluation(sce_optimizer &opt, int count, double criterion, const double *x) {
    if (!opt.calibration || opt.log_off) return;
    if (!opt.log_file) {
        opt.log_file = open_calibration_file("log_file.txt");
        if (!opt.log_file) {
            std::printf("Error: unable to open the log file.\n");
            calibration_output_failed = 1;
            opt.log_off = 1;
            return;
        }
    }
    std::fprintf(opt.log_file, "%-5d  %8.3lf  : ", count, criterion);
    for (int j = 1; j <= opt.n; ++j) std::fprintf(opt.log_file, " %lf", x[j]);
    std::fprintf(opt.log_file, "\n");
    std::fflush(opt.log_file);
}

// One console line per model run of a calibration: the run, the limit of the
// search, its objective and the best so far (none when the project has QUIET).
void print_progress(sce_optimizer &opt, int count, double criterion) {
    if (!opt.calibration) return;
    if (count == 1 || criterion < opt.best_criterion) opt.best_criterion = criterion;
    if (calibration_run_quiet) return;
    std::printf("run %d (the search stops after %d trials): objective %.6g, best so far %.6g\n",
                count, opt.max_trials, criterion, opt.best_criterion);
    std::fflush(stdout);
}

// The criterion of a point: the absolute value of the objective, +infinity when
// that is not a number (so that such a point sorts last).
double evaluate(sce_optimizer &opt, sce_work &w, const double *x) {
    double f = 0.0;
    if (opt.calibration)
        f = opt.calibration_objective(opt.replace_list_file, opt.project_file, x, *opt.observations, opt.n);
    else
        f = opt.data_objective(x, opt.n, opt.data_a.data(), opt.data_b.data(), opt.data_count);
    double criterion = std::fabs(f);
    if (std::isnan(criterion)) criterion = HUGE_VAL;
    log_evaluation(opt, w.evaluations, criterion, x);
    print_progress(opt, w.evaluations, criterion);
    ++w.evaluations;
    return criterion;
}

// Mode 1 uniform, 2 Gaussian: x[j] = c[j] + s[j] r (upper - lower), drawn again
// until it lies inside the bounds.
void sce_random_point(sce_optimizer &opt, int mode, const double *spread, const double *centre,
                      double *x) {
    for (int j = 1; j <= opt.n; ++j) {
        const std::size_t k = static_cast<std::size_t>(j);
        const double lo = opt.lower[k], hi = opt.upper[k];
        bool inside = false;
        for (int attempt = 0; attempt < redraw_limit && !inside; ++attempt) {
            const double r = mode == 2 ? sce_gaussian(opt.generator_state) : sce_uniform(opt.generator_state);
            x[j] = centre[j] + spread[j] * r * (hi - lo);
            inside = lo <= x[j] && x[j] <= hi;
        }
        if (!inside) x[j] = lo + sce_uniform(opt.generator_state) * (hi - lo);
    }
}

// Sorts rows 1..count of points by criterion, ascending; equal criteria keep order.
void sort_points(sce_work &w, std::vector<double> &points, std::vector<double> &criteria, int count) {
    const int n = w.n;
    w.order.resize(static_cast<std::size_t>(count));
    std::iota(w.order.begin(), w.order.end(), std::size_t{1});
    std::stable_sort(w.order.begin(), w.order.end(),
                     [&](std::size_t a, std::size_t b) { return criteria[a] < criteria[b]; });
    const std::size_t width = static_cast<std::size_t>(n + 1);
    w.sorted_points.assign(points.begin(), points.begin() + static_cast<std::ptrdiff_t>((count + 1) * width));
    w.sorted_criteria.assign(criteria.begin(), criteria.begin() + count + 1);
    for (int i = 1; i <= count; ++i) {
        const std::size_t from = w.order[static_cast<std::size_t>(i - 1)];
        std::copy_n(w.sorted_points.begin() + static_cast<std::ptrdiff_t>(from * width), width,
                    points.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(i) * width));
        criteria[static_cast<std::size_t>(i)] = w.sorted_criteria[from];
    }
}

void parameter_stats(sce_optimizer &opt, sce_work &w, int points) {
    const int n = opt.n;
    double log_sum = 0.0;
    for (int k = 1; k <= n; ++k) {
        const std::size_t kk = static_cast<std::size_t>(k);
        double largest = -HUGE_VAL, smallest = HUGE_VAL, sum = 0.0, squares = 0.0;
        for (int i = 1; i <= points; ++i) {
            const double v = row(w.population, n, i)[k];
            largest = std::max(largest, v);
            smallest = std::min(smallest, v);
            sum += v;
            squares += v * v;
        }
        const double mean = sum / points;
        double variance = squares / points - mean * mean;
        if (variance <= 1e-20) variance = 1e-20;
        opt.maxima[kk] = largest;
        opt.minima[kk] = smallest;
        opt.means[kk] = mean;
        w.deviation[kk] = std::sqrt(variance) / w.range[kk];
        log_sum += std::log(1e-20 + (largest - smallest) / w.range[kk]);
    }
    w.range_index = std::exp(log_sum / n);
    w.converged = w.range_index <= 0.001;
}

// Simplex step on the sub-complex: reflection, contraction, or a random point.
void simplex_step(sce_optimizer &opt, sce_work &w) {
    const int n = opt.n, q = opt.subcomplex_size;
    double *worst = row(w.sub_points, n, q);
    const double worst_f = w.sub_criteria[static_cast<std::size_t>(q)];
    double *ce = w.centroid.data();
    double *x = w.trial.data();
    for (int j = 1; j <= n; ++j) {
        double sum = 0.0;
        for (int i = 1; i < q; ++i) sum += row(w.sub_points, n, i)[j];
        ce[j] = sum / (q - 1);
    }
    bool outside = false;
    for (int j = 1; j <= n; ++j) {
        const std::size_t k = static_cast<std::size_t>(j);
        x[j] = 2.0 * ce[j] - worst[j];
        if (x[j] < opt.lower[k] || x[j] > opt.upper[k]) outside = true;
    }
    if (outside) sce_random_point(opt, 2, w.deviation.data(), ce, x);
    double f = evaluate(opt, w, x);
    if (!(f <= worst_f)) {
        for (int j = 1; j <= n; ++j) x[j] = ce[j] - 0.5 * (ce[j] - worst[j]);
        f = evaluate(opt, w, x);
        if (!(f <= worst_f)) {
            sce_random_point(opt, 2, w.deviation.data(), ce, x);
            f = evaluate(opt, w, x);
        }
    }
    std::copy(x + 1, x + n + 1, worst + 1);
    w.sub_criteria[static_cast<std::size_t>(q)] = f;
}

// Chooses subcomplex_size distinct positions of the complex (better points more
// often), ascending.
void choose_positions(sce_optimizer &opt, sce_work &w) {
    const int m = opt.complex_size, q = opt.subcomplex_size;
    std::vector<int> &pos = w.positions;
    if (q == m) {
        for (int i = 1; i <= q; ++i) pos[static_cast<std::size_t>(i)] = i;
        return;
    }
    const double a = m + 0.5;
    for (int i = 1; i <= q; ++i) {
        int chosen = 0;
        bool taken = true;
        while (taken) {
            const double r = sce_uniform(opt.generator_state);
            chosen = 1 + static_cast<int>(a - std::sqrt(a * a - m * (m + 1.0) * r));
            if (chosen > m) chosen = m;
            taken = std::find(pos.begin() + 1, pos.begin() + i, chosen) != pos.begin() + i;
        }
        pos[static_cast<std::size_t>(i)] = chosen;
    }
    std::sort(pos.begin() + 1, pos.begin() + q + 1);
}

void copy_point(const double *from, double *to, int n) { std::copy(from + 1, from + n + 1, to + 1); }

void evolve_complex(sce_optimizer &opt, sce_work &w, int igs) {
    const int n = opt.n, m = opt.complex_size, q = opt.subcomplex_size, p = opt.complex_count;
    for (int k1 = 1; k1 <= m; ++k1) {
        const int at = (k1 - 1) * p + igs;
        copy_point(row(w.population, n, at), row(w.complex_points, n, k1), n);
        w.complex_criteria[static_cast<std::size_t>(k1)] = w.criteria[static_cast<std::size_t>(at)];
    }
    for (int step = 1; step <= opt.evolution_steps; ++step) {
        choose_positions(opt, w);
        for (int i = 1; i <= q; ++i) {
            const int at = w.positions[static_cast<std::size_t>(i)];
            copy_point(row(w.complex_points, n, at), row(w.sub_points, n, i), n);
            w.sub_criteria[static_cast<std::size_t>(i)] = w.complex_criteria[static_cast<std::size_t>(at)];
        }
        simplex_step(opt, w);
        for (int i = 1; i <= q; ++i) {
            const int at = w.positions[static_cast<std::size_t>(i)];
            copy_point(row(w.sub_points, n, i), row(w.complex_points, n, at), n);
            w.complex_criteria[static_cast<std::size_t>(at)] = w.sub_criteria[static_cast<std::size_t>(i)];
        }
        sort_points(w, w.complex_points, w.complex_criteria, m);
    }
    for (int k1 = 1; k1 <= m; ++k1) {
        const int at = (k1 - 1) * p + igs;
        copy_point(row(w.complex_points, n, k1), row(w.population, n, at), n);
        w.criteria[static_cast<std::size_t>(at)] = w.complex_criteria[static_cast<std::size_t>(k1)];
    }
}

// Point (ipg - 1) new + igs of the new population is point (ipg - 1) old + igs of
// the old one; the points of the last complex are dropped.
void reduce_complexes(sce_optimizer &opt, sce_work &w, int old_count) {
    const int n = opt.n, m = opt.complex_size, new_count = old_count - 1;
    w.sorted_points = w.population;
    w.sorted_criteria = w.criteria;
    for (int igs = 1; igs <= new_count; ++igs)
        for (int ipg = 1; ipg <= m; ++ipg) {
            const int to = (ipg - 1) * new_count + igs, from = (ipg - 1) * old_count + igs;
            copy_point(row(w.sorted_points, n, from), row(w.population, n, to), n);
            w.criteria[static_cast<std::size_t>(to)] = w.sorted_criteria[static_cast<std::size_t>(from)];
        }
}

void write_point_lines(sce_optimizer &opt, const double *x, const char *format) {
    const int n = opt.n;
    for (int j = 1; j <= std::min(n, 8); ++j) sce_report(opt, format, x[j]);
    sce_report(opt, "\n");
    if (n >= 9) {
        for (int j = 9; j <= n; ++j) sce_report(opt, "%10.3lf ", x[j]);
        sce_report(opt, "\n");
    }
}

void report_loop(sce_optimizer &opt, sce_work &w, int loop, int points) {
    const int n = opt.n;
    sce_report(opt, "%5d %5d   %5d %10.3lf %10.3lf %10.3lf\n", loop, w.evaluations, opt.complex_count,
               w.criteria[1], w.criteria[static_cast<std::size_t>(points)], w.range_index);
    write_point_lines(opt, row(w.population, n, 1), "%10.3lf ");
    if (opt.print_population != 1) return;
    sce_report(opt, " POPULATION AT LOOP %d\n", loop);
    for (int i = 1; i <= points; ++i) {
        sce_report(opt, "%10.5lf ", w.criteria[static_cast<std::size_t>(i)]);
        write_point_lines(opt, row(w.population, n, i), "%10.5lf ");
    }
}

void size_work(sce_work &w, int n, int points, int complex_size, int subcomplex_size) {
    const std::size_t width = static_cast<std::size_t>(n + 1);
    w.n = n;
    w.population.assign((static_cast<std::size_t>(points) + 1) * width, 0.0);
    w.criteria.assign(static_cast<std::size_t>(points) + 1, 0.0);
    w.complex_points.assign((static_cast<std::size_t>(complex_size) + 1) * width, 0.0);
    w.complex_criteria.assign(static_cast<std::size_t>(complex_size) + 1, 0.0);
    w.sub_points.assign((static_cast<std::size_t>(subcomplex_size) + 1) * width, 0.0);
    w.sub_criteria.assign(static_cast<std::size_t>(subcomplex_size) + 1, 0.0);
    w.positions.assign(static_cast<std::size_t>(subcomplex_size) + 1, 0);
    w.history.assign(history_length + 1, 0.0);
    w.unit_spread.assign(width, 1.0);
    w.range.assign(width, 0.0);
    w.deviation.assign(width, 0.0);
    w.centroid.assign(width, 0.0);
    w.trial.assign(width, 0.0);
}

}  // namespace

int SCEUA(sce_optimizer &opt) {
    if (!opt.input_valid) {
        std::printf("Error: unable to successfully setup SCE-UA. Unable to run.\n");
        return -1;
    }
    const int n = opt.n;
    sce_work w;
    size_work(w, n, opt.complex_size * opt.complex_count, opt.complex_size, opt.subcomplex_size);

    std::printf(" ENTER THE SCEUA SUBROUTINE --- \n");
    opt.generator_state = opt.seed == INT_MIN ? -INT_MAX : -std::abs(opt.seed);
    int points = opt.complex_size * opt.complex_count;
    sce_report(opt, "ENTER THE SHUFFLED COMPLEX EVOLUTION GLOBAL SEARCH\n");
    int loop = 0;
    std::printf(" ***  Evolution Loop Number %d\n", loop);
    for (int k = 1; k <= n; ++k) {
        const std::size_t kk = static_cast<std::size_t>(k);
        w.range[kk] = opt.upper[kk] - opt.lower[kk];
    }
    if (opt.max_trials < points) {
        std::printf("Error: maximum number of function calls less than the number of points\n");
        if (!opt.input_file.empty())
            std::printf("  (file %s: %d calls on the first line, %d points)\n", opt.input_file.c_str(),
                        opt.max_trials, points);
        return -1;
    }

    for (int i = 1; i <= points; ++i) {
        double *x = row(w.population, n, i);
        if (i == 1 && opt.start_at_initial == 1)
            copy_point(opt.initial.data(), x, n);
        else
            sce_random_point(opt, 1, w.unit_spread.data(), opt.lower.data(), x);
        w.criteria[static_cast<std::size_t>(i)] = evaluate(opt, w, x);
    }
    sort_points(w, w.population, w.criteria, points);
    parameter_stats(opt, w, points);

    if (w.evaluations < opt.max_trials && !w.converged) {
        for (;;) {
            ++loop;
            std::printf(" ***  Evolution Loop Number %d\n", loop);
            for (int igs = 1; igs <= opt.complex_count; ++igs) evolve_complex(opt, w, igs);
            sort_points(w, w.population, w.criteria, points);
            parameter_stats(opt, w, points);
            report_loop(opt, w, loop, points);

            if (w.evaluations >= opt.max_trials) {
                sce_report(opt, " *** OPTIMIZATION SEARCH TERMINATED BECAUSE THE LIMIT ON THE\n");
                sce_report(opt, " MAXIMUM NUMBER OF TRIALS %d EXCEEDED.  SEARCH WAS STOPPED AT\n", opt.max_trials);
                sce_report(opt, " SUB-COMPLEX %d OF COMPLEX %d IN SHUFFLING LOOP %d ***\n", 0,
                           opt.complex_count + 1, loop);
                break;
            }
            w.history[history_length] = w.criteria[1];
            if (loop >= opt.kstop + 1) {
                const double older = w.history[static_cast<std::size_t>(history_length - opt.kstop)];
                const double newest = w.history[history_length];
                const double denominator = std::fabs(older + newest) * 0.5;
                // Both zero: the change is not defined and the search goes on.
                if (denominator > 0.0 && std::fabs(older - newest) / denominator < opt.min_change) {
                    sce_report(opt, " *** OPTIMIZATION TERMINATED BECAUSE THE CRITERION VALUE HAS NOT\n");
                    sce_report(opt, " CHANGED %5.2lf PERCENT IN %5d SHUFFLING LOOPS ***\n",
                               opt.min_change * 100.0, opt.kstop);
                    break;
                }
            }
            std::copy(w.history.begin() + 2, w.history.end(), w.history.begin() + 1);
            if (w.converged) {
                sce_report(opt, " *** OPTIMIZATION TERMINATED BECAUSE THE POPULATION HAS CONVERGED INTO\n");
                sce_report(opt, "    %5.2lf PERCENT OF THE FEASIBLE SPACE ***\n", w.range_index * 100.0);
                break;
            }
            if (opt.complex_count > opt.min_complex_count) {
                reduce_complexes(opt, w, opt.complex_count);
                --opt.complex_count;
                points = opt.complex_count * opt.complex_size;
            }
        }
    }

    for (int j = 1; j <= n; ++j) opt.best[static_cast<std::size_t>(j)] = row(w.population, n, 1)[j];
    opt.best[static_cast<std::size_t>(n + 1)] = w.criteria[1];
    sce_report(opt, " *** PRINT THE FINAL PARAMETER ESTIMATE AND ITS CRITERION VALUE ***\n");
    sce_report(opt, "%lf ", w.criteria[1]);
    for (int j = 1; j <= std::min(n, 12); ++j) sce_report(opt, "%lf ", opt.best[static_cast<std::size_t>(j)]);
    sce_report(opt, "\n");
    return w.evaluations;
}
