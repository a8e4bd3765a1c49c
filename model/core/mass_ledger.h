// The ledger of each constituent's mass (kg): every constituent piece posts the
// mass it moved, summed over its cells, from one node to another. The summaries
// read their figures here, and the debug check compares the stores after each piece.
#pragma once

#include <cstddef>

#include "model/core/model_state.h"

// The ledger of constituent k (k >= 1), made when first posted to.
inline water_ledger &mass_ledger(model_state &s, int k) {
    const std::size_t i = k < 1 ? 0 : static_cast<std::size_t>(k);
    if (i >= s.constituent_mass.size()) s.constituent_mass.resize(i + 1);
    return s.constituent_mass[i];
}

inline const water_ledger &mass_ledger(const model_state &s, int k) {
    static const water_ledger none;
    const std::size_t i = static_cast<std::size_t>(k);
    return k >= 1 && i < s.constituent_mass.size() ? s.constituent_mass[i] : none;
}

// `grams` of constituent k moved from `from` to `to`, booked in kg.
inline void post_mass(model_state &s, int k, ledger_node from, ledger_node to, double grams) {
    if (grams != 0.0) mass_ledger(s, k).move(from, to, grams / 1000.0);
}

// The soil store that takes the dissolved mass the infiltrating water carries.
inline ledger_node constituent_soil_node(const model_state &s) { return infiltration_store_of(s); }

// Where the mass the stream cells give goes: on its way to the channel nodes when
// the channels carry constituents, else into the channel water, which keeps no
// account of it.
inline ledger_node constituent_channel_inflow_node(const model_state &s) {
    return s.chan_con_trans && !s.chan.chan_node_conc.empty() ? ledger_node::cells_to_channels
                                                                : ledger_node::channels;
}
