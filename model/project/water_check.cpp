// Store volumes from the state and the per-piece comparison with the water ledger.
// run_time_loop calls it after each piece in the debug and sanitizer builds.
#include "model/project/water_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/model_state.h"
#include "model/hydrology/groundwater_coupling.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/lakes.h"
#include "model/hydrology/overland_pieces.h"
#include "model/hydrology/soil_water_pieces.h"
#include "model/pipes/superlink_step.h"

namespace {

using n = ledger_node;

// Every store of the ledger.
constexpr std::array<ledger_node, 13> checked_stores = {
    n::snow,    n::canopy,     n::sacramento,    n::sacramento_transit, n::pipes,
    n::aquifer, n::front_soil, n::root_zone,     n::soil_columns,       n::surface,
    n::overland_lakes,         n::channels,      n::channel_lakes};

double cell_sum(const model_state &s, const array_1d<double> &a) {
    double sum = 0.0;
    if (a.empty() || s.cell_count < 1) return 0.0;
    const std::size_t last = std::min(static_cast<std::size_t>(s.cell_count), a.last());
    const double *v = a.data();
    for (std::size_t c = 1; c <= last; ++c) sum += v[c];
    return sum;
}

// Whether a store can hold water in this run: those of the schemes the run's
// settings leave off stay empty (their volume is 0 and nothing posts to them),
// and the check leaves them out.
bool store_in_run(const model_state &s, ledger_node store) {
    switch (store) {
        case n::overland_lakes: return s.overland_lake_on != 0;
        case n::front_soil:
        case n::root_zone:
        case n::soil_columns: return !s.sacramento_on && soil_store_of(s) == store;
        case n::aquifer: return s.groundwater_on != 0;
        case n::pipes: return s.storm_sewer_on != 0;
        case n::sacramento:
        case n::sacramento_transit: return s.sacramento_on != 0;
        default: return true;
    }
}

// The relative part of a break beyond rounding, and its absolute part (m3).
constexpr double relative_rounding = 1e-9;
constexpr double absolute_rounding = 1e-9;

}  // namespace

double store_volume(const model_state &s, ledger_node store) {
    const double area = s.cell_size * s.cell_size;
    switch (store) {
        case n::surface: return overland_surface_volume(s);
        case n::overland_lakes: {
            // With the rain and inflow that the next lake update takes in.
            double pending = 0.0;
            for (int k = 1; k <= s.overland_lake_count && static_cast<std::size_t>(k) < s.lakes.size(); ++k)
                pending += s.lakes[static_cast<std::size_t>(k)].rain_volume +
                           s.lakes[static_cast<std::size_t>(k)].inflow_volume;
            return overland_lake_volume(s) + pending;
        }
        case n::channels:
            // Less what the aquifer has given the channels and posts at its next step.
            return (channel_routing_on(s) ? channel_water_volume(s) : 0.0) - pending_exchange_of(s).seepage;
        case n::channel_lakes: return channel_lake_volume(s) - pending_exchange_of(s).lake;
        case n::snow: return cell_sum(s, s.snow_store) * area;
        case n::canopy: return cell_sum(s, s.interception_store) * area / 1000.0;
        case n::front_soil:
        case n::root_zone:
        case n::soil_columns:
            // With soil-moisture accounting the stores own the infiltrated water.
            // The root zone takes the infiltration of its steps at its ET step.
            if (soil_store_of(s) != store || s.sacramento_on) return 0.0;
            return final_soil_water(s) +
                   (s.inf_redist ? cell_sum(s, s.step_infiltration_depth) * area : 0.0);
        case n::aquifer: return s.groundwater_on ? s.gw_stored_volume : 0.0;
        case n::pipes:
            // With what the channel outlets have offered and the channel step not
            // yet taken, less the water the scheme's own solution made: that is
            // the one change no flow carries, printed as the pipes' continuity error.
            return s.storm_sewer_on ? pipe_network_water(s) + s.superlink_work.slink_channel_outlet_total -
                                          s.chan.pipe_outlet_volume - s.superlink_work.scheme_made
                                    : 0.0;
        case n::sacramento:
            // The stores, and the infiltration they have not yet taken in.
            return s.sacramento_on ? sacramento_storage(s.sac_basin) * s.watershed_area / 1000.0 +
                                         sacramento_pending_volume(s)
                                   : 0.0;
        case n::sacramento_transit: return s.sacramento_on ? s.sac_owed_volume : 0.0;
        default: return 0.0;
    }
}

void start_water_check(const model_state &s, water_check &check) {
    check.ledgers.assign(1, ledger_check::book{});
    check.first = 0;
    check.relative_rounding = relative_rounding;
    check.absolute_rounding = absolute_rounding;
    for (ledger_node store : checked_stores)
        if (store_in_run(s, store)) take_store(check.ledgers[0], store, store_volume(s, store), s.water);
}

bool check_water_after(const model_state &s, water_check &check, const char *piece) {
    return check_ledgers(
        check, [&s](int, ledger_node store) { return store_volume(s, store); },
        [&s](int) -> const water_ledger & { return s.water; },
        [piece](int, ledger_node store, double difference) {
            std::printf("Error: the water of the %s changed by %.6f m3 more than was posted in the "
                        "time-step piece %s.\n",
                        ledger_node_name(store), difference, piece);
            raise_printed_error();
        });
}
