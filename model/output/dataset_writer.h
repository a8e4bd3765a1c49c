// Data-set files of the grid outputs: the table of the 56 data-set outputs, the
// ASCII and binary headers, one time step of a grid, and the closing record.
// Used by the map writers every map step and by the end-of-run report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "model/core/arrays.h"

// Number of data-set outputs: 12 grid outputs, 30 overland and 14 channel
// nutrient outputs.
inline constexpr int dataset_output_count = 56;

// Indexes of the grid outputs in the data-set table.
enum grid_output_index : int {
    grid_out_depth = 0,
    grid_out_discharge = 1,
    grid_out_rain = 2,
    grid_out_infiltrated_depth = 3,
    grid_out_infiltration_rate = 4,
    grid_out_surface_moisture = 5,
    grid_out_groundwater_head = 6,
    grid_out_sediment_flux = 7,
    grid_out_sediment_volume = 8,
    grid_out_suspended_sediment = 9,
    grid_out_contaminant = 10,
    grid_out_flood_grid = 11,
};
inline constexpr int grid_output_count = 12;
// First index of the overland nutrient outputs (three per species) and of the
// channel nutrient outputs (two per species).
inline constexpr int overland_nutrient_dataset_base = 12;
inline constexpr int channel_nutrient_dataset_base = 42;

// Table name of data-set output k (0..55), or "" outside the table.
const char *dataset_output_name(int k);
// Object id of data-set output k: 1010 + k.
int dataset_object_id(int k);

// Little-endian writers, one byte at a time.
void put_int32_le(std::FILE *f, std::int32_t value);
void put_int16_le(std::FILE *f, std::int16_t value);
void put_double_le(std::FILE *f, double value);

// Headers of a data set of grid rows x cols with object id and name.
void write_ascii_dataset_header(std::FILE *f, int object_id, int rows, int cols, const char *name);
void write_binary_dataset_header(std::FILE *f, int object_id, int rows, int cols, const char *name);
// The binary header when `binary` is set, else the ASCII one.
void open_dataset_file(std::FILE *f, int binary, int object_id, int rows, int cols,
                       const char *name);

// One time step: the time, one status per grid position (1 inside the watershed,
// 0 outside; rows then columns) and one value per position (the cell's value
// inside, 0 outside). `cells` is the bordered cell-number grid; values are taken
// by cell number, a cell beyond the array giving 0.
void write_dataset_step(std::FILE *f, int rows, int cols, const array_2d<int> &cells,
                        std::span<const double> values, int binary, double time);

// The closing record: "ENDDS\n" in ASCII form, the int32 210 in binary form.
void write_dataset_end(std::FILE *f, int binary);

// Value of cell `cell` of a per-cell array, 0 when the array does not reach it.
inline double cell_value(std::span<const double> values, int cell) {
    return cell > 0 && static_cast<std::size_t>(cell) < values.size()
               ? values[static_cast<std::size_t>(cell)]
               : 0.0;
}
// View of a per-cell array (empty when the array is).
inline std::span<const double> cell_span(const array_1d<double> &a) {
    return a.empty() ? std::span<const double>() : std::span<const double>(a.data(), a.last() + 1);
}
