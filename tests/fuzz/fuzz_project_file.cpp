// Fuzz harness of the project-file reader: the input is a whole project file.
#include <cstdint>

#include "fuzz_support.h"
#include "model/project/card_records.h"
#include "model/core/globals.h"
#include "model/core/process_exit.h"
#include "model/project/project_file.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    reset_process_globals();
    const std::string path = fuzzsupport::write_scratch("project.prj", data, size);
    project_params project;
    grid_params grid;
    rain_params rain;
    try {
        set_project_defaults(project, grid, rain);
        read_project_file(path, project, grid, rain);
    } catch (const fuzzsupport::exit_requested &) {
    }
    reset_process_globals();
    return 0;
}
