// The check of the constituent ledgers that the debug and sanitizer builds make
// beside the water check: after every time-step piece, each store's mass of each
// constituent must have changed by the net of what the piece posted to it. A store
// that changed by more than rounding stops the run, naming the piece, the
// constituent, the store and the difference.
#pragma once

#include "model/core/water_ledger.h"
#include "model/project/ledger_check.h"

struct model_state;

// A ledger per constituent (from 1), of its mass (kg) in the stores it can fill.
using mass_check = ledger_check;

// The mass of constituent k in one store as the state holds it now (kg). Mass a
// process has given but its receiver has not yet taken counts in the store on the
// way ("cells_to_channels", "cells_to_lakes"); mass a source put in the water before
// it was booked, and mass released from the land pool before it reached the water,
// still count where they came from.
double store_mass(const model_state &state, int k, ledger_node store);

// Takes the masses before the first piece.
void start_mass_check(const model_state &state, mass_check &check);

// After a piece: false (with the message printed and code 4000 raised) when a
// store of a constituent changed by other than what was posted to it. A store's
// start mass, set by its owner when it first fills the store, is no flow.
bool check_mass_after(const model_state &state, mass_check &check, const char *piece);
