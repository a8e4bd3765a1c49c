// Run set-up: derives the working settings of a run from its card records, checks
// the combinations of options in a fixed order, and writes the start-up header.
// Called by run_model between reading the project file and opening the run files.
#include "model/project/run_setup.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "model/core/calendar.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"
#include "model/project/project_file.h"
#include "model/project/run_files.h"

int pause_on_exit = 0;

namespace {

bool console_on(const model_state &s) { return !s.quiet && parallel_layout.process_rank == 0; }

// Steps 8 to 11: flood, boundary, flush and the plain copies.
void copy_plain_settings(model_state &s) {
    const project_params &p = s.project;
    s.flood_grid_on = p.flood_grid.given;
    s.flood_grid_name = p.flood_grid.name;
    s.flood_stream_on = p.flood_stream.given;
    s.flood_stream_name = p.flood_stream.name;
    s.overland_boundary_on = p.ov_boundary;
    if (p.flush_buffer) {
        s.flush_on = 1;
        // A flush interval of 0 steps would divide by zero where it is used.
        if (p.flush_interval > 0) s.flush_interval = p.flush_interval;
    }
}

void copy_switches(model_state &s) {
    const project_params &p = s.project;
    // Either interception map switches interception on, as the INTERCEPTION card does.
    s.interception_on = p.interception || p.storage_capacity.given || p.interception_coeff.given;
    s.dike_on = p.dike_map.given;
    s.dike_name = p.dike_map.name;
    s.lowspot_on = p.lowspot_file.given;
    s.lowspot_name = p.lowspot_file.name;
    s.ov_con_trans_mode = p.ov_con_trans;
    s.ov_con_trans_mode1 = p.ov_con_trans == 1 ? 1 : 0;
    s.ov_decay_coef = p.ov_decay_coef;
    s.ov_disp_coef = p.ov_disp_coef;
    s.ov_mass_load = p.ov_mass_load;
    s.ov_uptake_rate = p.ov_uptake_rate;
    s.manning_n = p.manning_n;
    s.retention_on = p.retention_given;
    s.overland_scheme = p.overland_scheme;  // 0 without OVERTYPE: the ADE scheme
    s.overland_lake_on = p.overland_lake_map.given;
    s.overland_lake_map_name = p.overland_lake_map.name;
    s.overland_lake_file_name = p.overland_lake_file.name;
    s.storm_sewer_on = p.storm_sewer.given;
    s.storm_sewer_name = p.storm_sewer.name;
    s.grid_pipe_name = p.grid_pipe.name;
    s.long_term = p.long_term;
    s.strict_julian_date = p.strict_julian_date;
    s.hmet_surfaways = p.hmet_surfaways;
    s.hmet_samson = p.hmet_samson;
    s.hmet_qar = p.hmet_qar;
    if (p.hmet_surfaways || p.hmet_samson || p.hmet_qar) s.hydromet_name = p.hmet_file.name;
    s.et_penman = p.et_calc_penman;
    s.et_deardorff = p.et_calc_deardorff;
    s.seasonal_rs = p.seasonal_rs;
    s.erosion.soil_erosion = p.soil_erosion;
    s.chan_depth_out = p.chan_depth.given;
    s.chan_discharge_out = p.chan_discharge.given;
    s.chan_velocity_out = p.chan_velocity.given;
    s.max_courant_number = p.max_courant_number;
}

// Step 17: channel routing switches and the settings of the explicit scheme.
void derive_channel_settings(model_state &s) {
    const project_params &p = s.project;
    s.chan_explicit = s.chan_implicit = s.chan_drain_init = s.chan_backwater_init = 0;
    s.chan_mesh = s.chan_switch_a = s.chan_switch_b = 0;
    switch (s.grid.channel_scheme) {
    case channel_explicit: s.chan_explicit = 1; break;
    case channel_drain:
        s.chan_implicit = 1;
        s.chan_drain_init = 1;
        break;
    case channel_backwater: s.chan_implicit = 1; break;
    case channel_mesh: s.chan_mesh = 1; break;
    default: break;  // Preissmann and none: no channel routing
    }
    if (!s.chan_explicit) return;
    s.overbank_flow = p.overbank_flow;
    s.non_ortho_channels = p.non_ortho_channels;
    if (p.non_ortho_channels) s.stream_cell_name = p.stream_cell.name;
    s.head_bound = p.head_bound;
    s.bound_depth = p.bound_depth;
    s.k_river = p.k_river;
    s.channel_bed_thickness = p.m_river;
    s.m_lake_on = p.m_lake_given;
    s.m_lake = p.m_lake;
    s.explic_backwater = p.explic_backwater;
    s.explic_hotstart = p.explic_hotstart;
    s.stream_loss = p.stream_loss;
    s.write_chan_hotstart_on = p.write_chan_hotstart.given;
    s.write_chan_hotstart_name = p.write_chan_hotstart.name;
    s.read_chan_hotstart_on = p.read_chan_hotstart.given;
    s.read_chan_hotstart_name = p.read_chan_hotstart.name;
    s.first_order_chan_q = p.first_order_chan_q;
    s.chan_decay_coef = p.chan_decay_coef;
    s.chan_disp_coef = p.chan_disp_coef;
    s.init_chan_conc = p.init_chan_conc;
    s.out_con_location_on = p.out_con_location.given;
    s.chan_con_trans = p.chan_con_trans;
}

// Step 18: the infiltration scheme, one-hot, and the Richards settings.
void derive_infiltration(model_state &s) {
    const project_params &p = s.project;
    s.inf_green_ampt = s.inf_redist = s.inf_layered = s.inf_richards = 0;
    s.inf_cont_redist = 0;
    switch (s.grid.infiltration_scheme) {
    case infiltration_green_ampt: s.inf_green_ampt = 1; break;
    case infiltration_redistribution:
        s.inf_redist = 1;
        s.inf_cont_redist = p.no_cont_inf_redist ? 0 : 1;
        break;
    case infiltration_layered_soil: s.inf_layered = 1; break;
    case infiltration_richards: s.inf_richards = 1; break;
    default: break;
    }
    s.initial_moisture_on = (p.moisture.given || p.mapping_table.given) ? 1 : 0;
    s.richards_iter_max = p.richards_iter_max;
    s.richards_weight = p.richards_weight;
    s.richards_dtheta_max = p.richards_dtheta_max;
    s.richards_c_option = p.richards_c_option;
    s.richards_upper_option = p.richards_upper_option;
    s.richards_k_option = p.richards_k_option;
}

// Step 19: water table and groundwater.
void derive_groundwater(model_state &s) {
    const project_params &p = s.project;
    if (!p.water_table.given) return;
    s.water_table_on = 1;
    s.water_table_name = p.water_table.name;
    if (!p.gw_simulation) return;
    s.groundwater_on = 1;
    s.stream_loss = 1;
    s.gw_assign_theta = p.gw_assign_theta;
    s.gw_lsor_dir = p.gw_lsor_dir;
    s.gw_timestep = p.gw_timestep;
    s.gw_lsor_con = p.gw_lsor_con;
    s.single_unsat_sat = p.single_unsat_sat;
    s.gw_leakage_rate = p.gw_leakage_rate;
    // Without a GW_RELAX_COEFF card the solver keeps its coefficient of 1.0. The
    // line relaxation moves only for a coefficient above 0 and diverges from 2 on.
    if (p.gw_relax_coeff_given) {
        if (!(p.gw_relax_coeff > 0.0 && p.gw_relax_coeff < 2.0)) {
            std::printf("Error: GW_RELAX_COEFF %g lies outside (0, 2): the groundwater line "
                        "relaxation needs a coefficient above 0 and below 2.\n",
                        p.gw_relax_coeff);
            raise_printed_error();
        } else {
            s.gw_relax_coeff = p.gw_relax_coeff;
        }
    } else if (p.gw_relax_coeff > 0.0) {
        s.gw_relax_coeff = p.gw_relax_coeff;
    }
    s.gw_porosity_map_on = p.gw_porosity_map.given;
    s.gw_porosity_map_name = p.gw_porosity_map.name;
    s.gw_unif_porosity_on = p.gw_unif_porosity_given;
    s.gw_unif_porosity = p.gw_unif_porosity;
    s.gw_hycond_map_on = p.gw_hycond_map.given;
    s.gw_hycond_map_name = p.gw_hycond_map.name;
    s.gw_unif_hycond_on = p.gw_unif_hycond_given;
    s.gw_unif_hycond = p.gw_unif_hycond;
    s.gw_fluxboundtable_name = p.gw_fluxboundtable.name;
    s.gw_boundfile_name = p.gw_boundfile.name;
    s.gw_output_name = p.gw_output.name;
    s.gw_well_level_on = p.gw_well_level.given;
    s.gw_well_level_name = p.gw_well_level.name;
    s.out_well_location_name = p.out_well_location.name;
    s.aquifer_bottom_name = p.aquifer_bottom.name;
    s.aquifer_delta_z = p.aquifer_delta_z;
}

// Step 22: rainfall and the start of the clock.
void derive_rain_and_clock(model_state &s) {
    const rain_params &r = s.rain;
    if (r.precip_kind == 0) {
        s.uniform_rain_on = 1;
        s.rain_intensity = r.rain_intensity;
        s.rain_duration = static_cast<double>(r.rain_duration);
    } else if (r.precip_kind == 1) {
        s.gauge_file_on = 1;
        s.rainfall_on = 0;
        if (r.interpolation == 0) s.inverse_distance_on = 1;
        if (r.interpolation == 1) s.thiessen_on = 1;
    }
    const grid_params &g = s.grid;
    s.year = g.start_year;
    s.month = g.start_month;
    s.day = g.start_day;
    s.hour = g.start_hour;
    s.minute = g.start_minute;
    s.packed_time = s.hour * 100 + s.minute;
    s.packed_date = (s.year * 100 + s.month) * 100 + s.day;
    s.second = 0.0;
    const double start = julian_day(s.year, s.month, s.day, s.hour, s.minute, 0.0);
    s.now_days = start;
    s.event_start_days = start;
    s.start_days = start;
    s.start_clock_days = start;
}

// Step 23: the exchange with the vegetation model.
void derive_exchange(model_state &s) {
    const project_params &p = s.project;
    s.hxt_on = p.hxt;
    s.plux_on = p.plux.given;
    s.plux_exchange_name = "exchange/" + p.plux.name;
    s.hxt_event_num = p.hxt_event_num;
    s.hxt_event_on = p.hxt_event_given;
    s.plux_first = p.plux_first;
    const name_card *maps[13] = {&p.moist_to_plux,       &p.ksat_to_plux,
                                 &p.rough_to_plux,       &p.poros_to_plux,
                                 &p.erosivity_to_plux,   &p.crop_fact_to_plux,
                                 &p.net_erosion_to_plux, &p.moist_from_plux,
                                 &p.ksat_from_plux,      &p.rough_from_plux,
                                 &p.erosivity_from_plux, &p.crop_fact_from_plux,
                                 &p.et_demand_from_plux};
    for (int i = 0; i < 13; ++i) {
        s.plux_map_switches[i] = maps[i]->given;
        s.plux_map_names[i] = "exchange/" + maps[i]->name;
    }
}

// Step 24: map kind and the output switches.
void derive_outputs(model_state &s) {
    const project_params &p = s.project;
    switch (s.grid.map_type) {
    case 0: s.grid_map_files_on = 1; break;
    case 1: s.datasets_on = 1; break;
    case 2:
        s.datasets_on = 1;
        s.binary_datasets = 1;
        break;
    default: break;
    }
    s.depth_out = p.depth.given;
    s.include_channel_depth = p.include_channel_depth;
    s.dis_rain_out = p.dis_rain.given;
    s.inf_depth_out = p.inf_depth.given;
    s.surf_moist_out = p.surf_moist.given;
    s.chan_depth_out = p.chan_depth.given;
    s.discharge_out = p.discharge.given;
    s.chan_discharge_out = p.chan_discharge.given;
    s.in_hyd_location_on = p.in_hyd_location.given;
    s.out_dep_location_on = p.out_dep_location.given;
    s.in_theta_location_on = p.in_theta_location.given;
    s.ov_con_map_on = p.ov_con_map.given;
    s.ov_point_source_on = p.ov_point_source.given;
    s.sig_outlet_hydro_on = p.sig_outlet_hydro.given;
    s.lake_output_on = p.lake_output.given;
    if (s.grid.infiltration_scheme != infiltration_none) s.rate_of_infil_on = p.rate_of_infil.given;
    s.gw_fluxboundtable_on = s.grid.flux_boundary_given;
}

// Step 25: the file names that open_project_files opens.
void copy_file_names(model_state &s) {
    const project_params &p = s.project;
    s.elevation_name = p.elevation.name;
    s.mask_name = p.watershed_mask.name;
    s.data1_name = "data1";
    s.moisture_name = p.moisture.name;
    s.conductivity_name = p.conductivity.name;
    s.capillary_name = p.capillary.name;
    s.porosity_name = p.porosity.name;
    s.pore_index_name = p.pore_index.name;
    s.residual_sat_name = p.residual_sat.name;
    s.roughness_name = p.roughness.name;
    s.links_name = p.links.name;
    s.nodes_name = p.nodes.name;
    s.wat_surf_profile_name = p.wat_surf_profile.name;
    s.dis_profile_name = p.dis_profile.name;
    s.dis_profile_out_name = p.dis_profile_out.name;
    s.wat_surf_profile_out_name = p.wat_surf_profile_out.name;
    s.channel_input_name = p.channel_input.name;
    s.section_table_name = p.section_table.name;
    s.summary_name = p.summary.name;
    s.outlet_hydro_name = p.outlet_hydro.name;
    s.sig_outlet_hydro_name = p.sig_outlet_hydro.name;
    s.lake_output_name = p.lake_output.name;
    s.zep_hydro_on = p.zep_hydro.given;
    s.zep_hydro_name = p.zep_hydro.name;
    s.storage_capacity_name = p.storage_capacity.name;
    s.interception_coeff_name = p.interception_coeff.name;
    s.retention_name = p.reten_depth.name;
    s.out_hyd_location_name = p.out_hyd_location.name;
    s.out_dep_location_name = p.out_dep_location.name;
    s.chan_con_input_name = p.chan_con_input.name;
    s.out_con_location_name = p.out_con_location.name;
    s.ov_point_source_name = p.ov_point_source.name;
    s.in_theta_location_name = p.in_theta_location.name;
    s.out_theta_location_name = p.out_theta_location.name;
    s.in_hyd_location_name = p.in_hyd_location.name;
    s.albedo_name = p.albedo.name;
    s.vheight_name = p.vheight.name;
    s.tcoeff_name = p.tcoeff.name;
    s.canopy_name = p.canopy.name;
    s.wilting_point_name = p.wilting_point.name;
    s.materials_name = p.materials.name;
    s.soil_type_name = p.soil_type_map.name;
    s.soil_layer_name = p.soil_layer_input_file.name;
    // Names of the other rows of the run-file table.
    s.precip_name = s.rain.precip_file.name;
    s.ov_init_depth_name = p.ov_init_depth.name;
    s.chan_depth_name = p.chan_depth.name;
    s.chan_discharge_name = p.chan_discharge.name;
    s.chan_velocity_name = p.chan_velocity.name;
    s.pipe_head_name = p.pipe_head.name;
    s.pipe_tile_name = p.pipe_tile.name;
    s.pipe_flow_name = p.pipe_flow.name;
}

// Step 6: the nutrient module and its summary file; false after code 130.
bool open_nutrient_summary(model_state &s) {
    s.nutrients_on = 1;
    const nutrient_card_record *n = s.project.nutrient_cards.get();
    if (n) s.nutrient_summary_file = open_run_file(n->summary_file, "w");
    if (!s.nutrient_summary_file) {
        raise_error(130);
        return false;
    }
    std::fprintf(s.nutrient_summary_file,
                 "\n\n     ***** Nutrient Mass Balance and Summary File *****\n\n");
    std::fprintf(s.nutrient_summary_file,
                 "------------------------------------------------------------\n\n");
    return true;
}

}  // namespace

int output_interval_steps(double minutes, double time_step) {
    if (!(time_step > 0.0) || !(minutes > 0.0)) return 1;
    const double steps = minutes * (60.0 / time_step);
    if (!(steps < static_cast<double>(std::numeric_limits<int>::max())))
        return std::numeric_limits<int>::max();
    const int whole = static_cast<int>(steps);  // truncated toward zero
    return whole < 1 ? 1 : whole;
}

void read_run_parameters(const std::string &project_file, model_state &s) {
    if (!s.calibration_run && parallel_layout.process_rank == 0)
        std::printf("reading run parameters from project file: %s\n", project_file.c_str());

    read_project_file(project_file, s.project, s.grid, s.rain);
    if (s.grid.project_file_missing) {
        raise_error(3);
        return;
    }
    if (error_record.fatal || error_record.code != 0) return;

    const project_params &p = s.project;
    const grid_params &g = s.grid;
    if (p.pause) pause_on_exit = 1;

    if (g.end_time_given) {
        s.end_time_on = 1;
        s.end_time_days =
            julian_day(g.end_year, g.end_month, g.end_day, g.end_hour, g.end_minute, 0.0);
    }

    if (p.nutrients && !open_nutrient_summary(s)) return;

    if (p.q7_input.given || p.q7_fluxes) {
        s.q7_input_on = p.q7_input.given;
        s.q7_fluxes_on = p.q7_fluxes;
        if (p.q7_input.given && g.map_type != 4) write_outlet_inflow_header(s, p.q7_input.name);
    }

    copy_plain_settings(s);

    if (g.map_type == 4) {
        raise_error(5);
        return;
    }

    if (p.mapping_table.given) {
        s.mapping_table_on = 1;
        s.mapping_table_name = p.mapping_table.name;
        scan_index_map_tables(s.mapping_table_name, s.table_present, s.zarn_mode);
        if (error_record.fatal || error_record.code != 0) return;
    }
    if (p.st_mapping_table.given) {
        s.st_mapping_table_on = 1;
        s.st_mapping_table_name = p.st_mapping_table.name;
        scan_stream_index_map_tables(s.st_mapping_table_name, s.stream_table_present);
        if (error_record.fatal || error_record.code != 0) return;
    }

    copy_switches(s);

    if (p.manning_n_given)
        s.roughness_map_on = p.roughness.given;
    else
        s.roughness_map_on = (p.roughness.given || s.table_present[table_slot::roughness]) ? 1 : 0;

    const int et_table = s.table_present[table_slot::evapotranspiration];
    s.albedo_on = (p.albedo.given || et_table) ? 1 : 0;
    s.vheight_on = (p.vheight.given || et_table) ? 1 : 0;
    s.tcoeff_on = (p.tcoeff.given || et_table) ? 1 : 0;
    s.canopy_on = (p.canopy.given || et_table) ? 1 : 0;
    s.wilting_point_on = (p.wilting_point.given || et_table) ? 1 : 0;

    s.event_min_q = p.event_min_q < 1e-5 ? 0.05 : p.event_min_q;
    s.soil_moist_depth_cm = p.soil_moist_depth * 100.0;
    s.top_layer_depth_cm = p.top_layer_depth * 100.0;

    s.calibration_run = p.optimize.given;
    if (s.calibration_run) s.optimize_name = p.optimize.name;

    derive_channel_settings(s);
    derive_infiltration(s);
    derive_groundwater(s);
    if (error_record.fatal || error_record.code != 0) return;

    if (p.sacramento.given) {
        s.sacramento_on = 1;
        s.topo_index_on = p.topo_index;
        if (s.topo_index_on) s.topo_companion = 0;
        s.sacramento_name = p.sacramento.name;
    }

    if (!s.inf_green_ampt && !s.inf_redist && !s.long_term) {
        s.conductivity_on = p.conductivity.given;
        s.capillary_on = p.capillary.given;
        s.porosity_on = p.porosity.given;
        s.pore_index_on = p.pore_index.given;
        s.residual_sat_on = p.residual_sat.given;
    } else {
        const int ga_table = s.table_present[table_slot::green_ampt];
        s.conductivity_on = (p.conductivity.given || ga_table) ? 1 : 0;
        s.capillary_on = (p.capillary.given || ga_table) ? 1 : 0;
        s.porosity_on = (p.porosity.given || ga_table) ? 1 : 0;
        s.pore_index_on = (p.pore_index.given || ga_table) ? 1 : 0;
        s.residual_sat_on = (p.residual_sat.given || ga_table) ? 1 : 0;
    }

    derive_rain_and_clock(s);
    derive_exchange(s);
    derive_outputs(s);
    copy_file_names(s);

    s.daily_output_on = p.daily_output.given;
    s.daily_output_name = p.daily_output.name;
    s.soil_param_constant = 0.15;
    s.retention_value = s.retention_on ? p.retention : 1.0;
    s.end_check_value = 0.0;

    s.quiet = p.super_quiet;
    // A run of a calibration series keeps the console for the series' progress lines.
    if (console_on(s) && !s.calib_results) std::printf("finished reading project file\n");
}

namespace {

// Clears the initial-moisture and the five Green and Ampt parameter switches.
void clear_soil_switches(model_state &s) {
    s.initial_moisture_on = 0;
    s.conductivity_on = s.capillary_on = s.porosity_on = 0;
    s.pore_index_on = s.residual_sat_on = 0;
}

// The checks up to the groundwater warnings; the code of the first failure, or 0.
int first_failed_check(model_state &s) {
    const bool long_term = s.long_term != 0;
    const bool richards = s.inf_richards != 0;
    const bool et_table = s.table_present[table_slot::evapotranspiration] != 0;

    if (s.project.manning_n_given && s.roughness_map_on) return 6;
    if (long_term && s.et_penman && s.et_deardorff) return 7;
    if (s.hmet_surfaways + s.hmet_samson + s.hmet_qar >= 2) return 8;
    if (long_term && !s.et_penman && !s.et_deardorff) return 9;
    if (s.gauge_file_on && s.uniform_rain_on) return 10;
    if (s.uniform_rain_on && (s.rain_intensity == 0.0 || s.rain_duration == 0.0)) return 11;
    if (long_term && !s.inf_redist && !richards) return 20;
    if (long_term && !s.albedo_on && !richards && !et_table) return 21;
    if (long_term && s.et_penman && !richards && !et_table) {
        if (!s.vheight_on) return 22;
        if (!s.tcoeff_on) return 23;
        if (!s.canopy_on) return 24;
        if (!s.wilting_point_on) return 25;
    }
    if (s.inf_layered) {
        if (s.inf_green_ampt) return 26;
        if (s.inf_redist) return 27;
        if (richards) return 28;
        clear_soil_switches(s);
    }
    if (richards) {
        if (s.inf_green_ampt) return 29;
        if (s.inf_redist) return 30;
        if (s.inf_layered) return 31;
        if (s.groundwater_on && s.aquifer_delta_z < 0.0) return 32;
        clear_soil_switches(s);
    }
    if (s.inf_green_ampt && s.inf_redist) return 33;
    if (s.chan_drain_init && s.chan_backwater_init) return 34;
    if (s.chan_implicit) return 35;
    if (s.chan_explicit && s.chan_mesh) return 37;
    if (s.chan_explicit) {
        if (s.erosion.soil_erosion == 1) s.chan_sediment_on = 1;
    } else {
        s.chan_discharge_out = 0;
    }
    return 0;
}

}  // namespace

void check_project_options(model_state &s) {
    const int code = first_failed_check(s);
    if (code != 0) {
        // The evapotranspiration values come from the project's cards or from the
        // mapping table: where they were looked for is said before the message.
        if (code >= 21 && code <= 25) {
            std::printf("\nThe project file %s gives no map of these values", s.project_file_name.c_str());
            if (s.mapping_table_on)
                std::printf(", and its mapping table file %s no EVAPOTRANSPIRATION table",
                            s.mapping_table_name.c_str());
            std::printf(".\n");
        }
        raise_error(code);
        return;
    }

    const bool gw = s.groundwater_on != 0;
    const bool gw_table = s.table_present[table_slot::groundwater] != 0;
    // The aquifer exchanges its water with the soil of the redistribution root zone
    // or of the Richards columns; under any other scheme it would never be solved.
    if (gw && !s.inf_redist && !s.inf_richards) {
        const char *given = s.inf_green_ampt ? "GREEN_AMPT"
                            : s.inf_layered  ? "INF_LAYERED_SOIL"
                                             : "no infiltration card";
        std::printf("Error: GW_SIMULATION needs the infiltration card INF_REDIST (Green and Ampt "
                    "with redistribution) or INF_RICHARDS (Richards' equation); the project "
                    "gives %s.\n",
                    given);
        raise_printed_error();
        return;
    }
    if (gw && s.gw_porosity_map_on && s.gw_unif_porosity_on) {
        raise_error(38);
        return;
    }
    if (gw && !s.gw_porosity_map_on && !s.gw_unif_porosity_on && !gw_table) {
        error_record.code = 39;
        error_record.fatal = 0;
        report_error();
    }
    if (gw && s.gw_hycond_map_on && s.gw_unif_hycond_on) {
        raise_error(40);
        return;
    }
    if (gw && !s.gw_hycond_map_on && !s.gw_unif_hycond_on && !gw_table) {
        // A warning that the driver reports; the checks end here.
        error_record.code = 41;
        error_record.fatal = 0;
        return;
    }
    if (gw && s.sacramento_on) {
        raise_error(42);
        return;
    }
    if (s.hxt_on) {
        std::printf("Running KORVA in HXT environment\n");
        if (s.plux_on)
            std::printf("KORVA will share data with PLUX through file: %s\n",
                        s.plux_exchange_name.c_str());
        if (s.hxt_event_on)
            std::printf("This is an event call of KORVA by HXT, hxt_event_num=%d\n",
                        s.hxt_event_num);
    }
    if (s.hxt_on && !s.plux_on) {
        raise_error(43);
        return;
    }
    if (s.hxt_event_on && s.hxt_event_num < 0) {
        raise_error(44);
        return;
    }
    if (s.hxt_on && gw) {
        raise_error(45);
        return;
    }
    if (s.plux_on && !s.hxt_on) {
        raise_error(46);
        return;
    }
}

void print_startup_info(model_state &s, const std::string &project_file) {
    if (!s.summary_file) return;
    std::fprintf(s.summary_file, "\n\n");
    std::fprintf(s.summary_file, "_________KORVA start-up information________\n");
    std::fprintf(s.summary_file, "Run parameters read from ZEP project file: %s\n",
                 project_file.c_str());
}
