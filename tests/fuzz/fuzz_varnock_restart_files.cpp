// Fuzz harness of varnock's restart file and the CMA-ES parameter file: the
// input is read as the restart file of an estimation and of a regularisation
// run of the straight-line case of tests/data/varnock_line (two adjustable
// parameters, three observations, at most 10 iterations), and as "initials.par"
// of a CMA-ES run of that problem (its settings record is removed after each input).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "calibrator/cmaes/cmaes.h"
#include "calibrator/cmaes/cmaes_support.h"
#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/restart.h"
#include "calibrator/engine/start_up_services.h"
#include "fuzz_support.h"

namespace {

control_data restart_problem() {
    control_data cd;
    cd.parameter_count = 2;
    cd.adjustable_count = 2;
    cd.observation_count = 3;
    cd.observation_group_count = 1;
    cd.max_iterations = 10;
    cd.parameters.assign(3, parameter_data{});
    cd.observations.assign(4, observation_data{});
    cd.observation_groups.assign(2, observation_group_data{});
    return cd;
}

// Reads the file with the driver's own shapes (without prior information both
// drivers have O Jacobian rows).
void read_as(bool estimation, const file_names &names) {
    control_data cd = restart_problem();
    const int rows = 3;
    double_matrix jacobian = dmatrix(1, rows, 1, 2), best_jacobian = dmatrix(1, rows, 1, 2);
    double_vector phi_history, best_model_values = dvector(1, 3), base_values = dvector(1, 2);
    extend_dvector(phi_history, 1, cd.max_iterations);
    std::vector<double> best_values(3, 0.0);
    int iteration = 0, best_iteration = 0, switched = 0, small_changes = 0, calls = 0;
    double phi = 0.0, best_phi = 0.0, largest = 0.0, last = 0.0;
    restart_state s{&jacobian, &best_jacobian, &iteration, &phi, &phi_history, &best_values,
                    &best_model_values, &best_phi, &best_iteration, &switched, &largest,
                    &small_changes, &last, &base_values, &calls, rows};
    if (estimation)
        read_restart_file(s, cd, names);
    else
        read_restart_file_regularised(s, cd, names);
    free_dmatrix(jacobian, 1, rows, 1, 2);
    free_dmatrix(best_jacobian, 1, rows, 1, 2);
    free_dvector(phi_history, 1, phi_history.high);
    free_dvector(best_model_values, 1, 3);
    free_dvector(base_values, 1, 2);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_nr_exit_handler(fuzzsupport::throw_exit);
    set_cmaes_exit_handler(fuzzsupport::throw_exit);
    set_reading_pause_ms(0);
    // The CMA-ES reader writes its settings record and messages into the working directory.
    if (chdir(fuzzsupport::scratch_dir().c_str()) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    file_names names;
    names.restart_name = fuzzsupport::write_scratch("case.rst", data, size);
    try {
        read_as(true, names);
    } catch (const fuzzsupport::exit_requested &) {
    }
    try {
        read_as(false, names);
    } catch (const fuzzsupport::exit_requested &) {
    }
    readpara_t sp;
    const control_data cd = restart_problem();
    try {
        readpara_readpara_t(sp, 0, 0, nullptr, nullptr, 0, names.restart_name.c_str(), &cd);
    } catch (const fuzzsupport::exit_requested &) {
    }
    readpara_release(sp);
    std::remove("actparcmaes.par");
    std::remove("errcmaes.err");
    return 0;
}
