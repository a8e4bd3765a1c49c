// The check of the sediment ledgers that the debug and sanitizer builds make
// beside the water check: after every time-step piece, each store's volume of
// each soil class must have changed by the net of what the piece posted to it. A
// store that changed by more than rounding stops the run, naming the piece, the
// class, the store and the difference (m3 of solids).
#pragma once

#include "model/core/water_ledger.h"
#include "model/project/ledger_check.h"

struct model_state;

// A ledger per soil class (from 1) and one of the channel bed material (0), of
// the volume of solids (m3) in the stores each keeps.
using sediment_check = ledger_check;

// The sediment of class k (0: the bed material) in one store as the state holds it
// now (m3): "surface" the soil suspended in the overland water, "loose_soil" the
// loose soil on the cells, "channels" the class in the channel nodes (wash load
// or sand), "channel_bed" the channel beds' material beyond the sand classes.
double store_sediment(const model_state &state, int k, ledger_node store);

// Takes the volumes before the first piece.
void start_sediment_check(const model_state &state, sediment_check &check);

// After a piece: false (with the message printed and code 4000 raised) when a
// store of a class changed by other than what was posted to it.
bool check_sediment_after(const model_state &state, sediment_check &check, const char *piece);
