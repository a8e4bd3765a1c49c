// The end-of-event piece: final volumes and the event's mass balance, the event
// summary, and in calibration runs the peak and volume of the event at the outlet
// and the listed locations. Piece 25 of every turn (acts when the end-of-event
// flag is set); read_precip_event calls it to close a long-term event.
#include "model/hydrology/event_end.h"

#include <cmath>
#include <cstdio>

#include "model/calibration/calibration_services.h"
#include "model/channel/channel_services.h"
#include "model/output/event_summary.h"
#include "model/core/globals.h"
#include "model/hydrology/event_start.h"
#include "model/hydrology/groundwater.h"
#include "model/hydrology/groundwater_coupling.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/lakes.h"
#include "model/hydrology/overland_pieces.h"
#include "model/hydrology/process_clocks.h"
#include "model/hydrology/soil_water_pieces.h"
#include "model/core/model_state.h"
#include "model/core/water_flows.h"

namespace {

// The factor of the calibration lines with QOUT_CFS (kept at two decimals there).
constexpr double calibration_cfs_factor = 35.32;

bool has(const array_1d<double> &a, std::size_t i) { return !a.empty() && i <= a.last(); }

void soil_checks(model_state &s) {
    if (s.inf_richards && !s.richards_cell_nodes.empty()) {
        int unsaturated = 0;
        for (int c = 1; c <= s.cell_count; ++c)
            if (s.richards_cell_nodes[static_cast<std::size_t>(c)] > 1) ++unsaturated;
        if (unsaturated == 0 && s.summary_file)
            std::fprintf(s.summary_file, "\n No Unsaturated Cells in Grid, No infiltration \n");
    }
    if (s.inf_redist && !s.moisture_state.empty())
        for (int c = 1; c <= s.cell_count; ++c)
            if (std::isnan(s.moisture_state[static_cast<std::size_t>(c)]))
                std::printf("problem with final soil moisture in cell: %d\n", c);
}

void write_calibration_line(model_state &s) {
    std::FILE *f = s.optim_file.file;
    if (!f) return;
    const bool cfs = s.discharge_in_cfs != 0;
    const double factor = cfs ? calibration_cfs_factor : 1.0;
    std::fprintf(f, cfs ? "%d %8.2lf %13.1lf" : "%d %9.3lf %13.1lf", s.event_number,
                 s.peak_outlet_discharge * factor, s.outflow_volume * factor);
    const calibration_results *r = s.calib_results;
    if (s.in_hyd_location_on && r) {
        for (int k = 1; k <= s.hyd_location_count; ++k) {
            const std::size_t i = static_cast<std::size_t>(k);
            const double peak = i < r->location_peak.size() ? r->location_peak[i] : 0.0;
            const double volume = i < r->location_volume.size() ? r->location_volume[i] : 0.0;
            std::fprintf(f, cfs ? "%8.2lf %13.1lf" : "%9.3lf %13.1lf", peak * factor,
                         volume * factor);
        }
    }
    std::fprintf(f, "\n");
    std::fflush(f);
}

// The outlet's and every listed location's peak and volume of event e go to index
// (e - 1) x values per event + 1 (+ k for location k) of the record.
void fill_calibration_record(model_state &s) {
    calibration_results *r = s.calib_results;
    const int e = s.event_number;
    if (!r || e <= 0) return;
    if (e <= r->event_count && e > r->events_recorded) r->events_recorded = e;
    const double factor = s.discharge_in_cfs ? calibration_cfs_factor : 1.0;
    const std::size_t base =
        static_cast<std::size_t>(e - 1) * static_cast<std::size_t>(r->values_per_event) + 1;
    auto store = [&](std::size_t at, double peak, double volume) {
        if (at < r->peaks.size()) r->peaks[at] = peak * factor;
        if (at < r->volumes.size()) r->volumes[at] = volume * factor;
    };
    store(base, s.peak_outlet_discharge, s.outflow_volume);
    if (!s.in_hyd_location_on) return;
    for (int k = 1; k <= s.hyd_location_count; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        const double peak = i < r->location_peak.size() ? r->location_peak[i] : 0.0;
        const double volume = i < r->location_volume.size() ? r->location_volume[i] : 0.0;
        store(base + i, peak, volume);
    }
}

}  // namespace

void form_final_volumes(model_state &s) {
    const double area = s.cell_size * s.cell_size;
    s.final_overland_volume = overland_surface_volume(s);
    s.final_lake_volume = overland_lake_volume(s);
    double snow = 0.0;
    for (int c = 1; c <= s.cell_count; ++c)
        if (has(s.snow_store, static_cast<std::size_t>(c)))
            snow += s.snow_store[static_cast<std::size_t>(c)] * area;
    s.final_snow_volume = snow;
    s.final_soil_volume = final_soil_water(s);
    // The aquifer's water is that of its final table, less what the channels and
    // lakes took from it after its last step when the run ends here; the book of
    // its flows must agree. With Richards columns the storage follows the soil's
    // state, so the table alone does not give the water and the book stands.
    const double book = s.gw_stored_volume;
    if (!s.keep_running) settle_aquifer_exchange(s);
    s.final_gw_volume = 0.0;
    if (s.groundwater_on) {
        const double settled = s.gw_stored_volume - book;
        s.final_gw_volume = s.inf_richards ? s.gw_stored_volume : aquifer_water_from_table(s) + settled;
        const double gap = s.final_gw_volume - s.gw_stored_volume;
        if (std::fabs(gap) > 1e-9 * std::fabs(s.gw_stored_volume) + 1e-6)
            std::printf("Warning: the aquifer's water from its final water table, %.2f m3, differs from "
                        "the balance of its flows, %.2f m3, by %.2f m3.\n",
                        s.final_gw_volume, s.gw_stored_volume, gap);
    }
    // Water still in the channels at the end of the event; the channel lakes take
    // their extent for their final volumes first.
    if (channel_routing_on(s) && s.channels.lake_count > 0) {
        update_lake_extent(s);
        if (error_record.fatal) return;
    }
    s.final_channel_volume = channel_routing_on(s) ? channel_water_volume(s) : 0.0;
    s.final_channel_lake_volume = channel_lake_volume(s);
}

void form_event_balance(model_state &s) {
    form_final_volumes(s);
    if (error_record.fatal) return;

    // The event's flows: the ledger's since the event's start.
    using n = ledger_node;
    const water_ledger &w = s.water;
    const ledger_totals &mark = s.event_marks.water;
    const water_flows event(w, mark);
    // Only evaporation from ponded water leaves the surface balance; water the soil
    // gave up was counted when it infiltrated.
    const double surface_evaporation = event.surface_evaporation();
    const double boundary_in = w.moved_since(mark, n::overland_boundary, n::surface);
    const double boundary_out = w.moved_since(mark, n::surface, n::overland_boundary);

    // Rain that fell = rain that reached the ground or a lake + rain held on the
    // canopy. Water that the overland clean-up and the channel routing added by
    // lifting negative depths and areas to 0 counts as an input.
    const double interception = event.interception();
    const double rain = event.ground_rain() + event.overland_lake_rain() + event.channel_lake_rain() +
                        interception;
    // The channel lakes hold water of the surface as the overland lakes do: they
    // start and end with their volumes, gain and lose through their beds (with the
    // channels' seepage and base flow) and lose what evaporates from them.
    const double exchange_in = surface_exchange_in(s) - s.event_marks.exchange_in;
    const double exchange_out = surface_exchange_out(s) - s.event_marks.exchange_out;
    const double lake_evaporation = event.lake_evaporation();
    s.mass_input_original = rain + s.event_initial_overland_volume + s.event_initial_lake_volume +
                            s.initial_channel_volume + s.event_initial_snow_volume +
                            event.overland_point_inflow() + boundary_in + event.overland_cleanup() +
                            event.channel_lifting() + event.channel_point_sources() +
                            event.out_of_pipes() + s.event_initial_channel_lake_volume + exchange_in;
    s.mass_output_final = event.discharge() + interception + event.infiltration() +
                          surface_evaporation + boundary_out + s.final_overland_volume +
                          s.final_lake_volume + s.final_channel_volume + s.final_snow_volume +
                          event.channel_point_sinks() + event.into_pipes() +
                          s.final_channel_lake_volume + exchange_out + lake_evaporation;
    if (!(rain > 0.0))
        s.mass_conservation_error = -1.0;
    else
        s.mass_conservation_error =
            (s.mass_output_final - s.mass_input_original) / s.mass_input_original;
    if (s.long_term) s.event_final_soil_moisture = basin_soil_moisture(s);
}

void finish_event(model_state &s) {
    if (!s.end_of_event) return;
    s.end_of_event = 0;

    if (s.overland_lake_on && s.channel_lake_count > 0)
        std::printf("You are simulating overland lakes and perennial lakes, not recommended "
                    "presently. Contact your KORVA developer for further advice\n\n");
    hand_pending_infiltration_to_sacramento(s);
    form_event_balance(s);
    soil_checks(s);
    write_event_summary(s);
    if (s.calibration_run) {
        write_calibration_line(s);
        fill_calibration_record(s);
    }
    s.last_finished_event = s.event_number;
}
