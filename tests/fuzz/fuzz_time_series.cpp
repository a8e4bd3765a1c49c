// Fuzz harness of the series files that drive the channel's point inflows, pumps
// and structures: the input is read as a time-series file and as an elevation-
// series file, and every series read is looked up by name and interpolated before,
// inside and after its range, as the channel steps do.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "model/core/globals.h"
#include "model/core/process_exit.h"
#include "model/core/series.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    reset_process_globals();
    const std::string path = fuzzsupport::write_scratch("series.dat", data, size);
    try {
        read_time_series_file(path);
        read_elevation_series_file(path);
        shift_time_series(2451545.0);
        for (const auto &ts : time_series_list) {
            time_series *found = find_time_series(ts->name);
            if (ts->times.empty()) continue;
            const double first = ts->times.front(), last = ts->times.back();
            for (double t : {first - 1.0, first, 0.5 * (first + last), last, last + 1.0})
                time_series_value(found, t);
        }
        for (const auto &es : elevation_series_list) {
            if (es->x.empty()) continue;
            const double first = es->x.front(), last = es->x.back();
            for (double x : {first - 1.0, 0.5 * (first + last), last + 1.0}) {
                elevation_series_value(find_elevation_series(es->name), x);
                elevation_series_step_value(es.get(), x);
            }
        }
    } catch (const fuzzsupport::exit_requested &) {
    }
    reset_process_globals();
    return 0;
}
