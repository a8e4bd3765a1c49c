// Tests of the optimiser's services: error log and fatal path, allocation
// failures, the minimal standard generator with its shuffle table, the normal
// draws and the timing record.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "calibrator/cmaes/cmaes.h"
#include "cmaes_test_support.h"

namespace {

using cmaes_test::in_scratch_dir;

// The minimal standard sequence computed directly in 64-bit arithmetic.
int64_t direct_step(int64_t x) { return (x * 16807) % 2147483647; }

class CmaesSupport : public in_scratch_dir {};

TEST_F(CmaesSupport, ErrorMessageAppendsTimeStampedLinesToTheLog) {
    cmaes_error_message("first ", "second");
    cmaes_error_message("third");
    const std::string log = read("errcmaes.err");
    EXPECT_EQ(log.rfind("\n -- ", 0), 0u);
    EXPECT_NE(log.find(" first second\n"), std::string::npos);
    EXPECT_NE(log.find(" third\n"), std::string::npos);
    EXPECT_LT(log.find("first second"), log.find("third"));
}

TEST_F(CmaesSupport, FatalLogsReportsAndEndsWithStatusOne) {
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(cmaes_fatal("something ", "broke"));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(" something broke\n"), std::string::npos);
    EXPECT_NE(out.find(" *** CMA-ES ABORTED, see errcmaes.err *** \n"), std::string::npos);
    const std::string log = read("errcmaes.err");
    EXPECT_NE(log.find(" something broke\n"), std::string::npos);
    EXPECT_NE(log.find("*** Exiting cmaes_t ***"), std::string::npos);
}

TEST_F(CmaesSupport, FailedAllocationsTakeTheFatalPath) {
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(new_double(-1));
    EXPECT_CMAES_FATAL(new_void(LONG_MAX, 16));
    testing::internal::GetCapturedStdout();
    const std::string log = read("errcmaes.err");
    EXPECT_NE(log.find("new_double(): calloc(-1,8) failed"), std::string::npos);
    EXPECT_NE(log.find("new_void(): calloc(" + std::to_string(LONG_MAX) + ",16) failed"), std::string::npos);
}

TEST_F(CmaesSupport, AllocationIsZeroed) {
    double *p = new_double(7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(p[i], 0.0);
    }
    std::free(p);
    cmaes_vector v(5);
    for (double x : v) {
        EXPECT_EQ(x, 0.0);
    }
}

TEST_F(CmaesSupport, SzCatJoinsAndRefusesAMissingFirstPiece) {
    EXPECT_EQ(szCat("a", "bc", nullptr, "d"), "abcd");
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(szCat(nullptr, "x"));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(read("errcmaes.err").find("szCat() : Invalid Arguments"), std::string::npos);
}

TEST_F(CmaesSupport, TimingsNeedAStartAndPairedTicAndToc) {
    cmaes_timings_t t;
    testing::internal::CaptureStdout();
    EXPECT_CMAES_FATAL(timings_update(t));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(read("errcmaes.err").find("timings_started() must be called before using timings... functions"),
              std::string::npos);

    timings_start(t);
    EXPECT_EQ(timings_toc(t), -1.0);
    EXPECT_NE(read("errcmaes.err").find("Warning: timings_toc called without tic"), std::string::npos);
    timings_tic(t);
    timings_tic(t);
    EXPECT_NE(read("errcmaes.err").find("Warning: timings_tic called twice without toc"), std::string::npos);
    EXPECT_GE(timings_toc(t), 0.0);
    EXPECT_GE(t.totaltime, t.tictoctime_total);
}

TEST(CmaesRandom, ParkMillerReachesTheReferenceValueAfterTenThousandSteps) {
    int32_t state = 1;
    for (int i = 0; i < 10000; ++i) {
        state = random_Step(state);
    }
    EXPECT_EQ(state, 1043618065);
}

TEST(CmaesRandom, SchrageStepEqualsTheDirectProductModuloTheModulus) {
    for (int64_t x : {1LL, 16807LL, 127773LL, 127774LL, 2147483646LL, 1043618065LL}) {
        EXPECT_EQ(random_Step(static_cast<int32_t>(x)), direct_step(x)) << x;
    }
}

TEST(CmaesRandom, StartFillsTheShuffleTableFromTheLastThirtyTwoOfFortySteps) {
    cmaes_random_t r;
    EXPECT_EQ(random_Start(r, 1), 1);
    int64_t x = 1;
    int64_t states[41];
    for (int k = 1; k <= 40; ++k) {
        x = direct_step(x);
        states[k] = x;
    }
    // Step k stores into entry 40 - k, for k = 9..40.
    for (int j = 0; j < 32; ++j) {
        EXPECT_EQ(r.table[static_cast<std::size_t>(j)], states[40 - j]) << j;
    }
    EXPECT_EQ(r.aktrand, states[40]);
    // The first draw returns the entry chosen by the previous output.
    const int slot = static_cast<int>(states[40] / 67108865);
    EXPECT_DOUBLE_EQ(random_Uniform(r), static_cast<double>(states[40 - slot]) / 2147483647.0);
}

TEST(CmaesRandom, UniformDrawsLieInsideTheOpenUnitInterval) {
    cmaes_random_t r;
    random_Start(r, 12345);
    double sum = 0;
    for (int i = 0; i < 100000; ++i) {
        const double u = random_Uniform(r);
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
        sum += u;
    }
    EXPECT_NEAR(sum / 100000, 0.5, 0.005);
}

TEST(CmaesRandom, GaussianDrawsHaveZeroMeanAndUnitVariance) {
    cmaes_random_t r;
    random_Start(r, 4711);
    const int n = 200000;
    double sum = 0;
    double squares = 0;
    for (int i = 0; i < n; ++i) {
        const double z = random_Gauss(r);
        sum += z;
        squares += z * z;
    }
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(squares / n, 1.0, 0.02);
}

TEST(CmaesRandom, SameSeedSameSequenceAndAwkwardSeedsStillDraw) {
    cmaes_random_t a;
    cmaes_random_t b;
    random_Start(a, 99);
    random_Start(b, 99);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(random_Gauss(a), random_Gauss(b));
    }
    // A negative seed counts by its magnitude; the modulus itself does not stick at 0.
    cmaes_random_t neg;
    cmaes_random_t pos;
    random_Start(neg, -99);
    random_Start(pos, 99);
    EXPECT_EQ(random_Uniform(neg), random_Uniform(pos));
    cmaes_random_t m;
    random_Start(m, 2147483647);
    EXPECT_GT(random_Uniform(m), 0.0);
    EXPECT_GT(random_Uniform(m), 0.0);
}

TEST(CmaesRandom, SeedZeroIsDrawnFromTheClocks) {
    cmaes_random_t r;
    const int32_t seed = random_Start(r, 0);
    EXPECT_GT(seed, 0);
    EXPECT_EQ(r.startseed, seed);
}

}  // namespace
