// Soil and vegetation inputs of the infiltration schemes: per-cell soil parameters
// from maps or the GREEN_AMPT_INFILTRATION table, area reduction, ET parameters,
// initial moisture and deficit, water table and aquifer bottom, the Richards soil
// set-up and the three-layer soil table. Step 10 of the input driver.
#pragma once

#include <cstdio>
#include <string>

#include "model/core/arrays.h"
#include "model/core/model_state.h"

// read_soil_parameters, read_area_reduction, read_et_parameters, read_water_table
// and setup_richards_soil take the run state (declared in input_readers.h where the
// driver calls them; the last four are called by read_soil_parameters).
void read_area_reduction(model_state &state);
void read_et_parameters(model_state &state);
void read_water_table(model_state &state);
void setup_richards_soil(model_state &state);

// True when one of the infiltration schemes is chosen.
bool infiltration_scheme_on(const model_state &state);

// Three-layer soil table: two integers (entries, unused), then per entry the soil
// index and three layer lines of 5, 5 and 4 values (conductivity, capillary head,
// porosity, initial moisture, depth) placed in row `index` of soil_layers. A value
// that is not a number leaves its field. A soil index outside 1..150 or a negative
// entry count prints a message and stores code 4000. `file_name` names the file in
// messages.
void read_soil_layer_table(std::FILE *file, const std::string &file_name, model_state &state);

// Keeps a uniform initial moisture inside each cell's bounds: out[i] = value; with
// L and U the cell's lower and upper bound (mode 1: cell_lower[i], cell_upper[i];
// otherwise class_lower[k], class_upper[k] of the cell's soil class k), a value
// below L becomes L + 0.01, and then one above U becomes U - 0.01. Class arrays
// have soil_layer_rows entries; a class outside them keeps the value.
void bound_initial_level(int cells, array_1d<double> &out, const double *class_upper,
                         const double *class_lower, const array_1d<int> &soil_class,
                         const array_1d<double> &cell_lower, const array_1d<double> &cell_upper,
                         int mode, double value);

// Sets up every Richards cell's column from its soil row and prints the initial
// water of the root zone and the column (m3) into the summary file.
void initial_soil_water(model_state &state);
