// Soil and vegetation inputs (step 10 of the input driver): the soil parameters of
// the chosen infiltration scheme from maps or the mapping-table file, converted to
// metres and seconds, then area reduction, ET parameters with the initial
// moisture, the water table and the Richards soil set-up.
#include "model/input/soil_inputs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/core/soil_rows.h"
#include "model/input/input_readers.h"
#include "model/input/mapping_tables.h"
#include "model/input/soil_input_services.h"
#include "model/input/soil_tables.h"
#include "model/core/line_reader.h"

namespace {

// Unit conversions of the readers.
constexpr double cm_per_hour_to_m_per_s = 360000.0;
constexpr double cm_to_m = 100.0;
// Depth step from the water table to the aquifer bottom under Richards (m).
constexpr double richards_aquifer_step = 0.1;

bool fatal() { return error_record.fatal != 0; }

bool table_in_use(const model_state &s, int slot) {
    return s.mapping_table_on && s.table_present[static_cast<std::size_t>(slot)] != 0;
}

// A per-cell double map of the open file into target.
void read_cell_map(model_state &s, std::FILE *file, const std::string &name,
                   array_1d<double> &target, const value_bounds *range = nullptr) {
    array_1d<double> unused_doubles;
    array_1d<int> unused_ints;
    read_grid_map_within(file, name, grid_map_cells_double, &s.grid_north, &s.grid_south,
                         &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols,
                         s.cell_number_grid, target, unused_doubles, unused_ints, s.grid_rows,
                         s.grid_cols, range);
}

void close_slot(std::FILE *&slot) {
    if (slot) std::fclose(slot);
    slot = nullptr;
}

// One table of the mapping-table file into up to six per-cell targets.
bool read_table(model_state &s, int card, std::array<array_1d<double> *, 6> targets) {
    return read_index_map_table(s, s.mapping_table_name, card, targets) == 1 && !fatal();
}

void scale_cells(model_state &s, array_1d<double> &values, double divisor) {
    for (int i = 1; i <= s.cell_count; ++i) values[i] /= divisor;
}

// The soil row of a cell, or null when its index names no row of a soil table.
const soil_layer_record *soil_row(const model_state &s, int cell) {
    const int k = s.soil_index.empty() ? 0 : s.soil_index[cell];
    if (k < 1 || k >= soil_layer_rows || !s.soil_row_read[static_cast<std::size_t>(k)])
        return nullptr;
    return &s.soil_layers[static_cast<std::size_t>(k)];
}

int cell_soil_index(const model_state &s, int cell) {
    return s.soil_index.empty() ? 0 : s.soil_index[cell];
}

// The files that give the soil rows, after a refusal of a cell without one.
void name_soil_sources(const model_state &s) {
    if (s.mapping_table_on && !s.mapping_table_name.empty())
        std::printf("  (mapping table file %s)\n", s.mapping_table_name.c_str());
    if (!s.soil_layer_name.empty()) std::printf("  (soil table file %s)\n", s.soil_layer_name.c_str());
    if (!s.soil_type_name.empty()) std::printf("  (soil map %s)\n", s.soil_type_name.c_str());
}

// Every cell's soil index must name a row that a soil table filled.
bool check_soil_indexes(const model_state &s, const char *scheme) {
    for (int i = 1; i <= s.cell_count; ++i) {
        if (soil_row(s, i)) continue;
        std::printf("Error: grid cell %d has soil index %d, which is not a soil of the soil "
                    "table\n       (soil indexes 1 to %d as read) needed by %s.\n",
                    i, cell_soil_index(s, i), soil_layer_rows - 1, scheme);
        name_soil_sources(s);
        raise_printed_error();
        return false;
    }
    return true;
}

// A Green and Ampt parameter that no map or table gives is taken from layer 1 of
// the cell's soil row; a cell without such a row stops the run.
bool fill_from_soil_rows(model_state &s, array_1d<double> &target, int field, double divisor,
                         const char *what, const char *card) {
    for (int i = 1; i <= s.cell_count; ++i) {
        const soil_layer_record *row = soil_row(s, i);
        if (!row) {
            std::printf("Error: no %s for grid cell %d: the %s map and the "
                        "GREEN_AMPT_INFILTRATION table\n       are not given, and its soil "
                        "index %d is not a soil of the soil table.\n",
                        what, i, card, cell_soil_index(s, i));
            name_soil_sources(s);
            raise_printed_error();
            return false;
        }
        target[i] = row->values[static_cast<std::size_t>(field)] / divisor;
    }
    return true;
}

// Values that the Green and Ampt kernels cannot use stop the run with the cell named.
bool check_green_ampt_values(model_state &s) {
    for (int i = 1; i <= s.cell_count; ++i) {
        const double k = s.soil_ksat[i], p = s.soil_capillary[i], phi = s.soil_porosity[i];
        const char *what = nullptr;
        double value = 0.0;
        if (!(k >= 0.0)) what = "saturated hydraulic conductivity", value = k;
        else if (!(p >= 0.0)) what = "capillary head", value = p;
        else if (!(phi > 0.0 && phi <= 1.0)) what = "porosity", value = phi;
        if (!what) continue;
        std::printf("Error: the %s of grid cell %d is %g; it must be %s.\n", what, i, value,
                    what[0] == 'p' ? "above 0 and at most 1" : "a number of at least 0");
        const std::string &map = what[0] == 's'   ? s.conductivity_name
                                 : what[0] == 'c' ? s.capillary_name
                                                  : s.porosity_name;
        const bool table = map.empty() && s.mapping_table_on;
        std::printf("  (from %s %s)\n", !map.empty() ? "map" : table ? "mapping table file" : "soil table",
                    !map.empty() ? map.c_str()
                    : table      ? s.mapping_table_name.c_str()
                                 : s.soil_layer_name.c_str());
        raise_printed_error();
        return false;
    }
    return true;
}

// Every soil and plant value of every cell, from a map or the mapping table, lies
// within what its quantity can be; false after the refusal naming the cell, the
// value and where it came from.
bool soil_cells_bounded(model_state &s) {
    const value_bounds fraction{0.0, 1.0, "0 to 1"};
    const value_bounds ksat{0.0, bounds::conductivity_cm_h.high / 360000.0, "0 to 100000 cm/h"};
    const value_bounds head{0.0, bounds::depth_cm.high / 100.0, "0 to 100000 cm"};
    const value_bounds height{0.0, 200.0, "0 to 200 m"};
    const std::string no_map;
    struct checked {
        const char *what;
        double value;
        const value_bounds &range;
        const std::string &map;
    };
    for (int i = 1; i <= s.cell_count; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        auto at = [&](const cell_map &m) { return m.empty() || m.last() < k ? 0.0 : m[k]; };
        auto at1 = [&](const array_1d<double> &a) { return a.empty() || a.last() < k ? 0.0 : a[k]; };
        // Ks and the capillary head are m/s and m only for the Green and Ampt kernels.
        const bool ga = s.inf_green_ampt || s.inf_redist;
        const checked values[] = {
            {"initial soil moisture", at(s.initial_moisture), fraction, s.moisture_name},
            {"residual water content", at(s.soil_residual), fraction, s.residual_sat_name},
            {"saturated hydraulic conductivity", ga ? at(s.soil_ksat) : 0.0, ksat,
             s.conductivity_name},
            {"capillary head", ga ? at(s.soil_capillary) : 0.0, head, s.capillary_name},
            {"albedo", at1(s.albedo), fraction, s.albedo_name},
            {"wilting point", at1(s.wilting_point), fraction, s.wilting_point_name},
            {"vegetation height", at1(s.vegetation_height), height, s.vheight_name},
            {"transmission coefficient", at1(s.transmission_coeff), fraction, s.tcoeff_name},
            {"canopy resistance", at1(s.canopy_resistance), bounds::canopy_resistance, s.canopy_name},
            // The field capacity comes from the Green and Ampt table only.
            {"field capacity", at1(s.soil_sixth), fraction, no_map},
            // The pore index counts only for the redistribution, which needs it.
            {"pore distribution index", s.inf_redist ? at(s.soil_pore_index) : 1.0,
             bounds::pore_index, s.pore_index_name},
        };
        for (const checked &c : values) {
            if (within_bounds(c.value, c.range)) continue;
            const bool mapped = !c.map.empty();
            std::printf("Error: the %s of grid cell %d is %g, outside %s (from %s %s)\n", c.what,
                        i, c.value, c.range.text, mapped ? "map" : "mapping table file",
                        mapped ? c.map.c_str() : s.mapping_table_name.c_str());
            raise_printed_error();
            return false;
        }
    }
    return true;
}

void echo_table_or_map(model_state &s, std::FILE *file, const std::string &name,
                       array_1d<double> &target, const char *map_line, const char *table_line,
                       const value_bounds *range = nullptr) {
    if (file) {
        echo_input(s, map_line, name.c_str());
        read_cell_map(s, file, name, target, range);
    } else {
        echo_input(s, "%s", table_line);
    }
}

// Soil map into the "data" grid, then into the per-cell soil index in row order.
void read_soil_map(model_state &s) {
    echo_input(s, "reading soil map from file: %s\n", s.soil_type_name.c_str());
    array_1d<double> unused1, unused2;
    array_1d<int> unused_ints;
    read_grid_map(s.soil_type_file, s.soil_type_name, grid_map_full_int, &s.grid_north,
                  &s.grid_south, &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols,
                  s.data_grid, unused1, unused2, unused_ints, s.grid_rows, s.grid_cols);
    if (fatal()) return;
    for (int r = 1; r <= s.grid_rows; ++r)
        for (int c = 1; c <= s.grid_cols; ++c) {
            const int cell = s.cell_number_grid[r][c];
            if (cell > 0 && cell <= s.cell_count) s.soil_index[cell] = s.data_grid[r][c];
        }
}

bool alloc_cells(array_1d<double> &a, int n) { return alloc_1d_double(a, n) == 0; }
bool alloc_cells(array_1d<int> &a, int n) { return alloc_1d_int(a, n) == 0; }
bool alloc_cells(array_1d<unsigned char> &a, int n) { return alloc_1d_byte(a, n) == 0; }

// Reads one whitespace token of the soil table; false at its end.
struct token_reader {
    std::FILE *file;
    std::string line;
    bool next(std::string &token) {
        for (;;) {
            if (next_token(token, line)) return true;
            if (!read_line(line, file)) return false;
        }
    }
};

// A token that reads whole as a number.
bool token_double(const std::string &token, double &value) {
    char *end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (end == token.c_str() || *end != '\0' || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool token_int(const std::string &token, int &value) {
    char *end = nullptr;
    const long v = std::strtol(token.c_str(), &end, 10);
    if (end == token.c_str() || *end != '\0' || v < -2147483647L || v > 2147483647L) return false;
    value = static_cast<int>(v);
    return true;
}

}  // namespace

bool infiltration_scheme_on(const model_state &s) {
    return s.inf_green_ampt || s.inf_redist || s.inf_layered || s.inf_richards;
}

void allocate_soil_cell_arrays(model_state &s) {
    if (!infiltration_scheme_on(s)) return;
    const int n = s.cell_count;
    for (array_1d<double> *a :
         {&s.soil_ksat.full(), &s.soil_capillary.full(), &s.soil_porosity.full(),
          &s.soil_pore_index.full(), &s.soil_residual.full(),
          &s.albedo, &s.vegetation_height, &s.transmission_coeff,
          &s.canopy_resistance, &s.wilting_point, &s.initial_moisture.full(), &s.moisture_state.full(),
          &s.cumulative_infiltration, &s.previous_infiltration, &s.step_infiltration_depth,
          &s.deep_percolation})
        alloc_cells(*a, n);
    if (s.rate_of_infil_on) alloc_cells(s.infiltration_rate, n);  // read by its map only
    alloc_cells(s.soil_index, n);
    if (s.project.area_reduction.given) alloc_cells(s.area_reduction, n);
    if (s.inf_redist) {
        for (array_1d<double> *a :
             {&s.surface_moisture, &s.surface_moisture_prev, &s.redist_hiatus_depth,
              &s.root_zone_depth, &s.root_zone_water, &s.root_upper_water, &s.root_lower_water})
            alloc_cells(*a, n);
        alloc_cells(s.first_ponding_call, n);
        for (array_1d<unsigned char> *a :
             {&s.redist_state, &s.redist_marks, &s.saturated_cell, &s.surfacing_mark})
            alloc_cells(*a, n);
    }
    if (s.inf_richards) {
        alloc_cells(s.richards_cell_nodes, n);
        alloc_cells(s.richards_column_depth, n);
        alloc_cells(s.richards_mean_ks, n);
        alloc_cells(s.root_zone_moisture, n);
    }
    if (s.long_term) {
        alloc_cells(s.potential_et, n);
        alloc_cells(s.potential_et2, n);
        alloc_cells(s.frozen_ground_index, n);
    }
}

void read_soil_parameters(model_state &s) {
    if (!infiltration_scheme_on(s)) return;
    const project_params &p = s.project;

    read_area_reduction(s);
    if (fatal()) return;

    // The sixth value (the field capacity of the root zone) comes only from the
    // table; without it the array stays empty and its readers take 0.
    const bool ga_table = table_in_use(s, table_slot::green_ampt);
    if (ga_table && !alloc_cells(s.soil_sixth, s.cell_count)) {
        print_allocation_failure("soil_sixth");
        raise_printed_error();
        return;
    }
    if (ga_table &&
        !read_table(s, card_green_ampt_infiltration,
                    {&s.soil_ksat.full(), &s.soil_capillary.full(), &s.soil_porosity.full(),
                     &s.soil_pore_index.full(),
                     &s.soil_residual.full(), &s.soil_sixth}))
        return;

    if (!s.conductivity_file && s.soil_type_file) {
        read_soil_map(s);
        if (fatal()) return;
    }

    if (s.conductivity_on) {
        echo_table_or_map(s, s.conductivity_file, s.conductivity_name, s.soil_ksat.full(),
                          "reading saturated hydraulic conductivity map from file: %s\n",
                          "reading saturated hydraulic conductivity table and map from the "
                          "master table file\n");
        if (fatal()) return;
        scale_cells(s, s.soil_ksat.full(), cm_per_hour_to_m_per_s);
    }
    if (s.capillary_on) {
        echo_table_or_map(s, s.capillary_file, s.capillary_name, s.soil_capillary.full(),
                          "reading capillary drive map from file: %s\n",
                          "reading capillary drive map from the master table file\n");
        if (fatal()) return;
        scale_cells(s, s.soil_capillary.full(), cm_to_m);
    }
    if (s.porosity_on) {
        echo_table_or_map(s, s.porosity_file, s.porosity_name, s.soil_porosity.full(),
                          "reading porosity map from file: %s\n",
                          "reading porosity table and map from the master table file\n");
        if (fatal()) return;
    }

    if (s.inf_redist) {
        if (!p.pore_index.given && !ga_table) {
            std::fprintf(stderr,
                         "For infiltration redistribution, pore index map must be specified\n");
            std::fprintf(stderr, "Program stopped.\n");
            if (s.mapping_table_on)
                std::fprintf(stderr, "  (mapping table file %s holds no GREEN_AMPT_INFILTRATION table)\n",
                             s.mapping_table_name.c_str());
            raise_printed_error();
            return;
        }
        echo_table_or_map(s, s.pore_index_file, s.pore_index_name, s.soil_pore_index.full(),
                          "reading pore distribution index map from file: %s\n",
                          "reading pore distribution index map from master table file\n");
        if (fatal()) return;
        if (!p.residual_sat.given && !ga_table) {
            std::fprintf(stderr, "Program stopped.\n");
            raise_printed_error();
            return;
        }
        echo_table_or_map(s, s.residual_sat_file, s.residual_sat_name, s.soil_residual.full(),
                          "reading residual saturation map from file: %s\n",
                          "reading residual saturation map from the master table file\n");
        if (fatal()) return;
    }

    // The Green and Ampt kernels take a parameter without map or table from the
    // soil table by soil index.
    if (s.inf_green_ampt || s.inf_redist) {
        if (!s.conductivity_on &&
            !fill_from_soil_rows(s, s.soil_ksat.full(), layer_conductivity_field, cm_per_hour_to_m_per_s,
                                 "saturated hydraulic conductivity", "CONDUCTIVITY"))
            return;
        if (!s.capillary_on &&
            !fill_from_soil_rows(s, s.soil_capillary.full(), layer_capillary_field, cm_to_m,
                                 "capillary head", "CAPILLARY"))
            return;
        if (!s.porosity_on &&
            !fill_from_soil_rows(s, s.soil_porosity.full(), layer_porosity_field, 1.0, "porosity",
                                 "POROSITY"))
            return;
        if (!check_green_ampt_values(s)) return;
    }

    read_et_parameters(s);
    if (fatal()) return;
    read_water_table(s);
    if (fatal()) return;
    setup_richards_soil(s);
    if (fatal()) return;

    if (s.uniform_moisture_on && !s.inf_layered) {
        echo_console(s, "initializing uniform initial soil water content\n");
        std::vector<double> upper(soil_layer_rows, 0.0), lower(soil_layer_rows, 0.0);
        for (int k = 0; k < soil_layer_rows; ++k) {
            upper[static_cast<std::size_t>(k)] =
                s.soil_layers[static_cast<std::size_t>(k)].values[layer_porosity_field];
            lower[static_cast<std::size_t>(k)] =
                s.soil_layers[static_cast<std::size_t>(k)].values[richards_residual_field];
        }
        bound_initial_level(s.cell_count, s.initial_moisture.full(), upper.data(), lower.data(),
                            s.soil_index, s.soil_residual.full(), s.soil_porosity.full(),
                            s.porosity_on ? 1 : 0, s.uniform_moisture);
        for (int i = 1; i <= s.cell_count; ++i)
            s.moisture_state.full()[i] = s.inf_green_ampt
                                      ? std::max(0.0, s.soil_porosity[i] - s.initial_moisture[i])
                                      : s.initial_moisture.full()[i];
    }
    soil_cells_bounded(s);
}

void read_area_reduction(model_state &s) {
    if (!s.project.area_reduction.given) return;
    if (s.area_reduction.empty() && !alloc_cells(s.area_reduction, s.cell_count)) return;
    std::string name = s.project.area_reduction.name;
    if (!name.empty()) {
        std::FILE *file = open_run_file(name, "r");
        if (!file) {
            std::printf("Can't open area reduction file named: %s\n", name.c_str());
            raise_printed_error();
            return;
        }
        echo_input(s, "reading area reduction map from file: %s\n", name.c_str());
        read_cell_map(s, file, name, s.area_reduction);
        std::fclose(file);
        if (fatal()) return;
    } else if (table_in_use(s, table_slot::area_reduction)) {
        echo_input(s, "reading area reduction map from the mapping table file.\n");
        if (!read_table(s, card_area_reduction, {&s.area_reduction})) return;
    }
    for (int i = 1; i <= s.cell_count; ++i) s.area_reduction[i] = 1.0 - s.area_reduction[i];
}

void read_et_parameters(model_state &s) {
    if (table_in_use(s, table_slot::evapotranspiration) &&
        !read_table(s, card_evapotranspiration,
                    {&s.albedo, &s.wilting_point, &s.vegetation_height, &s.transmission_coeff,
                     &s.canopy_resistance, nullptr}))
        return;

    if (s.long_term) {
        if (s.albedo_on) {
            echo_table_or_map(s, s.albedo_file, s.albedo_name, s.albedo,
                              "reading albedo map from file: %s\n",
                              "reading albedo table and map from the master table file\n");
            if (fatal()) return;
        }
        if (s.et_penman) {
            if (s.vheight_on) {
                echo_table_or_map(s, s.vheight_file, s.vheight_name, s.vegetation_height,
                                  "reading vegetation-height map from file: %s\n",
                                  "reading vegetation-height table and map from the master "
                                  "table file\n");
                if (fatal()) return;
            }
            if (s.tcoeff_on) {
                echo_table_or_map(s, s.tcoeff_file, s.tcoeff_name, s.transmission_coeff,
                                  "reading transmission-coefficient map from file: %s\n",
                                  "reading transmission-coefficient table and map from the "
                                  "master table file\n");
                if (fatal()) return;
            }
            if (s.canopy_on) {
                if (s.canopy_file) {
                    echo_input(s, "reading canopy resistance map from file: %s\n",
                               s.canopy_name.c_str());
                    read_cell_map(s, s.canopy_file, s.canopy_name, s.canopy_resistance);
                    if (fatal()) return;
                } else {
                    echo_console(s, "reading canopy resistance table and map from the master "
                                    "table file\n");
                    if (s.summary_file)
                        std::fprintf(s.summary_file, "reading canopy resistance map from file\n");
                }
            }
            if (s.wilting_point_on) {
                echo_table_or_map(s, s.wilting_point_file, s.wilting_point_name, s.wilting_point,
                                  "reading wilting point map from file: %s\n",
                                  "reading wilting point table and map from the master table "
                                  "file\n");
                if (fatal()) return;
            }
        }
    }

    // Green and Ampt starts from the soil's initial water content: without a map or
    // a table of it every cell would silently start bone dry.
    if (s.inf_green_ampt && !s.moisture_file && !s.uniform_moisture_on &&
        !table_in_use(s, table_slot::initial_moisture)) {
        std::printf("Error: GREEN_AMPT needs the initial soil moisture: a MOISTURE map or the "
                    "initial-moisture table of the mapping table%s%s\n",
                    s.mapping_table_name.empty() ? "" : " ", s.mapping_table_name.c_str());
        raise_printed_error();
        return;
    }
    if (s.initial_moisture_on) {
        echo_table_or_map(s, s.moisture_file, s.moisture_name, s.initial_moisture.full(),
                          "reading soil moisture map from file: %s\n",
                          "reading soil moisture table and map from the master table file\n",
                          &bounds::moisture);
        if (fatal()) return;
    }
    if (table_in_use(s, table_slot::initial_moisture) &&
        !read_table(s, card_green_ampt_initial_moisture, {&s.initial_moisture.full()}))
        return;

    if (s.inf_redist)
        for (int i = 1; i <= s.cell_count; ++i) s.moisture_state.full()[i] = s.initial_moisture.full()[i];

    if (s.inf_green_ampt) {
        for (int i = 1; i <= s.cell_count; ++i) {
            double deficit = s.soil_porosity.full()[i] - s.initial_moisture.full()[i];
            if (deficit < 0.0) {
                std::printf("Warning: initial water content > phi at grid %d\n", i);
                count_warning();
                deficit = 0.0;
            }
            s.moisture_state.full()[i] = deficit;
        }
    }

    if (s.inf_layered) {
        if (!s.soil_layer_file) {
            std::printf("Error: multi-layer soil infiltration needs the three-layer soil table "
                        "of the\n       SOIL_LAYER_INPUT_FILE card, which is not open.\n");
            raise_printed_error();
            return;
        }
        read_soil_layer_table(s.soil_layer_file, s.soil_layer_name, s);
        if (fatal()) return;
        if (!check_soil_indexes(s, "multi-layer soil infiltration")) return;
        for (int i = 1; i <= s.cell_count; ++i) s.moisture_state.full()[i] = s.initial_moisture.full()[i];
    }
}

void read_water_table(model_state &s) {
    if (!s.water_table_on || !s.water_table_file) return;
    echo_input(s, "reading water table map from file: %s\n", s.water_table_name.c_str());
    if (!alloc_cells(s.water_table_elevation, s.cell_count)) return;
    read_cell_map(s, s.water_table_file, s.water_table_name, s.water_table_elevation,
                  &bounds::elevation);
    close_slot(s.water_table_file);
    if (fatal()) return;
    // The soil-aquifer exchange depth is left by the Richards columns only.
    if (s.inf_richards && !alloc_cells(s.unsat_exchange_depth, s.cell_count)) return;
    if (s.aquifer_bottom.empty() && !alloc_cells(s.aquifer_bottom.full(), s.cell_count)) return;
    if (s.groundwater_on && s.aquifer_bottom_file) {
        echo_input(s, "reading aquifer bottom map from file: %s\n", s.aquifer_bottom_name.c_str());
        read_cell_map(s, s.aquifer_bottom_file, s.aquifer_bottom_name, s.aquifer_bottom.full(),
                      &bounds::elevation);
        close_slot(s.aquifer_bottom_file);
        if (fatal()) return;
    }
    if (s.inf_richards)
        for (int i = 1; i <= s.cell_count; ++i)
            s.aquifer_bottom.full()[i] = s.water_table_elevation[i] - richards_aquifer_step;
}

namespace {

// Per-cell state and per-node work of the Richards step.
bool allocate_richards_step_state(model_state &s) {
    const int n = s.cell_count, nodes = s.richards_node_count;
    bool ok = true;
    for (array_1d<int> *a : {&s.richards_surface_state, &s.richards_no_column, &s.richards_et_flag})
        ok = ok && alloc_cells(*a, n);
    for (array_1d<double> *a : {&s.richards_et_rate, &s.richards_evaporation,
                                &s.richards_bottom_flux, &s.richards_clip,
                                &s.richards_last_substep})
        ok = ok && alloc_cells(*a, n);
    for (array_1d<double> *a : {&s.richards_profile_head, &s.richards_profile_theta,
                                &s.richards_sub, &s.richards_diag, &s.richards_super,
                                &s.richards_rhs, &s.richards_iterate, &s.richards_k,
                                &s.richards_inv_dz, &s.richards_inv_ddn,
                                &s.richards_kr_start, &s.richards_capacity_start,
                                &s.richards_power_base, &s.richards_power_exponent,
                                &s.richards_power, &s.richards_curve_exponent,
                                &s.richards_curve_sc, &s.richards_curve_junction})
        ok = ok && alloc_cells(*a, nodes);
    ok = ok && alloc_cells(s.richards_power_node, nodes);
    if (!ok) {
        std::printf("Error: the Richards step state (%d cells of %d nodes) cannot be allocated.\n",
                    n, nodes);
        raise_printed_error();
    }
    return ok;
}

}  // namespace

void setup_richards_soil(model_state &s) {
    if (!s.inf_richards) return;
    const int form = s.richards_c_option == 2 ? 2 : 1;
    echo_console(s, "Reading Soil Table");
    richards_table_counts counts;
    if (s.soil_layer_file) {
        read_soil_table(s.soil_layer_file, s.soil_layer_name, form, 0, s, counts);
    } else if (table_in_use(s, table_slot::richards_havercamp) || table_in_use(s, table_slot::richards_brooks)) {
        std::FILE *table = open_richards_soil_table(s.mapping_table_name, form);
        if (table) {
            read_soil_table(table, s.mapping_table_name, form, 1, s, counts);
            std::fclose(table);
        }
    }
    if (fatal()) return;
    if (!soil_values_bounded(s, s.soil_layer_file ? s.soil_layer_name : s.mapping_table_name,
                             form, counts.layer_count))
        return;
    std::printf("   Done\n");
    s.richards_soil_count = counts.soil_count;
    s.richards_layer_count = counts.layer_count;

    // The columns are sized by the deepest column of the cells' soils.
    if (!check_soil_indexes(s, "Richards infiltration")) return;
    int nodes = counts.node_count;
    for (int i = 1; i <= s.cell_count; ++i) {
        const soil_layer_record &row = s.soil_layers[static_cast<std::size_t>(s.soil_index[i])];
        nodes = std::max(nodes, richards_column_nodes(row));
    }
    if (nodes <= 0) {
        std::printf("Error: the Richards soil table gives no nodes for the soil columns "
                    "(node count 0).\n       Check the layer depths and node spacings of "
                    "the soil table.\n");
        raise_printed_error();
        return;
    }
    s.richards_node_count = nodes;

    struct named {
        array_2d<double> *array;
        const char *label;
    };
    const named columns[] = {
        {&s.richards_head, "PHEAD"},       {&s.richards_kr, "KHEAD"},
        {&s.richards_theta, "THETA"},      {&s.richards_capacity, "WATCAP"},
        {&s.richards_flux, "WATFLUX"},     {&s.richards_source, "SOURCE"},
        {&s.richards_dz, "DZ"},            {&s.richards_ks, "KS"},
        {&s.richards_theta_s, "THETAS"},   {&s.richards_theta_r, "THETAR"},
        {&s.richards_theta_wp, "THETAWP"}, {&s.richards_theta_fc, "THETAFC"},
        {&s.richards_lambda, "LAM"},       {&s.richards_bubbling, "BP"},
        {&s.richards_junction_theta, "thehac"}, {&s.richards_junction_head, "BChc"},
        {&s.havercamp_a, "AHAV"},          {&s.havercamp_b, "BHAV"},
        {&s.havercamp_alpha, "ALPHA"},     {&s.havercamp_beta, "BETA"},
        {&s.richards_head_start, "PHEAD_START"}, {&s.richards_theta_start, "THETA_START"},
        {&s.richards_theta_prev, "THETA_PREV"},
    };
    for (const named &c : columns) {
        const bool havercamp_only = c.array == &s.havercamp_a || c.array == &s.havercamp_b ||
                                    c.array == &s.havercamp_alpha || c.array == &s.havercamp_beta;
        if (havercamp_only && form != 2) continue;
        if (alloc_2d_double(*c.array, s.cell_count, nodes, c.label) != 0) {
            std::printf("Error: the Richards soil columns (%d cells of %d nodes) cannot be "
                        "allocated.\n",
                        s.cell_count, nodes);
            raise_printed_error();
            return;
        }
    }

    const double depth = s.soil_moist_depth_cm / 100.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        double d = depth;
        if (s.long_term && s.et_penman && !s.vegetation_height.empty())
            d = std::min(s.vegetation_height[i], depth);
        s.richards_column_depth[i] = d;
    }

    if (!allocate_richards_step_state(s)) return;

    echo_console(s, "Initialize Richards Params");
    initial_soil_water(s);

    // Every surface starts under the flux boundary; a cell whose ground lies
    // under the water table, or whose column has no node above its last, has no
    // column to solve. With the water table the last node holds its head.
    const bool table = s.water_table_on && !s.water_table_elevation.empty();
    s.richards_bottom_fixed = table ? 1 : 0;
    for (int i = 1; i <= s.cell_count; ++i) {
        s.richards_surface_state[i] = 1;
        s.richards_no_column[i] =
            s.richards_cell_nodes[i] < 2 || (table && s.elevation[i] <= s.water_table_elevation[i]);
    }
}

void read_soil_layer_table(std::FILE *file, const std::string &file_name, model_state &s) {
    if (!file) return;
    token_reader in{file, {}};
    std::string token;
    int entries = 0, unused = 0;
    if (!in.next(token) || !token_int(token, entries)) return;
    if (in.next(token)) token_int(token, unused);
    if (entries < 0) {
        std::printf("Error: the multi-layer soil table %s gives %d soils.\n", file_name.c_str(),
                    entries);
        raise_printed_error();
        return;
    }
    // Fields of the values of each layer line, in line order.
    static const int layer_fields[3][5] = {
        {layer_conductivity_field, layer_capillary_field, layer_porosity_field,
         layer_moisture_field, layer_depth_field},
        {layer_conductivity_field + 1, layer_capillary_field + 1, layer_porosity_field + 1,
         layer_moisture_field + 1, layer_depth_field + 1},
        {layer_conductivity_field + 2, layer_capillary_field + 2, layer_porosity_field + 2,
         layer_moisture_field + 2, -1},
    };
    for (int e = 1; e <= entries; ++e) {
        int k = 0;
        if (!in.next(token)) return;
        if (!token_int(token, k) || k < 1 || k >= soil_layer_rows) {
            std::printf("Error: entry %d of the multi-layer soil table %s has soil index %s;\n"
                        "       soil indexes run from 1 to %d.\n",
                        e, file_name.c_str(), token.c_str(), soil_layer_rows - 1);
            raise_printed_error();
            return;
        }
        // What each value of a layer line can be: Ks (cm/h), capillary head (cm),
        // porosity, initial moisture, layer depth (cm).
        static const value_bounds *const ranges[5] = {&bounds::conductivity_cm_h, &bounds::depth_cm,
                                                      &bounds::moisture, &bounds::moisture,
                                                      &bounds::depth_cm};
        soil_layer_record &row = s.soil_layers[static_cast<std::size_t>(k)];
        for (int layer = 0; layer < 3; ++layer)
            for (int v = 0; v < (layer < 2 ? 5 : 4); ++v) {
                if (!in.next(token)) return;
                double value = 0.0;
                if (!token_double(token, value)) continue;
                if (!within_bounds(value, *ranges[v])) {
                    std::printf("Error: soil %d of the multi-layer soil table %s: value %d of its "
                                "layer %d line, %g, lies outside %s.\n",
                                k, file_name.c_str(), v + 1, layer + 1, value, ranges[v]->text);
                    raise_printed_error();
                    return;
                }
                row.values[static_cast<std::size_t>(layer_fields[layer][v])] = value;
            }
        s.soil_row_read[static_cast<std::size_t>(k)] = 1;
    }
}

void bound_initial_level(int cells, array_1d<double> &out, const double *class_upper,
                         const double *class_lower, const array_1d<int> &soil_class,
                         const array_1d<double> &cell_lower, const array_1d<double> &cell_upper,
                         int mode, double value) {
    for (int i = 1; i <= cells; ++i) {
        out[i] = value;
        double lower = 0.0, upper = 0.0;
        if (mode == 1) {
            lower = cell_lower[i];
            upper = cell_upper[i];
        } else {
            const int k = soil_class.empty() ? 0 : soil_class[i];
            if (k < 0 || k >= soil_layer_rows) continue;
            lower = class_lower[k];
            upper = class_upper[k];
        }
        if (value < lower) out[i] = lower + 0.01;
        if (upper < out[i]) out[i] = upper - 0.01;
    }
}
