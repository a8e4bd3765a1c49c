// The saturated zone under the grid: one unconfined aquifer layer whose state is
// the water-table elevation of every cell. The groundwater piece calls
// groundwater_step (declared in hydrology_services.h) once per groundwater step;
// the step solves the implicit two-dimensional flow equation by Picard iteration
// around the line relaxation below. Lakes and tile drains read the same heads.
#pragma once

struct model_state;

// Sweeps allowed to one line-relaxation solve before it is stopped as failing.
inline constexpr int gw_sweep_cap = 10000;
// Saturated thickness (m) below which a cell counts as dry: no leakage, no
// extraction, transmissivity of this thickness, and the floor of every head.
inline constexpr double gw_min_thickness = 0.001;
// Largest head change (m) of a Picard iteration that counts as converged.
inline constexpr double gw_picard_threshold = 0.001;

// Line successive over-relaxation on the water-table elevations over a sub-step
// of dts seconds with the coefficients of the run state: gw_coef_right and
// gw_coef_down, each face's coefficient stored once at the cell left of or above
// it (the face is the same seen from both cells; a fixed-head cell, code 2 or 5,
// takes none); each line forms its cells' diagonals and right sides from the
// faces, the storage coefficients, the net sinks and the sub-step's start heads
// gw_substep_head (a fixed-head cell holds its start head): row sweeps when gw_lsor_dir
// is 1, column sweeps otherwise; lines in forward order for direction 1, backward
// otherwise. Each line's cells are solved together by the tridiagonal solver and
// relaxed by gw_relax_coeff; the sweeps repeat until the largest change before
// relaxation is below gw_lsor_con. Result: the sweeps made, or -1 after a failure
// (a change that is not a number, a singular line, the sweep cap; code 4000).
int groundwater_solve_2d(model_state &state, int direction, double dts);

// Storage coefficient of cell i of a redistribution run for a water table at
// `table` (m): 1 at or above the ground, the soil's saturated moisture within the
// soil-moisture depth, the aquifer porosity below it; `problem` is set when the
// value was not positive and the aquifer porosity stands in for it.
double redistribution_storage(const model_state &state, int cell, double table, bool &problem);

// Water (m3) the aquifer of cell i holds below a table at `table`: the storage
// coefficient the solve gives its head changes, taken over the saturated
// thickness (with Richards columns, whose coefficient follows the soil's state,
// and at fixed heads, the aquifer porosity).
double aquifer_water_below(const model_state &state, int cell, double table);
// The table of cell i after `volume` m3 are taken from below a table at `table`
// (no lower than the aquifer bottom).
double table_after_taking(const model_state &state, int cell, double table, double volume);
// The water of the whole aquifer from its water table (m3).
double aquifer_water_from_table(const model_state &state);

// Storage coefficient of a coupled cell from its soil column, for the head change
// since the start of the sub-step (rising: the nodes the table entered; falling:
// the nodes below it).
void layer_value_at_water_table(model_state &state, int cell);

// Rate of every placed well's cell (m/s; positive extracts): the constant rate or
// the series value at `now` (days), over dx x dx. Other cells keep their rate.
void apply_well_rates(model_state &state, double now, double dx);
