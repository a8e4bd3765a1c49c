// End-to-end run of the bundled long-term example (examples/longterm): thirty
// hours of QAR weather over a five-cell cross with one storm; the run ends at the
// end of its weather, its summary names the data period and the repaired point,
// and its hourly meteorological lines follow the sun and the storm.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/project_text.h"
#include "e2e/valley_example.h"
#include "support/run_program.h"

namespace {

std::filesystem::path longterm_dir() {
    return std::filesystem::path(TEST_DATA_DIR).parent_path().parent_path() / "examples" / "longterm";
}

struct met_line {
    int month = 0, day = 0, hour = 0;
    double moisture = 0.0, pet = 0.0, aet = 0.0, infiltration = 0.0, drainage = 0.0;
};

std::vector<met_line> met_lines(const std::string &text) {
    std::vector<met_line> lines;
    for (const std::string &line : testsupport::split_lines(text)) {
        met_line m;
        int year = 0;
        if (std::sscanf(line.c_str(), "%d/%d/%d %d:00 %lf %lf %lf %lf %lf", &year, &m.month, &m.day, &m.hour,
                        &m.moisture, &m.pet, &m.aet, &m.infiltration, &m.drainage) == 9)
            lines.push_back(m);
    }
    return lines;
}

TEST(KorvaLongTerm, ExampleRunsToTheEndOfItsWeather) {
    testsupport::scratch_dir d;
    for (const auto &entry : std::filesystem::directory_iterator(longterm_dir()))
        if (entry.is_regular_file())
            d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
    const auto r = d.run(KORVA_EXE, {"longterm.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out.find("not available"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("End of hmet_QAR file encountered after 30 lines"), std::string::npos);

    const std::string summary = d.read("longterm.sum");
    EXPECT_NE(summary.find("Hydrometeorology data began on: 07/12/2021 at  1:00\n"
                           "and ended on:                   07/13/2021 at  6:00\n"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("data points were repaired:1\n"), std::string::npos);
    // 12, 20 and 6 mm/h for half an hour each over 5 cells of 10^4 m2.
    EXPECT_NEAR(valley::summary_value(summary, "volume of total rainfall:"), 950.0, 0.05);
    // Root-zone evapotranspiration takes soil water, which the infiltration total
    // already holds: the event balance closes (it showed 7.6 % when it counted both).
    EXPECT_NEAR(valley::summary_value(summary, "mass conservation error:"), 0.0, 1e-3);

    // One line per weather hour; no evaporation before sunrise; a summer noon of
    // 0.5 to 1.2 mm/h; the root zone dries through the morning and is wetted by
    // the storm of 14:00 to 15:30 (a line's moisture is that at the end of its hour).
    const std::vector<met_line> met = met_lines(d.read("evap_out"));
    ASSERT_EQ(met.size(), 30u);
    EXPECT_EQ(met.front().hour, 1);
    EXPECT_EQ(met.back().day, 13);
    EXPECT_EQ(met.back().hour, 6);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(met[static_cast<std::size_t>(k)].pet, 0.0) << k;
    for (int k = 11; k <= 13; ++k) {
        EXPECT_GT(met[static_cast<std::size_t>(k)].pet, 0.05) << k;
        EXPECT_LT(met[static_cast<std::size_t>(k)].pet, 0.12) << k;
    }
    EXPECT_LT(met[12].moisture, met[5].moisture);  // 14:00 drier than 7:00
    EXPECT_GT(met[14].moisture, met[12].moisture + 0.02);

    // Soil water contents: the root zone at 14:00, the one left in 5 x 0.4 m of cells.
    EXPECT_NEAR(valley::summary_value(summary, "initial basin-averaged soil water content:"),
                100.0 * met[12].moisture, 0.006);
    EXPECT_NEAR(valley::summary_value(summary, "final basin-averaged soil water content:"),
                valley::summary_value(summary, "Final soil water volume:") / 200.0, 0.006);
    EXPECT_LT(std::fabs(valley::summary_value(summary, "Single layer soil moisture mass balance =")),
              0.01);

    // The run ends in the turn after the last record, 7:00 on 13 July (day 194).
    const std::vector<valley::point> q = valley::hydrograph(d.read("longterm.otl"));
    ASSERT_EQ(q.size(), 31u);
    EXPECT_NEAR(q.back().minutes, 2021.0 + (194.0 * 1440.0 + 7.0 * 60.0) / 525600.0, 1e-8);
    double peak = 0.0;
    for (const valley::point &p : q) peak = p.discharge > peak ? p.discharge : peak;
    EXPECT_GT(peak, 0.0);
}

// The example's root zone above field capacity (0.40 against 0.28) gives the whole demand:
// a line's ET is its own hour's PET wherever no rain falls in that hour or the next (the
// rain of an hour's last step is set from the next record), and its drainage column covers
// every hour the run books as recharge, the hour after the last record included.
TEST(KorvaLongTerm, EachHourlyLineHoldsTheValuesOfItsOwnHour) {
    testsupport::scratch_dir d;
    for (const auto &entry : std::filesystem::directory_iterator(longterm_dir()))
        d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
    d.write("longterm.cmt", project_text::with(d.read("longterm.cmt"), "0.25", "0.40"));
    ASSERT_EQ(d.run(KORVA_EXE, {"longterm.prj"}).exit_status, 0);
    const std::vector<met_line> met = met_lines(d.read("evap_out"));
    ASSERT_EQ(met.size(), 30u);
    double drained = 0.0;
    for (std::size_t k = 0; k < met.size(); ++k) {
        drained += met[k].drainage / 100.0 * 5.0e4;
        const bool dry = met[k].infiltration == 0.0 && (k + 1 == met.size() || met[k + 1].infiltration == 0.0);
        EXPECT_TRUE(!dry || std::fabs(met[k].aet - met[k].pet) < 1e-6) << "line " << k;
    }
    EXPECT_NEAR(drained, valley::summary_value(d.read("longterm.sum"), "Total recharge:"), 0.75);  // 30 x 0.025 m3 of rounding
}

// Each event of the summary counts its own rain steps and says when its own rain
// began, in minutes from the start of the run (1:00): the example's storm moved to
// 14:00-15:00 and a second one at 22:00-22:30, at 60-second steps.
TEST(KorvaLongTerm, EachEventCountsItsOwnRainSteps) {
    testsupport::scratch_dir d;
    for (const auto &entry : std::filesystem::directory_iterator(longterm_dir()))
        if (entry.is_regular_file())
            d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
    d.write("longterm.gag", "EVENT a\nNRGAG 1\nNRPDS 2\nCOORD 150 150\nRATES 2021 7 12 14 00 20.0\n"
                            "RATES 2021 7 12 15 00 0.0\nEVENT b\nNRGAG 1\nNRPDS 2\nCOORD 150 150\n"
                            "RATES 2021 7 12 22 00 15.0\nRATES 2021 7 12 22 30 0.0\n");
    ASSERT_EQ(d.run(KORVA_EXE, {"longterm.prj"}).exit_status, 0);
    const std::string sum = d.read("longterm.sum");
    const std::size_t second = sum.find("SIMULATION SUMMARY- EVENT 2");
    ASSERT_NE(second, std::string::npos) << sum;
    using valley::summary_value;
    EXPECT_EQ(summary_value(sum, "number of timesteps with rain:"), 60.0);
    EXPECT_EQ(summary_value(sum, "elapsed time when rain began:"), 780.0);
    EXPECT_EQ(summary_value(sum.substr(second), "number of timesteps with rain:"), 30.0);
    EXPECT_EQ(summary_value(sum.substr(second), "elapsed time when rain began:"), 1260.0);
}

// The example over Richards columns on an aquifer 1 m down (Richards lays its
// bottom 0.1 m under the table), two storms.
TEST(KorvaLongTerm, RichardsOverAnAquiferBalancesEachEvent) {
    testsupport::scratch_dir d;
    for (const auto &entry : std::filesystem::directory_iterator(longterm_dir()))
        d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
    const std::string head = "north: 300\nsouth: 0\neast: 300\nwest: 0\nrows: 3\ncols: 3\n", layer = "1.3 0.43 0.03 0.2 0.05 0.2 20 0.25 11.1\n";
    d.write("wt.map", head + "9.4 9.2 9.4\n9.2 9.0 9.2\n9.4 8.8 9.4\n");
    d.write("soil.tab", "1\n0\n1\n2 4 5 0.1\n" + layer + layer + layer);
    d.write("longterm.gag", "EVENT a\nNRGAG 1\nNRPDS 2\nCOORD 150 150\nRATES 2021 7 12 14 00 20.0\nRATES 2021 7 12 15 00 0.0\n"
                            "EVENT b\nNRGAG 1\nNRPDS 2\nCOORD 150 150\nRATES 2021 7 12 22 00 15.0\nRATES 2021 7 12 23 00 0.0\n");
    std::string prj = d.read("longterm.prj");
    prj.replace(prj.find("INF_REDIST"), prj.find("QUIET") - prj.find("INF_REDIST"),
                "INF_RICHARDS\nRICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP longterm.mask\nSOIL_LAYER_INPUT_FILE soil.tab\n"
                "SOIL_MOIST_DEPTH 40\nAQUIFER_DELTA_Z 0.1\nGW_SIMULATION\nWATER_TABLE wt.map\nAQUIFER_BOTTOM longterm.elv\n"
                "GW_BOUNDFILE longterm.mask\nGW_TIMESTEP 600\nPRECIP_FILE longterm.gag\nRAIN_THIESSEN\n");
    d.write("longterm.prj", prj);
    ASSERT_EQ(d.run(KORVA_EXE, {"longterm.prj"}).exit_status, 0);
    const std::string sum = d.read("longterm.sum"), block = "Richard's EQ. Computations";
    const std::size_t second = sum.find(block, sum.find(block) + 1);
    ASSERT_NE(second, std::string::npos);
    using valley::summary_value;
    double event_losses = 0.0;  // the soil's losses over the two events
    for (const std::string &e : {sum, sum.substr(second)}) {
        EXPECT_LT(std::fabs(summary_value(e, "Richard equation mass balance error")), 1.0);
        for (const char *label : {"volume through the column bottoms:", "volume from soil to groundwater:",
                                  "volume of evaporation from soil:"})
            event_losses += summary_value(e, label);
    }
    for (const char *label : {"Mass Balance error =", "Overall mass balance error ="})
        EXPECT_LT(std::fabs(summary_value(sum, label)), 1.0) << label;
    // The run's losses less the events' and those before the first event (no rain there) are the dry spell's.
    const double run_losses = summary_value(sum, "Downward flux from the unsaturated zone:") -
                              summary_value(sum, "Total exfiltration:") +
                              summary_value(sum, "Total recharge:") + summary_value(sum, "Total evaporation:");
    const double before = summary_value(sum, "Initial soil water volume:") - summary_value(sum, "initial soil water volume:");
    EXPECT_NEAR(summary_value(sum.substr(second), "initial soil water volume:"),
                summary_value(sum, "final soil water volume:") - (run_losses - event_losses - before), 0.4);
}

}  // namespace
