// Wells of the well table: placed on their cells once while the groundwater
// inputs are read (load_table_wells, place_wells, find_well), and turned into
// per-cell extraction rates at every groundwater step (apply_well_rates, in the
// groundwater step's own file).
#pragma once

#include <vector>

#include "model/core/arrays.h"

struct model_state;
struct well_record;

// Reads the WELL_TABLE of the mapping-table file and places its wells.
void load_table_wells(model_state &state);

// Copies the first well of `table` with the id to the head of the run's placed
// list, its id replaced by the cell number. A missing id, or a well on a cell
// outside the watershed (cell 0), prints its message with the row and column
// and stores code 4000.
void find_well(model_state &state, const std::vector<well_record> &table, int id, int cell,
               int row, int col);

// Every non-zero id of the well index map, rows and then columns, goes through
// find_well (an error does not stop the scan); the table list is emptied.
void place_wells(model_state &state, std::vector<well_record> &table, const array_2d<int> &index_grid);
