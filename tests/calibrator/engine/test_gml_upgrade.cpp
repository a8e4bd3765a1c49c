// Tests of the Marquardt upgrade, its optimum length and the Broyden update
// against hand-solved normal equations, and of the bounds and freezing of
// one lambda trial on a straight-line model y = a + b x at x = 1, 2, 3.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibrator/engine/bounds.h"
#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/stop_tests.h"
#include "calibrator/engine/upgrade.h"
#include "test_gml_problem.h"

using gml_test::file_text;
using gml_test::problem;

namespace {

// Owns the arrays of one test: Jacobian rows x A, weights and an upgrade.
struct arrays {
    double_matrix j;
    double_matrix prior;
    double_vector w;
    double_vector u;
    int rows, a, r;
    arrays(int rows_in, int a_in, int r_in = 0) : rows(rows_in), a(a_in), r(r_in) {
        j = dmatrix(1, rows, 1, a);
        w = dvector(1, rows);
        u = dvector(1, a);
        if (r > 0) prior = dmatrix(1, r, 1, a);
        for (int k = 1; k <= rows; ++k) w[k] = 1.0;
    }
    ~arrays() {
        free_dmatrix(j, 1, rows, 1, a);
        free_dvector(w, 1, rows);
        free_dvector(u, 1, a);
        free_dmatrix(prior, 1, r, 1, a);
    }
};

}  // namespace

TEST(GmlUpgrade, OneParameterIsTheDampedGaussNewtonStep) {
    problem p;
    p.parameter("a", 0.0, -10, 10);
    p.observation("o1", 1.0, 0.0);
    p.observation("o2", 1.0, 0.0);
    p.observation("o3", 2.0, 0.0);
    p.cd.lambda = 0.5;
    arrays m(3, 1);
    for (int k = 1; k <= 3; ++k) m.j(k, 1) = k;
    upgrade_vector(m.j, m.prior, m.w, p.cd, m.u);
    // u = J'Qr / (N (1 + lambda)) with N = 14 and J'Qr = 9.
    EXPECT_NEAR(m.u[1], 9.0 / (14.0 * 1.5), 1e-14);
}

TEST(GmlUpgrade, LambdaDampsEachParameterByTheGeometricMeanOfItsAndTheSmallestNormalDiagonal) {
    problem p;
    p.parameter("a", 0.0, -10, 10);
    p.parameter("b", 0.0, -10, 10);
    p.observation("o1", 1.0, 0.0);
    p.observation("o2", 2.0, 0.0);
    p.observation("o3", 2.0, 0.0);
    p.cd.lambda = 0.3;
    arrays m(3, 2);
    for (int k = 1; k <= 3; ++k) {
        m.j(k, 1) = 1.0;
        m.j(k, 2) = 10.0 * k;
    }
    upgrade_vector(m.j, m.prior, m.w, p.cd, m.u);
    // N = [3 60; 60 1400], J'r = (5, 110), smallest diagonal 3: the damping
    // is 0.3 sqrt(3 x 3) = 0.9 on a and 0.3 sqrt(3 x 1400) on b, so
    // [3.9 60; 60 d] u = (5, 110) with d = 1400 + 0.3 sqrt(4200).
    const double d = 1400.0 + 0.3 * std::sqrt(4200.0);
    const double det = 3.9 * d - 60.0 * 60.0;
    EXPECT_NEAR(m.u[1], (5.0 * d - 60.0 * 110.0) / det, 1e-12);
    EXPECT_NEAR(m.u[2], (3.9 * 110.0 - 60.0 * 5.0) / det, 1e-12);
}

TEST(GmlUpgrade, PriorRowsEnterWithTheirWeightAndResidual) {
    problem p;
    p.parameter("a", 1.0, -10, 10);
    p.observation("o1", 3.0, 1.0);
    prior_information_data pi;
    pi.weight = 2.0;
    pi.prior_value = 5.0;
    p.cd.prior_information.push_back(pi);
    p.cd.prior_count = 1;
    arrays m(2, 1, 1);
    m.j(1, 1) = 2.0;
    m.j(2, 1) = 1.0;
    m.prior(1, 1) = 1.0;
    m.w[2] = 4.0;
    upgrade_vector(m.j, m.prior, m.w, p.cd, m.u);
    // N = 4 + 4, J'Qr = 2 x 2 + 1 x 4 x (5 - 1).
    EXPECT_NEAR(m.u[1], 20.0 / 8.0, 1e-14);
}

TEST(GmlUpgrade, OptimumLengthRescalesToTheLeastSquaresStep) {
    problem p;
    p.parameter("a", 0.0, -10, 10);
    p.observation("o1", 1.0, 0.0);
    p.observation("o2", 2.0, 0.0);
    arrays m(2, 1);
    m.j(1, 1) = 1.0;
    m.j(2, 1) = 2.0;
    m.u[1] = 0.5;
    optimum_upgrade_length(m.j, m.prior, m.w, p.cd, m.u);
    EXPECT_NEAR(m.u[1], 1.0, 1e-14);
    // No predicted change: the upgrade is kept, not turned into a NaN.
    m.j(1, 1) = 0.0;
    m.j(2, 1) = 0.0;
    m.u[1] = 0.7;
    optimum_upgrade_length(m.j, m.prior, m.w, p.cd, m.u);
    EXPECT_EQ(m.u[1], 0.7);
}

// Eight-digit values nearest (1.00000004, 2.00000003) in predicted change on
// the columns (1, 0) and (1, 0.001): b rounds first to 2.0000000 (error -3e-8),
// a then to the number nearest 1.00000004 + 3e-8, 1.0000001, so that J e is
// (3e-8, -3e-11) against (-7e-8, -3e-11) for each rounded alone. A column held
// keeps its value; equal columns (no positive definite J'J) change nothing.
TEST(GmlUpgrade, WrittenValuesNearestTheStepInPredictedChange) {
    struct row {
        double j22;
        char b_movable;
        double a, b;
    };
    const row table[] = {
        {1e-3, 1, 1.0000001, 2.0000000},
        {1e-3, 0, 1.0000000, 2.00000003},
        {0.0, 1, 1.00000004, 2.00000003},
    };
    for (const row &t : table) {
        arrays m(2, 2);
        m.j(1, 1) = 1.0;
        m.j(1, 2) = 1.0;
        m.j(2, 1) = 0.0;
        m.j(2, 2) = t.j22;
        std::vector<double> values = {0.0, 1.00000004, 2.00000003};
        nearest_written_values(m.j, m.w, 2, 2, {0, 1, t.b_movable}, {0, 0, 0}, values);
        EXPECT_EQ(values[1], t.a) << t.j22 << " " << int(t.b_movable);
        EXPECT_EQ(values[2], t.b) << t.j22 << " " << int(t.b_movable);
    }
}

TEST(GmlUpgrade, BroydenUpdateMeetsTheSecantConditionAndSkipsAZeroStep) {
    problem p;
    parameter_data &a = p.parameter("a", 2.0, -10, 10);
    a.previous_value = 1.0;
    parameter_data &b = p.parameter("b", 1.0, -10, 10);
    b.previous_value = 0.0;
    observation_data &o1 = p.observation("o1", 0.0, 0.0);
    o1.model_value[1] = 3.0;
    observation_data &o2 = p.observation("o2", 0.0, 0.0);
    o2.model_value[1] = 1.0;
    arrays m(2, 2);
    m.j(1, 1) = 1.0;
    m.j(2, 2) = 1.0;
    broyden_update(p.cd, m.j, m.prior);
    EXPECT_DOUBLE_EQ(m.j(1, 1), 2.0);
    EXPECT_DOUBLE_EQ(m.j(1, 2), 1.0);
    EXPECT_DOUBLE_EQ(m.j(2, 1), 0.0);
    EXPECT_DOUBLE_EQ(m.j(2, 2), 1.0);
    EXPECT_DOUBLE_EQ(m.j(1, 1) + m.j(1, 2), 3.0);  // J s = change of the model values
    p.cd.parameters[1].previous_value = 2.0;
    p.cd.parameters[2].previous_value = 1.0;
    broyden_update(p.cd, m.j, m.prior);
    EXPECT_DOUBLE_EQ(m.j(1, 1), 2.0);
    EXPECT_FALSE(std::isnan(m.j(2, 2)));
    EXPECT_DOUBLE_EQ(m.j(2, 2), 1.0);
}

TEST(GmlUpgrade, RegularisedUpgradeWeightsThePriorsByTheWeightFactor) {
    problem p;
    p.parameter("a", 1.0, -10, 10);
    p.observation("o1", 3.0, 1.0);
    prior_information_data pi;
    pi.weight = 2.0;
    pi.prior_value = 5.0;
    p.cd.prior_information.push_back(pi);
    p.cd.prior_count = 1;
    p.cd.weight_factor = 0.5;
    p.cd.lambda = 1.0;
    arrays m(1, 1, 1);
    m.j(1, 1) = 2.0;
    m.prior(1, 1) = 1.0;
    double_vector wp = dvector(1, 1);
    wp[1] = 4.0;
    upgrade_vector_regularised(m.j, m.w, m.prior, wp, p.cd, m.u);
    // (4 + 0.25 x 4 + 1) u = 2 x 2 + 0.25 x 4 x 4.
    EXPECT_NEAR(m.u[1], 8.0 / 6.0, 1e-14);
    // A weight factor of 0 removes the prior information.
    p.cd.weight_factor = 0.0;
    upgrade_vector_regularised(m.j, m.w, m.prior, wp, p.cd, m.u);
    EXPECT_NEAR(m.u[1], 4.0 / 5.0, 1e-14);
    free_dvector(wp, 1, 1);
}

namespace {

// y = a + b x at x = 1, 2, 3 with model values of kind 0 at the current a, b.
struct line_trial {
    problem p;
    arrays m{3, 2};
    int_vector list;
    std::FILE *record = std::tmpfile();

    line_trial(double a, double b, double b_upper, const double (&measured)[3]) {
        p.parameter("a", a, -100, 100);
        p.parameter("b", b, -100, b_upper);
        for (int k = 1; k <= 3; ++k) {
            p.observation(gml_test::numbered("o", k), measured[k - 1], a + b * k);
            m.j(k, 1) = 1.0;
            m.j(k, 2) = k;
        }
        for (int q = 1; q <= 2; ++q) {
            parameter_data &par = p.cd.parameters[q];
            par.at_upper_bound = par.upper_bound <= par.value ? 1 : 0;
            par.at_lower_bound = par.lower_bound >= par.value ? 1 : 0;
        }
        list = ivector(1, 2);
        list_adjustable_parameters(p.cd, list);
    }
    ~line_trial() {
        free_ivector(list, 1, 2);
        std::fclose(record);
    }
    calib_status apply(double ua, double ub) {
        m.u[1] = ua;
        m.u[2] = ub;
        return limit_and_freeze(m.j, m.prior, m.w, p.cd, m.u, list, record);
    }
    parameter_data &a() { return p.cd.parameters[1]; }
    parameter_data &b() { return p.cd.parameters[2]; }
};

const double rising[3] = {3.0, 5.0, 7.0};   // wants b = 2
const double falling[3] = {1.0, 1.5, 2.0};  // wants b = 0.5

}  // namespace

TEST(GmlBounds, UpgradeThroughABoundIsCutOntoItWithoutFreezing) {
    line_trial t(0.0, 1.0, 1.5, rising);
    t.apply(0.2, 1.0);
    EXPECT_DOUBLE_EQ(t.a().value, 0.2);
    EXPECT_DOUBLE_EQ(t.b().value, 1.5);
    EXPECT_DOUBLE_EQ(t.m.u[2], 0.5);
    EXPECT_EQ(t.b().at_upper_bound, 1);
    EXPECT_EQ(t.b().frozen, 0);
    EXPECT_EQ(t.p.cd.frozen_count, 0);
    EXPECT_EQ(file_text(t.record), "");
}

TEST(GmlBounds, PushedOutFromItsBoundWithTheGradientTooFreezesAndTheRestIsRecomputed) {
    line_trial t(0.0, 1.5, 1.5, rising);
    t.apply(0.1, 0.3);
    EXPECT_EQ(t.b().frozen, 1);
    EXPECT_EQ(t.p.cd.frozen_count, 1);
    EXPECT_DOUBLE_EQ(t.b().value, 1.5);
    // a alone: the mean of y - 1.5 x.
    EXPECT_NEAR(t.a().value, 2.0, 1e-12);
    EXPECT_NEAR(t.m.u[1], 2.0, 1e-12);
    EXPECT_EQ(t.m.u[2], 0.0);
    EXPECT_EQ(file_text(t.record),
              "      parameter \"b\" frozen: gradient and update vectors out of bounds\n");
    // A second trial of the same iteration keeps b frozen without a new message.
    t.a().value = 0.0;
    t.apply(0.5, 0.5);
    EXPECT_DOUBLE_EQ(t.b().value, 1.5);
    EXPECT_NEAR(t.a().value, 2.0, 1e-12);
    EXPECT_EQ(gml_test::file_text(t.record),
              "      parameter \"b\" frozen: gradient and update vectors out of bounds\n");
}

TEST(GmlBounds, OnlyTheUpdatePointingOutFreezesWithItsOwnMessage) {
    line_trial t(0.0, 1.5, 1.5, falling);
    t.apply(0.0, 0.3);
    EXPECT_EQ(t.b().frozen, 1);
    EXPECT_DOUBLE_EQ(t.b().value, 1.5);
    EXPECT_EQ(file_text(t.record), "      parameter \"b\" frozen: update vectors out of bounds\n");
}

TEST(GmlBounds, WithinTheToleranceAboveABoundIsCutNotFrozen) {
    line_trial t(0.0, 1.5, 1.5, falling);
    t.apply(0.0, 5e-9);
    EXPECT_EQ(t.b().frozen, 0);
    EXPECT_EQ(t.b().value, 1.5);
    EXPECT_EQ(t.m.u[2], 0.0);
    EXPECT_EQ(file_text(t.record), "");
}

TEST(GmlBounds, TiedParameterFollowsALogParent) {
    problem p;
    p.parameter("a", 1.0, -5, 5, "log");
    parameter_data &t = p.parameter("t", 2.0, -100, 100, "tied");
    t.parent_name = "a";
    ASSERT_EQ(set_tie_ratios(p.cd), 0);
    EXPECT_DOUBLE_EQ(p.cd.parameters[2].tie_ratio, 0.2);
    p.observation("o1", 1.0, 1.0);
    arrays m(1, 1);
    m.j(1, 1) = 1.0;
    m.u[1] = 1.0;
    int_vector list = ivector(1, 1);
    list_adjustable_parameters(p.cd, list);
    limit_and_freeze(m.j, m.prior, m.w, p.cd, m.u, list, nullptr);
    EXPECT_DOUBLE_EQ(p.cd.parameters[1].value, 2.0);
    EXPECT_NEAR(p.cd.parameters[2].value, 20.0, 1e-12);
    free_ivector(list, 1, 1);
}
