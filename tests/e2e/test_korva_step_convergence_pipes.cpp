// Step convergence of the pipe network: a looped storm sewer under the 10 x 7 valley of
// 20 m cells (40 mm/h for 30 min): junctions 1 and 2 take water (inlet type 5), 3 and 4
// (type 3), outlet 5 puts it onto its cell (888); six superlinks of two 0.3 m pipes, two
// of them flat, make two loops. Run at TIMESTEP 60, 20 and 5 s: at 60 and 20 s the water
// the inlets take, the network's outflow and the outlet volume lie within 3 % of the
// 5 s run's, every hydrograph line within 3 % of its peak at 20 s and 5 % at 60 s; at
// every step the network's own continuity error and the water its bounds add stay
// within 0.5 % of what it took, its printed end volume is the water its report holds,
// and the global balance closes by hand; the 60 s run cuts its steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "project_text.h"
#include "support/run_program.h"

namespace {

using project_text::value_after;

const char *const network = R"(SJUNC 1 14.400 12.300 1.0 5 30.0 170.0 2 2
SJUNC 2 14.400 12.300 1.0 5 110.0 170.0 6 2
SJUNC 3 12.800 10.700 1.0 3 30.0 90.0 2 6
SJUNC 4 12.800 10.700 1.0 3 110.0 90.0 6 6
SJUNC 5 10.400 8.300 1.0 888 70.0 30.0 4 9
CONNECT 1 1 3
CONNECT 2 2 4
CONNECT 3 1 2
CONNECT 4 3 4
CONNECT 5 3 5
CONNECT 6 4 5
)";

// Superlink l: its three nodes (ground, invert, x, y, column, row) and its pipes' slope and length.
struct node { double ground, invert, x, y; int col, row; };
struct superlink { node n[3]; double slope, length; };
const superlink superlinks[] = {
    {{{14.4, 12.3, 30, 170, 2, 2}, {13.6, 11.5, 30, 130, 2, 4}, {12.8, 10.7, 30, 90, 2, 6}}, 0.02, 40.0},
    {{{14.4, 12.3, 110, 170, 6, 2}, {13.6, 11.5, 110, 130, 6, 4}, {12.8, 10.7, 110, 90, 6, 6}}, 0.02, 40.0},
    {{{14.4, 12.3, 30, 170, 2, 2}, {13.2, 12.3, 70, 170, 4, 2}, {14.4, 12.3, 110, 170, 6, 2}}, 0.0, 40.0},
    {{{12.8, 10.7, 30, 90, 2, 6}, {11.6, 10.7, 70, 90, 4, 6}, {12.8, 10.7, 110, 90, 6, 6}}, 0.0, 40.0},
    {{{12.8, 10.7, 30, 90, 2, 6}, {11.4, 9.5, 50, 60, 3, 8}, {10.4, 8.3, 70, 30, 4, 9}}, 0.03328, 36.06},
    {{{12.8, 10.7, 110, 90, 6, 6}, {11.4, 9.5, 90, 60, 5, 8}, {10.4, 8.3, 70, 30, 4, 9}}, 0.03328, 36.06},
};

struct run_result { std::string out, summary, hydrograph; };

run_result run(int step) {
    testsupport::scratch_dir d;
    d.write("mask.asc", project_text::grid_of(10, 7, 20.0, [](int, int) { return std::string("1"); }));
    d.write("elev.asc", project_text::grid_of(10, 7, 20.0, [](int r, int c) {
                return project_text::number(13.6 - 0.4 * (r - 1) + 0.6 * std::abs(c - 4));
            }));
    std::ostringstream net;
    net << network;
    for (int l = 1; l <= 6; ++l) {
        const superlink &s = superlinks[l - 1];
        net << "SLINK " << l << " 2\n";
        for (int k = 0; k < 3; ++k)
            net << "NODE " << k + 1 << ' ' << s.n[k].ground << ' ' << s.n[k].invert << " 0.5 " << (k == 1 ? 2 : 0) << ' '
                << s.n[k].x << ' ' << s.n[k].y << ' ' << s.n[k].col << ' ' << s.n[k].row << '\n';
        for (int k = 1; k <= 2; ++k) net << "PIPE " << k << " 1 0.3 0.0 " << s.slope << " 0.013 " << s.length << " 0.0\n";
    }
    d.write("pipes.net", net.str());
    d.write("pipes.gpi", "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 3 6\nNUMPIPES 1\nSPIPE 1 2 1.0\n");
    for (const char *dir : {"slink", "debug"}) std::filesystem::create_directory(d.path() / dir);
    d.write("run.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\nSUMMARY run.sum\n"
                       "OUTLET_HYDRO run.otl\nROWS 10\nCOLS 7\nGRIDSIZE 20\nTIMESTEP " + std::to_string(step) +
                       "\nHYD_FREQ 1\nMAP_FREQ 15\nOUTROW 10\nOUTCOL 4\nOUTSLOPE 0.02\nOVERTYPE explicit\nQUIET\n"
                       "START_DATE 2021 7 12\nSTART_TIME 14 0\nTOT_TIME 120\nPRECIP_UNIF\nRAIN_INTENSITY 40\n"
                       "RAIN_DURATION 30\nSTORM_SEWER pipes.net\nGRID_PIPE pipes.gpi\n");
    const auto r = d.run(KORVA_EXE, {"run.prj"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    run_result out{r.out, d.read("run.sum"), d.read("run.otl")};
    // The valley by hand: rain = discharge + the surface and the pipes at the end, less
    // the water the bounds added and what the scheme made.
    const std::string &s = out.summary;
    const double rest = value_after(s, "Total precipitation:") + value_after(s, "Water added by the pipe depth bounds:") +
                        value_after(s, "Pipe water the scheme made (lost if negative):") -
                        value_after(s, "Total discharge:") - value_after(s, "Final surface volume:") -
                        value_after(s, "Final pipe network volume:");
    EXPECT_NEAR(rest, 0.0, 0.03) << step << " s\n" << s;
    EXPECT_NEAR(value_after(s, "Final pipe network volume:"), value_after(r.out, "Volume End:", r.out.rfind("Volume End:")),
                0.01);
    return out;
}

TEST(KorvaStepConvergence, PipeNetworkConvergesInItsTimeStep) {
    const run_result r60 = run(60), r20 = run(20), r5 = run(5);
    const double taken = value_after(r5.summary, "Taken by pipe inlets:");
    ASSERT_GT(taken, 150.0);  // a third of the rain
    for (const run_result *r : {&r60, &r20})
        for (const char *line : {"Taken by pipe inlets:", "Spilled from pipes onto the land:", "Total discharge:"})
            EXPECT_NEAR(value_after(r->summary, line), value_after(r5.summary, line), 0.03 * value_after(r5.summary, line))
                << line << (r == &r60 ? " at 60 s" : " at 20 s");
    auto lines = [](const std::string &hydrograph) {
        std::istringstream in(hydrograph);
        std::vector<double> q;
        for (double t, v; in >> t >> v;) q.push_back(v);
        return q;
    };
    const std::vector<double> q60 = lines(r60.hydrograph), q20 = lines(r20.hydrograph), q5 = lines(r5.hydrograph);
    ASSERT_EQ(q20.size(), q5.size());
    ASSERT_EQ(q60.size(), q5.size());
    const double peak = *std::max_element(q5.begin(), q5.end());
    // At 60 s the network's outflow no longer swings from step to step (it did by 14 %
    // of the peak); what is left is the overland lead of the same valley without pipes.
    for (std::size_t k = 0; k < q5.size(); ++k) {
        EXPECT_NEAR(q20[k], q5[k], 0.03 * peak) << "line " << k + 1;
        EXPECT_NEAR(q60[k], q5[k], 0.05 * peak) << "line " << k + 1;
    }
    for (const run_result *r : {&r60, &r20, &r5}) {
        EXPECT_LE(std::fabs(value_after(r->summary, "Pipe water the scheme made (lost if negative):")), 0.005 * taken);
        EXPECT_LE(std::fabs(value_after(r->summary, "Water added by the pipe depth bounds:")), 0.005 * taken);
    }
    // The 60 s step is cut where its solution would not keep its water, and says so.
    EXPECT_EQ(r60.summary.find("Pipe network steps cut: 0 of"), std::string::npos);
    EXPECT_NE(r60.summary.find("Pipe network steps cut:"), std::string::npos);
}

}  // namespace
