// The end of an event: the final volumes and the mass balance of the event, the
// event summary, and in calibration runs the event's peak and volume lines and
// record. finish_event (declared in hydrology_services.h) is piece 25 of every
// turn and is also called by read_precip_event to close a long-term event.
#pragma once

struct model_state;

// The storages as they stand now (overland, lakes, channels, snow, soil,
// groundwater) into the final volumes; also taken when a long-term run ends
// after its last event.
void form_final_volumes(model_state &state);

// The final storages of the event (overland, lakes, snow, soil, groundwater) and
// its mass balance: inputs with the original storage, outputs with the final
// storage, and the relative error (-1 without rainfall). Part of finish_event.
void form_event_balance(model_state &state);
