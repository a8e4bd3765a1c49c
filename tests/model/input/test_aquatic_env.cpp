// Tests of the aquatic environment file, the species sets and the nutrient
// constituent parameters on hand-written files: the header, the id blocks and
// their record positions, the refusals of bad ids and short blocks, the overland
// environment map, and every overland cell and channel node in each of the three
// input modes with values worked by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/core/errors.h"
#include "model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/input/aquatic_env.h"
#include "model/input/constituent_params.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"
#include "support/captured_output.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;
using testsupport::map_text;

// A table row: id in columns 1-6, description to column 86, values from 87.
std::string row(int id, const std::string &values) {
    std::string line = std::to_string(id);
    line.resize(86, ' ');
    return line + values + "\n";
}

// Ten value lines of an id block: value i of line l is l * 100 + i + 1.
std::string block_lines() {
    const int counts[10] = {7, 7, 4, 4, 4, 4, 6, 6, 4, 4};
    std::string text;
    for (int l = 1; l <= 10; ++l) {
        for (int i = 0; i < counts[l - 1]; ++i)
            text += std::to_string(l * 100 + i + 1) + (i + 1 < counts[l - 1] ? " " : "\n");
    }
    return text;
}

// The record of block_lines(), position by position (worked by hand from the
// layout: pairs of lines 1-2, 3-4, 5-6, 7-8 interleaved, then lines 9 and 10).
constexpr double block_record[50] = {
    101, 201, 102, 202, 103, 203, 104, 204, 105, 205, 106, 206, 107, 207,  // lines 1, 2
    301, 401, 302, 402, 303, 403, 304, 404,                                // lines 3, 4
    501, 601, 502, 602, 503, 603, 504, 604,                                // lines 5, 6
    701, 801, 702, 802, 703, 803, 704, 804, 705, 805, 706, 806,            // lines 7, 8
    901, 902, 903, 904,                                                    // line 9
    1001, 1002, 1003, 1004};                                               // line 10

// A 2 x 2 grid of 10 m cells; three inside the mask: (1,1) = 1, (1,2) = 2,
// (2,2) = 3; (2,1) is outside.
class AquaticEnv : public ::testing::Test {
public:
    void SetUp() override {
        reset_process_globals();
        s.quiet = 1;
        s.nutrients_on = 1;
        s.grid_rows = 2;
        s.grid_cols = 2;
        s.cell_size = 10.0;
        alloc_2d_int(s.cell_number_grid, 3, 3);
        s.cell_number_grid[1][1] = 1;
        s.cell_number_grid[1][2] = 2;
        s.cell_number_grid[2][2] = 3;
        s.cell_count = 3;
        alloc_1d_double(s.depth, 3);
        s.project.nutrient_cards = std::make_unique<nutrient_card_record>();
        s.nutrient_summary_file = std::fopen("ntr.sum", "w");
        s.summary_file = std::fopen("run.sum", "w");
    }
    void TearDown() override {
        close_logs();
        reset_process_globals();
    }
    void close_logs() {
        for (std::FILE **f : {&s.nutrient_summary_file, &s.summary_file})
            if (*f) std::fclose(*f);
        s.nutrient_summary_file = s.summary_file = nullptr;
    }
    void write(const std::string &name, const std::string &text) { dir.dir().write(name, text); }
    std::string log() {
        close_logs();
        return dir.dir().read("ntr.sum");
    }
    std::string summary() {
        close_logs();
        return dir.dir().read("run.sum");
    }
    // Reads an aquatic environment file of the given body after a valid header.
    std::string read(const std::string &body) {
        write("env.aq", "AQUATIC_ENV_QVL10\n" + body);
        write("env.map", map_text(2, 2, "1 2\n9 1\n"));  // 9 lies outside the mask
        return capture_stdout([&] { read_aquatic_env_file("env.aq", s); });
    }
    nutrient_card_record &cards() { return *s.project.nutrient_cards; }
    in_scratch_dir dir;
    model_state s;
};

}  // namespace

TEST_F(AquaticEnv, HeaderIsComparedOverSeventeenCharacters) {
    struct {
        const char *first_line;
        int code;
    } cases[] = {
        {"AQUATIC_ENV_QVL10 extra words", 0},
        {"AQUATIC_ENV_QVL10", 0},
        {"AQUATIC_ENV_QVL1", 77},
        {"AQUATIC_ENV_QVL11", 77},
        {"", 77},
    };
    write("env.map", map_text(2, 2, "1 1\n0 1\n"));
    for (const auto &k : cases) {
        reset_process_globals();
        write("env.aq", std::string(k.first_line) + "\nOV_MAP env.map\nNUM_IDS 1\n");
        capture_stdout([&] { read_aquatic_env_file("env.aq", s); });
        EXPECT_EQ(error_record.code, k.code) << k.first_line;
        if (k.code == 77) {
            EXPECT_STREQ(error_record.text1, "AQUATIC_ENV_QVL10");
            EXPECT_STREQ(error_record.text2, "env.aq");
        }
    }
    EXPECT_NE(log().find("Error: The aquatic environment file does not have the correct "
                         "header.\nGiven file name: env.aq.\n Header should be: "
                         "AQUATIC_ENV_QVL10."),
              std::string::npos);
}

TEST_F(AquaticEnv, MissingFileIsCode76WithItsName) {
    capture_stdout([&] { read_aquatic_env_file("none.aq", s); });
    EXPECT_EQ(error_record.code, 76);
    EXPECT_STREQ(error_record.text2, "none.aq");
    const std::string text = log();
    EXPECT_NE(text.find("Opening aquatic environment file none.aq.\n"), std::string::npos);
    EXPECT_NE(text.find("Error: unable to open the aquatic environment file.\nGiven file name: "
                        "none.aq.\n"),
              std::string::npos);
}

TEST_F(AquaticEnv, BlockValuesLandAtTheirRecordPositions) {
    // Map names come after the ids here: steps 4 and 5 rewind. Id 2 is DEFAULT.
    read("NUM_IDS 2\nID 1\n" + block_lines() + "ID 2\nDEFAULT\nOV_MAP env.map\nST_MAP st.map\n");
    ASSERT_EQ(error_record.code, 0);
    ASSERT_EQ(error_record.fatal, 0);
    const aquatic_env_params &env = s.nutrient.env;
    EXPECT_EQ(env.ov_map_name, "env.map");
    EXPECT_EQ(env.st_map_name, "st.map");
    EXPECT_EQ(env.num_ids, 2);
    for (int p = 0; p < 50; ++p) {
        EXPECT_DOUBLE_EQ(env.records[1][static_cast<std::size_t>(p)], block_record[p]) << p;
        EXPECT_DOUBLE_EQ(env.records[2][static_cast<std::size_t>(p)], 0.0) << p;
    }
    // Environment ids of cells 1, 2, 3 (row order inside the mask).
    EXPECT_EQ(env.cell_env_id[1], 1);
    EXPECT_EQ(env.cell_env_id[2], 2);
    EXPECT_EQ(env.cell_env_id[3], 1);
    EXPECT_NE(log().find("Reading the aquatic environment file.\n"), std::string::npos);
}

TEST_F(AquaticEnv, DefaultBlockReadsNoValuesAndTheSearchGoesOn) {
    read("OV_MAP env.map\nNUM_IDS 2\nID 1\nDEFAULT\nID 2\n" + block_lines());
    ASSERT_EQ(error_record.code, 0);
    for (int p = 0; p < 50; ++p) {
        EXPECT_DOUBLE_EQ(s.nutrient.env.records[1][static_cast<std::size_t>(p)], 0.0) << p;
        EXPECT_DOUBLE_EQ(s.nutrient.env.records[2][static_cast<std::size_t>(p)], block_record[p]);
    }
    // Without an ST_MAP line the file is read to its end; the name stays empty.
    EXPECT_EQ(s.nutrient.env.st_map_name, "");
}

TEST_F(AquaticEnv, IdOutsideOneToNumIdsIsCode78) {
    struct {
        const char *id_line;
        int id;
    } cases[] = {{"ID 3", 3}, {"ID 0", 0}, {"ID -1", -1}, {"ID x", 0}};
    for (const auto &k : cases) {
        reset_process_globals();
        read(std::string("OV_MAP env.map\nNUM_IDS 2\n") + k.id_line + "\n" + block_lines());
        EXPECT_EQ(error_record.code, 78) << k.id_line;
        EXPECT_EQ(error_record.int1, k.id) << k.id_line;
        EXPECT_EQ(error_record.int2, 2) << k.id_line;
    }
    // The message of the code carries both numbers.
    const std::string out = capture_stdout([] { report_error(); });
    EXPECT_NE(out.find("An index [0] in the aquatic environment table is greater than the\n"
                       "number of IDs specified [2]"),
              std::string::npos)
        << out;
}

TEST_F(AquaticEnv, ShortOrUnreadableBlockStopsNamingFileAndId) {
    std::string lines = block_lines();
    const std::size_t third_line = lines.find("301");
    const std::string first_two = lines.substr(0, third_line);
    std::string bad_value = lines;
    bad_value.replace(bad_value.find("503"), 3, "5x3");
    std::string short_line = lines;
    short_line.replace(short_line.find(" 904"), 4, "");
    const std::string cases[] = {
        first_two + "ID 2\n" + lines,  // the next ID line is never read as numbers
        bad_value,
        short_line,
        first_two,  // the file ends inside the block
    };
    for (const std::string &body : cases) {
        reset_process_globals();
        read("OV_MAP env.map\nNUM_IDS 2\nID 1\n" + body);
        EXPECT_EQ(error_record.fatal, 1) << body;
        EXPECT_EQ(error_record.code, 0);  // 4000, already reported
        // Id 2's block was not read.
        EXPECT_DOUBLE_EQ(s.nutrient.env.records[2][0], 0.0);
    }
    EXPECT_NE(log().find("Error: the block of ID 1 in the aquatic environment file env.aq ends "
                         "early or holds a value that is not a number"),
              std::string::npos);
}

TEST_F(AquaticEnv, EnvironmentMapRefusals) {
    // No OV_MAP file: code 81.
    read("OV_MAP gone.map\nNUM_IDS 1\n");
    EXPECT_EQ(error_record.code, 81);
    // An id above NUM_IDS inside the mask: 78; the 9 outside the mask is ignored.
    reset_process_globals();
    read("OV_MAP env.map\nNUM_IDS 1\n");
    EXPECT_EQ(error_record.code, 78);
    EXPECT_EQ(error_record.int1, 2);
    EXPECT_EQ(error_record.int2, 1);
}

TEST_F(AquaticEnv, SpeciesSetsHoldEveryCellZeroed) {
    setup_overland_nutrients(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.nutrient.cell_count, 3);
    for (const species_set &set : s.nutrient.species) {
        for (const array_1d<double> *a : {&set.conc, &set.dmdt, &set.mass}) {
            ASSERT_EQ(a->last(), 3u);
            for (std::size_t c = 0; c <= 3; ++c) EXPECT_EQ((*a)[c], 0.0);
        }
        EXPECT_EQ(set.terms.rows(), 3u);
        EXPECT_EQ(set.terms.cols(), 8u);
    }
    EXPECT_EQ(s.nutrient.dispersion.last(), 3u);
}

// ---- overland parameters ----

TEST_F(AquaticEnv, UniformModeFillsEveryCellAndSumsExactly) {
    setup_overland_nutrients(s);
    for (int p = 0; p < overland_nutrient_slots; ++p)
        cards().overland_init[static_cast<std::size_t>(p)] = {3, 0.125 * (p + 1), ""};
    assign_grid_constituent_params(s);
    ASSERT_EQ(error_record.fatal, 0);
    const nutrient_record &r = s.nutrient;
    for (int p = 0; p < overland_nutrient_slots; ++p) {
        const array_1d<double> &a = p < 10   ? r.species[static_cast<std::size_t>(p)].conc
                                    : p == 10 ? r.doc
                                    : p == 11 ? r.doc_foc
                                              : r.dispersion;
        double sum = 0.0;
        for (int c = 1; c <= 3; ++c) {
            EXPECT_EQ(a[static_cast<std::size_t>(c)], 0.125 * (p + 1)) << p << " " << c;
            sum += a[static_cast<std::size_t>(c)];
        }
        EXPECT_EQ(sum, 3 * 0.125 * (p + 1)) << p;  // exact in binary
    }
    EXPECT_NE(summary().find("Assigning spatially uniform parameters for the Dispersion "
                             "coefficient constituent\n"),
              std::string::npos);
}

TEST_F(AquaticEnv, TableModeTakesEachColumnInSpeciesOrder) {
    // Ids per cell: 2, 1, 2. Every table of the five kinds; the value of slot p
    // for id i is (p + 1) * 10 + i.
    write("n.idx", map_text(2, 2, "2 1\n0 2\n"));
    auto values = [](int first, int count, int id) {
        std::string v;
        for (int p = first; p < first + count; ++p) v += std::to_string((p + 1) * 10 + id) + " ";
        return v;
    };
    std::string text = "KORVA_INDEX_MAP_TABLES\nINDEX_MAP n.idx \"N\"\n";
    const struct {
        const char *card;
        int first, count;
    } tables[] = {{"QVL_N", 0, 4}, {"QVL_P", 4, 3}, {"QVL_OTH", 7, 3}, {"QVL_C", 10, 2},
                  {"DISPERSION", 12, 1}};
    for (const auto &t : tables)
        text += std::string(t.card) + " \"N\"\nNUM_IDS 2\nID DESC\n" +
                row(1, values(t.first, t.count, 1)) + row(2, values(t.first, t.count, 2));
    write("map.cmt", text);
    s.mapping_table_on = 1;
    s.mapping_table_name = "map.cmt";
    for (int slot = 16; slot <= 20; ++slot) s.table_present[static_cast<std::size_t>(slot)] = 1;
    setup_overland_nutrients(s);
    for (auto &src : cards().overland_init) src.kind = 2;
    s.quiet = 0;
    const std::string out = capture_stdout([&] { assign_grid_constituent_params(s); });
    ASSERT_EQ(error_record.fatal, 0) << out;
    const nutrient_record &r = s.nutrient;
    const int ids[4] = {0, 2, 1, 2};
    for (int p = 0; p < overland_nutrient_slots; ++p) {
        const array_1d<double> &a = p < 10   ? r.species[static_cast<std::size_t>(p)].conc
                                    : p == 10 ? r.doc
                                    : p == 11 ? r.doc_foc
                                              : r.dispersion;
        for (int c = 1; c <= 3; ++c)
            EXPECT_EQ(a[static_cast<std::size_t>(c)], (p + 1) * 10 + ids[c]) << p << " " << c;
    }
    EXPECT_NE(out.find("Assigning parameters for the Algae constituent from the mapping table.\n"),
              std::string::npos);
}

TEST_F(AquaticEnv, TableModeWithoutItsTableIsCode119) {
    setup_overland_nutrients(s);
    for (auto &src : cards().overland_init) src = {3, 1.0, ""};
    cards().overland_init[7].kind = 2;  // algae, from QVL_OTH
    s.mapping_table_on = 1;
    s.table_present[16] = 0;
    assign_grid_constituent_params(s);
    EXPECT_EQ(error_record.code, 119);
    EXPECT_STREQ(error_record.text1, "Algae");
}

TEST_F(AquaticEnv, MapModeReadsTheGridAndAMissingMapIsCode80) {
    setup_overland_nutrients(s);
    for (auto &src : cards().overland_init) src = {3, 1.0, ""};
    write("no3.map", map_text(2, 2, "0.5 1.5\n7.0 2.5\n"));
    cards().overland_init[1] = {1, 0.0, "no3.map"};
    capture_stdout([&] { assign_grid_constituent_params(s); });
    ASSERT_EQ(error_record.fatal, 0);
    const array_1d<double> &no3 = s.nutrient.species[1].conc;
    EXPECT_EQ(no3[1], 0.5);
    EXPECT_EQ(no3[2], 1.5);
    EXPECT_EQ(no3[3], 2.5);

    cards().overland_init[4] = {1, 0.0, "gone.map"};
    capture_stdout([&] { assign_grid_constituent_params(s); });
    EXPECT_EQ(error_record.code, 80);
    EXPECT_STREQ(error_record.text2, "gone.map");
    const std::string text = summary();
    const std::size_t opening = text.find("Opening file: gone.map\n");
    ASSERT_NE(opening, std::string::npos);
    EXPECT_NE(text.find("Error opening initial condition continuous map file \nfor the grid "
                        "Organic Phosphorous (Organic P) constituent. \nGiven filename: gone.map\n",
                        opening),
              std::string::npos);
}

TEST_F(AquaticEnv, ParameterWithoutInputModeIsRefusedByName) {
    setup_overland_nutrients(s);
    for (auto &src : cards().overland_init) src = {3, 1.0, ""};
    cards().overland_init[9].kind = 0;  // no OV_INIT_DO card
    const std::string out = capture_stdout([&] { assign_grid_constituent_params(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("Dissolved Oxygen (O2)"), std::string::npos) << out;
}

// ---- channel parameters ----

// Two links: link 1 of three nodes, link 2 of two (MAXNODES 3).
class StreamConstituents : public AquaticEnv {
public:
    void SetUp() override {
        AquaticEnv::SetUp();
        channel_network &net = s.channels;
        net.link_count = 2;
        net.max_node_count = 3;
        alloc_1d_int(net.node_count, 2);
        net.node_count[1] = 3;
        net.node_count[2] = 2;
        for (auto &src : cards().overland_init) src = {3, 0.5, ""};
        for (auto &src : cards().stream_init) src = {3, 0.25, ""};
        capture_stdout([&] { setup_stream_nutrients(s); });
    }
    double conc(int k, int l, int n) const {
        return s.nutrient.stream.conc[static_cast<std::size_t>(k) + 1][static_cast<std::size_t>(l)]
                                     [static_cast<std::size_t>(n)];
    }
};

TEST_F(StreamConstituents, UniformModeFillsEveryNodeOfEveryLink) {
    for (int k = 0; k < 10; ++k) cards().stream_init[static_cast<std::size_t>(k)].value = k + 1.0;
    cards().overland_init[12].value = 4.0;  // dispersion
    setup_stream_constituents(s);
    ASSERT_EQ(error_record.fatal, 0);
    for (int k = 0; k < 10; ++k) {
        for (int n = 1; n <= 3; ++n) EXPECT_EQ(conc(k, 1, n), k + 1.0) << k;
        EXPECT_EQ(conc(k, 2, 1), k + 1.0);
        EXPECT_EQ(conc(k, 2, 2), k + 1.0);
        EXPECT_EQ(conc(k, 2, 3), 0.0);  // beyond the link's nodes
    }
    EXPECT_EQ(s.nutrient.stream.doc[2][2], 0.5);
    EXPECT_EQ(s.nutrient.stream.doc_foc[1][3], 0.5);
    EXPECT_EQ(s.nutrient.stream.dispersion[1][1], 4.0);
    EXPECT_EQ(s.nutrient.stream.dispersion[2][3], 0.0);
}

TEST_F(StreamConstituents, TableModeTakesTheStreamTableColumns) {
    write("ids.smp", "STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 2 1\n2 2\n");
    write("st.cmt", "KORVA_STREAM_INDEX_MAP_TABLES\nST_INDEX_MAP ids.smp \"S\"\n"
                    "QVL_P \"S\"\nNUM_IDS 2\nID DESC\n" +
                        row(1, "1.5 2.5 3.5") + row(2, "10.5 20.5 30.5") +
                        "QVL_C \"S\"\nNUM_IDS 2\nID DESC\n" + row(1, "7 8") + row(2, "70 80"));
    s.st_mapping_table_on = 1;
    s.st_mapping_table_name = "st.cmt";
    s.stream_table_present[2] = 1;  // QVL_P
    s.stream_table_present[4] = 1;  // QVL_C
    for (std::size_t k = 4; k <= 6; ++k) cards().stream_init[k].kind = 2;
    cards().overland_init[10].kind = 2;
    cards().overland_init[11].kind = 2;
    setup_stream_constituents(s);
    ASSERT_EQ(error_record.fatal, 0);
    // Link 1 ids 1 2 1, link 2 ids 2 2.
    EXPECT_EQ(conc(4, 1, 1), 1.5);
    EXPECT_EQ(conc(5, 1, 2), 20.5);
    EXPECT_EQ(conc(6, 1, 3), 3.5);
    EXPECT_EQ(conc(6, 2, 2), 30.5);
    EXPECT_EQ(conc(0, 2, 2), 0.25);  // uniform species untouched by the tables
    EXPECT_EQ(s.nutrient.stream.doc[1][2], 70.0);
    EXPECT_EQ(s.nutrient.stream.doc_foc[2][1], 80.0);
}

TEST_F(StreamConstituents, TableModeWithoutStreamTableIsCode120) {
    cards().stream_init[3].kind = 2;
    setup_stream_constituents(s);
    EXPECT_EQ(error_record.code, 120);
    EXPECT_STREQ(error_record.text1, "Organic Nitrogen (Organic N)");
    // The dispersion has no stream table kind of a card word: always 120.
    reset_process_globals();
    cards().stream_init[3].kind = 3;
    cards().overland_init[12].kind = 2;
    s.st_mapping_table_on = 1;
    setup_stream_constituents(s);
    EXPECT_EQ(error_record.code, 120);
    EXPECT_STREQ(error_record.text1, "Dispersion coefficient");
}

TEST_F(StreamConstituents, MapModeReadsDoublesAndRefusesBadMaps) {
    write("no2.smp", "STREAM_MAP\nNLINKS 2\nMAXNODES 3\n0.1 0.2 0.3\n1.25 2.5\n");
    cards().stream_init[0] = {1, 0.0, "no2.smp"};
    capture_stdout([&] { setup_stream_constituents(s); });
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(conc(0, 1, 1), 0.1);
    EXPECT_EQ(conc(0, 1, 3), 0.3);
    EXPECT_EQ(conc(0, 2, 2), 2.5);
    EXPECT_NE(summary().find("Assigning parameters from a continuous map for the constituent "
                             "Nitrite (NO2-)\n"),
              std::string::npos);

    struct {
        const char *map;
        int code;
    } cases[] = {
        {"STREAM_MA\nNLINKS 2\nMAXNODES 3\n1 1 1\n1 1\n", 116},
        {"STREAM_MAP\nNLINKS 2\nMAXNODES 4\n1 1 1\n1 1\n", 117},
        {"STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 x 1\n1 1\n", 118},
        {nullptr, 80},
    };
    for (const auto &k : cases) {
        reset_process_globals();
        std::remove("no2.smp");
        if (k.map) write("no2.smp", k.map);
        capture_stdout([&] { setup_stream_constituents(s); });
        EXPECT_EQ(error_record.code, k.code) << (k.map ? k.map : "missing");
        EXPECT_STREQ(error_record.text2, "no2.smp");
    }
}

TEST_F(StreamConstituents, ModeOtherThanOneToThreeIsRefused) {
    cards().stream_init[8].kind = 7;
    const std::string out = capture_stdout([&] { setup_stream_constituents(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("Carbonaceous Biochemical Oxygen Demand"), std::string::npos) << out;
}
