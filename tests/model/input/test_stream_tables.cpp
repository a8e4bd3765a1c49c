// Tests of the stream mapping-table file and its stream maps on hand-written
// files: card words, the presence scan, the map header checks, values by id on
// every node of every link (worked by hand), and the refusals of bad ids and rows.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "model/core/errors.h"
#include "model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/input/stream_tables.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;

// A table row: id in columns 1-6, description to column 86, values from 87.
std::string row(int id, const std::string &values) {
    std::string line = std::to_string(id);
    line.resize(86, ' ');
    return line + values + "\n";
}

const std::string header = "KORVA_STREAM_INDEX_MAP_TABLES\n";

// Two links: link 1 of three nodes, link 2 of two nodes (MAXNODES 3).
class StreamTables : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        alloc_1d_int(nodes, 2);
        nodes[1] = 3;
        nodes[2] = 2;
        for (auto *t : {&a, &b, &c, &d}) alloc_2d_double(*t, 2, 3, "target");
    }
    void TearDown() override { reset_process_globals(); }
    void write(const std::string &name, const std::string &text) { dir.dir().write(name, text); }
    int read(int kind) {
        return read_stream_index_map_tables("st.cmt", kind, {&a, &b, &c, &d}, 2, 3, nodes);
    }
    in_scratch_dir dir;
    array_1d<int> nodes;
    array_2d<double> a, b, c, d;
};

// QVL_N table of three ids with four values each, over a map of ids.
std::string qvl_n_file() {
    return header + "ST_INDEX_MAP \"ids.smp\" \"streams\"\n" + "QVL_N \"streams\"\n" +
           "NUM_IDS 3\n" + "ID    DESCRIPTION     NO2 NO3 NH4 ON\n" +
           row(1, "1.0 2.0 3.0 4.0") + row(2, "10.0 20.0 30.0 40.0") +
           row(3, "100.0 200.0 300.0 400.0");
}

}  // namespace

TEST(StreamCards, PrefixesInTableOrder) {
    struct {
        const char *line;
        int id;
    } cases[] = {
        {"ROUGHNESS \"x\"", stream_card_roughness},
        {"QVL_N \"x\"", stream_card_qvl_n},
        {"QVL_P \"x\"", stream_card_qvl_p},
        {"QVL_OTH \"x\"", stream_card_qvl_oth},
        {"QVL_OTHER", stream_card_qvl_oth},
        {"QVL_OTX", stream_card_qvl_oth},   // six characters decide
        {"QVL_C \"x\"", stream_card_qvl_c},
        {"QVL_CARBON", stream_card_qvl_c},
        {"NUM_IDS 4", stream_card_num_ids},
        {"ST_INDEX_MAP a b", stream_card_index_map},
        {"ST_INDEX_X", stream_card_index_map},  // nine characters decide
        {"qvl_n lower case", stream_card_none},
        {"ID  DESCRIPTION", stream_card_none},
        {"QVL_O", stream_card_none},
    };
    for (const auto &k : cases) EXPECT_EQ(stream_card_id(k.line), k.id) << k.line;
    EXPECT_EQ(stream_table_value_count(stream_card_roughness), 1);
    EXPECT_EQ(stream_table_value_count(stream_card_qvl_n), 4);
    EXPECT_EQ(stream_table_value_count(stream_card_qvl_p), 3);
    EXPECT_EQ(stream_table_value_count(stream_card_qvl_c), 2);
    EXPECT_EQ(stream_table_value_count(stream_card_qvl_oth), 3);
    EXPECT_EQ(stream_table_value_count(stream_card_sixth), 1);
}

TEST_F(StreamTables, ValuesByIdLandOnEachLinkAndNode) {
    write("st.cmt", qvl_n_file());
    write("ids.smp", "STREAM_MAP\nNLINKS 2\nMAXNODES 3\n3 1 0\n2 3\n");
    a[1][3] = -7.0;  // node with id 0 keeps this
    ASSERT_EQ(read(stream_card_qvl_n), 1);
    EXPECT_EQ(error_record.code, 0);
    // [link][node]: link 1 ids 3 1 0, link 2 ids 2 3.
    const double expect_a[2][3] = {{100.0, 1.0, -7.0}, {10.0, 100.0, 0.0}};
    const double expect_d[2][3] = {{400.0, 4.0, 0.0}, {40.0, 400.0, 0.0}};
    for (int l = 1; l <= 2; ++l)
        for (int n = 1; n <= 3; ++n) {
            EXPECT_DOUBLE_EQ(a[l][n], expect_a[l - 1][n - 1]) << l << " " << n;
            EXPECT_DOUBLE_EQ(d[l][n], expect_d[l - 1][n - 1]) << l << " " << n;
        }
    EXPECT_DOUBLE_EQ(b[2][1], 20.0);
    EXPECT_DOUBLE_EQ(c[1][2], 3.0);
}

TEST_F(StreamTables, MapHeaderAndCountRefusals) {
    struct {
        const char *map;
        int code;
    } cases[] = {
        {"STREAM_MA\nNLINKS 2\nMAXNODES 3\n1 1 1\n1 1\n", 116},
        {"STREAM_MAP\nNLINKS 2\nMAXNODES 4\n1 1 1\n1 1\n", 117},  // NLINKS matches
        {"STREAM_MAP\nNLINKS 3\nMAXNODES 3\n1 1 1\n1 1\n", 117},
        {"STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 1 1\n1\n", 118},    // a node short
        {"STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 x 1\n1 1\n", 118},
        {"STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 4 1\n1 1\n", 118},  // id above the largest
        {"STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 -1 1\n1 1\n", 118}, // negative id
    };
    write("st.cmt", qvl_n_file());
    for (const auto &k : cases) {
        reset_process_globals();
        write("ids.smp", k.map);
        EXPECT_EQ(read(stream_card_qvl_n), 0) << k.map;
        EXPECT_EQ(error_record.code, k.code) << k.map;
        EXPECT_STREQ(error_record.text2, "ids.smp");
    }
}

TEST_F(StreamTables, MissingFilesAndTables) {
    EXPECT_EQ(read(stream_card_qvl_n), 0);
    EXPECT_EQ(error_record.code, 64);
    reset_process_globals();
    write("st.cmt", qvl_n_file());
    EXPECT_EQ(read(stream_card_qvl_p), 0);  // no such table
    EXPECT_EQ(error_record.code, 66);
    reset_process_globals();
    EXPECT_EQ(read(stream_card_qvl_n), 0);  // its map file is missing
    EXPECT_EQ(error_record.code, 115);
    EXPECT_STREQ(error_record.text2, "ids.smp");
}

TEST_F(StreamTables, UnreadableRowFollowsTheRowRules) {
    write("st.cmt", header + "ST_INDEX_MAP ids.smp \"s\"\nROUGHNESS \"s\"\nNUM_IDS 2\nID\n" +
                        row(1, "0.03") + row(2, "abc"));
    write("ids.smp", "STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 1 1\n1 2\n");
    const std::string out = capture_stdout([&] { EXPECT_EQ(read(stream_card_roughness), 0); });
    EXPECT_NE(out.find("row 2 of the ROUGHNESS table in mapping table file st.cmt: value 1 is "
                       "missing or not a number"),
              std::string::npos)
        << out;
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(StreamTables, ScanFlagsEachKindWithAReadableMap) {
    const std::string sound = header + "ST_INDEX_MAP ids.smp \"s\"\nST_INDEX_MAP gone.smp \"g\"\n" +
                              "ROUGHNESS \"s\"\nNUM_IDS 1\nID\n" + row(1, "0.03") +
                              "QVL_OTH \"s\"\nNUM_IDS 1\nID\n" + row(1, "1 2 3");
    write("st.cmt", sound);
    write("ids.smp", "STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 1 1\n1 1\n");
    std::array<int, 6> flags{9, 9, 9, 9, 9, 9};
    scan_stream_index_map_tables("st.cmt", flags);
    EXPECT_EQ(error_record.code, 0);
    // ROUGHNESS, QVL_N, QVL_P, QVL_OTH, QVL_C, sixth.
    const std::array<int, 6> expect{1, 0, 0, 1, 0, 0};
    EXPECT_EQ(flags, expect);
    // A table whose stream map is missing, or which names no ST_INDEX_MAP line,
    // refuses the file while it is scanned.
    write("st.cmt", sound + "QVL_C \"g\"\nNUM_IDS 1\nID\n" + row(1, "1 2"));
    capture_stdout([&] { scan_stream_index_map_tables("st.cmt", flags); });
    EXPECT_EQ(error_record.code, 115);
    reset_process_globals();
    write("st.cmt", sound + "QVL_P \"unknown\"\nNUM_IDS 1\nID\n" + row(1, "1 2 3"));
    capture_stdout([&] { scan_stream_index_map_tables("st.cmt", flags); });
    EXPECT_EQ(error_record.fatal, 1);

    scan_stream_index_map_tables("none.cmt", flags);
    EXPECT_EQ(error_record.code, 64);
}

TEST(StreamAssign, RefusesIdsOutsideTheTable) {
    array_1d<int> nodes;
    alloc_1d_int(nodes, 1);
    nodes[1] = 2;
    array_2d<int> ids;
    alloc_2d_int(ids, 1, 2);
    array_2d<double> target;
    alloc_2d_double(target, 1, 2, "t");
    const std::vector<double> by_id{5.0, 6.0, 0.0};  // largest id 2
    ids[1][1] = 2;
    ids[1][2] = 0;
    target[1][2] = 3.5;
    EXPECT_EQ(assign_stream_values(1, nodes, ids, by_id, target), 1);
    EXPECT_DOUBLE_EQ(target[1][1], 6.0);
    EXPECT_DOUBLE_EQ(target[1][2], 3.5);
    for (int bad : {3, -1}) {
        ids[1][2] = bad;
        EXPECT_EQ(assign_stream_values(1, nodes, ids, by_id, target), 0) << bad;
    }
}
