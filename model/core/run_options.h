// Questions about the run's options that the readers and the processes both ask
// (which processes and schemes the settings switch on), and the constituent slot
// clocks that follow the transport and routing clocks. Answered from the run
// state alone; called from the set-up and from the time-step pieces.
#pragma once

struct model_state;

// Channel routing is on (the explicit scheme; the other schemes are refused by
// the option checks).
bool channel_routing_on(const model_state &state);

// The OVERTYPE code asks for the explicit overland scheme (code 1): the scheme the
// overland step takes on its first call. Before the time loop, when no route is
// chosen yet, this is the answer of explicit_overland_scheme.
bool explicit_overland_code(const model_state &state);

// Copies the overland transport slot into the other overland constituent slots and
// the channel routing slot into the channel ones.
void sync_constituent_slots(model_state &state);
