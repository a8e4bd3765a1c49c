// Memory bandwidth of one core by the triad a = b + s * c over arrays far larger
// than the caches (3 x 64 MB), reported as bytes moved per second (24 per element;
// the write-allocate read of a is not counted). The memory bound of the overland
// kernels in bench/README.md is taken from this figure.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

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

}  // namespace

BENCHMARK_MAIN();
