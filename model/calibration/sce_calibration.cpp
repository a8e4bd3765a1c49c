// The "-c" mode: reads the SCE input file and the observations, runs the SCE-UA
// search with the calibration objective, and reports the best parameters on the
// console and in "best.out". Called by the command line.
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/replace_params.h"
#include "model/calibration/calibration_objective.h"
#include "model/calibration/sce_optimizer.h"

namespace {

void report_best(const sce_optimizer &opt, int runs) {
    std::vector<double> best(static_cast<std::size_t>(opt.n) + 1, 0.0);
    sce_best_point(opt, best.data());
    std::FILE *file = open_calibration_file("best.out");
    // The console lines stand, but the results file is missing: status 1.
    if (!file) {
        std::printf("Error: unable to create the output file best.out\n");
        calibration_output_failed = 1;
    }
    std::printf("The best results of the SCE calibration after %d runs:\n", runs);
    if (file) std::fprintf(file, "The best results of the SCE calibration %d runs:\n", runs);
    // A line naming the parameters in the order of the values: the tags of the list.
    replace_param_list.clear();
    const bool named = read_replace_params(opt.replace_list_file) == 0;
    std::string names = "parameters:";
    for (int j = 1; j <= opt.n; ++j) {
        const std::size_t k = static_cast<std::size_t>(j - 1);
        char unnamed[16];
        std::snprintf(unnamed, sizeof unnamed, " p%d", j);
        if (named && k < replace_param_list.size())
            names.append(" ").append(replace_param_list[k].tag);
        else
            names.append(unnamed);
    }
    replace_param_list.clear();
    if (file) std::fprintf(file, "%s\n", names.c_str());
    std::printf("%s\n", names.c_str());
    for (int j = 1; j <= opt.n; ++j) {
        const double v = best[static_cast<std::size_t>(j)];
        if (file) std::fprintf(file, "%lf\n", v);
        std::printf("%lf\n", v);
    }
    close_calibration_file(file, "best.out");
}

}  // namespace

int run_sce_calibration(const std::string &input_file) {
    std::unique_ptr<sce_optimizer> holder(new (std::nothrow) sce_optimizer);
    if (!holder) {
        std::printf("Error: unable to create the SCE-UA optimiser.\n");
        return 0;
    }
    sce_optimizer &opt = *holder;
    sce_init(opt);
    opt.calibration = 1;

    std::FILE *input = std::fopen(input_file.c_str(), "r");
    if (!input) {
        std::printf("Can't open SCE input file %s\n", input_file.c_str());
        opt.input_valid = 0;
    } else {
        opt.input_file = input_file;
        sce_read_input(opt, input);
        std::fclose(input);
    }

    opt.observations.reset(new (std::nothrow) observation_set);
    if (!opt.observations || read_observation_file(*opt.observations, opt.observation_file) == -1) {
        std::printf("Error: unable to open the observation file for reading or problem while "
                    "reading it.\n");
        sce_free(opt);
        return 0;
    }
    if (opt.input_valid && check_calibration_start(*opt.observations, opt.observation_file,
                                                  opt.replace_list_file) != 0) {
        sce_free(opt);
        return 0;
    }
    // The parameter lines follow the three file names, the settings and the options.
    if (opt.input_valid &&
        check_parameter_bounds(opt.replace_list_file, opt.project_file, input_file, 6, opt.n,
                               opt.initial.data(), opt.lower.data(), opt.upper.data()) != 0) {
        sce_free(opt);
        return 0;
    }

    opt.calibration_objective = calibration_objective;
    clear_scored_calibration_runs();
    const int runs = SCEUA(opt);
    const bool scored = runs > 0 && calibration_has_scored_runs(scored_calibration_runs(), input_file);
    const int failed = failed_calibration_runs();
    if (runs <= 0) {
        std::printf("Error: unable to successfully run the SCE method\n  (SCE input file %s)\n",
                    input_file.c_str());
    } else if (scored && failed > 0) {
        // The search compared its points with runs that gave no result: its best is
        // no sound result, and best.out is left as it was.
        std::printf("Error: %d of the %d model runs of the SCE search ended with an error (see "
                    "the messages above); the search has no sound result.\n  (SCE input file "
                    "%s: check its parameter ranges against the inputs they replace)\n",
                    failed, runs, input_file.c_str());
    } else if (scored) {
        report_best(opt, runs);
    }
    sce_free(opt);
    return scored && failed == 0 ? 1 : 0;
}
