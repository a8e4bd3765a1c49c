// Reader of the grid-stream file of non-orthogonal channels: the header line,
// the stream-cell count, a first pass for the entry counts and a second for the
// cells and their link-node entries. Called by read_chan_input after the links
// are finished.
#include "model/input/grid_stream.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "model/channel/channel_network.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/channel_file.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

void format_error_stop(const model_state &s) {
    std::printf("File format error, program terminating.\n");
    std::printf("  (grid-stream file %s, card STREAM_CELL)\n", s.stream_cell_name.c_str());
    chan_input_stop();
}

// The next two tokens of a card, each a whole integer ("1e308" or "2.5" is none).
bool whole_ints(std::string &line, int &a, int &b) {
    std::string token;
    a = b = 0;
    if (!next_token(token, line) || !whole_token_int(token, a)) return false;
    return next_token(token, line) && whole_token_int(token, b);
}

// Cell number at grid row r, column c; 0 outside the grid or the mask.
int cell_at(const model_state &s, int r, int c) {
    if (r < 1 || c < 1 || r > s.grid_rows || c > s.grid_cols || s.cell_number_grid.empty() ||
        static_cast<std::size_t>(r) > s.cell_number_grid.rows() ||
        static_cast<std::size_t>(c) > s.cell_number_grid.cols())
        return 0;
    return s.cell_number_grid[r][c];
}

}  // namespace

void read_grid_stream_file(std::FILE *file, model_state &s) {
    channel_network &net = s.channels;
    grid_stream_data &g = net.gst;
    std::string line;
    if (!file) {
        std::printf("The grid-stream (.gst) file is not open.\n");
        chan_input_stop();
        return;
    }
    std::rewind(file);
    // Line 1: the file's own header word.
    std::string first;
    if (read_line(line, file)) next_token(first, line);
    if (first.compare(0, 14, "GRIDSTREAMFILE") != 0 || first.size() < 14) {
        std::printf("The first line of the grid-stream file must be GRIDSTREAMFILE\n");
        format_error_stop(s);
        return;
    }
    // Line 2: the number of stream cells.
    if (!read_line(line, file) || chan_card_code(line) != chan_card::streamcells) {
        std::printf("The second card in the grid-stream file must be STREAMCELLS\n");
        format_error_stop(s);
        return;
    }
    int cells = 0;
    next_int(line, cells);
    if (cells <= 0) {
        std::printf("The number of STREAMCELLS in the grid-stream (.gst) file\n");
        std::printf("must be greater than 0.  File format error, program terminating\n");
        std::printf("  (grid-stream file %s, card STREAM_CELL)\n", s.stream_cell_name.c_str());
        chan_input_stop();
        return;
    }
    // Each stream cell is a cell of the watershed.
    if (cells > s.cell_count) {
        std::printf("STREAMCELLS %d in the grid-stream file is more than the %d cells of the "
                    "watershed.\n",
                    cells, s.cell_count);
        format_error_stop(s);
        return;
    }
    g.cell_count = cells;
    if (!chan_make(g.entry_count, cells, "gst_numnodes")) return;
    // First read: the entry count of every stream cell, in order.
    int counted = 0, linknode_cards = 0;
    while (read_line(line, file)) {
        const int card = chan_card_code(line);
        linknode_cards += card == chan_card::linknode;
        if (card != chan_card::numnodes) continue;
        int k = 0;
        next_int(line, k);
        if (++counted > cells) {
            std::printf("The grid-stream file has more NUMNODES cards than its %d STREAMCELLS.\n",
                        cells);
            format_error_stop(s);
            return;
        }
        if (k < 0) {
            std::printf("NUMNODES %d of stream cell %d in the grid-stream file is negative.\n", k,
                        counted);
            format_error_stop(s);
            return;
        }
        g.entry_count[counted] = k;
        g.max_entries = std::max(g.max_entries, k);
    }
    // Every entry needs its LINKNODE card.
    if (g.max_entries > linknode_cards) {
        std::printf("A NUMNODES of %d in the grid-stream file is more than its %d LINKNODE "
                    "cards.\n",
                    g.max_entries, linknode_cards);
        format_error_stop(s);
        return;
    }
    const long long rows = cells, cols = g.max_entries;
    if (!chan_make(g.gst_link, rows, cols, "gst_link") ||
        !chan_make(g.gst_node, rows, cols, "gst_node") ||
        !chan_make(g.gst_gnum, rows, cols, "gst_gnum") ||
        !chan_make(g.gst_pct, rows, cols, "gst_pct") ||
        !chan_make(g.gst_sac_weight, rows, cols, "gst_sac_weight") ||
        !chan_make(g.gst_Vlat, rows, cols, "gst_Vlat"))
        return;
    // Second read: cells and their entries.
    std::rewind(file);
    int cell = 0, entry = 0, gnum = 0, line_number = 0;
    while (read_line(line, file)) {
        ++line_number;
        const int code = chan_card_code(line);
        if (code == chan_card::cellij) {
            int r = 0, c = 0;
            if (!whole_ints(line, r, c)) {
                std::printf("A CELLIJ card in the grid-stream file needs a row and a column, "
                            "each a whole number.\n");
                format_error_stop(s);
                return;
            }
            if (++cell > cells) {
                std::printf("The grid-stream file has more CELLIJ cards than its %d "
                            "STREAMCELLS.\n",
                            cells);
                format_error_stop(s);
                return;
            }
            gnum = cell_at(s, r, c);
            if (gnum < 1) {
                std::printf("CELLIJ %d %d in the grid-stream file is not a cell of the "
                            "watershed.\n",
                            r, c);
                format_error_stop(s);
                return;
            }
            entry = 0;
        } else if (code == chan_card::linknode) {
            int l = 0, n = 0;
            double frac = 0.0;
            if (!whole_ints(line, l, n)) {
                std::printf("A LINKNODE card in the grid-stream file needs a link and a node, "
                            "each a whole number.\n");
                format_error_stop(s);
                return;
            }
            // The share is the part of the node's length that lies in the cell.
            std::string share;
            next_token(share, line);
            if (!whole_token_double(share, frac) || !(frac > 0.0 && frac <= 1.0)) {
                std::printf("Error in the grid-stream file %s, line %d: the share \"%s\" of "
                            "LINKNODE %d %d is not a number more than 0 and at most 1 (the part "
                            "of the node's length that lies in the cell).\n",
                            s.stream_cell_name.c_str(), line_number, share.c_str(), l, n);
                format_error_stop(s);
                return;
            }
            if (cell < 1) {
                std::printf("A LINKNODE card in the grid-stream file comes before any CELLIJ "
                            "card.\n");
                format_error_stop(s);
                return;
            }
            if (++entry > g.entry_count[cell]) {
                std::printf("Stream cell %d in the grid-stream file has more LINKNODE cards than "
                            "its NUMNODES %d.\n",
                            cell, g.entry_count[cell]);
                format_error_stop(s);
                return;
            }
            if (l < 1 || l > net.link_count || n < 1 || n > net.node_count[l]) {
                std::printf("LINKNODE %d %d of stream cell %d in the grid-stream file is not a "
                            "node of the channel network.\n",
                            l, n, cell);
                format_error_stop(s);
                return;
            }
            g.gst_link[cell][entry] = l;
            g.gst_node[cell][entry] = n;
            g.gst_pct[cell][entry] = frac;
            g.gst_gnum[cell][entry] = gnum;
        }
    }
    if (!s.quiet) std::printf("Finished reading non-orthogonal channel information from gst file.\n");
}
