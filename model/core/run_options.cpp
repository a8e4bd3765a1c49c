// Questions about the run's options that the readers and the processes both ask;
// answered from the run state's settings.
#include "model/core/run_options.h"

#include "model/core/model_state.h"

bool channel_routing_on(const model_state &s) { return s.chan_explicit != 0; }

bool explicit_overland_code(const model_state &s) { return s.overland_scheme == 1; }
