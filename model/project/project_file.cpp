// The project-file reader: checks the header, resets the three card records to
// their defaults and acts on every card line. Called once per run by
// read_run_parameters.
#include "model/project/project_file.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "model/core/value_bounds.h"
#include "model/project/card_table.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"
#include "model/core/replace_params.h"
#include "model/core/series.h"

namespace {

// The three records one reading fills.
struct card_records {
    project_params &p;
    grid_params &g;
    rain_params &r;
    std::string word;  // the card word of the line being read, as written
};

// The values a numeric card allows: low and high (each open or closed).
struct value_range {
    double low = -HUGE_VAL;
    double high = HUGE_VAL;
    bool low_open = false;  // low itself is not allowed
    const char *text = nullptr;  // how the message states the range
};

constexpr value_range any_value{};
constexpr value_range not_negative{0.0, HUGE_VAL, false, "0 or more"};
constexpr value_range positive{0.0, HUGE_VAL, true, "more than 0"};
constexpr value_range fraction{0.0, 1.0, false, "0 to 1"};
constexpr value_range at_least_one{1.0, HUGE_VAL, false, "1 or more"};

constexpr value_range of(const value_bounds &b) { return {b.low, b.high, false, b.text}; }

// The range of an integer or real card whose meaning bounds it; any finite value
// (any integer) for the others.
value_range card_range(card_id id) {
    switch (id) {
    case card_id::rows:
    case card_id::cols:
    case card_id::outrow:
    case card_id::outcol:
    case card_id::richards_iter_max: return at_least_one;
    case card_id::tot_time:
    case card_id::map_freq:
    case card_id::map_type:
    case card_id::rain_duration:
    case card_id::event_min_q:
    case card_id::soil_moist_depth:
    case card_id::sand_size:
    case card_id::silt_size:
    case card_id::clay_size:
    case card_id::retention:
    case card_id::gw_unif_hycond:
    case card_id::st_time_step: return not_negative;
    // Decay, dispersion and uptake take mass away or spread it; below 0 they
    // would create it. A concentration or a mass is not below 0.
    case card_id::chan_decay_coef:
    case card_id::ov_decay_coef:
    case card_id::ov_uptake_rate: return of(bounds::rate_per_day);
    case card_id::chan_disp_coef:
    case card_id::ov_disp_coef: return of(bounds::dispersion);
    case card_id::init_chan_conc: return of(bounds::concentration);
    case card_id::ov_mass_load: return of(bounds::land_mass);
    // A time step of more than a day leaves nothing for the model to resolve and
    // would carry the clock past the dates the calendar can hold.
    case card_id::timestep:
    case card_id::gw_timestep: return {0.0, 86400.0, true, "more than 0, at most 86400"};
    // The upper layer of the root zone divides its water by its depth.
    case card_id::top_layer_depth:
    case card_id::gridsize:
    case card_id::manning_n:
    case card_id::richards_dtheta_max:
    case card_id::max_courant_number: return positive;
    case card_id::sed_porosity:
    case card_id::unif_area_reduction:
    case card_id::single_unsat_sat:
    case card_id::gw_unif_porosity: return fraction;
    // An outlet slope of 0 or less keeps its own refusal; a slope steeper than
    // 10 (84 degrees) is no outlet of a grid cell.
    case card_id::outslope: return {-HUGE_VAL, 10.0, false, "at most 10"};
    case card_id::rain_intensity:
        return {bounds::rain_mm_h.low, bounds::rain_mm_h.high, false, bounds::rain_mm_h.text};
    case card_id::latitude: return {-90.0, 90.0, false, "-90 to 90"};
    case card_id::longitude: return {-360.0, 360.0, false, "-360 to 360"};
    case card_id::gmt: return {-24.0, 24.0, false, "-24 to 24"};
    default: return any_value;
    }
}

bool in_range(double v, const value_range &range) {
    const bool above_low = range.low_open ? v > range.low : v >= range.low;
    return above_low && v <= range.high;
}

// Refusals of a numeric card value; each prints its message and ends the reading.
bool refuse_missing(const card_records &c) {
    std::printf("Error: card %s has no value\n", c.word.c_str());
    raise_printed_error();
    return false;
}

bool refuse_value(const card_records &c, const std::string &token, const char *why) {
    std::printf("Error: card %s: the value \"%s\" %s\n", c.word.c_str(), token.c_str(), why);
    raise_printed_error();
    return false;
}

bool refuse_range(const card_records &c, const std::string &token, const char *range) {
    std::printf("Error: card %s: the value \"%s\" lies outside its range (%s)\n", c.word.c_str(),
                token.c_str(), range);
    raise_printed_error();
    return false;
}

// Reads one integer value of a card: the whole token, fitting an int, in range.
// A card whose number may be left out: 1 read, 0 none given (nothing stored),
// -1 refused.
int optional_card_int(std::string &line, card_records &c, int &value, const value_range &range) {
    std::string token;
    if (!next_token(token, line)) return 0;
    int v = 0;
    if (!whole_token_int(token, v)) {
        refuse_value(c, token, "is not an integer");
        return -1;
    }
    if (!in_range(v, range)) {
        refuse_range(c, token, range.text);
        return -1;
    }
    value = v;
    return 1;
}

bool card_int(std::string &line, card_records &c, int &value, const value_range &range) {
    const int got = optional_card_int(line, c, value, range);
    return got == 0 ? refuse_missing(c) : got == 1;
}

// Reads one real value of a card: the whole token, finite, in range.
bool card_real(std::string &line, card_records &c, double &value, const value_range &range) {
    std::string token;
    if (!next_token(token, line)) return refuse_missing(c);
    double v = 0.0;
    if (!whole_token_double(token, v)) return refuse_value(c, token, "is not a finite number");
    if (!in_range(v, range)) return refuse_range(c, token, range.text);
    value = v;
    return true;
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Reads a calendar date (year 1 to 9999, month, day of that month).
bool card_date(std::string &line, card_records &c, int &year, int &month, int &day) {
    static const int month_days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (!card_int(line, c, year, {1.0, 9999.0, false, "1 to 9999"})) return false;
    if (!card_int(line, c, month, {1.0, 12.0, false, "1 to 12"})) return false;
    const int last = month_days[month] + (month == 2 && is_leap_year(year) ? 1 : 0);
    const std::string text = "1 to " + std::to_string(last);
    return card_int(line, c, day, {1.0, static_cast<double>(last), false, text.c_str()});
}

// Reads a time of day (hour 0 to 23, minute 0 to 59).
bool card_clock(std::string &line, card_records &c, int &hour, int &minute) {
    return card_int(line, c, hour, {0.0, 23.0, false, "0 to 23"}) &&
           card_int(line, c, minute, {0.0, 59.0, false, "0 to 59"});
}

int *flag_field(card_id id, card_records &c) {
    project_params &p = c.p;
    switch (id) {
    case card_id::include_channel_depth: return &p.include_channel_depth;
    case card_id::long_term: return &p.long_term;
    case card_id::et_calc_penman: return &p.et_calc_penman;
    case card_id::et_calc_deardorff: return &p.et_calc_deardorff;
    case card_id::qout_cfs: return &c.g.qout_cfs;
    case card_id::quiet: return &c.g.quiet;
    case card_id::overbank_flow: return &p.overbank_flow;
    case card_id::head_bound: return &p.head_bound;
    case card_id::explic_backwater: return &p.explic_backwater;
    case card_id::explic_hotstart: return &p.explic_hotstart;
    case card_id::stream_loss: return &p.stream_loss;
    case card_id::strict_julian_date: return &p.strict_julian_date;
    case card_id::seasonal_rs: return &p.seasonal_rs;
    case card_id::no_cont_inf_redist: return &p.no_cont_inf_redist;
    case card_id::gw_simulation: return &p.gw_simulation;
    case card_id::gw_assign_theta: return &p.gw_assign_theta;
    case card_id::hxt: return &p.hxt;
    case card_id::plux_first: return &p.plux_first;
    case card_id::chan_con_trans: return &p.chan_con_trans;
    case card_id::ov_con_trans: return &p.ov_con_trans;
    case card_id::xwindows: return &p.xwindows;
    case card_id::xrain: return &p.xrain;
    case card_id::xdepth: return &p.xdepth;
    case card_id::xinfdep: return &p.xinfdep;
    case card_id::xchan: return &p.xchan;
    case card_id::xbig: return &p.xbig;
    case card_id::xsurf: return &p.xsurf;
    case card_id::non_ortho_channels: return &p.non_ortho_channels;
    case card_id::topo_index: return &p.topo_index;
    case card_id::pause: return &p.pause;
    case card_id::ov_boundary: return &p.ov_boundary;
    case card_id::use_wells: return &p.use_wells;
    case card_id::stream_info: return &p.stream_info;
    case card_id::super_quiet: return &p.super_quiet;
    case card_id::q7_fluxes: return &p.q7_fluxes;
    default: return nullptr;
    }
}

int *int_field(card_id id, card_records &c) {
    project_params &p = c.p;
    grid_params &g = c.g;
    switch (id) {
    case card_id::rows: return &g.rows;
    case card_id::cols: return &g.cols;
    case card_id::tot_time: return &g.tot_time;
    case card_id::outrow: return &g.outrow;
    case card_id::outcol: return &g.outcol;
    case card_id::map_freq: return &g.map_freq;
    case card_id::map_type: return &g.map_type;
    case card_id::rain_duration: return &c.r.rain_duration;
    case card_id::richards_iter_max: return &p.richards_iter_max;
    case card_id::suppress_printing: return &p.suppress_printing;
    case card_id::gw_lsor_dir: return &p.gw_lsor_dir;
    case card_id::x_freq: return &p.x_freq;
    case card_id::xwin_width: return &p.xwin_width;
    case card_id::xwin_height: return &p.xwin_height;
    case card_id::zarn_compression: return &p.zarn_compression;
    default: return nullptr;
    }
}

// A real card's field, and the given flag that the card also sets (or null).
struct real_target {
    double *value = nullptr;
    int *given = nullptr;
};

real_target real_field(card_id id, card_records &c) {
    project_params &p = c.p;
    grid_params &g = c.g;
    switch (id) {
    case card_id::gridsize: return {&g.gridsize};
    case card_id::timestep: return {&g.timestep};
    case card_id::outslope: return {&g.outslope};
    case card_id::manning_n: return {&p.manning_n, &p.manning_n_given};
    case card_id::hyd_freq: return {&g.hyd_freq};
    case card_id::rain_intensity: return {&c.r.rain_intensity};
    case card_id::latitude: return {&g.latitude};
    case card_id::longitude: return {&g.longitude};
    case card_id::gmt: return {&g.gmt, &g.gmt_given};
    case card_id::event_min_q: return {&p.event_min_q};
    case card_id::soil_moist_depth: return {&p.soil_moist_depth};
    case card_id::top_layer_depth: return {&p.top_layer_depth};
    case card_id::bound_depth: return {&p.bound_depth};
    case card_id::k_river: return {&p.k_river};
    case card_id::m_river: return {&p.m_river};
    case card_id::m_lake: return {&p.m_lake, &p.m_lake_given};
    case card_id::sand_size: return {&p.sand_size};
    case card_id::silt_size: return {&p.silt_size};
    case card_id::clay_size: return {&p.clay_size};
    case card_id::water_temp: return {&p.water_temp};
    case card_id::sed_porosity: return {&p.sed_porosity};
    case card_id::richards_weight: return {&p.richards_weight};
    case card_id::richards_dtheta_max: return {&p.richards_dtheta_max};
    case card_id::aquifer_delta_z: return {&p.aquifer_delta_z};
    case card_id::retention: return {&p.retention, &p.retention_given};
    case card_id::unif_area_reduction: return {&p.unif_area_reduction, &p.unif_area_reduction_given};
    case card_id::gw_timestep: return {&p.gw_timestep};
    case card_id::gw_lsor_con: return {&p.gw_lsor_con};
    case card_id::single_unsat_sat: return {&p.single_unsat_sat};
    case card_id::gw_leakage_rate: return {&p.gw_leakage_rate};
    case card_id::gw_relax_coeff: return {&p.gw_relax_coeff, &p.gw_relax_coeff_given};
    case card_id::gw_unif_porosity: return {&p.gw_unif_porosity, &p.gw_unif_porosity_given};
    case card_id::gw_unif_hycond: return {&p.gw_unif_hycond, &p.gw_unif_hycond_given};
    case card_id::chan_decay_coef: return {&p.chan_decay_coef};
    case card_id::chan_disp_coef: return {&p.chan_disp_coef};
    case card_id::init_chan_conc: return {&p.init_chan_conc};
    case card_id::ov_decay_coef: return {&p.ov_decay_coef};
    case card_id::ov_disp_coef: return {&p.ov_disp_coef};
    case card_id::ov_uptake_rate: return {&p.ov_uptake_rate};
    case card_id::ov_mass_load: return {&p.ov_mass_load};
    case card_id::max_courant_number: return {&p.max_courant_number};
    case card_id::first_order_chan_q: return {&p.first_order_chan_q};
    case card_id::init_elev_head: return {&p.init_elev_head, &p.init_elev_head_given};
    case card_id::st_time_step: return {&g.st_time_step};
    default: return {};
    }
}

name_card *name_field(card_id id, card_records &c) {
    project_params &p = c.p;
    switch (id) {
    case card_id::watershed_mask: return &p.watershed_mask;
    case card_id::elevation: return &p.elevation;
    case card_id::mapping_table: return &p.mapping_table;
    case card_id::st_mapping_table: return &p.st_mapping_table;
    case card_id::materials: return &p.materials;
    case card_id::section_table: return &p.section_table;
    case card_id::soil_type_map: return &p.soil_type_map;
    case card_id::soil_layer_input_file: return &p.soil_layer_input_file;
    case card_id::initial_depth: return &p.initial_depth;
    case card_id::storage_capacity: return &p.storage_capacity;
    case card_id::interception_coeff: return &p.interception_coeff;
    case card_id::roughness: return &p.roughness;
    case card_id::conductivity: return &p.conductivity;
    case card_id::capillary: return &p.capillary;
    case card_id::porosity: return &p.porosity;
    case card_id::pore_index: return &p.pore_index;
    case card_id::residual_sat: return &p.residual_sat;
    case card_id::albedo: return &p.albedo;
    case card_id::vheight: return &p.vheight;
    case card_id::tcoeff: return &p.tcoeff;
    case card_id::canopy: return &p.canopy;
    case card_id::wilting_point: return &p.wilting_point;
    case card_id::hmet_surfaways:
    case card_id::hmet_samson:
    case card_id::hmet_qar: return &p.hmet_file;
    case card_id::soil_erodability: return &p.soil_erodability;
    case card_id::crop_management: return &p.crop_management;
    case card_id::conservation_practice: return &p.conservation_practice;
    case card_id::sand_map: return &p.sand_map;
    case card_id::silt_map: return &p.silt_map;
    case card_id::in_sed_loc: return &p.in_sed_loc;
    case card_id::vol_sed_susp: return &p.vol_sed_susp;
    case card_id::max_sed_flux: return &p.max_sed_flux;
    case card_id::net_sed_volume: return &p.net_sed_volume;
    case card_id::outlet_sed_flux: return &p.outlet_sed_flux;
    case card_id::out_sed_loc: return &p.out_sed_loc;
    case card_id::water_table: return &p.water_table;
    case card_id::aquifer_bottom: return &p.aquifer_bottom;
    case card_id::in_theta_location: return &p.in_theta_location;
    case card_id::out_theta_location: return &p.out_theta_location;
    case card_id::in_hyd_location: return &p.in_hyd_location;
    case card_id::out_hyd_location: return &p.out_hyd_location;
    case card_id::out_dep_location: return &p.out_dep_location;
    case card_id::out_con_location: return &p.out_con_location;
    case card_id::lake_output: return &p.lake_output;
    case card_id::links: return &p.links;
    case card_id::nodes: return &p.nodes;
    case card_id::channel_input: return &p.channel_input;
    case card_id::dis_profile: return &p.dis_profile;
    case card_id::dis_profile_out: return &p.dis_profile_out;
    case card_id::wat_surf_profile: return &p.wat_surf_profile;
    case card_id::wat_surf_profile_out: return &p.wat_surf_profile_out;
    case card_id::precip_file: return &c.r.precip_file;
    case card_id::discharge: return &p.discharge;
    case card_id::depth: return &p.depth;
    case card_id::inf_depth: return &p.inf_depth;
    case card_id::surf_moist: return &p.surf_moist;
    case card_id::rate_of_infil: return &p.rate_of_infil;
    case card_id::dis_rain: return &p.dis_rain;
    case card_id::chan_depth: return &p.chan_depth;
    case card_id::chan_discharge: return &p.chan_discharge;
    case card_id::chan_velocity: return &p.chan_velocity;
    case card_id::summary: return &p.summary;
    case card_id::outlet_hydro: return &p.outlet_hydro;
    case card_id::sig_outlet_hydro: return &p.sig_outlet_hydro;
    case card_id::zep_hydro: return &p.zep_hydro;
    case card_id::cell_hydro: return &p.cell_hydro;
    case card_id::gw_fluxboundtable: return &p.gw_fluxboundtable;
    case card_id::gw_boundfile: return &p.gw_boundfile;
    case card_id::gw_output: return &p.gw_output;
    case card_id::gw_porosity_map: return &p.gw_porosity_map;
    case card_id::gw_hycond_map: return &p.gw_hycond_map;
    case card_id::gw_well_level: return &p.gw_well_level;
    case card_id::out_well_location: return &p.out_well_location;
    case card_id::plux: return &p.plux;
    case card_id::moist_to_plux: return &p.moist_to_plux;
    case card_id::ksat_to_plux: return &p.ksat_to_plux;
    case card_id::rough_to_plux: return &p.rough_to_plux;
    case card_id::poros_to_plux: return &p.poros_to_plux;
    case card_id::erosivity_to_plux: return &p.erosivity_to_plux;
    case card_id::crop_fact_to_plux: return &p.crop_fact_to_plux;
    case card_id::net_erosion_to_plux: return &p.net_erosion_to_plux;
    case card_id::moist_from_plux: return &p.moist_from_plux;
    case card_id::ksat_from_plux: return &p.ksat_from_plux;
    case card_id::rough_from_plux: return &p.rough_from_plux;
    case card_id::erosivity_from_plux: return &p.erosivity_from_plux;
    case card_id::crop_fact_from_plux: return &p.crop_fact_from_plux;
    case card_id::et_demand_from_plux: return &p.et_demand_from_plux;
    case card_id::chan_con_input: return &p.chan_con_input;
    case card_id::ov_point_source: return &p.ov_point_source;
    case card_id::ov_con_map: return &p.ov_con_map;
    case card_id::stream_cell: return &p.stream_cell;
    case card_id::dike_map: return &p.dike_map;
    case card_id::lowspot_file: return &p.lowspot_file;
    case card_id::write_chan_hotstart: return &p.write_chan_hotstart;
    case card_id::read_chan_hotstart: return &p.read_chan_hotstart;
    case card_id::write_ov_hotstart: return &p.write_ov_hotstart;
    case card_id::ov_init_depth: return &p.ov_init_depth;
    case card_id::overland_lake_map: return &p.overland_lake_map;
    case card_id::overland_lake_file: return &p.overland_lake_file;
    case card_id::sacramento: return &p.sacramento;
    case card_id::storm_sewer: return &p.storm_sewer;
    case card_id::grid_pipe: return &p.grid_pipe;
    case card_id::flood_grid: return &p.flood_grid;
    case card_id::flood_stream: return &p.flood_stream;
    case card_id::lake_pump: return &p.lake_pump;
    case card_id::zarn_file: return &p.zarn_file;
    case card_id::zarn_base_grid: return &p.zarn_base_grid;
    case card_id::zarn_base_stream: return &p.zarn_base_stream;
    case card_id::zarn_datasetgroup: return &p.zarn_datasetgroup;
    case card_id::q7_input: return &p.q7_input;
    case card_id::ov_pump: return &p.ov_pump;
    case card_id::fyssi: return &p.fyssi;
    case card_id::daily_output: return &p.daily_output;
    case card_id::q7_nodes_to_segs: return &p.q7_nodes_to_segs;
    case card_id::q7_segment_map: return &p.q7_segment_map;
    case card_id::q7_segment_fluxes: return &p.q7_segment_fluxes;
    case card_id::calib_obs_data: return &p.calib_obs_data;
    case card_id::pipe_flow: return &p.pipe_flow;
    case card_id::pipe_head: return &p.pipe_head;
    case card_id::pipe_tile: return &p.pipe_tile;
    case card_id::optimize: return &p.optimize;
    default: return nullptr;
    }
}

// The switch cards that store a number in a shared mode field.
bool set_mode(card_id id, card_records &c) {
    switch (id) {
    case card_id::green_ampt: c.g.infiltration_scheme = infiltration_green_ampt; return true;
    case card_id::inf_redist: c.g.infiltration_scheme = infiltration_redistribution; return true;
    case card_id::inf_layered_soil: c.g.infiltration_scheme = infiltration_layered_soil; return true;
    case card_id::inf_richards: c.g.infiltration_scheme = infiltration_richards; return true;
    case card_id::chan_preiss: c.g.channel_scheme = channel_preissmann; return true;
    case card_id::chan_drain: c.g.channel_scheme = channel_drain; return true;
    case card_id::chan_explic: c.g.channel_scheme = channel_explicit; return true;
    case card_id::chan_mesh: c.g.channel_scheme = channel_mesh; return true;
    case card_id::chan_backwater: c.g.channel_scheme = channel_backwater; return true;
    case card_id::precip_unif: c.r.precip_kind = 0; return true;
    case card_id::rain_inv_distance: c.r.interpolation = 0; return true;
    case card_id::rain_thiessen: c.r.interpolation = 1; return true;
    default: return false;
    }
}

// The rest of a card line without its leading and trailing blanks and tabs.
std::string trimmed_rest(const std::string &line) {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const std::size_t last = line.find_last_not_of(" \t");
    return line.substr(first, last - first + 1);
}

std::string lower_prefix(const std::string &token, std::size_t n) {
    std::string s = token.substr(0, n);
    for (char &ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

bool begins_with(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

// The card class that a nutrient card met before NUTRIENTS names in code 79.
const char *nutrient_card_class(card_id id) {
    const int v = static_cast<int>(id);
    auto in = [v](card_id first, card_id last) {
        return v >= static_cast<int>(first) && v <= static_cast<int>(last);
    };
    if (id == card_id::aq_env) return "AQ_ENV";
    if (id == card_id::ntr_sum) return "NTR_SUM";
    if (in(card_id::ov_init_no2, card_id::ov_dispersion)) return "OV_INIT_XXX";
    if (in(card_id::st_init_no2, card_id::st_init_do)) return "ST_INIT_XXX";
    if (in(card_id::out_ov_no2, card_id::out_ov_do)) return "OUT_OV_XXX";
    if (in(card_id::out_st_no2, card_id::out_st_do)) return "OUT_ST_XXX";
    if (in(card_id::out_hyd_no2, card_id::out_hyd_do)) return "OUT_HYD_XXX";
    return nullptr;
}

int offset(card_id id, card_id first) { return static_cast<int>(id) - static_cast<int>(first); }

// An initial-value card of the nutrient module: mapping table, uniform value or file.
void read_nutrient_source(std::string &line, nutrient_source &slot) {
    std::string token;
    if (!next_token(token, line)) {
        slot.kind = 2;
        return;
    }
    double value = 0.0;
    if (whole_token_double(token, value)) {
        slot.kind = 3;
        slot.value = value;
    } else {
        slot.kind = 1;
        slot.file = token;
    }
}

// Nutrient cards; false when the reading must end (code 79 stored).
bool read_nutrient_card(card_id id, std::string &line, project_params &p) {
    if (!p.nutrient_cards) {
        raise_error(79, nutrient_card_class(id));
        return false;
    }
    nutrient_card_record &n = *p.nutrient_cards;
    std::string token;
    if (id == card_id::aq_env) {
        next_token(n.aq_env_file, line);
    } else if (id == card_id::ntr_sum) {
        next_token(n.summary_file, line);
    } else if (offset(id, card_id::ov_init_no2) >= 0 && id <= card_id::ov_dispersion) {
        read_nutrient_source(line, n.overland_init[offset(id, card_id::ov_init_no2)]);
    } else if (offset(id, card_id::st_init_no2) >= 0 && id <= card_id::st_init_do) {
        read_nutrient_source(line, n.stream_init[offset(id, card_id::st_init_no2)]);
    } else {
        nutrient_output *slot = nullptr;
        if (id >= card_id::out_ov_no2 && id <= card_id::out_ov_do)
            slot = &n.overland_output[offset(id, card_id::out_ov_no2)];
        else if (id >= card_id::out_st_no2 && id <= card_id::out_st_do)
            slot = &n.stream_output[offset(id, card_id::out_st_no2)];
        else
            slot = &n.hydrograph_output[offset(id, card_id::out_hyd_no2)];
        slot->on = 1;
        next_token(slot->file, line);
    }
    return true;
}

// Cards with their own rules; false when the reading must end (code stored).
bool read_special_card(card_id id, std::string &line, card_records &c) {
    project_params &p = c.p;
    grid_params &g = c.g;
    std::string token;
    int number = 0;
    double real = 0.0;
    switch (id) {
    case card_id::units:
        if (!card_int(line, c, p.units_flag, any_value)) return false;
        std::printf("Units flag = %d\n", p.units_flag);
        return true;
    case card_id::start_date:
        if (!card_date(line, c, g.start_year, g.start_month, g.start_day)) return false;
        g.start_date_given = 1;
        return true;
    case card_id::start_time:
        if (!card_clock(line, c, g.start_hour, g.start_minute)) return false;
        g.start_time_given = 1;
        return true;
    case card_id::end_time:
        if (!card_date(line, c, g.end_year, g.end_month, g.end_day) ||
            !card_clock(line, c, g.end_hour, g.end_minute))
            return false;
        g.end_time_given = 1;
        return true;
    case card_id::reten_depth:
        if (!next_token(token, line)) {
            p.reten_depth.given = 1;
        } else if (whole_token_double(token, real)) {
            std::printf("Warning: Incorrect use of RETEN_DEPTH card\n  Usage: RETEN_DEPTH "
                        "<filename>-or-\nRETENTION <value>  -or-\nRETEN_DEPTH \n  Using %lf for "
                        "the uniform retention depth\n\n",
                        real);
            count_warning();
            p.retention = real;
            p.retention_given = 1;
        } else {
            p.reten_depth.name = token;
            p.reten_depth.given = 1;
        }
        return true;
    case card_id::moisture:
        p.moisture.name = trimmed_rest(line);
        p.moisture.given = 1;
        return true;
    case card_id::area_reduction:
        p.area_reduction.name = trimmed_rest(line);
        p.area_reduction.given = 1;
        return true;
    case card_id::soil_erosion:
        p.soil_erosion = 1;
        return optional_card_int(line, c, p.soil_erosion_value, any_value) >= 0;
    case card_id::richards_k_option:
        next_token(token, line);
        token = lower_prefix(token, 5);
        if (begins_with(token, "geom")) p.richards_k_option = 2;
        else if (begins_with(token, "arit")) p.richards_k_option = 1;
        return true;
    case card_id::richards_c_option:
        next_token(token, line);
        token = lower_prefix(token, 5);
        if (begins_with(token, "have")) p.richards_c_option = 2;
        else if (begins_with(token, "broo")) p.richards_c_option = 1;
        return true;
    case card_id::richards_upper_option:
        next_token(token, line);
        token = lower_prefix(token, 5);
        if (begins_with(token, "gree")) p.richards_upper_option = 2;
        else if (begins_with(token, "aver")) p.richards_upper_option = 3;
        else p.richards_upper_option = 0;
        return true;
    case card_id::overtype:
        if (next_token(token, line)) {
            if (whole_token_int(token, number)) {
                p.overland_scheme = number;
            } else {
                token = lower_prefix(token, token.size());
                if (token == "explicit") p.overland_scheme = 1;
                else if (token == "ade") p.overland_scheme = 2;
                else if (token == "ade-pc") p.overland_scheme = 3;
            }
        }
        return true;
    case card_id::hxt_event_num:
        p.hxt_event_num = -1;
        p.hxt_event_given = 1;
        return optional_card_int(line, c, p.hxt_event_num, any_value) >= 0;
    case card_id::flush_buffer:
        p.flush_buffer = 1;
        return optional_card_int(line, c, p.flush_interval, not_negative) >= 0;
    case card_id::time_series_file:
        next_token(token, line);
        read_time_series_file(token);
        return true;
    case card_id::elev_series_file:
        next_token(token, line);
        read_elevation_series_file(token);
        return true;
    case card_id::replace_params:
        next_token(token, line);
        if (read_replace_params(token) == 0) return true;
        raise_printed_error();  // a run without its list would read its tags as text
        return false;
    case card_id::replace_line:
        if (!card_int(line, c, number, any_value)) return false;
        replace_line_index = number - 1;
        return true;
    case card_id::replace_vals:
        next_token(token, line);
        if (read_replace_vals(token) == 0) return true;
        raise_printed_error();
        return false;
    case card_id::calib_comp_data:
        next_token(token, line);
        if (begins_with(token, "DAILY")) {
            p.calib_comp_data = 0;
        } else if (begins_with(token, "EVENT")) {
            p.calib_comp_data = 1;
        } else {
            p.calib_comp_data = 2;
            raise_error(103);
            return false;
        }
        return true;
    case card_id::calib_obj_func:
        next_token(token, line);
        if (token == "RMSE") {
            p.calib_obj_func = 0;
        } else if (token == "HMLE") {
            p.calib_obj_func = 1;
        } else {
            p.calib_obj_func = 2;
            raise_error(104);
            return false;
        }
        return true;
    case card_id::nutrients:
        // A second NUTRIENTS card starts a new record; the first one is released.
        p.nutrients = 1;
        p.nutrient_cards = std::make_unique<nutrient_card_record>();
        return true;
    case card_id::alpha:
        if (!card_real(line, c, real, any_value)) return false;
        std::printf("Alpha = %lf\n", real);
        return true;
    case card_id::beta:
        if (!card_real(line, c, real, any_value)) return false;
        std::printf("Beta = %lf\n", real);
        return true;
    case card_id::theta:
        if (!card_real(line, c, real, any_value)) return false;
        std::printf("Theta = %lf\n", real);
        return true;
    case card_id::channel_gridsize:
        if (!card_real(line, c, real, any_value)) return false;
        std::printf("Channel grid size = %lf\n", real);
        return true;
    case card_id::channel_deltat:
        if (!card_int(line, c, number, any_value)) return false;
        std::printf("Channel time step = %d\n", number);
        return true;
    case card_id::drain_time:
        if (!card_int(line, c, number, any_value)) return false;
        std::printf("Drainage time = %d\n", number);
        return true;
    case card_id::q_min:
        if (!card_real(line, c, real, any_value)) return false;
        std::printf("Minimum channel flow = %lf\n", real);
        return true;
    case card_id::n_links:
        if (!card_int(line, c, number, any_value)) return false;
        std::printf("Number of links = %d\n", number);
        return true;
    case card_id::max_nodes:
        if (!card_int(line, c, number, any_value)) return false;
        std::printf("Number of nodes = %d\n", number);
        return true;
    default:
        if (nutrient_card_class(id)) return read_nutrient_card(id, line, p);
        return true;  // read and without effect
    }
}

// Acts on one card; false when the reading must end.
bool apply_card(card_id id, std::string &line, card_records &c) {
    if (id == card_id::ignored || id == card_id::no_effect) return true;
    if (set_mode(id, c)) return true;
    if (int *flag = flag_field(id, c)) {
        *flag = 1;
        return true;
    }
    if (id == card_id::interception) {
        c.p.interception = 1;
        c.p.interception_coeff.given = 1;
        c.p.storage_capacity.given = 1;
        return true;
    }
    if (int *value = int_field(id, c)) return card_int(line, c, *value, card_range(id));
    if (real_target t = real_field(id, c); t.value) {
        if (!card_real(line, c, *t.value, card_range(id))) return false;
        if (t.given) *t.given = 1;
        return true;
    }
    if (name_card *card = name_field(id, c)) {
        next_token(card->name, line);
        card->given = 1;
        switch (id) {
        case card_id::precip_file: c.r.precip_kind = 1; break;
        case card_id::hmet_surfaways: c.p.hmet_surfaways = 1; break;
        case card_id::hmet_samson: c.p.hmet_samson = 1; break;
        case card_id::hmet_qar: c.p.hmet_qar = 1; break;
        case card_id::gw_fluxboundtable: c.g.flux_boundary_given = 1; break;
        default: break;
        }
        return true;
    }
    return read_special_card(id, line, c);
}

bool is_project_header(const std::string &line) {
    return line == "TULM2DPROJECT" || line == "KORVAPROJECT";
}

}  // namespace

void set_project_defaults(project_params &p, grid_params &g, rain_params &r) {
    p.k_river = 0.0;
    p.m_river = 1.0;
    p.m_lake = 10.0;
    p.event_min_q = 0.1;
    p.soil_moist_depth = 0.4;
    p.top_layer_depth = 0.1;
    p.richards_weight = 1.0;
    p.richards_dtheta_max = 0.0025;
    p.richards_iter_max = 1;
    p.richards_k_option = 2;
    p.richards_upper_option = 1;
    p.aquifer_delta_z = -999.9;
    p.max_courant_number = 0.2;
    p.first_order_chan_q = 0.0;
    p.gw_timestep = 1.0;
    p.gw_lsor_con = 1e-05;
    p.single_unsat_sat = 0.75;
    p.hxt_event_num = -1;
    p.x_freq = -1;
    p.xwin_width = 1000;
    p.xwin_height = 660;
    p.soil_erosion_value = 1;
    p.calib_comp_data = 2;
    p.calib_obj_func = 2;
    g.infiltration_scheme = infiltration_none;
    g.channel_scheme = channel_none;
    r.precip_kind = 0;
}

void read_project_file(const std::string &file_name, project_params &project, grid_params &grid,
                       rain_params &rain) {
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) {
        std::fprintf(stderr, "Error opening project file named: %s\n", file_name.c_str());
        grid.project_file_missing = 1;
        return;
    }

    std::string line;
    read_line(line, file);
    if (!is_project_header(line)) {
        std::fprintf(stderr, "File Does not Appear to be a Valid KORVA/TULM2D Project file\n");
        std::fprintf(stderr,
                     "Perhaps you Should Issue a 'dos2unix' Command if you are on a Unix machine?\n");
        std::fprintf(stderr, "KORVA Terminating....\n");
        std::fclose(file);
        raise_printed_error();
        return;
    }

    // Every reading starts from the records as a new run state holds them.
    init_project_params(project);
    init_grid_params(grid);
    init_rain_params(rain);
    set_project_defaults(project, grid, rain);

    card_records records{project, grid, rain, {}};
    while (read_line(line, file)) {
        std::string word_line = line;
        next_token(records.word, word_line);
        const card_id id = card_lookup(line);
        // The pre-processor's word is without effect on the run; the summary says
        // that such a project file was used.
        if (id == card_id::ignored && records.word.size() == 3 &&
            std::tolower(static_cast<unsigned char>(records.word[0])) == 'z' &&
            std::tolower(static_cast<unsigned char>(records.word[1])) == 'e' &&
            std::tolower(static_cast<unsigned char>(records.word[2])) == 'p')
            project.zep_project = 1;
        if (!apply_card(id, line, records)) break;
    }
    std::fclose(file);
}
