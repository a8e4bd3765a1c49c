// The checker that the debug and sanitizer builds run over the run's ledgers
// after every time-step piece: the water ledger, each constituent's mass ledger
// and each soil class's sediment ledger. The water, mass and sediment checks give
// it their stores, the amount of each store as the state holds it, and their message.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "model/core/water_ledger.h"

// Per ledger: the stores it checks and, for each, the amount the state held, the
// ledger's net into it and its start, as the last piece left them.
struct ledger_check {
    struct book {
        std::array<double, ledger_node_count> amount{}, posted{}, start{};
        std::array<ledger_node, ledger_node_count> stores{};
        std::size_t store_count = 0;
    };
    std::vector<book> ledgers;  // ledger first, first + 1, ...
    int first = 0;
    // A break is beyond rounding when it exceeds relative x (the amounts and the
    // flow) + absolute.
    double relative_rounding = 1e-9, absolute_rounding = 1e-9;
};

// Ledger j's store as the state holds it now, before the first piece.
inline void take_store(ledger_check::book &b, ledger_node store, double amount, const water_ledger &ledger) {
    const std::size_t i = static_cast<std::size_t>(store);
    b.stores[b.store_count++] = store;
    b.amount[i] = amount;
    b.posted[i] = ledger.net_into(store);
    b.start[i] = ledger.start(store);
}

// After a piece: every store of every ledger must have changed by the net of what
// was posted to it (a store's start, set by its owner when it first fills the
// store, is no flow). `amount(k, store)` forms a store's amount from the state,
// `ledger_of(k)` gives ledger k, and `report(k, store, difference)` prints the
// message of the first store beyond rounding and raises the error; false then.
template <class Amount, class LedgerOf, class Report>
bool check_ledgers(ledger_check &check, Amount amount, LedgerOf ledger_of, Report report) {
    for (std::size_t j = 0; j < check.ledgers.size(); ++j) {
        ledger_check::book &b = check.ledgers[j];
        const int k = check.first + static_cast<int>(j);
        const water_ledger &ledger = ledger_of(k);
        for (std::size_t m = 0; m < b.store_count; ++m) {
            const ledger_node store = b.stores[m];
            const std::size_t i = static_cast<std::size_t>(store);
            const double now = amount(k, store);
            const double posted = ledger.net_into(store);
            const double flow = posted - b.posted[i] + (ledger.start(store) - b.start[i]);
            const double difference = now - b.amount[i] - flow;
            const double scale = std::fabs(now) + std::fabs(b.amount[i]) + std::fabs(flow);
            b.amount[i] = now;
            b.posted[i] = posted;
            b.start[i] = ledger.start(store);
            if (std::fabs(difference) <= check.relative_rounding * scale + check.absolute_rounding) continue;
            report(k, store, difference);
            return false;
        }
    }
    return true;
}
