// Shared by the end-to-end runs: the text of a grid map whose cell values a
// function gives, numbers written into maps, and values read back from a summary.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace project_text {

// The map header of a grid of n_rows x n_cols cells of size d, then value(row,
// column) for every cell, rows from the north.
template <class F>
std::string grid_of(int n_rows, int n_cols, double d, F value) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "north: %.1f\nsouth: 0.0\neast: %.1f\nwest: 0.0\nrows: %d\ncols: %d\n",
                  n_rows * d, n_cols * d, n_rows, n_cols);
    std::string text = line;
    for (int r = 1; r <= n_rows; ++r)
        for (int c = 1; c <= n_cols; ++c) text += value(r, c) + (c < n_cols ? " " : "\n");
    return text;
}

// A map value with four decimals.
inline std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    return text;
}

// The number after the first `label` at or past `from`, NAN when the label is missing.
inline double value_after(const std::string &text, const std::string &label, std::size_t from = 0) {
    const std::size_t at = text.find(label, from);
    if (at == std::string::npos) return std::nan("");
    return std::strtod(text.c_str() + at + label.size(), nullptr);
}

// text with its first `from` replaced by `to`.
inline std::string with(std::string text, const std::string &from, const std::string &to) {
    return text.replace(text.find(from), from.size(), to);
}

// A mapping-table row: the id, then the values from character 87.
inline std::string row(const char *id, const std::string &values) {
    std::string line = id;
    line.resize(86, ' ');
    return line + values + "\n";
}

}  // namespace project_text
