// Speed of the overland-lake update on square grids of bowls, one lake in each
// 20 x 20 block (16 lakes on 80 x 80 cells, 64 on 160 x 160, 256 on 320 x 320), the
// current update beside the one that scanned every cell for every lake
// (bench/reference). An iteration is two updates as the run makes them (the lake
// volumes from their levels, then olake_extent): every lake rises by 300 m3, taking
// cells of its bowl's rim, then falls by as much, giving cells back. Reported as
// cells per second of updates; after the runs new / reference per grid is printed
// with the time per cell (a cost linear in cells is a time per cell that stays flat).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/bench_ratios.h"
#include "bench/reference/olake_extent_reference.h"
#include "model/core/arrays.h"
#include "model/core/globals.h"
#include "model/hydrology/hydrology_services.h"
#include "model/core/model_state.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }
constexpr int block = 20;

std::unique_ptr<model_state> make_bowls(int side) {
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    const int n = side * side;
    s.cell_count = n;
    s.cell_size = 10.0;
    for (auto *a : {&s.depth, &s.elevation}) alloc_1d_double(*a, n);
    for (auto *a : {&s.right, &s.down, &s.left, &s.up, &s.overland_lake_id, &s.overland_lake_id_copy})
        alloc_1d_int(*a, n);
    const int per_row = side / block;
    s.overland_lake_count = per_row * per_row;
    s.overland_lake_on = 1;
    s.lakes.assign(at(s.overland_lake_count) + 1, lake_record{});
    for (int r = 1; r <= side; ++r) {
        for (int c = 1; c <= side; ++c) {
            const int i = (r - 1) * side + c;
            s.right[at(i)] = c < side ? i + 1 : 0;
            s.left[at(i)] = c > 1 ? i - 1 : 0;
            s.down[at(i)] = r < side ? i + side : 0;
            s.up[at(i)] = r > 1 ? i - side : 0;
            const double y = (r - 1) % block - 9.5, x = (c - 1) % block - 9.5;
            s.elevation[at(i)] = 100.0 + 0.01 * (x * x + y * y) + 0.0003 * ((r * 7 + c * 13) % 11);
            if (std::fabs(x) < 1.0 && std::fabs(y) < 1.0) {
                const int k = ((r - 1) / block) * per_row + (c - 1) / block + 1;
                s.overland_lake_id[at(i)] = s.overland_lake_id_copy[at(i)] = k;
                lake_record &lake = s.lakes[at(k)];
                ++lake.cell_count;
                lake.elevation = lake.initial_elevation = 100.1;
            }
        }
    }
    return state;
}

using update_fn = void (*)(model_state &);

void update(model_state &s, update_fn extent, double dv) {
    for (int k = 1; k <= s.overland_lake_count; ++k) {
        s.lakes[at(k)].volume = 0.0;
        s.lakes[at(k)].rain_volume = dv;
    }
    for (int i = 1; i <= s.cell_count; ++i) {
        const int k = s.overland_lake_id[at(i)];
        if (k >= 1) s.lakes[at(k)].volume += (s.lakes[at(k)].elevation - s.elevation[at(i)]) * 100.0;
    }
    extent(s);
}

void run_lakes(benchmark::State &bench, update_fn extent, int side) {
    reset_process_globals();
    auto state = make_bowls(side);
    model_state &s = *state;
    update(s, extent, 300.0);  // the first call makes the work storage
    update(s, extent, -300.0);
    for (auto _ : bench) {
        update(s, extent, 300.0);
        update(s, extent, -300.0);
    }
    if (error_record.fatal != 0) bench.SkipWithError("the lake update stopped");
    bench.counters["cells"] = benchmark::Counter(
        2.0 * side * side * static_cast<double>(bench.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char **argv) {
    for (int side : {80, 160, 320}) {
        for (int version = 0; version < 2; ++version) {
            const int lakes = (side / block) * (side / block);
            const std::string name = "lakes_" + std::to_string(lakes) + "/" + std::to_string(side) +
                                     (version ? "/reference" : "/new");
            const update_fn extent = version ? reference::olake_extent : olake_extent;
            benchmark::RegisterBenchmark(name.c_str(), [extent, side](benchmark::State &st) {
                run_lakes(st, extent, side);
            })->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter("cells", "M cells/s of updates", true);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
