// Reading a text grid map of 2000 x 2000 cells, the current reader beside the
// reader it replaced (bench/reference): a map of reals (elevations written with
// three decimals, every cell inside the mask, read packed) and a map of integers
// (index values 1 to 12, read into the whole grid). The maps are written once to
// the temporary folder; each iteration opens, reads and closes the file. After the
// runs new / reference per map is printed (fastest of the repetitions).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "bench/bench_ratios.h"
#include "bench/reference/grid_map_reference.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"

namespace {

constexpr int side = 2000;

std::string write_map(bool reals) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("bench_grid_map_" + std::to_string(getpid()) + (reals ? "_real.asc" : "_int.asc")))
                                 .string();
    std::FILE *f = std::fopen(path.c_str(), "w");
    std::fprintf(f, "north: %d.0\nsouth: 0.0\neast: %d.0\nwest: 0.0\nrows: %d\ncols: %d\n", side * 10,
                 side * 10, side, side);
    for (int r = 1; r <= side; ++r) {
        for (int c = 1; c <= side; ++c) {
            if (reals)
                std::fprintf(f, "%.3f", 100.0 + 0.1 * (side - r) + 0.05 * std::abs(c - side / 2) +
                                            0.001 * ((r * 7 + c * 13) % 97));
            else
                std::fprintf(f, "%d", 1 + (r / 37 + c / 23) % 12);
            std::fputc(c < side ? ' ' : '\n', f);
        }
    }
    std::fclose(f);
    return path;
}

using reader_fn = void (*)(std::FILE *, const std::string &, int, double *, double *, double *,
                           double *, int *, int *, array_2d<int> &, array_1d<double> &,
                           array_1d<double> &, array_1d<int> &, int, int);

void run_read(benchmark::State &bench, reader_fn read, const std::string &path, bool reals) {
    array_2d<int> mask;
    array_1d<double> first, second;
    array_1d<int> ints;
    alloc_2d_int(mask, side, side);
    for (int r = 1; r <= side; ++r)
        for (int c = 1; c <= side; ++c) mask[r][c] = 1;
    alloc_1d_double(first, side * side);
    double corner[4];
    int size[2];
    for (auto _ : bench) {
        reset_process_globals();
        std::FILE *f = std::fopen(path.c_str(), "r");
        read(f, path, reals ? grid_map_cells_double : grid_map_full_int, &corner[0], &corner[1],
             &corner[2], &corner[3], &size[0], &size[1], mask, first, second, ints, side, side);
        std::fclose(f);
        if (error_record.fatal != 0) bench.SkipWithError("the map was refused");
        benchmark::DoNotOptimize(first.data());
    }
    bench.counters["cells"] = benchmark::Counter(
        static_cast<double>(side) * side * static_cast<double>(bench.iterations()),
        benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char **argv) {
    const std::string paths[2] = {write_map(true), write_map(false)};
    for (int kind = 0; kind < 2; ++kind) {
        for (int version = 0; version < 2; ++version) {
            const std::string name = std::string(kind == 0 ? "reals" : "integers") + "/2000" +
                                     (version ? "/reference" : "/new");
            const reader_fn read = version ? reference::read_grid_map : read_grid_map;
            const std::string path = paths[kind];
            const bool reals = kind == 0;
            benchmark::RegisterBenchmark(name.c_str(), [read, path, reals](benchmark::State &st) {
                run_read(st, read, path, reals);
            })->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter("cells", "M cells/s", false);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    for (const std::string &p : paths) std::remove(p.c_str());
    return 0;
}
