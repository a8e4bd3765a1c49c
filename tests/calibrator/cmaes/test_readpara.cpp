// Tests of the CMA-ES parameter set: "initials.par" written by hand, its
// defaults and derived values (checked against hand-computed numbers), the
// weights, the override from the calibration problem and "actparcmaes.par".
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibrator/cmaes/cmaes.h"
#include "calibrator/engine/control_data.h"
#include "cmaes_test_support.h"

namespace {

using cmaes_test::in_scratch_dir;

class Readpara : public in_scratch_dir {
protected:
    // Builds the set as the CMA-ES driver does: dimension 0, no start point,
    // no deviations, lambda 0, the parameter file and the problem.
    readpara_t build(int adjustable, int seed = 5) {
        control_data cd;
        cd.adjustable_count = adjustable;
        readpara_t sp;
        testing::internal::CaptureStdout();
        try {
            readpara_readpara_t(sp, 0, seed, nullptr, nullptr, 0, "initials.par", &cd);
        } catch (...) {
            printed_ = testing::internal::GetCapturedStdout();
            throw;
        }
        printed_ = testing::internal::GetCapturedStdout();
        return sp;
    }
    std::string printed_;
};

size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) {
        ++n;
    }
    return n;
}

TEST_F(Readpara, OnlyTheDimensionGivesTheDocumentedDefaults) {
    write("initials.par", "N 5\n");
    readpara_t sp = build(5);

    EXPECT_NE(printed_.find("\nWarning: initialX undefined. typicalX = 0.5...0.5 used.\n"), std::string::npos);
    EXPECT_NE(printed_.find("\nWarning: initialStandardDeviations. 0.3...0.3 used.\n"), std::string::npos);
    const std::string log = read("errcmaes.err");
    EXPECT_NE(log.find("Warning: initialX undefined. typicalX = 0.5...0.5 used."), std::string::npos);
    EXPECT_NE(log.find("Warning: initialStandardDeviations undefined. 0.3...0.3 used."), std::string::npos);

    ASSERT_EQ(sp.N, 5);
    ASSERT_EQ(sp.initialX.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(sp.initialX[static_cast<size_t>(i)], 0.5);
        EXPECT_EQ(sp.initialStandardDeviations[static_cast<size_t>(i)], 0.3);
    }
    EXPECT_EQ(sp.typicalStart, 1);
    EXPECT_EQ(sp.lambda, 8);
    EXPECT_EQ(sp.mu, 4);
    // Logarithmic weights ln(5) - ln(i + 1), normalised.
    ASSERT_EQ(sp.weights.size(), 4u);
    EXPECT_NEAR(sp.weights[0], 0.49373837748434096, 1e-14);
    EXPECT_NEAR(sp.weights[1], 0.2810968324806433, 1e-14);
    EXPECT_NEAR(sp.weights[2], 0.15670950255807004, 1e-14);
    EXPECT_NEAR(sp.weights[3], 0.0684552874769457, 1e-14);
    EXPECT_NEAR(sp.mueff, 2.8406104297170534, 1e-13);
    EXPECT_NEAR(sp.cs, 0.446525632583164, 1e-14);
    EXPECT_NEAR(sp.ccumcov, 4.0 / 9.0, 1e-15);
    EXPECT_NEAR(sp.mucov, sp.mueff, 1e-15);
    EXPECT_NEAR(sp.ccov, 0.07562451242942472, 1e-14);
    EXPECT_EQ(sp.stopMaxFunEvals, 57600.0);
    EXPECT_EQ(sp.stopMaxIter, 7200.0);
    EXPECT_NEAR(sp.damps, 1.4458311881388162, 1e-13);
    EXPECT_NEAR(sp.updatecov, 0.2644645149767366, 1e-13);
    EXPECT_EQ(sp.maxTimeFractionForEigendecompostion, 0.2);
    EXPECT_EQ(sp.stopFitnessSet, 0);
    EXPECT_EQ(sp.stopTolFun, 1e-4);
    EXPECT_EQ(sp.stopTolFunHist, 1e-5);
    EXPECT_EQ(sp.stopTolX, 0.0);
    EXPECT_EQ(sp.stopTolUpXFactor, 1000.0);
    EXPECT_EQ(sp.resumeFile, "_no_");
}

TEST_F(Readpara, ActualParametersRecordOneBlockPerRun) {
    write("initials.par", "N 5\nseed 17\n");
    build(5);
    std::string rec = read("actparcmaes.par");
    EXPECT_EQ(rec.rfind("\n# Read from initials.par at ", 0), 0u);
    EXPECT_NE(rec.find("\n N 5\n"), std::string::npos);
    EXPECT_NE(rec.find("\n initialX 5\n    0.5     0.5     0.5     0.5     0.5\n\n"), std::string::npos);
    EXPECT_NE(rec.find("\n initialStandardDeviations 5\n"), std::string::npos);
    EXPECT_NE(rec.find("\n seed 17\n"), std::string::npos);
    EXPECT_NE(rec.find("\n lambda 8\n"), std::string::npos);
    EXPECT_NE(rec.find("\n mu 4\n"), std::string::npos);
    EXPECT_NE(rec.find("\n stopTolFun 0.0001\n"), std::string::npos);
    EXPECT_NE(rec.find("\n stopTolFunHist 1e-05\n"), std::string::npos);
    EXPECT_NE(rec.find("\n stopFitness\n"), std::string::npos);
    EXPECT_NE(rec.find("\n stopMaxFunEvals 57600\n"), std::string::npos);
    EXPECT_NE(rec.find("\n weights   log\n"), std::string::npos);
    // Factor keys are recorded without "fac*", with the value the defaults produced.
    EXPECT_NE(rec.find("\n cs 0.446526\n"), std::string::npos);
    EXPECT_NE(rec.find("\n damps 1.44583\n"), std::string::npos);
    EXPECT_NE(rec.find("\n ccov 0.0756245\n"), std::string::npos);
    EXPECT_EQ(rec.find("fac*"), std::string::npos);
    EXPECT_EQ(rec.find("typicalX"), std::string::npos);
    EXPECT_NE(rec.find("\n resume "), std::string::npos);
    EXPECT_EQ(rec.find("updatecov"), rec.rfind("updatecov"));  // fac*updatecov is not recorded

    build(5);
    rec = read("actparcmaes.par");
    EXPECT_EQ(count_of(rec, "# Read from initials.par at "), 2u);
}

TEST_F(Readpara, VectorValuesAreRepeatedCyclicallyAndMayFollowOnLaterLines) {
    write("initials.par",
          "# a comment line: N 3\n"
          "N 5\n"
          "initialX 2 1\n"
          "   2\n"
          "initialStandardDeviations 1\n"
          "0.25\n");
    readpara_t sp = build(5);
    const double expected[] = {1, 2, 1, 2, 1};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(sp.initialX[static_cast<size_t>(i)], expected[i]) << i;
        EXPECT_EQ(sp.initialStandardDeviations[static_cast<size_t>(i)], 0.25);
    }
    EXPECT_EQ(sp.typicalStart, 0);
    EXPECT_EQ(printed_.find("Warning"), std::string::npos);
}

TEST_F(Readpara, FirstScalarLineCountsButTheLastVectorLineCounts) {
    write("initials.par",
          "N 2\n"
          "stopTolX 0.5\n"
          "% stopTolUpXFactor 7 is a comment\n"
          "stopTolX 0.25\n"
          "stopTolUpXFactor 9\n"
          "typicalX 2 1 1\n"
          "typicalX 2 3 4\n"
          "stopFitness 1e-8\n");
    readpara_t sp = build(2);
    EXPECT_EQ(sp.stopTolX, 0.5);
    EXPECT_EQ(sp.stopTolUpXFactor, 9.0);
    ASSERT_EQ(sp.typicalX.size(), 2u);
    EXPECT_EQ(sp.typicalX[0], 3.0);
    EXPECT_EQ(sp.typicalX[1], 4.0);
    // Without initialX the start point is typicalX.
    EXPECT_EQ(sp.initialX[0], 3.0);
    EXPECT_EQ(sp.initialX[1], 4.0);
    EXPECT_EQ(sp.typicalStart, 1);
    EXPECT_EQ(sp.stopFitnessSet, 1);
    EXPECT_EQ(sp.stopFitness, 1e-8);
}

TEST_F(Readpara, KeysDoNotMatchLongerWords) {
    write("initials.par",
          "N 2\n"
          "mucov 3\n"
          "stopTolFunHist 0.5\n");
    control_data cd;
    cd.adjustable_count = 2;
    readpara_t sp;
    sp.N = 0;
    readpara_ReadFromFile(sp, "initials.par");
    EXPECT_EQ(sp.mu, -1);
    EXPECT_EQ(sp.mucov, 3.0);
    EXPECT_EQ(sp.stopTolFun, 1e-12);
    EXPECT_EQ(sp.stopTolFunHist, 0.5);
}

TEST_F(Readpara, LinearWeightsForThreeParents) {
    readpara_t sp;
    sp.N = 3;
    sp.lambda = 6;
    sp.mu = 3;
    readpara_SetWeights(sp, "lin");
    ASSERT_EQ(sp.weights.size(), 3u);
    EXPECT_NEAR(sp.weights[0], 3.0 / 6.0, 1e-15);
    EXPECT_NEAR(sp.weights[1], 2.0 / 6.0, 1e-15);
    EXPECT_NEAR(sp.weights[2], 1.0 / 6.0, 1e-15);
    EXPECT_NEAR(sp.mueff, 36.0 / 14.0, 1e-14);

    readpara_SetWeights(sp, "equal");
    EXPECT_NEAR(sp.weights[2], 1.0 / 3.0, 1e-15);
    EXPECT_NEAR(sp.mueff, 3.0, 1e-14);
}

TEST_F(Readpara, InvalidParentCountsAreFatal) {
    testing::internal::CaptureStdout();
    readpara_t sp;
    sp.lambda = 4;
    sp.mu = 4;
    EXPECT_CMAES_FATAL(readpara_SetWeights(sp, "equal"));  // mu = lambda with equal weights
    sp.mu = 5;
    EXPECT_CMAES_FATAL(readpara_SetWeights(sp, "log"));  // lambda < mu
    sp.mu = 0;
    EXPECT_CMAES_FATAL(readpara_SetWeights(sp, "log"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(count_of(read("errcmaes.err"), "readpara_SetWeights(): invalid setting of mu or lambda"), 3u);
}

TEST_F(Readpara, TooFewVectorValuesAreFatal) {
    write("initials.par", "N 3\ninitialX 3\n1 2\n# 3\n");
    EXPECT_CMAES_FATAL(build(3));
    const std::string log = read("errcmaes.err");
    EXPECT_NE(log.find("readpara_ReadFromFile initials.par: "), std::string::npos);
    EXPECT_NE(log.find("' initialX %d' not enough values found.\n   Remove all comments between numbers."),
              std::string::npos);
}

TEST_F(Readpara, AMissingOrDimensionlessFileIsFatal) {
    EXPECT_CMAES_FATAL(build(3));
    std::string log = read("errcmaes.err");
    EXPECT_NE(log.find("cmaes_ReadFromFile(): could not open 'initials.par'"), std::string::npos);
    EXPECT_NE(log.find("readpara_readpara_t(): problem dimension N undefined.\n  (no default value available)."),
              std::string::npos);

    write("initials.par", "N 0\n");
    EXPECT_CMAES_FATAL(build(3));
    EXPECT_NE(read("errcmaes.err").find("readpara_ReadFromFile(): No valid dimension N"), std::string::npos);
}

TEST_F(Readpara, AProblemWithoutAdjustableParametersIsRefused) {
    write("initials.par", "N 4\n");
    EXPECT_CMAES_FATAL(build(0));
    EXPECT_NE(read("errcmaes.err").find("the calibration problem has no adjustable parameter"), std::string::npos);
}

TEST_F(Readpara, APopulationSizeFromTheFileIsReplacedAndEverythingDerivedAgain) {
    write("initials.par", "N 5\nlambda 20\nmu 10\nweights lin\n");
    readpara_t sp = build(5);
    EXPECT_EQ(sp.lambda, 8);
    EXPECT_EQ(sp.mu, 4);
    ASSERT_EQ(sp.weights.size(), 4u);
    EXPECT_NEAR(sp.weights[0], 0.4, 1e-15);  // linear weights 4, 3, 2, 1 over 10
    EXPECT_NEAR(sp.weights[3], 0.1, 1e-15);
    EXPECT_NEAR(sp.mueff, 100.0 / 30.0, 1e-14);
    EXPECT_NEAR(sp.cs, (sp.mueff + 2) / (5 + sp.mueff + 3), 1e-15);
    EXPECT_EQ(sp.stopMaxIter, 7200.0);  // ceil(57600 / 8)
    EXPECT_NE(read("actparcmaes.par").find("\n lambda 8\n"), std::string::npos);
}

TEST_F(Readpara, GivenFactorsScaleTheDefaults) {
    write("initials.par",
          "N 5\n"
          "fac*cs 0.5\n"
          "fac*maxFunEvals 2\n"
          "stopMaxIter 100\n"
          "maxTimeFractionForEigendecompostion 1\n");
    readpara_t sp = build(5);
    EXPECT_NEAR(sp.cs, 0.5 * 0.446525632583164, 1e-14);
    EXPECT_EQ(sp.stopMaxFunEvals, 2 * 57600.0);
    EXPECT_EQ(sp.stopMaxIter, 100.0);
    EXPECT_EQ(sp.maxTimeFractionForEigendecompostion, 1.0);
    // damps with stopMaxIter 100: 1 x max(0.3, 1 - 5 / 100) + cs.
    EXPECT_NEAR(sp.damps, 0.95 + sp.cs, 1e-6);
}

TEST_F(Readpara, FileNameNonReadsNothingAndRecordsNothing) {
    const double x[2] = {1.0, -1.0};
    const double s[2] = {0.1, 0.2};
    readpara_t sp;
    readpara_readpara_t(sp, 2, 3, x, s, 0, "non", nullptr);
    EXPECT_EQ(sp.N, 2);
    EXPECT_EQ(sp.initialX[1], -1.0);
    EXPECT_EQ(sp.initialStandardDeviations[1], 0.2);
    EXPECT_EQ(sp.lambda, 6);
    EXPECT_EQ(sp.stopTolFun, 1e-12);  // no problem, no override
    EXPECT_FALSE(exists("actparcmaes.par"));
    EXPECT_FALSE(exists("errcmaes.err"));
}

}  // namespace
