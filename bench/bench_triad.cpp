// Memory bandwidth of one core by the triad a = b + s * c over arrays far larger
// than the caches (3 x 64 MB), reported as bytes moved per second (24 per element;
// the write-allocate read of a is not counted), and the throughput of the C
// library's pow(x, 2/3), pow(x, 5/3) and sqrt over independent arguments beside
// the model's own powers (model/core/thirds_powers.h: the array forms, the single
// forms, and the portable scalar path of the array forms). The memory and compute
// bounds of the kernels in bench/README.md are taken from these figures.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "model/core/thirds_powers.h"

namespace {

void BM_triad(benchmark::State &bench) {
    const std::size_t n = static_cast<std::size_t>(bench.range(0));
    std::vector<double> a(n, 0.0), b(n, 1.0), c(n, 2.0);
    const double s = 3.0;
    for (auto _ : bench) {
        for (std::size_t i = 0; i < n; ++i) a[i] = b[i] + s * c[i];
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<long long>(bench.iterations()) * static_cast<long long>(n) * 24);
}
BENCHMARK(BM_triad)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

// Hydraulic radii and depths of the kernels' range, 4096 of them (in the caches).
std::vector<double> arguments() {
    std::vector<double> x(4096);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = 0.001 + 0.00097 * static_cast<double>(i);
    return x;
}

void BM_pow_two_thirds(benchmark::State &bench) {
    const std::vector<double> x = arguments();
    std::vector<double> y(x.size());
    for (auto _ : bench) {
        for (std::size_t i = 0; i < x.size(); ++i) y[i] = std::pow(x[i], 2.0 / 3.0);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(static_cast<long long>(bench.iterations()) * static_cast<long long>(x.size()));
}
BENCHMARK(BM_pow_two_thirds);

void BM_pow_five_thirds(benchmark::State &bench) {
    const std::vector<double> x = arguments();
    std::vector<double> y(x.size());
    for (auto _ : bench) {
        for (std::size_t i = 0; i < x.size(); ++i) y[i] = std::pow(x[i], 5.0 / 3.0);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(static_cast<long long>(bench.iterations()) * static_cast<long long>(x.size()));
}
BENCHMARK(BM_pow_five_thirds);

// The model's powers over the same arguments: an array call per pass.
template <void (*power_n)(const double *, double *, std::size_t)>
void BM_array_power(benchmark::State &bench) {
    const std::vector<double> x = arguments();
    std::vector<double> y(x.size());
    for (auto _ : bench) {
        power_n(x.data(), y.data(), x.size());
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(static_cast<long long>(bench.iterations()) * static_cast<long long>(x.size()));
}
BENCHMARK(BM_array_power<pow_two_thirds_n>)->Name("BM_two_thirds_n");
BENCHMARK(BM_array_power<pow_five_thirds_n>)->Name("BM_five_thirds_n");
BENCHMARK(BM_array_power<pow_two_thirds_n_portable>)->Name("BM_two_thirds_n_portable");

// The single forms, one call per argument.
template <double (*power)(double)>
void BM_single_power(benchmark::State &bench) {
    const std::vector<double> x = arguments();
    std::vector<double> y(x.size());
    for (auto _ : bench) {
        for (std::size_t i = 0; i < x.size(); ++i) y[i] = power(x[i]);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(static_cast<long long>(bench.iterations()) * static_cast<long long>(x.size()));
}
BENCHMARK(BM_single_power<pow_two_thirds>)->Name("BM_two_thirds_single");
BENCHMARK(BM_single_power<pow_five_thirds>)->Name("BM_five_thirds_single");

void BM_sqrt(benchmark::State &bench) {
    const std::vector<double> x = arguments();
    std::vector<double> y(x.size());
    for (auto _ : bench) {
        for (std::size_t i = 0; i < x.size(); ++i) y[i] = std::sqrt(x[i]);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(static_cast<long long>(bench.iterations()) * static_cast<long long>(x.size()));
}
BENCHMARK(BM_sqrt);

}  // namespace

BENCHMARK_MAIN();
