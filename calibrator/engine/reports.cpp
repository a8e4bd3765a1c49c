// Progress reports of the GML drivers: iteration headers on the screen and in
// the run record, the weight factor lines, composite sensitivities and the
// sensitivity file, and the parameter value file. Called by the drivers once
// per iteration and at completion.
#include "calibrator/engine/reports.h"

#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "calibrator/engine/result_files.h"
#include "calibrator/engine/start_up_services.h"

namespace {

bool regularising(const control_data &cd) {
    return cd.mode == "regularization" || cd.mode == "regularisation";
}

void group_lines(std::FILE *f, const control_data &cd) {
    for (int g = 1; g <= cd.observation_group_count; ++g) {
        std::fprintf(f, "Contribution to phi from observation group '%s'\t= %E\n",
                     cd.observation_groups[g].group_name.c_str(), cd.observation_groups[g].group_phi);
    }
}

void iteration_header(std::FILE *f, const control_data &cd, int iteration, int model_calls,
                      double measurement_phi_value, double regularisation_phi_value,
                      double total_phi) {
    if (cd.mode == "estimation") {
        std::fprintf(f, "\n");
        std::fprintf(f, "OPTIMIZATION ITERATION NO.\t\t\t\t: %d\n", iteration);
        std::fprintf(f, "Model Calls so far\t\t\t\t\t: %d\n", model_calls);
        std::fprintf(f, "Starting objective function value for this iteration\t: %E\n", total_phi);
        group_lines(f, cd);
        std::fprintf(f, "\n");
    } else if (regularising(cd)) {
        std::fprintf(f, "\n");
        std::fprintf(f, "OPTIMIZATION ITERATION NO.\t\t\t\t: %d\n", iteration);
        std::fprintf(f, "Model Calls so far\t\t\t\t\t: %d\n", model_calls);
        std::fprintf(f, "Current regularization weight factor                      =  %E\n",
                     cd.weight_factor);
        std::fprintf(f, "Current value of measurement objective function           =  %E\n",
                     measurement_phi_value);
        std::fprintf(f, "Current value of regularisation objective function        =  %E\n\n",
                     regularisation_phi_value);
        std::fprintf(f, "Starting objective function value for this iteration\t: %E\n", total_phi);
        group_lines(f, cd);
        std::fprintf(f, "\n");
    }
    std::fflush(f);
}

void weight_factor_lines(std::FILE *f, const control_data &cd, double new_phi) {
    if (!regularising(cd)) return;
    std::fprintf(f, "\n");
    std::fprintf(f, "Re-calculated regularisation weight factor                        =  %E\n",
                 cd.weight_factor);
    std::fprintf(f, "New starting objective function for this itn. (ie. phi)           =  %E\n",
                 new_phi);
    group_lines(f, cd);
    std::fprintf(f, "\n");
    std::fflush(f);
}

// Observations and prior equations of weight above 0 (within `group` when set).
int weighted_members(const control_data &cd, const std::string *group) {
    int count = 0;
    for (int k = 1; k <= cd.observation_count; ++k) {
        const observation_data &obs = cd.observations[k];
        if (obs.weight > 0.0 && (group == nullptr || obs.group == *group)) ++count;
    }
    for (int e = 1; e <= cd.prior_count; ++e) {
        const prior_information_data &pi = cd.prior_information[e];
        if (pi.weight > 0.0 && (group == nullptr || pi.group == *group)) ++count;
    }
    return count;
}

void sensitivity_lines(std::FILE *f, control_data &cd, const double_matrix &jacobian,
                       const double_matrix &prior, const std::string *group) {
    std::fprintf(f, " Parameter name    Group          Current value    Sensitivity       \n");
    int column = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind != 0) continue;
        ++column;
        parameter_data &par = cd.parameters[p];
        if (group != nullptr) {
            par.composite_sensitivity = composite_sensitivity(cd, jacobian, prior, column, group);
        }
        std::fprintf(f, "%s\t%s\t%lf\t%lf\n", par.name.c_str(), par.group.c_str(),
                     native_value(par, par.value), par.composite_sensitivity);
    }
}

}  // namespace

void report_both(std::FILE *record, const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    if (record != nullptr) {
        va_start(args, format);
        std::vfprintf(record, format, args);
        va_end(args);
    }
}

void print_iteration_header(const control_data &cd, int iteration, int model_calls,
                            double measurement_phi_value, double regularisation_phi_value,
                            double total_phi) {
    iteration_header(stdout, cd, iteration, model_calls, measurement_phi_value,
                     regularisation_phi_value, total_phi);
}

void write_iteration_header(std::FILE *record, const control_data &cd, int iteration,
                            int model_calls, double measurement_phi_value,
                            double regularisation_phi_value, double total_phi) {
    iteration_header(record, cd, iteration, model_calls, measurement_phi_value,
                     regularisation_phi_value, total_phi);
}

void print_weight_factor(const control_data &cd, double new_phi) {
    weight_factor_lines(stdout, cd, new_phi);
}

void write_weight_factor(std::FILE *record, const control_data &cd, double new_phi) {
    weight_factor_lines(record, cd, new_phi);
}

double composite_sensitivity(const control_data &cd, const double_matrix &jacobian,
                             const double_matrix &prior, int column, const std::string *group) {
    double sum = 0.0;
    int terms = 0;
    for (int k = 1; k <= cd.observation_count; ++k) {
        const observation_data &obs = cd.observations[k];
        if (!(obs.weight > 0.0) || (group != nullptr && obs.group != *group)) continue;
        const double t = obs.weight * jacobian(k, column);
        sum += t * t;
        ++terms;
    }
    const bool regularisation = regularising(cd);
    for (int e = 1; e <= cd.prior_count; ++e) {
        const prior_information_data &pi = cd.prior_information[e];
        if (!(pi.weight > 0.0) || (group != nullptr && pi.group != *group)) continue;
        double t = 0.0;
        if (regularisation) {
            if (prior.empty()) continue;
            t = pi.weight * prior(e, column) * cd.weight_factor;
        } else {
            t = pi.weight * jacobian(cd.observation_count + e, column);
        }
        sum += t * t;
        ++terms;
    }
    return terms > 0 ? std::sqrt(sum) / terms : 0.0;
}

calib_status check_parameter_effect(control_data &cd, const double_matrix &jacobian,
                                    const double_matrix &prior, std::FILE *record) {
    int column = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind != 0) continue;
        ++column;
        parameter_data &par = cd.parameters[p];
        par.composite_sensitivity = composite_sensitivity(cd, jacobian, prior, column, nullptr);
        if (std::fabs(par.composite_sensitivity) < 1e-8) {
            if (par.frozen_for_upgrade != 1) {
                par.frozen_for_upgrade = 1;
                ++cd.frozen_for_upgrade_count;
            }
            report_both(record, "   Parameter \"%s\" has no effect on observations.\n",
                        par.name.c_str());
        }
    }
    return 0;
}

calib_status write_sensitivities(control_data &cd, const double_matrix &jacobian,
                                 const double_matrix &prior, const file_names &names,
                                 int iteration, std::FILE *sensitivity, int completion) {
    std::FILE *f = sensitivity;
    if (completion == 0) {
        if (iteration == 1) {
            std::fprintf(f, "                        PARAMETER SENSITIVITIES: CASE %s\n",
                         names.case_name.c_str());
            std::fprintf(f, "\n");
            std::fprintf(f, "\n");
        }
        std::fprintf(f, " OPTIMISATION ITERATION NO.\t%d ----->\n", iteration);
        sensitivity_lines(f, cd, jacobian, prior, nullptr);
        std::fprintf(f, "\n");
        std::fprintf(f, "\n");
        std::fflush(f);
        return 0;
    }
    std::fprintf(f, "\n");
    std::fprintf(f, "                        COMPLETION OF OPTIMISATION PROCESS\n\n");
    for (int g = 1; g <= cd.observation_group_count; ++g) {
        const std::string group = cd.observation_groups[g].group_name;
        std::fprintf(f, " Composite sensitivities for observation group \"%s\" ----->\n\n",
                     group.c_str());
        const int members = weighted_members(cd, &group);
        if (members > 0) {
            std::fprintf(f, " Number of observations with non-zero weight =\t%d\n", members);
            sensitivity_lines(f, cd, jacobian, prior, &group);
        } else {
            std::fprintf(f, "\n No observations/prior_info with non-zero weight belong to this group.\n\n");
        }
        std::fprintf(f, "\n");
        std::fprintf(f, "\n");
    }
    std::fprintf(f, " Composite sensitivities for all observations/prior info ----->\n\n");
    std::fprintf(f, " Number of observations with non-zero weight =\t%d\n",
                 weighted_members(cd, nullptr));
    int column = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind != 0) continue;
        ++column;
        cd.parameters[p].composite_sensitivity =
            composite_sensitivity(cd, jacobian, prior, column, nullptr);
    }
    sensitivity_lines(f, cd, jacobian, prior, nullptr);
    std::fflush(f);
    return 0;
}

std::string parameter_value_text(double native) {
    char text[64];
    const double magnitude = std::fabs(native);
    // "%lf" has six decimals: from 0.1 up it shows six significant digits or
    // more; below that (except 0) and for very large values the exponent form
    // keeps the value readable and exact to seven digits.
    if (native == 0.0 || (magnitude >= 0.1 && magnitude < 1e15) || !std::isfinite(native)) {
        std::snprintf(text, sizeof text, "%lf", native);
    } else {
        std::snprintf(text, sizeof text, "%E", native);
    }
    return text;
}

void write_observation_row(std::FILE *record, const observation_data &o, double calculated) {
    const int decimals = o.measured_decimals < 0 ? 15 : o.measured_decimals;
    const char *form = o.measured_exponent || o.measured_decimals < 0 ? "%.*E" : "%.*f";
    std::fprintf(record, "%s\t\t", o.name.c_str());
    for (const double v : {o.measured, calculated, o.measured - calculated}) {
        std::fprintf(record, form, decimals, v);
        std::fprintf(record, "\t");
    }
    std::fprintf(record, "%lf\t%s\n", o.weight, o.group.c_str());
}

void write_parameter_value_file(std::FILE *parameter_values, const control_data &cd,
                                const std::vector<double> &values) {
    if (parameter_values == nullptr) return;
    // Rewinding clears the stream's error flag: a failed earlier write is noted first.
    if (std::ferror(parameter_values)) result_file_write_failed(parameter_values);
    std::rewind(parameter_values);
    for (int p = 1; p <= cd.parameter_count; ++p) {
        const std::string text = parameter_value_text(native_value(cd.parameters[p], values[p]));
        std::fprintf(parameter_values, "%s\n", text.c_str());
    }
    if (std::fflush(parameter_values) != 0 || std::ferror(parameter_values)) {
        result_file_write_failed(parameter_values);
    }
    // A shorter rewrite must not leave the tail of the previous one behind.
    const long end = std::ftell(parameter_values);
    if (end >= 0 && ftruncate(fileno(parameter_values), static_cast<off_t>(end)) != 0) {
        std::printf("Warning: the parameter value file could not be cut to its new length.\n");
    }
}
