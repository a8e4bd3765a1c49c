// Questions about the run's options that the readers and the processes both ask;
// answered from the run state's settings.
#include "model/core/run_options.h"

#include "model/core/model_state.h"

bool channel_routing_on(const model_state &s) { return s.chan_explicit != 0; }

bool explicit_overland_code(const model_state &s) { return s.overland_scheme == 1; }

void sync_constituent_slots(model_state &s) {
    model_state::constituent_slot_clocks &c = s.constituent_slots;
    for (process_clock *p :
         {&c.rain, &c.accumulation, &c.release, &c.loss, &c.nutrient, &c.outlet, &c.exchange})
        *p = s.constituent_clock;
    for (process_clock *p : {&c.decay, &c.channel_outlet, &c.groundwater})
        *p = s.channel_constituent_clock;
}
