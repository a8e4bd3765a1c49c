// Fuzz harness of the instruction interpreter. The input is an instruction file
// and a model output file separated by a line "%%%%" (without one, the output is
// empty): the instructions are checked as at start-up, then carried out against
// the output as after a model run (parsed on that first read, since the check
// refuses most inputs for observations that they leave unread).
#include <cstdint>
#include <string>

#include "calibrator/engine/instruction_files.h"
#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/start_up_services.h"
#include "fuzz_support.h"
#include "varnock_problem.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_nr_exit_handler(fuzzsupport::throw_exit);
    set_reading_pause_ms(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string separator = "\n%%%%\n";
    const std::size_t at = text.find(separator);
    const std::string instructions = text.substr(0, at);
    const std::string output = at == std::string::npos ? std::string() : text.substr(at + separator.size());

    control_data cd = fuzz_problem();
    instruction_file_data ins;
    ins.instruction_name = "model.ins";
    ins.output_name = fuzzsupport::write_scratch(
        "model.out", reinterpret_cast<const std::uint8_t *>(output.data()), output.size());
    cd.instruction_files.assign(1, instruction_file_data{});
    cd.instruction_files.push_back(ins);
    cd.instruction_count = 1;
    instruction_file_table table;
    table.files[1] = fuzzsupport::open_input(
        "model.ins", reinterpret_cast<const std::uint8_t *>(instructions.data()), instructions.size());
    try {
        check_instruction_files(cd, table);
        table.parsed = {};
        for (int kind = 0; kind <= 2; ++kind) {
            if (read_model_output_file(cd, file_names{}, 1, kind, table) != 0) break;
        }
    } catch (const fuzzsupport::exit_requested &) {
    }
    std::fclose(table.files[1]);
    return 0;
}
