// Tests of the pipe network reader on hand-written files: every card of a small
// street network read into the record (blank lines, long lines, card words of the
// grid-pipe file in any case, the shifted grid-pipe cell lookup), a network of
// junctions only, the section types, the strict ground warning, the header
// checks of the grid-pipe file and every refused input with its message.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/channel/channel_services.h"
#include "model/core/globals.h"
#include "model/input/watershed_mask.h"
#include "model/core/model_state.h"
#include "model/pipes/superlink_file.h"
#include "support/captured_output.h"
#include "support/run_program.h"

namespace {

// Three super-junctions, superlink 1 of two circular pipes from 1 to 2 and
// superlink 2 of one rectangular tile drain from 2 to 3.
const std::string street =
    "# a street with two sewers\n"
    "SJUNC 1 105.0 100.0 1.5 5 10.0 20.0 1 1\n"
    "SJUNC 2 104.0 99.0 1.5 0 30.0 20.0 3 1\n"
    "SJUNC 3 103.0 98.0 2.0 888 50.0 20.0 4 3\n"
    "CONNECT 1 1 2\n"
    "\n"
    "CONNECT 2 2 3\n"
    "SLINK 1 2\n"
    "NODE 1 105.0 100.0 0.5 0 10.0 20.0 1 1\n"
    "NODE 2 104.5 99.5 0.75 3 20.0 20.0 2 1\n"
    "\n"
    "NODE 3 104.0 99.0 0.5 0 30.0 20.0 3 1\n"
    "PIPE 1 1 0.6 0.0 0.005 0.013 100.0 0.0\n"
    "PIPE 2 1 0.6 0.0 0.005 0.013 100.0 0.0\n"
    "SLINK 2 1\n"
    "NODE 1 104.0 99.0 0.5 0 30.0 20.0 3 1\n"
    "NODE 2 103.0 98.0 0.5 0 50.0 20.0 4 3\n"
    "PIPE 1 3 1.0 2.0 0.01 0.015 200.0 0.25\n";

// Two grid-pipe cells: (i, j) = (3, 2) is grid row 1, column 2; (4, 4) row 3, column 3.
const std::string street_cells =
    "GRIDPIPEFILE\n"
    "PIPECELLS 2\n"
    "cellij 3 2\n"
    "NumPipes 2\n"
    "SPIPE 2 1 0.75\n"
    "  spipe\t2 2 0.00005\n"
    "CellIJ 4 4\n"
    "NUMPIPES 1\n"
    "SPIPE 1 3 1.0\n";

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// A run state over a 3 x 4 grid, every cell in the mask but row 3, column 1.
class SuperlinkFile : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.grid_rows = 3;
        s.grid_cols = 4;
        alloc_2d_int(s.cell_number_grid, 4, 5);
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 4; ++j) s.cell_number_grid[i][j] = 1;
        s.cell_number_grid[3][1] = 0;
        s.cell_count = number_mask_cells(s.cell_number_grid, 3, 4);
        s.storm_sewer_name = "street.net";
        s.grid_pipe_name = "street.gpi";
    }
    void TearDown() override { reset_process_globals(); }

    // Reads the two texts; the result, with what was printed in `out`.
    int read(const std::string &network, const std::string &cells = street_cells) {
        dir.write(s.storm_sewer_name, network);
        dir.write(s.grid_pipe_name, cells);
        std::FILE *n = std::fopen((dir.path() / s.storm_sewer_name).c_str(), "r");
        std::FILE *g = std::fopen((dir.path() / s.grid_pipe_name).c_str(), "r");
        int result = 1000;
        out = testsupport::printed([&] { result = read_superlink_file(n, g, s); });
        std::fclose(n);
        std::fclose(g);
        return result;
    }

    testsupport::scratch_dir dir;
    model_state s;
    std::string out;
};

TEST_F(SuperlinkFile, EveryCardOfTheStreetLandsInTheRecord) {
    ASSERT_EQ(read(street), 0) << out;
    EXPECT_EQ(out, "Finished reading gridpipe file.\n");
    const superlink_network &p = s.superlinks;
    EXPECT_EQ(p.num_junctions, 3);
    EXPECT_EQ(p.num_superlinks, 2);
    EXPECT_EQ(p.max_slink_pipes, 2);
    EXPECT_EQ(p.superlink_max_dim, 5);
    EXPECT_EQ(p.tile_drain, 1);
    // Super-junction 3.
    EXPECT_EQ(p.junc_ground_elev[3], 103.0);
    EXPECT_EQ(p.junc_Zinv[3], 98.0);
    EXPECT_EQ(p.junc_area[3], 2.0);
    EXPECT_EQ(p.junction_kind[3], 888);
    EXPECT_EQ(p.junc_fixed_head[3], 1);
    EXPECT_EQ(p.junc_fixed_head[1], 0);
    EXPECT_EQ(p.junc_coord[1][3], 50.0);
    EXPECT_EQ(p.junc_coord[2][3], 20.0);
    EXPECT_EQ(p.junction_col[3], 4);
    EXPECT_EQ(p.junction_row[3], 3);
    // Superlinks.
    EXPECT_EQ(p.slink_us_junc[2], 2);
    EXPECT_EQ(p.slink_ds_junc[2], 3);
    EXPECT_EQ(p.link_node_count[1], 2);
    EXPECT_EQ(p.link_node_count[2], 1);
    // Node 2 of superlink 1 and node 2 of superlink 2.
    EXPECT_EQ(p.node_ground_elev[2][1], 104.5);
    EXPECT_EQ(p.slink_node_Zinv[2][1], 99.5);
    EXPECT_EQ(p.As[2][1], 0.75);
    EXPECT_EQ(p.inlet_type[2][1], 3);
    EXPECT_EQ(p.node_xcoord[2][1], 20.0);
    EXPECT_EQ(p.node_col[2][1], 2);
    EXPECT_EQ(p.node_row[2][1], 1);
    EXPECT_EQ(p.slink_node_Zinv[2][2], 98.0);
    EXPECT_EQ(p.node_row[2][2], 3);
    // The tile drain of superlink 2.
    EXPECT_EQ(p.sec_type[1][2], 3);
    EXPECT_EQ(p.diameter[1][2], 1.0);
    EXPECT_EQ(p.width[1][2], 2.0);
    EXPECT_EQ(p.S0[1][2], 0.01);
    EXPECT_EQ(p.M_n[1][2], 0.015);
    EXPECT_EQ(p.dx[1][2], 200.0);
    EXPECT_EQ(p.superlink_pipe_conductivity[1][2], 0.25);
    EXPECT_EQ(p.sec_type[2][1], 1);
    // Node and pipe rows reach N + 2, columns L + 1, all zero where nothing was read.
    EXPECT_EQ(p.dx.rows(), 4u);
    EXPECT_EQ(p.dx.cols(), 3u);
    EXPECT_EQ(p.dx[3][1], 0.0);
    EXPECT_EQ(p.junc_head.last(), 5u);
    // Grid-pipe cells: cell numbers of rows 1 and 3 of the grid (2 and 10).
    EXPECT_EQ(p.gpi_cell_count, 2);
    EXPECT_EQ(p.gpi_max_pipes, 2);
    EXPECT_EQ(p.gpi_npipes[1], 2);
    EXPECT_EQ(p.gpi_npipes[2], 1);
    EXPECT_EQ(p.gpi_link[1][2], 2);
    EXPECT_EQ(p.gpi_node[1][2], 2);
    EXPECT_EQ(p.gpi_pct[1][2], 0.00005);  // a share below 0.0001 is kept
    EXPECT_EQ(p.gpi_gnum[1][1], 2);
    EXPECT_EQ(p.gpi_gnum[1][2], 2);
    EXPECT_EQ(p.gpi_link[2][1], 1);
    EXPECT_EQ(p.gpi_node[2][1], 3);
    EXPECT_EQ(p.gpi_gnum[2][1], 10);
}

TEST_F(SuperlinkFile, LinesAreReadWholeInsideAnSlinkBlock) {
    // A node line of 120 characters does not end the block of superlink 1.
    const std::string long_node = "NODE 2 104.5 99.5 0.75 3 20.0 20.0 2 1" + std::string(82, ' ');
    ASSERT_EQ(read(replaced(street, "NODE 2 104.5 99.5 0.75 3 20.0 20.0 2 1", long_node)), 0)
        << out;
    EXPECT_EQ(s.superlinks.As[2][1], 0.75);
    EXPECT_EQ(s.superlinks.dx[2][1], 100.0);
}

TEST_F(SuperlinkFile, JunctionsOnlyAndAGridPipeFileWithoutItsHeader) {
    // The network is read; the grid-pipe file without its header is refused.
    ASSERT_EQ(
        read("SJUNC 1 105.0 100.0 1.5 5 10.0 20.0 1 1\n\nSJUNC 2 104.0 99.0 1.5 0 30.0 20.0 3 1\n",
             "gridpipefile\nPIPECELLS 1\n"),
        -9);
    EXPECT_EQ(out, "The gridpipe file format is invalid\nError in the grid-pipe file street.gpi, "
                   "line 1: it does not begin with GRIDPIPEFILE.\n");
    EXPECT_EQ(s.superlinks.num_junctions, 2);
    EXPECT_EQ(s.superlinks.num_superlinks, 0);
    EXPECT_EQ(s.superlinks.superlink_max_dim, 4);
    EXPECT_EQ(s.superlinks.gpi_cell_count, 0);
    EXPECT_EQ(s.superlinks.tile_drain, 0);
}

TEST_F(SuperlinkFile, SectionTypesOneToThreeOnly) {
    for (int type : {0, 1, 2, 3, 4}) {
        const std::string pipe =
            "PIPE 1 " + std::to_string(type) + " 1.0 2.0 0.01 0.015 200.0 0.25\n";
        const int result = read(replaced(street, "PIPE 1 3 1.0 2.0 0.01 0.015 200.0 0.25\n", pipe));
        if (type >= 1 && type <= 3) {
            EXPECT_EQ(result, 0) << type << out;
            EXPECT_EQ(s.superlinks.sec_type[1][2], type);
        } else {
            EXPECT_EQ(result, -1) << type;
            // Nothing further is read: not the grid-pipe file either.
            EXPECT_EQ(out, "Error: pipe cross-section type not valid.\n");
        }
    }
}

// A depth below the diameter of the widest pipe at the junction or node warns,
// once for the network; a 1.5 m deep node of 0.6 m pipes does not.
TEST_F(SuperlinkFile, GroundLessThanThePipeDiameterAboveTheInvertWarnsOnce) {
    const std::string node = "NODE 2 104.5 99.5 0.75 3 20.0 20.0 2 1";
    ASSERT_EQ(read(replaced(street, node, "NODE 2 102.5 101.0 0.75 3 20.0 20.0 2 1")), 0);
    EXPECT_EQ(out, "Finished reading gridpipe file.\n");
    ASSERT_EQ(read(replaced(street, node, "NODE 2 101.3 101.0 0.75 3 20.0 20.0 2 1")), 0);
    const std::string warning = "Warning: ground elevation less than the pipe diameter above node "
                                "bottom at ";
    EXPECT_EQ(out, warning + "1 junction(s) or node(s) of the pipe network file " +
                       s.storm_sewer_name + "; first superlink 1, node 2: 0.30 m deep for a pipe "
                       "of 0.60 m.\nFinished reading gridpipe file.\n");
    // Super-junction 2 meets a 0.6 m pipe and the 1.0 m rise of the tile drain.
    ASSERT_EQ(read(replaced(replaced(street, "SJUNC 2 104.0 99.0", "SJUNC 2 99.9 99.0"), node,
                            "NODE 2 101.3 101.0 0.75 3 20.0 20.0 2 1")),
              0);
    EXPECT_EQ(out, warning + "2 junction(s) or node(s) of the pipe network file " +
                       s.storm_sewer_name + "; first super-junction 2: 0.90 m deep for a pipe of "
                       "1.00 m.\nFinished reading gridpipe file.\n");
}

TEST_F(SuperlinkFile, GridPipeHeaderLines) {
    EXPECT_EQ(read(street, "GRIDPIPEFILE\nCELLIJ 3 2\n"), -9);
    EXPECT_EQ(out,
              "The second card in the grid-pipe file must be PIPECELLS\n"
              "File format error, program terminating.\n");
    for (const char *count : {"PIPECELLS 0\n", "PIPECELLS\n", "PIPECELLS -3\n"}) {
        EXPECT_EQ(read(street, std::string("GRIDPIPEFILE\n") + count), -9) << count;
        EXPECT_EQ(out,
                  "The number of PIPECELLS in the gridpipe (.gpi) file\n"
                  "must be greater than 0.  File format error, program terminating\n");
    }
}

TEST_F(SuperlinkFile, NetworkTooLargeToDimensionAllocatesNothing) {
    EXPECT_EQ(read(replaced(street, "SLINK 2 1\n", "SLINK 2 2001\n")), 9);
    EXPECT_EQ(out, "MAX dimension of superlink arrays too big.  Problem with read routine.\n");
    EXPECT_TRUE(s.superlinks.junction_kind.empty());
    EXPECT_TRUE(s.superlinks.dx.empty());
}

TEST_F(SuperlinkFile, RefusedInputsNameTheFileAndLine) {
    const std::string net = "Error in the pipe network file street.net";
    const std::string gpi = "Error in the grid-pipe file street.gpi";
    struct row {
        std::string from, to;  // in the network file, or in the grid-pipe file when `grid`
        bool grid;
        std::string message;
    } rows[] = {
        {"SJUNC 3 103.0", "SJUNC 4 103.0", false,
         net + ", line 4: super-junction 4 lies outside 1 to 3."},
        {"SJUNC 3 103.0", "SJUNC 2 103.0", false,
         net + ", line 4: super-junction 2 is given twice."},
        {"SJUNC 2 104.0 99.0 1.5 0", "SJUNC 2 104.0 99.0 1.5 0.5", false,
         net + ", line 3: the numbers of the SJUNC card cannot be read."},
        {"CONNECT 2 2 3", "CONNECT 3 2 3", false,
         net + ", line 7: superlink 3 lies outside 1 to 2."},
        {"CONNECT 2 2 3", "CONNECT 2 2 0", false,
         net + ", line 7: super-junction 0 at an end of superlink 2 lies outside 1 to 3."},
        {"CONNECT 2 2 3", "CONNECT 2 2", false,
         net + ", line 7: the numbers of the CONNECT card cannot be read."},
        {"SLINK 2 1", "SLINK 0 1", false, net + ", line 15: superlink 0 lies outside 1 to 2."},
        {"SLINK 2 1", "SLINK 2 0", false,
         net + ", line 15: superlink 2 has 0 pipes; it needs at least 1."},
        {"NODE 3 104.0", "NODE 4 104.0", false,
         net + ", line 12: node 4 of superlink 1 lies outside 1 to 3."},
        {"PIPE 2 1", "PIPE 3 1", false,
         net + ", line 14: pipe 3 of superlink 1 lies outside 1 to 2."},
        {"PIPE 2 1 0.6", "PIPE 2 1 0.0", false,
         net + ", line 14: pipe 2 of superlink 1 needs a diameter, length and Manning n above 0."},
        {"0.013 100.0 0.0\nSLINK", "0.0 100.0 0.0\nSLINK", false,
         net + ", line 14: pipe 2 of superlink 1 needs a diameter, length and Manning n above 0."},
        {"0.015 200.0", "0.015 -200.0", false,
         net + ", line 18: pipe 1 of superlink 2 needs a diameter, length and Manning n above 0 "
               "and a "
               "width above 0."},
        {"1.0 2.0 0.01", "1.0 0.0 0.01", false,
         net + ", line 18: pipe 1 of superlink 2 needs a diameter, length and Manning n above 0 "
               "and a "
               "width above 0."},
        {"PIPE 1 1 0.6 0.0 0.005", "PIPE 1 1 0.6m 0.0 0.005", false,
         net + ", line 13: the numbers of the PIPE card cannot be read."},
        {"200.0 0.25", "200.0 nan", false,
         net + ", line 18: the numbers of the PIPE card cannot be read."},
        // Pipe 2 missing: the SLINK line after pipe 1 ends the block and is read.
        {"PIPE 2 1 0.6 0.0 0.005 0.013 100.0 0.0\n", "", false,
         net + ": pipe 2 of superlink 1 has no PIPE card."},
        // Nodes after the last pipe lie outside the block.
        {"NODE 3 104.0 99.0 0.5 0 30.0 20.0 3 1\nPIPE 1 1 0.6 0.0 0.005 0.013 100.0 0.0\n"
         "PIPE 2 1 0.6 0.0 0.005 0.013 100.0 0.0\n",
         "PIPE 1 1 0.6 0.0 0.005 0.013 100.0 0.0\nPIPE 2 1 0.6 0.0 0.005 0.013 100.0 0.0\n"
         "NODE 3 104.0 99.0 0.5 0 30.0 20.0 3 1\n",
         false, net + ": node 3 of superlink 1 has no NODE card."},
        {"SLINK 2 1\n", "SLINK 1 1\n", false,
         net + ", line 15: superlink 1 has a second SLINK card."},
        {"CONNECT 2 2 3", "CONNECT 1 2 3", false,
         net + ", line 7: superlink 1 is connected twice."},
        // Card words of the network file are matched with regard to case.
        {"SJUNC 3", "sjunc 3", false,
         net + ", line 7: super-junction 3 at an end of superlink 2 lies outside 1 to 2."},
        // The grid-pipe file.
        {"PIPECELLS 2", "PIPECELLS 1", true,
         gpi + ", line 8: more NUMPIPES cards than its 1 PIPECELLS."},
        {"SPIPE 1 3 1.0", "SPIPE 1 3 1.0\nCELLIJ 4 4", true,
         gpi + ", line 10: more CELLIJ cards than its 2 PIPECELLS."},
        {"NUMPIPES 1", "NUMPIPES 1\nNUMPIPES 1", true,
         gpi + ", line 9: more NUMPIPES cards than its 2 PIPECELLS."},
        {"NUMPIPES 1", "NUMPIPES -1", true,
         gpi + ", line 8: NUMPIPES -1 of grid-pipe cell 2 is negative."},
        {"NUMPIPES 1", "NUMPIPES one", true,
         gpi + ", line 8: the number of the NUMPIPES card cannot be read."},
        {"NumPipes 2", "NumPipes 1", true,
         gpi + ", line 6: grid-pipe cell 1 has more SPIPE cards than its NUMPIPES 1."},
        {"cellij 3 2\n", "SPIPE 1 1 1.0\ncellij 3 2\n", true,
         gpi + ", line 3: an SPIPE card comes before any CELLIJ card."},
        {"SPIPE 2 1 0.75", "SPIPE 0 1 0.75", true,
         gpi + ", line 5: superlink 0 lies outside 1 to 2."},
        {"SPIPE 2 1 0.75", "SPIPE 2 0 0.75", true,
         gpi + ", line 5: node 0 of superlink 2 lies outside 1 to 2."},
        {"SPIPE 1 3 1.0", "SPIPE 1 4 1.0", true,
         gpi + ", line 9: node 4 of superlink 1 lies outside 1 to 3."},
        {"SPIPE 2 1 0.75", "SPIPE 2 1 3/4", true,
         gpi + ", line 5: the numbers of the SPIPE card cannot be read."},
        {"cellij 3 2", "cellij 3", true,
         gpi + ", line 3: the numbers of the CELLIJ card cannot be read."},
        // (1, 2) is column 0 of the grid, (2, 4) the hole at row 3, column 1, (3, 5) below the
        // grid.
        {"cellij 3 2", "cellij 1 2", true,
         gpi + ", line 3: CELLIJ 1 2 is not a cell of the watershed."},
        {"CellIJ 4 4", "CellIJ 2 4", true,
         gpi + ", line 7: CELLIJ 2 4 is not a cell of the watershed."},
        {"CellIJ 4 4", "CellIJ 3 5", true,
         gpi + ", line 7: CELLIJ 3 5 is not a cell of the watershed."},
    };
    for (const row &r : rows) {
        const int result = r.grid ? read(street, replaced(street_cells, r.from, r.to))
                                  : read(replaced(street, r.from, r.to));
        EXPECT_EQ(result, -9) << r.to;
        EXPECT_NE(out.find(r.message + "\n"), std::string::npos) << r.to << "\n" << out;
        EXPECT_EQ(out.find("Finished reading gridpipe file."), std::string::npos) << r.to;
    }
}

TEST(GridPipeCard, FirstWordInAnyCaseIsTakenOffTheLine) {
    struct row {
        const char *line;
        int id;
        const char *rest;
    } rows[] = {
        {"PIPECELLS 4", 0, " 4"},
        {" \t cellij 1 2", 1, " 1 2"},
        {"NumPipes\t3", 2, "\t3"},
        {"SPIPE 1 2 0.5", 3, " 1 2 0.5"},
        {"SPIPES 1", 4, " 1"},
        {"", 4, ""},
        {"   ", 4, ""},
        {"cell ij 1 2", 4, " ij 1 2"},
    };
    for (const row &r : rows) {
        std::string line = r.line;
        EXPECT_EQ(gridpipe_card_id(line), r.id) << r.line;
        EXPECT_EQ(line, r.rest) << r.line;
    }
}

}  // namespace
