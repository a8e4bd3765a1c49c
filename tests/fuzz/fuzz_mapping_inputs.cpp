// Fuzz harness of the table inputs on a grid of 2 x 3 positions (5 cells) and a
// channel network of two links of 2 and 3 nodes: the input is read as a
// mapping-table file for its SEDIMENTS, SOIL_EROSION_PROPS and WELL_TABLE tables,
// as a stream mapping-table file (scanned, then its ROUGHNESS and QVL_N tables
// read) and as an aquatic environment file. The index and stream maps that the
// seeds name are written by the harness.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "model/core/globals.h"
#include "model/input/index_maps.h"
#include "model/input/input_readers.h"
#include "model/input/stream_tables.h"
#include "model/core/model_state.h"
#include "model/core/process_exit.h"

namespace {

void write_text(const char *name, const std::string &text) {
    fuzzsupport::write_scratch(name, reinterpret_cast<const std::uint8_t *>(text.data()),
                               text.size());
}

// "m.idx" index map, "env.map" environment ids, "s.smp" stream ids.
void write_maps() {
    const std::string head = "north: 20.0\nsouth: 0.0\neast: 30.0\nwest: 0.0\nrows: 2\ncols: 3\n";
    write_text("m.idx", head + "1 2 0\n2 1 1\n");
    write_text("env.map", head + "1 2 0\n2 1 1\n");
    write_text("s.smp", "STREAM_MAP\nNLINKS 2\nMAXNODES 3\n1 2\n2 1 1\n");
}

// Position (1,3) lies outside the watershed; the others are cells 1..5 in row order.
std::unique_ptr<model_state> make_state() {
    auto s = std::make_unique<model_state>();
    s->quiet = 1;
    s->grid_rows = 2;
    s->grid_cols = 3;
    s->cell_size = 10.0;
    alloc_2d_int(s->cell_number_grid, 3, 4);
    const int cells[2][3] = {{1, 2, 0}, {3, 4, 5}};
    for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= 3; ++j) s->cell_number_grid[i][j] = cells[i - 1][j - 1];
    s->cell_count = 5;
    s->mapping_table_name = "table.cmt";
    return s;
}

void read_mapping_tables() {
    auto s = make_state();
    array_1d<double> first, second;
    int classes = 0;
    std::vector<std::string> names;
    if (read_sediment_tables("table.cmt", first, second, classes, names) && classes > 0) {
        std::array<array_1d<double>, 8> columns;
        std::array<array_1d<double> *, 8> targets{};
        for (std::size_t j = 0; j < 8; ++j) {
            alloc_1d_double(columns[j], 5);
            targets[j] = &columns[j];
        }
        array_2d<double> per_class;
        alloc_2d_double(per_class, 5, classes, "per class");
        read_soil_erosion_table(*s, "table.cmt", classes, targets, &per_class);
    }
    reset_process_globals();
    s = make_state();
    std::vector<well_record> wells;
    array_2d<int> index_grid;
    read_well_table(*s, "table.cmt", wells, index_grid);
}

void read_stream_tables() {
    std::array<int, 6> present{};
    scan_stream_index_map_tables("table.cmt", present);
    array_1d<int> node_count;
    alloc_1d_int(node_count, 2);
    node_count[1] = 2;
    node_count[2] = 3;
    for (int kind : {stream_card_roughness, stream_card_qvl_n}) {
        reset_process_globals();
        std::array<array_2d<double>, 4> values;
        std::array<array_2d<double> *, 4> targets{};
        for (std::size_t j = 0; j < 4; ++j) {
            alloc_2d_double(values[j], 2, 3, "stream values");
            targets[j] = &values[j];
        }
        read_stream_index_map_tables("table.cmt", kind, targets, 2, 3, node_count);
    }
}

template <class Read>
void guarded(Read read) {
    reset_process_globals();
    try {
        read();
    } catch (const fuzzsupport::exit_requested &) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    fuzzsupport::keep_findings_in_start_dir(argc, argv);
    write_maps();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzzsupport::write_scratch("table.cmt", data, size);
    const fuzzsupport::in_scratch here;
    guarded(read_mapping_tables);
    guarded(read_stream_tables);
    guarded([] {
        auto s = make_state();
        read_aquatic_env_file("table.cmt", *s);
    });
    reset_process_globals();
    return 0;
}
