// MODE "estimation" and "regularization": the set-up shared by the GML drivers
// and the single model run of an estimation with max_iterations 0. Called by
// calibration_main. The GML iterations themselves are not part of this build.
#include "calibrator/engine/gml_driver.h"

#include <cstdio>
#include <cstring>

#include "calibrator/engine/model_run.h"
#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/run_reports.h"
#include "calibrator/engine/start_up_services.h"

namespace {

// The prior information matrix (prior_count x adjustable_count): element (k, j)
// is the factor of the term of prior equation k that names the j-th adjustable
// parameter. Empty when there is no prior information or no adjustable parameter.
double_matrix build_prior_matrix(const control_data &cd) {
    double_matrix prior;
    if (cd.prior_count < 1 || cd.adjustable_count < 1) return prior;
    prior = dmatrix(1, cd.prior_count, 1, cd.adjustable_count);
    for (int k = 1; k <= cd.prior_count; ++k) {
        const prior_information_data &pi = cd.prior_information[k];
        for (int t = 1; t <= pi.term_count && t <= max_prior_terms; ++t) {
            int position = 0;
            for (int p = 1; p <= cd.parameter_count; ++p) {
                int kind = 0;
                parameter_kind(cd, p, kind);
                if (kind != 0) continue;
                ++position;
                if (cd.parameters[p].name == pi.term_parameters[t]) {
                    prior(k, position) = pi.factors[t];
                    break;
                }
            }
        }
    }
    return prior;
}

// A second program argument asks for a restart; with max_iterations 0 nothing
// was ever saved to resume from.
calib_status refuse_second_argument(char *argv[], const file_names &names) {
    if (std::strcmp(argv[2], "/r") != 0) {
        std::printf("\nThe second argument \"%s\" is not understood; only \"/r\" (restart) is.\n",
                    argv[2]);
        return 1;
    }
    std::FILE *f = std::fopen(names.restart_name.c_str(), "rb");
    if (f == nullptr) {
        std::printf("\n\nError opening the restart file.\n");
        std::printf("Possibly previous run was not halted prematurely.\n\n");
        return 1;
    }
    std::fclose(f);
    std::printf("\nA run with max_iterations 0 makes one model run only and cannot be restarted.\n");
    return 1;
}

}  // namespace

calib_status optimise_estimation(int argc, char *argv[], control_data &cd, file_names names,
                                 std::FILE *record, std::FILE * /*sensitivity*/,
                                 std::FILE * /*matrix*/, std::FILE *parameter_values,
                                 template_file_table &templates,
                                 instruction_file_table &instructions) {
    if (cd.max_iterations != 0) {
        std::printf("\nParameter estimation with max_iterations other than 0 is not available in this build.\n");
        return 1;
    }
    if (argc >= 3) return refuse_second_argument(argv, names);

    calib_status status = 0;
    double_matrix prior = build_prior_matrix(cd);
    for (int p = 1; p <= cd.parameter_count; ++p) {
        parameter_data &par = cd.parameters[p];
        par.at_upper_bound = 0;
        par.at_lower_bound = 0;
        par.frozen = 0;
        par.frozen_for_upgrade = 0;
        par.composite_sensitivity = 0.0;
    }
    cd.frozen_for_upgrade_count = 0;

    status = run_model_once(cd, names, 0, templates, instructions, true);
    double phi = 0.0;
    if (status == 0) status = measurement_phi(cd, 0, phi);
    if (status == 0 && cd.prior_count >= 1) {
        double prior_phi = 0.0;
        status = prior_information_phi(cd, prior, prior_phi);
        phi += prior_phi;
    }
    if (status == 0) {
        print_start_up(phi, phi, phi, cd, names.case_name);
        write_record_header(record, parameter_values, phi, phi, phi, cd);
        write_optimisation_results(record, phi, double_matrix{}, double_matrix{}, double_matrix{},
                                   double_vector{}, cd, 0);
    }
    if (!prior.empty()) free_dmatrix(prior, 1, cd.prior_count, 1, cd.adjustable_count);
    return status;
}

calib_status optimise_regularisation(int /*argc*/, char * /*argv*/[], control_data & /*cd*/,
                                     file_names /*names*/, std::FILE * /*record*/,
                                     std::FILE * /*sensitivity*/, std::FILE * /*matrix*/,
                                     std::FILE * /*parameter_values*/,
                                     template_file_table & /*templates*/,
                                     instruction_file_table & /*instructions*/) {
    std::printf("\nRegularisation mode is not available in this build.\n");
    return 1;
}
