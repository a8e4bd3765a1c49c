// The per-step time-series writer: at every hydrograph interval one line into each
// open time-series file (outlet hydrograph, its twin, point outputs, soil moisture,
// well levels, lakes, sediment, nutrients, link/node series). The time loop calls
// write_time_series after all process pieces of a turn.
#include "model/output/hydrographs.h"
#include "model/output/contaminant_summaries.h"

#include <cstddef>

#include "model/core/calendar.h"
#include "model/project/card_records.h"
#include "model/core/globals.h"
#include "model/hydrology/soil_water_pieces.h"
#include "model/core/model_state.h"
#include "model/output/output_writers.h"

namespace {

// The time field of the point lines: elapsed minutes in events, the date number
// in long-term runs.
void write_point_time(const model_state &s, std::FILE *file) {
    if (s.long_term)
        std::fprintf(file, "%16.8lf ", s.longterm_date_number);
    else
        std::fprintf(file, "%14.8lf ", s.elapsed_minutes);
}

double cfs_factor(const model_state &s) {
    return s.discharge_in_cfs ? s.cubic_feet_per_cubic_metre : 1.0;
}

void write_hydrograph_points(model_state &s) {
    if (s.in_hyd_location_on && s.hyd_location_out_file) {
        std::FILE *f = s.hyd_location_out_file;
        write_point_time(s, f);
        for (int k = 1; k <= s.hyd_location_count; ++k)
            std::fprintf(f, "%12.6lf ", hydrograph_point_discharge(s, k) * cfs_factor(s));
        std::fprintf(f, "\n");
    }
    if (s.out_dep_location_on && s.dep_location_out_file) {
        std::FILE *f = s.dep_location_out_file;
        write_point_time(s, f);
        for (int k = 1; k <= s.hyd_location_count; ++k)
            std::fprintf(f, "%12.6lf ", hydrograph_point_depth(s, k));
        std::fprintf(f, "\n");
    }
    if (s.out_con_location_on && s.con_location_out_file) {
        std::FILE *f = s.con_location_out_file;
        write_point_time(s, f);
        const int contaminants = s.hyd_location_count > 0 ? channel_contaminant_count(s) : 0;
        for (int k = 1; k <= s.hyd_location_count; ++k)
            for (int c = 1; c <= contaminants; ++c)
                std::fprintf(f, "%12.6lf ", hydrograph_point_concentration(s, k, c));
        std::fprintf(f, "\n");
    }
}

void write_well_levels(model_state &s) {
    std::FILE *f = s.well_level_file;
    write_point_time(s, f);
    for (int k = 1; k <= s.gw_output_location_count; ++k) {
        const std::size_t row = static_cast<std::size_t>(s.gw_output_rows[static_cast<std::size_t>(k)]);
        const std::size_t col = static_cast<std::size_t>(s.gw_output_cols[static_cast<std::size_t>(k)]);
        const int cell = s.cell_number_grid[row][col];
        const double level = cell > 0 && !s.water_table_elevation.empty()
                                 ? s.water_table_elevation[static_cast<std::size_t>(cell)]
                                 : 0.0;
        std::fprintf(f, "%12.6lf ", level);
    }
    std::fprintf(f, "\n");
}

void write_lake_line(model_state &s) {
    std::FILE *f = s.lake_output_file;
    if (s.long_term) {
        int year = 0, month = 0, day = 0, hour = 0, minute = 0;
        double second = 0.0;
        calendar_date(s.now_days, year, month, day, hour, minute, second);
        std::fprintf(f, "%4d %2d %2d %2d %2d ", year, month, day, hour, minute);
    } else {
        std::fprintf(f, "%14.8lf ", s.elapsed_minutes);
    }
    // Water-surface elevation (m) and volume (m3) of each lake.
    for (int k = 1; k <= s.overland_lake_count; ++k) {
        const lake_record &lake = s.lakes[static_cast<std::size_t>(k)];
        std::fprintf(f, "%9.3lf  %9.3lf ", lake.elevation, lake.volume);
    }
    // Then each lake of the channel network, in its own numbering.
    const channel_network &net = s.channels;
    for (int k = 1; k <= net.lake_count && static_cast<std::size_t>(k) < net.lakes.size(); ++k) {
        const channel_lake &lake = net.lakes[static_cast<std::size_t>(k)];
        std::fprintf(f, "%9.3lf  %9.3lf ", lake.wse, lake.volume);
    }
    std::fprintf(f, "\n");
}

}  // namespace

namespace {

// Node and link of hydrograph point k when the point lies in the network.
bool point_position(const model_state &s, int k, std::size_t &node, std::size_t &link) {
    if (k < 1 || static_cast<std::size_t>(k) >= s.hyd_location_link.size() ||
        static_cast<std::size_t>(k) >= s.hyd_location_node.size())
        return false;
    link = static_cast<std::size_t>(s.hyd_location_link[static_cast<std::size_t>(k)]);
    node = static_cast<std::size_t>(s.hyd_location_node[static_cast<std::size_t>(k)]);
    const array_2d<double> &q = s.channels.qp;
    return !q.empty() && node >= 1 && link >= 1 && node <= q.rows() && link <= q.cols();
}

}  // namespace

double hydrograph_point_discharge(const model_state &s, int k) {
    std::size_t node = 0, link = 0;
    return point_position(s, k, node, link) ? s.channels.qp[node][link] : 0.0;
}

double hydrograph_point_depth(const model_state &s, int k) {
    std::size_t node = 0, link = 0;
    if (!point_position(s, k, node, link) || s.channels.yp.empty() || s.channels.bel.empty())
        return 0.0;
    return s.channels.yp[node][link] - s.channels.bel[node][link];
}

double hydrograph_point_concentration(const model_state &s, int k, int c) {
    std::size_t node = 0, link = 0;
    const array_3d<double> &conc = s.chan.chan_node_conc;
    if (!point_position(s, k, node, link) || conc.empty() || c < 1 ||
        static_cast<std::size_t>(c) > conc.extent1() || node > conc.extent2() ||
        link > conc.extent3())
        return 0.0;
    return conc[static_cast<std::size_t>(c)][node][link];
}

int channel_contaminant_count(const model_state &s) { return s.chan.constituent_count; }

namespace {

// Moisture of the upper and lower root-zone layers of a redistribution cell; a
// layer the cell's root zone does not reach reads 999.99, as in the hourly lines.
void layer_moistures(const model_state &s, std::size_t c, double &upper, double &lower) {
    upper = lower = 999.99;
    if (s.root_zone_depth.empty() || s.root_upper_water.empty() || s.root_lower_water.empty())
        return;
    const double d = s.root_zone_depth[c], top = s.top_layer_depth_cm;
    const double l1 = d <= top ? d : top;
    if (l1 > 0.0) upper = s.root_upper_water[c] / l1;
    if (d > top) lower = s.root_lower_water[c] / (d - top);
}

}  // namespace

void write_theta_location_values(model_state &s, std::FILE *f) {
    for (int k = 1; k <= s.theta_location_count; ++k) {
        const std::size_t kk = static_cast<std::size_t>(k);
        const std::size_t c = static_cast<std::size_t>(s.theta_location_cell[kk]);
        if (s.inf_richards) {
            // The water content at each listed depth node of the location's column.
            for (int d = 1; d <= s.theta_location_depths[kk]; ++d) {
                const std::size_t node =
                    static_cast<std::size_t>(s.theta_location_nodes[kk][static_cast<std::size_t>(d)]);
                std::fprintf(f, "%12.6lf ", s.richards_theta.empty() ? 0.0 : s.richards_theta[c][node]);
            }
        } else if (s.inf_redist && s.long_term) {
            double upper = 0.0, lower = 0.0;
            layer_moistures(s, c, upper, lower);
            std::fprintf(f, "%12.6lf %12.6lf ", upper, lower);
        } else {
            std::fprintf(f, "%12.6lf ", cell_soil_moisture(s, static_cast<int>(c)));
        }
    }
    std::fprintf(f, "\n");
}

bool is_hydrograph_step(const model_state &s) {
    if (parallel_layout.suppress_output) return false;
    // The last turn of a run writes the values of its end, as the maps do.
    const int interval = s.hydrograph_interval_steps > 0 ? s.hydrograph_interval_steps : 1;
    return s.step_number % interval == 0 || !s.keep_running;
}

double longterm_date_number(const model_state &s) {
    if (s.strict_julian_date) return s.now_days;
    const double minutes_of_year =
        static_cast<double>(s.day_of_year) * 1440.0 + static_cast<double>(s.hour) * 60.0 +
        static_cast<double>(s.minute);
    const double divisor = (s.year - 1900) % 4 == 0 ? 527040.0 : 525600.0;
    return static_cast<double>(s.year) + minutes_of_year / divisor;
}

void write_outlet_hydrograph_line(model_state &s) {
    const double q = s.outlet_discharge * cfs_factor(s);
    double time = s.elapsed_minutes;
    if (s.long_term)
        time = s.longterm_date_number;
    else if (s.strict_julian_date)
        time = s.now_days;

    if (std::FILE *f = s.outlet_hydro_file) {
        if (s.long_term)
            std::fprintf(f, "%16.8lf %11.4lf\n", time, q);
        else if (s.strict_julian_date)
            std::fprintf(f, s.discharge_in_cfs ? "%16.8lf %10.3lf\n" : "%16.8lf %9.3lf\n", time, q);
        else
            std::fprintf(f, s.discharge_in_cfs ? "%8.2lf %10.3lf\n" : "%8.2lf %9.3lf\n", time, q);
    }
    if (s.sig_outlet_hydro_file) std::fprintf(s.sig_outlet_hydro_file, "%8.2lf %12.6lf\n", time, q);
    s.outlet_line_count += 1;
}

void write_outlet_inflow_row(model_state &s, double day, float discharge) {
    if (!s.outlet_inflow_file) return;
    std::fprintf(s.outlet_inflow_file, "%-8.1lf %-7.1f\n", day, static_cast<double>(discharge));
}

void nutrient_outlet_values(const model_state &s, int k, double &concentration,
                            double &mass_flux) {
    concentration = 0.0;
    mass_flux = 0.0;
    const array_3d<double> &conc = s.nutrient.stream.conc;
    const int link = s.channels.link_count;
    if (conc.empty() || k < 0 || k >= nutrient_species_count || link < 1 ||
        static_cast<std::size_t>(link) > conc.extent2())
        return;
    // The outlet node is the last computational node of the last link.
    const int node = int_at(s.channels.comp_node_count, link);
    if (node < 1 || static_cast<std::size_t>(node) > conc.extent3()) return;
    concentration = conc[static_cast<std::size_t>(k) + 1][static_cast<std::size_t>(link)]
                        [static_cast<std::size_t>(node)];
    mass_flux = concentration * s.outlet_discharge;
}

void write_nutrient_hydrographs(model_state &s) {
    const nutrient_card_record *cards = s.project.nutrient_cards.get();
    if (!cards) return;
    const double time = s.long_term ? s.longterm_date_number : s.elapsed_minutes;
    for (int k = 0; k < nutrient_species_count; ++k) {
        if (!cards->hydrograph_output[static_cast<std::size_t>(k)].on) continue;
        double concentration = 0.0, mass_flux = 0.0;
        nutrient_outlet_values(s, k, concentration, mass_flux);
        if (std::FILE *f = s.nutrient_conc_files[static_cast<std::size_t>(k)])
            std::fprintf(f, "%16.8lf %11.4lf\n", time, concentration);
        if (std::FILE *f = s.nutrient_mass_files[static_cast<std::size_t>(k)])
            std::fprintf(f, "%16.8lf %11.4lf\n", time, mass_flux);
    }
}

void write_time_series(model_state &s) {
    if (s.q7_fluxes_on) accumulate_point_output(s);
    if (!is_hydrograph_step(s)) return;

    if (s.long_term) s.longterm_date_number = longterm_date_number(s);
    const double day = static_cast<double>(s.day_of_year) +
                       (static_cast<double>(s.hour) + static_cast<double>(s.minute) / 60.0) / 24.0;
    if (s.q7_input_on) write_outlet_inflow_row(s, day, static_cast<float>(s.outlet_discharge));
    if (s.q7_fluxes_on) write_point_output_row(s, day);

    write_outlet_hydrograph_line(s);

    if (s.erosion.soil_erosion) {
        const double time = s.long_term ? s.longterm_date_number
                            : s.strict_julian_date ? s.now_days
                                                   : s.elapsed_minutes;
        write_sediment_outlet_line(s, time, s.long_term || s.strict_julian_date);
    }

    write_hydrograph_points(s);

    if (s.in_theta_location_on && s.theta_location_out_file) {
        write_point_time(s, s.theta_location_out_file);
        write_theta_location_values(s, s.theta_location_out_file);
    }
    if (s.gw_well_level_on && s.well_level_file) write_well_levels(s);
    if ((s.overland_lake_on || s.channels.lake_count > 0) && s.lake_output_on && s.lake_output_file)
        write_lake_line(s);
    // The per-link sediment flux file is the sediment code's own stream.
    if (s.erosion.soil_erosion) write_sediment_flux_line(s);

    if (s.outlet_hydro_file) std::fflush(s.outlet_hydro_file);
    if (s.sig_outlet_hydro_file) std::fflush(s.sig_outlet_hydro_file);

    if (s.chan_explicit) write_channel_series_step(s);
    if (s.storm_sewer_on) write_pipe_series_step(s);
    if (s.nutrients_on) write_nutrient_hydrographs(s);
    write_contaminant_series(s);
}
