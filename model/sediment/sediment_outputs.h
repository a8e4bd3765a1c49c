// Sediment outputs and bookkeeping of the events: the outlet sediment line and
// the sediment hydrograph line of every hydrograph step (write_time_series), the
// event-start marks (init_event) and the sediment half of the event summary.
// The outlet and flux line writers are declared in model/output/hydrographs.h.
#pragma once

#include <cstdio>

struct model_state;

// Loose plus suspended soil of class k over every cell (m3).
double overland_soil_volume(const model_state &state, int k);

// At the start of an event: the erodible beds back to their bed elevation and
// the marks from which the event summary takes the event's share.
void start_sediment_event(model_state &state);

// The sediment blocks of the event summary, into the summary file.
void write_sediment_event_summary(model_state &state, std::FILE *file);
