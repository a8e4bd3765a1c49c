// The driver of the calibration methods "cmaes" and "cmaesrbf": runs the CMA-ES
// optimiser generation by generation, scoring candidates by model runs and, for
// "cmaesrbf", screening them with the RBF surrogate. Called by calibration_main.
#pragma once
#include <cstdio>

#include "calibrator/cmaes/cmaes.h"
#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Runs the whole optimisation of MODE "cmaes" or "cmaesrbf". The record,
// sensitivity, matrix and parameter value files are not used. `best_fitness`
// receives the lowest phi a model run returned (NaN when none returned one);
// a surrogate prediction is never reported. A candidate whose model run fails
// (or gives a phi that is not finite) takes the worst fitness of its generation
// and the search goes on. Returns 0 after the search has stopped by one of the
// optimiser's stop tests, or 1 when no candidate of a generation could be
// evaluated, a candidate cannot be drawn inside the bounds, a parameter's bounds
// leave it no room, there is no adjustable parameter, or the run log or the
// report file allcmaes.dat cannot be opened or written.
calib_status run_cmaes(int argc, char *argv[], control_data &cd, file_names names,
                       std::FILE *record, std::FILE *sensitivity, std::FILE *matrix,
                       std::FILE *parameter_values, template_file_table &templates,
                       instruction_file_table &instructions, double &best_fitness);

// 1 when every coordinate of population member `member` (0-based) lies within
// the bounds of its adjustable parameter (both bounds inclusive), 0 otherwise.
int cmaes_candidate_in_bounds(const cmaes_t &evo, const control_data &cd, int member);

// Most draws of one candidate while it lies outside the bounds; past this the
// search stops with status 1.
inline constexpr int cmaes_resample_limit = 100000;

// ---------------------------------------------------------------------------
// Archive of evaluated points and the surrogate screening of "cmaesrbf".
// ---------------------------------------------------------------------------

// Most points the archive holds; past it each new point takes the place of the
// point farthest from it.
inline constexpr int rbf_archive_limit = 5000;

struct rbf_archive {
    int dimension = 0;        // adjustable_count
    int popsize = 0;
    double_matrix points;     // rows 1..5000, columns 1..dimension (+1 unused)
    double_vector fitness;    // 1..5000
    int next_free = 1;        // the archive holds next_free - 1 points
    long replaced = 0;        // points that took the place of another
    double_vector coefficients;  // 1..dimension + 5001
    double_vector work;          // 1..dimension: the point being predicted
    double_vector predictions;   // entry c + 1 for candidate c
    int_vector ranking;          // screening ranking: candidate + 1, best first
    int_vector previous_ranking;
    int_vector new_ranking;
    int_vector evaluated;        // candidates evaluated in this generation
    int evaluated_count = 0;
    // Work space of one local fit: distances to every archive point, their
    // order, and the nearest points with their fitness.
    double_vector distances;     // 1..5000
    int_vector order;            // 1..5000
    int nearest_limit = 0;       // most points of one local fit
    double_matrix nearest;       // rows 1..nearest_limit, columns 1..dimension + 1
    double_vector nearest_fitness;
};

void rbf_archive_create(rbf_archive &a, int dimension, int popsize);
void rbf_archive_release(rbf_archive &a);
inline int rbf_archive_size(const rbf_archive &a) { return a.next_free - 1; }
// Stores one evaluated point (dimension coordinates) and its fitness; when the
// archive is full it replaces the point farthest from x. Returns the row used.
int rbf_archive_add(rbf_archive &a, const double *x, double fitness);

// Surrogate prediction at x (dimension coordinates): the cubic RBF fitted
// through the min(rbf_centre_count(dimension), size) archive points nearest to
// x. When that fit fails, the fitness of the nearest point stands in for the
// prediction. Returns the status of the fit.
calib_status rbf_archive_predict(rbf_archive &a, const double *x, const control_data &cd,
                                 double &prediction);

// Batch bookkeeping of the screening passes. The first pass covers rank
// positions [0, b); each later one the next E positions, cut at popsize.
int cmaes_batch_step(int popsize);
int cmaes_batch_end(int pass, int previous_end, int b, int E, int popsize);
// First-pass batch size of the next generation after `passes` passes.
int cmaes_next_batch_size(int b, int E, int passes, int popsize);
