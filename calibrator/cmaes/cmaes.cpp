// The CMA-ES generation cycle: set-up, sampling of the population, the update
// of mean, evolution paths, step size and covariance, the stop tests, keyed
// read access and release. Called generation by generation by the CMA-ES driver.
#include "calibrator/cmaes/cmaes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

const char *const version_text = "3.02.03.beta";

cmaes_vector zeros(int n) { return cmaes_vector(static_cast<std::size_t>(n > 0 ? n : 0), 0.0); }

std::size_t uz(int i) { return static_cast<std::size_t>(i); }

double best_fitness(const cmaes_t &t) { return t.rgFuncValue[uz(t.index[0])]; }

// Rank (into t.index) of the best member whose fitness the objective function
// returned, or -1 when no member of the last generation has one.
int best_evaluated_rank(const cmaes_t &t) {
    for (int r = 0; r < t.sp.lambda; ++r) {
        if (t.evaluated[uz(t.index[uz(r)])] != 0) return r;
    }
    return -1;
}

// The lowest returned function value of the last generation (its best
// fitness when none was returned).
double best_evaluated_fitness(const cmaes_t &t) {
    const int r = best_evaluated_rank(t);
    return r < 0 ? best_fitness(t) : t.rgFuncValue[uz(t.index[uz(r)])];
}

// One point of the current distribution: x = xmean + sigma B D z, z standard normal.
void sample_into(cmaes_t &t, double *x) {
    const int N = t.sp.N;
    for (int j = 0; j < N; ++j) {
        t.rgdTmp[uz(j)] = t.rgD[uz(j)] * random_Gauss(t.rand);
    }
    for (int j = 0; j < N; ++j) {
        double sum = 0.0;
        for (int k = 0; k < N; ++k) {
            sum += t.B[uz(j)][uz(k)] * t.rgdTmp[uz(k)];
        }
        x[j] = t.xmean[uz(j)] + t.sigma * sum;
    }
}

void update_diag_extremes(cmaes_t &t) {
    const int N = t.sp.N;
    t.maxdiagC = t.mindiagC = t.C[0][0];
    for (int i = 1; i < N; ++i) {
        t.maxdiagC = std::max(t.maxdiagC, t.C[uz(i)][uz(i)]);
        t.mindiagC = std::min(t.mindiagC, t.C[uz(i)][uz(i)]);
    }
}

// Raises sigma until every coordinate's deviation reaches diffMinChange. A
// coordinate whose variance is 0 cannot be raised and is left alone.
void cmaes_GuardMinStdDevs(cmaes_t &t) {
    if (t.sp.diffMinChange.empty()) {
        return;
    }
    for (int i = 0; i < t.sp.N; ++i) {
        const double cii = t.C[uz(i)][uz(i)];
        if (!(t.sigma * std::sqrt(cii) > 0)) {
            continue;
        }
        while (t.sigma * std::sqrt(cii) < t.sp.diffMinChange[uz(i)]) {
            t.sigma *= std::exp(0.05 + t.sp.cs / t.sp.damps);
        }
    }
}

void cmaes_AdaptCovariance(cmaes_t &t, int hsig) {
    const int N = t.sp.N;
    if (t.sp.ccov == 0.0 || t.iniphase) {
        return;
    }
    t.flgEigensysIsUptodate = 0;
    const double ccov = t.sp.ccov;
    const double mucov = t.sp.mucov;
    const double ccumcov = t.sp.ccumcov;
    const double ccovmu = ccov * (1 - 1 / mucov);
    const double sigmasquare = t.sigma * t.sigma;
    for (int i = 0; i < N; ++i) {
        for (int j = 0; j <= i; ++j) {
            double &cij = t.C[uz(i)][uz(j)];
            cij = (1 - ccov) * cij +
                  ccov * (1 / mucov) *
                      (t.rgpc[uz(i)] * t.rgpc[uz(j)] + (1 - hsig) * ccumcov * (2 - ccumcov) * cij);
            for (int k = 0; k < t.sp.mu; ++k) {
                const cmaes_vector &x = t.population[uz(t.index[uz(k)])];
                cij += ccovmu * t.sp.weights[uz(k)] * (x[uz(i)] - t.rgxold[uz(i)]) *
                       (x[uz(j)] - t.rgxold[uz(j)]) / sigmasquare;
            }
        }
    }
    update_diag_extremes(t);
}

void append_reason(std::string &text, const std::string &line) { text += line; }

}  // namespace

const char *cmaes_TimeString() {
    static char text[25];
    std::time_t now = std::time(nullptr);
    const char *calendar = std::ctime(&now);
    if (calendar == nullptr) {
        text[0] = '\0';
        return text;
    }
    std::strncpy(text, calendar, 24);
    text[24] = '\0';
    return text;
}

double *cmaes_Start(cmaes_t &t, int dimension, const double *xstart, const double *stddev, int seed,
                    int lambda, const char *parameter_file, const control_data *cd) {
    t = cmaes_t{};
    t.version = version_text;
    readpara_readpara_t(t.sp, dimension, seed, xstart, stddev, lambda, parameter_file, cd);
    t.sp.seed = random_Start(t.rand, t.sp.seed);

    const int N = t.sp.N;
    const int lam = t.sp.lambda;
    for (int i = 0; i < N; ++i) {
        if (!(t.sp.initialStandardDeviations[uz(i)] > 0) ||
            !std::isfinite(t.sp.initialStandardDeviations[uz(i)])) {
            cmaes_fatal("cmaes_Start(): initialStandardDeviations must be positive numbers");
        }
    }
    double trace = 0.0;
    for (int i = 0; i < N; ++i) {
        trace += t.sp.initialStandardDeviations[uz(i)] * t.sp.initialStandardDeviations[uz(i)];
    }
    t.sigma = std::sqrt(trace / N);
    t.chiN = std::sqrt(static_cast<double>(N)) * (1.0 - 1.0 / (4.0 * N) + 1.0 / (21.0 * N * N));

    t.flgEigensysIsUptodate = 1;
    t.flgCheckEigen = 0;
    t.genOfEigensysUpdate = 0;
    timings_start(t.eigenTimings);
    t.iniphase = 0;
    t.flgresumedone = 0;
    t.flgStop = 0;
    // The smallest power of two d with d + 1 == d, divided by 1000.
    double d = 1.0;
    while (d + 1.0 != d) {
        d *= 2.0;
    }
    t.dMaxSignifKond = d / 1000.0;
    t.gen = 0;
    t.countevals = 0;
    t.state = 0;
    t.dLastMinEWgroesserNull = 1.0;
    t.printtime = t.writetime = t.firstwritetime = t.firstprinttime = 0;

    t.xmean = zeros(N);
    t.xbestever = zeros(N + 2);
    t.population.assign(uz(lam), zeros(N + 1));
    t.index.assign(uz(lam), 0);
    t.evaluated.assign(uz(lam), 1);
    t.has_bestever = 0;
    for (int i = 0; i < lam; ++i) {
        t.index[uz(i)] = i;
    }
    const int history = 10 + static_cast<int>(std::ceil(30.0 * N / lam));
    t.funcValueHistory = zeros(history);
    t.C.clear();
    for (int i = 0; i < N; ++i) {
        t.C.push_back(zeros(i + 1));
    }
    t.B.assign(uz(N), zeros(N));
    t.rgD = zeros(N);
    t.rgpc = zeros(N);
    t.rgps = zeros(N);
    t.rgxold = zeros(N);
    t.rgout = zeros(N);
    t.rgBDz = zeros(N);
    t.rgdTmp = zeros(N + 1);
    t.rgFuncValue = zeros(lam);
    t.publicFitness = zeros(lam);

    for (int i = 0; i < N; ++i) {
        t.B[uz(i)][uz(i)] = 1.0;
        t.rgD[uz(i)] = t.sp.initialStandardDeviations[uz(i)] * std::sqrt(N / trace);
        t.C[uz(i)][uz(i)] = t.rgD[uz(i)] * t.rgD[uz(i)];
    }
    const double dmin = *std::min_element(t.rgD.begin(), t.rgD.end());
    const double dmax = *std::max_element(t.rgD.begin(), t.rgD.end());
    t.minEW = dmin * dmin;
    t.maxEW = dmax * dmax;
    update_diag_extremes(t);

    for (int i = 0; i < N; ++i) {
        t.xmean[uz(i)] = t.rgxold[uz(i)] = t.sp.initialX[uz(i)];
    }
    if (t.sp.typicalStart) {
        for (int i = 0; i < N; ++i) {
            t.xmean[uz(i)] += t.sigma * t.rgD[uz(i)] * random_Gauss(t.rand);
        }
    }
    if (t.sp.resumeFile != "_no_") {
        cmaes_resume_distribution(t, t.sp.resumeFile.c_str());
    }
    return t.publicFitness.data();
}

const char *cmaes_Banner(cmaes_t &t) {
    t.sOutString = cmaes_format("(%d,%d)-CMA-ES(mu_eff=%.1f), Ver=\"%s\", dimension=%d, randomSeed=%d (%s)",
                                t.sp.mu, t.sp.lambda, t.sp.mueff, t.version.c_str(), t.sp.N, t.sp.seed,
                                cmaes_TimeString());
    return t.sOutString.c_str();
}

const cmaes_population &cmaes_SamplePopulation(cmaes_t &t) {
    cmaes_UpdateEigensystem(t, 0);
    cmaes_GuardMinStdDevs(t);
    for (int i = 0; i < t.sp.lambda; ++i) {
        sample_into(t, t.population[uz(i)].data());
    }
    if (t.state == 3 || t.gen == 0) {
        t.gen += 1;
    }
    t.state = 1;
    return t.population;
}

const cmaes_population &cmaes_ReSampleSingle(cmaes_t &t, int member) {
    if (member < 0 || member >= t.sp.lambda) {
        std::string where = cmaes_format("index==%d must be between 0 and %d", member, t.sp.lambda);
        cmaes_fatal("cmaes_ReSampleSingle(): Population member ", where.c_str());
    }
    sample_into(t, t.population[uz(member)].data());
    return t.population;
}

double *cmaes_ReSampleSingleInto(cmaes_t &t, double *x) {
    if (x == nullptr) {
        cmaes_fatal("cmaes_ReSampleSingle(): Missing input double *x");
    }
    sample_into(t, x);
    return x;
}

cmaes_vector cmaes_SampleSingle(cmaes_t &t) {
    cmaes_vector x = zeros(t.sp.N);
    sample_into(t, x.data());
    return x;
}

void cmaes_SetMean(cmaes_t &t, const double *xmean) {
    if (t.state >= 1 && t.state < 3) {
        cmaes_fatal("cmaes_SetMean: mean cannot be set inbetween the calls of ",
                    "SamplePopulation and UpdateDistribution");
    }
    if (xmean != nullptr && xmean != t.xmean.data()) {
        std::copy(xmean, xmean + t.sp.N, t.xmean.begin());
    }
}

const double *cmaes_UpdateDistribution(cmaes_t &t, const double *fitness) {
    const int N = t.sp.N;
    const int lambda = t.sp.lambda;
    if (t.state == 3) {
        cmaes_fatal("cmaes_UpdateDistribution(): You need to call \n",
                    "SamplePopulation() before update can take place.");
    }
    if (fitness == nullptr) {
        cmaes_fatal("cmaes_UpdateDistribution(): ", "Fitness function value array input is missing.");
    }
    if (t.state == 1) {
        t.countevals += lambda;
    } else {
        cmaes_error_message("cmaes_UpdateDistribution(): unexpected state");
    }

    for (int i = 0; i < lambda; ++i) {
        t.rgFuncValue[uz(i)] = fitness[i];
        t.population[uz(i)][uz(N)] = fitness[i];
    }

    // Insertion sort by increasing fitness; a new candidate goes before every
    // earlier one whose fitness is not smaller, so ties rank the higher number first.
    for (int i = 0; i < lambda; ++i) {
        int j = i;
        while (j > 0 && t.rgFuncValue[uz(t.index[uz(j - 1)])] >= t.rgFuncValue[uz(i)]) {
            t.index[uz(j)] = t.index[uz(j - 1)];
            --j;
        }
        t.index[uz(j)] = i;
    }

    if (t.rgFuncValue[uz(t.index[uz(lambda / 2)])] == t.rgFuncValue[uz(t.index[0])]) {
        t.sigma *= std::exp(0.2 + t.sp.cs / t.sp.damps);
        cmaes_error_message("Warning: sigma increased due to equal function values\n",
                            "   Reconsider the formulation of the objective function");
    }

    for (std::size_t i = t.funcValueHistory.size(); i-- > 1;) {
        t.funcValueHistory[i] = t.funcValueHistory[i - 1];
    }
    t.funcValueHistory[0] = best_evaluated_fitness(t);

    const int best_rank = best_evaluated_rank(t);
    const cmaes_vector &best = t.population[uz(t.index[uz(best_rank < 0 ? 0 : best_rank)])];
    if (best_rank >= 0 && (best[uz(N)] < t.xbestever[uz(N)] || !t.has_bestever)) {
        t.has_bestever = 1;
        for (int i = 0; i <= N; ++i) {
            t.xbestever[uz(i)] = best[uz(i)];
        }
        t.xbestever[uz(N + 1)] = t.countevals;
    }

    const double sqrtmueff = std::sqrt(t.sp.mueff);
    for (int i = 0; i < N; ++i) {
        t.rgxold[uz(i)] = t.xmean[uz(i)];
        double sum = 0.0;
        for (int k = 0; k < t.sp.mu; ++k) {
            sum += t.sp.weights[uz(k)] * t.population[uz(t.index[uz(k)])][uz(i)];
        }
        t.xmean[uz(i)] = sum;
        t.rgBDz[uz(i)] = sqrtmueff * (t.xmean[uz(i)] - t.rgxold[uz(i)]) / t.sigma;
    }

    // B' BDz / D, then B of that: the step in the isotropic coordinate system.
    for (int i = 0; i < N; ++i) {
        double sum = 0.0;
        for (int j = 0; j < N; ++j) {
            sum += t.B[uz(j)][uz(i)] * t.rgBDz[uz(j)];
        }
        t.rgdTmp[uz(i)] = sum / t.rgD[uz(i)];
    }
    const double cs = t.sp.cs;
    for (int i = 0; i < N; ++i) {
        double sum = 0.0;
        for (int j = 0; j < N; ++j) {
            sum += t.B[uz(i)][uz(j)] * t.rgdTmp[uz(j)];
        }
        t.rgps[uz(i)] = (1 - cs) * t.rgps[uz(i)] + std::sqrt(cs * (2 - cs)) * sum;
    }

    double psxps = 0.0;
    for (int i = 0; i < N; ++i) {
        psxps += t.rgps[uz(i)] * t.rgps[uz(i)];
    }
    const int hsig = std::sqrt(psxps) / std::sqrt(1 - std::pow(1 - cs, 2 * t.gen)) / t.chiN <
                             1.4 + 2.0 / (N + 1)
                         ? 1
                         : 0;
    const double ccumcov = t.sp.ccumcov;
    for (int i = 0; i < N; ++i) {
        t.rgpc[uz(i)] = (1 - ccumcov) * t.rgpc[uz(i)] +
                        hsig * std::sqrt(ccumcov * (2 - ccumcov)) * t.rgBDz[uz(i)];
    }

    cmaes_AdaptCovariance(t, hsig);

    t.sigma *= std::exp((std::sqrt(psxps) / t.chiN - 1) * cs / t.sp.damps);
    t.state = 3;
    return t.xmean.data();
}

const char *cmaes_Test(cmaes_t &t) {
    const int N = t.sp.N;
    const readpara_t &sp = t.sp;
    std::string &text = t.sTestOutString;
    text.clear();

    if ((t.gen > 1 || t.state > 1) && sp.stopFitnessSet == 1 && best_evaluated_fitness(t) <= sp.stopFitness) {
        append_reason(text, cmaes_format("Fitness: function value %7.2e <= stopFitness (%7.2e)\n",
                                         best_evaluated_fitness(t), sp.stopFitness));
    }

    const int history = static_cast<int>(t.funcValueHistory.size());
    if (t.gen > 0) {
        double hi = best_evaluated_fitness(t);
        double lo = hi;
        for (std::size_t i = 0; i < t.rgFuncValue.size(); ++i) {
            if (t.evaluated[i] == 0) continue;
            hi = std::max(hi, t.rgFuncValue[i]);
            lo = std::min(lo, t.rgFuncValue[i]);
        }
        const int used = static_cast<int>(std::min<double>(t.gen, history));
        for (int i = 0; i < used; ++i) {
            hi = std::max(hi, t.funcValueHistory[uz(i)]);
            lo = std::min(lo, t.funcValueHistory[uz(i)]);
        }
        if (hi - lo <= sp.stopTolFun) {
            append_reason(text, cmaes_format("TolFun: function value differences %7.2e < stopTolFun=%7.2e\n",
                                             hi - lo, sp.stopTolFun));
        }
    }

    if (t.gen > history) {
        auto [lo, hi] = std::minmax_element(t.funcValueHistory.begin(), t.funcValueHistory.end());
        if (*hi - *lo <= sp.stopTolFunHist) {
            append_reason(text,
                          cmaes_format("TolFunHist: history of function value changes %7.2e stopTolFunHist=%7.2e",
                                       *hi - *lo, sp.stopTolFunHist));
        }
    }

    int below = 0;
    for (int i = 0; i < N; ++i) {
        below += (t.sigma * std::sqrt(t.C[uz(i)][uz(i)]) < sp.stopTolX) ? 1 : 0;
        below += (t.sigma * t.rgpc[uz(i)] < sp.stopTolX) ? 1 : 0;
    }
    if (N > 0 && below == 2 * N) {
        append_reason(text, cmaes_format("TolX: object variable changes below %7.2e \n", sp.stopTolX));
    }

    for (int i = 0; i < N; ++i) {
        if (t.sigma * std::sqrt(t.C[uz(i)][uz(i)]) >
            sp.stopTolUpXFactor * sp.initialStandardDeviations[uz(i)]) {
            append_reason(text, cmaes_format("TolUpX: standard deviation increased by more than %7.2e, "
                                             "larger initial standard deviation recommended \n",
                                             sp.stopTolUpXFactor));
            break;
        }
    }

    if (t.maxEW >= t.minEW * t.dMaxSignifKond) {
        append_reason(text, cmaes_format("ConditionNumber: maximal condition number %7.2e reached. "
                                         "maxEW=%7.2e,minEW=%7.2e,maxdiagC=%7.2e,mindiagC=%7.2e\n",
                                         t.maxEW / t.minEW, t.maxEW, t.minEW, t.maxdiagC, t.mindiagC));
    }

    for (int j = 0; j < N; ++j) {
        const double fac = 0.1 * t.sigma * t.rgD[uz(j)];
        bool unchanged = true;
        for (int k = 0; k < N && unchanged; ++k) {
            unchanged = t.xmean[uz(k)] == t.xmean[uz(k)] + fac * t.B[uz(k)][uz(j)];
        }
        if (unchanged) {
            append_reason(text,
                          cmaes_format("NoEffectAxis: standard deviation 0.1*%7.2e in principal axis %d without effect\n",
                                       fac / 0.1, j));
            break;
        }
    }

    for (int k = 0; k < N; ++k) {
        const double dev = t.sigma * std::sqrt(t.C[uz(k)][uz(k)]);
        if (t.xmean[uz(k)] == t.xmean[uz(k)] + 0.2 * dev) {
            append_reason(text,
                          cmaes_format("NoEffectCoordinate: standard deviation 0.2*%7.2e in coordinate %d without effect\n",
                                       dev, k));
            break;
        }
    }

    if (t.countevals >= sp.stopMaxFunEvals) {
        append_reason(text, cmaes_format("MaxFunEvals: conducted function evaluations %.0f >= %g\n",
                                         t.countevals, sp.stopMaxFunEvals));
    }
    if (t.gen >= sp.stopMaxIter) {
        append_reason(text, cmaes_format("MaxIter: number of iterations %.0f >= %g\n", t.gen, sp.stopMaxIter));
    }
    if (t.flgStop) {
        append_reason(text, "Manual: stop signal read\n");
    }
    return text.empty() ? nullptr : text.c_str();
}

double cmaes_Get(const cmaes_t &t, const char *key) {
    auto is = [key](const char *word, std::size_t n) { return std::strncmp(key, word, n) == 0; };
    const int N = t.sp.N;
    if (is("axisratio", 5)) {
        return *std::max_element(t.rgD.begin(), t.rgD.end()) / *std::min_element(t.rgD.begin(), t.rgD.end());
    }
    if (is("eval", 4)) return t.countevals;
    if (is("fctvalue", 6) || is("funcvalue", 6) || is("funvalue", 6) || is("fitness", 3)) {
        return best_evaluated_fitness(t);
    }
    if (is("fbestever", 7)) return t.xbestever[uz(N)];
    if (is("generation", 3) || is("iteration", 4)) return t.gen;
    if (is("maxeval", 4) || is("MaxFunEvals", 8) || is("stopMaxFunEvals", 12)) return t.sp.stopMaxFunEvals;
    if (is("maxgen", 4) || is("MaxIter", 7) || is("stopMaxIter", 11)) return std::ceil(t.sp.stopMaxIter);
    if (is("maxaxislength", 5)) return t.sigma * std::sqrt(t.maxEW);
    if (is("minaxislength", 5)) return t.sigma * std::sqrt(t.minEW);
    if (is("maxstddev", 4)) return t.sigma * std::sqrt(t.maxdiagC);
    if (is("minstddev", 4)) return t.sigma * std::sqrt(t.mindiagC);
    if (is("N", 1) || std::strcmp(key, "n") == 0 || is("dimension", 3)) return N;
    if (is("lambda", 3) || is("samplesize", 8) || is("popsize", 7)) return t.sp.lambda;
    if (is("sigma", 3)) return t.sigma;
    cmaes_fatal("cmaes_Get(cmaes_t, char const * s): No match found for s='", key, "'");
}

const double *cmaes_GetVector(cmaes_t &t, const char *key) {
    auto is = [key](const char *word, std::size_t n) { return std::strncmp(key, word, n) == 0; };
    const int N = t.sp.N;
    if (is("diag(C)", 7)) {
        for (int i = 0; i < N; ++i) {
            t.rgout[uz(i)] = t.C[uz(i)][uz(i)];
        }
        return t.rgout.data();
    }
    if (is("diag(D)", 7)) return t.rgD.data();
    if (is("stddev", 3)) {
        for (int i = 0; i < N; ++i) {
            t.rgout[uz(i)] = t.sigma * std::sqrt(t.C[uz(i)][uz(i)]);
        }
        return t.rgout.data();
    }
    if (is("xbestever", 7)) return t.xbestever.data();
    if (is("xbest", 5)) return t.population[uz(t.index[0])].data();
    if (is("xmean", 1)) return t.xmean.data();
    return nullptr;
}

double *cmaes_GetVectorInto(cmaes_t &t, const char *key, double *buffer) {
    const double *v = cmaes_GetVector(t, key);
    if (v == nullptr || buffer == nullptr) {
        return nullptr;
    }
    std::copy(v, v + t.sp.N, buffer);
    return buffer;
}

cmaes_vector cmaes_GetVectorCopy(cmaes_t &t, const char *key) {
    const double *v = cmaes_GetVector(t, key);
    if (v == nullptr) {
        return cmaes_vector{};
    }
    return cmaes_vector(v, v + t.sp.N);
}

void cmaes_Release(cmaes_t &t) {
    t.state = -1;
    t.xmean = cmaes_vector{};
    t.xbestever = cmaes_vector{};
    t.population = cmaes_population{};
    t.index = std::vector<int, cmaes_allocator<int>>{};
    t.funcValueHistory = cmaes_vector{};
    t.C = cmaes_population{};
    t.B = cmaes_population{};
    t.rgD = cmaes_vector{};
    t.rgpc = cmaes_vector{};
    t.rgps = cmaes_vector{};
    t.rgxold = cmaes_vector{};
    t.rgout = cmaes_vector{};
    t.rgBDz = cmaes_vector{};
    t.rgdTmp = cmaes_vector{};
    t.rgFuncValue = cmaes_vector{};
    t.publicFitness = cmaes_vector{};
    t.rand.table.fill(0);
    readpara_release(t.sp);
}
