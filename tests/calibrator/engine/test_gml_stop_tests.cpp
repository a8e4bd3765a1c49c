// Tests of the stop tests and lambda control of the GML iterations: each end
// criterion, the choice of the trial to keep and the sequence of lambdas.
#include <gtest/gtest.h>

#include <cmath>

#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/stop_tests.h"
#include "test_gml_problem.h"

using gml_test::file_text;
using gml_test::problem;

namespace {

struct history {
    double_vector v;
    explicit history(std::initializer_list<double> values) {
        v = dvector(1, static_cast<int>(values.size()));
        int i = 0;
        for (double x : values) v[++i] = x;
    }
    ~history() { free_dvector(v, 1, v.high); }
};

struct stop_settings : problem {
    stop_settings() {
        cd.phi_reduction_stop = 1e-6;
        cd.phi_stop_count = 3;
        cd.no_reduction_count = 3;
        cd.relative_change_stop = 1e-4;
        cd.relative_change_count = 2;
    }
};

}  // namespace

TEST(GmlTermination, ZeroObjectiveStopsAtExactly1e30) {
    stop_settings s;
    history h({1.0, 1e-30});
    std::FILE *record = std::tmpfile();
    int stop = 0;
    test_termination(record, 2, 1, 0, h.v, 1e-30, 1e-30, s.cd, stop, 17);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(file_text(record),
              "Optimization complete: the objective function equals zero\nTotal Model Calls:\t17\n");
    std::fclose(record);
    history h2({1.0, 2e-30});
    test_termination(nullptr, 2, 1, 0, h2.v, 2e-30, 2e-30, s.cd, stop, 17);
    EXPECT_EQ(stop, 0);
}

TEST(GmlTermination, LowestPhisWithinRelativeDistance) {
    stop_settings s;
    // Entries 2 to 4 lie within 1e-6 of the best phi 5 (entry 4 equals it).
    history h({10.0, 5.000004, 5.000001, 5.0});
    std::FILE *record = std::tmpfile();
    int stop = 0;
    test_termination(record, 4, 3, 0, h.v, 5.0, 5.0, s.cd, stop, 9);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(file_text(record),
              "Optimization complete: the  3 lowest phi's are within a relative distance\n"
              "                       of each other of 0.000001\n"
              "Total Model Calls:\t9\n");
    std::fclose(record);
    s.cd.phi_stop_count = 4;
    test_termination(nullptr, 4, 3, 0, h.v, 5.0, 5.0, s.cd, stop, 9);
    EXPECT_EQ(stop, 0);
}

TEST(GmlTermination, IterationsSinceLowestPhi) {
    stop_settings s;
    history h({10.0, 4.0, 5.0, 6.0, 7.0});
    std::FILE *record = std::tmpfile();
    int stop = 0;
    // Best phi found at the top of iteration 2, so b = 1; k - b = 4 > 3.
    test_termination(record, 5, 1, 0, h.v, 4.0, 7.0, s.cd, stop, 30);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(file_text(record),
              "Optimization complete:   3 optimization iterations have elapsed since lowest\n"
              "                       phi was achieved.\n"
              "Total Model Calls:\t30\n");
    std::fclose(record);
    test_termination(nullptr, 4, 1, 0, h.v, 4.0, 6.0, s.cd, stop, 30);
    EXPECT_EQ(stop, 0);
}

TEST(GmlTermination, SuccessiveSmallParameterChanges) {
    stop_settings s;
    history h({10.0, 8.0, 6.0});
    std::FILE *record = std::tmpfile();
    int stop = 0;
    test_termination(record, 3, 2, 2, h.v, 6.0, 6.0, s.cd, stop, 12);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(file_text(record),
              "Optimization complete: relative parameter change less than 0.000100\n"
              "                       over 2 successive iterations.\n"
              "Total Model Calls:\t12\n");
    std::fclose(record);
    test_termination(nullptr, 3, 2, 1, h.v, 6.0, 6.0, s.cd, stop, 12);
    EXPECT_EQ(stop, 0);
}

TEST(GmlLambdaTermination, SufficientReductionChoosesTheTrialAtOnce) {
    problem p;
    history trials({0.25});
    std::FILE *record = std::tmpfile();
    int chosen = -1;
    test_lambda_termination(record, 1.0, 1, trials.v, p.cd, chosen);
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(file_text(record), "No more lambdas: phi is less than 0.300000 of starting phi\n\n");
    std::fclose(record);
}

TEST(GmlLambdaTermination, RisingPhiGoesOnAfterTwoTrialsThenTakesTheLowest) {
    problem p;
    int chosen = -1;
    history two({0.8, 0.9});
    test_lambda_termination(nullptr, 1.0, 2, two.v, p.cd, chosen);
    EXPECT_EQ(chosen, 0);
    history three({0.8, 0.7, 0.75});
    std::FILE *record = std::tmpfile();
    test_lambda_termination(record, 1.0, 3, three.v, p.cd, chosen);
    EXPECT_EQ(chosen, 2);
    EXPECT_EQ(file_text(record), "No more lambdas: phi rising\n\n");
    std::fclose(record);
    // Lambdas 10, 5, 20: after the turn the third trial is compared with the
    // first (lambda 10), its neighbour, not with the second.
    history turned({0.8, 0.9, 0.85});
    test_lambda_termination(nullptr, 1.0, 3, turned.v, p.cd, chosen);
    EXPECT_EQ(chosen, 0);
    test_lambda_termination(nullptr, 1.0, 3, turned.v, p.cd, chosen, 1);
    EXPECT_EQ(chosen, 1);
}

TEST(GmlLambdaTermination, SmallReductionBetweenLambdasTakesTheLastOfEqualLowest) {
    problem p;
    history trials({0.8, 0.7, 0.7});
    std::FILE *record = std::tmpfile();
    int chosen = -1;
    test_lambda_termination(record, 1.0, 3, trials.v, p.cd, chosen);
    EXPECT_EQ(chosen, 3);
    EXPECT_EQ(file_text(record),
              "No more lambdas: relative phi reduction between lambdas less than 0.010000\n\n");
    std::fclose(record);
}

TEST(GmlLambdaTermination, LambdaLimitTakesTheLowestButNeverANonNumber) {
    problem p;
    p.cd.lambda_limit = 1;
    int chosen = -1;
    history worse({5.0});
    std::FILE *record = std::tmpfile();
    test_lambda_termination(record, 1.0, 1, worse.v, p.cd, chosen);
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(file_text(record), "No more lambdas: allowed lambdas per iteration =  1\n\n");
    std::fclose(record);
    history bad({std::nan("")});
    test_lambda_termination(nullptr, 1.0, 1, bad.v, p.cd, chosen);
    EXPECT_EQ(chosen, 0);
    history huge({2e30});
    test_lambda_termination(nullptr, 1.0, 1, huge.v, p.cd, chosen);
    EXPECT_EQ(chosen, 0);
}

TEST(GmlAdjustLambda, FirstTrialGoesDownWorseSecondTurnsUpFromTheFirstLambda) {
    problem p;
    p.cd.lambda = 10.0;
    double previous = 10.0;
    int reversal = 0;
    history trials({5.0, 6.0, 0.0});
    adjust_lambda(10.0, previous, reversal, 5.0, trials.v, 1, p.cd);
    EXPECT_DOUBLE_EQ(p.cd.lambda, 5.0);
    EXPECT_DOUBLE_EQ(previous, 10.0);
    EXPECT_EQ(reversal, 0);
    adjust_lambda(10.0, previous, reversal, 6.0, trials.v, 2, p.cd);
    EXPECT_DOUBLE_EQ(p.cd.lambda, 20.0);  // the first lambda times the factor
    EXPECT_DOUBLE_EQ(previous, 5.0);
    EXPECT_EQ(reversal, 1);
    // Improving again keeps the upward direction.
    trials.v[3] = 4.0;
    adjust_lambda(10.0, previous, reversal, 4.0, trials.v, 3, p.cd);
    EXPECT_DOUBLE_EQ(p.cd.lambda, 40.0);
}

TEST(GmlAdjustLambda, ImprovementKeepsGoingDown) {
    problem p;
    p.cd.lambda = 5.0;
    double previous = 10.0;
    int reversal = 0;
    history trials({5.0, 4.0});
    adjust_lambda(10.0, previous, reversal, 4.0, trials.v, 2, p.cd);
    EXPECT_DOUBLE_EQ(p.cd.lambda, 2.5);
    EXPECT_DOUBLE_EQ(previous, 5.0);
    EXPECT_EQ(reversal, 0);
}

TEST(GmlAdjustableList, SkipsFixedAndTiedParameters) {
    problem p;
    p.parameter("a", 1, 0, 2);
    p.parameter("f", 1, 0, 2, "fixed");
    p.parameter("b", 1, 0, 2, "log");
    p.parameter("t", 1, 0, 2, "tied");
    p.parameter("c", 1, 0, 2);
    ASSERT_EQ(p.cd.adjustable_count, 3);
    int_vector list = ivector(1, 3);
    EXPECT_EQ(list_adjustable_parameters(p.cd, list), 0);
    EXPECT_EQ(list[1], 1);
    EXPECT_EQ(list[2], 3);
    EXPECT_EQ(list[3], 5);
    int position = -7;
    adjustable_position(p.cd, 5, list, position);
    EXPECT_EQ(position, 3);
    position = -7;
    adjustable_position(p.cd, 2, list, position);
    EXPECT_EQ(position, -7);
    free_ivector(list, 1, 3);
}
