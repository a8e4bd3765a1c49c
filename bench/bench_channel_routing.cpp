// Speed of the channel routing step beside its reference copy (bench/reference)
// on a single link of 2,000 nodes and on a binary tree of 400 links of 5 nodes,
// both with lateral inflow at every node, and on a link of 400 nodes fed only by
// a point inflow at its first node; a Courant limit splits each
// step into several sub-steps (the tree's outlet links, by their diffusion number,
// into more; the routing lets the other links take longer sub-steps of their own,
// the reference makes every link take the shortest). Every iteration starts from
// the same state (restored untimed). Reported as node sub-steps per second of the
// split of every link at the shortest sub-step, so the ratio new / reference
// printed after the runs is the ratio of their times per step, both measured in
// this process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_ratios.h"
#include "bench/reference/ex_flow_route_reference.h"
#include "model/channel/ex_flow_route.h"
#include "tests/model/channel/routing_network.h"

namespace {

using route_fn = int (*)(model_state &, double, double);

struct network_case {
    const char *name;
    void (*build)(model_state &);
    double dt, c_lim;
    double lateral = 0.002;   // lateral inflow of every node, m2/s
    double node_1_inflow = 0.0;  // point inflow at node 1 of link 1, m3/s
};

const network_case networks[] = {
    {"link_2000", [](model_state &s) { routing_test::trapezoid_link(s, 2000, 100.0, 5.0, 2.0, 0.03, 0.001, 300.0, 0.6); },
     60.0, 0.4},
    {"tree_400x5", [](model_state &s) { routing_test::tree_network(s, 400, 5, 80.0, 0.002, 0.5); },
     60.0, 0.45},
    // 40 km near its normal depth for 2.4 m3/s (0.6 m).
    {"link_400_fed", [](model_state &s) { routing_test::trapezoid_link(s, 400, 100.0, 5.0, 2.0, 0.03, 0.001, 300.0, 0.6); },
     60.0, 0.4, 0.0, 2.4},
};

// Sub-steps the routing makes from this state: the split of the first sub-step by
// its Courant and diffusion numbers (the depths change too little within a step to
// split again).
int substeps(const model_state &s, double dt, double c_lim) {
    const channel_network &net = s.channels;
    const channel_work &w = s.chan;
    double cmax = 0.0, dmax = 0.0;
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= net.comp_node_count[l]; ++n) {
            cmax = std::max(cmax, std::sqrt(9.81 * std::max(w.chan_depth[n][l], 0.0)) * dt / net.dx[l]);
            if (n == net.comp_node_count[l] || !(w.area[n][l] > 0.0 && w.chan_depth[n][l] > 0.0)) continue;
            const double t = w.area[n][l] / w.chan_depth[n][l];
            double drop = std::fabs(net.yp[n][l] - net.yp[n + 1][l]);
            if (n > 1) drop = std::min(drop, 0.5 * std::fabs(net.yp[n - 1][l] - net.yp[n + 1][l]));
            if (n + 1 < net.comp_node_count[l]) drop = std::min(drop, 0.5 * std::fabs(net.yp[n][l] - net.yp[n + 2][l]));
            const double slope = std::max(drop, 1e-6 * net.dx[l]) / net.dx[l];
            dmax = std::max(dmax, std::fabs(net.qp[n][l]) / (2.0 * t * slope) * dt / (net.dx[l] * net.dx[l]));
        }
    const double split = std::max(cmax / c_lim, dmax / 0.5);
    return split >= 1.0 ? static_cast<int>(split + 1.0) : 1;
}

struct saved_state {
    std::vector<double> area, depth, wse, q, conv;
};

void save(array_2d<double> &a, std::vector<double> &to) {
    to.assign(a.data(), a.data() + (a.rows() + 1) * (a.cols() + 1));
}
void restore(array_2d<double> &a, const std::vector<double> &from) {
    std::copy(from.begin(), from.end(), a.data());
}

void run_routing(benchmark::State &bench, route_fn route, const network_case &c) {
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    c.build(s);
    channel_network &net = s.channels;
    // Warm up to a flowing state with the lateral inflow of the runs.
    auto feed = [&] {
        for (int l = 1; l <= net.link_count; ++l)
            for (int n = 1; n <= net.comp_node_count[l]; ++n) s.chan.qlat[n][l] = c.lateral;
        s.chan.chan_point_Q[1][1] = c.node_1_inflow;
    };
    for (int i = 0; i < 20; ++i) {
        feed();
        route(s, c.dt, c.c_lim);
    }
    saved_state start;
    save(s.chan.area, start.area);
    save(s.chan.chan_depth, start.depth);
    save(net.yp, start.wse);
    save(net.qp, start.q);
    save(s.chan.conv, start.conv);
    long long nodes = 0;
    for (int l = 1; l <= net.link_count; ++l) nodes += net.comp_node_count[l];
    const int per_step = substeps(s, c.dt, c.c_lim);
    for (auto _ : bench) {
        feed();
        benchmark::DoNotOptimize(route(s, c.dt, c.c_lim));
        bench.PauseTiming();
        restore(s.chan.area, start.area);
        restore(s.chan.chan_depth, start.depth);
        restore(net.yp, start.wse);
        restore(net.qp, start.q);
        restore(s.chan.conv, start.conv);
        bench.ResumeTiming();
    }
    bench.counters["substeps_per_step"] = per_step;
    bench.counters["node_substeps"] = benchmark::Counter(
        static_cast<double>(nodes * per_step) * static_cast<double>(bench.iterations()),
        benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char **argv) {
    for (const network_case &c : networks) {
        for (int version = 0; version < 2; ++version) {
            const std::string name = std::string(c.name) + (version ? "/reference" : "/new");
            const route_fn route = version ? reference::ex_flow_route_step : ex_flow_route_step;
            const network_case *pc = &c;
            benchmark::RegisterBenchmark(name.c_str(), [route, pc](benchmark::State &st) {
                run_routing(st, route, *pc);
            })->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter("node_substeps", "M node sub-steps/s", false);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
