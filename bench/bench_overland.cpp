// Speed of one overland step of the explicit and the ADE schemes, each beside the
// kernel as it stood before its restructuring (bench/reference), on three kinds of
// square grid: every cell wet on a tilted plane ("wet"), the upper half wet and the
// lower half dry ("front", a wetting front), and an irregular masked watershed with
// holes and dikes ("basin"). Reported as cell updates per second; after the runs
// the ratio new / reference of every pair is printed, both measured in this process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/reference/overland_ade_reference.h"
#include "bench/reference/overland_explicit_reference.h"
#include "model/core/arrays.h"
#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_explicit.h"
#include "model/hydrology/overland_pieces.h"
#include "model/core/model_state.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

enum grid_kind { wet = 0, front = 1, basin = 2 };
const char *const kind_names[] = {"wet", "front", "basin"};

// True when grid position (r, c) lies in the irregular watershed: a lobed outline
// with a few holes.
bool in_basin(int r, int c, int side) {
    const double x = (c - 0.5 * side) / side, y = (r - 0.5 * side) / side;
    const double radius = std::sqrt(x * x + y * y), angle = std::atan2(y, x);
    if (radius > 0.42 + 0.06 * std::sin(5.0 * angle)) return false;
    return !((r * 7 + c * 13) % 97 == 0);  // scattered holes
}

// A side x side grid of 10 m cells falling 1 percent to the right and down, the
// arrays as the input readers and the connectivity step leave them.
std::unique_ptr<model_state> make_grid(int side, grid_kind kind) {
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    const double dx = 10.0;
    alloc_2d_int(s.cell_number_grid, side + 1, side + 1);
    int n = 0;
    for (int r = 1; r <= side; ++r)
        for (int c = 1; c <= side; ++c)
            if (kind != basin || in_basin(r, c, side)) s.cell_number_grid(at(r), at(c)) = ++n;
    s.cell_count = n;
    s.cell_size = dx;
    for (auto *a : {&s.depth, &s.elevation, &s.roughness.full(), &s.retention_depth, &s.x_slope, &s.y_slope})
        alloc_1d_double(*a, n);
    for (auto *a : {&s.right, &s.down, &s.left, &s.up}) alloc_1d_int(*a, n);
    if (kind == basin) {
        alloc_1d_int(s.dike_code, n);
        s.dike_on = 1;
    }
    auto cell = [&](int r, int c) {
        if (r < 1 || c < 1 || r > side || c > side) return 0;
        return s.cell_number_grid(at(r), at(c));
    };
    for (int r = 1; r <= side; ++r) {
        for (int c = 1; c <= side; ++c) {
            const int i = cell(r, c);
            if (i == 0) continue;
            s.elevation[at(i)] = 1000.0 - 0.1 * (r + c);
            s.roughness.full()[at(i)] = 0.05;
            s.depth[at(i)] = kind == front && r > side / 2 ? 0.0 : 0.005;
            s.right[at(i)] = cell(r, c + 1);
            s.left[at(i)] = cell(r, c - 1);
            s.down[at(i)] = cell(r + 1, c);
            s.up[at(i)] = cell(r - 1, c);
            if (kind == basin) {
                s.retention_depth[at(i)] = (r + c) % 5 == 0 ? 0.001 : 0.0;
                s.dike_code[at(i)] = (r % 50 == 0 && c % 3 != 0) ? 4 : 0;
            }
        }
    }
    // The bed slopes as the set-up makes them from the elevations.
    for (int i = 1; i <= n; ++i) {
        const int k = s.right[at(i)], d = s.down[at(i)];
        if (k != 0) s.x_slope[at(i)] = (s.elevation[at(i)] - s.elevation[at(k)]) / dx;
        if (d != 0) s.y_slope[at(i)] = (s.elevation[at(i)] - s.elevation[at(d)]) / dx;
    }
    s.outlet_cell = n;
    s.outlet_slope = 0.01;
    s.quiet_card = 1;
    return state;
}

struct scheme {
    const char *name;
    overland_route_fn current, reference;
};
const scheme schemes[] = {
    {"explicit", route_overland_explicit, reference::route_overland_explicit},
    {"ade", route_overland_ade, reference::route_overland_ade},
    {"ade_pc", route_overland_ade_pc, reference::route_overland_ade_pc},
};

// One step per iteration from the same depths every time (restored untimed), the
// sweep order flipped as the overland piece does. The reference kernels write a
// depth change per cell, which the run state holds only for them.
void run_step(benchmark::State &bench, overland_route_fn route, grid_kind kind, bool reference) {
    const int side = static_cast<int>(bench.range(0));
    auto state = make_grid(side, kind);
    model_state &s = *state;
    if (reference) alloc_1d_double(s.depth_change, s.cell_count);
    const std::vector<double> start(s.depth.data(), s.depth.data() + s.cell_count + 1);
    // One step untimed first: the arrays the kernel makes on its first call are
    // made and their pages touched before the timing starts (a repetition on the
    // largest grids has only a few iterations).
    route(s, 5.0);
    std::copy(start.begin(), start.end(), s.depth.data());
    for (auto _ : bench) {
        benchmark::DoNotOptimize(route(s, 5.0));
        s.ade_state.sweep_order = s.ade_state.sweep_order == 1 ? 2 : 1;
        bench.PauseTiming();
        std::copy(start.begin(), start.end(), s.depth.data());
        bench.ResumeTiming();
    }
    bench.counters["cell_updates"] = benchmark::Counter(
        static_cast<double>(s.cell_count) * static_cast<double>(bench.iterations()),
        benchmark::Counter::kIsRate);
}

// Collects the rates and prints new / reference per scheme, grid and size; with
// repetitions the fastest run of each counts.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const auto it = run.counters.find("cell_updates");
            if (it == run.counters.end()) continue;
            double &best = rates_[run.benchmark_name()];
            best = std::max(best, static_cast<double>(it->second));
        }
    }
    void print_ratios() const {
        std::printf("\nnew / reference (fastest of the repetitions, M cell updates/s):\n");
        for (const auto &[name, rate] : rates_) {
            const std::size_t p = name.find("/new/");
            if (p == std::string::npos) continue;
            std::string ref = name;
            ref.replace(p, 5, "/reference/");
            const auto r = rates_.find(ref);
            if (r == rates_.end() || !(r->second > 0.0)) continue;
            std::string label = name;
            label.erase(p, 4);
            std::printf("  %-32s new %8.2f  reference %8.2f  ratio %5.2f\n", label.c_str(), rate / 1e6,
                        r->second / 1e6, rate / r->second);
        }
    }

private:
    std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char **argv) {
    for (const scheme &sc : schemes) {
        for (int kind = wet; kind <= basin; ++kind) {
            for (int version = 0; version < 2; ++version) {
                const std::string name = std::string(sc.name) + "/" + (version ? "reference" : "new") +
                                         "/" + kind_names[kind];
                const overland_route_fn route = version ? sc.reference : sc.current;
                const auto k = static_cast<grid_kind>(kind);
                const bool reference = version != 0;
                benchmark::RegisterBenchmark(name.c_str(), [route, k, reference](benchmark::State &st) {
                    run_step(st, route, k, reference);
                })
                    ->Arg(316)
                    ->Arg(1000)
                    ->Arg(2000)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
