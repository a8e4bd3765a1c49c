// Tests of the grid map reader on hand-written maps in each read mode: packing by
// mask cell, the size checks (made before any value is stored), malformed headers,
// short files and rows, the zero-value warnings; and equality with the reader it
// replaced on generated maps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "bench/reference/grid_map_reference.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "support/run_program.h"

namespace {

std::string header(int rows, int cols) {
    return "north: 4000.5\nsouth: 3000.25\neast: 800.0\nwest: 200.0\nrows: " +
           std::to_string(rows) + "\ncols: " + std::to_string(cols) + "\n";
}

struct map_result {
    double north = -1, south = -1, east = -1, west = -1;
    int rows = -1, cols = -1;
    std::string out;
};

class GridMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        alloc_2d_int(mask, 2, 3);
        // The mask of a 2 x 3 grid with cells (1,1), (1,3) and (2,2).
        mask[1][1] = 1;
        mask[1][3] = 1;
        mask[2][2] = 1;
        alloc_1d_double(first, 3);
        alloc_1d_double(second, 3);
        alloc_1d_int(ints, 3);
    }
    void TearDown() override { reset_process_globals(); }

    map_result read(const std::string &text, int mode, int expected_rows = 2,
                    int expected_cols = 3) {
        dir.write("map.asc", text);
        const std::string path = (dir.path() / "map.asc").string();
        std::FILE *f = std::fopen(path.c_str(), "r");
        EXPECT_NE(f, nullptr);
        map_result r;
        testing::internal::CaptureStdout();
        read_grid_map(f, "map.asc", mode, &r.north, &r.south, &r.east, &r.west, &r.rows, &r.cols,
                      mask, first, second, ints, expected_rows, expected_cols);
        r.out = testing::internal::GetCapturedStdout();
        std::fclose(f);
        return r;
    }

    testsupport::scratch_dir dir;
    array_2d<int> mask;
    array_1d<double> first, second;
    array_1d<int> ints;
};

TEST_F(GridMapTest, RealModePacksMaskCellsInRowOrder) {
    const auto r = read(header(2, 3) + "1.5 2.5 3.5\n4.5 5.5 6.5\n", grid_map_cells_double);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(r.north, 4000.5);
    EXPECT_DOUBLE_EQ(r.south, 3000.25);
    EXPECT_DOUBLE_EQ(r.east, 800.0);
    EXPECT_DOUBLE_EQ(r.west, 200.0);
    EXPECT_EQ(r.rows, 2);
    EXPECT_EQ(r.cols, 3);
    EXPECT_DOUBLE_EQ(first[1], 1.5);
    EXPECT_DOUBLE_EQ(first[2], 3.5);
    EXPECT_DOUBLE_EQ(first[3], 5.5);
    EXPECT_DOUBLE_EQ(second[1], 0.0);  // mode 1 leaves the second array alone
    EXPECT_EQ(r.out, "");
}

TEST_F(GridMapTest, SecondRealModeFillsTheSecondArray) {
    const auto r = read(header(2, 3) + "7 8 9\n10,11,12\n", grid_map_cells_double2);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(second[1], 7.0);
    EXPECT_DOUBLE_EQ(second[2], 9.0);
    EXPECT_DOUBLE_EQ(second[3], 11.0);
    EXPECT_DOUBLE_EQ(first[1], 0.0);
    EXPECT_EQ(r.out, "");
}

TEST_F(GridMapTest, IntegerGridModeStoresEveryValueInFreeLayout) {
    const auto r = read(header(2, 3) + "0 1 2 3\n4\n5\n", grid_map_full_int);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(mask[1][1], 0);
    EXPECT_EQ(mask[1][2], 1);
    EXPECT_EQ(mask[1][3], 2);
    EXPECT_EQ(mask[2][1], 3);
    EXPECT_EQ(mask[2][2], 4);
    EXPECT_EQ(mask[2][3], 5);
    EXPECT_EQ(r.out, "");
}

TEST_F(GridMapTest, IntegerCellModePacksMaskCells) {
    const auto r = read(header(2, 3) + "11 12 13\n14 15 16\n", grid_map_cells_int);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(ints[1], 11);
    EXPECT_EQ(ints[2], 13);
    EXPECT_EQ(ints[3], 15);
    EXPECT_EQ(r.out, "");
}

TEST_F(GridMapTest, ShortRowIsRefusedEvenOutsideTheMask) {
    // Row 2 ends after (2,2); (2,3) lies outside the mask but is missing all the same.
    const auto r = read(header(2, 3) + "1 2 3\n0\t0\r\n", grid_map_cells_double);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(r.out, "Error: map map.asc, row 2 has 2 values, COLS is 3\n\n");
}

TEST_F(GridMapTest, BrokenRealValuesAreRefusedNamingMapRowAndColumn) {
    struct bad_map {
        const char *values;
        const char *message;
    };
    const bad_map cases[] = {
        {"1 2 3\n4\n", "Error: map map.asc, row 2 has 1 values, COLS is 3"},
        {"abc 2 3\n4 5 6\n", "Error: map map.asc, row 1, column 1: \"abc\" is not a finite number"},
        {"1 2 nan\n4 5 6\n", "Error: map map.asc, row 1, column 3: \"nan\" is not a finite number"},
        {"1 2 3\n4 inf 6\n", "Error: map map.asc, row 2, column 2: \"inf\" is not a finite number"},
        // Outside the mask too: (1,2) and (2,1).
        {"1 nan 3\n4 5 6\n", "Error: map map.asc, row 1, column 2: \"nan\" is not a finite number"},
        {"1 2 3\n-Infinity 5 6\n", "Error: map map.asc, row 2, column 1: \"-Infinity\" is not a finite number"},
        {"1 2 3\n1e400 5 6\n", "Error: map map.asc, row 2, column 1: \"1e400\" is not a finite number"},
        {"1 2 3\n4 1e999 6\n", "Error: map map.asc, row 2, column 2: \"1e999\" is not a finite number"},
        {"1.5x 2 3\n4 5 6\n", "Error: map map.asc, row 1, column 1: \"1.5x\" is not a finite number"},
        {"1 2 3 4\n4 5 6\n", "Error: map map.asc, row 1 holds more than 3 values: \"4\""},
        {"1 2 3\n4 5 6\n7 8 9\n", "Error: map map.asc holds data after its last row: \"7\""},
    };
    for (const bad_map &c : cases) {
        const auto r = read(header(2, 3) + c.values, grid_map_cells_double);
        EXPECT_EQ(r.out, std::string(c.message) + "\n\n") << c.values;
        EXPECT_EQ(error_record.fatal, 1) << c.values;
        reset_process_globals();
    }
    // Outside the mask a word that is no number reads as 0 (a no-data mark).
    const auto r = read(header(2, 3) + "1 x 3\n* 5 -\n\n  \n", grid_map_cells_double);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(first[3], 5.0);
}

TEST_F(GridMapTest, BrokenIntegerValuesAreRefused) {
    struct bad_map {
        const char *values;
        int mode;
        const char *message;
    };
    const bad_map cases[] = {
        {"0 1 12345678901234567890\n0 1 0\n", grid_map_full_int,
         "Error: unreadable value at row 1, column 3 of map: map.asc"},
        {"0 1 1.5\n0 1 0\n", grid_map_full_int,
         "Error: unreadable value at row 1, column 3 of map: map.asc"},
        {"0 1 0\n0 1 0 7\n", grid_map_full_int,
         "Error: map map.asc holds data after its last row: \"7\""},
        {"1 2 3\n4 5 6\n\n9\n", grid_map_cells_int,
         "Error: map map.asc holds data after its last row: \"9\""},
    };
    for (const bad_map &c : cases) {
        const auto r = read(header(2, 3) + c.values, c.mode);
        EXPECT_EQ(r.out, std::string(c.message) + "\n\n") << c.values;
        EXPECT_EQ(error_record.fatal, 1) << c.values;
        reset_process_globals();
    }
}

TEST_F(GridMapTest, AllZeroMapGivesBothWarnings) {
    const auto r = read(header(2, 3) + "0 0 0\n0 0 0\n", grid_map_cells_double);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(r.out,
              "Warning: Map contains only zero values. Map: map.asc\n"
              "Warning: Map contains 3 cells with zero values. Map: map.asc\n");
}

TEST_F(GridMapTest, AllZeroIntegerMapGivesOnlyTheFirstWarning) {
    const auto r = read(header(2, 3) + "0 0 0 0 0 0\n", grid_map_cells_int);
    EXPECT_EQ(r.out, "Warning: Map contains only zero values. Map: map.asc\n");
}

TEST_F(GridMapTest, OversizedHeaderIsRefusedBeforeAnyValueIsStored) {
    mask[2][3] = 77;
    const auto r = read(header(3, 3) + "1 2 3\n4 5 6\n7 8 9\n", grid_map_full_int);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(error_record.code, 0);  // reported
    EXPECT_EQ(r.rows, 3);
    EXPECT_EQ(r.out, "Incorrect number of rows in map: map.asc\n  map map.asc: its header gives 3 rows "
                     "(ROWS) and 3 columns (COLS); 2 rows and 3 columns expected\n\n");
    // Nothing was written into the grid.
    EXPECT_EQ(mask[1][1], 1);
    EXPECT_EQ(mask[1][2], 0);
    EXPECT_EQ(mask[2][3], 77);
}

TEST_F(GridMapTest, UndersizedMapNamesTheWrongDimension) {
    auto r = read(header(2, 2) + "1 2\n3 4\n", grid_map_cells_double);
    EXPECT_EQ(r.out, "Incorrect number of columns in map: map.asc\n  map map.asc: its header gives 2 rows "
                     "(ROWS) and 2 columns (COLS); 2 rows and 3 columns expected\n\n");
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_DOUBLE_EQ(first[1], 0.0);

    reset_process_globals();
    r = read(header(1, 2) + "1 2\n", grid_map_cells_double);
    EXPECT_EQ(r.out, "Incorrect number of rows and columns in map: map.asc\n  map map.asc: its header "
                     "gives 1 rows (ROWS) and 2 columns (COLS); 2 rows and 3 columns expected\n\n");
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(GridMapTest, MalformedHeaderIsAnErrorNotAStaleSize) {
    const std::string text =
        "north: 1\nsouth: 0\neast: 1\nwest: 0\nrows: two\ncols: 3\n1 2 3\n4 5 6\n";
    const auto r = read(text, grid_map_cells_double);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(r.rows, 0);
    EXPECT_EQ(r.cols, 0);
    EXPECT_EQ(r.out, "Error: unable to read the header of map: map.asc\n  map map.asc must begin with six "
                     "lines of a word and a number: north, south, east, west, rows, cols\n\n");
    EXPECT_DOUBLE_EQ(first[1], 0.0);
}

TEST_F(GridMapTest, EndOfFileInsideTheValues) {
    auto r = read(header(2, 3) + "1 2 3\n", grid_map_cells_double);
    EXPECT_EQ(r.out, "Unexpected end of file in file: map.asc\n  map map.asc: the file ends in row 2; "
                     "its header gives 2 rows (ROWS) of 3 values (COLS)\n\n");
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_DOUBLE_EQ(first[1], 1.0);  // what was stored so far stays
    EXPECT_DOUBLE_EQ(first[2], 3.0);

    reset_process_globals();
    r = read(header(2, 3) + "1 2 3 4\n", grid_map_full_int);
    EXPECT_EQ(r.out, "Unexpected end of file in file: map.asc\n  map map.asc: the file ends in row 2; "
                     "its header gives 2 rows (ROWS) of 3 values (COLS)\n\n");
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(GridMapTest, UnreadableIntegerStopsTheReading) {
    const auto r = read(header(2, 3) + "1 2 x 4 5 6\n", grid_map_full_int);
    EXPECT_EQ(r.out, "Error: unreadable value at row 1, column 3 of map: map.asc\n\n");
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(GridMapTest, PackedDestinationTooSmallIsRefused) {
    alloc_1d_double(first, 2);  // three mask cells, room for two
    const auto r = read(header(2, 3) + "1 2 3\n4 5 6\n", grid_map_cells_double);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(r.out, "Error: the destination of map map.asc is smaller than the map\n\n");
    EXPECT_DOUBLE_EQ(first[2], 3.0);
}

// Every line the reader prints about a map, refusal or warning, names the map:
// broken maps of each kind in every read mode.
TEST_F(GridMapTest, EveryMessageNamesTheMap) {
    const std::string broken[] = {
        "", "ncols 3\nnrows 2\nxllcenter 1\nyllcenter 1\ncellsize 1\nNODATA_value -9\n",
        header(3, 3) + "1 2 3\n4 5 6\n7 8 9\n", header(2, 2) + "1 2\n3 4\n", header(2, 3) + "1 2 3\n",
        header(2, 3) + "1 2 3\n4 5\n", header(2, 3) + "1 2 3\n4 5 6 7\n", header(2, 3) + "1 x 3\n4 nan 6\n",
        header(2, 3) + "1 2 3\n4 5 6\n7\n", header(2, 3) + "0 0 0\n0 0 0\n",
    };
    for (const int mode : {grid_map_cells_double, grid_map_cells_double2, grid_map_full_int,
                           grid_map_cells_int}) {
        for (const std::string &text : broken) {
            reset_process_globals();
            const auto r = read(text, mode);
            ASSERT_NE(r.out, "") << mode << "\n" << text;
            for (const std::string &line : testsupport::split_lines(r.out))
                EXPECT_TRUE(line.empty() || line.find("map.asc") != std::string::npos) << line;
        }
    }
}

}  // namespace

// The reader gives the values of the reader it replaced, bit for bit, on generated
// maps of every number form (and its messages on the same maps).
TEST(GridMapEquality, SameBitsAsTheReferenceReader) {
    const char *forms[] = {"%.17g", "%.3f", "%g", "%+.6e", "%.0f", "%a", "\"%.9g\""};
    std::mt19937_64 random(43);
    const int rows = 37, cols = 53;
    for (int trial = 0; trial < 24; ++trial) {
        const int mode = 1 + trial % 4;
        const bool reals = mode == grid_map_cells_double || mode == grid_map_cells_double2;
        std::string text = "north: 1\nsouth: 0\neast: 1\nwest: 0\nrows: 37\ncols: 53\n";
        array_2d<int> mask[2];
        array_1d<double> first[2], second[2];
        array_1d<int> ints[2];
        for (int k = 0; k < 2; ++k) {
            alloc_2d_int(mask[k], rows, cols);
            alloc_1d_double(first[k], rows * cols);
            alloc_1d_double(second[k], rows * cols);
            alloc_1d_int(ints[k], rows * cols);
        }
        for (int r = 1; r <= rows; ++r) {
            for (int c = 1; c <= cols; ++c) {
                const bool inside = random() % 5 != 0;
                mask[0][r][c] = mask[1][r][c] = inside;
                char word[64];
                const double x = std::ldexp(static_cast<double>(random() % 2000001) - 1e6,
                                            static_cast<int>(random() % 60) - 40);
                const long long v = static_cast<long long>(random() % 200001) - 100000;
                if (!reals)
                    std::snprintf(word, sizeof word, v < 0 || random() % 7 ? "%lld" : "+%lld", v);
                else if (!inside && random() % 4 == 0)
                    std::snprintf(word, sizeof word, "%s", random() % 2 ? "*" : "1e-320");
                else
                    std::snprintf(word, sizeof word, forms[random() % 7], random() % 9 ? x : 0.0);
                text += word;
                text += c < cols ? (random() % 3 ? " " : ",\t") : (reals ? "\r\n" : " ");
            }
        }
        testsupport::scratch_dir dir;
        dir.write("map.asc", text);
        std::string out[2];
        int fatal[2];
        for (int k = 0; k < 2; ++k) {
            reset_process_globals();
            std::FILE *f = std::fopen((dir.path() / "map.asc").string().c_str(), "r");
            ASSERT_NE(f, nullptr);
            double corner[4];
            int size[2];
            testing::internal::CaptureStdout();
            (k == 0 ? read_grid_map : reference::read_grid_map)(
                f, "map.asc", mode, &corner[0], &corner[1], &corner[2], &corner[3], &size[0],
                &size[1], mask[k], first[k], second[k], ints[k], rows, cols);
            out[k] = testing::internal::GetCapturedStdout();
            fatal[k] = error_record.fatal;
            std::fclose(f);
        }
        EXPECT_EQ(fatal[0], 0) << out[0];
        EXPECT_EQ(out[0], out[1]);
        const std::size_t cells = static_cast<std::size_t>(rows * cols + 1);
        EXPECT_EQ(std::memcmp(first[0].data(), first[1].data(), cells * sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(second[0].data(), second[1].data(), cells * sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(ints[0].data(), ints[1].data(), cells * sizeof(int)), 0);
        EXPECT_EQ(std::memcmp(mask[0].data(), mask[1].data(),
                              static_cast<std::size_t>((rows + 1) * (cols + 1)) * sizeof(int)),
                  0);
    }
    reset_process_globals();
}
