// The run driver: one simulation of one project file, from the creation of the run
// state through the set-up steps and the time loop to the one clean-up that every
// run ends with. Called by the program entry and by the calibration objective.
#include "model/project/run_model.h"

#include <array>
#include <initializer_list>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>

#include "model/calibration/calibration_services.h"
#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/overland_ade.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"
#include "model/output/link_node_series.h"
#include "model/output/point_output.h"
#include "model/output/output_writers.h"
#include "model/project/run_files.h"
#include "model/project/run_setup.h"
#include "model/project/mass_check.h"
#include "model/project/sediment_check.h"
#include "model/project/water_check.h"
#include "model/core/series.h"

namespace {

// The point-output file of the hydrograph locations (Q7 fluxes), made once the
// inputs are read.
void create_point_outputs(model_state &s) {
    if (s.hyd_location_count > 0 && s.q7_fluxes_on) create_point_output(s);
}

// The fixed sequence of one turn of the time loop. A process joins the run by its
// entry here; each piece decides for itself whether its clock is due.
const std::array<time_step_piece, 27> turn_pieces = {{
    {"advance_clock", advance_clock},
    {"read_precip_event", read_precip_event},
    {"init_event", init_event},
    {"read_radar_precip", read_radar_precip},
    {"apply_rainfall", apply_rainfall},
    {"apply_point_inflows", apply_point_inflows},
    {"step_infiltration", step_infiltration},
    {"step_longterm_hydromet", step_longterm_hydromet},
    {"step_sacramento", step_sacramento},
    {"step_evapotranspiration", step_evapotranspiration},
    {"step_overland_flow", step_overland_flow},
    {"step_overland_constituents", step_overland_constituents},
    {"step_superlink_coupling", step_superlink_coupling},
    {"step_overland_constituent_sources", step_overland_constituent_sources},
    {"step_overland_constituent_pools", step_overland_constituent_pools},
    {"step_groundwater", step_groundwater},
    {"update_overland_lakes", update_overland_lakes},
    {"step_channel_routing", step_channel_routing},
    {"track_peak_discharge", track_peak_discharge},
    {"step_channel_constituents", step_channel_constituents},
    {"route_channel_constituents", route_channel_constituents},
    {"print_progress", print_progress},
    {"check_simulation_end", check_simulation_end},
    {"exchange_plux_maps", exchange_plux_maps},
    {"finish_event", finish_event},
    {"write_time_series", write_time_series},
    {"write_maps", write_maps},
}};

// The test after a step: a pending code is reported; true while the run may go on.
bool step_passed() {
    if (error_record.code > 0) report_error();
    return error_record.fatal == 0;
}

// The outlet cell has no default: a card left out would put it at row or column 0.
// False after the message when OUTROW or OUTCOL is missing.
bool outlet_cards_given(const grid_params &g) {
    struct outlet_card {
        int value;
        const char *card, *what;
    };
    for (const outlet_card &o : {outlet_card{g.outrow, "OUTROW", "row"},
                                 outlet_card{g.outcol, "OUTCOL", "column"}}) {
        if (o.value != 0) continue;
        std::printf("Error: the project file has no card %s; the %s of the outlet cell is "
                    "required (1 or more).\n",
                    o.card, o.what);
        raise_printed_error();
        return false;
    }
    return true;
}

// Set-up steps 6 to 26 of a run; false when the run goes straight to the clean-up.
bool set_up_run(model_state &s, const std::string &project_file, bool has_record,
                double start_ms) {
    read_run_parameters(project_file, s);
    if (!step_passed() || !outlet_cards_given(s.grid)) return false;
    // read_run_parameters sets calibration_run from the OPTIMIZE card, which a
    // calibration project need not carry.
    // A run of a calibration series keeps the console for the series' progress
    // lines: its own lines go to its summary file (errors are still printed).
    if (has_record) {
        s.calibration_run = 1;
        calibration_run_quiet = s.quiet || s.grid.quiet;
        s.quiet = 1;
    }

    check_project_options(s);
    if (!step_passed()) return false;
    open_project_files(s);
    if (!step_passed()) return false;
    print_startup_info(s, project_file);
    setup_time_steps(s);
    if (!step_passed()) return false;

    // Inputs, connectivity, precipitation and initial conditions, each tested.
    void (*const tested_steps[])(model_state &) = {
        read_input_data,         create_point_outputs,     open_constituent_outputs,
        build_cell_connectivity, compute_cell_slopes,      setup_precipitation,
        check_initial_lake_levels, read_initial_channel_depths,
    };
    for (auto step : tested_steps) {
        step(s);
        if (!step_passed()) return false;
    }
    alloc_calibration_results(s);
    read_plux_exchange_maps(s);
    if (!step_passed()) return false;
    shift_time_series(s.now_days);
    if (!step_passed()) return false;
    compute_initial_overland_volume(s);
    convert_constituent_units(s);
    setup_start_time(s);
    if (!step_passed()) return false;
    // The series headers give the start that the set-up has just fixed.
    write_linknode_headers(s);
    if (!step_passed()) return false;
    release_setup_arrays(s);

    if (!s.quiet)
        std::printf("total time to init(s): %8.1lf\n", (processor_milliseconds() - start_ms) / 1000.0);
    if (error_record.code != 0) return false;

    if (!s.quiet) std::printf("Running....\n");
    if (s.summary_file) std::fprintf(s.summary_file, "Running.... \n\n");
    return true;
}

}  // namespace

double processor_milliseconds() {
    return static_cast<double>(std::clock()) * 1000.0 / static_cast<double>(CLOCKS_PER_SEC);
}

std::span<const time_step_piece> time_step_sequence() { return turn_pieces; }

bool run_time_loop(model_state &s, std::span<const time_step_piece> pieces) {
    water_check check;
    mass_check masses;
    sediment_check sediment;
    if (water_check_built) start_water_check(s, check);
    if (water_check_built) start_mass_check(s, masses);
    if (water_check_built) start_sediment_check(s, sediment);
    do {
        for (const time_step_piece &piece : pieces) {
            piece.run(s);
            if (!step_passed()) return false;
            if (water_check_built && !check_water_after(s, check, piece.name)) return false;
            if (water_check_built && !check_mass_after(s, masses, piece.name)) return false;
            if (water_check_built && !check_sediment_after(s, sediment, piece.name)) return false;
        }
        if (!output_files_written()) return false;  // a full disk ends the run
    } while (s.keep_running && error_record.code == 0);
    return error_record.code == 0;
}

void setup_time_steps(model_state &s) {
    grid_params &g = s.grid;

    if (g.st_time_step < 0.01) {
        g.st_time_step = g.timestep;
        s.time_step = g.timestep;
    } else {
        s.time_step = g.st_time_step < g.timestep ? g.st_time_step : g.timestep;
    }
    if (!(s.time_step > 0.001)) {
        raise_error(52);
        return;
    }
    s.base_time_step = s.time_step;
    s.grid_rows = g.rows;
    s.grid_cols = g.cols;
    s.total_time = g.tot_time;

    double hydrograph_minutes = g.hyd_freq;
    if (!(hydrograph_minutes > 0.0)) {
        error_record.code = 55;
        error_record.fatal = 0;
        report_error();
        hydrograph_minutes = 60.0;
    }
    s.hydrograph_interval_steps = output_interval_steps(hydrograph_minutes, s.time_step);

    double map_minutes = g.map_freq;
    if (g.map_freq == 0) {
        map_minutes = 360.0;
        if (!s.quiet && parallel_layout.process_rank == 0) {
            std::printf("Warning: Write solution time step not specified, defaulting to 6 hours.\n");
            count_warning();
        }
    }
    s.map_interval_steps = output_interval_steps(map_minutes, s.time_step);

    s.outlet_slope = g.outslope;
    s.outlet_row = g.outrow;
    s.outlet_col = g.outcol;
    if (g.outslope < 1e-9) {
        raise_error(56);
        return;
    }

    s.cell_size = g.gridsize;
    s.latitude = g.latitude;
    s.longitude = g.longitude;
    if (s.long_term && (g.latitude < 0.01 || g.longitude < 0.01)) {
        raise_error(57);
        return;
    }

    s.gmt_offset = g.gmt;
    s.gmt_given = g.gmt_given;
    s.discharge_in_cfs = g.qout_cfs;
    s.quiet_card = g.quiet;
    if (s.long_term && !g.gmt_given) {
        raise_error(58);
        return;
    }

    s.mask_rows = s.grid_rows;
    s.mask_cols = s.grid_cols;
}

void close_output_files(model_state &s) { close_run_files(s); }

void free_model_memory(model_state &s) {
    s.cell_number_grid.release();
    if (s.calib_results) {
        s.calib_results->location_peak = {};
        s.calib_results->location_volume = {};
    }
    if (s.point_out) {
        free_point_output(s.point_out);
        s.point_out = nullptr;
    }
    // The replacement list and every series list are emptied, so the next run in
    // this process reads its own as a separate process would.
    clear_run_lists();
}

void record_run_time(double seconds) {
    std::FILE *times = std::fopen("out_time.dat", "a");
    if (times) {
        std::fprintf(times, "total time (s): %8.2lf\n", seconds);
    } else {
        std::printf("Warning: unable to open out_time.dat to record the run time.\n");
    }
    if (!file_prefix_on) std::printf("Run time: %6.2lf(s) \n", seconds);
    std::fflush(stdout);
    if (times) std::fclose(times);
}

int run_model(const std::string &project_file, calibration_results *results) {
    const double start_ms = processor_milliseconds();

    std::unique_ptr<model_state> state(new (std::nothrow) model_state);
    if (!state) {
        std::printf("Error: unable to create the run state of the model.\n");
        error_record.code = 0;
        error_record.fatal = 1;
        record_run_time((processor_milliseconds() - start_ms) / 1000.0);
        return error_record.code;
    }
    model_state &s = *state;
    clear_error_state();
    if (results) {
        s.calibration_run = 1;
        s.calib_results = results;
    }
    s.project_file_name = project_file;

    bool completed = false;
    if (set_up_run(s, project_file, results != nullptr, start_ms) &&
        run_time_loop(s, time_step_sequence())) {
        write_run_summary(s);
        if (error_record.code > 0) report_error();
        completed = true;
    }
    print_ade_work(s);

    // The one clean-up of every run. Its results replace those of an earlier run
    // only when it ended normally; a run stopped before its end is a failed one.
    finish_linknode_headers(s);
    close_output_files(s);
    free_model_memory(s);
    std::fflush(stdout);
    std::fflush(stderr);
    state.reset();
    if (!completed) error_record.fatal = 1;
    if (!finish_output_files(output_scope::run, error_record.fatal == 0)) error_record.fatal = 1;
    record_run_time((processor_milliseconds() - start_ms) / 1000.0);
    return error_record.code;
}
