// Fuzz harness of the channel input file as the channel set-up reads it: the
// card form, or the numeric form when the first word is not the form marker.
#include <cstdint>

#include "fuzz_channel_state.h"
#include "fuzz_support.h"
#include "model/input/channel_file.h"
#include "model/core/process_exit.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    return fuzz_channel_reader(data, size, [](std::FILE *f, model_state &state) { read_chan_input(f, state); });
}
