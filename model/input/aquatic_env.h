// The aquatic environment file of the nutrient module ("AQUATIC_ENV_QVL10"), the
// overland species sets and the stream species arrays. The input driver reads the
// file and builds the overland sets (read_aquatic_env_file and
// setup_overland_nutrients, declared in input_readers.h); the channel set-up
// builds the stream arrays.
#pragma once

#include <string_view>

#include "model/core/nutrient_state.h"

struct model_state;

// Line 1 of an aquatic environment file (its first 17 characters are compared).
inline constexpr std::string_view aquatic_env_header = "AQUATIC_ENV_QVL10";

// Number of values on line 1..10 of an id block: 7, 7, 4, 4, 4, 4, 6, 6, 4, 4.
int aquatic_line_value_count(int line);
// Record position of value i (0-based) of line 1..10 of an id block: lines 1 to
// 8 fill pairs (odd lines the first, even lines the second value of each pair),
// lines 9 and 10 four values each; -1 outside the layout.
int aquatic_record_position(int line, int i);

// Allocates the arrays of one species set for n cells, zeroed: 0 on success, -1
// (message printed) when an allocation fails.
int alloc_species_set(species_set &set, int n);

// The stream species arrays for the channel network of the run state, zeroed;
// code 4000 after an allocation failure.
void setup_stream_nutrients(model_state &state);
