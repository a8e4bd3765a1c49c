// The driver of MODE "cmaes" and "cmaesrbf", called by calibration_main: each
// candidate's fitness is phi of one model run; with "cmaesrbf" a cubic RBF fitted
// to the archive of evaluated points ranks a generation and only batches of the
// best-ranked candidates are run through the model.
#include "calibrator/cmaes/cmaes_driver.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "calibrator/cmaes/rbf.h"
#include "calibrator/engine/model_run.h"
#include "calibrator/engine/numeric/numeric.h"
#include "calibrator/engine/reports.h"
#include "calibrator/engine/result_files.h"
#include "calibrator/engine/start_up_services.h"

namespace {

std::size_t uz(int i) { return static_cast<std::size_t>(i); }

// Everything one evaluation needs besides the candidate, and the record of
// what the model runs returned.
struct evaluation_context {
    control_data &cd;
    const file_names &names;
    template_file_table &templates;
    instruction_file_table &instructions;
    double *fitness;         // the optimiser's public fitness array
    rbf_archive *archive;    // null for "cmaes"
    long runs = 0;           // model runs made
    long failed_runs = 0;    // runs that returned no function value
    double best_phi = std::numeric_limits<double>::quiet_NaN();  // lowest returned phi
    std::vector<double> best_x;  // its candidate
    long best_run = 0;           // and the run that returned it
    std::vector<char> failed;    // per candidate of the generation
    std::vector<double> best_model_values;  // 1-based: the outputs of the best run
};

// Puts the coordinates into the adjustable parameters, in table order, and
// follows them with the tied ones.
void set_parameter_values(control_data &cd, const double *x) {
    int k = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind == 0) cd.parameters[p].value = x[k++];
    }
    if (cd.tied_count > 0) recompute_tied_values(cd);
}

// One model run for candidate c; its phi becomes the candidate's fitness, a
// returned value of the optimiser and, with an archive, an archive point. A run
// that fails or gives a phi that is not finite marks the candidate as failed;
// returns false then.
bool evaluate_candidate(evaluation_context &ctx, cmaes_t &evo, int c) {
    const double *x = evo.population[uz(c)].data();
    set_parameter_values(ctx.cd, x);
    ++ctx.runs;
    calib_status status = run_model_once(ctx.cd, ctx.names, base_values, ctx.templates,
                                         ctx.instructions, false);
    double phi = 0.0;
    if (status == 0) status = measurement_phi(ctx.cd, base_values, phi);
    if (status == 0 && !std::isfinite(phi)) {
        std::printf("\nThe objective function of candidate %d is not finite (%g).\n", c, phi);
        status = 1;
    }
    if (status != 0) {
        std::printf("Candidate %d (model run %ld) has no function value; it ranks last in its generation.\n",
                    c, ctx.runs);
        ctx.failed[uz(c)] = 1;
        ++ctx.failed_runs;
        return false;
    }
    std::printf("For i = %d, fitness value = %lf\n", c, phi);
    ctx.fitness[c] = phi;
    evo.evaluated[uz(c)] = 1;
    if (!(phi >= ctx.best_phi)) {
        ctx.best_phi = phi;
        ctx.best_x.assign(x, x + ctx.cd.adjustable_count);
        ctx.best_run = ctx.runs;
        ctx.best_model_values.assign(uz(ctx.cd.observation_count) + 1, 0.0);
        for (int k = 1; k <= ctx.cd.observation_count; ++k) {
            ctx.best_model_values[uz(k)] = ctx.cd.observations[k].model_value[base_values];
        }
    }
    if (ctx.archive != nullptr) rbf_archive_add(*ctx.archive, x, phi);
    return true;
}

// Gives each failed candidate of the generation the worst fitness of the
// others, so that it ranks last and the search goes on. False when no
// candidate of the generation has a fitness.
bool rank_failed_last(evaluation_context &ctx, int popsize) {
    double worst = 0.0;
    bool any = false;
    for (int c = 0; c < popsize; ++c) {
        if (ctx.failed[uz(c)] != 0) continue;
        if (!any || ctx.fitness[c] > worst) worst = ctx.fitness[c];
        any = true;
    }
    for (int c = 0; c < popsize && any; ++c) {
        if (ctx.failed[uz(c)] != 0) ctx.fitness[c] = worst;
    }
    return any;
}

// The optimiser's best-ever record follows the lowest phi a model run
// returned, with the number of that run.
void record_best_ever(const evaluation_context &ctx, cmaes_t &evo) {
    const int N = ctx.cd.adjustable_count;
    if (ctx.best_run == 0) return;
    for (int k = 0; k < N; ++k) evo.xbestever[uz(k)] = ctx.best_x[uz(k)];
    evo.xbestever[uz(N)] = ctx.best_phi;
    evo.xbestever[uz(N + 1)] = static_cast<double>(ctx.best_run);
    evo.has_bestever = 1;
}

// Draws candidate c again while it lies outside the bounds, at most
// cmaes_resample_limit times. Status 1 names the parameter still outside.
calib_status draw_inside_bounds(cmaes_t &evo, const control_data &cd, int c) {
    int draws = 0;
    while (cmaes_candidate_in_bounds(evo, cd, c) == 0) {
        if (draws == cmaes_resample_limit) {
            const double *x = evo.population[uz(c)].data();
            int k = 0;
            for (int p = 1; p <= cd.parameter_count; ++p) {
                int kind = 0;
                parameter_kind(cd, p, kind);
                if (kind != 0) continue;
                const parameter_data &par = cd.parameters[p];
                if (x[k] < par.lower_bound || x[k] > par.upper_bound) {
                    std::printf("\nCandidate %d is still outside the bounds of parameter \"%s\" "
                                "(%g to %g) after %d draws.\n",
                                c, par.name.c_str(), par.lower_bound, par.upper_bound, draws);
                    break;
                }
                ++k;
            }
            return 1;
        }
        cmaes_ReSampleSingle(evo, c);
        ++draws;
    }
    return 0;
}

// Predictions of every candidate from the current archive into a.predictions.
// A local fit that fails falls back on its nearest point, so the status of the
// fits is not passed on.
void predict_population(rbf_archive &a, const cmaes_t &evo, const control_data &cd) {
    for (int c = 0; c < a.popsize; ++c) {
        (void)rbf_archive_predict(a, evo.population[uz(c)].data(), cd, a.predictions[c + 1]);
    }
}

bool was_evaluated(const rbf_archive &a, int c) {
    for (int i = 1; i <= a.evaluated_count; ++i) {
        if (a.evaluated[i] == c) return true;
    }
    return false;
}

// The archive, the candidates and their predictions at generation 20.
void write_surrogate_test_files(const rbf_archive &a, const cmaes_t &evo) {
    const int n = rbf_archive_size(a);
    const int N = a.dimension;
    std::FILE *fx = std::fopen("rbftestx.prn", "w");
    std::FILE *fy = std::fopen("rbftesty.prn", "w");
    std::FILE *fs = std::fopen("rbftest_xsample.prn", "w");
    std::FILE *ff = std::fopen("rbftest_fmodel.prn", "w");
    if (fx == nullptr || fy == nullptr || fs == nullptr || ff == nullptr) {
        std::printf("\nCannot open the surrogate test files rbftest*.prn for writing; they are not written.\n");
    } else {
        for (int j = 1; j <= n; ++j) {
            for (int k = 1; k <= N; ++k) std::fprintf(fx, "%.16lf\t", a.points(j, k));
            std::fprintf(fx, "\n");
            std::fprintf(fy, "%.16lf\n", a.fitness[j]);
        }
        for (int c = 0; c < a.popsize; ++c) {
            for (int k = 0; k < N; ++k) std::fprintf(fs, "%.16lf\t", evo.population[uz(c)][uz(k)]);
            std::fprintf(ff, "%.16lf\n", a.predictions[c + 1]);
        }
    }
    for (std::FILE *f : {fx, fy, fs, ff}) {
        if (f != nullptr) std::fclose(f);
    }
}

// One generation of "cmaesrbf" from an archive of at least the screening count:
// ranks the candidates by prediction, evaluates them in rank order in batches,
// gives the others their predicted fitness (not a returned value), and adapts
// the first batch size b.
void screen_generation(evaluation_context &ctx, cmaes_t &evo, int generation, int E, int &b) {
    rbf_archive &a = *ctx.archive;
    const int popsize = a.popsize;
    const int half = static_cast<int>(popsize * 0.5);
    predict_population(a, evo, ctx.cd);
    if (generation == 20) write_surrogate_test_files(a, evo);
    indexx(popsize, a.predictions, a.ranking);
    for (int r = 1; r <= popsize; ++r) a.previous_ranking[r] = a.ranking[r];

    int passes = 0;
    int end = 0;
    for (;;) {
        const int start = end;
        end = cmaes_batch_end(passes + 1, end, b, E, popsize);
        if (end == 0) break;
        ++passes;
        for (int r = start; r < end; ++r) {
            const int c = a.ranking[r + 1] - 1;
            (void)evaluate_candidate(ctx, evo, c);
            a.evaluated[++a.evaluated_count] = c;
        }
        for (int c = 0; c < popsize; ++c) {
            if (was_evaluated(a, c)) continue;
            ctx.fitness[c] = a.predictions[c + 1];
            std::printf("For i = %d, fitness value = %lf, 9999999999999\n", c, ctx.fitness[c]);
        }
        if (end == popsize) break;
        predict_population(a, evo, ctx.cd);
        indexx(popsize, a.predictions, a.new_ranking);
        int same = 0;
        for (int r = 1; r <= half; ++r) {
            if (a.new_ranking[r] == a.previous_ranking[r]) ++same;
        }
        for (int r = 1; r <= popsize; ++r) a.previous_ranking[r] = a.new_ranking[r];
        if (same == half) break;
    }
    a.evaluated_count = 0;
    b = cmaes_next_batch_size(b, E, passes, popsize);
}

// Every parameter's stored value at the best candidate (1-based over all
// parameters, tied ones from their parents).
std::vector<double> best_values(evaluation_context &ctx) {
    control_data &cd = ctx.cd;
    // Without a model run the values are those of the start.
    if (ctx.best_run > 0) set_parameter_values(cd, ctx.best_x.data());
    std::vector<double> values(uz(cd.parameter_count) + 1, 0.0);
    for (int p = 1; p <= cd.parameter_count; ++p) values[uz(p)] = cd.parameters[p].value;
    return values;
}

void note_write(std::FILE *f) {
    if (std::fflush(f) != 0 || std::ferror(f)) result_file_write_failed(f);
}

// The observations at the best run, the calculated values and residuals to
// the precision of each measurement.
void write_observation_table(std::FILE *record, const control_data &cd, const std::vector<double> &model) {
    std::fprintf(record, "\nObservations at the best parameters ----->\n\n");
    std::fprintf(record, "Observation            Measured       Calculated     Residual       Weight     Group\n");
    for (int i = 1; i <= cd.observation_count; ++i) write_observation_row(record, cd.observations[i], model[uz(i)]);
}

// The results of a search that ended normally: the parameter value file holds
// the best evaluated parameters; the run record the stop, the model runs, the
// best phi with its parameters and observations, and the final search
// distribution; the matrix file its covariance; the sensitivity file says
// that the method takes no derivatives.
void write_cmaes_results(evaluation_context &ctx, const cmaes_t &evo, const std::string &stop_text,
                         int generations, std::FILE *record, std::FILE *sensitivity, std::FILE *matrix,
                         std::FILE *parameter_values) {
    control_data &cd = ctx.cd;
    const int N = cd.adjustable_count;
    const std::vector<double> values = best_values(ctx);
    write_parameter_value_file(parameter_values, cd, values);

    std::fprintf(record, "                            CMA-ES SEARCH RECORD (MODE %s)\n\n", cd.mode.c_str());
    std::fprintf(record, "Stop:\n%s\n\n", stop_text.c_str());
    std::fprintf(record, "Generations:\t%d\n", generations - 1);
    std::fprintf(record, "Total Model Calls:\t%ld\n", ctx.runs);
    std::fprintf(record, "Model runs that gave no function value:\t%ld\n\n", ctx.failed_runs);
    if (ctx.best_run > 0) {
        std::fprintf(record, "Lowest objective function a model run returned (model run %ld):\n", ctx.best_run);
        std::fprintf(record, "Sum of squared weighted residuals (ie phi)\t\t: %E\n\n", ctx.best_phi);
    } else {
        std::fprintf(record, "No model run returned a function value: the values below are those of the start.\n\n");
    }
    std::fprintf(record, "Parameter        Best value        Search mean       Search standard deviation\n");
    std::fprintf(record, "                                   (stored units: log10 of a log-transformed parameter)\n");
    int k = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        const parameter_data &par = cd.parameters[p];
        if (kind != 0) {
            std::fprintf(record, "%-16s %-17s (%s)\n", par.name.c_str(),
                         parameter_value_text(native_value(par, values[uz(p)])).c_str(), par.transform.c_str());
            continue;
        }
        const double sd = evo.sigma * std::sqrt(evo.C[uz(k)][uz(k)]);
        std::fprintf(record, "%-16s %-17s %-17.9E %.9E\n", par.name.c_str(),
                     parameter_value_text(native_value(par, values[uz(p)])).c_str(), evo.xmean[uz(k)], sd);
        ++k;
    }
    if (ctx.best_run > 0) write_observation_table(record, cd, ctx.best_model_values);
    note_write(record);

    std::fprintf(sensitivity, "The CMA-ES search (MODE %s) takes no derivatives: it has no sensitivities.\n",
                 cd.mode.c_str());
    std::fprintf(sensitivity, "Its best parameters are in %s, its record in %s.\n",
                 ctx.names.parameter_value_name.c_str(), ctx.names.record_name.c_str());
    note_write(sensitivity);

    std::fprintf(matrix, "Covariance matrix of the final search distribution (sigma^2 C, stored units) ----->\n\n");
    std::vector<std::string> names;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind == 0) names.push_back(cd.parameters[p].name);
    }
    std::fprintf(matrix, "%-16s", "");
    for (const std::string &n : names) std::fprintf(matrix, " %-16s", n.c_str());
    std::fprintf(matrix, "\n");
    for (int i = 0; i < N; ++i) {
        std::fprintf(matrix, "%-16s", names[uz(i)].c_str());
        for (int j = 0; j < N; ++j) {
            const double c = i >= j ? evo.C[uz(i)][uz(j)] : evo.C[uz(j)][uz(i)];
            std::fprintf(matrix, " %-16.9E", evo.sigma * evo.sigma * c);
        }
        std::fprintf(matrix, "\n");
    }
    note_write(matrix);
}

}  // namespace

int cmaes_candidate_in_bounds(const cmaes_t &evo, const control_data &cd, int member) {
    const cmaes_vector &x = evo.population[uz(member)];
    int k = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind != 0) continue;
        const parameter_data &par = cd.parameters[p];
        const double v = x[uz(k++)];
        if (!(v >= par.lower_bound && v <= par.upper_bound)) return 0;
    }
    return 1;
}

void rbf_archive_create(rbf_archive &a, int dimension, int popsize) {
    a = rbf_archive{};
    a.dimension = dimension;
    a.popsize = popsize;
    a.points = dmatrix(1, rbf_archive_limit, 1, dimension + 1);
    a.fitness = dvector(1, rbf_archive_limit);
    a.next_free = 1;
    a.coefficients = dvector(1, dimension + rbf_archive_limit + 1);
    a.work = dvector(1, dimension);
    a.predictions = dvector(1, popsize);
    a.ranking = ivector(1, popsize);
    a.previous_ranking = ivector(1, popsize);
    a.new_ranking = ivector(1, popsize);
    a.evaluated = ivector(1, popsize);
    a.evaluated_count = 0;
    a.distances = dvector(1, rbf_archive_limit);
    a.order = ivector(1, rbf_archive_limit);
    a.nearest_limit = rbf_centre_count(dimension);
    a.nearest = dmatrix(1, a.nearest_limit, 1, dimension + 1);
    a.nearest_fitness = dvector(1, a.nearest_limit);
}

void rbf_archive_release(rbf_archive &a) {
    const int N = a.dimension;
    free_dmatrix(a.points, 1, rbf_archive_limit, 1, N + 1);
    free_dvector(a.fitness, 1, rbf_archive_limit);
    free_dvector(a.coefficients, 1, N + rbf_archive_limit + 1);
    free_dvector(a.work, 1, N);
    free_dvector(a.predictions, 1, a.popsize);
    free_ivector(a.ranking, 1, a.popsize);
    free_ivector(a.previous_ranking, 1, a.popsize);
    free_ivector(a.new_ranking, 1, a.popsize);
    free_ivector(a.evaluated, 1, a.popsize);
    free_dvector(a.distances, 1, rbf_archive_limit);
    free_ivector(a.order, 1, rbf_archive_limit);
    free_dmatrix(a.nearest, 1, a.nearest_limit, 1, N + 1);
    free_dvector(a.nearest_fitness, 1, a.nearest_limit);
    a.next_free = 1;
    a.evaluated_count = 0;
}

int rbf_archive_add(rbf_archive &a, const double *x, double fitness) {
    int row = a.next_free;
    if (row > rbf_archive_limit) {
        // Full: the point farthest from the new one gives way, so the local
        // fits around the search keep drawing on its latest points.
        double farthest = -1.0;
        for (int j = 1; j <= rbf_archive_limit; ++j) {
            double d = 0.0;
            for (int k = 1; k <= a.dimension; ++k) {
                const double e = a.points(j, k) - x[k - 1];
                d += e * e;
            }
            if (d > farthest) {
                farthest = d;
                row = j;
            }
        }
        ++a.replaced;
    } else {
        ++a.next_free;
    }
    for (int k = 1; k <= a.dimension; ++k) a.points(row, k) = x[k - 1];
    a.fitness[row] = fitness;
    return row;
}

calib_status rbf_archive_predict(rbf_archive &a, const double *x, const control_data &cd,
                                 double &prediction) {
    const int n = rbf_archive_size(a);
    const int N = a.dimension;
    prediction = 0.0;
    if (n < 1) return 1;
    for (int j = 1; j <= n; ++j) {
        double s = 0.0;
        for (int k = 1; k <= N; ++k) {
            const double d = a.points(j, k) - x[k - 1];
            s += d * d;
        }
        a.distances[j] = std::sqrt(s);
    }
    indexx(n, a.distances, a.order);
    const int L = n < a.nearest_limit ? n : a.nearest_limit;
    for (int i = 1; i <= L; ++i) {
        const int j = a.order[i];
        for (int k = 1; k <= N; ++k) a.nearest(i, k) = a.points(j, k);
        a.nearest_fitness[i] = a.fitness[j];
    }
    for (int k = 1; k <= N; ++k) a.work[k] = x[k - 1];
    const calib_status status = rbf_fit(a.nearest, a.nearest_fitness, a.coefficients, L, cd);
    if (status == 0) prediction = rbf_evaluate(a.coefficients, a.nearest, a.work, L, cd);
    if (status != 0 || !std::isfinite(prediction)) {
        // No regular fit through these points: the nearest evaluated point's
        // fitness is the best guess, never the zero of empty coefficients.
        prediction = a.nearest_fitness[1];
    }
    return status;
}

int cmaes_batch_step(int popsize) {
    const int step = static_cast<int>(0.1 * popsize);
    return step > 1 ? step : 1;
}

int cmaes_batch_end(int pass, int previous_end, int b, int E, int popsize) {
    const int end = pass == 1 ? b : previous_end + E;
    return end < popsize ? end : popsize;
}

int cmaes_next_batch_size(int b, int E, int passes, int popsize) {
    if (passes == 1) return b - E > E ? b - E : E;
    if (passes >= 3) return b + E < popsize - E ? b + E : popsize - E;
    return b;
}

calib_status run_cmaes(int /*argc*/, char * /*argv*/[], control_data &cd, file_names names,
                       std::FILE *record, std::FILE *sensitivity, std::FILE *matrix,
                       std::FILE *parameter_values, template_file_table &templates,
                       instruction_file_table &instructions, double &best_fitness) {
    best_fitness = std::numeric_limits<double>::quiet_NaN();
    const bool with_surrogate = cd.mode == "cmaesrbf";
    const int N = cd.adjustable_count;
    if (N < 1) {
        std::printf("\nThe CMA-ES methods need at least one adjustable parameter.\n");
        return 1;
    }
    // A candidate is drawn from a continuous distribution until it lies inside
    // the bounds, which needs room between them.
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        const parameter_data &par = cd.parameters[p];
        if (kind == 0 && !(par.lower_bound < par.upper_bound)) {
            std::printf("\nParameter \"%s\" has equal bounds (%g and %g): the CMA-ES methods cannot draw it; "
                        "make it \"fixed\" or widen its bounds.\n",
                        par.name.c_str(), par.lower_bound, par.upper_bound);
            return 1;
        }
    }
    std::FILE *calls = std::fopen("cmaes_calls3j.prn", "a");
    if (calls == nullptr) {
        std::printf("\nCannot open output file cmaes_calls3j.prn for writing.\n");
        return 1;
    }

    cmaes_t evo;
    double *fitness = cmaes_Start(evo, 0, nullptr, nullptr, 0, 0, "initials.par", &cd);
    std::printf("%s\n", cmaes_Banner(evo));
    cmaes_ReadSignals(evo, "signals.par");
    const int popsize = static_cast<int>(cmaes_Get(evo, "popsize"));
    const int lambda = static_cast<int>(cmaes_Get(evo, "lambda"));

    rbf_archive archive;
    if (with_surrogate) rbf_archive_create(archive, N, popsize);

    std::vector<double> mean;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind == 0) mean.push_back(cd.parameters[p].value);
    }
    cmaes_SetMean(evo, mean.data());

    const int E = cmaes_batch_step(popsize);
    int b = popsize;
    const int threshold = rbf_centre_count(N);
    int generation = 1;
    evaluation_context ctx{cd, names, templates, instructions, fitness,
                           with_surrogate ? &archive : nullptr, 0, 0,
                           std::numeric_limits<double>::quiet_NaN(), {}, 0, {}, {}};
    ctx.failed.assign(uz(popsize), 0);

    const char *failure = nullptr;
    std::string stop_text;
    for (;;) {
        const char *stop = cmaes_Test(evo);
        if (stop != nullptr) {
            stop_text = stop;
            break;
        }
        if (with_surrogate) {
            for (int i = 1; i <= popsize; ++i) archive.evaluated[i] = -999;
            archive.evaluated_count = 0;
        }
        cmaes_SamplePopulation(evo);
        for (int c = 0; c < popsize; ++c) {
            evo.evaluated[uz(c)] = 0;
            ctx.failed[uz(c)] = 0;
        }
        std::printf("\n");
        bool drawn = true;
        for (int c = 0; c < popsize && drawn; ++c) drawn = draw_inside_bounds(evo, cd, c) == 0;
        if (!drawn) {
            failure = "a candidate could not be drawn inside the bounds";
            break;
        }
        std::printf("\n");
        if (with_surrogate && rbf_archive_size(archive) >= threshold) {
            screen_generation(ctx, evo, generation, E, b);
        } else {
            for (int c = 0; c < lambda; ++c) (void)evaluate_candidate(ctx, evo, c);
        }
        if (!rank_failed_last(ctx, popsize)) {
            failure = "no candidate of the generation could be evaluated";
            break;
        }
        cmaes_UpdateDistribution(evo, fitness);
        // The evaluation count (of the MaxFunEvals test and the reports) is
        // the number of model runs: a predicted candidate is not evaluated.
        evo.countevals = static_cast<double>(ctx.runs);
        record_best_ever(ctx, evo);
        cmaes_ReadSignals(evo, "signals.par");
        std::fflush(stdout);
        ++generation;
    }

    best_fitness = ctx.best_phi;
    if (ctx.failed_runs > 0) {
        std::printf("\n%ld of %ld model runs gave no function value; those candidates ranked last.\n",
                    ctx.failed_runs, ctx.runs);
    }
    if (ctx.best_run > 0) {
        std::printf("The lowest objective function a model run returned is %g (model run %ld of %ld).\n",
                    ctx.best_phi, ctx.best_run, ctx.runs);
    }
    if (with_surrogate && archive.replaced > 0) {
        std::printf("The archive of evaluated points was full (%d points); %ld points took the place of the "
                    "farthest.\n", rbf_archive_limit, archive.replaced);
    }
    if (failure != nullptr) {
        std::printf("\nThe CMA-ES search stops in generation %d: %s.\n", generation, failure);
        cmaes_Release(evo);
        if (with_surrogate) rbf_archive_release(archive);
        std::fclose(calls);
        std::fflush(stdout);
        return 1;
    }

    std::printf("Stop:\n%s\n", stop_text.c_str());
    // The search's report joins allcmaes.dat; a failed write ends with status 1.
    calib_status status = 0;
    std::FILE *all = std::fopen("allcmaes.dat", "a");
    if (all != nullptr) {
        cmaes_WriteToFilePtr(evo, "all", all);
        if (std::ferror(all)) status = 1;
        if (std::fclose(all) != 0) status = 1;
    }
    if (all == nullptr || status != 0) std::printf("\nCannot write output file allcmaes.dat.\n");
    write_cmaes_results(ctx, evo, stop_text, generation, record, sensitivity, matrix, parameter_values);
    cmaes_Release(evo);
    const int next_free = with_surrogate ? archive.next_free : 1;
    if (with_surrogate) rbf_archive_release(archive);
    std::fprintf(calls, "%d\t%d\n", next_free, generation);
    std::fprintf(calls, "Stop:\n%s\n", stop_text.c_str());
    const bool calls_written = !std::ferror(calls);
    if (std::fclose(calls) != 0 || !calls_written) {
        std::printf("\nCannot write output file cmaes_calls3j.prn.\n");
        status = 1;
    }
    return all == nullptr ? 1 : status;
}
