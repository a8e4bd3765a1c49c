// Stop tests and lambda control of the GML iterations. The drivers call the
// stop test at the top of every iteration and the lambda routines after every
// lambda trial; the Jacobian and the bounds map parameters to columns.
#include "calibrator/engine/stop_tests.h"

#include <cmath>

#include "calibrator/engine/reports.h"
#include "calibrator/engine/start_up_services.h"

calib_status test_termination(std::FILE *record, int k, int b, int small_change_count,
                              const double_vector &phi_history, double best_phi, double phi,
                              const control_data &cd, int &stop, int model_calls) {
    stop = 0;
    if (std::fabs(phi) <= 1e-30) {
        report_both(record, "Optimization complete: the objective function equals zero\n");
        report_both(record, "Total Model Calls:\t%d\n", model_calls);
        stop = 1;
        return 0;
    }
    int close_to_best = 0;
    for (int i = 1; i <= k && i <= phi_history.high; ++i) {
        const double h = phi_history[i];
        // A history entry equal to the best phi is at distance 0.
        const double distance = h == best_phi ? 0.0 : (h - best_phi) / h;
        if (distance <= cd.phi_reduction_stop) ++close_to_best;
    }
    if (close_to_best >= cd.phi_stop_count) {
        report_both(record, "Optimization complete: the  %d lowest phi's are within a relative distance\n",
                    cd.phi_stop_count);
        report_both(record, "                       of each other of %lf\n", cd.phi_reduction_stop);
        report_both(record, "Total Model Calls:\t%d\n", model_calls);
        stop = 1;
        return 0;
    }
    if (k - b > cd.no_reduction_count) {
        report_both(record, "Optimization complete:   %d optimization iterations have elapsed since lowest\n",
                    cd.no_reduction_count);
        report_both(record, "                       phi was achieved.\n");
        report_both(record, "Total Model Calls:\t%d\n", model_calls);
        stop = 1;
        return 0;
    }
    if (small_change_count >= cd.relative_change_count) {
        report_both(record, "Optimization complete: relative parameter change less than %lf\n",
                    cd.relative_change_stop);
        report_both(record, "                       over %d successive iterations.\n",
                    cd.relative_change_count);
        report_both(record, "Total Model Calls:\t%d\n", model_calls);
        stop = 1;
    }
    return 0;
}

namespace {

// The trial with the lowest phi among 1..c; the last of equal lowest phis wins,
// and a phi above 1e30 or not a number is never chosen (result 0 then).
int lowest_trial(const double_vector &trial_phis, int c) {
    double lowest = 1e30;
    int chosen = 0;
    for (int i = 1; i <= c; ++i) {
        if (trial_phis[i] <= lowest) {
            lowest = trial_phis[i];
            chosen = i;
        }
    }
    return chosen;
}

}  // namespace

calib_status test_lambda_termination(std::FILE *record, double starting_phi, int c,
                                     const double_vector &trial_phis, const control_data &cd,
                                     int &chosen, int neighbour) {
    chosen = 0;
    const int before = neighbour > 0 ? neighbour : c - 1;
    if (c == cd.lambda_limit) {
        report_both(record, "No more lambdas: allowed lambdas per iteration =  %d\n\n", cd.lambda_limit);
        chosen = lowest_trial(trial_phis, c);
        return 0;
    }
    for (int i = 1; i <= c; ++i) {
        if (cd.phi_ratio_sufficient * starting_phi >= trial_phis[i]) {
            report_both(record, "No more lambdas: phi is less than %lf of starting phi\n\n",
                        cd.phi_ratio_sufficient);
            chosen = i;
            return 0;
        }
    }
    if (c >= 2 && trial_phis[before] < trial_phis[c]) {
        if (c == 2) return 0;
        report_both(record, "No more lambdas: phi rising\n\n");
        chosen = lowest_trial(trial_phis, c);
        return 0;
    }
    if (c >= 2 && 1.0 - trial_phis[c] / trial_phis[before] <= cd.phi_reduction_lambda) {
        report_both(record, "No more lambdas: relative phi reduction between lambdas less than %lf\n\n",
                    cd.phi_reduction_lambda);
        chosen = lowest_trial(trial_phis, c);
    }
    return 0;
}

calib_status adjust_lambda(double first_lambda, double &previous_lambda, int &reversal,
                           double phi, const double_vector &trial_phis, int c, control_data &cd) {
    const double f = cd.lambda_factor;
    auto down = [&]() {
        previous_lambda = cd.lambda;
        cd.lambda = cd.lambda / f;
    };
    auto up = [&]() {
        previous_lambda = cd.lambda;
        cd.lambda = cd.lambda * f;
    };
    auto keep_direction = [&]() {
        if (previous_lambda > cd.lambda) {
            down();
        } else {
            up();
        }
    };
    if (c == 1) {
        down();
    } else if (c >= 2 && trial_phis[c - 1] > phi) {
        keep_direction();
    } else if (first_lambda >= previous_lambda && first_lambda > cd.lambda) {
        // Only downward so far: turn upward from the first lambda.
        previous_lambda = cd.lambda;
        cd.lambda = first_lambda * f;
        reversal = 1;
    } else {
        keep_direction();
    }
    return 0;
}

calib_status list_adjustable_parameters(const control_data &cd, int_vector &list) {
    calib_status status = 0;
    int k = 0;
    for (int p = 1; p <= cd.parameter_count && status == 0; ++p) {
        int kind = 0;
        status = parameter_kind(cd, p, kind);
        if (kind == 0 && k < cd.adjustable_count) list[++k] = p;
    }
    return status;
}

calib_status adjustable_position(const control_data &cd, int parameter, const int_vector &list,
                                 int &position) {
    for (int k = 1; k <= cd.adjustable_count; ++k) {
        if (list[k] == parameter) {
            position = k;
            return 0;
        }
    }
    return 0;
}

void report_no_lower_phi(std::FILE *record, int k, double lambda, bool at_start,
                         double predicted_reduction, bool at_written_precision,
                         const control_data &cd, int model_calls) {
    if (predicted_reduction <= cd.phi_reduction_stop) {
        // The Marquardt upgrade itself promised almost nothing: a minimum.
        report_both(record, "Optimization complete: no lower phi could be found in iteration %d, and the\n", k);
        report_both(record, "                       upgrade predicted a relative phi reduction of only %E.\n",
                    predicted_reduction);
    } else if (at_written_precision) {
        // The linear model still promises a reduction, but the eight digits
        // the model input carries cannot express a step that delivers it.
        report_both(record, "Optimization complete: no lower phi could be found in iteration %d at the precision\n", k);
        report_both(record, "                       of the model input: every trial that changed the parameter values\n");
        report_both(record, "                       as written raised phi, and the shorter steps do not change them.\n");
    } else {
        report_both(record, "Optimization stopped: no lower phi could be found in iteration %d\n", k);
        report_both(record, "                      (lambda raised to %E, the step shortened along its direction).\n",
                    lambda);
        if (at_start) {
            report_both(record, "                      The parameters are still at their starting values.\n");
        } else {
            report_both(record, "                      The parameters are those of the lowest phi found.\n");
        }
    }
    report_both(record, "Total Model Calls:\t%d\n", model_calls);
}
