// Precipitation pieces of the time loop: read_precip_event, read_radar_precip,
// apply_rainfall and apply_point_inflows, with the gauge spreading, the record
// rates, the date check and canopy interception. Called every turn by the run
// driver's table of pieces; each acts only when its clock is due.
#include "model/hydrology/rainfall.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/core/calendar.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/process_clocks.h"
#include "model/hydrology/soil_water_services.h"
#include "model/input/precip_file.h"
#include "model/input/radar_precip.h"
#include "model/core/model_state.h"

namespace {

constexpr double seconds_per_day = 86400.0;
// Rain rate (mm/h) times seconds to metres of water.
constexpr double mm_per_hour_seconds_to_m = 1.0 / 3.6e6;

double julian_of(const precip_date &d) {
    return julian_day(d.year, d.month, d.day, d.hour, d.minute, 0.0);
}

// A precipitation time is taken at the first turn that reaches it: model steps
// need not fall on the record times, and a time between two turns must not be
// passed over (which would leave the last rate falling for ever).
bool reached(const model_state &s, double when) {
    return when - s.now_days < s.time_tolerance_days;
}

// A turn's rain falls over the rain step that ends in it: a record's rate is the
// step's when the step began at or after the record's time.
bool record_in_force(const model_state &s, double when) {
    return when + s.rain_clock.interval - s.now_days < s.time_tolerance_days;
}

void clear_rates(model_state &s) {
    s.shared_rain_rate = 0.0;
    for (int k = 1; k <= s.cell_count; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        if (!s.rain_rate.empty()) s.rain_rate[i] = 0.0;
        if (!s.net_rain_rate.empty()) s.net_rain_rate[i] = 0.0;
        if (!s.step_rain_rate.empty()) s.step_rain_rate[i] = 0.0;
    }
}

void ensure_cell_array(array_1d<double> &a, int n) {
    if (a.empty() || a.last() < static_cast<std::size_t>(n)) alloc_1d_double(a, n);
}

// Cell centre of grid row r and column c.
double centre_x(double west, int c, double dx) { return west + (c - 0.5) * dx; }
double centre_y(double north, int r, double dx) { return north - (r - 0.5) * dx; }

// Per-cell rate of record k of the current event; false after an error.
bool apply_record(model_state &s, int k) {
    precip_event &e = s.rain_event;
    ensure_cell_array(s.rain_rate, s.cell_count);
    if (e.radar == 2) {
        const std::string &name = e.radar_files[static_cast<std::size_t>(k - 1)];
        std::printf("Reading radar precip file %s.\n", name.c_str());
        if (read_radar_values(s.radar, name) != 0 || apply_radar_to_cells(s.radar, s.rain_rate) != 0) {
            if (!error_record.fatal) {
                std::printf("Error: the rainfall of radar file %s could not be applied.\n", name.c_str());
                raise_printed_error();
            }
            return false;
        }
        return true;
    }
    if (s.inverse_distance_on)
        return spread_radar_rain(k, e, s.cell_number_grid, s.rain_rate, s.grid_rows, s.grid_cols,
                                 s.cell_size, s.mask_north, s.mask_west) == 0;
    spread_station_values(e, s.nearest_gauge, s.rain_rate, s.cell_count, k);
    return true;
}

// Read a radar-file event's first grid and map the cells onto it.
bool map_radar_event(model_state &s) {
    const std::string &first = s.rain_event.radar_files.front();
    if (read_radar_grid(s.radar, first) != 0) {
        std::printf("Error: unable to read radar header in file %s\n", first.c_str());
        raise_printed_error();
        return false;
    }
    if (s.radar.cell_map.size() != static_cast<std::size_t>(s.cell_count) + 1)
        init_radar_grid(s.radar, s);
    if (map_radar_to_cells(s.radar, s.cell_number_grid) == 0) return true;
    std::printf("  (radar file %s: a cell of the watershed lies outside its grid)\n", first.c_str());
    return false;
}

// Steps 9 to 11 of the event read: date check, rates and the gauge map.
void prepare_event(model_state &s) {
    precip_event &e = s.rain_event;
    if (s.long_term &&
        !check_gage_hmet_dates(e.dates[1].year, e.dates[1].month, e.dates[1].day, e.dates[1].hour,
                               s.hmet_first[0], s.hmet_first[1], s.hmet_first[2], s.hmet_first[3],
                               s.hmet_last[0], s.hmet_last[1], s.hmet_last[2], s.hmet_last[3])) {
        std::printf("Error: KORVA failed on date check for precip event %d\n", s.event_number);
        raise_printed_error();
        return;
    }
    if (e.radar == 2) return;
    if (e.gauges < 1) {
        std::printf("Error: the event entitled %s has no gage; rain from gages needs at least one.\n",
                    e.title.c_str());
        raise_printed_error();
        return;
    }
    if (e.records > 1 && convert_records_to_rates(e) != 0) return;
    if (!s.inverse_distance_on && e.gauges > 1) {
        if (s.nearest_gauge.empty() || s.nearest_gauge.last() < static_cast<std::size_t>(s.cell_count))
            alloc_1d_int(s.nearest_gauge, s.cell_count);
        find_neighbor(e, s.cell_number_grid, s.nearest_gauge, s.grid_rows, s.grid_cols,
                      s.mask_north, s.mask_west, s.cell_size);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Gauge spreading

int find_neighbor(const precip_event &e, const array_2d<int> &cell_grid, array_1d<int> &nearest,
                  int rows, int cols, double north, double west, double dx) {
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            const int cell = cell_grid[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
            if (cell <= 0) continue;
            const double x = centre_x(west, c, dx), y = centre_y(north, r, dx);
            double best = 1000000.0;
            int gauge = 0;
            for (int g = 1; g <= e.gauges; ++g) {
                const double d = std::hypot(e.gauge_x[static_cast<std::size_t>(g)] - x,
                                            e.gauge_y[static_cast<std::size_t>(g)] - y);
                if (d < best) {
                    best = d;
                    gauge = g;
                }
            }
            if (best > 900000.0 || gauge == 0) {
                std::printf("Failure to identify closest raingauge in find_neighbor\n");
                std::printf("check rain gage data file, particularly gage coordinates\n");
                raise_printed_error();
                return -1;
            }
            nearest[static_cast<std::size_t>(cell)] = gauge;
        }
    }
    return 0;
}

int spread_radar_rain(int record, const precip_event &e, const array_2d<int> &cell_grid,
                      array_1d<double> &rate, int rows, int cols, double dx, double north,
                      double west) {
    if (e.gauges < 1) {
        std::printf("Error: inverse-distance rainfall needs at least one gage; the event entitled "
                    "%s has none.\n",
                    e.title.c_str());
        raise_printed_error();
        return -1;
    }
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            const int cell = cell_grid[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
            if (cell <= 0) continue;
            double value = 0.0;
            if (e.gauges == 1) {
                value = e.value(record, 1);
            } else {
                const double x = centre_x(west, c, dx), y = centre_y(north, r, dx);
                double weighted = 0.0, weights = 0.0;
                bool close = false;
                for (int g = 1; g <= e.gauges && !close; ++g) {
                    const double d = std::hypot(e.gauge_x[static_cast<std::size_t>(g)] - x,
                                                e.gauge_y[static_cast<std::size_t>(g)] - y);
                    if (d < dx) {  // also d = 0: the gauge's own value, no division
                        value = e.value(record, g);
                        close = true;
                    } else {
                        weighted += e.value(record, g) / (d * d);
                        weights += 1.0 / (d * d);
                    }
                }
                if (!close) value = weighted / weights;
            }
            rate[static_cast<std::size_t>(cell)] = value;
        }
    }
    return 0;
}

void spread_station_values(const precip_event &e, const array_1d<int> &nearest,
                           array_1d<double> &rate, int cell_count, int record) {
    for (int i = 1; i <= cell_count; ++i) {
        int g = 1;
        if (e.gauges > 1) g = nearest[static_cast<std::size_t>(i)];
        if (g < 1 || g > e.gauges) g = 1;
        rate[static_cast<std::size_t>(i)] = e.value(record, g);
    }
}

int convert_records_to_rates(precip_event &e) {
    if (e.radar == 1) {
        for (int k = 1; k < e.records; ++k)
            for (int g = 1; g <= e.gauges; ++g) e.value(k, g) = e.value(k + 1, g);
        return 0;
    }
    if (!e.gages && !e.accum) return 0;  // RATES are rates already
    for (int k = 1; k < e.records; ++k) {
        const double days = julian_of(e.dates[static_cast<std::size_t>(k + 1)]) -
                            julian_of(e.dates[static_cast<std::size_t>(k)]);
        // Whole seconds: the records are given to the minute.
        const double seconds = std::round(days * seconds_per_day);
        if (!(seconds > 0.0)) {
            std::printf("\nERROR:\n");
            std::printf("Records %d and %d of the event entitled:\n %s\n", k, k + 1, e.title.c_str());
            std::printf("have the same time.  GAGES and ACCUM records give depths over the time\n");
            std::printf("between records, which must be above zero.  Program exiting on error.\n\n");
            raise_printed_error();
            return -1;
        }
        if (seconds > 86400.0) std::printf("WARNING: you have a long delta t in your precip file\n");
        const double hours = seconds / 3600.0;
        for (int g = 1; g <= e.gauges; ++g) {
            if (e.accum)
                e.value(k, g) = (e.value(k + 1, g) - e.value(k, g)) / hours;
            else
                e.value(k, g) = e.value(k + 1, g) / hours;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Date check

namespace {

// Words of the date messages for the start or the end of the hydromet data.
struct hmet_date_words {
    const char *year;   // "doesn't start until" / "ends in"
    const char *month;  // "starts" / "ends"
    const char *day;    // "begins" / "ends"
};

// Prints the message for rain date r against hydromet date h ({year, month, day,
// hour}) when they first differ in component i (0 year .. 3 hour).
void print_hmet_date_mismatch(int i, const long *r, const long *h, const hmet_date_words &w) {
    if (i == 0) {
        std::printf("\nRaingage Data starts in %ld, hydromet data %s %ld.\n", r[0], w.year, h[0]);
        std::printf("Program terminating.  Check your dates.\n");
    } else if (i == 1) {
        std::printf("\nRaingage Data starts in month %ld of %ld while hmet data %s in\n", r[1], r[0],
                    w.month);
        std::printf("month %ld of %ld\n", h[1], h[0]);
    } else if (i == 2) {
        std::printf("\nRaingage data starts on day %ld of month %ld in year %ld\n", r[2], r[1], r[0]);
        std::printf("while the hmet data %s on day %ld of month %ld in year %ld\n", w.day, h[2], h[1],
                    h[0]);
    } else {
        std::printf("\nRaingage data starts on hour %ld day %ld month %ld in year %ld\n", r[3], r[2],
                    r[1], r[0]);
        std::printf("while the hmet data %s on hour %ld day %ld of month %ld in year %ld\n", w.day,
                    h[3], h[2], h[1], h[0]);
        std::printf("Program terminating.  Check your times and dates.\n");
    }
}

}  // namespace

int check_gage_hmet_dates(int ry, int rm, int rd, int rh, int sy, int sm, int sd, int sh, int ey,
                          int em, int ed, int eh) {
    const long rain[4] = {ry, rm, rd, rh}, first[4] = {sy, sm, sd, sh}, last[4] = {ey, em, ed, eh};
    // First component in which a differs from b: 0..3, or 4 when equal.
    auto differs = [](const long *a, const long *b) {
        int i = 0;
        while (i < 4 && a[i] == b[i]) ++i;
        return i;
    };
    int i = differs(rain, first);
    if (i < 4 && rain[i] < first[i]) {
        print_hmet_date_mismatch(i, rain, first, {"doesn't start until", "starts", "begins"});
        return 0;
    }
    i = differs(rain, last);
    if (i < 4 && rain[i] > last[i]) {
        print_hmet_date_mismatch(i, rain, last, {"ends in", "ends", "ends"});
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Canopy interception

double interception_season_factor(int month, double latitude) {
    static constexpr double south[13] = {0, 4.0, 4.0, 4.0, 2.5, 1.0, 1.0, 1.0, 1.0, 1.0, 2.5, 4.0, 4.0};
    static constexpr double north[13] = {0, 4.0, 4.0, 4.0, 4.0, 3.0, 2.0, 1.0, 1.0, 1.0, 2.5, 4.0, 4.0};
    if (month < 1 || month > 12) month = 1;
    return latitude < 37.0 ? south[month] : north[month];
}

void canopy_interception(int cell_count, int month, double latitude, const array_1d<double> &rate,
                         array_1d<double> &net, array_1d<double> &store,
                         const array_1d<double> &capacity, const array_1d<double> &coefficient,
                         double *total, int channel_routing, const array_1d<int> &cell_channel_lake,
                         double dt, double dx) {
    const double f = interception_season_factor(month, latitude);
    for (int k = 1; k <= cell_count; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        const double r = rate[i];
        if (r < 0.0) {
            net[i] = 0.0;
            continue;
        }
        if (channel_routing && !cell_channel_lake.empty() && cell_channel_lake[i] > 0) {
            net[i] = r;
            continue;
        }
        if (!(dt > 0.0)) {  // a step of no length catches and passes nothing
            net[i] = 0.0;
            continue;
        }
        const double depth = r * dt / 3600.0;  // mm
        double room = capacity[i] / f - store[i];
        if (room < 0.0) room = 0.0;
        double caught = 0.0;
        if (depth < room) {
            caught = depth;
            net[i] = 0.0;
        } else {
            const double excess = depth - room;
            const double share = coefficient[i] / f;
            caught = room + excess * share;
            net[i] = excess * 3600.0 / dt * (1.0 - share);
        }
        store[i] += caught;
        if (total) *total += caught * dx * dx / 1000.0;
    }
}

void evaporate_interception(model_state &s, double seconds) {
    const int n = s.cell_count;
    if (!s.interception_on || !s.long_term || !(seconds > 0.0) || s.potential_et.empty() ||
        s.interception_store.empty() || s.interception_store.last() < static_cast<std::size_t>(n))
        return;
    const double area_m2 = s.cell_size * s.cell_size;
    const bool have_rain = !s.rain_rate.empty();
    double evaporated = 0.0;  // mm summed over the cells
    for (int k = 1; k <= n; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        double &store = s.interception_store[i];
        if (!(store > 0.0) || (have_rain && s.rain_rate[i] > 1e-16)) continue;
        const double demand = s.potential_et[i] * seconds * 10.0;  // mm
        const double taken = demand < store ? demand : store;
        store -= taken;
        s.potential_et[i] -= taken / 10.0 / seconds;
        if (s.potential_et[i] < 0.0) s.potential_et[i] = 0.0;
        s.interception_evaporation_total += taken * area_m2 / 1000.0;
        evaporated += taken;
    }
    s.water.move(ledger_node::canopy, ledger_node::atmosphere, evaporated * area_m2 / 1000.0);
}

void track_max_grid(int n, const array_1d<double> &value, array_1d<double> &max) {
    for (int i = 1; i <= n; ++i)
        if (max[static_cast<std::size_t>(i)] < value[static_cast<std::size_t>(i)])
            max[static_cast<std::size_t>(i)] = value[static_cast<std::size_t>(i)];
}

// ---------------------------------------------------------------------------
// Time-step pieces

void read_precip_event(model_state &s) {
    if (s.precip_state != 0) return;
    const bool start_due = static_cast<std::size_t>(s.event_number) < s.event_start_times.size() &&
                           reached(s, s.event_start_times[static_cast<std::size_t>(s.event_number)]);
    if (!start_due && !s.hxt_event_on) return;
    if (s.event_number >= s.event_count) return;

    if (s.long_term && s.last_finished_event < s.event_number) {
        s.end_of_event = 1;
        finish_event(s);
        if (error_record.fatal) return;
    }
    s.rainborne_constituent_flag = 1;
    s.event_active = 1;
    if (!s.gauge_file_on) return;

    if (s.quiet_card) {
        if (s.hxt_event_on) {
            std::printf("Searching through precip input file for HXT event %d\n", s.hxt_event_num);
            s.event_number = s.hxt_event_num;
        } else {
            if (!s.quiet) {
                if (s.long_term)
                    std::printf("reading precip. data for event %3d from file: %s\n", s.event_number + 1,
                                s.precip_name.c_str());
                else
                    std::printf("reading precip data from file: %s\n", s.precip_name.c_str());
            }
            if (s.summary_file) {
                if (s.long_term)
                    std::fprintf(s.summary_file, "---reading precip. data for event %3d from file: %s\n\n\n",
                                 s.event_number + 1, s.precip_name.c_str());
                else
                    std::fprintf(s.summary_file, "reading precip data from file: %s\n\n\n",
                                 s.precip_name.c_str());
                std::fflush(s.summary_file);
            }
        }
    }

    const int target = s.hxt_event_on && s.hxt_event_num > 0 ? s.hxt_event_num : 1;
    int result = precip_no_event;
    for (int n = 0; n < target; ++n) {
        result = read_precip_file(s.precip_file, s.rain_event, s.precip_events_found, s.radar);
        if (result != precip_event_read) break;
    }

    if (result == precip_format_error) return;  // reported by the reader
    if (result == precip_early_end) {
        std::printf("Unexpected end of file in rain gauge data file.\n");
        std::printf("Check the format of the data file.\nProgram terminated.");
        raise_printed_error();
        return;
    }
    if (result == precip_no_event) {
        s.precip_state = 2;
        s.first_record_date.year = 1000;
        s.event_found = 0;
        s.no_more_events = 1;
        if (s.precip_events_found == 0) {
            std::printf("\n**********************************\n");
            std::printf("Data was not correctly read from the rainfall input file.\n");
            std::printf("Verify the file format.\n");
            std::printf("***********************************\n");
        }
        if (s.long_term && !s.quiet_card) {
            std::printf("Precip data for event %d was not found in file: %s\n", s.event_number + 1,
                        s.precip_name.c_str());
            std::printf("KORVA assumes this means all events have been simulated.\n");
            std::printf("Program terminating normally.\n");
        }
        s.rain_data_present = 0;
        return;
    }

    precip_event &e = s.rain_event;
    s.rain_start_days = s.now_days;
    s.first_record_date = e.dates[1];
    s.event_start_time = julian_of(e.dates[1]);
    s.rain_end_days = julian_of(e.dates[static_cast<std::size_t>(e.records)]);
    s.event_number += 1;
    s.rain_record_clock.next = s.event_start_time;
    s.record_index = 1;
    s.precip_state = 1;
    s.event_found = 1;
    if (e.radar == 2 && !map_radar_event(s)) return;
    if (s.hxt_event_on && s.hxt_event_num > 0) s.event_number = s.hxt_event_num;
    s.rain_data_present = 1;
    prepare_event(s);
}

void read_radar_precip(model_state &s) {
    if (s.gauge_file_on && (s.precip_state == 1 || s.precip_state == 2) &&
        record_in_force(s, s.rain_record_clock.next)) {
        precip_event &e = s.rain_event;
        // Records whose times have been reached; equal times leave the last of them.
        while (s.record_index < e.records && record_in_force(s, s.rain_record_clock.next)) {
            if (!apply_record(s, s.record_index)) return;
            s.record_index += 1;
            s.rain_record_clock.last = s.now_days;
            s.rain_record_clock.next = julian_of(e.dates[static_cast<std::size_t>(s.record_index)]);
        }
        // The time of the last record ends the event's rain.
        if (s.record_index >= e.records && record_in_force(s, s.rain_record_clock.next)) {
            s.rainborne_constituent_flag = 0;
            if (s.precip_state == 1) s.precip_state = 0;
            if (s.precip_state == 2) s.precip_state = 3;
            clear_rates(s);
        }
    }
    if (s.uniform_rain_on && s.precip_state == 1) {
        if (!s.rain_rate_shared) ensure_cell_array(s.rain_rate, s.cell_count);
        if (s.uniform_rain_counter == 0) {
            if (s.rain_rate_shared)
                s.shared_rain_rate = s.rain_intensity;
            else
                for (int k = 1; k <= s.cell_count; ++k) s.rain_rate[static_cast<std::size_t>(k)] = s.rain_intensity;
        } else if (s.uniform_rain_counter >= s.uniform_rain_steps) {
            clear_rates(s);
            s.rainborne_constituent_flag = 0;
            s.precip_state = 3;
        }
    }
}

void apply_rainfall(model_state &s) {
    if (s.precip_state != 1 || !clock_due(s, s.rain_clock)) return;
    const double dt = clock_step_seconds(s, s.rain_clock);
    if (s.uniform_rain_on) s.uniform_rain_counter += 1;
    const int n = s.cell_count;
    const double dx = s.cell_size;
    const double area = dx * dx;
    const bool shared = s.rain_rate_shared != 0;
    if (!shared) {
        ensure_cell_array(s.rain_rate, n);
        ensure_cell_array(s.step_rain_rate, n);
    }
    ensure_cell_array(s.depth, n);
    const bool intercept = !shared && s.interception_on != 0;
    if (intercept) {
        ensure_cell_array(s.net_rain_rate, n);
        ensure_cell_array(s.interception_store, n);
        ensure_cell_array(s.interception_capacity, n);
        ensure_cell_array(s.interception_coefficient, n);
        const double caught_before = s.interception_total;
        canopy_interception(n, s.month, s.latitude, s.rain_rate, s.net_rain_rate,
                            s.interception_store, s.interception_capacity,
                            s.interception_coefficient, &s.interception_total,
                            channel_routing_on(s), s.cell_channel_lake, dt, dx);
        s.water.move(ledger_node::atmosphere, ledger_node::canopy, s.interception_total - caught_before);
    }

    // Rain on lakes goes to the lakes: the rain that passed the canopy, so that
    // what the canopy caught over a lake is not booked twice.
    for (lake_record &lake : s.lakes) lake.rain_volume = 0.0;
    for (double &v : s.channel_lake_rain) v = 0.0;
    const bool overland_lakes = s.overland_lake_on && !s.overland_lake_id.empty();
    const bool channel_lakes = channel_routing_on(s) && !s.cell_channel_lake.empty();
    // A cell whose rain goes to its lake. Its rate is kept: a uniform rate is set
    // once per event, and a cell that a lake takes later must still bring rain.
    const auto lake_takes_rain = [&](std::size_t i) {
        const int lake = overland_lakes ? s.overland_lake_id[i] : 0;
        const int chan_lake = channel_lakes ? s.cell_channel_lake[i] : 0;
        return (lake > 0 && static_cast<std::size_t>(lake) < s.lakes.size()) ||
               (chan_lake > 0 && static_cast<std::size_t>(chan_lake) < s.channel_lake_rain.size());
    };
    double overland_lake_rain = 0.0, channel_lake_rain = 0.0;
    for (int k = 1; k <= n && (overland_lakes || channel_lakes); ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        const double volume = (intercept ? s.net_rain_rate[i] : s.rain_rate[i]) * dt * area *
                              mm_per_hour_seconds_to_m;
        const int lake = overland_lakes ? s.overland_lake_id[i] : 0;
        const int chan_lake = channel_lakes ? s.cell_channel_lake[i] : 0;
        if (lake > 0 && static_cast<std::size_t>(lake) < s.lakes.size()) {
            s.lakes[static_cast<std::size_t>(lake)].rain_volume += volume;
            overland_lake_rain += volume;
            s.lake_update_flag = 1;
        } else if (chan_lake > 0 && static_cast<std::size_t>(chan_lake) < s.channel_lake_rain.size()) {
            s.channel_lake_rain[static_cast<std::size_t>(chan_lake)] += volume;
            // The rain joins the lake's water; the lake update moves its surface.
            if (static_cast<std::size_t>(chan_lake) < s.channels.lakes.size())
                s.channels.lakes[static_cast<std::size_t>(chan_lake)].volume += volume;
            channel_lake_rain += volume;
            s.global_rain_volume += volume;
            if (s.chan_con_trans && static_cast<std::size_t>(chan_lake) < s.channel_lake_rain_mass.size())
                s.channel_lake_rain_mass[static_cast<std::size_t>(chan_lake)] += volume;
        }
    }

    s.water.move(ledger_node::atmosphere, ledger_node::overland_lakes, overland_lake_rain);
    s.water.move(ledger_node::atmosphere, ledger_node::channel_lakes, channel_lake_rain);

    // Rain on the other cells. The sums are kept in locals (the same additions
    // in the same order) so that the loop does not store them for every cell.
    double event_volume = s.event_rain_volume, global_volume = s.global_rain_volume;
    double rate_sum = 0.0;
    double snowfall = 0.0, on_ground = 0.0;  // m summed over the cells
    const auto keep_sums = [&] {
        s.event_rain_volume = event_volume;
        s.global_rain_volume = global_volume;
        s.step_rate_sum = rate_sum;
        s.water.move(ledger_node::atmosphere, ledger_node::snow, snowfall * area);
        s.water.move(ledger_node::atmosphere, ledger_node::surface, on_ground * area);
    };
    const bool freezing = s.long_term && s.hmet_hour.air_temperature < 0.0;
    double *depth = s.depth.data();
    const double shared_rate = s.shared_rain_rate;
    for (int k = 1; k <= n; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        if ((overland_lakes || channel_lakes) && lake_takes_rain(i)) {
            if (!shared) s.step_rain_rate[i] = 0.0;
            continue;
        }
        const double r = shared ? shared_rate : intercept ? s.net_rain_rate[i] : s.rain_rate[i];
        const double volume = r * dt * area * mm_per_hour_seconds_to_m;
        event_volume += volume;
        global_volume += volume;
        rate_sum += r;
        if (!shared) s.step_rain_rate[i] = r;
        if (freezing) {
            ensure_cell_array(s.snow_store, n);
            s.snow_store[i] += r * dt * mm_per_hour_seconds_to_m;
            snowfall += r * dt * mm_per_hour_seconds_to_m;
            s.snow_flag = 1;
            // The rain-borne constituents of this snow stay with it.
            if (s.ov_con_trans_mode) {
                ensure_cell_array(s.constituent_snowfall, n);
                s.constituent_snowfall[i] += r * dt * mm_per_hour_seconds_to_m;
            }
            continue;
        }
        depth[i] += r * dt * mm_per_hour_seconds_to_m;
        on_ground += r * dt * mm_per_hour_seconds_to_m;
        if (std::isnan(depth[i])) {
            keep_sums();
            std::printf("h NaN in main()- point 1, grid cell %d\n", k);
            raise_printed_error();
            return;
        }
    }
    keep_sums();
    if (s.step_rate_sum > 0.0) {
        // The step that brought the first rain began dt before this turn.
        if (s.rain_steps_with_rain == 0) s.rain_began_minutes = std::max(0.0, s.elapsed_minutes - dt / 60.0);
        s.rain_steps_with_rain += 1;
    }
    // The rain piece steps the snow through this part of the hour, melting it only
    // in air above 0 C; the meteorology piece melts the rest of the hour.
    if (s.long_term) s.rain_melt_seconds += dt;
    if (s.snow_flag && s.hmet_hour.air_temperature > 0.0) s.snow_flag = snowmelt_energy_balance(s, dt, 1);
}

void apply_point_inflows(model_state &s) {
    if (!s.project.ov_con_trans || !s.ov_point_source_on || s.point_inflow.empty()) return;
    if (!(s.constituent_clock.next - s.now_days < s.time_tolerance_days)) return;
    const double dt = (s.now_days - s.constituent_clock.last) * seconds_per_day;
    const double area = s.cell_size * s.cell_size;
    if (!(area > 0.0)) return;
    double inflow = 0.0;
    for (int k = 1; k <= s.cell_count && static_cast<std::size_t>(k) <= s.point_inflow.last(); ++k) {
        const double q = s.point_inflow[static_cast<std::size_t>(k)];
        s.depth[static_cast<std::size_t>(k)] += q * dt / area;
        s.point_inflow_total1 += q * dt;
        s.point_inflow_total2 += q * dt;
        inflow += q * dt;
    }
    s.water.move(ledger_node::point_sources, ledger_node::surface, inflow);
    // Overland flow and infiltration act in the next turn.
    const double rain_next = s.now_days + s.rain_clock.interval;
    if (rain_next < s.rain_clock.next) s.rain_clock.next = rain_next;
    if (s.now_days < s.rain_clock.last) s.rain_clock.last = s.now_days;
    const double infiltration_next = s.now_days + s.infiltration_clock.interval;
    if (infiltration_next < s.infiltration_clock.next) s.infiltration_clock.next = infiltration_next;
    if (s.now_days < s.infiltration_clock.last) s.infiltration_clock.last = s.now_days;
    if (s.inf_redist) s.redist_wet_period = 0;
}
