// The SCE-UA optimiser's generators, input file and settings check: the minimal
// standard generator's published sequence, the warnings and defaults of the
// check, the refusals of the input, and the stop tests of small searches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "model/calibration/sce_optimizer.h"
#include "model/calibration/sce_random.h"
#include "model/framework_test_support.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;

class SceSettings : public frameworktest::globals_reset {};

TEST_F(SceSettings, MinimalStandardGeneratorFromOne) {
    // The published check values of the multiplier 16807 modulo 2^31 - 1.
    const int expected[] = {16807, 282475249, 1622650073, 984943658, 1144108930};
    int state = 1;
    for (int value : expected) {
        state = lehmer_step(state);
        EXPECT_EQ(state, value);
    }
    state = 1;
    for (int k = 0; k < 10000; ++k) state = lehmer_step(state);
    EXPECT_EQ(state, 1043618065);
}

TEST_F(SceSettings, UniformStaysInsideItsRangeAndReseedsFromANegativeState) {
    int state = -3737;
    std::vector<double> first;
    double low = 1.0, high = 0.0, sum = 0.0;
    for (int k = 0; k < 20000; ++k) {
        const double u = sce_uniform(state);
        if (k < 5) first.push_back(u);
        low = std::min(low, u);
        high = std::max(high, u);
        sum += u;
    }
    EXPECT_GT(low, 0.0);
    EXPECT_LE(high, 0.99999988);
    EXPECT_NEAR(sum / 20000.0, 0.5, 0.01);
    state = -3737;
    for (double u : first) EXPECT_DOUBLE_EQ(sce_uniform(state), u);
    // Gaussian deviates: mean 0 and variance 1 within sampling error.
    double g = 0.0, g2 = 0.0;
    for (int k = 0; k < 20000; ++k) {
        const double v = sce_gaussian(state);
        g += v;
        g2 += v * v;
    }
    EXPECT_NEAR(g / 20000.0, 0.0, 0.03);
    EXPECT_NEAR(g2 / 20000.0, 1.0, 0.05);
}

sce_optimizer checked(int n, int complex_count, int kstop, int use_options, std::vector<int> options) {
    sce_optimizer opt;
    sce_init(opt);
    opt.n = n;
    opt.complex_count = complex_count;
    opt.kstop = kstop;
    opt.use_options = use_options;
    opt.complex_size = options[0];
    opt.subcomplex_size = options[1];
    opt.evolution_steps = options[2];
    opt.min_complex_count = options[3];
    alloc_1d_double(opt.lower, n);
    alloc_1d_double(opt.upper, n);
    for (int i = 1; i <= n; ++i) opt.upper[static_cast<std::size_t>(i)] = 1.0;
    return opt;
}

TEST_F(SceSettings, CheckCases) {
    struct check_case {
        int n, complex_count, kstop, use_options;
        std::vector<int> options;  // complex size, sub-complex size, steps, minimum complexes
        int warnings;
        std::vector<int> result;   // complex count, size, sub-complex size, steps, minimum, kstop
        const char *message;
    };
    const check_case cases[] = {
        // Defaults whatever the option line says.
        {3, 4, 5, 0, {50, 60, 0, 9}, 0, {4, 7, 4, 7, 4, 5}, ""},
        // The option line as given.
        {3, 4, 5, 1, {9, 5, 3, 2}, 0, {4, 9, 5, 3, 2, 5}, ""},
        {3, 4, 20, 1, {9, 5, 3, 2}, 1, {4, 9, 5, 3, 2, 5},
         " **WARNING** THE NUMBER OF SHUFFLING LOOPS IN WHICH THE CRITERION VALUE\n"
         " MUST CHANGE SHOULD BE GREATER THAN 0 AND LESS THAN 10. kstop = 20 WAS\n"
         " WAS SPECIFIED.  BUT kstop = 5 WILL BE USED INSTEAD.\n"},
        {3, 4, 5, 1, {9, 5, 0, 7}, 2, {4, 9, 5, 9, 4, 5},
         " **WARNING** THE MINIMUM NUMBER OF COMPLEXES 7 IS NOT A VALID CHOICE.\n SET IT TO DEFAULT\n"},
        {3, 4, 5, 1, {9, 1, 3, 2}, 1, {4, 9, 4, 3, 2, 5},
         " **WARNING** THE NUMBER OF POINTS IN A SUB-COMPLEX 1 IS NOT\n A VALID CHOICE, SET IT TO DEFAULT\n"},
        // 30 complexes of 50 points: the size falls back to 2n + 1 = 7.
        {3, 30, 5, 1, {50, 5, 3, 2}, 1, {30, 7, 5, 3, 2, 5},
         " **WARNING** THE NUMBER OF POINTS IN A COMPLEX 50 IS NOT\n A VALID CHOICE, SET IT TO DEFAULT\n"},
        // n = 22: 45 x 30 = 1350 points still exceed 1320, so 2 complexes.
        {22, 30, 5, 1, {50, 5, 3, 2}, 2, {2, 45, 23, 45, 2, 5},
         " **WARNING** THE NUMBER OF POINTS IN INITIAL POPULATION 1350 EXCEED\n"
         " THE POPULATION LIMIT.  SET NGS TO 2, AND NPG, NPS AND NSPL TO DEFAULTS\n"
         " *** TOTAL NUMBER OF WARNING MESSAGES IS 2\n"},
    };
    for (const check_case &c : cases) {
        sce_optimizer opt = checked(c.n, c.complex_count, c.kstop, c.use_options, c.options);
        int warnings = 0;
        const std::string out = capture_stdout([&] { warnings = sce_check_settings(opt); });
        EXPECT_EQ(warnings, c.warnings) << out;
        EXPECT_EQ(opt.complex_count, c.result[0]) << out;
        EXPECT_EQ(opt.complex_size, c.result[1]) << out;
        EXPECT_EQ(opt.subcomplex_size, c.result[2]) << out;
        EXPECT_EQ(opt.evolution_steps, c.result[3]) << out;
        EXPECT_EQ(opt.min_complex_count, c.result[4]) << out;
        EXPECT_EQ(opt.kstop, c.result[5]) << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_LE(opt.complex_size * opt.complex_count, sce_population_limit);
        EXPECT_LE(opt.subcomplex_size, sce_subcomplex_limit);
    }
}

TEST_F(SceSettings, CheckRefusals) {
    struct refusal {
        int n, complex_count;
        double lower, upper;
        const char *message;
    };
    const refusal cases[] = {
        {2, 0, 0.0, 1.0, " **ERROR** NUMBER OF COMPLEXES IN INITIAL POPULATION 0 IS NOT A VALID CHOICE\n"},
        {2, 1320, 0.0, 1.0, " **ERROR** NUMBER OF COMPLEXES IN INITIAL POPULATION 1320 IS NOT A VALID CHOICE\n"},
        {2, 2, 1.0, 1.0, " **ERROR** THE LOWER BOUND 1.000000 OF PARAMETER 1 IS NOT BELOW ITS UPPER BOUND 1.000000\n"},
        {2, 2, 3.0, 1.0, " **ERROR** THE LOWER BOUND 3.000000 OF PARAMETER 1 IS NOT BELOW ITS UPPER BOUND 1.000000\n"},
        {50, 2, 0.0, 1.0, " **ERROR** THE NUMBER OF PARAMETERS 50 IS NOT A VALID CHOICE (1 TO 49)\n"},
    };
    for (const refusal &c : cases) {
        sce_optimizer opt = checked(c.n, c.complex_count, 5, 0, {0, 0, 0, 0});
        opt.lower[1] = c.lower;
        opt.upper[1] = c.upper;
        int result = 0;
        const std::string out = capture_stdout([&] { result = sce_check_settings(opt); });
        EXPECT_EQ(result, -1) << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
    }
}

// Reads an SCE input text of the calibration form in a scratch directory.
sce_optimizer read_input(const in_scratch_dir &here, const std::string &text, std::string &out,
                         int calibration = 1) {
    here.dir().write("sce.in", text);
    sce_optimizer opt;
    sce_init(opt);
    opt.calibration = calibration;
    std::FILE *f = std::fopen("sce.in", "r");
    out = capture_stdout([&] { sce_read_input(opt, f); });
    std::fclose(f);
    return opt;
}

TEST_F(SceSettings, InputFileOfACalibration) {
    in_scratch_dir here;
    std::string out;
    sce_optimizer opt = read_input(here,
                                   "\"my basin.prj\" extra\nlist.txt\nobs.dat\n"
                                   "200 20 0.01 3\n0 1 2\n5 3 4 2 1 1\n"
                                   "0.5 0 1\n10 5 15\n",
                                   out);
    EXPECT_EQ(opt.input_valid, 1);
    EXPECT_EQ(opt.project_file, "my basin.prj");
    EXPECT_EQ(opt.replace_list_file, "list.txt");
    EXPECT_EQ(opt.observation_file, "obs.dat");
    EXPECT_EQ(opt.max_trials, 200);
    EXPECT_EQ(opt.seed, 3737);  // seed 0
    EXPECT_EQ(opt.kstop, 5);    // 20 is refused
    EXPECT_EQ(opt.complex_size, 5);
    EXPECT_EQ(opt.start_at_initial, 1);
    EXPECT_DOUBLE_EQ(opt.initial[2], 10.0);
    EXPECT_DOUBLE_EQ(opt.upper[2], 15.0);
    sce_free(opt);
    // The warnings stand on the console and in the report.
    const std::string report = here.dir().read("sce_output.dat");
    EXPECT_NE(report.find("kstop = 20 WAS\n"), std::string::npos) << report;
    EXPECT_NE(out.find("kstop = 20 WAS\n"), std::string::npos) << out;
}

TEST_F(SceSettings, InputRefusals) {
    in_scratch_dir here;
    struct refusal {
        const char *text;
        const char *message;
    };
    const refusal cases[] = {
        {"a\nb\nc\n200 5 0.01 3 0 1\n", "Error in your input file. The first line must have 7 parameters.\n"},
        {"a\nb\nc\n200 5 0.01 3 0 1 0\n", " **ERROR** THE NUMBER OF PARAMETERS 0 IS NOT A VALID CHOICE (1 TO 49)\n"},
        {"a\nb\nc\n200 5 0.01 3 0 1 60\n", " **ERROR** THE NUMBER OF PARAMETERS 60 IS NOT A VALID CHOICE (1 TO 49)\n"},
        {"a\nb\nc\n200 5 0.01 0 0 0 1\n0 0 0 0 0 0\n0.5 0 1\n",
         " **ERROR** NUMBER OF COMPLEXES IN INITIAL POPULATION 0 IS NOT A VALID CHOICE\n"},
    };
    for (const refusal &c : cases) {
        std::string out;
        sce_optimizer opt = read_input(here, c.text, out);
        EXPECT_EQ(opt.input_valid, 0) << c.text;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        int result = 0;
        out = capture_stdout([&] { result = SCEUA(opt); });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(out, "Error: unable to successfully setup SCE-UA. Unable to run.\n");
        sce_free(opt);
    }
    const std::string long_name(1100, 'x');
    std::string out;
    sce_optimizer opt = read_input(here, long_name + "\nb\nc\n200 5 0.01 3 0 0 1\n0 0 0 0 0 0\n0.5 0 1\n", out);
    EXPECT_EQ(opt.input_valid, 0);
    EXPECT_NE(out.find("Error: the file name on line 1 of the SCE input file is longer than 1023 characters.\n"),
              std::string::npos);
    sce_free(opt);
}

// Sphere around 0.3 in every coordinate.
double sphere(const double *x, int n, const double *, double *, int) {
    double s = 0.0;
    for (int j = 1; j <= n; ++j) s += (x[j] - 0.3) * (x[j] - 0.3);
    return s;
}

int calls = 0;
double counted_sphere(const double *x, int n, const double *a, double *b, int c) {
    ++calls;
    return sphere(x, n, a, b, c);
}

sce_optimizer data_form(int n, int seed) {
    std::vector<double> x0(static_cast<std::size_t>(n) + 1, 0.5), lo(x0.size(), -1.0), hi(x0.size(), 1.0);
    sce_optimizer opt;
    sce_init(opt);
    capture_stdout([&] { sce_setup(opt, n, seed, 1e-4, x0.data(), lo.data(), hi.data()); });
    opt.data_objective = counted_sphere;
    return opt;
}

TEST_F(SceSettings, DataFormDefaults) {
    sce_optimizer opt = data_form(2, 5);
    EXPECT_EQ(opt.input_valid, 1);
    EXPECT_EQ(opt.max_trials, 10000);
    EXPECT_EQ(opt.kstop, 5);  // 500 refused
    EXPECT_EQ(opt.complex_count, 30);
    EXPECT_EQ(opt.complex_size, 5);
    EXPECT_EQ(opt.calibration, 0);
    sce_free(opt);
}

TEST_F(SceSettings, EvaluationCountAndStopTests) {
    // Too few trials for the population: no evaluation at all.
    sce_optimizer opt = data_form(2, 5);
    opt.max_trials = 149;  // 30 complexes of 5 points
    calls = 0;
    int result = 0;
    std::string out = capture_stdout([&] { result = SCEUA(opt); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(calls, 0);
    EXPECT_NE(out.find("Error: maximum number of function calls less than the number of points\n"),
              std::string::npos);
    sce_free(opt);

    // The count returned is one more than the evaluations made.
    opt = data_form(2, 5);
    opt.max_trials = 300;
    calls = 0;
    capture_stdout([&] { result = SCEUA(opt); });
    EXPECT_EQ(result, calls + 1);
    EXPECT_GE(result, 300);
    sce_free(opt);

    // kstop 0: the change compares the newest history entry with itself.
    opt = data_form(2, 5);
    opt.kstop = 0;
    out = capture_stdout([&] { SCEUA(opt); });
    EXPECT_NE(out.find(" ***  Evolution Loop Number 1\n"), std::string::npos);
    EXPECT_EQ(out.find(" ***  Evolution Loop Number 2\n"), std::string::npos) << out;
    sce_free(opt);
}

TEST_F(SceSettings, SeedZeroRepeatsSeed3737) {
    in_scratch_dir here;
    std::vector<std::vector<double>> best;
    std::vector<int> counts;
    for (const char *seed : {"3737", "0", "11"}) {
        // The data form read from a file: no file names, the numbers only.
        std::string out;
        sce_optimizer opt = read_input(here,
                                       std::string("2000 5 0.0001 30 ") + seed +
                                           " 0 3\n0 0 0 0 0 0\n0 -1 1\n0 -1 1\n0 -1 1\n",
                                       out, 0);
        ASSERT_EQ(opt.input_valid, 1) << out;
        opt.data_objective = counted_sphere;
        int result = 0;
        capture_stdout([&] { result = SCEUA(opt); });
        std::vector<double> b(4, 0.0);
        sce_best_point(opt, b.data());
        best.push_back(b);
        counts.push_back(result);
        sce_free(opt);
    }
    EXPECT_EQ(best[0], best[1]);
    EXPECT_EQ(counts[0], counts[1]);
    EXPECT_NE(best[0], best[2]);
}

// A sphere that is not a number wherever x[1] > 0.
double half_defined(const double *x, int n, const double *a, double *b, int c) {
    return x[1] > 0.0 ? std::nan("") : sphere(x, n, a, b, c) + 1.0;
}

TEST_F(SceSettings, CriteriaThatAreNotNumbersSortLast) {
    sce_optimizer opt = data_form(2, 5);
    opt.data_objective = half_defined;
    opt.max_trials = 3000;
    capture_stdout([&] { SCEUA(opt); });
    // The best point lies where the objective is defined, at its boundary x1 = 0.
    EXPECT_LE(opt.best[1], 0.0);
    EXPECT_NEAR(opt.best[1], 0.0, 0.05);
    EXPECT_NEAR(opt.best[2], 0.3, 0.05);
    EXPECT_TRUE(std::isfinite(opt.best[3]));
    sce_free(opt);
}

}  // namespace
