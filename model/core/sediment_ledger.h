// The sediment ledgers (m3 of solids): one per soil class, from index 1, and at
// index 0 the channel bed material that carries no class. Every erosion and
// sediment piece posts the volume it moved, summed over its cells and nodes; the
// sediment summaries read their flows here and the debug check compares the stores.
#pragma once

#include <cstddef>

#include "model/core/model_state.h"

// The ledger of class k (0 for the channel bed material), made when first posted to.
inline water_ledger &sediment_ledger(model_state &s, int k) {
    const std::size_t i = k < 0 ? 0 : static_cast<std::size_t>(k);
    if (i >= s.sediment_volume.size()) s.sediment_volume.resize(i + 1);
    return s.sediment_volume[i];
}

inline const water_ledger &sediment_ledger(const model_state &s, int k) {
    static const water_ledger none;
    const std::size_t i = static_cast<std::size_t>(k);
    return k >= 0 && i < s.sediment_volume.size() ? s.sediment_volume[i] : none;
}

// `volume` m3 of class k moved from `from` to `to`.
inline void post_sediment(model_state &s, int k, ledger_node from, ledger_node to, double volume) {
    if (volume != 0.0) sediment_ledger(s, k).move(from, to, volume);
}

// The share of a flow of class k since the current event began.
inline double sediment_moved_in_event(const model_state &s, int k, ledger_node from, ledger_node to) {
    const water_ledger &l = sediment_ledger(s, k);
    const std::size_t i = static_cast<std::size_t>(k);
    return k >= 0 && i < s.sediment_event_marks.size() ? l.moved_since(s.sediment_event_marks[i], from, to)
                                                      : l.moved(from, to);
}
