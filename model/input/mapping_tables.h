// The mapping-table file ("KORVA_INDEX_MAP_TABLES"): card words, the list of index
// maps, positioning on a table, count lines, table rows, values by id, the quoted
// name fields, the presence scan and the time-series index. Called by the table
// readers of index_maps.cpp and by the run set-up and the soil readers.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "model/core/arrays.h"

// Card ids of the mapping-table file.
enum index_map_card : int {
    card_none = 0,
    card_roughness = 1,
    card_interception = 2,
    card_retention = 3,
    card_green_ampt_infiltration = 4,
    card_green_ampt_initial_moisture = 5,
    card_richards_havercamp = 6,
    card_richards_brooks = 7,
    card_evapotranspiration = 8,
    card_sediments = 9,
    card_soil_erosion_props = 10,
    card_contaminant_transport = 11,
    card_wetland_properties = 12,
    card_material_index = 13,
    card_overland_boundary = 14,
    card_time_series_index = 15,
    card_well_table = 16,
    card_groundwater = 17,
    card_area_reduction = 18,
    card_qvl_n = 19,
    card_qvl_p = 20,
    card_qvl_c = 21,
    card_qvl_oth = 22,
    card_dispersion = 23,
    card_num_ids = 37,
    card_index_map = 38,
    card_num_contam = 39,
    card_num_sed = 40,
    card_precip_conc = 50000,
};

// The first line of every mapping-table file begins with this.
inline constexpr std::string_view mapping_table_header = "KORVA_INDEX_MAP_TABLES";

// Column of a table row where the values begin (1-based), and the id width.
inline constexpr std::size_t table_row_value_column = 87;
inline constexpr std::size_t table_row_id_width = 6;

// Card id of a line: its beginning compared with each card word over the word's
// length, case sensitive, in the fixed order; 0 when none matches.
int index_map_card_id(std::string_view line);

// Number of values in a row of the table kind `id` (1..23); 0 for other ids.
int table_value_count(int id);

// One INDEX_MAP line: the name exactly as written (quotes kept) and the file.
struct index_map_entry {
    std::string name;
    std::string file;
};
// Newest entry last; lookups search from the newest, so a later INDEX_MAP line
// of the same name is the one found.
using index_map_list = std::vector<index_map_entry>;

// 1 when the line is an INDEX_MAP line (first 8 characters "INDEX_MA") with a
// file, and the entry was added; else 0.
int index_map_add(const std::string &line, index_map_list &list);
// As index_map_add for lines that begin with `prefix` (the stream file's "ST_INDEX").
int index_map_line_add(const std::string &line, std::string_view prefix, index_map_list &list);
void index_map_free(index_map_list &list);
// File of the newest entry with exactly that name; null when none.
const index_map_entry *index_map_find(const index_map_list &list, const std::string &name);

// The text of a table card line after its first word and the blanks behind it.
std::string table_card_name(const std::string &line);

// Checks line 1 and collects the INDEX_MAP lines that follow it. Returns 1 when
// the header is present; `next_line` then holds the first line after the run
// (empty with has_next 0 at end of file).
int read_index_map_run(std::FILE *file, index_map_list &list, std::string &next_line,
                       int &has_next);

// As read_index_map_run for a file whose line 1 begins with `header` and whose
// map lines begin with `prefix`.
int read_map_list_run(std::FILE *file, std::string_view header, std::string_view prefix,
                      index_map_list &list, std::string &next_line, int &has_next);

// Positions the open file on the card line of table `table_id` (searched from the
// start) and copies the file name of the index map that the table names. 1 when
// found (TIME_SERIES_INDEX: 1 whether found or not), else 0 with map_file empty.
int open_index_map_table(std::FILE *file, int table_id, std::string &map_file);

// The count of the next line when it is the card NUM_IDS / NUM_SED / NUM_CONTAM
// ("%s %d"); 0 otherwise. Each consumes exactly one line.
int read_num_ids(std::FILE *file);
int read_num_sed(std::FILE *file);
int read_num_contam(std::FILE *file);

// Whether n more lines of at least `min_chars` characters each fit in what is
// left of the file (each but the last with its line end), so that a count read
// from the file cannot size storage beyond the file itself. A stream whose size
// cannot be told passes.
bool lines_can_follow(std::FILE *file, long long n, long long min_chars);

// Consumes lines up to and including the first line whose card id is 0.
void skip_table_header(std::FILE *file);

// Consumes one line; when it is a PRECIP_CONC line its first `count` values go to
// target[1..count] (a missing value leaves its entry) and one more line (the
// column header) is consumed.
void read_precip_conc_line(int count, checked_array<double> &target, std::FILE *file);

// Why a table row was refused.
enum table_row_result : int {
    table_row_ok = 1,
    table_row_end_of_file = 0,
    table_row_bad_id = -1,      // columns 1-6 hold no integer, or it is below 1
    table_row_too_short = -2,   // the line ends before the value column
    table_row_bad_value = -3,   // a value is missing or is not a number
    table_row_values_early = -4,  // a number runs from the description into the value column
};

// Reads one row: the id from characters 1-6, `count` values from character 87 on
// into values[0..count-1]. `bad_value` is the 1-based number of the value that
// could not be read (with table_row_bad_value).
int read_table_row(int &id, double *values, std::FILE *file, int count, int &bad_value);

// The rows of one table: ids and row-major values.
struct table_rows {
    int count = 0;        // n, the rows
    int value_count = 0;  // values per row
    int largest_id = 0;
    std::vector<int> ids;
    std::vector<double> values;
};
// Reads n rows of `value_count` values with read_table_row; a refused row is
// reported with report_table_row_error (code 4000) naming `table`, and false is
// returned. Nothing is sized by n before its rows are read.
bool read_table_rows(std::FILE *file, int n, int value_count, const char *table,
                     const std::string &file_name, table_rows &rows);

// Prints the message of a refused row (row number, table card, file) and stores
// code 4000.
void report_table_row_error(int result, int row, int bad_value, const char *table,
                            const std::string &file_name);

// Card word of a table id, for messages ("table" when unknown).
const char *table_card_word(int id);

// by_id[0..largest_id-1] = 0, then for each row by_id[id-1] = the row's value in
// `column` (0-based); a later row with the same id wins.
void fill_values_by_id(int largest_id, int column, const std::vector<int> &ids,
                       const std::vector<double> &table, int value_count,
                       std::vector<double> &by_id);

// Splits the first double-quoted field off the text: the output is the field with
// its opening quote and a closing quote; the text keeps what follows from its
// third quote on. An empty text gives a lone quote.
void take_quoted_field(std::string &text, std::string &out);
void remove_all_quotes(std::string &text);

// Presence flags of the table kinds (slots as in model_state::table_present);
// code 64 when the file cannot be opened (flags then untouched).
void scan_index_map_tables(const std::string &file_name, std::array<int, 21> &table_present,
                           int zarn_mode);

// File of the index map of the Richards table of a form (1 Brooks, 2 Havercamp);
// empty when there is none or the file cannot be opened.
void find_richards_index_map(const std::string &file_name, int form, std::string &map_name);
// Opens the mapping-table file positioned just after the card line of the form's
// Richards table; null when the file or the table is missing. The caller closes it.
std::FILE *open_richards_soil_table(const std::string &file_name, int form);

// TIME_SERIES_INDEX table into the process-wide id list: 1 on success or when the
// table is absent, 0 after an error (code 64, a row without an id, or a series
// name that is not among the series read).
int read_time_series_index(const std::string &file_name);
