// Long steps against outside truths: Manning normal depth, Hayami's diffusive wave,
// the kinematic plane and a level pool.
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include "e2e/project_text.h"
#include "support/run_program.h"

namespace {
using namespace testsupport;
using namespace project_text;
const std::string one = "1";
std::string project(const std::string &cards) {
    return "KORVAPROJECT\nSUMMARY g.sum\nOUTLET_HYDRO g.otl\nSIG_OUTLET_HYDRO g.sig\nHYD_FREQ 1.0\n"
           "START_DATE 2000 1 1\nSTART_TIME 0 0\nPRECIP_UNIF\nQUIET\nWATERSHED_MASK g.msk\nELEVATION g.ele\n" + cards;
}
std::vector<double> run_outlet(const scratch_dir &dir) {
    const auto r = dir.run(KORVA_EXE, {"project.prj"}, 120);
    EXPECT_EQ(r.exit_status, 0) << r.out;
    std::vector<double> q;  // outlet m3/s by minute
    double t = 0.0, v = 0.0;
    for (const std::string &l : split_lines(dir.read("g.sig")))
        if (std::sscanf(l.c_str(), "%lf %lf", &t, &v) == 2) q.push_back(v);
    return q;
}

// A rectangular channel 40 m wide, n 0.03, slope 0.0004, one node per cell of a strip, fed at node 1.
constexpr double b = 40.0, n = 0.03, s0 = 0.0004;
void write_channel(const scratch_dir &dir, int cells, double dx, const std::string &inflow, int step, int minutes) {
    auto bed = [&](int k) { return 100.0 + s0 * dx * (cells + 1 - k); };
    for (const char *f : {"g.msk", "g.lnk"}) dir.write(f, grid_of(1, cells, dx, [](int, int) { return one; }));
    dir.write("g.nod", grid_of(1, cells, dx, [](int, int k) { return std::to_string(k); }));
    dir.write("g.ele", grid_of(1, cells, dx, [&](int, int k) { return number(bed(k) + 10.0); }));
    const std::string nodes = std::to_string(cells + 1);
    std::string chn = "KORVA_CHAN\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 1\nMAXNODES " + nodes + "\nCONNECT 1 0 0\nLINK 1\nNODES " +
                      nodes + "\nDX " + number(dx) + "\nMANNINGS_N 0.03\nTRAPEZOID\n";
    for (int k = 1; k <= cells + 1; ++k)
        chn += "NODE " + std::to_string(k) + "\n" +
               (k == 1 ? "XSEC\nBOTTOM_WIDTH 40\nBANKFULL_DEPTH 10\nSIDE_SLOPE 0\nPOINTSOURCE inflow\n" : "") +
               "ELEV " + number(bed(k)) + "\n";
    dir.write("g.chn", chn);
    dir.write("inflow.ts", "KORVA_TS\ninflow\nABSOLUTE\n1999 12 31 0 0 100\n" + inflow + "2000 1 3 0 0 100\nEND_TS\n");
    const std::string c = std::to_string(cells), t = std::to_string(step);
    dir.write("project.prj", project("ROWS 1\nCOLS " + c + "\nGRIDSIZE " + number(dx) + "\nTIMESTEP " + t + "\nST_TIME_STEP " + t +
                                     "\nTOT_TIME " + std::to_string(minutes) + "\nMAP_FREQ 100000\nMAP_TYPE 3\nOUTROW 1\nOUTCOL " + c +
                                     "\nOUTSLOPE 0.0004\nMANNING_N 0.035\nRAIN_INTENSITY 0.0001\nRAIN_DURATION 1\nOVERTYPE explicit\n"
                                     "CHAN_EXPLIC\nTIME_SERIES_FILE inflow.ts\nLINKS g.lnk\nNODES g.nod\nCHANNEL_INPUT g.chn\nCHAN_DEPTH g.dep\n"));
}
double manning(double y) { return b * y * std::pow(b * y / (b + 2.0 * y), 2.0 / 3.0) * std::sqrt(s0) / n; }
double normal_depth(double q, double lo = 0.0, double hi = 20.0) {
    for (int i = 0; i < 200; ++i) (manning(0.5 * (lo + hi)) < q ? lo : hi) = 0.5 * (lo + hi);
    return lo;
}
std::string scheme_cards(const std::string &s) {  // "scheme step"
    return "OVERTYPE " + s.substr(0, s.find(' ')) + "\nTIMESTEP" + s.substr(s.find(' ')) + "\n";
}

// 100 m3/s, nodes 100 m apart (diffusion number about 0.8 at the Courant-limited sub-step): normal
// depth at every node; a wave of 100 -> 120 -> 100 m3/s over 2 h into 40 km of channel: the outlet
// peak comes and rises as the inflow convolved with Hayami's kernel about 110 m3/s says.
TEST(ChannelStepStability, WideMildChannelHoldsNormalDepthAndAFloodWaveItsCelerity) {
    const double yn = normal_depth(100.0);
    EXPECT_NEAR(yn, 2.3089, 1e-4);
    for (int step : {5, 30}) {
        scratch_dir dir;
        write_channel(dir, 40, 100.0, "", step, 240);
        const auto q = run_outlet(dir);
        ASSERT_GE(q.size(), 240u);
        for (std::size_t m = 180; m < q.size(); ++m) EXPECT_NEAR(q[m], 100.0, 1.0) << step << " " << m;
        int block = 0, count = 0, flag = 0; double y = 0.0;
        for (const std::string &l : split_lines(dir.read("g.dep"))) {
            block += l.rfind("TS ", 0) == 0;
            std::istringstream in(l);
            if (block <= 180 || l.rfind("TS ", 0) == 0 || !(in >> count)) continue;
            while (in >> flag >> y) EXPECT_NEAR(y, yn, 0.01 * yn) << step << " " << block;
        }
        EXPECT_GE(block, 240);
    }
    const double length = 40000.0, y0 = normal_depth(110.0);
    const double c = (manning(y0 + 1e-4) - manning(y0 - 1e-4)) / (2e-4 * b), d = 110.0 / (2.0 * b * s0);  // dQ/dA, Q/(2 T S0)
    auto kernel = [&](double t) { return length / (2.0 * std::sqrt(M_PI * d * t * t * t)) * std::exp(-std::pow(length - c * t, 2) / (4.0 * d * t)); };
    double hayami = 0.0, peak = 0.0;  // minutes after the inflow's peak at 660, m3/s above the base
    for (double m = 661.0, v = 0.0; m <= 1200.0; m += 1.0, v = 0.0) {
        for (double tau = 600.0; tau <= 720.0; tau += 0.25) v += (20.0 - std::fabs(tau - 660.0) / 3.0) * kernel((m - tau) * 60.0) * 15.0;
        if (v > peak) peak = v, hayami = m - 660.0;
    }
    scratch_dir dir;
    write_channel(dir, 80, 500.0, "2000 1 1 10 0 100\n2000 1 1 11 0 120\n2000 1 1 12 0 100\n", 30, 1200);
    const auto q = run_outlet(dir);
    ASSERT_GE(q.size(), 1200u);
    const auto at = std::max_element(q.begin() + 600, q.end()) - q.begin();
    EXPECT_NEAR(q[at] - 100.0, peak, 0.1 * peak);
    EXPECT_NEAR(at - 660.0, hayami, 0.03 * hayami);
}

// A structure between two 10 m wide channels (n 0.035, slope 0.001, nodes 100 m apart) under a steady
// inflow: over the last 4 h of 12 (weir) or 24 h (culvert), at 5 s and 30 s steps, the structure passes the inflow, the level
// above it is the headwater of the structure's published law at that flow, and the backwater above
// follows a standard-step march of dz/dx = -S_f (mean friction slope of the two sections; the
// diffusive wave has no velocity head) at every node and node to node. The structures: a weir (crest 110 m, 10 m long,
// C 0.6), Q = C (2/3) L sqrt(2g H^3 / 3); a round culvert (D 1.2 m, L 20 m, n 0.013, C 0.7) with its
// outlet submerged by a narrow rough channel below, outlet control of a full barrel,
// Q = C A sqrt(2g dh / (1 + 2g C^2 n^2 L / R^(4/3))) against the tailwater; the same culvert on a
// steep barrel (inverts 109.05 / 108.35) over a free outlet, inlet control by the orifice equation
// Q = C A sqrt(2g (HW - invert - D/2)).
TEST(ChannelStepStability, BackwaterAboveAStructureFollowsItsLawAndAStandardStep) {
    const double two_g = 19.62, area = M_PI * 0.36, radius = 0.3;
    const double f = 1.0 + two_g * 0.49 * 0.013 * 0.013 * 20.0 / std::pow(radius, 4.0 / 3.0);
    const std::string culvert = "STRUCTTYPE ROUND_CULVERT\nLENGTH 20\nUPINVERT 109.05\nDIAMETER 1.2\nROUGH_COEFF 0.013\n"
                                "INLET_DISCH_COEFF 0.7\nREV_FLOW_DISCH_COEFF 0.7\nDOWNINVERT ";
    const struct row {
        std::string cards;
        double q, top3, drop3, width3, n3, base;  // link 3: first point, fall per node, width, n; the head's datum (0: tailwater)
        int minutes;                               // run length; the last 4 h are read
        double (*head)(double q, double tw, double f, double a);  // headwater by the published law
    } rows[] = {
        {"STRUCTTYPE WEIR\nCREST_LENGTH 10\nCREST_LOW_ELEV 110\nDISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n", 5.0,
         107.0, 0.1, 10.0, 0.035, 110.0, 720, [](double q, double, double, double) { return 110.0 + std::pow(q / (0.4 * 10.0 * std::sqrt(19.62 / 3.0)), 2.0 / 3.0); }},
        {"STRUCTTYPE WEIR\nCREST_LENGTH 10\nCREST_LOW_ELEV 110\nDISCHARGE_COEFF_FORWARD 0.6\nDISCHARGE_COEFF_REVERSE 0.6\n", 20.0,
         107.0, 0.1, 10.0, 0.035, 110.0, 720, [](double q, double, double, double) { return 110.0 + std::pow(q / (0.4 * 10.0 * std::sqrt(19.62 / 3.0)), 2.0 / 3.0); }},
        {culvert + "108.95\n", 6.0, 108.95, 0.03, 5.0, 0.05, 0.0, 1440,
         [](double q, double tw, double ff, double a) { return tw + q * q * ff / (19.62 * 0.49 * a * a); }},
        {culvert + "108.35\n", 6.0, 107.0, 0.1, 10.0, 0.035, 109.65, 1440,
         [](double q, double, double, double a) { return 109.65 + q * q / (19.62 * 0.49 * a * a); }},
    };
    auto bed = [](int c) { return 110.05 - 0.1 * c; };  // link 1's nodes (cell centres)
    auto sf = [](double q, double y) { return std::pow(q * 0.035 / (10.0 * y * std::pow(10.0 * y / (10.0 + 2.0 * y), 2.0 / 3.0)), 2.0); };
    for (const row &r : rows)
        for (const std::string t : {"5", "30"}) {
            const std::string tag = number(r.q) + " " + number(r.top3) + " " + t;
            scratch_dir dir;
            dir.write("g.msk", grid_of(1, 20, 100.0, [](int, int) { return one; }));
            dir.write("g.ele", grid_of(1, 20, 100.0, [&](int, int c) { return number((c <= 10 ? bed(c) : r.top3 - r.drop3 * (c - 10.5)) + 5.0); }));
            dir.write("g.lnk", grid_of(1, 20, 100.0, [](int, int c) { return std::string(c <= 10 ? "1" : "3"); }));
            dir.write("g.nod", grid_of(1, 20, 100.0, [](int, int c) { return std::to_string((c - 1) % 10 + 1); }));
            std::string chn = "KORVA_CHAN\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 3\nMAXNODES 11\nCONNECT 1 2 0\nCONNECT 2 3 1 1\nCONNECT 3 0 1 2\n"
                              "LINK 2\nSTRUCTURE\nNUMSTRUCTS 1\n" + r.cards;
            for (int l : {1, 3}) {
                chn += "LINK " + std::to_string(l) + "\nDX 100\nNODES 11\nTRAPEZOID\nMANNINGS_N " + number(l == 1 ? 0.035 : r.n3) + "\nNODE 1\nXSEC\nBOTTOM_WIDTH " +
                       number(l == 1 ? 10.0 : r.width3) + "\nBANKFULL_DEPTH 10\nSIDE_SLOPE 0\n" + (l == 1 ? "POINTSOURCE inflow\n" : "");
                for (int p = 1; p <= 11; ++p)
                    chn += "NODE " + std::to_string(p) + "\nELEV " + number(l == 1 ? 110.1 - 0.1 * p : r.top3 - r.drop3 * (p - 1)) + "\n";
            }
            dir.write("g.chn", chn);
            dir.write("inflow.ts", "KORVA_TS\ninflow\nABSOLUTE\n1999 12 31 0 0 " + number(r.q) + "\n2000 1 3 0 0 " + number(r.q) + "\nEND_TS\n");
            dir.write("hyd.loc", "12\n2 1\n1 1\n1 2\n1 3\n1 4\n1 5\n1 6\n1 7\n1 8\n1 9\n1 10\n3 1\n");  // structure, link 1, link 3
            dir.write("project.prj", project("ROWS 1\nCOLS 20\nGRIDSIZE 100\nTIMESTEP " + t + "\nST_TIME_STEP " + t + "\nTOT_TIME " + std::to_string(r.minutes) + "\n"
                                             "MAP_FREQ 6000\nMAP_TYPE 3\nOUTROW 1\nOUTCOL 20\nOUTSLOPE 0.001\nMANNING_N 0.035\nRAIN_INTENSITY 0.0001\n"
                                             "RAIN_DURATION 1\nOVERTYPE explicit\nCHAN_EXPLIC\nTIME_SERIES_FILE inflow.ts\nLINKS g.lnk\nNODES g.nod\n"
                                             "CHANNEL_INPUT g.chn\nIN_HYD_LOCATION hyd.loc\nOUT_HYD_LOCATION g.hq\nOUT_DEP_LOCATION g.hd\n"));
            ASSERT_GE(run_outlet(dir).size(), static_cast<std::size_t>(r.minutes));
            const auto flows = split_lines(dir.read("g.hq")), depths = split_lines(dir.read("g.hd"));
            std::vector<std::vector<double>> levels;  // per minute of the last 4 h: link 1 nodes 1..10, link 3 node 1
            for (std::size_t i = 0; i < flows.size() && i < depths.size(); ++i) {
                std::istringstream fl(flows[i]), d(depths[i]);
                double minute = 0.0, qs = 0.0, at = 0.0;
                if (!(fl >> minute >> qs) || minute < r.minutes - 240.0 || !(d >> at >> at)) continue;
                EXPECT_NEAR(qs, r.q, 0.01 * r.q) << tag << " " << minute;
                levels.emplace_back();
                for (int c = 1; c <= 11 && d >> at; ++c) levels.back().push_back(at + (c <= 10 ? bed(c) : r.top3 - 0.5 * r.drop3));
            }
            ASSERT_GE(levels.size(), 240u) << tag;
            for (const std::vector<double> &z : levels) {
                ASSERT_EQ(z.size(), 11u) << tag;
                const double hw = r.head(r.q, z[10], f, area), base = r.base > 0.0 ? r.base : z[10];
                double truth = hw, y = hw - bed(10);  // upstream node by node, the depth by bisection
                EXPECT_NEAR(z[9], hw, 0.02 * (hw - base)) << tag;
                for (int c = 9; c >= 1; --c) {
                    const double below = sf(r.q, y);
                    for (double lo = 0.05, hi = y + 3.0, i = 0; i < 100; ++i) {
                        y = 0.5 * (lo + hi);
                        (y + bed(c) - truth < 50.0 * (sf(r.q, y) + below) ? lo : hi) = y;
                    }
                    // Node to node the level falls by what friction explains (0.3 to 0.5 mm a node in the
                    // culvert's pool), without a ripple on top.
                    const double step_drop = bed(c) + y - truth, own = z[static_cast<std::size_t>(c - 1)] - z[static_cast<std::size_t>(c)];
                    EXPECT_NEAR(own, step_drop, 1e-4 + 0.1 * step_drop) << tag << " " << c;
                    truth = bed(c) + y;
                    EXPECT_NEAR(z[static_cast<std::size_t>(c - 1)] - z[9], truth - hw, 0.02) << tag << " " << c;
                }
            }
        }
}

// A scheduled release of 10 m3/s below a channel fed 2 m3/s for 6 h, and a PUMPTO card on the link below:
// the run goes on to its end, the release makes what reaches it (no more than the 43200 m3 that came in,
// no less than that less link 1 at normal depth) while the summary prints the 216000 m3 asked for, and
// both the shortfall and the pump that is not simulated are warned about and counted.
TEST(ChannelStepStability, AnOverdrawingReleasePassesWhatItsLinkHoldsAndAPumpIsWarnedAbout) {
    scratch_dir dir;
    dir.write("g.msk", grid_of(1, 20, 100.0, [](int, int) { return one; }));
    dir.write("g.ele", grid_of(1, 20, 100.0, [](int, int c) { return number(115.0 - 0.1 * c); }));
    dir.write("g.lnk", grid_of(1, 20, 100.0, [](int, int c) { return std::string(c <= 10 ? "1" : "3"); }));
    dir.write("g.nod", grid_of(1, 20, 100.0, [](int, int c) { return std::to_string((c - 1) % 10 + 1); }));
    std::string chn = "KORVA_CHAN\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 3\nMAXNODES 11\nCONNECT 1 2 0\nCONNECT 2 3 1 1\nCONNECT 3 0 1 2\n"
                      "LINK 2\nSTRUCTURE\nNUMSTRUCTS 1\nSTRUCTTYPE SCHEDULED_RELEASE release\n";
    for (int l : {1, 3}) {
        chn += "LINK " + std::to_string(l) + "\nDX 100\nNODES 11\nTRAPEZOID\nMANNINGS_N 0.035\nNODE 1\nXSEC\nBOTTOM_WIDTH 10\nBANKFULL_DEPTH 5\n"
               "SIDE_SLOPE 0\n" + (l == 1 ? "POINTSOURCE inflow\n" : "NODE 2\nPUMPTO 3 5 TS release\n");
        for (int p = 1; p <= 11; ++p) chn += "NODE " + std::to_string(p) + "\nELEV " + number(110.1 - 0.1 * p - 0.1 * (l / 3) * 10) + "\n";
    }
    dir.write("g.chn", chn);
    dir.write("inflow.ts", "KORVA_TS\ninflow\nABSOLUTE\n1999 12 31 0 0 2\n2000 1 3 0 0 2\nEND_TS\n"
                           "KORVA_TS\nrelease\nABSOLUTE\n1999 12 31 0 0 10\n2000 1 3 0 0 10\nEND_TS\n");
    dir.write("project.prj", project("ROWS 1\nCOLS 20\nGRIDSIZE 100\nTIMESTEP 10\nST_TIME_STEP 10\nTOT_TIME 360\nMAP_FREQ 6000\nMAP_TYPE 3\n"
                                     "OUTROW 1\nOUTCOL 20\nOUTSLOPE 0.001\nMANNING_N 0.035\nRAIN_INTENSITY 0.0001\nRAIN_DURATION 1\nOVERTYPE explicit\n"
                                     "CHAN_EXPLIC\nTIME_SERIES_FILE inflow.ts\nLINKS g.lnk\nNODES g.nod\nCHANNEL_INPUT g.chn\n"));
    const auto r = dir.run(KORVA_EXE, {"project.prj"}, 120);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("Warning: the PUMPTO card of link 3 node 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Warning: the scheduled release of structure link 2"), std::string::npos) << r.out;
    const std::string sum = dir.read("g.sum");
    EXPECT_NE(sum.find("The run printed 2 warnings"), std::string::npos) << sum;
    auto value = [&sum](const std::string &label) {
        const auto at = sum.find(label);
        return at == std::string::npos ? -1.0 : std::atof(sum.c_str() + at + label.size());
    };
    EXPECT_NEAR(value("Release asked for, structure link 2:"), 216000.0, 0.01 * 216000.0);
    const double made = value("Release made, structure link 2:");
    double lo = 0.0, hi = 5.0;  // link 1 holds at most its 1000 m at Manning's normal depth for 2 m3/s
    for (int i = 0; i < 100; ++i) (10.0 * (lo + hi) / 2 * std::pow(5.0 * (lo + hi) / (10.0 + lo + hi), 2.0 / 3.0) * std::sqrt(0.001) / 0.035 < 2.0 ? lo : hi) = (lo + hi) / 2;
    EXPECT_LE(made, 43200.0 * 1.0001);
    EXPECT_GE(made, 43200.0 - 10000.0 * lo * 1.02);
}

// A dry rectangular channel (10 m wide, n 0.035, slope 0.001, 20 nodes 10 or 50 m apart) fed at its
// first node by a steady 1, 5 or 20 m3/s, 30 s and 5 s steps: the wetting front routes, node 10 rises
// to Manning's normal depth and never above it, and after 2 h the outlet passes the inflow, the channel
// holds 20 nodes at normal depth, and the inflow volume is the discharge plus what the channel holds,
// no water made by lifting areas.
TEST(ChannelStepStability, DryChannelFedAtItsHeadFillsToNormalDepthAndBalances) {
    struct dry_case { double dx, q; int step; };
    for (const dry_case c : {dry_case{10, 1, 30}, {10, 5, 30}, {10, 20, 30}, {50, 1, 30}, {50, 5, 30}, {50, 20, 30}, {10, 20, 5}, {50, 1, 5}}) {
        const std::string tag = number(c.dx) + " " + number(c.q) + " " + std::to_string(c.step);
        auto rect = [](double y) { return 10.0 * y * std::pow(10.0 * y / (10.0 + 2.0 * y), 2.0 / 3.0) * std::sqrt(0.001) / 0.035; };
        double lo = 0.0, hi = 10.0;
        for (int i = 0; i < 100; ++i) (rect(0.5 * (lo + hi)) < c.q ? lo : hi) = 0.5 * (lo + hi);
        auto bed = [&](int k) { return 110.0 - 0.001 * c.dx * (k - 1); };
        scratch_dir dir;
        for (const char *f : {"g.msk", "g.lnk"}) dir.write(f, grid_of(1, 20, c.dx, [](int, int) { return one; }));
        dir.write("g.nod", grid_of(1, 20, c.dx, [](int, int k) { return std::to_string(k); }));
        dir.write("g.ele", grid_of(1, 20, c.dx, [&](int, int k) { return number(0.5 * (bed(k) + bed(k + 1)) + 5.0); }));
        std::string chn = "KORVA_CHAN\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 1\nMAXNODES 21\nCONNECT 1 0 0\nLINK 1\nNODES 21\nDX " + number(c.dx) +
                          "\nMANNINGS_N 0.035\nTRAPEZOID\n";
        for (int k = 1; k <= 21; ++k)
            chn += "NODE " + std::to_string(k) + "\n" + (k == 1 ? "XSEC\nBOTTOM_WIDTH 10\nBANKFULL_DEPTH 5\nSIDE_SLOPE 0\nPOINTSOURCE inflow\n" : "") +
                   "ELEV " + number(bed(k)) + "\n";
        dir.write("g.chn", chn);
        dir.write("inflow.ts", "KORVA_TS\ninflow\nABSOLUTE\n1999 12 31 0 0 " + number(c.q) + "\n2000 1 3 0 0 " + number(c.q) + "\nEND_TS\n");
        dir.write("hyd.loc", "1\n1 10\n");
        const std::string t = std::to_string(c.step);
        dir.write("project.prj", project("ROWS 1\nCOLS 20\nGRIDSIZE " + number(c.dx) + "\nTIMESTEP " + t + "\nST_TIME_STEP " + t + "\nTOT_TIME 120\n"
                                         "MAP_FREQ 6000\nMAP_TYPE 3\nOUTROW 1\nOUTCOL 20\nOUTSLOPE 0.001\nMANNING_N 0.035\nRAIN_INTENSITY 0.0001\n"
                                         "RAIN_DURATION 1\nOVERTYPE explicit\nCHAN_EXPLIC\nTIME_SERIES_FILE inflow.ts\nLINKS g.lnk\nNODES g.nod\n"
                                         "CHANNEL_INPUT g.chn\nIN_HYD_LOCATION hyd.loc\nOUT_HYD_LOCATION g.hq\nOUT_DEP_LOCATION g.hd\n"
                                         "CHAN_DEPTH g.dep\n"));
        const auto q = run_outlet(dir);
        ASSERT_GE(q.size(), 120u) << tag;
        for (std::size_t m = 100; m < q.size(); ++m) EXPECT_NEAR(q[m], c.q, 0.01 * c.q) << tag << " " << m;
        const auto depths = split_lines(dir.read("g.hd"));  // the front rises to normal depth, never above it
        double minute = 0.0, y = 0.0;
        for (const std::string &l : depths)
            if (std::sscanf(l.c_str(), "%lf %lf", &minute, &y) == 2) {
                EXPECT_LT(y, 1.01 * lo) << tag << " " << minute;
            }
        ASSERT_EQ(std::sscanf(depths.back().c_str(), "%lf %lf", &minute, &y), 2) << tag;
        EXPECT_NEAR(y, lo, 0.02 * lo) << tag << " " << minute;
        const std::string sum = dir.read("g.sum");
        const double in = value_after(sum, "Channel point sources:") + value_after(sum, "Total precipitation:");
        const double out = value_after(sum, "Total discharge:"), held = value_after(sum, "Final channel volume:");
        EXPECT_NEAR(held, 20.0 * c.dx * 10.0 * lo, 0.02 * held) << tag;
        EXPECT_NEAR(in, out + held + value_after(sum, "Final surface volume:"), 0.02 + 1e-7 * in) << tag;
        EXPECT_LT(value_after(sum, "Water added by lifting channel areas:"), 0.005) << tag;
        // The run lasts TOT_TIME: the source gave Q x 7200 s; step 0 shows the dry start.
        EXPECT_NEAR(value_after(sum, "Channel point sources:"), c.q * 7200.0, 0.01) << tag;
        const std::string dep = dir.read("g.dep");
        std::istringstream step0(dep.substr(dep.find("TS    0\n") + 8));
        int count = 0, flag = 0;
        double d0 = 0.0;
        ASSERT_TRUE(step0 >> count) << tag;
        for (int k = 0; k < count && step0 >> flag >> d0; ++k) EXPECT_EQ(d0, 0.0) << tag << " node " << k + 1;
    }
}

// A plane 1000 m long (100 cells of 10 m), slope 0.01, n 0.05, 50 mm/h for 2 h at Courant numbers 1.37
// (explicit, 30 s) and 0.91 (ADE, 20 s): within 2 % (equilibrium), 5 % (limbs) of the kinematic solution.
TEST(OverlandStepStability, LongStepsStayOnTheKinematicSolution) {
    const double l = 1000.0, w = 10.0, a = std::sqrt(0.01) / 0.05, i = 0.05 / 3600.0, tr = 7200.0, m = 5.0 / 3.0;
    const double qe = i * l * w, te = std::pow(l / (a * std::pow(i, m - 1.0)), 1.0 / m);
    auto kinematic = [&](double t) {
        if (t <= tr) return t <= te ? w * a * std::pow(i * t, m) : qe;
        double lo = 0.0, hi = i * l;  // the falling limb by its characteristic
        for (int k = 0; k < 100; ++k) ((l - (lo + hi) / (2 * i)) / (a * m * std::pow((lo + hi) / (2 * a), 0.4)) > t - tr ? lo : hi) = 0.5 * (lo + hi);
        return w * lo;
    };
    for (const char *scheme : {"explicit 30", "ade 20"}) {
        scratch_dir dir;
        dir.write("g.msk", grid_of(1, 100, 10.0, [](int, int) { return one; }));
        dir.write("g.ele", grid_of(1, 100, 10.0, [](int, int k) { return number(20.0 - 0.1 * k); }));
        dir.write("project.prj", project("MANNING_N 0.05\nROWS 1\nCOLS 100\nGRIDSIZE 10.0\nTOT_TIME 240\nMAP_FREQ 60\nMAP_TYPE 3\n"
                                         "OUTROW 1\nOUTCOL 100\nOUTSLOPE 0.01\nRAIN_INTENSITY 50\nRAIN_DURATION 120\n" + scheme_cards(scheme)));
        const auto q = run_outlet(dir);
        ASSERT_GE(q.size(), 240u);
        for (std::size_t k = 1; k < q.size(); ++k) {
            const double t = 60.0 * k, off = std::fabs(q[k] - kinematic(t)) / qe;
            EXPECT_TRUE(std::fabs(t - te) <= 300.0 || off < (t >= 1.5 * te && t < tr ? 0.02 : 0.05)) << scheme << " " << k << " " << off;
        }
    }
}

// 36 mm/h for 1 h on a closed bowl of 21 x 21 cells of 10 m, z = 50 + 0.0002 r^2, beside an outlet island:
// after 10 h the pool is level where its storage holds the rain, and no depth was ever below zero.
TEST(OverlandStepStability, StillPoolLevelsUnderTheAdeSchemes) {
    auto ground = [](int r, int c) { return c <= 21 ? 50.0 + 0.02 * ((c - 11) * (c - 11) + (r - 11) * (r - 11)) : 40.0; };
    double lo = 50.0, hi = 52.0;  // the level pool
    for (double k = 0.0, v = 0.0; k < 100.0; k += 1.0, v = 0.0) {
        for (int j = 0; j < 441; ++j) v += std::max(0.0, 0.5 * (lo + hi) - ground(j / 21 + 1, j % 21 + 1)) * 100.0;
        (v < 441 * 100.0 * 0.036 ? lo : hi) = 0.5 * (lo + hi);
    }
    EXPECT_NEAR(lo, 50.4481, 1e-4);
    for (const char *scheme : {"ade 5", "ade 1", "ade-pc 5", "ade-pc 1"}) {
        scratch_dir dir;
        dir.write("g.msk", grid_of(21, 23, 10.0, [](int r, int c) { return c <= 21 || (r == 21 && c == 23) ? one : "0"; }));
        dir.write("g.ele", grid_of(21, 23, 10.0, [&](int r, int c) { return number(ground(r, c)); }));
        dir.write("project.prj", project("MANNING_N 0.05\nROWS 21\nCOLS 23\nGRIDSIZE 10.0\nTOT_TIME 600\nMAP_FREQ 60\nMAP_TYPE 1\n"
                                         "DEPTH g.dep\nOUTROW 21\nOUTCOL 23\nOUTSLOPE 0.01\nRAIN_INTENSITY 36\nRAIN_DURATION 60\n" +
                                         scheme_cards(scheme)));
        run_outlet(dir);
        std::vector<double> v;  // a block: a value per grid cell twice, the second the depths
        double lowest = 0.0;
        for (const std::string &l : split_lines(dir.read("g.dep")))
            if (l.rfind("TS ", 0) == 0) v.clear();
            else if (!l.empty() && (std::isdigit(static_cast<unsigned char>(l[0])) || l[0] == '-'))
                v.push_back(std::atof(l.c_str())), lowest = std::min(lowest, v.back());
        ASSERT_EQ(v.size(), 966u) << scheme;
        EXPECT_GE(lowest, 0.0) << scheme;
        for (int j = 0; j < 441; ++j)  // a pool cell's water surface, cell j of the bowl
            EXPECT_TRUE(ground(j / 21 + 1, j % 21 + 1) >= lo || std::fabs(ground(j / 21 + 1, j % 21 + 1) + v[483 + j / 21 * 23 + j % 21] - lo) < 0.002) << scheme << " " << j;
    }
}

// The tilted V-catchment: two planes of 800 x 1000 m (slope 0.05 towards the strip between them, 0.02
// along it, n 0.015) beside a strip 20 m wide (n 0.15), 10.8 mm/h for 90 min. The planes reach
// equilibrium, so the peak is the rain on the catchment, i A = 4.86 m3/s, and once the rain stops the
// outflow only falls (the ADE scheme changes its sub-step in the recession; each change used to
// release the outlet cell's water as a spike to 5.06 m3/s).
TEST(OverlandStepStability, VCatchmentPeaksAtTheRainOnItAndRecedesWithoutSpikes) {
    const int rows = 50, cols = 81, strip = 41;
    const double peak = 10.8 / 1000.0 / 3600.0 * rows * cols * 400.0;
    for (const char *scheme : {"explicit 10", "ade 10", "ade-pc 10"}) {
        scratch_dir dir;
        dir.write("g.msk", grid_of(rows, cols, 20.0, [](int, int) { return one; }));
        dir.write("g.ele", grid_of(rows, cols, 20.0, [&](int r, int c) { return number(0.4 * (rows - r + 0.5) + std::abs(c - strip)); }));
        dir.write("g.idx", grid_of(rows, cols, 20.0, [&](int, int c) { return std::string(c == strip ? "2" : "1"); }));
        dir.write("g.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"g.idx\" \"Land\"\nROUGHNESS \"Land\"\nNUM_IDS 2\nID N\n" +
                               row("1", "0.015") + row("2", "0.15"));
        dir.write("project.prj", project("MAPPING_TABLE g.cmt\nROWS 50\nCOLS 81\nGRIDSIZE 20\nTOT_TIME 180\nMAP_FREQ 60\n"
                                         "OUTROW 50\nOUTCOL 41\nOUTSLOPE 0.02\nRAIN_INTENSITY 10.8\nRAIN_DURATION 90\n" + scheme_cards(scheme)));
        const auto q = run_outlet(dir);
        ASSERT_GE(q.size(), 180u) << scheme;
        const double highest = value_after(dir.read("g.sum"), "Event peak discharge (cubic meters per second):");
        EXPECT_NEAR(highest, peak, 0.005 * peak) << scheme;
        for (std::size_t k = 92; k < q.size(); ++k) EXPECT_LE(q[k], q[k - 1] + 1e-4) << scheme << " minute " << k;
    }
}

}  // namespace

// 20 mm/h for 40 min on 20 cells of 50 m, the outlet passing its inflow through: rain = out + held.
TEST(ChannelStepStability, OutletThatPassesItsInflowThroughGivesOffWhatItTookIn) {
    scratch_dir dir;
    for (const char *f : {"g.msk", "g.lnk"}) dir.write(f, grid_of(1, 20, 50.0, [](int, int) { return one; }));
    dir.write("g.nod", grid_of(1, 20, 50.0, [](int, int k) { return std::to_string(k); }));
    dir.write("g.ele", grid_of(1, 20, 50.0, [](int, int k) { return number(110.475 - 0.05 * k); }));
    std::string chn = "KORVA_CHAN\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 1\nMAXNODES 21\nCONNECT 1 0 0\nLINK 1\nNODES 21\nDX 50\n"
                      "MANNINGS_N 0.035\nTRAPEZOID\nNODE 1\nXSEC\nBOTTOM_WIDTH 2\nBANKFULL_DEPTH 1\nSIDE_SLOPE 1\n";
    for (int k = 1; k <= 21; ++k) chn += (k > 1 ? "NODE " + std::to_string(k) + "\n" : "") + "ELEV " + number(110.05 - 0.05 * k) + "\n";
    dir.write("g.chn", chn);
    dir.write("project.prj", project("ROWS 1\nCOLS 20\nGRIDSIZE 50\nTIMESTEP 10\nTOT_TIME 120\nMAP_FREQ 6000\nOUTROW 1\nOUTCOL 20\nOUTSLOPE 0.001\n"
                                     "MANNING_N 0.05\nRAIN_INTENSITY 20\nRAIN_DURATION 40\nCHAN_EXPLIC\nHEAD_BOUND\nLINKS g.lnk\nNODES g.nod\nCHANNEL_INPUT g.chn\n"));
    run_outlet(dir);
    const std::string sum = dir.read("g.sum");
    const double out = value_after(sum, "Total discharge:"), held = value_after(sum, "Final channel volume:");
    EXPECT_GT(out, 300.0);
    EXPECT_NEAR(0.02 * 40.0 / 60.0 * 20.0 * 2500.0, out + held + value_after(sum, "Final surface volume:"), 0.02);
}
