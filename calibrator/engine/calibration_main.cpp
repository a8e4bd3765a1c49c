// Entry of varnock, called by main: runs the start-up steps in order while no
// step has failed, opens the output files named after the case and hands the
// calibration problem to the handler of the MODE.
#include "calibrator/engine/calibration_main.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "calibrator/engine/cmaes_entry.h"
#include "calibrator/engine/control_file.h"
#include "calibrator/engine/gml_driver.h"
#include "calibrator/engine/instruction_files.h"
#include "calibrator/engine/model_run.h"
#include "calibrator/engine/result_files.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/template_files.h"

namespace {

bool known_mode(const std::string &mode) {
    return mode == "scemua" || mode == "estimation" || mode == "regularization" ||
           mode == "regularisation" || mode == "cmaes" || mode == "cmaesrbf" || mode == "rbf";
}

// The output files handed to every handler, in the order of its arguments.
struct output_files {
    std::FILE *record = nullptr;
    std::FILE *sensitivity = nullptr;
    std::FILE *matrix = nullptr;
    std::FILE *parameter_values = nullptr;

};

// A restart keeps what the files hold: the record and sensitivity files are
// appended to, and the parameter value file keeps the best values of the
// interrupted run until the driver rewrites it (to its new length). Every file
// is written under a temporary name until the run ends with success.
calib_status open_output_files(int argc, char *argv[], const file_names &names, output_files &out) {
    const bool restart = argc >= 3 && std::strcmp(argv[2], "/r") == 0;
    out.record = result_file_open(names.record_name, restart, true);
    if (out.record != nullptr) out.sensitivity = result_file_open(names.sensitivity_name, restart, true);
    if (out.sensitivity != nullptr) out.matrix = result_file_open(names.matrix_name, restart, false);
    if (out.matrix != nullptr) out.parameter_values = result_file_open(names.parameter_value_name, restart, false);
    if (out.parameter_values == nullptr) {
        pause_for_reading();
        return 1;
    }
    return 0;
}

bool gml_mode_name(const std::string &mode) {
    return mode == "estimation" || mode == "regularization" || mode == "regularisation";
}

calib_status run_cmaes_passes(int argc, char *argv[], control_data &cd, const file_names &names,
                              output_files &out, template_file_table &templates,
                              instruction_file_table &instructions) {
    std::FILE *test = result_file_open("test.prn", false, false);
    if (test == nullptr) return 1;
    // One pass; the average line covers every pass made.
    const int passes = 1;
    double sum_of_best = 0.0;
    int valued = 0;
    calib_status status = 0;
    for (int pass = 1; pass <= passes; ++pass) {
        double best = 0.0;
        status = run_cmaes(argc, argv, cd, names, out.record, out.sensitivity, out.matrix,
                           out.parameter_values, templates, instructions, best);
        // Only a value a model run returned is reported.
        if (std::isfinite(best)) {
            std::fprintf(test, "The best function value for iteration %d is %g\n", pass, best);
            sum_of_best += best;
            ++valued;
        } else {
            std::fprintf(test, "No model run of iteration %d returned a function value.\n", pass);
        }
    }
    if (valued > 0) {
        std::fprintf(test, "\nThe average of all the best function values is %g", sum_of_best / valued);
    }
    return status;
}

calib_status dispatch(int argc, char *argv[], control_data &cd, const file_names &names,
                      output_files &out, template_file_table &templates,
                      instruction_file_table &instructions) {
    const std::string &mode = cd.mode;
    if (mode == "scemua") {
        return run_scemua(argc, argv, cd, names, out.record, out.sensitivity, out.matrix,
                          out.parameter_values, templates, instructions);
    }
    if (mode == "estimation") {
        return optimise_estimation(argc, argv, cd, names, out.record, out.sensitivity, out.matrix,
                                   out.parameter_values, templates, instructions);
    }
    if (mode == "regularization" || mode == "regularisation") {
        // Prior information is checked before the output files are opened.
        return optimise_regularisation(argc, argv, cd, names, out.record, out.sensitivity,
                                       out.matrix, out.parameter_values, templates, instructions);
    }
    if (mode == "cmaes" || mode == "cmaesrbf") {
        return run_cmaes_passes(argc, argv, cd, names, out, templates, instructions);
    }
    if (mode == "rbf") return rbf_self_test(argc, argv, cd);
    return 1;  // refused at start-up already
}

}  // namespace

calib_status FilesNamesForWrite(char *argv[], file_names &names) {
    const std::string argument = argv[1] != nullptr ? argv[1] : "";
    const std::size_t slash = argument.find_last_of('/');
    const std::string last = slash == std::string::npos ? argument : argument.substr(slash + 1);
    const std::string case_name = last.substr(0, last.find('.'));
    if (case_name.empty()) {
        std::printf("\nThe control file name \"%s\" gives no case name for the output files.\n",
                    argument.c_str());
        pause_for_reading();
        return 1;
    }
    names.case_name = case_name;
    names.record_name = case_name + ".rec";
    names.sensitivity_name = case_name + ".sen";
    names.matrix_name = case_name + ".mtt";
    names.parameter_value_name = case_name + ".par";
    names.restart_name = case_name + ".rst";
    return 0;
}

calib_status run_scemua(int /*argc*/, char * /*argv*/[], control_data & /*cd*/,
                        file_names /*names*/, std::FILE * /*record*/, std::FILE * /*sensitivity*/,
                        std::FILE * /*matrix*/, std::FILE * /*parameter_values*/,
                        template_file_table & /*templates*/,
                        instruction_file_table & /*instructions*/) {
    return 0;
}

calib_status calibration_main(int argc, char *argv[]) {
    if (argc < 2) {
        std::printf("\n");
        std::printf("No command line arguments.\n");
        std::printf("At the command prompt, please also enter the name\n");
        std::printf("of the input control file following the Program name.\n");
        return 1;
    }
    control_data cd;
    template_file_table templates;
    instruction_file_table instructions;
    file_names names;
    output_files out;

    calib_status status = read_control_file(cd, argc, argv);
    if (status == 0) status = open_template_files(cd, templates);
    if (status == 0) status = scan_template_files(cd, templates);
    if (status == 0) status = open_instruction_files(cd, instructions);
    if (status == 0) status = check_instruction_files(cd, instructions);
    if (status == 0) std::remove(stop_file_name);
    if (status == 0 && cd.mode == "prediction") {
        std::printf("\n");
        std::printf("Currently, the Varnock does not support prediction capabilities.\n");
        std::printf("Please change the MODE parameter in the control\n");
        std::printf("file to 'estimation' or 'regularization' and recommence execution of the Varnock.\n");
        std::printf("\n");
        status = 1;
    }
    if (status == 0 && !known_mode(cd.mode)) {
        std::printf("\nUnknown MODE \"%s\" in the control file.\n", cd.mode.c_str());
        std::printf("Use estimation, regularization (or regularisation), cmaes, cmaesrbf, rbf or scemua.\n\n");
        status = 1;
    }
    if (status == 0) status = count_parameter_kinds(cd);
    if (status == 0) status = set_tie_ratios(cd);
    if (status == 0) status = FilesNamesForWrite(argv, names);
    if (status == 0 && gml_mode_name(cd.mode)) status = check_gml_start(argc, argv, cd, names);
    result_files_guard_exits();
    if (status == 0) status = open_output_files(argc, argv, names, out);
    if (status == 0) status = dispatch(argc, argv, cd, names, out, templates, instructions);

    close_template_files(cd, templates);
    close_instruction_files(cd, instructions);
    if (result_files_finish(status == 0) != 0) status = 1;
    result_files_restore_exits();
    std::fflush(stdout);
    return status;
}
