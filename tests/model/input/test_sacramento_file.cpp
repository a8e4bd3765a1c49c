// Tests of the Sacramento parameter file on hand-written files (cards in any order
// and case, the clamps and their warnings, fractions into depths, duplicate,
// missing, empty and refused cards, the basin-count warning) and of the
// topographic index against values worked by hand: the falling row, pits and
// isolated cells, the conservation of upslope area, symmetry and the passes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/sacramento_file.h"
#include "model/input/surface_inputs.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"
#include "support/captured_output.h"
#include "support/run_program.h"

namespace {

using testsupport::printed;
using testsupport::printed_err;

// The cards of a valid file, value text by card word.
std::map<std::string, std::string> valid_cards() {
    return {{"UZTWM", "50"},   {"UZFWM", "40"},   {"UZK", "0.3"},    {"ZPERC", "40"},
            {"REXP", "2"},     {"LZTWM", "100"},  {"LZFSM", "20"},   {"LZFPM", "80"},
            {"LZSK", "0.05"},  {"LZPK", "0.01"},  {"PFREE", "0.2"},  {"SAVED", "5"},
            {"UZTWC", "0.4"},  {"UZFWC", "0.25"}, {"LZTWC", "0.6"},  {"LZFSC", "0.5"},
            {"LZFPC", "0.5"}};
}

std::string file_text(const std::map<std::string, std::string> &cards,
                      const std::string &head = "KORVA_SACRAMENTO\n") {
    std::string text = head;
    for (const auto &[card, value] : cards) text += card + " " + value + "\n";
    return text;
}

class SacramentoFile : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }

    // Reads `text` as the parameter file; the error-stream text.
    std::string read(const std::string &text) {
        dir.write("sac.txt", text);
        std::FILE *f = std::fopen((dir.path() / "sac.txt").c_str(), "r");
        std::string err;
        out = printed([&] { err = printed_err([&] { read_sacramento_input(f, "sac.txt", s); }); });
        std::fclose(f);
        return err;
    }

    testsupport::scratch_dir dir;
    model_state s;
    std::string out;
};

TEST_F(SacramentoFile, CardsInAnyOrderAndCaseBecomeTheBasin) {
    // The map gives alphabetical order; one card in lower case, one line that is
    // no card, a BASIN card.
    std::string text = file_text(valid_cards(), "KORVA_SACRAMENTO_PARAMETERS\nBASIN 1\n");
    text.replace(text.find("UZK"), 3, "uzk");
    text += "COMMENT ignored\n";
    EXPECT_EQ(read(text), "");
    ASSERT_EQ(error_record.fatal, 0);
    const sacramento_basin &b = s.sac_basin;
    EXPECT_EQ(b.uztwm, 50.0);
    EXPECT_EQ(b.uzk, 0.3);
    EXPECT_EQ(b.rexp, 2.0);
    EXPECT_EQ(b.pfree, 0.2);
    // Fractions of the capacities into depths.
    EXPECT_DOUBLE_EQ(b.uztwc, 20.0);
    EXPECT_DOUBLE_EQ(b.uzfwc, 10.0);
    EXPECT_DOUBLE_EQ(b.lztwc, 60.0);
    EXPECT_DOUBLE_EQ(b.lzfsc, 10.0);
    EXPECT_DOUBLE_EQ(b.lzfpc, 40.0);
    EXPECT_EQ(b.saved, 5.0);
    EXPECT_DOUBLE_EQ(b.pbase, 0.01 * 80.0 + 0.05 * 20.0);
    EXPECT_TRUE(s.topo_index.empty());  // no TOPO_INDEX: no index
}

TEST_F(SacramentoFile, CardLookupNumbers) {
    const struct {
        const char *line;
        int card;
    } cases[] = {{"KORVA_SACRAMENTO", 0}, {"UZTWM 1", 1},  {"lzfpc 1", 16}, {"Num_Basins 1", 17},
                 {"BASIN 1", 18},        {"saved 1", 19}, {"UZTWMX 1", 20}, {"", 20}};
    for (const auto &c : cases) {
        std::string line = c.line;
        EXPECT_EQ(sacramento_card_lookup(line), c.card) << c.line;
    }
    std::string line = "LZSK 0.05";
    EXPECT_EQ(sacramento_card_lookup(line), 9);
    std::string value;
    next_token(value, line);
    EXPECT_EQ(value, "0.05");
}

TEST_F(SacramentoFile, OutOfRangeValuesAreClampedWithWarnings) {
    const struct {
        const char *card, *value, *warning;
        double sacramento_basin::*field;
        double expected;
    } cases[] = {
        {"UZTWC", "1.2", "WARNING:uztwc changed!\n", &sacramento_basin::uztwc, 0.99 * 50.0},
        {"UZFWC", "-0.3", "WARNING:uzfwc changed!\n", &sacramento_basin::uzfwc, 0.01 * 40.0},
        {"LZTWC", "1.0", nullptr, &sacramento_basin::lztwc, 100.0},
        {"LZFSC", "0.0", nullptr, &sacramento_basin::lzfsc, 0.0},
        {"LZFPC", "7", "WARNING:lzfpc changed!\n", &sacramento_basin::lzfpc, 0.99 * 80.0},
        {"UZK", "-0.1", "WARNING:uzk changed!\n", &sacramento_basin::uzk, 0.05},
        {"LZSK", "1.5", "WARNING:lzsk changed!\n", &sacramento_basin::lzsk, 0.5},
        {"LZPK", "1.0", nullptr, &sacramento_basin::lzpk, 1.0},
        {"UZK", "0.0", nullptr, &sacramento_basin::uzk, 0.0},
        // Saved water beyond the primary content (40 mm) is cut to it.
        {"SAVED", "60", "WARNING:saved changed!\n", &sacramento_basin::saved, 40.0},
    };
    for (const auto &c : cases) {
        reset_process_globals();
        s.sac_basin = sacramento_basin{};
        auto cards = valid_cards();
        cards[c.card] = c.value;
        const std::string err = read(file_text(cards));
        ASSERT_EQ(error_record.fatal, 0) << c.card << " " << err;
        EXPECT_DOUBLE_EQ(s.sac_basin.*c.field, c.expected) << c.card << " " << c.value;
        EXPECT_EQ(err, c.warning ? c.warning : "") << c.card << " " << c.value;
    }
}

TEST_F(SacramentoFile, SecondCardOfAKindStopsTheRun) {
    const std::string err = read("KORVA_SACRAMENTO\nUZK 0.2\n" + file_text(valid_cards(), ""));
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(err, "Duplicate cards read in Sacramento parameter file sac.txt.\n"
                   "There should be only 21 different cards in the file\n"
                   "with no duplicates.\n"
                   "Program terminated in read_sacramento\n");
}

TEST_F(SacramentoFile, MissingCardIsAPrematureEnd) {
    auto cards = valid_cards();
    cards.erase("PFREE");
    cards["NUM_BASINS"] = "1";  // not a parameter card
    const std::string err = read(file_text(cards));
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(err, "Premature end-of-file in the Sacramento parameter input file sac.txt.\n"
                   "The channel input file does not contain all the required parameters.\n"
                   "The file should contain 21 parameters.  Only 16 parameters read.\n"
                   "Program terminated in read_sacramento_input.\n");
}

TEST_F(SacramentoFile, HeaderIsRequired) {
    for (const std::string &text : {file_text(valid_cards(), "SACRAMENTO\n"), std::string()}) {
        reset_process_globals();
        const std::string err = read(text);
        EXPECT_EQ(error_record.fatal, 1);
        EXPECT_EQ(err, "The specified Sacramento model input parameter file sac.txt does not\n"
                       "have the proper header: KORVA_SACRAMENTO \n"
                       "Program terminated in read_sacramento\n");
    }
}

TEST_F(SacramentoFile, CapacitiesMustBePositiveAndBounded) {
    for (const char *card : {"UZTWM", "UZFWM", "LZTWM", "LZFSM", "LZFPM"}) {
        for (const char *value : {"0", "-5", "1e308"}) {
            reset_process_globals();
            auto cards = valid_cards();
            cards[card] = value;
            const std::string err = read(file_text(cards));
            EXPECT_EQ(error_record.fatal, 1) << card;
            EXPECT_NE(err.find(std::string("the capacity ") + card + " is "), std::string::npos)
                << err;
            EXPECT_NE(err.find("Program terminated in read_sacramento_input.\n"), std::string::npos);
            EXPECT_EQ(err.find("WARNING"), std::string::npos);
        }
    }
}

TEST_F(SacramentoFile, ValuesMustBeNumbers) {
    const struct {
        const char *card, *value;
    } cases[] = {{"UZK", "fast"}, {"ZPERC", ""}, {"LZTWM", "nan"}, {"NUM_BASINS", "1.5"}};
    for (const auto &c : cases) {
        reset_process_globals();
        auto cards = valid_cards();
        cards[c.card] = c.value;
        const std::string err = read(file_text(cards));
        EXPECT_EQ(error_record.fatal, 1) << c.card;
        EXPECT_NE(err.find(std::string("the ") + c.card + " card needs a "), std::string::npos)
            << err;
    }
}

TEST_F(SacramentoFile, MoreBasinsThanOneSimulateTheFirst) {
    // The second basin's cards follow the first basin's 17 and are not read.
    auto second = valid_cards();
    second["UZTWM"] = "999";
    const std::string text = "KORVA_SACRAMENTO\nNUM_BASINS 2\nBASIN 1\n" +
                             file_text(valid_cards(), "") + "BASIN 2\n" + file_text(second, "");
    const std::string err = read(text);
    ASSERT_EQ(error_record.fatal, 0) << err;
    EXPECT_EQ(err, "WARNING: the Sacramento parameter file gives NUM_BASINS 2; one basin is "
                   "simulated and every cell belongs to basin 1.\n");
    EXPECT_EQ(s.sac_basin.uztwm, 50.0);
}

TEST_F(SacramentoFile, TopographicIndexIsComputedWithTheCard) {
    // One row of four cells of 10 m falling 1 m per column.
    s.grid_rows = 1;
    s.grid_cols = 4;
    s.cell_size = 10.0;
    s.cell_count = 4;
    alloc_2d_int(s.cell_number_grid, 2, 5);
    alloc_1d_double(s.elevation, 4);
    for (int c = 1; c <= 4; ++c) {
        s.cell_number_grid[1][c] = c;
        s.elevation[c] = 10.0 - c;
    }
    s.sacramento_on = 1;
    allocate_sacramento_cell_arrays(s);
    EXPECT_TRUE(s.topo_index.empty());  // only with TOPO_INDEX
    s.topo_index_on = 1;
    allocate_sacramento_cell_arrays(s);
    ASSERT_EQ(s.topo_index.last(), 4u);
    EXPECT_EQ(read(file_text(valid_cards())), "");
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_NEAR(s.topo_index[1], std::log(200.0), 1e-12);
    EXPECT_NEAR(s.topo_index[3], std::log(600.0), 1e-12);
    EXPECT_NEAR(s.topo_index[4], std::log(400.0 / 2.0), 1e-12);
}

// ---- topographic index ----

// A grid of rows x cols positions; NAN marks a position outside the watershed.
struct terrain {
    int rows, cols;
    double dx;
    array_2d<int> cells;
    array_1d<double> elevation, index;
    terrain(int r, int c, double size, const std::vector<double> &z) : rows(r), cols(c), dx(size) {
        alloc_2d_int(cells, r + 1, c + 1);
        int n = 0;
        for (double v : z) n += std::isnan(v) ? 0 : 1;
        alloc_1d_double(elevation, n);
        alloc_1d_double(index, n);
        n = 0;
        for (int i = 1; i <= r; ++i)
            for (int j = 1; j <= c; ++j) {
                const double v = z[static_cast<std::size_t>((i - 1) * c + j - 1)];
                if (std::isnan(v)) continue;
                cells[i][j] = ++n;
                elevation[static_cast<std::size_t>(n)] = v;
            }
    }
    double at(int i, int j) const { return index[static_cast<std::size_t>(cells[i][j])]; }
    // topodex; the console and error-stream text.
    std::pair<std::string, std::string> run() {
        std::string err;
        const std::string o = printed([&] {
            err = printed_err([&] { topodex(elevation, cells, index, rows, cols, dx); });
        });
        return {o, err};
    }
};

class Topodex : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }
};

TEST_F(Topodex, FallingRowAccumulatesItsArea) {
    std::vector<double> z;
    for (int j = 1; j <= 6; ++j) z.push_back(20.0 - j);
    terrain t(1, 6, 10.0, z);
    const auto [o, err] = t.run();
    ASSERT_EQ(error_record.fatal, 0) << err;
    EXPECT_EQ(o, "");
    // Cell k holds 100 k m2 and hands it on over one edge of weight 0.5: ln 200 k.
    for (int k = 1; k <= 5; ++k) EXPECT_NEAR(t.at(1, k), std::log(200.0 * k), 1e-12) << k;
    // The last has no lower neighbour; mean slope 1/10: ln(600 / (2 x 10 x 0.1)).
    EXPECT_NEAR(t.at(1, 6), std::log(600.0 / 2.0), 1e-12);
    EXPECT_EQ(t.index[0], 0.0);
}

TEST_F(Topodex, PitsAndIsolatedCells) {
    terrain lone(1, 1, 10.0, {5.0});
    lone.run();
    EXPECT_EQ(lone.index[1], 0.333);
    // Outside positions (elevation element 0) do not count as neighbours.
    terrain island(3, 3, 10.0, {NAN, NAN, NAN, NAN, 5.0, NAN, NAN, NAN, NAN});
    island.run();
    EXPECT_EQ(island.at(2, 2), 0.333);
    terrain flat(1, 3, 10.0, {7.0, 7.0, 7.0});
    flat.run();
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(flat.at(1, j), 0.333) << j;
    ASSERT_EQ(error_record.fatal, 0);

    // A pit 5e-6 m below its two neighbours: they hand it their 100 m2 each; its
    // mean upward slope 5e-7 gives ln(300 / (2 x 10 x 5e-7)) and a console line.
    const double e = 5e-6;
    terrain pit(1, 3, 10.0, {7.0 + e, 7.0, 7.0 + e});
    const auto [o, err] = pit.run();
    ASSERT_EQ(error_record.fatal, 0) << err;
    EXPECT_NEAR(pit.at(1, 2), std::log(300.0 / (2.0 * 10.0 * 5e-7)), 1e-6);
    EXPECT_NEAR(pit.at(1, 1), std::log(100.0 / (0.5 * e)), 1e-6);
    EXPECT_EQ(o, "sslope<1.0e-6 in read_sacramento : 0.0000005000\n");
}

TEST_F(Topodex, UpslopeAreaEndsInThePits) {
    // Two basins with pits at (2,2) and (4,6) on a 5 x 7 grid with a gap
    // outside the watershed; corner receivers included.
    const int rows = 5, cols = 7;
    std::vector<double> z;
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            const double a = std::hypot(i - 2.0, j - 2.0), b = std::hypot(i - 4.0, j - 6.0);
            z.push_back(i == 1 && j == 7 ? NAN : 10.0 + std::min(a, 1.3 * b) + 0.01 * i);
        }
    terrain t(rows, cols, 10.0, z);
    const int m = static_cast<int>(t.elevation.last());
    array_2d<double> elev, topo, area;
    alloc_2d_double(elev, rows, cols, "elev");
    alloc_2d_double(topo, rows, cols, "topodex");
    alloc_2d_double(area, rows, cols, "area");
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            const int c = t.cells[i][j];
            elev[i][j] = t.elevation[static_cast<std::size_t>(c)];
            area[i][j] = 100.0;
            if (c > 0) topo[i][j] = -1.0;
        }
    ASSERT_GT(topographic_index_passes(elev, t.cells, topo, area, rows, cols, 10.0, m, 1000), 0);
    double pit_area = 0.0;
    int pits = 0;
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            if (t.cells[i][j] == 0) continue;
            EXPECT_GE(topo[i][j], 0.0) << i << " " << j;
            bool lower = false;
            for (int di = -1; di <= 1; ++di)
                for (int dj = -1; dj <= 1; ++dj) {
                    const int ni = i + di, nj = j + dj;
                    if (ni >= 1 && ni <= rows && nj >= 1 && nj <= cols && t.cells[ni][nj] > 0 &&
                        elev[ni][nj] < elev[i][j])
                        lower = true;
                }
            if (lower) continue;
            ++pits;
            pit_area += area[i][j];
        }
    EXPECT_EQ(pits, 2);
    EXPECT_NEAR(pit_area, m * 100.0, 1e-9);
}

TEST_F(Topodex, SymmetricValleyGivesSymmetricIndices) {
    // Sides rising 2 m per column from the axis (column 4), the axis falling
    // 0.5 m per row; the sweep runs from column 1 to 7 all the same.
    const int rows = 6, cols = 7;
    std::vector<double> z;
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) z.push_back(2.0 * std::abs(j - 4) + 0.5 * (rows - i));
    terrain t(rows, cols, 30.0, z);
    t.run();
    ASSERT_EQ(error_record.fatal, 0);
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= 3; ++j)
            EXPECT_NEAR(t.at(i, j), t.at(i, cols + 1 - j), 1e-12) << i << " " << j;
    // The axis gathers: its index grows downstream.
    for (int i = 2; i <= rows - 1; ++i) EXPECT_GT(t.at(i, 4), t.at(i - 1, 4)) << i;
}

TEST_F(Topodex, PassesGrowWithFlowAgainstTheSweep) {
    // A ramp falling with the column number is one pass; rising, one per column.
    for (const int cols : {5, 40}) {
        for (const double slope : {-1.0, 1.0}) {
            std::vector<double> z;
            for (int j = 1; j <= cols; ++j) z.push_back(100.0 + slope * j);
            terrain t(1, cols, 10.0, z);
            array_2d<double> elev, topo, area;
            alloc_2d_double(elev, 1, cols, "elev");
            alloc_2d_double(topo, 1, cols, "topodex");
            alloc_2d_double(area, 1, cols, "area");
            for (int j = 1; j <= cols; ++j) {
                elev[1][j] = z[static_cast<std::size_t>(j - 1)];
                area[1][j] = 100.0;
                topo[1][j] = -1.0;
            }
            const int passes =
                topographic_index_passes(elev, t.cells, topo, area, 1, cols, 10.0, cols, 1000);
            EXPECT_EQ(passes, slope < 0.0 ? 1 : cols) << cols << " " << slope;
            EXPECT_EQ(topographic_index_passes(elev, t.cells, topo, area, 1, cols, 10.0, cols,
                                               0),
                      0);
        }
    }
}

TEST_F(Topodex, MoreThanAThousandPassesStopTheRun) {
    for (const int cols : {1000, 1001}) {
        reset_process_globals();
        std::vector<double> rising, falling;
        for (int j = 1; j <= cols; ++j) {
            rising.push_back(0.01 * j);
            falling.push_back(0.01 * (cols - j));
        }
        terrain down(1, cols, 10.0, falling);
        down.run();
        EXPECT_EQ(error_record.fatal, 0);
        terrain up(1, cols, 10.0, rising);
        const auto [o, err] = up.run();
        EXPECT_EQ(error_record.fatal, cols > 1000 ? 1 : 0) << cols;
        if (cols <= 1000) {
            EXPECT_EQ(err, "");
            EXPECT_NEAR(up.at(1, 1), std::log(cols * 100.0 / (2.0 * 10.0 * 0.001)), 1e-9);
            continue;
        }
        EXPECT_EQ(err.rfind("You have specified TOPO_INDEX in your KORVA project file.\n"
                            "After 1000 iterative passes through the DEM to calculate\n",
                            0),
                  0u)
            << err;
        EXPECT_NE(err.find("simply put its output into the channels uniformly.\n"
                           "Program terminated.\n"),
                  std::string::npos);
    }
}

TEST_F(Topodex, NegativeIndexStopsTheRun) {
    // A drop of 1000 m over one edge: weight 500 against an area of 100 m2.
    terrain t(1, 2, 10.0, {1000.0, 0.0});
    const auto [o, err] = t.run();
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(err, "Warning: topodex routine has computed a negative topodex value\n"
                   "Check your input elevation file for large flat areas with\n"
                   "either the exact same elevation or nearly so (~0.0000x)\n"
                   "If you do not want to do this, you can remove the TOPO_INDEX card from your\n"
                   "KORVA project file, and the KORVA Sacramento Routine will the\n"
                   "simply put its output into the channels uniformly.\n"
                   "Program terminated.\n");
}

}  // namespace
