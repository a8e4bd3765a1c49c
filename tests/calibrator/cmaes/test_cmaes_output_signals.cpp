// Tests of the keyed output of the CMA-ES state, the resume block and its
// round trip, and the signals file (stop, stop values, print, write, check).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "calibrator/cmaes/cmaes.h"
#include "cmaes_test_support.h"

namespace {

using cmaes_test::in_scratch_dir;

double ellipsoid(const double *x, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) {
        s += std::pow(10.0, i) * x[i] * x[i];
    }
    return s;
}

class CmaesOutput : public in_scratch_dir {
protected:
    void start(const std::string &extra = "") {
        write("initials.par",
              "N 3\nseed 11\ninitialX 3 1 -1 2\ninitialStandardDeviations 1 0.4\n"
              "maxTimeFractionForEigendecompostion 1\n" +
                  extra);
        testing::internal::CaptureStdout();
        fitness_ = cmaes_Start(t_, 0, nullptr, nullptr, 0, 0, "initials.par", nullptr);
        testing::internal::GetCapturedStdout();
    }
    void generations(int count) {
        for (int g = 0; g < count; ++g) {
            const cmaes_population &pop = cmaes_SamplePopulation(t_);
            for (int i = 0; i < t_.sp.lambda; ++i) {
                fitness_[i] = ellipsoid(pop[static_cast<size_t>(i)].data(), t_.sp.N);
            }
            cmaes_UpdateDistribution(t_, fitness_);
        }
    }
    std::string keyed(const char *key) {
        std::FILE *fp = std::fopen("keyed.txt", "w");
        cmaes_WriteToFilePtr(t_, key, fp);
        std::fclose(fp);
        return read("keyed.txt");
    }
    cmaes_t t_;
    double *fitness_ = nullptr;
};

TEST_F(CmaesOutput, JoinedKeysAreSeparatedByTabsAndEndInALineBreak) {
    start();
    generations(3);
    EXPECT_EQ(keyed("eval+sigma"), cmaes_format("%.0f\t%.4e\n", t_.countevals, t_.sigma));
    EXPECT_EQ(keyed("eval"), "21\n");  // 3 generations of lambda 7
    EXPECT_EQ(keyed("dim+lambda+N+0"), "3\t7\t3\t0\n");
    EXPECT_EQ(keyed("gen+fbestever"), cmaes_format("3\t%.15e\n", t_.xbestever[3]));
    EXPECT_EQ(keyed("xmean"), cmaes_format("%g\t%g\t%g\n", t_.xmean[0], t_.xmean[1], t_.xmean[2]));
}

TEST_F(CmaesOutput, AnUnknownKeyIsLoggedAndSkipped) {
    start();
    EXPECT_EQ(keyed("eval+bogus+dim"), "0\t3\n");
    EXPECT_NE(read("errcmaes.err").find("cmaes_t:WriteToFilePtr(): unrecognized key 'bogus+dim'"),
              std::string::npos);
}

TEST_F(CmaesOutput, MatrixKeysWriteWholeLines) {
    start();
    const std::string c = keyed("C");
    EXPECT_EQ(c, "1\n0\t1\n0\t0\t1\n");
    // Equal axis lengths: B in the order of decreasing eigenvalue is still the identity.
    const std::string b = keyed("B");
    int lines = 0;
    for (char ch : b) {
        lines += ch == '\n' ? 1 : 0;
    }
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(keyed("fewinfo").substr(0, 8), " Fevals ");
    EXPECT_EQ(keyed("few(diag(D))"), "1\t1\t1\n");
}

TEST_F(CmaesOutput, TheAllReportListsTheRunsFigures) {
    start();
    generations(2);
    cmaes_AppendToFile(t_, "all", "allcmaes.dat");
    const std::string all = read("allcmaes.dat");
    EXPECT_EQ(all.rfind("\n# --------- ", 0), 0u);
    EXPECT_NE(all.find("\n N 3\n seed 11\nfunction evaluations 14\n"), std::string::npos);
    EXPECT_NE(all.find(cmaes_format("sigma %g\n", t_.sigma)), std::string::npos);
    EXPECT_NE(all.find("xbestever found after "), std::string::npos);
    EXPECT_NE(all.find("xmean \n"), std::string::npos);
    EXPECT_NE(all.find(cmaes_format(" %12g  %12g  %12g\n", t_.xmean[0], t_.xmean[1], t_.xmean[2])),
              std::string::npos);
    EXPECT_NE(all.find("Shortest axis (b_i where d_ii=max(diag(D))\n"), std::string::npos);
}

TEST_F(CmaesOutput, WriteModeOnlyWritesTheHeaderAndFitFilesWaitForAGeneration) {
    start();
    cmaes_WriteToFile(t_, "eval", "out.dat", "w");
    const std::string header = read("out.dat");
    EXPECT_EQ(header.rfind("% # eval (randomSeed=11, ", 0), 0u) << header;
    cmaes_WriteToFile(t_, "eval", "outcmaesfit.dat", "a");
    EXPECT_EQ(read("outcmaesfit.dat"), "");
    generations(1);
    cmaes_WriteToFile(t_, "eval", "outcmaesfit.dat", "a");
    EXPECT_EQ(read("outcmaesfit.dat"), "7\n");
}

TEST_F(CmaesOutput, ResumeRestoresTheLastBlock) {
    start();
    generations(2);
    cmaes_AppendToFile(t_, "resume", "resume.dat");
    generations(3);
    cmaes_AppendToFile(t_, "resume", "resume.dat");
    const cmaes_t saved = t_;

    cmaes_t r;
    write("initials.par",
          "N 3\nseed 12\ninitialX 3 0 0 0\ninitialStandardDeviations 1 1\nresume resume.dat\n");
    testing::internal::CaptureStdout();
    cmaes_Start(r, 0, nullptr, nullptr, 0, 0, "initials.par", nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.flgresumedone, 1);
    auto close = [](double a, double b) { return std::fabs(a - b) <= 1e-5 * std::fabs(b) + 1e-300; };
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(close(r.xmean[static_cast<size_t>(i)], saved.xmean[static_cast<size_t>(i)])) << i;
        EXPECT_TRUE(close(r.rgps[static_cast<size_t>(i)], saved.rgps[static_cast<size_t>(i)])) << i;
        EXPECT_TRUE(close(r.rgpc[static_cast<size_t>(i)], saved.rgpc[static_cast<size_t>(i)])) << i;
        for (int j = 0; j <= i; ++j) {
            EXPECT_TRUE(close(r.C[static_cast<size_t>(i)][static_cast<size_t>(j)],
                              saved.C[static_cast<size_t>(i)][static_cast<size_t>(j)]))
                << i << " " << j;
        }
    }
    EXPECT_TRUE(close(r.sigma, saved.sigma));
    // The eigensystem was recomputed from the restored C.
    EXPECT_EQ(r.flgEigensysIsUptodate, 1);
    double trace = 0;
    double sum = 0;
    for (int i = 0; i < 3; ++i) {
        trace += r.C[static_cast<size_t>(i)][static_cast<size_t>(i)];
        sum += r.rgD[static_cast<size_t>(i)] * r.rgD[static_cast<size_t>(i)];
    }
    EXPECT_NEAR(sum, trace, 1e-12 * trace);
}

TEST_F(CmaesOutput, ABrokenResumeFileIsFatal) {
    write("other.dat", "\n# resume 2\nxmean\n1\t2\n");
    write("none.dat", "nothing to resume here\n");
    write("short.dat", "\n# resume 3\nxmean\n1\t2\n");
    start();
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(cmaes_resume_distribution(t_, "other.dat"));
    EXPECT_CMAES_FATAL(cmaes_resume_distribution(t_, "none.dat"));
    EXPECT_CMAES_FATAL(cmaes_resume_distribution(t_, "short.dat"));
    testing::internal::GetCapturedStdout();
    const std::string log = read("errcmaes.err");
    EXPECT_NE(log.find("cmaes_resume_distribution(): Dimension numbers do not match"), std::string::npos);
    EXPECT_NE(log.find("cmaes_resume_distribution(): xmean: dimensions differ"), std::string::npos);
    cmaes_resume_distribution(t_, "missing.dat");
    EXPECT_NE(read("errcmaes.err").find("cmaes_resume_distribution(): could not open 'missing.dat'"),
              std::string::npos);
}

class CmaesSignals : public CmaesOutput {};

TEST_F(CmaesSignals, StopNowEndsTheRunWithTheManualReason) {
    start();
    cmaes_ReadSignals(t_, "signals.par");  // no file: nothing happens
    EXPECT_EQ(t_.flgStop, 0);
    generations(1);
    write("signals.par", "# stop now is only a comment here\n");
    cmaes_ReadSignals(t_, "signals.par");
    EXPECT_EQ(t_.flgStop, 0);
    write("signals.par", "stop now\n");
    cmaes_ReadSignals(t_, "signals.par");
    EXPECT_EQ(t_.flgStop, 1);
    EXPECT_EQ(std::string(cmaes_Test(t_)), "Manual: stop signal read\n");
}

TEST_F(CmaesSignals, StopLinesChangeStopValues) {
    start();
    write("signals.par",
          "stop TolX 0.001\n"
          "stop MaxFunEvals 500\n"
          "stop MaxIter 40\n"
          "stop Fitness 1e-9\n"
          "stop TolFunHist 1e-3\n"
          "stop TolFun 1e-2\n"
          "stop TolUpXFactor 50\n"
          "stop TolX notanumber\n"
          "stop whatever 3\n");
    cmaes_ReadSignals(t_, "signals.par");
    EXPECT_EQ(t_.sp.stopTolX, 0.001);
    EXPECT_EQ(t_.sp.stopMaxFunEvals, 500.0);
    EXPECT_EQ(t_.sp.stopMaxIter, 40.0);
    EXPECT_EQ(t_.sp.stopFitness, 1e-9);
    EXPECT_EQ(t_.sp.stopFitnessSet, 1);
    EXPECT_EQ(t_.sp.stopTolFunHist, 1e-3);
    EXPECT_EQ(t_.sp.stopTolFun, 1e-2);
    EXPECT_EQ(t_.sp.stopTolUpXFactor, 50.0);
}

TEST_F(CmaesSignals, CheckAndTimeBudgetLines) {
    start();
    write("signals.par", "check eigen 1\nmaxTimeFractionForEigendecompostion 0.5\n");
    cmaes_ReadSignals(t_, "signals.par");
    EXPECT_EQ(t_.flgCheckEigen, 1);
    EXPECT_EQ(t_.sp.maxTimeFractionForEigendecompostion, 0.5);
    generations(4);  // decompositions are checked and find nothing
    EXPECT_FALSE(exists("errcmaes.err"));
    write("signals.par", "check eigen off\n");
    cmaes_ReadSignals(t_, "signals.par");
    EXPECT_EQ(t_.flgCheckEigen, 0);
}

TEST_F(CmaesSignals, PrintAndWriteLinesProduceKeyedOutput) {
    start();
    write("signals.par", "print eval+dim\nwrite eval+gen progress.dat\n");
    testing::internal::CaptureStdout();
    cmaes_ReadSignals(t_, "signals.par");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "0\t3\n");
    // Before the first generation the file is created anew with its header.
    std::string progress = read("progress.dat");
    EXPECT_EQ(progress.rfind("% # eval+gen (randomSeed=11, ", 0), 0u) << progress;
    EXPECT_NE(progress.find(")\n0\t0\n"), std::string::npos) << progress;

    generations(1);
    testing::internal::CaptureStdout();
    cmaes_ReadSignals(t_, "signals.par");
    testing::internal::GetCapturedStdout();
    progress = read("progress.dat");
    EXPECT_NE(progress.find("\n7\t1\n"), std::string::npos) << progress;
}

TEST_F(CmaesSignals, ANegativeIntervalHoldsPrintingBack) {
    start();
    write("signals.par", "print eval -1\nprint dim 0\n");
    testing::internal::CaptureStdout();
    cmaes_ReadSignals(t_, "signals.par");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    write("signals.par", "print dim 0\n");
    testing::internal::CaptureStdout();
    cmaes_ReadSignals(t_, "signals.par");  // the hold still applies in the next reading
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    testing::internal::CaptureStdout();
    cmaes_ReadSignals(t_, "signals.par");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "3\n");
}

}  // namespace
