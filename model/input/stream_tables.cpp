// The stream mapping-table file and its stream map files: card words matched as
// prefixes, the ST_INDEX_MAP list, table rows by id assigned to every channel
// node, and the presence scan. Called by the run set-up (scan) and the stream
// constituent set-up (tables).
#include "model/input/stream_tables.h"

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <vector>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/file_opener.h"
#include "model/core/line_reader.h"

namespace {

struct stream_word {
    std::string_view word;
    std::size_t compared;  // characters compared
    int id;
};

// The card words in the order in which a line is compared with them. QVL_OTH
// is tested over "QVL_OT" and before QVL_C.
constexpr stream_word stream_words[] = {
    {"ROUGHNESS", 9, stream_card_roughness},   {"QVL_N", 5, stream_card_qvl_n},
    {"QVL_P", 5, stream_card_qvl_p},           {"QVL_OTH", 6, stream_card_qvl_oth},
    {"QVL_C", 5, stream_card_qvl_c},           {"NUM_IDS", 7, stream_card_num_ids},
    {"ST_INDEX_MAP", 9, stream_card_index_map},
};

// Values per row of the kinds 1..6.
constexpr int stream_value_counts[7] = {0, 1, 4, 3, 2, 3, 1};

// Tokens of a file taken line by line through the line reader, so that
// replacement tags are substituted as in every other input.
class token_stream {
public:
    explicit token_stream(std::FILE *file) : file_(file) {}
    bool next(std::string &token) {
        while (true) {
            if (next_token(token, line_)) return true;
            if (!read_line(line_, file_)) return false;
        }
    }
    void drop_line() { line_.clear(); }

private:
    std::FILE *file_;
    std::string line_;
};

bool parse_int(const std::string &token, int &value) {
    return std::sscanf(token.c_str(), "%d", &value) == 1;
}

bool parse_real(const std::string &token, double &value) {
    return std::sscanf(token.c_str(), "%lf", &value) == 1 && std::isfinite(value);
}

// A header line "WORD count" of a stream map file.
bool header_count(token_stream &in, int &count) {
    std::string word, number;
    return in.next(word) && in.next(number) && parse_int(number, count);
}

// The per-link target holds every node of every link.
bool target_fits(const array_2d<double> &target, int link_count, int max_nodes) {
    return !target.empty() && target.rows() >= static_cast<std::size_t>(link_count) &&
           target.cols() >= static_cast<std::size_t>(max_nodes);
}

// Node count of link l, refused when the map cannot hold it.
bool link_nodes(const array_1d<int> &node_count, int l, int max_nodes, int &nodes) {
    if (node_count.empty() || static_cast<std::size_t>(l) > node_count.last()) return false;
    nodes = node_count[static_cast<std::size_t>(l)];
    return nodes >= 0 && nodes <= max_nodes;
}

}  // namespace

int stream_map_error(int result, const std::string &map_file) {
    const int code = result == stream_map_bad_header ? 116
                     : result == stream_map_mismatch ? 117
                                                     : 118;
    raise_error(code, {}, map_file);
    return 0;
}

int stream_card_id(std::string_view line) {
    for (const stream_word &w : stream_words)
        if (line.substr(0, w.compared) == w.word.substr(0, w.compared)) return w.id;
    return stream_card_none;
}

int stream_table_value_count(int kind) {
    return kind >= 1 && kind <= 6 ? stream_value_counts[kind] : 0;
}

const char *stream_card_word(int kind) {
    for (const stream_word &w : stream_words)
        if (w.id == kind) return w.word.data();
    return "stream table";
}

int stream_index_map_add(const std::string &line, index_map_list &list) {
    return index_map_line_add(line, "ST_INDEX", list);
}

int open_stream_index_map_table(std::FILE *file, int kind, std::string &map_file) {
    map_file.clear();
    if (!file) return 0;
    std::rewind(file);
    index_map_list list;
    std::string line;
    int has_line = 0;
    if (!read_map_list_run(file, stream_table_header, "ST_INDEX", list, line, has_line)) return 0;
    while (has_line && stream_card_id(line) != kind) has_line = read_line(line, file);
    if (!has_line) return 0;
    const index_map_entry *entry = index_map_find(list, table_card_name(line));
    if (!entry) return 0;
    map_file = entry->file;
    return 1;
}

int read_stream_num_ids(std::FILE *file) {
    std::string line;
    if (!read_line(line, file) || stream_card_id(line) != stream_card_num_ids) return 0;
    int n = 0;
    if (std::sscanf(line.c_str(), "%*s %d", &n) != 1) return 0;
    return n;
}

int read_stream_map(std::FILE *file, int link_count, int max_nodes,
                    const array_1d<int> &node_count, const stream_map_target &target) {
    std::string line;
    if (!file || !read_line(line, file) ||
        line.compare(0, stream_map_header.size(), stream_map_header) != 0)
        return stream_map_bad_header;
    token_stream in(file);
    int links = 0, nodes = 0;
    if (!header_count(in, links)) return stream_map_bad_header;
    in.drop_line();
    if (!header_count(in, nodes)) return stream_map_bad_header;
    in.drop_line();
    if (links != link_count || nodes != max_nodes) return stream_map_mismatch;
    const std::size_t rows = static_cast<std::size_t>(link_count);
    const std::size_t cols = static_cast<std::size_t>(max_nodes);
    if ((target.ids && (target.ids->empty() || target.ids->rows() < rows ||
                        target.ids->cols() < cols)) ||
        (target.values && !target_fits(*target.values, link_count, max_nodes)))
        return stream_map_bad_value;
    std::string token;
    for (int l = 1; l <= link_count; ++l) {
        int count = 0;
        if (!link_nodes(node_count, l, max_nodes, count)) return stream_map_bad_value;
        const std::size_t li = static_cast<std::size_t>(l);
        for (int n = 1; n <= count; ++n) {
            const std::size_t ni = static_cast<std::size_t>(n);
            if (!in.next(token)) return stream_map_bad_value;
            if (target.ids) {
                int id = 0;
                if (!parse_int(token, id)) return stream_map_bad_value;
                (*target.ids)[li][ni] = id;
            } else if (target.values) {
                double v = 0.0;
                if (!parse_real(token, v)) return stream_map_bad_value;
                (*target.values)[li][ni] = v;
            }
        }
        in.drop_line();
    }
    return stream_map_ok;
}

int assign_stream_values(int link_count, const array_1d<int> &node_count,
                         const array_2d<int> &ids, const std::vector<double> &by_id,
                         array_2d<double> &target) {
    // by_id holds largest + 1 entries (fill_values_by_id), so ids 1..largest.
    const long long largest = static_cast<long long>(by_id.size()) - 1;
    for (int l = 1; l <= link_count; ++l) {
        int count = 0;
        if (!link_nodes(node_count, l, static_cast<int>(ids.cols()), count) ||
            static_cast<std::size_t>(count) > target.cols())
            return 0;
        const std::size_t li = static_cast<std::size_t>(l);
        for (int n = 1; n <= count; ++n) {
            const std::size_t ni = static_cast<std::size_t>(n);
            const int id = ids[li][ni];
            if (id == 0) continue;  // keeps the value the target holds
            if (id < 0 || id > largest) return 0;
            target[li][ni] = by_id[static_cast<std::size_t>(id - 1)];
        }
    }
    return 1;
}

int read_stream_index_map_tables(const std::string &file_name, int kind,
                                 const std::array<array_2d<double> *, 4> &targets,
                                 int link_count, int max_nodes, const array_1d<int> &node_count) {
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) {
        raise_error(64, {}, file_name);
        return 0;
    }
    std::string map_file;
    const int n = open_stream_index_map_table(file, kind, map_file) ? read_stream_num_ids(file) : 0;
    if (n <= 0) {
        std::fclose(file);
        std::printf("Error: the %s table of stream mapping table file %s is missing, names no "
                    "ST_INDEX_MAP line, or has no NUM_IDS above 0.\n",
                    stream_card_word(kind), file_name.c_str());
        raise_error(66);
        return 0;
    }
    skip_table_header(file);
    const int value_count = stream_table_value_count(kind);
    table_rows rows;
    const bool rows_ok =
        read_table_rows(file, n, value_count, stream_card_word(kind), file_name, rows);
    std::fclose(file);
    if (!rows_ok) return 0;

    for (const array_2d<double> *t : targets)
        if (t && !target_fits(*t, link_count, max_nodes)) {
            std::printf("Error: the per-link destination of the %s stream table is not "
                        "allocated for %d links of %d nodes\n",
                        stream_card_word(kind), link_count, max_nodes);
            raise_printed_error();
            return 0;
        }
    array_2d<int> ids;
    if (alloc_2d_int(ids, link_count, max_nodes) != 0) {
        print_allocation_failure("filedata");
        raise_printed_error();
        return 0;
    }
    std::FILE *map = open_run_file(map_file, "r");
    if (!map) {
        raise_error(115, {}, map_file);
        return 0;
    }
    const int result = read_stream_map(map, link_count, max_nodes, node_count, {&ids, nullptr});
    std::fclose(map);
    if (result != stream_map_ok) return stream_map_error(result, map_file);

    const int columns = value_count < 4 ? value_count : 4;
    for (int j = 0; j < columns; ++j) {
        array_2d<double> *target = targets[static_cast<std::size_t>(j)];
        if (!target) continue;
        std::vector<double> by_id;
        fill_values_by_id(rows.largest_id, j, rows.ids, rows.values, value_count, by_id);
        if (!assign_stream_values(link_count, node_count, ids, by_id, *target))
            return stream_map_error(stream_map_bad_value, map_file);
    }
    return 1;
}

namespace {

// "Error: the stream mapping table file <name>: <text>\n", code 4000; false.
[[gnu::format(printf, 2, 3)]] bool refuse_stream_tables(const std::string &file_name,
                                                        const char *format, ...) {
    std::printf("Error: the stream mapping table file %s: ", file_name.c_str());
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    raise_printed_error();
    return false;
}

// Reads every table of the file once, as the overland mapping-table file is read
// at set-up: the header, each table's stream index map (named and present), its
// NUM_IDS and as many rows as NUM_IDS gives. False after the message.
bool stream_tables_sound(std::FILE *file, const std::string &file_name) {
    std::rewind(file);
    index_map_list list;
    std::string line;
    int has_line = 0;
    if (!read_map_list_run(file, stream_table_header, "ST_INDEX", list, line, has_line))
        return refuse_stream_tables(file_name, "it does not begin with %s.",
                                    std::string(stream_table_header).c_str());
    for (; has_line; has_line = read_line(line, file)) {
        const int kind = stream_card_id(line);
        if (stream_table_value_count(kind) == 0) continue;
        const char *word = stream_card_word(kind);
        const std::string map_name = table_card_name(line);
        const index_map_entry *entry = index_map_find(list, map_name);
        if (!entry)
            return refuse_stream_tables(file_name,
                                        "the %s table names the stream index map %s, which no "
                                        "ST_INDEX_MAP line gives.",
                                        word, map_name.c_str());
        std::FILE *map = open_run_file(entry->file, "r");
        if (!map) {
            raise_error(115, {}, entry->file);
            return false;
        }
        std::fclose(map);
        const int n = read_stream_num_ids(file);
        if (n <= 0)
            return refuse_stream_tables(file_name,
                                        "the %s table has no NUM_IDS line with a count above 0.",
                                        word);
        skip_table_header(file);
        table_rows rows;
        if (!read_table_rows(file, n, stream_table_value_count(kind), word, file_name, rows))
            return false;
    }
    return true;
}

}  // namespace

void scan_stream_index_map_tables(const std::string &file_name,
                                  std::array<int, 6> &stream_table_present) {
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) {
        raise_error(64, {}, file_name);
        return;
    }
    if (!stream_tables_sound(file, file_name)) {
        std::fclose(file);
        return;
    }
    static constexpr int slot_kinds[6] = {stream_card_roughness, stream_card_qvl_n,
                                          stream_card_qvl_p,     stream_card_qvl_oth,
                                          stream_card_qvl_c,     stream_card_sixth};
    for (std::size_t slot = 0; slot < 6; ++slot) {
        std::string map_file;
        int found = open_stream_index_map_table(file, slot_kinds[slot], map_file);
        if (found) {
            std::FILE *map = open_run_file(map_file, "r");
            if (map)
                std::fclose(map);
            else
                found = 0;
        }
        stream_table_present[slot] = found;
    }
    std::fclose(file);
}
