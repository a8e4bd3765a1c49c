// The SCE-UA search in its data form on the classic global-optimisation test
// functions, against their published optima. The search minimises |f|, so each
// function carries an offset that keeps it positive near its minimum.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "model/calibration/sce_optimizer.h"
#include "model/framework_test_support.h"

namespace {

using frameworktest::capture_stdout;

double goldstein_price(const double *x) {
    const double a = x[1], b = x[2];
    const double p = 1.0 + (a + b + 1.0) * (a + b + 1.0) *
                               (19.0 - 14.0 * a + 3.0 * a * a - 14.0 * b + 6.0 * a * b + 3.0 * b * b);
    const double q = 30.0 + (2.0 * a - 3.0 * b) * (2.0 * a - 3.0 * b) *
                                (18.0 - 32.0 * a + 12.0 * a * a + 48.0 * b - 36.0 * a * b + 27.0 * b * b);
    return p * q;
}

double rosenbrock(const double *x) {
    return 100.0 * (x[2] - x[1] * x[1]) * (x[2] - x[1] * x[1]) + (1.0 - x[1]) * (1.0 - x[1]);
}

double branin(const double *x) {
    const double pi = std::numbers::pi;
    const double t = x[2] - 5.1 / (4.0 * pi * pi) * x[1] * x[1] + 5.0 / pi * x[1] - 6.0;
    return t * t + 10.0 * (1.0 - 1.0 / (8.0 * pi)) * std::cos(x[1]) + 10.0;
}

double griewank10(const double *x) {
    double sum = 0.0, product = 1.0;
    for (int i = 1; i <= 10; ++i) {
        sum += x[i] * x[i] / 4000.0;
        product *= std::cos(x[i] / std::sqrt(static_cast<double>(i)));
    }
    return 1.0 + sum - product;
}

const double hartman_alpha[4] = {1.0, 1.2, 3.0, 3.2};

double hartman3(const double *x) {
    static const double a[4][3] = {{3, 10, 30}, {0.1, 10, 35}, {3, 10, 30}, {0.1, 10, 35}};
    static const double p[4][3] = {{0.3689, 0.1170, 0.2673}, {0.4699, 0.4387, 0.7470},
                                   {0.1091, 0.8732, 0.5547}, {0.03815, 0.5743, 0.8828}};
    double f = 0.0;
    for (int i = 0; i < 4; ++i) {
        double e = 0.0;
        for (int j = 0; j < 3; ++j) e += a[i][j] * (x[j + 1] - p[i][j]) * (x[j + 1] - p[i][j]);
        f -= hartman_alpha[i] * std::exp(-e);
    }
    return f + 4.0;
}

double hartman6(const double *x) {
    static const double a[4][6] = {{10, 3, 17, 3.5, 1.7, 8},
                                   {0.05, 10, 17, 0.1, 8, 14},
                                   {3, 3.5, 1.7, 10, 17, 8},
                                   {17, 8, 0.05, 10, 0.1, 14}};
    static const double p[4][6] = {{0.1312, 0.1696, 0.5569, 0.0124, 0.8283, 0.5886},
                                   {0.2329, 0.4135, 0.8307, 0.3736, 0.1004, 0.9991},
                                   {0.2348, 0.1451, 0.3522, 0.2883, 0.3047, 0.6650},
                                   {0.4047, 0.8828, 0.8732, 0.5743, 0.1091, 0.0381}};
    double f = 0.0;
    for (int i = 0; i < 4; ++i) {
        double e = 0.0;
        for (int j = 0; j < 6; ++j) e += a[i][j] * (x[j + 1] - p[i][j]) * (x[j + 1] - p[i][j]);
        f -= hartman_alpha[i] * std::exp(-e);
    }
    return f + 4.0;
}

double shekel(const double *x, int m) {
    static const double beta[10] = {0.1, 0.2, 0.2, 0.4, 0.4, 0.6, 0.3, 0.7, 0.5, 0.5};
    static const double c[10][4] = {{4, 4, 4, 4}, {1, 1, 1, 1}, {8, 8, 8, 8}, {6, 6, 6, 6},
                                    {3, 7, 3, 7}, {2, 9, 2, 9}, {5, 5, 3, 3}, {8, 1, 8, 1},
                                    {6, 2, 6, 2}, {7, 3.6, 7, 3.6}};
    double f = 0.0;
    for (int i = 0; i < m; ++i) {
        double d = beta[i];
        for (int j = 0; j < 4; ++j) d += (x[j + 1] - c[i][j]) * (x[j + 1] - c[i][j]);
        f -= 1.0 / d;
    }
    return f + 11.0;
}
double shekel5(const double *x) { return shekel(x, 5); }
double shekel7(const double *x) { return shekel(x, 7); }
double shekel10(const double *x) { return shekel(x, 10); }

double six_hump_camel(const double *x) {
    const double a = x[1], b = x[2];
    return (4.0 - 2.1 * a * a + a * a * a * a / 3.0) * a * a + a * b + (-4.0 + 4.0 * b * b) * b * b + 2.0;
}

double cosine_bowl(const double *x) {
    return x[1] * x[1] + x[2] * x[2] - std::cos(18.0 * x[1]) - std::cos(18.0 * x[2]) + 3.0;
}

double (*current)(const double *) = nullptr;
double data_objective(const double *x, int, const double *, double *, int) { return current(x); }

struct test_function {
    const char *name;
    double (*f)(const double *);
    int n;
    double lower, upper;  // the same bounds on every parameter
    double offset;        // added to the function to keep it positive
    double optimum;       // published minimum of the function itself
    std::vector<double> at;  // its location, when unique and listed
    int max_trials;
};

TEST(SceFunctions, SearchReachesThePublishedOptima) {
    const test_function cases[] = {
        {"Goldstein-Price", goldstein_price, 2, -2.0, 2.0, 0.0, 3.0, {0.0, -1.0}, 10000},
        {"Rosenbrock", rosenbrock, 2, -5.0, 5.0, 0.0, 0.0, {1.0, 1.0}, 10000},
        {"Branin", branin, 2, -5.0, 15.0, 0.0, 0.397887, {}, 10000},
        {"Griewank-10", griewank10, 10, -600.0, 600.0, 0.0, 0.0, {}, 40000},
        {"Hartman-3", hartman3, 3, 0.0, 1.0, 4.0, -3.86278, {}, 10000},
        {"Hartman-6", hartman6, 6, 0.0, 1.0, 4.0, -3.32237, {}, 10000},
        {"Shekel-5", shekel5, 4, 0.0, 10.0, 11.0, -10.1532, {}, 30000},
        {"Shekel-7", shekel7, 4, 0.0, 10.0, 11.0, -10.4029, {}, 10000},
        {"Shekel-10", shekel10, 4, 0.0, 10.0, 11.0, -10.5364, {}, 10000},
        {"six-hump camel", six_hump_camel, 2, -5.0, 5.0, 2.0, -1.031628, {}, 10000},
        {"cosine bowl", cosine_bowl, 2, -1.0, 1.0, 3.0, -2.0, {0.0, 0.0}, 10000},
    };
    for (const test_function &c : cases) {
        current = c.f;
        std::vector<double> x0(static_cast<std::size_t>(c.n) + 1, 0.5 * (c.lower + c.upper));
        std::vector<double> lo(x0.size(), c.lower), hi(x0.size(), c.upper);
        sce_optimizer opt;
        sce_init(opt);
        // No change limit: the search stops when the population has shrunk into 0.1
        // percent of the bounds (or at the trial limit).
        capture_stdout([&] { sce_setup(opt, c.n, 7, 0.0, x0.data(), lo.data(), hi.data()); });
        opt.max_trials = c.max_trials;
        opt.data_objective = data_objective;
        int runs = 0;
        capture_stdout([&] { runs = SCEUA(opt); });
        ASSERT_GT(runs, 0) << c.name;
        std::vector<double> best(x0.size(), 0.0);
        sce_best_point(opt, best.data());
        sce_free(opt);
        EXPECT_NEAR(c.f(best.data()) - c.offset, c.optimum, 1e-4) << c.name << " after " << runs;
        for (std::size_t j = 0; j < c.at.size(); ++j)
            EXPECT_NEAR(best[j + 1], c.at[j], 1e-2) << c.name << " parameter " << j + 1;
    }
}

}  // namespace
