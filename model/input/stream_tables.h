// The stream mapping-table file ("KORVA_STREAM_INDEX_MAP_TABLES", card
// ST_MAPPING_TABLE) and its stream map files: card words, the list of stream
// maps, tables by id assigned to every node of every channel link, and the
// presence scan of the run set-up. Read by the stream constituent set-up.
//
// Targets are per-link arrays of per-node doubles, array_2d [link][node] with
// links 1..link count and nodes 1..the largest node count (the channel network's
// own per-node arrays are [node][link]; these are not).
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "model/core/arrays.h"
#include "model/input/mapping_tables.h"

// Card ids of the stream mapping-table file (the values-per-row kinds 1..6).
enum stream_card : int {
    stream_card_none = 0,
    stream_card_roughness = 1,
    stream_card_qvl_n = 2,
    stream_card_qvl_p = 3,
    stream_card_qvl_c = 4,
    stream_card_qvl_oth = 5,
    stream_card_sixth = 6,  // has a value count and a presence slot; no card word gives it
    stream_card_num_ids = 37,
    stream_card_index_map = 38,
};

// Line 1 of a stream mapping-table file, and of a stream map file.
inline constexpr std::string_view stream_table_header = "KORVA_STREAM_INDEX_MAP_TABLES";
inline constexpr std::string_view stream_map_header = "STREAM_MAP";

// Card id of a line: prefixes ROUGHNESS, QVL_N, QVL_P, QVL_OT (QVL_OTH), QVL_C,
// NUM_IDS, ST_INDEX_ (ST_INDEX_MAP), case sensitive, first match; 0 otherwise.
int stream_card_id(std::string_view line);
// Values per row of kind 1..6; 0 for other ids.
int stream_table_value_count(int kind);
// Card word of a kind, for messages.
const char *stream_card_word(int kind);

// 1 when the line is a ST_INDEX_MAP line (first 8 characters "ST_INDEX") with a
// file, and the entry (name = the rest of the line exactly) was added.
int stream_index_map_add(const std::string &line, index_map_list &list);

// Positions the open file just after the card line of `kind` and gives the file
// of the stream map that the table names; 1 when both were found, else 0.
int open_stream_index_map_table(std::FILE *file, int kind, std::string &map_file);

// The count of the next line when it is NUM_IDS ("%s %d"), else 0 (one line read).
int read_stream_num_ids(std::FILE *file);

// Results of read_stream_map.
enum stream_map_result : int {
    stream_map_ok = 0,
    stream_map_bad_header = -2,
    stream_map_mismatch = -3,    // NLINKS or MAXNODES differs from the network's
    stream_map_bad_value = -4,
};
// Stores the code of a failed read_stream_map result with the map's name: 116
// bad header, 117 NLINKS or MAXNODES mismatch, 118 otherwise. Returns 0.
int stream_map_error(int result, const std::string &map_file);
// Where read_stream_map puts what it reads: ids ("%d") or values ("%lf"); one
// of the two is given, [link][node].
struct stream_map_target {
    array_2d<int> *ids = nullptr;
    array_2d<double> *values = nullptr;
};
// Reads a stream map file: "STREAM_MAP", "NLINKS n", "MAXNODES m", then per link
// 1..n the values of nodes 1..node_count[link] followed by the end of the line.
int read_stream_map(std::FILE *file, int link_count, int max_nodes,
                    const array_1d<int> &node_count, const stream_map_target &target);

// target[link][node] = by_id[id - 1] for every node whose id is not 0. Returns 0
// (nothing more assigned) at the first id that is negative or above by_id's
// largest id (by_id holds largest + 1 entries), else 1.
int assign_stream_values(int link_count, const array_1d<int> &node_count,
                         const array_2d<int> &ids, const std::vector<double> &by_id,
                         array_2d<double> &target);

// Table `kind` of the stream mapping-table file and the stream map it names: value
// column j goes to *targets[j] (null for an unwanted column). 1 on success, 0
// after an error stored in error_record (64, 66, 115 to 118, 4000).
int read_stream_index_map_tables(const std::string &file_name, int kind,
                                 const std::array<array_2d<double> *, 4> &targets,
                                 int link_count, int max_nodes, const array_1d<int> &node_count);

// Presence flags of the kinds (declared for the run set-up in input_services.h):
// slots 0..5 ROUGHNESS, QVL_N, QVL_P, QVL_OTH, QVL_C and the sixth kind (always 0).
void scan_stream_index_map_tables(const std::string &file_name,
                                  std::array<int, 6> &stream_table_present);
