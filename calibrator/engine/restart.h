// The restart file of the GML drivers: everything an interrupted calibration
// needs to resume with "/r", written after every iteration when the control
// file asks for it and read back before the first iteration of a restart.
#pragma once
#include <vector>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// The driver's quantities that the restart file carries, by reference.
struct restart_state {
    double_matrix *jacobian = nullptr;       // (O + R) x A (regularisation: O x A)
    double_matrix *best_jacobian = nullptr;  // same shape
    int *iteration = nullptr;
    double *phi = nullptr;
    double_vector *phi_history = nullptr;    // 1..k, grown by the reader to the file's k
    std::vector<double> *best_values = nullptr;  // 1..parameter_count
    double_vector *best_model_values = nullptr;  // 1..observation_count
    double *best_phi = nullptr;
    int *best_iteration = nullptr;
    int *switched = nullptr;
    double *largest_relative_change = nullptr;
    int *small_change_count = nullptr;
    double *last_relative_change = nullptr;
    double_vector *base_values = nullptr;  // 1..adjustable_count
    int *model_calls = nullptr;
    int jacobian_rows = 0;  // O + R (estimation) or O (regularisation)
};

// Removes the old file and writes the new one. Reals are written so that they
// read back exactly. Status 1 when the file cannot be written.
calib_status write_restart_file(const restart_state &s, const control_data &cd,
                                const file_names &names);
calib_status write_restart_file_regularised(const restart_state &s, const control_data &cd,
                                            const file_names &names);

// Reads the file back into the same places (the partial Jacobian settings and
// the model values, parameter values, group shares and lambda into `cd`). A
// missing file gives status 1 after its message, and so does a file that
// does not hold the described items for this problem.
calib_status read_restart_file(restart_state &s, control_data &cd, const file_names &names);
calib_status read_restart_file_regularised(restart_state &s, control_data &cd,
                                           const file_names &names);
