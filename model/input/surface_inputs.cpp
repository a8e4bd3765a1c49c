// Steps 11 to 16 of read_input_data: groundwater inputs (boundary codes, static
// flux table, conductivity, porosity, output locations), the Sacramento file,
// interception, overland lakes, retention and roughness, each from a grid map, a
// table of the mapping-table file or a uniform card value, converted to m and s.
#include "model/input/surface_inputs.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/core/line_reader.h"
#include "model/input/input_readers.h"
#include "model/input/lake_file.h"
#include "model/input/wells.h"
#include "model/core/model_state.h"

namespace {

// Table ids of the mapping table.
constexpr int table_roughness = 1, table_interception = 2, table_retention = 3;
constexpr int table_groundwater = 17;

// A line into the summary file only (where the console line differs).
void summary_line(const model_state &s, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
void summary_line(const model_state &s, const char *format, ...) {
    if (!s.summary_file) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(s.summary_file, format, args);
    va_end(args);
}

void close_slot(std::FILE *&file) {
    if (file) std::fclose(file);
    file = nullptr;
}

// Per-cell doubles of a grid map (mode 1) into `target`.
void read_cell_doubles(model_state &s, std::FILE *file, const std::string &name,
                       array_1d<double> &target, const value_bounds *range = nullptr) {
    array_1d<double> unused_d;
    array_1d<int> unused_i;
    read_grid_map_within(file, name, grid_map_cells_double, &s.grid_north, &s.grid_south,
                         &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols,
                         s.cell_number_grid, target, unused_d, unused_i, s.grid_rows,
                         s.grid_cols, range);
}

// Per-cell integers of a grid map (mode 4) into `target`.
void read_cell_ints(model_state &s, std::FILE *file, const std::string &name,
                    array_1d<int> &target) {
    array_1d<double> unused_a, unused_b;
    read_grid_map(file, name, grid_map_cells_int, &s.grid_north, &s.grid_south, &s.grid_east,
                  &s.grid_west, &s.header_rows, &s.header_cols, s.cell_number_grid, unused_a,
                  unused_b, target, s.grid_rows, s.grid_cols);
}

bool failed() { return error_record.fatal != 0; }

// Cell number at (row, col) of the grid, 0 outside the grid or the mask.
int cell_at(const model_state &s, int row, int col) {
    if (row < 1 || col < 1 || row > s.grid_rows || col > s.grid_cols ||
        s.cell_number_grid.empty() || static_cast<std::size_t>(row) > s.cell_number_grid.rows() ||
        static_cast<std::size_t>(col) > s.cell_number_grid.cols())
        return 0;
    return s.cell_number_grid[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

// ---- groundwater ----

// The static flux table: a count, then row, column and flux (m3/day) per line.
void read_static_flux_table(model_state &s) {
    std::FILE *table = open_run_file(s.gw_fluxboundtable_name, "r");
    if (!table) {
        std::printf("Can't open static flux table file: %s\n", s.gw_fluxboundtable_name.c_str());
        raise_printed_error();
        return;
    }
    int count = 0;
    if (std::fscanf(table, "%d \n", &count) != 1 || count < 0) {
        std::printf("Error: the static flux table file %s does not begin with a count of "
                    "entries.\n",
                    s.gw_fluxboundtable_name.c_str());
        std::fclose(table);
        raise_printed_error();
        return;
    }
    s.gw_static_flux_count = count;
    const double area = s.cell_size * s.cell_size;
    for (int k = 1; k <= count; ++k) {
        int row = 0, col = 0;
        double flux = 0.0;
        if (std::fscanf(table, "%d %d %lf \n", &row, &col, &flux) != 3 || !std::isfinite(flux)) {
            std::printf("Error: entry %d of the static flux table file %s is missing or "
                        "unreadable.\n",
                        k, s.gw_fluxboundtable_name.c_str());
            std::fclose(table);
            raise_printed_error();
            return;
        }
        const int cell = cell_at(s, row, col);
        if (cell <= 0) {
            std::printf("Error: entry %d of the static flux table file %s lies at row %d, "
                        "column %d, outside the watershed.\n",
                        k, s.gw_fluxboundtable_name.c_str(), row, col);
            std::fclose(table);
            raise_printed_error();
            return;
        }
        s.gw_static_flux[static_cast<std::size_t>(cell)] = flux / 86400.0 / area;
    }
    std::fclose(table);
}

// The groundwater level output locations: a count, then row and column lines.
void read_gw_output_locations(model_state &s) {
    std::FILE *file = s.well_location_file;
    int count = 0;
    std::string word;
    const int got = scan_int_word(file, word, count);
    const bool whole_number = !word.empty() && word.find_first_not_of("+0123456789") == std::string::npos;
    if (got == 0 || (got < 0 && !whole_number) || count < 0) {
        std::printf("Error: the well location file %s does not begin with a count of "
                    "locations.\n",
                    s.out_well_location_name.c_str());
        raise_printed_error();
        return;
    }
    // Each location takes at least two characters ("r c" and its separator); a
    // count past the range of an int is more than any file holds.
    if (got < 0 || !count_fits(file, count, 2)) {
        std::printf("Error: the well location file %s gives %s locations, more than its lines "
                    "hold.\n",
                    s.out_well_location_name.c_str(), word.c_str());
        raise_printed_error();
        return;
    }
    if (alloc_1d_int(s.gw_output_rows, count) != 0 || alloc_1d_int(s.gw_output_cols, count) != 0) {
        print_allocation_failure("groundwater output locations");
        raise_printed_error();
        return;
    }
    for (int k = 1; k <= count; ++k) {
        int row = 0, col = 0;
        if (std::fscanf(file, "%d %d \n", &row, &col) != 2) {
            std::printf("Error: location %d of the well location file %s is missing or "
                        "unreadable.\n",
                        k, s.out_well_location_name.c_str());
            raise_printed_error();
            return;
        }
        if (cell_at(s, row, col) <= 0) {
            std::printf("Error: location %d of the well location file %s lies at row %d, "
                        "column %d, outside the watershed.\n",
                        k, s.out_well_location_name.c_str(), row, col);
            raise_printed_error();
            return;
        }
        s.gw_output_rows[static_cast<std::size_t>(k)] = row;
        s.gw_output_cols[static_cast<std::size_t>(k)] = col;
    }
    s.gw_output_location_count = count;
}

// A groundwater value that neither a map, the table nor a uniform card gives
// comes from each cell's Richards column, at its bottom node (the soil at the
// water table): `node_values` is the column array (KS or THETAS). False when no
// columns were set up.
bool take_from_richards_columns(model_state &s, const array_2d<double> &node_values,
                                array_1d<double> &out) {
    if (!s.inf_richards || node_values.empty() || s.richards_cell_nodes.empty() ||
        s.richards_cell_nodes.last() < static_cast<std::size_t>(s.cell_count))
        return false;
    for (int i = 1; i <= s.cell_count; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        const std::size_t node = static_cast<std::size_t>(std::max(s.richards_cell_nodes[k], 1));
        out[k] = node_values[k][std::min(node, node_values.cols())];
    }
    return true;
}

// Without Richards soil columns there is nothing to take a missing value from.
void report_missing_gw_value(const char *quantity, const char *map_card, const char *unif_card) {
    std::printf("Error: the groundwater %s is not given: use %s, %s or a GROUNDWATER table\n"
                "in the mapping-table file (no Richards soil columns were read to take it "
                "from).\n",
                quantity, map_card, unif_card);
    raise_printed_error();
}

}  // namespace

void allocate_groundwater_cell_arrays(model_state &s) {
    if (!s.groundwater_on) return;
    if (!allocate_groundwater_work(s)) {
        print_allocation_failure("groundwater step arrays");
        raise_printed_error();
    }
}

void read_groundwater_inputs(model_state &s) {
    if (!s.groundwater_on) return;
    const int n = s.cell_count;
    if (!ensure_cell_array(s.gw_boundary_code, n) || !ensure_cell_array(s.gw_hycond.full(), n) ||
        !ensure_cell_array(s.gw_porosity.full(), n)) {
        print_allocation_failure("groundwater cell arrays");
        raise_printed_error();
        return;
    }

    echo_console(s, "reading the groundwater boundary file: %s\n", s.gw_boundfile_name.c_str());
    summary_line(s, "reading groundwater boundary file: %s\n", s.gw_boundfile_name.c_str());
    read_cell_ints(s, s.gw_boundary_file, s.gw_boundfile_name, s.gw_boundary_code);
    close_slot(s.gw_boundary_file);
    if (failed()) return;

    const bool wells_from_table = s.project.use_wells != 0;
    if (!wells_from_table && s.mapping_table_on && s.table_present[table_slot::well_table]) {
        std::printf("Error: the mapping table %s holds a WELL_TABLE, but the project file has no\n"
                    "USE_WELLS card to switch the wells on: add USE_WELLS, or remove the table.\n",
                    s.mapping_table_name.c_str());
        raise_printed_error();
        return;
    }
    if (!wells_from_table) {
        s.gw_static_flux_count = 0;
        s.gw_dynamic_well_count = 0;
        for (int i = 1; i <= n; ++i) {
            const int code = s.gw_boundary_code[static_cast<std::size_t>(i)];
            if (code == 6) ++s.gw_static_flux_count;
            if (code == 3) ++s.gw_dynamic_well_count;
        }
        if (s.gw_static_flux_count > 0 || s.gw_fluxboundtable_on) {
            if (!ensure_cell_array(s.gw_static_flux, n)) {
                print_allocation_failure("groundwater static fluxes");
                raise_printed_error();
                return;
            }
            read_static_flux_table(s);
            if (failed()) return;
        }
        if (s.gw_dynamic_well_count > 0)
            std::printf("You can't have a dynamic wells in the groundwater boundary map. You "
                        "must use the\nWELL_TABLE table in the mapping table file\n");
    } else {
        s.gw_wells_from_table = 1;
        echo_input(s, "reading well map from the master table file\n");
        load_table_wells(s);
        if (failed()) return;
    }

    const bool table = s.mapping_table_on && s.table_present[table_slot::groundwater];
    bool table_read = false;
    if (s.gw_hycond_map_on) {
        echo_console(s, "reading ground water hydraulic conductivity map from file: %s\n",
                     s.gw_hycond_map_name.c_str());
        summary_line(s, "reading hyd. cond. map from file: %s\n", s.gw_hycond_map_name.c_str());
        read_cell_doubles(s, s.gw_hycond_file, s.gw_hycond_map_name, s.gw_hycond.full());
        close_slot(s.gw_hycond_file);
    } else if (table) {
        echo_console(s, "reading ground water hydraulic conductivity map from the master "
                        "table file\n");
        summary_line(s, "reading hyd. cond. map from the master table file\n");
        read_index_map_table(s, s.mapping_table_name, table_groundwater,
                             {&s.gw_hycond.full(), &s.gw_porosity.full(), nullptr, nullptr, nullptr,
                              nullptr});
        table_read = true;
    } else if (s.gw_unif_hycond_on) {
        for (int i = 1; i <= n; ++i) s.gw_hycond.full()[static_cast<std::size_t>(i)] = s.gw_unif_hycond;
    } else if (!take_from_richards_columns(s, s.richards_ks, s.gw_hycond.full())) {
        report_missing_gw_value("hydraulic conductivity", "GW_HYCOND_MAP", "GW_UNIF_HYCOND");
        return;
    }
    if (failed()) return;

    if (s.gw_porosity_map_on) {
        echo_input(s, "reading ground water porosity map from file: %s\n",
                   s.gw_porosity_map_name.c_str());
        read_cell_doubles(s, s.gw_porosity_file, s.gw_porosity_map_name, s.gw_porosity.full());
        close_slot(s.gw_porosity_file);
        if (failed()) return;
    } else if (table_read) {
        echo_console(s, "reading ground water porosity map from the master table file\n");
        summary_line(s, "reading porosity map from the master table file\n");
    } else if (s.gw_unif_porosity_on) {
        for (int i = 1; i <= n; ++i)
            s.gw_porosity.full()[static_cast<std::size_t>(i)] = s.gw_unif_porosity;
    } else if (!take_from_richards_columns(s, s.richards_theta_s, s.gw_porosity.full())) {
        report_missing_gw_value("porosity", "GW_POROSITY_MAP", "GW_UNIF_POROSITY");
        return;
    }

    for (int i = 1; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        s.gw_hycond.full()[k] = s.gw_hycond.full()[k] / 100.0 / 3600.0;  // cm/h to m/s
    }

    if (s.gw_well_level_on && s.well_location_file) read_gw_output_locations(s);
}

void open_sacramento_input(model_state &s) {
    if (!s.sacramento_on) return;
    std::FILE *file = open_run_file(s.sacramento_name, "r");
    if (!file) {
        std::printf("Cannot open Sacramento input parameter file: %s\n", s.sacramento_name.c_str());
        raise_printed_error();
        return;
    }
    read_sacramento_input(file, s.sacramento_name, s);
    std::fclose(file);
    if (failed()) return;
    s.sacramento_running_total = 0.0;
    // Start-of-run copies of the five contents: uztwc, uzfwc, lztwc, lzfpc, lzfsc.
    const sacramento_basin &b = s.sac_basin;
    s.sacramento_start_totals = {b.uztwc, b.uzfwc, b.lztwc, b.lzfpc, b.lzfsc};
}

void read_interception(model_state &s) {
    if (!s.interception_on) return;
    const int n = s.cell_count;
    if (!ensure_cell_array(s.interception_capacity, n) ||
        !ensure_cell_array(s.interception_coefficient, n)) {
        print_allocation_failure("interception cell arrays");
        raise_printed_error();
        return;
    }
    if (s.mapping_table_on && s.table_present[table_slot::interception]) {
        read_index_map_table(
            s, s.mapping_table_name, table_interception,
            {&s.interception_capacity, &s.interception_coefficient, nullptr, nullptr, nullptr,
             nullptr});
        if (failed()) return;
    }
    if (s.storage_capacity_file) {
        echo_input(s, "reading interception storage from file: %s\n",
                   s.storage_capacity_name.c_str());
        read_cell_doubles(s, s.storage_capacity_file, s.storage_capacity_name,
                          s.interception_capacity);
        close_slot(s.storage_capacity_file);
        if (failed()) return;
    } else {
        echo_input(s, "reading interception storage table and map from master table file\n");
    }
    if (s.interception_coeff_file) {
        echo_input(s, "reading interception coeff. from file: %s\n",
                   s.interception_coeff_name.c_str());
        read_cell_doubles(s, s.interception_coeff_file, s.interception_coeff_name,
                          s.interception_coefficient);
        close_slot(s.interception_coeff_file);
    } else {
        echo_input(s, "reading interception coeff. table and map from the master table file\n");
    }
}

void read_overland_lakes(model_state &s) {
    if (!s.overland_lake_on) return;
    const int n = s.cell_count;
    if (!ensure_cell_array(s.overland_lake_id, n) || !ensure_cell_array(s.overland_lake_id_copy, n)) {
        print_allocation_failure("overland lake cell arrays");
        raise_printed_error();
        return;
    }
    echo_input(s, "reading overland lake map from file: %s\n", s.overland_lake_map_name.c_str());
    read_cell_ints(s, s.overland_lake_map_file, s.overland_lake_map_name, s.overland_lake_id);
    close_slot(s.overland_lake_map_file);
    if (failed()) return;

    int count = 0;
    for (int i = 1; i <= n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        s.overland_lake_id_copy[k] = s.overland_lake_id[k];
        if (s.overland_lake_id[k] > count) count = s.overland_lake_id[k];
    }
    s.overland_lake_count = count;
    s.lakes.assign(static_cast<std::size_t>(count) + 1, lake_record{});
    s.lakes_are_overland = 1;
    read_lake_file(s.overland_lake_data_file, overland_lake_kind, count, s.lakes,
                   s.overland_lake_file_name);
    close_slot(s.overland_lake_data_file);
    if (failed()) return;

    for (lake_record &lake : s.lakes) {
        lake.cell_count = 0;
        lake.volume = 0.0;
    }
    const double area = s.cell_size * s.cell_size;
    for (int i = 1; i <= n; ++i) {
        const int lake = s.overland_lake_id[static_cast<std::size_t>(i)];
        if (lake <= 0) continue;
        lake_record &r = s.lakes[static_cast<std::size_t>(lake)];
        r.cell_count += 1;
        const double ground = s.elevation[static_cast<std::size_t>(i)];
        if (r.initial_elevation < ground) {
            std::printf("There is a lake cell in lake %d that is above the initial lake water "
                        "surface\n",
                        lake);
            std::printf("elevation in that lake, which is specified as %f.  This situation is "
                        "not\n",
                        r.initial_elevation);
            std::printf("physically realistic.  Check your lake map.  Program terminated.\n");
            std::printf("  (lake map %s, grid cell %d at %g; lake file %s)\n",
                        s.overland_lake_map_name.c_str(), i, ground, s.overland_lake_file_name.c_str());
            raise_printed_error();
            return;
        }
        r.volume += (r.initial_elevation - ground) * area;
    }
}

void read_retention(model_state &s) {
    const int n = s.cell_count;
    if (!s.project.reten_depth.given) {
        // One depth for every cell: no per-cell array (a run reads none).
        // The switch of the RETENTION card decides; the value handed over without
        // the card is not a depth.
        s.retention_depth.release();
        s.retention_uniform = true;
        s.retention_uniform_depth = s.retention_on ? s.retention_value / 1000.0 : 0.0;
        return;
    }
    s.retention_uniform = false;
    s.retention_uniform_depth = 0.0;
    if (!ensure_cell_array(s.retention_depth, n)) {
        print_allocation_failure("retention_depth");
        raise_printed_error();
        return;
    }
    if (s.retention_file) {
        echo_input(s, "reading retention storage map from file: %s\n", s.retention_name.c_str());
        read_cell_doubles(s, s.retention_file, s.retention_name, s.retention_depth);
        close_slot(s.retention_file);
    } else {
        echo_input(s, "reading retention storage table and map from master table file\n");
        if (s.mapping_table_on && s.table_present[table_slot::retention])
            read_index_map_table(s, s.mapping_table_name, table_retention,
                                 {&s.retention_depth, nullptr, nullptr, nullptr, nullptr,
                                  nullptr});
    }
    if (failed()) return;
    for (int i = 1; i <= n; ++i) s.retention_depth[static_cast<std::size_t>(i)] /= 1000.0;
}

void read_roughness(model_state &s) {
    const int n = s.cell_count;
    if (!ensure_cell_array(s.roughness.full(), n)) {
        print_allocation_failure("roughness");
        raise_printed_error();
        return;
    }
    if (!s.roughness_map_on) {
        if (!(s.manning_n > 0.0)) {
            std::printf("\nInvalid spatially uniform overland flow Manning n value=%lf\n",
                        s.manning_n);
            std::printf("KORVA exiting.\n");
            std::printf("  (card MANNING_N of the project file %s%s%s)\n", s.project_file_name.c_str(),
                        s.mapping_table_on ? "; mapping table file " : "",
                        s.mapping_table_on ? (s.mapping_table_name + " holds no ROUGHNESS table").c_str() : "");
            raise_printed_error();
            return;
        }
        for (int i = 1; i <= n; ++i) s.roughness.full()[static_cast<std::size_t>(i)] = s.manning_n;
        return;
    }
    if (s.roughness_file) {
        echo_input(s, "reading roughness map from file: %s\n", s.roughness_name.c_str());
        read_cell_doubles(s, s.roughness_file, s.roughness_name, s.roughness.full());
        close_slot(s.roughness_file);
    } else {
        echo_input(s, "reading roughness table and map from master table file\n");
        if (s.mapping_table_on && s.table_present[table_slot::roughness])
            read_index_map_table(s, s.mapping_table_name, table_roughness,
                                 {&s.roughness.full(), nullptr, nullptr, nullptr, nullptr, nullptr});
    }
    if (failed()) return;
    for (int i = 1; i <= n; ++i) {
        // Not above zero, or not a number: the overland flow would divide by it.
        if (!(s.roughness[static_cast<std::size_t>(i)] > 0.0)) {
            std::printf("Overland Manning n=0 at grid cell %d.  Program terminating.\n", i);
            std::printf("  (ROUGHNESS %s)\n", s.roughness_map_on && !s.roughness_name.empty()
                                                  ? s.roughness_name.c_str()
                                                  : s.mapping_table_name.c_str());
            raise_printed_error();
            return;
        }
        if (!within_bounds(s.roughness[static_cast<std::size_t>(i)], bounds::manning_n)) {
            std::printf("Error: the Manning n %g of grid cell %d (ROUGHNESS %s) lies outside "
                        "%s\n",
                        s.roughness[static_cast<std::size_t>(i)], i,
                        s.roughness_map_on && !s.roughness_name.empty()
                            ? s.roughness_name.c_str()
                            : s.mapping_table_name.c_str(),
                        bounds::manning_n.text);
            raise_printed_error();
            return;
        }
    }
}
