// Runs korva with Richards infiltration on a small tilted plane of dry loam under
// a storm that ponds it, and checks the Richards balance of the event summary
// (water infiltrated = water gained by the columns) and the event water balance;
// then four summer days of a long-term run whose columns dry by evapotranspiration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "small_plane.h"
#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

using small_plane::cols;
using small_plane::dx;
using small_plane::grid;
using small_plane::rows;

double summary_value(const std::string &summary, const std::string &label) {
    const std::size_t at = summary.find(label);
    if (at == std::string::npos) return NAN;
    return std::strtod(summary.c_str() + at + label.size(), nullptr);
}

TEST(RichardsRun, ColumnsTakeTheInfiltratedWaterAndTheEventBalances) {
    scratch_dir d;
    d.write("mask.map", grid([](int, int) { return std::string("1"); }));
    d.write("elev.map", grid([](int r, int) {
                char v[32];
                std::snprintf(v, sizeof v, "%.3f", 100.0 - 0.02 * r * dx);
                return std::string(v);
            }));
    d.write("man.map", grid([](int, int) { return std::string("0.05"); }));
    d.write("soil.map", grid([](int, int) { return std::string("1"); }));
    // Dry Brooks and Corey loam (Se 0.2): its free-draining bottom loses next to
    // nothing over the event. Ks phi tr ti wp fc depth lambda hb.
    const std::string layer = "1.3 0.43 0.03 0.11 0.05 0.2 10 0.25 11.1\n";
    d.write("soil.tab", "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer);
    d.write("run.prj",
            "KORVAPROJECT\nWATERSHED_MASK mask.map\nELEVATION elev.map\nROUGHNESS man.map\n"
            "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 3\nCOLS 3\nGRIDSIZE 10\n"
            "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 60\nTIMESTEP 10\nHYD_FREQ 5\n"
            "MAP_FREQ 60\nOUTROW 3\nOUTCOL 2\nOUTSLOPE 0.02\nOVERTYPE explicit\nPRECIP_UNIF\n"
            "RAIN_INTENSITY 40\nRAIN_DURATION 30\nINF_RICHARDS\nRICHARDS_C_OPTION brooks\n"
            "SOIL_TYPE_MAP soil.map\nSOIL_LAYER_INPUT_FILE soil.tab\nSOIL_MOIST_DEPTH 10\n");
    const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string summary = d.read("run.sum");
    const double error = summary_value(summary, "Richard equation mass balance error");
    ASSERT_FALSE(std::isnan(error)) << summary;
    EXPECT_LT(std::fabs(error), 0.01) << summary;
    const double infiltrated = summary_value(summary, "volume of infiltration:");
    EXPECT_GT(infiltrated, 1.0);
    const double rain = summary_value(summary, "volume of total rainfall:");
    EXPECT_NEAR(rain, 0.04 * 0.5 * rows * cols * dx * dx, 0.1);
    EXPECT_LT(std::fabs(summary_value(summary, "mass conservation error:")), 1e-3) << summary;
}

// Four summer days, storms on days 1 and 3, Deardorff ET from 30 cm root zones.
TEST(RichardsRun, LongTermColumnsDryByTheEvapotranspirationTheyGive) {
    scratch_dir d;
    for (const auto &f : std::filesystem::directory_iterator(
             std::filesystem::path(TEST_DATA_DIR) / "richards_longterm"))
        d.write(f.path().filename().string(), testsupport::read_file(f.path()));
    ASSERT_EQ(d.run(KORVA_EXE, {"run.prj"}).exit_status, 0);
    const std::string sum = d.read("run.sum");

    // Hourly moisture, PET, AET (cm/h): on the dry day 2 the soil gives water and dries.
    std::vector<std::array<double, 3>> hr;
    for (const std::string &line : testsupport::split_lines(d.read("evap_out"))) {
        std::array<double, 3> v{};
        if (std::sscanf(line.c_str(), "%*d/%*d/%*d %*d:00 %lf %lf %lf", &v[0], &v[1], &v[2]) == 3)
            hr.push_back(v);
    }
    ASSERT_EQ(hr.size(), 96u);
    for (std::size_t k = 33; k <= 41; ++k) {
        EXPECT_GT(hr[k][2], 0.2 * hr[k][1]) << k;
        EXPECT_LE(hr[k][2], hr[k][1] + 1e-6) << k;  // the ET of the hour's own demand
        EXPECT_LT(hr[k][0], hr[k - 1][0]) << k;
    }
    // The soil water fell by the ET taken less the water infiltrated (0.1 %).
    const double initial = summary_value(sum, "Initial soil water volume:");
    const double in = summary_value(sum, "Total infiltration:"), et = summary_value(sum, "Total evaporation:");
    EXPECT_NEAR(summary_value(sum, "Final soil water volume:"), initial + in - et, 1e-3 * initial);
    // Each event: six lines of totals, the moisture found (at 14:00, the end of the 13:00
    // line's hour), balances within 1 %.
    std::size_t at = 0;
    for (std::size_t event = 0; event < 2; ++event, ++at) {
        for (const char *line : {"Total evaporation at", "Total direct evaporation at",
                                 "Total flux from unsat to gw at", "Total trickery into gw at",
                                 "Total infiltration into soil", "Total groundwater recharge"})
            ASSERT_NE(at = sum.find(line, at), std::string::npos) << line;
        const std::string ev = sum.substr(at, sum.find("FOLLOWING WARNINGS", at) - at);
        EXPECT_NEAR(summary_value(ev, "initial basin-averaged soil water content:"),
                    100.0 * hr[13 + 48 * event][0], 0.006);
        EXPECT_GT(summary_value(ev, "volume of evaporation from soil:"), 1.0);
        for (const char *error : {"mass conservation error:", "Richard equation mass balance error"})
            EXPECT_LT(std::fabs(summary_value(ev, error)), 1.0) << error;
    }
    for (const char *error : {"surface components =", "Overall mass balance error ="})
        EXPECT_LT(std::fabs(summary_value(sum, error)), 1.0) << error;
}

}  // namespace
