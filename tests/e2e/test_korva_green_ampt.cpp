// Runs korva on a small tilted plane of silt loam under a storm that ponds it,
// once with Green and Ampt infiltration and once with the three-layer kernel on
// the same uniform soil, and checks the event's water balance (rain = infiltrated
// water + discharge + water left on the surface) and the infiltrated depth
// against the Green and Ampt solution with its Mein-Larson ponding time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

constexpr int rows = 10, cols = 10;
constexpr double dx = 10.0;
constexpr double area = rows * cols * dx * dx;
// Storm: 60 mm/h for 45 minutes; two hours simulated.
constexpr double rain_cm_h = 6.0, rain_hours = 0.75, run_hours = 2.0;
// Silt loam: K = 0.65 cm/h, psi = 16.7 cm, porosity 0.5, initial moisture 0.16.
constexpr double k_cm_h = 0.65, psi_cm = 16.7, dtheta = 0.34;

template <class F>
std::string grid(F value) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "north: %.1f\nsouth: 0.0\neast: %.1f\nwest: 0.0\nrows: %d\ncols: %d\n",
                  rows * dx, cols * dx, rows, cols);
    std::string text = line;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) text += value(r, c) + (c < cols ? " " : "\n");
    }
    return text;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    return text;
}

// The plane falls 2 percent toward row 10 and 0.5 percent toward its middle.
void write_plane(const scratch_dir &d) {
    d.write("mask.map", grid([](int, int) { return std::string("1"); }));
    d.write("elev.map", grid([](int r, int c) {
                return number(100.0 - 0.02 * r * dx - 0.005 * std::fabs(c - 5.5) * dx);
            }));
    d.write("man.map", grid([](int, int) { return std::string("0.05"); }));
    d.write("ks.map", grid([](int, int) { return number(k_cm_h); }));
    d.write("psi.map", grid([](int, int) { return number(psi_cm); }));
    d.write("phi.map", grid([](int, int) { return std::string("0.5"); }));
    d.write("theta.map", grid([](int, int) { return std::string("0.16"); }));
    d.write("soil.map", grid([](int, int) { return std::string("1"); }));
    d.write("layers.tab", "1 0\n1\n0.65 16.7 0.5 0.16 20\n0.65 16.7 0.5 0.16 20\n"
                          "0.65 16.7 0.5 0.16\n");
}

std::string project(const std::string &scheme) {
    return "KORVAPROJECT\nWATERSHED_MASK mask.map\nELEVATION elev.map\nROUGHNESS man.map\n"
           "SUMMARY run.sum\nOUTLET_HYDRO run.otl\nROWS 10\nCOLS 10\nGRIDSIZE 10\n"
           "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 120\nTIMESTEP 5\nHYD_FREQ 5\n"
           "MAP_FREQ 60\nOUTROW 10\nOUTCOL 5\nOUTSLOPE 0.02\nOVERTYPE explicit\nPRECIP_UNIF\n"
           "RAIN_INTENSITY 60\nRAIN_DURATION 45\n" +
           scheme;
}

double summary_value(const std::string &summary, const std::string &label) {
    const std::size_t at = summary.find(label);
    if (at == std::string::npos) return NAN;
    return std::strtod(summary.c_str() + at + label.size(), nullptr);
}

// Ponded Green and Ampt depth (cm) at t hours under rain r from a dry start: the
// Mein-Larson ponding depth Fp = psi dtheta / (r / K - 1) at tp = Fp / r, then
// F - S ln(1 + F / S) = K (t - tp + ts) with ts the time the ponded solution
// needs to reach Fp.
double ponded_depth(double t) {
    const double s = psi_cm * dtheta;
    const double fp = s / (rain_cm_h / k_cm_h - 1.0);
    const double tp = fp / rain_cm_h;
    const double ts = (fp - s * std::log(1.0 + fp / s)) / k_cm_h;
    const double target = k_cm_h * (t - tp + ts);
    double lo = 0.0, hi = 100.0;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (mid - s * std::log(1.0 + mid / s) < target ? lo : hi) = mid;
    }
    return lo;
}

struct run_volumes {
    int status = -1;
    double rain = NAN, infiltrated = NAN, discharge = NAN, surface = NAN, error = NAN;
};

run_volumes run(const std::string &scheme) {
    scratch_dir d;
    write_plane(d);
    d.write("run.prj", project(scheme));
    const testsupport::program_result r = d.run(KORVA_EXE, {"run.prj"});
    run_volumes v;
    v.status = r.exit_status;
    const std::string summary = d.read("run.sum");
    v.rain = summary_value(summary, "volume of total rainfall:");
    v.infiltrated = summary_value(summary, "volume of infiltrated water:");
    v.discharge = summary_value(summary, "volume of discharge:");
    v.surface = summary_value(summary, "volume remaining on surface:");
    v.error = summary_value(summary, "mass conservation error:");
    return v;
}

void expect_balanced(const run_volumes &v) {
    ASSERT_EQ(v.status, 0);
    EXPECT_NEAR(v.rain, rain_cm_h / 100.0 * rain_hours * area, 0.1);
    // The summary prints each volume to 0.1 m3.
    EXPECT_NEAR(v.rain, v.infiltrated + v.discharge + v.surface, 0.3);
    EXPECT_NEAR(v.error, 0.0, 1e-5);
    EXPECT_GT(v.discharge, 0.0);  // the storm ponds the plane and runs off
    // Every cell ponds a few minutes into the storm, so it takes at least the
    // ponded depth at the end of the rain and at most that of the whole run.
    const double infiltrated_cm = v.infiltrated / area * 100.0;
    EXPECT_GT(infiltrated_cm, ponded_depth(rain_hours) - 0.02);
    EXPECT_LT(infiltrated_cm, ponded_depth(run_hours));
}

TEST(GreenAmptRun, EventBalanceOfRainInfiltrationAndRunoff) {
    const run_volumes v =
        run("GREEN_AMPT\nCONDUCTIVITY ks.map\nCAPILLARY psi.map\nPOROSITY phi.map\n"
            "MOISTURE theta.map\n");
    expect_balanced(v);
}

TEST(GreenAmptRun, LayeredKernelOnTheSameSoilAgrees) {
    const run_volumes layered =
        run("INF_LAYERED_SOIL\nSOIL_TYPE_MAP soil.map\nSOIL_LAYER_INPUT_FILE layers.tab\n");
    expect_balanced(layered);
    const run_volumes plain =
        run("GREEN_AMPT\nCONDUCTIVITY ks.map\nCAPILLARY psi.map\nPOROSITY phi.map\n"
            "MOISTURE theta.map\n");
    EXPECT_NEAR(layered.infiltrated, plain.infiltrated, 0.01 * plain.infiltrated);
}

}  // namespace
