// Working arrays of the GML drivers and the steps both drivers share: the
// prior matrix and weights, the model run with its objective function, and
// copies of values and Jacobian rows. Set up at the start of a driver call.
#include "calibrator/engine/gml_workspace.h"

#include <cmath>
#include <cstdio>

#include "calibrator/engine/model_run.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/stop_tests.h"

namespace {

// A matrix or vector of zero size still gets a valid (empty) range.
int at_least_one(int n) { return n > 0 ? n : 1; }

}  // namespace

calib_status allocate_gml_workspace(gml_workspace &w, const control_data &cd, gml_mode mode) {
    w.mode = mode;
    w.a = cd.adjustable_count;
    w.o = cd.observation_count;
    w.r = cd.prior_count;
    w.n = cd.parameter_count;
    w.l = cd.lambda_limit > 0 ? cd.lambda_limit : 1;
    w.rows = mode == gml_mode::estimation ? w.o + w.r : w.o;
    const int a1 = at_least_one(w.a);
    const int rows1 = at_least_one(w.rows);
    const int o1 = at_least_one(w.o);

    w.adjustable = ivector(1, a1);
    list_adjustable_parameters(cd, w.adjustable);
    w.jacobian = dmatrix(1, rows1, 1, a1);
    w.best_jacobian = dmatrix(1, rows1, 1, a1);
    w.weights = dvector(1, rows1);
    if (w.r > 0) {
        w.prior_weights = dvector(1, w.r);
        w.prior = dmatrix(1, w.r, 1, a1);
    }
    w.best_values.assign(static_cast<std::size_t>(w.n) + 1, 0.0);
    w.base_values = dvector(1, a1);
    w.upgrade = dvector(1, a1);
    ensure_trial_store(w, 1);
    w.best_trial_model_values = dvector(1, o1);
    w.best_model_values = dvector(1, o1);
    // The history grows with the iterations made, so a large iteration limit
    // costs nothing until it is reached.
    if (cd.max_iterations >= 1) extend_dvector(w.phi_history, 1, cd.max_iterations);
    w.covariance = dmatrix(1, a1, 1, a1);
    w.correlation_input = dmatrix(1, a1, 1, a1);
    w.correlation = dmatrix(1, a1, 1, a1);
    w.eigenvectors = dmatrix(1, a1, 1, a1);
    w.eigenvalues = dvector(1, a1);
    return 0;
}

void ensure_trial_store(gml_workspace &w, int c) {
    if (w.trial_phis.block != nullptr && c <= w.trial_phis.high) return;
    const int held = w.trial_phis.block != nullptr ? w.trial_phis.high : 0;
    extend_dvector(w.trial_phis, c, w.l);
    const int high = w.trial_phis.high;
    extend_dvector(w.trial_lambdas, high, high);
    const int a1 = at_least_one(w.a);
    const int o1 = at_least_one(w.o);
    double_matrix values = dmatrix(1, o1, 1, high);
    for (int k = 1; k <= o1 && held > 0; ++k) {
        for (int t = 1; t <= held; ++t) values(k, t) = w.trial_model_values(k, t);
    }
    free_dmatrix(w.trial_model_values, 1, o1, 1, held);
    w.trial_model_values = values;
    if (w.trial_upgrades.empty()) w.trial_upgrades.emplace_back();
    while (static_cast<int>(w.trial_upgrades.size()) <= high) w.trial_upgrades.push_back(dvector(1, a1));
}

void free_gml_workspace(gml_workspace &w) {
    const int a1 = at_least_one(w.a);
    const int rows1 = at_least_one(w.rows);
    const int o1 = at_least_one(w.o);
    free_ivector(w.adjustable, 1, a1);
    free_dmatrix(w.jacobian, 1, rows1, 1, a1);
    free_dmatrix(w.best_jacobian, 1, rows1, 1, a1);
    free_dvector(w.weights, 1, rows1);
    free_dvector(w.prior_weights, 1, w.r);
    free_dmatrix(w.prior, 1, w.r, 1, a1);
    free_dvector(w.base_values, 1, a1);
    free_dvector(w.upgrade, 1, a1);
    for (std::size_t c = 1; c < w.trial_upgrades.size(); ++c) free_dvector(w.trial_upgrades[c], 1, a1);
    w.trial_upgrades.clear();
    free_dvector(w.trial_phis, 1, w.l);
    free_dvector(w.trial_lambdas, 1, w.l);
    free_dmatrix(w.trial_model_values, 1, o1, 1, w.l);
    free_dvector(w.best_trial_model_values, 1, o1);
    free_dvector(w.best_model_values, 1, o1);
    free_dvector(w.phi_history, 1, w.phi_history.high);
    free_dmatrix(w.covariance, 1, a1, 1, a1);
    free_dmatrix(w.correlation_input, 1, a1, 1, a1);
    free_dmatrix(w.correlation, 1, a1, 1, a1);
    free_dmatrix(w.eigenvectors, 1, a1, 1, a1);
    free_dvector(w.eigenvalues, 1, a1);
}

void fill_prior_terms_and_weights(gml_workspace &w, const control_data &cd) {
    for (int k = 1; k <= w.r; ++k) {
        const prior_information_data &pi = cd.prior_information[k];
        for (int t = 1; t <= pi.term_count && t <= max_prior_terms; ++t) {
            int position = 0;
            for (int p = 1; p <= cd.parameter_count; ++p) {
                int kind = 0;
                parameter_kind(cd, p, kind);
                if (kind != 0) continue;
                ++position;
                if (cd.parameters[p].name != pi.term_parameters[t]) continue;
                const double factor = pi.factors[static_cast<std::size_t>(t)];
                w.prior(k, position) = factor;
                if (w.mode == gml_mode::estimation) {
                    w.jacobian(w.o + k, position) = factor;
                    w.best_jacobian(w.o + k, position) = factor;
                }
                break;
            }
        }
    }
    for (int i = 1; i <= w.o; ++i) {
        const double weight = cd.observations[i].weight;
        w.weights[i] = weight * weight;
    }
    for (int k = 1; k <= w.r; ++k) {
        const double weight = cd.prior_information[k].weight;
        if (w.mode == gml_mode::estimation) w.weights[w.o + k] = weight * weight;
        w.prior_weights[k] = weight * weight;
    }
}

calib_status gml_phi(gml_workspace &w, control_data &cd, int value_kind, double &phi,
                     double &measurement, double &regularisation) {
    calib_status status = measurement_phi(cd, value_kind, measurement);
    regularisation = 0.0;
    if (status == 0 && w.r >= 1) {
        if (w.mode == gml_mode::estimation) {
            status = prior_information_phi(cd, w.prior, regularisation);
        } else {
            status = regularisation_phi(cd, w.prior, regularisation);
        }
    }
    if (w.mode == gml_mode::estimation) {
        phi = measurement + regularisation;
    } else {
        phi = 0.0;
        for (int g = 1; g <= cd.observation_group_count; ++g) phi += cd.observation_groups[g].group_phi;
    }
    if (status == 0 && !std::isfinite(phi)) status = report_phi_not_finite(w, cd, value_kind, phi);
    return status;
}

calib_status report_phi_not_finite(gml_workspace &w, const control_data &cd, int value_kind,
                                   double phi) {
    w.phi_overflow_from_model = false;
    std::printf("\nThe objective function is not a finite number (%E).\n", phi);
    for (int k = 1; k <= cd.observation_count; ++k) {
        const observation_data &o = cd.observations[k];
        const double r = (o.measured - o.model_value[value_kind]) * o.weight;
        if (std::isfinite(r * r)) continue;
        std::printf("Observation \"%s\": measured %E, model value %E, weight %E; the model value is "
                    "too far from the measurement for its square to be a number: the model run failed.\n",
                    o.name.c_str(), o.measured, o.model_value[value_kind], o.weight);
        w.phi_overflow_from_model = true;
        return 1;
    }
    for (int k = 1; k <= cd.prior_count; ++k) {
        const prior_information_data &pi = cd.prior_information[k];
        bool in_group = false;
        for (int g = 1; g <= cd.observation_group_count; ++g) {
            const observation_group_data &grp = cd.observation_groups[g];
            in_group = in_group || (grp.group_name == pi.group && !std::isfinite(grp.group_phi));
        }
        if (!in_group) continue;
        std::printf("It is the prior information \"%s\" (value %E, weight %E) at the current parameter "
                    "values: make its factors, value or weight smaller.\n",
                    pi.label.c_str(), pi.prior_value, pi.weight);
        return 1;
    }
    std::printf("Its observations and prior information are each finite, their sum is not: "
                "make the weights smaller.\n");
    return 1;
}

calib_status gml_model_run(control_data &cd, const file_names &names, int value_kind,
                           template_file_table &templates, instruction_file_table &instructions,
                           bool check_stop) {
    // The drivers always write the current values; a trial run reads its
    // outputs as kind 1, so its perturbed values are the current ones.
    if (value_kind == first_perturbed) {
        for (int p = 1; p <= cd.parameter_count; ++p) {
            cd.parameters[p].perturbed_value_1 = cd.parameters[p].value;
        }
    }
    return run_model_once(cd, names, value_kind, templates, instructions, check_stop);
}

void copy_observation_rows(const gml_workspace &w, const double_matrix &from, double_matrix &to) {
    for (int k = 1; k <= w.o; ++k) {
        for (int c = 1; c <= w.a; ++c) to(k, c) = from(k, c);
    }
}

void store_values(const control_data &cd, std::vector<double> &values) {
    values.assign(static_cast<std::size_t>(cd.parameter_count) + 1, 0.0);
    for (int p = 1; p <= cd.parameter_count; ++p) values[static_cast<std::size_t>(p)] = cd.parameters[p].value;
}

void restore_values(control_data &cd, const std::vector<double> &values) {
    for (int p = 1; p <= cd.parameter_count; ++p) cd.parameters[p].value = values[static_cast<std::size_t>(p)];
}
