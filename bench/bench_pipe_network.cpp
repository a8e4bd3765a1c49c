// Cost of one pipe-network step against the number of junctions, on the
// dendritic test network (tests/model/pipes/pipe_tree.h) of 50 to 800
// junctions filling from its inlets, with the sparse junction solve and with
// every step solved densely. After the runs the cost per doubling of the
// junctions is printed (2 is linear). The console report of each step goes to
// /dev/null.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "tests/model/pipes/pipe_tree.h"

namespace {

constexpr int steps_timed = 200;

void run_steps(benchmark::State &bench, bool dense) {
    const int J = static_cast<int>(bench.range(0));
    const std::filesystem::path old = std::filesystem::current_path();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench_pipes_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "slink");
    std::filesystem::create_directories(dir / "debug");
    std::filesystem::current_path(dir);
    reset_process_globals();
    clear_error_state();
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    if (!pipe_tree::load(s, J)) {
        bench.SkipWithError("the network could not be read");
        return;
    }
    s.superlink_work.dense_only = dense;
    for (int i = 0; i < 50; ++i) pipe_tree::step(s, 30.0);  // fill the tree
    for (auto _ : bench) benchmark::DoNotOptimize(pipe_tree::step(s, 30.0));
    s.superlink_work.close_files();
    std::filesystem::current_path(old);
    std::filesystem::remove_all(dir);
}

// Prints the cost per doubling of each solve from the step times.
class doubling_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const double t = run.GetAdjustedCPUTime();
            double &best = times_[run.run_name.function_name][std::stoi(run.run_name.args)];
            if (best == 0.0 || t < best) best = t;
        }
    }
    void print_doublings(std::FILE *out) const {
        std::fprintf(out, "\nstep time (us) and its factor per doubling of the junctions (2 is linear):\n");
        for (const auto &[solve, by_j] : times_) {
            std::fprintf(out, "  %s:", solve.c_str());
            double last = 0.0;
            for (const auto &[j, t] : by_j) {
                std::fprintf(out, "  J=%d %.1f", j, t / 1e3);
                if (last > 0.0) std::fprintf(out, " (x%.2f)", t / last);
                last = t;
            }
            std::fprintf(out, "\n");
        }
    }

private:
    std::map<std::string, std::map<int, double>> times_;
};

}  // namespace

int main(int argc, char **argv) {
    // The step's console report goes nowhere; the benchmark's own lines go to
    // the original standard output.
    std::fflush(stdout);
    const int console_fd = dup(1);
    std::FILE *console = console_fd >= 0 ? fdopen(console_fd, "w") : nullptr;
    if (!console || !std::freopen("/dev/null", "w", stdout)) return 1;
    std::ofstream console_stream("/proc/self/fd/" + std::to_string(console_fd));
    // The same 200 steps after the fill in every run: the tree's state moves on
    // with every step, so a run that chose its own count would time other states.
    benchmark::RegisterBenchmark("pipe_step/sparse", [](benchmark::State &st) { run_steps(st, false); })
        ->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Arg(800)->Iterations(steps_timed)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("pipe_step/dense", [](benchmark::State &st) { run_steps(st, true); })
        ->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Iterations(steps_timed)->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    doubling_reporter reporter;
    reporter.SetOutputStream(&console_stream);
    reporter.SetErrorStream(&console_stream);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    console_stream.flush();
    reporter.print_doublings(console);
    std::fclose(console);
    benchmark::Shutdown();
    return 0;
}
