// Tests of the grid-stream file of non-orthogonal channels: cells and their
// link-node entries, short entry lists, and every refused form (missing header,
// wrong second card, counts beyond their declared counts, cells outside the grid
// or the mask, entries outside the network).
#include <iterator>
#include <string>
#include <vector>

#include "model/input/grid_stream.h"
#include "tests/model/input/channel_test_files.h"

namespace {

using channeltest::channel_files;
using channeltest::two_link_card_file;

class GridStream : public channel_files {
protected:
    void SetUp() override {
        channel_files::SetUp();
        read(two_link_card_file());
        ASSERT_FALSE(failed());
    }
    std::string load(const std::string &text) {
        std::FILE *f = file("chan.gst", text);
        return printed([&] { read_grid_stream_file(f, s); });
    }
};

const char *good_file =
    "GRIDSTREAMFILE\n"
    "STREAMCELLS 2\n"
    "CELLIJ 1 2\nNUMNODES 2\nLINKNODE 1 1 0.6\nLINKNODE 1 2 0.4\n"
    "cellij 3 4\nnumnodes 3\nlinknode 2 1 0.5\nLinkNode 2 2 0.5\n";

TEST_F(GridStream, ReadsCellsAndEntries) {
    s.quiet = 0;
    const std::string out = load(good_file);
    ASSERT_FALSE(failed()) << out;
    const grid_stream_data &g = s.channels.gst;
    EXPECT_EQ(g.cell_count, 2);
    EXPECT_EQ(g.max_entries, 3);
    EXPECT_EQ(g.entry_count[1], 2);
    EXPECT_EQ(g.gst_gnum[1][1], 2);  // row 1, column 2
    EXPECT_EQ(g.gst_link[1][2], 1);
    EXPECT_EQ(g.gst_node[1][2], 2);
    EXPECT_DOUBLE_EQ(g.gst_pct[1][1], 0.6);
    EXPECT_EQ(g.gst_gnum[2][2], 12);
    EXPECT_DOUBLE_EQ(g.gst_pct[2][2], 0.5);
    // NUMNODES 3 with two LINKNODE cards: the third entry stays empty.
    EXPECT_EQ(g.gst_link[2][3], 0);
    EXPECT_EQ(g.gst_gnum[2][3], 0);
    EXPECT_NE(out.find("Finished reading non-orthogonal channel information from gst file.\n"),
              std::string::npos);
}

TEST_F(GridStream, RefusedFiles) {
    struct refusal {
        std::string text;
        const char *message;
    } cases[] = {
        {"STREAMCELLS 1\nCELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 1.0\n",
         "The first line of the grid-stream file must be GRIDSTREAMFILE"},
        {"GRIDSTREAMFILE\nCELLIJ 1 1\n", "The second card in the grid-stream file must be STREAMCELLS\n"
                                         "File format error, program terminating.\n"},
        {"GRIDSTREAMFILE\nSTREAMCELLS 0\n",
         "must be greater than 0.  File format error, program terminating\n"},
        {"GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 1\n"
         "CELLIJ 1 2\nNUMNODES 1\nLINKNODE 1 2 1\n",
         "more NUMNODES cards than its 1 STREAMCELLS"},
        {"GRIDSTREAMFILE\nSTREAMCELLS 2\nCELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 1\nCELLIJ 1 2\n"
         "CELLIJ 1 3\n",
         "more CELLIJ cards than its 2 STREAMCELLS"},
        {"GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 0.5\n"
         "LINKNODE 1 2 0.5\n",
         "more LINKNODE cards than its NUMNODES 1"},
        {"GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 4 1\nNUMNODES 1\nLINKNODE 1 1 1\n",
         "CELLIJ 4 1 in the grid-stream file is not a cell of the watershed"},
        {"GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 1 1\nNUMNODES 1\nLINKNODE 3 1 1\n",
         "LINKNODE 3 1 of stream cell 1"},
        {"GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 1 1\nNUMNODES 1\nLINKNODE 2 4 1\n",
         "LINKNODE 2 4 of stream cell 1"},
        {"GRIDSTREAMFILE\nSTREAMCELLS 1\nNUMNODES 1\nLINKNODE 1 1 1\n",
         "comes before any CELLIJ card"},
    };
    std::vector<refusal> all(std::begin(cases), std::end(cases));
    // The share of a node's length in its cell: more than 0, at most 1.
    for (const char *share : {"abc", "0", "1e-320", "1.5", "1e308", "-1", "nan", ""})
        all.push_back({std::string("GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 1 1\nNUMNODES 1\n"
                                   "LINKNODE 1 1 ") + share + "\n",
                       "Error in the grid-stream file chan.gst, line 5: the share"});
    s.stream_cell_name = "chan.gst";
    for (const refusal &c : all) {
        reset_process_globals();
        const std::string out = load(c.text);
        EXPECT_TRUE(failed()) << c.text;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.text << "\n" << out;
        // Every refusal names the file and its card.
        EXPECT_NE(out.find("chan.gst"), std::string::npos) << out;
    }
}

TEST_F(GridStream, CellOutsideTheMaskIsRefused) {
    s.cell_number_grid[2][2] = 0;
    const std::string out =
        load("GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 2 2\nNUMNODES 1\nLINKNODE 1 1 1\n");
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("CELLIJ 2 2 in the grid-stream file is not a cell of the watershed"),
              std::string::npos);
}

TEST_F(GridStream, ReadByTheChannelReaderForNonOrthogonalChannels) {
    reset_process_globals();
    model_state t;
    t.quiet = 1;
    t.grid_rows = 3;
    t.grid_cols = 4;
    alloc_2d_int(t.cell_number_grid, 4, 5);
    for (int c = 1; c <= 4; ++c) t.cell_number_grid[1][c] = c;
    t.cell_count = 4;
    t.non_ortho_channels = 1;
    t.stream_cell_file = file("net.gst", "GRIDSTREAMFILE\nSTREAMCELLS 1\nCELLIJ 1 3\nNUMNODES 1\n"
                                         "LINKNODE 2 1 1.0\n");
    std::FILE *f = file("net.chan", two_link_card_file());
    printed([&] { read_chan_input(f, t); });
    ASSERT_FALSE(failed());
    EXPECT_EQ(t.channels.gst.cell_count, 1);
    EXPECT_EQ(t.channels.gst.gst_gnum[1][1], 3);
    t.stream_cell_file = nullptr;  // closed by the fixture
}

}  // namespace
