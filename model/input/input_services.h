// Set-up steps of the input readers that run_model calls, in its order: read every
// input named by the project file, build cell connectivity and slopes, set up the
// precipitation and the start time, and convert constituent units.
#pragma once

#include <array>
#include <string>

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
// Constituent concentrations into the units of the transport steps; the initial
// masses are also the marks from which the first event's summary starts.
void convert_constituent_units(model_state &state);
// Whether cell i holds a channel node, so that its water (and what the water
// carries) is the channel network's.
bool constituent_stream_cell(const model_state &state, int i);
// Frees the per-cell arrays that only the set-up needs (the second elevation array,
// the "data" grid, the previous constituent depths without constituents, the bed
// slopes unless evapotranspiration, erosion or the explicit scheme keeps them)
// and, under uniform rain that no cell
// changes, keeps one rain rate for all cells instead of the per-cell rates.
void release_setup_arrays(model_state &state);

// Presence flags of the table kinds that a mapping-table file holds (slots as in
// model_state::table_present); code 64 when the file cannot be opened.
void scan_index_map_tables(const std::string &file_name, std::array<int, 21> &table_present,
                           int zarn_mode);
// Presence flags of the kinds that a stream mapping-table file holds.
void scan_stream_index_map_tables(const std::string &file_name,
                                  std::array<int, 6> &stream_table_present);
// File name of the index map that the Richards table of a form (1 Brooks, 2
// Havercamp) names in a mapping-table file; empty when there is none.
void find_richards_index_map(const std::string &file_name, int form, std::string &map_name);
// Display name of nutrient species k (0..12).
const char *qvl_species_name(int k);
