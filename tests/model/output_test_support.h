// Shared fixtures of the output-writer tests: a small masked grid in a run state,
// a tiny channel network, and readers of whole files as text and bytes.
#pragma once
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/core/grid_map.h"
#include "model/core/model_state.h"

namespace outputtest {

// 3 rows x 4 columns; 0 marks a position outside the watershed:
//   1 1 0 1
//   0 1 1 1
//   1 1 1 0
// Cells are numbered 1..9 in row order.
inline constexpr int grid_rows = 3, grid_cols = 4, grid_cells = 9;
inline constexpr int grid_mask[3][4] = {{1, 1, 0, 1}, {0, 1, 1, 1}, {1, 1, 1, 0}};

inline void make_grid(model_state &s) {
    s.grid_rows = grid_rows;
    s.grid_cols = grid_cols;
    s.cell_count = grid_cells;
    s.cell_size = 10.0;
    s.grid_north = 5030.0;
    s.grid_south = 5000.0;
    s.grid_east = 2040.0;
    s.grid_west = 2000.0;
    s.cell_number_grid.obtain(grid_rows + 1, grid_cols + 1);
    int n = 0;
    for (int i = 1; i <= grid_rows; ++i)
        for (int j = 1; j <= grid_cols; ++j)
            if (grid_mask[i - 1][j - 1]) s.cell_number_grid[i][j] = ++n;
}

// Per-cell array holding value(c) at cell c.
template <class F>
inline void fill_cells(array_1d<double> &a, F value) {
    a.obtain(grid_cells);
    for (int c = 1; c <= grid_cells; ++c) a[c] = value(c);
}

// Network of three links over at most three nodes: link 1 a trapezoid of two
// nodes, link 2 a lake (lake 1), link 3 a structure of two nodes.
inline void make_network(channel_network &net) {
    net.link_count = 3;
    net.max_node_count = 3;
    net.link_type.obtain(3);
    net.node_count.obtain(3);
    net.link_lake.obtain(3);
    net.link_type[1] = 1;
    net.link_type[2] = 4;
    net.link_type[3] = 40;
    net.node_count[1] = 2;
    net.node_count[2] = 3;
    net.node_count[3] = 2;
    net.link_lake[1] = 1;
    net.link_lake[2] = 1;
    net.link_lake[3] = 3;
    net.yp.obtain(3, 3);
    net.bel.obtain(3, 3);
    net.qp.obtain(3, 3);
    for (int l = 1; l <= 3; ++l)
        for (int n = 1; n <= 3; ++n) {
            net.bel[n][l] = 100.0 * l + n;              // bed
            net.yp[n][l] = net.bel[n][l] + 0.25 * n;    // depth 0.25 n
            net.qp[n][l] = 1.5 * l + 0.125 * n;         // discharge
        }
}

// A map file that a writer wrote on the test grid, read back through the grid map
// reader: its corners, its size and the values by cell number.
struct map_read_back {
    bool opened = false;
    double north = 0, south = 0, east = 0, west = 0;
    int rows = 0, cols = 0;
    array_1d<double> values;
};

inline map_read_back read_map_back(model_state &s, const std::string &name) {
    map_read_back m;
    std::FILE *f = std::fopen(name.c_str(), "r");
    if (!f) return m;
    m.opened = true;
    array_1d<double> unused;
    array_1d<int> unused_int;
    m.values.obtain(grid_cells);
    read_grid_map(f, name, grid_map_cells_double, &m.north, &m.south, &m.east, &m.west, &m.rows,
                  &m.cols, s.cell_number_grid, m.values, unused, unused_int, grid_rows, grid_cols);
    std::fclose(f);
    return m;
}

// Everything written so far to an open stream (a tmpfile), read from its start.
inline std::string contents(std::FILE *f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[512];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    return text;
}

inline std::string read_text(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<unsigned char> read_bytes(const std::string &name) {
    const std::string t = read_text(name);
    return std::vector<unsigned char>(t.begin(), t.end());
}

inline void write_text(const std::string &name, const std::string &text) {
    std::ofstream out(name, std::ios::binary);
    out << text;
}

// Little-endian decoding, independent of the writers.
inline std::int32_t le_int32(const std::vector<unsigned char> &b, std::size_t at) {
    const std::uint32_t u = static_cast<std::uint32_t>(b.at(at)) |
                            static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
                            static_cast<std::uint32_t>(b.at(at + 2)) << 16 |
                            static_cast<std::uint32_t>(b.at(at + 3)) << 24;
    return static_cast<std::int32_t>(u);
}
inline std::int16_t le_int16(const std::vector<unsigned char> &b, std::size_t at) {
    const std::uint16_t u = static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
    return static_cast<std::int16_t>(u);
}
// IEEE-754 binary64 decoded by hand from its sign, exponent and fraction fields.
inline double le_double(const std::vector<unsigned char> &b, std::size_t at) {
    std::uint64_t u = 0;
    for (int k = 7; k >= 0; --k) u = (u << 8) | b.at(at + static_cast<std::size_t>(k));
    const int sign = static_cast<int>(u >> 63);
    const int exponent = static_cast<int>((u >> 52) & 0x7ff);
    const double fraction = static_cast<double>(u & ((std::uint64_t{1} << 52) - 1)) / 4503599627370496.0;
    double v = 0.0;
    if (exponent == 0)
        v = fraction * 2.2250738585072014e-308;  // subnormal
    else {
        v = 1.0 + fraction;
        for (int e = exponent - 1023; e > 0; --e) v *= 2.0;
        for (int e = exponent - 1023; e < 0; ++e) v /= 2.0;
    }
    return sign ? -v : v;
}

}  // namespace outputtest
