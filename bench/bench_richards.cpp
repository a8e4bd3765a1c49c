// Speed of the Richards step beside its reference copy (bench/reference) on a
// 100 x 100 plane of three-layer Brooks and Corey columns, half of them under a
// pond: each iteration is one 1-minute step from the same state (restored
// untimed). Reported as column-steps per second; after the runs the ratio new /
// reference is printed, both measured in this process.
#include <benchmark/benchmark.h>


#include "bench/bench_ratios.h"
#include "bench/reference/richards_reference.h"
#include "model/hydrology/richards.h"
#include "model/hydrology/soil_water_services.h"
#include "tests/model/hydrology/richards_plane.h"

namespace {

void run_step(benchmark::State &bench, double (*step)(model_state &, double)) {
    auto s = richards_plane::plane(10000, curve_brooks_corey, 5u, false);
    const richards_plane::saved start = richards_plane::keep(*s);
    for (auto _ : bench) {
        benchmark::DoNotOptimize(step(*s, 60.0));
        bench.PauseTiming();
        richards_plane::put_back(*s, start);
        bench.ResumeTiming();
    }
    bench.counters["column_steps"] = benchmark::Counter(
        static_cast<double>(s->cell_count) * static_cast<double>(bench.iterations()),
        benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("richards/new", [](benchmark::State &st) { run_step(st, richards_step); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("richards/reference",
                                 [](benchmark::State &st) { run_step(st, reference::richards_step); })
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter("column_steps", "M column-steps/s", false);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
