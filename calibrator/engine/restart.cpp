// Writer and reader of the restart file (case + ".rst") of the GML drivers.
// Written after every iteration when restart_switch is "restart"; read before
// the first iteration when varnock is started with "/r".
#include "calibrator/engine/restart.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "calibrator/engine/model_run.h"
#include "calibrator/engine/start_up_services.h"

namespace {

// "%.17g" reads back to the same double; the reader takes any "%lf" form.
void put_real(std::FILE *f, double v) { std::fprintf(f, "%.17g\n", v); }
void put_int(std::FILE *f, int v) { std::fprintf(f, "%d\n", v); }

void put_jacobian(std::FILE *f, const double_matrix &j, int rows, int columns) {
    for (int k = 1; k <= rows; ++k) {
        for (int c = 1; c <= columns; ++c) std::fprintf(f, "%.17g\t", j(k, c));
        std::fprintf(f, "\n");
    }
}

calib_status write_restart(const restart_state &s, const control_data &cd, const file_names &names,
                           bool estimation) {
    // Written beside the old file and renamed over it, so that a failed write
    // leaves the previous restart file in place.
    const std::string fresh = names.restart_name + ".new";
    std::FILE *f = std::fopen(fresh.c_str(), "wb");
    if (f == nullptr) {
        std::printf("\nCannot create the restart file %s.\n", names.restart_name.c_str());
        return 1;
    }
    const int a = cd.adjustable_count;
    if (estimation) {
        put_int(f, cd.partial_jacobian);
        put_int(f, cd.partial_jacobian_conditional);
        put_real(f, cd.partial_jacobian_ratio);
        put_int(f, cd.partial_jacobian_columns);
    }
    put_jacobian(f, *s.jacobian, s.jacobian_rows, a);
    put_jacobian(f, *s.best_jacobian, s.jacobian_rows, a);
    const int k = *s.iteration;
    put_int(f, k);
    put_real(f, *s.phi);
    // Entries beyond those filled so far (the iteration being started) are 0.
    for (int i = 1; i <= k; ++i) {
        const bool held = !s.phi_history->empty() && i <= s.phi_history->high;
        put_real(f, held ? (*s.phi_history)[i] : 0.0);
    }
    for (int p = 1; p <= cd.parameter_count; ++p) put_real(f, (*s.best_values)[p]);
    for (int o = 1; o <= cd.observation_count; ++o) put_real(f, (*s.best_model_values)[o]);
    put_real(f, *s.best_phi);
    put_int(f, *s.best_iteration);
    put_int(f, *s.switched);
    for (int o = 1; o <= cd.observation_count; ++o) put_real(f, cd.observations[o].model_value[0]);
    for (int o = 1; o <= cd.observation_count; ++o) put_real(f, cd.observations[o].model_value[1]);
    for (int p = 1; p <= cd.parameter_count; ++p) put_real(f, cd.parameters[p].value);
    for (int g = 1; g <= cd.observation_group_count; ++g) put_real(f, cd.observation_groups[g].group_phi);
    put_real(f, cd.lambda);
    put_real(f, *s.largest_relative_change);
    put_int(f, *s.small_change_count);
    put_real(f, *s.last_relative_change);
    for (int c = 1; c <= a; ++c) put_real(f, (*s.base_values)[c]);
    put_int(f, *s.model_calls);
    const bool failed = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || failed || std::rename(fresh.c_str(), names.restart_name.c_str()) != 0) {
        std::remove(fresh.c_str());
        std::printf("\nCannot write the restart file %s.\n", names.restart_name.c_str());
        return 1;
    }
    return 0;
}

// Reads the items in order; the first one missing or malformed fails the read.
struct restart_reader {
    std::FILE *f;
    std::string name;
    std::string item;  // what the next read is, for the message
    bool ok = true;

    // Phis and relative changes may be infinite (a failed trial, a change from
    // 0); no item may be not a number, and every other item is finite.
    bool real(double &v, const char *what, bool infinite_allowed = false) {
        if (!ok) return false;
        item = what;
        if (std::fscanf(f, "%lf", &v) != 1 || std::isnan(v) || (!infinite_allowed && std::isinf(v)))
            ok = false;
        return ok;
    }
    bool integer(int &v, const char *what) {
        if (!ok) return false;
        item = what;
        if (std::fscanf(f, "%d", &v) != 1) ok = false;
        return ok;
    }
    bool jacobian(double_matrix &j, int rows, int columns, const char *what) {
        for (int k = 1; k <= rows && ok; ++k) {
            for (int c = 1; c <= columns && ok; ++c) real(j(k, c), what);
        }
        return ok;
    }
    calib_status fail() const {
        std::printf("\nThe restart file %s cannot be used: %s is missing or not a valid number.\n",
                    name.c_str(), item.c_str());
        std::printf("It must be written by a run of the same control file.\n");
        return 1;
    }
};

calib_status read_restart(restart_state &s, control_data &cd, const file_names &names,
                          bool estimation) {
    std::FILE *f = std::fopen(names.restart_name.c_str(), "rb");
    if (f == nullptr) {
        std::printf("\n\nError opening the restart file.\n");
        std::printf("Possibly previous run was not halted prematurely.\n\n");
        std::fflush(stdout);
        return 1;
    }
    restart_reader r{f, names.restart_name, "", true};
    const int a = cd.adjustable_count;
    if (estimation) {
        int partial = 0;
        int conditional = 0;
        double ratio = 0.0;
        int columns = 0;
        r.integer(partial, "the partial Jacobian switch");
        r.integer(conditional, "the partial Jacobian condition");
        r.real(ratio, "the partial Jacobian ratio");
        r.integer(columns, "the partial Jacobian column count");
        if (r.ok && ((partial != 0 && partial != 1) || (conditional != 0 && conditional != 1) ||
                     columns < 0)) {
            std::fclose(f);
            std::printf("\nThe restart file %s holds partial Jacobian settings that are not valid.\n",
                        names.restart_name.c_str());
            return 1;
        }
        if (r.ok) {
            cd.partial_jacobian = partial;
            cd.partial_jacobian_conditional = conditional;
            cd.partial_jacobian_ratio = ratio;
            cd.partial_jacobian_columns = columns;
        }
    }
    r.jacobian(*s.jacobian, s.jacobian_rows, a, "an element of the Jacobian");
    r.jacobian(*s.best_jacobian, s.jacobian_rows, a, "an element of the best Jacobian");
    int k = 0;
    if (r.integer(k, "the iteration number") && (k < 1 || k > cd.max_iterations)) {
        std::fclose(f);
        std::printf("\nThe restart file %s holds iteration %d, which is not between 1 and the\n"
                    "iteration limit %d of the control file.\n",
                    names.restart_name.c_str(), k, cd.max_iterations);
        return 1;
    }
    if (r.ok) extend_dvector(*s.phi_history, k, cd.max_iterations);
    r.real(*s.phi, "phi", true);
    for (int i = 1; i <= k && r.ok; ++i) r.real((*s.phi_history)[i], "an entry of the phi history", true);
    for (int p = 1; p <= cd.parameter_count && r.ok; ++p) r.real((*s.best_values)[p], "a best parameter value");
    for (int o = 1; o <= cd.observation_count && r.ok; ++o) r.real((*s.best_model_values)[o], "a best model value");
    r.real(*s.best_phi, "the best phi", true);
    r.integer(*s.best_iteration, "the best iteration");
    r.integer(*s.switched, "the switched flag");
    for (int o = 1; o <= cd.observation_count && r.ok; ++o) r.real(cd.observations[o].model_value[0], "a model value");
    for (int o = 1; o <= cd.observation_count && r.ok; ++o) r.real(cd.observations[o].model_value[1], "a trial model value");
    for (int p = 1; p <= cd.parameter_count && r.ok; ++p) r.real(cd.parameters[p].value, "a parameter value");
    for (int g = 1; g <= cd.observation_group_count && r.ok; ++g) r.real(cd.observation_groups[g].group_phi, "a group share of phi", true);
    r.real(cd.lambda, "lambda");
    r.real(*s.largest_relative_change, "the largest relative change", true);
    r.integer(*s.small_change_count, "the small-change counter");
    r.real(*s.last_relative_change, "the last relative change", true);
    for (int c = 1; c <= a && r.ok; ++c) r.real((*s.base_values)[c], "a base value");
    r.integer(*s.model_calls, "the model-call counter");
    std::fclose(f);
    if (!r.ok) return r.fail();
    if (*s.model_calls < 0 || *s.best_iteration < 0 || *s.small_change_count < 0 ||
        (*s.switched != 0 && *s.switched != 1)) {
        std::printf("\nThe restart file %s holds counters that are not valid.\n",
                    names.restart_name.c_str());
        return 1;
    }
    *s.iteration = k;
    return 0;
}

}  // namespace

calib_status write_restart_file(const restart_state &s, const control_data &cd,
                                const file_names &names) {
    return write_restart(s, cd, names, true);
}

calib_status write_restart_file_regularised(const restart_state &s, const control_data &cd,
                                            const file_names &names) {
    return write_restart(s, cd, names, false);
}

calib_status read_restart_file(restart_state &s, control_data &cd, const file_names &names) {
    return read_restart(s, cd, names, true);
}

calib_status read_restart_file_regularised(restart_state &s, control_data &cd,
                                           const file_names &names) {
    return read_restart(s, cd, names, false);
}
