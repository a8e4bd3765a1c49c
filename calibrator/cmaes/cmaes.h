// The CMA-ES optimiser: records and entry points of the (mu/mu_w, lambda)
// evolution strategy with covariance matrix adaptation that the "cmaes" and
// "cmaesrbf" methods of varnock run generation by generation.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "calibrator/cmaes/cmaes_support.h"

struct control_data;

// ---------------------------------------------------------------------------
// Parameter set, built from "initials.par" and the calibration problem.
// ---------------------------------------------------------------------------
struct readpara_t {
    int N = 0;
    int seed = 0;  // 0 means: draw one from the clocks
    cmaes_vector initialX;                   // empty when not given
    cmaes_vector typicalX;                   // empty when not given
    int typicalStart = 0;                    // 1 when the start point came from typicalX or 0.5
    cmaes_vector initialStandardDeviations;  // empty when not given
    cmaes_vector diffMinChange;              // empty when not given
    double stopMaxFunEvals = -1;
    double facMaxFunEvals = 1;
    double stopMaxIter = -1;
    int stopFitnessSet = -1;  // -1 untouched, 0 after the defaults, 1 when read
    double stopFitness = 0;
    double stopTolFun = 1e-12;
    double stopTolFunHist = 1e-13;
    double stopTolX = 0;
    double stopTolUpXFactor = 1000;
    int lambda = 0;
    int mu = -1;
    double mucov = -1;
    double mueff = 0;
    cmaes_vector weights;  // mu values once set
    double damps = -1;
    double cs = -1;
    double ccumcov = -1;
    double ccov = -1;
    int updateAlways = 0;
    double updatecov = -1;  // generations between eigendecompositions
    double maxTimeFractionForEigendecompostion = -1;
    double facUpdatecov = 1;
    std::string weightsMode = "log";
    std::string resumeFile = "_no_";
};

// Builds the parameter set: defaults, the parameter file (unless its name is
// "non" or "writeonly"), derived defaults, the override from the calibration
// problem (when `cd` is given) and the record appended to "actparcmaes.par"
// (unless the name is "non"). `xstart` and `stddev` hold `dimension` values or
// are null.
void readpara_readpara_t(readpara_t &sp, int dimension, int seed, const double *xstart,
                         const double *stddev, int lambda, const char *parameter_file,
                         const control_data *cd);
void readpara_ReadFromFile(readpara_t &sp, const char *file_name = "initials.par");
void readpara_FillDefaults(readpara_t &sp);
void readpara_SetWeights(readpara_t &sp, const char *mode);
void readpara_WriteActual(const readpara_t &sp, const char *out_file, const char *read_file);
void readpara_release(readpara_t &sp);

// ---------------------------------------------------------------------------
// Random generator: Park-Miller minimal standard with a Bays-Durham shuffle.
// ---------------------------------------------------------------------------
struct cmaes_random_t {
    int32_t startseed = 0;
    int32_t aktseed = 0;
    int32_t aktrand = 0;
    std::array<int32_t, 32> table{};
    short flgstored = 0;
    double hold = 0;
};

// One step of the minimal standard generator (modulus 2^31 - 1, multiplier 16807,
// Schrage's factorisation); the state must lie in 1 .. 2^31 - 2.
int32_t random_Step(int32_t state);
// Sets the generator up from a seed (0: drawn from the clocks); returns the seed used.
int32_t random_Start(cmaes_random_t &r, int32_t seed);
double random_Uniform(cmaes_random_t &r);
// A seed from the clocks: waits for the processor clock to change, then
// |100 x calendar seconds + clock ticks| in 32-bit arithmetic.
int32_t cmaes_clock_seed();
double random_Gauss(cmaes_random_t &r);

// ---------------------------------------------------------------------------
// Timing record.
// ---------------------------------------------------------------------------
struct cmaes_timings_t {
    double totaltime = 0;        // seconds since the start
    double tictoctime_total = 0; // seconds inside tic-toc intervals
    double tictoctime = 0;       // seconds of the current interval
    double lasttictoctime = 0;   // seconds of the last interval
    short istic = 0;
    std::clock_t lastclock = 0;
    std::time_t lasttime = 0;
    double lastdiff = 0;
    short isstarted = 0;
};

void timings_start(cmaes_timings_t &t);
double timings_update(cmaes_timings_t &t);
void timings_tic(cmaes_timings_t &t);
double timings_toc(cmaes_timings_t &t);

// ---------------------------------------------------------------------------
// Optimiser state.
// ---------------------------------------------------------------------------
using cmaes_population = std::vector<cmaes_vector, cmaes_allocator<cmaes_vector>>;

struct cmaes_t {
    std::string version;
    readpara_t sp;
    cmaes_random_t rand;
    double sigma = 0;
    cmaes_vector xmean;
    cmaes_vector xbestever;  // N coordinates, fitness at N, evaluation count at N + 1
    cmaes_population population;  // lambda members of N + 1 (fitness at N)
    std::vector<int, cmaes_allocator<int>> index;
    cmaes_vector funcValueHistory;
    short iniphase = 0;
    short flgStop = 0;
    double chiN = 0;
    cmaes_population C;  // lower triangle: row i holds i + 1 values
    cmaes_population B;  // eigenvectors in columns: B[i][j] is component i of vector j
    cmaes_vector rgD;    // square roots of the eigenvalues
    cmaes_vector rgpc, rgps, rgxold, rgout, rgBDz, rgdTmp;
    cmaes_vector rgFuncValue;    // fitness of the last generation as handed in
    // Per member: 1 when the caller's fitness is a value the objective function
    // returned, 0 when it only stands in for one (a surrogate prediction, the
    // rank given to a failed evaluation). The stop tests on function values and
    // the best-ever record use only returned values; all 1 unless the caller
    // says otherwise.
    std::vector<char> evaluated;
    short has_bestever = 0;  // xbestever holds a returned value
    cmaes_vector publicFitness;  // filled by the caller
    double gen = 0;
    double countevals = 0;
    double state = 0;  // 0 new, 1 sampled, 3 updated, -1 released
    double maxdiagC = 0, mindiagC = 0;
    double maxEW = 0, minEW = 0;
    std::string sOutString;  // banner
    std::string sTestOutString;  // stop reasons of the last cmaes_Test
    short flgEigensysIsUptodate = 0;
    short flgCheckEigen = 0;
    double genOfEigensysUpdate = 0;
    cmaes_timings_t eigenTimings;
    double dMaxSignifKond = 0;
    double dLastMinEWgroesserNull = 0;
    short flgresumedone = 0;
    std::time_t printtime = 0, writetime = 0, firstwritetime = 0, firstprinttime = 0;
    // Signals-file bookkeeping, kept with the run rather than in static storage.
    double signals_last_write_gen = 0;
    double signals_max_gen_gap = 0;
    int signals_print_hold = 0;
    int signals_write_hold = 0;
};

// Sets everything up; returns the public fitness array (lambda doubles).
double *cmaes_Start(cmaes_t &t, int dimension, const double *xstart, const double *stddev, int seed,
                    int lambda, const char *parameter_file, const control_data *cd);
const char *cmaes_Banner(cmaes_t &t);
const char *cmaes_TimeString();
const cmaes_population &cmaes_SamplePopulation(cmaes_t &t);
const cmaes_population &cmaes_ReSampleSingle(cmaes_t &t, int member);
double *cmaes_ReSampleSingleInto(cmaes_t &t, double *x);
cmaes_vector cmaes_SampleSingle(cmaes_t &t);
void cmaes_SetMean(cmaes_t &t, const double *xmean);
const double *cmaes_UpdateDistribution(cmaes_t &t, const double *fitness);
// The stop reasons that hold, one line each, or null when none holds.
const char *cmaes_Test(cmaes_t &t);
double cmaes_Get(const cmaes_t &t, const char *key);
// Pointer to a vector of N values by key, or null for an unknown key.
const double *cmaes_GetVector(cmaes_t &t, const char *key);
double *cmaes_GetVectorInto(cmaes_t &t, const char *key, double *buffer);
cmaes_vector cmaes_GetVectorCopy(cmaes_t &t, const char *key);
void cmaes_WriteToFile(cmaes_t &t, const char *key, const char *file_name = "tmpcmaes.dat",
                       const char *mode = "a");
void cmaes_AppendToFile(cmaes_t &t, const char *key, const char *file_name = "tmpcmaes.dat");
void cmaes_WriteToFilePtr(cmaes_t &t, const char *key, std::FILE *fp);
void cmaes_resume_distribution(cmaes_t &t, const char *file_name);
void cmaes_UpdateEigensystem(cmaes_t &t, int force);
void cmaes_Release(cmaes_t &t);

// Signals file: read it when it exists and act on its lines.
void cmaes_ReadSignals(cmaes_t &t, const char *file_name = "signals.par");
void cmaes_ApplySignals(cmaes_t &t, std::FILE *fp);

// Eigendecomposition of the symmetric matrix held as a lower triangle in C:
// eigenvalues ascending into diag, eigenvectors in the columns of Q. `rgtmp` is
// a work vector of N values. A QL iteration that does not converge is fatal.
void cmaes_Eigen(int N, const cmaes_population &C, double *diag, cmaes_population &Q, double *rgtmp);
// Sets the most QL iterations spent on one eigenvalue (100 unless changed);
// returns the previous value.
int cmaes_SetEigenIterationCap(int cap);
// Counts (and logs) places where Q diag(D) Q' differs from C or Q is not orthogonal.
int eigen_check(int N, const cmaes_population &C, const double *diag, const cmaes_population &Q);
