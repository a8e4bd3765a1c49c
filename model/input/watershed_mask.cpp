// The first readers of the input driver: the watershed mask with the grid-size
// checks and the numbering of the cells, the tile-drain pipe network, the
// elevations with the outlet cell, the dike map with its low spots, wetlands and
// the overland boundary table. Called by read_input_data, in that order.
#include "model/input/watershed_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "model/calibration/calibration_services.h"
#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/input/input_readers.h"
#include "model/core/model_state.h"
#include "model/core/run_options.h"

namespace {

bool console_on(const model_state &s) { return !s.quiet && parallel_layout.process_rank == 0; }

// Whole-grid map reads need no per-cell targets; per-cell reads no full grid.
struct unused_targets {
    array_1d<double> doubles1, doubles2;
    array_1d<int> ints;
};

// Grid-size check of one direction; prints the four lines and stops when it fails.
bool check_grid_size(const model_state &s, double extent, int count, const char *direction) {
    if (grid_size_agrees(s.cell_size, extent, count)) return true;
    // An error, printed in a quiet run too.
    if (parallel_layout.process_rank == 0) {
        std::printf("\nThe grid size specified in the project file: %7.4f m differs from\n",
                    s.cell_size);
        std::printf("the %s dimension of the raster grid cells %7.4f m as calculated\n",
                    direction, extent / count);
        std::printf("from the WATERSHED_MASK header.  Check your data to make sure they agree.\n");
        std::printf("KORVA terminating.\n\n");
    }
    raise_printed_error();
    return false;
}

// Cell of a pipe-network position; a position outside the grid or the mask is an
// error (0) with its message.
int pipe_cell(const model_state &s, int row, int col, const char *what, int number) {
    const int cell = cell_at(s.cell_number_grid, s.grid_rows, s.grid_cols, row, col);
    if (cell == 0) {
        std::printf("Error: %s %d of the pipe network lies at row %d col %d, which is outside\n"
                    "the watershed mask.  Check the grid-pipe file.\n",
                    what, number, row, col);
        raise_printed_error();
    }
    return cell;
}

// The position arrays of the pipe network hold every junction, link and node
// that its counts name.
bool pipe_positions_complete(const superlink_network &p) {
    const auto holds = [](const array_1d<int> &a, int n) {
        return n <= 0 || (!a.empty() && a.last() >= static_cast<std::size_t>(n));
    };
    const auto holds2 = [](const array_2d<int> &a, int nodes, int links) {
        return nodes <= 0 || links <= 0 ||
               (!a.empty() && a.rows() >= static_cast<std::size_t>(nodes) &&
                a.cols() >= static_cast<std::size_t>(links));
    };
    if (!holds(p.junction_kind, p.num_junctions) || !holds(p.junction_row, p.num_junctions) ||
        !holds(p.junction_col, p.num_junctions) || !holds(p.link_node_count, p.num_superlinks))
        return false;
    if (!holds2(p.node_row, p.max_slink_pipes, p.num_superlinks) ||
        !holds2(p.node_col, p.max_slink_pipes, p.num_superlinks))
        return false;
    for (int l = 1; l <= p.num_superlinks; ++l)
        if (p.link_node_count[l] < 0 || p.link_node_count[l] > p.max_slink_pipes) return false;
    return true;
}

bool pipe_outlets_lead_somewhere(const model_state &s);
void warn_of_pipes_taking_nothing(const model_state &s);

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

}  // namespace

bool grid_size_agrees(double dx, double extent, int count) {
    if (count <= 0) return false;
    // Truncation in double: a value beyond the int range must not be converted.
    const double given = std::trunc((dx + 0.001) * 10.0);
    const double from_map = std::trunc((extent / count + 0.001) * 10.0);
    return given == from_map;
}

int number_mask_cells(array_2d<int> &grid, int rows, int cols) {
    int n = 0;
    if (grid.empty()) return 0;
    for (int i = 0; i <= rows + 1 && static_cast<std::size_t>(i) <= grid.rows(); ++i)
        for (int j = 0; j <= cols + 1 && static_cast<std::size_t>(j) <= grid.cols(); ++j)
            if (grid[i][j] != 0) grid[i][j] = ++n;
    return n;
}

int cell_at(const array_2d<int> &grid, int rows, int cols, int row, int col) {
    if (grid.empty() || row < 1 || row > rows || col < 1 || col > cols) return 0;
    if (static_cast<std::size_t>(row) > grid.rows() || static_cast<std::size_t>(col) > grid.cols())
        return 0;
    return grid[row][col];
}

void read_watershed_mask(model_state &s) {
    echo_input(s, "reading watershed mask from file: %s\n", s.mask_name.c_str());
    unused_targets none;
    read_grid_map(s.mask_file, s.mask_name, grid_map_full_int, &s.grid_north, &s.grid_south,
                  &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols, s.cell_number_grid,
                  none.doubles1, none.doubles2, none.ints, s.grid_rows, s.grid_cols);
    // A mask that could not be read leaves nothing to number: the run stops.
    if (error_record.fatal) return;
    // A mask value is 0 (outside) or a positive integer (inside).
    for (int i = 1; i <= s.grid_rows && i <= s.header_rows; ++i) {
        for (int j = 1; j <= s.grid_cols && j <= s.header_cols; ++j) {
            const int v = cell_at(s.cell_number_grid, s.grid_rows, s.grid_cols, i, j);
            if (v >= 0) continue;
            std::printf("Error: map %s, row %d, column %d: the watershed mask value %d is "
                        "negative; only 0 and positive integers are allowed\n",
                        s.mask_name.c_str(), i, j, v);
            raise_printed_error();
            return;
        }
    }
    if (s.header_rows <= 0 || s.header_cols <= 0) {
        std::printf("\nThe WATERSHED_MASK header gives %d rows and %d columns.  Both must be\n"
                    "above zero.  KORVA terminating.\n\n",
                    s.header_rows, s.header_cols);
        raise_printed_error();
        return;
    }
    if (!check_grid_size(s, s.grid_north - s.grid_south, s.header_rows, "north-south")) return;
    if (!check_grid_size(s, s.grid_east - s.grid_west, s.header_cols, "east-west")) return;
    // Slopes, areas and volumes divide by the cell size.
    if (!(s.cell_size > 0.0)) {
        std::printf("\nThe grid size specified in the project file: %7.4f m must be above zero.\n"
                    "KORVA terminating.\n\n",
                    s.cell_size);
        raise_printed_error();
        return;
    }

    s.cell_count = number_mask_cells(s.cell_number_grid, s.grid_rows, s.grid_cols);
    echo_input(s, "number of grid cells in watershed: %d\n", s.cell_count);
    s.watershed_area = s.cell_size * s.cell_size * s.cell_count;
    setup_partitions(s.grid_cols, s.cell_count, s.grid_rows, s.cell_number_grid);
}

void read_tile_drain_network(model_state &s) {
    if (!s.storm_sewer_on) return;
    std::FILE *network = open_run_file(s.storm_sewer_name, "r");
    if (!network) {
        raise_open_error("tile drain grid pipe", s.storm_sewer_name, "STORM_SEWER");
        return;
    }
    std::FILE *grid_pipe = open_run_file(s.grid_pipe_name, "r");
    if (!grid_pipe) {
        std::fclose(network);
        raise_open_error("tile drain grid pipe", s.grid_pipe_name, "GRID_PIPE");
        return;
    }
    const int result = read_superlink_file(network, grid_pipe, s);
    std::fclose(network);
    std::fclose(grid_pipe);
    if (error_record.fatal || error_record.code != 0) return;
    if (result != 0) {
        std::printf("Error: the pipe network in files %s and %s could not be read.\n",
                    s.storm_sewer_name.c_str(), s.grid_pipe_name.c_str());
        raise_printed_error();
        return;
    }
    place_tile_drain_network(s);
}

void place_tile_drain_network(model_state &s) {
    superlink_network &p = s.superlinks;
    if (!pipe_positions_complete(p)) {
        std::printf("Error: the pipe network names more junctions, links or nodes than it\n"
                    "gives positions for.  Check the pipe network files.\n");
        raise_printed_error();
        return;
    }

    const int junctions = p.num_junctions, links = p.num_superlinks, nodes = p.max_slink_pipes;
    if (p.tile_drain) {
        alloc_2d_double(s.superlink_tile_flow, nodes + 2, links + 1, "superlink_tile_flow");
        alloc_1d_double(s.tile_cell_flow, s.cell_count);
    }
    if (console_on(s))
        std::printf("read superlink pipe file, %d junctions, %d links\n", junctions, links);
    if (junctions > 1000) {
        raise_error(99);
        return;
    }
    if (nodes > 50) {
        raise_error(100);
        return;
    }
    if (links > 1000) {
        raise_error(101);
        return;
    }

    alloc_1d_int(s.junction_cell, junctions);
    if (alloc_2d_int(s.superlink_node_gnum, nodes, links) != 0)
        print_allocation_failure("superlink_node_gnum");
    // Row 0 holds the super-junctions, rows 1.. the pipe nodes of each superlink.
    alloc_2d_double(s.flow_to_superlink, nodes, std::max(junctions, links), "flow_to_superlink");

    for (int k = 1; k <= junctions; ++k) {
        int row = p.junction_row[k], col = p.junction_col[k];
        if (p.junction_kind[k] == 999) {
            // This junction sits on node 1 of the superlink with its number.
            if (k > links || p.link_node_count[k] < 1) {
                std::printf("Error: super-junction %d of kind 999 has no superlink %d with a\n"
                            "first node.  Check the pipe network file.\n",
                            k, k);
                raise_printed_error();
                return;
            }
            row = p.node_row[1][k];
            col = p.node_col[1][k];
        }
        const int cell = pipe_cell(s, row, col, "super-junction", k);
        if (cell == 0) return;
        if (!s.junction_cell.empty()) s.junction_cell[k] = cell;
    }
    for (int l = 1; l <= links; ++l) {
        for (int n = 1; n <= p.link_node_count[l]; ++n) {
            const int cell = pipe_cell(s, p.node_row[n][l], p.node_col[n][l], "node of superlink", l);
            if (cell == 0) return;
            if (!s.superlink_node_gnum.empty()) s.superlink_node_gnum[n][l] = cell;
        }
    }
    if (!pipe_outlets_lead_somewhere(s)) return;
    warn_of_pipes_taking_nothing(s);
}

namespace {

// An outlet into the channels (kind 999) needs a channel network to take its
// water; without one the water would leave the pipes into nothing.
bool pipe_outlets_lead_somewhere(const model_state &s) {
    const superlink_network &p = s.superlinks;
    if (channel_routing_on(s)) return true;
    for (int k = 1; k <= p.num_junctions; ++k) {
        if (p.junction_kind[at(k)] != 999) continue;
        std::printf("Error: super-junction %d of the pipe network file %s is an outlet into the\n"
                    "channels (inlet type 999), but the project routes no channels.  Give the\n"
                    "channel network, or make the junction an outlet onto its cell (type 888).\n",
                    k, s.storm_sewer_name.c_str());
        raise_printed_error();
        return false;
    }
    return true;
}

// A network none of whose inlets can take surface water and none of whose tile
// lines reaches a grid-pipe cell is warned about, and so is a tile line that no
// grid-pipe connection reaches (tiles drain only through their grid-pipe cells).
void warn_of_pipes_taking_nothing(const model_state &s) {
    const superlink_network &p = s.superlinks;
    auto warn = [](const char *text) {
        std::printf("%s\n", text);
        count_warning(text);
    };
    bool inlet = false;
    for (int k = 1; k <= p.num_junctions && !inlet; ++k)
        inlet = p.junction_kind[at(k)] >= 1 && p.junction_kind[at(k)] <= 9;
    for (int l = 1; l <= p.num_superlinks && !inlet; ++l)
        for (int n = 2; n <= p.link_node_count[at(l)] && !inlet; ++n)
            inlet = p.inlet_type[at(n)][at(l)] >= 1 && p.inlet_type[at(n)][at(l)] <= 9;
    bool tile_reached = false;
    char note[200];
    for (int l = 1; l <= p.num_superlinks; ++l) {
        bool tile = false, reached = false;
        for (int n = 1; n <= p.link_node_count[at(l)]; ++n)
            tile = tile || p.superlink_pipe_conductivity[at(n)][at(l)] > 0.0;
        for (int c = 1; c <= p.gpi_cell_count && tile && !reached; ++c)
            for (int i = 1; i <= p.gpi_npipes[at(c)] && !reached; ++i)
                reached = p.gpi_link[at(c)][at(i)] == l;
        tile_reached = tile_reached || reached;
        if (!tile || reached) continue;
        std::snprintf(note, sizeof note,
                      "Warning: the tile drains of superlink %d take no water: no grid-pipe cell of %s "
                      "connects to them.",
                      l, s.grid_pipe_name.c_str());
        warn(note);
    }
    // Inlet type 0 only spills when surcharged: a network whose inlets are all
    // of that type (or that has neither inlets nor reachable tiles) takes no
    // surface water.
    bool type_0 = false;
    for (int k = 1; k <= p.num_junctions; ++k) type_0 = type_0 || p.junction_kind[at(k)] == 0;
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int n = 2; n <= p.link_node_count[at(l)]; ++n) type_0 = type_0 || p.inlet_type[at(n)][at(l)] == 0;
    if (!inlet && (type_0 || !tile_reached)) {
        std::snprintf(note, sizeof note,
                      "Warning: no inlet of the pipe network %s can take surface water: no junction or "
                      "inner node has an inlet type of 1 to 9 (type 0 only spills).",
                      s.storm_sewer_name.c_str());
        warn(note);
    }
}

}  // namespace

void read_elevation(model_state &s) {
    echo_input(s, "reading elevation map from file: %s\n", s.elevation_name.c_str());
    unused_targets none;
    read_grid_map_within(s.elevation_file, s.elevation_name, grid_map_cells_double,
                         &s.grid_north, &s.grid_south, &s.grid_east, &s.grid_west,
                         &s.header_rows, &s.header_cols, s.cell_number_grid, s.elevation,
                         none.doubles2, none.ints, s.grid_rows, s.grid_cols, &bounds::elevation);
    if (error_record.fatal) return;

    // The search covers the project's grid, whatever size a map header gives.
    s.outlet_cell = cell_at(s.cell_number_grid, s.grid_rows, s.grid_cols, s.outlet_row,
                            s.outlet_col);
    if (s.outlet_cell == 0 && !channel_routing_on(s)) {
        std::printf("\nThe outlet row and column you specified in the project file are not\n");
        std::printf("inside the watershed mask.  Check the outlet row and column again, and\n");
        std::printf("make sure they are correctly specified in the project file using the\n");
        std::printf("OUTROW and OUTCOL project file cards.  KORVA terminating.\n\n");
        raise_printed_error();
        return;
    }
    echo_input(s, "outlet is in grid cell: %d\n", s.outlet_cell);
}

void read_dike_map(model_state &s) {
    if (!s.dike_on) return;
    std::FILE *dikes = open_run_file(s.dike_name, "r");
    if (!dikes) {
        std::printf("Can't open input dike mask file named: %s\n", s.dike_name.c_str());
        raise_printed_error();
        return;
    }
    alloc_1d_int(s.dike_code, s.cell_count);
    echo_input(s, "reading overland flow dike map from file: %s\n", s.dike_name.c_str());
    unused_targets none;
    read_grid_map(dikes, s.dike_name, grid_map_cells_int, &s.grid_north, &s.grid_south,
                  &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols, s.cell_number_grid,
                  none.doubles1, none.doubles2, s.dike_code, s.grid_rows, s.grid_cols);
    std::fclose(dikes);
    if (error_record.fatal) return;

    if (!s.lowspot_on) return;
    std::FILE *spots = open_run_file(s.lowspot_name, "r");
    if (!spots) {
        std::printf("Can't open lowspot file named: %s\n", s.lowspot_name.c_str());
        raise_printed_error();
        return;
    }
    read_lowspot_file(spots, s.lowspot_name, s.lowspots, s.lowspot_count);
    std::fclose(spots);
}

void setup_wetlands(model_state &s) {
    if (!s.wetlands_on) return;
    alloc_1d_int(s.wetland_id, s.cell_count);
    if (!read_wetland_table(s, s.mapping_table_name, s.wetland_id, s.wetland_count, s.wetlands))
        return;
    if (error_record.fatal) return;
    echo_input(s, "Simulating wetlands\n");
}

void read_overland_boundary(model_state &s) {
    if (!s.overland_boundary_on) return;
    alloc_1d_double(s.ov_boundary_value1, s.cell_count);
    alloc_1d_double(s.ov_boundary_value2, s.cell_count);
    alloc_1d_int(s.ov_boundary_type, s.cell_count);
    if (!s.table_present[table_slot::overland_boundary]) {
        raise_error(84);
        return;
    }
    if (s.mapping_table_on) {
        const std::array<array_1d<double> *, 6> targets = {&s.ov_boundary_value1,
                                                           &s.ov_boundary_value2,
                                                           nullptr, nullptr, nullptr, nullptr};
        if (!read_index_map_table(s, s.mapping_table_name, 14, targets)) return;
        if (error_record.fatal) return;
    }
    if (s.ov_boundary_value1.empty() || s.ov_boundary_type.empty()) return;
    for (int i = 1; i <= s.cell_count; ++i) {
        const double v = s.ov_boundary_value1[i];
        // The type is the first value truncated; one that no int holds is refused.
        if (!(std::fabs(v) < 2147483647.0)) {
            std::printf("Error: the overland boundary type %f of grid cell %d is not a valid\n"
                        "type.  Check the OVERLAND_BOUNDARY table.\n",
                        v, i);
            raise_printed_error();
            return;
        }
        s.ov_boundary_type[i] = static_cast<int>(v);
    }
}
