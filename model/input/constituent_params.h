// Initial values and parameters of the nutrient constituents on every overland
// cell and channel node, each from one of three input modes: 3 a uniform value,
// 2 the nutrient tables of the mapping-table (or stream mapping-table) file, 1 a
// continuous map. assign_grid_constituent_params (input_readers.h) runs in the
// input driver; setup_stream_constituents in the channel set-up.
//
// The tables fill the parameter slots 0..12 of the species order: QVL_N the
// slots 0..3 (NO2, NO3, NH4, organic N), QVL_P 4..6 (organic P, dissolved P,
// PO4), QVL_OTH 7..9 (algae, CBOD, DO), QVL_C 10..11 (DOC, FOC) and DISPERSION
// (on the channels the sixth stream kind) 12, each in its column order.
#pragma once

#include <string>

#include "model/core/arrays.h"

struct model_state;

// Input modes of a constituent parameter.
enum constituent_input_mode : int {
    constituent_from_map = 1,
    constituent_from_table = 2,
    constituent_uniform = 3,
};

// One channel parameter into target[link][node] over links 1..link_count and
// nodes 1..node_count[link]: mode 3 the uniform value, mode 2 the values that
// the stream tables already put there (code 120 with the name when
// `table_present` is 0), mode 1 a stream map file of doubles (codes 80, 116 to
// 118). Another mode is refused with a message naming the constituent.
void assign_stream_constituent_params(const model_state &state, int mode, const char *name,
                                      double uniform_value, const std::string &map_file,
                                      int link_count, const array_1d<int> &node_count,
                                      array_2d<double> &target, int table_present);

// The stream nutrient tables and every channel parameter: the ten initial values
// from the ST_INIT cards into the stream concentrations, then DOC, FOC and
// dispersion from the OV_DOC_INIT, OV_DOC_FOC and OV_DISPERSION cards.
void setup_stream_constituents(model_state &state);
