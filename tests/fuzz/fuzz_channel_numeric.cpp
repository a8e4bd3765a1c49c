// Fuzz harness of the numeric form of the channel input file, read directly
// whatever its first word.
#include <cstdint>

#include "fuzz_channel_state.h"
#include "fuzz_support.h"
#include "model/input/channel_file_numeric.h"
#include "model/core/process_exit.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    return fuzz_channel_reader(data, size, [](std::FILE *f, model_state &state) { read_chan_numeric(f, state); });
}
