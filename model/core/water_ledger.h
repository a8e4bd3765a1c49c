// The run's water ledger: the stores of the model and the places outside it, and
// every volume that moved between two of them, posted once by the time-step piece
// that moved it. Balances and summaries read their flows here; in debug builds the
// run driver checks after each piece that every store changed by what was posted.
#pragma once

#include <array>
#include <cstddef>

// The nodes of the ledger: first the stores, whose water is part of the run state,
// then the outside, where water comes from and goes to. Evaporation from any store
// goes to the atmosphere, the store it left names which evaporation it was.
enum class ledger_node : unsigned char {
    // stores
    surface,             // water on the cells (not under a lake)
    overland_lakes,      // overland lakes
    channels,            // channel links, without their lakes
    channel_lakes,       // lakes of the channel network
    snow,                // snow pack
    canopy,              // water held on the canopy (interception)
    front_soil,          // soil behind a Green and Ampt or layered wetting front
    root_zone,           // redistribution root zone
    soil_columns,        // Richards columns
    aquifer,             // saturated zone of the groundwater model
    pipes,               // pipe network
    sacramento,          // Sacramento soil-moisture stores
    sacramento_transit,  // Sacramento runoff made and not yet delivered
    // outside
    atmosphere,         // rain and snowfall in, evaporation out
    point_sources,      // point sources in, point sinks out
    outlet,             // discharge through the watershed outlet
    overland_boundary,  // flow across the grid's open boundary
    deep_aquifer,       // leakage and percolation below the model
    wells,              // pumping
    head_boundaries,    // fixed-head cells of the aquifer
    water_table,        // the moving water table: what the soil above it and the aquifer
                        // trade as it rises and falls passes through it (posted both ways
                        // at once), so that this exchange reads apart from the recharge
    // the guards that lift a state to its bound
    overland_cleanup,   // negative overland depths lifted to 0
    aquifer_floor,      // heads lifted to the floor of the saturated thickness
    channel_floor,      // negative channel areas lifted to 0
    pipe_depth_bounds,  // pipe depths and heads held within their bounds
    pipe_start_floor,   // the depth floors the pipe network starts from (its start volume)
    column_limits,      // Richards contents held within their limits
    // the constituents' own nodes (their ledgers also use the stores and the
    // outside above: the soil stores take infiltrated mass, the aquifer exchanges
    // mass with the channels and lakes)
    land_pool,          // store: constituent held on the land, released or not yet taken up
    cells_to_channels,  // store: mass the stream cells gave that the channel nodes have not yet taken
    cells_to_lakes,     // store: mass the lake cells gave that the channel lakes have not yet taken
    transformation,     // decay and transformation
    mass_cleanup,       // negative constituent masses lifted to 0
    // the sediment ledgers' own nodes (they also use "surface" for the soil
    // suspended in the overland water, "channels" for the classes the channel
    // nodes carry, "outlet", and "mass_cleanup" for negative volumes lifted to 0)
    loose_soil,         // store: loose soil lying on the cells
    channel_bed,        // store: channel bed material beyond the sand classes
    parent_soil,        // the soil below the loose layer that erosion cuts into
};

inline constexpr std::size_t ledger_node_count = static_cast<std::size_t>(ledger_node::parent_soil) + 1;
inline constexpr std::size_t ledger_store_count = static_cast<std::size_t>(ledger_node::sacramento_transit) + 1;

// The name a message and a summary give a node ("surface", "aquifer", ...).
const char *ledger_node_name(ledger_node node);

inline constexpr bool is_ledger_store(ledger_node node) {
    return static_cast<std::size_t>(node) < ledger_store_count || node == ledger_node::land_pool ||
           node == ledger_node::cells_to_channels || node == ledger_node::cells_to_lakes ||
           node == ledger_node::loose_soil || node == ledger_node::channel_bed;
}

// Every total kept by a ledger, per (from, to); an event keeps a copy at its start
// and reads its own share as the difference.
struct ledger_totals {
    std::array<double, ledger_node_count * ledger_node_count> moved{};
};

// One ledger: of water in m3, of a constituent's mass in kg, or of the sediment of
// one soil class in m3 of solids (a ledger each).
class water_ledger {
public:
    // `volume` moved from `from` to `to`. A negative volume moved the other way and
    // is booked so. Both ends are always named: water leaves one node as it
    // enters another, so no posting can create or lose it.
    void move(ledger_node from, ledger_node to, double volume) {
        if (volume >= 0.0)
            totals_.moved[index(from, to)] += volume;
        else
            totals_.moved[index(to, from)] -= volume;
    }

    // Total moved from `from` to `to` over the run (never negative).
    double moved(ledger_node from, ledger_node to) const { return totals_.moved[index(from, to)]; }
    // The same less what moved back: from `from` to `to`, net.
    double net(ledger_node from, ledger_node to) const { return moved(from, to) - moved(to, from); }
    // Everything that entered `node` less everything that left it.
    double net_into(ledger_node node) const;

    // A copy of the totals now, and the share of a flow since that copy.
    const ledger_totals &mark() const { return totals_; }
    double moved_since(const ledger_totals &mark, ledger_node from, ledger_node to) const {
        return moved(from, to) - mark.moved[index(from, to)];
    }
    double net_since(const ledger_totals &mark, ledger_node from, ledger_node to) const {
        return moved_since(mark, from, to) - moved_since(mark, to, from);
    }

    // The stores' volumes at the start and end of the run, as their owners formed them.
    void set_start(ledger_node store, double volume) { start_[slot(store)] = volume; }
    void set_end(ledger_node store, double volume) { end_[slot(store)] = volume; }
    double start(ledger_node store) const { return start_[slot(store)]; }
    double end(ledger_node store) const { return end_[slot(store)]; }

    // Everything to zero, for a new run.
    void clear() { *this = water_ledger(); }

private:
    static std::size_t index(ledger_node from, ledger_node to) {
        return static_cast<std::size_t>(from) * ledger_node_count + static_cast<std::size_t>(to);
    }
    static std::size_t slot(ledger_node store) { return static_cast<std::size_t>(store); }

    ledger_totals totals_;
    std::array<double, ledger_node_count> start_{}, end_{};
};
