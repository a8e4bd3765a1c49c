// Fuzz harness of the numeric form of the channel input file, read directly
// whatever its first word.
#include <cstdint>

#include "fuzz_channel_state.h"
#include "fuzz_support.h"
#include "model/globals.h"
#include "model/input/channel_file_numeric.h"
#include "model/process_exit.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    reset_process_globals();
    {
        model_state state;
        set_up_channel_state(state);
        std::FILE *f = fuzzsupport::open_input("chan.dat", data, size);
        try {
            read_chan_numeric(f, state);
        } catch (const fuzzsupport::exit_requested &) {
        }
        std::fclose(f);
    }
    reset_process_globals();
    return 0;
}
