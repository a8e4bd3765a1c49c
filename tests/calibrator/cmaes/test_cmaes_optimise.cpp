// Tests of the CMA-ES generation cycle: convergence on the sphere and the
// Rosenbrock function, ranking and the equal-fitness step-size rule, the
// eigendecomposition against known spectra, stop tests and keyed reads.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "calibrator/cmaes/cmaes.h"
#include "calibrator/engine/control_data.h"
#include "cmaes_test_support.h"

namespace {

using cmaes_test::in_scratch_dir;

double sphere(const double *x, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) {
        s += x[i] * x[i];
    }
    return s;
}

double rosenbrock(const double *x, int n) {
    double s = 0;
    for (int i = 0; i + 1 < n; ++i) {
        s += 100 * (x[i + 1] - x[i] * x[i]) * (x[i + 1] - x[i] * x[i]) + (1 - x[i]) * (1 - x[i]);
    }
    return s;
}

struct run_result {
    std::string stop;
    double fbest = 0;
    double evaluations = 0;
    cmaes_vector xbest;
};

class CmaesRun : public in_scratch_dir {
protected:
    // The driver's loop: test, sample, evaluate, update.
    run_result optimise(const std::function<double(const double *, int)> &f, const control_data *cd = nullptr) {
        cmaes_t t;
        testing::internal::CaptureStdout();
        double *fitness = cmaes_Start(t, 0, nullptr, nullptr, 0, 0, "initials.par", cd);
        testing::internal::GetCapturedStdout();
        const int lambda = static_cast<int>(cmaes_Get(t, "lambda"));
        const int n = static_cast<int>(cmaes_Get(t, "N"));
        const char *stop = nullptr;
        while ((stop = cmaes_Test(t)) == nullptr) {
            const cmaes_population &pop = cmaes_SamplePopulation(t);
            for (int i = 0; i < lambda; ++i) {
                fitness[i] = f(pop[static_cast<size_t>(i)].data(), n);
            }
            cmaes_UpdateDistribution(t, fitness);
        }
        run_result r;
        r.stop = stop;
        r.fbest = cmaes_Get(t, "fbestever");
        r.evaluations = cmaes_Get(t, "eval");
        r.xbest = cmaes_GetVectorCopy(t, "xbestever");
        cmaes_Release(t);
        return r;
    }

    void write_problem(int n, const std::string &extra = "") {
        write("initials.par", "N " + std::to_string(n) +
                                  "\n"
                                  "seed 20240607\n"
                                  "initialX 1\n 0.5\n"
                                  "initialStandardDeviations 1\n 0.3\n"
                                  "stopTolFun 1e-13\n"
                                  "stopTolFunHist 1e-14\n"
                                  "maxTimeFractionForEigendecompostion 1\n" +
                                  extra);
    }
};

TEST_F(CmaesRun, SphereConvergesInTwoFiveAndTenDimensions) {
    for (int n : {2, 5, 10}) {
        write_problem(n);
        run_result r = optimise(sphere);
        EXPECT_EQ(r.stop.rfind("TolFun", 0), 0u) << n << ": " << r.stop;
        EXPECT_LT(r.fbest, 1e-12) << n;
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(r.xbest[static_cast<size_t>(i)], 0.0, 1e-5) << n;
        }
        EXPECT_LT(r.evaluations, 3000 * n) << n;
    }
}

TEST_F(CmaesRun, RosenbrockConvergesInTwoFiveAndTenDimensions) {
    for (int n : {2, 5, 10}) {
        write_problem(n);
        run_result r = optimise(rosenbrock);
        EXPECT_EQ(r.stop.rfind("TolFun", 0), 0u) << n << ": " << r.stop;
        EXPECT_LT(r.fbest, 1e-10) << n;
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(r.xbest[static_cast<size_t>(i)], 1.0, 1e-4) << n;
        }
        if (n == 10) {
            EXPECT_GT(r.evaluations, 2000);
            EXPECT_LT(r.evaluations, 20000);
        }
    }
}

TEST_F(CmaesRun, TheCalibrationProblemsToleranceEndsTheSphereEarlier) {
    write_problem(5);
    control_data cd;
    cd.adjustable_count = 5;
    run_result r = optimise(sphere, &cd);
    EXPECT_EQ(r.stop.rfind("TolFun: function value differences", 0), 0u) << r.stop;
    EXPECT_NE(r.stop.find("< stopTolFun=1.00e-04\n"), std::string::npos) << r.stop;
    EXPECT_LT(r.fbest, 1e-4);
}

TEST_F(CmaesRun, SameSeedGivesTheSameRun) {
    write_problem(3);
    run_result a = optimise(rosenbrock);
    run_result b = optimise(rosenbrock);
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.fbest, b.fbest);
}

TEST_F(CmaesRun, MaxIterStopsTheRun) {
    write_problem(4, "stopMaxIter 7\n");
    run_result r = optimise(rosenbrock);
    EXPECT_EQ(r.stop, "MaxIter: number of iterations 7 >= 7\n");
    EXPECT_EQ(r.evaluations, 7 * 8.0);
}

class CmaesCycle : public in_scratch_dir {
protected:
    void SetUp() override {
        in_scratch_dir::SetUp();
        write("initials.par",
              "N 3\nseed 7\nlambda 6\ninitialX 3 1 2 3\ninitialStandardDeviations 1 0.5\n"
              "maxTimeFractionForEigendecompostion 1\n");
        testing::internal::CaptureStdout();
        fitness_ = cmaes_Start(t_, 0, nullptr, nullptr, 0, 0, "initials.par", nullptr);
        testing::internal::GetCapturedStdout();
    }
    cmaes_t t_;
    double *fitness_ = nullptr;
};

TEST_F(CmaesCycle, StartSetsUpTheDistribution) {
    EXPECT_EQ(t_.version, "3.02.03.beta");
    EXPECT_EQ(t_.sp.lambda, 6);
    EXPECT_EQ(t_.sp.mu, 3);
    EXPECT_EQ(t_.state, 0);
    EXPECT_NEAR(t_.sigma, 0.5, 1e-15);
    EXPECT_NEAR(t_.chiN, std::sqrt(3.0) * (1 - 1 / 12.0 + 1 / 189.0), 1e-15);
    EXPECT_EQ(t_.xmean[0], 1.0);  // initialX given: no perturbation
    EXPECT_EQ(t_.xmean[2], 3.0);
    EXPECT_EQ(t_.C[1][1], 1.0);
    EXPECT_EQ(t_.C[2][0], 0.0);
    EXPECT_EQ(t_.funcValueHistory.size(), 10u + 15u);  // 10 + ceil(30 x 3 / 6)
    EXPECT_EQ(t_.dMaxSignifKond, 9007199254740992.0 / 1000.0);
    const std::string banner = cmaes_Banner(t_);
    EXPECT_EQ(banner.rfind("(3,6)-CMA-ES(mu_eff=2.3), Ver=\"3.02.03.beta\", dimension=3, randomSeed=7 (", 0), 0u)
        << banner;
}

TEST_F(CmaesCycle, AFreshStateReportsNoFitnessBasedStop) {
    t_.sp.stopFitnessSet = 1;
    t_.sp.stopFitness = 1e300;
    EXPECT_EQ(cmaes_Test(t_), nullptr);
    EXPECT_EQ(cmaes_Get(t_, "generation"), 0.0);
}

TEST_F(CmaesCycle, SamplingCountsGenerationsAndEqualFitnessRanksTheHigherNumberFirst) {
    cmaes_SamplePopulation(t_);
    EXPECT_EQ(t_.gen, 1);
    EXPECT_EQ(t_.state, 1);
    cmaes_SamplePopulation(t_);  // sampling again before an update does not count
    EXPECT_EQ(t_.gen, 1);
    const double f[6] = {1, 1, 1, 1, 5, 6};
    cmaes_UpdateDistribution(t_, f);
    const int expected[6] = {3, 2, 1, 0, 4, 5};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(t_.index[static_cast<size_t>(i)], expected[i]) << i;
    }
    EXPECT_EQ(t_.state, 3);
    EXPECT_EQ(t_.countevals, 6);
    EXPECT_EQ(t_.population[4][3], 5.0);  // fitness stored after the coordinates
    EXPECT_EQ(t_.xbestever[3], 1.0);
    EXPECT_EQ(t_.xbestever[4], 6.0);
    cmaes_SamplePopulation(t_);
    EXPECT_EQ(t_.gen, 2);
}

TEST_F(CmaesCycle, EqualBestAndMedianFitnessRaiseSigmaByTheDocumentedFactor) {
    cmaes_t twin = t_;
    cmaes_SamplePopulation(t_);
    cmaes_SamplePopulation(twin);
    // The same ranking and parents; only the median's value differs.
    const double equal[6] = {1, 1, 1, 1, 5, 6};
    const double distinct[6] = {1.0, 0.9, 0.8, 0.7, 5, 6};
    cmaes_UpdateDistribution(t_, equal);
    cmaes_UpdateDistribution(twin, distinct);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t_.xmean[static_cast<size_t>(i)], twin.xmean[static_cast<size_t>(i)]);
    }
    // The raised sigma also shortens the path for sigma, which enters the final
    // step-size change: sigma_equal / sigma_distinct = exp(0.2 + cs / damps) x
    // exp((|ps_equal| - |ps_distinct|) / chiN x cs / damps).
    auto norm = [](const cmaes_vector &v) {
        double s = 0;
        for (double x : v) {
            s += x * x;
        }
        return std::sqrt(s);
    };
    const double a = t_.sp.cs / t_.sp.damps;
    EXPECT_LT(norm(t_.rgps), norm(twin.rgps));
    EXPECT_NEAR(t_.sigma / twin.sigma,
                std::exp(0.2 + a) * std::exp((norm(t_.rgps) - norm(twin.rgps)) / t_.chiN * a), 1e-12);
    const std::string log = read("errcmaes.err");
    EXPECT_NE(log.find("Warning: sigma increased due to equal function values\n"
                       "   Reconsider the formulation of the objective function"),
              std::string::npos);
}

TEST_F(CmaesCycle, TheMeanMovesToTheWeightedParents) {
    const cmaes_population &pop = cmaes_SamplePopulation(t_);
    double f[6];
    for (int i = 0; i < 6; ++i) {
        f[i] = 10.0 - i;  // candidate 5 best, then 4, then 3
    }
    cmaes_vector expected(3, 0.0);
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            expected[static_cast<size_t>(i)] += t_.sp.weights[static_cast<size_t>(k)] * pop[static_cast<size_t>(5 - k)][static_cast<size_t>(i)];
        }
    }
    const double *mean = cmaes_UpdateDistribution(t_, f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(mean[i], expected[static_cast<size_t>(i)], 1e-14);
    }
    EXPECT_EQ(t_.funcValueHistory[0], 5.0);
    EXPECT_EQ(cmaes_Get(t_, "fitness"), 5.0);
    const double *xbest = cmaes_GetVector(t_, "xbest");
    EXPECT_EQ(xbest[0], pop[5][0]);
}

TEST_F(CmaesCycle, OutOfOrderCallsAreFatal) {
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(cmaes_ReSampleSingle(t_, 6));
    EXPECT_CMAES_FATAL(cmaes_ReSampleSingle(t_, -1));
    EXPECT_CMAES_FATAL(cmaes_ReSampleSingleInto(t_, nullptr));
    cmaes_SamplePopulation(t_);
    EXPECT_CMAES_FATAL(cmaes_SetMean(t_, t_.xmean.data()));
    EXPECT_CMAES_FATAL(cmaes_UpdateDistribution(t_, nullptr));
    cmaes_UpdateDistribution(t_, fitness_);
    EXPECT_CMAES_FATAL(cmaes_UpdateDistribution(t_, fitness_));
    EXPECT_CMAES_FATAL(cmaes_Get(t_, "nothing"));
    testing::internal::GetCapturedStdout();
    const std::string log = read("errcmaes.err");
    EXPECT_NE(log.find("cmaes_ReSampleSingle(): Population member index==6 must be between 0 and 6"),
              std::string::npos);
    EXPECT_NE(log.find("cmaes_ReSampleSingle(): Missing input double *x"), std::string::npos);
    EXPECT_NE(log.find("cmaes_SetMean: mean cannot be set inbetween the calls of SamplePopulation and "
                       "UpdateDistribution"),
              std::string::npos);
    EXPECT_NE(log.find("cmaes_UpdateDistribution(): Fitness function value array input is missing."),
              std::string::npos);
    EXPECT_NE(log.find("cmaes_UpdateDistribution(): You need to call \nSamplePopulation() before update can "
                       "take place."),
              std::string::npos);
    EXPECT_NE(log.find("cmaes_Get(cmaes_t, char const * s): No match found for s='nothing'"), std::string::npos);
}

TEST_F(CmaesCycle, ReSamplingOneMemberLeavesTheOthers) {
    const cmaes_population &pop = cmaes_SamplePopulation(t_);
    const cmaes_vector before0 = pop[0];
    const cmaes_vector before2 = pop[2];
    cmaes_ReSampleSingle(t_, 2);
    EXPECT_EQ(pop[0], before0);
    EXPECT_NE(pop[2], before2);
    double x[3];
    cmaes_ReSampleSingleInto(t_, x);
    EXPECT_TRUE(std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]));
    EXPECT_EQ(cmaes_SampleSingle(t_).size(), 3u);
}

TEST_F(CmaesCycle, GetKeysMatchOnTheirLeadingLetters) {
    EXPECT_EQ(cmaes_Get(t_, "popsize"), 6.0);
    EXPECT_EQ(cmaes_Get(t_, "lambda"), 6.0);
    EXPECT_EQ(cmaes_Get(t_, "samplesize"), 6.0);
    EXPECT_EQ(cmaes_Get(t_, "Nonsense"), 3.0);
    EXPECT_EQ(cmaes_Get(t_, "n"), 3.0);
    EXPECT_EQ(cmaes_Get(t_, "dim"), 3.0);
    EXPECT_EQ(cmaes_Get(t_, "sigma"), t_.sigma);
    EXPECT_EQ(cmaes_Get(t_, "maxgen"), std::ceil(t_.sp.stopMaxIter));
    EXPECT_EQ(cmaes_Get(t_, "stopMaxFunEvals"), t_.sp.stopMaxFunEvals);
    EXPECT_NEAR(cmaes_Get(t_, "maxstddev"), 0.5, 1e-15);
    EXPECT_NEAR(cmaes_Get(t_, "axisratio"), 1.0, 1e-15);
    const double *diag = cmaes_GetVector(t_, "diag(C)");
    EXPECT_EQ(diag[0], 1.0);
    const double *dev = cmaes_GetVector(t_, "stddev");
    EXPECT_NEAR(dev[2], 0.5, 1e-15);
    EXPECT_EQ(cmaes_GetVector(t_, "unknown"), nullptr);
    double buffer[3] = {0, 0, 0};
    EXPECT_EQ(cmaes_GetVectorInto(t_, "xmean", buffer), buffer);
    EXPECT_EQ(buffer[1], 2.0);
    EXPECT_TRUE(cmaes_GetVectorCopy(t_, "unknown").empty());
}

TEST_F(CmaesCycle, StopFitnessAndTheManualStop) {
    t_.sp.stopFitnessSet = 1;
    t_.sp.stopFitness = 0.5;
    cmaes_SamplePopulation(t_);
    const double f[6] = {0.25, 3, 4, 5, 6, 7};
    cmaes_UpdateDistribution(t_, f);
    std::string text = cmaes_Test(t_);
    EXPECT_EQ(text.rfind("Fitness: function value 2.50e-01 <= stopFitness (5.00e-01)\n", 0), 0u) << text;
    t_.flgStop = 1;
    text = cmaes_Test(t_);
    EXPECT_EQ(text.substr(text.size() - 25), "Manual: stop signal read\n");
}

TEST_F(CmaesCycle, AllReasonsTogetherDoNotOverflowTheText) {
    cmaes_SamplePopulation(t_);
    const double f[6] = {0, 0, 0, 0, 0, 0};
    cmaes_UpdateDistribution(t_, f);
    t_.sp.stopFitnessSet = 1;
    t_.sp.stopFitness = 1;
    t_.sp.stopTolX = 1e300;
    t_.sp.stopTolUpXFactor = 0;
    t_.sp.stopMaxFunEvals = 1;
    t_.sp.stopMaxIter = 1;
    t_.flgStop = 1;
    t_.minEW = 0;
    t_.gen = 100;
    const std::string text = cmaes_Test(t_);
    EXPECT_GT(text.size(), 330u);
    for (const char *reason : {"Fitness:", "TolFun:", "TolFunHist:", "TolX:", "TolUpX:", "ConditionNumber:",
                               "MaxFunEvals:", "MaxIter:", "Manual:"}) {
        EXPECT_NE(text.find(reason), std::string::npos) << reason;
    }
}

TEST_F(CmaesCycle, NoEffectTestsFireWhenTheStepIsBelowThePrecisionOfTheMean) {
    t_.xmean[0] = 1e20;
    std::string text = cmaes_Test(t_);
    EXPECT_NE(text.find("NoEffectCoordinate: standard deviation 0.2*5.00e-01 in coordinate 0 without effect\n"),
              std::string::npos)
        << text;
    // With B the identity, axis 0 moves coordinate 0 alone.
    EXPECT_NE(text.find("NoEffectAxis: standard deviation 0.1*5.00e-01 in principal axis 0 without effect\n"),
              std::string::npos)
        << text;
}

TEST_F(CmaesCycle, TheMinimumDeviationGuardRaisesSigma) {
    t_.sp.diffMinChange.assign(3, 2.0);
    cmaes_SamplePopulation(t_);
    EXPECT_GE(t_.sigma * std::sqrt(t_.C[0][0]), 2.0);
    EXPECT_LT(t_.sigma * std::sqrt(t_.C[0][0]) / std::exp(0.05 + t_.sp.cs / t_.sp.damps), 2.0);
}

TEST_F(CmaesCycle, ReleaseMarksTheState) {
    cmaes_Release(t_);
    EXPECT_EQ(t_.state, -1);
    EXPECT_TRUE(t_.xmean.empty());
    EXPECT_TRUE(t_.sp.initialX.empty());
}

TEST_F(in_scratch_dir, NonPositiveInitialDeviationsAreRefused) {
    write("initials.par", "N 2\ninitialX 1 0\ninitialStandardDeviations 2 0.3 0\n");
    cmaes_t t;
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(cmaes_Start(t, 0, nullptr, nullptr, 1, 0, "initials.par", nullptr));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(read("errcmaes.err").find("initialStandardDeviations must be positive numbers"), std::string::npos);
}

// --- eigendecomposition --------------------------------------------------------

cmaes_population lower_triangle(const std::vector<std::vector<double>> &full) {
    cmaes_population c;
    for (size_t i = 0; i < full.size(); ++i) {
        c.emplace_back(full[i].begin(), full[i].begin() + static_cast<long>(i + 1));
    }
    return c;
}

TEST_F(in_scratch_dir, EigenOfTheSecondDifferenceMatrix) {
    // Eigenvalues 2 - 2 cos(k pi / 4): 2 - sqrt 2, 2, 2 + sqrt 2.
    cmaes_population c = lower_triangle({{2, -1, 0}, {-1, 2, -1}, {0, -1, 2}});
    cmaes_population q(3, cmaes_vector(3));
    double d[3];
    double work[4];
    cmaes_Eigen(3, c, d, q, work);
    EXPECT_NEAR(d[0], 2 - std::sqrt(2.0), 1e-14);
    EXPECT_NEAR(d[1], 2.0, 1e-14);
    EXPECT_NEAR(d[2], 2 + std::sqrt(2.0), 1e-14);
    // The eigenvector of 2 is (1, 0, -1) / sqrt 2, up to sign.
    EXPECT_NEAR(std::fabs(q[0][1]), 1 / std::sqrt(2.0), 1e-14);
    EXPECT_NEAR(q[1][1], 0.0, 1e-14);
    EXPECT_NEAR(q[0][1], -q[2][1], 1e-14);
    EXPECT_EQ(eigen_check(3, c, d, q), 0);
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(cmaes_Eigen(3, c, d, q, nullptr));
    testing::internal::GetCapturedStdout();
}

TEST_F(in_scratch_dir, EigenOfARandomCovarianceReconstructsIt) {
    const int n = 12;
    cmaes_random_t r;
    random_Start(r, 31);
    std::vector<std::vector<double>> a(n, std::vector<double>(n));
    for (auto &row : a) {
        for (double &x : row) {
            x = random_Gauss(r);
        }
    }
    std::vector<std::vector<double>> full(n, std::vector<double>(n, 0.0));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k) {
                full[static_cast<size_t>(i)][static_cast<size_t>(j)] += a[static_cast<size_t>(i)][static_cast<size_t>(k)] * a[static_cast<size_t>(j)][static_cast<size_t>(k)];
            }
        }
    }
    cmaes_population c = lower_triangle(full);
    cmaes_population q(n, cmaes_vector(n));
    std::vector<double> d(n);
    std::vector<double> work(n + 1);
    cmaes_Eigen(n, c, d.data(), q, work.data());
    double trace = 0;
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        trace += full[static_cast<size_t>(i)][static_cast<size_t>(i)];
        sum += d[static_cast<size_t>(i)];
        if (i > 0) {
            EXPECT_LE(d[static_cast<size_t>(i - 1)], d[static_cast<size_t>(i)]);
        }
    }
    EXPECT_NEAR(sum, trace, 1e-10 * trace);
    EXPECT_EQ(eigen_check(n, c, d.data(), q), 0);
    EXPECT_FALSE(exists("errcmaes.err"));
}

TEST_F(in_scratch_dir, AnEigenIterationThatDoesNotConvergeIsFatal) {
    cmaes_population c = lower_triangle({{2, 1}, {1, 2}});
    cmaes_population q(2, cmaes_vector(2));
    double d[2];
    double work[3];
    const int previous = cmaes_SetEigenIterationCap(0);
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(cmaes_Eigen(2, c, d, q, work));
    testing::internal::GetCapturedStdout();
    cmaes_SetEigenIterationCap(previous);
    EXPECT_NE(read("errcmaes.err").find("cmaes_t:Eigen(): QL algorithm did not converge"), std::string::npos);
    cmaes_Eigen(2, c, d, q, work);  // with the cap restored it converges: eigenvalues 1 and 3
    EXPECT_NEAR(d[0], 1.0, 1e-14);
    EXPECT_NEAR(d[1], 3.0, 1e-14);
}

TEST_F(in_scratch_dir, EigenCheckReportsAWrongDecomposition) {
    cmaes_population c = lower_triangle({{4, 1}, {1, 3}});
    cmaes_population q(2, cmaes_vector(2));
    q[0][0] = q[1][1] = 1.0;
    double d[2] = {4, 3};
    EXPECT_EQ(eigen_check(2, c, d, q), 2);  // the two off-diagonal places
    EXPECT_NE(read("errcmaes.err").find("cmaes_t:Eigen(): imprecise result detected 0 1: "), std::string::npos);
}

}  // namespace
