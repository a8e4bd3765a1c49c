// Index maps and the table readers of the mapping-table file: the index-map grid,
// the assignment of by-id values to watershed cells, the generic table reader and
// the special tables (sediments, soil erosion, wells, wetlands, contaminants).
// Called by the parameter-group readers of the input stage.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "model/core/arrays.h"

struct model_state;
struct wetland_record;

// Where the four corner values of an index-map header are stored (null: dropped).
struct map_corner_targets {
    double *north = nullptr, *south = nullptr, *east = nullptr, *west = nullptr;
};

// Reads an index map (six header lines, then rows x cols integers from the north)
// into index_grid[1..rows][1..cols], keeping a value only where the cell-number
// grid is non-zero. Codes: 72/73/74 size, 71 an id above largest_id (or below 1,
// or below 0 with zero_allowed) at a watershed cell; an unreadable header or value
// and an early end print their message and store 4000. 1 on success, else 0.
int read_index_map_grid(std::FILE *file, const std::string &file_name,
                        const map_corner_targets &header, int rows, int cols,
                        const array_2d<int> &cell_grid, int largest_id,
                        array_2d<int> &index_grid, int zero_allowed);

// target[cell number of (r, c)] = by_id[index - 1] for every watershed cell with a
// non-zero index; the cell number comes from the cell-number grid, so cells keep
// their own values whatever the other cells hold.
void assign_table_values(int rows, int cols, const array_2d<int> &index_grid,
                         const array_2d<int> &cell_grid, const std::vector<double> &by_id,
                         array_1d<double> &target);

// Generic reader of a table of at most six value columns and its index map into
// per-cell targets (declared for the readers in model/input/input_readers.h).
int read_index_map_table(model_state &state, const std::string &table_file, int table_id,
                         const std::array<array_1d<double> *, 6> &targets,
                         int constituent_count, checked_array<double> *precip_conc);

// SEDIMENTS table: per sediment (entries 1..count) its diameter (mm, above 0) and
// specific gravity (above 1) from column 45, an output file name, and with
// `class_names` the words before column 45. 1 when read (count 0 when the table
// has no sediments), 0 after an error (a row with an impossible value is refused
// with its row and file named).
int read_sediment_tables(const std::string &table_file, array_1d<double> &first_values,
                         array_1d<double> &second_values, int &count,
                         std::vector<std::string> &output_names,
                         std::vector<std::string> *class_names = nullptr);

// SOIL_EROSION_PROPS table: eight columns into up to eight per-cell targets and
// column 8 + k into per_sediment[cell][k] (k = 1..sediment_count). Code 91 when its
// NUM_SED differs from the SEDIMENTS count. 1 on success, 0 after an error.
int read_soil_erosion_table(model_state &state, const std::string &table_file,
                            int sediment_count,
                            const std::array<array_1d<double> *, 8> &targets,
                            array_2d<double> *per_sediment);

// One well of the WELL_TABLE: well_record (model/core/model_state.h).
struct well_record;

// WELL_TABLE and its index map: the wells, newest row first, and the index grid
// (0 where no well). 1 on success, 0 after an error.
int read_well_table(model_state &state, const std::string &table_file,
                    std::vector<well_record> &wells, array_2d<int> &index_grid);

// Wetland records 0..count, all zero.
int struct_alloc(int count, std::vector<wetland_record> &records);

// Largest wetland id that a wetland index map may hold.
inline constexpr int max_wetland_id = 300;

// WETLAND_PROPERTIES table (declared for the readers in model/input/input_readers.h).
int read_wetland_table(model_state &state, const std::string &table_file,
                       array_1d<int> &cell_wetland, int &wetland_count,
                       std::vector<wetland_record> &records);

// What read_contaminant_tables fills, one entry per constituent 1..count.
struct contaminant_tables {
    int count = 0;
    std::vector<std::string> descriptions;   // entry 0 unused
    std::vector<std::string> output_files;
    std::vector<std::string> index_files;
    // Per-constituent, per-cell values of the six columns ([i][cell]); a null
    // target is not read. Allocated by the reader.
    std::array<array_2d<double> *, 6> targets{};
};

// CONTAMINANT_TRANSPORT tables; the PRECIP_CONC value of constituent i goes to
// state.precip_conc[i]. 1 on success, 0 after an error (69, 65, 66 or 4000).
int read_contaminant_tables(model_state &state, const std::string &table_file,
                            contaminant_tables &tables);
