// Runs korva with Richards infiltration on a small tilted plane of dry loam under
// a storm that ponds it, and checks the Richards balance of the event summary
// (water infiltrated = water gained by the columns) and the event water balance;
// then four summer days of a long-term run whose columns dry by evapotranspiration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// Four summer days of hourly weather, two afternoon storms (days 1 and 3) on
// a plane whose columns lose water by Deardorff evaporation from a 30 cm root zone.
TEST(RichardsRun, LongTermColumnsDryByTheEvapotranspirationTheyGive) {
    scratch_dir d;
    const auto uniform = [](const char *v) { return grid([v](int, int) { return std::string(v); }); };
    d.write("mask.map", uniform("1"));
    d.write("elev.map", grid([](int r, int) { return std::to_string(100.0 - 0.2 * r); }));
    d.write("man.map", uniform("0.05"));
    d.write("soil.map", uniform("1"));
    for (const char *name : {"alb", "vh", "tc", "cr"})
        d.write(std::string(name) + ".map", uniform(name[0] == 'a' ? "0.2" : name[0] == 'v' ? "0.3"
                                                    : name[0] == 't' ? "0.5" : "70"));
    const std::string layer = "1.3 0.43 0.03 0.2 0.05 0.2 10 0.25 11.1\n";
    d.write("soil.tab", "1\n0\n1\n1 2 2 0.1\n" + layer + layer + layer);
    std::string qar;
    for (int k = 0; k < 96; ++k) {  // 45 to 75 F, sun from 6 to 18 h
        const int hour = k % 24;
        const double sun = hour > 6 && hour < 18 ? 800.0 * std::sin((hour - 6) * M_PI / 12.0) : 0.0;
        char line[96];
        std::snprintf(line, sizeof line, "2021 7 %d %d 29.92 50 2 6 %.0f 0.0 %.1f\n", 12 + k / 24,
                      hour, 60.0 + 15.0 * std::sin((hour - 9) * M_PI / 12.0), sun);
        qar += line;
    }
    d.write("run.qar", qar);
    d.write("run.gag", "EVENT a\nNRGAG 1\nNRPDS 3\nCOORD 15 15\nRATES 2021 7 12 14 00 20.0\n"
                       "RATES 2021 7 12 14 30 10.0\nRATES 2021 7 12 15 00 0.0\nEVENT b\nNRGAG 1\n"
                       "NRPDS 3\nCOORD 15 15\nRATES 2021 7 14 14 00 15.0\nRATES 2021 7 14 14 30 5.0\n"
                       "RATES 2021 7 14 15 00 0.0\n");
    d.write("run.prj",
            "KORVAPROJECT\nWATERSHED_MASK mask.map\nELEVATION elev.map\nROUGHNESS man.map\n"
            "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 3\nCOLS 3\nGRIDSIZE 10\nTIMESTEP 30\n"
            "HYD_FREQ 60\nMAP_FREQ 600\nOUTROW 3\nOUTCOL 2\nOUTSLOPE 0.02\nOVERTYPE explicit\n"
            "LONG_TERM\nHMET_QAR run.qar\nET_CALC_DEARDORFF\nLATITUDE 40.0\nLONGITUDE 105.0\n"
            "GMT -7\nALBEDO alb.map\nVHEIGHT vh.map\nTCOEFF tc.map\nCANOPY cr.map\nINF_RICHARDS\n"
            "RICHARDS_C_OPTION brooks\nSOIL_TYPE_MAP soil.map\nSOIL_LAYER_INPUT_FILE soil.tab\n"
            "SOIL_MOIST_DEPTH 30\nPRECIP_FILE run.gag\nRAIN_THIESSEN\nQUIET\n");
    const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string summary = d.read("run.sum");

    // Hourly lines: soil moisture, PET and AET (cm/h). On the dry second day the
    // soil gives water from morning to evening and the root zone dries.
    std::vector<std::vector<double>> hours;
    for (const std::string &line : testsupport::split_lines(d.read("evap_out"))) {
        int y = 0, m = 0, day = 0, h = 0;
        double theta = 0.0, pet = 0.0, aet = 0.0;
        if (std::sscanf(line.c_str(), "%d/%d/%d %d:00 %lf %lf %lf", &y, &m, &day, &h, &theta, &pet,
                        &aet) == 7)
            hours.push_back({static_cast<double>(h), theta, pet, aet});
    }
    ASSERT_EQ(hours.size(), 96u);
    for (int k = 24 + 9; k <= 24 + 17; ++k) {
        EXPECT_GT(hours[k][3], 0.2 * hours[k][2]) << k;
        EXPECT_LE(hours[k][3], hours[k - 1][2] + 1e-6) << k;  // at most the last hour's PET
        EXPECT_LT(hours[k][1], hours[k - 1][1]) << k;
    }

    // The run: the soil water fell by the ET taken, less the infiltrated water
    // (0.1 % of the soil water: the free-draining bottom takes next to nothing).
    const double initial = summary_value(summary, "Initial soil water volume:");
    const double final_water = summary_value(summary, "Final soil water volume:");
    const double infiltrated = summary_value(summary, "Total infiltration:");
    const double et = summary_value(summary, "Total evaporation:");
    EXPECT_GT(et, infiltrated);
    EXPECT_NEAR(final_water, initial + infiltrated - et, 1e-3 * initial) << summary;

    // Both events: the six lines of the run's totals at their start, the soil water
    // content they found (the hour's line of 14:00) and balances within 1 %.
    std::size_t at = 0;
    for (int event = 0; event < 2; ++event) {
        at = summary.find("Total evaporation at beginning of event", at);
        ASSERT_NE(at, std::string::npos) << event;
        for (const char *label :
             {"Total direct evaporation at beginning of event", "Total flux from unsat to gw at "
              "beginning of event", "Total trickery into gw at beginning of event",
              "Total infiltration into soil", "Total groundwater recharge"})
            EXPECT_NE(summary.find(label, at), std::string::npos) << label;
        const std::string block = summary.substr(at, summary.find("THE FOLLOWING WARNINGS", at) - at);
        EXPECT_NEAR(summary_value(block, "initial basin-averaged soil water content:"),
                    100.0 * hours[14 + 48 * event][1], 0.006);
        EXPECT_GT(summary_value(block, "volume of evaporation from soil:"), 1.0);
        EXPECT_LT(std::fabs(summary_value(block, "mass conservation error:")), 1.0);
        EXPECT_LT(std::fabs(summary_value(block, "Richard equation mass balance error")), 1.0);
        ++at;
    }
    for (const char *error : {"surface components =", "Overall mass balance error ="})
        EXPECT_LT(std::fabs(summary_value(summary, error)), 1.0) << error;
}

}  // namespace
