// Long-term runs end with their weather at the latest (uniform rain over Richards
// columns), and snow melts through a thaw whether an event is active or not: the
// snow left equals the snowfall less the hourly energy-balance melt worked by hand
// from the weather records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "e2e/project_text.h"
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

}  // namespace
