// Tests of the mapping-table file and the index maps on hand-written files: card
// words, fixed row columns, by-id assignment to the cells they belong to, the
// index-map checks, the special tables and the presence scan.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/core/errors.h"
#include "model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/input/index_maps.h"
#include "model/input/mapping_tables.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"
#include "model/core/series.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;

// A table row with the id in columns 1-6, the description in 7-86 and the
// values from column 87 on.
std::string row(int id, const std::string &description, const std::string &values) {
    char id_field[16];
    std::snprintf(id_field, sizeof id_field, "%-6d", id);
    std::string line = id_field;
    line += description;
    line.resize(86, ' ');
    return line + values + "\n";
}

// An index map of the described header and the given value lines.
std::string index_map(int rows, int cols, const std::string &values, double north = 300.0,
                      double west = 1000.0) {
    char header[256];
    std::snprintf(header, sizeof header,
                  "north: %.1f\nsouth: %.1f\neast: %.1f\nwest: %.1f\nrows: %d\ncols: %d\n", north,
                  north - rows * 100.0, west + cols * 100.0, west, rows, cols);
    return header + values;
}

// A run state with the grid given by mask rows ('1' inside, '0' outside),
// cells numbered in row order as the mask reader does.
void set_grid(model_state &s, const std::vector<std::string> &mask) {
    s.grid_rows = static_cast<int>(mask.size());
    s.grid_cols = static_cast<int>(mask[0].size());
    alloc_2d_int(s.cell_number_grid, s.grid_rows + 1, s.grid_cols + 1);
    int n = 0;
    for (int i = 1; i <= s.grid_rows; ++i)
        for (int j = 1; j <= s.grid_cols; ++j)
            if (mask[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)] == '1')
                s.cell_number_grid[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = ++n;
    s.cell_count = n;
}

class MappingTableTest : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }
    in_scratch_dir dir_;
    void write(const std::string &name, const std::string &text) { dir_.dir().write(name, text); }
};

const std::string header_line = "KORVA_INDEX_MAP_TABLES  version 1\n";

}  // namespace

// ---------------------------------------------------------------------------
// Card words

TEST(MappingTableCards, PrefixMatchInTableOrder) {
    EXPECT_EQ(index_map_card_id("ROUGHNESS \"land\""), card_roughness);
    EXPECT_EQ(index_map_card_id("ROUGHNESSES are prefixes"), card_roughness);
    EXPECT_EQ(index_map_card_id("GREEN_AMPT_INFILTRATION x"), card_green_ampt_infiltration);
    EXPECT_EQ(index_map_card_id("GREEN_AMPT_INITIAL_SOIL_MOISTURE x"),
              card_green_ampt_initial_moisture);
    EXPECT_EQ(index_map_card_id("RICHARDS_EQN_INFILTRAIION_HAVERCAMP"), card_richards_havercamp);
    EXPECT_EQ(index_map_card_id("RICHARDS_EQN_INFILTRATION_BROOKS"), card_richards_brooks);
    EXPECT_EQ(index_map_card_id("QVL_OTHER"), card_qvl_oth);
    EXPECT_EQ(index_map_card_id("QVL_C"), card_qvl_c);
    EXPECT_EQ(index_map_card_id("NUM_IDS 4"), card_num_ids);
    EXPECT_EQ(index_map_card_id("NUM_SED 2"), card_num_sed);
    EXPECT_EQ(index_map_card_id("INDEX_MAP a.idx \"x\""), card_index_map);
    EXPECT_EQ(index_map_card_id("PRECIP_CONC 1 2"), card_precip_conc);
    EXPECT_EQ(index_map_card_id("TIME_SERIES_INDEX"), card_time_series_index);
    // Case sensitive; free text and rows are not cards.
    EXPECT_EQ(index_map_card_id("roughness"), card_none);
    EXPECT_EQ(index_map_card_id("ID   DESCRIPTION"), card_none);
    EXPECT_EQ(index_map_card_id("1     clay"), card_none);
    EXPECT_EQ(index_map_card_id(""), card_none);
}

TEST(MappingTableCards, ValuesPerRow) {
    const int expected[24] = {0, 1, 2, 1, 6, 1, 9, 11, 5, 0, 8, 6, 7,
                              0, 2, 1, 3, 2, 1, 4, 3, 2, 3, 1};
    for (int id = 0; id <= 23; ++id) EXPECT_EQ(table_value_count(id), expected[id]) << id;
    EXPECT_EQ(table_value_count(24), 0);
    EXPECT_EQ(table_value_count(card_num_ids), 0);
}

TEST(MappingTableCards, IndexMapLineKeepsTheNameAsWritten) {
    index_map_list list;
    EXPECT_EQ(index_map_add("INDEX_MAP \"my maps/soil.idx\" \"Soil classes\" ", list), 1);
    EXPECT_EQ(index_map_add("INDEX_MAP land.idx \"Land use\"", list), 1);
    EXPECT_EQ(index_map_add("INDEX_MAP", list), 0);  // no file
    EXPECT_EQ(index_map_add("ROUGHNESS \"Land use\"", list), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].file, "my maps/soil.idx");
    EXPECT_EQ(list[0].name, "\"Soil classes\" ");
    EXPECT_EQ(list[1].name, "\"Land use\"");
    EXPECT_EQ(index_map_find(list, "\"Land use\"")->file, "land.idx");
    EXPECT_EQ(index_map_find(list, "\"Soil classes\""), nullptr);  // trailing blank differs
    index_map_free(list);
    EXPECT_TRUE(list.empty());
}

TEST(MappingTableCards, QuotedFields) {
    std::string text = "\"Nitrate in runoff\"  \"Land use\" \"no3.out\"";
    std::string out;
    take_quoted_field(text, out);
    EXPECT_EQ(out, "\"Nitrate in runoff\"");
    EXPECT_EQ(text, "\"Land use\" \"no3.out\"");
    take_quoted_field(text, out);
    EXPECT_EQ(out, "\"Land use\"");
    take_quoted_field(text, out);
    EXPECT_EQ(out, "\"no3.out\"");
    EXPECT_TRUE(text.empty());
    std::string empty;
    take_quoted_field(empty, out);
    EXPECT_EQ(out, "\"");
    std::string quoted = "\"a\" b \"c\"";
    remove_all_quotes(quoted);
    EXPECT_EQ(quoted, "a b c");
}

// ---------------------------------------------------------------------------
// Table rows

TEST_F(MappingTableTest, RowColumnsAreFixed) {
    // A number inside the description (columns 7-86) is never a value.
    write("rows.txt", row(12, "sandy loam 99.0", "0.035, 7.5") + row(3, "x", "") +
                          "7     short line 1.0\n" + row(0, "zero id", "1.0") +
                          row(4, "bad value", "abc") + "  x   no id\n");
    std::FILE *f = std::fopen("rows.txt", "r");
    ASSERT_NE(f, nullptr);
    double v[2] = {};
    int id = 0, bad = 0;
    EXPECT_EQ(read_table_row(id, v, f, 2, bad), table_row_ok);
    EXPECT_EQ(id, 12);
    EXPECT_DOUBLE_EQ(v[0], 0.035);
    EXPECT_DOUBLE_EQ(v[1], 7.5);
    EXPECT_EQ(read_table_row(id, v, f, 1, bad), table_row_too_short);  // ends at column 86
    EXPECT_EQ(read_table_row(id, v, f, 1, bad), table_row_too_short);
    EXPECT_EQ(read_table_row(id, v, f, 1, bad), table_row_bad_id);
    EXPECT_EQ(read_table_row(id, v, f, 1, bad), table_row_bad_value);
    EXPECT_EQ(bad, 1);
    EXPECT_EQ(read_table_row(id, v, f, 1, bad), table_row_bad_id);
    EXPECT_EQ(read_table_row(id, v, f, 1, bad), table_row_end_of_file);
    std::fclose(f);
}

TEST_F(MappingTableTest, ValuesByIdLaterRowWins) {
    const std::vector<int> ids = {2, 1, 2};
    const std::vector<double> table = {10.0, 11.0, 20.0, 21.0, 30.0, 31.0};
    std::vector<double> by_id;
    fill_values_by_id(3, 1, ids, table, 2, by_id);
    ASSERT_EQ(by_id.size(), 4u);
    EXPECT_DOUBLE_EQ(by_id[0], 21.0);  // id 1
    EXPECT_DOUBLE_EQ(by_id[1], 31.0);  // id 2: the later row
    EXPECT_DOUBLE_EQ(by_id[2], 0.0);   // id 3: no row
}

// ---------------------------------------------------------------------------
// Generic table reader

namespace {

// A file with two index maps and a ROUGHNESS table of three rows (id 2 twice).
std::string roughness_file(const std::string &card_name = "\"Land use\"") {
    return header_line + "INDEX_MAP \"soil.idx\" \"Soils\"\n" +
           "INDEX_MAP land.idx \"Land use\"\n" + "INTERCEPTION \"Soils\"\n" + "NUM_IDS 1\n" +
           "ID DESCRIPTION CAPACITY COEF\n" + row(1, "grass", "1.0 0.5") + "ROUGHNESS " +
           card_name + "\n" + "NUM_IDS 4\n" + "ID DESCRIPTION   N\n" + row(1, "forest", "0.40") +
           row(2, "pasture (superseded)", "0.05") + row(3, "road", "0.011") +
           row(2, "pasture", "0.035");
}

}  // namespace

TEST_F(MappingTableTest, GenericTableAssignsByCellNumber) {
    model_state s;
    set_grid(s, {"110", "011", "111"});  // cells 1..7
    write("map.cmt", roughness_file());
    // Index values outside the mask (0 and 9) are ignored whatever their size.
    write("land.idx", index_map(3, 3, "1 2 0\n9 3 1\n2 2 3\n", 5000.0, 200.0));
    array_1d<double> n;
    alloc_1d_double(n, s.cell_count);
    std::array<array_1d<double> *, 6> targets{&n};
    int ok = 0;
    const std::string out = capture_stdout(
        [&] { ok = read_index_map_table(s, "map.cmt", card_roughness, targets, 0, nullptr); });
    EXPECT_EQ(ok, 1) << out;
    EXPECT_EQ(error_record.fatal, 0);
    const double expected[8] = {0.0, 0.40, 0.035, 0.011, 0.40, 0.035, 0.035, 0.011};
    for (int k = 1; k <= 7; ++k) EXPECT_DOUBLE_EQ(n[static_cast<std::size_t>(k)], expected[k]) << k;
    // The index map's header goes to the run's map-header fields.
    EXPECT_DOUBLE_EQ(s.grid_north, 5000.0);
    EXPECT_DOUBLE_EQ(s.grid_west, 200.0);
    EXPECT_DOUBLE_EQ(s.grid_south, 4700.0);
}

TEST_F(MappingTableTest, InterceptionTableFillsTwoColumns) {
    model_state s;
    set_grid(s, {"11"});
    write("map.cmt", roughness_file());
    write("soil.idx", index_map(1, 2, "1 1\n"));
    array_1d<double> capacity, coefficient;
    alloc_1d_double(capacity, 2);
    alloc_1d_double(coefficient, 2);
    std::array<array_1d<double> *, 6> targets{&capacity, &coefficient};
    EXPECT_EQ(read_index_map_table(s, "map.cmt", card_interception, targets, 0, nullptr), 1);
    EXPECT_DOUBLE_EQ(capacity[2], 1.0);
    EXPECT_DOUBLE_EQ(coefficient[2], 0.5);
}

TEST_F(MappingTableTest, MisquotedTableNameIsAMissingTable) {
    model_state s;
    set_grid(s, {"11"});
    write("map.cmt", roughness_file("\"Land use"));
    write("land.idx", index_map(1, 2, "1 1\n"));
    array_1d<double> n;
    alloc_1d_double(n, 2);
    std::array<array_1d<double> *, 6> targets{&n};
    EXPECT_EQ(read_index_map_table(s, "map.cmt", card_roughness, targets, 0, nullptr), 0);
    EXPECT_EQ(error_record.code, 66);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(MappingTableTest, ZeroIdInsideTheMaskIsRefused) {
    model_state s;
    set_grid(s, {"11", "11"});
    write("map.cmt", roughness_file());
    write("land.idx", index_map(2, 2, "1 2\n0 3\n"));
    array_1d<double> n;
    alloc_1d_double(n, 4);
    std::array<array_1d<double> *, 6> targets{&n};
    int ok = 1;
    const std::string out = capture_stdout(
        [&] { ok = read_index_map_table(s, "map.cmt", card_roughness, targets, 0, nullptr); });
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(error_record.code, 71);
    EXPECT_EQ(error_record.int1, 2);
    EXPECT_EQ(error_record.int2, 1);
    EXPECT_STREQ(error_record.text2, "land.idx");
    EXPECT_NE(out.find("below 1"), std::string::npos);
}

TEST_F(MappingTableTest, IdAboveTheTableInsideTheMaskIsRefused) {
    model_state s;
    set_grid(s, {"11", "11"});
    write("map.cmt", roughness_file());
    write("land.idx", index_map(2, 2, "1 2\n3 4\n"));
    array_1d<double> n;
    alloc_1d_double(n, 4);
    std::array<array_1d<double> *, 6> targets{&n};
    EXPECT_EQ(read_index_map_table(s, "map.cmt", card_roughness, targets, 0, nullptr), 0);
    EXPECT_EQ(error_record.code, 71);
    EXPECT_EQ(error_record.int1, 2);
    EXPECT_EQ(error_record.int2, 2);
}

TEST_F(MappingTableTest, IndexMapSizeAndEndChecks) {
    model_state s;
    set_grid(s, {"11", "11"});
    write("map.cmt", roughness_file());
    array_1d<double> n;
    alloc_1d_double(n, 4);
    std::array<array_1d<double> *, 6> targets{&n};
    const struct {
        int rows, cols, code;
    } cases[] = {{3, 3, 72}, {3, 2, 73}, {2, 3, 74}};
    for (const auto &c : cases) {
        reset_process_globals();
        write("land.idx", index_map(c.rows, c.cols, "1 1 1 1 1 1 1 1 1\n"));
        EXPECT_EQ(read_index_map_table(s, "map.cmt", card_roughness, targets, 0, nullptr), 0);
        EXPECT_EQ(error_record.code, c.code);
    }
    reset_process_globals();
    write("land.idx", index_map(2, 2, "1 1\n1\n"));
    int ok = 1;
    const std::string out = capture_stdout(
        [&] { ok = read_index_map_table(s, "map.cmt", card_roughness, targets, 0, nullptr); });
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("Unexpected end of file in file: land.idx"), std::string::npos);
}

TEST_F(MappingTableTest, MissingFilesAndCounts) {
    model_state s;
    set_grid(s, {"1"});
    array_1d<double> n;
    alloc_1d_double(n, 1);
    std::array<array_1d<double> *, 6> targets{&n};
    EXPECT_EQ(read_index_map_table(s, "nofile.cmt", card_roughness, targets, 0, nullptr), 0);
    EXPECT_EQ(error_record.code, 64);
    EXPECT_STREQ(error_record.text2, "nofile.cmt");

    reset_process_globals();
    s.time_series_index_read = 0;
    write("map.cmt", roughness_file());  // land.idx does not exist
    EXPECT_EQ(read_index_map_table(s, "map.cmt", card_roughness, targets, 0, nullptr), 0);
    EXPECT_EQ(error_record.code, 65);
    EXPECT_STREQ(error_record.text2, "land.idx");

    reset_process_globals();
    write("zero.cmt", header_line + "INDEX_MAP land.idx \"L\"\nROUGHNESS \"L\"\nNUM_IDS 0\nID\n");
    EXPECT_EQ(read_index_map_table(s, "zero.cmt", card_roughness, targets, 0, nullptr), 0);
    EXPECT_EQ(error_record.code, 66);
}

TEST_F(MappingTableTest, UnreadableRowStopsTheReader) {
    model_state s;
    set_grid(s, {"1"});
    write("land.idx", index_map(1, 1, "1\n"));
    write("map.cmt", header_line + "INDEX_MAP land.idx \"L\"\nROUGHNESS \"L\"\nNUM_IDS 2\nID\n" +
                         row(1, "ok", "0.1") + "short row 0.2\n");
    array_1d<double> n;
    alloc_1d_double(n, 1);
    std::array<array_1d<double> *, 6> targets{&n};
    int ok = 1;
    const std::string out = capture_stdout(
        [&] { ok = read_index_map_table(s, "map.cmt", card_roughness, targets, 0, nullptr); });
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("row 2 of the ROUGHNESS table"), std::string::npos) << out;
}

TEST_F(MappingTableTest, PrecipConcLineIsReadForConstituentTables) {
    model_state s;
    set_grid(s, {"1"});
    write("land.idx", index_map(1, 1, "1\n"));
    write("map.cmt", header_line + "INDEX_MAP land.idx \"L\"\nQVL_N \"L\"\nNUM_IDS 1\n" +
                         "PRECIP_CONC 0.5 0.25 0.125\nID DESC\n" + row(1, "x", "1 2 3 4"));
    grow_double_array(s.precip_conc, 3, 0.0);
    array_1d<double> a, d;
    alloc_1d_double(a, 1);
    alloc_1d_double(d, 1);
    std::array<array_1d<double> *, 6> targets{&a, nullptr, nullptr, &d};
    EXPECT_EQ(read_index_map_table(s, "map.cmt", card_qvl_n, targets, 3, &s.precip_conc), 1);
    EXPECT_DOUBLE_EQ(s.precip_conc[1], 0.5);
    EXPECT_DOUBLE_EQ(s.precip_conc[3], 0.125);
    EXPECT_DOUBLE_EQ(a[1], 1.0);
    EXPECT_DOUBLE_EQ(d[1], 4.0);
}

// ---------------------------------------------------------------------------
// Presence scan

TEST_F(MappingTableTest, ScanFlagsTheTablesPresent) {
    write("land.idx", index_map(1, 1, "1\n"));
    write("map.cmt", roughness_file() + "SEDIMENTS\nNUM_SED 0\nWELL_TABLE \"Land use\"\n" +
                         "QVL_OTH \"Land use\"\nGROUNDWATER \"nowhere\"\n" +
                         "CONTAMINANT_TRANSPORT\n");
    std::array<int, 21> present{};
    // A table whose index map cannot be opened is refused, naming both files.
    EXPECT_EQ(capture_stdout([&] { scan_index_map_tables("map.cmt", present, 0); }),
              "Error: unable to open the index map soil.idx, named by an INDEX_MAP line of mapping "
              "table file map.cmt for its INTERCEPTION table\n\n");
    EXPECT_EQ(error_record.fatal, 1);
    reset_process_globals();
    write("soil.idx", index_map(1, 1, "1\n"));
    EXPECT_EQ(capture_stdout([&] { scan_index_map_tables("map.cmt", present, 0); }), "");
    std::array<int, 21> expected{};
    expected[0] = 1;   // ROUGHNESS
    expected[1] = 1;   // INTERCEPTION
    expected[8] = 1;   // SEDIMENTS
    expected[10] = 1;  // CONTAMINANT_TRANSPORT
    expected[13] = 1;  // WELL_TABLE
    expected[18] = 1;  // QVL_OTH
    EXPECT_EQ(present, expected);

    std::array<int, 21> zarn{};
    scan_index_map_tables("map.cmt", zarn, 1);
    std::array<int, 21> only_sediments{};
    only_sediments[8] = 1;
    EXPECT_EQ(zarn, only_sediments);
}

TEST_F(MappingTableTest, ScanOfAnEmptyOrMissingFile) {
    write("empty.cmt", "");
    std::array<int, 21> present{};
    present.fill(7);
    scan_index_map_tables("empty.cmt", present, 0);
    EXPECT_EQ(present, (std::array<int, 21>{}));
    std::array<int, 21> untouched{};
    untouched.fill(5);
    scan_index_map_tables("missing.cmt", untouched, 0);
    EXPECT_EQ(error_record.code, 64);
    EXPECT_EQ(untouched[3], 5);
}

TEST_F(MappingTableTest, RichardsIndexMapByForm) {
    write("map.cmt", header_line + "INDEX_MAP brooks.idx \"B\"\nINDEX_MAP hav.idx \"H\"\n" +
                         "RICHARDS_EQN_INFILTRAIION_HAVERCAMP \"H\"\n" +
                         "RICHARDS_EQN_INFILTRATION_BROOKS \"B\"\nNUM_IDS 1\n");
    std::string name;
    find_richards_index_map("map.cmt", 1, name);
    EXPECT_EQ(name, "brooks.idx");
    find_richards_index_map("map.cmt", 2, name);
    EXPECT_EQ(name, "hav.idx");
    find_richards_index_map("none.cmt", 2, name);
    EXPECT_EQ(name, "");
    std::FILE *f = open_richards_soil_table("map.cmt", 1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_num_ids(f), 1);  // positioned on the line after the card
    std::fclose(f);
}

// ---------------------------------------------------------------------------
// Special tables

TEST_F(MappingTableTest, WetlandsNumberedInOrderOfFirstAppearance) {
    model_state s;
    set_grid(s, {"111", "111"});
    write("wet.idx", index_map(2, 3, "0 9 9\n5 0 1\n"));
    write("map.cmt", header_line + "INDEX_MAP wet.idx \"W\"\nWETLAND_PROPERTIES \"W\"\n" +
                         "NUM_IDS 3\nID\n" + row(1, "marsh", "1000 2000 86400 4000 43200 8640 7") +
                         row(5, "bog", "1 2 3 4 5 6 7") + row(9, "fen", "10 20 30 40 50 60 70"));
    array_1d<int> wet;
    alloc_1d_int(wet, s.cell_count);
    int count = 0;
    std::vector<wetland_record> records;
    ASSERT_EQ(read_wetland_table(s, "map.cmt", wet, count, records), 1);
    EXPECT_EQ(count, 3);
    const int expected[7] = {0, 0, 1, 1, 2, 0, 3};  // 9 first, then 5, then 1
    for (int k = 1; k <= 6; ++k) EXPECT_EQ(wet[static_cast<std::size_t>(k)], expected[k]) << k;
    ASSERT_EQ(records.size(), 10u);  // 0..largest id
    const wetland_record &marsh = records[3];
    EXPECT_DOUBLE_EQ(marsh.values[0], 1.0);
    EXPECT_DOUBLE_EQ(marsh.values[1], 2.0);
    EXPECT_DOUBLE_EQ(marsh.values[2], 1.0);
    EXPECT_DOUBLE_EQ(marsh.values[3], 4.0);
    EXPECT_DOUBLE_EQ(marsh.values[4], 0.5);
    EXPECT_DOUBLE_EQ(marsh.values[5], 0.1);
    EXPECT_DOUBLE_EQ(marsh.values[6], 7.0);
}

TEST_F(MappingTableTest, WetlandLimitsAndCounts) {
    model_state s;
    set_grid(s, {"11"});
    array_1d<int> wet;
    alloc_1d_int(wet, 2);
    int count = 0;
    std::vector<wetland_record> records;
    // An id above 300 is refused even with few wetlands (and before any sizing).
    write("wet.idx", index_map(1, 2, "301 1\n"));
    write("map.cmt", header_line + "INDEX_MAP wet.idx \"W\"\nWETLAND_PROPERTIES \"W\"\n" +
                         "NUM_IDS 2\nID\n" + row(1, "a", "1 1 1 1 1 1 1") +
                         row(301, "b", "1 1 1 1 1 1 1"));
    EXPECT_EQ(read_wetland_table(s, "map.cmt", wet, count, records), 0);
    EXPECT_EQ(error_record.code, 68);

    reset_process_globals();
    write("wet.idx", index_map(1, 2, "1 1\n"));
    EXPECT_EQ(read_wetland_table(s, "map.cmt", wet, count, records), 0);
    EXPECT_EQ(error_record.code, 67);
    EXPECT_EQ(error_record.int1, 1);
    EXPECT_EQ(error_record.int2, 2);

    // Same count, but the map's id 2 has no row.
    reset_process_globals();
    write("wet.idx", index_map(1, 2, "1 2\n"));
    write("map2.cmt", header_line + "INDEX_MAP wet.idx \"W\"\nWETLAND_PROPERTIES \"W\"\n" +
                          "NUM_IDS 2\nID\n" + row(1, "a", "1 1 1 1 1 1 1") +
                          row(1, "a again", "1 1 1 1 1 1 1"));
    int ok = 1;
    capture_stdout([&] { ok = read_wetland_table(s, "map2.cmt", wet, count, records); });
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(MappingTableTest, WellsNewestFirst) {
    model_state s;
    set_grid(s, {"111"});
    write("wells.idx", index_map(1, 3, "0 2 1\n"));
    write("map.cmt", header_line + "INDEX_MAP wells.idx \"Wells\"\nWELL_TABLE \"Wells\"\n" +
                         "NUM_IDS 2\nID\n" + row(1, "pump", "0.0 -0.02 9") +
                         row(2, "series", "1 7 9"));
    std::vector<well_record> wells;
    array_2d<int> grid;
    ASSERT_EQ(read_well_table(s, "map.cmt", wells, grid), 1);
    ASSERT_EQ(wells.size(), 2u);
    EXPECT_EQ(wells[0].id, 2);
    EXPECT_EQ(wells[0].kind, 1);
    EXPECT_EQ(wells[0].series_id, 7);
    EXPECT_DOUBLE_EQ(wells[0].rate, 0.0);
    EXPECT_EQ(wells[1].id, 1);
    EXPECT_EQ(wells[1].kind, 0);
    EXPECT_DOUBLE_EQ(wells[1].rate, -0.02);
    EXPECT_EQ(grid[1][1], 0);  // cells without a well keep index 0
    EXPECT_EQ(grid[1][2], 2);
    EXPECT_EQ(grid[1][3], 1);
}

TEST_F(MappingTableTest, SedimentsFromColumn45) {
    std::string sand = "1     sand";
    sand.resize(44, ' ');
    std::string clay = "2     clay 99 99";
    clay.resize(44, ' ');
    write("map.cmt", header_line + "INDEX_MAP x.idx \"X\"\nSEDIMENTS\nNUM_SED 2\nID DESC\n" +
                         sand + "0.5 2.65 sand.out\n" + clay + "0.002, 2.6 \"clay out.txt\"\n");
    array_1d<double> first, second;
    int count = 0;
    std::vector<std::string> names;
    ASSERT_EQ(read_sediment_tables("map.cmt", first, second, count, names), 1);
    ASSERT_EQ(count, 2);
    EXPECT_DOUBLE_EQ(first[1], 0.5);
    EXPECT_DOUBLE_EQ(second[1], 2.65);
    EXPECT_DOUBLE_EQ(first[2], 0.002);
    EXPECT_EQ(names[1], "sand.out");
    EXPECT_EQ(names[2], "clay out.txt");
}

TEST_F(MappingTableTest, SoilErosionSedimentCountMustMatch) {
    model_state s;
    set_grid(s, {"11"});
    write("e.idx", index_map(1, 2, "1 2\n"));
    const std::string table = header_line + "INDEX_MAP e.idx \"E\"\nSOIL_EROSION_PROPS \"E\"\n" +
                              "NUM_IDS 2\nNUM_SED 2\nID DESC\n" +
                              row(1, "a", "1 2 3 4 5 6 7 8 0.8 0.2") +
                              row(2, "b", "11 12 13 14 15 16 17 18 0.3 0.7");
    write("map.cmt", table);
    array_1d<double> c1, c8;
    alloc_1d_double(c1, 2);
    alloc_1d_double(c8, 2);
    array_2d<double> per_sed;
    alloc_2d_double(per_sed, 2, 2, "per_sed");
    std::array<array_1d<double> *, 8> targets{&c1, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, &c8};
    EXPECT_EQ(read_soil_erosion_table(s, "map.cmt", 3, targets, &per_sed), 0);
    EXPECT_EQ(error_record.code, 91);
    EXPECT_EQ(error_record.int1, 3);
    EXPECT_EQ(error_record.int2, 2);

    reset_process_globals();
    ASSERT_EQ(read_soil_erosion_table(s, "map.cmt", 2, targets, &per_sed), 1);
    EXPECT_DOUBLE_EQ(c1[2], 11.0);
    EXPECT_DOUBLE_EQ(c8[1], 8.0);
    EXPECT_DOUBLE_EQ(per_sed[1][2], 0.2);
    EXPECT_DOUBLE_EQ(per_sed[2][1], 0.3);
    std::string bad = table;
    write("map.cmt", bad.replace(bad.find("0.3 0.7"), 7, "0.3 0.4"));  // shares that do not make the soil
    EXPECT_EQ(read_soil_erosion_table(s, "map.cmt", 2, targets, &per_sed), 0);
}

TEST_F(MappingTableTest, ContaminantTables) {
    model_state s;
    set_grid(s, {"11"});
    write("c.idx", index_map(1, 2, "2 1\n"));
    const std::string good = header_line + "INDEX_MAP c.idx \"Land use\"\n" +
                             "CONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n" +
                             "\"Nitrate load\" \"Land use\" \"no3.out\"\n" + "PRECIP_CONC 0.7\n" +
                             "NUM_IDS 2\nID\n" + row(1, "a", "1 2 3 4 5 6") +
                             row(2, "b", "7 8 9 10 11 12");
    write("map.cmt", good);
    array_2d<double> decay, last;
    contaminant_tables t;
    t.targets[0] = &decay;
    t.targets[5] = &last;
    ASSERT_EQ(read_contaminant_tables(s, "map.cmt", t), 1);
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.descriptions[1], "Nitrate load");
    EXPECT_EQ(t.output_files[1], "no3.out");
    EXPECT_EQ(t.index_files[1], "c.idx");
    EXPECT_DOUBLE_EQ(s.precip_conc[1], 0.7);
    EXPECT_DOUBLE_EQ(decay[1][1], 7.0);
    EXPECT_DOUBLE_EQ(decay[1][2], 1.0);
    EXPECT_DOUBLE_EQ(last[1][1], 12.0);

    // A name line with too few quotes is refused, not read past its end.
    reset_process_globals();
    write("bad.cmt", header_line + "INDEX_MAP c.idx \"Land use\"\n" +
                         "CONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n\"Nitrate load\" \"Land use\n");
    contaminant_tables bad;
    int ok = 1;
    capture_stdout([&] { ok = read_contaminant_tables(s, "bad.cmt", bad); });
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(error_record.code, 69);

    // An index-map name that matches no INDEX_MAP line.
    reset_process_globals();
    write("bad2.cmt", header_line + "INDEX_MAP c.idx \"Land use\"\n" +
                          "CONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n\"N\" \"Soils\" \"n.out\"\n");
    capture_stdout([&] { ok = read_contaminant_tables(s, "bad2.cmt", bad); });
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(error_record.code, 69);
}

// Counts read from the file cannot size storage beyond what the file holds: a
// count of more constituents than the rest of the file can carry is refused
// before anything is allocated for it, and a count of rows sizes nothing.
TEST_F(MappingTableTest, CountsBeyondTheRestOfTheFileAreRefused) {
    write("two.txt", "abc\ndef");  // 7 characters: two lines of 3, the last without its end
    std::FILE *f = std::fopen("two.txt", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(lines_can_follow(f, 2, 3));
    EXPECT_FALSE(lines_can_follow(f, 3, 3));
    EXPECT_FALSE(lines_can_follow(f, 2, 4));
    EXPECT_TRUE(lines_can_follow(f, 0, 1000));
    std::string line;
    read_line(line, f);  // the position is kept: "def" is left
    EXPECT_TRUE(lines_can_follow(f, 1, 3));
    EXPECT_FALSE(lines_can_follow(f, 2, 2));
    EXPECT_TRUE(read_line(line, f));
    EXPECT_EQ(line, "def");
    std::fclose(f);

    model_state s;
    set_grid(s, {"11"});
    write("c.idx", index_map(1, 2, "2 1\n"));
    const std::string head = header_line + "INDEX_MAP c.idx \"L\"\nCONTAMINANT_TRANSPORT\n";
    struct {
        const char *file;
        std::string text;
        const char *message;
    } cases[] = {
        {"contam.cmt", head + "NUM_CONTAM 300000000\n\"N\" \"L\" \"n.out\"\n",
         "Error: NUM_CONTAM 300000000 in mapping table file contam.cmt is more constituents than "
         "the rest of the file holds\n"},
        // A count of rows far beyond the file: the table ends with the file.
        {"ids.cmt",
         head + "NUM_CONTAM 1\n\"N\" \"L\" \"n.out\"\nPRECIP_CONC 0.7\nNUM_IDS 2000000000\nID\n" +
             row(1, "a", "1 2 3 4 5 6"),
         "Error: the CONTAMINANT_TRANSPORT table in mapping table file ids.cmt ends after 1 of its "
         "rows\n"},
    };
    for (const auto &k : cases) {
        reset_process_globals();
        write(k.file, k.text);
        array_2d<double> first;
        contaminant_tables tables;
        tables.targets[0] = &first;
        int ok = 1;
        const std::string out = capture_stdout([&] { ok = read_contaminant_tables(s, k.file, tables); });
        EXPECT_EQ(ok, 0) << k.file;
        EXPECT_EQ(error_record.fatal, 1) << k.file;
        EXPECT_NE(out.find(k.message), std::string::npos) << out;
    }
    // Rows that fill the file exactly, the last without its line end, are read.
    reset_process_globals();
    std::string exact = head + "NUM_CONTAM 1\n\"N\" \"L\" \"n.out\"\nPRECIP_CONC 0.7\nNUM_IDS 2\nID\n" +
                        row(1, "a", "1 2 3 4 5 6") + row(2, "b", "7 8 9 10 11 12");
    exact.pop_back();
    write("exact.cmt", exact);
    array_2d<double> first;
    contaminant_tables tables;
    tables.targets[0] = &first;
    EXPECT_EQ(read_contaminant_tables(s, "exact.cmt", tables), 1);
    EXPECT_DOUBLE_EQ(first[1][1], 7.0);  // cell 1 has id 2
}

TEST_F(MappingTableTest, TimeSeriesIndex) {
    // Absent: no error, empty list.
    write("map.cmt", roughness_file());
    EXPECT_EQ(read_time_series_index("map.cmt"), 1);
    EXPECT_TRUE(time_series_id_list.empty());
    EXPECT_EQ(error_record.fatal, 0);

    auto series = std::make_unique<time_series>();
    series->name = "inflow";
    time_series *inflow = series.get();
    time_series_list.push_back(std::move(series));
    write("ts.cmt", header_line + "TIME_SERIES_INDEX\nNUM_IDS 1\nID NAME\n4     inflow\n");
    EXPECT_EQ(read_time_series_index("ts.cmt"), 1);
    ASSERT_EQ(time_series_id_list.size(), 1u);
    EXPECT_EQ(time_series_id_list[0].id, 4);
    EXPECT_EQ(time_series_id_list[0].series, inflow);

    write("ts2.cmt", header_line + "TIME_SERIES_INDEX\nNUM_IDS 1\nID NAME\n5     outflow\n");
    int ok = 1;
    const std::string out = capture_stdout([&] { ok = read_time_series_index("ts2.cmt"); });
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("outflow"), std::string::npos);
}

// Each refused row names its table, its row and the mapping table file; a row whose
// number runs across characters 86 and 87 is refused rather than read from its middle.
TEST_F(MappingTableTest, EveryRefusedRowNamesTheFile) {
    std::string early = row(1, "loam", "1.09 11.0");
    early.erase(84, 2);  // the values now begin at character 85
    const struct {
        std::string rows, message;
    } cases[] = {
        {row(1, "loam", "0.4 11.0") + "x", "row 2 of the ROUGHNESS table in mapping table file t.cmt has no id"},
        {row(1, "loam", "0.4 11.0") + "2     short\n", "row 2 of the ROUGHNESS table in mapping table file t.cmt ends before column 87"},
        {row(1, "loam", "0.4 abc"), "row 1 of the ROUGHNESS table in mapping table file t.cmt: value 2 is missing"},
        {early, "row 1 of the ROUGHNESS table in mapping table file t.cmt: a number runs across characters 86 and 87"},
        {row(1, "loam", "0.4 11.0"), "the ROUGHNESS table in mapping table file t.cmt ends after 1 of its rows"},
        // A description that ends in character 85 with character 86 blank is read.
        {row(1, std::string(77, 'd') + " 3", "0.4 11.0") + row(2, "loam", "1 2"), ""},
    };
    for (const auto &c : cases) {
        reset_process_globals();
        write("t.cmt", c.rows);
        std::FILE *f = std::fopen("t.cmt", "r");
        ASSERT_NE(f, nullptr);
        table_rows rows;
        const std::string out = capture_stdout([&] { read_table_rows(f, 2, 2, "ROUGHNESS", "t.cmt", rows); });
        std::fclose(f);
        EXPECT_TRUE(c.message.empty() ? out.empty() : out.find(c.message) != std::string::npos) << out;
        EXPECT_EQ(error_record.fatal, c.message.empty() ? 0 : 1) << out;
        EXPECT_EQ(c.message.empty() ? rows.values[1] : 11.0, 11.0);  // read from character 87
    }
}
