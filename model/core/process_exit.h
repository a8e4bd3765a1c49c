// The one way the model ends its process: the program entry and the few places
// that the model stops at once call end_process, so tests can catch every exit.
#pragma once

// Flushes the standard streams and ends the process with the status.
[[noreturn]] void end_process(int status);

// A handler that runs instead of the process exit (tests only); it must not
// return (it may throw or jump). Null restores the normal exit.
using process_exit_handler = void (*)(int status);
void set_process_exit_handler(process_exit_handler handler);
