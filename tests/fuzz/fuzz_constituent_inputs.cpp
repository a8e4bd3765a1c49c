// Fuzz harness of the contaminant inputs: the input is a mapping-table file read
// for its CONTAMINANT_TRANSPORT tables on a grid of 2 x 3 positions (5 cells),
// whose two index maps the harness writes; a table that is read is then taken
// into the units of the transport steps.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"
#include "model/core/process_exit.h"

namespace {

// The index maps that the seeds name ("c.idx", "d.idx"), in the grid map format.
void write_index_maps() {
    const std::string head = "north: 20.0\nsouth: 0.0\neast: 30.0\nwest: 0.0\nrows: 2\ncols: 3\n";
    const std::string c = head + "1 2 0\n2 1 1\n", d = head + "3 1 2\n1 2 3\n";
    fuzzsupport::write_scratch("c.idx", reinterpret_cast<const std::uint8_t *>(c.data()), c.size());
    fuzzsupport::write_scratch("d.idx", reinterpret_cast<const std::uint8_t *>(d.data()), d.size());
}

// Positions (1,3) lies outside the watershed; the others are cells 1..5 in row order.
void make_grid(model_state &s) {
    s.quiet = 1;
    s.grid_rows = 2;
    s.grid_cols = 3;
    s.cell_size = 10.0;
    alloc_2d_int(s.cell_number_grid, 3, 4);
    const int cells[2][3] = {{1, 2, 0}, {3, 4, 5}};
    for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= 3; ++j) s.cell_number_grid[i][j] = cells[i - 1][j - 1];
    s.cell_count = 5;
    alloc_1d_double(s.depth, 5);
    for (int c = 1; c <= 5; ++c) s.depth[static_cast<std::size_t>(c)] = 0.1 * (c - 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    fuzzsupport::keep_findings_in_start_dir(argc, argv);
    write_index_maps();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    reset_process_globals();
    fuzzsupport::write_scratch("table.cmt", data, size);
    const fuzzsupport::in_scratch here;
    try {
        model_state s;
        make_grid(s);
        s.ov_con_trans_mode = 1;
        s.mapping_table_on = 1;
        s.mapping_table_name = "table.cmt";
        s.table_present[10] = 1;
        read_contaminant_inputs(s);
        if (!error_record.fatal) convert_constituent_units(s);
    } catch (const fuzzsupport::exit_requested &) {
    }
    reset_process_globals();
    return 0;
}
