// The precipitation file (PRECIP_FILE): one storm event per call, with gauge
// records (RATES, GAGES, ACCUM or RADAR values at point gauges) or a list of radar
// grid files, and its format and date-order checks. Called by the precipitation
// set-up and by the precipitation-event piece.
#pragma once

#include <cstdio>
#include <string>

struct precip_event;
struct radar_grid;

// Results of read_precip_file.
enum precip_read_result : int {
    precip_event_read = 1,
    precip_no_event = 0,        // the file holds no further event
    precip_early_end = -1,      // the file ended inside an event, or a gauge value is unreadable
    precip_format_error = -2,   // a format or data error; message printed, code 4000 stored
};

// Reads the next event from `file` into `event`; `events_found` counts the events
// met so far (raised for every EVENT card). For a radar-file event the header of
// its first grid file is read into `radar`.
int read_precip_file(std::FILE *file, precip_event &event, int &events_found, radar_grid &radar);

// Lower-cased first four characters of a word: the part by which a card of the
// precipitation file is recognised.
std::string precip_card_key(const std::string &word);
