// Runs the worked examples of examples/ through their own run.sh with the programs
// of this build, and checks each result against a hand balance or the values the
// synthetic observations were made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "e2e/valley_example.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;
using valley::summary_value;

struct example_run {
    testsupport::scratch_dir d;
    testsupport::program_result r;
    fs::path work;
    std::string read(const std::string &name) const { return testsupport::read_file(work / name); }
};

// Runs examples/<name>/run.sh into a folder of a scratch directory.
void run_example(example_run &e, const std::string &name) {
    const fs::path script = valley::example_dir().parent_path() / name / "run.sh";
    e.work = e.d.path() / "run";
    e.r = e.d.run("/bin/sh", {script.string(), fs::path(KORVA_EXE).parent_path().string(),
                              e.work.string()});
}

TEST(WorkedExamples, LongTermRichardsRunsToTheEndOfItsWeatherAndBalances) {
    example_run e;
    run_example(e, "longterm_richards");
    ASSERT_EQ(e.r.exit_status, 0) << e.r.out << e.r.err;
    EXPECT_NE(e.r.out.find("End of hmet_QAR file encountered after 72 lines"), std::string::npos);
    const std::string sum = e.read("longterm_richards.sum");
    // 20, 60, 30 and 5 mm/h for half an hour each over five cells of 10^4 m2.
    EXPECT_NEAR(summary_value(sum, "volume of total rainfall:"), 2875.0, 0.05);
    EXPECT_GT(summary_value(sum, "volume of discharge:"), 100.0);
    EXPECT_NEAR(summary_value(sum, "mass conservation error:"), 0.0, 1e-3);
}

TEST(WorkedExamples, AquiferWellPumpsItsRateAndTheAquiferBalances) {
    example_run e;
    run_example(e, "aquifer_well");
    ASSERT_EQ(e.r.exit_status, 0) << e.r.out << e.r.err;
    const std::string sum = e.read("aquifer_well.sum");
    // 81 cells of 400 m2, 12.22 m of mean saturated thickness at porosity 0.3.
    const double start = summary_value(sum, "Volume in groundwater at start =");
    EXPECT_NEAR(start, 118800.0, 0.01);
    // 0.005 m3/s for twelve hours.
    const double pumped = summary_value(sum, "Pumping volume =");
    EXPECT_NEAR(pumped, 216.0, 0.01);
    EXPECT_NEAR(summary_value(sum, "Volume in groundwater at end ="),
                start + summary_value(sum, "Total inputs =") - pumped, 0.02);
    EXPECT_NEAR(summary_value(sum, "volume of total rainfall:"), 972.0, 0.05);
    // The well's cell is drawn down further than the cell 60 m east of it.
    const auto levels = testsupport::split_lines(e.read("well_levels.txt"));
    ASSERT_EQ(levels.size(), 73u);
    double t = 0, well = 0, east = 0, well0 = 0, east0 = 0;
    std::istringstream(levels.front()) >> t >> well0 >> east0;
    std::istringstream(levels.back()) >> t >> well >> east;
    EXPECT_EQ(t, 720.0);
    EXPECT_GT(well0 - well, 0.3);
    EXPECT_GT(well0 - well, 10.0 * (east0 - east));
}

TEST(WorkedExamples, OutletRunsAsItsReadmeSays) {
    example_run outlet;
    run_example(outlet, "outlet");
    ASSERT_EQ(outlet.r.exit_status, 0) << outlet.r.out << outlet.r.err;
    const std::string flows = outlet.read("sim_flows_ssf.txt");
    EXPECT_EQ(std::count(flows.begin(), flows.end(), '\n'), 97);
    EXPECT_EQ(flows.rfind("sim_flows   1982-05-14     00:00           0.50800600\n", 0), 0u);
    // The peak of 25.4 m3/s at 420 minutes goes with the 29th date, 07:00.
    EXPECT_NE(flows.find("sim_flows   1982-05-14     07:00          25.40000000\n"), std::string::npos) << flows;
}

TEST(WorkedExamples, CalibrationRecoversManningNAndKs) {
    example_run e;
    run_example(e, "calibration");
    ASSERT_EQ(e.r.exit_status, 0) << e.r.out << e.r.err;
    // The observations were made with n = 0.05 and Ks = 0.4 cm/h.
    double n = 0, ks = 0;
    std::istringstream(e.read("plane.par")) >> n >> ks;
    EXPECT_NEAR(n, 0.05, 0.0005);
    EXPECT_NEAR(ks, 0.4, 0.004);
    std::istringstream best(e.read("best.out"));
    std::string heading;
    std::getline(best, heading);
    std::getline(best, heading);
    EXPECT_EQ(heading, "parameters: [N] [KS]");
    best >> n >> ks;
    EXPECT_NEAR(n, 0.05, 0.0035);
    EXPECT_NEAR(ks, 0.4, 0.02);
}

}  // namespace
