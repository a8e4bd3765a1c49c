// Fuzz harness of the precipitation file reader: the input is a whole file,
// read event by event until it holds no further event or a read fails.
#include <cstdint>

#include "fuzz_support.h"
#include "model/core/globals.h"
#include "model/input/precip_file.h"
#include "model/core/model_state.h"
#include "model/core/process_exit.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    reset_process_globals();
    std::FILE *f = fuzzsupport::open_input("rain.gag", data, size);
    int events_found = 0;
    radar_grid radar;
    try {
        for (int k = 0; k < 10000; ++k) {
            precip_event event;
            if (read_precip_file(f, event, events_found, radar) != precip_event_read) break;
        }
    } catch (const fuzzsupport::exit_requested &) {
    }
    std::fclose(f);
    reset_process_globals();
    return 0;
}
