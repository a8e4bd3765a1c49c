// End-to-end GML estimation against certified results of three nonlinear
// least-squares reference problems (DanWood, Rat42 and BoxBOD), each run as a real
// calibration of an awk model from the published starting values.
#include <gtest/gtest.h>

#include <cmath>

#include "test_varnock_gml_support.h"

using namespace gml_e2e;
using testsupport::scratch_dir;

namespace {

// The Jacobian is a central difference of 1 % steps, so the fixed point of the
// iteration sits a few parts in a million from the exact optimum.
constexpr double value_tolerance = 4e-6;
// Standard deviations from the covariance table, to 1 %.
constexpr double sd_tolerance = 0.01;

void expect_relative(double actual, double expected, double tolerance, const char *what) {
    EXPECT_NEAR(actual / expected, 1.0, tolerance) << what << ": " << actual << " vs " << expected;
}

}  // namespace

TEST(VarnockGmlReference, DanWoodPowerLaw) {
    scratch_dir d;
    settings s;
    write_case(d, s,
               {{"b1", "none", 1.0, -100.0, 100.0}, {"b2", "none", 5.0, -100.0, 100.0}}, {},
               {{"o1", 2.138}, {"o2", 3.421}, {"o3", 3.597}, {"o4", 4.340}, {"o5", 4.882}, {"o6", 5.660}},
               "n = split(\"1.309 1.471 1.490 1.565 1.611 1.680\", x, \" \"); "
               "for (i = 1; i <= n; i++) printf \"%.15g\\n\", v[\"b1\"] * x[i] ^ v[\"b2\"]");
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;

    auto values = model_input_values(d);
    expect_relative(values["b1"], 7.6886226176E-01, value_tolerance, "b1");
    expect_relative(values["b2"], 3.8604055871E+00, value_tolerance, "b2");

    const std::string record = d.read("case.rec");
    auto variance = covariance_diagonal(record);
    ASSERT_EQ(variance.size(), 2u) << record;
    expect_relative(std::sqrt(variance["b1"]), 1.8281973860E-02, sd_tolerance, "sd b1");
    expect_relative(std::sqrt(variance["b2"]), 5.1726610913E-02, sd_tolerance, "sd b2");
    // Certified residual sum of squares 4.3173084083E-03.
    EXPECT_TRUE(contains(record, "Sum of squared weighted residuals (ie phi)\t\t: 4.31730")) << record;
    EXPECT_TRUE(contains(record, "The model has been run one final time using best parameters.\n"));
    // The parameter value file holds the best values.
    std::istringstream par(d.read("case.par"));
    double b1 = 0.0, b2 = 0.0;
    par >> b1 >> b2;
    EXPECT_NEAR(b1, 0.768862, 2e-6);
    EXPECT_NEAR(b2, 3.860406, 3e-6);
    EXPECT_FALSE(d.exists("case.rst"));
    // The sensitivity file has its per-iteration sections and the completion part.
    const std::string sen = d.read("case.sen");
    EXPECT_TRUE(contains(sen, "                        PARAMETER SENSITIVITIES: CASE case\n\n\n"));
    EXPECT_TRUE(contains(sen, " OPTIMISATION ITERATION NO.\t1 ----->\n"));
    EXPECT_TRUE(contains(sen, "COMPLETION OF OPTIMISATION PROCESS"));
    EXPECT_TRUE(contains(sen, " Number of observations with non-zero weight =\t6\n"));
}

namespace {

void write_rat42(const scratch_dir &d, const settings &s) {
    write_case(d, s,
               {{"b1", "none", 100.0, -1000.0, 1000.0},
                {"b2", "none", 1.0, -100.0, 100.0},
                {"b3", "none", 0.1, -100.0, 100.0}},
               {},
               {{"o1", 8.93}, {"o2", 10.80}, {"o3", 18.59}, {"o4", 22.33}, {"o5", 39.35},
                {"o6", 56.11}, {"o7", 61.73}, {"o8", 64.62}, {"o9", 67.08}},
               "n = split(\"9 14 21 28 42 57 63 70 79\", x, \" \"); "
               "for (i = 1; i <= n; i++) printf \"%.15g\\n\", v[\"b1\"] / (1 + exp(v[\"b2\"] - v[\"b3\"] * x[i]))");
}

}  // namespace

TEST(VarnockGmlReference, Rat42LogisticGrowth) {
    scratch_dir d;
    settings s;
    s.max_iterations = 60;
    write_rat42(d, s);
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;

    auto values = model_input_values(d);
    expect_relative(values["b1"], 7.2462237576E+01, value_tolerance, "b1");
    expect_relative(values["b2"], 2.6180768402E+00, value_tolerance, "b2");
    expect_relative(values["b3"], 6.7359200066E-02, value_tolerance, "b3");

    const std::string record = d.read("case.rec");
    auto variance = covariance_diagonal(record);
    ASSERT_EQ(variance.size(), 3u) << record;
    expect_relative(std::sqrt(variance["b1"]), 1.7340283401E+00, sd_tolerance, "sd b1");
    expect_relative(std::sqrt(variance["b2"]), 8.8295217536E-02, sd_tolerance, "sd b2");
    expect_relative(std::sqrt(variance["b3"]), 3.4465663377E-03, sd_tolerance, "sd b3");
    // Certified residual sum of squares 8.0565229338E+00.
    EXPECT_TRUE(contains(record, "Sum of squared weighted residuals (ie phi)\t\t: 8.05652")) << record;
    // 95 percent limits use t = 2.447 for 6 degrees of freedom: b1 +- 2.447 sd.
    const std::size_t at = record.find("\nb1              ");
    ASSERT_NE(at, std::string::npos);
    std::istringstream line(record.substr(at + 1));
    std::string name;
    double value = 0.0, lower = 0.0, upper = 0.0;
    line >> name >> value >> lower >> upper;
    EXPECT_NEAR((upper - lower) / 2.0, 2.447 * 1.7340283401, 0.02);
}

TEST(VarnockGmlReference, Rat42WithOneFiniteDifferenceColumnPerIterationAndBroydenUpdates) {
    scratch_dir d;
    settings s;
    s.max_iterations = 60;
    s.partial_jacobian = 1;
    s.partial_jacobian_columns = 1;
    write_rat42(d, s);
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    // Iteration 1 takes every column (three-point: 6 runs), later ones one column.
    EXPECT_EQ(count_of(r.out, "Calculating Jacobian matrix: running model 6 times ...\n"), 1);
    EXPECT_GE(count_of(r.out, "Calculating Jacobian matrix: running model 2 times ...\n"), 3);
    auto values = model_input_values(d);
    expect_relative(values["b1"], 7.2462237576E+01, value_tolerance, "b1");
    expect_relative(values["b2"], 2.6180768402E+00, value_tolerance, "b2");
    expect_relative(values["b3"], 6.7359200066E-02, value_tolerance, "b3");
}

TEST(VarnockGmlReference, BoxBodFromStartOneReachesTheOptimumPastAnOvershootingUpgrade) {
    // From b1 = b2 = 1 the first upgrade takes b2 to 25, where exp(-b2 x) is
    // 0 at every x and b2 has no effect: the iteration starts again from
    // b1 = b2 = 1 with b2 held, and the estimation goes on to the optimum.
    scratch_dir d;
    settings s;
    s.max_iterations = 60;
    s.lambda = 1.0;
    write_case(d, s,
               {{"b1", "none", 1.0, -1000.0, 1000.0}, {"b2", "none", 1.0, -1000.0, 1000.0}}, {},
               {{"o1", 109.0}, {"o2", 149.0}, {"o3", 149.0}, {"o4", 191.0}, {"o5", 213.0}, {"o6", 224.0}},
               "n = split(\"1 2 3 5 7 10\", x, \" \"); "
               "for (i = 1; i <= n; i++) printf \"%.15g\\n\", v[\"b1\"] * (1 - exp(-v[\"b2\"] * x[i]))");
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string record = d.read("case.rec");
    EXPECT_TRUE(contains(record, "   Parameter \"b2\" has lost its effect at the values of the last upgrade: the\n"
                                 "   iteration starts again from the values before it, with \"b2\" held there.\n"))
        << record;

    // The iteration's fixed point, where the 1 % central differences give
    // J' r = 0 (solved by Newton's method outside varnock): b1 = 213.8098063,
    // b2 = 0.5472328768, that is 1.9e-6 and -8.4e-6 from the certified values.
    auto values = model_input_values(d);
    expect_relative(values["b1"], 213.8098063, 1e-6, "b1");
    expect_relative(values["b2"], 0.5472328768, 1e-6, "b2");
    auto variance = covariance_diagonal(record);
    ASSERT_EQ(variance.size(), 2u) << record;
    expect_relative(std::sqrt(variance["b1"]), 1.2354515176E+01, sd_tolerance, "sd b1");
    expect_relative(std::sqrt(variance["b2"]), 1.0455993237E-01, sd_tolerance, "sd b2");
    // Certified residual sum of squares 1.1680088766E+03.
    EXPECT_TRUE(contains(record, "Sum of squared weighted residuals (ie phi)\t\t: 1.168009E+03")) << record;
}

TEST(VarnockGmlReference, ModelValueThatIsNotFiniteInTheInitialOrAJacobianRunEndsWithStatusOne) {
    struct failing_model {
        const char *awk_body;
        const char *printed;  // the reader's message
        bool in_jacobian;
    };
    // The first prints nan from the start; the second only once b1 leaves its
    // starting value, which the first Jacobian run does.
    const failing_model cases[] = {
        {"printf \"nan\\n\"", "(observation o1): the model output value \"nan\" is not a finite number.\n", false},
        {"if (v[\"b1\"] == 1) print 1.5; else print \"-inf\"",
         "(observation o1): the model output value \"-inf\" is not a finite number.\n", true},
    };
    for (const failing_model &c : cases) {
        scratch_dir d;
        settings s;
        write_case(d, s, {{"b1", "none", 1.0, -10.0, 10.0}}, {}, {{"o1", 2.0}}, c.awk_body);
        auto r = d.run(VARNOCK_EXE, {"case.pst"});
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_TRUE(contains(r.out, c.printed)) << r.out;
        EXPECT_FALSE(contains(r.out, "unsuccessful trial")) << r.out;
        EXPECT_EQ(contains(r.out, "Calculating Jacobian matrix"), c.in_jacobian) << r.out;
    }
}
