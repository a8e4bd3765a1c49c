// Shared set-up of the channel reader tests: a run state on a small grid, files
// written into a scratch directory and opened for reading, and capture of the
// console text of a call.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "model/core/arrays.h"
#include "model/channel/channel_network.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/channel_file.h"
#include "model/core/model_state.h"
#include "support/captured_output.h"
#include "support/run_program.h"

namespace channeltest {

// A 3 x 4 grid of 10 m cells, all inside the mask (cells 1..12 in row order),
// ground elevation 100 + cell number.
class channel_files : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.grid_rows = 3;
        s.grid_cols = 4;
        s.cell_size = 10.0;
        s.quiet = 1;
        alloc_2d_int(s.cell_number_grid, 4, 5);
        int g = 0;
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) s.cell_number_grid[r][c] = ++g;
        s.cell_count = 12;
        alloc_1d_double(s.elevation, 12);
        for (int i = 1; i <= 12; ++i) s.elevation[i] = 100.0 + i;
    }
    void TearDown() override {
        for (std::FILE *f : opened)
            if (f) std::fclose(f);
        reset_process_globals();
    }
    std::FILE *file(const std::string &name, const std::string &text) {
        dir.write(name, text);
        std::FILE *f = std::fopen((dir.path() / name).c_str(), "r");
        opened.push_back(f);
        return f;
    }
    std::string path(const std::string &name) const { return (dir.path() / name).string(); }
    // Runs fn and returns what it printed on standard output.
    template <class F>
    std::string printed(F &&fn) {
        return testsupport::printed(std::forward<F>(fn));
    }
    // Reads a channel file; returns what it printed.
    std::string read(const std::string &text, int *result = nullptr) {
        std::FILE *f = file("chan.dat", text);
        return printed([&] {
            const int r = read_chan_input(f, s);
            if (result) *result = r;
        });
    }
    bool failed() const { return error_record.fatal != 0; }

    testsupport::scratch_dir dir;
    model_state s;
    std::vector<std::FILE *> opened;
};

// A two-link trapezoid network in card form: link 1 (4 nodes, b 3, z 1) drains
// into link 2 (3 nodes, b 2, z 0.5); dx 10 m, n 0.01 throughout.
inline std::string two_link_card_file() {
    return "KORVA_CHAN\n"
           "ALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 2\nMAXNODES 4\n"
           "CONNECT 1 2 0\nCONNECT 2 0 1 1\n"
           "LINK 1\nDX 10.0\nNODES 4\nTRAPEZOID\nMANNINGS_N 0.01\n"
           "NODE 1\nELEV 10.0\nNODE 2\nELEV 9.8\nXSEC\nBOTTOM_WIDTH 3.0\nBANKFULL_DEPTH 1.5\n"
           "SIDE_SLOPE 1.0\nNODE 3\nELEV 9.6\nNODE 4\nELEV 9.4\n"
           "LINK 2\nDX 10.0\nNODES 3\nTRAPEZOID\nMANNINGS_N 0.01\n"
           "NODE 1\nELEV 9.4\nXSEC\nBOTTOM_WIDTH 2.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 0.5\n"
           "NODE 2\nELEV 9.2\nNODE 3\nELEV 9.0\n";
}

}  // namespace channeltest
