// The GML drivers: initial run, iterations of finite-difference Jacobian and
// Marquardt lambda search, the final run with the best parameters, statistics
// and the results section. MODE "estimation" and "regularization" (prior
// information as regularisation) reach them from calibration_main.
#include "calibrator/engine/gml_driver.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <vector>

#include "calibrator/engine/bounds.h"
#include "calibrator/engine/gml_workspace.h"
#include "calibrator/engine/jacobian.h"
#include "calibrator/engine/numeric/numeric.h"
#include "calibrator/engine/reports.h"
#include "calibrator/engine/restart.h"
#include "calibrator/engine/run_reports.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/statistics.h"
#include "calibrator/engine/stop_tests.h"
#include "calibrator/engine/template_files.h"
#include "calibrator/engine/upgrade.h"

namespace {

// Everything one driver call works with. The steps below follow the order of
// the iteration; each runs only while `status` is 0.
struct gml_run {
    gml_run(int argc_in, char **argv_in, control_data &cd_in, const file_names &names_in,
            std::FILE *record_in, std::FILE *sensitivity_in, std::FILE *parameter_values_in,
            template_file_table &templates_in, instruction_file_table &instructions_in)
        : argc(argc_in), argv(argv_in), cd(cd_in), names(names_in), record(record_in),
          sensitivity(sensitivity_in), parameter_values(parameter_values_in),
          templates(templates_in), instructions(instructions_in) {}

    int argc;
    char **argv;
    control_data &cd;
    const file_names &names;
    std::FILE *record;
    std::FILE *sensitivity;
    std::FILE *parameter_values;
    template_file_table &templates;
    instruction_file_table &instructions;

    gml_workspace w;
    calib_status status = 0;
    bool restart = false;
    bool finished = false;  // the final run has been made

    int iteration = 0;
    int model_calls = 0;
    int best_iteration = 0;
    int switched = 0;
    int has_switch = 0;
    int small_change_count = 0;
    int all_at_limits = 0;
    int reversal = 0;
    int cursor = 0;
    int singular = 0;
    double phi = 0.0;
    double measurement = 0.0;
    double regularisation = 0.0;
    double previous_phi = 0.0;
    double best_phi = 0.0;
    double largest_relative_change = 0.0;
    double last_relative_change = 0.0;
    bool no_lower_phi = false;  // no lambda trial of the last iteration lowered phi
    int trial_runs = 0;         // lambda trials of the run, and those whose model run failed
    int failed_trial_runs = 0;
    double lambda_reached = 0.0;
    // The last iteration's search found no lower phi and ended on trials whose
    // values as written were those of its start, with no failed model run.
    bool at_written_precision = false;
    double predicted_reduction = 0.0;  // of phi by the first trial's upgrade, from the linear model
    // The longest step (as predicted model change) of the next iteration's
    // trials, after an iteration that kept a shortened step; 0: none.
    double step_limit = 0.0;
    // The start of the last iteration whose upgrade was kept: its values,
    // model values, Jacobian and lambda, and which parameters had an effect
    // there. A parameter that the kept upgrade takes to where it has
    // no effect sends the calibration back to it (lost_effect_guard).
    struct origin {
        bool valid = false;
        std::vector<double> values;
        std::vector<double> model_values;
        std::vector<double> jacobian;
        std::vector<char> had_effect;
        double lambda = 0.0;
    } last_start;
    // The values as written and the model values of the lambda trials of
    // earlier iterations whose runs gave numbers (the latest 64): a trial
    // that comes back to one of them takes its outputs.
    struct earlier_run {
        std::vector<double> inputs;
        std::vector<double> outputs;
    };
    std::deque<earlier_run> earlier_runs;

    bool estimation() const { return w.mode == gml_mode::estimation; }
};

// One model run of the drivers followed by the objective function of its kind.
void run_and_score(gml_run &g, int value_kind, bool check_stop) {
    if (g.status != 0) return;
    g.w.phi_overflow_from_model = false;
    g.status = gml_model_run(g.cd, g.names, value_kind, g.templates, g.instructions, check_stop);
    if (g.status == 0) {
        g.status = gml_phi(g.w, g.cd, value_kind, g.phi, g.measurement, g.regularisation);
    }
}

void rescore(gml_run &g, int value_kind) {
    if (g.status == 0) {
        g.status = gml_phi(g.w, g.cd, value_kind, g.phi, g.measurement, g.regularisation);
    }
}

void set_model_values(control_data &cd, int kind, const double_vector &values) {
    for (int k = 1; k <= cd.observation_count; ++k) cd.observations[k].model_value[kind] = values[k];
}

void get_model_values(const control_data &cd, int kind, double_vector &values) {
    for (int k = 1; k <= cd.observation_count; ++k) values[k] = cd.observations[k].model_value[kind];
}

restart_state restart_places(gml_run &g) {
    restart_state s;
    s.jacobian = &g.w.jacobian;
    s.best_jacobian = &g.w.best_jacobian;
    s.iteration = &g.iteration;
    s.phi = &g.phi;
    s.phi_history = &g.w.phi_history;
    s.best_values = &g.w.best_values;
    s.best_model_values = &g.w.best_model_values;
    s.best_phi = &g.best_phi;
    s.best_iteration = &g.best_iteration;
    s.switched = &g.switched;
    s.largest_relative_change = &g.largest_relative_change;
    s.small_change_count = &g.small_change_count;
    s.last_relative_change = &g.last_relative_change;
    s.base_values = &g.w.base_values;
    s.model_calls = &g.model_calls;
    s.jacobian_rows = g.w.rows;
    return s;
}

bool is_observation_group(const control_data &cd, const std::string &name) {
    for (int grp = 1; grp <= cd.observation_group_count; ++grp) {
        if (cd.observation_groups[grp].group_name == name) return true;
    }
    return false;
}

// Settings that an iteration cannot do without; refused before any model run.
calib_status check_settings(const control_data &cd) {
    if (cd.max_iterations == 0) return 0;
    if (cd.adjustable_count < 1) {
        std::printf("\nThere is no adjustable parameter: every parameter is \"fixed\" or \"tied\".\n");
        std::printf("Set max_iterations to 0 for a single model run.\n");
        return 1;
    }
    if (cd.max_iterations >= 1 && (cd.lambda_limit < 1 || !(cd.lambda_factor > 0.0))) {
        std::printf("\nThe control file needs lambda_limit of 1 or more and a lambda_factor above 0.\n");
        return 1;
    }
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind != 0) continue;
        bool found = false;
        for (int grp = 1; grp <= cd.parameter_group_count && !found; ++grp) {
            found = cd.parameter_groups[grp].group_name == cd.parameters[p].group;
        }
        if (!found) {
            std::printf("\nParameter \"%s\" names the group \"%s\", which is not a parameter group.\n",
                        cd.parameters[p].name.c_str(), cd.parameters[p].group.c_str());
            return 1;
        }
    }
    // phi counts only the observations and prior equations of the observation
    // groups, while the Jacobian holds them all: one outside every group would
    // steer the upgrades without showing in phi.
    for (int k = 1; k <= cd.observation_count; ++k) {
        if (!is_observation_group(cd, cd.observations[k].group)) {
            std::printf("\nObservation \"%s\" names the group \"%s\", which is not an observation group.\n",
                        cd.observations[k].name.c_str(), cd.observations[k].group.c_str());
            return 1;
        }
    }
    for (int k = 1; k <= cd.prior_count; ++k) {
        const prior_information_data &pi = cd.prior_information[k];
        if (!is_observation_group(cd, pi.group)) {
            std::printf("\nPrior information \"%s\" names the group \"%s\", which is not an observation group.\n",
                        pi.label.c_str(), pi.group.c_str());
            return 1;
        }
        const int named = pi.term_count < max_prior_terms ? pi.term_count : max_prior_terms;
        for (int t = 1; t <= named; ++t) {
            bool found = false;
            for (int p = 1; p <= cd.parameter_count && !found; ++p) {
                found = cd.parameters[p].name == pi.term_parameters[t];
            }
            if (!found) {
                std::printf("\nPrior information \"%s\" names \"%s\", which is not a parameter.\n",
                            pi.label.c_str(), pi.term_parameters[t].c_str());
                return 1;
            }
        }
    }
    return 0;
}

// Steps 1 to 6: working arrays, the switch flag, the adjustable list, cleared
// flags, the best values, the prior terms and the weights.
void set_up(gml_run &g, gml_mode mode) {
    control_data &cd = g.cd;
    g.status = allocate_gml_workspace(g.w, cd, mode);
    if (g.status != 0) return;
    for (int p = 1; p <= cd.parameter_count && g.has_switch == 0; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind != 0) continue;
        const int grp = parameter_group_index(cd, cd.parameters[p]);
        if (grp > 0 && cd.parameter_groups[grp].derivative_form == "switch") g.has_switch = 1;
    }
    for (int p = 1; p <= cd.parameter_count; ++p) {
        parameter_data &par = cd.parameters[p];
        par.at_upper_bound = 0;
        par.at_lower_bound = 0;
        par.frozen = 0;
        par.frozen_for_upgrade = 0;
        par.composite_sensitivity = 0.0;
    }
    cd.frozen_for_upgrade_count = 0;
    store_values(cd, g.w.best_values);
    fill_prior_terms_and_weights(g.w, cd);
}

// Steps 7 and 8: the initial run and the start-up reports.
void initial_run(gml_run &g) {
    run_and_score(g, base_values, true);
    if (g.status != 0) return;
    ++g.model_calls;
    get_model_values(g.cd, 0, g.w.best_model_values);
    g.best_phi = g.phi;
    const double m = g.estimation() ? g.phi : g.measurement;
    const double r = g.estimation() ? g.phi : g.regularisation;
    print_start_up(m, r, g.phi, g.cd, g.names.case_name);
    write_record_header(g.record, g.parameter_values, m, r, g.phi, g.cd);
    std::vector<double> now;
    store_values(g.cd, now);
    write_parameter_value_file(g.parameter_values, g.cd, now);
    g.iteration = 1;
    if (g.cd.max_iterations >= 1) g.w.phi_history[1] = g.phi;
}

void restore_best_jacobian_rows(gml_run &g) { copy_observation_rows(g.w, g.w.jacobian, g.w.best_jacobian); }

void closing_lines(std::FILE *record) {
    std::fprintf(record, "The model has been run one final time using best parameters.\n");
    std::fprintf(record, "Thus all model input files contain best parameter values, and model\n");
    std::fprintf(record, "output files contain model results based on these parameters.\n");
}

void announce_final_run() {
    std::printf("\n");
    std::printf("Running model one last time with best parameters...\n");
    std::printf("\n");
    std::printf("\n");
}

// Step 30: the final run after a stop test.
void final_run_after_stop(gml_run &g) {
    std::remove(g.names.restart_name.c_str());
    restore_values(g.cd, g.w.best_values);
    announce_final_run();
    std::fprintf(g.record, "\n");
    closing_lines(g.record);
    std::fprintf(g.record, "\n");
    std::fprintf(g.record, "\n");
    write_parameter_value_file(g.parameter_values, g.cd, g.w.best_values);
    run_and_score(g, base_values, false);
    if (g.status == 0) ++g.model_calls;
    g.finished = true;
}

// Step 29: the final run after the last iteration or with every parameter at its limits.
void final_run(gml_run &g) {
    if (g.phi < g.best_phi) {
        g.best_phi = g.phi;
        store_values(g.cd, g.w.best_values);
        restore_best_jacobian_rows(g);
    }
    std::remove(g.names.restart_name.c_str());
    announce_final_run();
    if (!g.estimation()) {
        // Regularisation always records the final run, and never the
        // "maximum number of iterations" lines.
        std::fprintf(g.record, "\n");
        closing_lines(g.record);
        std::fprintf(g.record, "\n");
        std::fprintf(g.record, "\n");
    } else if (g.all_at_limits == 0) {
        report_both(g.record, "Optimization complete: Maximum number of optimization iterations completed.\n");
        report_both(g.record, "Total Model Calls:\t%d\n", g.model_calls);
        std::fprintf(g.record, "\n");
        closing_lines(g.record);
        std::fprintf(g.record, "\n");
        std::fprintf(g.record, "\n");
    }
    write_parameter_value_file(g.parameter_values, g.cd, g.w.best_values);
    restore_values(g.cd, g.w.best_values);
    run_and_score(g, base_values, false);
    if (g.status == 0 && g.all_at_limits == 1) {
        report_both(g.record, "Optimisation complete: all parameters at their limits.\n");
        report_both(g.record, "Total Model Calls:\t%d\n", g.model_calls);
        if (g.estimation()) {
            std::fprintf(g.record, "\n");
            closing_lines(g.record);
            std::fprintf(g.record, "\n");
            std::fprintf(g.record, "\n");
        }
    }
    g.finished = true;
}

// Steps 9 to 16: restart, bounds flags, phi bookkeeping, best values, switch,
// base values and the stop test. Returns false when the loop is to end.
bool iteration_top(gml_run &g) {
    control_data &cd = g.cd;
    if (g.restart && g.iteration == 0) {
        restart_state s = restart_places(g);
        g.status = g.estimation() ? read_restart_file(s, cd, g.names)
                                  : read_restart_file_regularised(s, cd, g.names);
        if (g.status != 0) return false;
        // The phi at the start of the iteration before is not in the file, but
        // it is its history entry.
        g.previous_phi = g.iteration >= 2 ? g.w.phi_history[g.iteration - 1] : 0.0;
        std::fprintf(g.record, "\n\n                             .....RESTART.....\n\n");
    }
    cd.frozen_count = 0;
    cd.frozen_for_upgrade_count = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        parameter_data &par = cd.parameters[p];
        par.frozen_for_upgrade = 0;
        if (std::fabs(par.value - par.upper_bound) < 1e-8) par.value = par.upper_bound;
        if (std::fabs(par.value - par.lower_bound) < 1e-8) par.value = par.lower_bound;
        par.at_upper_bound = par.upper_bound <= par.value ? 1 : 0;
        par.at_lower_bound = par.lower_bound >= par.value ? 1 : 0;
        par.frozen = 0;
    }
    // The first ratio (over no previous phi) is never used.
    cd.phi_ratio = g.previous_phi != 0.0 ? g.phi / g.previous_phi
                                         : std::numeric_limits<double>::infinity();
    g.previous_phi = g.phi;
    if (cd.max_iterations >= 1) {
        extend_dvector(g.w.phi_history, g.iteration, cd.max_iterations);
        g.w.phi_history[g.iteration] = g.phi;
    }

    if (g.phi < g.best_phi) {
        g.best_phi = g.phi;
        g.best_iteration = g.iteration - 1;
        store_values(cd, g.w.best_values);
        get_model_values(cd, 1, g.w.best_model_values);
        write_parameter_value_file(g.parameter_values, cd, g.w.best_values);
        restore_best_jacobian_rows(g);
    }
    if (g.switched == 0 && g.has_switch == 1 && g.iteration >= 2) {
        const double before = g.w.phi_history[g.iteration - 1];
        const double reduction = (before - g.w.phi_history[g.iteration]) / before;
        if (reduction <= cd.phi_reduction_switch) g.switched = 1;
    }
    if (g.iteration >= 2) {
        for (int k = 1; k <= cd.observation_count; ++k) {
            cd.observations[k].model_value[0] = cd.observations[k].model_value[1];
        }
    }
    for (int p = 1; p <= cd.parameter_count; ++p) cd.parameters[p].previous_value = cd.parameters[p].value;
    for (int c = 1; c <= g.w.a; ++c) g.w.base_values[c] = cd.parameters[g.w.adjustable[c]].value;

    if (cd.max_iterations != -1) {
        int stop = 0;
        test_termination(g.record, g.iteration, g.best_iteration, g.small_change_count,
                         g.w.phi_history, g.best_phi, g.phi, cd, stop, g.model_calls);
        if (stop == 1) {
            final_run_after_stop(g);
            return false;
        }
    }
    return true;
}

std::size_t jacobian_slot(const gml_run &g, int row, int column) {
    return static_cast<std::size_t>((row - 1) * g.w.a + column - 1);
}

// The iteration's start, kept until its lambda search has chosen a trial.
void save_iteration_start(gml_run &g) {
    gml_run::origin &s = g.last_start;
    const control_data &cd = g.cd;
    store_values(cd, s.values);
    s.model_values.assign(static_cast<std::size_t>(cd.observation_count) + 1, 0.0);
    for (int k = 1; k <= cd.observation_count; ++k) s.model_values[k] = cd.observations[k].model_value[0];
    s.jacobian.assign(static_cast<std::size_t>(g.w.rows * g.w.a), 0.0);
    s.had_effect.assign(static_cast<std::size_t>(g.w.a) + 1, 0);
    for (int j = 1; j <= g.w.a; ++j) {
        for (int k = 1; k <= g.w.rows; ++k) s.jacobian[jacobian_slot(g, k, j)] = g.w.jacobian(k, j);
        s.had_effect[j] = cd.parameters[g.w.adjustable[j]].frozen_for_upgrade == 0 ? 1 : 0;
    }
    s.lambda = cd.lambda;
    s.valid = false;
}

// A parameter that had an effect at the start of the last iteration and has
// none at the values its upgrade reached (an exponential term saturated, say)
// was pushed off the part of its range the observations see: the upgrade
// overshot along that parameter. The iteration starts again from the last
// iteration's start, with its Jacobian and lambda, holding the parameter at
// its value there; later iterations set it free again. The Jacobian runs
// made at the values left behind count among the model calls.
void lost_effect_guard(gml_run &g) {
    gml_run::origin &s = g.last_start;
    control_data &cd = g.cd;
    if (!g.estimation() || !s.valid) return;
    bool lost = false;
    for (int j = 1; j <= g.w.a; ++j) {
        lost = lost || (s.had_effect[j] != 0 && cd.parameters[g.w.adjustable[j]].frozen_for_upgrade == 1);
    }
    if (!lost) return;
    cd.frozen_for_upgrade_count = 0;
    for (int j = 1; j <= g.w.a; ++j) {
        parameter_data &par = cd.parameters[g.w.adjustable[j]];
        if (par.frozen_for_upgrade == 1 && s.had_effect[j] != 0) {
            report_both(g.record, "   Parameter \"%s\" has lost its effect at the values of the last upgrade: the\n"
                        "   iteration starts again from the values before it, with \"%s\" held there.\n",
                        par.name.c_str(), par.name.c_str());
        }
        par.frozen_for_upgrade = s.had_effect[j] != 0 && par.frozen_for_upgrade == 0 ? 0 : 1;
        cd.frozen_for_upgrade_count += par.frozen_for_upgrade;
        for (int k = 1; k <= g.w.rows; ++k) g.w.jacobian(k, j) = s.jacobian[jacobian_slot(g, k, j)];
    }
    restore_values(cd, s.values);
    for (int k = 1; k <= cd.observation_count; ++k) {
        cd.observations[k].model_value[0] = s.model_values[k];
        cd.observations[k].model_value[1] = s.model_values[k];
    }
    for (int p = 1; p <= cd.parameter_count; ++p) cd.parameters[p].previous_value = cd.parameters[p].value;
    for (int c = 1; c <= g.w.a; ++c) g.w.base_values[c] = cd.parameters[g.w.adjustable[c]].value;
    rescore(g, base_values);
    g.previous_phi = g.phi;
    if (cd.max_iterations >= 1) g.w.phi_history[g.iteration] = g.phi;
    cd.lambda = s.lambda;
    g.step_limit = 0.0;
    s.valid = false;
}

// Steps 17 to 19: headers, the Jacobian, the no-effect check and sensitivities.
void jacobian_step(gml_run &g) {
    const double m = g.estimation() ? g.phi : g.measurement;
    const double r = g.estimation() ? g.phi : g.regularisation;
    print_iteration_header(g.cd, g.iteration, g.model_calls, m, r, g.phi);
    write_iteration_header(g.record, g.cd, g.iteration, g.model_calls, m, r, g.phi);
    g.status = calculate_jacobian(g.cd, g.w.adjustable, g.names, g.w.jacobian, g.model_calls,
                                  g.switched, g.templates, g.instructions, g.iteration, g.cursor);
    if (g.status != 0) return;
    if (g.iteration == 1) restore_best_jacobian_rows(g);
    check_parameter_effect(g.cd, g.w.jacobian, g.w.prior, g.record);
    write_sensitivities(g.cd, g.w.jacobian, g.w.prior, g.names, g.iteration, g.sensitivity, 0);
    lost_effect_guard(g);
    if (g.status == 0) save_iteration_start(g);
    if (!g.estimation()) {
        // The Jacobian's runs leave the base model values alone, so the
        // iteration's starting phi is scored again from them, with the weight
        // factor now in force.
        rescore(g, base_values);
        if (g.status != 0) return;
        print_weight_factor(g.cd, g.phi);
        write_weight_factor(g.record, g.cd, g.phi);
    }
}

// Adjustable parameters back to the iteration's base values, tied ones after them.
void back_to_base(gml_run &g) {
    for (int c = 1; c <= g.w.a; ++c) g.cd.parameters[g.w.adjustable[c]].value = g.w.base_values[c];
    recompute_tied_values(g.cd);
}

void record_values(gml_run &g) {
    std::fprintf(g.record, "      Current parameter values                 Previous parameter values\n");
    for (int p = 1; p <= g.cd.parameter_count; ++p) {
        const parameter_data &par = g.cd.parameters[p];
        std::fprintf(g.record, "      %s             %10lf                %s               %lf\n",
                     par.name.c_str(), native_value(par, par.value), par.name.c_str(),
                     native_value(par, par.previous_value));
    }
    std::fprintf(g.record, "\n");
}

// Accepting trial n of the lambda search (a to d). `next_lambda`, when above
// 0, is the first lambda of the next iteration.
void accept_trial(gml_run &g, int n, int c, double first_lambda, double &previous_lambda,
                  double next_lambda) {
    control_data &cd = g.cd;
    const bool worse = g.previous_phi < g.w.trial_phis[n];
    if (g.iteration == 1 && worse && g.has_switch == 1) {
        // Nothing better than the start in iteration 1: stay and switch to
        // three-point derivatives.
        g.switched = 1;
        cd.lambda = g.w.trial_lambdas[1];
        set_model_values(cd, 1, g.w.best_trial_model_values);
        rescore(g, first_perturbed);
        g.phi = g.previous_phi;
        back_to_base(g);
    } else {
        if (g.switched == 0 && g.has_switch == 1 && g.iteration >= 2 && worse) {
            restore_values(cd, g.w.best_values);
            set_model_values(cd, 1, g.w.best_model_values);
        } else {
            for (int j = 1; j <= g.w.a; ++j) {
                cd.parameters[g.w.adjustable[j]].value =
                    g.w.base_values[j] + g.w.trial_upgrades[static_cast<std::size_t>(n)][j];
            }
            recompute_tied_values(cd);
            for (int k = 1; k <= cd.observation_count; ++k) {
                cd.observations[k].model_value[1] = worse ? g.w.trial_model_values(k, n)
                                                          : g.w.best_trial_model_values[k];
            }
        }
        rescore(g, first_perturbed);
        if (next_lambda > 0.0) {
            cd.lambda = next_lambda;
        } else if (g.reversal == 1) {
            cd.lambda = g.w.trial_lambdas[n];
        } else {
            adjust_lambda(first_lambda, previous_lambda, g.reversal, g.phi, g.w.trial_phis, c, cd);
        }
    }
    g.reversal = 0;
    record_values(g);
}

// The step of the trial just set up (value - base value of every adjustable
// parameter that is not frozen at a bound) shortened along its direction to a
// predicted model change of at most `target`; returns the fraction kept.
double shorten_step(gml_run &g, double target) {
    control_data &cd = g.cd;
    gml_workspace &w = g.w;
    double_vector step = dvector(1, w.a);
    for (int j = 1; j <= w.a; ++j) {
        const parameter_data &par = cd.parameters[w.adjustable[j]];
        step[j] = par.frozen != 0 ? 0.0 : par.value - w.base_values[j];
    }
    const double size = predicted_change_size(w.jacobian, w.weights, w.rows, w.a, step);
    double fraction = 1.0;
    if (target > 0.0 && size > target) {
        fraction = target / size;
        for (int j = 1; j <= w.a; ++j) {
            parameter_data &par = cd.parameters[w.adjustable[j]];
            if (par.frozen != 0) continue;
            par.value = w.base_values[j] + fraction * step[j];
            w.upgrade[j] = par.value - w.base_values[j];
        }
        recompute_tied_values(cd);
    }
    free_dvector(step, 1, w.a);
    return fraction;
}

// The longest predicted model change of the next, shortened trial, from the
// trials so far: a fraction of the shortest of them, chosen from the phi it gave.
double next_step_target(gml_run &g, int c, double starting_phi) {
    gml_workspace &w = g.w;
    double target = 0.0;
    for (int t = 1; t <= c; ++t) {
        const double_vector &u = w.trial_upgrades[static_cast<std::size_t>(t)];
        const double size = predicted_change_size(w.jacobian, w.weights, w.rows, w.a, u);
        const double fraction =
            shortened_step_fraction(w.jacobian, w.weights, g.cd, w.a, u, starting_phi, w.trial_phis[t]);
        if (t == 1 || fraction * size < target) target = fraction * size;
    }
    return target;
}

// After keeping trial n: a shortened step lets the next iteration's steps grow
// to four times its length, a whole Marquardt step lifts the limit.
void keep_step_limit(gml_run &g, int n, double fraction) {
    const gml_workspace &w = g.w;
    g.step_limit = fraction < 1.0 ? 4.0 * predicted_change_size(w.jacobian, w.weights, w.rows, w.a,
                                                               w.trial_upgrades[static_cast<std::size_t>(n)])
                                  : 0.0;
}

// The trial's values replaced by the numbers as written nearest them in
// predicted model change (nearest_written_values); a parameter held at a
// bound or for the upgrade keeps its value. When a value so chosen lies
// beyond a bound the trial stays as it was.
void write_nearest(gml_run &g) {
    control_data &cd = g.cd;
    gml_workspace &w = g.w;
    const std::size_t n = static_cast<std::size_t>(w.a);
    std::vector<double> values(n + 1, 0.0);
    std::vector<char> movable(n + 1, 0);
    std::vector<char> is_log(n + 1, 0);
    for (int j = 1; j <= w.a; ++j) {
        const parameter_data &par = cd.parameters[w.adjustable[j]];
        values[static_cast<std::size_t>(j)] = par.value;
        movable[static_cast<std::size_t>(j)] = par.frozen == 0 && par.frozen_for_upgrade == 0 ? 1 : 0;
        is_log[static_cast<std::size_t>(j)] = par.transform == "log" ? 1 : 0;
    }
    nearest_written_values(w.jacobian, w.weights, w.rows, w.a, movable, is_log, values);
    for (int j = 1; j <= w.a; ++j) {
        const parameter_data &par = cd.parameters[w.adjustable[j]];
        const double v = values[static_cast<std::size_t>(j)];
        if (v > par.upper_bound || v < par.lower_bound) return;
    }
    for (int j = 1; j <= w.a; ++j) {
        parameter_data &par = cd.parameters[w.adjustable[j]];
        par.value = values[static_cast<std::size_t>(j)];
        w.upgrade[j] = par.value - w.base_values[j];
    }
    recompute_tied_values(cd);
}

// Every parameter's value as the model input file carries it (1-based).
std::vector<double> values_as_written(const control_data &cd) {
    std::vector<double> written(static_cast<std::size_t>(cd.parameter_count) + 1, 0.0);
    for (int p = 1; p <= cd.parameter_count; ++p) {
        written[static_cast<std::size_t>(p)] = value_as_written(native_value(cd.parameters[p], cd.parameters[p].value));
    }
    return written;
}

// Steps 20 to 26: the lambda trials of one iteration. A trial is kept only
// when it lowers the iteration's starting phi. When the search ends on a trial
// that does not, or its first trials do not lower phi, the next trial raises
// lambda; when that one does not lower phi either, or a model run gives a
// value that is not a finite number, the remaining trials of the iteration
// raise lambda and shorten the step along its direction; when none lowers phi
// the iteration ends where it started and `no_lower_phi` is set. Every trial
// writes the values nearest its step in predicted model change (write_nearest).
void lambda_search(gml_run &g) {
    control_data &cd = g.cd;
    gml_workspace &w = g.w;
    int c = 0;
    const double first_lambda = cd.lambda;
    double previous_lambda = cd.lambda;
    double highest_lambda = cd.lambda;
    double best_trial_phi = g.phi;
    get_model_values(cd, 0, w.best_trial_model_values);
    const double starting_phi = g.phi;
    bool accepted = false;
    bool shortening = false;
    bool raised = false;          // lambda has been raised after an uphill trial
    bool shortened_yet = false;   // the remaining trials are shortened
    bool was_shortened = false;
    bool run_failed = false;      // a trial's model run gave no finite phi
    bool last_at_start = false;   // the last trial's values as written are those of the start
    double target = g.step_limit;
    std::vector<double> fractions(1, 1.0);
    // The input values of the iteration's start (entry 0) and of every trial
    // (entry c), as written: the model outputs of each belong to them.
    std::vector<std::vector<double>> inputs(1, values_as_written(cd));

    while (g.status == 0 && c < w.l) {
        if (shortening) cd.lambda = highest_lambda * cd.lambda_factor;
        if (!std::isfinite(cd.lambda) || cd.lambda < 0.0) {
            report_both(g.record, "\nThe Marquardt lambda of iteration %d is no longer a finite number (%E): "
                        "make lambda_factor (control data value 16) or lambda_limit (value 19) smaller.\n",
                        g.iteration, cd.lambda);
            g.status = 1;
            return;
        }
        char context[400];
        std::snprintf(context, sizeof context,
                      "It happened in the normal matrix of the upgrade (Jacobian' x weights x Jacobian + lambda) "
                      "of iteration %d, lambda %E.\nA parameter without effect on the observations, or two with "
                      "the same effect, makes it singular: fix or tie one of them, or raise lambda "
                      "(control data value 15).",
                      g.iteration, cd.lambda);
        nr_set_context(context);
        if (cd.frozen_for_upgrade_count == 0) {
            if (g.estimation()) {
                upgrade_vector(w.jacobian, w.prior, w.weights, cd, w.upgrade);
                optimum_upgrade_length(w.jacobian, w.prior, w.weights, cd, w.upgrade);
            } else {
                upgrade_vector_regularised(w.jacobian, w.weights, w.prior, w.prior_weights, cd,
                                           w.upgrade);
            }
        }
        g.status = g.estimation()
                       ? limit_and_freeze(w.jacobian, w.prior, w.weights, cd, w.upgrade,
                                          w.adjustable, g.record)
                       : limit_and_freeze_regularised(w.jacobian, w.weights, w.prior,
                                                      w.prior_weights, cd, w.upgrade,
                                                      w.adjustable, g.record);
        nr_set_context("");
        if (g.status != 0) return;
        if (cd.frozen_count + cd.frozen_for_upgrade_count == w.a) {
            g.all_at_limits = 1;
            return;
        }
        if (c == 0) {
            g.predicted_reduction = predicted_phi_reduction(w.jacobian, w.weights, cd, w.a, w.upgrade);
        }
        const double fraction = target > 0.0 ? shorten_step(g, target) : 1.0;
        if (g.estimation()) write_nearest(g);
        report_both(g.record, "\n");
        report_both(g.record, "\tLambda = %E ----->\n", cd.lambda);
        if (fraction < 1.0) report_both(g.record, "\tstep shortened to %E of its length\n", fraction);
        // A trial whose values as written are those of the iteration's start,
        // or of an earlier trial whose run gave numbers, takes that run's model
        // outputs: running the model again would give them once more.
        inputs.push_back(values_as_written(cd));
        int same = 0;
        while (same <= c && (inputs[static_cast<std::size_t>(same)] != inputs.back() ||
                             (same > 0 && !std::isfinite(w.trial_phis[same])))) {
            ++same;
        }
        const gml_run::earlier_run *earlier = nullptr;
        for (const gml_run::earlier_run &e : g.earlier_runs) {
            if (same > c && e.inputs == inputs.back()) earlier = &e;
        }
        const bool unchanged = same <= c || earlier != nullptr;
        last_at_start = earlier == nullptr && same == 0;
        if (earlier != nullptr) {
            report_both(g.record, "\tno model run: the parameter values as written are those of a trial of an "
                        "earlier iteration\n");
            for (int p = 1; p <= cd.parameter_count; ++p) {
                cd.parameters[p].perturbed_value_1 = cd.parameters[p].value;
            }
            for (int k = 1; k <= cd.observation_count; ++k) {
                cd.observations[k].model_value[1] = earlier->outputs[static_cast<std::size_t>(k)];
            }
            rescore(g, first_perturbed);
        } else if (unchanged) {
            if (same == 0) {
                report_both(g.record, "\tno model run: the parameter values as written are those of the start\n");
            } else {
                report_both(g.record, "\tno model run: the parameter values as written are those of lambda %E\n",
                            w.trial_lambdas[same]);
            }
            for (int p = 1; p <= cd.parameter_count; ++p) {
                cd.parameters[p].perturbed_value_1 = cd.parameters[p].value;
            }
            for (int k = 1; k <= cd.observation_count; ++k) {
                cd.observations[k].model_value[1] = same == 0 ? cd.observations[k].model_value[0]
                                                              : w.trial_model_values(k, same);
            }
            rescore(g, first_perturbed);
        } else {
            report_both(g.record, "\trunning model ...\n");
            run_and_score(g, first_perturbed, true);
        }
        // A trial whose model gave a value that is not a finite number is an
        // unsuccessful trial: its phi counts above every other. Any other
        // failure ends the calibration.
        const bool failed_trial =
            g.status != 0 && (g.instructions.non_finite_value || w.phi_overflow_from_model);
        if (failed_trial) {
            g.status = 0;
            g.phi = std::numeric_limits<double>::infinity();
        }
        if (g.status != 0) return;
        if (!unchanged) ++g.model_calls;
        ++g.trial_runs;
        if (failed_trial) ++g.failed_trial_runs;
        if (!failed_trial && g.iteration >= 2 && cd.partial_jacobian == 1 &&
            (cd.partial_jacobian_conditional == 0 ||
             (cd.partial_jacobian_conditional == 1 && cd.phi_ratio < cd.partial_jacobian_ratio))) {
            if (g.estimation()) {
                broyden_update(cd, w.jacobian, w.prior);
            } else {
                broyden_update_regularised(cd, w.jacobian);
            }
        }
        ++c;
        ensure_trial_store(w, c);
        w.trial_phis[c] = g.phi;
        w.trial_lambdas[c] = cd.lambda;
        if (cd.lambda > highest_lambda) highest_lambda = cd.lambda;
        for (int k = 1; k <= cd.observation_count; ++k) {
            w.trial_model_values(k, c) = cd.observations[k].model_value[1];
        }
        if (g.phi < best_trial_phi) {
            best_trial_phi = g.phi;
            get_model_values(cd, 1, w.best_trial_model_values);
        }
        for (int j = 1; j <= w.a; ++j) w.trial_upgrades[static_cast<std::size_t>(c)][j] = w.upgrade[j];
        fractions.push_back(fraction);
        if (failed_trial) {
            report_both(g.record, "\tModel run failed: this lambda is an unsuccessful trial.\n");
        } else {
            report_both(g.record, "\tPhi =\t%E\t\t(%E of starting phi)\n", g.phi, g.phi / starting_phi);
        }
        if (!g.estimation() && !failed_trial) {
            report_both(g.record, "\tMeas. fn. =\t%E\n", g.measurement);
            report_both(g.record, "\tRegul. fn. =\t%E\n", g.regularisation);
        }
        report_both(g.record, "\n");

        run_failed = run_failed || failed_trial;
        int chosen = 0;
        if (shortening || failed_trial) {
            if (g.phi < starting_phi) {
                report_both(g.record, "No more lambdas: phi is lower than starting phi\n\n");
                // A step shortened after uphill trials owes its success to the
                // shortening, which the step limit carries over; the lambda
                // raised with it would only grow from iteration to iteration.
                // After a failed run the raised lambda stays.
                const bool uphill_only = !run_failed && fractions[static_cast<std::size_t>(c)] < 1.0;
                const double next = uphill_only ? first_lambda : cd.lambda;
                accept_trial(g, c, c, first_lambda, previous_lambda, next);
                keep_step_limit(g, c, fractions[static_cast<std::size_t>(c)]);
                accepted = true;
                break;
            }
        } else {
            // The third trial, when the search turned upward from the first
            // lambda, lies next to the first trial, not the second.
            const int neighbour = c == 3 && g.reversal == 1 ? 1 : 0;
            test_lambda_termination(g.record, g.previous_phi, c, w.trial_phis, cd, chosen, neighbour);
        }
        if (chosen != 0 && w.trial_phis[chosen] < starting_phi) {
            // The next iteration starts from the lambda that did best, and
            // below it when the search was still going down.
            const double next = g.reversal == 1 || chosen != c ? w.trial_lambdas[chosen] : 0.0;
            accept_trial(g, chosen, c, first_lambda, previous_lambda, next);
            keep_step_limit(g, chosen, fractions[static_cast<std::size_t>(chosen)]);
            accepted = true;
            break;
        }
        for (int j = 1; j <= w.a; ++j) {
            parameter_data &par = cd.parameters[w.adjustable[j]];
            par.value -= w.upgrade[j];
            if (par.upper_bound > par.value) par.at_upper_bound = 0;
            if (par.lower_bound < par.value) par.at_lower_bound = 0;
        }
        recompute_tied_values(cd);
        // Once a trial fails to lower phi with none before it lower, a smaller
        // lambda (a longer step) cannot help.
        if (chosen != 0 || failed_trial || shortening || !(best_trial_phi < starting_phi)) {
            // An upgrade that promised next to nothing and did not deliver it:
            // the start of the iteration is a minimum, and shorter steps would
            // only repeat it.
            if (!(best_trial_phi < starting_phi) &&
                g.predicted_reduction <= cd.phi_reduction_stop * starting_phi) {
                break;
            }
            // A trial that went uphill is followed by one with the next lambda
            // and the whole step: a larger lambda turns the step towards the
            // gradient. In a narrow curved valley that is what lowers phi, while a
            // step shortened along the uphill direction gains next to nothing and
            // leaves the next iteration's steps short too. Shortening begins when
            // that trial does not lower phi either, or at once when a run failed.
            shortened_yet = shortened_yet || failed_trial || raised;
            if (!shortening && c < w.l) {
                report_both(g.record, shortened_yet ? "\tNo trial lowers phi: lambda is raised and the step shortened.\n"
                                                    : "\tNo trial lowers phi: lambda is raised.\n");
            } else if (shortened_yet && !was_shortened && c < w.l) {
                report_both(g.record, "\tNo trial lowers phi: the step is shortened too.\n");
            }
            shortening = true;
            raised = true;
            if (shortened_yet) {
                target = next_step_target(g, c, starting_phi);
                was_shortened = true;
            }
        } else {
            adjust_lambda(first_lambda, previous_lambda, g.reversal, g.phi, w.trial_phis, c, cd);
        }
    }
    for (int t = 1; t <= c && g.status == 0; ++t) {
        if (!std::isfinite(w.trial_phis[t])) continue;
        gml_run::earlier_run e;
        e.inputs = inputs[static_cast<std::size_t>(t)];
        e.outputs.assign(static_cast<std::size_t>(cd.observation_count) + 1, 0.0);
        for (int k = 1; k <= cd.observation_count; ++k) e.outputs[static_cast<std::size_t>(k)] = w.trial_model_values(k, t);
        g.earlier_runs.push_back(std::move(e));
        if (g.earlier_runs.size() > 64) g.earlier_runs.pop_front();
    }
    g.last_start.valid = accepted;
    if (!accepted && g.status == 0) {
        // No trial lowered phi: the iteration ends where it started.
        back_to_base(g);
        for (int k = 1; k <= cd.observation_count; ++k) {
            cd.observations[k].model_value[1] = cd.observations[k].model_value[0];
        }
        rescore(g, base_values);
        g.reversal = 0;
        g.no_lower_phi = true;
        g.lambda_reached = highest_lambda;
        g.at_written_precision = last_at_start && !run_failed;
    }
}

// Steps 27 to 29: the relative change, the restart file and the final run.
void after_search(gml_run &g) {
    control_data &cd = g.cd;
    ++g.iteration;
    if (g.iteration >= 2) {
        double largest = 0.0;
        for (int j = 1; j <= g.w.a; ++j) {
            const parameter_data &par = cd.parameters[g.w.adjustable[j]];
            const double base = native_value(par, g.w.base_values[j]);
            const double now = native_value(par, par.value);
            double change = 0.0;
            if (base != 0.0) {
                change = std::fabs((base - now) / base);
            } else if (now != base) {
                change = std::numeric_limits<double>::infinity();
            }
            g.last_relative_change = change;
            if (change > largest) largest = change;
        }
        g.largest_relative_change = largest;
        if (cd.relative_change_stop > largest) {
            ++g.small_change_count;
        } else {
            g.small_change_count = 0;
        }
    }
    if (cd.restart_switch == "restart" && cd.max_iterations >= 1) {
        restart_state s = restart_places(g);
        g.status = g.estimation() ? write_restart_file(s, cd, g.names)
                                  : write_restart_file_regularised(s, cd, g.names);
        if (g.status != 0) return;
    }
    if (g.all_at_limits == 1 || (cd.max_iterations != -1 && g.iteration > cd.max_iterations)) {
        final_run(g);
    }
}

// Steps 31 to 33: sensitivities, statistics and the results section.
void completion(gml_run &g) {
    control_data &cd = g.cd;
    gml_workspace &w = g.w;
    if (cd.max_iterations == -1) restore_best_jacobian_rows(g);
    if (g.status == 0 && cd.max_iterations != 0) {
        write_sensitivities(cd, w.best_jacobian, w.prior, g.names, g.iteration, g.sensitivity, 1);
        if (g.estimation()) {
            parameter_covariance(w.best_jacobian, w.weights, g.phi, w.covariance, cd, g.singular);
        } else {
            parameter_covariance_regularised(w.best_jacobian, w.weights, w.prior, w.prior_weights,
                                             g.phi, w.covariance, cd, g.singular);
        }
        for (int i = 1; i <= w.a; ++i) {
            for (int j = 1; j <= w.a; ++j) w.correlation_input(i, j) = w.covariance(i, j);
        }
        if (g.singular == 0) {
            correlation_matrix(w.correlation_input, w.correlation, cd);
            int rotations = 0;
            char context[300];
            std::snprintf(context, sizeof context,
                          "It happened in the eigenvectors of the parameter covariance matrix after iteration %d: "
                          "parameters of very different size or effect; log-transform them, or fix one.",
                          g.iteration - 1);
            nr_set_context(context);
            jacobi(w.correlation_input, w.a, w.eigenvalues, w.eigenvectors, rotations);
            eigen_sort(w.eigenvalues, w.eigenvectors, w.a);
            nr_set_context("");
        }
    }
    if (g.status == 0) {
        write_optimisation_results(g.record, g.phi, w.covariance, w.correlation, w.eigenvectors,
                                   w.eigenvalues, cd, g.singular);
    }
}

gml_mode mode_of(const control_data &cd) {
    return cd.mode == "regularization" || cd.mode == "regularisation" ? gml_mode::regularisation
                                                                       : gml_mode::estimation;
}

// The refusals that need no model run: regularisation without prior
// information, a restart without iterations to resume, and the settings check.
calib_status start_checks(gml_run &g) {
    const control_data &cd = g.cd;
    if (mode_of(cd) == gml_mode::regularisation && cd.prior_count < 1) {
        std::printf("\nAt least one piece of prior information must be specified to run in regularization mode.\n");
        return 1;
    }
    g.restart = g.argc >= 3 && std::strcmp(g.argv[2], "/r") == 0;
    if (g.restart && cd.max_iterations <= 0) {
        std::FILE *f = std::fopen(g.names.restart_name.c_str(), "rb");
        if (f == nullptr) {
            std::printf("\n\nError opening the restart file.\n");
            std::printf("Possibly previous run was not halted prematurely.\n\n");
            std::fflush(stdout);
            return 1;
        }
        std::fclose(f);
        std::printf("\nWith max_iterations %d no iteration is made, so there is nothing to restart.\n",
                    cd.max_iterations);
        return 1;
    }
    const calib_status settings = check_settings(cd);
    if (settings != 0 && g.argc >= 2) std::printf("  (control file %s)\n", g.argv[1]);
    return settings;
}

calib_status run_gml(gml_run &g, gml_mode mode) {
    control_data &cd = g.cd;
    g.status = start_checks(g);
    if (g.status != 0) return g.status;
    set_up(g, mode);
    if (g.status == 0 && !g.restart) initial_run(g);

    if (g.status == 0 && cd.max_iterations != 0) {
        do {
            if (!iteration_top(g)) break;
            jacobian_step(g);
            if (g.status == 0 && cd.max_iterations >= 1) lambda_search(g);
            if (g.status == 0 && g.no_lower_phi) {
                g.no_lower_phi = false;
                if (g.has_switch == 0 || g.switched == 1) {
                    report_no_lower_phi(g.record, g.iteration, g.lambda_reached, g.best_iteration == 0,
                                        g.predicted_reduction / g.phi, g.at_written_precision, cd,
                                        g.model_calls);
                    final_run_after_stop(g);
                    break;
                }
                // Forward differences may be what keeps phi from falling: the
                // next iteration takes three-point derivatives from here.
                g.switched = 1;
            }
            if (g.status == 0) after_search(g);
        } while (g.status == 0 && !g.finished && cd.max_iterations != -1 &&
                 g.iteration <= cd.max_iterations);
    }
    completion(g);
    // A calibration in which no lambda trial gave a finite objective function
    // has not calibrated anything: its results are its starting values.
    if (g.status == 0 && g.trial_runs > 0 && g.failed_trial_runs == g.trial_runs) {
        report_both(g.record, "\nThe model run of every lambda trial failed (%d of %d): the calibration ends "
                    "on its starting values.\n", g.failed_trial_runs, g.trial_runs);
        g.status = 1;
    }
    // A failed step ends the driver too; its working arrays go with it.
    free_gml_workspace(g.w);
    std::fflush(stdout);
    std::fflush(g.record);
    return g.status;
}

}  // namespace

calib_status check_gml_start(int argc, char *argv[], const control_data &cd,
                             const file_names &names) {
    const gml_mode mode = mode_of(cd);
    // The restart file is read into a copy of the problem and scratch arrays:
    // the driver reads it again once the output files are open.
    control_data scratch = cd;
    template_file_table no_templates;
    instruction_file_table no_instructions;
    gml_run g(argc, argv, scratch, names, nullptr, nullptr, nullptr, no_templates, no_instructions);
    g.status = start_checks(g);
    if (g.status == 0 && g.restart) {
        set_up(g, mode);
        if (g.status == 0) {
            restart_state s = restart_places(g);
            g.status = mode == gml_mode::estimation ? read_restart_file(s, scratch, names)
                                                    : read_restart_file_regularised(s, scratch, names);
        }
        free_gml_workspace(g.w);
    }
    return g.status;
}

calib_status optimise_estimation(int argc, char *argv[], control_data &cd, file_names names,
                                 std::FILE *record, std::FILE *sensitivity, std::FILE * /*matrix*/,
                                 std::FILE *parameter_values, template_file_table &templates,
                                 instruction_file_table &instructions) {
    gml_run g(argc, argv, cd, names, record, sensitivity, parameter_values, templates, instructions);
    return run_gml(g, gml_mode::estimation);
}

calib_status optimise_regularisation(int argc, char *argv[], control_data &cd, file_names names,
                                     std::FILE *record, std::FILE *sensitivity, std::FILE * /*matrix*/,
                                     std::FILE *parameter_values, template_file_table &templates,
                                     instruction_file_table &instructions) {
    gml_run g(argc, argv, cd, names, record, sensitivity, parameter_values, templates, instructions);
    return run_gml(g, gml_mode::regularisation);
}
