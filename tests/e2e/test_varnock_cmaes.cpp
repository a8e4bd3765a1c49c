// End-to-end tests of the evolutionary methods of varnock: "cmaes" and
// "cmaesrbf" calibrate the straight-line model y = a + b x to its weighted
// least-squares line, failed model runs rank last and only model-run values are
// reported, and MODE "rbf" runs the
// surrogate self-test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "varnock_case.h"

using testsupport::scratch_dir;
using testsupport::split_lines;
using varnock_e2e::contains;
using varnock_e2e::line_case;
using varnock_e2e::replaced;

namespace {

// The line case's observations 3.5, 5.0 and 7.5 at x = 1, 2, 3 with weights 1,
// 1 and 0.5 have the weighted least-squares line a = 14/9, b = 11/6 (normal
// equations [2.25 3.75; 3.75 7.25] [a b]' = [10.375 19.125]') and phi = 1/9.
constexpr double best_a = 14.0 / 9.0;
constexpr double best_b = 11.0 / 6.0;
constexpr double best_phi = 1.0 / 9.0;

const char *const fixed_seed_parameters =
    " N 2\n"
    " seed 4711\n"
    " initialStandardDeviations 2\n"
    " 0.5 0.5\n";

// The line case with the given MODE and a parameter file with a fixed seed.
void cmaes_case(const scratch_dir &d, const std::string &mode,
                const std::string &parameters = fixed_seed_parameters) {
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "norestart estimation", "norestart " + mode));
    d.write("initials.par", parameters);
}

struct fitness_line {
    int candidate = -1;
    double value = 0.0;
    bool predicted = false;  // ", 9999999999999": a surrogate value, not a model run
};

// The fitness lines of each generation; a generation's lines follow the two
// empty lines that sampling and the bounds check print.
std::vector<std::vector<fitness_line>> generations_of(const std::string &out) {
    std::vector<std::vector<fitness_line>> generations;
    int empty_run = 0;
    for (const std::string &line : split_lines(out)) {
        if (line.empty()) {
            ++empty_run;
            continue;
        }
        if (line.rfind("Stop:", 0) == 0) break;
        fitness_line f;
        char suffix[32] = "";
        const int got = std::sscanf(line.c_str(), "For i = %d, fitness value = %lf, %31s", &f.candidate, &f.value,
                                    suffix);
        if (got >= 2) {
            if (empty_run >= 2 || generations.empty()) generations.emplace_back();
            f.predicted = got == 3;
            EXPECT_TRUE(got == 2 || std::string(suffix) == "9999999999999") << line;
            generations.back().push_back(f);
        }
        empty_run = 0;
    }
    return generations;
}

// The two numbers on the line after `heading` in "allcmaes.dat".
std::vector<double> vector_after(const std::string &text, const std::string &heading) {
    std::vector<double> values;
    const std::size_t at = text.rfind(heading);
    if (at == std::string::npos) return values;
    std::istringstream in(text.substr(text.find('\n', at) + 1));
    double v = 0.0;
    for (int i = 0; i < 2 && in >> v; ++i) values.push_back(v);
    return values;
}

int count_of(const std::string &text, const std::string &what) {
    int n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// The count line of "cmaes_calls3j.prn": next free archive row and generation counter.
void count_line(const std::string &calls, int &next_free, int &generation) {
    next_free = generation = -1;
    ASSERT_EQ(std::sscanf(calls.c_str(), "%d\t%d\nStop:\n", &next_free, &generation), 2) << calls;
}

TEST(VarnockCmaes, FindsTheWeightedLeastSquaresLine) {
    scratch_dir d;
    cmaes_case(d, "cmaes");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;

    EXPECT_TRUE(contains(r.out, "(3,6)-CMA-ES(mu_eff=2.3), Ver=\"3.02.03.beta\", dimension=2, randomSeed=4711"))
        << r.out.substr(0, 400);
    const std::vector<double> mean = vector_after(d.read("allcmaes.dat"), "xmean \n");
    ASSERT_EQ(mean.size(), 2u);
    EXPECT_NEAR(mean[0], best_a, 0.005);
    EXPECT_NEAR(mean[1], best_b, 0.005);

    double best = 0.0;
    ASSERT_EQ(std::sscanf(d.read("test.prn").c_str(), "The best function value for iteration 1 is %lf", &best), 1);
    EXPECT_NEAR(best, best_phi, 1e-4);
    EXPECT_GE(best, best_phi - 1e-6);  // nothing beats the least-squares line

    // Every candidate of every generation is one model run.
    const auto generations = generations_of(r.out);
    ASSERT_GT(generations.size(), 5u);
    for (const auto &g : generations) {
        ASSERT_EQ(g.size(), 6u);
        for (int c = 0; c < 6; ++c) {
            EXPECT_EQ(g[static_cast<size_t>(c)].candidate, c);
            EXPECT_FALSE(g[static_cast<size_t>(c)].predicted);
        }
    }
    // No archive: the count line holds 1 and the generation counter.
    const std::string calls = d.read("cmaes_calls3j.prn");
    int next_free = 0;
    int generation = 0;
    count_line(calls, next_free, generation);
    EXPECT_EQ(next_free, 1);
    EXPECT_EQ(generation, static_cast<int>(generations.size()) + 1);
    EXPECT_TRUE(contains(calls, "Stop:\nTolFun: function value differences")) << calls;
    EXPECT_TRUE(contains(r.out, "Stop:\nTolFun: function value differences"));
    EXPECT_FALSE(d.exists("rbftestx.prn"));
    // The log is appended to by every run.
    ASSERT_EQ(d.run(VARNOCK_EXE, {"line.pst"}).exit_status, 0);
    EXPECT_EQ(count_of(d.read("cmaes_calls3j.prn"), "Stop:\n"), 2);
}

TEST(VarnockCmaes, SurrogateScreensBatchesAndStillFindsTheLine) {
    scratch_dir d;
    cmaes_case(d, "cmaesrbf");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;

    const std::vector<double> mean = vector_after(d.read("allcmaes.dat"), "xmean \n");
    ASSERT_EQ(mean.size(), 2u);
    EXPECT_NEAR(mean[0], best_a, 0.005);
    EXPECT_NEAR(mean[1], best_b, 0.005);

    const auto generations = generations_of(r.out);
    ASSERT_GT(generations.size(), 20u);
    int model_runs = 0;
    int predicted = 0;
    for (std::size_t g = 0; g < generations.size(); ++g) {
        std::set<int> run_here;
        std::set<int> seen;
        for (const fitness_line &f : generations[g]) {
            ASSERT_GE(f.candidate, 0);
            ASSERT_LT(f.candidate, 6);
            seen.insert(f.candidate);
            if (f.predicted) {
                ++predicted;
                EXPECT_EQ(run_here.count(f.candidate), 0u) << "a model-run candidate got a prediction";
            } else {
                ++model_runs;
                EXPECT_TRUE(run_here.insert(f.candidate).second) << "candidate run twice in generation " << g + 1;
            }
        }
        EXPECT_EQ(seen.size(), 6u) << "generation " << g + 1;
    }
    // Generation 1 fills the archive past the 3 points that 2 parameters need;
    // generation 2 is screened with the first batch equal to the population, so
    // its single pass runs all 6; the batch then falls to 5.
    for (std::size_t g = 0; g < 2; ++g) {
        ASSERT_EQ(generations[g].size(), 6u);
        for (const fitness_line &f : generations[g]) EXPECT_FALSE(f.predicted);
    }
    ASSERT_GE(generations[2].size(), 6u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_FALSE(generations[2][i].predicted);
    EXPECT_TRUE(generations[2][5].predicted);
    EXPECT_GT(predicted, 0);

    // The count line holds the archive's next free row: one row per model run.
    int next_free = 0;
    int generation = 0;
    count_line(d.read("cmaes_calls3j.prn"), next_free, generation);
    EXPECT_EQ(next_free, model_runs + 1);
    EXPECT_EQ(generation, static_cast<int>(generations.size()) + 1);
    EXPECT_LT(model_runs, 6 * static_cast<int>(generations.size()));

    // Generation 20 wrote the archive, its fitness, the candidates and their predictions.
    int archive_at_20 = 0;
    for (std::size_t g = 0; g < 19; ++g) {
        for (const fitness_line &f : generations[g]) archive_at_20 += f.predicted ? 0 : 1;
    }
    const auto x_lines = split_lines(d.read("rbftestx.prn"));
    const auto y_lines = split_lines(d.read("rbftesty.prn"));
    ASSERT_EQ(static_cast<int>(x_lines.size()), archive_at_20);
    ASSERT_EQ(static_cast<int>(y_lines.size()), archive_at_20);
    // Each archive line: two coordinates with 16 decimals, each followed by a tab.
    for (const std::string &line : x_lines) {
        ASSERT_EQ(count_of(line, "\t"), 2) << line;
        ASSERT_EQ(line.back(), '\t') << line;
        const std::size_t tab = line.find('\t');
        EXPECT_EQ(tab - line.find('.'), 17u) << line;
        EXPECT_EQ(line.size() - 1 - line.find('.', tab), 17u) << line;
    }
    const std::string samples = d.read("rbftest_xsample.prn");
    EXPECT_EQ(count_of(samples, "\t"), 12);
    EXPECT_EQ(count_of(samples, "\n"), 0);
    const auto predictions = split_lines(d.read("rbftest_fmodel.prn"));
    EXPECT_EQ(predictions.size(), 6u);
    // The first archive point is the first model run of generation 1.
    double first_phi = 0.0;
    ASSERT_EQ(std::sscanf(y_lines[0].c_str(), "%lf", &first_phi), 1);
    EXPECT_NEAR(first_phi, generations[0][0].value, 1e-6);
}

TEST(VarnockCmaes, TiedParameterFollowsItsLogParent) {
    // a is estimated as log10(a); c is tied to a with ratio 2 / 1 and is written
    // into the model input with every candidate.
    scratch_dir d;
    std::string control = line_case(d);
    control = replaced(control, "2 3 1 0 1\n", "3 3 1 0 1\n");
    control = replaced(control, "a none relative 1.0 -10.0 10.0", "a log factor 1.0 0.01 10.0");
    control = replaced(control, "* observation groups", "c tied relative 2.0 0.0 100.0 grp 1.0 0.0 1\nc a\n"
                                                        "* observation groups");
    control = replaced(control, "norestart estimation", "norestart cmaes");
    d.write("line.pst", control);
    d.write("model.tpl", d.read("model.tpl") + "c = #c       #\n");
    d.write("initials.par", std::string(fixed_seed_parameters) + " stopMaxIter 3\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "MaxIter: number of iterations 3 >= 3"));

    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
    ASSERT_EQ(std::sscanf(d.read("model.in").c_str(), "a = %lf\nb = %lf\nc = %lf", &a, &b, &c), 3)
        << d.read("model.in");
    EXPECT_GT(a, 0.0);
    EXPECT_NEAR(c / a, 2.0, 1e-6);
}

TEST(VarnockCmaes, ProblemDimensionOverridesTheParameterFile) {
    scratch_dir d;
    cmaes_case(d, "cmaes",
               " N 5\n seed 4711\n lambda 20\n mu 10\n initialStandardDeviations 5\n 0.5 0.5 0.5 0.5 0.5\n"
               " stopMaxIter 2\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Warning: N 5 in 'initials.par' is replaced by the 2 adjustable parameters"));
    EXPECT_TRUE(contains(r.out, "(3,6)-CMA-ES(mu_eff=2.3), Ver=\"3.02.03.beta\", dimension=2")) << r.out;
    const auto generations = generations_of(r.out);
    ASSERT_EQ(generations.size(), 2u);
    EXPECT_EQ(generations[0].size(), 6u);
    EXPECT_TRUE(contains(d.read("actparcmaes.par"), "\n N 2\n"));
}

TEST(VarnockCmaesSignals, StopSignalBeforeTheFirstGenerationRunsNoModel) {
    scratch_dir d;
    cmaes_case(d, "cmaes");
    d.write("signals.par", "# read before the first generation\nstop now\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Stop:\nManual: stop signal read\n")) << r.out;
    EXPECT_EQ(count_of(r.out, "fitness value"), 0);
    EXPECT_FALSE(d.exists("model.in"));
    EXPECT_EQ(d.read("cmaes_calls3j.prn"), "1\t1\nStop:\nManual: stop signal read\n\n");
    EXPECT_TRUE(contains(d.read("allcmaes.dat"), "function evaluations 0\n"));
}

TEST(VarnockCmaesSignals, StopSignalWrittenDuringTheRunEndsItAfterThatGeneration) {
    // The seventh model run (generation 2 of 6 candidates each) writes the stop
    // signal; the file is read again after generation 2, which ends the search.
    scratch_dir d;
    cmaes_case(d, "cmaes");
    d.write("model.sh",
            "n=$(cat runs 2>/dev/null || echo 0); n=$((n + 1)); echo $n > runs\n"
            "if [ $n -eq 7 ]; then echo 'stop now' > signals.par; fi\n" +
                d.read("model.sh"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(d.read("runs"), "12\n");
    EXPECT_EQ(generations_of(r.out).size(), 2u);
    EXPECT_EQ(d.read("cmaes_calls3j.prn"), "1\t3\nStop:\nManual: stop signal read\n\n");
    EXPECT_TRUE(contains(d.read("allcmaes.dat"), "function evaluations 12\n"));
}

// The weighted phi of the line case at (a, b), by hand: observations 3.5, 5.0,
// 7.5 at x = 1, 2, 3 with weights 1, 1, 0.5.
double line_phi(double a, double b) {
    const double r1 = 3.5 - a - b, r2 = 5.0 - a - 2 * b, r3 = 7.5 - a - 3 * b;
    return r1 * r1 + r2 * r2 + 0.25 * r3 * r3;
}

// The lowest line_phi over the "a b" lines that the model logged, one a run,
// printed as test.prn prints it.
std::string lowest_logged_phi(const std::string &log) {
    double lowest = HUGE_VAL;
    std::istringstream in(log);
    for (double a = 0, b = 0; in >> a >> b;) lowest = std::min(lowest, line_phi(a, b));
    char text[64];
    std::snprintf(text, sizeof text, "%g", lowest);
    return text;
}

const char *const logging_model =
    "awk '/^a/ {a=$3} /^b/ {b=$3} END {print a, b >> \"runs.log\"}' model.in\n";

TEST(VarnockCmaesFailures, FailedCandidatesRankLastAndTheSearchGoesOn) {
    // Every fifth model run leaves no output file, and candidates with b above 2
    // give "nan": each such candidate ranks last in its generation, the search
    // ends on a stop test, and test.prn holds the lowest phi a model run
    // returned (computed here from the logged parameters of the runs that
    // returned one).
    for (const char *mode : {"cmaes", "cmaesrbf"}) {
        scratch_dir d;
        cmaes_case(d, mode);
        d.write("model.sh",
                "n=$(cat runs 2>/dev/null || echo 0); n=$((n + 1)); echo $n > runs\n"
                "if [ $((n % 5)) -eq 0 ]; then rm -f model.out; exit 3; fi\n"
                "if awk '/^b/ {exit !($3 > 2)}' model.in; then printf 'y1 nan\\ny2 5\\ny3 7\\n' > model.out; exit 0; fi\n" +
                    std::string(logging_model) + d.read("model.sh"));
        auto r = d.run(VARNOCK_EXE, {"line.pst"});
        ASSERT_EQ(r.exit_status, 0) << mode << r.out;
        const int runs = std::stoi(d.read("runs"));
        const int failed = count_of(r.out, "has no function value; it ranks last in its generation.");
        EXPECT_GE(failed, runs / 5) << mode;
        EXPECT_EQ(failed + count_of(d.read("runs.log"), "\n"), runs) << mode;
        EXPECT_TRUE(contains(r.out, "Stop:\n")) << mode;
        const std::string best = lowest_logged_phi(d.read("runs.log"));
        EXPECT_TRUE(contains(d.read("test.prn"), "The best function value for iteration 1 is " + best + "\n"))
            << mode << " " << best << "\n" << d.read("test.prn");
        EXPECT_TRUE(contains(d.read("allcmaes.dat"), "function value " + best.substr(0, 6))) << mode;
        // The result files hold that run: its parameters in line.par give
        // its phi, which the record reports.
        double a = 0.0, b = 0.0;
        ASSERT_EQ(std::sscanf(d.read("line.par").c_str(), "%lf %lf", &a, &b), 2) << mode;
        const std::string rec = d.read("line.rec");
        const double phi = std::atof(rec.c_str() + rec.find("(ie phi)\t\t: ") + 12);
        EXPECT_NEAR(phi, std::stod(best), 1e-5 * std::stod(best)) << mode;
        EXPECT_NEAR(line_phi(a, b), phi, 1e-4 * phi) << mode;
        for (const char *f : {"line.sen", "line.mtt"}) EXPECT_FALSE(d.read(f).empty()) << mode << f;
    }
}

TEST(VarnockCmaesFailures, NoCandidateEvaluatedEndsTheSearchWithoutABestValue) {
    scratch_dir d;
    cmaes_case(d, "cmaes");
    d.write("model.sh", "printf 'y1 nan\\ny2 5.0\\ny3 7.0\\n' > model.out\n");
    d.write("test.prn", "an earlier search\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    // A model output that is not a number is a failed model run.
    EXPECT_TRUE(contains(r.out, "(observation y1): the model output value \"nan\" is not a finite number.\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "The CMA-ES search stops in generation 1: no candidate of the generation could be "
                                "evaluated.")) << r.out;
    EXPECT_EQ(count_of(r.out, "fitness value"), 0);
    EXPECT_FALSE(d.exists("allcmaes.dat"));
    // A failed search leaves the earlier results.
    EXPECT_EQ(d.read("test.prn"), "an earlier search\n");
}

TEST(VarnockCmaesFailures, StartsThatLeaveNoRoomOrOverflowAreRefusedBeforeAnyRun) {
    // Each refusal names what to change, ends with status 1 before any model
    // run, and leaves an earlier test.prn as it was.
    struct row {
        const char *bounds_b;      // bounds of b in the control file
        const char *parameters;    // initials.par
        const char *message;
    };
    const row rows[] = {
        {"2.0 2.0", fixed_seed_parameters,
         "Parameter \"b\" has equal bounds (2 and 2): the CMA-ES methods cannot draw it; make it \"fixed\" "
         "or widen its bounds."},
        {"-10.0 10.0", " N 2\n seed 4711\n initialStandardDeviations 2\n 1e308 1e308\n",
         "initials.par line 3: value 1 of initialStandardDeviations is 1e+308; a value must be at most 1e100 "
         "in magnitude."},
        {"-10.0 10.0", " N 2\n seed 4711\n initialX 2\n 1 -1e200\n",
         "initials.par line 3: value 2 of initialX is -1e+200; a value must be at most 1e100 in magnitude."},
        // A subnormal spread: its square is no normal number.
        {"-10.0 10.0", " N 2\n seed 4711\n initialStandardDeviations 2\n 1e-320 0.5\n",
         "initials.par line 3: value 1 of initialStandardDeviations is 9.99989e-321; a standard deviation "
         "must be a positive number of at least 1e-100."},
    };
    for (const row &t : rows) {
        scratch_dir d;
        cmaes_case(d, "cmaes", t.parameters);
        d.write("line.pst", replaced(d.read("line.pst"), "b none relative 2.0 -10.0 10.0",
                                     std::string("b none relative 2.0 ") + t.bounds_b));
        d.write("test.prn", "an earlier search\n");
        auto r = d.run(VARNOCK_EXE, {"line.pst"});
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_TRUE(contains(r.out, t.message)) << t.message << "\n" << r.out;
        EXPECT_FALSE(d.exists("model.in"));  // no model run was made
        EXPECT_EQ(d.read("test.prn"), "an earlier search\n");
    }
}

TEST(VarnockCmaes, ReportsOnlyValuesAModelRunReturned) {
    // With stopFitness below anything the line can reach (1/9) set to 0.2, the
    // Fitness stop must come from a model run: the surrogate's plane through
    // three points extrapolates below 0 in two dimensions. For both modes and
    // three seeds, test.prn equals the lowest phi over the logged runs and the
    // stop line's value is one of them (>= 1/9).
    for (const char *mode : {"cmaes", "cmaesrbf"}) {
        for (int seed : {2, 3, 5}) {
            scratch_dir d;
            cmaes_case(d, mode, " N 2\n seed " + std::to_string(seed) +
                                    "\n stopFitness 0.2\n initialStandardDeviations 2\n 0.5 0.5\n");
            d.write("model.sh", std::string(logging_model) + d.read("model.sh"));
            auto r = d.run(VARNOCK_EXE, {"line.pst"});
            ASSERT_EQ(r.exit_status, 0) << mode << seed << r.out;
            const std::string best = lowest_logged_phi(d.read("runs.log"));
            EXPECT_TRUE(contains(d.read("test.prn"), "iteration 1 is " + best + "\n")) << mode << seed << " " << best;
            double stopped_at = -1.0;
            const std::size_t at = r.out.find("Fitness: function value ");
            ASSERT_NE(at, std::string::npos) << mode << seed << r.out.substr(r.out.size() - 400);
            std::sscanf(r.out.c_str() + at, "Fitness: function value %lf", &stopped_at);
            EXPECT_GE(stopped_at, best_phi - 1e-9) << mode << seed;
            EXPECT_LE(stopped_at, 0.2) << mode << seed;
        }
    }
}

// Runs varnock with `input` on its standard input.
testsupport::program_result run_with_input(const scratch_dir &d, const std::string &input) {
    d.write("stdin.txt", input);
    return d.run("/bin/sh", {"-c", std::string("'") + VARNOCK_EXE + "' line.pst < stdin.txt"});
}

TEST(VarnockRbfMode, SelfTestPlacesTheCentresFromTheTypedSeed) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "norestart estimation", "norestart rbf"));
    auto r = run_with_input(d, "123456789\n");
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "\n\nEnter a randomly generated unsigned long (0 to 4,294,967,295): ");
    const std::string centres = d.read("centers.txt");
    const auto lines = split_lines(centres);
    ASSERT_EQ(lines.size(), 100u);
    std::set<std::string> distinct(lines.begin(), lines.end());
    EXPECT_GT(distinct.size(), 90u);
    for (const std::string &line : lines) {
        double x = 0.0;
        double y = 0.0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf\t%lf", &x, &y), 2) << line;
        EXPECT_GT(x, 0.0);
        EXPECT_LT(x, 1.0);
        EXPECT_GT(y, 0.0);
        EXPECT_LT(y, 1.0);
    }
    EXPECT_FALSE(d.exists("model.in"));  // the self-test runs no model

    // The same seed gives the same centres, another seed others.
    ASSERT_EQ(run_with_input(d, "123456789ld\n").exit_status, 0);
    EXPECT_EQ(d.read("centers.txt"), centres);
    ASSERT_EQ(run_with_input(d, "42\n").exit_status, 0);
    EXPECT_NE(d.read("centers.txt"), centres);
}

TEST(VarnockRbfMode, MissingSeedIsAFailure) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "norestart estimation", "norestart rbf"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});  // standard input is empty
    EXPECT_EQ(r.exit_status, 1) << r.out;
}

}  // namespace
