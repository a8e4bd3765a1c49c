// Finite-difference Jacobian of the GML drivers: two-point and three-point
// ("outside_pts", "parabolic") derivatives by perturbing one adjustable
// parameter at a time, over all columns or a rotating partial set. Called by
// the drivers once per iteration after the base run.
#include "calibrator/engine/jacobian.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "calibrator/engine/model_run.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/stop_tests.h"
#include "calibrator/engine/template_files.h"

namespace {

bool is_log(const parameter_data &p) { return p.transform == "log"; }

// One step of `fraction` of |v| up (sign +1) or down (-1) from the stored value
// v; for "log" parameters the step is taken on the native value. `zero_step`
// is the stored result when the value is 0 (natively below 1e-8 for "log").
double step_from(const parameter_data &p, double fraction, int sign, double zero_step) {
    const double v = p.value;
    if (!is_log(p)) {
        if (v == 0.0) return zero_step;
        return v + sign * fraction * std::fabs(v);
    }
    const double n = std::pow(10.0, v);
    if (std::fabs(n) < 1e-8) return zero_step;
    return std::log10(n + sign * fraction * std::fabs(n));
}

// The stored value as the model input file carries it: the model sees the
// written number, so differences are taken between written values.
double as_written(const parameter_data &p, double stored) {
    if (!is_log(p)) return value_as_written(stored);
    return std::log10(value_as_written(std::pow(10.0, stored)));
}

double clamp_to_bounds(const parameter_data &p, double x) {
    if (x > p.upper_bound) x = p.upper_bound;
    if (x < p.lower_bound) x = p.lower_bound;
    return x;
}

// Rows 1..O of column `column` from the differences of model value kinds.
void fill_column(control_data &cd, double_matrix &jacobian, int column, int points,
                 const std::string &method, double x0, double p1, double p2) {
    for (int k = 1; k <= cd.observation_count; ++k) {
        const double f0 = cd.observations[k].model_value[0];
        const double f1 = cd.observations[k].model_value[1];
        const double f2 = cd.observations[k].model_value[2];
        double derivative = 0.0;
        if (points == 2) {
            derivative = (f1 - f0) / (p1 - x0);
        } else if (method == "outside_pts") {
            derivative = (f1 - f2) / (p1 - p2);
        } else {
            // Slope at x0 of the parabola through (p2, f2), (x0, f0), (p1, f1),
            // in the Lagrange form (the same as solving for a x^2 + b x + c and
            // taking 2 a x0 + b, without the ill-conditioned power matrix).
            derivative = f2 * (x0 - p1) / ((p2 - x0) * (p2 - p1)) +
                         f0 * (2.0 * x0 - p1 - p2) / ((x0 - p2) * (x0 - p1)) +
                         f1 * (x0 - p2) / ((p1 - p2) * (p1 - x0));
        }
        jacobian(k, column) = derivative;
    }
}

void zero_column(control_data &cd, double_matrix &jacobian, int column, const parameter_data &par) {
    for (int k = 1; k <= cd.observation_count; ++k) jacobian(k, column) = 0.0;
    std::printf("\nWarning: parameter \"%s\" cannot be perturbed within its bounds; "
                "its derivatives are set to 0.\n", par.name.c_str());
}

// Sets perturbed value `which` of every parameter tied to parameter `parent`.
void perturb_tied(control_data &cd, int parent, double perturbed, int which) {
    const parameter_data &par = cd.parameters[parent];
    const double native = is_log(par) ? std::pow(10.0, perturbed) : perturbed;
    for (int q = 1; q <= cd.parameter_count; ++q) {
        parameter_data &tied = cd.parameters[q];
        if (tied.parent_index != parent) continue;
        (which == 1 ? tied.perturbed_value_1 : tied.perturbed_value_2) = native * tied.tie_ratio;
    }
}

// The progress line after run `run` of the Jacobian, overwritten in place.
void progress_line(int run) {
    if (run >= 10000) return;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%d runs completed.", run);
    std::printf("%s", text);
    for (int i = 0; i < length; ++i) std::printf("\b");
    std::fflush(stdout);
}

}  // namespace

int parameter_group_index(const control_data &cd, const parameter_data &p) {
    for (int g = 1; g <= cd.parameter_group_count; ++g) {
        if (cd.parameter_groups[g].group_name == p.group) return g;
    }
    return 0;
}

int derivative_points(const control_data &cd, const parameter_data &p, int switched) {
    const int g = parameter_group_index(cd, p);
    if (g == 0) return 0;
    const std::string &form = cd.parameter_groups[g].derivative_form;
    if (form == "always_2" || (form == "switch" && switched == 0)) return 2;
    if (form == "always_3" || (form == "switch" && switched != 0)) return 3;
    return 0;
}

double two_point_perturbation(const parameter_data &p) {
    double p1 = 0.0;
    if (p.at_upper_bound != 0) {
        p1 = step_from(p, 0.01, -1, is_log(p) ? -std::log10(0.01) : -0.01);
        if (p.lower_bound > p1) p1 = p.lower_bound;
    } else {
        p1 = step_from(p, 0.01, +1, is_log(p) ? std::log10(0.01) : 0.01);
        if (p.upper_bound < p1) p1 = step_from(p, 0.01, -1, is_log(p) ? -std::log10(0.01) : -0.01);
    }
    return clamp_to_bounds(p, p1);
}

void three_point_perturbations(const parameter_data &p, double &p1, double &p2) {
    const bool lg = is_log(p);
    if (p.at_upper_bound == 1) {
        p1 = step_from(p, 0.01, -1, lg ? -std::log10(0.01) : -0.01);
        p2 = step_from(p, 0.02, -1, lg ? -std::log10(0.02) : -0.02);
    } else if (p.at_lower_bound == 1) {
        p1 = step_from(p, 0.01, +1, lg ? std::log10(0.01) : 0.01);
        p2 = step_from(p, 0.02, +1, lg ? std::log10(0.02) : 0.02);
    } else {
        p1 = step_from(p, 0.01, +1, lg ? std::log10(0.01) : 0.01);
        p2 = step_from(p, 0.01, -1, lg ? -std::log10(0.01) : -0.01);
        if (p.upper_bound < p1) {
            p1 = step_from(p, 0.01, -1, lg ? -std::log10(0.01) : -0.01);
            p2 = step_from(p, 0.02, -1, lg ? -std::log10(0.02) : -0.02);
        }
        if (p.lower_bound > p2) {
            p2 = step_from(p, 0.01, +1, lg ? std::log10(0.01) : 0.01);
            p1 = step_from(p, 0.02, +1, lg ? std::log10(0.02) : 0.02);
        }
    }
    p1 = clamp_to_bounds(p, p1);
    p2 = clamp_to_bounds(p, p2);
}

bool partial_jacobian_applies(const control_data &cd, int iteration) {
    return cd.partial_jacobian == 1 && cd.partial_jacobian_columns > 0 && iteration >= 2 &&
           (cd.partial_jacobian_conditional == 0 ||
            (cd.partial_jacobian_conditional == 1 && cd.partial_jacobian_ratio >= cd.phi_ratio));
}

std::vector<int> partial_jacobian_column_list(const control_data &cd, int &cursor) {
    std::vector<int> list;
    if (cd.adjustable_count < 1 || cd.parameter_count < 1) return list;
    list.assign(static_cast<std::size_t>(cd.partial_jacobian_columns) + 1, -999);
    int filled = 0;
    int p = cursor;
    while (filled < cd.partial_jacobian_columns) {
        p = p >= cd.parameter_count ? 1 : p + 1;
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind == 0) list[static_cast<std::size_t>(++filled)] = p;
    }
    cursor = p;
    return list;
}

calib_status count_jacobian_runs(const control_data &cd, int switched,
                                 const std::vector<int> &columns, int /*iteration*/, int &count) {
    count = 0;
    auto add = [&](int p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind != 0) return;
        const int g = parameter_group_index(cd, cd.parameters[p]);
        const std::string form = g > 0 ? cd.parameter_groups[g].derivative_form : std::string();
        count += (form == "always_2" || (form == "switch" && switched == 0)) ? 1 : 2;
    };
    if (columns.empty()) {
        for (int p = 1; p <= cd.parameter_count; ++p) add(p);
    } else {
        for (std::size_t i = 1; i < columns.size(); ++i) add(columns[i]);
    }
    return 0;
}

calib_status calculate_jacobian(control_data &cd, const int_vector &adjustable,
                                const file_names &names, double_matrix &jacobian,
                                int &model_calls, int switched, template_file_table &templates,
                                instruction_file_table &instructions, int iteration,
                                int &cursor) {
    std::vector<int> columns;
    const bool partial = partial_jacobian_applies(cd, iteration);
    if (partial) columns = partial_jacobian_column_list(cd, cursor);
    int count = 0;
    const bool no_runs = cd.partial_jacobian == 1 && cd.partial_jacobian_columns == 0 &&
                         cd.partial_jacobian_ratio >= cd.phi_ratio;
    if (!no_runs) count_jacobian_runs(cd, switched, columns, iteration, count);
    std::printf("Calculating Jacobian matrix: running model %d times ...\n", count);
    if (count == 0) return 0;

    std::vector<bool> perturb(static_cast<std::size_t>(cd.parameter_count) + 1, !partial);
    for (std::size_t i = 1; i < columns.size(); ++i) {
        if (columns[i] > 0) perturb[static_cast<std::size_t>(columns[i])] = true;
    }

    calib_status status = 0;
    int run = 0;
    auto one_run = [&](int value_kind) {
        status = run_model_once(cd, names, value_kind, templates, instructions, true);
        if (status != 0) return;
        ++model_calls;
        progress_line(++run);
    };

    for (int i = 1; i <= cd.parameter_count && status == 0; ++i) {
        int kind = 0;
        parameter_kind(cd, i, kind);
        if (kind != 0 || !perturb[static_cast<std::size_t>(i)]) continue;
        parameter_data &par = cd.parameters[i];
        int column = 0;
        adjustable_position(cd, i, adjustable, column);
        const int points = derivative_points(cd, par, switched);
        if (points == 0 || column == 0) continue;
        const std::string method = cd.parameter_groups[parameter_group_index(cd, par)].derivative_method;
        const double x0 = par.value;
        if (points == 2) {
            for (int q = 1; q <= cd.parameter_count; ++q) {
                cd.parameters[q].perturbed_value_1 = cd.parameters[q].value;
            }
            const double p1 = two_point_perturbation(par);
            par.perturbed_value_1 = p1;
            perturb_tied(cd, i, p1, 1);
            one_run(first_perturbed);
            if (status != 0) break;
            const double x0w = as_written(par, x0);
            const double p1w = as_written(par, p1);
            if (p1w == x0w) {
                zero_column(cd, jacobian, column, par);
            } else {
                fill_column(cd, jacobian, column, 2, method, x0w, p1w, 0.0);
            }
            continue;
        }
        if (method == "best_fit") {
            std::printf("\n");
            std::printf("The varnock does not support the 'best_fit' method\n");
            std::printf("of three point derivatives calculation.\n\n");
            std::printf("The varnock does support the 'outside_pts' and\n");
            std::printf("'parabolic' methods of three point derivatives calculation.\n\n");
            std::printf("If you are using three point derivatives calculation,\n");
            std::printf("please alter DERMTHD in the control file accordingly.\n");
            status = 1;
            break;
        }
        if (method != "outside_pts" && method != "parabolic") continue;
        for (int q = 1; q <= cd.parameter_count; ++q) {
            cd.parameters[q].perturbed_value_1 = cd.parameters[q].value;
            cd.parameters[q].perturbed_value_2 = cd.parameters[q].value;
        }
        double p1 = 0.0;
        double p2 = 0.0;
        three_point_perturbations(par, p1, p2);
        par.perturbed_value_1 = p1;
        par.perturbed_value_2 = p2;
        perturb_tied(cd, i, p1, 1);
        perturb_tied(cd, i, p2, 2);
        one_run(first_perturbed);
        if (status == 0) one_run(second_perturbed);
        if (status != 0) break;
        const double x0w = as_written(par, x0);
        const double p1w = as_written(par, p1);
        const double p2w = as_written(par, p2);
        const bool degenerate = method == "outside_pts" ? p1w == p2w
                                                        : (p1w == p2w || p1w == x0w || p2w == x0w);
        if (degenerate) {
            zero_column(cd, jacobian, column, par);
        } else {
            fill_column(cd, jacobian, column, 3, method, x0w, p1w, p2w);
        }
    }
    std::printf("\n\n");
    return status;
}
