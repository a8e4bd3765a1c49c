// Fuzz harness of the template scanner and, for a template it accepts, the
// writer of the model input file in each value kind.
#include <cstdint>

#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/template_files.h"
#include "fuzz_support.h"
#include "varnock_problem.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_nr_exit_handler(fuzzsupport::throw_exit);
    set_reading_pause_ms(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    control_data cd = fuzz_problem();
    template_file_data tpl;
    tpl.template_name = "model.tpl";
    tpl.input_name = fuzzsupport::scratch_path("model.in");
    cd.templates.assign(1, template_file_data{});
    cd.templates.push_back(tpl);
    cd.template_count = 1;
    template_file_table table;
    table.files[1] = fuzzsupport::open_input("model.tpl", data, size);
    try {
        if (scan_template_files(cd, table) == 0) {
            for (int kind = 0; kind <= 2; ++kind) {
                if (write_model_input_file(cd, file_names{}, 1, kind, table) != 0) break;
            }
        }
    } catch (const fuzzsupport::exit_requested &) {
    }
    std::fclose(table.files[1]);
    return 0;
}
