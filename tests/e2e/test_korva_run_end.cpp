// Long-term runs end with their weather at the latest (uniform rain over Richards
// columns), and snow melts through a thaw whether an event is active or not: the
// snow left equals the snowfall less the hourly energy-balance melt worked by hand
// from the weather records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "e2e/project_text.h"
#include "e2e/valley_example.h"
#include "support/run_program.h"

namespace {

using testsupport::scratch_dir;

int count_of(const std::string &text, const std::string &what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// 24 hourly records from 2000/7/1 1:00; uniform rain for 10 minutes at the start.
TEST(KorvaRunEnd, UniformRainOverRichardsColumnsEndsWithItsWeather) {
    scratch_dir d;
    d.copy_case("longterm_uniform_rain");
    const testsupport::program_result r = d.run(KORVA_EXE, {"project.prj"}, 60);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const std::vector<std::string> lines = testsupport::split_lines(d.read("et.otl"));
    ASSERT_FALSE(lines.empty());
    // The last record (2000/7/2 0:00, day 184 of the year) holds for the hour after it.
    const double last = std::strtod(lines.back().c_str(), nullptr);
    EXPECT_LE(last, 2000.0 + (184.0 + 1.0 / 24.0) / 366.0 + 1e-6);
    EXPECT_LE(lines.size(), 26u);
    EXPECT_EQ(count_of(d.read("et.sum"), "LONG-TERM RUNOFF SIMULATION SUMMARY"), 1);
    // Its clocks start at the first weather hour: 1 mm/h for 10 min on 9 ha falls, and the
    // columns give ET, no more than the potential ET of evap_out (cm/h over the hours).
    const std::string sum = d.read("et.sum");
    double pet = 0.0, cm = 0.0;
    for (const std::string &line : testsupport::split_lines(d.read("evap_out")))
        if (std::sscanf(line.c_str(), "%*d/%*d/%*d %*d:00 %*f %lf", &cm) == 1) pet += cm / 100.0 * 9.0e4;
    EXPECT_NEAR(project_text::value_after(sum, "Total precipitation:"), 15.0, 0.01);
    EXPECT_GT(project_text::value_after(sum, "Total evaporation:"), 0.01 * pet);
    EXPECT_LE(project_text::value_after(sum, "Total evaporation:"), pet);
}

// The storm of 60 mm (14:00-15:00) falls at -4 C; from 17:00 the air is at 60 F and
// then at 50 F until the weather ends at 6:00 the next day.
TEST(KorvaRunEnd, SnowMeltsByTheEnergyBalanceThroughAThaw) {
    scratch_dir d;
    d.copy_case("snow_thaw");
    const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"}, 60);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const std::string summary = d.read("run.sum");

    // Melt of each hour (mm): Ql + Qe + Qh in cal/cm2/h over the latent heat 80 cal/g.
    std::istringstream weather(d.read("weather.qar"));
    int year, month, day, hour;
    double inches, humidity, sky, knots, fahrenheit, direct, global, melted = 0.0;
    while (weather >> year >> month >> day >> hour >> inches >> humidity >> sky >> knots >> fahrenheit >>
           direct >> global) {
        if (day == 12 && hour <= 15) continue;  // before and during the snowfall
        const double t = (fahrenheit - 32.0) * 5.0 / 9.0, p = inches * 33.8639;
        const double u = knots * 0.514444 * 0.0002 / 1000.0 * 3600.0;
        const double ea = humidity / 100.0 * 2.749e8 * std::exp(-4278.6 / (t + 242.8));
        const double q = 4.956e-9 * std::pow(t + 273.15, 4) - 27.0 + 600.0 * u * (ea - 6.11) +
                         600.0 * 0.00061 * p * u * t;
        if (q > 0.0) melted += q / 80.0 * 10.0;
    }
    const double area = 70 * 20.0 * 20.0;
    const double snowfall = 60.0;  // mm, all of the storm
    ASSERT_GT(snowfall - melted, 5.0) << "the thaw must leave snow for the figure to test the melt";
    const double snow_left = project_text::value_after(summary, "Final snow volume:");
    EXPECT_NEAR(snow_left, (snowfall - melted) / 1000.0 * area, 0.02 * melted / 1000.0 * area);
    EXPECT_NEAR(project_text::value_after(summary, "Total precipitation:"), snowfall / 1000.0 * area, 0.01);
    EXPECT_NEAR(project_text::value_after(summary, "Overall mass balance error ="), 0.0, 0.01);
}


// Three storms on the bundled long-term cross (5 cells of 100 m), dry spells
// between them and weather until 7/15 0:00. Each event ends when its outflow,
// having reached EVENT_MIN_Q, falls below it; the third is the last, so the run
// ends in the first turn after its rain (19:00) whose outflow is below the
// threshold (the surface then holds less than 5 % of the storm, which would
// otherwise keep the last event going), a day and a half before its weather ends.
TEST(KorvaRunEnd, ThreeEventsEndWhereTheLastOutflowFallsBelowTheThreshold) {
    scratch_dir d;
    const std::filesystem::path example =
        std::filesystem::path(TEST_DATA_DIR).parent_path().parent_path() / "examples" / "longterm";
    for (const auto &entry : std::filesystem::directory_iterator(example))
        if (entry.is_regular_file())
            d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
    std::string weather = d.read("longterm.qar");  // 7/12 1:00 to 7/13 6:00
    for (int hour = 7; hour <= 42; ++hour)
        weather += "2021 7 " + std::to_string(hour > 24 ? 14 : 13) + " " +
                   std::to_string(hour > 24 ? hour - 24 : hour) + " 29.85 80 6 3 60 0.0 0.0\n";
    d.write("longterm.qar", weather);
    const double threshold = 0.002;
    std::string prj = d.read("longterm.prj");
    prj.replace(prj.find("HYD_FREQ 60"), 11, "HYD_FREQ 1");
    d.write("longterm.prj", prj + "EVENT_MIN_Q 0.002\n");
    struct storm {
        int hour, minutes;
        double mm_h;
    };
    const storm storms[] = {{3, 60, 20.0}, {10, 30, 30.0}, {18, 60, 20.0}};
    std::string gauge;
    for (const storm &s : storms)
        gauge += "EVENT s\nNRGAG 1\nNRPDS 2\nCOORD 150 150\nRATES 2021 7 12 " + std::to_string(s.hour) +
                 " 00 " + std::to_string(s.mm_h) + "\nRATES 2021 7 12 " +
                 std::to_string(s.hour + s.minutes / 60) + " " + std::to_string(s.minutes % 60) + " 0.0\n";
    d.write("longterm.gag", gauge);
    const testsupport::program_result r = d.run(KORVA_EXE, {"longterm.prj"}, 60);
    ASSERT_EQ(r.exit_status, 0) << r.out;

    const std::string summary = d.read("longterm.sum");
    EXPECT_EQ(count_of(summary, "LONG-TERM RUNOFF SIMULATION SUMMARY- EVENT"), 3) << summary;
    std::size_t at = 0;
    for (int e = 1; e <= 3; ++e) {
        at = summary.find("SIMULATION SUMMARY- EVENT " + std::to_string(e), at);
        ASSERT_NE(at, std::string::npos) << e;
        const std::string part = summary.substr(at);
        const storm &s = storms[e - 1];
        // Minutes from the start of the weather (1:00), steps of 60 s, 5 x 10^4 m2.
        EXPECT_EQ(valley::summary_value(part, "elapsed time when rain began:"), (s.hour - 1) * 60.0) << e;
        EXPECT_EQ(valley::summary_value(part, "number of timesteps with rain:"), s.minutes) << e;
        const double rain = s.mm_h / 1000.0 * s.minutes / 60.0 * 5.0e4;
        EXPECT_NEAR(valley::summary_value(part, "volume of total rainfall:"), rain, 0.05) << e;
        EXPECT_GE(valley::summary_value(part, "Event peak discharge (cubic meters per second):"), threshold);
        if (e == 3) {
            EXPECT_LT(valley::summary_value(part, "volume remaining on surface:"), 0.05 * rain);
        }
    }

    // Decimal years of 365 days, 7/12 is day 193: minutes from 7/12 1:00.
    const std::vector<valley::point> q = valley::hydrograph(d.read("longterm.otl"));
    ASSERT_FALSE(q.empty());
    auto minutes = [](const valley::point &p) { return ((p.minutes - 2021.0) * 365.0 - 193.0) * 1440.0 - 60.0; };
    std::size_t first_below = q.size();
    for (std::size_t k = 0; k < q.size() && first_below == q.size(); ++k)
        if (minutes(q[k]) > 18 * 60.0 + 0.5 && q[k].discharge < threshold + 0.5e-6) first_below = k;  // printed to 1e-6
    ASSERT_LT(first_below, q.size());
    EXPECT_EQ(first_below + 1, q.size()) << "ends at " << minutes(q.back()) << " min, expected "
                                         << minutes(q[first_below]);
    EXPECT_GT(minutes(q.back()), 18 * 60.0);
    EXPECT_LT(minutes(q.back()), 20 * 60.0);
}

}  // namespace
