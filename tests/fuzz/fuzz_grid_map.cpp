// Fuzz harness of the grid map reader: every input is read in each of the four
// modes, with the expected size taken from the map's own header (when it gives
// a small one) so that the values are reached, and a mask with holes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "model/core/arrays.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/core/process_exit.h"

namespace {

// The number after the first "<key>:" of the text, or `fallback` when there is
// none or it is not between 1 and 300.
int header_size(const std::string &text, const char *key, int fallback) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return fallback;
    const long v = std::strtol(text.c_str() + at + std::strlen(key), nullptr, 10);
    return v >= 1 && v <= 300 ? static_cast<int>(v) : fallback;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const int rows = header_size(text, "rows:", 4);
    const int cols = header_size(text, "cols:", 4);
    for (int mode = 1; mode <= 4; ++mode) {
        reset_process_globals();
        array_2d<int> mask;
        array_1d<double> first, second;
        array_1d<int> cells;
        alloc_2d_int(mask, rows, cols);
        int inside = 0;
        for (int r = 1; r <= rows; ++r) {
            for (int c = 1; c <= cols; ++c) {
                // Every fifth cell lies outside the watershed.
                mask[r][c] = (r * 7 + c * 3) % 5 != 0 ? 1 : 0;
                inside += mask[r][c];
            }
        }
        alloc_1d_double(first, inside);
        alloc_1d_double(second, inside);
        alloc_1d_int(cells, inside);
        std::FILE *f = fuzzsupport::open_input("map.asc", data, size);
        double north = 0, south = 0, east = 0, west = 0;
        int map_rows = 0, map_cols = 0;
        try {
            read_grid_map(f, "map.asc", mode, &north, &south, &east, &west, &map_rows, &map_cols, mask,
                          first, second, cells, rows, cols);
        } catch (const fuzzsupport::exit_requested &) {
        }
        std::fclose(f);
    }
    reset_process_globals();
    return 0;
}
