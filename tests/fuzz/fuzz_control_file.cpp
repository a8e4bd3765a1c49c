// Fuzz harness of varnock's control-file reader: the input is a whole control file.
#include <cstdint>
#include <string>

#include "calibrator/engine/control_file.h"
#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/start_up_services.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_nr_exit_handler(fuzzsupport::throw_exit);
    set_reading_pause_ms(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    control_data cd;
    try {
        read_control_text(cd, text, "case.pst");
    } catch (const fuzzsupport::exit_requested &) {
    }
    return 0;
}
