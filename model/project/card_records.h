// The three card records of a run (project_params, grid_params, rain_params) and the
// nutrient card record: one field per project-file card, filled by read_project_file
// and turned into run settings by the run set-up.
#pragma once

#include <array>
#include <memory>
#include <string>

// A card that names a file: the name and whether the card was read.
struct name_card {
    std::string name;
    int given = 0;
};

// Where one nutrient initial value comes from.
struct nutrient_source {
    int kind = 0;        // 1 file, 2 mapping table, 3 uniform value
    double value = 0.0;  // the uniform value (kind 3)
    std::string file;    // the file name (kind 1)
};

// One nutrient output: switched on by its card, with the file name.
struct nutrient_output {
    int on = 0;
    std::string file;
};

// Number of nutrient species in the outputs and stream initial values, and of the
// overland initial values (the ten species plus DOC, FOC and dispersion).
inline constexpr int nutrient_species_count = 10;
inline constexpr int overland_nutrient_slots = 13;

// Created by the NUTRIENTS card; owned by project_params.
struct nutrient_card_record {
    std::array<nutrient_source, overland_nutrient_slots> overland_init{};
    std::array<nutrient_source, nutrient_species_count> stream_init{};
    std::array<nutrient_output, nutrient_species_count> overland_output{};
    std::array<nutrient_output, nutrient_species_count> stream_output{};
    std::array<nutrient_output, nutrient_species_count> hydrograph_output{};
    std::string aq_env_file;   // AQ_ENV
    std::string summary_file;  // NTR_SUM
};

// Infiltration schemes and channel routing modes as the switch cards store them.
enum infiltration_scheme_id : int {
    infiltration_none = 0,
    infiltration_green_ampt = 1,
    infiltration_redistribution = 2,
    infiltration_layered_soil = 3,
    infiltration_richards = 4,
};

enum channel_scheme_id : int {
    channel_none = 0,
    channel_preissmann = 1,
    channel_drain = 2,
    channel_explicit = 3,
    channel_mesh = 4,
    channel_backwater = 5,
};

// Grid, clock, outlet and scheme cards.
struct grid_params {
    int rows = 0;            // ROWS
    int cols = 0;            // COLS
    double gridsize = 0.0;   // GRIDSIZE (m)
    int tot_time = 0;        // TOT_TIME
    double timestep = 0.0;   // TIMESTEP (s)
    int start_year = 0, start_month = 0, start_day = 0;  // START_DATE
    int start_hour = 0, start_minute = 0;                // START_TIME
    int start_date_given = 0, start_time_given = 0;
    int outrow = 0, outcol = 0;  // OUTROW, OUTCOL
    double latitude = 32.0;      // LATITUDE
    double longitude = -90.0;    // LONGITUDE
    double gmt = 0.0;            // GMT
    int gmt_given = 0;
    int qout_cfs = 0;            // QOUT_CFS
    int quiet = 0;               // QUIET
    double outslope = 0.0;       // OUTSLOPE
    double hyd_freq = 0.0;       // HYD_FREQ (min)
    int map_freq = 0;            // MAP_FREQ (min)
    int map_type = 0;            // MAP_TYPE
    int infiltration_scheme = infiltration_none;
    int channel_scheme = channel_none;
    int end_year = 0, end_month = 0, end_day = 0, end_hour = 0, end_minute = 0;  // END_TIME
    int end_time_given = 0;
    double st_time_step = 0.0;   // ST_TIME_STEP (s)
    int flux_boundary_given = 0; // GW_FLUXBOUNDTABLE / GW_FLUX_BOUNDTABLE
    int project_file_missing = 0;
};

// Rainfall cards.
struct rain_params {
    int precip_kind = 0;           // 0 uniform (PRECIP_UNIF), 1 gauge file (PRECIP_FILE)
    int interpolation = 1;         // 0 RAIN_INV_DISTANCE, 1 RAIN_THIESSEN
    double rain_intensity = 0.0;   // RAIN_INTENSITY (mm/h)
    int rain_duration = 0;         // RAIN_DURATION (min)
    name_card precip_file;         // PRECIP_FILE
};

// Every other card: options, numbers and file names. A new record is empty and zero
// except the two calibration choices; read_project_file sets the card defaults.
struct project_params {
    project_params() = default;
    project_params(project_params &&) = default;
    project_params &operator=(project_params &&) = default;
    project_params(const project_params &) = delete;
    project_params &operator=(const project_params &) = delete;

    int units_flag = 0;  // UNITS

    // Flags set by switch cards.
    int include_channel_depth = 0, long_term = 0, et_calc_penman = 0, et_calc_deardorff = 0;
    int overbank_flow = 0, head_bound = 0, explic_backwater = 0, explic_hotstart = 0;
    int stream_loss = 0, strict_julian_date = 0, seasonal_rs = 0, no_cont_inf_redist = 0;
    int gw_simulation = 0, gw_assign_theta = 0, hxt = 0, plux_first = 0;
    int chan_con_trans = 0, ov_con_trans = 0;
    int xwindows = 0, xrain = 0, xdepth = 0, xinfdep = 0, xchan = 0, xbig = 0, xsurf = 0;
    int non_ortho_channels = 0, topo_index = 0, pause = 0, ov_boundary = 0, use_wells = 0;
    int stream_info = 0, super_quiet = 0, q7_fluxes = 0;
    int interception = 0;  // INTERCEPTION (also sets the given flags of the two maps)
    int zep_project = 0;   // the project file carries the pre-processor's word ZEP

    // Integer cards.
    int richards_iter_max = 0;
    int suppress_printing = 0;
    int gw_lsor_dir = 0;
    int x_freq = 0;
    int xwin_width = 0;
    int xwin_height = 0;
    int zarn_compression = 0;

    // Real cards (with a given flag where the card has one).
    double manning_n = 0.0;
    int manning_n_given = 0;
    double event_min_q = 0.0;
    double soil_moist_depth = 0.0;
    double top_layer_depth = 0.0;
    double bound_depth = 0.0;
    double k_river = 0.0;
    double m_river = 0.0;
    double m_lake = 0.0;
    int m_lake_given = 0;
    double sand_size = 0.0, silt_size = 0.0, clay_size = 0.0;
    double water_temp = 0.0;
    double sed_porosity = 0.0;
    double richards_weight = 0.0;
    double richards_dtheta_max = 0.0;
    double aquifer_delta_z = 0.0;  // the reader's default -999.9 means not given
    double retention = 0.0;           // uniform retention depth
    int retention_given = 0;
    double unif_area_reduction = 0.0;
    int unif_area_reduction_given = 0;
    double gw_timestep = 0.0;
    double gw_lsor_con = 0.0;
    double single_unsat_sat = 0.0;
    double gw_leakage_rate = 0.0;
    double gw_relax_coeff = 0.0;
    int gw_relax_coeff_given = 0;
    double gw_unif_porosity = 0.0;
    int gw_unif_porosity_given = 0;
    double gw_unif_hycond = 0.0;
    int gw_unif_hycond_given = 0;
    double chan_decay_coef = 0.0, chan_disp_coef = 0.0, init_chan_conc = 0.0;
    double ov_decay_coef = 0.0, ov_disp_coef = 0.0, ov_uptake_rate = 0.0, ov_mass_load = 0.0;
    double max_courant_number = 0.0;
    double first_order_chan_q = 0.0;
    double init_elev_head = 0.0;
    int init_elev_head_given = 0;

    // Cards with their own rules.
    int soil_erosion = 0;           // SOIL_EROSION given
    int soil_erosion_value = 0;     // the number after SOIL_EROSION
    int richards_k_option = 0;      // 1 arithmetic, 2 geometric
    int richards_c_option = 0;      // 1 Brooks, 2 Havercamp
    int richards_upper_option = 0;  // 0, 2 Green and Ampt, 3 average
    int overland_scheme = 0;        // OVERTYPE: 1 explicit, 2 ade, 3 ade-pc; 0 not given
    int hxt_event_num = 0;
    int hxt_event_given = 0;
    int flush_buffer = 0;           // FLUSH_BUFFER given
    int flush_interval = 0;         // its number
    int calib_comp_data = 1;        // 0 DAILY, 1 EVENT, 2 not given
    int calib_obj_func = 1;         // 0 RMSE, 1 HMLE, 2 not given
    int nutrients = 0;              // NUTRIENTS given
    std::unique_ptr<nutrient_card_record> nutrient_cards;

    // File-name cards.
    name_card watershed_mask, elevation, mapping_table, st_mapping_table, materials;
    name_card section_table, soil_type_map, soil_layer_input_file, initial_depth;
    name_card storage_capacity, interception_coeff, roughness, conductivity, capillary;
    name_card porosity, pore_index, residual_sat, albedo, vheight, tcoeff, canopy;
    name_card wilting_point;
    name_card hmet_file;  // HMET_SURFAWAYS, HMET_SAMSON and HMET_QAR share the name
    int hmet_surfaways = 0, hmet_samson = 0, hmet_qar = 0;
    name_card soil_erodability, crop_management, conservation_practice, sand_map, silt_map;
    name_card in_sed_loc, vol_sed_susp, max_sed_flux, net_sed_volume, outlet_sed_flux;
    name_card out_sed_loc, water_table, aquifer_bottom, in_theta_location, out_theta_location;
    name_card in_hyd_location, out_hyd_location, out_dep_location, out_con_location;
    name_card lake_output, links, nodes, channel_input, dis_profile, dis_profile_out;
    name_card wat_surf_profile, wat_surf_profile_out;
    name_card discharge, depth, inf_depth, surf_moist, rate_of_infil, dis_rain;
    name_card chan_depth, chan_discharge, chan_velocity, summary, outlet_hydro;
    name_card sig_outlet_hydro, zep_hydro, cell_hydro;
    name_card gw_fluxboundtable, gw_boundfile, gw_output, gw_porosity_map, gw_hycond_map;
    name_card gw_well_level, out_well_location;
    name_card plux, moist_to_plux, ksat_to_plux, rough_to_plux, poros_to_plux;
    name_card erosivity_to_plux, crop_fact_to_plux, net_erosion_to_plux, moist_from_plux;
    name_card ksat_from_plux, rough_from_plux, erosivity_from_plux, crop_fact_from_plux;
    name_card et_demand_from_plux;
    name_card chan_con_input, ov_point_source, ov_con_map, stream_cell;
    name_card dike_map;  // also EMBANKMENT
    name_card lowspot_file, write_chan_hotstart, read_chan_hotstart, write_ov_hotstart;
    name_card ov_init_depth;  // also READ_OV_HOSTART
    name_card overland_lake_map, overland_lake_file;
    name_card sacramento;  // also SACRAMENTO_PARS
    name_card storm_sewer, grid_pipe, flood_grid, flood_stream, lake_pump;
    name_card zarn_file, zarn_base_grid, zarn_base_stream, zarn_datasetgroup;
    name_card q7_input, ov_pump, fyssi, daily_output, q7_nodes_to_segs, q7_segment_map;
    name_card q7_segment_fluxes, calib_obs_data, pipe_flow, pipe_head, pipe_tile, optimize;
    name_card reten_depth;     // RETEN_DEPTH: the retention map (given also without a name)
    name_card moisture;        // MOISTURE: given flag set even without a name
    name_card area_reduction;  // AREA_REDUCTION: likewise
};

// Resets a record to its constructed state.
void init_project_params(project_params &p);
void init_grid_params(grid_params &g);
void init_rain_params(rain_params &r);
