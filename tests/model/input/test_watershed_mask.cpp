// Tests of the first readers of the input driver on hand-written maps: the
// grid-size check with its truncation, the numbering of mask cells in row order,
// the refusal of unreadable masks and empty headers, the outlet cell, the pipe
// network limits and positions on networks read from their files, the dike map
// and the overland boundary check.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/input/watershed_mask.h"
#include "model/core/model_state.h"
#include "support/run_program.h"
#include "tests/model/input/channel_test_files.h"

namespace {

std::string map_text(double north, double south, double east, double west, int rows, int cols,
                     const std::string &values) {
    char head[256];
    std::snprintf(head, sizeof head,
                  "north: %.4f\nsouth: %.4f\neast: %.4f\nwest: %.4f\nrows: %d\ncols: %d\n", north,
                  south, east, west, rows, cols);
    return head + values;
}

// A run state over a rows x cols grid of dx-metre cells whose files live in a
// scratch directory.
class WatershedInput : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override {
        for (std::FILE *f : {s.mask_file, s.elevation_file, s.summary_file})
            if (f) std::fclose(f);
        reset_process_globals();
    }

    void grid(int rows, int cols, double dx) {
        s.grid_rows = rows;
        s.grid_cols = cols;
        s.cell_size = dx;
        s.quiet = 1;
        alloc_2d_int(s.cell_number_grid, rows + 1, cols + 1);
    }
    std::FILE *file(const std::string &name, const std::string &text) {
        dir.write(name, text);
        return std::fopen((dir.path() / name).c_str(), "r");
    }
    void mask(const std::string &text) {
        s.mask_name = "basin.mask";
        s.mask_file = file(s.mask_name, text);
    }
    void elevation(const std::string &text) {
        s.elevation_name = "basin.elv";
        s.elevation_file = file(s.elevation_name, text);
    }
    template <class F>
    std::string printed(F &&fn) {
        testing::internal::CaptureStdout();
        fn();
        return testing::internal::GetCapturedStdout();
    }

    testsupport::scratch_dir dir;
    model_state s;
};

TEST(GridSizeCheck, DifferenceBelowTheTruncationStepPasses) {
    // GRIDSIZE 30: 300 against trunc(300.41) = 300 passes, 301 stops.
    EXPECT_TRUE(grid_size_agrees(30.0, 3 * 30.04, 3));
    EXPECT_FALSE(grid_size_agrees(30.0, 3 * 30.1, 3));
    EXPECT_TRUE(grid_size_agrees(10.0, 100.0, 10));
    EXPECT_FALSE(grid_size_agrees(10.0, 100.0, 0));   // no cells: refused, no division
    EXPECT_FALSE(grid_size_agrees(10.0, 1e300, 1));   // beyond any int: no overflow
}

TEST(MaskNumbering, AnyNonZeroValueTakesTheNextNumberInRowOrder) {
    array_2d<int> g;
    alloc_2d_int(g, 3, 4);  // 2 x 3 grid with its border
    g[1][2] = 5;
    g[2][1] = -1;
    g[2][3] = 1;
    EXPECT_EQ(number_mask_cells(g, 2, 3), 3);
    EXPECT_EQ(g[1][2], 1);
    EXPECT_EQ(g[2][1], 2);
    EXPECT_EQ(g[2][3], 3);
    EXPECT_EQ(g[1][1], 0);
    EXPECT_EQ(g[1][3], 0);
}

TEST_F(WatershedInput, MaskWithHolesIsNumberedAndEchoed) {
    grid(3, 4, 10.0);
    s.summary_file = std::tmpfile();
    mask(map_text(30, 0, 40, 0, 3, 4, "1 1 0 1\n0 1 1 0\n1 0 1 1\n"));
    read_watershed_mask(s);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.cell_count, 8);
    EXPECT_DOUBLE_EQ(s.watershed_area, 800.0);
    const int expected[3][4] = {{1, 2, 0, 3}, {0, 4, 5, 0}, {6, 0, 7, 8}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 4; ++j) EXPECT_EQ(s.cell_number_grid[i][j], expected[i - 1][j - 1]);
    std::rewind(s.summary_file);
    char buf[512] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, s.summary_file);
    const std::string summary(buf, n);
    EXPECT_EQ(summary,
              "reading watershed mask from file: basin.mask\n"
              "number of grid cells in watershed: 8\n");
}

TEST_F(WatershedInput, GridSizeMismatchStopsWithFourLines) {
    grid(2, 2, 30.0);
    s.quiet = 0;
    mask(map_text(60.2, 0, 60, 0, 2, 2, "1 1\n1 1\n"));  // 30.1 m north-south
    const std::string out = printed([&] { read_watershed_mask(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(s.cell_count, 0);
    EXPECT_NE(out.find("\nThe grid size specified in the project file: 30.0000 m differs from\n"
                       "the north-south dimension of the raster grid cells 30.1000 m as calculated\n"
                       "from the WATERSHED_MASK header.  Check your data to make sure they agree.\n"
                       "KORVA terminating.\n\n"),
              std::string::npos)
        << out;
}

TEST_F(WatershedInput, EastWestMismatchNamesThatDirection) {
    grid(2, 2, 30.0);
    s.quiet = 0;
    mask(map_text(60.08, 0, 62, 0, 2, 2, "1 1\n1 1\n"));  // 30.04 passes, 31 east-west
    const std::string out = printed([&] { read_watershed_mask(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("the east-west dimension of the raster grid cells 31.0000 m"),
              std::string::npos);
}

TEST_F(WatershedInput, HeaderWithoutRowsIsRefusedBeforeAnyDivision) {
    grid(0, 0, 10.0);
    mask(map_text(10, 0, 10, 0, 0, 0, ""));
    const std::string out = printed([&] { read_watershed_mask(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("The WATERSHED_MASK header gives 0 rows and 0 columns."), std::string::npos);
}

TEST_F(WatershedInput, ZeroGridSizeIsRefused) {
    grid(1, 1, 0.0);
    mask(map_text(0.01, 0, 0.01, 0, 1, 1, "1\n"));  // both sides truncate to 0
    const std::string out = printed([&] { read_watershed_mask(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("must be above zero"), std::string::npos);
}

TEST_F(WatershedInput, MaskValuesMustBeZeroOrPositiveIntegers) {
    struct bad_mask {
        const char *values;
        const char *message;
    };
    const bad_mask cases[] = {
        {"1 1\n-1 1\n",
         "Error: map basin.mask, row 2, column 1: the watershed mask value -1 is negative; only 0 "
         "and positive integers are allowed\n"},
        {"1 0\n1 12345678901234567890\n",
         "Error: unreadable value at row 2, column 2 of map: basin.mask\n"},
        {"1 0.5\n1 1\n", "Error: unreadable value at row 1, column 2 of map: basin.mask\n"},
    };
    for (const bad_mask &c : cases) {
        reset_process_globals();
        grid(2, 2, 10.0);
        if (s.mask_file) std::fclose(s.mask_file);
        mask(map_text(20, 0, 20, 0, 2, 2, c.values));
        const std::string out = printed([&] { read_watershed_mask(s); });
        EXPECT_EQ(error_record.fatal, 1) << c.values;
        EXPECT_EQ(out, std::string(c.message) + "\n") << c.values;
        EXPECT_EQ(s.cell_count, 0) << c.values;
    }
}

TEST_F(WatershedInput, UnreadableMaskStopsTheDriver) {
    grid(2, 2, 10.0);
    s.cell_number_grid.release();
    mask("this is not a map\n");
    printed([&] { read_input_data(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(s.cell_count, 0);
    EXPECT_TRUE(s.elevation.empty());  // the driver stopped before step 3
}

TEST_F(WatershedInput, AllZeroMaskGivesSingleEntryCellArrays) {
    grid(2, 2, 10.0);
    s.cell_number_grid.release();
    s.chan_explicit = 1;  // an outlet outside the mask is accepted with channels
    mask(map_text(20, 0, 20, 0, 2, 2, "0 0\n0 0\n"));
    elevation(map_text(20, 0, 20, 0, 2, 2, "1 1\n1 1\n"));
    printed([&] { read_input_data(s); });
    EXPECT_EQ(s.cell_count, 0);
    EXPECT_EQ(s.outlet_cell, 0);
    ASSERT_FALSE(s.elevation.empty());
    EXPECT_EQ(s.elevation.last(), 0u);
    ASSERT_FALSE(s.depth.empty());
    EXPECT_EQ(s.depth.last(), 0u);
    EXPECT_EQ(s.right.last(), 0u);
    EXPECT_EQ(s.y_slope.last(), 0u);
}

TEST_F(WatershedInput, ElevationsArePackedAndTheOutletFound) {
    grid(2, 3, 10.0);
    s.cell_number_grid.release();
    s.outlet_row = 2;
    s.outlet_col = 3;
    mask(map_text(20, 0, 30, 0, 2, 3, "1 0 1\n1 1 1\n"));
    elevation(map_text(20, 0, 30, 0, 2, 3, "5.5 9 4.5\n3 2 1\n"));
    s.manning_n = 0.05;
    printed([&] { read_input_data(s); });
    ASSERT_EQ(s.cell_count, 5);
    EXPECT_EQ(s.outlet_cell, 5);
    const double z[6] = {0, 5.5, 4.5, 3, 2, 1};
    for (int i = 1; i <= 5; ++i) EXPECT_DOUBLE_EQ(s.elevation[i], z[i]);
    EXPECT_EQ(s.elevation_work.last(), 5u);
}

TEST_F(WatershedInput, OutletOutsideTheMaskStopsWithoutChannels) {
    grid(2, 2, 10.0);
    s.cell_number_grid.release();
    s.outlet_row = 1;
    s.outlet_col = 2;
    mask(map_text(20, 0, 20, 0, 2, 2, "1 0\n1 1\n"));
    elevation(map_text(20, 0, 20, 0, 2, 2, "1 1\n1 1\n"));
    const std::string out = printed([&] { read_input_data(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("\nThe outlet row and column you specified in the project file are not\n"
                       "inside the watershed mask.  Check the outlet row and column again, and\n"
                       "make sure they are correctly specified in the project file using the\n"
                       "OUTROW and OUTCOL project file cards.  KORVA terminating.\n\n"),
              std::string::npos);
    EXPECT_TRUE(s.depth.empty());  // stopped before the cell arrays
}

TEST_F(WatershedInput, OutletBeyondTheProjectGridIsOutside) {
    grid(2, 2, 10.0);
    s.chan_explicit = 1;
    mask(map_text(20, 0, 20, 0, 2, 2, "1 1\n1 1\n"));
    elevation(map_text(20, 0, 20, 0, 2, 2, "1 1\n1 1\n"));
    read_watershed_mask(s);
    s.outlet_row = 3;  // the bordered grid has a row 3, but it is not a cell
    s.outlet_col = 1;
    alloc_1d_double(s.elevation, s.cell_count);
    printed([&] { read_elevation(s); });
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.outlet_cell, 0);
    EXPECT_EQ(cell_at(s.cell_number_grid, 2, 2, 0, 1), 0);
    EXPECT_EQ(cell_at(s.cell_number_grid, 2, 2, 2, 2), 4);
}

TEST_F(WatershedInput, SolverWorkVectorCountsTheChannelsOfTheSameRun) {
    // One watershed cell and a two-link network: the work vector shared by the
    // solvers must hold the links, which are known only once the channels are read.
    grid(1, 2, 10.0);
    s.cell_number_grid.release();
    mask(map_text(10, 0, 20, 0, 1, 2, "1 0\n"));
    elevation(map_text(10, 0, 20, 0, 1, 2, "12 11\n"));
    s.manning_n = 0.05;
    s.chan_explicit = 1;
    s.non_ortho_channels = 1;
    s.max_courant_number = 0.2;
    s.channel_input_name = "chan.dat";
    s.channel_input_file = file("chan.dat", channeltest::two_link_card_file());
    s.stream_cell_file = file("chan.gst", "GRIDSTREAMFILE\nSTREAMCELLS 1\n"
                                          "CELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 1.0\n");
    const std::string out = printed([&] { read_input_data(s); });
    if (s.channel_input_file) std::fclose(s.channel_input_file);
    if (s.stream_cell_file) std::fclose(s.stream_cell_file);
    s.channel_input_file = s.stream_cell_file = nullptr;
    ASSERT_EQ(error_record.fatal, 0) << out;
    ASSERT_EQ(s.cell_count, 1);
    ASSERT_EQ(s.channels.link_count, 2);
    ASSERT_FALSE(s.solver_work.empty());
    EXPECT_EQ(s.solver_work.last(), 2u);
}

std::string replaced_text(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Pipe network files for a 3 x 3 mask (all cells): junction k on row
// 1 + (k - 1) % 3, column 1 + ((k - 1) / 3) % 3, of kind `outlet_kind` for junction
// `outlet` (0: none) and 0 otherwise; superlink l of `pipes` pipes from junction
// 1 + (l - 1) % J to 1 + l % J, its nodes on cell (2, 2) except node 1 of the
// outlet's superlink, which lies on (3, 3).
std::string pipe_network_text(int junctions, int links, int pipes, int outlet = 0,
                              int outlet_kind = 999) {
    std::string text = "# generated network\n";
    char line[160];
    for (int k = 1; k <= junctions; ++k) {
        std::snprintf(line, sizeof line, "SJUNC %d 110.0 100.0 1.0 %d 0.0 0.0 %d %d\n", k,
                      k == outlet ? outlet_kind : 0, 1 + ((k - 1) / 3) % 3, 1 + (k - 1) % 3);
        text += line;
    }
    for (int l = 1; l <= links; ++l) {
        std::snprintf(line, sizeof line, "CONNECT %d %d %d\n", l, 1 + (l - 1) % junctions,
                      1 + l % junctions);
        text += line;
    }
    for (int l = 1; l <= links; ++l) {
        std::snprintf(line, sizeof line, "SLINK %d %d\n", l, pipes);
        text += line;
        for (int n = 1; n <= pipes + 1; ++n) {
            const int at = (l == outlet && n == 1) ? 3 : 2;
            std::snprintf(line, sizeof line, "NODE %d 110.0 100.0 0.5 0 0.0 0.0 %d %d\n", n, at,
                          at);
            text += line;
        }
        for (int n = 1; n <= pipes; ++n) {
            std::snprintf(line, sizeof line, "PIPE %d 1 0.5 0.0 0.01 0.013 10.0 0.0\n", n);
            text += line;
        }
    }
    return text;
}

class PipeNetwork : public WatershedInput {
protected:
    void SetUp() override {
        WatershedInput::SetUp();
        grid(3, 3, 10.0);
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 3; ++j) s.cell_number_grid[i][j] = 1;
        s.cell_count = number_mask_cells(s.cell_number_grid, 3, 3);
    }
    // Reads the network from its files, as the tile-drain reader does before it
    // places the network; the reader's result.
    int read_network(const std::string &text) {
        s.storm_sewer_name = "net.dat";
        s.grid_pipe_name = "net.gpi";
        std::FILE *network = file(s.storm_sewer_name, text);
        std::FILE *cells = file(s.grid_pipe_name, "GRIDPIPEFILE\nPIPECELLS 1\nCELLIJ 2 2\n");
        int result = -100;
        printed([&] { result = read_superlink_file(network, cells, s); });
        std::fclose(network);
        std::fclose(cells);
        return result;
    }
    void pipe_network(int junctions, int links, int pipes, int outlet = 0) {
        ASSERT_EQ(read_network(pipe_network_text(junctions, links, pipes, outlet)), 0);
    }
    int place() {
        printed([&] { place_tile_drain_network(s); });
        const int code = error_record.code;
        if (code) report_error_quietly();
        return code;
    }
    static void report_error_quietly() {
        testing::internal::CaptureStdout();
        report_error();
        testing::internal::GetCapturedStdout();
    }
};

TEST_F(PipeNetwork, LargestAcceptedNetworkPlacesEveryJunctionAndNode) {
    pipe_network(1000, 1000, 50);
    EXPECT_EQ(place(), 0);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.junction_cell[1], 1);     // row 1 col 1
    EXPECT_EQ(s.junction_cell[2], 4);     // row 2 col 1
    EXPECT_EQ(s.junction_cell[6], 8);     // row 3 col 2
    EXPECT_EQ(s.superlink_node_gnum[50][1000], 5);
}

TEST_F(PipeNetwork, ExchangeArraysReachEveryPipeNodeAndJunction) {
    // Two junctions, three superlinks of four pipes, one of them a tile drain.
    std::string text = pipe_network_text(2, 3, 4);
    text.replace(text.rfind("0.013 10.0 0.0\n"), 15, "0.013 10.0 0.5\n");
    ASSERT_EQ(read_network(text), 0);
    ASSERT_EQ(s.superlinks.tile_drain, 1);
    EXPECT_EQ(place(), 0);
    EXPECT_EQ(s.superlink_tile_flow.rows(), 6u);  // nodes 0..N + 2
    EXPECT_EQ(s.superlink_tile_flow.cols(), 4u);  // superlinks 0..L + 1
    EXPECT_EQ(s.flow_to_superlink.rows(), 4u);
    EXPECT_EQ(s.flow_to_superlink.cols(), 3u);    // the larger of J and L
    EXPECT_EQ(s.tile_cell_flow.last(), 9u);
    EXPECT_EQ(s.superlink_node_gnum[4][3], 5);
}

TEST_F(PipeNetwork, OneMoreOfAnyLimitStopsWithItsCode) {
    pipe_network(1001, 1, 1);
    EXPECT_EQ(place(), 99);
    reset_process_globals();
    pipe_network(1, 1, 51);
    EXPECT_EQ(place(), 100);
    reset_process_globals();
    pipe_network(1, 1001, 1);
    EXPECT_EQ(place(), 101);
    // The junction limit is tested first, then the pipe limit.
    reset_process_globals();
    pipe_network(1001, 1, 51);
    EXPECT_EQ(place(), 99);
    reset_process_globals();
    pipe_network(1, 1001, 51);
    EXPECT_EQ(place(), 100);
}

TEST_F(PipeNetwork, Kind999JunctionSitsOnTheFirstNodeOfItsSuperlink) {
    pipe_network(2, 2, 1, 2);
    EXPECT_EQ(place(), 0);
    EXPECT_EQ(s.junction_cell[2], 9);
    // Any other kind sits on its own position (row 2, column 1).
    reset_process_globals();
    ASSERT_EQ(read_network(pipe_network_text(2, 2, 1, 2, 888)), 0);
    EXPECT_EQ(place(), 0);
    EXPECT_EQ(s.junction_cell[2], 4);
}

TEST_F(PipeNetwork, PositionOutsideTheMaskIsAnError) {
    s.cell_number_grid[2][2] = 0;  // a hole under the pipe nodes
    pipe_network(1, 1, 1);
    const std::string out = printed([&] { place_tile_drain_network(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("node of superlink 1 of the pipe network lies at row 2 col 2"),
              std::string::npos);
    reset_process_globals();
    s.cell_number_grid[2][2] = 5;
    ASSERT_EQ(read_network(replaced_text(pipe_network_text(1, 1, 1), "0.0 0.0 1 1\n",
                                         "0.0 0.0 1 4\n")),
              0);  // junction 1 below the grid
    printed([&] { place_tile_drain_network(s); });
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(PipeNetwork, CountsBeyondThePositionsReadAreRefused) {
    pipe_network(2, 1, 1);
    // A count beyond the arrays of the positions.
    s.superlinks.num_junctions = s.superlinks.superlink_max_dim + 1;
    printed([&] { place_tile_drain_network(s); });
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(WatershedInput, PipeNetworkFileThatCannotBeOpenedIsCode4) {
    grid(1, 1, 10.0);
    s.storm_sewer_on = 1;
    s.storm_sewer_name = "missing.pipes";
    s.grid_pipe_name = "missing.grid";
    read_tile_drain_network(s);
    EXPECT_EQ(error_record.code, 4);
    EXPECT_STREQ(error_record.text1, "tile drain grid pipe");
    EXPECT_STREQ(error_record.text2, "missing.pipes");
}

TEST_F(WatershedInput, DikeCodesAreReadPerCell) {
    grid(2, 2, 10.0);
    s.cell_number_grid.release();
    s.outlet_row = 1;
    s.outlet_col = 1;
    mask(map_text(20, 0, 20, 0, 2, 2, "1 1\n0 1\n"));
    alloc_2d_int(s.cell_number_grid, 3, 3);
    read_watershed_mask(s);
    s.dike_on = 1;
    s.dike_name = (dir.path() / "dikes.map").string();
    dir.write("dikes.map", map_text(20, 0, 20, 0, 2, 2, "2 8\n9 4\n"));
    printed([&] { read_dike_map(s); });
    EXPECT_EQ(error_record.fatal, 0);
    ASSERT_EQ(s.dike_code.last(), 3u);
    EXPECT_EQ(s.dike_code[1], 2);
    EXPECT_EQ(s.dike_code[2], 8);
    EXPECT_EQ(s.dike_code[3], 4);  // the 9 lies outside the mask
}

TEST_F(WatershedInput, DikeMapThatCannotBeOpenedStops) {
    grid(1, 1, 10.0);
    s.dike_on = 1;
    s.dike_name = "no_such.dike";
    const std::string out = printed([&] { read_dike_map(s); });
    EXPECT_EQ(out, "Can't open input dike mask file named: no_such.dike\n\n");
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(WatershedInput, OverlandBoundaryWithoutItsTableIsCode84BeforeAnyValue) {
    grid(1, 1, 10.0);
    s.cell_count = 1;
    s.overland_boundary_on = 1;
    s.mapping_table_on = 1;
    s.table_present[12] = 0;
    read_overland_boundary(s);
    EXPECT_EQ(error_record.code, 84);
    EXPECT_EQ(s.ov_boundary_type.last(), 1u);
    EXPECT_EQ(s.ov_boundary_type[1], 0);
}

TEST_F(WatershedInput, FeaturesThatAreOffReadNothing) {
    grid(1, 1, 10.0);
    read_tile_drain_network(s);
    read_dike_map(s);
    setup_wetlands(s);
    read_overland_boundary(s);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_TRUE(s.dike_code.empty());
    EXPECT_TRUE(s.wetland_id.empty());
    EXPECT_TRUE(s.ov_boundary_type.empty());
}

}  // namespace
