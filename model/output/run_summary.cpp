// End-of-run report: the run-long balances appended to the summary file, the
// calibration line, the final records of data sets and series, backwater
// profiles, channel, groundwater and overland hotstarts, the saturated-source map
// and the pre-processor hydrograph file. run_model calls write_run_summary once
// after the time loop has ended normally.
#include "model/output/run_summary.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/channel/channel_services.h"
#include "model/channel/ex_flow_route.h"
#include "model/output/contaminant_summaries.h"
#include "model/output/dataset_writer.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/event_end.h"
#include "model/hydrology/event_start.h"
#include "model/core/file_opener.h"
#include "model/core/line_reader.h"
#include "model/output/link_node_series.h"
#include "model/output/map_writers.h"
#include "model/core/model_state.h"
#include "model/core/water_flows.h"
#include "model/output/output_writers.h"

namespace {

// Factor of the calibration line in English units.
constexpr double calibration_cfs_factor = 35.32;

// A labelled volume line: the label padded to column 49, then "%14.2lf".
void volume_line(std::FILE *f, const char *label, double value) {
    // A volume below the last printed digit has no sign.
    std::fprintf(f, "%-48s%14.2lf\n", label, error_as_printed(value, 2));
}

// What the overland step control did: the steps it cut (ran in shorter
// sub-steps), the shortest step taken and the standing-water faces it held.
void write_overland_step_line(const model_state &s, std::FILE *f) {
    const overland_step_record &r = s.overland_steps;
    if (r.steps == 0) return;
    std::fprintf(f, "Overland steps cut: %lld of %lld, shortest step %.4lf s, standing faces held: %lld\n",
                 r.cut_steps, r.steps, r.shortest, r.held_faces);
}

// What the pipe network's step control did: the steps it ran in shorter
// sub-steps to keep its continuity, and the shortest sub-step.
void write_pipe_step_line(const model_state &s, std::FILE *f) {
    const superlink_step_state &w = s.superlink_work;
    if (!s.storm_sewer_on || w.steps == 0) return;
    std::fprintf(f, "Pipe network steps cut: %lld of %lld, shortest step %.4lf s\n", w.cut_steps, w.steps,
                 w.shortest_step);
}

// What the Richards columns' sub-step control did: the sub-steps it ran shorter
// than it tried them, of all it took, and the shortest of those.
void write_richards_step_line(const model_state &s, std::FILE *f) {
    const richards_substep_record &r = s.richards_substeps;
    if (r.substeps == 0) return;
    std::fprintf(f, "Richards sub-steps cut: %lld of %lld, shortest cut sub-step %.4lf s\n", r.cut_substeps,
                 r.substeps, r.shortest_cut);
}

// The channel step control takes no water-surface slope below its floor; a
// face flatter than that may ripple (see ex_flow_route.cpp), so the sub-steps
// whose length the floor set are told.
void write_channel_step_line(const model_state &s, std::FILE *f) {
    const channel_work &w = s.chan;
    if (w.floor_substeps == 0) return;
    std::fprintf(f, "Channel sub-steps set by the water-surface slope floor: %lld of %lld; the levels of faces flatter "
                    "than the floor (%.0e, %.0e where links take sub-steps of their own) may ripple by up to about the "
                    "floor x the node spacing\n",
                 w.floor_substeps, w.substeps, channel_slope_floor, channel_local_slope_floor);
}

double percent_of(double part, double whole) { return whole != 0.0 ? part / whole * 100.0 : 0.0; }

bool lakes_simulated(const model_state &s) {
    return s.overland_lake_on || s.channels.lake_count > 0;
}

// Channel lakes: volumes at the start and now (m3).
struct perennial_lake_totals {
    double initial = 0.0, final_volume = 0.0;
};
perennial_lake_totals perennial_lakes(const model_state &s) {
    perennial_lake_totals t;
    for (int k = 1; k <= s.channels.lake_count; ++k) {
        if (static_cast<std::size_t>(k) >= s.channels.lakes.size()) break;
        const channel_lake &l = s.channels.lakes[static_cast<std::size_t>(k)];
        t.initial += l.initial_volume;
        t.final_volume += l.volume;
    }
    return t;
}

// Overland lakes: summed volumes (m3).
double overland_lake_final_volume(const model_state &s) {
    double volume = 0.0;
    for (int k = 1; k <= s.overland_lake_count; ++k) {
        if (static_cast<std::size_t>(k) >= s.lakes.size()) break;
        volume += s.lakes[static_cast<std::size_t>(k)].volume;
    }
    return volume;
}

using ln = ledger_node;

// Water the floor of the aquifer's saturated thickness added (m3): heads lifted
// to it beyond what their sinks could not take, and the exchange sinks it held back.
double gw_floor_added(const model_state &s) { return s.water.net(ln::aquifer_floor, ln::aquifer); }

// Rain and snowfall: on the ground and the snow, on the canopy and on the lakes.
double precipitation_volume(const model_state &s) {
    const water_ledger &w = s.water;
    return w.moved(ln::atmosphere, ln::surface) + w.moved(ln::atmosphere, ln::snow) +
           w.moved(ln::atmosphere, ln::channel_lakes) + w.moved(ln::atmosphere, ln::overland_lakes) +
           w.moved(ln::atmosphere, ln::canopy);
}

// Flows of the ledger that the balances print (m3).
double pumped(const model_state &s) { return s.water.net(ln::aquifer, ln::wells); }
double leaked(const model_state &s) { return s.water.net(ln::aquifer, ln::deep_aquifer); }
double across_head_bounds(const model_state &s) { return s.water.net(ln::head_boundaries, ln::aquifer); }
double tile_drained(const model_state &s) { return s.water.moved(ln::aquifer, ln::pipes); }
double caught(const model_state &s) { return s.water.moved(ln::atmosphere, ln::canopy); }
double point_inflow(const model_state &s) { return s.water.moved(ln::point_sources, ln::surface); }
double boundary_gain(const model_state &s) { return s.water.moved(ln::overland_boundary, ln::surface); }
double boundary_loss(const model_state &s) { return s.water.moved(ln::surface, ln::overland_boundary); }
double cleanup_added(const model_state &s) { return s.water.net(ln::overland_cleanup, ln::surface); }
// The channels' and channel lakes' seepage from and to a water table that no
// groundwater model simulates.
double from_outside_table(const model_state &s) {
    return s.water.moved(ln::deep_aquifer, ln::channels) + s.water.moved(ln::deep_aquifer, ln::channel_lakes);
}
double to_outside_table(const model_state &s) {
    return s.water.moved(ln::channels, ln::deep_aquifer) + s.water.moved(ln::channel_lakes, ln::deep_aquifer);
}

// Soil storage is part of the state with these schemes, so infiltration is an
// internal move in the overall balance.
// With soil-moisture accounting the Green and Ampt front, the layered soil and the
// Richards columns only decide what infiltrates: the accounting's stores own that
// water (the redistribution root zone keeps the water it had).
bool soil_storage_tracked(const model_state &s) {
    if (s.sacramento_on) return s.inf_redist != 0;
    return s.inf_green_ampt || s.inf_redist || s.inf_layered || s.inf_richards;
}

// ---- 1. groundwater ----
// The aquifer's balance over the run. Positive seepage and lake volumes leave the
// aquifer for the channels and lakes ("in" to them); the soil-water total is the
// net water the soil gave the aquifer, and exfiltration is that same exchange
// seen from the water table, so it is printed but not counted again. Recharge is
// the percolation of the cells the step solves; what percolates into fixed-head
// cells belongs to their boundary. Pumping and leakage are what the wells and the
// leakage took; the water the floor of the saturated thickness added (heads
// lifted to it beyond what a sink could not take, and exchange sinks it held
// back) is a line of its own.
void write_groundwater_block(model_state &s, std::FILE *f) {
    const double start = s.initial_gw_volume, end = s.final_gw_volume;
    const water_ledger &w = s.water;
    const water_flows run(w);
    const double recharge = run.recharge_of_aquifer();
    const double into_gw = run.table_exchange();
    // What the aquifer gave up to the soil above it as the table moved; the
    // trickery is the net of the exchange, into the aquifer.
    const double exfiltration = w.moved(ln::aquifer, ln::water_table);
    const double inputs = recharge + into_gw + w.moved(ln::channels, ln::aquifer) +
                          w.moved(ln::channel_lakes, ln::aquifer);
    const double floor_added = gw_floor_added(s);
    const double to_rivers = w.moved(ln::aquifer, ln::channels), to_lakes = w.moved(ln::aquifer, ln::channel_lakes);
    const double outputs = to_rivers + to_lakes + leaked(s) + pumped(s) + tile_drained(s);
    // Flux across head boundaries: what the fixed-head cells passed, the storage
    // change of each step that its exchange terms and the floor do not account for.
    const double boundary_flux = across_head_bounds(s);
    const double expected = start + inputs + floor_added - outputs + boundary_flux;
    const double error = percent_of(end - expected, start + inputs + floor_added);
    std::fprintf(f, "GROUNDWATER CALCULATIONS \n\n");
    std::fprintf(f, "Volume in groundwater at start = %14.2lf \n", start);
    std::fprintf(f, "Volume in groundwater at end =   %14.2lf \n", end);
    std::fprintf(f, "Sat/unsat. trickery (into gw) =  %14.2lf \n", into_gw);
    std::fprintf(f, "Exfiltration volume =            %14.2lf \n", exfiltration);
    std::fprintf(f, "Recharge volume =                %14.2lf \n", recharge);
    // The seepage of the channels and lakes into the aquifer is part of its inputs;
    // what it gave them is an output.
    const bool rivers = s.chan_explicit || to_rivers != 0.0 || w.moved(ln::channels, ln::aquifer) != 0.0;
    const bool lakes = lakes_simulated(s) || to_lakes != 0.0 || w.moved(ln::channel_lakes, ln::aquifer) != 0.0;
    if (rivers) std::fprintf(f, "Rivers to groundwater =          %14.2lf \n", w.moved(ln::channels, ln::aquifer));
    if (lakes) std::fprintf(f, "Lakes to groundwater =           %14.2lf \n", w.moved(ln::channel_lakes, ln::aquifer));
    std::fprintf(f, "Total inputs =                   %14.2lf \n", inputs);
    if (rivers) std::fprintf(f, "Groundwater to rivers =          %14.2lf \n", to_rivers);
    if (lakes) std::fprintf(f, "Groundwater to lakes =           %14.2lf \n", to_lakes);
    std::fprintf(f, "Flux across head boundaries =    %14.2lf \n", boundary_flux);
    std::fprintf(f, "Added by the aquifer floor =     %14.2lf \n", floor_added);
    std::fprintf(f, "Leakage to deep aquifer =        %14.2lf \n", leaked(s));
    std::fprintf(f, "Pumping volume =                 %14.2lf \n", pumped(s));
    if (s.storm_sewer_on && s.superlinks.tile_drain)
        std::fprintf(f, "Taken by tile drains =           %14.2lf \n", tile_drained(s));
    std::fprintf(f, "Mass Balance error =             %14.2lf %%  \n", error_as_printed(error, 2));
    std::fprintf(f, "If you have any head boundaries \n");
    std::fprintf(f, "Mass balance errors are likely due to flux across boundary \n");
    std::fprintf(f, "Which is not exactly calculated \n");
}

// ---- 2. Sacramento ----
void write_sac_states(std::FILE *f, const double contents[5], const double capacities[5]) {
    std::fprintf(f, "uztwc:  %10.3lf mm, %8.2lf%%\n", contents[0], percent_of(contents[0], capacities[0]));
    std::fprintf(f, "uzfwc:  %10.3lf mm, %8.2lf%%\n", contents[1], percent_of(contents[1], capacities[1]));
    std::fprintf(f, "lztwc:  %10.3lf mm, %8.2lf%%\n", contents[2], percent_of(contents[2], capacities[2]));
    std::fprintf(f, "lzfpc:  %10.3lf mm, %8.2lf%%\n", contents[3], percent_of(contents[3], capacities[3]));
    std::fprintf(f, "lzfsc:  %10.3lf mm, %8.2lf%%\n", contents[4], percent_of(contents[4], capacities[4]));
}

void write_sac_fluxes_mm(std::FILE *f, const double v[8]) {
    std::fprintf(f, "Initial subsurface storage(mm):        %10.3lf\n", v[0]);
    std::fprintf(f, "Input rainfall (mm):                   %10.3lf\n", v[1]);
    std::fprintf(f, "PET calculated by KORVA (mm):          %10.3lf\n", v[2]);
    std::fprintf(f, "AET calculated by Sacramento (mm):     %10.3lf\n", v[3]);
    std::fprintf(f, "Subsurface runoff (mm):                %10.3lf\n", v[4]);
    std::fprintf(f, "Recharge to deep g.w. (mm):            %10.3lf\n", v[5]);
    std::fprintf(f, "Final volume of subsurface water (mm): %10.3lf\n", v[6]);
    std::fprintf(f, "Residual (neg. means mass created (mm):%10.3lf\n", v[7]);
}

// The same figures as volumes over the watershed.
void write_sac_fluxes_m3(std::FILE *f, const double v[8]) {
    std::fprintf(f, "Initial subsurface storage (m3):       %10.3lf\n", v[0]);
    std::fprintf(f, "Input rainfall (m3):                   %10.3lf\n", v[1]);
    std::fprintf(f, "PET calculated by KORVA (m3):          %10.3lf\n", v[2]);
    std::fprintf(f, "AET calculated by Sacramento (m3):     %10.3lf\n", v[3]);
    std::fprintf(f, "Subsurface runoff (m3):                %10.3lf\n", v[4]);
    std::fprintf(f, "Recharge to deep g.w. (m3):            %10.3lf\n", v[5]);
    std::fprintf(f, "Final volume of subsurface water (m3): %10.3lf\n", v[6]);
    std::fprintf(f, "Residual (neg. means mass created (m3):%10.3lf\n", v[7]);
}

void write_sacramento_block(model_state &s, std::FILE *f) {
    const sacramento_basin &b = s.sac_basin;
    // Start contents in the order uztwc, uzfwc, lztwc, lzfpc, lzfsc.
    const double initial[5] = {s.sacramento_start_totals[0], s.sacramento_start_totals[1],
                               s.sacramento_start_totals[2], s.sacramento_start_totals[3],
                               s.sacramento_start_totals[4]};
    const double final_states[5] = {b.uztwc, b.uzfwc, b.lztwc, b.lzfpc, b.lzfsc};
    const double capacities[5] = {b.uztwm, b.uzfwm, b.lztwm, b.lzfpm, b.lzfsm};
    std::fprintf(f, "\n\nSimulation summary for the Sacramento Soil Moisture Accounting Model\n");
    std::fprintf(f, "as incorporated in the Morvathen\n");
    std::fprintf(f, "(KORVA) Model.  Internal SAC-SMA mass conservation check.\n\n");
    std::fprintf(f, "Initial state variable values:\n");
    write_sac_states(f, initial, capacities);
    std::fprintf(f, "Final state variable values:\n");
    write_sac_states(f, final_states, capacities);

    // The stores' flows over the run, in mm over the watershed: what they took of
    // the infiltration (the rest still waits for them), their ET, the runoff they
    // gave off and their deep recharge.
    const double per_m3 = s.watershed_area > 0.0 ? 1000.0 / s.watershed_area : 0.0;
    const water_ledger &w = s.water;
    const double inflow = (w.net(ln::surface, ln::sacramento) - sacramento_pending_volume(s)) * per_m3;
    const double aet = w.moved(ln::sacramento, ln::atmosphere) * per_m3;
    const double runoff = w.moved(ln::sacramento, ln::sacramento_transit) * per_m3;
    const double extra = w.moved(ln::sacramento, ln::deep_aquifer) * per_m3;
    const double final_storage = sacramento_storage(b);
    const double residual = s.sac_initial_storage + inflow - aet - runoff - extra - final_storage;
    double mm[8] = {s.sac_initial_storage, inflow, s.sac_pet_total, aet, runoff, extra,
                    final_storage, residual};
    double m3[8];
    for (int i = 0; i < 8; ++i) m3[i] = mm[i] / 1000.0 * s.watershed_area;
    // A residual below the last printed digit is rounding of the sums.
    mm[7] = error_as_printed(mm[7], 3);
    m3[7] = error_as_printed(m3[7], 3);
    std::fprintf(f, "\nMass Balance Information:\n\n");
    write_sac_fluxes_mm(f, mm);
    std::fprintf(f, "Sacramento simulation total residual water balance: %18.16f mm\n",
                 b.balance_residual);
    std::fprintf(f, "\nSacramento storages and fluxes expressed as volumes (m^3):\n");
    write_sac_fluxes_m3(f, m3);
}

// ---- 4. global mass balance ----
void write_global_balance(model_state &s, std::FILE *f) {
    const bool channels = s.chan_explicit != 0;
    const bool gw = s.groundwater_on != 0;
    const bool soils = soil_storage_tracked(s);
    const perennial_lake_totals lakes = perennial_lakes(s);
    const bool perennial = s.channels.lake_count > 0;
    const run_balance balance = form_run_balance(s);

    std::fprintf(f, "\n\nSIMULATION TOTALS\n\n");
    std::fprintf(f, "GLOBAL MASS BALANCE CALCULATIONS \n");
    std::fprintf(f, "All volumes are in cubic meters \n \n");
    volume_line(f, "Initial surface volume:", s.initial_overland_volume);
    if (s.overland_lake_on) volume_line(f, "Initial overland lake volume:", s.initial_lake_volume);
    if (channels) volume_line(f, "Initial channel volume:", s.run_initial_channel_volume);
    if (soils && (s.inf_green_ampt || s.inf_layered))
        volume_line(f, "Initial soil volume over the G&A depth:", s.initial_soil_water_volume);
    if (soils && (s.inf_redist || s.inf_richards))
        volume_line(f, "Initial soil water volume:", s.initial_soil_water_volume);
    if (gw) volume_line(f, "Initial groundwater volume:", s.initial_gw_volume);
    if (perennial) volume_line(f, "Initial perennial lake volume:", lakes.initial);
    if (s.storm_sewer_on) volume_line(f, "Initial pipe network volume:", s.superlinks.slink_volume_start);

    volume_line(f, "Final surface volume:", s.final_overland_volume);
    if (s.overland_lake_on) volume_line(f, "Final overland lake volume:", s.final_lake_volume);
    if (channels) volume_line(f, "Final channel volume:", s.final_channel_volume);
    if (soils) volume_line(f, "Final soil water volume:", s.final_soil_volume);
    if (gw) volume_line(f, "Final groundwater volume:", s.final_gw_volume);
    volume_line(f, "Final snow volume:", s.final_snow_volume);
    if (perennial) volume_line(f, "Final perennial lake volume:", lakes.final_volume);
    if (s.storm_sewer_on) volume_line(f, "Final pipe network volume:", s.superlinks.slink_volume_end);
    if (s.sacramento_on) volume_line(f, "Final Sacramento runoff in transit:", s.sac_owed_volume);

    volume_line(f, "Total precipitation:", precipitation_volume(s));
    if (s.interception_on) {
        // The canopy gives its water back only by evaporation: what it caught is
        // what evaporated plus what it still holds.
        double held = 0.0;
        if (!s.interception_store.empty())
            for (std::size_t i = 1; i <= s.interception_store.last(); ++i) held += s.interception_store[i];
        volume_line(f, "Total interception:", caught(s));
        volume_line(f, "Interception evaporated:", s.water.moved(ln::canopy, ln::atmosphere));
        volume_line(f, "Interception left on the canopy:", held * s.cell_size * s.cell_size / 1000.0);
    }
    const water_flows run(s.water);
    volume_line(f, "Total infiltration:", run.infiltration());
    volume_line(f, "Total evaporation:", run.evaporation());
    // The share of it that left ponded water (the surface balance's term).
    volume_line(f, "Direct evaporation:", run.surface_evaporation());
    if (gw) {
        volume_line(f, "Total exfiltration:", s.water.moved(ln::aquifer, ln::water_table));
        volume_line(f, "Total recharge:", run.recharge());
        // What percolated into fixed-head and river cells left the model through
        // their boundary; the rest of the recharge entered the aquifer.
        volume_line(f, "Percolation into head-boundary cells:", run.recharge() - run.recharge_of_aquifer());
        volume_line(f, "Total pumping:", pumped(s));
        // The soil's exchange with the aquifer as the table moved: down, and up
        // as the exfiltration; their difference is the trickery into the aquifer.
        volume_line(f, "Downward flux from the unsaturated zone:", s.water.moved(ln::water_table, ln::aquifer));
        volume_line(f, "Groundwater across bounds:", across_head_bounds(s));
    } else if (s.inf_redist) {
        volume_line(f, "Total recharge:", run.recharge());
    }
    if (s.inf_richards && soils) {
        // What left the columns through their bottoms out of the model, and what
        // their moisture limits added (negative: removed): both are in the balance.
        if (!gw) volume_line(f, "Drained through the column bottoms:", run.recharge());
        volume_line(f, "Water added by the moisture limits:", run.column_limits());
    }
    if (channels) volume_line(f, "Lateral inflow into channels:", run.lateral_inflow());
    volume_line(f, "Total discharge:", run.discharge());
    if (gw && channels) {
        volume_line(f, "Groundwater to rivers:", s.water.moved(ln::aquifer, ln::channels));
        volume_line(f, "Rivers to groundwater:", s.water.moved(ln::channels, ln::aquifer));
    }
    // Without a groundwater model the channels and channel lakes exchange with a
    // water table outside the model.
    const double table_in = from_outside_table(s), table_out = to_outside_table(s);
    if (!gw && (table_in != 0.0 || table_out != 0.0)) {
        volume_line(f, "Seepage from the water table:", table_in);
        volume_line(f, "Seepage to the water table:", table_out);
    }
    if (gw && lakes_simulated(s)) {
        volume_line(f, "Groundwater to lakes:", s.water.moved(ln::aquifer, ln::channel_lakes));
        volume_line(f, "Lakes to groundwater:", s.water.moved(ln::channel_lakes, ln::aquifer));
    }
    if (perennial) {
        volume_line(f, "Rain on perennial lakes:", run.channel_lake_rain());
        volume_line(f, "Flows into lakes:", run.channel_lake_inflow());
        volume_line(f, "Flows from lakes:", run.channel_lake_outflow());
        volume_line(f, "Lake evaporation:", run.lake_evaporation());
    }
    if (gw) volume_line(f, "Deep recharge:", leaked(s));
    volume_line(f, "Overland point sources:", point_inflow(s));
    if (channels)
        volume_line(f, "Channel point sources:", run.channel_point_sources() - run.channel_point_sinks());
    // A scheduled release passes no more than the link above it holds.
    const channel_network &net = s.channels;
    for (std::size_t l = 1; channels && l < net.release_asked.size() && l < net.release_made.size(); ++l) {
        if (!(net.release_asked[l] > 0.0)) continue;
        const std::string link = std::to_string(l);
        volume_line(f, ("Release asked for, structure link " + link + ":").c_str(), net.release_asked[l]);
        volume_line(f, ("Release made, structure link " + link + ":").c_str(), net.release_made[l]);
    }
    if (s.storm_sewer_on) {
        volume_line(f, "Taken by pipe inlets:", s.water.moved(ln::surface, ln::pipes));
        volume_line(f, "Spilled from pipes onto the land:", s.water.moved(ln::pipes, ln::surface));
        if (channels) volume_line(f, "Pipe outflow into channels:", s.water.moved(ln::pipes, ln::channels));
        if (s.superlinks.tile_drain) volume_line(f, "Tile drains, aquifer to pipes:", tile_drained(s));
        // The floors the network started from are in its initial volume.
        volume_line(f, "Water added by the pipe depth bounds:", s.water.net(ln::pipe_depth_bounds, ln::pipes));
        // The continuity error of the scheme's own solution, which no flow
        // carries: it shows in the overall error.
        volume_line(f, "Pipe water the scheme made (lost if negative):", s.superlink_work.scheme_made);
    }
    if (s.overland_boundary_on) {
        volume_line(f, "Boundary losses:", boundary_loss(s));
        volume_line(f, "Boundary gains:", boundary_gain(s));
    }
    volume_line(f, "Water added by the overland clean-up:", cleanup_added(s));
    if (gw) volume_line(f, "Water added by the aquifer floor:", gw_floor_added(s));
    if (channels)
        volume_line(f, "Water added by lifting channel areas:", run.channel_lifting());

    std::fprintf(f, "Mass balance error of surface components =             %10.6lf percent\n\n",
                 error_as_printed(balance.surface_error, 6));
    if (gw)
        std::fprintf(f, "Overall mass balance error =                        %14.6lf percent\n \n",
                     error_as_printed(balance.overall_error, 6));
    else
        std::fprintf(f, "Overall mass balance error =                    %10.6lf percent\n \n",
                     error_as_printed(balance.overall_error, 6));
    write_overland_step_line(s, f);
    write_pipe_step_line(s, f);
    write_channel_step_line(s, f);
    write_richards_step_line(s, f);
    if (s.sacramento_on) {
        std::fprintf(f, "*overall mass balance error will not be zero when using the Sacramento\n");
        std::fprintf(f, " model unless its subsurface stores are counted: the overall error\n");
        std::fprintf(f, " above counts their storage and the ET and deep recharge they lose;\n");
        std::fprintf(f, " their runoff is in the discharge or still in transit.  The internal\n");
        std::fprintf(f, " SAC-SMA mass conservation check above is the balance of the stores.\n");
    }
    if (s.inf_redist) {
        // Only the ET that left the soil; ponded water evaporated from the surface.
        // With soil-moisture accounting the infiltrated water went to its stores.
        const double in = s.initial_soil_water_volume + (s.sacramento_on ? 0.0 : run.infiltration());
        const double soil_et = run.soil_evaporation();
        // With the aquifer the root zone also gave it the exchange as the table moved.
        const double to_aquifer = s.groundwater_on ? run.table_exchange() : 0.0;
        const double expected = in - soil_et - run.recharge() - to_aquifer;
        std::fprintf(f, "Single layer soil moisture mass balance =       %19.6lf percent \n\n",
                     error_as_printed(percent_of(s.final_soil_volume - expected, in), 6));
    }
    if (s.overland_lake_on) {
        // Rain, overland flow and the water of taken cells in; water given back to
        // the cells out. No process evaporates water from overland lakes, so their
        // evaporation line stays 0.
        const double in = run.overland_lake_inflow(), out = run.overland_lake_outflow();
        volume_line(f, "Overland lake flows in m^3:", in);
        volume_line(f, "Overland lake flows out m^3:", out);
        volume_line(f, "Overland lake evaporation m^3:", 0.0);
        std::fprintf(f, "Overland lake mass bal error m^3:               %14.2lf\n\n",
                     error_as_printed(s.initial_lake_volume + in - out - overland_lake_final_volume(s), 2));
    }
    if (perennial)
        std::fprintf(f, "Perennial lake mass bal error m^3=              %14.2lf\n\n",
                     error_as_printed(lakes.initial + run.channel_lake_inflow() + run.channel_lake_rain() -
                                          run.channel_lake_outflow() - run.lake_evaporation() -
                                          lakes.final_volume, 2));
}

// ---- 5. contaminants ----
void write_channel_contaminants(const model_state &s, std::FILE *f, int c) {
    std::fprintf(f, "Channel Contaminant Transport Summary for Contaminant %5d \n", c);
    std::fprintf(f, "Amounts are total for simulations in (Kg) \n \n");
    const channel_mass_account a = run_channel_account(s, c);
    write_channel_mass_lines(f, a);
    write_lake_mass_lines(f, s, c, a);
    write_channel_balance_error(f, s, c);
}

void write_contaminant_block(model_state &s, std::FILE *f) {
    finish_constituent_balances(s);
    finish_channel_constituent_balances(s);
    const int count = static_cast<int>(s.OV_MASS_INIT.count());
    if (count <= 0 || !(s.ov_con_trans_mode || s.chan_con_trans)) return;
    std::fprintf(f, "\n\n *************   Overland Transport Summaries   **************** \n\n");
    for (int c = 1; c <= count; ++c) {
        std::fprintf(f, "Overland Contaminant Transport Summary for Contaminant %5d \n", c);
        std::fprintf(f, "Amounts are total for simulations in (Kg) \n \n");
        write_overland_mass_lines(f, run_overland_account(s, c));
    }
    std::fprintf(f, "\n\n *************   Channel Transport Summaries   **************** \n\n");
    for (int c = 1; s.chan_con_trans && c <= count; ++c) write_channel_contaminants(s, f, c);
    std::fprintf(f, "\n\n *************   Global Transport Summaries   **************** \n\n");
    for (int c = 1; c <= count; ++c) {
        std::fprintf(f, "Contaminant Transport Global Summary for Contaminant %5d \n", c);
        write_global_mass_lines(f, s, c);
    }
}

// ---- 7. final records of the open series ----
void write_final_series_records(model_state &s) {
    owned_file &flood = s.dataset_files[grid_out_flood_grid];
    if (flood.file) {
        write_dataset_step(flood.file, s.grid_rows, s.grid_cols, s.cell_number_grid,
                           cell_span(s.max_depth), s.binary_datasets, s.elapsed_minutes);
        write_dataset_end(flood.file, s.binary_datasets);
    }
    if (s.flood_stream_file && s.channels.link_count > 0) {
        // The running maximum holds the largest depth of every node.
        const array_2d<double> none;
        write_linknode_step(s.flood_stream_file, 1, s.channels, s.chan.yp_max_flood, none,
                            linknode_value_plain, {});
    }
    if (!s.datasets_on || s.chan_drain_init) return;
    for (int k = 0; k < dataset_output_count; ++k) {
        if (k == grid_out_flood_grid) continue;
        std::FILE *f = s.dataset_files[static_cast<std::size_t>(k)].file;
        if (f) write_dataset_end(f, s.binary_datasets);
    }
}

// ---- 12. pre-processor hydrograph file ----
std::FILE *reopen_for_reading(std::FILE *written, const std::string &card_name) {
    if (written) std::fflush(written);
    std::string name = card_name;
    strip_quotes(name);
    if (name.empty()) return nullptr;
    // The file carries the run prefix it was written with.
    return std::fopen(output_file_path(run_file_name(name, "w")).c_str(), "r");
}

void write_zep_file(model_state &s) {
    std::FILE *outlet = reopen_for_reading(s.outlet_hydro_file, s.outlet_hydro_name);
    std::FILE *points = nullptr;
    bool points_ok = true;
    if (s.in_hyd_location_on) {
        points = reopen_for_reading(s.hyd_location_out_file, s.out_hyd_location_name);
        points_ok = points != nullptr;
    }
    std::FILE *out = outlet && points_ok ? open_run_file(s.zep_hydro_name, "w") : nullptr;
    if (!outlet || !points_ok || !out) {
        std::printf("\n\nError: Unable to open files to write the ZEP hydrograph file.\n Write aborted.\n");
        // Without its inputs the file is skipped; a file that cannot be written
        // fails the run.
        if (outlet && points_ok) {
            std::printf("Error: unable to write the output file %s\n", s.zep_hydro_name.c_str());
            raise_printed_error();
        }
    } else {
        write_zep_hydrograph_file(points, outlet, out, s.packed_date, s.packed_time,
                                  s.hydrograph_interval_steps, s.outlet_line_count,
                                  s.hyd_location_count);
    }
    close_run_file(out);
    if (points) std::fclose(points);
    if (outlet) std::fclose(outlet);
}

// ten values a line, "%11.4lf" separated by " ".
void write_value_block(std::FILE *out, const std::vector<double> &values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i % 10 != 0) std::fprintf(out, " ");
        std::fprintf(out, "%11.4lf", values[i]);
        if (i % 10 == 9) std::fprintf(out, "\n");
    }
    if (values.size() % 10 != 0) std::fprintf(out, "\n");
}

// Whole line is one integer from 0 to max; else 0.
long point_count_of(const std::string &line, int max_points) {
    const char *p = line.c_str();
    char *end = nullptr;
    const long n = std::strtol(p, &end, 10);
    if (end == p) return 0;
    for (const char *q = end; *q; ++q)
        if (*q != ' ' && *q != '\t' && *q != '\r') return 0;
    return n >= 0 && n <= max_points ? n : 0;
}

// ---- 15. channel sediment state ----
void write_channel_sediment_state(model_state &s) {
    std::FILE *f = open_run_file(s.channel_sediment_output_name, "w");
    if (!f) {
        std::printf("Can't open channel sediment output file for writing: %s\n",
                    s.channel_sediment_output_name.c_str());
        raise_printed_error();
        return;
    }
    const channel_network &net = s.channels;
    for (int l = 1; l <= net.link_count; ++l) {
        for (int n = 1; n <= int_at(net.node_count, l); ++n) {
            double v = 0.0;
            node_value(s.chan.new_bel, n, l, v);
            std::fprintf(f, "%6.2lf ", v);
        }
        std::fprintf(f, "\n");
    }
    close_run_file(f);
}

// Steps 10 and 11; false when the report must end at once.
bool write_groundwater_hotstart(model_state &s) {
    std::string name = "hotstart_file";
    std::FILE *f = open_run_file(name, "w");
    if (!f) {
        std::printf("Can't open water table map for writing out hotstart info: %s\n", name.c_str());
        raise_printed_error();
        return false;
    }
    write_drelm_map(f, s.grid_rows, s.grid_cols, s.grid_north, s.grid_south, s.grid_east,
                    s.grid_west, s.cell_number_grid, cell_span(s.water_table_elevation));
    return close_run_file(f);
}

bool write_satsource_file(model_state &s) {
    std::string name = "satsource_file";
    std::FILE *f = open_run_file(name, "w");
    if (!f) {
        std::printf("Can't open map for writing out sat. source info: %s\n", name.c_str());
        raise_printed_error();
        return false;
    }
    write_satsource_map(f, s.grid_rows, s.grid_cols, s.grid_north, s.grid_south, s.grid_east,
                        s.grid_west, s.cell_number_grid, s.saturated_source);
    return close_run_file(f);
}

void write_overland_hotstart(model_state &s) {
    std::string name = s.project.write_ov_hotstart.name;
    std::FILE *f = open_run_file(name, "w");
    if (!f) {
        std::printf("Can't open overland hotstart file for writing: %s\n", name.c_str());
        raise_printed_error();
        return;
    }
    write_drelm_map(f, s.grid_rows, s.grid_cols, s.grid_north, s.grid_south, s.grid_east,
                    s.grid_west, s.cell_number_grid, cell_span(s.depth));
    close_run_file(f);
}

}  // namespace

run_balance form_run_balance(const model_state &s) {
    run_balance b;
    const perennial_lake_totals lakes = perennial_lakes(s);
    const double rain = precipitation_volume(s);
    const double boundary_out = boundary_loss(s);
    // Water on and above the ground: initial storage and inflows against outflows
    // and final storage, the exchanges with the aquifer included.
    // Positive seepage and lake volumes came from the aquifer into the channels.
    const double exchange_in = surface_exchange_in(s);
    const double exchange_out = surface_exchange_out(s);
    const double stored_in = s.initial_overland_volume + s.initial_lake_volume +
                             s.run_initial_channel_volume + s.initial_snow_volume + lakes.initial;
    // The pipe network lies outside these volumes: what its inlets take leaves the
    // surface, what it spills or discharges onto cells and into channels enters it.
    const water_flows run(s.water);
    const double pipe_in = run.out_of_pipes();
    const double inflow = rain + point_inflow(s) + boundary_gain(s) + cleanup_added(s) +
                          run.channel_lifting() + run.channel_point_sources() + pipe_in;
    const double stored_out = s.final_overland_volume + s.final_lake_volume +
                              s.final_channel_volume + s.final_snow_volume + lakes.final_volume;
    // Evaporation from ponded water leaves the surface; the rest of the ET left the
    // soil and belongs to the whole-system balance only.
    const double outflow = caught(s) + run.surface_evaporation() + run.discharge() + boundary_out +
                           run.channel_point_sinks() + run.into_pipes() + run.lake_evaporation();
    const double soil_et = run.soil_evaporation();
    b.surface_in = stored_in + inflow + exchange_in;
    b.surface_out = stored_out + outflow + run.infiltration() + exchange_out;
    if (!(rain > 0.0))
        b.surface_error = -100.0;
    else
        b.surface_error = percent_of(b.surface_out - b.surface_in, b.surface_in);

    // The whole system: soil, aquifer and pipe-network storage join in, the moves
    // between them and the surface drop out. Tile drains move water from the
    // aquifer into the pipes; the water the pipes' depth bounds added is booked
    // and printed, and what their scheme made shows in the error.
    const double pipe_start = s.storm_sewer_on ? s.superlinks.slink_volume_start : 0.0;
    const double pipe_end = s.storm_sewer_on ? s.superlinks.slink_volume_end : 0.0;
    const double pipe_bounds = s.storm_sewer_on ? s.water.net(ln::pipe_depth_bounds, ln::pipes) : 0.0;
    b.overall_in = stored_in + inflow - pipe_in + pipe_start + pipe_bounds + s.initial_gw_volume +
                   across_head_bounds(s) + gw_floor_added(s) + from_outside_table(s);
    b.overall_out = stored_out + outflow - run.into_pipes() + pipe_end +
                    s.final_gw_volume + pumped(s) + leaked(s) + to_outside_table(s);
    if (soil_storage_tracked(s)) {
        b.overall_in += s.initial_soil_water_volume;
        b.overall_out += s.final_soil_volume + soil_et;
        // Percolation leaves the model without the aquifer; with it, what
        // percolates into fixed-head cells leaves through their boundary.
        b.overall_out += s.groundwater_on ? run.recharge() - run.recharge_of_aquifer() : run.recharge();
        // Water the Richards columns' moisture limits added (negative: removed).
        if (s.inf_richards) b.overall_in += run.column_limits();
    } else if (!s.sacramento_on) {
        b.overall_out += run.infiltration();
    }
    if (s.sacramento_on) {
        // The basin's stores hold the infiltrated water: their storage, the ET and
        // deep recharge they lose, and the infiltration not yet handed to them.
        // Their runoff is in the channels or the discharge, or still in transit.
        const double m3 = s.watershed_area / 1000.0;
        b.overall_in += s.sac_initial_storage * m3;
        b.overall_out += sacramento_storage(s.sac_basin) * m3 + s.water.moved(ln::sacramento, ln::atmosphere) +
                         s.water.moved(ln::sacramento, ln::deep_aquifer) + s.sac_owed_volume;
        b.overall_out += sacramento_pending_volume(s);
    }
    b.overall_error = percent_of(b.overall_out - b.overall_in, b.overall_in);
    return b;
}

void write_channel_hotstart(std::FILE *f, const channel_network &net) {
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= nodes_as_read(net, l); ++n) {
            double yp = 0.0, bel = 0.0, q = 0.0;
            node_value(net.yp, n, l, yp);
            node_value(net.bel, n, l, bel);
            node_value(net.qp, n, l, q);
            std::fprintf(f, "%4d %4d %8.3f %8.3f\n", l, n, yp - bel, q);
        }
}

void write_backwater_profiles(std::FILE *surface, std::FILE *discharge,
                              const channel_network &net, bool lakes) {
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = int_at(net.link_type, l);
        if (type == 40 || type == 2) continue;
        if (lakes && (type == 4 || type == 44)) continue;
        for (int n = 1; n <= nodes_as_read(net, l); ++n) {
            double yp = 0.0, q = 0.0;
            node_value(net.yp, n, l, yp);
            node_value(net.qp, n, l, q);
            if (surface) std::fprintf(surface, "%d %d %lf \n", l, n, yp);
            if (discharge) std::fprintf(discharge, "%d %d %lf\n", l, n, q);
        }
    }
}

void write_satsource_map(std::FILE *f, int rows, int cols, double north, double south,
                         double east, double west, const array_2d<int> &cells,
                         const array_1d<int> &values) {
    write_drelm_header(f, rows, cols, north, south, east, west);
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            const int c = cell_at(cells, i, j);
            if (c > 0)
                std::fprintf(f, "%d ", int_at(values, c));
            else
                std::fprintf(f, "0 ");
        }
        std::fprintf(f, "\n");
    }
}

void write_zep_hydrograph_file(std::FILE *points, std::FILE *outlet, std::FILE *out,
                               long start_date, long start_time, long interval,
                               long outlet_count, int max_points) {
    std::fprintf(out, "KORVAHA_ZEP_HYDROGRAPH_FILE\n");
    std::string line;
    long point_count = 0;
    if (points && read_line(line, points)) point_count = point_count_of(line, max_points);
    std::fprintf(out, "%ld\n%ld\n%ld\n%ld\n%ld\n", point_count, start_date, start_time, interval,
                 outlet_count);
    for (long k = 0; k < point_count; ++k) {
        if (!read_line(line, points)) line.clear();
        std::fprintf(out, "%s\n", line.c_str());
    }

    std::vector<double> values;
    while (static_cast<long>(values.size()) < outlet_count && read_raw_line(line, outlet)) {
        double time = 0.0, q = 0.0;
        if (std::sscanf(line.c_str(), "%lf %lf", &time, &q) == 2) values.push_back(q);
    }
    write_value_block(out, values);

    if (point_count <= 0) return;
    // The data lines of the point hydrographs: a time, then one value per point.
    std::vector<std::vector<double>> series(static_cast<std::size_t>(point_count));
    while (read_line(line, points)) {
        std::string rest = line;
        double v = 0.0;
        if (!next_double(rest, v)) continue;  // the time
        for (long k = 0; k < point_count; ++k) {
            if (!next_double(rest, v)) break;
            series[static_cast<std::size_t>(k)].push_back(v);
        }
    }
    for (const std::vector<double> &hydro_table : series) write_value_block(out, hydro_table);
}

void write_run_summary(model_state &s) {
    // A long-term run goes on after its last event closed: its balances take the
    // storages of its end.
    if (s.long_term) {
        form_final_volumes(s);
        if (error_record.fatal) return;
    }
    std::FILE *f = s.summary_file;
    if (f) {
        if (s.groundwater_on) write_groundwater_block(s, f);
        if (s.sacramento_on) write_sacramento_block(s, f);
        // What the tile drains took from the aquifer into the pipes.
        if (s.storm_sewer_on) std::fprintf(f, "Volume from superlink=     %10.2f\n", tile_drained(s));
        write_global_balance(s, f);
        write_contaminant_block(s, f);
        std::fflush(f);
    }

    if (s.calibration_run && s.optim_file.file) {
        const double factor = s.discharge_in_cfs ? calibration_cfs_factor : 1.0;
        std::fprintf(s.optim_file.file, "%d %13lf\n", s.event_number + 1,
                     s.peak_outlet_discharge * factor);
        std::fflush(s.optim_file.file);
    }

    write_final_series_records(s);

    if (s.explic_backwater && (s.wat_surf_profile_out_file || s.dis_profile_out_file))
        write_backwater_profiles(s.wat_surf_profile_out_file, s.dis_profile_out_file, s.channels,
                                 lakes_simulated(s));
    if ((s.chan_explicit || s.chan_mesh) && s.chan_hotstart_out_file)
        write_channel_hotstart(s.chan_hotstart_out_file, s.channels);

    if (s.groundwater_on && !write_groundwater_hotstart(s)) return;
    if (s.satsource_output_on && !write_satsource_file(s)) return;

    if (s.zep_hydro_on) write_zep_file(s);

    close_run_file(s.outlet_inflow_file);
    close_run_file(s.ov_hotstart_file);

    if (s.project.write_ov_hotstart.given) write_overland_hotstart(s);

    if (s.erosion.soil_erosion && s.chan_sediment_on && !s.channel_sediment_output_name.empty())
        write_channel_sediment_state(s);
}
