// The event summary: at the end of every event a plain-text report appended to the
// summary file (timing, water balance with the mass-conservation error, warnings,
// inputs read, processes simulated, outputs written). Called by finish_event; it
// only reads the run state.
#pragma once

struct model_state;

// Appends the summary of the event that has just ended to the SUMMARY file
// (nothing when the file is not open or the summary switch is off).
void write_event_summary(model_state &state);

// The contaminant and sediment blocks of the summary (model/output/contaminant_summaries.cpp);
// after the contaminant blocks the next event's constituent account starts.
void write_transport_event_summary(model_state &state);
