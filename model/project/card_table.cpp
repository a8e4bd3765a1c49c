// The card table of the project file and the lookup of a line's card word. Called
// by read_project_file for every line after the header.
#include "model/project/card_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "model/core/globals.h"

namespace {

struct card_word {
    const char *word;
    card_id id;
};

// Compared in this order, first match winning: "watershed_mask" comes first of all
// named cards, and "storm_sewer" stands twice with the same id.
const card_word card_table[] = {
    {"watershed_mask", card_id::watershed_mask},
    {"green_ampt", card_id::green_ampt},
    {"inf_redist", card_id::inf_redist},
    {"inf_layered_soil", card_id::inf_layered_soil},
    {"inf_richards", card_id::inf_richards},
    {"chan_preiss", card_id::chan_preiss},
    {"chan_drain", card_id::chan_drain},
    {"chan_explic", card_id::chan_explic},
    {"diffusive_wave", card_id::chan_explic},
    {"chan_mesh", card_id::chan_mesh},
    {"chan_backwater", card_id::chan_backwater},
    {"precip_unif", card_id::precip_unif},
    {"rain_inv_distance", card_id::rain_inv_distance},
    {"rain_thiessen", card_id::rain_thiessen},
    {"include_channel_depth", card_id::include_channel_depth},
    {"long_term", card_id::long_term},
    {"et_calc_penman", card_id::et_calc_penman},
    {"et_calc_deardorff", card_id::et_calc_deardorff},
    {"qout_cfs", card_id::qout_cfs},
    {"quiet", card_id::quiet},
    {"overbank_flow", card_id::overbank_flow},
    {"head_bound", card_id::head_bound},
    {"explic_backwater", card_id::explic_backwater},
    {"explic_hotstart", card_id::explic_hotstart},
    {"stream_loss", card_id::stream_loss},
    {"strict_julian_date", card_id::strict_julian_date},
    {"seasonal_rs", card_id::seasonal_rs},
    {"no_cont_inf_redist", card_id::no_cont_inf_redist},
    {"gw_simulation", card_id::gw_simulation},
    {"gw_assign_theta", card_id::gw_assign_theta},
    {"hxt", card_id::hxt},
    {"plux_first", card_id::plux_first},
    {"chan_con_trans", card_id::chan_con_trans},
    {"ov_con_trans", card_id::ov_con_trans},
    {"xwindows", card_id::xwindows},
    {"xrain", card_id::xrain},
    {"xdepth", card_id::xdepth},
    {"xinfdep", card_id::xinfdep},
    {"xchan", card_id::xchan},
    {"xbig", card_id::xbig},
    {"xsurf", card_id::xsurf},
    {"non_ortho_channels", card_id::non_ortho_channels},
    {"topo_index", card_id::topo_index},
    {"pause", card_id::pause},
    {"ov_boundary", card_id::ov_boundary},
    {"use_wells", card_id::use_wells},
    {"stream_info", card_id::stream_info},
    {"super_quiet", card_id::super_quiet},
    {"q7_fluxes", card_id::q7_fluxes},
    {"interception", card_id::interception},
    {"rows", card_id::rows},
    {"cols", card_id::cols},
    {"tot_time", card_id::tot_time},
    {"outrow", card_id::outrow},
    {"outcol", card_id::outcol},
    {"map_freq", card_id::map_freq},
    {"map_type", card_id::map_type},
    {"rain_duration", card_id::rain_duration},
    {"richards_iter_max", card_id::richards_iter_max},
    {"suppress_printing", card_id::suppress_printing},
    {"gw_lsor_dir", card_id::gw_lsor_dir},
    {"x_freq", card_id::x_freq},
    {"xwin_width", card_id::xwin_width},
    {"xwin_height", card_id::xwin_height},
    {"zarn_compression", card_id::zarn_compression},
    {"gridsize", card_id::gridsize},
    {"timestep", card_id::timestep},
    {"outslope", card_id::outslope},
    {"manning_n", card_id::manning_n},
    {"hyd_freq", card_id::hyd_freq},
    {"rain_intensity", card_id::rain_intensity},
    {"latitude", card_id::latitude},
    {"longitude", card_id::longitude},
    {"gmt", card_id::gmt},
    {"event_min_q", card_id::event_min_q},
    {"soil_moist_depth", card_id::soil_moist_depth},
    {"top_layer_depth", card_id::top_layer_depth},
    {"bound_depth", card_id::bound_depth},
    {"k_river", card_id::k_river},
    {"m_river", card_id::m_river},
    {"m_lake", card_id::m_lake},
    {"sand_size", card_id::sand_size},
    {"silt_size", card_id::silt_size},
    {"clay_size", card_id::clay_size},
    {"water_temp", card_id::water_temp},
    {"sed_porosity", card_id::sed_porosity},
    {"richards_weight", card_id::richards_weight},
    {"richards_dtheta_max", card_id::richards_dtheta_max},
    {"aquifer_delta_z", card_id::aquifer_delta_z},
    {"retention", card_id::retention},
    {"unif_area_reduction", card_id::unif_area_reduction},
    {"gw_timestep", card_id::gw_timestep},
    {"gw_lsor_con", card_id::gw_lsor_con},
    {"single_unsat_sat", card_id::single_unsat_sat},
    {"gw_leakage_rate", card_id::gw_leakage_rate},
    {"gw_relax_coeff", card_id::gw_relax_coeff},
    {"gw_unif_porosity", card_id::gw_unif_porosity},
    {"gw_unif_hycond", card_id::gw_unif_hycond},
    {"chan_decay_coef", card_id::chan_decay_coef},
    {"chan_disp_coef", card_id::chan_disp_coef},
    {"init_chan_conc", card_id::init_chan_conc},
    {"ov_decay_coef", card_id::ov_decay_coef},
    {"ov_disp_coef", card_id::ov_disp_coef},
    {"ov_uptake_rate", card_id::ov_uptake_rate},
    {"ov_mass_load", card_id::ov_mass_load},
    {"max_courant_number", card_id::max_courant_number},
    {"first_order_chan_q", card_id::first_order_chan_q},
    {"init_elev_head", card_id::init_elev_head},
    {"st_time_step", card_id::st_time_step},
    {"elevation", card_id::elevation},
    {"mapping_table", card_id::mapping_table},
    {"st_mapping_table", card_id::st_mapping_table},
    {"materials", card_id::materials},
    {"section_table", card_id::section_table},
    {"soil_type_map", card_id::soil_type_map},
    {"soil_layer_input_file", card_id::soil_layer_input_file},
    {"initial_depth", card_id::initial_depth},
    {"storage_capacity", card_id::storage_capacity},
    {"interception_coeff", card_id::interception_coeff},
    {"roughness", card_id::roughness},
    {"conductivity", card_id::conductivity},
    {"capillary", card_id::capillary},
    {"porosity", card_id::porosity},
    {"pore_index", card_id::pore_index},
    {"residual_sat", card_id::residual_sat},
    {"albedo", card_id::albedo},
    {"vheight", card_id::vheight},
    {"tcoeff", card_id::tcoeff},
    {"canopy", card_id::canopy},
    {"wilting_point", card_id::wilting_point},
    {"hmet_surfaways", card_id::hmet_surfaways},
    {"hmet_samson", card_id::hmet_samson},
    {"hmet_qar", card_id::hmet_qar},
    {"soil_erodability", card_id::soil_erodability},
    {"crop_management", card_id::crop_management},
    {"conservation_practice", card_id::conservation_practice},
    {"sand_map", card_id::sand_map},
    {"silt_map", card_id::silt_map},
    {"in_sed_loc", card_id::in_sed_loc},
    {"vol_sed_susp", card_id::vol_sed_susp},
    {"max_sed_flux", card_id::max_sed_flux},
    {"net_sed_volume", card_id::net_sed_volume},
    {"outlet_sed_flux", card_id::outlet_sed_flux},
    {"out_sed_loc", card_id::out_sed_loc},
    {"water_table", card_id::water_table},
    {"aquifer_bottom", card_id::aquifer_bottom},
    {"in_theta_location", card_id::in_theta_location},
    {"out_theta_location", card_id::out_theta_location},
    {"in_hyd_location", card_id::in_hyd_location},
    {"out_hyd_location", card_id::out_hyd_location},
    {"out_dep_location", card_id::out_dep_location},
    {"out_con_location", card_id::out_con_location},
    {"lake_output", card_id::lake_output},
    {"links", card_id::links},
    {"nodes", card_id::nodes},
    {"channel_input", card_id::channel_input},
    {"dis_profile", card_id::dis_profile},
    {"dis_profile_out", card_id::dis_profile_out},
    {"wat_surf_profile", card_id::wat_surf_profile},
    {"wat_surf_profile_out", card_id::wat_surf_profile_out},
    {"precip_file", card_id::precip_file},
    {"discharge", card_id::discharge},
    {"depth", card_id::depth},
    {"inf_depth", card_id::inf_depth},
    {"surf_moist", card_id::surf_moist},
    {"rate_of_infil", card_id::rate_of_infil},
    {"dis_rain", card_id::dis_rain},
    {"chan_depth", card_id::chan_depth},
    {"chan_discharge", card_id::chan_discharge},
    {"chan_velocity", card_id::chan_velocity},
    {"summary", card_id::summary},
    {"outlet_hydro", card_id::outlet_hydro},
    {"sig_outlet_hydro", card_id::sig_outlet_hydro},
    {"zep_hydro", card_id::zep_hydro},
    {"cell_hydro", card_id::cell_hydro},
    {"gw_fluxboundtable", card_id::gw_fluxboundtable},
    {"gw_flux_boundtable", card_id::gw_fluxboundtable},
    {"gw_boundfile", card_id::gw_boundfile},
    {"gw_output", card_id::gw_output},
    {"gw_porosity_map", card_id::gw_porosity_map},
    {"gw_hycond_map", card_id::gw_hycond_map},
    {"gw_well_level", card_id::gw_well_level},
    {"out_well_location", card_id::out_well_location},
    {"plux", card_id::plux},
    {"moist_to_plux", card_id::moist_to_plux},
    {"ksat_to_plux", card_id::ksat_to_plux},
    {"rough_to_plux", card_id::rough_to_plux},
    {"poros_to_plux", card_id::poros_to_plux},
    {"erosivity_to_plux", card_id::erosivity_to_plux},
    {"crop_fact_to_plux", card_id::crop_fact_to_plux},
    {"net_erosion_to_plux", card_id::net_erosion_to_plux},
    {"moist_from_plux", card_id::moist_from_plux},
    {"ksat_from_plux", card_id::ksat_from_plux},
    {"rough_from_plux", card_id::rough_from_plux},
    {"erosivity_from_plux", card_id::erosivity_from_plux},
    {"crop_fact_from_plux", card_id::crop_fact_from_plux},
    {"et_demand_from_plux", card_id::et_demand_from_plux},
    {"chan_con_input", card_id::chan_con_input},
    {"ov_point_source", card_id::ov_point_source},
    {"ov_con_map", card_id::ov_con_map},
    {"stream_cell", card_id::stream_cell},
    {"dike_map", card_id::dike_map},
    {"embankment", card_id::dike_map},
    {"lowspot_file", card_id::lowspot_file},
    {"write_chan_hotstart", card_id::write_chan_hotstart},
    {"read_chan_hotstart", card_id::read_chan_hotstart},
    {"write_ov_hotstart", card_id::write_ov_hotstart},
    {"ov_init_depth", card_id::ov_init_depth},
    {"read_ov_hostart", card_id::ov_init_depth},
    {"overland_lake_map", card_id::overland_lake_map},
    {"overland_lake_file", card_id::overland_lake_file},
    {"sacramento", card_id::sacramento},
    {"sacramento_pars", card_id::sacramento},
    {"storm_sewer", card_id::storm_sewer},
    {"storm_sewer", card_id::storm_sewer},
    {"grid_pipe", card_id::grid_pipe},
    {"flood_grid", card_id::flood_grid},
    {"flood_stream", card_id::flood_stream},
    {"lake_pump", card_id::lake_pump},
    {"zarn_file", card_id::zarn_file},
    {"zarn_base_grid", card_id::zarn_base_grid},
    {"zarn_base_stream", card_id::zarn_base_stream},
    {"zarn_datasetgroup", card_id::zarn_datasetgroup},
    {"q7_input", card_id::q7_input},
    {"ov_pump", card_id::ov_pump},
    {"fyssi", card_id::fyssi},
    {"daily_output", card_id::daily_output},
    {"q7_nodes_to_segs", card_id::q7_nodes_to_segs},
    {"q7_segment_map", card_id::q7_segment_map},
    {"q7_segment_fluxes", card_id::q7_segment_fluxes},
    {"calib_obs_data", card_id::calib_obs_data},
    {"pipe_flow", card_id::pipe_flow},
    {"pipe_head", card_id::pipe_head},
    {"pipe_tile", card_id::pipe_tile},
    {"optimize", card_id::optimize},
    {"start_date", card_id::start_date},
    {"start_time", card_id::start_time},
    {"end_time", card_id::end_time},
    {"reten_depth", card_id::reten_depth},
    {"moisture", card_id::moisture},
    {"area_reduction", card_id::area_reduction},
    {"soil_erosion", card_id::soil_erosion},
    {"richards_k_option", card_id::richards_k_option},
    {"richards_c_option", card_id::richards_c_option},
    {"richards_upper_option", card_id::richards_upper_option},
    {"overtype", card_id::overtype},
    {"hxt_event_num", card_id::hxt_event_num},
    {"flush_buffer", card_id::flush_buffer},
    {"time_series_file", card_id::time_series_file},
    {"elev_series_file", card_id::elev_series_file},
    {"replace_params", card_id::replace_params},
    {"replace_line", card_id::replace_line},
    {"replace_vals", card_id::replace_vals},
    {"calib_comp_data", card_id::calib_comp_data},
    {"calib_obj_func", card_id::calib_obj_func},
    {"nutrients", card_id::nutrients},
    {"aq_env", card_id::aq_env},
    {"ntr_sum", card_id::ntr_sum},
    {"ov_init_no2", card_id::ov_init_no2},
    {"ov_init_no3", card_id::ov_init_no3},
    {"ov_init_nh4", card_id::ov_init_nh4},
    {"ov_init_on", card_id::ov_init_on},
    {"ov_init_op", card_id::ov_init_op},
    {"ov_init_dp", card_id::ov_init_dp},
    {"ov_init_po4", card_id::ov_init_po4},
    {"ov_init_alg", card_id::ov_init_alg},
    {"ov_init_cbod", card_id::ov_init_cbod},
    {"ov_init_do", card_id::ov_init_do},
    {"ov_doc_init", card_id::ov_doc_init},
    {"ov_doc_foc", card_id::ov_doc_foc},
    {"ov_dispersion", card_id::ov_dispersion},
    {"st_init_no2", card_id::st_init_no2},
    {"st_init_no3", card_id::st_init_no3},
    {"st_init_nh4", card_id::st_init_nh4},
    {"st_init_on", card_id::st_init_on},
    {"st_init_op", card_id::st_init_op},
    {"st_init_dp", card_id::st_init_dp},
    {"st_init_po4", card_id::st_init_po4},
    {"st_init_alg", card_id::st_init_alg},
    {"st_init_cbod", card_id::st_init_cbod},
    {"st_init_do", card_id::st_init_do},
    {"out_ov_no2", card_id::out_ov_no2},
    {"out_ov_no3", card_id::out_ov_no3},
    {"out_ov_nh4", card_id::out_ov_nh4},
    {"out_ov_on", card_id::out_ov_on},
    {"out_ov_op", card_id::out_ov_op},
    {"out_ov_dp", card_id::out_ov_dp},
    {"out_ov_po4", card_id::out_ov_po4},
    {"out_ov_alg", card_id::out_ov_alg},
    {"out_ov_cbod", card_id::out_ov_cbod},
    {"out_ov_do", card_id::out_ov_do},
    {"out_st_no2", card_id::out_st_no2},
    {"out_st_no3", card_id::out_st_no3},
    {"out_st_nh4", card_id::out_st_nh4},
    {"out_st_on", card_id::out_st_on},
    {"out_st_op", card_id::out_st_op},
    {"out_st_dp", card_id::out_st_dp},
    {"out_st_po4", card_id::out_st_po4},
    {"out_st_alg", card_id::out_st_alg},
    {"out_st_cbod", card_id::out_st_cbod},
    {"out_st_do", card_id::out_st_do},
    {"out_hyd_no2", card_id::out_hyd_no2},
    {"out_hyd_no3", card_id::out_hyd_no3},
    {"out_hyd_nh4", card_id::out_hyd_nh4},
    {"out_hyd_on", card_id::out_hyd_on},
    {"out_hyd_op", card_id::out_hyd_op},
    {"out_hyd_dp", card_id::out_hyd_dp},
    {"out_hyd_po4", card_id::out_hyd_po4},
    {"out_hyd_alg", card_id::out_hyd_alg},
    {"out_hyd_cbod", card_id::out_hyd_cbod},
    {"out_hyd_do", card_id::out_hyd_do},
    {"alpha", card_id::alpha},
    {"beta", card_id::beta},
    {"theta", card_id::theta},
    {"channel_gridsize", card_id::channel_gridsize},
    {"channel_deltat", card_id::channel_deltat},
    {"drain_time", card_id::drain_time},
    {"q_min", card_id::q_min},
    {"n_links", card_id::n_links},
    {"max_nodes", card_id::max_nodes},
    {"lake", card_id::no_effect},
    {"lake_elev", card_id::no_effect},
    {"radar_intensity", card_id::no_effect},
    {"lakes_mask", card_id::no_effect},
    {"lakes_elevation", card_id::no_effect},
    {"fline", card_id::no_effect},
    {"sourcefile", card_id::no_effect},
    {"out_el_no2", card_id::no_effect},
    {"out_el_no3", card_id::no_effect},
    {"out_el_nh4", card_id::no_effect},
    {"out_el_on", card_id::no_effect},
    {"out_el_op", card_id::no_effect},
    {"out_el_po4", card_id::no_effect},
    {"out_el_cbod", card_id::no_effect},
    {"num_threads", card_id::no_effect},
};

bool is_word_end(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Edits (insert, delete, replace, swap of two neighbours) that turn a into b.
std::size_t edit_distance(std::string_view a, std::string_view b) {
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::size_t> d((n + 1) * (m + 1));
    auto at = [m, &d](std::size_t i, std::size_t j) -> std::size_t & { return d[i * (m + 1) + j]; };
    for (std::size_t i = 0; i <= n; ++i) at(i, 0) = i;
    for (std::size_t j = 0; j <= m; ++j) at(0, j) = j;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            std::size_t best = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                best = std::min(best, at(i - 2, j - 2) + 1);
            at(i, j) = best;
        }
    }
    return at(n, m);
}

// The known card nearest to an unknown word, upper case; empty when none is close
// (at most two edits, and fewer than a third of the word's letters).
std::string nearest_card(const std::string &word) {
    std::string best;
    std::size_t best_distance = 3;
    for (const card_word &entry : card_table) {
        // The edits number at least the difference of the lengths.
        const std::size_t length = std::string_view(entry.word).size();
        if ((word.size() > length ? word.size() - length : length - word.size()) >= best_distance)
            continue;
        const std::size_t d = edit_distance(word, entry.word);
        if (d < best_distance && 3 * d < word.size()) {
            best_distance = d;
            best = entry.word;
        }
    }
    for (char &c : best) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return best;
}

}  // namespace

int str_equal(const std::string &a, const std::string &b) { return a == b ? 1 : 0; }

int card_table_size() { return static_cast<int>(std::size(card_table)); }

card_id card_lookup(std::string &line) {
    std::size_t start = 0;
    while (start < line.size() && is_word_end(line[start])) ++start;
    if (start == line.size()) return card_id::ignored;

    std::size_t end = start;
    while (end < line.size() && !is_word_end(line[end])) ++end;
    std::string word = line.substr(start, end - start);
    for (char &c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    line.erase(0, end);

    if (word[0] == '#') return card_id::ignored;
    if (word == "zep" || word == "metric") return card_id::ignored;
    if (word == "units") return card_id::units;
    for (const card_word &entry : card_table) {
        if (str_equal(word, entry.word)) return entry.id;
    }
    // An unknown card may be a misspelt one that changes the run: the warning names
    // the nearest known card, and the summary's warning report repeats it.
    const std::string nearest = nearest_card(word);
    // A word past a readable length is quoted by its start and its length.
    constexpr std::size_t quoted_length = 40;
    const std::string quoted =
        word.size() <= quoted_length
            ? word
            : word.substr(0, quoted_length) + "... (" + std::to_string(word.size()) + " characters)";
    std::string note = "unknown card in the project file: " + quoted;
    if (parallel_layout.process_rank == 0) {
        std::printf("Warning: unknown card found in the project file: %s\n", quoted.c_str());
        if (!nearest.empty()) std::printf("  did you mean %s?\n", nearest.c_str());
    }
    if (!nearest.empty()) note += " (did you mean " + nearest + "?)";
    count_warning(std::move(note));
    return card_id::ignored;
}
