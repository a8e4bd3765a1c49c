// The Monte Carlo sampler with a stand-in objective: draws inside the bounds, the
// best set (ties keep the earlier), the log and "best.out", and the refusals of
// its input; and the calibration results that a run sizes before its time loop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "model/calibration/calibration_objective.h"
#include "model/calibration/montecarlo.h"
#include "model/framework_test_support.h"
#include "model/hydrology/hydrology_services.h"
#include "model/core/model_state.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;
using testsupport::split_lines;

class MonteCarlo : public frameworktest::globals_reset {};

std::vector<std::vector<double>> seen;
std::vector<double> scores;  // returned in turn

double recording_objective(const std::string &, const std::string &, const double *x, observation_set &,
                           int n) {
    seen.emplace_back(x, x + n + 1);
    return scores[(seen.size() - 1) % scores.size()];
}

void write_inputs(const in_scratch_dir &here, const std::string &mc) {
    here.dir().write("mc.in", mc);
    here.dir().write("list.txt", "2\n[A] \"%lf\"\n[B] \"%lf\"\n");
    here.dir().write("obs.dat", "1\n5 1 100 1\n");
}

TEST_F(MonteCarlo, DrawsStayInsideTheBoundsAndTiesKeepTheEarlierSet) {
    in_scratch_dir here;
    write_inputs(here, "basin.prj\nlist.txt\nobs.dat\n2\n0 1\n10, 20\n");
    seen.clear();
    scores = {3.0, 2.0, 2.0, 5.0, 2.0};
    std::string out;
    out = capture_stdout([&] {
        montecarlo sampler(5, "mc.in");
        std::srand(12345);
        sampler.objective = recording_objective;
        ASSERT_EQ(sampler.montecarlo_run(), 1);
        sampler.montecarlo_report_best();
    });
    ASSERT_EQ(seen.size(), 5u);
    for (const std::vector<double> &x : seen) {
        EXPECT_EQ(x[0], 0.0);
        EXPECT_GE(x[1], 0.0);
        EXPECT_LT(x[1], 1.0);
        EXPECT_GE(x[2], 10.0);
        EXPECT_LT(x[2], 20.0);
        // Values on the grid of 1/32768 of the range.
        EXPECT_DOUBLE_EQ(x[1] * 32768.0, std::floor(x[1] * 32768.0 + 0.5));
    }
    // Run 2 scored 2.0 first; runs 3 and 5 tie and do not replace it.
    char best[128];
    std::snprintf(best, sizeof best, "%lf:  %lf %lf \n", 2.0, seen[1][1], seen[1][2]);
    EXPECT_EQ(here.dir().read("best.out"), best);
    EXPECT_NE(out.find("\n\nBest objective function value: 2.000000\nParameters:\n "), std::string::npos);
    const std::vector<std::string> log = split_lines(here.dir().read("log_file_p0.log"));
    ASSERT_EQ(log.size(), 5u);
    char line[128];
    std::snprintf(line, sizeof line, "%lf:  %lf %lf ", 5.0, seen[3][1], seen[3][2]);
    EXPECT_EQ(log[3], line);
}

// A first run scoring nan gives way to the first number: nan is the worst score.
TEST_F(MonteCarlo, NotANumberScoresWorst) {
    in_scratch_dir here;
    write_inputs(here, "basin.prj\nlist.txt\nobs.dat\n1\n0 1\n");
    seen.clear();
    scores = {std::nan(""), 7.0, std::nan(""), 4.0};
    montecarlo sampler(4, "mc.in");
    sampler.objective = recording_objective;
    capture_stdout([&] { sampler.montecarlo_run(); });
    EXPECT_TRUE(sampler.best_value == 4.0 && sampler.best_x[1] == seen.at(3)[1]) << sampler.best_value;
}

TEST_F(MonteCarlo, RefusalsMakeNoRun) {
    struct refusal {
        const char *mc;
        const char *obs;
        int runs;
        const char *message;
    };
    const refusal cases[] = {
        {"basin.prj\nlist.txt\nobs.dat\n0\n", "1\n5 1 100 1\n", 3,
         "Error: the Monte Carlo input file mc.in gives 0 parameters on line 4; at least one is needed.\n"},
        {"basin.prj\nlist.txt\nmissing.dat\n1\n0 1\n", "", 3,
         "Error: unable to open the observation file for reading or problem while reading it.\n"},
        {"basin.prj\nlist.txt\nobs.dat\n1\n0 1\n", "1\n5 0 100 0\n", 3,
         "Error: the observation file obs.dat holds no peak or volume with a weight above 1e-6; no calibration run is made.\n"},
        {"basin.prj\nlist.txt\nobs.dat\n1\n1 0\n", "1\n5 1 100 1\n", 3,
         "Error: line 5 of the Monte Carlo input file mc.in gives the upper bound 0 below the lower bound 1 of parameter 1.\n"},
        {"basin.prj\nabsent.txt\nobs.dat\n1\n0 1\n", "1\n5 1 100 1\n", 3,
         "Error: the replacement parameter list file absent.txt cannot be read; no calibration run is made.\n"},
        {"basin.prj\nlist.txt\nobs.dat\n1\n0 1\n", "1\n5 1 100 1\n", 0,
         "No Monte Carlo run was made: the run count is 0.\n"},
    };
    for (const refusal &c : cases) {
        in_scratch_dir here;
        write_inputs(here, c.mc);
        if (*c.obs) here.dir().write("obs.dat", c.obs);
        seen.clear();
        scores = {1.0};
        int result = -1;
        const std::string out = capture_stdout([&] {
            montecarlo sampler(c.runs, "mc.in");
            sampler.objective = recording_objective;
            result = sampler.montecarlo_run();
        });
        EXPECT_EQ(result, 0) << c.mc;
        EXPECT_TRUE(seen.empty());
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_FALSE(here.dir().exists("best.out"));
    }
    // A missing input file: no run, no report, nothing sized.
    in_scratch_dir here;
    int result = -1;
    const std::string out = capture_stdout([&] { result = run_montecarlo_calibration(3, "absent.in"); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "Error: unable to open the Monte Carlo input file absent.in\n");
    EXPECT_FALSE(here.dir().exists("best.out"));
}

TEST_F(MonteCarlo, CalibrationResultsAreSizedOnlyForACalibrationRun) {
    auto s = std::make_unique<model_state>();
    s->event_count = 3;
    s->hyd_location_count = 2;
    alloc_calibration_results(*s);
    EXPECT_EQ(s->calib_results, nullptr);

    // A plain project with an OPTIMIZE card sizes a record of its own.
    s->calibration_run = 1;
    alloc_calibration_results(*s);
    ASSERT_NE(s->calib_results, nullptr);
    EXPECT_EQ(s->calib_results, s->own_calib_results.get());
    EXPECT_EQ(s->calib_results->values_per_event, 3);
    EXPECT_EQ(s->calib_results->peaks.size(), 10u);  // 3 events x 3 places + 1
    EXPECT_EQ(s->calib_results->location_peak.size(), 4u);

    // The objective's record is the one sized.
    calibration_results given;
    s->calib_results = &given;
    alloc_calibration_results(*s);
    EXPECT_EQ(given.event_count, 3);
    EXPECT_EQ(given.volumes.size(), 10u);
    EXPECT_EQ(given.location_volume.size(), 4u);
}

TEST_F(MonteCarlo, ReplacementValuesTakeTheFirstTagsAndRoundIntegerTags) {
    replace_param_list.resize(2);
    replace_param_list[0].type = 1;
    replace_param_list[1].type = 0;
    const double x[] = {0.0, 2.25, 6.5, 9.0};
    const std::string out = capture_stdout([&] { set_replacement_values(x, 3); });
    EXPECT_EQ(out, "Warning: the replacement parameter list holds 2 tags for 3 parameters; 2 values are substituted.\n");
    EXPECT_DOUBLE_EQ(replace_param_list[0].double_value, 2.25);
    EXPECT_EQ(replace_param_list[1].int_value, 7);
    EXPECT_EQ(capture_stdout([&] { set_replacement_values(x, 2); }), "");
}

TEST_F(MonteCarlo, ARunThatStopsBeforeItsResultsScoresFar) {
    in_scratch_dir here;
    here.dir().write("list.txt", "1\n[A] \"%lf\"\n");
    observation_set obs;
    here.dir().write("obs.dat", "1\n5 1 100 1\n");
    ASSERT_EQ(read_observation_file(obs, "obs.dat"), 1);
    const double x[] = {0.0, 1.0};
    double value = 0.0;
    const std::string out =
        capture_stdout([&] { value = calibration_objective("list.txt", "absent.prj", x, obs, 1); });
    EXPECT_EQ(value, failed_run_score);
    EXPECT_NE(out.find("Warning: the run gave 0 of the 1 values that the observations are compared with"),
              std::string::npos)
        << out;
    EXPECT_EQ(file_prefix_on, 1);
    EXPECT_EQ(replace_params_on, 1);
    EXPECT_TRUE(obs.registry.runs.empty());
}

}  // namespace

namespace {

TEST_F(MonteCarlo, EachEventStartsTheLocationPeaksAndVolumesAgain) {
    auto s = std::make_unique<model_state>();
    calibration_results record;
    record.location_peak = {0.0, 4.5, 2.0, 0.0};
    record.location_volume = {0.0, 900.0, 300.0, 0.0};
    s->calib_results = &record;
    s->hyd_location_count = 2;
    s->in_hyd_location_on = 1;
    s->time_tolerance_days = 1e-6;
    s->now_days = s->event_start_time = 10.0;
    s->peak_outlet_discharge = 7.0;
    // Not a calibration run: the running values are left alone.
    init_event(*s);
    EXPECT_DOUBLE_EQ(record.location_peak[1], 4.5);
    s->calibration_run = 1;
    init_event(*s);
    EXPECT_EQ(record.location_peak, (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(record.location_volume, (std::vector<double>{0, 0, 0, 0}));
    EXPECT_DOUBLE_EQ(s->peak_outlet_discharge, 0.0);
}

}  // namespace
