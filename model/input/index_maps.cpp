// Index maps and the table readers of the mapping-table file: the index-map grid,
// by-id values assigned to the cells they belong to, the generic reader and the
// sediment, soil-erosion, well, wetland and contaminant tables. Called by the
// parameter-group readers of the input stage (soils, surfaces, constituents).
#include "model/input/index_maps.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "model/core/value_bounds.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/input/mapping_tables.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

bool read_header(std::FILE *file, double &north, double &south, double &east, double &west,
                 int &rows, int &cols) {
    char label[8] = {};
    if (std::fscanf(file, "%6s %lf", label, &north) != 2) return false;
    if (std::fscanf(file, "%6s %lf", label, &south) != 2) return false;
    if (std::fscanf(file, "%5s %lf", label, &east) != 2) return false;
    if (std::fscanf(file, "%5s %lf", label, &west) != 2) return false;
    if (std::fscanf(file, "%5s %d", label, &rows) != 2) return false;
    if (std::fscanf(file, "%5s %d", label, &cols) != 2) return false;
    return std::isfinite(north) && std::isfinite(south) && std::isfinite(east) &&
           std::isfinite(west);
}

bool allocate_index_grid(array_2d<int> &grid, int rows, int cols) {
    if (alloc_2d_int(grid, rows, cols) != 0) {
        print_allocation_failure("Index File Data");
        return false;
    }
    return true;
}

// A per-cell destination must hold every cell number of the run.
bool target_holds(const array_1d<double> &target, int cell_count, const char *table) {
    if (!target.empty() && target.last() >= static_cast<std::size_t>(cell_count)) return true;
    std::printf("Error: the per-cell destination of the %s table is not allocated for %d cells\n",
                table, cell_count);
    raise_printed_error();
    return false;
}

// Opens and reads the index map of a table into index_grid.
bool read_table_index_map(model_state &s, const std::string &map_file, int largest_id,
                          array_2d<int> &index_grid, int zero_allowed) {
    std::FILE *map = open_run_file(map_file, "r");
    if (!map) {
        raise_error(65, {}, map_file);
        return false;
    }
    const map_corner_targets corners{&s.grid_north, &s.grid_south, &s.grid_east, &s.grid_west};
    const int ok = read_index_map_grid(map, map_file, corners, s.grid_rows, s.grid_cols,
                                       s.cell_number_grid, largest_id, index_grid, zero_allowed);
    std::fclose(map);
    return ok != 0;
}

// Everything the table readers share up to the index grid (generic steps 2 to 6).
// `count_line` selects what follows NUM_IDS: 0 the header (or PRECIP_CONC), or
// card_num_sed for the soil-erosion table, whose count is checked by the caller.
struct opened_table {
    std::string map_file;
    table_rows rows;
    array_2d<int> index_grid;
};

bool open_and_read_table(model_state &s, const std::string &table_file, int table_id,
                         int value_count, int constituent_count, checked_array<double> *precip_conc,
                         int zero_allowed, int sediment_count, opened_table &t) {
    std::FILE *file = open_run_file(table_file, "r");
    if (!file) {
        raise_error(64, {}, table_file);
        return false;
    }
    int n = 0;
    if (open_index_map_table(file, table_id, t.map_file)) n = read_num_ids(file);
    if (n > 0 && table_id == card_soil_erosion_props) {
        const int num_sed = read_num_sed(file);
        if (num_sed != sediment_count) {
            std::fclose(file);
            std::printf("Error: mapping table file %s: NUM_SED of its SOIL_EROSION_PROPS table\n",
                        table_file.c_str());
            error_record.int1 = sediment_count;
            error_record.int2 = num_sed;
            raise_error(91);
            return false;
        }
        value_count = 8 + sediment_count;
        skip_table_header(file);
    } else if (n > 0 && constituent_count > 0 && precip_conc) {
        read_precip_conc_line(constituent_count, *precip_conc, file);
    } else if (n > 0) {
        skip_table_header(file);
    }
    if (n <= 0) {
        std::fclose(file);
        std::printf("Error: the %s table of mapping table file %s is missing, names no INDEX_MAP "
                    "line, or has no NUM_IDS above 0.\n",
                    table_card_word(table_id), table_file.c_str());
        raise_error(66);
        return false;
    }
    const bool rows_ok = read_table_rows(file, n, value_count, table_card_word(table_id), table_file, t.rows);
    std::fclose(file);
    if (!rows_ok) return false;
    if (!allocate_index_grid(t.index_grid, s.grid_rows, s.grid_cols)) {
        raise_printed_error();
        return false;
    }
    return read_table_index_map(s, t.map_file, t.rows.largest_id, t.index_grid, zero_allowed);
}

// Column j of the table, by cell, into target.
bool assign_column(model_state &s, const opened_table &t, int column, array_1d<double> &target,
                   int table_id) {
    if (!target_holds(target, s.cell_count, table_card_word(table_id))) return false;
    std::vector<double> by_id;
    fill_values_by_id(t.rows.largest_id, column, t.rows.ids, t.rows.values, t.rows.value_count,
                      by_id);
    assign_table_values(s.grid_rows, s.grid_cols, t.index_grid, s.cell_number_grid, by_id, target);
    return true;
}

void ensure_time_series_index(model_state &s, const std::string &table_file) {
    if (s.time_series_index_read) return;
    s.time_series_index_read = 1;
    read_time_series_index(table_file);
}

}  // namespace

int read_index_map_grid(std::FILE *file, const std::string &file_name,
                        const map_corner_targets &header, int rows, int cols,
                        const array_2d<int> &cell_grid, int largest_id,
                        array_2d<int> &index_grid, int zero_allowed) {
    double north = 0.0, south = 0.0, east = 0.0, west = 0.0;
    int map_rows = 0, map_cols = 0;
    if (!file || !read_header(file, north, south, east, west, map_rows, map_cols)) {
        std::printf("Error: unable to read the header of index map: %s\n", file_name.c_str());
        std::printf("  map %s must begin with %s\n", file_name.c_str(), grid_map_header_layout);
        raise_printed_error();
        return 0;
    }
    if (header.north) *header.north = north;
    if (header.south) *header.south = south;
    if (header.east) *header.east = east;
    if (header.west) *header.west = west;
    if (map_rows != rows || map_cols != cols)
        print_map_size_found(file_name, map_rows, map_cols, rows, cols);
    if (map_rows != rows && map_cols != cols) {
        raise_error(72, {}, file_name);
        return 0;
    }
    if (map_rows != rows) {
        raise_error(73, {}, file_name);
        return 0;
    }
    if (map_cols != cols) {
        raise_error(74, {}, file_name);
        return 0;
    }
    if (rows <= 0 || cols <= 0) return 1;
    if (cell_grid.empty() || cell_grid.rows() < static_cast<std::size_t>(rows) ||
        cell_grid.cols() < static_cast<std::size_t>(cols) || index_grid.empty() ||
        index_grid.rows() < static_cast<std::size_t>(rows) ||
        index_grid.cols() < static_cast<std::size_t>(cols)) {
        std::printf("Error: the grids for index map %s are not allocated\n", file_name.c_str());
        raise_printed_error();
        return 0;
    }
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            int value = 0;
            const int got = std::fscanf(file, "%d", &value);
            if (got == EOF) {
                std::printf("Unexpected end of file in file: %s\n", file_name.c_str());
                std::printf("  map %s: the file ends in row %d; its header gives %d rows (ROWS) "
                            "of %d values (COLS)\n",
                            file_name.c_str(), i, rows, cols);
                raise_printed_error();
                return 0;
            }
            if (got != 1) {
                std::printf("Error: unreadable value at row %d, column %d of index map: %s\n", i,
                            j, file_name.c_str());
                raise_printed_error();
                return 0;
            }
            if (cell_grid[i][j] == 0) continue;  // outside the watershed: ignored
            const int lowest = zero_allowed ? 0 : 1;
            if (value < lowest) {
                std::printf("Error: index map %s: index ID %d below %d at a watershed cell; "
                            "every watershed cell needs an id that its table gives\n",
                            file_name.c_str(), value, lowest);
            }
            if (value < lowest || value > largest_id) {
                error_record.int1 = i;
                error_record.int2 = j;
                raise_error(71, {}, file_name);
                return 0;
            }
            index_grid[i][j] = value;
        }
    }
    return 1;
}

void assign_table_values(int rows, int cols, const array_2d<int> &index_grid,
                         const array_2d<int> &cell_grid, const std::vector<double> &by_id,
                         array_1d<double> &target) {
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            const int cell = cell_grid[i][j];
            const int index = index_grid[i][j];
            if (cell <= 0 || index <= 0) continue;
            if (static_cast<std::size_t>(index) > by_id.size()) continue;  // checked on reading
            target[static_cast<std::size_t>(cell)] = by_id[static_cast<std::size_t>(index - 1)];
        }
    }
}

int read_index_map_table(model_state &state, const std::string &table_file, int table_id,
                         const std::array<array_1d<double> *, 6> &targets,
                         int constituent_count, checked_array<double> *precip_conc) {
    ensure_time_series_index(state, table_file);
    if (error_record.fatal) return 0;
    const int value_count = table_value_count(table_id);
    opened_table t;
    if (!open_and_read_table(state, table_file, table_id, value_count, constituent_count,
                             precip_conc, 0, 0, t))
        return 0;
    const int columns = value_count < 6 ? value_count : 6;
    for (int j = 0; j < columns; ++j) {
        array_1d<double> *target = targets[static_cast<std::size_t>(j)];
        if (target && !assign_column(state, t, j, *target, table_id)) return 0;
    }
    return 1;
}

int read_sediment_tables(const std::string &table_file, array_1d<double> &first_values,
                         array_1d<double> &second_values, int &count,
                         std::vector<std::string> &output_names, std::vector<std::string> *class_names) {
    count = 0;
    std::FILE *file = open_run_file(table_file, "r");
    if (!file) {
        raise_error(64, {}, table_file);
        return 0;
    }
    std::string line;
    bool found = false;
    if (read_line(line, file) &&
        line.compare(0, mapping_table_header.size(), mapping_table_header) == 0) {
        while (read_line(line, file))
            if (index_map_card_id(line) == card_sediments) {
                found = true;
                break;
            }
    }
    const int m = found ? read_num_sed(file) : 0;
    if (m <= 0) {
        std::fclose(file);
        return 1;
    }
    // One row per class whose values begin at column 45 (after a column header).
    if (!lines_can_follow(file, m, 45)) {
        std::printf("Error: NUM_SED %d of the SEDIMENTS table in mapping table file %s is more "
                    "classes than the rest of the file holds\n",
                    m, table_file.c_str());
        std::fclose(file);
        raise_printed_error();
        return 0;
    }
    count = m;
    if (alloc_1d_double(first_values, m) != 0 || alloc_1d_double(second_values, m) != 0) {
        std::fclose(file);
        print_allocation_failure("Table Data");
        raise_printed_error();
        return 0;
    }
    output_names.assign(static_cast<std::size_t>(m) + 1, std::string());
    read_line(line, file);  // column header
    constexpr std::size_t value_start = 44;  // the values begin at character 45
    for (int k = 1; k <= m; ++k) {
        bool ok = read_line(line, file) && line.size() > value_start;
        std::string rest = ok ? line.substr(value_start) : std::string();
        double a = 0.0, b = 0.0;
        std::string t1, t2, name;
        if (ok) {
            ok = next_token(t1, rest) && next_token(t2, rest) && next_token(name, rest);
            char *e1 = nullptr, *e2 = nullptr;
            if (ok) {
                a = std::strtod(t1.c_str(), &e1);
                b = std::strtod(t2.c_str(), &e2);
                ok = e1 != t1.c_str() && e2 != t2.c_str() && std::isfinite(a) && std::isfinite(b);
            }
        }
        if (!ok) {
            std::printf("Error: row %d of the SEDIMENTS table in mapping table file %s needs two "
                        "values and an output file name from column 45 on\n",
                        k, table_file.c_str());
            std::fclose(file);
            count = 0;
            raise_printed_error();
            return 0;
        }
        // The row's two values are the diameter (mm) and the specific gravity; a
        // grain lighter than water or of no size has no fall velocity or capacity.
        if (!(a > 0.0) || !(b > 1.0)) {
            std::printf("Error: row %d of the SEDIMENTS table in mapping table file %s gives a diameter "
                        "of %g mm and a specific gravity of %g;\nthe values from column 45 are the "
                        "diameter in mm (above 0), then the specific gravity (above 1), then the "
                        "output file.\n",
                        k, table_file.c_str(), a, b);
            std::fclose(file);
            count = 0;
            raise_printed_error();
            return 0;
        }
        first_values[static_cast<std::size_t>(k)] = a;
        second_values[static_cast<std::size_t>(k)] = b;
        output_names[static_cast<std::size_t>(k)] = name;
        if (class_names) {
            // The name: the words before column 45.
            std::string words, head = line.substr(0, value_start);
            for (std::string w; next_token(w, head);) words += (words.empty() ? "" : " ") + w;
            class_names->resize(static_cast<std::size_t>(m) + 1);
            (*class_names)[static_cast<std::size_t>(k)] = words;
        }
    }
    std::fclose(file);
    return 1;
}

int read_soil_erosion_table(model_state &state, const std::string &table_file,
                            int sediment_count,
                            const std::array<array_1d<double> *, 8> &targets,
                            array_2d<double> *per_sediment) {
    ensure_time_series_index(state, table_file);
    if (error_record.fatal) return 0;
    opened_table t;
    if (!open_and_read_table(state, table_file, card_soil_erosion_props, 8, 0, nullptr, 0,
                             sediment_count, t))
        return 0;
    // The class fractions of each row (after its eight erosion values) share the
    // soil: each from 0 to 1, together 1.
    for (int r = 0; r < t.rows.count && sediment_count > 0; ++r) {
        const double *f = t.rows.values.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(t.rows.value_count) + 8;
        double sum = 0.0;
        bool inside = true;
        for (int k = 0; k < sediment_count; ++k) {
            inside = inside && f[k] >= 0.0 && f[k] <= 1.0;
            sum += f[k];
        }
        if (inside && std::fabs(sum - 1.0) <= 1e-3) continue;
        std::printf("Error: row %d of the SOIL_EROSION_PROPS table in mapping table file %s gives class "
                    "fractions that sum to %g;\nthe %d values after the eight erosion values are the "
                    "shares of the sediment classes, each from 0 to 1, together 1.\n",
                    r + 1, table_file.c_str(), sum, sediment_count);
        raise_printed_error();
        return 0;
    }
    for (int j = 0; j < 8; ++j) {
        array_1d<double> *target = targets[static_cast<std::size_t>(j)];
        if (target && !assign_column(state, t, j, *target, card_soil_erosion_props)) return 0;
    }
    if (!per_sediment || sediment_count <= 0) return 1;
    if (per_sediment->empty() || per_sediment->rows() < static_cast<std::size_t>(state.cell_count) ||
        per_sediment->cols() < static_cast<std::size_t>(sediment_count)) {
        std::printf("Error: the per-sediment destination of the SOIL_EROSION_PROPS table is not "
                    "allocated for %d cells and %d sediments\n",
                    state.cell_count, sediment_count);
        raise_printed_error();
        return 0;
    }
    for (int k = 1; k <= sediment_count; ++k) {
        std::vector<double> by_id;
        fill_values_by_id(t.rows.largest_id, 7 + k, t.rows.ids, t.rows.values,
                          t.rows.value_count, by_id);
        for (int i = 1; i <= state.grid_rows; ++i)
            for (int j = 1; j <= state.grid_cols; ++j) {
                const int cell = state.cell_number_grid[i][j];
                const int index = t.index_grid[i][j];
                if (cell > 0 && index > 0)
                    (*per_sediment)[static_cast<std::size_t>(cell)][static_cast<std::size_t>(k)] =
                        by_id[static_cast<std::size_t>(index - 1)];
            }
    }
    return 1;
}

// A well's rate, or every value of its pumping series, must be a rate a well can
// pump; false after the refusal naming the table's row (and the series).
static bool well_rates_bounded(const std::string &table_file, int row, double kind, double second) {
    const time_series *series = nullptr;
    if (kind == 0.0 && within_bounds(second, bounds::pumping)) return true;
    if (kind != 0.0) {
        for (const auto &entry : time_series_id_list)
            if (entry.id == static_cast<int>(second)) series = entry.series;
        if (!series) return true;  // an unknown id keeps its own refusal when looked up
        bool inside = true;
        for (double v : series->values) inside = inside && within_bounds(v, bounds::pumping);
        if (inside) return true;
    }
    if (series)
        std::printf("Error: row %d of the WELL_TABLE table in mapping table file %s: a value of "
                    "its pumping series \"%s\" lies outside %s\n",
                    row, table_file.c_str(), series->name.c_str(), bounds::pumping.text);
    else
        std::printf("Error: row %d of the WELL_TABLE table in mapping table file %s: the rate %g "
                    "lies outside %s\n",
                    row, table_file.c_str(), second, bounds::pumping.text);
    raise_printed_error();
    return false;
}

int read_well_table(model_state &state, const std::string &table_file,
                    std::vector<well_record> &wells, array_2d<int> &index_grid) {
    ensure_time_series_index(state, table_file);
    if (error_record.fatal) return 0;
    opened_table t;
    if (!open_and_read_table(state, table_file, card_well_table, 3, 0, nullptr, 1, 0, t))
        return 0;
    wells.clear();
    for (int r = 0; r < t.rows.count; ++r) {
        const double first = t.rows.values[static_cast<std::size_t>(r) * 3];
        const double second = t.rows.values[static_cast<std::size_t>(r) * 3 + 1];
        // The kind and the time-series id are whole numbers of an int's range.
        const double whole = first == 0.0 ? first : second;
        if (!(std::fabs(first) <= INT_MAX) || !(std::fabs(whole) <= INT_MAX)) {
            std::printf("Error: row %d of the WELL_TABLE table in mapping table file %s gives a "
                        "well kind or time-series id beyond the range of an integer\n",
                        r + 1, table_file.c_str());
            raise_printed_error();
            return 0;
        }
        if (!well_rates_bounded(table_file, r + 1, first, second)) return 0;
        well_record w;
        w.id = t.rows.ids[static_cast<std::size_t>(r)];
        w.kind = static_cast<int>(first);
        if (first == 0.0) {
            w.rate = second;
        } else {
            w.series_id = static_cast<int>(second);
        }
        wells.insert(wells.begin(), w);  // newest first
    }
    index_grid = std::move(t.index_grid);
    return 1;
}

int struct_alloc(int count, std::vector<wetland_record> &records) {
    records.clear();
    if (count < 0) {
        std::printf("Problem allocating memory for array of structures in struct_alloc.\n");
        return -1;
    }
    records.assign(static_cast<std::size_t>(count) + 1, wetland_record{});
    allocated_bytes += records.size() * sizeof(wetland_record);
    return 0;
}

int read_wetland_table(model_state &state, const std::string &table_file,
                       array_1d<int> &cell_wetland, int &wetland_count,
                       std::vector<wetland_record> &records) {
    opened_table t;
    if (!open_and_read_table(state, table_file, card_wetland_properties, 7, 0, nullptr, 1, 0, t))
        return 0;
    const int rows = state.grid_rows, cols = state.grid_cols;
    int largest = 0;
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j)
            if (t.index_grid[i][j] > largest) largest = t.index_grid[i][j];
    // The limit is tested before any table is sized by the largest id.
    if (largest > max_wetland_id) {
        std::printf("Error: wetland index map %s of mapping table file %s holds id %d\n",
                    t.map_file.c_str(), table_file.c_str(), largest);
        raise_error(68);
        return 0;
    }
    std::vector<int> number(static_cast<std::size_t>(largest) + 1, 0);
    int distinct = 0;
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            const int v = t.index_grid[i][j];
            if (v > 0 && number[static_cast<std::size_t>(v)] == 0)
                number[static_cast<std::size_t>(v)] = ++distinct;
        }
    if (distinct != t.rows.count) {
        error_record.int1 = distinct;
        error_record.int2 = t.rows.count;
        std::printf("Error: wetland index map %s against the WETLAND_PROPERTIES table of mapping "
                    "table file %s\n",
                    t.map_file.c_str(), table_file.c_str());
        raise_error(67);
        return 0;
    }
    // Every id of the map needs its row, and every row an id of the map.
    std::vector<int> has_row(static_cast<std::size_t>(largest) + 1, 0);
    for (int id : t.rows.ids) {
        if (id > largest || number[static_cast<std::size_t>(id)] == 0) {
            std::printf("Error: wetland id %d of the WETLAND_PROPERTIES table does not occur in "
                        "the wetland index map %s\n",
                        id, t.map_file.c_str());
            raise_printed_error();
            return 0;
        }
        has_row[static_cast<std::size_t>(id)] = 1;
    }
    for (int v = 1; v <= largest; ++v)
        if (number[static_cast<std::size_t>(v)] != 0 && !has_row[static_cast<std::size_t>(v)]) {
            std::printf("Error: wetland id %d of the wetland index map %s has no row in the "
                        "WETLAND_PROPERTIES table\n",
                        v, t.map_file.c_str());
            raise_printed_error();
            return 0;
        }
    wetland_count = t.rows.count;
    if (struct_alloc(largest, records) != 0) {
        raise_printed_error();
        return 0;
    }
    static constexpr double divisors[7] = {1000.0, 1000.0, 86400.0, 1000.0, 86400.0, 86400.0, 1.0};
    for (int r = 0; r < t.rows.count; ++r) {
        const int id = t.rows.ids[static_cast<std::size_t>(r)];
        wetland_record &w = records[static_cast<std::size_t>(number[static_cast<std::size_t>(id)])];
        for (int j = 0; j < 7; ++j)
            w.values[static_cast<std::size_t>(j)] =
                t.rows.values[static_cast<std::size_t>(r) * 7 + static_cast<std::size_t>(j)] /
                divisors[j];
    }
    if (cell_wetland.empty() || cell_wetland.last() < static_cast<std::size_t>(state.cell_count)) {
        std::printf("Error: the per-cell wetland numbers are not allocated for %d cells\n",
                    state.cell_count);
        raise_printed_error();
        return 0;
    }
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            const int cell = state.cell_number_grid[i][j];
            if (cell > 0)
                cell_wetland[static_cast<std::size_t>(cell)] =
                    number[static_cast<std::size_t>(t.index_grid[i][j])];
        }
    return 1;
}

namespace {

// Every value of a contaminant's rows within what its column can be; false after
// the refusal naming the contaminant, the row's id, the column and the range.
bool contaminant_rows_bounded(const table_rows &rows, int contaminant, const std::string &name,
                              const std::string &table_file) {
    static const struct {
        const char *column;
        const value_bounds *range;
    } columns[6] = {{"release rate", &bounds::rate_per_day},  {"saturation concentration", &bounds::concentration},
                    {"loss rate", &bounds::rate_per_day},     {"decay", &bounds::rate_per_day},
                    {"uptake", &bounds::rate_per_day},        {"dispersion", &bounds::dispersion}};
    for (std::size_t r = 0; r < rows.ids.size(); ++r)
        for (std::size_t j = 0; j < 6 && r * 6 + j < rows.values.size(); ++j) {
            const double v = rows.values[r * 6 + j];
            if (within_bounds(v, *columns[j].range)) continue;
            std::printf("Error: row %d (id %d) of the CONTAMINANT_TRANSPORT table of contaminant %d "
                        "(%s) in mapping table file %s: the %s %g lies outside %s\n",
                        static_cast<int>(r) + 1, rows.ids[r], contaminant, name.c_str(),
                        table_file.c_str(), columns[j].column, v, columns[j].range->text);
            raise_printed_error();
            return false;
        }
    return true;
}

// The contaminant reader's code 69 with an explanation printed first.
int contaminant_error(std::FILE *file, const std::string &table_file) {
    if (file) std::fclose(file);
    raise_error(69, {}, table_file);
    return 0;
}

}  // namespace

int read_contaminant_tables(model_state &state, const std::string &table_file,
                            contaminant_tables &tables) {
    tables.count = 0;
    std::FILE *file = open_run_file(table_file, "r");
    if (!file) {
        raise_error(64, {}, table_file);
        return 0;
    }
    index_map_list maps;
    std::string line;
    int has_line = 0;
    if (!read_index_map_run(file, maps, line, has_line))
    {
        std::printf("Error: mapping table file %s does not begin with KORVA_INDEX_MAP_TABLES\n",
                    table_file.c_str());
        return contaminant_error(file, table_file);
    }
    while (has_line && index_map_card_id(line) != card_contaminant_transport)
        has_line = read_line(line, file);
    if (!has_line) {
        std::printf("Error: mapping table file %s has no CONTAMINANT_TRANSPORT card\n",
                    table_file.c_str());
        return contaminant_error(file, table_file);
    }
    const int c = read_num_contam(file);
    if (c <= 0) {
        std::printf("Error: NUM_CONTAM %d in mapping table file %s names no contaminant; the "
                    "CONTAMINANT_TRANSPORT table needs 1 or more\n",
                    c, table_file.c_str());
        return contaminant_error(file, table_file);
    }
    // Each constituent needs a name line of three quoted fields.
    if (!lines_can_follow(file, c, 6)) {
        std::printf("Error: NUM_CONTAM %d in mapping table file %s is more constituents than the "
                    "rest of the file holds\n",
                    c, table_file.c_str());
        return contaminant_error(file, table_file);
    }
    tables.count = c;
    const std::size_t entries = static_cast<std::size_t>(c) + 1;
    tables.descriptions.assign(entries, std::string());
    tables.output_files.assign(entries, std::string());
    tables.index_files.assign(entries, std::string());
    for (array_2d<double> *target : tables.targets)
        if (target && alloc_2d_double(*target, c, state.cell_count, "Table Data") != 0) {
            std::fclose(file);
            raise_printed_error();
            return 0;
        }
    if (state.precip_conc.count() < static_cast<std::size_t>(c))
        grow_double_array(state.precip_conc,
                          static_cast<long long>(c) - static_cast<long long>(state.precip_conc.count()),
                          0.0);

    for (int i = 1; i <= c; ++i) {
        const std::size_t ii = static_cast<std::size_t>(i);
        // Name line: "description" "index-map name" "output file".
        if (!read_line(line, file)) {
            std::printf("Error: the name line of constituent %d is missing in mapping table file "
                        "%s\n",
                        i, table_file.c_str());
            return contaminant_error(file, table_file);
        }
        if (std::count(line.begin(), line.end(), '"') < 6) {
            std::printf("Error: the name line of constituent %d in mapping table file %s needs "
                        "three double-quoted fields\n",
                        i, table_file.c_str());
            return contaminant_error(file, table_file);
        }
        std::string rest = line, description, map_name, output;
        take_quoted_field(rest, description);
        take_quoted_field(rest, map_name);
        take_quoted_field(rest, output);
        remove_all_quotes(description);
        remove_all_quotes(output);
        tables.descriptions[ii] = description;
        tables.output_files[ii] = output;
        const index_map_entry *entry = index_map_find(maps, map_name);
        if (!entry) {
            std::printf("Error: the index map %s of constituent %d matches no INDEX_MAP line\n",
                        map_name.c_str(), i);
            return contaminant_error(file, table_file);
        }
        tables.index_files[ii] = entry->file;

        // PRECIP_CONC and one finite number, or the run stops.
        double value = 0.0;
        if (!read_line(line, file) || index_map_card_id(line) != card_precip_conc ||
            std::sscanf(line.c_str(), "%*s %lf", &value) != 1 || !std::isfinite(value)) {
            std::printf("Error in reading the precip concentration of constituent #%d\n", i);
            std::printf("  (the PRECIP_CONC line after its name line in mapping table file %s)\n",
                        table_file.c_str());
            return contaminant_error(file, table_file);
        }
        if (!within_bounds(value, bounds::concentration)) {
            std::printf("Error: the PRECIP_CONC %g of contaminant %d (%s) in mapping table file %s "
                        "lies outside %s\n",
                        value, i, description.c_str(), table_file.c_str(), bounds::concentration.text);
            std::fclose(file);
            raise_printed_error();
            return 0;
        }
        state.precip_conc[i] = value;

        const int n = read_num_ids(file);
        if (n <= 0) continue;
        skip_table_header(file);
        table_rows rows;
        if (!read_table_rows(file, n, 6, table_card_word(card_contaminant_transport), table_file, rows) ||
            !contaminant_rows_bounded(rows, i, description, table_file)) {
            std::fclose(file);
            return 0;
        }
        array_2d<int> index_grid;
        if (!allocate_index_grid(index_grid, state.grid_rows, state.grid_cols)) {
            std::fclose(file);
            raise_printed_error();
            return 0;
        }
        if (!read_table_index_map(state, entry->file, rows.largest_id, index_grid, 0)) {
            std::fclose(file);
            return 0;
        }
        for (int j = 0; j < 6; ++j) {
            array_2d<double> *target = tables.targets[static_cast<std::size_t>(j)];
            if (!target) continue;
            std::vector<double> by_id;
            fill_values_by_id(rows.largest_id, j, rows.ids, rows.values, 6, by_id);
            for (int r = 1; r <= state.grid_rows; ++r)
                for (int col = 1; col <= state.grid_cols; ++col) {
                    const int cell = state.cell_number_grid[r][col];
                    const int index = index_grid[r][col];
                    if (cell > 0 && index > 0)
                        (*target)[ii][static_cast<std::size_t>(cell)] =
                            by_id[static_cast<std::size_t>(index - 1)];
                }
        }
    }
    std::fclose(file);
    return 1;
}
