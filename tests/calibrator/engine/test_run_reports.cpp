// Tests of the run record writers: the record header and parameter value file,
// and the "OPTIMISATION RESULTS" section with and without statistics.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "calibrator/engine/run_reports.h"
#include "engine_fixture.h"

using engine_test::in_scratch_dir;

namespace {

// Two adjustable parameters a (1.0) and k ("log", stored 1, so 10), one fixed
// parameter f, and four observations of group g with hand-set model values.
control_data report_problem() {
    control_data cd;
    cd.mode = "estimation";
    cd.max_iterations = 3;
    cd.parameters.assign(1, parameter_data{});
    auto add = [&](const char *name, const char *transform, double value) {
        parameter_data p;
        p.name = name;
        p.transform = transform;
        p.value = value;
        cd.parameters.push_back(p);
    };
    add("a", "none", 1.0);
    add("k", "log", 1.0);
    add("f", "fixed", 0.5);
    cd.parameter_count = 3;
    cd.adjustable_count = 2;
    cd.fixed_count = 1;
    cd.observation_groups.assign(2, observation_group_data{});
    cd.observation_groups[1].group_name = "g";
    cd.observation_groups[1].group_phi = 0.25;
    cd.observation_group_count = 1;
    cd.observations.assign(1, observation_data{});
    for (int k = 1; k <= 4; ++k) {
        observation_data o;
        o.name = std::string("o").append(std::to_string(k));
        o.measured = k;
        o.model_value = {k + 0.25, 0.0, 0.0};
        o.weight = 1.0;
        o.group = "g";
        cd.observations.push_back(o);
    }
    cd.observation_count = 4;
    return cd;
}

class Reports : public in_scratch_dir {};

}  // namespace

TEST_F(Reports, RecordHeaderAndParameterValueFile) {
    control_data cd = report_problem();
    std::FILE *rec = std::fopen("case.rec", "w");
    std::FILE *par = std::fopen("case.par", "w");
    write_record_header(rec, par, 0.25, 0.25, 0.25, cd);
    std::fclose(rec);
    std::fclose(par);
    EXPECT_EQ(read("case.rec"),
              "                            OPTIMIZATION RECORD\n\n"
              "INITIAL CONDITIONS:\n"
              "   Sum of squared weighted residuals = 2.500000E-01\n"
              "   Contribution to phi from observation group 'g' = 2.500000E-01\n\n"
              "      Current parameter values\n"
              "      a               1.000000\n"
              "      k               10.000000\n"
              "      f               0.500000\n");
    EXPECT_EQ(read("case.par"), "1.000000\n10.000000\n0.500000\n");
}

TEST_F(Reports, ResultsWithStatisticsAndConfidenceLimits) {
    control_data cd = report_problem();
    double_matrix cov = dmatrix(1, 2, 1, 2);
    double_matrix cor = dmatrix(1, 2, 1, 2);
    double_matrix vec = dmatrix(1, 2, 1, 2);
    double_vector val = dvector(1, 2);
    cov(1, 1) = 0.04;
    cov(1, 2) = cov(2, 1) = 0.00005;
    cov(2, 2) = 0.0001;
    cor(1, 1) = cor(2, 2) = 1.0;
    cor(1, 2) = cor(2, 1) = 0.025;
    vec(1, 1) = vec(2, 2) = 1.0;
    vec(1, 2) = 0.00125;
    vec(2, 1) = -0.00125;
    val[1] = 0.04;
    val[2] = 0.0000999;
    std::FILE *f = std::fopen("case.rec", "w");
    write_optimisation_results(f, 0.25, cov, cor, vec, val, cd, 0);
    std::fclose(f);
    const std::string rec = read("case.rec");
    // Four observations, two adjustable parameters: t(2) = 4.303.
    // a: 1 -+ 4.303 x 0.2; k: 10^(1 -+ 4.303 x 0.01).
    EXPECT_NE(rec.find("Parameter        Estimated         95 percent confidence limits\n"
                       "                 value             lower limit       upper limit\n"
                       "a                1.000000           0.139400          1.860600\n"
                       "k               10.000000           9.056700         11.041549\n"
                       "\nNote: confidence limits provide only an indication of parameter uncertainty.\n"),
              std::string::npos)
        << rec;
    EXPECT_NE(rec.find("Fixed parameters ----->\n\nParameter        Fixed value\nf                0.500000\n\n\n"),
              std::string::npos)
        << rec;
    // A measured value not read from a control file: fifteen decimals.
    EXPECT_NE(rec.find("o2\t\t2.000000000000000E+00\t2.250000000000000E+00\t-2.500000000000000E-01\t"
                       "1.000000\tg\n"),
              std::string::npos)
        << rec;
    EXPECT_NE(rec.find("Parameter covariance matrix ----->\n"
                       "\t\ta\tk\n"
                       "a\t0.040000\t5.0000E-05\n"
                       "k\t5.0000E-05\t1.0000E-04\n\n\n"),
              std::string::npos)
        << rec;
    EXPECT_NE(rec.find("Parameter correlation coefficient matrix ----->\n"
                       "\t\ta\tk\n"
                       "a\t1.000000\t0.025000\n"
                       "k\t0.025000\t1.000000\n\n\n"),
              std::string::npos)
        << rec;
    EXPECT_NE(rec.find("Normalized eigenvectors of covariance matrix ----->\n"
                       "\t\ta\tk\n"
                       "a\t1.000000\t0.001250\n"
                       "k\t-0.001250\t1.000000\n\n\n"),
              std::string::npos)
        << rec;
    const std::string tail = "Eigenvalues ----->\n\n\t0.040000\t9.9900E-05\t";
    ASSERT_GE(rec.size(), tail.size());
    EXPECT_EQ(rec.substr(rec.size() - tail.size()), tail);
    EXPECT_EQ(rec.find("cannot be determined"), std::string::npos);
    free_dmatrix(cov, 1, 2, 1, 2);
    free_dmatrix(cor, 1, 2, 1, 2);
    free_dmatrix(vec, 1, 2, 1, 2);
    free_dvector(val, 1, 2);
}

TEST_F(Reports, SingularNormalMatrixGivesNoStatistics) {
    control_data cd = report_problem();
    std::FILE *f = std::fopen("case.rec", "w");
    write_optimisation_results(f, 0.25, double_matrix{}, double_matrix{}, double_matrix{},
                               double_vector{}, cd, 1);
    std::fclose(f);
    const std::string rec = read("case.rec");
    EXPECT_NE(rec.find("Covariance matrix and parameter confidence intervals cannot be determined:\n"
                       "Normal matrix nearly singular; cannot be inverted.\n\n"
                       "Adjustable Parameters ----->\n\n"
                       "Parameter        Estimated\n"
                       "                 value\n"
                       "a                1.000000\n"
                       "k               10.000000\n\n\n\n"),
              std::string::npos)
        << rec;
    const std::string tail =
        "Covariance and other statistical matricies cannot be determined:\n"
        "Normal matrix nearly singular; cannot be inverted.\n";
    ASSERT_GE(rec.size(), tail.size());
    EXPECT_EQ(rec.substr(rec.size() - tail.size()), tail);
}
