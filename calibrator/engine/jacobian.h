// Finite-difference Jacobian of the GML drivers: perturbs each adjustable
// parameter (two- or three-point, full or a rotating partial set of columns),
// reruns the model and fills the observation rows of the Jacobian. Called once
// per iteration after the base run.
#pragma once
#include <vector>

#include "calibrator/engine/control_data.h"
#include "calibrator/engine/numeric/nr_arrays.h"

// Derivative form of a parameter: 2 (two-point), 3 (three-point) or 0 when its
// group has no known form (the parameter is then skipped).
int derivative_points(const control_data &cd, const parameter_data &p, int switched);

// Index of the first parameter group named by the parameter's `group`; 0 when none.
int parameter_group_index(const control_data &cd, const parameter_data &p);

// Perturbed stored value of a two-point derivative, and the two values of a
// three-point derivative. The results always lie within the parameter's bounds.
double two_point_perturbation(const parameter_data &p);
void three_point_perturbations(const parameter_data &p, double &p1, double &p2);

// True when this iteration perturbs only a rotating subset of the columns.
bool partial_jacobian_applies(const control_data &cd, int iteration);

// The partial column list (partial_jacobian_columns parameter numbers, 1-based)
// taken cyclically after `cursor`; the cursor becomes the last entry.
std::vector<int> partial_jacobian_column_list(const control_data &cd, int &cursor);

// Model runs the Jacobian will make for `columns` (parameter numbers, 1-based;
// an empty list means every adjustable parameter).
calib_status count_jacobian_runs(const control_data &cd, int switched,
                                 const std::vector<int> &columns, int iteration, int &count);

// Fills rows 1..observation_count of the columns it recomputes; `model_calls`
// counts every run; `cursor` is the partial Jacobian's column cursor kept by
// the driver. Status 1 after the "best_fit" message or a failed model run.
calib_status calculate_jacobian(control_data &cd, const int_vector &adjustable,
                                const file_names &names, double_matrix &jacobian,
                                int &model_calls, int switched, template_file_table &templates,
                                instruction_file_table &instructions, int iteration,
                                int &cursor);
