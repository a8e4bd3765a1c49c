// The soil-water, meteorology and soil-moisture accounting pieces of the time loop
// (steps 7 to 10 of a turn): step_infiltration, step_longterm_hydromet,
// step_sacramento and step_evapotranspiration (declared in hydrology_services.h).
// Each acts only when its process clock is due. The helpers below are shared
// with the tests.
#pragma once

#include "model/hydrology/green_ampt.h"
#include "model/core/model_state.h"

// The kernels that the infiltration settings choose, in the order they run:
// redistribution alone, or Green and Ampt and then the layered soil kernel. The
// Richards step is called apart (it returns its volume). Chosen once per call of
// the set-up; a kernel count of 0 leaves only the Richards step.
struct infiltration_kernels {
    infiltration_kernel run[2] = {nullptr, nullptr};
    int count = 0;
};
infiltration_kernels choose_infiltration_kernels(const model_state &state);

// Soil moisture of a cell for the hourly lines: the root-zone water over its depth
// (redistribution; porosity when the root zone has no depth), the root-zone
// moisture of the Richards column, the moisture Green and Ampt started from, or
// the moisture state of the layered soil.
double cell_soil_moisture(const model_state &state, int cell);

// Adds each cell's infiltration since the last booking (cumulative minus
// previous infiltration) to the run, event and hour totals.
void book_infiltration(model_state &state);

// The basin average of cell_soil_moisture (fraction): the soil water content of
// the scheme in force as it stands now.
double basin_soil_moisture(const model_state &state);

// Water held in the soil now (m3), per infiltration scheme; with the Richards
// columns over the aquifer, the exchange the aquifer has still to take counts
// with the columns.
double final_soil_water(const model_state &state);

// Hands the infiltration that the soil-moisture accounting has not yet taken to its
// stores at once (the end of an event), so that every infiltrated m3 reaches them.
void hand_pending_infiltration_to_sacramento(model_state &state);
