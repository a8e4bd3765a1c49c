// Constituent store masses from the state and the per-piece comparison with each
// constituent's ledger. run_time_loop calls it after each piece in debug builds.
#include "model/project/mass_check.h"

#include <cstdio>

#include "model/constituents/lake_constituents.h"
#include "model/constituents/pipe_constituents.h"
#include "model/core/mass_ledger.h"
#include "model/core/errors.h"
#include "model/core/model_state.h"
#include "model/output/contaminant_summaries.h"

namespace {

using n = ledger_node;
namespace tt = transport_table;

constexpr std::array<ledger_node, 9> mass_stores = {n::surface,        n::land_pool,         n::overland_lakes,
                                                    n::channels,       n::channel_lakes,     n::cells_to_channels,
                                                    n::cells_to_lakes, n::snow,              n::pipes};

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Sum over the cells of row k of a transport table (g).
double row_sum(const model_state &s, int table, int k) {
    const double_table &t = s.transport_tables[at(table)];
    if (k < 1 || k > t.rows()) return 0.0;
    const double *row = table_value(k, t);
    if (!row) return 0.0;
    const int cells = s.cell_count < t.columns() ? s.cell_count : t.columns();
    double sum = 0.0;
    for (int i = 1; i <= cells; ++i) sum += row[i];
    return sum;
}

bool channels_carry(const model_state &s, int k) {
    const array_3d<double> &m = s.chan.chan_node_mass;
    return s.chan_con_trans && s.channels.link_count > 0 && !m.empty() && at(k) <= m.extent1();
}

// Mass the stream cells gave that the channel nodes have not yet taken (g): what
// waits at the nodes less what the cells still owe.
double on_way_to_channels(const model_state &s, int k) {
    const array_3d<double> &q = s.chan.chan_qlat_mass;
    if (!channels_carry(s, k) || q.empty() || at(k) > q.extent1()) return 0.0;
    double sum = 0.0;
    for (std::size_t j = 1; j <= q.extent2(); ++j)
        for (std::size_t l = 1; l <= q.extent3(); ++l) sum += q[at(k)][j][l];
    return sum - (s.chan_explicit ? row_sum(s, tt::lateral_mass, k) : 0.0);
}

double row_of(const array_2d<double> &a, int k, int count) {
    if (a.empty() || at(k) > a.rows()) return 0.0;
    double sum = 0.0;
    for (int j = 1; j <= count && at(j) <= a.cols(); ++j) sum += a[at(k)][at(j)];
    return sum;
}

// The relative part of a break beyond rounding, and its absolute part (kg).
constexpr double relative_rounding = 1e-9;
constexpr double absolute_rounding = 1e-9;

bool carried(const model_state &s) {
    return (s.ov_con_trans_mode || s.chan_con_trans) && s.constituent_count > 0;
}

}  // namespace

double store_mass(const model_state &s, int k, ledger_node store) {
    double g = 0.0;
    switch (store) {
        case n::surface:
            if (s.ov_con_trans_mode) g = row_sum(s, tt::mass, k) - row_sum(s, tt::rain_mass, k);
            break;
        case n::land_pool:
            if (s.ov_con_trans_mode) g = row_sum(s, tt::land_pool, k) + row_sum(s, tt::release_accumulator, k);
            break;
        case n::snow:
            if (s.ov_con_trans_mode) g = row_sum(s, tt::snow_mass, k);
            break;
        case n::overland_lakes: g = overland_lake_constituent_mass(s, k); break;
        case n::channels: g = channels_carry(s, k) ? channel_constituent_mass(s, k) : 0.0; break;
        case n::channel_lakes: g = lake_constituent_mass(s, k); break;
        case n::cells_to_channels: g = on_way_to_channels(s, k); break;
        case n::cells_to_lakes: g = row_of(s.chan.lake_ov_inflow_mass, k, s.channels.lake_count); break;
        case n::pipes: return pipe_constituent_mass(s, k);
        default: break;
    }
    return g / 1000.0;
}

void start_mass_check(const model_state &s, mass_check &check) {
    check.ledgers.assign(carried(s) ? at(s.constituent_count) : 0, ledger_check::book{});
    check.first = 1;
    check.relative_rounding = relative_rounding;
    check.absolute_rounding = absolute_rounding;
    for (int k = 1; at(k) <= check.ledgers.size(); ++k)
        for (ledger_node store : mass_stores)
            take_store(check.ledgers[at(k - 1)], store, store_mass(s, k, store), mass_ledger(s, k));
}

bool check_mass_after(const model_state &s, mass_check &check, const char *piece) {
    return check_ledgers(
        check, [&s](int k, ledger_node store) { return store_mass(s, k, store); },
        [&s](int k) -> const water_ledger & { return mass_ledger(s, k); },
        [&s, piece](int k, ledger_node store, double difference) {
            std::printf("Error: the mass of %s in the %s changed by %.6f kg more than was posted in "
                        "the time-step piece %s.\n",
                        contaminant_display_name(s, k).c_str(), ledger_node_name(store), difference, piece);
            raise_printed_error();
        });
}
