// The flows the balances print, read from the water ledger: over the whole run,
// or since a mark (the start of an event). A flow that may run both ways is the
// net of its postings, in the direction its name gives.
#pragma once

#include "model/core/water_ledger.h"

// The ledger's totals before anything moved: flows since it are the run's.
inline const ledger_totals ledger_run_start{};

class water_flows {
public:
    explicit water_flows(const water_ledger &ledger, const ledger_totals &since = ledger_run_start)
        : w_(ledger), since_(since) {}

    double net(ledger_node from, ledger_node to) const { return w_.net_since(since_, from, to); }
    double moved(ledger_node from, ledger_node to) const { return w_.moved_since(since_, from, to); }

    // Through the outlet: the surface flow, the channels' and the Sacramento
    // runoff that left without channels.
    double discharge() const {
        return net(n::surface, n::outlet) + net(n::channels, n::outlet) + net(n::sacramento_transit, n::outlet);
    }
    // Into the channels from the cells beside them, the Sacramento runoff they carry included.
    double lateral_inflow() const {
        return net(n::surface, n::channels) + net(n::sacramento_transit, n::channels);
    }
    // Evaporation of ponded water, and the ET that left the soil schemes' stores
    // (the Sacramento stores keep their own). Rain comes the other way: these
    // are the flows to the atmosphere alone.
    double surface_evaporation() const { return moved(n::surface, n::atmosphere); }
    double soil_evaporation() const {
        return moved(n::root_zone, n::atmosphere) + moved(n::soil_columns, n::atmosphere);
    }
    double evaporation() const { return surface_evaporation() + soil_evaporation(); }
    // From the surface into whichever store takes infiltrated water.
    double infiltration() const {
        return net(n::surface, n::front_soil) + net(n::surface, n::root_zone) +
               net(n::surface, n::soil_columns) + net(n::surface, n::sacramento);
    }
    // What drained below the soil schemes' stores: into the aquifer's solved
    // cells, into its fixed-head cells, or out of the model when no aquifer runs.
    double recharge_of_aquifer() const { return from_soil(n::aquifer); }
    double recharge() const {
        return recharge_of_aquifer() + from_soil(n::head_boundaries) + from_soil(n::deep_aquifer);
    }
    // The soil's net exchange with the aquifer as the water table moved, into the aquifer.
    double table_exchange() const { return net(n::water_table, n::aquifer); }
    // The channels' and channel lakes' exchange with the water below them: the
    // aquifer, or the water table when no aquifer runs (from below, and to it).
    double seepage_in() const { return moved(n::aquifer, n::channels) + moved(n::deep_aquifer, n::channels); }
    double seepage_out() const { return moved(n::channels, n::aquifer) + moved(n::channels, n::deep_aquifer); }
    double lake_bed_in() const {
        return moved(n::aquifer, n::channel_lakes) + moved(n::deep_aquifer, n::channel_lakes);
    }
    double lake_bed_out() const {
        return moved(n::channel_lakes, n::aquifer) + moved(n::channel_lakes, n::deep_aquifer);
    }
    // Rain and snowfall on the ground and the snow pack (not on the canopy or the lakes).
    double ground_rain() const { return moved(n::atmosphere, n::surface) + moved(n::atmosphere, n::snow); }
    double interception() const { return moved(n::atmosphere, n::canopy); }
    double overland_point_inflow() const { return moved(n::point_sources, n::surface); }
    double overland_cleanup() const { return net(n::overland_cleanup, n::surface); }
    // The channels' point sources and sinks, and the water lifting negative areas added.
    double channel_point_sources() const { return moved(n::point_sources, n::channels); }
    double channel_point_sinks() const { return moved(n::channels, n::point_sources); }
    double channel_lifting() const { return net(n::channel_floor, n::channels); }
    // The pipe network's exchange with the water above: what its inlets took,
    // and what it spilled or gave onto cells and into channels.
    double into_pipes() const { return moved(n::surface, n::pipes); }
    double out_of_pipes() const { return moved(n::pipes, n::surface) + moved(n::pipes, n::channels); }
    // The Sacramento runoff that reached the channels or, without them, the outlet.
    double sacramento_base_flow() const {
        return moved(n::sacramento_transit, n::channels) + moved(n::sacramento_transit, n::outlet);
    }
    // The overland lakes' flows: rain and the water of the cells in, water given back out.
    double overland_lake_inflow() const {
        return moved(n::atmosphere, n::overland_lakes) + moved(n::surface, n::overland_lakes);
    }
    double overland_lake_outflow() const { return moved(n::overland_lakes, n::surface); }
    // The channel lakes' flows other than rain and evaporation: from and to the
    // channels and the aquifer, and the water of the cells they take or that
    // flow onto them.
    double channel_lake_inflow() const {
        return moved(n::channels, n::channel_lakes) + moved(n::surface, n::channel_lakes) +
               moved(n::aquifer, n::channel_lakes);
    }
    double channel_lake_outflow() const {
        return moved(n::channel_lakes, n::channels) + moved(n::channel_lakes, n::aquifer);
    }
    // The Richards columns: their ET, what drained through their bottoms out of the
    // model and what their moisture limits added (negative: removed).
    double column_evaporation() const { return moved(n::soil_columns, n::atmosphere); }
    double column_drainage() const { return moved(n::soil_columns, n::deep_aquifer); }
    double column_limits() const { return net(n::column_limits, n::soil_columns); }
    // The channel lakes' evaporation, and the rain that fell on either kind of lake.
    double lake_evaporation() const { return moved(n::channel_lakes, n::atmosphere); }
    double channel_lake_rain() const { return moved(n::atmosphere, n::channel_lakes); }
    double overland_lake_rain() const { return moved(n::atmosphere, n::overland_lakes); }

private:
    using n = ledger_node;
    double from_soil(ledger_node to) const {
        return net(n::front_soil, to) + net(n::root_zone, to) + net(n::soil_columns, to);
    }
    const water_ledger &w_;
    const ledger_totals &since_;
};

// A balance error as printed with `decimals` decimals: an error below the
// printing resolution is rounding of the sums and shows as 0, never as -0.
inline double error_as_printed(double error, int decimals) {
    double resolution = 0.5;
    for (int k = 0; k < decimals; ++k) resolution /= 10.0;
    return error > -resolution && error < resolution ? 0.0 : error;
}
