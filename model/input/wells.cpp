// Wells of the well table: placing the wells of the index map on their cells
// while the groundwater inputs are read, and their rates at each groundwater step.
#include "model/input/wells.h"

#include <cstddef>
#include <cstdio>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/index_maps.h"
#include "model/input/surface_inputs.h"
#include "model/core/model_state.h"

void load_table_wells(model_state &s) {
    std::vector<well_record> table;
    array_2d<int> index_grid;
    if (!read_well_table(s, s.mapping_table_name, table, index_grid)) return;
    if (!ensure_cell_array(s.gw_well_rate, s.cell_count)) {
        print_allocation_failure("groundwater well rates");
        raise_printed_error();
        return;
    }
    place_wells(s, table, index_grid);
}

void find_well(model_state &s, const std::vector<well_record> &table, int id, int cell, int row,
               int col) {
    for (const well_record &w : table) {
        if (w.id != id) continue;
        if (cell <= 0) {
            std::printf("Error: A well of the index map (cell [%d,%d]) lies outside the "
                        "watershed mask.\n",
                        row, col);
            raise_printed_error();
            return;
        }
        well_record placed = w;
        placed.id = cell;
        s.placed_wells.insert(s.placed_wells.begin(), placed);
        return;
    }
    std::printf("Error: A well was found in the index map (cell [%d,%d]) that \n  was not found "
                "in the well table.\n",
                row, col);
    raise_printed_error();
}

void place_wells(model_state &s, std::vector<well_record> &table, const array_2d<int> &index_grid) {
    const int rows = s.grid_rows, cols = s.grid_cols;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
            const int id = index_grid(static_cast<std::size_t>(r), static_cast<std::size_t>(c));
            if (id == 0) continue;
            const int cell = s.cell_number_grid(static_cast<std::size_t>(r), static_cast<std::size_t>(c));
            find_well(s, table, id, cell, r, c);
        }
    table.clear();
}
