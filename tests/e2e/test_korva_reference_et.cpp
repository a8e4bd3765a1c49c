// Long-term potential ET against the FAO-56 hourly reference ET (Allen et al. 1998,
// eqs. 53, 28, 39) of the same records: the bundled long-term example as a grass plot
// (albedo 0.23, 0.12 m, 50 s/m), a clear and an overcast July day in every layout.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "e2e/project_text.h"
#include "support/run_program.h"

namespace {

constexpr double pi = 3.14159265358979;
double es(double t) { return 0.6108 * std::exp(17.27 * t / (t + 237.3)); }

// Ra (MJ/m2/h) of the hour centred on clock time t, day j, latitude lat, longitudes lm, lz west.
double fao_ra(int j, double t, double lat, double lm, double lz) {
    const double b = 2.0 * pi * (j - 81) / 364.0, phi = lat * pi / 180.0, g = 2.0 * pi * j / 365.0;
    const double w = pi / 12.0 * (t + 0.06667 * (lz - lm) + 0.1645 * std::sin(2 * b) - 0.1255 * std::cos(b) - 0.025 * std::sin(b) - 12);
    const double d = 0.409 * std::sin(g - 1.39), w1 = w - pi / 24.0, w2 = w + pi / 24.0;
    return std::fmax(0.0, 12.0 * 60.0 / pi * 0.082 * (1.0 + 0.033 * std::cos(g)) *
                              ((w2 - w1) * std::sin(phi) * std::sin(d) + std::cos(phi) * std::cos(d) * (std::sin(w2) - std::sin(w1))));
}

// ET0 (mm/h); `ratio` carries Rs/Rso of the last hour of sun into the night.
double fao_et0(double ra, double t, double rh, double u2, double rs, double p_kpa, double &ratio) {
    const double ea = es(t) * rh / 100.0, delta = 4098.0 * es(t) / ((t + 237.3) * (t + 237.3)), gamma = 0.000665 * p_kpa;
    if (ra > 0.05) ratio = std::fmin(rs / (0.75 * ra), 1.0);
    const double tk = t + 273.16, rn = 0.77 * rs - 2.043e-10 * std::pow(tk, 4) * (0.34 - 0.14 * std::sqrt(ea)) * (1.35 * ratio - 0.35);
    const double g = rn > 0.0 ? 0.1 * rn : 0.5 * rn;
    return (0.408 * delta * (rn - g) + gamma * 37.0 / tk * u2 * (es(t) - ea)) / (delta + gamma * (1.0 + 0.34 * u2));
}

enum layout { qar, samson, airways };
struct hour_values { double f, rh, rs; int sky; };  // deg F (whole), %, W/m2, tenths

// Hour k ending k h after 12 July 2021 0:00 (105 W, GMT -7): 16 to 31 C, dew point 12 C,
// 4 knots; global radiation 0.70 Ra (clear, sky 0) on day 1, 0.35 Ra (sky 10) after.
hour_values weather(int k, int sky) {
    const double mid = std::fmod(k + 23.5, 24.0), t = 23.5 + 7.5 * std::cos(2.0 * pi * (mid - 15.0) / 24.0);
    const double f = std::round(t * 1.8 + 32.0), rs = (k <= 24 ? 0.70 : 0.35) * fao_ra(193 + (k - 1) / 24, mid, 40, 105, 105) / 0.0036;
    return {f, std::round(100.0 * es(12.0) / es((f - 32.0) / 1.8)), std::round(rs), sky >= 0 ? sky : k <= 24 ? 0 : 10};
}

void put(std::string &line, int from, const char *format, double value) {
    char text[32];
    line.replace(std::size_t(from - 1), std::size_t(std::snprintf(text, sizeof text, format, value)), text);
}

// The layout's file of hours 1..72 (Surface Airways 0..71); without `given` no radiation.
std::string weather_file(layout f, bool given, int sky) {
    std::string text = f == samson ? "       PLOT                            40 00   105 00\nheader\n" : "";
    for (int k = 1; f != airways && k <= 72; ++k) {
        const hour_values v = weather(k, sky);
        std::string l(85, ' ');
        put(l, 1, "2021 7 %.0f", 12 + (k - 1) / 24), put(l, 11, "%2.0f", (k - 1) % 24 + 1);
        if (f == qar) put(l, 14, "29.92 %.0f", v.rh), put(l, 27, "%2.0f 4", v.sky), put(l, 33, "%.0f 0", v.f), put(l, 40, "%.1f", given ? v.rs : 99999);
        if (f == samson) {
            put(l, 1, " 21 07 %2.0f", 12 + (k - 1) / 24), put(l, 42, "%4.0f", given ? v.rs : 9999), put(l, 50, "%2.0f", v.sky);
            put(l, 56, "%5.1f", (v.f - 32.0) / 1.8), put(l, 68, "%3.0f 1013", v.rh), put(l, 80, "%6.3f", 4 * 0.514444), put(l, 34, "%4.0f", 0);
        }
        text += l + "\n";
    }
    const char *codes[] = {"GRAD", "PRES", "RHUM", "TMPD", "TSKC", "WIND"};
    for (int day = 12; f == airways && day <= 14; ++day)
        for (int e = given ? 0 : 1; e < 6; ++e) {
            std::string l = std::string("STATION0001") + codes[e] + "  2021" + "07  " + std::to_string(day) + " 24" + std::string(288, ' ');
            for (int h = 0; h < 24; ++h) {
                const hour_values v = weather((day - 12) * 24 + h, sky);
                const double value[] = {v.rs * 10.0, 29920, v.rh, v.f, double(v.sky), 18004};
                put(l, 31 + 12 * h, "%04.0f", h * 100), put(l, 36 + 12 * h, "%5.0f", value[e]);
            }
            text += l + "\n";
        }
    return text;
}

// The example run with that weather and method: PET (mm/h) of hours 0..72; `extra` files
// (an empty name: project cards) join it, the summary goes to *summary.
std::vector<double> hourly_pet(layout f, bool given, int sky, bool penman, double albedo,
                               const std::vector<std::pair<std::string, std::string>> &extra = {}, std::string *summary = nullptr) {
    testsupport::scratch_dir d;
    for (const auto &e : std::filesystem::directory_iterator(std::filesystem::path(TEST_DATA_DIR) / "../../examples/longterm"))
        d.write(e.path().filename().string(), testsupport::read_file(e.path()));
    std::string prj = d.read("longterm.prj"), cmt = d.read("longterm.cmt"), card[] = {"HMET_QAR", "HMET_SAMSON", "HMET_SURFAWAYS"};
    prj.replace(prj.find("HMET_QAR longterm.qar"), 21, card[f] + " weather.txt");
    if (penman) prj.replace(prj.find("ET_CALC_DEARDORFF"), 17, "ET_CALC_PENMAN");
    cmt.replace(cmt.find("0.2 0.12 0.3 0.5 70"), 19, project_text::number(albedo) + " 0.12 0.12 1.0 50");
    for (const auto &[name, text] : extra) name.empty() ? void(prj += text) : d.write(name, text);
    d.write("longterm.prj", prj), d.write("longterm.cmt", cmt), d.write("weather.txt", weather_file(f, given, sky));
    EXPECT_EQ(d.run(KORVA_EXE, {"longterm.prj"}).exit_status, 0);
    if (summary) *summary = d.read("longterm.sum");
    std::vector<double> pet(73, 0.0);
    int y = 0, m = 0, day = 0, h = 0;
    double somo = 0.0, p = 0.0;
    for (const std::string &line : testsupport::split_lines(d.read("evap_out")))
        if (std::sscanf(line.c_str(), "%d/%d/%d %d:00 %lf %lf", &y, &m, &day, &h, &somo, &p) == 6 && (day - 12) * 24 + h <= 72)
            pet[std::size_t((day - 12) * 24 + h)] = p * 10.0;
    return pet;
}

double day_sum(const std::vector<double> &v, int day) {
    double s = 0.0;
    for (int k = 24 * day + 1; k <= 24 * day + 24; ++k) s += v[std::size_t(k)];
    return s;
}

TEST(ReferenceEt, PotentialEtFollowsFaoInEveryLayout) {
    // The equations first give FAO-56 Example 19 (N'Diaye, 1 October): 0.63 and 0.0 mm/h.
    double ratio = 0.8;
    EXPECT_NEAR(fao_ra(274, 14.5, 16.0 + 13.0 / 60.0, 16.25, 15.0), 3.543, 0.01);
    EXPECT_NEAR(fao_et0(fao_ra(274, 14.5, 16.2167, 16.25, 15.0), 38.0, 52.0, 3.3, 2.450, 101.2, ratio), 0.63, 0.005);
    ratio = 0.8;
    EXPECT_NEAR(fao_et0(0.0, 28.0, 90.0, 1.9, 0.0, 101.2, ratio), 0.0, 0.005);
    std::vector<double> et0(49, 0.0);
    for (int k = 1; k <= 48; ++k) {
        const hour_values v = weather(k, -1);
        const double ra = fao_ra(193 + (k - 1) / 24, std::fmod(k + 23.5, 24.0), 40, 105, 105);
        et0[std::size_t(k)] = fao_et0(ra, (v.f - 32.0) / 1.8, v.rh, 4 * 0.514444, v.rs * 0.0036, 101.3, ratio);
    }
    std::vector<double> cut;
    for (layout f : {qar, samson, airways}) {
        const std::vector<double> pet = hourly_pet(f, true, -1, true, 0.23);
        for (int day : {0, 1}) {
            EXPECT_NEAR(day_sum(pet, day) / day_sum(et0, day), 1.0, 0.15) << f << " day " << day;
            int peak = 1;
            for (int h = 1; h <= 24; ++h) peak = pet[std::size_t(24 * day + h)] > pet[std::size_t(24 * day + peak)] ? h : peak;
            EXPECT_TRUE(peak >= 12 && peak <= 16) << f << " day " << day << " peak " << peak;
        }
        // Twice the sunshine in the same air evaporates more (by dawn and dusk the
        // overcast sky's longwave may outweigh a small difference).
        for (int h = 1; h <= 24; ++h) EXPECT_TRUE(weather(h, -1).rs < 400 || pet[std::size_t(h)] > pet[std::size_t(h + 24)]) << f << h;
        // Ten tenths of sky over the model's own beam (no radiation in the record).
        cut.push_back(day_sum(hourly_pet(f, false, 10, true, 0.23), 0) / day_sum(hourly_pet(f, false, 0, true, 0.23), 0));
        EXPECT_TRUE(cut.back() < 0.8 && std::fabs(cut.back() - cut.front()) < 0.03) << f << " " << cut.back();
    }
    // Deardorff evaporation of a wet bare soil (albedo 0.15) on the clear day.
    const double bare = day_sum(hourly_pet(qar, true, -1, false, 0.15), 0) / day_sum(et0, 0);
    EXPECT_TRUE(bare > 0.8 && bare < 1.6) << bare;
}

// Storms of 10 mm/h for an hour a day apart on a canopy of 2 mm and 0.2 from the two
// maps alone: each catches 2 + 0.2 x 8 mm on 5 ha (180 m3); the catch evaporated or is held.
TEST(ReferenceEt, CanopyDriesBetweenStorms) {
    const std::string grid = "north: 300\nsouth: 0\neast: 300\nwest: 0\nrows: 3\ncols: 3\n", storm = "EVENT s\nNRGAG 1\nNRPDS 2\nCOORD 150 150\n";
    std::string summary;
    hourly_pet(qar, true, -1, false, 0.15,
               {{"cap.map", grid + "2 2 2\n2 2 2\n2 2 2\n"}, {"coef.map", grid + ".2 .2 .2\n.2 .2 .2\n.2 .2 .2\n"},
                {"longterm.gag", storm + "RATES 2021 7 12 10 00 10\nRATES 2021 7 12 11 00 0\n" + storm + "RATES 2021 7 13 10 00 10\nRATES 2021 7 13 11 00 0\n"},
                {"", "STORAGE_CAPACITY cap.map\nINTERCEPTION_COEFF coef.map\n"}},
               &summary);
    EXPECT_NEAR(project_text::value_after(summary, "volume of interception:"), 180.0, 0.05);
    EXPECT_NEAR(project_text::value_after(summary, "volume of interception:", summary.find("EVENT 2")), 180.0, 1.8);
    EXPECT_GT(project_text::value_after(summary, "Interception evaporated:"), 180.0);
    EXPECT_NEAR(project_text::value_after(summary, "Interception evaporated:") + project_text::value_after(summary, "Interception left on the canopy:"),
                project_text::value_after(summary, "Total interception:"), 0.02);
}

}  // namespace
