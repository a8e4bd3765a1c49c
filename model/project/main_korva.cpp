// Entry of korva, the watershed model: announces itself, parses the command line
// and runs one simulation, a calibration mode, or prints the banner or usage.
#include <cstdio>
#include <new>

#include "model/core/file_opener.h"
#include "model/project/command_line.h"
#include "model/core/process_exit.h"

int main(int argc, char **argv) {
    std::printf("Serial version of KORVA starting...\n");
    std::fflush(stdout);

    command_line cmd;
    int status = 0;
    stage_result_files(true);  // a refused or failed run keeps the results on disk
    // The readers bound every size by what their file holds; an allocation that the
    // system still refuses ends the run with a message instead of an abort.
    try {
        const int batch_count = parse_command_line(cmd, argc, argv);
        if (batch_count != -1) status = run_command(cmd, batch_count);
    } catch (const std::bad_alloc &) {
        std::printf("Error: the run needs more memory than the system can give; it stops.\n");
        status = 1;
    }
    end_process(status);
}
