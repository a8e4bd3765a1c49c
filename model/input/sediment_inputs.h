// The overland sediment inputs of a run: the sediment record (transport form,
// sizes, water temperature and viscosity), the class list, the sediment output
// files, and the SEDIMENTS and SOIL_EROSION_PROPS tables. read_sediment_inputs is
// step 17 of read_input_data (declared in input_readers.h); the erosion and
// sediment transport code reads what it leaves in model_state::sediment.
#pragma once

#include <vector>

#include "model/core/model_state.h"

// Temperatures outside which the viscosity polynomial does not hold (deg C).
inline constexpr double viscosity_fit_low = 0.0, viscosity_fit_high = 40.0;

// Kinematic viscosity of water (m2/s) by the ninth-order polynomial fitted over
// 0..40 deg C; the caller clamps the temperature first.
double water_viscosity_polynomial(double celsius);

// The water temperature the sediment code uses: a negative value is raised to 0,
// one above 40 is lowered to 40 with a warning on the console.
double usable_water_temperature(double celsius, const model_state &state);

// Splits the classes of the SEDIMENTS table (rows 1..count in table order) at
// sand_size (mm): classes with a smaller diameter are wash load and come first,
// then the sand classes, each group in table order. Fills the record's class
// list (entries 1..count) and its counts.
void build_sediment_classes(const array_1d<double> &diameters,
                            const array_1d<double> &specific_gravities,
                            const std::vector<std::string> &output_names, int count,
                            double sand_size, sediment_record &record,
                            const std::vector<std::string> *class_names = nullptr);

// Opens the sediment output files named by the cards, each under its switch;
// code 4 with the file's kind and name when one cannot be opened.
void open_sediment_outputs(model_state &state);
