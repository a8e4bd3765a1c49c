// The console reporter of the benchmark programs that compare a current kernel
// ("<case>/new") with its reference ("<case>/reference"): it keeps the fastest
// rate of a named counter per benchmark over the repetitions and prints
// new / reference per case after the runs (with the time per cell when asked).
#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class ratio_reporter : public benchmark::ConsoleReporter {
public:
    ratio_reporter(const char *counter, const char *unit, bool time_per_cell)
        : counter_(counter), unit_(unit), time_per_cell_(time_per_cell) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const auto it = run.counters.find(counter_);
            if (it == run.counters.end()) continue;
            double &best = rates_[run.benchmark_name()];
            best = std::max(best, static_cast<double>(it->second));
        }
    }

    void print_ratios() const {
        std::printf("\nnew / reference (fastest of the repetitions, %s%s):\n", unit_,
                    time_per_cell_ ? "; ns per cell" : "");
        for (const auto &[name, rate] : rates_) {
            const std::size_t p = name.find("/new");
            if (p == std::string::npos) continue;
            std::string ref = name;
            ref.replace(p, 4, "/reference");
            const auto r = rates_.find(ref);
            if (r == rates_.end() || !(r->second > 0.0)) continue;
            std::printf("  %-20s new %8.2f  reference %8.2f  ratio %6.2f", name.substr(0, p).c_str(),
                        rate / 1e6, r->second / 1e6, rate / r->second);
            if (time_per_cell_) std::printf("  ns per cell %6.2f / %8.2f", 1e9 / rate, 1e9 / r->second);
            std::printf("\n");
        }
    }

private:
    const char *counter_, *unit_;
    bool time_per_cell_;
    std::map<std::string, double> rates_;
};
