// Radar rainfall grids: header and values of a radar grid file, the map from
// watershed cells to radar cells, and the per-cell rain rate taken from the radar
// values. Called by the precipitation file reader, the set-up and the pieces.
#include "model/input/radar_precip.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

struct radar_header {
    int cols = 0, rows = 0;
    double xll = 0.0, yll = 0.0, cell_size = 0.0, no_data = 0.0;
};

// One header line: a word (not checked) and a value.
bool header_value(std::FILE *file, double &value) {
    std::string line, word;
    if (!read_line(line, file)) return false;
    if (!next_token(word, line)) return false;
    std::string token;
    if (!next_token(token, line)) return false;
    char *end = nullptr;
    value = std::strtod(token.c_str(), &end);
    return end != token.c_str() && std::isfinite(value);
}

bool read_header(std::FILE *file, radar_header &h) {
    double cols = 0.0, rows = 0.0;
    if (!header_value(file, cols) || !header_value(file, rows) || !header_value(file, h.xll) ||
        !header_value(file, h.yll) || !header_value(file, h.cell_size) ||
        !header_value(file, h.no_data))
        return false;
    // Counts beyond what a grid can hold are refused with the non-positive ones.
    if (cols > 1.0e8 || rows > 1.0e8) return false;
    h.cols = static_cast<int>(cols);
    h.rows = static_cast<int>(rows);
    return true;
}

// Skips the rest of the current line.
void skip_line_end(std::FILE *file) {
    int c = std::getc(file);
    while (c != EOF && c != '\n') c = std::getc(file);
}

}  // namespace

int read_radar_grid(radar_grid &radar, const std::string &file_name) {
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) return -1;
    radar_header h;
    const bool ok = read_header(file, h);
    std::fclose(file);
    if (!ok) return -1;
    if (h.rows <= 0 || h.cols <= 0 || !(h.cell_size > 0.0)) {
        std::printf("Error: radar file %s gives %d rows, %d columns and cell size %lf; all must "
                    "be above 0\n",
                    file_name.c_str(), h.rows, h.cols, h.cell_size);
        return -1;
    }
    const bool resized = h.rows != radar.rows || h.cols != radar.cols || radar.values.empty();
    radar.cols = h.cols;
    radar.rows = h.rows;
    radar.xll = h.xll;
    radar.yll = h.yll;
    radar.cell_size = h.cell_size;
    radar.no_data = h.no_data;
    radar.west = h.xll;
    radar.north = h.yll + h.rows * h.cell_size;
    if (resized) {
        const std::size_t n = static_cast<std::size_t>(h.rows) * static_cast<std::size_t>(h.cols);
        radar.values.assign(n, 0.0);
        allocated_bytes += n * sizeof(double);
    }
    return 0;
}

void init_radar_grid(radar_grid &radar, const model_state &state) {
    radar.model_rows = state.grid_rows;
    radar.model_cols = state.grid_cols;
    radar.model_west = state.mask_west;
    radar.model_north = state.mask_north;
    radar.model_dx = state.cell_size;
    radar.cell_count = state.cell_count;
    radar.cell_map.assign(static_cast<std::size_t>(state.cell_count) + 1, 0);
    allocated_bytes += radar.cell_map.size() * sizeof(int);
}

int map_radar_to_cells(radar_grid &radar, const array_2d<int> &cell_grid) {
    if (radar.values.empty()) {
        std::printf("Error: precip data not allocated\n");
        raise_printed_error();
        return -1;
    }
    const double dx = radar.model_dx;
    for (int r = 1; r <= radar.model_rows; ++r) {
        for (int c = 1; c <= radar.model_cols; ++c) {
            const int cell = cell_grid[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
            if (cell <= 0) continue;
            const double x = radar.model_west + (c - 1) * dx + 0.5 * dx;
            const double y = radar.model_north - ((r - 1) * dx + 0.5 * dx);
            // A centre north of or west of the radar grid lies outside it as much as
            // one south or east of it; it gets index -1 and is refused below.
            const int p_i = y > radar.north ? -1 : static_cast<int>((radar.north - y) / radar.cell_size);
            const int p_j = x < radar.west ? -1 : static_cast<int>((x - radar.west) / radar.cell_size);
            if (p_i < 0 || p_j < 0 || p_i > radar.rows - 1 || p_j > radar.cols - 1) {
                std::printf("Error!! p_I=%d, p_J=%d\n", p_i, p_j);
                raise_error(102);
                return -1;
            }
            if (static_cast<std::size_t>(cell) < radar.cell_map.size())
                radar.cell_map[static_cast<std::size_t>(cell)] = p_i * radar.cols + p_j;
        }
    }
    return 0;
}

int read_radar_values(radar_grid &radar, const std::string &file_name) {
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) {
        std::printf("Error: unable to open radar file %s\n", file_name.c_str());
        return -1;
    }
    radar_header h;
    if (!read_header(file, h) || h.cols != radar.cols || h.rows != radar.rows) {
        std::fclose(file);
        std::printf("Error: radar file %s does not have the size of the event's radar grid "
                    "(%d rows, %d columns)\n",
                    file_name.c_str(), radar.rows, radar.cols);
        return -1;
    }
    std::vector<double> values(static_cast<std::size_t>(h.rows) * static_cast<std::size_t>(h.cols), 0.0);
    double largest = 0.0;
    std::size_t k = 0;
    for (int r = 0; r < h.rows; ++r) {
        for (int c = 0; c < h.cols; ++c, ++k) {
            double v = 0.0;
            if (std::fscanf(file, "%lf", &v) != 1 || !std::isfinite(v)) {
                std::fclose(file);
                std::printf("Error: value %d of row %d of radar file %s cannot be read\n", c + 1,
                            r + 1, file_name.c_str());
                return -1;
            }
            values[k] = v > 0.0 ? v * 25.4 : 0.0;  // inches to mm
            if (values[k] > largest) largest = values[k];
        }
        skip_line_end(file);
    }
    std::fclose(file);
    radar.values.swap(values);
    std::printf("Peak rainfall rate read: %lf mm/hr\n", largest);
    return 0;
}

int apply_radar_to_cells(const radar_grid &radar, array_1d<double> &rate) {
    const int total = radar.rows * radar.cols;
    double largest = 0.0;
    for (int k = 1; k <= radar.cell_count; ++k) {
        const int index = radar.cell_map[static_cast<std::size_t>(k)];
        if (index < 0 || index > total - 1 || static_cast<std::size_t>(index) >= radar.values.size()) {
            std::printf("Error: cellnum=%d, totcells=%d\n", index, total);
            raise_printed_error();
            return -1;
        }
        const double v = radar.values[static_cast<std::size_t>(index)];
        rate[static_cast<std::size_t>(k)] = v > 0.0 ? v : 0.0;
        if (rate[static_cast<std::size_t>(k)] > largest) largest = rate[static_cast<std::size_t>(k)];
    }
    std::printf("Peak rainfall applied to watershed: %lf mm/hr\n", largest);
    return 0;
}
