// One model run and the objective functions of its results. The GML drivers,
// the Jacobian and the CMA-ES driver evaluate every parameter set through these.
#include "calibrator/engine/model_run.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calibrator/engine/instruction_files.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/template_files.h"

calib_status run_model_command(const control_data &cd) {
    std::fflush(stdout);
    std::fflush(stderr);
    // Asking for the command interpreter starts one, so it is asked once per
    // calibration rather than before every model run.
    static const bool interpreter_available = std::system(nullptr) != 0;
    if (!interpreter_available) {
        std::printf("\nCannot run the model: no command interpreter is available.\n");
        return 1;
    }
    const int rc = std::system(cd.model_command.c_str());
    if (rc == -1) {
        std::printf("\nCannot run the model command \"%s\": the command interpreter could not be started.\n",
                    cd.model_command.c_str());
        return 1;
    }
    // A model that ends with a non-zero status has failed: whatever its output
    // files hold (an earlier run's results, or part of this one's) is not
    // this run's result.
    if (WIFEXITED(rc) && WEXITSTATUS(rc) != 0) {
        std::printf("\nThe model command \"%s\" ended with exit status %d: the model run failed "
                    "and its output files are not read.\n",
                    cd.model_command.c_str(), WEXITSTATUS(rc));
        return 1;
    }
    if (WIFSIGNALED(rc)) {
        std::printf("\nThe model command \"%s\" was ended by signal %d: the model run failed "
                    "and its output files are not read.\n",
                    cd.model_command.c_str(), WTERMSIG(rc));
        return 1;
    }
    return 0;
}

calib_status remove_model_output_files(const control_data &cd) {
    for (int k = 1; k <= cd.instruction_count; ++k) {
        const std::string &name = cd.instruction_files[k].output_name;
        errno = 0;
        if (std::remove(name.c_str()) != 0 && errno != ENOENT) {
            std::printf("\nCannot remove model output file %s before the model run (%s);\n",
                        name.c_str(), std::strerror(errno));
            std::printf("its old values would be read as this run's results.\n");
            return 1;
        }
    }
    return 0;
}

calib_status run_model_once(control_data &cd, const file_names &names, int value_kind,
                            template_file_table &templates, instruction_file_table &instructions,
                            bool check_stop) {
    // A model that fails to write an output file then fails the run instead of
    // leaving the previous run's values to be read.
    instructions.non_finite_value = false;
    calib_status status = remove_model_output_files(cd);
    for (int j = 1; j <= cd.template_count && status == 0; ++j) {
        status = write_model_input_file(cd, names, j, value_kind, templates);
    }
    if (status == 0) status = run_model_command(cd);
    for (int k = 1; k <= cd.instruction_count && status == 0; ++k) {
        status = read_model_output_file(cd, names, k, value_kind, instructions);
    }
    if (status == 0 && check_stop) status = check_stop_file();
    return status;
}

calib_status measurement_phi(control_data &cd, int value_kind, double &phi) {
    phi = 0.0;
    for (int g = 1; g <= cd.observation_group_count; ++g) cd.observation_groups[g].group_phi = 0.0;
    for (int g = 1; g <= cd.observation_group_count; ++g) {
        observation_group_data &grp = cd.observation_groups[g];
        if (value_kind != 0 && value_kind != 1) continue;
        for (int k = 1; k <= cd.observation_count; ++k) {
            const observation_data &obs = cd.observations[k];
            if (obs.group != grp.group_name) continue;
            const double r = (obs.measured - obs.model_value[value_kind]) * obs.weight;
            grp.group_phi += r * r;
        }
    }
    for (int g = 1; g <= cd.observation_group_count; ++g) phi += cd.observation_groups[g].group_phi;
    return 0;
}

namespace {

// y(p) = sum over the adjustable parameters j of prior(p, j) x value_j, the
// adjustable parameters taken in parameter order with their stored values.
std::vector<double> prior_products(const control_data &cd, const double_matrix &prior) {
    std::vector<double> y(static_cast<std::size_t>(cd.prior_count) + 1, 0.0);
    if (cd.prior_count <= 0 || prior.empty()) return y;
    int column = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind != 0) continue;
        ++column;
        if (column > prior.col_high) break;
        for (int e = 1; e <= cd.prior_count; ++e) y[e] += prior(e, column) * cd.parameters[p].value;
    }
    return y;
}

}  // namespace

calib_status prior_information_phi(control_data &cd, const double_matrix &prior, double &result) {
    const std::vector<double> y = prior_products(cd, prior);
    result = 0.0;
    for (int g = 1; g <= cd.observation_group_count; ++g) {
        observation_group_data &grp = cd.observation_groups[g];
        for (int e = 1; e <= cd.prior_count; ++e) {
            const prior_information_data &pi = cd.prior_information[e];
            if (pi.group != grp.group_name) continue;
            const double r = (pi.prior_value - y[e]) * pi.weight;
            grp.group_phi += r * r;
            result += r * r;
        }
    }
    return 0;
}

calib_status regularisation_phi(control_data &cd, const double_matrix &prior, double &result) {
    const std::vector<double> y = prior_products(cd, prior);
    result = 0.0;
    for (int g = 1; g <= cd.observation_group_count; ++g) {
        observation_group_data &grp = cd.observation_groups[g];
        double weighted = 0.0;
        for (int e = 1; e <= cd.prior_count; ++e) {
            const prior_information_data &pi = cd.prior_information[e];
            if (pi.group != grp.group_name) continue;
            const double r = (pi.prior_value - y[e]) * pi.weight;
            grp.group_phi += r * r;
            result += grp.group_phi;
            grp.group_phi = 0.0;
            const double rw = (pi.prior_value - y[e]) * cd.weight_factor * pi.weight;
            weighted += rw * rw;
        }
        if (weighted > 0.0) grp.group_phi = weighted;
    }
    return 0;
}

calib_status check_stop_file() {
    std::FILE *f = std::fopen(stop_file_name, "r");
    if (f == nullptr) return 0;
    int code = 999;
    if (std::fscanf(f, "%d", &code) != 1) code = 999;
    if (code == 1) {
        std::fclose(f);
        nr_exit(0);
    }
    if (code == 2) {
        std::fclose(f);
        std::printf("\n\nThe varnock does not currently support\n");
        std::printf("ceasing execution with a full parameter statistics printout.\n\n");
        nr_exit(0);
    }
    if (code == 3) {
        std::fclose(f);
        std::printf("\n\nThe varnock does not currently support pausing execution.\n\n");
        nr_exit(0);
    }
    std::fclose(f);
    std::remove(stop_file_name);
    return 0;
}
