// Richards' equation in the soil columns of the Richards scheme: the tridiagonal
// solver (shared with the groundwater solver), the profile of a column above the
// water table (groundwater coupling) and the water a column holds. The step itself,
// richards_step, is declared in soil_water_services.h, where the infiltration piece
// and the event start find it.
#pragma once

#include "model/core/soil_rows.h"

// Thomas algorithm on rows 1..n of 1-based arrays (entry 0 unused): forward
// elimination from row 2, then back substitution from row n. The solution
// replaces rhs; diag is overwritten (by the pivots' inverses); sub[1] and super[n] are
// not read. Result 0,
// or the row whose pivot is zero, not a number, or below 1e-13 of its row's
// diagonal (the solution is then unusable).
int solve_tridiagonal(int n, const double *sub, double *diag, const double *super, double *rhs);
// The same system eliminated from both ends at once towards the middle row (two
// chains of divisions side by side; the Richards columns use it). The same
// arguments and checks; result 0 or the row of a pivot that fails.
int solve_column(int n, const double *sub, double *diag, const double *super, double *rhs);

// Water of cell `cell`'s column: moisture times thickness over nodes 1..n-1 (cm).
double richards_column_water(const model_state &state, int cell);
// Water in every cell's Richards column (m3).
double column_water_volume(const model_state &state);

// Lays every cell's column from the surface down to its water table, for the
// groundwater coupling. Cells of groundwater boundary code 2 or 5 are left and
// get an exchange depth of 0. A cell whose water table is at or above the ground
// becomes one saturated node of the layer-1 spacing with head 0.5 dz + (water
// table - ground) x 100 (cm), no-column flag set. Otherwise the column is laid
// as lay_column_to_table says; nodes above the old bottom node keep
// their heads and moistures, new ones take the hydrostatic head (water table -
// node centre) x 100 and its moisture, the bottom node head 0. unsat_exchange_depth[cell] becomes the
// column water before minus after (cm; positive: water the column gave up).
void unsat_profile_above_water_table(model_state &state);
void unsat_profile_cell(model_state &state, int cell);
