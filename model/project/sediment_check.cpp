// Sediment store volumes from the state and the per-piece comparison with each
// class's ledger. run_time_loop calls it after each piece in debug builds.
#include "model/project/sediment_check.h"

#include <cstdio>

#include "model/core/errors.h"
#include "model/core/model_state.h"
#include "model/core/sediment_ledger.h"

namespace {

using n = ledger_node;

constexpr std::array<ledger_node, 4> sediment_stores = {n::surface, n::loose_soil, n::channels,
                                                        n::channel_bed};

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Column k of a [cell][class] block, summed over the cells.
double column_sum(const array_2d<double> &a, int cells, int k) {
    if (a.empty() || at(k) > a.cols()) return 0.0;
    double v = 0.0;
    for (int i = 1; i <= cells && at(i) <= a.rows(); ++i) v += a[at(i)][at(k)];
    return v;
}

// Element j of every computational node's row of a channel store, summed.
double node_sum(const model_state &s, const array_3d<double> &a, int j) {
    const channel_network &net = s.channels;
    if (a.empty() || j < 0 || at(j) > a.extent3()) return 0.0;
    double v = 0.0;
    for (int l = 1; l <= net.link_count && at(l) <= a.extent2(); ++l)
        for (int nd = 1; nd <= net.comp_node_count[at(l)] && at(nd) <= a.extent1(); ++nd)
            v += a[at(nd)][at(l)][at(j)];
    return v;
}

// Ledger 0 keeps the bed material alone; the classes keep the other stores.
bool keeps(int k, ledger_node store) { return (k == 0) == (store == n::channel_bed); }

bool eroding(const model_state &s) {
    return s.erosion.soil_erosion && s.sediment.class_count > 0 && !s.sediment.deposited.empty();
}

// The relative part of a break beyond rounding, and its absolute part (m3).
constexpr double relative_rounding = 1e-9;
constexpr double absolute_rounding = 1e-12;

// "class 2 (sand)" or "channel bed material".
void describe(const model_state &s, int k, char *text, std::size_t size) {
    const sediment_record &r = s.sediment;
    if (k == 0) {
        std::snprintf(text, size, "channel bed material");
        return;
    }
    const double d = at(k) < r.classes.size() ? r.classes[at(k)].diameter : 0.0;
    const char *group = d >= r.sand_size ? "sand" : d < r.clay_size ? "clay" : "silt";
    std::snprintf(text, size, "sediment of class %d (%s)", k, group);
}

}  // namespace

double store_sediment(const model_state &s, int k, ledger_node store) {
    const sediment_record &r = s.sediment;
    const channel_work &cw = s.chan;
    if (k == 0) {
        if (store != n::channel_bed) return 0.0;
        double classes = 0.0;
        for (int j = 1; j <= r.sand_count; ++j) classes += node_sum(s, cw.ch_sand_vol, j);
        return node_sum(s, cw.ch_sand_vol, 0) - classes;
    }
    switch (store) {
        case n::surface: return column_sum(r.suspended, s.cell_count, k);
        case n::loose_soil: return column_sum(r.deposited, s.cell_count, k);
        case n::channels:
            return k <= r.wash_count ? node_sum(s, cw.ch_wash_vol, k)
                                     : node_sum(s, cw.ch_sand_vol, k - r.wash_count);
        default: return 0.0;
    }
}

void start_sediment_check(const model_state &s, sediment_check &check) {
    check.ledgers.assign(eroding(s) ? at(s.sediment.class_count) + 1 : 0, ledger_check::book{});
    check.first = 0;
    check.relative_rounding = relative_rounding;
    check.absolute_rounding = absolute_rounding;
    for (int k = 0; at(k) < check.ledgers.size(); ++k)
        for (ledger_node store : sediment_stores)
            if (keeps(k, store))
                take_store(check.ledgers[at(k)], store, store_sediment(s, k, store), sediment_ledger(s, k));
}

bool check_sediment_after(const model_state &s, sediment_check &check, const char *piece) {
    return check_ledgers(
        check, [&s](int k, ledger_node store) { return store_sediment(s, k, store); },
        [&s](int k) -> const water_ledger & { return sediment_ledger(s, k); },
        [&s, piece](int k, ledger_node store, double difference) {
            char what[64];
            describe(s, k, what, sizeof what);
            std::printf("Error: the %s in the %s changed by %.6e m3 more than was posted in the "
                        "time-step piece %s.\n",
                        what, ledger_node_name(store), difference, piece);
            raise_printed_error();
        });
}
