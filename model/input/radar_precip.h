// Radar rainfall grids: the header and values of a radar grid file (depths per hour
// in inches), the map of watershed cells onto radar cells and the per-cell rain
// rate from the radar values. Called by the precipitation file reader, the
// precipitation set-up and the precipitation pieces.
#pragma once

#include <string>

#include "model/core/arrays.h"

struct model_state;
struct radar_grid;

// Reads the six header lines of a radar grid file; the values array is sized for
// the grid. 0 on success, -1 when the file cannot be opened or read, or its rows,
// columns or cell size are not above 0 (message printed).
int read_radar_grid(radar_grid &radar, const std::string &file_name);

// Model side of the radar grid: rows, columns, cell size, the cell count and the
// west and north edges of the watershed mask's own header; sizes the cell map.
void init_radar_grid(radar_grid &radar, const model_state &state);

// Radar index of every watershed cell. Code 102 (fatal) when a cell centre lies
// outside the radar grid on any side; 0 on success, -1 after an error.
int map_radar_to_cells(radar_grid &radar, const array_2d<int> &cell_grid);

// Reads a radar grid file's values (inches per hour, positive values turned into
// mm/h, others 0). 0 on success, -1 when the file cannot be opened or read or its
// size differs from the radar grid's (the values are then unchanged).
int read_radar_values(radar_grid &radar, const std::string &file_name);

// Rain rate (mm/h) of every cell from its radar cell. 0 on success, -1 (message,
// code 4000) when a cell's radar index lies outside the radar values.
int apply_radar_to_cells(const radar_grid &radar, array_1d<double> &rate);
