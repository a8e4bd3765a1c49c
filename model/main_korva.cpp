// Entry of korva, the watershed model: announces itself, parses the command line
// and runs one simulation, a calibration mode, or prints the banner or usage.
#include <cstdio>

#include "model/command_line.h"
#include "model/process_exit.h"

int main(int argc, char **argv) {
    std::printf("Serial version of KORVA starting...\n");
    std::fflush(stdout);

    command_line cmd;
    const int batch_count = parse_command_line(cmd, argc, argv);
    int status = 0;
    if (batch_count != -1) status = run_command(cmd, batch_count);
    end_process(status);
}
