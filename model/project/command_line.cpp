// Command line of korva: parses the arguments into a run mode and a file name,
// prints the usage text and the version banner, and runs the chosen mode. Called
// by the program entry (main_korva.cpp).
#include "model/project/command_line.h"

#include <cstdio>
#include <cstring>

#include "model/calibration/calibration_services.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/project/run_model.h"

namespace {

// Version shown by the banner.
constexpr double banner_version = 5.0;
constexpr char banner_letter = 'f';

}  // namespace

void print_usage() {
    std::printf(
        "\n"
        "Usage: korva [-option] [inputfile]\n"
        "\n"
        " where -option is one of:\n"
        "      -c = SCE calibration mode (input file is the calibration control file)\n"
        "      -m = Monte Carlo calibration mode (input file is the calibration control file)\n"
        "      -b = batch mode (input file is the batch control file)\n"
        "      -s = sensitivity mode (input file is the sensitivity control file)\n"
        "      -v = display version information (no project will be run)\n"
        "      -t = internal test mode -- runs function-level verification tests (non-verbose "
        "output)\n"
        "      -tv = internal test mode -- runs function-level verification tests (verbose "
        "output)\n"
        "      -h = help (input file is option for help, e.g. korva -h -b will give help on "
        "batch mode\n"
        "  The c, m, b, v, and h commands are optional and if not present the input file is\n"
        " treated as the project file\n"
        "\n"
        "  For the -b option, the command line should be:\n"
        "      korva -b[num_batch] korva_inputfile\n"
        "\n"
        "  For the -c option, the command line should be:\n"
        "      korva -c sce_inputfile\n"
        "\n"
        "  For the -m option, the command line should be:\n"
        "      korva -m[num_batch] mc_inputfile\n"
        "\n"
        "  For the -s option, the command line should be:\n"
        "      korva -s sen_inputfile\n"
        "\n"
        "  For the -t option (and -tv), the command line should be:\n"
        "      korva -t[v]\n"
        "\n"
        "  where [num_batch] is the number of batch runs to make, sce_inputfile is the SCE "
        "input file, mc_intputfile is\n"
        "  the Monte Carlo input file, and sen_inputfile is the sensitivity input file.\n"
        "\n");
}

void print_banner() {
    std::printf("\n");
    std::printf("KORVA Alpha version Tarvel %4.2lf%c\n \n", banner_version, banner_letter);
    std::printf("       --- Not for public release ---   \n");
    std::printf("Watershed Modelling Group\n");
    std::printf("Surface Water Branch\n");
    std::printf("Hydrologic Systems Laboratory\n");
    std::printf("Korva Model Development Team\n \n");
    std::printf("developed in cooperation with: \n \n");
    std::printf("Department of Civil and Environmental Engineering\n");
    std::printf("Lakeland Technical University\n");
    std::printf("\n \n");
    std::printf("For information contact:\n");
    std::printf("Model Support Coordinator\n");
    std::printf("Office WM-2\n");
    std::printf("1 River Road\n");
    std::printf("Lakeland\n");
    std::printf("\n \n");
    std::printf("Intended for use with ZEP Version 8.1 or higher");
    std::printf("\n \n");
}

int parse_command_line(command_line &cmd, int argc, const char *const *argv) {
    cmd = command_line{};
    if (argc < 2) {
        print_usage();
        return -1;
    }
    int batch_count = 1;
    if (argc == 2) {
        // One argument is always the project file, whatever it looks like.
        cmd.mode = mode_single_run;
        cmd.path = argv[1];
        return batch_count;
    }

    const char *first = argv[1];
    auto prefix = [first](const char *option) { return std::strncmp(first, option, 2) == 0; };
    if (prefix("-s")) cmd.mode = mode_sensitivity;
    else if (prefix("-c")) cmd.mode = mode_sce;
    else if (prefix("-b")) cmd.mode = mode_batch;
    else if (prefix("-m")) cmd.mode = mode_montecarlo;
    else if (prefix("-h")) cmd.mode = mode_help;
    else if (prefix("-v")) cmd.mode = mode_version;
    else {
        print_usage();
        return -1;
    }

    if (cmd.mode == mode_batch || cmd.mode == mode_montecarlo) {
        int number = 0;
        if (std::sscanf(first + 2, "%d", &number) == 1) batch_count = number;
    }
    if (cmd.mode == mode_sce || cmd.mode == mode_montecarlo || cmd.mode == mode_help ||
        cmd.mode == mode_sensitivity)
        cmd.path = argv[2];
    return batch_count;
}

int run_command(const command_line &cmd, int batch_count) {
    bool calibration_failed = false;
    switch (cmd.mode) {
    case mode_single_run:
        run_model(cmd.path, nullptr);
        break;
    case mode_sce:
        calibration_failed = run_sce_calibration(cmd.path) == 0;
        break;
    case mode_montecarlo:
        calibration_failed = run_montecarlo_calibration(batch_count, cmd.path) == 0;
        break;
    case mode_version:
        print_banner();
        return 0;
    default:
        return 0;  // -b, -h and -s parse and do nothing
    }
    // The run has reported its own errors; a fatal one, a calibration that could
    // not be made (a failed run within one is scored, not fatal), or a calibration
    // file that could not be written, ends the process with 1. A calibration's
    // files replace the earlier ones only when it succeeded.
    const bool calibrating = cmd.mode == mode_sce || cmd.mode == mode_montecarlo;
    const bool failed = (calibrating ? calibration_failed : error_record.fatal != 0) ||
                        calibration_output_failed;
    if (!finish_output_files(output_scope::calibration, !failed)) return 1;
    return failed ? 1 : 0;
}
