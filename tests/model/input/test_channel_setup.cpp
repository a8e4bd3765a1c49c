// Tests of the channel set-up: a hand-written channel hotstart, hydrograph
// location lists, the LINKS and NODES maps of orthogonal channels, the
// non-orthogonal set-up with sediment and stream cells, the erosion check,
// Sacramento weights (also from the computed topographic index), pipe-network
// outlets and channel point inputs.
#include <cmath>
#include <cstdio>
#include <string>

#include "model/input/channel_setup.h"
#include "model/input/sacramento_file.h"
#include "model/input/input_readers.h"
#include "support/captured_output.h"
#include "tests/model/input/channel_test_files.h"

namespace {

using channeltest::channel_files;
using channeltest::two_link_card_file;
using testsupport::printed_err;

// A map of 3 x 4 cells of 10 m.
std::string map_text(const std::string &values) {
    return "north: 30.0\nsouth: 0.0\neast: 40.0\nwest: 0.0\nrows: 3\ncols: 4\n" + values;
}

const char *gst_two_cells = "GRIDSTREAMFILE\nSTREAMCELLS 2\n"
                            "CELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 1.0\n"
                            "CELLIJ 1 2\nNUMNODES 2\nLINKNODE 1 2 0.5\nLINKNODE 2 1 0.5\n";

class ChannelSetup : public channel_files {
protected:
    // Reads the two-link network into the run state.
    void network(const std::string &text = two_link_card_file()) {
        read(text);
        ASSERT_FALSE(failed());
    }
};

TEST_F(ChannelSetup, HotstartWrittenByHandIsReadBack) {
    network();
    dir.write("chan.hot", "   1    2    0.500    1.250\n"
                          "   2    1    0.300    0.700\n"
                          "   0    1    9.000    9.000\n"   // link 0: passed over
                          "   3    1    9.000    9.000\n"   // beyond the link count
                          "   1    4    9.000    9.000\n"   // beyond the computational nodes
                          "   1    3\n");                   // short record
    s.read_chan_hotstart_on = 1;
    s.read_chan_hotstart_name = path("chan.hot");
    const double bed12 = s.channels.bel[2][1], bed21 = s.channels.bel[1][2];
    read_channel_hotstart(s);
    ASSERT_FALSE(failed());
    const channel_network &n = s.channels;
    EXPECT_DOUBLE_EQ(n.yp[2][1], bed12 + 0.5);
    EXPECT_DOUBLE_EQ(n.qp[2][1], 1.25);
    EXPECT_DOUBLE_EQ(n.yp[1][2], bed21 + 0.3);
    EXPECT_DOUBLE_EQ(n.qp[1][2], 0.7);
    EXPECT_DOUBLE_EQ(n.yp[3][1], n.bel[3][1]);
    EXPECT_DOUBLE_EQ(n.qp[1][1], 0.0);
}

TEST_F(ChannelSetup, MissingHotstartStops) {
    network();
    s.read_chan_hotstart_on = 1;
    s.read_chan_hotstart_name = path("none.hot");
    const std::string out = printed([&] { read_channel_hotstart(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("Can't open channel hotstart file named "), std::string::npos);
}

// A depth of 0 to 1000 m and a discharge within 1e6 m3/s; the line is named.
TEST_F(ChannelSetup, HotstartValueBeyondItsQuantityStops) {
    network();
    for (const char *line : {"1 2 2147483648 0.1\n", "1 2 -0.5 0.1\n", "1 2 0.5 -2e6\n"}) {
        reset_process_globals();
        dir.write("chan.hot", std::string("1 1 0.5 0.1\n") + line);
        s.read_chan_hotstart_on = 1;
        s.read_chan_hotstart_name = path("chan.hot");
        const std::string out = printed([&] { read_channel_hotstart(s); });
        EXPECT_TRUE(failed()) << line;
        EXPECT_NE(out.find("Error: line 2 of the channel hotstart file " + path("chan.hot") +
                           " gives link 1, node 2"),
                  std::string::npos) << out;
    }
}

TEST_F(ChannelSetup, HydrographLocations) {
    network();
    s.in_hyd_location_on = 1;
    s.in_hyd_location_name = "hyd.loc";
    s.hyd_location_file = file("hyd.loc", "2\n1 3\n2 2\n");
    read_hydrograph_locations(s);
    ASSERT_FALSE(failed());
    EXPECT_EQ(s.hyd_location_count, 2);
    ASSERT_EQ(s.hyd_location_link.size(), 4u);
    EXPECT_EQ(s.hyd_location_link[1], 1);
    EXPECT_EQ(s.hyd_location_node[1], 3);
    EXPECT_EQ(s.hyd_location_link[2], 2);

    reset_process_globals();
    s.hyd_location_file = file("short.loc", "3\n1 1\n");
    std::string out = printed([&] { read_hydrograph_locations(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("End of file reached in file hyd.loc, exiting\n"), std::string::npos);

    reset_process_globals();
    s.hyd_location_file = file("bad.loc", "2\n1 3\n5 1\n");
    out = printed([&] { read_hydrograph_locations(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("hydrograph location at link 5, node 1 is not a node"), std::string::npos);
}

TEST_F(ChannelSetup, OrthogonalMapsGiveOneEntryPerChannelCell) {
    network();
    s.chan_explicit = 1;
    s.links_name = "links.map";
    s.nodes_name = "nodes.map";
    s.links_file = file("links.map", map_text("1 1 1 0\n0 0 2 0\n0 0 2 0\n"));
    s.nodes_file = file("nodes.map", map_text("1 2 3 0\n0 0 1 0\n0 0 2 0\n"));
    printed([&] { read_channel_cell_maps(s); });
    ASSERT_FALSE(failed());
    const channel_work &w = s.chan;
    EXPECT_EQ(w.cell_link[3], 1);
    EXPECT_EQ(w.cell_node[3], 3);
    EXPECT_EQ(w.cell_link[11], 2);
    EXPECT_EQ(w.cell_node[11], 2);
    EXPECT_EQ(w.cell_link[4], 0);
    const grid_stream_data &g = s.channels.gst;
    ASSERT_EQ(g.cell_count, 5);
    EXPECT_EQ(g.entry_count[5], 1);
    EXPECT_EQ(g.gst_gnum[4][1], 7);  // cells 1, 2, 3, 7, 11 in order
    EXPECT_EQ(g.gst_link[4][1], 2);
    EXPECT_EQ(g.gst_node[4][1], 1);
    EXPECT_DOUBLE_EQ(g.gst_pct[4][1], 1.0);
    EXPECT_EQ(w.gst_row[4][1], 2);
    EXPECT_EQ(w.gst_col[4][1], 3);
}

TEST_F(ChannelSetup, OrthogonalMapNodeOutsideTheLinkIsRefused) {
    network();
    s.chan_explicit = 1;
    s.links_file = file("links.map", map_text("1 0 0 0\n0 0 0 0\n0 0 0 0\n"));
    s.nodes_file = file("nodes.map", map_text("9 0 0 0\n0 0 0 0\n0 0 0 0\n"));
    const std::string out = printed([&] { read_channel_cell_maps(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("grid cell 1 has link 1 and node 9"), std::string::npos);
}

TEST_F(ChannelSetup, NonOrthogonalSetUpWithSedimentAndStreamCells) {
    // An erodible trapezoid network, read through setup_channels.
    std::string t = two_link_card_file();
    for (std::size_t at; (at = t.find("TRAPEZOID\n")) != std::string::npos;)
        t.replace(at, 10, "TRAP_ERODE\n");
    t.replace(t.find("SIDE_SLOPE 1.0\n"), 15, "SIDE_SLOPE 1.0\nMAX_EROSION 0.2\n");
    t.replace(t.find("SIDE_SLOPE 0.5\n"), 15, "SIDE_SLOPE 0.5\nMAX_EROSION 0.1\n");
    s.channel_input_name = "chan.dat";
    s.channel_input_file = file("chan.dat", t);
    s.chan_explicit = 1;
    s.max_courant_number = 0.2;  // the project default
    s.non_ortho_channels = 1;
    s.stream_cell_file = file("chan.gst", gst_two_cells);
    s.chan_sediment_setup = 1;
    s.erosion.soil_erosion = 1;
    s.erosion.size_class_count = 2;
    s.project.sed_porosity = 0.4;
    printed([&] { setup_channels(s); });
    ASSERT_FALSE(failed());
    const channel_work &w = s.chan;
    EXPECT_EQ(s.chan_sediment_on, 1);
    // Erodible bed: (1 - 0.4) x 0.2 m x 3 m x 10 m on link 1, x 0.1 x 2 on link 2.
    EXPECT_NEAR(w.ch_sand_vol[1][1][0], 0.6 * 0.2 * 3.0 * 10.0, 1e-12);
    EXPECT_NEAR(w.ch_sand_vol[2][2][0], 0.6 * 0.1 * 2.0 * 10.0, 1e-12);
    EXPECT_NEAR(w.total_initial_sediment, 3 * 3.6 + 2 * 1.2, 1e-12);
    EXPECT_DOUBLE_EQ(w.new_bel[2][1], s.channels.bel[2][1]);
    // Stream cells for the overland coupling, with their grid positions.
    EXPECT_EQ(s.stream_cell_count, 2);
    EXPECT_EQ(s.stream_cell_id[1], 1);
    EXPECT_EQ(s.stream_cell_id[2], 2);
    EXPECT_DOUBLE_EQ(s.stream_cell_level[2], s.elevation[2]);
    EXPECT_EQ(w.gst_row[2][2], 1);
    EXPECT_EQ(w.gst_col[2][2], 2);
    EXPECT_FALSE(w.area.empty());
    EXPECT_FALSE(w.con_vect.empty());
    EXPECT_EQ(w.outlet_link_count, 1);
}

TEST_F(ChannelSetup, ErosionWithoutErodibleTrapezoidsStops) {
    s.channel_input_file = file("chan.dat", two_link_card_file());
    s.chan_explicit = 1;
    s.max_courant_number = 0.2;  // the project default
    s.erosion.soil_erosion = 1;
    std::string err;
    printed([&] { err = printed_err([&] { setup_channels(s); }); });
    EXPECT_TRUE(failed());
    EXPECT_NE(err.find("\nError: overland erosion (SOIL_EROSION) is on with channel routing"), std::string::npos);
    EXPECT_NE(err.find("has no erodible trapezoidal link (TRAP_ERODE)"), std::string::npos);
}

TEST_F(ChannelSetup, SacramentoWeightsOfNonOrthogonalEntries) {
    s.non_ortho_channels = 1;
    s.stream_cell_file = file("chan.gst", gst_two_cells);
    network();
    s.sacramento_on = 1;
    alloc_1d_double(s.topo_index, 12);
    s.topo_index[1] = 3.0;
    s.topo_index[2] = 1.0;
    s.quiet = 0;
    const std::string out = printed([&] { compute_sacramento_weights(s); });
    ASSERT_FALSE(failed()) << out;
    const grid_stream_data &g = s.channels.gst;
    // Lengths 10, 5, 5 of 20; cell weights 3/4 and 1/4: 0.375, 0.0625, 0.0625,
    // then normalised by their sum 0.5.
    EXPECT_NEAR(g.gst_sac_weight[1][1], 0.75, 1e-12);
    EXPECT_NEAR(g.gst_sac_weight[2][1], 0.125, 1e-12);
    EXPECT_NEAR(g.gst_sac_weight[2][2], 0.125, 1e-12);
    EXPECT_EQ(s.chan.sac_channel_cells, 2);
    EXPECT_NE(out.find("Sac Weights: 1.000000\n"), std::string::npos);
}

TEST_F(ChannelSetup, SacramentoWeightsStopOnIndicesThatSumToZero) {
    s.non_ortho_channels = 1;
    s.stream_cell_file = file("chan.gst", gst_two_cells);
    network();
    s.sacramento_on = 1;
    alloc_1d_double(s.topo_index, 12);  // TOPO_INDEX given, every index 0
    const std::string out = printed([&] { compute_sacramento_weights(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("Problem, sum of the topographic indices in all channel-containing grids "
                       "is <=0.0\nProgram terminated\n"),
              std::string::npos);
}

TEST_F(ChannelSetup, SacramentoWeightsOfOrthogonalCells) {
    network();
    s.sacramento_on = 1;
    alloc_1d_int(s.chan.cell_link, 12);
    s.chan.cell_link[5] = 1;
    s.chan.cell_link[6] = 2;
    alloc_1d_double(s.topo_index, 12);
    s.topo_index[5] = 2.0;
    s.topo_index[6] = 6.0;
    s.topo_index[7] = 100.0;  // not a channel cell
    compute_sacramento_weights(s);
    ASSERT_FALSE(failed());
    EXPECT_NEAR(s.chan.sac_cell_weight[5], 0.25, 1e-12);
    EXPECT_NEAR(s.chan.sac_cell_weight[6], 0.75, 1e-12);
    EXPECT_DOUBLE_EQ(s.chan.sac_cell_weight[7], 0.0);
    EXPECT_NEAR(s.chan.sac_weight_total, 1.0, 1e-12);
}

// Without TOPO_INDEX the base flow goes to the channel cells uniformly; each
// orthogonal cell's grid-stream entry carries its cell's weight, which is what the
// lateral inflow reads.
TEST_F(ChannelSetup, SacramentoWeightsWithoutIndicesAreUniformAndReachTheEntries) {
    network();
    s.sacramento_on = 1;
    alloc_1d_int(s.chan.cell_link, 12);
    for (int c : {3, 5, 6, 9}) s.chan.cell_link[static_cast<std::size_t>(c)] = 1;
    grid_stream_data &g = s.channels.gst;
    g.cell_count = 4;
    ASSERT_EQ(alloc_2d_int(g.gst_gnum, 4, 1), 0);
    ASSERT_EQ(alloc_2d_double(g.gst_sac_weight, 4, 1, "gst_sac_weight"), 0);
    int i = 0;
    for (int c : {3, 5, 6, 9}) g.gst_gnum[static_cast<std::size_t>(++i)][1] = c;
    compute_sacramento_weights(s);
    ASSERT_FALSE(failed());
    for (int k = 1; k <= 4; ++k) {
        EXPECT_NEAR(g.gst_sac_weight[static_cast<std::size_t>(k)][1], 0.25, 1e-15) << k;
        EXPECT_NEAR(s.chan.sac_cell_weight[static_cast<std::size_t>(g.gst_gnum[k][1])], 0.25, 1e-15);
    }
    EXPECT_NEAR(s.chan.sac_weight_total, 1.0, 1e-12);
    EXPECT_EQ(s.chan.sac_channel_cells, 4);
}

TEST_F(ChannelSetup, SacramentoWeightsFromTheComputedTopographicIndex) {
    // The index of the fixture's terrain (100 + cell number, lowest at cell 1),
    // allocated by the cell-array hook and filled by cell number; channel cells 1
    // and 5 down the first column.
    network();
    s.sacramento_on = 1;
    s.topo_index_on = 1;
    allocate_sacramento_cell_arrays(s);
    topodex(s.elevation, s.cell_number_grid, s.topo_index, 3, 4, 10.0);
    ASSERT_FALSE(failed());
    // Cell 1 gathers all 1200 m2; its mean upward slope is (0.1 + 0.4 + 5/(10 r2))/3.
    const double slope = (0.1 + 0.4 + 5.0 / (10.0 * std::sqrt(2.0))) / 3.0;
    EXPECT_NEAR(s.topo_index[1], std::log(1200.0 / (2.0 * 10.0 * slope)), 1e-12);
    alloc_1d_int(s.chan.cell_link, 12);
    s.chan.cell_link[1] = s.chan.cell_link[5] = 1;
    compute_sacramento_weights(s);
    ASSERT_FALSE(failed());
    const double sum = s.topo_index[1] + s.topo_index[5];
    EXPECT_NEAR(s.chan.sac_cell_weight[1], s.topo_index[1] / sum, 1e-12);
    EXPECT_NEAR(s.chan.sac_cell_weight[5], s.topo_index[5] / sum, 1e-12);
    EXPECT_EQ(s.chan.sac_channel_cells, 2);
    EXPECT_NEAR(s.chan.sac_weight_total, 1.0, 1e-12);
}

TEST_F(ChannelSetup, PipeOutletWithoutItsLinkPrintsOnlyTheLinkLine) {
    network();
    s.storm_sewer_on = 1;
    superlink_network &p = s.superlinks;
    p.num_junctions = 2;
    alloc_1d_int(p.junction_kind, 2);
    alloc_1d_int(p.junction_channel_node, 2);
    alloc_1d_int(p.junction_channel_link, 2);
    p.junction_kind[1] = 1;
    p.junction_kind[2] = 999;
    p.junction_channel_node[2] = 3;
    const std::string out = printed([&] { link_superlink_outlets(s); });
    EXPECT_TRUE(failed());
    EXPECT_EQ(out, "Superlink outlet channel link not found, at superjunction 2\n"
                   "Check your superlink input file to insure that superlink outlets\n"
                   "terminate on stream arcs.\n"
                   "\n");  // the reporter's line feed
}

TEST_F(ChannelSetup, PipeOutletsTakeTheirNodeAndLink) {
    network();
    s.storm_sewer_on = 1;
    superlink_network &p = s.superlinks;
    p.num_junctions = 1;
    alloc_1d_int(p.junction_kind, 1);
    alloc_1d_int(p.junction_channel_node, 1);
    alloc_1d_int(p.junction_channel_link, 1);
    p.junction_kind[1] = 999;
    p.junction_channel_node[1] = 2;
    p.junction_channel_link[1] = 1;
    link_superlink_outlets(s);
    ASSERT_FALSE(failed());
    EXPECT_EQ(s.chan.outlet_node[1], 2);
    EXPECT_EQ(s.chan.outlet_link[1], 1);
}

TEST_F(ChannelSetup, PipeOutletsDrainIntoTheChannelNodeOnTheirOwnCell) {
    network();
    s.storm_sewer_on = 1;
    s.grid_rows = 3;
    s.grid_cols = 4;
    alloc_2d_int(s.cell_number_grid, 4, 5);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 4; ++j) s.cell_number_grid[i][j] = (i - 1) * 4 + j;
    // Grid row 2, column 3 (cell 7) holds node 1 of link 2.
    grid_stream_data &g = s.channels.gst;
    g.cell_count = 2;
    alloc_1d_int(g.entry_count, 2);
    alloc_2d_int(g.gst_link, 2, 1);
    alloc_2d_int(g.gst_node, 2, 1);
    alloc_2d_int(g.gst_gnum, 2, 1);
    g.entry_count[1] = g.entry_count[2] = 1;
    g.gst_gnum[1][1] = 5;
    g.gst_link[1][1] = 1;
    g.gst_node[1][1] = 3;
    g.gst_gnum[2][1] = 7;
    g.gst_link[2][1] = 2;
    g.gst_node[2][1] = 1;
    superlink_network &p = s.superlinks;
    p.num_junctions = 2;
    for (auto *a : {&p.junction_kind, &p.junction_row, &p.junction_col, &p.junction_channel_node,
                    &p.junction_channel_link})
        alloc_1d_int(*a, 2);
    p.junction_kind[1] = 5;  // an inlet on a channel cell drains nowhere
    p.junction_row[1] = 2;
    p.junction_col[1] = 1;
    p.junction_kind[2] = 999;
    p.junction_row[2] = 2;
    p.junction_col[2] = 3;
    link_superlink_outlets(s);
    ASSERT_FALSE(failed());
    EXPECT_EQ(s.chan.outlet_link[2], 2);
    EXPECT_EQ(s.chan.outlet_node[2], 1);
    EXPECT_EQ(s.chan.outlet_link[1], 0);
    // An outlet on a cell without a channel node stops the set-up.
    p.junction_channel_node[2] = p.junction_channel_link[2] = 0;
    p.junction_row[2] = 3;
    const std::string out = printed([&] { link_superlink_outlets(s); });
    EXPECT_TRUE(failed());
    EXPECT_EQ(out, "Superlink outlet channel node not found, at superjunction 2\n"
                   "Superlink outlet channel link not found, at superjunction 2\n"
                   "Check your superlink input file to insure that superlink outlets\n"
                   "terminate on stream arcs.\n"
                   "\n");
}

TEST_F(ChannelSetup, ChannelPointInputsAndInitialConcentrations) {
    network();
    s.chan_con_trans = 1;
    s.constituent_type.grow(2, 0);
    s.init_chan_conc = 5.0;
    s.chan_decay_coef = 8.64;
    s.chan_disp_coef = 0.3;
    chan_make(s.chan.area, 4, 2, "area");
    s.chan.area[1][1] = 2.0;
    dir.write("con.in", "1 \n2 1 0.5\n3.0 4.0\n");
    s.chan_con_input_name = path("con.in");
    s.constituent_output_name = path("con.out");
    printed([&] { setup_channel_constituents(s); });
    ASSERT_FALSE(failed());
    const channel_work &w = s.chan;
    EXPECT_DOUBLE_EQ(w.chan_point_Q[2][1], 0.5);
    EXPECT_DOUBLE_EQ(w.chan_point_conc[1][2][1], 3.0);
    EXPECT_DOUBLE_EQ(w.chan_point_conc[2][2][1], 4.0);
    EXPECT_DOUBLE_EQ(w.chan_decay_coef[2][3][1], 8.64 / 86400.0);
    EXPECT_DOUBLE_EQ(w.chan_disp_coef[1][2][2], 0.3);
    EXPECT_DOUBLE_EQ(w.chan_node_conc[1][1][1], 5.0);  // wet node
    EXPECT_DOUBLE_EQ(w.chan_node_conc[1][2][1], 0.0);  // dry node
    EXPECT_NE(w.con_output.file, nullptr);
}

TEST_F(ChannelSetup, ChannelPointInputOutsideTheNetworkIsRefused) {
    network();
    s.chan_con_trans = 1;
    s.constituent_type.grow(1, 0);
    chan_make(s.chan.area, 4, 2, "area");
    dir.write("con.in", "1\n7 1 0.5\n3.0\n");
    s.chan_con_input_name = path("con.in");
    s.constituent_output_name = path("con.out");
    const std::string out = printed([&] { setup_channel_constituents(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("channel point input at link 1, node 7 is not a node"), std::string::npos);
}

TEST_F(ChannelSetup, MissingPointInputFileIsNotAnError) {
    network();
    s.chan_con_trans = 1;
    s.constituent_type.grow(1, 0);
    chan_make(s.chan.area, 4, 2, "area");
    s.chan_con_input_name = path("none.in");
    s.constituent_output_name = path("con.out");
    const std::string out = printed([&] { setup_channel_constituents(s); });
    EXPECT_FALSE(failed());
    EXPECT_NE(out.find("There will be no point inputs to the channel file \n"), std::string::npos);
}

}  // namespace
