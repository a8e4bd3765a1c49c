// Reports of the GML drivers: the start-up screen, the run record header and
// parameter value file, and the "OPTIMISATION RESULTS" section written at the
// end of an estimation or regularisation run.
#include "calibrator/engine/run_reports.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "calibrator/engine/reports.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/statistics.h"

namespace {

bool regularising(const control_data &cd) {
    return cd.mode == "regularization" || cd.mode == "regularisation";
}

double shown_value(const parameter_data &p) { return native_value(p, p.value); }

int kind_of(const control_data &cd, int p) {
    int kind = 0;
    parameter_kind(cd, p, kind);
    return kind;
}

// The names of the adjustable parameters, 1-based in parameter order.
std::vector<int> adjustable_list(const control_data &cd) {
    std::vector<int> list(1, 0);
    for (int p = 1; p <= cd.parameter_count; ++p) {
        if (kind_of(cd, p) == 0) list.push_back(p);
    }
    return list;
}

void write_element(std::FILE *f, double v, bool small_in_e_format) {
    if (small_in_e_format && !(std::fabs(v) > 1e-4)) {
        std::fprintf(f, "%.4E", v);
    } else {
        std::fprintf(f, "%lf", v);
    }
}

void write_matrix_table(std::FILE *f, const char *title, const double_matrix &m,
                        const control_data &cd, const std::vector<int> &list,
                        bool small_in_e_format) {
    const int n = static_cast<int>(list.size()) - 1;
    std::fprintf(f, "%s", title);
    std::fprintf(f, "\t\t");
    for (int j = 1; j <= n; ++j) {
        std::fprintf(f, "%s", cd.parameters[list[j]].name.c_str());
        std::fputc(j < n ? '\t' : '\n', f);
    }
    for (int i = 1; i <= n; ++i) {
        std::fprintf(f, "%s\t", cd.parameters[list[i]].name.c_str());
        for (int j = 1; j <= n; ++j) {
            write_element(f, m(i, j), small_in_e_format);
            std::fputc(j < n ? '\t' : '\n', f);
        }
    }
    std::fprintf(f, "\n");
    std::fprintf(f, "\n");
}

void write_group_lines(std::FILE *f, const control_data &cd, const char *format) {
    for (int g = 1; g <= cd.observation_group_count; ++g) {
        std::fprintf(f, format, cd.observation_groups[g].group_name.c_str(),
                     cd.observation_groups[g].group_phi);
    }
}

}  // namespace

void print_start_up(double measurement_phi_value, double regularisation_phi_value,
                    double total_phi, const control_data &cd, const std::string &case_name) {
    std::printf("\n");
    std::printf("Varnock Version 1.00.\n");
    std::printf("Built on %s %s.\n", __DATE__, __TIME__);
    std::printf("Model-independent calibration for the KORVA hydrology suite:\n");
    std::printf("Gauss-Marquardt-Levenberg estimation and regularisation,\n");
    std::printf("evolutionary search with an optional surrogate.\n");
    std::printf("Hydrology modelling team.\n");
    std::printf("\n");
    if (cd.mode == "estimation") {
        std::printf("Varnock is running in parameter estimation mode.\n\n");
    } else if (regularising(cd)) {
        std::printf("Varnock is running in regularization mode.\n\n");
    }
    std::printf("Varnock run record: case %s\n", case_name.c_str());
    std::printf("\n");
    std::printf("Model command line:\n");
    std::printf("%s\n", cd.model_command.c_str());
    std::printf("\n");
    std::printf("Running model ...\n");
    std::printf("\n");
    if (regularising(cd)) {
        std::printf("  Current regularization weight factor                      =  %E\n",
                    cd.weight_factor_initial);
        std::printf("  Current value of measurement objective function           =  %E\n",
                    measurement_phi_value);
        std::printf("  Current value of regularisation objective function        =  %E\n\n",
                    regularisation_phi_value);
    }
    std::printf("Sum of squared weighted residuals = %E\n", total_phi);
    for (int g = 1; g <= cd.observation_group_count; ++g) {
        std::printf("Contribution to phi from observation group '%s' = %E\n",
                    cd.observation_groups[g].group_name.c_str(), cd.observation_groups[g].group_phi);
    }
    std::printf("\n");
}

void write_record_header(std::FILE *record, std::FILE *parameter_values,
                         double measurement_phi_value, double regularisation_phi_value,
                         double total_phi, const control_data &cd) {
    std::fprintf(record, "                            OPTIMIZATION RECORD\n\n");
    if (regularising(cd)) {
        // The weight factor is not adjusted: value 4 holds in every
        // iteration, and the targets of values 1 to 3 are not sought.
        std::fprintf(record, "REGULARISATION VALUES (control file, last section):\n");
        const struct {
            const char *what;
            double value;
        } values[] = {
            {"1 target measurement objective function  ", cd.phi_measurement_limit},
            {"2 acceptable measurement objective function", cd.phi_measurement_accept},
            {"3 measurement objective function fraction", cd.phi_measurement_fraction},
            {"4 weight factor                          ", cd.weight_factor_initial},
            {"5 least weight factor                    ", cd.weight_factor_min},
            {"6 greatest weight factor                 ", cd.weight_factor_max},
            {"7 weight factor change factor            ", cd.weight_factor_factor},
            {"8 weight factor tolerance                ", cd.weight_factor_tolerance},
        };
        for (int v = 0; v < 8; ++v) {
            std::fprintf(record, "  %s  =  %E   %s\n", values[v].what, values[v].value,
                         v == 3 ? "used: the weight factor of every iteration" : "read, not used");
        }
        std::fprintf(record, "\n");
    }
    std::fprintf(record, "INITIAL CONDITIONS:\n");
    if (regularising(cd)) {
        std::fprintf(record, "  Current regularization weight factor                      =  %E\n",
                     cd.weight_factor_initial);
        std::fprintf(record, "  Current value of measurement objective function           =  %E\n",
                     measurement_phi_value);
        std::fprintf(record, "  Current value of regularisation objective function        =  %E\n\n",
                     regularisation_phi_value);
    }
    std::fprintf(record, "   Sum of squared weighted residuals = %E\n", total_phi);
    write_group_lines(record, cd, "   Contribution to phi from observation group '%s' = %E\n");
    std::fprintf(record, "\n");
    std::fprintf(record, "      Current parameter values\n");
    for (int p = 1; p <= cd.parameter_count; ++p) {
        std::fprintf(record, "      %s               %lf\n", cd.parameters[p].name.c_str(),
                     shown_value(cd.parameters[p]));
    }
    std::vector<double> values(static_cast<std::size_t>(cd.parameter_count) + 1, 0.0);
    for (int p = 1; p <= cd.parameter_count; ++p) values[static_cast<std::size_t>(p)] = cd.parameters[p].value;
    write_parameter_value_file(parameter_values, cd, values);
}

void write_optimisation_results(std::FILE *record, double phi, const double_matrix &covariance,
                                const double_matrix &correlation,
                                const double_matrix &eigenvectors,
                                const double_vector &eigenvalues, const control_data &cd,
                                int singular) {
    const std::vector<int> list = adjustable_list(cd);
    const int n = static_cast<int>(list.size()) - 1;
    const bool no_statistics = singular != 0 || cd.max_iterations == 0;

    std::fprintf(record, "\n\n");
    std::fprintf(record, "                            OPTIMISATION RESULTS\n");
    std::fprintf(record, "\n\n");
    if (no_statistics) {
        std::fprintf(record, "Covariance matrix and parameter confidence intervals cannot be determined:\n");
        if (singular == covariance_singular) {
            std::fprintf(record, "Normal matrix nearly singular; cannot be inverted.\n\n");
        } else if (singular == covariance_no_degrees_of_freedom) {
            std::fprintf(record, "No more observations of non-zero weight than adjustable parameters.\n\n");
        }
        if (cd.max_iterations == 0) {
            std::fprintf(record, "No optimisation iterations carried out so Jacobian never calculated..\n\n");
        }
    }

    std::fprintf(record, "Adjustable Parameters ----->\n");
    std::fprintf(record, "\n");
    if (no_statistics) {
        std::fprintf(record, "Parameter        Estimated\n");
        std::fprintf(record, "                 value\n");
        for (int j = 1; j <= n; ++j) {
            const parameter_data &p = cd.parameters[list[j]];
            std::fprintf(record, "%s              %10lf\n", p.name.c_str(), shown_value(p));
        }
        std::fprintf(record, "\n\n\n");
    } else {
        double t = 0.0;
        student_t_two_sided_95(weighted_count(cd) - cd.adjustable_count, t);
        std::fprintf(record, "Parameter        Estimated         95 percent confidence limits\n");
        std::fprintf(record, "                 value             lower limit       upper limit\n");
        std::string unbounded;
        for (int j = 1; j <= n; ++j) {
            const parameter_data &p = cd.parameters[list[j]];
            const double spread = t * std::sqrt(covariance(j, j));
            const double lower = native_value(p, p.value - spread);
            const double upper = native_value(p, p.value + spread);
            std::fprintf(record, "%s              %10lf         ", p.name.c_str(), native_value(p, p.value));
            // A limit beyond the largest number (10 to a power past 308 for a
            // log-transformed parameter) is no number to print.
            if (std::isfinite(lower)) {
                std::fprintf(record, "%10lf        ", lower);
            } else {
                std::fprintf(record, "%10s        ", "unbounded");
            }
            if (std::isfinite(upper)) {
                std::fprintf(record, "%10lf\n", upper);
            } else {
                std::fprintf(record, "%10s\n", "unbounded");
            }
            if (!std::isfinite(lower) || !std::isfinite(upper)) unbounded += " " + p.name;
        }
        std::fprintf(record, "\n");
        if (!unbounded.empty()) {
            std::fprintf(record, "Note: the limits of%s are beyond the largest number the record can hold:\n",
                         unbounded.c_str());
            std::fprintf(record, "      the observations do not determine these parameters.\n\n");
        }
        std::fprintf(record, "Note: confidence limits provide only an indication of parameter uncertainty.\n");
        std::fprintf(record, "      They rely on a linearity assumption which  may not extend as far in\n");
        std::fprintf(record, "      parameter space as the confidence limits themselves.\n\n\n");
    }

    if (cd.tied_count > 0) {
        std::fprintf(record, "Tied parameters ----->\n\n");
        for (int p = 1; p <= cd.parameter_count; ++p) {
            if (kind_of(cd, p) != 2) continue;
            std::fprintf(record, "%s              %10lf\n", cd.parameters[p].name.c_str(),
                         cd.parameters[p].value);
        }
        std::fprintf(record, "\n\n");
    }
    if (cd.fixed_count > 0) {
        std::fprintf(record, "Fixed parameters ----->\n\n");
        std::fprintf(record, "Parameter        Fixed value\n");
        for (int p = 1; p <= cd.parameter_count; ++p) {
            if (kind_of(cd, p) != 1) continue;
            std::fprintf(record, "%s              %10lf\n", cd.parameters[p].name.c_str(),
                         cd.parameters[p].value);
        }
        std::fprintf(record, "\n\n");
    }

    std::fprintf(record, "Observations ----->\n");
    std::fprintf(record, "\n");
    std::fprintf(record, "Observation            Measured       Calculated     Residual       Weight     Group\n");
    std::fprintf(record, "                       value          value\n");
    for (int k = 1; k <= cd.observation_count; ++k) {
        const observation_data &o = cd.observations[k];
        write_observation_row(record, o, o.model_value[0]);
    }
    std::fprintf(record, "\n\n\n");

    std::fprintf(record, "Objective function ----->\n");
    std::fprintf(record, "\n");
    std::fprintf(record, "Sum of squared weighted residuals (ie phi)\t\t: %E\n", phi);
    write_group_lines(record, cd, "Contribution to phi from observation group '%s'\t= %E\n");
    std::fprintf(record, "\n\n");

    if (no_statistics) {
        std::fprintf(record, "Covariance and other statistical matricies cannot be determined:\n");
        if (singular == covariance_singular) {
            std::fprintf(record, "Normal matrix nearly singular; cannot be inverted.\n");
        } else if (singular == covariance_no_degrees_of_freedom) {
            std::fprintf(record, "No more observations of non-zero weight than adjustable parameters.\n");
        }
        if (cd.max_iterations == 0) {
            std::fprintf(record, "No optimisation iterations carried out so Jacobian never calculated.\n");
        }
    } else {
        write_matrix_table(record, "Parameter covariance matrix ----->\n", covariance, cd, list, true);
        write_matrix_table(record, "Parameter correlation coefficient matrix ----->\n", correlation,
                           cd, list, false);
        write_matrix_table(record, "Normalized eigenvectors of covariance matrix ----->\n",
                           eigenvectors, cd, list, false);
        std::fprintf(record, "Eigenvalues ----->\n");
        std::fprintf(record, "\n");
        std::fprintf(record, "\t");
        for (int j = 1; j <= n; ++j) {
            write_element(record, eigenvalues[j], true);
            std::fprintf(record, "\t");
        }
    }
    std::fflush(record);
}
