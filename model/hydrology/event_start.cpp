// Initial conditions before the time loop (soil water, groundwater and lake
// state with the lake-level check, the first vegetation-model exchange maps, the
// initial surface volume) and the init_event piece that starts every event.
// run_model calls the first routines once; init_event is piece 3 of every turn.
#include "model/hydrology/event_start.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/calibration/calibration_services.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/file_opener.h"
#include "model/core/grid_map.h"
#include "model/core/line_reader.h"
#include "model/core/value_bounds.h"
#include "model/core/water_flows.h"
#include "model/hydrology/event_end.h"
#include "model/hydrology/groundwater.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/process_clocks.h"
#include "model/hydrology/richards.h"
#include "model/hydrology/evapotranspiration.h"
#include "model/hydrology/lakes.h"
#include "model/hydrology/overland_pieces.h"
#include "model/hydrology/soil_water_pieces.h"
#include "model/hydrology/soil_water_services.h"
#include "model/channel/channel_services.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"
#include "model/sediment/sediment_outputs.h"

namespace {

bool has(const array_1d<double> &a, std::size_t i) { return !a.empty() && i <= a.last(); }
bool has(const array_1d<int> &a, std::size_t i) { return !a.empty() && i <= a.last(); }
bool has(const array_1d<unsigned char> &a, std::size_t i) { return !a.empty() && i <= a.last(); }
bool has(const cell_map &a, std::size_t i) { return !a.empty() && i <= a.last(); }

bool any_infiltration(const model_state &s) {
    return s.inf_richards || s.inf_redist || s.inf_layered || s.inf_green_ampt;
}

bool overland_lake_cell(const model_state &s, std::size_t i) {
    return s.overland_lake_on && has(s.overland_lake_id, i) && s.overland_lake_id[i] > 0;
}

bool channel_lake_cell(const model_state &s, std::size_t i) {
    return s.channel_lake_count > 0 && has(s.cell_channel_lake, i) && s.cell_channel_lake[i] > 0;
}

int node_count_of(const model_state &s, int link) {
    const array_1d<int> &counts = s.channels.node_count;
    return !counts.empty() && static_cast<std::size_t>(link) <= counts.last()
               ? counts[static_cast<std::size_t>(link)]
               : 0;
}

bool node_held(const array_2d<double> &a, int node, int link) {
    return !a.empty() && static_cast<std::size_t>(node) <= a.rows() &&
           static_cast<std::size_t>(link) <= a.cols();
}

// The first number of an input line.
bool take_first_number(std::string &line, double &value) {
    std::string token;
    if (!next_token(token, line)) return false;
    char *end = nullptr;
    value = std::strtod(token.c_str(), &end);
    return end != token.c_str() && std::isfinite(value);
}

void zero_if_held(array_1d<double> &a, std::size_t i) {
    if (has(a, i)) a[i] = 0.0;
}
void zero_if_held(array_1d<int> &a, std::size_t i) {
    if (has(a, i)) a[i] = 0;
}
void zero_if_held(array_1d<unsigned char> &a, std::size_t i) {
    if (has(a, i)) a[i] = 0;
}

// Rule 1c: the redistribution state of one cell at the start of the run; the
// water of its wetted zone is added to the initial soil-water volume.
void start_redistribution_cell(model_state &s, std::size_t i) {
    zero_if_held(s.redist_state, i);
    zero_if_held(s.first_ponding_call, i);
    zero_if_held(s.redist_marks, i);
    zero_if_held(s.redist_hiatus_depth, i);
    zero_if_held(s.surfacing_mark, i);
    if (!has(s.root_zone_depth, i) || !has(s.moisture_state, i)) return;
    const double limit = s.soil_moist_depth_cm;
    double &f = s.root_zone_depth[i];
    f = limit;
    if (s.water_table_on && has(s.water_table_elevation, i)) {
        zero_if_held(s.unsat_exchange_depth, i);
        const double d = s.elevation[i] - s.water_table_elevation[i];
        if (d > 0.0) {
            if (d < limit / 100.0) f = d * 100.0;
        } else {
            // Water table at or above the ground: saturated from the surface.
            if (has(s.soil_porosity, i)) s.moisture_state.full()[i] = s.soil_porosity[i];
            f = 0.0;
            if (!channel_lake_cell(s, i)) {
                if (has(s.surfacing_mark, i)) s.surfacing_mark[i] = 1;
                s.surfacing_flag = 1;
            }
        }
    }
    const double theta = s.moisture_state[i];
    const double boundary = s.top_layer_depth_cm;
    const double w = theta * f;
    if (has(s.root_zone_water, i)) s.root_zone_water[i] = w;
    if (has(s.root_upper_water, i)) s.root_upper_water[i] = theta * (f < boundary ? f : boundary);
    if (has(s.root_lower_water, i)) s.root_lower_water[i] = f > boundary ? theta * (f - boundary) : 0.0;
    s.initial_soil_water_volume += w / 100.0 * s.cell_size * s.cell_size;
}

void print_lake_level_warning(int lake, double level, int cell, double ground) {
    std::printf("\nWARNING: initial water surface elevation in lake %d is %f which is\n", lake, level);
    std::printf("less than the land surface elevation in grid cell %d, %f.\n", cell, ground);
    std::printf("You should either raise your initial lake elevation or lower that grid\n");
    std::printf("cell elevation.  Program stopped.\n");
    raise_printed_error();
}

// One incoming exchange map: per-cell doubles into `target`. `pass` leads the
// message of a file that cannot be opened (1 the first read, 2 an event's end).
bool read_exchange_map(model_state &s, const std::string &name, int pass, const char *what,
                       array_1d<double> &target) {
    std::FILE *file = open_run_file(name, "r");
    if (!file) {
        std::printf("%d Can't open %s exchange file %s for reading\n", pass, what, name.c_str());
        raise_printed_error();
        return false;
    }
    array_1d<double> unused_d;
    array_1d<int> unused_i;
    read_grid_map(file, name, grid_map_cells_double, &s.grid_north, &s.grid_south, &s.grid_east,
                  &s.grid_west, &s.header_rows, &s.header_cols, s.cell_number_grid, target,
                  unused_d, unused_i, s.grid_rows, s.grid_cols);
    std::fclose(file);
    return error_record.fatal == 0;
}

// The run's totals when a long-term Richards event begins (m3).
void write_event_start_totals(const model_state &s) {
    std::FILE *f = s.summary_file;
    if (!f) return;
    const double area = s.cell_size * s.cell_size;
    const water_flows run(s.water);
    std::fprintf(f, "Total evaporation at beginning of event %lf \n", run.evaporation());
    std::fprintf(f, "Total direct evaporation at beginning of event %lf \n",
                 run.surface_evaporation());
    std::fprintf(f, "Total flux from unsat to gw at beginning of event %lf \n",
                 s.richards_bottom_total * area);
    std::fprintf(f, "Total trickery into gw at beginning of event %lf \n", run.table_exchange());
    std::fprintf(f, "Total infiltration into soil %lf \n", run.infiltration());
    std::fprintf(f, "Total groundwater recharge %lf \n", run.recharge());
}

}  // namespace

double surface_exchange_in(const model_state &s) {
    const water_flows run(s.water);
    return run.seepage_in() + run.lake_bed_in() + run.sacramento_base_flow();
}

double surface_exchange_out(const model_state &s) {
    const water_flows run(s.water);
    return run.seepage_out() + run.lake_bed_out();
}

void compute_initial_overland_volume(model_state &s) {
    s.initial_overland_volume = overland_surface_volume(s);
    // The channels' water at the run's start; each event takes its own later.
    s.run_initial_channel_volume = channel_routing_on(s) ? channel_water_volume(s) : 0.0;
}

void check_initial_lake_levels(model_state &s) {
    const double area = s.cell_size * s.cell_size;
    s.initial_soil_water_volume = 0.0;
    for (int c = 1; c <= s.cell_count; ++c) {
        const std::size_t i = static_cast<std::size_t>(c);
        // The leakage rate is written by every groundwater step; a run starts without one.
        if (s.groundwater_on) zero_if_held(s.gw_leakage_rate_cell, i);
        if (any_infiltration(s)) {
            zero_if_held(s.cumulative_infiltration, i);
            zero_if_held(s.previous_infiltration, i);
            zero_if_held(s.infiltration_rate, i);
            zero_if_held(s.step_infiltration_depth, i);
            zero_if_held(s.deep_percolation, i);
        }
        // A Richards column starts under the flux boundary with no water evaporated.
        if (s.inf_richards == 1) {
            if (has(s.richards_surface_state, i)) s.richards_surface_state[i] = 1;
            zero_if_held(s.richards_evaporation, i);
        }
        if (s.inf_redist == 1) start_redistribution_cell(s, i);
    }

    s.start_soil_water_volume = s.initial_soil_water_volume;
    s.saturated_storage_total = 0.0;
    s.unsaturated_storage_total = 0.0;
    s.total_storage = 0.0;
    s.initial_gw_volume = 0.0;
    s.initial_lake_volume = 0.0;
    for (int c = 1; c <= s.cell_count; ++c) {
        const std::size_t i = static_cast<std::size_t>(c);
        double depth_to_water = 0.0;
        if (s.groundwater_on && has(s.water_table_elevation, i) && has(s.aquifer_bottom, i) &&
            has(s.gw_porosity, i)) {
            const double saturated = s.water_table_elevation[i] - s.aquifer_bottom[i];
            s.initial_gw_volume += aquifer_water_below(s, c, s.water_table_elevation[i]);
            s.saturated_storage_total += saturated * 100.0 * s.gw_porosity[i];
            depth_to_water = s.elevation[i] - s.water_table_elevation[i];
        }
        if (overland_lake_cell(s, i)) {
            const int lake = s.overland_lake_id[i];
            const double level = s.lakes[static_cast<std::size_t>(lake)].initial_elevation;
            const double d = level - s.elevation[i];
            if (d < 0.0) {
                print_lake_level_warning(lake, level, c, s.elevation[i]);
                return;
            }
            s.initial_lake_volume += d * area;
        }
        if (s.inf_redist == 1 && has(s.root_zone_water, i) && has(s.root_zone_depth, i)) {
            const double w = s.root_zone_water[i] / 100.0;
            double storage = w;
            if (s.groundwater_on && s.root_zone_depth[i] / 100.0 <= depth_to_water)
                storage = w + (depth_to_water - s.root_zone_depth[i] / 100.0) *
                                  surface_exchange_factor(s, i);
            s.unsaturated_storage_total += storage * area;
        }
        if (s.inf_richards == 1 && has(s.richards_cell_nodes, i) && !s.richards_theta.empty() &&
            !s.richards_dz.empty()) {
            const int nodes = s.richards_cell_nodes[i];
            for (int n = 1; n <= nodes - 1; ++n) {
                const double theta_dz = s.richards_theta[i][static_cast<std::size_t>(n)] *
                                        s.richards_dz[i][static_cast<std::size_t>(n)];
                s.unsaturated_storage_total += theta_dz;
                s.richards_soil_water_volume += theta_dz / 100.0 * area;
            }
        }
    }
    s.gw_stored_volume = s.initial_gw_volume;
    if (s.inf_redist == 1) s.richards_soil_water_volume = s.unsaturated_storage_total;
    // The Richards columns hold the soil water of the run's start.
    if (s.inf_richards == 1)
        s.initial_soil_water_volume = s.start_soil_water_volume = s.richards_soil_water_volume;
    s.total_storage = s.saturated_storage_total + s.unsaturated_storage_total;
}

void read_plux_exchange_maps(model_state &s) {
    if (!s.hxt_on || !s.plux_on) return;
    read_incoming_plux_maps(s, 1);
}

void read_incoming_plux_maps(model_state &s, int pass) {
    // Incoming maps: slots 7 (moisture), 8 (Ksat) and 9 (roughness) of the
    // exchange switches. The maps carry the model's own units (moisture as a
    // fraction, Ksat in m/s, Manning n), the units in which the exchange writes them.
    const int moisture = 7, ksat = 8, rough = 9;
    const std::size_t n = static_cast<std::size_t>(s.cell_count);
    array_1d<double> own;
    if (s.plux_map_values.empty() && alloc_1d_double(own, s.cell_count) != 0) return;
    array_1d<double> &values = s.plux_map_values.empty() ? own : s.plux_map_values;

    if (s.plux_map_switches[moisture] == 1) {
        if (!read_exchange_map(s, s.plux_map_names[moisture], pass, "soil moisture", values))
            return;
        for (std::size_t i = 1; i <= n; ++i) {
            if (has(s.initial_moisture, i)) s.initial_moisture.full()[i] = values[i];
            if (!has(s.moisture_state, i)) continue;
            if (s.inf_green_ampt) {
                // The Green and Ampt state is the moisture deficit.
                const double porosity = has(s.soil_porosity, i) ? s.soil_porosity[i] : values[i];
                s.moisture_state.full()[i] = porosity > values[i] ? porosity - values[i] : 0.0;
            } else {
                s.moisture_state.full()[i] = values[i];
            }
        }
    }
    if (s.plux_map_switches[rough] == 1) {
        if (!read_exchange_map(s, s.plux_map_names[rough], pass, "roughness", values)) return;
        for (std::size_t i = 1; i <= n; ++i) {
            if (!(values[i] > 0.0)) {
                std::printf("Overland Manning n=0 at grid cell %d.  Program terminating.\n",
                            static_cast<int>(i));
                raise_printed_error();
                return;
            }
            if (has(s.roughness, i)) s.roughness.full()[i] = values[i];
        }
    }
    if (s.plux_map_switches[ksat] == 1) {
        if (!read_exchange_map(s, s.plux_map_names[ksat], pass, "Ksat", values)) return;
        for (std::size_t i = 1; i <= n; ++i)
            if (has(s.soil_ksat, i)) s.soil_ksat.full()[i] = values[i];
    }
}

void init_event(model_state &s) {
    if (!(std::fabs(s.now_days - s.event_start_time) < s.time_tolerance_days)) return;

    // 1-2. The event begins; in a long-term Richards run the columns first take
    // the dry period since the last infiltration step.
    s.event_start_flag = 1;
    const double dry_seconds = (s.now_days - s.infiltration_clock.last) * 86400.0;
    if (s.long_term && s.inf_richards && s.clock_calls > 1) {
        set_richards_et_demand(s);
        if (error_record.fatal) return;
        richards_step(s, dry_seconds);
        if (error_record.fatal) return;
        // The dry period is stepped once: its infiltration belongs to the run
        // before the event, and the infiltration clock starts from now.
        book_infiltration(s);
        s.infiltration_clock.last = s.now_days;
        write_event_start_totals(s);
    }
    // The soil as the event finds it.
    if (s.long_term) s.event_initial_soil_moisture = basin_soil_moisture(s);
    if (s.inf_richards) s.start_soil_water_volume = column_water_volume(s);

    // 3. The event's own records and totals start again; run totals are marked so
    // that the event's share can be taken at its end.
    const double area = s.cell_size * s.cell_size;
    for (int c = 1; c <= s.cell_count; ++c) {
        const std::size_t i = static_cast<std::size_t>(c);
        zero_if_held(s.step_rain_rate, i);
        zero_if_held(s.step_infiltration_depth, i);
    }
    s.event_rain_volume = 0.0;
    // The rain steps and the time rain began are the event's own (the time as
    // minutes from the start of the run).
    s.rain_steps_with_rain = 0;
    s.rain_began_minutes = 0.0;
    s.outflow_volume = 0.0;
    s.peak_outlet_discharge = 0.0;
    // Until a discharge is tracked the peak is the event's start.
    s.peak_time_days = s.now_days;
    s.peak_calendar = {s.year, s.month, s.day, s.hour, s.minute, s.second_int};
    if (s.calibration_run && s.in_hyd_location_on && s.calib_results) {
        // The running peak and volume of every hydrograph location start again.
        std::fill(s.calib_results->location_peak.begin(), s.calib_results->location_peak.end(), 0.0);
        std::fill(s.calib_results->location_volume.begin(), s.calib_results->location_volume.end(), 0.0);
    }
    s.event_initial_overland_volume = overland_surface_volume(s);
    s.event_initial_lake_volume = overland_lake_volume(s);
    s.event_initial_channel_lake_volume = channel_lake_volume(s);
    double snow = 0.0;
    for (int c = 1; c <= s.cell_count; ++c)
        if (has(s.snow_store, static_cast<std::size_t>(c))) snow += s.snow_store[static_cast<std::size_t>(c)] * area;
    s.event_initial_snow_volume = snow;
    s.event_start_surface_volume = s.event_initial_overland_volume + s.event_initial_lake_volume;
    s.event_marks.water = s.water.mark();
    s.event_marks.sac_storage = sacramento_storage(s.sac_basin);
    s.event_marks.sac_pending = sacramento_pending_volume(s);
    s.event_marks.exchange_in = surface_exchange_in(s);
    s.event_marks.exchange_out = surface_exchange_out(s);
    if (s.inf_richards) {
        // The event's Richards balance starts from the soil water after the dry spell.
        s.start_soil_water_volume = final_soil_water(s);
        s.event_marks.richards_bottom = s.richards_bottom_total;
        s.event_marks.richards_clip = s.richards_clip_total;
        s.event_marks.column_et = s.richards_et_volume;
    }
    start_sediment_event(s);

    // The clocks are brought to the event.
    const double now = s.now_days;
    process_clock &rain = s.rain_clock;
    if (rain.last > now) rain.last = now;
    s.infiltration_clock.interval = rain.interval;
    if (rain.next + rain.interval < s.infiltration_clock.next) {
        s.infiltration_clock.next = rain.next + rain.interval;
        s.infiltration_clock.last = now;
    }
    if (s.ov_con_trans_mode) {
        s.constituent_clock.next = rain.next;
        sync_constituent_slots(s);
    }
    if (s.groundwater_on && rain.next + s.gw_clock.interval < s.gw_clock.next) {
        s.gw_clock.next = rain.next + s.gw_clock.interval;
        s.gw_clock.last = now;
    }
    if (s.long_term && s.inf_redist) {
        s.et_clock.interval = s.infiltration_clock.interval;
        s.et_clock.next = s.infiltration_clock.next;
    }
    if (channel_routing_on(s)) {
        s.channel_step_seconds = rain.interval * 86400.0;
        s.channel_clock.interval = rain.interval;
        // Channels whose clock was last brought up to now (the start of the run, or
        // of the first event) hold their initial state now: their first step ends
        // one interval later, never before the clock's own start.
        const bool fresh = s.channel_clock.last > now - s.time_tolerance_days;
        s.channel_clock.next = fresh ? now + rain.interval : rain.next;
        s.channel_clock.last = fresh ? now : rain.last;
    }

    // 4. Messages and the end of an event simulation: TOT_TIME minutes after the
    // start. (A long-term run ends with its meteorological record, which the
    // start-time set-up has made the end time.)
    if (!s.quiet) std::printf("Initialized Arrays\n");
    if (!s.long_term && !s.hxt_on) {
        if (!s.quiet) std::printf("simulation duration %d minutes\n", s.total_time);
        s.simulation_end_time = s.start_days + static_cast<double>(s.total_time) / 1440.0;
    }

    // 5. The redistribution moisture is kept strictly between thr and phi.
    if (s.inf_redist && s.long_term) {
        s.relative_saturation_sum = 0.0;
        for (int c = 1; c <= s.cell_count; ++c) {
            const std::size_t i = static_cast<std::size_t>(c);
            if (!has(s.moisture_state, i) || !has(s.soil_residual, i) || !has(s.soil_porosity, i))
                continue;
            // Held by code until a value must change.
            double theta = s.moisture_state[i];
            const double thr = s.soil_residual[i], phi = s.soil_porosity[i];
            if (!(theta > thr)) {
                std::printf("cell: %d  thi: %lf  thr: %lf   phi: %lf\n", c, theta, thr, phi);
                theta = thr + 0.01;
                std::printf("Problem initializing inf_redist in main loop, thi<thr at grid cell "
                            "%d, increasing it to %lf\n",
                            c, theta);
            }
            if (!(theta < phi)) {
                theta = phi - 0.01;
                std::printf("Problem initializing inf_redist in main loop, thi>phi at grid cell "
                            "%d, decreasing it to %lf\n",
                            c, theta);
            }
            if (theta != s.moisture_state[i]) s.moisture_state.full()[i] = theta;
            const double relative = theta / phi;
            if (std::isnan(relative))
                std::printf("bad initial value of soil moisture cell %d\n", c);
            else
                s.relative_saturation_sum += relative;
        }
    }

    // 6. Channel cross-section areas from the depths, unless the channel state is
    // carried over from the previous event.
    const bool keeps_channel_state =
        (s.inf_richards || s.groundwater_on || s.inf_redist) && s.clock_calls > 1;
    if (channel_routing_on(s) && !keeps_channel_state) {
        int beyond_table = 0;
        ex_section(s, 2, beyond_table);
        if (error_record.fatal) return;
        if (beyond_table) s.xsection_table_exceeded = 1;
        const channel_network &net = s.channels;
        for (int link = 1; link <= net.link_count; ++link)
            for (int node = 1; node <= node_count_of(s, link); ++node)
                if (node_held(s.chan.area, node, link) &&
                    std::isnan(s.chan.area[static_cast<std::size_t>(node)][static_cast<std::size_t>(link)]))
                    std::printf("Negative Area Computed At Startup for [Node][Link]: [%d][%d] "
                                "ltype: %d\n",
                                node, link, net.link_type[static_cast<std::size_t>(link)]);
    }
    // The water in the channels when the event begins, for the event balance.
    if (channel_routing_on(s)) {
        s.initial_channel_volume = channel_water_volume(s);
        start_channel_constituents(s);
    }
    // An event of the first turn starts the run: its areas are now formed.
    if (s.clock_calls <= 1) s.run_initial_channel_volume = s.initial_channel_volume;
}

void start_channel_constituents(model_state &s) {
    channel_work &w = s.chan;
    const channel_network &net = s.channels;
    if (!s.chan_con_trans || w.chan_node_mass.empty() || w.wq_previous_area.empty()) return;
    const bool first = !w.initial_concentration_set;
    w.initial_concentration_set = true;
    const int nc = std::min(s.constituent_count, static_cast<int>(w.chan_node_mass.extent1()));
    double given = 0.0;  // the channels' initial mass of each constituent (g)
    for (int l = 1; l <= net.link_count; ++l) {
        if (!routed_link(net.link_type[static_cast<std::size_t>(l)])) continue;
        for (int n = 1; n <= routed_node_count(net, l); ++n) {
            const double a = w.area[static_cast<std::size_t>(n)][static_cast<std::size_t>(l)];
            // The transport's water starts where the flow's does.
            w.wq_previous_area[static_cast<std::size_t>(n)][static_cast<std::size_t>(l)] = a;
            if (!first || !(a > 1e-16)) continue;
            for (int k = 1; k <= nc; ++k) {
                w.chan_node_conc[k][n][l] = s.init_chan_conc;
                w.chan_node_mass[k][n][l] = s.init_chan_conc * a * net.dx[static_cast<std::size_t>(l)];
            }
            given += s.init_chan_conc * a * net.dx[static_cast<std::size_t>(l)];
        }
    }
    // The same mass in every constituent: the store's start, not a flow into it.
    for (int k = 1; first && k <= nc; ++k) mass_ledger(s, k).set_start(ledger_node::channels, given / 1000.0);
}

void read_initial_channel_depths(model_state &s) {
    if (!s.project.initial_depth.given) {
        // The levels of a channel hotstart hold their water from the start: the
        // areas are made from them here, as from the depths of a depth file.
        if (s.read_chan_hotstart_on && channel_routing_on(s)) {
            int beyond_table = 0;
            ex_section(s, 2, beyond_table);
            if (beyond_table) s.xsection_table_exceeded = 1;
            // The restarted network flows from its first line: the outlet's
            // discharge is the hotstart's at the last node of the last link.
            channel_network &net = s.channels;
            const int last = net.link_count;
            const int nx = last >= 1 ? net.comp_node_count[static_cast<std::size_t>(last)] : 0;
            if (nx >= 1) s.outlet_discharge = net.qp[static_cast<std::size_t>(nx)][static_cast<std::size_t>(last)];
        }
        return;
    }
    channel_network &net = s.channels;
    std::FILE *file = open_run_file(s.project.initial_depth.name, "r");
    if (!file) {
        raise_error(4, "initial channel depth", s.project.initial_depth.name);
        return;
    }
    s.channel_has_water = 0;
    std::string line;
    for (int link = 1; link <= net.link_count; ++link) {
        const int type = net.link_type.empty() ? 0 : net.link_type[static_cast<std::size_t>(link)];
        if (type == link_weir || type == link_lake || type == link_structure ||
            type == link_taken_by_lake)
            continue;
        for (int node = 1; node <= node_count_of(s, link); ++node) {
            double level = 0.0;
            if (!read_line(line, file) || !take_first_number(line, level)) {
                std::printf("Error: the initial channel depth file %s has no water-surface "
                            "elevation for node %d of link %d.\n",
                            s.project.initial_depth.name.c_str(), node, link);
                std::fclose(file);
                raise_printed_error();
                return;
            }
            if (!within_bounds(level, bounds::elevation)) {
                std::printf("Error: the initial channel depth file %s gives the water-surface "
                            "elevation %g for node %d of link %d, outside %s.\n",
                            s.project.initial_depth.name.c_str(), level, node, link, bounds::elevation.text);
                std::fclose(file);
                raise_printed_error();
                return;
            }
            if (!node_held(net.yp, node, link) || !node_held(net.bel, node, link) ||
                !node_held(s.chan.chan_depth, node, link))
                continue;
            const std::size_t n = static_cast<std::size_t>(node), l = static_cast<std::size_t>(link);
            double depth = level - net.bel[n][l];
            if (depth < 0.0) {
                level = net.bel[n][l];
                depth = 0.0;
            }
            net.yp[n][l] = level;
            s.chan.chan_depth[n][l] = depth;
            if (depth > 1e-16) s.channel_has_water = 1;
        }
    }
    std::fclose(file);

    // A fixed depth at the outlet: the last node of the last link.
    const int last_link = net.link_count;
    const int last_node = last_link > 0 ? node_count_of(s, last_link) : 0;
    if (s.head_bound && last_node > 0 && node_held(net.yp, last_node, last_link) &&
        node_held(s.chan.chan_depth, last_node, last_link)) {
        const std::size_t n = static_cast<std::size_t>(last_node), l = static_cast<std::size_t>(last_link);
        net.yp[n][l] = net.bel[n][l] + s.bound_depth;
        s.chan.chan_depth[n][l] = s.bound_depth;
        s.channel_has_water = 1;
    }
    if (channel_routing_on(s)) {
        int beyond_table = 0;
        ex_section(s, 2, beyond_table);
        if (beyond_table) s.xsection_table_exceeded = 1;
    }
}
