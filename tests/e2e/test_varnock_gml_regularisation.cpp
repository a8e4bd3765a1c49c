// End-to-end tests of MODE "regularization": a straight-line model with prior
// information on its intercept, whose regularised least-squares answer is known
// in closed form for every weight factor, and the run record of the mode.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "test_varnock_gml_support.h"

using namespace gml_e2e;
using testsupport::scratch_dir;

namespace {

// y = a + b x at x = 1..4 with weights; the prior says a = 0.
const std::vector<observation> line_data = {
    {"y1", 3.1, 1.0}, {"y2", 4.9, 1.0}, {"y3", 7.2, 0.5}, {"y4", 8.8, 2.0}};
const double prior_a = 0.0;
const double prior_weight = 1.5;

const char *line_model = "for (x = 1; x <= 4; x++) printf \"%.15g\\n\", v[\"a\"] + v[\"b\"] * x";

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// The estimation case of the support helpers turned into a regularisation
// case: one prior equation on "a" in the observation group "regul" and the
// regularisation values with the initial weight factor `wf`.
void write_regularised_case(const scratch_dir &d, settings s, double wf,
                            const std::string &mode = "regularisation") {
    const std::vector<parameter> pars = {{"a", "none", 1.0, -100.0, 100.0},
                                         {"b", "none", 1.0, -100.0, 100.0}};
    write_case(d, s, pars, {}, line_data, line_model);
    std::string control = control_file(s, pars, {}, line_data);
    control = replaced(control, " estimation\n", " " + mode + "\n");
    control = replaced(control, "2 4 1 0 1\n", "2 4 1 1 2\n");
    control = replaced(control, "obsgrp\n* observation data", "obsgrp\nregul\n* observation data");
    control += "pa 1.0 * a = " + number(prior_a) + " " + number(prior_weight) + " regul\n";
    control += "* regularisation\n1.0e-10 1.05e-10 0.1\n" + number(wf) + " 1.0e-10 1.0e10 1.3 1.0e-2\n";
    d.write("case.pst", control);
}

// Minimises sum w_i^2 (y_i - a - b x_i)^2 + wf^2 wp^2 (a - a0)^2 through its
// 2 x 2 normal equations.
void regularised_fit(double wf, double &a, double &b) {
    double s0 = 0, sx = 0, sxx = 0, sy = 0, sxy = 0;
    for (std::size_t i = 0; i < line_data.size(); ++i) {
        const double x = static_cast<double>(i + 1);
        const double w2 = line_data[i].weight * line_data[i].weight;
        s0 += w2;
        sx += w2 * x;
        sxx += w2 * x * x;
        sy += w2 * line_data[i].measured;
        sxy += w2 * x * line_data[i].measured;
    }
    const double p = wf * wf * prior_weight * prior_weight;
    const double n11 = s0 + p, n12 = sx, n22 = sxx;
    const double r1 = sy + p * prior_a, r2 = sxy;
    const double det = n11 * n22 - n12 * n12;
    a = (r1 * n22 - n12 * r2) / det;
    b = (n11 * r2 - n12 * r1) / det;
}

settings quick_settings() {
    settings s;
    s.lambda = 0.01;
    s.max_iterations = 10;
    return s;
}

}  // namespace

TEST(VarnockGmlRegularisation, PriorPullsTheInterceptAsTheWeightFactorGrows) {
    double previous_distance = 1e30;
    for (double wf : {0.0, 0.3, 1.0, 3.0, 30.0}) {
        scratch_dir d;
        write_regularised_case(d, quick_settings(), wf);
        auto r = d.run(VARNOCK_EXE, {"case.pst"});
        ASSERT_EQ(r.exit_status, 0) << "weight factor " << wf << "\n" << r.out << r.err;
        double a = 0.0, b = 0.0;
        regularised_fit(wf, a, b);
        auto values = model_input_values(d);
        EXPECT_NEAR(values["a"], a, 1e-5) << "weight factor " << wf;
        EXPECT_NEAR(values["b"], b, 1e-5) << "weight factor " << wf;
        const double distance = std::fabs(values["a"] - prior_a);
        EXPECT_LT(distance, previous_distance) << "weight factor " << wf;
        previous_distance = distance;
        EXPECT_TRUE(contains(r.out, "Varnock is running in regularization mode.\n\n")) << r.out;
    }
    // The strongest factor holds the intercept close to the prior.
    EXPECT_LT(previous_distance, 0.01);
}

TEST(VarnockGmlRegularisation, BothSpellingsRunTheSameCalibration) {
    scratch_dir one, two;
    write_regularised_case(one, quick_settings(), 1.0, "regularisation");
    write_regularised_case(two, quick_settings(), 1.0, "regularization");
    ASSERT_EQ(one.run(VARNOCK_EXE, {"case.pst"}).exit_status, 0);
    ASSERT_EQ(two.run(VARNOCK_EXE, {"case.pst"}).exit_status, 0);
    EXPECT_EQ(one.read("model.in"), two.read("model.in"));
    EXPECT_EQ(one.read("case.par"), two.read("case.par"));
}

TEST(VarnockGmlRegularisation, RunRecordCarriesBothPartsOfPhi) {
    scratch_dir d;
    settings s = quick_settings();
    s.max_iterations = 2;
    s.phi_stop_count = 10;
    s.no_reduction_count = 10;
    s.relative_change_count = 10;
    const double wf = 2.0;
    write_regularised_case(d, s, wf);
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string record = d.read("case.rec");

    // The initial run at a = b = 1: residuals 1.1, 1.9, 3.2, 3.8 with their
    // weights give the measurement phi; the prior residual (0 - 1) x 1.5
    // squared is the regularisation phi; the total carries it times wf^2.
    const double measurement = 1.1 * 1.1 + 1.9 * 1.9 + 0.25 * 3.2 * 3.2 + 4.0 * 3.8 * 3.8;
    const double regularisation = 1.5 * 1.5;
    char line[200];
    std::snprintf(line, sizeof line, "  Current value of measurement objective function           =  %E\n",
                  measurement);
    EXPECT_TRUE(contains(record, line)) << record;
    std::snprintf(line, sizeof line, "  Current value of regularisation objective function        =  %E\n\n",
                  regularisation);
    EXPECT_TRUE(contains(record, line)) << record;
    std::snprintf(line, sizeof line, "   Sum of squared weighted residuals = %E\n",
                  measurement + wf * wf * regularisation);
    EXPECT_TRUE(contains(record, line)) << record;
    std::snprintf(line, sizeof line, "   Contribution to phi from observation group 'regul' = %E\n",
                  wf * wf * regularisation);
    EXPECT_TRUE(contains(record, line)) << record;

    // Every trial line is followed by the two parts of phi; each iteration
    // reports the weight factor after its Jacobian.
    const int trials = count_of(record, "\tPhi =\t");
    EXPECT_GE(trials, 2);
    EXPECT_EQ(count_of(record, "\tMeas. fn. =\t"), trials);
    EXPECT_EQ(count_of(record, "\tRegul. fn. =\t"), trials);
    EXPECT_EQ(count_of(record, "Re-calculated regularisation weight factor"), 2);
    EXPECT_EQ(count_of(r.out, "Re-calculated regularisation weight factor"), 2);
    // The record echoes the eight regularisation values; only value 4 is used.
    std::snprintf(line, sizeof line,
                  "  4 weight factor                            =  %E   used: the weight factor of every iteration\n",
                  wf);
    EXPECT_TRUE(contains(record, line)) << record;
    EXPECT_EQ(count_of(record, "   read, not used\n"), 7);
    std::snprintf(line, sizeof line,
                  "Re-calculated regularisation weight factor                        =  %E\n", wf);
    EXPECT_TRUE(contains(record, line)) << record;

    // The last iteration ends with the final-run lines only.
    EXPECT_FALSE(contains(record, "Optimization complete: Maximum number of optimization iterations completed."))
        << record;
    EXPECT_TRUE(contains(record, "\nThe model has been run one final time using best parameters.\n"
                                 "Thus all model input files contain best parameter values, and model\n"
                                 "output files contain model results based on these parameters.\n\n\n"))
        << record;
    EXPECT_TRUE(contains(record, "OPTIMISATION RESULTS")) << record;
}

TEST(VarnockGmlRegularisation, RestartResumesTheSameCalibration) {
    // A model that asks varnock to stop at its 12th run, then "/r" from the
    // restart file ends where an uninterrupted run ends.
    const char *prologue =
        "n=$(cat calls.txt 2>/dev/null || echo 0); n=$((n+1)); echo $n > calls.txt\n"
        "if [ -f stop_at ] && [ \"$n\" -eq \"$(cat stop_at)\" ]; then echo 1 > varnock.stp; rm stop_at; fi\n";
    settings s = quick_settings();
    s.restart = "restart";
    s.lambda = 10.0;
    scratch_dir whole, parts;
    for (scratch_dir *d : {&whole, &parts}) {
        write_regularised_case(*d, s, 1.0);
        d->write("model.sh", model_script(line_model, prologue));
    }
    ASSERT_EQ(whole.run(VARNOCK_EXE, {"case.pst"}).exit_status, 0);
    parts.write("stop_at", "12\n");
    ASSERT_EQ(parts.run(VARNOCK_EXE, {"case.pst"}).exit_status, 0);
    ASSERT_TRUE(parts.exists("case.rst"));
    auto r = parts.run(VARNOCK_EXE, {"case.pst", "/r"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(parts.read("model.in"), whole.read("model.in"));
    EXPECT_EQ(parts.read("case.par"), whole.read("case.par"));
    EXPECT_FALSE(parts.exists("case.rst"));
}

TEST(VarnockGmlRegularisation, SlashRWithoutRestartFileFails) {
    scratch_dir d;
    write_regularised_case(d, quick_settings(), 1.0);
    auto r = d.run(VARNOCK_EXE, {"case.pst", "/r"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "\n\nError opening the restart file.\n"
                                "Possibly previous run was not halted prematurely.\n\n"))
        << r.out;
    EXPECT_FALSE(d.exists("model.in"));
}

TEST(VarnockGmlRegularisation, PriorInformationNeedsAGroupOfItsOwn) {
    // A prior equation in the observations' group would move their share of phi
    // into the regularisation part: the file is refused, naming both.
    scratch_dir d;
    write_regularised_case(d, quick_settings(), 2.0);
    d.write("case.pst", replaced(d.read("case.pst"), "= 0 1.5 regul\n", "= 0 1.5 obsgrp\n"));
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "prior information 1 (\"pa\") is in the group \"obsgrp\", which holds "
                                "the observation \"y1\"")) << r.out;
    EXPECT_FALSE(d.exists("case.rec"));
}

TEST(VarnockGmlRegularisation, PriorTermIsReadAsWritten) {
    // Estimation of y = a + b x with the prior "1.0 * WORD = 0.3" of weight 100
    // on b. A word that matches b's transform is honoured: on the value, the
    // answer is the least-squares solution of the observation rows plus the row
    // 100 (b - 0.3); on the logarithm, b comes near 10^0.3. A word that does not
    // match is refused with its line.
    struct row {
        const char *transform, *word;
        double expected_b;  // 0: refused
    };
    // Closed form of the linear case: normal equations of the weighted rows.
    double s0 = 0, sx = 0, sxx = 0, sy = 0, sxy = 0;
    for (std::size_t i = 0; i < line_data.size(); ++i) {
        const double x = static_cast<double>(i + 1), w2 = line_data[i].weight * line_data[i].weight;
        s0 += w2, sx += w2 * x, sxx += w2 * x * x, sy += w2 * line_data[i].measured;
        sxy += w2 * x * line_data[i].measured;
    }
    const double n22 = sxx + 1e4, r2 = sxy + 1e4 * 0.3;
    const double b_linear = (s0 * r2 - sx * sy) / (s0 * n22 - sx * sx);
    const row rows[] = {{"none", "b", b_linear}, {"log", "log(b)", std::pow(10.0, 0.3)},
                        {"none", "log(b)", 0.0}, {"log", "b", 0.0}};
    for (const row &t : rows) {
        scratch_dir d;
        const std::vector<parameter> pars = {{"a", "none", 1.0, -100.0, 100.0},
                                             {"b", t.transform, 1.0, 0.01, 100.0}};
        write_case(d, quick_settings(), pars, {}, line_data, line_model);
        std::string control = control_file(quick_settings(), pars, {}, line_data);
        control = replaced(control, "2 4 1 0 1\n", "2 4 1 1 2\n");
        control = replaced(control, "obsgrp\n* observation data", "obsgrp\nregul\n* observation data");
        control += std::string("pb 1.0 * ") + t.word + " = 0.3 100.0 regul\n";
        d.write("case.pst", control);
        auto r = d.run(VARNOCK_EXE, {"case.pst"});
        const std::string what = std::string(t.transform) + " " + t.word;
        if (t.expected_b == 0.0) {
            EXPECT_EQ(r.exit_status, 1) << what;
            EXPECT_TRUE(contains(r.out, "term 1 of prior information line 1 (case.pst line 31) reads \"" +
                                            std::string(t.word) + "\"")) << what << r.out;
            continue;
        }
        ASSERT_EQ(r.exit_status, 0) << what << r.out;
        EXPECT_NEAR(model_input_values(d)["b"], t.expected_b, 0.01 * t.expected_b) << what;
        if (t.transform == std::string("none")) {
            EXPECT_NEAR(model_input_values(d)["b"], t.expected_b, 1e-5);
        }
    }
}

TEST(VarnockGmlRegularisation, ConfidenceLimitsTakeTheVarianceDegreesOfFreedom) {
    // Six observations of y = a + b x, two of weight 0: the variance of the
    // estimates is phi / (4 - 2), so the 95 % limits take t(2) = 4.303, not
    // the t(4) = 2.776 of all observations. Truth: the ordinary least-squares
    // fit of the four weighted points, by hand below.
    const std::vector<observation> obs = {{"y1", 3.1, 1.0}, {"y2", 4.9, 0.0}, {"y3", 7.2, 1.0},
                                          {"y4", 8.8, 1.0}, {"y5", 0.0, 0.0}, {"y6", 13.3, 1.0}};
    const char *model = "for (x = 1; x <= 6; x++) printf \"%.15g\\n\", v[\"a\"] + v[\"b\"] * x";
    scratch_dir d;
    write_case(d, quick_settings(), {{"a", "none", 1.0, -100.0, 100.0}, {"b", "none", 1.0, -100.0, 100.0}},
               {}, obs, model);
    auto r = d.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    // x = 1, 3, 4, 6: sx = 14, sxx = 62, n = 4; y = 3.1, 7.2, 8.8, 13.3.
    const double xs[] = {1, 3, 4, 6}, ys[] = {3.1, 7.2, 8.8, 13.3};
    double sx = 0, sxx = 0, sy = 0, sxy = 0;
    for (int i = 0; i < 4; ++i) sx += xs[i], sxx += xs[i] * xs[i], sy += ys[i], sxy += xs[i] * ys[i];
    const double det = 4 * sxx - sx * sx;
    const double b = (4 * sxy - sx * sy) / det, a = (sy - b * sx) / 4;
    double phi = 0;
    for (int i = 0; i < 4; ++i) phi += (ys[i] - a - b * xs[i]) * (ys[i] - a - b * xs[i]);
    const double half_a = 4.303 * std::sqrt(phi / 2 * sxx / det);
    const std::string record = d.read("case.rec");
    const std::size_t at = record.find("\na    ", record.find("95 percent confidence limits"));
    ASSERT_NE(at, std::string::npos) << record;
    double value = 0, lower = 0, upper = 0;
    ASSERT_EQ(std::sscanf(record.c_str() + at, " a %lf %lf %lf", &value, &lower, &upper), 3);
    EXPECT_NEAR(value, a, 2e-6);
    EXPECT_NEAR(lower, a - half_a, 2e-6);
    EXPECT_NEAR(upper, a + half_a, 2e-6);
}
