// The readers that read_input_data calls, in the order it calls them, and the
// table and list readers that those readers share. Each takes the run state,
// reports through error_record and returns nothing the driver uses.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "model/core/arrays.h"
#include "model/core/cell_arrays.h"

struct model_state;
struct lowspot_record;
struct wetland_record;

// Echo of a reader: the line goes to the console unless `quiet` is set or the
// process rank is not 0, and always into the summary file.
void echo_input(const model_state &state, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
// A console line of a reader, under the same rule, not into the summary file.
void echo_console(const model_state &state, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
// A line into one open file only (nothing when it is null): the summary file or
// the nutrient log.
void echo_file(std::FILE *file, const char *format, ...) __attribute__((format(printf, 2, 3)));

// ---- watershed mask, networks and grid-wide arrays (steps 2 to 9) ----
// WATERSHED_MASK into the cell-number grid, grid-size checks, cell numbering.
void read_watershed_mask(model_state &state);
// Pipe-network and grid-pipe files; junction and node cells (pipe network only).
void read_tile_drain_network(model_state &state);
// ELEVATION into the per-cell elevations and the outlet cell.
void read_elevation(model_state &state);
// Every per-cell array the chosen options need, zeroed with N+1 entries. The
// arrays of the later processes are allocated through the hooks below.
void allocate_cell_arrays(model_state &state);
// DIKE_MAP into the per-cell dike codes, then the LOWSPOT_FILE.
void read_dike_map(model_state &state);
// Wetland ids and properties (wetlands only).
void setup_wetlands(model_state &state);
// OV_BOUNDARY map with the OVERLAND_BOUNDARY table (OV_BOUNDARY card only).
void read_overland_boundary(model_state &state);

// Per-cell arrays of the later processes, called by allocate_cell_arrays; each
// allocates only what its switches need (nothing when its feature is off).
void allocate_soil_cell_arrays(model_state &state);        // soil parameters, infiltration schemes, area reduction
void allocate_groundwater_cell_arrays(model_state &state); // groundwater
void allocate_sacramento_cell_arrays(model_state &state);  // Sacramento accounting
void allocate_channel_cell_arrays(model_state &state);     // channel routing and channel sediment
void allocate_longterm_cell_arrays(model_state &state);    // long-term mode
void allocate_exchange_cell_arrays(model_state &state);    // vegetation-model exchange
void allocate_lake_cell_arrays(model_state &state);        // overland and channel lakes
// (The overland-lake update's work storage, which the lake hook makes, is
// declared in model/core/cell_arrays.h.)

// ---- soils, stores and surfaces (steps 10 to 16) ----
// Soil parameters; calls area reduction, ET parameters, water table, Richards soil.
void read_soil_parameters(model_state &state);
void read_groundwater_inputs(model_state &state);
void open_sacramento_input(model_state &state);
void read_interception(model_state &state);
void read_overland_lakes(model_state &state);
void read_retention(model_state &state);
void read_roughness(model_state &state);

// ---- sediments, constituents, locations and hotstart (steps 17 to 22) ----
// Sediment record and tables; opens the sediment outputs itself.
void read_sediment_inputs(model_state &state);
void read_contaminant_inputs(model_state &state);
void read_theta_locations(model_state &state);
void read_overland_hotstart(model_state &state);

// ---- nutrients (step 23) ----
void read_aquatic_env_file(const std::string &file_name, model_state &state);
// The ten overland species sets over the run's cells (depth array and dx).
void setup_overland_nutrients(model_state &state);
void assign_grid_constituent_params(model_state &state);
// Sizes the per-constituent per-cell arrays to `count` rows of cell_count+1 entries.
void allocate_constituent_arrays(int count, model_state &state, int cell_count, int mode);

// ---- channels and point output (steps 24 and 25) ----
// Channel input file and its set-up; nothing without a channel input.
void setup_channels(model_state &state);

// ---- shared table and list readers ----
// Generic mapping-table reader: table `table_id` of the mapping-table file and
// the index map it names; value column j goes to *targets[j] (per-cell, N+1
// entries; null for an unwanted column). Header values go to the run state's map
// header fields; rows, cols and the cell-number grid are the run's. With a
// constituent count above 0 and a PRECIP_CONC target, the PRECIP_CONC line is
// read into it. 1 on success, 0 after an error (stored in error_record).
int read_index_map_table(model_state &state, const std::string &table_file, int table_id,
                         const std::array<array_1d<double> *, 6> &targets,
                         int constituent_count = 0, checked_array<double> *precip_conc = nullptr);

// WETLAND_PROPERTIES table and its index map: wetland records 0..largest index,
// the per-cell wetland number (cell_wetland, N+1 entries, allocated by the caller)
// and the wetland count. 1 on success, 0 after an error (stored in error_record).
int read_wetland_table(model_state &state, const std::string &table_file,
                       array_1d<int> &cell_wetland, int &wetland_count,
                       std::vector<wetland_record> &records);

// Low-spot file (open, closed by the caller): records 1..count in file order
// (entry 0 unused). Failures print their message and store code 4000.
void read_lowspot_file(std::FILE *file, const std::string &file_name,
                       std::vector<lowspot_record> &spots, int &count);
