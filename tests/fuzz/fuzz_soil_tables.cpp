// Fuzz harness of the soil readers: the input is read as the Richards soil table
// in both of its own-file forms and both mapping-table forms, as the three-layer
// soil table and as the Sacramento parameter file.
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "model/core/globals.h"
#include "model/input/soil_inputs.h"
#include "model/input/soil_tables.h"
#include "model/input/surface_inputs.h"
#include "model/core/model_state.h"
#include "model/core/process_exit.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

namespace {

// Runs one reader on a fresh run state and a fresh stream of the input.
template <class Read>
void read_as(const std::uint8_t *data, std::size_t size, Read read) {
    reset_process_globals();
    auto s = std::make_unique<model_state>();
    std::FILE *f = fuzzsupport::open_input("soil.tab", data, size);
    try {
        read(f, *s);
    } catch (const fuzzsupport::exit_requested &) {
    }
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    for (int form = 1; form <= 2; ++form)
        for (int mapping = 0; mapping <= 1; ++mapping)
            read_as(data, size, [&](std::FILE *f, model_state &s) {
                richards_table_counts counts;
                read_soil_table(f, "soil.tab", form, mapping, s, counts);
            });
    read_as(data, size, [](std::FILE *f, model_state &s) { read_soil_layer_table(f, "soil.tab", s); });
    read_as(data, size, [](std::FILE *f, model_state &s) { read_sacramento_input(f, "sac.txt", s); });
    reset_process_globals();
    return 0;
}
