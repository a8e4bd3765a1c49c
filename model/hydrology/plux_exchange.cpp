// The exchange with the vegetation model at the end of an HXT event (time-step
// piece exchange_plux_maps): the outgoing maps and the exchange control file, the
// maps it hands back, whether the run goes on, and the channel cross-sections.
#include <cmath>
#include <cstdio>
#include <span>
#include <vector>

#include "model/core/calendar.h"
#include "model/channel/channel_services.h"
#include "model/output/dataset_writer.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/hydrology/event_start.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/soil_water_pieces.h"
#include "model/output/map_writers.h"
#include "model/core/model_state.h"

namespace {

// Slots of the exchange switches and names (the order of the PLUX map cards).
constexpr int moisture_out = 0, ksat_out = 1, rough_out = 2, porosity_out = 3;
constexpr int moisture_in = 7, ksat_in = 8, rough_in = 9;
// Cards of the exchange that no process of the model fills or reads.
constexpr int unused_slots[] = {4, 5, 6, 10, 11, 12};
const char *const unused_cards[] = {"EROSIVITY_TO_PLUX",   "CROP_FACT_TO_PLUX",
                                    "NET_EROSION_TO_PLUX", "EROSIVITY_FROM_PLUX",
                                    "CROP_FACT_FROM_PLUX", "ET_DEMAND_FROM_PLUX"};

// The soil moisture the model holds now, as a fraction, by the scheme in force:
// the root zone of redistribution or of the Richards columns, otherwise the
// moisture Green and Ampt started from.
std::vector<double> moisture_values(const model_state &s) {
    std::vector<double> v(static_cast<std::size_t>(s.cell_count > 0 ? s.cell_count : 0) + 1, 0.0);
    for (int c = 1; c <= s.cell_count; ++c) v[static_cast<std::size_t>(c)] = cell_soil_moisture(s, c);
    return v;
}

template <class A>
std::vector<double> cell_values(const model_state &s, const A &a) {
    std::vector<double> v(static_cast<std::size_t>(s.cell_count > 0 ? s.cell_count : 0) + 1, 0.0);
    for (int c = 1; c <= s.cell_count; ++c)
        if (!a.empty() && static_cast<std::size_t>(c) <= a.last())
            v[static_cast<std::size_t>(c)] = a[static_cast<std::size_t>(c)];
    return v;
}

// Writes one outgoing map; false after a failure (message printed, run fatal).
bool write_map(model_state &s, int slot, const char *what, std::span<const double> values) {
    const std::string &name = s.plux_map_names[static_cast<std::size_t>(slot)];
    std::FILE *f = open_run_file(name, "w");
    if (!f) {
        std::printf("Can't open %s exchange file %s for writing\n", what, name.c_str());
        raise_printed_error();
        return false;
    }
    // Seventeen digits, so that a map handed back unchanged restores the arrays.
    write_drelm_map(f, s.grid_rows, s.grid_cols, s.grid_north, s.grid_south, s.grid_east,
                    s.grid_west, s.cell_number_grid, values, true);
    return close_run_file(f);
}

bool write_outgoing_maps(model_state &s) {
    const auto on = [&](int slot) { return s.plux_map_switches[static_cast<std::size_t>(slot)] == 1; };
    if (on(moisture_out) && !write_map(s, moisture_out, "soil moisture", moisture_values(s)))
        return false;
    if (on(rough_out) && !write_map(s, rough_out, "roughness", cell_values(s, s.roughness)))
        return false;
    if (on(ksat_out) && !write_map(s, ksat_out, "Ksat", cell_values(s, s.soil_ksat))) return false;
    if (on(porosity_out) && !write_map(s, porosity_out, "porosity", cell_values(s, s.soil_porosity)))
        return false;
    return true;
}

// The control file: "999 999" after the last event, otherwise the day of the year
// at the event's end and the whole days since the start of the run.
void write_control_file(model_state &s) {
    std::FILE *f = open_run_file(s.plux_exchange_name, "w");
    if (!f) {
        std::printf("unable to open plux exchange file for writing\n");
        return;
    }
    if (s.event_number >= s.event_count) {
        std::fprintf(f, "999 999\n");
    } else {
        int year = 0, month = 0, day = 0, hour = 0, minute = 0;
        double second = 0.0;
        calendar_date(s.now_days, year, month, day, hour, minute, second);
        const int day_of_year = static_cast<int>(std::lround(
                                    julian_day(year, month, day, 0, 0, 0.0) -
                                    julian_day(year, 1, 1, 0, 0, 0.0))) +
                                1;
        const int days = static_cast<int>(std::floor(s.now_days - s.start_days));
        std::fprintf(f, "%3d %3d\n", day_of_year, days);
    }
    close_run_file(f);
}

// The clocks of the channel and constituent steps move to the rain clock, as
// after an event that does not end the run.
void bring_clocks_to_rain(model_state &s) {
    s.channel_clock.next = s.rain_clock.next;
    s.constituent_clock.next = s.rain_clock.next;
    s.constituent_clock.last = s.rain_clock.last;
    s.channel_constituent_clock.next = s.channel_clock.next;
    s.channel_constituent_clock.last = s.channel_clock.last;
}

// The cross-sections of erodible channels follow their bed after the event; the
// node areas are then formed again from the water levels.
void update_cross_sections(model_state &s) {
    if (!s.chan_explicit || !s.chan_sediment_on || s.channels.link_count < 1) return;
    xsec_update(s);
    if (error_record.fatal) return;
    int beyond = 0;
    ex_section(s, 2, beyond);
}

void warn_unused_cards(const model_state &s) {
    for (std::size_t k = 0; k < std::size(unused_slots); ++k)
        if (s.plux_map_switches[static_cast<std::size_t>(unused_slots[k])] == 1) {
            std::printf("Warning: the %s card is read, but no map of that kind is exchanged.\n",
                        unused_cards[k]);
            count_warning();
        }
}

}  // namespace

void exchange_plux_maps(model_state &s) {
    if (s.end_of_run != 1) return;
    if (s.hxt_event_on && s.plux_on) {
        if (!s.plux_unused_cards_warned) {
            warn_unused_cards(s);
            s.plux_unused_cards_warned = 1;
        }
        if (!write_outgoing_maps(s)) return;
        write_control_file(s);
        if (error_record.fatal) return;
        std::printf("reading PLUX exchange maps\n");
        read_incoming_plux_maps(s, 2);
        if (error_record.fatal) return;
        std::printf("End of HXT event %d\n", s.event_number);
        s.keep_running = 0;
        if (s.inf_richards || s.groundwater_on || s.inf_redist || s.channel_state_flag) {
            s.keep_running = 1;
            bring_clocks_to_rain(s);
        }
        update_cross_sections(s);
        if (error_record.fatal) return;
    }
    s.end_of_run = 0;
    s.end_of_event = 1;
}
