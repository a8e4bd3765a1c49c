// The project file's card vocabulary: every card word with its card id, looked up
// by card_lookup for each line of the project file (read_project_file).
#pragma once

#include <string>

enum class card_id : int {
    units = 0,
    ignored = 154,  // comment, empty line, unknown or ignored word
    // switch cards
    green_ampt = 1000, inf_redist, inf_layered_soil, inf_richards,
    chan_preiss, chan_drain, chan_explic, chan_mesh, chan_backwater,
    precip_unif, rain_inv_distance, rain_thiessen,
    include_channel_depth, long_term, et_calc_penman, et_calc_deardorff, qout_cfs, quiet,
    overbank_flow, head_bound, explic_backwater, explic_hotstart, stream_loss,
    strict_julian_date, seasonal_rs, no_cont_inf_redist, gw_simulation, gw_assign_theta, hxt,
    plux_first, chan_con_trans, ov_con_trans, xwindows, xrain, xdepth, xinfdep, xchan, xbig,
    xsurf, non_ortho_channels, topo_index, pause, ov_boundary, use_wells, stream_info,
    super_quiet, q7_fluxes, interception,
    // integer cards
    rows, cols, tot_time, outrow, outcol, map_freq, map_type, rain_duration, richards_iter_max,
    suppress_printing, gw_lsor_dir, x_freq, xwin_width, xwin_height, zarn_compression,
    // real cards
    gridsize, timestep, outslope, manning_n, hyd_freq, rain_intensity, latitude, longitude, gmt,
    event_min_q, soil_moist_depth, top_layer_depth, bound_depth, k_river, m_river, m_lake,
    sand_size, silt_size, clay_size, water_temp, sed_porosity, richards_weight,
    richards_dtheta_max, aquifer_delta_z, retention, unif_area_reduction, gw_timestep,
    gw_lsor_con, single_unsat_sat, gw_leakage_rate, gw_relax_coeff, gw_unif_porosity,
    gw_unif_hycond, chan_decay_coef, chan_disp_coef, init_chan_conc, ov_decay_coef,
    ov_disp_coef, ov_uptake_rate, ov_mass_load, max_courant_number, first_order_chan_q,
    init_elev_head, st_time_step,
    // name cards
    watershed_mask, elevation, mapping_table, st_mapping_table, materials, section_table,
    soil_type_map, soil_layer_input_file, initial_depth, storage_capacity, interception_coeff,
    roughness, conductivity, capillary, porosity, pore_index, residual_sat, albedo, vheight,
    tcoeff, canopy, wilting_point, hmet_surfaways, hmet_samson, hmet_qar, soil_erodability,
    crop_management, conservation_practice, sand_map, silt_map, in_sed_loc, vol_sed_susp,
    max_sed_flux, net_sed_volume, outlet_sed_flux, out_sed_loc, water_table, aquifer_bottom,
    in_theta_location, out_theta_location, in_hyd_location, out_hyd_location,
    out_dep_location, out_con_location, lake_output, links, nodes, channel_input, dis_profile,
    dis_profile_out, wat_surf_profile, wat_surf_profile_out, precip_file, discharge, depth,
    inf_depth, surf_moist, rate_of_infil, dis_rain, chan_depth, chan_discharge, chan_velocity,
    summary, outlet_hydro, sig_outlet_hydro, zep_hydro, cell_hydro, gw_fluxboundtable,
    gw_boundfile, gw_output, gw_porosity_map, gw_hycond_map, gw_well_level, out_well_location,
    plux, moist_to_plux, ksat_to_plux, rough_to_plux, poros_to_plux, erosivity_to_plux,
    crop_fact_to_plux, net_erosion_to_plux, moist_from_plux, ksat_from_plux, rough_from_plux,
    erosivity_from_plux, crop_fact_from_plux, et_demand_from_plux, chan_con_input,
    ov_point_source, ov_con_map, stream_cell, dike_map, lowspot_file, write_chan_hotstart,
    read_chan_hotstart, write_ov_hotstart, ov_init_depth, overland_lake_map, overland_lake_file,
    sacramento, storm_sewer, grid_pipe, flood_grid, flood_stream, lake_pump, zarn_file,
    zarn_base_grid, zarn_base_stream, zarn_datasetgroup, q7_input, ov_pump, fyssi, daily_output,
    q7_nodes_to_segs, q7_segment_map, q7_segment_fluxes, calib_obs_data, pipe_flow, pipe_head,
    pipe_tile, optimize,
    // cards with their own rules
    start_date, start_time, end_time, reten_depth, moisture, area_reduction, soil_erosion,
    richards_k_option, richards_c_option, richards_upper_option, overtype, hxt_event_num,
    flush_buffer, time_series_file, elev_series_file, replace_params, replace_line,
    replace_vals, calib_comp_data, calib_obj_func, nutrients, aq_env, ntr_sum,
    ov_init_no2, ov_init_no3, ov_init_nh4, ov_init_on, ov_init_op, ov_init_dp, ov_init_po4,
    ov_init_alg, ov_init_cbod, ov_init_do, ov_doc_init, ov_doc_foc, ov_dispersion,
    st_init_no2, st_init_no3, st_init_nh4, st_init_on, st_init_op, st_init_dp, st_init_po4,
    st_init_alg, st_init_cbod, st_init_do,
    out_ov_no2, out_ov_no3, out_ov_nh4, out_ov_on, out_ov_op, out_ov_dp, out_ov_po4,
    out_ov_alg, out_ov_cbod, out_ov_do,
    out_st_no2, out_st_no3, out_st_nh4, out_st_on, out_st_op, out_st_dp, out_st_po4,
    out_st_alg, out_st_cbod, out_st_do,
    out_hyd_no2, out_hyd_no3, out_hyd_nh4, out_hyd_on, out_hyd_op, out_hyd_dp, out_hyd_po4,
    out_hyd_alg, out_hyd_cbod, out_hyd_do,
    // read and without effect, or printing their value only
    no_effect, alpha, beta, theta, channel_gridsize, channel_deltat, drain_time, q_min,
    n_links, max_nodes,
};

// Takes the first word off the line (the rest begins with the character that ended
// the word) and gives its id; card_id::ignored for an empty line, a comment, the
// ignored words and unknown words (which print a warning).
card_id card_lookup(std::string &line);

// 1 when the two strings are equal, else 0.
int str_equal(const std::string &a, const std::string &b);

// Number of words in the card table (for tests).
int card_table_size();
