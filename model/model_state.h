// The run-state object: everything one simulation run needs. run_model creates it
// before anything else of the run and destroys it after all files are closed and
// all arrays are freed; every routine of the model receives it.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "model/arrays.h"
#include "model/card_records.h"
#include "model/channel/channel_network.h"

struct calibration_results;
struct point_output;

// Fifty doubles of one row of the three-layer soil table, indexed by soil number.
struct soil_layer_record {
    std::array<double, 50> values{};
};
inline constexpr int soil_layer_rows = 151;  // rows 0 to 150

// Soil-erosion switch, sediment counts and sediment file names.
struct erosion_record {
    int soil_erosion = 0;            // copied from the SOIL_EROSION card
    int size_class_count = 0;        // number of sediment size classes
    int third_count = 0;
    double value1 = 0.0, value2 = 0.0;
    std::array<int, 5> settings{};   // [0..2] switches of the sediment outputs
    std::array<std::string, 7> files{};
    std::array<int, 4> output_words{};
};

// One record of the precipitation table: a card code and a date and time.
struct precip_record {
    int card = 0, year = 0, month = 0, day = 0, hour = 0, minute = 0;
};
inline constexpr int precip_record_count = 2000;

inline constexpr int transport_table_count = 16;

struct model_state {
    model_state();
    ~model_state();
    model_state(const model_state &) = delete;
    model_state &operator=(const model_state &) = delete;

    // ---- working fields (0, none or empty unless a default is given) ----
    std::FILE *summary_file = nullptr;
    double time_step = 0.0, base_time_step = 0.0;  // model time step (s)
    int grid_rows = 0, grid_cols = 0;
    int total_time = 0;                            // TOT_TIME
    int hydrograph_interval_steps = 0, map_interval_steps = 0;
    int outlet_row = 0, outlet_col = 0;
    double outlet_slope = 0.0;
    double cell_size = 0.0;  // m
    double grid_north = 0.0, grid_south = 0.0, grid_east = 0.0, grid_west = 0.0;
    int keep_running = 0;
    int long_term = 0;
    int discharge_in_cfs = 0, quiet_card = 0;  // QOUT_CFS and QUIET
    int calibration_run = 0;
    double latitude = 0.0, longitude = 0.0, gmt_offset = 0.0;
    int gmt_given = 0;
    double time_tolerance_days = 0.0, time_step_days = 0.0, now_days = 0.0, start_days = 0.0;
    int binary_datasets = 0;
    int zarn_mode = 0;  // always 0: the ZARN format is not available

    // Working defaults that are not zero.
    int overland_scheme = 1;                     // 1 explicit, 2 and 3 alternating direction
    double cubic_feet_per_cubic_metre = 35.314667;
    double channel_constant = 998200.0;          // used by the channel routing step
    int overland_routing_switch = 1;             // read by step_overland_flow
    int overland_constituent_step_switch = 1;    // read by the overland constituent steps
    int event_summary_switch = 1;                // read by write_event_summary
    int event_precip_switch = 1;                 // read by the event precipitation pieces
    int channel_setup_setting = 2;               // read by setup_channels
    int channel_routing_switch = 1;              // read by step_channel_routing
    int overland_constituent_switch = 1;         // read by step_overland_constituents
    std::string constituent_output_name = "con_output";
    int gw_solver_switch = 1;
    double gw_relax_coeff = 1.0;                 // GW_RELAX_COEFF replaces it with groundwater on
    double channel_bed_thickness = 1.0;          // M_RIVER replaces it for explicit channels
    int contaminant_input_index = -1;
    int flush_interval = 5000;                   // FLUSH_BUFFER replaces it
    double rain_param_a = 80.0, rain_param_b = 27.0;
    int run_summary_switch = 1;                  // shown in the end-of-run report

    // ---- member tables ----
    // Per-constituent contaminant transport tables.
    std::array<double_table, transport_table_count> transport_tables;

    // Per-constituent overland mass-balance tables (index = constituent number).
    checked_array<double> precip_conc{"precip_conc"};
    checked_array<double> OV_MASS_INIT{"OV_MASS_INIT"}, OV_MASS_FINAL{"OV_MASS_FINAL"};
    checked_array<double> OV_MASS_OUT{"OV_MASS_OUT"}, OV_QLAT_MASS{"OV_QLAT_MASS"};
    checked_array<double> OV_MASS_DECAY{"OV_MASS_DECAY"}, OV_POINT_MASS{"OV_POINT_MASS"};
    checked_array<double> OV_EXFIL_MASS{"OV_EXFIL_MASS"}, OV_PRECIP_MASS{"OV_PRECIP_MASS"};
    checked_array<double> OV_INFIL_MASS{"OV_INFIL_MASS"}, OV_MASS_ERROR{"OV_MASS_ERROR"};
    checked_array<double> OV_LAND_MASS{"OV_LAND_MASS"}, OV_LAND_MASS_INIT{"OV_LAND_MASS_INIT"};
    checked_array<double> OV_LAND_MASS_FINAL{"OV_LAND_MASS_FINAL"}, OV_UPTAKE_MASS{"OV_UPTAKE_MASS"};
    checked_array<double> event_ov_mass_init{"event_ov_mass_init"};
    checked_array<double> event_ov_decay_mass{"event_ov_decay_mass"};
    checked_array<double> event_ov_uptake_mass{"event_ov_uptake_mass"};
    checked_array<double> event_ov_infil_mass{"event_ov_infil_mass"};
    checked_array<double> event_ov_exfil_mass{"event_ov_exfil_mass"};
    checked_array<double> event_ov_qlat_mass{"event_ov_qlat_mass"};
    checked_array<double> event_ov_mass_out{"event_ov_mass_out"};
    checked_array<double> event_ov_point_mass{"event_ov_point_mass"};
    checked_array<double> event_ov_precip_mass{"event_ov_precip_mass"};
    checked_array<double> event_ov_land_mass{"event_ov_land_mass"};
    checked_array<double> ov_out_dmt{"ov_out_dmt"}, ov_point_dmt{"ov_point_dmt"};
    checked_array<double> ov_decay_dmt{"ov_decay_dmt"}, ov_infil_dmt{"ov_infil_dmt"};
    checked_array<double> ov_qlat_dmt{"ov_qlat_dmt"}, ov_uptake_dmt{"ov_uptake_dmt"};
    checked_array<double> ov_precip_dmt{"ov_precip_dmt"};
    checked_array<double> ov_exit_mass{"ov_exit_mass"};
    checked_array<double> GLOBAL_MASS_CON_ERROR{"GLOBAL_MASS_CON_ERROR"};
    checked_array<double> GLOBAL_MASS_DECAY{"GLOBAL_MASS_DECAY"};
    checked_array<double> GLOBAL_MASS_INIT{"GLOBAL_MASS_INIT"};
    checked_array<double> GLOBAL_MASS_FINAL{"GLOBAL_MASS_FINAL"};
    checked_array<double> GLOBAL_POINT_SOURCE{"GLOBAL_POINT_SOURCE"};
    checked_array<double> GLOBAL_MASS_OUT{"GLOBAL_MASS_OUT"};
    checked_array<double> GLOBAL_GW_MASS{"GLOBAL_GW_MASS"};
    checked_array<double> GLOBAL_PRECIP_MASS{""};  // the one member without a name
    checked_array<int> constituent_type{"constituent_type"};  // integers: kind of each constituent

    // Precipitation card codes with their dates and times.
    std::array<precip_record, precip_record_count> precip_records{};

    erosion_record erosion;

    // ---- card records, filled by read_project_file ----
    project_params project;
    grid_params grid;
    rain_params rain;

    // ---- run set-up and run files ----
    // (fields derived by read_run_parameters and the file slots of open_project_files)

    // ---- end of run set-up and run files ----

    // Three-layer soil table rows, by soil index.
    std::array<soil_layer_record, soil_layer_rows> soil_layers{};

    // Channel and pipe networks.
    channel_network channels;
    superlink_network superlinks;

    // ---- tail fields ----
    int mask_rows = 0, mask_cols = 0;
    int cell_count = 0;                // N, the number of active cells
    array_2d<int> cell_number_grid;    // [0..rows+1][0..cols+1]: cell number 1..N, else 0
    std::string project_file_name;
    int nutrients_on = 0;
    int quiet = 0;                     // console output suppressed (SUPER_QUIET)
    point_output *point_out = nullptr;
    calibration_results *calib_results = nullptr;  // given by the calibration objective
    // A record created by alloc_calibration_results for a plain OPTIMIZE run.
    std::unique_ptr<calibration_results> own_calib_results;
};

// Zeroes an erosion record (the model_state constructor then sets its fifth integer).
void init_location_record(erosion_record &e);
// Zeroes one soil table row.
void init_soil_layer_record(soil_layer_record &r);
