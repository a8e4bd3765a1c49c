// Grid maps of the run: ASCII grids and DRELM maps, the per-time map files and the
// data-set steps of every map interval (write_maps, declared in
// model/output/output_writers.h), and the opening of the grid data sets after the inputs
// are read. The end-of-run report uses the same grid writers for its state files.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "model/core/arrays.h"

struct model_state;

// ASCII grid: six header lines ("ncols", "nrows", the lower-left cell centre, the
// cell size, "NODATA_value -9999.99"), then the rows from the north, "%6.2lf " of
// each cell's value, -9999.99 outside the watershed.
void write_ascii_grid_map(std::FILE *f, int rows, int cols, const array_2d<int> &cells,
                          std::span<const double> values, double north, double south,
                          double east, double west, double cell_size);
// The same grid with the arguments in the order of the DRELM writer; it forwards.
void write_grid_map(std::FILE *f, int rows, int cols, double north, double south, double east,
                    double west, const array_2d<int> &cells, std::span<const double> values,
                    double cell_size);
// The six header lines of a DRELM map ("north:" ... "cols:").
void write_drelm_header(std::FILE *f, int rows, int cols, double north, double south,
                        double east, double west);
// DRELM map, the layout the grid map reader reads: six header lines ("north:" ...
// "cols:"), then per row "%lf " per column, 0 outside the watershed. With
// exact_values each value is written with 17 significant digits ("%.17g "), so
// that reading the map back gives the same doubles.
void write_drelm_map(std::FILE *f, int rows, int cols, double north, double south, double east,
                     double west, const array_2d<int> &cells, std::span<const double> values,
                     bool exact_values = false);

// Per-cell values (N+1 entries) of the depth map: the overland depth, and with
// INCLUDE_CHANNEL_DEPTH the channel depth at a cell that holds a channel node.
std::vector<double> depth_map_with_channels(const model_state &state);
// Per-cell values of the discharge map: the magnitude of the two face discharges
// (m3/s), and with explicit channel routing the channel discharge at a cell that
// holds a channel node.
std::vector<double> discharge_map_values(const model_state &state);

// Concentration of a constituent in a cell's water: mass / (depth x dx^2) when the
// depth exceeds 1e-9 m, else 0.
double water_concentration(double mass, double depth, double cell_size);
// Per-cell values of one nutrient output kind from the species' three per-cell
// arrays: kind 1 the third array, 2 the second, 3 the first, 4 the concentration
// of the third array's mass in the cell's water. Every cell 1..N is covered.
void gather_constituent_values(int kind, std::span<const double> first,
                               std::span<const double> second, std::span<const double> third,
                               std::span<const double> depth, double cell_size, int cell_count,
                               std::vector<double> &out);
// The nutrient species data-set steps of a map step.
void write_concentration_datasets(model_state &state);

// Opens grid output k (0..11) under its card's name into its data-set slot and
// writes its header; a file that cannot be opened sets code 59 with the name. A
// sediment output first closes the stream the sediment inputs opened on its file.
void open_grid_output_file(model_state &state, int k);
// Opens data-set slot `slot` (0..55) under `name` and writes its header with the
// table name of the slot; code 59 on failure.
void open_dataset_slot(model_state &state, int slot, const std::string &name);

// Name of per-time map file `stem` + "." + two-digit counter, inside `directory`
// when one is given; the run prefix of a calibration series goes on the file's
// own name, so the directory stays the one that exists.
std::string per_time_map_name(const char *directory, const char *stem, int counter);
