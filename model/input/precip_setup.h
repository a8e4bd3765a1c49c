// Precipitation set-up and start time: the scan of the meteorological period and of
// the events of the precipitation file, the calibration output file, the HXT event
// summary and selection, then the start time and the first update time of every
// process clock. Called by run_model after the inputs are read.
#pragma once

#include <array>

struct model_state;

// setup_precipitation and setup_start_time are declared in input_services.h.

// Corners of the watershed mask's own header into mask_north .. mask_west: read
// again from the WATERSHED_MASK file (the run's map-header fields hold whatever
// map was read last); the map-header fields are used when the file is not there.
void remember_mask_header(model_state &state);

// A date whose hour is 24 becomes hour 0 of the next day (year, month, day, hour).
void roll_hour_24(std::array<int, 4> &date);

// Number of rain steps of uniform rain: RAIN_DURATION minutes in steps of the rain
// interval (seconds), rounded to the nearest step and at least 1.
int uniform_rain_step_count(double duration_minutes, double rain_interval_seconds);

// A long-term run driven by events: neither groundwater nor continuous
// redistribution keeps the clocks running between events.
bool event_driven_long_term(const model_state &state);
