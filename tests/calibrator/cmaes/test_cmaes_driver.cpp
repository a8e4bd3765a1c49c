// Tests of the CMA-ES driver's own pieces: the bounds test of candidates, the
// batch bookkeeping of the screening passes, the archive of evaluated points
// with its local surrogate prediction, and the sizing of the optimiser for the
// dimension of the calibration problem.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibrator/cmaes/cmaes.h"
#include "calibrator/cmaes/cmaes_driver.h"
#include "calibrator/cmaes/rbf.h"
#include "calibrator/engine/control_data.h"
#include "cmaes_test_support.h"

namespace {

using cmaes_test::in_scratch_dir;

parameter_data parameter(const std::string &name, const std::string &transform, double lower,
                         double upper) {
    parameter_data p;
    p.name = name;
    p.transform = transform;
    p.lower_bound = lower;
    p.upper_bound = upper;
    return p;
}

// A problem of the given parameters (table from index 1) with adjustable_count set.
control_data problem(const std::vector<parameter_data> &parameters) {
    control_data cd;
    cd.parameters.push_back(parameter_data{});
    for (const parameter_data &p : parameters) {
        cd.parameters.push_back(p);
        if (p.transform != "fixed" && p.transform != "tied") ++cd.adjustable_count;
    }
    cd.parameter_count = static_cast<int>(parameters.size());
    return cd;
}

// An optimiser state holding one population member with the given coordinates.
cmaes_t one_member(const std::vector<double> &x) {
    cmaes_t evo;
    cmaes_vector member(x.begin(), x.end());
    member.push_back(0.0);  // the fitness slot
    evo.population.push_back(member);
    return evo;
}

TEST(CmaesCandidateInBounds, BothBoundsAreInside) {
    const control_data cd = problem({parameter("a", "none", -1.0, 2.0), parameter("b", "log", -2.0, 1.0)});
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({-1.0, 1.0}), cd, 0), 1);
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({2.0, -2.0}), cd, 0), 1);
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({0.5, 0.0}), cd, 0), 1);
}

TEST(CmaesCandidateInBounds, AnyCoordinateOutsideFails) {
    const control_data cd = problem({parameter("a", "none", -1.0, 2.0), parameter("b", "log", -2.0, 1.0)});
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({-1.0000001, 0.0}), cd, 0), 0);
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({0.0, 1.0000001}), cd, 0), 0);
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({std::nan(""), 0.0}), cd, 0), 0);
}

TEST(CmaesCandidateInBounds, FixedAndTiedParametersHaveNoCoordinate) {
    // Coordinate 0 belongs to "b", coordinate 1 to "d"; the bounds of the fixed
    // and tied parameters in between would refuse both values.
    const control_data cd = problem({parameter("a", "fixed", 100.0, 200.0), parameter("b", "none", 0.0, 1.0),
                                     parameter("c", "tied", 100.0, 200.0), parameter("d", "none", 5.0, 6.0)});
    ASSERT_EQ(cd.adjustable_count, 2);
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({0.5, 5.5}), cd, 0), 1);
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({0.5, 4.0}), cd, 0), 0);
    EXPECT_EQ(cmaes_candidate_in_bounds(one_member({}), problem({parameter("a", "fixed", 1, 2)}), 0), 1);
}

TEST(CmaesBatches, StepIsATenthOfThePopulationButAtLeastOne) {
    EXPECT_EQ(cmaes_batch_step(4), 1);
    EXPECT_EQ(cmaes_batch_step(10), 1);
    EXPECT_EQ(cmaes_batch_step(19), 1);
    EXPECT_EQ(cmaes_batch_step(25), 2);
    EXPECT_EQ(cmaes_batch_step(30), 3);
}

TEST(CmaesBatches, PassesCoverTheRanksOnceAndEndAtThePopulation) {
    // popsize 25, E 2, first batch 8: 8, 10, 12, ..., 24, then 25 (not 26, and
    // never a batch that ends before it starts).
    const int popsize = 25;
    const int E = cmaes_batch_step(popsize);
    int end = 0;
    int covered = 0;
    int passes = 0;
    while (end < popsize) {
        const int start = end;
        end = cmaes_batch_end(passes + 1, end, 8, E, popsize);
        ++passes;
        ASSERT_GT(end, start);
        covered += end - start;
    }
    EXPECT_EQ(covered, popsize);
    EXPECT_EQ(passes, 10);
    EXPECT_EQ(cmaes_batch_end(1, 0, 25, 2, 25), 25);
    EXPECT_EQ(cmaes_batch_end(2, 24, 8, 2, 25), 25);
}

TEST(CmaesBatches, FirstBatchFollowsTheNumberOfPasses) {
    // One pass: shrink by E, not below E.
    EXPECT_EQ(cmaes_next_batch_size(6, 1, 1, 6), 5);
    EXPECT_EQ(cmaes_next_batch_size(3, 2, 1, 25), 2);
    // Two passes: unchanged.
    EXPECT_EQ(cmaes_next_batch_size(7, 2, 2, 25), 7);
    // Three or more: grow by E, at most popsize - E.
    EXPECT_EQ(cmaes_next_batch_size(7, 2, 3, 25), 9);
    EXPECT_EQ(cmaes_next_batch_size(22, 2, 5, 25), 23);
    EXPECT_EQ(cmaes_next_batch_size(5, 1, 4, 6), 5);
}

class CmaesArchive : public ::testing::Test {
protected:
    void SetUp() override { cd_.adjustable_count = 2; }
    void TearDown() override { rbf_archive_release(a_); }
    control_data cd_;
    rbf_archive a_;
};

TEST_F(CmaesArchive, WhenFullTheFarthestPointGivesWay) {
    // Points (j, -j) fill the archive; a new point near the start of the line
    // takes the row of the last point, 5000 * sqrt(2) away, and the local fit
    // near it uses it.
    rbf_archive_create(a_, 2, 6);
    for (int j = 1; j <= rbf_archive_limit; ++j) {
        const double x[2] = {static_cast<double>(j), -static_cast<double>(j)};
        ASSERT_EQ(rbf_archive_add(a_, x, 10.0 * j), j);
    }
    const double extra[2] = {0.5, 0.5};
    EXPECT_EQ(rbf_archive_add(a_, extra, -1.0), rbf_archive_limit);
    EXPECT_EQ(rbf_archive_size(a_), rbf_archive_limit);
    EXPECT_EQ(a_.replaced, 1);
    EXPECT_EQ(a_.points(rbf_archive_limit, 1), 0.5);
    EXPECT_EQ(a_.points(rbf_archive_limit, 2), 0.5);
    EXPECT_EQ(a_.fitness[rbf_archive_limit], -1.0);
    EXPECT_EQ(a_.points(rbf_archive_limit - 1, 1), 4999.0);
    // The nearest point of a prediction at the new point is the new point.
    double prediction = 0.0;
    EXPECT_EQ(rbf_archive_predict(a_, extra, cd_, prediction), 0);
    EXPECT_NEAR(prediction, -1.0, 1e-6);
}

TEST_F(CmaesArchive, LocalFitUsesTheNearestPointsOnly) {
    // Near the origin f = 1 + x + 2y, far away f = 50 - x; a prediction near the
    // origin must come from the three nearest points, which reproduce the plane.
    rbf_archive_create(a_, 2, 6);
    const double near[3][2] = {{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}};
    for (const auto &x : near) rbf_archive_add(a_, x, 1.0 + x[0] + 2.0 * x[1]);
    const double far[4][2] = {{100.0, 0.0}, {101.0, 0.0}, {100.0, 1.0}, {101.0, 1.0}};
    for (const auto &x : far) rbf_archive_add(a_, x, 50.0 - x[0]);
    ASSERT_EQ(a_.nearest_limit, 3);

    double prediction = 0.0;
    const double p[2] = {0.3, 0.4};
    EXPECT_EQ(rbf_archive_predict(a_, p, cd_, prediction), 0);
    EXPECT_NEAR(prediction, 1.0 + 0.3 + 0.8, 1e-10);
    const double q[2] = {100.6, 0.2};
    EXPECT_EQ(rbf_archive_predict(a_, q, cd_, prediction), 0);
    EXPECT_NEAR(prediction, 50.0 - 100.6, 1e-9);
}

TEST_F(CmaesArchive, PredictionAtAnArchivePointIsItsFitness) {
    rbf_archive_create(a_, 2, 6);
    const double pts[6][2] = {{0.1, 0.2}, {0.9, 0.3}, {0.4, 0.8}, {0.7, 0.7}, {0.2, 0.6}, {0.5, 0.1}};
    for (const auto &x : pts) rbf_archive_add(a_, x, std::sin(3 * x[0]) * std::cos(2 * x[1]));
    for (const auto &x : pts) {
        double prediction = 0.0;
        EXPECT_EQ(rbf_archive_predict(a_, x, cd_, prediction), 0);
        EXPECT_NEAR(prediction, std::sin(3 * x[0]) * std::cos(2 * x[1]), 1e-12);
    }
}

TEST_F(CmaesArchive, OneDimensionFitsThroughTwoPoints) {
    cd_.adjustable_count = 1;
    rbf_archive_create(a_, 1, 4);
    ASSERT_EQ(a_.nearest_limit, 2);  // a line needs two points
    for (double x : {0.0, 1.0, 10.0}) {
        const double v[1] = {x};
        rbf_archive_add(a_, v, 3.0 - 2.0 * x);
    }
    double prediction = 0.0;
    const double p[1] = {0.25};
    EXPECT_EQ(rbf_archive_predict(a_, p, cd_, prediction), 0);
    EXPECT_NEAR(prediction, 2.5, 1e-12);
}

TEST_F(CmaesArchive, FailedFitFallsBackOnTheNearestFitness) {
    // Three points at the origin: the fit has a zero row and fails; the
    // prediction is then the fitness there, not zero.
    rbf_archive_create(a_, 2, 6);
    const double origin[2] = {0.0, 0.0};
    for (int j = 0; j < 3; ++j) rbf_archive_add(a_, origin, 4.0);
    double prediction = 0.0;
    const double p[2] = {0.5, 0.5};
    EXPECT_EQ(rbf_archive_predict(a_, p, cd_, prediction), 1);
    EXPECT_EQ(prediction, 4.0);
}

class CmaesDimensionOverride : public in_scratch_dir {};

TEST_F(CmaesDimensionOverride, TheProblemSizesStartPointDeviationsAndWeights) {
    // The file declares 5 coordinates, lambda 20 and mu 10; the problem has 2
    // adjustable parameters, so the optimiser runs in 2 dimensions with
    // lambda = (int)(3 ln 2 + 4) = 6 and mu = 3.
    write("initials.par",
          " N 5\n seed 17\n lambda 20\n mu 10\n"
          " initialX 5\n 1 2 3 4 5\n"
          " initialStandardDeviations 5\n 0.3 0.4 9 9 9\n");
    control_data cd;
    cd.adjustable_count = 2;
    cmaes_t evo;
    testing::internal::CaptureStdout();
    double *fitness = cmaes_Start(evo, 0, nullptr, nullptr, 0, 0, "initials.par", &cd);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(evo.sp.N, 2);
    EXPECT_EQ(evo.sp.lambda, 6);
    EXPECT_EQ(evo.sp.mu, 3);
    ASSERT_EQ(evo.sp.initialX.size(), 2u);
    EXPECT_EQ(evo.sp.initialX[0], 1.0);
    EXPECT_EQ(evo.sp.initialX[1], 2.0);
    ASSERT_EQ(evo.sp.initialStandardDeviations.size(), 2u);
    ASSERT_EQ(evo.sp.weights.size(), 3u);
    // Logarithmic weights ln 4 - ln(i + 1) over their sum; mueff = s1^2 / s2.
    const double w[3] = {std::log(4.0), std::log(2.0), std::log(4.0 / 3.0)};
    const double s1 = w[0] + w[1] + w[2];
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(evo.sp.weights[static_cast<size_t>(i)], w[i] / s1, 1e-15);
    EXPECT_NEAR(evo.sp.mueff, s1 * s1 / (w[0] * w[0] + w[1] * w[1] + w[2] * w[2]), 1e-13);
    // sigma = sqrt((0.3^2 + 0.4^2) / 2) from the two deviations used.
    EXPECT_NEAR(evo.sigma, std::sqrt(0.125), 1e-15);
    EXPECT_EQ(evo.xmean.size(), 2u);
    EXPECT_EQ(cmaes_Get(evo, "N"), 2.0);
    EXPECT_EQ(cmaes_Get(evo, "popsize"), 6.0);

    // A whole generation runs on the resized state.
    const cmaes_population &pop = cmaes_SamplePopulation(evo);
    ASSERT_EQ(pop.size(), 6u);
    for (int c = 0; c < 6; ++c) {
        const cmaes_vector &x = pop[static_cast<size_t>(c)];
        fitness[c] = x[0] * x[0] + x[1] * x[1];
    }
    cmaes_UpdateDistribution(evo, fitness);
    EXPECT_EQ(cmaes_Get(evo, "eval"), 6.0);
    cmaes_Release(evo);

    const std::string warning = "Warning: N 5 in 'initials.par' is replaced by the 2 adjustable parameters";
    EXPECT_NE(printed.find(warning), std::string::npos) << printed;
    EXPECT_NE(read("errcmaes.err").find(warning), std::string::npos);
    const std::string actual = read("actparcmaes.par");
    EXPECT_NE(actual.find("\n N 2\n"), std::string::npos) << actual;
    EXPECT_NE(actual.find("\n lambda 6\n"), std::string::npos) << actual;
    EXPECT_NE(actual.find("\n mu 3\n"), std::string::npos) << actual;
}

TEST_F(CmaesDimensionOverride, VectorValuesAreReadForTheProblemDimension) {
    // The file's N of 2 would keep only 1 and 2 (then repeat them); with three
    // adjustable parameters all three listed values are taken.
    write("initials.par", " N 2\n seed 3\n initialX 3\n 1 2 3\n initialStandardDeviations 1\n 0.5\n");
    control_data cd;
    cd.adjustable_count = 3;
    readpara_t sp;
    testing::internal::CaptureStdout();
    readpara_readpara_t(sp, 0, 0, nullptr, nullptr, 0, "initials.par", &cd);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(sp.initialX.size(), 3u);
    EXPECT_EQ(sp.initialX[2], 3.0);
    ASSERT_EQ(sp.initialStandardDeviations.size(), 3u);
    EXPECT_EQ(sp.initialStandardDeviations[2], 0.5);
    EXPECT_EQ(sp.lambda, 7);  // (int)(3 ln 3 + 4)
    readpara_release(sp);
}

TEST_F(CmaesDimensionOverride, AMatchingFileNeedsNoWarning) {
    write("initials.par", " N 2\n seed 3\n");
    control_data cd;
    cd.adjustable_count = 2;
    readpara_t sp;
    testing::internal::CaptureStdout();
    readpara_readpara_t(sp, 0, 0, nullptr, nullptr, 0, "initials.par", &cd);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.find("is replaced by"), std::string::npos);
    EXPECT_EQ(sp.N, 2);
    readpara_release(sp);
}

class CmaesDriverRefusals : public in_scratch_dir {};

TEST_F(CmaesDriverRefusals, NoAdjustableParameterIsRefusedBeforeAnyFile) {
    control_data cd = problem({parameter("a", "fixed", 0.0, 1.0)});
    cd.mode = "cmaes";
    file_names names;
    template_file_table templates;
    instruction_file_table instructions;
    double best = -1.0;
    testing::internal::CaptureStdout();
    const calib_status status = run_cmaes(0, nullptr, cd, names, nullptr, nullptr, nullptr, nullptr,
                                          templates, instructions, best);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(std::isnan(best));  // no model run returned a value
    EXPECT_NE(printed.find("The CMA-ES methods need at least one adjustable parameter."), std::string::npos);
    EXPECT_FALSE(exists("cmaes_calls3j.prn"));
    EXPECT_FALSE(exists("actparcmaes.par"));
}

}  // namespace
