// Tests of the pipe-network step and the tile-drain exchange on networks written
// by hand in the network-file format: inlet capture and surcharge spill, the
// depth and head bounds, full pipes, uniform flow at the Manning normal depth,
// the outlet into the channels with the volume balance of a run, parallel
// superlinks, the output files and their names, the console report, the
// tile-drain inflow, the coupling piece of the time loop and the series files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/output/hydrographs.h"
#include "model/hydrology/hydrology_services.h"
#include "model/input/watershed_mask.h"
#include "model/core/model_state.h"
#include "model/project/run_files.h"
#include "model/pipes/pipe_geometry.h"
#include "model/pipes/superlink_step.h"
#include "support/captured_output.h"
#include "support/run_program.h"

namespace {

// Junction 1 (an inlet of type 5, 1 m2) drains by superlink 1 of two circular
// pipes into junction 2, an outlet into the channels. Positions are grid
// (column, row): junction 1 on (1, 1), node 2 on (2, 1), junction 2 on (3, 1).
const std::string two_pipes =
    "SJUNC 1 105.0 100.0 1.0 5 0.0 0.0 1 1\n"
    "SJUNC 2 104.0 99.8 1.0 999 20.0 0.0 3 1\n"
    "CONNECT 1 1 2\n"
    "SLINK 1 2\n"
    "NODE 1 105.0 100.0 0.0 0 0.0 0.0 1 1\n"
    "NODE 2 104.9 99.9 0.0 0 10.0 0.0 2 1\n"
    "NODE 3 104.0 99.8 0.0 0 20.0 0.0 3 1\n"
    "PIPE 1 1 0.6 0.0 0.001 0.013 100.0 0.0\n"
    "PIPE 2 1 0.6 0.0 0.001 0.013 100.0 0.0\n";

// One connection: cell (2, 1) to node 2 of superlink 1 (cellij is shifted by one).
const std::string one_cell = "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 3 2\nNUMPIPES 1\nSPIPE 1 2 1.0\n";

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// A run state over a 3 x 4 grid of 10 m cells, working in a scratch directory
// with the "slink" and "debug" directories; standard input is /dev/null.
class SuperlinkStep : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        clear_error_state();
        s.grid_rows = 3;
        s.grid_cols = 4;
        alloc_2d_int(s.cell_number_grid, 4, 5);
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 4; ++j) s.cell_number_grid[i][j] = 1;
        s.cell_count = number_mask_cells(s.cell_number_grid, 3, 4);
        s.cell_size = 10.0;
        s.storm_sewer_on = 1;
        old_dir = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        std::filesystem::create_directory("slink");
        std::filesystem::create_directory("debug");
        ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    }
    void TearDown() override {
        s.superlink_work.close_files();
        std::filesystem::current_path(old_dir);
        reset_process_globals();
        clear_error_state();
    }

    // Reads the network and places its junctions and nodes on their own cells.
    void load(const std::string &network, const std::string &cells = one_cell) {
        dir.write("net.txt", network);
        dir.write("gpi.txt", cells);
        std::FILE *n = std::fopen("net.txt", "r");
        std::FILE *g = std::fopen("gpi.txt", "r");
        int result = 1;
        testsupport::printed([&] { result = read_superlink_file(n, g, s); });
        std::fclose(n);
        std::fclose(g);
        ASSERT_EQ(result, 0);
        superlink_network &p = s.superlinks;
        const int J = p.num_junctions, L = p.num_superlinks, M = p.max_slink_pipes;
        alloc_1d_int(s.junction_cell, J);
        alloc_2d_int(s.superlink_node_gnum, M + 1, L);
        alloc_2d_double(s.flow_to_superlink, M + 1, std::max(J, L), "flow_to_superlink");
        for (int j = 1; j <= J; ++j) s.junction_cell[j] = cell(p.junction_row[j], p.junction_col[j]);
        for (int l = 1; l <= L; ++l)
            for (int k = 1; k <= p.link_node_count[l]; ++k)
                s.superlink_node_gnum[k][l] = cell(p.node_row[k][l], p.node_col[k][l]);
        if (p.tile_drain) {
            alloc_2d_double(s.superlink_tile_flow, M + 2, L + 1, "superlink_tile_flow");
            alloc_1d_double(s.tile_cell_flow, s.cell_count);
        }
        for (auto *a : {&s.depth, &s.discharge_x, &s.discharge_y, &s.water_table_elevation})
            alloc_1d_double(*a, s.cell_count);
    }
    int cell(int row, int col) const { return s.cell_number_grid[row][col]; }

    // One step as the coupling piece takes it: cleared inflows, the depth floor,
    // the step and the step count.
    int step(double dt) {
        superlink_network &p = s.superlinks;
        for (int j = 1; j <= p.num_junctions; ++j) p.junc_inflow[j] = 0.0;
        for (int l = 1; l <= p.num_superlinks; ++l)
            for (int k = 1; k <= p.link_node_count[l] + 1; ++k) {
                p.Q_node[k][l] = 0.0;
            }
        int result = 1000;
        out = testsupport::printed([&] { result = superlink_step(s, dt); });
        ++p.superlink_step_count;
        return result;
    }

    testsupport::scratch_dir dir;
    std::filesystem::path old_dir;
    model_state s;
    std::string out;
};

TEST_F(SuperlinkStep, TypeFiveInletTakesFiveNinthsOfItsCellsWater) {
    load(two_pipes);
    const int c = cell(1, 1);
    s.depth[c] = 0.02;
    s.flow_to_superlink[0][1] = 0.5;
    ASSERT_EQ(step(60.0), 0) << out;
    EXPECT_NEAR(s.superlinks.junc_inflow[1], 5.0 / 9.0 * 0.02 * 100.0 / 60.0, 1e-15);
    EXPECT_NEAR(s.depth[c], 4.0 / 9.0 * 0.02, 1e-15);
    EXPECT_NE(out.find("Available Gutter Volume Taken: 55.6%\n "), std::string::npos) << out;
    EXPECT_NE(out.find("Dried Cells: 0  Water Added: 0\n"), std::string::npos) << out;
    // Without flow on the cell the inlet takes nothing.
    s.flow_to_superlink[0][1] = 0.0;
    ASSERT_EQ(step(60.0), 0);
    EXPECT_EQ(s.superlinks.junc_inflow[1], 0.0);
    EXPECT_NEAR(s.depth[c], 4.0 / 9.0 * 0.02, 1e-15);
    EXPECT_NE(out.find("Available Gutter Volume Taken: none available\n"), std::string::npos);
    // In halves around a routing that moves nothing: 1/3 of the 2 cm before it (1 - (4/9)^(1/2)),
    // 1/3 of the rest after it, 5/9 of the cell's water in all, posted to the ledger once.
    s.depth[c] = 0.02;
    s.flow_to_superlink[0][1] = 0.5;
    const double booked = s.water.moved(ledger_node::surface, ledger_node::pipes);
    take_inlet_first_half(s, 60.0);
    EXPECT_NEAR(s.depth[c], 2.0 / 3.0 * 0.02, 1e-15);
    EXPECT_NEAR(pipe_network_water(s) - s.superlinks.slink_volume_end, 0.02 * 100.0 / 3.0, 1e-12);
    ASSERT_EQ(step(60.0), 0) << out;
    EXPECT_NEAR(s.superlinks.junc_inflow[1], 5.0 / 9.0 * 0.02 * 100.0 / 60.0, 1e-15);
    EXPECT_NEAR(s.depth[c], 4.0 / 9.0 * 0.02, 1e-15);
    EXPECT_NEAR(s.water.moved(ledger_node::surface, ledger_node::pipes) - booked, 5.0 / 9.0 * 2.0, 1e-12);
    EXPECT_NE(out.find("Available Gutter Volume Taken: 55.6%\n "), std::string::npos) << out;
}

TEST_F(SuperlinkStep, SurchargedJunctionSpillsOntoItsCell) {
    load(two_pipes);
    ASSERT_EQ(step(60.0), 0);
    // Junction 1 stands 0.3 m above its ground of 105 m; the network holds that water.
    s.superlinks.junc_head[1] = 105.3;
    s.superlink_work.held = 100.0;
    const int c = cell(1, 1);
    ASSERT_EQ(step(60.0), 0) << out;
    EXPECT_NEAR(s.depth[c], 0.3 * 1.0 / 100.0, 1e-12);
    EXPECT_NEAR(s.superlink_work.slink_surcharge_total, 0.3, 1e-12);
    EXPECT_NE(out.find("Water Added: 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Outflow Volume to surcharged inlets:   0.30\n"), std::string::npos) << out;
}

TEST_F(SuperlinkStep, SurchargedNodeSpillsItsAreaTimesTheExcess) {
    load(replaced(two_pipes, "NODE 2 104.9 99.9 0.0 0", "NODE 2 104.9 99.9 2.0 0"));
    ASSERT_EQ(step(60.0), 0);
    s.superlinks.slink_node_depth[2][1] = 5.5;  // 0.5 m above the node's ground
    s.superlink_work.held = 100.0;              // water the network holds
    s.depth[cell(1, 2)] = 0.0;
    ASSERT_EQ(step(60.0), 0) << out;
    EXPECT_NEAR(s.depth[cell(1, 2)], 0.5 * 2.0 / 100.0, 1e-12);
    EXPECT_NEAR(s.superlink_work.slink_surcharge_total, 1.0, 1e-12);
}

TEST(SuperlinkBounds, BackSubstitutedDepthsAndNewHeads) {
    struct depth_case {
        double h, D, expected;
    } depths[] = {
        {-0.5, 0.3, 1e-7},  // negative: a trace of water
        {4.0, 0.3, 1e-7},   // beyond ten diameters: dropped, then a trace
        {-3.5, 0.3, 1e-7},
        {2.9, 0.3, 2.9},    // within ten diameters: kept
        {0.0, 0.3, 1e-7},
        {0.12, 0.3, 0.12},
    };
    for (const depth_case &d : depths) EXPECT_EQ(bounded_node_depth(d.h, d.D), d.expected) << d.h;
    // A surcharged node 2 m under its ground keeps a head up to 10 D above the ground.
    EXPECT_EQ(bounded_node_depth(4.0, 0.3, 2.0), 4.0);
    EXPECT_EQ(bounded_node_depth(5.1, 0.3, 2.0), 1e-7);
    struct head_case {
        double x, invert, expected;
    } heads[] = {
        {99.9995, 100.0, 99.9995},  // 0.0005 below the invert stays
        {99.998, 100.0, 100.0},     // 0.002 below is raised to the invert
        {100.4, 100.0, 100.4},
    };
    for (const head_case &h : heads)
        EXPECT_EQ(bounded_junction_head(h.x, h.invert), h.expected) << h.x;
}

TEST_F(SuperlinkStep, FullPipeTakesItsOwnFullSectionWithASlot) {
    // Circular 0.6 m and a 0.6 m by 2 m rectangle, both running full between two
    // closed junctions whose heads stand 1 m over the inverts.
    const std::string rect =
        replaced(replaced(two_pipes, "PIPE 2 1 0.6 0.0", "PIPE 2 3 0.6 2.0"), "1.0 999", "1.0 0");
    load(rect);
    ASSERT_EQ(step(60.0), 0);
    superlink_network &p = s.superlinks;
    auto fill = [&] {
        for (int k = 1; k <= 3; ++k) p.slink_node_depth[k][1] = 1.0;
        p.junc_head[1] = 101.0;
        p.junc_head[2] = 100.8;
        s.superlink_work.Q[1][1] = s.superlink_work.Q[2][1] = 0.0;
    };
    fill();
    ASSERT_EQ(step(1.0), 0);
    // The depths of the previous step set the sections of this one.
    fill();
    ASSERT_EQ(step(1.0), 0);
    // The flows start from rest under the heads: the step may be cut to follow
    // them, and the pipes stay full throughout.
    const superlink_step_state &w = s.superlink_work;
    EXPECT_NEAR(w.top_width[1][1], 0.006, 1e-15);
    EXPECT_NEAR(w.A[1][1], 3.1415926 * 0.36 * 0.25, 1e-12);
    EXPECT_NEAR(w.wet_per[1][1], 3.1415926 * 0.6, 1e-12);
    EXPECT_NEAR(w.top_width[2][1], 0.006, 1e-15);
    EXPECT_NEAR(w.A[2][1], 1.2, 1e-12);  // D x w, not the circle's area
    EXPECT_NEAR(w.wet_per[2][1], 2.0 * 0.6 + 2.0 * 2.0, 1e-12);
}

TEST_F(SuperlinkStep, FirstStepWithoutInflowCannotCalculateABalance) {
    load(two_pipes);
    ASSERT_EQ(step(60.0), 0);
    EXPECT_NE(out.find("SUPERLINK Mass Balance Report\n"), std::string::npos);
    EXPECT_NE(out.find("Balance: cannot calculate, no water input.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Available Gutter Volume Taken: none available\n"), std::string::npos);
    EXPECT_NE(out.find("Total tile flow taken:     0.00\n"), std::string::npos) << out;
    // Still water of 0.1 mm in both pipes, the junction empty.
    double start = 0.0, A = 0.0, P = 0.0, T = 0.0;
    superlink_pipe_geometry(1, 0.6, 0.0001, 0.0, A, P, T);
    start = 2.0 * A * 100.0;
    EXPECT_NEAR(s.superlinks.slink_volume_start, start, 1e-15);
}

// A network file of one superlink of `pipes` equal circular pipes (diameter D,
// Manning n, bed slope S0, length dx) from junction 1 (an inlet of type 9 of
// 1 m2 on cell (1, 1)) to junction 2, an outlet of the given kind.
std::string uniform_pipe(int pipes, double D, double n, double S0, double dx, int outlet) {
    std::string t;
    char line[200];
    const double top = 100.0, bottom = top - S0 * dx * pipes;
    std::snprintf(line, sizeof line, "SJUNC 1 %.6f %.6f 1.0 9 0.0 0.0 1 1\n", top + 10.0, top);
    t += line;
    std::snprintf(line, sizeof line, "SJUNC 2 %.6f %.6f 1.0 %d 0.0 0.0 3 1\n", bottom + 10.0,
                  bottom, outlet);
    t += line;
    t += "CONNECT 1 1 2\n";
    std::snprintf(line, sizeof line, "SLINK 1 %d\n", pipes);
    t += line;
    for (int k = 1; k <= pipes + 1; ++k) {
        const double z = top - S0 * dx * (k - 1);
        std::snprintf(line, sizeof line, "NODE %d %.6f %.6f 0.0 0 0.0 0.0 2 1\n", k, z + 10.0, z);
        t += line;
    }
    for (int k = 1; k <= pipes; ++k) {
        std::snprintf(line, sizeof line, "PIPE %d 1 %.6f 0.0 %.6f %.6f %.6f 0.0\n", k, D, S0, n, dx);
        t += line;
    }
    return t;
}

// Area and wetted perimeter of a circle of diameter D at depth y below D.
void circle(double D, double y, double &A, double &P) {
    const double r = 0.5 * D, theta = std::acos((r - y) / r);
    A = r * r * theta - r * (r - y) * std::sin(theta);
    P = theta * D;
}

// Depth of steady uniform flow Q in pipes of length L whose momentum balance is
// friction plus the loss term Q^2 / A against gravity: by bisection.
double steady_depth(double Q, double D, double n, double S0, double L) {
    double lo = 1e-4, hi = 0.999 * D;
    for (int i = 0; i < 200; ++i) {
        const double y = 0.5 * (lo + hi);
        double A = 0.0, P = 0.0;
        circle(D, y, A, P);
        const double R = A / P;
        const double excess = 9.81 * n * n * Q * Q * L / (A * std::pow(R, 4.0 / 3.0)) +
                              Q * Q / A - 9.81 * A * S0 * L;
        (excess > 0.0 ? lo : hi) = y;
    }
    return 0.5 * (lo + hi);
}

TEST_F(SuperlinkStep, LongUniformPipeSettlesAtItsSteadyUniformDepth) {
    // Manning alone: 0.3 m3/s in a 1 m pipe, n = 0.013, S0 = 0.001 runs 0.437 m
    // deep. The momentum equation of every pipe also carries the loss term
    // |Q| A / (Cl^2 Ac^2) with Cl = 1 and Ac = A, one velocity head over g per
    // pipe: in pipes of 100 m it weighs as much as their friction and the steady
    // flow runs deeper, at the root of friction + loss = gravity.
    double yn = 0.0;
    ASSERT_EQ(superlink_norm_calc(1, 1.0, 0.0, 0.013, 0.3, 0.001, yn), 0);
    ASSERT_NEAR(yn, 0.437, 0.0005);
    const double depth = steady_depth(0.3, 1.0, 0.013, 0.001, 100.0);
    ASSERT_NEAR(depth, 0.535, 0.001);
    load(uniform_pipe(20, 1.0, 0.013, 0.001, 100.0, 999));
    superlink_network &p = s.superlinks;
    const int c = cell(1, 1);
    const double dt = 30.0;
    double in_before = 0.0, out_before = 0.0, end_before = 0.0;
    for (int n = 0; n < 600; ++n) {
        // 0.3 m3/s, reached over the first 100 steps.
        s.depth[c] = 0.3 * std::min(1.0, (n + 1) / 100.0) * dt / 100.0;
        s.flow_to_superlink[0][1] = 1.0;
        if (n == 550) {
            in_before = p.slink_volume_in;
            out_before = p.slink_volume_out;
            end_before = p.slink_volume_end;
        }
        ASSERT_EQ(step(dt), 0) << n << out;
    }
    // Away from the ends (the outfall draws the last nodes down).
    for (int k = 3; k <= 16; ++k) EXPECT_NEAR(p.slink_node_depth[k][1], depth, 0.02 * depth) << k;
    const superlink_step_state &w = s.superlink_work;
    EXPECT_NEAR(w.Q_us[1], 0.3, 1e-6);
    EXPECT_NEAR(w.Q_ds[1], 0.3, 1e-6);
    EXPECT_NEAR(w.Q[10][1], 0.3, 1e-6);
    // Steady: what came in over the last 50 steps went out; the store is unchanged.
    const double in = p.slink_volume_in - in_before, out_v = p.slink_volume_out - out_before;
    EXPECT_NEAR(in, 0.3 * dt * 50, 1e-9);
    EXPECT_NEAR(out_v, in, 1e-6 * in);
    EXPECT_NEAR(p.slink_volume_end, end_before, 1e-6 * end_before);
}

TEST_F(SuperlinkStep, OutletIntoTheChannelsKeepsItsInvertAndHandsOnItsFlow) {
    load(two_pipes);
    superlink_network &p = s.superlinks;
    alloc_1d_double(s.chan.outlet_flow, 2);
    const int c = cell(1, 1);
    const double dt = 10.0;
    double out_volume = 0.0;
    for (int n = 0; n < 2400; ++n) {
        // 100 minutes of a steady 0.01 m3/s into the inlet, then none.
        s.depth[c] = n < 600 ? 0.01 * dt / inlet_capture_volume(5, 1.0, 10.0, dt) : 0.0;
        s.flow_to_superlink[0][1] = s.depth[c] > 0.0 ? 1.0 : 0.0;
        const double h0 = p.junc_head[1];
        ASSERT_EQ(step(dt), 0) << out;
        const superlink_step_state &w = s.superlink_work;
        EXPECT_EQ(p.junc_head[2], 99.8);
        EXPECT_NEAR(p.junc_outflow[2], std::max(w.step_ds_flow[1], 0.0), 1e-15);
        EXPECT_EQ(s.chan.outlet_flow[2], p.junc_outflow[2]);
        EXPECT_EQ(w.Q[1][1], w.Q_us[1]);
        EXPECT_EQ(w.Q[2][1], w.Q_ds[1]);
        // Junction 1 keeps what it takes less what leaves into node 1 in the step.
        if (n > 0 && p.junc_head[1] > p.junc_Zinv[1]) {
            EXPECT_NEAR(p.junc_head[1] - h0, (p.junc_inflow[1] - w.step_us_flow[1]) * dt, 0.01) << n;
        }
        // The network's water: its start, what it took and its bounds placed, less
        // what it handed on, and what its scheme made (no more than 0.1 % of the step's water).
        const double bounds = s.water.net(ledger_node::pipe_depth_bounds, ledger_node::pipes);
        EXPECT_NEAR(p.slink_volume_end, p.slink_volume_start + p.slink_volume_in + bounds - p.slink_volume_out + w.scheme_made, 1e-9) << n;
        out_volume += p.junc_outflow[2] * dt;
    }
    EXPECT_NEAR(p.slink_volume_out, out_volume, 1e-12);
    EXPECT_NEAR(p.slink_volume_in, 0.01 * dt * 600, 1e-9);
    // Drained, the depth floor of 0.1 mm adds no water: the sections take it, not
    // the depths; what the bounds add is booked.
    const double in = p.slink_volume_in;
    EXPECT_LE(s.water.net(ledger_node::pipe_depth_bounds, ledger_node::pipes), 1e-6 * in);
    EXPECT_LE(std::fabs(s.superlink_work.scheme_made), 1e-3 * in);
    EXPECT_LT(p.slink_volume_end, 0.001 * in);
}

TEST_F(SuperlinkStep, ParallelSuperlinksAddTheirEntries) {
    // Two equal superlinks from junction 1 (2 m2) to the outlet behave as one
    // from a junction of 1 m2 that takes half the water.
    const std::string one =
        replaced(two_pipes, "SJUNC 1 105.0 100.0 1.0 5", "SJUNC 1 105.0 100.0 1.0 9");
    std::string both = replaced(one, "SJUNC 1 105.0 100.0 1.0 9", "SJUNC 1 105.0 100.0 2.0 9");
    both = replaced(both, "CONNECT 1 1 2\n", "CONNECT 1 1 2\nCONNECT 2 1 2\n");
    const std::size_t block = both.find("SLINK 1 2\n");
    std::string second = both.substr(block);
    second.replace(0, 9, "SLINK 2 2");
    both += second;
    struct run {
        std::vector<double> head, flow;
    } runs[2];
    for (int r = 0; r < 2; ++r) {
        s.superlinks = superlink_network{};
        load(r == 0 ? one : both);
        ASSERT_EQ(s.superlinks.num_superlinks, r + 1);
        for (int n = 0; n < 200; ++n) {
            s.depth[cell(1, 1)] = (r + 1) * 0.01 * 10.0 / 100.0;  // 0.01 m3/s per superlink
            s.flow_to_superlink[0][1] = 1.0;
            ASSERT_EQ(step(10.0), 0);
            runs[r].head.push_back(s.superlinks.junc_head[1]);
            runs[r].flow.push_back(s.superlink_work.Q_us[1]);
        }
        if (r == 1) {
            EXPECT_EQ(s.superlink_work.Q_ds[1], s.superlink_work.Q_ds[2]);
        }
        s.superlink_work.close_files();
    }
    for (std::size_t n = 0; n < runs[0].head.size(); ++n) {
        EXPECT_NEAR(runs[1].head[n], runs[0].head[n], 1e-9) << n;
        EXPECT_NEAR(runs[1].flow[n], runs[0].flow[n], 1e-9) << n;
    }
    EXPECT_GT(runs[0].head.back(), 100.01);  // the junction holds water
}

TEST_F(SuperlinkStep, OnePipeSuperlinkCarriesItsDownstreamFlow) {
    const std::string one_pipe =
        "SJUNC 1 105.0 100.0 1.0 9 0.0 0.0 1 1\n"
        "SJUNC 2 104.0 99.9 1.0 999 20.0 0.0 3 1\n"
        "CONNECT 1 1 2\n"
        "SLINK 1 1\n"
        "NODE 1 105.0 100.0 0.0 0 0.0 0.0 1 1\n"
        "NODE 2 104.0 99.9 0.0 0 20.0 0.0 3 1\n"
        "PIPE 1 1 0.6 0.0 0.001 0.013 100.0 0.0\n";
    load(one_pipe, "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 2 2\nNUMPIPES 1\nSPIPE 1 1 1.0\n");
    superlink_network &p = s.superlinks;
    const superlink_step_state &w = s.superlink_work;
    bool differ = false;
    for (int n = 0; n < 40; ++n) {
        s.depth[cell(1, 1)] = 0.005;
        s.flow_to_superlink[0][1] = 1.0;
        const double q_us = n > 0 ? w.Q_us[1] : 0.0;
        ASSERT_EQ(step(10.0), 0);
        // The upstream end of an inflowing superlink stands at its junction's level.
        if (q_us >= 0.0) {
            EXPECT_EQ(w.us_mu[1], 1.0);
            EXPECT_EQ(w.us_gam[1], 0.0);
            EXPECT_NEAR(p.slink_node_depth[1][1], p.junc_head[1] - 100.0, 1e-12);
        }
        // Both recurrences keep the end nodes' water: the pipe has one flow.
        EXPECT_NEAR(w.Q_us[1], w.Q_ds[1], 1e-12);
        EXPECT_EQ(w.Q[1][1], w.Q_ds[1]);
        differ = differ || w.us_junction_flow[1] - w.ds_junction_flow[1] > 1e-6;
    }
    EXPECT_TRUE(differ);  // the filling end nodes take more than they pass on
}

TEST_F(SuperlinkStep, FirstStepCreatesTheEightFiles) {
    load(two_pipes);
    ASSERT_EQ(step(60.0), 0);
    s.superlink_work.close_files();
    for (const char *name : {"slink/head.out", "slink/flow.print", "slink/head.print",
                             "debug/matrix.out", "debug/debug3.out", "debug/mass.out"})
        EXPECT_EQ(dir.read(name), "") << name;
    EXPECT_EQ(dir.read("debug/debug.out"),
              "      us_gam  us_mu   us_kap  ds_gam   ds_mu  ds_kap  us_alpha us_beta us_chi "
              "ds_alpha ds_beta  ds_chi Dstar\n");
    EXPECT_EQ(dir.read("debug/debug2.out"), "  U      V       W        X       Y       Z\n");
}

TEST_F(SuperlinkStep, CalibrationRunsPutThePrefixOnTheBaseName) {
    load(two_pipes);
    file_prefix_on = 1;
    file_prefix_number = 0;
    ASSERT_EQ(step(60.0), 0);
    EXPECT_TRUE(dir.exists("slink/0_head.out"));
    EXPECT_TRUE(dir.exists("debug/0_mass.out"));
    EXPECT_FALSE(dir.exists("slink/head.out"));
    // The files close with the run's other files.
    close_run_files(s);
    for (std::FILE *f : s.superlink_work.files) EXPECT_EQ(f, nullptr);
}

TEST_F(SuperlinkStep, MissingDebugDirectoryStopsTheFirstStep) {
    load(two_pipes);
    std::filesystem::remove_all("debug");
    ASSERT_EQ(step(60.0), -9);
    EXPECT_EQ(out.substr(0, 38), "Can't open matrix file 'matrix.out'\n\n");
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(out.find("SUPERLINK"), std::string::npos);
}

TEST_F(SuperlinkStep, ArchSectionStopsTheStep) {
    load(replaced(two_pipes, "PIPE 1 1 0.6 0.0", "PIPE 1 2 0.6 0.8"));
    ASSERT_EQ(step(60.0), -1);
    EXPECT_NE(out.find("arch culverts not yet supported in subroutine superlink_norm_calc() \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(error_record.fatal, 1);
}

// Superlink 1 of the two pipes with tile drains of conductivity 2 in pipe 2;
// the grid-pipe cells name node 2 (pipe 2: D 0.6 m, 100 m) from cell (2, 1)
// twice and from cell (3, 1) once.
const std::string tile_cells =
    "GRIDPIPEFILE\nPIPECELLS 2\n"
    "CELLIJ 3 2\nNUMPIPES 2\nSPIPE 1 2 0.25\nSPIPE 1 2 0.5\n"
    "CELLIJ 4 2\nNUMPIPES 1\nSPIPE 1 2 1.0\n";

TEST_F(SuperlinkStep, TileDrainsTakeWaterWhereTheTableStandsAboveThePipe) {
    load(replaced(two_pipes, "PIPE 2 1 0.6 0.0 0.001 0.013 100.0 0.0",
                  "PIPE 2 1 0.6 0.0 0.001 0.013 100.0 2.0"),
         tile_cells);
    superlink_network &p = s.superlinks;
    ASSERT_EQ(p.tile_drain, 1);
    p.slink_node_depth[2][1] = 0.1;  // water surface 100.0
    const int a = cell(1, 2), b = cell(1, 3);
    const double per_metre = 0.6 * 3.14159 * 2.0 / 1000.0;
    struct tile_case {
        double table_a, table_b;
        int result;
        double flow_a, flow_b;
    } cases[] = {
        {100.00005, 100.00005, 1, 0.0, 0.0},            // too little head
        {100.0002, 99.0, 1, 0.75 * 0.0002 * per_metre * 100.0, 0.0},  // both connections of a
        {99.5, 100.5, 1, 0.0, 0.5 * per_metre * 100.0},  // nothing leaves the pipe at a
        {100.0, 100.0, 0, 0.0, 0.0},                      // level everywhere: no exchange
    };
    for (const tile_case &t : cases) {
        s.water_table_elevation[a] = t.table_a;
        s.water_table_elevation[b] = t.table_b;
        s.tile_cell_flow[a] = s.tile_cell_flow[b] = 0.0;
        s.superlink_tile_flow[2][1] = 0.0;
        p.junc_inflow[1] = 1.0;
        p.Q_node[2][1] = 1.0;
        EXPECT_EQ(pipe_exchange(s), t.result) << t.table_a;
        EXPECT_EQ(p.junc_inflow[1], 0.0);
        EXPECT_EQ(p.Q_node[2][1], 0.0);
        EXPECT_NEAR(s.tile_cell_flow[a], t.flow_a, 1e-13) << t.table_a;
        EXPECT_NEAR(s.tile_cell_flow[b], t.flow_b, 1e-13) << t.table_a;
        EXPECT_NEAR(s.superlink_tile_flow[2][1], t.flow_a + t.flow_b, 1e-13) << t.table_a;
    }
    // No grid-pipe cells: nothing but the cleared inflows.
    p.gpi_cell_count = 0;
    s.superlink_tile_flow[2][1] = 7.0;
    EXPECT_EQ(pipe_exchange(s), 0);
    EXPECT_EQ(s.superlink_tile_flow[2][1], 7.0);
}

TEST_F(SuperlinkStep, CouplingPieceFeedsInletsSchedulesAndBooksTileVolumes) {
    load(replaced(two_pipes, "PIPE 2 1 0.6 0.0 0.001 0.013 100.0 0.0",
                  "PIPE 2 1 0.6 0.0 0.001 0.013 100.0 2.0"),
         tile_cells);
    superlink_network &p = s.superlinks;
    s.time_tolerance_days = 1e-6;
    s.pipe_clock = {0.0, 60.0 / 86400.0, 60.0 / 86400.0};
    s.now_days = 60.0 / 86400.0 + 1e-8;  // within the tolerance of the scheduled time
    s.discharge_x[cell(1, 1)] = 0.3;
    s.discharge_y[cell(1, 1)] = -0.4;
    s.depth[cell(1, 1)] = 0.01;
    const int a = cell(1, 2);
    s.water_table_elevation[a] = 100.5;
    out = testsupport::printed([&] { step_superlink_coupling(s); });
    ASSERT_EQ(error_record.fatal, 0) << out;
    EXPECT_NEAR(s.flow_to_superlink[0][1], 0.5, 1e-15);
    // A step of a minute (and 1 ms) takes 5/9 of the cell's water.
    EXPECT_NEAR(s.depth[cell(1, 1)], 4.0 / 9.0 * 0.01, 1e-7);
    EXPECT_EQ(p.superlink_step_count, 1);
    EXPECT_EQ(s.pipe_clock.last, s.now_days);
    EXPECT_EQ(s.pipe_clock.next, s.now_days + 60.0 / 86400.0);
    // The exchange for the next step: a rate, taken at that step.
    const double dh = 100.5 - (p.slink_node_Zinv[2][1] + p.slink_node_depth[2][1]);
    const double rate = 0.75 * dh * 0.6 * 3.14159 * 2.0 / 1000.0 * 100.0;
    EXPECT_EQ(p.exchange_flag, 1);
    EXPECT_NEAR(s.superlink_tile_flow[2][1], rate, 1e-15);
    EXPECT_EQ(s.tile_cell_flow[a], 0.0);
    EXPECT_EQ(s.water.moved(ledger_node::aquifer, ledger_node::pipes), 0.0);
    // Not due: nothing happens.
    s.now_days += 30.0 / 86400.0;
    out = testsupport::printed([&] { step_superlink_coupling(s); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(p.superlink_step_count, 1);
    // The tile inflow enters node 2 at the next step.
    s.now_days = 120.0 / 86400.0;
    out = testsupport::printed([&] { step_superlink_coupling(s); });
    // ... when an aquifer gives it: without the groundwater model none.
    EXPECT_EQ(s.superlink_work.slink_tile_total, 0.0);
    EXPECT_NE(out.find("Total tile flow taken:"), std::string::npos);
}

TEST_F(SuperlinkStep, SeriesFilesTakeNodeHeadsTileFlowsAndPipeFlows) {
    load(two_pipes);
    s.depth[cell(1, 1)] = 0.02;
    s.flow_to_superlink[0][1] = 1.0;
    ASSERT_EQ(step(60.0), 0);
    s.pipe_head_file = std::fopen("head.txt", "w");
    s.pipe_flow_file = std::fopen("flow.txt", "w");
    write_pipe_series_step(s);
    write_pipe_series_step(s);
    std::fclose(s.pipe_head_file);
    std::fclose(s.pipe_flow_file);
    s.pipe_head_file = s.pipe_flow_file = nullptr;
    const superlink_network &p = s.superlinks;
    char line[512];
    std::snprintf(line, sizeof line, "3   1  %6.5lf   1  %6.5lf   1  %6.5lf   \n",
                  100.0 + p.slink_node_depth[1][1], 99.9 + p.slink_node_depth[2][1],
                  99.8 + p.slink_node_depth[3][1]);
    EXPECT_EQ(dir.read("head.txt"), std::string("TS    0\n") + line + "TS    1\n" + line);
    std::snprintf(line, sizeof line, "2   1  %6.5lf   1  %6.5lf   \n", s.superlink_work.Q[1][1],
                  s.superlink_work.Q[2][1]);
    EXPECT_EQ(dir.read("flow.txt"), std::string("TS    0\n") + line + "TS    1\n" + line);
}

TEST_F(SuperlinkStep, PipeClockStaysDueThroughALongRunInJulianDays) {
    load(two_pipes);
    const double day = 5.0 / 86400.0, start = 2459408.0;
    s.time_tolerance_days = 1.1574074074074074e-07;  // 0.01 s
    s.pipe_clock = {start, start + day, day};
    for (int n = 1; n <= 3000; ++n) {
        s.now_days = n * day + start;
        out = testsupport::printed([&] { step_superlink_coupling(s); });
        ASSERT_EQ(s.superlinks.superlink_step_count, n) << n;
    }
}

}  // namespace

class FillingLine : public SuperlinkStep, public ::testing::WithParamInterface<int> {};

TEST_P(FillingLine, KeepsItsWaterForEveryPipeCount) {
    // 0.3 m3/s, reached over 100 steps of 30 s, into 2000 m of 1 m pipe cut into N pipes.
    const int N = GetParam();
    load(uniform_pipe(N, 1.0, 0.013, 0.001, 2000.0 / N, 999));
    superlink_network &p = s.superlinks;
    alloc_1d_double(s.chan.outlet_flow, 2);
    double to_channel = 0.0, in = 0.0, error = 0.0;
    for (int n = 0; n < 600; ++n) {
        s.depth[cell(1, 1)] = 0.3 * std::min(1.0, (n + 1) / 100.0) * 30.0 / 100.0;
        s.flow_to_superlink[0][1] = 1.0;
        ASSERT_EQ(step(30.0), 0) << n << out;
        to_channel += s.chan.outlet_flow[2] * 30.0;
        // In: the inlet and the depth bounds; the rest is the scheme's own error.
        in = p.slink_volume_in + s.water.net(ledger_node::pipe_depth_bounds, ledger_node::pipes);
        const double e = p.slink_volume_end - (p.slink_volume_start + in - p.slink_volume_out);
        EXPECT_NEAR(e, s.superlink_work.scheme_made, 1e-9 * in) << n;
        // Per step within 0.1 % of the water it moved: taken, handed on and stored.
        EXPECT_LE(std::fabs(e - error), 1e-3 * 3.0 * 0.3 * 30.0) << n;
        error = e;
    }
    EXPECT_NEAR(p.slink_volume_in, 0.3 * 30.0 * 550.5, 1e-9 * in);
    EXPECT_LE(std::fabs(error), 1e-3 * in);
    EXPECT_NEAR(to_channel, p.slink_volume_out, 1e-9 * in);
    EXPECT_LE(s.water.net(ledger_node::pipe_depth_bounds, ledger_node::pipes), 1e-4 * in);
}

INSTANTIATE_TEST_SUITE_P(PipeCounts, FillingLine, ::testing::Values(1, 2, 5, 50));
