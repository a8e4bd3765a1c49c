// The Sacramento parameter file (one basin record of capacities, rates and start
// contents) and the topographic index of every watershed cell that weighs the
// accounting's output over the channel cells. open_sacramento_input calls the
// reader once per run, before the channel set-up.
#pragma once

#include <cstdio>
#include <string>

#include "model/core/arrays.h"

struct model_state;
struct sacramento_basin;

// Card numbers of sacramento_card_lookup: the 16 parameters in file-table order,
// then NUM_BASINS, BASIN, SAVED and any other word.
enum sacramento_card : int {
    sac_card_header = 0,
    sac_card_uztwm = 1,
    sac_card_lzfpc = 16,
    sac_card_num_basins = 17,
    sac_card_basin = 18,
    sac_card_saved = 19,
    sac_card_other = 20,
};

// Card number of the line's first word, lower-cased and compared whole; the word
// is removed from the line so that the value is the next token. An empty line is
// sac_card_other.
int sacramento_card_lookup(std::string &line);

// Reads the open parameter file into `basin`: header, the 17 parameter cards
// (each once), the clamps of contents and rates with their warnings and the start
// contents as depths (mm). num_basins receives the NUM_BASINS value (1 without
// the card). Messages go to the error stream, naming `file_name`; a failure
// stores code 4000. A capacity must lie above 0 and at most 10000 mm.
void read_sacramento_basin(std::FILE *file, sacramento_basin &basin, int &num_basins,
                           const std::string &file_name = "");

// The topographic index of every position of a grid of rows x cols cells of size
// dx, on work grids [0..rows][0..cols]: elev holds the elevations, topo is -1.0 at
// every watershed position to compute (0.0 elsewhere), area starts at dx * dx.
// cells is the cell-number grid (0 outside the watershed), m the number of
// watershed positions. Fills topo and accumulates area; the number of passes
// taken, or 0 when more than max_passes would be needed.
int topographic_index_passes(const array_2d<double> &elev, const array_2d<int> &cells,
                             array_2d<double> &topo, array_2d<double> &area, int rows, int cols,
                             double dx, int m, int max_passes);

// The topographic index of every watershed cell into topo_index (N+1 entries,
// cell numbers from cell_number_grid) from the per-cell elevations. More than
// 1000 passes or a negative index stop the run (code 4000, reported).
void topodex(const array_1d<double> &elevation, const array_2d<int> &cell_number_grid,
             array_1d<double> &topo_index, int rows, int cols, double dx);
