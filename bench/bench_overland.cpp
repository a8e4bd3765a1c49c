// Speed of one overland step of the explicit and the ADE schemes on square grids
// of 10^4 to 4 x 10^6 cells, reported as cell updates per second. Each grid is a
// tilted plane with a thin sheet of water, so no step is reduced or halved.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <memory>

#include "model/arrays.h"
#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_explicit.h"
#include "model/hydrology/overland_pieces.h"
#include "model/model_state.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// A side x side plane of 10 m cells falling 1 percent to the right and down, the
// arrays as the input readers and the connectivity step leave them.
std::unique_ptr<model_state> plane(int side) {
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    const int n = side * side;
    const double dx = 10.0;
    s.cell_count = n;
    s.cell_size = dx;
    alloc_2d_int(s.cell_number_grid, side + 1, side + 1);
    for (auto *a : {&s.depth, &s.elevation, &s.roughness, &s.retention_depth, &s.x_slope, &s.y_slope})
        alloc_1d_double(*a, n);
    for (auto *a : {&s.right, &s.down, &s.left, &s.up}) alloc_1d_int(*a, n);
    for (int r = 1; r <= side; ++r) {
        for (int c = 1; c <= side; ++c) {
            const int i = (r - 1) * side + c;
            s.cell_number_grid(at(r), at(c)) = i;
            s.elevation[at(i)] = 1000.0 - 0.1 * (r + c);
            s.roughness[at(i)] = 0.05;
            s.depth[at(i)] = 0.005;
            s.right[at(i)] = c < side ? i + 1 : 0;
            s.left[at(i)] = c > 1 ? i - 1 : 0;
            s.down[at(i)] = r < side ? i + side : 0;
            s.up[at(i)] = r > 1 ? i - side : 0;
            s.x_slope[at(i)] = 0.01;
            s.y_slope[at(i)] = 0.01;
        }
    }
    s.outlet_cell = n;
    s.outlet_slope = 0.01;
    s.quiet_card = 1;
    return state;
}

void run_scheme(benchmark::State &bench, overland_route_fn scheme) {
    const int side = static_cast<int>(bench.range(0));
    auto state = plane(side);
    model_state &s = *state;
    for (auto _ : bench) {
        // Keep the sheet thin and steady: put back what the step moved out.
        benchmark::DoNotOptimize(scheme(s, 5.0));
        s.depth[at(1)] = 0.005;
    }
    bench.counters["cell_updates"] = benchmark::Counter(
        static_cast<double>(s.cell_count) * static_cast<double>(bench.iterations()),
        benchmark::Counter::kIsRate);
}

void BM_overland_explicit(benchmark::State &bench) { run_scheme(bench, route_overland_explicit); }
void BM_overland_ade(benchmark::State &bench) { run_scheme(bench, route_overland_ade); }
void BM_overland_ade_pc(benchmark::State &bench) { run_scheme(bench, route_overland_ade_pc); }

// Sides of 100, 316, 1000 and 2000 cells: about 10^4, 10^5, 10^6 and 4 x 10^6 cells.
BENCHMARK(BM_overland_explicit)->Arg(100)->Arg(316)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_overland_ade)->Arg(100)->Arg(316)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_overland_ade_pc)->Arg(100)->Arg(316)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
