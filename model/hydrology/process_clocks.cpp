// The model clock and the process clocks of the time loop, and the pieces that
// open and close a turn: advance_clock (piece 1), track_peak_discharge (19),
// print_progress (22) and check_simulation_end (23). Called by run_model's table.
#include "model/hydrology/process_clocks.h"

#include <cmath>
#include <cstdio>

#include "model/core/calendar.h"
#include "model/channel/channel_services.h"
#include "model/calibration/calibration_services.h"
#include "model/hydrology/hydrology_services.h"
#include "model/core/model_state.h"

namespace {

// Marker of the hydro-meteorological clock once the meteorological data end.
constexpr double hydromet_end_marker = -10.0;

bool on_last_event(const model_state &s) { return s.event_number >= s.event_count; }

// The channel clock's last update is this turn: the channel step ran.
bool channel_step_ran(const model_state &s) { return s.channel_clock.last == s.now_days; }

// Discharge of node `node` of link `link`, 0.0 when the network does not hold it.
double node_discharge(const model_state &s, int link, int node) {
    const array_2d<double> &q = s.channels.discharge;
    if (q.empty() || link < 1 || node < 1 || static_cast<std::size_t>(node) > q.rows() ||
        static_cast<std::size_t>(link) > q.cols())
        return 0.0;
    return q[node][link];
}

int nodes_of_link(const model_state &s, int link) {
    const array_1d<int> &n = s.channels.node_count;
    if (n.empty() || link < 1 || static_cast<std::size_t>(link) > n.last()) return 0;
    return n[link];
}

// Node positions that the channel arrays hold.
bool node_held(const array_2d<double> &a, int link, int node) {
    return !a.empty() && static_cast<std::size_t>(node) <= a.rows() &&
           static_cast<std::size_t>(link) <= a.cols();
}

// Sets the flags of an ended simulation (the stop time, or the data ended).
void end_simulation(model_state &s) {
    s.event_active = 0;
    s.end_of_run = 1;
    s.end_of_event = 1;
    s.keep_running = 0;
}

double surface_water_volume(const model_state &s) {
    double volume = 0.0;
    if (s.depth.empty()) return 0.0;
    for (int i = 1; i <= s.cell_count; ++i) volume += s.depth[i] * s.cell_size * s.cell_size;
    return volume;
}

bool any_channel_discharge_above(const model_state &s, double threshold) {
    for (int l = 1; l <= s.channels.link_count; ++l)
        for (int n = 1; n <= nodes_of_link(s, l); ++n)
            if (node_discharge(s, l, n) > threshold) return true;
    return false;
}

// After an event has ended: skip the dry spell to the next event's start in one
// turn, unless a process keeps state between the events.
void jump_to_next_event(model_state &s) {
    if (s.inf_richards || s.groundwater_on || s.ov_point_source_on || s.inf_redist ||
        s.channel_state_flag || !dry_spell_may_be_skipped(s))
        return;
    if (s.event_number < 0 || static_cast<std::size_t>(s.event_number) >= s.event_start_times.size())
        return;
    process_clock &rain = s.rain_clock;
    rain.last = s.event_start_times[static_cast<std::size_t>(s.event_number)];
    rain.next = rain.last + rain.interval;
    s.channel_clock.next = rain.next;
    s.constituent_clock.next = rain.next;
    s.constituent_clock.last = rain.last;
    s.channel_constituent_clock.next = s.channel_clock.next;
    s.channel_constituent_clock.last = s.channel_clock.last;
    sync_constituent_slots(s);
}

void print_channel_extremes(model_state &s) {
    s.max_yp = -5000.0;
    s.min_yp = 5000.0;
    s.max_qp = -5000.0;
    s.min_qp = 5000.0;
    s.max_yp_at = {-1, -1};
    s.min_yp_at = {-1, -1};
    s.max_qp_at = {-1, -1};
    s.min_qp_at = {-1, -1};
    const channel_network &c = s.channels;
    for (int l = 1; l <= c.link_count; ++l) {
        for (int n = 1; n <= nodes_of_link(s, l); ++n) {
            if (!node_held(c.water_surface, l, n) || !node_held(c.bed_elevation, l, n)) continue;
            const double yp = c.water_surface[n][l] - c.bed_elevation[n][l];
            const double qp = node_discharge(s, l, n);
            if (yp < s.min_yp) {
                s.min_yp = yp;
                s.min_yp_at = {n, l};
            }
            if (yp > s.max_yp) {
                s.max_yp = yp;
                s.max_yp_at = {n, l};
            }
            if (qp < s.min_qp) {
                s.min_qp = qp;
                s.min_qp_at = {n, l};
            }
            if (qp > s.max_qp) {
                s.max_qp = qp;
                s.max_qp_at = {n, l};
            }
        }
    }
    std::printf("    ==> Max Yp (N %d, L %d) = %lf\n", s.max_yp_at[0], s.max_yp_at[1], s.max_yp);
    std::printf("    ==> Min Yp (N %d, L %d) = %lf\n", s.min_yp_at[0], s.min_yp_at[1], s.min_yp);
    std::printf("    ==> Max Qp (N %d, L %d) = %lf\n", s.max_qp_at[0], s.max_qp_at[1], s.max_qp);
    std::printf("    ==> Min Qp (N %d, L %d) = %lf\n", s.min_qp_at[0], s.min_qp_at[1], s.min_qp);
}

}  // namespace

bool dry_spell_may_be_skipped(const model_state &s) {
    return !(s.long_term && (s.sacramento_on || s.snow_flag));
}

bool clock_due(const model_state &s, const process_clock &clock) {
    return std::fabs(clock.next - s.now_days) < s.time_tolerance_days;
}

double clock_step_seconds(const model_state &s, const process_clock &clock) {
    return (s.now_days - clock.last) * 86400.0;
}

double take_clock_step(model_state &s, process_clock &clock) {
    const double dt = clock_step_seconds(s, clock);
    clock.last = s.now_days;
    clock.next = s.now_days + clock.interval;
    return dt;
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int day_of_year(int year, int month, int day, std::array<int, 13> &days_in_month) {
    if (month <= 1) return day;
    days_in_month[2] = is_leap_year(year) ? 29 : 28;
    int total = day;
    for (int m = 1; m < month && m <= 12; ++m) total += days_in_month[static_cast<std::size_t>(m)];
    return total;
}

void advance_clock(model_state &s) {
    if (s.clock_calls != 0) {
        ++s.step_number;
        ++s.step_counter2;
        ++s.step_counter3;
        // From the start each turn, so no rounding accumulates over the run.
        s.now_days = s.step_number * s.time_step_days + s.start_days;
        s.elapsed_minutes = s.step_number * s.time_step / 60.0;
    }
    ++s.clock_calls;
    calendar_date(s.now_days, s.year, s.month, s.day, s.hour, s.minute, s.second);
    s.second_int = static_cast<int>(s.second);
    s.day_of_year = day_of_year(s.year, s.month, s.day, s.days_in_month);
}

void track_peak_discharge(model_state &s) {
    if (s.peak_outlet_discharge < s.outlet_discharge) {
        s.peak_outlet_discharge = s.outlet_discharge;
        s.peak_time_days = s.now_days;
        s.peak_calendar = {s.year, s.month, s.day, s.hour, s.minute, s.second_int};
    }
    calibration_results *r = s.calib_results;
    if (!s.calibration_run || !s.in_hyd_location_on || !channel_routing_on(s) || !r ||
        s.hyd_location_count < 1)
        return;
    // The volume of a turn is the discharge over the channel step that ran in it.
    if (!channel_step_ran(s)) return;
    for (int k = 1; k <= s.hyd_location_count; ++k) {
        const std::size_t kk = static_cast<std::size_t>(k);
        if (kk >= s.hyd_location_link.size() || kk >= s.hyd_location_node.size() ||
            kk >= r->location_volume.size() || kk >= r->location_peak.size())
            return;
        const double q = node_discharge(s, s.hyd_location_link[kk], s.hyd_location_node[kk]);
        r->location_volume[kk] += q * s.channel_step_seconds;
        if (q >= r->location_peak[kk]) r->location_peak[kk] = q;
    }
}

void print_progress(model_state &s) {
    const bool overland_only = !channel_routing_on(s) && !s.channel_input_routing;
    const bool ran = overland_only ? s.rain_clock.last == s.now_days : channel_step_ran(s);
    if (!ran || s.quiet_card) return;
    if (!s.quiet) {
        if (s.discharge_in_cfs)
            std::printf("event %2d elapsed time %8.2lf  %2d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d "
                        "Qout=%10.1lf cfs\n",
                        s.event_number, s.elapsed_minutes, s.month, s.day, s.year, s.hour,
                        s.minute, s.second_int, s.outlet_discharge * s.cubic_feet_per_cubic_metre);
        else
            std::printf("event %2d elapsed time %8.2lf  %2d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d "
                        "Qout=%8.2lf cms\n",
                        s.event_number, s.elapsed_minutes, s.month, s.day, s.year, s.hour,
                        s.minute, s.second_int, s.outlet_discharge);
        if (s.flush_on && ++s.flush_counter >= s.flush_interval) {
            std::fflush(stdout);
            s.flush_counter = 0;
        }
    }
    if (s.channel_extremes_on) print_channel_extremes(s);
}

void check_simulation_end(model_state &s) {
    // 1. The stop time of the END_TIME card.
    if (s.end_time_on && s.end_time_days < s.now_days) {
        end_simulation(s);
        return;
    }
    // 2. One event: the simulated period, or the overland step's early end once
    // the rain has run off (it stops the run in this turn). Either end closes
    // the event, so that its final volumes are formed and its summary written.
    // The turn at the end time (within the clock tolerance) is the last one, so that
    // the run covers TOT_TIME and not a step more.
    if (!s.long_term && !s.hxt_event_on) {
        if (s.simulation_end_time < s.now_days + s.time_tolerance_days || !s.keep_running) {
            s.keep_running = 0;
            s.end_of_event = 1;
        }
        return;
    }
    // 3. A long-term run never goes past its weather: the event in progress ends
    // with it, so that its summary and the run report are written.
    if (s.long_term && s.hydromet_clock.next == hydromet_end_marker) {
        end_simulation(s);
        return;
    }
    // 4. Long-term and HXT runs: the end of an event by its discharge.
    const double threshold = s.event_min_q < 0.00001 ? 0.05 : s.event_min_q;
    const bool last = on_last_event(s);
    if (!(s.outlet_discharge < threshold)) {
        if (last && s.hydromet_clock.next == hydromet_end_marker &&
            (s.water_table_on || s.sacramento_on))
            end_simulation(s);
        return;
    }
    if (!s.event_active || !(s.precip_state == 0 || s.precip_state == 3)) return;

    // Once the weather of the last event has ended, an event that its discharge
    // cannot end ends the run: nothing would drive it any more.
    const bool weather_over = last && s.hydromet_clock.next == hydromet_end_marker;
    if (last) {
        const double surface = surface_water_volume(s);
        if (s.event_rain_volume > 0.0 &&
            surface - s.event_start_surface_volume >= 0.05 * s.event_rain_volume &&
            !s.water_table_on && !s.sacramento_on && !weather_over) {
            s.keep_running = 1;
            return;
        }
    }
    if (threshold <= s.peak_outlet_discharge) {
        if (last && !s.quiet) std::printf("simulation ended normally at point 2\n");
    } else if (channel_routing_on(s)) {
        if (any_channel_discharge_above(s, threshold)) {
            s.keep_running = 1;
            return;
        }
        if (last && !s.quiet) std::printf("simulation ended normally at point 1\n");
    } else if (!weather_over) {
        return;  // no channels and no peak yet: the event goes on
    }
    s.event_active = 0;
    s.end_of_run = 1;
    s.end_of_event = 1;
    // Snow left on the ground after the last event melts through the rest of the
    // weather, which then ends the run.
    if (last && !s.snow_flag) s.keep_running = 0;
    jump_to_next_event(s);
}
