// The soil-moisture output locations (step 19 of read_input_data) and the initial
// overland depths from the overland hotstart map and a uniform initial water
// surface (step 22).
#include <cstdio>
#include <string>

#include "model/core/file_opener.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/core/line_reader.h"
#include "model/input/input_readers.h"
#include "model/core/model_state.h"

namespace {

// A location line that cannot be read: the end-of-file message at the end of the
// file, otherwise a message naming the value.
void location_read_failed(std::FILE *f, const std::string &name, const char *what, int k) {
    if (std::feof(f))
        std::printf("End of file reached in file %s, exiting\n", name.c_str());
    else
        std::printf("Error: unreadable %s of soil-moisture location %d in file %s\n", what, k,
                    name.c_str());
    raise_printed_error();
}

// The cell of (row, col), or 0 after the message that it is off the grid or
// outside the watershed.
int location_cell(const model_state &s, int row, int col, int k, const std::string &name) {
    if (row < 1 || row > s.grid_rows || col < 1 || col > s.grid_cols) {
        std::printf("Error: soil-moisture location %d (row %d, column %d) in file %s lies off "
                    "the %d x %d grid\n",
                    k, row, col, name.c_str(), s.grid_rows, s.grid_cols);
        raise_printed_error();
        return 0;
    }
    const int cell = cell_at(s.cell_number_grid, row, col);
    if (cell <= 0) {
        std::printf("Error: soil-moisture location %d (row %d, column %d) in file %s lies "
                    "outside the watershed mask\n",
                    k, row, col, name.c_str());
        raise_printed_error();
    }
    return cell > 0 ? cell : 0;
}

// Nodes of a cell's Richards column.
int column_nodes(const model_state &s, int cell) {
    const std::size_t c = static_cast<std::size_t>(cell);
    if (!s.richards_cell_nodes.empty() && c <= s.richards_cell_nodes.last())
        return s.richards_cell_nodes[c];
    return s.richards_node_count;
}

bool allocate_locations(model_state &s, int count) {
    if (alloc_1d_int(s.theta_location_cell, count) != 0) {
        print_allocation_failure("theta locations");
        raise_printed_error();
        return false;
    }
    return true;
}

void read_plain_locations(model_state &s, std::FILE *f, const std::string &name, int count) {
    if (!allocate_locations(s, count)) return;
    for (int k = 1; k <= count; ++k) {
        int row = 0, col = 0;
        if (std::fscanf(f, "%d %d", &row, &col) != 2) {
            location_read_failed(f, name, "row and column", k);
            return;
        }
        const int cell = location_cell(s, row, col, k, name);
        if (cell == 0) return;
        s.theta_location_cell[static_cast<std::size_t>(k)] = cell;
    }
    s.theta_location_count = count;
}

void read_richards_locations(model_state &s, std::FILE *f, const std::string &name, int count,
                             int largest) {
    if (!allocate_locations(s, count)) return;
    if (alloc_1d_int(s.theta_location_depths, count) != 0 ||
        alloc_2d_int(s.theta_location_nodes, count, largest) != 0) {
        print_allocation_failure("cell_num");
        raise_printed_error();
        return;
    }
    for (int k = 1; k <= count; ++k) {
        const std::size_t kk = static_cast<std::size_t>(k);
        int row = 0, col = 0, depths = 0;
        if (std::fscanf(f, "%d %d %d", &row, &col, &depths) != 3) {
            location_read_failed(f, name, "row, column and depth count", k);
            return;
        }
        const int cell = location_cell(s, row, col, k, name);
        if (cell == 0) return;
        if (depths < 0 || depths > largest) {
            std::printf("Error: soil-moisture location %d in file %s gives %d depths; the file "
                        "allows 0 to %d\n",
                        k, name.c_str(), depths, largest);
            raise_printed_error();
            return;
        }
        const int nodes = column_nodes(s, cell);
        for (int d = 1; d <= depths; ++d) {
            int node = 0;
            if (std::fscanf(f, "%d", &node) != 1) {
                location_read_failed(f, name, "depth node", k);
                return;
            }
            if (node < 1 || node > nodes) {
                std::printf("Error: depth %d of soil-moisture location %d in file %s is node %d; "
                            "the soil column of cell %d has nodes 1 to %d\n",
                            d, k, name.c_str(), node, cell, nodes);
                raise_printed_error();
                return;
            }
            s.theta_location_nodes[kk][static_cast<std::size_t>(d)] = node;
        }
        s.theta_location_cell[kk] = cell;
        s.theta_location_depths[kk] = depths;
    }
    s.theta_location_count = count;
}

}  // namespace

void read_theta_locations(model_state &s) {
    if (!s.in_theta_location_on || !s.theta_location_file) return;
    std::FILE *f = s.theta_location_file;
    const std::string &name = s.in_theta_location_name;
    s.theta_location_count = 0;
    int count = 0, largest = 0;
    std::string count_word, largest_word;
    // The counts are quoted as the file gives them; one past the range of an int
    // is more than any file holds.
    auto whole_number = [](const std::string &w) {
        return !w.empty() && w.find_first_not_of("+-0123456789") == std::string::npos;
    };
    const int got_count = scan_int_word(f, count_word, count);
    const int got_largest = s.inf_richards ? scan_int_word(f, largest_word, largest) : 1;
    if (got_count == 0 || got_largest == 0 || (got_count < 0 && !whole_number(count_word)) ||
        (got_largest < 0 && !whole_number(largest_word))) {
        location_read_failed(f, name, "count", 0);
        return;
    }
    // Each location takes at least two characters ("r c" and its separator), and
    // no location has more depths than a column has nodes.
    const bool too_deep = got_largest < 0 || (s.richards_node_count > 0 && largest > s.richards_node_count);
    if (got_count < 0 || count < 0 || largest < 0 || !count_fits(f, count, 2) || too_deep) {
        if (s.inf_richards) {
            std::printf("Error: file %s gives %s soil-moisture locations of at most %s depths\n",
                        name.c_str(), count_word.c_str(), largest_word.c_str());
            std::printf("  (counts of 0 or more: no more locations than its lines hold, no more "
                        "depths than a soil column has nodes, %d)\n",
                        s.richards_node_count);
        } else {
            std::printf("Error: file %s gives %s soil-moisture locations\n", name.c_str(),
                        count_word.c_str());
            std::printf("  (a count of 0 or more, no more locations than its lines hold)\n");
        }
        raise_printed_error();
        return;
    }
    if (s.inf_richards)
        read_richards_locations(s, f, name, count, largest);
    else
        read_plain_locations(s, f, name, count);
}

void read_overland_hotstart(model_state &s) {
    const int n = s.cell_count;
    // The previous depths are written here only from a hotstart or a starting
    // water surface; without either the constituent set-up makes them (zero).
    const bool written = s.ov_hotstart_file || s.project.init_elev_head_given;
    if (written && s.previous_depth.empty() && alloc_1d_double(s.previous_depth, n) != 0) {
        print_allocation_failure("previous_depth");
        raise_printed_error();
        return;
    }
    if (s.ov_hotstart_file) {
        echo_input(s, "reading overland hotstart map from file: %s\n", s.ov_init_depth_name.c_str());
        array_1d<double> unused_d;
        array_1d<int> unused_i;
        read_grid_map(s.ov_hotstart_file, s.ov_init_depth_name, grid_map_cells_double,
                      &s.grid_north, &s.grid_south, &s.grid_east, &s.grid_west, &s.header_rows,
                      &s.header_cols, s.cell_number_grid, s.depth, unused_d, unused_i,
                      s.grid_rows, s.grid_cols);
        if (error_record.fatal) return;
        for (int i = 1; i <= n; ++i) {
            if (!within_bounds(s.depth[i], bounds::depth)) {  // also NaN
                std::printf("Error: overland hotstart map %s gives depth %g at grid cell %d; "
                            "depths must be 0 or more, at most %g m\n",
                            s.ov_init_depth_name.c_str(), s.depth[i], i, bounds::depth.high);
                raise_printed_error();
                return;
            }
            s.previous_depth[i] = s.depth[i];
        }
    }
    if (s.project.init_elev_head_given) {
        const double surface = s.project.init_elev_head;
        for (int i = 1; i <= n; ++i) {
            if (s.elevation[i] < surface) s.depth[i] = surface - s.elevation[i];
            s.previous_depth[i] = s.depth[i];
        }
    }
}
