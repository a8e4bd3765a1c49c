// Tests of the cubic RBF surrogate with linear tail (exact on linear targets,
// interpolating at its centres, refusing singular set-ups), its shuffled
// generator, and the "rbf" self-test with its seed and "centers.txt".
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "calibrator/cmaes/rbf.h"
#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"
#include "cmaes_test_support.h"

namespace {

using cmaes_test::in_scratch_dir;

// Owns the 1-based arrays of one fit.
struct fit_arrays {
    int n;
    int N;
    double_matrix centres;
    double_vector values;
    double_vector coefficients;
    double_vector point;
    fit_arrays(int n_, int N_) : n(n_), N(N_) {
        centres = dmatrix(1, n, 1, N + 1);
        values = dvector(1, n);
        coefficients = dvector(1, n + N + 1);
        point = dvector(1, N);
    }
    ~fit_arrays() {
        free_dvector(point, 1, N);
        free_dvector(coefficients, 1, n + N + 1);
        free_dvector(values, 1, n);
        free_dmatrix(centres, 1, n, 1, N + 1);
    }
    fit_arrays(const fit_arrays &) = delete;
    fit_arrays &operator=(const fit_arrays &) = delete;
};

control_data problem(int adjustable) {
    control_data cd;
    cd.adjustable_count = adjustable;
    return cd;
}

TEST(RbfFit, ALinearTargetIsReproducedExactly) {
    // f(x, y, z) = 3 + 2x - y + 0.5z at 8 scattered centres in three dimensions.
    const double pts[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                              {0.3, 0.7, 0.2}, {0.9, 0.1, 0.5}, {0.4, 0.4, 0.9}, {0.6, 0.8, 0.3}};
    fit_arrays a(8, 3);
    for (int i = 1; i <= 8; ++i) {
        for (int k = 1; k <= 3; ++k) {
            a.centres(i, k) = pts[i - 1][k - 1];
        }
        a.values[i] = 3 + 2 * pts[i - 1][0] - pts[i - 1][1] + 0.5 * pts[i - 1][2];
    }
    const control_data cd = problem(3);
    ASSERT_EQ(rbf_fit(a.centres, a.values, a.coefficients, 8, cd), 0);
    for (int i = 1; i <= 8; ++i) {
        EXPECT_NEAR(a.coefficients[i], 0.0, 1e-10) << i;  // no radial part is needed
    }
    EXPECT_NEAR(a.coefficients[9], 2.0, 1e-10);
    EXPECT_NEAR(a.coefficients[10], -1.0, 1e-10);
    EXPECT_NEAR(a.coefficients[11], 0.5, 1e-10);
    EXPECT_NEAR(a.coefficients[12], 3.0, 1e-10);
    a.point[1] = 5.0;
    a.point[2] = -2.0;
    a.point[3] = 0.25;
    EXPECT_NEAR(rbf_evaluate(a.coefficients, a.centres, a.point, 8, cd), 3 + 10 + 2 + 0.125, 1e-9);
}

TEST(RbfFit, TheInterpolantPassesThroughItsCentres) {
    fit_arrays a(12, 2);
    for (int i = 1; i <= 12; ++i) {
        a.centres(i, 1) = std::fmod(0.37 * i, 1.0);
        a.centres(i, 2) = std::fmod(0.61 * i * i, 1.0);
        a.values[i] = rbf_test_function(3 * a.centres(i, 1), 3 * a.centres(i, 2));
    }
    const control_data cd = problem(2);
    ASSERT_EQ(rbf_fit(a.centres, a.values, a.coefficients, 12, cd), 0);
    for (int i = 1; i <= 12; ++i) {
        a.point[1] = a.centres(i, 1);
        a.point[2] = a.centres(i, 2);
        EXPECT_NEAR(rbf_evaluate(a.coefficients, a.centres, a.point, 12, cd), a.values[i], 1e-10) << i;
    }
    // The side conditions: the radial weights sum to 0 and are orthogonal to each coordinate.
    double sum = 0;
    double sum_x = 0;
    double sum_y = 0;
    for (int i = 1; i <= 12; ++i) {
        sum += a.coefficients[i];
        sum_x += a.coefficients[i] * a.centres(i, 1);
        sum_y += a.coefficients[i] * a.centres(i, 2);
    }
    EXPECT_NEAR(sum, 0.0, 1e-9);
    EXPECT_NEAR(sum_x, 0.0, 1e-9);
    EXPECT_NEAR(sum_y, 0.0, 1e-9);
}

TEST(RbfFit, OneDimensionWithTwoCentresIsTheLineThroughThem) {
    // The 4 x 4 system solved by hand: w = 0, slope f1 - f0 over the unit gap, constant f0.
    fit_arrays a(2, 1);
    a.centres(1, 1) = 0.0;
    a.centres(2, 1) = 1.0;
    a.values[1] = 4.0;
    a.values[2] = 1.0;
    ASSERT_EQ(rbf_fit_dim(a.centres, a.values, a.coefficients, 2, 1), 0);
    EXPECT_NEAR(a.coefficients[1], 0.0, 1e-14);
    EXPECT_NEAR(a.coefficients[2], 0.0, 1e-14);
    EXPECT_NEAR(a.coefficients[3], -3.0, 1e-14);
    EXPECT_NEAR(a.coefficients[4], 4.0, 1e-14);
    a.point[1] = 0.5;
    EXPECT_NEAR(rbf_evaluate_dim(a.coefficients, a.centres, a.point, 2, 1), 2.5, 1e-14);
}

TEST(RbfFit, TooFewCentresOrARowOfZerosAreReportedWithoutSolving) {
    {
        fit_arrays a(1, 1);  // one centre cannot carry a line
        a.centres(1, 1) = 0.5;
        a.values[1] = 2.0;
        a.coefficients[1] = 99;
        EXPECT_EQ(rbf_fit_dim(a.centres, a.values, a.coefficients, 1, 1), 1);
        EXPECT_EQ(a.coefficients[1], 0.0);
        EXPECT_EQ(a.coefficients[3], 0.0);
    }
    {
        fit_arrays a(3, 2);  // the first coordinate is 0 at every centre
        for (int i = 1; i <= 3; ++i) {
            a.centres(i, 1) = 0.0;
            a.centres(i, 2) = i;
            a.values[i] = i;
        }
        EXPECT_EQ(rbf_fit_dim(a.centres, a.values, a.coefficients, 3, 2), 1);
        for (int i = 1; i <= 6; ++i) {
            EXPECT_EQ(a.coefficients[i], 0.0);
        }
    }
}

TEST(RbfFit, CoincidingCentresStillGiveAFiniteFit) {
    fit_arrays a(5, 2);
    const double pts[5][2] = {{0.1, 0.2}, {0.1, 0.2}, {0.8, 0.3}, {0.4, 0.9}, {0.6, 0.6}};
    for (int i = 1; i <= 5; ++i) {
        a.centres(i, 1) = pts[i - 1][0];
        a.centres(i, 2) = pts[i - 1][1];
        a.values[i] = i;
    }
    EXPECT_EQ(rbf_fit_dim(a.centres, a.values, a.coefficients, 5, 2), 0);
}

TEST(RbfFit, CentreCountIsAtLeastOneMoreThanTheDimension) {
    EXPECT_EQ(rbf_centre_count(1), 2);
    EXPECT_EQ(rbf_centre_count(2), 3);
    EXPECT_EQ(rbf_centre_count(3), 6);
    EXPECT_EQ(rbf_centre_count(10), 55);
}

// --- the shuffled generator and the self-test --------------------------------

int64_t direct_step(int64_t x) { return (x * 16807) % 2147483647; }

TEST(RbfGenerator, ARestartFromStateOneGivesTheHandComputedDraw) {
    // From state 1: 40 steps fill the table (entry j holds step 40 - j), the
    // output is step 40; one more step, and the draw is the entry that the
    // output's top five bits select.
    int64_t states[42];
    states[0] = 1;
    for (int k = 1; k <= 41; ++k) {
        states[k] = direct_step(states[k - 1]);
    }
    const int slot = static_cast<int>(states[40] / 67108864);
    const double expected = static_cast<double>(states[40 - slot]) * 4.656612875245797e-10;
    int32_t g = -1;
    EXPECT_DOUBLE_EQ(rand_uniform_shuffled(&g), expected);
    EXPECT_EQ(g, states[41]);
    int32_t zero = 0;  // a state of 0 restarts from 1 as well
    EXPECT_DOUBLE_EQ(rand_uniform_shuffled(&zero), expected);
    int32_t again = -1;
    EXPECT_DOUBLE_EQ(rand_uniform_shuffled(&again), expected);
}

TEST(RbfGenerator, DrawsStayInsideTheUnitInterval) {
    int32_t g = -12345;
    for (int i = 0; i < 20000; ++i) {
        const double u = rand_uniform_shuffled(&g);
        ASSERT_GT(u, 0.0);
        ASSERT_LE(u, 0.99999988);
    }
}

TEST(RbfSeed, OnlyAWholeNumberInRangeIsAccepted) {
    auto parse = [](const char *text, uint32_t &seed) {
        std::FILE *fp = std::tmpfile();
        std::fputs(text, fp);
        std::rewind(fp);
        const calib_status s = rbf_read_seed(fp, seed);
        std::fclose(fp);
        return s;
    };
    uint32_t seed = 0;
    EXPECT_EQ(parse("12345\n", seed), 0);
    EXPECT_EQ(seed, 12345u);
    EXPECT_EQ(parse("  4294967295  \n", seed), 0);
    EXPECT_EQ(seed, 4294967295u);
    EXPECT_EQ(parse("77ld\n", seed), 0);
    EXPECT_EQ(seed, 77u);
    EXPECT_EQ(parse("0", seed), 0);
    EXPECT_EQ(seed, 0u);
    for (const char *bad : {"", "\n", "abc\n", "-5\n", "4294967296\n", "12x\n", "1.5\n"}) {
        EXPECT_EQ(parse(bad, seed), 1) << bad;
    }
}

TEST(RbfSeed, TestCentresFollowTheSeedAndTheTestFunction) {
    double_matrix c1 = dmatrix(1, 100, 1, 3);
    double_matrix c2 = dmatrix(1, 100, 1, 3);
    double_vector v1 = dvector(1, 100);
    double_vector v2 = dvector(1, 100);
    rbf_place_test_centres(2024, c1, v1, nullptr);
    rbf_place_test_centres(2024, c2, v2, nullptr);
    uint32_t s = 2024;
    for (int i = 1; i <= 100; ++i) {
        for (int j = 1; j <= 2; ++j) {
            s = s * 1664525u + 1013904223u;
            int32_t g = static_cast<int32_t>(static_cast<double>(s) * -0.5);
            EXPECT_EQ(c1(i, j), rand_uniform_shuffled(&g));
            EXPECT_EQ(c1(i, j), c2(i, j));
            EXPECT_GT(c1(i, j), 0.0);
            EXPECT_LT(c1(i, j), 1.0);
        }
        EXPECT_EQ(v1[i], std::sin(c1(i, 1)) * std::sin(c1(i, 2)));
    }
    // A seed whose next value is 0 gives g = 0, which the generator treats as state 1.
    uint32_t inverse = 1664525u;  // Newton's iteration for the inverse modulo 2^32
    for (int k = 0; k < 5; ++k) {
        inverse *= 2u - 1664525u * inverse;
    }
    ASSERT_EQ(inverse * 1664525u, 1u);
    const uint32_t to_zero = (0u - 1013904223u) * inverse;
    rbf_place_test_centres(to_zero, c1, v1, nullptr);
    int32_t one = 1;
    one = -one;
    EXPECT_EQ(c1(1, 1), rand_uniform_shuffled(&one));
    free_dvector(v2, 1, 100);
    free_dvector(v1, 1, 100);
    free_dmatrix(c2, 1, 100, 1, 3);
    free_dmatrix(c1, 1, 100, 1, 3);
}

class RbfSelfTest : public in_scratch_dir {
protected:
    // Runs a self-test with standard input taken from `input`.
    calib_status run_with_input(const std::string &input, bool inline_form) {
        write("stdin.txt", input);
        std::fflush(stdin);
        const int saved = dup(0);
        const int fd = open("stdin.txt", O_RDONLY);
        dup2(fd, 0);
        close(fd);
        std::clearerr(stdin);
        control_data cd = problem(5);  // the test runs in two dimensions regardless
        char name[] = "varnock";
        char *argv[] = {name, nullptr};
        testing::internal::CaptureStdout();
        const calib_status status = inline_form ? rbf_self_test_inline(1, argv, cd) : rbf_self_test(1, argv, cd);
        printed_ = testing::internal::GetCapturedStdout();
        dup2(saved, 0);
        close(saved);
        std::clearerr(stdin);
        return status;
    }
    std::string printed_;
};

TEST_F(RbfSelfTest, WritesTheHundredCentresAndFits) {
    ASSERT_EQ(run_with_input("987654321\n", false), 0);
    EXPECT_EQ(printed_, "\n\nEnter a randomly generated unsigned long (0 to 4,294,967,295): ");
    const std::string centres = read("centers.txt");
    const auto lines = testsupport::split_lines(centres);
    ASSERT_EQ(lines.size(), 100u);
    double x = 0;
    double y = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "%lf\t%lf", &x, &y), 2);
    EXPECT_GT(x, 0.0);
    EXPECT_LT(y, 1.0);

    // The same seed gives the same file; the in-place assembly agrees.
    ASSERT_EQ(run_with_input("987654321\n", true), 0);
    EXPECT_EQ(read("centers.txt"), centres);
    ASSERT_EQ(run_with_input("987654322\n", false), 0);
    EXPECT_NE(read("centers.txt"), centres);
}

TEST_F(RbfSelfTest, ASeedThatIsNotANumberIsRefused) {
    EXPECT_EQ(run_with_input("banana\n", false), 1);
    EXPECT_NE(printed_.find("The seed must be a whole number from 0 to 4,294,967,295."), std::string::npos);
    EXPECT_EQ(run_with_input("", false), 1);
    EXPECT_EQ(read("centers.txt"), "");
}

}  // namespace
