// Lakes over the terrain: the overland-lake update (olake_extent), the extent of
// the channel-network lakes (update_lake_extent) and their hourly evaporation
// (lake_step), with the companion sort they use. The entry points are declared in
// hydrology_services.h and soil_water_services.h; this header adds the helpers.
#pragma once

#include "model/core/arrays.h"

struct model_state;

// Sorts key[1..n] ascending and applies every move to companion[1..n] as well
// (quicksort with median of three; ranges of at most 7 entries by insertion, in
// which equal keys keep their order). A pending-range stack beyond 50 entries
// prints its message, stores code 4000 and stops sorting.
void sort2(array_1d<double> &key, array_1d<int> &companion, int n);

// The volume change of an overland lake in the step (m3): its rain and the
// overland flow it received since the last update.
double overland_lake_volume_change(const model_state &state, int lake);

// Water in the overland lakes (sum of the lake volumes, m3).
double overland_lake_volume(const model_state &state);
// Water in the channel lakes now (m3).
double channel_lake_volume(const model_state &state);
