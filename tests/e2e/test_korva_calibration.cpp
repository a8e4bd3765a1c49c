// Runs korva's own calibration modes on a five-cell cross of 100 m cells whose
// rain intensity is the one calibrated parameter: every run of a calibration
// gives the hydrograph of a separate run with that value, the outputs carry the
// prefix "0_", the logs and "best.out" hold the runs and the best of them; and a
// plain project with an OPTIMIZE card writes its event line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace {

using testsupport::scratch_dir;
using testsupport::split_lines;

const char *grid_header = "north: 300\nsouth: 0\neast: 300\nwest: 0\nrows: 3\ncols: 3\n";

// The cross; rain_card sets the intensity (a tag or a number), extra adds cards.
std::string cross_project(const std::string &rain, const std::string &extra = "") {
    return "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nROUGHNESS rough.asc\n"
           "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 3\nCOLS 3\nGRIDSIZE 100\nTOT_TIME 60\n"
           "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 30\nHYD_FREQ 5\nMAP_FREQ 60\n"
           "OUTROW 3\nOUTCOL 2\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\nPRECIP_UNIF\n"
           "RAIN_INTENSITY " + rain + "\nRAIN_DURATION 30\n" + extra;
}

void write_cross(const scratch_dir &d) {
    d.write("mask.asc", std::string(grid_header) + "0 1 0\n1 1 1\n0 1 0\n");
    d.write("elev.asc", std::string(grid_header) + "10 10 10\n10 9 10\n10 8 10\n");
    d.write("rough.asc", std::string(grid_header) + "0.05 0.05 0.05\n0.05 0.05 0.05\n0.05 0.05 0.05\n");
    d.write("cal.prj", cross_project("[RAIN]"));
    d.write("list.txt", "1\n[RAIN] \"%lf\"\n");
}

// The outlet peak and volume of event 1 of a separate run at the given intensity.
std::vector<double> separate_run(const std::string &rain, std::string &hydrograph) {
    scratch_dir d;
    write_cross(d);
    d.write("one.prj", cross_project(rain, "OPTIMIZE\n"));
    const auto r = d.run(KORVA_EXE, {"one.prj"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    hydrograph = d.read("p.otl");
    std::istringstream line(d.read("korva_optim.out"));
    int event = 0;
    double peak = 0.0, volume = 0.0;
    line >> event >> peak >> volume;
    EXPECT_EQ(event, 1);
    return {peak, volume};
}

// The simulated peaks ("p:") and volumes ("v:") of the HMLE log's point lines.
std::vector<double> logged_values(const std::string &log, const char *key) {
    std::vector<double> values;
    for (const std::string &line : split_lines(log)) {
        if (line.rfind("p:", 0) != 0) continue;  // "top:" lines hold no point
        const std::size_t at = line.find(key);
        if (at != std::string::npos) values.push_back(std::strtod(line.c_str() + at + 2, nullptr));
    }
    return values;
}

TEST(KorvaCalibration, PlainOptimizeProjectWritesItsEventLine) {
    std::string hydrograph;
    const std::vector<double> pv = separate_run("36", hydrograph);
    // 36 mm/h for 30 minutes on five 1e4 m2 cells is 900 m3; some stays on the land.
    EXPECT_GT(pv[0], 0.0);
    EXPECT_GT(pv[1], 100.0);
    EXPECT_LT(pv[1], 900.0);
    EXPECT_FALSE(hydrograph.empty());
}

TEST(KorvaCalibration, MonteCarloRunsEqualSeparateRuns) {
    std::string reference;
    const std::vector<double> observed = separate_run("36", reference);
    scratch_dir d;
    write_cross(d);
    char obs[128];
    std::snprintf(obs, sizeof obs, "1\n%.3f 1 %.1f 1\n", observed[0], observed[1]);
    d.write("obs.dat", obs);
    d.write("mc.in", "cal.prj\nlist.txt\nobs.dat\n1\n20 50\n");
    const auto r = d.run(KORVA_EXE, {"-m3", "mc.in"});
    ASSERT_EQ(r.exit_status, 0) << r.out;

    const std::vector<std::string> log = split_lines(d.read("log_file_p0.log"));
    ASSERT_EQ(log.size(), 3u) << r.out;
    std::vector<double> score, rain;
    for (const std::string &line : log) {
        char *end = nullptr;
        score.push_back(std::strtod(line.c_str(), &end));
        rain.push_back(std::strtod(end + 1, nullptr));
        EXPECT_GE(rain.back(), 20.0);
        EXPECT_LT(rain.back(), 50.0);
    }
    // Two identical HMLE blocks per run.
    const std::string hmle = d.read("0_hmle.dat");
    const std::vector<double> peaks = logged_values(hmle, "p:"), volumes = logged_values(hmle, "v:");
    ASSERT_EQ(peaks.size(), 6u) << hmle;
    for (int k = 0; k < 3; ++k) {
        std::string hydrograph;
        char value[32];
        std::snprintf(value, sizeof value, "%lf", rain[static_cast<std::size_t>(k)]);
        const std::vector<double> pv = separate_run(value, hydrograph);
        EXPECT_EQ(peaks[static_cast<std::size_t>(2 * k)], peaks[static_cast<std::size_t>(2 * k + 1)]);
        // The log prints four decimals, the separate run three: half a unit of each.
        EXPECT_NEAR(peaks[static_cast<std::size_t>(2 * k)], pv[0], 5.5e-4 + 1e-12) << "run " << k + 1;
        EXPECT_NEAR(volumes[static_cast<std::size_t>(2 * k)], pv[1], 0.05) << "run " << k + 1;
        // The last run's outputs are the ones left, under the prefix.
        if (k == 2) {
            EXPECT_EQ(d.read("0_p.otl"), hydrograph);
        }
    }
    EXPECT_FALSE(d.exists("p.otl"));
    EXPECT_TRUE(d.exists("0_p.sum"));
    EXPECT_EQ(split_lines(d.read("0_obs.log")).size(), 3u * 5u);

    // best.out: the first of the smallest scores.
    const std::size_t best = static_cast<std::size_t>(std::min_element(score.begin(), score.end()) - score.begin());
    EXPECT_EQ(d.read("best.out"), log[best] + "\n");
    EXPECT_NE(r.out.find("\n\nBest objective function value: "), std::string::npos);
}

TEST(KorvaCalibration, SceUaRunsEqualSeparateRunsAndReportTheBest) {
    std::string reference;
    const std::vector<double> observed = separate_run("36", reference);
    scratch_dir d;
    write_cross(d);
    char obs[128];
    std::snprintf(obs, sizeof obs, "1\n%.3f 1 %.1f 1\n", observed[0], observed[1]);
    d.write("obs.dat", obs);
    // 12 trials, 2 complexes of 3 points (defaults for one parameter), seed 7.
    d.write("sce.in", "cal.prj\nlist.txt\nobs.dat\n12 3 0.001 2 7 0 1\n0 0 0 0 0 0\n30 20 50\n");
    // Without QUIET, to see the progress lines (QUIET leaves them out too).
    std::string project = d.read("cal.prj");
    project.erase(project.find("QUIET\n"), 6);
    d.write("cal.prj", project);
    const auto r = d.run(KORVA_EXE, {"-c", "sce.in"});
    ASSERT_EQ(r.exit_status, 0) << r.out;

    const std::vector<std::string> log = split_lines(d.read("log_file.txt"));
    ASSERT_GE(log.size(), 12u) << r.out;
    double best_score = 1e300, last_rain = 0.0;
    std::vector<double> rains, scores;
    for (std::size_t k = 0; k < log.size(); ++k) {
        EXPECT_EQ(std::atoi(log[k].c_str()), static_cast<int>(k) + 1);
        const std::size_t colon = log[k].find(':');
        scores.push_back(std::strtod(log[k].c_str() + 7, nullptr));
        best_score = std::min(best_score, scores.back());
        last_rain = std::strtod(log[k].c_str() + colon + 1, nullptr);
        rains.push_back(last_rain);
    }
    const std::vector<std::string> best = split_lines(d.read("best.out"));
    ASSERT_EQ(best.size(), 3u);
    EXPECT_EQ(best[0], "The best results of the SCE calibration " + std::to_string(log.size() + 1) + " runs:");
    EXPECT_EQ(best[1], "parameters: [RAIN]");  // the tags of the list, in order
    const double best_rain = std::strtod(best[2].c_str(), nullptr);
    const auto at = std::find(rains.begin(), rains.end(), best_rain);
    ASSERT_NE(at, rains.end()) << best[2];
    // The console: one progress line per model run, none of the runs' own lines;
    // the last says the log's best score (three decimals there).
    std::vector<std::string> progress;
    for (const std::string &line : split_lines(r.out))
        if (line.rfind("run ", 0) == 0) progress.push_back(line);
    ASSERT_EQ(progress.size(), log.size()) << r.out;
    EXPECT_EQ(progress[0].rfind("run 1 (the search stops after 12 trials): objective ", 0), 0u);
    EXPECT_EQ(r.out.find("Run time:"), std::string::npos);
    const std::string &last = progress.back();
    EXPECT_NEAR(std::strtod(last.c_str() + last.find("best so far ") + 12, nullptr), best_score, 5e-4);
    EXPECT_EQ(scores[static_cast<std::size_t>(at - rains.begin())], best_score);
    EXPECT_NE(r.out.find("The best results of the SCE calibration after "), std::string::npos);

    const std::string report = d.read("sce_output.dat");
    EXPECT_NE(report.find("ENTER THE SHUFFLED COMPLEX EVOLUTION GLOBAL SEARCH\n"), std::string::npos);
    EXPECT_NE(report.find(" *** PRINT THE FINAL PARAMETER ESTIMATE AND ITS CRITERION VALUE ***\n"),
              std::string::npos)
        << report;

    // The last evaluation's outputs stand under the prefix, as a separate run gives them.
    std::string hydrograph;
    char value[32];
    std::snprintf(value, sizeof value, "%lf", last_rain);
    separate_run(value, hydrograph);
    EXPECT_EQ(d.read("0_p.otl"), hydrograph);
    EXPECT_TRUE(d.exists("0_korva_optim.out"));
    EXPECT_NE(d.read("0_p.sum").find("writing output for optimization to file 0_korva_optim.out\n"),
              std::string::npos);

    // With QUIET the same search prints no progress line.
    d.write("cal.prj", project + "QUIET\n");
    EXPECT_EQ(d.run(KORVA_EXE, {"-c", "sce.in"}).out.find("\nrun "), std::string::npos);
}

TEST(KorvaCalibration, ModesRefuseWhatCannotBeCalibrated) {
    scratch_dir d;
    write_cross(d);
    d.write("obs.dat", "1\n1 0 100 0\n");
    d.write("sce.in", "cal.prj\nlist.txt\nobs.dat\n12 3 0.001 2 7 0 1\n0 0 0 0 0 0\n30 20 50\n");
    auto r = d.run(KORVA_EXE, {"-c", "sce.in"});
    EXPECT_NE(r.out.find("Error: the observation file obs.dat holds no peak or volume with a weight above 1e-6; "
                         "no calibration run is made.\n"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(d.exists("0_p.otl"));
    r = d.run(KORVA_EXE, {"-c", "absent.in"});
    EXPECT_NE(r.out.find("Can't open SCE input file absent.in\n"
                         "Error: unable to open the observation file for reading or problem while reading it.\n"),
              std::string::npos)
        << r.out;
    d.write("mc.in", "cal.prj\nlist.txt\nobs.dat\n1\n20 50\n");
    r = d.run(KORVA_EXE, {"-m0", "mc.in"});
    EXPECT_NE(r.out.find("No Monte Carlo run was made: the run count is 0.\n"), std::string::npos) << r.out;
    EXPECT_FALSE(d.exists("best.out"));
    EXPECT_FALSE(d.exists("out_time.dat"));
}

// A calibration whose own files cannot be written ends with status 1 and names
// the file: "best.out" and the run log are links to the full device.
TEST(KorvaCalibration, UnwritableCalibrationFilesEndWithStatusOne) {
    for (const char *name : {"best.out", "log_file_p0.log", "0_obs.log"}) {
        scratch_dir d;
        write_cross(d);
        d.write("obs.dat", "1\n0.1 1 500.0 1\n");
        d.write("mc.in", "cal.prj\nlist.txt\nobs.dat\n1\n20 50\n");
        std::filesystem::create_symlink("/dev/full", d.path() / name);
        const auto r = d.run(KORVA_EXE, {"-m2", "mc.in"});
        EXPECT_EQ(r.exit_status, 1) << name << "\n" << r.out;
        EXPECT_NE(r.out.find(std::string("Error: unable to write the output file ") + name),
                  std::string::npos)
            << r.out;
    }
}

// Every input that -c or -m cannot use, and an output file that cannot be
// created (a folder in its place), ends with a message naming it and status 1;
// CRLF SCE input, observation and list files give the search of LF ones.
TEST(KorvaCalibration, UnusableInputsEndWithStatusOne) {
    const std::string sce = "cal.prj\nlist.txt\nobs.dat\n6 3 0.001 2 7 0 1\n0 0 0 0 0 0\n30 20 50\n";
    const std::string mc = "cal.prj\nlist.txt\nobs.dat\n1\n20 50\n", head = "cal.prj\nlist.txt\nobs.dat\n";
    const char *cases[][4] = {  // option, file ("-": removed, "/": a folder), its text, message
        {"-c", "sce.in", "-", "Can't open SCE input file sce.in"},
        {"-c", "sce.in", "", "The first line must have 7 parameters."},
        {"-c", "sce.in", "x\ny\nz\n6 3 1e-3 2 7 0 1\n0 0 0 0 0 0\n30 nan 50\n", "bound of parameter 1 is not a finite"},
        {"-c", "obs.dat", "1\n1 1 inf 1\n", "line 2 of the observation file obs.dat holds a value that is not a finite"},
        {"-c", "list.txt", "-", "the replacement parameter list file list.txt cannot be read"},
        {"-c", "sce_output.dat", "/", "Can't open output file sce_output.dat"},
        {"-c", "sce.in", "x\ny\nz\n6 3 1e-3 2 7 0 1\n0 0 0 0 0 0\n30 -1 50\n",
         "the lower bound -1 of parameter 1 (tag [RAIN], line 6 of the calibration input file sce.in)"},
        {"-m3", "mc.in", "-", "unable to open the Monte Carlo input file mc.in"},
        {"-m3", "mc.in", "x\ny\nz\n999999999\n20 50\n", "line 6 of the Monte Carlo input file mc.in is missing"},
        {"-m3", "mc.in", "x\ny\nz\n1\n-inf 50\n", "line 5 of the Monte Carlo input file mc.in holds a bound that"},
        {"-m3", "mc.in", "x\ny\nz\n1\n20\n", "line 5 of the Monte Carlo input file mc.in holds a bound that"},
        {"-m0", "obs.dat", "1\n0.1 1 500.0 1\n", "No Monte Carlo run was made: the run count is 0."},
        {"-m3", "log_file_p0.log", "/", "unable to create the output file log_file_p0.log"},
    };
    for (const auto &c : cases) {
        scratch_dir d;
        write_cross(d);
        d.write("obs.dat", "1\n0.1 1 500.0 1\n");
        const std::string input = c[0][1] == 'c' ? "sce.in" : "mc.in", text = c[2];
        d.write(input, c[0][1] == 'c' ? sce : mc);
        std::filesystem::remove(d.path() / c[1]);
        if (text == "/") std::filesystem::create_directory(d.path() / c[1]);
        if (text != "-" && text != "/") d.write(c[1], text.rfind("x\ny\nz\n", 0) == 0 ? head + text.substr(6) : text);
        const auto r = d.run(KORVA_EXE, {c[0], input});
        EXPECT_EQ(r.exit_status, 1) << c[3] << "\n" << r.out;
        EXPECT_NE(r.out.find(c[3]), std::string::npos) << r.out;
        EXPECT_FALSE(d.exists("best.out")) << c[3];
    }
    std::string logs[2];
    for (const std::string end : {"\n", "\r\n"}) {
        scratch_dir d;
        write_cross(d);  // the project file keeps LF
        auto ends = [&end](const std::string &text) { return std::regex_replace(text, std::regex("\n"), end); };
        for (const auto &[name, text] : {std::pair<const char *, std::string>{"list.txt", "1\n[RAIN] \"%lf\"\n"},
                                         {"obs.dat", "1\n0.1 1 500.0 1\n"}, {"sce.in", sce}})
            d.write(name, ends(text));
        EXPECT_EQ(d.run(KORVA_EXE, {"-c", "sce.in"}).exit_status, 0);
        logs[end.size() - 1] = d.read("log_file.txt");
    }
    EXPECT_TRUE(!logs[0].empty() && logs[1] == logs[0]) << logs[0] << "\n" << logs[1];
}
}  // namespace
