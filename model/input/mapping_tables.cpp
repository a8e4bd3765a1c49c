// The mapping-table file: card words matched as prefixes, the INDEX_MAP list,
// positioning on a table, count lines, fixed-column table rows, values by id,
// quoted name fields, the presence scan and the time-series index. Called by the
// table readers (index_maps.cpp), the run set-up and the soil readers.
#include "model/input/mapping_tables.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"
#include "model/core/series.h"

namespace {

struct card_word {
    std::string_view word;
    int id;
};

// The card words in the order in which a line is compared with them.
constexpr card_word card_words[] = {
    {"ROUGHNESS", card_roughness},
    {"INTERCEPTION", card_interception},
    {"RETENTION", card_retention},
    {"GREEN_AMPT_INFILTRATION", card_green_ampt_infiltration},
    {"GREEN_AMPT_INITIAL_SOIL_MOISTURE", card_green_ampt_initial_moisture},
    {"RICHARDS_EQN_INFILTRAIION_HAVERCAMP", card_richards_havercamp},
    {"RICHARDS_EQN_INFILTRATION_BROOKS", card_richards_brooks},
    {"EVAPOTRANSPIRATION", card_evapotranspiration},
    {"SEDIMENTS", card_sediments},
    {"SOIL_EROSION_PROPS", card_soil_erosion_props},
    {"MATERIAL_INDEX", card_material_index},
    {"NUM_IDS", card_num_ids},
    {"NUM_CONTAM", card_num_contam},
    {"NUM_SED", card_num_sed},
    {"INDEX_MAP", card_index_map},
    {"CONTAMINANT_TRANSPORT", card_contaminant_transport},
    {"WETLAND_PROPERTIES", card_wetland_properties},
    {"OVERLAND_BOUNDARY", card_overland_boundary},
    {"TIME_SERIES_INDEX", card_time_series_index},
    {"WELL_TABLE", card_well_table},
    {"GROUNDWATER", card_groundwater},
    {"AREA_REDUCTION", card_area_reduction},
    {"QVL_N", card_qvl_n},
    {"QVL_P", card_qvl_p},
    {"QVL_C", card_qvl_c},
    {"QVL_OTH", card_qvl_oth},
    {"DISPERSION", card_dispersion},
    {"PRECIP_CONC", card_precip_conc},
};

// Values per row of the kinds 1..23.
constexpr int value_counts[24] = {0, 1, 2, 1, 6, 1, 9, 11, 5, 0, 8, 6, 7,
                                  0, 2, 1, 3, 2, 1, 4, 3, 2, 3, 1};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The count of a "%s %d" line; 0 when it does not parse.
int count_of_line(const std::string &line) {
    int n = 0;
    if (std::sscanf(line.c_str(), "%*s %d", &n) != 1) return 0;
    return n;
}

int read_count_line(std::FILE *file, int card) {
    std::string line;
    if (!read_line(line, file)) return 0;
    if (index_map_card_id(line) != card) return 0;
    return count_of_line(line);
}

// A "%lf" token: at least one character must convert, to a finite number.
bool parse_number(const std::string &token, double &value) {
    if (token.empty()) return false;
    char *end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (end == token.c_str() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// Next token separated by blanks, tabs or commas, starting at pos.
bool next_row_token(const std::string &line, std::size_t &pos, std::string &token) {
    while (pos < line.size() && is_token_delimiter(line[pos])) ++pos;
    if (pos >= line.size()) return false;
    const std::size_t start = pos;
    while (pos < line.size() && !is_token_delimiter(line[pos])) ++pos;
    token.assign(line, start, pos - start);
    return true;
}

// A row whose values were written a few characters too far left: the word that
// holds characters 86 and 87 is a number, which reading from 87 would cut (1.09
// read as 09). Such a row is refused rather than misread.
bool number_across_value_column(const std::string &line) {
    const std::size_t first = table_row_value_column - 1;  // character 87
    if (line.size() <= first || is_token_delimiter(line[first]) ||
        is_token_delimiter(line[first - 1]))
        return false;
    std::size_t start = first - 1, end = first;
    while (start > table_row_id_width && !is_token_delimiter(line[start - 1])) --start;
    while (end < line.size() && !is_token_delimiter(line[end])) ++end;
    const std::string word = line.substr(start, end - start);
    char *stop = nullptr;
    std::strtod(word.c_str(), &stop);
    return stop == word.c_str() + word.size();
}

// Searches the open file from its current position for a line of card `id`;
// true when found (the line is then consumed).
bool search_card(std::FILE *file, int id) {
    std::string line;
    while (read_line(line, file))
        if (index_map_card_id(line) == id) return true;
    return false;
}

bool header_line_ok(std::FILE *file) {
    std::string line;
    if (!read_line(line, file)) return false;
    return line.compare(0, mapping_table_header.size(), mapping_table_header) == 0;
}

// Presence of a table that names an index map: found, and its map can be opened.
// A table whose index map cannot be opened is refused, naming the map and where
// the mapping table names it (the run would otherwise look for other inputs).
int table_with_map_present(std::FILE *file, int id, const std::string &table_file) {
    std::string map_file;
    if (!open_index_map_table(file, id, map_file)) return 0;
    std::FILE *map = open_run_file(map_file, "r");
    if (!map) {
        std::printf("Error: unable to open the index map %s, named by an INDEX_MAP line of "
                    "mapping table file %s for its %s table\n",
                    map_file.c_str(), table_file.c_str(), table_card_word(id));
        raise_printed_error();
        return 0;
    }
    std::fclose(map);
    return 1;
}

}  // namespace

int index_map_card_id(std::string_view line) {
    for (const card_word &c : card_words)
        if (line.substr(0, c.word.size()) == c.word) return c.id;
    return card_none;
}

int table_value_count(int id) { return id >= 1 && id <= 23 ? value_counts[id] : 0; }

const char *table_card_word(int id) {
    for (const card_word &c : card_words)
        if (c.id == id) return c.word.data();
    return "table";
}

int index_map_add(const std::string &line, index_map_list &list) {
    return index_map_line_add(line, "INDEX_MA", list);
}

int index_map_line_add(const std::string &line, std::string_view prefix, index_map_list &list) {
    if (line.compare(0, prefix.size(), prefix) != 0) return 0;
    std::string rest = line;
    std::string card, file;
    next_token(card, rest);
    if (!next_token(file, rest)) return 0;
    // next_token has removed the file and the delimiters behind it: the rest of
    // the line is the name, exactly as written.
    list.push_back(index_map_entry{rest, file});
    return 1;
}

void index_map_free(index_map_list &list) { index_map_list().swap(list); }

const index_map_entry *index_map_find(const index_map_list &list, const std::string &name) {
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->name == name) return &*it;
    return nullptr;
}

std::string table_card_name(const std::string &line) {
    std::size_t i = 0;
    while (i < line.size() && !is_blank(line[i])) ++i;
    while (i < line.size() && is_blank(line[i])) ++i;
    return line.substr(i);
}

int read_index_map_run(std::FILE *file, index_map_list &list, std::string &next_line,
                       int &has_next) {
    return read_map_list_run(file, mapping_table_header, "INDEX_MA", list, next_line, has_next);
}

int read_map_list_run(std::FILE *file, std::string_view header, std::string_view prefix,
                      index_map_list &list, std::string &next_line, int &has_next) {
    next_line.clear();
    has_next = 0;
    std::string line;
    if (!read_line(line, file) || line.compare(0, header.size(), header) != 0) return 0;
    while (read_line(line, file)) {
        if (index_map_line_add(line, prefix, list)) continue;
        next_line = line;
        has_next = 1;
        break;
    }
    return 1;
}

int open_index_map_table(std::FILE *file, int table_id, std::string &map_file) {
    map_file.clear();
    if (!file) return 0;
    std::rewind(file);
    index_map_list list;
    std::string line;
    int has_line = 0;
    if (!read_index_map_run(file, list, line, has_line)) return 0;
    while (has_line && index_map_card_id(line) != table_id) has_line = read_line(line, file);
    if (table_id == card_time_series_index) return 1;  // names no index map
    if (!has_line) return 0;
    const index_map_entry *entry = index_map_find(list, table_card_name(line));
    if (!entry) return 0;
    map_file = entry->file;
    return 1;
}

int read_num_ids(std::FILE *file) { return read_count_line(file, card_num_ids); }
int read_num_sed(std::FILE *file) { return read_count_line(file, card_num_sed); }
int read_num_contam(std::FILE *file) { return read_count_line(file, card_num_contam); }

void skip_table_header(std::FILE *file) {
    std::string line;
    while (read_line(line, file))
        if (index_map_card_id(line) == card_none) return;
}

void read_precip_conc_line(int count, checked_array<double> &target, std::FILE *file) {
    std::string line;
    if (!read_line(line, file)) return;
    if (index_map_card_id(line) != card_precip_conc) return;
    std::string card;
    next_token(card, line);
    for (int i = 1; i <= count; ++i) {
        double v = 0.0;
        if (!next_double(line, v)) break;
        target[i] = v;
    }
    read_line(line, file);  // the column header
}

bool lines_can_follow(std::FILE *file, long long n, long long min_chars) {
    if (n <= 0) return true;
    const long at = std::ftell(file);
    if (at < 0 || std::fseek(file, 0, SEEK_END) != 0) return true;
    const long end = std::ftell(file);
    if (std::fseek(file, at, SEEK_SET) != 0 || end < at) return true;
    const long long left = static_cast<long long>(end) - at;
    // n lines of min_chars characters and n - 1 line ends.
    return n <= (left + 1) / (min_chars + 1);
}

bool read_table_rows(std::FILE *file, int n, int value_count, const char *table,
                     const std::string &file_name, table_rows &rows) {
    rows.count = n;
    rows.value_count = value_count;
    rows.largest_id = 0;
    // The rows are kept as they are read, so that a count larger than the file
    // sizes nothing: such a table ends at the end of the file and is refused there.
    rows.ids.clear();
    rows.values.clear();
    std::vector<double> row(static_cast<std::size_t>(value_count > 0 ? value_count : 0) + 1, 0.0);
    for (int r = 0; r < n; ++r) {
        int id = 0, bad_value = 0;
        const int result = read_table_row(id, row.data(), file, value_count, bad_value);
        if (result != table_row_ok) {
            report_table_row_error(result, r + 1, bad_value, table, file_name);
            return false;
        }
        rows.ids.push_back(id);
        rows.values.insert(rows.values.end(), row.begin(), row.begin() + (row.size() - 1));
        if (id > rows.largest_id) rows.largest_id = id;
    }
    allocated_bytes += rows.ids.size() * sizeof(int) + rows.values.size() * sizeof(double);
    return true;
}

int read_table_row(int &id, double *values, std::FILE *file, int count, int &bad_value) {
    bad_value = 0;
    std::string line;
    if (!read_line(line, file)) return table_row_end_of_file;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string id_field = line.substr(0, table_row_id_width);
    id = 0;
    if (std::sscanf(id_field.c_str(), "%d", &id) != 1 || id < 1) return table_row_bad_id;
    if (count <= 0) return table_row_ok;
    if (line.size() < table_row_value_column) return table_row_too_short;
    std::size_t pos = table_row_value_column - 1;
    if (number_across_value_column(line)) return table_row_values_early;
    std::string token;
    for (int j = 0; j < count; ++j) {
        if (!next_row_token(line, pos, token) || !parse_number(token, values[j])) {
            bad_value = j + 1;
            return table_row_bad_value;
        }
    }
    return table_row_ok;
}

void report_table_row_error(int result, int row, int bad_value, const char *table,
                            const std::string &file_name) {
    switch (result) {
    case table_row_end_of_file:
        std::printf("Error: the %s table in mapping table file %s ends after %d of its rows\n",
                    table, file_name.c_str(), row - 1);
        break;
    case table_row_bad_id:
        std::printf("Error: row %d of the %s table in mapping table file %s has no id of 1 or "
                    "more in columns 1-6\n",
                    row, table, file_name.c_str());
        break;
    case table_row_too_short:
        std::printf("Error: row %d of the %s table in mapping table file %s ends before column "
                    "87, where its values begin\n",
                    row, table, file_name.c_str());
        break;
    case table_row_values_early:
        std::printf("Error: row %d of the %s table in mapping table file %s: a number runs "
                    "across characters 86 and 87; the values begin at character 87 (the "
                    "description fills characters 7 to 86, and character 86 must be blank)\n",
                    row, table, file_name.c_str());
        break;
    default:
        std::printf("Error: row %d of the %s table in mapping table file %s: value %d is "
                    "missing or not a number\n",
                    row, table, file_name.c_str(), bad_value);
        break;
    }
    raise_printed_error();
}

void fill_values_by_id(int largest_id, int column, const std::vector<int> &ids,
                       const std::vector<double> &table, int value_count,
                       std::vector<double> &by_id) {
    by_id.assign(static_cast<std::size_t>(largest_id) + 1, 0.0);
    for (std::size_t r = 0; r < ids.size(); ++r) {
        const int id = ids[r];
        if (id < 1 || id > largest_id) continue;  // rows are validated when read
        by_id[static_cast<std::size_t>(id - 1)] =
            table[r * static_cast<std::size_t>(value_count) + static_cast<std::size_t>(column)];
    }
}

void take_quoted_field(std::string &text, std::string &out) {
    const std::size_t q1 = text.find('"');
    const std::size_t q2 = q1 == std::string::npos ? q1 : text.find('"', q1 + 1);
    if (q2 == std::string::npos) {
        out.assign(1, '"');
        text.clear();
        return;
    }
    out.assign(text, q1, q2 - q1);
    out.push_back('"');
    const std::size_t q3 = text.find('"', q2 + 1);
    text = q3 == std::string::npos ? std::string() : text.substr(q3);
}

void remove_all_quotes(std::string &text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text)
        if (c != '"') kept.push_back(c);
    text.swap(kept);
}

void scan_index_map_tables(const std::string &file_name, std::array<int, 21> &table_present,
                           int zarn_mode) {
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) {
        raise_error(64, {}, file_name);
        return;
    }
    // Table ids of the slots; 0 marks the two slots with their own search.
    static constexpr int slot_ids[21] = {1,  2,  3,  4,  5,  6,  7,  8,  0,  10, 0,
                                         12, 14, 16, 17, 18, 19, 20, 22, 21, 23};
    for (int slot = 0; slot < 21; ++slot) {
        std::rewind(file);
        if (slot == 8) {  // SEDIMENTS: header, then its card from line 2 on
            table_present[8] = header_line_ok(file) && search_card(file, card_sediments);
        } else if (slot == 10) {  // CONTAMINANT_TRANSPORT: its card anywhere
            table_present[10] = search_card(file, card_contaminant_transport);
        } else {
            table_present[static_cast<std::size_t>(slot)] =
                zarn_mode ? 0 : table_with_map_present(file, slot_ids[slot], file_name);
            if (error_record.fatal) break;
        }
    }
    if (zarn_mode)
        for (int slot = 0; slot < 21; ++slot)
            if (slot != 8) table_present[static_cast<std::size_t>(slot)] = 0;
    std::fclose(file);
}

void find_richards_index_map(const std::string &file_name, int form, std::string &map_name) {
    map_name.clear();
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) return;
    const int id = form == 1 ? card_richards_brooks : card_richards_havercamp;
    open_index_map_table(file, id, map_name);
    std::fclose(file);
}

std::FILE *open_richards_soil_table(const std::string &file_name, int form) {
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) return nullptr;
    std::string map_name;
    const int id = form == 1 ? card_richards_brooks : card_richards_havercamp;
    if (!open_index_map_table(file, id, map_name)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

int read_time_series_index(const std::string &file_name) {
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) {
        raise_error(64, {}, file_name);
        return 0;
    }
    std::string unused;
    open_index_map_table(file, card_time_series_index, unused);
    const int n = read_num_ids(file);
    if (n <= 0) {
        std::fclose(file);
        return 1;
    }
    skip_table_header(file);
    std::string line;
    for (int row = 1; row <= n; ++row) {
        int id = 0;
        bool has_id = false;
        if (read_line(line, file)) {
            const std::string id_field = line.substr(0, table_row_id_width);
            has_id = std::sscanf(id_field.c_str(), "%d", &id) == 1;
        }
        if (!has_id) {
            std::printf("Error: row %d of the TIME_SERIES_INDEX table in mapping table file %s "
                        "has no id in columns 1-6\n",
                        row, file_name.c_str());
            std::fclose(file);
            raise_printed_error();
            return 0;
        }
        std::string rest = line.size() > table_row_id_width ? line.substr(table_row_id_width) : "";
        std::string name;
        next_token(name, rest);
        time_series *series = name.empty() ? nullptr : find_time_series(name);
        if (!series) {
            std::printf("Error: the time series \"%s\" of id %d in the TIME_SERIES_INDEX table of "
                        "mapping table file %s is not among the time series read\n",
                        name.c_str(), id, file_name.c_str());
            std::fclose(file);
            raise_printed_error();
            return 0;
        }
        add_time_series_id(id, series);
    }
    std::fclose(file);
    return 1;
}
