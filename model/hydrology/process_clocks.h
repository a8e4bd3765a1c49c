// Process clocks of the time loop and the four pieces that keep the model clock
// and close a turn (advance_clock, track_peak_discharge, print_progress,
// check_simulation_end; declared in hydrology_services.h). Every time-step piece
// tests and advances its own clock through the helpers here.
#pragma once

#include "model/core/model_state.h"
#include "model/core/run_options.h"

// True when the clock is due in this turn: |next - now| < the clock tolerance
// (a time that is not a number is never due).
bool clock_due(const model_state &state, const process_clock &clock);

// Seconds since the clock's last update, (now - last) * 86400, without changing it.
double clock_step_seconds(const model_state &state, const process_clock &clock);

// Acts on a due clock: returns the step (now - last) * 86400 seconds, then sets
// last = now and next = now + interval.
double take_clock_step(model_state &state, process_clock &clock);

// Gregorian leap year.
bool is_leap_year(int year);

// Day of the year of a date; rewrites the February entry of days_in_month
// (index 1..12) for the year when February is summed.
int day_of_year(int year, int month, int day, std::array<int, 13> &days_in_month);

// A long-term dry spell between events may be passed over in one turn only when
// nothing happens in it: the Sacramento stores give off runoff every hour and a
// snow pack melts, and that water must reach the soil and the outlet in the hour
// it is given off, so with either the rain, infiltration and channel clocks run on.
bool dry_spell_may_be_skipped(const model_state &state);
