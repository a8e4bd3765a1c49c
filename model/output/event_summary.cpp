// The event summary appended to the SUMMARY file when an event ends: title and
// timing, rainfall and units, event figures, the water balance and its
// mass-conservation error, Richards and groundwater blocks, warnings and the lists
// of inputs, processes and outputs. Called by finish_event.
#include "model/output/event_summary.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "model/core/calendar.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "model/core/water_flows.h"
#include "model/core/errors.h"
#include "model/pipes/superlink_step.h"

namespace {

// A pipe network whose depth and head bounds placed more than 0.5 % of the water
// its inlets and tile drains took says so once on the console, with a pipe step
// that should keep it below: the bounds act where a step's solution leaves a
// node or a junction below empty, about with the square of the step.
void warn_about_pipe_bounds(const model_state &s) {
    const superlink_step_state &w = s.superlink_work;
    if (!s.storm_sewer_on || w.guard_warned) return;
    const double taken = s.water.moved(ledger_node::surface, ledger_node::pipes) +
                         s.water.moved(ledger_node::aquifer, ledger_node::pipes);
    const double bounds = w.bounds_added;
    if (!(taken > 0.0) || !(std::fabs(bounds) > 0.005 * taken)) return;
    w.guard_warned = true;
    const double share = std::fabs(bounds) / taken * 100.0;
    char note[400];
    std::snprintf(note, sizeof note,
                  "Warning: the pipe network's depth and head bounds added %.2f m3 of water, %.2f %% of the %.2f m3 "
                  "its inlets and tile drains took, at pipe steps of %.4g s; a TIMESTEP of %.3g s or less should "
                  "keep this below 0.5 %%.",
                  bounds, share, taken, w.longest_step, w.longest_step * std::sqrt(0.5 / share));
    std::printf("%s\n", note);
    count_warning(note);
}

bool lakes_run(const model_state &s) { return s.overland_lake_on || s.channel_lake_count > 0; }

void write_title(const model_state &s, std::FILE *f) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0.0;
    calendar_date(s.event_start_time, year, month, day, hour, minute, second);
    if (!s.long_term) {
        std::fprintf(f, "         KORVA EVENT RUNOFF SIMULATION SUMMARY\n");
        std::fprintf(f, "            Event began on %2.2d/%2.2d/%4.4d at %2.2d:%2.2d\n", month, day,
                     year, hour, minute);
        return;
    }
    std::fprintf(f, "       KORVA LONG-TERM RUNOFF SIMULATION SUMMARY- EVENT %ld\n",
                 static_cast<long>(s.event_number));
    if (s.strict_julian_date) {
        std::fprintf(f, "Event began on strict Julian date:                    %16.8lf\n",
                     s.event_start_time);
        std::fprintf(f, "Event ended on strict Julian date:                    %16.8lf\n",
                     s.now_days);
    } else {
        std::fprintf(f, "Event began on %2.2ld/%2.2ld/%4.4ld at %2.2ld:%2.2ld  GMT %3.1f hours.\n\n",
                     static_cast<long>(month), static_cast<long>(day), static_cast<long>(year),
                     static_cast<long>(hour), static_cast<long>(minute), s.gmt_offset);
    }
    if (s.hmet_samson)
        std::fprintf(f, "KORVA used NCDC/SAMSON hydrometeorological data from the %s station\n",
                     s.hmet_station.c_str());
    else if (s.hmet_surfaways)
        std::fprintf(f, "KORVA used NCDC/Surface Airways hydrometeorological data.\n");
    // hmet_first and hmet_last hold year, month, day, hour.
    std::fprintf(f, "Hydrometeorology data began on: %2.2d/%2.2d/%4d at %2d:00\n", s.hmet_first[1],
                 s.hmet_first[2], s.hmet_first[0], s.hmet_first[3]);
    std::fprintf(f, "and ended on:                   %2.2d/%2.2d/%4d at %2d:00\n", s.hmet_last[1],
                 s.hmet_last[2], s.hmet_last[0], s.hmet_last[3]);
    std::fprintf(f, "The following number of hydromet. data points were repaired:%d\n",
                 s.hmet_repair_count);
    if (s.et_penman) std::fprintf(f, "Penman-Monteith evapotranspiration was calculated.\n");
    if (s.et_deardorff) std::fprintf(f, "Deardorff bare-soil evaporation was calculated.\n");
    if (s.sacramento_on) std::fprintf(f, "Sacramento soil moisture accounting was used.\n");
}

void write_rainfall_and_units(const model_state &s, std::FILE *f) {
    if (s.uniform_rain_on) {
        std::fprintf(f, "   With uniform rainfall of %6.1lf mm/h for %6.1lf minutes.\n\n",
                     s.rain_intensity, s.rain_duration);
    } else {
        std::fprintf(f, s.rain_event.radar ? "With radar-rainfall estimates "
                                           : "With raingage data ");
        std::fprintf(f, s.inverse_distance_on ? "using inverse-distance squared interpolation.\n\n"
                                              : "using Thiessen polygon interpolation.\n\n");
    }
    std::fprintf(f, "elevation and gridsize are in meters\n");
    std::fprintf(f, "timestep                                   %5.1lf seconds\n", s.time_step);
}

// Whether any link of the network was read with the given type.
bool has_link_type(const channel_network &net, int type) {
    const array_1d<int> &types = net.og_link_type.empty() ? net.link_type : net.og_link_type;
    for (int l = 1; l <= net.link_count && !types.empty() && static_cast<std::size_t>(l) <= types.last(); ++l)
        if (types[static_cast<std::size_t>(l)] == type) return true;
    return false;
}

void write_event_figures(const model_state &s, std::FILE *f) {
    if (s.long_term)
        std::fprintf(f, "initial basin-averaged soil water content: %5.2lf percent\n",
                     s.event_initial_soil_moisture * 100.0);
    std::fprintf(f, "number of timesteps with rain:             %d\n", s.rain_steps_with_rain);
    std::fprintf(f, "elapsed time when rain began:              %5.2lf\n \n", s.rain_began_minutes);
    if (s.strict_julian_date) {
        std::fprintf(f, "peak occured on strict Julian date:       %16.8lf\n", s.peak_time_days);
    } else {
        const std::array<int, 6> &p = s.peak_calendar;  // year, month, day, hour, minute, second
        std::fprintf(f, "date/time of peak discharge:              %d/%d/%d  %d:%2.2d:%2.2d\n", p[1],
                     p[2], p[0], p[3], p[4], p[5]);
    }
    // Four decimals: the peaks of small basins are hundredths of a cubic metre.
    std::fprintf(f, "Event peak discharge (cubic meters per second):  %9.4lf\n\n",
                 s.peak_outlet_discharge);
}

// The water balance lines, each only where its process runs.
void write_water_balance(const model_state &s, std::FILE *f) {
    const bool lakes = lakes_run(s);
    const bool channels = s.chan_explicit != 0;
    const bool gw = s.groundwater_on != 0;
    std::fprintf(f, "Note: all volumes in cubic meters.\n");
    if (lakes)
        std::fprintf(f, "initial volume in lakes              %9.1lf\n",
                     s.event_initial_lake_volume + s.event_initial_channel_lake_volume);
    std::fprintf(f, "initial volume of overland flow:     %9.1lf\n", s.event_initial_overland_volume);
    if (channels)
        std::fprintf(f, "initial volume in channels:          %9.1lf\n", s.initial_channel_volume);
    std::fprintf(f, "inital liquid-equiv. volume of snow: %9.1lf\n \n", s.event_initial_snow_volume);
    // The event's flows: the ledger's since the event's start.
    const water_flows event(s.water, s.event_marks.water);
    // The rain on the lakes fell too.
    const double lake_rain = event.overland_lake_rain() + event.channel_lake_rain();
    std::fprintf(f, "volume of total rainfall:            %9.1lf\n",
                 event.ground_rain() + lake_rain + event.interception());
    std::fprintf(f, "volume of interception:              %9.1lf\n", event.interception());
    if (s.sacramento_on) {
        // The event's share of the basin's totals; depths (mm) over the watershed.
        const double m3 = s.watershed_area / 1000.0;
        const event_total_marks &m = s.event_marks;
        // The base flow that entered the channels in the event.
        std::fprintf(f, "volume of base flow from Sacramento:   %9.1lf\n", event.sacramento_base_flow());
        std::fprintf(f, "volume of subsurface at event start:   %11.1lf\n", m.sac_storage * m3);
        std::fprintf(f, "volume of subsurface at event end:     %11.1lf\n",
                     sacramento_storage(s.sac_basin) * m3);
        std::fprintf(f, "volume of et removed water:            %9.1lf\n",
                     event.moved(ledger_node::sacramento, ledger_node::atmosphere));
        // What they took in: the event's infiltration and what waited at its
        // start, less what still waits.
        std::fprintf(f, "volume of infil water SAC receives:    %9.1lf\n",
                     event.net(ledger_node::surface, ledger_node::sacramento) + m.sac_pending -
                         sacramento_pending_volume(s));
    }
    // Direct evaporation: ponded water that evaporated; the total adds the soil's ET.
    std::fprintf(f, "volume of direct evaporation:        %9.1lf\n",
                 event.surface_evaporation());
    std::fprintf(f, "volume of infiltrated water:         %9.1lf\n", event.infiltration());
    // What the aquifer gave up to the soil above it as the water table moved.
    std::fprintf(f, "volume of water exfiltrated:         %9.1lf\n",
                 event.moved(ledger_node::aquifer, ledger_node::water_table));
    std::fprintf(f, "volume of discharge:                 %9.1lf\n", event.discharge());
    if (s.inf_redist)
        std::fprintf(f, "volume ground water recharge:        %9.1lf\n", event.recharge());
    if (channels)
        std::fprintf(f, "volume of lateral inflow:            %9.1lf\n",
                     water_flows(s.water).lateral_inflow());
    // The channels' and lakes' exchange with the water below them: the aquifer, or
    // the water table outside the model when no groundwater model runs.
    const bool seepage = gw || event.seepage_in() != 0.0 || event.seepage_out() != 0.0;
    if (seepage) {
        std::fprintf(f, "volume of gw to chan:                %9.1lf\n", event.seepage_in());
        std::fprintf(f, "volume of water from chan to gw:     %9.1lf\n", event.seepage_out());
    }
    if (lakes && (seepage || event.lake_bed_in() != 0.0 || event.lake_bed_out() != 0.0)) {
        std::fprintf(f, "volume of gw to lakes:               %9.1lf\n", event.lake_bed_in());
        std::fprintf(f, "volume of water from lakes to gw:    %9.1lf\n", event.lake_bed_out());
    }
    if (channels) {
        std::fprintf(f, "volume from stream point sources:    %9.1lf\n", event.channel_point_sources());
        std::fprintf(f, "volume to stream point sinks:        %9.1lf\n", event.channel_point_sinks());
    }
    if (lakes) {
        std::fprintf(f, "volume from lake point sources:      %9.1lf\n", 0.0);
        std::fprintf(f, "volume to lake point sinks:          %9.1lf\n", 0.0);
        std::fprintf(f, "volume of lake evaporation:          %9.1lf\n",
                     event.lake_evaporation());
    }
    if (s.long_term && s.inf_richards)
        std::fprintf(f, "volume of total evaporation:         %9.1lf\n", event.evaporation());
    std::fprintf(f, "volume from overland point sources:  %9.1lf\n", event.overland_point_inflow());
    if (s.storm_sewer_on) {
        // The pipe network's exchange that the balance counts; its tile drains
        // take from the aquifer, and their water leaves the pipes with the rest.
        std::fprintf(f, "volume taken by pipe inlets:         %9.1lf\n", event.into_pipes());
        std::fprintf(f, "volume from pipes onto the land:     %9.1lf\n",
                     event.moved(ledger_node::pipes, ledger_node::surface));
        if (channels)
            std::fprintf(f, "volume of pipe outflow to channels:  %9.1lf\n",
                         event.moved(ledger_node::pipes, ledger_node::channels));
        if (s.superlinks.tile_drain)
            std::fprintf(f, "volume of tile drains to pipes:      %9.1lf\n",
                         event.moved(ledger_node::aquifer, ledger_node::pipes));
    }
    if (s.overland_boundary_on) {
        std::fprintf(f, "volume in across the open boundary:  %9.1lf\n",
                     event.moved(ledger_node::overland_boundary, ledger_node::surface));
        std::fprintf(f, "volume out across the open boundary: %9.1lf\n",
                     event.moved(ledger_node::surface, ledger_node::overland_boundary));
    }
    if (channels)
        std::fprintf(f, "volume added lifting channel areas:  %9.1lf\n", event.channel_lifting());
    if (lakes)
        std::fprintf(f, "volume remaining in lakes            %9.1lf\n",
                     s.final_lake_volume + s.final_channel_lake_volume);
    std::fprintf(f, "volume remaining on surface:         %9.1lf\n", s.final_overland_volume);
    if (channels)
        std::fprintf(f, "final volume in channels (cu. m):    %9.1lf\n", s.final_channel_volume);
    std::fprintf(f, "final volume of snow (cu. m):        %9.1lf\n \n", s.final_snow_volume);
}

void write_mass_error(const model_state &s, std::FILE *f) {
    if (s.final_snow_volume > 0.0)
        std::fprintf(f, "********WARNING - YOU HAVE SNOW ACCUMULATION !!!!!!!!!!!!!!!!\n");
    // As printed: a percentage below the printing resolution shows as 0.
    const double error = error_as_printed(s.mass_conservation_error, 8);
    std::fprintf(f, "mass conservation error:             %9.6lf percent\n", error * 100.0);
    if (error >= 0.0 || error == -1.0)
        std::fprintf(f, "Note: positive mass conservation error indicates mass was created.\n");
    else
        std::fprintf(f, "Note: negative mass conservation error indicates mass was gained.\n");
    std::fprintf(f, "Mass input + original mass:           %9.6lf m3\n", s.mass_input_original);
    std::fprintf(f, "Mass output + final mass:             %9.6lf m3\n", s.mass_output_final);
    std::fprintf(f, "mass cleanup error from overland:     %9.6lf m3\n",
                 water_flows(s.water, s.event_marks.water).overland_cleanup());
    if (error == -1.0) std::fprintf(f, "Note: no rainfall was input.\n");
}

void write_richards_block(const model_state &s, std::FILE *f) {
    const water_flows event(s.water, s.event_marks.water);
    const double infiltrated = event.infiltration();
    // With soil-moisture accounting the columns are no store of the ledger: their
    // own totals. Without it, their ET and limits are the ledger's flows.
    const event_total_marks &m = s.event_marks;
    const double area = s.cell_size * s.cell_size;
    const bool own = s.sacramento_on != 0;
    const double soil_et = own ? s.richards_et_volume - m.column_et : event.column_evaporation();
    std::fprintf(f, "\n \n Richard's EQ. Computations \n \n");
    std::fprintf(f, "initial soil water volume:           %9.1lf\n", s.start_soil_water_volume);
    std::fprintf(f, "final soil water volume:             %9.1lf\n", s.final_soil_volume);
    std::fprintf(f, "volume of infiltration:              %9.1lf\n", infiltrated);
    std::fprintf(f, "volume of evaporation from soil:     %9.1lf\n", soil_et);
    std::fprintf(f, "net volume of infiltration:          %9.1lf\n", infiltrated - soil_et);
    // Every way water enters or leaves the columns: infiltration, the ET the soil
    // gave up (evaporation from ponded water never entered it), the flux through
    // the column bottoms, the water the moisture limits added (negative: removed)
    // and the exchange with the aquifer as the water table moves.
    // With the aquifer the bottom flux waits in the percolation that its next step takes.
    const double bottom = own || s.groundwater_on ? (s.richards_bottom_total - m.richards_bottom) * area
                                                  : event.column_drainage();
    const double clip = own ? (s.richards_clip_total - m.richards_clip) * area : event.column_limits();
    const double to_aquifer = event.table_exchange();
    std::fprintf(f, "volume through the column bottoms:   %9.1lf\n", bottom);
    std::fprintf(f, "volume from soil to groundwater:     %9.1lf\n", to_aquifer);
    std::fprintf(f, "volume added by the moisture limits: %9.1lf\n", clip);
    const double gained = s.final_soil_volume - s.start_soil_water_volume;
    const double expected = infiltrated - soil_et - bottom + clip - to_aquifer;
    const double whole = s.start_soil_water_volume + infiltrated;
    const double error = whole != 0.0 ? (gained - expected) / whole * 100.0 : 0.0;
    std::fprintf(f, "Richard equation mass balance error         %5.4lf percent\n", error);
    std::fprintf(f, "Number of cells at start of event   %12d\n", s.cell_count);
    std::fprintf(f, "Number of cells at end of event     %12d\n", s.cell_count);
    std::fprintf(f, "net volume of infiltration is infiltration minus evaporation\n");
    if (s.sacramento_on)
        std::fprintf(f, "With Sacramento accounting the columns only set the infiltration:\n"
                        "the infiltrated water belongs to the Sacramento stores.\n");
}

void write_groundwater_block(const model_state &s, std::FILE *f) {
    using n = ledger_node;
    const water_flows run(s.water), event(s.water, s.event_marks.water);
    // Exfiltration: what the aquifer gave up to the soil above it as the table
    // moved, in the event, before it and over the run.
    const double exfiltrated = run.moved(n::aquifer, n::water_table);
    std::fprintf(f, "\n \n GROUNDWATER CALCULATION SUMMARIES FOR EVENT \n \n");
    std::fprintf(f, "volume from gw to the surface:       %9.1lf\n", event.moved(n::aquifer, n::water_table));
    std::fprintf(f, "exfiltration at start of event:      %9.1lf\n",
                 exfiltrated - event.moved(n::aquifer, n::water_table));
    std::fprintf(f, "exfiltration over the run:           %9.1lf\n", exfiltrated);
    std::fprintf(f, "volume from gw to unsat. zone:       %9.1lf\n", -event.table_exchange());
    std::fprintf(f, "volume of gw recharge:               %9.1lf\n", event.recharge());
    std::fprintf(f, "volume from gw to channels:          %9.1lf\n", event.moved(n::aquifer, n::channels));
    std::fprintf(f, "volume from channels to gw:          %9.1lf\n", event.moved(n::channels, n::aquifer));
    if (lakes_run(s)) {
        std::fprintf(f, "volume from gw to lakes:             %9.1lf\n",
                     event.moved(n::aquifer, n::channel_lakes));
        std::fprintf(f, "volume from lakes to gw:             %9.1lf\n",
                     event.moved(n::channel_lakes, n::aquifer));
    }
}

void write_warnings(const model_state &s, std::FILE *f) {
    std::fprintf(f, "\n THE FOLLOWING WARNINGS ARE GIVEN:\n");
    bool any = false;
    const water_flows event(s.water, s.event_marks.water);
    const double rain = event.ground_rain() + event.interception();
    if (s.final_overland_volume > 0.05 * rain) {
        any = true;
        std::fprintf(f, "-The volume of water remaining on the watershed surface at the end of the\n");
        std::fprintf(f, " simulation is more than 5 percent of the rainfall volume.  Runoff may not\n");
        std::fprintf(f, " be complete, or water is held in pits of the DEM.  Consider extending\n");
        std::fprintf(f, " the simulation time, or repair the DEM, as necesary.\n");
    }
    if (std::fabs(s.mass_conservation_error * 100.0) > 2.0) {
        any = true;
        std::fprintf(f, "-Mass conservation error (absolute) is larger than typical values (<2 percent).\n");
        std::fprintf(f, " Errors of this size usually come from the input data or from a time step\n");
        std::fprintf(f, " that is too long for the grid, not from the numerical methods chosen\n");
        std::fprintf(f, " in the development of KORVA.  You should first check for errors in the\n");
        std::fprintf(f, " input data (elevations, roughness, retention and soils).  Reducing the\n");
        std::fprintf(f, " time step may also help alleviate this problem.\n\n");
    }
    if (s.xsection_table_exceeded) {
        any = true;
        std::fprintf(f, "-Depths exceeded the range of look-up table X-section data.\n");
        std::fprintf(f, " This is usually a source of error, particularly near hydrograph peaks.\n");
    }
    warn_about_pipe_bounds(s);
    if (warning_tally.count > 0) {
        any = true;
        std::fprintf(f, "-The run printed %d warning%s on the console; read %s in the console\n",
                     warning_tally.count, warning_tally.count == 1 ? "" : "s",
                     warning_tally.count == 1 ? "it" : "them");
        std::fprintf(f, " output before using these results.\n");
        for (const std::string &note : warning_tally.notes) std::fprintf(f, " %s\n", note.c_str());
    }
    if (s.gw_dry_well_cell != 0) {
        any = true;
        std::fprintf(f, "-The well of grid cell %d has drawn the aquifer down to its floor, 0.001 m\n",
                     s.gw_dry_well_cell);
        std::fprintf(f, " above the aquifer bottom, and pumps less than its rate; the pumping volume\n");
        std::fprintf(f, " of the run summary is what it took.\n");
    }
    if (!any) std::fprintf(f, "No Warnings.\n");
}

void write_inputs_and_processes(const model_state &s, std::FILE *f) {
    std::fprintf(f, "\n THE FOLLOWING INPUTS WERE READ:\n");
    // Only a project file the pre-processor wrote carries its word.
    if (s.project.zep_project) std::fprintf(f, "A ZEP Project File was used.\n");
    // Every run reads its mask and elevation, grid maps of floating-point values
    // in the DRELM layout.
    std::fprintf(f, "Floating point DRELM maps were read.\n");
    if (s.in_hyd_location_on)
        std::fprintf(f, "Locations where discharge hydrographs are to be written.\n");

    std::fprintf(f, "\n THE FOLLOWING PROCESSES WERE SIMULATED:\n");
    const bool infiltration =
        s.inf_green_ampt || s.inf_redist || s.inf_layered || s.inf_richards;
    if (s.chan_explicit) std::fprintf(f, "Explicit diffusive-wave channel routing.\n");
    if (s.chan_drain_init)
        std::fprintf(f, "This was a channel initialation run using the DRAIN method.\n");
    if (s.chan_backwater_init)
        std::fprintf(f, "This was a channel initialzation run using thep backwater method.\n");
    if (s.chan_explicit && has_link_type(s.channels, 10))
        std::fprintf(f, "Trapezoidal cross-sections with Preissmann slots were simulated.\n");
    if (s.chan_explicit && has_link_type(s.channels, 11))
        std::fprintf(f, "Look-up table cross-sections with Preissmann slots were simulated.\n");
    if (s.chan_explicit && s.project.section_table.given)
        std::fprintf(f, "Look-up table data were read.\n");
    if (s.interception_on) std::fprintf(f, "Interception losses.\n");
    std::fprintf(f, s.roughness_map_on ? "Distributed overland roughness.\n"
                                       : "Uniform overland roughness.\n");
    if (infiltration) {
        if (s.uniform_moisture_on)
            std::fprintf(f, "Uniform initial soil moisture.\n");
        else if (s.initial_moisture_on)
            std::fprintf(f, "Distributed initial soil moisture.\n");
    }
    if (lakes_run(s)) std::fprintf(f, "Lakes were simulated.\n");
    if (s.project.reten_depth.given)
        std::fprintf(f, "Spatially varied retention.\n");
    else if (s.retention_on)
        std::fprintf(f, "Uniform retention depth.\n");
    if (s.inf_redist) std::fprintf(f, "Infiltration with redistribution.\n");
    if (s.inf_green_ampt) std::fprintf(f, "Green & Ampt infiltration.\n");
    if (s.inf_richards) std::fprintf(f, "Infiltration by Richards Eq.\n");
    if (s.inf_layered) std::fprintf(f, "G&A Infiltration through layered soils.\n");
    if (s.erosion.soil_erosion) std::fprintf(f, "Overland soil erosion.\n");
    if (s.chan_sediment_on)
        std::fprintf(f, "Sediment transport in channels using Yang's eqn. for sand.\n");
    if (s.sacramento_on)
        std::fprintf(f, "Base flow using the Sacramento Soil Moisture Accounting Model.\n");
    if (s.project.area_reduction.given)
        std::fprintf(f, "Infiltration and evapotranspiration reduced by the area-reduction map.\n");
    if (s.groundwater_on) std::fprintf(f, "Groundwater flow in the saturated zone.\n");
    if (s.groundwater_on && (!s.placed_wells.empty() || s.gw_wells_from_table))
        std::fprintf(f, "Pumping wells.\n");
    if (s.storm_sewer_on)
        std::fprintf(f, s.superlinks.tile_drain ? "Storm-sewer pipe network with tile drains.\n"
                                                : "Storm-sewer pipe network.\n");
}

void write_outputs(const model_state &s, std::FILE *f) {
    std::fprintf(f, "\n THE FOLLOWING OUTPUT MAPS WERE WRITTEN EVERY %d TIMESTEP(S):\n",
                 s.map_interval_steps);
    const project_params &p = s.project;
    const bool any_map = s.depth_out || s.discharge_out || s.dis_rain_out || s.inf_depth_out ||
                         s.rate_of_infil_on || s.surf_moist_out || s.chan_depth_out ||
                         s.chan_discharge_out;
    if (s.grid_map_files_on && any_map)
        std::fprintf(f, "Floating point DRELM output maps were written.\n");
    if (s.inf_redist) {
        if (s.surf_moist_out) std::fprintf(f, "Soil surface moisture maps were output.\n");
        if (s.rate_of_infil_on) std::fprintf(f, "Infiltration rate maps were output.\n");
    }
    if (s.datasets_on) {
        std::fprintf(f, s.binary_datasets ? "BINARY ZEP maps of:\n" : "ASCII ZEP maps of:\n");
        if (s.depth_out) std::fprintf(f, "     overland flow depth.\n");
        if (s.discharge_out) std::fprintf(f, "     discharge.\n");
        if (s.discharge_out && s.chan_explicit) std::fprintf(f, "     discharge in channels.\n");
        if (s.dis_rain_out) std::fprintf(f, "     distributed rainfall rate.\n");
        if (s.inf_depth_out) std::fprintf(f, "     distributed infiltration depth.\n");
        if (s.rate_of_infil_on) std::fprintf(f, "     distributed infiltration rate.\n");
        if (s.surf_moist_out) std::fprintf(f, "     distributed surface moisture.\n");
        if (s.chan_depth_out) std::fprintf(f, "     channel depth.\n");
        if (s.chan_discharge_out) std::fprintf(f, "     channel discharge.\n");
        if (p.net_sed_volume.given) std::fprintf(f, "     net volume of erosion/deposition.\n");
        if (p.vol_sed_susp.given) std::fprintf(f, "     suspended sediment volume.\n");
        if (p.max_sed_flux.given) std::fprintf(f, "     sediment flux.\n");
    }
    std::fprintf(f, "\n THE FOLLOWING ASCII OUTPUT FILES WERE WRITTEN TO EVERY %d TIMESTEP(S):\n",
                 s.hydrograph_interval_steps);
    std::fprintf(f, "     hydrograph at the catchment outlet.\n");
    if (s.in_hyd_location_on) std::fprintf(f, "     hydrographs at selected locations.\n");
    if (s.erosion.soil_erosion) {
        std::fprintf(f, "     sediment outflow at the catchment outlet.\n");
        if (p.in_sed_loc.given) std::fprintf(f, "     sediment hydrographs at selected locations.\n");
    }
}

}  // namespace

void write_event_summary(model_state &s) {
    std::FILE *f = s.summary_file;
    if (!f || !s.event_summary_switch) return;
    std::fprintf(f, "\n\n");
    std::fprintf(f, "------------------------------------------------------------------------------\n");
    write_title(s, f);
    write_rainfall_and_units(s, f);
    write_event_figures(s, f);
    write_water_balance(s, f);
    write_mass_error(s, f);
    if (s.inf_richards) write_richards_block(s, f);
    if (s.groundwater_on) write_groundwater_block(s, f);
    write_transport_event_summary(s);
    if (s.long_term)
        std::fprintf(f, "final basin-averaged soil water content: %5.2lf percent\n",
                     s.event_final_soil_moisture * 100.0);
    write_warnings(s, f);
    write_inputs_and_processes(s, f);
    write_outputs(s, f);
    std::fflush(f);
}
