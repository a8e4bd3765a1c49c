// The water ledger's names and its sums over a node's flows; the postings
// themselves are inline in the header, as every time-step piece makes them.
#include "model/core/water_ledger.h"

namespace {

constexpr std::array<const char *, ledger_node_count> node_names = {
    "surface",           "overland lakes",     "channels",          "channel lakes",
    "snow",              "canopy",             "wetting-front soil", "root zone",
    "Richards columns",  "aquifer",            "pipe network",      "Sacramento stores",
    "Sacramento runoff in transit",
    "atmosphere",        "point sources",      "outlet",            "overland boundary",
    "deep aquifer",      "wells",              "head boundaries",   "water table",
    "overland clean-up",
    "aquifer floor",     "channel area floor", "pipe depth bounds", "pipe start floors",
    "Richards content limits",
    "land pool",         "mass from the cells to the channels", "mass from the cells to the lakes",
    "decay",             "mass clean-up",
    "loose soil",        "channel bed",        "parent soil",
};

}  // namespace

const char *ledger_node_name(ledger_node node) {
    const std::size_t k = static_cast<std::size_t>(node);
    return k < ledger_node_count ? node_names[k] : "unknown";
}

double water_ledger::net_into(ledger_node node) const {
    // Read through a pointer: the debug builds take this after every piece.
    const std::size_t k = static_cast<std::size_t>(node);
    const double *moved = totals_.moved.data();
    const double *row = moved + k * ledger_node_count;
    double in = 0.0, out = 0.0;
    for (std::size_t other = 0; other < ledger_node_count; ++other) {
        in += moved[other * ledger_node_count + k];
        out += row[other];
    }
    return in - out;
}
