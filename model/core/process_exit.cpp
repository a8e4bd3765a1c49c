// The one way the model ends its process (program entry and the few places that
// stop at once); tests install a handler to catch it.
#include "model/core/process_exit.h"

#include <cstdio>
#include <cstdlib>

#include "model/core/file_opener.h"

namespace {
process_exit_handler exit_handler = nullptr;
}

void set_process_exit_handler(process_exit_handler handler) { exit_handler = handler; }

void end_process(int status) {
    abandon_output_files();  // a result that was not finished is not kept
    remove_lock_markers();
    std::fflush(stdout);
    std::fflush(stderr);
    if (exit_handler) exit_handler(status);
    std::exit(status);
}
