// The grid map reader: six header lines, then the values row by row, stored into a
// whole integer grid or packed by watershed cell. Called by the input readers
// (mask, elevation, parameter maps) and by the exchange with the vegetation model.
#include "model/core/grid_map.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>
#include <vector>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"
#include "model/core/replace_params.h"

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
    // The corners are copied into the headers of the maps the run writes.
    return std::isfinite(h.north) && std::isfinite(h.south) && std::isfinite(h.east) &&
           std::isfinite(h.west);
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
    print_map_size_found(file_name, rows, cols, expected_rows, expected_cols);
    raise_printed_error();
    return false;
}

// The file ends inside the values: how far it got against what the header promises.
void unexpected_end(const std::string &file_name, int row, int rows, int cols) {
    std::printf("Unexpected end of file in file: %s\n", file_name.c_str());
    std::printf("  map %s: the file ends in row %d; its header gives %d rows (ROWS) of %d "
                "values (COLS)\n",
                file_name.c_str(), row, rows, cols);
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

// The values are read in blocks of the file rather than a character at a time:
// one line at a time as a view into the block, whatever its length.
class block_reader {
public:
    explicit block_reader(std::FILE *file) : file_(file), buffer_(block_size) {}

    // The next line without its line feed; false at the end of the file (nothing
    // left) or on a read error, as read_line reports them.
    bool line(std::string_view &out) {
        for (;;) {
            const char *begin = buffer_.data() + pos_;
            const void *feed = std::memchr(begin, '\n', end_ - pos_);
            if (feed) {
                const std::size_t length = static_cast<const char *>(feed) - begin;
                out = std::string_view(begin, length);
                pos_ += length + 1;
                return true;
            }
            if (at_end_) {
                if (pos_ == end_ || failed_) return false;
                out = std::string_view(begin, end_ - pos_);
                pos_ = end_;
                return true;
            }
            refill();
        }
    }

private:
    static constexpr std::size_t block_size = 1 << 18;

    // Keeps the unfinished line, makes room (doubling for a line longer than the
    // block) and appends what the file gives.
    void refill() {
        const std::size_t kept = end_ - pos_;
        if (pos_ > 0 && kept > 0) std::memmove(buffer_.data(), buffer_.data() + pos_, kept);
        pos_ = 0;
        end_ = kept;
        if (buffer_.size() - end_ < block_size / 2) buffer_.resize(buffer_.size() * 2);
        const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
        end_ += got;
        if (got == 0) {
            at_end_ = true;
            failed_ = std::ferror(file_) != 0;
        }
    }

    std::FILE *file_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0, end_ = 0;
    bool at_end_ = false, failed_ = false;
};

// Character classes of the two layouts, looked up rather than compared.
struct delimiter_table {
    bool row[256] = {};   // a row line's token delimiters: blank, tab, comma
    bool word[256] = {};  // a free layout's: also carriage return and line feed
    constexpr delimiter_table() {
        for (unsigned char c : {' ', '\t', ',', '\n'}) row[c] = word[c] = true;
        word[static_cast<unsigned char>('\r')] = true;
    }
};
constexpr delimiter_table delimiters;

bool row_delimiter(char c) { return delimiters.row[static_cast<unsigned char>(c)]; }
bool word_delimiter(char c) { return delimiters.word[static_cast<unsigned char>(c)]; }

// Words of a free-layout map, across lines (blanks, tabs, commas and carriage
// returns separate them).
class word_reader {
public:
    explicit word_reader(block_reader &in) : in_(in) {}
    bool next(std::string_view &word) {
        int ignored = 0;
        return next(word, ignored) != word_kind::none;
    }

    // The next word and, when it is at most nine digits with an optional minus,
    // its value formed on the way (one pass over the characters).
    enum class word_kind { none, digits, other };
    word_kind next(std::string_view &word, int &value) {
        for (;;) {
            const char *const line_end = line_.data() + line_.size();
            const char *p = line_.data() + at_;
            while (p != line_end && word_delimiter(*p)) ++p;
            if (p != line_end) {
                const char *const start = p;
                const bool negative = *p == '-';
                if (negative) ++p;
                unsigned x = 0;  // wraps harmlessly on long words, which are not used
                bool digits = p != line_end;
                for (; p != line_end && !word_delimiter(*p); ++p) {
                    const unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
                    digits = digits && digit <= 9;
                    x = x * 10u + (digit & 15u);
                }
                const std::size_t length = static_cast<std::size_t>(p - start);
                at_ = static_cast<std::size_t>(p - line_.data());
                word = std::string_view(start, length);
                digits = digits && length - negative <= 9 && length > static_cast<std::size_t>(negative);
                if (digits) value = negative ? -static_cast<int>(x) : static_cast<int>(x);
                return digits ? word_kind::digits : word_kind::other;
            }
            if (!in_.line(line_)) return word_kind::none;
            at_ = 0;
        }
    }

private:
    block_reader &in_;
    std::string_view line_;
    std::size_t at_ = 0;
};

// Tokens of one row line, taken as next_token takes them: delimiters blank, tab,
// comma; a leading double quote groups a token up to the closing one.
enum class row_token { word, empty_quoted, none };

row_token take_row_token(std::string_view line, std::size_t &at, std::string_view &token) {
    const std::size_t len = line.size();
    while (at < len && row_delimiter(line[at])) ++at;
    if (at >= len) return row_token::none;
    const bool quoted = line[at] == '"';
    if (quoted) ++at;
    const std::size_t start = at;
    std::size_t end = at;
    while (at < len) {
        const char c = line[at];
        if (quoted) {
            if (c == '"') {
                end = at;
                ++at;
                break;
            }
        } else if (row_delimiter(c)) {
            break;
        }
        ++at;
        end = at;
    }
    if (end == start) return row_token::empty_quoted;
    token = line.substr(start, end - start);
    return row_token::word;
}

// True when the digits before any exponent are all zeros (the value is a true 0).
bool zero_mantissa(std::string_view t) {
    for (char c : t) {
        if (c == 'e' || c == 'E') break;
        if (c >= '1' && c <= '9') return false;
    }
    return true;
}

enum class number_kind { finite, not_finite, none };

// A whole token as a real. A plain decimal number is converted in place (correctly
// rounded, the same value as the C library's); every other form (a sign '+',
// hexadecimal, subnormal, out of range, words) goes to the library's conversion.
number_kind parse_real(std::string_view t, double &value) {
    double x = 0.0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
    if (ec == std::errc() && end == t.data() + t.size() &&
        (std::isnormal(x) || (x == 0.0 && zero_mantissa(t)))) {
        value = x;
        return number_kind::finite;
    }
    const std::string word(t);
    if (whole_token_double(word, x)) {
        value = x;
        return number_kind::finite;
    }
    if (word.empty() || std::isspace(static_cast<unsigned char>(word[0])))
        return number_kind::none;
    char *stop = nullptr;
    const double y = std::strtod(word.c_str(), &stop);
    return stop == word.c_str() + word.size() && !std::isfinite(y) ? number_kind::not_finite
                                                                    : number_kind::none;
}

// Nothing but blanks may follow the last row of a map.
bool nothing_after_last_row(word_reader &words, const std::string &file_name) {
    std::string_view word;
    if (!words.next(word)) return true;
    std::printf("Error: map %s holds data after its last row: \"%s\"\n", file_name.c_str(),
                std::string(word).c_str());
    raise_printed_error();
    return false;
}

// A packed destination must be allocated; the index is checked while storing.
bool mask_holds(const array_2d<int> &mask, int rows, int cols) {
    return !mask.empty() && mask.rows() >= static_cast<std::size_t>(rows) &&
           mask.cols() >= static_cast<std::size_t>(cols);
}

}  // namespace

void print_map_size_found(const std::string &file_name, int rows, int cols, int expected_rows,
                          int expected_cols) {
    std::printf("  map %s: its header gives %d rows (ROWS) and %d columns (COLS); %d rows and "
                "%d columns expected\n",
                file_name.c_str(), rows, cols, expected_rows, expected_cols);
}

void read_grid_map(std::FILE *file, const std::string &file_name, int mode, double *north,
                   double *south, double *east, double *west, int *rows, int *cols,
                   array_2d<int> &mask_grid, array_1d<double> &first_values,
                   array_1d<double> &second_values, array_1d<int> &cell_ints,
                   int expected_rows, int expected_cols) {
    read_grid_map_within(file, file_name, mode, north, south, east, west, rows, cols, mask_grid,
                         first_values, second_values, cell_ints, expected_rows, expected_cols,
                         nullptr);
}

void read_grid_map_within(std::FILE *file, const std::string &file_name, int mode, double *north,
                          double *south, double *east, double *west, int *rows, int *cols,
                          array_2d<int> &mask_grid, array_1d<double> &first_values,
                          array_1d<double> &second_values, array_1d<int> &cell_ints,
                          int expected_rows, int expected_cols, const value_bounds *range) {
    map_header h;
    const bool header_ok = file && read_header(file, h);
    if (!header_ok) {
        // A size that was never read must not be handed on as if it were.
        if (rows) *rows = 0;
        if (cols) *cols = 0;
        std::printf("Error: unable to read the header of map: %s\n", file_name.c_str());
        std::printf("  map %s must begin with %s\n", file_name.c_str(), grid_map_header_layout);
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
        count_warning();
        return;
    }
    if (!mask_holds(mask_grid, h.rows, h.cols)) {
        destination_too_small(file_name);
        return;
    }

    bool any_nonzero = false;
    int zero_cells = 0;
    std::size_t packed = 0;

    block_reader in(file);
    word_reader words(in);
    const std::size_t mask_stride = mask_grid.cols() + 1;
    if (mode == grid_map_cells_double || mode == grid_map_cells_double2) {
        array_1d<double> &target = mode == grid_map_cells_double ? first_values : second_values;
        std::string substituted;
        for (int i = 1; i <= h.rows; ++i) {
            std::string_view line;
            if (!in.line(line)) {
                unexpected_end(file_name, i, h.rows, h.cols);
                return;
            }
            if (replace_params_on) {
                substituted.assign(line);
                if (!replace_in_line(substituted)) refuse_unmatched_tag(file_name);
                line = substituted;
            }
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            const int *mask_row = mask_grid.data() + static_cast<std::size_t>(i) * mask_stride;
            std::size_t at = 0;
            for (int j = 1; j <= h.cols; ++j) {
                // Every row holds all its values. Inside the mask every value is a
                // whole, finite number; outside it a word that is not a number
                // reads as 0.0 (a no-data mark), but nan or inf is refused.
                const bool inside = mask_row[j] != 0;
                std::string_view token;
                double value = 0.0;
                const row_token kind = take_row_token(line, at, token);
                if (kind == row_token::none) {
                    std::printf("Error: map %s, row %d has %d values, COLS is %d\n",
                                file_name.c_str(), i, j - 1, h.cols);
                    raise_printed_error();
                    return;
                }
                if (kind == row_token::empty_quoted && inside) {
                    refuse_cell(file_name, i, j, "", "");
                    return;
                }
                if (kind == row_token::word) {
                    const number_kind number = parse_real(token, value);
                    if (number == number_kind::not_finite ||
                        (number == number_kind::none && inside)) {
                        refuse_cell(file_name, i, j, std::string(token), "is not a finite number");
                        return;
                    }
                }
                if (inside && range && !within_bounds(value, *range)) {
                    const std::string why = std::string("lies outside ") + range->text;
                    refuse_cell(file_name, i, j, std::string(token), why.c_str());
                    return;
                }
                if (value != 0.0) any_nonzero = true;
                if (inside) {
                    ++packed;
                    if (target.empty() || packed > target.last()) {
                        destination_too_small(file_name);
                        return;
                    }
                    target[packed] = value;
                    if (value == 0.0) ++zero_cells;
                }
            }
            std::string_view extra;
            if (take_row_token(line, at, extra) == row_token::word) {
                std::printf("Error: map %s, row %d holds more than %d values: \"%s\"\n",
                            file_name.c_str(), i, h.cols, std::string(extra).c_str());
                raise_printed_error();
                return;
            }
        }
        if (!nothing_after_last_row(words, file_name)) return;
    } else if (mode == grid_map_full_int || mode == grid_map_cells_int) {
        for (int i = 1; i <= h.rows; ++i) {
            int *mask_row = mask_grid.data() + static_cast<std::size_t>(i) * mask_stride;
            for (int j = 1; j <= h.cols; ++j) {
                int value = 0;
                std::string_view word;
                const word_reader::word_kind kind = words.next(word, value);
                if (kind == word_reader::word_kind::none) {
                    unexpected_end(file_name, i, h.rows, h.cols);
                    return;
                }
                if (kind == word_reader::word_kind::other && !whole_token_int(std::string(word), value)) {
                    std::printf("Error: unreadable value at row %d, column %d of map: %s\n", i,
                                j, file_name.c_str());
                    raise_printed_error();
                    return;
                }
                if (value != 0) any_nonzero = true;
                if (mode == grid_map_full_int) {
                    mask_row[j] = value;
                } else if (mask_row[j] != 0) {
                    ++packed;
                    if (cell_ints.empty() || packed > cell_ints.last()) {
                        destination_too_small(file_name);
                        return;
                    }
                    cell_ints[packed] = value;
                }
            }
        }
        if (!nothing_after_last_row(words, file_name)) return;
    } else {
        std::printf("Error: unknown read mode %d for map: %s\n", mode, file_name.c_str());
        raise_printed_error();
        return;
    }

    if (!any_nonzero) {
        std::printf("Warning: Map contains only zero values. Map: %s\n", file_name.c_str());
        count_warning();
    }
    if (zero_cells >= 1) {
        std::printf("Warning: Map contains %d cells with zero values. Map: %s\n", zero_cells,
                    file_name.c_str());
        count_warning();
    }
}
