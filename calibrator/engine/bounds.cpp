// Bounds and freezing of one lambda trial: the upgrade is applied, cut at the
// bounds, parameters pushed out from a bound they sat on are frozen and the
// upgrade of the rest recomputed, then tied parameters follow their parents.
// Called by the GML drivers after the upgrade of each trial.
#include "calibrator/engine/bounds.h"

#include <cmath>
#include <vector>

#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/reports.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/upgrade.h"

namespace {

// The matrices of one call; `regularised` selects the twin's upgrade and gradient.
struct freeze_problem {
    bool regularised = false;
    const double_matrix *jacobian = nullptr;
    const double_matrix *prior = nullptr;
    const double_vector *weights = nullptr;        // estimation rows, or the observations
    const double_vector *prior_weights = nullptr;  // regularisation only
    std::vector<double> prior_values;              // prior matrix times the start values
    int rows = 0;
};

enum class freeze_kind { gradient_and_update, update_only };

void freeze_message(std::FILE *record, const parameter_data &par, freeze_kind kind) {
    if (kind == freeze_kind::gradient_and_update) {
        report_both(record, "      parameter \"%s\" frozen: gradient and update vectors out of bounds\n",
                    par.name.c_str());
    } else {
        report_both(record, "      parameter \"%s\" frozen: update vectors out of bounds\n",
                    par.name.c_str());
    }
}

// Entry `column` of the steepest-descent vector 2 J' Q r.
double gradient_entry(const freeze_problem &fp, const control_data &cd, int column) {
    const int o = cd.observation_count;
    const double_matrix &j = *fp.jacobian;
    const double_vector &q = *fp.weights;
    double g = 0.0;
    if (!fp.regularised) {
        for (int k = 1; k <= fp.rows; ++k) {
            const double r = k <= o ? cd.observations[k].measured - cd.observations[k].model_value[0]
                                    : cd.prior_information[k - o].prior_value - fp.prior_values[k - o];
            g += j(k, column) * q[k] * r;
        }
        return 2.0 * g;
    }
    for (int k = 1; k <= o; ++k) {
        g += j(k, column) * q[k] * (cd.observations[k].measured - cd.observations[k].model_value[0]);
    }
    double gp = 0.0;
    if (cd.prior_count > 0 && !fp.prior->empty()) {
        // Prior residuals at the current values, for equations of an observation group.
        for (int e = 1; e <= cd.prior_count; ++e) {
            const prior_information_data &pi = cd.prior_information[e];
            bool in_group = false;
            for (int g2 = 1; g2 <= cd.observation_group_count && !in_group; ++g2) {
                in_group = cd.observation_groups[g2].group_name == pi.group;
            }
            if (!in_group) continue;
            double y = 0.0;
            int col = 0;
            for (int p = 1; p <= cd.parameter_count; ++p) {
                int kind = 0;
                parameter_kind(cd, p, kind);
                if (kind != 0) continue;
                ++col;
                y += (*fp.prior)(e, col) * cd.parameters[p].value;
            }
            gp += (*fp.prior)(e, column) * (*fp.prior_weights)[e] * (pi.prior_value - y);
        }
    }
    return 2.0 * g + 2.0 * cd.weight_factor * cd.weight_factor * gp;
}

// Upgrade over the adjustable parameters for which `free_column` holds (after
// `left_out_b` and `left_out_c` are left out), spread into `upgrade` with 0
// for the others.
void reduced_upgrade(const freeze_problem &fp, control_data &cd, const int_vector &adjustable,
                     const std::vector<bool> &free_column, int left_out_b, int left_out_c,
                     double_vector &upgrade) {
    const int a_count = cd.adjustable_count;
    std::vector<int> columns;
    for (int c = 1; c <= a_count; ++c) {
        if (free_column[c]) columns.push_back(c);
    }
    const int n = static_cast<int>(columns.size());
    for (int c = 1; c <= a_count; ++c) {
        if (!free_column[c]) upgrade[c] = 0.0;
    }
    if (n < 1) return;
    const double_matrix &j = *fp.jacobian;
    double_matrix reduced = dmatrix(1, fp.rows, 1, n);
    for (int k = 1; k <= fp.rows; ++k) {
        for (int m = 1; m <= n; ++m) reduced(k, m) = j(k, columns[m - 1]);
    }
    double_vector u = dvector(1, n);
    if (!fp.regularised) {
        const int r = cd.prior_count;
        double_vector prior_values = dvector(1, r > 0 ? r : 1);
        for (int e = 1; e <= r; ++e) prior_values[e] = fp.prior_values[e];
        upgrade_vector_subset(reduced, prior_values, fp.rows, n, *fp.weights, cd, u);
        optimum_upgrade_length_frozen(reduced, prior_values, *fp.weights, cd, u, n);
        free_dvector(prior_values, 1, r > 0 ? r : 1);
    } else {
        const int r = cd.prior_count;
        double_matrix reduced_prior;
        if (r > 0 && !fp.prior->empty()) {
            reduced_prior = dmatrix(1, r, 1, n);
            for (int e = 1; e <= r; ++e) {
                for (int m = 1; m <= n; ++m) reduced_prior(e, m) = (*fp.prior)(e, columns[m - 1]);
            }
        }
        double_vector values = dvector(1, n);
        for (int m = 1; m <= n; ++m) values[m] = cd.parameters[adjustable[columns[m - 1]]].value;
        upgrade_vector_subset_regularised(reduced, *fp.weights, reduced_prior, *fp.prior_weights, cd,
                                          u, cd.observation_count, r, left_out_b, left_out_c, values);
        free_dvector(values, 1, n);
        if (!reduced_prior.empty()) free_dmatrix(reduced_prior, 1, r, 1, n);
    }
    for (int m = 1; m <= n; ++m) upgrade[columns[m - 1]] = u[m];
    free_dvector(u, 1, n);
    free_dmatrix(reduced, 1, fp.rows, 1, n);
}

// Steps 3.1 to 3.3: add u, clear at-bound flags left behind, cut at a new bound.
void apply_and_cut(parameter_data &par, double &u) {
    par.value += u;
    if (par.upper_bound > par.value && par.at_upper_bound == 1) par.at_upper_bound = 0;
    if (par.lower_bound < par.value && par.at_lower_bound == 1) par.at_lower_bound = 0;
    if (par.upper_bound < par.value && par.at_upper_bound == 0) {
        u -= par.value - par.upper_bound;
        par.value = par.upper_bound;
        par.at_upper_bound = 1;
    }
    if (par.lower_bound > par.value && par.at_lower_bound == 0) {
        u += par.lower_bound - par.value;
        par.value = par.lower_bound;
        par.at_lower_bound = 1;
    }
}

void freeze(control_data &cd, parameter_data &par, std::FILE *record, freeze_kind kind,
            int *newly_frozen) {
    if (par.frozen == 1) return;
    par.frozen = 1;
    ++cd.frozen_count;
    if (newly_frozen != nullptr) ++*newly_frozen;
    freeze_message(record, par, kind);
}

calib_status limit_and_freeze_common(freeze_problem &fp, control_data &cd, double_vector &upgrade,
                                     const int_vector &adjustable, std::FILE *record) {
    const int a_count = cd.adjustable_count;
    // Step 1: start values and the prior values at them.
    std::vector<double> start(static_cast<std::size_t>(a_count) + 1, 0.0);
    for (int c = 1; c <= a_count; ++c) start[c] = cd.parameters[adjustable[c]].value;
    fp.prior_values.assign(static_cast<std::size_t>(cd.prior_count) + 1, 0.0);
    if (!fp.regularised && cd.prior_count > 0 && !fp.prior->empty()) {
        for (int e = 1; e <= cd.prior_count; ++e) {
            double y = 0.0;
            for (int c = 1; c <= a_count; ++c) y += (*fp.prior)(e, c) * start[c];
            fp.prior_values[e] = y;
        }
    }

    // Step 2: parameters without effect are left out of the first upgrade.
    if (cd.frozen_for_upgrade_count > 0) {
        std::vector<bool> free_column(static_cast<std::size_t>(a_count) + 1, false);
        for (int c = 1; c <= a_count; ++c) {
            free_column[c] = cd.parameters[adjustable[c]].frozen_for_upgrade != 1;
        }
        reduced_upgrade(fp, cd, adjustable, free_column, cd.frozen_for_upgrade_count, 0, upgrade);
    }

    // Step 3: apply.
    for (int c = 1; c <= a_count; ++c) {
        parameter_data &par = cd.parameters[adjustable[c]];
        if (par.frozen != 0) continue;
        double u = upgrade[c];
        apply_and_cut(par, u);
        if (par.upper_bound < par.value && par.at_upper_bound == 1) {
            const double gradient_step = par.value - u + gradient_entry(fp, cd, c);
            if (gradient_step > par.upper_bound) {
                par.value = par.upper_bound;
                freeze(cd, par, record, freeze_kind::gradient_and_update, nullptr);
            }
        }
        if (par.lower_bound > par.value && par.at_lower_bound == 1) {
            const double gradient_step = par.value - u + gradient_entry(fp, cd, c);
            if (gradient_step < par.lower_bound) {
                par.value = par.lower_bound;
                freeze(cd, par, record, freeze_kind::gradient_and_update, nullptr);
            }
        }
        upgrade[c] = u;
    }

    // Step 4: with nothing frozen yet, a parameter pushed out from its bound freezes.
    if (cd.frozen_count == 0) {
        for (int c = 1; c <= a_count; ++c) {
            parameter_data &par = cd.parameters[adjustable[c]];
            if (par.upper_bound < par.value && std::fabs(par.value - par.upper_bound) > 1e-8 &&
                par.at_upper_bound == 1) {
                par.value = par.upper_bound;
                freeze(cd, par, record, freeze_kind::update_only, nullptr);
            }
            if (par.lower_bound > par.value && std::fabs(par.value - par.lower_bound) > 1e-8 &&
                par.at_lower_bound == 1) {
                par.value = par.lower_bound;
                freeze(cd, par, record, freeze_kind::update_only, nullptr);
            }
        }
    }

    // Step 5: recompute the upgrade of the parameters still free.
    if (cd.frozen_count > 0 && cd.frozen_count + cd.frozen_for_upgrade_count < a_count) {
        int newly_frozen = 0;
        do {
            newly_frozen = 0;
            std::vector<bool> free_column(static_cast<std::size_t>(a_count) + 1, false);
            for (int c = 1; c <= a_count; ++c) {
                parameter_data &par = cd.parameters[adjustable[c]];
                if (par.frozen != 0 || par.frozen_for_upgrade != 0) continue;
                free_column[c] = true;
                par.value -= upgrade[c];
                par.at_upper_bound = (par.upper_bound <= par.value ||
                                      std::fabs(par.value - par.upper_bound) < 1e-8) ? 1 : 0;
                par.at_lower_bound = (par.lower_bound >= par.value ||
                                      std::fabs(par.value - par.lower_bound) < 1e-8) ? 1 : 0;
            }
            reduced_upgrade(fp, cd, adjustable, free_column, cd.frozen_for_upgrade_count,
                            cd.frozen_count, upgrade);
            for (int c = 1; c <= a_count; ++c) {
                parameter_data &par = cd.parameters[adjustable[c]];
                if (!free_column[c]) {
                    upgrade[c] = 0.0;
                    continue;
                }
                double u = upgrade[c];
                apply_and_cut(par, u);
                if (par.upper_bound < par.value && par.at_upper_bound == 1) {
                    const double gradient_step = par.value - u + gradient_entry(fp, cd, c);
                    const freeze_kind kind = gradient_step > par.upper_bound
                                                 ? freeze_kind::gradient_and_update
                                                 : freeze_kind::update_only;
                    u = 0.0;
                    par.value = par.upper_bound;
                    freeze(cd, par, record, kind, &newly_frozen);
                }
                if (par.lower_bound > par.value && par.at_lower_bound == 1) {
                    const double gradient_step = par.value - u + gradient_entry(fp, cd, c);
                    const freeze_kind kind = gradient_step < par.lower_bound
                                                 ? freeze_kind::gradient_and_update
                                                 : freeze_kind::update_only;
                    u = 0.0;
                    par.value = par.lower_bound;
                    freeze(cd, par, record, kind, &newly_frozen);
                }
                upgrade[c] = u;
            }
        } while (newly_frozen > 0 && cd.frozen_count < a_count &&
                 cd.frozen_count + cd.frozen_for_upgrade_count < a_count);
    }

    // Step 6: final cut of the free parameters that sit outside a bound they were on.
    for (int c = 1; c <= a_count; ++c) {
        parameter_data &par = cd.parameters[adjustable[c]];
        if (par.frozen != 0) continue;
        if (par.at_lower_bound == 1 && par.lower_bound > par.value) {
            par.value = par.lower_bound;
            upgrade[c] = 0.0;
        }
        if (par.at_upper_bound == 1 && par.upper_bound < par.value) {
            par.value = par.upper_bound;
            upgrade[c] = 0.0;
        }
    }

    // Step 7: tied parameters follow their parents.
    recompute_tied_values(cd);
    return 0;
}

}  // namespace

calib_status limit_and_freeze(const double_matrix &jacobian, const double_matrix &prior,
                              const double_vector &weights, control_data &cd,
                              double_vector &upgrade, const int_vector &adjustable,
                              std::FILE *record) {
    freeze_problem fp;
    fp.regularised = false;
    fp.jacobian = &jacobian;
    fp.prior = &prior;
    fp.weights = &weights;
    fp.rows = cd.observation_count + cd.prior_count;
    return limit_and_freeze_common(fp, cd, upgrade, adjustable, record);
}

calib_status limit_and_freeze_regularised(const double_matrix &jacobian,
                                          const double_vector &observation_weights,
                                          const double_matrix &prior,
                                          const double_vector &prior_weights, control_data &cd,
                                          double_vector &upgrade, const int_vector &adjustable,
                                          std::FILE *record) {
    freeze_problem fp;
    fp.regularised = true;
    fp.jacobian = &jacobian;
    fp.prior = &prior;
    fp.weights = &observation_weights;
    fp.prior_weights = &prior_weights;
    fp.rows = cd.observation_count;
    return limit_and_freeze_common(fp, cd, upgrade, adjustable, record);
}
