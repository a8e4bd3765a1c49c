// Runs korva on the channel-free variant of the bundled example (a synthetic
// valley of 3696 cells of 30 m under 30 mm/h for 45 minutes, six hours simulated)
// and checks the outlet hydrograph file (interval, layout, shape) and the event's
// water balance: the rain that fell equals the discharge plus the water left on
// the surface.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;
using testsupport::split_lines;

namespace {

using valley::cell_area;
using valley::cells;
using valley::copy_example;
using valley::hydrograph;
using valley::point;
using valley::summary_value;

// Cells, cell area and rain of the example.
constexpr double rain_depth = 0.030 * 0.75;  // 30 mm/h for 45 minutes (m)


class ValleyEvent : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new scratch_dir;
        copy_example(*dir);
        result = new testsupport::program_result(dir->run(KORVA_EXE, {"valley_overland.prj"}));
    }
    static void TearDownTestSuite() {
        delete result;
        delete dir;
    }
    static scratch_dir *dir;
    static testsupport::program_result *result;
};
scratch_dir *ValleyEvent::dir = nullptr;
testsupport::program_result *ValleyEvent::result = nullptr;

TEST_F(ValleyEvent, RunEndsNormally) {
    EXPECT_EQ(result->exit_status, 0) << result->out.substr(result->out.size() > 2000 ? result->out.size() - 2000 : 0);
    EXPECT_EQ(result->err, "");
    EXPECT_NE(result->out.find("number of grid cells in watershed: 3696\n"), std::string::npos);
}

TEST_F(ValleyEvent, HydrographLinesEveryFiveMinutesInTheEventLayout) {
    const std::vector<std::string> lines = split_lines(dir->read("valley.otl"));
    ASSERT_GE(lines.size(), 73u);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        // "%8.2lf %9.3lf": 18 characters, time of line k at 5 k minutes.
        ASSERT_EQ(lines[k].size(), 18u) << "line " << k << ": " << lines[k];
        char expected_time[16];
        std::snprintf(expected_time, sizeof expected_time, "%8.2lf", 5.0 * static_cast<double>(k));
        EXPECT_EQ(lines[k].substr(0, 8), expected_time);
    }
    EXPECT_EQ(lines.front(), "    0.00     0.000");
    EXPECT_EQ(lines[72].substr(0, 8), "  360.00");
}

TEST_F(ValleyEvent, HydrographRisesToOnePeakNearTheEndOfRainAndRecedes) {
    const std::vector<point> q = hydrograph(dir->read("valley.otl"));
    ASSERT_GE(q.size(), 73u);
    std::size_t peak = 0;
    for (std::size_t k = 0; k < q.size(); ++k)
        if (q[k].discharge > q[peak].discharge) peak = k;
    // Rain of 30 mm/h over the basin can give at most i A = 27.72 m3/s.
    const double equilibrium = 0.030 / 3600.0 * cells * cell_area;
    EXPECT_LT(q[peak].discharge, equilibrium);
    EXPECT_GT(q[peak].discharge, 0.2 * equilibrium);
    EXPECT_GE(q[peak].minutes, 30.0);
    EXPECT_LE(q[peak].minutes, 90.0);
    // Rising limb up to the peak and falling limb after it (small numerical
    // wiggles of 1 percent of the peak allowed).
    const double slack = 0.01 * q[peak].discharge;
    for (std::size_t k = 1; k <= peak; ++k) EXPECT_GE(q[k].discharge, q[k - 1].discharge - slack) << k;
    for (std::size_t k = peak + 1; k < q.size(); ++k)
        EXPECT_LE(q[k].discharge, q[k - 1].discharge + slack) << k;
    EXPECT_LT(q.back().discharge, 0.1 * q[peak].discharge);
}

TEST_F(ValleyEvent, RainEqualsDischargePlusSurfaceStorage) {
    const std::string summary = dir->read("valley.sum");
    const double rain = summary_value(summary, "volume of total rainfall:");
    const double discharge = summary_value(summary, "volume of discharge:");
    const double surface = summary_value(summary, "volume remaining on surface:");
    const double interception = summary_value(summary, "volume of interception:");
    // 0.0225 m over 3696 cells of 900 m2.
    EXPECT_NEAR(rain, rain_depth * cells * cell_area, 0.1);
    EXPECT_EQ(interception, 0.0);
    // Printed to 0.1 m3: the balance closes to round-off.
    EXPECT_NEAR(rain, discharge + surface + interception, 0.3);
    // 0.5 mm of retention stays on every cell.
    EXPECT_GE(surface, 0.0005 * cells * cell_area - 0.1);
    const double error = summary_value(summary, "mass conservation error:");
    EXPECT_NEAR(error, 0.0, 1e-5);
    EXPECT_NE(summary.find("Uniform retention depth.\n"), std::string::npos);
    EXPECT_NE(summary.find("\n THE FOLLOWING WARNINGS ARE GIVEN:\nNo Warnings.\n"), std::string::npos);
    EXPECT_NE(summary.find("Distributed overland roughness.\n"), std::string::npos);
}

TEST_F(ValleyEvent, HydrographVolumeMatchesTheDischargeVolume) {
    const std::vector<point> q = hydrograph(dir->read("valley.otl"));
    double volume = 0.0;  // trapezoids of 5 minutes
    for (std::size_t k = 1; k < q.size(); ++k)
        volume += 0.5 * (q[k].discharge + q[k - 1].discharge) * 300.0;
    const double discharge =
        summary_value(dir->read("valley.sum"), "volume of discharge:");
    EXPECT_NEAR(volume, discharge, 0.03 * discharge);
}

TEST_F(ValleyEvent, NoRetentionCardLeavesNoRetention) {
    scratch_dir d;
    copy_example(d);
    std::string project = d.read("valley_overland.prj");
    const std::size_t at = project.find("RETENTION 0.5\n");
    ASSERT_NE(at, std::string::npos);
    project.erase(at, std::string("RETENTION 0.5\n").size());
    d.write("valley_overland.prj", project);
    const auto r = d.run(KORVA_EXE, {"valley_overland.prj"});
    ASSERT_EQ(r.exit_status, 0);
    const std::string summary = d.read("valley.sum");
    EXPECT_EQ(summary.find("retention"), std::string::npos);
    const double rain = summary_value(summary, "volume of total rainfall:");
    const double discharge = summary_value(summary, "volume of discharge:");
    const double surface = summary_value(summary, "volume remaining on surface:");
    EXPECT_NEAR(rain, discharge + surface, 0.3);
    // Without retention less water is left on the surface than with 0.5 mm of it.
    const double with_retention =
        summary_value(dir->read("valley.sum"), "volume remaining on surface:");
    EXPECT_LT(surface, with_retention);
}

TEST_F(ValleyEvent, InterceptedRainClosesTheBalance) {
    scratch_dir d;
    copy_example(d);
    // 2 mm of canopy storage and an interception coefficient of 0.1 on every cell.
    std::string capacity = d.read("valley.mask"), coefficient = capacity;
    const std::size_t values = capacity.find("cols:");
    ASSERT_NE(values, std::string::npos);
    const std::size_t body = capacity.find('\n', values) + 1;
    std::string cap_body = capacity.substr(body), coef_body = cap_body;
    for (char &c : cap_body)
        if (c == '1') c = '2';
    std::string coef_text;
    for (char c : coef_body) coef_text += c == '1' ? std::string("0.1") : std::string(1, c);
    d.write("cap.map", capacity.substr(0, body) + cap_body);
    d.write("coef.map", coefficient.substr(0, body) + coef_text);
    d.write("valley_overland.prj", d.read("valley_overland.prj") +
                              "INTERCEPTION\nSTORAGE_CAPACITY cap.map\nINTERCEPTION_COEFF coef.map\n");
    const auto r = d.run(KORVA_EXE, {"valley_overland.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
    const std::string summary = d.read("valley.sum");
    const double rain = summary_value(summary, "volume of total rainfall:");
    const double interception = summary_value(summary, "volume of interception:");
    const double discharge = summary_value(summary, "volume of discharge:");
    const double surface = summary_value(summary, "volume remaining on surface:");
    EXPECT_NEAR(rain, rain_depth * cells * cell_area, 0.1);
    // In July below latitude 37 the store holds its whole 2 mm: at least that
    // much is caught.
    EXPECT_GE(interception, 0.002 * cells * cell_area - 0.1);
    EXPECT_LT(interception, rain);
    EXPECT_NEAR(rain, discharge + surface + interception, 0.3);
    EXPECT_NEAR(summary_value(summary, "mass conservation error:"), 0.0, 1e-5);
    EXPECT_NE(summary.find("Interception losses.\n"), std::string::npos);
}

}  // namespace
