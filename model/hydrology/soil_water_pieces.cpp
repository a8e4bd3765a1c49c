// Soil-water, meteorology and soil-moisture accounting pieces of the time loop:
// the infiltration step with its totals, the hourly meteorological step of a
// long-term run, the basin accounting step and the root-zone evapotranspiration
// step. Called every turn by run_model's table of pieces.
#include "model/hydrology/soil_water_pieces.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/evapotranspiration.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/layered_soil.h"
#include "model/hydrology/process_clocks.h"
#include "model/hydrology/rainfall.h"
#include "model/hydrology/soil_water_services.h"
#include "model/input/soil_input_services.h"

namespace {

// Marker of the hydro-meteorological clock once the meteorological data end.
constexpr double hydromet_end_marker = -10.0;
// Ponded depths above this need overland routing (m).
constexpr double routing_depth = 1e-10;

bool fatal() { return error_record.fatal != 0; }

bool console_on(const model_state &s) { return !s.quiet && parallel_layout.process_rank == 0; }

double cell_area(const model_state &s) { return s.cell_size * s.cell_size; }

// Counts printed console lines and flushes at the flushing interval.
void count_console_line(model_state &s) {
    if (!s.flush_on) return;
    if (++s.flush_counter >= s.flush_interval) {
        std::fflush(stdout);
        s.flush_counter = 0;
    }
}

bool any_cell_ponded(const model_state &s) {
    if (s.depth.empty()) return false;
    for (int i = 1; i <= s.cell_count; ++i)
        if (s.depth[i] > routing_depth) return true;
    return false;
}

double mean_over_cells(const model_state &s, const array_1d<double> &values) {
    if (values.empty() || s.cell_count <= 0) return 0.0;
    double sum = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) sum += values[i];
    return sum / s.cell_count;
}

}  // namespace

// Adds each cell's infiltration of the step to the totals.
void book_infiltration(model_state &s) {
    const double area = cell_area(s);
    // With overland constituents each cell's infiltrated volume waits for the
    // constituent steps, which take the mass it carried.
    array_1d<double> &pending = s.constituent_infiltration_volume;
    const bool constituents = s.ov_con_trans_mode &&
                              (pending.last() >= static_cast<std::size_t>(s.cell_count) ||
                               alloc_1d_double(pending, s.cell_count) == 0);
    double depth = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        const double step = s.cumulative_infiltration[i] - s.previous_infiltration[i];
        depth += step;
        s.previous_infiltration[i] = s.cumulative_infiltration[i];
        if (constituents) pending[i] += step * area;
    }
    if (s.ov_con_trans_mode) s.infiltrated_constituent_mass += depth * area;
    s.infiltration_depth_total += depth;
    s.infiltration_volume_total += depth * area;
    s.water.move(ledger_node::surface, infiltration_store_of(s), depth * area);
    s.hour_infiltration_depth += depth;
}

infiltration_kernels choose_infiltration_kernels(const model_state &s) {
    infiltration_kernels k;
    if (s.inf_redist) {
        k.run[k.count++] = infiltrate_green_ampt_redist;
        return k;
    }
    if (s.inf_green_ampt) k.run[k.count++] = infiltrate_green_ampt;
    if (s.inf_layered) k.run[k.count++] = infiltrate_layered_soil;
    return k;
}

double cell_soil_moisture(const model_state &s, int cell) {
    if (s.inf_redist && !s.root_zone_depth.empty()) {
        const double d = s.root_zone_depth[cell];
        return d > 0.0 ? s.root_zone_water[cell] / d : s.soil_porosity[cell];
    }
    if (s.inf_richards && !s.root_zone_moisture.empty()) return s.root_zone_moisture[cell];
    // Green and Ampt keeps the moisture its deficit was formed from; the layered
    // soil its initial moisture.
    const auto held = [cell](const auto &kept) {
        return !kept.empty() && static_cast<std::size_t>(cell) <= kept.last() ? kept[cell] : 0.0;
    };
    return s.inf_green_ampt ? held(s.initial_moisture) : held(s.moisture_state);
}

double basin_soil_moisture(const model_state &s) {
    if (s.cell_count < 1) return 0.0;
    double sum = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) sum += cell_soil_moisture(s, i);
    return sum / s.cell_count;
}

double final_soil_water(const model_state &s) {
    const double area = s.cell_size * s.cell_size;
    // The cell arrays are read through pointers (null where the run holds no such
    // array): the debug builds' water check forms this volume after every piece.
    const auto cells = [&s](const array_1d<double> &a) {
        return a.empty() ? std::make_pair(static_cast<const double *>(nullptr), std::size_t{0})
                         : std::make_pair(a.data(), a.last());
    };
    const auto [perc, perc_n] = cells(s.deep_percolation);
    const auto [exch, exch_n] = cells(s.surface_exchange_depth);
    const auto [root, root_n] = cells(s.root_zone_water);
    const auto [unsat, unsat_n] = cells(s.unsat_exchange_depth);
    const auto [f_cum, f_cum_n] = cells(s.cumulative_infiltration);
    const bool to_aquifer = s.groundwater_on && (s.inf_redist || s.inf_richards);
    const bool columns = !s.richards_cell_nodes.empty() && !s.richards_theta.empty() && !s.richards_dz.empty();
    double volume = 0.0;
    for (int c = 1; c <= s.cell_count; ++c) {
        const std::size_t i = static_cast<std::size_t>(c);
        // Water on its way between the soil and the aquifer, which the aquifer
        // takes (or gives) at its next step, is still the soil's: what left the
        // root zone or a column downward, less what the root zone took from the
        // aquifer as the table moved.
        if (to_aquifer) {
            if (perc && i <= perc_n) volume += perc[i] / 100.0 * area;
            if (s.inf_redist && exch && i <= exch_n) volume -= exch[i] / 100.0 * area;
        }
        if (s.inf_redist) {
            if (root && i <= root_n) volume += root[i] / 100.0 * area;
        } else if (s.inf_richards) {
            if (!columns || i > s.richards_theta.rows() || i > s.richards_dz.rows()) continue;
            const double *theta = s.richards_theta[i].data(), *dz = s.richards_dz[i].data();
            const int top = std::min(s.richards_cell_nodes[i] - 1,
                                     static_cast<int>(std::min(s.richards_theta.cols(), s.richards_dz.cols())));
            for (int n = 1; n <= top; ++n) volume += theta[n] * dz[n] / 100.0 * area;
            // Water a column gave up (or took) at its last re-laying, which the
            // aquifer takes at its next step.
            if (s.groundwater_on && unsat && i <= unsat_n) volume += unsat[i] / 100.0 * area;
        } else if (s.inf_green_ampt || s.inf_layered) {
            if (f_cum && i <= f_cum_n) volume += f_cum[i] * area;
        }
    }
    return volume;
}

void step_infiltration(model_state &s) {
    if (!(s.inf_green_ampt || s.inf_redist || s.inf_layered || s.inf_richards)) return;
    if (!clock_due(s, s.infiltration_clock)) return;
    const double dt = clock_step_seconds(s, s.infiltration_clock);

    const infiltration_kernels kernels = choose_infiltration_kernels(s);
    if (s.inf_redist) ++s.redist_call_count;
    for (int k = 0; k < kernels.count; ++k) {
        kernels.run[k](s, dt);
        if (fatal()) return;
    }
    if (!s.inf_redist && s.inf_richards) {
        if (s.long_term) set_richards_et_demand(s);
        if (fatal()) return;
        richards_step(s, dt);
        if (fatal()) return;
    }

    book_infiltration(s);
    take_clock_step(s, s.infiltration_clock);

    // Between events a dry redistribution run skips to the next event's start.
    if (s.inf_redist && !s.event_start_flag && !s.event_active && !s.groundwater_on &&
        dry_spell_may_be_skipped(s) && !any_cell_ponded(s)) {
        s.redist_wet_period = 0;
        const std::size_t next = static_cast<std::size_t>(s.event_number);
        if (next < s.event_start_times.size() && s.event_start_times[next] > s.now_days)
            s.infiltration_clock.next = s.event_start_times[next] + s.rain_clock.interval;
    }
}

namespace {

// The root zone's mean upper- and lower-layer moisture of a redistribution run;
// 999.99 for a lower layer that no cell has.
void root_layer_means(const model_state &s, double &upper, double &lower) {
    double up = 0.0, low = 0.0, lower_cells = 0.0;
    const double top = s.top_layer_depth_cm;
    for (int i = 1; i <= s.cell_count; ++i) {
        const double d = s.root_zone_depth[i];
        const double l1 = d <= top ? d : top;
        if (l1 > 0.0) up += s.root_upper_water[i] / l1;
        if (d > top) {
            low += s.root_lower_water[i] / (d - top);
            lower_cells += 1.0;
        }
    }
    upper = up / (s.cell_count > 0 ? s.cell_count : 1.0);
    lower = lower_cells > 0.0 ? low / lower_cells : 999.99;
}

// Closes the hour that has just ended with the record that held over it (a
// record stamped hh:00 holds from hh:00 to hh+1:00): the snow melts through the
// part of the hour the rain piece did not step through, the soil-moisture
// accounting and the root zone's ET take the hour's last step with its demand,
// and the hour's line goes to evap_out with the values of that hour.
void close_weather_hour(model_state &s, double dt) {
    const hmet_hour_record &h = s.hmet_hour;
    const double dry_seconds = dt - s.rain_melt_seconds;
    s.rain_melt_seconds = 0.0;
    if (s.snow_flag && dry_seconds > 0.0) {
        s.snow_flag = snowmelt_energy_balance(s, dry_seconds, 0);
        if (fatal()) return;
    }
    step_sacramento(s);
    if (fatal()) return;
    step_evapotranspiration(s);
    if (fatal()) return;

    // Average soil moisture at the end of the hour; a cell without a number is reported.
    double sum = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        const double theta = cell_soil_moisture(s, i);
        if (std::isnan(theta)) {
            std::printf("Theta_all for cell %d is not a number \n", i);
            continue;
        }
        sum += theta;
    }
    s.average_soil_moisture = s.cell_count > 0 ? sum / s.cell_count : 0.0;
    if (!s.inf_richards && !s.inf_redist) {
        std::printf("longterm %d/%d/%d  %2d:00 Avg. Soil Moisture: %7.2lf  \n", h.year, h.month,
                    h.day, h.hour, s.average_soil_moisture);
        count_console_line(s);
    }

    // Means of the hour per cell, in cm/h: PET from cm/s, ET and infiltration
    // from the depths summed over the hour's steps.
    const double hours = dt > 0.0 ? dt / 3600.0 : 1.0;
    const double cells = s.cell_count > 0 ? s.cell_count : 1.0;
    const double pet = mean_over_cells(s, s.potential_et2) * 3600.0;
    const double aet = s.hour_et_depth * 100.0 / cells / hours;
    const double infil = s.hour_infiltration_depth * 100.0 / cells / hours;
    const double bottom = mean_over_cells(s, s.root_zone_bottom_flux) / hours;
    const double cfgi = mean_over_cells(s, s.frozen_ground_index);
    if (console_on(s))
        std::printf("%d/%d/%d %2d:00 PET cm/h %6.4lf AET cm/h %6.4lf Infil cm/h %6.4lf Theta "
                    "%5.2lf \n",
                    h.year, h.month, h.day, h.hour, pet, aet, infil, s.average_soil_moisture);
    if (s.evap_out_file) {
        std::fprintf(s.evap_out_file, "%d/%d/%d  %2d:00 %10.4lf %12.6lf %12.6lf %12.6lf %10.4lf "
                                      "%7.2lf %6.0lf",
                     h.year, h.month, h.day, h.hour, s.average_soil_moisture, pet, aet, infil,
                     bottom, cfgi, h.air_temperature);
        if (s.inf_redist) {
            double upper = 0.0, lower = 0.0;
            root_layer_means(s, upper, lower);
            std::fprintf(s.evap_out_file, " %10.4lf %10.4lf", upper, lower);
        }
        std::fprintf(s.evap_out_file, "\n");
    }
    s.hour_et_depth = 0.0;
    s.hour_infiltration_depth = 0.0;
    // The bottom flux of the root zone is summed over one hour of lines.
    for (int i = 1; i <= s.cell_count && !s.root_zone_bottom_flux.empty(); ++i)
        s.root_zone_bottom_flux[i] = 0.0;
}

}  // namespace

void step_longterm_hydromet(model_state &s) {
    if (!s.long_term || !clock_due(s, s.hydromet_clock)) return;
    const double dt = clock_step_seconds(s, s.hydromet_clock);

    // The first turn opens the first record; every later one first closes the
    // hour of the record read before.
    if (s.hmet_record_count > 0) {
        close_weather_hour(s, dt);
        if (fatal()) return;
    }
    if (scan_hmet_file(s, 0) == -1) {
        if (fatal()) return;
        if (s.event_active) {
            s.hydromet_clock.next = hydromet_end_marker;
        } else {
            std::printf("End of meteorology data reached.  KORVA terminated\n");
            s.keep_running = 0;
        }
        return;
    }
    if (fatal()) return;

    // The new record's hour: its potential ET, the canopy's evaporation (the
    // intercepted water goes first, the soil sees what demand is left), the
    // channel lakes' evaporation and the frozen-ground index.
    compute_evapotranspiration(s);
    if (fatal()) return;
    evaporate_interception(s, s.hydromet_clock.interval * 86400.0);
    if (s.channels.lake_count > 0) {
        lake_step(s);
        if (fatal()) return;
    }
    decay_cell_store(s);
    if (fatal()) return;
    ++s.hmet_record_count;
    take_clock_step(s, s.hydromet_clock);
}

namespace {

// The basin's start: its storage and lower-zone drainage potential. The run's
// infiltration from its first step on is the stores' input.
void start_sacramento(model_state &s) {
    if (!s.sac_first_call) return;
    sacramento_basin &b = s.sac_basin;
    s.sac_initial_storage = sacramento_storage(b);
    b.pbase = b.lzpk * b.lzfpm + b.lzsk * b.lzfsm;
    s.sac_first_call = 0;
}

// The infiltration since the stores last took it, in mm over the basin.
double sacramento_pending_input(model_state &s) {
    const double area = s.watershed_area;
    const double inflow =
        area > 0.0 ? (s.infiltration_volume_total - s.sac_infiltration_used) / area * 1000.0 : 0.0;
    s.sac_infiltration_used = s.infiltration_volume_total;
    return inflow;
}

}  // namespace

void hand_pending_infiltration_to_sacramento(model_state &s) {
    if (!s.sacramento_on) return;
    start_sacramento(s);
    const double p = sacramento_pending_input(s);
    if (!(p > 0.0)) return;
    // No time passes: the water fills the upper tension water, then the upper free
    // water; what neither holds runs off.
    sacramento_basin &b = s.sac_basin;
    const double tension = std::fmin(p, std::fmax(0.0, b.uztwm - b.uztwc));
    b.uztwc += tension;
    const double free_water = std::fmin(p - tension, std::fmax(0.0, b.uzfwm - b.uzfwc));
    b.uzfwc += free_water;
    s.sac_owed_volume += (p - tension - free_water) * s.watershed_area / 1000.0;
    s.water.move(ledger_node::sacramento, ledger_node::sacramento_transit,
                 (p - tension - free_water) * s.watershed_area / 1000.0);
}

double take_sacramento_runoff(model_state &s, double wanted) {
    const double taken = std::fmax(0.0, std::fmin(wanted, s.sac_owed_volume));
    s.sac_owed_volume -= taken;
    return taken;
}

void step_sacramento(model_state &s) {
    if (!s.sacramento_on || !clock_due(s, s.sacramento_clock)) return;
    sacramento_basin &b = s.sac_basin;
    start_sacramento(s);
    const double dt = take_clock_step(s, s.sacramento_clock);

    // Demand: the potential ET of the hour (cm) in mm. Supply: the water that
    // infiltrated over the basin since the last step, in mm.
    double demand = mean_over_cells(s, s.potential_et) * 3600.0 * 10.0;
    const double area = s.watershed_area;
    const double inflow = sacramento_pending_input(s);
    s.sac_pet_total += demand;
    double extra = 0.0;
    sacramento_step(b, demand, inflow, extra);
    if (fatal()) return;
    s.water.move(ledger_node::sacramento, ledger_node::atmosphere, demand * area / 1000.0);
    s.water.move(ledger_node::sacramento, ledger_node::deep_aquifer, extra * area / 1000.0);
    s.water.move(ledger_node::sacramento, ledger_node::sacramento_transit,
                 b.channel_inflow * area / 1000.0);

    // Discharge to the channels: the mean of this and the last step's runoff rate.
    // That rule keeps half of the last step's runoff in transit; runoff beyond it
    // (given off while no channel took water, between events or at an event's end)
    // follows over the coming step.
    const double hours = dt > 0.0 ? dt / 3600.0 : 1.0;
    const double rate = b.channel_inflow / hours;  // mm/h
    const double in_transit =
        (0.5 * s.sac_last_runoff_rate * hours + b.channel_inflow) * area / 1000.0;
    s.sac_owed_volume += b.channel_inflow * area / 1000.0;
    const double next_step = s.sacramento_clock.interval * 86400.0;
    const double backlog = std::fmax(0.0, s.sac_owed_volume - in_transit);
    s.sac_discharge = 0.5 * (rate + s.sac_last_runoff_rate) * area / 3.6e6 +
                      (next_step > 0.0 ? backlog / next_step : 0.0);
    s.sac_last_runoff_rate = rate;
    s.sac_outflow_volume += s.sac_discharge * dt;
    b.channel_inflow = 0.0;
}

void step_evapotranspiration(model_state &s) {
    if (!s.inf_redist || !clock_due(s, s.et_clock)) return;
    const double dt = clock_step_seconds(s, s.et_clock);
    const double removed = soil_et_withdrawal(s, dt);
    if (fatal()) return;
    s.et_step_depth = removed;
    s.hour_et_depth += removed;
    take_clock_step(s, s.et_clock);
}
