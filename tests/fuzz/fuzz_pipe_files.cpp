// Fuzz harness of the pipe network readers on a 3 x 4 grid: the input is read as
// the network file beside a valid grid-pipe file, and as the grid-pipe file
// beside a valid network of two super-junctions and one superlink of two pipes.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "model/core/globals.h"
#include "model/input/watershed_mask.h"
#include "model/core/model_state.h"
#include "model/channel/channel_services.h"
#include "model/pipes/superlink_file.h"
#include "model/core/process_exit.h"

namespace {

const std::string network =
    "SJUNC 1 105.0 100.0 1.5 5 10.0 20.0 1 1\n"
    "SJUNC 2 104.0 99.0 1.5 0 30.0 20.0 3 1\n"
    "CONNECT 1 1 2\n"
    "SLINK 1 2\n"
    "NODE 1 105.0 100.0 0.5 0 10.0 20.0 1 1\n"
    "NODE 2 104.5 99.5 0.75 3 20.0 20.0 2 1\n"
    "NODE 3 104.0 99.0 0.5 0 30.0 20.0 3 1\n"
    "PIPE 1 1 0.6 0.0 0.005 0.013 100.0 0.0\n"
    "PIPE 2 2 1.0 2.0 0.005 0.013 100.0 0.25\n";

const std::string grid_pipe =
    "GRIDPIPEFILE\nPIPECELLS 2\nCELLIJ 3 2\nNUMPIPES 2\nSPIPE 1 1 0.75\nSPIPE 1 2 0.25\n"
    "CELLIJ 4 4\nNUMPIPES 1\nSPIPE 1 3 1.0\n";

std::FILE *open_text(const char *name, const std::string &text) {
    return fuzzsupport::open_input(name, reinterpret_cast<const std::uint8_t *>(text.data()),
                                   text.size());
}

void read_pair(std::FILE *net, std::FILE *cells) {
    reset_process_globals();
    auto s = std::make_unique<model_state>();
    s->grid_rows = 3;
    s->grid_cols = 4;
    alloc_2d_int(s->cell_number_grid, 4, 5);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 4; ++j) s->cell_number_grid[i][j] = i == 3 && j == 1 ? 0 : 1;
    s->cell_count = number_mask_cells(s->cell_number_grid, 3, 4);
    s->storm_sewer_name = "pipes.net";
    s->grid_pipe_name = "pipes.gpi";
    try {
        read_superlink_file(net, cells, *s);
    } catch (const fuzzsupport::exit_requested &) {
    }
    std::fclose(net);
    std::fclose(cells);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzsupport::silence_stdout();
    set_process_exit_handler(fuzzsupport::throw_exit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    read_pair(fuzzsupport::open_input("pipes.net", data, size), open_text("pipes.gpi", grid_pipe));
    read_pair(open_text("pipes.net", network), fuzzsupport::open_input("pipes.gpi", data, size));
    reset_process_globals();
    return 0;
}
