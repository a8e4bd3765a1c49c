// Small per-cell tests and the signed booking shared by the routing pieces
// (overland_pieces.cpp) and the groundwater piece (groundwater_coupling.cpp).
#pragma once

#include <cstddef>

#include "model/core/errors.h"
#include "model/core/model_state.h"

namespace piece_cells {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

template <class A>
bool covers(const A &a, int cells) {
    return !a.empty() && a.last() >= at(cells);
}

inline bool failed() { return error_record.code != 0 || error_record.fatal != 0; }

inline bool in_overland_lake(const model_state &s, int i) {
    return s.overland_lake_on && covers(s.overland_lake_id, i) && s.overland_lake_id[at(i)] > 0;
}
inline bool in_channel_lake(const model_state &s, int i) {
    return covers(s.cell_channel_lake, i) && s.cell_channel_lake[at(i)] > 0;
}

}  // namespace piece_cells
