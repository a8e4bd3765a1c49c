// Sediment outputs: the outlet sediment line and the sediment hydrograph line
// that write_time_series writes every hydrograph step, the event-start marks
// that init_event takes, and the sediment blocks of the event summary.
#include "model/sediment/sediment_outputs.h"

#include <cmath>
#include <cstddef>

#include "model/output/hydrographs.h"
#include "model/core/model_state.h"
#include "model/core/sediment_ledger.h"
#include "model/sediment/channel_sediment.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

double element(const array_1d<double> &a, int k) {
    return !a.empty() && at(k) <= a.last() ? a[at(k)] : 0.0;
}

bool channel_sediment_running(const model_state &s) {
    return s.chan_sediment_on && s.erosion.soil_erosion && !s.chan.ch_sand_vol.empty();
}

// Error of a balance in percent of what there was to account for (0 when nothing).
double percent_error(double error, double scale) {
    return scale > 0.0 ? error / scale * 100.0 : 0.0;
}

// The size group of a class: 0 sand (SAND_SIZE or larger), 2 clay (below
// CLAY_SIZE), 1 silt in between.
int size_group(const sediment_record &r, int k) {
    const double d = r.classes[at(k)].diameter;
    if (d >= r.sand_size) return 0;
    if (d < r.clay_size) return 2;
    return 1;
}

using n = ledger_node;

// The event's share of the overland class k: its flows from the class's ledger.
struct class_balance {
    double initial = 0.0, detached = 0.0, deposited = 0.0, suspended = 0.0;
    double outlet = 0.0, to_channel = 0.0;
    double error() const { return initial - deposited - suspended - outlet - to_channel; }
};

class_balance overland_balance(const model_state &s, int k) {
    const sediment_record &r = s.sediment;
    class_balance b;
    b.initial = element(r.event_start_soil, k);
    b.detached = element(r.detached_volume, k) - element(r.event_detached_mark, k);
    b.outlet = sediment_moved_in_event(s, k, n::surface, n::outlet) +
               sediment_moved_in_event(s, k, n::loose_soil, n::outlet);
    b.to_channel = sediment_moved_in_event(s, k, n::surface, n::channels);
    for (int i = 1; i <= s.cell_count; ++i) {
        b.deposited += r.deposited[at(i)][at(k)];
        b.suspended += r.suspended[at(i)][at(k)];
    }
    return b;
}

void write_overland_blocks(const model_state &s, std::FILE *f) {
    const sediment_record &r = s.sediment;
    static const char *const group_names[3] = {"sand", "silt", "clay"};
    double moved[3] = {0.0, 0.0, 0.0}, error[3] = {0.0, 0.0, 0.0}, scale[3] = {0.0, 0.0, 0.0};
    double all_error = 0.0, all_scale = 0.0;
    for (int k = 1; k <= r.class_count; ++k) {
        const class_balance b = overland_balance(s, k);
        const int g = size_group(r, k);
        moved[g] += b.detached;
        error[g] += b.error();
        scale[g] += b.initial;
        all_error += b.error();
        all_scale += b.initial;
    }
    std::fprintf(f, "Quantities of sediment moved on overland flow plane:\n");
    for (int g = 0; g < 3; ++g)
        std::fprintf(f, "     %-4s                              %10.1lf m3\n", group_names[g], moved[g]);
    std::fprintf(f, "\nOverland sediment mass-balance:\n");
    for (int g = 0; g < 3; ++g)
        std::fprintf(f, "     %-4s conservation error:          %10.6lf percent\n", group_names[g],
                     percent_error(error[g], scale[g]));
    std::fprintf(f, "Overall mass conservation error:           %10.6lf percent\n",
                 percent_error(all_error, all_scale));
    // One block per class in the order of the SEDIMENTS table, numbered by its row
    // and named as there.
    for (int row = 1; row <= r.class_count; ++row) {
        int k = 1;
        while (k < r.class_count && r.classes[static_cast<std::size_t>(k)].table_row != row) ++k;
        const sediment_class &c = r.classes[static_cast<std::size_t>(k)];
        const class_balance b = overland_balance(s, k);
        std::fprintf(f, "Overland Erosion Summary for Sediment Size %5ld %s, %g mm\n", static_cast<long>(row),
                     c.name.c_str(), c.diameter);
        std::fprintf(f, "     initial loose and suspended soil:   %14.4lf m3\n", b.initial);
        std::fprintf(f, "     detached by splash and flow:        %14.4lf m3\n", b.detached);
        std::fprintf(f, "     final loose soil:                   %14.4lf m3\n", b.deposited);
        std::fprintf(f, "     final suspended soil:               %14.4lf m3\n", b.suspended);
        std::fprintf(f, "     carried out at the outlet:          %14.4lf m3\n", b.outlet);
        std::fprintf(f, "     carried into the channels:          %14.4lf m3\n", b.to_channel);
        std::fprintf(f, "Overland erosion mass balance error     %14.2lf percent \n",
                     percent_error(b.error(), b.initial));
    }
}

void write_channel_blocks(const model_state &s, std::FILE *f) {
    const sediment_record &r = s.sediment;
    // The wash classes come first, then the sand classes; the bed material beyond
    // the sand classes (ledger 0) leaves with the sand.
    double sand_in = 0.0, wash_in = 0.0, wash_out = 0.0, settled = 0.0;
    double sand_out = sediment_moved_in_event(s, 0, n::channel_bed, n::outlet);
    for (int k = 1; k <= r.class_count; ++k) {
        const double in = sediment_moved_in_event(s, k, n::surface, n::channels);
        const double out = sediment_moved_in_event(s, k, n::channels, n::outlet);
        (k <= r.wash_count ? wash_in : sand_in) += in;
        (k <= r.wash_count ? wash_out : sand_out) += out;
        // Wash that settles on a dry bed leaves the wash load for the sand store.
        if (k <= r.wash_count) settled += sediment_moved_in_event(s, k, n::channels, n::channel_bed);
    }
    const double sand_now = channel_sand_store(s), wash_now = channel_wash_store(s);
    std::fprintf(f, "Channel sediment routing mass quantities:\n");
    std::fprintf(f, "     initial sand in the channel beds:   %14.4lf m3\n", r.event_channel_sand);
    std::fprintf(f, "     sand from the land:                 %14.4lf m3\n", sand_in);
    std::fprintf(f, "     final sand in the channel beds:     %14.4lf m3\n", sand_now);
    std::fprintf(f, "     sand out at the outlet:             %14.4lf m3\n", sand_out);
    std::fprintf(f, "     initial wash load in the channels:  %14.4lf m3\n", r.event_channel_wash);
    std::fprintf(f, "     wash load from the land:            %14.4lf m3\n", wash_in);
    std::fprintf(f, "     final wash load in the channels:    %14.4lf m3\n", wash_now);
    std::fprintf(f, "     wash load out at the outlet:        %14.4lf m3\n", wash_out);
    const double sand_error = r.event_channel_sand + sand_in + settled - sand_now - sand_out;
    const double wash_error = r.event_channel_wash + wash_in - settled - wash_now - wash_out;
    std::fprintf(f, "\nChannel sediment mass-balance:\n");
    std::fprintf(f, "     sand mass conservation error:       %10.6lf percent\n",
                 percent_error(sand_error, r.event_channel_sand + sand_in));
    std::fprintf(f, "     wash load mass conservation error:  %10.6lf percent\n",
                 percent_error(wash_error, r.event_channel_wash + wash_in));
    std::fprintf(f, "     total mass conservation error:      %10.6lf percent\n",
                 percent_error(sand_error + wash_error,
                               r.event_channel_sand + sand_in + r.event_channel_wash + wash_in));
}

// Time field of the sediment hydrograph line, as the hydrograph-location lines.
void write_location_time(const model_state &s, std::FILE *f) {
    if (s.long_term)
        std::fprintf(f, "%16.8lf ", s.longterm_date_number);
    else
        std::fprintf(f, "%14.8lf ", s.elapsed_minutes);
}

}  // namespace

double overland_soil_volume(const model_state &s, int k) {
    const sediment_record &r = s.sediment;
    double v = 0.0;
    if (r.deposited.empty() || r.suspended.empty()) return v;
    for (int i = 1; i <= s.cell_count; ++i) v += r.deposited[at(i)][at(k)] + r.suspended[at(i)][at(k)];
    return v;
}

void start_sediment_event(model_state &s) {
    if (!s.erosion.soil_erosion) return;
    sediment_record &r = s.sediment;
    reset_erodible_beds(s);
    for (int k = 1; k <= r.class_count; ++k) {
        if (at(k) > r.event_start_soil.last() || r.event_start_soil.empty()) break;
        r.event_start_soil[at(k)] = overland_soil_volume(s, k);
        r.event_detached_mark[at(k)] = element(r.detached_volume, k);
    }
    s.sediment_event_marks.resize(at(r.class_count) + 1);
    for (int k = 0; k <= r.class_count; ++k) s.sediment_event_marks[at(k)] = sediment_ledger(s, k).mark();
    r.event_channel_sand = channel_sand_store(s);
    r.event_channel_wash = channel_wash_store(s);
}

void write_sediment_event_summary(model_state &s, std::FILE *f) {
    if (!f || !s.erosion.soil_erosion || s.sediment.deposited.empty()) return;
    write_overland_blocks(s, f);
    if (channel_sediment_running(s)) write_channel_blocks(s, f);
}

void write_sediment_outlet_line(model_state &s, double time, int julian_time) {
    const sediment_record &r = s.sediment;
    std::FILE *f = r.outlet_file.file;
    if (!f) return;
    const bool channel = channel_sediment_running(s);
    if (r.transport_form != 2) {
        double rate = 0.0;
        for (int k = 1; k <= r.class_count; ++k) rate += element(r.outlet_rate, k);
        if (channel) {
            for (int k = 0; k <= r.sand_count; ++k) rate += element(r.outlet_sand_rate, k);
            for (int k = 1; k <= r.wash_count; ++k) rate += element(r.outlet_wash_rate, k);
        }
        std::fprintf(f, julian_time ? "%16.8lf %10.6lf\n" : "%8.2lf %10.6lf\n", time, rate);
        return;
    }
    if (s.long_term)
        std::fprintf(f, "%16.8lf ", time);
    else
        std::fprintf(f, julian_time ? "%16.8lf" : "%8.2lf", time);
    for (int k = 1; k <= r.class_count; ++k) std::fprintf(f, " %10.6lf", element(r.outlet_rate, k));
    if (channel) {
        for (int k = 1; k <= r.wash_count; ++k) std::fprintf(f, " %10.6lf", element(r.outlet_wash_rate, k));
        for (int k = 1; k <= r.sand_count; ++k) std::fprintf(f, " %10.6lf", element(r.outlet_sand_rate, k));
    }
    std::fprintf(f, "\n");
}

void write_sediment_flux_line(model_state &s) {
    const channel_work &cw = s.chan;
    std::FILE *f = cw.sed_location_out_file;
    if (!f || !channel_sediment_running(s) || cw.sed_location_count < 1) return;
    write_location_time(s, f);
    const double factor = s.discharge_in_cfs ? s.cubic_feet_per_cubic_metre : 1.0;
    for (int k = 1; k <= cw.sed_location_count; ++k) {
        const int l = cw.sed_location_link[at(k)], n = cw.sed_location_node[at(k)];
        int row = s.non_ortho_channels ? l * s.channels.max_node_count + n : 0;
        if (!s.non_ortho_channels && !cw.con_vect.empty()) row = cw.con_vect[at(n)][at(l)];
        const double flux = !cw.qsmax.empty() && row >= 0 && at(row) <= cw.qsmax.rows()
                                ? cw.qsmax[at(row)][0]
                                : 0.0;
        std::fprintf(f, "%10.7lf ", flux * factor);
    }
    std::fprintf(f, "\n");
}
