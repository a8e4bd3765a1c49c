// Tests of the sparse junction system against the dense solver: random
// dendritic and looped networks with the junction system's pattern, a pivot too
// small to take (left to the dense solver) and a singular row.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <vector>

#include "model/pipes/junction_solver.h"
#include "model/pipes/junction_sparse.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/pipes/pipe_tree.h"
#include "support/run_program.h"
#include "support/captured_output.h"

namespace {

struct network {
    int n;
    std::vector<int> us, ds;  // 1-based links
};

// A tree of n junctions (each joined to an earlier one), plus `loops` extra links.
network random_network(std::mt19937 &rng, int n, int loops) {
    network net{n, {0}, {0}};
    for (int j = 2; j <= n; ++j) {
        net.us.push_back(j);
        net.ds.push_back(std::uniform_int_distribution<int>(std::max(1, j - 5), j - 1)(rng));
    }
    for (int e = 0; e < loops; ++e) {
        net.us.push_back(std::uniform_int_distribution<int>(1, n)(rng));
        net.ds.push_back(std::uniform_int_distribution<int>(1, n)(rng));
    }
    return net;
}

TEST(JunctionSparse, SolvesAsTheDenseSolverOnRandomNetworks) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (const auto &[n, loops] : {std::pair{1, 0}, {2, 0}, {12, 0}, {60, 0}, {60, 8}, {150, 20}}) {
        const network net = random_network(rng, n, loops);
        const int links = static_cast<int>(net.us.size()) - 1;
        junction_sparse m;
        lay_junction_pattern(m, n, net.us.data(), net.ds.data(), links);
        junction_solver dense;
        ASSERT_EQ(make_junction_solver(dense, n), 0);
        clear_junction_system(m);
        // Entries as the step's assembly makes them: a storage diagonal, and the
        // two ends of every link joined both ways (parallel links add).
        for (int j = 1; j <= n; ++j) {
            const double d = 2.0 + u(rng);
            add_junction_entry(m, j, j, d);
            dense.a[j][j] += d;
            m.rhs[j] = dense.b[j] = u(rng);
        }
        for (int l = 1; l <= links; ++l) {
            const int a = net.us[l], b = net.ds[l];
            if (a == b) continue;
            for (const auto &[r, c] : {std::pair{a, b}, {b, a}}) {
                const double v = 0.8 * u(rng), w = 0.8 + 0.2 * u(rng);
                add_junction_entry(m, r, c, v);
                add_junction_entry(m, r, r, w);
                dense.a[r][c] += v;
                dense.a[r][r] += w;
            }
        }
        for (int i = 1; i <= n; ++i)
            for (int j = 1; j <= n; ++j) ASSERT_EQ(junction_entry(m, i, j), dense.a[i][j]);
        ASSERT_EQ(solve_junction_sparse(m), 0) << n;
        ASSERT_EQ(ludcmp(dense, n), 0);
        ludcmp_solve(dense, n);
        for (int j = 1; j <= n; ++j)
            EXPECT_NEAR(m.rhs[j], dense.b[j], 1e-12 * (1.0 + std::fabs(dense.b[j]))) << n << " " << j;
    }
}

TEST(JunctionSparse, LeavesASmallPivotToTheDenseSolverAndRefusesAnEmptyRow) {
    const int us[] = {0, 1}, ds[] = {0, 2};
    junction_sparse m;
    lay_junction_pattern(m, 2, us, ds, 1);
    clear_junction_system(m);
    add_junction_entry(m, 1, 1, 1e-6);  // [[1e-6, 1], [1, 1]]: row exchange needed
    add_junction_entry(m, 1, 2, 1.0);
    add_junction_entry(m, 2, 1, 1.0);
    add_junction_entry(m, 2, 2, 1.0);
    m.rhs[1] = 3.0;
    EXPECT_EQ(solve_junction_sparse(m), 1);
    EXPECT_EQ(m.rhs[1], 3.0);
    EXPECT_EQ(junction_entry(m, 1, 1), 1e-6);
    clear_junction_system(m);
    add_junction_entry(m, 1, 1, 1.0);
    const std::string err = testsupport::printed_err([&] { EXPECT_EQ(solve_junction_sparse(m), -1); });
    EXPECT_EQ(err, "Numerical Recipes run-time error...\nSingular matrix in routine ludcmp\n"
                   "...now exiting to system...\n");
}

}  // namespace

namespace {

// 100 steps of a tree of 40 junctions filling from its inlets: the heads of the
// sparse solve stay within 1e-9 of the dense solve's.
TEST(JunctionSparse, HundredStepsOfAFillingTreeGiveTheDenseHeads) {
    std::vector<double> heads[2];
    for (const bool dense : {false, true}) {
        testsupport::scratch_dir dir;
        const std::filesystem::path old = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        std::filesystem::create_directory("slink");
        std::filesystem::create_directory("debug");
        reset_process_globals();
        clear_error_state();
        {
            model_state s;
            ASSERT_TRUE(pipe_tree::load(s, 40));
            s.superlink_work.dense_only = dense;
            testsupport::printed([&] {
                for (int n = 0; n < 100; ++n) ASSERT_EQ(pipe_tree::step(s, 30.0), 0);
            });
            for (int j = 1; j <= 40; ++j) heads[dense].push_back(s.superlinks.junc_head[j]);
            s.superlink_work.close_files();
        }
        std::filesystem::current_path(old);
    }
    for (int j = 0; j < 40; ++j) EXPECT_NEAR(heads[0][j], heads[1][j], 1e-9 * std::fabs(heads[1][j])) << j + 1;
    // Water stands in the tree: junction 2 holds more than 0.2 m above its invert.
    EXPECT_GT(heads[0][1], 101.2);
}

}  // namespace
