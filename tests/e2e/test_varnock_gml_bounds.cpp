// End-to-end GML estimation of linear models whose least-squares answers are
// known in closed form: a bound that binds, a tied parameter, a "log"
// parameter, too few observations for statistics, and small calibrated values.
#include <gtest/gtest.h>

#include <cmath>

#include "test_varnock_gml_support.h"

using namespace gml_e2e;
using testsupport::scratch_dir;

namespace {

// y = 1 + 2 x with a little noise at x = 1..5.
const std::vector<observation> line_data = {
    {"y1", 3.1}, {"y2", 4.9}, {"y3", 7.2}, {"y4", 8.8}, {"y5", 11.1}};

const char *line_model = "for (x = 1; x <= 5; x++) printf \"%.15g\\n\", v[\"a\"] + v[\"b\"] * x";

// Least-squares intercept and slope of line_data: slope = Sxy / Sxx.
void line_fit(double &a, double &b) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int i = 0; i < 5; ++i) {
        const double x = i + 1;
        sx += x;
        sy += line_data[static_cast<std::size_t>(i)].measured;
        sxx += x * x;
        sxy += x * line_data[static_cast<std::size_t>(i)].measured;
    }
    b = (5 * sxy - sx * sy) / (5 * sxx - sx * sx);
    a = (sy - b * sx) / 5;
}

}  // namespace

TEST(VarnockGmlBounds, SlopeFrozenAtUpperBoundInterceptReestimated) {
    scratch_dir d;
    settings s;
    s.derivative_form = "always_2";
    write_case(d, s, {{"a", "none", 0.0, -100.0, 100.0}, {"b", "none", 1.0, -10.0, 1.5}}, {},
               line_data, line_model);
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    auto values = model_input_values(d);
    EXPECT_DOUBLE_EQ(values["b"], 1.5);
    // With b held at 1.5 the best intercept is mean(y) - 1.5 mean(x) = 7.02 - 4.5.
    EXPECT_NEAR(values["a"], 2.52, 1e-6);
    const std::string record = d.read("case.rec");
    EXPECT_TRUE(contains(record, "      parameter \"b\" frozen: gradient and update vectors out of bounds\n") ||
                contains(record, "      parameter \"b\" frozen: update vectors out of bounds\n"))
        << record;
    EXPECT_TRUE(contains(r.out, "frozen:"));
}

TEST(VarnockGmlBounds, TiedParameterFollowsItsParent) {
    // y = a + b x + c x^2 with c tied to b at c = b / 2: the fit is linear in
    // (a, b) with the regressor x + x^2 / 2.
    scratch_dir d;
    settings s;
    write_case(d, s,
               {{"a", "none", 0.0, -100.0, 100.0},
                {"b", "none", 1.0, -100.0, 100.0},
                {"c", "tied", 0.5, -100.0, 100.0}},
               {{"c", "b"}}, line_data,
               "for (x = 1; x <= 5; x++) printf \"%.15g\\n\", v[\"a\"] + v[\"b\"] * x + v[\"c\"] * x * x");
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    double sz = 0, sy = 0, szz = 0, szy = 0;
    for (int i = 0; i < 5; ++i) {
        const double x = i + 1;
        const double z = x + 0.5 * x * x;
        const double y = line_data[static_cast<std::size_t>(i)].measured;
        sz += z;
        sy += y;
        szz += z * z;
        szy += z * y;
    }
    const double b = (5 * szy - sz * sy) / (5 * szz - sz * sz);
    const double a = (sy - b * sz) / 5;
    auto values = model_input_values(d);
    // The run stops once an upgrade predicts a relative phi reduction below
    // 1e-10 and no trial lowers phi: the values are then within a few parts
    // in a million.
    EXPECT_NEAR(values["a"], a, 5e-6 * std::fabs(a) + 1e-7);
    EXPECT_NEAR(values["b"], b, 5e-6 * std::fabs(b));
    EXPECT_NEAR(values["c"], 0.5 * values["b"], 1e-7 * std::fabs(b));
    // The results section lists the tied parameter with its value.
    const std::string record = d.read("case.rec");
    EXPECT_TRUE(contains(record, "Tied parameters ----->\n\n")) << record;
    // Only a and b are adjustable: two columns in the covariance table.
    EXPECT_EQ(covariance_diagonal(record).size(), 2u);
}

TEST(VarnockGmlBounds, LogTransformedSlopeReachesTheLeastSquaresValue) {
    scratch_dir d;
    settings s;
    write_case(d, s, {{"a", "none", 0.0, -100.0, 100.0}, {"b", "log", 1.0, 0.01, 100.0}}, {},
               line_data, line_model);
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    double a = 0, b = 0;
    line_fit(a, b);
    auto values = model_input_values(d);
    EXPECT_NEAR(values["a"], a, 1e-6);
    EXPECT_NEAR(values["b"], b, 1e-6 * b);
    // Reports show the native value, not its logarithm.
    std::istringstream par(d.read("case.par"));
    double pa = 0, pb = 0;
    par >> pa >> pb;
    EXPECT_NEAR(pb, b, 1e-5);
    // Confidence limits of a "log" parameter are 10 to the power of the log limits,
    // so they are not symmetric about the value but both bracket it.
    const std::string record = d.read("case.rec");
    const std::size_t at = record.find("\nb              ");
    ASSERT_NE(at, std::string::npos) << record;
    std::istringstream line(record.substr(at + 1));
    std::string name;
    double value = 0, lower = 0, upper = 0;
    line >> name >> value >> lower >> upper;
    EXPECT_LT(lower, value);
    EXPECT_GT(upper, value);
    EXPECT_GT(upper - value, value - lower);
}

TEST(VarnockGmlBounds, NoDegreesOfFreedomGiveNoStatistics) {
    scratch_dir d;
    settings s;
    write_case(d, s, {{"a", "none", 0.0, -100.0, 100.0}, {"b", "none", 1.0, -100.0, 100.0}}, {},
               {{"y1", 3.0}, {"y2", 5.0}},
               "for (x = 1; x <= 2; x++) printf \"%.15g\\n\", v[\"a\"] + v[\"b\"] * x");
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    auto values = model_input_values(d);
    EXPECT_NEAR(values["a"], 1.0, 1e-6);
    EXPECT_NEAR(values["b"], 2.0, 1e-6);
    const std::string record = d.read("case.rec");
    EXPECT_TRUE(contains(record, "Covariance matrix and parameter confidence intervals cannot be determined:\n"))
        << record;
    EXPECT_TRUE(contains(record, "Covariance and other statistical matricies cannot be determined:\n"));
    EXPECT_FALSE(contains(record, "95 percent confidence limits"));
    EXPECT_FALSE(contains(record, "nan"));
    EXPECT_FALSE(contains(record, "inf"));
}

TEST(VarnockGmlBounds, SmallCalibratedValueKeepsItsDigitsInTheParameterFile) {
    // y = k x with k of order 1e-7.
    scratch_dir d;
    settings s;
    write_case(d, s, {{"k", "none", 1e-6, 0.0, 1.0}}, {},
               {{"y1", 1.2345e-7}, {"y2", 2.4691e-7}, {"y3", 3.7036e-7}},
               "for (x = 1; x <= 3; x++) printf \"%.15g\\n\", v[\"k\"] * x");
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const double k = model_input_values(d)["k"];
    EXPECT_NEAR(k, (1.2345e-7 + 2 * 2.4691e-7 + 3 * 3.7036e-7) / 14.0, 1e-13);
    const std::string par = d.read("case.par");
    EXPECT_TRUE(contains(par, "E-07\n")) << par;
    EXPECT_NEAR(std::atof(par.c_str()), k, 1e-13);
}

TEST(VarnockGmlBounds, JacobianOnlyRunGivesStatisticsWithoutFinalRun) {
    scratch_dir d;
    settings s;
    s.max_iterations = -1;
    s.derivative_form = "always_2";
    write_case(d, s, {{"a", "none", 1.0, -100.0, 100.0}, {"b", "none", 2.0, -100.0, 100.0}}, {},
               line_data, line_model);
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(count_of(r.out, "Calculating Jacobian matrix: running model 2 times ...\n"), 1);
    EXPECT_FALSE(contains(r.out, "Lambda ="));
    EXPECT_FALSE(contains(r.out, "Running model one last time"));
    const std::string record = d.read("case.rec");
    // The model is linear, so the forward differences are exact: the covariance
    // is s^2 (X'X)^-1 with var(b) = s^2 / Sxx, Sxx = 10, s^2 = phi / 3.
    const auto variance = covariance_diagonal(record);
    ASSERT_EQ(variance.size(), 2u) << record;
    double phi = 0;
    for (int i = 0; i < 5; ++i) {
        const double e = line_data[static_cast<std::size_t>(i)].measured - (1.0 + 2.0 * (i + 1));
        phi += e * e;
    }
    EXPECT_NEAR(variance.at("b"), phi / 3.0 / 10.0, 1e-6);
}

TEST(VarnockGmlBounds, AWeightBeyondWhatADoubleResolvesIsNamedWhenTheNormalMatrixFails) {
    // Regularisation of the line with observation y1's weight 2147483648 among
    // weights of about 1: squared, the ratio is 1.8e19, beyond 1 / epsilon, the
    // normal matrix loses every other row and its factorisation fails. With the
    // weight 1 the same control file runs.
    for (const char *weight : {"2147483648", "1"}) {
        scratch_dir d;
        d.write("case.pst", std::string("pcf\n* control data\nnorestart regularisation\n2 4 1 1 2\n"
                                        "1 1 single point 1 0 0\n0.01 2 0.3 0.01 10\n3.0 3.0 0.001 0\n0.1\n"
                                        "none 10 1e-10 4 4 1e-08 3\n1 1 1\n0 0 0.5 2 0.0\n* parameter groups\n"
                                        "grp relative 0.01 0.0 always_3 2.0 outside_pts\n* parameter data\n"
                                        "a none relative 1 -100 100 grp 1.0 0.0 1\n"
                                        "b none relative 1 -100 100 grp 1.0 0.0 1\n"
                                        "* observation groups\nobsgrp\nregul\n* observation data\ny1 3.1 ") +
                                weight +
                                " obsgrp\ny2 4.9 1 obsgrp\ny3 7.2 0.5 obsgrp\ny4 8.8 2 obsgrp\n"
                                "* model command line\nsh model.sh\n* model input/output\nmodel.tpl model.in\n"
                                "model.ins model.out\n* prior information\npa 1.0 * a = 0 1.5 regul\n"
                                "* regularisation\n1.0e-10 1.05e-10 0.1\n0 1.0e-10 1.0e10 1.3 1.0e-2\n");
        const std::vector<parameter> pars = {{"a", "none", 1.0, -100.0, 100.0}, {"b", "none", 1.0, -100.0, 100.0}};
        d.write("model.tpl", template_file(pars));
        d.write("model.ins", instruction_file({{"y1", 0}, {"y2", 0}, {"y3", 0}, {"y4", 0}}));
        d.write("model.sh", model_script("for (x = 1; x <= 4; x++) printf \"%.15g\\n\", v[\"a\"] + v[\"b\"] * x"));
        auto r = d.run(VARNOCK_EXE, {"case.pst"});
        const bool beyond = weight[1] != '\0';
        EXPECT_EQ(r.exit_status, beyond ? 1 : 0) << r.out << r.err;
        EXPECT_EQ(contains(r.err, "choldc failed\n"), beyond) << r.err;
        EXPECT_EQ(contains(r.err, "in case.pst, observation \"y1\" has the weight 2147483648, 4.29e+09 times the "
                                  "weight 0.5 of observation \"y3\""),
                  beyond)
            << r.err;
    }
}
