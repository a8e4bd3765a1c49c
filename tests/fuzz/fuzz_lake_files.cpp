// Fuzz harness of the lake and low-spot file readers: the input is read as an
// overland lake file of three lakes and as a low-spot file.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/lake_file.h"
#include "model/core/model_state.h"
#include "model/core/process_exit.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    reset_process_globals();
    try {
        std::FILE *f = fuzzsupport::open_input("lakes.dat", data, size);
        std::vector<lake_record> lakes(4);
        read_lake_file(f, overland_lake_kind, 3, lakes);
        std::fclose(f);
        reset_process_globals();
        f = fuzzsupport::open_input("spots.dat", data, size);
        std::vector<lowspot_record> spots;
        int count = 0;
        read_lowspot_file(f, "spots.dat", spots, count);
        std::fclose(f);
    } catch (const fuzzsupport::exit_requested &) {
    }
    reset_process_globals();
    return 0;
}
