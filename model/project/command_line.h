// Command line of korva: the run mode and file name taken from the arguments,
// the usage text and the version banner. Called by the program entry.
#pragma once

#include <string>

// Run modes chosen by the first argument.
enum run_mode : int {
    mode_none = 0,
    mode_single_run = 1,  // one argument: the project file
    mode_sce = 2,         // -c
    mode_batch = 3,       // -b
    mode_version = 4,     // -v
    mode_help = 5,        // -h
    mode_montecarlo = 6,  // -m
    mode_sensitivity = 7, // -s
};

struct command_line {
    int mode = mode_none;
    std::string path;  // the project file or the input file of the mode, taken whole
};

// Fills cmd from the arguments; -1 after printing the usage text, otherwise the
// batch count (1, or the number written behind "-b" or "-m").
int parse_command_line(command_line &cmd, int argc, const char *const *argv);

// The usage text, printed with one formatted print on standard output.
void print_usage();

// The version banner on standard output.
void print_banner();

// Runs the chosen mode; the process exit status (0, or 1 after a run that ended
// with a fatal error).
int run_command(const command_line &cmd, int batch_count);
