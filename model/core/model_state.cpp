// Construction and destruction of the run-state object and of its member records.
// run_model constructs one model_state per run and destroys it in its clean-up.
#include "model/core/model_state.h"

#include "model/calibration/calibration_services.h"

void init_project_params(project_params &p) { p = project_params{}; }

void init_grid_params(grid_params &g) { g = grid_params{}; }

void init_rain_params(rain_params &r) { r = rain_params{}; }

void init_location_record(erosion_record &e) { e = erosion_record{}; }

void init_soil_layer_record(soil_layer_record &r) { r = soil_layer_record{}; }

model_state::model_state() {
    // Every field has its default from its initialiser; the member records are
    // built by their own constructors. What remains is the one default of a member
    // record that differs from the record's own.
    erosion.settings[4] = 4;
}

// The member tables release themselves (a checked_array that was addressed out of
// range prints its message as it goes); the working arrays were freed before by
// free_model_memory, and whatever is left is freed here.
model_state::~model_state() = default;
