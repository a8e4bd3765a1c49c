// The check of the water ledger that the debug and sanitizer builds make around
// every time-step piece: each store's volume, formed from the state, must have
// changed by the net of what the piece posted to it. A store that changed by more
// than rounding stops the run, naming the piece, the store and the difference.
#pragma once

#include "model/core/water_ledger.h"
#include "model/project/ledger_check.h"

struct model_state;

#ifdef NDEBUG
inline constexpr bool water_check_built = false;
#else
inline constexpr bool water_check_built = true;
#endif

// One ledger, the water's (m3), over the stores the run's settings can fill.
using water_check = ledger_check;

// The volume of one store as the state holds it now (m3).
double store_volume(const model_state &state, ledger_node store);

// Takes the volumes before the first piece.
void start_water_check(const model_state &state, water_check &check);

// After a piece: false (with the message printed and code 4000 raised) when a
// store changed by other than what was posted to it.
bool check_water_after(const model_state &state, water_check &check, const char *piece);
