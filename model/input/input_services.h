// Set-up steps of the input readers that run_model calls, in its order: read every
// input named by the project file, build cell connectivity and slopes, set up the
// precipitation and the start time, and convert constituent units.
#pragma once

struct model_state;

// Reads every map, table and network of the run into the run state.
void read_input_data(model_state &state);
// Neighbour tables of every watershed cell.
void build_cell_connectivity(model_state &state);
// Ground slopes of every cell.
void compute_cell_slopes(model_state &state);
// Event count and precipitation inputs.
void setup_precipitation(model_state &state);
// Start time and the process clocks.
void setup_start_time(model_state &state);
// Constituent concentrations into the units of the transport steps.
void convert_constituent_units(model_state &state);
