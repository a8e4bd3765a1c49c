// Run files: opens, in one pass and a fixed order, every input and output file
// that the cards name into its own slot of the run state, and closes every slot
// once at the end of the run. Called by run_model (open before any input is read,
// close in the one clean-up).
#include "model/project/run_files.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"

namespace {

// Result of one row of the table.
enum class row_result { opened, skipped, failed };

// The project card that names the file of a row, by the row's label.
const char *card_of_label(std::string_view label) {
    static constexpr std::pair<std::string_view, const char *> cards[] = {
        {"watershed mask", "WATERSHED_MASK"},     {"elevation data", "ELEVATION"},
        {"output summary", "SUMMARY"},            {"output hydrograph", "OUTLET_HYDRO"},
        {"soil type", "SOIL_TYPE_MAP"},           {"multi-layer soil table", "SOIL_LAYER_INPUT_FILE"},
        {"water table", "WATER_TABLE"},           {"aquifer bottom", "AQUIFER_BOTTOM"},
        {"groundwater boundary", "GW_BOUNDFILE"}, {"groundwater hycond", "GW_HYCOND_MAP"},
        {"groundwater porosity", "GW_POROSITY_MAP"}, {"well location", "OUT_WELL_LOCATION"},
        {"well level output", "GW_WELL_LEVEL"},   {"soil moisture", "MOISTURE"},
        {"Ks", "CONDUCTIVITY"},                   {"Hc", "CAPILLARY"},
        {"soil porosity", "POROSITY"},            {"pore dist. index", "PORE_INDEX"},
        {"residual saturation", "RESIDUAL_SAT"},  {"albedo", "ALBEDO"},
        {"channel link", "LINKS"},                {"channel node", "NODES"},
        {"channel input", "CHANNEL_INPUT"},       {"grid-stream connectivity", "STREAM_CELL"},
        {"retention depth", "RETEN_DEPTH"},       {"Manning roughness", "ROUGHNESS"},
        {"raingage data", "PRECIP_FILE"},         {"overland lake map", "OVERLAND_LAKE_MAP"},
        {"overland lake data", "OVERLAND_LAKE_FILE"},
        {"interception storage", "STORAGE_CAPACITY"},
        {"interception coeff.", "INTERCEPTION_COEFF"},
    };
    for (const auto &[l, card] : cards)
        if (l == label) return card;
    return nullptr;
}

// Opens one row into its slot. A slot that already holds a stream (a file that two
// rows name) is not opened again. A failure is code 4 with the label and the name,
// unless `exempt`, when the slot stays empty and the pass goes on. A row that the
// run needs but whose card is missing (no name) says which card to give.
row_result open_row(std::FILE *&slot, std::string &name, const char *mode, const char *label,
                    bool exempt = false) {
    if (slot) return row_result::opened;
    slot = open_run_file(name, mode);
    if (slot) return row_result::opened;
    if (exempt) return row_result::skipped;
    raise_open_error(label, name, card_of_label(label));
    return row_result::failed;
}

// A point-list output: its failure carries its own code with the output name as
// the first text and the list of points as the second.
bool open_point_row(std::FILE *&slot, std::string &name, int code, const std::string &first,
                    const std::string &second) {
    if (slot) return true;
    slot = open_run_file(name, "w");
    if (slot) return true;
    raise_error(code, first, second);
    return false;
}

// The pipe-network outputs are opened with the plain library call: their names keep
// any quotes and never take the run prefix of a calibration series.
bool open_plain_row(std::FILE *&slot, const std::string &name, const char *label) {
    if (slot) return true;
    slot = open_output_file(name, "w");
    if (slot) return true;
    raise_error(4, label, name);
    return false;
}

void write_evap_header(model_state &s) {
    std::fprintf(s.evap_out_file,
                 "year/month/day hour avgsomo avg_pot  avgetrate  avgfav  avgbottomfav  CFGI "
                 "temp(C)");
    if (s.inf_redist) std::fprintf(s.evap_out_file, "  avg_somo_L1  avg_somo_L2");
    std::fprintf(s.evap_out_file, "\n");
}

// Rows 5 to 16: groundwater and soil files.
bool open_soil_rows(model_state &s) {
    const bool gw = s.groundwater_on != 0;
    const bool richards = s.inf_richards != 0;
    if (gw && open_row(s.gw_boundary_file, s.gw_boundfile_name, "r", "groundwater boundary") ==
                  row_result::failed)
        return false;
    if (gw && s.gw_well_level_on) {
        if (open_row(s.well_location_file, s.out_well_location_name, "r", "well location") ==
            row_result::failed)
            return false;
        if (open_row(s.well_level_file, s.gw_well_level_name, "w", "well level output") ==
            row_result::failed)
            return false;
    }
    if (gw && s.gw_hycond_map_on &&
        open_row(s.gw_hycond_file, s.gw_hycond_map_name, "r", "groundwater hycond") ==
            row_result::failed)
        return false;
    if (gw && s.gw_porosity_map_on &&
        open_row(s.gw_porosity_file, s.gw_porosity_map_name, "r", "groundwater porosity") ==
            row_result::failed)
        return false;
    if (gw && !richards) {
        if (open_row(s.water_table_file, s.water_table_name, "r", "water table") ==
            row_result::failed)
            return false;
        if (open_row(s.aquifer_bottom_file, s.aquifer_bottom_name, "r", "aquifer bottom") ==
            row_result::failed)
            return false;
    }

    if (s.inf_layered || richards || s.inf_redist) {
        if (s.soil_type_name.empty() && s.mapping_table_on) {
            const int form = s.richards_c_option == 1 ? 1 : (s.richards_c_option == 2 ? 2 : 0);
            if (form != 0) find_richards_index_map(s.mapping_table_name, form, s.soil_type_name);
        }
        // These two are needed only by a Richards run without a Richards table.
        const bool exempt = !(richards && !s.table_present[table_slot::richards_brooks] &&
                              !s.table_present[table_slot::richards_havercamp]);
        if (!exempt && s.soil_type_name.empty() && s.mapping_table_on) {
            // The open below fails with the file's label; this names the table's file.
            std::printf("Error: no Richards soil: mapping table file %s has no "
                        "RICHARDS_EQN_INFILTRATION_BROOKS or RICHARDS_EQN_INFILTRAIION_HAVERCAMP "
                        "table, and no SOIL_TYPE_MAP card names a soil map.\n",
                        s.mapping_table_name.c_str());
        }
        if (open_row(s.soil_type_file, s.soil_type_name, "r", "soil type", exempt) ==
            row_result::failed)
            return false;
        if (open_row(s.soil_layer_file, s.soil_layer_name, "r", "multi-layer soil table",
                     exempt) == row_result::failed)
            return false;
        if (s.water_table_on && open_row(s.water_table_file, s.water_table_name, "r",
                                         "water table") == row_result::failed)
            return false;
        if (gw && open_row(s.aquifer_bottom_file, s.aquifer_bottom_name, "r", "aquifer bottom") ==
                      row_result::failed)
            return false;
    }

    if (richards || s.inf_redist) {
        const bool was_open = s.evap_out_file != nullptr;
        std::string evap_name = "evap_out";
        if (open_row(s.evap_out_file, evap_name, "w", "evaporation output") ==
            row_result::failed)
            return false;
        if (!was_open) write_evap_header(s);
    }
    return true;
}

// Rows 17 to 28: Green and Ampt parameter maps and the long-term inputs.
bool open_parameter_rows(model_state &s) {
    const project_params &p = s.project;
    if (s.inf_green_ampt || s.inf_redist) {
        if (!p.moisture.given && s.mapping_table_on &&
            s.table_present[table_slot::initial_moisture] == 0) {
            // The open below fails with the file's label; this names the table's file.
            std::printf("Error: no initial soil moisture: mapping table file %s has no "
                        "GREEN_AMPT_INITIAL_SOIL_MOISTURE table, and no MOISTURE card names a "
                        "map.\n",
                        s.mapping_table_name.c_str());
        }
        if ((p.moisture.given || s.mapping_table_on) &&
            open_row(s.moisture_file, s.moisture_name, "r", "soil moisture",
                     s.table_present[table_slot::initial_moisture] != 0) == row_result::failed)
            return false;
        const bool ga_table = s.table_present[table_slot::green_ampt] != 0;
        struct ga_row {
            int given;
            std::FILE **slot;
            std::string *name;
            const char *label;
            bool redistribution_only;
        };
        const ga_row rows[] = {
            {p.conductivity.given, &s.conductivity_file, &s.conductivity_name, "Ks", false},
            {p.capillary.given, &s.capillary_file, &s.capillary_name, "Hc", false},
            {p.porosity.given, &s.porosity_file, &s.porosity_name, "soil porosity", false},
            {p.pore_index.given, &s.pore_index_file, &s.pore_index_name, "pore dist. index",
             true},
            {p.residual_sat.given, &s.residual_sat_file, &s.residual_sat_name,
             "residual saturation", true},
        };
        for (const ga_row &r : rows) {
            if (r.redistribution_only && !s.inf_redist) continue;
            if (!(r.given || ga_table)) continue;
            if (open_row(*r.slot, *r.name, "r", r.label, ga_table) == row_result::failed)
                return false;
        }
    }

    if (s.long_term) {
        if (open_row(s.hydromet_file, s.hydromet_name, "r", "hydromet data") == row_result::failed)
            return false;
        const bool et_table = s.table_present[table_slot::evapotranspiration] != 0;
        if (p.albedo.given &&
            open_row(s.albedo_file, s.albedo_name, "r", "albedo", et_table) == row_result::failed)
            return false;
        if (s.et_penman) {
            struct et_row {
                int given;
                std::FILE **slot;
                std::string *name;
                const char *label;
            };
            const et_row rows[] = {
                {p.vheight.given, &s.vheight_file, &s.vheight_name, "veg. height"},
                {p.tcoeff.given, &s.tcoeff_file, &s.tcoeff_name, "trans. coeff"},
                {p.canopy.given, &s.canopy_file, &s.canopy_name, "canopy resist."},
                {p.wilting_point.given, &s.wilting_point_file, &s.wilting_point_name,
                 "wilting point"},
            };
            for (const et_row &r : rows)
                if (r.given &&
                    open_row(*r.slot, *r.name, "r", r.label, et_table) == row_result::failed)
                    return false;
        }
    }
    return true;
}

// Rows 29 to 45: precipitation, channels, interception, lakes, retention,
// roughness and the channel profiles and hotstarts.
bool open_network_rows(model_state &s) {
    const project_params &p = s.project;
    if (s.gauge_file_on &&
        open_row(s.precip_file, s.precip_name, "r", "raingage data") == row_result::failed)
        return false;
    if (s.chan_explicit && !s.non_ortho_channels) {
        if (open_row(s.links_file, s.links_name, "r", "channel link") == row_result::failed)
            return false;
        if (open_row(s.nodes_file, s.nodes_name, "r", "channel node") == row_result::failed)
            return false;
    }
    if ((s.chan_explicit || s.chan_mesh) && p.non_ortho_channels) {
        if (s.stream_cell_name.empty()) s.stream_cell_name = p.stream_cell.name;
        if (open_row(s.stream_cell_file, s.stream_cell_name, "r", "grid-stream connectivity") ==
            row_result::failed)
            return false;
    }
    if (s.interception_on || p.interception_coeff.given) {
        const bool table = s.table_present[table_slot::interception] != 0;
        if (open_row(s.storage_capacity_file, s.storage_capacity_name, "r",
                     "interception storage", table) == row_result::failed)
            return false;
        if (open_row(s.interception_coeff_file, s.interception_coeff_name, "r",
                     "interception coeff.", table) == row_result::failed)
            return false;
    }
    if (p.overland_lake_map.given) {
        if (open_row(s.overland_lake_map_file, s.overland_lake_map_name, "r",
                     "overland lake map") == row_result::failed)
            return false;
        if (open_row(s.overland_lake_data_file, s.overland_lake_file_name, "r",
                     "overland lake data") == row_result::failed)
            return false;
    }
    if (p.reten_depth.given &&
        open_row(s.retention_file, s.retention_name, "r", "retention depth",
                 s.table_present[table_slot::retention] != 0) == row_result::failed)
        return false;
    if (s.roughness_map_on &&
        open_row(s.roughness_file, s.roughness_name, "r", "Manning roughness",
                 s.table_present[table_slot::roughness] != 0) == row_result::failed)
        return false;
    if (s.chan_explicit &&
        open_row(s.channel_input_file, s.channel_input_name, "r", "channel input") ==
            row_result::failed)
        return false;
    if (s.explic_backwater) {
        if (open_row(s.wat_surf_profile_out_file, s.wat_surf_profile_out_name, "w",
                     "channel depth") == row_result::failed)
            return false;
        if (open_row(s.dis_profile_out_file, s.dis_profile_out_name, "w", "channel discharge") ==
            row_result::failed)
            return false;
    }
    if (p.ov_init_depth.given &&
        open_row(s.ov_hotstart_file, s.ov_init_depth_name, "r", "overland hotstart") ==
            row_result::failed)
        return false;
    if ((s.chan_explicit || s.chan_mesh) && p.write_chan_hotstart.given) {
        if (s.write_chan_hotstart_name.empty())
            s.write_chan_hotstart_name = p.write_chan_hotstart.name;
        if (open_row(s.chan_hotstart_out_file, s.write_chan_hotstart_name, "w",
                     "channel hotstart") == row_result::failed)
            return false;
    }
    if (s.explic_hotstart) {
        if (open_row(s.wat_surf_profile_file, s.wat_surf_profile_name, "r", "channel depth") ==
            row_result::failed)
            return false;
        if (open_row(s.dis_profile_file, s.dis_profile_name, "r", "channel discharge") ==
            row_result::failed)
            return false;
    }
    return true;
}

// Rows 46 to 61: point outputs, channel series, flood stage, nutrients, pipes.
bool open_output_rows(model_state &s) {
    const project_params &p = s.project;
    if (s.in_hyd_location_on) {
        if (open_row(s.hyd_location_file, s.in_hyd_location_name, "r", "hydrograph location") ==
            row_result::failed)
            return false;
        if (!open_point_row(s.hyd_location_out_file, s.out_hyd_location_name, 51,
                            s.out_hyd_location_name, s.in_hyd_location_name))
            return false;
    }
    if (s.sig_outlet_hydro_on &&
        open_row(s.sig_outlet_hydro_file, s.sig_outlet_hydro_name, "w",
                 "optional 6 digit hydrograph") == row_result::failed)
        return false;
    if (s.lake_output_on &&
        open_row(s.lake_output_file, s.lake_output_name, "w", "lake output") == row_result::failed)
        return false;
    if (s.out_dep_location_on &&
        !open_point_row(s.dep_location_out_file, s.out_dep_location_name, 50,
                        s.out_dep_location_name, s.in_hyd_location_name))
        return false;
    if (p.out_con_location.given &&
        !open_point_row(s.con_location_out_file, s.out_con_location_name, 49,
                        s.out_con_location_name, s.in_hyd_location_name))
        return false;
    if (s.in_theta_location_on) {
        if (open_row(s.theta_location_file, s.in_theta_location_name, "r", "in_theta location") ==
            row_result::failed)
            return false;
        if (!open_point_row(s.theta_location_out_file, s.out_theta_location_name, 48,
                            s.in_theta_location_name, s.out_theta_location_name))
            return false;
    }
    if (p.chan_depth.given &&
        open_row(s.chan_depth_out_file, s.chan_depth_name, "w", "output channel depth") ==
            row_result::failed)
        return false;
    if (p.chan_discharge.given &&
        open_row(s.chan_discharge_out_file, s.chan_discharge_name, "w",
                 "output channel discharge") == row_result::failed)
        return false;
    if (p.chan_velocity.given &&
        open_row(s.chan_velocity_out_file, s.chan_velocity_name, "w", "output channel velocity") ==
            row_result::failed)
        return false;
    if (p.flood_stream.given &&
        open_row(s.flood_stream_file, s.flood_stream_name, "w", "output flood stream stage") ==
            row_result::failed)
        return false;
    if (s.nutrients_on) {
        open_nutrient_hydrograph_files(s);
        if (error_record.fatal || error_record.code != 0) return false;
    }
    if (s.storm_sewer_on) {
        if (p.pipe_head.given && !open_plain_row(s.pipe_head_file, s.pipe_head_name, "superlink head"))
            return false;
        if (p.pipe_tile.given && !open_plain_row(s.pipe_tile_file, s.pipe_tile_name, "superlink tile"))
            return false;
        if (p.pipe_flow.given && !open_plain_row(s.pipe_flow_file, s.pipe_flow_name, "superlink flow"))
            return false;
    }
    return true;
}

// Calls f on every stream slot of the run, in the fixed order of closing; the
// nutrient files and the nutrient summary are closed after these.
template <class State, class F>
void for_each_slot(State &s, F &&f) {
    for (auto *slot : {
             &s.mask_file,               &s.elevation_file,          &s.summary_file,
             &s.outlet_hydro_file,       &s.gw_boundary_file,        &s.well_location_file,
             &s.well_level_file,         &s.gw_hycond_file,          &s.gw_porosity_file,
             &s.water_table_file,        &s.aquifer_bottom_file,     &s.soil_type_file,
             &s.soil_layer_file,         &s.evap_out_file,           &s.moisture_file,
             &s.conductivity_file,       &s.capillary_file,          &s.porosity_file,
             &s.pore_index_file,         &s.residual_sat_file,       &s.hydromet_file,
             &s.albedo_file,             &s.vheight_file,            &s.tcoeff_file,
             &s.canopy_file,             &s.wilting_point_file,      &s.precip_file,
             &s.links_file,              &s.nodes_file,              &s.stream_cell_file,
             &s.storage_capacity_file,   &s.interception_coeff_file, &s.overland_lake_map_file,
             &s.overland_lake_data_file, &s.retention_file,          &s.roughness_file,
             &s.channel_input_file,      &s.wat_surf_profile_out_file, &s.dis_profile_out_file,
             &s.ov_hotstart_file,        &s.chan_hotstart_out_file,  &s.wat_surf_profile_file,
             &s.dis_profile_file,        &s.hyd_location_file,       &s.hyd_location_out_file,
             &s.sig_outlet_hydro_file,   &s.lake_output_file,        &s.dep_location_out_file,
             &s.con_location_out_file,   &s.theta_location_file,     &s.theta_location_out_file,
             &s.chan_depth_out_file,     &s.chan_discharge_out_file, &s.chan_velocity_out_file,
             &s.flood_stream_file,       &s.pipe_head_file,          &s.pipe_tile_file,
             &s.pipe_flow_file,          &s.outlet_inflow_file,      &s.point_output_file,
         })
        f(*slot);
    for (int k = 0; k < nutrient_species_count; ++k) {
        f(s.nutrient_conc_files[k]);
        f(s.nutrient_mass_files[k]);
    }
}

void close_slot(std::FILE *&slot) { close_run_file(slot); }

}  // namespace

namespace {

// The folder that an output written during or after the run goes into must
// exist when the run is set up, so that the run is refused before its first step
// rather than stopped in the middle with its summary cut short.
bool output_folder_exists(const char *card, const std::string &file) {
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    const std::string folder = file.substr(0, slash);
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    std::printf("Error: card %s: the folder %s for its output file %s does not exist.\n", card,
                folder.c_str(), file.c_str());
    raise_printed_error();
    return false;
}

bool check_output_folders(const model_state &s) {
    // Per-time depth maps go into the folder "depth".
    if (s.grid_map_files_on && s.depth_out && !output_folder_exists("DEPTH", "depth/depth.01"))
        return false;
    // The pipe network writes its series into the folders slink and debug.
    if (s.storm_sewer_on && (!output_folder_exists("STORM_SEWER", "slink/head.out") ||
                             !output_folder_exists("STORM_SEWER", "debug/matrix.out")))
        return false;
    const project_params &p = s.project;
    if (p.write_ov_hotstart.given) {
        std::string name = p.write_ov_hotstart.name;
        strip_quotes(name);
        if (!output_folder_exists("WRITE_OV_HOTSTART", run_file_name(name, "w"))) return false;
    }
    return true;
}

}  // namespace

void open_project_files(model_state &s) {
    if (open_row(s.mask_file, s.mask_name, "r", "watershed mask") == row_result::failed) return;
    if (open_row(s.elevation_file, s.elevation_name, "r", "elevation data") == row_result::failed)
        return;
    if (open_row(s.summary_file, s.summary_name, "w", "output summary") == row_result::failed)
        return;
    if (open_row(s.outlet_hydro_file, s.outlet_hydro_name, "w", "output hydrograph") ==
        row_result::failed)
        return;
    if (!open_soil_rows(s)) return;
    if (!open_parameter_rows(s)) return;
    if (!open_network_rows(s)) return;
    if (!open_output_rows(s)) return;
    check_output_folders(s);
}

void open_nutrient_hydrograph_files(model_state &s) {
    const nutrient_card_record *n = s.project.nutrient_cards.get();
    if (!n) return;
    for (int k = 0; k < nutrient_species_count; ++k) {
        const nutrient_output &out = n->hydrograph_output[k];
        if (!out.on) continue;
        struct kind {
            const char *suffix;
            std::FILE *&slot;
            const char *message;
            const char *label;
        };
        const kind kinds[2] = {
            {".conc", s.nutrient_conc_files[k],
             "Error opening nutrient concentration output file (hydrograph style )\nfor the %s "
             "hydrograph file. \nGiven filename: %s\n",
             "nutrient concentration"},
            {".mass", s.nutrient_mass_files[k],
             "Error opening nutrient mass output file (hydrograph style )\nfor the %s hydrograph "
             "file. \nGiven filename: %s\n",
             "nutrient mass"},
        };
        for (const kind &kd : kinds) {
            std::string name = out.file + kd.suffix;
            if (s.nutrient_summary_file)
                std::fprintf(s.nutrient_summary_file, "Opening file: %s\n", name.c_str());
            if (kd.slot) continue;
            kd.slot = open_run_file(name, "w");
            if (kd.slot) continue;
            if (s.nutrient_summary_file)
                std::fprintf(s.nutrient_summary_file, kd.message, qvl_species_name(k),
                             name.c_str());
            raise_error(4, kd.label, name);
            return;
        }
    }
}

void write_outlet_inflow_header(model_state &s, const std::string &file_name) {
    if (s.outlet_inflow_file) return;
    s.outlet_inflow_file = open_run_file(file_name, "w");
    if (!s.outlet_inflow_file) return;  // its header and rows are skipped
    std::fprintf(s.outlet_inflow_file, "  output from %s\n", "KORVA");
    std::fprintf(s.outlet_inflow_file, "\n");
    std::fprintf(s.outlet_inflow_file, "    JDAY     QIN\n");
}

void close_run_files(model_state &s) {
    if (s.nutrients_on && s.nutrient_summary_file)
        std::fprintf(s.nutrient_summary_file, "Closing the nutrient output files...\n");
    for_each_slot(s, close_slot);
    close_slot(s.nutrient_summary_file);
    s.superlink_work.close_files();
}

int open_run_file_count(const model_state &s) {
    int open = 0;
    for_each_slot(s, [&open](std::FILE *const &slot) {
        if (slot) ++open;
    });
    if (s.nutrient_summary_file) ++open;
    return open;
}
