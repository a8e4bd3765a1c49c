// The nutrient state of a run with NUTRIENTS: the aquatic environment parameters
// read from the aquatic environment file, the ten overland species sets and the
// stream species arrays of the channel network. Filled by the input readers
// (model/input/aquatic_env.h, model/input/constituent_params.h); read by the map
// and outlet writers and by the constituent transport.
#pragma once

#include <array>
#include <string>

#include "model/core/arrays.h"
#include "model/project/card_records.h"

// Values of one id of the aquatic environment file, in the file's line layout:
// positions 0..13 seven pairs (first value of pair i at 2i from line 1, second at
// 2i+1 from line 2), 14..21 four pairs (lines 3 and 4), 22..29 four pairs (lines 5
// and 6), 30..41 six pairs (lines 7 and 8), 42..45 line 9, 46..49 line 10.
inline constexpr int aquatic_record_size = 50;

struct aquatic_env_params {
    std::string ov_map_name, st_map_name;  // OV_MAP, ST_MAP (empty when not given)
    int num_ids = 0;                       // NUM_IDS
    // [id 0..num_ids][position 0..49]; row 0 unused; empty while NUM_IDS is 0.
    array_2d<double> records;
    array_1d<int> cell_env_id;                // per cell (N+1): environment id of the cell
};

// One overland species over the cells 1..N. Concentration holds the initial
// value until the transport moves it.
struct species_set {
    array_1d<double> conc;  // concentration in the cell's water
    array_1d<double> dmdt;  // mass change rate
    array_1d<double> mass;  // mass in the cell's water
    array_2d<double> terms; // [cell][1..8]: per-process terms kept by the transport
};

// Overland parameter slots 0..12: the ten species, then DOC, its fraction of
// organic carbon (FOC) and the dispersion coefficient.
inline constexpr int nutrient_doc_slot = 10, nutrient_foc_slot = 11;
inline constexpr int nutrient_dispersion_slot = 12;

// Per-node arrays of the channel network, [link][node] with links 1..link count
// and nodes 1..the largest node count (the stream mapping tables' layout). The
// 3-D arrays are [species][link][node], species 1..10 being species k = 0..9 of
// the species order (index k + 1).
struct stream_species_arrays {
    array_3d<double> conc, dmdt, mass, fraction_bound, fraction_dissolved;
    array_3d<double> fraction_sorbed_to_particle, km, fsum;
    array_2d<double> doc, doc_foc, dispersion;
};

// The nutrient record of the run (one per run, owned by the model_state).
struct nutrient_record {
    aquatic_env_params env;
    int cell_count = 0;  // N of the species sets
    std::array<species_set, nutrient_species_count> species;
    // Overland DOC, FOC and dispersion per cell (N+1).
    array_1d<double> doc, doc_foc, dispersion;
    stream_species_arrays stream;
};
