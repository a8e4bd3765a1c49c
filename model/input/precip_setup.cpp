// Precipitation set-up and start time: scans the meteorological period and the
// events of the precipitation file, opens the calibration output file, serves the
// HXT event summary and selection, then fixes the start time and the first update
// time of every process clock. Called by run_model after the inputs are read.
#include "model/input/precip_setup.h"

#include <cmath>
#include <cstdio>

#include "model/core/calendar.h"
#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/input/precip_file.h"
#include "model/input/radar_precip.h"
#include "model/input/soil_input_services.h"
#include "model/core/model_state.h"

namespace {

constexpr double seconds_per_day = 86400.0;
constexpr double clock_tolerance_days = 1.1574074074074074e-07;  // 0.01 second

// The HXT summary switch: an HXT event call (HXT_EVENT_NUM given).
bool hxt_summary_on(const model_state &s) { return s.hxt_on && s.hxt_event_on; }
// HXT asks only for the summary of the events (event number 0).
bool hxt_summary_only(const model_state &s) { return hxt_summary_on(s) && s.hxt_event_num == 0; }

double julian_of(const precip_date &d) { return julian_day(d.year, d.month, d.day, d.hour, d.minute, 0.0); }

void set_clock(process_clock &c, double interval_seconds, double last, double next) {
    c.interval = interval_seconds / seconds_per_day;
    c.last = last;
    c.next = next;
}

// Step 1 of the set-up: the meteorological period of a long-term run.
bool scan_meteorological_period(model_state &s) {
    const int result = scan_hmet_file(s, 1);
    if (error_record.fatal) return false;
    if (result < 0) {
        std::printf("Error: the hydro-meteorological file %s could not be scanned.\n",
                    s.hydromet_name.c_str());
        raise_printed_error();
        return false;
    }
    roll_hour_24(s.hmet_first);
    roll_hour_24(s.hmet_last);
    if (s.hmet_first[0] != s.hmet_last[0]) s.longterm_year_format = 0;
    s.hmet_first_packed_hour = s.hmet_first[3] * 100;
    s.hmet_first_packed_date = (s.hmet_first[0] * 100 + s.hmet_first[1]) * 100 + s.hmet_first[2];
    precip_date first;
    first.year = s.hmet_first[0];
    first.month = s.hmet_first[1];
    first.day = s.hmet_first[2];
    // The first event of a long-term run can begin no earlier than its first
    // weather hour, where every clock of the run starts.
    first.hour = s.hmet_first[3];
    s.event_start_dates.assign(1, first);
    s.event_start_times.assign(1, julian_of(first));
    return true;
}

bool open_calibration_output(model_state &s) {
    std::string name = s.optimize_name.empty() ? std::string("korva_optim.out") : s.optimize_name;
    s.optim_file.close();
    s.optim_file.file = open_run_file(name, "w");
    if (!s.optim_file.file) {
        std::fprintf(stderr, "Problem opening optimization output file named:%s for writing\n",
                     name.c_str());
        raise_printed_error();
        return false;
    }
    alloc_1d_double(s.optim_values1, 100);
    alloc_1d_double(s.optim_values2, 100);
    // The name as written, with the run number of a calibration series before it.
    const std::string written = run_file_name(name, "w");
    if (!s.quiet)
        std::fprintf(stderr, "writing output for optimization to file %s\n", written.c_str());
    if (s.summary_file)
        std::fprintf(s.summary_file, "writing output for optimization to file %s\n",
                     written.c_str());
    return true;
}

// Reads every event of the file once; false after an error (reported).
bool count_events(model_state &s) {
    precip_event event;
    int found = 0;
    int count = 0;
    std::vector<precip_date> dates;
    std::vector<double> starts;
    for (;;) {
        const int result = read_precip_file(s.precip_file, event, found, s.radar);
        if (result == precip_event_read) {
            ++count;
            dates.push_back(event.dates[1]);
            starts.push_back(julian_of(event.dates[1]));
            if (event.radar == 2) s.radar_event_seen = 1;
            continue;
        }
        if (result == precip_format_error) return false;
        if (std::ferror(s.precip_file)) break;  // reported below
        if (result == precip_early_end) {
            const precip_date last = dates.empty() ? precip_date{} : dates.back();
            std::printf("Unexpected end of file in rain gage data file.\n");
            std::printf("Check the format of the data file.\nProgram terminated.");
            std::printf("Check rain event %d, event after %d %d %d \n", count + 1, last.year,
                        last.month, last.day);
            raise_printed_error();
            return false;
        }
        break;  // no further event
    }
    if (std::ferror(s.precip_file)) {
        std::printf("Error: cannot read the precipitation file %s\n", s.precip_name.c_str());
        raise_printed_error();
        return false;
    }
    if (count == 0) {
        std::printf("Error: the precipitation file %s holds no event that can be read.\n",
                    s.precip_name.c_str());
        raise_printed_error();
        return false;
    }
    if (!s.quiet) std::printf("End of precipitation input file reached.\n");
    if (s.long_term) {
        std::printf("Precip. file contains %d events\n", count);
    } else if (!s.hxt_on) {
        std::printf("Precip. file contains %d events, simulating first event only\n", count);
        std::printf("because LONG_TERM project file card not set in project file.\n");
    } else {
        std::printf("Precip. file contains %d events.\n", count);
    }
    s.event_count = count;
    s.event_start_dates = std::move(dates);
    s.event_start_times = std::move(starts);
    return true;
}

bool write_hxt_summary(model_state &s, std::FILE *summary) {
    std::fprintf(summary, "%d\n", s.event_count);
    for (int k = 0; k < s.event_count; ++k) {
        int y = 0, mo = 0, d = 0, h = 0, mi = 0;
        double sec = 0.0;
        calendar_date(s.event_start_times[static_cast<std::size_t>(k)], y, mo, d, h, mi, sec);
        std::fprintf(summary, "%4d %2d %2d %2d %2d\n", y, mo, d, h, mi);
    }
    if (!close_run_file(summary)) return false;
    std::printf("KORVA wrote precipitation data event summary to file: exchange/HXT_PRECIP.SUM\n");
    std::printf("No simulations performed.  KORVA terminated.\n\n");
    raise_printed_error();
    return false;
}

// Step 5 of the set-up: the events of the precipitation file.
bool scan_precipitation_file(model_state &s) {
    std::FILE *summary = nullptr;
    if (hxt_summary_only(s)) {
        summary = open_run_file(std::string("exchange/HXT_PRECIP.SUM"), "w");
        if (!summary) {
            std::printf("Unable to open file HXT_PRECIP.SUM for writing. Program terminated\n");
            raise_printed_error();
            return false;
        }
    }
    const bool counted = count_events(s);
    if (!counted) {
        close_run_file(summary);
        return false;
    }
    if (!s.long_term && !s.hxt_on) s.event_count = 1;
    if (s.radar_event_seen) init_radar_grid(s.radar, s);
    std::rewind(s.precip_file);
    s.precip_events_found = 0;
    if (summary) return write_hxt_summary(s, summary);
    if (hxt_summary_on(s) && s.hxt_event_num > s.event_count) {
        std::printf("\n\nHXT has requested that KORVA run event %d.\n", s.hxt_event_num);
        std::printf("The precip file specified in the project file: %s\n", s.precip_name.c_str());
        std::printf("contains only %d events.  PROGRAM TERMINATED.\n\n", s.event_count);
        raise_printed_error();
        return false;
    }
    return true;
}

}  // namespace

void roll_hour_24(std::array<int, 4> &date) {
    if (date[3] != 24) return;
    int y = 0, m = 0, d = 0, h = 0, mi = 0;
    double sec = 0.0;
    calendar_date(julian_day(date[0], date[1], date[2], 0, 0, 0.0) + 1.0, y, m, d, h, mi, sec);
    date = {y, m, d, 0};
}

int uniform_rain_step_count(double duration_minutes, double rain_interval_seconds) {
    if (!(rain_interval_seconds > 0.0)) return 1;
    const double steps = std::floor(duration_minutes * 60.0 / rain_interval_seconds + 0.5);
    if (!(steps >= 1.0)) return 1;
    return steps > 2.0e9 ? 2000000000 : static_cast<int>(steps);
}

bool event_driven_long_term(const model_state &s) {
    return s.long_term && !s.groundwater_on && !s.inf_cont_redist;
}

void remember_mask_header(model_state &s) {
    s.mask_north = s.grid_north;
    s.mask_south = s.grid_south;
    s.mask_east = s.grid_east;
    s.mask_west = s.grid_west;
    std::FILE *mask = s.mask_name.empty() ? nullptr : open_run_file(s.mask_name, "r");
    if (mask) {
        char label[8] = {};
        double n = 0.0, so = 0.0, e = 0.0, w = 0.0;
        if (std::fscanf(mask, "%6s %lf %6s %lf %5s %lf %5s %lf", label, &n, label, &so, label, &e,
                        label, &w) == 8) {
            s.mask_north = n;
            s.mask_south = so;
            s.mask_east = e;
            s.mask_west = w;
        }
        std::fclose(mask);
    }
    s.mask_header_read = 1;
}

void setup_precipitation(model_state &s) {
    remember_mask_header(s);
    s.event_number = 0;
    s.precip_events_found = 0;
    s.event_count = 0;
    if (s.long_term && !scan_meteorological_period(s)) return;
    if (s.calibration_run && !open_calibration_output(s)) return;
    if (s.gauge_file_on) {
        echo_input(s, "using precipitation data from file: %s\n", s.precip_name.c_str());
        if (hxt_summary_only(s))
            std::printf("\n\nReading precip file to write HXT summary in file: HXT_PRECIP.SUM\n");
    }
    if (!s.uniform_rain_on) {
        if (!s.precip_file) {
            std::printf("Error: the precipitation file %s is not open.\n", s.precip_name.c_str());
            raise_printed_error();
            return;
        }
        if (!scan_precipitation_file(s)) return;
    }
    if (s.hxt_on) s.long_term = 0;
}

void setup_start_time(model_state &s) {
    const double rain_seconds = s.time_step;  // the rain interval is the overland step
    const double rain_days = rain_seconds / seconds_per_day;
    const bool uniform = s.uniform_rain_on != 0;
    const double first_event = s.event_start_times.empty() ? s.start_days : s.event_start_times[0];
    double requested = first_event;
    if (s.hxt_event_on && s.hxt_event_num > 0 &&
        static_cast<std::size_t>(s.hxt_event_num) <= s.event_start_times.size())
        requested = s.event_start_times[static_cast<std::size_t>(s.hxt_event_num - 1)];

    // 1. Start time.
    if (s.long_term) {
        s.start_days = julian_day(s.hmet_first[0], s.hmet_first[1], s.hmet_first[2], s.hmet_first[3], 0, 0.0);
        s.hmet_first_packed_hour = s.hmet_first[3] * 100;
        s.hmet_first_packed_date = (s.hmet_first[0] * 100 + s.hmet_first[1]) * 100 + s.hmet_first[2];
        s.simulation_end_time = julian_day(s.hmet_last[0], s.hmet_last[1], s.hmet_last[2], s.hmet_last[3], 0, 0.0);
    } else if (!uniform) {
        s.start_days = first_event;
    }
    // An event run lasts TOT_TIME minutes from its start.
    if (!s.long_term) s.simulation_end_time = s.start_days + static_cast<double>(s.total_time) / 1440.0;
    const double start = s.start_days;
    const bool event_driven = event_driven_long_term(s);
    const double F = first_event;

    // 2. Counters, peaks, event flags and the clock.
    s.clock_calls = s.step_number = s.step_counter2 = s.step_counter3 = 0;
    s.elapsed_minutes = 0.0;
    s.peak_outlet_discharge = 0.0;
    s.peak_time_days = 0.0;
    s.end_of_event = s.end_of_run = s.event_active = 0;
    s.time_tolerance_days = clock_tolerance_days;
    s.time_step_days = s.time_step / seconds_per_day;
    double now = start;
    if (s.hxt_on) now = s.hxt_event_on && s.hxt_event_num > 0 ? requested : F;
    s.now_days = now;

    // 3. Rain.
    if (event_driven)
        set_clock(s.rain_clock, rain_seconds, F, F + rain_days);
    else
        set_clock(s.rain_clock, rain_seconds, start, start + rain_days);
    if (hxt_summary_on(s)) {
        s.rain_clock.last = now;
        s.rain_clock.next = now + rain_days;
    }
    // 4. Pipe network.
    if (s.storm_sewer_on) {
        const double last = event_driven ? F : start;
        set_clock(s.pipe_clock, rain_seconds, last, last + rain_days);
    }
    // 5. Hydro-meteorology.
    if (s.long_term) set_clock(s.hydromet_clock, 3600.0, start - 1.0 / 24.0, start);
    // 6. Groundwater.
    const double gw_seconds = s.gw_timestep;
    set_clock(s.gw_clock, gw_seconds, start, start + gw_seconds / seconds_per_day);
    // 7. Soil-moisture accounting.
    // Its first step takes the first hour of the run, at the end of that hour.
    set_clock(s.sacramento_clock, 3600.0, start, start + 1.0 / 24.0);
    // 8. Infiltration.
    double infiltration_seconds = rain_seconds;
    const bool richards_long = s.inf_richards && s.long_term && !s.groundwater_on && !s.inf_cont_redist;
    if (richards_long) infiltration_seconds = gw_seconds > 0.0 && gw_seconds < 3600.0 ? gw_seconds : 3600.0;
    if (event_driven && !s.inf_richards) {
        set_clock(s.infiltration_clock, infiltration_seconds, F, F + infiltration_seconds / seconds_per_day);
    } else {
        set_clock(s.infiltration_clock, infiltration_seconds, start,
                  start + infiltration_seconds / seconds_per_day);
    }
    if (hxt_summary_on(s)) {
        s.infiltration_clock.last = now;
        s.infiltration_clock.next = now + s.time_step_days;
    }
    if (s.groundwater_on && !s.inf_redist && infiltration_seconds < gw_seconds)
        set_clock(s.gw_clock, infiltration_seconds, start,
                  start + infiltration_seconds / seconds_per_day);
    // 9. Evapotranspiration of the redistribution scheme.
    if (!event_driven)
        s.et_clock = s.infiltration_clock;
    else
        set_clock(s.et_clock, 3600.0, start, start + 1.0 / 24.0);

    // 10. Precipitation reading.
    if (!uniform) {
        s.rain_record_clock.next = s.hxt_event_on && s.hxt_event_num > 0 ? requested : F;
        s.precip_state = 0;
    } else {
        s.uniform_rain_steps = uniform_rain_step_count(s.rain_duration, rain_seconds);
        s.uniform_rain_counter = 0;
        s.rain_record_clock.next = now;
        s.event_number = 1;
        s.precip_state = 1;
        // Uniform rain is one event that begins at the start.
        s.event_count = 1;
        s.event_start_time = now;
        s.event_start_times.assign(1, now);
        s.rain_start_days = now;
        s.rain_end_days = now + s.uniform_rain_steps * rain_days;
        // Uniform rain falls from the start: the event is active and rain is falling
        // until the last rain step, as a gauge event is from its first record.
        s.rainborne_constituent_flag = 1;
        s.event_active = 1;
    }
    s.end_of_event = 0;

    // 11. Uniform rain needs its start date and time: both cards.
    if (uniform && (s.grid.start_year == 0 || !s.grid.start_time_given)) {
        std::printf("You did not specify the starting date and time in the\n");
        std::printf("project file.  You must do this for simulations with\n");
        std::printf("uniform precipitation using the START_DATE and START_TIME\n");
        std::printf("cards.  Edit the project file.   Program terminated.\n");
        raise_printed_error();
        return;
    }

    // 12. Channel routing at the overland step.
    s.channel_step_seconds = s.time_step;
    {
        const double last = event_driven ? F : start;
        set_clock(s.channel_clock, s.time_step, last, last + s.time_step_days);
        if (hxt_summary_on(s)) {
            s.channel_clock.last = now;
            s.channel_clock.next = now + s.time_step_days;
        }
    }
    // The channel constituent slots copy the channel slot (step 13 hands it on).
    if (s.chan_con_trans) s.channel_constituent_clock = s.channel_clock;
    // 13. Overland constituents follow the rain clock.
    s.constituent_clock = s.rain_clock;
    if (s.ov_point_source_on) {
        s.constituent_clock.next = now + rain_days;
        s.constituent_clock.last = now;
        s.rain_clock.last = now;
        s.infiltration_clock.last = now;
    }
    sync_constituent_slots(s);
    // 14. The loop may start.
    s.keep_running = 1;
}
