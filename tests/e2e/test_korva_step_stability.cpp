// Explicit schemes at the steps users choose: a wide mild channel under a steady
// inflow holds the Manning normal depth at every node, a small flood wave on a
// long channel arrives when the linear diffusive-wave (Hayami) solution says, a
// plane's outflow at long overland steps follows the kinematic-wave solution, and
// rain on a closed bowl settles into a level pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/project_text.h"
#include "support/run_program.h"

namespace {

using testsupport::scratch_dir;
using testsupport::split_lines;

// A straight rectangular channel of `cells` nodes along a 1-row strip of cells of
// size dx (plus its end node), Manning n, bed slope s0, width b, fed at node 1 by
// the time series `inflow` (lines "yyyy m d h min value"), explicit routing at
// `step` seconds for `minutes`; depths and outlet discharge every minute.
struct strip_channel {
    int cells;
    double dx, b, n, s0;
};

void write_channel(const scratch_dir &dir, const strip_channel &c, const std::string &inflow, int step,
                   int minutes) {
    const double top = 100.0 + c.s0 * c.dx * c.cells;
    auto row = [&](auto value) { return project_text::grid_of(1, c.cells, c.dx, value); };
    dir.write("st.msk", row([](int, int) { return std::string("1"); }));
    dir.write("st.lnk", row([](int, int) { return std::string("1"); }));
    dir.write("st.nod", row([](int, int k) { return std::to_string(k); }));
    dir.write("st.ele", row([&](int, int k) { return project_text::number(top + 10.0 - c.s0 * c.dx * (k - 0.5)); }));
    char line[256];
    std::snprintf(line, sizeof line,
                  "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES %d\nCONNECT 1 0 0\n"
                  "LINK 1\nNODES %d\nDX %.1f\nMANNINGS_N %.4f\nTRAPEZOID\n",
                  c.cells + 1, c.cells + 1, c.dx, c.n);
    std::string chn = line;
    for (int k = 1; k <= c.cells + 1; ++k) {
        chn += "NODE " + std::to_string(k) + "\n";
        if (k == 1) {
            std::snprintf(line, sizeof line,
                          "XSEC\nBOTTOM_WIDTH %.1f\nBANKFULL_DEPTH 10.0\nSIDE_SLOPE 0.0\nPOINTSOURCE inflow\n", c.b);
            chn += line;
        }
        chn += "ELEV " + project_text::number(top - c.s0 * c.dx * (k - 1)) + "\n";
    }
    dir.write("st.chn", chn);
    dir.write("inflow.ts", "KORVA_TS\ninflow\nABSOLUTE\n" + inflow + "END_TS\n");
    char prj[1024];
    std::snprintf(prj, sizeof prj,
                  "KORVAPROJECT\nWATERSHED_MASK st.msk\nELEVATION st.ele\nSUMMARY st.sum\nOUTLET_HYDRO st.otl\n"
                  "SIG_OUTLET_HYDRO st.sig\nROWS 1\nCOLS %d\nGRIDSIZE %.1f\nTIMESTEP %d\nST_TIME_STEP %d\n"
                  "TOT_TIME %d\nHYD_FREQ 1.0\nMAP_FREQ 100000\nMAP_TYPE 3\nOUTROW 1\nOUTCOL %d\nOUTSLOPE %.5f\n"
                  "MANNING_N 0.035\nPRECIP_UNIF\nRAIN_INTENSITY 0.0001\nRAIN_DURATION 1\nSTART_DATE 2000 1 1\n"
                  "START_TIME 0 0\nOVERTYPE explicit\nCHAN_EXPLIC\nTIME_SERIES_FILE inflow.ts\nLINKS st.lnk\n"
                  "NODES st.nod\nCHANNEL_INPUT st.chn\nCHAN_DEPTH st.dep\nQUIET\n",
                  c.cells, c.dx, step, step, minutes, c.cells, c.s0);
    dir.write("project.prj", prj);
}

// Manning discharge of the rectangular channel at depth y, and the normal depth of q.
double manning(const strip_channel &c, double y) {
    const double a = c.b * y, r = a / (c.b + 2.0 * y);
    return a * std::pow(r, 2.0 / 3.0) * std::sqrt(c.s0) / c.n;
}
double normal_depth(const strip_channel &c, double q) {
    double lo = 0.0, hi = 20.0;
    for (int i = 0; i < 200; ++i) (manning(c, 0.5 * (lo + hi)) < q ? lo : hi) = 0.5 * (lo + hi);
    return 0.5 * (lo + hi);
}

// Node depths of the depth series, block by block (one block a minute).
std::vector<std::vector<double>> depth_blocks(const std::string &text) {
    std::vector<std::vector<double>> blocks;
    bool in_block = false;
    for (const std::string &l : split_lines(text)) {
        if (l.rfind("TS ", 0) == 0) {
            in_block = true;
            continue;
        }
        if (!in_block || l.empty()) continue;
        std::istringstream in(l);
        int count = 0;
        in >> count;
        std::vector<double> y;
        for (int k = 0; k < count; ++k) {
            int flag = 0;
            double v = 0.0;
            in >> flag >> v;
            y.push_back(v);
        }
        blocks.push_back(y);
        in_block = false;
    }
    return blocks;
}

// Outlet discharge by minute from the "minute  value" lines.
std::vector<double> outlet_series(const std::string &text) {
    std::vector<double> q;
    for (const std::string &l : split_lines(text)) {
        double t = 0.0, v = 0.0;
        if (std::sscanf(l.c_str(), "%lf %lf", &t, &v) == 2) q.push_back(v);
    }
    return q;
}

// 100 m3/s into a channel 40 m wide at slope 0.0004, nodes 100 m apart: the explicit
// diffusive wave's diffusion number at the Courant-limited sub-step is about 0.8.
TEST(ChannelStepStability, WideMildChannelHoldsNormalDepthAtEveryNode) {
    const strip_channel c{40, 100.0, 40.0, 0.03, 0.0004};
    const double yn = normal_depth(c, 100.0);
    EXPECT_NEAR(yn, 2.3089, 1e-4);
    for (int step : {5, 30}) {
        SCOPED_TRACE(step);
        scratch_dir dir;
        write_channel(dir, c, "1999 12 31 0 0 100.0\n2000 1 3 0 0 100.0\n", step, 240);
        const auto r = dir.run(KORVA_EXE, {"project.prj"}, 120);
        ASSERT_EQ(r.exit_status, 0) << r.out;
        const auto blocks = depth_blocks(dir.read("st.dep"));
        ASSERT_GE(blocks.size(), 240u);
        double worst = 0.0;
        for (std::size_t b = 180; b < blocks.size(); ++b)
            for (double y : blocks[b]) worst = std::max(worst, std::fabs(y - yn) / yn);
        EXPECT_LT(worst, 0.01);
        const auto q = outlet_series(dir.read("st.sig"));
        ASSERT_GE(q.size(), 240u);
        for (std::size_t m = 180; m < q.size(); ++m) EXPECT_NEAR(q[m], 100.0, 1.0) << m;
    }
}

// A wave of 100 -> 120 -> 100 m3/s over 2 h on a channel 40 km long: the outlet peak
// comes when the linear diffusive wave about 110 m3/s (celerity dQ/dA, diffusivity
// Q / (2 T S0)) carries the inflow there, within 3 % of the travel time, and rises
// as far (within 10 %).
TEST(ChannelStepStability, FloodWaveTravelsAtItsKinematicCelerity) {
    const strip_channel c{80, 500.0, 40.0, 0.03, 0.0004};
    const double length = 80 * 500.0, q0 = 110.0, y0 = normal_depth(c, q0);
    const double celerity = (manning(c, y0 + 1e-4) - manning(c, y0 - 1e-4)) / (2e-4 * c.b);
    const double diffusivity = q0 / (2.0 * c.b * c.s0);
    // Inflow above the base by minute from the start; the pulse peaks at 11 h.
    auto pulse = [](double minute) {
        const double t = std::fabs(minute - 660.0);
        return t < 60.0 ? 20.0 * (1.0 - t / 60.0) : 0.0;
    };
    // Hayami: the response at distance x to a unit inflow at the upstream end.
    auto kernel = [&](double t) {
        return t <= 0.0 ? 0.0
                        : length / (2.0 * std::sqrt(M_PI * diffusivity * t * t * t)) *
                              std::exp(-std::pow(length - celerity * t, 2) / (4.0 * diffusivity * t));
    };
    double peak_minute = 0.0, peak = 0.0;
    for (double m = 600.0; m <= 1200.0; m += 1.0) {
        double v = 0.0;
        for (double tau = 600.0; tau <= 720.0; tau += 0.25) v += pulse(tau) * kernel((m - tau) * 60.0) * 15.0;
        if (v > peak) peak = v, peak_minute = m;
    }
    const double hayami = peak_minute - 660.0;
    ASSERT_GT(hayami, 300.0);
    scratch_dir dir;
    write_channel(dir, c,
                  "1999 12 31 0 0 100.0\n2000 1 1 10 0 100.0\n2000 1 1 11 0 120.0\n2000 1 1 12 0 100.0\n"
                  "2000 1 3 0 0 100.0\n",
                  30, 1200);
    const auto r = dir.run(KORVA_EXE, {"project.prj"}, 120);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const auto q = outlet_series(dir.read("st.sig"));
    ASSERT_GE(q.size(), 1200u);
    std::size_t at = 600;
    for (std::size_t m = 600; m < q.size(); ++m)
        if (q[m] > q[at]) at = m;
    EXPECT_NEAR(q[at] - 100.0, peak, 0.1 * peak);
    EXPECT_NEAR(static_cast<double>(at) - 660.0, hayami, 0.03 * hayami);
}

// The kinematic-wave outflow (m3/s) of a plane of length l, width w, Manning alpha
// sqrt(S0) / n, rain i (m/s) for tr seconds, at time t (s): the rising limb, the
// equilibrium i l w, and the falling limb by its characteristic (bisection).
double kinematic_plane(double l, double w, double alpha, double i, double tr, double t) {
    const double m = 5.0 / 3.0, te = std::pow(l / (alpha * std::pow(i, m - 1.0)), 1.0 / m);
    if (t <= te) return w * alpha * std::pow(i * t, m);
    if (t <= tr) return w * i * l;
    double lo = 1e-12, hi = i * l;
    for (int k = 0; k < 100; ++k) {
        const double q = 0.5 * (lo + hi);
        const double after = (l - q / i) / (alpha * m * std::pow(q / alpha, (m - 1.0) / m));
        (after > t - tr ? lo : hi) = q;
    }
    return w * 0.5 * (lo + hi);
}

// A plane 1000 m long of 100 cells of 10 m, slope 0.01, n 0.05, 50 mm/h for 2 h: at
// 30 s (explicit) and 20 s (ADE) the Courant number is 1.37 and 0.91; the outflow
// stays on the kinematic solution (equilibrium within 2 %, limbs within 5 % of it).
TEST(OverlandStepStability, LongStepsStayOnTheKinematicSolution) {
    const char *schemes[] = {"explicit", "ade"};
    const int steps[] = {30, 20};
    const double l = 1000.0, w = 10.0, alpha = std::sqrt(0.01) / 0.05, i = 0.05 / 3600.0, tr = 7200.0;
    const double qe = i * l * w, te = std::pow(l / (alpha * std::pow(i, 2.0 / 3.0)), 0.6);
    for (int v = 0; v < 2; ++v) {
        SCOPED_TRACE(schemes[v]);
        scratch_dir dir;
        auto row = [&](auto value) { return project_text::grid_of(1, 100, 10.0, value); };
        dir.write("pl.msk", row([](int, int) { return std::string("1"); }));
        dir.write("pl.ele", row([](int, int k) { return project_text::number(20.0 - 0.1 * k); }));
        char prj[1024];
        std::snprintf(prj, sizeof prj,
                      "KORVAPROJECT\nWATERSHED_MASK pl.msk\nELEVATION pl.ele\nMANNING_N 0.05\nSUMMARY pl.sum\n"
                      "OUTLET_HYDRO pl.otl\nSIG_OUTLET_HYDRO pl.sig\nROWS 1\nCOLS 100\nGRIDSIZE 10.0\n"
                      "TIMESTEP %d\nTOT_TIME 240\nHYD_FREQ 1.0\nMAP_FREQ 60\nMAP_TYPE 3\nOUTROW 1\nOUTCOL 100\n"
                      "OUTSLOPE 0.01\nPRECIP_UNIF\nRAIN_INTENSITY 50\nRAIN_DURATION 120\nSTART_DATE 2000 1 1\n"
                      "START_TIME 0 0\nOVERTYPE %s\n",
                      steps[v], schemes[v]);
        dir.write("project.prj", prj);
        const auto r = dir.run(KORVA_EXE, {"project.prj"}, 120);
        ASSERT_EQ(r.exit_status, 0) << r.out;
        if (v == 0) {
            EXPECT_NE(r.out.find(" *Changing overland time step to 10.00 seconds...\n"), std::string::npos);
        }
        const auto q = outlet_series(dir.read("pl.sig"));
        ASSERT_GE(q.size(), 240u);
        for (std::size_t m = 1; m < q.size(); ++m) {
            const double t = 60.0 * static_cast<double>(m);
            if (std::fabs(t - te) <= 300.0) continue;
            const bool equilibrium = t >= 1.5 * te && t < tr;
            EXPECT_NEAR(q[m], kinematic_plane(l, w, alpha, i, tr, t), (equilibrium ? 0.02 : 0.05) * qe)
                << "minute " << m;
        }
    }
}

// Rain (36 mm/h for 1 h) on a closed paraboloid bowl of 21 x 21 cells of 10 m,
// z = 50 + 0.0002 r^2, beside a one-cell outlet island: after 10 h the pool is
// level at the height whose storage holds the rain, under both ADE schemes at 5 s
// and 1 s steps, and no depth was ever below zero.
TEST(OverlandStepStability, StillPoolLevelsUnderTheAdeSchemes) {
    auto ground = [](int r, int c) {
        const double x = 10.0 * (c - 11), y = 10.0 * (r - 11);
        return c <= 21 ? 50.0 + 0.0002 * (x * x + y * y) : 40.0;
    };
    // The level pool: the level whose storage over the bowl equals the rain on it.
    const double rain = 441 * 100.0 * 0.036;
    double lo = 50.0, hi = 52.0;
    for (int k = 0; k < 100; ++k) {
        const double h = 0.5 * (lo + hi);
        double v = 0.0;
        for (int r = 1; r <= 21; ++r)
            for (int c = 1; c <= 21; ++c) v += std::max(0.0, h - ground(r, c)) * 100.0;
        (v < rain ? lo : hi) = h;
    }
    const double level = 0.5 * (lo + hi);
    EXPECT_NEAR(level, 50.4481, 1e-4);
    for (const char *scheme : {"ade", "ade-pc"})
        for (int step : {5, 1}) {
            SCOPED_TRACE(std::string(scheme) + " " + std::to_string(step));
            scratch_dir dir;
            dir.write("bw.msk", project_text::grid_of(21, 23, 10.0, [](int r, int c) {
                          return std::string(c <= 21 || (r == 21 && c == 23) ? "1" : "0");
                      }));
            dir.write("bw.ele", project_text::grid_of(21, 23, 10.0, [&](int r, int c) {
                          return project_text::number(ground(r, c));
                      }));
            char prj[1024];
            std::snprintf(prj, sizeof prj,
                          "KORVAPROJECT\nWATERSHED_MASK bw.msk\nELEVATION bw.ele\nMANNING_N 0.05\nSUMMARY bw.sum\n"
                          "OUTLET_HYDRO bw.otl\nROWS 21\nCOLS 23\nGRIDSIZE 10.0\nTIMESTEP %d\nTOT_TIME 600\n"
                          "HYD_FREQ 10.0\nMAP_FREQ 60\nMAP_TYPE 1\nDEPTH bw.dep\nOUTROW 21\nOUTCOL 23\n"
                          "OUTSLOPE 0.01\nPRECIP_UNIF\nRAIN_INTENSITY 36\nRAIN_DURATION 60\nSTART_DATE 2000 1 1\n"
                          "START_TIME 0 0\nOVERTYPE %s\nQUIET\n",
                          step, scheme);
            dir.write("project.prj", prj);
            const auto run = dir.run(KORVA_EXE, {"project.prj"}, 120);
            ASSERT_EQ(run.exit_status, 0) << run.out;
            // Each block: a value per grid cell twice, the second the depths.
            std::vector<double> depth;
            double lowest = 0.0;
            int blocks = 0;
            for (const std::string &l : split_lines(dir.read("bw.dep"))) {
                if (l.rfind("TS ", 0) == 0) {
                    depth.clear();
                    ++blocks;
                } else if (blocks > 0 && !l.empty() && l != "ENDDS") {
                    depth.push_back(std::atof(l.c_str()));
                    if (depth.size() > 483) lowest = std::min(lowest, depth.back());
                }
            }
            ASSERT_EQ(depth.size(), 966u);
            EXPECT_GE(blocks, 10);
            EXPECT_GE(lowest, 0.0);
            int pool = 0;
            for (int r = 1; r <= 21; ++r)
                for (int c = 1; c <= 21; ++c)
                    if (ground(r, c) < level) {
                        ++pool;
                        EXPECT_NEAR(ground(r, c) + depth[483 + (r - 1) * 23 + c - 1], level, 0.002) << r << " " << c;
                    }
            EXPECT_EQ(pool, 69);
        }
}

}  // namespace
