// Tests of the parameter statistics: covariance of estimation and regularisation
// problems worked by hand, the correlation matrix, and the Student t table.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/numeric.h"
#include "calibrator/engine/statistics.h"
#include "tests/calibrator/engine/numeric/matrix_helpers.h"

namespace {

// A calibration record with the given observation and prior weights (1-based
// tables, entry 0 empty) and `adjustable` adjustable parameters.
control_data make_record(int adjustable, std::initializer_list<double> observation_weights,
                         std::initializer_list<double> prior_weights = {}) {
    control_data cd;
    cd.adjustable_count = adjustable;
    cd.parameter_count = adjustable;
    cd.observations.resize(1);
    for (double w : observation_weights) {
        observation_data o;
        o.weight = w;
        cd.observations.push_back(o);
    }
    cd.observation_count = static_cast<int>(observation_weights.size());
    cd.prior_information.resize(1);
    for (double w : prior_weights) {
        prior_information_data p;
        p.weight = w;
        cd.prior_information.push_back(p);
    }
    cd.prior_count = static_cast<int>(prior_weights.size());
    return cd;
}

using numeric_test::owned_matrix;

// Diagonal weight matrix held as its diagonal of squared weights.
struct weight_matrix {
    double_vector m;
    int n;
    explicit weight_matrix(std::initializer_list<double> weights)
        : m(dvector(1, static_cast<int>(weights.size()))), n(static_cast<int>(weights.size())) {
        int i = 1;
        for (double w : weights) m[i++] = w * w;
    }
    ~weight_matrix() { free_dvector(m, 1, n); }
    weight_matrix(const weight_matrix &) = delete;
    weight_matrix &operator=(const weight_matrix &) = delete;
};

}  // namespace

TEST(ParameterCovariance, TwoParametersUnitWeights) {
    // J = [[1, 0], [0, 1], [1, 1]]: N = [[2, 1], [1, 2]], N^-1 = [[2, -1], [-1, 2]] / 3;
    // m - A = 1 and phi = 3, so the covariance is [[2, -1], [-1, 2]].
    control_data cd = make_record(2, {1, 1, 1});
    owned_matrix jacobian{{1, 0}, {0, 1}, {1, 1}};
    weight_matrix q{1, 1, 1};
    owned_matrix covariance(2, 2);
    int singular = -1;
    EXPECT_EQ(parameter_covariance(jacobian.m, q.m, 3.0, covariance.m, cd, singular), 0);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(1, 1), 2.0, 1e-14);
    EXPECT_NEAR(covariance(1, 2), -1.0, 1e-14);
    EXPECT_NEAR(covariance(2, 1), -1.0, 1e-14);
    EXPECT_NEAR(covariance(2, 2), 2.0, 1e-14);

    owned_matrix correlation(2, 2);
    EXPECT_EQ(correlation_matrix(covariance.m, correlation.m, cd), 0);
    EXPECT_NEAR(correlation(1, 1), 1.0, 1e-15);
    EXPECT_NEAR(correlation(1, 2), -0.5, 1e-15);
    EXPECT_NEAR(correlation(2, 1), -0.5, 1e-15);
    EXPECT_NEAR(correlation(2, 2), 1.0, 1e-15);

    // Eigen-decomposition of the covariance as the drivers do it: eigenvalues 3
    // and 1 with eigenvectors (1, -1) / sqrt 2 and (1, 1) / sqrt 2.
    owned_matrix copy{{covariance(1, 1), covariance(1, 2)}, {covariance(2, 1), covariance(2, 2)}};
    owned_matrix vectors(2, 2);
    double_vector values = dvector(1, 2);
    int rotations = 0;
    jacobi(copy.m, 2, values, vectors.m, rotations);
    eigen_sort(values, vectors.m, 2);
    EXPECT_NEAR(values[1], 3.0, 1e-14);
    EXPECT_NEAR(values[2], 1.0, 1e-14);
    EXPECT_NEAR(vectors(1, 1) * vectors(2, 1), -0.5, 1e-14);
    EXPECT_NEAR(vectors(1, 2) * vectors(2, 2), 0.5, 1e-14);
    free_dvector(values, 1, 2);
}

TEST(ParameterCovariance, WeightsEnterSquared) {
    // Weights (2, 1, 1): N = [[5, 1], [1, 2]], det 9, N^-1 = [[2, -1], [-1, 5]] / 9;
    // phi = 9 and m - A = 1 give [[2, -1], [-1, 5]]; correlation -1 / sqrt 10.
    control_data cd = make_record(2, {2, 1, 1});
    owned_matrix jacobian{{1, 0}, {0, 1}, {1, 1}};
    weight_matrix q{2, 1, 1};
    owned_matrix covariance(2, 2);
    int singular = -1;
    parameter_covariance(jacobian.m, q.m, 9.0, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(1, 1), 2.0, 1e-14);
    EXPECT_NEAR(covariance(1, 2), -1.0, 1e-14);
    EXPECT_NEAR(covariance(2, 2), 5.0, 1e-14);
    owned_matrix correlation(2, 2);
    correlation_matrix(covariance.m, correlation.m, cd);
    EXPECT_NEAR(correlation(1, 2), -1.0 / std::sqrt(10.0), 1e-15);
}

TEST(ParameterCovariance, ZeroWeightObservationsDoNotCount) {
    // A fourth observation of weight 0: its row adds nothing to N and it does
    // not count towards m, so the result equals the three-observation case.
    control_data cd = make_record(2, {1, 1, 1, 0});
    owned_matrix jacobian{{1, 0}, {0, 1}, {1, 1}, {5, 7}};
    weight_matrix q{1, 1, 1, 0};
    owned_matrix covariance(2, 2);
    int singular = -1;
    parameter_covariance(jacobian.m, q.m, 3.0, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(1, 1), 2.0, 1e-14);
    EXPECT_NEAR(covariance(1, 2), -1.0, 1e-14);
    EXPECT_NEAR(covariance(2, 2), 2.0, 1e-14);
}

TEST(ParameterCovariance, PriorRowsAreEquationsOfTheJacobian) {
    // Two observations J = [[1, 0], [0, 1]] and one prior equation p1 - p2 of
    // weight 1: N = [[2, -1], [-1, 2]], N^-1 = [[2, 1], [1, 2]] / 3; m = 3.
    control_data cd = make_record(2, {1, 1}, {1});
    owned_matrix jacobian{{1, 0}, {0, 1}, {1, -1}};
    weight_matrix q{1, 1, 1};
    owned_matrix covariance(2, 2);
    int singular = -1;
    parameter_covariance(jacobian.m, q.m, 6.0, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(1, 1), 4.0, 1e-14);
    EXPECT_NEAR(covariance(1, 2), 2.0, 1e-14);
    EXPECT_NEAR(covariance(2, 2), 4.0, 1e-14);
}

TEST(ParameterCovariance, OneParameterStraightLineThroughOrigin) {
    // y = b x through x = 1, 2, 3: N = 14, variance phi / (3 - 1).
    control_data cd = make_record(1, {1, 1, 1});
    owned_matrix jacobian{{1}, {2}, {3}};
    weight_matrix q{1, 1, 1};
    owned_matrix covariance(1, 1);
    int singular = -1;
    parameter_covariance(jacobian.m, q.m, 0.7, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(1, 1), 0.35 / 14.0, 1e-16);
    owned_matrix correlation(1, 1);
    correlation_matrix(covariance.m, correlation.m, cd);
    EXPECT_DOUBLE_EQ(correlation(1, 1), 1.0);
}

TEST(ParameterCovariance, SingularNormalMatricesAreFlagged) {
    control_data cd = make_record(2, {1, 1, 1});
    weight_matrix q{1, 1, 1};
    int singular = 0;
    // A parameter without effect: a zero column, so a zero row of N.
    owned_matrix no_effect{{1, 0}, {2, 0}, {3, 0}};
    owned_matrix covariance{{5, 5}, {5, 5}};
    parameter_covariance(no_effect.m, q.m, 1.0, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_singular);
    EXPECT_EQ(covariance(1, 1), 0.0);
    EXPECT_EQ(covariance(2, 1), 0.0);

    // Two parameters with identical effect: N is singular without a zero row.
    owned_matrix identical{{1, 1}, {2, 2}, {3, 3}};
    singular = 0;
    parameter_covariance(identical.m, q.m, 1.0, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_singular);
    EXPECT_EQ(covariance(1, 2), 0.0);

    // Effects that differ only by units are still independent.
    owned_matrix scaled{{1e-6, 0}, {0, 1e6}, {1e-6, 1e6}};
    singular = -1;
    parameter_covariance(scaled.m, q.m, 3.0, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(1, 1), 2.0e12, 2.0);
    EXPECT_NEAR(covariance(2, 2), 2.0e-12, 2.0e-24);
}

TEST(ParameterCovariance, StronglyCorrelatedParametersAreNotFlagged) {
    // Columns (1, 1, 1) and (1, 1 + 1e-4, 1 - 1e-4): N = [[3, 3], [3, 3 + 2e-8]],
    // det 6e-8, so with phi = 1 and m - A = 1 the variance of p2 is 3 / 6e-8.
    control_data cd = make_record(2, {1, 1, 1});
    owned_matrix jacobian{{1, 1}, {1, 1 + 1e-4}, {1, 1 - 1e-4}};
    weight_matrix q{1, 1, 1};
    owned_matrix covariance(2, 2);
    int singular = -1;
    parameter_covariance(jacobian.m, q.m, 1.0, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(2, 2), 5.0e7, 5.0e7 * 1e-6);
    EXPECT_NEAR(covariance(1, 2), -5.0e7, 5.0e7 * 1e-6);
    owned_matrix correlation(2, 2);
    correlation_matrix(covariance.m, correlation.m, cd);
    EXPECT_LT(correlation(1, 2), -0.999999);
}

TEST(ParameterCovariance, NoDegreesOfFreedomIsFlagged) {
    // Two weighted observations for two parameters: the error variance would
    // divide by m - A = 0.
    control_data cd = make_record(2, {1, 1, 0});
    owned_matrix jacobian{{1, 0}, {0, 1}, {1, 1}};
    weight_matrix q{1, 1, 0};
    owned_matrix covariance(2, 2);
    int singular = 0;
    parameter_covariance(jacobian.m, q.m, 1.0, covariance.m, cd, singular);
    EXPECT_EQ(singular, covariance_no_degrees_of_freedom);
    EXPECT_EQ(covariance(1, 1), 0.0);
}

TEST(RegularisedCovariance, PriorWeightedByTheSquaredWeightFactor) {
    // J = I, X = [1, 1], Qp = 1, weight factor 2: N = I + 4 [[1, 1], [1, 1]]
    // = [[5, 4], [4, 5]], N^-1 = [[5, -4], [-4, 5]] / 9; m = 3, phi = 9.
    control_data cd = make_record(2, {1, 1}, {1});
    cd.weight_factor = 2.0;
    owned_matrix jacobian{{1, 0}, {0, 1}};
    weight_matrix qo{1, 1};
    owned_matrix prior{{1, 1}};
    weight_matrix qp{1};
    owned_matrix covariance(2, 2);
    int singular = -1;
    EXPECT_EQ(parameter_covariance_regularised(jacobian.m, qo.m, prior.m, qp.m, 9.0, covariance.m,
                                               cd, singular),
              0);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(1, 1), 5.0, 1e-14);
    EXPECT_NEAR(covariance(1, 2), -4.0, 1e-14);
    EXPECT_NEAR(covariance(2, 2), 5.0, 1e-14);
}

TEST(RegularisedCovariance, ZeroWeightFactorDropsThePrior) {
    control_data cd = make_record(2, {1, 1}, {1});
    cd.weight_factor = 0.0;
    owned_matrix jacobian{{2, 0}, {0, 1}};
    weight_matrix qo{1, 1};
    owned_matrix prior{{1, 1}};
    weight_matrix qp{1};
    owned_matrix covariance(2, 2);
    int singular = -1;
    parameter_covariance_regularised(jacobian.m, qo.m, prior.m, qp.m, 3.0, covariance.m, cd,
                                     singular);
    EXPECT_EQ(singular, covariance_computed);
    EXPECT_NEAR(covariance(1, 1), 0.75, 1e-15);
    EXPECT_NEAR(covariance(1, 2), 0.0, 1e-15);
    EXPECT_NEAR(covariance(2, 2), 3.0, 1e-15);
}

TEST(CorrelationMatrix, ZeroVarianceGivesZeroInsteadOfNotANumber) {
    control_data cd = make_record(2, {1, 1, 1});
    owned_matrix covariance{{0, 0}, {0, 4}};
    owned_matrix correlation(2, 2);
    correlation_matrix(covariance.m, correlation.m, cd);
    EXPECT_EQ(correlation(1, 1), 0.0);
    EXPECT_EQ(correlation(1, 2), 0.0);
    EXPECT_EQ(correlation(2, 2), 1.0);
}

TEST(StudentT, TabulatedTwoSidedValues) {
    struct point {
        int dof;
        double t;
    };
    // The standard table of two-sided 95 percent points.
    const point standard[] = {{1, 12.706}, {2, 4.303},  {3, 3.182},  {5, 2.571},  {10, 2.228},
                              {15, 2.131}, {20, 2.086}, {25, 2.06},  {30, 2.042}, {40, 2.021},
                              {60, 2.0},   {120, 1.98}, {9999999, 1.96}};
    for (const point &p : standard) {
        double t = -1.0;
        EXPECT_EQ(student_t_two_sided_95(p.dof, t), 0);
        EXPECT_DOUBLE_EQ(t, p.t) << p.dof << " degrees of freedom";
    }
}

TEST(StudentT, LinearInterpolationBetweenTabulatedPoints) {
    double t = 0.0;
    student_t_two_sided_95(31, t);
    EXPECT_NEAR(t, 2.0399, 1e-12);
    student_t_two_sided_95(35, t);
    EXPECT_NEAR(t, 2.0315, 1e-12);
    student_t_two_sided_95(50, t);
    EXPECT_NEAR(t, 2.0105, 1e-12);
    student_t_two_sided_95(90, t);
    EXPECT_NEAR(t, 1.99, 1e-12);
    // Far above 120 the table approaches the normal value 1.96.
    student_t_two_sided_95(5000000, t);
    EXPECT_GT(t, 1.96);
    EXPECT_LT(t, 1.98);
}

TEST(StudentT, OutsideTheTableTheValueIsLeftUnchanged) {
    double t = 42.0;
    student_t_two_sided_95(0, t);
    EXPECT_EQ(t, 42.0);
    student_t_two_sided_95(-3, t);
    EXPECT_EQ(t, 42.0);
    student_t_two_sided_95(10000000, t);
    EXPECT_EQ(t, 42.0);
}
