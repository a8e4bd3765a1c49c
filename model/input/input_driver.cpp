// The input-reading driver: reads every map, table and network of a run into the
// run state in one fixed order and stops at the first fatal error. Called once by
// run_model after the run files are opened; also the readers' echo of each input.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"
#include "model/core/run_options.h"

namespace {


// Uniform rain that falls alike on every cell: no gauges, radar, canopy, overland
// lakes, rain maps or long-term events (channel lakes are known only later).
bool shared_rain_possible(const model_state &s) {
    // Erosion (splash) and constituent transport (rain-borne mass) read the
    // per-cell rates, so they keep them.
    return s.uniform_rain_on && !s.gauge_file_on && !s.inverse_distance_on && !s.interception_on &&
           !s.overland_lake_on && !s.dis_rain_out && !s.long_term && !s.project.soil_erosion &&
           !s.project.ov_con_trans && !s.project.chan_con_trans && !s.nutrients_on;
}

// The bed slopes per cell serve the long-term evapotranspiration (the slope of
// each cell turns the sunshine) and erosion; the overland kernels take them from
// the elevations.
bool bed_slopes_needed(const model_state &s) {
    return s.long_term || s.project.soil_erosion || s.erosion.soil_erosion;
}

bool console_on(const model_state &s) { return !s.quiet && parallel_layout.process_rank == 0; }

// A fatal error, or a pending code that the reporter will make fatal.
bool fatal() {
    return error_record.fatal != 0 ||
           (error_record.code != 0 && !is_warning_code(error_record.code));
}

// Step 21: the work vector of the Richards and groundwater solvers, one entry
// more than the largest of the cell count, the Richards node count and the
// channel count. It runs after the channel set-up, so the channel count is known.
void allocate_solver_work(model_state &s) {
    if (!s.inf_richards && !s.groundwater_on && !channel_routing_on(s)) return;
    const int largest = std::max({s.cell_count, s.richards_node_count, s.channels.link_count});
    alloc_1d_double(s.solver_work, largest);
}

// Step 23: the nutrient module's aquatic environment, species sets and parameters.
void read_nutrient_inputs(model_state &s) {
    const nutrient_card_record *cards = s.project.nutrient_cards.get();
    read_aquatic_env_file(cards ? cards->aq_env_file : std::string(), s);
    // Any code the reader leaves, a warning too, stops the run here.
    if (error_record.code != 0 || fatal()) return;
    setup_overland_nutrients(s);
    if (fatal()) return;
    assign_grid_constituent_params(s);
    if (fatal()) return;
    allocate_constituent_arrays(10, s, s.cell_count, 1);
    if (fatal()) return;
    s.ov_con_trans_mode = 1;
    s.constituent_transport_on = 1;
}

}  // namespace

void echo_input(const model_state &s, const char *format, ...) {
    std::va_list args;
    char line[512];
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (std::strstr(line, "file") != nullptr) {
        last_input_echo = line;
        while (!last_input_echo.empty() && last_input_echo.back() == '\n') last_input_echo.pop_back();
    }
    if (console_on(s)) {
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
    }
    if (s.summary_file) {
        va_start(args, format);
        std::vfprintf(s.summary_file, format, args);
        va_end(args);
    }
}

void echo_console(const model_state &s, const char *format, ...) {
    if (!console_on(s)) return;
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void echo_file(std::FILE *file, const char *format, ...) {
    // An error that stops the run also goes to the console: the summary of a
    // failed run does not replace the earlier one, so it would be seen nowhere.
    const bool error = std::strncmp(format, "Error", 5) == 0;
    if (!file && !error) return;
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    if (file) std::vfprintf(file, format, args);
    if (error) std::vprintf(format, copy);
    va_end(copy);
    va_end(args);
}

void allocate_cell_arrays(model_state &s) {
    const int n = s.cell_count;
    alloc_1d_double(s.depth, n);
    // Shared uniform rain needs no per-cell rates; the rain step makes them when
    // the rates turn out to be needed after all.
    if (!shared_rain_possible(s)) alloc_1d_double(s.rain_rate, n);
    alloc_1d_int(s.right, n);
    alloc_1d_int(s.down, n);
    alloc_1d_int(s.left, n);
    alloc_1d_int(s.up, n);
    if (bed_slopes_needed(s)) {
        alloc_1d_double(s.x_slope, n);
        alloc_1d_double(s.y_slope, n);
    }
    // The arrays of the processes the options switch on.
    allocate_soil_cell_arrays(s);
    allocate_groundwater_cell_arrays(s);
    allocate_sacramento_cell_arrays(s);
    allocate_channel_cell_arrays(s);
    allocate_longterm_cell_arrays(s);
    allocate_exchange_cell_arrays(s);
    allocate_lake_cell_arrays(s);
}

void release_setup_arrays(model_state &s) {
    s.elevation_work.release();
    s.data_grid.release();
    if (!s.ov_con_trans_mode && !s.chan_con_trans) s.previous_depth.release();
    if (!explicit_overland_code(s) && !bed_slopes_needed(s)) {
        s.x_slope.release();
        s.y_slope.release();
    }
    // Uniform rain that every cell keeps as it falls: one rate for all cells.
    s.rain_rate_shared = shared_rain_possible(s) && s.cell_channel_lake.empty();
    if (s.rain_rate_shared) {
        s.shared_rain_rate = 0.0;
        for (int k = 1; k <= s.cell_count && !s.rain_rate.empty(); ++k)
            if (s.rain_rate[static_cast<std::size_t>(k)] != 0.0) s.rain_rate_shared = 0;
    }
    if (s.rain_rate_shared) {
        s.rain_rate.release();
        s.step_rain_rate.release();
    }
}

void read_input_data(model_state &s) {
    // Step 1: the cell-number grid and the "data" grid, each with a border.
    const long long rows = s.grid_rows, cols = s.grid_cols;
    // A grid that cannot be allocated stops the run here: reading the mask into
    // nothing would only add a misleading size message.
    if (alloc_2d_int(s.cell_number_grid, rows + 1, cols + 1) != 0) {
        print_allocation_failure("mask");
        raise_printed_error();
        return;
    }
    if (alloc_2d_int(s.data_grid, rows + 1, cols + 1) != 0) {
        print_allocation_failure("data");
        raise_printed_error();
        return;
    }

    // Steps 2 and 3; a mask that failed to read stops the run at once.
    read_watershed_mask(s);
    if (fatal()) return;
    alloc_1d_double(s.elevation, s.cell_count);
    alloc_1d_double(s.elevation_work, s.cell_count);

    // Steps 4 to 19, each followed by its test of the fatal flag.
    void (*const readers[])(model_state &) = {
        read_tile_drain_network, read_elevation,        allocate_cell_arrays,
        read_dike_map,           setup_wetlands,        read_overland_boundary,
        read_soil_parameters,    read_groundwater_inputs, open_sacramento_input,
        read_interception,       read_overland_lakes,   read_retention,
        read_roughness,          read_sediment_inputs,  read_contaminant_inputs,
        read_theta_locations,
    };
    for (auto reader : readers) {
        reader(s);
        if (fatal()) return;
    }
    // The input maps are read: each is held by its distinct values.
    for (cell_map *m : {&s.soil_ksat, &s.soil_capillary, &s.soil_porosity, &s.soil_pore_index,
                        &s.soil_residual, &s.initial_moisture, &s.moisture_state,
                        &s.aquifer_bottom, &s.gw_hycond, &s.gw_porosity, &s.roughness})
        if (!m->compress()) {
            print_allocation_failure("soil, aquifer and roughness maps");
            raise_printed_error();
            return;
        }

    // Step 20.
    if (s.chan_sediment_on) s.chan_sediment_setup = 1;

    // Step 22.
    read_overland_hotstart(s);
    if (fatal()) return;

    // Step 23.
    if (s.nutrients_on) {
        read_nutrient_inputs(s);
        if (error_record.code != 0 || fatal()) return;
    }

    // Step 24, then the solver work vector sized with the channel count.
    setup_channels(s);
    if (fatal()) return;
    allocate_solver_work(s);
    // Step 25, the point-output file, is made by the run set-up (create_point_outputs).
}
