// Lakes over the terrain on hand-built grids: the companion sort, overland lakes
// rising and falling through their neighbours (levels by hand from the volume
// walk), channel-network lakes over their listed cells, their hourly evaporation
// and the constituent mass they take over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/reference/olake_extent_reference.h"
#include "model/channel/channel_services.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/lakes.h"
#include "model/hydrology/soil_water_services.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

int count_of(const std::string &text, const std::string &part) {
    int n = 0;
    for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

// ---- sort2 ----

TEST(Sort2, MatchesAReferenceSortOnKeysWithManyTies) {
    std::mt19937 rng(20261209);
    for (int n : {2, 8, 9, 50, 1000, 5000}) {
        array_1d<double> key;
        array_1d<int> companion;
        ASSERT_EQ(alloc_1d_double(key, n), 0);
        ASSERT_EQ(alloc_1d_int(companion, n), 0);
        std::vector<std::pair<double, int>> reference;
        std::uniform_int_distribution<int> level(0, 9);  // ten distinct keys only
        for (int i = 1; i <= n; ++i) {
            key[at(i)] = 100.0 + 0.5 * level(rng);
            companion[at(i)] = i;
            reference.emplace_back(key[at(i)], i);
        }
        sort2(key, companion, n);
        ASSERT_EQ(error_record.code, 0);
        std::stable_sort(reference.begin(), reference.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        std::vector<std::pair<double, int>> got;
        for (int i = 1; i <= n; ++i) got.emplace_back(key[at(i)], companion[at(i)]);
        // The keys come out in order, and every companion still sits with its key.
        for (int i = 0; i < n; ++i) EXPECT_EQ(got[at(i)].first, reference[at(i)].first) << n << " " << i;
        std::sort(got.begin(), got.end());
        std::sort(reference.begin(), reference.end());
        EXPECT_EQ(got, reference) << n;
    }
}

TEST(Sort2, SevenKeysOrFewerAreSortedByInsertionKeepingTheOrderOfEqualKeys) {
    const std::vector<std::vector<double>> cases = {
        {3.0, 1.0, 3.0, 2.0, 1.0, 3.0, 1.0}, {5.0, 5.0, 5.0}, {2.0, 1.0}, {4.0}};
    for (const auto &keys : cases) {
        const int n = static_cast<int>(keys.size());
        array_1d<double> key;
        array_1d<int> companion;
        alloc_1d_double(key, n);
        alloc_1d_int(companion, n);
        for (int i = 1; i <= n; ++i) {
            key[at(i)] = keys[at(i - 1)];
            companion[at(i)] = i;
        }
        sort2(key, companion, n);
        for (int i = 2; i <= n; ++i) {
            EXPECT_LE(key[at(i - 1)], key[at(i)]);
            if (key[at(i - 1)] == key[at(i)]) {
                EXPECT_LT(companion[at(i - 1)], companion[at(i)]);
            }
        }
    }
}

// ---- overland lakes ----

// A 20 x 20 grid of 10 m cells on high ground (105 m) with one lake cell at
// row 10, column 10 (ground 100 m) whose four neighbours are set per test.
class OverlandLake : public overland_test {
protected:
    static constexpr int rows = 20, cols = 20;
    static constexpr double dx = 10.0, area = 100.0;
    int centre = cell(cols, 10, 10);
    int up_cell = cell(cols, 9, 10), right_cell = cell(cols, 10, 11);
    int down_cell = cell(cols, 11, 10), left_cell = cell(cols, 10, 9);

    void SetUp() override {
        overland_test::SetUp();
        make_grid(s, rows, cols, dx, [](int, int) { return 105.0; }, 0.05);
        s.elevation[at(centre)] = 100.0;
        s.overland_lake_on = 1;
        alloc_1d_int(s.overland_lake_id, s.cell_count);
        alloc_1d_int(s.overland_lake_id_copy, s.cell_count);
        add_lakes(1);
        place_initial(centre, 1, 100.05);
    }
    void add_lakes(int count) {
        s.overland_lake_count = count;
        s.lakes.assign(at(count) + 1, lake_record{});
    }
    // A cell of the lake map as read; the lake's level is its initial level.
    void place_initial(int c, int k, double level) {
        s.overland_lake_id[at(c)] = s.overland_lake_id_copy[at(c)] = k;
        lake_record &l = s.lakes[at(k)];
        l.initial_elevation = l.elevation = level;
        ++l.cell_count;
        l.volume += (level - s.elevation[at(c)]) * area;
    }
    void neighbours(double up, double right, double down, double left) {
        s.elevation[at(up_cell)] = up;
        s.elevation[at(right_cell)] = right;
        s.elevation[at(down_cell)] = down;
        s.elevation[at(left_cell)] = left;
    }
    void add_water(int k, double volume) {
        s.lakes[at(k)].rain_volume = volume;
        s.lakes[at(k)].inflow_volume = 0.0;
    }
    void run() {
        olake_extent(s);
        for (lake_record &l : s.lakes) l.rain_volume = l.inflow_volume = 0.0;
    }
    double geometric_volume(int k) const {
        double v = 0.0;
        for (int i = 1; i <= s.cell_count; ++i)
            if (s.overland_lake_id[at(i)] == k) v += (s.lakes[at(k)].elevation - s.elevation[at(i)]) * area;
        return v;
    }
    lake_record &lake() { return s.lakes[1]; }
};

TEST_F(OverlandLake, RisingLakeWalksUpThroughTheCandidateLevels) {
    // Neighbours at 100.1, 100.2, 100.3 and 100.4 m; 50 m3 on a lake of one cell
    // at 100.05 m. Walk: V1 = 0.05 x 100 = 5, V2 = 5 + 2 x 0.1 x 100 = 25,
    // V3 = 25 + 3 x 0.1 x 100 = 55 > 50, so the level lies in the second band:
    // 100.2 + (50 - 25) / 300; the cells at 100.1 and 100.2 join.
    neighbours(100.1, 100.2, 100.3, 100.4);
    add_water(1, 50.0);
    run();
    EXPECT_EQ(error_record.code, 0);
    EXPECT_NEAR(lake().elevation, 100.2 + 25.0 / 300.0, 1e-12);
    EXPECT_EQ(lake().cell_count, 3);
    EXPECT_EQ(s.overland_lake_id[at(up_cell)], 1);
    EXPECT_EQ(s.overland_lake_id[at(right_cell)], 1);
    EXPECT_EQ(s.overland_lake_id[at(down_cell)], 0);
    EXPECT_NEAR(lake().volume, 55.0, 1e-10);
    EXPECT_NEAR(geometric_volume(1), 55.0, 1e-9);
    EXPECT_NEAR(s.overland_lake_flow_in, 50.0, 1e-12);
}

TEST_F(OverlandLake, WaterOfATakenCellJoinsTheLake) {
    // The up neighbour holds 0.02 m (level 100.12): V1 = 7, V2 = 7 + 2 x 0.08 x 100
    // = 23, V3 = 53 > 50: level 100.2 + 27 / 300 = 100.29; the lake gains dV plus
    // the 2 m3 it took over.
    neighbours(100.1, 100.2, 100.3, 100.4);
    s.depth[at(up_cell)] = 0.02;
    add_water(1, 50.0);
    run();
    EXPECT_NEAR(lake().elevation, 100.29, 1e-12);
    EXPECT_EQ(s.depth[at(up_cell)], 0.0);
    EXPECT_NEAR(lake().volume - 5.0, 50.0 + 2.0, 1e-10);
    EXPECT_NEAR(s.overland_lake_flow_in, 52.0, 1e-12);
    EXPECT_NEAR(geometric_volume(1), lake().volume, 1e-9);
}

TEST_F(OverlandLake, SingleCandidateGivesTheLevelOfTheJoinedCells) {
    struct row {
        double neighbour, depth, volume;
    };
    for (const row r : {row{100.1, 0.0, 20.0}, row{100.02, 0.01, 8.0}, row{100.08, 0.05, 40.0}}) {
        SetUp();
        neighbours(r.neighbour, 105.0, 105.0, 105.0);
        s.depth[at(up_cell)] = r.depth;
        add_water(1, r.volume);
        const double w = 100.05, dh = r.volume / area, e = r.neighbour + r.depth;
        run();
        // (n (W + dh) + e) / (n + 1) with n = 1.
        EXPECT_NEAR(lake().elevation, (w + dh + e) / 2.0, 1e-12) << r.neighbour;
        EXPECT_EQ(lake().cell_count, 2);
        EXPECT_NEAR(lake().volume, 5.0 + r.volume + r.depth * area, 1e-10);
        EXPECT_NEAR(geometric_volume(1), lake().volume, 1e-9);
        TearDown();
    }
}

TEST_F(OverlandLake, CandidateLevelsWithinATenthOfAMillimetreFormOneGroup) {
    // Two dry candidates at 100.1 m and 100.1 + g above a lake of one cell at
    // 100.05 m (V1 = 5 m3), with 5.025 m3. One group (g = 0.00009): the walk puts
    // both cells at 100.1, so the level 100.1 + 0.025 / 300 stays below the
    // second cell, which does not join. Two groups (g = 0.00011): V2 = 5 + 2 g 100
    // = 5.022 < 5.025, so the walk passes the second level and that cell joins.
    struct row {
        double gap;
        int cells;
    };
    for (const row r : {row{0.00009, 2}, row{0.00011, 3}}) {
        SetUp();
        neighbours(100.1, 100.1 + r.gap, 105.0, 105.0);
        add_water(1, 5.025);
        run();
        EXPECT_EQ(lake().cell_count, r.cells) << r.gap;
        // The level is the one at which the joined cells hold the lake's water.
        EXPECT_NEAR(geometric_volume(1), 5.0 + 5.025, 1e-9) << r.gap;
        TearDown();
    }
    // 100.00000, 100.00006 and 100.00012 under a lake of one cell at 99.95 m with
    // 5.04 m3: the third level lies 0.00012 from the first level of its group, so
    // it opens a second group; V2 = 5 + 3 x 0.00012 x 100 = 5.036 < 5.04 and all
    // three join. (Taken as one group, the walk would need 5.048 m3 for the third.)
    SetUp();
    s.elevation[at(centre)] = 99.9;
    lake().elevation = lake().initial_elevation = 99.95;
    lake().volume = 5.0;
    neighbours(100.0, 100.00006, 100.00012, 105.0);
    add_water(1, 5.04);
    run();
    EXPECT_EQ(lake().cell_count, 4);
    EXPECT_NEAR(geometric_volume(1), 10.04, 1e-9);
}

TEST_F(OverlandLake, DikesAndOtherLakesCloseSides) {
    // The right neighbour is low. Closed by the lake cell's own dike (bit 2), it
    // is no candidate and the lake rises over its own cell.
    neighbours(105.0, 100.1, 105.0, 105.0);
    s.dike_on = 1;
    alloc_1d_int(s.dike_code, s.cell_count);
    s.dike_code[at(centre)] = 2;
    add_water(1, 20.0);
    run();
    EXPECT_NEAR(lake().elevation, 100.05 + 20.0 / area, 1e-12);
    EXPECT_EQ(lake().cell_count, 1);

    // A dike coded only on the neighbour's side facing the lake does not close it.
    SetUp();
    neighbours(105.0, 100.1, 105.0, 105.0);
    s.dike_on = 1;
    alloc_1d_int(s.dike_code, s.cell_count);
    s.dike_code[at(right_cell)] = 8;
    add_water(1, 20.0);
    run();
    EXPECT_EQ(lake().cell_count, 2);
    EXPECT_EQ(s.overland_lake_id[at(right_cell)], 1);

    // A cell of another lake is never taken.
    SetUp();
    neighbours(105.0, 100.1, 105.0, 105.0);
    add_lakes(2);
    place_initial(centre, 1, 100.05);
    s.elevation[at(right_cell)] = 99.0;
    place_initial(right_cell, 2, 99.5);
    add_water(1, 20.0);
    run();
    EXPECT_EQ(s.overland_lake_id[at(right_cell)], 2);
    EXPECT_NEAR(s.lakes[1].elevation, 100.05 + 20.0 / area, 1e-12);
}

TEST_F(OverlandLake, FallBelowInitialLevelAndTinyChangesAreBooked) {
    neighbours(100.1, 105.0, 105.0, 105.0);
    // 3 m3 leave a lake of one 100 m2 cell standing at its initial level: it falls
    // 0.03 m and books the outflow (holding the level would make 3 m3 of water).
    add_water(1, -3.0);
    const double before = lake().volume;
    run();
    EXPECT_NEAR(lake().elevation, 100.02, 1e-12);
    EXPECT_NEAR(lake().volume, before - 3.0, 1e-12);
    EXPECT_EQ(lake().cell_count, 1);
    EXPECT_EQ(s.overland_lake_flow_out, 3.0);
    EXPECT_EQ(s.overland_lake_dropped_volume, 0.0);
    // It cannot give more than the 2 m3 it still holds.
    add_water(1, -2.5);
    const std::string out = printed([&] { run(); });
    EXPECT_NE(out.find("Not enough volume in lake 1 to satisfy drainage demand.\n"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
    reset_process_globals();

    // With 1 m cells a volume of 1e-10 m3 on one cell is a rise of exactly
    // 1e-10 m, which is made; half of it is not.
    make_grid(s, rows, cols, 1.0, [](int, int) { return 105.0; }, 0.05);
    s.elevation[at(centre)] = 100.0;
    s.olake_work = overland_lake_work{};
    lake().elevation = 100.05;
    add_water(1, 0.5e-10);
    run();
    EXPECT_EQ(lake().elevation, 100.05);
    EXPECT_EQ(s.overland_lake_dropped_volume, 0.5e-10);
    add_water(1, 1e-10);
    run();
    EXPECT_EQ(lake().elevation, 100.05 + 1e-10);
}

TEST_F(OverlandLake, FallingLakeReleasesGainedCellsAboveItsNewLevel) {
    neighbours(100.1, 100.2, 100.3, 100.4);
    add_water(1, 50.0);
    run();  // level 100.283333, cells: centre, up (100.1) and right (100.2)
    ASSERT_EQ(lake().cell_count, 3);

    // 40 m3 leave: trial level 100.15 lies below the right cell. Walk down:
    // V1 = (W - 100.2) x 3 x 100 = 25, V2 = 25 + 2 x 0.1 x 100 = 45 > 40, so the
    // level is 100.2 + (25 - 40) / 200 = 100.125 and only the right cell leaves.
    add_water(1, -40.0);
    run();
    EXPECT_EQ(error_record.code, 0);
    EXPECT_NEAR(lake().elevation, 100.125, 1e-12);
    EXPECT_EQ(lake().cell_count, 2);
    EXPECT_EQ(s.overland_lake_id[at(right_cell)], 0);
    EXPECT_EQ(s.overland_lake_id[at(up_cell)], 1);
    EXPECT_NEAR(lake().volume, 15.0, 1e-10);
    EXPECT_NEAR(geometric_volume(1), 15.0, 1e-9);
    EXPECT_NEAR(s.overland_lake_flow_out, 40.0, 1e-12);

    // 1 m3 more: no cell emerges (100.115 > 100.1); the lake falls by 1 / 200.
    add_water(1, -1.0);
    run();
    EXPECT_NEAR(lake().elevation, 100.12, 1e-12);
    EXPECT_EQ(lake().cell_count, 2);

    // 13.9 m3 more: below every gained cell; the initial cell stays, even below
    // the initial level that the walk passes.
    add_water(1, -13.9);
    run();
    EXPECT_EQ(error_record.code, 0);
    EXPECT_NEAR(lake().elevation, 100.001, 1e-9);
    EXPECT_EQ(lake().cell_count, 1);
    EXPECT_EQ(s.overland_lake_id[at(centre)], 1);

    // The volumes balance: start + changes - end = 0 (nothing was dropped).
    EXPECT_NEAR(5.0 + s.overland_lake_flow_in - s.overland_lake_flow_out - lake().volume, 0.0, 1e-9);
    EXPECT_NEAR(5.0 + 50.0 - 40.0 - 1.0 - 13.9 - lake().volume, s.overland_lake_dropped_volume, 1e-9);
}

TEST_F(OverlandLake, FallWithoutGainedCellsStopsTheRun) {
    // The lake stands above its initial level on its own map cell only.
    neighbours(105.0, 105.0, 105.0, 105.0);
    add_water(1, 10.0);
    run();
    ASSERT_NEAR(lake().elevation, 100.15, 1e-12);
    add_water(1, -2.0);
    const std::string out = printed([&] { run(); });
    EXPECT_NE(out.find("Lake 1 is being drained below its' original elevation.  This is not\n"
                       "allowed.  Re-size your initial lake. Program stopped.\n"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(OverlandLake, AnotherLakesGainedCellsDoNotLetALakeFall) {
    // Lake 2 has gained a cell; lake 1 has not. Counted over all cells the sum of
    // (current - initial) would be 2, which lets lake 1 fall; only lake 1's own
    // gained cells count.
    add_lakes(2);
    place_initial(centre, 1, 100.05);
    const int other = cell(cols, 3, 3);
    s.elevation[at(other)] = 100.0;
    place_initial(other, 2, 100.05);
    const int gained = cell(cols, 3, 4);
    s.elevation[at(gained)] = 100.02;
    s.overland_lake_id[at(gained)] = 2;
    ++s.lakes[2].cell_count;
    s.lakes[1].elevation = 100.15;
    s.lakes[1].volume = 15.0;
    add_water(1, -2.0);
    printed([&] { run(); });
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(OverlandLake, NegativeWalkVolumeStopsTheRun) {
    // A gained cell whose ground lies above the lake surface.
    neighbours(100.3, 105.0, 105.0, 105.0);
    s.overland_lake_id[at(up_cell)] = 1;
    lake().cell_count = 2;
    lake().elevation = 100.2;
    add_water(1, -1.0);
    const std::string out = printed([&] { run(); });
    EXPECT_NE(out.find("Not enough volume in lake 1 to satisfy drainage demand.\n"
                       "Program stopped in olake_extent\n"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(OverlandLake, TooManyCandidatesStopTheRun) {
    // A lake of 10 cells along row 10 on ground 100 with every neighbour lower
    // than the rise: more than L - 4 = 46 candidates cannot arise from 10 cells,
    // so shrink the grid: 8 x 8 cells give L = 8 and a limit of 4.
    make_grid(s, 8, 8, dx, [](int, int) { return 100.1; }, 0.05);
    s.olake_work = overland_lake_work{};
    alloc_1d_int(s.overland_lake_id, s.cell_count);
    alloc_1d_int(s.overland_lake_id_copy, s.cell_count);
    add_lakes(1);
    const int a = cell(8, 4, 4), b = cell(8, 4, 5);
    s.elevation[at(a)] = s.elevation[at(b)] = 100.0;
    place_initial(a, 1, 100.05);
    place_initial(b, 1, 100.05);
    add_water(1, 100.0);
    const std::string out = printed([&] { run(); });
    EXPECT_NE(out.find("The candidate set is HUGE in olake_extent."), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(OverlandLake, LakeWithoutCellsIsLeftUnchanged) {
    add_lakes(2);
    place_initial(centre, 1, 100.05);
    s.lakes[2].elevation = s.lakes[2].initial_elevation = 90.0;
    add_water(2, 5.0);
    run();
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(s.lakes[2].elevation, 90.0);
    EXPECT_EQ(s.lakes[2].volume, 0.0);
}

// The update visits each lake's own cells; on a rough terrain with terraces of
// equal ground (ties in the candidate sort), dikes and wet cells, several lake
// layouts rising and falling over 80 updates give the extents, levels, volumes and
// totals of the update that scanned every cell per lake, bit for bit.
TEST(OverlandLakeEquality, SameExtentsAsTheReferenceUpdate) {
    struct layout {
        int rows, cols, lakes;
        bool dikes;
    };
    for (const layout &l : {layout{24, 20, 1, true}, layout{30, 30, 4, true}, layout{40, 44, 13, false}}) {
        std::unique_ptr<model_state> states[2] = {std::make_unique<model_state>(),
                                                  std::make_unique<model_state>()};
        std::mt19937 rng(l.lakes);
        std::vector<double> depth(static_cast<std::size_t>(l.rows * l.cols + 1));
        for (double &d : depth) d = rng() % 3 == 0 ? 0.001 * (rng() % 40) : 0.0;
        std::vector<int> dike(depth.size());
        for (int &d : dike) d = l.dikes && rng() % 4 == 0 ? static_cast<int>(1 + rng() % 15) : 0;
        for (auto &st : states) {
            model_state &m = *st;
            make_grid(m, l.rows, l.cols, 10.0, [](int r, int c) {
                return 100.0 + std::round(30.0 * std::sin(r / 3.0) * std::cos(c / 4.0)) / 100.0;
            }, 0.05);
            alloc_1d_int(m.overland_lake_id, m.cell_count);
            alloc_1d_int(m.overland_lake_id_copy, m.cell_count);
            m.dike_on = l.dikes;
            alloc_1d_int(m.dike_code, m.cell_count);
            for (int i = 1; i <= m.cell_count; ++i) {
                m.depth[at(i)] = depth[at(i)];
                m.dike_code[at(i)] = dike[at(i)];
            }
            m.overland_lake_count = l.lakes;
            m.lakes.assign(at(l.lakes) + 1, lake_record{});
            for (int k = 1; k <= l.lakes; ++k) {  // a 2 x 2 block per lake
                const int r = 2 + (k * 7) % (l.rows - 3), c = 2 + (k * 11) % (l.cols - 3);
                lake_record &lake = m.lakes[at(k)];
                for (int q = 0; q < 4; ++q) {
                    const int i = cell(l.cols, r + q / 2, c + q % 2);
                    if (m.overland_lake_id[at(i)] != 0) continue;
                    m.overland_lake_id[at(i)] = m.overland_lake_id_copy[at(i)] = k;
                    ++lake.cell_count;
                    lake.elevation = std::max(lake.elevation, m.elevation[at(i)] + 1.0);
                }
                lake.initial_elevation = lake.elevation;
            }
        }
        int steps = 0;
        for (bool stopped = false; steps < 80 && !stopped; ++steps) {
            std::vector<double> dv(at(l.lakes) + 1);
            for (double &v : dv) v = (steps < 30 ? 400.0 : -300.0) * (static_cast<double>(rng() % 1000) / 1000.0) +
                                     (steps % 3 == 0 ? -100.0 : 50.0);
            std::string out[2];
            int fatal[2];
            for (int version = 0; version < 2; ++version) {
                model_state &m = *states[version];
                for (int k = 1; k <= l.lakes; ++k) {
                    m.lakes[at(k)].volume = 0.0;
                    m.lakes[at(k)].rain_volume = dv[at(k)];
                    m.lakes[at(k)].inflow_volume = 0.0;
                }
                for (int i = 1; i <= m.cell_count; ++i) {
                    const int k = m.overland_lake_id[at(i)];
                    if (k >= 1) m.lakes[at(k)].volume += (m.lakes[at(k)].elevation - m.elevation[at(i)]) * 100.0;
                }
                out[version] = testsupport::printed([&] { (version ? reference::olake_extent : olake_extent)(m); });
                fatal[version] = error_record.fatal;
                reset_process_globals();
            }
            ASSERT_EQ(out[0], out[1]);
            ASSERT_EQ(fatal[0], fatal[1]);
            stopped = fatal[0] != 0;
            const model_state &a = *states[0], &b = *states[1];
            for (int i = 1; i <= a.cell_count; ++i) {
                ASSERT_EQ(a.overland_lake_id[at(i)], b.overland_lake_id[at(i)]) << steps << " " << i;
                ASSERT_EQ(a.depth[at(i)], b.depth[at(i)]);
            }
            for (int k = 1; k <= l.lakes; ++k) {
                ASSERT_EQ(a.lakes[at(k)].elevation, b.lakes[at(k)].elevation) << steps << " lake " << k;
                ASSERT_EQ(a.lakes[at(k)].volume, b.lakes[at(k)].volume);
                ASSERT_EQ(a.lakes[at(k)].cell_count, b.lakes[at(k)].cell_count);
            }
            ASSERT_EQ(a.overland_lake_flow_in, b.overland_lake_flow_in);
            ASSERT_EQ(a.overland_lake_flow_out, b.overland_lake_flow_out);
            ASSERT_EQ(a.overland_lake_dropped_volume, b.overland_lake_dropped_volume);
        }
        EXPECT_GT(steps, 10);
    }
}

// ---- channel-network lakes ----

// A 20 x 20 grid of 10 m cells; lake 1 lists the cells of row 5, columns 1..4,
// on ground 100.0, 100.1, 100.2 and 100.3, and holds the first at 100.05 m.
class ChannelLake : public overland_test {
protected:
    static constexpr int cols = 20;
    static constexpr double area = 100.0;
    void SetUp() override {
        overland_test::SetUp();
        make_grid(s, 20, cols, 10.0, [](int, int) { return 105.0; }, 0.05);
        alloc_1d_int(s.cell_channel_lake, s.cell_count);
        add_lake({{5, 1}, {5, 2}, {5, 3}, {5, 4}}, {100.0, 100.1, 100.2, 100.3});
        take_first(1, 100.05);
    }
    void add_lake(const std::vector<std::array<int, 2>> &listed, const std::vector<double> &ground) {
        channel_network &net = s.channels;
        ++net.lake_count;
        net.lakes.resize(at(net.lake_count) + 1);
        channel_lake &l = net.lakes[at(net.lake_count)];
        l.search_count = static_cast<int>(listed.size());
        l.search.assign(1, {0, 0});
        for (std::size_t i = 0; i < listed.size(); ++i) {
            l.search.push_back(listed[i]);
            s.elevation[at(cell(cols, listed[i][0], listed[i][1]))] = ground[i];
        }
        s.channel_lake_count = net.lake_count;
    }
    void take_first(int k, double level) {
        channel_lake &l = s.channels.lakes[at(k)];
        const int c = cell(cols, l.search[1][0], l.search[1][1]);
        s.cell_channel_lake[at(c)] = k;
        l.flooded_cells = 1;
        l.wse = l.init_wse = level;
        l.area = area;
        l.volume = l.volume_old = l.initial_volume = (level - s.elevation[at(c)]) * area;
    }
    channel_lake &lake(int k = 1) { return s.channels.lakes[at(k)]; }
    int listed(int k, int t) { return cell(cols, lake(k).search[at(t)][0], lake(k).search[at(t)][1]); }
};

TEST_F(ChannelLake, RisingLakeTakesItsListedCellsInOrder) {
    s.groundwater_on = 1;
    alloc_1d_int(s.gw_boundary_code, s.cell_count);
    for (int i = 1; i <= s.cell_count; ++i) s.gw_boundary_code[at(i)] = 1;
    lake().volume += 30.0;
    // 30 m3: to 100.1 costs 5 (one cell), to 100.2 costs 20 (two cells); the
    // last 5 m3 spread over three cells: 100.2 + 5 / 300.
    const std::string out = printed([&] { update_lake_extent(s); });
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(lake().flooded_cells, 3);
    EXPECT_NEAR(lake().wse, 100.2 + 5.0 / 300.0, 1e-12);
    EXPECT_EQ(lake().area, 300.0);
    EXPECT_EQ(lake().volume_old, lake().volume);
    for (int t = 2; t <= 3; ++t) {
        EXPECT_EQ(s.cell_channel_lake[at(listed(1, t))], 1);
        EXPECT_EQ(s.lake_change_flag[at(listed(1, t))], 1);
        EXPECT_EQ(s.gw_boundary_code[at(listed(1, t))], 7);
    }
    EXPECT_EQ(s.cell_channel_lake[at(listed(1, 4))], 0);
    EXPECT_NE(out.find("Lake 1 is taking cell " + std::to_string(listed(1, 2)) + " with depth 0.000000\n"),
              std::string::npos);
}

TEST_F(ChannelLake, FallingLakeGivesCellsBackWithTheirCodesAsRead) {
    s.groundwater_on = 1;
    alloc_1d_int(s.gw_boundary_code, s.cell_count);
    alloc_1d_int(s.chan.gw_code_copy, s.cell_count);
    for (int i = 1; i <= s.cell_count; ++i) s.gw_boundary_code[at(i)] = s.chan.gw_code_copy[at(i)] = 3;
    lake().volume += 30.0;
    printed([&] { update_lake_extent(s); });
    // Down to 12 m3: the third cell (1/60 m under water) goes, freeing 5 m3; the
    // remaining 18 m3 of fall over two cells lower the level by 0.09 m.
    lake().volume = 12.0;
    const std::string out = printed([&] { update_lake_extent(s); });
    EXPECT_EQ(lake().flooded_cells, 2);
    EXPECT_NEAR(lake().wse, 100.11, 1e-12);
    EXPECT_EQ(lake().area, 200.0);
    const int gone = listed(1, 3);
    EXPECT_EQ(s.cell_channel_lake[at(gone)], 0);
    EXPECT_EQ(s.lake_change_flag[at(gone)], -1);
    EXPECT_EQ(s.gw_boundary_code[at(gone)], 3);
    EXPECT_EQ(s.gw_boundary_code[at(listed(1, 2))], 7);
    EXPECT_NE(out.find("Removing cell " + std::to_string(gone) + " from lake\n"), std::string::npos);
}

TEST_F(ChannelLake, WetCellsWaterAndMassJoinTheLake) {
    s.chan_con_trans = 1;
    s.chan.constituent_count = 1;
    s.transport_tables[transport_table::mass].add_rows(s.cell_count, 1);
    s.transport_tables[transport_table::concentration].add_rows(s.cell_count, 1);
    alloc_2d_double(s.chan.lake_ov_inflow_mass, 1, 1, "lake_ov_inflow_mass");
    alloc_2d_double(s.chan.lake_mass, 1, 1, "lake_mass");
    alloc_2d_double(s.chan.lake_conc, 1, 1, "lake_conc");
    const int wet = listed(1, 2);
    s.depth[at(wet)] = 0.05;
    s.transport_tables[transport_table::mass].row(1)[wet] = 3.0;
    s.transport_tables[transport_table::concentration].row(1)[wet] = 0.6;
    s.chan.lake_mass[1][1] = 8.0;
    lake().volume += 10.0;
    // 10 m3 reach 100.1 with 5; the cell's 5 m3 join: 10 m3 over two cells.
    const std::string out = printed([&] { update_lake_extent(s); });
    EXPECT_NE(out.find("with depth 0.050000\n"), std::string::npos);
    EXPECT_EQ(s.depth[at(wet)], 0.0);
    EXPECT_NEAR(lake().volume, 20.0, 1e-12);
    EXPECT_NEAR(lake().taken_over, 5.0, 1e-12);
    EXPECT_NEAR(lake().volume_in, 5.0, 1e-12);
    EXPECT_NEAR(lake().wse, 100.1 + 10.0 / 200.0, 1e-12);
    EXPECT_EQ(s.chan.lake_ov_inflow_mass[1][1], 3.0);
    EXPECT_EQ(s.transport_tables[transport_table::mass].row(1)[wet], 0.0);
    EXPECT_EQ(s.transport_tables[transport_table::concentration].row(1)[wet], 0.0);
    EXPECT_NEAR(s.chan.lake_conc[1][1], 8.0 / 20.0, 1e-12);
    // An empty lake has concentration 0, not a division by zero.
    lake().volume = 0.0;
    printed([&] { update_lake_extent(s); });
    EXPECT_EQ(s.chan.lake_conc[1][1], 0.0);
}

TEST_F(ChannelLake, MaximumExtentWarningIsPrintedOncePerRun) {
    add_lake({{8, 1}}, {100.0});
    take_first(2, 100.5);
    lake(1).flooded_cells = 4;  // every listed cell of lake 1 taken
    for (int t = 1; t <= 4; ++t) s.cell_channel_lake[at(listed(1, t))] = 1;
    lake(1).area = 400.0;
    lake(1).wse = 100.5;
    lake(1).volume += 40.0;
    lake(2).volume += 10.0;
    const std::string first = printed([&] { update_lake_extent(s); });
    EXPECT_EQ(count_of(first, "has reached your specified maximum areal extent"), 1);
    EXPECT_NE(first.find("Warning: Lake #1 has reached your specified maximum areal extent\n"
                         "This likely means you should increase the maximum water surface elevation\n"
                         "The last grid cell coordinates defined in your input file are: [5][4] \n"),
              std::string::npos);
    // Beyond their listed cells the lakes rise freely.
    EXPECT_NEAR(lake(1).wse, 100.6, 1e-12);
    EXPECT_NEAR(lake(2).wse, 100.6, 1e-12);
    lake(1).volume += 40.0;
    const std::string second = printed([&] { update_lake_extent(s); });
    EXPECT_EQ(count_of(second, "maximum areal extent"), 0);
    EXPECT_NEAR(lake(1).wse, 100.7, 1e-12);
}

TEST_F(ChannelLake, ReachingAnotherLakesCellStopsTheRun) {
    add_lake({{5, 2}}, {100.1});
    s.cell_channel_lake[at(listed(1, 2))] = 2;
    lake(1).volume += 30.0;
    const std::string out = printed([&] { update_lake_extent(s); });
    EXPECT_NE(out.find("Your lake has potentially merged with another lake.....\n"
                       "Current KORVA formulation is not up for this. Will be soon.\n"
                       "KORVA Terminating.\n"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(ChannelLake, HourlyEvaporationByHand) {
    // 20 C, 50 % humidity, 2 m/s: es = 0.6108 exp(17.27 x 20 / 257.3) kPa =
    // 23.382813 hPa (FAO-56 table 2.3: 2.338 kPa), wind 172.8 km/day. A lake of
    // 1 km2 (x^-0.05 = 1) loses 0.000169 x 172.8 x 0.5 x 23.382813 / 24 x 1e6 / 100
    // = 142.261033 m3; a lake of 100 m2 counts as 0.0005 km2 in the size factor.
    s.hmet_hour.air_temperature = 20.0;
    s.hmet_hour.relative_humidity = 50.0;
    s.hmet_hour.wind_speed = 2.0;
    lake().area = 1.0e6;
    lake().volume = lake().volume_old = 5000.0;
    add_lake({{8, 1}}, {100.0});
    take_first(2, 100.05);  // 100 m2 holding 5 m3
    printed([&] { lake_step(s); });
    EXPECT_NEAR(5000.0 - lake(1).volume, 142.2610325232258, 1e-9);
    EXPECT_NEAR(lake(1).evaporated, 142.2610325232258, 1e-9);
    const double small = std::pow(0.0005, -0.05) * 0.000169 * 172.8 * 0.5 * 23.382812709274457 / 24.0 *
                         100.0 / 100.0;
    EXPECT_NEAR(5.0 - lake(2).volume, small, 1e-12);
    EXPECT_NEAR(s.water.moved(ledger_node::channel_lakes, ledger_node::atmosphere), 142.2610325232258 + small, 1e-9);
    // The extent follows the smaller volume at once.
    EXPECT_NEAR(lake(2).wse, 100.05 - small / 100.0, 1e-12);
}

TEST_F(ChannelLake, LakeSmallerThanTheHoursEvaporationEndsEmpty) {
    s.hmet_hour.air_temperature = 30.0;
    s.hmet_hour.relative_humidity = 0.0;
    s.hmet_hour.wind_speed = 20.0;
    // About 0.6 m3 would evaporate from 100 m2 in the hour; the lake holds 0.1.
    lake().volume = lake().volume_old = 0.1;
    lake().wse = 100.001;
    printed([&] { lake_step(s); });
    EXPECT_EQ(lake().volume, 0.0);
    EXPECT_EQ(lake().evaporated, 0.1);
    EXPECT_EQ(s.water.moved(ledger_node::channel_lakes, ledger_node::atmosphere), 0.1);
}

TEST_F(ChannelLake, LevelBelowTheInitialLevelMarksTheChannelState) {
    EXPECT_EQ(channel_lake_below_second_level(s), 0);
    lake().wse = 100.04;
    EXPECT_EQ(channel_lake_below_second_level(s), 1);
}

}  // namespace
