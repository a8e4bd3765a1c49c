// Constituents of the channel lakes: the lake source terms drawn from their
// accumulators, the exchange with the aquifer under the lakes, the rain-borne
// mass, and the lake update of each accepted sub-step of the channel routing.
#pragma once

struct model_state;
struct channel_network;

// Lake of a lake link (type 4) or of a link a lake took over (type 44); 0 for
// any other link or a lake number outside the network's lakes.
int lake_of_link(const channel_network &net, int l);
// Channel lakes carry constituents in this run.
bool lake_constituents_on(const model_state &state);

// Net source rate of lake j for constituent k over an interval of dt seconds,
// drawn from the lake's accumulators into the step terms.
double lake_mass_sources(model_state &state, int k, int j, double dt);
// Mass exchanged between the lakes and the aquifer for constituent k, from the
// accumulated exchange volume of each lake cell; the last constituent clears it.
void lake_gw_mass_exchange(model_state &state, int k);
// Rain-borne mass of every lake for constituent k from the rain volume gathered
// since the last routing (the caller clears that volume after the last constituent).
void lake_rain_mass(model_state &state, int k);
// Lake masses and concentrations after an accepted sub-step of h seconds: the
// mass the faces carried in and out, and the source rate.
void lake_wq_update(model_state &state, int k, double h);
// Moves the mass of the nodes a lake took over since the last routing into the
// lake, and gives the nodes it gave back the lake's concentration.
void lake_node_handover(model_state &state);
// Channel and lake masses now (before /1000), per constituent k.
double channel_constituent_mass(const model_state &state, int k);
double lake_constituent_mass(const model_state &state, int k);

// Mass of constituent k held by the overland lakes (g).
double overland_lake_constituent_mass(const model_state &state, int k);
