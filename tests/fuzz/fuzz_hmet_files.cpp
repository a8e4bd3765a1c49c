// Fuzz harness of the hydro-meteorological reader: the first byte chooses the
// format (QAR, SAMSON, Surface Airways), the rest is the file. It is scanned as
// the precipitation set-up scans it, then read hour by hour as the long-term run
// reads it, until its data end. A file the scan accepts must end its data within
// the hours the scan counted: a reader that runs on is a finding.
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "model/core/globals.h"
#include "model/input/soil_input_services.h"
#include "model/core/model_state.h"
#include "model/core/process_exit.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    reset_process_globals();
    const int format = data[0] % 3;
    model_state s;
    s.hydromet_file = fuzzsupport::open_input("weather.hmt", data + 1, size - 1);
    s.hydromet_name = "weather.hmt";
    s.hmet_qar = format == 0;
    s.hmet_samson = format == 1;
    s.hmet_surfaways = format == 2;
    s.quiet = 1;
    try {
        if (scan_hmet_file(s, 1) == 0 && !error_record.fatal) {
            const long hours = s.hmet_line_count;
            long calls = 0;
            while (scan_hmet_file(s, 0) != -1 && !error_record.fatal) {
                if (++calls > hours + 24) std::abort();
            }
        }
    } catch (const fuzzsupport::exit_requested &) {
    }
    std::fclose(s.hydromet_file);
    s.hydromet_file = nullptr;
    reset_process_globals();
    return 0;
}
