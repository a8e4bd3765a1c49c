// The grid map reader before its block reading and in-place number parsing, kept
// to check the current reader value for value and to time it against it.
#include "bench/reference/grid_map_reference.h"

#include <cstddef>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"
#include "model/project/project_file.h"

namespace {

struct map_header {
    double north = 0.0, south = 0.0, east = 0.0, west = 0.0;
    int rows = 0, cols = 0;
};

// Reads the six header lines with their formats; false when any line does not fit.
bool read_header(std::FILE *file, map_header &h) {
    char label[8] = {};
    if (std::fscanf(file, "%6s %lf\n", label, &h.north) != 2) return false;
    if (std::fscanf(file, "%6s %lf\n", label, &h.south) != 2) return false;
    if (std::fscanf(file, "%5s %lf\n", label, &h.east) != 2) return false;
    if (std::fscanf(file, "%5s %lf\n", label, &h.west) != 2) return false;
    if (std::fscanf(file, "%5s %d\n", label, &h.rows) != 2) return false;
    if (std::fscanf(file, "%5s %d\n", label, &h.cols) != 2) return false;
    return true;
}

// The size check: message and code 4000 when the header's size is not the model's.
bool size_matches(const std::string &file_name, int rows, int cols, int expected_rows,
                  int expected_cols) {
    const bool rows_differ = rows != expected_rows;
    const bool cols_differ = cols != expected_cols;
    if (!rows_differ && !cols_differ) return true;
    if (rows_differ && cols_differ)
        std::printf("Incorrect number of rows and columns in map: %s\n", file_name.c_str());
    else if (rows_differ)
        std::printf("Incorrect number of rows in map: %s\n", file_name.c_str());
    else
        std::printf("Incorrect number of columns in map: %s\n", file_name.c_str());
    raise_printed_error();
    return false;
}

void unexpected_end(const std::string &file_name) {
    std::printf("Unexpected end of file in file: %s\n", file_name.c_str());
    raise_printed_error();
}

void destination_too_small(const std::string &file_name) {
    std::printf("Error: the destination of map %s is smaller than the map\n",
                file_name.c_str());
    raise_printed_error();
}

// A cell value that cannot be used: the map, row and column are named.
void refuse_cell(const std::string &file_name, int row, int col, const std::string &token,
                 const char *why) {
    if (token.empty())
        std::printf("Error: map %s, row %d, column %d: the value is missing\n", file_name.c_str(),
                    row, col);
    else
        std::printf("Error: map %s, row %d, column %d: \"%s\" %s\n", file_name.c_str(), row, col,
                    token.c_str(), why);
    raise_printed_error();
}

// Takes the next word of a free-layout map off the file (blanks, tabs, line ends and
// commas separate words); false at the end of the file.
bool next_file_word(std::FILE *file, std::string &word) {
    word.clear();
    int c = std::getc(file);
    while (c != EOF && (is_token_delimiter(static_cast<char>(c)) || c == '\r')) c = std::getc(file);
    while (c != EOF && !is_token_delimiter(static_cast<char>(c)) && c != '\r') {
        word.push_back(static_cast<char>(c));
        c = std::getc(file);
    }
    return !word.empty();
}

// Nothing but blanks may follow the last row of a map.
bool nothing_after_last_row(std::FILE *file, const std::string &file_name) {
    std::string word;
    if (!next_file_word(file, word)) return true;
    std::printf("Error: map %s holds data after its last row: \"%s\"\n", file_name.c_str(),
                word.c_str());
    raise_printed_error();
    return false;
}

// A packed destination must be allocated; the index is checked while storing.
bool mask_holds(const array_2d<int> &mask, int rows, int cols) {
    return !mask.empty() && mask.rows() >= static_cast<std::size_t>(rows) &&
           mask.cols() >= static_cast<std::size_t>(cols);
}

}  // namespace

namespace reference {

void read_grid_map(std::FILE *file, const std::string &file_name, int mode, double *north,
                   double *south, double *east, double *west, int *rows, int *cols,
                   array_2d<int> &mask_grid, array_1d<double> &first_values,
                   array_1d<double> &second_values, array_1d<int> &cell_ints,
                   int expected_rows, int expected_cols) {
    map_header h;
    const bool header_ok = file && read_header(file, h);
    if (!header_ok) {
        // A size that was never read must not be handed on as if it were.
        if (rows) *rows = 0;
        if (cols) *cols = 0;
        std::printf("Error: unable to read the header of map: %s\n", file_name.c_str());
        raise_printed_error();
        return;
    }
    if (north) *north = h.north;
    if (south) *south = h.south;
    if (east) *east = h.east;
    if (west) *west = h.west;
    if (rows) *rows = h.rows;
    if (cols) *cols = h.cols;

    // The size is checked before any value is stored, so a map larger than the
    // model's grid never writes past its destination.
    if (!size_matches(file_name, h.rows, h.cols, expected_rows, expected_cols)) return;
    if (h.rows <= 0 || h.cols <= 0) {
        std::printf("Warning: Map contains only zero values. Map: %s\n", file_name.c_str());
        return;
    }
    if (!mask_holds(mask_grid, h.rows, h.cols)) {
        destination_too_small(file_name);
        return;
    }

    bool any_nonzero = false;
    int zero_cells = 0;
    std::size_t packed = 0;

    if (mode == grid_map_cells_double || mode == grid_map_cells_double2) {
        array_1d<double> &target = mode == grid_map_cells_double ? first_values : second_values;
        std::string line;
        for (int i = 1; i <= h.rows; ++i) {
            if (!read_line(line, file)) {
                unexpected_end(file_name);
                return;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            for (int j = 1; j <= h.cols; ++j) {
                // Inside the mask every value is a whole, finite number; outside it
                // a value that is not one reads as 0.0.
                double value = 0.0;
                std::string token;
                next_token(token, line);
                const bool number = whole_token_double(token, value);
                if (!number && mask_grid[i][j] != 0) {
                    refuse_cell(file_name, i, j, token, "is not a finite number");
                    return;
                }
                if (value != 0.0) any_nonzero = true;
                if (mask_grid[i][j] != 0) {
                    ++packed;
                    if (target.empty() || packed > target.last()) {
                        destination_too_small(file_name);
                        return;
                    }
                    target[packed] = value;
                    if (value == 0.0) ++zero_cells;
                }
            }
            std::string extra;
            if (next_token(extra, line)) {
                std::printf("Error: map %s, row %d holds more than %d values: \"%s\"\n",
                            file_name.c_str(), i, h.cols, extra.c_str());
                raise_printed_error();
                return;
            }
        }
        if (!nothing_after_last_row(file, file_name)) return;
    } else if (mode == grid_map_full_int || mode == grid_map_cells_int) {
        for (int i = 1; i <= h.rows; ++i) {
            for (int j = 1; j <= h.cols; ++j) {
                int value = 0;
                std::string word;
                if (!next_file_word(file, word)) {
                    unexpected_end(file_name);
                    return;
                }
                if (!whole_token_int(word, value)) {
                    std::printf("Error: unreadable value at row %d, column %d of map: %s\n", i,
                                j, file_name.c_str());
                    raise_printed_error();
                    return;
                }
                if (value != 0) any_nonzero = true;
                if (mode == grid_map_full_int) {
                    mask_grid[i][j] = value;
                } else if (mask_grid[i][j] != 0) {
                    ++packed;
                    if (cell_ints.empty() || packed > cell_ints.last()) {
                        destination_too_small(file_name);
                        return;
                    }
                    cell_ints[packed] = value;
                }
            }
        }
        if (!nothing_after_last_row(file, file_name)) return;
    } else {
        std::printf("Error: unknown read mode %d for map: %s\n", mode, file_name.c_str());
        raise_printed_error();
        return;
    }

    if (!any_nonzero)
        std::printf("Warning: Map contains only zero values. Map: %s\n", file_name.c_str());
    if (zero_cells >= 1)
        std::printf("Warning: Map contains %d cells with zero values. Map: %s\n", zero_cells,
                    file_name.c_str());
}

}  // namespace reference
