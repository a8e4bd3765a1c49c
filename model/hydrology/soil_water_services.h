// Services of the later soil-water and meteorology processes that the soil-water
// pieces and the soil set-up call: the Richards step, evapotranspiration, snowmelt,
// the frozen-ground index, channel-lake evaporation and soil-moisture accounting.
#pragma once

struct model_state;
struct sacramento_basin;

// One Richards step of every cell's column over dt seconds; updates the cells'
// cumulative infiltration and returns the water added to the columns (m summed
// over cells).
double richards_step(model_state &state, double dt);

// Potential evapotranspiration of the hour of every cell into potential_et and
// potential_et2 (cm/s), from the hour record hmet_hour.
void compute_evapotranspiration(model_state &state);

// Evapotranspiration of dt seconds taken from ponded water and the root zone of
// every cell (redistribution scheme); the depth removed, m summed over cells.
double soil_et_withdrawal(model_state &state, double dt);

// Snowmelt of dt seconds on every cell's snow store; rain_heat 1 adds the heat of
// the falling rain. 1 when any cell still holds snow.
int snowmelt_energy_balance(model_state &state, double dt, int rain_heat);

// Hourly update of the frozen-ground index of every cell.
void decay_cell_store(model_state &state);

// Hourly evaporation from the channel-network lakes and the update of their extent.
void lake_step(model_state &state);

// One step of soil-moisture accounting of the basin: et_demand (mm) in, the
// evapotranspiration taken out; precipitation (mm); `extra` set to the step's
// further runoff term (mm).
void sacramento_step(sacramento_basin &basin, double &et_demand, double precipitation,
                     double &extra);
