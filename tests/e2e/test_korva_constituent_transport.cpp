// Runs korva with overland constituent transport on a plane of 5 x 5 cells of
// 10 m that drains to its middle column, with and without a channel down that
// column: a conservative tracer falls with the rain, which brings a mass known
// by hand, and the overland balance of the run summary closes with that mass
// either leaving through the outlet or entering the channel, which carries it
// out through its outlet.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "project_text.h"
#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

using project_text::value_after;

constexpr int side = 5;
constexpr double dx = 10.0;
// 40 mm/h for 30 minutes over 2500 m2: 50 m3 of rain at 100000 per m3, and the
// totals hold masses / 1000: 5000.
constexpr double rain_mass = 0.040 * 0.5 * side * side * dx * dx * 100000.0 / 1000.0;

template <class F>
std::string grid(F value) {
    std::string text = "north: 50.0\nsouth: 0.0\neast: 50.0\nwest: 0.0\nrows: 5\ncols: 5\n";
    for (int r = 1; r <= side; ++r)
        for (int c = 1; c <= side; ++c) text += value(r, c) + (c < side ? " " : "\n");
    return text;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

struct overland_block {
    double initial, final_mass, out, to_channels, decayed, points, exfiltrated, rain, infiltrated,
        taken_up, error;
};

// The overland block that follows `head`: the run summary's by default, the
// event summary's with the contaminant's name.
overland_block read_block(const std::string &summary,
                          const std::string &head = "Overland Contaminant Transport Summary for Contaminant") {
    const std::size_t at = summary.find(head);
    const std::string b = at == std::string::npos ? std::string() : summary.substr(at);
    return {value_after(b, "Initial mass on overland"), value_after(b, "Final mass on overland"),
            value_after(b, "Mass out of the watershed"), value_after(b, "Mass into the channels"),
            value_after(b, "Mass decayed"),             value_after(b, "Mass from point sources"),
            value_after(b, "Mass exfiltrated"),         value_after(b, "Mass from precipitation"),
            value_after(b, "Mass infiltrated"),         value_after(b, "Mass taken up"),
            value_after(b, "Contam mass balance error")};
}

// The plane with a tracer of rain concentration 100000 and no release, loss,
// decay or dispersion; `extra` adds cards. Returns the run's result.
testsupport::program_result run_plane(const scratch_dir &d, const std::string &extra) {
    d.write("mask.asc", grid([](int, int) { return std::string("1"); }));
    d.write("elev.asc", grid([](int r, int c) { return number(10.0 + 0.5 * std::abs(c - 3) + 0.2 * (5 - r)); }));
    d.write("links.asc", grid([](int, int c) { return std::string(c == 3 ? "1" : "0"); }));
    d.write("nodes.asc", grid([](int r, int c) { return c == 3 ? std::to_string(r) : std::string("0"); }));
    d.write("c.idx", grid([](int, int) { return std::string("1"); }));
    std::string row = "1";
    row.resize(86, ' ');
    d.write("map.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP c.idx \"C\"\nCONTAMINANT_TRANSPORT\n"
                       "NUM_CONTAM 1\n\"tracer\" \"C\" \"tracer.out\"\nPRECIP_CONC 100000\n"
                       "NUM_IDS 1\nID\n" + row + "0 0 0 0 0 0\n");
    // Five computational nodes under the middle column and the outlet node.
    d.write("p.chn", "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES 6\n"
                     "CONNECT 1 0 0\nLINK 1\nDX 10.0\nNODES 6\nTRAPEZOID\nMANNINGS_N 0.035\n"
                     "NODE 1\nELEV 10.8\nXSEC\nBOTTOM_WIDTH 2.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 1.0\n"
                     "NODE 2\nELEV 10.6\nNODE 3\nELEV 10.4\nNODE 4\nELEV 10.2\nNODE 5\nELEV 10.0\n"
                     "NODE 6\nELEV 9.8\n");
    d.write("p.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
                     "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 5\nCOLS 5\nGRIDSIZE 10\nTOT_TIME 120\n"
                     "START_DATE 2021 7 12\nSTART_TIME 14 0\nTIMESTEP 10\nHYD_FREQ 5\nMAP_FREQ 60\n"
                     "OUTROW 5\nOUTCOL 3\nOUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\nPRECIP_UNIF\n"
                     "RAIN_INTENSITY 40\nRAIN_DURATION 30\nMAPPING_TABLE map.cmt\nOV_CON_TRANS\n" +
                         extra);
    return d.run(KORVA_EXE, {"p.prj"});
}

// The summary's lines, printed to 0.01, close: what came in is what left, was
// lost or stays on the land. Ten rounded terms of 0.005 at most give 0.05, a
// relative 1e-5 of the rain mass; the scheme itself conserves to rounding.
void expect_closed(const overland_block &b) {
    ASSERT_FALSE(std::isnan(b.error));
    EXPECT_NEAR(b.rain, rain_mass, 0.005);
    const double in = b.initial + b.rain + b.points + b.exfiltrated + b.taken_up;
    const double out = b.out + b.to_channels + b.decayed + b.infiltrated + b.final_mass;
    EXPECT_NEAR(in, out, 0.05);
    EXPECT_LT(std::fabs(b.error), 0.005);
    EXPECT_EQ(b.initial, 0.0);
    EXPECT_EQ(b.decayed, 0.0);
    EXPECT_EQ(b.infiltrated, 0.0);
}

// A flat plane under steady rain r with a land pool: the water stands where it
// falls (the outlet's slope of 1e-6 lets a trace go), so its depth is r t, and the
// pool gives it M = S r (T - (1 - exp(-k T)) / k) per m2 by T, the solution of
// dM/dt = k (S h - M), h = r t; the run's last step (its turn at the end time)
// then holds h = r T: M -> S h + (M - S h) exp(-k dt). At a step and a tenth of it.
TEST(KorvaConstituentTransport, LandPoolReleasesByItsLawIntoTheStandingRain) {
    const double r = 0.036 / 3600.0, sat = 1000.0, k = 48.0 / 86400.0, t = 1800.0;
    const double by_rain_end = sat * r * (t - (1.0 - std::exp(-k * t)) / k), h = r * t;
    for (const char *step : {"10", "1"}) {
        const double m = sat * h + (by_rain_end - sat * h) * std::exp(-k * std::atof(step));
        const double law = side * side * dx * dx * m / 1000.0;
        scratch_dir d;
        d.write("mask.asc", grid([](int, int) { return std::string("1"); }));
        d.write("elev.asc", grid([](int, int) { return std::string("10.0"); }));
        d.write("c.idx", grid([](int, int) { return std::string("1"); }));
        d.write("map.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP c.idx \"C\"\nCONTAMINANT_TRANSPORT\n"
                           "NUM_CONTAM 1\n\"washoff\" \"C\" \"washoff.out\"\nPRECIP_CONC 0\nNUM_IDS 1\nID\n" +
                               project_text::row("1", "48 1000 0 0 0 0"));
        d.write("p.prj", std::string("KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n"
                         "MANNING_N 0.05\nSUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 5\nCOLS 5\nGRIDSIZE 10\n"
                         "TOT_TIME 30\nSTART_DATE 2021 7 12\nSTART_TIME 14 0\nHYD_FREQ 5\nMAP_FREQ 60\n"
                         "OUTROW 5\nOUTCOL 3\nOUTSLOPE 0.000001\nQUIET\nPRECIP_UNIF\nRAIN_INTENSITY 36\n"
                         "RAIN_DURATION 30\nMAPPING_TABLE map.cmt\nOV_CON_TRANS\nOV_MASS_LOAD 5\nTIMESTEP ") +
                         step + "\n");
        const testsupport::program_result run = d.run(KORVA_EXE, {"p.prj"});
        ASSERT_EQ(run.exit_status, 0) << run.out;
        const std::string sum = d.read("p.sum");
        const std::string b = sum.substr(sum.find("Overland Contaminant Transport Summary for Contaminant"));
        const overland_block o = read_block(sum);
        EXPECT_NEAR(o.taken_up, law, 0.01 * law) << step;
        // The pool lost what the water got; the water holds it or passed it on.
        EXPECT_NEAR(value_after(b, "Initial mass in land pool") - value_after(b, "Final mass in land pool"),
                    o.taken_up, 0.011);
        EXPECT_NEAR(o.final_mass + o.out + o.to_channels + o.infiltrated + o.decayed, o.taken_up, 0.01 * law);
        EXPECT_EQ(value_after(b, "Initial mass in land pool"), 125.0);
        // The contaminant's own file ends with the outlet's total of the summary.
        const std::string series = d.read("washoff.out");
        EXPECT_NEAR(std::strtod(series.c_str() + series.rfind(' '), nullptr), o.out, 0.005) << series;
    }
}

TEST(KorvaConstituentTransport, RainTracerLeavesThroughTheOutletAndTheBalanceCloses) {
    scratch_dir d;
    const testsupport::program_result r = run_plane(d, "");
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const overland_block b = read_block(d.read("p.sum"));
    expect_closed(b);
    EXPECT_EQ(b.to_channels, 0.0);
    // An hour and a half after the rain most of the tracer has left.
    EXPECT_GT(b.out, 0.9 * rain_mass);
}

TEST(KorvaConstituentTransport, WithAChannelTheTracerEntersTheChannelAndTheBalanceCloses) {
    scratch_dir d;
    const testsupport::program_result r =
        run_plane(d, "CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT p.chn\n"
                     "CHAN_CON_TRANS\nOV_CON_MAP conc.dat\nMAP_TYPE 1\n");
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const std::string sum = d.read("p.sum");
    const overland_block b = read_block(sum);
    expect_closed(b);
    // With channels nothing leaves the land but through them.
    EXPECT_EQ(b.out, 0.0);
    EXPECT_GT(b.to_channels, 0.9 * rain_mass);
    // The single event's summary gives the run's overland account.
    const overland_block e = read_block(sum, "Overland Contaminant Transport Summary for tracer");
    expect_closed(e);
    EXPECT_EQ(e.final_mass, b.final_mass);
    EXPECT_EQ(e.to_channels, b.to_channels);

    // The channels pass what they receive on through the outlet: by an hour and a
    // half after the rain nearly all of it has left, and the channel balance of
    // the run summary closes.
    const std::size_t at = sum.find("Channel Contaminant Transport Summary for Contaminant");
    ASSERT_NE(at, std::string::npos) << sum;
    const std::string c = sum.substr(at);
    const double initial = value_after(c, "Initial mass in channels"),
                 final_mass = value_after(c, "Final mass in channels"),
                 from_land = value_after(c, "Mass from the overland"),
                 out = value_after(c, "Mass out of the outlet");
    EXPECT_NEAR(from_land, b.to_channels, 0.015);
    EXPECT_GT(out, 0.99 * from_land);
    EXPECT_NEAR(initial + from_land, final_mass + out, 0.015);
    EXPECT_EQ(value_after(c, "Mass decayed"), 0.0);
    EXPECT_EQ(value_after(c, "Mass added by the clean-up"), 0.0);
    EXPECT_LT(std::fabs(value_after(c, "Channel contam mass balance error")), 1e-6);
    // The event's channel block, printed with the same lines, gives the same terms.
    const std::size_t ev = sum.find("Channel Contaminant Transport Summary for tracer");
    ASSERT_NE(ev, std::string::npos) << sum;
    EXPECT_EQ(value_after(sum.substr(ev), "Mass out of the outlet"), out);
    EXPECT_EQ(value_after(sum.substr(ev), "Final mass in channels"), final_mass);
    // No point-input card: nothing to open, nothing said; the row's file holds the
    // outlet series, ending with the channel outlet's total, and no other is made.
    EXPECT_EQ(r.out.find("Can't open"), std::string::npos) << r.out;
    const std::string series = d.read("tracer.out");
    EXPECT_NEAR(std::strtod(series.c_str() + series.rfind(' '), nullptr), out, 0.005) << series;
    EXPECT_FALSE(d.exists("con_output"));

    // The concentration data set: a step after the first time step, one 60 minutes
    // later and one at the run's end time (120 minutes), each with the cells' status (25 lines) then their
    // concentrations, every wet cell at the rain's concentration: the stream cells
    // give the channel their water and its tracer in the same step.
    const std::string set = d.read("conc.dat");
    ASSERT_EQ(set.rfind("DATASET\n", 0), 0u) << set.substr(0, 200);
    EXPECT_NE(set.find("NAME contaminant conc.\n"), std::string::npos);
    int steps = 0;
    for (std::size_t ts = set.find("\nTS "); ts != std::string::npos; ts = set.find("\nTS ", ts + 1)) {
        ++steps;
        std::size_t line = set.find('\n', ts + 1) + 1;
        for (int k = 0; k < side * side; ++k) line = set.find('\n', line) + 1;
        const char *p = set.c_str() + line;
        for (int k = 1; k <= side * side; ++k) {
            char *end = nullptr;
            const double v = std::strtod(p, &end);
            ASSERT_NE(end, p) << "step " << steps << " value " << k;
            p = end;
            if (v != 0.0) {
                EXPECT_NEAR(v, 100000.0, 0.01) << "step " << steps << " cell " << k;
            }
        }
    }
    EXPECT_EQ(steps, 3);
}

// Every drop of water on the plane is rain water that brought the tracer at its
// rain concentration, and advection of a uniform concentration cannot change it:
// the concentration map of every minute holds exactly 100000 in every cell, both
// while it rains and while the films drain afterwards. The maps print two
// decimals, so each value is 100000 to 0.01 (a relative 1e-7). The transport must
// carry the step's rain mass in the step's rain water, take the flows over the
// same span as the flow step that moved the water, and let the second direction
// start from the water the first one left. So must a channel node's series, and a
// flow step divided into sub-steps (60 s under 200 mm/h) hands on its mean flows.
void expect_rain_concentration(const std::string &extra, double tolerance) {
    SCOPED_TRACE(extra);
    scratch_dir d;
    d.write("loc.txt", "5\n1 1\n1 2\n1 3\n1 4\n1 5\n");
    const testsupport::program_result r = run_plane(d, "OV_CON_MAP conc.dat\nMAP_FREQ 1\n" + extra);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    int maps = 0, wet = 0;
    for (int m = 1; m <= 121; ++m) {
        char name[32];
        std::snprintf(name, sizeof name, "conc.%02d", m);
        if (!d.exists(name)) break;
        ++maps;
        const std::string text = d.read(name);
        // The six header lines, then the 25 values.
        std::size_t at = 0;
        for (int line = 0; line < 6 && at != std::string::npos; ++line) at = text.find('\n', at) + 1;
        ASSERT_NE(at, std::string::npos) << name;
        const char *p = text.c_str() + at;
        for (int c = 1; c <= side * side; ++c) {
            char *end = nullptr;
            const double v = std::strtod(p, &end);
            ASSERT_NE(end, p) << name << " value " << c;
            p = end;
            if (v == 0.0) continue;  // a dry cell holds no water and no tracer
            ++wet;
            EXPECT_NEAR(v, 100000.0, tolerance) << name << " cell " << c;
        }
    }
    // Two hours of maps, one a minute, and the plane stays wet throughout.
    EXPECT_GE(maps, 120);
    EXPECT_GE(wet, 120 * side * side);
    if (!d.exists("c.txt")) return;
    std::istringstream in(d.read("c.txt"));  // minute, then the five nodes, wet after the start
    int values = 0;
    for (double minute = 0.0, v = 0.0; in >> minute;)
        for (int n = 1; n <= 5 && in >> v; ++n, ++values)
            EXPECT_NEAR(minute > 0.0 ? v : 1e5, 1e5, tolerance) << minute << " node " << n;
    EXPECT_EQ(values, 5 * 25);
}

TEST(KorvaConstituentTransport, UniformRainTracerKeepsItsConcentrationInEveryWetCellAndNode) {
    expect_rain_concentration("", 0.01);
    expect_rain_concentration("CHAN_EXPLIC\nLINKS links.asc\nNODES nodes.asc\nCHANNEL_INPUT p.chn\n"
                              "CHAN_CON_TRANS\nIN_HYD_LOCATION loc.txt\nOUT_HYD_LOCATION q.txt\n"
                              "OUT_CON_LOCATION c.txt\n", 0.1);
    expect_rain_concentration("TIMESTEP 60\nRAIN_INTENSITY 200\nOUTSLOPE 0.001\n", 0.01);
}

}  // namespace
