// Observations and scores: the observation file reader and its refusals, HMLE
// against hand-computed values (and a case whose product of weights overflows),
// the error, peak and volume statistics, the register of runs and the two logs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/calibration/observations.h"
#include "model/framework_test_support.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;
using testsupport::read_file;
using testsupport::split_lines;

class Observations : public frameworktest::globals_reset {};

// A set with N observations taken from the four lists (index 0 unused).
observation_set make_set(const std::vector<double> &peak, const std::vector<double> &peak_w,
                         const std::vector<double> &volume, const std::vector<double> &volume_w) {
    observation_set set;
    const int n = static_cast<int>(peak.size()) - 1;
    alloc_1d_double(set.observed_peak, n);
    alloc_1d_double(set.peak_weight, n);
    alloc_1d_double(set.observed_volume, n);
    alloc_1d_double(set.volume_weight, n);
    for (std::size_t i = 1; i < peak.size(); ++i) {
        set.observed_peak[i] = peak[i];
        set.peak_weight[i] = peak_w[i];
        set.observed_volume[i] = volume[i];
        set.volume_weight[i] = volume_w[i];
    }
    set.observation_count = n;
    return set;
}

TEST_F(Observations, HmleByHandWithPeaksOnly) {
    in_scratch_dir here;
    observation_set set = make_set({0, 1, 2}, {0, 1, 1}, {0, 10, 20}, {0, 0, 0});
    // w = (1, 4); top = (1 x 1 + 4 x 0) / 2 = 0.5; bottom = sqrt(1 x 4) = 2.
    const double hmle = compute_hmle(0, set, {0, 2, 2}, {0, 5, 5});
    EXPECT_DOUBLE_EQ(hmle, 0.25);
    EXPECT_EQ(here.dir().read("0_hmle.dat"),
              "p:2.000000, 1.000000  p:2.000000, 0.000000  Total Points: 2\n"
              "top: 0.500000     bottom: 2.000000    hmle: 0.250000\n" +
                  std::string(79, '-') + "\n");
}

TEST_F(Observations, ExactRunScoresZeroWhateverTheVolumeScale) {
    in_scratch_dir here;
    observation_set set = make_set({0, 3, 6}, {0, 1, 1}, {0, 1000, 4000}, {0, 1, 1});
    EXPECT_DOUBLE_EQ(compute_hmle(0, set, {0, 3, 6}, {0, 1000, 4000}), 0.0);
    EXPECT_DOUBLE_EQ(set.volume_scale, 6.0 / 4000.0);
    const std::string log = here.dir().read("0_hmle.dat");
    EXPECT_NE(log.find("Total Points: 4\n"), std::string::npos) << log;
    // Volume entries end their line; the peak of the same observation stands before.
    EXPECT_EQ(split_lines(log)[0], "p:3.000000, 0.000000  v:1000.000000, 0.000000  ");
}

TEST_F(Observations, HmleOfTwoHundredObservationsNearOneHundredIsFinite) {
    in_scratch_dir here;
    std::vector<double> o(201, 100.0), w(201, 1.0), off(201, 0.0), s(201, 101.0);
    o[0] = w[0] = s[0] = 0.0;
    observation_set set = make_set(o, w, o, off);
    // Every w = 1e4 and every error 1: top = 1e4, bottom = 1e4, though the
    // product of the 200 weights (1e800) is far beyond a double.
    const double hmle = compute_hmle(0, set, s, s);
    EXPECT_TRUE(std::isfinite(hmle));
    EXPECT_NEAR(hmle, 1.0, 1e-12);
}

TEST_F(Observations, WeightThresholdAndUnweightedRun) {
    in_scratch_dir here;
    struct weight_case {
        double weight;
        int points;
    };
    for (const weight_case c : {weight_case{1e-6, 1}, weight_case{1.1e-6, 2}}) {
        observation_set set = make_set({0, 2, 4}, {0, 1, c.weight}, {0, 1, 1}, {0, 0, 0});
        EXPECT_EQ(weighted_point_count(set), c.points) << c.weight;
    }
    observation_set none = make_set({0, 2}, {0, 1e-6}, {0, 1}, {0, 0});
    EXPECT_DOUBLE_EQ(compute_hmle(0, none, {0, 1}, {0, 1}), -1.0);
    EXPECT_DOUBLE_EQ(max_simulated_peak(none, {0, 5}), -99999.999);
}

TEST_F(Observations, VolumeScaleAndError) {
    observation_set set = make_set({0, 2, 8}, {0, 1, 0}, {0, 100, 400}, {0, 1, 1});
    // c = 8 / 400 = 0.02; peak error 1, volume errors 50 and -100 scaled: 1 and -2.
    EXPECT_NEAR(compute_rmse(set, {0, 3, 7}, {0, 150, 300}), std::sqrt(1.0 + 1.0 + 4.0), 1e-12);
    EXPECT_DOUBLE_EQ(max_simulated_peak(set, {0, 3, 7}), 3.0);     // peak 2 is not weighted
    EXPECT_DOUBLE_EQ(max_simulated_volume(set, {0, 150, 300}), 300.0);
    // No positive observed volume: volumes unscaled.
    observation_set flat = make_set({0, 2}, {0, 1}, {0, 0}, {0, 0});
    compute_volume_scale(flat);
    EXPECT_DOUBLE_EQ(flat.volume_scale, 1.0);
}

TEST_F(Observations, StatisticsNeverReadPastTheRunsLists) {
    in_scratch_dir here;
    observation_set set = make_set({0, 1, 2, 3}, {0, 1, 1, 1}, {0, 1, 1, 1}, {0, 0, 0, 0});
    // A run that gave two values: only observations 1 and 2 are compared.
    EXPECT_DOUBLE_EQ(compute_hmle(0, set, {0, 1, 2}, {0, 1, 1}), 0.0);
    EXPECT_NE(here.dir().read("0_hmle.dat").find("Total Points: 2\n"), std::string::npos);
}

TEST_F(Observations, ReaderTakesTheFourNumbersOfEachLine) {
    in_scratch_dir here;
    here.dir().write("obs.dat", "2 observations\n12.5, 1, 3000 1\n7.25\t0.5\n");
    observation_set set;
    ASSERT_EQ(read_observation_file(set, "obs.dat"), 1);
    ASSERT_EQ(set.observation_count, 2);
    EXPECT_DOUBLE_EQ(set.observed_peak[1], 12.5);
    EXPECT_DOUBLE_EQ(set.observed_volume[1], 3000.0);
    EXPECT_DOUBLE_EQ(set.volume_weight[1], 1.0);
    EXPECT_DOUBLE_EQ(set.peak_weight[2], 0.5);
    EXPECT_DOUBLE_EQ(set.observed_volume[2], 0.0);  // missing numbers read as 0
    EXPECT_DOUBLE_EQ(set.volume_weight[2], 0.0);
}

TEST_F(Observations, ReaderRefusals) {
    in_scratch_dir here;
    struct refusal {
        const char *text;
        const char *message;
    };
    const refusal cases[] = {
        {"0\n1 1 1 1\n", ""},
        {"3\n1 1 1 1\n2 1 2 1\n", ""},
        {"", ""},
        {"2\n1 1 1 1\n0 1 5 1\n", "Error: observation 2 has a weighted peak of 0.000000"},
        {"1\n4 1 -3 0.5\n", "Error: observation 1 has a weighted volume of -3.000000"},
    };
    for (const refusal &c : cases) {
        here.dir().write("obs.dat", c.text);
        observation_set set;
        int result = 0;
        const std::string out = capture_stdout([&] { result = read_observation_file(set, "obs.dat"); });
        EXPECT_EQ(result, -1) << c.text;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
    }
    observation_set set;
    EXPECT_EQ(read_observation_file(set, "absent.dat"), -1);
    // An unweighted observation may hold 0.
    here.dir().write("obs.dat", "1\n0 0 5 1\n");
    EXPECT_EQ(read_observation_file(set, "obs.dat"), 1);
}

TEST_F(Observations, LoggingARunWritesTwoLogsAndRegistersACopy) {
    in_scratch_dir here;
    observation_set set = make_set({0, 1, 2}, {0, 1, 1}, {0, 10, 20}, {0, 1, 0});
    std::vector<double> x = {0.0, 0.5, 7.0};
    log_calibration_run({0, 2, 2}, {0, 10, 30}, set, 0, 2, x.data());
    x[1] = 99.0;  // the registry holds its own copy
    log_calibration_run({0, 1, 2}, {0, 10, 20}, set, 0, 2, x.data());
    ASSERT_EQ(set.registry.runs.size(), 2u);
    EXPECT_DOUBLE_EQ(set.registry.runs[0].x[1], 0.5);
    EXPECT_DOUBLE_EQ(set.registry.runs[1].x[1], 99.0);
    // The exact second run orders first by HMLE and by error.
    EXPECT_EQ(set.registry.by_hmle.front().run, 1u);
    EXPECT_EQ(set.registry.by_error.front().run, 1u);
    EXPECT_DOUBLE_EQ(set.registry.runs[0].peak, 2.0);
    EXPECT_DOUBLE_EQ(set.registry.runs[0].volume, 10.0);
    const std::vector<std::string> lines = split_lines(here.dir().read("0_obs.log"));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], std::string(55, '-'));
    EXPECT_EQ(lines[1], "Event    weight     peak       weight      volume");
    EXPECT_EQ(lines[2], "1       1.00    1.00        1.00     10.00     ");
    EXPECT_EQ(lines[3], "2       1.00    2.00        0.00     20.00     ");
    EXPECT_EQ(lines[4], "");
    destroy_observation_set(set);
    EXPECT_TRUE(set.registry.runs.empty());
    EXPECT_TRUE(set.observed_peak.empty());
}

TEST_F(Observations, RegistryOrdersValuesThatAreNotNumbersLast) {
    run_registry registry;
    const double x[2] = {0.0, 1.0};
    register_run(registry, x, 1, std::nan(""), 1.0, 1.0, 1.0);
    register_run(registry, x, 1, 3.0, 1.0, 1.0, 1.0);
    register_run(registry, x, 1, 2.0, 1.0, 1.0, 1.0);
    ASSERT_EQ(registry.by_hmle.size(), 3u);
    EXPECT_EQ(registry.by_hmle[0].run, 2u);
    EXPECT_EQ(registry.by_hmle[1].run, 1u);
    EXPECT_EQ(registry.by_hmle[2].run, 0u);
    // Equal values keep logging order.
    EXPECT_EQ(registry.by_error[0].run, 0u);
    EXPECT_EQ(registry.by_error[2].run, 2u);
}

}  // namespace
